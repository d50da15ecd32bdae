// Height field set-up, release and the per-tick queries.
#include "track/heightfield.h"

#include <cmath>
#include <cstring>

#include "files/memory.h"
#include "track/heightfield_internal.h"
#include "track/objects.h"
#include "track/surface.h"

heightfield_hooks g_heightfield_hooks;

using namespace vecmath;

namespace {

// The triangle under a point: corner, x-neighbour and z-neighbour, and the
// point's weights along the two legs.
struct triangle_pick {
    int c0, r0;  // corner
    int c1, r1;  // x-neighbour
    int c2, r2;  // z-neighbour
    float u, v;
};

// v held to [lo, hi]; NaN gives lo. Plain comparisons: fminf and fmaxf are
// library calls unless NaN handling is given up.
inline float pin(float v, float lo, float hi)
{
    return v >= lo ? (v <= hi ? v : hi) : lo;
}

inline triangle_pick pick_triangle(const heightfield* hf, float x, float z)
{
    float fx = x * hf->inv_spacing;
    float fz = z * hf->inv_spacing;
    // Far outside the grid every sample of a cell clamps to the same edge
    // column or row, so pinning the scaled position just past the edge
    // changes no result; it keeps the conversion to int defined for huge
    // and non-finite positions (NaN goes to the lower bound).
    const float lo = -2.0f;
    const float hi = (float)(hf->sample_count + 1);
    fx = pin(fx, lo, hi);
    fz = pin(fz, lo, hi);
    const float fi = floorf(fx);
    const float fj = floorf(fz);
    const int i = (int)fi;
    const int j = (int)fj;
    float u = fx - fi;
    float v = fz - fj;

    int a, b;
    if ((i ^ j) & 1) {
        a = i;
        b = i + 1;
    } else {
        u = 1.0f - u;
        a = i + 1;
        b = i;
    }
    triangle_pick t;
    if (u + v <= 1.0f) {
        t.c0 = a; t.r0 = j;
        t.c1 = b; t.r1 = j;
        t.c2 = a; t.r2 = j + 1;
    } else {
        u = 1.0f - u;
        v = 1.0f - v;
        t.c0 = b; t.r0 = j + 1;
        t.c1 = a; t.r1 = j + 1;
        t.c2 = b; t.r2 = j;
    }
    t.u = u;
    t.v = v;
    return t;
}

inline float clamped(const float* samples, int count, int col, int row)
{
    const int last = count - 1;
    col = col < 0 ? 0 : (col > last ? last : col);
    row = row < 0 ? 0 : (row > last ? last : row);
    return samples[col + row * count];
}

inline float height_over(const heightfield* hf, const float* samples, float x, float z)
{
    const triangle_pick t = pick_triangle(hf, x, z);
    const int n = hf->sample_count;
    const float h0 = clamped(samples, n, t.c0, t.r0);
    const float h1 = clamped(samples, n, t.c1, t.r1);
    const float h2 = clamped(samples, n, t.c2, t.r2);
    return h0 + (h1 - h0) * t.u + (h2 - h0) * t.v;
}

inline vec3 normalised(vec3 a)
{
    const float len = sqrtf(a.x * a.x + a.y * a.y + a.z * a.z);
    if (!(len > 0.0f))
        return {0.0f, 1.0f, 0.0f};
    const float k = 1.0f / len;
    return {a.x * k, a.y * k, a.z * k};
}

inline vec3 grid_point(const heightfield* hf, int col, int row)
{
    return {(float)col * hf->spacing, heightfield_sample(hf, col, row), (float)row * hf->spacing};
}

}  // namespace

// ---- lifetime ---------------------------------------------------------------

size_t heightfield_dirty_bytes(const heightfield* hf)
{
    const size_t n = (size_t)hf->sample_count * (size_t)hf->sample_count;
    return (n + 7) / 8;
}

bool heightfield_valid_grid(int grid_log2, float spacing, int min_log2)
{
    return grid_log2 >= min_log2 && grid_log2 <= HEIGHTFIELD_MAX_LOG2 && std::isfinite(spacing) &&
           spacing > 0.0f && std::isfinite(spacing * (float)(2 << grid_log2));
}

void heightfield_init_grid(heightfield* hf, int grid_log2, float spacing)
{
    hf->grid_log2 = grid_log2;
    hf->sample_count = (2 << grid_log2) + 1;
    hf->spacing = spacing;
    hf->tile_size = 2.0f * spacing;
    hf->extent = spacing * (float)(hf->sample_count - 1);
    hf->inv_spacing = 1.0f / spacing;
    hf->cell_scale = 0.5f / spacing;
    hf->changed_marker = 0;
    hf->frozen = 0;
    hf->modify_count = 0;

    const size_t n = (size_t)hf->sample_count * (size_t)hf->sample_count;
    hf->heights = (float*)mem_calloc_or_die(n, sizeof(float));
    hf->loaded_heights = (float*)mem_calloc_or_die(n, sizeof(float));
    hf->shading_map = (uint8_t*)mem_calloc_or_die(n, 3);
    hf->shadow_map = (uint8_t*)mem_calloc_or_die(n, 1);
    hf->shading_dirty = (uint8_t*)mem_calloc_or_die(heightfield_dirty_bytes(hf), 1);
}

bool heightfield_create(heightfield* hf, int grid_log2, float spacing, const float* heights)
{
    heightfield_free(hf);
    if (!heightfield_valid_grid(grid_log2, spacing, 1))
        return false;
    heightfield_init_grid(hf, grid_log2, spacing);
    const size_t n = (size_t)hf->sample_count * (size_t)hf->sample_count;
    if (heights) {
        memcpy(hf->heights, heights, n * sizeof(float));
        float lo = heights[0], hi = heights[0];
        for (size_t k = 1; k < n; k++) {
            lo = fminf(lo, heights[k]);
            hi = fmaxf(hi, heights[k]);
        }
        hf->height_min = lo;
        hf->height_max = hi;
    }
    memcpy(hf->loaded_heights, hf->heights, n * sizeof(float));
    return true;
}

void heightfield_free(heightfield* hf)
{
    if (hf->render && g_heightfield_hooks.free_render)
        g_heightfield_hooks.free_render(g_heightfield_hooks.context, hf);
    // The decals painted on the ground go with it.
    if (hf->decals)
        decals_free(hf);
    surface_table_free(hf);
    mem_free(hf->heights);
    mem_free(hf->loaded_heights);
    mem_free(hf->shading_map);
    mem_free(hf->shadow_map);
    mem_free(hf->terrain_normal_map);
    mem_free(hf->shading_dirty);
    mem_free(hf->normal_dirty);
    *hf = heightfield{};
}

// ---- queries ------------------------------------------------------------------

float heightfield_height_at(const heightfield* hf, float x, float z)
{
    return height_over(hf, hf->heights, x, z);
}

float heightfield_loaded_height_at(const heightfield* hf, float x, float z)
{
    return height_over(hf, hf->loaded_heights, x, z);
}

float heightfield_height_over(const heightfield* hf, const float* samples, float x, float z)
{
    return height_over(hf, samples, x, z);
}

vec3 heightfield_face_normal_at(const heightfield* hf, float x, float z)
{
    const triangle_pick t = pick_triangle(hf, x, z);
    const vec3 p0 = grid_point(hf, t.c0, t.r0);
    const vec3 p1 = grid_point(hf, t.c1, t.r1);
    const vec3 p2 = grid_point(hf, t.c2, t.r2);
    vec3 n = cross(sub(p1, p0), sub(p2, p0));
    if (n.y < 0.0f)
        n = {-n.x, -n.y, -n.z};
    return n;
}

vec3 heightfield_vertex_normal(const heightfield* hf, int col, int row)
{
    static const int ring[8][2] = {{-1, -1}, {0, -1}, {1, -1}, {1, 0},
                                   {1, 1},   {0, 1},  {-1, 1}, {-1, 0}};
    const vec3 p0 = grid_point(hf, col, row);
    vec3 around[8];
    for (int k = 0; k < 8; k++)
        around[k] = sub(grid_point(hf, col + ring[k][0], row + ring[k][1]), p0);
    vec3 sum = {0.0f, 0.0f, 0.0f};
    for (int k = 0; k < 8; k++) {
        const vec3 a = around[k];
        const vec3 b = around[(k + 1) & 7];
        const vec3 face = normalised({a.z * b.y - a.y * b.z, a.x * b.z - a.z * b.x, a.y * b.x - a.x * b.y});
        sum.x += face.x;
        sum.y += face.y;
        sum.z += face.z;
    }
    return normalised(sum);
}

void heightfield_cell_triangles(const heightfield* hf, int i, int j, vec3 out[6])
{
    const vec3 p00 = grid_point(hf, i, j);
    const vec3 p10 = grid_point(hf, i + 1, j);
    const vec3 p01 = grid_point(hf, i, j + 1);
    const vec3 p11 = grid_point(hf, i + 1, j + 1);
    // Seen from above with x right and z down the page, going x then z
    // turns the normal downward, so each triangle lists its z-side first.
    if (((i ^ j) & 1) == 0) {
        out[0] = p00; out[1] = p11; out[2] = p10;
        out[3] = p00; out[4] = p01; out[5] = p11;
    } else {
        out[0] = p00; out[1] = p01; out[2] = p10;
        out[3] = p10; out[4] = p01; out[5] = p11;
    }
}

// ---- writing ------------------------------------------------------------------

void heightfield_set_height(heightfield* hf, int col, int row, float h)
{
    const int n = hf->sample_count;
    if (col < 0 || row < 0 || col >= n || row >= n || hf->frozen)
        return;
    hf->changed_marker = 7;
    if (h > hf->height_max)
        hf->height_max = h;
    if (h < hf->height_min)
        hf->height_min = h;
    hf->heights[col + row * n] = h;

    const int c0 = col > 0 ? col - 1 : 0, c1 = col + 1 < n ? col + 1 : n - 1;
    const int r0 = row > 0 ? row - 1 : 0, r1 = row + 1 < n ? row + 1 : n - 1;
    for (int r = r0; r <= r1; r++) {
        for (int c = c0; c <= c1; c++) {
            const int k = c + r * n;
            const uint8_t bit = (uint8_t)(1u << (k & 7));
            if (hf->shading_dirty)
                hf->shading_dirty[k >> 3] |= bit;
            if (hf->normal_dirty)
                hf->normal_dirty[k >> 3] |= bit;
        }
    }
}
