// Bike state snapshots: the byte format of a bike at rest and of the state
// byte, a riding bike taken and posed again, blending and extrapolation,
// ghost posing (velocities, ground lift, crash feet) and the pull on a
// solid remote bike.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "bike/bike.h"
#include "bike/catalogue.h"
#include "bike/contact.h"
#include "bike/drivetrain.h"
#include "bike/limb_pose.h"
#include "bike/physics.h"
#include "bike/snapshot.h"
#include "bike/snapshot_internal.h"
#include "bike/suspension.h"
#include "contact_test_util.h"
#include "core/messages.h"
#include "files/datafs.h"
#include "test_support.h"

namespace {

using contact_test::terrain;
using namespace snapshot_detail;

const float H = 1.0f / 128.0f;
const float GROUND = 10.0f;

vec3 pos(const bike* b, int body)
{
    const dReal* p = dBodyGetPosition(b->bodies[body]);
    return {(float)p[0], (float)p[1], (float)p[2]};
}
snapshot_quat orientation(const bike* b, int body)
{
    const dReal* q = dBodyGetQuaternion(b->bodies[body]);
    return {(float)q[0], (float)q[1], (float)q[2], (float)q[3]};
}
float distance(vec3 a, vec3 b)
{
    return std::sqrt((a.x - b.x) * (a.x - b.x) + (a.y - b.y) * (a.y - b.y) + (a.z - b.z) * (a.z - b.z));
}
float angle_between(snapshot_quat a, snapshot_quat b)
{
    const vec3 r = rotation_vector(a, b);
    return std::sqrt(r.x * r.x + r.y * r.y + r.z * r.z);
}
uint32_t bytes_at(const bike_snapshot& s, int offset, int count)
{
    uint32_t v = 0;
    for (int i = 0; i < count; i++)
        v |= (uint32_t)s.bytes[offset + i] << (8 * i);
    return v;
}
void set_bytes(bike_snapshot* s, int offset, int count, uint32_t v)
{
    for (int i = 0; i < count; i++)
        s->bytes[offset + i] = (uint8_t)(v >> (8 * i));
}

struct Snapshot : ::testing::Test {
    static void SetUpTestSuite() { test::physics(); }
    static void TearDownTestSuite() { test::physics_reset(); }
    test::temp_dir home;
    test::scoped_env xdg{"XDG_DATA_HOME", home.path.c_str()};
    test::scoped_env kz{"KZ_HOME", test::build_data_dir().c_str()};
    terrain ground;
    snapshot_terrain space;
    bike* b = nullptr;
    bike* other = nullptr;

    void SetUp() override
    {
        free_file_index();
        build_file_index();
        clear_messages();
        contact_test::make_flat(&ground, 8, 1.0f, GROUND);  // 512 ft square
        space = snapshot_terrain_of(&ground.hf);
        b = create_bike(test::physics(), "crf250(2018)", 0, "1", nullptr, nullptr, nullptr, nullptr);
        other = create_bike(test::physics(), "crf250(2018)", 1, "2", nullptr, nullptr, nullptr, nullptr);
    }
    void TearDown() override
    {
        destroy_bike(b);
        destroy_bike(other);
        physics_clear_contacts(test::physics());
        free_file_index();
    }

    // Rest pose with the frame body at p.
    void rest_at(bike* x, vec3 p)
    {
        reset_bike_pose(x);
        const vec3 f = x->params.frame_pos;
        translate_bike(x, p.x - f.x, p.y - f.y, p.z - f.z);
    }
    bike_snapshot take(const bike* x)
    {
        bike_snapshot s;
        encode_bike_snapshot(x, space, &s);
        return s;
    }
    snapshot_values read(const bike_snapshot& s, int format = 5)
    {
        return read_bike_snapshot(s, format, b->params, space);
    }

    // Rides the bike on the flat ground: launched at speed along -z, the
    // throttle open and a steady twist on the bars, with the real contact,
    // suspension and drivetrain (no rider balance, so not for long).
    void ride(bike* x, int ticks)
    {
        place_bike_at_start(x, &ground.hf, 256.0f, 256.0f, 0.0f, GROUND);
        const float speed = 30.0f;
        for (int i = 0; i < bike_body_count; i++)
            dBodySetLinearVel(x->bodies[i], 0, 0, -speed);
        const float spin[2] = {-speed / (x->params.front_tyre_ring_radius + x->params.front_tyre_section_radius),
                               -speed / (x->params.rear_tyre_ring_radius + x->params.rear_tyre_section_radius)};
        dBodySetAngularVel(x->bodies[body_front_wheel], spin[0], 0, 0);
        dBodySetAngularVel(x->bodies[body_rear_wheel], spin[1], 0, 0);
        x->gear = 2;
        x->engine_speed = overall_ratio(x) * -spin[1];
        x->clutch = 1;
        for (int t = 0; t < ticks; t++) {
            x->throttle = 0.7f;
            bike_touches_ground(x, &ground.hf);
            apply_suspension(x);
            drivetrain_step(x, t);
            dVector3 axis;
            dJointGetHingeAxis(x->joints[joint_steering_head], axis);
            const float twist = 3.0f;
            dBodyAddTorque(x->bodies[body_fork_upper], axis[0] * twist, axis[1] * twist, axis[2] * twist);
            dBodyAddTorque(x->bodies[body_frame], -axis[0] * twist, -axis[1] * twist, -axis[2] * twist);
            physics_step(test::physics());
        }
    }
};

TEST_F(Snapshot, RestPoseEncodesToTheTableValues)
{
    const float e = ground.hf.extent;
    ASSERT_FLOAT_EQ(space.height_base, GROUND);
    ASSERT_FLOAT_EQ(space.extent, 512.0f);
    rest_at(b, {e / 2, GROUND, e / 2});
    const bike_snapshot s = take(b);

    const uint8_t half[3] = {0x00, 0x00, 0x80};
    EXPECT_EQ(0, memcmp(s.bytes + 0, half, 3));
    EXPECT_EQ(bytes_at(s, 3, 3), 0u);
    EXPECT_EQ(0, memcmp(s.bytes + 6, half, 3));
    EXPECT_EQ(bytes_at(s, 9, 2), 65535u);
    EXPECT_EQ(bytes_at(s, 11, 2), 32768u);
    EXPECT_EQ(bytes_at(s, 13, 2), 32768u);
    EXPECT_EQ(bytes_at(s, 15, 2), 32768u);
    // Straight ahead falls just below the middle with the single-precision
    // constants.
    EXPECT_EQ(s.bytes[17], 127);
    EXPECT_EQ(s.bytes[18], 255);
    EXPECT_EQ(s.bytes[19], 255);
    const vec3 r = {b->params.rider_pos.x - b->params.frame_pos.x, b->params.rider_pos.y - b->params.frame_pos.y,
                    b->params.rider_pos.z - b->params.frame_pos.z};
    const float d[3] = {r.x, r.y, r.z};
    for (int i = 0; i < 3; i++) {
        const uint32_t expect = (uint32_t)std::floor((double)((d[i] + 16.0f) / 32.0f) * 65535.0 + 0.5);
        EXPECT_EQ(bytes_at(s, 20 + 2 * i, 2), expect) << i;
    }
    EXPECT_EQ(bytes_at(s, 26, 2), 65535u);
    EXPECT_EQ(s.bytes[36], 0);
    EXPECT_EQ(bytes_at(s, 37, 2), 0u);
}

TEST_F(Snapshot, StateByteAndEngineSpeed)
{
    // Throttle truncates to fifteenths; gear and dab in the low bits.
    EXPECT_EQ(snapshot_state_byte(0, 0, 0.99f, 0), 14 << 4);
    EXPECT_EQ(snapshot_state_byte(3, 0.1f, 1.0f, 0), (15 << 4) | 8 | 3);
    EXPECT_EQ(snapshot_state_byte(9, 0, 0, 0), 6);
    EXPECT_EQ(snapshot_state_byte(-2, 0, -1.0f, 0), 0);
    EXPECT_EQ(snapshot_state_byte(0, 0, NAN, 0), 0);
    // Crash levels: a fresh crash is level 15, the last tick level 0.
    EXPECT_EQ(snapshot_state_byte(2, 1, 1, 512), (15 << 4) | 7);
    EXPECT_EQ(snapshot_state_byte(2, 1, 1, 1), 7);
    EXPECT_EQ(snapshot_state_byte(0, 0, 0, 512 + 460800), (15 << 4) | 7);

    bike_snapshot s;
    s.bytes[36] = snapshot_state_byte(0, 0, 0.99f, 0);
    EXPECT_FLOAT_EQ(read(s).throttle, 14.0f / 15.0f);
    s.bytes[36] = snapshot_state_byte(0, 0, 0, 512);
    EXPECT_TRUE(read(s).rider_down);
    EXPECT_EQ(read(s).crash_timer, 128);
    s.bytes[36] = snapshot_state_byte(0, 0, 0, 1);
    EXPECT_EQ(read(s).crash_timer, 1);

    rest_at(b, {100, 20, 100});
    b->engine_speed = 1000.0f;
    EXPECT_NEAR(read(take(b)).engine_speed, 1000.0f, 0.06f);
    // Beyond 32768 rpm the value saturates instead of wrapping.
    b->engine_speed = 5000.0f;
    EXPECT_EQ(bytes_at(take(b), 37, 2), 65535u);
    EXPECT_NEAR(read(take(b)).engine_speed, 32768.0f * 0.10471975511965977f, 0.01f);
    b->engine_speed = -50.0f;
    EXPECT_EQ(bytes_at(take(b), 37, 2), 0u);
}

TEST_F(Snapshot, PositionsOutsideTheTerrainSaturate)
{
    const float e = ground.hf.extent;
    rest_at(b, {-30, GROUND - 5, e + 40});
    bike_snapshot s = take(b);
    EXPECT_EQ(bytes_at(s, 0, 3), 0u);
    EXPECT_EQ(bytes_at(s, 3, 3), 0u);
    EXPECT_EQ(bytes_at(s, 6, 3), 16777215u);
    rest_at(b, {10, GROUND + e + 100, 10});
    s = take(b);
    EXPECT_EQ(bytes_at(s, 3, 3), 16777215u);
    EXPECT_FLOAT_EQ(read(s).frame_position.y, GROUND + e);
    // The rider more than 16 ft from the frame.
    rest_at(b, {100, 20, 100});
    dBodySetPosition(b->bodies[body_rider], 130, 20, 100);
    s = take(b);
    EXPECT_EQ(bytes_at(s, 20, 2), 65535u);
    EXPECT_FLOAT_EQ(read(s).rider_offset.x, 16.0f);
}

TEST_F(Snapshot, ARidingBikeIsPosedAgainWithinTheQuantisation)
{
    ride(b, 80);
    // The ride left the joints somewhere in their travel.
    const float steering = (float)dJointGetHingeAngle(b->joints[joint_steering_head]);
    const float fork = (float)dJointGetSliderPosition(b->joints[joint_fork_slider]);
    const float swing = (float)dJointGetHingeAngle(b->joints[joint_swingarm_pivot]);
    ASSERT_GT(std::fabs(steering), 0.02f);
    ASSERT_LT(fork, -0.02f);
    ASSERT_LT(swing, -0.01f);
    b->dab_amount = 0.5f;
    const bike_snapshot s = take(b);

    apply_playback_tuning(other);
    decode_bike_snapshot(other, s, 5, space);
    for (int i = 0; i < bike_body_count; i++) {
        // Position steps are tiny; the joint bytes (1/255 of their range)
        // and the joints' own slack dominate.
        EXPECT_LT(distance(pos(b, i), pos(other, i)), 0.03f) << i;
        EXPECT_LT(angle_between(orientation(b, i), orientation(other, i)), 0.02f) << i;
    }
    EXPECT_EQ(other->gear, b->gear);
    EXPECT_NEAR(other->throttle, b->throttle, 1.0f / 15.0f);
    EXPECT_NEAR(other->engine_speed, b->engine_speed, 0.1f);
    EXPECT_EQ(other->crash_timer, 0);

    // The posed bike gives the same snapshot back (every joint read with
    // the sign it was posed with). The dab is the ghost step's business.
    const bike_snapshot again = take(other);
    for (int i = 0; i < BIKE_SNAPSHOT_SIZE; i++) {
        if (i != 36) {
            EXPECT_LE(std::abs((int)again.bytes[i] - (int)s.bytes[i]), 1) << "byte " << i;
        }
    }
    EXPECT_EQ(again.bytes[36], s.bytes[36] & ~8);
    EXPECT_NEAR((float)dJointGetHingeAngle(other->joints[joint_steering_head]), steering, 0.01f);
    EXPECT_NEAR((float)dJointGetSliderPosition(other->joints[joint_fork_slider]), fork, 0.005f);
    EXPECT_NEAR((float)dJointGetHingeAngle(other->joints[joint_swingarm_pivot]), swing, 0.005f);
}

TEST_F(Snapshot, DecodingSetsGearThrottleAndCrashState)
{
    rest_at(b, {100, 20, 100});
    bike_snapshot s = take(b);
    // A gear the model lacks reads as the nearest gear below it.
    other->params.gear_ratio[4] = 0;
    other->params.gear_ratio[5] = 0;
    s.bytes[36] = (uint8_t)(6 | (15 << 4));
    decode_bike_snapshot(other, s, 5, space);
    EXPECT_EQ(other->gear, 3);
    EXPECT_FLOAT_EQ(other->throttle, 1.0f);

    // Rider down: mount detached, throttle closed, crash timer from the level.
    s.bytes[36] = snapshot_state_byte(0, 0, 0, 60);  // level 6
    decode_bike_snapshot(other, s, 5, space);
    EXPECT_EQ(other->crash_timer, 51);
    EXPECT_EQ(other->throttle, 0.0f);
    EXPECT_EQ(dJointGetBody(other->joints[joint_rider_mount], 0), nullptr);

    // Back on the bike: re-seated, the rider where the snapshot has it.
    s.bytes[36] = 2;
    dBodySetPosition(b->bodies[body_rider], 100.3, 23, 100.2);
    set_bytes(&s, 20, 2, bytes_at(take(b), 20, 2));
    decode_bike_snapshot(other, s, 5, space);
    EXPECT_EQ(other->crash_timer, 0);
    EXPECT_EQ(other->gear, 2);
    EXPECT_EQ(dJointGetBody(other->joints[joint_rider_mount], 0), other->bodies[body_rider]);
    EXPECT_EQ(dJointGetBody(other->joints[joint_rider_mount], 1), other->bodies[body_frame]);
    EXPECT_NEAR(pos(other, body_rider).x, 100.3f, 0.001f);
}

TEST_F(Snapshot, FormatFourMovesTheRiderAlongItsRail)
{
    rest_at(b, {200, 30, 300});
    const bike_snapshot five = take(b);
    bike_snapshot four;
    memcpy(four.bytes, five.bytes, 20);
    four.bytes[20] = 255;       // the far end of the slide
    four.bytes[21] = 64;        // front axle
    four.bytes[22] = 200;       // rear axle
    four.bytes[23] = 1 | (9 << 4);
    set_bytes(&four, 24, 2, 32768);
    decode_bike_snapshot(other, four, 4, space);

    const bike_params& p = other->params;
    const vec3 dir = normalised_or_zero(p.rider_move_dir);
    const vec3 expect = {200 + p.rider_pos.x - p.frame_pos.x + dir.x * p.rider_move_max,
                         30 + p.rider_pos.y - p.frame_pos.y + dir.y * p.rider_move_max,
                         300 + p.rider_pos.z - p.frame_pos.z + dir.z * p.rider_move_max};
    EXPECT_LT(distance(pos(other, body_rider), expect), 1e-3f);
    EXPECT_LT(angle_between(orientation(other, body_rider), orientation(other, body_frame)), 1e-4f);
    EXPECT_EQ(other->gear, 1);
    EXPECT_FLOAT_EQ(other->throttle, 9.0f / 15.0f);
    EXPECT_NEAR(other->engine_speed, 16384.0f * 0.10471975511965977f, 0.1f);
    EXPECT_NEAR((float)dJointGetHingeAngle(other->joints[joint_rear_axle]), 200.0f / 255.0f * 6.2831855f - 3.1415927f,
                1e-3f);
}

TEST_F(Snapshot, BlendingRunsTheWheelsAroundTheCircle)
{
    bike_snapshot a, c, out;
    a.bytes[35] = 250;
    c.bytes[35] = 10;
    interpolate_bike_snapshot(&out, a, c, 0.4f, 5);
    EXPECT_EQ(out.bytes[35], 1);  // forward across the wrap
    a.bytes[35] = 10;
    c.bytes[35] = 250;
    interpolate_bike_snapshot(&out, a, c, 0.4f, 5);
    EXPECT_EQ(out.bytes[35], 4);  // backward
    a.bytes[34] = 100;
    c.bytes[34] = 110;
    interpolate_bike_snapshot(&out, a, c, 0.5f, 5);
    EXPECT_EQ(out.bytes[34], 105);
}

TEST_F(Snapshot, ExtrapolationMovesOnlyThePosition)
{
    rest_at(b, {100, 20, 100});
    b->engine_speed = 300;
    b->throttle = 0.2f;
    const bike_snapshot a = take(b);
    rest_at(b, {104, 21, 98});
    dBodySetPosition(b->bodies[body_rider], 104.2, 24, 98.1);
    b->engine_speed = 500;
    b->throttle = 1.0f;
    const bike_snapshot c = take(b);

    bike_snapshot out;
    interpolate_bike_snapshot(&out, a, c, 1.5f, 5);
    const snapshot_values v = read(out);
    EXPECT_NEAR(v.frame_position.x, 106.0f, 1e-3f);
    EXPECT_NEAR(v.frame_position.y, 21.5f, 1e-3f);
    EXPECT_NEAR(v.frame_position.z, 97.0f, 1e-3f);
    for (int i = 17; i <= 25; i++)
        EXPECT_EQ(out.bytes[i], c.bytes[i]) << i;
    EXPECT_EQ(bytes_at(out, 37, 2), bytes_at(c, 37, 2));
    EXPECT_EQ(out.bytes[36], a.bytes[36]);  // the state stays the earlier one's

    interpolate_bike_snapshot(&out, a, c, 0.25f, 5);
    EXPECT_NEAR(read(out).frame_position.x, 101.0f, 1e-3f);
    EXPECT_NEAR(read(out).engine_speed, 350.0f, 0.1f);
    // No fraction, a negative one and old snapshots: the earlier one as is.
    for (float f : {0.0f, -1.0f, NAN}) {
        interpolate_bike_snapshot(&out, a, c, f, 5);
        EXPECT_EQ(0, memcmp(out.bytes, a.bytes, BIKE_SNAPSHOT_SIZE)) << f;
    }
    interpolate_bike_snapshot(&out, a, c, 0.5f, 4);
    EXPECT_EQ(0, memcmp(out.bytes, a.bytes, BIKE_SNAPSHOT_SIZE));
}

TEST_F(Snapshot, BlendedOrientationTakesTheShortWay)
{
    rest_at(b, {100, 20, 100});
    const bike_snapshot a = take(b);
    bike_snapshot c = a;
    // The same orientation stored with the other sign blends to itself.
    for (int offset : {9, 11, 13, 15})
        set_bytes(&c, offset, 2, 65535u - bytes_at(a, offset, 2));
    bike_snapshot out;
    interpolate_bike_snapshot(&out, a, c, 0.5f, 5);
    EXPECT_LT(angle_between(read(out).frame_orientation, {1, 0, 0, 0}), 1e-3f);
}

TEST_F(Snapshot, GhostVelocitiesComeFromTheTwoSnapshots)
{
    apply_playback_tuning(other);
    EXPECT_FLOAT_EQ(other->presence, 0.0f);
    EXPECT_FLOAT_EQ(other->roll_damping, 100.0f);
    EXPECT_FLOAT_EQ(other->full_lock_speed, 5.0f);
    EXPECT_FLOAT_EQ(other->restricted_lock_speed, 50.0f);
    EXPECT_FLOAT_EQ(other->restricted_lock_angle, 0.04363323f);

    rest_at(b, {100, 30, 100});
    const bike_snapshot a = take(b);
    reset_bike_pose(b);
    rotate_bike(b, 0, 1, 0, 0.1f);
    const vec3 f = pos(b, body_frame);
    translate_bike(b, 100.5f - f.x, 30.25f - f.y, 100 - f.z);
    const bike_snapshot c = take(b);

    // Four ticks apart: every body turns at 0.1 rad / (4 h) about y.
    apply_bike_snapshot(other, a, a, c, 4, 5, space);
    const dReal* v = dBodyGetLinearVel(other->bodies[body_frame]);
    EXPECT_NEAR(v[0], 0.5 / (4 * H), 0.05);
    EXPECT_NEAR(v[1], 0.25 / (4 * H), 0.05);
    EXPECT_NEAR(v[2], 0.0, 0.05);
    for (int i = 0; i < bike_body_count; i++) {
        const dReal* w = dBodyGetAngularVel(other->bodies[i]);
        EXPECT_NEAR(w[0], 0.0, 0.01) << i;
        EXPECT_NEAR(w[1], 0.1 / (4 * H), 0.01) << i;
        EXPECT_NEAR(w[2], 0.0, 0.01) << i;
    }
    // Posed from the current snapshot, still a ghost.
    EXPECT_LT(distance(pos(other, body_frame), {100, 30, 100}), 1e-3f);
    EXPECT_FALSE(dBodyIsEnabled(other->bodies[body_frame]));

    // The same entry twice: standing still.
    apply_bike_snapshot(other, c, c, c, 1, 5, space);
    v = dBodyGetLinearVel(other->bodies[body_rear_wheel]);
    EXPECT_EQ(v[0] * v[0] + v[1] * v[1] + v[2] * v[2], 0.0);
}

TEST_F(Snapshot, AGhostInTheGroundIsLiftedOutOfIt)
{
    rest_at(b, {100, 30, 100});
    const bike_params& p = b->params;
    // The bottom of the rear tyre's ring 0.2 ft inside the ground.
    const float bottom = pos(b, body_rear_wheel).y - p.rear_tyre_ring_radius;
    translate_bike(b, 0, GROUND - 0.2f - bottom, 0);
    const bike_snapshot s = take(b);

    decode_bike_snapshot(other, s, 5, space);
    vec3 decoded[bike_body_count];
    for (int i = 0; i < bike_body_count; i++)
        decoded[i] = pos(other, i);
    set_bike_ghost(other);
    apply_bike_snapshot(other, s, s, s, 1, 5, space);
    for (int i = 0; i < bike_body_count; i++) {
        const vec3 q = pos(other, i);
        EXPECT_NEAR(q.y - decoded[i].y, 0.2f, 1e-3f) << i;
        EXPECT_FLOAT_EQ(q.x, decoded[i].x) << i;
    }
    EXPECT_NEAR(pos(other, body_rear_wheel).y - p.rear_tyre_ring_radius, GROUND, 1e-4f);

    // Above the ground nothing moves.
    rest_at(b, {100, 30, 100});
    const bike_snapshot high = take(b);
    apply_bike_snapshot(other, high, high, high, 1, 5, space);
    EXPECT_NEAR(pos(other, body_frame).y, 30.0f, 1e-4f);
}

TEST_F(Snapshot, AGhostCrashPutsTheFeetDownAndDabsTheFoot)
{
    rest_at(b, {100, 30, 100});
    const bike_snapshot riding = take(b);
    b->crash_timer = 512;
    const bike_snapshot down = take(b);
    set_bike_ghost(other);
    apply_bike_snapshot(other, riding, riding, riding, 1, 5, space);
    ASSERT_EQ(other->crash_timer, 0);
    EXPECT_FLOAT_EQ(other->dab_amount, 0.0f);

    apply_bike_snapshot(other, down, down, down, 1, 5, space);
    EXPECT_EQ(other->crash_timer, 128);
    EXPECT_EQ(dJointGetBody(other->joints[joint_rider_mount], 0), nullptr);
    EXPECT_FLOAT_EQ(other->dab_amount, 8 * H);
    // The feet start from the pegs, not from wherever they were.
    for (int side = 0; side < 2; side++) {
        dVector3 peg;
        const vec3 local = other->params.peg[side];
        dBodyGetRelPointPos(other->bodies[body_frame], local.x, local.y, local.z, peg);
        EXPECT_LT(distance(other->feet[side].position, {(float)peg[0], (float)peg[1], (float)peg[2]}), 1e-3f)
            << side;
    }
    // Still down next tick: the feet are the crash's own now.
    other->feet[0].position = {1, 2, 3};
    apply_bike_snapshot(other, down, down, down, 1, 5, space);
    EXPECT_FLOAT_EQ(other->feet[0].position.x, 1.0f);
    EXPECT_FLOAT_EQ(other->dab_amount, 16 * H);

    // The dab bit alone also pushes the foot out.
    bike_snapshot dab = riding;
    dab.bytes[36] |= 8;
    other->dab_amount = 0.99f;
    apply_bike_snapshot(other, dab, dab, dab, 1, 5, space);
    EXPECT_EQ(other->crash_timer, 0);
    EXPECT_FLOAT_EQ(other->dab_amount, 1.0f);
}

TEST_F(Snapshot, FollowingGainsGrowAsTheRemoteBikeFades)
{
    force_gains g = follow_gains(0.8f);
    EXPECT_EQ(g.stiffness, 0.0f);
    EXPECT_EQ(g.damping, 0.0f);
    g = follow_gains(0.6f);
    EXPECT_NEAR(g.stiffness, 3000.0f, 0.5f);
    EXPECT_NEAR(g.damping, -300.0f, 0.05f);
    g = follow_gains(0.5f);
    EXPECT_FLOAT_EQ(g.stiffness, 5000.0f);
    EXPECT_FLOAT_EQ(g.damping, -500.0f);
    g = follow_gains(0.3f);
    EXPECT_NEAR(g.stiffness, 23000.0f, 0.5f);
    EXPECT_FLOAT_EQ(g.damping, -500.0f);

    // On the frame body: a target 0.1 ft ahead in x, the bike drifting at
    // 1 ft/s in z while the snapshots stand still.
    rest_at(b, {100.1f, 30, 100});
    b->gear = 3;
    b->throttle = 0.5f;
    const bike_snapshot target = take(b);
    struct {
        float presence;
        float fx, fz;
    } cases[] = {{0.8f, 0, 0}, {0.5f, 500, 500}, {0.3f, 2300, 500}};
    for (const auto& c : cases) {
        rest_at(other, {100, 30, 100});
        other->presence = c.presence;
        dBodySetLinearVel(other->bodies[body_frame], 0, 0, 1);
        dBodySetForce(other->bodies[body_frame], 0, 0, 0);
        apply_bike_snapshot(other, target, target, target, 1, 5, space);
        const dReal* f = dBodyGetForce(other->bodies[body_frame]);
        EXPECT_NEAR(f[0], c.fx, 2.0) << c.presence;
        EXPECT_NEAR(f[1], 0.0, 2.0) << c.presence;
        EXPECT_NEAR(f[2], -c.fz, 2.0) << c.presence;
        EXPECT_EQ(other->gear, 3);
        EXPECT_NEAR(other->throttle, 7.0f / 15.0f, 1e-6f);
        EXPECT_NEAR(other->lean, 0.0f, 0.01f);
        EXPECT_TRUE(dBodyIsEnabled(other->bodies[body_frame]));
    }
    // Far away the pull is capped.
    rest_at(other, {90, 30, 100});
    other->presence = 0.3f;
    dBodySetForce(other->bodies[body_frame], 0, 0, 0);
    dBodySetLinearVel(other->bodies[body_frame], 0, 0, 0);
    apply_bike_snapshot(other, target, target, target, 1, 5, space);
    const dReal* f = dBodyGetForce(other->bodies[body_frame]);
    EXPECT_NEAR(std::sqrt(f[0] * f[0] + f[1] * f[1] + f[2] * f[2]), 2500.0, 0.5);
}

TEST_F(Snapshot, AFollowedBikeTakesTheSnapshotsCrash)
{
    rest_at(b, {100, 30, 100});
    b->crash_timer = 512;
    const bike_snapshot down = take(b);
    rest_at(other, {100, 30, 100});
    other->presence = 0.5f;
    apply_bike_snapshot(other, down, down, down, 1, 5, space);
    EXPECT_EQ(other->crash_timer, 128);
    EXPECT_EQ(other->throttle, 0.0f);
    EXPECT_EQ(other->sit_dab, 0.0f);
    EXPECT_EQ(other->lean, 0.0f);
    EXPECT_EQ(dJointGetBody(other->joints[joint_rider_mount], 0), nullptr);
    EXPECT_GT(distance(other->feet[0].position, {0, 0, 0}), 1.0f);

    b->crash_timer = 0;
    bike_snapshot up = take(b);
    up.bytes[36] |= 8;
    apply_bike_snapshot(other, up, up, up, 1, 5, space);
    EXPECT_EQ(other->crash_timer, 0);
    EXPECT_EQ(other->sit_dab, 1.0f);
    EXPECT_EQ(dJointGetBody(other->joints[joint_rider_mount], 0), other->bodies[body_rider]);
}

}  // namespace
