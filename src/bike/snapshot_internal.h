// Quaternion helpers and the force-following gains of the snapshot code.
// Internal to src/bike (and its tests).
#pragma once

#include <cmath>

#include "bike/snapshot.h"
#include "core/vec3.h"

namespace snapshot_detail {

// v clamped to [lo, hi]; a non-number gives lo.
inline float clamp_or_low(float v, float lo, float hi)
{
    return v >= lo ? (v <= hi ? v : hi) : lo;
}

inline vec3 normalised_or_zero(vec3 v)
{
    const float l = sqrtf(v.x * v.x + v.y * v.y + v.z * v.z);
    if (!(l > 0))
        return {0, 0, 0};
    return {v.x / l, v.y / l, v.z / l};
}

// v shortened to at most max long.
inline vec3 limit_length(vec3 v, float max)
{
    const float l = sqrtf(v.x * v.x + v.y * v.y + v.z * v.z);
    if (!(l > max))
        return std::isfinite(l) ? v : vec3{0, 0, 0};
    const float k = max / l;
    return {v.x * k, v.y * k, v.z * k};
}

// a then b: the rotation b applied in a's frame (a * b).
inline snapshot_quat quat_mul(snapshot_quat a, snapshot_quat b)
{
    return {a.w * b.w - a.x * b.x - a.y * b.y - a.z * b.z, a.w * b.x + a.x * b.w + a.y * b.z - a.z * b.y,
            a.w * b.y - a.x * b.z + a.y * b.w + a.z * b.x, a.w * b.z + a.x * b.y - a.y * b.x + a.z * b.w};
}

inline snapshot_quat quat_conjugate(snapshot_quat q)
{
    return {q.w, -q.x, -q.y, -q.z};
}

// Unit length; a quaternion too short to have a direction is the identity.
inline snapshot_quat quat_normalised(snapshot_quat q)
{
    const float l = sqrtf(q.w * q.w + q.x * q.x + q.y * q.y + q.z * q.z);
    if (!(l > 1e-12f) || !std::isfinite(l))
        return {1, 0, 0, 0};
    return {q.w / l, q.x / l, q.y / l, q.z / l};
}

// The rotation by angle about axis (normalised here; a zero axis gives the
// identity).
inline snapshot_quat quat_axis_angle(vec3 axis, float angle)
{
    const vec3 a = normalised_or_zero(axis);
    const float s = sinf(angle * 0.5f);
    if (a.x == 0 && a.y == 0 && a.z == 0)
        return {1, 0, 0, 0};
    return {cosf(angle * 0.5f), a.x * s, a.y * s, a.z * s};
}

// q applied to v (q of unit length).
inline vec3 quat_rotate(snapshot_quat q, vec3 v)
{
    // v + 2w (u x v) + 2 u x (u x v), u the vector part.
    const float tx = 2.0f * (q.y * v.z - q.z * v.y);
    const float ty = 2.0f * (q.z * v.x - q.x * v.z);
    const float tz = 2.0f * (q.x * v.y - q.y * v.x);
    return {v.x + q.w * tx + (q.y * tz - q.z * ty), v.y + q.w * ty + (q.z * tx - q.x * tz),
            v.z + q.w * tz + (q.x * ty - q.y * tx)};
}

// The rotation from orientation a to orientation b (world frame) as axis
// times angle, the angle in 0..pi; zero when they are equal.
inline vec3 rotation_vector(snapshot_quat a, snapshot_quat b)
{
    snapshot_quat d = quat_mul(b, quat_conjugate(a));
    if (d.w < 0)
        d = {-d.w, -d.x, -d.y, -d.z};
    const float s = sqrtf(d.x * d.x + d.y * d.y + d.z * d.z);
    if (!(s > 0))
        return {0, 0, 0};
    const float angle = 2.0f * atan2f(s, d.w);
    const float k = angle / s;
    return {d.x * k, d.y * k, d.z * k};
}

// A body's place: position and orientation (unit).
struct body_pose {
    vec3 p = {0, 0, 0};
    snapshot_quat q;
};

// The pose's transform applied to a body-frame vector.
inline vec3 pose_apply(const body_pose& b, vec3 r)
{
    const vec3 v = quat_rotate(b.q, r);
    return {b.p.x + v.x, b.p.y + v.y, b.p.z + v.z};
}

// How hard a solid remote bike is pulled toward its snapshots: none while
// it is fully present, growing as its presence fades toward a ghost.
// damping <= 0 (it multiplies the velocity error).
struct force_gains {
    float stiffness = 0;
    float damping = 0;
};
force_gains follow_gains(float presence);

}  // namespace snapshot_detail
