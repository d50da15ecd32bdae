// Curved mesh pieces: grid surfaces and what is built on them, plates,
// transforms and mirroring.
#include "qm_shapes.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <tuple>

namespace mkdata {
using namespace vecmath;

namespace {

const double pi = 3.14159265358979323846;

vec3 unit_or(vec3 a, vec3 fallback)
{
    const float l = length(a);
    return l > 1e-12f ? scale(a, 1.0f / l) : fallback;
}

// The angle of a triangle at corner a (b and c the other two): faces
// count toward a vertex normal by it, so that how a surface is cut into
// triangles does not tilt its normals.
float corner_angle(vec3 a, vec3 b, vec3 c)
{
    const vec3 u = unit_or(sub(b, a), {0, 0, 0}), v = unit_or(sub(c, a), {0, 0, 0});
    return std::acos(std::clamp(dot(u, v), -1.0f, 1.0f));
}

// Triangles whose doubled area is below this are left out: far above the
// model loader's own limit, so that printing the positions with six
// decimals cannot bring a triangle under it.
const float min_cross = 2e-4f;

int push_vertex(qm_part* part, vec3 p, vec3 n, float u, float v)
{
    qm_vertex vx;
    vx.position[0] = p.x;
    vx.position[1] = p.y;
    vx.position[2] = p.z;
    vx.normal[0] = n.x;
    vx.normal[1] = n.y;
    vx.normal[2] = n.z;
    vx.uv[0] = std::clamp(u, 0.0f, 1.0f);
    vx.uv[1] = std::clamp(v, 0.0f, 1.0f);
    part->vertices.push_back(vx);
    return (int)part->vertices.size() - 1;
}

vec3 position_of(const qm_part* part, int i)
{
    const float* p = part->vertices[i].position;
    return {p[0], p[1], p[2]};
}

// Superellipse point: squareness 0 gives the ellipse, toward 1 a rounded
// box. The exponent stays finite so that the normal stays defined.
void section_point(const qm_section& s, double angle, double* a, double* b)
{
    const double c = std::cos(angle), d = std::sin(angle);
    const double e = 2.0 / (1.0 + 3.0 * s.squareness);  // 2 .. 0.5
    *a = s.rx * (c < 0 ? -1 : 1) * std::pow(std::fabs(c), e);
    *b = s.ry * (d < 0 ? -1 : 1) * std::pow(std::fabs(d), e);
}

// A flat fan over points in order (counter-clockwise seen along normal).
void add_cap(qm_part* part, const std::vector<vec3>& ring, vec3 normal, const qm_uv_rect& uv)
{
    vec3 centre = {0, 0, 0};
    for (const vec3& p : ring)
        centre = add(centre, p);
    centre = scale(centre, 1.0f / (float)ring.size());
    const float cu = (uv.u0 + uv.u1) / 2, cv = (uv.v0 + uv.v1) / 2;
    const float ru = (uv.u1 - uv.u0) / 2, rv = (uv.v1 - uv.v0) / 2;
    const int mid = push_vertex(part, centre, normal, cu, cv);
    const int first = (int)part->vertices.size();
    const size_t n = ring.size();
    for (size_t i = 0; i < n; i++) {
        const double a = 2 * pi * (double)i / (double)n;
        push_vertex(part, ring[i], normal, cu + ru * (float)std::cos(a), cv + rv * (float)std::sin(a));
    }
    for (size_t i = 0; i < n; i++) {
        int p = first + (int)i, q = first + (int)((i + 1) % n);
        vec3 e = cross(sub(position_of(part, p), centre), sub(position_of(part, q), centre));
        if (length(e) < min_cross)
            continue;
        if (dot(e, normal) < 0)
            std::swap(p, q);
        part->triangles.insert(part->triangles.end(), {mid, p, q});
    }
}

// Rings of a loft or tube: rows of `around` points, closed.
void add_rings(qm_part* part, const std::vector<std::vector<vec3>>& rings, const qm_uv_rect& uv)
{
    const int rows = (int)rings.size(), around = (int)rings[0].size();
    qm_grid g(rows, around, true);
    for (int r = 0; r < rows; r++)
        for (int c = 0; c < around; c++)
            g.at(r, c) = rings[r][c];
    qm_add_grid(part, g, uv);
}

}  // namespace

void qm_add_grid(qm_part* part, const qm_grid& g, const qm_uv_rect& uv, bool flip)
{
    const int cols = g.wrap ? g.cols + 1 : g.cols;
    const int first = (int)part->vertices.size();
    auto point = [&](int r, int c) { return g.at(r, c % g.cols); };
    for (int r = 0; r < g.rows; r++)
        for (int c = 0; c < cols; c++) {
            const float u = uv.u0 + (uv.u1 - uv.u0) * (float)c / (float)std::max(1, cols - 1);
            const float v = uv.v0 + (uv.v1 - uv.v0) * (float)r / (float)std::max(1, g.rows - 1);
            push_vertex(part, point(r, c), {0, 0, 0}, u, v);
        }
    // Faces, and their normals summed (weighted by area) at their corners.
    std::vector<vec3> sum((size_t)g.rows * cols, vec3{0, 0, 0});
    std::vector<int> tris;
    auto index = [&](int r, int c) { return r * cols + c; };
    auto face = [&](int a, int b, int c) {
        if (flip)
            std::swap(b, c);
        const vec3 pa = position_of(part, first + a), pb = position_of(part, first + b), pc = position_of(part, first + c);
        const vec3 n = cross(sub(pb, pa), sub(pc, pa));
        if (length(n) < min_cross)
            return;
        const vec3 un = scale(n, 1.0f / length(n));
        sum[a] = add(sum[a], scale(un, corner_angle(pa, pb, pc)));
        sum[b] = add(sum[b], scale(un, corner_angle(pb, pc, pa)));
        sum[c] = add(sum[c], scale(un, corner_angle(pc, pa, pb)));
        tris.insert(tris.end(), {first + a, first + b, first + c});
    };
    for (int r = 0; r + 1 < g.rows; r++)
        for (int c = 0; c + 1 < cols; c++) {
            face(index(r, c), index(r, c + 1), index(r + 1, c + 1));
            face(index(r, c), index(r + 1, c + 1), index(r + 1, c));
        }
    // Points at the same place (the seam, a pole) share one normal.
    std::map<std::tuple<float, float, float>, vec3> shared;
    for (size_t i = 0; i < sum.size(); i++) {
        const vec3 p = position_of(part, first + (int)i);
        auto key = std::make_tuple(p.x, p.y, p.z);
        auto it = shared.find(key);
        if (it == shared.end())
            shared.emplace(key, sum[i]);
        else
            it->second = add(it->second, sum[i]);
    }
    for (size_t i = 0; i < sum.size(); i++) {
        const vec3 p = position_of(part, first + (int)i);
        const vec3 n = unit_or(shared[std::make_tuple(p.x, p.y, p.z)], {0, 1, 0});
        float* out = part->vertices[first + i].normal;
        out[0] = n.x;
        out[1] = n.y;
        out[2] = n.z;
    }
    part->triangles.insert(part->triangles.end(), tris.begin(), tris.end());
}

void qm_add_loft(qm_part* part, const std::vector<qm_section>& sections, vec3 side, vec3 up, int around,
                 const qm_uv_rect& uv, bool capped)
{
    std::vector<std::vector<vec3>> rings;
    for (const qm_section& s : sections) {
        std::vector<vec3> ring;
        for (int c = 0; c < around; c++) {
            double a, b;
            // Turning from side toward up is right-handed about side x up,
            // the direction the sections advance: faces point outward.
            section_point(s, 2 * pi * c / around, &a, &b);
            ring.push_back(add(s.centre, add(scale(side, (float)a), scale(up, (float)b))));
        }
        rings.push_back(ring);
    }
    // Sections advancing against side x up would turn the faces inward.
    const vec3 forward = cross(side, up);
    const bool backward = sections.size() > 1 && dot(sub(sections.back().centre, sections.front().centre), forward) < 0;
    if (backward)
        for (auto& ring : rings)
            std::reverse(ring.begin(), ring.end());
    add_rings(part, rings, uv);
    if (capped) {
        const vec3 dir = backward ? neg(forward) : forward;
        std::vector<vec3> start = rings.front();
        std::reverse(start.begin(), start.end());
        add_cap(part, start, neg(dir), uv);
        add_cap(part, rings.back(), dir, uv);
    }
}

void qm_add_tube(qm_part* part, const std::vector<vec3>& path, const std::vector<float>& radii, int around,
                 const qm_uv_rect& uv, bool capped)
{
    const size_t n = path.size();
    std::vector<vec3> tangent(n);
    for (size_t i = 0; i < n; i++) {
        const vec3 a = path[i == 0 ? 0 : i - 1], b = path[i + 1 < n ? i + 1 : n - 1];
        tangent[i] = unit_or(sub(b, a), {0, 0, 1});
    }
    // A start normal across the first tangent, carried along the path.
    vec3 normal = std::fabs(tangent[0].y) < 0.9f ? v3(0, 1, 0) : v3(1, 0, 0);
    normal = unit_or(sub(normal, scale(tangent[0], dot(normal, tangent[0]))), {1, 0, 0});
    std::vector<std::vector<vec3>> rings;
    for (size_t i = 0; i < n; i++) {
        if (i > 0)
            normal = unit_or(sub(normal, scale(tangent[i], dot(normal, tangent[i]))), normal);
        const vec3 binormal = cross(tangent[i], normal);
        std::vector<vec3> ring;
        for (int c = 0; c < around; c++) {
            const double a = 2 * pi * c / around;
            // normal -> binormal is right-handed about the tangent.
            const vec3 d = add(scale(normal, (float)std::cos(a)), scale(binormal, (float)std::sin(a)));
            ring.push_back(add(path[i], scale(d, radii[i])));
        }
        rings.push_back(ring);
    }
    add_rings(part, rings, uv);
    if (capped) {
        std::vector<vec3> start = rings.front();
        std::reverse(start.begin(), start.end());
        add_cap(part, start, neg(tangent.front()), uv);
        add_cap(part, rings.back(), tangent.back(), uv);
    }
}

void qm_add_lathe(qm_part* part, int axis, vec3 centre, const std::vector<float>& along,
                  const std::vector<float>& radius, int around, const qm_uv_rect& uv)
{
    const int b = (axis + 1) % 3, c = (axis + 2) % 3;
    qm_grid g((int)along.size(), around, true);
    for (int r = 0; r < g.rows; r++)
        for (int k = 0; k < around; k++) {
            const double a = 2 * pi * k / around;
            float p[3] = {0, 0, 0};
            p[axis] = along[r];
            p[b] = radius[r] * (float)std::cos(a);
            p[c] = radius[r] * (float)std::sin(a);
            g.at(r, k) = add(centre, v3(p[0], p[1], p[2]));
        }
    qm_add_grid(part, g, uv);
}

void qm_add_ellipsoid(qm_part* part, vec3 centre, vec3 radii, int rows, int around, const qm_uv_rect& uv)
{
    // Rows from the bottom pole (-y) to the top one; rings turn about +y.
    qm_grid g(rows + 1, around, true);
    for (int r = 0; r <= rows; r++) {
        const double t = pi * r / rows - pi / 2;
        for (int k = 0; k < around; k++) {
            const double a = 2 * pi * k / around;
            // Turning from +z toward +x is right-handed about +y.
            g.at(r, k) = add(centre, v3(radii.x * (float)(std::cos(t) * std::sin(a)), radii.y * (float)std::sin(t),
                                        radii.z * (float)(std::cos(t) * std::cos(a))));
        }
    }
    // Rows of the poles collapse to a point; fix them exactly.
    for (int k = 0; k < around; k++) {
        g.at(0, k) = add(centre, v3(0, -radii.y, 0));
        g.at(rows, k) = add(centre, v3(0, radii.y, 0));
    }
    qm_add_grid(part, g, uv);
}

void qm_add_plate(qm_part* part, const std::vector<vec3>& outline, vec3 normal, float thickness, vec3 u_dir,
                  vec3 v_dir, const qm_uv_rect& face, const qm_uv_rect& edge)
{
    const size_t n = outline.size();
    float u_lo = 1e30f, u_hi = -1e30f, v_lo = 1e30f, v_hi = -1e30f;
    for (const vec3& p : outline) {
        u_lo = std::min(u_lo, dot(p, u_dir));
        u_hi = std::max(u_hi, dot(p, u_dir));
        v_lo = std::min(v_lo, dot(p, v_dir));
        v_hi = std::max(v_hi, dot(p, v_dir));
    }
    // Front: a fan from the first point, turned to face `normal`.
    const int front = (int)part->vertices.size();
    for (const vec3& p : outline) {
        const float u = face.u0 + (face.u1 - face.u0) * (dot(p, u_dir) - u_lo) / std::max(u_hi - u_lo, 1e-6f);
        const float v = face.v0 + (face.v1 - face.v0) * (dot(p, v_dir) - v_lo) / std::max(v_hi - v_lo, 1e-6f);
        push_vertex(part, p, normal, u, v);
    }
    const vec3 back_offset = scale(normal, -thickness);
    const int back = (int)part->vertices.size();
    for (const vec3& p : outline)
        push_vertex(part, add(p, back_offset), neg(normal), (edge.u0 + edge.u1) / 2, (edge.v0 + edge.v1) / 2);
    const bool ccw = dot(cross(sub(outline[1], outline[0]), sub(outline[2], outline[0])), normal) > 0;
    for (size_t i = 1; i + 1 < n; i++) {
        int a = 0, b = (int)i, c = (int)i + 1;
        if (!ccw)
            std::swap(b, c);
        const vec3 e = cross(sub(outline[b], outline[a]), sub(outline[c], outline[a]));
        if (length(e) < min_cross)
            continue;
        part->triangles.insert(part->triangles.end(), {front + a, front + b, front + c});
        part->triangles.insert(part->triangles.end(), {back + a, back + c, back + b});
    }
    // Edges: one flat quad per side, facing out of the outline.
    if (thickness <= 0)
        return;
    for (size_t i = 0; i < n; i++) {
        const vec3 p = outline[i], q = outline[(i + 1) % n];
        vec3 out = cross(sub(q, p), normal);
        if (!ccw)
            out = neg(out);
        if (length(out) < 1e-5f)
            continue;
        out = unit_or(out, normal);
        const int k = (int)part->vertices.size();
        push_vertex(part, p, out, edge.u0, edge.v1);
        push_vertex(part, q, out, edge.u1, edge.v1);
        push_vertex(part, add(q, back_offset), out, edge.u1, edge.v0);
        push_vertex(part, add(p, back_offset), out, edge.u0, edge.v0);
        int t[6] = {k, k + 3, k + 2, k, k + 2, k + 1};
        const vec3 e = cross(sub(position_of(part, k + 3), position_of(part, k)), sub(position_of(part, k + 2), position_of(part, k)));
        if (length(e) < min_cross)
            continue;
        if (dot(e, out) < 0) {
            std::swap(t[1], t[2]);
            std::swap(t[4], t[5]);
        }
        part->triangles.insert(part->triangles.end(), t, t + 6);
    }
}

void qm_transform(qm_part* part, size_t first, vec3 x_to, vec3 y_to, vec3 z_to, vec3 offset)
{
    for (size_t i = first; i < part->vertices.size(); i++) {
        qm_vertex& v = part->vertices[i];
        const vec3 p = {v.position[0], v.position[1], v.position[2]};
        const vec3 n = {v.normal[0], v.normal[1], v.normal[2]};
        const vec3 q = add(offset, add(add(scale(x_to, p.x), scale(y_to, p.y)), scale(z_to, p.z)));
        const vec3 m = unit_or(add(add(scale(x_to, n.x), scale(y_to, n.y)), scale(z_to, n.z)), {0, 1, 0});
        v.position[0] = q.x;
        v.position[1] = q.y;
        v.position[2] = q.z;
        v.normal[0] = m.x;
        v.normal[1] = m.y;
        v.normal[2] = m.z;
    }
}

void qm_mirror_x(qm_part* part, size_t first, const qm_uv_rect* uv_from, const qm_uv_rect* uv_to)
{
    const size_t end = part->vertices.size();
    const int shift = (int)(end - first);
    for (size_t i = first; i < end; i++) {
        qm_vertex v = part->vertices[i];
        v.position[0] = -v.position[0];
        v.normal[0] = -v.normal[0];
        if (uv_from && uv_to) {
            const float fu = (v.uv[0] - uv_from->u0) / (uv_from->u1 - uv_from->u0);
            const float fv = (v.uv[1] - uv_from->v0) / (uv_from->v1 - uv_from->v0);
            v.uv[0] = std::clamp(uv_to->u1 - fu * (uv_to->u1 - uv_to->u0), 0.0f, 1.0f);
            v.uv[1] = std::clamp(uv_to->v0 + fv * (uv_to->v1 - uv_to->v0), 0.0f, 1.0f);
        }
        part->vertices.push_back(v);
    }
    const size_t tris = part->triangles.size();
    for (size_t t = 0; t < tris; t += 3) {
        const int* k = &part->triangles[t];
        if (k[0] < (int)first || k[1] < (int)first || k[2] < (int)first)
            continue;
        const int a = k[0] + shift, b = k[2] + shift, c = k[1] + shift;
        part->triangles.insert(part->triangles.end(), {a, b, c});
    }
}

void qm_smooth(qm_part* part, size_t first)
{
    std::map<std::tuple<float, float, float>, vec3> sums;
    auto key = [&](int i) {
        const float* p = part->vertices[i].position;
        return std::make_tuple(p[0], p[1], p[2]);
    };
    for (size_t t = 0; t < part->triangles.size(); t += 3) {
        const int* k = &part->triangles[t];
        if (k[0] < (int)first || k[1] < (int)first || k[2] < (int)first)
            continue;
        const vec3 a = position_of(part, k[0]), b = position_of(part, k[1]), c = position_of(part, k[2]);
        const vec3 n = unit_or(cross(sub(b, a), sub(c, a)), {0, 0, 0});
        sums[key(k[0])] = add(sums[key(k[0])], scale(n, corner_angle(a, b, c)));
        sums[key(k[1])] = add(sums[key(k[1])], scale(n, corner_angle(b, c, a)));
        sums[key(k[2])] = add(sums[key(k[2])], scale(n, corner_angle(c, a, b)));
    }
    for (size_t i = first; i < part->vertices.size(); i++) {
        auto it = sums.find(key((int)i));
        if (it == sums.end())
            continue;
        const vec3 n = unit_or(it->second, {0, 1, 0});
        float* out = part->vertices[i].normal;
        out[0] = n.x;
        out[1] = n.y;
        out[2] = n.z;
    }
}

void qm_add_polar_ring(qm_part* part, vec3 centre, float x0, float r0, float x1, float r1, int around,
                       const qm_uv_rect& uv, float f0, float f1)
{
    const float cu = (uv.u0 + uv.u1) / 2, cv = (uv.v0 + uv.v1) / 2;
    const float hu = (uv.u1 - uv.u0) / 2, hv = (uv.v1 - uv.v0) / 2;
    for (int side = 0; side < 2; side++) {
        // Rows from the inner to the outer edge; columns turn about +x.
        qm_grid g(2, around, true);
        for (int k = 0; k < around; k++) {
            const double a = 2 * pi * k / around;
            const float c = (float)std::cos(a), s = (float)std::sin(a);
            g.at(0, k) = add(centre, v3(x0, r0 * c, r0 * s));
            g.at(1, k) = add(centre, v3(x1, r1 * c, r1 * s));
        }
        const size_t first = part->vertices.size();
        qm_add_grid(part, g, uv, side == 1);
        // Texture coordinates from the angle and the radius.
        for (size_t i = first; i < part->vertices.size(); i++) {
            qm_vertex& v = part->vertices[i];
            const float y = v.position[1] - centre.y, z = v.position[2] - centre.z;
            const float r = std::sqrt(y * y + z * z);
            const float f = std::fabs(r1 - r0) > 1e-6f ? f0 + (f1 - f0) * (r - r0) / (r1 - r0) : f1;
            const float a = std::atan2(z, y);
            v.uv[0] = std::clamp(cu + hu * f * std::cos(a), 0.0f, 1.0f);
            v.uv[1] = std::clamp(cv + hv * f * std::sin(a), 0.0f, 1.0f);
        }
    }
}

std::vector<vec3> qm_bezier(vec3 a, vec3 b, vec3 c, int n)
{
    std::vector<vec3> out;
    for (int i = 0; i <= n; i++) {
        const float t = (float)i / (float)n, s = 1 - t;
        out.push_back(add(add(scale(a, s * s), scale(b, 2 * s * t)), scale(c, t * t)));
    }
    return out;
}

}  // namespace mkdata
