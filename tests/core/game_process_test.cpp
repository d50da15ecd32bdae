// Starts the real game as a separate process on the generated data and
// checks start-up, the frame loop and the orderly shutdown from outside.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "test_support.h"

namespace {

struct child {
    pid_t pid = -1;
    std::string stderr_path;
};

// Runs the game with the given environment changes (value null: unset).
child start_game(const std::vector<std::pair<std::string, const char*>>& env, const std::string& err_path,
                 const std::vector<std::string>& args = {})
{
    std::string exe = test::build_data_dir() + "/kessrig";
    child c;
    c.stderr_path = err_path;
    c.pid = fork();
    if (c.pid == 0) {
        for (auto& e : env) {
            if (e.second)
                setenv(e.first.c_str(), e.second, 1);
            else
                unsetenv(e.first.c_str());
        }
        int fd = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(fd, 2);
        std::vector<char*> argv{const_cast<char*>(exe.c_str())};
        for (auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(exe.c_str(), argv.data());
        _exit(127);
    }
    return c;
}

}  // namespace

TEST(GameProcess, StartsRunsFramesAndShutsDownOnSigterm)
{
    if (!getenv("DISPLAY"))
        GTEST_SKIP() << "needs a display (run under xvfb-run)";
    test::temp_dir xdg;
    std::string log = xdg / "Kessrig/lastlog.txt";
    // The player's configuration is read at start-up and written back
    // whole at shutdown.
    test::write_file(xdg / "Kessrig/config", "fov=95\nlaps=75\n");
    child c = start_game({{"XDG_DATA_HOME", xdg.path.c_str()}, {"KZ_HOME", nullptr}, {"VORN_LOGFILE", nullptr}},
                         xdg / "stderr.txt", {"--nosound"});
    ASSERT_GT(c.pid, 0);
    ASSERT_TRUE(test::wait_for_text(log, "GL_EXTENSIONS: ", 30)) << test::read_file(log);
    // The first ride is set up after the GL strings; then let it run.
    ASSERT_TRUE(test::wait_for_text(log, "Max loading delay was", 30)) << test::read_file(log);
    // The first frames build the terrain's textures, slowly in a sanitizer build.
    usleep(4000000);
    kill(c.pid, SIGTERM);
    EXPECT_EQ(test::wait_exit(c.pid, 30), 0);

    std::string text = test::read_file(log);
    EXPECT_NE(text.find("Kessrig version 2018-01-26-1387 snapshot\n"), std::string::npos);
    for (const char* gl : {"GL_VENDOR: ", "GL_RENDERER: ", "GL_VERSION: "})
        EXPECT_NE(text.find(gl), std::string::npos) << gl;
    // Frames and ticks ran: a second is 128 ticks, even a slow machine
    // manages a good part of it.
    size_t ran = text.find("Ran ");
    ASSERT_NE(ran, std::string::npos);
    long frames = 0, ticks = 0;
    ASSERT_EQ(sscanf(text.c_str() + ran, "Ran %ld frames and %ld ticks", &frames, &ticks), 2);
    EXPECT_GT(frames, 5);
    EXPECT_GT(ticks, 30);
    // Shutdown in order, ending with the window.
    size_t last = 0;
    for (const char* step : {"Deallocating bikes", "Freeing memory (1)", "Closing input devices", "Closing audio",
                             "Writing config files", "Freeing memory (2)", "Freeing memory (3)",
                             "Freeing file list", "Freeing memory (4)", "Deleting textures", "Deleting models",
                             "Window shutdown complete"}) {
        size_t at = text.find(step, last);
        EXPECT_NE(at, std::string::npos) << step;
        if (at != std::string::npos)
            last = at;
    }
    const std::string config = test::read_file(xdg / "Kessrig/config");
    EXPECT_EQ(config.compare(0, 9, "xres=640\n"), 0) << config;
    EXPECT_NE(config.find("\nfov=95.000000\n"), std::string::npos);
    EXPECT_NE(config.find("\nlaps=50.000000\n"), std::string::npos);
    EXPECT_NE(config.find("\nscreenshot_key=(k)s\n"), std::string::npos);
}

TEST(GameProcess, SigtermWhileLoadingStillEndsTheGame)
{
    if (!getenv("DISPLAY"))
        GTEST_SKIP() << "needs a display (run under xvfb-run)";
    test::temp_dir xdg;
    std::string log = xdg / "Kessrig/lastlog.txt";
    child c = start_game({{"XDG_DATA_HOME", xdg.path.c_str()}, {"KZ_HOME", nullptr}, {"VORN_LOGFILE", nullptr}},
                         xdg / "stderr.txt", {"--nosound"});
    ASSERT_GT(c.pid, 0);
    // The title screen shows, taking no input, while the data and the track
    // load: a close request that arrives then must not be thrown away with
    // the keys pressed meanwhile.
    ASSERT_TRUE(test::wait_for_text(log, "Listing directories", 30)) << test::read_file(log);
    kill(c.pid, SIGTERM);
    EXPECT_EQ(test::wait_exit(c.pid, 60), 0);
    const std::string text = test::read_file(log);
    const size_t close = text.find("Close requested by signal");
    ASSERT_NE(close, std::string::npos) << text;
    EXPECT_NE(text.find("Window shutdown complete", close), std::string::npos) << text;
    EXPECT_NE(text.find("Writing config files", close), std::string::npos) << text;
}

TEST(GameProcess, MissingGameDataIsReportedAndExitsZero)
{
    test::temp_dir xdg, empty;
    // Without a display the message box text goes to standard error.
    child c = start_game({{"XDG_DATA_HOME", xdg.path.c_str()}, {"KZ_HOME", empty.path.c_str()},
                          {"DISPLAY", nullptr}, {"WAYLAND_DISPLAY", nullptr}},
                         xdg / "stderr.txt");
    ASSERT_GT(c.pid, 0);
    EXPECT_EQ(test::wait_exit(c.pid, 30), 0);
    std::string err = test::read_file(c.stderr_path);
    EXPECT_NE(err.find("Problem starting Kessrig"), std::string::npos) << err;
    EXPECT_NE(err.find("Can't find game data"), std::string::npos) << err;
}

TEST(GameProcess, BadOptionExitsWithOne)
{
    test::temp_dir xdg;
    child c = start_game({{"XDG_DATA_HOME", xdg.path.c_str()}, {"KZ_HOME", nullptr}, {"DISPLAY", nullptr}},
                         xdg / "stderr.txt", {"--lock-fps", "fast"});
    EXPECT_EQ(test::wait_exit(c.pid, 30), 1);
    // The display library may add its own complaints; ours is the last line.
    std::string err = test::read_file(c.stderr_path);
    EXPECT_GE(err.size(), 23u);
    EXPECT_EQ(err.substr(err.size() - 23), "Bad arg for --lock-fps\n") << err;
}
