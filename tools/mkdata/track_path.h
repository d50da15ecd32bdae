// Paths for the scripted rider from the generated tracks' designs (written
// into each track as its "centreline" file): the
// circuit's centre line, with a lead-in from the starting gate down the
// start chute, heights from the ground the bikes ride on, and speed limits
// over the jumps and whoops.
#pragma once

#include <string>
#include <vector>

#include "robot/scripted_rider.h"

struct heightfield;

namespace mkdata {

struct track_design;

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
rider_path design_centre_path(const track_design& d, const heightfield* ground,
                              const track_path_options& o);

}  // namespace mkdata
