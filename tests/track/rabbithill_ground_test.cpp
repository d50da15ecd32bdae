// The ground of the default track as the game loads it from the build's
// data directory, checked against the circuit description it was generated
// from: what a rider relies on (track dirt under the line, grass beside it,
// no steps or cliffs on the ribbon, a flat start), and that the baked
// lighting and the tile codes are what the loaders make of them.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "files/datafs.h"
#include "test_support.h"
#include "track/heightfield.h"
#include "track/surface.h"
#include "track_design.h"

namespace {

using mkdata::track_design;
using mkdata::track_station;

const double pi = 3.14159265358979323846;
const char* const ground_names[] = {"grass", "dirt", "loam", "sand"};

struct loaded_ground {
    heightfield hf;
    bool ok = false;
    std::vector<std::string> textures;  // texture name of each surface, in tileinfo order
    std::string lighting;
};

loaded_ground& ground()
{
    static loaded_ground g;
    static bool tried = false;
    if (!tried) {
        tried = true;
        test::temp_dir home;
        test::scoped_env xdg("XDG_DATA_HOME", home.path.c_str());
        test::scoped_env kz("KZ_HOME", test::build_data_dir().c_str());
        free_file_index();
        g.ok = heightfield_load_ground(&g.hf, "@rabbithill", 0);
        free_file_index();
        std::string dir = test::build_data_dir() + "/rabbithill/";
        if (test::file_exists(dir + "tileinfo")) {
            std::istringstream info(test::read_file(dir + "tileinfo"));
            std::string line;
            while (std::getline(info, line))
                if (line.rfind("texture ", 0) == 0)
                    g.textures.push_back(line.substr(8));
        }
        if (test::file_exists(dir + "lighting"))
            g.lighting = test::read_file(dir + "lighting");
    }
    return g;
}

// The file name of a surface's picture without folder and extension
// ("dirt-grass-0110"), or "" for an index out of range.
std::string picture_of(const loaded_ground& g, int surface)
{
    if (surface < 0 || surface >= (int)g.textures.size())
        return "";
    std::string name = g.textures[surface];
    name = name.substr(name.rfind('/') + 1);
    return name.substr(0, name.find('.'));
}

// The ground a surface shows over its whole cell: its own name for a plain
// tile or an alternative picture, "" for a transition tile.
std::string plain_ground_of(const loaded_ground& g, int surface)
{
    std::string pic = picture_of(g, surface);
    size_t dash = pic.find('-');
    if (dash == std::string::npos)
        return pic;
    if (pic.compare(dash + 1, 3, "alt") == 0)
        return pic.substr(0, dash);
    return "";
}

int surface_under(const loaded_ground& g, double x, double z)
{
    return heightfield_surface_at(&g.hf, (float)x, (float)z);
}

class RabbitHillGround : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(ground().ok) << "the default data is missing or broken in " << test::build_data_dir()
                                 << " (build the kessrig_data target)";
        ASSERT_FALSE(ground().textures.empty());
    }
    const loaded_ground& g = ground();
    const heightfield& hf = ground().hf;
    const track_design& d = mkdata::rabbithill_design();
};

TEST_F(RabbitHillGround, GridCoversTheCircuitAndHeightsStayInRange)
{
    EXPECT_GE(hf.grid_log2, 9);
    EXPECT_GE(hf.sample_count, 1025);
    EXPECT_GE(hf.extent, 1000.0f);
    EXPECT_EQ(hf.grid_log2, d.grid_log2);
    EXPECT_FLOAT_EQ(hf.spacing, (float)d.spacing);
    const size_t n = (size_t)hf.sample_count * hf.sample_count;
    float lo = hf.heights[0], hi = hf.heights[0];
    for (size_t i = 0; i < n; i++) {
        lo = std::min(lo, hf.heights[i]);
        hi = std::max(hi, hf.heights[i]);
    }
    EXPECT_GE(lo, hf.height_min);
    EXPECT_LE(hi, hf.height_max);
    EXPECT_LT(hi - lo, 120.0f);  // rolling land, not mountains
    // The ribbon and its shoulders stay well inside the square.
    for (const track_station& st : d.stations) {
        double margin = st.width / 2 + d.shoulder + 20;
        ASSERT_GT(st.x, margin);
        ASSERT_GT(st.z, margin);
        ASSERT_LT(st.x, hf.extent - margin);
        ASSERT_LT(st.z, hf.extent - margin);
    }
}

TEST_F(RabbitHillGround, CentreLineAndChuteAreTrackGround)
{
    for (const track_station& st : d.stations) {
        int s = surface_under(g, st.x, st.z);
        std::string want = ground_names[st.ground];
        // Where the ribbon's ground changes, the line crosses a tile that
        // blends the two grounds.
        std::string before = ground_names[mkdata::design_station_at(d, st.s - 4).ground];
        std::string after = ground_names[mkdata::design_station_at(d, st.s + 4).ground];
        std::string pic = picture_of(g, s);
        auto blends = [&](const std::string& a, const std::string& b) {
            return pic.rfind(a + "-" + b + "-", 0) == 0 || pic.rfind(b + "-" + a + "-", 0) == 0;
        };
        if ((before != want && blends(want, before)) || (after != want && blends(want, after)))
            continue;
        ASSERT_EQ(plain_ground_of(g, s), want) << "at s = " << st.s << " (" << st.x << ", " << st.z << "): " << pic;
    }
    for (double s = -d.chute.length + 4; s < 0; s += 2) {
        double half = mkdata::design_chute_width(d, s) / 2 - 4;
        for (double lateral = -half; lateral <= half; lateral += 4) {
            const track_station& s0 = d.stations[0];
            double x, z;
            mkdata::design_chute_point(d, s, &x, &z);
            x -= s0.tz * lateral;
            z += s0.tx * lateral;
            ASSERT_EQ(plain_ground_of(g, surface_under(g, x, z)), "dirt") << "chute at s = " << s;
        }
    }
}

TEST_F(RabbitHillGround, GrassBesideTheRibbon)
{
    int checked = 0;
    for (size_t k = 0; k < d.stations.size(); k += 20) {
        const track_station& st = d.stations[k];
        for (double beyond : {6.0, 12.0}) {
            for (int side : {-1, 1}) {
                double lateral = side * (st.width / 2 + beyond);
                double x = st.x - st.tz * lateral, z = st.z + st.tx * lateral;
                // Only where this pass is the nearest part of the track.
                mkdata::design_place near = mkdata::design_nearest(d, x, z);
                double ds = std::fabs(near.s - st.s);
                if (near.station < 0 || std::min(ds, d.length - ds) > 3)
                    continue;
                // Nor beside the chute.
                const track_station& s0 = d.stations[0];
                double along = (x - s0.x) * s0.tx + (z - s0.z) * s0.tz;
                double across = std::fabs(-(x - s0.x) * s0.tz + (z - s0.z) * s0.tx);
                if (along > -d.chute.length - 20 && along < 20 && across < d.chute.rear_width / 2 + 20)
                    continue;
                int s = surface_under(g, x, z);
                ASSERT_EQ(plain_ground_of(g, s), "grass")
                    << "beside s = " << st.s << " at (" << x << ", " << z << "): " << picture_of(g, s);
                checked++;
            }
        }
    }
    EXPECT_GT(checked, 1500);
}

TEST_F(RabbitHillGround, RibbonFollowsTheDesignWithoutSteps)
{
    const double along_limit = std::tan(38.0 * pi / 180);
    const double across_limit = std::tan(34.0 * pi / 180);
    double prev = heightfield_height_at(&hf, (float)d.stations.back().x, (float)d.stations.back().z);
    for (const track_station& st : d.stations) {
        double h = heightfield_height_at(&hf, (float)st.x, (float)st.z);
        ASSERT_NEAR(h, mkdata::design_height(d, st.s, 0), 0.35) << "at s = " << st.s;
        ASSERT_LE(std::fabs(h - prev) / d.station_step, along_limit) << "step along the line at s = " << st.s;
        prev = h;
        // Across: from edge to edge in one-foot steps, then a little beyond.
        double half = st.width / 2;
        double last = 0;
        for (double lateral = -half; lateral <= half + 1e-9; lateral += 1) {
            double x = st.x - st.tz * lateral, z = st.z + st.tx * lateral;
            double hl = heightfield_height_at(&hf, (float)x, (float)z);
            if (lateral > -half) {
                ASSERT_LE(std::fabs(hl - last), across_limit) << "across at s = " << st.s << ", lateral " << lateral;
            }
            last = hl;
        }
    }
}

TEST_F(RabbitHillGround, NoCliffAnywhereOnTrackGround)
{
    // Every triangle of a cell painted plainly with track ground (the
    // ribbon and the chute) is rideable; nothing anywhere is a wall.
    const double ribbon_limit = std::cos(38.0 * pi / 180), anywhere_limit = std::cos(50.0 * pi / 180);
    const int cells = 1 << hf.grid_log2;
    double worst_ribbon = 1, worst = 1;
    for (int cz = 0; cz < cells; cz++) {
        for (int cx = 0; cx < cells; cx++) {
            std::string kind = plain_ground_of(g, hf.tilemap[(size_t)cz * cells + cx]);
            bool track = kind == "dirt" || kind == "loam";
            for (int q = 0; q < 4; q++) {
                vec3 tri[6];
                heightfield_cell_triangles(&hf, 2 * cx + (q & 1), 2 * cz + (q >> 1), tri);
                for (int t = 0; t < 2; t++) {
                    vec3 a = tri[3 * t], b = tri[3 * t + 1], c = tri[3 * t + 2];
                    double ux = b.x - a.x, uy = b.y - a.y, uz = b.z - a.z;
                    double vx = c.x - a.x, vy = c.y - a.y, vz = c.z - a.z;
                    double nx = uy * vz - uz * vy, ny = uz * vx - ux * vz, nz = ux * vy - uy * vx;
                    double up = std::fabs(ny) / std::sqrt(nx * nx + ny * ny + nz * nz);
                    worst = std::min(worst, up);
                    if (track)
                        worst_ribbon = std::min(worst_ribbon, up);
                }
            }
        }
    }
    EXPECT_GE(worst_ribbon, ribbon_limit) << "steepest track triangle " << std::acos(worst_ribbon) * 180 / pi << " deg";
    EXPECT_GE(worst, anywhere_limit) << "steepest triangle " << std::acos(worst) * 180 / pi << " deg";
}

TEST_F(RabbitHillGround, StartGateStandsOnFlatDirt)
{
    ASSERT_EQ(d.chute.gate_pieces, 40);
    for (int i = 0; i < d.chute.gate_pieces; i++) {
        mkdata::gate_piece p = mkdata::design_gate_piece(d, i);
        // The bike behind the piece and the rows behind it (10 ft each).
        for (int row = 0; row < 4; row++) {
            double x = p.x + std::sin(p.angle) * (row + 0.0625) * 10, z = p.z + std::cos(p.angle) * (row + 0.0625) * 10;
            ASSERT_EQ(plain_ground_of(g, surface_under(g, x, z)), "dirt") << "piece " << i << " row " << row;
            vec3 n = heightfield_face_normal_at(&hf, (float)x, (float)z);
            double up = n.y / std::sqrt(n.x * n.x + n.y * n.y + n.z * n.z);
            ASSERT_GT(up, std::cos(3.0 * pi / 180)) << "piece " << i << " row " << row;
        }
    }
}

TEST_F(RabbitHillGround, ShadingIsTheLightingRuleOverTheLoadedHeights)
{
    terrain_light light;
    float* dest[3] = {light.sun_vector, light.sun_color, light.ambient};
    const char* keys[3] = {"sun_vector [", "sun_color [", "ambient ["};
    for (int k = 0; k < 3; k++) {
        const char* p = strstr(g.lighting.c_str(), keys[k]);
        ASSERT_NE(p, nullptr) << keys[k];
        p += strlen(keys[k]);
        for (int c = 0; c < 3; c++) {
            char* end;
            dest[k][c] = strtof(p, &end);
            ASSERT_NE(end, p);
            p = end;
        }
    }
    float len = std::sqrt(light.sun_vector[0] * light.sun_vector[0] + light.sun_vector[1] * light.sun_vector[1] +
                          light.sun_vector[2] * light.sun_vector[2]);
    for (float& c : light.sun_vector)
        c /= len;
    const int n = hf.sample_count;
    int compared = 0, shadowed = 0;
    for (int row = 0; row < n; row += 3) {
        for (int col = 0; col < n; col += 3) {
            uint8_t rgb[3];
            heightfield_light_sample(&hf, col, row, &light, rgb);
            const uint8_t* stored = hf.shading_map + 3 * ((size_t)row * n + col);
            ASSERT_TRUE(rgb[0] == stored[0] && rgb[1] == stored[1] && rgb[2] == stored[2])
                << "sample " << col << ", " << row;
            compared++;
            if (hf.shadow_map[(size_t)row * n + col] > 128)
                shadowed++;
        }
    }
    // The jumps and berms throw shadows; most of the land is in the sun.
    EXPECT_GT(shadowed, 0);
    EXPECT_LT(shadowed, compared / 10);
}

TEST_F(RabbitHillGround, TileCodesAndPhysicsFollowThePictureNames)
{
    ASSERT_EQ(hf.surface_count, (int)g.textures.size());
    std::map<std::string, int> index;
    for (int i = 0; i < hf.surface_count; i++)
        index.emplace(picture_of(g, i), i);
    for (const char* name : ground_names)
        ASSERT_TRUE(index.count(name)) << name;
    int transitions = 0;
    for (int i = 0; i < hf.surface_count; i++) {
        std::string pic = picture_of(g, i);
        int code = hf.surfaces[i].tile_code;
        std::string plain = plain_ground_of(g, i);
        if (!plain.empty()) {
            EXPECT_EQ(tile_code_primary(code), index[plain]) << pic;
            EXPECT_EQ(tile_code_secondary(code), index[plain]) << pic;
            continue;
        }
        // primary-secondary-mask
        size_t a = pic.find('-'), b = pic.find('-', a + 1);
        std::string primary = pic.substr(0, a), secondary = pic.substr(a + 1, b - a - 1);
        int mask = std::stoi(pic.substr(b + 1), nullptr, 2);
        EXPECT_EQ(tile_code_primary(code), index[primary]) << pic;
        EXPECT_EQ(tile_code_secondary(code), index[secondary]) << pic;
        EXPECT_EQ(tile_code_mask(code), mask) << pic;
        // A transition grips between its two grounds.
        float c = hf.surfaces[i].friction[0].coefficient;
        float c1 = hf.surfaces[index[primary]].friction[0].coefficient;
        float c2 = hf.surfaces[index[secondary]].friction[0].coefficient;
        EXPECT_GE(c, std::min(c1, c2) - 1e-6f) << pic;
        EXPECT_LE(c, std::max(c1, c2) + 1e-6f) << pic;
        transitions++;
    }
    EXPECT_GE(transitions, 14);
    const surface_type& grass = hf.surfaces[index["grass"]];
    const surface_type& dirt = hf.surfaces[index["dirt"]];
    const surface_type& sand = hf.surfaces[index["sand"]];
    // Dirt grips better than grass and roosts; grass barely roosts; sand
    // rolls heavy and digs deepest.
    EXPECT_GT(dirt.friction[0].coefficient, grass.friction[0].coefficient);
    EXPECT_EQ(dirt.roost[0].mode, 1);
    EXPECT_LT(grass.roost[0].count * 3, dirt.roost[0].count);
    EXPECT_GT(sand.roll_resist[0].deep, 2 * dirt.roll_resist[0].deep);
    EXPECT_GT(sand.erode.erode_depth, dirt.erode.erode_depth);
    EXPECT_GT(dirt.erode.erode_depth, grass.erode.erode_depth);
}

TEST_F(RabbitHillGround, NeighbouringTilesAgreeOnTheirCorners)
{
    // A cell's corners carry its primary ground, or its secondary where
    // the mask bit is set (8 top left, 4 top right, 2 bottom left, 1
    // bottom right). Neighbours should show the same ground at the
    // corners they share, or the ground would change at a straight seam.
    const int cells = 1 << hf.grid_log2;
    auto corner = [&](int cx, int cz, int bit) {
        int code = hf.surfaces[hf.tilemap[(size_t)cz * cells + cx]].tile_code;
        return (tile_code_mask(code) & bit) ? tile_code_secondary(code) : tile_code_primary(code);
    };
    int edges = 0, mismatched = 0;
    for (int cz = 0; cz + 1 < cells; cz++) {
        for (int cx = 0; cx + 1 < cells; cx++) {
            edges += 2;
            if (corner(cx, cz, 4) != corner(cx + 1, cz, 8) || corner(cx, cz, 1) != corner(cx + 1, cz, 2))
                mismatched++;
            if (corner(cx, cz, 2) != corner(cx, cz + 1, 8) || corner(cx, cz, 1) != corner(cx, cz + 1, 4))
                mismatched++;
        }
    }
    EXPECT_LT(mismatched, edges / 1000) << mismatched << " of " << edges;
}

}  // namespace
