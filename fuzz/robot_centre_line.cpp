// A track's centre line file over arbitrary bytes: an accepted line has
// three to 100000 finite points, a loop of at least three of them and a
// step a rider can use, and writing it out and reading it back gives it
// again.
#include <cmath>
#include <cstdint>
#include <string>

#include "fuzz_accept.h"
#include "picture_fuzz_input.h"
#include "robot/centre_line.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    memory_input in(data, size);
    if (!in.open)
        return 0;
    rider_path p;
    std::string why;
    centre_line_options o;
    o.lead_in = size > 0 && (data[0] & 1);
    if (!centre_line_read(&in.stream, "fuzz", o, &p, &why)) {
        if (why.empty() || !p.points.empty())
            __builtin_trap();
        return 0;
    }
    fuzz_accept();
    const size_t n = p.points.size();
    if (n < 3 || n > CENTRE_LINE_MAX_POINTS || p.loop_start < 0 || (size_t)p.loop_start + 3 > n)
        __builtin_trap();
    if (!(p.step >= 0.25f && p.step <= 50.0f))
        __builtin_trap();
    for (const rider_path_point& q : p.points)
        if (!std::isfinite(q.x) || !std::isfinite(q.y) || !std::isfinite(q.z) || !(q.width >= 0.0f) ||
            !std::isfinite(q.speed_limit))
            __builtin_trap();
    const std::string text = centre_line_text(p);
    memory_input again((const uint8_t*)text.data(), text.size());
    rider_path q;
    centre_line_options keep;
    if (!again.open || !centre_line_read(&again.stream, "again", keep, &q, &why) || q.points.size() != n)
        __builtin_trap();
    return 0;
}
