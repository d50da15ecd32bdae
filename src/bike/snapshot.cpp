// Snapshot bytes: taking them from a live bike, reading them back, blending
// two of them, and posing a bike from the decoded values.
#include "bike/snapshot.h"

#include <ode/ode.h>

#include <cmath>

#include "bike/bike.h"
#include "bike/catalogue.h"
#include "bike/contact_internal.h"
#include "bike/limb_pose.h"
#include "bike/physics.h"
#include "bike/snapshot_internal.h"
#include "track/heightfield.h"

using namespace contact_math;
using namespace snapshot_detail;

namespace {

// Table constants, in single precision as the format defines them.
constexpr float k_quarter_pi = 0.7853982f;
constexpr float k_steer_scale = 0.63661975f;   // 1 / (pi / 2)
constexpr float k_steer_span = 1.5707964f;
constexpr float k_pi = 3.1415927f;
constexpr float k_axle_scale = 0.15915494f;    // 1 / (2 pi)
constexpr float k_axle_span = 6.2831855f;
constexpr double k_rpm_per_rad_s = 9.549296585513721;
constexpr double k_rad_s_per_rpm = 0.10471975511965977;
constexpr float k_max_rpm = 32768.0f;
constexpr float k_rider_reach = 16.0f;         // feet either way
constexpr double k_fifteenth = 0.06666666666666667;

constexpr uint32_t k_n8 = 255, k_n16 = 65535, k_n24 = 16777215;

// u (the value's place in its range) to the integer range [0, n], rounded
// half up. The value was taken in single precision; its place in the range
// is worked out in double with the single-precision constants (which puts
// a straight steering head just below the middle byte). A non-number
// stores 0.
uint32_t quantise_unit(double u, uint32_t n)
{
    u = u >= 0.0 ? (u <= 1.0 ? u : 1.0) : 0.0;
    const double q = u * (double)n + 0.5;
    return q >= (double)n ? n : (uint32_t)q;
}
void put(uint8_t* p, uint32_t v, int bytes)
{
    for (int i = 0; i < bytes; i++)
        p[i] = (uint8_t)((v >> (8 * i)) & 0xff);
}
uint32_t get(const uint8_t* p, int bytes)
{
    uint32_t v = 0;
    for (int i = 0; i < bytes; i++)
        v |= (uint32_t)p[i] << (8 * i);
    return v;
}

// Offsets of the fields that differ between the formats.
struct layout {
    int axles, state, engine;
};
layout layout_of(int format)
{
    return format == 4 ? layout{21, 23, 24} : layout{34, 36, 37};
}

void put_quat(uint8_t* p, snapshot_quat q)
{
    const float c[4] = {q.w, q.x, q.y, q.z};
    for (int i = 0; i < 4; i++)
        put(p + 2 * i, quantise_unit(((double)clamp_or_low(c[i], -1.0f, 1.0f) + 1.0) / 2.0, k_n16), 2);
}
snapshot_quat get_quat(const uint8_t* p)
{
    float c[4];
    for (int i = 0; i < 4; i++)
        c[i] = (float)get(p + 2 * i, 2) / 65535.0f * 2.0f - 1.0f;
    return {c[0], c[1], c[2], c[3]};
}

double fraction_over(float v, float lo, float span)
{
    // A model without travel stores its joint as fully extended.
    if (!(span > 0))
        return 1.0;
    return ((double)clamp_or_low(v, lo, lo + span) - (double)lo) / (double)span;
}

// ---- posing ------------------------------------------------------------------

// The seven body poses a snapshot's values describe.
void decode_poses(const bike_params& bp, const snapshot_values& v, body_pose out[bike_body_count])
{
    body_pose& frame = out[body_frame];
    frame.p = v.frame_position;
    frame.q = quat_normalised(v.frame_orientation);

    body_pose& fork_upper = out[body_fork_upper];
    fork_upper.p = pose_apply(frame, sub(bp.fork_upper_pos, bp.frame_pos));
    fork_upper.q = quat_mul(frame.q, quat_axis_angle(sub(bp.fork_upper_pos, bp.fork_lower_pos), v.steering));

    body_pose& swingarm = out[body_swingarm];
    const snapshot_quat rx = quat_axis_angle({1, 0, 0}, v.swingarm);
    const vec3 arm = add(bp.swingarm_pivot, quat_rotate(rx, sub(bp.swingarm_pos, bp.swingarm_pivot)));
    swingarm.p = pose_apply(frame, sub(arm, bp.frame_pos));
    swingarm.q = quat_mul(frame.q, rx);

    body_pose& fork_lower = out[body_fork_lower];
    const vec3 u = normalised_or_zero(sub(bp.fork_lower_pos, bp.fork_upper_pos));
    fork_lower.p = pose_apply(fork_upper, sub(add_scaled(bp.fork_lower_pos, u, v.fork), bp.fork_upper_pos));
    fork_lower.q = fork_upper.q;

    body_pose& rider = out[body_rider];
    rider.p = add(frame.p, v.rider_offset);
    rider.q = quat_normalised(v.rider_orientation);

    body_pose& front = out[body_front_wheel];
    front.p = pose_apply(fork_lower, sub(bp.front_wheel_pos, bp.fork_lower_pos));
    front.q = quat_mul(fork_lower.q, quat_axis_angle({-1, 0, 0}, v.front_axle));

    body_pose& rear = out[body_rear_wheel];
    rear.p = pose_apply(swingarm, sub(bp.rear_wheel_pos, bp.swingarm_pos));
    rear.q = quat_mul(swingarm.q, quat_axis_angle({-1, 0, 0}, v.rear_axle));
}

void set_poses(bike* b, const body_pose poses[bike_body_count])
{
    for (int i = 0; i < bike_body_count; i++) {
        dBodyID body = b->bodies[i];
        if (!body)
            continue;
        dBodySetPosition(body, poses[i].p.x, poses[i].p.y, poses[i].p.z);
        const dQuaternion q = {poses[i].q.w, poses[i].q.x, poses[i].q.y, poses[i].q.z};
        dBodySetQuaternion(body, q);
    }
}

// ---- rider state ----------------------------------------------------------------

void detach_rider(bike* b)
{
    if (b->joints[joint_rider_mount])
        dJointAttach(b->joints[joint_rider_mount], nullptr, nullptr);
}

// The rider back on the bike: the mount is attached with the rider at its
// rest point (the joint takes its reference from there), then the rider
// gets back the pose it had.
void reseat_rider(bike* b)
{
    dBodyID rider = b->bodies[body_rider];
    dBodyID frame = b->bodies[body_frame];
    if (!rider || !frame || !b->joints[joint_rider_mount])
        return;
    const dReal* p = dBodyGetPosition(rider);
    const dReal* q = dBodyGetQuaternion(rider);
    const dVector3 keep_p = {p[0], p[1], p[2], 0};
    const dQuaternion keep_q = {q[0], q[1], q[2], q[3]};
    const vec3 r = sub(b->params.rider_pos, b->params.frame_pos);
    dVector3 seat;
    dBodyGetRelPointPos(frame, r.x, r.y, r.z, seat);
    dBodySetPosition(rider, seat[0], seat[1], seat[2]);
    dBodySetRotation(rider, dBodyGetRotation(frame));
    attach_rider_mount(b);
    dBodySetPosition(rider, keep_p[0], keep_p[1], keep_p[2]);
    dBodySetQuaternion(rider, keep_q);
}

// The highest gear at or below the stored one that the model has.
int present_gear(const bike_params& p, int stored)
{
    int gear = stored < GEAR_COUNT - 1 ? stored : GEAR_COUNT - 1;
    while (gear > 0 && !(p.gear_ratio[gear] > 0))
        gear--;
    return gear;
}

// The feet as the rider leaves the bike: where the pose had them a moment
// before the crash, moving with the rider's body.
void place_crash_feet(bike* b, const heightfield* hf)
{
    dBodyID rider = b->bodies[body_rider];
    const int crash_timer = b->crash_timer;
    b->crash_timer = 0;
    const foot_placement feet = foot_pose(b, hf);
    b->crash_timer = crash_timer;
    for (int i = 0; i < 2; i++) {
        b->feet[i].position = feet.feet[i];
        if (rider) {
            dVector3 v;
            dBodyGetPointVel(rider, feet.feet[i].x, feet.feet[i].y, feet.feet[i].z, v);
            b->feet[i].velocity = from_ode(v);
        }
    }
}

// The crash state and gear, throttle and engine of a snapshot. With
// place_feet (a solid bike) the feet leave the pegs when a crash starts.
void apply_state(bike* b, const snapshot_values& v, bool place_feet, const heightfield* hf)
{
    if (v.rider_down) {
        if (place_feet && b->crash_timer == 0)
            place_crash_feet(b, hf);
        detach_rider(b);
        b->throttle = 0;
        b->crash_timer = v.crash_timer;
    } else {
        if (b->crash_timer != 0)
            reseat_rider(b);
        b->crash_timer = 0;
        b->gear = present_gear(b->params, v.gear);
        b->throttle = clamp_or_low(v.throttle, 0.0f, 1.0f);
    }
    b->engine_speed = v.engine_speed;
}

// ---- driving a bike ------------------------------------------------------------------

void pose_ghost(bike* b, const bike_snapshot& current, const bike_snapshot& earlier, const bike_snapshot& later,
                int n, int format, const snapshot_terrain& t)
{
    const int crash_before = b->crash_timer;
    body_pose from[bike_body_count], to[bike_body_count];
    decode_poses(b->params, read_bike_snapshot(earlier, format, b->params, t), from);
    decode_poses(b->params, read_bike_snapshot(later, format, b->params, t), to);
    const float dt = (float)(n > 1 ? n : 1) * physics_tick;
    for (int i = 0; i < bike_body_count; i++) {
        dBodyID body = b->bodies[i];
        if (!body)
            continue;
        const vec3 v = scale(sub(to[i].p, from[i].p), 1.0f / dt);
        const vec3 w = scale(rotation_vector(from[i].q, to[i].q), 1.0f / dt);
        dBodySetLinearVel(body, v.x, v.y, v.z);
        dBodySetAngularVel(body, w.x, w.y, w.z);
    }

    const snapshot_values now = read_bike_snapshot(current, format, b->params, t);
    body_pose poses[bike_body_count];
    decode_poses(b->params, now, poses);
    set_poses(b, poses);
    apply_state(b, now, false, t.hf);

    // A ghost whose rear tyre would sink into the ground rides on it.
    if (t.hf && t.hf->heights) {
        const vec3 bottom = add(poses[body_rear_wheel].p,
                                quat_rotate(poses[body_frame].q, {0, -b->params.rear_tyre_ring_radius, 0}));
        const float ground = heightfield_height_at(t.hf, bottom.x, bottom.z);
        if (bottom.y < ground)
            translate_bike(b, 0, ground - bottom.y, 0);
    }

    if (crash_before == 0 && b->crash_timer != 0)
        place_crash_feet(b, t.hf);
    if (now.rider_down || now.dab)
        b->dab_amount = std::fmin(1.0f, b->dab_amount + 8.0f * physics_tick);
}

void follow_by_force(bike* b, const bike_snapshot& current, const bike_snapshot& earlier,
                     const bike_snapshot& later, int n, int format, const snapshot_terrain& t)
{
    dBodyID frame = b->bodies[body_frame];
    const snapshot_values now = read_bike_snapshot(current, format, b->params, t);
    const force_gains g = follow_gains(b->presence);

    const vec3 from = read_bike_snapshot(earlier, format, b->params, t).frame_position;
    const vec3 to = read_bike_snapshot(later, format, b->params, t).frame_position;
    const vec3 target_v = scale(sub(to, from), 1.0f / ((float)(n > 1 ? n : 1) * physics_tick));
    const vec3 p = from_ode(dBodyGetPosition(frame));
    const vec3 v = from_ode(dBodyGetLinearVel(frame));
    const vec3 w = from_ode(dBodyGetAngularVel(frame));
    const dReal* q = dBodyGetQuaternion(frame);
    const snapshot_quat present = {(float)q[0], (float)q[1], (float)q[2], (float)q[3]};

    const vec3 force = limit_length(
        add(scale(sub(now.frame_position, p), g.stiffness), scale(sub(v, target_v), g.damping)), 2500.0f);
    dBodyAddForce(frame, force.x, force.y, force.z);
    const vec3 turn = rotation_vector(present, quat_normalised(now.frame_orientation));
    const vec3 torque = limit_length(add(scale(turn, g.stiffness), scale(w, g.damping)), 2500.0f);
    dBodyAddTorque(frame, torque.x, torque.y, torque.z);

    dJointID head = b->joints[joint_steering_head];
    const float angle = (float)dJointGetHingeAngle(head);
    const float rate = (float)dJointGetHingeAngleRate(head);
    b->steer = clamp_or_low((now.steering - angle - rate) * 0.25f, -1.0f, 1.0f);

    apply_state(b, now, true, t.hf);

    const bool down = b->crash_timer >= 1;
    b->sit_dab = (now.dab && !down) ? 1.0f : 0.0f;
    if (down) {
        b->lean = 0;
    } else {
        const snapshot_quat orientation = quat_normalised(now.frame_orientation);
        const vec3 y = quat_rotate(orientation, {0, 1, 0});
        const vec3 z = quat_rotate(orientation, {0, 0, 1});
        const vec3 r = sub(b->params.rider_pos, b->params.frame_pos);
        const float lean =
            (r.y - dot(now.rider_offset, y)) * (0.5f + 0.5f * b->sit_dab) - (r.z - dot(now.rider_offset, z));
        b->lean = clamp_or_low(lean, -1.0f, 1.0f);
    }
}

}  // namespace

// ---- snapshot_detail ------------------------------------------------------------------

force_gains snapshot_detail::follow_gains(float presence)
{
    force_gains g;
    if (presence > 0.75f) {
        g.stiffness = 0;
        g.damping = 0;
    } else if (presence > 0.5f) {
        const float q = clamp_or_low((presence - 0.75f) * -4.0f, 0.0f, 1.0f);
        g.stiffness = 5000.0f * q;
        g.damping = -500.0f * q;
    } else {
        const float q = clamp_or_low((presence - 0.5f) * -2.0f, 0.0f, 1.0f);
        g.stiffness = 45000.0f * q + 5000.0f;
        g.damping = -500.0f;
    }
    return g;
}

// ---- the public functions ------------------------------------------------------------

snapshot_terrain snapshot_terrain_of(const heightfield* hf)
{
    snapshot_terrain t;
    t.hf = hf;
    if (!hf)
        return t;
    t.extent = hf->extent;
    t.height_base = hf->height_min;
    const float* h = hf->loaded_heights ? hf->loaded_heights : hf->heights;
    if (h && hf->sample_count > 0) {
        const size_t count = (size_t)hf->sample_count * (size_t)hf->sample_count;
        float lowest = h[0];
        for (size_t i = 1; i < count; i++)
            if (h[i] < lowest)
                lowest = h[i];
        t.height_base = lowest;
    }
    return t;
}

uint8_t snapshot_state_byte(int gear, float dab_amount, float throttle, int crash_timer)
{
    if (crash_timer > 0) {
        const long long level = (15LL * crash_timer - 15) / 127;
        return (uint8_t)(7 | ((level < 15 ? level : 15) << 4));
    }
    const int g = gear < 0 ? 0 : (gear > 6 ? 6 : gear);
    const int dab = dab_amount > 0 ? 8 : 0;
    // Truncated toward zero; a non-number reads as closed.
    const float t = clamp_or_low(throttle * 15.0f, 0.0f, 15.0f);
    return (uint8_t)(g | dab | ((int)t << 4));
}

void encode_bike_snapshot(const bike* b, const snapshot_terrain& t, bike_snapshot* out)
{
    uint8_t* s = out->bytes;
    const bike_params& bp = b->params;
    const float e = t.extent;
    dBodyID frame = b->bodies[body_frame];
    dBodyID rider = b->bodies[body_rider];

    const vec3 p = from_ode(dBodyGetPosition(frame));
    const double h0 = t.height_base;
    put(s + 0, quantise_unit(e > 0 ? (double)clamp_or_low(p.x, 0.0f, e) / e : 0.0, k_n24), 3);
    put(s + 3, quantise_unit(e > 0 ? ((double)clamp_or_low(p.y, t.height_base, t.height_base + e) - h0) / e : 0.0,
                             k_n24),
        3);
    put(s + 6, quantise_unit(e > 0 ? (double)clamp_or_low(p.z, 0.0f, e) / e : 0.0, k_n24), 3);
    const dReal* q = dBodyGetQuaternion(frame);
    put_quat(s + 9, {(float)q[0], (float)q[1], (float)q[2], (float)q[3]});

    const float steering = (float)dJointGetHingeAngle(b->joints[joint_steering_head]);
    s[17] = (uint8_t)quantise_unit(
        ((double)clamp_or_low(steering, -k_quarter_pi, k_quarter_pi) + (double)k_quarter_pi) * (double)k_steer_scale,
        k_n8);
    const float swing = (float)dJointGetHingeAngle(b->joints[joint_swingarm_pivot]);
    s[18] = (uint8_t)quantise_unit(fraction_over(swing, -bp.swingarm_travel, bp.swingarm_travel), k_n8);
    const float fork = (float)dJointGetSliderPosition(b->joints[joint_fork_slider]);
    s[19] = (uint8_t)quantise_unit(fraction_over(fork, -bp.fork_travel, bp.fork_travel), k_n8);

    const vec3 rp = from_ode(dBodyGetPosition(rider));
    const float d[3] = {rp.x - p.x, rp.y - p.y, rp.z - p.z};
    for (int i = 0; i < 3; i++) {
        const double reach = k_rider_reach;
        put(s + 20 + 2 * i,
            quantise_unit(((double)clamp_or_low(d[i], -k_rider_reach, k_rider_reach) + reach) / (2 * reach), k_n16),
            2);
    }
    const dReal* rq = dBodyGetQuaternion(rider);
    put_quat(s + 26, {(float)rq[0], (float)rq[1], (float)rq[2], (float)rq[3]});

    const dJointID axles[2] = {b->joints[joint_front_axle], b->joints[joint_rear_axle]};
    for (int i = 0; i < 2; i++) {
        const float a = (float)dJointGetHingeAngle(axles[i]);
        s[34 + i] = (uint8_t)quantise_unit(((double)clamp_or_low(a, -k_pi, k_pi) + (double)k_pi) * (double)k_axle_scale,
                                           k_n8);
    }

    s[36] = snapshot_state_byte(b->gear, b->dab_amount, b->throttle, b->crash_timer);

    const float rpm = (float)((double)b->engine_speed * k_rpm_per_rad_s);
    put(s + 37, quantise_unit((double)clamp_or_low(rpm, 0.0f, k_max_rpm) / (double)k_max_rpm, k_n16), 2);
}

snapshot_values read_bike_snapshot(const bike_snapshot& snap, int format, const bike_params& bp,
                                   const snapshot_terrain& t)
{
    const uint8_t* s = snap.bytes;
    const layout at = layout_of(format);
    snapshot_values v;
    const double e = t.extent;
    v.frame_position.x = (float)(e * (double)get(s + 0, 3) / 16777215.0);
    v.frame_position.y = (float)(t.height_base + e * (double)get(s + 3, 3) / 16777215.0);
    v.frame_position.z = (float)(e * (double)get(s + 6, 3) / 16777215.0);
    v.frame_orientation = get_quat(s + 9);
    v.steering = (float)s[17] / 255.0f * k_steer_span - k_quarter_pi;
    v.swingarm = (float)s[18] / 255.0f * bp.swingarm_travel - bp.swingarm_travel;
    v.fork = (float)s[19] / 255.0f * bp.fork_travel - bp.fork_travel;
    if (format == 4) {
        // The rider slides along its rail, turned with the frame.
        v.rider_slide = bp.rider_move_min + (bp.rider_move_max - bp.rider_move_min) * ((float)s[20] / 255.0f);
        const vec3 seat = add_scaled(sub(bp.rider_pos, bp.frame_pos), normalised_or_zero(bp.rider_move_dir),
                                     v.rider_slide);
        v.rider_offset = quat_rotate(quat_normalised(v.frame_orientation), seat);
        v.rider_orientation = v.frame_orientation;
    } else {
        v.rider_offset = {(float)get(s + 20, 2) / 65535.0f * 32.0f - 16.0f,
                          (float)get(s + 22, 2) / 65535.0f * 32.0f - 16.0f,
                          (float)get(s + 24, 2) / 65535.0f * 32.0f - 16.0f};
        v.rider_orientation = get_quat(s + 26);
    }
    v.front_axle = (float)s[at.axles] / 255.0f * k_axle_span - k_pi;
    v.rear_axle = (float)s[at.axles + 1] / 255.0f * k_axle_span - k_pi;
    v.state = s[at.state];
    v.rider_down = (v.state & 7) == 7;
    if (v.rider_down) {
        v.crash_timer = (v.state >> 4) * 127 / 15 + 1;
    } else {
        v.gear = v.state & 7;
        v.dab = (v.state & 8) != 0;
        v.throttle = (float)((double)(v.state >> 4) * k_fifteenth);
    }
    v.engine_speed = (float)((double)get(s + at.engine, 2) / 65535.0 * 32768.0 * k_rad_s_per_rpm);
    return v;
}

void decode_bike_snapshot(bike* b, const bike_snapshot& s, int format, const snapshot_terrain& t)
{
    const snapshot_values v = read_bike_snapshot(s, format, b->params, t);
    body_pose poses[bike_body_count];
    decode_poses(b->params, v, poses);
    set_poses(b, poses);
    apply_state(b, v, false, t.hf);
}

void interpolate_bike_snapshot(bike_snapshot* out, const bike_snapshot& a, const bike_snapshot& b, float f,
                               int format)
{
    if (format == 4 || !(f > 0)) {
        *out = a;
        return;
    }
    const uint8_t* sa = a.bytes;
    const uint8_t* sb = b.bytes;
    bike_snapshot result;
    uint8_t* r = result.bytes;

    // The position alone runs on past b.
    for (int i = 0; i < 3; i++) {
        const double va = (double)get(sa + 3 * i, 3) / 16777215.0, vb = (double)get(sb + 3 * i, 3) / 16777215.0;
        put(r + 3 * i, quantise_unit(va + (double)f * (vb - va), k_n24), 3);
    }
    const double g = f < 1.0f ? (double)f : 1.0;

    const int quats[2] = {9, 26};
    for (int offset : quats) {
        snapshot_quat qa = get_quat(sa + offset);
        const snapshot_quat qb = get_quat(sb + offset);
        if (qa.w * qb.w + qa.x * qb.x + qa.y * qb.y + qa.z * qb.z < 0)
            qa = {-qa.w, -qa.x, -qa.y, -qa.z};
        const float gf = (float)g;
        const snapshot_quat q = {qa.w + gf * (qb.w - qa.w), qa.x + gf * (qb.x - qa.x), qa.y + gf * (qb.y - qa.y),
                                 qa.z + gf * (qb.z - qa.z)};
        put_quat(r + offset, quat_normalised(q));
    }
    for (int i = 17; i <= 19; i++) {
        const double va = sa[i] / 255.0, vb = sb[i] / 255.0;
        r[i] = (uint8_t)quantise_unit(va + g * (vb - va), k_n8);
    }
    const int pairs[4] = {20, 22, 24, 37};
    for (int offset : pairs) {
        const double va = get(sa + offset, 2) / 65535.0, vb = get(sb + offset, 2) / 65535.0;
        put(r + offset, quantise_unit(va + g * (vb - va), k_n16), 2);
    }
    // Wheels: forward across the wrap by up to seven eighths of a turn,
    // backward by up to one eighth.
    for (int i = 34; i <= 35; i++) {
        double va = sa[i] / 255.0, vb = sb[i] / 255.0;
        if (vb < va - 0.125)
            va -= 1.0;
        else if (vb > va + 0.875)
            vb -= 1.0;
        double v = va + g * (vb - va);
        if (v < 0)
            v += 1.0;
        r[i] = (uint8_t)quantise_unit(v, k_n8);
    }
    r[36] = sa[36];
    *out = result;
}

void apply_bike_snapshot(bike* b, const bike_snapshot& current, const bike_snapshot& earlier,
                         const bike_snapshot& later, int n, int format, const snapshot_terrain& t)
{
    if (b->presence > 0.25f)
        follow_by_force(b, current, earlier, later, n, format, t);
    else
        pose_ghost(b, current, earlier, later, n, format, t);
}

void apply_playback_tuning(bike* b)
{
    set_bike_ghost(b);
    bike_set_roll_damping(b, 100.0f);
    bike_set_full_lock_speed(b, 5.0f);
    bike_set_restricted_lock_speed(b, 50.0f);
    bike_set_restricted_lock_angle(b, 0.04363323f);
}
