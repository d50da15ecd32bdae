// The model writer and the mesh pieces the generated objects are built of.
#include "qm_writer.h"

#include <cmath>
#include <cstdio>

namespace mkdata {

namespace {

const double pi = 3.14159265358979323846;

void set3(float out[3], double x, double y, double z)
{
    out[0] = (float)x;
    out[1] = (float)y;
    out[2] = (float)z;
}

int add_vertex(qm_part* part, const float p[3], const float n[3], float u, float v)
{
    qm_vertex vx;
    for (int k = 0; k < 3; k++) {
        vx.position[k] = p[k];
        vx.normal[k] = n[k];
    }
    vx.uv[0] = u;
    vx.uv[1] = v;
    part->vertices.push_back(vx);
    return (int)part->vertices.size() - 1;
}

void add_triangle(qm_part* part, int a, int b, int c)
{
    part->triangles.push_back(a);
    part->triangles.push_back(b);
    part->triangles.push_back(c);
}

void face_normal(const float a[3], const float b[3], const float c[3], float n[3])
{
    double e1[3], e2[3];
    for (int k = 0; k < 3; k++) {
        e1[k] = b[k] - a[k];
        e2[k] = c[k] - a[k];
    }
    double x = e1[1] * e2[2] - e1[2] * e2[1];
    double y = e1[2] * e2[0] - e1[0] * e2[2];
    double z = e1[0] * e2[1] - e1[1] * e2[0];
    double len = std::sqrt(x * x + y * y + z * z);
    if (len == 0)
        len = 1;
    set3(n, x / len, y / len, z / len);
}

bool finite_all(const float* v, int n)
{
    for (int k = 0; k < n; k++)
        if (!std::isfinite(v[k]))
            return false;
    return true;
}

void append_number(std::string* text, double v)
{
    char buffer[64];
    // Written as the project's text files write numbers; "-0.000000"
    // is folded into "0.000000" so that no value depends on the sign of a
    // rounding residue.
    snprintf(buffer, sizeof buffer, "%f", v);
    if (std::string(buffer) == "-0.000000")
        snprintf(buffer, sizeof buffer, "0.000000");
    *text += buffer;
}

}  // namespace

void qm_add_quad(qm_part* part, const float a[3], const float b[3], const float c[3], const float d[3],
                 const qm_uv_rect& rect, bool two_sided)
{
    float n[3];
    face_normal(a, b, c, n);
    int ia = add_vertex(part, a, n, rect.u0, rect.v0);
    int ib = add_vertex(part, b, n, rect.u1, rect.v0);
    int ic = add_vertex(part, c, n, rect.u1, rect.v1);
    int id = add_vertex(part, d, n, rect.u0, rect.v1);
    add_triangle(part, ia, ib, ic);
    add_triangle(part, ia, ic, id);
    if (two_sided) {
        float m[3] = {-n[0], -n[1], -n[2]};
        int ja = add_vertex(part, a, m, rect.u1, rect.v0);
        int jb = add_vertex(part, b, m, rect.u0, rect.v0);
        int jc = add_vertex(part, c, m, rect.u0, rect.v1);
        int jd = add_vertex(part, d, m, rect.u1, rect.v1);
        add_triangle(part, ja, jc, jb);
        add_triangle(part, ja, jd, jc);
    }
}

void qm_add_box(qm_part* part, const float lo[3], const float hi[3], const qm_uv_rect& side, const qm_uv_rect& top)
{
    const float x0 = lo[0], y0 = lo[1], z0 = lo[2], x1 = hi[0], y1 = hi[1], z1 = hi[2];
    // Each face counter-clockwise seen from outside, starting at its lower
    // left as a viewer in front of it sees it.
    const float faces[6][4][3] = {
        {{x1, y0, z0}, {x0, y0, z0}, {x0, y1, z0}, {x1, y1, z0}},  // front (-z)
        {{x1, y0, z1}, {x1, y0, z0}, {x1, y1, z0}, {x1, y1, z1}},  // right (+x)
        {{x0, y0, z1}, {x1, y0, z1}, {x1, y1, z1}, {x0, y1, z1}},  // back (+z)
        {{x0, y0, z0}, {x0, y0, z1}, {x0, y1, z1}, {x0, y1, z0}},  // left (-x)
        {{x0, y1, z1}, {x1, y1, z1}, {x1, y1, z0}, {x0, y1, z0}},  // top (+y)
        {{x0, y0, z0}, {x1, y0, z0}, {x1, y0, z1}, {x0, y0, z1}},  // bottom (-y)
    };
    for (int f = 0; f < 6; f++)
        qm_add_quad(part, faces[f][0], faces[f][1], faces[f][2], faces[f][3], f < 4 ? side : top, false);
}

void qm_add_cylinder(qm_part* part, int axis, const float centre[3], float radius, float length, int segments,
                     const qm_uv_rect& mantle, const qm_uv_rect& cap)
{
    // Local frame: a along the axis, b and c across it (right-handed).
    const int a = axis, b = (axis + 1) % 3, c = (axis + 2) % 3;
    auto point = [&](double along, double angle, double r, float out[3]) {
        out[a] = (float)(centre[a] + along);
        out[b] = (float)(centre[b] + r * std::cos(angle));
        out[c] = (float)(centre[c] + r * std::sin(angle));
    };
    const double half = length / 2.0;
    const int first = (int)part->vertices.size();
    for (int i = 0; i <= segments; i++) {
        const double angle = 2 * pi * i / segments;
        float n[3] = {0, 0, 0};
        n[b] = (float)std::cos(angle);
        n[c] = (float)std::sin(angle);
        const float u = mantle.u0 + (mantle.u1 - mantle.u0) * (float)i / (float)segments;
        float p0[3], p1[3];
        point(-half, angle, radius, p0);
        point(half, angle, radius, p1);
        add_vertex(part, p0, n, u, mantle.v0);
        add_vertex(part, p1, n, u, mantle.v1);
    }
    for (int i = 0; i < segments; i++) {
        const int k = first + 2 * i;
        // Seen from outside, going around with the angle, the along-axis
        // edge comes first: (k, k+2, k+3), (k, k+3, k+1).
        add_triangle(part, k, k + 2, k + 3);
        add_triangle(part, k, k + 3, k + 1);
    }
    for (int end = 0; end < 2; end++) {
        const double along = end == 0 ? -half : half;
        float n[3] = {0, 0, 0};
        n[a] = end == 0 ? -1.0f : 1.0f;
        float centre_point[3];
        point(along, 0, 0, centre_point);
        const float cu = (cap.u0 + cap.u1) / 2, cv = (cap.v0 + cap.v1) / 2;
        const float ru = (cap.u1 - cap.u0) / 2, rv = (cap.v1 - cap.v0) / 2;
        const int mid = add_vertex(part, centre_point, n, cu, cv);
        const int ring = (int)part->vertices.size();
        for (int i = 0; i < segments; i++) {
            const double angle = 2 * pi * i / segments;
            float p[3];
            point(along, angle, radius, p);
            add_vertex(part, p, n, cu + ru * (float)std::cos(angle), cv + rv * (float)std::sin(angle));
        }
        for (int i = 0; i < segments; i++) {
            const int p = ring + i, q = ring + (i + 1) % segments;
            if (end == 0)
                add_triangle(part, mid, q, p);
            else
                add_triangle(part, mid, p, q);
        }
    }
}

void qm_rotate_x(qm_part* part, size_t first, double angle)
{
    const double c = std::cos(angle), s = std::sin(angle);
    for (size_t i = first; i < part->vertices.size(); i++) {
        qm_vertex& v = part->vertices[i];
        for (float* w : {v.position, v.normal}) {
            const double y = w[1], z = w[2];
            w[1] = (float)(y * c - z * s);
            w[2] = (float)(y * s + z * c);
        }
    }
}

bool qm_check(const qm_model& model, std::string* why)
{
    char text[160];
    if (model.parts.empty()) {
        *why = "a model without parts";
        return false;
    }
    if (model.bone_count < 0 || (model.bone_count > 0 && model.skeleton.find_first_of(" \t\r\n") != std::string::npos) ||
        (model.bone_count > 0 && model.skeleton.empty())) {
        *why = "bad bone count or skeleton name";
        return false;
    }
    for (size_t p = 0; p < model.parts.size(); p++) {
        const qm_part& part = model.parts[p];
        const size_t vn = part.vertices.size();
        if (vn == 0 || part.triangles.empty() || part.triangles.size() % 3 != 0) {
            snprintf(text, sizeof text, "part %zu has no vertices or no whole triangles", p);
            *why = text;
            return false;
        }
        float material[5] = {part.shininess, part.reflectivity, part.specular[0], part.specular[1], part.specular[2]};
        if (!finite_all(material, 5)) {
            snprintf(text, sizeof text, "part %zu has a material value that is not a number", p);
            *why = text;
            return false;
        }
        if (model.bone_count > 0 && part.weights.size() != vn * (size_t)model.bone_count) {
            snprintf(text, sizeof text, "part %zu lacks bone weights", p);
            *why = text;
            return false;
        }
        for (size_t i = 0; i < vn; i++) {
            const qm_vertex& v = part.vertices[i];
            const double nl = std::sqrt((double)v.normal[0] * v.normal[0] + (double)v.normal[1] * v.normal[1] +
                                        (double)v.normal[2] * v.normal[2]);
            bool ok = finite_all(v.position, 3) && finite_all(v.normal, 3) && finite_all(v.uv, 2) &&
                      std::fabs(nl - 1) < 1e-3 && v.uv[0] >= -0.001f && v.uv[0] <= 1.001f && v.uv[1] >= -0.001f &&
                      v.uv[1] <= 1.001f;
            if (ok && model.bone_count > 0) {
                double sum = 0;
                for (int b = 0; b < model.bone_count; b++) {
                    const float w = part.weights[i * model.bone_count + b];
                    ok = ok && std::isfinite(w) && w >= 0;
                    sum += w;
                }
                ok = ok && sum > 0;
            }
            if (!ok) {
                snprintf(text, sizeof text, "part %zu vertex %zu: bad position, normal, texture coordinate or weight",
                         p, i);
                *why = text;
                return false;
            }
        }
        for (size_t t = 0; t < part.triangles.size(); t += 3) {
            const int* tri = &part.triangles[t];
            for (int k = 0; k < 3; k++)
                if (tri[k] < 0 || (size_t)tri[k] >= vn) {
                    snprintf(text, sizeof text, "part %zu triangle %zu: index out of range", p, t / 3);
                    *why = text;
                    return false;
                }
            const float* a = part.vertices[tri[0]].position;
            const float* b = part.vertices[tri[1]].position;
            const float* c = part.vertices[tri[2]].position;
            double e1[3], e2[3];
            for (int k = 0; k < 3; k++) {
                e1[k] = (double)b[k] - a[k];
                e2[k] = (double)c[k] - a[k];
            }
            const double x = e1[1] * e2[2] - e1[2] * e2[1], y = e1[2] * e2[0] - e1[0] * e2[2],
                         z = e1[0] * e2[1] - e1[1] * e2[0];
            // Far above the loader's limit, so that no triangle is
            // dropped once the positions are printed with six decimals.
            if (x * x + y * y + z * z < 1e-8) {
                snprintf(text, sizeof text, "part %zu triangle %zu is degenerate", p, t / 3);
                *why = text;
                return false;
            }
            // Lit from the wrong side otherwise: the normals of a smooth
            // surface may lean away from its faces, but not by 60 degrees.
            const double len = std::sqrt(x * x + y * y + z * z);
            for (int k = 0; k < 3; k++) {
                const float* n = part.vertices[tri[k]].normal;
                if ((x * n[0] + y * n[1] + z * n[2]) / len <= 0.5) {
                    snprintf(text, sizeof text, "part %zu triangle %zu (at %.3f %.3f %.3f) faces away from its normals",
                             p, t / 3, (double)a[0], (double)a[1], (double)a[2]);
                    *why = text;
                    return false;
                }
            }
        }
    }
    return true;
}

std::string qm_text(const qm_model& model)
{
    std::string text;
    if (model.bone_count > 0)
        text = "QM2 " + std::to_string(model.bone_count) + " " + model.skeleton + "\n";
    else
        text = "QM1\n";
    for (const qm_part& part : model.parts) {
        const float material[5] = {part.shininess, part.reflectivity, part.specular[0], part.specular[1],
                                   part.specular[2]};
        for (float m : material) {
            append_number(&text, m);
            text += ' ';
        }
        text += std::to_string(part.vertices.size()) + " " + std::to_string(part.triangles.size() / 3) + "\n";
        for (size_t i = 0; i < part.vertices.size(); i++) {
            const qm_vertex& v = part.vertices[i];
            const float values[8] = {v.position[0], v.position[1], v.position[2], v.normal[0],
                                     v.normal[1],   v.normal[2],   v.uv[0],       v.uv[1]};
            for (int k = 0; k < 8; k++) {
                if (k)
                    text += ' ';
                append_number(&text, values[k]);
            }
            for (int b = 0; b < model.bone_count; b++) {
                text += ' ';
                append_number(&text, part.weights[i * model.bone_count + b]);
            }
            text += '\n';
        }
        for (size_t t = 0; t < part.triangles.size(); t += 3)
            text += std::to_string(part.triangles[t]) + " " + std::to_string(part.triangles[t + 1]) + " " +
                    std::to_string(part.triangles[t + 2]) + "\n";
    }
    return text;
}

size_t qm_vertex_count(const qm_model& model)
{
    size_t n = 0;
    for (const qm_part& p : model.parts)
        n += p.vertices.size();
    return n;
}

size_t qm_triangle_count(const qm_model& model)
{
    size_t n = 0;
    for (const qm_part& p : model.parts)
        n += p.triangles.size() / 3;
    return n;
}

}  // namespace mkdata
