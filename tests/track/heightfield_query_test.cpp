// Height, normal and sample-writing queries over an in-memory height field.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "track/heightfield.h"

namespace {

// A 9 x 9 grid (grid_log2 2) with spacing 2 and heights given by f.
template <typename F>
heightfield make_field(F f, float spacing = 2.0f)
{
    const int n = 9;
    std::vector<float> h((size_t)n * n);
    for (int row = 0; row < n; row++)
        for (int col = 0; col < n; col++)
            h[(size_t)col + (size_t)row * n] = f(col, row);
    heightfield hf;
    EXPECT_TRUE(heightfield_create(&hf, 2, spacing, h.data()));
    return hf;
}

// Distinct heights per sample, so an interpolated height names its triangle.
float distinct(int col, int row)
{
    return (float)(col * 7 + row * 13 + (col * row) % 5);
}

float plane(const heightfield& hf, int c0, int r0, int c1, int r1, int c2, int r2, float u, float v)
{
    const float h0 = heightfield_sample(&hf, c0, r0);
    return h0 + (heightfield_sample(&hf, c1, r1) - h0) * u + (heightfield_sample(&hf, c2, r2) - h0) * v;
}

TEST(HeightfieldQuery, GridValuesFollowTheSize)
{
    heightfield hf = make_field([](int, int) { return 0.0f; }, 3.0f);
    EXPECT_EQ(hf.sample_count, 9);
    EXPECT_FLOAT_EQ(hf.extent, 24.0f);
    EXPECT_FLOAT_EQ(hf.tile_size, 6.0f);
    heightfield_free(&hf);
    EXPECT_EQ(hf.heights, nullptr);
    EXPECT_EQ(hf.sample_count, 0);

    heightfield bad;
    EXPECT_FALSE(heightfield_create(&bad, 0, 2.0f, nullptr));
    EXPECT_FALSE(heightfield_create(&bad, HEIGHTFIELD_MAX_LOG2 + 1, 2.0f, nullptr));
    EXPECT_FALSE(heightfield_create(&bad, 3, 0.0f, nullptr));
    EXPECT_FALSE(heightfield_create(&bad, 3, std::numeric_limits<float>::quiet_NaN(), nullptr));
    EXPECT_EQ(bad.heights, nullptr);
}

TEST(HeightfieldQuery, PicksTheTriangleByCellParity)
{
    heightfield hf = make_field(distinct);
    const float s = hf.spacing;
    // Even cell (0, 0): (0.75, 0.25) lies in (1,0), (0,0), (1,1).
    EXPECT_FLOAT_EQ(heightfield_height_at(&hf, 0.75f * s, 0.25f * s), plane(hf, 1, 0, 0, 0, 1, 1, 0.25f, 0.25f));
    // ... and (0.25, 0.75) in the other half: corner (0,1), x-neighbour (1,1), z-neighbour (0,0).
    EXPECT_FLOAT_EQ(heightfield_height_at(&hf, 0.25f * s, 0.75f * s), plane(hf, 0, 1, 1, 1, 0, 0, 0.25f, 0.25f));
    // Odd cell (1, 0): (1.25, 0.25) lies in (1,0), (2,0), (1,1).
    EXPECT_FLOAT_EQ(heightfield_height_at(&hf, 1.25f * s, 0.25f * s), plane(hf, 1, 0, 2, 0, 1, 1, 0.25f, 0.25f));
    // ... and (1.75, 0.75) in (2,1), (1,1), (2,0).
    EXPECT_FLOAT_EQ(heightfield_height_at(&hf, 1.75f * s, 0.75f * s), plane(hf, 2, 1, 1, 1, 2, 0, 0.25f, 0.25f));
    // Odd cell (0, 1) mirrors (1, 0); even cell (1, 1) mirrors (0, 0).
    EXPECT_FLOAT_EQ(heightfield_height_at(&hf, 0.25f * s, 1.25f * s), plane(hf, 0, 1, 1, 1, 0, 2, 0.25f, 0.25f));
    EXPECT_FLOAT_EQ(heightfield_height_at(&hf, 1.75f * s, 1.25f * s), plane(hf, 2, 1, 1, 1, 2, 2, 0.25f, 0.25f));
    heightfield_free(&hf);
}

TEST(HeightfieldQuery, CellTrianglesMatchTheHeightQuery)
{
    heightfield hf = make_field(distinct);
    for (int j = 0; j < 8; j++) {
        for (int i = 0; i < 8; i++) {
            vec3 t[6];
            heightfield_cell_triangles(&hf, i, j, t);
            for (int k = 0; k < 2; k++) {
                const vec3* v = t + 3 * k;
                const vec3 a = {v[1].x - v[0].x, v[1].y - v[0].y, v[1].z - v[0].z};
                const vec3 b = {v[2].x - v[0].x, v[2].y - v[0].y, v[2].z - v[0].z};
                EXPECT_GT(a.z * b.x - a.x * b.z, 0.0f) << "triangle must face up";
                const float cx = (v[0].x + v[1].x + v[2].x) / 3.0f;
                const float cy = (v[0].y + v[1].y + v[2].y) / 3.0f;
                const float cz = (v[0].z + v[1].z + v[2].z) / 3.0f;
                EXPECT_NEAR(heightfield_height_at(&hf, cx, cz), cy, 1e-4f) << "cell " << i << "," << j;
            }
        }
    }
    heightfield_free(&hf);
}

TEST(HeightfieldQuery, SamplePointsGiveTheSampleExactly)
{
    // Terrain-like heights: neighbours within a factor of two of each other,
    // so the differences the interpolation takes are exact.
    heightfield hf = make_field([](int c, int r) { return 50.0f + 0.1f * (float)(c * c) - 0.37f * (float)r; });
    for (int row = 0; row < 9; row++)
        for (int col = 0; col < 9; col++)
            EXPECT_EQ(heightfield_height_at(&hf, (float)col * 2.0f, (float)row * 2.0f),
                      hf.heights[col + row * 9])
                << col << "," << row;
    heightfield_free(&hf);
}

TEST(HeightfieldQuery, OutsideTheGridContinuesTheEdge)
{
    heightfield hf = make_field(distinct);
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    // Left of the grid: height follows column 0 along z.
    EXPECT_FLOAT_EQ(heightfield_height_at(&hf, -5.0f, 2.0f * 3), heightfield_sample(&hf, 0, 3));
    EXPECT_FLOAT_EQ(heightfield_height_at(&hf, -1e30f, 7.0f), heightfield_height_at(&hf, 0.0f, 7.0f));
    // Beyond the extent in both axes: the corner sample.
    EXPECT_FLOAT_EQ(heightfield_height_at(&hf, hf.extent + 0.5f, hf.extent + 9.0f), heightfield_sample(&hf, 8, 8));
    EXPECT_FLOAT_EQ(heightfield_height_at(&hf, inf, -inf), heightfield_sample(&hf, 8, 0));
    // NaN positions stay on the grid instead of indexing off it.
    EXPECT_FLOAT_EQ(heightfield_height_at(&hf, nan, nan), heightfield_sample(&hf, 0, 0));
    EXPECT_FLOAT_EQ(heightfield_loaded_height_at(&hf, -3.0f, -3.0f), heightfield_sample(&hf, 0, 0));
    const vec3 n = heightfield_face_normal_at(&hf, nan, 1e38f);
    EXPECT_TRUE(std::isfinite(n.x) && std::isfinite(n.y) && std::isfinite(n.z));
    EXPECT_GE(n.y, 0.0f);
    heightfield_free(&hf);
}

TEST(HeightfieldQuery, FaceNormalIsTheTriangleCrossProduct)
{
    // A plane rising 0.5 per foot in x and 0.25 per foot in z.
    heightfield hf = make_field([](int c, int r) { return 1.0f * (float)c + 0.5f * (float)r; });
    for (float x : {0.5f, 1.5f, 2.5f, 3.7f}) {
        for (float z : {0.3f, 1.9f, 3.1f}) {
            const vec3 n = heightfield_face_normal_at(&hf, x, z);
            // Twice the area of a right triangle with legs of 2 ft: 4 in y.
            EXPECT_FLOAT_EQ(n.y, 4.0f);
            EXPECT_FLOAT_EQ(n.x, -0.5f * 4.0f);
            EXPECT_FLOAT_EQ(n.z, -0.25f * 4.0f);
        }
    }
    heightfield_free(&hf);
}

TEST(HeightfieldQuery, VertexNormalOfFlatAndSlopedGround)
{
    heightfield flat = make_field([](int, int) { return 3.0f; });
    const vec3 up = heightfield_vertex_normal(&flat, 4, 4);
    EXPECT_FLOAT_EQ(up.x, 0.0f);
    EXPECT_FLOAT_EQ(up.y, 1.0f);
    EXPECT_FLOAT_EQ(up.z, 0.0f);
    heightfield_free(&flat);

    // Height rises 1 ft per foot in x (2 per sample at spacing 2): inside,
    // the normal is (-1, 1, 0) / sqrt 2.
    heightfield slope = make_field([](int c, int) { return 2.0f * (float)c; });
    const vec3 n = heightfield_vertex_normal(&slope, 4, 4);
    EXPECT_NEAR(n.x, -0.70710678f, 1e-6f);
    EXPECT_NEAR(n.y, 0.70710678f, 1e-6f);
    EXPECT_NEAR(n.z, 0.0f, 1e-6f);
    // On the edge the clamped neighbours flatten the outer half.
    const vec3 edge = heightfield_vertex_normal(&slope, 0, 4);
    EXPECT_GT(edge.y, n.y);
    EXPECT_NEAR(edge.x * edge.x + edge.y * edge.y + edge.z * edge.z, 1.0f, 1e-6f);
    heightfield_free(&slope);
}

TEST(HeightfieldQuery, SetHeightWidensRangeAndMarksDirtyBlock)
{
    heightfield hf = make_field([](int, int) { return 1.0f; });
    const int n = hf.sample_count;
    heightfield_set_height(&hf, 3, 8, 5.0f);  // last row
    EXPECT_EQ(hf.changed_marker, 7);
    EXPECT_EQ(hf.heights[3 + 8 * n], 5.0f);
    EXPECT_EQ(hf.loaded_heights[3 + 8 * n], 1.0f);
    EXPECT_EQ(hf.height_max, 5.0f);
    EXPECT_EQ(hf.height_min, 1.0f);
    for (int row = 0; row < n; row++)
        for (int col = 0; col < n; col++) {
            const bool want = row >= 7 && col >= 2 && col <= 4;
            EXPECT_EQ(heightfield_dirty_bit(hf.shading_dirty, col + row * n), want) << col << "," << row;
        }
    // The bit set has no byte beyond the grid to spill into.
    EXPECT_EQ(heightfield_dirty_bytes(&hf), (size_t)(81 + 7) / 8);

    heightfield_set_height(&hf, 0, 0, -2.0f);
    EXPECT_EQ(hf.height_min, -2.0f);
    EXPECT_TRUE(heightfield_dirty_bit(hf.shading_dirty, 1 + 1 * n));
    EXPECT_FALSE(heightfield_dirty_bit(hf.shading_dirty, 2 + 0 * n));
    heightfield_free(&hf);
}

TEST(HeightfieldQuery, SetHeightIgnoresFrozenAndOffGridWrites)
{
    heightfield hf = make_field([](int, int) { return 1.0f; });
    hf.frozen = 1;
    heightfield_set_height(&hf, 4, 4, 9.0f);
    EXPECT_EQ(hf.heights[4 + 4 * 9], 1.0f);
    EXPECT_EQ(hf.changed_marker, 0);
    EXPECT_EQ(hf.height_max, 1.0f);
    hf.frozen = 0;
    heightfield_set_height(&hf, -1, 4, 9.0f);
    heightfield_set_height(&hf, 4, 9, 9.0f);
    EXPECT_EQ(hf.changed_marker, 0);
    EXPECT_EQ(hf.height_max, 1.0f);
    for (size_t k = 0; k < heightfield_dirty_bytes(&hf); k++)
        EXPECT_EQ(hf.shading_dirty[k], 0);
    heightfield_free(&hf);
}

}  // namespace
