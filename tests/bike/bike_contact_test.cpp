// A bike's contacts as a whole: the ground contacts of a tick, the crash a
// hard fall starts, contacts with objects and the roost its wheels throw.
// The bike here is a bare record with just the bodies and shapes a case
// needs, so each rule is seen on its own.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "bike/contact.h"
#include "bike/physics.h"
#include "bike/shape.h"
#include "contact_test_util.h"
#include "track/roost.h"
#include "test_support.h"

using namespace contact_test;

namespace {

constexpr float R = 0.8333333f;
constexpr float r = 0.3333333f;

class BikeContact : public ::testing::Test {
protected:
    void SetUp() override
    {
        test::physics();
        b = new bike();
        b->space = test::physics();
        make_flat(&ground, 4, 2.0f, 0.0f);
        b->bodies[body_frame] = body({10, 2.5f, 10});
        b->bodies[body_front_wheel] = body({10, R + r - 0.1f, 8.5f});
        b->bodies[body_rear_wheel] = body({10, R + r - 0.1f, 11.5f});
        b->bodies[body_rider] = body({10, 4.5f, 10});
        for (int w = 0; w < 2; w++) {
            wheel_contact& c = w == 0 ? b->front_contact : b->rear_contact;
            c.body = b->bodies[w == 0 ? body_front_wheel : body_rear_wheel];
            c.ring_radius = R;
            c.section_radius = r;
        }
        mount = dJointCreateHinge2(test::physics()->world, nullptr);
        dJointAttach(mount, b->bodies[body_rider], b->bodies[body_frame]);
        b->joints[joint_rider_mount] = mount;
        b->shapes[body_rider] = &rider_shape;
        b->shapes[body_frame] = &frame_shape;
    }
    void TearDown() override
    {
        dJointDestroy(mount);
        for (dBodyID x : b->bodies)
            if (x)
                dBodyDestroy(x);
        delete b;
        for (int i = 0; i < CRASH_DELAY_COUNT; i++)
            set_crash_delay(test::physics(), i, 0);
        test::physics_reset();
    }
    static dBodyID body(vec3 p)
    {
        dBodyID x = dBodyCreate(test::physics()->world);
        dMass m;
        dMassSetSphereTotal(&m, 1.0, 0.5);
        dBodySetMass(x, &m);
        dBodySetPosition(x, p.x, p.y, p.z);
        return x;
    }
    static int joints(dBodyID x) { return dBodyGetNumJoints(x); }
    // Rider upside down (turned half a turn about z), just touching.
    void rider_down_on_head(float speed)
    {
        dBodyID rider = b->bodies[body_rider];
        dBodySetPosition(rider, 10, 0.8f, 10);
        dMatrix3 rot;
        dRFromAxisAndAngle(rot, 0, 0, 1, 3.14159265);
        dBodySetRotation(rider, rot);
        dBodySetLinearVel(rider, speed, 0, 0);
    }

    bike* b = nullptr;
    dJointID mount = nullptr;
    terrain ground;
    shape_sphere rider_sphere = {0, 0, 0, 1.0f, 0.6f, 3000, 300};
    shape rider_shape = {"rider", 1, &rider_sphere, nullptr, 1.0f};
    shape_sphere frame_spheres[2] = {{0, 0, -0.5f, 0.5f, 0.6f, 3000, 300}, {0, 0, 0.5f, 0.5f, 0.6f, 3000, 300}};
    shape frame_shape = {"frame", 2, frame_spheres, nullptr, 1.0f};
};

TEST_F(BikeContact, WheelsOnTheGroundMakeTheTicksContacts)
{
    EXPECT_EQ(1, bike_touches_ground(b, &ground.hf));
    EXPECT_NEAR(b->front_contact.depth, 0.1f, 1e-5f);
    EXPECT_NEAR(b->rear_contact.depth, 0.1f, 1e-5f);
    EXPECT_EQ(1, joints(b->bodies[body_front_wheel]));
    EXPECT_EQ(1, joints(b->bodies[body_rear_wheel]));
    EXPECT_EQ(1, joints(b->bodies[body_frame]));  // the rider mount only
    EXPECT_EQ(1, b->slow_or_down);
    EXPECT_EQ(0, b->crash_timer);
    physics_clear_contacts(test::physics());

    // In the air: nothing, and the depths say so.
    b->slow_or_down = 0;
    for (dBodyID x : b->bodies)
        if (x)
            dBodySetPosition(x, dBodyGetPosition(x)[0], dBodyGetPosition(x)[1] + 10.0, dBodyGetPosition(x)[2]);
    EXPECT_EQ(0, bike_touches_ground(b, &ground.hf));
    EXPECT_EQ(0.0f, b->front_contact.depth);
    EXPECT_EQ(0.0f, b->rear_contact.depth);
    EXPECT_EQ(0, b->slow_or_down);

    // The frame alone on the ground still counts.
    dBodySetPosition(b->bodies[body_frame], 10, 0.3f, 10);
    EXPECT_EQ(1, bike_touches_ground(b, &ground.hf));
    EXPECT_EQ(3, joints(b->bodies[body_frame]));  // two spheres and the mount
    EXPECT_EQ(1, b->slow_or_down);
}

TEST_F(BikeContact, RiderOnHisHeadAtSpeedStartsACrash)
{
    rider_down_on_head(6.0f);
    EXPECT_EQ(1, bike_touches_ground(b, &ground.hf));
    EXPECT_EQ(512, b->crash_timer);
    EXPECT_EQ(1, b->crash_count);
    // The rider leaves the bike: the mount holds nothing any more.
    EXPECT_EQ(nullptr, dJointGetBody(mount, 0));
    EXPECT_EQ(nullptr, dJointGetBody(mount, 1));
    // The feet fly with the rider.
    EXPECT_NEAR(b->feet[0].velocity.x, 6.0f, 1e-5f);

    // A crash already running is not started again.
    b->crash_timer = 5;
    EXPECT_EQ(1, bike_touches_ground(b, &ground.hf));
    EXPECT_EQ(5, b->crash_timer);
    EXPECT_EQ(1, b->crash_count);
}

TEST_F(BikeContact, NoCrashWhenSlowUprightOrAfterBumpingSomeone)
{
    rider_down_on_head(4.9f);  // 5 ft/s is the least
    bike_touches_ground(b, &ground.hf);
    EXPECT_EQ(0, b->crash_timer);

    rider_down_on_head(20.0f);
    b->bump_timer = -3.0f;  // bumped another bike from behind
    bike_touches_ground(b, &ground.hf);
    EXPECT_EQ(0, b->crash_timer);

    b->bump_timer = 0.0f;
    dMatrix3 upright;
    dRSetIdentity(upright);
    dBodySetRotation(b->bodies[body_rider], upright);
    bike_touches_ground(b, &ground.hf);
    EXPECT_EQ(0, b->crash_timer);
    EXPECT_EQ(0, b->crash_count);
}

TEST_F(BikeContact, CrashDelayByCrashCount)
{
    set_crash_delay(test::physics(), 1, 100);
    set_crash_delay(test::physics(), 15, 7);
    set_crash_delay(test::physics(), 2, 1000000000);
    set_crash_delay(test::physics(), 3, -5);
    set_crash_delay(test::physics(), 16, 99);  // out of range: ignored
    set_crash_delay(test::physics(), -1, 99);
    EXPECT_EQ(CRASH_DELAY_MAX, crash_delay(test::physics(), 2));
    EXPECT_EQ(0, crash_delay(test::physics(), 3));
    EXPECT_EQ(0, crash_delay(test::physics(), 16));

    bike_start_crash(b);
    EXPECT_EQ(512, b->crash_timer);
    bike_start_crash(b);
    EXPECT_EQ(612, b->crash_timer);
    b->crash_count = 40;  // past the table: its last entry
    bike_start_crash(b);
    EXPECT_EQ(519, b->crash_timer);
    EXPECT_EQ(41, b->crash_count);
}

TEST_F(BikeContact, ArcadeFrictionFallsWithLean)
{
    EXPECT_FLOAT_EQ(bike_friction_multiplier(b), 1.0f);
    b->arcade_flags = arcade_physics_on;
    EXPECT_NEAR(bike_friction_multiplier(b), 1.0f, 1e-6f);
    // Leaning pi/8: 1 - 0.375 * min(1, 4 (pi/8) / pi) = 0.8125.
    dMatrix3 rot;
    dRFromAxisAndAngle(rot, 0, 0, 1, 3.14159265 / 8);
    dBodySetRotation(b->bodies[body_frame], rot);
    EXPECT_NEAR(bike_friction_multiplier(b), 0.8125f, 1e-5f);
    // Lying flat: the least, 0.625.
    dRFromAxisAndAngle(rot, 0, 0, 1, -3.14159265 / 2);
    dBodySetRotation(b->bodies[body_frame], rot);
    EXPECT_NEAR(bike_friction_multiplier(b), 0.625f, 1e-5f);
    b->arcade_flags = 0;
    EXPECT_FLOAT_EQ(bike_friction_multiplier(b), 1.0f);
}

TEST_F(BikeContact, ObjectContactsByPart)
{
    // A post of one sphere (radius 1) in front of the front wheel, its
    // surface 0.2 into the tyre at axle height.
    shape_sphere post_sphere = {0, 0, 0, 1.0f, 0.9f, 20000, 2000};
    shape post = {"post", 1, &post_sphere, nullptr, 1.0f};
    dMatrix3 identity;
    dRSetIdentity(identity);
    const dReal* front = dBodyGetPosition(b->bodies[body_front_wheel]);
    const dReal pos[3] = {front[0], front[1], front[2] - (R + r + 1.0f - 0.2f)};

    // In the air the front wheel takes the object contact into its record.
    EXPECT_EQ(0.0f, b->front_contact.depth);
    EXPECT_EQ(part_front_wheel, bike_object_contact(b, nullptr, &post, pos, identity, contact_mode_joint, false));
    EXPECT_EQ(1, joints(b->bodies[body_front_wheel]));
    EXPECT_NEAR(b->front_contact.depth, 0.2f, 1e-4f);
    EXPECT_VEC_NEAR(b->front_contact.normal, 0, 0, 1, 1e-5f);  // from the post toward the wheel
    physics_clear_contacts(test::physics());

    // A wheel already on the ground keeps its ground contact record.
    b->front_contact.depth = 0.05f;
    bike_object_contact(b, nullptr, &post, pos, identity, contact_mode_joint, false);
    EXPECT_EQ(0.05f, b->front_contact.depth);
    physics_clear_contacts(test::physics());

    // With the test flag the front wheel only detects.
    EXPECT_EQ(part_front_wheel, bike_object_contact(b, nullptr, &post, pos, identity, contact_mode_joint, true));
    EXPECT_EQ(0, joints(b->bodies[body_front_wheel]));

    // The rider and the frame, by their shapes; an object with a body of
    // its own gets the joint to it.
    dBodyID obj = body({10, 4.5f, 10 + 1.9f});
    const dReal* op = dBodyGetPosition(obj);
    const int bits = bike_object_contact(b, obj, &post, op, identity, contact_mode_joint, false);
    EXPECT_EQ(part_rider, bits);
    EXPECT_TRUE(dAreConnected(obj, b->bodies[body_rider]));
    physics_clear_contacts(test::physics());
    // Lower, by the frame's back and over the rear wheel, detected only.
    dBodySetPosition(obj, 10, 2.5f, 10 + 1.3f);
    EXPECT_EQ(part_frame | part_rear_wheel,
              bike_object_contact(b, obj, &post, dBodyGetPosition(obj), identity, contact_mode_test, false));
    EXPECT_EQ(0, joints(obj));
    dBodyDestroy(obj);

    // Nothing near: nothing.
    const dReal away[3] = {100, 0, 100};
    EXPECT_EQ(0, bike_object_contact(b, nullptr, &post, away, identity, contact_mode_joint, false));
}

TEST_F(BikeContact, SpinningRearWheelThrowsRoost)
{
    surface_type* s = add_surfaces(&ground.hf, 2, 0);
    s[0].roost[0].mode = 1;  // dirt: the default roost
    roost_pool* pool = new roost_pool();
    std::mt19937 rng(42);

    // The rear wheel spins (the bike stands still), so the tyre slips
    // backward over the ground at ~70 ft/s.
    dBodySetAngularVel(b->bodies[body_rear_wheel], -60.0, 0, 0);
    ASSERT_EQ(1, bike_touches_ground(b, &ground.hf));
    physics_clear_contacts(test::physics());
    EXPECT_EQ(10, bike_emit_roost(b, &ground.hf, pool, 1000, 0, false, &rng));
    EXPECT_EQ(10, pool->live);

    // A bike replayed from recorded states has no contact records of its
    // own: its wheels are asked of the ground directly.
    b->front_contact.depth = b->rear_contact.depth = 0.0f;
    EXPECT_EQ(0, bike_emit_roost(b, &ground.hf, pool, 1000, 1, false, &rng));
    EXPECT_EQ(10, bike_emit_roost(b, &ground.hf, pool, 1000, 1, true, &rng));

    // Ground without roost throws nothing.
    std::fill(ground.hf.tilemap, ground.hf.tilemap + 16 * 16, 1);
    ASSERT_EQ(1, bike_touches_ground(b, &ground.hf));
    physics_clear_contacts(test::physics());
    EXPECT_EQ(0, bike_emit_roost(b, &ground.hf, pool, 1000, 2, false, &rng));
    delete pool;
}

}  // namespace
