// The scripted rider's path geometry and speed profile on paths built by
// hand, the generated track's centre line as a path, and kessrig-sim riding
// a lap with it from the starting gate.
#include <gtest/gtest.h>


#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <string>

#include "bike/bike.h"
#include "bike/physics.h"
#include "files/datafs.h"
#include "robot/scripted_rider.h"
#include "test_support.h"
#include "track_design.h"
#include "track_ground.h"
#include "robot/centre_line.h"
#include "track_path.h"

namespace {

const float R = 100.0f;

// A closed circle of radius R, point 0 at the origin heading -z and turning
// to the right (toward +x), points `step` apart; `lead` straight points
// before it coming up from +z.
rider_path circle(int lead = 0, float step = 2.0f)
{
    rider_path p;
    p.step = step;
    for (int k = lead; k >= 1; k--) {
        rider_path_point q;
        q.z = (float)k * step;
        p.points.push_back(q);
    }
    p.loop_start = lead;
    const int n = (int)std::lround(2.0 * M_PI * R / step);
    for (int k = 0; k < n; k++) {
        const double a = 2.0 * M_PI * k / n;
        rider_path_point q;
        q.x = (float)(R - R * std::cos(a));
        q.z = (float)(-R * std::sin(a));
        q.width = 20.0f;
        p.points.push_back(q);
    }
    return p;
}

// A straight open line along -z with heights y(s).
template <typename F>
rider_path line(int count, float step, F height)
{
    rider_path p;
    p.step = step;
    p.closed = false;
    for (int k = 0; k < count; k++) {
        rider_path_point q;
        q.z = -(float)k * step;
        q.y = height((float)k * step);
        p.points.push_back(q);
    }
    return p;
}

TEST(ScriptedRiderPath, NeighboursWrapTheLoopAndStopAtTheEnds)
{
    const rider_path p = circle(10);
    const int n = (int)p.points.size();
    EXPECT_EQ(rider_path_next(p, 3), 4);
    EXPECT_EQ(rider_path_next(p, 9), 10);          // lead-in into the loop
    EXPECT_EQ(rider_path_next(p, n - 1), 10);      // round again
    EXPECT_EQ(rider_path_prev(p, 10), n - 1);      // the loop's own predecessor
    EXPECT_EQ(rider_path_prev(p, 0), 0);
    const rider_path open = line(20, 1.0f, [](float) { return 0.0f; });
    EXPECT_EQ(rider_path_next(open, 19), 19);
    EXPECT_EQ(rider_path_prev(open, 0), 0);
}

TEST(ScriptedRiderPath, CurvatureIsSignedByTheTurn)
{
    rider_path p = circle();
    for (int i : {0, 7, 150, 313})
        EXPECT_NEAR(rider_path_curvature(p, i, 3), 1.0f / R, 0.01f / R) << i;
    // The same circle the other way round turns left.
    std::reverse(p.points.begin(), p.points.end());
    EXPECT_NEAR(rider_path_curvature(p, 40, 3), -1.0f / R, 0.01f / R);
    const rider_path straight = line(50, 2.0f, [](float) { return 0.0f; });
    EXPECT_EQ(rider_path_curvature(straight, 25, 3), 0.0f);
}

TEST(ScriptedRiderPath, NearestPointAndLateralOffset)
{
    const rider_path p = circle(10);
    const rider_path_point& q = p.points[60];
    // Outside a right-hand turn is to the rider's left.
    const float dx = q.x - R, dz = q.z;
    const float len = std::hypot(dx, dz);
    const float ox = q.x + 5.0f * dx / len, oz = q.z + 5.0f * dz / len;
    EXPECT_EQ(rider_path_nearest(p, ox, oz, false), 60);
    EXPECT_NEAR(rider_path_lateral(p, 60, ox, oz), -5.0f, 0.01f);
    // The lead-in is searched alone when asked for, the loop otherwise.
    EXPECT_EQ(rider_path_nearest(p, 0.0f, 6.0f, true), 7);
    const int on_loop = rider_path_nearest(p, 0.0f, 6.0f, false);
    ASSERT_GE(on_loop, 10);
    EXPECT_LT(std::hypot(p.points[(size_t)on_loop].x, p.points[(size_t)on_loop].z - 6.0f), 0.5f);
    EXPECT_EQ(rider_path_nearest(rider_path(), 0.0f, 0.0f, false), -1);
}

TEST(ScriptedRiderSpeeds, SlowsInTimeForALimitAndForCurves)
{
    scripted_rider_settings s;
    s.cruise_speed = 40.0f;
    s.braking = 10.0f;
    rider_path p = line(200, 2.0f, [](float) { return 0.0f; });
    p.points[100].speed_limit = 10.0f;
    std::vector<float> v;
    rider_plan_speeds(p, s, &v);
    ASSERT_EQ(v.size(), p.points.size());
    EXPECT_FLOAT_EQ(v[100], 10.0f);
    // k points before it no faster than braking at 10 ft/s^2 allows.
    for (int k = 1; k <= 40; k++)
        EXPECT_NEAR(v[100 - k], std::fmin(40.0f, std::sqrt(100.0f + 40.0f * k)), 1e-3f) << k;
    EXPECT_FLOAT_EQ(v[0], 40.0f);
    EXPECT_FLOAT_EQ(v[101], 40.0f);

    // Round a circle: the speed the lateral acceleration allows.
    const rider_path c = circle();
    rider_plan_speeds(c, s, &v);
    for (float x : v)
        EXPECT_NEAR(x, std::sqrt(s.lateral_accel * R), 0.05f);
}

TEST(ScriptedRiderSpeeds, CrestsAndTheLoopsEnd)
{
    scripted_rider_settings s;
    s.cruise_speed = 60.0f;
    s.min_speed = 12.0f;
    // A crest of radius 50 ft at s = 200.
    const rider_path crest = line(200, 2.0f, [](float x) { return -(x - 200.0f) * (x - 200.0f) / 100.0f; });
    std::vector<float> v;
    rider_plan_speeds(crest, s, &v);
    EXPECT_NEAR(v[100], std::sqrt(s.crest_accel * 50.0f), 0.1f);
    // A lip far sharper than any speed clears: planned at the floor.
    const rider_path lip = line(200, 2.0f, [](float x) { return x < 200.0f ? x : 400.0f - x; });
    rider_plan_speeds(lip, s, &v);
    EXPECT_FLOAT_EQ(v[100], 12.0f);
    // A limit just after the start of a loop slows its last points.
    rider_path loop = circle(0, 2.0f);
    s.lateral_accel = 1e6f;
    loop.points[2].speed_limit = 5.0f;
    rider_plan_speeds(loop, s, &v);
    const size_t last = loop.points.size() - 1;
    EXPECT_NEAR(v[last], std::sqrt(25.0f + 2.0f * s.braking * 2.0f * 3.0f), 1e-3f);
}

TEST(ScriptedRiderSpeeds, RefusesPathsItCannotRide)
{
    test::physics();
    bike* b = create_bike(test::physics(), "450sxf(2018)", 0, "1", nullptr, nullptr, nullptr, nullptr);
    scripted_rider r;
    rider_path p;
    EXPECT_FALSE(scripted_rider_start(&r, &p, scripted_rider_settings(), b));
    EXPECT_FALSE(scripted_rider_start(&r, nullptr, scripted_rider_settings(), b));
    p = circle();
    p.step = 0.0f;
    EXPECT_FALSE(scripted_rider_start(&r, &p, scripted_rider_settings(), b));
    // A rider that never started gives neutral commands.
    const control_input c = scripted_rider_drive(&r, b);
    EXPECT_EQ(c.throttle, 0.0f);
    EXPECT_EQ(c.steer, 0.0f);
    EXPECT_EQ(c.clutch, 1.0f);
    // Commands reach the bike through its setters.
    control_input wild;
    wild.throttle = 3.0f;
    wild.steer = -7.0f;
    wild.front_brake = NAN;
    ride_command_apply(wild, b);
    EXPECT_EQ(b->throttle, 1.0f);
    EXPECT_EQ(b->steer, -1.0f);
    EXPECT_EQ(b->front_brake, 0.0f);
    destroy_bike(b);
    test::physics_reset();
}

TEST(CentreLine, TheDefaultTrackFromItsGate)
{
    const mkdata::track_design& d = *mkdata::generated_tracks()[0].design;
    rider_path p = mkdata::design_centre_path(d, nullptr, mkdata::track_path_options());
    ASSERT_GT(p.loop_start, 10);
    // The lap split evenly, the lead-in the chute behind the start.
    EXPECT_NEAR(p.step * (float)(p.points.size() - (size_t)p.loop_start), (float)d.length, 0.01f);
    EXPECT_NEAR(p.step, 2.0f, 0.01f);
    const rider_path_point& start = p.points[(size_t)p.loop_start];
    EXPECT_NEAR(start.x, (float)d.stations[0].x, 1e-3f);
    EXPECT_NEAR(start.z, (float)d.stations[0].z, 1e-3f);
    const rider_path_point& first = p.points[0];
    EXPECT_NEAR(std::hypot(first.x - start.x, first.z - start.z), p.step * (float)p.loop_start, 0.01f);
    // Limits over the jumps when asked for.
    mkdata::track_path_options o;
    o.from_gate = false;
    o.double_speed = 33.0f;
    p = mkdata::design_centre_path(d, nullptr, o);
    EXPECT_EQ(p.loop_start, 0);
    int limited = 0;
    for (const rider_path_point& q : p.points)
        limited += q.speed_limit == 33.0f;
    double doubles = 0;
    for (const mkdata::track_feature& f : d.features)
        if (f.kind == mkdata::feature_kind::double_jump)
            doubles += f.s_end - f.s_begin;
    EXPECT_NEAR(limited * p.step, doubles, 20.0);
}

bool same_points(const rider_path& a, const rider_path& b)
{
    if (a.points.size() != b.points.size())
        return false;
    for (size_t i = 0; i < a.points.size(); i++) {
        const rider_path_point &p = a.points[i], &q = b.points[i];
        if (p.x != q.x || p.y != q.y || p.z != q.z || p.width != q.width || p.speed_limit != q.speed_limit)
            return false;
    }
    return true;
}

TEST(CentreLine, TheGeneratedTracksCarryTheirLineBitForBitAndBrokenFilesAreRefused)
{
    test::scoped_env data("KZ_HOME", test::build_data_dir().c_str());
    free_file_index();
    build_file_index();
    // The file the generator wrote is the design's line, heights from the
    // ground; asked without the lead-in it starts at the loop.
    const mkdata::track_design& d = *mkdata::generated_tracks()[0].design;
    rider_path from_file, loop;
    std::string why;
    ASSERT_TRUE(centre_line_load(d.dir.c_str(), centre_line_options(), &from_file, &why)) << why;
    const rider_path design = mkdata::design_centre_path(d, nullptr, mkdata::track_path_options());
    ASSERT_EQ(from_file.points.size(), design.points.size());
    EXPECT_EQ(from_file.loop_start, design.loop_start);
    EXPECT_EQ(from_file.step, design.step);
    for (size_t i = 0; i < design.points.size(); i += 97) {
        EXPECT_EQ(from_file.points[i].x, design.points[i].x) << i;
        EXPECT_EQ(from_file.points[i].z, design.points[i].z) << i;
    }
    centre_line_options no_lead;
    no_lead.lead_in = false;
    ASSERT_TRUE(centre_line_load(d.dir.c_str(), no_lead, &loop, &why)) << why;
    EXPECT_EQ(loop.loop_start, 0);
    EXPECT_EQ(loop.points.size(), from_file.points.size() - (size_t)from_file.loop_start);
    EXPECT_FALSE(centre_line_load("no_such_track", centre_line_options(), &loop, &why));
    EXPECT_NE(why.find("track 'no_such_track' has no centre line"), std::string::npos) << why;

    // The text round trip loses nothing.
    test::temp_dir dir;
    test::write_file(dir / "centreline", centre_line_text(from_file));
    rider_path again;
    ASSERT_TRUE(centre_line_load(dir.path.c_str(), centre_line_options(), &again, &why)) << why;
    EXPECT_TRUE(same_points(again, from_file));
    EXPECT_EQ(again.loop_start, from_file.loop_start);

    // A broken file is refused with its reason and leaves the path alone.
    const std::string head = "centreline 1\nstep 2 loop_start 0 closed 1 count 3\n";
    const char* const broken[] = {
        "centreline 2\nstep 2 loop_start 0 closed 1 count 3\n1 2 3 4 0\n1 2 3 4 0\n1 2 3 4 0\n",
        "centreline 1\nstep 0 loop_start 0 closed 1 count 3\n1 2 3 4 0\n1 2 3 4 0\n1 2 3 4 0\n",
        "centreline 1\nstep 2 loop_start 1 closed 1 count 3\n1 2 3 4 0\n1 2 3 4 0\n1 2 3 4 0\n",
        "centreline 1\nstep 2 loop_start 0 closed 1 count 2000000000\n1 2 3 4 0\n",
        "centreline 1\nstep 2 loop_start 0 closed 1 count 3\n1 2 3 4 0\n1 2 3 4 0\n",
        "centreline 1\nstep 2 loop_start 0 closed 1 count 3\n1 2 3 4 0\nnan 2 3 4 0\n1 2 3 4 0\n",
        "centreline 1\nstep 2 loop_start 0 closed 1 count 3\n1 2 3 4 0\n1 2 3 4\n1 2 3 4 0\n",
        "centreline 1\nstep 2 loop_start 0 closed 1 count 3\n1 2 3 4 0\n1 2 3 -4 0\n1 2 3 4 0\n",
        "centreline 1\nstep 2 loop_start 0 closed 1 count 3\n1 2 3 4 0 7\n1 2 3 4 0\n1 2 3 4 0\n",
    };
    for (const char* text : broken) {
        test::write_file(dir / "centreline", text);
        why.clear();
        EXPECT_FALSE(centre_line_load(dir.path.c_str(), centre_line_options(), &again, &why)) << text;
        EXPECT_NE(why.find("centreline: "), std::string::npos) << why;
        EXPECT_TRUE(same_points(again, from_file));
    }
    test::write_file(dir / "centreline", head + "1 2 3 4 0\n5 2 3 4 0\n9 2 3 4 0\n");
    ASSERT_TRUE(centre_line_load(dir.path.c_str(), centre_line_options(), &again, &why)) << why;
    EXPECT_EQ(again.points.size(), 3u);
    EXPECT_EQ(again.points[2].x, 9.0f);
    free_file_index();
}

}  // namespace
