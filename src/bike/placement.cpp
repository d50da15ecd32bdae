// Putting a bike on its start spot or sending it off at speed. Kept apart
// from the assembly because it needs the ground contact of the bike.
#include <cmath>

#include "bike/bike.h"
#include "bike/contact.h"
#include "bike/drivetrain.h"
#include "bike/physics.h"
#include "platform/log.h"

namespace {
// 1024 ft above the spot: no terrain reaches that far, so a bike still
// touching there has a broken spot (non-finite values) and stays put.
constexpr int k_max_raises = 4096;

float place_bike(bike* b, const heightfield* hf, float x, float z, float angle, float height, bool whole)
{
    if (!std::isfinite(x) || !std::isfinite(z) || !std::isfinite(angle) || !std::isfinite(height)) {
        log_printf("start spot (%f, %f, %f, %f) is not usable; bike left at the origin\n", (double)x,
                   (double)z, (double)angle, (double)height);
        x = z = angle = height = 0;
    }
    for (int i = 0; i <= k_max_raises; i++) {
        if (whole)
            reset_bike_pose(b);
        else
            rest_bike_bodies(b);
        rotate_bike(b, 0, 1, 0, angle);
        translate_bike(b, x, height, z);
        if (!bike_touches_ground(b, hf))
            break;
        height += 0.25f;
    }
    // The probing created contacts (and possibly a crash); none may act.
    physics_clear_contacts(b->space);
    return height;
}

}  // namespace

float place_bike_at_start(bike* b, const heightfield* hf, float x, float z, float angle, float height)
{
    return place_bike(b, hf, x, z, angle, height, true);
}

float set_bike_down(bike* b, const heightfield* hf, float x, float z, float angle, float height)
{
    return place_bike(b, hf, x, z, angle, height, false);
}

void bike_launch(bike* b, float speed)
{
    dVector3 forward;
    dBodyVectorToWorld(b->bodies[body_frame], 0.0, 0.0, -1.0, forward);
    for (int i = 0; i < bike_body_count; i++)
        if (b->bodies[i])
            dBodySetLinearVel(b->bodies[i], forward[0] * speed, forward[1] * speed, forward[2] * speed);
    // Rolling forward turns a wheel backwards about its own x axis.
    const struct {
        int body;
        float radius;
    } wheels[2] = {{body_front_wheel, b->params.front_tyre_ring_radius + b->params.front_tyre_section_radius},
                   {body_rear_wheel, b->params.rear_tyre_ring_radius + b->params.rear_tyre_section_radius}};
    for (const auto& w : wheels) {
        dVector3 axle;
        dBodyVectorToWorld(b->bodies[w.body], 1.0, 0.0, 0.0, axle);
        const float spin = -speed / w.radius;
        dBodySetAngularVel(b->bodies[w.body], axle[0] * spin, axle[1] * spin, axle[2] * spin);
    }
    // The lowest gear that keeps the engine below its upshift speed.
    const float wheel_rate = speed / wheels[1].radius;
    for (b->gear = 0; b->gear < GEAR_COUNT - 1; b->gear++) {
        const int next = select_gear(b->params.gear_ratio, b->gear, 1);
        if (next == b->gear || overall_ratio(b) * wheel_rate * ENGINE_RPM_PER_RAD_S <= b->params.upshift_rpm)
            break;
    }
    b->engine_speed = overall_ratio(b) * wheel_rate;
    b->engine_angle = (float)dJointGetHingeAngle(b->joints[joint_rear_axle]);
    // The rider has been riding along: his recent velocity is this one.
    for (vec3& v : b->rider_velocity_history)
        v = {(float)forward[0] * speed, (float)forward[1] * speed, (float)forward[2] * speed};
}

namespace {

bool finite3(const dReal* v)
{
    return std::isfinite(v[0]) && std::isfinite(v[1]) && std::isfinite(v[2]);
}

}  // namespace

bool bike_state_finite(const bike* b)
{
    for (int i = 0; i < bike_body_count; i++) {
        dBodyID body = b->bodies[i];
        if (!body)
            continue;
        if (!finite3(dBodyGetPosition(body)) || !finite3(dBodyGetLinearVel(body)) ||
            !finite3(dBodyGetAngularVel(body)))
            return false;
    }
    return std::isfinite(b->engine_speed) && std::isfinite(b->engine_angle);
}
