// The rider's skinning bones, posed from a real bike: the rest-pose model's
// hands must land on the grips and its feet on the pegs, whatever the
// bike's orientation.
#include <gtest/gtest.h>

#include <cmath>

#include "bike/bike.h"
#include "bike/limb_pose.h"
#include "render/rider_bones.h"
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
