// The terrain's level of detail and texture levels without GL: the error
// pyramid (flat ground splits by distance alone; the metered computation
// ends where the unmetered one does), the mesh (no cracks, whole coverage,
// painter's order), the camera blocks at the grid's edges, which tiles
// a change marks dirty, and a decal composed alike in fine and coarse levels.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <set>
#include <tuple>
#include <vector>

#include "render/terrain_internal.h"
#include "track/objects.h"

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

namespace {

// One opaque black decal on white ground (no surfaces, no lighting) of a
// flat 384-ft terrain: a composed texel's darkness is the share of it the
// decal takes.
struct decal_ground {
    heightfield hf;
    picture_source black;
    const picture_source* pictures[1] = {&black};

    // The decal's s axis (size * aspect feet) runs nearly along x, turned
    // by angle; its t axis (size feet) nearly along z.
    decal_ground(float x, float z, float angle, float size, float aspect)
    {
        EXPECT_TRUE(heightfield_create(&hf, 8, 1.5f, nullptr));
        black.chain = {0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255};
        black.width = black.height = 2;
        black.channels = 4;
        black.levels = 1;
        black.loaded = true;
        decal d;
        d.x = x;
        d.z = z;
        d.angle = angle;
        d.size = size;
        d.aspect = aspect;
        decal_insert(&hf, 0, &d);
    }
    ~decal_ground() { heightfield_free(&hf); }

    struct texel {
        float x;      // centre, feet
        float share;  // 0..1
    };

    // The texels of a level (64 to a tile) whose centres lie in x0..x1 feet,
    // in the texel row nearest z, and their width in feet.
    std::vector<texel> row(int level, float x0, float x1, float z, float* width)
    {
        const int texels = 64, ts = tile_samples(level);
        const float per = (float)ts / (float)texels;
        const int row0 = (int)(z / hf.spacing) / ts * ts;
        const int v = std::min(std::max((int)floorf((z / hf.spacing - (float)row0) / per), 0), texels - 1);
        compose_inputs in;
        in.hf = &hf;
        in.decals = pictures;
        std::vector<uint8_t> rgb((size_t)texels * texels * 3);
        std::vector<texel> out;
        for (int col0 = (int)(x0 / hf.spacing) / ts * ts; (float)col0 * hf.spacing <= x1; col0 += ts) {
            compose_tile(in, col0, row0, ts, texels, rgb.data());
            for (int u = 0; u < texels; u++) {
                const float x = ((float)col0 + ((float)u + 0.5f) * per) * hf.spacing;
                if (x >= x0 && x <= x1)
                    out.push_back({x, (255.0f - (float)rgb[3 * ((size_t)v * texels + u)]) / 255.0f});
            }
        }
        *width = per * hf.spacing;
        return out;
    }
};

// Where the share first climbs through one half, between texel centres; -1
// when it never does.
float rising_edge(const std::vector<decal_ground::texel>& r)
{
    for (size_t k = 1; k < r.size(); k++)
        if (r[k - 1].share < 0.5f && r[k].share >= 0.5f)
            return r[k - 1].x + (r[k].x - r[k - 1].x) * (0.5f - r[k - 1].share) / (r[k].share - r[k - 1].share);
    return -1.0f;
}

}  // namespace

TEST(TerrainLod, ADecalEdgeIsWhereItIsInEveryLevel)
{
    // A 20-ft decal whose low-x edge drifts 3 ft across the 150 ft it runs,
    // so it crosses every position within the texels of each level.
    decal_ground g(110.0f, 96.0f, 0.02f, 150.0f, 20.0f / 150.0f);
    for (int level : {4, 5, 6}) {
        SCOPED_TRACE(level);
        for (float z = 30.0f; z <= 160.0f; z += 2.3f) {
            SCOPED_TRACE(z);
            const float edge = 110.0f - 10.0f + (z - 96.0f) * 0.02f;
            float coarse_width = 0, fine_width = 0;
            const float e_coarse = rising_edge(g.row(level, edge - 8, edge + 8, z, &coarse_width));
            const float e_fine = rising_edge(g.row(1, edge - 8, edge + 8, z, &fine_width));
            ASSERT_GT(e_fine, 0.0f);
            ASSERT_GT(e_coarse, 0.0f);
            EXPECT_NEAR(e_fine, edge, fine_width);
            // Found between coarse texel centres, the edge still lies where
            // the fine level has it, well inside a coarse texel (taking the
            // decal whole or not at all by the centres, half a texel off).
            EXPECT_NEAR(e_coarse, e_fine, coarse_width / 8 + fine_width);
        }
    }
}

TEST(TerrainLod, ADecalNarrowerThanATexelKeepsItsShareInCoarseLevels)
{
    // A 1-ft line drifting 3 ft across its 150 ft: in texels of 0.75 to 3 ft
    // it keeps falling between texel centres.
    decal_ground g(100.3f, 96.0f, 0.02f, 150.0f, 1.0f / 150.0f);
    for (int level : {4, 5, 6}) {
        SCOPED_TRACE(level);
        for (float z = 30.0f; z <= 160.0f; z += 2.3f) {
            SCOPED_TRACE(z);
            const float centre = 100.3f + (z - 96.0f) * 0.02f;
            float widths[2] = {};
            float ink[2] = {}, moment[2] = {};
            const int levels[2] = {1, level};
            for (int k = 0; k < 2; k++)
                for (const decal_ground::texel& t : g.row(levels[k], centre - 8, centre + 8, z, &widths[k])) {
                    ink[k] += t.share * widths[k];
                    moment[k] += t.share * widths[k] * t.x;
                }
            // Feet of line across the row: the same in both levels.
            EXPECT_NEAR(ink[0], 1.0f, 0.05f);
            EXPECT_NEAR(ink[1], ink[0], 0.05f);
            // A line inside one texel shows at its centre: within half a texel.
            ASSERT_GT(ink[1], 0.0f);
            EXPECT_NEAR(moment[0] / ink[0], centre, 0.05f);
            EXPECT_NEAR(moment[1] / ink[1], centre, widths[1] / 2 + 0.05f);
        }
    }
}
