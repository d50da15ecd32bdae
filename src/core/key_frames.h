// Camera key frames: poses of the free camera stamped with a world tick,
// kept sorted by tick, and the smooth path the track camera view flies
// along them (keycam mode). The console adds, removes, reads and writes
// them; the view code asks for the pose at the current tick.
#pragma once

#include <vector>

#include "core/vec3.h"

struct camera_key {
    vec3 position = {0, 0, 0};
    float rotation[4] = {0, 0, 0, 1};  // unit quaternion x, y, z, w
    float fov = 90;                    // degrees
    int tick = 0;
};

struct key_frame_list {
    std::vector<camera_key> keys;  // sorted by tick
    bool keycam = false;           // the track camera view flies the path
};

// Inserts k before the first key frame with a later tick (after those with
// the same tick).
void key_frames_insert(key_frame_list* list, const camera_key& k);

// The quaternion (x, y, z, w) of a free camera's yaw and pitch: the turn by
// the yaw about the vertical axis applied after the pitch about the
// horizontal one.
void key_rotation_from_yaw_pitch(float yaw, float pitch, float out[4]);

// The pose at tick: the first key before the first key frame and the last
// after the last; between two key frames a cubic Hermite curve through
// them whose tangents come from the neighbours on either side (scaled by
// the lengths of the segments, none at the ends of the path), the
// quaternions of the neighbours turned to the same side as the segment's
// end first and the result normalised; the field of view runs straight.
// False (out untouched) when the list is empty.
bool key_frame_pose(const key_frame_list& list, int tick, camera_key* out);
