// A camera key file ("@keycam/NAME") over arbitrary bytes, read by the
// console's "readkeys". What was read must be in tick order with finite
// numbers, and the camera path through it must give a finite pose and a
// unit rotation at any tick.
#include <sys/stat.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/console.h"
#include "core/key_frames.h"
#include "fuzz_accept.h"
#include "fuzz_dirs.h"

namespace {

std::string g_file;

void set_up()
{
    if (g_file.empty())
        g_file = fuzz_data_dirs("keys", "keycam") + "/fuzz";
}

void check_pose(const key_frame_list& list, int tick)
{
    camera_key k;
    if (!key_frame_pose(list, tick, &k))
        __builtin_trap();
    if (!std::isfinite(k.position.x) || !std::isfinite(k.position.y) || !std::isfinite(k.position.z) ||
        !std::isfinite(k.fov))
        __builtin_trap();
    double norm = 0;
    for (float r : k.rotation) {
        if (!std::isfinite(r))
            __builtin_trap();
        norm += (double)r * r;
    }
    if (!(std::fabs(norm - 1.0) < 1e-3))
        __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    set_up();
    FILE* f = fopen(g_file.c_str(), "wb");
    if (!f)
        return 0;
    fwrite(data, 1, size, f);
    fclose(f);
    key_frame_list list;
    console_context c;
    c.key_frames = &list;
    run_console_line("/readkeys fuzz", c);
    if (list.keys.empty())
        return 0;
    fuzz_accept();
    for (size_t i = 0; i < list.keys.size(); i++) {
        const camera_key& k = list.keys[i];
        if (i > 0 && list.keys[i - 1].tick > k.tick)
            __builtin_trap();
        if (!std::isfinite(k.position.x) || !std::isfinite(k.position.y) || !std::isfinite(k.position.z) ||
            !std::isfinite(k.fov) || !std::isfinite(k.rotation[0]) || !std::isfinite(k.rotation[1]) ||
            !std::isfinite(k.rotation[2]) || !std::isfinite(k.rotation[3]))
            __builtin_trap();
    }
    const int first = list.keys.front().tick, last = list.keys.back().tick;
    for (int tick : {INT_MIN, first, last, INT_MAX})
        check_pose(list, tick);
    for (size_t i = 0; i + 1 < list.keys.size() && i < 64; i++) {
        const long long a = list.keys[i].tick, b = list.keys[i + 1].tick;
        check_pose(list, (int)(a + (b - a) / 3));
    }
    return 0;
}
