// The real game driven through its menus by scripted keys: New Race with
// Record Demo on, Start, the throttle held once the gate has dropped, and
// out through the Quit screen. The recorded demo must show the player
// standing at the gate until the start and riding away after it; a second
// run in the same home keeps the setting the first one changed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "../core/game_world_util.h"
#include "bike/bike.h"
#include "core/config.h"
#include "race/demo.h"

namespace {

// Runs the game under its own X server at 32 frames a second (4 ticks a
// frame); returns its exit status, or -1 when it had to be killed.
int run_game(const test::data_dirs_fixture& dirs, const std::string& script)
{
    test::write_file(dirs.root / "script.txt", script);
    const pid_t pid = fork();
    if (pid == 0) {
        const int err = open((dirs.root / "stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(err, 1);
        dup2(err, 2);
        setenv("KZ_INPUT_SCRIPT", (dirs.root / "script.txt").c_str(), 1);
        unsetenv("VORN_LOGFILE");
        const std::string exe = test::build_data_dir() + "/kessrig";
        execlp("xvfb-run", "xvfb-run", "-a", "-s", "-screen 0 640x480x24", exe.c_str(), "--nosound", "--lock-fps",
               "32", "--width", "640", "--height", "480", (char*)nullptr);
        _exit(127);
    }
    for (int i = 0; i < 240 * 10; i++) {
        int status;
        if (waitpid(pid, &status, WNOHANG) == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        usleep(100000);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return -1;
}

std::string keys_at(int frame, const char* key)
{
    return std::to_string(frame) + " " + key + " 1\n" + std::to_string(frame + 1) + " " + key + " 0\n";
}

// From the main menu down to its last item (Quit), then any key.
std::string quit_from_main(int frame)
{
    std::string s;
    for (int i = 0; i < 8; i++)
        s += keys_at(frame + 2 * i, "Down");
    return s + keys_at(frame + 20, "Enter") + keys_at(frame + 26, "q");
}

}  // namespace

class menu_process : public game_world_test {};

TEST_F(menu_process, a_race_started_from_the_menu_is_recorded_and_settings_persist)
{
    if (!getenv("DISPLAY") || system("command -v xvfb-run >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "needs a display and xvfb-run";
    // New Race (Start focused), down to Record Demo, Yes, back up to Start.
    std::string script = keys_at(5, "Enter") + keys_at(8, "Down") + keys_at(10, "Down") + keys_at(12, "Right") +
                         keys_at(14, "Up") + keys_at(16, "Up") + keys_at(20, "Enter");
    // The gate drops 13 to 15 s after the reset; hold the throttle from
    // 16 s on for 5 s.
    script += "532 x 1\n692 x 0\n";
    script += keys_at(700, "Esc") + quit_from_main(704);
    ASSERT_EQ(run_game(dirs, script), 0) << test::read_file(dirs.root / "stderr.txt");
    const std::string config = test::read_file(dirs.home + "/config");
    EXPECT_NE(config.find("\nrecord=Yes\n"), std::string::npos);

    // The demo: the player's bike by its rider name.
    config_set_defaults();
    const std::string player = g_player_rider.name;
    int lineup[RACE_SLOTS] = {};
    ASSERT_TRUE(world_reset(w, lineup, "@demos/default.kzdemo", false, 0, 1000, 0));
    const int start = w->race.start_tick;
    EXPECT_GE(start, 13 * 128);
    EXPECT_LE(start, 15 * 128);
    int slot = -1;
    for (int k = 0; k < RACE_SLOTS; k++)
        if (w->race.slots[k].b && player == w->race.slots[k].rider.name)
            slot = k;
    ASSERT_GE(slot, 0) << "no rider named " << player;
    // Played bikes take their recorded places in the first tick.
    world_tick(w);
    const vec3 gate = bike_frame_position(w->race.slots[slot].b);
    float before = 0, after = 0;
    while (w->race.tick < start + 5 * 128 && !demo_at_end(w)) {
        world_tick(w);
        const vec3 p = bike_frame_position(w->race.slots[slot].b);
        const float d = std::sqrt((p.x - gate.x) * (p.x - gate.x) + (p.z - gate.z) * (p.z - gate.z));
        if (w->race.tick < start)
            before = std::max(before, d);
        else
            after = std::max(after, d);
    }
    EXPECT_LT(before, 3.0f);
    EXPECT_GT(after, 30.0f);

    // A second run that only quits keeps the first run's change.
    ASSERT_EQ(run_game(dirs, quit_from_main(5)), 0) << test::read_file(dirs.root / "stderr.txt");
    EXPECT_NE(test::read_file(dirs.home + "/config").find("\nrecord=Yes\n"), std::string::npos);
}
