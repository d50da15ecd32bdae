#include "core/console.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "core/config.h"
#include "core/key_frames.h"
#include "core/messages.h"
#include "core/settings.h"
#include "files/datafs.h"
#include "race/demo.h"
#include "race/world.h"
#include "test_support.h"
#include "track/lighting.h"

namespace {

class Console : public ::testing::Test {
protected:
    test::data_dirs_fixture dirs;
    key_frame_list keys;
    track_camera camera;
    console_context c;

    void SetUp() override
    {
        free_file_index();
        clear_messages();
        console_reset();
        config_set_defaults();
        sim_clock = 100;
        c.key_frames = &keys;
        c.free_camera = &camera;
    }
    void TearDown() override
    {
        if (c.w) {
            finish_recording(c.w);
            world_destroy(c.w);
        }
        config_set_defaults();
        free_file_index();
        clear_messages();
    }

    std::string home(const std::string& rel) const { return dirs.home + "/" + rel; }

    // The newest message line.
    const char* reply() { return visible_message(0) ? visible_message(0) : ""; }

    void add_key_at(int tick)
    {
        camera_key k;
        k.tick = tick;
        key_frames_insert(&keys, k);
    }
};

}  // namespace

TEST_F(Console, ChatWithinTwoSecondsIsRefused)
{
    EXPECT_TRUE(run_console_line("hello", c));
    EXPECT_STREQ(reply(), "Not connected to server");
    sim_clock += 1.5;
    EXPECT_FALSE(run_console_line("again", c));
    EXPECT_STREQ(reply(), "No one likes a spammer");
    sim_clock += 2.5;
    EXPECT_TRUE(run_console_line("later", c));
    // Only accepted lines join the history, newest first.
    ASSERT_EQ(console_history_count(), 2);
    EXPECT_STREQ(console_history_line(0), "later");
    EXPECT_STREQ(console_history_line(1), "hello");
    // Unknown commands are not taken and say nothing.
    clear_messages();
    EXPECT_FALSE(run_console_line("/nosuchcommand", c));
    EXPECT_EQ(visible_message(0), nullptr);
    for (int i = 0; i < 150; i++)
        run_console_line("/togglespy", c);
    EXPECT_EQ(console_history_count(), CONSOLE_HISTORY);
}

TEST_F(Console, TogglesAndTuningValues)
{
    EXPECT_TRUE(run_console_line("/togglespy", c));
    EXPECT_STREQ(reply(), "Spy mode ON");
    EXPECT_TRUE(run_console_line("\\togglespy", c));
    EXPECT_STREQ(reply(), "Spy mode OFF");
    EXPECT_FALSE(run_console_line("/togglespy now", c));  // exact commands take nothing more

    EXPECT_TRUE(run_console_line("/fov 500", c));
    EXPECT_STREQ(reply(), "fov set");
    EXPECT_TRUE(run_console_line("/fov", c));
    EXPECT_STREQ(reply(), "Usage: fov <degrees>");
    ASSERT_TRUE(write_config());
    EXPECT_NE(test::read_file(home("config")).find("\nfov=170.000000\n"), std::string::npos);

    EXPECT_TRUE(run_console_line("/mapscale 0.01", c));
    EXPECT_STREQ(reply(), "Map scale set to 0.125000");
    EXPECT_TRUE(run_console_line("/   mapscale junk", c));
    EXPECT_STREQ(reply(), "Map scale set to 0.125000");
    EXPECT_FALSE(run_console_line("/mapscaled 2", c));
    EXPECT_TRUE(run_console_line("/messagelines 3", c));
    EXPECT_STREQ(reply(), "Maximum showing messages is now 3");
    EXPECT_EQ(g_messages.max_visible, 3);
    EXPECT_TRUE(run_console_line("/bbopt 12", c));
    EXPECT_STREQ(reply(), "Billboard optimization window is now 12");
    EXPECT_TRUE(run_console_line("/togglefps", c));
    EXPECT_STREQ(reply(), "FPS display ON");
    EXPECT_EQ(g_settings.draw_fps, 1);

    // Without a track or a watched bike.
    EXPECT_TRUE(run_console_line("/hfvol", c));
    EXPECT_STREQ(reply(), "No track loaded");
    EXPECT_TRUE(run_console_line("/savetrackinfo", c));
    EXPECT_STREQ(reply(), "No track loaded");
    EXPECT_FALSE(run_console_line("/camangle 10 20", c));
    EXPECT_FALSE(run_console_line("/pipe 1 2 3", c));
    EXPECT_TRUE(run_console_line("/sendfile x", c));
    EXPECT_STREQ(reply(), "Not connected to server");
}

TEST_F(Console, KeyFramesDeleteAroundTheCurrentTick)
{
    world* w = world_create();
    c.w = w;
    EXPECT_TRUE(run_console_line("/deletekey", c));
    EXPECT_STREQ(reply(), "No keyframes to delete");

    struct {
        int now, left;
    } cases[] = {{180, 100}, {400, 100}, {50, 300}};
    for (const auto& k : cases) {
        keys.keys.clear();
        add_key_at(100);
        add_key_at(300);
        w->race.tick = k.now;
        EXPECT_TRUE(run_console_line(k.now == 400 ? "/rmkey" : "/deletekey", c));
        EXPECT_STREQ(reply(), "Keyframe deleted");
        ASSERT_EQ(keys.keys.size(), 1u);
        EXPECT_EQ(keys.keys[0].tick, k.left) << "at tick " << k.now;
    }

    // Written and read back; reading stops at the first broken line.
    keys.keys.clear();
    add_key_at(10);
    camera.position = {1, 2, 3};
    w->race.tick = 256;
    EXPECT_TRUE(run_console_line("/addkey", c));
    EXPECT_TRUE(run_console_line("/writekeys  path1 ", c));
    EXPECT_STREQ(reply(), "Camera keys saved");
    keys.keys.clear();
    EXPECT_TRUE(run_console_line("/readkeys path1", c));
    EXPECT_STREQ(reply(), "Camera keys updated");
    ASSERT_EQ(keys.keys.size(), 2u);
    EXPECT_EQ(keys.keys[1].tick, 256);
    EXPECT_FLOAT_EQ(keys.keys[1].position.z, 3.0f);
    test::write_file(home("keycam/broken"), "0 0 0 0 0 0 1 90 5\n1 2 3\n0 0 0 0 0 0 1 90 9\n");
    EXPECT_TRUE(run_console_line("/readkeys broken", c));
    EXPECT_STREQ(reply(), "Error reading camera keys");
    EXPECT_EQ(keys.keys.size(), 1u);
    EXPECT_TRUE(run_console_line("/listkeys", c));
    EXPECT_STREQ(reply(), "pos = { 0.00, 0.00, 0.00 }, rot = { 0.00, 0.00, 0.00, 1.00 }, time = 0.04");

    // Numbers that scan but place no camera break the file there too: the
    // path through the keys read before stays finite.
    for (const char* bad : {"1 nan 3 0 0 0 1 90 9\n", "1 2 3 0 0 inf 1 90 9\n", "1 2 3 0 0 0 1 180 9\n",
                            "1 2 3 0 0 0 1 -5 9\n", "1 2 3 0 0 0 0 60 9\n",
                            // finite, but the spline through it overflows
                            "9.1e37 2 3 0 0 0 1 90 9\n", "1 2 3 0 0 0 1 90 99999999999\n"}) {
        test::write_file(home("keycam/odd"), std::string("0 0 0 0 0 0 1 90 5\n") + bad);
        EXPECT_TRUE(run_console_line("/readkeys odd", c));
        EXPECT_STREQ(reply(), "Error reading camera keys") << bad;
        ASSERT_EQ(keys.keys.size(), 1u) << bad;
        camera_key pose;
        ASSERT_TRUE(key_frame_pose(keys, 9, &pose));
        EXPECT_TRUE(std::isfinite(pose.position.y) && std::isfinite(pose.fov)) << bad;
    }
    // A rotation written unnormalised is read as the unit quaternion of
    // the same turn: the camera shows it as it is before the first key too.
    test::write_file(home("keycam/long"), "0 0 0 0 3 0 4 90 5\n");
    EXPECT_TRUE(run_console_line("/readkeys long", c));
    EXPECT_STREQ(reply(), "Camera keys updated");
    camera_key pose;
    ASSERT_TRUE(key_frame_pose(keys, 0, &pose));
    EXPECT_FLOAT_EQ(pose.rotation[1], 0.6f);
    EXPECT_FLOAT_EQ(pose.rotation[3], 0.8f);
}

TEST_F(Console, FileNamesStayInsideTheirFolders)
{
    add_key_at(10);
    for (const char* line : {"/writekeys ../../escape", "/readkeys ../config", "/writekeys a/b", "/readkeys ..",
                             "/writesetup ../config", "/readsetup /etc/passwd"}) {
        clear_messages();
        EXPECT_TRUE(run_console_line(line, c)) << line;
        EXPECT_NE(strstr(reply(), "may not be empty or hold '/', '\\' or '..'"), nullptr) << line << ": " << reply();
    }
    EXPECT_FALSE(test::file_exists(dirs.xdg + "/escape"));
    EXPECT_EQ(keys.keys.size(), 1u);
    const std::string long_name(SAFE_FILE_NAME_MAX + 1, 'k');
    EXPECT_TRUE(run_console_line(("/writekeys " + long_name).c_str(), c));
    EXPECT_STREQ(reply(), "Camera key file names may not be longer than 200 bytes");
    EXPECT_TRUE(run_console_line("/writesetup a\x01b", c));
    EXPECT_STREQ(reply(), "Setup names may not hold control characters");
    EXPECT_TRUE(run_console_line("/writekeys a\x01b", c));
    EXPECT_STREQ(reply(), "Camera key file names may not hold control characters");
    EXPECT_FALSE(test::file_exists(home("keycam/" + long_name)));
    EXPECT_FALSE(test::file_exists(home("keycam/a\x01b")));

    EXPECT_TRUE(run_console_line("/writesetup mine", c));
    EXPECT_STREQ(reply(), "Setup written");
    EXPECT_TRUE(run_console_line("/readsetup  mine ", c));
    EXPECT_STREQ(reply(), "Setup updated");

    // A demo being recorded takes a name, with or without its extension,
    // but only one inside the demos folder.
    c.w = world_create();
    EXPECT_TRUE(run_console_line("/namedemo race1", c));
    EXPECT_STREQ(reply(), "Not currently recording a demo");
    const char* names[] = {"race1", "race2.kzdemo"};
    const char* files[] = {"demos/race1.kzdemo", "demos/race2.kzdemo"};
    for (int i = 0; i < 2; i++) {
        ASSERT_TRUE(start_recording(c.w));
        EXPECT_TRUE(run_console_line(("/namedemo " + std::string(names[i])).c_str(), c));
        EXPECT_STREQ(reply(), "Demo name updated");
        finish_recording(c.w);
        EXPECT_TRUE(test::file_exists(home(files[i]))) << files[i];
    }
    ASSERT_TRUE(start_recording(c.w));
    EXPECT_TRUE(run_console_line("/namedemo sub/race3", c));
    EXPECT_STREQ(reply(), "Demo names may not be empty or hold '/', '\\' or '..'");
    finish_recording(c.w);
    EXPECT_FALSE(test::file_exists(home("demos/sub/race3.kzdemo")));
    EXPECT_FALSE(test::file_exists(home("demos/race2.kzdemo.kzdemo")));
}

TEST_F(Console, ListfilesMatchesWithoutRegardToCase)
{
    test::write_file(home("Shot.PNG"), "x");
    test::write_file(home("picture.png"), "x");
    test::write_file(home("notes.txt"), "x");
    g_messages.max_visible = 10;
    EXPECT_TRUE(run_console_line("/listfiles PNG", c));
    int pictures = 0, others = 0;
    for (int i = 0; visible_message(i); i++) {
        const std::string line = visible_message(i);
        if (line == "Shot.PNG" || line == "picture.png")
            pictures++;
        else
            others++;
    }
    EXPECT_EQ(pictures, 2);
    EXPECT_EQ(others, 0);
}
