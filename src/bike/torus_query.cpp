// Geometry of the wheel and sphere contacts with the terrain: the torus and
// sphere tests against one triangle and the walk over the height field's
// triangles under a body.
//
// Everything is computed relative to the queried centre, so the numbers stay
// small wherever on the terrain the wheel is, and a point on the edge shared
// by two triangles counts as inside both: a wheel rolling over a plane never
// falls between the triangles that make it up.
#include <cmath>

#include "bike/contact.h"
#include "bike/contact_internal.h"
#include "track/heightfield.h"

using namespace contact_math;

namespace {

// The depth an edge through the wheel disc reports: just under the section
// radius, so a face contact of the same plane always wins.
constexpr float edge_contact_margin = 9.5367431640625e-07f;  // 2^-20
// Relative slack of the inside tests (fraction of the triangle's area).
constexpr float inside_slack = 1e-5f;
// Below this the ring direction toward the plane is undefined (the wheel
// lies flat on the triangle).
constexpr float flat_wheel = 1e-6f;

struct local_triangle {
    vec3 p[3];    // vertices relative to the queried centre
    vec3 n;       // unit normal, out of the ground
    float area;   // |(p1 - p0) x (p2 - p0)|
    float sdc;    // signed height of the centre above the plane
};

bool make_triangle(vec3 a, vec3 b, vec3 c, local_triangle* t)
{
    t->p[0] = a;
    t->p[1] = b;
    t->p[2] = c;
    const vec3 n = cross(sub(b, a), sub(c, a));
    const float len = length(n);
    if (!(len > 0.0f) || !std::isfinite(len))
        return false;
    t->n = scale(n, 1.0f / len);
    t->area = len;
    t->sdc = -dot(a, t->n);
    return std::isfinite(t->sdc);
}

// x lies in the triangle's plane (near enough); inside or on its boundary.
bool inside(const local_triangle& t, vec3 x)
{
    const float slack = -inside_slack * t.area;
    for (int k = 0; k < 3; k++) {
        const vec3 a = t.p[k];
        const vec3 b = t.p[k == 2 ? 0 : k + 1];
        if (dot(cross(sub(b, a), sub(x, a)), t.n) < slack)
            return false;
    }
    return true;
}

// The centre (the origin), seen from above, lies in the triangle's x-z
// outline. The triangle's normal points up, so its outline winds one way.
bool centre_above_or_below(const local_triangle& t)
{
    const vec3 e1 = sub(t.p[1], t.p[0]);
    const vec3 e2 = sub(t.p[2], t.p[0]);
    const float area = e1.z * e2.x - e1.x * e2.z;
    if (!(area > 0.0f))
        return false;
    const float slack = -inside_slack * area;
    for (int k = 0; k < 3; k++) {
        const vec3 a = t.p[k];
        const vec3 b = t.p[k == 2 ? 0 : k + 1];
        const vec3 u = sub(b, a);
        const vec3 v = neg(a);
        if (u.z * v.x - u.x * v.z < slack)
            return false;
    }
    return true;
}

vec3 any_perpendicular(vec3 a)
{
    const float ax = fabsf(a.x), ay = fabsf(a.y), az = fabsf(a.z);
    vec3 other = {0.0f, 0.0f, 0.0f};
    if (ax <= ay && ax <= az)
        other.x = 1.0f;
    else if (ay <= az)
        other.y = 1.0f;
    else
        other.z = 1.0f;
    const vec3 p = cross(a, other);
    return scale(p, 1.0f / length(p));
}

// The ring's point nearest p; fallback when p lies on the axle.
inline vec3 ring_point_nearest(vec3 p, vec3 a, float ring_radius, vec3 fallback)
{
    const vec3 q = add_scaled(p, a, -dot(p, a));
    const float rho = length(q);
    if (!(rho > 1e-12f))
        return scale(fallback, ring_radius);
    return scale(q, ring_radius / rho);
}

// Smallest squared distance between the ring and the segment A-B: coarse
// samples find the basin (a segment can pass near the ring twice), a golden
// section search refines it. A fixed number of steps keeps it deterministic.
// Along the segment p(t) = A + t e the squared distance to the ring is
// |p|^2 + R^2 - 2 R rho(t), with |p|^2 and rho^2 (the part of |p|^2 off the
// axle) quadratic in t, so each step costs a few products and one root.
float segment_ring_distance_sq(vec3 A, vec3 B, vec3 a, float ring_radius, vec3* nearest)
{
    enum { samples = 8, refine_steps = 20 };
    const vec3 e = sub(B, A);
    const float ee = dot(e, e), ae = dot(A, e), aa = dot(A, A);
    const float ha = dot(A, a), he = dot(e, a);
    const float q2 = ee - he * he, q1 = 2.0f * (ae - ha * he), q0 = aa - ha * ha;
    const float p2 = ee, p1 = 2.0f * ae, p0 = aa;
    const float rr = ring_radius * ring_radius, two_r = 2.0f * ring_radius;
    auto f = [&](float t) {
        const float q = (q2 * t + q1) * t + q0;
        return (p2 * t + p1) * t + p0 + rr - two_r * sqrtf(fmaxf(q, 0.0f));
    };
    float best_t = 0.0f;
    float best = f(0.0f);
    for (int k = 1; k <= samples; k++) {
        const float t = (float)k / (float)samples;
        const float d = f(t);
        if (d < best) {
            best = d;
            best_t = t;
        }
    }
    const float step = 1.0f / (float)samples;
    float lo = fmaxf(best_t - step, 0.0f);
    float hi = fminf(best_t + step, 1.0f);
    const float g = 0.618034f;
    float t1 = hi - g * (hi - lo);
    float t2 = lo + g * (hi - lo);
    float d1 = f(t1);
    float d2 = f(t2);
    for (int k = 0; k < refine_steps; k++) {
        if (d1 <= d2) {
            hi = t2;
            t2 = t1;
            d2 = d1;
            t1 = hi - g * (hi - lo);
            d1 = f(t1);
        } else {
            lo = t1;
            t1 = t2;
            d1 = d2;
            t2 = lo + g * (hi - lo);
            d2 = f(t2);
        }
    }
    if (d1 < best) {
        best = d1;
        best_t = t1;
    }
    if (d2 < best) {
        best = d2;
        best_t = t2;
    }
    *nearest = add_scaled(A, e, best_t);
    // Rounding can leave a hair below zero where the segment meets the ring.
    return fmaxf(best, 0.0f);
}

// The torus (centre at the origin) against one triangle. The cheap cases
// (face, edge through the disc, sunk wheel) are resolved at once; the
// contact with the triangle's boundary needs a search and is only worth it
// when it could beat the deepest contact found so far, so it is reported
// as pending with an upper bound on its depth.
struct torus_case {
    bool resolved;      // hit (depth > 0) or nothing
    float depth;        // resolved: the depth; pending: upper bound
    terrain_hit hit;    // resolved with depth > 0
};

struct torus_shape {
    vec3 a;    // unit axle
    float R;   // ring radius
    float r;   // section radius
};

torus_case classify(const local_triangle& t, const torus_shape& w)
{
    torus_case out;
    out.resolved = true;
    out.depth = 0.0f;
    out.hit = {};
    const vec3 N = t.n;
    const float sdc = t.sdc;
    if (sdc > w.R + w.r)
        return out;  // the whole torus is above the plane

    // D: the wheel-plane direction toward the triangle's plane.
    const vec3 toward = add_scaled(N, w.a, -dot(N, w.a));
    const float tl = length(toward);
    vec3 D = tl > flat_wheel ? scale(toward, -1.0f / tl) : any_perpendicular(w.a);
    float dn = dot(D, N);
    if (dn > 0.0f) {
        D = neg(D);
        dn = -dn;
    }
    const vec3 L = scale(D, w.R);       // ring's low point
    const float sdL = sdc + w.R * dn;   // its height above the plane
    const float sdH = sdc - w.R * dn;   // the high point's

    if (sdL < 0.0f && sdH >= 0.0f) {
        // The ring cuts the plane (dn < 0 here, since sdL < sdH).
        const vec3 X = scale(D, -sdc / dn);
        if (inside(t, X)) {
            out.depth = w.r - sdL;
            out.hit.normal = N;
            out.hit.point = add_scaled(L, N, -w.r);
            out.hit.depth = out.depth;
            return out;
        }
        // An edge through the wheel disc: of those, the one crossing the
        // wheel plane lowest in the wheel.
        float lowest = -INFINITY;
        vec3 q_best = {0, 0, 0}, e_best = {0, 0, 0};
        for (int k = 0; k < 3; k++) {
            const vec3 A = t.p[k];
            const vec3 B = t.p[k == 2 ? 0 : k + 1];
            const float sa = dot(A, w.a), sb = dot(B, w.a);
            if ((sa < 0.0f) == (sb < 0.0f))
                continue;
            const vec3 e = sub(B, A);
            const vec3 Q = add_scaled(A, e, sa / (sa - sb));
            if (!(length_sq(Q) < w.R * w.R))
                continue;
            const float low = dot(Q, D);
            if (low > lowest) {
                lowest = low;
                q_best = Q;
                e_best = e;
            }
        }
        if (lowest > -INFINITY) {
            const float ql = length(q_best);
            const vec3 radial = ql > 1e-6f ? scale(q_best, 1.0f / ql) : D;
            // Perpendicular to the edge and to the ring's own direction at
            // that point: the line joining the edge to the ring, which for
            // a crest under the wheel points up into the wheel.
            vec3 n = cross(e_best, cross(w.a, radial));
            const float nl = length(n);
            n = (nl > 0.0f && std::isfinite(nl)) ? scale(n, 1.0f / nl) : N;
            if (dot(n, N) < 0.0f)
                n = neg(n);
            out.depth = w.r - edge_contact_margin;
            out.hit.normal = n;
            out.hit.point = add_scaled(scale(radial, w.R), n, -w.r);
            out.hit.depth = out.depth;
            return out;
        }
    } else if (sdL < 0.0f) {
        // The whole ring lies below the plane: the wheel sank through the
        // ground. Push it straight up, hard, from the triangle under it.
        if (centre_above_or_below(t)) {
            out.depth = 2.0f * w.R;
            out.hit.normal = {0.0f, 1.0f, 0.0f};
            out.hit.point = L;
            out.hit.depth = out.depth;
            return out;
        }
    } else {
        const vec3 Lp = add_scaled(L, N, -sdL);
        if (inside(t, Lp)) {
            const float depth = w.r - sdL;
            if (depth > 0.0f) {
                out.depth = depth;
                out.hit.normal = N;
                out.hit.point = Lp;
                out.hit.depth = depth;
            }
            return out;
        }
    }

    // The triangle's boundary. Every point of the triangle lies in its plane,
    // so the ring cannot come nearer to it than the plane allows.
    float bound = 0.0f;
    if (sdL >= 0.0f)
        bound = sdL;
    else if (sdH < 0.0f)
        bound = -sdH;
    out.resolved = false;
    out.depth = w.r - bound;
    return out;
}

// Depth (and hit) of the ring against the triangle's three edges. An edge
// that cannot give a depth over `beat` (the deepest contact found so far,
// or 0) may be left out: the result is then no deeper than beat either, and
// the caller keeps what it had.
float boundary_contact(const local_triangle& t, const torus_shape& w, float beat, terrain_hit* hit)
{
    float best = INFINITY;
    vec3 ground = {0, 0, 0};
    const float reach = w.R + w.r;
    // The distance an edge must come within to give more than beat, with
    // room for the search's rounding: its squared distances are sums of
    // terms up to about R^2, so near the ring they can come out short by a
    // small multiple of R^2 2^-24, a distance by R 2^-10 at most.
    const float within = w.r - beat + (1.0f + w.R) * (1.0f / 256.0f);
    for (int k = 0; k < 3; k++) {
        const vec3 A = t.p[k];
        const vec3 B = t.p[k == 2 ? 0 : k + 1];
        // Quick rejections: |p| - R and R - |p| both bound the distance from
        // p to the ring from below.
        const vec3 e = sub(B, A);
        const float ee = length_sq(e);
        const float s = ee > 0.0f ? fminf(fmaxf(-dot(A, e) / ee, 0.0f), 1.0f) : 0.0f;
        const float closest = length(add_scaled(A, e, s));
        if (closest >= reach || closest >= w.R + within)
            continue;
        const float farthest = fmaxf(length(A), length(B));
        if (farthest <= w.R - w.r || farthest <= w.R - within)
            continue;
        // Wholly to one side of the wheel plane, farther than the section.
        const float ha = dot(A, w.a), hb = dot(B, w.a);
        if ((ha >= w.r && hb >= w.r) || (ha <= -w.r && hb <= -w.r))
            continue;
        if ((ha >= within && hb >= within) || (ha <= -within && hb <= -within))
            continue;
        vec3 nearest;
        const float d = segment_ring_distance_sq(A, B, w.a, w.R, &nearest);
        if (d < best) {
            best = d;
            ground = nearest;
        }
    }
    if (!(best < w.r * w.r))
        return 0.0f;
    const float dist = sqrtf(best);
    const float depth = w.r - dist;
    if (!(depth > 0.0f))
        return 0.0f;
    const vec3 ring = ring_point_nearest(ground, w.a, w.R, any_perpendicular(w.a));
    const vec3 link = sub(ring, ground);
    const float ll = length(link);
    hit->normal = ll > 1e-6f ? scale(link, 1.0f / ll) : t.n;
    hit->point = ground;
    hit->depth = depth;
    return depth;
}

// Nearest point of the triangle to the origin (the sphere's centre).
vec3 closest_on_triangle(const local_triangle& t)
{
    const vec3 a = t.p[0], b = t.p[1], c = t.p[2];
    const vec3 ab = sub(b, a), ac = sub(c, a);
    const vec3 ap = neg(a);
    const float d1 = dot(ab, ap), d2 = dot(ac, ap);
    if (d1 <= 0.0f && d2 <= 0.0f)
        return a;
    const vec3 bp = neg(b);
    const float d3 = dot(ab, bp), d4 = dot(ac, bp);
    if (d3 >= 0.0f && d4 <= d3)
        return b;
    const float vc = d1 * d4 - d3 * d2;
    if (vc <= 0.0f && d1 >= 0.0f && d3 <= 0.0f)
        return add_scaled(a, ab, d1 / (d1 - d3));
    const vec3 cp = neg(c);
    const float d5 = dot(ab, cp), d6 = dot(ac, cp);
    if (d6 >= 0.0f && d5 <= d6)
        return c;
    const float vb = d5 * d2 - d1 * d6;
    if (vb <= 0.0f && d2 >= 0.0f && d6 <= 0.0f)
        return add_scaled(a, ac, d2 / (d2 - d6));
    const float va = d3 * d6 - d5 * d4;
    if (va <= 0.0f && (d4 - d3) >= 0.0f && (d5 - d6) >= 0.0f)
        return add_scaled(b, sub(c, b), (d4 - d3) / ((d4 - d3) + (d5 - d6)));
    const float denom = 1.0f / (va + vb + vc);
    return add(a, add(scale(ab, vb * denom), scale(ac, vc * denom)));
}

float sphere_local(const local_triangle& t, float radius, terrain_hit* hit)
{
    if (fabsf(t.sdc) >= radius)
        return 0.0f;
    const vec3 q = closest_on_triangle(t);
    const float dsq = length_sq(q);
    if (!(dsq < radius * radius))
        return 0.0f;
    const float dist = sqrtf(dsq);
    const float depth = radius - dist;
    if (!(depth > 0.0f))
        return 0.0f;
    hit->point = q;
    hit->normal = dist > 1e-6f ? scale(q, -1.0f / dist) : t.n;
    hit->depth = depth;
    return depth;
}

// A downward normal pushes a body into the ground: flatten it, or send it
// straight up when it is nearly vertical.
vec3 fix_normal(vec3 n)
{
    if (!(n.y < 0.0f))
        return n;
    if (n.x * n.x + n.z * n.z >= 1.0f / 1024.0f) {
        const vec3 h = {n.x, 0.0f, n.z};
        return scale(h, 1.0f / length(h));
    }
    return {0.0f, 1.0f, 0.0f};
}

// The cells a body of the given reach around (x, z) overlaps, and a shift
// that brings a centre far outside the terrain back near its edge. Beyond
// the edge the terrain repeats its edge samples, so it is the same along
// that axis and the shift changes nothing but the size of the numbers.
struct cell_walk {
    vec3 centre;         // pinned centre
    float shift_x, shift_z;
    int i0, i1, j0, j1;  // cells [i0, i1) x [j0, j1)
};

bool begin_walk(const heightfield* hf, vec3 centre, float reach, cell_walk* w)
{
    if (!hf || !hf->heights || hf->sample_count < 2 || !(hf->spacing > 0.0f))
        return false;
    const float s = hf->spacing;
    const float margin = reach + 2.0f * s;
    const float lo = -margin, hi = hf->extent + margin;
    const float x = fminf(fmaxf(centre.x, lo), hi);
    const float z = fminf(fmaxf(centre.z, lo), hi);
    w->shift_x = centre.x - x;
    w->shift_z = centre.z - z;
    w->centre = {x, centre.y, z};
    // A body wider than max_cells cells (only on a grid far finer than any
    // track uses) is answered from the cells around its centre; the limits
    // keep the cell numbers defined for any input.
    enum { max_cells = 64 };
    const float cell_limit = 16777216.0f;
    auto cell = [&](float v) { return (int)fminf(fmaxf(v, -cell_limit), cell_limit); };
    float fi0 = floorf((x - reach) / s), fi1 = ceilf((x + reach) / s);
    float fj0 = floorf((z - reach) / s), fj1 = ceilf((z + reach) / s);
    if (!(fi1 - fi0 <= (float)max_cells)) {
        fi0 = floorf(x / s) - (float)(max_cells / 2);
        fi1 = fi0 + (float)max_cells;
    }
    if (!(fj1 - fj0 <= (float)max_cells)) {
        fj0 = floorf(z / s) - (float)(max_cells / 2);
        fj1 = fj0 + (float)max_cells;
    }
    w->i0 = cell(fi0);
    w->i1 = cell(fi1);
    w->j0 = cell(fj0);
    w->j1 = cell(fj1);
    return true;
}

// Half the size of the box around a torus along each axis, plus slack: the
// ring reaches R sqrt(1 - a_k^2) from the centre along axis k, the tyre r
// beyond it.
vec3 torus_half_extent(const torus_shape& w, float slack)
{
    auto half = [&](float a) { return w.R * sqrtf(fmaxf(1.0f - a * a, 0.0f)) + w.r + slack; };
    return {half(w.a.x), half(w.a.y), half(w.a.z)};
}

// Narrows a walk to the cells a body reaching half_x, half_z from the
// walk's centre overlaps (never wider than it was).
void narrow_walk(const heightfield* hf, float half_x, float half_z, cell_walk* w)
{
    const float s = hf->spacing;
    const float fi0 = floorf((w->centre.x - half_x) / s), fi1 = ceilf((w->centre.x + half_x) / s);
    const float fj0 = floorf((w->centre.z - half_z) / s), fj1 = ceilf((w->centre.z + half_z) / s);
    if (!(fi1 > fi0) || !(fj1 > fj0))
        return;
    if ((float)w->i0 < fi0 && fi0 < (float)w->i1)
        w->i0 = (int)fi0;
    if ((float)w->i0 < fi1 && fi1 < (float)w->i1)
        w->i1 = (int)fi1;
    if ((float)w->j0 < fj0 && fj0 < (float)w->j1)
        w->j0 = (int)fj0;
    if ((float)w->j0 < fj1 && fj1 < (float)w->j1)
        w->j1 = (int)fj1;
}

// The two triangles of cell (i, j) relative to the walk's centre.
// A triangle lying wholly more than `below` under the centre cannot reach
// the body and is left out.
int cell_triangles(const heightfield* hf, const cell_walk& w, int i, int j, float below, local_triangle out[2])
{
    vec3 v[6];
    heightfield_cell_triangles(hf, i, j, v);
    for (vec3& p : v)
        p = sub(p, w.centre);
    int n = 0;
    for (int t = 0; t < 6; t += 3) {
        // (A vertex that is not a number fails make_triangle either way.)
        const float top = v[t].y > v[t + 1].y ? v[t].y : v[t + 1].y;
        if ((top > v[t + 2].y ? top : v[t + 2].y) < -below)
            continue;
        if (make_triangle(v[t], v[t + 1], v[t + 2], &out[n]))
            n++;
    }
    return n;
}

bool unit_axle(vec3 axle, vec3* a)
{
    // Scale first so that huge components do not overflow the length.
    const float m = fmaxf(fabsf(axle.x), fmaxf(fabsf(axle.y), fabsf(axle.z)));
    if (!(m > 0.0f) || !std::isfinite(m))
        return false;
    const vec3 s = scale(axle, 1.0f / m);
    *a = scale(s, 1.0f / length(s));
    return true;
}

bool valid_torus(vec3 centre, vec3 axle, float ring_radius, float section_radius, torus_shape* w)
{
    if (!finite(centre) || !finite(axle) || !std::isfinite(ring_radius) || !std::isfinite(section_radius))
        return false;
    if (ring_radius < 0.0f || !(section_radius > 0.0f))
        return false;
    if (!unit_axle(axle, &w->a))
        return false;
    w->R = ring_radius;
    w->r = section_radius;
    return std::isfinite(ring_radius + section_radius);
}

terrain_hit to_world(const terrain_hit& h, vec3 origin)
{
    return {add(h.point, origin), h.normal, h.depth};
}

}  // namespace

float torus_triangle_test(vec3 centre, vec3 axle, float ring_radius, float section_radius, const vec3 v[3],
                          terrain_hit* out)
{
    torus_shape w;
    if (!valid_torus(centre, axle, ring_radius, section_radius, &w))
        return 0.0f;
    local_triangle t;
    if (!make_triangle(sub(v[0], centre), sub(v[1], centre), sub(v[2], centre), &t))
        return 0.0f;
    const torus_case c = classify(t, w);
    terrain_hit hit = c.hit;
    float depth = c.depth;
    if (!c.resolved)
        depth = c.depth > 0.0f ? boundary_contact(t, w, 0.0f, &hit) : 0.0f;
    if (!(depth > 0.0f))
        return depth;
    *out = to_world(hit, centre);
    return depth;
}

float sphere_triangle_test(vec3 centre, float radius, const vec3 v[3], terrain_hit* out)
{
    if (!finite(centre) || !std::isfinite(radius) || !(radius > 0.0f))
        return 0.0f;
    local_triangle t;
    if (!make_triangle(sub(v[0], centre), sub(v[1], centre), sub(v[2], centre), &t))
        return 0.0f;
    terrain_hit hit;
    const float depth = sphere_local(t, radius, &hit);
    if (depth > 0.0f)
        *out = to_world(hit, centre);
    return depth;
}

bool torus_heightfield_query(const heightfield* hf, vec3 centre, vec3 axle, float ring_radius,
                             float section_radius, terrain_hit* out)
{
    torus_shape w;
    if (!valid_torus(centre, axle, ring_radius, section_radius, &w))
        return false;
    const float reach = w.R + w.r;
    cell_walk walk;
    if (!begin_walk(hf, centre, reach, &walk))
        return false;
    // Only the cells and triangles the torus itself can reach: its box is
    // much narrower than the square of the reach across an upright wheel,
    // and every contact lies in it (a face or edge contact where the ring or
    // the tyre around it meets the ground, the sunk wheel's in the cell
    // under the centre).
    const vec3 half = torus_half_extent(w, rejection_slack(centre));
    narrow_walk(hf, half.x, half.z, &walk);
    const float below = fminf(half.y, reach);

    // First the cases that need no search; then the triangle boundaries,
    // only where one could still be deeper than the best so far. Rows, then
    // columns, then the cell's two triangles: the first of equal depths wins.
    // The triangles left for the second pass are kept (a wheel has a few
    // dozen at most); past that many they are rebuilt from the grid.
    enum { kept_max = 48 };
    local_triangle kept[kept_max];
    float kept_bound[kept_max];
    int kept_count = 0;
    bool overflow = false;
    float best = 0.0f;
    terrain_hit best_hit = {};
    local_triangle tri[2];
    for (int j = walk.j0; j < walk.j1; j++) {
        for (int i = walk.i0; i < walk.i1; i++) {
            const int n = cell_triangles(hf, walk, i, j, below, tri);
            for (int k = 0; k < n; k++) {
                const torus_case c = classify(tri[k], w);
                if (c.resolved) {
                    if (c.depth > best) {
                        best = c.depth;
                        best_hit = c.hit;
                    }
                } else if (c.depth > best) {
                    if (kept_count < kept_max) {
                        kept[kept_count] = tri[k];
                        kept_bound[kept_count++] = c.depth;
                    } else {
                        overflow = true;
                    }
                }
            }
        }
    }
    auto boundary_if_deeper = [&](const local_triangle& t, float bound) {
        if (!(bound > best))
            return;
        terrain_hit hit;
        const float depth = boundary_contact(t, w, best, &hit);
        if (depth > best) {
            best = depth;
            best_hit = hit;
        }
    };
    if (!overflow) {
        for (int k = 0; k < kept_count; k++)
            boundary_if_deeper(kept[k], kept_bound[k]);
    } else {
        for (int j = walk.j0; j < walk.j1; j++) {
            for (int i = walk.i0; i < walk.i1; i++) {
                const int n = cell_triangles(hf, walk, i, j, below, tri);
                for (int k = 0; k < n; k++) {
                    const torus_case c = classify(tri[k], w);
                    if (!c.resolved)
                        boundary_if_deeper(tri[k], c.depth);
                }
            }
        }
    }
    if (!(best > 0.0f))
        return false;
    best_hit.normal = fix_normal(best_hit.normal);
    best_hit.point = add(best_hit.point, walk.centre);
    best_hit.point.x += walk.shift_x;
    best_hit.point.z += walk.shift_z;
    *out = best_hit;
    return true;
}

bool sphere_heightfield_query(const heightfield* hf, vec3 centre, float radius, terrain_hit* out)
{
    if (!finite(centre) || !std::isfinite(radius) || !(radius > 0.0f))
        return false;
    const float reach = radius;
    cell_walk walk;
    if (!begin_walk(hf, centre, reach, &walk))
        return false;
    float best = 0.0f;
    terrain_hit best_hit = {};
    local_triangle tri[2];
    for (int j = walk.j0; j < walk.j1; j++) {
        for (int i = walk.i0; i < walk.i1; i++) {
            const int n = cell_triangles(hf, walk, i, j, reach, tri);
            for (int k = 0; k < n; k++) {
                terrain_hit hit;
                const float depth = sphere_local(tri[k], radius, &hit);
                if (depth > best) {
                    best = depth;
                    best_hit = hit;
                }
            }
        }
    }
    if (!(best > 0.0f))
        return false;
    best_hit.normal = fix_normal(best_hit.normal);
    best_hit.point = add(best_hit.point, walk.centre);
    best_hit.point.x += walk.shift_x;
    best_hit.point.z += walk.shift_z;
    *out = best_hit;
    return true;
}

float terrain_top_in_box(const heightfield* hf, float x0, float z0, float x1, float z1)
{
    if (!hf || !hf->heights || hf->sample_count < 2 || !(hf->spacing > 0.0f))
        return INFINITY;
    enum { max_cells = 64 };
    const float s = hf->spacing;
    const float c0 = floorf(x0 / s), c1 = ceilf(x1 / s);
    const float r0 = floorf(z0 / s), r1 = ceilf(z1 / s);
    // Also false for any bound that is not finite.
    if (!(c1 - c0 <= (float)max_cells) || !(r1 - r0 <= (float)max_cells))
        return INFINITY;
    // Outside the grid the queries read the edge samples.
    const float last = (float)(hf->sample_count - 1);
    auto sample_index = [last](float v) { return (int)fminf(fmaxf(v, 0.0f), last); };
    const int i0 = sample_index(c0), i1 = sample_index(c1);
    const int j0 = sample_index(r0), j1 = sample_index(r1);
    float top = -INFINITY;
    for (int j = j0; j <= j1; j++) {
        const float* row = hf->heights + (size_t)j * (size_t)hf->sample_count;
        for (int i = i0; i <= i1; i++)
            top = row[i] > top ? row[i] : top;
    }
    return top;
}
