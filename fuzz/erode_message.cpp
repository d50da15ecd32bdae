// Erosion messages as they arrive from a race server or a demo block: the
// first two bytes pick the terrain's extent, the rest is the message. Every
// decoded point must be finite with a four-bit weight and the first point
// on the terrain; queueing must take exactly the points the message holds;
// applying them must leave every height finite.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>

#include "fuzz_accept.h"
#include "track/erosion.h"
#include "track/heightfield.h"

namespace {

struct state {
    heightfield hf;
    std::unique_ptr<erode_queue> queue{new erode_queue()};
    erode_point points[4096];
    state()
    {
        if (!heightfield_create(&hf, 4, 2.0f, nullptr))
            __builtin_trap();
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static state s;
    if (size < 2)
        return 0;
    const float extent = 1.0f + (float)(data[0] | (data[1] << 8));
    const uint8_t* message = data + 2;
    const int length = (int)(size - 2 > 65536 ? 65536 : size - 2);

    const int count = erode_message_point_count(message, length);
    const int max = (int)(sizeof s.points / sizeof s.points[0]);
    const int got = erode_message_unpack(message, length, extent, s.points, max);
    if (got != (count < max ? count : max) || count < 0)
        __builtin_trap();
    if (count > 0)
        fuzz_accept();
    for (int i = 0; i < got; i++) {
        const erode_point& p = s.points[i];
        if (!std::isfinite(p.x) || !std::isfinite(p.z) || !(p.dir_x >= -1 && p.dir_x <= 1) ||
            !(p.dir_z >= -1 && p.dir_z <= 1) || p.weight < 0 || p.weight > 15)
            __builtin_trap();
    }
    if (got > 0 && !(s.points[0].x >= 0 && s.points[0].x <= extent && s.points[0].z >= 0 && s.points[0].z <= extent))
        __builtin_trap();

    // Every input starts from the same ground.
    memcpy(s.hf.heights, s.hf.loaded_heights, sizeof(float) * (size_t)s.hf.sample_count * (size_t)s.hf.sample_count);
    erode_queue_clear(s.queue.get());
    if (erode_message_enqueue(s.queue.get(), message, length, extent) != count || s.queue->queue_count != count)
        __builtin_trap();
    const int rate = 1 + (length > 0 ? message[length - 1] : 0) * 64;
    for (int now = 1; s.queue->queue_count > 0; now++)
        erosion_apply(s.queue.get(), &s.hf, now, rate, nullptr);
    for (int i = 0; i < s.hf.sample_count * s.hf.sample_count; i++)
        if (!std::isfinite(s.hf.heights[i]))
            __builtin_trap();
    return 0;
}
