// Fonts, HUD pictures and the title picture.
#include "hud_pictures.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "stroke_font.h"

namespace mkdata {

namespace {

const double pi = 3.14159265358979323846;

void set_pixel(canvas* c, int x, int y, uint32_t colour)
{
    uint8_t* p = &c->rgba[((size_t)y * c->width + x) * 4];
    p[0] = (uint8_t)(colour >> 24);
    p[1] = (uint8_t)(colour >> 16);
    p[2] = (uint8_t)(colour >> 8);
    p[3] = (uint8_t)colour;
}

// Lays the glyphs out in cells (see hud_pictures.h) and draws them with
// their baseline `baseline` pixels below each row's top line.
canvas font_sheet(const std::string& chars, const stroke_style& style, uint32_t ink, int width, int height,
                  int cell_height, int baseline, double bearing)
{
    canvas c(width, height, 0x00000000u);
    std::vector<int> cell_width;
    for (char ch : chars)
        cell_width.push_back((int)std::ceil(stroke_glyph_width(ch, style) * style.unit + 2 * bearing));
    // Rows: as many cells as fit; a full row's spare pixels go to its cells
    // one by one, spread over the row, so that it ends at the right edge.
    size_t i = 0;
    int top = 0;
    while (i < chars.size()) {
        size_t end = i;
        int used = 0;
        while (end < chars.size() && used + cell_width[end] <= width)
            used += cell_width[end++];
        const bool last = end == chars.size();
        const int spare = last ? 0 : width - used;
        const int count = (int)(end - i);
        int x = 0;
        for (int k = 0; k < count; k++) {
            const int extra = spare * (k + 1) / count - spare * k / count;
            const int w = cell_width[i + k] + extra;
            stroke_draw_glyph(&c, x + bearing + extra / 2.0, top + baseline, chars[i + k], style, ink);
            x += w;
            if (x < width)
                set_pixel(&c, x, top, font_marker);
        }
        const int bottom = top + cell_height;
        set_pixel(&c, 0, top, font_marker);
        if (bottom < height)
            set_pixel(&c, 0, bottom, font_marker);
        top = bottom;
        i = end;
    }
    return c;
}

uint32_t mix(uint32_t a, uint32_t b, double t)
{
    auto ch = [&](int s) {
        const double v = (a >> s & 255) + ((double)(b >> s & 255) - (a >> s & 255)) * t;
        return (uint32_t)std::lround(std::clamp(v, 0.0, 255.0)) << s;
    };
    return ch(24) | ch(16) | ch(8) | ch(0);
}

}  // namespace

std::string font_character_set()
{
    std::string s;
    for (int c = 0x21; c <= 0x7E; c++)
        s += (char)c;
    return s;
}

canvas text_font_picture()
{
    // Cap height 19 px in a 32-px cell: read at a line height of a few
    // dozen pixels, mipmapped down for smaller text. A bold pen keeps
    // small sizes legible.
    stroke_style s;
    s.unit = 2.7;
    s.weight = 1.05;
    return font_sheet(font_character_set(), s, rgba(255, 255, 255), 512, 256, 32, 24, 1.6);
}

canvas numbers_font_picture(bool condensed)
{
    stroke_style s;
    s.unit = 10;
    s.weight = condensed ? 1.5 : 1.7;
    s.squeeze = condensed ? 0.5 : 1.0;
    // Figures 70 px high plus the pen, centred in 96-px cells.
    return font_sheet("0123456789", s, rgba(0, 0, 0), 1024, 128, 96, 83, 3);
}

canvas tach_picture()
{
    const int size = 256;
    const double cx = size / 2.0, cy = size / 2.0, r = 124;
    canvas c(size, size, 0x00000000u);
    c.ellipse(cx, cy, r, r, rgba(170, 174, 180));
    c.ellipse(cx, cy, r - 5, r - 5, rgba(24, 26, 30));
    // Clockwise from straight up by (rpm / 1000 * 0.046875 - 0.375) turns.
    auto angle = [](double rpm) { return (rpm * 0.000046875 - 0.375) * 2 * pi; };
    auto at = [&](double a, double radius, double* x, double* y) {
        *x = cx + radius * std::sin(a);
        *y = cy - radius * std::cos(a);
    };
    // The red zone from 13000 rpm.
    for (double rpm = 13000; rpm < 16000; rpm += 50) {
        double x0, y0, x1, y1;
        at(angle(rpm), r - 14, &x0, &y0);
        at(angle(rpm + 60), r - 14, &x1, &y1);
        c.line(x0, y0, x1, y1, 12, rgba(200, 30, 24));
    }
    stroke_style label;
    label.unit = 2.6;
    label.weight = 1.2;
    for (int k = 0; k <= 32; k++) {
        const double rpm = k * 500.0, a = angle(rpm);
        const bool major = k % 2 == 0;
        double x0, y0, x1, y1;
        at(a, r - (major ? 26 : 18), &x0, &y0);
        at(a, r - 8, &x1, &y1);
        c.line(x0, y0, x1, y1, major ? 4 : 2, rgba(240, 240, 236));
        if (k % 4 == 0) {
            double lx, ly;
            at(a, r - 46, &lx, &ly);
            stroke_draw_centred(&c, lx, ly + 9, std::to_string(k / 2), label, rgba(240, 240, 236));
        }
    }
    stroke_style small;
    small.unit = 1.6;
    small.weight = 1.1;
    stroke_draw_centred(&c, cx, cy + 52, "RPM x1000", small, rgba(200, 200, 196));
    // The hub the needle turns on.
    c.ellipse(cx, cy, 10, 10, rgba(90, 92, 96));
    return c;
}

canvas shifter_picture()
{
    const int size = 256;
    const double cell = size / 3.0;
    canvas c(size, size, 0x00000000u);
    stroke_style s;
    s.unit = 7;
    s.weight = 1.5;
    for (int gear = 0; gear < 9; gear++) {
        const double x = (gear % 3) * cell, y = (gear / 3) * cell;
        c.rect(x + 6, y + 6, x + cell - 6, y + cell - 6, rgba(20, 22, 26, 220));
        c.rect(x + 6, y + 6, x + cell - 6, y + 10, rgba(230, 180, 30, 230));
        stroke_draw_centred(&c, x + cell / 2, y + cell / 2 + 24, std::to_string(gear + 1), s, rgba(250, 250, 245));
    }
    return c;
}

canvas pitboard_picture()
{
    // A slate on an aluminium frame with a handle at the left, as the pit
    // crew holds it out.
    canvas c(256, 128, 0x00000000u);
    c.rect(0, 54, 24, 74, rgba(60, 62, 66));
    c.rect(18, 4, 252, 124, rgba(196, 200, 206));
    c.rect(24, 10, 246, 118, rgba(18, 20, 22));
    for (int y = 10; y < 118; y++)
        for (int x = 24; x < 246; x++)
            c.blend(x, y, rgba(60, 64, 70), 0.15 + 0.1 * value_noise(0xB0A2u, x / 9.0, y / 9.0));
    for (double y : {37.0, 64.0, 91.0})
        c.rect(28, y, 242, y + 1, rgba(70, 74, 80));
    return c;
}

canvas title_picture()
{
    const int w = 1024, h = 512;
    canvas c(w, h, rgba(0, 0, 0));
    // Evening sky over a hill with a jump, a rider in the air above it.
    for (int y = 0; y < h; y++) {
        const uint32_t sky = mix(rgba(36, 62, 120), rgba(236, 150, 70), std::pow(y / (double)h, 1.6));
        for (int x = 0; x < w; x++)
            set_pixel(&c, x, y, sky);
    }
    std::vector<double> hills = {0, (double)h};
    for (int x = 0; x <= w; x += 16)
        hills.insert(hills.end(), {(double)x, 330 + 28 * std::sin(x * 0.006) + 14 * value_noise(0x7171u, x / 90.0, 0)});
    hills.insert(hills.end(), {(double)w, (double)h});
    c.polygon(hills, rgba(52, 58, 48));
    c.polygon({0, 512, 0, 430, 300, 400, 520, 350, 600, 352, 640, 420, 1024, 440, 1024, 512}, rgba(118, 82, 52));
    c.polygon({520, 350, 600, 352, 560, 372}, rgba(140, 100, 64));
    // Rider and bike as a silhouette: wheels (the sky through their
    // spokes), frame, the rider leaning over the bars.
    const uint32_t ink = rgba(16, 16, 20);
    // A 4:3 window shows only the middle two thirds of the picture (x 171
    // to 853), so the rider and the name stay inside that band.
    const double wheels[2][3] = {{670, 210, 34}, {800, 180, 36}};
    for (const auto& wh : wheels)
        c.ellipse(wh[0], wh[1], wh[2], wh[2], ink);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++)
            for (const auto& wh : wheels) {
                const double d = std::hypot(x - wh[0], y - wh[1]);
                if (d < wh[2] - 9 && d > 6)
                    set_pixel(&c, x, y, mix(rgba(36, 62, 120), rgba(236, 150, 70), std::pow(y / (double)h, 1.6)));
            }
    c.line(670, 210, 725, 175, 10, ink);
    c.line(725, 175, 800, 180, 10, ink);
    c.polygon({685, 160, 780, 140, 792, 158, 740, 178, 692, 180}, ink);
    c.line(715, 150, 710, 95, 22, ink);
    c.ellipse(720, 82, 20, 18, ink);
    c.line(710, 110, 770, 130, 9, ink);
    c.line(715, 150, 745, 178, 12, ink);
    // The name, with a dark edge so that it stands on the sky.
    stroke_style s;
    s.unit = 8;
    s.weight = 1.6;
    s.slant = 0.18;
    s.spacing = 1.0;
    const double tw = stroke_text_width("KESSRIG", s);
    stroke_style edge = s;
    edge.weight = 2.4;
    const double x0 = 190 + (440 - tw) / 2;
    const std::string name = "KESSRIG";
    for (int pass = 0; pass < 2; pass++) {
        double x = x0;
        for (char ch : name) {
            if (pass == 0)
                stroke_draw_glyph(&c, x - (edge.weight - s.weight) / 2 * s.unit, 200, ch, edge, rgba(20, 16, 14));
            else
                stroke_draw_glyph(&c, x, 200, ch, s, rgba(250, 214, 60));
            x += (stroke_glyph_width(ch, s) + s.spacing) * s.unit;
        }
    }
    stroke_style sub;
    sub.unit = 3;
    sub.weight = 1.2;
    sub.spacing = 1.6;
    stroke_draw_text(&c, x0 + 10, 232, "MOTOCROSS", sub, rgba(250, 246, 236));
    return c;
}

canvas roost_picture()
{
    // A spray of clods, lighter toward the middle: the sprite is tinted with
    // the surface's roost colour, so the picture itself stays near white.
    canvas c(64, 64, rgba(255, 255, 255, 0));
    uint32_t seed = 12345u;
    auto next = [&seed]() {
        seed = seed * 1664525u + 1013904223u;
        return (seed >> 8) / 16777216.0;
    };
    for (int i = 0; i < 26; i++) {
        const double angle = next() * 6.283185307179586;
        const double reach = std::sqrt(next()) * 24.0;
        const double x = 32.0 + std::cos(angle) * reach;
        const double y = 34.0 + std::sin(angle) * reach * 0.8;
        const double r = 2.0 + next() * (6.0 - reach * 0.12);
        const int shade = 200 + (int)(next() * 55.0);
        c.ellipse(x, y, r, r * (0.7 + 0.3 * next()), rgba(shade, shade, shade, 255));
    }
    return c;
}

void add_hud_pictures(output& out)
{
    add_member(out, "roost.png", canvas_png(roost_picture(), true));
    add_member(out, "font.png", canvas_png(text_font_picture(), true));
    add_member(out, "numbers.png", canvas_png(numbers_font_picture(false), true));
    add_member(out, "numbers-condensed.png", canvas_png(numbers_font_picture(true), true));
    add_member(out, "tach.png", canvas_png(tach_picture(), true));
    add_member(out, "shifter.png", canvas_png(shifter_picture(), true));
    add_member(out, "pitboard.png", canvas_png(pitboard_picture(), true));
    add_member(out, "title.png", canvas_png(title_picture(), false));
}

}  // namespace mkdata
