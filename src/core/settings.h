// The live settings of one run: what the configuration file stores and the
// command line overrides. The configuration reader and the menus fill in the
// rest of the table; the values here are the ones start-up and the frame
// loop read.
#pragma once

enum { SERVER_HISTORY = 16, SERVER_NAME_MAX = 127, LINEUP_SETTINGS = 40, TEXTURE_CHOICES = 4 };

// Choices hold their index into their choice list, sliders a double.
struct game_settings {
    int xres = 640;
    int yres = 480;
    // Heads-up read-outs, on when not 0.
    int draw_fps = 0;
    int draw_time = 0;
    int draw_ping = 1;
    int draw_speed = 0;
    int spy = 0;                       // the player may watch others while riding
    char track[256] = "rabbithill";
    // The race menu.
    int record = 0;                    // "No", "Yes" ("Record Demo")
    int skill = 0;                     // "Novice", "Amateur", "Expert" ("Robot Skill")
    double minutes = 0;                // 0..60 ("Minutes")
    double laps = 5;                   // 0..50 ("Laps")
    int slots[LINEUP_SETTINGS] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 2, 1, 2, 2, 2};
    double ghost_fade_distance = 10.0; // feet, 0..40
    int time_trial_abort = 1;          // "No", "Yes" ("Backing Up Aborts Attempt")
    // The bike setup's choices that are not part of bike_setup.
    int bike_model = 0;                // catalogue index ("Bike")
    int texture_choice[TEXTURE_CHOICES] = {-1, -1, -1, -1};  // rider, helmet, bike, wheels; -1 none
    int video_mode = 0;  // 0 "Default Fullscreen", 1 "Windowed", 2.. display modes
    char server_name[SERVER_NAME_MAX + 1] = "";
    char server_history[SERVER_HISTORY][SERVER_NAME_MAX] = {};
    // Graphics, from the compatibility preset until the configuration is
    // read.
    double ground_detail = 70;         // 0..100 ("Ground Geometric Detail")
    double ground_texture_detail = 9;  // 0..10 ("Ground Texture Levels")
    int ground_texture_dim = 1;        // "32x32" .. "1024x1024"; 1 = "64x64"
    int ground_mipmaps = 1;            // "No", "Yes"
    int texture_compress = 0;          // "No", "Yes", "Always"
    int render_texture = 0;            // "Software" .. "Shaders/Direct"
    int use_shader = 1;
    double roost_density = 1000;       // 0..1000 step 10
    int lens_flare = 1;
    int reflections = 1;
    int hide_rider = 0;                // "Hide 1st Person Rider"
    int rigid_camera = 0;              // "Rigid 3rd person camera"
    double model_detail = 50;          // 0..100
    double model_texture_detail = 9;   // 0..10
    // The cameras of the rider and orbit views.
    double fov = 110.0;                // degrees, 10..170 ("Field Of View")
    double first_person_height = 0;    // 0..1 ("1st Person Height")
    double first_person_angle = 0;     // degrees, 0..40 ("1st Person Angle")
    double third_person_height = 5;    // feet, 0..20 ("3rd Person Height")
    double third_person_distance = 10; // feet, 5..40 ("3rd Person Distance")
    // Sound, 0..10.
    double volume = 10;
    double comp_volume = 8;
    // Demos and the time trial.
    int playback_mode = 0;             // 0 "Playback Only", 1 "Race Against"
    int billboard_optimize_lookahead = 8;
    int message_lines = 5;
    int demo_backups = 0;              // used clamped to 0..100
    double map_scale = 1;              // 0.125..8
    int render_stats = 0;              // console "renderstats"
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
    int roost_frequency = 1000;               // roost particles (0..1000)
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
