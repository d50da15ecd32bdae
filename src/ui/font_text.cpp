// The GL-free half of the fonts: the glyph table of a font picture and the
// text walk that measurement and drawing share.
#include <cmath>

#include "files/memory.h"
#include "ui/font.h"

namespace {

const float default_advance = 2.0f / 3.0f;
const unsigned char esc = 0x1B;

// The escape palette: the eight colours at 0.75, then at 1.0.
const float palette[16][3] = {
    {0, 0, 0},          {0.75f, 0, 0},    {0, 0.75f, 0},    {0.75f, 0.75f, 0},
    {0, 0, 0.75f},      {0.75f, 0, 0.75f}, {0, 0.75f, 0.75f}, {0.75f, 0.75f, 0.75f},
    {0, 0, 0},          {1, 0, 0},        {0, 1, 0},        {1, 1, 0},
    {0, 0, 1},          {1, 0, 1},        {0, 1, 1},        {1, 1, 1},
};

bool same_pixel(const unsigned char* a, const unsigned char* b)
{
    return a[0] == b[0] && a[1] == b[1] && a[2] == b[2] && a[3] == b[3];
}

// First marker along row y from x = from (width when none).
int scan_right(const unsigned char* px, int width, int y, int from, const unsigned char* marker)
{
    int x = from;
    while (x < width && !same_pixel(px + ((long)y * width + x) * 4, marker))
        x++;
    return x;
}

// First marker down the left column from y = from (height when none).
int scan_down(const unsigned char* px, int width, int height, int from, const unsigned char* marker)
{
    int y = from;
    while (y < height && !same_pixel(px + (long)y * width * 4, marker))
        y++;
    return y;
}

// The pen's next tab stop: eight space widths apart. A font whose space has
// no width has no stops.
float next_tab(float x, float space)
{
    if (!(space > 0))
        return x;
    const float stop = 8 * space;
    return (std::floor(x / stop) + 1) * stop;
}

// The byte after an escape sequence: an optional '[', then everything up to
// and including the first byte in '@'..'~' (or the end of the string).
const char* skip_escape(const char* p)
{
    p++;
    if (*p == '[')
        p++;
    while (*p && !(*p >= '@' && *p <= '~'))
        p++;
    return *p ? p + 1 : p;
}

// One code of a sequence. The shadow bit stays with every change, so that a
// reset or a background code inside a shadow pass cannot turn the shadow
// into the text's own colour.
void apply_code(int n, int* flags)
{
    const int keep = *flags & text_shadow_pass;
    const int bold = *flags & text_bold;
    if (n == 0)
        *flags = text_caller_colour | keep;
    else if (n == 1)
        *flags |= text_bold;
    else if (n == 22)
        *flags &= ~text_bold;
    else if (n >= 30 && n <= 37 && !keep)
        *flags = (n - 30) | bold;
    else if (n >= 40 && n <= 47 && keep)
        *flags = (n - 40) | bold | keep;
}

}  // namespace

void font_clear(bitmap_font* f)
{
    for (int c = 0; c < 256; c++) {
        f->tex_left[c] = f->tex_top[c] = f->tex_right[c] = f->tex_bottom[c] = 0;
        f->advance[c] = default_advance;
    }
}

void font_prepare(bitmap_font* f, unsigned char* pixels, int width, int height, const char* charset)
{
    font_clear(f);
    f->pixels = pixels;
    f->width = width;
    f->height = height;
    if (!pixels || width <= 0 || height <= 0)
        return;
    unsigned char marker[4];
    for (int k = 0; k < 4; k++)
        marker[k] = pixels[k];

    // A row's first cell and the first row end at the first marker; without
    // one they are a single pixel wide or tall. Later cells of a row end at
    // the picture's edge when no marker follows (a full row has none there).
    auto first_right = [&](int row) {
        const int x = scan_right(pixels, width, row, 1, marker);
        return x < width ? x : 1;
    };
    int top = 0;
    int bottom = scan_down(pixels, width, height, 1, marker);
    if (bottom >= height)
        bottom = 1;
    int right = first_right(0);
    int left = 0;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(charset); *p; p++) {
        if (left > 0) {
            if (left >= width) {
                // A new row of cells under the last one.
                top = bottom >= height ? 0 : bottom;
                left = 0;
                right = first_right(top);
                bottom = scan_down(pixels, width, height, top + 1, marker);
            } else {
                right = scan_right(pixels, width, top, left + 1, marker);
            }
        }
        const int c = *p;
        f->tex_left[c] = (float)left / (float)width;
        f->tex_top[c] = (float)top / (float)height;
        f->tex_right[c] = (float)right / (float)width;
        f->tex_bottom[c] = (float)bottom / (float)height;
        f->advance[c] = bottom > top ? (float)(right - left) / (float)(bottom - top) : default_advance;
        left = right;
    }
    f->advance[(unsigned char)' '] = f->advance[(unsigned char)'-'];

    // The markers disappear, pixel (0, 0) last since it is the one compared.
    const long count = (long)width * height;
    for (long i = count - 1; i >= 0; i--) {
        unsigned char* q = pixels + i * 4;
        if (same_pixel(q, marker))
            q[0] = q[1] = q[2] = q[3] = 0;
    }
}

text_rgba text_colour(int flags, float r, float g, float b, float a)
{
    text_rgba c;
    c.a = a;
    if (flags & text_caller_colour) {
        const float lift = (flags & text_bold) ? 0.25f : 0.0f;
        c.r = std::fmin(r + lift, 1.0f);
        c.g = std::fmin(g + lift, 1.0f);
        c.b = std::fmin(b + lift, 1.0f);
    } else {
        const float* p = palette[flags & text_palette_mask];
        c.r = p[0];
        c.g = p[1];
        c.b = p[2];
    }
    return c;
}

const char* text_escape(const char* e, int* flags)
{
    const char* end = skip_escape(e);
    if (*flags & text_skip_escapes)
        return end;
    // Only ESC [ digits and ';' ... 'm' is a colour sequence.
    const char* p = e + 1;
    if (*p != '[')
        return end;
    p++;
    int numbers[TEXT_ESCAPE_NUMBERS_MAX];
    int count = 0;
    int value = 0;
    for (;; p++) {
        const char c = *p;
        if (c >= '0' && c <= '9') {
            // Values past any code are all the same to us: stop growing.
            if (value < 100000)
                value = value * 10 + (c - '0');
        } else if (c == ';' || c == 'm') {
            if (count < TEXT_ESCAPE_NUMBERS_MAX)
                numbers[count++] = value;
            value = 0;
            if (c == 'm')
                break;
        } else {
            return end;  // another sequence, or cut short
        }
    }
    for (int i = 0; i < count; i++)
        apply_code(numbers[i], flags);
    return end;
}

void text_walk(const bitmap_font& f, const char* text, float r, float g, float b, float a, int flags,
               void (*emit)(void* context, const text_glyph& glyph), void* context)
{
    if (!text)
        return;
    const float space = f.advance[(unsigned char)' '];
    float x = 0, y = 0;
    const char* p = text;
    while (*p) {
        const unsigned char c = (unsigned char)*p;
        if (c == esc) {
            p = text_escape(p, &flags);
            continue;
        }
        p++;
        if (c == ' ') {
            x += space;
        } else if (c == '\r') {
            x = 0;
        } else if (c == '\n') {
            y -= 1;
            x = 0;
        } else if (c == '\t') {
            x = next_tab(x, space);
        } else {
            text_glyph gl;
            gl.c = c;
            gl.x = x;
            gl.y = y;
            gl.advance = f.advance[c];
            gl.colour = text_colour(flags, r, g, b, a);
            if (emit)
                emit(context, gl);
            x += gl.advance;
        }
    }
}

float font_text_width(const bitmap_font& f, const char* text)
{
    if (!text)
        return 0;
    const float space = f.advance[(unsigned char)' '];
    float x = 0;
    const char* p = text;
    while (*p) {
        const unsigned char c = (unsigned char)*p;
        if (c == esc) {
            p = skip_escape(p);
            continue;
        }
        p++;
        if (c == '\t')
            x = next_tab(x, space);
        else if (c == '\n' || c == '\r')
            x = 0;
        else
            x += f.advance[c];
    }
    return x;
}

bool text_blank(const char* text)
{
    if (!text)
        return true;
    for (const char* p = text; *p; p++)
        if (*p != ' ' && *p != '\t' && *p != '\n' && *p != '\r')
            return false;
    return true;
}
