// Drawing one bike: the rigid parts at their bodies, the rider skinned with
// nine bones posed from his limbs, the head turned where he looks, and the
// number plates; then the shiny parts again with the environment map.
// The physics bodies are only read: the rider's drawn lean is worked out on
// a copy of his body's placement.
#include <ode/ode.h>

#include <algorithm>
#include <cmath>

#include "bike/bike.h"
#include "bike/limb_pose.h"
#include "render/gl_caps.h"
#include "render/model.h"
#include "render/rider_bones.h"
#include "render/scene.h"
#include "render/scene_internal.h"
#include "render/shaders.h"

scene_statistics g_scene_statistics;
scene_settings g_scene_settings;

using namespace vecmath;

namespace {

// Shoulders nearer the bars than this make the drawn rider lean back.
constexpr float lean_reach = 1.25f;

// A placement of a model: world = rotation x p + position.
struct placement {
    vec3 position;
    float rotation[9];
};

placement engine_placement(const dReal* R, const dReal* p)
{
    placement out;
    out.position = {(float)p[0], (float)p[1], (float)p[2]};
    const int rows[3] = {0, 4, 8};
    for (int r = 0; r < 3; r++)
        for (int c = 0; c < 3; c++)
            out.rotation[3 * r + c] = (float)R[rows[r] + c];
    return out;
}

placement body_placement(dBodyID body)
{
    return engine_placement(dBodyGetRotation(body), dBodyGetPosition(body));
}

// Point q of a placement given in the engine's layout, in world space.
vec3 engine_point(const dReal* R, const dReal* p, vec3 q)
{
    return v3((float)(R[0] * q.x + R[1] * q.y + R[2] * q.z + p[0]),
              (float)(R[4] * q.x + R[5] * q.y + R[6] * q.z + p[1]),
              (float)(R[8] * q.x + R[9] * q.y + R[10] * q.z + p[2]));
}

void push_placement(const placement& at)
{
    const float* r = at.rotation;
    const GLfloat m[16] = {r[0], r[3], r[6], 0, r[1], r[4], r[7], 0,
                           r[2], r[5], r[8], 0, at.position.x, at.position.y, at.position.z, 1};
    glPushMatrix();
    glMultMatrixf(m);
}


enum pass_kind { pass_lit, pass_env };

struct bike_drawer {
    const bike* b;
    int view;
    vec3 eye;
    pass_kind pass;
    bool hidden_parts;  // the rider-view bike while the rider is up
    rider_placement rider;  // the rider body as drawn (leaning back near the bars)

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
            const placement at_rider = engine_placement(rider.rotation, rider.position);
            if (pass == pass_lit)
                model_draw_lit(m, eye, at_rider.position, nullptr, bones);
            else
                model_draw_env(m, eye, at_rider.position, nullptr, bones);
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
            compute_rider_bones(b, hf, &pose, &rider);
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
                const head_frame h = head_pose(b, &rider);
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

// One horizontal square of half-width h at (x, y, z), both faces.
void flat_square(float x, float y, float z, float h)
{
    glBegin(GL_QUADS);
    glVertex3f(x - h, y, z - h);
    glVertex3f(x - h, y, z + h);
    glVertex3f(x + h, y, z + h);
    glVertex3f(x + h, y, z - h);
    glVertex3f(x + h, y, z - h);
    glVertex3f(x + h, y, z + h);
    glVertex3f(x - h, y, z + h);
    glVertex3f(x - h, y, z - h);
    glEnd();
}

// The robot's path points: a black square at each with a coloured one just
// above and below it (green on the ground, red where the line flies),
// further out at the point steered at.
void mark_path(const bike* b)
{
    const line_point_list& path = b->path;
    if (path.count <= 0 || !path.items)
        return;
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_BLEND);
    glDisable(GL_LIGHTING);
    glDisable(GL_CULL_FACE);
    for (int i = 0; i < path.count; i++) {
        const line_point& q = path.items[i];
        const float lift = i == b->target ? 0.25f : 0.125f;
        glColor3f(0, 0, 0);
        flat_square(q.x, q.y, q.z, 1.5f);
        if (q.speed < 0)
            glColor3f(1, 0, 0);
        else
            glColor3f(0, 1, 0);
        flat_square(q.x, q.y + lift, q.z, 1.0f);
        flat_square(q.x, q.y - lift, q.z, 1.0f);
    }
    glColor3f(1, 1, 1);
    glEnable(GL_CULL_FACE);
    glEnable(GL_TEXTURE_2D);
}

}  // namespace

void scene_begin_lit_pass()
{
    const GLfloat white[4] = {1, 1, 1, g_scene_settings.draw_alpha};
    glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT, white);
    glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, white);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glEnable(GL_TEXTURE_2D);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
}

void scene_bind_texture(unsigned texture)
{
    glBindTexture(GL_TEXTURE_2D, texture);
    g_scene_statistics.texture_changes++;
}

void scene_set_unit(GLenum unit, unsigned texture)
{
    g_gl.ActiveTextureARB(unit);
    if (texture) {
        glEnable(GL_TEXTURE_2D);
        scene_bind_texture(texture);
    } else {
        glDisable(GL_TEXTURE_2D);
    }
}

bool rider_drawn_placement(const bike* b, double rotation[12], double position[3])
{
    const dReal* R = dBodyGetRotation(b->bodies[body_rider]);
    const dReal* p = dBodyGetPosition(b->bodies[body_rider]);
    for (int k = 0; k < 12; k++)
        rotation[k] = R[k];
    for (int k = 0; k < 3; k++)
        position[k] = p[k];

    // Shoulders pressed onto the bars look wrong: the drawn torso is turned
    // back about its hip, the physics keeping its own placement.
    const bike_params& params = b->params;
    const vec3 shoulder = engine_point(R, p, v3(0, params.shoulder[0].y, params.shoulder[0].z));
    const dBodyID fork = b->bodies[body_fork_upper];
    const vec3 grip =
        engine_point(dBodyGetRotation(fork), dBodyGetPosition(fork), v3(0, params.grip[0].y, params.grip[0].z));
    const float d = length(sub(shoulder, grip));
    if (!(d < lean_reach))
        return false;
    const float k = std::min(lean_reach - d, 1.0f);
    const vec3 x = v3((float)R[0], (float)R[4], (float)R[8]);
    const vec3 y = v3((float)R[1], (float)R[5], (float)R[9]);
    const vec3 z = v3((float)R[2], (float)R[6], (float)R[10]);
    const vec3 tipped = add_scaled(y, z, 0.375f * k);
    const float len = length(tipped);
    if (!(len > 0) || !std::isfinite(len))
        return false;
    const vec3 y1 = scale(tipped, 1.0f / len);
    const vec3 z1 = cross(x, y1);
    const vec3 y2 = cross(z1, x);
    const vec3 columns[3] = {x, y2, z1};
    for (int c = 0; c < 3; c++) {
        rotation[0 + c] = columns[c].x;
        rotation[4 + c] = columns[c].y;
        rotation[8 + c] = columns[c].z;
    }
    // The hip stays where the physics has it.
    const vec3 hip = params.hip[0];
    const vec3 hip_world = engine_point(R, p, hip);
    const vec3 turned = add(add(scale(x, hip.x), scale(y2, hip.y)), scale(z1, hip.z));
    position[0] = hip_world.x - turned.x;
    position[1] = hip_world.y - turned.y;
    position[2] = hip_world.z - turned.z;
    return true;
}

bool model_needs_env_pass(const model* m)
{
    return m && g_scene_settings.reflections && m->has_env;
}

void bind_texture_set(unsigned colour, unsigned normal, unsigned specular)
{
    if (g_gl_caps.shaders_on) {
        const bool both = normal && specular;
        scene_set_unit(GL_TEXTURE2_ARB, both ? specular : 0);
        scene_set_unit(GL_TEXTURE1_ARB, normal);
        use_program(both ? program_norm_spec_lit : (normal ? program_norm_lit : program_lit));
        g_gl.ActiveTextureARB(GL_TEXTURE0_ARB);
    }
    scene_bind_texture(colour);
}

void bind_env_set(unsigned normal)
{
    if (!g_gl_caps.shaders_on)
        return;
    scene_set_unit(GL_TEXTURE1_ARB, normal);
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
    rider_drawn_placement(b, d.rider.rotation, d.rider.position);

    // Lit pass.
    d.pass = pass_lit;
    glEnable(GL_LIGHTING);
    scene_begin_lit_pass();
    d.run(hf);

    // Environment pass: the sky reflected in the shiny parts, added on top.
    d.pass = pass_env;
    glDisable(GL_LIGHTING);
    glBlendFunc(GL_ONE, GL_ONE);
    if (g_gl_caps.shaders_on)
        g_gl.ActiveTextureARB(GL_TEXTURE0_ARB);
    scene_bind_texture(sky_env);
    // The environment programs bind their own unit-1 map; the sky stays on
    // unit 0 for every part.
    d.run(hf);

    if (g_gl_caps.shaders_on) {
        scene_set_unit(GL_TEXTURE2_ARB, 0);
        scene_set_unit(GL_TEXTURE1_ARB, 0);
        g_gl.ActiveTextureARB(GL_TEXTURE0_ARB);
        use_program(program_none);
    }
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glDisable(GL_BLEND);
    glEnable(GL_LIGHTING);

    if (g_scene_settings.debug_level >= 2)
        mark_path(b);
}
