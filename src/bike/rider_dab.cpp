// Putting a foot down: how far the foot is out, the push off the ground
// that rights a slow or stopped bike, and turning a bike that lies on its
// side back toward the track.
#include <cmath>

#include "bike/bike.h"
#include "bike/contact.h"
#include "bike/rider.h"
#include "bike/rider_internal.h"

using namespace contact_math;
using namespace rider_detail;

namespace {

// The point a fallen bike should turn toward: a few points ahead on the
// robots' racing line nearest to it (the race asks the robots' layer).
// Without a line there is no target, and the foot pushes the bike upright
// instead: turning toward its own heading would never lift it.
bool realign_target(const bike* b, const bike_world* w, vec3* target)
{
    return w->realign_target && w->realign_target(w->race, b, target) && finite(*target);
}

// Turns a fallen bike about the world's up axis toward its target; lifts
// it while it turns unless the target lies almost straight ahead. Returns
// true while it is still turning: once the bike faces its target the foot
// rights it, or it would lie there facing the track for good.
bool realign(bike* b, vec3 target)
{
    dBodyID frame = b->bodies[body_frame];
    const vec3 d = sub(target, body_position(frame));
    const vec3 z = body_axis(frame, 0, 0, 1);
    vec3 zh = {z.x, 0.0f, z.z};
    const float l2 = length_sq(zh);
    if (!(l2 > 1.0f / 1024.0f))
        return true;
    zh = scale(zh, 1.0f / sqrtf(l2));
    const float back = d.x * zh.x + d.z * zh.z;
    const float side = d.x * zh.z - d.z * zh.x;
    float speed = b->bump_timer < 0.0f ? pi : pi * 0.5f;
    if (side >= 0.0f)
        speed = -speed;
    const float most = 320.0f * b->total_mass;
    if (back >= 0.0f || fabsf(side) >= -0.25f * back) {
        world_angular_motor(frame, v3(0, 1, 0), speed, most);
        const float lift = 32.0f * b->total_mass;
        if (touches(b->front_contact))
            dBodyAddForce(b->bodies[body_front_wheel], 0.0, lift, 0.0);
        if (touches(b->rear_contact))
            dBodyAddForce(b->bodies[body_rear_wheel], 0.0, lift, 0.0);
        return true;
    }
    // Nearly facing it: turn gently, in proportion to how far off.
    world_angular_motor(frame, v3(0, 1, 0), speed, fabsf(side / (0.25f * back)) * most);
    return false;
}

// Largest lean the foot lets the bike keep at this speed before it pushes:
// none at rest, the roll limit by 15 ft/s, anything at the dab speed.
float foot_lean_limit(float speed, float dab_speed, float roll_limit)
{
    if (speed >= dab_speed)
        return 2.0f * pi;
    const float d2 = dab_speed * dab_speed;
    if (speed <= 15.0f) {
        const float rest = 1.0f - clampf(speed * speed / d2, 0.0f, 1.0f);
        return roll_limit * (1.0f - powf(rest, 32.0f));
    }
    return roll_limit + clampf((speed * speed - 225.0f) / (d2 - 225.0f), 0.0f, 1.0f) * (2.0f * pi - roll_limit);
}

}  // namespace

void dab_and_realign(bike* b, const bike_world* w)
{
    // A rider who is down has his feet off the pegs.
    if (crash_running(b)) {
        b->dab_amount = fminf(1.0f, b->dab_amount + 8.0f * h);
        return;
    }

    // Only while sitting or dabbing, and with ground within reach.
    if (b->sit_dab == 0.0f)
        return;
    dBodyID frame = b->bodies[body_frame];
    dBodyID rider = b->bodies[body_rider];
    if (!touches(b->front_contact)) {
        terrain_hit hit;
        const bool reach = w->ground && sphere_heightfield_query(w->ground, body_position(rider),
                                                                  b->params.rider_pos.y + 1.0f, &hit);
        if (!reach)
            return;
    }

    // The foot goes down when slow, or leaning far with both wheels on
    // the ground.
    const float dab_speed = dab_speed_limit(b);
    const float speed = frame_speed(b);
    if (speed > dab_speed)
        return;
    const float roll = bike_roll(b);
    const float abs_roll = fabsf(roll);
    const bool both = touches(b->front_contact) && touches(b->rear_contact);
    if (speed <= 15.0f || (both && abs_roll >= 3.0f * pi / 16.0f)) {
        b->dab_amount = fminf(1.0f, b->dab_amount + 8.0f * h);
        if (arcade(b))
            return;
        if (speed < 5.0f && abs_roll > pi / 8.0f && abs_roll < 0.35f * pi) {
            // Lying on its side. At the end of a race that counts as
            // finishing; otherwise the bike is turned back toward the track.
            const bool finished = w->finish_fallen_rider && w->finish_fallen_rider(w->race, b);
            vec3 target;
            if (!finished && (b->assist_flags & assist_realign_after_fall) && b->back_up <= 0.125f &&
                realign_target(b, w, &target) && realign(b, target))
                return;
        } else if (speed >= 5.0f && b->bump_timer > 0.0f) {
            return;
        }
    }

    // The foot pushes the bike back toward upright, harder after being
    // run into.
    float k = roll >= 0.0f ? -pi / 8.0f : pi / 8.0f;
    if ((b->assist_flags & assist_dab_when_stopped) && b->bump_timer < 0.0f)
        k *= 3.0f;
    if (abs_roll < pi / 16.0f)
        k *= abs_roll * 16.0f / pi;
    const float roll_rate = bike_roll_rate(b);
    float m = 0.0f;
    if (k > 0.0f && roll_rate < k)
        m = -400.0f;
    else if (k < 0.0f && roll_rate > k)
        m = 400.0f;
    if (abs_roll < pi / 32.0f)
        m *= abs_roll * 32.0f / pi;

    // Within the lean the speed allows the foot hardly pushes, unless the
    // rider steers against the lean; at speed only while the front slides.
    if (!(b->back_up >= 0.125f && speed <= 5.0f)) {
        const float limit = foot_lean_limit(speed, dab_speed, b->roll_limit_angle);
        const float t = clampf(((k >= 0.0f ? -b->steer : b->steer) - 0.5f) * 2.0f, 0.0f, 1.0f);
        const float o = clampf((abs_roll - 1.25f * limit) / 0.25f, 0.0f, 1.0f);
        m *= o + t * (1.0f - o);
        if (speed > 5.0f)
            m *= b->slide_amount;
    }

    // The push, 4 ft above the frame's centre: sideways and a little up
    // while the bike is up, straight up once it lies on its side.
    if (m != 0.0f) {
        const vec3 up = body_axis(frame, 0, 1, 0);
        if (up.y >= 0.707f) {
            dBodyAddForceAtRelPos(frame, 0.0, fabsf(m) / 8.0f, 0.0, 0.0, 4.0, 0.0);
            dBodyAddRelForceAtRelPos(frame, m, 0.0, 0.0, 0.0, 4.0, 0.0);
        } else {
            dBodyAddForceAtRelPos(frame, 0.0, fabsf(m), 0.0, 0.0, 4.0, 0.0);
        }
    }
}
