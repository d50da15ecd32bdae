// The roost a bike's wheels throw: gathers each touching wheel's contact and
// motion and hands it to the emitter of the surface under the contact.
#include "bike/contact.h"
#include "bike/contact_internal.h"
#include "track/heightfield.h"
#include "track/roost.h"
#include "track/surface.h"

using namespace contact_math;

int bike_emit_roost(const bike* b, const heightfield* hf, roost_pool* pool, int roost_frequency, int tick,
                    bool recorded, std::mt19937* rng)
{
    if (!hf || !hf->surfaces || hf->surface_count <= 0)
        return 0;  // no surface table: no roost types
    struct wheel_ref {
        int body;
        const wheel_contact* contact;
    };
    const wheel_ref wheels[2] = {{body_front_wheel, &b->front_contact}, {body_rear_wheel, &b->rear_contact}};
    int thrown = 0;
    for (const wheel_ref& w : wheels) {
        dBodyID body = w.contact->body ? w.contact->body : b->bodies[w.body];
        if (!body)
            continue;
        roost_wheel wheel;
        wheel.centre = from_ode(dBodyGetPosition(body));
        wheel.axle = rotate(dBodyGetRotation(body), w.contact->axle);
        const float al = length(wheel.axle);
        if (!(al > 0.0f))
            continue;
        wheel.axle = scale(wheel.axle, 1.0f / al);
        wheel.velocity = from_ode(dBodyGetLinearVel(body));
        wheel.angular_velocity = from_ode(dBodyGetAngularVel(body));
        if (recorded) {
            // Posed from recorded states, the bike made no contacts of its
            // own this tick: ask the ground directly.
            terrain_hit hit;
            if (!torus_heightfield_query(hf, wheel.centre, wheel.axle, w.contact->ring_radius,
                                         w.contact->section_radius, &hit))
                continue;
            wheel.point = hit.point;
            wheel.normal = hit.normal;
            dVector3 pv;
            dBodyGetPointVel(body, hit.point.x, hit.point.y, hit.point.z, pv);
            wheel.slip_velocity = from_ode(pv);
        } else {
            if (!(w.contact->depth > 0.0f))
                continue;
            wheel.point = w.contact->point;
            wheel.normal = w.contact->normal;
            wheel.slip_velocity = w.contact->point_velocity;
        }
        int index = heightfield_surface_at(hf, wheel.point.x, wheel.point.z);
        if (index < 0 || index >= hf->surface_count)
            index = hf->surface_count - 1;
        const int budget = roost_budget(roost_frequency, rng);
        thrown += roost_emit(pool, hf->surfaces[index].roost, wheel, budget, tick, rng);
    }
    return thrown;
}
