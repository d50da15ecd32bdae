// Parsers of "tileinfo" and "texturelist" into the surface table, and the
// tile codes derived from the texture names.
#include <cctype>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "core/messages.h"
#include "core/services.h"
#include "files/datafs.h"
#include "files/memory.h"
#include "platform/log.h"
#include "render/picture.h"
#include "track/heightfield_internal.h"
#include "track/surface.h"

const char* const erode_scalar_names[ERODE_SCALARS] = {
    "erode_depth",      "erode_lower",        "erode_upper",           "erode_displacement",
    "erode_radius",     "erode_inner_depth",  "erode_inner_radius",    "erode_min_slope",
    "erode_max_slope",  "erode_off_speed",    "erode_on_speed",        "erode_slip_lower",
    "erode_slip_upper", "erode_slip_base_scale", "erode_slip_scale",   "erode_downhill_scale",
};

float erode_params::* const erode_scalar_members[ERODE_SCALARS] = {
    &erode_params::erode_depth,       &erode_params::erode_lower,
    &erode_params::erode_upper,       &erode_params::erode_displacement,
    &erode_params::erode_radius,      &erode_params::erode_inner_depth,
    &erode_params::erode_inner_radius, &erode_params::erode_min_slope,
    &erode_params::erode_max_slope,   &erode_params::erode_off_speed,
    &erode_params::erode_on_speed,    &erode_params::erode_slip_lower,
    &erode_params::erode_slip_upper,  &erode_params::erode_slip_base_scale,
    &erode_params::erode_slip_scale,  &erode_params::erode_downhill_scale,
};

namespace {

enum { LINE_MAX = 1024 };

// Smallest slip speed or roll_resist speed a defined point may have: 0 would
// end the list at that point.
const float MIN_POINT_SPEED = 9.5367431640625e-07f;  // 2^-20

// ---- ground textures --------------------------------------------------------

bool keep_tile_pictures()
{
    return g_texture_service.keep_tile_pictures && g_texture_service.keep_tile_pictures();
}

// Software terrain texturing composes the ground from pictures in memory:
// the top level as RGB.
bool load_tile_picture(const char* name, surface_type* s)
{
    picture pic;
    if (!read_any_picture(name, &pic))
        return false;
    const size_t count = (size_t)pic.width * (size_t)pic.height;
    uint8_t* rgb = (uint8_t*)mem_alloc_or_die(count * 3);
    for (size_t k = 0; k < count; k++)
        memcpy(rgb + 3 * k, pic.pixels + (size_t)pic.channels * k, 3);
    s->texture_pixels = rgb;
    s->texture_width = pic.width;
    s->texture_height = pic.height;
    picture_free(&pic);
    return true;
}

void drop_tile_picture(surface_type* s)
{
    mem_free(s->texture_pixels);
    s->texture_pixels = nullptr;
    s->texture_width = 0;
    s->texture_height = 0;
}

void load_ground_texture(surface_type* s, const char* name)
{
    drop_tile_picture(s);
    s->texture = 0;
    if (!*name)
        return;
    if (keep_tile_pictures()) {
        if (!load_tile_picture(name, s))
            log_printf("Can't load tile picture '%.950s'\n", name);
    } else {
        s->texture = texture_load(name, 0);
    }
}

// ---- table building ------------------------------------------------------------

struct table_builder {
    heightfield* hf;
    surface_type* entries;  // SURFACE_MAX slots; [0, count) constructed
    int count;
};

void builder_start(table_builder* b, heightfield* hf)
{
    surface_table_free_surfaces(hf);
    b->hf = hf;
    b->entries = (surface_type*)mem_alloc_or_die(sizeof(surface_type) * SURFACE_MAX);
    b->count = 0;
}

void builder_add(table_builder* b, const surface_type& s)
{
    new (&b->entries[b->count]) surface_type(s);
    b->count++;
}

// Stores the table: every tile code computed, then the keys freed. A file
// without any surface still leaves one of defaults, so tile-map indexes
// always name a surface.
void builder_finish(table_builder* b, const char* file)
{
    if (b->count == 0) {
        log_printf("%s defines no surfaces; using the default ground\n", file);
        builder_add(b, surface_type{});
    }
    const char* keys[SURFACE_MAX];
    for (int i = 0; i < b->count; i++)
        keys[i] = b->entries[i].name_key;
    for (int i = 0; i < b->count; i++)
        b->entries[i].tile_code = surface_tile_code(keys[i], i, keys, b->count);
    for (int i = 0; i < b->count; i++) {
        mem_free(b->entries[i].name_key);
        b->entries[i].name_key = nullptr;
    }
    b->hf->surfaces = b->entries;
    b->hf->surface_count = b->count;
}

char* copy_key(const char* texture_name)
{
    char* key = mem_strdup(surface_name_key(texture_name));
    if (!key)
        fatal_out_of_memory();
    return key;
}

// ---- "tileinfo" ---------------------------------------------------------------

struct pending_surface {
    surface_type s;
    char* texture_name = nullptr;  // owned
    int friction_count = 0;
    int roll_resist_count = 0;
    int roost_count = 0;
    int limit_count = 0;
};

void pending_reset(pending_surface* p)
{
    drop_tile_picture(&p->s);
    mem_free(p->texture_name);
    *p = pending_surface{};
}

// A number as "%f" reads it; infinities and NaN count as unreadable, since
// they would spread through the physics and the erosion.
bool scan_floats(const char* value, int wanted, float* out)
{
    int got = 0;
    if (wanted == 1)
        got = sscanf(value, "%f", &out[0]);
    else if (wanted == 2)
        got = sscanf(value, "%f %f", &out[0], &out[1]);
    else
        got = sscanf(value, "%f %f %f", &out[0], &out[1], &out[2]);
    if (got != wanted)
        return false;
    for (int k = 0; k < wanted; k++)
        if (!std::isfinite(out[k]))
            return false;
    return true;
}

// Low 8 bits of the number truncated to an integer.
uint8_t colour_byte(double v)
{
    if (!std::isfinite(v))
        return 0;
    double m = fmod(trunc(v), 256.0);
    if (m < 0.0)
        m += 256.0;
    return (uint8_t)m;
}

// The file gives the change per second; stored per tick (1/128 s),
// truncated toward zero. Values beyond a signed byte are held at its ends
// rather than wrapping round to a fade the other way.
int8_t fade_byte(double v)
{
    if (v != v)
        return 0;
    double t = trunc(v * 0.0078125);
    if (t < -128.0)
        t = -128.0;
    if (t > 127.0)
        t = 127.0;
    return (int8_t)t;
}

struct roost_float_key {
    const char* name;  // without "="
    float roost_type::*member;
};

const roost_float_key roost_float_keys[] = {
    {"count", &roost_type::count},           {"dig", &roost_type::dig},
    {"slip_threshold", &roost_type::slip_threshold}, {"slow_angle", &roost_type::slow_angle},
    {"fast_angle", &roost_type::fast_angle}, {"slow_speed", &roost_type::slow_speed},
    {"fast_speed", &roost_type::fast_speed}, {"size", &roost_type::size},
    {"grow", &roost_type::grow},             {"drag", &roost_type::drag},
    {"vscale", &roost_type::vscale},         {"randomize", &roost_type::randomize},
};

const char* const colour_keys[4] = {"r", "g", "b", "a"};
const char* const fade_keys[4] = {"fade_r", "fade_g", "fade_b", "fade_a"};

// The number after "name=", and whether there was one (strtod's rule).
double token_number(const char* text, bool* ok)
{
    char* end = nullptr;
    const double v = strtod(text, &end);
    *ok = end != text;
    return *ok ? v : 0.0;
}

// When token is "name=..." returns the text after "=", else null.
const char* token_value(const char* token, const char* name)
{
    const size_t n = strlen(name);
    if (strncmp(token, name, n) == 0 && token[n] == '=')
        return token + n + 1;
    return nullptr;
}

// One roost parameter; returns true when it named the texture.
bool apply_roost_token(roost_type* r, const char* token)
{
    if (const char* name = token_value(token, "texture")) {
        r->texture = texture_load(name, 0);
        return true;
    }
    bool ok = false;
    if (const char* v = token_value(token, "splash")) {
        const double x = token_number(v, &ok);
        if (ok && x != 0.0)
            r->mode = 2;
        return false;
    }
    for (const roost_float_key& key : roost_float_keys) {
        if (const char* v = token_value(token, key.name)) {
            const double x = token_number(v, &ok);
            // Numbers beyond a float read as unreadable rather than infinity.
            if (!ok || !(fabs(x) <= FLT_MAX)) {
                add_message("tileinfo warning: bad %s\n", key.name);
                r->*key.member = 0.0f;
            } else {
                r->*key.member = (float)x;
            }
            return false;
        }
    }
    for (int c = 0; c < 4; c++) {
        if (const char* v = token_value(token, colour_keys[c])) {
            const double x = token_number(v, &ok);
            if (!ok)
                add_message("tileinfo warning: bad %s\n", colour_keys[c]);
            r->colour[c] = colour_byte(x);
            return false;
        }
        if (const char* v = token_value(token, fade_keys[c])) {
            const double x = token_number(v, &ok);
            if (!ok)
                add_message("tileinfo warning: bad %s\n", fade_keys[c]);
            r->fade[c] = fade_byte(x);
            return false;
        }
    }
    add_message("tileinfo warning: unknown roost parameter '%.40s'\n", token);
    return false;
}

inline bool roost_separator(char c)
{
    return c == ' ' || c == '\f' || c == '\n' || c == '\r' || c == '\t' || c == '\b';
}

// Splits the value into tokens (double quotes group separators into a token
// and are dropped) and applies each. Without a "texture=" token the sprite
// is the default one.
void parse_roost(roost_type* r, const char* value)
{
    char token[LINE_MAX];
    bool named_texture = false;
    const char* p = value;
    for (;;) {
        while (*p && roost_separator(*p))
            p++;
        if (!*p)
            break;
        size_t len = 0;
        bool quoted = false;
        for (; *p && (quoted || !roost_separator(*p)); p++) {
            if (*p == '"')
                quoted = !quoted;
            else if (len + 1 < sizeof token)
                token[len++] = *p;
        }
        token[len] = 0;
        if (apply_roost_token(r, token))
            named_texture = true;
    }
    if (!named_texture)
        r->texture = texture_load("@roost.png", 0);
}

template <typename T, typename Key>
void sort_points(T* points, int count, Key key)
{
    // Insertion sort: stable, so equal speeds keep the file's order.
    for (int i = 1; i < count; i++) {
        T p = points[i];
        int j = i - 1;
        while (j >= 0 && key(points[j]) > key(p)) {
            points[j + 1] = points[j];
            j--;
        }
        points[j + 1] = p;
    }
}

void finish_pending(table_builder* b, pending_surface* p)
{
    surface_type s = p->s;  // texture and picture move into the entry
    p->s.texture_pixels = nullptr;
    sort_points(s.friction, p->friction_count, [](const friction_point& f) { return f.slip_speed; });
    sort_points(s.roll_resist, p->roll_resist_count, [](const roll_resist_point& f) { return f.speed; });
    if (p->limit_count == 0) {
        const erode_params defaults;
        for (int k = 0; k < ERODE_LIMITS; k++) {
            s.erode.limit_depth[k] = defaults.limit_depth[k];
            s.erode.limit_dig[k] = defaults.limit_dig[k];
            s.erode.limit_inner_dig[k] = defaults.limit_inner_dig[k];
        }
        s.erode.limit_count = defaults.limit_count;
    } else {
        s.erode.limit_count = p->limit_count;
    }
    s.name_key = p->texture_name ? copy_key(p->texture_name) : nullptr;
    builder_add(b, s);
    pending_reset(p);
}

bool is_keyword_end(char c)
{
    return c == 0 || c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

void tileinfo_line(table_builder* b, pending_surface* p, char* line)
{
    char* at = line;
    while (*at == ' ' || *at == '\t' || *at == '\r' || *at == '\n')
        at++;
    if (!*at)
        return;
    char* keyword = at;
    while (!is_keyword_end(*at))
        at++;
    char* value = at;
    if (*at == ' ' || *at == '\t') {
        *at++ = 0;
        while (*at == ' ' || *at == '\t')
            at++;
        value = at;
    } else if (*at) {
        *at = 0;  // CR or LF right after the keyword: empty value
        value = at + 1;
        *value = 0;
    }
    value[strcspn(value, "\r\n")] = 0;

    float f[3];
    if (strcmp(keyword, "addtile") == 0) {
        finish_pending(b, p);
    } else if (strcmp(keyword, "texture") == 0) {
        mem_free(p->texture_name);
        p->texture_name = mem_strdup(value);
        if (!p->texture_name)
            fatal_out_of_memory();
        load_ground_texture(&p->s, value);
    } else if (strcmp(keyword, "friction") == 0) {
        if (!scan_floats(value, 2, f)) {
            add_message("tileinfo warning: bad friction parameters\n");
        } else if (p->friction_count >= SURFACE_POINTS) {
            add_message("tileinfo warning: too many friction points\n");
        } else {
            friction_point& point = p->s.friction[p->friction_count++];
            point.coefficient = fmaxf(f[0], 0.0f);
            point.slip_speed = fmaxf(f[1], MIN_POINT_SPEED);
        }
    } else if (strcmp(keyword, "roll_resist") == 0) {
        if (!scan_floats(value, 3, f)) {
            add_message("tileinfo warning: bad roll_resist parameters\n");
        } else if (p->roll_resist_count >= SURFACE_POINTS) {
            add_message("tileinfo warning: too many roll_resist points\n");
        } else {
            roll_resist_point& point = p->s.roll_resist[p->roll_resist_count++];
            point.shallow = fmaxf(f[0], 0.0f);
            point.deep = fmaxf(f[1], 0.0f);
            point.speed = fmaxf(f[2], MIN_POINT_SPEED);
        }
    } else if (strcmp(keyword, "roost") == 0) {
        if (p->roost_count >= ROOST_TYPES) {
            add_message("tileinfo warning: too many roost types\n");
        } else {
            roost_type& r = p->s.roost[p->roost_count++];
            r = roost_type{};
            r.mode = 1;
            parse_roost(&r, value);
        }
    } else if (strcmp(keyword, "erode_limit") == 0) {
        erode_params& e = p->s.erode;
        const int n = p->limit_count;
        if (!scan_floats(value, 3, f)) {
            add_message("tileinfo warning: bad erode_limit\n");
        } else if (n >= ERODE_LIMITS) {
            add_message("tileinfo warning: too many erode limits\n");
        } else if (n > 0 && !(f[0] > e.limit_depth[n - 1])) {
            add_message("tileinfo warning: erode_limit depth <= prev depth\n");
        } else {
            e.limit_depth[n] = f[0];
            e.limit_dig[n] = f[1];
            e.limit_inner_dig[n] = f[2];
            p->limit_count = n + 1;
        }
    } else {
        for (int k = 0; k < ERODE_SCALARS; k++) {
            if (strcmp(keyword, erode_scalar_names[k]) == 0) {
                if (scan_floats(value, 1, f))
                    p->s.erode.*erode_scalar_members[k] = f[0];
                else
                    add_message("tileinfo warning: bad %s\n", erode_scalar_names[k]);
                return;
            }
        }
        add_message("tileinfo warning: Unknown identifier '%.950s'\n", keyword);
    }
}

// ---- tile codes -----------------------------------------------------------------

// True when key agrees with text up to text's first "-", where key has ".":
// "dirt-grass-0110.png" has the stem of "dirt.png".
bool key_matches_stem(const char* text, const char* key)
{
    for (size_t p = 0;; p++) {
        if (text[p] == 0)
            return false;
        if (text[p] == '-')
            return key[p] == '.';
        if (text[p] != key[p])
            return false;
    }
}

}  // namespace

void surface_table_free_surfaces(heightfield* hf)
{
    for (int i = 0; i < hf->surface_count; i++) {
        mem_free(hf->surfaces[i].texture_pixels);
        mem_free(hf->surfaces[i].name_key);
    }
    mem_free(hf->surfaces);
    hf->surfaces = nullptr;
    hf->surface_count = 0;
}

const char* surface_name_key(const char* name)
{
    if (name[0] == '@')
        name++;
    const char* slash = strrchr(name, '/');
    return slash ? slash : name;
}

int surface_tile_code(const char* key, int own, const char* const* keys, int count)
{
    const int plain = (own << 16) | (own << 8);
    if (!key)
        return plain;
    int primary = -1;
    for (int i = 0; i < count && primary < 0; i++)
        if (keys[i] && key_matches_stem(key, keys[i]))
            primary = i;
    if (primary < 0)
        return plain;

    const char* rest = strchr(key, '-') + 1;  // the stem matched, so "-" is there
    if (strncmp(rest, "alt", 3) == 0 && isdigit((unsigned char)rest[3]))
        return (primary << 16) | (primary << 8);

    // The secondary name follows the first "-" without the "/" that keys of
    // textures in a folder begin with, so such a key is compared from its
    // second character; otherwise no tile in a folder could ever name its
    // secondary surface.
    int secondary = -1;
    for (int j = 0; j < count && secondary < 0; j++) {
        if (!keys[j])
            continue;
        const char* k = keys[j][0] == '/' ? keys[j] + 1 : keys[j];
        if (key_matches_stem(rest, k))
            secondary = j;
    }
    if (secondary < 0)
        return (int)(((uint32_t)primary << 16) | 0xffffff00u);

    const char* digits = strchr(rest, '-') + 1;
    int mask = 0;
    int valid = 0;
    while (valid < 4 && (digits[valid] == '0' || digits[valid] == '1')) {
        mask = mask * 2 + (digits[valid] - '0');
        valid++;
    }
    const int code = (primary << 16) | (secondary << 8);
    return valid == 4 ? code | mask : code;
}

void surface_table_read_tileinfo(heightfield* hf, data_stream* s)
{
    table_builder b;
    builder_start(&b, hf);
    pending_surface p;
    char line[LINE_MAX];
    while (b.count < SURFACE_MAX && stream_gets(s, line, sizeof line))
        tileinfo_line(&b, &p, line);
    pending_reset(&p);  // keys after the last "addtile" are dropped
    builder_finish(&b, "tileinfo");
}

void surface_table_read_texturelist(heightfield* hf, data_stream* s)
{
    table_builder b;
    builder_start(&b, hf);
    char line[LINE_MAX];
    while (b.count < SURFACE_MAX && stream_gets(s, line, sizeof line)) {
        char* at = line;
        while (*at && isspace((unsigned char)*at))
            at++;
        if (!*at)
            continue;
        float f[3] = {1.0f, 5.0f, 15.0f};
        int used = 0;
        char* name = at;
        float scanned[3];
        if (sscanf(at, "%f %f %f %n", &scanned[0], &scanned[1], &scanned[2], &used) == 3 && used > 0 &&
            std::isfinite(scanned[0]) && std::isfinite(scanned[1]) && std::isfinite(scanned[2])) {
            memcpy(f, scanned, sizeof f);
            name = at + used;
        }
        // The line end goes; a last line without one keeps all its name.
        size_t len = strlen(name);
        if (len > 0 && name[len - 1] == '\n')
            name[--len] = 0;
        if (len > 0 && name[len - 1] == '\r')
            name[--len] = 0;

        surface_type entry;
        for (int k = 0; k < SURFACE_POINTS; k++) {
            entry.friction[k] = {fmaxf(f[0], 0.0f), k == 0 ? 1.0f : 0.0f};
            entry.roll_resist[k] = {fmaxf(f[1], 0.0f), fmaxf(f[2], 0.0f), k == 0 ? 1.0f : 0.0f};
        }
        entry.roost[0].mode = 1;
        entry.roost[0].texture = texture_load("@roost.png", 0);

        char texture[LINE_MAX + 1];
        snprintf(texture, sizeof texture, "@%s", name);
        load_ground_texture(&entry, texture);
        entry.name_key = copy_key(name);
        builder_add(&b, entry);
    }
    builder_finish(&b, "texturelist");
}
