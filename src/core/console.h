// The chat line and the console commands. A line beginning with '/' or
// '\\' is a command (read-outs, demo naming, camera aiming and key-frame
// paths, setup files, track information, file listing, tuning values);
// anything else is chat for the race server. Every reply is a message line.
// The text field the player types into belongs to the menus; this module
// decides what an entered line does and keeps the history of lines taken.
#pragma once

struct world;
struct bike;
struct engine_sound;
struct track_camera;
struct key_frame_list;
struct frame_timer;
struct net_session;

enum { CONSOLE_HISTORY = 100, CONSOLE_LINE_MAX = 119 };

// What the commands reach in the game. Pointers left null mean the game
// has no such thing now: commands that need it say so or are not taken.
struct console_context {
    world* w = nullptr;                    // the world (track, tick, recording, race)
    bike* watched_bike = nullptr;          // the bike the camera follows, null: none
    bool watched_is_own = false;           // ... and it is the player's own
    engine_sound* watched_sound = nullptr; // its engine sound, null: none (no audio)
    bool no_arcade = false;                // the server forbids arcade physics
    track_camera* free_camera = nullptr;   // aimed by "camangle", source of "addkey"
    key_frame_list* key_frames = nullptr;  // the camera key frames and keycam mode
    frame_timer* timer = nullptr;          // frame-time histogram ("fpshist")
    bool* suspension_graph = nullptr;      // "togglegraph"
    int* render_stats = nullptr;           // "renderstats": the read-outs on
    void (*reset_render_stats)(void* context) = nullptr;  // their maxima cleared
    void* hook_context = nullptr;
    bool* setup_changed = nullptr;         // set after "readsetup" (the client resends it)
    net_session* net = nullptr;            // the race client: chat and "sendfile"; null: none
};

// Runs one entered line. True when the line is accepted (it joins the
// history and the input is cleared); false leaves it in the input.
bool run_console_line(const char* line, const console_context& c);

// The accepted lines, newest first (0 = newest); null past the end.
int console_history_count();
const char* console_history_line(int i);
// Forgets the history and the last chat time (start-up, tests).
void console_reset();
