// Loading the surface table and the tile map, the surface lookup, and the
// writers of "tileinfo" and "tilemap".
#include "track/surface.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/messages.h"
#include "files/datafs.h"
#include "files/memory.h"
#include "render/picture.h"
#include "track/heightfield_internal.h"

namespace {

enum { NAME_MAX = 1024 };

bool stream_failed(data_stream* s)
{
    return s->file && ferror(s->file);
}

}  // namespace

// ---- loading ----------------------------------------------------------------------

bool load_surface_table(heightfield* hf, const char* dir)
{
    char name[NAME_MAX];
    data_stream* s = track_file_name(name, sizeof name, dir, "tileinfo") ? open_data_file(name, "rb") : nullptr;
    if (s) {
        surface_table_read_tileinfo(hf, s);
        const bool failed = stream_failed(s);
        close_data_file(s);
        if (failed) {
            add_message("Error reading tileinfo");
            surface_table_free_surfaces(hf);
            return false;
        }
        return true;
    }
    s = track_file_name(name, sizeof name, dir, "texturelist") ? open_data_file(name, "rb") : nullptr;
    if (!s) {
        add_message("Can't open '%.950s'", name);
        return false;
    }
    surface_table_read_texturelist(hf, s);
    close_data_file(s);
    return true;
}

void tilemap_read(heightfield* hf, data_stream* s)
{
    mem_free(hf->tilemap);
    hf->tilemap = nullptr;
    if (hf->grid_log2 < 1 || hf->grid_log2 > HEIGHTFIELD_MAX_LOG2)
        return;
    const size_t side = (size_t)1 << hf->grid_log2;
    const size_t cells = side * side;
    // A short file leaves the remaining cells at surface 0.
    hf->tilemap = (uint8_t*)mem_calloc_or_die(cells, 1);
    const size_t got = stream_read(s, hf->tilemap, cells);
    const int last = hf->surface_count > 0 ? hf->surface_count - 1 : 0;
    for (size_t k = 0; k < got; k++)
        if (hf->tilemap[k] > last)
            hf->tilemap[k] = (uint8_t)last;
}

bool load_tilemap(heightfield* hf, const char* dir)
{
    char name[NAME_MAX];
    data_stream* s = track_file_name(name, sizeof name, dir, "tilemap") ? open_data_file(name, "rb") : nullptr;
    if (!s) {
        add_message("Can't open '%.950s'", name);
        return false;
    }
    tilemap_read(hf, s);
    close_data_file(s);
    return hf->tilemap != nullptr;
}

bool heightfield_load_ground(heightfield* hf, const char* dir, int verbose)
{
    if (!heightfield_load(hf, dir, verbose))
        return false;
    if (load_surface_table(hf, dir) && load_tilemap(hf, dir))
        return true;
    heightfield_free(hf);
    return false;
}

void surface_table_free(heightfield* hf)
{
    surface_table_free_surfaces(hf);
    mem_free(hf->tilemap);
    hf->tilemap = nullptr;
}

// ---- queries ------------------------------------------------------------------------

int heightfield_surface_at(const heightfield* hf, float x, float z)
{
    if (!hf->tilemap)
        return 0;
    const int side = 1 << hf->grid_log2;
    const float last = (float)(side - 1);
    // Plain comparisons (no library calls); NaN lands on cell 0, so the
    // conversion stays defined.
    float cx = x * hf->cell_scale;
    float cz = z * hf->cell_scale;
    cx = cx >= 0.0f ? (cx <= last ? cx : last) : 0.0f;
    cz = cz >= 0.0f ? (cz <= last ? cz : last) : 0.0f;
    return hf->tilemap[(int)cz * side + (int)cx];
}

// ---- writing ----------------------------------------------------------------------

namespace {

bool append_number(std::string* out, float v)
{
    if (!std::isfinite(v))
        return false;
    char text[32];
    snprintf(text, sizeof text, "%.9g", (double)v);
    *out += text;
    return true;
}

bool plain_name(const char* name)
{
    return name && *name && name[0] != ' ' && name[0] != '\t' && !strpbrk(name, "\r\n");
}

bool append_roost(std::string* out, const roost_entry& entry)
{
    const roost_type& r = entry.params;
    const roost_type d;
    *out += "roost";
    if (entry.texture_name) {
        if (!*entry.texture_name || strpbrk(entry.texture_name, "\"\r\n"))
            return false;
        *out += " \"texture=";
        *out += entry.texture_name;
        *out += "\"";
    }
    if (r.mode == 2)
        *out += " splash=1";
    const struct {
        const char* name;
        float value, fallback;
    } floats[] = {
        {"count", r.count, d.count},           {"dig", r.dig, d.dig},
        {"slip_threshold", r.slip_threshold, d.slip_threshold},
        {"slow_angle", r.slow_angle, d.slow_angle}, {"fast_angle", r.fast_angle, d.fast_angle},
        {"slow_speed", r.slow_speed, d.slow_speed}, {"fast_speed", r.fast_speed, d.fast_speed},
        {"size", r.size, d.size},               {"grow", r.grow, d.grow},
        {"drag", r.drag, d.drag},               {"vscale", r.vscale, d.vscale},
        {"randomize", r.randomize, d.randomize},
    };
    for (const auto& f : floats) {
        if (f.value == f.fallback)
            continue;
        *out += ' ';
        *out += f.name;
        *out += '=';
        if (!append_number(out, f.value))
            return false;
    }
    static const char* const colour[4] = {"r", "g", "b", "a"};
    static const char* const fade[4] = {"fade_r", "fade_g", "fade_b", "fade_a"};
    char text[48];
    for (int c = 0; c < 4; c++) {
        if (r.colour[c] != d.colour[c]) {
            snprintf(text, sizeof text, " %s=%d", colour[c], r.colour[c]);
            *out += text;
        }
    }
    for (int c = 0; c < 4; c++) {
        // Per second in the file: 128 ticks.
        if (r.fade[c] != d.fade[c]) {
            snprintf(text, sizeof text, " %s=%d", fade[c], r.fade[c] * 128);
            *out += text;
        }
    }
    *out += '\n';
    return true;
}

bool default_limits(const erode_params& e)
{
    const erode_params d;
    if (e.limit_count != d.limit_count)
        return false;
    for (int k = 0; k < d.limit_count; k++)
        if (e.limit_depth[k] != d.limit_depth[k] || e.limit_dig[k] != d.limit_dig[k] ||
            e.limit_inner_dig[k] != d.limit_inner_dig[k])
            return false;
    return true;
}

bool append_entry(std::string* out, const tileinfo_entry& e)
{
    if (e.friction_count < 0 || e.friction_count > SURFACE_POINTS || e.roll_resist_count < 0 ||
        e.roll_resist_count > SURFACE_POINTS || e.roost_count < 0 || e.roost_count > ROOST_TYPES ||
        e.erode.limit_count < 0 || e.erode.limit_count > ERODE_LIMITS)
        return false;
    if (e.texture_name) {
        if (!plain_name(e.texture_name))
            return false;
        *out += "texture ";
        *out += e.texture_name;
        *out += '\n';
    }
    for (int k = 0; k < e.friction_count; k++) {
        *out += "friction ";
        if (!append_number(out, e.friction[k].coefficient))
            return false;
        *out += ' ';
        if (!append_number(out, e.friction[k].slip_speed))
            return false;
        *out += '\n';
    }
    for (int k = 0; k < e.roll_resist_count; k++) {
        *out += "roll_resist ";
        if (!append_number(out, e.roll_resist[k].shallow))
            return false;
        *out += ' ';
        if (!append_number(out, e.roll_resist[k].deep))
            return false;
        *out += ' ';
        if (!append_number(out, e.roll_resist[k].speed))
            return false;
        *out += '\n';
    }
    for (int k = 0; k < e.roost_count; k++)
        if (!append_roost(out, e.roost[k]))
            return false;
    const erode_params d;
    for (int k = 0; k < ERODE_SCALARS; k++) {
        const float v = e.erode.*erode_scalar_members[k];
        if (v == d.*erode_scalar_members[k])
            continue;
        *out += erode_scalar_names[k];
        *out += ' ';
        if (!append_number(out, v))
            return false;
        *out += '\n';
    }
    if (!default_limits(e.erode)) {
        for (int k = 0; k < e.erode.limit_count; k++) {
            *out += "erode_limit ";
            if (!append_number(out, e.erode.limit_depth[k]))
                return false;
            *out += ' ';
            if (!append_number(out, e.erode.limit_dig[k]))
                return false;
            *out += ' ';
            if (!append_number(out, e.erode.limit_inner_dig[k]))
                return false;
            *out += '\n';
        }
    }
    *out += "addtile\n";
    return true;
}

}  // namespace

bool tileinfo_encode(const tileinfo_entry* entries, int count, picture_bytes* out)
{
    *out = picture_bytes{};
    if (count < 0 || count > SURFACE_MAX)
        return false;
    std::string text;
    for (int i = 0; i < count; i++) {
        if (i > 0)
            text += '\n';
        if (!append_entry(&text, entries[i]))
            return false;
    }
    out->data = (unsigned char*)mem_alloc_or_die(text.size() + 1);
    memcpy(out->data, text.data(), text.size());
    out->size = text.size();
    return true;
}

bool tileinfo_write(const char* dir, const tileinfo_entry* entries, int count)
{
    picture_bytes text;
    if (!tileinfo_encode(entries, count, &text))
        return false;
    const bool ok = track_write_file(dir, "tileinfo", text.data, text.size);
    picture_bytes_free(&text);
    return ok;
}

bool tilemap_write(const char* dir, const uint8_t* cells, int grid_log2)
{
    if (grid_log2 < 1 || grid_log2 > HEIGHTFIELD_MAX_LOG2)
        return false;
    const size_t side = (size_t)1 << grid_log2;
    return track_write_file(dir, "tilemap", cells, side * side);
}
