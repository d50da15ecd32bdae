// The auto pilot's controllers. Following the path: slow for traffic ahead,
// aim a little way along the path, work out the radius that reaches the
// aim, the lean that radius needs at this speed and what the ground's grip
// allows, stand the bike up before jumps, and steer toward the roll rate
// that brings the lean; throttle and brakes hold the path's speed.
// Recovering: steer gently back toward the target point, and after long
// enough push the bike there.
#include <cmath>
#include <queue>
#include <vector>

#include "bike/catalogue.h"
#include "bike/controls.h"
#include "bike/shape.h"
#include "bike/rider.h"
#include "race/race.h"
#include "race/world.h"
#include "robot/auto_pilot.h"
#include "robot/auto_pilot_internal.h"
#include "robot/robots.h"
#include "track/heightfield.h"
#include "track/objects.h"
#include "track/surface.h"

using namespace vecmath;

namespace autopilot {

namespace {

const int k_second = RACE_TICKS_PER_SECOND;
const float k_gravity = 32.0f;
const float k_no_jump = 1000000.0f;
// Below this speed (ft/s) the lean is no longer chased: steering alone
// cannot hold the bike up any more.
const float k_crawl_speed = 7.5f;
// A robot in recovery that has stood still this long after its fall
// (seconds without an advance) is stuck, wheel spinning against whatever
// holds it, and is helped at once rather than after the full wait.
const int k_stuck_push = 6;
const float k_stuck_speed = 1.0f;
// The aim more than this far (radians) off the bike's travel caps the
// speed, from k_turn_first_open (ft/s) down to k_turn_first_speed at
// k_turn_first_full: slow enough to lean into the turn back, not so slow
// that the lean stops being chased.
const float k_turn_first_angle = 0.25f;
const float k_turn_first_full = 0.6f;
const float k_turn_first_open = 51.0f;
const float k_turn_first_speed = 11.0f;
// ... and only once the bike is this far (ft) off its line, fully at twice
// that; its needed radius shrinks up to three times.
const float k_turn_first_off = 2.0f;
// Seconds of pushing after which a bike that still stands where it is
// caught is lifted onto its line.
const int k_lift_after = 10;
// How far ahead (ft) of a lost bike the point lies that it is led to.
const float k_rejoin_reach = 15.0f;
// The points of the line behind and ahead of that point that a push round
// an obstacle may lead to.
const int k_rejoin_behind = 20;
const int k_rejoin_ahead = 30;

// A frame axis in world coordinates (0 x, 1 y, 2 z) from the 3 x 4 rotation.
vec3 frame_axis(const bike* b, int axis)
{
    const dReal* r = bike_frame_rotation(b);
    return v3((float)r[axis], (float)r[4 + axis], (float)r[8 + axis]);
}

vec3 position_of(const line_point& p)
{
    return v3(p.x, p.y, p.z);
}

float horizontal_sq(const line_point& p, vec3 at)
{
    const float dx = p.x - at.x, dz = p.z - at.z;
    return dx * dx + dz * dz;
}

float dead_band(float v, float band)
{
    if (v > band)
        return v - band;
    if (v < -band)
        return v + band;
    return 0.0f;
}

// ---- traffic ----------------------------------------------------------------------

// The ground the bike will cover in the next second: 4 ft wide, from 4 ft
// behind it to 4 ft plus a second of travel ahead.
struct footprint {
    float x[4], z[4];
};

footprint footprint_of(vec3 at, vec3 travel, vec3 side, float speed)
{
    static const float offsets[4][2] = {{-2.0f, 4.0f}, {-2.0f, -4.0f}, {2.0f, -4.0f}, {2.0f, 4.0f}};
    footprint f;
    for (int k = 0; k < 4; k++) {
        const float across = offsets[k][0];
        const float along = offsets[k][1] < 0.0f ? offsets[k][1] : offsets[k][1] + speed;
        f.x[k] = at.x + side.x * across + travel.x * along;
        f.z[k] = at.z + side.z * across + travel.z * along;
    }
    return f;
}

float side_value(float ax, float az, float bx, float bz, float px, float pz)
{
    return (bx - ax) * (pz - az) - (bz - az) * (px - ax);
}

bool edges_cross(const footprint& a, int i, const footprint& b, int j)
{
    const int i2 = (i + 1) & 3, j2 = (j + 1) & 3;
    const float s1 = side_value(b.x[j], b.z[j], b.x[j2], b.z[j2], a.x[i], a.z[i]);
    const float s2 = side_value(b.x[j], b.z[j], b.x[j2], b.z[j2], a.x[i2], a.z[i2]);
    const float s3 = side_value(a.x[i], a.z[i], a.x[i2], a.z[i2], b.x[j], b.z[j]);
    const float s4 = side_value(a.x[i], a.z[i], a.x[i2], a.z[i2], b.x[j2], b.z[j2]);
    return (s1 < 0.0f) != (s2 < 0.0f) && (s3 < 0.0f) != (s4 < 0.0f);
}

// Every edge of one footprint against every edge of the other: two bikes
// on the same heading have parallel edges of the same kind, so matching
// only like edges would miss the bike straight ahead.
bool footprints_cross(const footprint& a, const footprint& b)
{
    for (int i = 0; i < 4; i++)
        for (int j = 0; j < 4; j++)
            if (edges_cross(a, i, b, j))
                return true;
    return false;
}

// ---- aiming and leaning ------------------------------------------------------------

// The radius (ft, positive turning right) that reaches the aim point,
// counting three times how far the aim lies off the present arc.
float needed_radius(const bike_view& view, vec3 aim)
{
    const vec3 d = sub(aim, view.position);
    const double a = dot(d, view.side), ahead = dot(d, view.travel);
    if (ahead <= 0.0)
        return a >= 0.0 ? 10.0f : -10.0f;
    const double r = view.turn_radius;
    const double cx = a - r, cz = ahead;
    const double len = sqrt(cx * cx + cz * cz);
    double qa = r, qb = 0.0;
    if (len > 1e-9) {
        qa = r + cx * fabs(r) / len;
        qb = cz * fabs(r) / len;
    }
    double a2 = a + 2.0 * (a - qa);
    const double b2 = ahead + 2.0 * (ahead - qb);
    if (fabs(a2) < 0.000001)
        a2 = a2 < 0.0 ? -0.000001 : 0.000001;
    return (float)((a2 * a2 + b2 * b2) / (2.0 * a2));
}

float friction_at(const heightfield* hf, float x, float z)
{
    static const surface_type default_surface;
    const surface_type* s = &default_surface;
    if (hf->surfaces && hf->surface_count > 0) {
        int index = heightfield_surface_at(hf, x, z);
        if (index < 0 || index >= hf->surface_count)
            index = hf->surface_count - 1;
        s = &hf->surfaces[index];
    }
    return s->friction[0].coefficient;
}

// Holds the wanted lean within the friction angle of the ground under the
// next points and under where the front wheel will be in a quarter second,
// measured from the lean that stands the bike square to that ground.
// True when it had to.
bool grip_limit(const world* w, const bike* b, const bike_view& view, int i0, float* roll)
{
    const heightfield* hf = &w->track.heightfield;
    if (!hf->heights)
        return false;
    const vec3 ax = frame_axis(b, 0), ay = frame_axis(b, 1);
    float x[6], z[6];
    for (int k = 0; k < 5; k++) {
        const line_point p = path_point_at(b, (float)(i0 + 4 - k));
        x[k] = p.x;
        z[k] = p.z;
    }
    const dReal* fp = dBodyGetPosition(b->bodies[body_front_wheel]);
    const dReal* fv = dBodyGetLinearVel(b->bodies[body_front_wheel]);
    x[5] = (float)(fp[0] + fv[0] * 0.25);
    z[5] = (float)(fp[2] + fv[2] * 0.25);
    bool changed = false;
    for (int k = 0; k < 6; k++) {
        const vec3 n = heightfield_face_normal_at(hf, x[k], z[k]);
        const float beta = atan2f(dot(n, ax), dot(n, ay));
        const float lambda = fminf(atanf(friction_at(hf, x[k], z[k])), 3.0f * pi / 8.0f);
        const float held = clampf(*roll, view.roll - beta - lambda, view.roll - beta + lambda);
        changed = changed || held != *roll;
        *roll = held;
    }
    return changed;
}

// The indirect-steering law toward a roll rate, blended into the steering
// servo that keeps the front wheel pointing where it goes: the servo alone
// with the front wheel off the ground or sliding.
float steer_command(const bike* b, const bike_view& view, float rate, float slide)
{
    const float d = clampf(rate - view.roll_rate, -0.125f, 0.125f);
    const float by_roll = (view.roll_rate - (rate - d)) * 4.0f;
    const float angle = (float)dJointGetHingeAngle(b->joints[joint_steering_head]);
    const float angle_rate = (float)dJointGetHingeAngleRate(b->joints[joint_steering_head]);
    const float err = dead_band(clampf(view.slip - angle, -0.25f, 0.25f), 1.0f / 32.0f);
    const float dd = dead_band(8.0f * err - angle_rate, 1.0f / 2400.0f);
    const float servo = clampf(dd * 0.5f, -2.0f / 3.0f, 2.0f / 3.0f);
    float steer = servo;
    if (b->front_contact.depth > 0.0f)
        steer = servo + (by_roll - servo) * clampf((4.0f - slide) / 4.0f, 0.0f, 1.0f);
    return clampf(steer, -1.0f, 1.0f);
}

}  // namespace

// ---- traffic ------------------------------------------------------------------------

const bike* bike_to_yield_to(const world* w, const bike* b, const bike_view& view)
{
    const footprint own = footprint_of(view.position, view.travel, view.side, view.speed);
    const bike* chosen = nullptr;
    float best = 1000000.0f;
    for (int slot = 0; slot < RACE_SLOTS; slot++) {
        const bike* o = w->race.slots[slot].b;
        if (!o || o == b || o->presence <= 0.25f)
            continue;
        const vec3 at = bike_frame_position(o);
        const vec3 vel = bike_frame_velocity(o);
        const float speed = length(vel);
        const float dx = at.x - view.position.x, dz = at.z - view.position.z;
        const float d2 = dx * dx + dz * dz;
        // Footprints further apart than both their lengths cannot meet.
        const float reach = 8.0f + view.speed + speed + 8.0f;
        if (!(d2 < reach * reach) || !(d2 < best))
            continue;
        const vec3 travel = speed > 0.001f ? scale(vel, 1.0f / speed) : v3(0, 0, -1);
        const vec3 side = v3(-travel.z, 0.0f, travel.x);
        if (!footprints_cross(own, footprint_of(at, travel, side, speed)))
            continue;
        const vec3 apart = sub(at, view.position);
        if (dot(apart, view.travel) > dot(neg(apart), travel)) {
            best = d2;
            chosen = o;
        }
    }
    return chosen;
}

float yield_to(const world* w, bike* b, const bike_view& view, const bike* o, float wanted)
{
    const float now = (float)w->race.tick * tick_length;
    const float t = fminf(now - (float)w->race.start_tick * tick_length, 100.0f);
    const float wy = clampf((t - 3.0f) / 2.0f, 0.0f, 1.0f) * clampf((120.0f - t) / 100.0f, 0.0f, 1.0f);
    const float reach = 12.0f + 8.0f * wy;
    const vec3 at = bike_frame_position(o);
    const vec3 vel = bike_frame_velocity(o);
    // The other bike's speed along our arc: its velocity less what points
    // at the centre of our turn, counted only forward.
    const double kx = (double)view.position.x + (double)view.side.x * view.turn_radius;
    const double kz = (double)view.position.z + (double)view.side.z * view.turn_radius;
    const double ex = at.x - kx, ey = (double)at.y - view.position.y, ez = at.z - kz;
    const double e2 = ex * ex + ey * ey + ez * ez;
    double tx = vel.x, ty = vel.y, tz = vel.z;
    if (e2 > 1e-12) {
        const double along = (vel.x * ex + vel.y * ey + vel.z * ez) / e2;
        tx -= ex * along;
        ty -= ey * along;
        tz -= ez * along;
    }
    const bool forward = tx * view.travel.x + ty * view.travel.y + tz * view.travel.z > 0.0;
    const float their = forward ? (float)sqrt(tx * tx + ty * ty + tz * tz) : 0.0f;
    const float dist = length(sub(view.position, at));
    if (dist < reach)
        return fminf(wanted, (1.0f - 0.25f * wy) * their);
    if (their < wanted) {
        const float v = view.speed;
        const float tau = (v - their) / 5.0f;
        const float gap = (v * tau - 2.5f * tau * tau) - (their * tau + dist);
        if (gap > -reach) {
            wanted += (their - wanted) * clampf((gap + reach) / 3.0f, 0.0f, 1.0f);
            for (int& s : b->followed_serial)
                s = 0;
        }
    }
    return wanted;
}

// ---- what the controllers measure ------------------------------------------------

bike_view look_at(const bike* b)
{
    bike_view v;
    v.position = bike_frame_position(b);
    v.velocity = bike_frame_velocity(b);
    v.speed = length(v.velocity);
    v.forward = neg(frame_axis(b, 2));
    v.travel = v.speed > 0.001f ? scale(v.velocity, 1.0f / v.speed) : v3(0, 0, -1);
    v.side = v3(-v.travel.z, 0.0f, v.travel.x);
    v.roll = bike_roll(b);
    v.roll_rate = bike_roll_rate(b);
    v.slip = front_slip_angle(b);
    double up = 0.0;
    if (b->front_contact.depth > 0.0f)
        up += b->front_contact.feedback.f1[1];
    if (b->rear_contact.depth > 0.0f)
        up += b->rear_contact.feedback.f1[1];
    const float load = b->total_mass > 0.0f ? (float)(up / (k_gravity * b->total_mass)) : 1.0f;
    v.load = fmaxf(1.0f, load - 1.0f);
    v.roll_rate_limit = pi / v.load;
    // A bike standing upright turns on no circle at all: a very large one.
    const double lean = (double)k_gravity * v.load * tan((double)v.roll);
    double radius = fabs(lean) > 1e-9 ? -(double)v.speed * v.speed / lean : -1e9;
    radius = radius > 1e9 ? 1e9 : (radius < -1e9 ? -1e9 : radius);
    v.turn_radius = (float)radius;
    return v;
}

line_point path_point_at(const bike* b, float x)
{
    const line_point_list& path = b->path;
    const int last = path.count - 1;
    x = clampf(x, 0.0f, (float)last);
    const int i = (int)x;
    if (i >= last) {
        line_point p = path.items[last];
        p.speed = fabsf(p.speed);
        return p;
    }
    const float f = x - (float)i;
    const line_point& a = path.items[i];
    const line_point& c = path.items[i + 1];
    line_point p;
    p.x = a.x + (c.x - a.x) * f;
    p.y = a.y + (c.y - a.y) * f;
    p.z = a.z + (c.z - a.z) * f;
    p.height = a.height + (c.height - a.height) * f;
    p.speed = fabsf(a.speed) + (fabsf(c.speed) - fabsf(a.speed)) * f;
    return p;
}

int jump_ahead(const bike* b, int i0)
{
    const line_point_list& path = b->path;
    const int end = i0 + 20 < path.count ? i0 + 20 : path.count;
    for (int j = i0 < 0 ? 0 : i0; j < end; j++)
        if (j + 1 < path.count && path.items[j].speed < 0.0f && path.items[j + 1].speed < 0.0f)
            return j;
    return -1;
}

void speed_controller(bike* b, const bike_view& view, float wanted)
{
    const float v = view.speed;
    if (b->rear_contact.depth <= 0.0f) {
        // In the air: the rear wheel's spin pitches the bike. Throttle
        // lifts a falling nose, the rear brake brings a high one down.
        bike_set_front_brake(b, 0.0f);
        bike_set_rear_brake(b, 0.0f);
        const vec3 spin = v3((float)dBodyGetAngularVel(b->bodies[body_frame])[0],
                             (float)dBodyGetAngularVel(b->bodies[body_frame])[1],
                             (float)dBodyGetAngularVel(b->bodies[body_frame])[2]);
        const float pitch = dot(spin, frame_axis(b, 0));
        const float front = (float)dBodyGetPosition(b->bodies[body_front_wheel])[1];
        const float rear = (float)dBodyGetPosition(b->bodies[body_rear_wheel])[1];
        if ((rear > front && pitch < 0.0f) || pitch < -pi / 4.0f) {
            bike_set_throttle(b, 1.0f);
            bike_set_clutch(b, 0.125f);
        } else {
            bike_set_throttle(b, 0.0f);
            if (front > rear + 1.0f && pitch >= -pi / 8.0f) {
                bike_set_clutch(b, 0.0f);
                bike_set_rear_brake(b, 1.0f);
            } else {
                bike_set_clutch(b, 0.125f);
            }
        }
        return;
    }
    float brake = 0.0f;
    if (v < wanted - 1.0f) {
        bike_set_throttle(b, 1.0f);
    } else if (v < wanted) {
        bike_set_throttle(b, wanted - v);
    } else {
        bike_set_throttle(b, 0.0f);
        brake = clampf(v - wanted, 0.0f, 1.0f);
    }
    bike_set_front_brake(b, brake);
    bike_set_rear_brake(b, brake);
    if (b->gear > 0) {
        bike_set_clutch(b, 1.0f);
    } else {
        const float rpm = b->engine_speed * (60.0f / (2.0f * pi));
        bike_set_clutch(b, clampf((rpm - (b->params.downshift_rpm - 1000.0f)) / 1000.0f, 0.0f, 1.0f));
    }
}

void follow_path(robot_state* rs, const world* w, int slot, bike* b, float u, const bike_view& view)
{
    const int now = w->race.tick;
    if (now - b->last_advance > 3 * k_second) {
        b->recovery = 3;
        robots_slot(rs, slot, b)->recoveries++;
        return;
    }
    // Crawling through a hairpin or behind a bike that stopped, the lean is
    // not chased and the steering cannot catch a fall: the rider puts a
    // foot down, as he does while recovering, so the dab holds the bike up
    // and a bike that goes over anyway is realigned instead of lying there.
    bike_set_sit_dab(b, view.speed < k_crawl_speed ? 1.0f : 0.0f);
    const line_point_list& path = b->path;
    const vec3 p = view.position;
    const float v = view.speed;
    int i0 = (int)u;
    i0 = i0 < path.count - 1 ? i0 : path.count - 1;
    float wanted = path_point_at(b, u).speed;

    // A jump ahead: the first pair of points ridden in the air.
    const int j = jump_ahead(b, i0);
    float to_jump = k_no_jump;
    if (j >= 0 && v > 0.001f)
        to_jump = (float)(j - i0) * 0.25f + length(sub(position_of(path.items[i0]), p)) / v;

    if (const bike* o = bike_to_yield_to(w, b, view))
        wanted = yield_to(w, b, view, o, wanted);

    // The aim point and how hard the lean is chased.
    float gain = 4.0f;
    float rate_limit = view.roll_rate_limit;
    vec3 aim;
    if (b->gate_progress < 1) {
        aim = position_of(path_point_at(b, u + 4.0f));
    } else {
        // Points lined up straight ahead: a straight, where the lean is
        // chased more gently.
        int straight = 0;
        for (int i = i0 + 1; i <= i0 + 6 && i < path.count; i++) {
            const vec3 e = v3(path.items[i].x - p.x, 0.0f, path.items[i].z - p.z);
            const float ahead = dot(e, view.travel);
            if (!(ahead > 0.0f && fabsf(dot(e, view.side)) <= 0.125f * ahead))
                break;
            straight++;
        }
        const float f = clampf((20.0f - (float)straight) / 17.0f, 0.0f, 1.0f);
        gain = 4.0f * f;
        rate_limit *= f;
        if (to_jump >= 2.0f) {
            aim = position_of(path_point_at(b, u + (straight > 4 && fabsf(view.roll) < pi / 8.0f ? 3.0f : 2.0f)));
        } else {
            // Turn toward the take-off direction of the jump.
            const float f2 = clampf((2.0f - to_jump) * 2.0f, 0.0f, 1.0f);
            const vec3 a = position_of(path_point_at(b, (float)(i0 + 3)));
            const vec3 takeoff = sub(position_of(path_point_at(b, (float)(j + 3))), position_of(path.items[j]));
            aim = add(a, scale(sub(add(p, takeoff), a), f2));
        }
    }

    // Off the line and pointing well away from it (knocked aside by
    // another bike, or picking up after a stop), the rider turns back
    // harder and before he opens up: at speed the lean needed to come back
    // takes longer to build than a lane is wide. On the line, as through a
    // hairpin, the aim may lie as far off without any of this.
    float turning_first = 0.0f;
    if (i0 >= 1) {
        const vec3 d = sub(aim, p);
        const float ahead = dot(d, view.travel), aside = fabsf(dot(d, view.side));
        const float off_heading = atan2f(aside, ahead);
        const line_point& a = path.items[i0 - 1];
        const line_point& n = path.items[i0];
        const float sx = n.x - a.x, sz = n.z - a.z, len = sqrtf(sx * sx + sz * sz);
        const float off_line = len > 0.001f ? fabsf((p.x - a.x) * sz - (p.z - a.z) * sx) / len : 0.0f;
        turning_first = clampf((off_heading - k_turn_first_angle) / (k_turn_first_full - k_turn_first_angle), 0.0f, 1.0f) *
                        clampf((off_line - k_turn_first_off) / k_turn_first_off, 0.0f, 1.0f);
        if (turning_first > 0.0f)
            wanted = fminf(wanted, k_turn_first_open - turning_first * (k_turn_first_open - k_turn_first_speed));
    }

    const float r = needed_radius(view, aim) / (1.0f + 2.0f * turning_first);
    float roll = atan2f(-v * v / r, k_gravity * view.load);
    if (grip_limit(w, b, view, i0, &roll)) {
        wanted = fminf(wanted, sqrtf(tanf(fabsf(roll)) * view.load * fabsf(r) * k_gravity));
        b->grip_limit_tick = now;
    }

    // Throttle scale: less while the front wheel slides.
    float k = 1.0f;
    float slide = 0.0f;
    if (b->front_contact.depth > 0.0f) {
        slide = length(b->front_contact.point_velocity);
        k = clampf((16.0f - slide) / 16.0f, 0.0f, 1.0f);
    }
    if (v < k_crawl_speed) {
        roll = 0.0f;
        k = 1.0f;
    } else if (v < 10.0f) {
        const float q = (v - k_crawl_speed) * 0.4f;
        roll *= q;
        k = 1.0f - (1.0f - k) * q;
    }
    if (to_jump < 3.0f) {
        // Up to the jump straight and at speed, the bike stood up.
        const float q = clampf((3.0f - to_jump) / 2.0f, 0.0f, 1.0f);
        k += (1.0f - k) * q;
        wanted += (fmaxf(v, fabsf(path.items[i0].speed) + 2.0f) - wanted) * q;
        const float most = pi / 2.0f - 1.3744469f * q;
        roll = clampf(roll, -most, most);
        rate_limit += (pi / 8.0f - rate_limit) * clampf((3.0f - to_jump) / 3.0f, 0.0f, 1.0f);
    }

    float rate = (roll - view.roll) * gain;
    if ((view.roll >= 0.0f && rate < 0.0f) || (view.roll < 0.0f && rate >= 0.0f))
        rate_limit *= 2.0f;
    rate = clampf(rate, -rate_limit, rate_limit);

    // The robot's own steering lock: the lock it needs for the roll rate
    // it asks for, full lock only when crawling.
    bike_set_full_lock_speed(b, 1.0f);
    bike_set_restricted_lock_speed(b, 50.0f);
    const float lock_degrees = 1.0f + 4.0f * clampf(fabsf(rate) / pi, 0.0f, 1.0f);
    bike_set_restricted_lock_angle(b, clampf(lock_degrees * (pi / 180.0f), 0.0f, pi / 4.0f));

    bike_set_steer(b, steer_command(b, view, rate, slide));
    speed_controller(b, view, wanted);

    // The throttle closes by at most 1/32 a tick, and opens by at most that
    // just after the grip limit acted.
    float t = k * b->throttle;
    const float previous = b->throttle_memory;
    if (now - b->grip_limit_tick < k_second / 8)
        t = clampf(t, 0.0f, previous + 0.03125f);
    else
        t = clampf(t, previous - 0.03125f, 1.0f);
    b->throttle_memory = t;
    bike_set_throttle(b, clampf(t, 0.0f, 1.0f));
}

namespace {

// Where a lost bike rejoins its line: the first point at least `reach`
// ahead of it, from the point nearest to it among those it has passed or
// is heading for. The target itself can lie a hairpin further on, across
// the infield, and the very nearest point can lie under the bike.
int rejoin_point(const bike* b, vec3 at, float reach)
{
    const line_point_list& path = b->path;
    const int last = b->target < path.count - 1 ? b->target : path.count - 1;
    int i = last;
    float best = 0.0f;
    for (int k = last; k >= 0 && k >= last - 40; k--) {
        const float d2 = horizontal_sq(path.items[k], at);
        if (k == last || d2 < best) {
            i = k;
            best = d2;
        }
    }
    while (i < last && !(horizontal_sq(path.items[i], at) >= reach * reach))
        i++;
    return i;
}

// ---- the way round -------------------------------------------------------------

// The helping hand walks the bike round what stands between it and its
// line: a bike that ran wide through a gap in a row of tuff blocks and
// stopped behind the row would otherwise be pressed against the blocks
// until it is carried. The ground around the front wheel is a grid of
// k_route_cell squares, k_route_cells across; a square is taken when it
// lies within k_route_clearance of a statue's sphere at riding height.
const float k_route_cell = 2.0f;
const int k_route_cells = 64;
const float k_route_clearance = 1.5f;
const float k_route_height = 4.0f;
// What a step across a taken square costs, in steps round it.
const int k_route_through = 25;
// How many squares ahead along the way the wheel is led to.
const int k_route_lead = 3;

struct route_grid {
    float x0 = 0, z0 = 0;
    std::vector<unsigned char> taken;
    std::vector<int> cost;

    bool cell_of(float x, float z, int* i, int* j) const
    {
        const float fi = floorf((x - x0) / k_route_cell), fj = floorf((z - z0) / k_route_cell);
        if (!(fi >= 0.0f && fi < (float)k_route_cells && fj >= 0.0f && fj < (float)k_route_cells))
            return false;
        *i = (int)fi;
        *j = (int)fj;
        return true;
    }
    vec3 centre(int cell) const
    {
        return v3(x0 + ((float)(cell % k_route_cells) + 0.5f) * k_route_cell, 0.0f,
                  z0 + ((float)(cell / k_route_cells) + 0.5f) * k_route_cell);
    }
};

// Marks the squares the statues near `at` take. True when any is taken.
bool mark_statues(const world* w, vec3 at, route_grid* g)
{
    const heightfield* hf = &w->track.heightfield;
    const track_objects* objects = &w->track.objects;
    g->taken.assign((size_t)k_route_cells * k_route_cells, 0);
    if (objects->statues.count == 0 || !hf->heights)
        return false;
    // Robots may be driven on several threads at once.
    thread_local std::vector<int> near;
    const float half = 0.5f * (float)k_route_cells * k_route_cell;
    statues_near_into(objects, hf, at.x, at.z, half + 4.0f, &near);
    bool any = false;
    for (int index : near) {
        if (index < 0 || index >= objects->statues.count)
            continue;
        const statue& s = objects->statues.items[index];
        if (!s.shape)
            continue;
        double rot[12];
        statue_physics_rotation(&s, rot);
        for (int k = 0; k < s.shape->sphere_count; k++) {
            const shape_sphere& sp = s.shape->spheres[k];
            const float cx = (float)(rot[0] * sp.x + rot[1] * sp.y + rot[2] * sp.z) + s.x;
            const float cy = (float)(rot[4] * sp.x + rot[5] * sp.y + rot[6] * sp.z) + s.y;
            const float cz = (float)(rot[8] * sp.x + rot[9] * sp.y + rot[10] * sp.z) + s.z;
            if (!(cy - sp.radius < heightfield_height_at(hf, cx, cz) + k_route_height))
                continue;
            const float reach = sp.radius + k_route_clearance;
            int i0, j0, i1, j1;
            if (!g->cell_of(fmaxf(cx - reach, g->x0), fmaxf(cz - reach, g->z0), &i0, &j0))
                continue;
            const float far = g->x0 + (float)k_route_cells * k_route_cell - 0.001f;
            const float far_z = g->z0 + (float)k_route_cells * k_route_cell - 0.001f;
            if (!g->cell_of(fminf(cx + reach, far), fminf(cz + reach, far_z), &i1, &j1))
                continue;
            for (int j = j0; j <= j1; j++)
                for (int i = i0; i <= i1; i++) {
                    const vec3 c = g->centre(j * k_route_cells + i);
                    const float dx = c.x - cx, dz = c.z - cz;
                    if (dx * dx + dz * dz < reach * reach) {
                        g->taken[(size_t)j * k_route_cells + i] = 1;
                        any = true;
                    }
                }
        }
    }
    return any;
}

// Whether the straight way from a to b crosses no taken square.
bool clear_between(const route_grid& g, vec3 a, vec3 b)
{
    const float dx = b.x - a.x, dz = b.z - a.z;
    const int steps = 1 + (int)(sqrtf(dx * dx + dz * dz) / (0.5f * k_route_cell));
    for (int k = 1; k <= steps; k++) {
        const float f = (float)k / (float)steps;
        int i, j;
        if (!g.cell_of(a.x + dx * f, a.z + dz * f, &i, &j))
            return true;
        if (g.taken[(size_t)j * k_route_cells + i])
            return false;
    }
    return true;
}

}  // namespace

vec3 push_toward(const world* w, vec3 from, const vec3* goals, int goal_count, int preferred)
{
    const vec3 straight = goals[preferred];
    thread_local route_grid g;
    const float half = 0.5f * (float)k_route_cells * k_route_cell;
    g.x0 = from.x - half;
    g.z0 = from.z - half;
    if (!mark_statues(w, from, &g))
        return straight;
    int si, sj;
    if (!g.cell_of(from.x, from.z, &si, &sj))
        return straight;
    // Its own square may be taken: the wheel is pressed against the block.
    g.taken[(size_t)sj * k_route_cells + si] = 0;
    if (clear_between(g, from, straight))
        return straight;

    // The cost of the way from each square to the line: 2 a side step, 3 a
    // diagonal one, starting from every point of the line in the grid at
    // twice its distance in points from the preferred one.
    const int n = k_route_cells * k_route_cells;
    const int unreached = 1 << 30;
    g.cost.assign((size_t)n, unreached);
    typedef std::pair<int, int> entry;  // cost, square
    std::priority_queue<entry, std::vector<entry>, std::greater<entry>> open;
    for (int k = 0; k < goal_count; k++) {
        int i, j;
        if (!g.cell_of(goals[k].x, goals[k].z, &i, &j) || g.taken[(size_t)j * k_route_cells + i])
            continue;
        const int cell = j * k_route_cells + i;
        const int c = 2 * (k > preferred ? k - preferred : preferred - k);
        if (c < g.cost[(size_t)cell]) {
            g.cost[(size_t)cell] = c;
            open.push(entry(c, cell));
        }
    }
    static const int di[8] = {1, -1, 0, 0, 1, 1, -1, -1};
    static const int dj[8] = {0, 0, 1, -1, 1, -1, 1, -1};
    while (!open.empty()) {
        const entry e = open.top();
        open.pop();
        if (e.first > g.cost[(size_t)e.second])
            continue;
        const int i = e.second % k_route_cells, j = e.second / k_route_cells;
        for (int d = 0; d < 8; d++) {
            const int ni = i + di[d], nj = j + dj[d];
            if (ni < 0 || nj < 0 || ni >= k_route_cells || nj >= k_route_cells)
                continue;
            const int cell = nj * k_route_cells + ni;
            // Through a statue only when there is no way round nearby: a
            // wheel wedged between two blocks has to come out somewhere.
            const int c = e.first + (d < 4 ? 2 : 3) * (g.taken[(size_t)cell] ? k_route_through : 1);
            if (c < g.cost[(size_t)cell]) {
                g.cost[(size_t)cell] = c;
                open.push(entry(c, cell));
            }
        }
    }
    int at = sj * k_route_cells + si;
    if (g.cost[(size_t)at] >= unreached)
        return straight;
    // A few squares down the way, so the wheel is not led square by square,
    // but no further than it sees from where it is: round a row's end, not
    // across it.
    int lead = -1;
    for (int step = 0; step < k_route_lead && g.cost[(size_t)at] > 0; step++) {
        const int i = at % k_route_cells, j = at / k_route_cells;
        int next = at;
        for (int d = 0; d < 8; d++) {
            const int ni = i + di[d], nj = j + dj[d];
            if (ni < 0 || nj < 0 || ni >= k_route_cells || nj >= k_route_cells)
                continue;
            const int cell = nj * k_route_cells + ni;
            if (g.cost[(size_t)cell] < g.cost[(size_t)next])
                next = cell;
        }
        if (next == at || (lead >= 0 && !clear_between(g, from, g.centre(next))))
            break;
        at = next;
        lead = at;
    }
    return g.centre(lead >= 0 ? lead : at);
}

void carry_to(const world* w, bike* b, vec3 at, vec3 ahead)
{
    const float dx = ahead.x - at.x, dz = ahead.z - at.z;
    // Facing (-sin a, -cos a) along the line; the way the frame faces (its
    // minus z axis) when the line gives no direction.
    const vec3 back = frame_axis(b, 2);
    const float angle = dx * dx + dz * dz > 0.0f ? atan2f(-dx, -dz) : atan2f(back.x, back.z);
    set_bike_down(b, &w->track.heightfield, at.x, at.z, angle,
                        heightfield_height_at(&w->track.heightfield, at.x, at.z));
    b->gear = 0;
}

bool recover_toward(robot_slot* s, const world* w, bike* b, const bike_view& view, vec3 toward,
                    const vec3* rejoin_goals, int goal_count, int rejoin, bool jump_near)
{
    const int now = w->race.tick;
    const int lost = now - b->last_advance;
    if (b->stuck_tick < b->last_advance && lost > k_stuck_push * k_second && view.speed < k_stuck_speed &&
        b->crash_timer <= 0) {
        b->stuck_tick = now;
        if (lost <= 19 * k_second)
            s->pushes++;
    }
    const bool stuck = b->stuck_tick >= b->last_advance;
    if (lost <= 19 * k_second && !stuck) {
        bike_set_sit_dab(b, 0.0f);
        float most = 0.5f, wanted = 15.0f;
        const float v = view.speed;
        if (v < 10.0f) {
            bike_set_sit_dab(b, 1.0f);
            most = 1.0f / 6.0f;
            wanted = fabsf(view.roll) > 1.0f / 6.0f ? 5.0f : 15.0f;
        } else if (v < 20.0f) {
            most = (((v - 10.0f) * 0.1f * 2.0f / 3.0f) + 1.0f / 3.0f) * 0.5f;
        }
        const vec3 d = sub(toward, view.position);
        const float across = dot(d, frame_axis(b, 0));
        const float along = dot(d, frame_axis(b, 2));
        float lean;
        if (fabsf(across) > -along)
            lean = across >= 0.0f ? -most : most;
        else
            lean = clampf(0.5f * across / along, -most, most);
        bike_set_steer(b, clampf(2.0f * (view.roll_rate - clampf(4.0f * (lean - view.roll), -4.0f, 4.0f)), -1.0f, 1.0f));
        speed_controller(b, view, wanted);
        return -along < 4.0f * fabsf(across) || jump_near;
    }
    if (lost == 19 * k_second + 1 && !stuck)
        s->pushes++;
    // The helping hand: the front wheel is led back onto the line just
    // ahead of where the bike stands and half the bike's weight is carried.
    dBodyID front = b->bodies[body_front_wheel];
    const dReal* fp = dBodyGetPosition(front);
    const vec3 to = push_toward(w, v3((float)fp[0], (float)fp[1], (float)fp[2]), rejoin_goals, goal_count, rejoin);
    const float dx = (float)fp[0] - to.x, dz = (float)fp[2] - to.z;
    const float len = sqrtf(dx * dx + dz * dz);
    if (len > 0.001f)
        horizontal_hold(front, v3(-5.0f * dx / len, 0.0f, -5.0f * dz / len), 2000.0f);
    dBodyAddForce(b->bodies[body_frame], 0.0, 16.0 * b->total_mass, 0.0);
    const float angle = (float)dJointGetHingeAngle(b->joints[joint_steering_head]);
    const float angle_rate = (float)dJointGetHingeAngleRate(b->joints[joint_steering_head]);
    bike_set_steer(b, clampf(-(angle + angle_rate) * 0.25f, -1.0f, 1.0f));
    bike_set_sit_dab(b, 1.0f);
    bike_set_throttle(b, 0.0f);
    bike_set_clutch(b, 0.0f);
    bike_set_front_brake(b, 0.0f);
    bike_set_rear_brake(b, 0.0f);
    return true;
}

namespace {

// A bike caught beyond help set down on its path at its target, facing
// along the path (which holds at least two points).
void carry_to_target(const world* w, bike* b)
{
    const line_point_list& path = b->path;
    const int at = b->target < path.count - 1 ? b->target : path.count - 2;
    carry_to(w, b, position_of(path.items[at]), position_of(path.items[at + 1]));
}

}  // namespace

void recover(robot_state* rs, const world* w, int slot, bike* b, float u, const bike_view& view)
{
    const int now = w->race.tick;
    robot_slot* s = robots_slot(rs, slot, b);
    const line_point_list& path = b->path;
    if (now - b->last_advance > 40 * k_second) {
        // Long lost: start again from another point of the path.
        b->recovery = 3;
        b->target = rejoin_point(b, view.position, k_rejoin_reach);
        b->last_advance = now;
        s->restarts++;
        // Still standing after 21 s of pushing, or still off its line and
        // only rocking where it is caught, the bike is held by something
        // (a block of the course's edge, a bank): it is carried onto the
        // line there and set down upright, as a marshal would.
        const bool off_line =
            !(horizontal_sq(path.items[rejoin_point(b, view.position, 0.0f)], view.position) <
              k_rejoin_reach * k_rejoin_reach);
        if ((view.speed < k_stuck_speed || off_line) && path.count > 1) {
            carry_to_target(w, b);
            return;
        }
    }
    // Pushed a while and standing still where it was caught (high on a
    // block, a wheel wedged between two), the helpers lift it onto its
    // line rather than go on pushing it against what holds it.
    const int lost = now - b->last_advance;
    const bool stuck = b->stuck_tick >= b->last_advance;
    const int pushed = stuck ? now - b->stuck_tick : lost - 19 * k_second;
    if ((stuck || lost > 19 * k_second) && pushed > k_lift_after * k_second && view.speed < k_stuck_speed &&
        b->crash_timer <= 0 && path.count > 1) {
        b->target = rejoin_point(b, view.position, k_rejoin_reach);
        carry_to_target(w, b);
        b->last_advance = now;
        b->recovery = 3;
        s->lifts++;
        return;
    }
    int i0 = (int)u;
    i0 = i0 < path.count - 1 ? i0 : path.count - 1;
    const int j = jump_ahead(b, i0);
    const vec3 toward = position_of(path.items[b->target]);
    // The point to rejoin and the line's points around it, which the push
    // may lead to instead when the way to it is blocked.
    const int rejoin = rejoin_point(b, view.position, k_rejoin_reach);
    const int first = rejoin > k_rejoin_behind ? rejoin - k_rejoin_behind : 0;
    const int last = rejoin + k_rejoin_ahead < path.count - 1 ? rejoin + k_rejoin_ahead : path.count - 1;
    vec3 goals[k_rejoin_behind + k_rejoin_ahead + 1];
    for (int k = first; k <= last; k++)
        goals[k - first] = position_of(path.items[k]);
    if (recover_toward(s, w, b, view, toward, goals, last - first + 1, rejoin - first, j >= 0 && j <= i0 + 8) &&
        now - b->last_advance <= 19 * k_second && b->stuck_tick < b->last_advance)
        b->recovery = 3;
}

}  // namespace autopilot
