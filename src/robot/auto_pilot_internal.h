// Shared by the auto pilot's own files only: what the controllers measure
// on the bike and read off its path.
#pragma once

#include "bike/bike.h"
#include "core/vec3.h"

struct robot_slot;
struct robot_state;
struct world;

namespace autopilot {

constexpr float pi = 3.14159265358979f;
constexpr float tick_length = 0.0078125f;  // seconds

inline float clampf(float v, float lo, float hi)
{
    return v < lo ? lo : (v > hi ? hi : v);
}

// The bike as the controllers see it this tick.
struct bike_view {
    vec3 position = {0, 0, 0};  // the frame body
    vec3 velocity = {0, 0, 0};
    float speed = 0;
    vec3 forward = {0, 0, -1};  // the frame's own forward axis in the world
    vec3 travel = {0, 0, -1};   // unit velocity, forward when at rest
    vec3 side = {1, 0, 0};      // to the right of travel (not normalised)
    float roll = 0;             // positive leaning left
    float roll_rate = 0;
    float slip = 0;             // front slip angle
    float load = 1;             // g_e: at least 1, more while the suspension is loaded
    float roll_rate_limit = 0;  // pi / load
    float turn_radius = 0;      // of the present lean, negative turning left
};

bike_view look_at(const bike* b);

// The path point at a fractional index (clamped to the path), positions
// and heights interpolated, the speed as the interpolated magnitude.
line_point path_point_at(const bike* b, float x);
// The first index from i0 within 20 points whose point and the next were
// ridden in the air; -1 when none.
int jump_ahead(const bike* b, int i0);

// The nearest bike ahead whose ground in the next second (4 ft wide, from
// 4 ft behind to a second of travel ahead) overlaps ours; null when none.
const bike* bike_to_yield_to(const world* w, const bike* b, const bike_view& view);
// The wanted speed behind a slower bike o: no faster than it goes along
// our arc when close (12 ft at the start, 20 ft from 5 s after it, the
// margin shrinking again toward 100 s), and slowing in time to stay behind
// it further back. Lines ridden while slowing for traffic are not charged.
float yield_to(const world* w, bike* b, const bike_view& view, const bike* o, float wanted);

// Throttle, clutch and brakes toward a wanted speed (ft/s).
void speed_controller(bike* b, const bike_view& view, float wanted);
// The path-following controller (recovery 0) and the recovery controller.
void follow_path(robot_state* rs, const world* w, int slot, bike* b, float u, const bike_view& view);
void recover(robot_state* rs, const world* w, int slot, bike* b, float u, const bike_view& view);
// A robot stuck beyond help is carried: the bike set down upright at `at`,
// facing toward `ahead`, out of gear.
void carry_to(const world* w, bike* b, vec3 at, vec3 ahead);
// Where the helping hand leads a front wheel at `from` back to its line:
// straight to goals[preferred] when no statue stands in the way, else a
// few feet along the shortest way round the statues to any of the goals
// (points along the line, those further from the preferred one costing
// more), through the statues only where there is no way round nearby;
// straight to it when none of the goals lies near.
vec3 push_toward(const world* w, vec3 from, const vec3* goals, int goal_count, int preferred);
// The recovery controller toward any path: steers gently toward `toward`
// at a walking pace, the foot down when slow; once lost 19 s (since
// b->last_advance) or stood still for 6 s, leads the front wheel to
// rejoin_goals[rejoin], round what stands in the way (push_toward), and
// carries half the weight. Counts the pushes in s. True while the bike is
// not yet heading for `toward` (or a jump lies near), so that it should go
// on recovering.
bool recover_toward(robot_slot* s, const world* w, bike* b, const bike_view& view, vec3 toward,
                    const vec3* rejoin_goals, int goal_count, int rejoin, bool jump_near);

}  // namespace autopilot
