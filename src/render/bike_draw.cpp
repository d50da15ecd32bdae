// Drawing one bike: the rigid parts at their bodies, the rider skinned with
// nine bones posed from his limbs, the head turned where he looks, and the
// number plates; then the shiny parts again with the environment map.
#include <ode/ode.h>

#include "bike/bike.h"
#include "bike/limb_pose.h"
#include "render/gl_caps.h"
#include "render/model.h"
#include "render/rider_bones.h"
#include "render/scene.h"
#include "render/shaders.h"

scene_statistics g_scene_statistics;
scene_settings g_scene_settings;

namespace {

// A placement of a model: world = rotation x p + position.
struct placement {
    vec3 position;
    float rotation[9];
};

placement body_placement(dBodyID body)
{
    const dReal* R = dBodyGetRotation(body);
    const dReal* p = dBodyGetPosition(body);
    placement out;
    out.position = {(float)p[0], (float)p[1], (float)p[2]};
    const int rows[3] = {0, 4, 8};
    for (int r = 0; r < 3; r++)
        for (int c = 0; c < 3; c++)
            out.rotation[3 * r + c] = (float)R[rows[r] + c];
    return out;
}

void push_placement(const placement& at)
{
    const float* r = at.rotation;
    const GLfloat m[16] = {r[0], r[3], r[6], 0, r[1], r[4], r[7], 0,
                           r[2], r[5], r[8], 0, at.position.x, at.position.y, at.position.z, 1};
    glPushMatrix();
    glMultMatrixf(m);
}

// Binds a texture on the current unit, counting the change.
void bind_counted(unsigned texture)
{
    glBindTexture(GL_TEXTURE_2D, texture);
    g_scene_statistics.texture_changes++;
}

void set_unit(GLenum unit, unsigned texture)
{
    g_gl.ActiveTextureARB(unit);
    if (texture) {
        glEnable(GL_TEXTURE_2D);
        bind_counted(texture);
    } else {
        glDisable(GL_TEXTURE_2D);
    }
}

enum pass_kind { pass_lit, pass_env };

struct bike_drawer {
    const bike* b;
    int view;
    vec3 eye;
    pass_kind pass;
    bool hidden_parts;  // the rider-view bike while the rider is up

    const model* model_of(int index) const
    {
        return model_from_handle(b->models[index]);
    }

    void textures(const bike_texture_set& set) const
    {
        if (pass == pass_lit)
            bind_texture_set(set.colour, set.normal, set.specular);
        else
            bind_env_set(set.normal);
    }

    void draw(const model* m, const placement* at, const model_bones* bones) const
    {
        if (!m)
            return;
        if (pass == pass_env && !model_needs_env_pass(m))
            return;
        if (at) {
            push_placement(*at);
            if (pass == pass_lit)
                model_draw_lit(m, eye, at->position, at->rotation, bones);
            else
                model_draw_env(m, eye, at->position, at->rotation, bones);
            glPopMatrix();
        } else {
            // Skinned in world space: drawn under the camera alone, the
            // rider body choosing the level of detail.
            const placement rider = body_placement(b->bodies[body_rider]);
            if (pass == pass_lit)
                model_draw_lit(m, eye, rider.position, nullptr, bones);
            else
                model_draw_env(m, eye, rider.position, nullptr, bones);
        }
    }

    void rigid(int model_index, int body, const bike_texture_set& set) const
    {
        const model* m = model_of(model_index);
        if (!m || (pass == pass_env && !model_needs_env_pass(m)))
            return;
        textures(set);
        const placement at = body_placement(b->bodies[body]);
        draw(m, &at, nullptr);
    }

    void run(const heightfield* hf) const
    {
        const bike_texture_set& bike_set = b->textures[texture_bike];
        const bike_texture_set& wheel_set = b->textures[texture_wheels];
        const bool hide_front = hidden_parts && pass == pass_env;

        rigid(model_frame, body_frame, bike_set);
        rigid(model_fork_upper, body_fork_upper, bike_set);
        if (!hide_front)
            rigid(model_fork_lower, body_fork_lower, bike_set);
        if (!hidden_parts)
            rigid(model_swingarm, body_swingarm, bike_set);
        if (!hide_front)
            rigid(model_front_wheel, body_front_wheel, wheel_set);
        if (!hidden_parts)
            rigid(model_rear_wheel, body_rear_wheel, wheel_set);

        rider_bones pose;
        model_bones bones;
        bones.count = rider_bone_count;
        bones.centres = pose.centres;
        bones.translations = pose.translations;
        bones.rotations = pose.rotations;
        const bool rider_shown = view != bike_view_hide_rider;
        if (rider_shown || view == bike_view_normal)
            compute_rider_bones(b, hf, &pose);
        if (rider_shown) {
            const model* body = nullptr;
            if (view == bike_view_first_person)
                body = model_of(model_rider_first_person);
            if (!body)
                body = model_of(model_rider_body);
            if (body && (pass == pass_lit || model_needs_env_pass(body))) {
                textures(b->textures[texture_rider]);
                draw(body, nullptr, &bones);
            }
        }
        if (view == bike_view_normal) {
            const model* head = model_of(model_head);
            if (head && (pass == pass_lit || model_needs_env_pass(head))) {
                textures(b->textures[texture_head]);
                const head_frame h = head_pose(b);
                placement at;
                at.position = h.position;
                for (int r = 0; r < 3; r++)
                    for (int c = 0; c < 3; c++)
                        at.rotation[3 * r + c] = (&h.axes[c].x)[r];
                draw(head, &at, nullptr);
            }
        }

        // The plates wear the race number and no maps.
        bike_texture_set plate;
        plate.colour = b->number_plate_texture;
        rigid(model_front_plate, body_fork_upper, plate);
        rigid(model_side_plates, body_frame, plate);
        if (view == bike_view_normal) {
            const model* m = model_of(model_rider_plate);
            if (m && (pass == pass_lit || model_needs_env_pass(m))) {
                textures(plate);
                draw(m, nullptr, &bones);
            }
        }
    }
};

}  // namespace

bool model_needs_env_pass(const model* m)
{
    return m && g_scene_settings.reflections && m->has_env;
}

void bind_texture_set(unsigned colour, unsigned normal, unsigned specular)
{
    if (g_gl_caps.shaders_on) {
        const bool both = normal && specular;
        set_unit(GL_TEXTURE2_ARB, both ? specular : 0);
        set_unit(GL_TEXTURE1_ARB, normal);
        use_program(both ? program_norm_spec_lit : (normal ? program_norm_lit : program_lit));
        g_gl.ActiveTextureARB(GL_TEXTURE0_ARB);
    }
    bind_counted(colour);
}

void bind_env_set(unsigned normal)
{
    if (!g_gl_caps.shaders_on)
        return;
    set_unit(GL_TEXTURE1_ARB, normal);
    g_gl.ActiveTextureARB(GL_TEXTURE0_ARB);
    use_program(normal ? program_norm_env : program_env);
}

void draw_bike(const bike* b, int view_flag, vec3 eye, const heightfield* hf, unsigned sky_env)
{
    if (!b)
        return;
    bike_drawer d;
    d.b = b;
    d.view = view_flag;
    d.eye = eye;
    d.hidden_parts = view_flag != bike_view_normal && b->crash_timer == 0;

    // Lit pass.
    d.pass = pass_lit;
    glEnable(GL_LIGHTING);
    const float a = g_scene_settings.draw_alpha;
    const GLfloat white[4] = {1, 1, 1, a};
    glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT, white);
    glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, white);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glEnable(GL_TEXTURE_2D);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    d.run(hf);

    // Environment pass: the sky reflected in the shiny parts, added on top.
    d.pass = pass_env;
    glDisable(GL_LIGHTING);
    glBlendFunc(GL_ONE, GL_ONE);
    if (g_gl_caps.shaders_on)
        g_gl.ActiveTextureARB(GL_TEXTURE0_ARB);
    bind_counted(sky_env);
    // The environment programs bind their own unit-1 map; the sky stays on
    // unit 0 for every part.
    d.run(hf);

    if (g_gl_caps.shaders_on) {
        set_unit(GL_TEXTURE2_ARB, 0);
        set_unit(GL_TEXTURE1_ARB, 0);
        g_gl.ActiveTextureARB(GL_TEXTURE0_ARB);
        use_program(program_none);
    }
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glDisable(GL_BLEND);
    glEnable(GL_LIGHTING);
}
