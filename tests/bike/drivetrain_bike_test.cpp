// Suspension and drivetrain on an assembled bike in the physics world (no
// ground): the joint conventions the motor commands rely on, the catalogue's
// torque tables, shifting, the clutch coupling and the brakes.
#include <gtest/gtest.h>

#include <cmath>

#include "bike/bike.h"
#include "bike/catalogue.h"
#include "bike/drivetrain.h"
#include "bike/physics.h"
#include "bike/suspension.h"
#include "files/datafs.h"
#include "test_support.h"

namespace {

const float PI = 3.14159265358979f;

float crank(double rpm)
{
    return (float)(rpm / ENGINE_RPM_PER_RAD_S);
}

struct BikeDrivetrain : ::testing::Test {
    static void SetUpTestSuite() { test::physics(); }
    static void TearDownTestSuite() { test::physics_reset(); }

    test::scoped_env data{"KZ_HOME", test::build_data_dir().c_str()};
    bike* b = nullptr;

    void SetUp() override
    {
        free_file_index();
        b = create_bike(test::physics(), "450sxf(2018)", 0, "1", nullptr, nullptr, nullptr, nullptr);
    }
    void TearDown() override
    {
        destroy_bike(b);
        physics_clear_contacts(test::physics());
        free_file_index();
    }

    dReal motor(int joint, int param) const
    {
        dJointID j = b->joints[joint];
        return dJointGetType(j) == dJointTypeSlider ? dJointGetSliderParam(j, param) : dJointGetHingeParam(j, param);
    }

    // Turns the swingarm with its wheel about the pivot (negative compresses).
    void pose_swingarm(float angle)
    {
        const vec3 pivot = b->params.swingarm_pivot;
        dMatrix3 r;
        dRFromAxisAndAngle(r, 1, 0, 0, angle);
        for (int body : {(int)body_swingarm, (int)body_rear_wheel}) {
            const vec3 rest = body == body_swingarm ? b->params.swingarm_pos : b->params.rear_wheel_pos;
            const float dy = rest.y - pivot.y, dz = rest.z - pivot.z;
            dBodySetPosition(b->bodies[body], rest.x, pivot.y + dy * std::cos(angle) - dz * std::sin(angle),
                             pivot.z + dy * std::sin(angle) + dz * std::cos(angle));
            dBodySetRotation(b->bodies[body], r);
        }
    }
};

TEST_F(BikeDrivetrain, CatalogueTorqueTablesAtTheTablePoints)
{
    b->engine_speed = crank(6000);
    b->throttle = 0.5f;
    EXPECT_NEAR(engine_torque(b), 13.9041f, 1e-3f);
    b->engine_speed = crank(6250);
    b->throttle = 1.0f;
    EXPECT_NEAR(engine_torque(b), 33.61085f, 1e-3f);
    b->throttle = 0.0f;
    b->engine_speed = 0.0f;
    EXPECT_EQ(engine_torque(b), 2.0f);
    b->engine_speed = crank(30000);
    EXPECT_EQ(engine_torque(b), -23.0f);
    b->engine_speed = crank(6000);
    EXPECT_NEAR(engine_rpm(b), 6000.0f, 0.01f);
}

TEST_F(BikeDrivetrain, WheelieLimiterCutsOnlyPositiveTorqueWithTheFrontUp)
{
    b->engine_speed = crank(8000);
    b->throttle = 1.0f;
    const float full = engine_torque(b);
    ASSERT_GT(full, 0.0f);
    bike_set_stop_wheelies(b, 3);
    b->rear_contact.depth = 0.1f;
    b->front_contact.depth = 0.0f;
    EXPECT_EQ(engine_torque(b), 0.0f);
    // The nose already dropping fast enough: drive passes.
    dBodySetAngularVel(b->bodies[body_frame], -0.5, 0, 0);
    EXPECT_EQ(engine_torque(b), full);
    dBodySetAngularVel(b->bodies[body_frame], 0, 0, 0);
    b->front_contact.depth = 0.1f;
    EXPECT_EQ(engine_torque(b), full);
    // Engine braking is never cut.
    b->front_contact.depth = 0.0f;
    b->throttle = 0.0f;
    EXPECT_LT(engine_torque(b), 0.0f);
}

TEST_F(BikeDrivetrain, AHeldShiftShiftsOnceAndAbsentGearsAreSkipped)
{
    for (int i = 0; i < 50; i++)
        shift(b, 1);
    EXPECT_EQ(b->gear, 1);
    shift(b, 0);
    shift(b, 1);
    EXPECT_EQ(b->gear, 2);
    shift(b, 2);  // out of range: ignored, and does not re-arm
    shift(b, 1);
    EXPECT_EQ(b->gear, 2);
    for (int i = 0; i < 5; i++) {
        shift(b, 0);
        shift(b, 1);
    }
    EXPECT_EQ(b->gear, 4);  // fifth of a five-speed
    shift(b, -1);
    EXPECT_EQ(b->gear, 3);
    b->crash_timer = 100;
    shift(b, 0);
    shift(b, -1);
    EXPECT_EQ(b->gear, 3);
}

TEST_F(BikeDrivetrain, SuspensionReadsTheJointsAsAssembled)
{
    // At rest fully extended: no force at all, whatever the preload.
    apply_suspension(b);
    EXPECT_EQ(motor(joint_fork_slider, dParamFMax), 0.0);
    EXPECT_EQ(motor(joint_swingarm_pivot, dParamFMax), 0.0);

    // Compress the fork by 0.5 ft: the lower leg slides up its axis.
    const vec3 up = b->params.fork_upper_pos, lo = b->params.fork_lower_pos;
    const float ax = up.x - lo.x, ay = up.y - lo.y, az = up.z - lo.z;
    const float len = std::sqrt(ax * ax + ay * ay + az * az);
    dBodySetPosition(b->bodies[body_fork_lower], lo.x + 0.5f * ax / len, lo.y + 0.5f * ay / len,
                     lo.z + 0.5f * az / len);
    ASSERT_NEAR(dJointGetSliderPosition(b->joints[joint_fork_slider]), -0.5, 1e-5);
    // Swingarm compressed by 0.2 rad (the wheel moved up).
    pose_swingarm(-0.2f);
    ASSERT_GT(dBodyGetPosition(b->bodies[body_rear_wheel])[1], b->params.rear_wheel_pos.y);
    ASSERT_NEAR(dJointGetHingeAngle(b->joints[joint_swingarm_pivot]), -0.2, 1e-5);

    apply_suspension(b);
    const float fork = fork_force(bike_fork_values(b), -0.5f, 0.0f);
    EXPECT_GT(fork, 100.0f);
    EXPECT_NEAR(motor(joint_fork_slider, dParamFMax), fork, 1e-3);
    EXPECT_EQ(motor(joint_fork_slider, dParamVel), 100.0);
    const float shock = shock_torque(bike_shock_values(b), -0.2f, 0.0f);
    EXPECT_GT(shock, 100.0f);
    EXPECT_NEAR(motor(joint_swingarm_pivot, dParamFMax), shock, 1e-2);
    EXPECT_EQ(motor(joint_swingarm_pivot, dParamVel), 100.0);

    // A fast rebound with the softest spring and hardest rebound damping: the
    // damper outweighs the springs and the motor brakes.
    bike_set_fork(b, 1, 0, 4, 1, 0, 0, 0);
    dBodySetLinearVel(b->bodies[body_fork_lower], -8 * ax / len, -8 * ay / len, -8 * az / len);
    ASSERT_GT(dJointGetSliderPositionRate(b->joints[joint_fork_slider]), 7.9);
    apply_suspension(b);
    EXPECT_EQ(motor(joint_fork_slider, dParamVel), 0.0);
    EXPECT_NEAR(motor(joint_fork_slider, dParamFMax), -fork_force(bike_fork_values(b), -0.5f, 8.0f), 0.5);

    const suspension_graph_values fg = fork_graph_values(b);
    EXPECT_NEAR(fg.travel, 0.5f, 1e-5f);
    EXPECT_NEAR(fg.damping_share, 30.0f / (8.0f * 32.0f + 30.0f), 1e-3f);
    const suspension_graph_values sg = shock_graph_values(b);
    EXPECT_NEAR(sg.travel, 0.2f / 0.530304f, 1e-4f);
}

TEST_F(BikeDrivetrain, SetupDampingMultipliersAndOffsetsReachTheLaws)
{
    bike_setup s;
    s.fork_compression_adjustment = 0;
    s.fork_rebound_adjustment = 100;
    s.fork_slow_compression_adjustment = 0;
    s.fork_slow_rebound_adjustment = 100;
    s.shock_compression_adjustment = 50;
    s.shock_slow_compression_adjustment = 50;
    ASSERT_TRUE(apply_bike_setup(b, &s, true));
    const fork_values f = bike_fork_values(b);
    EXPECT_FLOAT_EQ(f.damper.hsc, 0.25f * 60.0f);
    EXPECT_FLOAT_EQ(f.damper.hsr, 4.0f * 32.0f);
    EXPECT_FLOAT_EQ(f.damper.lsc, -60.0f);
    EXPECT_FLOAT_EQ(f.damper.lsr, 30.0f);
    const shock_values sh = bike_shock_values(b);
    EXPECT_FLOAT_EQ(sh.damper.hsc, 800.0f);
    EXPECT_FLOAT_EQ(sh.damper.lsc, 0.0f);
    // The lowest low-speed setting holds slow compression damping at an
    // eighth of the speed term instead of letting it go negative.
    EXPECT_FLOAT_EQ(damper_force(-0.5f, f.damper), 0.5f * 15.0f / 8.0f);
}

TEST_F(BikeDrivetrain, BrakesActAsMotorsAndAntilockReleasesASlidingWheel)
{
    bike_set_front_antilock(b, 1);
    bike_set_rear_antilock(b, 0);
    bike_set_stop_wheelies(b, 0);
    b->front_brake = 1.0f;
    b->rear_brake = 0.5f;
    b->clutch = 1.0f;
    // Locked front wheel sliding at 3 ft/s on the ground: released.
    b->front_contact.depth = 0.1f;
    b->front_contact.point_velocity = {0.0f, 0.0f, -3.0f};
    b->rear_contact.depth = 0.1f;
    b->rear_contact.point_velocity = {0.0f, 0.0f, -3.0f};
    drivetrain_step(b, 1);
    EXPECT_EQ(motor(joint_front_axle, dParamFMax), 0.0);
    EXPECT_EQ(motor(joint_front_axle, dParamVel), 0.0);
    EXPECT_FLOAT_EQ((float)motor(joint_rear_axle, dParamFMax), 0.5f * b->rear_brake_torque);
    // Turning with the ground again: the brake acts.
    b->front_contact.point_velocity = {0.0f, 0.0f, -1.5f};
    drivetrain_step(b, 2);
    EXPECT_FLOAT_EQ((float)motor(joint_front_axle, dParamFMax), b->front_brake_torque);
    // In the air antilock has nothing to release.
    b->front_contact.depth = 0.0f;
    b->front_contact.point_velocity = {0.0f, 0.0f, -30.0f};
    drivetrain_step(b, 3);
    EXPECT_FLOAT_EQ((float)motor(joint_front_axle, dParamFMax), b->front_brake_torque);
    // Stoppie release: front down, rear up.
    bike_set_stop_wheelies(b, 2);
    b->front_contact.depth = 0.1f;
    b->front_contact.point_velocity = {0.0f, 0.0f, 0.0f};
    b->rear_contact.depth = 0.0f;
    drivetrain_step(b, 4);
    EXPECT_EQ(motor(joint_front_axle, dParamFMax), 0.0);
}

TEST_F(BikeDrivetrain, EngineFreeRevsWithTheClutchInAndNeverStalls)
{
    b->clutch = 0.0f;
    b->throttle = 1.0f;
    for (int t = 0; t < 3 * 128; t++)
        drivetrain_step(b, t);
    // Full throttle runs up to where the open table reaches zero torque.
    EXPECT_GT(engine_rpm(b), 11000.0f);
    EXPECT_LT(engine_rpm(b), 12500.0f);
    EXPECT_NEAR(dJointGetHingeAngleRate(b->joints[joint_rear_axle]), 0.0, 1e-6);
    b->throttle = 0.0f;
    for (int t = 0; t < 20 * 128; t++)
        drivetrain_step(b, t);
    // Idles where the closed table turns from drag to push.
    EXPECT_GT(engine_rpm(b), 1000.0f);
    EXPECT_LT(engine_rpm(b), 2000.0f);
}

TEST_F(BikeDrivetrain, ClutchDrivesTheRearWheelForwardAndSlipsBeyondAQuarterTurn)
{
    b->clutch = 1.0f;
    b->throttle = 1.0f;
    dWorldSetGravity(test::physics()->world, 0, 0, 0);
    float max_twist = 0.0f;
    for (int t = 0; t < 256; t++) {
        drivetrain_step(b, t);
        const float twist = wrap_angle(b->engine_angle - (float)dJointGetHingeAngle(b->joints[joint_rear_axle]));
        max_twist = std::fmax(max_twist, std::fabs(twist));
        physics_step(test::physics());
    }
    dWorldSetGravity(test::physics()->world, 0, -32, 0);
    // The automatic clutch let the engine rev up first, then drove the wheel
    // (a positive axle rate is forward rotation).
    const float rate = (float)dJointGetHingeAngleRate(b->joints[joint_rear_axle]);
    EXPECT_GT(rate, 10.0f);
    EXPECT_GT(engine_rpm(b), 5000.0f);
    EXPECT_LE(max_twist, PI / 4.0f + 1e-4f);
    // Locked together, engine and wheel turn at the gear ratio.
    EXPECT_NEAR(b->engine_speed / (overall_ratio(b) * rate), 1.0f, 0.1f);
}

TEST_F(BikeDrivetrain, WithoutAFinalDriveTheEngineRunsUncoupled)
{
    b->final_ratio = 0.0f;
    b->clutch = 1.0f;
    b->throttle = 1.0f;
    b->engine_speed = crank(9000);
    for (int t = 0; t < 64; t++)
        drivetrain_step(b, t);
    EXPECT_TRUE(std::isfinite(b->engine_speed));
    EXPECT_GT(engine_rpm(b), 9000.0f);
    EXPECT_TRUE(std::isfinite(b->engine_angle));
    const dReal* t = dBodyGetTorque(b->bodies[body_rear_wheel]);
    EXPECT_EQ(t[0], 0.0);
}

TEST_F(BikeDrivetrain, EngineBrakingIsNotOpenedByTheAutomaticClutch)
{
    // Wheel turning far faster than a 3000 rpm engine in first gear: the
    // coupling torque is negative and the engine is dragged up even though
    // the automatic clutch would be open at this rpm.
    b->clutch = 1.0f;
    b->throttle = 0.0f;
    b->engine_speed = crank(3000);
    const float g = overall_ratio(b);
    dBodySetAngularVel(b->bodies[body_rear_wheel], -crank(9000) / g, 0, 0);
    const float before = b->engine_speed;
    drivetrain_step(b, 1);
    EXPECT_GT(b->engine_speed, before);
    // With the lever pulled the wheel turns freely.
    b->engine_speed = crank(3000);
    b->clutch = 0.0f;
    drivetrain_step(b, 2);
    EXPECT_LT(b->engine_speed, crank(3000));
}

}  // namespace
