// The physics of one world: gravity (0, -32, 0), the engine's default ERP
// and CFM, the exact (big-matrix) stepper at 128 steps per simulated
// second, one joint group for all contact joints of a tick, the world's
// random number generator and the crash delays a race server may set.
//
// Every world owns its own physics_space, so worlds never step each other's
// bodies; two of them may run on two threads at once (each thread that
// steps a world calls physics_thread_init first).
#pragma once

#include <ode/ode.h>

#include <random>
#include <vector>

// One world step, seconds (1/128).
constexpr float physics_tick = 0.0078125f;

// Extra crash ticks by crash count (16 entries, 0 unless a race server sets
// them); clamped to 0..460800.
enum { CRASH_DELAY_COUNT = 16, CRASH_DELAY_MAX = 460800 };

struct physics_space {
    dWorldID world = nullptr;
    dJointGroupID contacts = nullptr;
    // The step's own single-threaded scheduler: the engine's default one is
    // shared by every world and breaks when two step at once.
    dThreadingImplementationID threading = nullptr;
    // Seeded with the tick at every world reset. Everything random in the
    // world draws from it.
    std::mt19937 rng;
    int crash_delay[CRASH_DELAY_COUNT] = {};
};

// Sets the engine up once per process (safe to call from any thread, any
// number of times) and gives the calling thread the engine's per-thread data.
void physics_thread_init();
// Releases the engine at the end of the program, after every space is gone.
void physics_library_shutdown();

// Creates the ODE world and the contact group of a space (initialising the
// engine for this thread when needed). Running out of memory ends the
// program. Creating a space that exists does nothing.
void physics_create(physics_space* s);
void physics_destroy(physics_space* s);
// Steps the world by one tick, then empties the contact group.
void physics_step(physics_space* s);
// Discards the contact joints created so far (probing contacts).
void physics_clear_contacts(physics_space* s);

// The space a body lives in (the space its world was created by).
physics_space* physics_space_of(dBodyID body);

// ---- contact joints ---------------------------------------------------------

// A contact joint waiting to be made: its surface and geometry, the two
// bodies (b may be null: the static world) and where its forces are
// reported (null: nowhere).
struct pending_contact {
    dContact contact;
    dBodyID a, b;
    dJointFeedback* feedback;
};

// Makes a contact joint between a and b in the body a's space, or, while
// this thread buffers contacts, appends it to the buffer instead: contact
// queries may run on several threads at once, and their joints are then
// made in a fixed order (physics_make_contacts) so that the step sees
// exactly what one thread would have given it.
void physics_add_contact(const dContact& c, dBodyID a, dBodyID b, dJointFeedback* feedback);
// While buffer is set, physics_add_contact on this thread fills it; null
// ends the buffering.
void physics_buffer_contacts(std::vector<pending_contact>* buffer);
// Makes the buffered joints in the space, in the buffer's order.
void physics_make_contacts(physics_space* s, const std::vector<pending_contact>& buffer);

// Extra ticks a crash with this count adds; out-of-range indexes are
// ignored / read 0.
void set_crash_delay(physics_space* s, int index, int ticks);
int crash_delay(const physics_space* s, int index);
