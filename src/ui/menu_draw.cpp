// Drawing of the open screen over the current view: the translucent
// backdrop, the items in a 4:3 area with their rectangles recorded for the
// pointer, the lines of text, and the chat line.
#include <GL/gl.h>

#include <cstdio>
#include <cstring>

#include "core/config.h"
#include "core/game.h"
#include "ui/font.h"
#include "ui/menu.h"

namespace {

const float area_units_high = 36;

struct layout {
    float ox, oy, unit;  // the 4:3 area's corner and its line unit in pixels
};

layout fit_area(int width, int height)
{
    layout l;
    float w = (float)width, h = (float)height;
    if (w / h > 1.3333333f) {
        l.unit = h / area_units_high;
        l.ox = (w - h * 4 / 3) / 2;
        l.oy = 0;
    } else {
        l.unit = w * 3 / 4 / area_units_high;
        l.ox = 0;
        l.oy = (h - w * 3 / 4) / 2;
    }
    return l;
}

struct rgba {
    float r, g, b, a;
};
const rgba box_fill = {0.08f, 0.12f, 0.3f, 0.75f};
const rgba box_border = {0.45f, 0.55f, 0.85f, 1};
const rgba focus_fill = {0.75f, 0.45f, 0.05f, 0.9f};
const rgba focus_border = {1, 0.85f, 0.3f, 1};
const rgba bar_fill = {0.35f, 0.75f, 0.35f, 1};

void fill(float l, float t, float r, float b, const rgba& c)
{
    glColor4f(c.r, c.g, c.b, c.a);
    glBegin(GL_QUADS);
    glVertex2f(l, t);
    glVertex2f(r, t);
    glVertex2f(r, b);
    glVertex2f(l, b);
    glEnd();
}

void frame(float l, float t, float r, float b, const rgba& c)
{
    fill(l, t, r, t + 1, c);
    fill(l, b - 1, r, b, c);
    fill(l, t, l + 1, b, c);
    fill(r - 1, t, r, b, c);
}

// Text whose cell's top left is at (x, y) pixels, height pixels high. The
// font draws one unit high with y up; the menu's pixels run down.
void text_at(float x, float y, float height, float r, float g, float b, const char* text, bool shadow = true)
{
    glPushMatrix();
    glTranslatef(x, y + height, 0);
    glScalef(height, -height, 1);
    if (shadow)
        text_shadowed(r, g, b, 1, text);
    else
        text_coloured(r, g, b, 1, text);
    glPopMatrix();
}

float width_px(const char* text, float height)
{
    return text_width(text) * height;
}

// The option with the type-ahead's match in red.
void marked_option(const char* option, const char* typed, char* out, size_t size)
{
    int at = 0;
    if (typed[0] && contains_nocase(option, typed, &at)) {
        const int n = (int)strlen(typed);
        snprintf(out, size, "%.*s\033[31m%.*s\033[0m%s", at, option, n, option + at, option + at + n);
    } else {
        snprintf(out, size, "%s", option);
    }
}

void draw_item(menu_state* m, int index, const menu_item& it, const layout& l)
{
    const float u = l.unit;
    const float th = u * 0.8f;
    const float left = l.ox + it.x * u, top = l.oy + it.y * u;
    const float right = left + it.width * u, bottom = top + u;
    m->rects[index] = {left, top, right, bottom};
    const bool focused = index == m->focus;
    fill(left, top, right, bottom, focused ? focus_fill : box_fill);
    frame(left, top, right, bottom, focused ? focus_border : box_border);
    const float ty = top + (u - th) / 2, pad = u * 0.4f;
    text_at(left + pad, ty, th, 1, 1, 1, it.label);
    char value[256];
    menu_item_value_text(it, value, sizeof value);
    switch (it.kind) {
    case item_choice: {
        char shown[512];
        marked_option(value, typeahead_text(&m->typeahead, it.s), shown, sizeof shown);
        text_at(right - pad - width_px(value, th), ty, th, 1, 1, 0.8f, shown);
        break;
    }
    case item_binding:
        if (m->capture >= 0 && it.s == &settings_table(nullptr)[m->capture])
            snprintf(value, sizeof value, "Press a key, a button or move an axis");
        text_at(right - pad - width_px(value, th), ty, th, 1, 1, 0.8f, value);
        break;
    case item_slider: {
        // The bar takes the right quarter; the value's field is wide enough
        // for the larger of the maximum and 1000.
        const float bar_right = right - pad, bar_left = bar_right - it.width * u * 0.22f;
        m->bar_left[index] = bar_left;
        m->bar_right[index] = bar_right;
        char widest[64];
        snprintf(widest, sizeof widest, "%.2f", it.s->maximum > 1000 ? it.s->maximum : 1000.0);
        float field = width_px(widest, th);
        const float needed = width_px(value, th);
        if (needed > field)
            field = needed;
        text_at(bar_left - pad - needed, ty, th, 1, 1, 0.8f, value);
        (void)field;
        const double part = slider_fill(*(const double*)it.s->value, it.s->minimum, it.s->maximum);
        const float bt = top + u * 0.3f, bb = bottom - u * 0.3f;
        fill(bar_left, bt, bar_right, bb, {0, 0, 0, 0.6f});
        fill(bar_left, bt, bar_left + (bar_right - bar_left) * (float)part, bb, bar_fill);
        frame(bar_left, bt, bar_right, bb, box_border);
        break;
    }
    case item_text: {
        const float x = left + it.width * u * 0.4f;
        if (focused) {
            // A grey box under the character at the cursor.
            const int n = (int)strlen(value);
            const int at = m->chat_cursor < 0 ? 0 : m->chat_cursor > n ? n : m->chat_cursor;
            char before[256];
            snprintf(before, sizeof before, "%.*s", at, value);
            char under[2] = {value[at] ? value[at] : '-', 0};
            const float cx = x + width_px(before, th);
            fill(cx, ty, cx + width_px(under, th), ty + th, {0.5f, 0.5f, 0.5f, 1});
        }
        text_at(x, ty, th, 1, 1, 0.8f, value);
        break;
    }
    default: break;
    }
    if (it.note) {
        const bool ok = strcmp(it.note, "Available") == 0;
        text_at(right + pad, ty, th, ok ? 0.4f : 1, ok ? 1 : 0.4f, 0.4f, it.note);
    }
}

void draw_chat(menu_state* m, int width, int height)
{
    const float th = height / 30.0f, y = height - th * 4;
    fill(0, y - th * 0.25f, (float)width, y + th * 1.25f, {0, 0, 0, 0.5f});
    const float x = th * 0.5f + width_px("> ", th);
    const int n = (int)strlen(m->chat);
    const int at = m->chat_cursor < 0 ? 0 : m->chat_cursor > n ? n : m->chat_cursor;
    char before[MENU_CHAT_MAX + 1];
    snprintf(before, sizeof before, "%.*s", at, m->chat);
    char under[2] = {m->chat[at] ? m->chat[at] : '-', 0};
    const float cx = x + width_px(before, th);
    fill(cx, y, cx + width_px(under, th), y + th, {0.5f, 0.5f, 0.5f, 1});
    text_at(th * 0.5f, y, th, 1, 1, 1, "> ");
    text_at(x, y, th, 1, 1, 1, m->chat);
}

}  // namespace

void draw_screen(menu_state* m, int screen, int width, int height)
{
    if (screen < 0 || width <= 0 || height <= 0)
        return;
    glPushAttrib(GL_ENABLE_BIT | GL_COLOR_BUFFER_BIT | GL_CURRENT_BIT | GL_TRANSFORM_BIT);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glOrtho(0, width, height, 0, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_CULL_FACE);
    glDisable(GL_LIGHTING);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_FOG);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);

    if (screen == menu_chat) {
        draw_chat(m, width, height);
    } else {
        fill(0, 0, (float)width, (float)height, {0.2f, 0.2f, 0.2f, 0.5f});
        const float build_height = height / 16.0f;
        text_at(0, height - build_height, build_height, 0.75f, 0.75f, 0.75f, KESSRIG_BUILD);

        const layout l = fit_area(width, height);
        menu_screen s;
        menu_build(m, screen, &s);
        if (s.count > 0)
            m->focus = menu_focus_move(m->focus, 0, 0, s.count - 1);
        if (s.title[0]) {
            const float th = l.unit * 1.4f;
            text_at(l.ox + (l.unit * 48 - width_px(s.title, th)) / 2, l.oy + l.unit * 0.3f, th, 1, 1, 1, s.title);
        }
        for (int i = 0; i < s.line_count; i++) {
            const menu_line& ln = s.lines[i];
            const float th = l.unit * 0.8f * ln.scale;
            float x = l.ox + ln.x * l.unit;
            if (ln.centred)
                x -= width_px(ln.text, th) / 2;
            text_at(x, l.oy + ln.y * l.unit, th, ln.r, ln.g, ln.b, ln.text);
        }
        glDisable(GL_TEXTURE_2D);
        for (int i = 0; i < s.count; i++)
            draw_item(m, i, s.items[i], l);
        m->rect_screen = screen;
    }

    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
    glPopAttrib();
}
