#include "core/config.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bike/catalogue.h"
#include "core/bindings.h"
#include "core/messages.h"
#include "core/settings.h"
#include "files/datafs.h"
#include "files/stream.h"

rider_strings g_player_rider;

namespace {

const char* const k_no_yes[] = {"No", "Yes"};
const char* const k_skills[] = {"Novice", "Amateur", "Expert"};
const char* const k_slot_choices[] = {"Empty", "Human", "Robot", "Robot (2 stroke)", "Robot (4 stroke)"};
const char* const k_texture_dims[] = {"32x32", "64x64", "128x128", "256x256", "512x512", "1024x1024"};
const char* const k_compress[] = {"No", "Yes", "Always"};
const char* const k_render_methods[] = {"Software", "Hardware/Copy", "Hardware/Direct", "Shaders/Copy",
                                        "Shaders/Direct"};
const char* const k_playback_modes[] = {"Playback Only", "Race Against"};

const char* const k_default_bike = "yz250f(2017)";
const char* const k_default_server = "localhost";
// Setup files stay inside the setups folder.

// Lines longer than this are not settings anyone wrote: they are skipped.
enum { CONFIG_LINE_MAX = 4096 };

// ---- lists built at run time ----

std::vector<std::string> g_video_modes = {"Default Fullscreen", "Windowed"};

// The four graphics lists: rider, helmet, bike, wheels.
struct texture_lists {
    std::vector<std::string> names[TEXTURE_CHOICES];
    bool built = false;
    const char* const* files = nullptr;  // the data file list they came from
};
texture_lists g_textures;

const char* video_mode_name(int i)
{
    return i >= 0 && i < (int)g_video_modes.size() ? g_video_modes[i].c_str() : nullptr;
}
int video_mode_count()
{
    return (int)g_video_modes.size();
}

const char* bike_name(int i)
{
    return i >= 0 && i < BIKE_CATALOGUE_SIZE ? bike_catalogue()[i].name : nullptr;
}
int bike_count()
{
    return BIKE_CATALOGUE_SIZE;
}

const char* texture_entry(int k, int i)
{
    const std::vector<std::string>& v = g_textures.names[k];
    return i >= 0 && i < (int)v.size() ? v[i].c_str() : nullptr;
}
template <int K>
const char* texture_name(int i)
{
    return texture_entry(K, i);
}
template <int K>
int texture_count()
{
    return (int)g_textures.names[K].size();
}

// ---- the table ----

struct config_table {
    std::vector<setting> entries;
    int setup_begin = 0, setup_end = 0;  // the bike setup block
    int stability = -1;                  // index of "stability"
    int bike = -1;
    int textures[TEXTURE_CHOICES] = {-1, -1, -1, -1};
    char slot_keys[LINEUP_SETTINGS][8];
    char slot_labels[LINEUP_SETTINGS][12];
    char history_keys[SERVER_HISTORY][24];
};
config_table* g_table = nullptr;

setting make(const char* key, const char* label, setting_kind kind, void* value)
{
    setting s{};
    s.key = key;
    s.label = label;
    s.kind = kind;
    s.value = value;
    return s;
}

setting integer(const char* key, int* value, int lo = 0, int hi = 0)
{
    setting s = make(key, "", setting_integer, value);
    s.minimum = lo;
    s.maximum = hi;
    return s;
}

setting slider(const char* key, const char* label, double* value, double lo, double hi, double step)
{
    setting s = make(key, label, setting_slider, value);
    s.minimum = lo;
    s.maximum = hi;
    s.step = step;
    return s;
}

template <size_t N>
setting choice(const char* key, const char* label, int* value, const char* const (&list)[N])
{
    setting s = make(key, label, setting_choice, value);
    s.choices = list;
    s.choice_count = (int)N;
    return s;
}

setting dynamic_choice(const char* key, const char* label, int* value, const char* (*name)(int), int (*count)())
{
    setting s = make(key, label, setting_choice, value);
    s.choice_name = name;
    s.choice_count_of = count;
    return s;
}

setting text(const char* key, const char* label, char* value, int max, unsigned flags = 0)
{
    setting s = make(key, label, setting_text, value);
    s.text_max = max;
    s.flags = flags;
    return s;
}

void add_setup_block(config_table* t)
{
    std::vector<setting>& e = t->entries;
    t->setup_begin = (int)e.size();
    t->bike = (int)e.size();
    e.push_back(dynamic_choice("bike", "Bike", &g_settings.bike_model, bike_name, bike_count));
    e.push_back(text("name", "Name", g_player_rider.name, RIDER_NAME_MAX));
    e.push_back(text("number", "Number", g_player_rider.number, RIDER_NUMBER_MAX));
    static const char* const keys[TEXTURE_CHOICES] = {"rider_texture", "head_texture", "bike_texture",
                                                      "wheel_texture"};
    static const char* const labels[TEXTURE_CHOICES] = {"Riding Gear", "Helmet", "Bike Graphics",
                                                        "Wheel Graphics"};
    char* const texts[TEXTURE_CHOICES] = {g_player_rider.rider_texture, g_player_rider.head_texture,
                                          g_player_rider.bike_texture, g_player_rider.wheel_texture};
    const char* (*names[TEXTURE_CHOICES])(int) = {texture_name<0>, texture_name<1>, texture_name<2>,
                                                   texture_name<3>};
    int (*counts[TEXTURE_CHOICES])() = {texture_count<0>, texture_count<1>, texture_count<2>, texture_count<3>};
    for (int k = 0; k < TEXTURE_CHOICES; k++) {
        t->textures[k] = (int)e.size();
        setting s = dynamic_choice(keys[k], labels[k], &g_settings.texture_choice[k], names[k], counts[k]);
        s.flags = setting_pending_text;
        s.pending_text = texts[k];
        s.text_max = RIDER_TEXTURE_MAX;
        e.push_back(s);
    }
    // The stability value comes before the fifteen values its presets
    // derive, so a file read back keeps hand-edited derived values; the
    // choices sit between the stability values and the rest.
    int slider_count, choice_count;
    const setup_slider_info* sliders = setup_sliders(&slider_count);
    const setup_choice_info* choices = setup_choices(&choice_count);
    auto add_slider = [&](const setup_slider_info& i) {
        if (strcmp(i.key, "stability") == 0)
            t->stability = (int)e.size();
        e.push_back(slider(i.key, i.label, &(g_bike_setup.*i.field), i.minimum, i.maximum, i.step));
    };
    int next = 0;
    for (; next < slider_count; next++) {
        add_slider(sliders[next]);
        if (strcmp(sliders[next].key, "restricted_lock") == 0) {
            next++;
            break;
        }
    }
    for (int i = 0; i < choice_count; i++) {
        setting s = make(choices[i].key, choices[i].label, setting_choice, &(g_bike_setup.*choices[i].field));
        s.choices = choices[i].choices;
        s.choice_count = choices[i].choice_count;
        e.push_back(s);
    }
    for (; next < slider_count; next++)
        add_slider(sliders[next]);
    t->setup_end = (int)e.size();
}

void add_bindings(config_table* t)
{
    const binding_info* infos = binding_infos();
    for (int i = 0; i < BINDING_COUNT; i++)
        t->entries.push_back(make(infos[i].config_key, infos[i].label, setting_binding, &g_bindings.entries[i]));
}

config_table* build_table()
{
    config_table* t = new config_table();
    std::vector<setting>& e = t->entries;
    game_settings& g = g_settings;
    e.push_back(integer("xres", &g.xres));
    e.push_back(integer("yres", &g.yres));
    e.push_back(integer("draw_fps", &g.draw_fps));
    e.push_back(integer("draw_time", &g.draw_time));
    e.push_back(integer("draw_ping", &g.draw_ping));
    e.push_back(integer("draw_speed", &g.draw_speed));
    e.push_back(integer("spy", &g.spy));
    e.push_back(text("track", "", g.track, (int)sizeof g.track - 1));
    e.push_back(choice("record", "Record Demo", &g.record, k_no_yes));
    e.push_back(choice("skill", "Robot Skill", &g.skill, k_skills));
    e.push_back(slider("minutes", "Minutes", &g.minutes, 0, 60, 1));
    e.push_back(slider("laps", "Laps", &g.laps, 0, 50, 1));
    for (int i = 0; i < LINEUP_SETTINGS; i++) {
        snprintf(t->slot_keys[i], sizeof t->slot_keys[i], "slot%02d", i);
        snprintf(t->slot_labels[i], sizeof t->slot_labels[i], "Gate %d", i + 1);
        e.push_back(choice(t->slot_keys[i], t->slot_labels[i], &g.slots[i], k_slot_choices));
    }
    e.push_back(slider("ghost_fade_distance", "Ghost Fade Distance", &g.ghost_fade_distance, 0, 40, 1));
    e.push_back(choice("time_trial_abort", "Backing Up Aborts Attempt", &g.time_trial_abort, k_no_yes));
    add_setup_block(t);
    e.push_back(dynamic_choice("video_mode", "Video Mode", &g.video_mode, video_mode_name, video_mode_count));
    e.push_back(text("server_name", "Server", g.server_name, SERVER_NAME_MAX));
    for (int i = 0; i < SERVER_HISTORY; i++) {
        snprintf(t->history_keys[i], sizeof t->history_keys[i], "server_name_hist%02d", i);
        e.push_back(text(t->history_keys[i], "", g.server_history[i], SERVER_NAME_MAX - 1, setting_refuse_long));
    }
    e.push_back(slider("ground_detail", "Ground Geometric Detail", &g.ground_detail, 0, 100, 1));
    e.push_back(slider("ground_texture_detail", "Ground Texture Levels", &g.ground_texture_detail, 0, 10, 1));
    e.push_back(choice("ground_texture_dim", "Ground Texture Resolution", &g.ground_texture_dim, k_texture_dims));
    e.push_back(choice("ground_mipmaps", "Enable Ground Mipmaps", &g.ground_mipmaps, k_no_yes));
    e.push_back(choice("texture_compress", "Compress Textures", &g.texture_compress, k_compress));
    e.push_back(choice("render_texture", "Terrain Rendering Method", &g.render_texture, k_render_methods));
    e.push_back(choice("use_shader", "Use Shader Programs", &g.use_shader, k_no_yes));
    e.push_back(slider("roost_density", "Roost Density", &g.roost_density, 0, 1000, 10));
    e.push_back(choice("lens_flare", "Enable Lens Flares", &g.lens_flare, k_no_yes));
    e.push_back(choice("reflections", "Enable Reflections", &g.reflections, k_no_yes));
    e.push_back(choice("hide_rider", "Hide 1st Person Rider", &g.hide_rider, k_no_yes));
    e.push_back(choice("rigid_camera", "Rigid 3rd person camera", &g.rigid_camera, k_no_yes));
    e.push_back(slider("model_detail", "Model Geometric Detail", &g.model_detail, 0, 100, 1));
    e.push_back(slider("model_texture_detail", "Model Texture Detail", &g.model_texture_detail, 0, 10, 1));
    e.push_back(slider("fov", "Field Of View", &g.fov, 10, 170, 1));
    e.push_back(slider("first_person_height", "1st Person Height", &g.first_person_height, 0, 1, 0.03125));
    e.push_back(slider("first_person_angle", "1st Person Angle", &g.first_person_angle, 0, 40, 1));
    e.push_back(slider("third_person_height", "3rd Person Height", &g.third_person_height, 0, 20, 1));
    e.push_back(slider("third_person_distance", "3rd Person Distance", &g.third_person_distance, 5, 40, 1));
    e.push_back(slider("volume", "Volume", &g.volume, 0, 10, 1));
    e.push_back(slider("comp_volume", "Competitor Volume", &g.comp_volume, 0, 10, 1));
    e.push_back(choice("playback_mode", "Playback Mode", &g.playback_mode, k_playback_modes));
    e.push_back(integer("billboard_optimize_lookahead", &g.billboard_optimize_lookahead));
    // More visible lines than the ring holds would show lines twice.
    e.push_back(integer("message_lines", &g.message_lines, 0, MESSAGE_RING));
    e.push_back(integer("demo_backups", &g.demo_backups));
    setting map = make("map_scale", "", setting_number, &g.map_scale);
    map.minimum = 0.125;
    map.maximum = 8;
    e.push_back(map);
    add_bindings(t);
    return t;
}

config_table& table()
{
    if (!g_table)
        g_table = build_table();
    return *g_table;
}

int index_of(const setting* s)
{
    return s ? (int)(s - table().entries.data()) : -1;
}

double clamp_to(double v, double lo, double hi)
{
    return v < lo ? lo : (v > hi ? hi : v);
}

void copy_text(char* dst, size_t size, const char* src)
{
    snprintf(dst, size, "%s", src ? src : "");
}

int find_choice(const setting* s, const char* value)
{
    const int n = setting_choice_count(s);
    for (int i = 0; i < n; i++) {
        const char* name = setting_choice_name(s, i);
        if (name && strcmp(name, value) == 0)
            return i;
    }
    return -1;
}

// ---- graphics textures ----

// The name of a file without its folders.
const char* base_name(const char* name)
{
    const char* slash = strrchr(name, '/');
    return slash ? slash + 1 : name;
}

bool is_picture(const char* name)
{
    const char* dot = strrchr(name, '.');
    return dot && (strcasecmp(dot, ".png") == 0 || strcasecmp(dot, ".ppm") == 0 || strcasecmp(dot, ".pgm") == 0);
}

// The bike graphics of a model are named after its texture: "@yz250f.png"
// has the variants "yz250f-....png".
std::string bike_texture_prefix(const bike_params* p)
{
    std::string stem = base_name(p->bike_texture ? p->bike_texture : "");
    if (!stem.empty() && stem[0] == '@')
        stem.erase(0, 1);
    const size_t dot = stem.rfind('.');
    if (dot != std::string::npos)
        stem.resize(dot);
    return stem + "-";
}

void fill_texture_list(int k, const char* const* files)
{
    const bike_params* p = &bike_catalogue()[g_settings.bike_model];
    std::vector<std::string>& list = g_textures.names[k];
    list.clear();
    const char* defaults[TEXTURE_CHOICES] = {p->rider_texture, p->head_texture, p->bike_texture, p->wheel_texture};
    const std::string prefix = k == 0 ? "rider_body-" : k == 1 ? "rider_head-" : k == 2 ? bike_texture_prefix(p) : "wheels-";
    if (defaults[k] && defaults[k][0])
        list.push_back(defaults[k]);
    for (const char* const* f = files; f && *f; f++) {
        const char* base = base_name(*f);
        if (strncasecmp(base, prefix.c_str(), prefix.size()) == 0 && is_picture(base))
            list.push_back(std::string("@") + *f);
    }
}

// Selects the entry a texture setting's text names; an unknown name keeps
// its text and selects nothing, so the bike falls back to its own graphics.
void match_texture(int k)
{
    const config_table& t = table();
    const setting& s = t.entries[t.textures[k]];
    int* index = (int*)s.value;
    // With no name kept the bike wears its model's own graphics, which is
    // the first entry of every list.
    if (!g_textures.built)
        *index = -1;
    else if (!s.pending_text[0])
        *index = setting_choice_count(&s) > 0 ? 0 : -1;
    else
        *index = find_choice(&s, s.pending_text);
}

void sync_bike_model()
{
    copy_text(g_player_rider.model, sizeof g_player_rider.model, bike_name(g_settings.bike_model));
}

// ---- line reading ----

// Reads one line into buffer; a line too long for it is skipped whole.
// False at the end of the file.
bool read_line(data_stream* s, char* buffer, int size)
{
    for (;;) {
        if (!stream_gets(s, buffer, size))
            return false;
        const size_t n = strlen(buffer);
        if (n + 1 < (size_t)size || buffer[n - 1] == '\n')
            return true;
        // The rest of an overlong line.
        char rest[256];
        bool ended = false;
        while (!ended && stream_gets(s, rest, sizeof rest)) {
            const size_t m = strlen(rest);
            ended = m > 0 && rest[m - 1] == '\n';
        }
        if (!ended)
            return false;
    }
}

// Splits "key=value" in place; trailing CR and LF leave the value. False
// for a line without '='.
bool split_line(char* line, const char** key, const char** value)
{
    char* eq = strchr(line, '=');
    if (!eq)
        return false;
    *eq = 0;
    char* v = eq + 1;
    size_t n = strlen(v);
    while (n > 0 && (v[n - 1] == '\r' || v[n - 1] == '\n'))
        v[--n] = 0;
    *key = line;
    *value = v;
    return true;
}

bool read_config_line(const char* key, const char* value)
{
    if (read_setup_line(key, value))
        return true;
    if (strcmp(key, "use_fbo") == 0) {
        // An older form of the terrain method: frame buffers meant drawing
        // the ground's textures directly.
        if (strcmp(value, "No") == 0)
            g_settings.render_texture = 1;
        else if (strcmp(value, "Yes") == 0)
            g_settings.render_texture = 2;
        return true;
    }
    const setting* s = find_setting(key);
    if (!s)
        return false;
    const int i = index_of(s);
    if (i >= table().setup_begin && i < table().setup_end)
        return false;
    setting_parse(s, value);
    return true;
}

bool write_lines(data_stream* s, int begin, int end)
{
    const config_table& t = table();
    char value[2048];
    bool ok = true;
    for (int i = begin; i < end; i++) {
        const setting& e = t.entries[i];
        if (!setting_format(&e, value, sizeof value))
            continue;
        if (stream_printf(s, "%s=%s\n", e.key, value) < 0)
            ok = false;
    }
    return ok;
}

struct line_range {
    int begin, end;
};

bool write_range(data_stream* s, void* context)
{
    const line_range* r = (const line_range*)context;
    return write_lines(s, r->begin, r->end);
}

// Writes lines [begin, end) of the table into a new file beside name and
// renames it over name.
bool write_settings_file(const char* name, int begin, int end)
{
    line_range r = {begin, end};
    return replace_data_file(name, write_range, &r);
}

// The name of a setup file with blanks around it removed.
std::string trimmed(const char* name)
{
    const char* p = name ? name : "";
    while (*p == ' ' || *p == '\t')
        p++;
    std::string s = p;
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n'))
        s.pop_back();
    return s;
}

struct graphics_preset {
    const char* button;
    const char* name;
    double ground_detail;
    int ground_texture_dim, ground_mipmaps, texture_compress, render_texture;
    double ground_texture_detail;
    int use_shader, lens_flare, reflections;
    double model_detail, model_texture_detail, roost_density;
};

const graphics_preset k_presets[GRAPHICS_PRESETS] = {
    {"Use Compatibility Settings", "Compatibility", 70, 1, 1, 0, 0, 9, 1, 1, 1, 50, 9, 1000},
    {"Use High FPS Settings", "High FPS", 50, 1, 1, 1, 2, 7, 0, 0, 0, 25, 7, 0},
    {"Use Normal Settings", "Normal", 70, 2, 1, 1, 4, 9, 1, 1, 1, 50, 9, 1000},
    {"Use High Detail Settings", "High Detail", 90, 3, 1, 0, 4, 10, 1, 1, 1, 75, 10, 1000},
};

}  // namespace

// ---- the table ----

const setting* settings_table(int* count)
{
    config_table& t = table();
    if (count)
        *count = (int)t.entries.size();
    return t.entries.data();
}

const setting* find_setting(const char* key)
{
    if (!key)
        return nullptr;
    for (const setting& s : table().entries)
        if (strcmp(s.key, key) == 0)
            return &s;
    return nullptr;
}

int setting_choice_count(const setting* s)
{
    if (!s || s->kind != setting_choice)
        return 0;
    return s->choice_count_of ? s->choice_count_of() : s->choice_count;
}

const char* setting_choice_name(const setting* s, int index)
{
    if (index < 0 || index >= setting_choice_count(s))
        return nullptr;
    return s->choice_name ? s->choice_name(index) : s->choices[index];
}

bool setting_parse(const setting* s, const char* value)
{
    if (!s || !value)
        return false;
    switch (s->kind) {
    case setting_integer: {
        int v;
        if (sscanf(value, "%d", &v) != 1)
            return false;
        if (s->minimum < s->maximum)
            v = (int)clamp_to(v, s->minimum, s->maximum);
        *(int*)s->value = v;
        break;
    }
    case setting_number:
    case setting_slider: {
        double v;
        if (sscanf(value, "%lf", &v) != 1 || !std::isfinite(v))
            return false;
        *(double*)s->value = clamp_to(v, s->minimum, s->maximum);
        break;
    }
    case setting_text: {
        if ((s->flags & setting_refuse_long) && strlen(value) > (size_t)s->text_max)
            return false;
        copy_text((char*)s->value, (size_t)s->text_max + 1, value);
        break;
    }
    case setting_choice: {
        if (s->flags & setting_pending_text) {
            // Kept as text until (and after) the list exists.
            copy_text(s->pending_text, (size_t)s->text_max + 1, value);
            const int k = index_of(s) - table().textures[0];
            match_texture(k);
            return true;
        }
        const char* name = index_of(s) == table().bike ? bike_alias(value) : value;
        const int i = find_choice(s, name);
        if (i < 0)
            return false;
        *(int*)s->value = i;
        break;
    }
    case setting_binding: {
        menu_binding* b = (menu_binding*)s->value;
        const char* p = value;
        while (*p == ' ' || *p == '\t')
            p++;
        float low, high;
        if (strncmp(p, "(k)", 3) == 0) {
            binding_set_key(b, p + 3);
        } else if (p[0] == '(' && sscanf(p, "(%f,%f)", &low, &high) == 2 && strchr(p, ')')) {
            if (!std::isfinite(low) || !std::isfinite(high))
                return false;
            binding_set_axis(b, strchr(p, ')') + 1, low, high);
        } else {
            binding_set_key(b, p);
        }
        break;
    }
    }
    setting_changed(s);
    return true;
}

bool setting_format(const setting* s, char* out, size_t size)
{
    if (!s || !out || size == 0)
        return false;
    int n = -1;
    switch (s->kind) {
    case setting_integer:
        n = snprintf(out, size, "%d", *(const int*)s->value);
        break;
    case setting_number:
    case setting_slider:
        n = snprintf(out, size, "%f", *(const double*)s->value);
        break;
    case setting_text:
        n = snprintf(out, size, "%s", (const char*)s->value);
        break;
    case setting_choice: {
        const char* name = setting_choice_name(s, *(const int*)s->value);
        if (!name && (s->flags & setting_pending_text))
            name = s->pending_text;
        if (!name)
            return false;
        n = snprintf(out, size, "%s", name);
        break;
    }
    case setting_binding: {
        const menu_binding* b = (const menu_binding*)s->value;
        if (b->axis_name[0])
            n = snprintf(out, size, "(%f,%f)%s", b->low, b->high, b->axis_name);
        else if (b->key_name[0])
            n = snprintf(out, size, "(k)%s", b->key_name);
        else
            return false;
        break;
    }
    }
    return n >= 0 && (size_t)n < size;
}

void setting_changed(const setting* s)
{
    const config_table& t = table();
    const int i = index_of(s);
    if (i < 0 || i >= (int)t.entries.size())
        return;
    if (i == t.stability) {
        apply_stability(&g_bike_setup, g_bike_setup.stability);
    } else if (i == t.bike) {
        sync_bike_model();
        // Each model has graphics of its own.
        if (g_textures.built) {
            fill_texture_list(2, g_textures.files);
            match_texture(2);
        }
    } else {
        for (int k = 0; k < TEXTURE_CHOICES; k++) {
            if (i != t.textures[k])
                continue;
            // A choice made in the menus becomes the name the file keeps.
            const char* name = setting_choice_name(s, *(const int*)s->value);
            if (name)
                copy_text(s->pending_text, (size_t)s->text_max + 1, name);
        }
    }
}

// ---- graphics presets ----

const char* graphics_preset_button(int preset)
{
    return preset >= 0 && preset < GRAPHICS_PRESETS ? k_presets[preset].button : "";
}

const char* graphics_preset_name(int preset)
{
    return preset >= 0 && preset < GRAPHICS_PRESETS ? k_presets[preset].name : "Custom";
}

void apply_graphics_preset(int preset)
{
    if (preset < 0 || preset >= GRAPHICS_PRESETS)
        return;
    const graphics_preset& p = k_presets[preset];
    game_settings& g = g_settings;
    g.ground_detail = p.ground_detail;
    g.ground_texture_dim = p.ground_texture_dim;
    g.ground_mipmaps = p.ground_mipmaps;
    g.texture_compress = p.texture_compress;
    g.render_texture = p.render_texture;
    g.ground_texture_detail = p.ground_texture_detail;
    g.use_shader = p.use_shader;
    g.lens_flare = p.lens_flare;
    g.reflections = p.reflections;
    g.model_detail = p.model_detail;
    g.model_texture_detail = p.model_texture_detail;
    g.roost_density = p.roost_density;
}

int current_graphics_preset()
{
    const game_settings& g = g_settings;
    for (int i = 0; i < GRAPHICS_PRESETS; i++) {
        const graphics_preset& p = k_presets[i];
        if (g.ground_detail == p.ground_detail && g.ground_texture_dim == p.ground_texture_dim &&
            g.ground_mipmaps == p.ground_mipmaps && g.texture_compress == p.texture_compress &&
            g.render_texture == p.render_texture && g.ground_texture_detail == p.ground_texture_detail &&
            g.use_shader == p.use_shader && g.lens_flare == p.lens_flare && g.reflections == p.reflections &&
            g.model_detail == p.model_detail && g.model_texture_detail == p.model_texture_detail &&
            g.roost_density == p.roost_density)
            return i;
    }
    return -1;
}

// ---- run-time lists ----

void set_video_mode_names(const char* const* names, int count)
{
    g_video_modes.clear();
    for (int i = 0; i < count; i++)
        g_video_modes.push_back(names[i]);
    if (g_settings.video_mode >= (int)g_video_modes.size())
        g_settings.video_mode = 0;
}

void build_texture_lists(const char* const* files)
{
    g_textures.files = files;
    g_textures.built = files != nullptr;
    for (int k = 0; k < TEXTURE_CHOICES; k++) {
        if (files)
            fill_texture_list(k, files);
        else
            g_textures.names[k].clear();
        match_texture(k);
    }
}

// ---- the player's rider ----

rider_strings player_rider_strings()
{
    rider_strings r = g_player_rider;
    copy_text(r.model, sizeof r.model, bike_name(g_settings.bike_model));
    char* texts[TEXTURE_CHOICES] = {r.rider_texture, r.head_texture, r.bike_texture, r.wheel_texture};
    for (int k = 0; k < TEXTURE_CHOICES; k++) {
        if (const char* name = texture_entry(k, g_settings.texture_choice[k]))
            copy_text(texts[k], RIDER_TEXTURE_MAX + 1, name);
    }
    return r;
}

// ---- start-up defaults ----

void config_set_defaults()
{
    table();
    g_settings = game_settings();
    copy_text(g_settings.server_name, sizeof g_settings.server_name, k_default_server);
    g_bike_setup = bike_setup();
    g_player_rider = default_player_strings();
    for (int i = 0; i < BIKE_CATALOGUE_SIZE; i++)
        if (strcmp(bike_name(i), k_default_bike) == 0)
            g_settings.bike_model = i;
    sync_bike_model();
    apply_stability(&g_bike_setup, g_bike_setup.stability);
    apply_graphics_preset(0);
    bindings_set_defaults(&g_bindings);
    if (g_textures.built)
        build_texture_lists(g_textures.files);
}

// ---- files ----

bool read_setup_line(const char* key, const char* value)
{
    if (!key || !value)
        return false;
    const config_table& t = table();
    for (int i = t.setup_begin; i < t.setup_end; i++) {
        if (strcmp(t.entries[i].key, key) == 0) {
            setting_parse(&t.entries[i], value);
            return true;
        }
    }
    return false;
}

void write_setup(data_stream* s)
{
    write_lines(s, table().setup_begin, table().setup_end);
}

void read_config_stream(data_stream* s)
{
    char line[CONFIG_LINE_MAX];
    while (read_line(s, line, sizeof line)) {
        const char* key;
        const char* value;
        if (split_line(line, &key, &value))
            read_config_line(key, value);
    }
}

bool read_config(const char* name)
{
    data_stream* s = open_data_file(name, "rb");
    if (!s)
        return false;
    read_config_stream(s);
    close_data_file(s);
    return true;
}

bool write_config(const char* name)
{
    return write_settings_file(name, 0, (int)table().entries.size());
}

bool refuse_file_name(const char* name, const char* what)
{
    const char* problem = file_name_problem(name);
    if (!problem)
        return false;
    if (strlen(name) > SAFE_FILE_NAME_MAX)
        add_message("%s names may not be longer than %d bytes", what, (int)SAFE_FILE_NAME_MAX);
    else if (strstr(problem, "control"))
        add_message("%s names may not hold control characters", what);
    else
        add_message("%s names may not be empty or hold '/', '\\' or '..'", what);
    return true;
}

bool read_setup_file(const char* name)
{
    const std::string n = trimmed(name);
    if (refuse_file_name(n.c_str(), "Setup"))
        return false;
    data_stream* s = open_data_file(("@setups/" + n).c_str(), "rb");
    if (!s) {
        add_message("Error reading setup");
        return false;
    }
    char line[CONFIG_LINE_MAX];
    while (read_line(s, line, sizeof line)) {
        const char* key;
        const char* value;
        if (split_line(line, &key, &value))
            read_setup_line(key, value);
    }
    close_data_file(s);
    // The bike may have changed: its graphics list first, then every name.
    if (g_textures.built) {
        fill_texture_list(2, g_textures.files);
        for (int k = 0; k < TEXTURE_CHOICES; k++)
            match_texture(k);
    }
    add_message("Setup updated");
    return true;
}

bool write_setup_file(const char* name)
{
    const std::string n = trimmed(name);
    if (refuse_file_name(n.c_str(), "Setup"))
        return false;
    const bool ok = write_settings_file(("@setups/" + n).c_str(), table().setup_begin, table().setup_end);
    add_message(ok ? "Setup written" : "Error writing setup");
    return ok;
}
