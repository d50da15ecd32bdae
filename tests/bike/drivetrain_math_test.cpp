// The engine, clutch, gearbox and brake laws as pure functions.
#include <gtest/gtest.h>

#include <cmath>

#include "bike/drivetrain.h"

namespace {

// rad/s at the crank for an rpm.
float crank(double rpm)
{
    return (float)(rpm / ENGINE_RPM_PER_RAD_S);
}

struct tables {
    float closed[TORQUE_POINTS];
    float open[TORQUE_POINTS];
};

tables ramp_tables()
{
    tables t;
    for (int i = 0; i < TORQUE_POINTS; i++) {
        t.closed[i] = -(float)i;
        t.open[i] = 10.0f + 2.0f * (float)i;
    }
    return t;
}

TEST(EngineTorque, InterpolatesBetweenPointsAndBlendsByThrottle)
{
    const tables t = ramp_tables();
    // 1250 rpm: position 2.5.
    EXPECT_NEAR(torque_from_tables(t.closed, t.open, crank(1250), 0.0f), -2.5f, 1e-4f);
    EXPECT_NEAR(torque_from_tables(t.closed, t.open, crank(1250), 1.0f), 15.0f, 1e-4f);
    EXPECT_NEAR(torque_from_tables(t.closed, t.open, crank(1250), 0.5f), 6.25f, 1e-4f);
    // Held at the ends of the tables.
    EXPECT_EQ(torque_from_tables(t.closed, t.open, 0.0f, 1.0f), 10.0f);
    EXPECT_EQ(torque_from_tables(t.closed, t.open, -50.0f, 1.0f), 10.0f);
    EXPECT_EQ(torque_from_tables(t.closed, t.open, crank(24500), 0.0f), -49.0f);
    EXPECT_EQ(torque_from_tables(t.closed, t.open, crank(40000), 1.0f), 108.0f);
    EXPECT_EQ(torque_from_tables(t.closed, t.open, NAN, 0.0f), 0.0f);
    EXPECT_EQ(torque_from_tables(t.closed, t.open, INFINITY, 0.0f), -49.0f);
}

TEST(Clutch, AutomaticClutchOpensBelowItsRpmAndClosesOver2000Above)
{
    EXPECT_FLOAT_EQ(auto_clutch_engagement(6000, 5000, 1.0f), 0.5f);
    EXPECT_EQ(auto_clutch_engagement(7000, 5000, 1.0f), 1.0f);
    EXPECT_EQ(auto_clutch_engagement(9000, 5000, 1.0f), 1.0f);
    EXPECT_EQ(auto_clutch_engagement(5000, 5000, 1.0f), 0.0f);
    EXPECT_EQ(auto_clutch_engagement(1000, 5000, 1.0f), 0.0f);
    // The lever wins when it is more open.
    EXPECT_EQ(auto_clutch_engagement(6000, 5000, 0.25f), 0.25f);
    EXPECT_EQ(auto_clutch_engagement(9000, 5000, 0.25f), 0.25f);
    EXPECT_EQ(auto_clutch_engagement(9000, 5000, 0.0f), 0.0f);
}

TEST(Gearbox, AbsentGearsAreNeverSelected)
{
    const float five[GEAR_COUNT] = {2.0f, 1.6666666f, 1.4f, 1.1818182f, 1.0f, -1.0f};
    const float six[GEAR_COUNT] = {2.38f, 1.93f, 1.59f, 1.35f, 1.2f, 1.09f};
    EXPECT_EQ(select_gear(five, 4, 1), 4);  // fifth stays fifth
    EXPECT_EQ(select_gear(six, 4, 1), 5);
    EXPECT_EQ(select_gear(six, 5, 1), 5);
    EXPECT_EQ(select_gear(five, 0, -1), 0);
    EXPECT_EQ(select_gear(five, 2, -1), 1);
    EXPECT_EQ(select_gear(five, 2, 0), 2);
    // A gear left in an absent slot drops to the highest present one.
    EXPECT_EQ(select_gear(five, 5, 0), 4);
    const float gaps[GEAR_COUNT] = {2.0f, 0.0f, -1.0f, 1.2f, -1.0f, -1.0f};
    EXPECT_EQ(select_gear(gaps, 0, 1), 0);
    EXPECT_EQ(select_gear(gaps, 3, 1), 3);
    EXPECT_EQ(select_gear(gaps, 3, -1), 0);

    EXPECT_EQ(auto_shift_direction(5000, 6000, 10500), -1);
    EXPECT_EQ(auto_shift_direction(8000, 6000, 10500), 0);
    EXPECT_EQ(auto_shift_direction(11000, 6000, 10500), 1);
}

TEST(Brakes, AntilockReleasesOnlyASlidingWheelOnTheGround)
{
    EXPECT_EQ(antilock_torque(500.0f, true, true, 9.0f), 0.0f);     // 3 ft/s slide
    EXPECT_EQ(antilock_torque(500.0f, true, true, 4.0f), 500.0f);   // turning with the ground
    EXPECT_EQ(antilock_torque(500.0f, true, false, 900.0f), 500.0f);
    EXPECT_EQ(antilock_torque(500.0f, false, true, 900.0f), 500.0f);
}

TEST(Angles, WrapIntoOneTurn)
{
    EXPECT_FLOAT_EQ(wrap_angle(0.5f), 0.5f);
    EXPECT_NEAR(wrap_angle(3.5f), 3.5f - 6.2831853f, 1e-6f);
    EXPECT_NEAR(wrap_angle(-3.5f), -3.5f + 6.2831853f, 1e-6f);
    EXPECT_NEAR(wrap_angle(20.0f), std::remainder(20.0f, 6.2831853f), 1e-5f);
    EXPECT_LE(std::fabs(wrap_angle(1e6f)), 3.1416f);
    EXPECT_EQ(wrap_angle(NAN), 0.0f);
}

}  // namespace
