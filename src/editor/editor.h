// The track editor: a top-down map of the loaded track with a panel of
// tools down the left side. Terrain brushes (raise, lower, smooth, smudge,
// snap, gradient paint and add), gradient profiles, timing gates and their
// robot section marks, billboards, statues, decals and the tile map are
// edited in place on the loaded track's records; height edits can be
// undone (a ring of eight snapshots); saving writes every file of the track
// into the home directory, and the scene export writes "track.pov".
//
// The editor exists only with "--editor": it is set up when a track loads
// and torn down when it unloads. Its tools act only while the editor view
// is shown, on the main thread. Everything but editor_draw works without a
// window, so the tools, the undo ring and the saving are tested headless.
#pragma once

#include <cstdint>
#include <vector>

struct track;
struct heightfield;

enum {
    EDITOR_MODES = 16,
    EDITOR_WIDGETS = 40,
    EDITOR_UNDO_SLOTS = 8,
};

// The tools, in the order of their buttons.
enum editor_mode {
    editor_raise = 0,
    editor_lower = 1,
    editor_smooth = 2,
    editor_smudge = 3,
    editor_snap = 4,
    editor_gradient_linear_paint = 5,
    editor_gradient_linear_add = 6,
    editor_gradient_radial_paint = 7,
    editor_gradient_radial_add = 8,
    editor_gradient_placement = 9,
    editor_gradient_edit = 10,
    editor_timing_gate = 11,
    editor_billboards = 12,
    editor_statues = 13,
    editor_tilemap = 14,
    editor_decals = 15,
};

struct profile_point {
    float distance = 0;  // feet along the axis from the start
    float height = 0;    // feet
};

// One height profile laid along a line on the ground.
struct gradient {
    float x0 = 0, z0 = 0;  // start
    float x1 = 0, z1 = 0;  // end
    std::vector<profile_point> points;     // increasing distance
    std::vector<uint8_t> segment_types;    // per point: 1 curve to the next, else straight
};

// One undo snapshot: heights and the lighting that goes with them.
struct editor_undo_slot {
    std::vector<float> heights;
    std::vector<uint8_t> shading;  // n * n * 3
    std::vector<uint8_t> normals;  // n * n * 3, only when the terrain has a normal map
};

// The pointer and buttons as the editor sees them each tick and event:
// pixels from the window's top left, and the window size.
struct editor_pointer {
    int x = 0, y = 0;
    int width = 1, height = 1;
    bool left = false, right = false;  // held
};

enum editor_press { editor_press_none = -2, editor_press_map = -1 };  // >= 0: a panel widget

struct editor_state {
    track* t = nullptr;
    heightfield* hf = nullptr;
    int n = 0;              // samples per side
    float spacing = 1;      // feet between samples
    float extent = 0;       // feet

    std::vector<float> working_heights;  // the heights at the last snapshot; brushes read these
    bool snapshot_pending = false;

    float view_centre_x = 0, view_centre_z = 0;
    int mode = editor_raise;
    int press = editor_press_none;
    bool pan_active = false;
    int pan_x = 0, pan_y = 0;
    int hold_ticks = 0;
    float anchor_x = -1, anchor_z = -1;  // (-1, -1): none
    int drag = 0;                        // 0 none, 1 moving, 2 turning or resizing
    float smudge_x = 0, smudge_z = 0;

    std::vector<gradient> gradients;
    int current_gradient = -1;
    int selected_point = -1;

    // The object tools' selections.
    int selected_gate = -1;
    int selected_billboard = 0;
    int last_copy = -1;
    int selected_statue = 0;
    int current_decal = 0;
    std::vector<int> decal_group;
    // The object tools' own generator (alternative tiles, random decal
    // angles): seeded at editor_begin, so a session of edits repeats.
    uint64_t tool_random = 0;

    editor_undo_slot undo_ring[EDITOR_UNDO_SLOTS];
    int undo_pos = 0;
    int undo_count = 0;

    // The panel's values (sliders and choices), by widget index.
    float widget_value[EDITOR_WIDGETS] = {};
    float tile_max = 0;  // the "Tile" slider's maximum for this track

    const char* status = "OK";
    char status_buffer[64] = {};  // for the formatted status texts
    editor_pointer pointer;       // as of the last event or tick
    int hover_widget = -1;        // the widget under the pointer, -1 none

    // The sections the track's racing lines were made for: the lap
    // sequences and the checkpoint count as loaded.
    std::vector<int> lines_first_lap, lines_normal_lap;
    int lines_checkpoints = 0;
    // Where the checkpoints stood (x, z, radius each): lines ridden through
    // a gate that has since moved miss it.
    std::vector<float> lines_gates;
};

// Set up for a loaded track (the track load's hook, only with "--editor"):
// undo ring, working heights, the first snapshot, "edinfo". Null when the
// track has no ground.
editor_state* editor_begin(track* t);
// Frees what editor_begin made (the track unload's hook). Null is ignored.
void editor_end(editor_state* e);

// An input event offered in the editor view before the normal handling:
// code is the game's input code (a typed character below 256, or a key or
// button code as the bindings name them), pressed its direction. Returns
// true when the editor used it.
bool editor_key(editor_state* e, int code, bool pressed, const editor_pointer& p);
// Once per simulation tick while the editor view is shown.
void editor_tick(editor_state* e, const editor_pointer& p);
// The map and the panel of one frame (GL; the window's size in p).
void editor_draw(editor_state* e, const editor_pointer& p);

// Undo snapshot, and one step back ("No more undo levels!" when none).
void editor_snapshot(editor_state* e);
void editor_undo(editor_state* e);

// The ground point under a window pixel.
void editor_ground_point(const editor_state* e, int px, int py, int width, int height, float* x, float* z);

// The current gradient's profile value at distance s along its axis, and
// the linear and radial gradient values at a ground point (0 without a
// current gradient or points).
float gradient_profile(const gradient& g, float s);
float gradient_linear(const gradient& g, float x, float z);
float gradient_radial(const gradient& g, float x, float z);

// Saving: every file of the track into the home directory, written to new
// names and renamed over the old ones only when all succeeded. "Saved!" on
// success; otherwise the failure's message and false, the old files whole.
bool editor_save(editor_state* e);
// Reads "edinfo" (at editor_begin).
void editor_read_info(editor_state* e);
// Writes "track.pov" ("Pov!").
bool export_scene(editor_state* e);

// ---- the panel ---------------------------------------------------------------

enum editor_widget_kind { editor_widget_button = 0, editor_widget_choice = 1, editor_widget_slider = 2 };
enum {
    EDITOR_WIDGET_SHOWN_ALWAYS = -1,
    EDITOR_WIDGET_NEVER_DRAWN = -2,  // the panel background ("dummy")
    // Widgets by index.
    EDITOR_SUBMODE = 16,
    EDITOR_SAVE = 17,
    EDITOR_ZOOM = 18,
    EDITOR_STRENGTH = 19,
    EDITOR_FOCUS = 20,
    EDITOR_RADIUS = 21,
    EDITOR_BILLBOARD_SPACING = 22,
    EDITOR_HEIGHT = 23,
    EDITOR_NEW_GRADIENT = 24,
    EDITOR_COPY_GRADIENT = 25,
    EDITOR_SEGMENT_TYPE = 26,
    EDITOR_GRANULARITY = 27,
    EDITOR_SET_FROM_TERRAIN = 28,
    EDITOR_FLATTEN = 29,
    EDITOR_TILE = 32,
    EDITOR_DUMMY = 39,
};
enum editor_submode { editor_assign = 0, editor_raise_only = 1, editor_lower_only = 2 };

// One widget of the panel as it is built in: its label, first value,
// step and range (sliders), options (choices) and the mode that shows it.
struct editor_widget {
    int kind;
    const char* label;
    float initial;  // slider value or choice index
    float step, minimum, maximum;
    const char* const* options;
    int option_count;
    int shown;  // a mode, or EDITOR_WIDGET_SHOWN_ALWAYS / EDITOR_WIDGET_NEVER_DRAWN
};
const editor_widget& editor_widget_info(int index);
// The slider's maximum for this editor ("Tile" follows the track).
float editor_widget_maximum(const editor_state* e, int index);
bool editor_widget_shown(const editor_state* e, int index);

// Window pixels, y down.
struct editor_rect {
    float left = 0, top = 0, right = 0, bottom = 0;
};
// The panel for a window size: every widget's rectangle (empty when
// hidden), the sliders' bars, and where the text lines go.
struct editor_layout {
    float panel_width = 0;
    float line = 0;  // height of one row
    editor_rect widgets[EDITOR_WIDGETS];
    editor_rect bars[EDITOR_WIDGETS];
    float radius_line = 0;    // top of "Actual Radius" (then "Actual Strength")
    float readout_line = 0;   // top of the first read-out after the mode's widgets
};
void editor_layout_panel(const editor_state* e, int width, int height, editor_layout* out);
// The first widget whose rectangle strictly contains the pixel, or -1.
int editor_widget_at(const editor_state* e, int x, int y, int width, int height);
// The text of a widget's value ("" for a button).
void editor_widget_value_text(const editor_state* e, int index, char* out, int size);

// ---- the view and the brush ------------------------------------------------------

float editor_view_width(const editor_state* e);                 // V: feet the window height shows
float editor_pixel_size(const editor_state* e, int height);     // S: feet per pixel
float editor_pick_radius(const editor_state* e);                // r
float editor_brush_radius(const editor_state* e, int height);   // R
float editor_brush_inner_radius(const editor_state* e, int height);  // R_in
float editor_brush_amount(const editor_state* e);               // A = 2^Strength
// The panel's mode read-out lines ("Length", "Slope", "Height", the tools'
// texts), "\n" between lines; "" when the mode has none.
void editor_mode_readout(const editor_state* e, char* out, int size);

// Applies the brush of the current mode (0, 1, 2, 3, 5 to 8) once along
// the segment from the anchor (or the pointer) to the pointer's ground
// point (x, z), with the brush radius for a window height; then snap
// (mode 4) once at (x, z).
void editor_brush(editor_state* e, float x, float z, int height);
void editor_snap_block(editor_state* e, float x, float z);

// ---- gradients -------------------------------------------------------------------

// Slope of the profile at point j (the tangent the curves use).
float gradient_point_slope(const gradient& g, int j);
float gradient_length(const gradient& g);
// The buttons: new (under the window centre, 50 pixels long), copy,
// flatten, set from terrain. Each works on the current gradient.
void editor_new_gradient(editor_state* e, int width, int height);
void editor_copy_gradient(editor_state* e);
void editor_flatten_gradient(editor_state* e);
void editor_gradient_from_terrain(editor_state* e);
// Presses and drags of the modes 9 and 10 at the ground point (x, z).
void editor_gradient_press(editor_state* e, float x, float z);
void editor_gradient_drag(editor_state* e, float x, float z);
void editor_gradient_release(editor_state* e);

// ---- what the game gives the editor ----------------------------------------------

// The renderer's side: a changed rectangle of samples must be rebuilt
// (lighting textures and tiles). Left empty headless.
struct editor_hooks {
    void (*mark_dirty)(heightfield* hf, int col0, int row0, int col1, int row1) = nullptr;
};
extern editor_hooks g_editor_hooks;

// Whether the track's lap sequences or checkpoint count differ from those
// its racing lines were made for (its lines file then no longer loads).
bool editor_sections_changed(const editor_state* e);
// Whether a checkpoint was moved or resized since the track was loaded (its
// racing lines still load but may miss the gate).
bool editor_gates_moved(const editor_state* e);

// ---------------------------------------------------------------------------
// object and tile tools
//
// The tools of the modes 11 to 15 (timing gates, billboards, statues, tile
// map, decals) live in their own files; the editor's key, tick and draw
// dispatch hands them the pointer's ground point (x, z) for those modes.

// Press and release of the left button on the map, and each tick while it
// stays down after such a press (modes 11 to 15).
void editor_tools_press(editor_state* e, float x, float z);
void editor_tools_drag(editor_state* e, float x, float z);
void editor_tools_release(editor_state* e);
// The keys of the modes 12, 13 and 15 (no widget under the pointer, a press):
// true when used.
bool editor_tools_key(editor_state* e, int code, float x, float z);
// A panel widget of the tools (22, 23, 30 to 38) was changed or pressed.
void editor_tools_widget(editor_state* e, int widget);
// Each tick in the modes 11 to 15; held: the left button is down after a
// press on the map (the tile painting runs every 32 ticks of a hold).
void editor_tools_tick(editor_state* e, float x, float z, bool held);
// The tools' overlays on the map (GL, drawn in ground coordinates x and z
// and laid flat at overlay_height feet, between the ground and the map's
// eye); pick_radius r in feet.
void editor_tools_draw(const editor_state* e, float pick_radius, float overlay_height);
// The read-out lines of the modes 11 and 12 ("" when none), one text with
// "\n" between lines.
void editor_tools_readout(const editor_state* e, char* out, int size);
// Set-up at editor_begin: the fixed object counts and the "Tile" maximum.
void editor_tools_begin(editor_state* e);
