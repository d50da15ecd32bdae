// A world's life: creation, destruction and the hash of its state.
#include "race/world.h"

#include <new>

#include "bike/bike.h"
#include "bike/world_step.h"
#include "core/workers.h"
#include "files/memory.h"
#include "race/demo_internal.h"

namespace {

// Allocates a record through the tracked allocator; running out of memory
// ends the program.
template <typename T>
T* make_record()
{
    return new (mem_alloc_or_die(sizeof(T))) T();
}

template <typename T>
void free_record(T* p)
{
    if (!p)
        return;
    p->~T();
    mem_free(p);
}

const uint64_t k_fnv_basis = 14695981039346656037ull;

void hash_bytes(uint64_t* h, const void* data, size_t size)
{
    const unsigned char* p = (const unsigned char*)data;
    for (size_t i = 0; i < size; i++) {
        *h ^= p[i];
        *h *= 1099511628211ull;
    }
}

void hash_reals(uint64_t* h, const dReal* v, int n)
{
    for (int i = 0; i < n; i++) {
        // +0 and -0 differ in their bits, as they should for "bit-identical".
        const double d = (double)v[i];
        hash_bytes(h, &d, sizeof d);
    }
}

void hash_terrain(uint64_t* h, const world* w)
{
    const heightfield& hf = w->track.heightfield;
    if (hf.heights)
        hash_bytes(h, hf.heights, sizeof(float) * (size_t)hf.sample_count * (size_t)hf.sample_count);
}

}  // namespace

world* world_create(const world_settings& settings)
{
    world* w = make_record<world>();
    w->settings = settings;
    w->erosion = make_record<erode_queue>();
    w->histories = make_record<history_set>();
    w->player = make_record<demo_player>();
    w->recorder = make_record<demo_recorder>();
    physics_create(&w->physics);
    if (settings.threads > 1) {
        w->workers = worker_pool_create(settings.threads, physics_thread_init);
        w->contact_buffers = new std::vector<pending_contact>[WORLD_MAX_RIDERS];
    }
    return w;
}

void world_destroy(world* w)
{
    if (!w)
        return;
    race_shutdown(w);
    if (w->robots.release)
        w->robots.release(w->robots.context);
    worker_pool_destroy(w->workers);
    delete[] w->contact_buffers;
    free_record(w->recorder);
    free_record(w->player);
    free_record(w->histories);
    free_record(w->erosion);
    physics_destroy(&w->physics);
    free_record(w);
}

uint64_t world_terrain_hash(const world* w)
{
    uint64_t h = k_fnv_basis;
    hash_terrain(&h, w);
    return h;
}

uint64_t world_state_hash(const world* w)
{
    uint64_t h = k_fnv_basis;
    hash_bytes(&h, &w->race.tick, sizeof w->race.tick);
    for (int slot = 0; slot < RACE_SLOTS; slot++) {
        const bike* b = w->race.slots[slot].b;
        if (!b)
            continue;
        hash_bytes(&h, &slot, sizeof slot);
        for (int i = 0; i < bike_body_count; i++) {
            dBodyID body = b->bodies[i];
            if (!body)
                continue;
            hash_reals(&h, dBodyGetPosition(body), 3);
            hash_reals(&h, dBodyGetQuaternion(body), 4);
            hash_reals(&h, dBodyGetLinearVel(body), 3);
            hash_reals(&h, dBodyGetAngularVel(body), 3);
        }
        hash_bytes(&h, &b->engine_speed, sizeof b->engine_speed);
        hash_bytes(&h, &b->engine_angle, sizeof b->engine_angle);
        hash_bytes(&h, &b->crash_count, sizeof b->crash_count);
    }
    hash_terrain(&h, w);
    return h;
}
