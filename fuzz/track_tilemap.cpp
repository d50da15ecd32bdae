// "tilemap" over arbitrary bytes: the first byte picks the grid size, the
// second the number of surfaces; every looked-up index must name a surface.
#include <cstdint>
#include <cstring>

#include "fuzz_accept.h"
#include "picture_fuzz_input.h"
#include "track/surface.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 3)
        return 0;
    const int grid_log2 = 1 + data[0] % 8;
    const int surfaces = 1 + data[1];
    memory_input in(data + 2, size - 2);
    if (!in.open)
        return 0;
    heightfield hf;
    if (!heightfield_create(&hf, grid_log2, 1.5f, nullptr))
        return 0;
    hf.surface_count = surfaces;  // only the count matters to the map
    tilemap_read(&hf, &in.stream);
    if (hf.tilemap)
        fuzz_accept();
    for (size_t k = 0; k + 8 <= size; k += 8) {
        float x, z;
        memcpy(&x, data + k, 4);
        memcpy(&z, data + k + 4, 4);
        const int index = heightfield_surface_at(&hf, x, z);
        if (index < 0 || index >= surfaces)
            __builtin_trap();
    }
    hf.surface_count = 0;
    heightfield_free(&hf);
    return 0;
}
