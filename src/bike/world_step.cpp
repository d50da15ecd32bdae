// The bikes' part of the world tick.
#include "bike/world_step.h"

#include <algorithm>

#include "bike/bike.h"
#include "bike/bike_step.h"
#include "bike/contact.h"
#include "bike/contact_internal.h"
#include "bike/physics.h"
#include "core/workers.h"
#include "track/objects.h"
#include "track/roost.h"

namespace {

bool recorded(const world_rider& r)
{
    return r.driver == world_driver_recorded;
}

float speed_squared(const bike* b)
{
    const dReal* v = dBodyGetLinearVel(b->bodies[body_frame]);
    return (float)(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
}

// Indexes of the riders in list sorted by speed, fastest first; equal
// speeds keep their order.
void sort_by_speed(const world_rider* riders, int* list, int n)
{
    float speed[WORLD_MAX_RIDERS];
    for (int i = 0; i < n; i++)
        speed[i] = speed_squared(riders[list[i]].b);
    int order[WORLD_MAX_RIDERS];
    for (int i = 0; i < n; i++)
        order[i] = i;
    std::stable_sort(order, order + n, [&speed](int x, int y) { return speed[x] > speed[y]; });
    int sorted[WORLD_MAX_RIDERS];
    for (int i = 0; i < n; i++)
        sorted[i] = list[order[i]];
    std::copy(sorted, sorted + n, list);
}

// A bike's contacts with the ground and the statues near it.
void ground_and_objects(world_tick_state* s, const world_rider& r)
{
    bike* b = r.b;
    const bike_world& w = s->world;
    if (!b || recorded(r) || b->presence <= 0.25f || !w.ground)
        return;
    bike_touches_ground(b, w.ground);
    if (s->objects)
        bike_statue_contacts(b, s->objects, w.ground, w.tick);
}

}  // namespace

void world_collide(world_tick_state* s, world_rider* riders, int count)
{
    if (count > WORLD_MAX_RIDERS)
        count = WORLD_MAX_RIDERS;
    const bike_world& w = s->world;
    // Ground and track objects: each bike alone, so the bikes may be
    // searched on several threads, their joints made in order afterwards.
    if (s->workers && s->contact_buffers && w.ground) {
        struct search {
            world_tick_state* s;
            world_rider* riders;
        } job = {s, riders};
        worker_pool_run(
            s->workers, count,
            [](void* context, int i) {
                const search* job = static_cast<const search*>(context);
                std::vector<pending_contact>& buffer = job->s->contact_buffers[i];
                buffer.clear();
                physics_buffer_contacts(&buffer);
                ground_and_objects(job->s, job->riders[i]);
                physics_buffer_contacts(nullptr);
            },
            &job);
        for (int i = 0; i < count; i++)
            if (riders[i].b)
                physics_make_contacts(riders[i].b->space, s->contact_buffers[i]);
    } else {
        for (int i = 0; i < count; i++)
            ground_and_objects(s, riders[i]);
    }

    // Bike against bike.
    if (s->online && s->warm_up)
        return;
    int list[WORLD_MAX_RIDERS];
    int n = 0;
    if (!s->online) {
        for (int i = 0; i < count; i++)
            if (riders[i].b && !recorded(riders[i]) && riders[i].b->presence > 0.25f)
                list[n++] = i;
        sort_by_speed(riders, list, n);
        // Contacts move no body, so each bike's ball holds for the whole
        // loop: pairs out of each other's reach are passed over here, as
        // bike_bike_contact would pass them, without asking again per pair.
        bike_bounds bounds[WORLD_MAX_RIDERS];
        for (int i = 0; i < n; i++)
            bounds[i] = bike_bounds_of(riders[list[i]].b);
        for (int i = 0; i < n; i++)
            for (int j = i + 1; j < n; j++)
                if (bike_bounds_overlap(bounds[i], bounds[j]))
                    bike_bike_contact(riders[list[i]].b, riders[list[j]].b, false, w.tick);
        return;
    }
    const int own = s->own_rider;
    if (own < 0 || own >= count || !riders[own].b || riders[own].b->presence <= 0.25f)
        return;
    for (int i = 0; i < count; i++) {
        const world_rider& r = riders[i];
        if (i == own || !r.b || !recorded(r) || !r.may_collide)
            continue;
        // A remote bike fading back to a ghost keeps out of the way until
        // it rests as one.
        if (r.b->presence <= 0.25f && r.b->presence != 0.0f)
            continue;
        list[n++] = i;
    }
    sort_by_speed(riders, list, n);
    for (int i = 0; i < n; i++) {
        bike* remote = riders[list[i]].b;
        if (bike_bike_contact(riders[own].b, remote, true, w.tick))
            wake_remote_bike(remote);
    }
}

void world_throw_roost(world_tick_state* s, world_rider* riders, int count)
{
    if (!s->roost || !s->world.ground || !s->rng || count <= 0)
        return;
    if (count > WORLD_MAX_RIDERS)
        count = WORLD_MAX_RIDERS;
    std::mt19937* rng = s->rng;
    const int tick = s->world.tick;
    const int first = ((tick % count) + count) % count;
    for (int l = 0; l < count; l++) {
        const world_rider& r = riders[(first + l) % count];
        if (!r.b)
            continue;
        bike_emit_roost(r.b, s->world.ground, s->roost, s->roost_density, tick, recorded(r), rng);
    }
}

void world_bike_steps(world_tick_state* s, world_rider* riders, int count)
{
    if (count > WORLD_MAX_RIDERS)
        count = WORLD_MAX_RIDERS;
    for (int i = 0; i < count; i++) {
        bike* b = riders[i].b;
        if (!b)
            continue;
        if (s->online && recorded(riders[i]) && i != s->own_rider)
            fade_remote_bike(b);
        bike_step(b, &s->world);
    }
}
