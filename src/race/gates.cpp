// The crossing test and the lap figures derived from a bike's gate times.
#include "race/gates.h"

#include <climits>
#include <cmath>

#include "bike/bike.h"
#include "core/messages.h"
#include "files/memory.h"

namespace {

void grow_times(tick_list* list, int k)
{
    // Room for index k: the list doubles from 16.
    if (k >= list->capacity) {
        long long wanted = list->capacity < 16 ? 16 : list->capacity;
        while (wanted <= k)
            wanted *= 2;
        void* grown = mem_realloc(list->items, sizeof(int) * (size_t)wanted);
        if (!grown)
            fatal_out_of_memory();
        list->items = (int*)grown;
        list->capacity = (int)wanted;
    }
    while (list->count <= k)
        list->items[list->count++] = -1;
}

}  // namespace

// ---- a bike's gates ------------------------------------------------------------

int gate_time(const bike* b, int k)
{
    if (k < 0 || k >= b->gate_times.count)
        return -1;
    return b->gate_times.items[k];
}

void set_gate_progress(bike* b, int k)
{
    if (k < 0)
        k = 0;
    if (b->gate_times.count > k)
        b->gate_times.count = k;
    if (k < b->gate_progress)
        b->finished = 0;
    b->gate_progress = k;
}

bool set_gate_time(bike* b, int k, int tick)
{
    if (k < 0 || k >= GATE_TIMES_MAX)
        return false;
    grow_times(&b->gate_times, k);
    b->gate_times.items[k] = tick;
    return true;
}

bool check_gates(const track_timing* t, bike* b, const gate_race& race)
{
    if (!timing_active(t) || b->finished)
        return false;
    const dReal* w = dBodyGetPosition(b->bodies[body_front_wheel]);
    return check_gates_at(t, b, (float)w[0], (float)w[2], race);
}

bool check_gates_at(const track_timing* t, bike* b, float wheel_x, float wheel_z, const gate_race& race)
{
    if (!timing_active(t) || b->finished)
        return false;
    const int progress = b->gate_progress;
    // The gate passed last (offset -1) is never looked at, so staying in
    // its circle changes nothing; the two before it count only while a gate
    // looked at so far is missing, so a skipped gate can be collected.
    static const int offsets[5] = {-3, -2, 0, 1, 2};
    bool missing = false;
    int accepted = INT_MIN;
    for (int i : offsets) {
        const long long kk = (long long)progress + i;
        if (kk < 0 || kk >= GATE_TIMES_MAX)
            continue;
        const int k = (int)kk;
        missing = missing || k >= b->gate_times.count || gate_time(b, k) == -1;
        const timing_gate& g = t->checkpoints[race_gate_checkpoint(t, k)];
        const float dx = wheel_x - g.position.x;
        const float dz = wheel_z - g.position.z;
        const bool inside =
            g.radius * g.radius >= dx * dx + dz * dz && dx * g.direction.x + dz * g.direction.z >= 0.0f;
        if (inside) {
            if (missing || i >= 0) {
                accepted = i;
                break;
            }
        } else if (is_lap_end_gate(t, k) && gate_time(b, k) == -1) {
            // A lap cannot be ended by riding around its last gate.
            return false;
        }
    }
    if (accepted == INT_MIN)
        return false;

    const int k = progress + accepted;
    grow_times(&b->gate_times, k);
    b->gate_times.items[k] = race.tick;
    b->gate_progress = k + 1;

    if (is_lap_end_gate(t, k) && !b->finished) {
        const int final_gate = lap_end_gate(t, race.race_laps);
        if (lap_count(t, b->gate_progress) >= race.race_laps ||
            (final_gate >= 0 && race.leader_progress > final_gate))
            b->finished = 1;
    }
    return true;
}

int lap_count(const track_timing* t, int progress)
{
    if (!timing_active(t) || progress < t->first_count)
        return 0;
    return (progress - t->first_count) / t->normal_count + 1;
}

int lap_end_gate(const track_timing* t, int lap)
{
    if (!timing_active(t) || lap < 1)
        return -1;
    const long long k = (long long)t->first_count + (long long)t->normal_count * (lap - 1) - 1;
    return k > INT_MAX ? INT_MAX : (int)k;
}

double lap_time(const track_timing* t, const bike* b, int lap, int start_tick)
{
    if (!timing_active(t))
        return 0.0;
    if (lap < 0)
        lap = lap_count(t, b->gate_progress);
    if (lap < 1)
        return 0.0;
    const int end = gate_time(b, lap_end_gate(t, lap));
    const int begin = lap == 1 ? start_tick : gate_time(b, lap_end_gate(t, lap - 1));
    if (end == -1 || begin == -1)
        return 0.0;
    return ((double)end - (double)begin) * 0.0078125;
}

int best_lap(const track_timing* t, const bike* b, int start_tick)
{
    const int laps = lap_count(t, b->gate_progress);
    if (laps < 2)
        return 0;
    int best = 2;
    double best_time = lap_time(t, b, 2, start_tick);
    for (int lap = 3; lap <= laps; lap++) {
        const double time = lap_time(t, b, lap, start_tick);
        if (best_time == 0.0 || (time > 0.0 && time < best_time)) {
            best = lap;
            best_time = time;
        }
    }
    return best;
}

bool is_finished(const track_timing* t, bike* b, const gate_race& race)
{
    if (!timing_active(t))
        return false;
    if (b->finished)
        return true;
    const int final_gate = lap_end_gate(t, race.race_laps);
    const bike* leader = race.leader;
    if (!leader || final_gate < 0 || leader->gate_progress <= final_gate)
        return false;
    const int leader_time = gate_time(leader, final_gate);
    if (leader_time == -1)
        return false;
    const int progress = b->gate_progress;
    const int last_end = progress >= t->first_count ? lap_end_gate(t, lap_count(t, progress)) : 0;
    const int time = gate_time(b, last_end);
    if (time < leader_time)
        return false;
    b->finished = 1;
    return true;
}
