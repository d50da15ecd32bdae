// kessrig-sim control scripts over arbitrary bytes: an accepted script
// holds its changes in tick order, at most a day in, with shift commands of
// -1, 0 or 1 and finite values.
#include <cmath>
#include <cstdint>
#include <string>

#include "fuzz_accept.h"
#include "picture_fuzz_input.h"
#include "sim_script.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    memory_input in(data, size);
    if (!in.open)
        return 0;
    sim_script s;
    std::string why;
    const bool ok = sim_script_read(&s, &in.stream, "fuzz", &why);
    if (!ok && why.empty())
        __builtin_trap();
    if (ok)
        fuzz_accept();
    int last = 0;
    for (const sim_script_event& e : s.events) {
        if (e.tick < last || e.tick > 86400 * 128)
            __builtin_trap();
        last = e.tick;
        const control_input& v = e.values;
        if (v.shift < -1 || v.shift > 1)
            __builtin_trap();
        for (float f : {v.throttle, v.clutch, v.front_brake, v.rear_brake, v.steer, v.lean, v.sit_dab, v.back_up})
            if (!std::isfinite(f))
                __builtin_trap();
    }
    sim_script_at(s, last);
    return 0;
}
