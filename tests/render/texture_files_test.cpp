// The texture loader's GL-free half: ".seq" files (sound ones read, broken
// and unsound ones refused with their message), "LINK" targets, and the
// two reductions (before upload, and for pictures kept in memory).
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "files/datafs.h"
#include "files/memory.h"
#include "platform/log.h"
#include "render/picture.h"
#include "render/texture.h"
#include "render/texture_files.h"
#include "test_support.h"

namespace {

using bytes = std::vector<unsigned char>;

// A picture of one colour (RGBA or RGB).
bytes solid(int w, int h, bytes colour)
{
    bytes out;
    for (int i = 0; i < w * h; i++)
        out.insert(out.end(), colour.begin(), colour.end());
    return out;
}

// Noise that no level below predicts.
bytes noise(int w, int h, int channels, unsigned seed = 1)
{
    bytes out(size_t(w) * h * channels);
    for (auto& b : out) {
        seed = seed * 1103515245u + 12345u;
        b = static_cast<unsigned char>(seed >> 16);
    }
    return out;
}

bytes chain_of(const bytes& top, int w, int h, int channels)
{
    bytes chain(mip_chain_bytes(w, h, channels));
    std::copy(top.begin(), top.end(), chain.begin());
    build_mip_levels(chain.data(), w, h, channels, false);
    return chain;
}

std::string q7(const bytes& rgba, int w, int h)
{
    picture_bytes b;
    EXPECT_TRUE(encode_predictive(rgba.data(), w, h, 4, &b));
    std::string s(reinterpret_cast<const char*>(b.data), b.size);
    picture_bytes_free(&b);
    return s;
}

std::string png(const bytes& pixels, int w, int h, int channels)
{
    picture_bytes b;
    EXPECT_TRUE(encode_png(pixels.data(), w, h, channels, false, nullptr, &b));
    std::string s(reinterpret_cast<const char*>(b.data), b.size);
    picture_bytes_free(&b);
    return s;
}

struct texture_files_test : ::testing::Test {
    test::data_dirs_fixture dirs;
    std::string log_path = dirs.root / "log.txt";
    test::scoped_env log_env{"VORN_LOGFILE", log_path.c_str()};
    seq_file seq;

    void SetUp() override { log_reset_for_tests(); }
    void TearDown() override
    {
        seq_free(&seq);
        log_reset_for_tests();
    }

    std::string log_text()
    {
        log_close();
        return test::read_file(log_path);
    }

    // Reads a ".seq" file's text the way the loader does: the magic first.
    bool read_seq(const std::string& text)
    {
        test::write_file(dirs.game + "/anim.seq", text);
        data_stream* s = open_data_file("@anim.seq", "rb");
        EXPECT_NE(s, nullptr);
        if (!s)
            return false;
        char magic[16];
        bool ok = read_picture_magic(s, magic, sizeof magic) && std::string(magic) == "ANIM1" && seq_read(s, &seq);
        close_data_file(s);
        return ok;
    }

    std::string read_link(const std::string& text, bool* named)
    {
        test::write_file(dirs.game + "/a.link", text);
        data_stream* s = open_data_file("@a.link", "rb");
        char magic[16];
        EXPECT_TRUE(read_picture_magic(s, magic, sizeof magic));
        char target[LINK_TARGET_MAX + 1];
        *named = link_read_target(s, target, sizeof target);
        close_data_file(s);
        return *named ? target : "";
    }
};

bytes top_of(const seq_picture& p)
{
    return bytes(p.data, p.data + size_t(p.width) * p.height * p.channels);
}

}  // namespace

TEST_F(texture_files_test, a_sequence_reads_inline_and_named_pictures)
{
    const bytes red = solid(4, 4, {255, 0, 0, 255});
    const bytes green = solid(4, 4, {0, 255, 0, 128});
    const bytes blue = solid(4, 4, {0, 0, 255, 255});
    test::write_file(dirs.game + "/frames/blue.png", png(blue, 4, 4, 4));
    std::string text = "ANIM1\n4 3 6 1\n2 0 1 1\n" + q7(red, 4, 4) + "\n" + q7(green, 4, 4) +
                       "\nPNG   @frames/blue.png  \n";
    ASSERT_TRUE(read_seq(text)) << log_text();
    EXPECT_EQ(seq.sequence_length, 4);
    EXPECT_EQ(seq.picture_count, 3);
    EXPECT_EQ(seq.ticks_per_frame, 6);
    EXPECT_EQ(seq.loop, 1);
    EXPECT_EQ(std::vector<int>(seq.sequence, seq.sequence + 4), (std::vector<int>{2, 0, 1, 1}));
    EXPECT_EQ(top_of(seq.pictures[0]), red);
    EXPECT_EQ(top_of(seq.pictures[1]), green);
    EXPECT_EQ(top_of(seq.pictures[2]), blue);
    // Each picture is a whole chain: the 1 x 1 level of the green one.
    const seq_picture& g = seq.pictures[1];
    const unsigned char* last = g.data + mip_level_offset(4, 4, 4, 2);
    EXPECT_EQ(bytes(last, last + 4), (bytes{0, 255, 0, 128}));
}

TEST_F(texture_files_test, sequence_pictures_are_cut_to_65536_pixels_and_powers_of_two)
{
    // 600 x 300 rounds to 512 x 256 (131072 pixels), then one level goes.
    const bytes rgba = noise(600, 300, 4);
    ASSERT_TRUE(read_seq("ANIM1 1 1 4 0 0 " + q7(rgba, 600, 300)));
    EXPECT_EQ(seq.pictures[0].width, 256);
    EXPECT_EQ(seq.pictures[0].height, 128);
}

TEST_F(texture_files_test, broken_and_unsound_sequences_are_refused_with_their_message)
{
    const std::string red = q7(solid(4, 4, {255, 0, 0, 255}), 4, 4);
    const std::string wide = q7(solid(8, 4, {255, 0, 0, 255}), 8, 4);
    test::write_file(dirs.game + "/rgb.png", png(solid(4, 4, {1, 2, 3}), 4, 4, 3));
    struct refused {
        std::string text;
        const char* message;  // null: refused without a word
    } cases[] = {
        {"ANIM1 1 1 0 0 0 " + red, "Bad ticks per frame 0 in .seq"},
        {"ANIM1 1 1 -3 0 0 " + red, "Bad ticks per frame -3 in .seq"},
        {"ANIM1 2 1 4 0 0 1 " + red, "Sequence entry 1 out of range in .seq"},
        {"ANIM1 1 1 4 0 -1 " + red, "Sequence entry -1 out of range in .seq"},
        {"ANIM1 1 300 4 0 0 " + red, "Too many pictures (300) in .seq"},
        {"ANIM1 2 2 4 0 0 1 " + red + " GIF x", "Error reading .seq frame 1"},
        {"ANIM1 1 1 4 0 0 PNG", "EOF while reading .seq"},
        {"ANIM1 1 1 4 0 0 PNG @missing.png\n", "Can't read @missing.png"},
        {"ANIM1 1 2 4 0 0 " + red + wide, "Width/height mismatch reading .seq"},
        {"ANIM1 1 2 4 0 0 " + red + "PNG @rgb.png\n", "Depth mismatch reading .seq"},
        {"ANIM1 1 1 4 0 0 " + red.substr(0, red.size() - 3), "Error reading .seq frame 0"},
        // Counts the file cannot hold fail as the data run out.
        {"ANIM1 2000000000 1 4 0 0 0 0", nullptr},
        {"ANIM1 1 1", nullptr},
        {"ANIM1 0 1 4 0", nullptr},
        {"ANIM1 1 0 4 0 0", nullptr},
    };
    for (const refused& c : cases) {
        log_reset_for_tests();
        remove(log_path.c_str());
        EXPECT_FALSE(read_seq(c.text)) << c.text.substr(0, 40);
        EXPECT_EQ(seq.pictures, nullptr);
        EXPECT_EQ(seq.sequence, nullptr);
        const std::string log = log_text();
        if (c.message)
            EXPECT_NE(log.find(std::string(c.message) + "\n"), std::string::npos) << c.text.substr(0, 40) << log;
        else
            EXPECT_EQ(log.find(".seq"), std::string::npos) << log;
    }
}

TEST_F(texture_files_test, link_targets_are_trimmed_and_bounded)
{
    bool named = false;
    EXPECT_EQ(read_link("LINK   @colors/white.png \r\n\n", &named), "@colors/white.png");
    EXPECT_EQ(read_link("LINK\n@a b.png", &named), "@a b.png");
    read_link("LINK \n \t\n", &named);
    EXPECT_FALSE(named);
    read_link("LINK", &named);
    EXPECT_FALSE(named);
    // Only 1023 bytes after the magic are read.
    std::string target = read_link("LINK " + std::string(2000, 'x'), &named);
    EXPECT_TRUE(named);
    EXPECT_EQ(target, std::string(1022, 'x'));
}

TEST_F(texture_files_test, texture_rounding_takes_the_power_of_two_below_each_side)
{
    // 256 x 100 becomes 128 x 64; pixel (x, y) comes from (2x, y * 100 / 64).
    bytes top(256 * 100 * 3);
    for (int y = 0; y < 100; y++)
        for (int x = 0; x < 256; x++) {
            top[(y * 256 + x) * 3] = static_cast<unsigned char>(x);
            top[(y * 256 + x) * 3 + 1] = static_cast<unsigned char>(y);
            top[(y * 256 + x) * 3 + 2] = static_cast<unsigned char>((x * 7 + y * 13) & 255);
        }
    const bytes chain = chain_of(top, 256, 100, 3);
    texture_reduction r;
    ASSERT_TRUE(texture_reduce(chain.data(), 256, 100, 3, 0, nullptr, &r));
    EXPECT_EQ(r.width, 128);
    EXPECT_EQ(r.height, 64);
    for (int y : {0, 1, 33, 63})
        for (int x : {0, 5, 127}) {
            EXPECT_EQ(r.chain[(y * 128 + x) * 3], 2 * x);
            EXPECT_EQ(r.chain[(y * 128 + x) * 3 + 1], y * 100 / 64);
        }
    texture_reduction_free(&r);

    EXPECT_EQ(power_of_two_below(2), 1);
    EXPECT_EQ(power_of_two_below(3), 2);
    EXPECT_EQ(power_of_two_below(1), 1);
    EXPECT_EQ(power_of_two_not_above(1), 1);
    EXPECT_EQ(power_of_two_not_above(100), 64);
    EXPECT_EQ(power_of_two_not_above(256), 256);
}

TEST_F(texture_files_test, texture_level_drops_only_levels_above_128)
{
    const bytes big = chain_of(noise(512, 512, 4), 512, 512, 4);
    texture_reduction r;
    ASSERT_TRUE(texture_reduce(big.data(), 512, 512, 4, 1, nullptr, &r));
    EXPECT_EQ(r.width, 256);
    EXPECT_EQ(r.chain, big.data() + 512 * 512 * 4);  // the caller's own smaller level
    EXPECT_EQ(r.owned, nullptr);

    const bytes wide = chain_of(noise(256, 128, 3), 256, 128, 3);
    ASSERT_TRUE(texture_reduce(wide.data(), 256, 128, 3, 3, nullptr, &r));
    EXPECT_EQ(r.width, 256);
    EXPECT_EQ(r.height, 128);
    EXPECT_EQ(r.redundant_levels, 0);
}

TEST_F(texture_files_test, levels_the_next_one_predicts_are_dropped_down_to_16)
{
    const bytes flat = chain_of(solid(64, 64, {10, 200, 30, 255}), 64, 64, 4);
    texture_reduction r;
    ASSERT_TRUE(texture_reduce(flat.data(), 64, 64, 4, 0, "@flat.png", &r));
    EXPECT_EQ(r.width, 16);
    EXPECT_EQ(r.height, 16);
    EXPECT_EQ(r.redundant_levels, 2);
    const bytes small = chain_of(solid(16, 16, {1, 2, 3}), 16, 16, 3);
    ASSERT_TRUE(texture_reduce(small.data(), 16, 16, 3, 0, "@small.png", &r));
    EXPECT_EQ(r.width, 16);
    // A 64 x 4 strip is reduced while its width exceeds 16.
    const bytes strip = chain_of(solid(64, 4, {9, 9, 9}), 64, 4, 3);
    ASSERT_TRUE(texture_reduce(strip.data(), 64, 4, 3, 0, nullptr, &r));
    EXPECT_EQ(r.width, 16);
    EXPECT_EQ(r.height, 1);
    const std::string log = log_text();
    EXPECT_NE(log.find("@flat.png reduced to 16x16 (originally 64x64)\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("@small.png"), std::string::npos) << log;
}

TEST_F(texture_files_test, prediction_weighs_the_nearer_pixel_three_times_and_allows_4)
{
    // Next level 2 x 2: left column 0, right column 200. The top row is
    // predicted as 0, 50, 150, 200 (the odd column leans left).
    const bytes next = {0, 200, 0, 200};
    auto top_with_row = [](bytes row) {
        bytes t;
        for (int y = 0; y < 4; y++)
            t.insert(t.end(), row.begin(), row.end());
        return t;
    };
    EXPECT_TRUE(level_is_redundant(top_with_row({0, 50, 150, 200}).data(), 4, 4, next.data(), 2, 2, 1));
    EXPECT_FALSE(level_is_redundant(top_with_row({0, 150, 50, 200}).data(), 4, 4, next.data(), 2, 2, 1));
    EXPECT_TRUE(level_is_redundant(top_with_row({4, 54, 146, 196}).data(), 4, 4, next.data(), 2, 2, 1));
    EXPECT_FALSE(level_is_redundant(top_with_row({0, 55, 150, 200}).data(), 4, 4, next.data(), 2, 2, 1));
    EXPECT_FALSE(level_is_redundant(top_with_row({0, 50, 145, 200}).data(), 4, 4, next.data(), 2, 2, 1));
    // The same vertically: top row 0, then 50, 150, 200 down the picture.
    const bytes next_v = {0, 0, 200, 200};
    const bytes down = {0, 0, 0, 0, 50, 50, 50, 50, 150, 150, 150, 150, 200, 200, 200, 200};
    EXPECT_TRUE(level_is_redundant(down.data(), 4, 4, next_v.data(), 2, 2, 1));
}

TEST_F(texture_files_test, pictures_in_memory_round_down_and_keep_16384_pixels)
{
    // 256 x 100 becomes 256 x 64 (not 128 x 64 as textures do).
    bytes top(256 * 100 * 4);
    for (int y = 0; y < 100; y++)
        for (int x = 0; x < 256; x++) {
            unsigned char* p = &top[(y * 256 + x) * 4];
            p[0] = static_cast<unsigned char>(x);
            p[1] = static_cast<unsigned char>(y);
            p[2] = 7;
            p[3] = 255;
        }
    const bytes chain = chain_of(top, 256, 100, 4);
    auto fit = [](const bytes& c, int w, int h, int channels, long limit, int drop, int* ow, int* oh) {
        unsigned char* data = static_cast<unsigned char*>(mem_alloc(c.size()));
        std::copy(c.begin(), c.end(), data);
        *ow = w;
        *oh = h;
        image_fit(&data, ow, oh, channels, limit, drop);
        bytes out(data, data + mip_chain_bytes(*ow, *oh, channels));
        mem_free(data);
        return out;
    };
    int w, h;
    bytes out = fit(chain, 256, 100, 4, 0, 0, &w, &h);
    ASSERT_EQ(w, 256);
    ASSERT_EQ(h, 64);
    for (int y : {0, 10, 63})
        for (int x : {0, 100, 255}) {
            EXPECT_EQ(out[(y * 256 + x) * 4], x);
            EXPECT_EQ(out[(y * 256 + x) * 4 + 1], y * 100 / 64);
        }

    const bytes big = chain_of(noise(512, 512, 3), 512, 512, 3);
    out = fit(big, 512, 512, 3, 0, 1, &w, &h);
    EXPECT_EQ(w, 256);
    // The level below the top one, copied whole.
    EXPECT_EQ(out, bytes(big.begin() + 512 * 512 * 3, big.end()));
    fit(big, 512, 512, 3, 65536, 0, &w, &h);
    EXPECT_EQ(w, 256);
    // Never below 16384 pixels, whatever the drop or limit asks.
    fit(big, 512, 512, 3, 100, 9, &w, &h);
    EXPECT_EQ(w * h, 16384);
    const bytes wide = chain_of(noise(256, 128, 3), 256, 128, 3);
    fit(wide, 256, 128, 3, 0, 3, &w, &h);
    EXPECT_EQ(w, 128);
    EXPECT_EQ(h, 64);
    const bytes line = chain_of(noise(1, 3, 3), 1, 3, 3);
    fit(line, 1, 3, 3, 0, 0, &w, &h);
    EXPECT_EQ(w, 1);
    EXPECT_EQ(h, 2);
}
