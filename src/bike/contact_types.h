// Records the bike carries for its ground contact and for the erosion it
// causes: the per-wheel contact state and the per-wheel erosion trail.
#pragma once

#include <ode/ode.h>

#include "core/vec3.h"

// Contact state of one wheel with the ground (or, without terrain contact,
// the deepest object contact of the tick).
struct wheel_contact {
    dBodyID body = nullptr;      // the wheel's body
    vec3 axle = {1, 0, 0};       // in the wheel body's frame
    float ring_radius = 0;       // torus major radius
    float section_radius = 0;    // torus minor radius
    vec3 point = {0, 0, 0};      // world contact point of the last contact
    vec3 point_velocity = {0, 0, 0};   // wheel body velocity at point
    vec3 normal = {0, 1, 0};     // unit, out of the ground
    float depth = 0;             // > 0: the wheel touches
    dJointFeedback feedback = {};  // of the wheel's contact joint
};

enum { ERODE_TRAIL_POINTS = 64 };

// One averaged erosion sample; the direction's length (0.125..1) encodes
// the strength, weight counts the samples averaged (1..16).
struct erode_point {
    float x = 0, z = 0;
    float dir_x = 0, dir_z = 0;
    int weight = 0;
};

// The batch of erosion points one wheel has gathered and not yet delivered.
// Cleared when the bike is built or reset.
struct erode_trail {
    erode_point points[ERODE_TRAIL_POINTS];
    int point_count = 0;
    float delta_min_x = 0, delta_min_z = 0, delta_max_x = 0, delta_max_z = 0;
    int last_emit_tick = 0;
    float last_x = 0, last_z = 0;
    float sum_x = 0, sum_z = 0, sum_dir_x = 0, sum_dir_z = 0;
    float travelled = 0;         // feet
    int pending_samples = 0;
};
