// The nine bones the rider models are skinned with, posed from the limbs
// the bike's rider has in this frame. The rider models are built in a rest
// pose (arms stretched sideways, legs straight down); each bone carries its
// rest-pose pivot, and its world translation and rotation, so skinned
// vertices land in world space and are drawn under the camera transform
// alone.
#pragma once

#include "core/vec3.h"

struct bike;
struct heightfield;
struct rider_placement;

enum rider_bone_index {
    bone_left_forearm = 0,
    bone_right_forearm,
    bone_left_upper_arm,
    bone_right_upper_arm,
    bone_left_shin,
    bone_right_shin,
    bone_left_thigh,
    bone_right_thigh,
    bone_pelvis,
    rider_bone_count,
};

// The rest-pose joints the bones turn about, in model space (feet); one
// table shared by every bike model and by the data generator, which builds
// the rider models around it. Needs no GL.
inline constexpr float RIDER_BONE_PIVOTS[rider_bone_count][3] = {
    {-1.456f, 0.875f, 0.01f},  // left elbow
    {1.456f, 0.875f, 0.01f},   // right elbow
    {-0.556f, 0.875f, 0.01f},  // left shoulder
    {0.556f, 0.875f, 0.01f},   // right shoulder
    {-0.269f, -2.208f, 0.01f}, // left knee
    {0.269f, -2.208f, 0.01f},  // right knee
    {-0.269f, -0.88f, 0.01f},  // left hip
    {0.269f, -0.88f, 0.01f},   // right hip
    {0.0f, -0.88f, 0.01f},     // hip centre
};

// In the layout the skinning takes: three floats per pivot and per
// translation, nine per rotation (its columns x, y, z one after another).
struct rider_bones {
    float centres[rider_bone_count * 3];
    float translations[rider_bone_count * 3];
    float rotations[rider_bone_count * 9];
};

// Poses the bones from the bike's rider (arms, legs with the feet on hf,
// which may be null) in world space, with the rider body at placed (null:
// where the physics has it).
void compute_rider_bones(const bike* b, const heightfield* hf, rider_bones* out,
                         const rider_placement* placed = nullptr);

// Where bone i takes the rest-pose point p: R (p - c) + t.
vec3 rider_bone_apply(const rider_bones& bones, int i, vec3 p);
