// The rider's feet, limbs and head, worked out from the bodies.
//
// Everything is single precision; body positions and rotations are read
// from the physics engine and converted at the call. The functions only
// read the physics world.

#include "bike/limb_pose.h"

#include <ode/ode.h>

#include <algorithm>
#include <cmath>

#include "bike/bike.h"
#include "bike/bike_internal.h"
#include "bike/contact_internal.h"
#include "bike/physics.h"
#include "bike/rider.h"
#include "track/heightfield.h"

using namespace contact_math;

namespace {

constexpr float PI = 3.14159265358979323846f;

// Point p of body b's frame in world coordinates.
vec3 body_point(dBodyID body, vec3 p)
{
    return transform(dBodyGetRotation(body), dBodyGetPosition(body), p);
}

// Direction d of body b's frame in world coordinates.
vec3 body_direction(dBodyID body, vec3 d)
{
    return rotate(dBodyGetRotation(body), d);
}

// The rider body where the figure is drawn: its placement when one is
// given, else the body's own.
struct rider_frame {
    const dReal* R;
    const dReal* p;
    vec3 point(vec3 q) const { return transform(R, p, q); }
    vec3 direction(vec3 d) const { return rotate(R, d); }
};

static_assert(sizeof(dReal) == sizeof(double), "rider_placement holds the engine's doubles");

rider_frame rider_of(const bike* b, const rider_placement* placed)
{
    if (placed)
        return {placed->rotation, placed->position};
    const dBodyID body = b->bodies[body_rider];
    return {dBodyGetRotation(body), dBodyGetPosition(body)};
}

vec3 body_point_velocity(dBodyID body, vec3 world_point)
{
    dVector3 v;
    dBodyGetPointVel(body, world_point.x, world_point.y, world_point.z, v);
    return from_ode(v);
}

// a / |a|, or fallback when a is (nearly) zero or not finite.
vec3 unit_or(vec3 a, vec3 fallback)
{
    const float len = length(a);
    if (!(len > 1e-12f) || !std::isfinite(len))
        return fallback;
    return scale(a, 1.0f / len);
}

// Some unit vector perpendicular to the unit vector u, always the same one
// for the same u.
vec3 any_perpendicular(vec3 u)
{
    const vec3 axis = std::fabs(u.x) < 0.9f ? v3(1, 0, 0) : v3(0, 0, 1);
    return unit_or(cross(u, axis), v3(0, 1, 0));
}

float ground_height(const heightfield* hf, float x, float z, float fallback)
{
    if (!hf)
        return fallback;
    return heightfield_height_at(hf, x, z);
}

}  // namespace

foot_placement foot_pose(const bike* b, const heightfield* hf, const rider_placement* placed)
{
    const bike_params& p = b->params;
    const dBodyID frame = b->bodies[body_frame];
    const rider_frame rider = rider_of(b, placed);

    // The pegs, and while a crash runs the feet off them: outward, up
    // and back, shrinking to nothing over the last second of the crash.
    vec3 left = p.peg[0];
    vec3 right = p.peg[1];
    if (b->crash_timer > 0) {
        const float t = (float)std::min(std::max(b->crash_timer, 1), 128) / 128.0f;
        const float a = clamp_value((t - 0.5f) * 2.0f, 0.0f, 1.0f) * 0.5f;
        const float up = clamp_value(2.0f * t, 0.0f, 1.0f);
        const float back = clamp_value(t * (4.0f / 3.0f), 0.0f, 1.0f);
        left.x -= a;
        right.x += a;
        left.y += 1.75f * up;
        right.y += 1.75f * up;
        left.z += back;
        right.z += back;
    }

    // The feet in the world.
    foot_placement out;
    out.feet[0] = body_point(frame, left);
    out.feet[1] = body_point(frame, right);
    out.weights[0] = 0;
    out.weights[1] = 0;

    // The dab: the foot on the side the bike leans to reaches for the
    // ground beside the hip, forward when riding and leaning, a little back
    // at rest.
    if (b->dab_amount != 0 && b->crash_timer <= 127) {
        const vec3 hip_l = rider.point(p.hip[0]);
        const vec3 hip_r = rider.point(p.hip[1]);
        const vec3 across = sub(hip_r, hip_l);
        const vec3 forward = body_direction(frame, v3(0, 0, -1));
        const vec3 velocity = from_ode(dBodyGetLinearVel(frame));
        const float roll = bike_roll(b);
        const float s = clamp_value(dot(forward, velocity) / 15.0f, 0.0f, 1.0f);
        const float r = clamp_value(std::fabs(roll) * (4.0f / PI), 0.0f, 1.0f);
        const vec3 ahead = scale(forward, (1.25f * s - 0.25f) * r * 2.5f);
        const float amount = b->dab_amount;
        if (!(roll <= -0.1f)) {
            vec3 target = add(add_scaled(hip_l, across, 0.5f * r - 0.5f), ahead);
            target.y = ground_height(hf, target.x, target.z, target.y) + 0.125f;
            out.feet[0] = add_scaled(out.feet[0], sub(target, out.feet[0]), amount);
            out.weights[0] = amount;
        }
        if (!(roll >= 0.1f)) {
            vec3 target = add(add_scaled(hip_r, across, 0.5f - 0.5f * r), ahead);
            target.y = ground_height(hf, target.x, target.z, target.y) + 0.125f;
            out.feet[1] = add_scaled(out.feet[1], sub(target, out.feet[1]), amount);
            out.weights[1] = amount;
        }
    }

    // During a crash the stored free feet rule, drawn back toward the
    // pose between 128 and 64 ticks before the rider is back on.
    if (b->crash_timer > 0) {
        const float u = (float)std::min(std::max(2 * b->crash_timer - 128, 1), 128) / 128.0f;
        for (int i = 0; i < 2; ++i) {
            out.feet[i] = add_scaled(out.feet[i], sub(b->feet[i].position, out.feet[i]), u);
            out.weights[i] = 1;
        }
    }
    return out;
}

void move_free_feet(bike* b, const heightfield* hf)
{
    if (b->crash_timer <= 0)
        return;
    const bike_params& p = b->params;
    const dBodyID rider = b->bodies[body_rider];
    const float h = physics_tick;
    const float leg = p.leg_upper + p.leg_lower;
    const vec3 hips[2] = {body_point(rider, p.hip[0]), body_point(rider, p.hip[1])};
    // One foot below the hips along the rider's down axis: the feet never
    // come higher than that plane.
    const vec3 down = body_direction(rider, v3(0, -1, 0));
    const vec3 floor_point = add(hips[0], down);

    for (int i = 0; i < 2; ++i) {
        bike_foot& f = b->feet[i];
        // Move, 2. fall, stop on the ground, lose speed.
        f.position = add_scaled(f.position, f.velocity, h);
        f.velocity.y -= 32.0f * h;
        // A foot resting exactly on the ground stays there at rest rather
        // than sinking and bouncing back on alternate ticks.
        const float ground = ground_height(hf, f.position.x, f.position.z, -INFINITY) + 0.25f;
        if (f.position.y <= ground) {
            f.position.y = ground;
            f.velocity = v3(0, 0, 0);
        }
        f.velocity = scale(f.velocity, 0.9375f);

        // Never further from the hip than the leg reaches; along the
        // leg the foot moves with the rider.
        const vec3 from_hip = sub(f.position, hips[i]);
        const float dist = length(from_hip);
        if (dist >= leg && dist > 0.0f) {
            const vec3 dir = scale(from_hip, 1.0f / dist);
            f.position = add_scaled(hips[i], dir, leg);
            const float along = dot(f.velocity, dir);
            const float rider_along = dot(body_point_velocity(rider, hips[i]), dir);
            f.velocity = add_scaled(f.velocity, dir, rider_along - along);
        }

        // Never above the plane below the hips.
        if (dot(sub(f.position, floor_point), down) < 0.0f) {
            f.position = add_scaled(f.position, down, dot(sub(floor_point, f.position), down));
            const float along = dot(f.velocity, down);
            const float rider_along = dot(body_point_velocity(rider, floor_point), down);
            f.velocity = add_scaled(f.velocity, down, rider_along - along);
        }
    }
}

vec3 solve_two_bone(vec3 a, vec3 b, float l1, float l2, vec3 pole)
{
    if (!(l1 > 0.0f) || !(l2 > 0.0f))
        return a;
    const vec3 limb = sub(b, a);
    const float dist = length(limb);
    // Root and end on one point: the limb has no direction of its own; any
    // fixed one keeps the joint finite.
    const vec3 u = unit_or(limb, v3(0, -1, 0));
    // Reach between the folded and 0.95 of the straight limb. The lower
    // bound also keeps d away from 0 for equal segments.
    const float lo = std::max(std::fabs(l1 - l2), 1e-3f * (l1 + l2));
    const float hi = 0.95f * (l1 + l2);
    float d = std::isfinite(dist) ? std::max(dist, lo) : hi;
    d = std::min(d, hi);
    const float a_len = (d * d + l1 * l1 - l2 * l2) / (2.0f * d);
    const float q = std::sqrt(std::max(l1 * l1 - a_len * a_len, 0.0f));
    const vec3 to_pole = sub(pole, a);
    const vec3 n = unit_or(add_scaled(to_pole, u, -dot(to_pole, u)), any_perpendicular(u));
    return add(add_scaled(a, u, a_len), scale(n, q));
}

arm_chain arm_pose(const bike* b, const rider_placement* placed)
{
    const bike_params& p = b->params;
    const rider_frame rider = rider_of(b, placed);
    const dBodyID fork = b->bodies[body_fork_upper];
    arm_chain out;
    for (int i = 0; i < 2; ++i) {
        out.shoulders[i] = rider.point(p.shoulder[i]);
        out.grips[i] = body_point(fork, p.grip[i]);
    }
    const float dy = out.shoulders[1].y - out.shoulders[0].y;
    const vec3 g = sub(out.grips[1], out.grips[0]);
    // Poles behind, below and outside each shoulder; the lower shoulder's
    // elbow drops further and the throttle hand's elbow drops with the grip
    // turned.
    const vec3 pole_l =
        sub(rider.point(add(p.shoulder[0], v3(-0.5f, -(1.0f + 1.5f * std::max(dy, 0.0f)), 2.0f))), g);
    const vec3 pole_r = add(
        rider.point(add(p.shoulder[1], v3(0.5f, -(0.9f + 0.125f * b->throttle + 1.5f * std::max(-dy, 0.0f)), 2.0f))),
        g);
    out.elbows[0] = solve_two_bone(out.shoulders[0], out.grips[0], p.arm_upper, p.arm_lower, pole_l);
    out.elbows[1] = solve_two_bone(out.shoulders[1], out.grips[1], p.arm_upper, p.arm_lower, pole_r);
    return out;
}

leg_chain leg_pose(const bike* b, const heightfield* hf, const rider_placement* placed)
{
    const bike_params& p = b->params;
    const rider_frame rider = rider_of(b, placed);
    const foot_placement feet = foot_pose(b, hf, placed);
    leg_chain out;
    const float side[2] = {-0.5f, 0.5f};
    for (int i = 0; i < 2; ++i) {
        out.hips[i] = rider.point(p.hip[i]);
        out.feet[i] = feet.feet[i];
        out.weights[i] = feet.weights[i];
        const vec3 pole = rider.point(add(p.hip[i], v3(side[i], 0, -2.0f)));
        out.knees[i] = solve_two_bone(out.hips[i], out.feet[i], p.leg_upper, p.leg_lower, pole);
    }
    return out;
}

head_frame head_pose(const bike* b, const rider_placement* placed)
{
    const rider_frame rider = rider_of(b, placed);
    const vec3 X = rider.direction(v3(1, 0, 0));
    const vec3 Y = rider.direction(v3(0, 1, 0));
    const vec3 Z = rider.direction(v3(0, 0, 1));
    head_frame out;
    out.position = rider.point(b->params.head_point);

    // Motion backwards along the rider is ignored.
    vec3 v = from_ode(dBodyGetLinearVel(b->bodies[body_rider]));
    const float vz = dot(v, Z);
    if (vz >= 0.0f)
        v = add_scaled(v, Z, -vz);
    // At low relative speed the head keeps its rest direction.
    vec3 d = sub(Z, v);
    const float dd = length_sq(d);
    if (dd < 1024.0f) {
        const float k = std::sqrt(dd) / 32.0f;
        d.x = Z.x + (d.x - Z.x) * k;
        d.z = Z.z + (d.z - Z.z) * k;
    }
    // The head's backward axis, tipped up as the horizontal speed grows.
    const float l = std::sqrt(d.x * d.x + d.z * d.z);
    const float e = std::max((60.0f - l) * l * 0.005833333333333333f, 0.0f) + 0.25f * l;
    const vec3 w = unit_or(v3(d.x, e, d.z), unit_or(Z, v3(0, 0, 1)));
    // The head's up and look directions.
    const vec3 U = scale(sub(scale(Y, 1.5f), Z), 0.5547002f);
    const vec3 V = scale(add(scale(Y, 1.5f), Z), 0.5547002f);
    // The up target: U pulled toward the world's up by at most 0.5.
    const vec3 up = v3(0, 1, 0);
    vec3 T = up;
    const vec3 to_up = sub(up, U);
    const float to_up_len = length(to_up);
    if (to_up_len > 0.5f)
        T = add_scaled(U, to_up, 0.5f / to_up_len);
    // The look direction stays within 0.75 of V.
    vec3 w1 = add_scaled(w, U, 2.0f * dot(w, U));
    const vec3 off = sub(w1, V);
    const float off_len = length(off);
    if (off_len > 0.75f)
        w1 = add_scaled(V, off, 0.75f / off_len);
    // Its component along U cut to a third.
    const vec3 w2 = add_scaled(w1, U, -dot(w1, U) * (2.0f / 3.0f));
    // The head's axes.
    const vec3 z_axis = unit_or(w2, Z);
    const vec3 x_axis = unit_or(cross(T, w2), X);
    const vec3 y_axis = unit_or(cross(w2, x_axis), Y);
    out.axes[0] = x_axis;
    out.axes[1] = y_axis;
    out.axes[2] = z_axis;
    return out;
}

rider_pose compute_rider_pose(const bike* b, const heightfield* hf, const rider_placement* placed)
{
    rider_pose out;
    out.arms = arm_pose(b, placed);
    out.legs = leg_pose(b, hf, placed);
    out.head = head_pose(b, placed);
    return out;
}
