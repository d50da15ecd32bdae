// The rider on the generated ground with the default setup (stability
// 100), arcade physics on and off: riding straight and in circles, a lap of
// the default track with the scripted rider, a jump, an ejecting landing
// and the crash until the rider is back on, a stopped bike on its foot, two
// bikes running into each other, and the same inputs giving the same bits.
#include <gtest/gtest.h>

#include <cmath>
#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bike/bike.h"
#include "bike/catalogue.h"
#include "bike/controls.h"
#include "bike/limb_pose.h"
#include "bike/physics.h"
#include "bike/rider.h"
#include "files/datafs.h"
#include "files/memory.h"
#include "robot/scripted_rider.h"
#include "ride_world_util.h"
#include "test_support.h"
#include "track/surface.h"
#include "track_design.h"
#include "track_ground.h"
#include "track_path.h"

namespace {

const float PI = 3.14159265358979f;
const float MPH = 1.4666666666666666f;  // ft/s
const char* const MODEL = "450sxf(2018)";
// The start straight of rabbithill, heading east.
const float STRAIGHT_X = 600.0f, STRAIGHT_Z = 1266.0f, EAST = -PI / 2.0f;

float horizontal_speed(const bike* b)
{
    const vec3 v = bike_frame_velocity(b);
    return std::hypot(v.x, v.z);
}

float heading(const bike* b)
{
    const dReal* r = dBodyGetRotation(b->bodies[body_frame]);
    // Forward is the frame's -z axis.
    return std::atan2((float)-r[2], (float)-r[10]);
}

float wrap_angle(float a)
{
    while (a > PI)
        a -= 2 * PI;
    while (a < -PI)
        a += 2 * PI;
    return a;
}

// Largest linear and angular speed of any body: a bike that blows up shows
// here long before its numbers stop being finite.
void fastest_motion(const bike* b, float* linear, float* angular)
{
    for (int i = 0; i < bike_body_count; i++) {
        const dReal* v = dBodyGetLinearVel(b->bodies[i]);
        const dReal* w = dBodyGetAngularVel(b->bodies[i]);
        *linear = std::fmax(*linear, (float)std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]));
        // Wheels spin fast by design; only the other bodies' rotation tells.
        if (i != body_front_wheel && i != body_rear_wheel)
            *angular = std::fmax(*angular, (float)std::sqrt(w[0] * w[0] + w[1] * w[1] + w[2] * w[2]));
    }
}

// FNV-1a over the bytes of every body's position, rotation and velocities.
// Throttle that holds a forward speed (ft/s).
float hold_speed(const bike* b, float speed)
{
    const float v = bike_forward_speed_mph(b) * MPH;
    return std::fmin(1.0f, std::fmax(0.0f, 0.15f + 0.1f * (speed - v)));
}

struct RiderBehaviour : ::testing::TestWithParam<bool> {
    test::temp_dir home;
    test::scoped_env xdg{"XDG_DATA_HOME", home.path.c_str()};
    test::scoped_env data{"KZ_HOME", test::build_data_dir().c_str()};
    std::unique_ptr<ride_world> w;

    bool arcade() const { return GetParam(); }

    void SetUp() override
    {
        free_file_index();
        build_file_index();
        fresh_world();
    }
    void TearDown() override
    {
        w.reset();
        free_file_index();
    }
    void fresh_world()
    {
        w.reset(new ride_world());
        apply_stability(&w->setup, 100);
        w->setup.arcade = arcade() ? 1 : 0;
    }

    void load_rabbithill()
    {
        std::string why;
        ASSERT_TRUE(w->load_ground("rabbithill", &why)) << why;
    }
    // A level square of the default track's dirt, 1536 ft a side.
    void load_flat_dirt()
    {
        heightfield hf;
        ASSERT_TRUE(heightfield_create(&hf, 9, 1.5f, nullptr));
        ASSERT_TRUE(load_surface_table(&hf, "@rabbithill"));
        ASSERT_GT(hf.surface_count, 1);
        const size_t cells = (size_t)1 << (2 * hf.grid_log2);
        hf.tilemap = (uint8_t*)mem_alloc_or_die(cells);
        for (size_t k = 0; k < cells; k++)
            hf.tilemap[k] = 1;   // the plain dirt of the generated tile set
        w->take_ground(&hf);
    }
    bike* add_bike(float x, float z, float angle) { return w->add_bike(MODEL, x, z, angle); }

    // One world tick with the commands `command` gives each bike.
    void tick(const std::function<control_input(int, const bike*)>& command) { w->tick(command); }
};

INSTANTIATE_TEST_SUITE_P(ArcadeOffAndOn, RiderBehaviour, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& i) { return i.param ? "Arcade" : "Simulation"; });

TEST_P(RiderBehaviour, ReleasedAt20MphWithTheBarsStraightRidesStraightAndStaysUp)
{
    load_flat_dirt();
    bike* b = add_bike(200.0f, 768.0f, EAST);
    bike_launch(b, 20.0f * MPH);
    const float start_heading = heading(b);
    const vec3 start = bike_frame_position(b);
    float worst_roll = 0.0f, worst_turn = 0.0f;
    for (int t = 0; t < 30 * 128; t++) {
        tick([](int, const bike* x) {
            control_input c;
            c.clutch = 1;
            c.throttle = hold_speed(x, 20.0f * MPH);
            return c;
        });
        ASSERT_EQ(b->crash_timer, 0) << "thrown off at tick " << t;
        if (t >= 128) {
            worst_roll = std::fmax(worst_roll, std::fabs(bike_roll(b)));
            worst_turn = std::fmax(worst_turn, std::fabs(wrap_angle(heading(b) - start_heading)));
        }
    }
    ASSERT_TRUE(bike_state_finite(b));
    EXPECT_LT(worst_roll, 0.1f);
    EXPECT_LT(worst_turn, 0.1f);
    const vec3 end = bike_frame_position(b);
    // 30 s at about 20 mph along its heading, hardly off the line.
    EXPECT_NEAR(end.x - start.x, 30.0f * 20.0f * MPH, 60.0f);
    EXPECT_LT(std::fabs(end.z - start.z), 25.0f);
    EXPECT_NEAR(bike_forward_speed_mph(b), 20.0f, 2.0f);
}

TEST_P(RiderBehaviour, ConstantSteeringHoldsACircleAndStaysUp)
{
    load_flat_dirt();
    bike* b = add_bike(768.0f, 1100.0f, EAST);
    bike_launch(b, 20.0f * MPH);
    const float steer = 0.2f;
    auto command = [steer](int, const bike* x) {
        control_input c;
        c.clutch = 1;
        c.throttle = hold_speed(x, 20.0f * MPH);
        c.steer = steer;
        return c;
    };
    // Settle into the turn, then measure a full circle's worth.
    for (int t = 0; t < 6 * 128; t++)
        tick(command);
    std::vector<float> radii;
    float last_heading = heading(b), turned = 0.0f, worst_roll_change = 0.0f;
    const float settled_roll = bike_roll(b);
    for (int t = 1; t <= 20 * 128; t++) {
        tick(command);
        ASSERT_EQ(b->crash_timer, 0) << "thrown off at tick " << t;
        const float h = heading(b);
        turned += wrap_angle(h - last_heading);
        last_heading = h;
        worst_roll_change = std::fmax(worst_roll_change, std::fabs(bike_roll(b) - settled_roll));
        if (t % 128 == 0) {
            // Radius over the last second: distance over the angle turned.
            radii.push_back(std::fabs(horizontal_speed(b) / (turned == 0.0f ? 1e-6f : turned)));
            turned = 0.0f;
        }
    }
    ASSERT_TRUE(bike_state_finite(b));
    // Leaning into the turn steadily, the radius the same every second.
    EXPECT_GT(std::fabs(settled_roll), 0.05f);
    EXPECT_LT(std::fabs(settled_roll), 1.0f);
    EXPECT_LT(worst_roll_change, 0.1f);
    float lo = 1e9f, hi = 0.0f;
    for (float r : radii) {
        lo = std::fmin(lo, r);
        hi = std::fmax(hi, r);
    }
    EXPECT_GT(lo, 15.0f);
    EXPECT_LT(hi, 500.0f);
    EXPECT_LT(hi / lo, 1.25f) << lo << " .. " << hi;
    EXPECT_NEAR(bike_forward_speed_mph(b), 20.0f, 3.0f);
}
// ---- the scripted rider on the default track ----------------------------------

// The centre line of the default track without the chute, heights from the
// loaded ground.
rider_path centre_line(const heightfield* ground, const mkdata::track_path_options& o)
{
    return mkdata::design_centre_path(*mkdata::generated_tracks()[0].design, ground, o);
}

// Stands a bike on the path at point i, facing along it.
bike* add_on_path(RiderBehaviour* t, const rider_path& p, int i)
{
    const rider_path_point& a = p.points[(size_t)i];
    const rider_path_point& n = p.points[(size_t)rider_path_next(p, i)];
    // Facing (-sin a, -cos a) along the tangent.
    const float angle = std::atan2(-(n.x - a.x), -(n.z - a.z));
    return t->add_bike(a.x, a.z, angle);
}

TEST_P(RiderBehaviour, TheScriptedRiderCompletesALapWithoutCrashing)
{
    load_rabbithill();
    mkdata::track_path_options po;
    po.from_gate = false;
    const rider_path path = centre_line(&w->ground(), po);
    const float lap = (float)(path.points.size()) * path.step;
    ASSERT_GT(lap, 4000.0f);
    bike* b = add_on_path(this, path, 5);
    scripted_rider rider;
    scripted_rider_settings settings;
    settings.cruise_speed = 30.0f * MPH;
    ASSERT_TRUE(scripted_rider_start(&rider, &path, settings, b));
    ASSERT_NEAR(rider.index, 5, 3);

    const float start = scripted_rider_progress(&rider);
    float worst_off = -1e9f;
    int ticks = 0;
    const int limit = 30000;
    while (ticks < limit && scripted_rider_progress(&rider) < start + lap) {
        tick([&](int, const bike* x) { return scripted_rider_drive(&rider, x); });
        ticks++;
        const float half_width = 0.5f * path.points[(size_t)rider.index].width;
        worst_off = std::fmax(worst_off, rider.distance - half_width);
        ASSERT_EQ(b->crash_count, 0) << "crashed at tick " << ticks << " along " << scripted_rider_progress(&rider);
        ASSERT_FALSE(rider.lost) << "tick " << ticks;
    }
    ASSERT_TRUE(bike_state_finite(b));
    ASSERT_LT(ticks, limit) << "only " << scripted_rider_progress(&rider) - start << " ft of " << lap;
    EXPECT_EQ(rider.laps, 1);
    // On the ribbon all the way round, at a moderate pace.
    EXPECT_LT(worst_off, 0.0f);
    const float average_mph = lap / (ticks / 128.0f) / MPH;
    EXPECT_GT(average_mph, 12.0f);
    EXPECT_LT(average_mph, 30.0f);
}

TEST_P(RiderBehaviour, ABikeDrivenOffAJumpLipLandsAndRidesOn)
{
    load_rabbithill();
    const mkdata::track_design& d = *mkdata::generated_tracks()[0].design;
    mkdata::track_path_options po;
    po.from_gate = false;
    const rider_path path = centre_line(&w->ground(), po);
    // The jump with the straightest run-up.
    const mkdata::track_feature* jump = nullptr;
    float straightest = 1e9f;
    for (const mkdata::track_feature& f : d.features) {
        if (f.kind != mkdata::feature_kind::tabletop && f.kind != mkdata::feature_kind::double_jump)
            continue;
        float sharpest = 0.0f;
        for (double s = f.s_begin - 150.0; s < f.s_lip; s += path.step)
            sharpest = std::fmax(sharpest, std::fabs(rider_path_curvature(path, (int)(s / path.step), 3)));
        if (sharpest < straightest) {
            straightest = sharpest;
            jump = &f;
        }
    }
    ASSERT_NE(jump, nullptr);
    ASSERT_LT(straightest, 0.002f);
    const int start = (int)((jump->s_begin - 150.0) / path.step);
    bike* b = add_on_path(this, path, start);
    bike_launch(b, 25.0f * MPH);
    scripted_rider rider;
    scripted_rider_settings settings;
    // Straight at it at 30 mph: no slowing for the crest.
    settings.cruise_speed = 30.0f * MPH;
    settings.crest_accel = 1e6f;
    ASSERT_TRUE(scripted_rider_start(&rider, &path, settings, b));

    int air = 0, longest_air = 0;
    float worst_approach_roll = 0.0f;
    float lip_speed = 0.0f;
    const float loop_start = scripted_rider_progress(&rider) - (float)start * path.step;
    auto along = [&] { return scripted_rider_progress(&rider) - loop_start; };
    for (int t = 0; t < 20 * 128 && along() < jump->s_end + 150.0; t++) {
        tick([&](int, const bike* x) { return scripted_rider_drive(&rider, x); });
        const bool flying = !(b->front_contact.depth > 0.0f) && !(b->rear_contact.depth > 0.0f);
        air = flying ? air + 1 : 0;
        longest_air = std::max(longest_air, air);
        if (along() < jump->s_lip)
            lip_speed = bike_forward_speed_mph(b);
        if (along() > jump->s_begin - 100.0 && along() < jump->s_begin)
            worst_approach_roll = std::fmax(worst_approach_roll, std::fabs(bike_roll(b)));
        ASSERT_EQ(b->crash_count, 0) << "crashed at tick " << t << ", " << along() << " ft along";
    }
    ASSERT_TRUE(bike_state_finite(b));
    EXPECT_GT(lip_speed, 20.0f);
    EXPECT_LT(worst_approach_roll, 0.15f);
    // Off the lip for a real flight, down again and riding on past the
    // landing.
    EXPECT_GT(longest_air, 64) << "in the air for " << longest_air << " ticks";
    EXPECT_GE(along(), jump->s_end + 150.0);
    EXPECT_GT(bike_forward_speed_mph(b), 15.0f);
    EXPECT_LT(std::fabs(bike_roll(b)), 0.5f);
}

// ---- crashes, standing still, bikes in contact -------------------------------------

TEST_P(RiderBehaviour, AHardLandingEjectsTheRiderWhoIsBackOnAfterTheCrash)
{
    load_flat_dirt();
    bike* b = add_bike(768.0f, 768.0f, EAST);
    // Dropped from 60 ft: 62 ft/s onto flat ground.
    translate_bike(b, 0.0f, 60.0f, 0.0f);
    auto idle = [](int, const bike*) {
        control_input c;
        c.clutch = 1;
        c.throttle = 1;   // read as 0 while the rider is down
        return c;
    };
    int landed = -1, thrown = -1, seated = -1;
    float throttle_while_down = 0.0f, weight_while_down = 1.0f;
    for (int t = 0; t < 40 * 128 && seated < 0; t++) {
        tick(idle);
        const bool touching = b->front_contact.depth > 0.0f || b->rear_contact.depth > 0.0f;
        if (landed < 0 && touching)
            landed = t;
        if (thrown < 0 && b->crash_timer > 0)
            thrown = t;
        if (thrown >= 0 && b->crash_timer > 0) {
            throttle_while_down = std::fmax(throttle_while_down, b->throttle);
            const foot_placement f = foot_pose(b, &w->ground());
            weight_while_down = std::fmin(weight_while_down, std::fmin(f.weights[0], f.weights[1]));
            // The rider is off the bike: the mount holds nothing.
            ASSERT_EQ(dJointGetBody(b->joints[joint_rider_mount], 0), nullptr) << "tick " << t;
        }
        if (thrown >= 0 && seated < 0 && b->crash_timer == 0)
            seated = t;
        ASSERT_TRUE(bike_state_finite(b)) << "tick " << t;
    }
    ASSERT_GE(landed, 0);
    if (arcade()) {
        // Arcade riders are never thrown off by a landing.
        EXPECT_LT(thrown, 0);
        EXPECT_EQ(b->crash_count, 0);
        return;
    }
    ASSERT_GE(thrown, 0) << "not thrown off";
    EXPECT_LE(thrown - landed, 16);
    EXPECT_EQ(b->crash_count, 1);
    EXPECT_EQ(throttle_while_down, 0.0f);
    EXPECT_EQ(weight_while_down, 1.0f);
    ASSERT_GE(seated, 0) << "still down after 40 s";
    // The crash lasts its 512 ticks once the rider lies still, and he lies
    // still within a few seconds.
    EXPECT_GE(seated - thrown, 512);
    EXPECT_LT(seated - thrown, 512 + 6 * 128);
    // Back on: mounted, in his seat, feet on the pegs.
    EXPECT_NE(dJointGetBody(b->joints[joint_rider_mount], 0), nullptr);
    const vec3 seat = bike_rider_position(b);
    const dReal* frame = dBodyGetPosition(b->bodies[body_frame]);
    const vec3 rest = {b->params.rider_pos.x - b->params.frame_pos.x, b->params.rider_pos.y - b->params.frame_pos.y,
                       b->params.rider_pos.z - b->params.frame_pos.z};
    dVector3 want;
    dBodyGetRelPointPos(b->bodies[body_frame], rest.x, rest.y, rest.z, want);
    (void)frame;
    EXPECT_LT(std::hypot(std::hypot(seat.x - (float)want[0], seat.y - (float)want[1]), seat.z - (float)want[2]), 0.25f);
    // And he rides off again.
    for (int t = 0; t < 3 * 128; t++)
        tick([](int, const bike* x) {
            control_input c;
            c.clutch = 1;
            c.throttle = hold_speed(x, 10.0f * MPH);
            return c;
        });
    EXPECT_EQ(b->crash_timer, 0);
    EXPECT_GT(bike_forward_speed_mph(b), 5.0f);
}

TEST_P(RiderBehaviour, AStoppedBikeDabsAndStaysUp)
{
    load_flat_dirt();
    bike* b = add_bike(768.0f, 768.0f, EAST);
    auto stop = [](int, const bike*) {
        control_input c;
        c.clutch = 1;
        return c;
    };
    float worst_roll = 0.0f;
    for (int t = 0; t < 12 * 128; t++) {
        tick(stop);
        ASSERT_EQ(b->crash_timer, 0) << "tick " << t;
        if (t >= 2 * 128)
            worst_roll = std::fmax(worst_roll, std::fabs(bike_roll(b)));
    }
    ASSERT_TRUE(bike_state_finite(b));
    EXPECT_LT(worst_roll, PI / 16.0f);
    EXPECT_GT(b->dab_amount, 0.9f);
    // A foot on the ground, the bike standing where it stopped.
    const foot_placement f = foot_pose(b, &w->ground());
    const float lowest = std::fmin(f.feet[0].y, f.feet[1].y);
    EXPECT_NEAR(lowest, heightfield_height_at(&w->ground(), 768.0f, 768.0f) + 0.125f, 0.1f);
    EXPECT_LT(horizontal_speed(b), 0.3f);
}

TEST_P(RiderBehaviour, ABikeRunningIntoAnotherBumpsItWithoutBlowingUp)
{
    load_flat_dirt();
    // Both heading east on one line, the faster one 30 ft behind.
    bike* front = add_bike(330.0f, 768.0f, EAST);
    bike* back = add_bike(300.0f, 768.0f, EAST);
    bike_launch(front, 12.0f * MPH);
    bike_launch(back, 25.0f * MPH);
    // The one behind backs off once it has touched the other.
    float speeds[2] = {12.0f * MPH, 25.0f * MPH};
    auto ride = [&](int i, const bike* x) {
        control_input c;
        c.clutch = 1;
        c.throttle = hold_speed(x, speeds[i]);
        return c;
    };
    float linear = 0.0f, angular = 0.0f;
    int first = -1;
    float back_timer_at_contact = 0.0f, front_timer_at_contact = 0.0f;
    for (int t = 0; t < 6 * 128; t++) {
        tick(ride);
        ASSERT_TRUE(bike_state_finite(front) && bike_state_finite(back)) << "tick " << t;
        fastest_motion(front, &linear, &angular);
        fastest_motion(back, &linear, &angular);
        if (first < 0 && back->first_bike_contact_tick >= 0) {
            first = t;
            back_timer_at_contact = back->bump_timer;
            front_timer_at_contact = front->bump_timer;
            speeds[1] = 5.0f * MPH;
        }
    }
    ASSERT_GE(first, 0) << "the bikes never touched";
    // Both record the contact at the same tick.
    EXPECT_EQ(front->first_bike_contact_tick, back->first_bike_contact_tick);
    EXPECT_GE(back->last_bike_contact_tick, back->first_bike_contact_tick);
    EXPECT_EQ(front->last_bike_contact_tick, back->last_bike_contact_tick);
    // The one that ran into the other has its stability limited for a
    // while; the one hit from behind is never the one punished.
    EXPECT_GE(back_timer_at_contact, 128.0f);
    EXPECT_LE(back_timer_at_contact, 192.0f);
    EXPECT_LE(front_timer_at_contact, 0.0f);
    // The timers run back to 0 one per tick once the bikes are apart.
    EXPECT_EQ(back->bump_timer, 0.0f);
    if (front_timer_at_contact < 0.0f) {
        const float since = (float)(w->tick() - 1 - front->last_bike_contact_tick);
        EXPECT_NEAR(front->bump_timer, std::fmin(0.0f, -640.0f + since), 1.0f);
    }
    EXPECT_LT(w->tick() - 1 - back->last_bike_contact_tick, 6 * 128);
    // Nothing flew apart.
    EXPECT_LT(linear, 120.0f);
    EXPECT_LT(angular, 60.0f);
}

TEST_P(RiderBehaviour, TheSameInputsGiveTheSameBits)
{
    mkdata::track_path_options po;
    uint64_t hashes[2] = {};
    int crashes[2] = {};
    for (int run = 0; run < 2; run++) {
        load_rabbithill();
        const rider_path path = centre_line(&w->ground(), po);
        // Four bikes from the starting gate, each keeping its lane.
        std::vector<scripted_rider> riders(4);
        for (int i = 0; i < 4; i++) {
            const mkdata::gate_piece g = mkdata::design_gate_piece(*mkdata::generated_tracks()[0].design, 10 + 6 * i);
            bike* b = add_bike((float)g.x, (float)g.z, (float)g.angle);
            scripted_rider_settings s;
            s.cruise_speed = (26.0f + 3.0f * (float)i) * MPH;
            ASSERT_TRUE(scripted_rider_start(&riders[(size_t)i], &path, s, b));
            riders[(size_t)i].settings.lane_offset = rider_path_lateral(path, riders[(size_t)i].index, (float)g.x,
                                                                        (float)g.z);
        }
        for (int t = 0; t < 10000; t++)
            tick([&](int i, const bike* x) { return scripted_rider_drive(&riders[(size_t)i], x); });
        for (int i = 0; i < w->bikes; i++)
            crashes[run] += w->bike_at(i)->crash_count;
        hashes[run] = world_state_hash(w->w);
        // The riders got somewhere.
        EXPECT_GT(scripted_rider_progress(&riders[0]), 1000.0f);
        fresh_world();
    }
    EXPECT_EQ(hashes[0], hashes[1]);
    EXPECT_EQ(crashes[0], crashes[1]);
}

}  // namespace
