// The headless runner's world: one track ground, bikes placed on it, and the
// world tick that drives them with scripted controls. Shared by kessrig-sim,
// the world-tick benchmark and the behaviour tests, so all three measure and
// check the same loop.
//
// One world tick: every bike takes its scripted controls (through the
// bike's command setters), then the bikes' world step runs: ground and
// bike-to-bike contacts, roost, the physics step, and each bike's own step
// with its rider (balance, dab, crashes), suspension and drivetrain; then
// the roost particles fly.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <ode/ode.h>

#include "bike/catalogue.h"
#include "bike/physics.h"
#include "core/vec3.h"
#include "files/stream.h"
#include "track/heightfield.h"
#include "track/roost.h"

struct bike;
struct scripted_rider;

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

struct sim_rider {
    bike* b = nullptr;
    const sim_script* script = nullptr;  // null: default controls
    // A scripted rider following a path: its throttle, clutch, brakes,
    // steering and lean replace the script's. Null: the script alone.
    scripted_rider* follow = nullptr;
};

// Wall-clock seconds spent in the parts of the world tick (profiling only;
// nothing in the simulation reads it).
struct sim_tick_profile {
    double contacts = 0;  // controls, ground and bike contacts, roost thrown and flying
    double forces = 0;    // the bikes' own steps: rider, suspension, drivetrain
    double step = 0;      // the physics step alone (dWorldStep)
    long ticks = 0;
    // The parts of contacts: the controls (scripted riders), the
    // collisions alone (ground, statues, bike against bike), the roost.
    double controls = 0;
    double collide = 0;
    double roost = 0;
};

struct sim_world {
    physics_space physics;  // created with the first bike; freed by sim_world_free
    heightfield ground;
    std::vector<sim_rider> riders;
    int tick = 0;
    // Roost particles; null: no roost thrown. roost_density is the game's
    // "roost_density" setting (0..1000).
    std::unique_ptr<roost_pool> roost;
    int roost_density = 1000;
    // The setup every bike added gets (the game's defaults unless changed).
    bike_setup setup;
    int start_tick = 0;  // when the (imaginary) start gate dropped
    sim_tick_profile* profile = nullptr;  // filled by sim_world_tick when set
    sim_world() = default;
    sim_world(const sim_world&) = delete;
    sim_world& operator=(const sim_world&) = delete;
    // The physics goes with the world, also on the ways out that never
    // reach sim_world_free.
    ~sim_world() { physics_destroy(&physics); }
};

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

// Creates a bike of the model with the world's setup and automatic
// shifting, places it on the ground at (x, z) facing angle (radians; facing
// (-sin a, -cos a)) and raised until it no longer touches. Returns the
// rider's index.
int sim_world_add_bike(sim_world* w, const char* model, float x, float z, float angle);

// Sends a bike (at rest, upright) off at speed ft/s along its facing: every
// body moves with it, both wheels roll, the engine turns with the rear
// wheel in the lowest gear that keeps it below its upshift rpm, and the
// rider has been moving so for a while (no jolt to throw him off). For
// tests and rides that start at speed.
void sim_bike_launch(bike* b, float speed);

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
    float steer_angle;   // steering head angle, radians, positive left
    int crash_timer;     // > 0 while the rider is down
    int crash_count;
    float dab;           // how far the foot is out, 0..1
};
sim_bike_state sim_bike_state_of(const bike* b);

// The frame's lean angle: positive when leaning left, 0 upright.
float sim_frame_roll(const bike* b);

// True when every body of the bike has a finite position and velocity.
bool sim_bike_finite(const bike* b);

// A 64-bit hash (FNV-1a) of every bike's bodies, in rider order: position,
// orientation quaternion, linear and angular velocity, bit for bit, then
// the engine's speed and angle and the crash count. Two runs of the same
// inputs give the same hash; a change that alters any contact, force or
// the order they reach the physics step almost surely changes it.
uint64_t sim_world_state_hash(const sim_world& w);
