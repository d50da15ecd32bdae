// ".shp" shape files over arbitrary bytes: a parsed shape must hold finite
// spheres whose count matches the declaration, and a radius that bounds
// every sphere.
#include <cmath>
#include <cstdint>

#include "fuzz_accept.h"
#include "bike/shape.h"
#include "picture_fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    memory_input in(data, size);
    if (!in.open)
        return 0;
    shape* s = shape_parse(&in.stream, "@fuzz.shp");
    if (!s)
        return 0;
    fuzz_accept();
    if (s->sphere_count < 0 || s->sphere_count > SHAPE_MAX_SPHERES || !std::isfinite(s->radius))
        __builtin_trap();
    for (int i = 0; i < s->sphere_count; i++) {
        const shape_sphere& p = s->spheres[i];
        const float reach = std::sqrt(p.x * p.x + p.y * p.y + p.z * p.z) + p.radius;
        if (!(reach <= s->radius))
            __builtin_trap();
    }
    shape_free(s);
    return 0;
}
