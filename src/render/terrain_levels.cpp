// The camera-centred texture levels and their refresh: where each level's
// 4 x 4 block stands, how slot contents move with their tiles, which tile
// a quadtree node is textured from, the lighting texture layout, the dirty
// stamps and the choice of the next tile to build. No GL here.
#include <algorithm>
#include <climits>
#include <cmath>

#include "render/terrain_internal.h"

namespace terrain_detail {

int sample_floor(float v, float spacing)
{
    const float f = floorf(v / spacing);
    // Cameras far off the grid clamp to the nearest block anyway; keeping the
    // value well inside int leaves room for the block arithmetic.
    if (!(f > -1e8f))
        return -100000000;
    if (f > 1e8f)
        return 100000000;
    return (int)f;
}

int block_origin(int cam, int level, int n)
{
    const int last = (1 << (n - level)) - BLOCK_SIDE;
    const int b = floor_div(cam - (1 << level), 2 << level) - 1;
    return std::min(std::max(b, 0), std::max(last, 0));
}

void levels_init(terrain_render_state* st, const heightfield* hf)
{
    st->n = hf->grid_log2;
    st->samples = hf->sample_count;
    st->min_level = std::min(std::max(st->settings.min_level, 0), 10);
    // A level needs at least four tiles a side for its block.
    st->max_level = std::min(CAMERA_LEVELS - 1, st->n - 2);
    for (int i = 0; i < CAMERA_LEVELS; i++) {
        level_block& lv = st->levels[i];
        lv = level_block();
        lv.exists = i >= st->min_level && i <= st->max_level;
        if (!lv.exists)
            continue;
        lv.tiles_per_side = 1 << (st->n - i);
        for (int s = 0; s < BLOCK_TILES; s++) {
            lv.slots[s].tx = s % BLOCK_SIDE;
            lv.slots[s].tz = s / BLOCK_SIDE;
        }
    }
    st->grid_side = 1 << (st->n - GRID_LEVEL);
    st->grid.assign((size_t)st->grid_side * st->grid_side, tile());
    for (int k = 0; k < (int)st->grid.size(); k++) {
        st->grid[k].tx = k % st->grid_side;
        st->grid[k].tz = k / st->grid_side;
        st->grid[k].dirty = -1;
    }
    st->light_side = light_tiles_per_side(st->n);
}

int levels_follow(terrain_render_state* st, int cam_col, int cam_row)
{
    int moved = 0;
    for (int i = 0; i < CAMERA_LEVELS; i++) {
        level_block& lv = st->levels[i];
        if (!lv.exists)
            continue;
        const int nbx = block_origin(cam_col, i, st->n);
        const int nbz = block_origin(cam_row, i, st->n);
        if (nbx == lv.bx && nbz == lv.bz)
            continue;
        moved++;
        tile fresh[BLOCK_TILES];
        bool taken[BLOCK_TILES] = {};
        bool filled[BLOCK_TILES] = {};
        for (int s = 0; s < BLOCK_TILES; s++) {
            const int tx = nbx + s % BLOCK_SIDE, tz = nbz + s / BLOCK_SIDE;
            const int ox = tx - lv.bx, oz = tz - lv.bz;
            if (ox >= 0 && ox < BLOCK_SIDE && oz >= 0 && oz < BLOCK_SIDE) {
                const int old = ox + BLOCK_SIDE * oz;
                fresh[s] = lv.slots[old];
                taken[old] = true;
                filled[s] = true;
            }
        }
        // The tiles that left the block lend their textures to the new ones.
        int spare = 0;
        for (int s = 0; s < BLOCK_TILES; s++) {
            if (filled[s])
                continue;
            while (taken[spare])
                spare++;
            fresh[s] = lv.slots[spare];
            taken[spare] = true;
            fresh[s].tx = nbx + s % BLOCK_SIDE;
            fresh[s].tz = nbz + s / BLOCK_SIDE;
            fresh[s].valid = false;
            fresh[s].failed = false;
            fresh[s].dirty = 0;
        }
        for (int s = 0; s < BLOCK_TILES; s++)
            lv.slots[s] = fresh[s];
        lv.bx = nbx;
        lv.bz = nbz;
    }
    return moved;
}

tile_ref slot_ref(const terrain_render_state* st, int level, int slot)
{
    const level_block& lv = st->levels[level];
    tile_ref r;
    r.level = level;
    r.index = slot;
    r.samples = tile_samples(level);
    r.col0 = lv.slots[slot].tx * r.samples;
    r.row0 = lv.slots[slot].tz * r.samples;
    return r;
}

tile_ref grid_ref(const terrain_render_state* st, int index)
{
    tile_ref r;
    r.level = GRID_LEVEL;
    r.index = index;
    r.samples = GRID_TILE_SAMPLES;
    r.col0 = (index % st->grid_side) * GRID_TILE_SAMPLES;
    r.row0 = (index / st->grid_side) * GRID_TILE_SAMPLES;
    return r;
}

tile* tile_of(terrain_render_state* st, const tile_ref& ref)
{
    if (ref.level >= GRID_LEVEL)
        return &st->grid[ref.index];
    return &st->levels[ref.level].slots[ref.index];
}

tile_ref texture_for_node(const terrain_render_state* st, int col0, int row0, int size)
{
    int first = 0;
    while ((2 << first) < size)
        first++;
    first = std::max(first, st->min_level);
    for (int i = first; i <= st->max_level; i++) {
        const level_block& lv = st->levels[i];
        if (!lv.exists)
            continue;
        const int ts = tile_samples(i);
        const int tx = col0 / ts - lv.bx, tz = row0 / ts - lv.bz;
        if (tx < 0 || tx >= BLOCK_SIDE || tz < 0 || tz >= BLOCK_SIDE)
            continue;
        const int slot = tx + BLOCK_SIDE * tz;
        if (lv.slots[slot].valid)
            return slot_ref(st, i, slot);
    }
    const int index = (row0 / GRID_TILE_SAMPLES) * st->grid_side + col0 / GRID_TILE_SAMPLES;
    return grid_ref(st, index);
}

// ---- lighting texture layout ---------------------------------------------------------

int light_tiles_per_side(int n)
{
    return ((2 << n) / 128 + 2) / 3;
}

int light_tile_width(int n, int i)
{
    const int need = (2 << n) - LIGHT_STEP * i + 2 * LIGHT_MARGIN;
    int w = 1;
    while (w < need && w < LIGHT_MAX)
        w <<= 1;
    return w;
}

int light_tile_for(int col0, int side)
{
    return std::min(std::max(col0 / LIGHT_STEP, 0), side - 1);
}

// ---- dirty stamps -----------------------------------------------------------------------

namespace {

void stamp(tile* t, int frame)
{
    if (t->valid && t->dirty == 0)
        t->dirty = frame;
}

// The tiles of side ts whose samples [k ts, (k + 1) ts] touch c0..c1.
void tile_range(int c0, int c1, int ts, int* k0, int* k1)
{
    *k0 = floor_div(c0 - 1, ts);
    *k1 = floor_div(c1, ts);
}

}  // namespace

void stamp_tiles(terrain_render_state* st, int col0, int row0, int col1, int row1)
{
    for (int i = 0; i < CAMERA_LEVELS; i++) {
        level_block& lv = st->levels[i];
        if (!lv.exists)
            continue;
        int x0, x1, z0, z1;
        tile_range(col0, col1, tile_samples(i), &x0, &x1);
        tile_range(row0, row1, tile_samples(i), &z0, &z1);
        for (int s = 0; s < BLOCK_TILES; s++) {
            tile& t = lv.slots[s];
            if (t.tx >= x0 && t.tx <= x1 && t.tz >= z0 && t.tz <= z1)
                stamp(&t, st->frame);
        }
    }
    int x0, x1, z0, z1;
    tile_range(col0, col1, GRID_TILE_SAMPLES, &x0, &x1);
    tile_range(row0, row1, GRID_TILE_SAMPLES, &z0, &z1);
    x0 = std::max(x0, 0);
    z0 = std::max(z0, 0);
    x1 = std::min(x1, st->grid_side - 1);
    z1 = std::min(z1, st->grid_side - 1);
    for (int tz = z0; tz <= z1; tz++)
        for (int tx = x0; tx <= x1; tx++) {
            tile& t = st->grid[tz * st->grid_side + tx];
            if (t.dirty == 0)
                t.dirty = st->frame;
        }
}

void mark_dirty(terrain_render_state* st, int col0, int row0, int col1, int row1)
{
    // A changed height changes the lighting of its neighbours too.
    const int last = st->samples - 1;
    const int c_lo = std::min(col0, col1), c_hi = std::max(col0, col1);
    const int r_lo = std::min(row0, row1), r_hi = std::max(row0, row1);
    if (c_hi < 0 || r_hi < 0 || c_lo > last || r_lo > last)
        return;
    col0 = std::max(c_lo - 1, 0);
    row0 = std::max(r_lo - 1, 0);
    col1 = std::min(c_hi + 1, last);
    row1 = std::min(r_hi + 1, last);
    if (st->texturing == terrain_tex_sub_image) {
        stamp_tiles(st, col0, row0, col1, row1);
        return;
    }
    for (int j = 0; j < st->light_side; j++) {
        for (int i = 0; i < st->light_side; i++) {
            light_tile& lt = st->light_tiles[(size_t)j * st->light_side + i];
            const int c0 = std::max(col0, lt.col0), c1 = std::min(col1, lt.col0 + lt.width - 1);
            const int r0 = std::max(row0, lt.row0), r1 = std::min(row1, lt.row0 + lt.height - 1);
            if (c0 > c1 || r0 > r1)
                continue;
            if (!lt.dirty) {
                lt.dirty = true;
                lt.dirty_col0 = c0;
                lt.dirty_row0 = r0;
                lt.dirty_col1 = c1;
                lt.dirty_row1 = r1;
            } else {
                lt.dirty_col0 = std::min(lt.dirty_col0, c0);
                lt.dirty_row0 = std::min(lt.dirty_row0, r0);
                lt.dirty_col1 = std::max(lt.dirty_col1, c1);
                lt.dirty_row1 = std::max(lt.dirty_row1, r1);
            }
        }
    }
}

bool next_tile_to_build(const terrain_render_state* st, tile_ref* out)
{
    for (int k = 0; k < (int)st->grid.size(); k++)
        if (st->grid[k].dirty < 0) {
            *out = grid_ref(st, k);
            return true;
        }
    for (int i = CAMERA_LEVELS - 1; i >= 0; i--) {
        const level_block& lv = st->levels[i];
        if (!lv.exists)
            continue;
        for (int s = 0; s < BLOCK_TILES; s++)
            if (!lv.slots[s].valid && !lv.slots[s].failed) {
                *out = slot_ref(st, i, s);
                return true;
            }
    }
    int best = INT_MAX;
    bool found = false;
    for (int i = CAMERA_LEVELS - 1; i >= 0; i--) {
        const level_block& lv = st->levels[i];
        if (!lv.exists)
            continue;
        for (int s = 0; s < BLOCK_TILES; s++)
            if (lv.slots[s].dirty > 0 && lv.slots[s].dirty < best) {
                best = lv.slots[s].dirty;
                *out = slot_ref(st, i, s);
                found = true;
            }
    }
    for (int k = 0; k < (int)st->grid.size(); k++)
        if (st->grid[k].dirty > 0 && st->grid[k].dirty < best) {
            best = st->grid[k].dirty;
            *out = grid_ref(st, k);
            found = true;
        }
    return found;
}

// ---- relighting ---------------------------------------------------------------------------

void relight_region(heightfield* hf, const terrain_light& light, int col0, int row0, int col1, int row1)
{
    const int last = hf->sample_count - 1;
    col0 = std::max(col0, 0);
    row0 = std::max(row0, 0);
    col1 = std::min(col1, last);
    row1 = std::min(row1, last);
    for (int row = row0; row <= row1; row++) {
        for (int col = col0; col <= col1; col++) {
            const int k = col + row * hf->sample_count;
            const uint8_t bit = (uint8_t)(1u << (k & 7));
            if (hf->shading_dirty && (hf->shading_dirty[k >> 3] & bit)) {
                if (hf->shading_map)
                    heightfield_light_sample(hf, col, row, &light, hf->shading_map + 3 * (size_t)k);
                hf->shading_dirty[k >> 3] &= (uint8_t)~bit;
            }
            if (hf->normal_dirty && (hf->normal_dirty[k >> 3] & bit)) {
                if (hf->terrain_normal_map)
                    heightfield_normal_map_sample(hf, col, row, hf->terrain_normal_map + 3 * (size_t)k);
                hf->normal_dirty[k >> 3] &= (uint8_t)~bit;
            }
        }
    }
}

}  // namespace terrain_detail
