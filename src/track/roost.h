// Roost: the dirt and water thrown up by the wheels. A wheel in contact
// with a surface that has roost types throws particles every tick; the
// particles fly under drag and gravity, grow and fade, and vanish when they
// fall back into the ground. The particle pool belongs to the loaded track
// and is drawn as sprites by the renderer.
//
// Everything random draws from the generator it is given (the world's
// MT19937 in the game), in a fixed order, so a replay throws the same
// particles.
#pragma once

#include <cstdint>
#include <random>

#include "core/vec3.h"

struct heightfield;
struct roost_type;

enum { ROOST_POOL_SIZE = 2000 };

struct roost_particle {
    bool live = false;
    vec3 position = {0, 0, 0};   // feet, world
    vec3 velocity = {0, 0, 0};   // feet per second
    float size = 0;              // sprite height, feet
    float grow = 0;              // size increase per second
    float drag = 0;              // velocity damping per second
    unsigned texture = 0;        // sprite
    uint8_t colour[4] = {};      // r, g, b, a
    int8_t fade[4] = {};         // change per tick
};

// A fixed pool: a new particle takes the next slot in turn, replacing the
// oldest when all are in flight.
struct roost_pool {
    roost_particle particles[ROOST_POOL_SIZE];
    int next = 0;   // slot the next particle takes
    int live = 0;   // particles in flight
};

// What the emitter needs to know about one wheel touching the ground this
// tick (world coordinates).
struct roost_wheel {
    vec3 point;             // contact point
    vec3 normal;            // contact normal, unit, out of the ground
    vec3 slip_velocity;     // the tyre's velocity at the contact point
    vec3 centre;            // the wheel body's position
    vec3 axle;              // unit axle direction
    vec3 velocity;          // the wheel body's linear velocity
    vec3 angular_velocity;  // the wheel body's angular velocity
};

// Empties the pool (world reset, track load).
void roost_pool_reset(roost_pool* pool);

// A uniform number in [0, 1) from the generator (24 random bits), the same
// on every platform.
float roost_uniform(std::mt19937* rng);

// The particle budget of one wheel for one tick: roost_frequency / 100,
// plus one when a draw in 0..99 is below the remainder.
int roost_budget(int roost_frequency, std::mt19937* rng);

// Throws one wheel's particles for this tick from the roost types of the
// surface under the contact (the list ends at the first type with mode 0,
// at most four). budget is the wheel's particle budget for the tick, shared
// by its roost types. tick selects the splash directions. Returns the
// number of particles thrown.
int roost_emit(roost_pool* pool, const roost_type* types, const roost_wheel& wheel, int budget, int tick,
               std::mt19937* rng);

// One tick of particle flight (1/128 s): move, drag, gravity, grow, fade;
// a falling particle below the terrain (hf may be null: no ground) is
// removed.
void roost_move(roost_pool* pool, const heightfield* hf);
