// Decals: pictures painted onto the ground. They live with the height field
// (the terrain renderer composes them into its textures), are read with the
// terrain from the track's "decals" file and are found by the 8 x 8 bins
// that cover the whole terrain.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

#include "core/messages.h"
#include "core/services.h"
#include "files/datafs.h"
#include "files/memory.h"
#include "render/picture.h"
#include "track/heightfield.h"
#include "track/objects.h"
#include "track/objects_internal.h"

using namespace objects_detail;

decal_hooks g_decal_hooks;

namespace {

decal_set* ensure_set(heightfield* hf)
{
    if (!hf->decals) {
        void* memory = mem_calloc(1, sizeof(decal_set));
        if (!memory)
            fatal_out_of_memory();
        hf->decals = new (memory) decal_set();
    }
    return hf->decals;
}

void mark_dirty(heightfield* hf, const decal* d)
{
    if (!g_decal_hooks.mark_dirty)
        return;
    float hx, hz;
    decal_half_extents(d, &hx, &hz);
    g_decal_hooks.mark_dirty(g_decal_hooks.context, hf, d->x - hx, d->z - hz, d->x + hx, d->z + hz);
}

void enter_bins(heightfield* hf, int index)
{
    decal_set* set = hf->decals;
    int i0, i1, j0, j1;
    decal_bin_range(hf, &set->items[index], &i0, &i1, &j0, &j1);
    for (int i = i0; i <= i1; i++)
        for (int j = j0; j <= j1; j++)
            index_insert_sorted(&set->bins.cells[i][j], index);
}

// Takes index out of every bin and, with shift, moves the larger indices
// down by one.
void leave_bins(decal_set* set, int index, bool shift)
{
    for (auto& row : set->bins.cells)
        for (index_list& cell : row) {
            int kept = 0;
            for (int k = 0; k < cell.count; k++) {
                int v = cell.items[k];
                if (v == index)
                    continue;
                if (shift && v > index)
                    v--;
                cell.items[kept++] = v;
            }
            cell.count = kept;
        }
}

void free_decal(decal* d)
{
    mem_free(d->pixels);
    mem_free(d->texture_name);
    *d = decal();
}

// Software terrain texturing composes the ground from pictures in memory:
// the top level as RGBA.
bool load_decal_picture(const char* name, decal* d)
{
    picture pic;
    if (!read_any_picture(name, &pic))
        return false;
    const size_t count = (size_t)pic.width * (size_t)pic.height;
    uint8_t* rgba = (uint8_t*)mem_alloc_or_die(count * 4);
    for (size_t k = 0; k < count; k++) {
        memcpy(rgba + 4 * k, pic.pixels + (size_t)pic.channels * k, 3);
        rgba[4 * k + 3] = pic.channels == 4 ? pic.pixels[4 * k + 3] : 255;
    }
    d->pixels = rgba;
    d->picture_width = pic.width;
    d->picture_height = pic.height;
    picture_free(&pic);
    return true;
}

// The "_tnorm" / "_tspec" companion of a decal picture: the ".png" when it
// exists, else the ".ppm" when that exists.
unsigned load_companion(const char* name, const char* png_suffix, const char* ppm_suffix)
{
    char companion[1100];
    if (replace_extension(name, png_suffix, companion, sizeof companion) && data_file_exists(companion))
        return texture_load(companion, 0);
    if (replace_extension(name, ppm_suffix, companion, sizeof companion) && data_file_exists(companion))
        return texture_load(companion, 0);
    return 0;
}

bool keep_pictures()
{
    return g_texture_service.keep_tile_pictures && g_texture_service.keep_tile_pictures();
}

}  // namespace

void decal_half_extents(const decal* d, float* hx, float* hz)
{
    const float c = d->cos_angle, s = d->sin_angle;
    *hx = fabsf(d->size * d->aspect * c / 2.0f) + fabsf(d->size * s / 2.0f);
    *hz = fabsf(d->size * d->aspect * s / 2.0f) + fabsf(d->size * c / 2.0f);
}

void decal_bin_range(const heightfield* hf, const decal* d, int* i0, int* i1, int* j0, int* j1)
{
    const float extent = terrain_extent(hf);
    if (!(extent > 0.0f)) {
        *i0 = *i1 = *j0 = *j1 = 0;
        return;
    }
    float hx, hz;
    decal_half_extents(d, &hx, &hz);
    const float scale = (float)OBJECT_BINS / extent;
    *i0 = clamp_floor((d->x - hx) * scale, 0, OBJECT_BINS - 1);
    *i1 = clamp_floor((d->x + hx) * scale, 0, OBJECT_BINS - 1);
    *j0 = clamp_floor((d->z - hz) * scale, 0, OBJECT_BINS - 1);
    *j1 = clamp_floor((d->z + hz) * scale, 0, OBJECT_BINS - 1);
}

int decal_insert(heightfield* hf, int index, const decal* d)
{
    decal_set* set = ensure_set(hf);
    if (index < 0)
        index = 0;
    if (index > set->count)
        index = set->count;
    reserve_one(set->items, set->count, set->capacity);
    memmove(&set->items[index + 1], &set->items[index], sizeof(decal) * (size_t)(set->count - index));
    set->count++;
    decal& added = set->items[index];
    added = *d;
    added.sin_angle = sinf(added.angle);
    added.cos_angle = cosf(added.angle);
    for (auto& row : set->bins.cells)
        for (index_list& cell : row)
            for (int k = 0; k < cell.count; k++)
                if (cell.items[k] >= index)
                    cell.items[k]++;
    enter_bins(hf, index);
    mark_dirty(hf, &added);
    return index;
}

void decal_move(heightfield* hf, int index, float x, float z, float angle)
{
    decal_set* set = hf->decals;
    if (!set || index < 0 || index >= set->count)
        return;
    decal& d = set->items[index];
    mark_dirty(hf, &d);
    leave_bins(set, index, false);
    d.x = x;
    d.z = z;
    d.angle = angle;
    d.sin_angle = sinf(angle);
    d.cos_angle = cosf(angle);
    enter_bins(hf, index);
    mark_dirty(hf, &d);
}

void decal_remove(heightfield* hf, int index)
{
    decal_set* set = hf->decals;
    if (!set || index < 0 || index >= set->count)
        return;
    mark_dirty(hf, &set->items[index]);
    leave_bins(set, index, true);
    free_decal(&set->items[index]);
    memmove(&set->items[index], &set->items[index + 1], sizeof(decal) * (size_t)(set->count - index - 1));
    set->count--;
}

void decals_free(heightfield* hf)
{
    decal_set* set = hf->decals;
    if (!set)
        return;
    for (int k = 0; k < set->count; k++)
        free_decal(&set->items[k]);
    mem_free(set->items);
    object_bins_free(&set->bins);
    set->~decal_set();
    mem_free(set);
    hf->decals = nullptr;
}

int decals_read(heightfield* hf, data_stream* s, const object_options* options)
{
    ensure_set(hf);
    const bool pictures = keep_pictures();
    const bool maps = options && options->terrain_shader;
    int added = 0;
    char name[OBJECT_NAME_MAX + 1];
    for (;;) {
        float v[5];
        if (stream_scan(s, "[ %f %f ] %f %f %f %1023s ", &v[0], &v[1], &v[2], &v[3], &v[4], name) != 6)
            break;
        if (!all_finite(v, 5))
            break;
        decal d;
        d.x = v[0];
        d.z = v[1];
        d.angle = v[2];
        d.size = v[3];
        d.aspect = v[4];
        if (pictures)
            load_decal_picture(name, &d);
        else
            d.texture = texture_load(name, 0);
        // Without a renderer (the headless runner, tests) nothing can be
        // loaded, but the decal is still the track's: kept, it is saved back
        // with the track instead of being dropped from its file.
        if (!d.texture && !d.pixels && g_texture_service.load)
            continue;
        if (maps) {
            d.normal_texture = load_companion(name, "_tnorm.png", "_tnorm.ppm");
            d.spec_texture = load_companion(name, "_tspec.png", "_tspec.ppm");
        }
        d.texture_name = copy_name(name);
        decal_insert(hf, hf->decals->count, &d);
        added++;
    }
    return added;
}

bool decals_load(heightfield* hf, const char* dir, const object_options* options)
{
    char path[1100];
    if (!compose_track_file(path, sizeof path, dir, "decals"))
        return false;
    data_stream* s = open_data_file(path, "rb");
    if (!s)
        return false;
    decals_read(hf, s, options);
    close_data_file(s);
    return true;
}

bool decals_write(const heightfield* hf, const char* dir)
{
    const decal_set* set = hf->decals;
    if (!set)
        return true;
    char path[1100];
    replacing_file out;
    data_stream* s = nullptr;
    if (compose_track_file(path, sizeof path, dir, "decals") && begin_replacing(path, &out))
        s = out.stream;
    if (!s) {
        add_message("Can't open 'decals'\n");
        return false;
    }
    for (int k = 0; k < set->count; k++) {
        const decal& d = set->items[k];
        stream_printf(s, "[%f %f] %f %f %f %s\n", (double)d.x, (double)d.z, (double)d.angle, (double)d.size,
                      (double)d.aspect, d.texture_name ? d.texture_name : "");
    }
    const bool ok = finish_replacing(&out, true, false);
    if (!ok)
        add_message("Can't open 'decals'\n");
    return ok;
}
