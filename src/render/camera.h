// The camera conventions of the 3-D view: a camera is an eye point and a
// 3 x 3 rotation stored row by row whose columns are the camera's right, up
// and backward axes in world coordinates (it looks along minus the third
// column). The field of view is the horizontal angle of a 4:3 view: a wider
// window keeps the 4:3 vertical extent and sees more at the sides.
#pragma once

#include "core/vec3.h"

struct view_camera {
    vec3 eye = {0, 0, 0};
    float rotation[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    float fov = 110.0f;        // degrees
    int rider_view_slot = -1;  // slot whose rider view is shown, -1 none
};

// Half extents of the view at distance 1.
struct view_extent {
    float half_x = 1.0f;
    float half_y = 0.75f;
};

view_extent projection_extent(int width, int height, float fov);
// Viewport over the whole window and the perspective projection between the
// near and far planes; returns the extents.
view_extent set_projection(int width, int height, float fov, float near_plane, float far_plane);

// Yaw 0 looks along +z, growing yaw turns toward +x, positive pitch looks up.
void camera_from_yaw_pitch(float yaw, float pitch, float rotation[9]);
// The rotation of a unit quaternion.
void camera_from_quaternion(float w, float x, float y, float z, float rotation[9]);
// A camera at eye looking at target with the world's up kept up.
void camera_look_at(vec3 eye, vec3 target, float rotation[9]);

// The camera's axes (columns of the rotation).
vec3 camera_right(const float rotation[9]);
vec3 camera_up(const float rotation[9]);
vec3 camera_backward(const float rotation[9]);

// Model-view = transpose(rotation), without the eye's translation (the sky
// is drawn there), and the translation by -eye after it.
void load_camera_rotation(const float rotation[9]);
void translate_to_eye(vec3 eye);
