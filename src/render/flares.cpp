// Lens flares: a light in view (the sun, or a lamp at a point) shows as a
// row of glowing elements along the line from the light through the view
// centre. Whether the light is seen is read back from what the scene drew
// at its pixel: it must be bright there, and nothing may stand in front of
// it (a statue or a hill hides the sun). Near the view's edges the flare
// fades, so it does not pop as the camera turns.
#include <SDL_opengl.h>

#include <algorithm>
#include <cmath>

#include "render/camera.h"
#include "render/scene.h"
#include "track/lighting.h"

using namespace vecmath;

namespace {

// Channels above this at the light's pixel: the light itself shows there.
constexpr int bright_channel = 223;
// A light at infinity is hidden by anything nearer than this share of the
// view depth.
constexpr float vector_flare_depth = 0.4f;

float clamp01(float v)
{
    return v < 0 ? 0 : (v > 1 ? 1 : v);
}

// Depth-buffer value to a linear share of the way from the near to the far
// plane.
float linear_depth(float depth, float near_plane, float far_plane)
{
    const float span = far_plane - near_plane;
    if (!(span > 0))
        return 1;
    const float distance = (-far_plane * near_plane) / (span * depth - far_plane);
    return (distance - near_plane) / span;
}

// Whether the light shows at window pixel (px, py).
bool light_visible(const flare& f, float view_z, int px, int py, float near_plane, float far_plane)
{
    unsigned char colour[4] = {0, 0, 0, 0};
    glReadPixels(px, py, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, colour);
    if (colour[0] <= bright_channel || colour[1] <= bright_channel || colour[2] <= bright_channel)
        return false;
    float depth = 1;
    glReadPixels(px, py, 1, 1, GL_DEPTH_COMPONENT, GL_FLOAT, &depth);
    const float seen = linear_depth(depth, near_plane, far_plane);
    const float needed = f.is_vector ? vector_flare_depth : clamp01((-view_z - 0.25f) * 0.00020001f);
    return seen >= needed;
}

// The flare's intensity by its place on the view plane: 1 inside, falling
// to 0 over the last m of the view at each edge.
float edge_fade(float sx, float sy, float hx, float hy)
{
    const float m = std::min(hx, hy) / 32.0f;
    if (!(m > 0))
        return 0;
    const float fx = clamp01(std::min(sx + hx, hx - sx) / m);
    const float fy = clamp01(std::min(sy + hy, hy - sy) / m);
    return std::min(fx, fy);
}

void draw_elements(const flare& f)
{
    const float sx = f.screen_x, sy = f.screen_y;
    for (int k = 0; k < f.element_count && k < FLARE_ELEMENTS_MAX; k++) {
        const flare_element& e = f.elements[k];
        const float cx = e.offset_along * sx + e.offset_across * sy;
        const float cy = e.offset_along * sy - e.offset_across * sx;
        const float h = e.size;
        glBindTexture(GL_TEXTURE_2D, e.texture);
        g_scene_statistics.texture_changes++;
        glColor4f(f.intensity * e.color[0], f.intensity * e.color[1], f.intensity * e.color[2], 1);
        glBegin(GL_QUADS);
        glTexCoord2f(0, 1);
        glVertex3f(cx - h, cy + h, -1);
        glTexCoord2f(0, 0);
        glVertex3f(cx - h, cy - h, -1);
        glTexCoord2f(1, 0);
        glVertex3f(cx + h, cy - h, -1);
        glTexCoord2f(1, 1);
        glVertex3f(cx + h, cy + h, -1);
        glEnd();
    }
}

}  // namespace

int draw_lens_flares(lighting* light, const view_camera& camera, const view_extent& extent, int width, int height)
{
    if (!light || light->flare_count <= 0 || width <= 0 || height <= 0)
        return 0;
    const float hx = extent.half_x, hy = extent.half_y;
    const float* r = camera.rotation;
    // Every light is tested against the scene before any flare is added to
    // it, so one flare never decides whether another shows.
    int shown = 0;
    for (int i = 0; i < light->flare_count; i++) {
        flare& f = light->flares[i];
        f.intensity = 0;
        const vec3 d = f.is_vector ? f.source : sub(f.source, camera.eye);
        // Into view space: the camera's axes are the rotation's columns.
        const float vx = r[0] * d.x + r[3] * d.y + r[6] * d.z;
        const float vy = r[1] * d.x + r[4] * d.y + r[7] * d.z;
        const float vz = r[2] * d.x + r[5] * d.y + r[8] * d.z;
        if (!(vz < 0) || !(std::fabs(vx) <= -vz * hx) || !(std::fabs(vy) <= -vz * hy))
            continue;
        f.screen_x = -vx / vz;
        f.screen_y = -vy / vz;
        const int px = (int)(clamp01((f.screen_x + hx) / (2 * hx)) * (float)width);
        const int py = (int)(clamp01((f.screen_y + hy) / (2 * hy)) * (float)height);
        if (px >= width || py >= height)
            continue;
        if (!light_visible(f, vz, px, py, light->near_plane, light->far_plane))
            continue;
        f.intensity = edge_fade(f.screen_x, f.screen_y, hx, hy);
        if (f.intensity > 0)
            shown++;
    }
    if (shown == 0)
        return 0;

    glDisable(GL_LIGHTING);
    glDisable(GL_CULL_FACE);
    glDisable(GL_FOG);
    glDepthMask(GL_FALSE);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE);
    glEnable(GL_TEXTURE_2D);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    for (int i = 0; i < light->flare_count; i++)
        if (light->flares[i].intensity > 0)
            draw_elements(light->flares[i]);
    glColor4f(1, 1, 1, 1);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glDisable(GL_BLEND);
    glDepthMask(GL_TRUE);
    glEnable(GL_CULL_FACE);
    return shown;
}
