// The "lighting" file (keywords, clamps, flares, sky defaults, the unknown
// keyword) and the "cameras" file (pending settings, gate lines).
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "core/services.h"
#include "files/datafs.h"
#include "track/lighting.h"
#include "track_test_util.h"

using namespace track_test;

namespace {

std::vector<std::string> g_loaded;
int g_ticks = 0;

unsigned record_texture(const char* name, int)
{
    g_loaded.push_back(name);
    return (unsigned)g_loaded.size();
}

unsigned texture_of(const std::string& name)
{
    for (size_t k = 0; k < g_loaded.size(); k++)
        if (g_loaded[k] == name)
            return (unsigned)k + 1;
    return 0;
}

void count_tick(const char* text)
{
    EXPECT_STREQ(text, "Loading lighting");
    g_ticks++;
}

class Lighting : public ::testing::Test {
protected:
    test::data_dirs_fixture dirs;
    texture_service saved = g_texture_service;
    lighting light;
    camera_set cams;
    heightfield hf;

    void SetUp() override
    {
        free_file_index();
        clear_messages();
        g_loaded.clear();
        g_ticks = 0;
        g_texture_service.load = record_texture;
        const int n = samples_per_side(4);
        std::vector<float> h((size_t)n * n);
        for (int row = 0; row < n; row++)
            for (int col = 0; col < n; col++)
                h[(size_t)col + (size_t)row * n] = 0.5f * (float)col;  // 0.25 ft per ft along x
        ASSERT_TRUE(heightfield_create(&hf, 4, 2.0f, h.data()));
    }
    void TearDown() override
    {
        lighting_reset(&light);
        cameras_free(&cams);
        heightfield_free(&hf);
        g_texture_service = saved;
        free_file_index();
    }
    bool load(const std::string& text)
    {
        test::write_file(dirs.game + "/trk/lighting", text);
        free_file_index();
        return lighting_load(&light, "@trk", count_tick);
    }
    bool load_cameras(const std::string& text)
    {
        test::write_file(dirs.game + "/trk/cameras", text);
        free_file_index();
        return cameras_load(&cams, &hf, "@trk", 1);
    }
};

TEST_F(Lighting, MissingFileKeepsDefaultsAndLoadsNoSky)
{
    EXPECT_FALSE(lighting_load(&light, "@trk", nullptr));
    EXPECT_FLOAT_EQ(light.near_plane, 0.25f);
    EXPECT_FLOAT_EQ(light.far_plane, 5000.0f);
    EXPECT_FLOAT_EQ(light.ambient[1], 0.5f);
    EXPECT_FLOAT_EQ(light.global_ambient[2], 0.2f);
    EXPECT_FLOAT_EQ(light.fog_density, 0.0f);
    EXPECT_EQ(light.dynamic_lighting, 0);
    EXPECT_NEAR(light.sun_vector.x, 1 / sqrtf(3), 1e-6f);
    EXPECT_TRUE(g_loaded.empty());
    EXPECT_EQ(light.sky[0], 0u);
}

TEST_F(Lighting, KeywordsFillTheRecord)
{
    ASSERT_TRUE(load("sun_vector [ 0 3 4 ]\n"
                     "\tsun_color   [ 1 0.9 0.8 ]   \r\n"
                     "\n"
                     "ambient [ 0.3 0.3 0.35 ]\n"
                     "global_ambient [ 0.1 0.1 0.1 ]\n"
                     "fog [ 0.7 0.76 0.84 ] 0.00025\n"
                     "fog [ 1 1 1 ]\n"
                     "dynamic_lighting 2\n"
                     "near_plane 0.5\n"
                     "far_plane 8000\n"
                     "sky_n @my sky north.png\n"
                     "sky_u @up.png\n"));
    EXPECT_FLOAT_EQ(light.sun_vector.x, 0.0f);
    EXPECT_FLOAT_EQ(light.sun_vector.y, 0.6f);
    EXPECT_FLOAT_EQ(light.sun_vector.z, 0.8f);
    EXPECT_FLOAT_EQ(light.sun_color[2], 0.8f);
    EXPECT_FLOAT_EQ(light.ambient[2], 0.35f);
    EXPECT_FLOAT_EQ(light.global_ambient[0], 0.1f);
    EXPECT_FLOAT_EQ(light.fog_color[1], 0.76f);  // the short fog line changes nothing
    EXPECT_FLOAT_EQ(light.fog_density, 0.00025f);
    EXPECT_EQ(light.dynamic_lighting, 1);
    EXPECT_FLOAT_EQ(light.near_plane, 0.5f);
    EXPECT_FLOAT_EQ(light.far_plane, 8000.0f);
    // Given faces by name (the whole value), the rest from the defaults.
    EXPECT_EQ(light.sky[0], texture_of("@my sky north.png"));
    EXPECT_EQ(light.sky[1], texture_of("@sky-e.ppm"));
    EXPECT_EQ(light.sky[3], texture_of("@sky-w.ppm"));
    EXPECT_EQ(light.sky[4], texture_of("@up.png"));
    EXPECT_EQ(light.sky_env, texture_of("@sky-env.ppm"));
    EXPECT_EQ(texture_of("@sky-n.ppm"), 0u);
    EXPECT_EQ(g_ticks, 12);

    const terrain_light t = lighting_terrain_light(&light);
    EXPECT_FLOAT_EQ(t.sun_vector[2], 0.8f);
    EXPECT_FLOAT_EQ(t.sun_color[1], 0.9f);
}

TEST_F(Lighting, ClippingDistancesAreClamped)
{
    ASSERT_TRUE(load("far_plane 0.1\nnear_plane 0.5\n"));
    EXPECT_FLOAT_EQ(light.near_plane, 0.5f);
    EXPECT_FLOAT_EQ(light.far_plane, 0.5f);

    ASSERT_TRUE(load("near_plane 2\nfar_plane 1e9\n"));
    EXPECT_FLOAT_EQ(light.near_plane, 0.875f);
    EXPECT_FLOAT_EQ(light.far_plane, 1048576.0f);

    ASSERT_TRUE(load("near_plane 0\nfar_plane nan\n"));
    EXPECT_FLOAT_EQ(light.near_plane, 1.0f / 1024.0f);
    EXPECT_FLOAT_EQ(light.far_plane, 1.0f / 1024.0f);

    // A sun vector of zero length keeps the default direction.
    ASSERT_TRUE(load("sun_vector [ 0 0 0 ]\n"));
    EXPECT_NEAR(light.sun_vector.y, 1 / sqrtf(3), 1e-6f);
}

TEST_F(Lighting, FlareElementsComeBeforeTheirPointLine)
{
    ASSERT_TRUE(load("flare_element [ 0 1 ] [ 1 1 0.8 ] 0.2 @flare1.png\n"
                     "flare_element [ 0.1 -0.5 ] [ 0.5 0.5 1 ] 0.05 @flare2.png\n"
                     "flare_element [ 0 1 ] [ 1 1 ] 0.2 @broken.png\n"
                     "flare_point [ 100 20 300 ]\n"
                     "flare_element [ 0 1 ] [ 1 1 1 ] 0.3 @sun.png\n"
                     "flare_vector [ 1 1 0 ]\n"
                     "flare_element [ 0 2 ] [ 1 1 1 ] 0.3 @dropped.png\n"));
    ASSERT_EQ(light.flare_count, 2);
    const flare& lamp = light.flares[0];
    EXPECT_EQ(lamp.is_vector, 0);
    EXPECT_FLOAT_EQ(lamp.source.z, 300.0f);
    ASSERT_EQ(lamp.element_count, 2);
    EXPECT_FLOAT_EQ(lamp.elements[1].offset_across, 0.1f);
    EXPECT_FLOAT_EQ(lamp.elements[1].offset_along, -0.5f);
    EXPECT_FLOAT_EQ(lamp.elements[1].color[2], 1.0f);
    EXPECT_FLOAT_EQ(lamp.elements[1].size, 0.05f);
    EXPECT_EQ(lamp.elements[0].texture, texture_of("@flare1.png"));
    EXPECT_EQ(texture_of("@broken.png"), 0u);
    EXPECT_EQ(light.flares[1].is_vector, 1);
    EXPECT_EQ(light.flares[1].element_count, 1);

    // A ninth element is ignored.
    std::string text;
    for (int k = 0; k < 9; k++)
        text += "flare_element [ 0 1 ] [ 1 1 1 ] 0.1 @e" + std::to_string(k) + ".png\n";
    ASSERT_TRUE(load(text + "flare_vector [ 0 1 0 ]\n"));
    ASSERT_EQ(light.flare_count, 1);
    EXPECT_EQ(light.flares[0].element_count, FLARE_ELEMENTS_MAX);
    EXPECT_EQ(texture_of("@e8.png"), 0u);
}

TEST_F(Lighting, UnknownKeywordEndsTheFileKeepingWhatCameBefore)
{
    ASSERT_TRUE(load("ambient [ 0.1 0.2 0.3 ]\n"
                     "far_plane 0.1\n"
                     "sunvector [ 1 0 0 ]\n"
                     "fog [ 1 1 1 ] 0.5\n"));
    EXPECT_TRUE(has_message("Error reading lighting: Unknown identifier 'sunvector'"));
    EXPECT_FLOAT_EQ(light.ambient[2], 0.3f);
    EXPECT_FLOAT_EQ(light.fog_density, 0.0f);
    // The read part is still finished: clamps and the default sky.
    EXPECT_FLOAT_EQ(light.far_plane, 0.25f);
    EXPECT_NE(light.sky[0], 0u);
}

// ---- cameras -----------------------------------------------------------------------

TEST_F(Lighting, CamerasTakeThePendingSettings)
{
    ASSERT_TRUE(load_cameras("fov -40\n"
                             "autofovsize -12\n"
                             "addcamera 10 5 20\n"
                             "addcamera 4 0 4\n"
                             "fov 1e999\n"
                             "addcamera nonsense\n"
                             "# a remark\n"
                             "addcamera 30 2 6\n"));
    ASSERT_EQ(cams.count, 3);
    EXPECT_FLOAT_EQ(cams.items[0].position.x, 10.0f);
    EXPECT_FLOAT_EQ(cams.items[0].position.y, 2.5f + 5.0f);  // ground 0.25 * 10 + height
    EXPECT_FLOAT_EQ(cams.items[0].fov, 40.0f);
    EXPECT_FLOAT_EQ(cams.items[0].autofovsize, 12.0f);
    EXPECT_FLOAT_EQ(cams.items[0].yaw, 0.0f);
    // Reset after each camera.
    EXPECT_FLOAT_EQ(cams.items[1].fov, 90.0f);
    EXPECT_FLOAT_EQ(cams.items[1].autofovsize, 0.0f);
    EXPECT_FLOAT_EQ(cams.items[2].fov, 90.0f);
    EXPECT_FLOAT_EQ(cams.items[2].position.y, 7.5f + 2.0f);

    EXPECT_FALSE(cameras_load(&cams, &hf, "@nowhere", 0));
    EXPECT_EQ(cams.count, 0);
}

TEST_F(Lighting, GateLinesMapGatesToTheNextCamera)
{
    ASSERT_TRUE(load_cameras("gate 3 7 300 9\n"
                             "addcamera 10 5 10\n"
                             "  gate\t0 1 x 2\n"
                             "gates 4\n"
                             "gate5\n"
                             "addcamera 20 5 20\n"
                             "gate 7 255\n"
                             "addcamera 30 5 30\n"
                             "gate 12\n"));
    ASSERT_EQ(cams.count, 3);
    EXPECT_EQ(gate_camera(&cams, 3), 0);
    EXPECT_EQ(gate_camera(&cams, 9), -1);  // after 300 reading stopped
    EXPECT_EQ(gate_camera(&cams, 0), 1);
    EXPECT_EQ(gate_camera(&cams, 1), 1);
    EXPECT_EQ(gate_camera(&cams, 2), -1);
    EXPECT_EQ(gate_camera(&cams, 4), -1);
    EXPECT_EQ(gate_camera(&cams, 5), -1);
    EXPECT_EQ(gate_camera(&cams, 7), 2);  // a later line wins
    EXPECT_EQ(gate_camera(&cams, 255), 2);
    // A gate left for a camera that never came is not covered.
    EXPECT_EQ(gate_camera(&cams, 12), -1);
    EXPECT_EQ(gate_camera(&cams, -1), -1);
    EXPECT_EQ(gate_camera(&cams, 256), -1);
}

}  // namespace
