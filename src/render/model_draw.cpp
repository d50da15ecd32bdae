// Drawing models: display lists for what does not change from frame to
// frame, vertex arrays with 32-bit indices (or immediate-mode triangles)
// for the rest, processor skinning when there are no shaders, and the
// per-vertex environment-map coordinates of the fixed-function pipeline.
#include <SDL.h>

#include <algorithm>
#include <cmath>

#include "files/memory.h"
#include "core/messages.h"
#include "render/gl_caps.h"
#include "render/model.h"
#include "render/model_internal.h"
#include "render/shaders.h"

using namespace vecmath;

namespace {

// What one draw of a part reads: the part's own arrays, or the skinned
// result, or the environment-map coordinates of this frame.
struct part_arrays {
    const vec3* positions;
    const vec3* normals;
    const vec3* tangents;
    const float* texcoords;
};

// Scratch for the environment-map coordinates, kept between frames.
float* g_env_texcoords = nullptr;
size_t g_env_capacity = 0;

float* env_scratch(int vertex_count)
{
    const size_t need = (size_t)vertex_count * 2;
    if (need > g_env_capacity) {
        float* grown = static_cast<float*>(mem_realloc(g_env_texcoords, need * sizeof(float)));
        if (!grown)
            fatal_out_of_memory();
        g_env_texcoords = grown;
        g_env_capacity = need;
    }
    return g_env_texcoords;
}

bool part_takes_list(const model_part* p)
{
    return g_gl_caps.shaders_on || (p->bone_count == 0 && p->shininess >= 0);
}

// The rest pose (for a rigid part, its only pose).
part_arrays rest_arrays(const model_part* p)
{
    if (p->rest_positions)
        return {p->rest_positions, p->rest_normals, p->rest_tangents, p->texcoords};
    return {p->positions, p->normals, p->tangents, p->texcoords};
}

void client_texture_unit(int unit)
{
    if (g_gl.ClientActiveTextureARB)
        g_gl.ClientActiveTextureARB(GL_TEXTURE0_ARB + unit);
}

void submit_arrays(const model_part* p, const part_arrays& a, bool with_attributes)
{
    glEnableClientState(GL_VERTEX_ARRAY);
    glVertexPointer(3, GL_FLOAT, 0, a.positions);
    glEnableClientState(GL_NORMAL_ARRAY);
    glNormalPointer(GL_FLOAT, 0, a.normals);
    client_texture_unit(0);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    glTexCoordPointer(2, GL_FLOAT, 0, a.texcoords);
    if (with_attributes) {
        client_texture_unit(1);
        glEnableClientState(GL_TEXTURE_COORD_ARRAY);
        glTexCoordPointer(3, GL_FLOAT, 0, a.tangents);
        if (p->weights) {
            client_texture_unit(2);
            glEnableClientState(GL_TEXTURE_COORD_ARRAY);
            glTexCoordPointer(4, GL_FLOAT, 0, p->weights);
            client_texture_unit(3);
            glEnableClientState(GL_TEXTURE_COORD_ARRAY);
            glTexCoordPointer(4, GL_INT, 0, p->bones);
        }
    }
    glDrawElements(GL_TRIANGLES, p->triangle_count * 3, GL_UNSIGNED_INT, p->triangles);
    if (with_attributes) {
        for (int unit = 3; unit >= 1; unit--) {
            client_texture_unit(unit);
            glDisableClientState(GL_TEXTURE_COORD_ARRAY);
        }
        client_texture_unit(0);
    }
    glDisableClientState(GL_TEXTURE_COORD_ARRAY);
    glDisableClientState(GL_NORMAL_ARRAY);
    glDisableClientState(GL_VERTEX_ARRAY);
}

void submit_immediate(const model_part* p, const part_arrays& a, bool with_attributes)
{
    glBegin(GL_TRIANGLES);
    for (int k = 0; k < p->triangle_count * 3; k++) {
        const unsigned i = p->triangles[k];
        if (with_attributes) {
            g_gl.MultiTexCoord3fvARB(GL_TEXTURE1_ARB, &a.tangents[i].x);
            if (p->weights) {
                g_gl.MultiTexCoord4fvARB(GL_TEXTURE2_ARB, p->weights + 4 * i);
                g_gl.MultiTexCoord4ivARB(GL_TEXTURE3_ARB, p->bones + 4 * i);
            }
        }
        glTexCoord2fv(a.texcoords + 2 * i);
        glNormal3fv(&a.normals[i].x);
        glVertex3fv(&a.positions[i].x);
    }
    glEnd();
}

void submit(const model_part* p, const part_arrays& a)
{
    // The programs read the tangent, weights and bone indices from texture
    // coordinate sets 1 to 3; the fixed-function pipeline has no use for them.
    const bool with_attributes = g_gl_caps.shaders_on && g_gl.ClientActiveTextureARB && g_gl.MultiTexCoord3fvARB &&
                                 g_gl.MultiTexCoord4fvARB && g_gl.MultiTexCoord4ivARB;
    if (g_model_settings.no_vertex_arrays)
        submit_immediate(p, a, with_attributes);
    else
        submit_arrays(p, a, with_attributes);
}

void compile_list(model_part* p)
{
    const unsigned list = glGenLists(1);
    if (!list)
        return;
    glNewList(list, GL_COMPILE);
    submit(p, rest_arrays(p));
    glEndList();
    p->display_list = list;
}

void draw_part(const model_part* p, const part_arrays& a)
{
    g_model_statistics.vertices += p->vertex_count;
    g_model_statistics.triangles += p->triangle_count;
    // A list holds the rest pose: a part skinned by the processor (or given
    // per-frame coordinates) is sent from its arrays even when a list was
    // compiled for it while the programs were on.
    const bool listed = part_takes_list(p);
    if (listed && !p->display_list)
        compile_list(const_cast<model_part*>(p));
    if (listed && p->display_list)
        glCallList(p->display_list);
    else
        submit(p, a);
}

// R x v for a rotation given column by column (for one given row by row,
// the transpose times v).
vec3 rotate_columns(const float* r, vec3 v)
{
    return v3(r[0] * v.x + r[3] * v.y + r[6] * v.z, r[1] * v.x + r[4] * v.y + r[7] * v.z,
              r[2] * v.x + r[5] * v.y + r[8] * v.z);
}

// R x v for a rotation given row by row.
vec3 rotate_rows(const float* r, vec3 v)
{
    return v3(r[0] * v.x + r[1] * v.y + r[2] * v.z, r[3] * v.x + r[4] * v.y + r[5] * v.z,
              r[6] * v.x + r[7] * v.y + r[8] * v.z);
}

vec3 normalised(vec3 v)
{
    const float l = length(v);
    return l > 0 ? scale(v, 1.0f / l) : v;
}

// Processor skinning into the part's first arrays, only when the caller's
// bones are the part's own. False leaves the part in its rest pose.
bool skin(const model_part* p, const model_bones* bones)
{
    if (g_gl_caps.shaders_on || !bones || p->bone_count == 0 || bones->count != p->bone_count ||
        !p->rest_positions || !bones->centres || !bones->translations || !bones->rotations)
        return false;
    for (int i = 0; i < p->vertex_count; i++) {
        vec3 position = v3(0, 0, 0), normal = v3(0, 0, 0), tangent = v3(0, 0, 0);
        for (int k = 0; k < 4; k++) {
            const float w = p->weights[4 * i + k];
            if (!(w > 0))
                continue;
            const int b = p->bones[4 * i + k];
            const float* r = bones->rotations + 9 * b;
            const float* c = bones->centres + 3 * b;
            const float* t = bones->translations + 3 * b;
            const vec3 moved = add(rotate_columns(r, sub(p->rest_positions[i], v3(c[0], c[1], c[2]))),
                                   v3(t[0], t[1], t[2]));
            position = add_scaled(position, moved, w);
            normal = add_scaled(normal, rotate_columns(r, p->rest_normals[i]), w);
            tangent = add_scaled(tangent, rotate_columns(r, p->rest_tangents[i]), w);
        }
        p->positions[i] = position;
        p->normals[i] = normalised(normal);
        p->tangents[i] = normalised(tangent);
    }
    return true;
}

part_arrays pose(const model_part* p, const model_bones* bones)
{
    if (skin(p, bones))
        return {p->positions, p->normals, p->tangents, p->texcoords};
    return rest_arrays(p);
}

void load_bones(const model_bones* bones)
{
    if (!g_gl_caps.shaders_on)
        return;
    if (bones && bones->count > 0 && bones->count <= SHADER_MAX_BONES)
        set_bones(bones->count, bones->centres, bones->translations, bones->rotations);
    else
        set_bones(0, nullptr, nullptr, nullptr);
}

// Angular-map coordinates of the reflected view: the map's centre is
// straight up, its rim straight down (the same map as the "env" program).
void env_coordinates(const model_part* p, const part_arrays& a, vec3 eye, vec3 position, const float* rotation,
                     float* out)
{
    static const float identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    const float* r = rotation ? rotation : identity;
    for (int i = 0; i < p->vertex_count; i++) {
        const vec3 view = sub(add(rotate_rows(r, a.positions[i]), position), eye);
        const vec3 n = normalised(rotate_rows(r, a.normals[i]));
        const vec3 reflected = sub(view, scale(n, 2 * dot(n, view)));
        const vec3 v = normalised(rotate_columns(r, reflected));
        const float xz = std::sqrt(v.x * v.x + v.z * v.z);
        const float angle = std::acos(std::min(1.0f, std::max(-1.0f, v.y))) * 0.15915494309189535f;
        // Straight down has no direction on the map; any point of the rim is it.
        const float dx = xz > 0 ? v.x / xz : 1.0f, dz = xz > 0 ? v.z / xz : 0.0f;
        out[2 * i] = dx * angle + 0.5f;
        out[2 * i + 1] = dz * angle + 0.5f;
    }
}

void draw_self_lit(const model_part* p, const part_arrays& a)
{
    GLfloat model_ambient[4], light_ambient[4], diffuse[4];
    glGetFloatv(GL_LIGHT_MODEL_AMBIENT, model_ambient);
    glGetLightfv(GL_LIGHT0, GL_AMBIENT, light_ambient);
    glGetMaterialfv(GL_FRONT, GL_DIFFUSE, diffuse);

    const GLfloat black[4] = {0, 0, 0, 1};
    const GLfloat glow[4] = {p->specular[0], p->specular[1], p->specular[2], 1};
    // The diffuse alpha is the lit colour's alpha: keep the caller's (a
    // fading bike's) so the part fades with the rest.
    const GLfloat no_diffuse[4] = {0, 0, 0, diffuse[3]};
    glLightModelfv(GL_LIGHT_MODEL_AMBIENT, black);
    glLightfv(GL_LIGHT0, GL_AMBIENT, glow);
    glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, no_diffuse);
    glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, black);
    glMaterialf(GL_FRONT_AND_BACK, GL_SHININESS, 1.0f);
    draw_part(p, a);
    glLightModelfv(GL_LIGHT_MODEL_AMBIENT, model_ambient);
    glLightfv(GL_LIGHT0, GL_AMBIENT, light_ambient);
    glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, diffuse);
}

}  // namespace

const model* model_lod(const model* m, float distance)
{
    const model* chosen = m;
    for (const model* level = m; level; level = level->next_lod) {
        if (!(level->lod_distance - g_model_settings.lod_bias <= distance * g_model_settings.lod_scale))
            break;
        chosen = level;
    }
    return chosen;
}

void model_draw_lit(const model* m, vec3 eye, vec3 position, const float* rotation, const model_bones* bones)
{
    (void)rotation;
    if (!m)
        return;
    const model* level = model_lod(m, length(sub(eye, position)));
    load_bones(bones);
    for (const model_part* p = level->parts; p; p = p->next) {
        // Environment-mapped parts come last and belong to the other pass.
        if (p->shininess == -1.0f)
            break;
        const part_arrays a = pose(p, bones);
        if (p->shininess == -2.0f) {
            draw_self_lit(p, a);
            continue;
        }
        const GLfloat specular[4] = {p->specular[0], p->specular[1], p->specular[2], p->reflectivity};
        glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, specular);
        // GL refuses exponents above 128 and would keep the last part's.
        glMaterialf(GL_FRONT_AND_BACK, GL_SHININESS, std::min(128.0f, std::max(p->shininess, 0.125f)));
        draw_part(p, a);
    }
}

void model_draw_env(const model* m, vec3 eye, vec3 position, const float* rotation, const model_bones* bones)
{
    if (!m)
        return;
    const model* level = model_lod(m, length(sub(eye, position)));
    if (!level->has_env)
        return;
    load_bones(bones);
    for (const model_part* p = level->parts; p; p = p->next) {
        if (p->shininess != -1.0f)
            continue;
        glColor4f(p->reflectivity * p->specular[0], p->reflectivity * p->specular[1],
                  p->reflectivity * p->specular[2], 1.0f);
        part_arrays a = pose(p, bones);
        if (!g_gl_caps.shaders_on) {
            float* coordinates = env_scratch(p->vertex_count);
            env_coordinates(p, a, eye, position, rotation, coordinates);
            a.texcoords = coordinates;
        }
        draw_part(p, a);
    }
}

void model_build_lists(model* m)
{
    if (!SDL_GL_GetCurrentContext())
        return;
    for (; m; m = m->next_lod)
        for (model_part* p = m->parts; p; p = p->next)
            if (!p->display_list && part_takes_list(p))
                compile_list(p);
}

void model_delete_lists(model* m)
{
    for (; m; m = m->next_lod)
        for (model_part* p = m->parts; p; p = p->next)
            if (p->display_list) {
                glDeleteLists(p->display_list, 1);
                p->display_list = 0;
            }
}
