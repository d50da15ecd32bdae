// The contact code's conversions at the physics engine's calls (the vector
// helpers are core/vec3.h's), and the pieces of one contact file another one
// uses. Internal to src/bike: the geometry works in floats and converts at
// the physics engine's calls.
#pragma once

#include <ode/ode.h>

#include <cmath>

#include "core/vec3.h"

struct bike;
struct heightfield;

namespace contact_math {

using namespace vecmath;

// Conversions at the physics engine's calls.
inline vec3 from_ode(const dReal* v)
{
    return {(float)v[0], (float)v[1], (float)v[2]};
}
// R (3 x 4 row-major) times a body-frame vector, plus an optional position.
inline vec3 rotate(const dReal* r, vec3 v)
{
    return {(float)(r[0] * v.x + r[1] * v.y + r[2] * v.z), (float)(r[4] * v.x + r[5] * v.y + r[6] * v.z),
            (float)(r[8] * v.x + r[9] * v.y + r[10] * v.z)};
}
inline vec3 transform(const dReal* r, const dReal* p, vec3 v)
{
    return add(rotate(r, v), from_ode(p));
}

inline float square(float x)
{
    return x * x;
}

// Quick rejections skip only what the full test could not find touching:
// they compare against bounding balls with this much to spare, far more
// than the rounding of single-precision positions near p (a few units in
// the last place of its coordinates) can move a surface.
inline float rejection_slack(vec3 p)
{
    return 1.0f / 64.0f + (fabsf(p.x) + fabsf(p.y) + fabsf(p.z)) * (1.0f / 262144.0f);
}

}  // namespace contact_math

// The highest terrain sample under the box x0..x1, z0..z1: of every cell
// it overlaps, samples clamped to the grid as every query reads them. A
// sphere or torus query of a body inside the box (the caller widens it by
// the rounding slack of its positions) tests nothing above it. +infinity
// when that cannot be said cheaply: no terrain, non-finite input, or a box
// more than 64 cells wide.
float terrain_top_in_box(const heightfield* hf, float x0, float z0, float x1, float z1);

// A ball around a bike that holds every part of it another bike can touch:
// every shape and both tyres. Centred on the frame's position.
struct bike_bounds {
    vec3 centre;
    float reach;
};
bike_bounds bike_bounds_of(const bike* b);
// Whether two bikes' balls overlap; bike_bike_contact tests nothing more of
// bikes whose balls do not.
bool bike_bounds_overlap(const bike_bounds& a, const bike_bounds& b);
