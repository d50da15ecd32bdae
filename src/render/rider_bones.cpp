// Bone transforms of the skinned rider.
#include "render/rider_bones.h"

#include <ode/ode.h>

#include <cmath>

#include "bike/bike.h"
#include "bike/limb_pose.h"

using namespace vecmath;

namespace {

// v / |v|; a degenerate limb (zero length) keeps a fixed axis rather than
// turning into NaNs that would blank the whole rider.
vec3 unit(vec3 v, vec3 fallback)
{
    const float len = length(v);
    if (!(len > 1e-9f) || !std::isfinite(len))
        return fallback;
    return scale(v, 1.0f / len);
}

struct rigid {
    const dReal* R;
    const dReal* p;
    vec3 point(vec3 q) const
    {
        return v3((float)(R[0] * q.x + R[1] * q.y + R[2] * q.z + p[0]),
                  (float)(R[4] * q.x + R[5] * q.y + R[6] * q.z + p[1]),
                  (float)(R[8] * q.x + R[9] * q.y + R[10] * q.z + p[2]));
    }
    vec3 direction(vec3 q) const
    {
        return v3((float)(R[0] * q.x + R[1] * q.y + R[2] * q.z), (float)(R[4] * q.x + R[5] * q.y + R[6] * q.z),
                  (float)(R[8] * q.x + R[9] * q.y + R[10] * q.z));
    }
};

void set_bone(rider_bones* out, int i, vec3 t, vec3 x, vec3 y, vec3 z)
{
    for (int k = 0; k < 3; k++)
        out->centres[3 * i + k] = RIDER_BONE_PIVOTS[i][k];
    out->translations[3 * i + 0] = t.x;
    out->translations[3 * i + 1] = t.y;
    out->translations[3 * i + 2] = t.z;
    const vec3 columns[3] = {x, y, z};
    for (int c = 0; c < 3; c++) {
        out->rotations[9 * i + 3 * c + 0] = columns[c].x;
        out->rotations[9 * i + 3 * c + 1] = columns[c].y;
        out->rotations[9 * i + 3 * c + 2] = columns[c].z;
    }
}

}  // namespace

void compute_rider_bones(const bike* b, const heightfield* hf, rider_bones* out, const rider_placement* placed)
{
    const bike_params& p = b->params;
    const dBodyID body = b->bodies[body_rider];
    const rigid rider = placed ? rigid{placed->rotation, placed->position}
                               : rigid{dBodyGetRotation(body), dBodyGetPosition(body)};
    const arm_chain arms = arm_pose(b, placed);
    const leg_chain legs = leg_pose(b, hf, placed);

    const vec3 X = v3(1, 0, 0), Y = v3(0, 1, 0), Z = v3(0, 0, 1);
    const vec3* s = arms.shoulders;
    const vec3* e = arms.elbows;
    const vec3* g = arms.grips;

    // Forearms point from the grip back to the elbow (left) or out to the
    // grip (right), the bar between the grips fixing their roll.
    vec3 x = unit(sub(e[0], g[0]), X);
    vec3 y = unit(cross(sub(g[0], g[1]), x), Y);
    set_bone(out, bone_left_forearm, e[0], x, y, cross(x, y));
    x = unit(sub(g[1], e[1]), X);
    y = unit(cross(sub(g[1], g[0]), x), Y);
    set_bone(out, bone_right_forearm, e[1], x, y, cross(x, y));

    // Upper arms roll with the torso's up direction.
    const vec3 up = rider.direction(v3(0, p.shoulder[0].y - p.hip[0].y, p.shoulder[0].z - p.hip[0].z));
    x = unit(sub(s[0], e[0]), X);
    vec3 z = unit(cross(x, up), Z);
    set_bone(out, bone_left_upper_arm, s[0], x, cross(z, x), z);
    x = unit(sub(e[1], s[1]), X);
    z = unit(cross(x, up), Z);
    set_bone(out, bone_right_upper_arm, s[1], x, cross(z, x), z);

    // Legs: the hip line fixes their roll, the knee's bend plane taking
    // over as the foot reaches out.
    const vec3* h = legs.hips;
    const vec3* k = legs.knees;
    const vec3* f = legs.feet;
    const vec3 across = sub(h[1], h[0]);
    for (int i = 0; i < 2; i++) {
        y = unit(sub(h[i], k[i]), Y);
        z = unit(cross(across, y), Z);
        set_bone(out, bone_left_thigh + i, h[i], cross(y, z), y, z);

        vec3 q = across;
        const vec3 bend = cross(sub(h[i], k[i]), sub(f[i], k[i]));
        if (length_sq(bend) >= 0.001f)
            q = add_scaled(across, sub(bend, across), legs.weights[i]);
        y = unit(sub(k[i], f[i]), Y);
        z = unit(cross(q, y), Z);
        set_bone(out, bone_left_shin + i, k[i], cross(y, z), y, z);
    }

    // Pelvis and torso follow the rider body, the spine from the hip centre
    // to the shoulders.
    const vec3 hip_centre = rider.point(v3(0, p.hip[0].y, p.hip[0].z));
    const vec3 shoulder_centre = rider.point(v3(0, p.shoulder[0].y, p.shoulder[0].z));
    x = unit(rider.direction(X), X);
    y = unit(sub(shoulder_centre, hip_centre), Y);
    set_bone(out, bone_pelvis, hip_centre, x, y, cross(x, y));
}

vec3 rider_bone_apply(const rider_bones& bones, int i, vec3 p)
{
    const float* c = bones.centres + 3 * i;
    const float* t = bones.translations + 3 * i;
    const float* R = bones.rotations + 9 * i;
    const vec3 d = v3(p.x - c[0], p.y - c[1], p.z - c[2]);
    return v3(R[0] * d.x + R[3] * d.y + R[6] * d.z + t[0], R[1] * d.x + R[4] * d.y + R[7] * d.z + t[1],
              R[2] * d.x + R[5] * d.y + R[8] * d.z + t[2]);
}
