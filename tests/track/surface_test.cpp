// "tileinfo", "texturelist" and "tilemap": parsing, warnings, clamps, tile
// codes, the surface lookup and the writers' round trip.
#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "core/services.h"
#include "track/surface.h"
#include "track_test_util.h"

using namespace track_test;

namespace {

std::vector<std::string> g_loaded;  // texture names asked for, in order
bool g_keep_pictures = false;

unsigned record_texture(const char* name, int)
{
    g_loaded.push_back(name);
    return (unsigned)g_loaded.size();
}

bool keep_pictures()
{
    return g_keep_pictures;
}

struct Surfaces : ::testing::Test {
    test::data_dirs_fixture dirs;
    heightfield hf;
    texture_service saved = g_texture_service;

    void SetUp() override
    {
        clear_messages();
        g_loaded.clear();
        g_keep_pictures = false;
        g_texture_service.load = record_texture;
        g_texture_service.keep_tile_pictures = keep_pictures;
        ASSERT_TRUE(heightfield_create(&hf, 6, 2.0f, nullptr));
    }
    void TearDown() override
    {
        heightfield_free(&hf);
        g_texture_service = saved;
    }
    // Loads a "tileinfo" with the given text.
    bool load(const std::string& tileinfo)
    {
        test::write_file(dirs.game + "/trk/tileinfo", tileinfo);
        return load_surface_table(&hf, "@trk");
    }
    unsigned texture_id(const std::string& name) const
    {
        for (size_t k = 0; k < g_loaded.size(); k++)
            if (g_loaded[k] == name)
                return (unsigned)k + 1;
        return 0;
    }
};

TEST_F(Surfaces, AddtileAloneGivesDefaults)
{
    ASSERT_TRUE(load("addtile\n\n   \naddtile"));
    ASSERT_EQ(hf.surface_count, 2);
    const surface_type& s = hf.surfaces[1];
    const surface_type d;
    EXPECT_EQ(s.texture, 0u);
    EXPECT_EQ(s.friction[0].coefficient, 1.0f);
    EXPECT_EQ(s.friction[0].slip_speed, 1.0f);
    EXPECT_EQ(s.friction[1].slip_speed, 0.0f);
    EXPECT_EQ(s.roll_resist[0].deep, 15.0f);
    EXPECT_EQ(s.roost[0].mode, 0);
    EXPECT_EQ(s.erode.limit_count, 2);
    EXPECT_EQ(s.erode.limit_depth[1], 1.0f);
    EXPECT_EQ(s.erode.limit_dig[1], 0.0f);
    EXPECT_EQ(s.erode.erode_radius, d.erode.erode_radius);
    EXPECT_EQ(s.tile_code, (1 << 16) | (1 << 8));
    EXPECT_EQ(hf.surfaces[0].tile_code, 0);
    EXPECT_EQ(s.name_key, nullptr);  // keys go once the codes are made
    EXPECT_TRUE(messages().empty());
    EXPECT_TRUE(g_loaded.empty());
}

TEST_F(Surfaces, PointsAreSortedAndClamped)
{
    ASSERT_TRUE(load("friction 0.8 10\n"
                     "friction 1.2 2\n"
                     "roll_resist 3 9 20\n"
                     "roll_resist -1 -2 0\n"
                     "addtile\n"
                     "friction -5 0\n"
                     "addtile\n"));
    const surface_type& s = hf.surfaces[0];
    EXPECT_EQ(s.friction[0].coefficient, 1.2f);
    EXPECT_EQ(s.friction[0].slip_speed, 2.0f);
    EXPECT_EQ(s.friction[1].coefficient, 0.8f);
    EXPECT_EQ(s.friction[1].slip_speed, 10.0f);
    EXPECT_EQ(s.friction[2].coefficient, 1.0f);
    EXPECT_EQ(s.friction[2].slip_speed, 0.0f);
    // A speed of 0 would end the list: held at 2^-20; negatives at 0.
    EXPECT_EQ(s.roll_resist[0].shallow, 0.0f);
    EXPECT_EQ(s.roll_resist[0].deep, 0.0f);
    EXPECT_EQ(s.roll_resist[0].speed, 9.5367431640625e-07f);
    EXPECT_EQ(s.roll_resist[1].speed, 20.0f);
    EXPECT_EQ(hf.surfaces[1].friction[0].coefficient, 0.0f);
    EXPECT_EQ(hf.surfaces[1].friction[0].slip_speed, 9.5367431640625e-07f);
}

TEST_F(Surfaces, LineWarningsLeaveTheSurfaceUsable)
{
    std::string text;
    for (int k = 0; k < 9; k++)
        text += "friction 1 " + std::to_string(k + 1) + "\n";
    for (int k = 0; k < 9; k++)
        text += "roll_resist 1 2 " + std::to_string(k + 1) + "\n";
    text += "friction 1\nroll_resist a b c\nerode_depth x\nerode_radius 7.5\nerode_lower inf\n"
            "bogus 12\nroost\nroost\nroost\nroost\nroost\n"
            "erode_limit 0 1 1\nerode_limit 0.5 0.5 0.5\nerode_limit 0.5 0.2 0.2\nerode_limit zz\n"
            "addtile\nerode_depth 9\n";
    ASSERT_TRUE(load(text));
    EXPECT_EQ(messages(), (std::vector<std::string>{
                              "tileinfo warning: too many friction points",
                              "tileinfo warning: too many roll_resist points",
                              "tileinfo warning: bad friction parameters",
                              "tileinfo warning: bad roll_resist parameters",
                              "tileinfo warning: bad erode_depth",
                              "tileinfo warning: bad erode_lower",
                              "tileinfo warning: Unknown identifier 'bogus'",
                              "tileinfo warning: too many roost types",
                              "tileinfo warning: erode_limit depth <= prev depth",
                              "tileinfo warning: bad erode_limit",
                          }));
    ASSERT_EQ(hf.surface_count, 1);  // keys after the last "addtile" are dropped
    const surface_type& s = hf.surfaces[0];
    EXPECT_EQ(s.friction[7].slip_speed, 8.0f);
    EXPECT_EQ(s.erode.erode_depth, 1.0f);
    EXPECT_EQ(s.erode.erode_lower, 50.0f);
    EXPECT_EQ(s.erode.erode_radius, 7.5f);
    EXPECT_EQ(s.erode.limit_count, 2);
    EXPECT_EQ(s.erode.limit_depth[1], 0.5f);
    EXPECT_EQ(s.erode.limit_dig[1], 0.5f);
    for (int k = 0; k < ROOST_TYPES; k++)
        EXPECT_EQ(s.roost[k].mode, 1);
    EXPECT_EQ(g_loaded, std::vector<std::string>(4, "@roost.png"));
}

TEST_F(Surfaces, RoostParametersAndQuotedTokens)
{
    ASSERT_TRUE(load("roost \"texture=@my roost.png\" count=2.5 slip_threshold=1 r=300 g=-1 b=7.9 a=x "
                     "fade_a=-256 fade_r=-100 fade_g=20000 size=\n"
                     "roost splash=0.5\tfade_b=255 texture=\"@a b\"\"c\" wat=1 count=1e300\n"
                     "addtile\n"));
    const surface_type& s = hf.surfaces[0];
    const roost_type& r = s.roost[0];
    EXPECT_EQ(r.mode, 1);
    EXPECT_EQ(r.texture, texture_id("@my roost.png"));
    EXPECT_NE(r.texture, 0u);
    EXPECT_EQ(r.count, 2.5f);
    EXPECT_EQ(r.slip_threshold, 1.0f);
    EXPECT_EQ(r.colour[0], 300 & 255);
    EXPECT_EQ(r.colour[1], 255);
    EXPECT_EQ(r.colour[2], 7);
    EXPECT_EQ(r.colour[3], 0);
    EXPECT_EQ(r.fade[3], -2);
    EXPECT_EQ(r.fade[0], 0);
    EXPECT_EQ(r.fade[1], 127);  // held at the byte's end, not wrapped
    EXPECT_EQ(r.size, 0.0f);
    EXPECT_EQ(r.grow, 4.0f);
    const roost_type& splash = s.roost[1];
    EXPECT_EQ(splash.mode, 2);
    EXPECT_EQ(splash.fade[2], 1);
    EXPECT_EQ(splash.texture, texture_id("@a bc"));
    EXPECT_EQ(splash.count, 0.0f);
    EXPECT_EQ(s.roost[2].mode, 0);
    EXPECT_EQ(messages(), (std::vector<std::string>{
                              "tileinfo warning: bad a",
                              "tileinfo warning: bad size",
                              "tileinfo warning: unknown roost parameter 'wat=1'",
                              "tileinfo warning: bad count",
                          }));
    // No "@roost.png" loads: both types named their sprite.
    EXPECT_EQ(texture_id("@roost.png"), 0u);
}

TEST_F(Surfaces, TileCodesFromTextureNames)
{
    ASSERT_TRUE(load("texture @dirt.png\naddtile\n"
                     "texture @grass.png\naddtile\n"
                     "texture @dirt-alt1.png\naddtile\n"
                     "texture @dirt-grass-0110.png\naddtile\n"
                     "texture @dirt-grass-01x0.png\naddtile\n"
                     "texture @dirt-rock-1111.png\naddtile\n"
                     "texture @trk/mud.png\naddtile\n"
                     "texture @trk/mud-grass-1000.png\naddtile\n"
                     "texture @trk/mud-alt2.png\naddtile\n"
                     "texture @trk/sand.png\naddtile\n"
                     "texture @trk/mud-sand-0001.png\naddtile\n"
                     "addtile\n"));
    ASSERT_EQ(hf.surface_count, 12);
    auto code = [](int a, int b, int m) { return (a << 16) | (b << 8) | m; };
    EXPECT_EQ(hf.surfaces[0].tile_code, code(0, 0, 0));
    EXPECT_EQ(hf.surfaces[1].tile_code, code(1, 1, 0));
    EXPECT_EQ(hf.surfaces[2].tile_code, code(0, 0, 0));   // alternative picture of dirt
    EXPECT_EQ(hf.surfaces[3].tile_code, code(0, 1, 6));
    EXPECT_EQ(hf.surfaces[4].tile_code, code(0, 1, 0));   // mask digits not all valid
    EXPECT_EQ(hf.surfaces[5].tile_code, -256);            // no rock surface
    EXPECT_EQ(hf.surfaces[6].tile_code, code(6, 6, 0));   // key "/mud.png": no "-", plain
    EXPECT_EQ(hf.surfaces[7].tile_code, code(6, 1, 8));
    EXPECT_EQ(hf.surfaces[8].tile_code, code(6, 6, 0));
    EXPECT_EQ(hf.surfaces[9].tile_code, code(9, 9, 0));
    // The secondary's key "/sand.png" is found although it begins with "/".
    EXPECT_EQ(hf.surfaces[10].tile_code, code(6, 9, 1));
    EXPECT_EQ(hf.surfaces[11].tile_code, code(11, 11, 0));
    EXPECT_EQ(tile_code_primary(hf.surfaces[7].tile_code), 6);
    EXPECT_EQ(tile_code_secondary(hf.surfaces[7].tile_code), 1);
    EXPECT_EQ(tile_code_mask(hf.surfaces[3].tile_code), 6);
}

TEST_F(Surfaces, NameKeys)
{
    EXPECT_STREQ(surface_name_key("@dirt.png"), "dirt.png");
    EXPECT_STREQ(surface_name_key("@trk/tiles/dirt.png"), "/dirt.png");
    EXPECT_STREQ(surface_name_key("tiles/dirt.png"), "/dirt.png");
    EXPECT_STREQ(surface_name_key("dirt.png"), "dirt.png");
}

TEST_F(Surfaces, TexturelistFallback)
{
    test::write_file(dirs.game + "/trk/texturelist", "  0.7 4 12  tiles/sand.png\n\ngrass.png\n0.9 6 16 mud.png");
    ASSERT_TRUE(load_surface_table(&hf, "@trk"));
    ASSERT_EQ(hf.surface_count, 3);
    EXPECT_EQ(g_loaded, (std::vector<std::string>{"@roost.png", "@tiles/sand.png", "@roost.png", "@grass.png",
                                                  "@roost.png", "@mud.png"}));
    const surface_type& s = hf.surfaces[0];
    EXPECT_EQ(s.texture, texture_id("@tiles/sand.png"));
    EXPECT_EQ(s.friction[0].coefficient, 0.7f);
    EXPECT_EQ(s.friction[0].slip_speed, 1.0f);
    EXPECT_EQ(s.friction[7].coefficient, 0.7f);
    EXPECT_EQ(s.friction[7].slip_speed, 0.0f);
    EXPECT_EQ(s.roll_resist[3].shallow, 4.0f);
    EXPECT_EQ(s.roll_resist[3].deep, 12.0f);
    EXPECT_EQ(s.roost[0].mode, 1);
    EXPECT_EQ(s.roost[1].mode, 0);
    EXPECT_EQ(hf.surfaces[1].friction[0].coefficient, 1.0f);
    EXPECT_EQ(hf.surfaces[1].roll_resist[0].shallow, 5.0f);
    // The last line has no line end: its name keeps every character.
    EXPECT_EQ(hf.surfaces[2].texture, texture_id("@mud.png"));

    // Neither file: the texturelist is the one reported missing.
    heightfield other;
    ASSERT_TRUE(heightfield_create(&other, 6, 2.0f, nullptr));
    EXPECT_FALSE(load_surface_table(&other, "@nowhere"));
    EXPECT_TRUE(has_message("Can't open '@nowhere/texturelist'"));
    heightfield_free(&other);
}

TEST_F(Surfaces, TableStopsAt256AndNeverEndsEmpty)
{
    std::string text;
    for (int k = 0; k < 300; k++)
        text += "addtile\n";
    ASSERT_TRUE(load(text));
    EXPECT_EQ(hf.surface_count, SURFACE_MAX);

    ASSERT_TRUE(load("friction 1 1\n"));
    EXPECT_EQ(hf.surface_count, 1);
    EXPECT_EQ(hf.surfaces[0].friction[0].slip_speed, 1.0f);
}

TEST_F(Surfaces, TilemapClampsIndexesAndLooksUpCells)
{
    std::string text;
    for (int k = 0; k < 12; k++)
        text += "addtile\n";
    ASSERT_TRUE(load(text));
    const int side = 64;
    std::string map((size_t)side * side, 0);
    for (int cz = 0; cz < side; cz++)
        for (int cx = 0; cx < side; cx++)
            map[(size_t)cx + (size_t)cz * side] = (char)((cx + 3 * cz) % 11);
    map[5] = (char)200;
    test::write_file(dirs.game + "/trk/tilemap", map);
    ASSERT_TRUE(load_tilemap(&hf, "@trk"));
    EXPECT_EQ(hf.tilemap[5], 11);

    // Cells are 2 x 2 quads: 4 ft at spacing 2.
    EXPECT_EQ(heightfield_surface_at(&hf, 4.0f * 5 + 3.99f, 0.0f), 11);
    EXPECT_EQ(heightfield_surface_at(&hf, 4.0f * 6, 4.0f * 2 + 0.5f), (6 + 6) % 11);
    EXPECT_EQ(heightfield_surface_at(&hf, -100.0f, 4.0f * 3), (0 + 9) % 11);
    EXPECT_EQ(heightfield_surface_at(&hf, 1e9f, 1e9f), (63 + 189) % 11);
    EXPECT_EQ(heightfield_surface_at(&hf, hf.extent, 0.0f), 63 % 11);
    EXPECT_EQ(heightfield_surface_at(&hf, std::numeric_limits<float>::quiet_NaN(), 0.0f), 0);

    // A short file leaves the rest at surface 0; a missing one fails.
    test::write_file(dirs.game + "/trk/tilemap", std::string(10, (char)7));
    ASSERT_TRUE(load_tilemap(&hf, "@trk"));
    EXPECT_EQ(hf.tilemap[9], 7);
    EXPECT_EQ(hf.tilemap[10], 0);
    clear_messages();
    EXPECT_FALSE(load_tilemap(&hf, "@none"));
    EXPECT_TRUE(has_message("Can't open '@none/tilemap'"));
}

TEST_F(Surfaces, SoftwareTexturingKeepsTilePictures)
{
    g_keep_pictures = true;
    test::write_file(dirs.game + "/trk/dirt.ppm", ppm(4, 2, 9, 8, 7));
    const uint8_t rgba[2 * 2 * 4] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    picture_bytes png;
    ASSERT_TRUE(encode_png(rgba, 2, 2, 4, false, nullptr, &png));
    test::write_file(dirs.game + "/trk/grass.png", bytes_of(png));
    picture_bytes_free(&png);
    ASSERT_TRUE(load("texture @trk/dirt.ppm\naddtile\ntexture @trk/grass.png\naddtile\ntexture @trk/none.png\naddtile\n"));
    const surface_type& dirt = hf.surfaces[0];
    EXPECT_EQ(dirt.texture, 0u);
    ASSERT_NE(dirt.texture_pixels, nullptr);
    EXPECT_EQ(dirt.texture_width, 4);
    EXPECT_EQ(dirt.texture_height, 2);
    EXPECT_EQ(dirt.texture_pixels[3 * 7 + 2], 7);
    const surface_type& grass = hf.surfaces[1];
    ASSERT_NE(grass.texture_pixels, nullptr);
    EXPECT_EQ(grass.texture_pixels[3], 5);   // alpha dropped
    EXPECT_EQ(grass.texture_pixels[11], 15);
    EXPECT_EQ(hf.surfaces[2].texture_pixels, nullptr);
    // Only the roost sprites went through the texture service.
    EXPECT_TRUE(g_loaded.empty());
}

TEST_F(Surfaces, WrittenTileinfoReadsBackTheSame)
{
    tileinfo_entry e[2];
    e[0].texture_name = "@trk/dirt.png";
    e[0].friction_count = 2;
    e[0].friction[0] = {1.1f, 3.0f};
    e[0].friction[1] = {0.85f, 12.5f};
    e[0].roll_resist_count = 1;
    e[0].roll_resist[0] = {4.0f, 14.0f, 7.0f};
    e[0].roost_count = 2;
    e[0].roost[0].texture_name = "@trk/dirt roost.png";
    e[0].roost[0].params.count = 3.25f;
    e[0].roost[0].params.slow_angle = 0.049087387f;
    e[0].roost[0].params.colour[0] = 120;
    e[0].roost[0].params.fade[3] = -5;
    e[0].roost[1].params.mode = 2;
    e[0].roost[1].params.fade[0] = 3;
    e[0].erode.erode_depth = 1.7f;
    e[0].erode.erode_min_slope = -0.3f;
    e[0].erode.limit_count = 3;
    e[0].erode.limit_depth[2] = 2.0f;
    e[0].erode.limit_dig[2] = 0.0f;
    e[0].erode.limit_inner_dig[2] = 0.1f;
    e[0].erode.limit_dig[1] = 0.25f;
    ASSERT_TRUE(tileinfo_write((dirs.game + "/trk").c_str(), e, 2));
    ASSERT_TRUE(load_surface_table(&hf, "@trk"));
    EXPECT_TRUE(messages().empty());
    ASSERT_EQ(hf.surface_count, 2);
    const surface_type& s = hf.surfaces[0];
    EXPECT_EQ(s.texture, texture_id("@trk/dirt.png"));
    EXPECT_EQ(s.friction[1].coefficient, 0.85f);
    EXPECT_EQ(s.friction[1].slip_speed, 12.5f);
    EXPECT_EQ(s.friction[2].slip_speed, 0.0f);
    EXPECT_EQ(s.roll_resist[0].speed, 7.0f);
    EXPECT_EQ(s.roost[0].texture, texture_id("@trk/dirt roost.png"));
    EXPECT_EQ(s.roost[0].count, 3.25f);
    EXPECT_EQ(s.roost[0].slow_angle, 0.049087387f);
    EXPECT_EQ(s.roost[0].colour[0], 120);
    EXPECT_EQ(s.roost[0].fade[3], -5);
    EXPECT_EQ(s.roost[1].mode, 2);
    EXPECT_EQ(s.roost[1].fade[0], 3);
    EXPECT_EQ(s.erode.erode_depth, 1.7f);
    EXPECT_EQ(s.erode.erode_min_slope, -0.3f);
    EXPECT_EQ(s.erode.limit_count, 3);
    EXPECT_EQ(s.erode.limit_dig[1], 0.25f);
    EXPECT_EQ(s.erode.limit_inner_dig[2], 0.1f);
    EXPECT_EQ(hf.surfaces[1].erode.limit_count, 2);
    EXPECT_EQ(hf.surfaces[1].texture, 0u);

    tileinfo_entry bad;
    bad.texture_name = "two\nlines";
    picture_bytes out;
    EXPECT_FALSE(tileinfo_encode(&bad, 1, &out));
    bad.texture_name = nullptr;
    bad.roost_count = 1;
    bad.roost[0].texture_name = "a\"b";
    EXPECT_FALSE(tileinfo_encode(&bad, 1, &out));
    bad.roost_count = 5;
    EXPECT_FALSE(tileinfo_encode(&bad, 1, &out));
}

}  // namespace

namespace {

TEST(Ground, LoadsInTrackOrderAndFreesEverythingOnFailure)
{
    test::data_dirs_fixture dirs;
    clear_messages();
    const std::string dir = dirs.game + "/trk";
    write_flat_ground(dir, 6, 100);
    test::write_file(dir + "/tileinfo", "addtile\naddtile\n");
    heightfield hf;
    EXPECT_FALSE(heightfield_load_ground(&hf, "@trk", 0));
    EXPECT_TRUE(has_message("Can't open '@trk/tilemap'"));
    EXPECT_EQ(hf.heights, nullptr);
    EXPECT_EQ(hf.surfaces, nullptr);
    EXPECT_EQ(hf.surface_count, 0);

    test::write_file(dir + "/tilemap", std::string(64 * 64, (char)9));
    ASSERT_TRUE(heightfield_load_ground(&hf, "@trk", 0));
    EXPECT_EQ(hf.surface_count, 2);
    EXPECT_EQ(heightfield_surface_at(&hf, 10.0f, 10.0f), 1);
    EXPECT_FLOAT_EQ(heightfield_height_at(&hf, 10.0f, 10.0f), (float)(100.0L * 64.0L / 65535.0L));
    heightfield_free(&hf);
    EXPECT_EQ(hf.tilemap, nullptr);
}

}  // namespace
