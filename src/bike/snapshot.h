// Bike state snapshots: the compact, fixed-size picture of one bike at one
// tick that demos store, the network carries and the time-trial ghost
// replays. A snapshot holds the frame's position and orientation, the three
// joint values that fix the fork and swingarm, the rider's torso, both wheel
// angles, gear, throttle, dab and crash state and the engine speed; the
// other bodies follow from the bike's own geometry.
//
// Format 5 (39 bytes, written and read; multi-byte values little-endian,
// every value clamped into its range and scaled to the integer range with
// 0.5 added and rounded down):
//   0-8    frame position x, y, z: 3 bytes each over [0, E], [H0, H0 + E],
//          [0, E] (E the terrain's extent, H0 its height base)
//   9-16   frame quaternion w, x, y, z: 2 bytes each over [-1, 1]
//   17     steering head angle over [-pi/4, pi/4]
//   18     swingarm angle over [-swingarm_travel, 0]
//   19     fork slider position over [-fork_travel, 0]
//   20-25  rider minus frame position, world x, y, z: 2 bytes each over
//          [-16, 16] ft
//   26-33  rider quaternion, as 9-16
//   34, 35 front and rear axle angles over [-pi, pi]
//   36     state: rider on the bike: gear (bits 0-2), dab (bit 3),
//          throttle x 15 truncated (bits 4-7); rider down: 7 in bits 0-2
//          and the crash level (bits 4-7)
//   37-38  engine speed over [0, 32768] rpm
// Format 4 (26 bytes, read from old demos only): bytes 0-19 as format 5,
// 20 the rider's slide along the model's rider_move_dir (the rider turned
// with the frame), 21-22 the axle angles, 23 the state byte, 24-25 the
// engine speed.
#pragma once

#include <cstdint>

#include "core/vec3.h"

struct bike;
struct bike_params;
struct heightfield;

enum {
    BIKE_SNAPSHOT_SIZE = 39,
    BIKE_SNAPSHOT_V4_SIZE = 26,
};

// A format-5 snapshot, or a format-4 one in its first 26 bytes.
struct bike_snapshot {
    uint8_t bytes[BIKE_SNAPSHOT_SIZE] = {};
};

// The terrain a snapshot's position is measured over. Heights are stored
// over the ground's lowest point as loaded: erosion may dig below it later,
// and a recorder and a player (or two machines of a race) must agree on the
// base whatever has been dug since the track was loaded.
struct snapshot_terrain {
    const heightfield* hf = nullptr;  // ground for the ghost's ground check and the feet
    float extent = 0;                 // E: the terrain's extent
    float height_base = 0;            // H0
};
// The terrain record of a loaded ground. Scans every loaded sample, so the
// track code computes it once per load and keeps it.
snapshot_terrain snapshot_terrain_of(const heightfield* hf);

// Takes the bike's present state (always format 5). Read-only on the bike.
void encode_bike_snapshot(const bike* b, const snapshot_terrain& t, bike_snapshot* out);

// Poses all seven bodies from the snapshot (format 4 or 5) and sets gear,
// throttle, crash state and engine speed. Velocities are left as they are.
// A rider down detaches the rider mount; a rider back on the bike is
// re-seated. A gear the model lacks reads as the next gear below it.
void decode_bike_snapshot(bike* b, const bike_snapshot& s, int format, const snapshot_terrain& t);

// Blends two format-5 snapshots: a earlier, b later, f the fraction (>= 0)
// of the way from a to b. The frame position keeps going beyond b for
// f > 1 (extrapolation); everything else stops at b. The wheel angles blend
// around the circle (a wheel turns forward by up to seven eighths of a turn
// or backward by up to one eighth between two snapshots). The state byte is
// a's. f = 0, a negative or non-number f and format-4 snapshots give a
// unchanged.
void interpolate_bike_snapshot(bike_snapshot* out, const bike_snapshot& a, const bike_snapshot& b, float f,
                               int format);

// Drives a bike by snapshots for one tick: current is the snapshot for this
// tick, earlier and later the two it was blended from, n >= 1 the ticks
// between them (1 when both are the same). A ghost (presence <= 0.25) is
// posed: bodies from current, velocities from the motion between earlier
// and later, lifted out of the ground when its rear tyre would sink in. A
// solid bike (a remote rider the own bike touched) is pulled toward the
// snapshot by forces on its frame that grow as its presence fades, and its
// commands follow the snapshot; its own step then simulates it.
void apply_bike_snapshot(bike* b, const bike_snapshot& current, const bike_snapshot& earlier,
                         const bike_snapshot& later, int n, int format, const snapshot_terrain& t);

// The tuning every bike driven by recorded data gets after it is placed:
// a ghost, with roll damping 100, full lock speed 5, restricted lock speed
// 50 and a restricted lock angle of 2.5 degrees.
void apply_playback_tuning(bike* b);

// ---- decoded values -------------------------------------------------------

struct snapshot_quat {
    float w = 1, x = 0, y = 0, z = 0;
};

// Everything a snapshot says, in world units. For format 4 the rider offset
// and orientation are worked out from the frame and the rider's slide, so
// both formats read the same way.
struct snapshot_values {
    vec3 frame_position = {0, 0, 0};
    snapshot_quat frame_orientation;      // as stored (not normalised)
    float steering = 0;          // radians
    float swingarm = 0;          // radians, <= 0
    float fork = 0;              // feet, <= 0
    vec3 rider_offset = {0, 0, 0};
    snapshot_quat rider_orientation;
    float rider_slide = 0;       // format 4: feet along rider_move_dir
    float front_axle = 0, rear_axle = 0;  // radians
    uint8_t state = 0;
    bool rider_down = false;
    int gear = 0;                // 0..6 as stored (on the bike)
    bool dab = false;
    float throttle = 0;          // 0..1 in fifteenths
    int crash_timer = 0;         // rider down: level x 127 / 15 + 1
    float engine_speed = 0;      // rad/s
};
snapshot_values read_bike_snapshot(const bike_snapshot& s, int format, const bike_params& p,
                                   const snapshot_terrain& t);

// The state byte of a bike: gear, dab and throttle, or the crash level.
uint8_t snapshot_state_byte(int gear, float dab_amount, float throttle, int crash_timer);
