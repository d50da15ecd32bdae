// The rider's checks at the start of a step, ejection, the crash sequence,
// the automatic dab and walking backwards, the rider's springs, the feet
// and the bump rules; the measurements and joints the steering and dab
// files share.
#include "bike/rider.h"

#include <cmath>

#include "bike/bike.h"
#include "bike/contact.h"
#include "bike/limb_pose.h"
#include "bike/physics.h"
#include "bike/rider_internal.h"
#include "bike/shape.h"
#include "track/heightfield.h"

using namespace contact_math;
using namespace rider_detail;

namespace {

// Tethers of a crash: a stiff, well damped pull.
constexpr float tether_spring = 5000.0f;
constexpr float tether_damping = 500.0f;
// Speeds, ft/s.
constexpr float slow_speed = 5.0f;
// The rider counts as lying still below this speed (ft/s).
constexpr float rider_still_speed = 2.0f;
// A crash lasts this many ticks once the rider lies still; the last 384
// draw him back to the bike, the last 128 hold him in place.
constexpr int crash_ticks = 512;

// A point of the frame's own coordinates in the world.
vec3 frame_point(const bike* b, vec3 local)
{
    return body_point(b->bodies[body_frame], local);
}

void hold_crashed_commands(bike* b)
{
    b->throttle = 0.0f;
    b->sit_dab = 0.0f;
    b->back_up = 0.0f;
    b->lean = 0.0f;
}

}  // namespace

// ---- shared helpers ---------------------------------------------------------------

namespace rider_detail {

float ground_height(const bike_world* w, float x, float z)
{
    if (!w || !w->ground || w->ground->sample_count <= 0)
        return -1e30f;
    return heightfield_height_at(w->ground, x, z);
}

void soft_contact(dBodyID a, dBodyID b, vec3 point, vec3 normal, float depth, float k, float c)
{
    if (!physics_space_of(a) || a == b || !(k * physics_tick + c > 0.0f))
        return;
    // A contact at exactly no depth pushes nothing this step, and as a row of
    // the solver it can be exactly degenerate (a body sitting exactly at its
    // rest point on an axis-aligned frame): leave it out.
    if (!(depth > 0.0f))
        return;
    if (!finite(point) || !finite(normal) || !std::isfinite(depth))
        return;
    float erp, cfm;
    contact_soft_params(k, c, &erp, &cfm);
    dContact contact = {};
    contact.surface.mode = dContactSoftERP | dContactSoftCFM;
    contact.surface.mu = 0;  // no friction rows
    contact.surface.soft_erp = erp;
    contact.surface.soft_cfm = cfm;
    contact.geom.pos[0] = point.x;
    contact.geom.pos[1] = point.y;
    contact.geom.pos[2] = point.z;
    contact.geom.normal[0] = normal.x;
    contact.geom.normal[1] = normal.y;
    contact.geom.normal[2] = normal.z;
    contact.geom.depth = depth;
    physics_add_contact(contact, a, b, nullptr);
}

void tether(dBodyID a, vec3 local_a, dBodyID b, vec3 local_b, float length)
{
    if (!a || !b)
        return;
    const vec3 pa = body_point(a, local_a);
    const vec3 pb = body_point(b, local_b);
    const vec3 d = sub(pb, pa);
    const float l = contact_math::length(d);
    if (!(l > length) || !(l > 0.0f))
        return;
    soft_contact(a, b, pa, scale(d, 1.0f / l), l - length, tether_spring, tether_damping);
}

void world_angular_motor(dBodyID body, vec3 axis, float speed, float max_torque)
{
    physics_space* space = physics_space_of(body);
    if (!space || !(max_torque > 0.0f) || !finite(axis) || !std::isfinite(speed))
        return;
    dJointID j = dJointCreateAMotor(space->world, space->contacts);
    dJointAttach(j, body, nullptr);
    dJointSetAMotorMode(j, dAMotorUser);
    dJointSetAMotorNumAxes(j, 1);
    // Axis given in world coordinates (rel 0).
    dJointSetAMotorAxis(j, 0, 0, axis.x, axis.y, axis.z);
    dJointSetAMotorParam(j, dParamFMax, max_torque);
    dJointSetAMotorParam(j, dParamVel, speed);
}

vec3 steering_axis(const bike* b)
{
    dVector3 a;
    dJointGetHingeAxis(b->joints[joint_steering_head], a);
    return from_ode(a);
}

void apply_steering_torque(bike* b, float tau)
{
    if (!std::isfinite(tau))
        return;
    const vec3 t = scale(steering_axis(b), tau);
    dBodyAddTorque(b->bodies[body_front_wheel], t.x, t.y, t.z);
    dBodyAddTorque(b->bodies[body_frame], -t.x, -t.y, -t.z);
}

float frame_speed(const bike* b)
{
    return contact_math::length(body_velocity(b->bodies[body_frame]));
}

float dab_speed_limit(const bike* b)
{
    float d = b->max_dab_speed;
    if (b->bump_timer <= -512.0f && d < 75.0f)
        d = 75.0f;
    return d;
}

}  // namespace rider_detail

// ---- measurements -----------------------------------------------------------------

float bike_roll(const bike* b)
{
    const dReal* r = dBodyGetRotation(b->bodies[body_frame]);
    // Forward is the frame's -z axis, up its y axis (columns of R).
    const vec3 forward = {(float)-r[2], (float)-r[6], (float)-r[10]};
    const vec3 up = {(float)r[1], (float)r[5], (float)r[9]};
    vec3 side = {-forward.z, 0.0f, forward.x};
    const float len = length(side);
    // A frame pointing straight up or down has no side: no roll.
    if (!(len > 0.0f))
        return 0.0f;
    side = scale(side, 1.0f / len);
    return acosf(clampf(dot(up, side), -1.0f, 1.0f)) - 0.5f * pi;
}

float bike_roll_rate(const bike* b)
{
    dBodyID frame = b->bodies[body_frame];
    return dot(from_ode(dBodyGetAngularVel(frame)), body_axis(frame, 0, 0, 1));
}

float front_slip_angle(const bike* b)
{
    const vec3 vw = body_velocity(b->bodies[body_front_wheel]);
    dVector3 local;
    dBodyVectorFromWorld(b->bodies[body_fork_upper], vw.x, vw.y, vw.z, local);
    const vec3 v = from_ode(local);
    const vec3 axis = sub(b->params.fork_upper_pos, b->params.fork_lower_pos);
    const float al = length(axis);
    if (!(al > 0.0f))
        return 0.0f;
    const vec3 a = scale(axis, 1.0f / al);
    const float w = v.y * -a.z + v.z * a.y;
    if (!(v.x * v.x + w * w > 1.0f))
        return 0.0f;
    return -atan2f(v.x, -w);
}

// ---- laws -------------------------------------------------------------------------

float ejection_tolerance(int air_ticks, int ticks_since_landing)
{
    const float a = clampf(((float)air_ticks * h - 0.559f) * 7.9365087f, 0.0f, 1.0f);
    const float b = clampf(((float)ticks_since_landing * h - 0.25f) * -8.0f, 0.0f, 1.0f);
    return 1.5f - 0.5f * a * b;
}

float bump_stability_limit(float bump_timer)
{
    return 200.0f * clampf((128.0f - bump_timer) / 128.0f, 0.0f, 1.0f);
}

void horizontal_hold(dBodyID body, vec3 target, float max_force)
{
    if (!body)
        return;
    const vec3 d = sub(body_velocity(body), target);
    const float l = length(d);
    if (!(l >= 0.25f))
        return;
    const float k = clampf((l - 0.25f) * 0.8f, 0.0f, 1.0f);
    const float f = -k * max_force / l;
    dBodyAddForce(body, d.x * f, 0.0, d.z * f);
}

// ---- start of the step ------------------------------------------------------------

void start_of_step_checks(bike* b, const bike_world* w)
{
    dBodyID frame = b->bodies[body_frame];
    if (b->slow_or_down == 0 && w->tick - w->start_tick > 256 && frame_speed(b) < slow_speed)
        b->slow_or_down = 1;

    if (b->bump_timer < -1.0f)
        b->bump_timer += 1.0f;
    else if (b->bump_timer > 1.0f)
        b->bump_timer -= 1.0f;
    else
        b->bump_timer = 0.0f;

    if (touches(b->front_contact) || touches(b->rear_contact)) {
        if (b->landing_tick < b->airborne_tick)
            b->landing_tick = w->tick;
    } else if (dBodyGetLinearVel(frame)[1] < 0.0 && b->airborne_tick <= b->landing_tick) {
        b->airborne_tick = w->tick;
    }
}

void eject_check(bike* b, const bike_world* w)
{
    if (arcade(b) || crash_running(b) || b->bump_timer < 0.0f)
        return;
    float f = 1.5f;
    if (b->airborne_tick <= b->landing_tick)
        f = ejection_tolerance(b->landing_tick - b->airborne_tick, w->tick - b->landing_tick);

    dBodyID rider = b->bodies[body_rider];
    const vec3 rider_pos = body_position(rider);
    const vec3 v = body_velocity(rider);
    const vec3 frame_v = body_velocity_at(b->bodies[body_frame], rider_pos);
    const float limit_v = 31.0f * f;
    bool thrown = length_sq(sub(v, frame_v)) > limit_v * limit_v;
    if (!thrown) {
        // Acceleration over the last four ticks plus gravity: what the
        // rider's body has to take.
        const vec3 before = b->rider_velocity_history[w->tick & 3];
        const vec3 a = add(scale(sub(v, before), 0.25f / h), v3(0.0f, 32.0f, 0.0f));
        const float limit_a = 1376.0f * f;
        thrown = length_sq(a) > limit_a * limit_a;
    }
    if (thrown)
        bike_start_crash(b, w->ground);
}

// ---- the crash --------------------------------------------------------------------

void crash_sequence(bike* b, const bike_world* w)
{
    (void)w;
    if (!crash_running(b))
        return;
    hold_crashed_commands(b);
    const bike_params& p = b->params;
    dBodyID rider = b->bodies[body_rider];
    dBodyID frame = b->bodies[body_frame];
    dBodyID fork = b->bodies[body_fork_upper];

    // A rider still moving is held near the bike by his arms (and at
    // first by his legs); he and the bike bump into each other.
    if (length_sq(body_velocity(rider)) >= rider_still_speed * rider_still_speed) {
        const float arm = 0.875f * (p.arm_upper + p.arm_lower);
        tether(rider, p.shoulder[0], fork, p.grip[0], arm);
        tether(rider, p.shoulder[1], fork, p.grip[1], arm);
        if (b->crash_timer > crash_ticks - 1)
            tether(rider, v3(0.0f, p.hip[1].y, p.hip[1].z), fork, v3(0.0f, p.grip[1].y, p.grip[1].z + 10.0f), 8.0f);
        const shape* rs = b->shapes[body_rider];
        if (rs) {
            const dReal* rpos = dBodyGetPosition(rider);
            const dReal* rrot = dBodyGetRotation(rider);
            const int parts[2] = {body_frame, body_fork_upper};
            for (int part : parts) {
                const shape* s = b->shapes[part];
                dBodyID body = b->bodies[part];
                if (!s || !body)
                    continue;
                const dReal* ppos = dBodyGetPosition(body);
                const dReal* prot = dBodyGetRotation(body);
                const float reach = rs->radius + s->radius;
                if (!(length_sq(sub(from_ode(rpos), from_ode(ppos))) <= reach * reach))
                    continue;
                for (int i = 0; i < rs->sphere_count; i++) {
                    const shape_sphere& a = rs->spheres[i];
                    const contact_sphere ra = {transform(rrot, rpos, v3(a.x, a.y, a.z)), a.radius, a.friction,
                                               a.spring, a.damping};
                    for (int j = 0; j < s->sphere_count; j++) {
                        const shape_sphere& c = s->spheres[j];
                        const contact_sphere pc = {transform(prot, ppos, v3(c.x, c.y, c.z)), c.radius, c.friction,
                                                   c.spring, c.damping};
                        sphere_sphere_contact(&ra, rider, &pc, body, contact_mode_joint, nullptr);
                    }
                }
            }
        }
    } else {
        b->crash_timer -= 1;
    }

    // Drawn back onto the bike over the last three seconds, exactly in
    // place for the last one.
    const vec3 rest = rider_rest_offset(b);
    if (b->crash_timer < crash_ticks) {
        const float r = clampf((float)(b->crash_timer - 128) / 384.0f, 0.0f, 1.0f) * 5.0f;
        tether(rider, v3(0, 0, 0), frame, rest, r);
        tether(rider, v3(-5, 10, 0), frame, add(rest, v3(-5, 10, 0)), r);
        tether(rider, v3(5, 10, 0), frame, add(rest, v3(5, 10, 0)), r);
    }

    // The foot on the high side goes back to its peg.
    if (b->crash_timer < 320) {
        const int side = bike_roll(b) < 0.0f ? 0 : 1;
        const vec3 target = frame_point(b, add(p.peg[side], v3(0.0f, 3.0f, 1.0f)));
        bike_foot& foot = b->feet[side];
        vec3 v = scale(sub(target, foot.position), 32.0f);
        const float l = length(v);
        if (l > 1.0f)
            v = scale(v, 1.0f / l);
        foot.velocity = scale(v, 4.0f);
    }

    // Back on the bike.
    if (b->crash_timer <= 0) {
        b->crash_timer = 0;
        const vec3 seat = frame_point(b, rest);
        dBodySetPosition(rider, seat.x, seat.y, seat.z);
        dBodySetRotation(rider, dBodyGetRotation(frame));
        attach_rider_mount(b);
    }
}

// ---- dab when stopped, walking backwards ------------------------------------------

void auto_dab_and_back_up(bike* b, const bike_world* w)
{
    dBodyID frame = b->bodies[body_frame];
    const float speed = frame_speed(b);
    const bool crashed = crash_running(b);

    // Walking the bike backwards: a push every 128 ticks (before the
    // start only in the first 128 ticks of every 512).
    if (b->back_up > 0.0f && speed < slow_speed) {
        float s = (1.0f - cosf((float)(w->tick & 127) * (2.0f * pi / 127.0f))) * 0.5f;
        const int first_full = (w->start_tick + 128) & ~127;
        if (w->tick < first_full && (w->tick & 511) >= 128)
            s = 0.0f;
        b->sit_dab = crashed ? 0.0f : 1.0f;
        horizontal_hold(frame, scale(body_axis(frame, 0, 0, 1), 4.0f * s), 2000.0f);
        world_angular_motor(frame, v3(0, 1, 0), -b->steer * s * pi * 0.5f, 2000.0f);
        return;
    }

    // A foot down and both brakes on when stopped.
    if (!(b->assist_flags & assist_dab_when_stopped))
        return;
    const float d = dab_speed_limit(b);
    if (!(speed <= d))
        return;
    const float roll = fabsf(bike_roll(b));
    if (speed > 15.0f && roll < clampf((speed - 15.0f) / 15.0f, 0.0f, 1.0f) * pi * 0.25f)
        return;
    if (b->throttle == 0.0f || b->clutch == 0.0f || speed < slow_speed || roll > pi / 16.0f) {
        const float a = d > 0.0f ? clampf((speed - d) / -d, 0.0f, 1.0f) : 0.0f;
        b->sit_dab = crashed ? 0.0f : clampf(fmaxf(a, b->sit_dab), 0.0f, 1.0f);
        if (speed < slow_speed && (b->throttle == 0.0f || b->clutch == 0.0f) && touches(b->front_contact) &&
            touches(b->rear_contact)) {
            b->front_brake = 1.0f;
            b->rear_brake = 1.0f;
            horizontal_hold(frame, v3(0, 0, 0), 1000.0f);
        }
    }
}

// ---- the torso's springs ------------------------------------------------------------

void rider_springs(bike* b)
{
    // A rider off the bike hangs on the crash tethers, not on his seat.
    if (crash_running(b))
        return;
    dBodyID frame = b->bodies[body_frame];
    dBodyID rider = b->bodies[body_rider];
    const vec3 at = body_position(rider);
    const vec3 d = sub(body_point(frame, rider_rest_offset(b)), at);
    const vec3 y = body_axis(frame, 0, 1, 0);
    const vec3 z = body_axis(frame, 0, 0, 1);
    const float dy = dot(d, y), dz = dot(d, z);

    const float ez = dz - clampf((b->sit_dab * 0.5f + 0.5f) * dy - b->lean, -0.75f, 0.75f);
    const float ey = dy + 0.125f - b->sit_dab * 0.5f;
    const float m = b->params.rider_mass / 4.6875f;

    // Fore and aft: a spring that stiffens with the offset, a hard stop
    // beyond 0.75 ft.
    float k, c;
    if (dz < -0.75f || dz >= 0.75f) {
        k = c = 2500.0f;
    } else {
        k = fabsf(ez) * 100.0f + b->rider_zspring * 600.0f;
        c = 0.0f;
    }
    k *= m;
    c *= m;
    if (k > 0.0f)
        soft_contact(rider, frame, at, scale(z, ez < 0.0f ? -1.0f : 1.0f), fabsf(ez), k, c);

    // Up and down: spring and damper, hard stops 0.5 ft above and 0.75 ft
    // below the seat.
    if (dy > 0.5f || dy < -0.75f) {
        k = c = 2500.0f;
    } else {
        k = b->rider_yspring * 400.0f;
        c = b->rider_ydamping * 100.0f;
    }
    k *= m;
    c *= m;
    if (k + c > 0.0f)
        soft_contact(rider, frame, at, scale(y, ey < 0.0f ? -1.0f : 1.0f), fabsf(ey), k, c);

    // The mount itself is a pure damper along its first axis.
    dJointID mount = b->joints[joint_rider_mount];
    if (mount && dJointGetBody(mount, 0)) {
        dJointSetHinge2Param(mount, dParamSuspensionERP, 0.0);
        dJointSetHinge2Param(mount, dParamSuspensionCFM, 1.0 / ((b->rider_zdamping * 30.0f + 5.0f) * m));
    }
}

// ---- steering damping -------------------------------------------------------------

void steering_damping(bike* b)
{
    dBodyID wheel = b->bodies[body_front_wheel];
    const vec3 w = from_ode(dBodyGetAngularVel(wheel));
    const vec3 a = body_axis(wheel, 1, 0, 0);
    const vec3 t = scale(sub(scale(a, dot(a, w)), w), b->steering_damping);
    if (!finite(t))
        return;
    dBodyAddTorque(wheel, t.x, t.y, t.z);
    dBodyAddTorque(b->bodies[body_frame], -t.x, -t.y, -t.z);
}

// ---- feet -------------------------------------------------------------------------

void feet_update(bike* b, const bike_world* w)
{
    b->dab_amount = fmaxf(0.0f, b->dab_amount - 4.0f * h);
    if (crash_running(b)) {
        move_free_feet(b, w->ground);
        return;
    }
    const foot_placement pose = foot_pose(b, w->ground);
    dBodyID rider = b->bodies[body_rider];
    for (int i = 0; i < 2; i++) {
        b->feet[i].position = pose.feet[i];
        b->feet[i].velocity = body_velocity_at(rider, pose.feet[i]);
    }
}

// ---- bumps ------------------------------------------------------------------------

namespace {

float speed_of(const bike* b)
{
    return frame_speed(b);
}

// b ran its front into a from behind (or the side): b's stability torque
// is limited for a while; a, unless it is itself the one being punished,
// cannot be thrown off and dabs at higher speeds.
void rear_ended(bike* a, bike* b)
{
    if (crash_running(a) || !(speed_of(a) > 5.0f))
        return;
    if (speed_of(b) > 10.0f)
        b->bump_timer = fmaxf(b->bump_timer, 192.0f);
    if (a->bump_timer <= 0.0f)
        a->bump_timer = fminf(a->bump_timer, -640.0f);
}

}  // namespace

void apply_bump_rules(bike* a, bike* b, bool a_front, int b_parts)
{
    const bool b_front = (b_parts & (part_front_wheel | part_fork_lower)) != 0;
    if (b_front && !a_front) {
        rear_ended(a, b);
    } else if (a_front && !b_front) {
        rear_ended(b, a);
    } else if (a_front && b_front) {
        if (speed_of(a) > 10.0f)
            a->bump_timer = fmaxf(a->bump_timer, 128.0f);
        if (speed_of(b) > 10.0f)
            b->bump_timer = fmaxf(b->bump_timer, 128.0f);
    }
}
