// The library's test rider: a scripted rider turns a wanted path and speed
// into a bike's commands (throttle, brakes, steering, body lean), so tests,
// the headless runner and the benchmarks can ride any track that has a
// centre line (centre_line.h) without the robots.
//
// The path is a line of points on the ground, evenly spaced, usually a
// track's centre line or a racing line. Steering follows it by pure
// pursuit: the curvature that reaches a look-ahead point becomes a lean
// angle (the lean a bike needs to turn at that curvature at its speed), and
// the steering command is that lean's command plus a feedback on the lean
// the bike actually has. Speed follows a profile along the path that is
// slow enough for every curve and for jumps and crests and brakes early
// enough to get there; the bike's automatic shifting picks the gear, the
// clutch stays engaged.
//
// Units: feet, seconds, radians.
#pragma once

#include <vector>

#include "bike/controls.h"
#include "core/vec3.h"

struct bike;

// One point of a path: where it is (y: the ground's height there), how wide
// the riding surface is, and the fastest it may be passed (ft/s; 0 or less
// for no limit of its own, e.g. before a jump or in whoops).
struct rider_path_point {
    float x = 0, y = 0, z = 0;
    float width = 0;
    float speed_limit = 0;
};

// Points [0, loop_start) are a lead-in ridden once (e.g. from the starting
// gate onto the circuit); points [loop_start, count) are ridden in order
// and, when closed, again from loop_start after the last one. step is the
// distance between neighbouring points (ft).
struct rider_path {
    std::vector<rider_path_point> points;
    float step = 2.0f;
    int loop_start = 0;
    bool closed = true;
};

// The point after / before i in the direction of travel (the last point of
// an open path and the first of the lead-in stay put). The point before
// loop_start is the loop's last point when closed.
int rider_path_next(const rider_path& p, int i);
int rider_path_prev(const rider_path& p, int i);
// Signed curvature at point i (1/ft, positive turning right) over the
// points `span` steps either side.
float rider_path_curvature(const rider_path& p, int i, int span);
// The nearest point to (x, z) among the loop's points, or only among the
// lead-in's when in_lead_in (and there is one). -1 for an empty path.
int rider_path_nearest(const rider_path& p, float x, float z, bool in_lead_in);
// Signed horizontal offset of (x, z) from point i across the path (ft,
// positive to the right of the direction of travel).
float rider_path_lateral(const rider_path& p, int i, float x, float z);
// The point `distance` ft along the path from point i (whole steps, rounded
// up), moved `lane` ft to its right, held 2 ft inside the riding surface
// where the path knows its width: where a rider in that lane aims.
vec3 rider_path_point_ahead(const rider_path& p, int i, float distance, float lane);

struct scripted_rider_settings {
    float cruise_speed = 44.0f;       // ft/s on the straights (30 mph)
    float min_speed = 12.0f;          // never plan slower than this (ft/s)
    float lateral_accel = 14.0f;      // ft/s^2 the curves are planned for
    float braking = 10.0f;            // ft/s^2 the slowing is planned for
    // Crests: the bike stays on the ground while v^2 times the crest's
    // curvature stays below crest_accel (ft/s^2).
    float crest_accel = 24.0f;
    float look_ahead_time = 1.0f;     // s at the current speed
    float min_look_ahead = 10.0f;     // ft
    float max_lean = 0.75f;           // rad
    float lane_offset = 0.0f;         // ft to the right of the path
    // Steering: feed-forward of the wanted lean, feedback on the lean
    // error (per rad), the lean rate (per rad/s) and the error's integral
    // (per rad s).
    float steer_feed = 1.0f;
    float steer_lean_gain = 2.0f;
    float steer_rate_gain = 0.35f;
    float steer_integral_gain = 0.5f;
    // Speed: throttle per ft/s below the target, brake per ft/s above it
    // beyond brake_margin.
    float throttle_gain = 0.08f;
    float brake_gain = 0.06f;
    float brake_margin = 3.0f;        // ft/s
    // A path point further away than this (ft) means the rider lost the
    // path (thrown off it in a crash): it is looked for again over the
    // whole loop.
    float lost_distance = 80.0f;
};

// One rider on one path. The path must outlive it.
struct scripted_rider {
    const rider_path* path = nullptr;
    scripted_rider_settings settings;
    std::vector<float> target_speed;  // per path point, ft/s
    int index = -1;                   // nearest path point
    int laps = 0;                     // times the loop was completed
    float lean_integral = 0;          // rad s
    float distance = 0;               // distance to the nearest point (ft)
    bool lost = false;                // the last look-up had to search everything
};

// Plans the speed profile and finds where the bike stands: on the lead-in
// when it is within lost_distance of it, otherwise on the loop. False for a
// path with fewer than three points or a non-positive step.
bool scripted_rider_start(scripted_rider* r, const rider_path* path, const scripted_rider_settings& settings,
                          const bike* b);
// The commands for this tick from the bike's present state: throttle,
// clutch (engaged), brakes, steering and lean; the rest stay 0. While a
// crash runs the rider lets go (no throttle, no brakes, bars straight).
control_input scripted_rider_drive(scripted_rider* r, const bike* b);
// How far along the path the rider is (ft): the loop's length per lap
// completed plus the arc length from loop_start (negative on the lead-in).
float scripted_rider_progress(const scripted_rider* r);
// Gives a scripted rider's commands (throttle, clutch, brakes, steering,
// lean) to the bike through its command setters; the others stay as they
// are.
void ride_command_apply(const control_input& c, bike* b);

// Fills the speed profile for a path (exposed for tests and tools).
void rider_plan_speeds(const rider_path& p, const scripted_rider_settings& s, std::vector<float>* speeds);
