// "lighting" (first byte even) or "cameras" (odd) over arbitrary bytes. The
// clipping distances must end inside their limits and every gate must name
// a camera that exists or none.
#include <cmath>
#include <cstdint>

#include "fuzz_accept.h"
#include "picture_fuzz_input.h"
#include "track/lighting.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const bool cameras = data[0] & 1;
    memory_input in(data + 1, size - 1);
    if (!in.open)
        return 0;
    if (cameras) {
        heightfield hf;
        if (!heightfield_create(&hf, 3, 2.0f, nullptr))
            return 0;
        camera_set cams;
        cameras_read(&cams, &hf, &in.stream);
        if (cams.count > 0)
            fuzz_accept();
        for (int g = 0; g < GATE_CAMERA_COUNT; g++)
            if (gate_camera(&cams, g) < -1 || gate_camera(&cams, g) >= cams.count)
                __builtin_trap();
        cameras_free(&cams);
        heightfield_free(&hf);
        return 0;
    }
    lighting light;
    lighting_read(&light, &in.stream, nullptr);
    // An unknown keyword ends the reading early.
    if (stream_peekc(&in.stream) < 0)
        fuzz_accept();
    lighting_finish(&light);
    if (!(light.near_plane >= lighting_near_min && light.near_plane <= lighting_near_max))
        __builtin_trap();
    if (!(light.far_plane >= light.near_plane && light.far_plane <= lighting_far_max))
        __builtin_trap();
    const float len = sqrtf(light.sun_vector.x * light.sun_vector.x + light.sun_vector.y * light.sun_vector.y +
                            light.sun_vector.z * light.sun_vector.z);
    if (!(fabsf(len - 1.0f) < 1e-3f))
        __builtin_trap();
    for (int k = 0; k < light.flare_count; k++)
        if (light.flares[k].element_count < 0 || light.flares[k].element_count > FLARE_ELEMENTS_MAX)
            __builtin_trap();
    lighting_reset(&light);
    return 0;
}
