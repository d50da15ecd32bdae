// The headless runner's world: one track ground, bikes placed on it, and the
// world tick that drives them with scripted controls. Shared by kessrig-sim,
// the world-tick benchmark and the behaviour tests, so all three measure and
// check the same loop.
//
// One world tick: every bike takes its controls and finds its ground
// contacts; the wheels throw their roost; every bike sets its suspension
// motors and drivetrain forces; the physics world steps once and the roost
// particles fly. Until the rider step exists the bikes have nobody to balance
// them, so a bike may carry an upright aid (see below) that stands in for
// the rider's balance and steering.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <ode/ode.h>

#include "core/vec3.h"
#include "files/stream.h"
#include "track/heightfield.h"
#include "track/roost.h"

struct bike;

// ---- scripted controls -------------------------------------------------------

// The commands of one tick. Defaults: clutch lever released (engaged), all
// else 0.
struct sim_controls {
    float throttle = 0;
    float clutch = 1;
    float front_brake = 0;
    float rear_brake = 0;
    float steer = 0;
    float lean = 0;
    float sit_dab = 0;
    float back_up = 0;
    int shift = 0;
};

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
    sim_controls values;
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
sim_controls sim_script_at(const sim_script& s, int tick);

// ---- the world --------------------------------------------------------------

// Holds a bike's frame upright (a spring and damper torque about the
// frame's own fore-aft axis against the lean), holds the rider's torso on
// its seat (two stiff springs between rider and frame, standing in for the
// rider's springs of the rider step) and turns the steering toward
// steer x pi/8 (a spring and damper torque at the steering head). A stand-in
// for the rider, for the runner and the tests only. Torques and soft
// contacts like the rider's own, so the physics step costs what it will
// with a rider.
struct sim_upright_aid {
    bool on = false;
    float roll_spring = 4000;      // lbf ft per radian of lean
    float roll_damping = 800;      // lbf ft per rad/s
    float max_roll_torque = 4000;  // lbf ft
    float seat_spring = 20000;     // lbf/ft holding the rider on its seat
    float seat_damping = 400;      // lbf per ft/s
    float steer_spring = 200;      // lbf ft per radian at the steering head
    float steer_damping = 10;      // lbf ft per rad/s
    float max_steer_torque = 150;  // lbf ft
};

struct sim_rider {
    bike* b = nullptr;
    sim_upright_aid aid;
    const sim_script* script = nullptr;  // null: default controls
};

// Wall-clock seconds spent in the parts of the world tick (profiling only;
// nothing in the simulation reads it).
struct sim_tick_profile {
    double contacts = 0;  // controls, ground contacts, roost
    double forces = 0;    // suspension, drivetrain, aid
    double step = 0;      // the physics step and the particles' flight
    long ticks = 0;
};

struct sim_world {
    heightfield ground;
    std::vector<sim_rider> riders;
    int tick = 0;
    // Roost particles; null: no roost thrown. roost_density is the game's
    // "roost_density" setting (0..1000).
    std::unique_ptr<roost_pool> roost;
    int roost_density = 1000;
    sim_tick_profile* profile = nullptr;  // filled by sim_world_tick when set
};

// Everything below needs the physics world (physics_init) to exist.

// Both ways to set the ground seed the world's random number generator with
// 0 and give the world an empty roost pool.

// The ground of a track directory ("rabbithill", looked up as the data name
// "@rabbithill", or a path holding a "/"): heights, surfaces, tile map.
// False with the reason (and the loader's message) when it cannot be loaded.
bool sim_world_load_track(sim_world* w, const char* track, std::string* why);
// One place to stand a bike: position on the ground and facing angle
// (radians; the bike faces (-sin a, -cos a)).
struct sim_spot {
    float x, z, angle;
};

// The stand positions of the starting gate pieces from the track's
// "timing_gates" ("startinggate:" section), in file order; empty when the
// file or the section is missing. At most 160.
std::vector<sim_spot> sim_track_gate_spots(const char* track);
// The same over an open stream.
std::vector<sim_spot> sim_gate_spots_read(data_stream* in);

// count spots for a row of bikes: the gate pieces centred on the middle of
// the gate when there are enough of them, otherwise a row side by side
// across the facing direction, spacing ft apart, centred on fallback.
std::vector<sim_spot> sim_row_spots(const std::vector<sim_spot>& gate, int count, sim_spot fallback,
                                    float spacing);

// A ground built by the caller (tests): the world takes it over.
void sim_world_take_ground(sim_world* w, heightfield* hf);

// Creates a bike of the model with the default setup and automatic
// shifting, places it on the ground at (x, z) facing angle (radians; facing
// (-sin a, -cos a)) and raised until it no longer touches. with_aid adds
// the upright aid. Returns the rider's index.
int sim_world_add_bike(sim_world* w, const char* model, float x, float z, float angle, bool with_aid);


// Sends a bike (at rest, upright) off at speed ft/s along its facing: every
// body moves with it, both wheels roll, and the engine turns with the rear
// wheel in the lowest gear that keeps it below its upshift rpm. For tests and rides that start at speed.
void sim_bike_launch(bike* b, float speed);

// Adds or removes the upright aid of a rider.
void sim_world_set_aid(sim_world* w, int rider, bool on);

// One world tick (see the top of this file); tick advances by one.
void sim_world_tick(sim_world* w);

// Destroys the bikes and the ground; the physics world stays.
void sim_world_free(sim_world* w);

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
};
sim_bike_state sim_bike_state_of(const bike* b);

// The frame's lean angle: positive when leaning left, 0 upright.
float sim_frame_roll(const bike* b);

// True when every body of the bike has a finite position and velocity.
bool sim_bike_finite(const bike* b);
