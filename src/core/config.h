// The configuration file "@config" and the bike setup files: one table of
// every setting the file stores, in the order it writes them, with each
// setting's kind, range and menu label. The menus show and edit the same
// records; the file and the console go through setting_parse and
// setting_format so that a value typed anywhere is checked the same way.
#pragma once

#include <cstddef>

#include "race/race.h"

struct data_stream;

enum setting_kind {
    setting_integer,  // int*, written with %d
    setting_number,   // double*, written with %f, clamped to minimum..maximum
    setting_text,     // char* of text_max + 1 bytes, written as is
    setting_choice,   // int* (the index), written as the choice string
    setting_slider,   // double*, written with %f, clamped to minimum..maximum
    setting_binding,  // menu_binding*, "(k)name" or "(low,high)axis"
};

enum setting_flags {
    // A text longer than text_max is refused instead of cut (the server
    // history: a cut host name names some other host).
    setting_refuse_long = 1,
    // The text names an entry of a list that may not exist yet (textures):
    // the text is kept as read, and the choice index follows it once the
    // list is built.
    setting_pending_text = 2,
};

struct setting {
    const char* key;    // file key: "fov", "slot07", "server_name_hist03"
    const char* label;  // menu label ("Field Of View", "Gate 8"); "" without a menu item
    setting_kind kind;
    void* value;
    double minimum, maximum, step;  // sliders and clamped numbers
    const char* const* choices;     // fixed choice lists, else null
    int choice_count;
    const char* (*choice_name)(int index);  // lists built at run time (video modes, bikes, textures)
    int (*choice_count_of)();
    int text_max;        // text: the most characters kept
    unsigned flags;      // setting_flags
    char* pending_text;  // setting_pending_text: the name as read
};

// Every setting in file order, the bike setup block at its place.
const setting* settings_table(int* count);
// By file key (exact), or null.
const setting* find_setting(const char* key);
// A value from the file or the console: parsed, clamped, looked up among
// the choices. False (value unchanged) when it cannot be taken.
bool setting_parse(const setting* s, const char* value);
// The value as the file writes it (without key and line feed). False when
// nothing is written (a binding to nothing).
bool setting_format(const setting* s, char* out, size_t size);
int setting_choice_count(const setting* s);
const char* setting_choice_name(const setting* s, int index);
// What follows a change made by the menus: "stability" applies the stability
// presets, "bike" rebuilds the bike graphics list, a texture choice takes
// its entry's name. setting_parse does this itself.
void setting_changed(const setting* s);

// ---- graphics presets ----
// The twelve graphics settings at once: ground geometric detail, texture
// resolution, mipmaps, compression, terrain method, ground texture levels,
// shaders, lens flares, reflections, model geometric and texture detail,
// roost density.
enum { GRAPHICS_PRESETS = 4 };
const char* graphics_preset_button(int preset);  // "Use Compatibility Settings" ...
const char* graphics_preset_name(int preset);    // "Compatibility", "High FPS", "Normal", "High Detail"
void apply_graphics_preset(int preset);
// The preset every one of the twelve settings equals, or -1 ("Custom").
int current_graphics_preset();

// ---- run-time lists ----
// The video_mode choices: "Default Fullscreen", "Windowed", then one
// "%dx%d" per display mode. Until set, only the first two exist.
void set_video_mode_names(const char* const* names, int count);
// The rider, helmet, bike and wheel graphics lists from the data file list
// (names beginning "rider_body-", "rider_head-", the bike model's texture
// stem followed by '-', "wheels-"), each starting with the model's own
// texture; then the texture names of the setup are matched against them.
// files: the null-terminated file list, or null to forget the lists.
void build_texture_lists(const char* const* files);

// ---- the player's rider ----
// The player's bike model, name, number and graphics as the setup holds
// them; the world takes a copy at every reset (player_rider_strings).
extern rider_strings g_player_rider;
// The rider strings with the model and graphics of the current choices.
rider_strings player_rider_strings();

// ---- start-up defaults ----
// The state before the configuration is read: every setting at its
// default, the compatibility graphics preset, the default bike
// "yz250f(2017)" with the stability presets for 100, the default bindings,
// an empty server history.
void config_set_defaults();

// ---- files ----
// Missing or unreadable file: defaults kept, false. Lines go first to the
// setup reader, then to the configuration keys; unknown keys are ignored.
bool read_config(const char* name = "@config");
// The lines of an open configuration file (read_config's loop).
void read_config_stream(data_stream* s);
// Writes a new file next to the old one and renames it over it, so a crash
// leaves either the old or the new file whole. False on failure (the old
// file is left as it was).
bool write_config(const char* name = "@config");
// One bike setup line; true when key is a setup key.
bool read_setup_line(const char* key, const char* value);
void write_setup(data_stream* s);
// "@setups/" + name (blanks around it removed). Names holding '/', '\\' or
// ".." and empty names are refused. Reading matches the graphics names and
// adds "Setup updated" or "Error reading setup"; writing adds "Setup
// written" or "Error writing setup". The caller gives the setup to the
// player's bike.
bool read_setup_file(const char* name);
// A name a player gave for a file inside its folder: when file_name_problem
// finds one, adds "<what> names may not ..." saying what is wrong and
// returns true.
bool refuse_file_name(const char* name, const char* what);
bool write_setup_file(const char* name);
