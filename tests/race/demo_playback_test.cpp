// Demo playback of a recorded race: every rider where the race had him at
// every recorded tick, the same ranking at the end, rewind and skip that
// replay the same states, "Race Against" and riders without states.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "demo_race_util.h"

using namespace demo_test;

namespace {

// One race of three scripted riders, recorded once for every test here.
struct shared_race {
    test::temp_dir dir;
    recorded_race race;
    bool ok = false;
};
shared_race* g_shared = nullptr;

class DemoPlayback : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        g_shared = new shared_race();
        game_data data;
        g_shared->ok = record_race(g_shared->dir / "race.kzdemo", 3, &g_shared->race);
    }
    static void TearDownTestSuite()
    {
        delete g_shared;
        g_shared = nullptr;
    }

    game_data data;
    const recorded_race& race = g_shared->race;

    void SetUp() override { ASSERT_TRUE(g_shared->ok); }

    // Plays the race's demo from its start.
    void start(const std::string& file = "")
    {
        int lineup[RACE_SLOTS];
        demo_playback_lineup(playback_only, nullptr, lineup);
        ASSERT_TRUE(world_reset(tw, lineup, file.empty() ? race.file.c_str() : file.c_str(), false, 0, 10, 0));
        ASSERT_TRUE(demo_playing(tw));
        ASSERT_EQ(tw->race.start_tick, race.start_tick);
    }

    // The riders against the race at the tick they were just posed for.
    // Returns false when the tick was not one the race recorded.
    bool check(int tick, float* worst)
    {
        const auto it = race.positions.find(tick);
        if (it == race.positions.end())
            return false;
        for (int i = 0; i < race.riders; i++) {
            const bike* b = tw->race.slots[i].b;
            const vec3 p = bike_frame_position(b), q = it->second[(size_t)i];
            const float d = std::sqrt((p.x - q.x) * (p.x - q.x) + (p.y - q.y) * (p.y - q.y) + (p.z - q.z) * (p.z - q.z));
            if (d > *worst)
                *worst = d;
            EXPECT_LT(d, 0.002f) << "rider " << i << " at tick " << tick;
        }
        return true;
    }

    // World ticks until `until`, checking every recorded tick on the way.
    int play_to(int until, float* worst)
    {
        int checked = 0;
        while (tw->race.tick < until) {
            const int posed = tw->race.tick;
            world_tick(tw);
            checked += check(posed, worst) ? 1 : 0;
        }
        return checked;
    }

    std::vector<std::string> result_numbers() const
    {
        std::vector<std::string> out;
        for (int i = 0; i < tw->race.results_count; i++)
            out.push_back(tw->race.slots[tw->race.results_ranking[i].slot].b->number_text);
        return out;
    }
};

TEST_F(DemoPlayback, EveryRiderIsWhereTheRaceHadHimAndTheRankingIsTheRaces)
{
    start();
    ASSERT_EQ(demo_rider_count(tw), race.riders);
    for (int i = 0; i < race.riders; i++) {
        EXPECT_EQ(tw->race.slots[i].driver, slot_driver_recorded);
        EXPECT_STREQ(tw->race.slots[i].rider.model, race.models[(size_t)i].c_str());
        EXPECT_STREQ(tw->race.slots[i].rider.name, "Roborider");
    }
    float worst = 0;
    const int checked = play_to(race.end_tick + 1, &worst);
    // Every recorded tick from the reset on, the race's last one included.
    EXPECT_EQ(checked, (int)race.positions.size());
    EXPECT_TRUE(tw->race.results_final);
    EXPECT_EQ(result_numbers(), race.numbers);
    // Each gate passed within a tick or two of the race.
    for (int i = 0; i < race.riders; i++) {
        const bike* b = tw->race.slots[i].b;
        ASSERT_EQ(b->gate_progress, (int)race.gate_ticks[(size_t)i].size());
        for (int k = 0; k < b->gate_progress; k++)
            EXPECT_NEAR(gate_time(b, k), race.gate_ticks[(size_t)i][(size_t)k], 2) << "rider " << i << " gate " << k;
    }
    RecordProperty("worst_ft", std::to_string(worst));

    // The file is done: a second after the last state the riders are gone.
    EXPECT_TRUE(is_visible(tw, 0));
    play_to(tw->race.tick + 140, &worst);
    EXPECT_TRUE(demo_at_end(tw));
    for (int i = 0; i < race.riders; i++) {
        EXPECT_FALSE(is_visible(tw, i));
        EXPECT_EQ(bike_fade(tw, i), 0.0f);
    }
}

TEST_F(DemoPlayback, RewindingAtTick100GoesBackToTheStart)
{
    start();
    float worst = 0;
    play_to(100, &worst);
    ASSERT_TRUE(seek_demo(tw, -1));
    // Tick 0 was posed by the one world tick the seek runs.
    EXPECT_EQ(tw->race.tick, 1);
    check(0, &worst);
    EXPECT_TRUE(history_has_state(tw, 0, 0, 0));
    const int checked = play_to(race.start_tick + 5 * RACE_TICKS_PER_SECOND, &worst);
    EXPECT_GT(checked, (race.start_tick + 5 * RACE_TICKS_PER_SECOND) / 4 - 2);
}

TEST_F(DemoPlayback, SkipAndRewindReplayTheSameStatesAndGates)
{
    start();
    float worst = 0;
    // A gate the first rider passes a while after the start.
    ASSERT_GE(race.gate_ticks[0].size(), 4u);
    const int gate = 3;
    const int passed = race.gate_ticks[0][gate];
    ASSERT_GT(passed, race.start_tick + 2 * RACE_TICKS_PER_SECOND);

    play_to(passed - 3 * RACE_TICKS_PER_SECOND, &worst);
    const int before = tw->race.tick;
    ASSERT_TRUE(seek_demo(tw, 1));
    EXPECT_EQ(tw->race.tick, before + RACE_TICKS_PER_SECOND);
    play_to(passed + 100, &worst);
    EXPECT_GT(tw->race.slots[0].b->gate_progress, gate);

    // Back three seconds: the gate is taken back and passed again.
    const int at = tw->race.tick;
    ASSERT_TRUE(seek_demo(tw, -3));
    const int c = at - 3 * RACE_TICKS_PER_SECOND - 1;
    EXPECT_EQ(tw->race.tick, c + 1);
    EXPECT_LE(tw->race.slots[0].b->gate_progress, gate);
    EXPECT_FALSE(tw->race.results_final);
    for (int i = 0; i < race.riders; i++) {
        const bike* b = tw->race.slots[i].b;
        for (int k = 0; k < b->gate_progress; k++)
            EXPECT_LE(gate_time(b, k), c);
    }
    play_to(passed + 200, &worst);
    EXPECT_NEAR(gate_time(tw->race.slots[0].b, gate), passed, 2);

    // Back and forth again, then on to the end: the same race.
    ASSERT_TRUE(seek_demo(tw, -2));
    ASSERT_TRUE(seek_demo(tw, -2));
    ASSERT_TRUE(seek_demo(tw, 1));
    play_to(race.end_tick + 1, &worst);
    EXPECT_TRUE(tw->race.results_final);
    EXPECT_EQ(result_numbers(), race.numbers);
    EXPECT_LT(worst, 0.002f);
}

TEST_F(DemoPlayback, RaceAgainstTheDefaultRecordingLeavesItAlone)
{
    const std::string bytes = test::read_file(race.file);
    test::write_file(data.home_file("demos/default.kzdemo"), bytes);
    test::write_file(data.home_file("demos/other.kzdemo"), bytes);
    clear_messages();

    int gates[40] = {};
    gates[5] = lineup_player;
    ASSERT_TRUE(play_demo_race(tw, "@demos/default.kzdemo", playback_race_against, true, 0, gates));
    EXPECT_TRUE(said("Can't record and play from same file - recording disabled"));
    EXPECT_FALSE(demo_recording(tw));
    EXPECT_EQ(tw->race.player_slot, 5);
    EXPECT_EQ(tw->race.slots[5].driver, slot_driver_local);
    // The demo's riders fill the other slots in file order.
    for (int slot : {0, 1, 2})
        EXPECT_EQ(tw->race.slots[slot].driver, slot_driver_recorded) << slot;
    EXPECT_EQ(tw->race.slots[3].b, nullptr);
    for (int i = 0; i < 200; i++)
        world_tick(tw);
    // A ghost beside the player's standing bike fades with its distance.
    const vec3 a = bike_frame_position(tw->race.slots[0].b), p = bike_frame_position(tw->race.slots[5].b);
    const float d = std::sqrt((a.x - p.x) * (a.x - p.x) + (a.y - p.y) * (a.y - p.y) + (a.z - p.z) * (a.z - p.z));
    EXPECT_FLOAT_EQ(bike_fade(tw, 0), ghost_fade(d, 10.0f));
    EXPECT_EQ(bike_fade(tw, 5), 1.0f);
    EXPECT_EQ(test::read_file(data.home_file("demos/default.kzdemo")), bytes);
    EXPECT_FALSE(seek_demo(tw, -1));  // the player rides: no seeking

    // Another file is raced against and the ride recorded.
    clear_messages();
    ASSERT_TRUE(play_demo_race(tw, "@demos/other.kzdemo", playback_race_against, true, 0, nullptr));
    EXPECT_FALSE(said("Can't record"));
    EXPECT_TRUE(demo_recording(tw));
    EXPECT_EQ(tw->race.player_slot, 0);
    for (int i = 0; i < 100; i++)
        world_tick(tw);
    finish_recording(tw);
    const std::string mine = test::read_file(data.home_file("demos/default.kzdemo"));
    EXPECT_EQ(mine.compare(0, 7, "KZ06 1 "), 0) << mine.substr(0, 40);

    // "Playback Only" never records.
    ASSERT_TRUE(play_demo_race(tw, "@demos/other.kzdemo", playback_only, true, 0, nullptr));
    EXPECT_FALSE(demo_recording(tw));
    EXPECT_EQ(tw->race.player_slot, -1);
}

TEST_F(DemoPlayback, ARiderWithoutStatesIsHiddenAndTheOthersRide)
{
    // The race's demo with a fourth rider in its header who never rode.
    std::string bytes = test::read_file(race.file);
    const size_t at = data_start(bytes, race.riders);
    ASSERT_EQ(bytes.compare(0, 7, "KZ06 3 "), 0);
    bytes = "KZ06 4 " + bytes.substr(7, at - 7) + "rm125||||\n99\nNobody\n\n" + bytes.substr(at);
    test::write_file(data.home_file("demos/four.kzdemo"), bytes);

    start("@demos/four.kzdemo");
    ASSERT_NE(tw->race.slots[3].b, nullptr);
    EXPECT_STREQ(tw->race.slots[3].b->number_text, "99");
    float worst = 0;
    play_to(race.start_tick + 2 * RACE_TICKS_PER_SECOND, &worst);
    EXPECT_FALSE(is_visible(tw, 3));
    EXPECT_EQ(bike_fade(tw, 3), 0.0f);
    EXPECT_TRUE(is_visible(tw, 0));
    EXPECT_EQ(bike_fade(tw, 0), 1.0f);  // nobody rides live: nothing to fade by
    EXPECT_LT(worst, 0.002f);
}

}  // namespace
