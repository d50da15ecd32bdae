// Menu input arithmetic: no GL, no settings, only the values handed in.
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "ui/menu.h"

int menu_focus_move(int focus, int delta, int first, int last)
{
    focus += delta;
    if (focus > last)
        focus = last;
    if (focus < first)
        focus = first;
    return focus;
}

int menu_page_count(int count)
{
    return count > 0 ? (count + MENU_PAGE_SIZE - 1) / MENU_PAGE_SIZE : 0;
}

// ---- choices ----------------------------------------------------------------------

int choice_step(int current, int count, int delta)
{
    if (count <= 0)
        return 0;
    int next = (current + delta) % count;
    return next < 0 ? next + count : next;
}

bool contains_nocase(const char* text, const char* part, int* at)
{
    if (!text || !part)
        return false;
    const size_t n = strlen(part);
    for (const char* p = text;; p++) {
        size_t i = 0;
        while (i < n && p[i] && tolower((unsigned char)p[i]) == tolower((unsigned char)part[i]))
            i++;
        if (i == n) {
            if (at)
                *at = (int)(p - text);
            return true;
        }
        if (!*p)
            return false;
    }
}

void typeahead_clear(choice_typeahead* t)
{
    t->owner = nullptr;
    t->text[0] = 0;
}

const char* typeahead_text(const choice_typeahead* t, const void* owner)
{
    return t->owner == owner ? t->text : "";
}

namespace {

// From start (included) forward with wrap-around, the first option holding
// the text; -1 when none does.
int find_option(const char* const* options, int count, int start, const char* text)
{
    for (int i = 0; i < count; i++) {
        const int k = (start + i) % count;
        if (contains_nocase(options[k], text))
            return k;
    }
    return -1;
}

}  // namespace

bool choice_type_char(choice_typeahead* t, const void* owner, const char* const* options, int count,
                      int* current, char c)
{
    if (t->owner != owner) {
        t->owner = owner;
        t->text[0] = 0;
    }
    const size_t n = strlen(t->text);
    if (n >= MENU_TYPEAHEAD_MAX || count <= 0)
        return false;
    t->text[n] = c;
    t->text[n + 1] = 0;
    const int start = *current >= 0 && *current < count ? *current : 0;
    const int k = find_option(options, count, start, t->text);
    if (k < 0) {
        t->text[n] = 0;
        return false;
    }
    *current = k;
    return true;
}

bool choice_tab(const choice_typeahead* t, const void* owner, const char* const* options, int count, int* current)
{
    if (count <= 0)
        return false;
    const int start = choice_step(*current, count, 1);
    const int k = find_option(options, count, start, typeahead_text(t, owner));
    if (k < 0 || k == *current)
        return false;
    *current = k;
    return true;
}

// ---- sliders ----------------------------------------------------------------------

double slider_clamp(double value, double minimum, double maximum)
{
    // NaN from a hostile file or console line lands on the minimum.
    if (!(value >= minimum))
        return minimum;
    return value > maximum ? maximum : value;
}

double slider_key(double value, double step, double minimum, double maximum, int direction)
{
    return slider_clamp(value + step * direction, minimum, maximum);
}

bool slider_pointer_in_reach(double x, double bar_left, double bar_right)
{
    return x >= bar_left - 15 && x <= bar_right + 15;
}

double slider_pointer_value(double value, double step, double minimum, double maximum, double x, double bar_left,
                            double bar_right)
{
    if (!(bar_right > bar_left) || !(step > 0))
        return value;
    const double steps = (x - bar_left) / (bar_right - bar_left) * (maximum - minimum) / step;
    return slider_clamp(minimum + step * floor(steps + 0.5), minimum, maximum);
}

double slider_typed_value(double value, const char* text, double minimum, double maximum)
{
    float typed;
    if (!text || sscanf(text, "%f", &typed) != 1)
        return value;
    return slider_clamp(typed, minimum, maximum);
}

double slider_fill(double value, double minimum, double maximum)
{
    if (!(maximum > minimum))
        return 0;
    return slider_clamp((value - minimum) / (maximum - minimum), 0, 1);
}

// ---- text fields ------------------------------------------------------------------

bool text_insert(text_edit e, char c)
{
    const int n = (int)strlen(e.text);
    if (n >= e.max || (unsigned char)c < 32 || (unsigned char)c > 126)
        return false;
    int& at = *e.cursor;
    if (at < 0 || at > n)
        at = n;
    memmove(e.text + at + 1, e.text + at, (size_t)(n - at + 1));
    e.text[at++] = c;
    return true;
}

bool text_backspace(text_edit e)
{
    const int n = (int)strlen(e.text);
    int& at = *e.cursor;
    if (at > n)
        at = n;
    if (at <= 0)
        return false;
    memmove(e.text + at - 1, e.text + at, (size_t)(n - at + 1));
    at--;
    return true;
}

bool text_delete(text_edit e)
{
    const int n = (int)strlen(e.text);
    int& at = *e.cursor;
    if (at < 0 || at >= n)
        return false;
    memmove(e.text + at, e.text + at + 1, (size_t)(n - at));
    return true;
}

void text_cursor_move(text_edit e, int delta)
{
    const int n = (int)strlen(e.text);
    int& at = *e.cursor;
    at += delta;
    if (at < 0)
        at = 0;
    if (at > n)
        at = n;
}
