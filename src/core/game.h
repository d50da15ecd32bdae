// State of the application core that lives for the whole run, and the
// per-tick taking of input events.
#pragma once

#include "platform/input.h"

enum view_mode_kind { view_rider, view_editor, view_orbit, view_track_camera, view_no_track };

struct game_state {
    bool quit_requested = false;
    bool paused = false;
    int view_mode = view_no_track;
    int watched_slot = 0;
    int menu = -1;              // open menu, -1 for none
    bool track_loaded = false;  // a ride exists and the world can tick
};
extern game_state g_game;

// The game's build string, shown on status screens and logged at start-up.
extern const char* const KESSRIG_BUILD;

// Converts between seconds and the platform's clock values.
clock_time clock_from_seconds(double seconds);
double clock_to_seconds(clock_time t);

// Takes the input events of one tick: those stamped no later than the tick's
// real-time instant, or every pending event when that instant is not in the
// past. Each is handed to handle; returns how many were taken.
int take_tick_events(double instant, double now, void (*handle)(void* context, const input_event& event),
                     void* context);
