// Shared by the files of the bike module only.
#pragma once

#include "bike/bike.h"

// Sets the frame's mass (box of frame_mass + (1 - d) rider_mass) and the
// rider body's (sphere of d rider_mass, radius 1 ft), and the total mass.
void bike_set_body_masses(bike* b, float d);

// A stage of the bike's step: ideal joints exchange equal and opposite
// forces; what the six bike joints report on the last step does not sum to
// zero only by numerical error, which would push the bike along. Applies minus that sum (force, and
// moment about the frame's position) to the frame. Not in the first two
// ticks, not during a crash, and not while any joint lacks a body (the
// rider mount while the rider is down). Returns whether it applied.
bool joint_force_correction(bike* b, int tick);

// The runtime values a bike has before any setup is applied.
void bike_setup_defaults(bike* b);

template <typename T>
inline T clamp_value(T v, T lo, T hi)
{
    return v < lo ? lo : (v > hi ? hi : v);
}
