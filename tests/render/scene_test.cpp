// The scene on a real context with the default track loaded into a world:
// the start gate with its statues and billboards (kept as a picture), the
// flaggers following the race, the ghost fade, statues left out by the
// model detail and turning toward a far camera, a sun flare hidden by a
// statue standing in front of it, the rider-view bike's hidden parts, and
// the sprites' depth order and texture batching. Drawing never changes the
// simulation: the world's state hash is the same before and after.
#include <gtest/gtest.h>

#include <ode/ode.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "bike/bike.h"
#include "bike/controls.h"
#include "bike/limb_pose.h"
#include "core/services.h"
#include "files/datafs.h"
#include "files/memory.h"
#include "gl_test_context.h"
#include "race/race.h"
#include "race/world.h"
#include "render/camera.h"
#include "render/model.h"
#include "render/picture.h"
#include "render/render_services.h"
#include "render/scene.h"
#include "render/shaders.h"
#include "render/terrain_render.h"
#include "render/texture.h"
#include "track/heightfield.h"
#include "track/roost.h"
#include "track/track.h"

using namespace vecmath;

namespace {

struct pixel {
    int x, y;
};

// The window pixel (bottom row 0) a world point shows at.
pixel pixel_of(const view_camera& c, int width, int height, vec3 p)
{
    const view_extent e = projection_extent(width, height, c.fov);
    const vec3 d = sub(p, c.eye);
    const float* r = c.rotation;
    const float vx = r[0] * d.x + r[3] * d.y + r[6] * d.z;
    const float vy = r[1] * d.x + r[4] * d.y + r[7] * d.z;
    const float vz = r[2] * d.x + r[5] * d.y + r[8] * d.z;
    return {(int)((-vx / vz + e.half_x) / (2 * e.half_x) * width),
            (int)((-vy / vz + e.half_y) / (2 * e.half_y) * height)};
}

view_camera look(vec3 eye, vec3 target, float fov)
{
    view_camera c;
    c.eye = eye;
    c.fov = fov;
    camera_look_at(eye, target, c.rotation);
    return c;
}

// A small texture of one colour, not registered (the test deletes it).
unsigned plain_texture(unsigned char r, unsigned char g, unsigned char b)
{
    std::vector<unsigned char> chain(4 * 4 * 4);
    for (size_t i = 0; i < chain.size(); i += 4) {
        chain[i] = r;
        chain[i + 1] = g;
        chain[i + 2] = b;
        chain[i + 3] = 255;
    }
    return texture_create(chain.data(), 4, 4, 4, texture_single_level);
}

struct scene_gl : gl_test {
    test::temp_dir home;
    test::scoped_env xdg{"XDG_DATA_HOME", home.path.c_str()};
    test::scoped_env kz{"KZ_HOME", test::build_data_dir().c_str()};
    world* w = nullptr;
    std::vector<unsigned> own_textures;

    scene_gl()
    {
        width = 640;
        height = 480;
    }

    void SetUp() override
    {
        gl_test::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        build_file_index();
        render_install_texture_service();
        model_install_service();
        g_gl_caps.shaders_on = g_gl_caps.multitexture_ok && shaders_init();
        g_track_hooks.objects.shaders = g_gl_caps.shaders_on;
        g_terrain_settings = terrain_settings();
        terrain_render_install_hooks();
        g_scene_settings = scene_settings();

        w = world_create();
        snprintf(w->race.settings.track, sizeof w->race.settings.track, "rabbithill");
        std::vector<int> lineup(RACE_SLOTS, lineup_empty);
        lineup[0] = lineup_player;
        lineup[1] = lineup_robot;
        lineup[2] = lineup_robot;
        ASSERT_TRUE(world_reset(w, lineup.data(), nullptr, false, 0, 1, 0));
        ASSERT_TRUE(w->race.slots[0].b && w->race.slots[1].b);
        glEnable(GL_CULL_FACE);
    }

    void TearDown() override
    {
        if (window) {
            world_destroy(w);
            for (unsigned id : own_textures)
                glDeleteTextures(1, &id);
            model_purge(true);
            textures_release(true);
            shaders_free();
        }
        terrain_render_remove_hooks();
        g_texture_service = texture_service();
        g_track_hooks.objects = object_options();
        g_terrain_settings = terrain_settings();
        g_scene_settings = scene_settings();
        free_file_index();
        gl_test::TearDown();
    }

    unsigned own(unsigned char r, unsigned char g, unsigned char b)
    {
        own_textures.push_back(plain_texture(r, g, b));
        return own_textures.back();
    }

    // A track whose sky pictures are missing from the data gets a plain
    // one, so that the sky box still shows.
    void plain_sky_if_missing()
    {
        for (unsigned& face : w->track.lighting.sky)
            if (!face)
                face = own(90, 150, 230);
    }

    float ground(float x, float z) { return heightfield_height_at(&w->track.heightfield, x, z); }

    // Builds the terrain's textures for the camera, then draws the frame.
    std::vector<unsigned char> frame(const view_camera& c, bool settle = false)
    {
        if (settle) {
            const vec3 dir = neg(camera_backward(c.rotation));
            for (int i = 0; i < 400; i++) {
                terrain_stats_reset();
                terrain_update(&w->track.heightfield, -1);
                terrain_prepare_textures(&w->track.heightfield, c.eye, dir);
                if (g_terrain_stats.tiles_built == 0 && i > 2)
                    break;
            }
        }
        glClearColor(0, 0, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        render_scene(w, c, width, height, 10.0f);
        glFinish();
        return read_pixels(0, 0, width, height);
    }

    void keep(const std::vector<unsigned char>& rgb, const std::string& name)
    {
        const std::string dir = KESSRIG_PICTURES_DIR;
        mkdir(dir.c_str(), 0755);
        write_png_rgb((dir + "/" + name).c_str(), rgb.data(), width, height);
    }

    // Pixels where two frames differ by more than a little.
    int changed(const std::vector<unsigned char>& a, const std::vector<unsigned char>& b)
    {
        int n = 0;
        for (size_t i = 0; i + 2 < a.size() && i + 2 < b.size(); i += 3) {
            const int d = abs(a[i] - b[i]) + abs(a[i + 1] - b[i + 1]) + abs(a[i + 2] - b[i + 2]);
            n += d > 24;
        }
        return n;
    }

    // The camera in front of the start gate and to one side, looking back
    // at the riders behind it, the flagger and the tuff blocks.
    view_camera gate_camera()
    {
        const vec3 eye = v3(478, ground(478, 1186) + 6, 1186);
        return look(eye, v3(437, ground(437, 1214) + 2.5f, 1214), 60);
    }
};

}  // namespace

// The start as a newcomer sees it: the gate with bikes behind it, statues,
// billboards and flaggers, counted in the frame's statistics; the batching
// saves binds without changing the picture; drawing moves nothing of the
// simulation.
TEST_F(scene_gl, start_gate_shows_statues_billboards_and_counts_them)
{
    plain_sky_if_missing();
    const view_camera c = gate_camera();
    const uint64_t before = world_state_hash(w);
    const std::vector<unsigned char> full = frame(c, true);
    keep(full, "scene-start-gate.png");
    EXPECT_EQ(world_state_hash(w), before);

    const scene_statistics stats = g_scene_statistics;
    EXPECT_GT(stats.billboards, 20);
    EXPECT_GT(stats.model_triangles, 1000);
    EXPECT_GT(stats.model_vertices, stats.model_triangles / 2);
    EXPECT_GT(stats.texture_changes, 10);
    if (g_gl_caps.shaders_on) {
        EXPECT_GT(stats.shader_changes, 2);
    }

    // The sky fills the top rows, the ground the bottom ones.
    auto mean_row = [&](const std::vector<unsigned char>& rgb, int y, int c) {
        long sum = 0;
        for (int x = 0; x < width; x++)
            sum += rgb[3 * ((size_t)y * width + x) + c];
        return sum / width;
    };
    EXPECT_GT(mean_row(full, height - 2, 2), mean_row(full, height - 2, 0) + 40);  // blue sky
    EXPECT_LT(mean_row(full, 2, 2), mean_row(full, 2, 0));                         // brown or green ground

    // Without the statues, or without the sprites, a good part of the
    // picture changes.
    track_objects& objects = w->track.objects;
    const int statues = objects.statues.count;
    objects.statues.count = 0;
    const std::vector<unsigned char> no_statues = frame(c);
    objects.statues.count = statues;
    EXPECT_GT(changed(full, no_statues), width * height / 100);

    const int sprites = objects.sprites.count;
    objects.sprites.count = 0;
    const std::vector<unsigned char> no_sprites = frame(c);
    objects.sprites.count = sprites;
    EXPECT_EQ(g_scene_statistics.billboards, 0);
    EXPECT_GT(changed(full, no_sprites), width * height / 200);

    // The sprites' texture batching binds less and draws the same picture,
    // but for a few pixels where sprites that do not overlap from the eye
    // still touch at their blended edges.
    g_scene_settings.billboard_lookahead = 1;
    const std::vector<unsigned char> unbatched = frame(c);
    const long unbatched_binds = g_scene_statistics.texture_changes;
    g_scene_settings.billboard_lookahead = 8;
    const std::vector<unsigned char> batched = frame(c);
    EXPECT_LT(g_scene_statistics.texture_changes, unbatched_binds);
    EXPECT_LT(changed(batched, unbatched), width * height / 500);

    // The fixed pipeline draws the same scene, but for the per-pixel
    // lighting's shades.
    if (g_gl_caps.shaders_on) {
        g_gl_caps.shaders_on = false;
        const std::vector<unsigned char> fixed = frame(c);
        g_gl_caps.shaders_on = true;
        EXPECT_EQ(g_scene_statistics.shader_changes, 0);
        EXPECT_LT(changed(fixed, batched), width * height / 10);
    }
    EXPECT_EQ(world_state_hash(w), before);
}

// The flaggers show the race: the start flagger's pictures by the clock
// (walking from A to B after the start), the finish flagger's by the
// leader's laps, the course flagger's alert where a rider is down.
TEST_F(scene_gl, flaggers_follow_the_race_as_it_is_drawn)
{
    const flagger_set& f = w->track.objects.flaggers;
    ASSERT_TRUE(f.has_start && f.has_finish);
    ASSERT_GT(f.course_count, 0);
    const sprite_list& sprites = w->track.objects.sprites;
    auto texture_of = [&](int index) { return sprites.items[index].texture; };
    const view_camera c = gate_camera();

    frame(c);
    EXPECT_EQ(texture_of(f.start.sprite_index), f.start.textures[0]);
    // One lap: the leader starts on the last lap.
    EXPECT_EQ(texture_of(f.finish.sprite_index), f.finish.textures[2]);
    const float ax = sprites.items[f.start.sprite_index].x;
    EXPECT_NEAR(ax, f.start.a[0], 1e-4f);

    // Through the start: the flag waves from the whole second of the
    // start, then the flagger walks to B.
    const int second = w->race.start_tick / RACE_TICKS_PER_SECOND;
    const int waving = (int)((second + 0.7) * RACE_TICKS_PER_SECOND);
    const int after = (int)((second + 1.5 + f.start.walk) * RACE_TICKS_PER_SECOND);
    int shown_before_walk = -1;
    while (w->race.tick < after) {
        world_tick(w);
        if (w->race.tick == waving) {
            frame(c);
            shown_before_walk = (int)texture_of(f.start.sprite_index);
        }
    }
    EXPECT_EQ(shown_before_walk, (int)f.start.textures[2]);
    frame(c);
    EXPECT_EQ(texture_of(f.start.sprite_index), f.start.textures[4]);
    EXPECT_NEAR(sprites.items[f.start.sprite_index].x, f.start.b[0], 1e-3f);
    EXPECT_NEAR(sprites.items[f.start.sprite_index].z, f.start.b[2], 1e-3f);

    // A rider down after the gate a course flagger watches.
    const course_flagger& watcher = f.course[0];
    const int gate = watcher.gates[0];
    ASSERT_GE(gate, 0);
    int progress = -1;
    for (int k = 0; k < 1000 && progress < 0; k++)
        if (race_gate_checkpoint(&w->track.timing_gates, k) == gate)
            progress = k + 1;
    ASSERT_GT(progress, 0);
    bike* b = w->race.slots[1].b;
    const int old_progress = b->gate_progress;
    b->gate_progress = progress;
    b->slow_or_down = 1;
    frame(c);
    EXPECT_EQ(texture_of(watcher.sprite_index), watcher.alert_texture);
    for (int k = 1; k < f.course_count; k++) {
        bool watches = false;
        for (int g : f.course[k].gates)
            watches = watches || g == gate;
        if (!watches) {
            EXPECT_EQ(texture_of(f.course[k].sprite_index), f.course[k].normal_texture) << k;
        }
    }
    b->slow_or_down = 0;
    frame(c);
    EXPECT_EQ(texture_of(watcher.sprite_index), watcher.normal_texture);
    b->gate_progress = old_progress;
}

// A recorded ghost near the live bike fades: invisible within half the fade
// distance, half at three quarters of it, solid beyond; a fade distance of
// 0 shows it solid. A multiplayer race leaves ghosting to its own rule.
TEST_F(scene_gl, ghost_fades_by_its_distance_from_the_live_bike)
{
    bike* live = w->race.slots[0].b;
    ASSERT_EQ(w->race.slots[0].driver, slot_driver_local);
    bike* ghost = world_add_bike(w, 7, "rm125", slot_driver_recorded, 600, 1250, 0);
    ASSERT_NE(ghost, nullptr);
    // The live bike moves d feet to the ghost's side; the ghost stays, so
    // the camera on it sees the same ground behind it every time.
    const vec3 at = bike_frame_position(ghost);
    auto place = [&](float d) {
        const vec3 target = add(at, v3(0, 0, d));
        const vec3 now = bike_frame_position(live);
        translate_bike(live, target.x - now.x, target.y - now.y, target.z - now.z);
    };
    place(4);
    EXPECT_EQ(bike_fade(w, 7, 10), 0.0f);
    place(7.5f);
    EXPECT_NEAR(bike_fade(w, 7, 10), 0.5f, 1e-3f);
    place(12);
    EXPECT_EQ(bike_fade(w, 7, 10), 1.0f);
    place(0.5f);
    EXPECT_EQ(bike_fade(w, 7, 0), 1.0f);
    EXPECT_EQ(bike_fade(w, 0, 10), 1.0f);  // the live bike itself

    // Half faded, the ghost is drawn blended over the ground behind it.
    const view_camera c = look(add(at, v3(-9, 2, 0)), add(at, v3(0, 0.5f, 0)), 50);
    const pixel p = pixel_of(c, width, height, add(at, v3(0, 0.3f, 0)));
    place(7.5f);
    const std::vector<unsigned char> half = frame(c, true);
    place(12);
    const std::vector<unsigned char> solid = frame(c);
    place(3);
    const std::vector<unsigned char> gone = frame(c);
    keep(half, "scene-ghost-half.png");
    // Summed differences around the ghost's middle.
    auto apart = [&](const std::vector<unsigned char>& a, const std::vector<unsigned char>& b) {
        long sum = 0;
        for (int y = p.y - 12; y <= p.y + 12; y++)
            for (int x = p.x - 12; x <= p.x + 12; x++)
                for (int ch = 0; ch < 3; ch++) {
                    const size_t i = 3 * ((size_t)y * width + x) + ch;
                    sum += std::abs(a[i] - b[i]);
                }
        return sum;
    };
    const long bike_to_ground = apart(solid, gone), half_to_ground = apart(half, gone);
    EXPECT_GT(bike_to_ground, 25L * 25 * 3 * 20);
    // Half alpha lies between the solid bike and the ground behind it.
    EXPECT_GT(half_to_ground, bike_to_ground * 3 / 10);
    EXPECT_LT(half_to_ground, bike_to_ground * 7 / 10);
    EXPECT_LT(apart(half, solid), bike_to_ground * 7 / 10);

    w->race.net.connected = true;
    EXPECT_EQ(bike_fade(w, 7, 10), 0.0f);  // a ghost in a multiplayer race is hidden
    w->race.net.connected = false;
}

// With model detail 5 statues beyond 500 ft are left out; from 11 on none
// is. A camera-facing statue turns toward a far camera and keeps its
// heading once the camera is near; the physics still sees it unturned.
TEST_F(scene_gl, statues_culled_by_model_detail_and_turning_to_a_far_camera)
{
    statue_list& list = w->track.objects.statues;
    int hay = -1;
    for (int i = 0; i < list.count && hay < 0; i++)
        if (list.items[i].model && list.items[i].texture && list.items[i].facing_distance == 0)
            hay = i;
    ASSERT_GE(hay, 0);
    statue* s = &list.items[hay];
    const vec3 at = v3(s->x, s->y, s->z);

    const view_camera c = gate_camera();
    set_projection(width, height, 90, 0.25f, 6000);
    load_camera_rotation(c.rotation);
    translate_to_eye(c.eye);
    auto drawn = [&](float distance, int detail) {
        g_scene_settings.model_detail = detail;
        model_statistics_reset();
        const bool ok = draw_statue(s, add(at, v3(0, 0, distance)), statue_pass_lit);
        EXPECT_EQ(ok, g_model_statistics.triangles > 0);
        return ok;
    };
    EXPECT_TRUE(drawn(499, 5));
    EXPECT_FALSE(drawn(501, 5));
    EXPECT_TRUE(drawn(79, 2));
    EXPECT_FALSE(drawn(81, 2));
    EXPECT_TRUE(drawn(5000, 11));
    EXPECT_TRUE(drawn(5000, 100));

    // Angle 10: upright, turning while the camera is more than 1024 ft away.
    const int k = statue_add(&w->track.objects, &w->track.heightfield, 700, 0, 700, 10, "@rabbithill/haybale.qm",
                             "@rabbithill/haybale.png", "@rabbithill/haybale.shp", &g_track_hooks.objects);
    statue* facing = &w->track.objects.statues.items[k];
    EXPECT_EQ(facing->facing_distance, 1024.0f);
    g_scene_settings.model_detail = 50;
    const vec3 base = v3(facing->x, facing->y, facing->z);
    ASSERT_TRUE(draw_statue(facing, add(base, v3(1100, 0, 1100)), statue_pass_lit));
    // Its local +z points at the camera, horizontally.
    EXPECT_NEAR(facing->rotation[2][0], std::sqrt(0.5f), 1e-5f);
    EXPECT_NEAR(facing->rotation[2][2], std::sqrt(0.5f), 1e-5f);
    EXPECT_NEAR(facing->rotation[1][1], 1.0f, 1e-6f);
    // Nearer than 1024 ft it keeps that heading.
    ASSERT_TRUE(draw_statue(facing, add(base, v3(-300, 10, 0)), statue_pass_lit));
    EXPECT_NEAR(facing->rotation[2][0], std::sqrt(0.5f), 1e-5f);
    // The contacts still take it unturned.
    double physics[12];
    statue_physics_rotation(facing, physics);
    EXPECT_EQ(physics[0], 1.0);
    EXPECT_EQ(physics[2], 0.0);
    EXPECT_EQ(physics[10], 1.0);
    glLoadIdentity();
}

// A sun 20 degrees up in a white sky shows its flare; a statue standing in front of
// it hides the flare by depth alone (the statue is lit white, so the
// colour test would pass); at the view's edge the flare fades.
TEST_F(scene_gl, sun_flare_hidden_behind_a_statue_is_not_drawn)
{
    lighting& light = w->track.lighting;
    const unsigned white = own(255, 255, 255);
    for (unsigned& face : light.sky)
        face = white;
    // The sun 20 degrees up toward +x; one blue element on the far side of
    // the view centre, over the ground.
    const float elevation = 20 * 3.14159265f / 180;
    flare sun;
    sun.source = v3(std::cos(elevation), std::sin(elevation), 0);
    sun.is_vector = 1;
    sun.element_count = 1;
    sun.elements[0].offset_along = -1;
    sun.elements[0].color[0] = 0;
    sun.elements[0].color[1] = 0;
    sun.elements[0].color[2] = 1;
    sun.elements[0].size = 0.08f;
    sun.elements[0].texture = white;
    light.flares = (flare*)mem_alloc(sizeof(flare));
    light.flares[0] = sun;
    light.flare_count = 1;
    light.flare_capacity = 1;

    const vec3 eye = v3(500, ground(500, 1150) + 3, 1150);
    view_camera c = look(eye, add(eye, v3(1, 0, 0)), 90);
    const pixel element = pixel_of(c, width, height, add(eye, v3(1, -std::tan(elevation), 0)));
    const pixel sun_px = pixel_of(c, width, height, add(eye, sun.source));
    auto blue_at = [&](const std::vector<unsigned char>& rgb, pixel p) {
        return (int)rgb[3 * ((size_t)p.y * width + p.x) + 2];
    };

    g_scene_settings.lens_flares = false;
    const std::vector<unsigned char> plain = frame(c, true);
    g_scene_settings.lens_flares = true;
    const std::vector<unsigned char> flared = frame(c);
    keep(flared, "scene-flare.png");
    EXPECT_EQ(light.flares[0].intensity, 1.0f);
    EXPECT_GT(blue_at(flared, element), blue_at(plain, element) + 150);

    // A hay bale 5 ft ahead on the line to the sun, broadside, textured
    // white and lit by a full ambient light.
    const float ahead = 5;
    const float x = eye.x + ahead, z = eye.z;
    const float centre = eye.y + ahead * std::tan(elevation);
    const int k = statue_add(&w->track.objects, &w->track.heightfield, x, centre - 0.65f - ground(x, z), z,
                             -2 * 3.14159265f - 3.14159265f / 2, "@rabbithill/haybale.qm", "@rabbithill/haybale.png",
                             nullptr, &g_track_hooks.objects);
    w->track.objects.statues.items[k].texture = white;
    w->track.objects.statues.items[k].normal_texture = 0;
    w->track.objects.statues.items[k].spec_texture = 0;
    for (int ch = 0; ch < 3; ch++)
        light.ambient[ch] = light.global_ambient[ch] = 1;
    const std::vector<unsigned char> hidden = frame(c);
    for (int ch = 0; ch < 3; ch++)
        EXPECT_GT(hidden[3 * ((size_t)sun_px.y * width + sun_px.x) + ch], 223) << "the statue shows white at the sun";
    EXPECT_EQ(light.flares[0].intensity, 0.0f);
    EXPECT_LT(std::abs(blue_at(hidden, element) - blue_at(plain, element)), 20);

    // Without the statue, the sun at the right edge of the view: faded.
    w->track.objects.statues.items[k].model = 0;
    const view_extent e = projection_extent(width, height, 90);
    const float edge_yaw = std::atan(e.half_x * (1 - 1.0f / 80));
    c = look(eye, add(eye, v3(std::cos(edge_yaw), 0, -std::sin(edge_yaw))), 90);
    frame(c);
    const flare& seen = light.flares[0];
    EXPECT_GT(seen.screen_x, e.half_x * 0.97f);
    EXPECT_GT(seen.intensity, 0.0f);
    EXPECT_LT(seen.intensity, 1.0f);
}

// The rider-view bike: with the rider hidden no rider, head or plate; the
// first-person body without the head; swingarm and rear wheel left out
// while the rider is up, shown again during a crash.
TEST_F(scene_gl, rider_view_bike_hides_what_its_rider_cannot_see)
{
    bike* b = w->race.slots[0].b;
    const vec3 centre = add(bike_frame_position(b), v3(0, 0.8f, 0));
    const dReal* r = bike_frame_rotation(b);
    const vec3 right = v3((float)r[0], (float)r[4], (float)r[8]);
    const view_camera c = look(add(add_scaled(centre, right, 10), v3(0, 1, 0)), centre, 45);
    const unsigned sky = texture_get("@sky-env.ppm");
    const unsigned char clear[3] = {40, 60, 200};

    auto draw = [&](int view) {
        glClearColor(clear[0] / 255.0f, clear[1] / 255.0f, clear[2] / 255.0f, 1);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        set_projection(width, height, c.fov, 0.25f, 500);
        load_camera_rotation(c.rotation);
        translate_to_eye(c.eye);
        glEnable(GL_LIGHT0);
        glEnable(GL_DEPTH_TEST);
        glDepthFunc(GL_LEQUAL);
        glEnable(GL_ALPHA_TEST);
        glAlphaFunc(GL_GEQUAL, 0.75f);
        glFogf(GL_FOG_DENSITY, 0);
        draw_bike(b, view, c.eye, &w->track.heightfield, sky);
        glDisable(GL_ALPHA_TEST);
        glFinish();
        return read_pixels(0, 0, width, height);
    };
    // Share of the pixels covered within r feet of a point.
    auto covered = [&](const std::vector<unsigned char>& rgb, vec3 p, float reach) {
        const pixel a = pixel_of(c, width, height, p);
        const pixel e = pixel_of(c, width, height, add_scaled(p, camera_up(c.rotation), reach));
        const int h = std::max(2, std::abs(e.y - a.y));
        int n = 0, total = 0;
        for (int y = std::max(0, a.y - h); y <= std::min(height - 1, a.y + h); y++)
            for (int x = std::max(0, a.x - h); x <= std::min(width - 1, a.x + h); x++) {
                const unsigned char* q = &rgb[3 * ((size_t)y * width + x)];
                total++;
                n += std::abs(q[0] - clear[0]) + std::abs(q[1] - clear[1]) + std::abs(q[2] - clear[2]) > 6;
            }
        return total ? (double)n / total : 0.0;
    };
    const vec3 head = head_pose(b).position;
    const dReal* rp = dBodyGetPosition(b->bodies[body_rider]);
    const vec3 torso = v3((float)rp[0], (float)rp[1], (float)rp[2]);
    const dReal* wp = dBodyGetPosition(b->bodies[body_rear_wheel]);
    const vec3 rear = v3((float)wp[0], (float)wp[1], (float)wp[2]);
    const float tyre = 0.8f;

    const uint64_t before = world_state_hash(w);
    const std::vector<unsigned char> normal = draw(bike_view_normal);
    const std::vector<unsigned char> hidden = draw(bike_view_hide_rider);
    const std::vector<unsigned char> first = draw(bike_view_first_person);
    keep(first, "scene-rider-view-first-person.png");
    EXPECT_GT(covered(normal, head, 0.25f), 0.7);
    EXPECT_GT(covered(normal, torso, 0.25f), 0.7);
    EXPECT_GT(covered(normal, rear, tyre), 0.3);
    EXPECT_LT(covered(hidden, head, 0.25f), 0.05);
    EXPECT_LT(covered(hidden, torso, 0.25f), covered(normal, torso, 0.25f) * 0.5);
    EXPECT_LT(covered(hidden, rear, tyre), covered(normal, rear, tyre) * 0.5);
    EXPECT_LT(covered(first, head, 0.25f), covered(normal, head, 0.25f) * 0.2);
    EXPECT_GT(covered(first, torso, 0.25f), 0.5);

    // Down in a crash the rider-view bike shows its back end again.
    b->crash_timer = 200;
    const std::vector<unsigned char> crashed = draw(bike_view_hide_rider);
    keep(crashed, "scene-rider-view-crashed.png");
    b->crash_timer = 0;
    EXPECT_GT(covered(crashed, rear, tyre), covered(hidden, rear, tyre) * 1.5);
    EXPECT_NEAR(covered(crashed, rear, tyre), covered(normal, rear, tyre), 0.25);
    EXPECT_EQ(world_state_hash(w), before);
}

// Sprites by hand: far to near with equal depths in list order, nothing
// behind the eye or transparent; a sprite five places on that wears the
// texture just drawn joins it (one bind less) unless a sprite in between
// overlaps it or the lookahead is 1; the painter's order shows in the
// pixels; nothing is drawn looking straight up.
TEST_F(scene_gl, sprites_sorted_far_to_near_and_batched_by_texture)
{
    const unsigned a = own(255, 255, 255), b = own(250, 250, 250), cc = own(245, 245, 245);
    sprite_list list;
    auto add = [&](float x, float z, unsigned texture, uint8_t r, uint8_t g, uint8_t bl) {
        const int i = sprite_add(&list, x, -1, z, 2, 1, texture);
        list.items[i].colour[0] = r;
        list.items[i].colour[1] = g;
        list.items[i].colour[2] = bl;
        return i;
    };
    // Far to near along -z: A, B, C, B, C, then A again, away to the side
    // of the others. One sprite behind the eye, one transparent.
    const int far_a = add(0, -40, a, 255, 0, 0);
    const int b1 = add(-6, -36, b, 0, 255, 0);
    const int c1 = add(6, -32, cc, 0, 0, 255);
    const int b2 = add(-6, -28, b, 0, 255, 0);
    const int c2 = add(6, -24, cc, 0, 0, 255);
    const int near_a = add(0, -20, a, 255, 255, 0);
    const int behind = add(0, 5, a, 255, 255, 255);
    const int clear_one = add(0, -30, a, 255, 255, 255);
    list.items[clear_one].colour[3] = 0;
    const int same_depth = add(12, -20, b, 0, 255, 255);  // as near as near_a, listed after it
    (void)behind;

    view_camera c;
    c.eye = v3(0, 0, 0);
    c.fov = 90;
    std::vector<int> order;
    ASSERT_TRUE(sprite_draw_order(&list, 0, 0, c.eye, c.rotation, 1, &order));
    EXPECT_EQ(order, (std::vector<int>{far_a, b1, c1, b2, c2, near_a, same_depth}));
    ASSERT_TRUE(sprite_draw_order(&list, 0, 0, c.eye, c.rotation, 8, &order));
    EXPECT_EQ(order, (std::vector<int>{far_a, near_a, b1, b2, same_depth, c1, c2}));
    // A roost sprite is keyed nearer by its width: as one, near_a comes
    // after the sprite at its own depth.
    ASSERT_TRUE(sprite_draw_order(&list, near_a, 1, c.eye, c.rotation, 1, &order));
    EXPECT_EQ(order, (std::vector<int>{far_a, b1, c1, b2, c2, same_depth, near_a}));

    auto draw = [&](int lookahead, int expected) {
        glClearColor(0, 0, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        set_projection(width, height, c.fov, 0.25f, 500);
        load_camera_rotation(c.rotation);
        translate_to_eye(c.eye);
        glEnable(GL_DEPTH_TEST);
        glDepthFunc(GL_LEQUAL);
        g_scene_statistics = scene_statistics();
        const int drawn = draw_sprites(&list, 0, 0, c.eye, c.rotation, lookahead);
        glFinish();
        EXPECT_EQ(drawn, expected);
        return read_pixels(0, 0, width, height);
    };
    draw(1, 7);
    EXPECT_EQ(g_scene_statistics.texture_changes, 7);
    const std::vector<unsigned char> batched = draw(8, 7);
    EXPECT_EQ(g_scene_statistics.texture_changes, 3);
    auto colour_at = [&](const std::vector<unsigned char>& rgb, vec3 p) {
        const pixel q = pixel_of(c, width, height, p);
        const unsigned char* v = &rgb[3 * ((size_t)q.y * width + q.x)];
        return std::vector<int>{v[0], v[1], v[2]};
    };
    // The near yellow sprite covers the far red one behind it.
    EXPECT_EQ(colour_at(batched, v3(0, 0, -20)), (std::vector<int>{255, 255, 0}));
    EXPECT_EQ(colour_at(batched, v3(-6, 0, -36)), (std::vector<int>{0, 250, 0}));

    // A sprite in between that overlaps the near A keeps it in its place.
    const int blocker = add(0.5f, -30, b, 255, 0, 255);
    ASSERT_TRUE(sprite_draw_order(&list, 0, 0, c.eye, c.rotation, 8, &order));
    EXPECT_LT(std::find(order.begin(), order.end(), blocker) - order.begin(),
              std::find(order.begin(), order.end(), near_a) - order.begin());
    const std::vector<unsigned char> blocked = draw(8, 8);
    EXPECT_EQ(colour_at(blocked, v3(0, 0.5f, -20)), (std::vector<int>{255, 255, 0}));

    // Looking straight up or down there is no right vector to face.
    const float up[9] = {1, 0, 0, 0, 0, -1, 0, 1, 0};
    EXPECT_FALSE(sprite_draw_order(&list, 0, 0, c.eye, up, 8, &order));
    EXPECT_TRUE(order.empty());
    EXPECT_EQ(draw_sprites(&list, 0, 0, c.eye, up, 8), 0);
    mem_free(list.items);
}

// Roost thrown by a wheel spinning on the dirt flies as sprites drawn with
// the billboards, behind the bike as seen from behind it.
TEST_F(scene_gl, roost_behind_a_spinning_wheel_is_drawn)
{
    bike* b = w->race.slots[0].b;
    const int second = w->race.start_tick / RACE_TICKS_PER_SECOND;
    while (w->race.tick < (second + 1) * RACE_TICKS_PER_SECOND)
        world_tick(w);
    roost_pool* pool = w->track.particle_pool;
    ASSERT_NE(pool, nullptr);
    for (int i = 0; i < 200; i++) {
        bike_set_clutch(b, 1);
        bike_set_throttle(b, 1);
        world_tick(w);
    }
    ASSERT_GT(pool->live, 20);
    // Particles of a surface whose roost picture is missing from the data
    // get a plain one, so that they can be seen.
    const unsigned dirt = own(150, 110, 70);
    for (roost_particle& q : w->track.particle_pool->particles)
        if (q.live && !q.texture)
            q.texture = dirt;

    const vec3 at = bike_frame_position(b);
    const dReal* r = bike_frame_rotation(b);
    const vec3 back = v3((float)r[2], 0, (float)r[10]);
    const view_camera c = look(add(add_scaled(at, back, 14), v3(0, 4, 0)), add(at, v3(0, 1, 0)), 70);
    plain_sky_if_missing();
    const std::vector<unsigned char> thrown = frame(c, true);
    keep(thrown, "scene-roost.png");
    const long with_roost = g_scene_statistics.billboards;

    // The same frame with the particles fallen.
    const int live = pool->live;
    for (roost_particle& q : pool->particles)
        q.live = false;
    const std::vector<unsigned char> none = frame(c);
    const long without = g_scene_statistics.billboards;
    EXPECT_GT(with_roost - without, live / 2);
    EXPECT_GT(changed(thrown, none), width * height / 200);
}

// Debug level 2: the robots' paths as lines, each point marked green where
// the line runs on the ground and red where it flies.
TEST_F(scene_gl, debug_level_two_marks_the_robot_paths)
{
    bike* robot = w->race.slots[1].b;
    const vec3 from = add(bike_frame_position(robot), v3(8, 0, 0));
    line_point_list& path = robot->path;
    path.capacity = 8;
    path.items = (line_point*)mem_alloc(sizeof(line_point) * (size_t)path.capacity);
    ASSERT_NE(path.items, nullptr);
    path.count = 8;
    for (int i = 0; i < path.count; i++) {
        const float x = from.x + 6.0f * (float)i, z = from.z;
        path.items[i] = {x, ground(x, z) + 0.5f, z, i == 5 ? -20.0f : 20.0f, 0.5f};
    }
    robot->target = 2;
    const vec3 middle = add(from, v3(21, 0, 0));
    const view_camera c = look(add(middle, v3(0, 40, -2)), middle, 70);

    const std::vector<unsigned char> plain = frame(c, true);
    g_scene_settings.debug_level = 2;
    const std::vector<unsigned char> marked = frame(c);
    keep(marked, "scene-debug-paths.png");
    EXPECT_GT(changed(plain, marked), 8 * 200);
    auto at = [&](int i) {
        const line_point& q = path.items[i];
        const pixel p = pixel_of(c, width, height, v3(q.x, q.y, q.z));
        const unsigned char* v = &marked[3 * ((size_t)p.y * width + p.x)];
        return std::vector<int>{v[0], v[1], v[2]};
    };
    for (int i : {0, 3, 7}) {
        const std::vector<int> v = at(i);
        EXPECT_LT(v[0], 20) << i;
        EXPECT_GT(v[1], 230) << i;
        EXPECT_LT(v[2], 20) << i;
    }
    const std::vector<int> flying = at(5);
    EXPECT_GT(flying[0], 230);
    EXPECT_LT(flying[1], 20);
}

namespace {

// A square facing +z (lit) with a shiny square just in front of it.
const char* const shiny_square_qm =
    "QM1\n"
    "8 1 0.2 0.2 0.2 4 2\n"
    "-1 0 0 0 0 1 0 0\n"
    "1 0 0 0 0 1 1 0\n"
    "1 2 0 0 0 1 1 1\n"
    "-1 2 0 0 0 1 0 1\n"
    "0 1 2 0 2 3\n"
    "-1 1 1 1 1 4 2\n"
    "-1 0 0.01 0 0 1 0 0\n"
    "1 0 0.01 0 0 1 1 0\n"
    "1 2 0.01 0 0 1 1 1\n"
    "-1 2 0.01 0 0 1 0 1\n"
    "0 1 2 0 2 3\n";

}  // namespace

// Statues of one model and texture with normal and specular maps: each
// texture is bound once for the whole row; the shiny part is drawn again in
// the environment pass (and not with reflections off), brightening it.
TEST_F(scene_gl, statues_bind_shared_textures_once_and_reflect_the_sky)
{
    const std::string home = data_dir(0);
    test::write_file(home + "shiny.qm", shiny_square_qm);
    std::vector<unsigned char> normal(4 * 4 * 3), specular_map(4 * 4 * 3, 255);
    for (size_t i = 0; i < normal.size(); i += 3) {
        normal[i] = 128;
        normal[i + 1] = 128;
        normal[i + 2] = 255;
    }
    ASSERT_TRUE(write_png_rgb((home + "shiny_norm.png").c_str(), normal.data(), 4, 4));
    ASSERT_TRUE(write_png_rgb((home + "shiny_spec.png").c_str(), specular_map.data(), 4, 4));
    free_file_index();
    build_file_index();

    track_objects& objects = w->track.objects;
    objects.statues.count = 0;  // the track's own are not counted here
    const vec3 base = v3(520, ground(520, 1150), 1150);
    for (int i = 0; i < 3; i++) {
        const int k = statue_add(&objects, &w->track.heightfield, base.x + 2.5f * (float)i, 0, base.z, -6.2831855f,
                                 "@shiny.qm", "@rabbithill/haybale.png", nullptr, &g_track_hooks.objects);
        ASSERT_NE(objects.statues.items[k].model, 0u);
        if (g_gl_caps.shaders_on) {
            EXPECT_NE(objects.statues.items[k].normal_texture, 0u);
            EXPECT_NE(objects.statues.items[k].spec_texture, 0u);
        }
    }
    const view_camera c = look(add(base, v3(2.5f, 1, 8)), add(base, v3(2.5f, 1, 0)), 60);
    const unsigned env = own(160, 160, 160);  // any sky will do
    auto draw = [&]() {
        glClearColor(0, 0, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        set_projection(width, height, c.fov, 0.25f, 500);
        load_camera_rotation(c.rotation);
        if (g_gl_caps.shaders_on)
            set_env_matrix(c.rotation);
        translate_to_eye(c.eye);
        glEnable(GL_DEPTH_TEST);
        glDepthFunc(GL_LEQUAL);
        glFogf(GL_FOG_DENSITY, 0);
        // A dim light, so that the reflection shows on top.
        const GLfloat dim[4] = {0.15f, 0.15f, 0.15f, 1}, none[4] = {0, 0, 0, 1}, sun[4] = {0, 1, 1, 0};
        glLightfv(GL_LIGHT0, GL_POSITION, sun);
        glLightfv(GL_LIGHT0, GL_AMBIENT, dim);
        glLightfv(GL_LIGHT0, GL_DIFFUSE, dim);
        glLightfv(GL_LIGHT0, GL_SPECULAR, none);
        glLightModelfv(GL_LIGHT_MODEL_AMBIENT, none);
        g_scene_statistics = scene_statistics();
        model_statistics_reset();
        draw_statues(&objects, c.eye, env);
        glFinish();
        return read_pixels(0, 0, width, height);
    };
    const std::vector<unsigned char> shiny = draw();
    keep(shiny, "scene-shiny-statues.png");
    // Colour, normal and specular map, then the sky: once each.
    EXPECT_EQ(g_scene_statistics.texture_changes, g_gl_caps.shaders_on ? 4 : 2);
    EXPECT_EQ(g_model_statistics.triangles, 3 * (2 + 2));
    EXPECT_EQ(current_program(), 0);

    g_scene_settings.reflections = false;
    const std::vector<unsigned char> dull = draw();
    EXPECT_EQ(g_model_statistics.triangles, 3 * 2);
    long brighter = 0;
    const pixel p = pixel_of(c, width, height, add(base, v3(2.5f, 1, 0)));
    for (int ch = 0; ch < 3; ch++)
        brighter += (long)shiny[3 * ((size_t)p.y * width + p.x) + ch] - dull[3 * ((size_t)p.y * width + p.x) + ch];
    EXPECT_GT(brighter, 3 * 100);
}
