// kessrig-sim race: a whole race on the default track through the game's
// world reset and world tick, to final results that the printed ranking and
// "@results.txt" agree on, the same for the same seed.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

struct sim_run {
    int status = -1;
    std::string out, err, results;
};

// Runs "kessrig-sim ARGS" on the build's data with home as its home.
sim_run run_sim(const std::string& args, const std::string& home)
{
    test::temp_dir dir;
    const std::string data = test::build_data_dir();
    const std::string command = "XDG_DATA_HOME='" + home + "' KZ_HOME='" + data + "' '" + data + "/kessrig-sim' " +
                                args + " >'" + (dir / "out") + "' 2>'" + (dir / "err") + "'";
    sim_run r;
    const int status = std::system(command.c_str());
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = test::read_file(dir / "out");
    r.err = test::read_file(dir / "err");
    if (test::file_exists(home + "/Kessrig/results.txt"))
        r.results = test::read_file(home + "/Kessrig/results.txt");
    return r;
}

sim_run run_race(const std::string& args, const std::string& home)
{
    return run_sim("race " + args, home);
}

std::vector<std::string> lines_of(const std::string& text, const char* separator = "\n")
{
    std::vector<std::string> out;
    size_t from = 0;
    const size_t step = std::string(separator).size();
    while (from < text.size()) {
        size_t to = text.find(separator, from);
        if (to == std::string::npos)
            to = text.size();
        out.push_back(text.substr(from, to - from));
        from = to + step;
    }
    return out;
}

std::string field(const std::string& line, const std::string& key)
{
    const size_t at = line.find(key + "=");
    if (at == std::string::npos)
        return "";
    const size_t from = at + key.size() + 1;
    return line.substr(from, line.find(' ', from) - from);
}

std::string trimmed(const std::string& text)
{
    const size_t a = text.find_first_not_of(' ');
    const size_t b = text.find_last_not_of(' ');
    return a == std::string::npos ? "" : text.substr(a, b - a + 1);
}

TEST(SimRace, FourScriptedRidersFinishALapAndTheResultsFileAgrees)
{
    test::temp_dir home1, home2;
    const std::string args = "--scripted 4 --laps 1 --seed 3 --date 1000000000";
    const sim_run first = run_race(args, home1.path);
    ASSERT_EQ(first.status, 0) << first.err << first.out;

    const std::vector<std::string> out = lines_of(first.out);
    ASSERT_FALSE(out.empty());
    float sim_seconds = 0, wall_seconds = 0;
    int finished = 0, riders = 0;
    ASSERT_EQ(sscanf(out.back().c_str(), "finished=%d riders=%d sim_seconds=%f wall_seconds=%f", &finished, &riders,
                     &sim_seconds, &wall_seconds),
              4)
        << out.back();
    EXPECT_EQ(finished, 4);
    EXPECT_EQ(riders, 4);
    // The gate drops after 13 to 15 s and a lap of the default track takes
    // a scripted rider a couple of minutes.
    EXPECT_GT(sim_seconds, 60.0f);
    EXPECT_LT(sim_seconds, 600.0f);

    // The ranking as printed.
    std::vector<std::string> numbers, totals;
    bool final = false;
    std::string results_path;
    for (const std::string& line : out) {
        if (line == "Final Results")
            final = true;
        if (line.compare(0, 4, "pos=") == 0) {
            numbers.push_back(field(line, "number"));
            totals.push_back(field(line, "total"));
            EXPECT_EQ(field(line, "laps"), "1") << line;
            EXPECT_EQ(field(line, "finished"), "yes") << line;
            EXPECT_EQ(field(line, "driver"), "scripted") << line;
        }
        if (line.compare(0, 8, "results=") == 0)
            results_path = line.substr(8);
    }
    EXPECT_TRUE(final);
    ASSERT_EQ(numbers.size(), 4u);
    EXPECT_EQ(results_path, home1.path + "/Kessrig/results.txt");

    // The results file: the same riders in the same order with the same
    // times, one lap each, and their gate times.
    const std::vector<std::string> rows = lines_of(first.results, "\r\n");
    ASSERT_GE(rows.size(), 6u) << first.results;
    EXPECT_EQ(rows[0], "Time=0.00|Laps=1|Track=rabbithill|Date=1000000000");
    for (size_t i = 0; i < 4; i++) {
        const std::vector<std::string> cells = lines_of(rows[2 + i], " | ");
        ASSERT_EQ(cells.size(), 6u) << rows[2 + i];
        EXPECT_EQ(trimmed(cells[0]), numbers[i]);
        EXPECT_EQ(trimmed(cells[2]), "1");
        EXPECT_EQ(trimmed(cells[3]), totals[i]);
    }
    EXPECT_EQ(rows[6], "");
    const int gates = atoi(rows[7].c_str());
    EXPECT_GT(gates, 10);
    std::istringstream times(rows[8]);
    double t = 0, last = 0;
    int count = 0;
    while (times >> t) {
        EXPECT_GT(t, last);
        last = t;
        count++;
    }
    EXPECT_EQ(count, gates);

    // The same seed gives the same race.
    const sim_run second = run_race(args, home2.path);
    ASSERT_EQ(second.status, 0) << second.err;
    EXPECT_EQ(second.results, first.results);
    std::vector<std::string> a = lines_of(first.out), b = lines_of(second.out);
    ASSERT_EQ(a.size(), b.size());
    for (size_t i = 0; i + 2 < a.size(); i++)  // the results path and the wall time differ
        EXPECT_EQ(a[i], b[i]);
}

sim_run run_demo(const std::string& file, const std::string& home)
{
    return run_sim("demo '" + file + "'", home);
}

// The first line of out that begins with prefix; empty when none does.
std::string line_starting(const std::string& out, const std::string& prefix)
{
    for (const std::string& line : lines_of(out))
        if (line.compare(0, prefix.size(), prefix) == 0)
            return line;
    return "";
}

// The race numbers of the final ranking, in ranking order.
std::vector<std::string> ranking_of(const std::string& out)
{
    std::vector<std::string> numbers;
    bool final = false;
    for (const std::string& line : lines_of(out)) {
        if (line == "Final Results")
            final = true;
        else if (final && line.compare(0, 4, "pos=") == 0)
            numbers.push_back(field(line, "number"));
    }
    return numbers;
}

TEST(SimRace, ARecordedRaceWithRutsIsTheSameFileTwiceAndPlaysBackToItsRanking)
{
    test::temp_dir home1, home2;
    const std::string args = "--scripted 3 --laps 1 --seed 2 --erode 100 --date 1000000000 --record ";
    const std::string file1 = home1.path + "/race.kzdemo", file2 = home2.path + "/race.kzdemo";
    const sim_run first = run_race(args + "'" + file1 + "'", home1.path);
    ASSERT_EQ(first.status, 0) << first.err << first.out;
    const sim_run second = run_race(args + "'" + file2 + "'", home2.path);
    ASSERT_EQ(second.status, 0) << second.err << second.out;

    const std::string demo = test::read_file(file1);
    ASSERT_GT(demo.size(), 1000u);
    EXPECT_EQ(demo.compare(0, 5, "KZ06 "), 0);
    EXPECT_TRUE(demo == test::read_file(file2)) << "the two recordings differ";
    const std::vector<std::string> raced = ranking_of(first.out);
    ASSERT_EQ(raced.size(), 3u) << first.out;

    const sim_run played = run_demo(file1, home1.path);
    ASSERT_EQ(played.status, 0) << played.err << played.out;
    EXPECT_EQ(ranking_of(played.out), raced) << played.out;
    // The ruts were recorded and dug again by the playback, to the same
    // heights.
    const std::string raced_terrain = line_starting(first.out, "terrain_changes=");
    const std::string played_terrain = line_starting(played.out, "terrain_changes=");
    ASSERT_FALSE(raced_terrain.empty()) << first.out;
    EXPECT_GT(atoi(field(raced_terrain, "terrain_changes").c_str()), 100) << raced_terrain;
    EXPECT_EQ(played_terrain, raced_terrain);
    const std::vector<std::string> out = lines_of(played.out);
    ASSERT_FALSE(out.empty());
    int ticks = 0, riders = 0;
    ASSERT_EQ(sscanf(out.back().c_str(), "ticks=%d riders=%d", &ticks, &riders), 2) << out.back();
    EXPECT_EQ(riders, 3);
    EXPECT_GT(ticks, 60 * 128);
    // The demo was only read.
    EXPECT_TRUE(test::read_file(file1) == demo);
}

TEST(SimRace, RefusesWhatItCannotDoWithAMessage)
{
    test::temp_dir home;
    struct refusal {
        const char* args;
        const char* says;
    } cases[] = {
        {"--skill wizard", "--skill"},
        {"--record ''", "needs a file name"},
        {"--erode 101", "--erode"},
        {"--scripted 0", "1 to 160 riders"},
        {"--scripted 100 --robots 61", "1 to 160 riders"},
        {"--scripted 4 --slot 158", "do not fit"},
        {"--laps 0", "--laps"},
        {"--seed -1", "--seed"},
        {"--laps", "needs a value"},
        {"--fast yes", "unknown option"},
        {"--track nowhere", "can't load track"},
        {"--track stadium --scripted 1 --laps 1 --max-seconds 20", "no final results"},
    };
    for (const refusal& c : cases) {
        const sim_run r = run_race(c.args, home.path);
        EXPECT_EQ(r.status, 1) << c.args;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << c.args << ": " << r.err;
    }
    const sim_run help = run_race("--help", home.path);
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--scripted N"), std::string::npos);
}

}  // namespace
