#include "core/config.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <random>
#include <string>

#include "bike/catalogue.h"
#include "core/bindings.h"
#include "core/messages.h"
#include "core/settings.h"
#include "files/datafs.h"
#include "test_support.h"

namespace {

class Config : public ::testing::Test {
protected:
    test::data_dirs_fixture dirs;

    void SetUp() override
    {
        free_file_index();
        clear_messages();
        build_texture_lists(nullptr);
        config_set_defaults();
    }
    void TearDown() override
    {
        build_texture_lists(nullptr);
        config_set_defaults();
        free_file_index();
        clear_messages();
    }

    std::string home(const std::string& rel) const { return dirs.home + "/" + rel; }

    // Reads a configuration made of the given text over fresh defaults.
    void read_text(const std::string& text)
    {
        config_set_defaults();
        test::write_file(home("config"), text);
        ASSERT_TRUE(read_config());
    }

    std::string written()
    {
        EXPECT_TRUE(write_config());
        return test::read_file(home("config"));
    }
};

bool said(const char* text)
{
    for (int i = 0; i < MESSAGE_RING; i++)
        if (strcmp(g_messages.ring[i], text) == 0)
            return true;
    return false;
}

const menu_binding& binding(const char* key)
{
    return *(const menu_binding*)find_setting(key)->value;
}

}  // namespace

// The file a fresh start writes, byte for byte: every key in its order and
// format, the setup block with the stability presets for 100 applied, the
// bindings last.
TEST_F(Config, AFreshStartWritesTheDefaultFile)
{
    const std::string golden = test::read_file(std::string(CONFIG_TEST_DATA) + "/default_config");
    const std::string now = written();
    if (now != golden)
        test::write_file("default_config.actual", now);  // for a look beside the test binary
    EXPECT_EQ(now, golden);
    EXPECT_EQ(current_graphics_preset(), 0);
    // A missing file keeps the defaults.
    ASSERT_EQ(remove(home("config").c_str()), 0);
    g_settings.fov = 90;
    EXPECT_FALSE(read_config());
    EXPECT_EQ(g_settings.fov, 90);
}

// Values of every kind survive a write and a read over fresh defaults.
TEST_F(Config, EveryKindOfValueSurvivesARoundTrip)
{
    g_settings.xres = 1280;
    g_settings.fov = 95.5;
    g_settings.skill = 2;
    g_settings.slots[39] = 4;
    snprintf(g_settings.track, sizeof g_settings.track, "stadium");
    snprintf(g_settings.server_history[3], sizeof g_settings.server_history[3], "race.example.org");
    g_settings.map_scale = 2.5;
    g_bike_setup.stability = 37;
    g_bike_setup.roll_damping = 91;  // edited after the preset
    g_bike_setup.stop_wheelies = 2;
    g_bike_setup.rider_mass_distribution = 0.41;
    snprintf(g_player_rider.name, sizeof g_player_rider.name, "Somebody Else");
    ASSERT_TRUE(setting_parse(find_setting("bike"), "yz125"));
    const int bike = g_settings.bike_model;
    ASSERT_TRUE(setting_parse(find_setting("rider_texture"), "@rider_body-red.png"));
    ASSERT_TRUE(setting_parse(find_setting("throttle_key"), "(-0.5,0.75)joy0-y"));
    ASSERT_TRUE(setting_parse(find_setting("dab_key"), "(k)space"));
    apply_graphics_preset(3);

    const std::string first = written();
    config_set_defaults();
    ASSERT_NE(written(), first);
    test::write_file(home("config"), first);
    ASSERT_TRUE(read_config());
    EXPECT_EQ(written(), first);

    EXPECT_EQ(g_settings.xres, 1280);
    EXPECT_DOUBLE_EQ(g_settings.fov, 95.5);
    EXPECT_EQ(g_settings.skill, 2);
    EXPECT_EQ(g_settings.slots[39], 4);
    EXPECT_STREQ(g_settings.track, "stadium");
    EXPECT_STREQ(g_settings.server_history[3], "race.example.org");
    EXPECT_DOUBLE_EQ(g_settings.map_scale, 2.5);
    EXPECT_DOUBLE_EQ(g_bike_setup.stability, 37);
    EXPECT_DOUBLE_EQ(g_bike_setup.roll_damping, 91);
    EXPECT_EQ(g_bike_setup.stop_wheelies, 2);
    EXPECT_NEAR(g_bike_setup.rider_mass_distribution, 0.41, 1e-6);
    EXPECT_STREQ(g_player_rider.name, "Somebody Else");
    EXPECT_EQ(g_settings.bike_model, bike);
    EXPECT_STREQ(player_rider_strings().rider_texture, "@rider_body-red.png");
    EXPECT_STREQ(binding("throttle_key").axis_name, "joy0-y");
    EXPECT_FLOAT_EQ(binding("throttle_key").low, -0.5f);
    EXPECT_FLOAT_EQ(binding("throttle_key").high, 0.75f);
    EXPECT_STREQ(binding("dab_key").key_name, "space");
    EXPECT_EQ(current_graphics_preset(), 3);
}

TEST_F(Config, ReadingClampsRefusesAndAcceptsOldForms)
{
    read_text("laps=75\r\nfov=5\nmap_scale=20\r\nminutes=abc\nrender_texture=Bogus\n"
              "track=stadium\r\nvolume=3\r\r\n"
              "no equals sign here\nunknown_key=7\n=\nground_texture_distance=5\n"
              "left_key=(k)a\nright_key=(-1,1)joy0-x\nclutch_key=  q\n"
              "server_name_hist00=" + std::string(200, 'h') + "\n" +
              "name=" + std::string(100, 'n') + "\n" +
              "xres=" + std::string(10000, '9') + "\nyres=768\n");
    EXPECT_DOUBLE_EQ(g_settings.laps, 50);
    EXPECT_DOUBLE_EQ(g_settings.fov, 10);
    EXPECT_DOUBLE_EQ(g_settings.map_scale, 8);
    EXPECT_DOUBLE_EQ(g_settings.minutes, 0);
    EXPECT_EQ(g_settings.render_texture, 0);
    EXPECT_STREQ(g_settings.track, "stadium");  // the CR is not part of the name
    EXPECT_DOUBLE_EQ(g_settings.volume, 3);
    EXPECT_STREQ(binding("left_key").key_name, "a");
    EXPECT_STREQ(binding("right_key").axis_name, "joy0-x");
    EXPECT_FLOAT_EQ(binding("right_key").low, -1.0f);
    EXPECT_FLOAT_EQ(binding("right_key").high, 1.0f);
    EXPECT_STREQ(binding("clutch_key").key_name, "q");
    EXPECT_FLOAT_EQ(binding("clutch_key").high, 1.0f);
    // A host name that does not fit is not cut into another one; a rider
    // name is cut to its field.
    EXPECT_STREQ(g_settings.server_history[0], "");
    EXPECT_EQ(strlen(g_player_rider.name), (size_t)RIDER_NAME_MAX);
    // An overlong line is skipped whole; the next line still reads.
    EXPECT_EQ(g_settings.xres, 640);
    EXPECT_EQ(g_settings.yres, 768);

    read_text("use_fbo=Yes\n");
    EXPECT_EQ(g_settings.render_texture, 2);
    read_text("use_fbo=No\n");
    EXPECT_EQ(g_settings.render_texture, 1);

    read_text("bike=yz250f\n");
    EXPECT_STREQ(setting_choice_name(find_setting("bike"), g_settings.bike_model), "yz250f(2008)");
    EXPECT_STREQ(player_rider_strings().model, "yz250f(2008)");
    read_text("bike=no such bike\n");
    EXPECT_STREQ(player_rider_strings().model, "yz250f(2017)");
}

TEST_F(Config, StabilityAppliesItsPresetsAtOnce)
{
    // A fresh start has the presets of 100, not the record defaults.
    EXPECT_DOUBLE_EQ(g_bike_setup.roll_damping, 80);
    EXPECT_DOUBLE_EQ(g_bike_setup.restricted_lock, 1);
    read_text("stability=0\n");
    EXPECT_DOUBLE_EQ(g_bike_setup.roll_damping, 40);
    EXPECT_DOUBLE_EQ(g_bike_setup.restricted_lock, 45);
    read_text("stability=50\n");
    EXPECT_DOUBLE_EQ(g_bike_setup.roll_damping, 65);
    EXPECT_DOUBLE_EQ(g_bike_setup.restricted_lock, 7.5);
    // A derived value after the stability line is kept as written.
    read_text("stability=50\nroll_damping=12\n");
    EXPECT_DOUBLE_EQ(g_bike_setup.roll_damping, 12);
}

// The texture names wait as text until the lists exist, and a menu choice
// becomes the name the file keeps.
TEST_F(Config, GraphicsNamesWaitForTheirLists)
{
    read_text("rider_texture=@rider_body-blue.png\nbike_texture=@nothing-here.png\n");
    EXPECT_EQ(g_settings.texture_choice[0], -1);
    static const char* const files[] = {"rider_body-blue.png", "rider_body-red.png", "wheels-gold.png",
                                        "rider_head-x.txt", nullptr};
    build_texture_lists(files);
    const setting* rider = find_setting("rider_texture");
    ASSERT_GE(g_settings.texture_choice[0], 0);
    EXPECT_STREQ(setting_choice_name(rider, g_settings.texture_choice[0]), "@rider_body-blue.png");
    EXPECT_EQ(setting_choice_count(find_setting("head_texture")), 1);  // the model's own only
    EXPECT_EQ(g_settings.texture_choice[1], 0);  // no name kept: the model's own is shown chosen
    EXPECT_EQ(g_settings.texture_choice[2], -1);
    EXPECT_STREQ(player_rider_strings().bike_texture, "@nothing-here.png");

    g_settings.texture_choice[0] = 2;
    setting_changed(rider);
    EXPECT_STREQ(player_rider_strings().rider_texture, "@rider_body-red.png");
    EXPECT_NE(written().find("rider_texture=@rider_body-red.png\n"), std::string::npos);
}

TEST_F(Config, SetupFilesStayInTheirFolder)
{
    g_bike_setup.brake_torque = 120;
    EXPECT_TRUE(write_setup_file("  fast  "));
    EXPECT_TRUE(said("Setup written"));
    const std::string text = test::read_file(home("setups/fast"));
    EXPECT_EQ(text.compare(0, 17, "bike=yz250f(2017)"), 0);
    EXPECT_NE(text.find("brake_torque=120.000000\n"), std::string::npos);
    EXPECT_EQ(text.find("fov="), std::string::npos);

    g_bike_setup.brake_torque = 10;
    EXPECT_TRUE(read_setup_file("fast"));
    EXPECT_TRUE(said("Setup updated"));
    EXPECT_DOUBLE_EQ(g_bike_setup.brake_torque, 120);

    clear_messages();
    for (const char* bad : {"../config", "a/b", "..", "", "   "}) {
        EXPECT_FALSE(write_setup_file(bad)) << bad;
        EXPECT_FALSE(read_setup_file(bad)) << bad;
    }
    EXPECT_FALSE(said("Setup written"));
    EXPECT_TRUE(said("Setup names may not be empty or hold '/', '\\' or '..'"));
    EXPECT_FALSE(test::file_exists(dirs.home + "/config.new"));
    EXPECT_FALSE(read_setup_file("missing"));
    EXPECT_TRUE(said("Error reading setup"));
}

// A full disk fails the write, says so, and keeps the settings saved before.
TEST_F(Config, AWriteOntoAFullDiskIsReportedAndKeepsTheOldFile)
{
    g_settings.fov = 100;
    const std::string before = written();
    g_settings.fov = 120;
    {
        test::full_disk full(64);
        EXPECT_FALSE(write_config());
    }
    EXPECT_EQ(test::read_file(home("config")), before);
    EXPECT_EQ(test::folder_names(dirs.home), (std::vector<std::string>{"config"}));
}

// A writer killed at any moment leaves "@config" whole: the old file or the
// new one, never a part.
TEST_F(Config, AKilledWriterNeverLeavesABrokenFile)
{
    g_settings.fov = 100;
    const std::string a = written();
    g_settings.fov = 120;
    const std::string b = written();
    ASSERT_NE(a, b);

    std::mt19937 random(7);
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
    int kills = 0;
    while (std::chrono::steady_clock::now() < end) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (int i = 0;; i++) {
                g_settings.fov = i % 2 ? 100 : 120;
                write_config();
            }
        }
        usleep(random() % 3000);
        kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        kills++;
        const std::string now = test::read_file(home("config"));
        ASSERT_TRUE(now == a || now == b) << "after kill " << kills << ": " << now.size() << " bytes";
    }
    EXPECT_GT(kills, 20);
    config_set_defaults();
    ASSERT_TRUE(read_config());
    EXPECT_TRUE(g_settings.fov == 100 || g_settings.fov == 120);
    // The next write clears away what the killed writers left.
    EXPECT_TRUE(write_config());
    EXPECT_EQ(test::folder_names(dirs.home), (std::vector<std::string>{"config"}));
}
