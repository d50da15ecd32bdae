// Timing gates: the file as read and written, race gate numbering, the
// crossing rules (skipped gates, lap ends, staying in a gate), laps, lap
// times, the best lap, the finish and the trackinfo file.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "bike/bike.h"
#include "bike/physics.h"
#include "core/messages.h"
#include "files/datafs.h"
#include "files/memory.h"
#include "race/gates.h"
#include "track/heightfield.h"
#include "track/objects.h"
#include "test_support.h"

namespace {

const double PI = 3.14159265358979323846;

// A bike record that only carries race progress: the crossing rules read
// nothing else when the wheel position is given.
struct rider {
    bike b;
    ~rider() { mem_free(b.gate_times.items); }
    std::vector<int> times() const { return std::vector<int>(b.gate_times.items, b.gate_times.items + b.gate_times.count); }
};

struct timing_file : ::testing::Test {
    test::temp_dir dir;
    track_timing t;
    void TearDown() override { timing_gates_clear(&t); }
    bool load(const std::string& text)
    {
        test::write_file(dir / "trk/timing_gates", text);
        return load_timing_gates(&t, (dir / "trk").c_str(), nullptr, 0);
    }
};

// Checkpoint c stands at (100 c, 0, 0), radius 10, crossed along +x: the
// first lap runs 0 1 2, every later lap 3 4 5 2, so checkpoint 2 is the
// finish line and lap ends are race gates 2, 6, 10, ...
const char* const course =
    "checkpoints:\n"
    "10 [0 0 0] [1 0 0]\n10 [100 0 0] [1 0 0]\n10 [200 0 0] [1 0 0]\n"
    "10 [300 0 0] [1 0 0]\n10 [400 0 0] [1 0 0]\n10 [500 0 0] [1 0 0]\n"
    "firstlap:\n0 1 2\nnormallap:\n3 4 5 2\n";

struct crossing : timing_file {
    rider r;
    gate_race race;
    void SetUp() override
    {
        ASSERT_TRUE(load(course));
        ASSERT_TRUE(timing_active(&t));
        race.race_laps = 5;
    }
    // Puts the front wheel just past checkpoint c's centre at tick.
    bool at(int c, int tick, float dz = 0.0f)
    {
        race.tick = tick;
        return check_gates_at(&t, &r.b, 100.0f * c + 1.0f, dz, race);
    }
    // Rides race gates 0 .. n - 1 in order, gate k at tick 100 (k + 1).
    void ride_to(int n)
    {
        for (int k = r.b.gate_progress; k < n; k++)
            ASSERT_TRUE(at(race_gate_checkpoint(&t, k), 100 * (k + 1))) << k;
    }
};

TEST_F(timing_file, ReadsPiecesCheckpointsAndSequencesWithMarkersAndClamping)
{
    ASSERT_TRUE(load("startinggate:\n"
                     "[10 0 20] 4.0\n"
                     "  [13.5 0.5 20] -1.5 @gate.qm\n"
                     "[17 0 20] 0.25 @g.qm null @g.shp\n"
                     "checkpoints:\n"
                     "12.5 [1 2 3] [0 0 1]\n"
                     "8 [ 40 0 50 ] [ -1 0 0 ]\n"
                     "8 [60 0 70] [1 0 1]\n"
                     "firstlap:\n0 -4 7 100001\n"
                     "normallap:\n1 100000 100002 100001 100000 2 100099 -100000\n"));
    ASSERT_EQ(t.piece_count, 3);
    EXPECT_FLOAT_EQ(t.pieces[0].angle, (float)(4.0 - 2 * PI));
    EXPECT_EQ(t.pieces[0].position.x, 10.0f);
    EXPECT_STREQ(t.pieces[0].model, "@startgate.qm");
    EXPECT_STREQ(t.pieces[0].texture, "@startgate.ppm");
    EXPECT_STREQ(t.pieces[0].shape, "@startgate.shp");
    EXPECT_FLOAT_EQ(t.pieces[1].position.y, 0.5f);
    EXPECT_FLOAT_EQ(t.pieces[1].angle, -1.5f);
    EXPECT_STREQ(t.pieces[1].model, "@gate.qm");
    EXPECT_STREQ(t.pieces[1].texture, "@startgate.ppm");
    EXPECT_EQ(t.pieces[2].texture, nullptr);
    EXPECT_STREQ(t.pieces[2].shape, "@g.shp");
    EXPECT_EQ(t.pieces[0].object, -1);  // no objects asked for

    ASSERT_EQ(t.checkpoint_count, 3);
    EXPECT_EQ(t.checkpoints[0].radius, 12.5f);
    EXPECT_EQ(t.checkpoints[1].position.z, 50.0f);
    EXPECT_EQ(t.checkpoints[1].direction.x, -1.0f);

    // Negative entries become 0; checkpoint parts are clamped to 0..2.
    EXPECT_EQ(t.first_count, 4);
    EXPECT_EQ(std::vector<int>(t.first_lap, t.first_lap + 4), (std::vector<int>{0, 0, 2, 100001}));
    EXPECT_EQ(t.first_real, 3);
    // Five marked entries in a normal lap of eight.
    EXPECT_EQ(t.normal_count, 8);
    EXPECT_EQ(t.normal_real, 3);
    EXPECT_EQ(t.normal_lap[6], 100002);
    EXPECT_EQ(t.normal_lap[7], 0);
    EXPECT_EQ(timing_section_count(&t), 6);
    EXPECT_EQ(race_gate_checkpoint(&t, 3), 1);
    EXPECT_EQ(race_gate_entry(&t, 6), 100002);
    EXPECT_EQ(race_gate_checkpoint(&t, 6), 2);
    EXPECT_EQ(race_gate_checkpoint(&t, 4 + 8 * 3), 1);
}

TEST_F(timing_file, StartGateAloneOrBrokenTimingKeepsThePiecesWithoutLaps)
{
    const char* pieces = "startinggate:\n[10 0 20] 1.5\n[13.5 0 20] 1.5\n";
    ASSERT_TRUE(load(pieces));
    EXPECT_EQ(t.piece_count, 2);
    EXPECT_FALSE(timing_active(&t));
    EXPECT_EQ(t.checkpoint_count, 0);

    const std::vector<std::string> broken = {
        "checkpoints:\n10 [0 0 0] [1 0 0]\n10 [100 0 0] oops\nfirstlap:\n0\nnormallap:\n0\n",  // cut record
        "checkpoints:\n10 [0 0 0] [1 0 0]\n1e39 [100 0 0] [1 0 0]\nfirstlap:\n0\nnormallap:\n0\n",  // beyond float
        "checkpoints:\n10 [0 0 0] [1 0 0]\nfirstlap:\n100000\nnormallap:\n0\n",   // no real first-lap gate
        "checkpoints:\n10 [0 0 0] [1 0 0]\nfirstlap:\n0\n",                      // no normal lap
        "checkpoints:\n10 [0 0 0] [1 0 0]\nnormallap:\n0\n",                     // no first lap
        "checkpoints:\nfirstlap:\n0\nnormallap:\n0\n",                           // no checkpoint
    };
    for (const std::string& timing : broken) {
        ASSERT_TRUE(load(pieces + timing));
        EXPECT_EQ(t.piece_count, 2) << timing;
        EXPECT_FALSE(timing_active(&t)) << timing;
        EXPECT_EQ(t.checkpoint_count, 0) << timing;
        EXPECT_EQ(lap_count(&t, 50), 0);
        EXPECT_EQ(lap_end_gate(&t, 1), -1);
    }

    // Without the file: nothing at all.
    EXPECT_FALSE(load_timing_gates(&t, (dir / "none").c_str(), nullptr, 0));
    EXPECT_EQ(t.piece_count, 0);
}

TEST_F(timing_file, PiecesBeyondTheLastPlaceAreDroppedButTheCheckpointsStillCount)
{
    std::string text = "startinggate:\n";
    for (int i = 0; i < 170; i++)
        text += "[" + std::to_string(i * 3) + " 0 5] 0\n";
    text += "\n";  // a blank line before the next section is harmless
    text += course;
    ASSERT_TRUE(load(text));
    EXPECT_EQ(t.piece_count, START_GATE_MAX);
    EXPECT_EQ(t.pieces[159].position.x, 477.0f);
    EXPECT_TRUE(timing_active(&t));
    EXPECT_EQ(t.checkpoint_count, 6);

    // Only the first 256 checkpoints are kept; the rest break the file.
    std::string many = "checkpoints:\n";
    for (int i = 0; i < 300; i++)
        many += "5 [" + std::to_string(i) + " 0 0] [1 0 0]\n";
    ASSERT_TRUE(load(many + "firstlap:\n0\nnormallap:\n0\n"));
    EXPECT_EQ(t.checkpoint_count, 0);
    ASSERT_TRUE(load(many.substr(0, many.find("5 [256")) + "firstlap:\n0\nnormallap:\n255 300\n"));
    EXPECT_EQ(t.checkpoint_count, CHECKPOINT_MAX);
    EXPECT_EQ(t.normal_lap[1], 255);
}

TEST_F(timing_file, WritesWhatItReadsInTheFileLayout)
{
    ASSERT_TRUE(load(std::string("startinggate:\n[10 0 20] 4.0\n[13.5 0 20] -1.5 @gate.qm null @gate.shp\n") +
                     course));
    ASSERT_TRUE(save_timing_gates(&t, (dir / "out").c_str()));
    const std::string written = test::read_file(dir / "out/timing_gates");
    EXPECT_EQ(written.substr(0, written.find("10.000000 [100")),
              "startinggate:\n"
              "[10.000000 0.000000 20.000000] -2.283185\n"
              "[13.500000 0.000000 20.000000] -1.500000 @gate.qm null @gate.shp\n"
              "checkpoints:\n"
              "10.000000 [0.000000 0.000000 0.000000] [1.000000 0.000000 0.000000]\n");
    EXPECT_NE(written.find("firstlap:\n0 1 2 \nnormallap:\n3 4 5 2 \n"), std::string::npos);

    track_timing again;
    ASSERT_TRUE(load_timing_gates(&again, (dir / "out").c_str(), nullptr, 0));
    EXPECT_EQ(again.piece_count, 2);
    EXPECT_FLOAT_EQ(again.pieces[0].angle, t.pieces[0].angle);
    EXPECT_EQ(again.pieces[1].texture, nullptr);
    EXPECT_EQ(again.checkpoint_count, 6);
    EXPECT_EQ(again.normal_count, 4);
    timing_gates_clear(&again);

    // A directory that cannot hold the file.
    clear_messages();
    test::write_file(dir / "blocked", "a file, not a folder");
    EXPECT_FALSE(save_timing_gates(&t, (dir / "blocked").c_str()));
    EXPECT_STREQ(visible_message(0), "Can't open 'timing_gates'\n");
}

TEST_F(timing_file, GateObjectsStandThreeFeetAheadOfTheirPieces)
{
    heightfield hf;
    ASSERT_TRUE(heightfield_create(&hf, 4, 4.0f, nullptr));
    track_objects objects;
    statue_add(&objects, &hf, 1, 0, 1, 0, "null", "null", "null", nullptr);  // an object made before
    gate_object_target target;
    target.objects = &objects;
    target.hf = &hf;
    test::write_file(dir / "trk/timing_gates", "startinggate:\n[40 1.5 50] 0.5 null null null\n[60 0 50] -2 null @t.png null\n");
    ASSERT_TRUE(load_timing_gates(&t, (dir / "trk").c_str(), &target, 0));
    ASSERT_EQ(objects.statues.count, 3);
    EXPECT_EQ(t.pieces[0].object, 1);
    EXPECT_EQ(t.pieces[1].object, 2);
    const statue& s = objects.statues.items[1];
    EXPECT_FLOAT_EQ(s.x, 40.0f - 3.0f * sinf(0.5f));
    EXPECT_FLOAT_EQ(s.z, 50.0f - 3.0f * cosf(0.5f));
    EXPECT_FLOAT_EQ(s.y, 1.5f);  // flat ground at 0 plus the piece's height
    EXPECT_FLOAT_EQ(s.angle, 0.5f);
    EXPECT_STREQ(objects.statues.items[2].texture_name, "@t.png");
    track_objects_free(&objects);
    heightfield_free(&hf);
}

TEST_F(crossing, LapNumbersFollowTheTwoSequences)
{
    EXPECT_EQ(lap_end_gate(&t, 1), 2);
    EXPECT_EQ(lap_end_gate(&t, 2), 6);
    EXPECT_EQ(lap_end_gate(&t, 0), -1);
    EXPECT_EQ(lap_end_gate(&t, 1000000), 3 + 4 * 999999 - 1);
    EXPECT_EQ(lap_count(&t, 2), 0);
    EXPECT_EQ(lap_count(&t, 3), 1);
    EXPECT_EQ(lap_count(&t, 6), 1);
    EXPECT_EQ(lap_count(&t, 7), 2);
    for (int k = 0; k < 12; k++)
        EXPECT_EQ(is_lap_end_gate(&t, k), k == 2 || k == 6 || k == 10) << k;
    EXPECT_EQ(race_gate_checkpoint(&t, 6), 2);
    EXPECT_EQ(race_gate_checkpoint(&t, 7), 3);
    EXPECT_EQ(race_gate_checkpoint(&t, -1), -1);
}

TEST_F(crossing, GatesPassedInOrderAreStampedWithTheTick)
{
    EXPECT_TRUE(at(0, 50));
    EXPECT_EQ(r.b.gate_progress, 1);
    // On the near side of the line, or outside the circle: not inside.
    EXPECT_FALSE(check_gates_at(&t, &r.b, 99.0f, 0.0f, race));
    EXPECT_FALSE(check_gates_at(&t, &r.b, 101.0f, 10.5f, race));
    race.tick = 77;
    EXPECT_TRUE(check_gates_at(&t, &r.b, 106.0f, 8.0f, race));  // exactly on the circle counts
    EXPECT_EQ(r.times(), (std::vector<int>{50, 77}));
    EXPECT_EQ(r.b.gate_progress, 2);
}

TEST_F(crossing, SkippedGatesStayMissingAndCanBeCollectedLater)
{
    ride_to(3);
    ASSERT_EQ(r.b.gate_progress, 3);
    // Through race gate 5 without touching 3 and 4.
    EXPECT_TRUE(at(5, 900));
    EXPECT_EQ(r.times(), (std::vector<int>{100, 200, 300, -1, -1, 900}));
    EXPECT_EQ(r.b.gate_progress, 6);
    // Back into gate 3: stamped, and 4 and 5 count again from there.
    EXPECT_TRUE(at(3, 950));
    EXPECT_EQ(r.b.gate_progress, 4);
    EXPECT_EQ(gate_time(&r.b, 3), 950);
    EXPECT_EQ(gate_time(&r.b, 5), 900);
    EXPECT_TRUE(at(4, 960));
    EXPECT_TRUE(at(5, 970));
    EXPECT_EQ(r.times(), (std::vector<int>{100, 200, 300, 950, 960, 970}));
    EXPECT_EQ(r.b.gate_progress, 6);
    // With 3 and 4 recorded, riding back into them changes nothing.
    EXPECT_FALSE(at(3, 980));
    EXPECT_FALSE(at(4, 990));
    EXPECT_EQ(r.b.gate_progress, 6);
}

TEST_F(crossing, ABackwardGateCountsOnlyWhileAGateBeforeItIsMissing)
{
    ride_to(4);
    EXPECT_TRUE(at(5, 700));  // skips race gate 4 only
    EXPECT_EQ(r.times(), (std::vector<int>{100, 200, 300, 400, -1, 700}));
    EXPECT_FALSE(at(3, 710));  // gate 3 was passed and nothing before it is missing
    EXPECT_TRUE(at(4, 720));   // gate 4 was skipped
    EXPECT_EQ(r.b.gate_progress, 5);
}

TEST_F(crossing, StayingInsideTheGateJustPassedStampsNothing)
{
    ride_to(2);
    for (int tick = 300; tick < 310; tick++)
        EXPECT_FALSE(at(1, tick));
    EXPECT_EQ(r.times(), (std::vector<int>{100, 200}));
    EXPECT_EQ(r.b.gate_progress, 2);
    // Also while gates before it are missing (which would let a gate
    // behind the last one count).
    ride_to(3);
    EXPECT_TRUE(at(5, 900));
    for (int tick = 901; tick < 910; tick++)
        EXPECT_FALSE(at(5, tick));
    EXPECT_EQ(gate_time(&r.b, 5), 900);
    EXPECT_EQ(r.b.gate_progress, 6);
}

TEST_F(crossing, ALapEndGateCannotBeRiddenAround)
{
    ride_to(1);
    // Race gate 3 is two ahead, beyond the unpassed lap end (race gate 2).
    EXPECT_FALSE(at(3, 500));
    ride_to(5);
    // Race gate 7 (checkpoint 3) lies beyond lap end 6: ignored.
    EXPECT_FALSE(at(3, 900));
    EXPECT_EQ(r.b.gate_progress, 5);
    EXPECT_TRUE(at(2, 910));  // the lap end itself, skipping race gate 5
    EXPECT_EQ(gate_time(&r.b, 5), -1);
    EXPECT_EQ(r.b.gate_progress, 7);
    EXPECT_EQ(lap_count(&t, r.b.gate_progress), 2);
}

TEST_F(crossing, TheFinalLapEndFinishesTheRiderAndThenNothingCounts)
{
    race.race_laps = 2;
    ride_to(6);
    EXPECT_EQ(r.b.finished, 0);
    EXPECT_TRUE(at(2, 1000));  // race gate 6 ends lap 2
    EXPECT_EQ(r.b.finished, 1);
    EXPECT_FALSE(at(3, 1100));
    EXPECT_EQ(r.b.gate_progress, 7);
    // Moving back clears it; moving forward does not.
    set_gate_progress(&r.b, 9);
    EXPECT_EQ(r.b.finished, 1);
    set_gate_progress(&r.b, 5);
    EXPECT_EQ(r.b.finished, 0);
    EXPECT_EQ(r.times().size(), 5u);
}

TEST_F(crossing, ARiderBehindFinishesAtTheNextLapEndOnceTheLeaderIsHome)
{
    race.race_laps = 2;
    rider leader;
    for (int k = 0; k <= 6; k++)
        set_gate_time(&leader.b, k, 100 * (k + 1));
    leader.b.gate_progress = 7;
    race.leader = &leader.b;
    race.leader_progress = 7;

    ride_to(2);
    EXPECT_TRUE(at(2, 750));  // ends lap 1 after the leader finished
    EXPECT_EQ(r.b.finished, 1);

    // is_finished: at or after the leader's finishing tick (700).
    rider late, early;
    for (int k = 0; k <= 2; k++) {
        set_gate_time(&late.b, k, 700);
        set_gate_time(&early.b, k, 690);
    }
    late.b.gate_progress = early.b.gate_progress = 3;
    EXPECT_TRUE(is_finished(&t, &late.b, race));
    EXPECT_EQ(late.b.finished, 1);
    EXPECT_FALSE(is_finished(&t, &early.b, race));
    EXPECT_TRUE(is_finished(&t, &leader.b, race));
    // Before the leader has a time at the final lap end nobody is.
    leader.b.gate_times.items[6] = -1;
    EXPECT_FALSE(is_finished(&t, &early.b, race));
    race.leader = nullptr;
    EXPECT_FALSE(is_finished(&t, &early.b, race));
    EXPECT_TRUE(is_finished(&t, &late.b, race));  // sticky
}

TEST_F(crossing, LapTimesAndTheBestLapLeaveOutTheStart)
{
    const int start = 1792;
    // Lap ends: 2, 6, 10, 14 at these ticks; lap 3 has its end missing.
    const std::vector<std::pair<int, int>> ends = {{2, 1792 + 5000}, {6, 1792 + 9000}, {10, -1}, {14, 1792 + 15000}};
    for (auto& e : ends)
        set_gate_time(&r.b, e.first, e.second);
    r.b.gate_progress = 15;
    EXPECT_EQ(lap_count(&t, 15), 4);
    EXPECT_DOUBLE_EQ(lap_time(&t, &r.b, 1, start), 5000 / 128.0);
    EXPECT_DOUBLE_EQ(lap_time(&t, &r.b, 2, start), 4000 / 128.0);
    EXPECT_EQ(lap_time(&t, &r.b, 3, start), 0.0);
    EXPECT_EQ(lap_time(&t, &r.b, 4, start), 0.0);  // its start is missing
    EXPECT_EQ(lap_time(&t, &r.b, -1, start), 0.0);  // the current lap count: 4
    EXPECT_EQ(lap_time(&t, &r.b, 0, start), 0.0);
    EXPECT_EQ(best_lap(&t, &r.b, start), 2);

    // A best lap with no time gives way to any later lap with one.
    rider other;
    set_gate_time(&other.b, 2, 1792 + 1000);
    set_gate_time(&other.b, 10, 1792 + 20000);
    set_gate_time(&other.b, 14, 1792 + 23000);
    other.b.gate_progress = 15;
    EXPECT_EQ(best_lap(&t, &other.b, start), 4);
    other.b.gate_progress = 6;
    EXPECT_EQ(best_lap(&t, &other.b, start), 0);  // one lap: none
}

TEST_F(crossing, GateTimesGrowAndShrinkOnlyAsAsked)
{
    EXPECT_TRUE(set_gate_time(&r.b, 4, 321));
    EXPECT_EQ(r.times(), (std::vector<int>{-1, -1, -1, -1, 321}));
    EXPECT_EQ(gate_time(&r.b, 5), -1);
    EXPECT_EQ(gate_time(&r.b, -1), -1);
    EXPECT_FALSE(set_gate_time(&r.b, -1, 5));
    EXPECT_FALSE(set_gate_time(&r.b, GATE_TIMES_MAX, 5));  // a hostile gate number
    EXPECT_EQ(r.times().size(), 5u);
    set_gate_progress(&r.b, 2);
    EXPECT_EQ(r.times(), (std::vector<int>{-1, -1}));
    set_gate_progress(&r.b, -3);
    EXPECT_EQ(r.b.gate_progress, 0);
    EXPECT_TRUE(r.times().empty());
}

TEST_F(crossing, NoTimingDataMeansNoGatesAndNoLaps)
{
    timing_gates_clear(&t);
    EXPECT_FALSE(at(0, 10));
    EXPECT_EQ(r.b.gate_progress, 0);
    EXPECT_EQ(lap_count(&t, 10), 0);
    EXPECT_EQ(lap_time(&t, &r.b, 1, 0), 0.0);
    EXPECT_FALSE(is_finished(&t, &r.b, race));
}

// The crossing point is the front wheel's centre of a real bike.
TEST_F(crossing, TheFrontWheelCentreIsWhatCrosses)
{
    test::temp_dir home;
    test::scoped_env xdg("XDG_DATA_HOME", home.path.c_str());
    test::scoped_env kz("KZ_HOME", test::build_data_dir().c_str());
    free_file_index();
    build_file_index();
    test::physics();
    bike* b = create_bike(test::physics(), "crf250(2018)", 0, "1", nullptr, nullptr, nullptr, nullptr);
    // Only the front wheel is past checkpoint 0's line.
    dBodySetPosition(b->bodies[body_front_wheel], 2.0, 1.0, 0.0);
    race.tick = 42;
    EXPECT_TRUE(check_gates(&t, b, race));
    EXPECT_EQ(gate_time(b, 0), 42);
    dBodySetPosition(b->bodies[body_front_wheel], 99.0, 1.0, 0.0);  // short of checkpoint 1's line
    EXPECT_FALSE(check_gates(&t, b, race));
    destroy_bike(b);
    test::physics_reset();
    free_file_index();
}

TEST(trackinfo, SummarisesTheTrackInTheHomeDirectory)
{
    test::data_dirs_fixture dirs;
    track_timing t;
    t.first_count = 3;
    t.normal_count = 4;
    t.piece_count = 0;
    uint8_t digest[20];
    for (int i = 0; i < 20; i++)
        digest[i] = (uint8_t)(i * 13);
    clear_messages();
    ASSERT_TRUE(save_trackinfo("mudpit", "Mud Pit", &t, digest));
    EXPECT_EQ(test::read_file(dirs.home + "/mudpit.trackinfo"),
              "dir=mudpit\nlongname=Mud Pit\nfirstlap=3\nnormallap=4\ngatecount=0\n"
              "hash=000d1a2734414e5b6875828f9ca9b6c3d0ddeaf7\n");
    EXPECT_STREQ(visible_message(0), "Track info saved to mudpit.trackinfo");
}

}  // namespace
