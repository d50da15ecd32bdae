// Number plates: a race number painted in the digit font into a picture of
// the plate's colours, made into a mipmapped texture whose outermost ring
// of texels is transparent at every level (so clamping shows no edge).
#include <cmath>
#include <cstring>

#include "files/memory.h"
#include "render/picture.h"
#include "render/texture.h"

namespace {

plate_font g_digits;
plate_font g_condensed;
bool g_have_digits = false;
bool g_have_condensed = false;

struct glyph_rect {
    int x0, y0, x1, y1;
};

glyph_rect glyph_of(const plate_font& f, unsigned char c)
{
    glyph_rect r{0, 0, 0, 0};
    if (f.right[c] <= f.left[c])
        return r;  // absent
    r.x0 = int(lroundf(f.left[c] * float(f.width)));
    r.y0 = int(lroundf(f.top[c] * float(f.height)));
    r.x1 = int(lroundf(f.right[c] * float(f.width)));
    r.y1 = int(lroundf(f.bottom[c] * float(f.height)));
    return r;
}

void measure(const plate_font& f, const char* text, int* width, int* height)
{
    *width = 0;
    *height = 0;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; p++) {
        const glyph_rect r = glyph_of(f, *p);
        *width += r.x1 - r.x0;
        if (r.y1 - r.y0 > *height)
            *height = r.y1 - r.y0;
    }
}

unsigned char to_byte(float v)
{
    const long b = lroundf(v * 255.0f);
    return static_cast<unsigned char>(b < 0 ? 0 : b > 255 ? 255 : b);
}

// Blends one glyph onto the picture at (px, py), clipped to both.
void blend_glyph(const plate_font& f, const glyph_rect& g, unsigned char* pixels, int w, int h, int px, int py)
{
    const float colour[3] = {1.0f, 1.0f, 1.0f};
    const float colour_alpha = 1.0f;
    for (int gy = g.y0; gy < g.y1; gy++) {
        const int y = py + gy - g.y0;
        if (gy < 0 || gy >= f.height || y < 0 || y >= h)
            continue;
        for (int gx = g.x0; gx < g.x1; gx++) {
            const int x = px + gx - g.x0;
            if (gx < 0 || gx >= f.width || x < 0 || x >= w)
                continue;
            const unsigned char* src = f.pixels + (size_t(gy) * size_t(f.width) + size_t(gx)) * 4;
            unsigned char* dst = pixels + (size_t(y) * size_t(w) + size_t(x)) * 4;
            const float s = src[3] / 255.0f * colour_alpha;
            for (int c = 0; c < 3; c++)
                dst[c] = to_byte(dst[c] / 255.0f * (1.0f - s) + src[c] / 255.0f * colour[c] * s);
            dst[3] = to_byte(s * s + dst[3] / 255.0f * (1.0f - s));
        }
    }
}

// Paints the text centred into a w x h RGBA picture with the digit font (the
// condensed one when the text would be much wider than the plate).
void paint_text(unsigned char* pixels, int w, int h, const char* text)
{
    if (!g_have_digits || !text || !*text)
        return;
    const plate_font* font = &g_digits;
    int text_width, text_height;
    measure(*font, text, &text_width, &text_height);
    if (text_width > 9 * w / 8 && g_have_condensed) {
        font = &g_condensed;
        measure(*font, text, &text_width, &text_height);
    }
    int pen_x = w / 2 - text_width / 2;
    const int pen_y = h / 2 - text_height / 2;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; p++) {
        const glyph_rect g = glyph_of(*font, *p);
        blend_glyph(*font, g, pixels, w, h, pen_x, pen_y);
        pen_x += g.x1 - g.x0;
    }
}

bool usable(const plate_font* f)
{
    return f && f->pixels && f->width > 0 && f->height > 0;
}

}  // namespace

void set_plate_fonts(const plate_font* digits, const plate_font* condensed)
{
    g_have_digits = usable(digits);
    g_have_condensed = usable(condensed);
    g_digits = g_have_digits ? *digits : plate_font{};
    g_condensed = g_have_condensed ? *condensed : plate_font{};
}

unsigned number_plate_texture(const char* text, int width, int height, const uint8_t background[3],
                              const uint8_t figure[3])
{
    const size_t bytes = mip_chain_bytes(width, height, 4);
    if (!bytes || !background || !figure)
        return 0;
    unsigned char* chain = static_cast<unsigned char*>(mem_alloc_or_die(bytes));
    const size_t pixels = size_t(width) * size_t(height);
    for (size_t i = 0; i < pixels; i++) {
        unsigned char* p = chain + i * 4;
        p[0] = p[1] = p[2] = 255;
        p[3] = 0;
    }
    paint_text(chain, width, height, text);
    // White paint becomes the background colour, black the figure colour.
    for (size_t i = 0; i < pixels; i++) {
        unsigned char* p = chain + i * 4;
        for (int c = 0; c < 3; c++) {
            const float v = p[c] / 255.0f;
            p[c] = static_cast<unsigned char>(int(float(figure[c]) + float(background[c] - figure[c]) * v));
        }
    }
    build_mip_levels(chain, width, height, 4, false);
    const int levels = mip_level_count(width, height);
    for (int level = 0; level < levels; level++) {
        int w, h;
        mip_level_size(width, height, level, &w, &h);
        unsigned char* base = chain + mip_level_offset(width, height, 4, level);
        for (int y = 0; y < h; y++)
            for (int x = 0; x < w; x++) {
                if (y != 0 && y != h - 1 && x != 0 && x != w - 1)
                    continue;
                unsigned char* p = base + (size_t(y) * size_t(w) + size_t(x)) * 4;
                p[0] = p[1] = p[2] = 255;
                p[3] = 0;
            }
    }
    const unsigned id = texture_create(chain, width, height, 4, 0);
    mem_free(chain);
    return id;
}
