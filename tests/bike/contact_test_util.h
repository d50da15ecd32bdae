// Helpers for the contact tests: height fields built in memory, surfaces
// with chosen curves, and small vector checks.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <new>
#include <vector>

#include "files/memory.h"
#include "track/heightfield.h"
#include "track/surface.h"

namespace contact_test {

// A height field owned by the test; freed on destruction.
struct terrain {
    heightfield hf;
    terrain() = default;
    terrain(const terrain&) = delete;
    terrain& operator=(const terrain&) = delete;
    ~terrain() { heightfield_free(&hf); }
};

// Grid of (2 << log2) + 1 samples a side with heights from f(x, z).
inline void make_terrain(terrain* t, int grid_log2, float spacing, const std::function<float(float, float)>& f)
{
    const int n = (2 << grid_log2) + 1;
    std::vector<float> h((size_t)n * n);
    for (int row = 0; row < n; row++)
        for (int col = 0; col < n; col++)
            h[(size_t)col + (size_t)row * n] = f((float)col * spacing, (float)row * spacing);
    ASSERT_TRUE(heightfield_create(&t->hf, grid_log2, spacing, h.data()));
}

inline void make_flat(terrain* t, int grid_log2, float spacing, float height)
{
    make_terrain(t, grid_log2, spacing, [height](float, float) { return height; });
}

// Installs count surfaces (defaults) and a tile map of all `fill`; returns
// the surfaces for the test to shape. heightfield_free releases them.
inline surface_type* add_surfaces(heightfield* hf, int count, int fill)
{
    surface_type* s = (surface_type*)mem_alloc_or_die(sizeof(surface_type) * (size_t)count);
    for (int i = 0; i < count; i++)
        new (&s[i]) surface_type();
    hf->surfaces = s;
    hf->surface_count = count;
    const size_t side = (size_t)1 << hf->grid_log2;
    hf->tilemap = (uint8_t*)mem_alloc_or_die(side * side);
    for (size_t k = 0; k < side * side; k++)
        hf->tilemap[k] = (uint8_t)fill;
    return s;
}

inline float len(vec3 v)
{
    return sqrtf(v.x * v.x + v.y * v.y + v.z * v.z);
}

inline vec3 unit(vec3 v)
{
    const float l = len(v);
    return {v.x / l, v.y / l, v.z / l};
}

#define EXPECT_VEC_NEAR(v, ex, ey, ez, tol)  \
    do {                                     \
        const vec3 v_ = (v);                 \
        EXPECT_NEAR(v_.x, (ex), (tol));      \
        EXPECT_NEAR(v_.y, (ey), (tol));      \
        EXPECT_NEAR(v_.z, (ez), (tol));      \
    } while (0)

}  // namespace contact_test
