// Loading "terrain.hf" with its sample sources and lighting maps, the
// failures a broken track gives, and the writers' round trip.
#include <gtest/gtest.h>

#include <nettle/sha1.h>

#include <zlib.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <vector>

#include "files/datafs.h"
#include "track/heightfield.h"
#include "track_test_util.h"

using namespace track_test;

namespace {

struct HeightfieldLoad : ::testing::Test {
    test::data_dirs_fixture dirs;
    heightfield hf;
    std::string track() const { return dirs.game + "/trk"; }
    void SetUp() override { clear_messages(); }
    void TearDown() override { heightfield_free(&hf); }
};

TEST_F(HeightfieldLoad, RawSamplesWithoutPngScaleBetweenTheHeaderHeights)
{
    const int n = samples_per_side(6);
    std::vector<uint16_t> v((size_t)n * n);
    for (size_t k = 0; k < v.size(); k++)
        v[k] = (uint16_t)(k * 37);
    test::write_file(track() + "/terrain.hf", raw_terrain(6, 2.0f, -10.0f, 30.0f, v));
    test::write_file(track() + "/shadingx2.ppm", ppm(n, n, 1, 2, 3));
    ASSERT_TRUE(heightfield_load(&hf, "@trk", 0));

    EXPECT_EQ(hf.grid_log2, 6);
    EXPECT_EQ(hf.sample_count, 129);
    EXPECT_FLOAT_EQ(hf.extent, 256.0f);
    EXPECT_EQ(hf.height_min, -10.0f);
    EXPECT_EQ(hf.height_max, 30.0f);
    for (size_t k : {size_t(0), size_t(1), size_t(500), v.size() - 1}) {
        const float want = (float)(-10.0L + (long double)v[k] * 40.0L / 65535.0L);
        EXPECT_EQ(hf.heights[k], want) << k;
        EXPECT_EQ(hf.loaded_heights[k], want) << k;
    }
    // The digest covers the samples as little-endian bytes in grid order.
    sha1_ctx ctx;
    sha1_init(&ctx);
    const std::string bytes = raw_terrain(6, 2.0f, -10.0f, 30.0f, v);
    const size_t header = bytes.find(':') + 1;
    sha1_update(&ctx, bytes.size() - header, (const uint8_t*)bytes.data() + header);
    uint8_t want[SHA1_DIGEST_SIZE];
    sha1_digest(&ctx, sizeof want, want);
    EXPECT_EQ(0, memcmp(want, hf.sample_digest, sizeof want));
    // Stored unchanged from "shadingx2.ppm"; no shadows file: all lit.
    EXPECT_EQ(hf.shading_map[0], 1);
    EXPECT_EQ(hf.shading_map[3 * (n * n - 1) + 2], 3);
    EXPECT_EQ(hf.shadow_map[n * n - 1], 0);
    EXPECT_TRUE(messages().empty());
    // Loading over a loaded record releases the old arrays first.
    hf.frozen = 1;
    ASSERT_TRUE(heightfield_load(&hf, "@trk", 0));
    EXPECT_EQ(hf.frozen, 0);
}

TEST_F(HeightfieldLoad, FlatHeaderGivesOneHeightWhateverTheSamples)
{
    const int n = samples_per_side(6);
    std::vector<uint16_t> v((size_t)n * n);
    for (size_t k = 0; k < v.size(); k++)
        v[k] = (uint16_t)(k * 7919);
    test::write_file(track() + "/terrain.hf", raw_terrain(6, 4.0f, 12.5f, 12.5f, v));
    test::write_file(track() + "/shadingx2.ppm", ppm(n, n, 1, 2, 3));
    ASSERT_TRUE(heightfield_load(&hf, "@trk", 0));
    for (size_t k = 0; k < v.size(); k++)
        ASSERT_EQ(hf.heights[k], 12.5f) << k;
}

TEST_F(HeightfieldLoad, EightBitPngReachesTheTopHeightAndClampsToItsSize)
{
    const int n = samples_per_side(6);
    // A 4 x 2 grey picture: the grid repeats its last column and row.
    const uint8_t grey[8] = {0, 255, 128, 255, 10, 20, 30, 40};
    picture_bytes png;
    ASSERT_TRUE(encode_png(grey, 4, 2, 1, false, nullptr, &png));
    test::write_file(track() + "/terrain.png", bytes_of(png));
    picture_bytes_free(&png);
    test::write_file(track() + "/terrain.hf", "6 2.0 5.0 69.0\n");
    test::write_file(track() + "/shading.ppm", ppm(n, n, 201, 100, 0));
    ASSERT_TRUE(heightfield_load(&hf, "@trk", 0));

    EXPECT_EQ(hf.heights[0], 5.0f);
    EXPECT_EQ(hf.heights[1], 69.0f);               // 255 -> 65535 -> h1 exactly
    EXPECT_EQ(hf.heights[3], 69.0f);
    EXPECT_EQ(hf.heights[100], 69.0f);             // column 100 takes column 3
    EXPECT_EQ(hf.heights[2 + 1 * n], (float)(5.0L + 30.0L * 257 * 64.0L / 65535.0L));
    EXPECT_EQ(hf.heights[3 + 128 * n], (float)(5.0L + 40.0L * 257 * 64.0L / 65535.0L));
    // "shading.ppm" is halved on loading.
    EXPECT_EQ(hf.shading_map[0], 100);
    EXPECT_EQ(hf.shading_map[1], 50);
}

TEST_F(HeightfieldLoad, UnreadablePngLeavesEveryHeightAtTheBottomWithAWarning)
{
    const int n = samples_per_side(6);
    test::write_file(track() + "/terrain.hf", "6 2.0 3.0 9.0");
    test::write_file(track() + "/terrain.png", "not a png");
    test::write_file(track() + "/shadingx2.ppm", ppm(n, n, 1, 1, 1));
    ASSERT_TRUE(heightfield_load(&hf, "@trk", 0));
    EXPECT_EQ(hf.heights[0], 3.0f);
    EXPECT_EQ(hf.heights[(size_t)n * n - 1], 3.0f);
    EXPECT_TRUE(has_message("Warning: can't read heights from '@trk/terrain.png'; the terrain is flat"));
}

TEST_F(HeightfieldLoad, MissingOrBrokenHeaderFailsWithTheLoaderMessages)
{
    EXPECT_FALSE(heightfield_load(&hf, "@trk", 0));
    EXPECT_TRUE(has_message("Can't open '@trk/terrain.hf'"));

    clear_messages();
    test::write_file(track() + "/terrain.hf", "6 2.0 zero 9.0\n");
    EXPECT_FALSE(heightfield_load(&hf, "@trk", 0));
    EXPECT_EQ(messages(), (std::vector<std::string>{"Bad height field parameters", "Error reading heights"}));
    EXPECT_EQ(hf.heights, nullptr);
}

TEST_F(HeightfieldLoad, HostileSizesFailBeforeAllocating)
{
    for (const char* header : {"40 2.0 0 1\n:", "-3 2.0 0 1\n:", "5 2.0 0 1\n:", "12 2.0 0 1\n:",
                               "2147483647 2.0 0 1\n:", "6 0 0 1\n:", "6 -2 0 1\n:", "6 nan 0 1\n:",
                               "6 2.0 inf 1\n:", "6 1e38 0 1\n:"}) {
        clear_messages();
        test::write_file(track() + "/terrain.hf", header);
        EXPECT_FALSE(heightfield_load(&hf, "@trk", 0)) << header;
        EXPECT_TRUE(has_message("Bad height field parameters")) << header;
        EXPECT_EQ(hf.heights, nullptr);
        EXPECT_EQ(hf.sample_count, 0);
    }
}

TEST_F(HeightfieldLoad, TruncatedRawSamplesFail)
{
    const int n = samples_per_side(6);
    std::string file = raw_terrain(6, 2.0f, 0.0f, 1.0f, std::vector<uint16_t>((size_t)n * n, 5));
    file.resize(file.size() - 1);
    test::write_file(track() + "/terrain.hf", file);
    test::write_file(track() + "/shadingx2.ppm", ppm(n, n, 1, 1, 1));
    EXPECT_FALSE(heightfield_load(&hf, "@trk", 0));
    EXPECT_TRUE(has_message("Error reading heights"));
    EXPECT_EQ(hf.heights, nullptr);
}

TEST_F(HeightfieldLoad, ShadingFailures)
{
    write_flat_ground(track(), 6, 0);
    std::remove((track() + "/shadingx2.ppm").c_str());
    EXPECT_FALSE(heightfield_load(&hf, "@trk", 0));
    EXPECT_TRUE(has_message("Can't open '@trk/shading.ppm'"));

    clear_messages();
    test::write_file(track() + "/shadingx2.ppm", ppm(3, 3, 0, 0, 0));
    EXPECT_FALSE(heightfield_load(&hf, "@trk", 0));
    EXPECT_TRUE(has_message("Bad shading dimensions (3x3)"));

    clear_messages();
    test::write_file(track() + "/shadingx2.ppm", "P6\n129 129\n255\n");  // no pixels
    EXPECT_FALSE(heightfield_load(&hf, "@trk", 0));
    EXPECT_TRUE(has_message("Error reading shading"));
    EXPECT_EQ(hf.heights, nullptr);
}

TEST_F(HeightfieldLoad, ShadowsAreStoredInvertedAndMustMatchTheGrid)
{
    const int n = samples_per_side(6);
    write_flat_ground(track(), 6, 0);
    test::write_file(track() + "/shadows.pgm", pgm(n, n, 200));
    ASSERT_TRUE(heightfield_load(&hf, "@trk", 0));
    EXPECT_EQ(hf.shadow_map[0], 55);
    EXPECT_EQ(hf.shadow_map[(size_t)n * n - 1], 55);
    heightfield_free(&hf);

    test::write_file(track() + "/shadows.pgm", pgm(n, n - 1, 200));
    EXPECT_FALSE(heightfield_load(&hf, "@trk", 0));
    // Logged only: the player sees no line for it.
    EXPECT_TRUE(messages().empty());

    test::write_file(track() + "/shadows.pgm", "P9 garbage");
    EXPECT_FALSE(heightfield_load(&hf, "@trk", 0));
    EXPECT_TRUE(has_message("Error reading shadows"));
}

TEST_F(HeightfieldLoad, GzipVariantIsReadThroughTheDataLayer)
{
    // Only "terrain.hf.gz" exists: the data layer opens it transparently.
    const int n = samples_per_side(6);
    const std::string raw = raw_terrain(6, 2.0f, 0.0f, 65535.0f, std::vector<uint16_t>((size_t)n * n, 1234));
    std::filesystem::create_directories(track());
    gzFile gz = gzopen((track() + "/terrain.hf.gz").c_str(), "wb");
    ASSERT_NE(gz, nullptr);
    ASSERT_EQ(gzwrite(gz, raw.data(), (unsigned)raw.size()), (int)raw.size());
    ASSERT_EQ(gzclose(gz), Z_OK);
    test::write_file(track() + "/shadingx2.ppm", ppm(n, n, 1, 1, 1));
    ASSERT_TRUE(heightfield_load(&hf, "@trk", 0));
    EXPECT_EQ(hf.heights[77], 1234.0f);
}

TEST_F(HeightfieldLoad, WrittenGroundLoadsBack)
{
    const int n = samples_per_side(6);
    std::vector<float> h((size_t)n * n);
    for (int row = 0; row < n; row++)
        for (int col = 0; col < n; col++)
            h[(size_t)col + (size_t)row * n] = 3.0f * sinf(0.1f * (float)col) + 0.05f * (float)row - 1.0f;
    heightfield src;
    ASSERT_TRUE(heightfield_create(&src, 6, 2.5f, h.data()));
    terrain_light light;
    heightfield_cast_shadows(&src, light.sun_vector, 0.05f, src.shadow_map);
    heightfield_relight_all(&src, &light);

    for (bool raw : {false, true}) {
        const std::string dir = dirs.root / (raw ? "raw" : "png");
        ASSERT_TRUE(terrain_write(&src, dir.c_str(), raw));
        ASSERT_TRUE(terrain_write_lighting(&src, dir.c_str()));
        EXPECT_EQ(test::file_exists(dir + "/terrain.png"), !raw);
        ASSERT_TRUE(heightfield_load(&hf, dir.c_str(), 0)) << dir;
        const float step = (src.height_max - src.height_min) / 65535.0f;
        for (size_t k = 0; k < h.size(); k++)
            ASSERT_NEAR(hf.heights[k], h[k], step) << k;
        EXPECT_EQ(0, memcmp(hf.shading_map, src.shading_map, (size_t)n * n * 3));
        EXPECT_EQ(0, memcmp(hf.shadow_map, src.shadow_map, (size_t)n * n));
        heightfield_free(&hf);
    }
    heightfield_free(&src);
}

TEST(HeightfieldWrite, QuantiseRoundsAndClamps)
{
    EXPECT_EQ(terrain_quantise(0.0f, 0.0f, 1.0f), 0);
    EXPECT_EQ(terrain_quantise(1.0f, 0.0f, 1.0f), 65535);
    EXPECT_EQ(terrain_quantise(0.5f, 0.0f, 1.0f), 32768);  // 32767.5 + 0.5
    EXPECT_EQ(terrain_quantise(-4.0f, 0.0f, 1.0f), 0);
    EXPECT_EQ(terrain_quantise(4.0f, 0.0f, 1.0f), 65535);
    EXPECT_EQ(terrain_quantise(3.0f, 2.0f, 2.0f), 0);
}

}  // namespace
