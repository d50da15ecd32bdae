#include "core/command_line.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <strings.h>

#include "core/settings.h"
#include "platform/log.h"

command_options g_options;
game_settings g_settings;

void remember_server(const char* name)
{
    if (!name[0] || strcmp(g_settings.server_history[0], name) == 0)
        return;
    for (int i = SERVER_HISTORY - 1; i > 0; i--)
        memcpy(g_settings.server_history[i], g_settings.server_history[i - 1], sizeof g_settings.server_history[i]);
    snprintf(g_settings.server_history[0], sizeof g_settings.server_history[0], "%s", name);
}

bool next_option(arg_cursor* c, const char* name, const char** value)
{
    if (c->remaining <= 0 || c->end_of_options)
        return false;
    const char* arg = c->next[0];
    if (!value) {
        if (strcmp(arg, name) != 0)
            return false;
        c->next++;
        c->remaining--;
        return true;
    }
    if (strcmp(arg, "--") == 0) {
        c->end_of_options = true;
        c->next++;
        c->remaining--;
        return false;
    }
    size_t n = strlen(name);
    if (strcmp(arg, name) == 0) {
        c->next++;
        c->remaining--;
        if (c->remaining > 0) {
            *value = c->next[0];
            c->next++;
            c->remaining--;
        } else {
            *value = nullptr;
        }
        return true;
    }
    if (strncmp(arg, name, n) == 0 && arg[n] == '=') {
        *value = arg + n + 1;
        c->next++;
        c->remaining--;
        return true;
    }
    return false;
}

bool is_server_link(const char* text)
{
    return text && strncasecmp(text, "kessrig:", 8) == 0;
}

const char* parse_server_link(const char* link, char* server, size_t size)
{
    if (size > 0)
        server[0] = 0;
    if (!is_server_link(link))
        return "it does not start with \"kessrig:\"";
    const char* p = link + 8;
    if (p[0] == '/' && p[1] == '/')
        p += 2;
    // The server ends at the first "/"; a link names nothing below it, so
    // only a lone trailing "/" (which browsers like to add) may follow.
    const char* slash = strchr(p, '/');
    if (slash && slash[1])
        return "a link names a server, not a path below it";
    const std::string authority(p, slash ? (size_t)(slash - p) : strlen(p));
    const size_t colon = authority.find(':');
    const std::string host = authority.substr(0, colon);
    const std::string port = colon == std::string::npos ? "" : authority.substr(colon + 1);
    if (host.empty())
        return "it names no server";
    // Names and dotted IPv4 addresses are all the network layer resolves;
    // anything else ("user@", "%" escapes, a second ':') cannot mean a server.
    for (char c : host) {
        const bool name_char = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                               c == '.' || c == '-' || c == '_';
        if (!name_char)
            return "the server name has a character no server name has";
    }
    // An empty port ("host:") stands for the default one.
    long number = 0;
    for (char c : port) {
        if (c < '0' || c > '9' || number > 65535)
            return "the port is not a number from 1 to 65535";
        number = number * 10 + (c - '0');
    }
    if (!port.empty() && (number < 1 || number > 65535))
        return "the port is not a number from 1 to 65535";
    const std::string name = port.empty() ? host : host + ":" + std::to_string(number);
    if (name.size() >= size || name.size() > SERVER_NAME_MAX)
        return "the server name is too long";
    memcpy(server, name.c_str(), name.size() + 1);
    return nullptr;
}

namespace {

template <typename T>
T clamp_value(T v, T lo, T hi)
{
    return v < lo ? lo : (v > hi ? hi : v);
}

bool read_int(const char* value, int* out)
{
    return value && sscanf(value, "%d", out) == 1;
}

bool read_double(const char* value, double* out)
{
    float f;
    if (!value || sscanf(value, "%f", &f) != 1)
        return false;
    *out = f;
    return true;
}

bool bad_arg(const char* option)
{
    fprintf(stderr, "Bad arg for %s\n", option);
    return false;
}

void copy_text(char* dst, size_t size, const char* src)
{
    snprintf(dst, size, "%s", src ? src : "");
}

// The server becomes the one to join and the newest in the history.
void join_server(command_options* o, const char* name)
{
    copy_text(g_settings.server_name, sizeof g_settings.server_name, name);
    remember_server(g_settings.server_name);
    copy_text(o->connect, sizeof o->connect, name);
}

// Joins the server of a link, or says why the link is unusable.
bool join_link(command_options* o, const char* link)
{
    char server[SERVER_NAME_MAX + 1];
    if (const char* why = parse_server_link(link, server, sizeof server)) {
        message_box("Problem starting Kessrig", "Can't join a race from the link \"%.200s\": %s.", link, why);
        return false;
    }
    join_server(o, server);
    return true;
}

void print_help()
{
    static const char* const lines[] = {
        "Usage: kessrig [options] [--] [demo file]",
        "       kessrig [options] kessrig://SERVER[:PORT]   join a race server",
        "  --fugly                      flat shading and the simplest drawing",
        "  --nosound                    no sound",
        "  --novertexarrays             draw without vertex arrays",
        "  --learn, --nolearn           robots keep (or forget) the racing lines of a ride",
        "  --nommx                      do not use MMX code",
        "  --debug, --super-debug       more log lines",
        "  --practice                   every robot rides the tester personality",
        "  --warp                       100 ticks a frame, races back to back",
        "  --texture-detail N           texture level 0..4",
        "  --ground-texture-detail N    ground texture level 0..4",
        "  --roostfrequency N           roost particles 0..1000",
        "  --threads N                  threads of the world tick",
        "  --erode F                    rut depth 0..100",
        "  --detail F                   terrain detail (positive)",
        "  --max-detail-distance F      full terrain detail within F feet",
        "  --lod-scale F, --lod-bias F  model level of detail",
        "  --lock-fps F                 every frame advances exactly 1/F s",
        "  --fake-lag MS, --fake-loss N simulated network lag and loss",
        "  --record-audio FILE          write the sound to FILE",
        "  --record-video               write every frame to standard output as PPM",
        "  --rotate-lineup N            rotate the lineup by N after each race",
        "  --editor                     the view cycle includes the track editor",
        "  --hidden-pause, --hidden-hud do not draw \"Paused\" / the heads-up display",
        "  --width N, --height N        window size",
        "  --depth N, --zdepth N        colour and depth-buffer bits",
        "  --draw-fps N, --draw-time N, --draw-ping N, --draw-speed N, --draw-render-stats N",
        "                               heads-up read-outs on (1) or off (0)",
        "  --accurate-skip              skipping in a demo runs every tick",
        "  --track NAME                 track to load",
        "  --connect SERVER[:PORT]      join a race server (also a kessrig: link)",
        "  --password TEXT              password for the server",
        "  --chase-center X,Y,Z         the point the orbit view circles",
        "  --open-home                  open the home folder and exit",
        "  --glfinish                   wait for GL every frame",
        "  --print-orientation          print the rider view's camera every frame",
        "  --help                       this text",
        "Options with a value also take the form --option=value.",
    };
    for (const char* line : lines)
        printf("%s\n", line);
}

}  // namespace

bool parse_command_line(int argc, const char* const* argv, command_options* o)
{
    arg_cursor c = {argc > 0 ? argc - 1 : 0, argv + (argc > 0 ? 1 : 0), false};
    bool have_file = false;
    while (c.remaining > 0) {
        const char* v = nullptr;
        int n;
        double f;
        if (next_option(&c, "--fugly", nullptr)) o->fugly = true;
        else if (next_option(&c, "--nosound", nullptr)) o->no_sound = true;
        else if (next_option(&c, "--novertexarrays", nullptr)) o->no_vertex_arrays = true;
        else if (next_option(&c, "--learn", nullptr)) o->learn = 1;
        else if (next_option(&c, "--nolearn", nullptr)) o->learn = 0;
        else if (next_option(&c, "--nommx", nullptr)) o->no_mmx = true;
        else if (next_option(&c, "--debug", nullptr)) o->debug = 1;
        else if (next_option(&c, "--super-debug", nullptr)) o->debug = 2;
        else if (next_option(&c, "--practice", nullptr)) o->practice = true;
        else if (next_option(&c, "--warp", nullptr)) o->warp = true;
        else if (next_option(&c, "--texture-detail", &v)) {
            if (!read_int(v, &n)) return bad_arg("--texture-detail");
            o->texture_level = clamp_value(n, 0, 4);
        } else if (next_option(&c, "--ground-texture-detail", &v)) {
            if (!read_int(v, &n)) return bad_arg("--ground-texture-detail");
            o->ground_texture_level = clamp_value(n, 0, 4);
        } else if (next_option(&c, "--roostfrequency", &v)) {
            if (!read_int(v, &n)) return bad_arg("--roostfrequency");
            o->roost_frequency = clamp_value(n, 0, 1000);
        } else if (next_option(&c, "--threads", &v)) {
            if (!read_int(v, &n)) return bad_arg("--threads");
            o->threads = clamp_value(n, 1, 16);
        } else if (next_option(&c, "--erode", &v)) {
            if (!read_double(v, &f)) return bad_arg("--erode");
            o->erode_amount = (int)floor(clamp_value(f, 0.0, 100.0) * 1024.0);
        } else if (next_option(&c, "--detail", &v)) {
            // The terrain's error scale divides by it: only a positive,
            // finite value means anything.
            if (!read_double(v, &f) || !(f > 0.0) || !std::isfinite(f)) return bad_arg("--detail");
            o->terrain_detail = f;
        } else if (next_option(&c, "--max-detail-distance", &v)) {
            if (!read_double(v, &f)) return bad_arg("--max-detail-distance");
            o->max_detail_distance = f;
            o->outer_detail_distance = f + 5.0;
        } else if (next_option(&c, "--lod-scale", &v)) {
            if (!read_double(v, &f)) return bad_arg("--lod-scale");
            o->lod_scale = clamp_value(f, 1e-6, 1e6);
        } else if (next_option(&c, "--lod-bias", &v)) {
            if (!read_double(v, &f)) return bad_arg("--lod-bias");
            o->lod_bias = f;
            o->lod_bias_set = true;
        } else if (next_option(&c, "--lock-fps", &v)) {
            if (!read_double(v, &f)) return bad_arg("--lock-fps");
            o->lock_fps = f;
        } else if (next_option(&c, "--fake-lag", &v)) {
            if (!read_double(v, &f)) return bad_arg("--fake-lag");
            o->fake_lag = clamp_value(f * 0.001, 0.0, 1.0);
        } else if (next_option(&c, "--fake-loss", &v)) {
            if (!read_int(v, &n)) return bad_arg("--fake-loss");
            o->fake_loss = clamp_value(n, 0, 100);
        } else if (next_option(&c, "--record-audio", &v)) {
            if (v) copy_text(o->record_audio, sizeof o->record_audio, v);
        } else if (next_option(&c, "--record-video", nullptr)) o->record_video = true;
        else if (next_option(&c, "--rotate-lineup", &v)) {
            if (read_int(v, &n)) o->rotate_lineup = n;
        } else if (next_option(&c, "--editor", nullptr)) o->editor = true;
        else if (next_option(&c, "--hidden-pause", nullptr)) o->show_pause = false;
        else if (next_option(&c, "--hidden-hud", nullptr)) o->show_hud = false;
        else if (next_option(&c, "--bikes", &v)) {
            fprintf(stderr, "--bikes doesn't do anything anymore\n");
        } else if (next_option(&c, "--width", &v)) {
            if (read_int(v, &n)) g_settings.xres = n;
        } else if (next_option(&c, "--height", &v)) {
            if (read_int(v, &n)) g_settings.yres = n;
        } else if (next_option(&c, "--depth", &v)) {
            if (v) o->depth_bits = atoi(v);
        } else if (next_option(&c, "--zdepth", &v)) {
            if (v) o->zdepth_bits = atoi(v);
        } else if (next_option(&c, "--draw-fps", &v)) {
            if (v) o->draw_fps = g_settings.draw_fps = atoi(v);
        } else if (next_option(&c, "--draw-time", &v)) {
            if (v) o->draw_time = g_settings.draw_time = atoi(v);
        } else if (next_option(&c, "--draw-ping", &v)) {
            if (v) o->draw_ping = g_settings.draw_ping = atoi(v);
        } else if (next_option(&c, "--draw-speed", &v)) {
            if (v) o->draw_speed = g_settings.draw_speed = atoi(v);
        } else if (next_option(&c, "--draw-render-stats", &v)) {
            if (v) o->draw_render_stats = atoi(v);
        } else if (next_option(&c, "--accurate-skip", nullptr)) o->accurate_skip = true;
        else if (next_option(&c, "--track", &v)) {
            if (v) copy_text(o->track, sizeof o->track, v);
        } else if (next_option(&c, "--connect", &v)) {
            if (v && is_server_link(v)) {
                if (!join_link(o, v))
                    return false;
            } else if (v) {
                join_server(o, v);
            }
        } else if (next_option(&c, "--password", &v)) {
            if (v) copy_text(o->password, sizeof o->password, v);
        } else if (next_option(&c, "--chase-center", &v)) {
            vec3 p;
            if (!v || sscanf(v, "%f,%f,%f", &p.x, &p.y, &p.z) != 3) return bad_arg("--chase-center");
            o->chase_center = p;
        } else if (next_option(&c, "--open-home", nullptr)) o->open_home = true;
        else if (next_option(&c, "--glfinish", nullptr)) o->glfinish = true;
        else if (next_option(&c, "--print-orientation", nullptr)) o->print_orientation = true;
        else if (next_option(&c, "--help", nullptr)) {
            print_help();
            o->help = true;
            return true;
        }
        else if (c.remaining > 0) {
            // "--" on its own was consumed by the first option that takes a
            // value; anything else is a file argument.
            const char* arg = c.next[0];
            c.next++;
            c.remaining--;
            if (arg[0] == '-' && !c.end_of_options) {
                fprintf(stderr, "bad option '%s'\n", arg);
                return false;
            }
            // The desktop starts the game with the link the player opened.
            if (is_server_link(arg) && !c.end_of_options) {
                if (!join_link(o, arg))
                    return false;
                continue;
            }
            if (have_file) {
                fprintf(stderr, "Too many files!\n");
                return false;
            }
            copy_text(o->file, sizeof o->file, arg);
            have_file = true;
        }
    }
    if (o->connect[0])
        o->track[0] = 0;
    return true;
}

render_params derive_render_params(const game_settings& s, const command_options& o)
{
    render_params r;
    // A ground detail of 0 would make the error scale infinite.
    const double ground_detail = clamp_value(s.ground_detail, 1.0, 100.0);
    r.terrain_error_scale = o.terrain_detail > 0 ? o.terrain_detail : 0.125 / ground_detail;
    r.ground_texture_level = o.ground_texture_level >= 0 ? o.ground_texture_level
                                                         : (int)clamp_value(10 - s.ground_texture_detail, 0.0, 10.0);
    r.ground_texture_size = 32 << clamp_value(s.ground_texture_dim, 0, 5);
    double scale = clamp_value(100 - s.model_detail, 0.0, 100.0) * 0.02;
    if (scale > 1)
        scale = scale * scale * scale;
    r.lod_scale = o.lod_scale > 0 ? o.lod_scale : scale;
    r.lod_bias = o.lod_bias_set ? o.lod_bias
                                : 50.0 - 50.0 * clamp_value((s.model_detail - 10) * 0.05, 0.0, 1.0);
    r.texture_level = o.texture_level >= 0 ? o.texture_level : (int)clamp_value(10 - s.model_texture_detail, 0.0, 10.0);
    r.roost_frequency = o.roost_frequency >= 0 ? o.roost_frequency : (int)clamp_value(s.roost_density, 0.0, 1000.0);
    r.texture_compress = clamp_value(s.texture_compress, 0, 2);
    r.reflections = s.reflections ? 1 : 0;
    r.max_detail_distance = o.max_detail_distance;
    r.outer_detail_distance = o.outer_detail_distance;
    return r;
}
