// Terrain drawing on a real context with the default track: what each
// method logs and builds (tiles read back against the software picture of
// the same tile), the camera blocks following the camera, the mesh drawn
// back to front against a full-resolution depth-tested drawing, the refresh
// after the ground changes, the terrain program on a dynamically lit
// track, and the start line's place and width alike in every level.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/services.h"
#include "files/datafs.h"
#include "gl_test_context.h"
#include "render/camera.h"
#include "render/picture.h"
#include "render/shaders.h"
#include "render/terrain_internal.h"
#include "render/texture.h"
#include "robot/centre_line.h"
#include "test_support.h"
#include "track/erosion.h"
#include "track/track.h"

using namespace terrain_detail;
using namespace vecmath;

namespace {

unsigned load_texture(const char* name, int)
{
    return texture_get(name);
}

struct difference {
    double mean = 0;       // mean absolute difference per channel
    double far_share = 0;  // share of pixels with a channel off by more than the limit
};

// a and b hold pixels of a_step and b_step bytes; the first three compared.
difference compare(const std::vector<unsigned char>& a, int a_step, const std::vector<unsigned char>& b, int b_step,
                   int limit)
{
    difference d;
    const size_t count = std::min(a.size() / a_step, b.size() / b_step);
    long total = 0, far = 0;
    for (size_t k = 0; k < count; k++) {
        int worst = 0;
        for (int c = 0; c < 3; c++) {
            const int e = abs((int)a[k * a_step + c] - (int)b[k * b_step + c]);
            total += e;
            worst = std::max(worst, e);
        }
        far += worst > limit;
    }
    d.mean = count ? (double)total / (3.0 * count) : 0;
    d.far_share = count ? (double)far / count : 0;
    return d;
}

struct terrain_gl : gl_test {
    test::temp_dir home_dir;
    test::scoped_env xdg{"XDG_DATA_HOME", home_dir.path.c_str()};
    std::string data = test::build_data_dir();
    test::scoped_env kz{"KZ_HOME", data.c_str()};
    track tr;

    terrain_gl()
    {
        width = 640;
        height = 480;
    }

    void SetUp() override
    {
        gl_test::SetUp();
        if (!window)
            return;
        free_file_index();
        g_texture_service.load = load_texture;
        g_texture_service.keep_tile_pictures = terrain_keeps_tile_pictures;
        terrain_render_install_hooks();
        glEnable(GL_CULL_FACE);
    }

    void TearDown() override
    {
        if (window) {
            track_unload(&tr);
            textures_release(true);
            shaders_free();
        }
        terrain_render_remove_hooks();
        g_texture_service = texture_service();
        g_track_hooks.objects = object_options();
        g_terrain_settings = terrain_settings();
        free_file_index();
        gl_test::TearDown();
    }

    heightfield* hf() { return &tr.heightfield; }
    terrain_render_state* st() { return tr.heightfield.render; }

    bool load(const char* name, int method, int texels = 128, int min_level = 1)
    {
        terrain_settings s;
        s.method = method;
        s.tile_texels = texels;
        s.min_level = min_level;
        g_terrain_settings = s;
        track_load_flags flags;
        return track_load(&tr, name, flags) && st();
    }

    // Runs frames of texture upkeep until nothing is left to build.
    int settle(vec3 eye, int most = 400)
    {
        int frames = 0;
        for (; frames < most; frames++) {
            terrain_update(hf(), TERRAIN_UPDATE_BUDGET);
            tile_ref next;
            bool light_dirty = false;
            for (const light_tile& lt : st()->light_tiles)
                light_dirty = light_dirty || lt.dirty;
            levels_follow(st(), sample_floor(eye.x, hf()->spacing), sample_floor(eye.z, hf()->spacing));
            if (!light_dirty && !next_tile_to_build(st(), &next))
                break;
            terrain_prepare_textures(hf(), eye, v3(0, -1, 0));
        }
        return frames;
    }

    // Projection and camera of a 1280 x 720-like view into the window.
    vec3 look(vec3 eye, vec3 target)
    {
        float r[9];
        camera_look_at(eye, target, r);
        set_projection(width, height, 90.0f, 0.25f, 6000.0f);
        glMatrixMode(GL_MODELVIEW);
        load_camera_rotation(r);
        translate_to_eye(eye);
        return neg(camera_backward(r));
    }

    std::vector<unsigned char> colour_of(const tile_ref& ref)
    {
        int w = 0, h = 0;
        std::vector<unsigned char> rgba = read_texture(tile_of(st(), ref)->colour, 0, &w, &h);
        EXPECT_EQ(w, st()->tile_texels);
        EXPECT_EQ(h, st()->tile_texels);
        return rgba;
    }

    // The camera-level slot holding the tile of level i under a point.
    tile_ref slot_under(int level, float x, float z)
    {
        const int ts = tile_samples(level);
        const level_block& lv = st()->levels[level];
        const int tx = sample_floor(x, hf()->spacing) / ts - lv.bx, tz = sample_floor(z, hf()->spacing) / ts - lv.bz;
        EXPECT_TRUE(tx >= 0 && tx < 4 && tz >= 0 && tz < 4);
        return slot_ref(st(), level, tx + 4 * tz);
    }

    tile_ref grid_under(float x, float z)
    {
        const int c = sample_floor(x, hf()->spacing) / GRID_TILE_SAMPLES;
        const int r = sample_floor(z, hf()->spacing) / GRID_TILE_SAMPLES;
        return grid_ref(st(), r * st()->grid_side + c);
    }
};

// The start of the finish line decal of the default track.
const float finish_x = 590.0f, finish_z = 1270.0f;

}  // namespace

TEST_F(terrain_gl, EachMethodSaysHowItBuildsTiles)
{
    heightfield flat;
    ASSERT_TRUE(heightfield_create(&flat, 6, 2.0f, nullptr));
    terrain_settings s;
    s.method = terrain_method_hardware_copy;
    ASSERT_TRUE(terrain_render_setup(&flat, s, nullptr));
    EXPECT_EQ(flat.render->texturing, terrain_copy_sub_image);
    s.method = terrain_method_hardware_direct;
    ASSERT_TRUE(terrain_render_setup(&flat, s, nullptr));
    EXPECT_EQ(flat.render->texturing, terrain_framebuffer);
    EXPECT_EQ(flat.render->tile_texels, 64);
    // Framebuffer tiles may be large; the others are capped.
    s.tile_texels = 1024;
    ASSERT_TRUE(terrain_render_setup(&flat, s, nullptr));
    EXPECT_EQ(flat.render->tile_texels, 1024);
    s.method = terrain_method_software;
    ASSERT_TRUE(terrain_render_setup(&flat, s, nullptr));
    EXPECT_EQ(flat.render->tile_texels, 256);
    EXPECT_TRUE(flat.render->light_tiles.empty());
    // A driver without framebuffer objects draws "Hardware/Direct" in memory.
    g_gl_caps.has_fbo = false;
    s.method = terrain_method_hardware_direct;
    ASSERT_TRUE(terrain_render_setup(&flat, s, nullptr));
    EXPECT_EQ(flat.render->texturing, terrain_tex_sub_image);
    s.method = 7;
    ASSERT_TRUE(terrain_render_setup(&flat, s, nullptr));
    EXPECT_EQ(flat.render->texturing, terrain_tex_sub_image);
    heightfield_free(&flat);
    EXPECT_EQ(flat.render, nullptr);

    const std::string log = log_text();
    const std::string lines[] = {"Terrain texture rendering with CopyTexSubImage\n",
                                 "Terrain texture rendering with framebuffer objects\n",
                                 "Terrain texture rendering with TexSubImage\n",
                                 "1x1 low detail textures needed for 129x129 field\n",
                                 "Something went wrong setting up terrain texture rendering!"};
    for (const std::string& line : lines)
        EXPECT_NE(log.find(line), std::string::npos) << line;
    // The line for the method without framebuffer objects comes after the
    // two framebuffer ones.
    EXPECT_GT(log.rfind("with TexSubImage"), log.rfind("with framebuffer objects"));
}

TEST_F(terrain_gl, EveryMethodDrawsTheTileItsSoftwarePictureShows)
{
    for (int method = 0; method < terrain_method_count; method++) {
        SCOPED_TRACE(terrain_method_name(method));
        // Framebuffer tiles may be large; on the one old renderer that
        // needs it, decals wider than 256 texels are then drawn in pieces.
        const bool large = method == terrain_method_hardware_direct;
        if (large)
            snprintf(g_gl_caps.renderer, sizeof g_gl_caps.renderer, "ATI Radeon X1270");
        ASSERT_TRUE(load("rabbithill", method, large ? 512 : 128));
        const vec3 eye = v3(finish_x + 10.0f, 40.0f, finish_z + 6.0f);
        settle(eye);
        const tile_ref refs[] = {grid_under(finish_x, finish_z), slot_under(5, finish_x, finish_z),
                                 slot_under(3, finish_x, finish_z), slot_under(1, eye.x, eye.z)};
        for (const tile_ref& ref : refs) {
            SCOPED_TRACE(ref.level);
            ASSERT_TRUE(tile_of(st(), ref)->valid);
            const std::vector<unsigned char> drawn = colour_of(ref);
            std::vector<uint8_t> composed;
            gl_software_tile(st(), hf(), ref, &composed);
            const difference d = compare(drawn, 4, composed, 3, 24);
            EXPECT_LT(d.mean, 1.2);
            EXPECT_LT(d.far_share, 0.001);
            // Not a blank or uniform tile: the comparison means something.
            const difference from_black = compare(drawn, 4, std::vector<unsigned char>(composed.size(), 0), 3, 0);
            EXPECT_GT(from_black.mean, 20.0);
            if (large) {
                // With mipmaps made from the drawn picture.
                int w = 0, h = 0;
                const std::vector<unsigned char> half = read_texture(tile_of(st(), ref)->colour, 1, &w, &h);
                EXPECT_EQ(w, 256);
                EXPECT_GT(compare(half, 4, std::vector<unsigned char>(half.size(), 0), 4, 0).mean, 20.0);
            }
            if (ref.level == 3) {
                // The finish line decal is in it: without decals a good part
                // of the tile would look different.
                compose_inputs bare;
                bare.hf = hf();
                bare.surfaces = st()->surface_pictures.data();
                bare.lighting = hf()->shading_map;
                std::vector<uint8_t> plain(composed.size());
                compose_tile(bare, ref.col0, ref.row0, ref.samples, st()->tile_texels, plain.data());
                EXPECT_GT(compare(drawn, 4, plain, 3, 24).far_share, 0.05);
            }
        }
        track_unload(&tr);
        snprintf(g_gl_caps.renderer, sizeof g_gl_caps.renderer, "llvmpipe");
    }
    EXPECT_NE(log_text().find("Working around ATI Radeon X1270 bug\n"), std::string::npos);
}

TEST_F(terrain_gl, MovingOneTileRebuildsTheFourUncovered)
{
    ASSERT_TRUE(load("rabbithill", terrain_method_hardware_direct));
    // A camera column where a step of one level-1 tile moves level 1 only.
    const float spacing = hf()->spacing;
    int col = 500;
    auto only_level_one = [&](int c) {
        for (int i = 2; i <= 5; i++)
            if (block_origin(c, i, st()->n) != block_origin(c + 4, i, st()->n))
                return false;
        return block_origin(c, 1, st()->n) + 1 == block_origin(c + 4, 1, st()->n);
    };
    while (!only_level_one(col))
        col++;
    const vec3 eye = v3(((float)col + 0.5f) * spacing, 30.0f, 700.0f);
    settle(eye);
    const level_block before = st()->levels[1];
    const int built = st()->tiles_built;

    const vec3 moved = v3(eye.x + 4 * spacing, eye.y, eye.z);
    for (int frame = 0; frame < 12; frame++) {
        terrain_update(hf(), TERRAIN_UPDATE_BUDGET);
        terrain_prepare_textures(hf(), moved, v3(0, -1, 0));
    }
    EXPECT_EQ(st()->tiles_built - built, 4);
    const level_block& after = st()->levels[1];
    EXPECT_EQ(after.bx, before.bx + 1);
    EXPECT_EQ(after.bz, before.bz);
    // The twelve tiles still in the block kept their textures, one slot
    // further on; the new column took the textures of the column that left.
    for (int s = 0; s < 16; s++) {
        const int x = s % 4, z = s / 4;
        EXPECT_TRUE(after.slots[s].valid);
        if (x < 3)
            EXPECT_EQ(after.slots[s].colour, before.slots[s + 1].colour);
        else
            EXPECT_EQ(after.slots[s].colour, before.slots[4 * z].colour);
    }
}

TEST_F(terrain_gl, PaintersOrderMatchesADepthTestedFullResolutionDrawing)
{
    ASSERT_TRUE(load("rabbithill", terrain_method_hardware_direct));
    const struct {
        vec3 eye, target;
    } views[] = {{v3(finish_x - 60, 0, finish_z + 40), v3(finish_x + 200, 0, finish_z - 150)},
                 {v3(400, 0, 400), v3(900, 0, 700)},
                 {v3(1200, 0, 300), v3(700, 0, 900)}};
    for (const auto& view : views) {
        vec3 eye = view.eye;
        eye.y = heightfield_height_at(hf(), eye.x, eye.z) + 9.0f;
        vec3 target = view.target;
        target.y = heightfield_height_at(hf(), target.x, target.z);
        settle(eye);

        glDepthMask(GL_TRUE);
        glClearColor(0, 0, 0, 0);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glEnable(GL_DEPTH_TEST);
        glDepthFunc(GL_ALWAYS);
        vec3 dir = look(eye, target);
        terrain_stats_reset();
        terrain_draw(hf(), eye, dir);
        const terrain_stats lod = g_terrain_stats;
        const std::vector<unsigned char> painted = read_pixels(0, 0, width, height);
        // Immediate mode draws the very same fans.
        st()->settings.no_vertex_arrays = true;
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        terrain_draw(hf(), eye, dir);
        st()->settings.no_vertex_arrays = false;
        EXPECT_LT(compare(read_pixels(0, 0, width, height), 3, painted, 3, 8).far_share, 0.0005);

        // The same view at full resolution with a real depth test.
        const double scale = st()->settings.error_scale;
        st()->settings.error_scale = 1e-9;
        st()->have_draw_errors = false;
        pyramid_advance(st(), hf(), -1);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glDepthFunc(GL_LESS);
        terrain_stats_reset();
        terrain_draw(hf(), eye, dir);
        const std::vector<unsigned char> exact = read_pixels(0, 0, width, height);
        EXPECT_GT(g_terrain_stats.vertices, 4 * lod.vertices);
        st()->settings.error_scale = scale;
        st()->have_draw_errors = false;
        pyramid_advance(st(), hf(), -1);

        const difference d = compare(painted, 3, exact, 3, 40);
        EXPECT_LT(d.mean, 1.0) << eye.x << " " << eye.z;
        EXPECT_LT(d.far_share, 0.005) << eye.x << " " << eye.z;
        const difference from_black = compare(exact, 3, std::vector<unsigned char>(exact.size(), 0), 3, 0);
        EXPECT_GT(from_black.mean, 30.0);
        EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
    }

    // A flight round the lap of both default tracks, a little above the
    // centre line.
    for (const char* name : {"rabbithill", "stadium"}) {
        SCOPED_TRACE(name);
        if (std::string(name) != "rabbithill") {
            ASSERT_TRUE(load(name, terrain_method_hardware_direct));
        }
        rider_path path;
        std::string why;
        ASSERT_TRUE(centre_line_load(name, centre_line_options(), &path, &why)) << why;
        glDepthFunc(GL_ALWAYS);
        for (size_t k = (size_t)path.loop_start; k + 10 < path.points.size(); k += 25) {
            const rider_path_point& p = path.points[k];
            const rider_path_point& q = path.points[k + 10];
            const vec3 eye = v3(p.x, p.y + 6.0f, p.z);
            terrain_update(hf(), TERRAIN_UPDATE_BUDGET);
            terrain_prepare_textures(hf(), eye, v3(q.x - p.x, 0, q.z - p.z));
            glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
            terrain_draw(hf(), eye, look(eye, v3(q.x, q.y + 3.0f, q.z)));
            ASSERT_EQ(st()->cracks, 0) << k;
        }
    }
    EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
    EXPECT_EQ(log_text().find("Found a crack!"), std::string::npos);
}

TEST_F(terrain_gl, DiggingRelightsAndRebuildsTheTilesShowingIt)
{
    for (int method : {terrain_method_software, terrain_method_hardware_direct}) {
        SCOPED_TRACE(terrain_method_name(method));
        ASSERT_TRUE(load("rabbithill", method));
        const vec3 eye = v3(finish_x, 40.0f, finish_z);
        settle(eye);
        const tile_ref ref = slot_under(2, finish_x, finish_z);
        const std::vector<unsigned char> before = colour_of(ref);

        // A pit six feet deep, as erosion would dig it (through its hook).
        const int c0 = sample_floor(finish_x, hf()->spacing) - 3, r0 = sample_floor(finish_z, hf()->spacing) - 3;
        for (int r = r0; r <= r0 + 6; r++)
            for (int c = c0; c <= c0 + 6; c++)
                heightfield_set_height(hf(), c, r, heightfield_sample(hf(), c, r) - 6.0f);
        hf()->modify_count++;
        g_erosion_hooks.mark_dirty(g_erosion_hooks.context, hf(), c0, r0, c0 + 6, r0 + 6);
        const int built = st()->tiles_built;
        settle(eye);
        EXPECT_GE(st()->tiles_built - built, 2);
        // The error pyramid catches up with the change a little each frame.
        int frames = 0;
        while (st()->draw_modify_count != hf()->modify_count && frames < 5000) {
            terrain_update(hf(), TERRAIN_UPDATE_BUDGET);
            frames++;
        }
        EXPECT_EQ(st()->draw_modify_count, hf()->modify_count);
        EXPECT_GT(frames, 100);
        // The lighting of the pit was recomputed and its dirty marks cleared.
        for (int r = r0 - 1; r <= r0 + 7; r++)
            for (int c = c0 - 1; c <= c0 + 7; c++)
                ASSERT_FALSE(heightfield_dirty_bit(hf()->shading_dirty, c + r * hf()->sample_count));
        const std::vector<unsigned char> after = colour_of(ref);
        std::vector<uint8_t> composed;
        gl_software_tile(st(), hf(), ref, &composed);
        EXPECT_LT(compare(after, 4, composed, 3, 24).mean, 1.5);
        EXPECT_GT(compare(after, 4, before, 4, 24).far_share, 0.002);

        // Moving the finish line (as the editor does) redraws where it was
        // and where it goes.
        const int finish = 0;
        const decal& d = hf()->decals->items[finish];
        ASSERT_NEAR(d.x, finish_x, 0.01f);
        decal_move(hf(), finish, d.x + 4.0f, d.z + 3.0f, d.angle);
        settle(eye);
        const std::vector<unsigned char> moved = colour_of(ref);
        gl_software_tile(st(), hf(), ref, &composed);
        EXPECT_LT(compare(moved, 4, composed, 3, 24).mean, 1.5);
        EXPECT_GT(compare(moved, 4, after, 4, 24).far_share, 0.002);
        track_unload(&tr);
    }
}

TEST_F(terrain_gl, ADynamicallyLitTrackDrawsWithTheTerrainProgram)
{
    if (!shaders_init())
        GTEST_SKIP() << "no shader programs on this driver";
    g_gl_caps.shaders_on = true;
    // The default track with per-pixel lighting, from the home directory.
    test::write_file(home_dir / "Kessrig/rabbithill/lighting",
                     test::read_file(data + "/rabbithill/lighting") + "dynamic_lighting 1\n");
    // The finish line's maps: a normal leaning toward +x, and a shine.
    auto put_png = [&](const char* name, unsigned char r, unsigned char g, unsigned char b) {
        const std::vector<unsigned char> rgb = {r, g, b, r, g, b, r, g, b, r, g, b};
        picture_bytes out;
        ASSERT_TRUE(encode_png(rgb.data(), 2, 2, 3, false, nullptr, &out));
        test::write_file(home_dir / (std::string("Kessrig/rabbithill/") + name),
                         std::string((const char*)out.data, out.size));
        picture_bytes_free(&out);
    };
    put_png("decal-finish_tnorm.png", 230, 128, 170);
    put_png("decal-finish_tspec.png", 200, 128, 255);
    free_file_index();
    ASSERT_TRUE(load("rabbithill", terrain_method_shaders_direct));
    ASSERT_TRUE(st()->shader);
    ASSERT_NE(hf()->terrain_normal_map, nullptr);
    EXPECT_TRUE(g_track_hooks.objects.terrain_shader);
    ASSERT_TRUE(hf()->decals && hf()->decals->count > 0);
    EXPECT_NE(hf()->decals->items[0].normal_texture, 0u);
    EXPECT_NE(hf()->decals->items[0].spec_texture, 0u);

    const vec3 eye = v3(finish_x + 10.0f, 40.0f, finish_z + 6.0f);
    settle(eye);
    // Colour without the baked lighting.
    const tile_ref decal_tile = slot_under(3, finish_x, finish_z);
    std::vector<uint8_t> composed;
    gl_software_tile(st(), hf(), decal_tile, &composed);
    EXPECT_LT(compare(colour_of(decal_tile), 4, composed, 3, 24).mean, 1.2);

    // Normals: the terrain normal map, with the decals' maps put onto it;
    // specular: none outside the decals.
    const int T = st()->tile_texels;
    int w = 0, h = 0;
    for (const tile_ref& ref : {grid_under(200.0f, 200.0f), decal_tile}) {
        const tile* t = tile_of(st(), ref);
        const std::vector<unsigned char> normal = read_texture(t->normal, 0, &w, &h);
        const std::vector<unsigned char> specular_map = read_texture(t->specular, 0, &w, &h);
        ASSERT_EQ(w, T);
        int off_map = 0, shiny = 0;
        for (int v = 0; v < T; v++)
            for (int u = 0; u < T; u++) {
                const int col = ref.col0 + (int)(((float)u + 0.5f) * (float)ref.samples / (float)T);
                const int row = ref.row0 + (int)(((float)v + 0.5f) * (float)ref.samples / (float)T);
                const uint8_t* m = hf()->terrain_normal_map + 3 * ((size_t)row * hf()->sample_count + col);
                const unsigned char* n = &normal[4 * ((size_t)v * T + u)];
                off_map += abs((int)n[0] - (int)m[0]) > 12 || abs((int)n[2] - (int)m[2]) > 12;
                const unsigned char* s = &specular_map[4 * ((size_t)v * T + u)];
                shiny += s[0] != 0 || s[1] != 255 || s[2] != 255;
            }
        if (ref.level == GRID_LEVEL) {
            EXPECT_LT(off_map, T * T / 100);
            EXPECT_EQ(shiny, 0);
        } else {
            EXPECT_GT(off_map, T * T / 50);
            EXPECT_GT(shiny, T * T / 50);
        }
    }

    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_ALWAYS);
    const vec3 dir = look(eye, v3(finish_x + 200.0f, 0.0f, finish_z - 100.0f));
    const GLfloat sun[4] = {-0.55f, 0.47f, 0.69f, 0.0f};
    glLightfv(GL_LIGHT0, GL_POSITION, sun);
    glFogf(GL_FOG_DENSITY, 0.00025f);  // the program always fogs
    reset_program_switches();
    terrain_draw(hf(), eye, dir);
    EXPECT_EQ(program_switches(), 2);  // to the terrain program and back
    EXPECT_EQ(current_program(), program_none);
    const std::vector<unsigned char> lit = read_pixels(0, 0, width, height);
    // With the sun below the horizon the program leaves only the ambient light.
    const GLfloat below[4] = {0.55f, -0.47f, -0.69f, 0.0f};
    glLightfv(GL_LIGHT0, GL_POSITION, below);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    terrain_draw(hf(), eye, dir);
    const std::vector<unsigned char> dark = read_pixels(0, 0, width, height);
    const std::vector<unsigned char> black(lit.size(), 0);
    EXPECT_GT(compare(lit, 3, black, 3, 0).mean, 15.0);
    EXPECT_LT(compare(dark, 3, black, 3, 0).mean, 0.5 * compare(lit, 3, black, 3, 0).mean);
    EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
}

TEST_F(terrain_gl, TheStartLineKeepsItsPlaceAndWidthInEveryLevel)
{
    // The start line of the default track: 1 ft wide, 152 ft long, turned
    // so that it drifts across the texels of every level. With 64 texels a
    // tile it is 1.3 texels wide in level 4 and a third of one in level 6.
    const float line_x = 440.164f, line_z = 1277.021f, drift = 0.04686f;
    ASSERT_TRUE(load("rabbithill", terrain_method_hardware_direct, 64, 1));
    for (float z : {1205.0f, 1215.0f, 1230.0f, 1250.0f, 1290.0f}) {
        SCOPED_TRACE(z);
        const float centre = line_x + (z - line_z) * drift;
        settle(v3(centre + 3.0f, 40.0f, z + 1.0f));
        gl_prepare_pictures(st(), hf());
        // Feet of line (times its lift in blue over the bare ground) across
        // the texel row at z, and where its middle is.
        float ink[7] = {}, moment[7] = {}, width[7] = {};
        for (int level = 2; level <= 6; level++) {
            const tile_ref ref = level < 6 ? slot_under(level, centre, z) : grid_under(centre, z);
            ASSERT_TRUE(tile_of(st(), ref)->valid);
            const int T = st()->tile_texels;
            const std::vector<unsigned char> drawn = colour_of(ref);
            compose_inputs bare;
            bare.hf = hf();
            bare.surfaces = st()->surface_pictures.data();
            bare.lighting = hf()->shading_map;
            std::vector<uint8_t> plain((size_t)T * T * 3);
            compose_tile(bare, ref.col0, ref.row0, ref.samples, T, plain.data());
            const float per = (float)ref.samples / (float)T;
            width[level] = per * hf()->spacing;
            const int v = (int)((z / hf()->spacing - (float)ref.row0) / per);
            for (int u = 0; u < T; u++) {
                const float x = ((float)ref.col0 + ((float)u + 0.5f) * per) * hf()->spacing;
                if (fabsf(x - centre) > 6.0f)
                    continue;
                // White on brown dirt: blue shows the line best.
                const size_t k = (size_t)v * T + u;
                const float lift = (float)std::max(0, (int)drawn[4 * k + 2] - (int)plain[3 * k + 2]);
                ink[level] += lift * width[level];
                moment[level] += lift * width[level] * x;
            }
        }
        // Level 2 (0.19-ft texels, 12-ft tiles holding the whole width)
        // resolves the line; the coarser levels show as much of it, about
        // the same middle.
        ASSERT_GT(ink[2], 50.0f);
        EXPECT_NEAR(moment[2] / ink[2], centre, 0.1f);
        for (int level = 3; level <= 6; level++) {
            SCOPED_TRACE(level);
            EXPECT_NEAR(ink[level], ink[2], 0.15f * ink[2]);
            ASSERT_GT(ink[level], 0.0f);
            EXPECT_NEAR(moment[level] / ink[level], centre, width[level] / 2 + 0.1f);
        }
    }
}
