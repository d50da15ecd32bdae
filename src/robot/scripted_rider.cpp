// The scripted rider: path geometry, the speed profile and the controller.
#include "robot/scripted_rider.h"

#include <ode/ode.h>

#include <algorithm>
#include <cmath>

#include "bike/bike.h"
#include "bike/controls.h"
#include "bike/physics.h"
#include "bike/rider.h"

namespace {

const float PI = 3.14159265358979f;
const float GRAVITY = 32.0f;

float clampf(float v, float lo, float hi)
{
    return v < lo ? lo : (v > hi ? hi : v);
}

int point_count(const rider_path& p)
{
    return (int)p.points.size();
}

bool has_loop(const rider_path& p)
{
    return p.loop_start >= 0 && p.loop_start < point_count(p);
}

float horizontal_distance_sq(const rider_path_point& q, float x, float z)
{
    const float dx = q.x - x, dz = q.z - z;
    return dx * dx + dz * dz;
}

int step_forward(const rider_path& p, int i, int steps)
{
    for (int k = 0; k < steps; k++)
        i = rider_path_next(p, i);
    return i;
}

int step_back(const rider_path& p, int i, int steps)
{
    for (int k = 0; k < steps; k++)
        i = rider_path_prev(p, i);
    return i;
}

// Unit tangent (direction of travel) at point i, horizontal.
void tangent_at(const rider_path& p, int i, float* tx, float* tz)
{
    const rider_path_point& a = p.points[(size_t)rider_path_prev(p, i)];
    const rider_path_point& b = p.points[(size_t)rider_path_next(p, i)];
    float dx = b.x - a.x, dz = b.z - a.z;
    const float len = std::sqrt(dx * dx + dz * dz);
    if (len > 1e-6f) {
        dx /= len;
        dz /= len;
    } else {
        dx = 0;
        dz = -1;
    }
    *tx = dx;
    *tz = dz;
}

// Height curvature at point i over `span` steps either side (1/ft; negative
// on a crest).
float vertical_curvature(const rider_path& p, int i, int span)
{
    const int a = step_back(p, i, span), b = step_forward(p, i, span);
    if (a == i || b == i)
        return 0.0f;
    const float run = (float)span * p.step;
    const float y0 = p.points[(size_t)a].y, y1 = p.points[(size_t)i].y, y2 = p.points[(size_t)b].y;
    return (y2 - 2.0f * y1 + y0) / (run * run);
}

struct frame_state {
    float px, py, pz;       // frame position
    float vx, vy, vz;       // frame velocity
    float fx, fy, fz;       // forward (the frame's -z axis)
    float roll;             // positive leaning left
    float roll_rate;        // about the frame's z axis, positive rolling left
    float pitch;            // nose up positive
};

frame_state read_frame(const bike* b)
{
    frame_state s;
    const dBodyID frame = b->bodies[body_frame];
    const dReal* p = dBodyGetPosition(frame);
    const dReal* v = dBodyGetLinearVel(frame);
    const dReal* r = dBodyGetRotation(frame);
    s.px = (float)p[0];
    s.py = (float)p[1];
    s.pz = (float)p[2];
    s.vx = (float)v[0];
    s.vy = (float)v[1];
    s.vz = (float)v[2];
    // Columns of the rotation are the frame's axes in the world.
    s.fx = (float)-r[2];
    s.fy = (float)-r[6];
    s.fz = (float)-r[10];
    s.roll = bike_roll(b);
    s.roll_rate = bike_roll_rate(b);
    s.pitch = std::asin(clampf(s.fy, -1.0f, 1.0f));
    return s;
}

// Looks for the nearest point near the current one: a few points back and
// enough ahead for any speed within one tick. Counts the laps crossed.
void track_position(scripted_rider* r, float x, float z)
{
    const rider_path& p = *r->path;
    const int n = point_count(p);
    const int ahead = 48, back = 12;
    int best = r->index, best_laps = 0;
    float best_d = horizontal_distance_sq(p.points[(size_t)r->index], x, z);
    int i = r->index, laps = 0;
    for (int k = 0; k < ahead; k++) {
        const int j = rider_path_next(p, i);
        if (j == i)
            break;
        if (p.closed && i == n - 1 && j == p.loop_start)
            laps++;
        i = j;
        const float d = horizontal_distance_sq(p.points[(size_t)i], x, z);
        if (d < best_d) {
            best_d = d;
            best = i;
            best_laps = laps;
        }
    }
    i = r->index;
    laps = 0;
    for (int k = 0; k < back; k++) {
        const int j = rider_path_prev(p, i);
        if (j == i)
            break;
        if (p.closed && i == p.loop_start && j == n - 1)
            laps--;
        i = j;
        const float d = horizontal_distance_sq(p.points[(size_t)i], x, z);
        if (d < best_d) {
            best_d = d;
            best = i;
            best_laps = laps;
        }
    }
    r->lost = false;
    const float lost = r->settings.lost_distance;
    if (best_d > lost * lost && has_loop(p)) {
        // Thrown off the path: look again over the whole loop.
        best = rider_path_nearest(p, x, z, false);
        best_laps = 0;
        best_d = horizontal_distance_sq(p.points[(size_t)best], x, z);
        r->lost = true;
    }
    r->index = best;
    r->laps += best_laps;
    r->distance = std::sqrt(best_d);
}

}  // namespace

int rider_path_next(const rider_path& p, int i)
{
    const int n = point_count(p);
    if (i + 1 < n)
        return i + 1;
    return p.closed && has_loop(p) ? p.loop_start : n - 1;
}

int rider_path_prev(const rider_path& p, int i)
{
    if (i == p.loop_start && p.closed && has_loop(p))
        return point_count(p) - 1;
    return i > 0 ? i - 1 : 0;
}

float rider_path_curvature(const rider_path& p, int i, int span)
{
    const int a = step_back(p, i, span), b = step_forward(p, i, span);
    const rider_path_point &p0 = p.points[(size_t)a], &p1 = p.points[(size_t)i], &p2 = p.points[(size_t)b];
    const float d1x = p1.x - p0.x, d1z = p1.z - p0.z;
    const float d2x = p2.x - p1.x, d2z = p2.z - p1.z;
    const float ex = p2.x - p0.x, ez = p2.z - p0.z;
    const float l1 = std::sqrt(d1x * d1x + d1z * d1z), l2 = std::sqrt(d2x * d2x + d2z * d2z);
    const float l3 = std::sqrt(ex * ex + ez * ez);
    if (!(l1 > 1e-6f) || !(l2 > 1e-6f) || !(l3 > 1e-6f))
        return 0.0f;
    // Positive when the second piece turns to the right of the first: with
    // the tangent (tx, tz) the right-hand side is (-tz, tx).
    const float cross = d1x * d2z - d1z * d2x;
    return 2.0f * cross / (l1 * l2 * l3);
}

int rider_path_nearest(const rider_path& p, float x, float z, bool in_lead_in)
{
    const int n = point_count(p);
    if (n == 0)
        return -1;
    int from = 0, to = n;
    if (in_lead_in && p.loop_start > 0)
        to = std::min(p.loop_start, n);
    else if (has_loop(p))
        from = p.loop_start;
    int best = from;
    float best_d = horizontal_distance_sq(p.points[(size_t)from], x, z);
    for (int i = from + 1; i < to; i++) {
        const float d = horizontal_distance_sq(p.points[(size_t)i], x, z);
        if (d < best_d) {
            best_d = d;
            best = i;
        }
    }
    return best;
}

float rider_path_lateral(const rider_path& p, int i, float x, float z)
{
    float tx, tz;
    tangent_at(p, i, &tx, &tz);
    const rider_path_point& q = p.points[(size_t)i];
    // The right-hand direction of (tx, tz) is (-tz, tx).
    return (x - q.x) * -tz + (z - q.z) * tx;
}

vec3 rider_path_point_ahead(const rider_path& p, int i, float distance, float lane)
{
    const int target = step_forward(p, i, (int)std::ceil(distance / p.step));
    const rider_path_point& tp = p.points[(size_t)target];
    float tx, tz;
    tangent_at(p, target, &tx, &tz);
    if (tp.width > 0.0f) {
        const float room = std::max(0.0f, 0.5f * tp.width - 2.0f);
        lane = clampf(lane, -room, room);
    }
    return vec3{tp.x - tz * lane, tp.y, tp.z + tx * lane};
}

void rider_plan_speeds(const rider_path& p, const scripted_rider_settings& s, std::vector<float>* speeds)
{
    const int n = point_count(p);
    speeds->assign((size_t)n, s.cruise_speed);
    if (n < 3)
        return;
    // What each point allows on its own: the curve (the sharpest within a
    // few points either side), the crest, its own limit.
    std::vector<float> curvature((size_t)n);
    for (int i = 0; i < n; i++)
        curvature[(size_t)i] = std::fabs(rider_path_curvature(p, i, 3));
    for (int i = 0; i < n; i++) {
        float k = curvature[(size_t)i];
        int a = i, b = i;
        for (int w = 0; w < 4; w++) {
            a = rider_path_prev(p, a);
            b = rider_path_next(p, b);
            k = std::max(k, std::max(curvature[(size_t)a], curvature[(size_t)b]));
        }
        float v = s.cruise_speed;
        if (k > 1e-6f)
            v = std::min(v, std::sqrt(s.lateral_accel / k));
        const float kv = vertical_curvature(p, i, 2);
        if (kv < -1e-6f)
            v = std::min(v, std::sqrt(s.crest_accel / -kv));
        v = std::max(v, std::min(s.min_speed, s.cruise_speed));
        const float limit = p.points[(size_t)i].speed_limit;
        if (limit > 0.0f)
            v = std::min(v, limit);
        (*speeds)[(size_t)i] = v;
    }
    // Slow down in time: no point faster than the braking allows to reach
    // the points after it. The loop twice round, so its end sees its start;
    // then the lead-in toward the loop.
    const float two_a_step = 2.0f * s.braking * p.step;
    auto limit_by_next = [&](int i) {
        const float next = (*speeds)[(size_t)rider_path_next(p, i)];
        float& v = (*speeds)[(size_t)i];
        v = std::min(v, std::sqrt(next * next + two_a_step));
    };
    if (has_loop(p)) {
        for (int round = 0; round < (p.closed ? 2 : 1); round++)
            for (int i = n - 1; i >= p.loop_start; i--)
                limit_by_next(i);
    }
    for (int i = std::min(p.loop_start, n) - 1; i >= 0; i--)
        limit_by_next(i);
}

bool scripted_rider_start(scripted_rider* r, const rider_path* path, const scripted_rider_settings& settings,
                          const bike* b)
{
    if (!path || point_count(*path) < 3 || !(path->step > 0.0f))
        return false;
    r->path = path;
    r->settings = settings;
    rider_plan_speeds(*path, settings, &r->target_speed);
    r->laps = 0;
    r->lean_integral = 0;
    const frame_state f = read_frame(b);
    int at = -1;
    if (path->loop_start > 0) {
        at = rider_path_nearest(*path, f.px, f.pz, true);
        const float lost = settings.lost_distance;
        if (horizontal_distance_sq(path->points[(size_t)at], f.px, f.pz) > lost * lost && has_loop(*path))
            at = -1;
    }
    if (at < 0)
        at = rider_path_nearest(*path, f.px, f.pz, false);
    r->index = at;
    r->distance = std::sqrt(horizontal_distance_sq(path->points[(size_t)at], f.px, f.pz));
    r->lost = false;
    return true;
}

control_input scripted_rider_drive(scripted_rider* r, const bike* b)
{
    control_input c;
    c.clutch = 1;
    if (!r->path || r->index < 0)
        return c;
    const rider_path& p = *r->path;
    const scripted_rider_settings& s = r->settings;
    const frame_state f = read_frame(b);
    track_position(r, f.px, f.pz);

    if (b->crash_timer > 0) {
        // Down: let go and wait to be put back on the bike.
        r->lean_integral = 0;
        return c;
    }

    const bool front_down = b->front_contact.depth > 0.0f;
    const bool rear_down = b->rear_contact.depth > 0.0f;
    const bool airborne = !front_down && !rear_down;
    const float speed_h = std::sqrt(f.vx * f.vx + f.vz * f.vz);
    const float forward_speed = f.vx * f.fx + f.vy * f.fy + f.vz * f.fz;

    // ---- where to: the look-ahead point, shifted into the rider's lane.
    const float look = std::max(s.min_look_ahead, s.look_ahead_time * speed_h);
    const vec3 aim = rider_path_point_ahead(p, r->index, look, s.lane_offset);
    const float aim_x = aim.x, aim_z = aim.z;

    // ---- heading: the way the bike moves, or at walking pace the way it
    // points.
    float hx, hz;
    if (speed_h > 4.0f) {
        hx = f.vx / speed_h;
        hz = f.vz / speed_h;
    } else {
        const float len = std::sqrt(f.fx * f.fx + f.fz * f.fz);
        hx = len > 1e-6f ? f.fx / len : 0.0f;
        hz = len > 1e-6f ? f.fz / len : -1.0f;
    }
    const float dx = aim_x - f.px, dz = aim_z - f.pz;
    const float dist = std::max(std::sqrt(dx * dx + dz * dz), 1.0f);
    // Positive when the aim lies to the right of the heading.
    float sin_a = (hx * dz - hz * dx) / dist;
    const float cos_a = (hx * dx + hz * dz) / dist;
    if (cos_a < 0.0f)
        sin_a = sin_a >= 0.0f ? 1.0f : -1.0f;   // behind: turn as hard as the curve allows
    const float curvature = 2.0f * sin_a / dist;   // pure pursuit, positive right

    // ---- steering: the lean that turns at that curvature (a right turn
    // leans right, negative roll), its command, and feedback on the lean.
    const float want_roll = clampf(-std::atan(speed_h * speed_h * curvature / GRAVITY), -s.max_lean, s.max_lean);
    const float error = f.roll - want_roll;
    if (!airborne && speed_h > 8.0f) {
        const float cap = s.steer_integral_gain > 0.0f ? 0.5f / s.steer_integral_gain : 0.0f;
        r->lean_integral = clampf(r->lean_integral + error * physics_tick, -cap, cap);
    }
    // The command that asks for a lean: -pi/4 of lean per unit of steer,
    // positive steer leaning right.
    float lean_steer = s.steer_feed * (-want_roll) / (PI / 4.0f) + s.steer_lean_gain * error +
                       s.steer_rate_gain * f.roll_rate + s.steer_integral_gain * r->lean_integral;
    // At walking pace a bike turns where the bars point: toward the aim.
    const float direct_steer = -2.0f * std::asin(clampf(sin_a, -1.0f, 1.0f));
    const float blend = clampf((speed_h - 4.0f) / 6.0f, 0.0f, 1.0f);
    c.steer = clampf(blend * lean_steer + (1.0f - blend) * direct_steer, -1.0f, 1.0f);

    // ---- speed: the slowest target between here and a quarter second on.
    const int preview = std::max(1, (int)std::lround(std::max(forward_speed, 0.0f) * 0.25f / p.step));
    float want_speed = r->target_speed[(size_t)r->index];
    for (int k = 0, i = r->index; k < preview; k++) {
        i = rider_path_next(p, i);
        want_speed = std::min(want_speed, r->target_speed[(size_t)i]);
    }
    const float e = want_speed - forward_speed;
    float brake = 0.0f;
    if (e < -s.brake_margin)
        brake = clampf(s.brake_gain * (-e - s.brake_margin), 0.0f, 1.0f);
    c.throttle = brake > 0.0f ? 0.0f : clampf(s.throttle_gain * (e + 2.5f), 0.0f, 1.0f);
    // Front wheel up while the rear drives: ease off before it loops.
    if (!front_down && rear_down && f.pitch > 0.35f)
        c.throttle *= 0.5f;
    if (airborne)
        brake = 0.0f;
    // Less front brake the further the bike leans.
    c.front_brake = brake * clampf(1.0f - std::fabs(f.roll) / std::max(s.max_lean, 0.1f), 0.3f, 1.0f);
    c.rear_brake = brake;
    c.clutch = 1.0f;
    // Weight back under braking, forward under hard throttle.
    c.lean = clampf(0.5f * brake - std::max(c.throttle - 0.6f, 0.0f), -0.5f, 0.5f);
    return c;
}

float scripted_rider_progress(const scripted_rider* r)
{
    if (!r->path || r->index < 0)
        return 0.0f;
    const rider_path& p = *r->path;
    const float loop = (float)(point_count(p) - p.loop_start) * p.step;
    return (float)r->laps * loop + (float)(r->index - p.loop_start) * p.step;
}

void ride_command_apply(const control_input& c, bike* b)
{
    // Through the bike's setters, so their rules hold (ranges, numbers
    // that are not numbers, nothing while a crash runs).
    bike_set_throttle(b, c.throttle);
    bike_set_clutch(b, c.clutch);
    bike_set_front_brake(b, c.front_brake);
    bike_set_rear_brake(b, c.rear_brake);
    bike_set_steer(b, c.steer);
    bike_set_lean(b, c.lean);
}
