// The player's bindings: which key, button or joystick axis drives each of
// the nine control values of a tick and each command (pause, step, demo
// rewind and skip, the bike to watch, chat, screenshot). The configuration
// stores them by name; start-up resolves the names into key codes and open
// axes. No display is needed: names and axes come from the input layer.
#pragma once

#include "platform/input.h"

// The nine control values of one tick, summed from the bindings.
enum control_index {
    control_steer = 0,
    control_throttle = 1,
    control_front_brake = 2,
    control_rear_brake = 3,
    control_shift = 4,
    control_clutch = 5,   // the lever: 1 pulled in fully
    control_sit_dab = 6,
    control_back_up = 7,
    control_lean = 8,
    CONTROL_COUNT = 9,
};

enum command_index {
    command_pause = 0,
    command_step,
    command_rewind,
    command_skip,
    command_previous_bike,
    command_next_bike,
    command_chat,
    command_screenshot,
    COMMAND_COUNT,
};

enum { BINDING_NAME_MAX = 63, CONTROL_BINDING_COUNT = 12, BINDING_COUNT = CONTROL_BINDING_COUNT + COMMAND_COUNT };

// One binding as the menus and the configuration hold it: a key (or
// button) name, or an axis name with the part of its travel [low, high]
// that maps onto 0..1. Names are kept as written; the code and the axis
// handle are what they resolved to (no_key_code / -1: nothing).
struct menu_binding {
    const char* label = "";   // menu label, static text
    char key_name[BINDING_NAME_MAX + 1] = {};
    int key_code = no_key_code;
    char axis_name[BINDING_NAME_MAX + 1] = {};
    int axis = -1;            // open axis handle
    float low = 0, high = 1;
    float value = 0;          // keys: 1 held, 0 released; axes: read each tick
};

// Every binding in configuration order: the twelve control bindings, then
// the eight commands.
struct binding_table {
    menu_binding entries[BINDING_COUNT];
};

// What one entry of the table is.
struct binding_info {
    const char* config_key;  // "throttle_key" ...
    const char* label;       // "Throttle" ...
    const char* default_key; // "x" ...
    int control;             // control_index, or -1 for a command
    float scale;             // what a full press adds into the control
    int command;             // command_index, or -1 for a control
};
// The BINDING_COUNT entries in configuration order.
const binding_info* binding_infos();

// The run's bindings (filled with the defaults before the configuration is
// read).
extern binding_table g_bindings;

// Key bindings with the default keys, nothing resolved.
void bindings_set_defaults(binding_table* t);
// A binding to a key (low 0, high 1) or to an axis with its travel; names
// longer than BINDING_NAME_MAX are cut. Neither resolves the name.
void binding_set_key(menu_binding* b, const char* name);
void binding_set_axis(menu_binding* b, const char* name, float low, float high);
// Resolves every name into a key code, or opens its axis; values become 0.
// A name that names nothing leaves the binding inert.
void bindings_resolve(binding_table* t);
// Closes the axes the table holds open.
void bindings_close(binding_table* t);
// Every value back to 0 (keys count as released).
void bindings_release_all(binding_table* t);

// A key event: every key binding with this code takes 1 when pressed and
// 0 when released. Returns whether any binding matched.
bool bindings_key_event(binding_table* t, int code, int pressed);
// True when the event is the press of the command's key.
bool command_pressed(const binding_table* t, int command, int code, int pressed);

// Where an axis stands within a binding's travel: raw in -32767..32767,
// (raw / 32768 - low) / (high - low) clamped to 0..1. A travel of no length
// (low = high) acts as a switch at low: 1 at or beyond it, else 0.
float axis_binding_value(int raw, float low, float high);
// Reads every axis binding once and sums scale x value of each control
// binding into values[CONTROL_COUNT] (cleared first). Reading a relative
// axis consumes its movement, so this runs once per tick.
void sum_control_values(binding_table* t, float values[CONTROL_COUNT]);
