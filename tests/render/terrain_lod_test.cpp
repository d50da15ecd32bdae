// The terrain's level of detail and texture levels without GL: the error
// pyramid (flat ground splits by distance alone; the metered computation
// ends where the unmetered one does), the mesh (no cracks, whole coverage,
// painter's order), the camera blocks at the grid's edges, and which tiles
// a change marks dirty.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <set>
#include <tuple>
#include <vector>

#include "render/terrain_internal.h"

using namespace terrain_detail;

namespace {

// Rolling hills with a sharp ridge and a pit: errors at every scale.
std::vector<float> rough_heights(int n, float spacing)
{
    const int S = (2 << n) + 1;
    std::vector<float> h((size_t)S * S);
    for (int r = 0; r < S; r++)
        for (int c = 0; c < S; c++) {
            const float x = (float)c * spacing, z = (float)r * spacing;
            float v = 12.0f * sinf(x * 0.013f) * cosf(z * 0.011f) + 3.0f * sinf(x * 0.071f + z * 0.05f);
            v += fabsf(x - z * 0.7f - 40.0f) < 6.0f ? 5.0f : 0.0f;                // a ridge
            v -= (x - 150) * (x - 150) + (z - 90) * (z - 90) < 100 ? 4.0f : 0.0f;  // a pit
            const unsigned k = ((unsigned)c * 73856093u) ^ ((unsigned)r * 19349663u);
            v += (float)(k % 1000) / 4000.0f;  // grain
            h[(size_t)r * S + c] = v;
        }
    return h;
}

struct lod_terrain {
    heightfield hf;
    terrain_render_state st;

    lod_terrain(int n, float spacing, const std::vector<float>* heights, terrain_settings settings)
    {
        EXPECT_TRUE(heightfield_create(&hf, n, spacing, heights ? heights->data() : nullptr));
        st.settings = settings;
        st.texturing = terrain_tex_sub_image;
        levels_init(&st, &hf);
        pyramid_advance(&st, &hf, -1);
    }
    ~lod_terrain() { heightfield_free(&hf); }

    void frame(vec3 eye, vec3 dir)
    {
        levels_follow(&st, sample_floor(eye.x, hf.spacing), sample_floor(eye.z, hf.spacing));
        choose_mesh(&st, &hf, eye.x, eye.z);
        emit_mesh(&st, &hf, eye, dir);
    }
};

struct square {
    int c0, r0, c1, r1;
};

square fan_square(const terrain_render_state& st, const mesh_fan& f)
{
    const int s = (st.samples - 1) >> f.node_level;
    return {f.node_x * s, f.node_z * s, f.node_x * s + s, f.node_z * s + s};
}

// Every rim segment of every fan meets the same segment, reversed, of
// another fan, except along the terrain's border: no crack, no T-junction.
// Returns the number of unmatched inner segments.
int unmatched_segments(const terrain_render_state& st, const heightfield& hf, long* area)
{
    std::map<std::tuple<int, int, int, int>, int> edges;
    auto sample = [&](const mesh_vertex& v) {
        return std::make_pair((int)lroundf(v.x / hf.spacing), (int)lroundf(v.z / hf.spacing));
    };
    *area = 0;
    for (const mesh_fan& f : st.fans) {
        const square q = fan_square(st, f);
        *area += (long)(q.c1 - q.c0) * (q.r1 - q.r0);
        for (int k = 1; k + 1 < f.count; k++) {
            auto a = sample(st.vertices[f.first + k]), b = sample(st.vertices[f.first + k + 1]);
            edges[{a.first, a.second, b.first, b.second}]++;
        }
    }
    const int last = hf.sample_count - 1;
    int unmatched = 0;
    for (const auto& e : edges) {
        const auto& [ac, ar, bc, br] = e.first;
        const bool border = (ac == bc && (ac == 0 || ac == last)) || (ar == br && (ar == 0 || ar == last));
        if (!border && edges.find({bc, br, ac, ar}) == edges.end())
            unmatched++;
    }
    return unmatched;
}

// Two fans whose squares overlap along one axis and lie apart along the
// other, with the camera beyond one of them on that axis: the one nearer
// the camera must come later. Returns the number of pairs out of order.
int painter_violations(const terrain_render_state& st, const heightfield& hf, vec3 eye)
{
    const float cc = eye.x / hf.spacing, cr = eye.z / hf.spacing;
    std::vector<square> q;
    for (const mesh_fan& f : st.fans)
        q.push_back(fan_square(st, f));
    int bad = 0;
    for (size_t i = 0; i < q.size(); i++)
        for (size_t j = i + 1; j < q.size(); j++) {
            const square& a = q[i];  // drawn first
            const square& b = q[j];
            const bool z_overlap = std::min(a.r1, b.r1) > std::max(a.r0, b.r0);
            const bool x_overlap = std::min(a.c1, b.c1) > std::max(a.c0, b.c0);
            if (z_overlap) {
                if (a.c1 <= b.c0 && cc < (float)a.c1)
                    bad++;  // a is nearer on the low side yet drawn first
                if (b.c1 <= a.c0 && cc > (float)a.c0)
                    bad++;
            }
            if (x_overlap) {
                if (a.r1 <= b.r0 && cr < (float)a.r1)
                    bad++;
                if (b.r1 <= a.r0 && cr > (float)a.r0)
                    bad++;
            }
        }
    return bad;
}

const vec3 straight_down = {0.0f, -1.0f, 0.0f};

}  // namespace

TEST(TerrainLod, FlatGroundSplitsOnlyByTheRadiusTerm)
{
    const int n = 7;
    terrain_settings s;
    s.min_level = 10;  // no camera levels: nothing forced but the grid level
    lod_terrain a(n, 2.0f, nullptr, s);
    s.error_scale = 1e-6;  // a thousand times stricter: errors are all 0
    lod_terrain b(n, 2.0f, nullptr, s);

    for (int level = 0; level <= n; level += 3)
        EXPECT_EQ(node_deviation(&a.hf, level, 1 % (1 << level), 0), 0.0f);

    const vec3 eye = {123.0f, 30.0f, 301.0f};
    a.frame(eye, straight_down);
    b.frame(eye, straight_down);
    EXPECT_EQ(a.st.split, b.st.split);

    // The finest nodes split exactly within 0.7071 of their size of the
    // camera; coarser ones within a few sizes, never beyond.
    const float extent = a.hf.extent;
    int finest_split = 0;
    for (int level = n - 6; level <= n; level++) {
        const float size = ldexpf(extent, -level);
        for (int z = 0; z < (1 << level); z++)
            for (int x = 0; x < (1 << level); x++) {
                const float dx = ((float)x + 0.5f) * size - eye.x, dz = ((float)z + 0.5f) * size - eye.z;
                const float d = sqrtf(dx * dx + dz * dz);
                const bool split = node_split(&a.st, level, x, z);
                if (level == n) {
                    EXPECT_EQ(split, d < 0.70710678f * size) << x << " " << z;
                    finest_split += split;
                } else if (split && level > n - 6) {
                    EXPECT_LT(d, 3.2f * size) << "level " << level;
                }
            }
    }
    EXPECT_GE(finest_split, 1);
    EXPECT_LE(finest_split, 4);
}

TEST(TerrainLod, MeteredPyramidEndsWhereTheWholeOneDoes)
{
    const std::vector<float> h = rough_heights(8, 1.5f);
    terrain_settings s;
    lod_terrain whole(8, 1.5f, &h, s);
    ASSERT_TRUE(whole.st.have_draw_errors);

    terrain_render_state st;
    st.settings = s;
    levels_init(&st, &whole.hf);
    int calls = 0;
    while (!st.have_draw_errors && calls < 100000) {
        pyramid_advance(&st, &whole.hf, TERRAIN_UPDATE_BUDGET);
        calls++;
    }
    // Every row of every node costs 10 and its samples; a call may overrun
    // its budget by one row at most.
    double units = 0;
    for (int level = 0; level <= 8; level++) {
        const double s = 512 >> level;
        units += std::ldexp(1.0, 2 * level) * (s + 1) * (s + 11);
    }
    EXPECT_GE(calls, (int)(units / (TERRAIN_UPDATE_BUDGET + 523)));
    EXPECT_LE(calls, (int)(units / TERRAIN_UPDATE_BUDGET) + 1);
    EXPECT_EQ(st.draw_errors, whole.st.draw_errors);
    EXPECT_EQ(st.draw_modify_count, whole.hf.modify_count);

    // Nothing to do until the heights change; a change made during a pass is
    // picked up by the pass after it.
    pyramid_advance(&st, &whole.hf, TERRAIN_UPDATE_BUDGET);
    EXPECT_FALSE(st.pass.active);
    whole.hf.modify_count++;
    heightfield_set_height(&whole.hf, 300, 200, 80.0f);
    pyramid_advance(&st, &whole.hf, TERRAIN_UPDATE_BUDGET);
    EXPECT_TRUE(st.pass.active);
    whole.hf.modify_count++;
    pyramid_advance(&st, &whole.hf, -1);
    EXPECT_EQ(st.draw_modify_count, whole.hf.modify_count - 1);
    pyramid_advance(&st, &whole.hf, -1);
    EXPECT_EQ(st.draw_modify_count, whole.hf.modify_count);
    // The spike raised the error of the nodes above it.
    EXPECT_GT(st.draw_errors[node_index(8, 150, 100)], whole.st.draw_errors[node_index(8, 150, 100)]);
}

TEST(TerrainLod, MeshIsCrackFreeCoversTheGridAndPaintsBackToFront)
{
    const int n = 8;
    const std::vector<float> h = rough_heights(n, 1.5f);
    for (double scale : {0.125 / 70, 0.125 / 100, 0.125 / 5, 1e-5}) {
        terrain_settings s;
        s.error_scale = scale;
        lod_terrain t(n, 1.5f, &h, s);
        // Make every camera tile valid so the blocks force their splits.
        for (level_block& lv : t.st.levels)
            for (tile& slot : lv.slots)
                slot.valid = true;
        const vec3 eyes[] = {{400.0f, 40.0f, 300.0f}, {2.0f, 15.0f, 3.0f}, {760.0f, 5.0f, 100.0f},
                             {-300.0f, 80.0f, 900.0f}, {383.9f, 10.0f, 384.0f}};
        for (const vec3& eye : eyes) {
            t.frame(eye, straight_down);
            long area = 0;
            EXPECT_EQ(unmatched_segments(t.st, t.hf, &area), 0) << "scale " << scale << " eye " << eye.x;
            EXPECT_EQ(t.st.cracks, 0);
            EXPECT_EQ(area, (long)(t.hf.sample_count - 1) * (t.hf.sample_count - 1));
            if (scale > 1e-4) {  // the full-resolution mesh is too big for the pairwise check
                EXPECT_EQ(painter_violations(t.st, t.hf, eye), 0) << "eye " << eye.x << " " << eye.z;
            }
            // Nothing wider than a grid tile, and every fan inside its tile.
            for (const mesh_fan& f : t.st.fans) {
                const square q = fan_square(t.st, f);
                ASSERT_LE(q.c1 - q.c0, GRID_TILE_SAMPLES);
                EXPECT_GE(q.c0, f.texture.col0);
                EXPECT_LE(q.c1, f.texture.col0 + f.texture.samples);
                EXPECT_GE(q.r0, f.texture.row0);
                EXPECT_LE(q.r1, f.texture.row0 + f.texture.samples);
            }
        }
    }
}

TEST(TerrainLod, ACoarseNodeBesideOneSplitTwoLevelsFinerIsACrack)
{
    const std::vector<float> h = rough_heights(8, 1.0f);
    terrain_settings s;
    s.min_level = 10;
    lod_terrain t(8, 1.0f, &h, s);
    const vec3 eye = {10.0f, 30.0f, 10.0f};
    t.frame(eye, straight_down);
    ASSERT_EQ(t.st.cracks, 0);
    // Two drawn, unsplit neighbours; the east one split by hand down to a
    // child on their shared edge.
    int level = -1, x = 0, z = 0;
    for (int l = 2; l <= 6 && level < 0; l++)
        for (int k = 0; k < (1 << (2 * l)) && level < 0; k++) {
            const int a = k % (1 << l), b = k / (1 << l);
            if (a + 1 < (1 << l) && !node_split(&t.st, l, a, b) && !node_split(&t.st, l, a + 1, b) &&
                node_split(&t.st, l - 1, a >> 1, b >> 1) && node_split(&t.st, l - 1, (a + 1) >> 1, b >> 1)) {
                level = l;
                x = a;
                z = b;
            }
        }
    ASSERT_GE(level, 0);
    t.st.split[node_index(level, x + 1, z)] = 1;
    t.st.split[node_index(level + 1, 2 * (x + 1), 2 * z)] = 1;
    emit_mesh(&t.st, &t.hf, eye, straight_down);
    EXPECT_EQ(t.st.cracks, 1);
    long area = 0;
    EXPECT_GT(unmatched_segments(t.st, t.hf, &area), 0);
    EXPECT_TRUE(crack_found());
}

TEST(TerrainLod, NearTheCameraTheFinestValidLevelTextures)
{
    const std::vector<float> h = rough_heights(8, 1.5f);
    terrain_settings s;
    s.min_level = 1;
    lod_terrain t(8, 1.5f, &h, s);
    const vec3 eye = {300.0f, 20.0f, 250.0f};
    t.frame(eye, straight_down);
    // No camera tile built yet: all from level 6.
    for (const mesh_fan& f : t.st.fans)
        ASSERT_EQ(f.texture.level, GRID_LEVEL);
    for (level_block& lv : t.st.levels)
        for (tile& slot : lv.slots)
            slot.valid = true;
    t.frame(eye, straight_down);
    const int cam_c = sample_floor(eye.x, 1.5f), cam_r = sample_floor(eye.z, 1.5f);
    bool finest_under_camera = false;
    for (const mesh_fan& f : t.st.fans) {
        const square q = fan_square(t.st, f);
        if (cam_c >= q.c0 && cam_c < q.c1 && cam_r >= q.r0 && cam_r < q.r1)
            finest_under_camera = f.texture.level == 1;
        // Inside a block the node uses that block's level or a finer one.
        for (int i = 1; i <= 5; i++) {
            const level_block& lv = t.st.levels[i];
            const int ts = tile_samples(i);
            if (q.c0 >= lv.bx * ts && q.c1 <= (lv.bx + 4) * ts && q.r0 >= lv.bz * ts && q.r1 <= (lv.bz + 4) * ts) {
                EXPECT_LE(f.texture.level, i);
                break;
            }
        }
    }
    EXPECT_TRUE(finest_under_camera);
    // Blocks at the grid's edges stay on the grid.
    const int n = 8;
    for (int i = 0; i <= 5; i++) {
        EXPECT_EQ(block_origin(0, i, n), 0);
        EXPECT_EQ(block_origin(-100000, i, n), 0);
        EXPECT_EQ(block_origin(2 << n, i, n), (1 << (n - i)) - 4);
        EXPECT_EQ(block_origin(100000000, i, n), (1 << (n - i)) - 4);
    }
    t.frame({-1e30f, 10.0f, 1e30f}, straight_down);
    for (int i = 1; i <= 5; i++) {
        EXPECT_EQ(t.st.levels[i].bx, 0);
        EXPECT_EQ(t.st.levels[i].bz, (1 << (n - i)) - 4);
    }
}

TEST(TerrainLod, MarkingStampsTheTouchedTilesOrTheirLightingTextures)
{
    terrain_settings s;
    s.min_level = 1;
    lod_terrain t(9, 1.5f, nullptr, s);
    terrain_render_state& st = t.st;
    levels_follow(&st, 260, 380);
    for (level_block& lv : st.levels)
        for (tile& slot : lv.slots)
            slot.valid = true;
    for (tile& g : st.grid)
        g.dirty = 0;
    st.frame = 77;

    // One sample on a level-6 tile corner: the four grid tiles that share it.
    mark_dirty(&st, 256, 384, 256, 384);
    std::set<int> stamped;
    for (int k = 0; k < (int)st.grid.size(); k++)
        if (st.grid[k].dirty == 77)
            stamped.insert(k);
    const int side = st.grid_side;
    EXPECT_EQ(stamped, (std::set<int>{2 * side + 1, 2 * side + 2, 3 * side + 1, 3 * side + 2}));
    // The camera tiles around it are stamped too, those far away not.
    int near = 0, far = 0;
    for (int i = 1; i <= 5; i++)
        for (const tile& slot : st.levels[i].slots) {
            const int ts = tile_samples(i);
            const bool touches = slot.tx * ts <= 257 && (slot.tx + 1) * ts >= 255 && slot.tz * ts <= 385 &&
                                 (slot.tz + 1) * ts >= 383;
            (touches ? near : far) += slot.dirty == 77;
            EXPECT_EQ(slot.dirty == 77, touches);
        }
    EXPECT_EQ(far, 0);
    EXPECT_GT(near, 0);
    // The oldest stamp goes first; a later mark keeps the older stamp.
    st.frame = 90;
    mark_dirty(&st, 1000, 1000, 1010, 1010);
    mark_dirty(&st, 256, 384, 256, 384);
    EXPECT_EQ(st.grid[2 * side + 1].dirty, 77);
    tile_ref next;
    ASSERT_TRUE(next_tile_to_build(&st, &next));
    EXPECT_EQ(tile_of(&st, next)->dirty, 77);

    // With the other methods the lighting textures holding the samples are
    // marked (they overlap by 128 samples) and stamp the tiles once rebuilt.
    terrain_render_state lit;
    lit.settings = s;
    lit.texturing = terrain_copy_sub_image;
    levels_init(&lit, &t.hf);
    ASSERT_EQ(lit.light_side, 3);
    lit.light_tiles.resize(9);
    for (int j = 0; j < 3; j++)
        for (int i = 0; i < 3; i++) {
            light_tile& lt = lit.light_tiles[j * 3 + i];
            lt.col0 = 384 * i - 64;
            lt.row0 = 384 * j - 64;
            lt.width = light_tile_width(9, i);
            lt.height = light_tile_width(9, j);
            EXPECT_EQ(lt.width, 512);
        }
    mark_dirty(&lit, 350, 10, 352, 12);
    std::vector<int> dirty;
    for (int k = 0; k < 9; k++)
        if (lit.light_tiles[k].dirty)
            dirty.push_back(k);
    EXPECT_EQ(dirty, (std::vector<int>{0, 1}));
    EXPECT_EQ(lit.light_tiles[1].dirty_col0, 349);
    EXPECT_EQ(lit.light_tiles[1].dirty_row0, 9);
    EXPECT_EQ(lit.light_tiles[1].dirty_col1, 353);
    for (const tile& g : lit.grid)
        EXPECT_EQ(g.dirty, -1);  // nothing stamped before the lighting is rebuilt
}

TEST(TerrainLod, LightingTexturesCoverEveryGridSize)
{
    for (int n = 6; n <= 11; n++) {
        const int side = light_tiles_per_side(n);
        const int last = 2 << n;
        ASSERT_GE(side, 1);
        // Every tile of the grid level reads a lighting texture holding all
        // its samples with the margin the filtering needs.
        for (int col0 = 0; col0 < last; col0 += GRID_TILE_SAMPLES) {
            const int i = light_tile_for(col0, side);
            const int start = LIGHT_STEP * i - LIGHT_MARGIN;
            EXPECT_LE(start, col0 - 1) << n;
            EXPECT_GE(start + light_tile_width(n, i) - 1, std::min(col0 + GRID_TILE_SAMPLES, last) + 1) << n;
        }
    }
    EXPECT_EQ(light_tiles_per_side(9), 3);
    EXPECT_EQ(light_tiles_per_side(10), 6);
    EXPECT_EQ(light_tile_width(10, 5), 256);
}
