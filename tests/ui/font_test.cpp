// The font tables from marker-lined pictures, text measurement and the text
// walk's colours, without GL; and the generated text font read through the
// same preparation.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "files/datafs.h"
#include "files/memory.h"
#include "render/picture.h"
#include "test_support.h"
#include "ui/font.h"

namespace {

const unsigned char marker[4] = {255, 0, 255, 255};

// A picture of w x h transparent pixels with markers where asked; the
// caller's font takes it over.
unsigned char* sheet(int w, int h, const std::vector<std::pair<int, int>>& markers)
{
    unsigned char* p = (unsigned char*)mem_alloc_or_die((size_t)w * h * 4);
    memset(p, 0, (size_t)w * h * 4);
    for (auto [x, y] : markers)
        memcpy(p + ((size_t)y * w + x) * 4, marker, 4);
    return p;
}

struct glyphs {
    std::vector<text_glyph> list;
    static void add(void* context, const text_glyph& g) { ((glyphs*)context)->list.push_back(g); }
};

std::vector<text_glyph> walk(const bitmap_font& f, const char* text, int flags, float r = 0.2f, float g = 0.4f,
                             float b = 0.6f)
{
    glyphs out;
    text_walk(f, text, r, g, b, 0.5f, flags, glyphs::add, &out);
    return out.list;
}

// Two rows of cells in a 40 x 20 picture: "AB-" on the first (widths 10,
// 10, 20), "C" 20 wide on the second; each row 10 high.
struct two_rows : ::testing::Test {
    bitmap_font f;
    void SetUp() override
    {
        font_prepare(&f, sheet(40, 20, {{0, 0}, {10, 0}, {20, 0}, {0, 10}, {20, 10}}), 40, 20, "AB-C");
    }
    void TearDown() override { mem_free(f.pixels); }
};

TEST_F(two_rows, cells_rows_and_transparent_markers)
{
    EXPECT_FLOAT_EQ(f.tex_left['A'], 0.0f);
    EXPECT_FLOAT_EQ(f.tex_right['A'], 0.25f);
    EXPECT_FLOAT_EQ(f.tex_bottom['A'], 0.5f);
    EXPECT_FLOAT_EQ(f.advance['A'], 1.0f);
    EXPECT_FLOAT_EQ(f.tex_left['-'], 0.5f);
    EXPECT_FLOAT_EQ(f.tex_right['-'], 1.0f);
    EXPECT_FLOAT_EQ(f.advance['-'], 2.0f);
    // The second row starts at the first row's bottom and runs to the
    // picture's bottom (no marker below it).
    EXPECT_FLOAT_EQ(f.tex_top['C'], 0.5f);
    EXPECT_FLOAT_EQ(f.tex_bottom['C'], 1.0f);
    EXPECT_FLOAT_EQ(f.tex_right['C'], 0.5f);
    EXPECT_FLOAT_EQ(f.advance['C'], 2.0f);
    // The space advances like '-'; a byte outside the set keeps 2/3 and an
    // empty rectangle.
    EXPECT_FLOAT_EQ(f.advance[' '], 2.0f);
    EXPECT_FLOAT_EQ(f.advance['z'], 2.0f / 3.0f);
    EXPECT_EQ(f.tex_right['z'], 0.0f);
    for (int i = 0; i < 40 * 20; i++)
        EXPECT_EQ(f.pixels[i * 4 + 3], 0) << i;
}

TEST_F(two_rows, width_is_the_last_line_and_escapes_take_no_room)
{
    EXPECT_FLOAT_EQ(font_text_width(f, "AB"), 2.0f);
    EXPECT_FLOAT_EQ(font_text_width(f, "ABC\nA"), 1.0f);
    EXPECT_FLOAT_EQ(font_text_width(f, "C\rB"), 1.0f);
    EXPECT_FLOAT_EQ(font_text_width(f, "\x1b[1;31mA\x1b[0mB"), 2.0f);
    EXPECT_FLOAT_EQ(font_text_width(f, "z"), 2.0f / 3.0f);
    // Tab stops are 8 spaces (16 units) apart.
    EXPECT_FLOAT_EQ(font_text_width(f, "A\tB"), 17.0f);
    EXPECT_FLOAT_EQ(font_text_width(f, "CCCCCCCC\tB"), 33.0f);
    // A sequence cut short by the end of the string ends the text.
    EXPECT_FLOAT_EQ(font_text_width(f, "A\x1b[12;4"), 1.0f);
    EXPECT_FLOAT_EQ(font_text_width(f, "A\x1b"), 1.0f);

    // Drawing places the glyphs where measurement counts them; the second
    // line one unit down.
    const std::vector<text_glyph> g = walk(f, "A B\nC", text_caller_colour);
    ASSERT_EQ(g.size(), 3u);
    EXPECT_FLOAT_EQ(g[1].x, 3.0f);
    EXPECT_FLOAT_EQ(g[2].x, 0.0f);
    EXPECT_FLOAT_EQ(g[2].y, -1.0f);
    EXPECT_TRUE(text_blank(" \t\r\n "));
    EXPECT_FALSE(text_blank("  A"));
}

TEST_F(two_rows, escape_colours_in_the_main_and_shadow_pass)
{
    auto colour_of = [&](const char* text, int flags) {
        const std::vector<text_glyph> g = walk(f, text, flags);
        EXPECT_EQ(g.size(), 1u) << text;
        return g.empty() ? text_rgba() : g.back().colour;
    };
    text_rgba c = colour_of("\x1b[1mA", text_caller_colour);
    EXPECT_FLOAT_EQ(c.r, 0.45f);
    EXPECT_FLOAT_EQ(c.b, 0.85f);
    EXPECT_FLOAT_EQ(c.a, 0.5f);
    c = colour_of("\x1b[31mA", text_caller_colour);
    EXPECT_FLOAT_EQ(c.r, 0.75f);
    EXPECT_FLOAT_EQ(c.g, 0.0f);
    c = colour_of("\x1b[1;31mA", text_caller_colour);
    EXPECT_FLOAT_EQ(c.r, 1.0f);
    c = colour_of("\x1b[1;31;22mA", text_caller_colour);
    EXPECT_FLOAT_EQ(c.r, 0.75f);
    // The shadow pass takes background codes and ignores foreground ones;
    // the main pass the other way round.
    c = colour_of("\x1b[44mA", text_caller_colour | text_shadow_pass);
    EXPECT_FLOAT_EQ(c.b, 0.75f);
    EXPECT_FLOAT_EQ(c.r, 0.0f);
    c = colour_of("\x1b[44mA", text_caller_colour);
    EXPECT_FLOAT_EQ(c.r, 0.2f);
    c = colour_of("\x1b[31mA", text_caller_colour | text_shadow_pass);
    EXPECT_FLOAT_EQ(c.r, 0.2f);
    // After a reset the shadow has the caller's colour again, and stays a
    // shadow: a later foreground code does not colour it.
    c = colour_of("\x1b[44m\x1b[0mA", text_caller_colour | text_shadow_pass);
    EXPECT_FLOAT_EQ(c.r, 0.2f);
    EXPECT_FLOAT_EQ(c.b, 0.6f);
    c = colour_of("\x1b[44m\x1b[0m\x1b[32mA", text_caller_colour | text_shadow_pass);
    EXPECT_FLOAT_EQ(c.g, 0.4f);
    c = colour_of("\x1b[44;31mA", text_caller_colour | text_shadow_pass);
    EXPECT_FLOAT_EQ(c.b, 0.75f);
    // Skipped, not interpreted.
    c = colour_of("\x1b[31mA", text_caller_colour | text_skip_escapes);
    EXPECT_FLOAT_EQ(c.r, 0.2f);
    // Hostile sequences: hundreds of numbers, huge numbers, no final byte.
    std::string many = "\x1b[";
    for (int i = 0; i < 300; i++)
        many += "31;";
    many += "99999999999999999999;32mA";
    // Only the first 64 numbers count: the 32 at the end is dropped.
    c = colour_of(many.c_str(), text_caller_colour);
    EXPECT_FLOAT_EQ(c.r, 0.75f);
    EXPECT_FLOAT_EQ(c.g, 0.0f);
    c = colour_of("\x1b[99999999999999999999;32mA", text_caller_colour);
    EXPECT_FLOAT_EQ(c.g, 0.75f);
    EXPECT_TRUE(walk(f, "\x1b[31;", text_caller_colour).empty());
}

TEST(font_prepare, picture_without_markers_gives_one_pixel_cells)
{
    bitmap_font f;
    // Only pixel (0, 0) has the marker colour: no boundary in the first row
    // or column, so the first cell is one pixel wide and one tall.
    font_prepare(&f, sheet(3, 4, {{0, 0}}), 3, 4, "abcd");
    EXPECT_FLOAT_EQ(f.tex_left['a'], 0.0f);
    EXPECT_FLOAT_EQ(f.tex_right['a'], 1.0f / 3);
    EXPECT_FLOAT_EQ(f.tex_bottom['a'], 0.25f);
    EXPECT_FLOAT_EQ(f.advance['a'], 1.0f);
    // The walk carries on without reading outside the picture.
    for (unsigned char c : std::string("bcd")) {
        EXPECT_LE(f.tex_right[c], 1.0f) << c;
        EXPECT_LE(f.tex_bottom[c], 1.0f) << c;
    }
    mem_free(f.pixels);
}

TEST(font_prepare, generated_text_font_has_every_character)
{
    test::scoped_env kz{"KZ_HOME", test::build_data_dir().c_str()};
    build_file_index();
    picture p;
    ASSERT_TRUE(read_rgba_picture("@font.png", &p));
    mem_free(p.text);
    bitmap_font f;
    std::string set;
    for (int c = 0x21; c <= 0x7E; c++)
        set += (char)c;
    font_prepare(&f, p.pixels, p.width, p.height, set.c_str());
    for (unsigned char c : set) {
        EXPECT_GT(f.tex_right[c], f.tex_left[c]) << c;
        EXPECT_GT(f.tex_bottom[c], f.tex_top[c]) << c;
        EXPECT_GT(f.advance[c], 0.1f) << c;
        EXPECT_LT(f.advance[c], 1.5f) << c;
    }
    // Digits are as wide as each other, so columns of figures line up.
    for (char c = '1'; c <= '9'; c++)
        EXPECT_NEAR(f.advance[(unsigned char)c], f.advance['0'], 0.1f) << c;
    EXPECT_NEAR(font_text_width(f, "Final Results"), 7.0f, 3.5f);
    mem_free(f.pixels);
    free_file_index();
}

}  // namespace
