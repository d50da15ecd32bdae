// Track directories of the default data.
#include <cstdio>
#include <cstring>
#include <string>

#include "mkdata.h"

namespace mkdata {

namespace {

// A first, flat ground so the game finds a track; the designed circuit
// replaces it.
bool write_rabbithill(output& out)
{
    const int grid_log2 = 9;
    const int count = (1 << (grid_log2 + 1)) + 1;
    char header[128];
    snprintf(header, sizeof header, "%d %f %f %f\n:", grid_log2, 2.0, 0.0, 64.0);
    bytes hf(header, header + strlen(header));
    hf.resize(hf.size() + (size_t)count * count * 2, 0);
    for (size_t i = strlen(header); i < hf.size(); i += 2)
        hf[i + 1] = 0x40;  // a quarter up the height range
    return write_text(out, "rabbithill/desc", "Rabbit Hill\n") && write_file(out, "rabbithill/terrain.hf", hf);
}

}  // namespace

bool generate_tracks(output& out)
{
    return write_rabbithill(out);
}

}  // namespace mkdata
