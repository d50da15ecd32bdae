// The time trial on the default track: the restart place, laps ridden by
// the scripted rider becoming the ghost that rides the next lap where the
// recorded lap went, faded by its distance; and which laps may become the
// ghost at all.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "demo_race_util.h"

using namespace demo_test;

namespace {

// One world tick; the tick is noted in lap_ends when the player's lap
// ended in it (a lap's end puts him back at the lap line: his gate progress
// is the only thing that ever goes back).
void tick_noting_lap_ends(std::vector<int>* lap_ends)
{
    const bike* b = tw->race.slots[0].b;
    const int before = b ? b->gate_progress : 0;
    world_tick(tw);
    if (b && b->gate_progress < before)
        lap_ends->push_back(tw->race.tick);
}

float distance(const bike* a, const bike* b)
{
    const vec3 p = bike_frame_position(a), q = bike_frame_position(b);
    return std::sqrt((p.x - q.x) * (p.x - q.x) + (p.y - q.y) * (p.y - q.y) + (p.z - q.z) * (p.z - q.z));
}

class TimeTrial : public ::testing::Test {
protected:
    game_data data;
    const track_timing* timing = nullptr;
    int F = 0, N = 0;

    void SetUp() override
    {
        snprintf(tw->race.settings.track, sizeof tw->race.settings.track, "rabbithill");
        ASSERT_TRUE(world_reset(tw, nullptr, nullptr, false, 0, 1000, 0));
        timing = &tw->track.timing_gates;
        F = timing->first_count;
        N = timing->normal_count;
        ASSERT_GT(F, 0);
        ASSERT_GT(N, 1);
    }

    std::string track_file(const char* name) const { return data.home_file(std::string("rabbithill/") + name); }
};

TEST_F(TimeTrial, TheRiderRestartsShortOfTheLapLineAlone)
{
    EXPECT_TRUE(tw->race.time_trial);
    EXPECT_EQ(tw->race.tick, TIME_TRIAL_START_TICK);
    bike* b = tw->race.slots[0].b;
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(tw->race.slots[0].driver, slot_driver_local);
    const int k = F > 3 ? F - 3 : 0;
    EXPECT_EQ(b->gate_progress, k);
    const timing_gate& g = timing->checkpoints[race_gate_checkpoint(timing, k)];
    // The bike's origin stands on the checkpoint; its frame rides that far
    // behind the origin, back along the gate's direction.
    const vec3 p = bike_frame_position(b);
    const float back = b->params.frame_pos.z, len = std::hypot(g.direction.x, g.direction.z);
    ASSERT_GT(len, 0.0f);
    EXPECT_NEAR(p.x, g.position.x - back * g.direction.x / len, 0.25f);
    EXPECT_NEAR(p.z, g.position.z - back * g.direction.z / len, 0.25f);
    // Facing along the checkpoint: the bike's forward axis (-z) turned to
    // the world lies along the gate's direction.
    const dReal* r = bike_frame_rotation(b);
    const float fx = (float)-r[2], fz = (float)-r[10];
    EXPECT_GT(fx * g.direction.x + fz * g.direction.z, 0.95f * std::hypot(g.direction.x, g.direction.z));
    EXPECT_FALSE(demo_recording(tw));
    EXPECT_FALSE(demo_playing(tw));
    for (int slot = 1; slot < RACE_SLOTS; slot++)
        EXPECT_EQ(tw->race.slots[slot].b, nullptr);
}

TEST_F(TimeTrial, TwoScriptedLapsMakeTheGhostThatRidesTheThirdFadedByDistance)
{
    std::vector<int> lap_ends;

    std::unique_ptr<test_riders> riders(new test_riders());
    test_riders& field = *riders;
    ASSERT_TRUE(script_slot(&field, 0, 30.0f, false));
    bike* player = tw->race.slots[0].b;
    scripted_rider& rider = field.riders[0];

    // The out-lap, then a whole lap whose positions the ghost must repeat.
    std::map<int, vec3> lap_two;  // by ticks since the lap began
    const int limit = tw->race.tick + 12 * 60 * RACE_TICKS_PER_SECOND;
    while (lap_ends.size() < 2 && tw->race.tick < limit) {
        ride_command_apply(scripted_rider_drive(&rider, player), player);
        tick_noting_lap_ends(&lap_ends);
        if (lap_ends.size() == 1 && (tw->race.tick % 4 == 0 || tw->race.tick == lap_ends[0]))
            lap_two[tw->race.tick - lap_ends[0]] = bike_frame_position(player);
    }
    ASSERT_EQ(lap_ends.size(), 2u) << "the scripted rider did not complete two laps";
    EXPECT_FALSE(tw->race.slots[1].b == nullptr);
    EXPECT_TRUE(test::file_exists(track_file("fastlap.kzdemo")));
    EXPECT_TRUE(test::file_exists(track_file("lastlap.kzdemo")));
    EXPECT_GT(tw->race.last_lap_time, 60.0);
    EXPECT_EQ(tw->race.best_lap_time, tw->race.last_lap_time);
    EXPECT_EQ(tw->race.slots[1].driver, slot_driver_recorded);
    EXPECT_TRUE(demo_recording(tw));
    EXPECT_EQ(demo_version(tw), 6);

    // The third lap, slower: the ghost rides the second one again, from the
    // lap line, and pulls away.
    rider.settings.cruise_speed = 20.0f * 1.4666666666666666f;
    rider_plan_speeds(field.path, rider.settings, &rider.target_speed);
    const int lap_start = lap_ends[1];
    int compared = 0;
    float lowest = 2, highest = -1;
    bool between = false;
    while (tw->race.tick < lap_start + 40 * RACE_TICKS_PER_SECOND) {
        ride_command_apply(scripted_rider_drive(&rider, player), player);
        const int posed = tw->race.tick;
        world_tick(tw);
        const bike* ghost = tw->race.slots[1].b;
        ASSERT_NE(ghost, nullptr);
        const auto it = lap_two.find(posed - lap_start);
        if (it != lap_two.end()) {
            const vec3 p = bike_frame_position(ghost), q = it->second;
            EXPECT_LT(std::sqrt((p.x - q.x) * (p.x - q.x) + (p.y - q.y) * (p.y - q.y) + (p.z - q.z) * (p.z - q.z)),
                      0.002f)
                << "ghost at lap tick " << posed - lap_start;
            compared++;
        }
        EXPECT_TRUE(is_visible(tw, 1));
        const float fade = bike_fade(tw, 1);
        EXPECT_FLOAT_EQ(fade, ghost_fade(distance(ghost, player), 10.0f));
        lowest = std::fmin(lowest, fade);
        highest = std::fmax(highest, fade);
        between = between || (fade > 0.0f && fade < 1.0f);
    }
    EXPECT_GT(compared, 40 * RACE_TICKS_PER_SECOND / 4 - 2);
    EXPECT_EQ(lowest, 0.0f);   // together at the lap line: not drawn
    EXPECT_EQ(highest, 1.0f);  // far ahead: solid
    EXPECT_TRUE(between);
    EXPECT_EQ(bike_fade(tw, 0), 1.0f);
}

TEST_F(TimeTrial, ALapWithASkippedGateNeverBecomesTheGhost)
{
    bike* player = tw->race.slots[0].b;
    auto ride = [&](int from, int to, int skipped) {
        for (int k = from; k <= to; k++) {
            tw->race.tick += 100;
            set_gate_time(player, k, k == skipped ? -1 : tw->race.tick);
        }
        set_gate_progress(player, to + 1);
    };
    auto lap_end = [&](int laps_before) { time_trial_lap_end(tw, laps_before, -1); };
    const std::string fastlap = track_file("fastlap.kzdemo"), lastlap = track_file("lastlap.kzdemo");

    // The out-lap makes no ghost: nothing was recorded yet.
    ride(player->gate_progress, F - 1, -1);
    lap_end(0);
    EXPECT_FALSE(test::file_exists(fastlap));
    EXPECT_TRUE(demo_recording(tw));
    EXPECT_EQ(tw->race.best_lap_time, 0.0);

    // A clean lap is the first ghost.
    ride(F - 1, F + N - 1, -1);
    // The lap being recorded takes the last lap's name only once it ends.
    const std::string out_lap = test::read_file(lastlap);
    lap_end(1);
    std::string recorded = test::read_file(lastlap);
    EXPECT_NE(recorded, out_lap);
    EXPECT_EQ(recorded.compare(0, 4, "KZ06"), 0);
    EXPECT_EQ(test::read_file(fastlap), recorded);
    const double first = tw->race.last_lap_time;
    EXPECT_DOUBLE_EQ(first, N * 100.0 / RACE_TICKS_PER_SECOND);
    EXPECT_EQ(tw->race.best_lap_time, first);
    ASSERT_NE(tw->race.slots[1].b, nullptr);
    EXPECT_EQ(tw->race.slots[1].driver, slot_driver_recorded);

    // A faster lap that skipped a gate: no time, no ghost, no best.
    const std::string ghost = test::read_file(fastlap);
    tw->race.tick += 1000;
    set_gate_progress(player, F - 1);
    set_gate_time(player, F - 1, tw->race.tick);
    for (int k = F; k < F + N; k++)
        set_gate_time(player, k, k == F + 1 ? -1 : tw->race.tick + k - F + 1);
    set_gate_progress(player, F + N);
    lap_end(1);
    EXPECT_EQ(test::read_file(fastlap), ghost);
    EXPECT_EQ(tw->race.last_lap_time, 0.0);
    EXPECT_EQ(tw->race.best_lap_time, first);

    // A slower clean lap while the ghost is behind becomes the ghost; the
    // best stays.
    set_gate_progress(player, F - 1);
    ride(F - 1, F + N - 1, -1);
    tw->race.tick += 100;
    set_gate_time(player, F + N - 1, tw->race.tick);
    lap_end(1);
    recorded = test::read_file(lastlap);
    EXPECT_NE(test::read_file(fastlap), ghost);
    EXPECT_EQ(test::read_file(fastlap), recorded);
    EXPECT_GT(tw->race.last_lap_time, first);
    EXPECT_EQ(tw->race.best_lap_time, first);

    // With the ghost through the lap first, the lap stays the last lap only.
    const std::string kept = test::read_file(fastlap);
    set_gate_progress(player, F - 1);
    ride(F - 1, F + N - 1, -1);
    ASSERT_NE(tw->race.slots[1].b, nullptr);
    set_gate_progress(tw->race.slots[1].b, F + N);
    lap_end(1);
    EXPECT_EQ(test::read_file(fastlap), kept);

    // A restart ends it all.
    time_trial_restart(tw);
    EXPECT_FALSE(demo_recording(tw));
    EXPECT_FALSE(demo_playing(tw));
    EXPECT_EQ(tw->race.slots[1].b, nullptr);
    EXPECT_EQ(player->gate_progress, F > 3 ? F - 3 : 0);
    EXPECT_EQ(tw->race.last_lap_time, 0.0);
}

}  // namespace
