#include "core/messages.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/log.h"
#include "test_support.h"

namespace {

struct messages_fixture : testing::Test {
    test::temp_dir dir;
    std::string log_path = dir / "log.txt";
    test::scoped_env env{"VORN_LOGFILE", log_path.c_str()};
    void SetUp() override
    {
        log_reset_for_tests();
        clear_messages();
        g_messages.max_visible = 5;
        sim_clock = 0.0;
    }
    void TearDown() override { log_close(); log_reset_for_tests(); }
    // The log without its time-stamp prefixes.
    std::string logged()
    {
        log_close();
        std::string all = test::read_file(log_path), out;
        size_t pos = 0;
        while (pos < all.size()) {
            size_t end = all.find('\n', pos);
            std::string line = all.substr(pos, end == std::string::npos ? std::string::npos : end + 1 - pos);
            pos = end == std::string::npos ? all.size() : end + 1;
            size_t close = line.find("] ");
            if (line.rfind("[", 0) == 0 && close != std::string::npos)
                line = line.substr(close + 2);
            if (line.find("opened") == std::string::npos && line != "VORN 0.31\n")
                out += line;
        }
        return out;
    }
};

}  // namespace

TEST_F(messages_fixture, LogLineEndsOnceAndResetsColours)
{
    add_message("Disconnecting\n");
    add_message("15 second false start penalty");
    add_message("\033[31mred");
    EXPECT_EQ(logged(), "Disconnecting\n15 second false start penalty\n\033[31mred\033[0m\n");
}

TEST_F(messages_fixture, LongMessageCutOnScreenButLoggedWhole)
{
    std::string text(200, 'x');
    add_message("%s", text.c_str());
    ASSERT_NE(visible_message(0), nullptr);
    EXPECT_EQ(std::string(visible_message(0)).size(), 127u);
    EXPECT_EQ(logged(), text + "\n");
}

TEST_F(messages_fixture, VisibleLinesExpireOneEveryFiveSeconds)
{
    for (int i = 0; i < 6; i++)
        add_message("line %d", i);
    EXPECT_EQ(g_messages.visible, 5);
    EXPECT_STREQ(visible_message(0), "line 5");
    EXPECT_STREQ(visible_message(4), "line 1");

    int seen[5];
    int frames = 0;
    // Frames of 1/64 s; record when each line goes.
    for (int gone = 0; gone < 5 && frames < 64 * 40; frames++) {
        sim_clock += 1.0 / 64;
        int before = g_messages.visible;
        expire_messages();
        if (g_messages.visible < before)
            seen[gone++] = frames;
    }
    EXPECT_EQ(g_messages.visible, 0);
    EXPECT_NEAR(seen[0] / 64.0, 2.0, 0.05);
    for (int i = 1; i < 5; i++)
        EXPECT_NEAR((seen[i] - seen[i - 1]) / 64.0, 5.0, 0.05);
}

TEST_F(messages_fixture, RingWrapsAfterAThousandLines)
{
    for (int i = 0; i < 1003; i++)
        add_message("m%d", i);
    EXPECT_EQ(g_messages.next, 3);
    EXPECT_STREQ(visible_message(0), "m1002");
}
