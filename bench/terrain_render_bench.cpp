// Terrain frame time: a camera flies a lap of a track's centre line, six
// feet above it, at 1280 x 720, once per rendering method.
//
//   terrain_render_bench [TRACK] [STRIDE]
//
// Each frame does what the game does for the terrain: the error pyramid's
// share and one lighting texture (terrain_update), the texture levels
// (terrain_prepare_textures), then the mesh choice and drawing
// (terrain_draw), each followed by glFinish so the driver's work is
// counted. The camera moves STRIDE centre-line points (default 6, about
// 12 ft) per frame. The shader methods run twice: as the track is lit, and
// with its lighting switched to per-pixel ("lit"). The other settings are
// the configuration's defaults (64 x 64 texel tiles, levels 1 to 5). Prints per method the
// mean, median, 95th percentile and largest frame in milliseconds, the
// mean split into upkeep / mesh choice / drawing, the fan vertices drawn
// and the tiles built. Needs a display (run under xvfb-run); the game data
// is found as by the game (KZ_HOME or this program's directory).
#include <GL/gl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/services.h"
#include "files/datafs.h"
#include "files/stream.h"
#include "platform/log.h"
#include "platform/window.h"
#include "render/camera.h"
#include "render/gl_caps.h"
#include "render/shaders.h"
#include "render/terrain_internal.h"
#include "render/texture.h"
#include "robot/centre_line.h"
#include "track/track.h"

using namespace vecmath;

namespace {

using clock_type = std::chrono::steady_clock;

double ms_since(clock_type::time_point start)
{
    return std::chrono::duration<double, std::milli>(clock_type::now() - start).count();
}

unsigned load_texture(const char* name, int)
{
    return texture_get(name);
}

struct run_figures {
    std::vector<double> frames;
    double upkeep = 0, mesh = 0, draw = 0;
    long vertices = 0;
    int tiles = 0;
};

void print(const char* name, run_figures& f)
{
    if (f.frames.empty()) {
        printf("%-22s no frames\n", name);
        return;
    }
    std::vector<double> sorted = f.frames;
    std::sort(sorted.begin(), sorted.end());
    double sum = 0;
    for (double v : sorted)
        sum += v;
    const double n = (double)sorted.size();
    printf("%-22s frames=%d mean_ms=%.2f median_ms=%.2f p95_ms=%.2f max_ms=%.2f upkeep_ms=%.2f mesh_ms=%.2f "
           "draw_ms=%.2f vertices=%ld tiles_built=%d\n",
           name, (int)n, sum / n, sorted[sorted.size() / 2], sorted[(size_t)(0.95 * (n - 1))], sorted.back(),
           f.upkeep / n, f.mesh / n, f.draw / n, (long)(f.vertices / (long)n), f.tiles);
    fflush(stdout);
}

bool fly(game_window* window, const char* track_name, const rider_path& path, int stride, run_figures* out)
{
    track tr;
    track_load_flags flags;
    if (!track_load(&tr, track_name, flags) || !tr.heightfield.render) {
        track_unload(&tr);
        return false;
    }
    heightfield* hf = &tr.heightfield;
    terrain_render_state* st = hf->render;
    const int built_before = st->tiles_built;
    for (size_t k = (size_t)path.loop_start; k + 10 < path.points.size(); k += (size_t)stride) {
        int w = 1280, h = 720;
        if (!begin_frame(window, &w, &h))
            continue;
        const rider_path_point& p = path.points[k];
        const rider_path_point& q = path.points[k + 10];
        const vec3 eye = v3(p.x, p.y + 6.0f, p.z);
        const vec3 target = v3(q.x, q.y + 3.0f, q.z);
        float rotation[9];
        camera_look_at(eye, target, rotation);
        const vec3 dir = neg(camera_backward(rotation));

        const clock_type::time_point start = clock_type::now();
        terrain_update(hf, TERRAIN_UPDATE_BUDGET);
        terrain_prepare_textures(hf, eye, dir);
        glFinish();
        const double upkeep = ms_since(start);

        const clock_type::time_point draw_start = clock_type::now();
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        set_projection(w, h, 90.0f, tr.lighting.near_plane, tr.lighting.far_plane);
        load_camera_rotation(rotation);
        translate_to_eye(eye);
        const GLfloat sun[4] = {tr.lighting.sun_vector.x, tr.lighting.sun_vector.y, tr.lighting.sun_vector.z, 0};
        glLightfv(GL_LIGHT0, GL_POSITION, sun);
        glEnable(GL_DEPTH_TEST);
        glDepthFunc(GL_ALWAYS);
        terrain_stats_reset();
        terrain_draw(hf, eye, dir);
        glFinish();
        const double draw = ms_since(draw_start);
        out->vertices += g_terrain_stats.vertices;

        // The mesh choice again on its own (the same work terrain_draw did).
        const clock_type::time_point mesh_start = clock_type::now();
        terrain_detail::choose_mesh(st, hf, eye.x, eye.z);
        terrain_detail::emit_mesh(st, hf, eye, dir);
        const double mesh = ms_since(mesh_start);

        out->frames.push_back(upkeep + draw);
        out->upkeep += upkeep;
        out->mesh += mesh;
        out->draw += draw - mesh;
        end_frame(window);
    }
    out->tiles = st->tiles_built - built_before;
    track_unload(&tr);
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    const char* track_name = argc > 1 ? argv[1] : "rabbithill";
    const int stride = argc > 2 ? std::max(1, atoi(argv[2])) : 6;
    char home[] = "/tmp/terrain-bench-XXXXXX";
    if (!mkdtemp(home)) {
        fprintf(stderr, "no scratch folder\n");
        return 1;
    }
    setenv("XDG_DATA_HOME", home, 1);
    const std::string log = std::string(home) + "/log.txt";
    setenv("VORN_LOGFILE", log.c_str(), 1);

    game_window* window = create_gl_window("terrain bench", 1280, 720, 24, 8, 24, 0, 0);
    if (!window) {
        fprintf(stderr, "no GL window (run under xvfb-run)\n");
        return 1;
    }
    gl_init_caps();
    g_gl_caps.shaders_on = g_gl_caps.multitexture_ok && shaders_init();
    glEnable(GL_CULL_FACE);
    glClearColor(0.196078f, 0.6f, 0.8f, 0.0f);
    g_texture_service.load = load_texture;
    g_texture_service.keep_tile_pictures = terrain_keeps_tile_pictures;
    terrain_render_install_hooks();

    rider_path path;
    std::string why;
    if (!centre_line_load(track_name, centre_line_options(), &path, &why)) {
        fprintf(stderr, "%s\n", why.c_str());
        return 1;
    }
    printf("track=%s points=%zu stride=%d window=1280x720 renderer=%s shaders=%d\n", track_name, path.points.size(),
           stride, g_gl_caps.renderer, g_gl_caps.shaders_on ? 1 : 0);

    struct variant {
        int method;
        bool lit;
    };
    const variant variants[] = {{terrain_method_software, false},      {terrain_method_hardware_copy, false},
                                {terrain_method_hardware_direct, false}, {terrain_method_shaders_copy, false},
                                {terrain_method_shaders_direct, false}, {terrain_method_shaders_copy, true},
                                {terrain_method_shaders_direct, true}};
    for (const variant& v : variants) {
        if (v.lit) {
            if (!g_gl_caps.shaders_on)
                continue;
            // The track's lighting with per-pixel lighting on, from the home directory.
            std::string lighting;
            char name[300];
            snprintf(name, sizeof name, "@%s/lighting", track_name);
            if (data_stream* s = open_data_file(name, "rb")) {
                char buffer[4096];
                size_t n;
                while ((n = stream_read(s, buffer, sizeof buffer)) > 0)
                    lighting.append(buffer, n);
                close_data_file(s);
            }
            lighting += "dynamic_lighting 1\n";
            if (data_stream* s = open_data_file(name, "wb")) {
                stream_write(s, lighting.data(), lighting.size());
                close_data_file(s);
            }
            free_file_index();
        }
        terrain_settings s;  // the configuration's defaults
        s.method = v.method;
        g_terrain_settings = s;
        run_figures f;
        if (!fly(window, track_name, path, stride, &f)) {
            fprintf(stderr, "cannot load %s\n", track_name);
            return 1;
        }
        std::string label = terrain_method_name(v.method);
        if (v.lit)
            label += " (lit)";
        print(label.c_str(), f);
    }
    textures_release(true);
    shaders_free();
    close_window(window);
    return 0;
}
