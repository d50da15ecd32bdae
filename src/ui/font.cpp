// Loading the game's fonts and drawing text with the text font.
#include <GL/gl.h>

#include <cstring>
#include <vector>

#include "core/messages.h"
#include "files/memory.h"
#include "render/picture.h"
#include "render/texture.h"
#include "ui/font.h"

bitmap_font g_text_font;
bitmap_font g_number_font;
bitmap_font g_condensed_font;

namespace {

const char* const text_charset =
    "!\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_`abcdefghijklmnopqrstuvwxyz{|}~";
const char* const digit_charset = "0123456789";

// The font's picture as a mipmapped texture: text is drawn at every size.
unsigned make_font_texture(const bitmap_font& f)
{
    const size_t bytes = mip_chain_bytes(f.width, f.height, 4);
    if (!bytes)
        return 0;
    unsigned char* chain = (unsigned char*)mem_alloc_or_die(bytes);
    memcpy(chain, f.pixels, (size_t)f.width * f.height * 4);
    build_mip_levels(chain, f.width, f.height, 4, false);
    const unsigned id = texture_create(chain, f.width, f.height, 4, 0);
    mem_free(chain);
    return id;
}

plate_font plate_of(const bitmap_font& f)
{
    plate_font p;
    p.pixels = f.pixels;
    p.width = f.width;
    p.height = f.height;
    for (int c = 0; c < 256; c++) {
        p.left[c] = f.tex_left[c];
        p.top[c] = f.tex_top[c];
        p.right[c] = f.tex_right[c];
        p.bottom[c] = f.tex_bottom[c];
    }
    return p;
}

// Glyph quads waiting for one draw call.
struct text_batch {
    const bitmap_font* font = nullptr;
    int count = 0;
    float vertices[TEXT_BATCH_GLYPHS * 4][2];
    float coords[TEXT_BATCH_GLYPHS * 4][2];
    float colours[TEXT_BATCH_GLYPHS * 4][4];
};
text_batch g_batch;
unsigned short g_indices[TEXT_BATCH_GLYPHS * 6];
bool g_indices_made = false;

void flush_batch(text_batch* b)
{
    if (!b->count)
        return;
    glVertexPointer(2, GL_FLOAT, 0, b->vertices);
    glTexCoordPointer(2, GL_FLOAT, 0, b->coords);
    glColorPointer(4, GL_FLOAT, 0, b->colours);
    glDrawElements(GL_TRIANGLES, b->count * 6, GL_UNSIGNED_SHORT, g_indices);
    b->count = 0;
}

void add_glyph(void* context, const text_glyph& g)
{
    text_batch* b = (text_batch*)context;
    const bitmap_font& f = *b->font;
    const int v = b->count * 4;
    const float x0 = g.x, x1 = g.x + g.advance, y0 = g.y, y1 = g.y + 1;
    const float l = f.tex_left[g.c], r = f.tex_right[g.c], t = f.tex_top[g.c], bt = f.tex_bottom[g.c];
    const float corners[4][4] = {{x0, y1, l, t}, {x1, y1, r, t}, {x0, y0, l, bt}, {x1, y0, r, bt}};
    for (int k = 0; k < 4; k++) {
        b->vertices[v + k][0] = corners[k][0];
        b->vertices[v + k][1] = corners[k][1];
        b->coords[v + k][0] = corners[k][2];
        b->coords[v + k][1] = corners[k][3];
        b->colours[v + k][0] = g.colour.r;
        b->colours[v + k][1] = g.colour.g;
        b->colours[v + k][2] = g.colour.b;
        b->colours[v + k][3] = g.colour.a;
    }
    if (++b->count == TEXT_BATCH_GLYPHS)
        flush_batch(b);
}

void make_indices()
{
    if (g_indices_made)
        return;
    for (int q = 0; q < TEXT_BATCH_GLYPHS; q++) {
        const unsigned short v = (unsigned short)(q * 4);
        const unsigned short tri[6] = {v, (unsigned short)(v + 2), (unsigned short)(v + 1),
                                       (unsigned short)(v + 1), (unsigned short)(v + 2), (unsigned short)(v + 3)};
        memcpy(&g_indices[q * 6], tri, sizeof tri);
    }
    g_indices_made = true;
}

}  // namespace

void font_free(bitmap_font* f)
{
    if (f->texture) {
        GLuint id = f->texture;
        glDeleteTextures(1, &id);
    }
    f->texture = 0;
    mem_free(f->pixels);
    f->pixels = nullptr;
    f->width = f->height = 0;
    font_clear(f);
}

bool load_font(bitmap_font* f, const char* name, const char* charset, bool make_texture)
{
    font_clear(f);
    picture p;
    if (!read_rgba_picture(name, &p) || p.channels != 4 || p.width <= 0 || p.height <= 0) {
        picture_free(&p);
        add_message("Can't open font '%.512s'", name);
        return false;
    }
    mem_free(p.text);
    p.text = nullptr;
    font_prepare(f, p.pixels, p.width, p.height, charset);
    if (make_texture) {
        f->texture = make_font_texture(*f);
        mem_free(f->pixels);
        f->pixels = nullptr;
    }
    return true;
}

void fonts_load()
{
    load_font(&g_text_font, "@font.png", text_charset, true);
    load_font(&g_number_font, "@numbers.png", digit_charset, false);
    load_font(&g_condensed_font, "@numbers-condensed.png", digit_charset, false);
    const plate_font digits = plate_of(g_number_font), condensed = plate_of(g_condensed_font);
    set_plate_fonts(g_number_font.pixels ? &digits : nullptr, g_condensed_font.pixels ? &condensed : nullptr);
}

void fonts_free()
{
    // The plates must not paint from freed pixels.
    set_plate_fonts(nullptr, nullptr);
    font_free(&g_text_font);
    font_free(&g_number_font);
    font_free(&g_condensed_font);
}

float text_width(const char* text)
{
    return font_text_width(g_text_font, text);
}

void draw_text(float r, float g, float b, float a, const char* text, int flags)
{
    if (text_blank(text) || !g_text_font.texture)
        return;
    make_indices();
    glPushAttrib(GL_ENABLE_BIT | GL_COLOR_BUFFER_BIT | GL_TEXTURE_BIT);
    glPushClientAttrib(GL_CLIENT_VERTEX_ARRAY_BIT);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glEnable(GL_TEXTURE_2D);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    glBindTexture(GL_TEXTURE_2D, g_text_font.texture);
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    glEnableClientState(GL_COLOR_ARRAY);
    glDisableClientState(GL_NORMAL_ARRAY);
    g_batch.font = &g_text_font;
    g_batch.count = 0;
    text_walk(g_text_font, text, r, g, b, a, flags, add_glyph, &g_batch);
    flush_batch(&g_batch);
    glPopClientAttrib();
    glPopAttrib();
}

void text_white(const char* text)
{
    draw_text(1, 1, 1, 1, text, text_caller_colour);
}

void text_coloured(float r, float g, float b, float a, const char* text)
{
    draw_text(r, g, b, a, text, text_caller_colour);
}

void text_shadowed(float r, float g, float b, float a, const char* text)
{
    glPushMatrix();
    glTranslatef(0.0625f, -0.0625f, 0);
    draw_text(0, 0, 0, a * 0.5f, text, text_caller_colour | text_shadow_pass);
    glPopMatrix();
    draw_text(r, g, b, a, text, text_caller_colour);
}

void text_light(const char* text)
{
    text_shadowed(0.75f, 0.75f, 0.75f, 1, text);
}

void text_centred(float left, float right, float r, float g, float b, float a, const char* text, bool shadow)
{
    glPushMatrix();
    glTranslatef(left + ((right - left) - text_width(text)) / 2, 0, 0);
    if (shadow)
        text_shadowed(r, g, b, a, text);
    else
        text_coloured(r, g, b, a, text);
    glPopMatrix();
}

void text_right(float x, float r, float g, float b, float a, const char* text)
{
    glPushMatrix();
    glTranslatef(x - text_width(text), 0, 0);
    text_shadowed(r, g, b, a, text);
    glPopMatrix();
}
