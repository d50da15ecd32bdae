// The starting gate pieces kessrig-sim reads from "timing_gates", over
// arbitrary bytes: at most 160 spots, finite, angles within -pi..pi.
#include <cmath>
#include <cstdint>

#include "picture_fuzz_input.h"
#include "sim_world.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    memory_input in(data, size);
    if (!in.open)
        return 0;
    const std::vector<sim_spot> spots = sim_gate_spots_read(&in.stream);
    if (spots.size() > 160)
        __builtin_trap();
    for (const sim_spot& s : spots)
        if (!std::isfinite(s.x) || !std::isfinite(s.z) || !(std::fabs(s.angle) <= 3.1416f))
            __builtin_trap();
    return 0;
}
