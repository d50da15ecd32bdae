#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/log.h"
#include "test_support.h"

namespace {

clock_time g_fake_now;
clock_time fake_clock()
{
    return g_fake_now;
}

// A clock that moves 1 ms each time it is read.
long g_ticking_ms = 0;
clock_time ticking_clock()
{
    long ms = g_ticking_ms++;
    clock_time t;
    t.sec = ms / 1000;
    t.usec = ms % 1000 * 1000;
    return t;
}

struct log_fixture : ::testing::Test {
    test::temp_dir dir;
    test::scoped_env no_file{"VORN_LOGFILE", nullptr};
    test::scoped_env no_flags{"VORN_LOGFILE_FLAGS", nullptr};
    test::scoped_env no_options{"VORN_OPTIONS", nullptr};
    void SetUp() override
    {
        log_reset_for_tests();
        options_reset_for_tests();
        g_fake_now = clock_time{};
        g_platform_hooks.clock_source = fake_clock;
    }
    void TearDown() override
    {
        log_reset_for_tests();
        options_reset_for_tests();
        g_platform_hooks = platform_hooks{};
    }
};

TEST_F(log_fixture, prefix_gives_hours_minutes_seconds_and_hundredths)
{
    std::string path = dir / "log.txt";
    test::scoped_env env("VORN_LOGFILE", path.c_str());
    g_fake_now = clock_time{3725, 370000};
    log_printf("engine %d\n", 7);
    log_close();
    EXPECT_EQ(test::read_file(path), "[1:02:05.37] Logfile \"" + path +
                                         "\" opened\n"
                                         "[1:02:05.37] VORN 0.31\n"
                                         "[1:02:05.37] engine 7\n");
}

TEST_F(log_fixture, first_message_names_the_file_and_is_not_written)
{
    std::string path = dir / "lastlog.txt";
    log_printf("VORN_LOGFILE=%s", path.c_str());
    log_printf("one\n");
    log_printf("\x13 hidden\n");  // a message starting with byte 19 is never written
    log_printf("two");
    log_printf("\n");
    log_close();
    log_printf("after close\n");  // must not reopen (and truncate) the file
    EXPECT_EQ(test::read_file(path), "[0:00:00.00] Logfile \"" + path +
                                         "\" opened\n[0:00:00.00] VORN 0.31\n"
                                         "[0:00:00.00] one\n[0:00:00.00] two[0:00:00.00] \n");
}

TEST_F(log_fixture, environment_name_wins_over_the_first_message)
{
    std::string env_path = dir / "env.txt";
    std::string msg_path = dir / "msg.txt";
    test::scoped_env env("VORN_LOGFILE", env_path.c_str());
    log_printf("VORN_LOGFILE=%s", msg_path.c_str());
    log_printf("x\n");
    log_close();
    EXPECT_FALSE(test::file_exists(msg_path));
    std::string text = test::read_file(env_path);
    EXPECT_EQ(text.find("VORN_LOGFILE="), std::string::npos);
    EXPECT_NE(text.find("] x\n"), std::string::npos);
}

TEST_F(log_fixture, append_and_replace_prefixes)
{
    std::string path = dir / "log.txt";
    test::write_file(path, "old\n");
    {
        std::string name = ">>" + path;
        test::scoped_env env("VORN_LOGFILE", name.c_str());
        log_printf("appended\n");
        log_close();
    }
    std::string text = test::read_file(path);
    EXPECT_EQ(text.rfind("old\n[0:00:00.00] Logfile \"" + path + "\" opened\n", 0), 0u) << text;
    EXPECT_NE(text.find("] appended\n"), std::string::npos);

    log_reset_for_tests();
    {
        std::string name = ">" + path;
        test::scoped_env env("VORN_LOGFILE", name.c_str());
        log_printf("fresh\n");
        log_close();
    }
    text = test::read_file(path);
    EXPECT_EQ(text.find("old"), std::string::npos);
    EXPECT_NE(text.find("] fresh\n"), std::string::npos);

    // VORN_LOGFILE_FLAGS replaces the mode the name implies.
    log_reset_for_tests();
    {
        test::scoped_env env("VORN_LOGFILE", path.c_str());
        test::scoped_env flags("VORN_LOGFILE_FLAGS", "a");
        log_printf("kept\n");
        log_close();
    }
    text = test::read_file(path);
    EXPECT_NE(text.find("] fresh\n"), std::string::npos);
    EXPECT_NE(text.find("] kept\n"), std::string::npos);
}

TEST_F(log_fixture, nothing_is_written_without_a_name)
{
    // The first message is ordinary: the log is initialised with no file.
    log_printf("first\n");
    std::string path = dir / "late.txt";
    test::scoped_env env("VORN_LOGFILE", path.c_str());
    log_printf("VORN_LOGFILE=%s", path.c_str());
    log_printf("second\n");
    log_close();
    EXPECT_FALSE(test::file_exists(path));
}

TEST_F(log_fixture, errors_are_logged_and_remembered)
{
    std::string path = dir / "log.txt";
    test::scoped_env env("VORN_LOGFILE", path.c_str());
    EXPECT_STREQ(last_error(), "Unknown");
    log_error("disk on fire");
    EXPECT_STREQ(last_error(), "disk on fire");
    log_close();
    EXPECT_NE(test::read_file(path).find("] Error: disk on fire\n"), std::string::npos);
}

TEST_F(log_fixture, lines_from_several_threads_stay_whole)
{
    std::string path = dir / "log.txt";
    test::scoped_env env("VORN_LOGFILE", path.c_str());
    log_printf("start\n");
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; t++)
        threads.emplace_back([t] {
            for (int i = 0; i < 200; i++)
                log_printf("thread %d line %d %s\n", t, i, std::string(300, 'a' + t).c_str());
        });
    for (auto& th : threads)
        th.join();
    log_close();
    std::string text = test::read_file(path);
    size_t lines = 0, at = 0;
    while ((at = text.find('\n', at)) != std::string::npos) {
        size_t start = text.rfind('\n', at - 1);
        start = start == std::string::npos ? 0 : start + 1;
        std::string line = text.substr(start, at - start);
        ASSERT_EQ(line.rfind("[0:00:00.00] ", 0), 0u) << line;
        if (line.find(" thread ") != std::string::npos) {
            char c = line[line.size() - 1];
            EXPECT_EQ(line.find_first_not_of(c, line.size() - 300), std::string::npos) << line;
            lines++;
        }
        at++;
    }
    EXPECT_EQ(lines, 800u);
}

TEST_F(log_fixture, options_are_read_from_the_environment)
{
    std::string path = dir / "log.txt";
    test::scoped_env env("VORN_LOGFILE", path.c_str());
    test::scoped_env options("VORN_OPTIONS",
                             "x[waveout:off][sound-rate:fast] [dsnd:maybe][threaded:yes]"
                             "[fullscreen:on][sound-mixahead:-40][sound-channels: 8]");
    EXPECT_EQ(option_flag("waveout", 1), 0);
    EXPECT_EQ(option_flag("threaded", 0), 1);
    EXPECT_EQ(option_flag("fullscreen", 0), 1);
    EXPECT_EQ(option_flag("dsnd", 1), 1);        // unrecognised: default
    EXPECT_EQ(option_flag("dinput", 1), 1);      // absent: default, no message
    EXPECT_EQ(option_int("sound-rate", 22050), 22050);
    EXPECT_EQ(option_int("sound-mixahead", 125), -40);
    EXPECT_EQ(option_int("sound-channels", 16), 8);
    EXPECT_EQ(option_int("sound", 5), 5);        // "[sound:" is not "[sound-rate:"
    log_close();
    std::string text = test::read_file(path);
    EXPECT_NE(text.find("] unrecognized setting for sound-rate\n"), std::string::npos);
    EXPECT_NE(text.find("] unrecognized setting for dsnd\n"), std::string::npos);
    EXPECT_EQ(text.find("dinput"), std::string::npos);

    // Read once: a later change of the environment is not seen.
    test::scoped_env changed("VORN_OPTIONS", "[waveout:on]");
    EXPECT_EQ(option_flag("waveout", 1), 0);
}

TEST_F(log_fixture, clock_is_whole_milliseconds_and_monotonic)
{
    g_platform_hooks.clock_source = nullptr;
    clock_time a = clock_now();
    clock_time b = clock_now();
    EXPECT_EQ(a.usec % 1000, 0);
    EXPECT_TRUE(a.usec >= 0 && a.usec < 1000000);
    EXPECT_TRUE(b.sec > a.sec || (b.sec == a.sec && b.usec >= a.usec));
    EXPECT_NEAR(clock_seconds(), (double)b.sec + b.usec * 1e-6, 1.0);
}

TEST_F(log_fixture, sleep_wakes_on_the_controlled_clock)
{
    g_ticking_ms = 5000;
    g_platform_hooks.clock_source = ticking_clock;
    clock_time late = sleep_for(0, 3000);
    // Started at 5000 ms, wakes at 5003: the clock read at least once more.
    EXPECT_EQ(late.sec, 0);
    EXPECT_EQ(late.usec, 0);
    EXPECT_GE(g_ticking_ms, 5004);

    g_platform_hooks.clock_source = nullptr;
    clock_time before = clock_now();
    late = sleep_for(0, 20000);
    clock_time after = clock_now();
    long waited = (after.sec - before.sec) * 1000 + (after.usec - before.usec) / 1000;
    EXPECT_GE(waited, 20);
    EXPECT_LT(late.sec, 1);
}

TEST_F(log_fixture, message_box_falls_back_to_standard_error)
{
    ::testing::internal::CaptureStderr();
    message_box("Problem starting Kessrig", "Can't find game data%s", "\n");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "Problem starting Kessrig: Can't find game data\n\n");

    static std::string shown;
    g_platform_hooks.show_message_box = [](const char* title, const char* text) {
        shown = std::string(title) + "|" + text;
        return true;
    };
    ::testing::internal::CaptureStderr();
    message_box("T", "%0*d", 2000, 1);  // at most 1023 characters
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(shown.size(), 2u + 1023u);
}

}  // namespace
