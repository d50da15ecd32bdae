// Frames per second of the game's views at 1280 x 720: a demo of 20
// scripted riders played from the start of the race in the orbit view
// around the leader, then in the rider view of the leader, each frame
// doing what the game's frame does - the view mode, the camera, the scene,
// the terrain's upkeep, the world ticks of the frame (60 frames a second of
// simulated time) and the swap. A third run draws the terrain alone from
// the rider view's cameras, to tell the terrain's share from the bikes'.
//
//   view_fps_bench [DEMO] [FRAMES]
//
// Without DEMO, kessrig-sim (beside this program) records the first 40 s of
// "race --scripted 20 --laps 1". FRAMES per view, default 600. Prints per
// view the frames per second over the whole loop, and the mean
// milliseconds of a frame spent in the world ticks, the scene (ended by
// glFinish, so the driver's drawing counts), the terrain's upkeep and the
// swap. Needs a display (run under xvfb-run); the game data is found as by
// the game (KZ_HOME or this program's directory).
#include <GL/gl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/command_line.h"
#include "core/frame_timing.h"
#include "core/settings.h"
#include "core/views.h"
#include "files/datafs.h"
#include "platform/window.h"
#include "race/demo.h"
#include "race/world.h"
#include "render/camera.h"
#include "render/gl_caps.h"
#include "render/render_services.h"
#include "render/scene.h"
#include "render/shaders.h"
#include "render/terrain_render.h"
#include "render/texture.h"
#include "track/track.h"

using namespace vecmath;

namespace {

using clock_type = std::chrono::steady_clock;

double ms_since(clock_type::time_point start)
{
    return std::chrono::duration<double, std::milli>(clock_type::now() - start).count();
}

struct figures {
    int frames = 0;
    double wall = 0, ticks = 0, scene = 0, upkeep = 0, swap = 0;
};

void print(const char* name, const figures& f, int riders)
{
    const double n = f.frames > 0 ? f.frames : 1;
    printf("%-14s riders=%d frames=%d fps=%.1f frame_ms=%.2f ticks_ms=%.2f scene_ms=%.2f upkeep_ms=%.2f "
           "swap_ms=%.2f\n",
           name, riders, f.frames, f.frames / (f.wall / 1000.0), f.wall / n, f.ticks / n, f.scene / n, f.upkeep / n,
           f.swap / n);
    fflush(stdout);
}

enum run_kind { run_orbit, run_rider, run_terrain_only };

// Plays the demo from its start for frames frames of 1/60 s.
bool run(game_window* window, world* w, const char* demo, run_kind kind, int frames, figures* out, int* riders)
{
    std::vector<int> lineup(RACE_SLOTS, lineup_empty);
    if (!world_reset(w, lineup.data(), demo, false, 0, 1000, 0) || !demo_playing(w))
        return false;
    *riders = 0;
    for (int s = 0; s < RACE_SLOTS; s++)
        *riders += w->race.slots[s].b != nullptr;
    // From a second before the gate drops.
    while (w->race.tick < w->race.start_tick - RACE_TICKS_PER_SECOND)
        world_tick(w);
    game_state game;
    game.track_loaded = true;
    game.watched_slot = w->race.watched_slot;
    view_state views;
    views_new_ride(&views, w);
    update_view_mode(&game, &views, w);
    const view_settings settings = current_view_settings();
    double done = 0, target = 0;
    const clock_type::time_point start = clock_type::now();
    for (int i = 0; i < frames; i++) {
        int width = 1280, height = 720;
        if (!begin_frame(window, &width, &height))
            continue;
        update_view_mode(&game, &views, w);
        game.view_mode = kind == run_orbit ? view_orbit : view_rider;
        view_camera camera;
        const clock_type::time_point scene_start = clock_type::now();
        if (view_camera_for(&views, &game, w, settings, &camera)) {
            if (kind == run_terrain_only) {
                heightfield* hf = &w->track.heightfield;
                const vec3 dir = neg(camera_backward(camera.rotation));
                terrain_prepare_textures(hf, camera.eye, dir);
                glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
                set_projection(width, height, camera.fov, w->track.lighting.near_plane, w->track.lighting.far_plane);
                load_camera_rotation(camera.rotation);
                translate_to_eye(camera.eye);
                glEnable(GL_DEPTH_TEST);
                glDepthFunc(GL_ALWAYS);
                terrain_draw(hf, camera.eye, dir);
            } else {
                glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
                render_scene(w, camera, width, height, (float)g_settings.ghost_fade_distance);
            }
        }
        glFinish();
        out->scene += ms_since(scene_start);

        const clock_type::time_point swap_start = clock_type::now();
        end_frame(window);
        out->swap += ms_since(swap_start);

        const clock_type::time_point tick_start = clock_type::now();
        target += 1.0 / 60;
        while (done < target) {
            done += TICK_SECONDS;
            w->race.watched_slot = game.watched_slot;
            world_tick(w);
        }
        out->ticks += ms_since(tick_start);

        const clock_type::time_point upkeep_start = clock_type::now();
        terrain_update(&w->track.heightfield, TERRAIN_UPDATE_BUDGET);
        out->upkeep += ms_since(upkeep_start);
        out->frames++;
    }
    out->wall = ms_since(start);
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    const int frames = argc > 2 ? std::max(10, atoi(argv[2])) : 600;
    char home[] = "/tmp/view-bench-XXXXXX";
    if (!mkdtemp(home)) {
        fprintf(stderr, "no scratch folder\n");
        return 1;
    }
    setenv("XDG_DATA_HOME", home, 1);
    const std::string log = std::string(home) + "/log.txt";
    setenv("VORN_LOGFILE", log.c_str(), 1);

    std::string demo = argc > 1 ? argv[1] : "";
    if (demo.empty()) {
        char exe[4096];
        const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
        std::string dir = n > 0 ? std::string(exe, (size_t)n) : std::string("./view_fps_bench");
        dir = dir.substr(0, dir.rfind('/'));
        demo = std::string(home) + "/scripted20.kzdemo";
        // The first 40 s of the race are enough; the race is given up
        // there, so its exit status says it did not finish.
        const std::string command = "'" + dir + "/kessrig-sim' race --scripted 20 --laps 1 --max-seconds 40 --record '" +
                                    demo + "' >'" + home + "/sim.txt' 2>&1";
        const int status = system(command.c_str());
        FILE* recorded = fopen(demo.c_str(), "rb");
        if (recorded)
            fclose(recorded);
        if (status < 0 || !recorded) {
            fprintf(stderr, "kessrig-sim could not record the demo (see %s/sim.txt)\n", home);
            return 1;
        }
    }

    game_window* window = create_gl_window("view bench", 1280, 720, 24, 8, 24, 0, 0);
    if (!window) {
        fprintf(stderr, "no GL window (run under xvfb-run)\n");
        return 1;
    }
    gl_init_caps();
    g_gl_caps.shaders_on = g_gl_caps.multitexture_ok && shaders_init();
    glEnable(GL_CULL_FACE);
    glClearColor(0.196078f, 0.6f, 0.8f, 0.0f);
    build_file_index();
    const render_params params = derive_render_params(g_settings, g_options);
    render_install_services(params, false, 0);
    g_terrain_settings = terrain_settings_from_params(params, g_settings.render_texture, g_settings.ground_mipmaps, false, 0);
    terrain_render_install_hooks();
    if (track_list_build(0) == 0) {
        fprintf(stderr, "no tracks\n");
        return 1;
    }
    world* w = world_create();
    printf("window=1280x720 renderer=%s shaders=%d frames=%d demo=%s\n", g_gl_caps.renderer,
           g_gl_caps.shaders_on ? 1 : 0, frames, demo.c_str());

    struct variant {
        const char* name;
        run_kind kind;
    };
    const variant variants[] = {{"orbit", run_orbit}, {"rider", run_rider}, {"rider-terrain", run_terrain_only}};
    for (const variant& v : variants) {
        figures f;
        int riders = 0;
        if (!run(window, w, demo.c_str(), v.kind, frames, &f, &riders)) {
            fprintf(stderr, "cannot play %s\n", demo.c_str());
            return 1;
        }
        print(v.name, f, riders);
    }
    world_destroy(w);
    textures_release(true);
    shaders_free();
    close_window(window);
    return 0;
}
