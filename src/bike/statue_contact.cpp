// A bike against the statues near it: the statue bins pick the candidates,
// the bike's object contact makes the joints, and a rider thrown into a
// statue at speed starts a crash.
#include <ode/ode.h>

#include <vector>

#include "bike/bike.h"
#include "bike/contact.h"
#include "bike/shape.h"
#include "track/objects.h"

namespace {

// Half-width of the square around the frame whose bins are searched.
constexpr float statue_search_reach = 6.0f;
// Squared rider speed (ft/s) above which hitting a statue throws the rider.
constexpr float crash_speed_sq = 400.0f;

}  // namespace

int bike_statue_contacts(bike* b, track_objects* objects, const heightfield* hf, int tick)
{
    if (!b || !objects)
        return 0;
    const vec3 frame = bike_frame_position(b);
    // Bikes may look for their statues on several threads at once.
    thread_local std::vector<int> near;
    statues_near_into(objects, hf, frame.x, frame.z, statue_search_reach, &near);
    int touched = 0;
    for (int index : near) {
        if (index < 0 || index >= objects->statues.count)
            continue;
        statue& s = objects->statues.items[index];
        if (!s.shape)
            continue;
        const dReal pos[3] = {s.x, s.y, s.z};
        dReal rot[12];
        statue_physics_rotation(&s, rot);
        const int bits = bike_object_contact(b, nullptr, s.shape, pos, rot, contact_mode_joint, false);
        if (!bits)
            continue;
        touched |= bits;
        // Every bike touching it this tick writes the same tick.
        __atomic_store_n(&s.touch_tick, tick, __ATOMIC_RELAXED);
        dBodyID rider = b->bodies[body_rider];
        if ((bits & part_rider) && rider && b->crash_timer < 1 && b->bump_timer >= 0.0f) {
            // Statues are part of the static world: the rider's own speed
            // is the speed of the hit.
            const dReal* v = dBodyGetLinearVel(rider);
            const double speed_sq = v[0] * v[0] + v[1] * v[1] + v[2] * v[2];
            if (speed_sq > crash_speed_sq)
                bike_start_crash(b, hf);
        }
    }
    return touched;
}
