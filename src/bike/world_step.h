// One world tick of every bike in the physics world, as far as the bikes
// own it: contacts with the ground and the track objects, contacts between
// bikes, roost, the physics step, and each bike's own step.
//
// The world tick (race/world.h) runs these phases with the rest of a ride
// around them: recorded states before the contacts, the physics step and
// erosion after them, robots and start rules before the bike steps, gate
// tests after them.
//
// Forces and motor commands set by the bike steps act in the next tick's
// physics step; contacts made by world_collide act in this tick's.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

#include "bike/physics.h"
#include "bike/rider.h"

struct bike;
struct track_objects;
struct roost_pool;
struct worker_pool;

// The riders' kinds as the world tick treats them.
enum world_driver : uint8_t {
    world_driver_local = 0,     // the player's commands
    world_driver_robot = 1,     // the auto pilot's commands
    world_driver_recorded = 2,  // posed from recorded states (demo playback; online: a remote rider)
};

// One bike taking part in the tick (the caller owns the array).
struct world_rider {
    bike* b = nullptr;
    world_driver driver = world_driver_local;
    // Online, for a remote rider: whether the race rules let it touch the
    // own bike this tick (its updates are recent and it is not ghosted).
    bool may_collide = true;
};

// At most this many bikes take part in one tick (the participant slots).
enum { WORLD_MAX_RIDERS = 160 };

struct world_tick_state {
    bike_world world;                   // ground, tick, start tick, race hooks
    track_objects* objects = nullptr;   // statues the bikes hit; null: none
    roost_pool* roost = nullptr;        // null: no roost thrown
    int roost_density = 1000;           // the "roost_density" setting, 0..1000
    std::mt19937* rng = nullptr;        // the world's generator (roost draws from it); null: no roost
    bool online = false;                // multiplayer: only the own bike collides
    bool warm_up = false;               // online without a race slot: no bike-to-bike contacts
    int own_rider = -1;                 // online: index of the own bike in the array
    // Threads for the bikes' ground and object contacts (null: this thread
    // alone), each bike's joints buffered in contact_buffers[i] and made in
    // bike order afterwards: the same joints in the same order either way.
    worker_pool* workers = nullptr;
    std::vector<pending_contact>* contact_buffers = nullptr;  // WORLD_MAX_RIDERS of them
};

// Steps 1-2: every bike not driven by recorded data finds its ground
// contacts and then those with the statues near it; then bike pairs:
// offline every pair of the list of those bikes sorted by speed (fastest
// first, equal speeds in array order), online the own bike against every
// remote bike that may collide (sorted the same way), waking each one it
// touched; none in a warm-up. Ghosts take no part.
void world_collide(world_tick_state* s, world_rider* riders, int count);

// Every bike throws its roost, the first in the array one further
// on every tick (so no bike always gets the particles first).
void world_throw_roost(world_tick_state* s, world_rider* riders, int count);

// Every bike's own step (remote bikes online fade toward ghosts
// first). Commands must have been set before.
void world_bike_steps(world_tick_state* s, world_rider* riders, int count);
