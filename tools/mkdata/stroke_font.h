// A stroke font for the generated pictures: every printable ASCII character
// as a few pen strokes (lines and elliptic arcs) on a small grid, drawn with
// a round pen of any width. It serves the game's bitmap fonts, the HUD
// pictures and the lettering on the bike and rider textures.
//
// Glyph units: the baseline at 0, lower case 5 high, capitals and digits 7,
// ascenders 7.5, descenders down to -2. Widths vary by glyph.
#pragma once

#include <cstdint>
#include <string>

#include "track_pictures.h"

namespace mkdata {

struct stroke_style {
    double unit = 3;       // pixels per glyph unit, vertically
    double squeeze = 1;    // horizontal scale (below 1: condensed)
    double weight = 0.9;   // pen width in glyph units
    double slant = 0;      // horizontal shift per unit of height (italics)
    double spacing = 0.8;  // extra space between glyphs, glyph units
};

// Width of the ink of one glyph (the pen included), glyph units before the
// squeeze; 0 for characters outside 0x21..0x7E (the space is 2.5).
double stroke_glyph_width(char c, const stroke_style& style);
// Advance of a whole string in pixels (ink plus spacing per glyph).
double stroke_text_width(const std::string& s, const stroke_style& style);

// Draws the glyph with its ink's left edge at x and its baseline at y
// (pixels), blending colour over the canvas by the pen's coverage.
void stroke_draw_glyph(canvas* c, double x, double baseline, char ch, const stroke_style& style, uint32_t colour);
// Draws a string; returns its width in pixels.
double stroke_draw_text(canvas* c, double x, double baseline, const std::string& s, const stroke_style& style,
                        uint32_t colour);
// The same centred on cx.
void stroke_draw_centred(canvas* c, double cx, double baseline, const std::string& s, const stroke_style& style,
                         uint32_t colour);

}  // namespace mkdata
