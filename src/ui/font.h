// Bitmap fonts and text drawing. A font picture holds one glyph cell per
// character of its set, cells separated by pixels of a marker colour (the
// colour of pixel (0, 0)): each cell row's top line carries a marker at every
// cell's right edge, the left column one at every row's bottom edge.
//
// Text is drawn one line-height unit high: the first line's cell covers
// y = 0..1 from x = 0 to the right, further lines go down by one unit each,
// in the current GL modelview. Strings may carry the ANSI colour sequences
// (ESC [ n;n m) that the console writes; they colour the text instead of
// being printed. Names and chat reach here from the network, so the parsing
// is bounded and never reads past the terminating NUL.
//
// The glyph table preparation and the text walk (measurement, colours, the
// glyph placement) need no GL and are tested on pixel buffers.
#pragma once

// One loaded font.
struct bitmap_font {
    unsigned texture = 0;             // GL texture, 0 when not made (drawing does nothing)
    unsigned char* pixels = nullptr;  // RGBA, width x height (mem_alloc), while kept
    int width = 0, height = 0;
    // Texture coordinates of each byte's glyph; all zero for bytes outside
    // the character set.
    float tex_left[256], tex_top[256], tex_right[256], tex_bottom[256];
    // Pen advance in line heights; 2/3 for bytes outside the set.
    float advance[256];
};

// Per-draw colour state: bits 0..3 a palette index (bit 3 the bright half).
enum text_flag_bits {
    text_palette_mask = 0x0F,
    text_bold = 0x08,
    text_caller_colour = 0x10,  // the caller's colour, not the palette
    text_shadow_pass = 0x20,    // background codes (40..47) colour, foreground ones are ignored
    text_skip_escapes = 0x40,   // escape sequences are skipped, not interpreted
};

// At most this many numbers of one escape sequence are applied.
enum { TEXT_ESCAPE_NUMBERS_MAX = 64, TEXT_BATCH_GLYPHS = 256 };

// ---- preparation (no GL) --------------------------------------------------------

// Empty tables: every rectangle zero, every advance 2/3.
void font_clear(bitmap_font* f);
// Builds the glyph table of the character set from an RGBA picture, turns
// the marker pixels transparent and keeps the pixels (taken over: a
// mem_alloc'd buffer, freed by font_free). The space advances like '-'.
void font_prepare(bitmap_font* f, unsigned char* pixels, int width, int height, const char* charset);
// Frees the pixels and the texture (when a GL context made one) and clears
// the tables.
void font_free(bitmap_font* f);

// ---- the text walk (no GL) ---------------------------------------------------------

struct text_rgba {
    float r = 1, g = 1, b = 1, a = 1;
};
// The colour a glyph is drawn in with the flags: the caller's (each channel
// raised by 0.25, at most 1, in bold) with text_caller_colour, else the
// palette entry. Alpha is always the caller's.
text_rgba text_colour(int flags, float r, float g, float b, float a);
// Applies one escape sequence starting at the ESC to the flags (unless
// text_skip_escapes is set) and returns the byte after it.
const char* text_escape(const char* esc, int* flags);

// One glyph as the walk places it: its cell from (x, y) to (x + advance,
// y + 1) in line-height units.
struct text_glyph {
    unsigned char c = 0;
    float x = 0, y = 0, advance = 0;
    text_rgba colour;
};
// Walks the text as drawing does and hands every glyph to emit (spaces,
// tabs, line breaks and escapes move the pen and emit nothing).
void text_walk(const bitmap_font& f, const char* text, float r, float g, float b, float a, int flags,
               void (*emit)(void* context, const text_glyph& glyph), void* context);
// Width of the last line of the text in line heights.
float font_text_width(const bitmap_font& f, const char* text);
// True when the text has nothing but spaces, tabs and line breaks.
bool text_blank(const char* text);

// ---- the game's fonts -------------------------------------------------------------

// "@font.png" (the text font, made a texture), "@numbers.png" and
// "@numbers-condensed.png" (kept as pixels for the number plates).
extern bitmap_font g_text_font;
extern bitmap_font g_number_font;
extern bitmap_font g_condensed_font;

// Reads the picture and prepares the font; a picture that cannot be read
// reports "Can't open font '%.512s'" and leaves the font empty. make_texture
// (needs a GL context) turns it into a texture and frees the pixels.
bool load_font(bitmap_font* f, const char* name, const char* charset, bool make_texture);
// The three fonts, and the digit fonts handed to the number plates.
void fonts_load();
void fonts_free();

// ---- drawing with the text font (GL) --------------------------------------------------

// Width of the last line in line heights, with the text font.
float text_width(const char* text);
// Draws the text with the flags (text_flag_bits); nothing when it is blank
// or the font has no texture.
void draw_text(float r, float g, float b, float a, const char* text, int flags);
// White text.
void text_white(const char* text);
// Text in the caller's colour.
void text_coloured(float r, float g, float b, float a, const char* text);
// A black shadow of half the alpha at (+1/16, -1/16), then the text.
void text_shadowed(float r, float g, float b, float a, const char* text);
// Grey 0.75 with a shadow.
void text_light(const char* text);
// Centred between left and right (line heights), with or without a shadow.
void text_centred(float left, float right, float r, float g, float b, float a, const char* text, bool shadow);
// Ending at x, with a shadow.
void text_right(float x, float r, float g, float b, float a, const char* text);
