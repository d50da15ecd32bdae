// The steering law with its stability aids, and arcade mode's servos.
//
// The rider balances the bike through the steering: leaning further to one
// side is answered by steering into the lean (roll damping), any lean at
// all by a little more (leveling), a lean beyond the roll limit much more.
// The rider's command steers directly (a torque at the bars) or indirectly
// (a target lean the roll-rate controller steers toward by counter-
// steering), blended by the direct steering setting. Lock limits keep the
// front wheel from being steered beyond what the ground can hold.
#include <cmath>

#include "bike/bike.h"
#include "bike/contact.h"
#include "bike/rider.h"
#include "bike/rider_internal.h"
#include "track/heightfield.h"
#include "track/surface.h"

using namespace contact_math;
using namespace rider_detail;

namespace {

// Friction of the first point of the surface under (x, z); a ground
// without surfaces grips like the default surface.
float first_friction(const heightfield* hf, float x, float z)
{
    static const surface_type default_surface;
    const surface_type* s = &default_surface;
    if (hf && hf->surfaces && hf->surface_count > 0) {
        int index = heightfield_surface_at(hf, x, z);
        if (index < 0 || index >= hf->surface_count)
            index = hf->surface_count - 1;
        s = &hf->surfaces[index];
    }
    return s->friction[0].coefficient;
}

float steering_angle(const bike* b)
{
    return (float)dJointGetHingeAngle(b->joints[joint_steering_head]);
}

float steering_rate(const bike* b)
{
    return (float)dJointGetHingeAngleRate(b->joints[joint_steering_head]);
}

float front_axle_rate(const bike* b)
{
    return (float)dJointGetHingeAngleRate(b->joints[joint_front_axle]);
}

// Moves v toward 0 by band; 0 inside the band.
float dead_band(float v, float band)
{
    if (v > band)
        return v - band;
    if (v < -band)
        return v + band;
    return 0.0f;
}

}  // namespace

void steering_slip_limits(float psi, float lock, float max_force, float* lower, float* upper)
{
    *lower = -max_force;
    *upper = max_force;
    const float e = 1.125f * lock + 0.015f;
    const float span = lock - e;  // negative
    if (psi > lock) {
        const float k = clampf((psi - e) / span, 0.0f, 1.0f);
        *lower = -max_force * (1.25f * k - 0.25f);
    } else if (psi < -lock) {
        const float k = clampf((-psi - e) / span, 0.0f, 1.0f);
        *upper = max_force * (1.25f * k - 0.25f);
    }
}

float indirect_steering(float steer, float roll, float roll_rate, float roll_limit_angle)
{
    float target = (-steer * roll_limit_angle - roll) * 2.5f;
    // Righting the bike may go faster than leaning it over.
    const bool against_roll = (target > 0.0f && roll < 0.0f) || (target < 0.0f && roll > 0.0f);
    const float most = against_roll ? 25.0f * pi / 8.0f : 5.0f * pi / 4.0f;
    target = clampf(target, -most, most);
    const float d = clampf(target - roll_rate, -0.125f, 0.125f);
    return clampf((roll_rate - (target - d)) * 4.0f, -1.0f, 1.0f);
}

void steer_and_stabilise(bike* b, const bike_world* w)
{
    b->slide_amount = 0.0f;
    if (crash_running(b))
        return;
    const bike_params& p = b->params;

    // Limits and the direct command.
    const float f = b->max_steering_force;
    float lower = -f, upper = f;
    float direct = b->steering_strength * b->steer * b->direct_steering;

    // How far the front may be steered: full lock at walking speed,
    // the restricted lock (wider on slippery ground) at speed.
    const float axle_rate = front_axle_rate(b);
    const float wheel_speed = (p.front_tyre_ring_radius + p.front_tyre_section_radius) * axle_rate;
    const float v1 = b->full_lock_speed;
    const float v2 = fmaxf(v1 + 1.0f, b->restricted_lock_speed);
    const float blend = clampf((1.0f / fmaxf(1.0f, wheel_speed) - 1.0f / v2) / (1.0f / v1 - 1.0f / v2), 0.0f, 1.0f);
    const vec3 centre = body_position(b->bodies[body_front_wheel]);
    const float mu = fmaxf(0.125f, first_friction(w->ground, centre.x, centre.z));
    const float restricted = fminf(pi / 4.0f, b->restricted_lock_angle / mu);
    const float lock = restricted + (pi / 4.0f - restricted) * blend;

    // Beyond the lock the steering may only be pushed back; the limit
    // opens up as the wheel leaves the ground.
    const float psi = front_slip_angle(b);
    const float clearance =
        centre.y - ground_height(w, centre.x, centre.z) - p.front_tyre_ring_radius - p.front_tyre_section_radius;
    if (wheel_speed > 1.0f && clearance < 0.5f) {
        const float lock_near = lock + (pi / 4.0f - lock) * clampf(2.0f * clearance, 0.0f, 1.0f);
        steering_slip_limits(psi, lock_near, f, &lower, &upper);
    }

    const float angle = steering_angle(b);
    const float roll = bike_roll(b);
    const float roll_rate = bike_roll_rate(b);
    float stabilise;
    if (!touches(b->front_contact) || axle_rate <= pi / 4.0f) {
        // In the air or hardly rolling: centre the bars, ready to damp
        // the landing.
        b->landing_level = b->landing_damping_factor;
        stabilise = -50.0f * angle;
        if (!(b->assist_flags & assist_steering))
            direct = 0.0f;
    } else {
        // Roll damping (stronger just after landing), leveling, both
        // stronger when slow, and much more beyond the roll limit.
        stabilise = roll_rate * b->roll_damping * b->landing_level;
        if (b->landing_level > 1.0f && b->landing_damping_falloff != 0.0f) {
            b->landing_level -= (b->landing_damping_factor - 1.0f) * h / b->landing_damping_falloff;
            if (b->landing_level < 1.0f)
                b->landing_level = 1.0f;
        }
        float level = roll * b->leveling;
        const float speed = frame_speed(b);
        if (speed < b->slow_damping_speed) {
            const float m = b->slow_damping_factor +
                            (1.0f - b->slow_damping_factor) * clampf(speed / b->slow_damping_speed, 0.0f, 1.0f);
            stabilise *= m;
            level *= m;
        }
        const bool leaning_further = (roll_rate > 0.0f && roll > 0.0f) || (roll_rate < 0.0f && roll < 0.0f);
        if (leaning_further && fabsf(roll) > b->roll_limit_angle)
            stabilise *= (fabsf(roll) - b->roll_limit_angle) * b->roll_limit_factor + 1.0f;
        stabilise += level;

        // Indirect steering: the command asks for a lean.
        if (b->direct_steering < 1.0f) {
            const float indirect =
                b->steering_strength * indirect_steering(b->steer, roll, roll_rate, b->roll_limit_angle);
            direct = b->direct_steering * direct + (1.0f - b->direct_steering) * indirect;
        }
    }

    // A bumped rider balances badly for a while.
    if (b->bump_timer > 0.0f) {
        const float most = bump_stability_limit(b->bump_timer);
        stabilise = clampf(stabilise, -most, most);
    }

    // The steering torque of the balance and the rider's command.
    apply_steering_torque(b, clampf((stabilise + direct) * 1.5f, lower, upper));

    // How much the front washes out: slipping beyond part of the lock,
    // or steered well into the lean.
    const float s = clampf((wheel_speed - 5.0f) / 10.0f, 0.0f, 1.0f);
    const float lo = 0.25f * s * lock;
    const float hi = (0.625f * s + 0.125f) * lock;
    const float span = hi - lo;
    float q, r;
    if (roll >= 0.0f) {
        q = span > 0.0f ? clampf((-psi - lo) / span, 0.0f, 1.0f) : 0.0f;
        r = clampf((angle - pi / 12.0f) * 12.0f / pi, 0.0f, 1.0f);
    } else {
        q = span > 0.0f ? clampf((psi - lo) / span, 0.0f, 1.0f) : 0.0f;
        r = clampf((angle + pi / 12.0f) * -12.0f / pi, 0.0f, 1.0f);
    }
    b->slide_amount = fmaxf(q, r);
}

void arcade_steer(bike* b, const bike_world* w)
{
    if (crash_running(b))
        return;
    dBodyID frame = b->bodies[body_frame];
    const float angle = steering_angle(b);

    // High in the air: only centre the bars.
    if (!touches(b->front_contact)) {
        const vec3 at = add(add(body_position(frame), body_velocity(frame)), v3(0.0f, -16.0f, 0.0f));
        if (at.y - ground_height(w, at.x, at.z) >= b->params.frame_pos.y) {
            const float direct = (b->assist_flags & assist_steering)
                                     ? b->steering_strength * b->steer * b->direct_steering
                                     : 0.0f;
            apply_steering_torque(b, (direct - 50.0f * angle) * 1.5f);
            return;
        }
    }

    // Lean servo toward -pi/4 x steer.
    const float roll = bike_roll(b);
    const float target_roll = -pi / 4.0f * b->steer;
    const float e = roll - target_roll;
    float rate = fminf(fabsf(e), 0.0625f) * 16.0f * (1.5f - 0.5f * clampf((b->roll_damping - 40.0f) * 0.025f, 0.0f, 1.0f));
    if (target_roll <= roll)
        rate = -rate;
    world_angular_motor(frame, body_axis(frame, 0, 0, 1), rate, 1000.0f);

    // Steering servo toward the slip angle less half the command.
    const float target = front_slip_angle(b) - 0.5f * b->steer;
    const float err = dead_band(clampf(target - angle, -0.25f, 0.25f), 1.0f / 32.0f);
    const float d = dead_band(8.0f * err - steering_rate(b), 1.0f / 2400.0f);
    apply_steering_torque(b, clampf(d * 0.5f, -2.0f / 3.0f, 2.0f / 3.0f) * b->steering_strength);

    // Yaw stabiliser: a drag on a point 20 ft behind the frame keeps the
    // bike pointing where it goes.
    dVector3 v;
    dBodyGetRelPointVel(frame, 0.0, 0.0, 20.0, v);
    dBodyAddForceAtRelPos(frame, -0.25 * v[0], -0.25 * v[1], -0.25 * v[2], 0.0, 0.0, 20.0);
}
