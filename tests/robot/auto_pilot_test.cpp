// Robots on the default track through the real world tick, on lines test
// riders recorded there first: standing still without lines, the start at
// the gate, a lap ridden and the lines rated, the coast-down after the
// finish, recency keeping two robots off the same line, the recovery
// stages, a hairpin at a walking pace, the same race from the same seed;
// and the yield rule behind a slower bike.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "bike/rider.h"
#include "robot/auto_pilot.h"
#include "robot/auto_pilot_internal.h"
#include "robot_test_util.h"
#include "track/objects.h"

namespace {

using robot_test::track_world;

const int k_second = RACE_TICKS_PER_SECOND;

float speed_of(const bike* b)
{
    return vecmath::length(bike_frame_velocity(b));
}

float distance(vec3 a, vec3 b)
{
    return vecmath::length(vecmath::sub(a, b));
}

// Lines from four test riders, then a reset with robots from slot 18.
struct robot_race : track_world {
    robot_race(int robots, int laps, int seed)
    {
        record_first_lap(4);
        start(0, robots, laps, seed);
        // What the robots learn stays in memory: every race here starts
        // from the same file.
        rs->options.learn = false;
    }
};

TEST(Robots, WithoutLinesOrCentreLineTheyStandBrakedWithTheFootDown)
{
    track_world tw(false, false);
    ASSERT_TRUE(tw.start(0, 2, 1, 3));
    const vec3 at = bike_frame_position(tw.at(18));
    tw.run((double)tw.w->race.start_tick / k_second + 10.0);
    for (int slot : {18, 19}) {
        const bike* b = tw.at(slot);
        EXPECT_EQ(b->path.count, 0);
        EXPECT_EQ(b->front_brake, 1.0f);
        EXPECT_EQ(b->rear_brake, 1.0f);
        EXPECT_EQ(b->sit_dab, 1.0f);
        EXPECT_EQ(b->throttle, 0.0f);
        EXPECT_EQ(b->gate_progress, 0);
    }
    EXPECT_LT(distance(bike_frame_position(tw.at(18)), at), 1.0f);
    vec3 target;
    EXPECT_FALSE(robots_realign_target(tw.rs, tw.w, tw.at(18), &target));
}

TEST(Robots, RevAtTheGateHoldUntilTheDropAndLetTheClutchInOverAQuarterSecond)
{
    robot_race r(2, 1, 5);
    bike* b = r.at(18);
    const int drop = r.w->race.start_tick;
    std::vector<float> throttle, clutch;
    r.run_until(
        [&] {
            throttle.push_back(b->throttle);
            clutch.push_back(b->clutch);
            return r.w->race.tick > drop + 3 * k_second;
        },
        30.0);
    // Commands of tick i are those written by the tick before it.
    auto at = [](const std::vector<float>& v, int tick) { return v[(size_t)tick + 1]; };

    // Before the ready time: blips of 0.25 to 0.75 s with the throttle shut
    // between them, the clutch out.
    int blips = 0, run = 0;
    for (int t = 0; t < 5 * k_second; t++) {
        const float th = at(throttle, t);
        ASSERT_TRUE(th == 0.0f || th == 1.0f) << t;
        EXPECT_EQ(at(clutch, t), 0.0f) << t;
        if (th == 1.0f) {
            run++;
        } else if (run > 0) {
            EXPECT_GE(run, k_second / 4 - 1) << t;
            EXPECT_LE(run, 3 * k_second / 4 + 1) << t;
            blips++;
            run = 0;
        }
    }
    EXPECT_GE(blips, 1);
    // From just after the ready time to the drop: full throttle against the
    // disengaged clutch.
    for (int t = 5 * k_second + k_second / 2 + 1; t <= drop; t++) {
        ASSERT_EQ(at(throttle, t), 1.0f) << t;
        ASSERT_EQ(at(clutch, t), 0.0f) << t;
    }
    // The launch: within the personality's reaction after the drop the
    // clutch comes in evenly over 32 ticks.
    int launch = drop;
    while (at(clutch, launch) == 0.0f)
        launch++;
    const robot_personality* p = robot_personality_of(b->personality);
    EXPECT_LE(launch - drop, (int)(p->reaction_max * k_second) + 2);
    EXPECT_NEAR(at(clutch, launch + 16), 0.5f, 0.04f);
    EXPECT_LT(at(clutch, launch + 28), 1.0f);
    EXPECT_EQ(at(clutch, launch + 33), 1.0f);
    EXPECT_GT(speed_of(b), 20.0f);
}

TEST(Robots, ARobotRidesALapOnTheLinesRatesThemAndCoastsToAStopAfterTheFinish)
{
    robot_race r(1, 1, 7);
    bike* b = r.at(18);
    ASSERT_TRUE(r.run_until([&] { return b->finished != 0; }, 400.0));
    // About as fast as the riders it learnt from (a lap takes them some
    // 190 s from the reset).
    EXPECT_LT(r.w->race.tick, 230 * k_second);
    EXPECT_EQ(b->crash_count, 0);
    // Nearly every section's line was rated at the gate after it (a robot
    // well faster than its line there counts as off it).
    int runs = 0;
    for (int row = 0; row < 32; row++)
        for (const racing_line& l : r.rs->lines.rows[row].lines)
            runs += l.runs;
    EXPECT_GE(runs, 24);

    // At the finish the rest of the path slows from full speed here to a
    // quarter at its end.
    std::vector<line_point> before(b->path.items, b->path.items + b->path.count);
    const float at_finish = speed_of(b);
    world_tick(r.w);
    ASSERT_EQ((size_t)b->path.count, before.size());
    EXPECT_EQ(b->path.items[b->path.count - 1].speed, before.back().speed * 0.25f);
    EXPECT_EQ(b->path.items[b->target].speed, before[(size_t)b->target].speed);
    // It rolls on instead of stopping at once, and comes to a stop.
    r.run(0.5);
    EXPECT_GT(speed_of(b), 0.6f * at_finish);
    r.run(15.0);
    EXPECT_LT(speed_of(b), 2.0f);
}

TEST(Robots, TwoRobotsPickingTheSameSectionTogetherTakeDifferentLines)
{
    robot_race r(2, 1, 5);
    bike* a = r.at(18);
    bike* c = r.at(19);
    set_personality(c, robot_personality_of(a->personality)->name);
    ASSERT_TRUE(r.run_until([&] { return a->gate_progress >= 6; }, 200.0));
    // The second robot made the first one's twin: the same path and the
    // same next section, both due to pick now.
    a->path.count = a->target + 5;
    c->path.count = 0;
    for (int i = 0; i < a->path.count; i++)
        line_points_push(&c->path, a->path.items[i]);
    c->target = a->target;
    c->next_section = a->next_section;
    c->last_advance = a->last_advance;
    c->recovery = 0;
    const int k = a->next_section;
    const int row = line_row_of_section(&r.rs->lines, k);
    ASSERT_GE(lines_in_row(&r.rs->lines, row), 2);
    const int now = r.w->race.tick;
    world_tick(r.w);
    const int first = a->followed_serial[k & 3], second = c->followed_serial[k & 3];
    ASSERT_NE(first, 0);
    ASSERT_NE(second, 0);
    EXPECT_NE(first, second);
    const racing_line* taken[2] = {&r.rs->lines.rows[row].lines[line_by_serial(&r.rs->lines, row, first)],
                                   &r.rs->lines.rows[row].lines[line_by_serial(&r.rs->lines, row, second)]};
    EXPECT_EQ(taken[0]->last_picked, now);
    EXPECT_EQ(taken[1]->last_picked, now);
    // Lines ending within 3 ft of a taken one count as taken too.
    for (const racing_line& l : r.rs->lines.rows[row].lines) {
        if (!l.points)
            continue;
        for (const racing_line* t : taken) {
            const line_point& e = l.points[l.point_count - 1];
            const line_point& f = t->points[t->point_count - 1];
            const float dx = e.x - f.x, dy = e.y - f.y, dz = e.z - f.z;
            if (dx * dx + dy * dy + dz * dz <= 9.0f) {
                EXPECT_EQ(l.last_picked, now);
            }
        }
    }

}

// Six seconds into the race, gives the robot a path of 20 points toward the
// middle of the track starting `away` ft from where it stands, its target
// the second point, just advanced: from here on it is lost. Returns where
// it stood; `along`, when given, the path's direction.
vec3 lose_robot(track_world& tw, bike* b, float away, vec3* along)
{
    tw.run((double)tw.w->race.start_tick / k_second + 6.0);
    const vec3 at = bike_frame_position(b);
    const float half = 0.5f * tw.w->track.heightfield.extent;
    const float dx = half - at.x, dz = half - at.z, len = std::sqrt(dx * dx + dz * dz);
    for (int i = 0; i < 20; i++) {
        const float d = away + 10.0f * (float)i;
        line_points_push(&b->path, line_point{at.x + dx / len * d, at.y, at.z + dz / len * d, 30.0f, 1.5f});
    }
    b->target = 1;
    b->last_advance = tw.w->race.tick;
    if (along)
        *along = vecmath::v3(dx / len, 0.0f, dz / len);
    return at;
}

TEST(Robots, ALostRobotRecoversAt3sIsPushedAt19sAndRestartsAt40s)
{
    track_world tw(false, false);
    ASSERT_TRUE(tw.start(0, 1, 1, 3));
    bike* b = tw.at(18);
    // A path it cannot reach: 700 ft away (no lines here to pick from).
    const vec3 at = lose_robot(tw, b, 700.0f, nullptr);
    const int lost = tw.w->race.tick;
    const robot_slot& s = tw.rs->slots[18];
    int recovered = -1, pushed = -1, restarted = -1;
    float at_push = 0;
    tw.run_until(
        [&] {
            const int now = tw.w->race.tick - 1;  // the tick just run
            if (recovered < 0 && b->recovery == 3)
                recovered = now;
            if (pushed < 0 && s.pushes == 1) {
                pushed = now;
                at_push = distance(bike_frame_position(b), vecmath::v3(b->path.items[1].x, at.y, b->path.items[1].z));
            }
            if (restarted < 0 && s.restarts == 1)
                restarted = now;
            return restarted >= 0;
        },
        45.0);
    EXPECT_EQ(recovered, lost + 3 * k_second + 1);
    EXPECT_EQ(s.recoveries, 1);
    EXPECT_EQ(pushed, lost + 19 * k_second + 1);
    EXPECT_EQ(restarted, lost + 40 * k_second + 1);
    // Pushed back toward its line at about 5 ft/s.
    const float at_restart =
        distance(bike_frame_position(b), vecmath::v3(b->path.items[1].x, at.y, b->path.items[1].z));
    EXPECT_LT(at_restart, at_push - 40.0f);
    // It starts again from the point of its path nearest to it (at least
    // 15 ft off), not from some point further on.
    EXPECT_EQ(b->target, 0);
    EXPECT_EQ(b->last_advance, restarted);
    EXPECT_EQ(b->recovery, 3);
}

// Caught fast (its frame held where it stands), a robot cannot be pushed
// free: once it has stood still through 10 s of pushing it is lifted onto
// its path and set down upright, its race going on where it was, without
// waiting for the restart.
TEST(Robots, ARobotCaughtFastIsLiftedOntoItsPathAndKeepsItsRace)
{
    track_world tw(false, false);
    ASSERT_TRUE(tw.start(0, 1, 1, 3));
    bike* b = tw.at(18);
    vec3 along;
    lose_robot(tw, b, 100.0f, &along);
    const int lost = tw.w->race.tick;
    const int gates = b->gate_progress;
    dBodyID frame = b->bodies[body_frame];
    dBodySetLinearVel(frame, 0, 0, 0);
    dBodySetAngularVel(frame, 0, 0, 0);
    dBodySetKinematic(frame);
    const robot_slot& s = tw.rs->slots[18];
    vec3 carried = {};
    int lifted = -1;
    tw.run_until(
        [&] {
            if (s.lifts == 0)
                return false;
            carried = bike_frame_position(b);
            lifted = tw.w->race.tick;
            return true;
        },
        45.0);
    dBodySetDynamic(frame);
    ASSERT_EQ(s.lifts, 1);
    EXPECT_EQ(s.restarts, 0);
    // Stuck from 6 s, pushed in vain for 10 s more.
    EXPECT_GT(lifted - lost, 16 * k_second);
    EXPECT_LT(lifted - lost, 17 * k_second);
    EXPECT_EQ(s.pushes, 1);
    // Set down on the path's first point, facing along it, upright.
    const line_point& p0 = b->path.items[0];
    EXPECT_LT(std::hypot(carried.x - p0.x, carried.z - p0.z), 5.0f);  // (the frame sits off the spot)
    const dReal* r = bike_frame_rotation(b);
    EXPECT_GT(r[5], 0.95);  // the frame's y axis up
    EXPECT_GT(-(r[2] * along.x + r[10] * along.z), 0.95);  // its -z axis along the path
    EXPECT_EQ(b->gate_progress, gates);
    EXPECT_EQ(b->path.count, 20);
    EXPECT_EQ(b->recovery, 3);
    // It rides on from there.
    tw.run((double)tw.w->race.tick / k_second + 5.0);
    EXPECT_GT(distance(bike_frame_position(b), carried), 5.0f);
}

// The one robot (slot 18) of a world without lines, standing at the gate
// 6 s after the drop: where it stands and the way it faces (fx, fz).
bike* standing_robot(track_world& tw, vec3* at, float* fx, float* fz)
{
    bike* b = tw.at(18);
    tw.run((double)tw.w->race.start_tick / k_second + 6.0);
    *at = bike_frame_position(b);
    const dReal* r = bike_frame_rotation(b);
    const float x = (float)-r[2], z = (float)-r[10], len = std::sqrt(x * x + z * z);
    *fx = x / len;
    *fz = z / len;
    return b;
}

// The helping hand's way back to a line behind a row of tuff blocks: it
// leads round the row's nearer end, never through it, and reaches the
// line; with nothing in the way it leads straight to the rejoining point.
TEST(Robots, APushLeadsRoundARowOfBlocksToTheLine)
{
    track_world tw(false, false);
    ASSERT_TRUE(tw.start(0, 1, 1, 3));
    world* w = tw.w;
    // Open ground in the middle of the map, the line 30 ft beyond a row
    // of blocks 14 ft ahead that reaches 20 ft to the left and 40 ft to
    // the right.
    const float x0 = 0.5f * w->track.heightfield.extent, z0 = x0;
    std::vector<vec3> goals;
    for (int i = 0; i < 30; i++)
        goals.push_back(vecmath::v3(x0 - 30.0f + 2.0f * (float)i, 0.0f, z0 + 30.0f));
    const int preferred = 15;
    const vec3 from = vecmath::v3(x0, 0.0f, z0);
    const vec3 open = autopilot::push_toward(w, from, goals.data(), (int)goals.size(), preferred);
    EXPECT_EQ(open.x, goals[preferred].x);
    EXPECT_EQ(open.z, goals[preferred].z);
    for (float x = x0 - 20.0f; x <= x0 + 40.0f; x += 5.6f)
        statue_add(&w->track.objects, &w->track.heightfield, x, 0.0f, z0 + 14.0f, 0.0f, "null", "null",
                   "@rabbithill/tuffblock.shp", nullptr);
    statue_bins_build(&w->track.objects, &w->track.heightfield);
    // Walk the way a foot at a time, as the wheel is led along it.
    vec3 p = from;
    int steps = 0;
    bool crossed = false, reached = false, left_end = false;
    for (; steps < 150 && !reached; steps++) {
        const vec3 to = autopilot::push_toward(w, p, goals.data(), (int)goals.size(), preferred);
        const vec3 d = vecmath::sub(to, p);
        const float len = vecmath::length(d);
        ASSERT_GT(len, 0.0f);
        const vec3 next = vecmath::add(p, vecmath::scale(d, 1.0f / len));
        // Into a block: the row's ends are round, 3 ft from a block's
        // middle along the row and 1.3 ft across it.
        const float along = std::fmax(x0 - 21.7f - next.x, std::fmax(next.x - (x0 + 37.7f), 0.0f));
        if (std::hypot(along, next.z - (z0 + 14.0f)) < 1.3f)
            crossed = true;
        left_end = left_end || next.x < x0 - 23.0f;
        p = next;
        reached = std::fabs(p.z - (z0 + 30.0f)) < 2.0f && p.x > x0 - 31.0f && p.x < x0 + 29.0f;
    }
    EXPECT_TRUE(reached) << "stopped at " << p.x - x0 << ", " << p.z - z0;
    EXPECT_FALSE(crossed);
    EXPECT_TRUE(left_end);
    EXPECT_LT(steps, 100);
}

TEST(Robots, CrawlingThroughAHairpinTheyPutAFootDownAndStayUp)
{
    track_world tw(false, false);
    ASSERT_TRUE(tw.start(0, 1, 1, 3));
    // A path ridden at a walking pace: 40 ft on, a half circle of 12 ft to
    // the right, 40 ft back.
    vec3 at;
    float fx, fz;
    bike* b = standing_robot(tw, &at, &fx, &fz);
    const float rx = -fz, rz = fx;  // to the right of forward
    const float pace = 5.0f, step = pace * 0.25f, radius = 12.0f;
    auto push = [&](float ahead, float right) {
        line_points_push(&b->path,
                         line_point{at.x + fx * ahead + rx * right, at.y, at.z + fz * ahead + rz * right, pace, 1.5f});
    };
    for (float d = 0.0f; d < 40.0f; d += step)
        push(d, 0.0f);
    const int arc = (int)(3.14159265f * radius / step);
    for (int i = 0; i <= arc; i++) {
        const float a = 3.14159265f * (float)i / (float)arc;
        push(40.0f + radius * std::sin(a), radius - radius * std::cos(a));
    }
    for (float d = 40.0f - step; d > 0.0f; d -= step)
        push(d, 2.0f * radius);
    b->target = 1;
    b->last_advance = tw.w->race.tick;
    const int crashes = b->crash_count;
    int crawling = 0, footdown = 0;
    bool back = false;  // round the bend and on the far leg
    tw.run_until(
        [&] {
            const float v = speed_of(b);
            if (b->recovery == 0 && b->crash_timer == 0 && v > 1.0f && v < 7.0f) {
                crawling++;
                footdown += b->sit_dab == 1.0f;
            }
            const vec3 p = bike_frame_position(b);
            const float ahead = (p.x - at.x) * fx + (p.z - at.z) * fz;
            const float right = (p.x - at.x) * rx + (p.z - at.z) * rz;
            back = back || (right > 18.0f && ahead < 36.0f);
            return back;
        },
        40.0);
    EXPECT_TRUE(back);
    EXPECT_EQ(b->crash_count, crashes);
    EXPECT_GT(crawling, 0);
    EXPECT_EQ(footdown, crawling);
}

TEST(Robots, TheSameSeedGivesTheSameRace)
{
    robot_race r(3, 1, 9);
    r.run(40.0);
    const uint64_t first = world_state_hash(r.w);
    ASSERT_TRUE(r.start(0, 3, 1, 9));
    r.run(40.0);
    EXPECT_EQ(world_state_hash(r.w), first);
    // The robots rode off.
    EXPECT_GT(r.at(18)->gate_progress, 2);
}

// Two bikes on the default track's first straight, one behind the other,
// both heading +x; the race clock `since` seconds after the drop.
struct two_bikes : track_world {
    bike* own = nullptr;
    bike* other = nullptr;
    two_bikes(float gap, float own_speed, float other_speed, float since, float sideways = 0.0f)
        : track_world(false, false)
    {
        start(0, 2, 1, 3);
        w->race.tick = w->race.start_tick + (int)(since * k_second);
        own = at(18);
        other = at(19);
        // Facing +x: (-sin a, -cos a) = (1, 0).
        const float angle = -1.5707964f;
        race_place_bike(w, own, 600.0f, 1268.0f, angle);
        race_place_bike(w, other, 600.0f + gap, 1268.0f + sideways, angle);
        bike_launch(own, own_speed);
        bike_launch(other, other_speed);
    }
    // The wanted speed s after yielding to the other bike, when it is the
    // one to yield to.
    float wanted(float s)
    {
        const autopilot::bike_view view = autopilot::look_at(own);
        return sees() ? autopilot::yield_to(w, own, view, other, s) : s;
    }
    bool sees() { return autopilot::bike_to_yield_to(w, own, autopilot::look_at(own)) == other; }
};

TEST(Robots, BehindASlowerBikeTheyRideNoFasterThanItAlongTheirArc)
{
    // Close behind, from 5 s after the drop: at most three quarters of its
    // speed.
    two_bikes close(15, 30, 20, 10);
    ASSERT_TRUE(close.sees());
    EXPECT_NEAR(close.wanted(40), 0.75f * 20.0f, 0.3f);
    // Straight ahead on the same heading counts, as does a bike half a lane
    // over.
    EXPECT_NEAR(two_bikes(15, 30, 20, 10, 1.5f).wanted(40), 15.0f, 0.5f);
    // At the start the margin is 12 ft and the limit its full speed.
    EXPECT_NEAR(two_bikes(10, 30, 20, 1).wanted(40), 20.0f, 0.3f);
    // Further back: slowing in time, down to its speed when the gap would
    // close while braking at 5 ft/s^2; beyond that nothing changes.
    two_bikes coming(25, 30, 20, 10);
    coming.own->followed_serial[1] = 77;
    ASSERT_TRUE(coming.sees());
    EXPECT_NEAR(coming.wanted(40), 20.0f, 0.3f);
    EXPECT_EQ(coming.own->followed_serial[1], 0);  // a line ridden in traffic is not charged
    EXPECT_NEAR(two_bikes(40, 30, 20, 10).wanted(40), 40.0f, 0.01f);
    // Not slower than what we want: nothing to do.
    EXPECT_NEAR(two_bikes(30, 30, 20, 10).wanted(18), 18.0f, 0.01f);
    // A bike behind us is not ours to yield to.
    EXPECT_FALSE(two_bikes(-15, 30, 20, 10).sees());
}

}  // namespace
