// Sends the chosen fans to GL in their painter's order: through a vertex
// array of triangles, one draw per run of fans sharing a texture tile, or
// in immediate mode with "--novertexarrays". With the terrain shader the
// tile's normal and specular textures ride on units 1 and 2.
#include <vector>

#include "render/gl_caps.h"
#include "render/shaders.h"
#include "render/terrain_internal.h"

namespace terrain_detail {

namespace {

struct fan_drawer {
    terrain_render_state* st = nullptr;
    bool arrays = true;
    bool multi = false;  // normal and specular tiles on units 1 and 2 (texture
                 // coordinate 0 addresses all three)
    const tile* bound = nullptr;
    std::vector<mesh_vertex> batch;

    void flush()
    {
        if (batch.empty())
            return;
        glVertexPointer(3, GL_FLOAT, sizeof(mesh_vertex), &batch[0].x);
        glTexCoordPointer(2, GL_FLOAT, sizeof(mesh_vertex), &batch[0].s);
        glDrawArrays(GL_TRIANGLES, 0, (GLsizei)batch.size());
        batch.clear();
    }

    void bind(const tile* t)
    {
        if (t == bound)
            return;
        flush();
        bound = t;
        if (multi) {
            g_gl.ActiveTextureARB(GL_TEXTURE2_ARB);
            glBindTexture(GL_TEXTURE_2D, t->specular);
            g_gl.ActiveTextureARB(GL_TEXTURE1_ARB);
            glBindTexture(GL_TEXTURE_2D, t->normal);
            g_gl.ActiveTextureARB(GL_TEXTURE0_ARB);
        }
        glBindTexture(GL_TEXTURE_2D, t->colour);
        g_terrain_stats.texture_binds++;
    }

    void fan(const mesh_fan& f)
    {
        bind(tile_of(st, f.texture));
        const mesh_vertex* v = &st->vertices[f.first];
        if (arrays) {
            for (int k = 1; k + 1 < f.count; k++) {
                batch.push_back(v[0]);
                batch.push_back(v[k]);
                batch.push_back(v[k + 1]);
            }
        } else {
            glBegin(GL_TRIANGLE_FAN);
            for (int k = 0; k < f.count; k++) {
                glTexCoord2f(v[k].s, v[k].t);
                glVertex3f(v[k].x, v[k].y, v[k].z);
            }
            glEnd();
        }
        g_terrain_stats.vertices += f.count;
        g_terrain_stats.fans++;
    }
};

void set_unit(int unit, bool on)
{
    g_gl.ActiveTextureARB(GL_TEXTURE0_ARB + unit);
    if (on) {
        glEnable(GL_TEXTURE_2D);
        glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    } else {
        glBindTexture(GL_TEXTURE_2D, 0);
        glDisable(GL_TEXTURE_2D);
    }
}

}  // namespace

void gl_draw_fans(terrain_render_state* st)
{
    const bool multi = st->shader && g_gl.ActiveTextureARB;
    const int program = current_program();
    glPushAttrib(GL_ENABLE_BIT | GL_TEXTURE_BIT | GL_CURRENT_BIT | GL_LIGHTING_BIT | GL_COLOR_BUFFER_BIT);
    glPushClientAttrib(GL_CLIENT_VERTEX_ARRAY_BIT);
    glDisable(GL_BLEND);
    glColor4f(1, 1, 1, 1);
    if (multi) {
        set_unit(2, true);
        set_unit(1, true);
        g_gl.ActiveTextureARB(GL_TEXTURE0_ARB);
        // The program lights with the material's colours.
        const GLfloat white[4] = {1, 1, 1, 1};
        glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT, white);
        glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, white);
        use_program(program_terrain);
    } else {
        // The tiles carry their lighting already.
        glDisable(GL_LIGHTING);
        use_program(program_none);
    }
    glEnable(GL_TEXTURE_2D);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);

    fan_drawer d;
    d.st = st;
    d.arrays = !st->settings.no_vertex_arrays;
    d.multi = multi;
    if (d.arrays) {
        glEnableClientState(GL_VERTEX_ARRAY);
        glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    }
    for (const mesh_fan& f : st->fans)
        d.fan(f);
    d.flush();

    if (multi) {
        set_unit(2, false);
        set_unit(1, false);
        g_gl.ActiveTextureARB(GL_TEXTURE0_ARB);
    }
    glBindTexture(GL_TEXTURE_2D, 0);
    use_program(program);
    glPopClientAttrib();
    glPopAttrib();
}

}  // namespace terrain_detail
