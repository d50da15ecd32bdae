// The rider: the skinned body (and its first-person cut), the number on
// his back, and the helmet.
//
// The skinned models stand in the rest pose the scene poses them from:
// arms stretched out sideways along x, legs straight down, facing -z, with
// nine bones pivoting at the rest-pose joints below. Every vertex carries a
// weight per bone, summing to 1; near a joint it is shared between the two
// segments that meet there, so the limbs bend without tearing.
#pragma once

#include "core/vec3.h"
#include "render/rider_bones.h"
#include "mkdata.h"
#include "qm_writer.h"

namespace mkdata {

// Each bone's pivot in the rest pose (feet): elbows, shoulders, knees,
// hips and the hip centre, as the game skins the rider with them.
extern const vec3 rider_bone_pivots[rider_bone_count];

// The body (jersey, pants, arms, gloves, boots); first_person leaves out
// the collar and the top of the chest, which would fill the view of a
// camera at the rider's eyes.
qm_model rider_body_model(bool first_person, int lod);
// The race number on the back: a patch just over the jersey, skinned to
// the torso, carrying the whole number-plate picture read from behind.
qm_model rider_plate_model();
// The helmet about the head's centre (the head pose's origin): face
// toward -z, y up. Shell, chin bar, peak, goggles with a strap; the
// goggle lens also as an environment-mapped overlay, last.
qm_model rider_head_model(int lod);

// Writes "rider_body.qm", "rider_body_fp.qm", "rider_plate.qm" and
// "rider_head.qm" with their coarser levels into the archive.
void add_rider_models(output& out);

}  // namespace mkdata
