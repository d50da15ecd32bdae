// The terrain's geometric level of detail: the error pyramid over the
// quadtree (computed a little each frame), the choice of the nodes to split
// for a camera, and the emission of crack-free fans back to front. No GL.
#include <algorithm>
#include <atomic>
#include <cmath>

#include "platform/log.h"
#include "render/terrain_internal.h"

namespace terrain_detail {

namespace {

// Each scanned row costs this much besides one unit per sample compared.
const int ROW_COST = 10;
// The distance term of a node: half its diagonal.
const float HALF_DIAGONAL = 0.7071067811865476f;
// The neighbour term: keeps split levels of neighbours at most one apart.
const float NEIGHBOUR_REACH = 3.1622776985168457f * 0.50048828125f;

std::atomic<bool> g_crack_logged{false};

// Largest |height - plane| over one row of a node, the node square split
// along its diagonal with the grid's parity rule.
float row_deviation(const heightfield* hf, int level, int x, int z, int r)
{
    const int S = hf->sample_count;
    const int s = (S - 1) >> level;
    const int x0 = x * s, z0 = z * s;
    const float* H = hf->heights;
    const float c00 = H[x0 + (size_t)z0 * S], c10 = H[x0 + s + (size_t)z0 * S];
    const float c01 = H[x0 + (size_t)(z0 + s) * S], c11 = H[x0 + s + (size_t)(z0 + s) * S];
    const float inv = 1.0f / (float)s;
    const float v = (float)r * inv;
    const float* row = H + (size_t)(z0 + r) * S + x0;
    float worst = 0.0f;
    if (((x ^ z) & 1) == 0) {
        // Diagonal from the low corner to the high corner.
        for (int a = 0; a <= s; a++) {
            const float u = (float)a * inv;
            const float plane = u >= v ? c00 + (c10 - c00) * u + (c11 - c10) * v
                                       : c00 + (c01 - c00) * v + (c11 - c01) * u;
            worst = std::max(worst, fabsf(row[a] - plane));
        }
    } else {
        for (int a = 0; a <= s; a++) {
            const float u = (float)a * inv;
            const float plane = u + v <= 1.0f ? c00 + (c10 - c00) * u + (c01 - c00) * v
                                              : c11 + (c01 - c11) * (1.0f - u) + (c10 - c11) * (1.0f - v);
            worst = std::max(worst, fabsf(row[a] - plane));
        }
    }
    return worst;
}

float stored_value(const terrain_render_state* st, const heightfield* hf, int level, int x, int z, float err)
{
    const float size = ldexpf(hf->extent, -level);
    const float scale = (float)st->settings.error_scale;
    const float own_root = err / scale + size * HALF_DIAGONAL;
    float stored = own_root * own_root;
    if (level >= st->n)
        return stored;
    const std::vector<float>& e = st->work_errors;
    const int cl = level + 1, side = 1 << cl;
    const int fx = 2 * x, fz = 2 * z;
    static const int around[8][2] = {{0, -1}, {1, -1}, {2, 0}, {2, 1}, {1, 2}, {0, 2}, {-1, 1}, {-1, 0}};
    float m = 0.0f;
    for (const auto& o : around) {
        const int cx = fx + o[0], cz = fz + o[1];
        if (cx >= 0 && cx < side && cz >= 0 && cz < side)
            m = std::max(m, e[node_index(cl, cx, cz)]);
    }
    const float t_root = size * NEIGHBOUR_REACH + sqrtf(m);
    stored = std::max(stored, t_root * t_root);
    for (int c = 0; c < 4; c++)
        stored = std::max(stored, e[node_index(cl, fx + (c & 1), fz + (c >> 1))]);
    return stored;
}

}  // namespace

float node_deviation(const heightfield* hf, int level, int x, int z)
{
    const int s = (hf->sample_count - 1) >> level;
    float worst = 0.0f;
    for (int r = 0; r <= s; r++)
        worst = std::max(worst, row_deviation(hf, level, x, z, r));
    return worst;
}

void pyramid_advance(terrain_render_state* st, const heightfield* hf, int budget)
{
    pyramid_pass& p = st->pass;
    if (!p.active) {
        if (st->have_draw_errors && st->draw_modify_count == hf->modify_count)
            return;
        // Heights that change while a pass runs are caught by the next pass:
        // restarting instead would never finish while riders dig ruts.
        st->work_errors.assign((size_t)node_count(st->n), 0.0f);
        p = pyramid_pass();
        p.active = true;
        p.level = st->n;
        p.modify_count = hf->modify_count;
    }
    const bool unlimited = budget < 0;
    long left = budget;
    for (;;) {
        const int side = 1 << p.level;
        const int s = (hf->sample_count - 1) >> p.level;
        const int x = p.node % side, z = p.node / side;
        while (p.row <= s) {
            if (!unlimited && left <= 0)
                return;
            p.err = std::max(p.err, row_deviation(hf, p.level, x, z, p.row));
            left -= ROW_COST + s + 1;
            p.row++;
        }
        st->work_errors[node_index(p.level, x, z)] = stored_value(st, hf, p.level, x, z, p.err);
        p.row = 0;
        p.err = 0.0f;
        if (++p.node < side * side)
            continue;
        p.node = 0;
        if (p.level-- > 0)
            continue;
        st->draw_errors.swap(st->work_errors);
        st->have_draw_errors = true;
        st->draw_modify_count = p.modify_count;
        p.active = false;
        return;
    }
}

// ---- mesh choice ------------------------------------------------------------------------

namespace {

// Sets a node's split bit with its ancestors', and keeps the neighbours of
// its parent split too, so that no unsplit node meets a node split two
// levels finer (which would leave a crack).
void force_split(terrain_render_state* st, int level, int x, int z)
{
    const int idx = node_index(level, x, z);
    if (st->split[idx])
        return;
    st->split[idx] = 1;
    st->split_list.push_back(idx);
    if (level == 0)
        return;
    const int px = x >> 1, pz = z >> 1, side = 1 << (level - 1);
    force_split(st, level - 1, px, pz);
    const int nx = (x & 1) ? px + 1 : px - 1;
    const int nz = (z & 1) ? pz + 1 : pz - 1;
    if (nx >= 0 && nx < side)
        force_split(st, level - 1, nx, pz);
    if (nz >= 0 && nz < side)
        force_split(st, level - 1, px, nz);
}

void split_by_distance(terrain_render_state* st, const heightfield* hf, float ex, float ez, int level, int x,
                       int z)
{
    const int idx = node_index(level, x, z);
    if (!st->split[idx]) {
        const int h = (hf->sample_count - 1) >> (level + 1);
        const float dx = (float)((2 * x + 1) * h) * hf->spacing - ex;
        const float dz = (float)((2 * z + 1) * h) * hf->spacing - ez;
        const float stored = st->have_draw_errors ? st->draw_errors[idx] : 0.0f;
        if (!(dx * dx + dz * dz < stored))
            return;
        st->split[idx] = 1;
        st->split_list.push_back(idx);
    }
    if (level >= st->n)
        return;
    for (int c = 0; c < 4; c++)
        split_by_distance(st, hf, ex, ez, level + 1, 2 * x + (c & 1), 2 * z + (c >> 1));
}

}  // namespace

void choose_mesh(terrain_render_state* st, const heightfield* hf, float eye_x, float eye_z)
{
    if (st->split.size() != (size_t)node_count(st->n))
        st->split.assign((size_t)node_count(st->n), 0);
    for (int idx : st->split_list)
        st->split[idx] = 0;
    st->split_list.clear();

    // No drawn node may be wider than a level-6 tile ...
    for (int level = 0; level <= st->n - 7; level++)
        for (int k = 0; k < (1 << (2 * level)); k++)
            force_split(st, level, k & ((1 << level) - 1), k >> level);
    force_split(st, 0, 0, 0);
    // ... nor straddle the border of a camera block: the nodes two tiles
    // wide that overlap a block are split into tile-sized ones.
    for (int i = 0; i < CAMERA_LEVELS; i++) {
        const level_block& lv = st->levels[i];
        const int level = st->n - i - 1;
        if (!lv.exists || level < 0)
            continue;
        for (int z = lv.bz >> 1; z <= (lv.bz + BLOCK_SIDE - 1) >> 1; z++)
            for (int x = lv.bx >> 1; x <= (lv.bx + BLOCK_SIDE - 1) >> 1; x++)
                force_split(st, level, x, z);
    }
    split_by_distance(st, hf, eye_x, eye_z, 0, 0, 0);
}

// ---- emission ------------------------------------------------------------------------------

namespace {

const int child_order[4][4] = {{3, 2, 1, 0}, {2, 0, 3, 1}, {1, 3, 0, 2}, {0, 1, 2, 3}};

struct emitter {
    terrain_render_state* st;
    const heightfield* hf;
    vec3 eye;
    vec3 dir;

    bool split_at(int level, int x, int z) const
    {
        const int side = 1 << level;
        if (x < 0 || z < 0 || x >= side || z >= side)
            return false;
        return node_split(st, level, x, z);
    }

    bool culled(int level, int x, int z) const
    {
        const float size = ldexpf(hf->extent, -level);
        const float x0 = (float)x * size, z0 = (float)z * size;
        const float px = dir.x >= 0 ? x0 + size : x0;
        const float py = dir.y >= 0 ? hf->height_max : hf->height_min;
        const float pz = dir.z >= 0 ? z0 + size : z0;
        return (px - eye.x) * dir.x + (py - eye.y) * dir.y + (pz - eye.z) * dir.z < 0.0f;
    }

    // An unsplit node beside a split one whose children on the shared edge
    // are split too: the coarse edge cannot follow them. (to_x, to_z) points
    // from the split node (mx, mz) to the unsplit one.
    void check_crack(int level, int mx, int mz, int to_x, int to_z)
    {
        if (level >= st->n || !split_at(level, mx, mz))
            return;
        int ax, az, bx, bz;
        if (to_x != 0) {
            ax = bx = 2 * mx + (to_x > 0 ? 1 : 0);
            az = 2 * mz;
            bz = az + 1;
        } else {
            az = bz = 2 * mz + (to_z > 0 ? 1 : 0);
            ax = 2 * mx;
            bx = ax + 1;
        }
        if (!split_at(level + 1, ax, az) && !split_at(level + 1, bx, bz))
            return;
        st->cracks++;
        if (!g_crack_logged.exchange(true))
            log_printf("Found a crack!\n");
    }

    void vertex(const tile_ref& ref, int col, int row)
    {
        mesh_vertex v;
        v.x = (float)col * hf->spacing;
        v.y = hf->heights[col + (size_t)row * hf->sample_count];
        v.z = (float)row * hf->spacing;
        v.s = (float)(col - ref.col0) / (float)ref.samples;
        v.t = (float)(row - ref.row0) / (float)ref.samples;
        st->vertices.push_back(v);
    }

    void fan(int level, int x, int z, bool full)
    {
        const int s = (hf->sample_count - 1) >> level, h = s / 2;
        const int c0 = x * s, r0 = z * s, c1 = c0 + s, r1 = r0 + s;
        const bool west = full || split_at(level, x - 1, z);
        const bool east = full || split_at(level, x + 1, z);
        const bool south = full || split_at(level, x, z - 1);
        const bool north = full || split_at(level, x, z + 1);
        if (!full) {
            check_crack(level, x - 1, z, 1, 0);
            check_crack(level, x + 1, z, -1, 0);
            check_crack(level, x, z - 1, 0, 1);
            check_crack(level, x, z + 1, 0, -1);
        }
        mesh_fan f;
        f.texture = texture_for_node(st, c0, r0, s);
        f.first = (int)st->vertices.size();
        f.node_level = level;
        f.node_x = x;
        f.node_z = z;
        // Around the centre so that every triangle faces up (counter-
        // clockwise seen from above with x right and z down the screen).
        vertex(f.texture, c0 + h, r0 + h);
        vertex(f.texture, c0, r0);
        if (west)
            vertex(f.texture, c0, r0 + h);
        vertex(f.texture, c0, r1);
        if (north)
            vertex(f.texture, c0 + h, r1);
        vertex(f.texture, c1, r1);
        if (east)
            vertex(f.texture, c1, r0 + h);
        vertex(f.texture, c1, r0);
        if (south)
            vertex(f.texture, c0 + h, r0);
        vertex(f.texture, c0, r0);
        f.count = (int)st->vertices.size() - f.first;
        st->fans.push_back(f);
    }

    void node(int level, int x, int z)
    {
        if (culled(level, x, z))
            return;
        const bool split = node_split(st, level, x, z);
        if (!split || level >= st->n) {
            fan(level, x, z, split);
            return;
        }
        const int h = (hf->sample_count - 1) >> (level + 1);
        const float cx = (float)((2 * x + 1) * h) * hf->spacing;
        const float cz = (float)((2 * z + 1) * h) * hf->spacing;
        const int q = (eye.x >= cx ? 1 : 0) + (eye.z >= cz ? 2 : 0);
        for (int c : child_order[q])
            node(level + 1, 2 * x + (c & 1), 2 * z + (c >> 1));
    }
};

}  // namespace

void emit_mesh(terrain_render_state* st, const heightfield* hf, vec3 eye, vec3 view_dir)
{
    st->fans.clear();
    st->vertices.clear();
    st->cracks = 0;
    emitter e{st, hf, eye, view_dir};
    e.node(0, 0, 0);
}

bool crack_found()
{
    return g_crack_logged.load();
}

}  // namespace terrain_detail
