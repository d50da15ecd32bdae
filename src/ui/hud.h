// The heads-up display over the race view, the television overlay of the
// track camera view and the title screen of the status and loading
// screens. Sizes follow the window's height; what is shown comes from the
// race's display computations (race/race_display.h).
#pragma once

#include "race/race_display.h"

struct world;

// What the display keeps between frames.
struct hud_state {
    int frames = 0;               // frames since the last frame-rate update
    double fps_since = -1;        // sim_clock of that update
    int fps = 0;
    long stats_max[6] = {};       // render statistics maxima
    suspension_graph graph;
};

// What one frame of the display reads besides the world.
struct hud_frame {
    int width = 0, height = 0;
    int watched_slot = 0;
    double sim_clock = 0;
    bool dabbing = false;         // sticky sit/dab holds the dab on
    bool lean_indicator = true;
    const char* event_name = nullptr;  // a points-series event's name, or null
    // The switches and values of the read-outs (ping only when connected
    // with an own slot).
    bool draw_fps = false, draw_time = false, draw_speed = false;
    bool draw_ping = false;
    int ping_ms = 0, offset_ms = 0;
    bool render_stats = false;
    bool suspension_graph = false;
    double map_scale = 1.0;
};

// The pictures the display draws on (loaded at start-up).
void hud_load_images();

// The display over the drawn scene: pit board, gauges, map, banner, results,
// read-outs with the message lines, suspension graph.
void draw_hud(hud_state* s, const world* w, const hud_frame& f);
// Once per world tick while the graph is on: the watched bike's suspension.
void hud_sample_suspension(hud_state* s, const world* w, int watched_slot);
// Forgets the render statistics maxima ("renderstats").
void hud_reset_render_stats(hud_state* s);

// The track camera view's ticker along the top and lap board on the right.
void draw_tv_overlay(const world* w, int width, int height, double sim_clock);
// A recorded rider's name at the top.
void draw_rider_name(const char* name, int width, int height);
// "Paused" at the top, 1/30 of the screen high.
void draw_paused_text(int width, int height);
// "Warmup mode - collisions disabled" near the top: the player rides on a
// race server without a place in its race.
void draw_warmup_text(int width, int height);

// The title screen: black, the title picture centred 2:1, the text centred
// in white (1/25 of the screen high), the build string at the bottom left.
void draw_title_screen(int width, int height, const char* text);
