// The editor's picture: the map (the terrain drawn from straight above
// with one light, under an orthographic projection that matches
// editor_ground_point), the overlays of the tools, and the panel.
#include <GL/gl.h>

#include <cmath>
#include <cstdio>
#include <cstring>

#include "editor/editor.h"
#include "render/gl_caps.h"
#include "render/shaders.h"
#include "render/terrain_render.h"
#include "track/heightfield.h"
#include "track/track.h"
#include "ui/hud_draw_util.h"

namespace {

struct colour {
    float r, g, b, a;
};
const colour k_button = {0.08f, 0.12f, 0.3f, 0.75f};
const colour k_border = {0.45f, 0.55f, 0.85f, 1};
const colour k_active = {0.75f, 0.45f, 0.05f, 0.9f};
const colour k_hover = {0.2f, 0.3f, 0.6f, 0.9f};
const colour k_bar = {0.35f, 0.75f, 0.35f, 1};

// Overlays lie this far below the eye: in front of everything.
const float overlay_depth = 2;

// ---- the map --------------------------------------------------------------------------

void circle(float x, float y, float z, float radius)
{
    glBegin(GL_LINE_LOOP);
    for (int k = 0; k < 48; k++) {
        const float a = (float)k * 6.2831853f / 48;
        glVertex3f(x + radius * cosf(a), y, z + radius * sinf(a));
    }
    glEnd();
}

void square(float x, float y, float z, float half)
{
    glBegin(GL_LINE_LOOP);
    glVertex3f(x - half, y, z - half);
    glVertex3f(x + half, y, z - half);
    glVertex3f(x + half, y, z + half);
    glVertex3f(x - half, y, z + half);
    glEnd();
}

void draw_gradients(const editor_state* e, float y, float r)
{
    for (size_t i = 0; i < e->gradients.size(); i++) {
        const gradient& g = e->gradients[i];
        const bool current = (int)i == e->current_gradient;
        glColor4f(current ? 1.0f : 0.6f, current ? 0.9f : 0.6f, current ? 0.2f : 0.6f, 1);
        glBegin(GL_LINES);
        glVertex3f(g.x0, y, g.z0);
        glVertex3f(g.x1, y, g.z1);
        glEnd();
        glColor4f(0.2f, 1, 0.2f, 1);
        square(g.x0, y, g.z0, r / 2);
        glColor4f(1, 0.2f, 0.2f, 1);
        square(g.x1, y, g.z1, r / 2);
    }
    if (e->mode != editor_gradient_edit || e->current_gradient < 0 ||
        e->current_gradient >= (int)e->gradients.size())
        return;
    // The profile over the map: (d, h) at (x0 + d, z0 - h).
    const gradient& g = e->gradients[(size_t)e->current_gradient];
    if (g.points.empty())
        return;
    const float d0 = g.points.front().distance, d1 = g.points.back().distance;
    glColor4f(0.3f, 0.9f, 1, 1);
    glBegin(GL_LINES);
    glVertex3f(g.x0 + d0, y, g.z0);
    glVertex3f(g.x0 + d1, y, g.z0);
    glEnd();
    glColor4f(1, 1, 1, 1);
    glBegin(GL_LINE_STRIP);
    const int steps = 256;
    for (int k = 0; k <= steps; k++) {
        const float d = d0 + (d1 - d0) * (float)k / steps;
        glVertex3f(g.x0 + d, y, g.z0 - gradient_profile(g, d));
    }
    glEnd();
    for (size_t i = 0; i < g.points.size(); i++) {
        if ((int)i == e->selected_point)
            glColor4f(1, 0.3f, 0.3f, 1);
        else
            glColor4f(1, 1, 0.3f, 1);
        square(g.x0 + g.points[i].distance, y, g.z0 - g.points[i].height, r / 2);
    }
}

void draw_overlays(const editor_state* e, const editor_pointer& p, float y)
{
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_LIGHTING);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_CULL_FACE);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glLineWidth(1.5f);
    const float r = editor_pick_radius(e);
    float x, z;
    editor_ground_point(e, p.x, p.y, p.width, p.height, &x, &z);
    const int mode = e->mode;
    if (mode <= editor_gradient_radial_add && mode != editor_snap) {
        glColor4f(1, 1, 1, 0.9f);
        circle(x, y, z, editor_brush_radius(e, p.height));
        glColor4f(1, 1, 1, 0.5f);
        circle(x, y, z, editor_brush_inner_radius(e, p.height));
    } else if (mode == editor_snap) {
        float m = e->spacing;
        while (m < editor_brush_amount(e) && m < e->extent)
            m *= 2;
        const float x0 = floorf(x / m) * m, z0 = floorf(z / m) * m;
        glColor4f(1, 1, 1, 0.9f);
        square(x0 + m / 2, y, z0 + m / 2, m / 2);
    } else if (mode == editor_tilemap) {
        glColor4f(1, 1, 1, 0.9f);
        circle(x, y, z, editor_brush_radius(e, p.height));
    }
    if (!(e->anchor_x == -1 && e->anchor_z == -1)) {
        glColor4f(1, 0.5f, 0, 1);
        square(e->anchor_x, y, e->anchor_z, r);
        glBegin(GL_LINES);
        glVertex3f(e->anchor_x, y, e->anchor_z);
        glVertex3f(x, y, z);
        glEnd();
    }
    draw_gradients(e, y, r);
    editor_tools_draw(e, r, y);
    glLineWidth(1);
    glColor4f(1, 1, 1, 1);
}

void draw_map(editor_state* e, const editor_pointer& p)
{
    heightfield* hf = e->hf;
    const float W = (float)p.width, H = (float)p.height;
    const float V = editor_view_width(e);
    const vec3 eye = {e->view_centre_x, hf->height_max + fmaxf(V, 100.0f), e->view_centre_z};
    const vec3 down = {0, -1, 0};
    terrain_prepare_textures(hf, eye, down);

    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    const float far_plane = eye.y - hf->height_min + 100;
    glOrtho(-V / 2 * W / H, V / 2 * W / H, -V / 2, V / 2, 0.5, far_plane);
    glMatrixMode(GL_MODELVIEW);
    // Looking straight down with the screen's up toward -z: world x to the
    // right, y toward the viewer, z down the screen.
    const GLfloat look_down[16] = {1, 0, 0, 0, 0, 0, 1, 0, 0, -1, 0, 0, 0, 0, 0, 1};
    glLoadMatrixf(look_down);
    glTranslatef(-eye.x, -eye.y, -eye.z);

    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_ALWAYS);
    const lighting& light = e->t->lighting;
    const GLfloat position[4] = {light.sun_vector.x, light.sun_vector.y, light.sun_vector.z, 0};
    const GLfloat sun[4] = {light.sun_color[0], light.sun_color[1], light.sun_color[2], 1};
    const GLfloat ambient[4] = {light.ambient[0], light.ambient[1], light.ambient[2], 1};
    glLightfv(GL_LIGHT0, GL_POSITION, position);
    glLightfv(GL_LIGHT0, GL_DIFFUSE, sun);
    glLightfv(GL_LIGHT0, GL_AMBIENT, ambient);
    glEnable(GL_LIGHT0);
    terrain_draw(hf, eye, down);
    if (g_gl_caps.shaders_on)
        use_program(program_none);
    glDepthFunc(GL_LEQUAL);

    draw_overlays(e, p, eye.y - overlay_depth);
    glEnable(GL_CULL_FACE);
    glEnable(GL_TEXTURE_2D);
}

// ---- the panel ------------------------------------------------------------------------

// Text with its cell's top at y (pixels from the window's top).
void text_line(float x, float top, float size, int height, const char* text, float r = 1, float g = 1, float b = 1)
{
    hud_text(x, (float)height - top - size, size, r, g, b, 1, text, true);
}

void rect(const editor_rect& r, int height, const colour& c)
{
    hud_rect(r.left, (float)height - r.bottom, r.right, (float)height - r.top, c.r, c.g, c.b, c.a);
}

void frame(const editor_rect& r, int height, const colour& c)
{
    rect({r.left, r.top, r.right, r.top + 1}, height, c);
    rect({r.left, r.bottom - 1, r.right, r.bottom}, height, c);
    rect({r.left, r.top, r.left + 1, r.bottom}, height, c);
    rect({r.right - 1, r.top, r.right, r.bottom}, height, c);
}

void draw_widget(const editor_state* e, const editor_layout& l, int index, int height)
{
    const editor_rect& r = l.widgets[index];
    const editor_widget& w = editor_widget_info(index);
    const bool active = index < EDITOR_MODES && index == e->mode;
    const bool hover = index == e->hover_widget;
    rect(r, height, active ? k_active : (hover ? k_hover : k_button));
    frame(r, height, k_border);
    const float size = l.line * 0.7f, pad = l.line * 0.3f;
    const float top = r.top + (r.bottom - r.top - size) / 2;
    if (w.kind == editor_widget_button) {
        const float width = hud_text_width(w.label, size);
        text_line((r.left + r.right - width) / 2, top, size, height, w.label);
        return;
    }
    text_line(r.left + pad, top, size, height, w.label);
    char value[64];
    editor_widget_value_text(e, index, value, sizeof value);
    if (w.kind == editor_widget_choice) {
        text_line(r.right - pad - hud_text_width(value, size), top, size, height, value, 1, 1, 0.8f);
        return;
    }
    const editor_rect& bar = l.bars[index];
    text_line(bar.left - pad - hud_text_width(value, size), top, size, height, value, 1, 1, 0.8f);
    const float minimum = w.minimum, maximum = editor_widget_maximum(e, index);
    float part = maximum > minimum ? (e->widget_value[index] - minimum) / (maximum - minimum) : 0;
    part = part < 0 ? 0 : (part > 1 ? 1 : part);
    rect(bar, height, {0, 0, 0, 0.6f});
    rect({bar.left, bar.top, bar.left + (bar.right - bar.left) * part, bar.bottom}, height, k_bar);
    frame(bar, height, k_border);
}

void draw_panel(const editor_state* e, const editor_pointer& p)
{
    editor_layout l;
    editor_layout_panel(e, p.width, p.height, &l);
    const int H = p.height;
    hud_2d_begin(p.width, p.height);
    rect({0, 0, l.panel_width, (float)H}, H, {0, 0, 0, 0.5f});
    for (int i = 0; i < EDITOR_DUMMY; i++)
        if (editor_widget_shown(e, i))
            draw_widget(e, l, i, H);
    const float size = l.line * 0.7f, x = l.line * 0.35f;
    char line[256];
    snprintf(line, sizeof line, "Actual Radius: %.2f (%.2f)", (double)editor_brush_radius(e, H),
             (double)editor_brush_inner_radius(e, H));
    text_line(x, l.radius_line, size, H, line);
    snprintf(line, sizeof line, "Actual Strength: %.3f", (double)editor_brush_amount(e));
    text_line(x, l.radius_line + l.line, size, H, line);

    float top = l.readout_line;
    char readout[512];
    editor_mode_readout(e, readout, sizeof readout);
    for (char* part = readout; *part;) {
        char* end = strchr(part, '\n');
        if (end)
            *end = 0;
        text_line(x, top, size, H, part);
        top += l.line;
        if (!end)
            break;
        part = end + 1;
    }
    float gx, gz;
    editor_ground_point(e, p.x, p.y, p.width, p.height, &gx, &gz);
    snprintf(line, sizeof line, "%.2f %.2f %.2f", (double)gx, (double)heightfield_height_at(e->hf, gx, gz),
             (double)gz);
    text_line(x, top, size, H, line);
    text_line(x, top + l.line, size, H, e->status ? e->status : "", 1, 1, 0.6f);
    hud_2d_end();
}

}  // namespace

void editor_draw(editor_state* e, const editor_pointer& p)
{
    if (!e || p.width <= 0 || p.height <= 0)
        return;
    glViewport(0, 0, p.width, p.height);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    draw_map(e, p);
    draw_panel(e, p);
}
