// The statues of a track in two passes: lit with their colour, normal and
// specular maps, then the sky reflected in their shiny parts. Textures and
// maps are bound only when they change from one statue to the next, so a
// row of hay bales costs one bind. Far statues are left out on slow
// settings; camera-facing ones turn toward a far camera.
#include <SDL_opengl.h>

#include <cmath>

#include "render/gl_caps.h"
#include "render/model.h"
#include "render/scene.h"
#include "render/scene_internal.h"
#include "render/shaders.h"
#include "track/objects.h"

namespace {

// What is bound on the three units, so that a statue wearing what the
// last one wore binds nothing.
struct bound_units {
    unsigned colour = ~0u;
    unsigned normal = ~0u;
    unsigned specular = ~0u;
};


const model* statue_model(const statue& s)
{
    return s.model ? model_from_handle(s.model) : nullptr;
}

}  // namespace

bool statue_within_detail(const statue* s, vec3 eye, int model_detail)
{
    if (model_detail > 10)
        return true;
    const float dx = eye.x - s->x, dy = eye.y - s->y, dz = eye.z - s->z;
    const float reach = 20.0f * (float)(model_detail * model_detail);
    return !(dx * dx + dy * dy + dz * dz > reach * reach);
}

bool draw_statue(statue* s, vec3 eye, int pass)
{
    const model* m = statue_model(*s);
    if (!m || !statue_within_detail(s, eye, g_scene_settings.model_detail))
        return false;
    statue_face_camera(s, eye, g_model_settings.lod_scale, g_model_settings.lod_bias);

    // The statue's rows are its axes in world space: they are the columns
    // of its placement, in GL's column-major order as they stand.
    const float (*r)[3] = s->rotation;
    const GLfloat matrix[16] = {r[0][0], r[0][1], r[0][2], 0, r[1][0], r[1][1], r[1][2], 0,
                                r[2][0], r[2][1], r[2][2], 0, s->x,    s->y,    s->z,    1};
    const float placement[9] = {r[0][0], r[1][0], r[2][0], r[0][1], r[1][1], r[2][1], r[0][2], r[1][2], r[2][2]};
    const vec3 position = {s->x, s->y, s->z};
    glPushMatrix();
    glMultMatrixf(matrix);
    glColor4f(1, 1, 1, 1);
    if (pass == statue_pass_lit)
        model_draw_lit(m, eye, position, placement, nullptr);
    else
        model_draw_env(m, eye, position, placement, nullptr);
    glPopMatrix();
    return true;
}

void draw_statues(track_objects* objects, vec3 eye, unsigned sky_env)
{
    statue_list& list = objects->statues;
    if (list.count <= 0)
        return;
    const bool programs = g_gl_caps.shaders_on;

    // Lit pass.
    if (programs)
        use_program(program_lit);
    glEnable(GL_LIGHTING);
    glEnable(GL_LIGHT0);
    scene_begin_lit_pass();
    bound_units bound;
    bool any_env = false;
    for (int i = 0; i < list.count; i++) {
        statue& s = list.items[i];
        const model* m = statue_model(s);
        if (!m || !s.texture)
            continue;
        any_env = any_env || model_needs_env_pass(m);
        if (!statue_within_detail(&s, eye, g_scene_settings.model_detail))
            continue;
        if (programs) {
            // The specular program reads both maps; a specular map alone
            // would be lit with a missing normal, so it needs both.
            const bool both = s.normal_texture && s.spec_texture;
            const unsigned normal = s.normal_texture;
            const unsigned specular = both ? s.spec_texture : 0;
            if (specular != bound.specular) {
                scene_set_unit(GL_TEXTURE2_ARB, specular);
                bound.specular = specular;
            }
            if (normal != bound.normal) {
                scene_set_unit(GL_TEXTURE1_ARB, normal);
                bound.normal = normal;
            }
            g_gl.ActiveTextureARB(GL_TEXTURE0_ARB);
            use_program(both ? program_norm_spec_lit : (normal ? program_norm_lit : program_lit));
        }
        if (s.texture != bound.colour) {
            scene_bind_texture(s.texture);
            bound.colour = s.texture;
        }
        draw_statue(&s, eye, statue_pass_lit);
    }

    // Environment pass: the sky added onto the shiny parts.
    if (any_env) {
        if (programs) {
            use_program(program_env);
            scene_set_unit(GL_TEXTURE2_ARB, 0);
            bound.specular = 0;
            g_gl.ActiveTextureARB(GL_TEXTURE0_ARB);
        }
        glDisable(GL_LIGHTING);
        glBlendFunc(GL_ONE, GL_ONE);
        scene_bind_texture(sky_env);
        for (int i = 0; i < list.count; i++) {
            statue& s = list.items[i];
            const model* m = statue_model(s);
            if (!m || !s.texture || !model_needs_env_pass(m))
                continue;
            if (!statue_within_detail(&s, eye, g_scene_settings.model_detail))
                continue;
            if (programs) {
                if (s.normal_texture != bound.normal) {
                    scene_set_unit(GL_TEXTURE1_ARB, s.normal_texture);
                    bound.normal = s.normal_texture;
                    g_gl.ActiveTextureARB(GL_TEXTURE0_ARB);
                }
                use_program(s.normal_texture ? program_norm_env : program_env);
            }
            draw_statue(&s, eye, statue_pass_env);
        }
        glEnable(GL_LIGHTING);
    }

    // Leave the map units off for what follows.
    if (programs) {
        if (bound.specular != 0 && bound.specular != ~0u)
            scene_set_unit(GL_TEXTURE2_ARB, 0);
        if (bound.normal != 0 && bound.normal != ~0u)
            scene_set_unit(GL_TEXTURE1_ARB, 0);
        g_gl.ActiveTextureARB(GL_TEXTURE0_ARB);
        use_program(program_none);
    }
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glDisable(GL_BLEND);
}
