// The texture loader on a real context: what ends up in GL (sizes, wrap
// modes, pixels) for names, links, sequences and number plates, and the
// registry's sharing, warnings, generations and release.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gl_test_context.h"
#include "render/picture.h"
#include "render/texture.h"
#include "test_support.h"

namespace {

using bytes = std::vector<unsigned char>;

bytes solid(int w, int h, bytes colour)
{
    bytes out;
    for (int i = 0; i < w * h; i++)
        out.insert(out.end(), colour.begin(), colour.end());
    return out;
}

bytes noise(int w, int h, int channels, unsigned seed = 7)
{
    bytes out(size_t(w) * h * channels);
    for (auto& b : out) {
        seed = seed * 1103515245u + 12345u;
        b = static_cast<unsigned char>(seed >> 16);
    }
    return out;
}

std::string encoded(bool ok, picture_bytes* b)
{
    EXPECT_TRUE(ok);
    std::string s(reinterpret_cast<const char*>(b->data), b->size);
    picture_bytes_free(b);
    return s;
}

struct texture_test : gl_test {
    test::data_dirs_fixture dirs;

    void TearDown() override
    {
        if (window)
            textures_release(true);
        texture_generation = 0;
        texture_memory = 0;
        g_texture_settings = texture_settings{};
        set_plate_fonts(nullptr, nullptr);
        gl_test::TearDown();
    }

    // A data file in the game data directory; name without the "@".
    void put(const std::string& name, const std::string& content) { test::write_file(dirs.game + "/" + name, content); }
    void put_png(const std::string& name, const bytes& pixels, int w, int h, int channels,
                 const char* text = nullptr)
    {
        picture_bytes b;
        put(name, encoded(encode_png(pixels.data(), w, h, channels, false, text, &b), &b));
    }
    std::string q7(const bytes& rgba, int w, int h)
    {
        picture_bytes b;
        return encoded(encode_predictive(rgba.data(), w, h, 4, &b), &b);
    }

    bytes pixels_of(unsigned id, int* w = nullptr, int* h = nullptr)
    {
        int tw = 0, th = 0;
        bytes out = read_texture(id, 0, &tw, &th);
        if (w)
            *w = tw;
        if (h)
            *h = th;
        return out;
    }
    int width_of(unsigned id)
    {
        int w = 0, h = 0;
        read_texture(id, 0, &w, &h);
        return w;
    }
    bytes first_pixel(unsigned id)
    {
        const bytes all = pixels_of(id);
        return bytes(all.begin(), all.begin() + 4);
    }
    GLint parameter(unsigned id, GLenum which)
    {
        GLint value = 0;
        glBindTexture(GL_TEXTURE_2D, id);
        glGetTexParameteriv(GL_TEXTURE_2D, which, &value);
        glBindTexture(GL_TEXTURE_2D, 0);
        return value;
    }
    size_t count(const std::string& text, const std::string& what)
    {
        size_t n = 0;
        for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
            n++;
        return n;
    }
};

}  // namespace

TEST_F(texture_test, full_resolution_marker_shares_the_record_and_the_level_drops_large_levels)
{
    g_texture_settings.level = 1;
    put_png("title.png", noise(512, 512, 3), 512, 512, 3);
    put_png("other.png", noise(512, 512, 3, 9), 512, 512, 3);
    put_png("wide.png", noise(256, 128, 4), 256, 128, 4);

    // Whichever request comes first decides the resolution of both.
    const unsigned full = texture_get("!@title.png");
    ASSERT_NE(full, 0u);
    EXPECT_EQ(texture_get("@title.png"), full);
    EXPECT_EQ(width_of(full), 512);
    EXPECT_STREQ(texture_name(full), "@title.png");

    const unsigned other = texture_get("@other.png");
    EXPECT_EQ(width_of(other), 256);
    EXPECT_EQ(texture_get("!@other.png"), other);
    EXPECT_EQ(width_of(other), 256);
    // The texture's pixels are the picture's second level.
    picture pic;
    ASSERT_TRUE(png_decode("@other.png", &pic));
    const unsigned char* level1 = pic.pixels + 512 * 512 * 3;
    const bytes got = pixels_of(other);
    EXPECT_EQ(bytes(got.begin(), got.begin() + 3), bytes(level1, level1 + 3));
    EXPECT_EQ(bytes(got.end() - 4, got.end() - 1), bytes(level1 + 256 * 256 * 3 - 3, level1 + 256 * 256 * 3));
    picture_free(&pic);

    g_texture_settings.level = 3;
    const unsigned wide = texture_get("@wide.png");
    int w, h;
    pixels_of(wide, &w, &h);
    EXPECT_EQ(w, 256);
    EXPECT_EQ(h, 128);
}

TEST_F(texture_test, flat_pictures_shrink_to_16_and_odd_sizes_round_down_with_a_warning)
{
    put_png("flat.png", solid(64, 64, {40, 80, 120, 255}), 64, 64, 4);
    put_png("flat16.png", solid(16, 16, {40, 80, 120}), 16, 16, 3);
    put_png("odd.png", noise(256, 100, 3), 256, 100, 3);
    int w, h;
    const unsigned flat = texture_get("@flat.png");
    const bytes p = pixels_of(flat, &w, &h);
    EXPECT_EQ(w, 16);
    EXPECT_EQ(h, 16);
    EXPECT_EQ(bytes(p.begin(), p.begin() + 4), (bytes{40, 80, 120, 255}));
    pixels_of(texture_get("@flat16.png"), &w, &h);
    EXPECT_EQ(w, 16);
    pixels_of(texture_get("@odd.png"), &w, &h);
    EXPECT_EQ(w, 128);
    EXPECT_EQ(h, 64);
    const std::string log = log_text();
    EXPECT_NE(log.find("@flat.png reduced to 16x16 (originally 64x64)\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("@flat16.png reduced"), std::string::npos) << log;
    EXPECT_NE(log.find("Warning: Non power of 2 texture '@odd.png'\n"), std::string::npos) << log;
    EXPECT_EQ(count(log, "Non power of 2"), 1u);
}

TEST_F(texture_test, wrap_modes_follow_the_name)
{
    const bytes px = noise(32, 32, 3);
    put_png("a-repeat.png", px, 32, 32, 3);
    put_png("a-hrepeat.png", px, 32, 32, 3);
    put_png("a-vrepeat.png", px, 32, 32, 3);
    put_png("a-repeat.png.bak", px, 32, 32, 3);
    put_png("a.png", px, 32, 32, 3);
    struct expected {
        const char* name;
        GLint s, t;
    } cases[] = {
        {"@a-repeat.png", GL_REPEAT, GL_REPEAT},
        {"@a-hrepeat.png", GL_REPEAT, GL_CLAMP_TO_EDGE},
        {"@a-vrepeat.png", GL_CLAMP_TO_EDGE, GL_REPEAT},
        {"@a.png", GL_CLAMP_TO_EDGE, GL_CLAMP_TO_EDGE},
    };
    for (const expected& e : cases) {
        const unsigned id = texture_get(e.name);
        ASSERT_NE(id, 0u) << e.name;
        EXPECT_EQ(parameter(id, GL_TEXTURE_WRAP_S), e.s) << e.name;
        EXPECT_EQ(parameter(id, GL_TEXTURE_WRAP_T), e.t) << e.name;
        EXPECT_EQ(parameter(id, GL_TEXTURE_MIN_FILTER), GL_LINEAR_MIPMAP_NEAREST) << e.name;
    }
}

TEST_F(texture_test, compression_follows_the_picture_text_and_the_setting)
{
    const bytes px = noise(64, 64, 4);
    put_png("asked.png", px, 64, 64, 4, "[compress]");
    put_png("plain.png", px, 64, 64, 4);
    put_png("refused.png", px, 64, 64, 4, "[compress]");
    auto compressed = [&](unsigned id) {
        GLint value = 0;
        glBindTexture(GL_TEXTURE_2D, id);
        glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_COMPRESSED, &value);
        glBindTexture(GL_TEXTURE_2D, 0);
        return value != 0;
    };
    const unsigned asked = texture_get("@asked.png");
    ASSERT_NE(asked, 0u);
    if (!compressed(asked))
        GTEST_SKIP() << "the driver keeps generic compressed formats uncompressed";
    EXPECT_STREQ(texture_text(asked), "[compress]");
    EXPECT_FALSE(compressed(texture_get("@plain.png")));
    g_texture_settings.compress = texture_compress_no;
    EXPECT_FALSE(compressed(texture_get("@refused.png")));
    g_texture_settings.compress = texture_compress_always;
    put_png("always.png", px, 64, 64, 4);
    EXPECT_TRUE(compressed(texture_get("@always.png")));
}

TEST_F(texture_test, a_sequence_holds_its_last_entry_or_loops)
{
    const bytes red = solid(8, 8, {255, 0, 0, 255});
    const bytes green = solid(8, 8, {0, 255, 0, 255});
    const bytes blue = solid(8, 8, {0, 0, 255, 255});
    const std::string pictures = q7(red, 8, 8) + q7(green, 8, 8) + q7(blue, 8, 8);
    // Entries 1, 2, 0: green from tick 0, blue from 4, red from 8.
    put("hold.seq", "ANIM1 3 3 4 0\n1 2 0\n" + pictures);
    put("loop.seq", "ANIM1 3 3 4 1\n1 2 0\n" + pictures);
    const unsigned hold = texture_get("@hold.seq");
    const unsigned loop = texture_get("@loop.seq");
    ASSERT_NE(hold, 0u);
    ASSERT_NE(loop, 0u);
    EXPECT_EQ(first_pixel(hold), (bytes{0, 255, 0, 255}));
    struct step {
        int tick;
        bytes hold, loop;
    } steps[] = {
        {3, {0, 255, 0, 255}, {0, 255, 0, 255}},  {4, {0, 0, 255, 255}, {0, 0, 255, 255}},
        {8, {255, 0, 0, 255}, {255, 0, 0, 255}},  {12, {255, 0, 0, 255}, {0, 255, 0, 255}},
        {1000, {255, 0, 0, 255}, {0, 0, 255, 255}}, {-50, {0, 255, 0, 255}, {0, 255, 0, 255}},
    };
    for (const step& s : steps) {
        anim_update(s.tick);
        EXPECT_EQ(first_pixel(hold), s.hold) << "tick " << s.tick;
        EXPECT_EQ(first_pixel(loop), s.loop) << "tick " << s.tick;
    }
    // Every level is replaced, down to 1 x 1.
    anim_update(8);
    int w, h;
    bytes smallest = read_texture(hold, 3, &w, &h);
    EXPECT_EQ(w, 1);
    EXPECT_EQ(smallest, (bytes{255, 0, 0, 255}));

    // A stopped animation keeps its picture; a start restarts it at a tick.
    anim_stop(hold);
    anim_update(0);
    EXPECT_EQ(first_pixel(hold), (bytes{255, 0, 0, 255}));
    anim_start(hold, 100);
    anim_update(105);
    EXPECT_EQ(first_pixel(hold), (bytes{0, 0, 255, 255}));
    anim_start(12345, 0);  // not animated: ignored

    // A sequence that cannot run is no texture.
    put("still.seq", "ANIM1 3 3 0 0\n1 2 0\n" + pictures);
    put("wrong.seq", "ANIM1 3 3 4 0\n1 2 3\n" + pictures);
    EXPECT_EQ(texture_get("@still.seq"), 0u);
    EXPECT_EQ(texture_get("@wrong.seq"), 0u);
}

TEST_F(texture_test, links_lead_to_their_target_or_to_white)
{
    put_png("colors/white.png", solid(4, 4, {255, 255, 255}), 4, 4, 3);
    put_png("real.png", solid(4, 4, {10, 20, 30}), 4, 4, 3);
    put("good.png", "LINK @real.png\n");
    put("bad.png", "LINK   @missing.png  \n");
    put("self.png", "LINK @self.png\n");

    const unsigned real = texture_get("@good.png");
    ASSERT_NE(real, 0u);
    EXPECT_EQ(texture_get("@real.png"), real);
    EXPECT_EQ(texture_get("@good.png"), real);
    EXPECT_STREQ(texture_name(real), "@real.png");

    // The target cannot be loaded: nothing now, white from then on.
    EXPECT_EQ(texture_get("@bad.png"), 0u);
    const unsigned white = texture_get("@bad.png");
    ASSERT_NE(white, 0u);
    EXPECT_EQ(white, texture_get("@colors/white.png"));
    EXPECT_EQ(pixels_of(white), solid(4, 4, {255, 255, 255, 255}));
    // A link to itself ends at white too.
    EXPECT_EQ(texture_get("@self.png"), white);
}

TEST_F(texture_test, a_request_in_other_letter_case_finds_the_record_and_warns_each_time)
{
    put_png("plate.png", noise(8, 8, 3), 8, 8, 3);
    const unsigned id = texture_get("@plate.png");
    ASSERT_NE(id, 0u);
    EXPECT_EQ(texture_get("@Plate.PNG"), id);
    EXPECT_EQ(texture_get("!@PLATE.png"), id);
    EXPECT_EQ(texture_get("@plate.png"), id);
    const std::string log = log_text();
    EXPECT_EQ(count(log, "Warning: case mismatch on '"), 2u) << log;
    EXPECT_NE(log.find("Warning: case mismatch on '@Plate.PNG'\n"), std::string::npos) << log;
}

TEST_F(texture_test, release_keeps_the_first_and_current_generations)
{
    g_texture_settings.debug = 1;
    put_png("keep.png", noise(16, 16, 3), 16, 16, 3);
    put_png("old.png", noise(16, 16, 3, 2), 16, 16, 3);
    put_png("again.png", noise(16, 16, 4, 3), 16, 16, 4);
    put_png("img.png", noise(16, 16, 3, 4), 16, 16, 3);
    put("anim.seq", "ANIM1 1 1 4 0 0 " + q7(solid(4, 4, {1, 2, 3, 4}), 4, 4));

    const unsigned keep = texture_get("@keep.png");  // before the first track: kept for good
    texture_generation = 1;
    texture_memory = 0;
    const unsigned old = texture_get("@old.png");
    const unsigned again = texture_get("@again.png");
    const unsigned anim = texture_get("@anim.seq");
    const unsigned char* chain = nullptr;
    int w, h;
    ASSERT_TRUE(image_get("@img.png", &chain, &w, &h));
    // 16 x 16 RGBA and its smaller levels.
    const unsigned long again_bytes = 4 * (256 + 64 + 16 + 4 + 1);
    ASSERT_TRUE(keep && old && again && anim);

    // The next track uses one texture again: its memory counts once more.
    texture_generation = 2;
    texture_memory = 0;
    EXPECT_EQ(texture_get("@again.png"), again);
    EXPECT_EQ(texture_memory, again_bytes);
    EXPECT_EQ(texture_get("@again.png"), again);
    EXPECT_EQ(texture_memory, again_bytes);
    textures_release(false);

    EXPECT_TRUE(glIsTexture(keep));
    EXPECT_TRUE(glIsTexture(again));
    EXPECT_FALSE(glIsTexture(old));
    EXPECT_FALSE(glIsTexture(anim));
    EXPECT_EQ(texture_name(old), nullptr);
    EXPECT_EQ(image_name(chain), nullptr);
    EXPECT_STREQ(texture_name(keep), "@keep.png");
    // A released texture is loaded afresh when asked for again.
    const unsigned reloaded = texture_get("@old.png");
    EXPECT_NE(reloaded, 0u);
    EXPECT_STREQ(texture_name(reloaded), "@old.png");

    textures_release(true);
    EXPECT_FALSE(glIsTexture(keep));
    EXPECT_EQ(texture_name(keep), nullptr);
    const std::string log = log_text();
    EXPECT_NE(log.find("deleting tid " + std::to_string(old) + " (@old.png)\n"), std::string::npos) << log;
    EXPECT_NE(log.find("deleting image @img.png\n"), std::string::npos) << log;
    EXPECT_NE(log.find("deleting anim 0 for tid " + std::to_string(anim) + "\n"), std::string::npos) << log;
    EXPECT_EQ(count(log, "(@again.png)"), 1u) << log;  // only at the end
    EXPECT_EQ(count(log, "deleting tid "), 5u) << log;
}

TEST_F(texture_test, pictures_in_memory_are_rgba_rounded_and_shared)
{
    g_texture_settings.level = 1;
    bytes rgb(256 * 100 * 3);
    for (int y = 0; y < 100; y++)
        for (int x = 0; x < 256; x++) {
            rgb[(y * 256 + x) * 3] = static_cast<unsigned char>(x);
            rgb[(y * 256 + x) * 3 + 1] = static_cast<unsigned char>(y);
            rgb[(y * 256 + x) * 3 + 2] = 9;
        }
    put_png("tile.png", rgb, 256, 100, 3);
    put_png("big.png", noise(512, 512, 4), 512, 512, 4);
    const unsigned char* chain = nullptr;
    int w = 0, h = 0;
    ASSERT_TRUE(image_get("!@tile.png", &chain, &w, &h));
    EXPECT_EQ(w, 256);
    EXPECT_EQ(h, 64);
    EXPECT_EQ(bytes(chain + (10 * 256 + 7) * 4, chain + (10 * 256 + 8) * 4), (bytes{7, 10 * 100 / 64, 9, 255}));
    // Alpha 255 down to the 1 x 1 level.
    EXPECT_EQ(chain[mip_level_offset(256, 64, 4, 8) + 3], 255);
    EXPECT_STREQ(image_name(chain), "@tile.png");
    const unsigned char* again = nullptr;
    ASSERT_TRUE(image_get("@Tile.png", &again, &w, &h));
    EXPECT_EQ(again, chain);

    ASSERT_TRUE(image_get("@big.png", &chain, &w, &h));
    EXPECT_EQ(w, 256);
    EXPECT_FALSE(image_get("@none.png", &chain, &w, &h));
    EXPECT_NE(log_text().find("Warning: case mismatch on '@Tile.png'"), std::string::npos);
}

TEST_F(texture_test, number_plates_paint_the_figures_in_their_colours)
{
    const uint8_t background[3] = {200, 100, 50};
    const uint8_t figure[3] = {10, 20, 30};
    // Without fonts the plate is blank: the background colour, transparent.
    GLuint blank = number_plate_texture("12", 32, 32, background, figure);
    ASSERT_NE(blank, 0u);
    bytes p = pixels_of(blank);
    EXPECT_EQ(bytes(p.begin() + (16 * 32 + 16) * 4, p.begin() + (16 * 32 + 17) * 4), (bytes{200, 100, 50, 0}));
    glDeleteTextures(1, &blank);

    // A font of two glyphs: '1' an opaque black block of 4 x 8 texels, '2'
    // a half-transparent black one, in a 16 x 8 font picture.
    bytes font_pixels(16 * 8 * 4, 0);
    for (int y = 0; y < 8; y++)
        for (int x = 0; x < 16; x++)
            font_pixels[(y * 16 + x) * 4 + 3] = x < 4 ? 255 : x < 8 ? 128 : 0;
    plate_font font;
    font.pixels = font_pixels.data();
    font.width = 16;
    font.height = 8;
    font.left['1'] = 0;
    font.right['1'] = 0.25f;
    font.left['2'] = 0.25f;
    font.right['2'] = 0.5f;
    font.bottom['1'] = font.bottom['2'] = 1;
    set_plate_fonts(&font, nullptr);

    // "12" is 8 x 8, centred on a 32 x 32 plate: columns 12..15 and 16..19,
    // rows 12..19.
    GLuint plate = number_plate_texture("12", 32, 32, background, figure);
    p = pixels_of(plate);
    auto at = [&](int x, int y) { return bytes(p.begin() + (y * 32 + x) * 4, p.begin() + (y * 32 + x + 1) * 4); };
    EXPECT_EQ(at(12, 12), (bytes{10, 20, 30, 255}));
    EXPECT_EQ(at(15, 19), (bytes{10, 20, 30, 255}));
    // Half covered: the colour halfway, alpha s x s = 0.25 (of 128 / 255).
    EXPECT_EQ(at(16, 12), (bytes{104, 59, 39, 64}));
    EXPECT_EQ(at(20, 12), (bytes{200, 100, 50, 0}));
    EXPECT_EQ(at(11, 15), (bytes{200, 100, 50, 0}));
    EXPECT_EQ(at(14, 20), (bytes{200, 100, 50, 0}));
    // The outermost ring is transparent white at every level.
    EXPECT_EQ(at(0, 0), (bytes{255, 255, 255, 0}));
    EXPECT_EQ(at(31, 17), (bytes{255, 255, 255, 0}));
    int w, h;
    bytes level3 = read_texture(plate, 3, &w, &h);
    ASSERT_EQ(w, 4);
    EXPECT_EQ(bytes(level3.begin(), level3.begin() + 4), (bytes{255, 255, 255, 0}));
    EXPECT_EQ(texture_name(plate), nullptr);  // not registered
    glDeleteTextures(1, &plate);
}
