// The tyre model and a bike's contacts with the ground: friction and
// rolling-resistance curves of the surface under a wheel, the tyre spring,
// the wheel's contact joint, the whole bike's ground contacts of a tick and
// the start of a crash.
#include <cmath>

#include "bike/contact.h"
#include "bike/contact_internal.h"
#include "bike/limb_pose.h"
#include "bike/physics.h"
#include "bike/shape.h"
#include "track/heightfield.h"
#include "track/surface.h"

using namespace contact_math;

namespace {

constexpr float pi = 3.14159265358979f;

// The surface under a point; a terrain without a surface table (tests,
// tools) rides on the default surface.
const surface_type* surface_under(const heightfield* hf, vec3 p)
{
    static const surface_type default_surface;
    if (!hf->surfaces || hf->surface_count <= 0)
        return &default_surface;
    int index = heightfield_surface_at(hf, p.x, p.z);
    if (index < 0 || index >= hf->surface_count)
        index = hf->surface_count - 1;
    return &hf->surfaces[index];
}

// The frame's lean angle, positive when leaning left.
float frame_roll(const bike* b)
{
    if (!b->bodies[body_frame])
        return 0.0f;
    const dReal* r = dBodyGetRotation(b->bodies[body_frame]);
    const vec3 forward = {(float)-r[2], (float)-r[6], (float)-r[10]};
    const vec3 up = {(float)r[1], (float)r[5], (float)r[9]};
    vec3 side = {-forward.z, 0.0f, forward.x};
    const float len = length(side);
    // A frame pointing straight up or down has no side direction: no roll.
    side = len > 0.0f ? scale(side, 1.0f / len) : vec3{0, 0, 0};
    const float c = fminf(fmaxf(dot(up, side), -1.0f), 1.0f);
    return acosf(c) - 0.5f * pi;
}

// How far the tyre has sunk, as a share of its section: 0..1.
float section_radius_share(float depth, float section_radius)
{
    const float f = section_radius > 0.0f ? fminf(1.0f, depth / section_radius) : 1.0f;
    return fmaxf(f, 0.0f);
}

void wheel_from_bike(const bike* b, wheel_contact* w, int body)
{
    // A record whose body was never tied in rides on the bike's own body.
    if (!w->body)
        w->body = b->bodies[body];
}

}  // namespace

// ---- tyre model ------------------------------------------------------------------

float surface_friction(const surface_type* s, float speed_sq)
{
    const friction_point* p = s->friction;
    int i = 0;
    while (i < SURFACE_POINTS && !(p[i].slip_speed == 0.0f || speed_sq < p[i].slip_speed * p[i].slip_speed))
        i++;
    if (i == 0)
        return p[0].coefficient;
    if (i == SURFACE_POINTS || p[i].slip_speed == 0.0f)
        return p[i - 1].coefficient;
    const float s0 = p[i - 1].slip_speed * p[i - 1].slip_speed;
    const float s1 = p[i].slip_speed * p[i].slip_speed;
    const float span = s1 - s0;
    float t = span > 0.0f ? (speed_sq - s0) / span : 1.0f;
    t = fminf(fmaxf(t, 0.0f), 1.0f);
    return p[i - 1].coefficient + (p[i].coefficient - p[i - 1].coefficient) * t;
}

void surface_roll_resistance(const surface_type* s, float speed, float* shallow, float* deep)
{
    const roll_resist_point* p = s->roll_resist;
    int i = 0;
    while (i < SURFACE_POINTS && !(p[i].speed == 0.0f || speed < p[i].speed))
        i++;
    if (i == 0) {
        *shallow = p[0].shallow;
        *deep = p[0].deep;
        return;
    }
    if (i == SURFACE_POINTS || p[i].speed == 0.0f) {
        *shallow = p[i - 1].shallow;
        *deep = p[i - 1].deep;
        return;
    }
    const float span = p[i].speed - p[i - 1].speed;
    float t = span > 0.0f ? (speed - p[i - 1].speed) / span : 1.0f;
    t = fminf(fmaxf(t, 0.0f), 1.0f);
    *shallow = p[i - 1].shallow + (p[i].shallow - p[i - 1].shallow) * t;
    *deep = p[i - 1].deep + (p[i].deep - p[i - 1].deep) * t;
}

void tyre_spring(float depth, float section_radius, float* k, float* c)
{
    float f = section_radius_share(depth, section_radius);
    f = f * f * f;
    *k = 24000.0f * f + 1000.0f;
    *c = 2300.0f * f + 200.0f;
}

void contact_soft_params(float k, float c, float* erp, float* cfm)
{
    const float hk = physics_tick * k;
    *erp = hk / (hk + c);
    *cfm = 1.0f / (hk + c);
}

vec3 tyre_friction_direction(vec3 normal, vec3 point_velocity, vec3 axle)
{
    // Across the slip; a wheel that hardly slips takes it across its own
    // axle instead.
    vec3 fdir = cross(normal, point_velocity);
    if (length_sq(fdir) < 1.0f / 1024.0f)
        fdir = cross(normal, axle);
    const float fl = length(fdir);
    if (!(fl > 0.0f) || !std::isfinite(fl))
        return {0.0f, 0.0f, 0.0f};
    return scale(fdir, 1.0f / fl);
}

float bike_friction_multiplier(const bike* b)
{
    if (!(b->arcade_flags & arcade_physics_on))
        return 1.0f;
    const float roll = frame_roll(b);
    return 1.0f - 0.375f * fminf(1.0f, 4.0f * fabsf(roll) / pi);
}

// ---- one wheel ---------------------------------------------------------------------

int wheel_ground_contact(const heightfield* hf, wheel_contact* w, float friction_multiplier)
{
    if (!w->body) {
        w->depth = 0.0f;
        return 0;
    }
    const dReal* pos = dBodyGetPosition(w->body);
    const dReal* rot = dBodyGetRotation(w->body);
    const vec3 axle = rotate(rot, w->axle);
    terrain_hit hit;
    if (!torus_heightfield_query(hf, from_ode(pos), axle, w->ring_radius, w->section_radius, &hit)) {
        w->depth = 0.0f;
        return 0;
    }
    dVector3 pv;
    dBodyGetPointVel(w->body, hit.point.x, hit.point.y, hit.point.z, pv);
    w->point = hit.point;
    w->point_velocity = from_ode(pv);
    w->normal = hit.normal;
    w->depth = hit.depth;

    const surface_type* s = surface_under(hf, hit.point);
    const float mu = surface_friction(s, length_sq(w->point_velocity)) * friction_multiplier;
    float k, c, erp, cfm;
    tyre_spring(hit.depth, w->section_radius, &k, &c);
    contact_soft_params(k, c, &erp, &cfm);

    const vec3 fdir = tyre_friction_direction(hit.normal, w->point_velocity, axle);

    dContact contact = {};
    contact.surface.mode = dContactApprox1 | dContactSoftERP | dContactSoftCFM;
    contact.surface.mu = mu;
    contact.surface.soft_erp = erp;
    contact.surface.soft_cfm = cfm;
    if (length_sq(fdir) > 0.0f) {
        contact.surface.mode |= dContactFDir1;
        contact.fdir1[0] = fdir.x;
        contact.fdir1[1] = fdir.y;
        contact.fdir1[2] = fdir.z;
    }
    contact.geom.pos[0] = hit.point.x;
    contact.geom.pos[1] = hit.point.y;
    contact.geom.pos[2] = hit.point.z;
    contact.geom.normal[0] = hit.normal.x;
    contact.geom.normal[1] = hit.normal.y;
    contact.geom.normal[2] = hit.normal.z;
    contact.geom.depth = hit.depth;
    physics_add_contact(contact, w->body, nullptr, &w->feedback);

    // Rolling resistance from the ground's curve, deeper tyres rolling
    // heavier; proportional to speed below 1 ft/s so a stopped wheel is not
    // pushed about.
    const vec3 v = from_ode(dBodyGetLinearVel(w->body));
    const vec3 vt = add_scaled(v, hit.normal, -dot(v, hit.normal));
    const float speed = length(vt);
    float shallow, deep;
    surface_roll_resistance(s, speed, &shallow, &deep);
    const float sink = section_radius_share(hit.depth, w->section_radius);
    const float rho = shallow + (deep - shallow) * sink;
    const vec3 dir = speed > 1.0f ? scale(vt, 1.0f / speed) : vt;
    const vec3 force = scale(dir, -rho);
    if (finite(force))
        dBodyAddForce(w->body, force.x, force.y, force.z);
    return 1;
}

// ---- the whole bike ---------------------------------------------------------------

int bike_touches_ground(bike* b, const heightfield* hf)
{
    const float mu = bike_friction_multiplier(b);
    wheel_from_bike(b, &b->front_contact, body_front_wheel);
    wheel_from_bike(b, &b->rear_contact, body_rear_wheel);
    int touched = 0;
    touched |= wheel_ground_contact(hf, &b->front_contact, mu);
    touched |= wheel_ground_contact(hf, &b->rear_contact, mu);

    static const int parts[] = {body_frame, body_fork_upper, body_fork_lower, body_swingarm, body_rider};
    bool rider_touched = false;
    for (int part : parts) {
        dBodyID body = b->bodies[part];
        if (!b->shapes[part] || !body)
            continue;
        if (shape_terrain_contact(b->shapes[part], body, dBodyGetPosition(body), dBodyGetRotation(body), hf)) {
            touched = 1;
            if (part == body_rider)
                rider_touched = true;
        }
    }

    // The rider landing on his head at speed ends the ride.
    if (rider_touched) {
        dBodyID rider = b->bodies[body_rider];
        const dReal* r = dBodyGetRotation(rider);
        const vec3 v = from_ode(dBodyGetLinearVel(rider));
        if (r[5] < 0.0 && length_sq(v) > 25.0f && b->crash_timer < 1 && b->bump_timer >= 0.0f)
            bike_start_crash(b, hf);
    }
    if (touched && b->slow_or_down == 0)
        b->slow_or_down = 1;
    return touched;
}

void bike_start_crash(bike* b, const heightfield* hf)
{
    if (b->joints[joint_rider_mount])
        dJointAttach(b->joints[joint_rider_mount], nullptr, nullptr);
    // The feet leave where the rider had them, with the rider's motion.
    dBodyID rider = b->bodies[body_rider];
    if (rider && b->bodies[body_frame]) {
        const foot_placement pose = foot_pose(b, hf);
        for (int i = 0; i < 2; i++) {
            bike_foot& foot = b->feet[i];
            foot.position = pose.feet[i];
            dVector3 v;
            dBodyGetPointVel(rider, foot.position.x, foot.position.y, foot.position.z, v);
            foot.velocity = from_ode(v);
        }
    }
    b->throttle = 0.0f;
    b->sit_dab = 0.0f;
    b->back_up = 0.0f;
    b->lean = 0.0f;
    int index = b->crash_count;
    index = index < 0 ? 0 : (index > CRASH_DELAY_COUNT - 1 ? CRASH_DELAY_COUNT - 1 : index);
    b->crash_timer = 512 + crash_delay(b->space, index);
    b->crash_count++;
}
