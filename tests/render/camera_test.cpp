// Camera conventions: the 4:3 field-of-view rule and the look direction of
// the yaw/pitch and look-at cameras.
#include <gtest/gtest.h>

#include <cmath>

#include "render/camera.h"

using namespace vecmath;

TEST(Camera, FieldOfViewIsTheWidthOfAFourByThreeView)
{
    view_extent e = projection_extent(1280, 720, 90);
    EXPECT_NEAR(e.half_y, 0.75f, 1e-6f);
    EXPECT_NEAR(e.half_x, 1.333333f, 1e-5f);
    e = projection_extent(640, 480, 90);
    EXPECT_NEAR(e.half_x, 1.0f, 1e-6f);
    EXPECT_NEAR(e.half_y, 0.75f, 1e-6f);
    e = projection_extent(480, 640, 90);  // portrait: the width decides
    EXPECT_NEAR(e.half_x, 1.0f, 1e-6f);
    EXPECT_NEAR(e.half_y, 1.333333f, 1e-5f);
}

TEST(Camera, YawPitchAndLookAtAgree)
{
    float r[9];
    camera_from_yaw_pitch(0, 0, r);
    vec3 b = camera_backward(r);
    EXPECT_NEAR(b.z, -1.0f, 1e-6f);  // looks along +z
    camera_from_yaw_pitch((float)M_PI / 2, 0, r);
    EXPECT_NEAR(camera_backward(r).x, -1.0f, 1e-6f);  // turned toward +x
    camera_from_yaw_pitch(0.4f, 0.3f, r);
    EXPECT_GT(-camera_backward(r).y, 0.0f);  // positive pitch looks up
    // A right-handed orthonormal frame.
    const vec3 x = camera_right(r), y = camera_up(r), z = camera_backward(r);
    EXPECT_NEAR(dot(x, y), 0.0f, 1e-6f);
    EXPECT_NEAR(length(sub(cross(x, y), z)), 0.0f, 1e-5f);
    EXPECT_GT(y.y, 0.0f);

    const vec3 eye = v3(3, 4, 5), target = v3(-7, 1, 20);
    camera_look_at(eye, target, r);
    const vec3 look = neg(camera_backward(r));
    const vec3 d = sub(target, eye);
    EXPECT_NEAR(dot(look, d) / length(d), 1.0f, 1e-6f);

    // The quaternion of a half turn about y looks back along +z.
    camera_from_quaternion(0, 0, 1, 0, r);
    EXPECT_NEAR(camera_backward(r).z, -1.0f, 1e-6f);
}
