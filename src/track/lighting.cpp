// The "lighting" and "cameras" files of a track.
#include "track/lighting.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/messages.h"
#include "core/services.h"
#include "files/datafs.h"
#include "files/memory.h"
#include "platform/log.h"
#include "track/objects_internal.h"

using namespace objects_detail;

namespace {

enum { LINE_SIZE = 1024 };

const char* const default_sky[SKY_FACES] = {"@sky-n.ppm", "@sky-e.ppm", "@sky-s.ppm", "@sky-w.ppm",
                                            "@sky-u.ppm"};
const char* const sky_keywords[SKY_FACES] = {"sky_n", "sky_e", "sky_s", "sky_w", "sky_u"};

// Reads one line of at most LINE_SIZE - 1 bytes; the rest of a longer line
// is skipped. False at the end of the stream.
bool read_line(data_stream* s, char* line)
{
    if (!stream_gets(s, line, LINE_SIZE))
        return false;
    const size_t len = strlen(line);
    if (len > 0 && line[len - 1] != '\n' && len == LINE_SIZE - 1) {
        int c;
        do
            c = stream_getc(s);
        while (c >= 0 && c != '\n');
    }
    return true;
}

bool is_blank(char c)
{
    return c == ' ' || c == '\t';
}

// Cuts trailing white space (line ends included).
void cut_trailing_space(char* line)
{
    size_t len = strlen(line);
    while (len > 0 && isspace((unsigned char)line[len - 1]))
        line[--len] = 0;
}

bool scan_vector(const char* value, float out[3])
{
    float v[3];
    if (sscanf(value, " [ %f %f %f ]", &v[0], &v[1], &v[2]) != 3)
        return false;
    memcpy(out, v, sizeof v);
    return true;
}

// The flare being built from "flare_element" lines until a "flare_point"
// or "flare_vector" line completes it.
struct flare_builder {
    flare pending;
};

void add_element(flare_builder* b, const char* value)
{
    flare_element e;
    char name[OBJECT_NAME_MAX + 1];
    if (sscanf(value, " [ %f %f ] [ %f %f %f ] %f %1023s", &e.offset_across, &e.offset_along, &e.color[0],
               &e.color[1], &e.color[2], &e.size, name) != 7)
        return;
    if (b->pending.element_count >= FLARE_ELEMENTS_MAX)
        return;
    e.texture = texture_load(name, 0);
    b->pending.elements[b->pending.element_count++] = e;
}

void complete_flare(lighting* l, flare_builder* b, const char* value, int is_vector)
{
    float v[3];
    if (!scan_vector(value, v))
        return;
    b->pending.source = {v[0], v[1], v[2]};
    b->pending.is_vector = is_vector;
    reserve_one(l->flares, l->flare_count, l->flare_capacity);
    l->flares[l->flare_count++] = b->pending;
    b->pending = flare();
}

// Clamps v into lo..hi; NaN goes to lo.
float clamp_value(float v, float lo, float hi)
{
    if (!(v >= lo))
        return lo;
    return v > hi ? hi : v;
}

}  // namespace

void lighting_reset(lighting* l)
{
    mem_free(l->flares);
    *l = lighting();
}

void lighting_read(lighting* l, data_stream* s, load_progress tick)
{
    flare_builder builder;
    char line[LINE_SIZE];
    while (read_line(s, line)) {
        if (tick)
            tick("Loading lighting");
        cut_trailing_space(line);
        char* p = line;
        while (is_blank(*p))
            p++;
        if (!*p)
            continue;
        char* keyword = p;
        while (*p && !is_blank(*p))
            p++;
        if (*p) {
            *p++ = 0;
            while (is_blank(*p))
                p++;
        }
        const char* value = p;

        float v[4];
        int face = -1;
        for (int k = 0; k < SKY_FACES; k++)
            if (strcmp(keyword, sky_keywords[k]) == 0)
                face = k;
        if (strcmp(keyword, "sun_vector") == 0) {
            if (scan_vector(value, v))
                l->sun_vector = {v[0], v[1], v[2]};
        } else if (strcmp(keyword, "sun_color") == 0) {
            scan_vector(value, l->sun_color);
        } else if (strcmp(keyword, "ambient") == 0) {
            scan_vector(value, l->ambient);
        } else if (strcmp(keyword, "global_ambient") == 0) {
            scan_vector(value, l->global_ambient);
        } else if (face >= 0) {
            if (*value)
                l->sky[face] = texture_load(value, 0);
        } else if (strcmp(keyword, "sky_env") == 0) {
            if (*value)
                l->sky_env = texture_load(value, 0);
        } else if (strcmp(keyword, "flare_element") == 0) {
            add_element(&builder, value);
        } else if (strcmp(keyword, "flare_point") == 0) {
            complete_flare(l, &builder, value, 0);
        } else if (strcmp(keyword, "flare_vector") == 0) {
            complete_flare(l, &builder, value, 1);
        } else if (strcmp(keyword, "fog") == 0) {
            if (sscanf(value, " [ %f %f %f ] %f", &v[0], &v[1], &v[2], &v[3]) == 4) {
                memcpy(l->fog_color, v, sizeof l->fog_color);
                l->fog_density = v[3];
            }
        } else if (strcmp(keyword, "dynamic_lighting") == 0) {
            int n;
            if (sscanf(value, "%d", &n) == 1)
                l->dynamic_lighting = n > 0;
        } else if (strcmp(keyword, "near_plane") == 0) {
            if (sscanf(value, "%f", &v[0]) == 1)
                l->near_plane = v[0];
        } else if (strcmp(keyword, "far_plane") == 0) {
            if (sscanf(value, "%f", &v[0]) == 1)
                l->far_plane = v[0];
        } else {
            add_message("Error reading lighting: Unknown identifier '%.950s'\n", keyword);
            break;
        }
    }
}

void lighting_finish(lighting* l)
{
    l->near_plane = clamp_value(l->near_plane, lighting_near_min, lighting_near_max);
    l->far_plane = clamp_value(l->far_plane, l->near_plane, lighting_far_max);
    const vec3 v = l->sun_vector;
    const float len = sqrtf(v.x * v.x + v.y * v.y + v.z * v.z);
    if (len > 0.0f && std::isfinite(len))
        l->sun_vector = {v.x / len, v.y / len, v.z / len};
    else
        l->sun_vector = lighting().sun_vector;
    for (int k = 0; k < SKY_FACES; k++)
        if (!l->sky[k])
            l->sky[k] = texture_load(default_sky[k], 0);
    if (!l->sky_env)
        l->sky_env = texture_load("@sky-env.ppm", 0);
}

bool lighting_load(lighting* l, const char* dir, load_progress tick)
{
    lighting_reset(l);
    char path[1100];
    if (!compose_track_file(path, sizeof path, dir, "lighting"))
        return false;
    data_stream* s = open_data_file(path, "rb");
    if (!s)
        return false;
    lighting_read(l, s, tick);
    close_data_file(s);
    lighting_finish(l);
    return true;
}

terrain_light lighting_terrain_light(const lighting* l)
{
    terrain_light t;
    t.sun_vector[0] = l->sun_vector.x;
    t.sun_vector[1] = l->sun_vector.y;
    t.sun_vector[2] = l->sun_vector.z;
    memcpy(t.sun_color, l->sun_color, sizeof t.sun_color);
    memcpy(t.ambient, l->ambient, sizeof t.ambient);
    return t;
}

// ---- track cameras ------------------------------------------------------------------

camera_set::camera_set()
{
    for (int& c : gate_camera)
        c = -1;
}

namespace {

struct pending_camera {
    float fov = 90.0f;
    float autofovsize = 0.0f;
};

// A line whose first word is "gate": the text after that word, else null.
const char* gate_line_numbers(const char* line)
{
    while (*line == ' ' || *line == '\t')
        line++;
    if (strncmp(line, "gate", 4) == 0 && (line[4] == 0 || isspace((unsigned char)line[4])))
        return line + 4;
    return nullptr;
}

void map_gates(camera_set* cams, const char* p)
{
    for (;;) {
        char* end;
        errno = 0;
        const long gate = strtol(p, &end, 10);
        if (end == p || errno == ERANGE || gate < 0 || gate >= GATE_CAMERA_COUNT)
            return;
        cams->gate_camera[gate] = cams->count;
        p = end;
    }
}

}  // namespace

void cameras_read(camera_set* cams, const heightfield* hf, data_stream* s)
{
    pending_camera pending;
    char line[LINE_SIZE];
    while (read_line(s, line)) {
        float x, h, z, f;
        if (sscanf(line, "addcamera %f %f %f", &x, &h, &z) == 3) {
            const float v[3] = {x, h, z};
            if (!all_finite(v, 3))
                continue;
            reserve_one(cams->items, cams->count, cams->capacity);
            track_camera& c = cams->items[cams->count++];
            c = track_camera();
            c.position = {x, ground_height(hf, x, z) + h, z};
            c.fov = pending.fov;
            c.autofovsize = pending.autofovsize;
            pending = pending_camera();
        } else if (sscanf(line, "fov %f", &f) == 1) {
            if (std::isfinite(f))
                pending.fov = fabsf(f);
        } else if (sscanf(line, "autofovsize %f", &f) == 1) {
            if (std::isfinite(f))
                pending.autofovsize = fabsf(f);
        } else if (const char* numbers = gate_line_numbers(line)) {
            map_gates(cams, numbers);
        }
    }
    // A gate line after the last camera names a camera that never came.
    for (int& c : cams->gate_camera)
        if (c >= cams->count)
            c = -1;
}

bool cameras_load(camera_set* cams, const heightfield* hf, const char* dir, int verbose)
{
    cameras_free(cams);
    char path[1100];
    if (!compose_track_file(path, sizeof path, dir, "cameras"))
        return false;
    data_stream* s = open_data_file(path, "rb");
    if (!s)
        return false;
    cameras_read(cams, hf, s);
    close_data_file(s);
    if (verbose)
        log_printf("%d cameras found\n", cams->count);
    return true;
}

void cameras_free(camera_set* cams)
{
    mem_free(cams->items);
    *cams = camera_set();
}

int gate_camera(const camera_set* cams, int gate)
{
    if (gate < 0 || gate >= GATE_CAMERA_COUNT)
        return -1;
    return cams->gate_camera[gate];
}
