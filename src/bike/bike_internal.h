// Shared by the files of the bike module only.
#pragma once

#include "bike/bike.h"

// Sets the frame's mass (box of frame_mass + (1 - d) rider_mass) and the
// rider body's (sphere of d rider_mass, radius 1 ft), and the total mass.
void bike_set_body_masses(bike* b, float d);

// The runtime values a bike has before any setup is applied.
void bike_setup_defaults(bike* b);

template <typename T>
inline T clamp_value(T v, T lo, T hi)
{
    return v < lo ? lo : (v > hi ? hi : v);
}
