// Drawing helpers of the heads-up display, the title screen and the
// television overlay.
#include <GL/gl.h>

#include <cmath>
#include <cstdio>

#include "core/game.h"
#include "race/world.h"
#include "render/gl_caps.h"
#include "render/texture.h"
#include "ui/font.h"
#include "ui/hud.h"
#include "ui/hud_draw_util.h"

void hud_2d_begin(int width, int height)
{
    glPushAttrib(GL_ALL_ATTRIB_BITS);
    if (g_gl_caps.shaders_on && g_gl.UseProgramObjectARB)
        g_gl.UseProgramObjectARB(0);
    glViewport(0, 0, width, height);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glOrtho(0, width, 0, height, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    glDisable(GL_DEPTH_TEST);
    glDepthMask(GL_FALSE);
    glDisable(GL_LIGHTING);
    glDisable(GL_CULL_FACE);
    glDisable(GL_FOG);
    glDisable(GL_ALPHA_TEST);
    glDisable(GL_TEXTURE_2D);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
}

void hud_2d_end()
{
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
    glPopAttrib();
}

void hud_rect(float x0, float y0, float x1, float y1, float r, float g, float b, float a)
{
    glDisable(GL_TEXTURE_2D);
    glColor4f(r, g, b, a);
    glBegin(GL_QUADS);
    glVertex2f(x0, y0);
    glVertex2f(x1, y0);
    glVertex2f(x1, y1);
    glVertex2f(x0, y1);
    glEnd();
}

void hud_picture(unsigned texture, float x0, float y0, float x1, float y1, float s0, float t0, float s1, float t1,
                 float alpha)
{
    if (!texture)
        return;
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    glColor4f(1, 1, 1, alpha);
    glBegin(GL_QUADS);
    glTexCoord2f(s0, t1);
    glVertex2f(x0, y0);
    glTexCoord2f(s1, t1);
    glVertex2f(x1, y0);
    glTexCoord2f(s1, t0);
    glVertex2f(x1, y1);
    glTexCoord2f(s0, t0);
    glVertex2f(x0, y1);
    glEnd();
    glDisable(GL_TEXTURE_2D);
}

void hud_text(float x, float y, float size, float r, float g, float b, float a, const char* text, bool shadow)
{
    glPushMatrix();
    glTranslatef(x, y, 0);
    glScalef(size, size, 1);
    if (shadow)
        text_shadowed(r, g, b, a, text);
    else
        text_coloured(r, g, b, a, text);
    glPopMatrix();
}

void hud_text_centred(float x, float y, float size, float r, float g, float b, float a, const char* text,
                      bool shadow)
{
    hud_text(x - hud_text_width(text, size) / 2, y, size, r, g, b, a, text, shadow);
}

float hud_text_width(const char* text, float size)
{
    return text_width(text) * size;
}

// ---- the title screen ----------------------------------------------------------------

void draw_title_screen(int width, int height, const char* text)
{
    glViewport(0, 0, width, height);
    glClearColor(0, 0, 0, 0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    hud_2d_begin(width, height);
    // A 2:1 picture fitted to the width of a window more than twice as wide
    // as high, else to its height, centred either way.
    float pw, ph;
    if (width > 2 * height) {
        pw = (float)width;
        ph = pw / 2;
    } else {
        ph = (float)height;
        pw = ph * 2;
    }
    const float x0 = (width - pw) / 2, y0 = (height - ph) / 2;
    hud_picture(texture_get("!@title.png"), x0, y0, x0 + pw, y0 + ph);
    if (text && text[0]) {
        const float size = height / 25.0f;
        hud_text_centred(width / 2.0f, (height - size) / 2, size, 1, 1, 1, 1, text, false);
    }
    const float small = height / 16.0f;
    hud_text(0, 0, small, 0.75f, 0.75f, 0.75f, 1, KESSRIG_BUILD, false);
    hud_2d_end();
}

void draw_paused_text(int width, int height)
{
    hud_2d_begin(width, height);
    const float size = height / 30.0f;
    hud_text_centred(width / 2.0f, height - 2 * size, size, 1, 1, 1, 1, "Paused", true);
    hud_2d_end();
}

void draw_warmup_text(int width, int height)
{
    hud_2d_begin(width, height);
    // Below the read-outs and the message lines that the top left holds.
    const float size = height / 30.0f;
    hud_text_centred(width / 2.0f, height * 0.72f, size, 1, 1, 1, 1, "Warmup mode - collisions disabled", true);
    hud_2d_end();
}

void draw_rider_name(const char* name, int width, int height)
{
    if (!name || !name[0])
        return;
    hud_2d_begin(width, height);
    const float size = height / 25.0f;
    hud_text_centred(width / 2.0f, height - 2.5f * size, size, 1, 1, 1, 1, name, true);
    hud_2d_end();
}

// ---- the television overlay ---------------------------------------------------------------

void draw_tv_overlay(const world* w, int width, int height, double sim_clock)
{
    static ticker_entry entries[RACE_SLOTS];
    const int count = ticker_entries_of(w, entries, RACE_SLOTS);
    hud_2d_begin(width, height);
    const float size = height / 30.0f;
    // The ticker: a band along the top, entries 21.5 text units apart
    // sliding to the left, one empty entry before the list starts again.
    const float band_y = height - 1.6f * size;
    hud_rect(0, band_y - 0.3f * size, (float)width, (float)height, 0, 0, 0.15f, 0.7f);
    if (count > 0) {
        const float pitch = 21.5f * size;
        const double scroll = ticker_scroll(sim_clock, count);
        const int ring = count + 1;
        const int first = (int)std::floor(scroll);
        const float shift = (float)(scroll - first) * pitch;
        for (int k = 0; k * pitch - shift < width + pitch; k++) {
            const int e = (first + k) % ring;
            if (e == count)
                continue;  // the empty entry
            hud_text(k * pitch - shift + 0.5f * size, band_y, size, 1, 1, 1, 1, entries[e].text, true);
        }
    }
    // The lap board.
    char text[64];
    const lap_board_kind kind = lap_board_of(w, text, sizeof text);
    const float bw = 5 * size, bh = 2.2f * size;
    const float bx = width - bw - size, by = height - 4.5f * size - bh;
    if (kind == lap_board_chequered) {
        const int cols = 8, rows = 4;
        for (int i = 0; i < cols; i++)
            for (int j = 0; j < rows; j++) {
                const float c = (i + j) % 2 ? 0.0f : 1.0f;
                hud_rect(bx + bw * i / cols, by + bh * j / rows, bx + bw * (i + 1) / cols, by + bh * (j + 1) / rows,
                         c, c, c, 1);
            }
    } else {
        const bool last = kind == lap_board_last_lap;
        hud_rect(bx, by, bx + bw, by + bh, last ? 1.0f : 0.1f, last ? 1.0f : 0.1f, last ? 1.0f : 0.3f, 0.9f);
        const float c = last ? 0.0f : 1.0f;
        hud_text_centred(bx + bw / 2, by + (bh - 1.2f * size) / 2, 1.2f * size, c, c, c, 1, text, false);
    }
    hud_2d_end();
}
