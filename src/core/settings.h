// The live settings of one run: what the configuration file stores and the
// command line overrides. The configuration reader and the menus fill in the
// rest of the table; the values here are the ones start-up and the frame
// loop read.
#pragma once

enum { SERVER_HISTORY = 16, SERVER_NAME_MAX = 127 };

struct game_settings {
    int xres = 640;
    int yres = 480;
    int video_mode = 0;  // 0 "Default Fullscreen", 1 "Windowed", 2.. display modes
    char track[256] = "rabbithill";
    int message_lines = 5;
    double fov = 110.0;                // degrees, 10..170 ("Field Of View")
    int spy = 0;                       // the player may watch others while riding
    // The cameras of the rider and orbit views.
    double first_person_height = 0;    // 0..1 ("1st Person Height")
    double first_person_angle = 0;     // degrees, 0..40 ("1st Person Angle")
    double third_person_height = 5;    // feet, 0..20 ("3rd Person Height")
    double third_person_distance = 10; // feet, 5..40 ("3rd Person Distance")
    bool rigid_camera = false;         // "Rigid 3rd person camera"
    char server_name[SERVER_NAME_MAX + 1] = "";
    char server_history[SERVER_HISTORY][SERVER_NAME_MAX] = {};
    // Demos and the time trial.
    bool record = false;               // "record": "No" / "Yes" ("Record Demo")
    int demo_backups = 0;              // used clamped to 0..100
    int playback_mode = 0;             // 0 "Playback Only", 1 "Race Against"
    bool time_trial_abort = true;      // "Backing Up Aborts Attempt"
    double ghost_fade_distance = 10.0; // feet, 0..40
    // Graphics, from the compatibility preset until the configuration is
    // read. Choices hold their index.
    int ground_detail = 70;            // 0..100 ("Ground Geometric Detail")
    int ground_texture_detail = 9;     // 0..10 ("Ground Texture Levels")
    int ground_texture_dim = 1;        // "32x32" .. "1024x1024"; 1 = "64x64"
    bool ground_mipmaps = true;
    int texture_compress = 0;          // "No", "Yes", "Always"
    int render_texture = 0;            // "Software" .. "Shaders/Direct"
    bool use_shader = true;
    bool lens_flare = true;
    bool reflections = true;
    int model_detail = 50;             // 0..100
    int model_texture_detail = 9;      // 0..10
    int roost_density = 1000;          // 0..1000
    int draw_fps = 0;                  // heads-up read-outs on/off
    int draw_time = 0;
    int draw_ping = 1;
    int draw_speed = 0;
    double map_scale = 1.0;            // track map size, 0.125..8
    bool render_stats = false;         // console "renderstats"
    bool suspension_graph = false;     // console "togglegraph"
};

// What drawing uses, derived once at start-up from the settings, with the
// command line's overrides.
struct render_params {
    double terrain_error_scale = 0.125 / 70;  // 0.125 / ground detail (floor 1)
    int ground_texture_level = 1;             // levels of the terrain texture pyramid left out
    int ground_texture_size = 64;             // texels per tile side
    double lod_scale = 1.0;                   // model level of detail
    double lod_bias = 0.0;
    int texture_level = 1;                    // levels dropped from loaded textures
    int texture_compress = 0;
    int reflections = 1;
    double max_detail_distance = 70.0;
    double outer_detail_distance = 75.0;
};
struct command_options;
render_params derive_render_params(const game_settings& s, const command_options& o);
extern game_settings g_settings;

// Enters a server name at the top of the history unless it is empty or
// already the newest entry.
void remember_server(const char* name);
