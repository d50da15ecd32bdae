// Pictures of the track objects, drawn by code: trees, banners and stands
// for the billboards, the decals with their flat
// normal and specular companions, and the textures of the statue models and
// the starting gate. All deterministic.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "mkdata.h"

namespace mkdata {

// Colours are 0xRRGGBBAA.
uint32_t rgba(int r, int g, int b, int a = 255);
// Scales a colour's red, green and blue (alpha kept): factor 1 leaves it.
uint32_t shade(uint32_t c, double factor);
// Deterministic noise: a value in [0, 1) per integer point, and smooth
// value noise in -1..1.
double hash01(uint32_t x, uint32_t y, uint32_t seed);
double value_noise(uint32_t seed, double x, double y);

// An RGBA picture being drawn; rows top first.
struct canvas {
    int width = 0, height = 0;
    std::vector<uint8_t> rgba;

    canvas(int w, int h, uint32_t fill_rgba);
    // Blends colour (0xRRGGBBAA) over pixel (x, y) with the given coverage.
    void blend(int x, int y, uint32_t colour, double coverage = 1);
    // Shapes in pixel units (pixel centres at +0.5), edges smoothed by
    // 4 x 4 samples per pixel.
    void rect(double x0, double y0, double x1, double y1, uint32_t colour);
    void ellipse(double cx, double cy, double rx, double ry, uint32_t colour);
    // A convex or concave polygon (even-odd rule).
    void polygon(const std::vector<double>& xy, uint32_t colour);
    // A thick line with round ends.
    void line(double x0, double y0, double x1, double y1, double width, uint32_t colour);
    // Text in a 5 x 7 block font, each font pixel `scale` pixels; upper
    // case letters, digits, space and a few signs. Returns the width drawn.
    double text(double x, double y, double scale, const std::string& s, uint32_t colour);
    static double text_width(const std::string& s, double scale);
    // Multiplies every pixel's colour by 1 + amount * noise (alpha kept).
    void grain(uint32_t seed, double amount, double cell);
    std::vector<uint8_t> rgb() const;
};

// PNG bytes of a canvas: RGBA, or RGB when alpha is false; with text, the
// picture carries it as its attached text.
bytes canvas_png(const canvas& c, bool alpha);
bytes canvas_png(const canvas& c, bool alpha, const std::string& text);
// Binary PPM bytes of a canvas's colour.
bytes canvas_ppm(const canvas& c);

// --- The pictures ---------------------------------------------------------------

enum class tree_kind { pine, leafy, birch };
canvas tree_picture(tree_kind kind, uint32_t seed);

// A banner with a word on a coloured ground; aspect 4 (128 x 32).
canvas banner_picture(const std::string& word, uint32_t ground, uint32_t letters, uint32_t stripe);
// A grandstand full of spectators; aspect 2.5 (160 x 64).
canvas grandstand_picture(uint32_t seed);

// Spectators standing at a rope in a row; aspect 2 (128 x 64).
canvas fans_picture(uint32_t seed);

// Decals: a chequered finish strip of `columns` x 2 squares, a white line,
// a round logo, a word in block letters (aspect 4, 256 x 64).
canvas finish_decal_picture(int columns);
canvas line_decal_picture();
canvas logo_decal_picture(const std::string& word);
canvas wordmark_decal_picture(const std::string& word);

// A decal picture with the companions the terrain shader reads: "_tnorm",
// the ground's normal under it, and "_tspec", its shine. Both carry the
// picture's alpha, so that they change only the ground the picture
// covers. In "_tnorm" red holds minus the normal's component along the
// picture's width (the terrain's normal pass negates it back), green its
// component down the picture's rows, blue the upward one; "_tspec" holds
// the shine in red and its exponent / 128 in green.
struct decal_pictures {
    canvas colour, normal, specular;
};
// Paint on the ground: the ground's normal kept, the given shine.
decal_pictures painted_decal(const canvas& colour, double shine, double exponent);
// The ruts the rear wheels dig behind the starting gate: one rut for each
// of `ruts` places side by side across the picture (1024 x 64), the gate
// line along the top row, the holes where the wheels spin 5 ft behind it
// (the picture spans `length` ft from top to bottom), damp dirt shining in
// them.
decal_pictures ruts_decal(int ruts, double width, double length);

// The starting gate's texture (RGB).
canvas startgate_texture();

}  // namespace mkdata
