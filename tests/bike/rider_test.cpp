// The rider's rules one at a time on a real bike standing on flat ground:
// the commands and the player's clutch lever, the automatic dab and brakes
// of a stopped bike, ejection after a long jump, the bump timer's limit on
// the balancing torque, direct and indirect steering, the steering lock
// against front slip, and the crash sequence's end.
#include <gtest/gtest.h>

#include <memory>

#include <cmath>

#include "bike/bike.h"
#include "bike/bike_step.h"
#include "bike/catalogue.h"
#include "bike/contact.h"
#include "bike/controls.h"
#include "bike/physics.h"
#include "bike/rider.h"
#include "bike/world_step.h"
#include "ride_world_util.h"
#include "contact_test_util.h"
#include "files/datafs.h"
#include "test_support.h"

namespace {

const float PI = 3.14159265358979f;

// ---- commands -------------------------------------------------------------------

TEST(Controls, ClutchLeverOpensAtOnceAndEngagesOverAQuarterSecond)
{
    // Pulled fully in: open straight away, from fully engaged.
    EXPECT_EQ(clutch_from_lever(1.0f, 1.0f), 0.0f);
    // From 7/8 of the lever's travel the clutch is already fully open.
    EXPECT_EQ(clutch_from_lever(0.875f, 1.0f), 0.0f);
    EXPECT_NEAR(clutch_from_lever(0.4375f, 1.0f), 0.5f, 1e-6f);

    // Let out: 1/32 per tick, engaged after exactly 32 ticks (0.25 s).
    control_actions a;
    player_control_state s;
    a.clutch_lever = 1.0f;
    EXPECT_EQ(player_control_input(&a, &s, false, false).clutch, 0.0f);
    a.clutch_lever = 0.0f;
    float c = 0.0f;
    for (int t = 1; t <= 31; t++) {
        c = player_control_input(&a, &s, false, false).clutch;
        ASSERT_NEAR(c, t / 32.0f, 1e-5f) << "tick " << t;
    }
    EXPECT_LT(c, 1.0f);
    EXPECT_NEAR(player_control_input(&a, &s, false, false).clutch, 1.0f, 1e-5f);
    EXPECT_EQ(player_control_input(&a, &s, false, false).clutch, 1.0f);
}

TEST(Controls, PlayerActionsMakeTheCommands)
{
    control_actions a;
    player_control_state s;
    a.left = 1.0f;
    a.right = 0.25f;
    a.upshift = 0.6f;
    a.lean_forward = 1.0f;
    control_input c = player_control_input(&a, &s, false, false);
    EXPECT_FLOAT_EQ(c.steer, 0.75f);
    EXPECT_EQ(c.shift, 1);
    EXPECT_FLOAT_EQ(c.lean, -1.0f);
    // "Reversed Steering" negates; a shift needs more than half.
    a.upshift = 0.5f;
    c = player_control_input(&a, &s, true, false);
    EXPECT_FLOAT_EQ(c.steer, -0.75f);
    EXPECT_EQ(c.shift, 0);
    a.upshift = 0.0f;
    a.downshift = 1.0f;
    EXPECT_EQ(player_control_input(&a, &s, false, false).shift, -1);

    // "Sticky Sit/Dab": each press toggles; holding does nothing more.
    control_actions sit;
    player_control_state st;
    sit.sit_dab = 1.0f;
    EXPECT_EQ(player_control_input(&sit, &st, false, true).sit_dab, 1.0f);
    EXPECT_EQ(player_control_input(&sit, &st, false, true).sit_dab, 1.0f);
    sit.sit_dab = 0.0f;
    EXPECT_EQ(player_control_input(&sit, &st, false, true).sit_dab, 1.0f);
    sit.sit_dab = 1.0f;
    EXPECT_EQ(player_control_input(&sit, &st, false, true).sit_dab, 0.0f);
    // Without it the control is simply held.
    sit.sit_dab = 0.5f;
    EXPECT_EQ(player_control_input(&sit, &st, false, false).sit_dab, 0.5f);
}

// ---- the laws -------------------------------------------------------------------

TEST(RiderLaws, EjectionToleranceAfterALongJump)
{
    // 0.7 s of air (at least 0.685 s gives the full reduction): 1.0 for the
    // first eighth of a second after touchdown, back to 1.5 from a quarter.
    const int air = (int)std::lround(0.7 * 128);
    for (int t = 0; t <= 16; t++)
        EXPECT_FLOAT_EQ(ejection_tolerance(air, t), 1.0f) << t;
    EXPECT_NEAR(ejection_tolerance(air, 24), 1.25f, 1e-5f);
    EXPECT_FLOAT_EQ(ejection_tolerance(air, 32), 1.5f);
    EXPECT_FLOAT_EQ(ejection_tolerance(air, 500), 1.5f);
    // Up to 0.559 s of air changes nothing.
    EXPECT_FLOAT_EQ(ejection_tolerance((int)(0.559 * 128), 0), 1.5f);
    EXPECT_FLOAT_EQ(ejection_tolerance(0, 0), 1.5f);
}

TEST(RiderLaws, BumpedRiderHasNoBalancingTorqueUntilTheTimerFallsTo128)
{
    EXPECT_EQ(bump_stability_limit(192.0f), 0.0f);
    EXPECT_EQ(bump_stability_limit(128.0f), 0.0f);
    EXPECT_FLOAT_EQ(bump_stability_limit(64.0f), 100.0f);
    EXPECT_FLOAT_EQ(bump_stability_limit(1.0f), 200.0f * 127.0f / 128.0f);
    EXPECT_FLOAT_EQ(bump_stability_limit(0.0f), 200.0f);
}

TEST(RiderLaws, SlipBeyondTheLockOnlyLetsTheSteeringBePushedBack)
{
    const float lock = 0.2f, f = 400.0f;
    const float e = 1.125f * lock + 0.015f;
    float lo, hi;
    steering_slip_limits(0.1f, lock, f, &lo, &hi);
    EXPECT_EQ(lo, -f);
    EXPECT_EQ(hi, f);
    // At the lock the limits are still the full ones...
    steering_slip_limits(lock + 1e-6f, lock, f, &lo, &hi);
    EXPECT_NEAR(lo, -f, 0.05f);
    // ...half way to e the lower limit has shrunk...
    steering_slip_limits(0.5f * (lock + e), lock, f, &lo, &hi);
    EXPECT_NEAR(lo, -f * (1.25f * 0.5f - 0.25f), 0.05f);
    EXPECT_EQ(hi, f);
    // ...and beyond e it flips to +0.25 F: the steering must turn back.
    steering_slip_limits(e + 0.01f, lock, f, &lo, &hi);
    EXPECT_FLOAT_EQ(lo, 0.25f * f);
    EXPECT_EQ(hi, f);
    // Mirrored for a slip the other way.
    steering_slip_limits(-(e + 0.01f), lock, f, &lo, &hi);
    EXPECT_EQ(lo, -f);
    EXPECT_FLOAT_EQ(hi, -0.25f * f);
}

TEST(RiderLaws, IndirectSteeringCountersteersTowardTheLeanTheCommandAsksFor)
{
    const float limit = PI / 4.0f;
    // Upright and still, no command: nothing to do.
    EXPECT_EQ(indirect_steering(0.0f, 0.0f, 0.0f, limit), 0.0f);
    // A command to the right (positive) asks for a lean to the right
    // (negative roll): the bars go left (positive) to start it.
    EXPECT_EQ(indirect_steering(1.0f, 0.0f, 0.0f, limit), 1.0f);
    EXPECT_EQ(indirect_steering(-1.0f, 0.0f, 0.0f, limit), -1.0f);
    // Already rolling at the target rate: within the dead band, nothing.
    const float target = -1.0f * limit * 2.5f;
    EXPECT_EQ(indirect_steering(1.0f, 0.0f, target, limit), 0.0f);
    // Righting goes faster than leaning over: leaning far left with no
    // command the target rate back is -5, allowed (up to 25 pi / 8)...
    EXPECT_EQ(indirect_steering(0.0f, 2.0f, -5.0f, 0.1f), 0.0f);
    EXPECT_EQ(indirect_steering(0.0f, -2.0f, 5.0f, 0.1f), 0.0f);
    // ...while leaning further over is held to 5 pi / 4: asked for a lean
    // of pi to the right from slightly right, -7.6 becomes -3.93.
    EXPECT_EQ(indirect_steering(1.0f, -0.1f, -5.0f * PI / 4.0f, PI), 0.0f);
    EXPECT_EQ(indirect_steering(1.0f, -0.1f, -7.6f, PI), -1.0f);
}

// ---- on a bike -------------------------------------------------------------------

struct Rider : ::testing::Test {
    test::temp_dir home;
    test::scoped_env xdg{"XDG_DATA_HOME", home.path.c_str()};
    test::scoped_env kz{"KZ_HOME", test::build_data_dir().c_str()};
    contact_test::terrain ground;
    std::unique_ptr<ride_world> rw;
    bike* b = nullptr;
    bike_world w;

    void SetUp() override
    {
        free_file_index();
        build_file_index();
        contact_test::make_flat(&ground, 6, 2.0f, 10.0f);
        contact_test::add_surfaces(&ground.hf, 1, 0);
        // The world takes the ground over.
        rw.reset(new ride_world());
        rw->take_ground(&ground.hf);
        // Not exactly along an axis: an exactly symmetric pose makes some
        // rows of the physics engine's solver exactly degenerate.
        b = rw->add_bare_bike("450sxf(2018)", 128.0f, 128.0f, 0.3f);
        bike_set_dab_when_stopped(b, 1);
        rw->w->race.tick = 1000;
        w.ground = &rw->ground();
        w.tick = 1000;
        w.start_tick = 0;
    }
    void TearDown() override
    {
        rw.reset();
        free_file_index();
    }
    // Ticks of the bike's world with its commands held.
    void run(int ticks, const control_input& c)
    {
        for (int t = 0; t < ticks; t++) {
            apply_control_input(b, &c);
            world_tick(rw->w);
        }
        w.tick = rw->w->race.tick;
    }
    void settle()
    {
        control_input c;
        c.clutch = 1.0f;
        run(256, c);
    }
    void zero_accumulators()
    {
        for (dBodyID body : b->bodies) {
            dBodySetForce(body, 0, 0, 0);
            dBodySetTorque(body, 0, 0, 0);
        }
    }
    float steering_torque()
    {
        dVector3 axis;
        dJointGetHingeAxis(b->joints[joint_steering_head], axis);
        const dReal* t = dBodyGetTorque(b->bodies[body_front_wheel]);
        return (float)(t[0] * axis[0] + t[1] * axis[1] + t[2] * axis[2]);
    }
    // The bike rolling forward at speed ft/s on the ground, leaning at
    // roll rate rr (rad/s), steering straight.
    void rolling(float speed, float rr)
    {
        dVector3 fwd, back;
        dBodyVectorToWorld(b->bodies[body_frame], 0, 0, -1, fwd);
        dBodyVectorToWorld(b->bodies[body_frame], 0, 0, 1, back);
        for (dBodyID body : b->bodies) {
            dBodySetLinearVel(body, fwd[0] * speed, fwd[1] * speed, fwd[2] * speed);
            dBodySetAngularVel(body, back[0] * rr, back[1] * rr, back[2] * rr);
        }
        const float radius = b->params.front_tyre_ring_radius + b->params.front_tyre_section_radius;
        dVector3 axle;
        dBodyVectorToWorld(b->bodies[body_front_wheel], 1, 0, 0, axle);
        const float spin = -speed / radius;
        dBodySetAngularVel(b->bodies[body_front_wheel], axle[0] * spin + back[0] * rr, axle[1] * spin + back[1] * rr,
                           axle[2] * spin + back[2] * rr);
        b->front_contact.depth = 0.1f;
        b->rear_contact.depth = 0.1f;
        b->landing_level = 1.0f;
        zero_accumulators();
    }
};

TEST_F(Rider, CommandsAreClampedAndAFallenRiderGivesNone)
{
    bike_set_throttle(b, 3.0f);
    bike_set_steer(b, -7.0f);
    bike_set_lean(b, NAN);
    EXPECT_EQ(b->throttle, 1.0f);
    EXPECT_EQ(b->steer, -1.0f);
    EXPECT_EQ(b->lean, 0.0f);

    control_input c;
    c.throttle = 1.0f;
    c.sit_dab = 1.0f;
    c.back_up = 1.0f;
    c.lean = 1.0f;
    c.clutch = 0.5f;
    c.front_brake = 1.0f;
    c.shift = 1;
    apply_control_input(b, &c);
    EXPECT_EQ(b->throttle, 1.0f);
    EXPECT_EQ(b->gear, 1);
    bike_set_shift(b, 0);

    bike_start_crash(b, &rw->ground());
    // The crash takes the rider's hands and feet off the controls at once...
    EXPECT_EQ(b->throttle, 0.0f);
    EXPECT_EQ(b->sit_dab, 0.0f);
    apply_control_input(b, &c);
    // ...and keeps them off while it runs; brakes and clutch still work.
    EXPECT_EQ(b->throttle, 0.0f);
    EXPECT_EQ(b->sit_dab, 0.0f);
    EXPECT_EQ(b->back_up, 0.0f);
    EXPECT_EQ(b->lean, 0.0f);
    EXPECT_EQ(b->gear, 1);
    EXPECT_EQ(b->clutch, 0.5f);
    EXPECT_EQ(b->front_brake, 1.0f);
}

TEST_F(Rider, AStoppedBikeDabsAndHoldsOnBothBrakesForThisStepOnly)
{
    settle();
    ASSERT_GT(b->front_contact.depth, 0.0f);
    ASSERT_GT(b->rear_contact.depth, 0.0f);
    ASSERT_EQ(b->crash_timer, 0);
    ASSERT_LT(std::fabs(bike_roll(b)), 0.05f);

    control_input c;
    c.clutch = 1.0f;
    apply_control_input(b, &c);
    // Stopped, throttle closed: the foot goes down and both brakes go on.
    auto_dab_and_back_up(b, &w);
    EXPECT_NEAR(b->sit_dab, 1.0f, 1e-3f);
    EXPECT_EQ(b->front_brake, 1.0f);
    EXPECT_EQ(b->rear_brake, 1.0f);

    // The frame is held against creeping: 2 ft/s sideways meets the full
    // 1000 lbf, horizontally, against the motion.
    apply_control_input(b, &c);
    zero_accumulators();
    dBodySetLinearVel(b->bodies[body_frame], 2.0, 0.0, 0.0);
    auto_dab_and_back_up(b, &w);
    const dReal* f = dBodyGetForce(b->bodies[body_frame]);
    EXPECT_NEAR(f[0], -1000.0, 1e-3);
    EXPECT_EQ(f[1], 0.0);
    EXPECT_NEAR(f[2], 0.0, 1e-3);
    dBodySetLinearVel(b->bodies[body_frame], 0.0, 0.0, 0.0);

    // Through the whole step: the brakes act (the axle motors brake with
    // the full torques), the foot comes out, and the commands read as the
    // rider gave them afterwards.
    apply_control_input(b, &c);
    const float dab_before = b->dab_amount;
    bike_step(b, &w);
    EXPECT_FLOAT_EQ((float)dJointGetHingeParam(b->joints[joint_front_axle], dParamFMax), b->front_brake_torque);
    EXPECT_FLOAT_EQ((float)dJointGetHingeParam(b->joints[joint_rear_axle], dParamFMax), b->rear_brake_torque);
    EXPECT_EQ(b->sit_dab, 0.0f);
    EXPECT_EQ(b->front_brake, 0.0f);
    EXPECT_EQ(b->rear_brake, 0.0f);
    EXPECT_GE(b->dab_amount, fminf(1.0f, dab_before) - 1e-6f);
    EXPECT_GT(b->dab_amount, 0.9f);
    physics_clear_contacts(b->space);

    // Throttle open with the clutch in and rolling: no automatic brakes.
    c.throttle = 0.5f;
    apply_control_input(b, &c);
    rolling(8.0f, 0.0f);
    auto_dab_and_back_up(b, &w);
    EXPECT_EQ(b->front_brake, 0.0f);
    EXPECT_EQ(b->rear_brake, 0.0f);

    // Without "Dab When Stopped" the rider leaves it all to the player.
    bike_set_dab_when_stopped(b, 0);
    c.throttle = 0.0f;
    apply_control_input(b, &c);
    dBodySetLinearVel(b->bodies[body_frame], 0, 0, 0);
    auto_dab_and_back_up(b, &w);
    EXPECT_EQ(b->sit_dab, 0.0f);
    EXPECT_EQ(b->front_brake, 0.0f);
    physics_clear_contacts(b->space);
}

TEST_F(Rider, AHardLandingAfterALongJumpThrowsTheRiderOffSooner)
{
    settle();
    // 0.7 s in the air, touched down 10 ticks ago: tolerance 1.0.
    b->airborne_tick = w.tick - 100;
    b->landing_tick = w.tick - 10;
    for (vec3& v : b->rider_velocity_history)
        v = {0, 0, 0};
    zero_accumulators();
    // The torso moves 40 ft/s differently from the frame: more than 31 x 1.0.
    dBodySetLinearVel(b->bodies[body_rider], 0.0, -40.0, 0.0);
    for (vec3& v : b->rider_velocity_history)
        v = {0.0f, -40.0f, 0.0f};
    b->landing_tick = w.tick - 200;  // long after the landing: 1.5, 46.5 ft/s
    eject_check(b, &w);
    EXPECT_EQ(b->crash_timer, 0);
    b->landing_tick = w.tick - 10;
    eject_check(b, &w);
    EXPECT_EQ(b->crash_timer, 512);
    EXPECT_EQ(b->crash_count, 1);
    // The rider is off the bike: his mount lets go.
    EXPECT_EQ(dJointGetBody(b->joints[joint_rider_mount], 0), nullptr);
}

TEST_F(Rider, JoltsThrowTheRiderOnlyBeyondTheAccelerationLimit)
{
    settle();
    b->landing_tick = w.tick - 500;
    b->airborne_tick = b->landing_tick - 10;
    // Rider and frame move together, but the rider went from 40 ft/s down
    // to 0 in four ticks: (40 x 32) + 32 = 1312 < 1376 x 1.5.
    for (vec3& v : b->rider_velocity_history)
        v = {0.0f, -40.0f, 0.0f};
    eject_check(b, &w);
    EXPECT_EQ(b->crash_timer, 0);
    // 60 ft/s in four ticks: 1952 < 2064, still on; 70: 2272, off.
    for (vec3& v : b->rider_velocity_history)
        v = {0.0f, -60.0f, 0.0f};
    eject_check(b, &w);
    EXPECT_EQ(b->crash_timer, 0);
    for (vec3& v : b->rider_velocity_history)
        v = {0.0f, -70.0f, 0.0f};
    // After bumping into someone from behind the rider cannot be thrown.
    b->bump_timer = -100.0f;
    eject_check(b, &w);
    EXPECT_EQ(b->crash_timer, 0);
    // Nor in arcade mode.
    b->bump_timer = 0.0f;
    bike_set_arcade_physics(b, 1);
    eject_check(b, &w);
    EXPECT_EQ(b->crash_timer, 0);
    bike_set_arcade_physics(b, 0);
    eject_check(b, &w);
    EXPECT_EQ(b->crash_timer, 512);
}

TEST_F(Rider, BumpTimerLimitsTheBalancingTorqueAndRunsOut)
{
    settle();
    bike_set_arcade_physics(b, 0);
    bike_set_direct_steering(b, 1.0f);
    b->steer = 0.0f;
    // Leaning over fast at speed: roll damping asks for a big torque.
    rolling(40.0f, 4.0f);
    b->bump_timer = 0.0f;
    steer_and_stabilise(b, &w);
    const float free = steering_torque();
    EXPECT_GT(free, 300.0f);

    rolling(40.0f, 4.0f);
    b->bump_timer = 192.0f;
    steer_and_stabilise(b, &w);
    EXPECT_NEAR(steering_torque(), 0.0f, 1e-3f);

    rolling(40.0f, 4.0f);
    b->bump_timer = 64.0f;
    steer_and_stabilise(b, &w);
    EXPECT_NEAR(steering_torque(), 1.5f * 100.0f, 1e-2f);

    // The timer runs out one tick at a time, both ways, and snaps to 0.
    b->bump_timer = 192.0f;
    start_of_step_checks(b, &w);
    EXPECT_EQ(b->bump_timer, 191.0f);
    b->bump_timer = -640.0f;
    start_of_step_checks(b, &w);
    EXPECT_EQ(b->bump_timer, -639.0f);
    b->bump_timer = 0.75f;
    start_of_step_checks(b, &w);
    EXPECT_EQ(b->bump_timer, 0.0f);
    physics_clear_contacts(b->space);
}

TEST_F(Rider, DirectSteeringOneIgnoresTheLeanTargetZeroSteersOnlyByIt)
{
    settle();
    bike_set_arcade_physics(b, 0);
    const float strength = b->steering_strength;
    auto torque = [&](float steer, float rr) {
        rolling(40.0f, rr);
        b->steer = steer;
        steer_and_stabilise(b, &w);
        return steering_torque();
    };
    // Direct 1: the command is a torque at the bars, whatever the lean
    // does (the difference is the command alone, at any roll rate).
    bike_set_direct_steering(b, 1.0f);
    EXPECT_NEAR(torque(0.5f, 0.0f) - torque(0.0f, 0.0f), 1.5f * strength * 0.5f, 1e-2f);
    EXPECT_NEAR(torque(0.5f, -0.9f) - torque(0.0f, -0.9f), 1.5f * strength * 0.5f, 1e-2f);

    // Direct 0: the command asks for a lean; rolling at the asked rate
    // leaves only the balancing torque...
    bike_set_direct_steering(b, 0.0f);
    const float target = -0.5f * b->roll_limit_angle * 2.5f;
    const float at_target = torque(0.5f, target);
    bike_set_steering_strength(b, 0.0f);
    const float balance_only = torque(0.5f, target);
    EXPECT_NEAR(at_target, balance_only, 1e-2f);
    // ...while upright and still it countersteers with the full strength.
    bike_set_steering_strength(b, strength);
    EXPECT_NEAR(torque(0.5f, 0.0f) - torque(0.0f, 0.0f), 1.5f * strength, 1e-2f);
    physics_clear_contacts(b->space);
}

TEST_F(Rider, TheCrashCountsDownOnlyWhileTheRiderLiesStillThenSeatsHim)
{
    settle();
    bike_start_crash(b, &rw->ground());
    ASSERT_EQ(b->crash_timer, 512);
    dBodyID rider = b->bodies[body_rider];
    // Flying: the clock waits.
    dBodySetLinearVel(rider, 0.0, 0.0, 3.0);
    crash_sequence(b, &w);
    EXPECT_EQ(b->crash_timer, 512);
    // Still: one tick per tick.
    dBodySetLinearVel(rider, 0.0, 0.0, 0.0);
    crash_sequence(b, &w);
    EXPECT_EQ(b->crash_timer, 511);
    physics_clear_contacts(b->space);
    // At the end he is back on his seat, on the mount again.
    b->crash_timer = 1;
    crash_sequence(b, &w);
    EXPECT_EQ(b->crash_timer, 0);
    EXPECT_EQ(dJointGetBody(b->joints[joint_rider_mount], 0), rider);
    dVector3 seat;
    const vec3 rest = {b->params.rider_pos.x - b->params.frame_pos.x, b->params.rider_pos.y - b->params.frame_pos.y,
                       b->params.rider_pos.z - b->params.frame_pos.z};
    dBodyGetRelPointPos(b->bodies[body_frame], rest.x, rest.y, rest.z, seat);
    const dReal* at = dBodyGetPosition(rider);
    EXPECT_NEAR(at[0], seat[0], 1e-5);
    EXPECT_NEAR(at[1], seat[1], 1e-5);
    EXPECT_NEAR(at[2], seat[2], 1e-5);
    physics_clear_contacts(b->space);
}

}  // namespace
