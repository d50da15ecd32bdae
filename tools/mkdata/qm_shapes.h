// Curved mesh pieces for the bike and rider models, on top of the boxes and
// cylinders of qm_writer.h: grid surfaces (lofts, tubes along paths,
// surfaces of revolution, ellipsoids), flat plates cut from a polygon, and
// the transforms that place a piece or mirror it to the other side.
//
// Everything is in feet, in the frame the caller builds in. Smooth pieces
// share one normal between the points that meet (ring seams, poles), so
// they show no crease; plates keep sharp edges.
#pragma once

#include <vector>

#include "core/vec3.h"
#include "qm_writer.h"

namespace mkdata {

// A surface given by rows of points: row r runs along the shape, column c
// across it. With wrap the last column joins the first (a closed ring; the
// seam gets its own texture column). Faces point along dP/dc x dP/dr: for
// a ring whose columns turn right-handed about the direction the rows
// advance, that is outward. Triangles of (nearly) no area, as at a pole,
// are left out.
struct qm_grid {
    int rows = 0, cols = 0;
    bool wrap = false;
    std::vector<vec3> points;  // rows x cols, row by row
    qm_grid(int r, int c, bool w) : rows(r), cols(c), wrap(w), points((size_t)r * c) {}
    vec3& at(int r, int c) { return points[(size_t)r * cols + c]; }
    const vec3& at(int r, int c) const { return points[(size_t)r * cols + c]; }
};

// Adds the grid; u runs across the columns and v along the rows of `uv`.
// flip turns every face the other way.
void qm_add_grid(qm_part* part, const qm_grid& grid, const qm_uv_rect& uv, bool flip = false);

// A cross-section of a loft: an ellipse with half-widths rx (along `side`)
// and ry (along `up`) about `centre`, rounded toward a rectangle by
// `squareness` (0 an ellipse, toward 1 a box with round corners).
struct qm_section {
    vec3 centre;
    float rx, ry;
    float squareness = 0;
};

// A closed loft through the sections, whose rings lie in the planes spanned
// by `side` and `up` (unit vectors; the sections advance roughly along
// side x up). `around` points per ring. The ends are left open unless
// capped (a flat cap of its own vertices at each end).
void qm_add_loft(qm_part* part, const std::vector<qm_section>& sections, vec3 side, vec3 up, int around,
                 const qm_uv_rect& uv, bool capped);

// A round tube along a path with a radius at every point; rings turn with
// the path (parallel transport), ends capped when asked.
void qm_add_tube(qm_part* part, const std::vector<vec3>& path, const std::vector<float>& radii, int around,
                 const qm_uv_rect& uv, bool capped);

// A surface of revolution about the axis through `centre` along `axis`
// (0 x, 1 y, 2 z): profile points are (distance along the axis, radius),
// in order; faces point away from the axis when the profile advances
// along +axis.
void qm_add_lathe(qm_part* part, int axis, vec3 centre, const std::vector<float>& along,
                  const std::vector<float>& radius, int around, const qm_uv_rect& uv);

// An ellipsoid of the given half-axes.
void qm_add_ellipsoid(qm_part* part, vec3 centre, vec3 radii, int rows, int around, const qm_uv_rect& uv);

// A flat plate: the convex polygon `outline` (points in the plane whose
// front faces along `normal`), `thickness` deep behind it. The front takes
// `face`, mapped flat: u along u_dir, v along v_dir over the outline's
// extent; the back and the edges take `edge`.
void qm_add_plate(qm_part* part, const std::vector<vec3>& outline, vec3 normal, float thickness, vec3 u_dir,
                  vec3 v_dir, const qm_uv_rect& face, const qm_uv_rect& edge);

// Turns the vertices from `first` on by the rotation whose columns are the
// images of x, y and z, then moves them by `offset`.
void qm_transform(qm_part* part, size_t first, vec3 x_to, vec3 y_to, vec3 z_to, vec3 offset);

// Appends a copy of the vertices from `first` on mirrored to the other side
// (x negated, faces turned so they still point outward). With `uv_to`, the
// copy's texture coordinates are taken from the same place of that
// rectangle read right to left, so that lettering drawn there reads left
// to right on the other side too.
void qm_mirror_x(qm_part* part, size_t first, const qm_uv_rect* uv_from = nullptr, const qm_uv_rect* uv_to = nullptr);

// Recomputes the normals of the vertices from `first` on from the faces
// around them (weighted by area), points at the same place sharing one:
// pieces built apart (the sectors of a tyre) then join without a crease.
void qm_smooth(qm_part* part, size_t first);

// A ring about the x axis through `centre`, between radii r0 and r1 at
// offsets x0 and x1 along the axis (a flat disc when x0 == x1, a cone
// otherwise), seen from both sides. Its texture is a disc image inscribed
// in `uv`: the ring covers the image between the fractions f0 and f1 of
// its radius.
void qm_add_polar_ring(qm_part* part, vec3 centre, float x0, float r0, float x1, float r1, int around,
                       const qm_uv_rect& uv, float f0, float f1);

// Points on a quadratic Bezier curve (n + 1 points from a to c).
std::vector<vec3> qm_bezier(vec3 a, vec3 b, vec3 c, int n);

}  // namespace mkdata
