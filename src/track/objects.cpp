// Sprites, billboards and statues: their files, their placement on the
// ground, the statue orientation rules and the statue bins.
#include "track/objects.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "bike/shape.h"
#include "core/messages.h"
#include "core/services.h"
#include "files/datafs.h"
#include "files/memory.h"
#include "track/heightfield.h"
#include "track/objects_internal.h"

using namespace objects_detail;

// ---- shared helpers ----------------------------------------------------------------

namespace objects_detail {

bool compose_track_file(char* buffer, size_t size, const char* dir, const char* file)
{
    const int n = snprintf(buffer, size, "%s/%s", dir ? dir : "", file);
    return n >= 0 && (size_t)n < size;
}

bool data_file_exists(const char* name)
{
    if (!name || !*name)
        return false;
    data_stream* s = open_data_file(name, "rb");
    if (!s)
        return false;
    close_data_file(s);
    return true;
}

char* copy_name(const char* name)
{
    if (!name)
        return nullptr;
    char* copy = mem_strdup(name);
    if (!copy)
        fatal_out_of_memory();
    return copy;
}

bool replace_extension(const char* name, const char* suffix, char* out, size_t size)
{
    const char* slash = strrchr(name, '/');
    const char* dot = strrchr(slash ? slash : name, '.');
    const size_t stem = dot ? (size_t)(dot - name) : strlen(name);
    const int n = snprintf(out, size, "%.*s%s", (int)stem, name, suffix);
    return n >= 0 && (size_t)n < size;
}

float ground_height(const heightfield* hf, float x, float z)
{
    if (!hf || !hf->heights || hf->sample_count <= 0)
        return 0.0f;
    return heightfield_height_at(hf, x, z);
}

float terrain_extent(const heightfield* hf)
{
    return hf ? hf->extent : 0.0f;
}

}  // namespace objects_detail

namespace {

// "null" in an object file means "none".
const char* none_if_null(const char* name)
{
    return (!name || !*name || strcmp(name, "null") == 0) ? nullptr : name;
}

// A number beyond the float range does not count as read.
bool finite_entry(const float* v, int n)
{
    return all_finite(v, n);
}

inline float dot3(const float a[3], const float b[3])
{
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

bool normalise3(float v[3])
{
    const float len = sqrtf(dot3(v, v));
    if (!(len > 0.0f) || !std::isfinite(len))
        return false;
    for (int k = 0; k < 3; k++)
        v[k] /= len;
    return true;
}

void cross3(const float a[3], const float b[3], float out[3])
{
    out[0] = a[1] * b[2] - a[2] * b[1];
    out[1] = a[2] * b[0] - a[0] * b[2];
    out[2] = a[0] * b[1] - a[1] * b[0];
}

int hex_digit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

}  // namespace

// ---- sprites and bins ---------------------------------------------------------------

int sprite_add(sprite_list* list, float x, float y, float z, float size, float aspect, unsigned texture)
{
    reserve_one(list->items, list->count, list->capacity);
    sprite& s = list->items[list->count];
    s = sprite();
    s.x = x;
    s.y = y;
    s.z = z;
    s.size = size;
    s.aspect = aspect;
    s.texture = texture;
    return list->count++;
}

void object_bins_clear(object_bins* bins)
{
    for (auto& row : bins->cells)
        for (index_list& cell : row)
            cell.count = 0;
}

void object_bins_free(object_bins* bins)
{
    for (auto& row : bins->cells)
        for (index_list& cell : row)
            index_list_free(&cell);
}

// ---- billboards --------------------------------------------------------------------

const char* billboard_split_name(const char* text, uint8_t rgba[4])
{
    rgba[0] = rgba[1] = rgba[2] = rgba[3] = 255;
    if (!text || text[0] != '#')
        return text;
    for (int k = 1; k <= 6; k++)
        if (hex_digit(text[k]) < 0)
            return text;
    if (text[7] != '#')
        return text;
    for (int c = 0; c < 3; c++)
        rgba[c] = (uint8_t)(hex_digit(text[1 + 2 * c]) * 16 + hex_digit(text[2 + 2 * c]));
    return text + 8;
}

int billboard_add(track_objects* objects, const heightfield* hf, float x, float y_offset, float z, float size,
                  float aspect, const char* name)
{
    uint8_t colour[4];
    const char* texture_name = billboard_split_name(name ? name : "", colour);
    const unsigned texture = *texture_name ? texture_load(texture_name, 0) : 0;
    const int index =
        sprite_add(&objects->sprites, x, ground_height(hf, x, z) + y_offset, z, size, aspect, texture);
    sprite& s = objects->sprites.items[index];
    s.y_offset = y_offset;
    memcpy(s.colour, colour, 4);

    billboard_list& list = objects->billboards;
    reserve_one(list.items, list.count, list.capacity);
    billboard& b = list.items[list.count];
    b = billboard();
    b.sprite_index = index;
    b.texture_name = copy_name(texture_name);
    return list.count++;
}

void billboard_remove(track_objects* objects, int index, int* particle_first)
{
    billboard_list& list = objects->billboards;
    if (index < 0 || index >= list.count)
        return;
    const int gone = list.items[index].sprite_index;
    mem_free(list.items[index].texture_name);
    memmove(&list.items[index], &list.items[index + 1], sizeof(billboard) * (size_t)(list.count - index - 1));
    list.count--;
    sprite_list& sprites = objects->sprites;
    if (gone < 0 || gone >= sprites.count)
        return;
    memmove(&sprites.items[gone], &sprites.items[gone + 1], sizeof(sprite) * (size_t)(sprites.count - gone - 1));
    sprites.count--;
    auto follow = [gone](int& k) {
        if (k > gone)
            k--;
    };
    for (int k = 0; k < list.count; k++)
        follow(list.items[k].sprite_index);
    flagger_set& f = objects->flaggers;
    if (f.has_start)
        follow(f.start.sprite_index);
    if (f.has_finish)
        follow(f.finish.sprite_index);
    for (int k = 0; k < f.course_count; k++)
        follow(f.course[k].sprite_index);
    if (particle_first)
        follow(*particle_first);
}

int billboards_read(track_objects* objects, const heightfield* hf, data_stream* s, load_progress tick)
{
    int added = 0;
    char name[OBJECT_NAME_MAX + 1];
    for (;;) {
        float v[5];
        if (stream_scan(s, "[ %f %f %f ] %f %f %1023s ", &v[0], &v[1], &v[2], &v[3], &v[4], name) != 6)
            break;
        if (!finite_entry(v, 5))
            break;
        billboard_add(objects, hf, v[0], v[1], v[2], v[3], v[4], name);
        added++;
        if (tick)
            tick("Loading billboards");
    }
    return added;
}

bool billboards_load(track_objects* objects, const heightfield* hf, const char* dir, load_progress tick)
{
    char path[1100];
    if (!compose_track_file(path, sizeof path, dir, "billboards"))
        return false;
    data_stream* s = open_data_file(path, "rb");
    if (!s)
        return false;
    billboards_read(objects, hf, s, tick);
    close_data_file(s);
    return true;
}

// ---- statues ---------------------------------------------------------------------

void statue_orientation(const heightfield* hf, float x, float z, float angle, float rotation[3][3],
                        float* facing_distance)
{
    static const float identity[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    *facing_distance = 0.0f;
    if (angle >= statue_facing_angle) {
        memcpy(rotation, identity, sizeof identity);
        *facing_distance = powf(2.0f, angle);
        return;
    }
    const float c = cosf(angle), s = sinf(angle);
    float side[3] = {c, 0.0f, -s};
    float up[3] = {0.0f, 1.0f, 0.0f};
    float forward[3] = {s, 0.0f, c};
    if (angle > statue_heading_only && hf && hf->heights) {
        // Tilt to the ground: up is the cross product of the slopes one
        // unit along z and along x; the heading's side axis is made square
        // to it and forward follows.
        const float h = ground_height(hf, x, z);
        const float dx = ground_height(hf, x + 1.0f, z) - h;
        const float dz = ground_height(hf, x, z + 1.0f) - h;
        float ground_up[3] = {-dx, 1.0f, -dz};
        float new_side[3];
        if (normalise3(ground_up)) {
            const float d = dot3(side, ground_up);
            for (int k = 0; k < 3; k++)
                new_side[k] = side[k] - d * ground_up[k];
            if (normalise3(new_side)) {
                memcpy(up, ground_up, sizeof up);
                memcpy(side, new_side, sizeof side);
                cross3(side, up, forward);
            }
        }
    }
    memcpy(rotation[0], side, sizeof side);
    memcpy(rotation[1], up, sizeof up);
    memcpy(rotation[2], forward, sizeof forward);
}

int statue_map_candidates(const char* texture_name, const char* model_name, const char* suffix, char* out,
                          size_t size)
{
    static const char* const extensions[3] = {".seq", ".png", ".ppm"};
    int count = 0;
    auto add = [&](const char* stem, size_t stem_length, const char* tail, const char* ext) {
        const int n = snprintf(out + (size_t)count * size, size, "%.*s%s%s%s", (int)stem_length, stem, suffix,
                               tail, ext);
        if (n >= 0 && (size_t)n < size)
            count++;
    };
    if (texture_name && *texture_name) {
        const char* repeat = strstr(texture_name, "-repeat.");
        if (repeat) {
            const char* dash = strrchr(texture_name, '-');
            for (const char* ext : extensions)
                add(texture_name, (size_t)(dash - texture_name), "-repeat", ext);
        } else {
            const char* dot = strrchr(texture_name, '.');
            const size_t stem = dot ? (size_t)(dot - texture_name) : strlen(texture_name);
            for (const char* ext : extensions)
                add(texture_name, stem, "", ext);
        }
    }
    if (model_name && *model_name) {
        const char* slash = strrchr(model_name, '/');
        const char* dot = strrchr(slash ? slash : model_name, '.');
        const size_t stem = dot ? (size_t)(dot - model_name) : strlen(model_name);
        for (const char* ext : extensions)
            add(model_name, stem, "", ext);
    }
    return count;
}

namespace {

unsigned load_statue_map(const char* texture_name, const char* model_name, const char* suffix)
{
    enum { NAME = 1100 };
    char names[6][NAME];
    const int n = statue_map_candidates(texture_name, model_name, suffix, &names[0][0], NAME);
    for (int k = 0; k < n; k++)
        if (data_file_exists(names[k]))
            return texture_load(names[k], 0);
    return 0;
}

void free_statue(statue* s)
{
    shape_free(s->shape);
    mem_free(s->model_name);
    mem_free(s->texture_name);
    mem_free(s->shape_name);
    *s = statue();
}

}  // namespace

int statue_add(track_objects* objects, const heightfield* hf, float x, float y_offset, float z, float angle,
               const char* model_name, const char* texture_name, const char* shape_name,
               const object_options* options)
{
    model_name = none_if_null(model_name);
    texture_name = none_if_null(texture_name);
    shape_name = none_if_null(shape_name);

    statue_list& list = objects->statues;
    reserve_one(list.items, list.count, list.capacity);
    statue& st = list.items[list.count];
    st = statue();
    st.x = x;
    st.z = z;
    st.y_offset = y_offset;
    st.y = ground_height(hf, x, z) + y_offset;
    st.angle = angle;
    statue_orientation(hf, x, z, angle, st.rotation, &st.facing_distance);
    st.model_name = copy_name(model_name);
    st.texture_name = copy_name(texture_name);
    st.shape_name = copy_name(shape_name);

    if (texture_name)
        st.texture = texture_load(texture_name, 0);
    if (model_name)
        st.model = model_load(model_name, st.texture);
    if (shape_name) {
        st.shape = shape_get(shape_name);
        if (!st.shape)
            add_message("Warning: missing shape file %.900s", shape_name);
    }
    if (options && options->shaders) {
        st.normal_texture = load_statue_map(texture_name, model_name, "_norm");
        st.spec_texture = load_statue_map(texture_name, model_name, "_spec");
    }
    return list.count++;
}

void statue_remove(track_objects* objects, int index)
{
    statue_list& list = objects->statues;
    if (index < 0 || index >= list.count)
        return;
    free_statue(&list.items[index]);
    memmove(&list.items[index], &list.items[index + 1], sizeof(statue) * (size_t)(list.count - index - 1));
    list.count--;
}

void statue_place(statue* s, const heightfield* hf)
{
    s->y = ground_height(hf, s->x, s->z) + s->y_offset;
    statue_orientation(hf, s->x, s->z, s->angle, s->rotation, &s->facing_distance);
}

int statues_read(track_objects* objects, const heightfield* hf, data_stream* s, const object_options* options,
                 load_progress tick)
{
    int added = 0;
    char names[3][OBJECT_NAME_MAX + 1];
    for (;;) {
        float v[4];
        if (stream_scan(s, "[ %f %f %f ] %f %1023s %1023s %1023s ", &v[0], &v[1], &v[2], &v[3], names[0],
                        names[1], names[2]) != 7)
            break;
        if (!finite_entry(v, 4))
            break;
        statue_add(objects, hf, v[0], v[1], v[2], v[3], names[0], names[1], names[2], options);
        added++;
        if (tick)
            tick("Loading statues");
    }
    return added;
}

bool statues_load(track_objects* objects, const heightfield* hf, const char* dir, const object_options* options,
                  load_progress tick)
{
    char path[1100];
    if (!compose_track_file(path, sizeof path, dir, "statues"))
        return false;
    data_stream* s = open_data_file(path, "rb");
    if (!s)
        return false;
    statues_read(objects, hf, s, options, tick);
    close_data_file(s);
    return true;
}

void statue_face_camera(statue* s, vec3 eye, float lod_scale, float lod_bias)
{
    if (s->facing_distance == 0.0f)
        return;
    const float dx = eye.x - s->x, dy = eye.y - s->y, dz = eye.z - s->z;
    const float dist = sqrtf(dx * dx + dy * dy + dz * dz);
    const float near = s->facing_distance - lod_bias;
    const float far = dist * lod_scale;
    if (!(near * near < far * far))
        return;
    const float h = sqrtf(dx * dx + dz * dz);
    if (!(h > 0.0f) || !std::isfinite(h))
        return;
    const float rows[3][3] = {{dz / h, 0.0f, -dx / h}, {0.0f, 1.0f, 0.0f}, {dx / h, 0.0f, dz / h}};
    memcpy(s->rotation, rows, sizeof rows);
}

void statue_physics_rotation(const statue* s, double out[12])
{
    for (int i = 0; i < 3; i++) {
        for (int j = 0; j < 3; j++) {
            // Column j of the engine's matrix is the statue's axis j.
            const float v = s->facing_distance != 0.0f ? (i == j ? 1.0f : 0.0f) : s->rotation[j][i];
            out[i * 4 + j] = v;
        }
        out[i * 4 + 3] = 0.0;
    }
}

// ---- placement -----------------------------------------------------------------------

void objects_place_on_ground(track_objects* objects, const heightfield* hf)
{
    sprite_list& sprites = objects->sprites;
    auto place = [&](int index) {
        if (index < 0 || index >= sprites.count)
            return;
        sprite& s = sprites.items[index];
        s.y = ground_height(hf, s.x, s.z) + s.y_offset;
    };
    for (int k = 0; k < objects->billboards.count; k++)
        place(objects->billboards.items[k].sprite_index);
    flagger_set& f = objects->flaggers;
    if (f.has_finish)
        place(f.finish.sprite_index);
    if (f.has_start)
        place(f.start.sprite_index);
    for (int k = 0; k < f.course_count; k++)
        place(f.course[k].sprite_index);
    for (int k = 0; k < objects->statues.count; k++) {
        statue& s = objects->statues.items[k];
        s.y = ground_height(hf, s.x, s.z) + s.y_offset;
    }
}

// ---- statue bins ---------------------------------------------------------------------

int statue_bin(float v, float extent)
{
    if (!(extent > 0.0f))
        return 0;
    return clamp_floor((v / extent - 0.125f) * (4.0f / 3.0f) * 8.0f, 0, OBJECT_BINS - 1);
}

void statue_bins_build(track_objects* objects, const heightfield* hf)
{
    object_bins_clear(&objects->statue_bins);
    const float extent = terrain_extent(hf);
    for (int k = 0; k < objects->statues.count; k++) {
        const statue& s = objects->statues.items[k];
        if (!s.shape)
            continue;
        const float r = s.shape->radius;
        const int i0 = statue_bin(s.x - r, extent), i1 = statue_bin(s.x + r, extent);
        const int j0 = statue_bin(s.z - r, extent), j1 = statue_bin(s.z + r, extent);
        for (int i = i0; i <= i1; i++)
            for (int j = j0; j <= j1; j++)
                index_push(&objects->statue_bins.cells[i][j], k);
    }
}

void statues_near_into(const track_objects* objects, const heightfield* hf, float x, float z, float reach,
                       std::vector<int>* out)
{
    out->clear();
    const float extent = terrain_extent(hf);
    const int i0 = statue_bin(x - reach, extent), i1 = statue_bin(x + reach, extent);
    const int j0 = statue_bin(z - reach, extent), j1 = statue_bin(z + reach, extent);
    for (int i = i0; i <= i1; i++)
        for (int j = j0; j <= j1; j++) {
            const index_list& cell = objects->statue_bins.cells[i][j];
            out->insert(out->end(), cell.items, cell.items + cell.count);
        }
    // Statues spanning several bins were gathered once per bin.
    std::sort(out->begin(), out->end());
    out->erase(std::unique(out->begin(), out->end()), out->end());
}

int statues_near(track_objects* objects, const heightfield* hf, float x, float z, float reach)
{
    thread_local std::vector<int> found;
    statues_near_into(objects, hf, x, z, reach, &found);
    index_list& out = objects->near;
    out.count = 0;
    for (int k : found)
        index_push(&out, k);
    return out.count;
}

// ---- freeing -------------------------------------------------------------------------

void track_objects_free(track_objects* objects)
{
    for (int k = 0; k < objects->statues.count; k++)
        free_statue(&objects->statues.items[k]);
    mem_free(objects->statues.items);
    for (int k = 0; k < objects->billboards.count; k++)
        mem_free(objects->billboards.items[k].texture_name);
    mem_free(objects->billboards.items);
    mem_free(objects->sprites.items);
    mem_free(objects->flaggers.course);
    object_bins_free(&objects->statue_bins);
    index_list_free(&objects->near);
    *objects = track_objects();
}

// ---- writing ----------------------------------------------------------------------------

namespace {

// The file is written under a temporary name until finish_writing moves it
// over the old one.
data_stream* open_for_writing(const char* dir, const char* file, replacing_file* out)
{
    char path[1100];
    data_stream* s = nullptr;
    if (compose_track_file(path, sizeof path, dir, file) && begin_replacing(path, out))
        s = out->stream;
    if (!s)
        add_message("Can't open '%s'\n", file);
    return s;
}

bool finish_writing(replacing_file* out, const char* file)
{
    const bool ok = finish_replacing(out, true, false);
    if (!ok)
        add_message("Can't open '%s'\n", file);
    return ok;
}

}  // namespace

bool billboards_write(const track_objects* objects, const char* dir, int first)
{
    replacing_file out;
    data_stream* s = open_for_writing(dir, "billboards", &out);
    if (!s)
        return false;
    for (int k = first < 0 ? 0 : first; k < objects->billboards.count; k++) {
        const billboard& b = objects->billboards.items[k];
        if (b.sprite_index < 0 || b.sprite_index >= objects->sprites.count)
            continue;
        const sprite& sp = objects->sprites.items[b.sprite_index];
        const char* name = b.texture_name ? b.texture_name : "";
        stream_printf(s, "[%f %f %f] %f %f ", (double)sp.x, (double)sp.y_offset, (double)sp.z, (double)sp.size,
                      (double)sp.aspect);
        if (sp.colour[0] != 255 || sp.colour[1] != 255 || sp.colour[2] != 255)
            stream_printf(s, "#%02x%02x%02x#%s\n", sp.colour[0], sp.colour[1], sp.colour[2], name);
        else
            stream_printf(s, "%s\n", name);
    }
    return finish_writing(&out, "billboards");
}

bool statues_write(const track_objects* objects, const char* dir, int first)
{
    replacing_file out;
    data_stream* s = open_for_writing(dir, "statues", &out);
    if (!s)
        return false;
    auto named = [](const char* name) { return name ? name : "null"; };
    for (int k = first < 0 ? 0 : first; k < objects->statues.count; k++) {
        const statue& st = objects->statues.items[k];
        stream_printf(s, "[%f %f %f] %f %s %s %s\n", (double)st.x, (double)st.y_offset, (double)st.z,
                      (double)st.angle, named(st.model_name), named(st.texture_name), named(st.shape_name));
    }
    return finish_writing(&out, "statues");
}
