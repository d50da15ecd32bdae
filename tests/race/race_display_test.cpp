// The heads-up display's race figures: time forms, the banner, the penalty
// line, and a rider alone on the default track riding three laps.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bike/bike.h"
#include "files/datafs.h"
#include "race/gates.h"
#include "race/race_display.h"
#include "race/world.h"
#include "test_support.h"

namespace {

TEST(race_display, texts_of_times_banner_and_penalties)
{
    char s[128];
    short_time_text(64.99, s, sizeof s);
    EXPECT_STREQ(s, "1:04.9");
    short_time_text(-3, s, sizeof s);
    EXPECT_STREQ(s, "0:00.0");
    long_time_text(128 * 75 + 64, s, sizeof s);
    EXPECT_STREQ(s, "1:15.500");
    race_length_text(10 * 60 * 128, 2, s, sizeof s);
    EXPECT_STREQ(s, "10 minutes + 2 laps");
    race_length_text(10 * 60 * 128 - 20 * 128, 0, s, sizeof s);
    EXPECT_STREQ(s, "10 minutes");
    race_length_text(0, 3, s, sizeof s);
    EXPECT_STREQ(s, "3 laps");
    EXPECT_FLOAT_EQ(banner_alpha(1.0), 1.0f);
    EXPECT_FLOAT_EQ(banner_alpha(2.5), 0.5f);
    EXPECT_FLOAT_EQ(banner_alpha(4.0), 0.0f);
    penalty_line("7", 1, 2.5, s, sizeof s);
    EXPECT_STREQ(s, "  7 penalized 1 lap 2.50 seconds for cutting track");
    penalty_line("123", 0, 0.25, s, sizeof s);
    EXPECT_STREQ(s, "123 penalized 0.25 seconds for cutting track");

    // Gaps: equal progress compares the last ticks, else the gate before
    // the lower progress; a missing tick gives 0.
    const int a_times[] = {100, 200, 300}, b_times[] = {110, 230};
    shown_rider a{3, 300, a_times, 3}, b{2, 230, b_times, 2};
    EXPECT_DOUBLE_EQ(rider_gap(a, b), 30.0 / 128);
    EXPECT_DOUBLE_EQ(rider_gap(b, a), -30.0 / 128);
    const int skipped[] = {110, -1};
    shown_rider c{2, 110, skipped, 2};
    EXPECT_DOUBLE_EQ(rider_gap(a, c), 0.0);
    shown_rider d{3, 320, a_times, 3};
    EXPECT_DOUBLE_EQ(rider_gap(a, d), 20.0 / 128);
}

TEST(race_display, lone_rider_laps_best_lap_and_clock)
{
    test::temp_dir home;
    test::scoped_env xdg{"XDG_DATA_HOME", home.path.c_str()};
    test::scoped_env kz{"KZ_HOME", test::build_data_dir().c_str()};
    build_file_index();
    world* w = world_create();
    std::vector<int> lineup(RACE_SLOTS, lineup_empty);
    lineup[0] = lineup_player;
    ASSERT_TRUE(world_reset(w, lineup.data(), nullptr, false, 0, 5, 0));
    bike* b = w->race.slots[0].b;
    ASSERT_TRUE(b);

    // Before the gate drops the clock shows zero.
    readout_input in;
    in.time_on = true;
    in.speed_on = true;
    in.speed = 1.4666666666666666 * 10;
    in.dabbing = true;
    char lines[READOUT_LINES_MAX][DISPLAY_TEXT_MAX];
    ASSERT_EQ(readout_lines(w, in, lines, READOUT_LINES_MAX), 3);
    EXPECT_STREQ(lines[0], "Time - 0:00.0 ");
    EXPECT_STREQ(lines[1], "Speed - 10.00");
    EXPECT_STREQ(lines[2], "Dabbing!");

    // Laps of 70.1 s, 65.2 s and 64.9 s (rounded up to whole ticks).
    const track_timing* t = &w->track.timing_gates;
    const int start = w->race.start_tick;
    const int lap_ticks[3] = {8973, 8346, 8308};
    int end = start;
    for (int lap = 1; lap <= 3; lap++) {
        const int first = lap == 1 ? 0 : lap_end_gate(t, lap - 1) + 1, last = lap_end_gate(t, lap);
        const int from = end;
        end += lap_ticks[lap - 1];
        for (int k = first; k <= last; k++)
            ASSERT_TRUE(set_gate_time(b, k, from + (int)((long)(end - from) * (k - first + 1) / (last - first + 1))));
    }
    set_gate_progress(b, lap_end_gate(t, 3) + 1);
    w->race.tick = end + 10;
    update_ranking(w);

    pit_board board;
    ASSERT_TRUE(pit_board_of(w, 0, &board));
    EXPECT_EQ(std::string(board.position), "L4 P1");
    EXPECT_STREQ(board.gap, "+0.0 ");
    EXPECT_STREQ(board.last, "Last - 1:04.9 ");
    EXPECT_STREQ(board.best, "Best - 1:04.9");
    EXPECT_STREQ(board.lapping, "");

    // Alone: the ticker has one entry without a gap; the lap board counts
    // the fourth of five laps.
    ticker_entry entries[4];
    ASSERT_EQ(ticker_entries_of(w, entries, 4), 1);
    EXPECT_EQ(std::string(entries[0].text).rfind("1 ", 0), 0u) << entries[0].text;
    char text[32];
    EXPECT_EQ(lap_board_of(w, text, sizeof text), lap_board_plain);
    EXPECT_STREQ(text, "Lap 4");
    EXPECT_NEAR(ticker_scroll(5.0, 1), 0.5, 1e-9);

    // No results table while nobody has finished.
    static results_table table;
    results_table_of(w, 0, &table);
    EXPECT_FALSE(table.shown);
    world_destroy(w);
    free_file_index();
}

TEST(race_display, suspension_rings_clear_on_the_wrap_after_a_reset)
{
    static suspension_graph g;
    const float ones[SUSPENSION_GRAPH_TRACES] = {1, 1, 1, 1, 1, 1};
    for (int i = 0; i < SUSPENSION_GRAPH_SAMPLES + 3; i++)
        suspension_graph_push(&g, ones);
    EXPECT_EQ(g.index, 3);
    EXPECT_EQ(g.samples[5][SUSPENSION_GRAPH_SAMPLES - 1], 1.0f);
    g.reset = true;
    const float twos[SUSPENSION_GRAPH_TRACES] = {2, 2, 2, 2, 2, 2};
    for (int i = 3; i < SUSPENSION_GRAPH_SAMPLES + 1; i++)
        suspension_graph_push(&g, twos);
    // Wrapped to 0 with the reset pending: everything older is gone.
    EXPECT_EQ(g.index, 1);
    EXPECT_EQ(g.samples[0][0], 2.0f);
    EXPECT_EQ(g.samples[0][5], 0.0f);
    EXPECT_FALSE(g.reset);
}

}  // namespace
