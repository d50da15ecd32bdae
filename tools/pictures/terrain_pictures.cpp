// Pictures of the default tracks' terrain for looking at by eye: each track
// from three viewpoints on its centre line (the start, down a stretch of
// the lap, and high above the lap), with the methods "Software",
// "Hardware/Direct" and "Shaders/Direct" (the last with the track's
// lighting switched to per-pixel), at 1280 x 720.
//
//   terrain_pictures [OUTPUT_DIR] [TRACK...]
//
// Writes OUTPUT_DIR/terrain-<track>-<method>-<n>.png (the method's name in
// lower case with "/" as "-"); the default folder is the build's
// "pictures", the default tracks "rabbithill" and "stadium". Needs a
// display (xvfb-run); exits with 1 when a track or a picture fails.
#include <GL/gl.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "core/services.h"
#include "files/datafs.h"
#include "files/stream.h"
#include "platform/window.h"
#include "render/camera.h"
#include "render/gl_caps.h"
#include "render/picture.h"
#include "render/shaders.h"
#include "render/terrain_internal.h"
#include "render/texture.h"
#include "robot/centre_line.h"
#include "track/track.h"

using namespace vecmath;

namespace {

const int width = 1280, height = 720;

unsigned load_texture(const char* name, int)
{
    return texture_get(name);
}

std::string file_label(const char* method)
{
    std::string out;
    for (const char* p = method; *p; p++)
        out += *p == '/' ? '-' : (char)tolower((unsigned char)*p);
    return out;
}

// Adds "dynamic_lighting 1" to the track's lighting, in the home directory.
void light_per_pixel(const char* track_name)
{
    char name[300];
    snprintf(name, sizeof name, "@%s/lighting", track_name);
    std::string text;
    if (data_stream* s = open_data_file(name, "rb")) {
        char buffer[4096];
        size_t n;
        while ((n = stream_read(s, buffer, sizeof buffer)) > 0)
            text.append(buffer, n);
        close_data_file(s);
    }
    if (text.find("dynamic_lighting") == std::string::npos)
        text += "dynamic_lighting 1\n";
    if (!replace_data_file_bytes(name, text.data(), text.size(), false))
        fprintf(stderr, "terrain_pictures: can't write '%s'\n", name);
    free_file_index();
}

struct viewpoint {
    vec3 eye, target;
};

// The start (behind the gate, looking down the start straight), a stretch
// a third of the way round seen low from the side of the track, and the
// whole lap from high above its middle.
std::vector<viewpoint> viewpoints(const rider_path& path, const heightfield* hf)
{
    std::vector<viewpoint> out;
    const size_t count = path.points.size();
    auto at = [&](size_t k) {
        const rider_path_point& p = path.points[std::min(k, count - 1)];
        return v3(p.x, p.y, p.z);
    };
    const vec3 start = at(0), ahead = at(60);
    out.push_back({v3(start.x - (ahead.x - start.x) * 0.2f, start.y + 14.0f, start.z - (ahead.z - start.z) * 0.2f),
                   ahead});
    const size_t third = (size_t)path.loop_start + (count - (size_t)path.loop_start) / 3;
    const vec3 a = at(third), b = at(third + 40);
    const vec3 side = v3(-(b.z - a.z), 0, b.x - a.x);
    const float len = sqrtf(side.x * side.x + side.z * side.z) + 1e-6f;
    vec3 eye = v3(a.x + side.x / len * 25.0f, 0, a.z + side.z / len * 25.0f);
    eye.y = heightfield_height_at(hf, eye.x, eye.z) + 7.0f;
    out.push_back({eye, b});
    vec3 lo = at(0), hi = lo;
    for (const rider_path_point& p : path.points) {
        lo = v3(std::min(lo.x, p.x), 0, std::min(lo.z, p.z));
        hi = v3(std::max(hi.x, p.x), 0, std::max(hi.z, p.z));
    }
    const vec3 middle = v3((lo.x + hi.x) * 0.5f, 0, (lo.z + hi.z) * 0.5f);
    const float span = std::max(hi.x - lo.x, hi.z - lo.z);
    out.push_back({v3(middle.x, hf->height_max + span * 0.55f, lo.z - span * 0.35f), middle});
    return out;
}

bool shoot(game_window* window, const char* track_name, int method, const std::string& folder)
{
    terrain_settings s;
    s.method = method;
    s.tile_texels = 128;
    g_terrain_settings = s;
    track tr;
    track_load_flags flags;
    if (!track_load(&tr, track_name, flags) || !tr.heightfield.render) {
        fprintf(stderr, "cannot load %s\n", track_name);
        return false;
    }
    rider_path path;
    std::string why;
    if (!centre_line_load(track_name, centre_line_options(), &path, &why) || path.points.empty()) {
        fprintf(stderr, "%s\n", why.c_str());
        track_unload(&tr);
        return false;
    }
    heightfield* hf = &tr.heightfield;
    const lighting& light = tr.lighting;
    bool ok = true;
    int n = 0;
    for (const viewpoint& v : viewpoints(path, hf)) {
        n++;
        float rotation[9];
        camera_look_at(v.eye, v.target, rotation);
        const vec3 dir = neg(camera_backward(rotation));
        // Enough frames for the error pyramid and every texture tile.
        for (int frame = 0; frame < 200; frame++) {
            terrain_update(hf, TERRAIN_UPDATE_BUDGET);
            terrain_prepare_textures(hf, v.eye, dir);
        }
        int w = width, h = height;
        begin_frame(window, &w, &h);
        glClearColor(light.fog_color[0], light.fog_color[1], light.fog_color[2], 0);
        glDepthMask(GL_TRUE);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        set_projection(w, h, 90.0f, light.near_plane, light.far_plane);
        load_camera_rotation(rotation);
        translate_to_eye(v.eye);
        const GLfloat sun[4] = {light.sun_vector.x, light.sun_vector.y, light.sun_vector.z, 0};
        const GLfloat ambient[4] = {light.ambient[0], light.ambient[1], light.ambient[2], 1};
        const GLfloat diffuse[4] = {light.sun_color[0], light.sun_color[1], light.sun_color[2], 1};
        glLightfv(GL_LIGHT0, GL_POSITION, sun);
        glLightfv(GL_LIGHT0, GL_AMBIENT, ambient);
        glLightfv(GL_LIGHT0, GL_DIFFUSE, diffuse);
        glLightfv(GL_LIGHT0, GL_SPECULAR, diffuse);
        const GLfloat fog[4] = {light.fog_color[0], light.fog_color[1], light.fog_color[2], 1};
        glFogi(GL_FOG_MODE, GL_EXP);
        glFogfv(GL_FOG_COLOR, fog);
        glFogf(GL_FOG_DENSITY, light.fog_density);
        if (light.fog_density > 0)
            glEnable(GL_FOG);
        glEnable(GL_DEPTH_TEST);
        glDepthFunc(GL_ALWAYS);
        terrain_draw(hf, v.eye, dir);
        glDisable(GL_FOG);
        std::vector<unsigned char> pixels((size_t)w * h * 3);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(0, 0, w, h, GL_RGB, GL_UNSIGNED_BYTE, pixels.data());
        end_frame(window);
        const std::string name =
            folder + "/terrain-" + track_name + "-" + file_label(terrain_method_name(method)) + "-" + std::to_string(n) + ".png";
        if (!write_png_rgb(name.c_str(), pixels.data(), w, h)) {
            fprintf(stderr, "cannot write %s\n", name.c_str());
            ok = false;
        } else {
            printf("%s\n", name.c_str());
        }
    }
    track_unload(&tr);
    return ok;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string folder = argc > 1 ? argv[1] : KESSRIG_PICTURES_DIR;
    std::vector<std::string> tracks;
    for (int i = 2; i < argc; i++)
        tracks.push_back(argv[i]);
    if (tracks.empty())
        tracks = {"rabbithill", "stadium"};
    std::filesystem::create_directories(folder);

    char home[] = "/tmp/terrain-pictures-XXXXXX";
    if (!mkdtemp(home))
        return 1;
    setenv("XDG_DATA_HOME", home, 1);
    const std::string log = std::string(home) + "/log.txt";
    setenv("VORN_LOGFILE", log.c_str(), 1);

    game_window* window = create_gl_window("terrain pictures", width, height, 24, 8, 24, 0, 0);
    if (!window) {
        fprintf(stderr, "no GL window (run under xvfb-run)\n");
        return 1;
    }
    gl_init_caps();
    g_gl_caps.shaders_on = g_gl_caps.multitexture_ok && shaders_init();
    glEnable(GL_CULL_FACE);
    g_texture_service.load = load_texture;
    g_texture_service.keep_tile_pictures = terrain_keeps_tile_pictures;
    terrain_render_install_hooks();

    bool ok = true;
    for (const std::string& track_name : tracks)
        for (int method : {terrain_method_software, terrain_method_hardware_direct, terrain_method_shaders_direct}) {
            if (method == terrain_method_shaders_direct)
                light_per_pixel(track_name.c_str());
            ok = shoot(window, track_name.c_str(), method, folder) && ok;
        }
    textures_release(true);
    shaders_free();
    close_window(window);
    std::filesystem::remove_all(home);
    return ok ? 0 : 1;
}
