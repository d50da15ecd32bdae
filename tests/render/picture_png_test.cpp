// PNG decoding with its attached text and custom levels, the 16-bit grey
// reader, and the PNG writers read back.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "files/datafs.h"
#include "picture_test_util.h"
#include "platform/log.h"
#include "render/picture.h"
#include "test_support.h"

namespace {

using bytes = std::vector<unsigned char>;
using picture_test::bytes_of;
using picture_test::make_png;
using picture_test::png_layout;

struct png_test : ::testing::Test {
    test::temp_dir dir;
    picture pic;
    grey16_picture grey;
    void TearDown() override
    {
        picture_free(&pic);
        grey16_picture_free(&grey);
    }
    std::string put(const std::string& name, const std::string& content)
    {
        std::string path = dir / name;
        test::write_file(path, content);
        return path;
    }
    bytes top() const { return bytes(pic.pixels, pic.pixels + size_t(pic.width) * pic.height * pic.channels); }
    bytes pixel(int level, int x, int y) const
    {
        int w, h;
        mip_level_size(pic.width, pic.height, level, &w, &h);
        const unsigned char* p = pic.pixels + mip_level_offset(pic.width, pic.height, pic.channels, level) +
                                 (size_t(y) * w + x) * pic.channels;
        return bytes(p, p + pic.channels);
    }
};

png_layout rgba_spec(int w, int h, const bytes& rows)
{
    png_layout s;
    s.width = w;
    s.height = h;
    s.color_type = PNG_COLOR_TYPE_RGB_ALPHA;
    s.rows = rows;
    return s;
}

TEST_F(png_test, palette_with_transparency_becomes_rgba)
{
    png_layout s;
    s.width = 2;
    s.height = 2;
    s.color_type = PNG_COLOR_TYPE_PALETTE;
    s.palette = {{255, 0, 0}, {0, 0, 255}};
    s.palette_alpha = {0};  // entry 0 clear, entry 1 opaque by default
    s.rows = {0, 1, 1, 0};
    std::string path = put("pal.png", make_png(s));
    ASSERT_TRUE(png_decode(path.c_str(), &pic));
    EXPECT_EQ(pic.channels, 4);
    EXPECT_TRUE(pic.is_chain);
    EXPECT_EQ(pic.text, nullptr);
    EXPECT_EQ(top(), (bytes{255, 0, 0, 0, 0, 0, 255, 255, 0, 0, 255, 255, 255, 0, 0, 0}));
    // Only the blue texels carry weight in the smaller level.
    EXPECT_EQ(pixel(1, 0, 0), (bytes{0, 0, 255, 127}));
    picture_free(&pic);

    // Without the transparency chunk the same picture has three channels.
    s.palette_alpha.clear();
    path = put("pal3.png", make_png(s));
    ASSERT_TRUE(png_decode(path.c_str(), &pic));
    EXPECT_EQ(pic.channels, 3);
    EXPECT_EQ(pixel(0, 1, 0), (bytes{0, 0, 255}));
}

TEST_F(png_test, grey_depths_and_alpha_become_rgb_and_rgba)
{
    png_layout s;
    s.width = 8;
    s.height = 1;
    s.bit_depth = 1;
    s.color_type = PNG_COLOR_TYPE_GRAY;
    s.rows = {0xa0};  // 1,0,1,0,0,0,0,0
    ASSERT_TRUE(png_decode(put("g1.png", make_png(s)).c_str(), &pic));
    EXPECT_EQ(pic.channels, 3);
    EXPECT_EQ(pixel(0, 0, 0), (bytes{255, 255, 255}));
    EXPECT_EQ(pixel(0, 1, 0), (bytes{0, 0, 0}));
    picture_free(&pic);

    // 16-bit grey with alpha: samples stripped to their high byte.
    s.width = 1;
    s.bit_depth = 16;
    s.color_type = PNG_COLOR_TYPE_GRAY_ALPHA;
    s.rows = {0x12, 0x34, 0xff, 0x00};
    ASSERT_TRUE(png_decode(put("ga16.png", make_png(s)).c_str(), &pic));
    EXPECT_EQ(pic.channels, 4);
    EXPECT_EQ(top(), (bytes{0x12, 0x12, 0x12, 0xff}));
    picture_free(&pic);

    // Grey with a transparent value: that value becomes clear.
    s = png_layout{};
    s.width = 2;
    s.color_type = PNG_COLOR_TYPE_GRAY;
    s.grey_transparent = true;
    s.grey_transparent_value = 7;
    s.rows = {7, 9};
    ASSERT_TRUE(png_decode(put("gt.png", make_png(s)).c_str(), &pic));
    EXPECT_EQ(pic.channels, 4);
    EXPECT_EQ(top(), (bytes{7, 7, 7, 0, 9, 9, 9, 255}));
}

TEST_F(png_test, interlaced_pictures_decode_like_plain_ones)
{
    png_layout s;
    s.width = 5;
    s.height = 3;
    s.interlace = true;
    for (int i = 0; i < 15; i++)
        s.rows.insert(s.rows.end(), {static_cast<unsigned char>(i), static_cast<unsigned char>(i * 3), 200});
    ASSERT_TRUE(png_decode(put("il.png", make_png(s)).c_str(), &pic));
    EXPECT_EQ(top(), s.rows);
}

TEST_F(png_test, attached_text_before_and_after_image_data_then_info_file)
{
    // Both alphas of a block end up as the maximum only when the
    // ".info" file asks for it.
    bytes rows = {255, 0, 0, 255, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    png_layout s = rgba_spec(2, 2, rows);
    s.text_before = {"one ", "two "};
    s.text_after = {"three ", "four "};
    std::string path = put("t.png", make_png(s));
    ASSERT_TRUE(png_decode(path.c_str(), &pic));
    ASSERT_NE(pic.text, nullptr);
    EXPECT_STREQ(pic.text, "one two three four ");
    EXPECT_EQ(pixel(1, 0, 0), (bytes{255, 0, 0, 63}));
    picture_free(&pic);

    test::write_file(path + ".info", "[mip_max_alpha]\n[compress]\n");
    ASSERT_TRUE(png_decode(path.c_str(), &pic));
    EXPECT_STREQ(pic.text, "one two three four [mip_max_alpha]\n[compress]\n");
    EXPECT_EQ(pixel(1, 0, 0), (bytes{255, 0, 0, 255}));
    picture_free(&pic);

    // An ".info" file alone is attached text too.
    s.text_before.clear();
    s.text_after.clear();
    std::string bare = put("bare.png", make_png(s));
    ASSERT_TRUE(png_decode(bare.c_str(), &pic));
    EXPECT_EQ(pic.text, nullptr);
    picture_free(&pic);
    test::write_file(bare + ".info", "[mip_max_alpha]");
    ASSERT_TRUE(png_decode(bare.c_str(), &pic));
    EXPECT_STREQ(pic.text, "[mip_max_alpha]");
}

TEST_F(png_test, data_names_find_pictures_gzip_variants_and_info_files)
{
    test::data_dirs_fixture dirs;
    bytes rows = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    png_layout s;
    s.width = 2;
    s.height = 2;
    s.rows = rows;
    s.text_before = {"plate=1 "};
    // Only the gzip variant exists; its ".info" file lives in the home
    // directory while the picture is game data.
    test::write_file(dirs.game + "/pics/logo.png.gz", picture_test::gzip(make_png(s)));
    test::write_file(dirs.home + "/pics/logo.png.info", "[compress]");
    ASSERT_TRUE(png_decode("@pics/logo.png", &pic));
    EXPECT_EQ(top(), rows);
    EXPECT_STREQ(pic.text, "plate=1 [compress]");
    picture_free(&pic);

    ASSERT_TRUE(read_rgba_picture("@pics/logo.png", &pic));
    EXPECT_FALSE(pic.is_chain);
    EXPECT_EQ(top(), (bytes{1, 2, 3, 255, 4, 5, 6, 255, 7, 8, 9, 255, 10, 11, 12, 255}));
}

TEST_F(png_test, custom_levels_come_from_the_picture)
{
    // 256 x 384: each level's place in the picture gets its own colour.
    const int W = 256, H = 384;
    struct place { int x, y, size; };
    const place places[] = {{0, 0, 256},   {0, 256, 128},  {128, 256, 64}, {128, 320, 32}, {128, 352, 16},
                            {128, 368, 8}, {128, 376, 4},  {128, 380, 2},  {128, 382, 1}};
    bytes rows(size_t(W) * H * 4, 0x55);
    for (int k = 0; k < 9; k++)
        for (int y = places[k].y; y < places[k].y + places[k].size; y++)
            for (int x = places[k].x; x < places[k].x + places[k].size; x++) {
                unsigned char* p = &rows[(size_t(y) * W + x) * 4];
                p[0] = static_cast<unsigned char>(k * 20);
                p[1] = static_cast<unsigned char>(255 - k);
                p[2] = static_cast<unsigned char>(k);
                p[3] = static_cast<unsigned char>(100 + k);
            }
    png_layout s = rgba_spec(W, H, rows);
    s.text_before = {"[mip_custom]"};
    ASSERT_TRUE(png_decode(put("custom.png", make_png(s)).c_str(), &pic));
    ASSERT_EQ(pic.width, 256);
    ASSERT_EQ(pic.height, 256);
    ASSERT_EQ(mip_level_count(pic.width, pic.height), 9);
    for (int k = 0; k < 9; k++) {
        bytes colour = {static_cast<unsigned char>(k * 20), static_cast<unsigned char>(255 - k),
                        static_cast<unsigned char>(k), static_cast<unsigned char>(100 + k)};
        int n = places[k].size;
        // Corners and centre of each level.
        EXPECT_EQ(pixel(k, 0, 0), colour) << "level " << k;
        EXPECT_EQ(pixel(k, n - 1, 0), colour) << "level " << k;
        EXPECT_EQ(pixel(k, 0, n - 1), colour) << "level " << k;
        EXPECT_EQ(pixel(k, n - 1, n - 1), colour) << "level " << k;
        EXPECT_EQ(pixel(k, n / 2, n / 2), colour) << "level " << k;
    }
}

TEST_F(png_test, custom_levels_with_a_bad_height_warn_and_use_the_whole_picture)
{
    test::temp_dir logdir;
    std::string log_path = logdir / "log.txt";
    {
        test::scoped_env env("VORN_LOGFILE", log_path.c_str());
        log_reset_for_tests();
        bytes rows(4 * 4 * 4, 200);
        png_layout s = rgba_spec(4, 4, rows);
        s.text_after = {"[mip_custom]"};
        std::string path = put("bad.png", make_png(s));
        ASSERT_TRUE(png_decode(path.c_str(), &pic));
        EXPECT_EQ(pic.width, 4);
        EXPECT_EQ(pic.height, 4);
        EXPECT_EQ(pixel(2, 0, 0), (bytes{200, 200, 200, 200}));
        log_close();
        std::string log = test::read_file(log_path);
        EXPECT_NE(log.find("Warning: Invalid height for custom MIP map in '" + path + "'"), std::string::npos) << log;
    }
    log_reset_for_tests();
}

TEST_F(png_test, custom_levels_of_a_one_pixel_wide_picture_stay_inside_it)
{
    // 1 x 6: the top level is 1 x 4, then 1 x 2 below it; the cursor then
    // moves right, out of the picture, so the 1 x 1 level is filtered.
    bytes rows;
    for (int y = 0; y < 6; y++)
        rows.insert(rows.end(), {static_cast<unsigned char>(y * 40), 0, 0, 255});
    png_layout s = rgba_spec(1, 6, rows);
    s.text_before = {"[mip_custom]"};
    ASSERT_TRUE(png_decode(put("thin.png", make_png(s)).c_str(), &pic));
    ASSERT_EQ(pic.height, 4);
    EXPECT_EQ(pixel(1, 0, 0), (bytes{160, 0, 0, 255}));
    EXPECT_EQ(pixel(1, 0, 1), (bytes{200, 0, 0, 255}));
    EXPECT_EQ(pixel(2, 0, 0), (bytes{180, 0, 0, 255}));
}

TEST_F(png_test, grey16_reader_widens_and_converts)
{
    png_layout s;
    s.width = 3;
    s.color_type = PNG_COLOR_TYPE_GRAY;
    s.rows = {255, 0, 128};
    ASSERT_TRUE(read_grey16_png(put("g8.png", make_png(s)).c_str(), &grey));
    ASSERT_EQ(grey.width, 3);
    ASSERT_EQ(grey.height, 1);
    EXPECT_EQ(grey.samples[0], 65535);
    EXPECT_EQ(grey.samples[1], 0);
    EXPECT_EQ(grey.samples[2], 128 * 257);
    grey16_picture_free(&grey);

    // Colour with alpha: alpha dropped, white and black stay at the ends.
    s = rgba_spec(2, 1, {255, 255, 255, 0, 0, 0, 0, 255});
    ASSERT_TRUE(read_grey16_png(put("rgba.png", make_png(s)).c_str(), &grey));
    EXPECT_EQ(grey.samples[0], 65535);
    EXPECT_EQ(grey.samples[1], 0);
    grey16_picture_free(&grey);

    // Palette with transparency: still one grey sample per pixel.
    s = png_layout{};
    s.width = 2;
    s.color_type = PNG_COLOR_TYPE_PALETTE;
    s.palette = {{0, 0, 0}, {255, 255, 255}};
    s.palette_alpha = {0, 128};
    s.rows = {1, 0};
    ASSERT_TRUE(read_grey16_png(put("pal.png", make_png(s)).c_str(), &grey));
    EXPECT_EQ(grey.samples[0], 65535);
    EXPECT_EQ(grey.samples[1], 0);
}

TEST_F(png_test, grey16_round_trip)
{
    std::vector<uint16_t> samples = {0, 1, 255, 256, 0x1234, 0xfedc, 65534, 65535, 0x8000, 0x00ff, 42, 7};
    std::string path = dir / "terrain.png";
    ASSERT_TRUE(write_png_grey16(path.c_str(), samples.data(), 4, 3));
    // Stored big-endian: the first sample row begins 00 00 00 01.
    ASSERT_TRUE(read_grey16_png(path.c_str(), &grey));
    ASSERT_EQ(grey.width, 4);
    ASSERT_EQ(grey.height, 3);
    EXPECT_EQ(std::vector<uint16_t>(grey.samples, grey.samples + 12), samples);

    // The 8-bit picture reader sees the high bytes.
    ASSERT_TRUE(png_decode(path.c_str(), &pic));
    EXPECT_EQ(pixel(0, 0, 1), (bytes{0x12, 0x12, 0x12}));
}

TEST_F(png_test, screenshot_rows_are_written_top_first)
{
    // A 2 x 3 read-back: the first row in memory is the bottom of the screen.
    bytes readback = {0, 0, 255, 0, 0, 255,       // bottom: blue
                      0, 255, 0, 0, 255, 0,       // middle: green
                      255, 0, 0, 255, 0, 0};      // top: red
    std::string path = dir / "shot.png";
    ASSERT_TRUE(write_png_rgb(path.c_str(), readback.data(), 2, 3));
    ASSERT_TRUE(png_decode(path.c_str(), &pic));
    EXPECT_EQ(pic.channels, 3);
    EXPECT_EQ(pixel(0, 0, 0), (bytes{255, 0, 0}));
    EXPECT_EQ(pixel(0, 1, 1), (bytes{0, 255, 0}));
    EXPECT_EQ(pixel(0, 1, 2), (bytes{0, 0, 255}));
}

TEST_F(png_test, general_writer_keeps_channels_and_text)
{
    bytes ga = {10, 255, 20, 0};
    std::string path = dir / "ga.png";
    ASSERT_TRUE(write_png_picture(path.c_str(), ga.data(), 2, 1, 2, "[mip_max_alpha]"));
    ASSERT_TRUE(png_decode(path.c_str(), &pic));
    EXPECT_EQ(pic.channels, 4);
    EXPECT_STREQ(pic.text, "[mip_max_alpha]");
    EXPECT_EQ(top(), (bytes{10, 10, 10, 255, 20, 20, 20, 0}));
    EXPECT_EQ(pixel(1, 0, 0), (bytes{10, 10, 10, 255}));
    picture_free(&pic);

    picture_bytes a, b;
    ASSERT_TRUE(encode_png(ga.data(), 2, 1, 2, false, nullptr, &a));
    ASSERT_TRUE(encode_png(ga.data(), 2, 1, 2, false, nullptr, &b));
    EXPECT_EQ(bytes_of(a), bytes_of(b));  // generated data must be reproducible
    picture_bytes_free(&a);
    picture_bytes_free(&b);
    EXPECT_FALSE(encode_png(ga.data(), 2, 1, 5, false, nullptr, &a));
    EXPECT_FALSE(write_png_rgb((dir / "empty.png").c_str(), ga.data(), 0, 0));
    EXPECT_FALSE(test::file_exists(dir / "empty.png"));
}

TEST_F(png_test, broken_files_fail_without_leaks)
{
    bytes rows(16 * 16 * 4);
    for (size_t i = 0; i < rows.size(); i++)
        rows[i] = static_cast<unsigned char>(i * 7);
    png_layout s = rgba_spec(16, 16, rows);
    s.text_before = {"before"};
    s.text_after = {"after"};
    std::string good = make_png(s);
    ASSERT_TRUE(png_decode(put("good.png", good).c_str(), &pic));
    picture_free(&pic);

    // Cut anywhere: inside the header, the image data or the end chunks.
    for (size_t cut : {size_t(4), size_t(8), size_t(20), size_t(40), good.size() / 2, good.size() - 30,
                       good.size() - 1}) {
        EXPECT_FALSE(png_decode(put("cut.png", good.substr(0, cut)).c_str(), &pic)) << cut;
        EXPECT_EQ(pic.pixels, nullptr);
        EXPECT_EQ(pic.text, nullptr);
    }
    // A damaged byte inside the image data (checksum mismatch).
    size_t idat = good.find("IDAT");
    ASSERT_NE(idat, std::string::npos);
    std::string damaged = good;
    damaged[idat + 10] = static_cast<char>(damaged[idat + 10] ^ 0x40);
    EXPECT_FALSE(png_decode(put("damaged.png", damaged).c_str(), &pic));

    // Dimensions beyond the limit in an otherwise valid header.
    png_layout wide;
    wide.width = PICTURE_MAX_DIMENSION + 1;
    wide.height = 1;
    wide.color_type = PNG_COLOR_TYPE_GRAY;
    wide.rows.assign(size_t(wide.width), 0);
    std::string huge = make_png(wide);
    EXPECT_FALSE(png_decode(put("huge.png", huge).c_str(), &pic));
    EXPECT_FALSE(read_grey16_png(put("huge.png", huge).c_str(), &grey));

    EXPECT_FALSE(png_decode(put("text.png", "P6\n1 1\n255\n...").c_str(), &pic));
    EXPECT_FALSE(png_decode((dir / "missing.png").c_str(), &pic));
    EXPECT_FALSE(read_grey16_png((dir / "missing.png").c_str(), &grey));
}

}  // namespace
