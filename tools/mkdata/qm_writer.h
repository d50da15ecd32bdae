// Text models (".qm") for the generated data: a small mesh builder for the
// boxes, cylinders and plates the track objects are made of, and the writer
// of the model file the renderer loads.
//
// A model is a list of parts; each part has its material (shininess,
// reflectivity, specular colour), its vertices (position, normal, texture
// coordinate and, for a skinned model, one weight per bone) and its
// triangles. Texture coordinates are written as the file stores them: v
// runs up the picture (v = 1 is its top row). Positions are in feet in the
// model's own frame: y up and, for anything placed with a facing, the front
// toward -z.
#pragma once

#include <string>
#include <vector>

namespace mkdata {

struct qm_vertex {
    float position[3];
    float normal[3];
    float uv[2];
};

struct qm_part {
    // A negative shininess marks an environment-mapped (-1) or self-lit
    // (-2) part; reflectivity only counts for the environment-mapped ones.
    float shininess = 24;
    float reflectivity = 1;
    float specular[3] = {0.2f, 0.2f, 0.2f};
    std::vector<qm_vertex> vertices;
    std::vector<int> triangles;  // three vertex indices each, counter-clockwise seen from outside
    // Skinned models only: bone_count weights per vertex, vertex by vertex.
    std::vector<float> weights;
};

struct qm_model {
    int bone_count = 0;          // 0: a rigid model ("QM1")
    std::string skeleton = "skeleton";  // name written after the bone count ("QM2")
    std::vector<qm_part> parts;
};

// A rectangle of the texture: u0, v0 (lower left) to u1, v1 (upper right).
struct qm_uv_rect {
    float u0 = 0, v0 = 0, u1 = 1, v1 = 1;
};

// An axis-aligned box from lo to hi, each face a quad with its own normal.
// The four side faces (facing -z, +x, +z, -x) take `side`, stretched along
// the face's width; the top and bottom take `top`.
void qm_add_box(qm_part* part, const float lo[3], const float hi[3], const qm_uv_rect& side, const qm_uv_rect& top);

// A cylinder along axis (0 = x, 1 = y, 2 = z) centred on `centre`, of the
// given radius and length, with `segments` sides (smooth normals) and flat
// caps. The mantle takes `mantle` (u around, v along the axis), the caps
// `cap` (the disc inscribed in it).
void qm_add_cylinder(qm_part* part, int axis, const float centre[3], float radius, float length, int segments,
                     const qm_uv_rect& mantle, const qm_uv_rect& cap);

// A flat quad with corners a, b, c, d counter-clockwise seen from the side
// it faces, textured with rect (a at the lower left, c at the upper right).
// With two_sided a back face is added.
void qm_add_quad(qm_part* part, const float a[3], const float b[3], const float c[3], const float d[3],
                 const qm_uv_rect& rect, bool two_sided);

// Turns every vertex of part added from index `first` on about the x axis
// through the origin by `angle` radians (right-handed: +y toward +z).
void qm_rotate_x(qm_part* part, size_t first, double angle);

// Checks what the loader and the renderer rely on: at least one part, each
// with vertices and triangles, every number finite, every index in range,
// no triangle of (nearly) zero area, unit normals on the side each
// triangle faces (within 60 degrees of it), texture coordinates
// within the picture (a little margin allowed), weights per vertex for a
// skinned model. False with the reason in *why.
bool qm_check(const qm_model& model, std::string* why);

// The model file text ("QM1" or "QM2" header, then every part). The model
// must pass qm_check.
std::string qm_text(const qm_model& model);

// Counts over all parts.
size_t qm_vertex_count(const qm_model& model);
size_t qm_triangle_count(const qm_model& model);

}  // namespace mkdata
