// A ride of the headless runner: a world on a track of the game data with a
// row of robot slots whose commands come from a script, or from scripted
// riders along the track's centre line, through the world's robot hook.
// kessrig-sim ride and bench and the world-tick benchmark run it; each tick
// is the game's world tick.
//
// The bikes stand at the middle pieces of the starting gate (the race's
// start spots and placement), or in a row at a spot of the caller's; the
// gate is already down when the ride begins at tick 0.
#pragma once

#include <string>
#include <vector>

#include "robot/scripted_rider.h"
#include "sim_script.h"

struct bike;
struct world;

struct sim_ride_options {
    std::string track = "rabbithill";
    std::string model = "450sxf(2018)";
    int bikes = 1;                 // 1..160
    bool have_spot = false;        // a row at (spot_x, spot_z) facing spot_angle
    float spot_x = 0, spot_z = 0, spot_angle = 0;
    float spacing = 3.5f;          // ft between neighbours of a row at a spot
    int roost_density = 1000;      // 0..1000
    float speed_mph = 0;           // launched at this speed
    float drop = 0;                // ft above where they were placed
    bool have_stability = false;   // the setup's "Stability" preset instead of the defaults
    float stability = 100;
    int arcade = -1;               // -1: the setup's
    // Scripted riders along the centre line: 0 none, 1 when the track has
    // one (else the script alone), 2 required.
    int follow = 0;
    float cruise_mph = 30;
    const sim_script* script = nullptr;  // null: default controls
    int threads = 1;               // of the world's tick
};

struct sim_ride {
    world* w = nullptr;
    int first_slot = 0;            // bike i rides in slot first_slot + i
    int count = 0;
    const sim_script* script = nullptr;
    rider_path path;
    std::vector<scripted_rider> followers;  // per bike when following
    bool following = false;

    sim_ride() = default;
    sim_ride(const sim_ride&) = delete;
    sim_ride& operator=(const sim_ride&) = delete;
    ~sim_ride();
    bike* bike_at(int i) const;
    int tick() const;
};

// Sets the ride up (the data file index must be built). False with the
// reason for an unknown model, a track that cannot be loaded, or following
// asked of a track without a centre line.
bool sim_ride_start(sim_ride* r, const sim_ride_options& o, std::string* why);

// True when every bike's state is finite; otherwise the index of the first
// broken one goes to broken.
bool sim_ride_finite(const sim_ride& r, int* broken);
