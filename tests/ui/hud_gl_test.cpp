// The heads-up display over a real race frame of the default track: the pit
// board, the gauges and the map change their corners of the picture, and
// once every rider is through the finish the results table puts text on
// the right. Pictures are kept in the build tree.
#include <gtest/gtest.h>

#include <GL/gl.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "bike/bike.h"
#include "core/services.h"
#include "files/datafs.h"
#include "gl_test_context.h"
#include "race/gates.h"
#include "race/race.h"
#include "race/race_display.h"
#include "race/world.h"
#include "render/camera.h"
#include "render/model.h"
#include "render/picture.h"
#include "render/render_services.h"
#include "render/scene.h"
#include "render/shaders.h"
#include "render/terrain_render.h"
#include "render/texture.h"
#include "track/track.h"
#include "ui/font.h"
#include "ui/hud.h"

namespace {

struct box {
    int x0, y0, x1, y1;  // window pixels, bottom row 0
};

struct hud_gl : gl_test {
    test::temp_dir home;
    test::scoped_env xdg{"XDG_DATA_HOME", home.path.c_str()};
    test::scoped_env kz{"KZ_HOME", test::build_data_dir().c_str()};
    world* w = nullptr;
    hud_state hud;

    hud_gl()
    {
        width = 800;
        height = 600;
    }

    void SetUp() override
    {
        gl_test::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        build_file_index();
        render_install_texture_service();
        model_install_service();
        g_terrain_settings = terrain_settings();
        terrain_render_install_hooks();
        g_scene_settings = scene_settings();
        fonts_load();
        hud_load_images();
        ASSERT_NE(g_text_font.texture, 0u);

        w = world_create();
        snprintf(w->race.settings.track, sizeof w->race.settings.track, "rabbithill");
        std::vector<int> lineup(RACE_SLOTS, lineup_empty);
        lineup[0] = lineup_player;
        lineup[1] = lineup_robot;
        lineup[2] = lineup_robot;
        ASSERT_TRUE(world_reset(w, lineup.data(), nullptr, false, 0, 1, 0));
        ASSERT_TRUE(w->race.slots[0].b && w->race.slots[1].b && w->race.slots[2].b);
        ASSERT_NE(w->track.map_texture, 0u);
        glEnable(GL_CULL_FACE);
    }

    void TearDown() override
    {
        if (window) {
            world_destroy(w);
            fonts_free();
            model_purge(true);
            textures_release(true);
            shaders_free();
        }
        terrain_render_remove_hooks();
        g_texture_service = texture_service();
        g_terrain_settings = terrain_settings();
        g_scene_settings = scene_settings();
        free_file_index();
        gl_test::TearDown();
    }

    // Behind and above the watched rider, looking at him.
    view_camera chase_camera()
    {
        const bike* b = w->race.slots[0].b;
        const dReal* p = dBodyGetPosition(b->bodies[body_frame]);
        const vec3 at = {(float)p[0], (float)p[1], (float)p[2]};
        const vec3 eye = {at.x + 6, at.y + 6, at.z + 14};
        view_camera c;
        c.eye = eye;
        c.fov = 80;
        camera_look_at(eye, at, c.rotation);
        return c;
    }

    std::vector<unsigned char> frame(bool with_hud)
    {
        const view_camera c = chase_camera();
        for (int i = 0; i < 40; i++) {
            terrain_update(&w->track.heightfield, -1);
            terrain_prepare_textures(&w->track.heightfield, c.eye, {0, 0, -1});
        }
        glClearColor(0, 0, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        render_scene(w, c, width, height, 10.0f);
        if (with_hud) {
            hud_frame f;
            f.width = width;
            f.height = height;
            f.watched_slot = 0;
            f.draw_time = true;
            f.draw_speed = true;
            draw_hud(&hud, w, f);
        }
        glFinish();
        EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
        return read_pixels(0, 0, width, height);
    }

    void keep(const std::vector<unsigned char>& rgb, const std::string& name)
    {
        const std::string dir = KESSRIG_PICTURES_DIR;
        mkdir(dir.c_str(), 0755);
        write_png_rgb((dir + "/" + name).c_str(), rgb.data(), width, height);
    }

    // Pixels inside the box where the two frames differ by more than a little.
    int changed(const std::vector<unsigned char>& a, const std::vector<unsigned char>& b, box r)
    {
        int n = 0;
        for (int y = r.y0; y < r.y1; y++)
            for (int x = r.x0; x < r.x1; x++) {
                const size_t i = ((size_t)y * width + x) * 3;
                n += abs(a[i] - b[i]) + abs(a[i + 1] - b[i + 1]) + abs(a[i + 2] - b[i + 2]) > 48;
            }
        return n;
    }

    // Near-white pixels inside the box (text of the read-outs and table).
    int bright(const std::vector<unsigned char>& a, box r)
    {
        int n = 0;
        for (int y = r.y0; y < r.y1; y++)
            for (int x = r.x0; x < r.x1; x++) {
                const size_t i = ((size_t)y * width + x) * 3;
                n += a[i] > 200 && a[i + 1] > 200 && a[i + 2] > 200;
            }
        return n;
    }

    // Every rider rides the one lap through all race gates, the player last,
    // and the ranking makes the results final.
    void finish_race()
    {
        const track_timing* t = &w->track.timing_gates;
        const int gates = lap_end_gate(t, 1) + 1;
        ASSERT_GT(gates, 1);
        const int start = w->race.start_tick;
        for (int slot = 0; slot < 3; slot++) {
            bike* b = w->race.slots[slot].b;
            const int pace = 300 + (2 - slot) * 9;
            for (int k = 0; k < gates; k++)
                ASSERT_TRUE(set_gate_time(b, k, start + (k + 1) * pace));
            set_gate_progress(b, gates);
            b->finished = 1;
        }
        w->race.tick = start + (gates + 1) * 330;
        update_ranking(w);
        ASSERT_TRUE(w->race.results_final);
    }
};

TEST_F(hud_gl, race_frame_shows_pit_board_gauges_and_map)
{
    for (int i = 0; i < 64; i++)
        world_tick(w);
    const std::vector<unsigned char> scene = frame(false);
    const std::vector<unsigned char> shown = frame(true);
    keep(shown, "hud_race.png");
    const int h = height;
    const int pit_w = (int)(0.4f * h), pit_h = (int)(0.2f * h), m = (int)(0.02f * h);
    // The pit board's slate fills most of its box; the tachometer's dial a
    // circle in its square.
    const box pit = {m, m, m + pit_w, m + pit_h};
    const box tach = {width - m - h / 4, m, width - m, m + h / 4};
    const int map = (int)(0.3f * h);
    const box map_box = {width - m - map, height - m - map, width - m, height - m};
    EXPECT_GT(changed(scene, shown, pit), pit_w * pit_h / 2);
    EXPECT_GT(changed(scene, shown, tach), h * h / 16 / 3);
    // The map is the track's outline on clear ground, with the watched
    // rider's red arrow on it.
    EXPECT_GT(changed(scene, shown, map_box), map * map / 40);
    int red = 0;
    for (int y = map_box.y0; y < map_box.y1; y++)
        for (int x = map_box.x0; x < map_box.x1; x++) {
            const unsigned char* p = &shown[((size_t)y * width + x) * 3];
            red += p[0] > 200 && p[1] < 60 && p[2] < 60;
        }
    EXPECT_GT(red, 10);
    // The banner's text is near white in the middle of the screen while the
    // race has just started; the clock read-out at the top left.
    EXPECT_GT(bright(shown, {width / 4, height / 2, width * 3 / 4, height * 3 / 4}),
              bright(scene, {width / 4, height / 2, width * 3 / 4, height * 3 / 4}) + 200);
    EXPECT_GT(bright(shown, {0, height - h / 10, width / 3, height}), 100);
}

TEST_F(hud_gl, finished_race_shows_the_final_results)
{
    finish_race();
    results_table table;
    results_table_of(w, 0, &table);
    ASSERT_TRUE(table.shown && table.final);
    ASSERT_EQ(table.count, 3);
    EXPECT_TRUE(table.rows[2].watched);  // the player was slowest
    EXPECT_FALSE(table.rows[0].watched);
    // Past the banner's three seconds.
    const std::vector<unsigned char> scene = frame(false);
    const std::vector<unsigned char> shown = frame(true);
    keep(shown, "hud_results.png");
    // The table's box: the right part, from 0.64 of the height down.
    const box table_box = {width - (int)(19.5f * height / 36.0f) - 12, height / 2, width - 12, (int)(0.68f * height)};
    EXPECT_GT(bright(shown, table_box), 300);
    EXPECT_GT(changed(scene, shown, table_box), 2000);
}

TEST_F(hud_gl, title_screen_shows_picture_and_text)
{
    draw_title_screen(width, height, "Loading track");
    glFinish();
    const std::vector<unsigned char> rgb = read_pixels(0, 0, width, height);
    keep(rgb, "title_screen.png");
    // 800 x 600 is fitted to the height: black bars would be outside a
    // 1200-wide picture, so the picture covers the whole window; the text
    // adds white in the middle band and the build string grey at the bottom left.
    EXPECT_GT(bright(rgb, {width / 4, height / 2 - height / 25, width * 3 / 4, height / 2 + height / 25}), 150);
    int grey = 0;
    for (int y = 0; y < height / 16; y++)
        for (int x = 0; x < width / 2; x++) {
            const unsigned char* p = &rgb[((size_t)y * width + x) * 3];
            grey += p[0] > 150 && abs(p[0] - p[1]) < 12 && abs(p[1] - p[2]) < 12;
        }
    EXPECT_GT(grey, 100);
}

}  // namespace
