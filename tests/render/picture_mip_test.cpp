// The mip chain layout and the box filter that builds the smaller levels.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "render/picture.h"

namespace {

using bytes = std::vector<unsigned char>;

// A chain buffer with the given top level and room for every level.
bytes chain_with_top(int w, int h, int channels, const bytes& top)
{
    bytes chain(mip_chain_bytes(w, h, channels), 0xee);
    EXPECT_EQ(top.size(), size_t(w) * h * channels);
    std::memcpy(chain.data(), top.data(), top.size());
    return chain;
}

bytes level(const bytes& chain, int w, int h, int channels, int k)
{
    size_t at = mip_level_offset(w, h, channels, k);
    int lw, lh;
    mip_level_size(w, h, k, &lw, &lh);
    return bytes(chain.begin() + long(at), chain.begin() + long(at + size_t(lw) * lh * channels));
}

TEST(mip_chain, layout_halves_each_side_down_to_one_by_one)
{
    EXPECT_EQ(mip_level_count(1, 1), 1);
    EXPECT_EQ(mip_level_count(256, 256), 9);
    EXPECT_EQ(mip_level_count(5, 3), 3);   // 5x3, 2x1, 1x1
    EXPECT_EQ(mip_level_count(1, 8), 4);   // 1x8, 1x4, 1x2, 1x1
    EXPECT_EQ(mip_chain_bytes(5, 3, 3), size_t(15 + 2 + 1) * 3);
    EXPECT_EQ(mip_chain_bytes(256, 128, 4), size_t(4) * (256 * 128 + 128 * 64 + 64 * 32 + 32 * 16 + 16 * 8 +
                                                          8 * 4 + 4 * 2 + 2 * 1 + 1 * 1));
    EXPECT_EQ(mip_level_offset(5, 3, 4, 2), size_t(4) * (15 + 2));
    int w, h;
    mip_level_size(16, 2, 2, &w, &h);
    EXPECT_EQ(w, 4);
    EXPECT_EQ(h, 1);
    // Out-of-range sizes are refused rather than overflowing.
    EXPECT_EQ(mip_chain_bytes(0, 4, 3), 0u);
    EXPECT_EQ(mip_chain_bytes(-4, 4, 3), 0u);
    EXPECT_EQ(mip_chain_bytes(PICTURE_MAX_DIMENSION + 1, 1, 3), 0u);
    EXPECT_EQ(mip_chain_bytes(PICTURE_MAX_DIMENSION, PICTURE_MAX_DIMENSION, 4), 0u);
}

TEST(box_filter, lone_opaque_texel_keeps_its_colour)
{
    // One opaque red texel among three fully transparent black ones.
    bytes top = {255, 0, 0, 255, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    bytes chain = chain_with_top(2, 2, 4, top);
    build_mip_levels(chain.data(), 2, 2, 4, false);
    EXPECT_EQ(level(chain, 2, 2, 4, 1), (bytes{255, 0, 0, 63}));

    chain = chain_with_top(2, 2, 4, top);
    build_mip_levels(chain.data(), 2, 2, 4, true);
    EXPECT_EQ(level(chain, 2, 2, 4, 1), (bytes{255, 0, 0, 255}));
}

TEST(box_filter, rgba_averages_plainly_when_all_opaque_or_all_clear)
{
    bytes opaque = {10, 20, 30, 255, 20, 40, 60, 255, 30, 60, 90, 255, 41, 81, 121, 255};
    bytes chain = chain_with_top(2, 2, 4, opaque);
    build_mip_levels(chain.data(), 2, 2, 4, false);
    EXPECT_EQ(level(chain, 2, 2, 4, 1), (bytes{25, 50, 75, 255}));  // sums >> 2

    bytes clear = {10, 20, 30, 0, 20, 40, 60, 0, 30, 60, 90, 0, 41, 81, 121, 0};
    chain = chain_with_top(2, 2, 4, clear);
    build_mip_levels(chain.data(), 2, 2, 4, true);
    EXPECT_EQ(level(chain, 2, 2, 4, 1), (bytes{25, 50, 75, 0}));

    // Mixed alphas weight the colours: (200*255 + 100*85) / 340 = 175.
    bytes mixed = {200, 0, 0, 255, 100, 0, 0, 85, 0, 0, 0, 0, 0, 0, 0, 0};
    chain = chain_with_top(2, 2, 4, mixed);
    build_mip_levels(chain.data(), 2, 2, 4, false);
    EXPECT_EQ(level(chain, 2, 2, 4, 1), (bytes{175, 0, 0, 85}));
}

TEST(box_filter, single_row_and_column_levels_pair_along_the_long_side)
{
    // 1 x 4 column: pairs (0,1) and (2,3), then the two results.
    bytes column = {255, 0, 0, 255, 0, 0, 255, 0,     // opaque red over clear blue
                    0, 100, 0, 255, 0, 50, 0, 255};   // two opaque greens
    bytes chain = chain_with_top(1, 4, 4, column);
    build_mip_levels(chain.data(), 1, 4, 4, false);
    EXPECT_EQ(level(chain, 1, 4, 4, 1), (bytes{255, 0, 0, 127, 0, 75, 0, 255}));
    // (255*127 + 0*255) / 382 = 84; (0*127 + 75*255) / 382 = 50; alpha 382 >> 1.
    EXPECT_EQ(level(chain, 1, 4, 4, 2), (bytes{84, 50, 0, 191}));

    // The same pixels as a 4 x 1 row, in maximum-alpha mode.
    chain = chain_with_top(4, 1, 4, column);
    build_mip_levels(chain.data(), 4, 1, 4, true);
    EXPECT_EQ(level(chain, 4, 1, 4, 1), (bytes{255, 0, 0, 255, 0, 75, 0, 255}));
    EXPECT_EQ(level(chain, 4, 1, 4, 2), (bytes{127, 37, 0, 255}));  // both opaque: plain

    // A 4 x 2 picture becomes 2 x 1 (blocks), then 1 x 1 (a pair).
    bytes wide(4 * 2 * 4, 0);
    for (int i = 0; i < 8; i++) {
        wide[size_t(i) * 4] = static_cast<unsigned char>(i * 10);
        wide[size_t(i) * 4 + 3] = 255;
    }
    chain = chain_with_top(4, 2, 4, wide);
    build_mip_levels(chain.data(), 4, 2, 4, false);
    EXPECT_EQ(level(chain, 4, 2, 4, 1), (bytes{25, 0, 0, 255, 45, 0, 0, 255}));
    EXPECT_EQ(level(chain, 4, 2, 4, 2), (bytes{35, 0, 0, 255}));
}

TEST(box_filter, three_channels_average_blocks_and_drop_odd_edges)
{
    // 3 x 3 RGB: the single smaller level covers the top-left 2 x 2 block;
    // the odd last column and row take no part.
    bytes top(27, 0);
    auto set = [&](int x, int y, int r, int g, int b) {
        top[size_t(y * 3 + x) * 3] = static_cast<unsigned char>(r);
        top[size_t(y * 3 + x) * 3 + 1] = static_cast<unsigned char>(g);
        top[size_t(y * 3 + x) * 3 + 2] = static_cast<unsigned char>(b);
    };
    set(0, 0, 4, 8, 255);
    set(1, 0, 8, 8, 255);
    set(0, 1, 12, 8, 255);
    set(1, 1, 17, 9, 254);
    set(2, 0, 255, 255, 255);
    set(2, 2, 255, 255, 255);
    set(0, 2, 255, 255, 255);
    bytes chain = chain_with_top(3, 3, 3, top);
    build_mip_levels(chain.data(), 3, 3, 3, false);
    ASSERT_EQ(chain.size(), size_t(27 + 3));
    EXPECT_EQ(level(chain, 3, 3, 3, 1), (bytes{10, 8, 254}));

    // Three channels along a line: pairs >> 1, no alpha weighting.
    bytes line = {100, 0, 255, 201, 2, 0};
    chain = chain_with_top(2, 1, 3, line);
    build_mip_levels(chain.data(), 2, 1, 3, true);
    EXPECT_EQ(level(chain, 2, 1, 3, 1), (bytes{150, 1, 127}));
}

}  // namespace
