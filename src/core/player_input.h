// The player's input, tick by tick: every input event the tick takes goes
// through handle_input_event (quit, the bindings, the menus, the command
// keys), then apply_controls turns the nine control values into the
// commands of the player's own bike - the only way input reaches a bike,
// before the world tick - or, while the player watches, into the movements
// of the orbit and track cameras.
//
// What belongs to the menus, the chat line, controller calibration and the
// track editor reaches them through player_hooks; until they exist the
// hooks are empty and those keys do nothing.
#pragma once

#include "core/bindings.h"
#include "core/game.h"
#include "core/screenshot.h"
#include "core/views.h"

struct world;

// What the menus, the chat line and the editor do with input. Every entry
// may be null (the part does not exist yet): the key is then ignored.
struct player_hooks {
    void* context = nullptr;
    // The pointer's button goes to the menus in every state; its position
    // (in window pixels) while a menu is open, once a frame when it moved.
    void (*pointer_button)(void* context, int pressed) = nullptr;
    void (*pointer_moved)(void* context, int x, int y) = nullptr;
    // A controller-calibration screen is open: it takes every key.
    bool (*calibration_open)(void* context) = nullptr;
    void (*calibration_key)(void* context, int code, int pressed) = nullptr;
    // Esc without a menu; Esc with one (false: that menu stays open).
    void (*open_main_menu)(void* context) = nullptr;
    bool (*close_menu)(void* context) = nullptr;
    void (*menu_key)(void* context, int code, int pressed) = nullptr;
    void (*open_chat)(void* context) = nullptr;
    // The editor view: keys first (true when taken), its tick, and the
    // rebuilding of the ground when the view is left.
    bool (*editor_key)(void* context, int code, int pressed) = nullptr;
    void (*editor_tick)(void* context) = nullptr;
    void (*editor_leave)(void* context) = nullptr;
};

struct player_input {
    game_state* game = &g_game;
    binding_table* bindings = &g_bindings;
    view_state views;
    player_hooks hooks;
    float controls[CONTROL_COUNT] = {};  // this tick's control values
    float last_sit_dab = 0;              // control 6 of the previous tick
    bool sticky_dab = false;             // the toggled sit/dab
    bool backing_up = false;             // back up held above 0.5 last tick
    screenshot_counter screenshots;
    bool screenshot_requested = false;   // taken from the next drawn frame
};

// Handles one input event of a tick, in this order: the close request;
// the control bindings; the pointer button for the menus; a calibration
// screen; Esc; an open menu; then, with no menu open, the chat key, the
// editor's keys, pause, step, Tab (the view cycle), rewind and skip, the
// previous and next rider to watch, the screenshot key and the digits that
// select a track camera ('0' the free camera).
void handle_input_event(player_input* p, world* w, int code, int pressed);

// Once per tick after the events: sums the bindings into the control
// values, then drives the player's bike (steer, negated with reversed
// steering; throttle; brakes; sit/dab, toggled with sticky dab; back up;
// lean; the clutch lever, whose engagement rises at most 4 per second; a
// shift on +-0.5) or, when watching, the orbit and track cameras. Returns
// false when the world must not tick: a menu over the player's own bike
// offline, or the editor view offline.
bool apply_controls(player_input* p, world* w);

// Watches the rider `step` places before (-1) or after (+1) the watched one
// in the ranking, stopping at its ends; refused while the player rides his
// own bike offline or holds a multiplayer race slot, unless spy mode is on.
// Returns whether the watched rider changed.
bool watch_next_rider(player_input* p, const world* w, int step);
