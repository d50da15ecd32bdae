// The renderer's side of the seams the simulation loads pictures through:
// the game installs these at start-up; tools and tests leave the seams empty.
#include "render/render_services.h"

#include <cstdio>
#include <cstring>

#include "core/command_line.h"
#include "core/services.h"
#include "files/datafs.h"
#include "render/gl_caps.h"
#include "render/model.h"
#include "render/scene.h"
#include "track/track.h"
#include "render/terrain_render.h"
#include "render/texture.h"

namespace {


bool data_file_exists(const char* name)
{
    data_stream* s = open_data_file(name, "rb");
    if (!s)
        return false;
    close_data_file(s);
    return true;
}

unsigned load_texture(const char* name, int)
{
    return texture_get(name);
}

// Registered textures live until the registry releases them by generation.
void release_texture(unsigned) {}

// Asked at each track load, once the driver says how tiles are built.
bool keep_tile_pictures()
{
    return terrain_keeps_tile_pictures();
}

unsigned make_number_plate(const char* number, const unsigned char background[3], const unsigned char figures[3],
                           int size)
{
    return number_plate_texture(number, size, size, background, figures);
}

void delete_unregistered(unsigned texture)
{
    GLuint id = texture;
    if (id)
        glDeleteTextures(1, &id);
}

// The companion map of a texture: the name with the suffix put before
// "-repeat." (keeping the repeat) or before the extension, as a sequence, a
// PNG or a PPM, whichever exists first.
unsigned companion_map(unsigned texture, const char* suffix)
{
    if (!g_gl_caps.shaders_on)
        return 0;
    const char* name = texture_name(texture);
    if (!name)
        return 0;
    char stem[1024];
    snprintf(stem, sizeof stem, "%s", name);
    const char* tail = "";
    char* cut = strstr(stem, "-repeat.");
    if (cut) {
        char* last_dash = strrchr(stem, '-');
        *last_dash = '\0';
        tail = "-repeat";
    } else if ((cut = strrchr(stem, '.')) != nullptr) {
        *cut = '\0';
    }
    static const char* const extensions[] = {".seq", ".png", ".ppm"};
    for (const char* extension : extensions) {
        char candidate[1100];
        snprintf(candidate, sizeof candidate, "%s%s%s%s", stem, suffix, tail, extension);
        if (data_file_exists(candidate))
            return texture_get(candidate);
    }
    return 0;
}

unsigned normal_map(unsigned texture)
{
    return companion_map(texture, "_norm");
}

unsigned specular_map(unsigned texture)
{
    return companion_map(texture, "_spec");
}

void begin_generation(void*)
{
    texture_generation++;
    model_generation++;
    texture_memory = 0;
}

void release_unused(void*)
{
    model_purge(false);
    textures_release(false);
}

unsigned long memory_in_use(void*)
{
    return texture_memory;
}

}  // namespace

void render_install_services(const render_params& params, bool no_vertex_arrays, int debug)
{
    g_texture_settings.level = params.texture_level;
    g_texture_settings.compress = params.texture_compress;
    g_texture_settings.debug = debug;
    g_model_settings.lod_scale = (float)params.lod_scale;
    g_model_settings.lod_bias = (float)params.lod_bias;
    g_model_settings.no_vertex_arrays = no_vertex_arrays;
    g_model_settings.verbose = debug > 0;
    g_scene_settings.reflections = params.reflections != 0;
    g_scene_settings.debug_level = debug;
    g_scene_settings.flat_shading = g_options.fugly;
    g_scene_settings.model_detail = (int)g_settings.model_detail;
    g_scene_settings.lens_flares = g_settings.lens_flare != 0;
    render_install_texture_service();
    model_install_service();
    g_track_hooks.new_generation = begin_generation;
    g_track_hooks.release_unused = release_unused;
    g_track_hooks.texture_memory = memory_in_use;
}

void render_install_texture_service()
{
    g_texture_service.load = load_texture;
    g_texture_service.release = release_texture;
    g_texture_service.keep_tile_pictures = keep_tile_pictures;
    g_texture_service.text = texture_text;
    g_texture_service.number_plate = make_number_plate;
    g_texture_service.delete_unregistered = delete_unregistered;
    g_texture_service.normal_map = normal_map;
    g_texture_service.specular_map = specular_map;
}
