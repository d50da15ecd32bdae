// The line table without a ride: the lines file read and written (every
// statistic kept, another row count loading nothing, broken files keeping
// what came before the fault, counts bounded before allocating), the
// folding of large statistics, eviction with its protection of good lines,
// the connection rule, the plan costs and lap plans, and the thinning of
// crowded first-lap rows.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "files/stream.h"
#include "platform/log.h"
#include "robot/lines.h"
#include "test_support.h"
#include "track/timing_gates.h"

namespace {

// A table for a track of `first` first-lap and `lap` lap sections.
struct table {
    line_table t;
    explicit table(int first = 2, int lap = 2)
    {
        static track_timing timing;
        timing.checkpoint_count = 1;
        timing.first_count = first;
        timing.normal_count = lap;
        timing.first_real = first;
        timing.normal_real = lap;
        lines_rebuild(&t, &timing);
    }
    ~table() { lines_free(&t); }
    racing_line& at(int row, int slot) { return t.rows[row].lines[slot]; }
};

// A straight line of n points from (x, z) heading along (dx, dz), 10 ft
// apart, at speed.
std::vector<line_point> straight(float x, float z, float dx, float dz, int n = 5, float speed = 40.0f)
{
    std::vector<line_point> p;
    for (int i = 0; i < n; i++)
        p.push_back(line_point{x + dx * 10.0f * (float)i, 20.0f, z + dz * 10.0f * (float)i, speed, 1.5f});
    return p;
}

racing_line* put(table& tb, int row, int slot, const std::vector<line_point>& p, int first = 600, int total = 1200)
{
    return lines_store(&tb.t, row, slot, p.data(), (int)p.size(), first, total);
}

// A stream over text, as the loader reads a file.
struct text_stream {
    std::string text;
    FILE* f = nullptr;
    data_stream s;
    explicit text_stream(const std::string& t) : text(t)
    {
        f = fmemopen(text.empty() ? (void*)"" : (void*)text.data(), text.size(), "rb");
        if (!f || !start_stream(&s, f, 0, STREAM_WHOLE_FILE, false, false))
            ADD_FAILURE() << "can't open the text";
    }
    ~text_stream() { end_stream(&s); }
};

std::string written(const line_table& t)
{
    char* text = nullptr;
    size_t length = 0;
    FILE* out = open_memstream(&text, &length);
    data_stream s;
    EXPECT_TRUE(out && start_stream(&s, out, 0, STREAM_WHOLE_FILE, false, false));
    EXPECT_TRUE(lines_write(&t, &s));
    end_stream(&s);
    std::string result(text, length);
    free(text);
    return result;
}

struct logged {
    test::temp_dir dir;
    std::string path = dir / "log.txt";
    test::scoped_env env{"VORN_LOGFILE", path.c_str()};
    logged() { log_reset_for_tests(); }
    ~logged() { log_reset_for_tests(); }
    std::string text()
    {
        log_close();
        const std::string t = test::read_file(path);
        log_reset_for_tests();
        return t;
    }
};

TEST(LinesFile, RoundTripKeepsEveryStatisticAndAnotherRowCountLoadsNothing)
{
    table a;
    racing_line* l = put(a, 1, 0, straight(100, 200, 1, 0, 7), 640, 1300);
    l->runs = 9;
    l->best_first = 600;
    l->best_total = 1250;
    l->sum_first = 5500;
    l->sum_total = 11800;
    l->failures = 4;
    put(a, 1, 3, straight(100, 230, 1, 0, 3), 700, 1400);
    put(a, 3, 44, straight(300, 200, 0, 1, 2), 10, 20);
    const std::string text = written(a.t);
    EXPECT_EQ(text.rfind("ct03 4\n0\n2\n7 640 1300 9 600 1250 5500 11800 4\n[100.000000 20.000000 200.000000] 40.000000 "
                         "1.500000\n",
                         0),
              0u)
        << text;

    table b;
    text_stream in(text);
    EXPECT_EQ(lines_read(&b.t, &in.s, "round trip"), 3);
    // Each row's lines fill its slots from the first.
    const racing_line& r = b.at(1, 0);
    ASSERT_EQ(r.point_count, 7);
    EXPECT_EQ(r.time_first, 640);
    EXPECT_EQ(r.time_total, 1300);
    EXPECT_EQ(r.runs, 9);
    EXPECT_EQ(r.best_first, 600);
    EXPECT_EQ(r.best_total, 1250);
    EXPECT_EQ(r.sum_first, 5500);
    EXPECT_EQ(r.sum_total, 11800);
    EXPECT_EQ(r.failures, 4);
    EXPECT_FLOAT_EQ(r.points[6].x, 160.0f);
    EXPECT_FLOAT_EQ(r.points[6].speed, 40.0f);
    EXPECT_EQ(b.at(1, 1).point_count, 3);
    EXPECT_EQ(b.at(3, 0).point_count, 2);
    EXPECT_EQ(lines_in_row(&b.t, 3), 1);
    // Serials are new ones, all different.
    EXPECT_NE(b.at(1, 0).serial, b.at(1, 1).serial);
    EXPECT_NE(b.at(1, 1).serial, b.at(3, 0).serial);
    EXPECT_EQ(written(b.t), text);

    // Written for a layout of five sections: nothing at all.
    logged log;
    table c(3, 2);
    text_stream other(text);
    EXPECT_EQ(lines_read(&c.t, &other.s, "other"), -1);
    for (int row = 0; row < c.t.row_count; row++)
        EXPECT_EQ(lines_in_row(&c.t, row), 0);
    EXPECT_NE(log.text().find("Lines file 'other' is for 4 sections, the track has 5: not used"), std::string::npos);
}

TEST(LinesFile, BrokenFilesKeepTheLinesBeforeTheFaultAndSaySo)
{
    const std::string good = "ct03 4\n1\n2 10 20 0 1000000 1000000 0 0 0\n[1 2 3] 4 5\n[6 7 8] 9 10\n";
    struct broken {
        const char* what;
        std::string text;
        int kept;  // lines read; -1 for a file not used at all
    } cases[] = {
        {"a word for a number", good + "1\n2 ten 20 0 0 0 0 0 0\n", 1},
        {"a number too large for a float", good + "1\n1 10 20 0 0 0 0 0 0\n[1e999 2 3] 4 5\n", 1},
        {"not a number", good + "1\n1 10 20 0 0 0 0 0 0\n[nan 2 3] 4 5\n", 1},
        {"infinite", good + "1\n1 10 20 0 0 0 0 0 0\n[1 2 3] inf 5\n", 1},
        {"a negative count", good + "-1\n", 1},
        {"a negative statistic", good + "1\n1 10 20 -3 0 0 0 0 0\n[1 2 3] 4 5\n", 1},
        // Claims two billion points: refused before anything is allocated.
        {"too many points", good + "1\n2000000000 10 20 0 0 0 0 0 0\n[1 2 3] 4 5\n", 1},
        {"more points than a line holds", good + "1\n8193 10 20 0 0 0 0 0 0\n[1 2 3] 4 5\n", 1},
        {"cut in a point", good + "1\n2 10 20 0 0 0 0 0 0\n[1 2 3] 4 5\n[6 7", 1},
        {"cut before its rows", good, 1},
        {"cut in a header", good + "1\n2 10 20 0", 1},
        {"no header", "ct02 4\n" + good.substr(7), -1},
        {"empty", "\n", -1},
    };
    for (const broken& c : cases) {
        logged log;
        table tb;
        text_stream in(c.text);
        EXPECT_EQ(lines_read(&tb.t, &in.s, "broken"), c.kept) << c.what;
        int lines = 0;
        for (int row = 0; row < tb.t.row_count; row++)
            lines += lines_in_row(&tb.t, row);
        EXPECT_EQ(lines, c.kept < 0 ? 0 : c.kept) << c.what;
        if (c.kept > 0) {
            EXPECT_EQ(tb.at(0, 0).point_count, 2) << c.what;
            EXPECT_EQ(tb.at(0, 0).points[1].height, 10.0f) << c.what;
        }
        const std::string said = log.text();
        EXPECT_TRUE(said.find("Lines file 'broken' is broken") != std::string::npos ||
                    said.find("Lines file 'broken' has no") != std::string::npos)
            << c.what << ": " << said;
    }
}

TEST(LinesFile, LargeStatisticsFoldIntoRangeKeepingTheMeanTime)
{
    racing_line l;
    l.runs = 200000;
    l.failures = 300000;
    l.sum_first = 200000LL * 700;
    l.sum_total = 200000LL * 1500;
    lines_fold_statistics(&l);
    EXPECT_LE(l.runs, 65535);
    EXPECT_LE(l.failures, 65535);
    EXPECT_LE(l.sum_total, 100000000);
    EXPECT_EQ(l.sum_total / l.runs, 1500);
    EXPECT_EQ(l.sum_first / l.runs, 700);
    // The failure ratio survives roughly: both were halved together.
    EXPECT_NEAR((double)l.failures / l.runs, 1.5, 0.01);

    // A mean that would not fit even after sixteen halvings is cut.
    racing_line huge;
    huge.runs = 1;
    huge.sum_total = 5000000000LL;
    lines_fold_statistics(&huge);
    EXPECT_EQ(huge.sum_total, 100000000);

    // What is written always fits the file's integers.
    table tb;
    racing_line* w = put(tb, 0, 0, straight(0, 0, 1, 0, 2));
    w->runs = 1000000;
    w->sum_total = 1000000LL * 3000;
    w->sum_first = 1000000LL * 1000;
    const std::string text = written(tb.t);
    table back;
    text_stream in(text);
    ASSERT_EQ(lines_read(&back.t, &in.s, "folded"), 1);
    EXPECT_LE(back.at(0, 0).runs, 65535);
    EXPECT_EQ(back.at(0, 0).sum_total / back.at(0, 0).runs, 3000);
}

TEST(LineTable, EvictionSparesGoodLinesWhileFewerThanTwentyThreeExist)
{
    table tb;
    // 45 lines starting a foot apart (none unique): the first 22 good and
    // slow, the rest bad (as many failures as runs) and fast.
    for (int i = 0; i < LINES_PER_ROW; i++) {
        racing_line* l = put(tb, 0, i, straight(0, (float)i, 1, 0, 3), 600, 1200);
        l->runs = 10;
        if (i < 22) {
            l->sum_total = 10LL * 5000;  // slow: the costliest
        } else {
            l->sum_total = 10LL * (1000 + i);
            l->failures = 10;
        }
    }
    int cost = 0;
    // Only bad lines may go; the costliest of them is the last.
    EXPECT_EQ(line_eviction_victim(&tb.t, 0, &cost), 44);
    EXPECT_EQ(cost, 1044 + 640 * 10 / 20);

    // A 23rd good line lifts the protection: the slowest good line goes.
    tb.at(0, 30).failures = 0;
    EXPECT_EQ(line_eviction_victim(&tb.t, 0, &cost), 0);
    EXPECT_EQ(cost, 5000);

    // A line starting where no other does is worth a third more.
    for (int i = 0; i < LINES_PER_ROW; i++)
        tb.at(0, i).sum_total = 10LL * 2000;
    tb.at(0, 7).points[0].z = 500.0f;
    tb.at(0, 7).sum_total = 10LL * 2500;
    EXPECT_EQ(line_eviction_victim(&tb.t, 0, &cost), 22);  // bad lines cost 5 s more
    tb.at(0, 7).sum_total = 10LL * 9000;
    EXPECT_EQ(line_eviction_victim(&tb.t, 0, &cost), 7);
    EXPECT_EQ(cost, 9000 * 3 / 4);

    // Untested lines cost their recorded time and a quarter.
    racing_line untested;
    untested.time_total = 1000;
    EXPECT_EQ(line_eviction_cost(&untested), 1250);
    untested.failures = 1;
    EXPECT_EQ(line_eviction_cost(&untested), 1250 + 640);
}

TEST(LineTable, PlanCostsRankSpeedFailuresAndExploration)
{
    racing_line l;
    l.runs = 4;
    l.sum_first = 4 * 700;
    EXPECT_EQ(line_cost(&l, 0), 1000000.0);  // fewer than five runs
    EXPECT_EQ(line_cost(&l, 2), 0.0);        // tried, never failed
    l.runs = 6;
    l.sum_first = 6 * 700;
    l.failures = 2;
    EXPECT_NEAR(line_cost(&l, 0), 700 + 0.25 * 640, 1e-6);
    EXPECT_NEAR(line_cost(&l, 1), 700 + 0.25 * 1.1428572 * 640, 1e-3);
    EXPECT_NEAR(line_cost(&l, 2), 1.0, 1e-9);  // four times the failure ratio, at most 1
    l.failures = 60;
    EXPECT_NEAR(line_cost(&l, 1), 700 + 640, 1e-6);  // ratio capped at 1

    // Exploration: untested lines cost nothing, each doubling of tries
    // another second, lines that mostly fail are avoided.
    racing_line e;
    EXPECT_EQ(line_cost(&e, 3), 0.0);
    e.runs = 1;
    EXPECT_EQ(line_cost(&e, 3), 5000.0);
    e.runs = 3;
    e.failures = 1;  // 3 + 4 = 7: three bits
    EXPECT_EQ(line_cost(&e, 3), 7000.0);
    e.runs = 1;
    e.failures = 6;
    EXPECT_EQ(line_cost(&e, 3), 100000.0);
}

TEST(LineTable, LapPlansChainConnectedLinesAroundTheLap)
{
    // Two first-lap rows and two lap rows, each of four straight sections
    // along +x; the lap rows join up into a cycle only through matching
    // lines.
    table tb(2, 2);
    auto tested = [](racing_line* l, int mean) {
        l->runs = 10;
        l->sum_first = 10LL * mean;
        l->sum_total = 20LL * mean;
    };
    // First lap: row 0 then row 1, two lanes (z 0 and z 20).
    tested(put(tb, 0, 0, straight(0, 0, 1, 0)), 500);
    tested(put(tb, 0, 1, straight(0, 20, 1, 0)), 400);
    tested(put(tb, 1, 0, straight(50, 0, 1, 0)), 300);   // follows lane 0 only
    tested(put(tb, 1, 1, straight(50, 20, 1, 0)), 900);  // follows lane 20 only
    EXPECT_TRUE(lines_connect(&tb.at(0, 0), &tb.at(1, 0)));
    EXPECT_FALSE(lines_connect(&tb.at(0, 0), &tb.at(1, 1)));
    // Too fast an end for a slow start does not connect either.
    std::vector<line_point> slow = straight(50, 0, 1, 0, 5, 20.0f);
    racing_line* s = put(tb, 1, 2, slow);
    EXPECT_FALSE(lines_connect(&tb.at(0, 0), s));
    lines_evict(&tb.t, 1, 2);

    // The lap: rows 2 and 3 on a loop (out along +x, back along -x).
    tested(put(tb, 2, 0, straight(0, 100, 1, 0)), 800);
    tested(put(tb, 2, 5, straight(0, 140, 1, 0)), 100);  // cheap, but nothing follows it
    tested(put(tb, 3, 0, straight(40, 100, 1, 0)), 800);
    // Row 3's line ends where row 2's begins only when the loop closes: a
    // straight back onto the start, as a lap around a circle would.
    std::vector<line_point> back = straight(40, 100, 1, 0);
    for (line_point& p : back)
        p.x -= 40.0f;
    lines_store(&tb.t, 3, 1, back.data(), (int)back.size(), 600, 1200);
    tested(&tb.at(3, 1), 700);

    tb.t.debug = 1;
    logged log;
    lines_compute_plans(&tb.t);
    const std::string said = log.text();
    // Lane 20 is quicker at first but ends in a slow section: lane 0 is
    // the cheaper chain (500 + 300 < 400 + 900).
    EXPECT_EQ(lap_plan(&tb.t, 0, 0), tb.at(0, 0).serial);
    EXPECT_EQ(lap_plan(&tb.t, 0, 1), tb.at(1, 0).serial);
    // Around the lap only connected lines are chosen, however cheap the
    // line that leads nowhere.
    EXPECT_EQ(lap_plan(&tb.t, 0, 2), tb.at(2, 0).serial);
    EXPECT_NE(lap_plan(&tb.t, 0, 2), tb.at(2, 5).serial);
    EXPECT_NE(said.find("First lap: "), std::string::npos) << said;
    EXPECT_NE(said.find("Normal lap: "), std::string::npos) << said;

    // A robot's chain over the next sections ranks row 0's lines the same.
    double best[LINES_PER_ROW];
    lines_chain_costs(&tb.t, 0, 0, 2, best);
    EXPECT_DOUBLE_EQ(best[0], 800.0);
    EXPECT_DOUBLE_EQ(best[1], 1300.0);
    EXPECT_GT(best[2], 1e17);  // empty slot
}

TEST(LineTable, CrowdedFirstLapRowsAreThinnedCrossingLinesFirst)
{
    table tb(2, 2);
    // 45 parallel lines across row 0 and one diagonal crossing them all.
    for (int i = 0; i < LINES_PER_ROW - 1; i++)
        put(tb, 0, i, straight(0, (float)i * 2.0f, 1, 0, 6), 600, 1000 + i);
    std::vector<line_point> diagonal;
    for (int k = 0; k < 6; k++)
        diagonal.push_back(line_point{(float)k * 10.0f, 20.0f, (float)k * 18.0f - 1.0f, 40.0f, 1.5f});
    racing_line* cross = put(tb, 0, 44, diagonal, 600, 100);
    const int crossing = cross->serial;
    // The same crowd in a lap row stays.
    for (int i = 0; i < LINES_PER_ROW; i++)
        put(tb, 2, i, straight(0, (float)i * 2.0f, 1, 0, 6));

    lines_thin(&tb.t);
    EXPECT_LT(lines_in_row(&tb.t, 0), 44);
    EXPECT_EQ(line_by_serial(&tb.t, 0, crossing), -1);
    // The slowest of the parallel lines went with it.
    EXPECT_EQ(tb.at(0, 43).points, nullptr);
    EXPECT_EQ(lines_in_row(&tb.t, 2), LINES_PER_ROW);
}

}  // namespace
