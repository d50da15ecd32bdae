// The rider's skinning bones, posed from a real bike: the rest-pose model's
// hands must land on the grips and its feet on the pegs, whatever the
// bike's orientation.
#include <gtest/gtest.h>

#include <ode/ode.h>

#include <cmath>
#include <cstring>

#include "bike/bike.h"
#include "bike/limb_pose.h"
#include "render/rider_bones.h"
#include "render/scene.h"
#include "test_support.h"

using namespace vecmath;

namespace {

float distance(vec3 a, vec3 b)
{
    return length(sub(a, b));
}

// The rest-pose point l feet beyond a joint along the limb's rest direction.
vec3 rest_point(int pivot, vec3 direction, float l)
{
    const float* c = RIDER_BONE_PIVOTS[pivot];
    return add_scaled(v3(c[0], c[1], c[2]), direction, l);
}

}  // namespace

TEST(RiderBones, RestPoseLimbsReachTheGripsAndFeet)
{
    for (const char* model : {"yz250f(2017)", "crf150r(2017)"}) {
        bike* b = create_bike(test::physics(), model, 0, "1", nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(b, nullptr);
        // Turned and tipped, so that an axis mix-up cannot pass.
        rotate_bike(b, 0, 1, 0, 0.7f);
        rotate_bike(b, 0, 0, 1, 0.3f);
        translate_bike(b, 10, 3, -4);
        rider_bones bones;
        compute_rider_bones(b, nullptr, &bones);
        const arm_chain arms = arm_pose(b);
        const leg_chain legs = leg_pose(b, nullptr);
        const bike_params& p = b->params;

        // Every bone carries its pivot to its joint.
        EXPECT_LT(distance(rider_bone_apply(bones, bone_left_forearm, rest_point(0, v3(0, 0, 0), 0)), arms.elbows[0]),
                  1e-5f);
        EXPECT_LT(distance(rider_bone_apply(bones, bone_right_thigh, rest_point(7, v3(0, 0, 0), 0)), legs.hips[1]),
                  1e-5f);

        // Hands: the arms are stretched sideways in the rest pose.
        const vec3 left_hand = rider_bone_apply(bones, bone_left_forearm, rest_point(0, v3(-1, 0, 0), p.arm_lower));
        const vec3 right_hand = rider_bone_apply(bones, bone_right_forearm, rest_point(1, v3(1, 0, 0), p.arm_lower));
        EXPECT_LT(distance(left_hand, arms.grips[0]), 1e-3f) << model;
        EXPECT_LT(distance(right_hand, arms.grips[1]), 1e-3f) << model;
        // Elbows seen from the upper arms.
        EXPECT_LT(distance(rider_bone_apply(bones, bone_left_upper_arm, rest_point(2, v3(-1, 0, 0), p.arm_upper)),
                           arms.elbows[0]),
                  1e-3f);
        // Feet: the legs hang straight down.
        for (int i = 0; i < 2; i++) {
            const vec3 foot = rider_bone_apply(bones, bone_left_shin + i, rest_point(4 + i, v3(0, -1, 0), p.leg_lower));
            EXPECT_LT(distance(foot, legs.feet[i]), 1e-3f) << model << " foot " << i;
            const vec3 knee = rider_bone_apply(bones, bone_left_thigh + i, rest_point(6 + i, v3(0, -1, 0), p.leg_upper));
            EXPECT_LT(distance(knee, legs.knees[i]), 1e-3f);
        }
        // The torso stands on the hips and keeps its length.
        const vec3 shoulder_centre = rider_bone_apply(bones, bone_pelvis, v3(0, 0.875f, 0.01f));
        EXPECT_GT(shoulder_centre.y, legs.hips[0].y);
        for (float r : bones.rotations)
            EXPECT_TRUE(std::isfinite(r));
        destroy_bike(b);
    }
}

// Shoulders pressed toward the bars: the drawn torso turns back about its
// hip by what the reach lacks, and the bones follow the drawn torso; at a
// comfortable reach nothing changes. The physics body is only read.
TEST(RiderBones, DrawnLeanTurnsTheTorsoBackAboutTheHip)
{
    bike* b = create_bike(test::physics(), "yz250f(2017)", 0, "1", nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(b, nullptr);
    rotate_bike(b, 0, 1, 0, 0.5f);
    translate_bike(b, 3, 2, -7);
    const bike_params& p = b->params;
    const dBodyID rider = b->bodies[body_rider];
    auto world_of = [](const dReal* R, const dReal* t, vec3 q) {
        return v3((float)(R[0] * q.x + R[1] * q.y + R[2] * q.z + t[0]),
                  (float)(R[4] * q.x + R[5] * q.y + R[6] * q.z + t[1]),
                  (float)(R[8] * q.x + R[9] * q.y + R[10] * q.z + t[2]));
    };
    auto reach = [&]() {
        const dBodyID fork = b->bodies[body_fork_upper];
        const vec3 s =
            world_of(dBodyGetRotation(rider), dBodyGetPosition(rider), v3(0, p.shoulder[0].y, p.shoulder[0].z));
        const vec3 g = world_of(dBodyGetRotation(fork), dBodyGetPosition(fork), v3(0, p.grip[0].y, p.grip[0].z));
        return sub(g, s);
    };
    // The rider moved so that his shoulders are d from the bars.
    auto set_reach = [&](float d) {
        const vec3 to_bars = reach();
        const vec3 move = scale(to_bars, 1.0f - d / length(to_bars));
        const dReal* at = dBodyGetPosition(rider);
        dBodySetPosition(rider, at[0] + move.x, at[1] + move.y, at[2] + move.z);
    };

    double R[12], t[3];
    set_reach(1.5f);
    EXPECT_FALSE(rider_drawn_placement(b, R, t));
    for (int k = 0; k < 12; k++)
        EXPECT_EQ(R[k], dBodyGetRotation(rider)[k]);
    for (int k = 0; k < 3; k++)
        EXPECT_EQ(t[k], dBodyGetPosition(rider)[k]);

    // A quarter of a foot inside the reach: y tips toward the back axis by
    // atan(0.375 x 0.25).
    set_reach(1.0f);
    dReal body_R[12], body_t[3];
    memcpy(body_R, dBodyGetRotation(rider), sizeof body_R);
    memcpy(body_t, dBodyGetPosition(rider), sizeof body_t);
    ASSERT_TRUE(rider_drawn_placement(b, R, t));
    EXPECT_EQ(memcmp(body_R, dBodyGetRotation(rider), sizeof body_R), 0);
    EXPECT_EQ(memcmp(body_t, dBodyGetPosition(rider), sizeof body_t), 0);
    const vec3 x0 = v3((float)body_R[0], (float)body_R[4], (float)body_R[8]);
    const vec3 y0 = v3((float)body_R[1], (float)body_R[5], (float)body_R[9]);
    const vec3 z0 = v3((float)body_R[2], (float)body_R[6], (float)body_R[10]);
    const vec3 x1 = v3((float)R[0], (float)R[4], (float)R[8]);
    const vec3 y1 = v3((float)R[1], (float)R[5], (float)R[9]);
    EXPECT_LT(distance(x1, x0), 1e-6f);
    const float tip = std::atan(0.375f * 0.25f);
    EXPECT_NEAR(dot(y1, y0), std::cos(tip), 1e-5f);
    EXPECT_NEAR(dot(y1, z0), std::sin(tip), 1e-5f);
    EXPECT_NEAR(length(y1), 1.0f, 1e-6f);
    EXPECT_LT(distance(world_of(R, t, p.hip[0]), world_of(body_R, body_t, p.hip[0])), 1e-4f);
    // The shoulders are drawn further from the bars.
    const vec3 drawn_shoulder = world_of(R, t, p.shoulder[0]);
    const vec3 shoulder = world_of(body_R, body_t, p.shoulder[0]);
    EXPECT_GT(distance(drawn_shoulder, shoulder), 0.05f);

    // The bones take the drawn torso: the spine runs along the drawn y.
    rider_placement placed;
    memcpy(placed.rotation, R, sizeof R);
    memcpy(placed.position, t, sizeof t);
    rider_bones drawn, physical;
    compute_rider_bones(b, nullptr, &drawn, &placed);
    compute_rider_bones(b, nullptr, &physical);
    const float* spine = drawn.rotations + 9 * bone_pelvis + 3;
    const float* upright = physical.rotations + 9 * bone_pelvis + 3;
    EXPECT_GT(dot(v3(spine[0], spine[1], spine[2]), z0), dot(v3(upright[0], upright[1], upright[2]), z0) + 0.05f);
    const arm_chain arms = arm_pose(b, &placed);
    EXPECT_LT(distance(arms.shoulders[0], drawn_shoulder), 1e-4f);
    destroy_bike(b);
}
