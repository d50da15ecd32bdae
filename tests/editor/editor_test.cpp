// The track editor driven headless through its own input functions on
// real loaded tracks: the default track from the build's data, and small
// flat tracks written for the test. A window of 1024 x 768 at the first
// zoom (1) shows 768 ft of the default track's 1536, one foot per pixel.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <csignal>

#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/messages.h"
#include "editor/editor.h"
#include "files/datafs.h"
#include "platform/input.h"
#include "render/picture.h"
#include "track/track.h"
#include "../track/track_test_util.h"

namespace {

track tt;

const int W = 1024, H = 768;

editor_pointer at(int x, int y)
{
    editor_pointer p;
    p.x = x;
    p.y = y;
    p.width = W;
    p.height = H;
    return p;
}

int left_button()
{
    return key_code_by_name("Mouse Left");
}

// A press on the map at a pixel, ticks with the button held, a release.
void stroke(editor_state* e, int x, int y, int ticks)
{
    editor_pointer p = at(x, y);
    ASSERT_TRUE(editor_key(e, left_button(), true, p));
    for (int i = 0; i < ticks; i++)
        editor_tick(e, p);
    ASSERT_TRUE(editor_key(e, left_button(), false, p));
    editor_tick(e, p);
}

void type(editor_state* e, int c)
{
    // Over the map's right edge, away from the panel.
    editor_pointer p = at(W - 10, H / 2);
    editor_key(e, c, true, p);
    editor_key(e, c, false, p);
}

float height(const editor_state* e, int col, int row)
{
    return e->hf->heights[col + row * e->n];
}

std::string read(const std::string& path)
{
    return test::read_file(path);
}

// The default track from the build's data, with a fresh home directory.
struct default_track : ::testing::Test {
    test::temp_dir home;
    test::scoped_env xdg{"XDG_DATA_HOME", home.path.c_str()};
    test::scoped_env kz{"KZ_HOME", test::build_data_dir().c_str()};
    editor_state* e = nullptr;
    std::string saved;  // the track's folder in the home directory

    void SetUp() override
    {
        free_file_index();
        clear_messages();
        track_list_build(0);
        saved = home.path + "/Kessrig/rabbithill";
        load();
    }
    void load()
    {
        editor_end(e);
        e = nullptr;
        ASSERT_TRUE(track_load(&tt, "rabbithill", track_load_flags()));
        e = editor_begin(&tt);
        ASSERT_NE(e, nullptr);
        ASSERT_EQ(e->n, 1025);
    }
    void TearDown() override
    {
        editor_end(e);
        track_unload(&tt);
        track_list_free();
        free_file_index();
    }
};

// Pixel (704, 384) is ground (960, 768): sample (640, 512).
const int cx = 704, cy = 384, ccol = 640, crow = 512;

TEST_F(default_track, RaiseHoldsAtItsStrengthWithinAStrokeWeighsByDistanceAndHonoursSubModeAndFreezing)
{
    const float before = height(e, ccol, crow);
    // R = 64 ft, R_in = 32 ft: 48 ft out (32 samples) is weighed 0.5;
    // 66 ft out is outside.
    const float mid_before = height(e, ccol + 32, crow), out_before = height(e, ccol + 44, crow);
    stroke(e, cx, cy, 200);  // seven applications of the brush
    EXPECT_STREQ(e->status, "OK");
    EXPECT_NEAR(height(e, ccol, crow), before + 8, 1e-3);
    EXPECT_NEAR(height(e, ccol + 32, crow), mid_before + 4, 1e-3);
    EXPECT_EQ(height(e, ccol + 44, crow), out_before);
    stroke(e, cx, cy, 100);
    EXPECT_NEAR(height(e, ccol, crow), before + 16, 1e-3);

    // "Lower Only" turns a raise into nothing.
    e->widget_value[EDITOR_SUBMODE] = editor_lower_only;
    stroke(e, cx, cy, 40);
    EXPECT_NEAR(height(e, ccol, crow), before + 16, 1e-3);
    e->widget_value[EDITOR_SUBMODE] = editor_assign;

    // A race's frozen terrain takes neither strokes nor undo.
    tt.heightfield.frozen = 1;
    stroke(e, cx, cy, 40);
    type(e, 8);
    EXPECT_NEAR(height(e, ccol, crow), before + 16, 1e-3);
    EXPECT_EQ(tt.heightfield.frozen, 1);
    tt.heightfield.frozen = 0;

    // Smooth ("1") with a hard edge (Focus 1): each sample becomes the mean
    // of the disc of k = 2^3 samples around it, read from the heights as of
    // the last snapshot.
    type(e, '1');
    EXPECT_EQ(e->mode, editor_smooth);
    e->widget_value[EDITOR_FOCUS] = 1;
    std::vector<float> snap(e->working_heights);
    auto w = [&](int c, int r) { return snap[(size_t)c + (size_t)r * 1025]; };
    double sum = 0;
    int count = 0;
    for (int j = -7; j <= 7; j++) {
        const int m = (int)std::sqrt(64.0f - (float)(j * j));
        for (int i = -m; i <= m; i++, count++)
            sum += w(ccol + 20 + i, crow + j);
    }
    stroke(e, cx, cy, 1);
    EXPECT_NEAR(height(e, ccol + 20, crow), sum / count, 1e-3);
}

TEST_F(default_track, UndoRestoresHeightsAndLightingSevenStepsBack)
{
    type(e, 8);
    EXPECT_STREQ(e->status, "No more undo levels!");
    // Nine strokes down the map, 90 ft (60 rows) apart.
    auto row_of = [](int k) { return 272 + 60 * k; };
    const std::vector<uint8_t> shading(tt.heightfield.shading_map, tt.heightfield.shading_map + 1025 * 1025 * 3);
    std::vector<float> centre;
    for (int k = 0; k < 9; k++) {
        centre.push_back(height(e, ccol, row_of(k)));
        stroke(e, cx, 24 + 90 * k, 1);
        ASSERT_NEAR(height(e, ccol, row_of(k)), centre.back() + 8, 1e-3) << k;
    }
    for (int k = 8; k > 1; k--) {
        type(e, 8);
        EXPECT_STREQ(e->status, "Undo!") << k;
        EXPECT_NEAR(height(e, ccol, row_of(k)), centre[(size_t)k], 1e-3) << k;
        EXPECT_NEAR(height(e, ccol, row_of(k - 1)), centre[(size_t)k - 1] + 8, 1e-3) << k;
    }
    type(e, 8);
    EXPECT_STREQ(e->status, "No more undo levels!");
    // Back at the second stroke: the first two stand; the third is gone
    // with the lighting it was given.
    EXPECT_NEAR(height(e, ccol, row_of(0)), centre[0] + 8, 1e-3);
    EXPECT_NEAR(height(e, ccol, row_of(1)), centre[1] + 8, 1e-3);
    const size_t k3 = ((size_t)ccol + (size_t)row_of(2) * 1025) * 3;
    EXPECT_EQ(0, memcmp(&tt.heightfield.shading_map[k3], &shading[k3], 3));
    EXPECT_TRUE(0 == memcmp(e->working_heights.data(), tt.heightfield.heights, 1025 * 1025 * sizeof(float)));
    // The raised first stroke was relit at its snapshot.
    const size_t k0 = ((size_t)ccol + 40 + (size_t)row_of(0) * 1025) * 3;
    uint8_t lit[3];
    const terrain_light light = lighting_terrain_light(&tt.lighting);
    heightfield_light_sample(&tt.heightfield, ccol + 40, row_of(0), &light, lit);
    EXPECT_EQ(0, memcmp(&tt.heightfield.shading_map[k0], lit, 3));
}

const char* const k_saved_files[] = {"billboards", "timing_gates", "terrain.hf",  "terrain.png", "shading.ppm",
                                     "shadingx2.ppm", "tilemap",     "decals",      "statues",     "edinfo"};

std::vector<std::string> saved_bytes(const std::string& folder)
{
    std::vector<std::string> out;
    for (const char* name : k_saved_files)
        out.push_back(read(folder + "/" + name));
    return out;
}

// A hill saved spans the whole 16-bit range, loads back from the home
// directory, and saves again to the same bytes; the scene export declares
// each statue model once.
TEST_F(default_track, ASavedHillLoadsFromHomeAndSavesAgainToTheSameBytes)
{
    e->widget_value[EDITOR_STRENGTH] = 5;  // 32 ft a stroke: above the track's top
    stroke(e, cx, cy, 1);
    stroke(e, cx, cy, 1);
    size_t highest = 0;
    for (size_t k = 0; k < (size_t)1025 * 1025; k++)
        if (tt.heightfield.heights[k] > tt.heightfield.heights[highest])
            highest = k;
    const float top = tt.heightfield.heights[highest];
    ASSERT_GE(top, height(e, ccol, crow));
    ASSERT_GT(height(e, ccol, crow), 64);  // the hill stands above the track
    // A gradient for "edinfo" to carry.
    type(e, '7');
    editor_new_gradient(e, W, H);
    e->gradients.back().points = {{0, 0}, {20, 3}, {50, 0}};
    e->gradients.back().segment_types = {1, 0, 0};
    type(e, 's');
    ASSERT_STREQ(e->status, "Saved!");
    EXPECT_EQ(tt.heightfield.changed_marker & 2, 0);
    EXPECT_FALSE(test::file_exists(saved + "/.editor-save"));

    float hf_min = 0, hf_max = 0;
    int grid = 0;
    float spacing = 0;
    ASSERT_EQ(sscanf(read(saved + "/terrain.hf").c_str(), "%d %f %f %f", &grid, &spacing, &hf_min, &hf_max), 4);
    EXPECT_EQ(grid, 9);
    EXPECT_NEAR(hf_max, top, 1e-5);
    grey16_picture png;
    ASSERT_TRUE(read_grey16_png((saved + "/terrain.png").c_str(), &png));
    ASSERT_EQ(png.width, 1025);
    size_t lowest = 0;
    for (size_t k = 0; k < (size_t)1025 * 1025; k++)
        if (tt.heightfield.heights[k] < tt.heightfield.heights[lowest])
            lowest = k;
    EXPECT_EQ(png.samples[highest], 65535);
    EXPECT_EQ(png.samples[lowest], 0);
    grey16_picture_free(&png);
    const std::vector<std::string> first = saved_bytes(saved);

    // Loaded again, the track is the saved one.
    load();
    EXPECT_EQ(tt.heightfield.heights[highest], hf_max);
    ASSERT_EQ(e->gradients.size(), 1u);
    EXPECT_EQ(e->gradients[0].points.size(), 3u);
    EXPECT_EQ(e->gradients[0].segment_types[0], 1);
    type(e, 's');
    ASSERT_STREQ(e->status, "Saved!");
    const std::vector<std::string> second = saved_bytes(saved);
    for (size_t i = 0; i < first.size(); i++) {
        // Every file holds the track, decals included although headless
        // they have no pictures.
        EXPECT_FALSE(first[i].empty()) << k_saved_files[i];
        EXPECT_TRUE(first[i] == second[i]) << k_saved_files[i];
    }
    // The fixed start gate pieces stay out of the saved statues.
    EXPECT_EQ(read(saved + "/statues"), read(test::build_data_dir() + "/rabbithill/statues"));

    type(e, 'p');
    ASSERT_STREQ(e->status, "Pov!");
    const std::string pov = read(saved + "/track.pov");
    int declares = 0, objects = 0, haybales = 0;
    for (size_t at = 0; (at = pov.find("#declare _haybale = ", at)) != std::string::npos; at++)
        declares++;
    for (size_t at = 0; (at = pov.find("\tobject {\n\t\t_haybale\n", at)) != std::string::npos; at++)
        objects++;
    for (int i = 0; i < tt.objects.statues.count; i++)
        haybales += tt.objects.statues.items[i].model_name &&
                    strcmp(tt.objects.statues.items[i].model_name, "@rabbithill/haybale.qm") == 0;
    EXPECT_EQ(declares, 1);
    EXPECT_GE(haybales, 2);
    EXPECT_EQ(objects, haybales);
    EXPECT_NE(pov.find("texture { uv_mapping pigment { image_map { png \"rabbithill/haybale.png\"} } scale <1,-1,1> }"),
              std::string::npos);
    EXPECT_NE(pov.find("#declare ground = height_field {\n\tpng \"terrain.png\"\n"), std::string::npos);
}

// A save that cannot write reports it and leaves the files saved before
// whole.
TEST_F(default_track, ASaveIntoAFolderThatCannotBeWrittenFailsAndKeepsThePreviousFiles)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "root writes into read-only folders";
    stroke(e, cx, cy, 1);
    type(e, 's');
    ASSERT_STREQ(e->status, "Saved!");
    const std::vector<std::string> before = saved_bytes(saved);
    stroke(e, cx + 100, cy, 1);
    ASSERT_EQ(chmod(saved.c_str(), 0555), 0);
    type(e, 's');
    EXPECT_EQ(std::string(e->status).find("Not saved"), 0u) << e->status;
    EXPECT_NE(tt.heightfield.changed_marker & 2, 0);
    chmod(saved.c_str(), 0755);
    const std::vector<std::string> after = saved_bytes(saved);
    for (size_t i = 0; i < before.size(); i++)
        EXPECT_TRUE(before[i] == after[i]) << k_saved_files[i];
}

// A full disk, as root sees it too: a file size limit makes every write past
// it fail, as a disk without room does.
TEST_F(default_track, ASaveOntoAFullDiskFailsAndKeepsThePreviousFiles)
{
    stroke(e, cx, cy, 1);
    type(e, 's');
    ASSERT_STREQ(e->status, "Saved!");
    const std::vector<std::string> before = saved_bytes(saved);
    stroke(e, cx + 100, cy, 1);
    rlimit old_limit;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old_limit), 0);
    void (*old_handler)(int) = signal(SIGXFSZ, SIG_IGN);
    rlimit full = old_limit;
    full.rlim_cur = 2048;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &full), 0);
    type(e, 's');
    setrlimit(RLIMIT_FSIZE, &old_limit);
    signal(SIGXFSZ, old_handler);
    EXPECT_EQ(std::string(e->status).find("Not saved"), 0u) << e->status;
    EXPECT_NE(tt.heightfield.changed_marker & 2, 0);
    const std::vector<std::string> after = saved_bytes(saved);
    for (size_t i = 0; i < before.size(); i++)
        EXPECT_TRUE(before[i] == after[i]) << k_saved_files[i];
    // Room again: the same edit saves.
    type(e, 's');
    EXPECT_STREQ(e->status, "Saved!");
}

// Small flat tracks of the test's own.
struct flat_track : ::testing::Test {
    test::data_dirs_fixture dirs;
    editor_state* e = nullptr;
    void SetUp() override
    {
        track_test::write_flat_ground(dirs.game + "/flat", 6, 1000);
        test::write_file(dirs.game + "/flat/desc", "Flat\n");
        test::write_file(dirs.game + "/flat/tileinfo", "texture @dirt.png\nfriction 1.1 2\naddtile\n");
        test::write_file(dirs.game + "/flat/tilemap", std::string(64 * 64, '\0'));
        clear_messages();
    }
    void load()
    {
        track_list_build(0);
        ASSERT_TRUE(track_load(&tt, "flat", track_load_flags()));
        e = editor_begin(&tt);
        ASSERT_NE(e, nullptr);
    }
    void TearDown() override
    {
        editor_end(e);
        track_unload(&tt);
        track_list_free();
        free_file_index();
    }
};

TEST_F(flat_track, AFlatTrackSavesWithoutDividingByZero)
{
    ASSERT_NO_FATAL_FAILURE(load());
    type(e, 's');
    ASSERT_STREQ(e->status, "Saved!");
    const std::string header = read(dirs.home + "/flat/terrain.hf");
    EXPECT_EQ(header.find("nan"), std::string::npos) << header;
    EXPECT_EQ(header.find("inf"), std::string::npos) << header;
    grey16_picture png;
    ASSERT_TRUE(read_grey16_png((dirs.home + "/flat/terrain.png").c_str(), &png));
    for (int k = 0; k < png.width * png.height; k++)
        ASSERT_EQ(png.samples[k], 0) << k;
    grey16_picture_free(&png);
    const float h = tt.heightfield.heights[0];
    editor_end(e);
    e = nullptr;
    track_unload(&tt);
    ASSERT_NO_FATAL_FAILURE(load());
    EXPECT_NEAR(tt.heightfield.heights[100], h, 1e-6);
}

// "edinfo" as people leave it: types other than 1 are straight, points
// out of order go to their place, numbers that are not numbers (or are far
// beyond any track) and short lines are passed over; a gradient of no
// length paints finite heights.
TEST_F(flat_track, EditorInformationIsReadForgivinglyAndNeverPaintsNaN)
{
    test::write_file(dirs.home + "/flat/edinfo",
                     "add_gradient 10 20 110 20\n"
                     "  add_point 2 0 0\n"
                     "add_point 1 100 10\n"
                     "add_point 0 25 5\n"
                     "add_point 1 50 nan\n"
                     "add_point 1 inf 3\n"
                     "add_point 1 3e38 3\n"
                     "add_pointer 1 60 3\n"
                     "add_gradient 1 2 3\n"
                     "add_gradient 1e30 0 0 0\n"
                     "# a comment\n"
                     "add_gradient 64 64 64 64\n"
                     "add_point 1 0 4\n"
                     "add_point 1 0 9\n");
    ASSERT_NO_FATAL_FAILURE(load());
    ASSERT_EQ(e->gradients.size(), 2u);
    const gradient& g = e->gradients[0];
    ASSERT_EQ(g.points.size(), 3u);
    EXPECT_EQ(g.points[0].distance, 0);
    EXPECT_EQ(g.points[1].distance, 25);
    EXPECT_EQ(g.points[2].distance, 100);
    EXPECT_EQ(g.segment_types[0], 0);  // 2 is straight
    EXPECT_EQ(g.segment_types[2], 1);
    EXPECT_FLOAT_EQ(gradient_linear(g, 10 + 12.5f, 99), 2.5f);
    EXPECT_EQ(e->current_gradient, 1);
    EXPECT_STREQ(e->status, "OK");
    EXPECT_EQ(tt.heightfield.changed_marker, 0);

    // Paint the gradient of no length over the middle of the map.
    type(e, '3');
    ASSERT_EQ(e->mode, editor_gradient_linear_paint);
    e->widget_value[EDITOR_ZOOM] = 0;
    e->view_centre_x = e->view_centre_z = 128;
    stroke(e, W / 2 + 50, H / 2, 1);
    int changed = 0;
    for (int k = 0; k < e->n * e->n; k++) {
        ASSERT_TRUE(std::isfinite(tt.heightfield.heights[k])) << k;
        changed += tt.heightfield.heights[k] != tt.heightfield.loaded_heights[k];
    }
    EXPECT_GT(changed, 0);
    type(e, 's');
    ASSERT_STREQ(e->status, "Saved!");
    EXPECT_EQ(read(dirs.home + "/flat/edinfo").find("nan"), std::string::npos);
}

// A Hermite curve between two points meets the straight slope at both ends.
TEST(gradient_profile, CurvesFollowTheirEndSlopes)
{
    gradient g;
    g.x1 = 10;
    g.points = {{0, 0}, {10, 5}};
    g.segment_types = {1, 1};
    EXPECT_FLOAT_EQ(gradient_point_slope(g, 0), 0.5f);
    EXPECT_FLOAT_EQ(gradient_point_slope(g, 1), 0.5f);
    EXPECT_NEAR(gradient_profile(g, 2.5f), 1.25f, 1e-5);
    g.points = {{0, 0}, {10, 10}, {20, 0}};
    g.segment_types = {1, 1, 0};
    // The curve's inner point takes the mean slope (0): a smooth top.
    EXPECT_FLOAT_EQ(gradient_point_slope(g, 1), 0.0f);
    EXPECT_NEAR(gradient_profile(g, 9.0f), 9.81f, 1e-4);  // -10u^3 + 10u^2 + 10u
    EXPECT_NEAR(gradient_profile(g, 15.0f), 6.25f, 1e-5);  // 10u^3 - 20u^2 + 10 to the last slope
    EXPECT_FLOAT_EQ(gradient_radial(g, 10, 0), 10.0f);
    EXPECT_FLOAT_EQ(gradient_radial(g, 0, 10), 10.0f);   // behind the start
    EXPECT_FLOAT_EQ(gradient_radial(g, -5, 10), 10.0f);  // the along part removed
}

}  // namespace
