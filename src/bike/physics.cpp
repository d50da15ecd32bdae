// The physics of one world: created with the world, stepped once per tick.
#include "bike/physics.h"

#include <mutex>

#include "core/messages.h"

namespace {

std::once_flag g_library_once;
bool g_library_ready = false;

// The contacts of the query running on this thread, while buffered.
thread_local std::vector<pending_contact>* t_contact_buffer = nullptr;

void make_contact(physics_space* s, const dContact& c, dBodyID a, dBodyID b, dJointFeedback* feedback)
{
    dJointID j = dJointCreateContact(s->world, s->contacts, &c);
    dJointAttach(j, a, b);
    if (feedback)
        dJointSetFeedback(j, feedback);
}

}  // namespace

void physics_thread_init()
{
    // The engine keeps process-wide state of its own, set up once here and
    // released by physics_library_shutdown; every thread that creates or
    // steps a world needs its per-thread data too.
    std::call_once(g_library_once, [] {
        dInitODE2(0);
        g_library_ready = true;
    });
    thread_local bool thread_ready = false;
    if (!thread_ready) {
        dAllocateODEDataForThread(dAllocateMaskAll);
        thread_ready = true;
    }
}

void physics_library_shutdown()
{
    if (g_library_ready) {
        dCloseODE();
        g_library_ready = false;
    }
}

void physics_create(physics_space* s)
{
    if (s->world)
        return;
    physics_thread_init();
    s->world = dWorldCreate();
    if (!s->world)
        fatal_out_of_memory();
    // Gravity in ft/s^2; ERP and CFM stay at the engine's creation defaults
    // (0.2 and 1e-10). Bodies never sleep: a parked bike must still be
    // pushed by a bike that runs into it.
    dWorldSetGravity(s->world, 0, -32, 0);
    dWorldSetAutoDisableFlag(s->world, 0);
    dWorldSetData(s->world, s);
    s->threading = dThreadingAllocateSelfThreadedImplementation();
    if (!s->threading)
        fatal_out_of_memory();
    dWorldSetStepThreadingImplementation(s->world, dThreadingImplementationGetFunctions(s->threading), s->threading);
    s->contacts = dJointGroupCreate(0);
    if (!s->contacts)
        fatal_out_of_memory();
}

void physics_destroy(physics_space* s)
{
    if (s->contacts) {
        dJointGroupDestroy(s->contacts);
        s->contacts = nullptr;
    }
    if (s->world) {
        dWorldDestroy(s->world);
        s->world = nullptr;
    }
    if (s->threading) {
        dThreadingFreeImplementation(s->threading);
        s->threading = nullptr;
    }
}

void physics_step(physics_space* s)
{
    if (!s->world)
        return;
    // The exact (big-matrix) stepper: the iterative one changes results.
    dWorldStep(s->world, physics_tick);
    dJointGroupEmpty(s->contacts);
}

void physics_clear_contacts(physics_space* s)
{
    if (s && s->contacts)
        dJointGroupEmpty(s->contacts);
}

physics_space* physics_space_of(dBodyID body)
{
    return body ? (physics_space*)dWorldGetData(dBodyGetWorld(body)) : nullptr;
}

void physics_add_contact(const dContact& c, dBodyID a, dBodyID b, dJointFeedback* feedback)
{
    if (t_contact_buffer) {
        t_contact_buffer->push_back({c, a, b, feedback});
        return;
    }
    if (physics_space* s = physics_space_of(a))
        make_contact(s, c, a, b, feedback);
}

void physics_buffer_contacts(std::vector<pending_contact>* buffer)
{
    t_contact_buffer = buffer;
}

void physics_make_contacts(physics_space* s, const std::vector<pending_contact>& buffer)
{
    for (const pending_contact& p : buffer)
        make_contact(s, p.contact, p.a, p.b, p.feedback);
}

void set_crash_delay(physics_space* s, int index, int ticks)
{
    if (index < 0 || index >= CRASH_DELAY_COUNT)
        return;
    s->crash_delay[index] = ticks < 0 ? 0 : (ticks > CRASH_DELAY_MAX ? CRASH_DELAY_MAX : ticks);
}

int crash_delay(const physics_space* s, int index)
{
    if (index < 0 || index >= CRASH_DELAY_COUNT)
        return 0;
    return s->crash_delay[index];
}
