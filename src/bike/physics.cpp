// The physics world: created once at start-up, stepped once per tick.
#include "bike/physics.h"

#include "core/messages.h"

std::mt19937 g_world_rng;

namespace {

struct physics_state {
    bool library_ready = false;
    dWorldID world = nullptr;
    dJointGroupID contacts = nullptr;
};
physics_state g_physics;

}  // namespace

void physics_init()
{
    if (g_physics.world)
        return;
    if (!g_physics.library_ready) {
        // The library keeps global state of its own, set up here and
        // released by physics_shutdown.
        dInitODE2(0);
        g_physics.library_ready = true;
    }
    g_physics.world = dWorldCreate();
    if (!g_physics.world)
        fatal_out_of_memory();
    // Gravity in ft/s^2; ERP and CFM stay at the engine's creation defaults
    // (0.2 and 1e-10). Bodies never sleep: a parked bike must still be
    // pushed by a bike that runs into it.
    dWorldSetGravity(g_physics.world, 0, -32, 0);
    dWorldSetAutoDisableFlag(g_physics.world, 0);
    g_physics.contacts = dJointGroupCreate(0);
    if (!g_physics.contacts)
        fatal_out_of_memory();
}

void physics_shutdown()
{
    if (g_physics.contacts) {
        dJointGroupDestroy(g_physics.contacts);
        g_physics.contacts = nullptr;
    }
    if (g_physics.world) {
        dWorldDestroy(g_physics.world);
        g_physics.world = nullptr;
    }
    if (g_physics.library_ready) {
        dCloseODE();
        g_physics.library_ready = false;
    }
}

void physics_step()
{
    if (!g_physics.world)
        return;
    // The exact (big-matrix) stepper: the iterative one changes results.
    dWorldStep(g_physics.world, physics_tick);
    dJointGroupEmpty(g_physics.contacts);
}

dWorldID physics_world()
{
    return g_physics.world;
}

dJointGroupID physics_contact_group()
{
    return g_physics.contacts;
}

void physics_clear_contacts()
{
    if (g_physics.contacts)
        dJointGroupEmpty(g_physics.contacts);
}
