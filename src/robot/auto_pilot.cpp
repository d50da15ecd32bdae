// The auto pilot's tick: the aids it rides with, the target moving along
// the path, picking and splicing the next racing line, the start at the
// gate and the coast-down after the finish. The controllers that follow
// the path are in auto_pilot_drive.cpp.
#include "robot/auto_pilot.h"

#include <cmath>
#include <cstring>

#include "bike/catalogue.h"
#include "bike/controls.h"
#include "platform/log.h"
#include "race/gates.h"
#include "race/race.h"
#include "race/world.h"
#include "robot/auto_pilot_internal.h"
#include "robot/centre_line.h"
#include "robot/robots.h"

using namespace vecmath;
using namespace autopilot;

namespace {

const robot_personality k_personalities[PERSONALITY_COUNT] = {
    {"empty", 0, 0, 0.0f, 0.0f, 0.0f},
    {"kestrel", 0, 0, 1.0f, 0.2f, 0.4f},
    {"osprey", 1, 2, 10.0f, 0.2f, 0.4f},
    {"merlin", 0, 1, 10.0f, 0.0f, 0.1f},
    {"tester", 3, 3, 1.0f, 0.2f, 0.4f},
};

const int k_second = RACE_TICKS_PER_SECOND;
const float k_ready_time = 5.0f;        // s after the reset: the robots stop blipping
const int k_first_advance = 30 * k_second;

// Uniform in [0, 1) from the world's generator (top bit cleared, 2^-31).
float uniform(world* w)
{
    return (float)((double)(w->physics.rng() & 0x7fffffffu) * (1.0 / 2147483648.0));
}

float horizontal_sq(const line_point& a, float x, float z)
{
    const float dx = a.x - x, dz = a.z - z;
    return dx * dx + dz * dz;
}

// ---- the start ------------------------------------------------------------------

// Standing at the gate: seated, on both brakes, clutch out, in second gear.
void hold(bike* b)
{
    bike_set_sit_dab(b, 1.0f);
    bike_set_auto_shift(b, 0);
    bike_set_clutch(b, 0.0f);
    bike_set_front_brake(b, 1.0f);
    bike_set_rear_brake(b, 1.0f);
    bike_set_steer(b, 0.0f);
    b->gear = b->params.gear_ratio[1] > 0.0f ? 1 : 0;
}

// The robot at the gate: revs in blips until the ready time, holds full
// throttle against the disengaged clutch until the drop plus its reaction
// time, then lets the clutch in over a quarter second. False once the
// launch is over and the bike rides.
bool start_sequence(world* w, bike* b, float now, float drop)
{
    float& l = b->launch_time;
    if (l == 0.0f)
        l = (float)((double)(w->physics.rng() & 0x7fffffffu) * (1.0 / 1073741824.0));
    if (now < k_ready_time) {
        hold(b);
        if (l < 0.0f) {
            bike_set_throttle(b, 1.0f);
            if (now > -l)
                l = fminf(now + 2.0f + 0.5f * uniform(w), k_ready_time);
        } else {
            bike_set_throttle(b, 0.0f);
            if (now > l)
                l = -(now + 0.25f + 0.5f * uniform(w));
        }
        return true;
    }
    if (l <= k_ready_time)
        l = k_ready_time + 0.125f + 0.375f * uniform(w);
    if (l < drop) {
        if (now < l) {
            hold(b);
            bike_set_throttle(b, 0.0f);
            return true;
        }
        const robot_personality* p = robot_personality_of(b->personality);
        l = drop + p->reaction_min + (p->reaction_max - p->reaction_min) * uniform(w);
    }
    if (now < l) {
        hold(b);
        bike_set_throttle(b, 1.0f);
        return true;
    }
    if (now < l + 2.0f) {
        const float x = now - l;
        const float a = clampf(4.0f * x, 0.0f, 1.0f);
        if (4.0f * x >= 0.75f) {
            bike_set_auto_shift(b, 1);
        } else {
            bike_set_auto_shift(b, 0);
            b->gear = b->params.gear_ratio[1] > 0.0f ? 1 : 0;
        }
        bike_set_throttle(b, 1.0f);
        bike_set_sit_dab(b, 1.0f - a);
        bike_set_clutch(b, a);
        bike_set_front_brake(b, 0.0f);
        bike_set_rear_brake(b, 0.0f);
        bike_set_steer(b, 0.0f);
        return true;
    }
    return false;
}

// Stopped where the path ends.
void stand(bike* b)
{
    bike_set_throttle(b, 0.0f);
    bike_set_clutch(b, 0.0f);
    bike_set_front_brake(b, 1.0f);
    bike_set_rear_brake(b, 1.0f);
    bike_set_steer(b, 0.0f);
    bike_set_sit_dab(b, 1.0f);
}

// ---- the target ----------------------------------------------------------------

void advance_target(bike* b, const bike_view& view, int now)
{
    line_point_list& path = b->path;
    if (b->target >= path.count)
        return;
    const line_point& y = path.items[b->target];
    const float d2 = horizontal_sq(y, view.position.x, view.position.z);
    const float reach = b->recovery == 3 ? 30.0f : 60.0f;
    if (!(d2 < reach * reach))
        return;
    // A bike facing away from its line does not run through the points.
    if (d2 > 16.0f && b->target > 0) {
        const line_point& x = path.items[b->target - 1];
        const float sx = y.x - x.x, sz = y.z - x.z;
        if (sx * sx + sz * sz > 1.0f && sx * view.forward.x + sz * view.forward.z < 0.0f)
            return;
    }
    b->target++;
    b->last_advance = now;
    if (b->target >= path.count) {
        path.count = 0;
        b->target = 0;
    }
    if (b->recovery > 0)
        b->recovery--;
}

// ---- picking a line ----------------------------------------------------------------

// The lap plan the robot rides by: its leader's plan while it leads the
// second rider by more than its personality's threshold.
int plan_of(const world* w, int slot, const bike* b)
{
    const robot_personality* p = robot_personality_of(b->personality);
    int gap = 0;
    const race_state& race = w->race;
    if (race.ranking_count >= 2 && race.ranking[0].slot == slot) {
        const bike* second = race.slots[race.ranking[1].slot].b;
        if (second) {
            const int g = second->gate_progress - 1;
            const int theirs = gate_time(second, g), ours = gate_time(b, g);
            if (theirs >= 1 && ours >= 1 && theirs - ours > 0)
                gap = theirs - ours;
        }
    }
    return (float)gap * tick_length > p->lead_seconds ? p->plan_leading : p->plan;
}

// How well a line continues the path: near the bike for a path just
// begun, else starting on the arc the path ends on, heading along it, at
// a speed the path's end can reach.
float match_of(const bike* b, const bike_view& view, const racing_line& l)
{
    const line_point_list& path = b->path;
    if (path.count < 3) {
        const float d = sqrtf(horizontal_sq(l.points[0], view.position.x, view.position.z));
        const float m = clampf((100.0f - d) / 96.0f, 0.0f, 1.0f);
        return 10.0f * m * m * m;
    }
    if (l.point_count < 2)
        return 0.0f;
    const line_point& last = path.items[path.count - 1];
    double cx, cz;
    line_circle_centre(path.items[path.count - 3], path.items[path.count - 2], last, &cx, &cz);
    const float rho = (float)hypot(last.x - cx, last.z - cz);
    const float d0 = (float)hypot(l.points[0].x - cx, l.points[0].z - cz);
    const float d1 = (float)hypot(l.points[1].x - cx, l.points[1].z - cz);
    const float a = clampf((15.0f - (fabsf(last.speed) - fabsf(l.points[0].speed))) / 5.0f, 0.0f, 1.0f);
    const float bb = clampf((5.0f - fabsf(rho - d0)) / 3.5f, 0.0f, 1.0f);
    const float c = clampf((3.0f - fabsf(d1 - d0)) / 2.0f, 0.0f, 1.0f);
    const float q = bb * c;
    return a * q * q * q;
}

// Appends a line to the path: what lies more than 30 points behind the
// target goes, and the last few points of the old path bend into the new
// line along a cubic Hermite curve, no faster than either end.
void splice(bike* b, const bike_view& view, const racing_line& l)
{
    line_point_list& path = b->path;
    const int drop = b->target > 30 ? b->target - 30 : 0;
    if (drop > 0) {
        memmove(path.items, path.items + drop, sizeof(line_point) * (size_t)(path.count - drop));
        path.count -= drop;
        b->target -= drop;
    }
    const int old = path.count;
    for (int i = 0; i < l.point_count; i++)
        line_points_push(&path, l.points[i]);
    const int m = old - 5 > b->target ? old - 5 : b->target;
    const int n = old - m;
    if (old == 0 || n <= 0)
        return;
    const line_point end = path.items[old];
    vec3 p0, t0;
    float s0, h0;
    if (m >= 1) {
        const line_point& a = path.items[m];
        const line_point& before = path.items[m - 1];
        p0 = v3(a.x, a.y, a.z);
        t0 = scale(v3(a.x - before.x, a.y - before.y, a.z - before.z), (float)n);
        s0 = a.speed;
        h0 = a.height;
    } else {
        p0 = view.position;
        t0 = scale(view.forward, 7.5f * (float)old);
        s0 = path.items[0].speed;
        h0 = path.items[0].height;
    }
    vec3 t1 = {0, 0, 0};
    if (l.point_count >= 2) {
        const line_point& next = path.items[old + 1];
        t1 = scale(v3(next.x - end.x, next.y - end.y, next.z - end.z), (float)n);
    }
    const vec3 p1 = v3(end.x, end.y, end.z);
    const bool blend = s0 >= 0.0f && end.speed >= 0.0f;
    for (int i = m; i < old; i++) {
        const float t = (float)(i - m) / (float)n;
        const float t2 = t * t, t3 = t2 * t;
        const float h00 = 2.0f * t3 - 3.0f * t2 + 1.0f, h10 = t3 - 2.0f * t2 + t;
        const float h01 = -2.0f * t3 + 3.0f * t2, h11 = t3 - t2;
        const vec3 q = add(add(scale(p0, h00), scale(t0, h10)), add(scale(p1, h01), scale(t1, h11)));
        line_point& p = path.items[i];
        p.x = q.x;
        p.y = q.y;
        p.z = q.z;
        if (blend) {
            const float s = s0 + (end.speed - s0) * t;
            p.speed = fminf(p.speed, s);
            p.height = h0 + (end.height - h0) * t;
        }
    }
}

void pick_line(robot_state* rs, const world* w, int slot, bike* b, const bike_view& view)
{
    line_table* t = &rs->lines;
    const int k = b->next_section;
    const int row = line_row_of_section(t, k);
    line_row& r = t->rows[row];
    const int now = w->race.tick;
    const int plan = plan_of(w, slot, b);

    double best[LINES_PER_ROW];
    lines_chain_costs(t, plan, k, LINE_CHAIN_SECTIONS, best);
    double least = 0.0;
    bool any = false;
    for (int j = 0; j < LINES_PER_ROW; j++)
        if (r.lines[j].points && (!any || best[j] < least)) {
            least = best[j];
            any = true;
        }
    const int planned = plan < LINE_PLAN_TYPES ? lap_plan(t, plan, row) : 0;
    // The lap plan takes over between 40 s and 60 s after the reset.
    const float plan_weight = clampf(((float)now * tick_length - 40.0f) * 0.05f, 0.0f, 1.0f);

    int chosen = -1;
    float chosen_score = 0.0f, chosen_match = 0.0f;
    for (int j = 0; j < LINES_PER_ROW; j++) {
        const racing_line& l = r.lines[j];
        if (!l.points)
            continue;
        float pref = best[j] <= 0.0 ? 1.0f : (float)(least / best[j]);
        if (planned != 0 && l.serial == planned)
            pref += (1.0f - pref) * plan_weight;
        if (k == 0)
            pref = 0.8f + 0.2f * pref;
        const float match = match_of(b, view, l);
        const float recency = clampf((float)(now - l.last_picked) * tick_length / 3.0f, 0.0f, 1.0f);
        const float score = pref * recency + match;
        if (chosen < 0 || score > chosen_score) {
            chosen = j;
            chosen_score = score;
            chosen_match = match;
        }
    }
    if (chosen < 0)
        return;
    racing_line& l = r.lines[chosen];
    if (rs->options.debug)
        log_printf("auto pilot: picking %d score = %f match = %f last_picked = %f\n", chosen, chosen_score,
                   chosen_match, l.last_picked * tick_length);
    // Lines ending where this one ends are as good as taken for a while.
    const line_point& end = l.points[l.point_count - 1];
    for (racing_line& other : r.lines) {
        if (!other.points)
            continue;
        const line_point& e = other.points[other.point_count - 1];
        const float dx = e.x - end.x, dy = e.y - end.y, dz = e.z - end.z;
        if (&other == &l || dx * dx + dy * dy + dz * dz <= 9.0f)
            other.last_picked = now;
    }
    b->followed_serial[k & 3] = l.serial;
    b->next_section = k + 1;
    splice(b, view, l);
    if (k == 0) {
        // The line begins with the wait behind the gate: aim past it.
        const line_point& first = b->path.items[0];
        int target = 0;
        while (target < b->path.count - 1 && horizontal_sq(b->path.items[target], first.x, first.z) <= 100.0f)
            target++;
        b->target = target;
        // Grace for the wait at the gate, counted from now: a multiplayer
        // ride's clock starts at the server's tick, far from 0.
        b->last_advance = now + k_first_advance;
    }
}

bool may_pick(const robot_state* rs, const bike* b)
{
    const line_table* t = &rs->lines;
    if (!t->loaded || t->row_count <= 0 || b->finished || b->path.count - b->target >= 10)
        return false;
    return lines_in_row(t, line_row_of_section(t, b->next_section)) > 0;
}

// Once finished, the robot slows along what is left of its path: full
// speed at the point it is at, a quarter at the end.
void coast_down(bike* b)
{
    line_point_list& path = b->path;
    const int last = path.count - 1;
    const int span = last - b->target;
    for (int i = b->target; i <= last; i++)
        path.items[i].speed *= span > 0 ? 0.25f + 0.75f * (float)(last - i) / (float)span : 1.0f;
}

// The loaded track's centre line, read once per reset; false when the
// track has none.
bool centre_line_ready(robot_state* rs, const world* w)
{
    if (rs->centre_line_state == 0) {
        centre_line_options o;
        o.lead_in = true;
        o.ground = &w->track.heightfield;
        std::string why;
        const bool ok = w->track.loaded && centre_line_load(w->track.dir, o, &rs->centre_line, &why);
        rs->centre_line_state = ok ? 1 : -1;
        if (!ok && rs->options.debug)
            log_printf("auto pilot: no centre line to ride: %s\n", why.c_str());
    }
    return rs->centre_line_state == 1;
}

// A robot on the centre line has advanced when it is this much further
// along it (ft) than it ever was since it last advanced.
const float k_centre_advance = 2.0f;
// Below this speed (ft/s) on the centre line the rider's foot is down, as
// on a line: the dab holds a crawling bike up and a bike that goes over is
// turned back toward the track.
const float k_centre_crawl = 7.5f;
// Leaning further than this (rad) at a crawl the bike is going over.
const float k_centre_over = 0.6f;
// How far along the centre line (ft) a lost robot steers to, and the
// point its front wheel is led to once it needs a push.
const float k_centre_aim = 30.0f;
const float k_centre_rejoin = 15.0f;
const float k_centre_goal_step = 2.5f;
const int k_centre_goals = 25;

// A robot with no racing line for its section (a track not learnt yet, or
// one whose sections were edited so that its lines file no longer fits)
// rides the track's centre line as the test rider does, in the lane it
// stands in, after the same start at the gate as on a line; once finished
// it rolls on at a walking pace. As on a line, a robot that makes no
// progress along it for 3 s recovers toward it, is pushed after 19 s (or
// at once when stuck standing still) and starts again after 40 s. False
// when there is no centre line.
bool ride_centre_line(robot_state* rs, world* w, robot_slot* s, bike* b, const bike_view& view, float now,
                      float drop)
{
    const int tick = w->race.tick;
    if (!s->on_centre_line) {
        if (b->finished)
            return false;
        if (!centre_line_ready(rs, w))
            return false;
        scripted_rider_settings settings;
        if (!scripted_rider_start(&s->centre_rider, &rs->centre_line, settings, b))
            return false;
        const vec3 at = bike_frame_position(b);
        s->centre_rider.settings.lane_offset =
            rider_path_lateral(rs->centre_line, s->centre_rider.index, at.x, at.z);
        s->on_centre_line = true;
        s->centre_started = false;
        b->path.count = 0;
        b->target = 0;
        b->recovery = 0;
    }
    // The robot's own start at the gate, then the test rider's commands.
    if (now < drop + 5.0f && start_sequence(w, b, now, drop)) {
        b->last_advance = tick;
        return true;
    }
    scripted_rider& r = s->centre_rider;
    if (b->finished && r.settings.cruise_speed > r.settings.min_speed) {
        r.settings.cruise_speed = r.settings.min_speed;
        rider_plan_speeds(*r.path, r.settings, &r.target_speed);
    }
    const control_input c = scripted_rider_drive(&r, b);
    const float progress = scripted_rider_progress(&r);
    if (!s->centre_started || progress >= s->centre_best + k_centre_advance) {
        s->centre_started = true;
        s->centre_best = progress;
        b->last_advance = tick;
    }
    // Lost for 3 s, or over on its side at a crawl: the test rider would
    // hold the throttle open and drag the bike along on its side.
    const bool over = fabsf(view.roll) > k_centre_over && view.speed < k_centre_crawl && b->crash_timer <= 0;
    if (b->recovery == 0 && (tick - b->last_advance > 3 * k_second || over)) {
        b->recovery = 1;
        s->recoveries++;
    }
    if (b->recovery > 0) {
        const bool restart = tick - b->last_advance > 40 * k_second;
        if (restart) {
            // Long lost: start again from the centre line's point nearest
            // to where the bike is now.
            const vec3 at = bike_frame_position(b);
            r.index = rider_path_nearest(*r.path, at.x, at.z, false);
            s->centre_best = scripted_rider_progress(&r);
            b->last_advance = tick;
            s->restarts++;
        }
        const rider_path& p = *r.path;
        const vec3 toward = rider_path_point_ahead(p, r.index, k_centre_aim, r.settings.lane_offset);
        const vec3 rejoin = rider_path_point_ahead(p, r.index, k_centre_rejoin, r.settings.lane_offset);
        // Restarting while still caught where it stands: carried onto the
        // line, as on a racing line.
        if (restart && view.speed < 1.0f) {
            carry_to(w, b, rejoin, toward);
            return true;
        }
        // Pulling away again in first: a wheel spun while the bike lay
        // over has shifted it far up.
        if (view.speed < 10.0f && b->gear > 0 && b->params.gear_ratio[0] > 0.0f)
            b->gear = 0;
        // The push may lead round a block to the lane a little before or
        // after the rejoining point.
        vec3 goals[k_centre_goals];
        for (int k = 0; k < k_centre_goals; k++)
            goals[k] = rider_path_point_ahead(p, r.index, (float)k * k_centre_goal_step, r.settings.lane_offset);
        const bool heading_off = recover_toward(s, w, b, view, toward, goals, k_centre_goals,
                                                (int)(k_centre_rejoin / k_centre_goal_step), false);
        // Back on the ride once moving along the line toward it.
        if (!heading_off && b->last_advance == tick && b->stuck_tick < tick && view.speed >= 10.0f)
            b->recovery = 0;
        else
            return true;
    }
    ride_command_apply(c, b);
    bike_set_sit_dab(b, view.speed < k_centre_crawl ? 1.0f : 0.0f);
    // The test rider knows no traffic: behind a slower bike the robot's
    // own speed control keeps it back, as on a line.
    if (const bike* other = bike_to_yield_to(w, b, view)) {
        const float planned = r.index >= 0 && r.index < (int)r.target_speed.size() ? r.target_speed[(size_t)r.index]
                                                                                     : r.settings.cruise_speed;
        const float wanted = yield_to(w, b, view, other, planned);
        if (wanted < planned)
            speed_controller(b, view, wanted);
    }
    return true;
}

}  // namespace

const robot_personality* robot_personality_of(int index)
{
    return &k_personalities[index > 0 && index < PERSONALITY_COUNT ? index : 0];
}

void set_personality(bike* b, const char* name)
{
    for (int i = 1; i < PERSONALITY_COUNT; i++)
        if (name && strcmp(name, k_personalities[i].name) == 0) {
            b->personality = i;
            return;
        }
    log_printf("auto pilot personality '%s' not found\n", name ? name : "");
    b->personality = 1;
}

float auto_pilot_path_position(const bike* b)
{
    const line_point_list& path = b->path;
    if (path.count == 0)
        return 0.0f;
    const vec3 p = bike_frame_position(b);
    const dReal* r = bike_frame_rotation(b);
    const vec3 forward = v3((float)-r[2], (float)-r[6], (float)-r[10]);
    const int from = b->target < path.count ? b->target : path.count;
    for (int i = from - 1; i >= 0; i--) {
        const line_point& q = path.items[i];
        const float d = (q.x - p.x) * forward.x + (q.y - p.y) * forward.y + (q.z - p.z) * forward.z;
        if (d >= 0.0f)
            continue;
        if (i + 1 < path.count) {
            const line_point& n = path.items[i + 1];
            const float e = (n.x - p.x) * forward.x + (n.y - p.y) * forward.y + (n.z - p.z) * forward.z;
            if (e > 0.0f)
                return (float)(i + 1) + clampf(-d / (e - d), 0.0f, 1.0f);
        }
        return (float)(i + 1);
    }
    return 0.0f;
}

void auto_pilot_tick(robot_state* rs, world* w, int slot, bike* b)
{
    if (b->personality == 0)
        return;
    robot_slot* s = robots_slot(rs, slot, b);
    const int now = w->race.tick;
    const bike_view view = look_at(b);
    const float seconds = (float)now * tick_length;
    const float drop = (float)w->race.start_tick * tick_length;
    // The aids a robot rides with whatever its setup says; the wheelie
    // limiter only on a line: the test rider climbs steep faces slowly with
    // the front light, and cutting its drive there leaves it stuck.
    b->assist_flags |= assist_stoppie_release | assist_front_antilock | assist_rear_antilock | assist_auto_shift;
    if (s->on_centre_line) {
        b->assist_flags &= ~assist_wheelie_limiter;
        if (!ride_centre_line(rs, w, s, b, view, seconds, drop))
            stand(b);
        return;
    }
    b->assist_flags |= assist_wheelie_limiter;

    if (b->finished && !s->finish_seen) {
        coast_down(b);
        s->finish_seen = true;
    }
    advance_target(b, view, now);
    if (may_pick(rs, b))
        pick_line(rs, w, slot, b, view);
    if (b->target >= b->path.count) {
        if (!ride_centre_line(rs, w, s, b, view, seconds, drop))
            stand(b);
        return;
    }
    if (seconds < drop + 5.0f && start_sequence(w, b, seconds, drop))
        return;
    // Finished and stopped, or run off its line on the way down: its race
    // is over, so it stands where it is rather than being led back.
    if (b->finished && now - b->last_advance > 3 * k_second) {
        stand(b);
        return;
    }
    const float u = auto_pilot_path_position(b);
    if (b->recovery == 0)
        follow_path(rs, w, slot, b, u, view);
    else
        recover(rs, w, slot, b, u, view);
}
