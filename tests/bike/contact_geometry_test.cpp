// The torus and sphere queries against the height field's triangles.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "bike/contact.h"
#include "contact_test_util.h"

using namespace contact_test;

namespace {

constexpr float R = 0.8333333f;  // front tyre ring radius
constexpr float r = 0.3333333f;  // section radius
constexpr float edge_margin = 9.5367431640625e-07f;

// The triangle with an upward normal, whatever order the test wrote.
void upward(vec3 t[3])
{
    const vec3 e1 = {t[1].x - t[0].x, t[1].y - t[0].y, t[1].z - t[0].z};
    const vec3 e2 = {t[2].x - t[0].x, t[2].y - t[0].y, t[2].z - t[0].z};
    if (e1.z * e2.x - e1.x * e2.z < 0.0f)
        std::swap(t[1], t[2]);
}

TEST(TorusQuery, UprightWheelOnFlatGroundAtAnyDepth)
{
    terrain t;
    make_flat(&t, 3, 2.0f, 5.0f);
    // Barely touching, half the section, the full section (the rim's low
    // point on the ground) and sunk past it: depth = R + r - height of the
    // centre above the ground, straight up, below the centre.
    for (float depth : {0.001f, 0.5f * r, r, r + 0.2f}) {
        SCOPED_TRACE(depth);
        terrain_hit hit;
        const vec3 c = {7.3f, 5.0f + R + r - depth, 9.1f};
        ASSERT_TRUE(torus_heightfield_query(&t.hf, c, {1, 0, 0}, R, r, &hit));
        EXPECT_NEAR(hit.depth, depth, 2e-5f);
        EXPECT_VEC_NEAR(hit.normal, 0.0f, 1.0f, 0.0f, 1e-6f);
        EXPECT_NEAR(hit.point.x, c.x, 1e-5f);
        EXPECT_NEAR(hit.point.z, c.z, 1e-5f);
    }
    terrain_hit hit;
    EXPECT_FALSE(torus_heightfield_query(&t.hf, {7.3f, 5.0f + R + r + 0.01f, 9.1f}, {1, 0, 0}, R, r, &hit));
}

TEST(TorusQuery, LeaningWheelTouchesWithItsLowSide)
{
    // Leaning 30 degrees, the ring's low point is R cos 30 below the centre.
    terrain t;
    make_flat(&t, 3, 2.0f, 0.0f);
    const float lean = 0.5235988f;
    const vec3 axle = {cosf(lean), sinf(lean), 0.0f};
    const float cy = R * cosf(lean) + r - 0.1f;
    terrain_hit hit;
    ASSERT_TRUE(torus_heightfield_query(&t.hf, {8.0f, cy, 8.0f}, axle, R, r, &hit));
    EXPECT_NEAR(hit.depth, 0.1f, 2e-5f);
    EXPECT_VEC_NEAR(hit.normal, 0.0f, 1.0f, 0.0f, 1e-6f);
    // The low point lies off to the side the wheel leans toward.
    EXPECT_NEAR(hit.point.x, 8.0f + R * sinf(lean), 1e-4f);
}

TEST(TorusQuery, SunkWheelIsPushedUpWithTwiceTheRingRadius)
{
    terrain t;
    make_flat(&t, 3, 2.0f, 10.0f);
    terrain_hit hit;
    // The whole ring below the ground, upright or lying flat.
    for (vec3 axle : {vec3{1, 0, 0}, vec3{0, 1, 0}, vec3{0.3f, 0.2f, 0.9f}}) {
        ASSERT_TRUE(torus_heightfield_query(&t.hf, {5.0f, 10.0f - R - 0.5f, 5.0f}, axle, R, r, &hit));
        EXPECT_FLOAT_EQ(hit.depth, 2.0f * R);
        EXPECT_VEC_NEAR(hit.normal, 0.0f, 1.0f, 0.0f, 0.0f);
    }
    // Far below as well.
    ASSERT_TRUE(torus_heightfield_query(&t.hf, {5.0f, -1000.0f, 5.0f}, {1, 0, 0}, R, r, &hit));
    EXPECT_FLOAT_EQ(hit.depth, 2.0f * R);
    // With the centre below the ground but the ring's top above it, the
    // face contact counts the depth of the ring's low point.
    ASSERT_TRUE(torus_heightfield_query(&t.hf, {5.0f, 10.0f - 0.25f, 5.0f}, {1, 0, 0}, R, r, &hit));
    EXPECT_NEAR(hit.depth, R + 0.25f + r, 2e-5f);
}

// Cell (0, 0) is even: its diagonal runs from sample (0, 0) to (1, 1), so
// the point (0.75, 0.25) x spacing lies in the triangle (1,0), (0,0), (1,1).
// Cell (1, 0) is odd: (1.25, 0.25) x spacing lies in (1,0), (2,0), (1,1).
// Raising samples (0, 1) and (2, 1) tilts only the other triangles, so a
// small wheel resting there must see flat ground.
TEST(TorusQuery, UsesTheTerrainsDiagonalInEvenAndOddCells)
{
    terrain t;
    make_flat(&t, 3, 2.0f, 0.0f);
    const int n = t.hf.sample_count;
    t.hf.heights[0 + 1 * n] = 0.5f;
    t.hf.heights[2 + 1 * n] = 0.5f;
    const float rr = 0.1f, sr = 0.05f;
    for (float x : {0.75f * 2.0f, 1.25f * 2.0f}) {
        SCOPED_TRACE(x);
        terrain_hit hit;
        ASSERT_TRUE(torus_heightfield_query(&t.hf, {x, rr + sr - 0.02f, 0.5f}, {1, 0, 0}, rr, sr, &hit));
        EXPECT_NEAR(hit.depth, 0.02f, 1e-5f);
        EXPECT_VEC_NEAR(hit.normal, 0.0f, 1.0f, 0.0f, 1e-6f);
    }
    // The same wheel in the other triangle of cell (0, 0) sees its slope.
    const vec3 face = unit(heightfield_face_normal_at(&t.hf, 0.5f, 1.5f));
    ASSERT_LT(face.y, 0.99f);
    terrain_hit hit;
    const float y = heightfield_height_at(&t.hf, 0.5f, 1.5f) + rr + sr - 0.02f;
    ASSERT_TRUE(torus_heightfield_query(&t.hf, {0.5f, y, 1.5f}, {1, 0, 0}, rr, sr, &hit));
    EXPECT_VEC_NEAR(hit.normal, face.x, face.y, face.z, 1e-5f);
}

// The sphere walk and the height field's own triangle picking agree: a small
// sphere sunk just below the surface anywhere on a rough terrain reports
// the normal of the triangle under it.
TEST(SphereQuery, NormalIsTheFaceUnderTheSphere)
{
    terrain t;
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> h(0.0f, 3.0f);
    make_terrain(&t, 3, 2.0f, [&](float, float) { return h(rng); });
    std::uniform_real_distribution<float> pos(0.0f, 1.0f);
    int tested = 0;
    for (int k = 0; k < 400; k++) {
        const float u = pos(rng), v = pos(rng);
        // Keep away from the cell's edges and both diagonals.
        if (u < 0.1f || u > 0.9f || v < 0.1f || v > 0.9f || fabsf(u - v) < 0.1f || fabsf(u + v - 1.0f) < 0.1f)
            continue;
        const int i = 1 + k % 14, j = 1 + (k / 14) % 14;
        const float x = ((float)i + u) * 2.0f, z = ((float)j + v) * 2.0f;
        const float y = heightfield_height_at(&t.hf, x, z);
        const vec3 face = unit(heightfield_face_normal_at(&t.hf, x, z));
        // A tiny sphere whose centre sits on the surface, nudged up a hair.
        terrain_hit hit;
        const vec3 c = {x + face.x * 0.001f, y + face.y * 0.001f, z + face.z * 0.001f};
        ASSERT_TRUE(sphere_heightfield_query(&t.hf, c, 0.01f, &hit));
        EXPECT_VEC_NEAR(hit.normal, face.x, face.y, face.z, 2e-3f);
        EXPECT_NEAR(hit.depth, 0.009f, 2e-4f);
        tested++;
    }
    EXPECT_GT(tested, 50);
}

TEST(SphereQuery, DepthAgainstFaceEdgeAndVertex)
{
    const vec3 tri[3] = {{0, 0, 0}, {0, 0, 4}, {4, 0, 0}};
    terrain_hit hit;
    // Over the face.
    EXPECT_NEAR(sphere_triangle_test({1, 0.5f, 1}, 1.0f, tri, &hit), 0.5f, 1e-6f);
    EXPECT_VEC_NEAR(hit.normal, 0, 1, 0, 1e-6f);
    // Beside the hypotenuse x + z = 4: nearest point (2, 0, 2).
    EXPECT_NEAR(sphere_triangle_test({2.5f, 0, 2.5f}, 1.0f, tri, &hit), 1.0f - sqrtf(0.5f), 1e-6f);
    EXPECT_VEC_NEAR(hit.point, 2, 0, 2, 1e-6f);
    EXPECT_VEC_NEAR(hit.normal, sqrtf(0.5f), 0, sqrtf(0.5f), 1e-6f);
    // Off the corner (0, 0, 0).
    EXPECT_NEAR(sphere_triangle_test({-0.3f, 0.4f, 0}, 1.0f, tri, &hit), 0.5f, 1e-6f);
    EXPECT_VEC_NEAR(hit.point, 0, 0, 0, 1e-6f);
    // Out of reach.
    EXPECT_LE(sphere_triangle_test({-2, 0, -2}, 1.0f, tri, &hit), 0.0f);
}

TEST(SphereQuery, DownwardNormalsAreFlattenedOrTurnedUp)
{
    // A sphere whose centre is under the ground is pushed by a normal that
    // points down; that would drive it deeper.
    terrain t;
    make_terrain(&t, 3, 2.0f, [](float x, float) { return 0.5f * x; });
    terrain_hit hit;
    const float x = 8.0f, z = 8.0f;
    ASSERT_TRUE(sphere_heightfield_query(&t.hf, {x, 0.5f * x - 0.5f, z}, 1.0f, &hit));
    EXPECT_VEC_NEAR(hit.normal, 1.0f, 0.0f, 0.0f, 1e-6f);
    EXPECT_NEAR(hit.depth, 1.0f - 0.5f * 2.0f / sqrtf(5.0f), 1e-5f);

    terrain flat;
    make_flat(&flat, 3, 2.0f, 0.0f);
    ASSERT_TRUE(sphere_heightfield_query(&flat.hf, {x, -0.5f, z}, 1.0f, &hit));
    EXPECT_VEC_NEAR(hit.normal, 0.0f, 1.0f, 0.0f, 0.0f);
    EXPECT_NEAR(hit.depth, 0.5f, 1e-6f);
}

// A wheel crossing a crest straddles the edge between two triangles: the
// ring cuts both planes but its low point lies beyond each triangle. The
// edge itself passes through the wheel and must push the wheel up, not
// along its direction of travel.
TEST(TorusTriangle, CrestUnderTheWheelPushesUp)
{
    vec3 a[3] = {{-5, 0, 0}, {5, 0, 0}, {0, -2.5f, 5}};
    vec3 b[3] = {{-5, 0, 0}, {5, 0, 0}, {0, -2.5f, -5}};
    upward(a);
    upward(b);
    const vec3 c = {0.0f, R - 0.1f, 0.0f};
    for (const vec3* tri : {a, b}) {
        terrain_hit hit;
        EXPECT_NEAR(torus_triangle_test(c, {1, 0, 0}, R, r, tri, &hit), r - edge_margin, 1e-7f);
        EXPECT_VEC_NEAR(hit.normal, 0.0f, 1.0f, 0.0f, 1e-6f);
        // On the tyre below the crest: the ring's bottom minus the section.
        EXPECT_VEC_NEAR(hit.point, 0.0f, c.y - R - r, 0.0f, 1e-5f);
    }
    // A crest running at an angle to the axle still pushes straight up.
    vec3 skew[3] = {{-5, 0, -2}, {5, 0, 2}, {-2, -2.5f, 5}};
    upward(skew);
    terrain_hit hit;
    EXPECT_GT(torus_triangle_test(c, {1, 0, 0}, R, r, skew, &hit), 0.0f);
    EXPECT_NEAR(hit.normal.y, 1.0f, 1e-5f);
}

TEST(TorusTriangle, BoundaryContactBesideTheWheel)
{
    // The ring (in the y-z plane) dips 0.1 below the plane y = 0, but the
    // triangle starts at z = 0.9, beyond where the ring crosses the plane:
    // the tyre touches the triangle's near edge.
    vec3 tri[3] = {{-3, 0, 0.9f}, {3, 0, 0.9f}, {0, 0, 4}};
    upward(tri);
    const float ring = 1.0f, section = 0.3f;
    const vec3 c = {0.0f, 0.9f, 0.0f};
    terrain_hit hit;
    const float expect = section - (sqrtf(0.9f * 0.9f + 0.9f * 0.9f) - ring);
    EXPECT_NEAR(torus_triangle_test(c, {1, 0, 0}, ring, section, tri, &hit), expect, 1e-5f);
    EXPECT_VEC_NEAR(hit.normal, 0.0f, sqrtf(0.5f), -sqrtf(0.5f), 1e-4f);
    EXPECT_VEC_NEAR(hit.point, 0.0f, 0.0f, 0.9f, 1e-4f);
    // Pull the triangle further away and the tyre clears it.
    vec3 far[3] = {{-3, 0, 1.2f}, {3, 0, 1.2f}, {0, 0, 4}};
    upward(far);
    EXPECT_LE(torus_triangle_test(c, {1, 0, 0}, ring, section, far, &hit), 0.0f);
}

TEST(TorusTriangle, SunkWheelOnlyUnderTheTriangleBelowIt)
{
    vec3 tri[3] = {{0, 0, 0}, {0, 0, 4}, {4, 0, 0}};
    upward(tri);
    terrain_hit hit;
    EXPECT_FLOAT_EQ(torus_triangle_test({1, -3, 1}, {1, 0, 0}, R, r, tri, &hit), 2.0f * R);
    // Sunk just as deep but beside the triangle: no push from this one.
    EXPECT_LE(torus_triangle_test({6, -3, 6}, {1, 0, 0}, R, r, tri, &hit), 0.0f);
}

// A wheel at 60 mph (88 ft/s) over a sloped plane, one position per tick:
// it crosses cell edges and diagonals in every direction and must touch
// every tick with the same depth.
TEST(TorusQuery, ContactIsContinuousAcrossCellEdgesAtSpeed)
{
    terrain t;
    const float gx = 0.1f, gz = -0.05f;
    make_terrain(&t, 6, 2.0f, [&](float x, float z) { return 20.0f + gx * x + gz * z; });
    const vec3 n = unit({-gx, 1.0f, -gz});
    const float depth = 0.15f;
    const float step = 88.0f / 128.0f;
    struct run {
        vec3 start;
        vec3 dir;
        vec3 axle;
    };
    const float s = sqrtf(0.5f);
    const run runs[] = {
        {{10.0f, 0, 31.3f}, {1, 0, 0}, {0, 0, 1}},       // along x
        {{40.3f, 0, 10.0f}, {0, 0, 1}, {1, 0, 0}},       // along z
        {{10.0f, 0, 10.0f}, {s, 0, s}, {s, 0, -s}},      // along the diagonals
        {{10.0f, 0, 200.0f}, {s, 0, -s}, {s, 0, s}},     // across them
        {{12.1f, 0, 60.0f}, {0.8f, 0, 0.6f}, {0.6f * 0.9f, 0.43588989f, -0.8f * 0.9f}},  // leaning
    };
    for (const run& rn : runs) {
        SCOPED_TRACE(rn.dir.x * 1000 + rn.dir.z);
        // Height of the centre that gives the depth for this wheel's tilt.
        const vec3 a = unit(rn.axle);
        const float na = n.x * a.x + n.y * a.y + n.z * a.z;
        const float low = R * sqrtf(1.0f - na * na);
        float prev = -1.0f;
        for (int k = 0; k < 256; k++) {
            const float x = rn.start.x + rn.dir.x * step * (float)k;
            const float z = rn.start.z + rn.dir.z * step * (float)k;
            const float ground = 20.0f + gx * x + gz * z;
            const float y = ground + (low + r - depth) / n.y;
            terrain_hit hit;
            ASSERT_TRUE(torus_heightfield_query(&t.hf, {x, y, z}, a, R, r, &hit)) << "tick " << k;
            EXPECT_NEAR(hit.depth, depth, 2e-4f) << "tick " << k;
            EXPECT_VEC_NEAR(hit.normal, n.x, n.y, n.z, 1e-4f);
            if (prev >= 0.0f) {
                EXPECT_NEAR(hit.depth, prev, 2e-4f) << "tick " << k;
            }
            prev = hit.depth;
        }
    }
}

// Over rough ground a wheel held with its bottom below the surface must
// touch every tick, with a sane normal, wherever the cell edges fall.
TEST(TorusQuery, NoMissedContactOverRoughGround)
{
    terrain t;
    make_terrain(&t, 6, 2.0f, [](float x, float z) { return 3.0f * sinf(x * 0.21f) + 2.0f * cosf(z * 0.17f + x * 0.05f); });
    const float step = 88.0f / 128.0f;
    for (int k = 0; k < 300; k++) {
        const float x = 5.0f + step * (float)k * 0.8f;
        const float z = 7.0f + step * (float)k * 0.6f;
        const float y = heightfield_height_at(&t.hf, x, z) + R + r - 0.05f;
        terrain_hit hit;
        ASSERT_TRUE(torus_heightfield_query(&t.hf, {x, y, z}, {0.6f, 0.0f, -0.8f}, R, r, &hit)) << "tick " << k;
        EXPECT_GT(hit.depth, 0.0f);
        EXPECT_LE(hit.depth, 2.0f * R);
        EXPECT_NEAR(len(hit.normal), 1.0f, 1e-5f);
        EXPECT_GE(hit.normal.y, 0.0f);
    }
}

TEST(TorusQuery, BadInputAndPositionsOutsideTheTerrain)
{
    terrain t;
    make_flat(&t, 3, 2.0f, 1.0f);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    terrain_hit hit = {{9, 9, 9}, {9, 9, 9}, 9};
    EXPECT_FALSE(torus_heightfield_query(&t.hf, {nan, 1, 1}, {1, 0, 0}, R, r, &hit));
    EXPECT_FALSE(torus_heightfield_query(&t.hf, {1, inf, 1}, {1, 0, 0}, R, r, &hit));
    EXPECT_FALSE(torus_heightfield_query(&t.hf, {1, 1, 1}, {0, 0, 0}, R, r, &hit));
    EXPECT_FALSE(torus_heightfield_query(&t.hf, {1, 1, 1}, {nan, 0, 0}, R, r, &hit));
    EXPECT_FALSE(torus_heightfield_query(&t.hf, {1, 1, 1}, {1, 0, 0}, nan, r, &hit));
    EXPECT_FALSE(torus_heightfield_query(&t.hf, {1, 1, 1}, {1, 0, 0}, R, -r, &hit));
    EXPECT_FALSE(sphere_heightfield_query(&t.hf, {1, nan, 1}, 1.0f, &hit));
    EXPECT_FALSE(sphere_heightfield_query(&t.hf, {1, 1, 1}, inf, &hit));
    EXPECT_FLOAT_EQ(hit.depth, 9.0f);  // untouched

    heightfield empty = {};
    EXPECT_FALSE(torus_heightfield_query(&empty, {1, 1, 1}, {1, 0, 0}, R, r, &hit));
    EXPECT_FALSE(sphere_heightfield_query(&empty, {1, 1, 1}, 1.0f, &hit));

    // Beyond the edges the terrain continues its edge samples: a wheel
    // resting there touches as it would inside, however far out it is.
    for (vec3 c : {vec3{-40.0f, 0, 5.0f}, vec3{1e9f, 0, 5.0f}, vec3{-3e38f, 0, -3e38f}, vec3{5.0f, 0, 2e20f}}) {
        c.y = 1.0f + R + r - 0.1f;
        ASSERT_TRUE(torus_heightfield_query(&t.hf, c, {1, 0, 0}, R, r, &hit));
        EXPECT_NEAR(hit.depth, 0.1f, 1e-4f);
        EXPECT_VEC_NEAR(hit.normal, 0, 1, 0, 1e-6f);
        EXPECT_FLOAT_EQ(hit.point.x, c.x);
        EXPECT_FLOAT_EQ(hit.point.z, c.z);
        ASSERT_TRUE(sphere_heightfield_query(&t.hf, {c.x, 1.5f, c.z}, 1.0f, &hit));
        EXPECT_NEAR(hit.depth, 0.5f, 1e-5f);
    }
    // Absurd sizes answer (either way) without hanging or overflowing.
    (void)torus_heightfield_query(&t.hf, {5, 1, 5}, {1, 0, 0}, 1e30f, 1.0f, &hit);
    (void)sphere_heightfield_query(&t.hf, {5, 1, 5}, 3e38f, &hit);
    // Heights far above or below.
    EXPECT_FALSE(torus_heightfield_query(&t.hf, {5, 3e38f, 5}, {1, 0, 0}, R, r, &hit));
    ASSERT_TRUE(torus_heightfield_query(&t.hf, {5, -3e38f, 5}, {1, 0, 0}, R, r, &hit));
    EXPECT_FLOAT_EQ(hit.depth, 2.0f * R);
}

TEST(TorusQuery, SameInputSameBits)
{
    terrain t;
    make_terrain(&t, 4, 2.0f, [](float x, float z) { return sinf(x * 0.3f) * cosf(z * 0.2f) * 2.0f; });
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> p(0.0f, 60.0f);
    for (int k = 0; k < 100; k++) {
        const vec3 c = {p(rng), p(rng) * 0.05f - 1.0f, p(rng)};
        const vec3 a = unit({p(rng) - 30.0f, p(rng) * 0.01f, p(rng) - 30.0f});
        terrain_hit h1 = {}, h2 = {};
        const bool t1 = torus_heightfield_query(&t.hf, c, a, R, r, &h1);
        const bool t2 = torus_heightfield_query(&t.hf, c, a, R, r, &h2);
        ASSERT_EQ(t1, t2);
        EXPECT_EQ(0, memcmp(&h1, &h2, sizeof h1));
    }
}

}  // namespace
