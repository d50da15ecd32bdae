// The tyre model and the contact joints a wheel makes with the ground.
#include <gtest/gtest.h>

#include <cmath>

#include "bike/contact.h"
#include "bike/physics.h"
#include "bike/shape.h"
#include "contact_test_util.h"
#include "test_support.h"

using namespace contact_test;

namespace {

constexpr float R = 0.8333333f;
constexpr float r = 0.3333333f;

// ---- curves ---------------------------------------------------------------------

TEST(TyreModel, FrictionCurveInterpolatesInSquaredSpeed)
{
    surface_type s;  // default: one point, 1.0 at 1 ft/s
    for (float v : {0.0f, 0.5f, 1.0f, 6.0f, 200.0f})
        EXPECT_FLOAT_EQ(surface_friction(&s, v * v), 1.0f);

    // 1.2 at 2 ft/s, 0.8 at 10 ft/s: at 6 ft/s t = (36 - 4) / (100 - 4).
    s.friction[0] = {1.2f, 2.0f};
    s.friction[1] = {0.8f, 10.0f};
    EXPECT_NEAR(surface_friction(&s, 36.0f), 1.0666667f, 1e-6f);
    EXPECT_FLOAT_EQ(surface_friction(&s, 1.0f), 1.2f);    // below the first point
    EXPECT_FLOAT_EQ(surface_friction(&s, 4.0f), 1.2f);    // on it
    EXPECT_FLOAT_EQ(surface_friction(&s, 100.0f), 0.8f);  // on the last
    EXPECT_FLOAT_EQ(surface_friction(&s, 1e6f), 0.8f);    // past the end of the list

    // A full list of eight: past the eighth point its coefficient holds.
    for (int i = 0; i < SURFACE_POINTS; i++)
        s.friction[i] = {1.0f + 0.1f * (float)i, 1.0f + (float)i};
    EXPECT_FLOAT_EQ(surface_friction(&s, 1e4f), 1.7f);
    EXPECT_NEAR(surface_friction(&s, 2.5f * 2.5f), 1.1f + 0.1f * (6.25f - 4.0f) / 5.0f, 1e-6f);
    // Not a number slides to the last point rather than anywhere undefined.
    EXPECT_FLOAT_EQ(surface_friction(&s, NAN), 1.7f);
}

TEST(TyreModel, RollResistanceInterpolatesInSpeed)
{
    surface_type s;
    float shallow, deep;
    surface_roll_resistance(&s, 30.0f, &shallow, &deep);
    EXPECT_FLOAT_EQ(shallow, 5.0f);
    EXPECT_FLOAT_EQ(deep, 15.0f);
    s.roll_resist[0] = {2.0f, 10.0f, 5.0f};
    s.roll_resist[1] = {4.0f, 30.0f, 15.0f};
    surface_roll_resistance(&s, 7.5f, &shallow, &deep);  // a quarter of the way
    EXPECT_FLOAT_EQ(shallow, 2.5f);
    EXPECT_FLOAT_EQ(deep, 15.0f);
    surface_roll_resistance(&s, 1.0f, &shallow, &deep);
    EXPECT_FLOAT_EQ(shallow, 2.0f);
    surface_roll_resistance(&s, 99.0f, &shallow, &deep);
    EXPECT_FLOAT_EQ(deep, 30.0f);
}

TEST(TyreModel, SpringStiffensWithDepthAndSoftParameters)
{
    float k, c;
    tyre_spring(r, r, &k, &c);  // the full section
    EXPECT_FLOAT_EQ(k, 25000.0f);
    EXPECT_FLOAT_EQ(c, 2500.0f);
    tyre_spring(2.0f * r, r, &k, &c);  // deeper changes nothing
    EXPECT_FLOAT_EQ(k, 25000.0f);
    tyre_spring(1e-4f, r, &k, &c);  // barely touching
    EXPECT_NEAR(k, 1000.0f, 1e-3f);
    EXPECT_NEAR(c, 200.0f, 1e-3f);
    tyre_spring(0.5f * r, r, &k, &c);  // (1/2)^3
    EXPECT_FLOAT_EQ(k, 4000.0f);
    EXPECT_FLOAT_EQ(c, 487.5f);

    float erp, cfm;
    contact_soft_params(25000.0f, 2500.0f, &erp, &cfm);
    const float hk = 25000.0f / 128.0f;
    EXPECT_FLOAT_EQ(erp, hk / (hk + 2500.0f));
    EXPECT_FLOAT_EQ(cfm, 1.0f / (hk + 2500.0f));
}

TEST(TyreModel, FirstFrictionDirectionAndSphereStiffness)
{
    // Sliding along x on flat ground: the direction runs across the slide.
    vec3 d = tyre_friction_direction({0, 1, 0}, {10, 0, 0}, {0, 0, 1});
    EXPECT_VEC_NEAR(d, 0, 0, -1, 1e-6f);
    // At rest: along normal x axle, i.e. the way the wheel rolls.
    d = tyre_friction_direction({0, 1, 0}, {0.01f, 0, 0}, {1, 0, 0});
    EXPECT_VEC_NEAR(d, 0, 0, -1, 1e-6f);
    // An axle along the normal gives nothing to go by.
    d = tyre_friction_direction({0, 1, 0}, {0, 0, 0}, {0, 1, 0});
    EXPECT_VEC_NEAR(d, 0, 0, 0, 0);

    // Stiffness 10000 over 0.5 ft would push with 5000 lbf: capped at 2500.
    EXPECT_FLOAT_EQ(sphere_contact_stiffness(10000.0f, 0.5f), 5000.0f);
    EXPECT_FLOAT_EQ(sphere_contact_stiffness(10000.0f, 0.2f), 10000.0f);
}

// ---- contacts in the physics world ------------------------------------------------

class ContactWorld : public ::testing::Test {
protected:
    void SetUp() override { test::physics(); }
    void TearDown() override
    {
        for (dBodyID b : bodies)
            if (b)
                dBodyDestroy(b);
        test::physics_reset();
    }
    dBodyID body(vec3 p, float mass = 0.5f)
    {
        dBodyID b = dBodyCreate(test::physics()->world);
        dMass m;
        dMassSetSphereTotal(&m, mass, 0.8);
        dBodySetMass(b, &m);
        dBodySetPosition(b, p.x, p.y, p.z);
        bodies.push_back(b);
        return b;
    }
    wheel_contact wheel(dBodyID b)
    {
        wheel_contact w;
        w.body = b;
        w.ring_radius = R;
        w.section_radius = r;
        return w;
    }
    static vec3 force_on(dBodyID b)
    {
        const dReal* f = dBodyGetForce(b);
        return {(float)f[0], (float)f[1], (float)f[2]};
    }
    std::vector<dBodyID> bodies;
};

TEST_F(ContactWorld, WheelOnTheGroundMakesOneJointAndFillsItsRecord)
{
    terrain t;
    make_flat(&t, 3, 2.0f, 0.0f);
    dBodyID b = body({8.0f, R, 8.0f});  // the rim's low point on the ground
    dBodySetLinearVel(b, 10.0f, 0.0f, 0.0f);
    wheel_contact w = wheel(b);
    ASSERT_EQ(1, wheel_ground_contact(&t.hf, &w, 1.0f));
    EXPECT_NEAR(w.depth, r, 1e-5f);
    EXPECT_VEC_NEAR(w.normal, 0, 1, 0, 1e-6f);
    EXPECT_VEC_NEAR(w.point, 8.0f, 0.0f, 8.0f, 1e-5f);
    EXPECT_VEC_NEAR(w.point_velocity, 10.0f, 0.0f, 0.0f, 1e-5f);
    ASSERT_EQ(1, dBodyGetNumJoints(b));
    EXPECT_EQ(dJointTypeContact, dJointGetType(dBodyGetJoint(b, 0)));
    // Rolling resistance at 10 ft/s with the tyre sunk its full section: the
    // deep value of the default curve, against the motion.
    EXPECT_VEC_NEAR(force_on(b), -15.0f, 0.0f, 0.0f, 1e-4f);

    // The step fills the wheel's feedback record with the ground's push.
    physics_step(test::physics());
    EXPECT_GT(w.feedback.f1[1], 0.0);

    // Lifted clear: no contact, the depth is cleared, no joint.
    dBodySetPosition(b, 8.0f, R + r + 0.5f, 8.0f);
    EXPECT_EQ(0, wheel_ground_contact(&t.hf, &w, 1.0f));
    EXPECT_EQ(0.0f, w.depth);
    EXPECT_EQ(0, dBodyGetNumJoints(b));
}

TEST_F(ContactWorld, RollingResistanceComesFromTheSurfaceUnderTheWheel)
{
    terrain t;
    make_flat(&t, 3, 2.0f, 0.0f);
    surface_type* s = add_surfaces(&t.hf, 2, 0);
    s[1].roll_resist[0] = {2.0f, 6.0f, 1.0f};
    // Tile (2, 1) covers x 8..12, z 4..8.
    t.hf.tilemap[1 * 8 + 2] = 1;
    dBodyID b = body({10.0f, R + r - 0.5f * r, 6.0f});  // half the section down
    // Below 1 ft/s the force is proportional to speed: 0.5 ft/s along z.
    dBodySetLinearVel(b, 0.0f, -3.0f, 0.5f);
    wheel_contact w = wheel(b);
    ASSERT_EQ(1, wheel_ground_contact(&t.hf, &w, 1.0f));
    // rho = 2 + (6 - 2) * 0.5 = 4; only the part along the ground counts.
    EXPECT_VEC_NEAR(force_on(b), 0.0f, 0.0f, -2.0f, 1e-4f);
    // On the default surface next door (shallow 5, deep 15): rho = 10.
    dBodySetPosition(b, 14.0f, R + r - 0.5f * r, 6.0f);
    dBodySetForce(b, 0, 0, 0);
    ASSERT_EQ(1, wheel_ground_contact(&t.hf, &w, 1.0f));
    EXPECT_VEC_NEAR(force_on(b), 0.0f, 0.0f, -5.0f, 1e-4f);
}

TEST_F(ContactWorld, DroppedWheelSettlesAndASunkWheelComesBackUp)
{
    terrain t;
    make_terrain(&t, 3, 2.0f, [](float x, float) { return 0.1f * x; });
    for (float start : {1.5f, -1.0f}) {
        SCOPED_TRACE(start);
        const float ground = 0.1f * 8.0f;
        // The axle points down the slope, so the wheel cannot roll away:
        // friction alone must hold it there.
        dBodyID b = body({8.0f, ground + start, 8.0f});
        wheel_contact w = wheel(b);
        // A lone wheel would fall over sideways. Hold it upright, with so
        // much inertia that the contact barely turns it within a tick, so
        // only the contact's push and friction act.
        dMass m;
        dBodyGetMass(b, &m);
        m.I[0] = m.I[5] = m.I[10] = 1e6;
        dBodySetMass(b, &m);
        dMatrix3 upright;
        dRSetIdentity(upright);
        double settled_x = 0.0;
        for (int k = 0; k < 512; k++) {
            if (k == 384)
                settled_x = dBodyGetPosition(b)[0];
            dBodySetRotation(b, upright);
            dBodySetAngularVel(b, 0, 0, 0);
            wheel_ground_contact(&t.hf, &w, 1.0f);
            physics_step(test::physics());
        }
        ASSERT_EQ(1, wheel_ground_contact(&t.hf, &w, 1.0f));
        physics_clear_contacts(test::physics());
        // Resting on the tyre, not sunk, not sliding down the slope.
        EXPECT_GT(w.depth, 0.0f);
        EXPECT_LT(w.depth, r);
        const dReal* v = dBodyGetLinearVel(b);
        EXPECT_LT(std::fabs(v[1]), 0.05);
        const dReal* p = dBodyGetPosition(b);
        EXPECT_GT(p[1], 0.1 * p[0]);
        // Once down, friction holds it on the slope.
        EXPECT_NEAR(p[0], settled_x, 0.01);
        EXPECT_NEAR(p[2], 8.0, 1e-6);
        dBodyDestroy(b);
        bodies.pop_back();
    }
}

// ---- spheres against spheres -------------------------------------------------

TEST_F(ContactWorld, SphereSphereInJointForceAndTestModes)
{
    const contact_sphere a = {{0, 0, 0}, 1.0f, 0.8f, 5000.0f, 100.0f};
    const contact_sphere b = {{1.9f, 0, 0}, 1.0f, 0.5f, 8000.0f, 300.0f};
    sphere_contact_info info;

    // Test mode: the touch and where, but nothing in the world.
    dBodyID ba = body({0, 0, 0}), bb = body({1.9f, 0, 0});
    ASSERT_TRUE(sphere_sphere_contact(&a, ba, &b, bb, contact_mode_test, &info));
    EXPECT_NEAR(info.depth, 0.1f, 1e-6f);
    EXPECT_VEC_NEAR(info.normal, -1, 0, 0, 1e-6f);     // from b toward a
    EXPECT_VEC_NEAR(info.point, 0.95f, 0, 0, 1e-6f);   // the middle of the overlap
    EXPECT_EQ(0, dBodyGetNumJoints(ba));
    EXPECT_VEC_NEAR(force_on(ba), 0, 0, 0, 0);

    // Joint mode: one contact joint between the two bodies.
    ASSERT_TRUE(sphere_sphere_contact(&a, ba, &b, bb, contact_mode_joint, nullptr));
    ASSERT_EQ(1, dBodyGetNumJoints(ba));
    EXPECT_TRUE(dAreConnected(ba, bb));
    physics_clear_contacts(test::physics());

    // Force mode: k = 5000 (the smaller), c = 100; b closing in at 2 ft/s.
    dBodySetLinearVel(bb, -2.0f, 0, 0);
    ASSERT_TRUE(sphere_sphere_contact(&a, ba, &b, bb, contact_mode_force, &info));
    EXPECT_VEC_NEAR(info.velocity_b, -2.0f, 0, 0, 1e-6f);
    const float f = 2.0f * 100.0f + 0.1f * 5000.0f;
    EXPECT_VEC_NEAR(force_on(ba), -f, 0, 0, 1e-3f);
    EXPECT_VEC_NEAR(force_on(bb), f, 0, 0, 1e-3f);
    EXPECT_EQ(0, dBodyGetNumJoints(ba));

    // A disabled body takes no penalty force; a big overlap is clamped.
    dBodySetForce(ba, 0, 0, 0);
    dBodySetForce(bb, 0, 0, 0);
    dBodyDisable(bb);
    const contact_sphere deep = {{1.0f, 0, 0}, 1.0f, 0.5f, 8000.0f, 300.0f};
    ASSERT_TRUE(sphere_sphere_contact(&a, ba, &deep, bb, contact_mode_force, nullptr));
    EXPECT_VEC_NEAR(force_on(ba), -1000.0f, 0, 0, 1e-3f);
    EXPECT_VEC_NEAR(force_on(bb), 0, 0, 0, 0);

    // Apart: nothing; both bodies absent: a touch without a joint.
    const contact_sphere far = {{2.5f, 0, 0}, 1.0f, 1, 1, 1};
    EXPECT_FALSE(sphere_sphere_contact(&a, ba, &far, bb, contact_mode_joint, nullptr));
    EXPECT_TRUE(sphere_sphere_contact(&a, nullptr, &b, nullptr, contact_mode_joint, nullptr));
    // Coinciding centres: a touch with no direction, so nothing is made.
    const contact_sphere same = {{0, 0, 0.01f}, 1.0f, 1, 5000, 100};
    info.depth = -1.0f;
    EXPECT_TRUE(sphere_sphere_contact(&a, ba, &same, bb, contact_mode_joint, &info));
    EXPECT_EQ(0, dBodyGetNumJoints(ba));
    EXPECT_EQ(-1.0f, info.depth);
    // Not a number never touches.
    const contact_sphere bad = {{NAN, 0, 0}, 1.0f, 1, 1, 1};
    EXPECT_FALSE(sphere_sphere_contact(&a, ba, &bad, bb, contact_mode_joint, nullptr));
}

TEST_F(ContactWorld, ShapeAgainstTerrainOneJointPerTouchingSphere)
{
    terrain t;
    make_flat(&t, 3, 2.0f, 0.0f);
    shape_sphere spheres[3] = {{0, 0, 0, 0.5f, 0.7f, 1, 1}, {0.5f, 0, 0, 0.5f, 0.7f, 1, 1}, {0, 2, 0, 0.5f, 0.7f, 1, 1}};
    shape s = {"test", 3, spheres, nullptr, 2.5f};
    dBodyID b = body({6, 0.3f, 6});
    // Turned so that the second sphere lies below the first.
    dMatrix3 rot;
    dRFromAxisAndAngle(rot, 0, 0, 1, -1.5707963);
    dBodySetRotation(b, rot);
    EXPECT_EQ(1, shape_terrain_contact(&s, b, dBodyGetPosition(b), dBodyGetRotation(b), &t.hf));
    // Centres 0.3 above, 0.2 below and (the third, turned sideways) 0.3 above.
    EXPECT_EQ(3, dBodyGetNumJoints(b));
    physics_clear_contacts(test::physics());
    // Without a body it only reports.
    EXPECT_EQ(1, shape_terrain_contact(&s, nullptr, dBodyGetPosition(b), dBodyGetRotation(b), &t.hf));
    EXPECT_EQ(0, dBodyGetNumJoints(b));
    dBodySetPosition(b, 6, 3.0f, 6);
    EXPECT_EQ(0, shape_terrain_contact(&s, b, dBodyGetPosition(b), dBodyGetRotation(b), &t.hf));
}

}  // namespace
