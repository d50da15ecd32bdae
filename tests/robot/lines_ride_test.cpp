// Racing lines recorded from riders on the default track through the real
// world tick: a lap fills one slot per row and its identical replay is
// rejected as a duplicate, learn mode writes the file at the reset and at
// the end (and only in learn mode), a section with a crash in it records nothing, a line slower
// than what a full row would give up is refused.
#include <gtest/gtest.h>

#include <set>

#include "bike/contact.h"
#include "robot_test_util.h"

namespace {

using robot_test::count_of;
using robot_test::k_second_lap_gate;
using robot_test::track_world;

TEST(Recording, AHumanLapFillsOneSlotPerRowAndItsReplayIsADuplicate)
{
    track_world tw(true);
    ASSERT_TRUE(tw.start(1, 0, 2, 3));
    ASSERT_TRUE(tw.run_until([&] { return tw.passed(18, 1, k_second_lap_gate); }, 400.0));
    const line_table& t = tw.rs->lines;
    ASSERT_EQ(t.row_count, 64);
    ASSERT_EQ(t.first_sections, 32);
    for (int row = 0; row < t.row_count; row++)
        ASSERT_EQ(lines_in_row(&t, row), row < 32 ? 1 : 0) << row;
    const racing_line& first = t.rows[0].lines[0];
    // The first section starts with the wait at the gate (four points a
    // second), but its times count from the drop.
    EXPECT_GT(first.point_count, 4 * 13);
    EXPECT_GT(first.time_first, 0);
    EXPECT_LT(first.time_first, 20 * RACE_TICKS_PER_SECOND);
    for (int row = 1; row < 32; row++) {
        const racing_line& l = t.rows[row].lines[0];
        EXPECT_GT(l.point_count, 3) << row;
        EXPECT_GT(l.time_first, 0) << row;
        EXPECT_GT(l.time_total, l.time_first) << row;
        EXPECT_EQ(l.runs, 0);
    }
    EXPECT_EQ(count_of(tw.log_text(), "auto pilot: "), 32);
    EXPECT_FALSE(test::file_exists(tw.lines_file()));

    // The next reset writes the file (learn mode) and reads it back; the
    // same ride again adds nothing.
    ASSERT_TRUE(tw.start(1, 0, 2, 3));
    ASSERT_TRUE(test::file_exists(tw.lines_file()));
    EXPECT_FALSE(test::file_exists(tw.lines_file() + ".new"));
    // Nothing but finished files beside it: no temporary file is left.
    const std::string lines = tw.lines_file();
    for (const std::string& name : test::folder_names(lines.substr(0, lines.rfind('/'))))
        EXPECT_EQ(name.find(".tmp"), std::string::npos) << name;
    EXPECT_EQ(test::read_file(tw.lines_file()).rfind("ct03 64\n", 0), 0u);
    for (int row = 0; row < 32; row++)
        ASSERT_EQ(lines_in_row(&t, row), 1) << row;
    ASSERT_TRUE(tw.run_until([&] { return tw.passed(18, 1, k_second_lap_gate); }, 400.0));
    for (int row = 0; row < t.row_count; row++)
        EXPECT_EQ(lines_in_row(&t, row), row < 32 ? 1 : 0) << row;
    const std::string log = tw.log_text();
    EXPECT_EQ(count_of(log, "rejected (duplicate)"), 32) << log;
    EXPECT_EQ(count_of(log, "evicting"), 0) << log;

    // What is learnt after the last reset is saved when the world ends.
    tw.rs->lines.rows[7].lines[0].runs = 12345;
    world_destroy(tw.w);
    tw.w = world_create();
    EXPECT_NE(test::read_file(tw.lines_file()).find(" 12345 "), std::string::npos);
}

TEST(Recording, ACrashedSectionAndALineSlowerThanAFullRowGivesAreNotStored)
{
    track_world tw(false);
    ASSERT_TRUE(tw.start(1, 0, 2, 3));
    line_table* t = &tw.rs->lines;
    // Row 10 full of lines that cost a full row almost nothing to keep;
    // row 12 full of lines slow enough to give one up.
    const line_point far[2] = {{0, 0, 0, 40, 1.5f}, {10, 0, 0, 40, 1.5f}};
    std::set<int> filled[2];
    for (int i = 0; i < LINES_PER_ROW; i++) {
        filled[0].insert(lines_store(t, 10, i, far, 2, 32, 64)->serial);
        filled[1].insert(lines_store(t, 12, i, far, 2, 100000, 200000)->serial);
    }
    bike* b = tw.at(18);
    const track_timing* timing = &tw.w->track.timing_gates;
    // A crash a second into section 5.
    bool crashed = false;
    ASSERT_TRUE(tw.run_until(
        [&] {
            if (!crashed && line_section_at(timing, b->gate_progress) == 5 &&
                tw.w->race.tick - gate_time(b, b->gate_progress - 1) == RACE_TICKS_PER_SECOND) {
                bike_start_crash(b, &tw.w->track.heightfield);
                crashed = true;
            }
            return tw.passed(18, 1, 14);
        },
        300.0));
    ASSERT_TRUE(crashed);
    EXPECT_GT(b->crash_count, 0);
    for (int row = 0; row < 14; row++) {
        if (row != 5 && row != 10 && row != 12) {
            EXPECT_EQ(lines_in_row(t, row), 1) << row;
        }
    }
    EXPECT_EQ(lines_in_row(t, 5), 0);
    // Row 10 kept every line it had; row 12 gave its first slot up.
    for (int i = 0; i < LINES_PER_ROW; i++)
        EXPECT_EQ(filled[0].count(t->rows[10].lines[i].serial), 1u) << i;
    EXPECT_EQ(filled[1].count(t->rows[12].lines[0].serial), 0u);
    EXPECT_EQ(t->rows[12].lines[0].runs, 0);
    EXPECT_GT(t->rows[12].lines[0].point_count, 2);
    for (int i = 1; i < LINES_PER_ROW; i++)
        EXPECT_EQ(filled[1].count(t->rows[12].lines[i].serial), 1u) << i;
    const std::string log = tw.log_text();
    EXPECT_NE(log.find("auto pilot: 10 rejected (too slow)"), std::string::npos) << log;
    EXPECT_NE(log.find("auto pilot: evicting 12 (times: 781.25 1562.50 tested (0 0): 0.00 0.00 repl: "),
              std::string::npos)
        << log;

    // Without learn mode nothing is written, at a reset or at the end.
    ASSERT_TRUE(tw.start(1, 0, 1, 3));
    world_destroy(tw.w);
    tw.w = world_create();
    EXPECT_FALSE(test::file_exists(tw.lines_file()));
}

TEST(Recording, ATimeTrialsLinesAreTimedByTheRideNotTheClock)
{
    // The time trial's clock starts five minutes in, its rider short of the
    // lap line: what it records is timed by its own gates.
    track_world tw(false);
    ASSERT_TRUE(world_reset(tw.w, nullptr, nullptr, false, 0, 1000, 0));
    bike* b = tw.at(0);
    ASSERT_NE(b, nullptr);
    std::string why;
    ASSERT_TRUE(test_riders_add(tw.riders.get(), tw.w, 0, 30.0f, &why)) << why;
    EXPECT_EQ(tw.w->race.slots[0].driver, slot_driver_local);
    scripted_rider& rider = tw.riders->riders[0];
    const int from = b->gate_progress;
    for (int t = 0; t < 60 * RACE_TICKS_PER_SECOND && b->gate_progress < from + 5; t++) {
        ride_command_apply(scripted_rider_drive(&rider, b), b);
        world_tick(tw.w);
    }
    ASSERT_GE(b->gate_progress, from + 5);
    const line_table& t = tw.rs->lines;
    int lines = 0;
    for (int row = 0; row < t.row_count; row++)
        for (const racing_line& l : t.rows[row].lines)
            if (l.points) {
                lines++;
                EXPECT_GT(l.time_first, 0) << row;
                EXPECT_LT(l.time_total, 20 * RACE_TICKS_PER_SECOND) << row;
            }
    EXPECT_GE(lines, 2);
}

}  // namespace
