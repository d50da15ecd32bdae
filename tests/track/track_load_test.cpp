// The track list, the loading screen, a whole track load in its order with
// the digest, unloading, the generated default track, and the game's exit
// when the data holds no track.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "core/messages.h"
#include "core/services.h"
#include "files/datafs.h"
#include "platform/log.h"
#include "track/track.h"
#include "track_test_util.h"

namespace {

// The track these tests load (a world's, without the rest of the world).
track tt;

std::vector<std::string> g_shown;
void record_status(const char* text)
{
    g_shown.push_back(text);
}

clock_time g_now;
clock_time fake_clock()
{
    return g_now;
}
void set_clock(double seconds)
{
    g_now.sec = (long)seconds;
    g_now.usec = (long)((seconds - (double)g_now.sec) * 1e6 + 0.5);
}

std::vector<std::string> lines_of(const std::string& text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        out.push_back(line);
    return out;
}

// A small complete track: flat ground, one surface, a two-piece gate with
// three checkpoints, a statue, two billboards and a camera.
const char* const mud_timing =
    "startinggate:\n[40 0 60] 0\n[44 0 60] 0 null @gatetex.png null\n"
    "checkpoints:\n10 [50 0 20] [0 0 -1]\n10 [100 0 120] [1 0 0]\n10 [50 0 200] [0 0 1]\n"
    "firstlap:\n0 1 2\nnormallap:\n0 100001 1 2\n";

struct track_load_fixture : ::testing::Test {
    test::data_dirs_fixture dirs;
    void SetUp() override
    {
        clear_messages();
        write_track("mud", "Mud Pit\n");
    }
    void TearDown() override
    {
        track_unload(&tt);
        track_list_free();
        free_file_index();
        clear_messages();
    }
    std::string dir(const std::string& track) const { return dirs.game + "/" + track; }
    void write_track(const std::string& track, const std::string& desc)
    {
        track_test::write_flat_ground(dir(track), 6, 1000);
        test::write_file(dir(track) + "/desc", desc);
        test::write_file(dir(track) + "/tileinfo", "texture @dirt.png\nfriction 1.1 2\naddtile\n");
        test::write_file(dir(track) + "/tilemap", std::string(64 * 64, '\0'));
        test::write_file(dir(track) + "/timing_gates", mud_timing);
        test::write_file(dir(track) + "/statues", "[10 0 10] 0 null @stone.png null\n");
        test::write_file(dir(track) + "/billboards", "[5 0 5] 4 1 @tree.png\n[9 0 5] 4 1 #ff0000#@tree.png\n");
        test::write_file(dir(track) + "/cameras", "gate 0 2 300 1\naddcamera 10 5 10\n");
        test::write_file(dirs.game + "/stone.png", "stone picture");
        test::write_file(dirs.game + "/gatetex.png", "gate picture");
    }
    // Loads the track afresh (the index sees new files) and returns its digest.
    std::string digest_of(const std::string& name)
    {
        free_file_index();
        track_list_build(0);
        EXPECT_TRUE(track_load(&tt, name.c_str(), track_load_flags())) << name;
        return std::string((const char*)tt.digest, TRACK_DIGEST_SIZE);
    }
};

TEST_F(track_load_fixture, ListsEveryTrackDirectoryByDisplayName)
{
    test::write_file(dirs.game + "/alpha/terrain.hf.gz", "x");  // no "desc": its directory
    test::write_file(dirs.game + "/gamma/terrain.hf.scram", "x");
    test::write_file(dirs.game + "/gamma/desc", "mud pit");      // differs from "Mud Pit" in case only
    test::write_file(dirs.game + "/Zed/terrain.hf.gz.scram", "x");
    test::write_file(dirs.game + "/Zed/desc", "\nsecond line");   // an empty first line
    test::write_file(dirs.game + "/tracks/deep/terrain.hf", "x");
    test::write_file(dirs.game + "/tracks/deep/desc", std::string("Deep\0after", 10));
    test::write_file(dirs.game + "/nohf/terrain.png", "x");
    test::write_file(dirs.game + "/nohf/desc", "Not a track");
    test::write_file(dirs.game + "/terrain.hf", "x");            // not in a track directory
    test::write_file(dirs.home + "/mud/terrain.hf", "x");        // the same track in the home directory

    ASSERT_EQ(track_list_build(0), 5);
    std::vector<std::string> names, listed;
    for (int i = 0; i < g_track_list.count; i++) {
        names.push_back(g_track_list.names[i]);
        listed.push_back(g_track_list.dirs[i]);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"alpha", "Deep", "Mud Pit", "mud pit", "Zed"}));
    EXPECT_EQ(listed, (std::vector<std::string>{"alpha", "tracks/deep", "mud", "gamma", "Zed"}));
    EXPECT_EQ(track_list_find("mud pit"), 3);
    EXPECT_EQ(track_list_find("MUD PIT"), -1);
    EXPECT_STREQ(track_display_name("GAMMA"), "mud pit");
    EXPECT_STREQ(track_display_name("elsewhere"), "elsewhere");
}

TEST_F(track_load_fixture, LoadingScreenCutsTextsThrottlesTheSpinnerAndCountsItsDots)
{
    const status_service saved = g_status_service;
    g_status_service.draw_status = record_status;
    g_platform_hooks.clock_source = fake_clock;
    loading_reset_for_tests();
    g_shown.clear();
    set_clock(100.0);

    const std::string long_text(100, 'x');
    loading_status(long_text.c_str());
    EXPECT_EQ(std::string(loading_text()), std::string(78, 'x'));
    EXPECT_EQ(g_shown.back(), std::string(78, 'x'));

    loading_begin("Loading bikes");
    g_shown.clear();
    loading_tick("Loading bikes");  // right after the start: too soon
    set_clock(100.125);
    loading_tick("Loading bikes");
    set_clock(100.2);
    loading_tick("Loading bikes");  // 0.075 s after the last: too soon
    for (int k = 0; k < 4; k++) {
        set_clock(100.25 + 0.125 * (k + 1));
        loading_tick("Loading bikes");
    }
    EXPECT_EQ(g_shown, (std::vector<std::string>{"Loading bikes", "Loading bikes.", "Loading bikes..",
                                                 "Loading bikes...", "Loading bikes"}));
    loading_done(long_text.c_str());
    EXPECT_EQ(g_shown.back(), std::string(64, 'x') + "...done");

    g_status_service = saved;
    g_platform_hooks = platform_hooks{};
}

TEST_F(track_load_fixture, LoadsEveryPartOfTheTrackInPlace)
{
    track_list_build(0);
    ASSERT_TRUE(track_load(&tt, "Mud Pit", track_load_flags()));
    EXPECT_TRUE(tt.loaded);
    EXPECT_STREQ(tt.dir, "mud");
    // The first piece names the default gate shape, which this data lacks.
    EXPECT_EQ(track_test::messages(), (std::vector<std::string>{"Warning: missing shape file @startgate.shp"}));

    EXPECT_EQ(tt.heightfield.sample_count, 129);
    EXPECT_EQ(tt.heightfield.surface_count, 1);
    const track_timing& t = tt.timing_gates;
    EXPECT_TRUE(timing_active(&t));
    EXPECT_EQ(t.piece_count, 2);
    EXPECT_EQ(t.normal_real, 3);

    // The gate pieces are the first statues, then the "statues" file.
    const statue_list& statues = tt.objects.statues;
    ASSERT_EQ(statues.count, 3);
    EXPECT_EQ(t.pieces[0].object, 0);
    EXPECT_EQ(t.pieces[1].object, 1);
    EXPECT_EQ(tt.fixed_statues, 2);
    EXPECT_STREQ(statues.items[2].texture_name, "@stone.png");

    // 2000 particle sprites, then the billboards.
    const sprite_list& sprites = tt.objects.sprites;
    ASSERT_NE(tt.particle_pool, nullptr);
    EXPECT_EQ(tt.particle_pool->live, 0);
    EXPECT_EQ(tt.particle_sprites, 0);
    EXPECT_EQ(tt.fixed_sprites, ROOST_POOL_SIZE);
    ASSERT_EQ(sprites.count, ROOST_POOL_SIZE + 2);
    EXPECT_EQ(sprites.items[1999].size, 1.0f);
    EXPECT_EQ(sprites.items[1999].x, 0.0f);
    EXPECT_EQ(sprites.items[1999].texture, 0u);
    EXPECT_EQ(tt.objects.billboards.count, 2);

    EXPECT_EQ(tt.cameras.count, 1);
    EXPECT_EQ(gate_camera(&tt.cameras, 2), 0);
    EXPECT_EQ(gate_camera(&tt.cameras, 1), -1);  // the gate list stops at 300
    EXPECT_EQ(tt.map_texture, 0u);
    EXPECT_NE(std::string((const char*)tt.digest, 20), std::string(20, '\0'));

    track_unload(&tt);
    EXPECT_FALSE(tt.loaded);
    EXPECT_STREQ(tt.dir, "");
    EXPECT_EQ(tt.objects.statues.count, 0);
    EXPECT_EQ(tt.objects.sprites.count, 0);
    EXPECT_EQ(tt.heightfield.heights, nullptr);
    EXPECT_EQ(tt.particle_pool, nullptr);
    EXPECT_EQ(tt.timing_gates.piece_count, 0);
    EXPECT_EQ(tt.cameras.count, 0);
}

TEST_F(track_load_fixture, TheDigestFollowsTheRaceFilesAndNotTheDecoration)
{
    const std::string base = digest_of("mud");
    EXPECT_EQ(digest_of("mud"), base);  // the same files, the same digest

    // Decoration: billboards, lighting, cameras, flaggers, desc.
    test::write_file(dir("mud") + "/billboards", "[50 0 5] 9 2 @bush.png\n");
    test::write_file(dir("mud") + "/lighting", "fog_density 0.001\n");
    test::write_file(dir("mud") + "/cameras", "addcamera 99 9 99\n");
    test::write_file(dir("mud") + "/desc", "Renamed\n");
    EXPECT_EQ(digest_of("mud"), base);

    struct change {
        const char* file;
        const char* text;
    };
    const change changes[] = {
        {"/tileinfo", "texture @dirt.png\nfriction 1.2 2\naddtile\n"},
        {"/timing_gates", "startinggate:\n[40 0 60] 0\n"},
        {"/statues", "[11 0 10] 0 null @stone.png null\n"},
        {"/../stone.png", "another stone picture"},
        {"/../gatetex.png", "another gate picture"},
        {"/texturelist", "1 5 15 @dirt.png\n"},
    };
    for (const change& c : changes) {
        const std::string path = dir("mud") + c.file;
        const std::string before = test::file_exists(path) ? test::read_file(path) : std::string();
        test::write_file(path, c.text);
        EXPECT_NE(digest_of("mud"), base) << c.file;
        if (before.empty())
            remove(path.c_str());
        else
            test::write_file(path, before);
        EXPECT_EQ(digest_of("mud"), base) << c.file;
    }
}

TEST_F(track_load_fixture, AFailedLoadLeavesNoTrackAndABrokenTimingFileIsNoFailure)
{
    track_list_build(0);
    ASSERT_TRUE(track_load(&tt, "mud", track_load_flags()));
    EXPECT_FALSE(track_load(&tt, "nothing", track_load_flags()));
    EXPECT_FALSE(tt.loaded);
    EXPECT_STREQ(tt.dir, "");
    EXPECT_EQ(tt.objects.sprites.count, 0);
    EXPECT_FALSE(track_test::messages().empty());

    // Ground without its surface table: the ground fails as a whole.
    remove((dir("mud") + "/tileinfo").c_str());
    free_file_index();
    EXPECT_FALSE(track_load(&tt, "mud", track_load_flags()));
    EXPECT_EQ(tt.heightfield.heights, nullptr);

    test::write_file(dir("mud") + "/tileinfo", "addtile\n");
    test::write_file(dir("mud") + "/timing_gates", std::string("startinggate:\n[1 2 3] 4 \xff\xfe\0\x01 [", 29));
    free_file_index();
    ASSERT_TRUE(track_load(&tt, "mud", track_load_flags()));
    EXPECT_FALSE(timing_active(&tt.timing_gates));
    EXPECT_EQ(tt.timing_gates.piece_count, 1);

    // The loaded track's own name, given back, loads it again.
    ASSERT_TRUE(track_load(&tt, tt.dir, track_load_flags()));
    EXPECT_STREQ(tt.dir, "mud");
    EXPECT_FALSE(track_load(&tt, std::string(300, 'a').c_str(), track_load_flags()));
}

// Log lines of a verbose load, in the order the parts are read.
TEST_F(track_load_fixture, AVerboseLoadLogsItsStagesInOrder)
{
    test::temp_dir logs;
    const std::string path = logs / "log.txt";
    test::scoped_env log_env("VORN_LOGFILE", path.c_str());
    log_reset_for_tests();
    track_list_build(0);
    track_load_flags flags;
    flags.verbose = 1;
    ASSERT_TRUE(track_load(&tt, "mud", flags));
    track_unload(&tt);
    log_close();
    const std::string log = test::read_file(path);
    log_reset_for_tests();

    const char* const order[] = {
        "] Scanning\n",
        "] Loading '@mud'\n",
        "] 0 bytes texture memory used after hf creation\n",
        "] Found 3 timing gates, first lap has 3 gates, normal lap has 4\n",
        "] Loading flaggers\n",
        "] 0 bytes texture memory used after flagger creation\n",
        "] Loading billboards\n",
        "] 0 bytes texture memory used after billboard creation\n",
        "] Loading statues\n",
        "] Loading map\n",
        "] 0 bytes texture memory used after statue creation\n",
        "] 1 cameras found\n",
        "] Deallocating track\n",
        "] Finished deallocating track\n",
    };
    size_t at = 0;
    for (const char* line : order) {
        const size_t found = log.find(line, at);
        ASSERT_NE(found, std::string::npos) << line << "\n" << log;
        at = found;
    }
}

// The generated tracks load headless without a single complaint, the
// default one among them.
TEST(default_track, EveryGeneratedTrackLoadsWithoutWarnings)
{
    test::temp_dir home;
    test::scoped_env xdg("XDG_DATA_HOME", home.path.c_str());
    test::scoped_env kz("KZ_HOME", test::build_data_dir().c_str());
    const std::string path = home / "log.txt";
    test::scoped_env log_env("VORN_LOGFILE", path.c_str());
    log_reset_for_tests();
    free_file_index();
    clear_messages();

    const int count = track_list_build(1);
    ASSERT_GE(track_list_find(track_display_name("rabbithill")), 0);
    struct outcome {
        std::string dir;
        bool loaded;
        bool gates;
        int pieces;
    };
    std::vector<outcome> outcomes;
    track_load_flags flags;
    flags.verbose = 1;
    for (int i = 0; i < count; i++) {
        const std::string dir = g_track_list.dirs[i];
        const bool loaded = track_load(&tt, dir.c_str(), flags);
        outcomes.push_back({dir, loaded, timing_active(&tt.timing_gates), tt.timing_gates.piece_count});
    }
    track_unload(&tt);
    track_list_free();
    log_close();
    const std::string log = test::read_file(path);
    log_reset_for_tests();
    free_file_index();

    for (const outcome& o : outcomes) {
        EXPECT_TRUE(o.loaded) << o.dir << "\n" << log;
        // Once the generated data has its timing gates they must work.
        if (o.pieces > 0 || o.gates) {
            EXPECT_TRUE(o.gates) << o.dir;
            EXPECT_GE(o.pieces, 40) << o.dir;
        }
    }
    for (const std::string& line : lines_of(log)) {
        for (const char* bad : {"Warning", "warning", "Error", "error", "Can't", "missing"})
            EXPECT_EQ(line.find(bad), std::string::npos) << line;
    }
    EXPECT_TRUE(track_test::messages().empty());
}

// Start-up ends with "No tracks found" when the data has no track. The game
// needs a display for its window before it gets there.
TEST(game_start, NoTracksFoundEndsWithExitCodeOne)
{
    if (!getenv("DISPLAY"))
        GTEST_SKIP() << "needs a display (run under xvfb-run)";
    test::temp_dir root;
    const std::string game = root / "game";
    test::write_file(game + "/placeholder", "");
    ASSERT_EQ(symlink((test::build_data_dir() + "/zzzz.saf").c_str(), (game + "/zzzz.saf").c_str()), 0);
    const std::string err = root / "stderr.txt";
    const std::string exe = test::build_data_dir() + "/kessrig";
    const pid_t pid = fork();
    if (pid == 0) {
        setenv("KZ_HOME", game.c_str(), 1);
        setenv("XDG_DATA_HOME", (root / "xdg").c_str(), 1);
        // The game opened a window: the GL driver it loaded and unloaded
        // leaves leaks no one can attribute (a sanitizer build only).
        setenv("ASAN_OPTIONS", "detect_leaks=0:abort_on_error=1", 1);
        const int fd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(fd, 2);
        execl(exe.c_str(), exe.c_str(), (char*)nullptr);
        _exit(127);
    }
    int status = 0;
    for (int i = 0; i < 400 && waitpid(pid, &status, WNOHANG) != pid; i++)
        usleep(50000);
    if (!WIFEXITED(status)) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        FAIL() << "the game did not exit";
    }
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_NE(test::read_file(err).find("No tracks found\n"), std::string::npos) << test::read_file(err);
}

}  // namespace
