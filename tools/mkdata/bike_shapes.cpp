// Collision shapes of the bike parts, fitted to the catalogue's shared
// geometry. Every part is placed in the bike's rest frame (feet; y up, the
// bike points along -z, +x is the rider's right, the ground at y = 0 under
// the wheels) and stored relative to its body's position, as the bodies
// start with the identity rotation.
//
// What decides the fit: at rest only the tyres touch the ground; the skid
// plate and the shock linkage come within about a foot of it, so they touch
// when the suspension bottoms out; on its side the bike lands on a bar end,
// a foot peg and the rider's elbow and knee, as a real bike does; the rider
// figure follows the catalogue's shoulders, hips, pegs and grips.
#include "bike_shapes.h"

#include <cmath>
#include <cstdio>
#include <vector>

#include "bike/catalogue.h"

namespace mkdata {
using namespace vecmath;

namespace {

// Contact material: friction coefficient, stiffness, damping. Against the
// ground the stiffness is fixed by the contact law and only friction
// counts; between bikes the softer of the two parts decides.
struct material {
    float friction, spring, damping;
};
const material k_plastic = {0.5f, 10000, 500};     // body work, frame tubes
const material k_skid = {0.35f, 10000, 500};       // aluminium skid plate, slides
const material k_metal = {0.6f, 10000, 500};       // pegs, bars, fork legs
const material k_rider = {0.8f, 5000, 400};        // rider in riding gear
const material k_tyre = {1.0f, 25000, 2500};       // as a tyre meets an object
const material k_hub = {0.4f, 10000, 500};         // spokes and hub

struct sphere {
    vec3 centre;   // rest frame
    float radius;
    material m;
};

vec3 normalise(vec3 a)
{
    const float l = std::sqrt(a.x * a.x + a.y * a.y + a.z * a.z);
    return scale(a, 1.0f / l);
}
vec3 at(float x, float y, float z)
{
    return {x, y, z};
}
// The same part on both sides of the bike.
void pair(std::vector<sphere>& out, vec3 right, float radius, material m)
{
    out.push_back({{-right.x, right.y, right.z}, radius, m});
    out.push_back({right, radius, m});
}

const bike_params& geometry()
{
    // All models share the geometry; the first record stands for all.
    return bike_catalogue()[0];
}

std::vector<sphere> frame_parts(const bike_params& p)
{
    std::vector<sphere> s;
    // Skid plate under the engine: about 0.9 ft of ground clearance.
    s.push_back({at(0, 1.15f, 3.0f), 0.25f, k_skid});
    s.push_back({at(0, 1.15f, 3.7f), 0.25f, k_skid});
    // Crank cases and the cylinder.
    pair(s, at(0.3f, 1.5f, 3.35f), 0.3f, k_metal);
    s.push_back({at(0, 2.2f, 2.95f), 0.35f, k_metal});
    // Down tube and the frame around the steering head.
    s.push_back({at(0, 2.0f, 2.45f), 0.22f, k_metal});
    s.push_back({at(0, 2.75f, 2.35f), 0.22f, k_metal});
    // Tank, radiator shrouds, seat.
    s.push_back({at(0, 2.95f, 2.95f), 0.35f, k_plastic});
    pair(s, at(0.45f, 2.55f, 2.6f), 0.3f, k_plastic);
    s.push_back({at(0, 3.0f, 3.8f), 0.3f, k_plastic});
    s.push_back({at(0, 3.05f, 4.7f), 0.3f, k_plastic});
    // Side panels over the air box, rear fender and its tail.
    pair(s, at(0.4f, 2.6f, 4.9f), 0.3f, k_plastic);
    s.push_back({at(0, 2.9f, 5.7f), 0.25f, k_plastic});
    s.push_back({at(0, 2.85f, 6.6f), 0.2f, k_plastic});
    // Silencer on the right.
    s.push_back({at(0.45f, 2.45f, 5.6f), 0.22f, k_metal});
    // Foot pegs: the catalogue's peg points (frame-relative), the tips out.
    const vec3 peg = add(p.frame_pos, p.peg[1]);
    pair(s, at(peg.x + 0.12f, peg.y, peg.z), 0.12f, k_metal);
    return s;
}

// Points along the steering axis from a base point, t in feet.
vec3 along_steering(const bike_params& p, vec3 base, float t)
{
    return add(base, scale(normalise(sub(p.fork_upper_pos, p.fork_lower_pos)), t));
}

std::vector<sphere> fork_upper_parts(const bike_params& p)
{
    std::vector<sphere> s;
    const float leg_x = p.fork_leg_spacing / 2.0f;
    // Upper fork tubes between and above the triple clamps.
    for (float t : {-0.6f, 0.0f, 0.45f}) {
        const vec3 c = along_steering(p, p.fork_upper_pos, t);
        pair(s, at(leg_x, c.y, c.z), 0.12f, k_metal);
    }
    // Handlebar: bar ends at the catalogue's grips, the bend and the clamp.
    const vec3 grip = add(p.fork_upper_pos, p.grip[1]);
    pair(s, grip, 0.12f, k_metal);
    pair(s, at(grip.x * 0.5f, grip.y - 0.05f, grip.z - 0.15f), 0.12f, k_metal);
    s.push_back({add(p.fork_upper_pos, at(0, 1.0f, 0.45f)), 0.15f, k_metal});
    // Number plate in front of the clamps; front fender above the wheel.
    s.push_back({add(p.fork_upper_pos, at(0, 0.25f, -0.35f)), 0.25f, k_plastic});
    s.push_back({at(0, 2.45f, 1.2f), 0.2f, k_plastic});
    s.push_back({at(0, 2.35f, 0.6f), 0.18f, k_plastic});
    return s;
}

std::vector<sphere> fork_lower_parts(const bike_params& p)
{
    std::vector<sphere> s;
    const float leg_x = p.fork_leg_spacing / 2.0f;
    for (float t : {-0.6f, -0.2f, 0.2f}) {
        const vec3 c = along_steering(p, p.fork_lower_pos, t);
        pair(s, at(leg_x, c.y, c.z), 0.13f, k_metal);
    }
    // Axle lugs at the foot of each leg.
    pair(s, at(leg_x, p.front_wheel_pos.y, p.front_wheel_pos.z), 0.12f, k_metal);
    return s;
}

std::vector<sphere> swingarm_parts(const bike_params& p)
{
    std::vector<sphere> s;
    const float arm_x = p.frame_size.x / 2.0f;
    const vec3 span = sub(p.rear_wheel_pos, p.swingarm_pivot);
    for (float u : {0.15f, 0.45f, 0.75f, 1.0f}) {
        const vec3 c = add(p.swingarm_pivot, scale(span, u));
        pair(s, at(arm_x, c.y, c.z), u == 1.0f ? 0.14f : 0.12f, k_metal);
    }
    // Chain slider at the front and the shock linkage hanging below.
    s.push_back({add(p.swingarm_pivot, at(0, -0.21f, 0.3f)), 0.15f, k_plastic});
    s.push_back({at(0, 1.05f, 4.55f), 0.15f, k_metal});
    return s;
}

std::vector<sphere> rider_parts(const bike_params& p)
{
    std::vector<sphere> s;
    const vec3 r = p.rider_pos;
    // Pelvis over the hips, chest, shoulders (catalogue points), helmet.
    s.push_back({add(r, at(0, -0.45f, 0.55f)), 0.45f, k_rider});
    s.push_back({add(r, at(0, 0.2f, -0.2f)), 0.5f, k_rider});
    s.push_back({add(r, at(0, 0.5f, -0.55f)), 0.42f, k_rider});
    pair(s, add(r, p.shoulder[1]), 0.2f, k_rider);
    s.push_back({add(r, at(0, 1.15f, -0.95f)), 0.45f, k_rider});
    // Elbows, out toward the grips.
    pair(s, add(r, at(0.95f, 0.1f, -0.95f)), 0.2f, k_rider);
    // Knees (one thigh length from the hips), shins down to the pegs.
    pair(s, add(r, at(0.5f, -1.6f, -0.1f)), 0.22f, k_rider);
    pair(s, add(r, at(0.55f, -2.35f, -0.02f)), 0.18f, k_rider);
    return s;
}

std::vector<sphere> wheel_parts(vec3 centre, float ring_radius, float section_radius)
{
    // The tyre as 16 section spheres around the axle (x), and the hub.
    std::vector<sphere> s;
    for (int k = 0; k < 16; k++) {
        const double a = k * 3.14159265358979323846 / 8.0;
        s.push_back({add(centre, at(0, ring_radius * (float)std::cos(a), ring_radius * (float)std::sin(a))),
                     section_radius, k_tyre});
    }
    s.push_back({centre, 0.45f, k_hub});
    return s;
}

std::string format_shape(const std::vector<sphere>& spheres, vec3 origin)
{
    std::string text = std::to_string(spheres.size()) + "\n";
    for (const sphere& s : spheres) {
        const vec3 c = sub(s.centre, origin);
        char line[256];
        snprintf(line, sizeof line, "%f %f %f %f %f %f %f\n", (double)c.x, (double)c.y, (double)c.z,
                 (double)s.radius, (double)s.m.friction, (double)s.m.spring, (double)s.m.damping);
        text += line;
    }
    return text;
}

}  // namespace

const char* bike_shape_name(bike_shape_kind kind)
{
    static const char* const names[bike_shape_kinds] = {
        "@generic_frame.shp", "@generic_fork_upper.shp", "@generic_fork_lower.shp", "@generic_swingarm.shp",
        "@generic_rider.shp", "@front_wheel.shp", "@rear_wheel.shp",
    };
    return names[kind];
}

std::string bike_shape_text(bike_shape_kind kind)
{
    const bike_params& p = geometry();
    switch (kind) {
    case shape_frame: return format_shape(frame_parts(p), p.frame_pos);
    case shape_fork_upper: return format_shape(fork_upper_parts(p), p.fork_upper_pos);
    case shape_fork_lower: return format_shape(fork_lower_parts(p), p.fork_lower_pos);
    case shape_swingarm: return format_shape(swingarm_parts(p), p.swingarm_pos);
    case shape_rider: return format_shape(rider_parts(p), p.rider_pos);
    case shape_front_wheel:
        return format_shape(wheel_parts(p.front_wheel_pos, p.front_tyre_ring_radius, p.front_tyre_section_radius),
                            p.front_wheel_pos);
    case shape_rear_wheel:
        return format_shape(wheel_parts(p.rear_wheel_pos, p.rear_tyre_ring_radius, p.rear_tyre_section_radius),
                            p.rear_wheel_pos);
    default: return "0\n";
    }
}

void add_bike_shapes(output& out)
{
    for (int k = 0; k < bike_shape_kinds; k++) {
        const bike_shape_kind kind = (bike_shape_kind)k;
        // Archive members are named without the data-name "@".
        add_text_member(out, bike_shape_name(kind) + 1, bike_shape_text(kind));
    }
}

}  // namespace mkdata
