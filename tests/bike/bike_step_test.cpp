// The bike step's own rules: the joint force correction, contacts between
// bikes (joints for the first pair of a tick, penalty forces after it; the
// online rule that a remote bike's front only detects the own bike's
// rear), the bump rules, ghosts staying out of everything, and the same
// bits from the same crowded ride.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "bike/bike.h"
#include "bike/bike_internal.h"
#include "bike/bike_step.h"
#include "bike/contact.h"
#include "bike/controls.h"
#include "bike/physics.h"
#include "bike/rider.h"
#include "bike/shape.h"
#include "bike/world_step.h"
#include "ride_world_util.h"
#include "contact_test_util.h"
#include "files/datafs.h"
#include "test_support.h"

namespace {

struct BikeStep : ::testing::Test {
    static void SetUpTestSuite() { test::physics(); }
    static void TearDownTestSuite() { test::physics_reset(); }
    test::temp_dir home;
    test::scoped_env xdg{"XDG_DATA_HOME", home.path.c_str()};
    test::scoped_env kz{"KZ_HOME", test::build_data_dir().c_str()};
    contact_test::terrain ground;
    std::vector<bike*> bikes;

    void SetUp() override
    {
        free_file_index();
        build_file_index();
        contact_test::make_flat(&ground, 6, 2.0f, 0.0f);
        contact_test::add_surfaces(&ground.hf, 1, 0);
    }
    void TearDown() override
    {
        for (bike* b : bikes)
            destroy_bike(b);
        physics_clear_contacts(test::physics());
        free_file_index();
    }
    bike* add(float dx, float dz)
    {
        bike* b = create_bike(test::physics(), "450sxf(2018)", (int)bikes.size(), "1", nullptr, nullptr, nullptr, nullptr);
        translate_bike(b, dx, 0.0f, dz);
        bikes.push_back(b);
        return b;
    }
    // Every shape but the one of `body` stops colliding (the wheels still
    // meet shapes as tyres).
    static void keep_only(bike* b, int body)
    {
        for (int i = 0; i < bike_body_count; i++)
            if (b->shapes[i] && i != body)
                b->shapes[i]->sphere_count = 0;
    }
    static void set_speed(bike* b, float vz)
    {
        for (dBodyID body : b->bodies)
            dBodySetLinearVel(body, 0.0, 0.0, vz);
    }
    static int joint_count(const bike* b)
    {
        int n = 0;
        for (dBodyID body : b->bodies)
            n += dBodyGetNumJoints(body);
        return n;
    }
    static vec3 force_sum(const bike* b)
    {
        vec3 s = {0, 0, 0};
        for (dBodyID body : b->bodies) {
            const dReal* f = dBodyGetForce(body);
            s.x += (float)f[0];
            s.y += (float)f[1];
            s.z += (float)f[2];
        }
        return s;
    }
    static void zero_forces(const bike* b)
    {
        for (dBodyID body : b->bodies) {
            dBodySetForce(body, 0, 0, 0);
            dBodySetTorque(body, 0, 0, 0);
        }
    }
};

TEST_F(BikeStep, JointForceCorrectionTakesBackTheJointsNetForce)
{
    ride_world rw;
    rw.take_ground(&rw.ground());
    bike* b = rw.add_bare_bike("450sxf(2018)", 128.0f, 128.0f, 0.3f);
    bike_set_dab_when_stopped(b, 1);
    for (int t = 0; t < 64; t++)
        world_tick(rw.w);
    // What the six joints reported on the last step, summed.
    double f[3] = {0, 0, 0};
    for (const dJointFeedback& fb : b->joint_feedback)
        for (int k = 0; k < 3; k++)
            f[k] += fb.f1[k] + fb.f2[k];
    ASSERT_GT(std::fabs(b->joint_feedback[joint_steering_head].f1[1]), 1.0) << "the joints carry load";

    zero_forces(b);
    EXPECT_FALSE(joint_force_correction(b, 1)) << "not in the first two ticks";
    EXPECT_EQ(dBodyGetForce(b->bodies[body_frame])[1], 0.0);
    EXPECT_TRUE(joint_force_correction(b, 64));
    const dReal* applied = dBodyGetForce(b->bodies[body_frame]);
    for (int k = 0; k < 3; k++)
        EXPECT_NEAR(applied[k], -f[k], 1e-9 + 1e-12 * std::fabs(f[k]));
    // The error is small next to the forces the joints carry.
    EXPECT_LT(std::fabs(f[1]), 0.01 * std::fabs(b->joint_feedback[joint_steering_head].f1[1]) + 1.0);

    // With the rider thrown off his mount has no second body: nothing.
    bike_start_crash(b, &rw.ground());
    zero_forces(b);
    EXPECT_FALSE(joint_force_correction(b, 65));
    const dReal* none = dBodyGetForce(b->bodies[body_frame]);
    const dReal* no_torque = dBodyGetTorque(b->bodies[body_frame]);
    for (int k = 0; k < 3; k++) {
        EXPECT_EQ(none[k], 0.0);
        EXPECT_EQ(no_torque[k], 0.0);
    }
}

TEST_F(BikeStep, ABikeTouchingTwoOthersGetsJointsThenPenaltyForces)
{
    bike* a = add(0.0f, 0.0f);
    bike* b = add(0.6f, 0.0f);
    bike* c = add(-0.6f, 0.0f);
    for (bike* x : bikes)
        keep_only(x, body_frame);
    const int tick = 77;

    const int before_ab = joint_count(a) + joint_count(b);
    ASSERT_TRUE(bike_bike_contact(a, b, false, tick));
    EXPECT_GT(joint_count(a) + joint_count(b), before_ab) << "the first pair: contact joints";
    EXPECT_EQ(a->last_bike_contact_tick, tick);
    EXPECT_EQ(b->first_bike_contact_tick, tick);
    EXPECT_EQ(c->last_bike_contact_tick, -1);

    // a already had a bike contact this tick: a and c push each other with
    // forces, equal and opposite, and no joint ties them.
    for (bike* x : bikes)
        zero_forces(x);
    const int before_ac = joint_count(a) + joint_count(c);
    ASSERT_TRUE(bike_bike_contact(a, c, false, tick));
    EXPECT_EQ(joint_count(a) + joint_count(c), before_ac);
    const vec3 fa = force_sum(a), fc = force_sum(c);
    EXPECT_GT(std::fabs(fc.x), 1.0f);
    EXPECT_LT(fc.x, 0.0f) << "c, on a's left, is pushed further left";
    EXPECT_NEAR(fa.x, -fc.x, 1e-3f * std::fabs(fc.x));
    EXPECT_EQ(c->last_bike_contact_tick, tick);

    // A new tick starts with joints again.
    physics_clear_contacts(test::physics());
    const int before_next = joint_count(a) + joint_count(c);
    ASSERT_TRUE(bike_bike_contact(a, c, false, tick + 1));
    EXPECT_GT(joint_count(a) + joint_count(c), before_next);
    EXPECT_EQ(c->first_bike_contact_tick, tick);
    EXPECT_EQ(c->last_bike_contact_tick, tick + 1);
}

TEST_F(BikeStep, OnlineARemoteFrontWheelOnlyDetectsTheOwnRearWheel)
{
    // The remote bike b right behind the own bike a: b's front wheel
    // against a's rear wheel, and nothing else near.
    bike* a = add(0.0f, 0.0f);
    bike* b = add(0.0f, a->params.rear_wheel_pos.z - a->params.front_wheel_pos.z + 0.3f);
    keep_only(a, body_rear_wheel);
    keep_only(b, -1);
    set_speed(a, -10.0f);
    set_speed(b, -15.0f);
    const int before = joint_count(a) + joint_count(b);
    ASSERT_TRUE(bike_bike_contact(a, b, true, 5));
    EXPECT_EQ(joint_count(a) + joint_count(b), before) << "detected, no joint";
    EXPECT_EQ(force_sum(a).z, 0.0f);
    EXPECT_EQ(force_sum(b).z, 0.0f);
    // It still counts: b ran into a from behind.
    EXPECT_EQ(b->bump_timer, 192.0f);
    EXPECT_EQ(a->bump_timer, -640.0f);
    EXPECT_EQ(a->last_bike_contact_tick, 5);

    // Offline the same touch is a real contact.
    a->bump_timer = b->bump_timer = 0.0f;
    ASSERT_TRUE(bike_bike_contact(a, b, false, 6));
    EXPECT_GT(joint_count(a) + joint_count(b), before);
    physics_clear_contacts(test::physics());
}

TEST_F(BikeStep, OnlineTheOwnFrontWheelPushesTheRemoteRearWheel)
{
    // The own bike a right behind the remote bike b.
    bike* b = add(0.0f, 0.0f);
    bike* a = add(0.0f, b->params.rear_wheel_pos.z - b->params.front_wheel_pos.z + 0.3f);
    keep_only(a, body_front_wheel);
    keep_only(b, -1);
    const int before = joint_count(b);
    ASSERT_TRUE(bike_bike_contact(a, b, true, 9));
    EXPECT_GT(joint_count(b), before);
    EXPECT_GT(dBodyGetNumJoints(b->bodies[body_rear_wheel]), 1) << "on the remote bike's rear wheel";
    physics_clear_contacts(test::physics());
}

TEST_F(BikeStep, BumpRules)
{
    bike* a = add(0.0f, 0.0f);
    bike* b = add(10.0f, 0.0f);
    auto reset = [&](float va, float vb) {
        set_speed(a, va);
        set_speed(b, vb);
        a->bump_timer = b->bump_timer = 0.0f;
        a->crash_timer = b->crash_timer = 0;
    };
    // b's front into a (from behind): b is the one who balances badly for a
    // while, a cannot be thrown off.
    reset(-8.0f, -12.0f);
    apply_bump_rules(a, b, false, part_front_wheel);
    EXPECT_EQ(b->bump_timer, 192.0f);
    EXPECT_EQ(a->bump_timer, -640.0f);
    // The same with the roles exchanged, through the fork.
    reset(-12.0f, -8.0f);
    apply_bump_rules(a, b, true, part_swingarm | part_rear_wheel);
    EXPECT_EQ(a->bump_timer, 192.0f);
    EXPECT_EQ(b->bump_timer, -640.0f);
    // A rider already marked for ramming keeps his mark when hit himself.
    reset(-8.0f, -12.0f);
    a->bump_timer = 50.0f;
    apply_bump_rules(a, b, false, part_fork_lower);
    EXPECT_EQ(a->bump_timer, 50.0f);
    EXPECT_EQ(b->bump_timer, 192.0f);
    // A slow rammer loses nothing; a standing or crashed victim changes
    // nothing.
    reset(-8.0f, -9.0f);
    apply_bump_rules(a, b, false, part_front_wheel);
    EXPECT_EQ(b->bump_timer, 0.0f);
    EXPECT_EQ(a->bump_timer, -640.0f);
    reset(-4.0f, -12.0f);
    apply_bump_rules(a, b, false, part_front_wheel);
    EXPECT_EQ(a->bump_timer, 0.0f);
    EXPECT_EQ(b->bump_timer, 0.0f);
    reset(-8.0f, -12.0f);
    a->crash_timer = 100;
    apply_bump_rules(a, b, false, part_front_wheel);
    EXPECT_EQ(b->bump_timer, 0.0f);
    // Front against front: both, when fast enough.
    reset(-12.0f, 9.0f);
    b->bump_timer = -300.0f;
    apply_bump_rules(a, b, true, part_front_wheel | part_frame);
    EXPECT_EQ(a->bump_timer, 128.0f);
    EXPECT_EQ(b->bump_timer, -300.0f);
    // Side against side, no front involved: nothing.
    reset(-12.0f, -12.0f);
    apply_bump_rules(a, b, false, part_frame);
    EXPECT_EQ(a->bump_timer, 0.0f);
    EXPECT_EQ(b->bump_timer, 0.0f);
}

TEST_F(BikeStep, AGhostTakesNoPartInContactsAndOnlyMovesItsFeet)
{
    bike* a = add(0.0f, 0.0f);
    bike* g = add(0.6f, 0.0f);
    set_bike_ghost(g);
    EXPECT_FALSE(bike_bike_contact(a, g, false, 3));
    EXPECT_FALSE(bike_bike_contact(g, a, false, 3));
    // A remote rider fading back to a ghost keeps out even online.
    g->presence = 0.2f;
    EXPECT_FALSE(bike_bike_contact(a, g, true, 3));

    world_rider riders[2];
    riders[0].b = a;
    riders[1].b = g;
    world_tick_state s;
    s.world.ground = &ground.hf;
    s.world.tick = 3;
    g->presence = 0.0f;
    const int ghost_joints = joint_count(g);
    world_collide(&s, riders, 2);
    EXPECT_EQ(a->last_bike_contact_tick, -1);
    EXPECT_EQ(g->last_bike_contact_tick, -1);
    EXPECT_EQ(joint_count(g), ghost_joints);

    // Its step leaves everything but the feet alone.
    g->bump_timer = 50.0f;
    g->throttle = 1.0f;
    const float engine = g->engine_speed;
    g->dab_amount = 0.5f;
    bike_step(g, &s.world);
    EXPECT_EQ(g->bump_timer, 50.0f);
    EXPECT_EQ(g->engine_speed, engine);
    EXPECT_EQ(g->rider_velocity_history[3].x, 0.0f);
    EXPECT_FLOAT_EQ(g->dab_amount, 0.5f - 4.0f / 128.0f);
    physics_clear_contacts(test::physics());
}

TEST_F(BikeStep, OnlineTheOwnBikeWakesTheRemoteGhostItTouches)
{
    bike* own = add(0.0f, 0.0f);
    bike* remote = add(0.6f, 0.0f);
    bike* other = add(-0.6f, 0.0f);
    set_bike_ghost(remote);
    set_bike_ghost(other);
    world_rider riders[3];
    riders[0].b = own;
    riders[1].b = remote;
    riders[1].driver = world_driver_recorded;
    riders[2].b = other;
    riders[2].driver = world_driver_recorded;
    riders[2].may_collide = false;  // its updates are too old
    world_tick_state s;
    s.world.ground = &ground.hf;
    s.world.tick = 40;
    s.online = true;
    s.own_rider = 0;
    world_collide(&s, riders, 3);
    EXPECT_EQ(remote->presence, 1.0f);
    EXPECT_TRUE(dBodyIsEnabled(remote->bodies[body_frame]));
    EXPECT_EQ(remote->last_bike_contact_tick, 40);
    EXPECT_EQ(other->presence, 0.0f);
    EXPECT_EQ(other->last_bike_contact_tick, -1);
    physics_clear_contacts(test::physics());

    // In a warm-up nobody touches anybody.
    set_bike_ghost(remote);
    s.warm_up = true;
    s.world.tick = 41;
    world_collide(&s, riders, 3);
    EXPECT_EQ(remote->presence, 0.0f);
    EXPECT_EQ(own->last_bike_contact_tick, 40);
    physics_clear_contacts(test::physics());
}

TEST_F(BikeStep, ACrowdedRideGivesTheSameBitsEveryTime)
{
    uint64_t hashes[2] = {};
    int contacts[2] = {};
    for (int run = 0; run < 2; run++) {
        contact_test::terrain flat;
        contact_test::make_flat(&flat, 6, 2.0f, 0.0f);
        contact_test::add_surfaces(&flat.hf, 1, 0);
        ride_world rw;
        rw.take_ground(&flat.hf);
        // Four bikes riding into each other head on and side by side.
        const float spots[4][3] = {
            {120.0f, 100.0f, 3.05f}, {121.5f, 104.0f, 3.2f}, {120.5f, 150.0f, 0.05f}, {118.0f, 146.0f, 0.1f}};
        for (const auto& sp : spots)
            bike_set_dab_when_stopped(rw.add_bare_bike("450sxf(2018)", sp[0], sp[1], sp[2]), 1);
        for (int t = 0; t < 5 * 128; t++) {
            rw.tick([t](int, const bike*) {
                control_input c;
                c.clutch = 1.0f;
                c.throttle = 0.6f;
                c.steer = t > 256 ? 0.3f : 0.0f;
                return c;
            });
        }
        for (int i = 0; i < rw.bikes; i++)
            contacts[run] += rw.bike_at(i)->first_bike_contact_tick >= 0;
        hashes[run] = world_state_hash(rw.w);
    }
    EXPECT_GE(contacts[0], 2) << "the bikes met";
    EXPECT_EQ(contacts[0], contacts[1]);
    EXPECT_EQ(hashes[0], hashes[1]);
}

}  // namespace
