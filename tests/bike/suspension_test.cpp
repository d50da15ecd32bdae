// The fork and shock laws: damper limits, the air spring, the top-out fade,
// the linkage curve and the motor commands they turn into.
#include <gtest/gtest.h>

#include <cmath>

#include "bike/suspension.h"

namespace {

const damper_values kDamper = {60.0f, 60.0f, 32.0f, 30.0f};

// The catalogue's linkage (the same for every model).
const linkage_curve kLinkage = {0.75f, 0.2836518f, 0.4133858f, 0.3150394f, 0.4604795f, 0.6070487f};

TEST(Damper, ForceOpposesMotionAndStaysWithinAnEighthToEightTimesTheSpeedTerm)
{
    EXPECT_EQ(damper_force(0.0f, kDamper), 0.0f);
    // Compression at 0.5 ft/s: 30 speed term + 60 offset = 90, below 8 x 30.
    EXPECT_FLOAT_EQ(damper_force(-0.5f, kDamper), 90.0f);
    // Very slow: the offset alone would be 60 but is held at 8 x 0.6.
    EXPECT_FLOAT_EQ(damper_force(-0.01f, kDamper), 4.8f);
    // Rebound at 1 ft/s: -32 - 30 = -62, within [-256, -4].
    EXPECT_FLOAT_EQ(damper_force(1.0f, kDamper), -62.0f);
    // Slow rebound held at 8 x the speed term.
    EXPECT_FLOAT_EQ(damper_force(0.01f, kDamper), -8.0f * 0.32f);

    // Low-speed compression at its lowest setting (offset -1 x base): a slow
    // compression would go negative but is held at 1/8 of the speed term.
    const damper_values soft = {60.0f, -60.0f, 32.0f, -30.0f};
    EXPECT_FLOAT_EQ(damper_force(-0.5f, soft), 30.0f / 8.0f);
    EXPECT_FLOAT_EQ(damper_force(0.5f, soft), -16.0f / 8.0f);
    // Fast enough that the speed term dominates the negative offset.
    EXPECT_FLOAT_EQ(damper_force(-4.0f, soft), 240.0f - 60.0f);
    for (float v : {-30.0f, -3.0f, -0.3f, -0.03f, 0.03f, 0.3f, 3.0f, 30.0f}) {
        EXPECT_LT(damper_force(v, kDamper) * v, 0.0f) << v;
        EXPECT_LT(damper_force(v, soft) * v, 0.0f) << v;
    }
}

TEST(Fork, AirSpringRisesProgressivelyWithCompression)
{
    // Air column 4/3 ft compressed by 0.5 ft: 82.46 x (1.6^1.4 - 1).
    EXPECT_NEAR(fork_air_force(0.5f, 1.0f, 1.0f / 3.0f), 76.77f, 0.01f);
    EXPECT_EQ(fork_air_force(0.0f, 1.0f, 1.0f / 3.0f), 0.0f);
    EXPECT_EQ(fork_air_force(-0.2f, 1.0f, 1.0f / 3.0f), 0.0f);
    // Compression beyond the travel reads as full travel.
    EXPECT_EQ(fork_air_force(1.5f, 1.0f, 0.25f), fork_air_force(1.0f, 1.0f, 0.25f));
    // Less air (a higher oil level) stiffens the end of the stroke.
    EXPECT_GT(fork_air_force(0.9f, 1.0f, 0.25f), fork_air_force(0.9f, 1.0f, 0.4166667f));
    const float a = fork_air_force(0.25f, 1.0f, 0.25f), b = fork_air_force(0.5f, 1.0f, 0.25f),
                c = fork_air_force(0.75f, 1.0f, 0.25f);
    EXPECT_GT(c - b, b - a);
}

TEST(Fork, NoForceAtFullExtensionAndFullForceBeyondAThirtySecondOfTravel)
{
    fork_values f = {kDamper, 600.0f, 0.0833333f, 1.0f / 3.0f, 1.0f};
    EXPECT_EQ(fork_force(f, 0.0f, 0.0f), 0.0f);
    EXPECT_EQ(fork_force(f, 0.0f, -2.0f), 0.0f);
    EXPECT_EQ(top_out_fade(0.0f, 1.0f), 0.0f);
    EXPECT_FLOAT_EQ(top_out_fade(-1.0f / 64.0f, 1.0f), 0.5f);
    EXPECT_EQ(top_out_fade(-1.0f / 32.0f, 1.0f), 1.0f);
    EXPECT_EQ(top_out_fade(-0.6f, 1.0f), 1.0f);
    // At rest half way: air + (preload + 0.5) x rate, no damping.
    const float want = fork_air_force(0.5f, 1.0f, 1.0f / 3.0f) + (0.0833333f + 0.5f) * 600.0f;
    EXPECT_NEAR(fork_force(f, -0.5f, 0.0f), want, 1e-3f);
    // Faded near the top: a quarter of the way into the fade zone.
    const float p = -1.0f / 128.0f;
    const float near_top = fork_air_force(-p, 1.0f, 1.0f / 3.0f) + (0.0833333f - p) * 600.0f;
    EXPECT_NEAR(fork_force(f, p, 0.0f), near_top * 0.25f, 1e-3f);
}

TEST(Fork, StrongReboundDampingGivesABrakeCommand)
{
    fork_values f = {{60.0f, 60.0f, 400.0f, 60.0f}, 400.0f, 0.0f, 0.4f, 1.0f};
    const float total = fork_force(f, -0.1f, 3.0f);
    ASSERT_LT(total, 0.0f);
    const motor_command m = push_command(total);
    EXPECT_EQ(m.velocity, 0.0f);
    EXPECT_EQ(m.max_force, -total);
    const motor_command push = push_command(123.0f);
    EXPECT_EQ(push.velocity, 100.0f);
    EXPECT_EQ(push.max_force, 123.0f);
    EXPECT_EQ(push_command(0.0f).velocity, 100.0f);
}

TEST(Linkage, PassesThroughTheKneeAndTheStrokeWithTheGivenSlopes)
{
    const linkage_point zero = linkage_at(kLinkage, 0.0f);
    EXPECT_EQ(zero.s, 0.0f);
    EXPECT_FLOAT_EQ(zero.slope, kLinkage.slope_0);
    const linkage_point knee = linkage_at(kLinkage, 0.75f);
    EXPECT_FLOAT_EQ(knee.s, 0.2836518f);
    EXPECT_FLOAT_EQ(knee.slope, kLinkage.slope_knee);
    // Just past the knee the second segment starts with the same slope.
    const linkage_point after = linkage_at(kLinkage, 0.75f + 1e-6f);
    EXPECT_NEAR(after.s, 0.2836518f, 1e-6f);
    EXPECT_NEAR(after.slope, kLinkage.slope_knee, 1e-4f);
    const linkage_point full = linkage_at(kLinkage, 1.0f);
    EXPECT_FLOAT_EQ(full.s, 0.4133858f);
    EXPECT_FLOAT_EQ(full.slope, kLinkage.slope_1);
    // Clamped outside 0..1, and rising all the way.
    EXPECT_EQ(linkage_at(kLinkage, -0.5f).s, 0.0f);
    EXPECT_FLOAT_EQ(linkage_at(kLinkage, 1.5f).s, 0.4133858f);
    float last = -1.0f;
    for (int i = 0; i <= 100; i++) {
        const linkage_point lp = linkage_at(kLinkage, i / 100.0f);
        EXPECT_GT(lp.s, last) << i;
        EXPECT_GT(lp.slope, 0.0f) << i;
        last = lp.s;
    }
    // The slope is the derivative of the curve.
    for (float x : {0.2f, 0.5f, 0.9f}) {
        const float d = (linkage_at(kLinkage, x + 1e-3f).s - linkage_at(kLinkage, x - 1e-3f).s) / 2e-3f;
        EXPECT_NEAR(linkage_at(kLinkage, x).slope, d, 1e-3f) << x;
    }
}

TEST(Shock, TorqueThroughTheLinkage)
{
    shock_values s = {{800.0f, 200.0f, 650.0f, 150.0f}, 3800.0f, 0.1666667f, 0.530304f, kLinkage};
    EXPECT_EQ(shock_torque(s, 0.0f, 0.0f), 0.0f);
    EXPECT_EQ(shock_torque(s, 0.0f, -3.0f), 0.0f);
    // Fully compressed and at rest: (stroke + preload) x spring x slope.
    linkage_point at;
    float speed = 1.0f;
    const float full = shock_torque(s, -0.530304f, 0.0f, &at, &speed);
    EXPECT_NEAR(full, (0.4133858f + 0.1666667f) * 3800.0f * 0.6070487f, 0.01f);
    EXPECT_FLOAT_EQ(at.s, 0.4133858f);
    EXPECT_EQ(speed, 0.0f);
    // At the knee, compressing at 1 rad/s: the linkage speed is the rate
    // times the slope and the damper adds to the spring.
    const float theta = -0.75f * 0.530304f;
    const float moving = shock_torque(s, theta, -1.0f, &at, &speed);
    EXPECT_NEAR(speed, -kLinkage.slope_knee, 1e-5f);
    const float spring = (0.2836518f + 0.1666667f) * 3800.0f;
    const float damper = damper_force(-kLinkage.slope_knee, s.damper);
    EXPECT_NEAR(moving, (spring + damper) * kLinkage.slope_knee, 0.01f);
    EXPECT_GT(moving, shock_torque(s, theta, 0.0f));
    EXPECT_LT(shock_torque(s, theta, 1.0f), shock_torque(s, theta, 0.0f));
}

}  // namespace
