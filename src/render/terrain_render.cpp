// The terrain renderer's entry points: settings, the set-up of a track's
// terrain (method, lighting textures, tiles, error pyramid), the per-frame
// calls, dirty marking and the hooks that tie it to track loading, the
// height field's release, erosion and decal edits.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <new>

#include "core/messages.h"
#include "core/settings.h"
#include "files/memory.h"
#include "platform/log.h"
#include "render/gl_caps.h"
#include "render/shaders.h"
#include "render/terrain_internal.h"
#include "render/texture.h"
#include "track/erosion.h"
#include "track/lighting.h"
#include "track/objects.h"
#include "track/track.h"

using namespace terrain_detail;

terrain_settings g_terrain_settings;
terrain_stats g_terrain_stats;

namespace {

const char* const method_names[terrain_method_count] = {"Software", "Hardware/Copy", "Hardware/Direct",
                                                        "Shaders/Copy", "Shaders/Direct"};

const char* texturing_names[] = {"TexSubImage", "CopyTexSubImage", "framebuffer objects"};

// Largest power of two from 32 up that is not above v (32 for less).
int texels_floor(int v)
{
    int t = 32;
    while (t * 2 <= v && t < 1024)
        t *= 2;
    return t;
}

bool shader_method(int method)
{
    return method == terrain_method_shaders_copy || method == terrain_method_shaders_direct;
}

void log_memory(int verbose, const char* when)
{
    if (verbose)
        log_printf("%lu bytes texture memory used %s\n", texture_memory, when);
}

}  // namespace

const char* terrain_method_name(int method)
{
    return method >= 0 && method < terrain_method_count ? method_names[method] : nullptr;
}

int terrain_method_from_name(const char* name)
{
    for (int k = 0; name && k < terrain_method_count; k++)
        if (strcmp(name, method_names[k]) == 0)
            return k;
    return -1;
}

terrain_settings terrain_settings_from_params(const render_params& params, int method, bool mipmaps,
                                              bool no_vertex_arrays, int verbose)
{
    terrain_settings s;
    s.method = method;
    s.tile_texels = params.ground_texture_size;
    s.min_level = params.ground_texture_level;
    s.error_scale = params.terrain_error_scale;
    s.mipmaps = mipmaps;
    s.no_vertex_arrays = no_vertex_arrays;
    s.verbose = verbose;
    return s;
}

int terrain_texturing_for(const terrain_settings& settings)
{
    switch (settings.method) {
    case terrain_method_hardware_copy:
    case terrain_method_shaders_copy:
        return terrain_copy_sub_image;
    case terrain_method_hardware_direct:
    case terrain_method_shaders_direct:
        return gl_framebuffer_available() ? terrain_framebuffer : terrain_tex_sub_image;
    default:
        return terrain_tex_sub_image;
    }
}

bool terrain_keeps_tile_pictures()
{
    return terrain_texturing_for(g_terrain_settings) == terrain_tex_sub_image;
}

void terrain_stats_reset()
{
    g_terrain_stats = terrain_stats();
}

// ---- per track ---------------------------------------------------------------------

void terrain_free(heightfield* hf)
{
    terrain_render_state* st = hf ? hf->render : nullptr;
    if (!st)
        return;
    gl_delete_all(st);
    st->~terrain_render_state();
    mem_free(st);
    hf->render = nullptr;
}

bool terrain_render_setup(heightfield* hf, const terrain_settings& settings, const lighting* light)
{
    terrain_free(hf);
    // Texture tiles are 128 samples wide: smaller grids are not drawn.
    if (!hf->heights || hf->grid_log2 < GRID_LEVEL || hf->grid_log2 > HEIGHTFIELD_MAX_LOG2)
        return true;

    void* memory = mem_calloc(1, sizeof(terrain_render_state));
    if (!memory)
        fatal_out_of_memory();
    terrain_render_state* st = new (memory) terrain_render_state();
    hf->render = st;
    st->settings = settings;
    if (!(std::isfinite(st->settings.error_scale) && st->settings.error_scale > 0.0))
        st->settings.error_scale = terrain_settings().error_scale;

    int method = settings.method;
    if (!terrain_method_name(method)) {
        add_message("Something went wrong setting up terrain texture rendering!");
        method = terrain_method_software;
        st->settings.method = method;
    }
    st->texturing = terrain_texturing_for(st->settings);
    log_printf("Terrain texture rendering with %s\n", texturing_names[st->texturing]);

    // Tiles drawn in the back buffer must fit in it; composed and copied
    // tiles stay small enough to rebuild within a frame.
    int texels = texels_floor(settings.tile_texels);
    if (st->texturing != terrain_framebuffer)
        texels = std::min(texels, 256);
    if (st->texturing == terrain_copy_sub_image) {
        GLint viewport[4] = {};
        glGetIntegerv(GL_VIEWPORT, viewport);
        const int fits = std::min(viewport[2], viewport[3]);
        while (texels > 32 && texels > fits)
            texels /= 2;
    }
    st->tile_texels = texels;

    st->shader = st->texturing != terrain_tex_sub_image && shader_method(method) && g_gl_caps.shaders_on && light &&
                 light->dynamic_lighting && program_handle(program_terrain) && program_handle(program_terrain_normals);
    st->light = light ? lighting_terrain_light(light) : terrain_light();
    if (st->shader) {
        loading_begin("Creating terrain normals");
        heightfield_build_normal_map(hf);
        loading_done("Creating terrain normals");
    }

    levels_init(st, hf);
    log_memory(settings.verbose, "before ground tiles loaded");
    gl_create_tiles(st);
    log_memory(settings.verbose, "after ground tiles loaded");
    if (!gl_create_lighting(st, hf)) {
        terrain_free(hf);
        return false;
    }
    log_memory(settings.verbose, "after low detail ground textures");
    pyramid_advance(st, hf, -1);
    return true;
}

void terrain_update(heightfield* hf, int budget)
{
    terrain_render_state* st = hf ? hf->render : nullptr;
    if (!st)
        return;
    pyramid_advance(st, hf, budget);
    const int count = (int)st->light_tiles.size();
    for (int k = 0; k < count; k++) {
        const int idx = (st->light_next + k) % count;
        if (st->light_tiles[idx].dirty) {
            gl_rebuild_light_tile(st, hf, idx);
            st->light_next = (idx + 1) % count;
            break;
        }
    }
}

void terrain_prepare_textures(heightfield* hf, vec3 eye, vec3 view_dir)
{
    (void)view_dir;
    terrain_render_state* st = hf ? hf->render : nullptr;
    if (!st)
        return;
    tile_ref ref;
    // The whole grid level is built at once: it backs every other level.
    while (next_tile_to_build(st, &ref) && ref.level == GRID_LEVEL && st->grid[ref.index].dirty < 0)
        gl_build_tile(st, hf, ref);
    levels_follow(st, sample_floor(eye.x, hf->spacing), sample_floor(eye.z, hf->spacing));
    if (next_tile_to_build(st, &ref))
        gl_build_tile(st, hf, ref);
}

void terrain_draw(heightfield* hf, vec3 eye, vec3 view_dir)
{
    terrain_render_state* st = hf ? hf->render : nullptr;
    if (!st)
        return;
    choose_mesh(st, hf, eye.x, eye.z);
    emit_mesh(st, hf, eye, view_dir);
    gl_draw_fans(st);
    st->frame = st->frame == INT_MAX ? 1 : st->frame + 1;
}

void terrain_mark_dirty(heightfield* hf, int col0, int row0, int col1, int row1)
{
    if (hf && hf->render)
        mark_dirty(hf->render, col0, row0, col1, row1);
}

// ---- hooks ------------------------------------------------------------------------------

namespace {

bool hook_setup(void*, heightfield* hf, const lighting* light)
{
    const bool ok = terrain_render_setup(hf, g_terrain_settings, light);
    // The decals read next want normal and specular maps only for the shader.
    g_track_hooks.objects.terrain_shader = ok && hf->render && hf->render->shader;
    return ok;
}

unsigned long hook_texture_memory(void*)
{
    return texture_memory;
}

void hook_free(void*, heightfield* hf)
{
    terrain_free(hf);
}

void hook_erosion(void*, heightfield* hf, int col0, int row0, int col1, int row1)
{
    terrain_mark_dirty(hf, col0, row0, col1, row1);
}

int sample_of(float v, float spacing, bool up)
{
    const float f = up ? ceilf(v / spacing) : floorf(v / spacing);
    return f != f ? 0 : (int)std::min(std::max(f, -1e6f), 1e6f);
}

void hook_decal(void*, heightfield* hf, float x0, float z0, float x1, float z1)
{
    terrain_render_state* st = hf ? hf->render : nullptr;
    if (!st)
        return;
    // A picture kept in memory may have been replaced at the same address.
    st->decal_pictures.clear();
    mark_dirty(st, sample_of(x0, hf->spacing, false), sample_of(z0, hf->spacing, false),
               sample_of(x1, hf->spacing, true), sample_of(z1, hf->spacing, true));
}

}  // namespace

void terrain_render_install_hooks()
{
    g_track_hooks.terrain_setup = hook_setup;
    g_track_hooks.texture_memory = hook_texture_memory;
    g_heightfield_hooks.free_render = hook_free;
    g_erosion_hooks.mark_dirty = hook_erosion;
    g_decal_hooks.mark_dirty = hook_decal;
}

void terrain_render_remove_hooks()
{
    if (g_track_hooks.terrain_setup == hook_setup)
        g_track_hooks.terrain_setup = nullptr;
    if (g_track_hooks.texture_memory == hook_texture_memory)
        g_track_hooks.texture_memory = nullptr;
    if (g_heightfield_hooks.free_render == hook_free)
        g_heightfield_hooks.free_render = nullptr;
    if (g_erosion_hooks.mark_dirty == hook_erosion)
        g_erosion_hooks.mark_dirty = nullptr;
    if (g_decal_hooks.mark_dirty == hook_decal)
        g_decal_hooks.mark_dirty = nullptr;
}
