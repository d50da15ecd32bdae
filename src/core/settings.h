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
    double fov = 110.0;
    char server_name[SERVER_NAME_MAX + 1] = "";
    char server_history[SERVER_HISTORY][SERVER_NAME_MAX] = {};
    // Demos and the time trial.
    bool record = false;               // "record": "No" / "Yes" ("Record Demo")
    int demo_backups = 0;              // used clamped to 0..100
    int playback_mode = 0;             // 0 "Playback Only", 1 "Race Against"
    bool time_trial_abort = true;      // "Backing Up Aborts Attempt"
    double ghost_fade_distance = 10.0; // feet, 0..40
};
extern game_settings g_settings;

// Enters a server name at the top of the history unless it is empty or
// already the newest entry.
void remember_server(const char* name);
