// The library's test riders in a world: scripted riders on some of its
// robot slots, following the loaded track's centre line once the gate has
// dropped and a rider's reaction time has passed, on the brakes until then.
// The world's other robot slots are left to the robot hooks it had (the
// auto pilot, when there is one). The headless runner's races, the
// benchmarks and the tests ride with them.
#pragma once

#include <string>

#include "race/world.h"
#include "robot/scripted_rider.h"

struct test_riders {
    rider_path path;                   // the centre line, once loaded
    scripted_rider riders[RACE_SLOTS];
    bool on[RACE_SLOTS] = {};
    robot_hooks others;                // the world's hooks for the other slots
    int reaction_ticks = 40;           // after the gate drops
};

// Loads the centre line of the world's loaded track, heights from its
// ground; lead_in keeps the lead-in from the gate. False with the reason
// when the track has none.
bool test_riders_load_line(test_riders* t, const world* w, bool lead_in, std::string* why);
// A test rider for the bike of a slot (loading the line first when that was
// not done): the player's default setup, automatic shifting, cruise_mph on
// the straights, the lane the bike stands in. A robot's slot becomes a test
// rider's (slot_driver_test, no personality: recorded like a human). The
// rider rides until the next world reset. False with the reason when the
// slot has no bike or the line cannot be ridden.
bool test_riders_add(test_riders* t, world* w, int slot, float cruise_mph, std::string* why);
// Hooks the riders into the world's tick, keeping the world's robot hooks
// for the other slots. t must outlive the hooking (or be unhooked with
// test_riders_remove).
void test_riders_install(test_riders* t, world* w);
// Gives the world its own robot hooks back.
void test_riders_remove(test_riders* t, world* w);
