// The arithmetic of menu input that needs neither a window nor the setting
// table: focus movement, choice stepping and type-ahead, slider keys, mouse
// and typed values, and the pages of long lists. The screens (menu.h) call
// these with their items' values; the tests call them directly.
#pragma once

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
