// kessrig-sim series: a short points series raced by robots through the
// series start, the world reset and tick and the game's scoring; the same
// seed gives the same standings file and hash, for any thread count; a
// finished series starts again; a field of another size keeps standings of
// its own; bad input is refused with a message.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

struct sim_run {
    int status = -1;
    std::string out, err;
};

sim_run run_series(const std::string& args, const std::string& home)
{
    test::temp_dir dir;
    const std::string data = test::build_data_dir();
    const std::string command = "XDG_DATA_HOME='" + home + "' KZ_HOME='" + data + "' '" + data +
                                "/kessrig-sim' series " + args + " >'" + (dir / "out") + "' 2>'" + (dir / "err") + "'";
    sim_run r;
    const int status = std::system(command.c_str());
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = test::read_file(dir / "out");
    r.err = test::read_file(dir / "err");
    return r;
}

std::vector<std::string> lines_starting(const std::string& text, const std::string& prefix)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        if (line.compare(0, prefix.size(), prefix) == 0)
            out.push_back(line);
    return out;
}

std::string field(const std::string& line, const std::string& key)
{
    const std::string padded = " " + line;
    const size_t at = padded.find(" " + key + "=");
    if (at == std::string::npos)
        return "";
    const size_t from = at + key.size() + 2;
    return padded.substr(from, padded.find(' ', from) - from);
}

// Two one-lap events, one round: a heat (no points, neither moto nor
// round points, so the round is classified by the final alone) and a final
// that scores the round.
const char* const k_series =
    "\"Short Cup\"\n3 Novice\n22 27 31\n2\n"
    "\"Heat\" rabbithill 0 1\n"
    "0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0\n"
    "0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0\n"
    "\"Final\" stadium 0 1\n"
    "25 22 20 18 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0\n"
    "25 22 20 18 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0\n";

// Every standings line holds a finishing position for each of `riders`,
// every place given once.
void expect_whole_results(const std::string& standings, int riders, size_t events)
{
    std::istringstream in(standings);
    std::string line;
    size_t count = 0;
    while (std::getline(in, line)) {
        std::istringstream numbers(line);
        std::vector<int> places;
        int p;
        while (numbers >> p)
            places.push_back(p);
        std::sort(places.begin(), places.end());
        ASSERT_EQ((int)places.size(), riders) << line;
        for (int i = 0; i < riders; i++)
            EXPECT_EQ(places[(size_t)i], i + 1) << line;
        count++;
    }
    EXPECT_EQ(count, events);
}

TEST(SimSeries, TheSameSeedGivesTheSameStandingsOnAnyThreadCountAndTheSeriesStartsAgain)
{
    test::temp_dir files, home1, home2, home3;
    const std::string file = files / "short.series";
    test::write_file(file, k_series);
    const std::string args = "--series '" + file + "' --events 2 --seed 7";
    const sim_run a = run_series(args, home1.path);
    const sim_run b = run_series(args, home2.path);
    const sim_run c = run_series(args + " --threads 2", home3.path);
    ASSERT_EQ(a.status, 0) << a.err;
    ASSERT_EQ(b.status, 0) << b.err;
    ASSERT_EQ(c.status, 0) << c.err;

    const std::vector<std::string> events = lines_starting(a.out, "event=");
    ASSERT_EQ(events.size(), 2u) << a.out;
    EXPECT_EQ(field(events[0], "track"), "rabbithill");
    EXPECT_EQ(field(events[1], "track"), "stadium");
    for (const std::string& e : events) {
        // One-lap robot races end with final results well inside their limit.
        EXPECT_EQ(field(e, "final"), "yes") << e;
        EXPECT_LT(std::stod(field(e, "sim_seconds")), 400.0) << e;
        EXPECT_NE(field(e, "winner"), "none") << e;
    }

    const std::string standings = test::read_file(home1.path + "/Kessrig/short.series_standings");
    expect_whole_results(standings, 4, 2);
    EXPECT_EQ(test::read_file(home2.path + "/Kessrig/short.series_standings"), standings);
    EXPECT_EQ(test::read_file(home3.path + "/Kessrig/short.series_standings"), standings);
    const std::vector<std::string> done = lines_starting(a.out, "series_done ");
    ASSERT_EQ(done.size(), 1u) << a.out;
    const std::string hash = field(done[0], "standings_hash");
    EXPECT_EQ(hash.size(), 16u);
    EXPECT_EQ(lines_starting(b.out, "standings_hash=" + hash).size(), 1u) << b.out;
    EXPECT_EQ(lines_starting(c.out, "standings_hash=" + hash).size(), 1u) << c.out;
    EXPECT_EQ(field(done[0], "nan"), "none");
    EXPECT_GT(std::stol(field(done[0], "peak_kb")), 0);

    // Only the final scores the round: its winner leads with 25 and the
    // points given are the round's table.
    const std::vector<std::string> rows = lines_starting(a.out, "standing ");
    ASSERT_EQ(rows.size(), 4u) << a.out;
    int total = 0;
    for (const std::string& r : rows)
        total += std::stoi(field(r, "points"));
    EXPECT_EQ(total, 25 + 22 + 20 + 18);
    EXPECT_EQ(field(rows[0], "rider"), field(events[1], "winner"));
    EXPECT_EQ(field(rows[0], "points"), "25");

    // The standings in the home are carried on: the series was run, so the
    // next event starts it again with the points reset.
    const sim_run again = run_series("--series '" + file + "' --events 1 --seed 7", home1.path);
    ASSERT_EQ(again.status, 0) << again.err;
    const std::vector<std::string> next = lines_starting(again.out, "event=");
    ASSERT_EQ(next.size(), 1u) << again.out;
    EXPECT_EQ(field(next[0], "cycle"), "2");
    EXPECT_EQ(field(next[0], "series_event"), "1");
    expect_whole_results(test::read_file(home1.path + "/Kessrig/short.series_standings"), 4, 1);
}

TEST(SimSeries, AnotherFieldSizeRacesRosterRobotsAndKeepsItsOwnStandings)
{
    test::temp_dir files, home;
    const std::string file = files / "short.series";
    test::write_file(file, k_series);
    const sim_run r = run_series("--series '" + file + "' --robots 5 --events 1 --seed 2", home.path);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(test::file_exists(home.path + "/Kessrig/short.series_standings"));
    expect_whole_results(test::read_file(home.path + "/Kessrig/short-5robots.series_standings"), 6, 1);
    std::vector<std::string> riders;
    for (const std::string& row : lines_starting(r.out, "standing "))
        riders.push_back(field(row, "rider"));
    std::sort(riders.begin(), riders.end());
    // The series' own numbers, then the first free ones of the roster.
    EXPECT_EQ(riders, (std::vector<std::string>{"20", "21", "22", "27", "31", "player"}));
}

TEST(SimSeries, BadInputIsRefusedWithAMessage)
{
    test::temp_dir files, home;
    test::write_file(files / "broken.series", "\"Broken\"\n2 Novice\n22\n");
    test::write_file(files / "elsewhere.series",
                     "\"Elsewhere\"\n1 Novice\n22\n1\n\"Moto\" nosuchtrack 0 1\n"
                     "25 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0\n"
                     "25 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0\n");
    const struct {
        std::string args, message;
    } cases[] = {
        {"--series nosuchseries", "no series 'nosuchseries'"},
        {"--series '" + (files / "missing.series") + "'", "can't open the series file"},
        {"--series '" + (files / "broken.series") + "'", "is not a series file"},
        {"--series '" + (files / "elsewhere.series") + "'", "is not a series file"},
        {"--hours 1 --events 2", "give one of them"},
        {"--robots 0", "--robots: expected 1 to 159"},
        {"--hours -1", "--hours: expected"},
        {"--check-every x", "--check-every: expected"},
        {"--seed", "needs a value"},
    };
    for (const auto& c : cases) {
        const sim_run r = run_series(c.args, home.path);
        EXPECT_EQ(r.status, 1) << c.args;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << c.args << ": " << r.err;
        EXPECT_EQ(lines_starting(r.out, "event=").size(), 0u) << c.args;
    }
}

}  // namespace
