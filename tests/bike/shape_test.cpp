// Shape files, the shape cache with its private copies, and the default
// bike shapes fitted to the catalogue geometry.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "bike/catalogue.h"
#include "bike/shape.h"
#include "files/datafs.h"
#include "test_support.h"

namespace {

struct ShapeFiles : ::testing::Test {
    test::data_dirs_fixture dirs;
    void put(const std::string& name, const std::string& text)
    {
        test::write_file(dirs.game + "/" + name, text);
        free_file_index();
    }
};

TEST_F(ShapeFiles, RadiusBoundsEverySphere)
{
    put("two.shp", "2\n0 0 0 1 0.5 1000 100\n3 4 0 0.5 0.7 2000 200\n");
    shape* s = shape_get("@two.shp");
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->sphere_count, 2);
    EXPECT_FLOAT_EQ(s->radius, 5.5f);
    EXPECT_FLOAT_EQ(s->spheres[1].x, 3);
    EXPECT_FLOAT_EQ(s->spheres[1].friction, 0.7f);
    EXPECT_FLOAT_EQ(s->spheres[1].damping, 200);
    EXPECT_STREQ(s->name, "@two.shp");
    shape_free(s);

    // No spheres: radius 0. Anything after the last sphere is not read.
    put("none.shp", "0 garbage");
    const shape* n = shape_load("@none.shp");
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(n->sphere_count, 0);
    EXPECT_EQ(n->radius, 0.0f);
}

TEST_F(ShapeFiles, APartialSphereFailsTheWholeFile)
{
    put("short.shp", "2\n0 0 0 1 0.5 1000 100\n3 4 0 0.5 0.7 2000\n");
    EXPECT_EQ(shape_get("@short.shp"), nullptr);
    // Not cached: once the file is repaired, the next request loads it.
    put("short.shp", "2\n0 0 0 1 0.5 1000 100\n3 4 0 0.5 0.7 2000 5\n");
    const shape* s = shape_load("@short.shp");
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->sphere_count, 2);

    for (const char* bad : {"", "x", "-1", "1\n0 0", "1\n0 0 0 nan 1 1 1", "1\n0 inf 0 1 1 1 1",
                            "1\n3e38 3e38 0 1 1 1 1", "99999999\n0 0 0 1 1 1 1"}) {
        put("bad.shp", bad);
        EXPECT_EQ(shape_load("@bad.shp"), nullptr) << bad;
    }
    EXPECT_EQ(shape_get("@missing.shp"), nullptr);
    EXPECT_EQ(shape_get(nullptr), nullptr);
}

TEST_F(ShapeFiles, CopiesAreIndependentAndTheFileIsReadOnce)
{
    put("copy.shp", "1\n1 2 3 0.5 0.6 700 70\n");
    shape* a = shape_get("@copy.shp");
    // The file may go away: the cache answers.
    put("copy.shp", "garbage");
    shape* b = shape_get("@copy.shp");
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    ASSERT_NE(a, b);
    EXPECT_EQ(a->source_shape, b->source_shape);
    ASSERT_NE(a->source_shape, nullptr);
    EXPECT_EQ(a->source_shape->source_shape, nullptr);
    // The copy's pointers point into its own block.
    EXPECT_EQ((const void*)a->spheres, (const void*)(a + 1));
    EXPECT_NE(a->name, a->source_shape->name);
    a->spheres[0].x = 99;
    EXPECT_FLOAT_EQ(b->spheres[0].x, 1);
    EXPECT_FLOAT_EQ(a->source_shape->spheres[0].x, 1);
    shape_free(a);
    shape_free(b);
}

TEST_F(ShapeFiles, TheCacheComparesNamesExactly)
{
    put("case.shp", "1\n0 0 0 1 1 1 1\n");
    put("CASE.shp", "1\n0 0 0 2 1 1 1\n");
    const shape* lower = shape_load("@case.shp");
    const shape* upper = shape_load("@CASE.shp");
    ASSERT_NE(lower, nullptr);
    ASSERT_NE(upper, nullptr);
    EXPECT_NE(lower, upper);
    EXPECT_FLOAT_EQ(lower->radius, 1);
    EXPECT_FLOAT_EQ(upper->radius, 2);
    EXPECT_EQ(shape_load("@case.shp"), lower);
}

// The default shapes, read from the generated data the way a bike reads
// them.
struct DefaultShapes : ::testing::Test {
    test::temp_dir home;
    test::scoped_env xdg{"XDG_DATA_HOME", home.path.c_str()};
    test::scoped_env kz{"KZ_HOME", test::build_data_dir().c_str()};
    const bike_params& p = bike_catalogue()[0];
    void SetUp() override
    {
        free_file_index();
        build_file_index();
    }
    void TearDown() override { free_file_index(); }

    // Lowest and highest point of a shape placed at its body's rest position.
    static void extent(const shape* s, vec3 origin, float* low, float* high)
    {
        *low = 1e9f;
        *high = -1e9f;
        for (int i = 0; i < s->sphere_count; i++) {
            const shape_sphere& q = s->spheres[i];
            *low = std::fmin(*low, origin.y + q.y - q.radius);
            *high = std::fmax(*high, origin.y + q.y + q.radius);
        }
    }
    // Lowest point over the shapes when the bike lies on its right side:
    // rolled 90 degrees about z, x becomes height.
    static float lying_low(const shape* s, vec3 origin)
    {
        float low = 1e9f;
        for (int i = 0; i < s->sphere_count; i++) {
            const shape_sphere& q = s->spheres[i];
            low = std::fmin(low, -(origin.x + q.x) - q.radius);
        }
        return low;
    }
};

TEST_F(DefaultShapes, FitTheCatalogueGeometry)
{
    const char* names[] = {p.frame_shape, p.fork_upper_shape, p.fork_lower_shape, p.swingarm_shape, p.rider_shape,
                           p.front_wheel_shape, p.rear_wheel_shape};
    const vec3 origins[] = {p.frame_pos, p.fork_upper_pos, p.fork_lower_pos, p.swingarm_pos, p.rider_pos,
                            p.front_wheel_pos, p.rear_wheel_pos};
    const shape* s[7];
    for (int i = 0; i < 7; i++) {
        s[i] = shape_load(names[i]);
        ASSERT_NE(s[i], nullptr) << names[i];
        EXPECT_GT(s[i]->sphere_count, 0) << names[i];
        for (int k = 0; k < s[i]->sphere_count; k++) {
            const shape_sphere& q = s[i]->spheres[k];
            EXPECT_GT(q.radius, 0);
            EXPECT_GT(q.friction, 0);
            EXPECT_GT(q.spring, 0);
            EXPECT_GT(q.damping, 0);
            // Symmetric about the bike's centre plane within a bike width.
            EXPECT_LT(std::fabs(origins[i].x + q.x), 1.3f) << names[i];
        }
    }
    // At rest only the tyres reach the ground: the lowest other part, the
    // skid plate, is 0.7 to 1.2 ft up, so it touches when the suspension
    // bottoms out (a foot of travel) but not before.
    float lowest = 1e9f;
    for (int i = 0; i < 5; i++) {
        float low, high;
        extent(s[i], origins[i], &low, &high);
        lowest = std::fmin(lowest, low);
    }
    EXPECT_GT(lowest, 0.7f);
    EXPECT_LT(lowest, 1.2f);
    float low, high;
    extent(s[0], origins[0], &low, &high);
    EXPECT_GT(high, 3.0f);                 // seat and tank height
    extent(s[4], origins[4], &low, &high);
    EXPECT_GT(high, 5.5f);                 // the rider's helmet
    EXPECT_LT(high, 6.5f);
    // The wheel shapes are the tyres: as wide as the tori they stand for.
    EXPECT_NEAR(s[5]->radius, p.front_tyre_ring_radius + p.front_tyre_section_radius, 1e-4);
    EXPECT_NEAR(s[6]->radius, p.rear_tyre_ring_radius + p.rear_tyre_section_radius, 1e-4);

    // Lying on its side the bike rests on the bar end first (the grip is
    // farthest out), then the rider, peg and bodywork.
    const float bar = lying_low(s[1], origins[1]);
    for (int i : {0, 2, 3, 4})
        EXPECT_LT(bar, lying_low(s[i], origins[i])) << names[i];
    EXPECT_NEAR(bar, -(p.grip[1].x + 0.12f), 1e-4);
}

}  // namespace
