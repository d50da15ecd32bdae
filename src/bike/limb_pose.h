// The rider's limbs and head. Only the torso is a rigid body; feet, knees,
// elbows and the head's look direction are worked out from the bodies
// whenever they are needed: the feet every tick (the dab foot reaching for
// the ground, the feet flying free during a crash), the whole figure every
// drawn frame.
//
// Points of the bike's parameters are in their body's frame: head, shoulders
// and hips in the rider body's, grips in the fork upper's, pegs in the
// frame's. Everything returned is in world coordinates (feet). Index 0 is
// the left side (negative x in the body frames), 1 the right.
//
// Nothing here writes the physics world; only move_free_feet writes the
// bike (its two stored feet).
//
// The drawing may place the rider body differently from the physics (a lean
// that keeps the shoulders off the bars): the functions that read the rider
// body take that placement, null meaning the body as the physics has it.
#pragma once

#include "core/vec3.h"

struct bike;
struct heightfield;

// A placement of the rider body in the physics engine's layout and
// precision: rotation 3 x 4 row-major, position x, y, z.
struct rider_placement {
    double rotation[12];
    double position[3];
};

// Where the feet are drawn and how far each one reaches for the ground:
// weight 0 on the peg, up to 1 fully reaching, 1 during a crash.
struct foot_placement {
    vec3 feet[2];
    float weights[2];
};

struct arm_chain {
    vec3 shoulders[2];
    vec3 elbows[2];
    vec3 grips[2];
};

struct leg_chain {
    vec3 hips[2];
    vec3 knees[2];
    vec3 feet[2];
    float weights[2];
};

// The head's position and its three unit axes in world coordinates: x to
// the rider's right, y up, z backward (the face looks along -z).
struct head_frame {
    vec3 position;
    vec3 axes[3];
};

// The whole figure, computed on demand (not stored).
struct rider_pose {
    arm_chain arms;
    leg_chain legs;
    head_frame head;
};

// The feet on the pegs, lifted off them while a crash runs, reaching for the
// ground while the rider dabs (dab_amount > 0), and blended toward the
// bike's stored free feet during a crash. hf is the ground the dab foot
// stands on; with a null hf the dab targets keep the height they were
// computed at (no ground to stand on).
foot_placement foot_pose(const bike* b, const heightfield* hf, const rider_placement* rider = nullptr);

// One tick of the stored feet while a crash runs (crash_timer > 0): they
// fly under gravity, stop 0.25 ft above the ground of hf (ignored when
// null), never get further from their hip than the leg's length and never
// rise above the plane one foot below the hips. Does nothing without a
// crash (the rider step then sets the feet to foot_pose itself).
void move_free_feet(bike* b, const heightfield* hf);

// The middle joint of a two-segment limb from root a to end b with segment
// lengths l1 (root side) and l2, bent toward the pole point. The reach is
// kept between |l1 - l2| and 0.95 (l1 + l2), so the limb never straightens
// fully and never folds through itself. A pole on the limb's line, or a
// root and end at the same point, still give a finite joint (an arbitrary
// but fixed side). Non-positive lengths give the root.
vec3 solve_two_bone(vec3 a, vec3 b, float l1, float l2, vec3 pole);

// Shoulders, elbows (backward and outward; the lower shoulder's elbow drops
// further, the throttle lowers the right one) and grips.
arm_chain arm_pose(const bike* b, const rider_placement* rider = nullptr);
// Hips, knees (forward and outward) and the feet of foot_pose.
leg_chain leg_pose(const bike* b, const heightfield* hf, const rider_placement* rider = nullptr);
// The head and where it looks: forward along the rider at low speeds,
// turning into the direction of travel as the speed rises, with its up axis
// pulled toward the world's up.
head_frame head_pose(const bike* b, const rider_placement* rider = nullptr);

// All of the above for one bike.
rider_pose compute_rider_pose(const bike* b, const heightfield* hf, const rider_placement* rider = nullptr);
