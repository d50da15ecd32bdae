// The headless runner's scripts and readouts: controls over time given on
// the command line or in a file, and the figures of a bike it prints.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "bike/controls.h"
#include "core/vec3.h"

struct bike;
struct data_stream;
struct track;
struct world;

// ---- scripted controls -------------------------------------------------------

// A script's commands of one tick are the bike's own command record; until
// a change says otherwise the clutch is engaged and all else is 0.

// One change of the script: from `tick` on, the controls named in `set`
// take the given values (the others keep theirs).
enum sim_control_bits {
    control_throttle = 1 << 0,
    control_clutch = 1 << 1,
    control_front_brake = 1 << 2,
    control_rear_brake = 1 << 3,
    control_steer = 1 << 4,
    control_lean = 1 << 5,
    control_sit_dab = 1 << 6,
    control_back_up = 1 << 7,
    control_shift = 1 << 8,
};

struct sim_script_event {
    int tick = 0;
    unsigned set = 0;
    control_input values;
};

// A script: changes in the order of their ticks (stable for equal ticks).
//
// Text form, one change per line, "#" starts a comment:
//   SECONDS KEY=VALUE ...
// keys: throttle, clutch, front, rear, steer, lean, sit, backup (numbers,
// clamped into their ranges when applied), shift (-1, 0 or 1; a held shift
// shifts once, so write shift=0 to re-arm). SECONDS is the simulated time
// (0 or more, at most one day), turned into the nearest tick.
struct sim_script {
    std::vector<sim_script_event> events;
};

// Parses one line and appends its change. Empty and comment-only lines add
// nothing. False with a reason on a malformed line.
bool sim_script_add_line(sim_script* s, const char* line, std::string* why);
// Reads a script file (a plain path or a data name) line by line; the
// reason names the line. Lines are limited to 1000 characters.
bool sim_script_load(sim_script* s, const char* path, std::string* why);
// The same over an open stream; name goes into the reason.
bool sim_script_read(sim_script* s, data_stream* in, const char* name, std::string* why);
// The controls in force at a tick.
control_input sim_script_at(const sim_script& s, int tick);

// ---- command lines --------------------------------------------------------------

// Prints "kessrig-sim: MESSAGE" on standard error; returns 1 (the exit
// status of bad input).
int sim_fail(const std::string& message);
// A whole word as a number within lo..hi; false for anything else.
bool sim_parse_long(const char* text, long lo, long hi, long* out);
bool sim_parse_number(const char* text, double lo, double hi, double* out);

// ---- printing -----------------------------------------------------------------

// The ranking of a world as the runner prints it: "Final Results" or
// "Unofficial Results", a "pos=..." line per rider (driver_of names who
// drives a slot), then each rider's lap times.
void sim_print_ranking(const world* w, const std::function<const char*(int slot)>& driver_of);


// Loads a track of the game data (or a directory given as a path) into t,
// printing the loaders' warnings and errors on standard error. False with
// the reason when it cannot be loaded.
bool sim_load_track(track* t, const char* name, std::string* why);

// ---- reading the state ------------------------------------------------------

struct sim_bike_state {
    vec3 position;       // frame body
    vec3 velocity;       // frame body
    float speed_mph;     // along the frame's forward axis
    float rpm;
    int gear;            // 1-based for display
    float fork_travel;   // fraction, 0 extended
    float shock_travel;  // fraction, 0 extended
    float front_depth, rear_depth;
    float roll;          // lean angle, radians, positive left
    float pitch;         // nose up positive, radians
    float steer_angle;   // steering head angle, radians, positive left
    int crash_timer;     // > 0 while the rider is down
    int crash_count;
    float dab;           // how far the foot is out, 0..1
};
sim_bike_state sim_bike_state_of(const bike* b);
