// "billboards", "statues", "flaggers" or "decals" (by the first byte) over
// arbitrary bytes, then the bins, placement and flagger rules over what was
// read. Every bin must list valid indices in ascending order.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "fuzz_accept.h"
#include "bike/shape.h"
#include "core/services.h"
#include "picture_fuzz_input.h"
#include "track/heightfield.h"
#include "track/objects.h"

namespace {

unsigned any_texture(const char*, int)
{
    return 1;
}

void check_bins(const object_bins& bins, int count)
{
    for (const auto& row : bins.cells)
        for (const index_list& cell : row)
            for (int k = 0; k < cell.count; k++) {
                if (cell.items[k] < 0 || cell.items[k] >= count)
                    __builtin_trap();
                if (k > 0 && cell.items[k - 1] >= cell.items[k])
                    __builtin_trap();
            }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const int kind = data[0] & 3;
    // Names become file names (statue shapes): keep them inside the data
    // directories by taking away every "/".
    std::vector<uint8_t> bytes(data + 1, data + size);
    for (uint8_t& b : bytes)
        if (b == '/')
            b = '_';
    memory_input in(bytes.data(), bytes.size());
    if (!in.open)
        return 0;
    g_texture_service.load = any_texture;
    heightfield hf;
    if (!heightfield_create(&hf, 3, 2.0f, nullptr))
        return 0;
    track_objects objects;
    object_options options;
    switch (kind) {
    case 0:
        if (billboards_read(&objects, &hf, &in.stream, nullptr) > 0)
            fuzz_accept();
        break;
    case 1:
        if (statues_read(&objects, &hf, &in.stream, &options, nullptr) > 0)
            fuzz_accept();
        statue_bins_build(&objects, &hf);
        check_bins(objects.statue_bins, objects.statues.count);
        for (int k = 0; k < objects.statues.count; k++) {
            statue_face_camera(&objects.statues.items[k], {1000, 10, 1000}, 1.0f, 0.0f);
            statues_near(&objects, &hf, objects.statues.items[k].x, objects.statues.items[k].z, 6.0f);
        }
        break;
    case 2: {
        flaggers_read(&objects, &hf, &in.stream, 16);
        if (objects.flaggers.has_start || objects.flaggers.has_finish || objects.flaggers.course_count > 0)
            fuzz_accept();
        for (int k = 0; k < objects.flaggers.course_count; k++)
            for (int gate : objects.flaggers.course[k].gates)
                if (gate < -1 || gate > 15)
                    __builtin_trap();
        uint8_t marked[FLAGGER_GATE_COUNT] = {};
        marked[3] = 1;
        start_flagger_update(&objects, &hf, 15.5, 14.0);
        finish_flagger_update(&objects, 2, 3, 2);
        course_flaggers_update(&objects, marked);
        break;
    }
    default:
        if (decals_read(&hf, &in.stream, &options) > 0)
            fuzz_accept();
        if (hf.decals) {
            check_bins(hf.decals->bins, hf.decals->count);
            if (hf.decals->count > 0)
                decal_remove(&hf, 0);
            check_bins(hf.decals->bins, hf.decals->count);
        }
        break;
    }
    objects_place_on_ground(&objects, &hf);
    track_objects_free(&objects);
    heightfield_free(&hf);
    shape_cache_clear();
    g_texture_service = texture_service();
    return 0;
}
