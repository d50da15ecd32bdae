// The fonts and the pictures of the heads-up display and the title screen.
//
// A font picture holds one glyph cell per character of its set, in order,
// row by row. Pixel (0, 0) has the marker colour; each cell row's top line
// carries a marker pixel at every cell's right edge and the left column one
// at every row's bottom edge. Every row but the last is filled exactly to
// the picture's width (the cell walk starts a new row only there). The
// marker pixels are what the font loader turns transparent.
#pragma once

#include <cstdint>
#include <string>

#include "mkdata.h"
#include "track_pictures.h"

namespace mkdata {

// The marker colour of the generated fonts (opaque magenta; no glyph pixel
// has it).
constexpr uint32_t font_marker = 0xFF00FFFFu;

// The characters of the text font: 0x21 to 0x7E in order.
std::string font_character_set();

// "@font.png": white glyphs on transparent ground, 32-pixel cells.
canvas text_font_picture();
// "@numbers.png" and "@numbers-condensed.png": black figures, 96-pixel
// cells, sized so that two ordinary figures fit a 128-pixel number plate
// and three condensed ones do.
canvas numbers_font_picture(bool condensed);

// "!@tach.png" (needle pivot at the centre; 8000 rpm straight up, 16875
// thousandths of a turn per 1000 rpm), "!@shifter.png" (3 x 3 gear cells:
// column = gear mod 3, row = gear div 3, first gear top left),
// "!@pitboard.png" and "!@title.png" (2:1).
canvas tach_picture();
canvas shifter_picture();
canvas pitboard_picture();
canvas title_picture();
// The sprite of a clump of thrown dirt (tinted by the surface's colour).
canvas roost_picture();

// Adds the fonts and pictures to the main archive.
void add_hud_pictures(output& out);

}  // namespace mkdata
