// The object and tile tools' overlays on the editor's map: gate circles
// with their crossing arrows, billboard, statue and decal markers with the
// turning handles, the selection, the decal group and, with "Show
// Collidable", the statues' collision spheres. Drawn in ground coordinates
// (glVertex2f(x, z)) over the map the editor's core has set up.
#include <GL/gl.h>

#include <cmath>

#include "bike/shape.h"
#include "editor/editor_tools_internal.h"

using namespace edtools;

namespace {

const float k_plain[3] = {1.0f, 1.0f, 1.0f};
const float k_selected[3] = {1.0f, 0.85f, 0.1f};
const float k_group[3] = {0.3f, 0.8f, 1.0f};
const float k_fixed[3] = {0.6f, 0.6f, 0.6f};
const float k_solid[3] = {1.0f, 0.3f, 0.3f};

void colour(const float c[3])
{
    glColor4f(c[0], c[1], c[2], 0.9f);
}

void circle(float x, float z, float radius, int segments = 32)
{
    glBegin(GL_LINE_LOOP);
    for (int k = 0; k < segments; k++) {
        const float a = 2.0f * pi * (float)k / (float)segments;
        glVertex2f(x + radius * cosf(a), z + radius * sinf(a));
    }
    glEnd();
}

void square(float x, float z, float half)
{
    glBegin(GL_LINE_LOOP);
    glVertex2f(x - half, z - half);
    glVertex2f(x + half, z - half);
    glVertex2f(x + half, z + half);
    glVertex2f(x - half, z + half);
    glEnd();
}

void line(float x0, float z0, float x1, float z1)
{
    glBegin(GL_LINES);
    glVertex2f(x0, z0);
    glVertex2f(x1, z1);
    glEnd();
}

// An arrow from (x0, z0) to (x1, z1) with a head of the given size.
void arrow(float x0, float z0, float x1, float z1, float head)
{
    line(x0, z0, x1, z1);
    const float dx = x1 - x0, dz = z1 - z0, len = sqrtf(dx * dx + dz * dz);
    if (!(len > 0.0f))
        return;
    const float ux = dx / len, uz = dz / len;
    line(x1, z1, x1 - head * (ux + uz * 0.5f), z1 - head * (uz - ux * 0.5f));
    line(x1, z1, x1 - head * (ux - uz * 0.5f), z1 - head * (uz + ux * 0.5f));
}

void draw_gates(const editor_state* e, float r)
{
    const track_timing& t = e->t->timing_gates;
    for (int i = 0; i < t.checkpoint_count; i++) {
        const timing_gate& g = t.checkpoints[i];
        colour(i == e->selected_gate ? k_selected : k_plain);
        circle(g.position.x, g.position.z, g.radius, 48);
        square(g.position.x, g.position.z, r * 0.5f);
        const float len = sqrtf(g.direction.x * g.direction.x + g.direction.z * g.direction.z);
        if (len > 0.0f) {
            const float tx = g.position.x + g.direction.x / len * g.radius;
            const float tz = g.position.z + g.direction.z / len * g.radius;
            arrow(g.position.x, g.position.z, tx, tz, r);
            // The line a bike crosses.
            const float sx = -g.direction.z / len * g.radius, sz = g.direction.x / len * g.radius;
            line(g.position.x - sx, g.position.z - sz, g.position.x + sx, g.position.z + sz);
        }
    }
}

void draw_billboards(const editor_state* e, float r)
{
    const track_objects& o = e->t->objects;
    for (int i = 0; i < o.billboards.count; i++) {
        const int k = o.billboards.items[i].sprite_index;
        if (k < 0 || k >= o.sprites.count)
            continue;
        const sprite& s = o.sprites.items[k];
        colour(i == e->selected_billboard ? k_selected : (i == e->last_copy ? k_group : k_plain));
        square(s.x, s.z, r * 0.25f);
        // The picture's width across the map.
        const float half = s.size * s.aspect * 0.5f;
        line(s.x - half, s.z, s.x + half, s.z);
    }
}

void draw_statues(const editor_state* e, float r)
{
    const track_objects& o = e->t->objects;
    const bool solid = choice_of(e, widget_show_collidable) == 1;
    for (int i = 0; i < o.statues.count; i++) {
        const statue& s = o.statues.items[i];
        colour(i == e->selected_statue ? k_selected : (i < e->t->fixed_statues ? k_fixed : k_plain));
        square(s.x, s.z, r * 0.25f);
        float hx, hz;
        handle_of(s.x, s.z, s.angle, r, &hx, &hz);
        line(s.x, s.z, hx, hz);
        circle(hx, hz, r * 0.25f, 12);
        if (!solid || !s.shape)
            continue;
        colour(k_solid);
        for (int k = 0; k < s.shape->sphere_count; k++) {
            const shape_sphere& b = s.shape->spheres[k];
            // The statue's rows are its own axes in the world.
            const float x = s.x + b.x * s.rotation[0][0] + b.y * s.rotation[1][0] + b.z * s.rotation[2][0];
            const float z = s.z + b.x * s.rotation[0][2] + b.y * s.rotation[1][2] + b.z * s.rotation[2][2];
            circle(x, z, b.radius, 16);
        }
    }
}

void draw_decals(const editor_state* e, float r)
{
    const heightfield* hf = ground_of(e);
    const decal_set* set = hf->decals;
    if (!set)
        return;
    for (int i = 0; i < set->count; i++) {
        const decal& d = set->items[i];
        bool member = false;
        for (int k : e->decal_group)
            member = member || k == i;
        if (!decal_pickable(e, i) && i != e->current_decal)
            continue;
        colour(i == e->current_decal ? k_selected : (member ? k_group : k_plain));
        // The rectangle: size x aspect along s, size along t.
        const float sx = d.cos_angle * d.size * d.aspect * 0.5f, sz = -d.sin_angle * d.size * d.aspect * 0.5f;
        const float tx = d.sin_angle * d.size * 0.5f, tz = d.cos_angle * d.size * 0.5f;
        glBegin(GL_LINE_LOOP);
        glVertex2f(d.x - sx - tx, d.z - sz - tz);
        glVertex2f(d.x + sx - tx, d.z + sz - tz);
        glVertex2f(d.x + sx + tx, d.z + sz + tz);
        glVertex2f(d.x - sx + tx, d.z - sz + tz);
        glEnd();
        float hx, hz;
        handle_of(d.x, d.z, d.angle, r, &hx, &hz);
        line(d.x, d.z, hx, hz);
        circle(hx, hz, r * 0.25f, 12);
    }
}

}  // namespace

void editor_tools_draw(const editor_state* e, float pick_radius, float overlay_height)
{
    if (!e || !e->t || !ground_of(e))
        return;
    glPushAttrib(GL_ENABLE_BIT | GL_CURRENT_BIT | GL_LINE_BIT);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_LIGHTING);
    glDisable(GL_DEPTH_TEST);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glLineWidth(1.5f);
    // The overlays are drawn in ground coordinates (x, z); the map looks
    // down on the world, so they are laid flat at the overlay height, in
    // front of the ground.
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    const GLfloat flat[16] = {1, 0, 0, 0, 0, 0, 1, 0, 0, 1, 0, 0, 0, overlay_height, 0, 1};
    glMultMatrixf(flat);
    switch (e->mode) {
    case editor_timing_gate:
        draw_gates(e, pick_radius);
        break;
    case editor_billboards:
        draw_billboards(e, pick_radius);
        break;
    case editor_statues:
        draw_statues(e, pick_radius);
        break;
    case editor_decals:
        draw_decals(e, pick_radius);
        break;
    default:
        break;
    }
    glPopMatrix();
    glPopAttrib();
}
