// One frame of the 3-D scene, in a fixed order: the flaggers and animations
// follow the race, the terrain maintains its textures, the sky is drawn
// around the eye, the terrain back to front (writing depth for the rest),
// the solid bikes, the statues, the sprites, the fading bikes, the debugging
// lines, and last the lens flares over everything.
#include <SDL_opengl.h>

#include <algorithm>
#include <cmath>

#include "bike/bike.h"
#include "race/race.h"
#include "race/world.h"
#include "render/camera.h"
#include "render/gl_caps.h"
#include "render/model.h"
#include "render/scene.h"
#include "render/shaders.h"
#include "render/terrain_render.h"
#include "render/texture.h"
#include "track/roost.h"
#include "track/track.h"

using namespace vecmath;

namespace {

// Five faces around the eye (north, east, south, west, up), corners with
// texture coordinates kept half a texel inside so the seams do not show.
void draw_sky(const lighting& light)
{
    static const float faces[SKY_FACES][4][3] = {
        {{-1, 1, -1}, {-1, -1, -1}, {1, -1, -1}, {1, 1, -1}},
        {{1, 1, -1}, {1, -1, -1}, {1, -1, 1}, {1, 1, 1}},
        {{1, 1, 1}, {1, -1, 1}, {-1, -1, 1}, {-1, 1, 1}},
        {{-1, 1, 1}, {-1, -1, 1}, {-1, -1, -1}, {-1, 1, -1}},
        {{-1, 1, 1}, {-1, 1, -1}, {1, 1, -1}, {1, 1, 1}},
    };
    static const float uv[4][2] = {
        {1 / 128.0f, 1 / 128.0f}, {1 / 128.0f, 127 / 128.0f}, {127 / 128.0f, 127 / 128.0f}, {127 / 128.0f, 1 / 128.0f}};
    glDepthMask(GL_FALSE);
    glDisable(GL_BLEND);
    glDisable(GL_LIGHTING);
    glDisable(GL_CULL_FACE);
    glEnable(GL_TEXTURE_2D);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_DECAL);
    glColor4f(1, 1, 1, 1);
    for (int f = 0; f < SKY_FACES; f++) {
        if (!light.sky[f])
            continue;
        glBindTexture(GL_TEXTURE_2D, light.sky[f]);
        g_scene_statistics.texture_changes++;
        glBegin(GL_QUADS);
        for (int c = 0; c < 4; c++) {
            glTexCoord2fv(uv[c]);
            glVertex3fv(faces[f][c]);
        }
        glEnd();
    }
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    glEnable(GL_CULL_FACE);
    glDepthMask(GL_TRUE);
}

void set_light(const lighting& light)
{
    const GLfloat position[4] = {light.sun_vector.x, light.sun_vector.y, light.sun_vector.z, 0};
    const GLfloat ambient[4] = {light.ambient[0], light.ambient[1], light.ambient[2], 1};
    const GLfloat sun[4] = {light.sun_color[0], light.sun_color[1], light.sun_color[2], 1};
    const GLfloat global[4] = {light.global_ambient[0], light.global_ambient[1], light.global_ambient[2], 1};
    glLightfv(GL_LIGHT0, GL_POSITION, position);
    glLightfv(GL_LIGHT0, GL_AMBIENT, ambient);
    glLightfv(GL_LIGHT0, GL_DIFFUSE, sun);
    glLightfv(GL_LIGHT0, GL_SPECULAR, sun);
    glLightModelfv(GL_LIGHT_MODEL_AMBIENT, global);
    glLightModeli(GL_LIGHT_MODEL_LOCAL_VIEWER, GL_TRUE);
    glEnable(GL_LIGHT0);
}

bool set_fog(const lighting& light)
{
    // The shader programs fog whether or not GL's fog is enabled: no fog
    // must be a density of 0 for them.
    glFogf(GL_FOG_DENSITY, light.fog_density > 0 ? light.fog_density : 0.0f);
    if (!(light.fog_density > 0))
        return false;
    const GLfloat colour[4] = {light.fog_color[0], light.fog_color[1], light.fog_color[2], 1};
    glFogi(GL_FOG_MODE, GL_EXP);
    glFogf(GL_FOG_DENSITY, light.fog_density);
    glFogfv(GL_FOG_COLOR, colour);
    glEnable(GL_FOG);
    return true;
}

// The robots' paths as white lines, fading out with the distance from the
// eye so that near lines stand out.
void draw_paths(const world* w, vec3 eye)
{
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_LIGHTING);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glDepthMask(GL_FALSE);
    for (int slot = 0; slot < RACE_SLOTS; slot++) {
        const bike* b = w->race.slots[slot].b;
        if (!b || b->path.count < 2 || !b->path.items)
            continue;
        glBegin(GL_LINE_STRIP);
        for (int i = 0; i < b->path.count; i++) {
            const line_point& q = b->path.items[i];
            const float dx = q.x - eye.x, dy = q.y - eye.y, dz = q.z - eye.z;
            const float a = 1.0f - 0.001f * (dx * dx + dy * dy + dz * dz);
            glColor4f(1, 1, 1, std::min(std::max(a, 0.0625f), 1.0f));
            glVertex3f(q.x, q.y, q.z);
        }
        glEnd();
    }
    glColor4f(1, 1, 1, 1);
    glDepthMask(GL_TRUE);
    glDisable(GL_BLEND);
    glEnable(GL_TEXTURE_2D);
}

int first_live_slot(const world* w)
{
    for (int slot = 0; slot < RACE_SLOTS; slot++)
        if (w->race.slots[slot].b && w->race.slots[slot].driver == slot_driver_local)
            return slot;
    return -1;
}

}  // namespace

float bike_fade(const world* w, int slot, float ghost_fade_distance)
{
    const race_slot& s = w->race.slots[slot];
    if (!s.b)
        return 0;
    const int live = w->race.net.connected ? -1 : first_live_slot(w);
    if (live >= 0 && slot != live && s.driver == slot_driver_recorded) {
        const float d = length(sub(bike_frame_position(s.b), bike_frame_position(w->race.slots[live].b)));
        const float D = ghost_fade_distance;
        if (!(D > 0))
            return d > 0 ? 1.0f : 0.0f;
        const float f = (d - D / 2) / (D - D / 2);
        return f < 0 ? 0.0f : (f > 1 ? 1.0f : f);
    }
    return is_visible(w, slot) ? 1.0f : 0.0f;
}

void render_scene(world* w, const view_camera& camera, int width, int height, float ghost_fade_distance)
{
    model_statistics_reset();
    terrain_stats_reset();
    g_scene_statistics = scene_statistics();
    reset_program_switches();

    track& t = w->track;
    heightfield* hf = &t.heightfield;
    lighting& light = t.lighting;
    const scene_settings& settings = g_scene_settings;
    const bool programs = g_gl_caps.shaders_on;

    // The race as the flaggers see it, and every animation at this tick.
    if (t.loaded)
        update_flaggers(w);
    anim_update(w->race.tick);

    const vec3 view_dir = neg(camera_backward(camera.rotation));
    terrain_prepare_textures(hf, camera.eye, view_dir);

    const view_extent extent = set_projection(width, height, camera.fov, light.near_plane, light.far_plane);
    load_camera_rotation(camera.rotation);
    if (programs)
        set_env_matrix(camera.rotation);

    // The terrain is painted back to front and writes the depth the rest
    // is tested against.
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_ALWAYS);
    if (settings.flat_shading) {
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    } else {
        glClear(GL_DEPTH_BUFFER_BIT);
        draw_sky(light);
    }
    const bool fog = set_fog(light);

    translate_to_eye(camera.eye);
    set_light(light);
    terrain_draw(hf, camera.eye, view_dir);

    glDepthFunc(GL_LEQUAL);
    glEnable(GL_ALPHA_TEST);
    glAlphaFunc(GL_GEQUAL, 0.75f);
    float fade[RACE_SLOTS];
    for (int slot = 0; slot < RACE_SLOTS; slot++)
        fade[slot] = bike_fade(w, slot, ghost_fade_distance);
    auto view_flag = [&](int slot) {
        if (slot != camera.rider_view_slot)
            return (int)bike_view_normal;
        return settings.hide_rider ? (int)bike_view_hide_rider : (int)bike_view_first_person;
    };
    for (int slot = 0; slot < RACE_SLOTS; slot++)
        if (fade[slot] == 1.0f)
            draw_bike(w->race.slots[slot].b, view_flag(slot), camera.eye, hf, light.sky_env);

    draw_statues(&t.objects, camera.eye, light.sky_env);
    glDisable(GL_ALPHA_TEST);

    roost_sprites_update(&t);
    const int roost_first = t.particle_pool ? t.particle_sprites : 0;
    const int roost_count = t.particle_pool && t.particle_sprites >= 0 ? (int)ROOST_POOL_SIZE : 0;
    g_scene_statistics.billboards = draw_sprites(&t.objects.sprites, roost_first, roost_count, camera.eye,
                                                 camera.rotation, settings.billboard_lookahead);

    // Ghosts near the live bike, over everything solid.
    for (int slot = 0; slot < RACE_SLOTS; slot++) {
        if (fade[slot] > 0 && fade[slot] < 1) {
            g_scene_settings.draw_alpha = fade[slot];
            draw_bike(w->race.slots[slot].b, view_flag(slot), camera.eye, hf, light.sky_env);
            g_scene_settings.draw_alpha = 1;
        }
    }
    if (programs)
        use_program(program_none);

    if (settings.debug_level >= 2)
        draw_paths(w, camera.eye);
    if (fog)
        glDisable(GL_FOG);

    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glDepthFunc(GL_ALWAYS);
    glDisable(GL_LIGHTING);
    if (settings.lens_flares)
        draw_lens_flares(&light, camera, extent, width, height);

    g_scene_statistics.model_vertices = g_model_statistics.vertices;
    g_scene_statistics.model_triangles = g_model_statistics.triangles;
    g_scene_statistics.shader_changes = program_switches();
}
