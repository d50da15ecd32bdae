// The lighting rule, shadow casting and the terrain normal map.
#include <gtest/gtest.h>

#include <vector>

#include "track/heightfield.h"

namespace {

// 17 x 17 samples (grid_log2 3) at spacing 1; a wall 8 ft high along
// column 8, flat ground at 0 elsewhere.
heightfield wall_field()
{
    const int n = 17;
    std::vector<float> h((size_t)n * n, 0.0f);
    for (int row = 0; row < n; row++)
        h[8 + (size_t)row * n] = 8.0f;
    heightfield hf;
    EXPECT_TRUE(heightfield_create(&hf, 3, 1.0f, h.data()));
    return hf;
}

TEST(TerrainLighting, RuleOnFlatGroundWithAndWithoutShadow)
{
    heightfield hf;
    ASSERT_TRUE(heightfield_create(&hf, 3, 2.0f, nullptr));
    terrain_light light;
    light.sun_vector[0] = 0.0f;
    light.sun_vector[1] = 1.0f;
    light.sun_vector[2] = 0.0f;
    light.sun_color[1] = 0.2f;
    light.ambient[2] = 2.0f;
    uint8_t rgb[3];
    heightfield_light_sample(&hf, 3, 3, &light, rgb);
    EXPECT_EQ(rgb[0], 191);  // 255 * (1 + 0.5) * 0.5 = 191.25
    EXPECT_EQ(rgb[1], 89);   // 255 * 0.7 * 0.5 = 89.25
    EXPECT_EQ(rgb[2], 255);  // clamped
    hf.shadow_map[3 + 3 * hf.sample_count] = 255;
    heightfield_light_sample(&hf, 3, 3, &light, rgb);
    EXPECT_EQ(rgb[0], 63);   // ambient alone: 63.75
    // Sun from below: no direct light at all.
    light.sun_vector[1] = -1.0f;
    heightfield_light_sample(&hf, 0, 0, &light, rgb);
    EXPECT_EQ(rgb[0], 63);
    heightfield_free(&hf);
}

TEST(TerrainLighting, WallShadowsTheSideAwayFromTheSun)
{
    heightfield hf = wall_field();
    const int n = hf.sample_count;
    // Sun to the +x side, 45 degrees up: the wall at x = 8 shadows x below 8
    // for about 8 ft, and nothing on the sun side.
    const float sun[3] = {0.70710678f, 0.70710678f, 0.0f};
    std::vector<uint8_t> shadow((size_t)n * n);
    heightfield_cast_shadows(&hf, sun, 0.05f, shadow.data());
    const int row = 8;
    EXPECT_EQ(shadow[4 + (size_t)row * n], 255);
    EXPECT_EQ(shadow[7 + (size_t)row * n], 255);
    EXPECT_EQ(shadow[1 + (size_t)row * n], 255);
    EXPECT_EQ(shadow[12 + (size_t)row * n], 0);
    EXPECT_EQ(shadow[16 + (size_t)row * n], 0);
    EXPECT_EQ(shadow[8 + (size_t)row * n], 0);  // the wall top sees the sun

    const float low_sun[3] = {1.0f, 0.05f, 0.0f};
    heightfield_cast_shadows(&hf, low_sun, 0.05f, shadow.data());
    EXPECT_EQ(shadow[0], 255);
    const float night[3] = {0.0f, -1.0f, 0.0f};
    heightfield_cast_shadows(&hf, night, 0.05f, shadow.data());
    EXPECT_EQ(shadow[16 + (size_t)16 * n], 255);
    const float noon[3] = {0.0f, 1.0f, 0.0f};
    heightfield_cast_shadows(&hf, noon, 0.05f, shadow.data());
    EXPECT_EQ(shadow[7 + (size_t)8 * n], 0);
    heightfield_free(&hf);
}

TEST(TerrainLighting, RelightDirtyRewritesOnlyMarkedSamples)
{
    heightfield hf = wall_field();
    const int n = hf.sample_count;
    terrain_light light;
    heightfield_relight_all(&hf, &light);
    std::vector<uint8_t> before(hf.shading_map, hf.shading_map + (size_t)n * n * 3);

    heightfield_set_height(&hf, 3, 3, 4.0f);
    // A stale value elsewhere must stay: only the 3 x 3 block is redone.
    hf.shading_map[3 * (12 + 12 * n)] = 1;
    EXPECT_EQ(heightfield_relight_dirty(&hf, &light), 9);
    EXPECT_EQ(hf.shading_map[3 * (12 + 12 * n)], 1);
    uint8_t want[3];
    heightfield_light_sample(&hf, 2, 3, &light, want);
    EXPECT_EQ(hf.shading_map[3 * (2 + 3 * n)], want[0]);
    EXPECT_NE(hf.shading_map[3 * (2 + 3 * n)], before[3 * (2 + 3 * n)]);
    for (size_t k = 0; k < heightfield_dirty_bytes(&hf); k++)
        EXPECT_EQ(hf.shading_dirty[k], 0);
    EXPECT_EQ(heightfield_relight_dirty(&hf, &light), 0);
    heightfield_free(&hf);
}

TEST(TerrainLighting, NormalMapEncodesNormalAndShadow)
{
    heightfield hf = wall_field();
    const int n = hf.sample_count;
    hf.shadow_map[2 + 2 * n] = 40;
    heightfield_build_normal_map(&hf);
    ASSERT_NE(hf.terrain_normal_map, nullptr);
    ASSERT_NE(hf.normal_dirty, nullptr);
    const uint8_t* flat = hf.terrain_normal_map + 3 * (2 + 2 * n);
    EXPECT_EQ(flat[0], 128);
    EXPECT_EQ(flat[1], 215);
    EXPECT_EQ(flat[2], 128);
    // Left foot of the wall: the normal leans toward -x.
    const vec3 v = heightfield_vertex_normal(&hf, 7, 5);
    const uint8_t* foot = hf.terrain_normal_map + 3 * (7 + 5 * n);
    EXPECT_EQ(foot[0], 128 + (int)(127.0f * v.x));
    EXPECT_LT(foot[0], 128);

    // Editing marks the normal map too; relighting rebuilds it.
    heightfield_set_height(&hf, 2, 2, 3.0f);
    EXPECT_TRUE(heightfield_dirty_bit(hf.normal_dirty, 1 + 1 * n));
    terrain_light light;
    heightfield_relight_dirty(&hf, &light);
    EXPECT_NE(hf.terrain_normal_map[3 * (1 + 1 * n)], 128);
    EXPECT_FALSE(heightfield_dirty_bit(hf.normal_dirty, 1 + 1 * n));
    heightfield_free(&hf);
}

}  // namespace
