#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "files/memory.h"
#include "test_support.h"

namespace {

// Runs with KZ_CHECK_ALLOC as given, and leaves checking undecided again.
struct checking_scope {
    test::scoped_env env;
    explicit checking_scope(const char* value) : env("KZ_CHECK_ALLOC", value) { mem_reset_for_tests(); }
    ~checking_scope() { mem_reset_for_tests(); }
};

std::string pointer_text(const void* p)
{
    char buf[64];
    snprintf(buf, sizeof buf, "%p", p);
    return buf;
}

}  // namespace

TEST(memory, unchecked_wrappers_forward_to_the_system)
{
    for (const char* value : {(const char*)nullptr, "0", "-3", "abc"}) {
        checking_scope scope(value);
        ::testing::internal::CaptureStderr();
        void* p = mem_alloc(16);
        ASSERT_NE(p, nullptr);
        p = mem_realloc(p, 4096);
        ASSERT_NE(p, nullptr);
        mem_free(p);
        // An allocation the wrappers never saw is simply freed.
        mem_free(malloc(8));
        mem_report();
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    }
}

TEST(memory, zero_sized_requests_still_give_memory)
{
    checking_scope scope(nullptr);
    void* a = mem_alloc(0);
    void* b = mem_calloc(0, 8);
    EXPECT_NE(a, nullptr);
    EXPECT_NE(b, nullptr);
    void* c = mem_realloc(a, 0);
    EXPECT_NE(c, nullptr);
    mem_free(c);
    mem_free(b);
    char* s = mem_strdup("copy me");
    EXPECT_STREQ(s, "copy me");
    mem_free(s);
}

TEST(memory, double_free_is_reported_and_not_repeated)
{
    checking_scope scope("1");
    void* p = mem_alloc(32);
    ASSERT_NE(p, nullptr);
    ::testing::internal::CaptureStderr();
    mem_free(p);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    ::testing::internal::CaptureStderr();
    mem_free(p);  // a second real free would be caught by the sanitizers
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Allocation not found for " + pointer_text(p) + "!\n");

    // A block the wrappers never handed out is reported and left alone.
    void* foreign = malloc(8);
    ::testing::internal::CaptureStderr();
    mem_free(foreign);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Allocation not found for " + pointer_text(foreign) + "!\n");
    free(foreign);
}

TEST(memory, report_lists_live_allocations_with_their_serials)
{
    checking_scope scope("2");
    void* a = mem_alloc(10);
    void* b = mem_calloc(3, 4);
    void* c = mem_alloc(5);
    mem_free(b);
    void* a2 = mem_realloc(a, 100000);
    ::testing::internal::CaptureStderr();
    mem_report();
    std::string report = ::testing::internal::GetCapturedStderr();
    // a (serial 0) became a2 with a new serial 3; b (1) is gone; c is 2.
    EXPECT_EQ(report, pointer_text(c) + ":2\n" + pointer_text(a2) + ":3\n");
    mem_free(a2);
    mem_free(c);
    ::testing::internal::CaptureStderr();
    mem_report();
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

TEST(memory, table_overflow_switches_checking_off)
{
    checking_scope scope("1");
    const size_t table = 1 << 20;
    std::vector<void*> blocks(table + 1);
    ::testing::internal::CaptureStderr();
    for (size_t i = 0; i <= table; i++)
        blocks[i] = mem_alloc(1);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Too many allocations to check!\n");
    // From now on frees go straight to the system, tracked or not.
    ::testing::internal::CaptureStderr();
    for (size_t i = blocks.size(); i-- > 0;)
        mem_free(blocks[i]);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

TEST(memory, working_set_ranges)
{
    const uint64_t mib = 1024 * 1024;
    uint64_t lo = 0, hi = 0;
    ASSERT_TRUE(working_set_range(1024 * mib, &lo, &hi));
    EXPECT_EQ(lo, 1040187392u);
    EXPECT_EQ(hi, 1040187392u);
    ASSERT_TRUE(working_set_range(4096 * mib, &lo, &hi));
    EXPECT_EQ(lo, 1073741824u);
    EXPECT_EQ(hi, 2113929216u);
    ASSERT_TRUE(working_set_range(64 * mib, &lo, &hi));
    EXPECT_EQ(lo, 32 * mib);
    EXPECT_EQ(hi, 32 * mib);
    EXPECT_FALSE(working_set_range(64 * mib - 1, &lo, &hi));
    set_working_set();  // logs only; must not fail on this machine
}
