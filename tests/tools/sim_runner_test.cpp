// The headless runner: its control scripts, where it stands the bikes, and
// the kessrig-sim command line as scripts use it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <string>
#include <sys/wait.h>

#include "files/datafs.h"
#include "sim_script.h"
#include "test_support.h"

namespace {

TEST(SimScript, ChangesHoldUntilTheNextOneAndSortByTime)
{
    sim_script s;
    std::string why;
    ASSERT_TRUE(sim_script_add_line(&s, "2.5 throttle=0 front=1 rear=0.5  # brake", &why)) << why;
    ASSERT_TRUE(sim_script_add_line(&s, "   # a comment only", &why));
    ASSERT_TRUE(sim_script_add_line(&s, "", &why));
    ASSERT_TRUE(sim_script_add_line(&s, "0 throttle=1 steer=-0.25", &why));
    ASSERT_TRUE(sim_script_add_line(&s, "1 shift=1", &why));
    ASSERT_TRUE(sim_script_add_line(&s, "1.1 shift=0 clutch=0.5", &why));
    ASSERT_EQ(s.events.size(), 4u);
    EXPECT_EQ(s.events[0].tick, 0);
    EXPECT_EQ(s.events[1].tick, 128);
    EXPECT_EQ(s.events[2].tick, 141);  // 1.1 s, nearest tick
    EXPECT_EQ(s.events[3].tick, 320);

    const control_input start = sim_script_at(s, 0);
    EXPECT_EQ(start.throttle, 1.0f);
    EXPECT_EQ(start.steer, -0.25f);
    EXPECT_EQ(start.clutch, 1.0f);  // lever released unless the script says
    EXPECT_EQ(start.shift, 0);
    EXPECT_EQ(sim_script_at(s, 128).shift, 1);
    EXPECT_EQ(sim_script_at(s, 140).shift, 1);
    const control_input later = sim_script_at(s, 200);
    EXPECT_EQ(later.shift, 0);
    EXPECT_EQ(later.clutch, 0.5f);
    EXPECT_EQ(later.throttle, 1.0f);
    const control_input braking = sim_script_at(s, 100000);
    EXPECT_EQ(braking.throttle, 0.0f);
    EXPECT_EQ(braking.front_brake, 1.0f);
    EXPECT_EQ(braking.rear_brake, 0.5f);
    EXPECT_EQ(braking.steer, -0.25f);
    EXPECT_EQ(braking.clutch, 0.5f);
}

TEST(SimScript, MalformedLinesAreRefusedWithAReason)
{
    for (const char* line : {"-1 throttle=1", "soon throttle=1", "1e9 throttle=1", "nan throttle=1",
                             "1 throttle", "1 throttle=", "1 throttle=fast", "1 nitro=1", "1 shift=2",
                             "1 shift=0.5", "1 steer=inf", "1 front=1e300"}) {
        sim_script s;
        std::string why;
        EXPECT_FALSE(sim_script_add_line(&s, line, &why)) << line;
        EXPECT_FALSE(why.empty()) << line;
        EXPECT_TRUE(s.events.empty()) << line;
    }
}

TEST(SimScript, FilesNameTheFailingLine)
{
    test::temp_dir dir;
    test::write_file(dir / "good", "# ride\n0 throttle=1\n\n3 throttle=0 front=1\n");
    test::write_file(dir / "bad", "0 throttle=1\n1 throttle=1 wheelie=1\n");
    test::write_file(dir / "long", "0 throttle=1" + std::string(2000, ' ') + "\n");
    sim_script s;
    std::string why;
    ASSERT_TRUE(sim_script_load(&s, (dir / "good").c_str(), &why)) << why;
    EXPECT_EQ(s.events.size(), 2u);
    sim_script bad;
    EXPECT_FALSE(sim_script_load(&bad, (dir / "bad").c_str(), &why));
    EXPECT_NE(why.find(":2: unknown control 'wheelie'"), std::string::npos) << why;
    EXPECT_FALSE(sim_script_load(&bad, (dir / "long").c_str(), &why));
    EXPECT_NE(why.find("too long"), std::string::npos) << why;
    EXPECT_FALSE(sim_script_load(&bad, (dir / "missing").c_str(), &why));
    EXPECT_NE(why.find("can't open"), std::string::npos) << why;
}

// Runs kessrig-sim from the build's data directory; returns its exit code.
int run_sim(const std::string& args, std::string* out, std::string* err)
{
    test::temp_dir dir;
    const std::string data = test::build_data_dir();
    const std::string command = "KZ_HOME='" + data + "' '" + data + "/kessrig-sim' " + args + " >'" + (dir / "out") +
                                "' 2>'" + (dir / "err") + "'";
    const int status = std::system(command.c_str());
    *out = test::read_file(dir / "out");
    *err = test::read_file(dir / "err");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string last_line(const std::string& text)
{
    std::string t = text;
    while (!t.empty() && t.back() == '\n')
        t.pop_back();
    const size_t nl = t.rfind('\n');
    return nl == std::string::npos ? t : t.substr(nl + 1);
}

TEST(SimCommandLine, BenchEndsWithItsFigures)
{
    std::string out, err;
    ASSERT_EQ(run_sim("bench --bikes 3 --ticks 64", &out, &err), 0) << err;
    double rate = 0;
    int bikes = 0, ticks = 0, end = 0;
    const std::string line = last_line(out);
    ASSERT_EQ(sscanf(line.c_str(), "ticks_per_second=%lf bikes=%d ticks=%d%n", &rate, &bikes, &ticks, &end), 3)
        << out;
    EXPECT_EQ((size_t)end, line.size());
    EXPECT_GT(rate, 0.0);
    EXPECT_EQ(bikes, 3);
    EXPECT_EQ(ticks, 64);
}

TEST(SimCommandLine, RideFollowsItsScriptAndReports)
{
    std::string out, err;
    ASSERT_EQ(run_sim("ride --spot 420,1270,-1.5707964 --ticks 256 --print-every 128 --do '0 throttle=1'", &out,
                      &err),
              0)
        << err;
    EXPECT_NE(out.find("tick=128 t=1.000 bike=0 "), std::string::npos) << out;
    EXPECT_NE(out.find("tick=256 t=2.000 bike=0 "), std::string::npos) << out;
    EXPECT_EQ(last_line(out).rfind("ticks=256 bikes=1 ", 0), 0u) << out;
    // Moving east, under way.
    const size_t at = out.find("tick=256 t=2.000 bike=0 ");
    ASSERT_NE(at, std::string::npos) << out;
    float x = 0, mph = 0;
    ASSERT_EQ(sscanf(out.c_str() + at, "tick=256 t=2.000 bike=0 x=%f y=%*f z=%*f mph=%f", &x, &mph), 2) << out;
    EXPECT_GT(x, 425.0f);
    EXPECT_GT(mph, 10.0f);
}

TEST(SimCommandLine, BadInputExitsWithOneAndSaysWhy)
{
    struct {
        const char* args;
        const char* says;
    } cases[] = {
        {"", "no mode"},
        {"fly", "unknown mode 'fly'"},
        {"bench --bikes 0", "--bikes"},
        {"bench --bikes 500", "--bikes"},
        {"bench --bikes", "needs a value"},
        {"bench --ticks -5", "--ticks"},
        {"ride --spot 1,2", "--spot"},
        {"ride --warp 9", "unknown option '--warp'"},
        {"ride --track no_such_track --ticks 1", "can't load track 'no_such_track'"},
        // The loader's own message reaches standard error too.
        {"ride --track no_such_track --ticks 1", "Can't open '@no_such_track/terrain.hf'"},
        {"ride --model nope --ticks 1", "unknown bike model 'nope'"},
        {"ride --do '1 throttle=max'", "throttle=max"},
        {"ride --script /no/such/script", "can't open script"},
    };
    for (const auto& c : cases) {
        std::string out, err;
        EXPECT_EQ(run_sim(c.args, &out, &err), 1) << c.args;
        EXPECT_NE(err.find(c.says), std::string::npos) << c.args << ": " << err;
    }
    std::string out, err;
    EXPECT_EQ(run_sim("--help", &out, &err), 0);
    EXPECT_NE(out.find("bench --bikes N"), std::string::npos);
}

// ---- kessrig-sim with --follow-track ----------------------------------------------------

TEST(SimFollowTrack, RidesALapFromTheGate)
{
    std::string out, err;
    ASSERT_EQ(run_sim("ride --follow-track --laps 1 --ticks 40000 --print-every 0", &out, &err), 0) << err << out;
    const size_t at = out.find("bike=0 ");
    ASSERT_NE(at, std::string::npos) << out;
    const size_t end_state = out.rfind("tick=");
    ASSERT_NE(end_state, std::string::npos);
    const std::string line = out.substr(end_state, out.find('\n', end_state) - end_state);
    EXPECT_NE(line.find(" crashes=0 "), std::string::npos) << line;
    EXPECT_NE(line.find(" laps=1 "), std::string::npos) << line;
}

TEST(SimFollowTrack, RefusesWhatItCannotFollow)
{
    std::string out, err;
    EXPECT_EQ(run_sim("ride --laps 2", &out, &err), 1);
    EXPECT_NE(err.find("--laps needs --follow-track"), std::string::npos) << err;
    // A copy of the default track given by path, without its centre line
    // and with heights that cannot be read: it loads (flat, with a warning
    // on standard error) but cannot be followed.
    test::temp_dir copy;
    const std::string original = test::build_data_dir() + "/rabbithill";
    for (const auto& entry : std::filesystem::directory_iterator(original)) {
        const std::string name = entry.path().filename().string();
        if (name != "centreline" && name != "terrain.png")
            std::filesystem::create_symlink(entry.path(), copy / name);
    }
    test::write_file(copy / "terrain.png", "not a picture");
    EXPECT_EQ(run_sim("ride --follow-track --ticks 10 --track " + copy.path, &out, &err), 1);
    EXPECT_NE(err.find("track '" + copy.path + "' has no centre line"), std::string::npos) << err;
    EXPECT_NE(err.find("Warning: can't read heights from '" + copy.path + "/terrain.png'; the terrain is flat"),
              std::string::npos)
        << err;
    EXPECT_EQ(run_sim("ride --ticks 10 --track " + copy.path, &out, &err), 0) << err;
    EXPECT_EQ(run_sim("ride --follow-track --cruise 0", &out, &err), 1);
    EXPECT_NE(err.find("--cruise"), std::string::npos) << err;
}

}  // namespace
