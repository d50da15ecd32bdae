// The terrain tools: the brushes along a stroke, snap to a coarser grid,
// and the gradients with their height profiles.
#include <algorithm>
#include <cmath>

#include "editor/editor.h"
#include "track/heightfield.h"

namespace {

int clampi(int v, int lo, int hi)
{
    return v < lo ? lo : (v > hi ? hi : v);
}

float working_at(const editor_state* e, int col, int row)
{
    col = clampi(col, 0, e->n - 1);
    row = clampi(row, 0, e->n - 1);
    return e->working_heights[(size_t)col + (size_t)row * (size_t)e->n];
}

float working_height_at(const editor_state* e, float x, float z)
{
    return heightfield_height_over(e->hf, e->working_heights.data(), x, z);
}

gradient* current(editor_state* e)
{
    if (e->current_gradient < 0 || e->current_gradient >= (int)e->gradients.size())
        return nullptr;
    return &e->gradients[(size_t)e->current_gradient];
}

// Slope of the stretch from point i to i + 1; a stretch of no length has
// none.
float segment_slope(const gradient& g, int i)
{
    const float dd = g.points[(size_t)i + 1].distance - g.points[(size_t)i].distance;
    if (!(dd > 0))
        return 0;
    return (g.points[(size_t)i + 1].height - g.points[(size_t)i].height) / dd;
}

bool is_curve(const gradient& g, int i)
{
    return i >= 0 && i < (int)g.segment_types.size() && g.segment_types[(size_t)i] == 1;
}

// (dx, dz) / L of the axis, or (1, 0) for an axis of no length.
void axis_unit(const gradient& g, float* ux, float* uz)
{
    const float dx = g.x1 - g.x0, dz = g.z1 - g.z0;
    const float L = sqrtf(dx * dx + dz * dz);
    if (!(L > 0)) {
        *ux = 1;
        *uz = 0;
        return;
    }
    *ux = dx / L;
    *uz = dz / L;
}

// Squared distance from q to the segment a-b.
float segment_distance2(float qx, float qz, float ax, float az, float bx, float bz)
{
    const float dx = bx - ax, dz = bz - az;
    const float len2 = dx * dx + dz * dz;
    float fx = ax, fz = az;
    if (len2 > 0) {
        const float t = ((qx - ax) * dx + (qz - az) * dz) / len2;
        if (t >= 1) {
            fx = bx;
            fz = bz;
        } else if (t > 0) {
            fx = ax + dx * t;
            fz = az + dz * t;
        }
    }
    return (qx - fx) * (qx - fx) + (qz - fz) * (qz - fz);
}

// The mean of the working heights over the disc of k samples around
// (col, row).
float disc_mean(const editor_state* e, int col, int row, int k)
{
    double sum = 0;
    int count = 0;
    for (int j = -(k - 1); j <= k - 1; j++) {
        const int m = (int)sqrtf((float)(k * k - j * j));
        for (int i = -m; i <= m; i++) {
            sum += working_at(e, col + i, row + j);
            count++;
        }
    }
    return count ? (float)(sum / count) : working_at(e, col, row);
}

float smudge_mean(const editor_state* e, float qx, float qz, float ex, float ez, float amount)
{
    double sum = 0;
    int count = 0;
    const float step = e->spacing / 2;
    for (int k = 0;; k++) {
        const float s = step * (float)k;
        if (!(s < amount * e->spacing) || k > 1 << 16)
            break;
        sum += working_height_at(e, qx + ex * s, qz + ez * s);
        count++;
    }
    return count ? (float)(sum / count) : working_height_at(e, qx, qz);
}

void after_edit(editor_state* e, int col0, int row0, int col1, int row1)
{
    e->snapshot_pending = true;
    e->status = "Update needed!";
    if (g_editor_hooks.mark_dirty)
        g_editor_hooks.mark_dirty(e->hf, col0, row0, col1, row1);
    e->hf->modify_count += 1;
}

void set_points_flat(gradient* g)
{
    const float L = gradient_length(*g);
    g->points = {{0, 0}, {L, 0}};
    g->segment_types = {0, 0};
}

// A gradient with at most two points, all at height 0: moving its ends
// stretches it rather than carrying a profile along.
bool simple_gradient(const gradient& g)
{
    if (g.points.size() > 2)
        return false;
    for (const profile_point& p : g.points)
        if (p.height != 0)
            return false;
    return true;
}

}  // namespace

// ---- profiles -----------------------------------------------------------------------

float gradient_length(const gradient& g)
{
    const float dx = g.x1 - g.x0, dz = g.z1 - g.z0;
    return sqrtf(dx * dx + dz * dz);
}

float gradient_point_slope(const gradient& g, int j)
{
    const int count = (int)g.points.size();
    if (count < 2 || j < 0 || j >= count)
        return 0;
    if (j == 0)
        return segment_slope(g, 0);
    if (j == count - 1)
        return segment_slope(g, count - 2);
    if (!is_curve(g, j - 1))
        return segment_slope(g, j - 1);
    if (is_curve(g, j))
        return (segment_slope(g, j - 1) + segment_slope(g, j)) / 2;
    return segment_slope(g, j);
}

float gradient_profile(const gradient& g, float s)
{
    const int count = (int)g.points.size();
    if (count == 0)
        return 0;
    if (!(s >= g.points[0].distance))
        return g.points[0].height;
    if (s >= g.points[(size_t)count - 1].distance)
        return g.points[(size_t)count - 1].height;
    int i = 0;
    while (i + 1 < count - 1 && s >= g.points[(size_t)i + 1].distance)
        i++;
    const profile_point& a = g.points[(size_t)i];
    const profile_point& b = g.points[(size_t)i + 1];
    const float dd = b.distance - a.distance;
    if (!(dd > 0))
        return b.height;
    const float u = (s - a.distance) / dd;
    if (!is_curve(g, i))
        return a.height + (b.height - a.height) * u;
    const float m0 = gradient_point_slope(g, i) * dd;
    const float m1 = gradient_point_slope(g, i + 1) * dd;
    return (2 * (a.height - b.height) + m0 + m1) * u * u * u + (3 * (b.height - a.height) - 2 * m0 - m1) * u * u +
           m0 * u + a.height;
}

float gradient_linear(const gradient& g, float x, float z)
{
    if (g.points.empty())
        return 0;
    float ux, uz;
    axis_unit(g, &ux, &uz);
    return gradient_profile(g, (x - g.x0) * ux + (z - g.z0) * uz);
}

float gradient_radial(const gradient& g, float x, float z)
{
    if (g.points.empty())
        return 0;
    float vx = x - g.x0, vz = z - g.z0;
    const float ax = g.x1 - g.x0, az = g.z1 - g.z0;
    if (vx * ax + vz * az < 0) {
        float ux, uz;
        axis_unit(g, &ux, &uz);
        const float along = vx * ux + vz * uz;
        vx -= ux * along;
        vz -= uz * along;
    }
    return gradient_profile(g, sqrtf(vx * vx + vz * vz));
}

// ---- brushes -----------------------------------------------------------------------

void editor_brush(editor_state* e, float x, float z, int height)
{
    const int mode = e->mode;
    const float A = editor_brush_amount(e);
    float ex = 0, ez = 0;
    if (mode == editor_smudge) {
        const float dx = e->smudge_x - x, dz = e->smudge_z - z;
        const float d2 = dx * dx + dz * dz;
        if (d2 < 1)
            return;
        const float d = sqrtf(d2);
        e->smudge_x = x + dx / d;
        e->smudge_z = z + dz / d;
        ex = dx / d;
        ez = dz / d;
    }
    const gradient* g = current(e);
    if (mode >= editor_gradient_linear_paint && mode <= editor_gradient_radial_add && !g)
        return;

    const bool anchored = !(e->anchor_x == -1 && e->anchor_z == -1);
    const float ax = anchored ? e->anchor_x : x, az = anchored ? e->anchor_z : z;
    e->anchor_x = x;
    e->anchor_z = z;

    const float R = editor_brush_radius(e, height);
    const float R_in = editor_brush_inner_radius(e, height);
    const float sp = e->spacing;
    const int last = e->n - 1;
    const int col0 = clampi((int)floorf((fminf(ax, x) - R) / sp), 0, last);
    const int col1 = clampi((int)ceilf((fmaxf(ax, x) + R) / sp), 0, last);
    const int row0 = clampi((int)floorf((fminf(az, z) - R) / sp), 0, last);
    const int row1 = clampi((int)ceilf((fmaxf(az, z) + R) / sp), 0, last);
    const int smooth_k = clampi((int)A, 1, 1024);
    const int submode = (int)e->widget_value[EDITOR_SUBMODE];
    heightfield* hf = e->hf;

    for (int row = row0; row <= row1; row++) {
        for (int col = col0; col <= col1; col++) {
            const float qx = (float)col * sp, qz = (float)row * sp;
            const float d = sqrtf(segment_distance2(qx, qz, ax, az, x, z));
            if (!(d < R))
                continue;
            float w = 1;
            if (!(d < R_in) && R > R_in) {
                const float u = (d - R_in) / (R - R_in);
                w = 2 * u * u * u - 3 * u * u + 1;
            }
            const size_t k = (size_t)col + (size_t)row * (size_t)e->n;
            const float h0 = e->working_heights[k];
            float t = h0;
            switch (mode) {
            case editor_raise: t = h0 + A; break;
            case editor_lower: t = h0 - A; break;
            case editor_smooth: t = disc_mean(e, col, row, smooth_k); break;
            case editor_smudge: t = smudge_mean(e, qx, qz, ex, ez, A); break;
            case editor_gradient_linear_paint: t = gradient_linear(*g, qx, qz); break;
            case editor_gradient_linear_add: t = h0 + gradient_linear(*g, qx, qz); break;
            case editor_gradient_radial_paint: t = gradient_radial(*g, qx, qz); break;
            case editor_gradient_radial_add: t = h0 + gradient_radial(*g, qx, qz); break;
            default: return;
            }
            float v = h0 + (t - h0) * w;
            if (submode == editor_raise_only)
                v = fmaxf(v, h0);
            else if (submode == editor_lower_only)
                v = fminf(v, h0);
            // Within one stroke a sample keeps the largest change any
            // application gave it; a profile that is not a number changes
            // nothing.
            if (std::isfinite(v) && fabsf(v - h0) > fabsf(hf->heights[k] - h0))
                heightfield_set_height(hf, col, row, v);
        }
    }
    after_edit(e, col0, row0, col1, row1);
}

void editor_snap_block(editor_state* e, float x, float z)
{
    // Off the map there is no block to snap.
    if (!(x >= 0 && z >= 0 && x <= e->extent && z <= e->extent))
        return;
    const float A = editor_brush_amount(e);
    int level = 0;
    while (level < 30 && e->spacing * exp2f((float)level) < A)
        level++;
    const int m = 1 << level;
    const int last = e->n - 1;
    const int c_base = (int)floorf(x / e->spacing) & ~(m - 1);
    const int r_base = (int)floorf(z / e->spacing) & ~(m - 1);
    const int c0 = clampi(c_base, 0, last), c1 = clampi(c_base + m, 0, last);
    const int r0 = clampi(r_base, 0, last), r1 = clampi(r_base + m, 0, last);
    // The coarse cell's corners and the diagonal its parity gives.
    const float h00 = working_at(e, c_base, r_base), h10 = working_at(e, c_base + m, r_base);
    const float h01 = working_at(e, c_base, r_base + m), h11 = working_at(e, c_base + m, r_base + m);
    const bool even = (((c_base >> level) + (r_base >> level)) & 1) == 0;
    for (int row = r0; row <= r1; row++) {
        for (int col = c0; col <= c1; col++) {
            const float u = (float)(col - c_base) / (float)m, v = (float)(row - r_base) / (float)m;
            float h;
            if (even)
                h = u >= v ? h00 + (h10 - h00) * u + (h11 - h10) * v : h00 + (h11 - h01) * u + (h01 - h00) * v;
            else
                h = u + v <= 1 ? h00 + (h10 - h00) * u + (h01 - h00) * v
                               : h11 + (h01 - h11) * (1 - u) + (h10 - h11) * (1 - v);
            heightfield_set_height(e->hf, col, row, h);
        }
    }
    after_edit(e, c0, r0, c1, r1);
}

// ---- gradients ------------------------------------------------------------------------

void editor_new_gradient(editor_state* e, int width, int height)
{
    gradient g;
    editor_ground_point(e, width / 2, height / 2, width, height, &g.x0, &g.z0);
    editor_ground_point(e, width / 2 + 50, height / 2, width, height, &g.x1, &g.z1);
    g.points.reserve(16);
    g.segment_types.reserve(16);
    e->gradients.push_back(g);
    e->current_gradient = (int)e->gradients.size() - 1;
    editor_flatten_gradient(e);
}

void editor_copy_gradient(editor_state* e)
{
    const gradient* g = current(e);
    if (!g) {
        e->status = "No gradient selected";
        return;
    }
    gradient copy = *g;
    const float dx = g->x1 - g->x0, dz = g->z1 - g->z0;
    const float L = gradient_length(*g);
    // Beside the original: ten feet to its right, or along x when it has
    // no direction.
    const float sx = L > 0 ? 10 * dz / L : 10, sz = L > 0 ? -10 * dx / L : 0;
    copy.x0 += sx;
    copy.x1 += sx;
    copy.z0 += sz;
    copy.z1 += sz;
    e->gradients.push_back(copy);
    e->current_gradient = (int)e->gradients.size() - 1;
}

void editor_flatten_gradient(editor_state* e)
{
    gradient* g = current(e);
    if (!g)
        return;
    e->hf->changed_marker = 7;
    set_points_flat(g);
    e->selected_point = -1;
}

void editor_gradient_from_terrain(editor_state* e)
{
    gradient* g = current(e);
    if (!g)
        return;
    e->hf->changed_marker = 7;
    const float L = gradient_length(*g);
    float ux, uz;
    axis_unit(*g, &ux, &uz);
    g->points.clear();
    g->segment_types.clear();
    for (int k = 0;; k++) {
        const float s = e->spacing * (float)k;
        if (!(s < L))
            break;
        g->points.push_back({s, working_height_at(e, g->x0 + ux * s, g->z0 + uz * s)});
        g->segment_types.push_back(0);
    }
    g->points.push_back({L, working_height_at(e, g->x1, g->z1)});
    g->segment_types.push_back(0);
    e->selected_point = -1;
}

void editor_gradient_press(editor_state* e, float x, float z)
{
    gradient* g = current(e);
    const float half = editor_pick_radius(e) / 2;
    auto near = [&](float px, float pz) { return (px - x) * (px - x) + (pz - z) * (pz - z) < half * half; };
    if (e->mode == editor_gradient_placement) {
        if (!g)
            return;
        if (near(g->x0, g->z0)) {
            e->drag = 1;
        } else if (near(g->x1, g->z1)) {
            e->drag = 2;
        } else {
            e->drag = 0;
            for (size_t i = 0; i < e->gradients.size(); i++) {
                const gradient& o = e->gradients[i];
                if (near(o.x0, o.z0) || near(o.x1, o.z1)) {
                    e->current_gradient = (int)i;
                    e->selected_point = -1;
                }
            }
        }
        return;
    }
    // The profile drawn over the map: point (d, h) at (x0 + d, z0 - h).
    e->drag = 0;
    if (!g)
        return;
    for (size_t i = 0; i < g->points.size(); i++) {
        if (near(g->x0 + g->points[i].distance, g->z0 - g->points[i].height)) {
            e->selected_point = (int)i;
            e->widget_value[EDITOR_SEGMENT_TYPE] = is_curve(*g, (int)i) ? 1.0f : 0.0f;
            e->drag = 1;
            return;
        }
    }
    for (size_t i = 0; i + 1 < g->points.size(); i++) {
        const float a = g->x0 + g->points[i].distance, b = g->x0 + g->points[i + 1].distance;
        if (x > a && x < b) {
            const uint8_t type = i < g->segment_types.size() ? g->segment_types[i] : 0;
            g->points.insert(g->points.begin() + (long)i + 1, {x - g->x0, g->z0 - z});
            if (g->segment_types.size() < g->points.size() - 1)
                g->segment_types.resize(g->points.size() - 1, 0);
            g->segment_types.insert(g->segment_types.begin() + (long)i + 1, type);
            e->selected_point = (int)i + 1;
            e->widget_value[EDITOR_SEGMENT_TYPE] = type == 1 ? 1.0f : 0.0f;
            e->drag = 1;
            e->hf->changed_marker = 7;
            return;
        }
    }
}

void editor_gradient_drag(editor_state* e, float x, float z)
{
    gradient* g = current(e);
    if (!g || e->drag == 0)
        return;
    if (e->mode == editor_gradient_placement) {
        e->hf->changed_marker = 7;
        if (e->drag == 1) {
            if (!simple_gradient(*g)) {
                g->x1 += x - g->x0;
                g->z1 += z - g->z0;
            }
            g->x0 = x;
            g->z0 = z;
        } else if (simple_gradient(*g)) {
            g->x1 = x;
            g->z1 = z;
        } else {
            const float dx = x - g->x0, dz = z - g->z0;
            const float d = sqrtf(dx * dx + dz * dz);
            if (d > 0 && !g->points.empty()) {
                const float length = g->points.back().distance;
                g->x1 = g->x0 + dx / d * length;
                g->z1 = g->z0 + dz / d * length;
            }
        }
        return;
    }
    if (e->mode != editor_gradient_edit || e->drag != 1)
        return;
    const int j = e->selected_point;
    const int count = (int)g->points.size();
    if (j < 0 || j >= count)
        return;
    e->hf->changed_marker = 7;
    float d = x - g->x0, h = g->z0 - z;
    const float granularity = e->widget_value[EDITOR_GRANULARITY];
    if (granularity != 0) {
        d = floorf(d / granularity) * granularity;
        h = floorf(h / granularity) * granularity;
    }
    if (j == 0 || j == count - 1) {
        g->points[(size_t)j].height = h;
        return;
    }
    if (d > g->points[(size_t)j - 1].distance && d < g->points[(size_t)j + 1].distance) {
        g->points[(size_t)j] = {d, h};
        return;
    }
    g->points.erase(g->points.begin() + j);
    if (j < (int)g->segment_types.size())
        g->segment_types.erase(g->segment_types.begin() + j);
    e->drag = 0;
    e->selected_point = -1;
}

void editor_gradient_release(editor_state* e)
{
    gradient* g = current(e);
    if (e->mode == editor_gradient_placement && g && e->drag != 0 && simple_gradient(*g))
        editor_flatten_gradient(e);
    e->drag = 0;
}
