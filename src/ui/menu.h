// The menus: every screen outside riding, drawn over the current view and
// driven by keys, typed characters and the pointer.
//
// The arithmetic of menu input needs neither a window nor the setting
// table (focus movement, choice stepping and type-ahead, slider keys,
// pointer and typed values, pages of long lists, text editing); the
// screens call it with their items' values and the tests call it directly.
// Building screens and handling their events needs no GL either; only
// draw_screen draws.
#pragma once

#include <cstddef>
#include <vector>

enum { MENU_PAGE_SIZE = 20, MENU_TYPEAHEAD_MAX = 63 };

// "up" / "down": the focus moves by delta and stays within first..last
// (no wrap-around).
int menu_focus_move(int focus, int delta, int first, int last);

// Pages of 20 entries: (count + 19) / 20.
int menu_page_count(int count);

// ---- choices ----------------------------------------------------------------------

// The next (delta +1) or previous (-1) option, wrapping at both ends.
// A count of 0 gives 0.
int choice_step(int current, int count, int delta);

// Whether text contains part anywhere, compared without regard to case.
// Where it does, *at (when not null) receives the offset of the first match.
bool contains_nocase(const char* text, const char* part, int* at = nullptr);

// The type-ahead text of one choice list. It belongs to the list it was
// typed into: typing into another list starts afresh.
struct choice_typeahead {
    const void* owner = nullptr;
    char text[MENU_TYPEAHEAD_MAX + 1] = {};
};

void typeahead_clear(choice_typeahead* t);
// The text for owner ("" when it was typed into another list).
const char* typeahead_text(const choice_typeahead* t, const void* owner);

// A printable character typed into a choice: appended to the type-ahead
// text; from the current option forward with wrap-around, the first option
// containing the text (any case) becomes current. When none contains it the
// character is taken back and the option stays. Returns whether an option
// matched.
bool choice_type_char(choice_typeahead* t, const void* owner, const char* const* options, int count,
                      int* current, char c);
// TAB: the next option after the current one (wrapping) that contains the
// type-ahead text; with no text simply the next option. Returns whether the
// option changed.
bool choice_tab(const choice_typeahead* t, const void* owner, const char* const* options, int count,
                int* current);

// ---- sliders ----------------------------------------------------------------------

double slider_clamp(double value, double minimum, double maximum);
// "left" (-1) / "right" (+1): one step, clamped.
double slider_key(double value, double step, double minimum, double maximum, int direction);
// Whether a pointer at x may set the slider: between the bar's left end
// - 15 pixels and its right end + 15 pixels.
bool slider_pointer_in_reach(double x, double bar_left, double bar_right);
// The value for a pointer at x over a bar from bar_left to bar_right:
// minimum + step x nearest whole number of steps (halves up), clamped. A bar
// of no length, or a step of 0, leaves value.
double slider_pointer_value(double value, double step, double minimum, double maximum, double x, double bar_left,
                            double bar_right);
// A typed value read with "%f" and clamped; text that is not a number leaves
// value.
double slider_typed_value(double value, const char* text, double minimum, double maximum);
// How much of the bar is filled: (value - minimum) / (maximum - minimum),
// clamped to 0..1 (0 for an empty range).
double slider_fill(double value, double minimum, double maximum);

// ---- text fields ------------------------------------------------------------------

// A line being edited: at most max characters (max < size of text).
struct text_edit {
    char* text;
    int max;
    int* cursor;
};
// Inserts a printable character at the cursor when there is room.
bool text_insert(text_edit e, char c);
// Backspace: removes the character before the cursor.
bool text_backspace(text_edit e);
// Delete: removes the character at the cursor.
bool text_delete(text_edit e);
// Moves the cursor by delta within 0..length.
void text_cursor_move(text_edit e, int delta);

// ---- screens ----------------------------------------------------------------------
//
// Every screen outside riding is an immediate-mode menu over the current
// view. Items are rebuilt from the setting table (core/config.h) whenever
// they are drawn or receive an event, so a value changed by the console or
// the configuration shows at once; labels, ranges, steps and choices are
// the settings' own.

struct setting;
struct world;

enum menu_screen_id {
    menu_none = -1,
    menu_main = 0,
    menu_new_race = 1,
    menu_choice_list = 2,
    menu_playback = 3,
    menu_series_list = 4,
    menu_series = 5,
    menu_time_trial = 6,
    menu_bike_setup = 7,
    menu_suspension = 8,
    menu_stability = 9,
    menu_controls = 10,
    menu_graphics = 11,
    menu_advanced_graphics = 12,
    menu_multiplayer = 13,
    menu_quit = 18,
    // The chat line takes the keys like a menu while it is open.
    menu_chat = 19,
};

enum menu_item_kind { item_button, item_choice, item_slider, item_binding, item_text };

// What activating a button does.
enum menu_action {
    action_none,
    action_goto,             // arg: the screen
    action_start_race,
    action_start_time_trial,
    action_open_list,        // arg: list_kind; opens the choice list
    action_list_entry,       // arg: the entry
    action_prev_page,
    action_next_page,
    action_cancel_list,
    action_play_demo,        // arg: index into the demo list
    action_open_series,      // arg: index into the series
    action_series_reset,
    action_series_practice,
    action_series_enter,
    action_connect,
    action_request_restart,
    action_switch_mode,
    action_preset,           // arg: the graphics preset
};

// The long lists shown page by page as "Choose ...".
enum menu_list_kind { list_bike, list_rider, list_helmet, list_bike_graphics, list_wheels, list_track };

// How a slider's value is shown beside its bar: plainly ("%.2f") or in the
// bike's physical units.
enum menu_unit {
    unit_plain,
    unit_fork_spring,
    unit_fork_preload,
    unit_fork_oil,
    unit_shock_spring,
    unit_shock_preload,
    unit_front_sprocket,
    unit_rear_sprocket,
};

// Window pixels, y down (the pointer's coordinates).
struct menu_rect {
    float left = 0, top = 0, right = 0, bottom = 0;
};
// Strictly inside.
bool menu_rect_hit(const menu_rect& r, float x, float y);

struct menu_item {
    int kind = item_button;
    const setting* s = nullptr;  // the setting a choice, slider, text or binding edits
    char label[128] = {};        // buttons, and the label of a setting item
    int action = action_none;
    int arg = 0;
    int unit = unit_plain;
    const char* note = nullptr;  // a word drawn right of the item ("Available")
    // Placement in the 4:3 area, in line units from its top left.
    float x = 0, y = 0, width = 0;
};

// A line of text that is not an item (headings, notices, tables).
struct menu_line {
    char text[160] = {};
    float x = 0, y = 0;
    float r = 1, g = 1, b = 1;
    bool centred = false;  // centred on x
    float scale = 1;       // text height in line units
};

// The Multiplayer screen's rider table holds up to MENU_RIDER_ROWS rows of
// five columns.
enum { MENU_MAX_ITEMS = 64, MENU_RIDER_ROWS = 20, MENU_MAX_LINES = 48 + 5 * MENU_RIDER_ROWS, MENU_CHAT_MAX = 119 };

// A screen as built for one draw or event.
struct menu_screen {
    int id = menu_none;
    char title[128] = {};
    menu_item items[MENU_MAX_ITEMS];
    int count = 0;
    menu_line lines[MENU_MAX_LINES];
    int line_count = 0;
};

// One rider of the race server's table (the Multiplayer screen): a slot
// whose rider information has arrived.
struct menu_rider_row {
    int slot = 0;
    int ping_ms = 0;
    char number[8] = {};
    char bike[64] = {};
    char name[64] = {};
};

// What the menus ask of the game around them. Every entry may be null.
struct menu_host {
    void* context = nullptr;
    world* w = nullptr;   // the game's world
    int* lineup = nullptr;  // the game's lineup (RACE_SLOTS entries), rotated after a start
    // After every world reset a menu ran: the game follows the new ride.
    void (*ride_started)(void* context, bool ok) = nullptr;
    // The chat line's Enter: true when the line was taken.
    bool (*console_line)(void* context, const char* line) = nullptr;
    // "Switch To Selected Mode Now".
    void (*switch_video_mode)(void* context) = nullptr;
    int rotate_lineup = 0;    // "--rotate-lineup"
    bool editor = false;      // "--editor": the Quit screen warns of unsaved changes
    const char* const* demo_names = nullptr;  // display names of the demo list
    const char* const* demo_files = nullptr;  // their data names
    int demo_count = 0;
    // The race server. A connection exists (Connect reads "Disconnect").
    bool (*connected)(void* context) = nullptr;
    // Connect: join the server named; Disconnect: leave politely.
    void (*connect)(void* context, const char* name) = nullptr;
    void (*leave)(void* context) = nullptr;
    // Leave at once: a ride started from the menus is an offline ride.
    void (*leave_now)(void* context) = nullptr;
    void (*request_restart)(void* context) = nullptr;
    // Fills up to max rows of the rider table in slot order; returns how
    // many riders there are in all (rows past max are not written).
    int (*rider_rows)(void* context, menu_rider_row* rows, int max) = nullptr;
    // The player changed the name, number, bike or graphics the server
    // shows the others.
    void (*rider_changed)(void* context) = nullptr;
    // The server forbids arcade physics for the player's bike.
    bool (*no_arcade)(void* context) = nullptr;
};

// The menus' own state: the focus shared by every screen, the pages of the
// long lists, the type-ahead text, a binding being captured, the chat line.
struct menu_state {
    menu_host host;
    int focus = 0;
    menu_rect rects[MENU_MAX_ITEMS];
    float bar_left[MENU_MAX_ITEMS] = {}, bar_right[MENU_MAX_ITEMS] = {};
    int rect_screen = menu_none;  // the screen the rectangles belong to
    choice_typeahead typeahead;
    int pointer_x = -1, pointer_y = -1;
    // The choice list: which list, its page, where it returns to.
    int list_kind = list_track;
    int list_page = 0;
    int list_return = menu_main;
    int demo_page = 0;
    int series_page = 0;
    // A binding waiting for a key, button or moved axis (-1: none).
    int capture = -1;
    double capture_started = 0;
    std::vector<int> capture_axes;        // open handles of every absolute axis
    std::vector<int> capture_baseline;    // their values when the capture began
    std::vector<const char*> capture_axis_names;
    // The chat line.
    char chat[MENU_CHAT_MAX + 1] = {};
    int chat_cursor = 0;
    // The screen left last (settings are written when a settings screen is
    // left).
    int previous = menu_none;
};
extern menu_state g_menu;

// Builds the items and lines of a screen in focus order, with their places.
void menu_build(const menu_state* m, int screen, menu_screen* out);
// The screen whose settings are written when it is left (bike setup and its
// sub-screens, graphics, controls, new race, time trial).
bool menu_screen_saves(int screen);
// Text of a setting item's value as drawn: a choice's option, a slider's
// "%.2f" or unit text, a text field's text, a binding's name.
void menu_item_value_text(const menu_item& item, char* out, size_t size);

// The long lists: entry count and names (tracks by display name).
int menu_list_count(int kind);
const char* menu_list_name(int kind, int index);
// The setting a list chooses for (null for tracks).
const setting* menu_list_setting(int kind);
// Whether the driver can do a terrain rendering method (the
// render_texture index) and shader programs.
bool menu_terrain_method_available(int method);
bool menu_shaders_available();

// ---- events (no GL) -----------------------------------------------------------------

// Opens a screen (focus on its first useful item); menu_none closes the
// menus. Leaving a settings screen writes the configuration and gives a
// changed setup to the player's bike.
void menu_open(menu_state* m, int screen);
// One key or typed character (code as the input layer gives it).
void menu_key(menu_state* m, int code, int pressed);
// The pointer's button (pressed 1/0) and position (window pixels).
void menu_pointer_button(menu_state* m, int pressed);
void menu_pointer_moved(menu_state* m, int x, int y);
// Esc: closes the menu (false where the screen stays: the Quit screen goes
// back to the main menu, a capture is cancelled).
bool menu_escape(menu_state* m);
// Once a frame while a binding is captured: watches the axes.
void menu_capture_poll(menu_state* m);
// Activates item index of the current screen (what enter, space or a click
// does).
void menu_activate(menu_state* m, int index);
// The chat line: opened empty.
void menu_open_chat(menu_state* m);

// ---- drawing (GL) -----------------------------------------------------------------

// Draws the open screen over the current view into a window of width x
// height pixels and records the items' rectangles.
void draw_screen(menu_state* m, int screen, int width, int height);
