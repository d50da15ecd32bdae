// The rider's feet, limbs and head on a real assembled bike: feet on the
// pegs and reaching for the ground, the crash blend toward the free feet,
// the free feet's flight and limits, the two-bone solver at and beyond its
// reach, and the directions the elbows, knees and head take.
#include <gtest/gtest.h>

#include <cmath>

#include "bike/bike.h"
#include "bike/limb_pose.h"
#include "bike/physics.h"
#include "contact_test_util.h"
#include "files/datafs.h"
#include "test_support.h"

using namespace contact_test;

namespace {

const float PI = 3.14159265358979f;

vec3 operator+(vec3 a, vec3 b)
{
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
vec3 operator-(vec3 a, vec3 b)
{
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
vec3 operator*(vec3 a, float k)
{
    return {a.x * k, a.y * k, a.z * k};
}
float dot(vec3 a, vec3 b)
{
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
float dist(vec3 a, vec3 b)
{
    return len(a - b);
}

vec3 world_point(dBodyID body, vec3 p)
{
    const dReal* r = dBodyGetRotation(body);
    const dReal* o = dBodyGetPosition(body);
    return {(float)(r[0] * p.x + r[1] * p.y + r[2] * p.z + o[0]),
            (float)(r[4] * p.x + r[5] * p.y + r[6] * p.z + o[1]),
            (float)(r[8] * p.x + r[9] * p.y + r[10] * p.z + o[2])};
}

struct LimbPose : ::testing::Test {
    static void SetUpTestSuite() { test::physics(); }
    static void TearDownTestSuite() { test::physics_reset(); }
    test::temp_dir home;
    test::scoped_env xdg{"XDG_DATA_HOME", home.path.c_str()};
    test::scoped_env kz{"KZ_HOME", test::build_data_dir().c_str()};
    terrain ground;
    bike* b = nullptr;
    float ground_y = 0;

    void SetUp() override
    {
        free_file_index();
        build_file_index();
        b = create_bike(test::physics(), "crf250(2018)", 0, "1", nullptr, nullptr, nullptr, nullptr);
        // Level ground just under the wheels of the rest pose.
        const bike_params& p = b->params;
        ground_y = p.rear_wheel_pos.y - p.rear_tyre_ring_radius - p.rear_tyre_section_radius;
        make_flat(&ground, 4, 4.0f, ground_y);
    }
    void TearDown() override
    {
        destroy_bike(b);
        physics_clear_contacts(test::physics());
        free_file_index();
    }
    vec3 hip(int side) const { return world_point(b->bodies[body_rider], b->params.hip[side]); }
    vec3 peg(int side) const { return world_point(b->bodies[body_frame], b->params.peg[side]); }
    void set_velocity(int body, vec3 v) { dBodySetLinearVel(b->bodies[body], v.x, v.y, v.z); }
};

TEST_F(LimbPose, FeetStayOnThePegsWithoutDabOrCrash)
{
    const foot_placement f = foot_pose(b, &ground.hf);
    for (int i = 0; i < 2; i++) {
        EXPECT_VEC_NEAR(f.feet[i], peg(i).x, peg(i).y, peg(i).z, 1e-6f);
        EXPECT_EQ(f.weights[i], 0.0f);
    }
}

TEST_F(LimbPose, AtRestUprightBothFeetStandHalfAHipWidthOutside)
{
    b->dab_amount = 1;
    const foot_placement f = foot_pose(b, &ground.hf);
    const vec3 hl = hip(0), hr = hip(1);
    ASSERT_NEAR(hr.x - hl.x, 0.538f, 1e-5f);
    EXPECT_VEC_NEAR(f.feet[0], hl.x - 0.269f, ground_y + 0.125f, hl.z, 1e-4f);
    EXPECT_VEC_NEAR(f.feet[1], hr.x + 0.269f, ground_y + 0.125f, hr.z, 1e-4f);
    EXPECT_EQ(f.weights[0], 1.0f);
    EXPECT_EQ(f.weights[1], 1.0f);

    // Half out: halfway between the peg and the ground target.
    b->dab_amount = 0.5f;
    const foot_placement half = foot_pose(b, &ground.hf);
    for (int i = 0; i < 2; i++) {
        const vec3 mid = (peg(i) + f.feet[i]) * 0.5f;
        EXPECT_VEC_NEAR(half.feet[i], mid.x, mid.y, mid.z, 1e-4f);
        EXPECT_EQ(half.weights[i], 0.5f);
    }
}

TEST_F(LimbPose, LeaningLeftWhileRidingOnlyTheLeftFootReachesForward)
{
    rotate_bike(b, 0, 0, 1, 0.3f);   // about +z leans to the left
    set_velocity(body_frame, {0, 0, -10});
    b->dab_amount = 1;
    const foot_placement f = foot_pose(b, &ground.hf);
    // r = 0.3 * 4 / pi = 0.382, s = 10 / 15: 0.309 hip widths outside the
    // left hip and (1.25 s - 0.25) r 2.5 = 0.557 ft ahead of it.
    const vec3 hl = hip(0), across = hip(1) - hip(0);
    const float r = 0.3f * 4.0f / PI;
    EXPECT_NEAR(0.5f - 0.5f * r, 0.309f, 1e-3f);
    EXPECT_VEC_NEAR(f.feet[0], hl.x - 0.309f * across.x, ground_y + 0.125f, hl.z - 0.557f, 2e-3f);
    EXPECT_EQ(f.weights[0], 1.0f);
    EXPECT_VEC_NEAR(f.feet[1], peg(1).x, peg(1).y, peg(1).z, 1e-6f);
    EXPECT_EQ(f.weights[1], 0.0f);

    // Leaning right mirrors it.
    rotate_bike(b, 0, 0, 1, -0.6f);
    const foot_placement m = foot_pose(b, &ground.hf);
    EXPECT_EQ(m.weights[0], 0.0f);
    EXPECT_EQ(m.weights[1], 1.0f);
    EXPECT_NEAR(m.feet[1].y, ground_y + 0.125f, 1e-4f);
}

TEST_F(LimbPose, CrashBlendsFromTheFreeFeetBackToThePose)
{
    b->feet[0].position = {-7, 3, 2};
    b->feet[1].position = {9, 1, -4};
    b->crash_timer = 300;
    foot_placement f = foot_pose(b, &ground.hf);
    for (int i = 0; i < 2; i++) {
        EXPECT_EQ(f.feet[i].x, b->feet[i].position.x);
        EXPECT_EQ(f.feet[i].y, b->feet[i].position.y);
        EXPECT_EQ(f.feet[i].z, b->feet[i].position.z);
        EXPECT_EQ(f.weights[i], 1.0f);
    }

    // At 64 ticks the pose is the pegs lifted 1.75 ft and moved back 2/3 ft
    // (no outward offset left), with 1/128 of the free feet mixed in.
    b->crash_timer = 64;
    f = foot_pose(b, &ground.hf);
    for (int i = 0; i < 2; i++) {
        const vec3 lifted = b->params.peg[i] + vec3{0, 1.75f, 2.0f / 3.0f};
        const vec3 pose = world_point(b->bodies[body_frame], lifted);
        const vec3 want = pose + (b->feet[i].position - pose) * (1.0f / 128.0f);
        EXPECT_VEC_NEAR(f.feet[i], want.x, want.y, want.z, 1e-5f);
        EXPECT_EQ(f.weights[i], 1.0f);
    }

    // The last tick of a crash: the pegs, offsets almost gone.
    b->crash_timer = 1;
    f = foot_pose(b, &ground.hf);
    for (int i = 0; i < 2; i++)
        EXPECT_LT(dist(f.feet[i], peg(i)), 0.15f);
}

TEST_F(LimbPose, FreeFootFallsToTheGroundAndStops)
{
    b->crash_timer = 300;
    for (int i = 0; i < 2; i++) {
        b->feet[i].position = hip(i) - vec3{0, 1.2f, 0};
        b->feet[i].velocity = {0, 0, 0};
    }
    // The ground 2 ft below the hips: within the legs' reach.
    terrain low;
    make_flat(&low, 4, 4.0f, hip(0).y - 2.0f);
    for (int t = 0; t < 256; t++)
        move_free_feet(b, &low.hf);
    for (int i = 0; i < 2; i++) {
        EXPECT_FLOAT_EQ(b->feet[i].position.y, hip(0).y - 2.0f + 0.25f);
        EXPECT_EQ(b->feet[i].velocity.x, 0.0f);
        EXPECT_EQ(b->feet[i].velocity.y, 0.0f);
        EXPECT_EQ(b->feet[i].velocity.z, 0.0f);
    }
}

TEST_F(LimbPose, FreeFeetKeepWithinTheLegAndBelowTheHips)
{
    b->crash_timer = 300;
    const float leg = b->params.leg_upper + b->params.leg_lower;
    // Left foot thrown outward and down, far past the leg's length.
    b->feet[0].position = hip(0) + vec3{-3, -1.5f, 0};
    b->feet[0].velocity = {-20, 0, 0};
    // Right foot above the hips, moving up.
    b->feet[1].position = hip(1) + vec3{0.2f, 0.5f, 0};
    b->feet[1].velocity = {0, 5, 0};
    move_free_feet(b, nullptr);

    const vec3 out = b->feet[0].position - hip(0);
    EXPECT_NEAR(len(out), leg, 1e-4f);
    // Along the leg it moves with the (resting) rider.
    EXPECT_NEAR(dot(b->feet[0].velocity, unit(out)), 0.0f, 1e-4f);

    // Onto the plane one foot below the hips, upward speed gone.
    EXPECT_NEAR(b->feet[1].position.y, hip(0).y - 1.0f, 1e-4f);
    EXPECT_NEAR(b->feet[1].velocity.y, 0.0f, 1e-5f);

    // Without a crash the stored feet are left alone.
    b->crash_timer = 0;
    const bike_foot before = b->feet[0];
    move_free_feet(b, &ground.hf);
    EXPECT_EQ(b->feet[0].position.x, before.position.x);
    EXPECT_EQ(b->feet[0].velocity.x, before.velocity.x);
}

TEST(TwoBone, ReachableLimbMeetsBothSegmentsOnThePoleSide)
{
    const vec3 a = {1, 2, 3}, end = {2.5f, 2, 3}, pole = {1.5f, 7, 3};
    const vec3 j = solve_two_bone(a, end, 1.0f, 0.8f, pole);
    EXPECT_NEAR(dist(j, a), 1.0f, 1e-5f);
    EXPECT_NEAR(dist(j, end), 0.8f, 1e-5f);
    EXPECT_GT(j.y, 2.0f);
    EXPECT_NEAR(j.z, 3.0f, 1e-6f);
}

TEST(TwoBone, TooFarBendsTo95PercentOfTheReach)
{
    const vec3 a = {0, 0, 0}, pole = {0, 0, 1};
    for (float far : {1.8f, 1.9f, 10.0f}) {
        const vec3 j = solve_two_bone(a, {far, 0, 0}, 1.0f, 0.8f, pole);
        EXPECT_NEAR(dist(j, a), 1.0f, 1e-5f) << far;
        // The second segment ends at 0.95 of the full length along the limb.
        EXPECT_NEAR(dist(j, {0.95f * 1.8f, 0, 0}), 0.8f, 1e-5f) << far;
        EXPECT_GT(j.z, 0.1f) << far;
    }
}

TEST(TwoBone, TooNearFoldsWithoutNaN)
{
    const vec3 a = {0, 0, 0}, pole = {0, 1, 0};
    // Closer than |l1 - l2|: the limb folds flat along its line.
    const vec3 j = solve_two_bone(a, {0.1f, 0, 0}, 1.0f, 0.75f, pole);
    EXPECT_VEC_NEAR(j, 1.0f, 0.0f, 0.0f, 1e-3f);
    // Root and end on one point with equal segments, a pole on the limb's
    // line, and no segment at all: finite answers.
    const vec3 same = solve_two_bone(a, a, 1.0f, 1.0f, pole);
    EXPECT_TRUE(std::isfinite(same.x) && std::isfinite(same.y) && std::isfinite(same.z));
    EXPECT_NEAR(dist(same, a), 1.0f, 1e-3f);
    const vec3 on_line = solve_two_bone(a, {1.5f, 0, 0}, 1.0f, 1.0f, {3, 0, 0});
    EXPECT_NEAR(dist(on_line, a), 1.0f, 1e-5f);
    EXPECT_NEAR(dist(on_line, {1.5f, 0, 0}), 1.0f, 1e-5f);
    const vec3 none = solve_two_bone(a, {1, 0, 0}, 0.0f, 1.0f, pole);
    EXPECT_VEC_NEAR(none, 0.0f, 0.0f, 0.0f, 0.0f);
}

TEST_F(LimbPose, ElbowsPointBackAndOutAndTheThrottleDropsTheRightOne)
{
    const bike_params& p = b->params;
    arm_chain arms = arm_pose(b);
    for (int i = 0; i < 2; i++) {
        EXPECT_VEC_NEAR(arms.shoulders[i], world_point(b->bodies[body_rider], p.shoulder[i]).x,
                        world_point(b->bodies[body_rider], p.shoulder[i]).y,
                        world_point(b->bodies[body_rider], p.shoulder[i]).z, 1e-6f);
        EXPECT_NEAR(dist(arms.elbows[i], arms.shoulders[i]), p.arm_upper, 1e-4f);
        const vec3 mid = (arms.shoulders[i] + arms.grips[i]) * 0.5f;
        EXPECT_GT(arms.elbows[i].z, mid.z) << i;   // backward
    }
    EXPECT_LT(arms.elbows[0].x, (arms.shoulders[0].x + arms.grips[0].x) * 0.5f);
    EXPECT_GT(arms.elbows[1].x, (arms.shoulders[1].x + arms.grips[1].x) * 0.5f);
    b->throttle = 1;
    const arm_chain open = arm_pose(b);
    EXPECT_LT(open.elbows[1].y, arms.elbows[1].y);
    EXPECT_EQ(open.elbows[0].y, arms.elbows[0].y);
}

TEST_F(LimbPose, KneesPointForwardAndOut)
{
    const leg_chain legs = leg_pose(b, &ground.hf);
    for (int i = 0; i < 2; i++) {
        EXPECT_NEAR(dist(legs.knees[i], legs.hips[i]), b->params.leg_upper, 1e-4f);
        EXPECT_VEC_NEAR(legs.feet[i], peg(i).x, peg(i).y, peg(i).z, 1e-6f);
        const vec3 mid = (legs.hips[i] + legs.feet[i]) * 0.5f;
        EXPECT_LT(legs.knees[i].z, mid.z) << i;   // forward
    }
    EXPECT_LT(legs.knees[0].x, (legs.hips[0].x + legs.feet[0].x) * 0.5f);
    EXPECT_GT(legs.knees[1].x, (legs.hips[1].x + legs.feet[1].x) * 0.5f);
}

TEST_F(LimbPose, HeadLooksAheadAtRestAndIntoTheTurnAtSpeed)
{
    head_frame h = head_pose(b);
    const vec3 at = world_point(b->bodies[body_rider], b->params.head_point);
    EXPECT_VEC_NEAR(h.position, at.x, at.y, at.z, 1e-6f);
    auto orthonormal = [](const head_frame& f) {
        for (int i = 0; i < 3; i++) {
            EXPECT_NEAR(len(f.axes[i]), 1.0f, 1e-5f);
            for (int k = i + 1; k < 3; k++)
                EXPECT_NEAR(dot(f.axes[i], f.axes[k]), 0.0f, 1e-5f);
        }
    };
    orthonormal(h);
    // At rest: looking forward (the backward axis points back), upright,
    // not turned.
    EXPECT_GT(h.axes[2].z, 0.5f);
    EXPECT_GT(h.axes[1].y, 0.5f);
    EXPECT_NEAR(h.axes[2].x, 0.0f, 1e-6f);

    // Moving fast forward and to the left: the face turns left.
    set_velocity(body_rider, {-30, 0, -50});
    h = head_pose(b);
    orthonormal(h);
    EXPECT_GT(h.axes[2].x, 0.05f);
    // Moving backward along the rider is ignored.
    set_velocity(body_rider, {0, 0, 40});
    const head_frame back = head_pose(b);
    set_velocity(body_rider, {0, 0, 0});
    const head_frame rest = head_pose(b);
    for (int i = 0; i < 3; i++)
        EXPECT_VEC_NEAR(back.axes[i], rest.axes[i].x, rest.axes[i].y, rest.axes[i].z, 1e-6f);

    // Upside down it still gives a finite, orthonormal frame.
    rotate_bike(b, 0, 0, 1, PI);
    set_velocity(body_rider, {5, -20, 3});
    h = head_pose(b);
    orthonormal(h);
}

TEST_F(LimbPose, WholeFigureMatchesItsParts)
{
    b->dab_amount = 1;
    const rider_pose r = compute_rider_pose(b, &ground.hf);
    const leg_chain legs = leg_pose(b, &ground.hf);
    const arm_chain arms = arm_pose(b);
    for (int i = 0; i < 2; i++) {
        EXPECT_EQ(r.legs.knees[i].x, legs.knees[i].x);
        EXPECT_EQ(r.legs.feet[i].y, legs.feet[i].y);
        EXPECT_EQ(r.arms.elbows[i].z, arms.elbows[i].z);
    }
    EXPECT_NEAR(r.legs.feet[0].y, ground_y + 0.125f, 1e-4f);
}

}  // namespace
