// Command-line options: read once at start-up, after the configuration, so
// they override configuration values for this run.
#pragma once

#include <cstddef>

#include "core/vec3.h"

struct command_options {
    // flags
    bool no_sound = false;
    bool fugly = false;
    bool no_vertex_arrays = false;
    int learn = -1;  // -1 untouched, 0 "--nolearn", 1 "--learn"
    bool no_mmx = false;
    int debug = 0;   // 0, 1 "--debug", 2 "--super-debug"
    bool practice = false;
    bool warp = false;
    bool accurate_skip = false;
    bool editor = false;
    bool record_video = false;
    bool show_pause = true;
    bool show_hud = true;
    bool glfinish = false;
    bool print_orientation = false;
    bool open_home = false;
    bool help = false;              // "--help": the options were printed
    // numbers; -1 / NaN style "unset" values are replaced by the derived
    // rendering parameters at start-up
    int texture_level = -1;
    int ground_texture_level = -1;
    int roost_frequency = -1;
    int erode_amount = -1;          // 1/1024 units
    int threads = 0;                // of the world tick; 0: the cores, at most 4
    double terrain_detail = -1.0;
    double max_detail_distance = 70.0;
    double outer_detail_distance = 75.0;
    double lod_scale = -1.0;
    double lod_bias = -1e30;
    bool lod_bias_set = false;
    double lock_fps = 0.0;
    double fake_lag = 0.0;          // seconds
    int fake_loss = 0;              // percent
    int rotate_lineup = 0;
    int depth_bits = 16;
    int zdepth_bits = 16;
    int draw_fps = -1, draw_time = -1, draw_ping = -1, draw_speed = -1, draw_render_stats = -1;
    vec3 chase_center = {0.0f, 2.52f, 0.52f};
    // strings
    char track[256] = "";
    char connect[256] = "";
    char password[128] = "";
    char record_audio[1024] = "";
    char file[1024] = "";
};
extern command_options g_options;

// Parses argv (argv[0] is the program name) into options and the settings
// the command line overrides. Returns true, or false after printing the
// error on standard error (the caller exits with code 1; a bad server link,
// which usually comes from a desktop rather than a terminal, is shown in a
// message box as well). "--help" prints the options on standard output,
// sets help and stops parsing (the caller exits with code 0). A bare
// argument that is a server link joins that server, as "--connect" does.
bool parse_command_line(int argc, const char* const* argv, command_options* options);

// Server links, as the desktop hands them to the game: "kessrig:HOST[:PORT]"
// or "kessrig://HOST[:PORT]", either with an optional "/" at the end. The
// scheme is matched without regard to case.
bool is_server_link(const char* text);
// Reads a link into the server name the network layer resolves: "HOST", or
// "HOST:PORT" when the link names a port (without one the default port
// applies). Returns null on success, or why the link is unusable (then
// *server is empty).
const char* parse_server_link(const char* link, char* server, size_t size);

// The argument cursor, exposed for tests.
struct arg_cursor {
    int remaining;
    const char* const* next;
    bool end_of_options;
};
// Matches the next argument against one option; value is null for options
// without a value. On a match with a value, *value is the value or null
// when the option stood last.
bool next_option(arg_cursor* cursor, const char* name, const char** value);
