// Shared by the erosion files only.
#pragma once

#include <cmath>

struct heightfield;
struct erode_params;

namespace erosion_detail {

// v clamped to [lo, hi]; a non-number gives lo.
inline float clamp_or_low(float v, float lo, float hi)
{
    return v >= lo ? (v <= hi ? v : hi) : lo;
}

// (v - lo) / (hi - lo) clamped to [0, 1]. A surface whose two thresholds
// coincide switches at that value instead of dividing by zero.
inline float ramp(float v, float lo, float hi)
{
    if (hi == lo)
        return v >= hi ? 1.0f : 0.0f;
    return clamp_or_low((v - lo) / (hi - lo), 0.0f, 1.0f);
}

// The erosion parameters of the surface under (x, z); the defaults when the
// terrain has no surface table.
const erode_params* params_at(const heightfield* hf, float x, float z);

}  // namespace erosion_detail
