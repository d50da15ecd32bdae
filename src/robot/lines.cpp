// The line table: rows and slots, the costs that rank lines, the eviction
// of a full row, and the recording and rating of lines at the gates.
#include "robot/lines.h"

#include <cmath>
#include <cstring>
#include <new>

#include "core/messages.h"
#include "files/memory.h"
#include "platform/log.h"
#include "race/gates.h"
#include "race/race.h"
#include "race/world.h"
#include "track/heightfield.h"
#include "track/timing_gates.h"

namespace {

const int k_penalty = 5 * RACE_TICKS_PER_SECOND;  // what a failure costs (ticks)
const int k_empty_slot_cost = 1250000;
const int k_good_lines_kept = 23;
const int k_sample_ticks = 32;
const float k_tick = 1.0f / RACE_TICKS_PER_SECOND;

void free_line(racing_line* l)
{
    mem_free(l->points);
    const int picked = l->last_picked;
    *l = racing_line();
    // A pick outlives the line in its slot until the next reset, so a line
    // stored into a slot just picked from is not picked again at once.
    l->last_picked = picked;
}

float horizontal_sq(const line_point& a, const line_point& b)
{
    const float dx = a.x - b.x, dz = a.z - b.z;
    return dx * dx + dz * dz;
}

float distance_sq(const line_point& a, const line_point& b)
{
    const float dx = a.x - b.x, dy = a.y - b.y, dz = a.z - b.z;
    return dx * dx + dy * dy + dz * dz;
}

// Where the bike's main body is, how fast it goes (negative when both
// wheels are off the ground) and how high above the ground.
line_point sample_of(const bike* b, const heightfield* hf)
{
    const vec3 at = bike_frame_position(b);
    const vec3 v = bike_frame_velocity(b);
    float speed = sqrtf(v.x * v.x + v.y * v.y + v.z * v.z);
    if (b->front_contact.depth <= 0.0f && b->rear_contact.depth <= 0.0f)
        speed = -speed;
    const float ground = hf && hf->heights ? heightfield_height_at(hf, at.x, at.z) : 0.0f;
    return line_point{at.x, at.y, at.z, speed, at.y - ground};
}

// The tick of race gate g of a bike; before the first real gate the clock
// starts at the gate drop, so a first section's times hold the ride and not
// the wait behind the gate (which differs from race to race).
int section_gate_time(const bike* b, int g, int start_tick)
{
    return g < 0 ? start_tick : gate_time(b, g);
}

bool gates_recorded(const bike* b, int from, int to)
{
    for (int g = from < 0 ? 0 : from; g <= to; g++)
        if (gate_time(b, g) < 0)
            return false;
    return true;
}

// The last three real gates up to race gate g (oldest first; -1 none).
void last_section_gates(const track_timing* timing, int g, int* g0, int* g1)
{
    *g1 = line_previous_section_gate(timing, g);
    *g0 = *g1 >= 0 ? line_previous_section_gate(timing, *g1) : -1;
}

racing_line* line_of_serial(line_table* t, int section, int serial)
{
    const int row = line_row_of_section(t, section);
    const int slot = row >= 0 ? line_by_serial(t, row, serial) : -1;
    return slot >= 0 ? &t->rows[row].lines[slot] : nullptr;
}

// ---- recording a human rider ----------------------------------------------------

bool duplicate_of(const racing_line& l, const line_point* p, int n)
{
    if (l.point_count != n)
        return false;
    for (int i = 0; i < n; i++) {
        if (fabsf(l.points[i].speed - p[i].speed) > 0.0625f)
            return false;
        if (distance_sq(l.points[i], p[i]) > 0.00390625f)
            return false;
    }
    return true;
}

double mean_seconds(int64_t sum, int runs)
{
    return runs > 0 ? (double)(sum / runs) * k_tick : 0.0;
}

void store_recording(line_table* t, int row, const line_point* points, int n, int time_first, int time_total)
{
    line_row& r = t->rows[row];
    for (const racing_line& l : r.lines)
        if (l.points && duplicate_of(l, points, n)) {
            log_printf("auto pilot: %d rejected (duplicate)\n", row);
            return;
        }
    int slot = -1;
    for (int i = 0; i < LINES_PER_ROW && slot < 0; i++)
        if (!r.lines[i].points)
            slot = i;
    int cost = k_empty_slot_cost;
    if (slot < 0)
        slot = line_eviction_victim(t, row, &cost);
    if (slot < 0 || 1.25 * (double)time_total > (double)cost) {
        log_printf("auto pilot: %d rejected (too slow)\n", row);
        return;
    }
    const racing_line& v = r.lines[slot];
    log_printf("auto pilot: evicting %d (times: %.2f %.2f tested (%d %d): %.2f %.2f repl: %f %f)\n", row,
               v.time_first * k_tick, v.time_total * k_tick, v.runs, v.failures, mean_seconds(v.sum_first, v.runs),
               mean_seconds(v.sum_total, v.runs), time_first * k_tick, time_total * k_tick);
    lines_evict(t, row, slot);
    lines_store(t, row, slot, points, n, time_first, time_total);
}

// A real gate passed by a human rider: the recording of the section before
// the one just ridden is finished (its second section's time is known now).
void finish_recording(line_table* t, line_rider* r, const world* w, bike* b, int g, int k)
{
    const bool crashed = b->crash_count != r->gate_crash_count || b->crash_timer > 0;
    r->gate_crash_count = b->crash_count;
    if (crashed)
        r->cancelled[k & 1] = true;
    if (k < 1)
        return;
    const int buffer = (k - 1) & 1;
    line_point_list& rec = b->recording[buffer];
    const int row = line_row_of_section(t, k - 1);
    int g0, g1;
    last_section_gates(&w->track.timing_gates, g, &g0, &g1);
    // A first section is timed from the drop, or from the first point of a
    // ride that began after it (a time trial).
    const int start = w->race.start_tick > r->first_sample[buffer] ? w->race.start_tick : r->first_sample[buffer];
    const int t0 = section_gate_time(b, g0, start), t1 = section_gate_time(b, g1, start), t2 = gate_time(b, g);
    const bool timed = g1 >= 0 && t0 >= 0 && t1 >= t0 && t2 >= t1;
    if (row < 0 || rec.count == 0 || r->cancelled[buffer] || r->overflowed[buffer] || !timed) {
        if (t->debug)
            log_printf("auto pilot: %d canceled\n", row);
    } else {
        store_recording(t, row, rec.items, rec.count, t1 - t0, t2 - t0);
    }
    rec.count = 0;
    r->cancelled[buffer] = false;
    r->overflowed[buffer] = false;
    r->first_sample[buffer] = -1;
}

// ---- rating a robot's lines -------------------------------------------------------

// The robot is on its line when it rides close to the stretch of its path
// it is at, not much faster than the line was ridden, and it passed every
// gate of the section before.
bool on_its_line(const bike* b, float u, int g0, int g1)
{
    const int i = (int)u;
    if (i < 1 || i >= b->path.count)
        return false;
    const line_point& a = b->path.items[i - 1];
    const line_point& c = b->path.items[i];
    const vec3 p = bike_frame_position(b);
    const vec3 v = bike_frame_velocity(b);
    const float speed = sqrtf(v.x * v.x + v.y * v.y + v.z * v.z);
    const float ex = c.x - a.x, ey = c.y - a.y, ez = c.z - a.z;
    const float px = p.x - a.x, py = p.y - a.y, pz = p.z - a.z;
    const float e2 = ex * ex + ey * ey + ez * ez;
    float d2 = px * px + py * py + pz * pz;
    if (e2 > 0.0f) {
        const float along = (px * ex + py * ey + pz * ez) / e2;
        const float qx = px - ex * along, qy = py - ey * along, qz = pz - ez * along;
        d2 = qx * qx + qy * qy + qz * qz;
    }
    if (!(d2 <= 16.0f))
        return false;
    if (!(0.9375f * speed <= fabsf(a.speed) || 0.9375f * speed <= fabsf(c.speed)))
        return false;
    return gates_recorded(b, g0 + 1, g1);
}

void rate_robot_line(line_table* t, const world* w, bike* b, int g, int k, float u)
{
    if (k < 1)
        return;
    int g0, g1;
    last_section_gates(&w->track.timing_gates, g, &g0, &g1);
    if (on_its_line(b, u, g0, g1)) {
        if (!gates_recorded(b, g0, g))
            return;
        racing_line* l = line_of_serial(t, k - 1, b->followed_serial[(k - 1) & 3]);
        if (!l)
            return;
        const int start = w->race.start_tick;
        const int t0 = section_gate_time(b, g0, start);
        const int first = section_gate_time(b, g1, start) - t0;
        const int total = gate_time(b, g) - t0;
        l->runs++;
        l->best_first = first < l->best_first ? first : l->best_first;
        l->best_total = total < l->best_total ? total : l->best_total;
        l->sum_first += first;
        l->sum_total += total;
        return;
    }
    if (racing_line* l = line_of_serial(t, k, b->followed_serial[k & 3]))
        l->failures++;
    for (int& s : b->followed_serial)
        s = 0;
}

// A robot's crash counts against the line of the section it rides, and the
// one before when it left that less than a second ago.
void charge_crash(line_table* t, const world* w, bike* b)
{
    const track_timing* timing = &w->track.timing_gates;
    const int c = line_section_at(timing, b->gate_progress);
    int& now = b->followed_serial[c & 3];
    if (racing_line* l = line_of_serial(t, c, now))
        l->failures++;
    now = 0;
    const int last = line_previous_section_gate(timing, b->gate_progress);
    const int passed = last >= 0 ? gate_time(b, last) : -1;
    if (c >= 1 && passed >= 0 && w->race.tick - passed < RACE_TICKS_PER_SECOND) {
        int& before = b->followed_serial[(c - 1) & 3];
        if (racing_line* l = line_of_serial(t, c - 1, before))
            l->failures++;
        before = 0;
    }
}

}  // namespace

// ---- sections and rows -------------------------------------------------------------

int line_row_of_section(const line_table* t, int section)
{
    if (!t->rows || section < 0)
        return -1;
    if (section < t->first_sections)
        return section;
    if (t->lap_sections <= 0)
        return -1;
    return t->first_sections + (section - t->first_sections) % t->lap_sections;
}

bool line_gate_is_section(const track_timing* timing, int k)
{
    const int e = race_gate_entry(timing, k);
    return e >= 0 && e < GATE_NO_SECTION;
}

int line_section_at(const track_timing* timing, int progress)
{
    if (!timing_active(timing) || progress <= 0)
        return 0;
    const int f = timing->first_count, n = timing->normal_count;
    int count = 0;
    const int first = progress < f ? progress : f;
    for (int k = 0; k < first; k++)
        count += timing->first_lap[k] < GATE_NO_SECTION;
    if (progress <= f)
        return count;
    const int beyond = progress - f;
    count += (beyond / n) * timing->normal_real;
    for (int k = 0; k < beyond % n; k++)
        count += timing->normal_lap[k] < GATE_NO_SECTION;
    return count;
}

int line_previous_section_gate(const track_timing* timing, int k)
{
    if (!timing_active(timing))
        return -1;
    // A lap holds a real gate, so the search ends within a lap and the
    // first lap.
    const int reach = timing->first_count + timing->normal_count;
    for (int g = k - 1; g >= 0 && g >= k - reach; g--)
        if (line_gate_is_section(timing, g))
            return g;
    return -1;
}

// ---- the table ------------------------------------------------------------------------

void line_points_push(line_point_list* list, const line_point& p)
{
    if (list->count >= list->capacity) {
        const int capacity = list->capacity < 16 ? 16 : list->capacity * 2;
        void* grown = mem_realloc(list->items, sizeof(line_point) * (size_t)capacity);
        if (!grown)
            fatal_out_of_memory();
        list->items = static_cast<line_point*>(grown);
        list->capacity = capacity;
    }
    list->items[list->count++] = p;
}

void lines_free(line_table* t)
{
    if (t->rows) {
        for (int r = 0; r < t->row_count; r++)
            for (racing_line& l : t->rows[r].lines)
                mem_free(l.points);
        mem_free(t->rows);
    }
    t->rows = nullptr;
    for (int*& p : t->plans) {
        mem_free(p);
        p = nullptr;
    }
    t->row_count = t->first_sections = t->lap_sections = 0;
    t->loaded = false;
}

void lines_rebuild(line_table* t, const track_timing* timing)
{
    lines_free(t);
    if (!timing_active(timing))
        return;
    t->first_sections = timing->first_real;
    t->lap_sections = timing->normal_real;
    t->row_count = t->first_sections + t->lap_sections;
    t->rows = static_cast<line_row*>(mem_alloc_or_die(sizeof(line_row) * (size_t)t->row_count));
    for (int r = 0; r < t->row_count; r++)
        new (&t->rows[r]) line_row();
    for (int*& p : t->plans)
        p = static_cast<int*>(mem_calloc_or_die((size_t)t->row_count, sizeof(int)));
}

void lines_clear(line_table* t)
{
    for (int r = 0; r < t->row_count; r++)
        for (racing_line& l : t->rows[r].lines)
            free_line(&l);
    for (int* p : t->plans)
        if (p)
            memset(p, 0, sizeof(int) * (size_t)t->row_count);
}

racing_line* lines_store(line_table* t, int row, int slot, const line_point* points, int count, int time_first,
                         int time_total)
{
    racing_line& l = t->rows[row].lines[slot];
    free_line(&l);
    l.points = static_cast<line_point*>(mem_alloc_or_die(sizeof(line_point) * (size_t)count));
    memcpy(l.points, points, sizeof(line_point) * (size_t)count);
    l.point_count = count;
    l.time_first = time_first;
    l.time_total = time_total;
    l.serial = t->next_serial++;
    if (t->next_serial <= 0)
        t->next_serial = 1;
    return &l;
}

void lines_evict(line_table* t, int row, int slot)
{
    free_line(&t->rows[row].lines[slot]);
}

int lines_in_row(const line_table* t, int row)
{
    if (row < 0 || row >= t->row_count)
        return 0;
    int n = 0;
    for (const racing_line& l : t->rows[row].lines)
        n += l.points != nullptr;
    return n;
}

int line_by_serial(const line_table* t, int row, int serial)
{
    if (serial == 0 || row < 0 || row >= t->row_count)
        return -1;
    for (int i = 0; i < LINES_PER_ROW; i++)
        if (t->rows[row].lines[i].points && t->rows[row].lines[i].serial == serial)
            return i;
    return -1;
}

int lap_plan(const line_table* t, int type, int row)
{
    if (type < 0 || type >= LINE_PLAN_TYPES || row < 0 || row >= t->row_count || !t->plans[type])
        return 0;
    return t->plans[type][row];
}

// ---- costs ------------------------------------------------------------------------------

double line_cost(const racing_line* line, int type)
{
    const double r = line->runs, f = line->failures;
    switch (type) {
    case 0:
    case 1: {
        if (line->runs < 5)
            return 1000000.0;
        double ratio = f / (r + f);
        if (type == 1)
            ratio *= 1.1428572;
        return (double)(line->sum_first / line->runs) + (ratio < 1.0 ? ratio : 1.0) * k_penalty;
    }
    case 2: {
        if (line->runs < 1)
            return 1000000.0;
        const double ratio = 4.0 * f / (r + f);
        return ratio < 1.0 ? ratio : 1.0;
    }
    default: {
        if (line->runs + line->failures > 5 && 4 * line->runs < line->failures)
            return 100000.0;
        // Significant bits of r + 4f: untested lines cost nothing.
        uint64_t tried = (uint64_t)line->runs + 4 * (uint64_t)line->failures;
        int bits = 0;
        while (tried) {
            bits++;
            tried >>= 1;
        }
        return bits >= 1 ? (bits + 4) * 1000.0 : 0.0;
    }
    }
}

int line_eviction_cost(const racing_line* line)
{
    if (line->runs == 0) {
        const int64_t cost = (int64_t)line->time_total * 5 / 4 + (line->failures > 0 ? k_penalty : 0);
        return cost > 2000000000 ? 2000000000 : (int)cost;
    }
    const int64_t cost = line->sum_total / line->runs +
                         (int64_t)k_penalty * line->failures / ((int64_t)line->runs + line->failures);
    return cost > 2000000000 ? 2000000000 : (int)cost;
}

int line_eviction_victim(const line_table* t, int row, int* cost)
{
    if (row < 0 || row >= t->row_count)
        return -1;
    const line_row& r = t->rows[row];
    int costs[LINES_PER_ROW];
    int good = 0;
    for (int i = 0; i < LINES_PER_ROW; i++) {
        const racing_line& l = r.lines[i];
        if (!l.points)
            continue;
        costs[i] = line_eviction_cost(&l);
        // A line starting where no other does is worth more: it is the
        // only way through there.
        bool unique = true;
        for (int j = 0; j < LINES_PER_ROW && unique; j++)
            if (j != i && r.lines[j].points && horizontal_sq(l.points[0], r.lines[j].points[0]) < 4.0f)
                unique = false;
        if (unique)
            costs[i] = (int)((int64_t)costs[i] * 3 / 4);
        good += l.failures < l.runs;
    }
    int victim = -1;
    for (int i = 0; i < LINES_PER_ROW; i++) {
        const racing_line& l = r.lines[i];
        if (!l.points)
            continue;
        if (good < k_good_lines_kept && l.failures < l.runs)
            continue;
        if (victim < 0 || costs[i] > costs[victim])
            victim = i;
    }
    if (victim >= 0 && cost)
        *cost = costs[victim];
    return victim;
}

// ---- geometry ----------------------------------------------------------------------------

void line_circle_centre(const line_point& a, const line_point& b, const line_point& c, double* cx, double* cz)
{
    const double ax = a.x, az = a.z, bx = b.x, bz = b.z, qx = c.x, qz = c.z;
    const double d = 2.0 * (ax * (bz - qz) + bx * (qz - az) + qx * (az - bz));
    const double sa = ax * ax + az * az, sb = bx * bx + bz * bz, sc = qx * qx + qz * qz;
    if (fabs(d) > 1e-9) {
        const double x = (sa * (bz - qz) + sb * (qz - az) + sc * (az - bz)) / d;
        const double z = (sa * (qx - bx) + sb * (ax - qx) + sc * (bx - ax)) / d;
        // Nearly straight: the centre would be further out than a straight
        // line's, and as good as one.
        if (fabs(x - qx) + fabs(z - qz) < 1000000.0) {
            *cx = x;
            *cz = z;
            return;
        }
    }
    double ex = qx - bx, ez = qz - bz;
    double len = sqrt(ex * ex + ez * ez);
    if (len <= 1e-9) {
        ex = qx - ax;
        ez = qz - az;
        len = sqrt(ex * ex + ez * ez);
    }
    if (len <= 1e-9) {
        ex = 1.0;
        ez = 0.0;
        len = 1.0;
    }
    // Out to the left of the direction of travel, (ez, -ex) being its right.
    *cx = qx - ez / len * 1000000.0;
    *cz = qz + ex / len * 1000000.0;
}

// ---- recording and statistics ---------------------------------------------------------

void lines_record_tick(line_table* t, line_rider* r, world* w, bike* b, bool passed, float u)
{
    if (r->owner != b) {
        *r = line_rider();
        r->owner = b;
        r->crash_count = r->gate_crash_count = b->crash_count;
        r->progress = b->gate_progress;
    }
    const bool robot = b->personality != 0;
    const bool crashed = b->crash_count != r->crash_count;
    r->crash_count = b->crash_count;
    if (!t->loaded || t->row_count <= 0)
        return;
    const track_timing* timing = &w->track.timing_gates;
    if (robot && crashed)
        charge_crash(t, w, b);
    if (passed) {
        const int g = b->gate_progress - 1;
        if (line_gate_is_section(timing, g)) {
            const int k = line_section_at(timing, g);
            if (robot)
                rate_robot_line(t, w, b, g, k, u);
            else
                finish_recording(t, r, w, b, g, k);
        }
    }
    if (robot)
        return;
    // Moved back (a time trial's restart): what was recorded is no line.
    if (b->gate_progress < r->progress)
        for (int i = 0; i < 2; i++) {
            b->recording[i].count = 0;
            r->cancelled[i] = r->overflowed[i] = false;
            r->first_sample[i] = -1;
        }
    r->progress = b->gate_progress;
    if (w->race.tick % k_sample_ticks != 0)
        return;
    const int buffer = line_section_at(timing, b->gate_progress) & 1;
    line_point_list& rec = b->recording[buffer];
    if (rec.count >= LINE_MAX_POINTS) {
        r->overflowed[buffer] = true;
        return;
    }
    if (rec.count == 0)
        r->first_sample[buffer] = w->race.tick;
    line_points_push(&rec, sample_of(b, &w->track.heightfield));
}
