// Paths for the scripted rider from the generated tracks' designs: the
// circuit's centre line, with a lead-in from the starting gate down the
// start chute, heights from the ground the bikes ride on, and speed limits
// over the jumps and whoops.
#pragma once

#include <string>
#include <vector>

#include "scripted_rider.h"

struct heightfield;
struct sim_world;
namespace mkdata {
struct track_design;
}

struct track_path_options {
    float step = 2.0f;          // ft between points (the lap is split evenly)
    bool from_gate = true;      // lead-in down the start chute
    // Speed limits (ft/s; 0 = none of its own) from the start of a feature
    // to its end: tabletops, doubles, whoops.
    float tabletop_speed = 0.0f;
    float double_speed = 0.0f;
    float whoops_speed = 0.0f;
};

// The centre line of a design. With a ground, each point's height is the
// ground's under it; otherwise the design's height of the line.
rider_path design_centre_path(const mkdata::track_design& d, const heightfield* ground,
                              const track_path_options& o);

// The same for the generated track whose directory is track ("rabbithill").
// False with the reason for a track the generator does not make (there is
// no design to follow) or a step outside 0.25..50 ft.
bool track_centre_path(const char* track, const heightfield* ground, const track_path_options& o,
                       rider_path* out, std::string* why);

// Puts a scripted rider on every bike of the world, along the centre line
// of the generated track `track` (from the starting gate), each keeping the
// lane it starts in, and hooks them into the world's tick. path and riders
// are filled here and must outlive the world's use of them. False (with
// the reason, and no rider hooked) when the track has no centre line.
bool sim_follow_track(sim_world* w, const char* track, const scripted_rider_settings& settings, rider_path* path,
                      std::vector<scripted_rider>* riders, std::string* why);
