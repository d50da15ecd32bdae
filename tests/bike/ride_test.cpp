// Bikes riding on the generated "rabbithill" ground through the world tick:
// ground contact, the suspension, the drivetrain and the brakes working
// together.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <string>

#include "bike/bike.h"
#include "bike/catalogue.h"
#include "bike/drivetrain.h"
#include "bike/physics.h"
#include "files/datafs.h"
#include "files/memory.h"
#include "ride_world_util.h"
#include "sim_script.h"
#include "test_support.h"
#include "track/surface.h"

namespace {

const float PI = 3.14159265358979f;
const float MPH = 1.4666666666666666f;  // ft/s
// The start chute of rabbithill: level dirt, the start straight ahead (east).
const float CHUTE_X = 420.0f, CHUTE_Z = 1270.0f, EAST = -PI / 2.0f;

float horizontal_distance(vec3 a, vec3 b)
{
    return std::hypot(a.x - b.x, a.z - b.z);
}

float forward_speed(const bike* b)
{
    return bike_forward_speed_mph(b) * MPH;
}

struct Ride : ::testing::Test {
    test::scoped_env data{"KZ_HOME", test::build_data_dir().c_str()};
    std::unique_ptr<ride_world> w;
    sim_script script;

    void SetUp() override
    {
        free_file_index();
        build_file_index();  // the collision shapes live in the main archive
        w.reset(new ride_world());
    }
    void TearDown() override
    {
        w.reset();
        free_file_index();
    }

    void load_rabbithill()
    {
        std::string why;
        ASSERT_TRUE(w->load_ground("rabbithill", &why)) << why;
    }
    void controls(const char* line)
    {
        std::string why;
        ASSERT_TRUE(sim_script_add_line(&script, line, &why)) << why;
    }
    bike* add_bike(float x, float z, float angle) { return w->add_bike("450sxf(2018)", x, z, angle); }
    // One tick with the script's controls for every bike.
    void tick()
    {
        const control_input c = sim_script_at(script, w->tick());
        for (int i = 0; i < w->bikes; i++)
            apply_control_input(w->bike_at(i), &c);
        world_tick(w->w);
    }
    vec3 frame_position(const bike* b) const { return bike_frame_position(b); }
};

TEST_F(Ride, ABikeDroppedFromAFootSettlesOnItsSuspension)
{
    load_rabbithill();
    controls("0 throttle=0 front=1 rear=1");
    bike* b = add_bike(CHUTE_X, CHUTE_Z, EAST);
    const float placed_y = frame_position(b).y;
    translate_bike(b, 0.0f, 1.0f, 0.0f);

    float deepest_fork = 0.0f;
    int airborne_ticks_after_settling = 0;
    float deepest_tyre = 0.0f;
    vec3 at_ten_seconds = {0, 0, 0};
    const int ten_minutes = 10 * 60 * 128;
    for (int t = 1; t <= ten_minutes; t++) {
        tick();
        const sim_bike_state s = sim_bike_state_of(b);
        if (t < 256)
            deepest_fork = std::fmax(deepest_fork, s.fork_travel);
        if (t >= 3 * 128) {
            if (!(s.front_depth > 0.0f) || !(s.rear_depth > 0.0f))
                airborne_ticks_after_settling++;
            deepest_tyre = std::fmax(deepest_tyre, std::fmax(s.front_depth, s.rear_depth));
        }
        if (t == 10 * 128)
            at_ten_seconds = s.position;
        if (t % 128 == 0) {
            ASSERT_TRUE(bike_state_finite(b)) << "tick " << t;
        }
    }
    const sim_bike_state end = sim_bike_state_of(b);
    // Resting on both sagged suspensions, the tyres in the ground but not
    // sunk through it.
    EXPECT_EQ(airborne_ticks_after_settling, 0);
    EXPECT_GT(end.fork_travel, 0.05f);
    EXPECT_LT(end.fork_travel, 0.6f);
    EXPECT_GT(end.shock_travel, 0.05f);
    EXPECT_LT(end.shock_travel, 0.6f);
    EXPECT_LT(deepest_tyre, b->params.rear_tyre_section_radius);
    // The landing pushed the fork further than it rests.
    EXPECT_GT(deepest_fork, end.fork_travel + 0.05f);
    // Still where it landed, at the height it was placed at.
    EXPECT_LT(std::fabs(end.position.y - at_ten_seconds.y), 0.02f);
    EXPECT_LT(horizontal_distance(end.position, at_ten_seconds), 0.25f);
    EXPECT_LT(std::fabs(end.velocity.y), 0.05f);
    EXPECT_LT(end.position.y, placed_y);
    EXPECT_GT(end.position.y, placed_y - 1.0f);
}

TEST_F(Ride, FullThrottleRunsUpThroughTheGearsAsFastAsThePowerAllows)
{
    load_rabbithill();
    controls("0 throttle=1");
    bike* b = add_bike(CHUTE_X, CHUTE_Z, EAST);
    const bike_params& p = b->params;
    const int seconds = 6;
    int gear = b->gear;
    for (int t = 1; t <= seconds * 128; t++) {
        tick();
        if (b->gear != gear) {
            // The tick that shifted is the one before this count.
            EXPECT_EQ((t - 1) % AUTO_SHIFT_INTERVAL, 0) << "tick " << t;
            EXPECT_EQ(b->gear, gear + 1) << "tick " << t;
            gear = b->gear;
        }
        EXPECT_LT(engine_rpm(b), 12100.0f) << "tick " << t;
    }
    ASSERT_TRUE(bike_state_finite(b));
    // Fifth is the top of a five-speed box.
    EXPECT_EQ(b->gear, 4);
    const float v = forward_speed(b);
    EXPECT_GT(v, 55.0f * MPH);
    // No faster than the engine's top speed in fifth allows...
    const float top_gear = overall_ratio(b);
    const float rear_radius = p.rear_tyre_ring_radius + p.rear_tyre_section_radius;
    EXPECT_LT(v, (float)(12000.0 / ENGINE_RPM_PER_RAD_S) / top_gear * rear_radius);
    // ...and no more energy than the engine's best power could have given.
    float peak_power = 0.0f;
    for (int i = 0; i < TORQUE_POINTS; i++)
        peak_power = std::fmax(peak_power, p.open_torque[i] * (float)(i * 500 / ENGINE_RPM_PER_RAD_S));
    const float kinetic = 0.5f * b->total_mass * v * v;
    EXPECT_LT(kinetic, peak_power * (float)seconds);
    EXPECT_GT(kinetic, 0.25f * peak_power * (float)seconds);
    // Driving, the bike squats on its rear suspension.
    const sim_bike_state s = sim_bike_state_of(b);
    EXPECT_GT(s.pitch, 0.0f);
    EXPECT_GT(s.shock_travel, s.fork_travel);
}

TEST_F(Ride, BothBrakesStopTheBikeNoFasterThanTheTyresGrip)
{
    load_rabbithill();
    controls("0 throttle=1");
    controls("3.5 throttle=0 front=1 rear=1");
    bike* b = add_bike(CHUTE_X, CHUTE_Z, EAST);
    for (int t = 0; t < 448; t++)
        tick();
    const float v0 = forward_speed(b);
    ASSERT_GT(v0, 35.0f * MPH);
    const vec3 start = frame_position(b);
    int stopped_at = -1;
    for (int t = 0; t < 6 * 128; t++) {
        tick();
        ASSERT_GT(sim_bike_state_of(b).pitch, -0.5f) << "went over the bars at tick " << t;
        if (stopped_at < 0 && forward_speed(b) < 0.5f * MPH)
            stopped_at = t;
    }
    ASSERT_GE(stopped_at, 0) << "still at " << bike_forward_speed_mph(b) << " mph";
    EXPECT_LT(stopped_at, 4 * 128);
    // It stays stopped with the brakes held.
    EXPECT_LT(std::fabs(forward_speed(b)), 0.5f * MPH);
    const float distance = horizontal_distance(frame_position(b), start);
    // The best dirt grips with 1.25 at most: no shorter than that allows, and
    // no longer than a gentle 8 ft/s^2 would take.
    EXPECT_GT(distance, v0 * v0 / (2.0f * 1.3f * 32.0f));
    EXPECT_LT(distance, v0 * v0 / (2.0f * 8.0f));
}

TEST_F(Ride, WheelsKeepTheirContactRollingOverCellEdgesAt60Mph)
{
    load_rabbithill();
    controls("0 throttle=0.3");
    // Slightly across the grid, so the wheels cross both kinds of cell
    // edges and the diagonals.
    bike* b = add_bike(560.0f, 1275.0f, EAST + 0.05f);
    bike_launch(b, 60.0f * MPH);
    for (int t = 0; t < 32; t++)
        tick();
    const float spacing = w->ground().spacing;
    int lost = 0, cells = 0;
    int last_col = -1, last_row = -1;
    float hardest_kick = 0.0f;
    for (int t = 0; t < 3 * 128; t++) {
        tick();
        if (!(b->front_contact.depth > 0.0f) || !(b->rear_contact.depth > 0.0f))
            lost++;
        const dReal* p = dBodyGetPosition(b->bodies[body_front_wheel]);
        const int col = (int)std::floor(p[0] / spacing), row = (int)std::floor(p[2] / spacing);
        if (col != last_col || row != last_row)
            cells++;
        last_col = col;
        last_row = row;
        hardest_kick = std::fmax(hardest_kick, std::fabs((float)dBodyGetLinearVel(b->bodies[body_front_wheel])[1]));
    }
    EXPECT_GT(forward_speed(b), 58.0f * MPH);
    EXPECT_GT(cells, 150);
    EXPECT_EQ(lost, 0);
    EXPECT_LT(hardest_kick, 3.0f);
}

TEST_F(Ride, ASpinningRearWheelThrowsRoostOnDirt)
{
    load_rabbithill();
    // Front brake held, the rear wheel spins up in place.
    controls("0 throttle=1 front=1");
    bike* b = add_bike(CHUTE_X, CHUTE_Z, EAST);
    int thrown_while_spinning = 0;
    float highest = -1e9f;
    for (int t = 0; t < 256; t++) {
        const int before = w->roost()->live;
        tick();
        const vec3 slip = b->rear_contact.point_velocity;
        if (b->rear_contact.depth > 0.0f && slip.x * slip.x + slip.z * slip.z > 100.0f && w->roost()->live > before)
            thrown_while_spinning++;
    }
    for (const roost_particle& p : w->roost()->particles)
        if (p.live)
            highest = std::fmax(highest, p.position.y - heightfield_height_at(&w->ground(), p.position.x, p.position.z));
    EXPECT_GT(thrown_while_spinning, 10);
    EXPECT_GT(w->roost()->live, 20);
    // In flight above the ground.
    EXPECT_GT(highest, 0.5f);
}

TEST_F(Ride, NoRoostFromGroundWithoutRoostTypes)
{
    // A level ground of one surface that grips like dirt but throws nothing.
    test::temp_dir dir;
    test::write_file(dir / "tileinfo", "friction 1.15 2\nfriction 0.9 30\nroll_resist 4.5 13 10\naddtile\n");
    heightfield hf;
    ASSERT_TRUE(heightfield_create(&hf, 6, 1.5f, nullptr));
    ASSERT_TRUE(load_surface_table(&hf, dir.path.c_str()));
    ASSERT_EQ(hf.surface_count, 1);
    ASSERT_EQ(hf.surfaces[0].roost[0].mode, 0);
    hf.tilemap = (uint8_t*)mem_calloc_or_die((size_t)1 << 12, 1);
    w->take_ground(&hf);

    controls("0 throttle=1 front=1");
    bike* b = add_bike(96.0f, 96.0f, EAST);
    float fastest_slip = 0.0f;
    for (int t = 0; t < 256; t++) {
        tick();
        const vec3 slip = b->rear_contact.point_velocity;
        if (b->rear_contact.depth > 0.0f)
            fastest_slip = std::fmax(fastest_slip, std::sqrt(slip.x * slip.x + slip.z * slip.z));
    }
    EXPECT_GT(fastest_slip, 20.0f);
    EXPECT_EQ(w->roost()->live, 0);
}

TEST_F(Ride, TheSameRideGivesTheSameBits)
{
    controls("0 throttle=1");
    controls("2 throttle=0.4 steer=0.3 shift=1");
    controls("2.5 shift=0 front=0.5 rear=1");
    controls("3.5 throttle=1 front=0 rear=0 steer=-0.2");
    uint64_t hashes[2] = {};
    int particles[2] = {};
    for (int run = 0; run < 2; run++) {
        load_rabbithill();
        bike* a = add_bike(CHUTE_X, CHUTE_Z, EAST);
        bike* b = add_bike(CHUTE_X, CHUTE_Z + 7.0f, EAST);
        for (int t = 0; t < 5 * 128; t++)
            tick();
        ASSERT_NE(a, nullptr);
        ASSERT_NE(b, nullptr);
        hashes[run] = world_state_hash(w->w);
        particles[run] = w->roost()->live;
        w.reset(new ride_world());
    }
    EXPECT_EQ(hashes[0], hashes[1]);
    EXPECT_EQ(particles[0], particles[1]);
}

}  // namespace
