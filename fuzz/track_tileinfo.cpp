// "tileinfo" (first byte even) or "texturelist" (odd) over arbitrary bytes,
// then the tile codes and a surface lookup on a map of the table's size.
#include <cstdint>
#include <cstdio>

#include "fuzz_accept.h"
#include "picture_fuzz_input.h"
#include "track/surface.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const bool texturelist = data[0] & 1;
    memory_input in(data + 1, size - 1);
    if (!in.open)
        return 0;
    heightfield hf;
    if (!heightfield_create(&hf, 2, 2.0f, nullptr))
        return 0;
    if (texturelist)
        surface_table_read_texturelist(&hf, &in.stream);
    else
        surface_table_read_tileinfo(&hf, &in.stream);
    // Read to its end: no line stopped the reader.
    if (stream_peekc(&in.stream) < 0 && hf.surface_count >= 1)
        fuzz_accept();
    if (hf.surface_count < 1 || hf.surface_count > SURFACE_MAX || !hf.surfaces)
        __builtin_trap();  // the table never ends empty
    for (int i = 0; i < hf.surface_count; i++) {
        const surface_type& s = hf.surfaces[i];
        if (s.name_key || s.erode.limit_count < 1 || s.erode.limit_count > ERODE_LIMITS)
            __builtin_trap();
    }
    heightfield_free(&hf);
    return 0;
}
