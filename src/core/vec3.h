// The shared vector of the simulation: three single-precision floats in
// world units (feet), y up.
#pragma once

struct vec3 {
    float x, y, z;
};
