// Putting a bike on a start spot over real terrain: raised in quarter-foot
// steps until nothing touches, never raised when already clear, and the
// probing leaves no contacts or state behind.
#include <gtest/gtest.h>

#include <cmath>

#include "bike/bike.h"
#include "bike/contact.h"
#include "bike/physics.h"
#include "contact_test_util.h"
#include "files/datafs.h"
#include "test_support.h"

namespace {

using contact_test::terrain;

const double PI = 3.14159265358979323846;

struct Placement : ::testing::Test {
    static void SetUpTestSuite() { test::physics(); }
    static void TearDownTestSuite() { test::physics_reset(); }
    test::temp_dir home;
    test::scoped_env xdg{"XDG_DATA_HOME", home.path.c_str()};
    test::scoped_env kz{"KZ_HOME", test::build_data_dir().c_str()};
    terrain ground;
    bike* b = nullptr;

    void make(float slope)
    {
        contact_test::make_terrain(&ground, 6, 1.0f, [slope](float, float z) { return 10.0f + slope * z; });
        contact_test::add_surfaces(&ground.hf, 1, 0);
    }
    void SetUp() override
    {
        free_file_index();
        build_file_index();
        b = create_bike(test::physics(), "yz250f(2017)", 0, "5", nullptr, nullptr, nullptr, nullptr);
    }
    void TearDown() override
    {
        destroy_bike(b);
        physics_clear_contacts(test::physics());
        free_file_index();
    }
    // After placement nothing may act on the bike but gravity.
    void expect_free_fall()
    {
        physics_step(test::physics());
        for (dBodyID body : b->bodies) {
            const dReal* v = dBodyGetLinearVel(body);
            EXPECT_NEAR(v[1], -32 * 0.0078125, 1e-6);
            EXPECT_NEAR(v[0] * v[0] + v[2] * v[2], 0, 1e-12);
        }
    }
};

TEST_F(Placement, FlatGroundRaisesOnceClearOfTheTyres)
{
    make(0);
    // At rest the tyres reach a little below the wheels' rest height, so a
    // bike set on the ground touches it and goes up one step.
    EXPECT_FLOAT_EQ(place_bike_at_start(b, &ground.hf, 64, 64, 0, 10), 10.25f);
    EXPECT_NEAR(bike_frame_position(b).y, 10.25 + b->params.frame_pos.y, 1e-5);
    EXPECT_NEAR(bike_frame_position(b).z, 64 + b->params.frame_pos.z, 1e-5);
    EXPECT_EQ(b->slow_or_down, 0);
    EXPECT_EQ(b->crash_timer, 0);
    EXPECT_EQ(b->front_contact.depth, 0);
    EXPECT_EQ(bike_touches_ground(b, &ground.hf), 0);
    physics_clear_contacts(test::physics());
    expect_free_fall();
}

TEST_F(Placement, ABikeAlreadyClearIsNotRaised)
{
    make(0);
    EXPECT_FLOAT_EQ(place_bike_at_start(b, &ground.hf, 64, 64, 0, 10.5f), 10.5f);
    EXPECT_NEAR(bike_frame_position(b).y, 10.5 + b->params.frame_pos.y, 1e-5);
}

TEST_F(Placement, OnASlopeTheBikeGoesUpUntilNothingTouches)
{
    // Rising 1 ft per 2 ft toward +z: the rear wheel (6 ft behind the
    // front) stands 3 ft higher than the spot.
    make(0.5f);
    const float spot = heightfield_height_at(&ground.hf, 40, 40);
    const float h = place_bike_at_start(b, &ground.hf, 40, 40, 0, spot);
    EXPECT_GT(h - spot, 2.5f);
    EXPECT_EQ(std::fmod(h - spot, 0.25f), 0.0f);
    EXPECT_EQ(bike_touches_ground(b, &ground.hf), 0);
    // One step lower it touched.
    translate_bike(b, 0, -0.25f, 0);
    EXPECT_NE(bike_touches_ground(b, &ground.hf), 0);
    physics_clear_contacts(test::physics());

    // Facing along the slope's contour (turned a quarter) it sits lower.
    const float turned = place_bike_at_start(b, &ground.hf, 40, 40, (float)(PI / 2), spot);
    EXPECT_LT(turned, h);
    const dReal* front = dBodyGetPosition(b->bodies[body_front_wheel]);
    EXPECT_NEAR(front[0], 40 + 1.11, 1e-5);
    expect_free_fall();
}

TEST_F(Placement, AnUnusableSpotLeavesTheBikeAtTheOrigin)
{
    make(0);
    place_bike_at_start(b, &ground.hf, NAN, 5, 0, 10);
    EXPECT_TRUE(std::isfinite(bike_frame_position(b).x));
    EXPECT_NEAR(bike_frame_position(b).x, 0, 1e-6);
}

}  // namespace
