#include "core/console.h"

#include <cctype>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "audio/engine_sound.h"
#include "bike/bike.h"
#include "bike/catalogue.h"
#include "core/config.h"
#include "core/frame_timing.h"
#include "core/key_frames.h"
#include "core/messages.h"
#include "core/settings.h"
#include "files/datafs.h"
#include "files/stream.h"
#include "net/client.h"
#include "race/demo.h"
#include "race/world.h"
#include "track/timing_gates.h"
#include "track/track.h"

namespace {

// A chat line sooner than this after the last one is refused.
constexpr double CHAT_INTERVAL = 2.0;
constexpr double DEGREES = 3.14159265358979323846 / 180.0;

struct console_state {
    double last_chat = -1e30;
    char history[CONSOLE_HISTORY][CONSOLE_LINE_MAX + 1] = {};
    int count = 0;  // lines held, at most CONSOLE_HISTORY
    int next = 0;   // ring index of the next line
};
console_state g_console;

void remember_line(const char* line)
{
    snprintf(g_console.history[g_console.next], sizeof g_console.history[0], "%s", line);
    g_console.next = (g_console.next + 1) % CONSOLE_HISTORY;
    if (g_console.count < CONSOLE_HISTORY)
        g_console.count++;
}

void toggle_reply(const char* what, bool on)
{
    add_message(on ? "%.60s ON" : "%.60s OFF", what);
}

void toggle_int(int* value, const char* what)
{
    *value = !*value;
    toggle_reply(what, *value != 0);
}

// The argument of a command: the text after the word, trailing blanks and
// line ends removed, leading blanks skipped.
std::string trimmed(const char* text)
{
    while (*text == ' ' || *text == '\t')
        text++;
    std::string s = text;
    while (!s.empty() && isspace((unsigned char)s.back()))
        s.pop_back();
    return s;
}

// Names given to file commands stay inside their folders.
bool refuse_name(const std::string& name, const char* what)
{
    return refuse_file_name(name.c_str(), what);
}

// ---- chat ----

bool chat(const char* text, const console_context& c)
{
    if (sim_clock <= g_console.last_chat + CHAT_INTERVAL) {
        add_message("No one likes a spammer");
        return false;
    }
    g_console.last_chat = sim_clock;
    if (c.net && net_connected(c.net))
        net_chat(c.net, text);
    else
        add_message("Not connected to server");
    return true;
}

// ---- commands ----

bool track_loaded(const console_context& c)
{
    return c.w && c.w->track.loaded;
}

bool save_track_info(const console_context& c)
{
    if (!track_loaded(c)) {
        add_message("No track loaded");
        return true;
    }
    track& t = c.w->track;
    save_trackinfo(t.dir, track_display_name(t.dir), &t.timing_gates, t.digest);
    return true;
}

bool render_stats(const console_context& c)
{
    if (!c.render_stats) {
        add_message("Render statistics are not available");
        return true;
    }
    *c.render_stats = 1;
    if (c.reset_render_stats)
        c.reset_render_stats(c.hook_context);
    return true;
}

bool toggle_graph(const console_context& c)
{
    if (!c.suspension_graph) {
        add_message("Suspension graph is not available");
        return true;
    }
    *c.suspension_graph = !*c.suspension_graph;
    toggle_reply("Suspension graph", *c.suspension_graph);
    return true;
}

bool billboard_lookahead(const char* arg)
{
    int n;
    if (sscanf(arg, "%d", &n) == 1)
        g_settings.billboard_optimize_lookahead = n;
    add_message("Billboard optimization window is now %d", g_settings.billboard_optimize_lookahead);
    return true;
}

// The exhaust of the watched bike's engine sound. Numbers left out take
// the defaults of the bike's class.
bool pipe(const char* arg, const console_context& c)
{
    if (!c.watched_bike)
        return false;
    float a, b, d;
    int e, f;
    default_pipe(c.watched_bike->params.class_name, &a, &b, &d, &e, &f);
    sscanf(arg, "%f %f %f %d %d", &a, &b, &d, &e, &f);
    if (!c.watched_sound) {
        add_message("Engine sound is off");
        return true;
    }
    if (!pipe_setup(c.watched_sound, a, b, d, e, f)) {
        add_message("Bad pipe values");
        return true;
    }
    add_message("Pipe updated");
    return true;
}

bool name_demo(const char* arg, const console_context& c)
{
    if (!c.w || !demo_recording(c.w)) {
        add_message("Not currently recording a demo");
        return true;
    }
    // The name ends at the first blank; it must stay inside the demos folder.
    const std::string rest = trimmed(arg);
    const std::string name = rest.substr(0, rest.find_first_of(" \t"));
    if (!name.empty() && name.size() <= 1016 && refuse_name(name, "Demo"))
        return true;
    namedemo_command(c.w, arg);
    return true;
}

bool cam_angle(const char* arg, const console_context& c)
{
    if (!c.watched_bike || !c.free_camera)
        return false;
    float yaw, pitch;
    if (sscanf(arg, "%f %f", &yaw, &pitch) != 2 || !std::isfinite(yaw) || !std::isfinite(pitch)) {
        add_message("Usage: camangle <yaw> <pitch>");
        return true;
    }
    c.free_camera->yaw = (float)(yaw * DEGREES);
    c.free_camera->pitch = (float)(pitch * DEGREES);
    c.free_camera->yaw_rate = 0;
    c.free_camera->pitch_rate = 0;
    add_message("Camera aimed");
    return true;
}

bool field_of_view(const char* arg)
{
    if (!setting_parse(find_setting("fov"), arg)) {
        add_message("Usage: fov <degrees>");
        return true;
    }
    add_message("fov set");
    return true;
}

bool fps_histogram(const console_context& c)
{
    if (!c.timer) {
        add_message("No frame times");
        return true;
    }
    char text[256];
    size_t used = 0;
    text[0] = 0;
    for (int k = 0; k < 8; k++) {
        const int n = snprintf(text + used, sizeof text - used, "%d=%d ", 128 >> k, (int)c.timer->histogram[k]);
        if (n > 0 && (size_t)n < sizeof text - used)
            used += (size_t)n;
        c.timer->histogram[k] = 0;
    }
    add_message("%s", text);
    return true;
}

bool force_reload(const console_context& c)
{
    if (c.w)
        c.w->race.force_reload = true;
    add_message("Track will be reloaded on next restart");
    return true;
}

bool read_setup(const char* arg, const console_context& c)
{
    if (!read_setup_file(arg))
        return true;
    if (c.setup_changed)
        *c.setup_changed = true;
    if (c.watched_is_own && c.watched_bike)
        apply_bike_setup(c.watched_bike, &g_bike_setup, c.no_arcade);
    return true;
}

int current_tick(const console_context& c)
{
    return c.w ? c.w->race.tick : 0;
}

bool add_key(const console_context& c)
{
    if (!c.key_frames || !c.free_camera)
        return false;
    camera_key k;
    k.position = c.free_camera->position;
    key_rotation_from_yaw_pitch(c.free_camera->yaw, c.free_camera->pitch, k.rotation);
    k.fov = (float)g_settings.fov;
    k.tick = current_tick(c);
    key_frames_insert(c.key_frames, k);
    add_message("Keyframe added");
    return true;
}

bool delete_key(const console_context& c)
{
    if (!c.key_frames)
        return false;
    std::vector<camera_key>& keys = c.key_frames->keys;
    if (keys.empty()) {
        add_message("No keyframes to delete");
        return true;
    }
    const int now = current_tick(c);
    size_t i = 0;
    while (i < keys.size() && keys[i].tick <= now)
        i++;
    if (i == keys.size())
        i = keys.size() - 1;
    keys.erase(keys.begin() + (long)i);
    add_message("Keyframe deleted");
    return true;
}

bool clear_keys(const console_context& c)
{
    if (!c.key_frames)
        return false;
    c.key_frames->keys.clear();
    add_message("Keyframes cleared");
    return true;
}

bool list_keys(const console_context& c)
{
    if (!c.key_frames)
        return false;
    for (const camera_key& k : c.key_frames->keys)
        add_message("pos = { %.2f, %.2f, %.2f }, rot = { %.2f, %.2f, %.2f, %.2f }, time = %.2f", k.position.x,
                    k.position.y, k.position.z, k.rotation[0], k.rotation[1], k.rotation[2], k.rotation[3],
                    k.tick * TICK_SECONDS);
    return true;
}

// Makes a key read from a file usable: finite numbers, a position within
// a million feet (the spline between keys multiplies positions, and one
// near the float limit would put the camera at infinity between them), a
// field of view inside 0..180 degrees and a rotation turned into a unit
// quaternion (the path normalises between keys, but before the first and
// after the last it shows a key as stored). False when it cannot be.
bool usable_key(camera_key* k)
{
    double norm = 0;
    for (float v : {k->position.x, k->position.y, k->position.z, k->rotation[0], k->rotation[1], k->rotation[2],
                    k->rotation[3]}) {
        if (!std::isfinite(v))
            return false;
    }
    for (float v : {k->position.x, k->position.y, k->position.z})
        if (std::fabs(v) > 1e6f)
            return false;
    for (float r : k->rotation)
        norm += (double)r * r;
    norm = std::sqrt(norm);
    if (!(norm > 0) || !std::isfinite(norm) || !(k->fov > 0 && k->fov < 180))
        return false;
    for (float& r : k->rotation)
        r = (float)(r / norm);
    return true;
}

bool read_keys(const char* arg, const console_context& c)
{
    if (!c.key_frames)
        return false;
    const std::string name = trimmed(arg);
    if (refuse_name(name, "Camera key file"))
        return true;
    data_stream* s = open_data_file(("@keycam/" + name).c_str(), "rb");
    if (!s) {
        add_message("Error reading camera keys");
        return true;
    }
    c.key_frames->keys.clear();
    bool ok = true;
    char line[512];
    while (stream_gets(s, line, sizeof line)) {
        camera_key k;
        long long tick = 0;
        // "nan" and "inf" scan as numbers; either would put the camera
        // nowhere, a field of view outside 0..180 degrees has no projection
        // and a zero rotation no direction. Such a line is as broken as one
        // that does not read, and so is a tick past an int.
        if (sscanf(line, "%f %f %f %f %f %f %f %f %lld", &k.position.x, &k.position.y, &k.position.z, &k.rotation[0],
                   &k.rotation[1], &k.rotation[2], &k.rotation[3], &k.fov, &tick) != 9 ||
            tick < INT_MIN || tick > INT_MAX || !usable_key(&k)) {
            ok = false;
            break;
        }
        k.tick = (int)tick;
        key_frames_insert(c.key_frames, k);
    }
    close_data_file(s);
    add_message(ok ? "Camera keys updated" : "Error reading camera keys");
    return true;
}

bool write_key_lines(data_stream* s, void* context)
{
    const key_frame_list* list = (const key_frame_list*)context;
    for (const camera_key& k : list->keys) {
        if (stream_printf(s, "%.4f %.4f %.4f %.4f %.4f %.4f %.4f %.2f %d\n", k.position.x, k.position.y,
                          k.position.z, k.rotation[0], k.rotation[1], k.rotation[2], k.rotation[3], k.fov,
                          k.tick) < 0)
            return false;
    }
    return true;
}

bool write_keys(const char* arg, const console_context& c)
{
    if (!c.key_frames)
        return false;
    const std::string name = trimmed(arg);
    if (refuse_name(name, "Camera key file"))
        return true;
    const bool ok = replace_data_file(("@keycam/" + name).c_str(), write_key_lines, c.key_frames);
    add_message(ok ? "Camera keys saved" : "Error saving camera keys");
    return true;
}

bool toggle_keycam(const console_context& c)
{
    if (!c.key_frames)
        return false;
    c.key_frames->keycam = !c.key_frames->keycam;
    toggle_reply("Keycam mode", c.key_frames->keycam);
    return true;
}

bool list_files(const char* arg)
{
    const std::string pattern = trimmed(arg);
    std::string lower_pattern = pattern;
    for (char& ch : lower_pattern)
        ch = (char)tolower((unsigned char)ch);
    for (const char* const* f = build_file_index(); f && *f; f++) {
        std::string lower = *f;
        for (char& ch : lower)
            ch = (char)tolower((unsigned char)ch);
        if (lower.find(lower_pattern) != std::string::npos)
            add_message("%s", *f);
    }
    return true;
}

bool message_lines(const char* arg)
{
    setting_parse(find_setting("message_lines"), arg);
    g_messages.max_visible = g_settings.message_lines;
    if (g_messages.visible > g_messages.max_visible)
        g_messages.visible = g_messages.max_visible;
    add_message("Maximum showing messages is now %d", g_settings.message_lines);
    return true;
}

bool demo_backups(const char* arg, const console_context& c)
{
    setting_parse(find_setting("demo_backups"), arg);
    if (c.w)
        c.w->settings.demo_backups = g_settings.demo_backups;
    add_message("Now keeping %d demo backups", g_settings.demo_backups);
    return true;
}

bool map_scale(const char* arg)
{
    setting_parse(find_setting("map_scale"), arg);
    add_message("Map scale set to %f", g_settings.map_scale);
    return true;
}

bool terrain_volume(const console_context& c)
{
    if (!track_loaded(c)) {
        add_message("No track loaded");
        return true;
    }
    const heightfield& hf = c.w->track.heightfield;
    double sum = 0;
    const long n = (long)hf.sample_count * hf.sample_count;
    for (long i = 0; i < n; i++)
        sum += hf.heights[i];
    add_message("%f\n", sum);
    return true;
}

// ---- matching ----

// "exact": the whole rest of the line.
bool exact(const char* rest, const char* word)
{
    return strcmp(rest, word) == 0;
}

// "prefix": the line starts with the word; the argument follows it and one
// separator character.
bool prefix(const char* rest, const char* word, const char** arg)
{
    const size_t n = strlen(word);
    if (strncmp(rest, word, n) != 0)
        return false;
    *arg = rest[n] ? rest + n + 1 : rest + n;
    return true;
}

// "word": after leading blanks, the word followed by a blank or the end.
bool word(const char* rest, const char* w, const char** arg)
{
    while (*rest == ' ' || *rest == '\t')
        rest++;
    const size_t n = strlen(w);
    if (strncmp(rest, w, n) != 0 || (rest[n] && rest[n] != ' ' && rest[n] != '\t'))
        return false;
    *arg = rest + n;
    return true;
}

bool command(const char* rest, const console_context& c)
{
    const char* a = nullptr;
    if (exact(rest, "savetrackinfo")) return save_track_info(c);
    if (exact(rest, "renderstats")) return render_stats(c);
    if (exact(rest, "togglespy")) {
        toggle_int(&g_settings.spy, "Spy mode");
        return true;
    }
    if (exact(rest, "togglegraph")) return toggle_graph(c);
    if (prefix(rest, "bbopt", &a)) return billboard_lookahead(a);
    if (prefix(rest, "pipe", &a)) return pipe(a, c);
    if (prefix(rest, "namedemo", &a)) return name_demo(a, c);
    if (prefix(rest, "camangle", &a)) return cam_angle(a, c);
    if (prefix(rest, "fov", &a)) return field_of_view(a);
    if (prefix(rest, "fpshist", &a)) return fps_histogram(c);
    if (exact(rest, "forcereload")) return force_reload(c);
    if (prefix(rest, "readsetup", &a)) return read_setup(a, c);
    if (prefix(rest, "writesetup", &a)) {
        write_setup_file(a);
        return true;
    }
    if (exact(rest, "addkey")) return add_key(c);
    if (exact(rest, "deletekey") || exact(rest, "rmkey")) return delete_key(c);
    if (exact(rest, "clearkeys")) return clear_keys(c);
    if (exact(rest, "listkeys")) return list_keys(c);
    if (prefix(rest, "readkeys", &a)) return read_keys(a, c);
    if (prefix(rest, "writekeys", &a)) return write_keys(a, c);
    if (exact(rest, "togglekeycam")) return toggle_keycam(c);
    if (exact(rest, "togglefps")) {
        toggle_int(&g_settings.draw_fps, "FPS display");
        return true;
    }
    if (exact(rest, "toggletime")) {
        toggle_int(&g_settings.draw_time, "Time display");
        return true;
    }
    if (exact(rest, "toggleping")) {
        toggle_int(&g_settings.draw_ping, "Ping display");
        return true;
    }
    if (exact(rest, "togglespeed")) {
        toggle_int(&g_settings.draw_speed, "Speed display");
        return true;
    }
    if (word(rest, "sendfile", &a)) {
        if (c.net)
            net_sendfile_command(c.net, a);
        else
            add_message("Not connected to server");
        return true;
    }
    if (word(rest, "listfiles", &a)) return list_files(a);
    if (word(rest, "messagelines", &a)) return message_lines(a);
    if (word(rest, "demobackups", &a)) return demo_backups(a, c);
    if (word(rest, "mapscale", &a)) return map_scale(a);
    if (exact(rest, "hfvol")) return terrain_volume(c);
    return false;
}

}  // namespace

bool run_console_line(const char* line, const console_context& c)
{
    if (!line)
        return false;
    const bool accepted = (line[0] == '/' || line[0] == '\\') ? command(line + 1, c) : chat(line, c);
    if (accepted)
        remember_line(line);
    return accepted;
}

int console_history_count()
{
    return g_console.count;
}

const char* console_history_line(int i)
{
    if (i < 0 || i >= g_console.count)
        return nullptr;
    return g_console.history[(g_console.next - 1 - i + CONSOLE_HISTORY) % CONSOLE_HISTORY];
}

void console_reset()
{
    g_console = console_state();
}
