// PPM, PGM and the predictive raw format: headers, scaling, hostile input,
// and the writers read back.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "files/datafs.h"
#include "picture_test_util.h"
#include "render/picture.h"
#include "test_support.h"

namespace {

using bytes = std::vector<unsigned char>;
using picture_test::bytes_of;
using picture_test::read_rgb_file;

struct pnm_test : ::testing::Test {
    test::temp_dir dir;
    picture pic;
    void TearDown() override { picture_free(&pic); }

    // Reads text as a picture file through the data file layer.
    bool rgb(const std::string& content)
    {
        std::string path = dir / "p.pic";
        test::write_file(path, content);
        return read_rgb_file(path, &pic);
    }
    bool grey(const std::string& content)
    {
        std::string path = dir / "g.pic";
        test::write_file(path, content);
        data_stream* s = open_data_file(path.c_str(), "rb");
        EXPECT_NE(s, nullptr);
        bool ok = read_grey_picture(s, &pic);
        close_data_file(s);
        return ok;
    }
    bytes top() const { return bytes(pic.pixels, pic.pixels + size_t(pic.width) * pic.height * pic.channels); }
};

TEST_F(pnm_test, text_ppm_scales_by_maximum_and_allows_comments_anywhere)
{
    ASSERT_TRUE(rgb("P3\n# made by hand\n  # indented comment\n2 # width done\n1\n#max next\n15\n"
                    "15 0 7\n# between samples\n 1 16 3\n"));
    EXPECT_EQ(pic.width, 2);
    EXPECT_EQ(pic.height, 1);
    EXPECT_EQ(pic.channels, 3);
    EXPECT_TRUE(pic.is_chain);
    // v * 255 / 15; a sample above the maximum saturates.
    EXPECT_EQ(top(), (bytes{255, 0, 119, 17, 255, 51}));
    // The chain's 1 x 1 level follows the top level.
    EXPECT_EQ(bytes(pic.pixels + 6, pic.pixels + 9), (bytes{136, 127, 85}));
}

TEST_F(pnm_test, binary_ppm_takes_exactly_one_separator_byte)
{
    // The data start with bytes that look like white space: they are pixels.
    std::string file = std::string("P6 # comment\n1 1\n255\n") + "\n  ";
    ASSERT_TRUE(rgb(file));
    EXPECT_EQ(top(), (bytes{10, 32, 32}));
    picture_free(&pic);

    // A maximum other than 255 rescales every byte.
    ASSERT_TRUE(rgb(std::string("P6\n2 1\n100\n") + std::string("\x32\x64\x00\x01\x02\xc8", 6)));
    EXPECT_EQ(top(), (bytes{127, 255, 0, 2, 5, 255}));
}

TEST_F(pnm_test, grey_maps_are_single_levels)
{
    ASSERT_TRUE(grey("P5\n3 2\n255\n" + std::string("\x00\x10\x20\x30\x40\xff", 6)));
    EXPECT_EQ(pic.channels, 1);
    EXPECT_FALSE(pic.is_chain);
    EXPECT_EQ(top(), (bytes{0, 16, 32, 48, 64, 255}));
    picture_free(&pic);

    ASSERT_TRUE(grey("P2 2 2 # size\n3\n0 1\n2 3\n"));
    EXPECT_EQ(top(), (bytes{0, 85, 170, 255}));
}

TEST_F(pnm_test, hostile_headers_and_data_fail_cleanly)
{
    const char* bad_rgb[] = {
        "P6\n-2 2\n255\n......",          // negative width
        "P6\n2 -2\n255\n......",          // negative height
        "P6\n0 2\n255\n",                  // empty picture
        "P6\n1 1\n-255\n...",              // negative maximum
        "P6\n1 1\n0\n...",                 // maximum 0 would divide by zero
        "P6\n1 1\n70000\n...",             // not a byte format
        "P3\n1 1\n255\n12 x 4\n",          // sample that is not a number
        "P3\n1 1\n255\n12 -4 4\n",         // negative sample
        "P3\n2 1\n255\n1 2 3 4 5\n",       // samples missing
        "P6\n2 2\n255\n.........",         // data cut short
        "P6\n1 1\n255",                    // no separator, no data
        "P6\n1 1\n255x...",                // separator is not white space
        "P6\nwide 1\n255\n...",            // width not a number
        "P6\n99999999999999999999 1\n255\n",  // overflowing number
        "P6\n100000 100000\n255\n...",     // beyond the size limit
        "P5\n1 1\n255\n.",                 // grey map is not an RGB picture
        "PX\n1 1\n255\n...",
        "",
        "   \n\t",
    };
    for (const char* text : bad_rgb) {
        EXPECT_FALSE(rgb(text)) << text;
        EXPECT_EQ(pic.pixels, nullptr);
    }
    EXPECT_FALSE(grey("P6\n1 1\n255\n..."));
    EXPECT_FALSE(grey("P5\n2 2\n0\n...."));
    EXPECT_FALSE(grey("P2\n2 1\n255\n1 zz\n"));

    // The largest accepted picture over a short file: refused after reading
    // what is there, without first allocating the whole picture.
    EXPECT_FALSE(rgb("P6\n8192 8192\n255\n" + std::string(1000, 'x')));
    EXPECT_FALSE(rgb("Q7\n8192 8192\n" + std::string(1000, 'x')));
}

TEST_F(pnm_test, predictive_black_and_flat_pictures)
{
    // All residuals zero: black.
    ASSERT_TRUE(rgb("Q6\n3 2\n" + std::string(18, '\0')));
    EXPECT_EQ(top(), bytes(18, 0));
    picture_free(&pic);

    // Only the first pixel set: every prediction copies it.
    std::string data(18, '\0');
    data[0] = 10;
    data[1] = 20;
    data[2] = 30;
    ASSERT_TRUE(rgb("Q6 # comment\n3\n# more\n2\n" + data));
    bytes expected;
    for (int i = 0; i < 6; i++)
        expected.insert(expected.end(), {10, 20, 30});
    EXPECT_EQ(top(), expected);
    // The smaller levels are built too: 1 x 1 of the same colour.
    EXPECT_EQ(bytes(pic.pixels + 18, pic.pixels + 21), (bytes{10, 20, 30}));
}

TEST_F(pnm_test, predictive_channel_counts)
{
    // A 2 x 1 "Q7" picture: (1,2,3,4), then +1 on every channel.
    std::string q7 = "Q7\n2 1\n" + std::string("\x01\x02\x03\x04\x01\x01\x01\x01", 8);
    std::string path = dir / "q7.pic";
    test::write_file(path, q7);
    data_stream* s = open_data_file(path.c_str(), "rb");
    char magic[16];
    ASSERT_TRUE(read_picture_magic(s, magic, sizeof magic));
    ASSERT_TRUE(predictive_decode(s, magic, 3, &pic));
    close_data_file(s);
    EXPECT_EQ(pic.channels, 3);
    EXPECT_EQ(top(), (bytes{1, 2, 3, 2, 3, 4}));
    picture_free(&pic);

    s = open_data_file(path.c_str(), "rb");
    ASSERT_TRUE(read_picture_magic(s, magic, sizeof magic));
    ASSERT_TRUE(predictive_decode(s, magic, 4, &pic));
    close_data_file(s);
    EXPECT_EQ(top(), (bytes{1, 2, 3, 4, 2, 3, 4, 5}));
    picture_free(&pic);

    // "Q6" asked for four channels gets opaque alpha.
    path = dir / "q6.pic";
    test::write_file(path, "Q6\n2 1\n" + std::string("\x01\x02\x03\x01\x01\x01", 6));
    s = open_data_file(path.c_str(), "rb");
    ASSERT_TRUE(read_picture_magic(s, magic, sizeof magic));
    ASSERT_TRUE(predictive_decode(s, magic, 4, &pic));
    close_data_file(s);
    EXPECT_EQ(pic.channels, 4);
    EXPECT_EQ(top(), (bytes{1, 2, 3, 255, 2, 3, 4, 255}));
    // Level 2 (1 x 1): both opaque, plain average.
    EXPECT_EQ(bytes(pic.pixels + 8, pic.pixels + 12), (bytes{1, 2, 3, 255}));
}

// A picture with edges and gradients, so the plane predictor clamps.
bytes test_pattern(int w, int h, int channels)
{
    bytes p(size_t(w) * h * channels);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++)
            for (int c = 0; c < channels; c++)
                p[(size_t(y) * w + x) * channels + c] =
                    static_cast<unsigned char>(((x * 37) ^ (y * 91) ^ (c * 53)) + (x > w / 2 ? 200 : 0));
    return p;
}

TEST_F(pnm_test, writers_read_back_exactly)
{
    for (int channels : {3, 4}) {
        bytes original = test_pattern(7, 5, channels);
        picture_bytes encoded;
        ASSERT_TRUE(encode_predictive(original.data(), 7, 5, channels, &encoded));
        // Inline use: the picture is followed by more data in the same file.
        std::string path = dir / "inline.pic";
        test::write_file(path, bytes_of(encoded) + "NEXT");
        picture_bytes_free(&encoded);
        data_stream* s = open_data_file(path.c_str(), "rb");
        char magic[16];
        ASSERT_TRUE(read_picture_magic(s, magic, sizeof magic));
        ASSERT_TRUE(predictive_decode(s, magic, channels, &pic));
        ASSERT_TRUE(read_picture_magic(s, magic, sizeof magic));
        EXPECT_STREQ(magic, "NEXT");
        close_data_file(s);
        EXPECT_EQ(top(), original) << channels;
        picture_free(&pic);
    }

    bytes rgb_pixels = test_pattern(6, 4, 3);
    for (bool text : {false, true}) {
        std::string path = dir / (text ? "t.ppm" : "b.ppm");
        ASSERT_TRUE(write_ppm(path.c_str(), rgb_pixels.data(), 6, 4, text));
        EXPECT_EQ(test::read_file(path).substr(0, 2), text ? "P3" : "P6");
        ASSERT_TRUE(read_rgb_file(path, &pic));
        EXPECT_EQ(top(), rgb_pixels);
        picture_free(&pic);

        bytes grey_pixels = test_pattern(5, 3, 1);
        path = dir / (text ? "t.pgm" : "b.pgm");
        ASSERT_TRUE(write_pgm(path.c_str(), grey_pixels.data(), 5, 3, text));
        data_stream* s = open_data_file(path.c_str(), "rb");
        ASSERT_TRUE(read_grey_picture(s, &pic));
        close_data_file(s);
        EXPECT_EQ(top(), grey_pixels);
        picture_free(&pic);
    }
    EXPECT_FALSE(write_ppm((dir / "x.ppm").c_str(), rgb_pixels.data(), 0, 4, false));
}

TEST_F(pnm_test, gzip_variant_is_read_through_the_data_layer)
{
    bytes pixels = test_pattern(9, 9, 3);
    picture_bytes encoded;
    ASSERT_TRUE(encode_predictive(pixels.data(), 9, 9, 3, &encoded));
    std::string path = dir / "shading.ppm";
    test::write_file(path + ".gz", picture_test::gzip(bytes_of(encoded)));
    picture_bytes_free(&encoded);
    ASSERT_TRUE(read_rgb_file(path, &pic));
    EXPECT_EQ(top(), pixels);
}

TEST_F(pnm_test, rgba_reader_falls_back_to_predictive_pictures)
{
    std::string path = dir / "font.pic";
    test::write_file(path, "Q6\n1 2\n" + std::string("\x05\x06\x07\x01\x01\x01", 6));
    ASSERT_TRUE(read_rgba_picture(path.c_str(), &pic));
    EXPECT_EQ(pic.channels, 4);
    EXPECT_FALSE(pic.is_chain);
    EXPECT_EQ(top(), (bytes{5, 6, 7, 255, 6, 7, 8, 255}));
    picture_free(&pic);
    test::write_file(path, "P6\n1 1\n255\n...");
    EXPECT_FALSE(read_rgba_picture(path.c_str(), &pic));
    EXPECT_FALSE(read_rgba_picture((dir / "missing.png").c_str(), &pic));
}

}  // namespace
