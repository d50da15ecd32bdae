// Contacts of sphere sets: a shape against the terrain, two spheres against
// each other (as a contact joint, as penalty forces, or only detected), and
// a bike's parts against a track object or another bike's part.
#include <cmath>
#include <vector>

#include "bike/contact.h"
#include "bike/contact_internal.h"
#include "bike/physics.h"
#include "bike/shape.h"
#include "track/heightfield.h"

using namespace contact_math;

namespace {

// Shapes touching the ground: a stiff, well damped contact.
constexpr float shape_ground_spring = 2500.0f;
constexpr float shape_ground_damping = 250.0f;
// The tyre as a sphere against objects.
constexpr float tyre_friction = 1.0f;
constexpr float tyre_stiffness = 25000.0f;
constexpr float tyre_damping = 2500.0f;
// Most spring force per foot of overlap a sphere pair may push with.
constexpr float max_spring_force = 2500.0f;
constexpr float max_penalty_force = 1000.0f;

void create_contact(dBodyID a, dBodyID b, vec3 point, vec3 normal, float depth, float mu, float k, float c)
{
    if (!physics_space_of(a) || (a == b))
        return;
    float erp, cfm;
    contact_soft_params(k, c, &erp, &cfm);
    dContact contact = {};
    contact.surface.mode = dContactApprox1 | dContactSoftERP | dContactSoftCFM;
    contact.surface.mu = mu;
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

vec3 point_velocity(dBodyID body, vec3 p)
{
    if (!body)
        return {0, 0, 0};
    dVector3 v;
    dBodyGetPointVel(body, p.x, p.y, p.z, v);
    return from_ode(v);
}

contact_sphere placed(const shape_sphere& s, const dReal* pos, const dReal* rot)
{
    return {transform(rot, pos, v3(s.x, s.y, s.z)), s.radius, s.friction, s.spring, s.damping};
}

// Room for one entry per sphere of a shape: on the stack for the few dozen
// spheres a bike part or a statue has, on the heap past that (a shape file
// may declare up to SHAPE_MAX_SPHERES).
template <typename T>
struct scratch {
    enum { local_max = 64 };
    T local[local_max];
    std::vector<T> heap;
    T* get(int n)
    {
        if (n <= local_max)
            return local;
        heap.resize((size_t)n);
        return heap.data();
    }
};

// sphere_sphere_contact would find these two apart: it compares the
// rounded root of the same squared distance with the sum of the radii, and
// a squared distance a thousandth over the squared sum keeps that root
// above the sum whatever the rounding (the floor keeps it so for radii
// whose square underflows). Spares the root for the many pairs far apart.
inline bool clearly_apart(const contact_sphere& a, const contact_sphere& b)
{
    const float reach = a.radius + b.radius;
    return length_sq(sub(a.centre, b.centre)) > reach * reach * 1.001f + 1e-30f;
}

// Widens the box lo..hi to hold the sphere (a sphere that is not a number
// leaves it as it was).
inline void grow_box(vec3* lo, vec3* hi, const contact_sphere& s)
{
    auto low = [](float a, float b) { return b < a ? b : a; };
    auto high = [](float a, float b) { return b > a ? b : a; };
    const vec3 c = s.centre;
    *lo = {low(lo->x, c.x - s.radius), low(lo->y, c.y - s.radius), low(lo->z, c.z - s.radius)};
    *hi = {high(hi->x, c.x + s.radius), high(hi->y, c.y + s.radius), high(hi->z, c.z + s.radius)};
}

// A unit vector across the axle, for a point lying on the axle itself.
vec3 across(vec3 a)
{
    const vec3 other = fabsf(a.x) < 0.5f ? v3(1, 0, 0) : v3(0, 1, 0);
    const vec3 p = cross(a, other);
    return scale(p, 1.0f / length(p));
}

}  // namespace

float sphere_contact_stiffness(float k, float depth)
{
    return k * depth > max_spring_force ? max_spring_force / depth : k;
}

int shape_terrain_contact(const shape* s, dBodyID body, const dReal* pos, const dReal* rot, const heightfield* hf)
{
    if (s->sphere_count <= 0)
        return 0;
    // Most spheres of a bike ride well above the ground. The highest sample
    // under them tells which: a sphere whose bottom is above it would find
    // every triangle under it too low to reach, so its query is spared.
    // First the shape's ball as a whole (the rider, the fork, often the
    // swingarm), before any sphere is placed.
    const vec3 origin = from_ode(pos);
    const float slack = rejection_slack(origin);
    const float r = s->radius + slack;
    if (origin.y - r > terrain_top_in_box(hf, origin.x - r, origin.z - r, origin.x + r, origin.z + r))
        return 0;
    scratch<vec3> room;
    vec3* centres = room.get(s->sphere_count);
    float x0 = INFINITY, z0 = INFINITY, x1 = -INFINITY, z1 = -INFINITY;
    for (int i = 0; i < s->sphere_count; i++) {
        const shape_sphere& sp = s->spheres[i];
        const vec3 c = transform(rot, pos, v3(sp.x, sp.y, sp.z));
        centres[i] = c;
        x0 = c.x - sp.radius < x0 ? c.x - sp.radius : x0;
        x1 = c.x + sp.radius > x1 ? c.x + sp.radius : x1;
        z0 = c.z - sp.radius < z0 ? c.z - sp.radius : z0;
        z1 = c.z + sp.radius > z1 ? c.z + sp.radius : z1;
    }
    const float clear = terrain_top_in_box(hf, x0 - slack, z0 - slack, x1 + slack, z1 + slack) + slack;
    int touched = 0;
    for (int i = 0; i < s->sphere_count; i++) {
        const shape_sphere& sp = s->spheres[i];
        const vec3 centre = centres[i];
        if (centre.y - sp.radius > clear)
            continue;
        terrain_hit hit;
        if (!sphere_heightfield_query(hf, centre, sp.radius, &hit))
            continue;
        touched = 1;
        if (body)
            create_contact(body, nullptr, hit.point, hit.normal, hit.depth, sp.friction, shape_ground_spring,
                           shape_ground_damping);
    }
    return touched;
}

bool sphere_sphere_contact(const contact_sphere* a, dBodyID body_a, const contact_sphere* b, dBodyID body_b,
                           contact_mode mode, sphere_contact_info* info)
{
    if (clearly_apart(*a, *b))
        return false;
    const vec3 ab = sub(a->centre, b->centre);
    const float d2 = length_sq(ab);
    const float reach = a->radius + b->radius;
    const float d = sqrtf(d2);
    if (!(d < reach))
        return false;  // apart, or numbers that are not numbers
    // Centres (nearly) on top of each other give no direction to push in.
    const float rmin = fminf(a->radius, b->radius);
    if (d2 < 1.0f / 256.0f && d2 < rmin * rmin / 256.0f)
        return true;
    const float depth = reach - d;
    const vec3 normal = scale(ab, 1.0f / d);
    const vec3 point = add_scaled(b->centre, ab, (b->radius - 0.5f * depth) / d);
    if (info) {
        info->point = point;
        info->normal = normal;
        info->depth = depth;
        info->velocity_b = point_velocity(body_b, point);
    }
    if (mode == contact_mode_test || (!body_a && !body_b))
        return true;

    const float k = sphere_contact_stiffness(fminf(a->spring, b->spring), depth);
    const float c = fminf(a->damping, b->damping);
    const float mu = fminf(a->friction, b->friction);

    if (mode == contact_mode_joint) {
        create_contact(body_a, body_b, point, normal, depth, mu, k, c);
        return true;
    }
    const vec3 closing = sub(point_velocity(body_b, point), point_velocity(body_a, point));
    float f = dot(closing, normal) * c + depth * k;
    f = fminf(fmaxf(f, -max_penalty_force), max_penalty_force);
    if (!std::isfinite(f))
        return true;
    const vec3 force = scale(normal, f);
    if (body_a && dBodyIsEnabled(body_a))
        dBodyAddForceAtPos(body_a, force.x, force.y, force.z, point.x, point.y, point.z);
    if (body_b && dBodyIsEnabled(body_b))
        dBodyAddForceAtPos(body_b, -force.x, -force.y, -force.z, point.x, point.y, point.z);
    return true;
}

int bike_object_contact(bike* b, dBodyID object_body, const shape* object_shape, const dReal* pos,
                        const dReal* rot, contact_mode mode, bool test_flag)
{
    if (!object_shape || object_shape->sphere_count <= 0)
        return 0;
    const vec3 object_pos = from_ode(pos);
    const float slack = rejection_slack(object_pos);
    int bits = 0;

    // The object's spheres, placed once for all the bike's parts (and only
    // when a part comes within reach of the object).
    const int count = object_shape->sphere_count;
    scratch<contact_sphere> object_room;
    const contact_sphere* object = nullptr;
    auto object_spheres = [&]() {
        if (!object) {
            contact_sphere* placed_spheres = object_room.get(count);
            for (int j = 0; j < count; j++)
                placed_spheres[j] = placed(object_shape->spheres[j], pos, rot);
            object = placed_spheres;
        }
        return object;
    };

    // The tyres: a sphere of the section radius on the ring, where the ring
    // comes nearest each object sphere.
    struct wheel_part {
        int body;
        int bit;
        wheel_contact* contact;
    };
    const wheel_part wheels[2] = {{body_front_wheel, part_front_wheel, &b->front_contact},
                                  {body_rear_wheel, part_rear_wheel, &b->rear_contact}};
    for (const wheel_part& wp : wheels) {
        dBodyID body = b->bodies[wp.body];
        wheel_contact* wc = wp.contact;
        if (!body)
            continue;
        const vec3 centre = from_ode(dBodyGetPosition(body));
        const float reach = wc->ring_radius + wc->section_radius + object_shape->radius;
        if (!(length_sq(sub(centre, object_pos)) <= reach * reach))
            continue;
        vec3 axle = rotate(dBodyGetRotation(body), wc->axle);
        const float al = length(axle);
        if (!(al > 0.0f))
            continue;
        axle = scale(axle, 1.0f / al);
        const contact_mode wheel_mode = (test_flag && wp.body == body_front_wheel) ? contact_mode_test : mode;
        const contact_sphere* spheres = object_spheres();
        sphere_contact_info deepest = {};
        for (int i = 0; i < count; i++) {
            const contact_sphere& obj = spheres[i];
            const vec3 q = sub(obj.centre, centre);
            // The tyre sphere stays on the ring: an object sphere farther
            // from the wheel's plane, from its centre, or from the ring than
            // the section and its own radius reach cannot touch it.
            const float tyre_reach = wc->section_radius + obj.radius + slack;
            const float h = dot(q, axle);
            if (fabsf(h) > tyre_reach || length_sq(q) > square(wc->ring_radius + tyre_reach))
                continue;
            const vec3 radial = add_scaled(q, axle, -h);
            const float rl = length(radial);
            if (fabsf(rl - wc->ring_radius) > tyre_reach)
                continue;
            const vec3 dir = rl > 1e-6f ? scale(radial, 1.0f / rl) : across(axle);
            const contact_sphere tyre = {add_scaled(centre, dir, wc->ring_radius), wc->section_radius,
                                         tyre_friction, tyre_stiffness, tyre_damping};
            sphere_contact_info info = {};
            if (!sphere_sphere_contact(&tyre, body, &obj, object_body, wheel_mode, &info))
                continue;
            bits |= wp.bit;
            if (info.depth > deepest.depth)
                deepest = info;
        }
        // Without ground under it this tick the wheel rides on the object:
        // its contact record tells the brakes, the dab and the sound so.
        if (wc->depth == 0.0f && deepest.depth > 0.0f) {
            wc->point = deepest.point;
            wc->point_velocity = sub(point_velocity(body, deepest.point), deepest.velocity_b);
            wc->normal = deepest.normal;
            wc->depth = deepest.depth;
        }
    }

    struct shape_part {
        int body;
        int bit;
    };
    static const shape_part parts[] = {{body_frame, part_frame},
                                       {body_fork_upper, part_fork_upper},
                                       {body_fork_lower, part_fork_lower},
                                       {body_swingarm, part_swingarm},
                                       {body_rider, part_rider}};
    scratch<contact_sphere> mine_room;
    scratch<int> near_room;
    for (const shape_part& p : parts) {
        dBodyID body = b->bodies[p.body];
        const shape* s = b->shapes[p.body];
        if (!body || !s)
            continue;
        const dReal* bpos = dBodyGetPosition(body);
        const dReal* brot = dBodyGetRotation(body);
        const float reach = s->radius + object_shape->radius;
        if (!(length_sq(sub(from_ode(bpos), object_pos)) <= reach * reach))
            continue;
        const bool detect_only = test_flag && (p.body == body_fork_upper || p.body == body_fork_lower);
        const contact_mode part_mode = detect_only ? contact_mode_test : mode;

        // The part's spheres that reach into the object's ball, found in the
        // part's own frame before they are placed; the others cannot touch.
        const dReal d[3] = {pos[0] - bpos[0], pos[1] - bpos[1], pos[2] - bpos[2]};
        const vec3 object_local = {(float)(brot[0] * d[0] + brot[4] * d[1] + brot[8] * d[2]),
                                   (float)(brot[1] * d[0] + brot[5] * d[1] + brot[9] * d[2]),
                                   (float)(brot[2] * d[0] + brot[6] * d[1] + brot[10] * d[2])};
        contact_sphere* mine = mine_room.get(s->sphere_count);
        int mine_count = 0;
        vec3 lo = {INFINITY, INFINITY, INFINITY}, hi = {-INFINITY, -INFINITY, -INFINITY};
        for (int i = 0; i < s->sphere_count; i++) {
            const shape_sphere& sp = s->spheres[i];
            if (length_sq(sub(v3(sp.x, sp.y, sp.z), object_local)) > square(sp.radius + object_shape->radius + slack))
                continue;
            const contact_sphere m = placed(sp, bpos, brot);
            grow_box(&lo, &hi, m);
            mine[mine_count++] = m;
        }
        if (mine_count == 0)
            continue;
        // The object's spheres that reach into the box around those.
        const contact_sphere* spheres = object_spheres();
        int* near = near_room.get(count);
        int near_count = 0;
        for (int j = 0; j < count; j++) {
            // Without branches: which spheres are near follows no pattern.
            const vec3 c = spheres[j].centre;
            const float e = spheres[j].radius + slack;
            const bool out = (c.x + e < lo.x) | (c.x - e > hi.x) | (c.y + e < lo.y) | (c.y - e > hi.y) |
                             (c.z + e < lo.z) | (c.z - e > hi.z);
            near[near_count] = j;
            near_count += !out;
        }
        // Pairs in the order sphere of the part, then sphere of the object.
        for (int i = 0; i < mine_count; i++) {
            for (int k = 0; k < near_count; k++) {
                const contact_sphere& obj = spheres[near[k]];
                if (clearly_apart(mine[i], obj))
                    continue;
                if (sphere_sphere_contact(&mine[i], body, &obj, object_body, part_mode, nullptr))
                    bits |= p.bit;
            }
        }
    }
    return bits;
}
