// Bike part and wheel models.
//
// Everything is laid out in the rest frame (feet; y up, forward -z, +x the
// rider's right; the ground just under the tyres at y = -0.06) and moved to
// the body's origin at the end. Each model keeps its lit parts first and
// its environment-mapped overlay (the chrome, drawn again over the lit base
// by the reflection pass) last, as the renderer requires.
#include "bike_models.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "files/archive.h"
#include "qm_shapes.h"

namespace mkdata {
using namespace vecmath;

const int bike_lod_numbers[bike_lod_levels] = {0, 5, 7};

namespace {

const double pi = 3.14159265358979323846;

vec3 unit(vec3 a)
{
    return scale(a, 1.0f / length(a));
}

// The materials of a bike model, in file order.
struct bike_mesh {
    qm_part paint, metal, soft, chrome, chrome_env;
    bike_mesh()
    {
        paint.shininess = 40;
        paint.specular[0] = paint.specular[1] = paint.specular[2] = 0.55f;
        metal.shininess = 60;
        metal.specular[0] = metal.specular[1] = metal.specular[2] = 0.7f;
        soft.shininess = 4;
        soft.specular[0] = soft.specular[1] = soft.specular[2] = 0.05f;
        chrome.shininess = 90;
        chrome.specular[0] = chrome.specular[1] = chrome.specular[2] = 0.9f;
        chrome_env.shininess = -1;
        chrome_env.reflectivity = 0.65f;
        chrome_env.specular[0] = 0.9f;
        chrome_env.specular[1] = 0.9f;
        chrome_env.specular[2] = 0.95f;
    }
    // The parts that have geometry, moved so that `origin` becomes the
    // model's origin. The chrome is repeated as the reflection overlay.
    qm_model finish(vec3 origin)
    {
        chrome_env.vertices = chrome.vertices;
        chrome_env.triangles = chrome.triangles;
        qm_model m;
        for (qm_part* p : {&paint, &metal, &soft, &chrome, &chrome_env}) {
            if (p->triangles.empty())
                continue;
            qm_transform(p, 0, v3(1, 0, 0), v3(0, 1, 0), v3(0, 0, 1), neg(origin));
            m.parts.push_back(*p);
        }
        return m;
    }
};

// Sides of a round piece at a level of detail.
int sides(int full, int lod)
{
    return lod == 0 ? full : lod == 1 ? std::max(6, full * 5 / 8) : std::max(6, full / 2);
}

void box(qm_part* part, vec3 lo, vec3 hi, const qm_uv_rect& side, const qm_uv_rect& top)
{
    const float a[3] = {lo.x, lo.y, lo.z}, b[3] = {hi.x, hi.y, hi.z};
    qm_add_box(part, a, b, side, top);
}

// A box of half extents h about the origin, turned onto the axes x, y, z
// (columns) and moved to `centre`.
void turned_box(qm_part* part, vec3 centre, vec3 x, vec3 y, vec3 z, vec3 h, const qm_uv_rect& side,
                const qm_uv_rect& top)
{
    const size_t first = part->vertices.size();
    box(part, neg(h), h, side, top);
    qm_transform(part, first, x, y, z, centre);
}

void tube(qm_part* part, const std::vector<vec3>& path, float radius, int n, const qm_uv_rect& uv, bool capped = true)
{
    qm_add_tube(part, path, std::vector<float>(path.size(), radius), n, uv, capped);
}

// Cuts the corners of a path (and blends its radii along) so that a tube
// bends round them instead of kinking.
void rounded_path(std::vector<vec3>* path, std::vector<float>* radii, int rounds)
{
    for (int k = 0; k < rounds; k++) {
        std::vector<vec3> p = {path->front()};
        std::vector<float> r = {radii->front()};
        for (size_t i = 0; i + 1 < path->size(); i++) {
            const vec3 a = (*path)[i], b = (*path)[i + 1];
            const float ra = (*radii)[i], rb = (*radii)[i + 1];
            p.push_back(add(scale(a, 0.75f), scale(b, 0.25f)));
            p.push_back(add(scale(a, 0.25f), scale(b, 0.75f)));
            r.push_back(0.75f * ra + 0.25f * rb);
            r.push_back(0.25f * ra + 0.75f * rb);
        }
        p.push_back(path->back());
        r.push_back(radii->back());
        *path = p;
        *radii = r;
    }
}

// Both sides: builds the right (+x) one with f and mirrors it.
template <class F>
void both_sides(qm_part* part, F f)
{
    const size_t first = part->vertices.size();
    f();
    qm_mirror_x(part, first);
}

// --- Geometry shared by the parts ---------------------------------------------------

struct layout {
    const bike_params& p;
    vec3 axis;      // steering axis, up
    vec3 offset;    // from the steering axis forward to the fork legs' line
    float ground;   // y of the ground under the tyres
    float seat_top; // y of the seat's top
    explicit layout(const bike_params& params) : p(params)
    {
        axis = unit(sub(p.fork_upper_pos, p.fork_lower_pos));
        const vec3 d = sub(p.front_wheel_pos, p.fork_upper_pos);
        offset = sub(d, scale(axis, dot(d, axis)));
        const float front = p.front_wheel_pos.y - p.front_tyre_ring_radius - p.front_tyre_section_radius;
        const float rear = p.rear_wheel_pos.y - p.rear_tyre_ring_radius - p.rear_tyre_section_radius;
        ground = std::min(front, rear);
        seat_top = p.rider_pos.y + p.hip[0].y - seat_below_hips;
    }
    // A point of the right fork leg's centre line, t feet above the axle.
    vec3 leg(float t, float side) const
    {
        const vec3 base = add(p.front_wheel_pos, v3(side * p.fork_leg_spacing / 2, 0, 0));
        return add(base, scale(axis, t));
    }
    // Along the fork legs, the fork-lower body's origin lies this far above the axle.
    float lower_t() const { return dot(sub(p.fork_lower_pos, p.front_wheel_pos), axis); }
    float upper_t() const { return dot(sub(p.fork_upper_pos, p.front_wheel_pos), axis); }
};

// --- Frame ----------------------------------------------------------------------------

void frame_tubes(bike_mesh& m, const layout& g, int lod)
{
    const bike_params& p = g.p;
    const vec3 head = p.fork_upper_pos;
    // Steering head.
    tube(&m.metal, {add(head, scale(g.axis, -0.4f)), add(head, scale(g.axis, 0.12f))}, 0.1f, sides(12, lod), bike_uv::frame);
    const int n = sides(10, lod);
    both_sides(&m.metal, [&] {
        // Main spars from the head to the swingarm pivot, round the tank.
        tube(&m.metal, qm_bezier(add(head, v3(0.12f, -0.08f, 0.1f)), v3(0.3f, 2.75f, 3.2f),
                                 v3(0.3f, p.swingarm_pivot.y + 0.15f, p.swingarm_pivot.z - 0.1f), lod ? 3 : 6),
             0.08f, n, bike_uv::frame);
        if (lod == 2)
            return;
        // Cradle under the engine, from the down tube to the pivot.
        tube(&m.metal, {v3(0.04f, 1.85f, 2.42f), v3(0.16f, 1.25f, 2.68f), v3(0.16f, 1.0f, 3.15f),
                        v3(0.16f, 1.02f, 3.75f), v3(0.22f, 1.42f, 4.02f)},
             0.055f, n, bike_uv::frame);
        // Subframe: the seat rail and its strut.
        tube(&m.metal, {v3(0.24f, 2.62f, 3.85f), v3(0.2f, 2.86f, 5.75f)}, 0.045f, sides(8, lod), bike_uv::frame);
        tube(&m.metal, {v3(0.25f, 1.95f, 4.15f), v3(0.2f, 2.78f, 5.35f)}, 0.04f, sides(8, lod), bike_uv::frame);
    });
    tube(&m.metal, {add(head, v3(0, -0.25f, -0.04f)), v3(0, 1.85f, 2.42f)}, 0.065f, n, bike_uv::frame);
    if (lod == 2)
        return;
    // Swingarm pivot bolt.
    const float* pv = &p.swingarm_pivot.x;
    const float c[3] = {pv[0], pv[1], pv[2]};
    qm_add_cylinder(&m.metal, 0, c, 0.06f, 0.86f, sides(10, lod), bike_uv::frame, bike_uv::frame);
}

void frame_engine(bike_mesh& m, engine_kind engine, int lod)
{
    const bool four = engine == engine_kind::four_stroke;
    const float half = four ? 0.3f : 0.24f;
    // Crank cases: a rounded block across the frame.
    std::vector<qm_section> cases;
    for (float x : {-half, -half + 0.04f, half - 0.04f, half}) {
        const float k = std::fabs(x) > half - 0.01f ? 0.9f : 1.0f;
        cases.push_back({v3(x, 1.45f, 3.45f), 0.48f * k, 0.37f * k, 0.6f});
    }
    qm_add_loft(&m.metal, cases, v3(0, 0, 1), v3(0, 1, 0), sides(16, lod), bike_uv::engine, true);
    // Cylinder leaning forward, finned; a big head on the four-stroke.
    const float r = four ? 0.23f : 0.2f;
    tube(&m.metal, {v3(0, 1.75f, 3.22f), v3(0, 2.05f, 3.12f), v3(0, 2.35f, 3.02f)}, r, sides(12, lod), bike_uv::engine);
    std::vector<qm_section> top = {{v3(0, 2.32f, 3.03f), four ? 0.3f : 0.22f, four ? 0.26f : 0.2f, 0.5f},
                                   {v3(0, 2.52f, 2.98f), four ? 0.3f : 0.22f, four ? 0.26f : 0.2f, 0.5f},
                                   {v3(0, 2.56f, 2.97f), four ? 0.26f : 0.18f, four ? 0.22f : 0.16f, 0.5f}};
    qm_add_loft(&m.metal, top, v3(1, 0, 0), v3(0, 0, -1), sides(12, lod), bike_uv::engine, true);
    if (lod < 2) {
        // Clutch cover on the right, ignition cover on the left.
        qm_add_lathe(&m.metal, 0, v3(half, 1.42f, 3.55f), {0, 0.06f, 0.09f}, {0.3f, 0.3f, 0.22f}, sides(16, lod),
                     bike_uv::engine);
        qm_add_lathe(&m.metal, 0, v3(-half, 1.5f, 3.2f), {0, -0.06f, -0.08f}, {0.2f, 0.2f, 0.14f}, sides(14, lod),
                     bike_uv::engine);
    }
}

void frame_bodywork(bike_mesh& m, const layout& g, int lod)
{
    const float seat = g.seat_top;
    // Radiators behind the shrouds, either side of the down tube (hidden
    // by them from afar).
    if (lod < 2)
        both_sides(&m.metal, [&] { box(&m.metal, v3(0.2f, 1.9f, 2.42f), v3(0.34f, 2.72f, 2.72f), bike_uv::radiator, bike_uv::frame); });
    // Shrouds, flaring wider toward the front; the left one reads its
    // picture from the other half of the texture.
    {
        const size_t first = m.paint.vertices.size();
        const float zs[6] = {2.22f, 2.45f, 2.85f, 3.35f, 3.35f, 2.7f};
        const float ys[6] = {2.85f, 2.08f, 1.95f, 2.4f, seat - 0.32f, seat - 0.2f};
        std::vector<vec3> outline;
        const float dx = -0.14f / 1.1f;  // narrower toward the back
        for (int i = 0; i < 6; i++)
            outline.push_back(v3(0.38f + dx * (zs[i] - 2.25f), ys[i], zs[i]));
        const vec3 n = unit(v3(1, 0, -dx));
        qm_add_plate(&m.paint, outline, n, 0.03f, v3(0, 0, -1), v3(0, 1, 0), bike_uv::shroud_right, bike_uv::plastic);
        qm_mirror_x(&m.paint, first, &bike_uv::shroud_right, &bike_uv::shroud_left);
    }
    // Tank between the shrouds, the seat running over it to the tail.
    const int around = sides(16, lod);
    qm_add_loft(&m.paint,
                {{v3(0, 2.76f, 2.5f), 0.16f, 0.16f, 0.3f},
                 {v3(0, 2.86f, 2.75f), 0.29f, 0.25f, 0.3f},
                 {v3(0, seat - 0.42f, 3.2f), 0.32f, 0.27f, 0.3f},
                 {v3(0, seat - 0.38f, 3.6f), 0.26f, 0.22f, 0.3f}},
                v3(1, 0, 0), v3(0, 1, 0), around, bike_uv::plastic, true);
    qm_add_loft(&m.soft,
                {{v3(0, seat - 0.2f, 3.12f), 0.12f, 0.08f, 0.55f},
                 {v3(0, seat - 0.15f, 3.45f), 0.2f, 0.12f, 0.55f},
                 {v3(0, seat - 0.13f, 4.2f), 0.22f, 0.13f, 0.55f},
                 {v3(0, seat - 0.12f, 5.0f), 0.2f, 0.12f, 0.55f},
                 {v3(0, seat - 0.14f, 5.55f), 0.15f, 0.1f, 0.55f},
                 {v3(0, seat - 0.16f, 5.74f), 0.08f, 0.06f, 0.55f}},
                v3(1, 0, 0), v3(0, 1, 0), around, bike_uv::seat, true);
    // Side panels under the seat, with the number plate grounds on them.
    both_sides(&m.paint, [&] {
        qm_add_plate(&m.paint,
                     {v3(0.38f, seat - 0.24f, 4.35f), v3(0.38f, 2.55f, 4.45f), v3(0.38f, 2.5f, 5.0f),
                      v3(0.38f, 2.85f, 5.62f), v3(0.38f, seat - 0.2f, 5.62f)},
                     v3(1, 0, 0), 0.03f, v3(0, 0, -1), v3(0, 1, 0), bike_uv::side_panel, bike_uv::plastic_second);
        qm_add_plate(&m.paint,
                     {v3(0.395f, 3.0f, 4.64f), v3(0.395f, 2.52f, 4.64f), v3(0.395f, 2.52f, 5.26f),
                      v3(0.395f, 3.0f, 5.26f)},
                     v3(1, 0, 0), 0.012f, v3(0, 0, -1), v3(0, 1, 0), bike_uv::plate, bike_uv::plate);
    });
    // Rear fender: an arched sheet from under the seat to the kicked-up tail.
    {
        const int rows = lod ? 3 : 8, cols = lod == 2 ? 3 : sides(9, lod);
        qm_grid sheet(rows, cols, false);
        for (int r = 0; r < rows; r++) {
            const float t = (float)r / (float)(rows - 1);
            const float z = 5.45f + 1.5f * t, y = seat - 0.3f - 0.05f * std::sin(t * (float)pi) + 0.08f * t * t;
            for (int c = 0; c < cols; c++) {
                const float s = (float)c / (float)(cols - 1) * 2 - 1;
                const float w = 0.3f - 0.08f * t;
                sheet.at(r, c) = v3(s * w, y - 0.1f * s * s, z);
            }
        }
        qm_add_grid(&m.paint, sheet, bike_uv::plastic, true);
        qm_add_grid(&m.paint, sheet, bike_uv::plastic, false);
    }
    // Front of the air box between the side panels.
    if (lod < 2)
        box(&m.paint, v3(-0.34f, 2.45f, 4.3f), v3(0.34f, seat - 0.2f, 5.2f), bike_uv::plastic_second, bike_uv::plastic_second);
}

void frame_running_gear(bike_mesh& m, const layout& g, engine_kind engine, int lod)
{
    const bike_params& p = g.p;
    // Foot pegs at the catalogue's pegs, teeth up.
    const vec3 peg = add(p.frame_pos, p.peg[1]);
    both_sides(&m.metal, [&] {
        box(&m.metal, v3(0.3f, peg.y - 0.04f, peg.z - 0.11f), v3(peg.x + 0.1f, peg.y + 0.03f, peg.z + 0.11f),
            bike_uv::frame, bike_uv::chain);
    });
    // Shock: spring between the frame and the linkage, its reservoir.
    tube(&m.metal, {v3(0, 2.55f, 4.08f), v3(0, 1.68f, 4.38f)}, 0.13f, sides(12, lod), bike_uv::spring);
    if (lod < 2) {
        tube(&m.metal, {v3(0.16f, 2.5f, 4.05f), v3(0.16f, 2.15f, 4.12f)}, 0.07f, sides(8, lod), bike_uv::frame);
        // Brake pedal on the right, gear lever on the left.
        tube(&m.metal, {v3(0.34f, peg.y + 0.02f, peg.z - 0.05f), v3(0.36f, peg.y - 0.02f, peg.z - 0.55f)}, 0.025f, 5,
             bike_uv::frame);
        tube(&m.metal, {v3(-0.34f, peg.y + 0.1f, peg.z - 0.25f), v3(-0.38f, peg.y + 0.1f, peg.z - 0.7f)}, 0.025f, 5,
             bike_uv::frame);
    }
    // The exhaust: chrome from the port, a silencer under the right side
    // panel. The four-stroke's header curls round the front of the engine;
    // the two-stroke's expansion chamber swells under the right shroud.
    const int n = sides(12, lod);
    const bool four = engine == engine_kind::four_stroke;
    std::vector<vec3> pipe;
    std::vector<float> radius;
    if (four) {
        pipe = {v3(0.06f, 2.32f, 2.82f), v3(0.12f, 2.12f, 2.78f), v3(0.22f, 1.86f, 2.84f), v3(0.36f, 1.66f, 2.98f),
                v3(0.44f, 1.64f, 3.5f),  v3(0.46f, 1.86f, 4.05f), v3(0.48f, 2.12f, 4.55f)};
        radius.assign(pipe.size(), 0.07f);
    } else {
        pipe = {v3(0, 1.95f, 2.9f),      v3(0.06f, 1.82f, 2.62f), v3(0.2f, 1.62f, 2.5f),  v3(0.38f, 1.52f, 2.7f),
                v3(0.46f, 1.56f, 3.2f),  v3(0.47f, 1.75f, 3.8f),  v3(0.46f, 1.98f, 4.2f), v3(0.47f, 2.12f, 4.48f)};
        radius = {0.07f, 0.085f, 0.11f, 0.15f, 0.17f, 0.15f, 0.09f, 0.055f};
    }
    rounded_path(&pipe, &radius, lod == 0 ? 2 : 1);
    qm_add_tube(&m.chrome, pipe, radius, n, bike_uv::chrome, true);
    const vec3 s0 = v3(0.48f, 2.1f, 4.5f), s1 = v3(0.49f, 2.5f, 6.28f);
    const vec3 d = unit(sub(s1, s0));
    const float len = length(sub(s1, s0)), rs = four ? 0.17f : 0.12f;
    auto at = [&](float t) { return add(s0, scale(d, t)); };
    qm_add_tube(&m.metal, {at(0), at(0.15f), at(len - 0.12f), at(len)}, {0.07f, rs, rs, rs * 0.75f}, n,
                bike_uv::silencer, false);
    if (lod < 2)
        tube(&m.chrome, {at(len - 0.02f), at(len + 0.06f)}, rs * 0.45f, sides(8, lod), bike_uv::chrome);
}

qm_model frame_model(engine_kind engine, const layout& g, int lod)
{
    bike_mesh m;
    frame_tubes(m, g, lod);
    frame_engine(m, engine, lod);
    frame_bodywork(m, g, lod);
    frame_running_gear(m, g, engine, lod);
    return m.finish(g.p.frame_pos);
}

// --- Front end ------------------------------------------------------------------------

qm_model fork_upper_model(const layout& g, int lod)
{
    const bike_params& p = g.p;
    bike_mesh m;
    const vec3 head = p.fork_upper_pos, x = v3(1, 0, 0), fwd = unit(g.offset);
    const float lt = g.lower_t(), ut = g.upper_t();
    // Outer fork tubes, from a little above the lower body's origin (the
    // slider's overlap) to above the top clamp.
    for (float side : {-1.0f, 1.0f})
        tube(&m.metal, {g.leg(lt + 0.15f, side), g.leg(ut + 0.35f, side)}, 0.1f, sides(14, lod), bike_uv::fork_outer);
    // Triple clamps round the steering stem and the tubes.
    for (float t : {-0.3f, 0.22f}) {
        const vec3 c = add(add(head, scale(g.axis, t)), scale(g.offset, 0.5f));
        turned_box(&m.metal, c, x, g.axis, neg(fwd), v3(0.54f, 0.05f, length(g.offset) / 2 + 0.14f), bike_uv::frame,
                   bike_uv::frame);
    }
    // Handlebar: risers on the top clamp, the bar bending up and back to
    // the catalogue's grips, rubber grips, levers and the pad.
    const vec3 clamp = add(head, scale(g.axis, 0.28f));
    const vec3 grip = add(head, p.grip[1]);
    const vec3 bar_mid = v3(0, clamp.y + 0.28f, clamp.z + 0.1f);
    tube(&m.metal, {v3(0, clamp.y, clamp.z), bar_mid}, 0.05f, sides(8, lod), bike_uv::frame);
    both_sides(&m.metal, [&] {
        const vec3 inner = v3(grip.x * 0.75f, grip.y - 0.02f, grip.z - 0.015f);
        std::vector<vec3> bar = qm_bezier(bar_mid, v3(grip.x * 0.45f, bar_mid.y + 0.05f, bar_mid.z + 0.05f), inner,
                                          lod ? 3 : 8);
        bar.push_back(v3(grip.x * 1.16f, grip.y + 0.01f, grip.z + 0.01f));
        tube(&m.metal, bar, 0.04f, sides(8, lod), bike_uv::frame);
        if (lod < 2)
            tube(&m.metal, {v3(grip.x * 0.8f, grip.y, grip.z - 0.04f), v3(grip.x * 1.04f, grip.y - 0.08f, grip.z - 0.3f)},
                 0.02f, 5, bike_uv::frame);
    });
    both_sides(&m.soft, [&] {
        tube(&m.soft, {v3(grip.x * 0.8f, grip.y - 0.004f, grip.z - 0.004f), v3(grip.x * 1.14f, grip.y + 0.01f, grip.z + 0.01f)},
             0.06f, sides(10, lod), bike_uv::rubber);
    });
    box(&m.paint, v3(-0.3f, bar_mid.y - 0.02f, bar_mid.z - 0.06f), v3(0.3f, bar_mid.y + 0.1f, bar_mid.z + 0.06f),
        bike_uv::bar_pad, bike_uv::plastic);
    // Number plate ground ahead of the clamps, leaning with the fork.
    {
        const vec3 c = add(head, v3(0, 0.2f, -0.38f));
        const vec3 n = unit(cross(x, g.axis));  // forward and up
        std::vector<vec3> outline;
        const float pts[6][2] = {{-0.35f, -0.38f}, {0.35f, -0.38f}, {0.42f, 0.1f}, {0.28f, 0.4f}, {-0.28f, 0.4f}, {-0.42f, 0.1f}};
        for (const auto& q : pts)
            outline.push_back(add(c, add(scale(x, q[0]), scale(g.axis, q[1]))));
        qm_add_plate(&m.paint, outline, neg(n), 0.03f, neg(x), g.axis, bike_uv::plate, bike_uv::plastic);
    }
    // Front fender over the tyre, its tip kicked up ahead.
    {
        const vec3 axle = p.front_wheel_pos;
        const float r0 = p.front_tyre_ring_radius + p.front_tyre_section_radius + 0.17f;
        const int rows = lod ? 5 : 10, cols = sides(9, lod);
        qm_grid sheet(rows, cols, false);
        for (int r = 0; r < rows; r++) {
            const float t = (float)r / (float)(rows - 1);
            // From behind the top forward; ahead of the tyre it leaves the
            // tyre's curve and runs out straight, rising.
            const float a = (float)((-30 + 75 * std::min(t, 0.75f)) * pi / 180);
            const float rr = r0 + 0.1f * t * t + (t > 0.75f ? 1.6f * (t - 0.75f) : 0.0f);
            for (int c = 0; c < cols; c++) {
                const float s = (float)c / (float)(cols - 1) * 2 - 1;
                const float w = 0.22f - 0.06f * t;
                const float drop = 0.09f * s * s;
                sheet.at(r, c) = v3(s * w, axle.y + (rr - drop) * std::cos(a), axle.z - (rr - drop) * std::sin(a));
            }
        }
        qm_add_grid(&m.paint, sheet, bike_uv::plastic, true);
        qm_add_grid(&m.paint, sheet, bike_uv::plastic, false);
    }
    return m.finish(head);
}

qm_model fork_lower_model(const layout& g, int lod)
{
    const bike_params& p = g.p;
    bike_mesh m;
    const float lt = g.lower_t();
    const vec3 x = v3(1, 0, 0), fwd = unit(g.offset);
    for (float side : {-1.0f, 1.0f}) {
        // Polished stanchions sliding up into the outer tubes; at full
        // travel their tops stay below the tubes' tops.
        tube(&m.metal, {g.leg(0.05f, side), g.leg(lt + 0.55f, side)}, 0.07f, sides(12, lod), bike_uv::fork_inner);
        // Axle lug and the guard ahead of the stanchion.
        turned_box(&m.metal, g.leg(0.04f, side), x, g.axis, neg(fwd), v3(0.09f, 0.16f, 0.1f), bike_uv::fork_outer,
                   bike_uv::frame);
        if (lod < 2)
            turned_box(&m.paint, add(g.leg(0.55f, side), scale(fwd, 0.07f)), x, g.axis, neg(fwd),
                       v3(0.085f, 0.42f, 0.02f), bike_uv::plastic, bike_uv::plastic);
    }
    const float a[3] = {p.front_wheel_pos.x, p.front_wheel_pos.y, p.front_wheel_pos.z};
    qm_add_cylinder(&m.metal, 0, a, 0.04f, p.fork_leg_spacing + 0.2f, sides(8, lod), bike_uv::frame, bike_uv::frame);
    // Brake caliper on the left leg, over the disc's rim.
    if (lod < 2)
        turned_box(&m.metal, add(g.leg(0.42f, -1), v3(0.17f, 0, 0.12f)), x, g.axis, neg(fwd), v3(0.05f, 0.12f, 0.08f),
                   bike_uv::engine, bike_uv::engine);
    return m.finish(p.fork_lower_pos);
}

// --- Swingarm ----------------------------------------------------------------------------

qm_model swingarm_model(const layout& g, int lod)
{
    const bike_params& p = g.p;
    bike_mesh m;
    const vec3 pivot = p.swingarm_pivot, axle = p.rear_wheel_pos;
    const float arm_x = p.frame_size.x / 2;
    both_sides(&m.metal, [&] {
        const vec3 a = v3(arm_x - 0.06f, pivot.y, pivot.z + 0.08f), b = v3(arm_x, axle.y, axle.z);
        const vec3 d = unit(sub(b, a));
        const vec3 up = unit(cross(d, v3(1, 0, 0)));
        std::vector<qm_section> s;
        const float ts[5] = {0, 0.05f, 0.5f, 0.95f, 1};
        const float hs[5] = {0.12f, 0.14f, 0.11f, 0.08f, 0.07f};
        for (int i = 0; i < 5; i++)
            s.push_back({add(a, scale(sub(b, a), ts[i] + (i == 4 ? 0.06f : 0))), i == 0 || i == 4 ? 0.04f : 0.05f, hs[i], 0.6f});
        qm_add_loft(&m.metal, s, v3(1, 0, 0), up, sides(12, lod), bike_uv::swingarm, true);
    });
    const float c[3] = {pivot.x, pivot.y, pivot.z};
    qm_add_cylinder(&m.metal, 0, c, 0.1f, 2 * arm_x - 0.08f, sides(12, lod), bike_uv::swingarm, bike_uv::swingarm);
    // Cross member ahead of the tyre, the linkage hanging under it.
    box(&m.metal, v3(-arm_x + 0.04f, pivot.y - 0.12f, pivot.z + 0.3f), v3(arm_x - 0.04f, pivot.y + 0.02f, pivot.z + 0.48f),
        bike_uv::swingarm, bike_uv::swingarm);
    box(&m.metal, v3(-0.1f, 1.06f, 4.35f), v3(0.1f, 1.22f, 4.7f), bike_uv::frame, bike_uv::frame);
    const float ac[3] = {axle.x, axle.y, axle.z};
    qm_add_cylinder(&m.metal, 0, ac, 0.04f, 2 * arm_x + 0.18f, sides(8, lod), bike_uv::frame, bike_uv::frame);
    if (lod < 2) {
        // Chain on the left from the countershaft to the rear sprocket,
        // and its slider and guide.
        const float cx = -0.33f, rs = 0.34f;
        const vec3 front = v3(cx, 1.55f, 3.82f);
        tube(&m.soft, {add(front, v3(0, 0.12f, 0)), v3(cx, axle.y + rs, axle.z)}, 0.03f, 4, bike_uv::chain, false);
        tube(&m.soft, {add(front, v3(0, -0.12f, 0)), v3(cx, axle.y - rs, axle.z)}, 0.03f, 4, bike_uv::chain, false);
        box(&m.paint, v3(-arm_x - 0.02f, pivot.y + 0.02f, pivot.z + 0.1f), v3(-arm_x + 0.06f, pivot.y + 0.08f, pivot.z + 0.9f),
            bike_uv::rubber, bike_uv::rubber);
        box(&m.paint, v3(cx - 0.05f, axle.y - 0.5f, axle.z - 0.9f), v3(cx + 0.05f, axle.y - 0.3f, axle.z - 0.45f),
            bike_uv::plastic_second, bike_uv::plastic_second);
        // Rear brake caliper on the right.
        box(&m.metal, v3(arm_x - 0.2f, axle.y + 0.08f, axle.z - 0.42f), v3(arm_x - 0.1f, axle.y + 0.24f, axle.z - 0.2f),
            bike_uv::engine, bike_uv::engine);
    }
    return m.finish(p.swingarm_pos);
}

// --- Number plates -------------------------------------------------------------------------

// A square of the number-plate picture, its lower-left corner at a.
void number_square(qm_part* part, vec3 a, vec3 right, vec3 up)
{
    const vec3 b = add(a, right), c = add(b, up), d = add(a, up);
    const float pa[3] = {a.x, a.y, a.z}, pb[3] = {b.x, b.y, b.z}, pc[3] = {c.x, c.y, c.z}, pd[3] = {d.x, d.y, d.z};
    qm_add_quad(part, pa, pb, pc, pd, qm_uv_rect{}, false);
}

qm_model front_plate_model(const layout& g)
{
    // Just ahead of the plate ground, read from in front (the bike's right
    // on the viewer's left).
    qm_model m;
    qm_part part;
    part.shininess = 20;
    const vec3 x = v3(1, 0, 0);
    const vec3 n = unit(cross(x, g.axis));
    const vec3 centre = add(add(g.p.fork_upper_pos, v3(0, 0.2f, -0.38f)), scale(n, -0.013f));
    const float s = 0.66f;
    number_square(&part, add(centre, add(scale(x, s / 2), scale(g.axis, -s / 2))), scale(x, -s), scale(g.axis, s));
    m.parts.push_back(part);
    qm_transform(&m.parts[0], 0, v3(1, 0, 0), v3(0, 1, 0), v3(0, 0, 1), neg(g.p.fork_upper_pos));
    return m;
}

qm_model side_plates_model(const layout& g)
{
    // Over the plate grounds on the side panels; each read from its own
    // side, front toward the viewer's right on the right side.
    qm_model m;
    qm_part part;
    part.shininess = 20;
    const float s = 0.6f, zc = 4.95f, yc = 2.76f;
    number_square(&part, v3(0.4f, yc - s / 2, zc + s / 2), v3(0, 0, -s), v3(0, s, 0));
    number_square(&part, v3(-0.4f, yc - s / 2, zc - s / 2), v3(0, 0, s), v3(0, s, 0));
    m.parts.push_back(part);
    qm_transform(&m.parts[0], 0, v3(1, 0, 0), v3(0, 1, 0), v3(0, 0, 1), neg(g.p.frame_pos));
    return m;
}

// --- Wheels ----------------------------------------------------------------------------------

// A band of the tyre as `sectors` lathes about x, each taking the whole
// texture rectangle (so the tread repeats round the wheel).
void tyre_band(qm_part* part, vec3 centre, const std::vector<float>& xs, const std::vector<float>& rs, int around,
               int sectors, const qm_uv_rect& uv)
{
    const int per = std::max(1, around / sectors);
    for (int s = 0; s < sectors; s++) {
        qm_grid g((int)xs.size(), per + 1, false);
        for (int r = 0; r < g.rows; r++)
            for (int k = 0; k <= per; k++) {
                const double a = 2 * pi * (s * per + k) / (per * sectors);
                g.at(r, k) = add(centre, v3(xs[r], rs[r] * (float)std::cos(a), rs[r] * (float)std::sin(a)));
            }
        qm_add_grid(part, g, uv);
    }
}

}  // namespace

qm_model wheel_model(bool front, const bike_params& p, int lod)
{
    const float ring = front ? p.front_tyre_ring_radius : p.rear_tyre_ring_radius;
    const float section = front ? p.front_tyre_section_radius : p.rear_tyre_section_radius;
    const float outer = ring + section;                  // the tyre on the ground
    const float rim = front ? 0.875f : 0.79f;           // 21 and 19 inch rims
    const float half = front ? 0.14f : 0.18f;           // half the tyre's width
    const vec3 c = v3(0, 0, 0);
    qm_model m;
    qm_part rubber, metal, spokes;
    rubber.shininess = 4;
    rubber.specular[0] = rubber.specular[1] = rubber.specular[2] = 0.06f;
    metal.shininess = 60;
    metal.specular[0] = metal.specular[1] = metal.specular[2] = 0.7f;
    spokes = metal;
    const int around = lod == 0 ? 48 : lod == 1 ? 24 : 12;
    // Carcass: sidewalls from the rim out to the shoulders, the crown
    // between them; with knobs modelled the crown sits lower so that the
    // knobs' tops are where the tyre meets the ground.
    const float knob = lod == 0 ? 0.045f : 0.0f;
    const float crown = outer - (lod == 0 ? knob : 0.015f);
    const float wall = rim + 0.55f * (crown - rim);
    const size_t first = rubber.vertices.size();
    tyre_band(&rubber, c, {-0.07f, -half, -half * 0.85f}, {rim - 0.01f, wall, crown - 0.06f}, around, 4, wheel_uv::sidewall);
    tyre_band(&rubber, c, {-half * 0.85f, -half * 0.45f, 0, half * 0.45f, half * 0.85f},
              {crown - 0.06f, crown - 0.01f, crown, crown - 0.01f, crown - 0.06f}, around, lod == 0 ? 16 : 8, wheel_uv::tread);
    tyre_band(&rubber, c, {half * 0.85f, half, 0.07f}, {crown - 0.06f, wall, rim - 0.01f}, around, 4, wheel_uv::sidewall);
    qm_smooth(&rubber, first);
    if (lod == 0) {
        // Knobs: a centre row and staggered shoulder rows.
        const int count = front ? 36 : 32;
        for (int k = 0; k < 2 * count; k++) {
            const bool centre_row = k % 2 == 0;
            const double a = 2 * pi * (k / 2 + (centre_row ? 0.0 : 0.5)) / count;
            const vec3 radial = v3(0, (float)std::cos(a), (float)std::sin(a));
            const vec3 tangent = v3(0, -(float)std::sin(a), (float)std::cos(a));
            for (float xs : centre_row ? std::vector<float>{0.0f} : std::vector<float>{-half * 0.62f, half * 0.62f}) {
                const float base = centre_row ? crown : crown - 0.012f;
                const vec3 pos = add(v3(xs, 0, 0), scale(radial, base + knob / 2 - 0.01f));
                turned_box(&rubber, pos, v3(1, 0, 0), radial, tangent, v3(centre_row ? 0.05f : 0.04f, knob / 2 + 0.01f, 0.045f),
                           wheel_uv::knob, wheel_uv::knob);
            }
        }
    }
    // Rim: its inner band and two side rings.
    qm_add_lathe(&metal, 0, c, {0.1f, -0.1f}, {rim - 0.05f, rim - 0.05f}, sides(32, lod), wheel_uv::rim);
    qm_add_lathe(&metal, 0, c, {0.1f, 0.1f}, {rim + 0.03f, rim - 0.05f}, sides(32, lod), wheel_uv::rim);
    qm_add_lathe(&metal, 0, c, {-0.1f, -0.1f}, {rim - 0.05f, rim + 0.03f}, sides(32, lod), wheel_uv::rim);
    // Hub with its flanges.
    const float hub[3] = {0, 0, 0};
    qm_add_cylinder(&metal, 0, hub, 0.1f, 0.5f, sides(12, lod), wheel_uv::hub, wheel_uv::hub);
    if (lod < 2)
        for (float x : {-0.15f, 0.15f}) {
            const float f[3] = {x, 0, 0};
            qm_add_cylinder(&metal, 0, f, 0.15f, 0.04f, sides(12, lod), wheel_uv::hub, wheel_uv::hub);
        }
    // Spokes: a cone each side from the flange to the rim, the picture's
    // cut-outs showing through.
    const float inner_f = 11.0f / 64, outer_f = 61.0f / 64;
    qm_add_polar_ring(&spokes, c, 0.15f, 0.15f, 0.06f, rim - 0.05f, sides(24, lod), wheel_uv::spokes, inner_f, outer_f);
    qm_add_polar_ring(&spokes, c, -0.15f, 0.15f, -0.06f, rim - 0.05f, sides(24, lod), wheel_uv::spokes, inner_f, outer_f);
    // Brake disc (left at the front, right at the back) and the sprocket.
    const float dx = front ? -0.21f : 0.22f, dr = front ? 0.42f : 0.36f;
    qm_add_polar_ring(&spokes, c, dx, 0.1f, dx, dr, sides(24, lod), wheel_uv::brake_disc, 0.1f / dr, 1.0f);
    if (!front)
        qm_add_polar_ring(&spokes, c, -0.31f, 0.1f, -0.31f, 0.36f, sides(24, lod), wheel_uv::sprocket, 0.28f, 1.0f);
    m.parts = {rubber, metal, spokes};
    return m;
}

qm_model bike_part_model(bike_part part, engine_kind engine, const bike_params& p, int lod)
{
    const layout g(p);
    switch (part) {
    case bike_part::frame: return frame_model(engine, g, lod);
    case bike_part::fork_upper: return fork_upper_model(g, lod);
    case bike_part::fork_lower: return fork_lower_model(g, lod);
    case bike_part::swingarm: return swingarm_model(g, lod);
    case bike_part::side_plates: return side_plates_model(g);
    default: return front_plate_model(g);
    }
}

std::string bike_part_file(const std::string& stem, bike_part part, int lod)
{
    static const char* const suffix[] = {"_frame", "_fork_upper", "_fork_lower", "_swingarm", "_side_plates", "_front_plate"};
    std::string name = stem + suffix[(int)part];
    if (bike_lod_numbers[lod])
        name += "_lod" + std::to_string(bike_lod_numbers[lod]);
    return name + ".qm";
}

void add_model_member(output& out, const std::string& name, const std::string& text)
{
    // Stored compressed: the loader opens "name" through its ".gz" form,
    // and the level-of-detail search drops the ".gz" when it finds one.
    std::string packed;
    if (!gzip_bytes(text.data(), text.size(), &packed, 6)) {
        fprintf(stderr, "kessrig-mkdata: can't compress %s\n", name.c_str());
        abort();
    }
    add_member(out, name + ".gz", bytes(packed.begin(), packed.end()));
}

void require_model(const qm_model& m, const std::string& name)
{
    std::string why;
    if (!qm_check(m, &why)) {
        // A programming error in the models; the data set would be
        // unusable, so stop here.
        fprintf(stderr, "kessrig-mkdata: bad model %s: %s\n", name.c_str(), why.c_str());
        abort();
    }
}

namespace {

// Whether two catalogue records place every body, wheel and rider point
// alike (then their models are the same).
bool same_geometry(const bike_params& a, const bike_params& b)
{
    auto eq = [](vec3 u, vec3 v) { return u.x == v.x && u.y == v.y && u.z == v.z; };
    return eq(a.front_wheel_pos, b.front_wheel_pos) && eq(a.rear_wheel_pos, b.rear_wheel_pos) &&
           eq(a.frame_pos, b.frame_pos) && eq(a.frame_size, b.frame_size) && eq(a.fork_upper_pos, b.fork_upper_pos) &&
           eq(a.fork_lower_pos, b.fork_lower_pos) && eq(a.swingarm_pos, b.swingarm_pos) &&
           eq(a.swingarm_pivot, b.swingarm_pivot) && eq(a.rider_pos, b.rider_pos) && eq(a.hip[0], b.hip[0]) &&
           eq(a.grip[1], b.grip[1]) && eq(a.peg[1], b.peg[1]) &&
           a.front_tyre_ring_radius == b.front_tyre_ring_radius &&
           a.front_tyre_section_radius == b.front_tyre_section_radius &&
           a.rear_tyre_ring_radius == b.rear_tyre_ring_radius &&
           a.rear_tyre_section_radius == b.rear_tyre_section_radius && a.fork_leg_spacing == b.fork_leg_spacing;
}

}  // namespace

void add_bike_models(output& out)
{
    // Each stem is built from the geometry of the first catalogue model
    // using it, with its engine's cylinder and exhaust. Today every model
    // shares one geometry, so the texts are made once per engine and part
    // and reused while the geometry matches.
    const bike_params* cat = bike_catalogue();
    const bike_part parts[] = {bike_part::frame, bike_part::fork_upper, bike_part::fork_lower, bike_part::swingarm,
                               bike_part::side_plates, bike_part::front_plate};
    struct built {
        const bike_params* geometry;
        engine_kind engine;
        std::vector<std::string> texts;  // per part and level
    };
    std::vector<built> done;
    for (const bike_stem& s : bike_stems()) {
        const bike_params* p = cat;
        while (std::string(p->frame_model) != "@" + s.stem + "_frame.qm")
            p++;
        const built* b = nullptr;
        for (const built& d : done)
            if (d.engine == s.engine && same_geometry(*d.geometry, *p))
                b = &d;
        if (!b) {
            built fresh{p, s.engine, {}};
            for (bike_part part : parts)
                for (int lod = 0; lod < bike_lod_levels; lod++) {
                    const qm_model m = bike_part_model(part, s.engine, *p, lod);
                    require_model(m, bike_part_file(s.stem, part, lod));
                    fresh.texts.push_back(qm_text(m));
                }
            done.push_back(fresh);
            b = &done.back();
        }
        size_t k = 0;
        for (bike_part part : parts)
            for (int lod = 0; lod < bike_lod_levels; lod++, k++) {
                // The plates are single quads: no coarser levels.
                if (lod > 0 && (part == bike_part::side_plates || part == bike_part::front_plate))
                    continue;
                add_model_member(out, bike_part_file(s.stem, part, lod), b->texts[k]);
            }
    }
    const bike_params& p = cat[0];
    for (int lod = 0; lod < bike_lod_levels; lod++)
        for (bool front : {true, false}) {
            const qm_model m = wheel_model(front, p, lod);
            std::string name = front ? "front_wheel" : "rear_wheel";
            if (bike_lod_numbers[lod])
                name += "_lod" + std::to_string(bike_lod_numbers[lod]);
            name += ".qm";
            require_model(m, name);
            add_model_member(out, name, qm_text(m));
        }
}

}  // namespace mkdata
