// Contacts of a bike with the ground, the track objects and other bikes.
//
// The physics engine gets no collision geometry of its own: every tick the
// bike code finds where a bike touches something and creates one soft
// contact joint per touch in the world's contact group (emptied after the
// step). Wheels are tori (a ring of tyre sections around the axle) tested
// against the height field's triangles; every other part is a set of
// spheres. The wheel contact also carries the tyre model: friction from the
// surface's speed-dependent friction curve, a tyre spring that stiffens as
// the tyre sinks, and rolling resistance interpolated by sink depth.
//
// Units: feet, slugs, pounds-force, seconds. Geometry is computed in single
// precision; positions and rotations come from the physics engine (3 x 4
// row-major rotation matrices) and are converted at the call.
#pragma once

#include <ode/ode.h>

#include <random>

#include "bike/bike.h"
#include "core/vec3.h"

struct heightfield;
struct surface_type;
struct shape;
struct roost_pool;
struct track_objects;

// ---- terrain queries (geometry only; no joints) ------------------------------

// One touch of a body with the terrain: a point of the contact, the contact
// normal (unit, out of the ground) and the penetration depth (> 0).
struct terrain_hit {
    vec3 point;
    vec3 normal;
    float depth;
};

// The deepest point where a torus (centre, axle direction, ring radius R,
// section radius r) meets the terrain triangles under it: every cell the
// square of +-(R + r) around the centre overlaps, both triangles of each.
// A normal pointing down is flattened to horizontal, or (0, 1, 0) when
// nearly vertical. A wheel sunk through the ground gets (0, 1, 0) with depth
// 2R. False (out untouched) when nothing touches, and for non-finite input,
// a zero axle or an empty height field. Positions far outside the terrain
// are answered against the edge samples, as every terrain query is.
// Allocates nothing.
bool torus_heightfield_query(const heightfield* hf, vec3 centre, vec3 axle, float ring_radius,
                             float section_radius, terrain_hit* out);
// The same walk for a sphere: depth = radius - distance from the centre to
// the nearest point of a triangle, normal from that point to the centre.
bool sphere_heightfield_query(const heightfield* hf, vec3 centre, float radius, terrain_hit* out);

// One triangle (v[1] - v[0]) x (v[2] - v[0]) pointing out of the ground.
// Return the depth (> 0 with out filled, else <= 0 and out untouched).
// Exposed for tests and the benchmark. axle must be unit length.
float torus_triangle_test(vec3 centre, vec3 axle, float ring_radius, float section_radius, const vec3 v[3],
                          terrain_hit* out);
float sphere_triangle_test(vec3 centre, float radius, const vec3 v[3], terrain_hit* out);

// ---- tyre model ------------------------------------------------------------------

// Friction coefficient of a surface at a contact point moving with squared
// speed speed_sq: the curve's points are interpolated linearly in squared
// speed, held at the first point below it and at the last defined point
// above.
float surface_friction(const surface_type* s, float speed_sq);
// Rolling resistance pair (shallow, deep) at speed (feet per second),
// interpolated linearly in speed the same way.
void surface_roll_resistance(const surface_type* s, float speed, float* shallow, float* deep);
// Tyre spring and damper at a depth: f = min(1, depth / section)^3,
// k = 24000 f + 1000, c = 2300 f + 200.
void tyre_spring(float depth, float section_radius, float* k, float* c);
// A spring k and damper c as the engine's soft contact parameters over one
// tick h: ERP = h k / (h k + c), CFM = 1 / (h k + c).
void contact_soft_params(float k, float c, float* erp, float* cfm);
// The first friction direction of a tyre contact: across the slip
// (normal x point velocity), or for a wheel that hardly slips across its
// axle (normal x axle); unit length, or zero when neither gives one.
vec3 tyre_friction_direction(vec3 normal, vec3 point_velocity, vec3 axle);
// The stiffness a sphere pair pushes with: k, or 2500 / depth when k * depth
// would exceed 2500.
float sphere_contact_stiffness(float k, float depth);
// 1, or with arcade physics 1 - 0.375 min(1, 4 |roll| / pi), roll being the
// frame's lean angle.
float bike_friction_multiplier(const bike* b);

// Queries the wheel's torus at its body's pose; on contact stores point,
// point velocity, normal and depth in w, creates the contact joint (tyre
// friction and spring, first friction direction across the slip) against
// the static world with w's feedback attached, applies rolling resistance
// to the wheel body and returns 1. Without contact depth = 0 and 0.
int wheel_ground_contact(const heightfield* hf, wheel_contact* w, float friction_multiplier);

// Every sphere of the shape placed at the body pose (pos, rot) against the
// terrain; with a body, one contact joint (the sphere's friction, k = 2500,
// c = 250) per touching sphere against the static world. 1 when any
// sphere touched.
int shape_terrain_contact(const shape* s, dBodyID body, const dReal* pos, const dReal* rot,
                          const heightfield* hf);

// ---- sphere against sphere ---------------------------------------------------------

enum contact_mode {
    contact_mode_joint = 0,  // a contact joint in the contact group
    contact_mode_force = 1,  // penalty forces on the bodies instead
    contact_mode_test = 2,   // report the touch only
};

// A sphere in world coordinates with its contact properties.
struct contact_sphere {
    vec3 centre;
    float radius;
    float friction;
    float spring;   // stiffness
    float damping;
};

struct sphere_contact_info {
    vec3 point;        // middle of the overlap
    vec3 normal;       // unit, from b towards a
    float depth;       // overlap
    vec3 velocity_b;   // body b's velocity at the point (0 without body b)
};

// True when the spheres overlap. Creates nothing in test mode, when both
// bodies are absent or when the centres (nearly) coincide. Otherwise joint
// mode makes a contact joint between a and b (either may be 0, the static
// world) with the smaller friction, stiffness and damping of the two
// (stiffness capped so that k * depth <= 2500); force mode adds the
// clamped (+-1000 lbf) penalty force along the normal at the contact point
// to each enabled body. info (optional) is filled for every overlap whose
// centres do not coincide.
bool sphere_sphere_contact(const contact_sphere* a, dBodyID body_a, const contact_sphere* b, dBodyID body_b,
                           contact_mode mode, sphere_contact_info* info);

// The parts of a bike as bits of bike_object_contact's result.
enum bike_part_bits {
    part_frame = 0x01,
    part_front_wheel = 0x02,
    part_rear_wheel = 0x04,
    part_fork_upper = 0x08,
    part_fork_lower = 0x10,
    part_swingarm = 0x20,
    part_rider = 0x40,
};

// The bike's parts against an object given as a shape placed at (pos, rot)
// on its own body or the static world (object_body 0): each wheel as a
// tyre sphere at the point of its ring nearest each object sphere, then the
// frame, fork, swingarm and rider shapes sphere pair by sphere pair. With
// test_flag the bike's front wheel, fork upper and fork lower only detect
// (another bike's rear parts against them online). A wheel without terrain
// contact this tick takes the deepest of its object contacts into its
// wheel_contact. Returns the bit set of the bike's parts that touched.
int bike_object_contact(bike* b, dBodyID object_body, const shape* object_shape, const dReal* pos,
                        const dReal* rot, contact_mode mode, bool test_flag);

// ---- the bike against the ground ---------------------------------------------------

// Creates this tick's ground contacts of a bike (both wheels, then the
// frame, fork, swingarm and rider shapes), may start a crash when the rider
// hits the ground upside down at speed, and marks the bike slow_or_down
// when anything touched. Nonzero when a wheel or a shape touched.
int bike_touches_ground(bike* b, const heightfield* hf);

// The start of a crash: the rider mount is detached, the feet leave the
// pose the rider had (foot_pose on the ground hf; null: no ground to dab
// on) with the rider's motion at their points, the commands a rider who is
// down cannot give (throttle, sit/dab, back up, lean) drop to 0, and
// crash_timer is set to 512 + the crash delay for the bike's crash count
// (at most 15); the count goes up. The rider step owns the rest of the
// crash (tethers, free feet, re-seating).
void bike_start_crash(bike* b, const heightfield* hf = nullptr);


// ---- statues -------------------------------------------------------------------

// The contacts of a bike (not driven by recorded data) with the statues
// near its frame (+-6 ft), in joint mode; camera-facing statues are tested
// upright. A touched statue records tick; a rider hit faster than 20 ft/s
// while no crash runs and bump_timer is not negative starts a crash.
// Returns the union of the touching part bits. Bikes may be searched on
// several threads at once (each its own bike).
int bike_statue_contacts(bike* b, track_objects* objects, const heightfield* hf, int tick);

// ---- roost -----------------------------------------------------------------------

// Throws the roost particles of both wheels of a bike for this tick into
// the pool. A bike driven by recorded data (recorded true) has no contact
// records of its own this tick, so its wheels are queried against the
// terrain without creating contacts. roost_frequency is the "roost_density"
// setting (0..1000). Draws from rng. Returns the number of particles thrown.
int bike_emit_roost(const bike* b, const heightfield* hf, roost_pool* pool, int roost_frequency, int tick,
                    bool recorded, std::mt19937* rng);
