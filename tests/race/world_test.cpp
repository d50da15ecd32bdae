// Worlds as separate things: two worlds built from the same inputs never
// touch each other, give the same state bit for bit, also when they run on
// two threads at once, and a fixed ride on the default track keeps the
// state hash it had when the simulation was last changed on purpose.
#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

#include "demo_race_util.h"
#include "race/world.h"

namespace {

// A world with four test riders at the gate of the default track, with
// erosion, the generator seeded by `seed`.
struct scripted_world {
    world* w = nullptr;
    std::unique_ptr<test_riders> riders{new test_riders()};

    explicit scripted_world(int seed, int threads = 1)
    {
        world_settings settings;
        settings.threads = threads;
        w = world_create(settings);
        test_riders_install(riders.get(), w);
        snprintf(w->race.settings.track, sizeof w->race.settings.track, "rabbithill");
        w->race.settings.erode_amount = 100 * 1024;
        std::vector<int> lineup(RACE_SLOTS, lineup_empty);
        for (int slot = 18; slot < 22; slot++)
            lineup[(size_t)slot] = lineup_robot;
        w->race.tick = seed;
        EXPECT_TRUE(world_reset(w, lineup.data(), nullptr, false, 0, 1, 0));
        std::string why;
        for (int slot = 18; slot < 22; slot++)
            EXPECT_TRUE(test_riders_add(riders.get(), w, slot, 30.0f, &why)) << why;
    }
    ~scripted_world() { world_destroy(w); }

    void run(int ticks)
    {
        for (int t = 0; t < ticks; t++)
            world_tick(w);
    }
};

struct Worlds : ::testing::Test {
    demo_test::game_data data;
};

TEST_F(Worlds, TwoWorldsFromTheSameInputsStayApartAndAgreeBitForBit)
{
    scripted_world a(3), b(3);
    const uint64_t start = world_state_hash(b.w);
    ASSERT_EQ(world_state_hash(a.w), start);
    const vec3 parked = bike_frame_position(b.w->race.slots[18].b);

    a.run(2000);
    EXPECT_NE(world_state_hash(a.w), start);
    // Ticking one world moved nothing of the other.
    EXPECT_EQ(world_state_hash(b.w), start);
    const vec3 still = bike_frame_position(b.w->race.slots[18].b);
    EXPECT_EQ(still.x, parked.x);
    EXPECT_EQ(still.y, parked.y);
    EXPECT_EQ(still.z, parked.z);

    b.run(2000);
    EXPECT_EQ(world_state_hash(b.w), world_state_hash(a.w));
    EXPECT_EQ(world_terrain_hash(b.w), world_terrain_hash(a.w));
}

TEST_F(Worlds, TwoRacesOnTwoThreadsGiveWhatEachGivesAlone)
{
    uint64_t alone[2];
    for (int seed : {0, 1}) {
        scripted_world s(seed + 5);
        s.run(1500);
        alone[seed] = world_state_hash(s.w);
    }
    EXPECT_NE(alone[0], alone[1]);

    // Each thread sets its race up (track, bikes, shapes) and rides it.
    uint64_t together[2] = {};
    auto race = [&together](int seed) {
        physics_thread_init();
        scripted_world s(seed + 5);
        s.run(1500);
        together[seed] = world_state_hash(s.w);
    };
    std::thread a(race, 0), b(race, 1);
    a.join();
    b.join();
    EXPECT_EQ(together[0], alone[0]);
    EXPECT_EQ(together[1], alone[1]);
}

// A deliberate change of the simulation changes this hash: write the new
// one here and say so in the commit. The tick's threads change nothing.
TEST_F(Worlds, AFixedRideKeepsItsStateHashWithAnyThreadCount)
{
    for (int threads : {1, 3}) {
        scripted_world s(7, threads);
        s.run(3000);
        EXPECT_GT(s.w->track.heightfield.modify_count, 0);  // the riders dug ruts
        EXPECT_EQ(world_state_hash(s.w), 0x80b531b62288a4dcull) << threads << " " << std::hex << world_state_hash(s.w);
    }
}

}  // namespace
