// The physics world every bike lives in: gravity (0, -32, 0), the engine's
// default ERP and CFM, the exact (big-matrix) stepper at 128 steps per
// simulated second, and one joint group for all contact joints of a tick.
#pragma once

#include <ode/ode.h>

#include <random>

// One world step, seconds (1/128).
constexpr float physics_tick = 0.0078125f;

// Creates the world and the contact group. Safe to call again after
// physics_shutdown.
void physics_init();
void physics_shutdown();
// Steps the world by one tick, then empties the contact group.
void physics_step();

dWorldID physics_world();
dJointGroupID physics_contact_group();
// Discards the contact joints created so far (probing contacts).
void physics_clear_contacts();

// The world's random number generator, seeded with the tick at every world
// reset. Everything random in the simulation draws from it.
extern std::mt19937 g_world_rng;
