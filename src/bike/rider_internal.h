// Shared by the rider and bike step files only: reading bodies in single
// precision and the one-step joints the rider makes (soft contacts, tethers,
// angular motors). Every joint made here goes into the world's contact
// group and lives for one step.
#pragma once

#include <ode/ode.h>

#include "bike/bike.h"
#include "bike/contact_internal.h"
#include "bike/rider.h"
#include "core/vec3.h"

namespace rider_detail {

constexpr float pi = 3.14159265358979f;
constexpr float h = 0.0078125f;  // one tick, seconds

inline float clampf(float v, float lo, float hi)
{
    return v < lo ? lo : (v > hi ? hi : v);
}

inline bool crash_running(const bike* b)
{
    return b->crash_timer > 0;
}

inline bool arcade(const bike* b)
{
    return (b->arcade_flags & arcade_physics_on) != 0;
}

inline bool touches(const wheel_contact& w)
{
    return w.depth > 0.0f;
}

// A direction of a body's frame in world coordinates.
inline vec3 body_axis(dBodyID body, float x, float y, float z)
{
    dVector3 v;
    dBodyVectorToWorld(body, x, y, z, v);
    return contact_math::from_ode(v);
}

// A point of a body's frame in world coordinates.
inline vec3 body_point(dBodyID body, vec3 local)
{
    dVector3 v;
    dBodyGetRelPointPos(body, local.x, local.y, local.z, v);
    return contact_math::from_ode(v);
}

// The velocity of the body's material point at world point p.
inline vec3 body_velocity_at(dBodyID body, vec3 p)
{
    dVector3 v;
    dBodyGetPointVel(body, p.x, p.y, p.z, v);
    return contact_math::from_ode(v);
}

inline vec3 body_position(dBodyID body)
{
    return contact_math::from_ode(dBodyGetPosition(body));
}

inline vec3 body_velocity(dBodyID body)
{
    return contact_math::from_ode(dBodyGetLinearVel(body));
}

// The rider's rest point relative to the frame body, in the frame's own
// coordinates.
inline vec3 rider_rest_offset(const bike* b)
{
    return contact_math::sub(b->params.rider_pos, b->params.frame_pos);
}

// Terrain height under (x, z); without a ground everything is far above it.
float ground_height(const bike_world* w, float x, float z);

// A frictionless soft contact between body a (pushed along +normal) and
// body b (either may be 0, the static world) with spring k and damper c.
void soft_contact(dBodyID a, dBodyID b, vec3 point, vec3 normal, float depth, float k, float c);

// Keeps point local_a of body a within length of point local_b of body b:
// beyond it, a soft contact (spring 5000, damper 500) at a's point pulls
// the two together.
void tether(dBodyID a, vec3 local_a, dBodyID b, vec3 local_b, float length);

// An angular motor between body and the static world about a world axis:
// drives the body's angular velocity about the axis toward speed with at
// most max_torque.
void world_angular_motor(dBodyID body, vec3 axis, float speed, float max_torque);

// The steering axis (fork upper to frame hinge) in world coordinates.
vec3 steering_axis(const bike* b);
// A torque about the steering axis: tau on the front wheel, -tau on the
// frame (positive turns the steering to the left).
void apply_steering_torque(bike* b, float tau);

// The frame's speed (length of its linear velocity).
float frame_speed(const bike* b);

// The largest speed at which the rider dabs: the setup's, at least 75 ft/s
// for a while after bumping into another bike from behind.
float dab_speed_limit(const bike* b);

}  // namespace rider_detail
