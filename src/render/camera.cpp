#include "render/camera.h"

#include <SDL_opengl.h>

#include <cmath>

using namespace vecmath;

view_extent projection_extent(int width, int height, float fov)
{
    view_extent e;
    if (width <= 0 || height <= 0)
        return e;
    const double a = fov * M_PI / 360.0;
    const double t = tan(a);
    if ((double)width / height > 4.0 / 3.0) {
        e.half_y = (float)(t * 0.75);
        e.half_x = (float)(e.half_y * (double)width / height);
    } else {
        e.half_x = (float)t;
        e.half_y = (float)(t * height / width);
    }
    return e;
}

view_extent set_projection(int width, int height, float fov, float near_plane, float far_plane)
{
    const view_extent e = projection_extent(width, height, fov);
    glViewport(0, 0, width, height);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glFrustum(-e.half_x * near_plane, e.half_x * near_plane, -e.half_y * near_plane, e.half_y * near_plane,
              near_plane, far_plane);
    glMatrixMode(GL_MODELVIEW);
    return e;
}

void camera_from_yaw_pitch(float yaw, float pitch, float r[9])
{
    const float cy = cosf(yaw), sy = sinf(yaw), cp = cosf(pitch), sp = sinf(pitch);
    r[0] = -cy;
    r[1] = -sp * sy;
    r[2] = -sy * cp;
    r[3] = 0;
    r[4] = cp;
    r[5] = -sp;
    r[6] = sy;
    r[7] = -sp * cy;
    r[8] = -cp * cy;
}

void camera_from_quaternion(float w, float x, float y, float z, float r[9])
{
    r[0] = 1 - 2 * (y * y + z * z);
    r[1] = 2 * (x * y - w * z);
    r[2] = 2 * (x * z + w * y);
    r[3] = 2 * (x * y + w * z);
    r[4] = 1 - 2 * (x * x + z * z);
    r[5] = 2 * (y * z - w * x);
    r[6] = 2 * (x * z - w * y);
    r[7] = 2 * (y * z + w * x);
    r[8] = 1 - 2 * (x * x + y * y);
}

void camera_look_at(vec3 eye, vec3 target, float r[9])
{
    const vec3 d = sub(target, eye);
    const float horizontal = sqrtf(d.x * d.x + d.z * d.z);
    const float yaw = atan2f(d.x, d.z);
    const float pitch = atan2f(d.y, horizontal);
    camera_from_yaw_pitch(yaw, pitch, r);
}

vec3 camera_right(const float r[9])
{
    return v3(r[0], r[3], r[6]);
}

vec3 camera_up(const float r[9])
{
    return v3(r[1], r[4], r[7]);
}

vec3 camera_backward(const float r[9])
{
    return v3(r[2], r[5], r[8]);
}

void load_camera_rotation(const float r[9])
{
    // GL matrices are column-major: the transpose's columns are the rows of
    // the rotation's transpose, i.e. the rotation's columns as rows.
    const GLfloat m[16] = {r[0], r[1], r[2], 0, r[3], r[4], r[5], 0, r[6], r[7], r[8], 0, 0, 0, 0, 1};
    glMatrixMode(GL_MODELVIEW);
    glLoadMatrixf(m);
}

void translate_to_eye(vec3 eye)
{
    glTranslatef(-eye.x, -eye.y, -eye.z);
}
