// The ranking of a ride: order, race length, final results with the
// penalty for cutting the track, the results file and the points series;
// and who is shown in a multiplayer race.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <ctime>
#include <vector>

#include "bike/bike.h"
#include "race/demo.h"
#include "race/race.h"
#include "race/race_internal.h"
#include "race/results.h"
#include "race/series.h"
#include "track/track.h"

namespace {

const int k_second = RACE_TICKS_PER_SECOND;

const track_timing* timing(const world* w)
{
    return &w->track.timing_gates;
}

bike* slot_bike(const world* w, int slot)
{
    return slot >= 0 && slot < RACE_SLOTS ? w->race.slots[slot].b : nullptr;
}

bool ranked_before(const ranking_entry& a, const ranking_entry& b)
{
    if (a.progress != b.progress)
        return a.progress > b.progress;
    if (a.last_tick != b.last_tick)
        return a.last_tick < b.last_tick;
    return a.slot < b.slot;
}

// The tick of the last gate the bike passed (a gate set from outside may be
// missing; the last recorded one before it counts), 0 when none.
int last_gate_tick(const bike* b)
{
    for (int k = b->gate_progress - 1; k >= 0; k--) {
        const int t = gate_time(b, k);
        if (t != -1)
            return t;
    }
    return 0;
}

// The time of the bike's lap `lap` in ticks; 0 when a time is missing.
int lap_ticks(const world* w, const bike* b, int lap)
{
    const track_timing* t = timing(w);
    if (lap < 1)
        return 0;
    const int end = gate_time(b, lap_end_gate(t, lap));
    const int begin = lap == 1 ? w->race.start_tick : gate_time(b, lap_end_gate(t, lap - 1));
    if (end == -1 || begin == -1)
        return 0;
    return end - begin;
}

// The bike's time over race gates a..b when it rode them cleanly.
bool clean_section_time(const world* w, const bike* r, int a, int b, int* out)
{
    const track_timing* t = timing(w);
    const int first = t->first_count, normal = t->normal_count;
    if (b <= a)
        return false;
    if (a < first) {
        const int ta = a < 0 ? 0 : gate_time(r, a);
        if (ta == -1)
            return false;
        for (int k = a + 1; k <= b; k++)
            if (k >= 0 && gate_time(r, k) == -1)
                return false;
        *out = gate_time(r, b) - ta;
        return true;
    }
    if (normal <= 0)
        return false;
    // The same stretch of every normal lap.
    const int span = b - a;
    int64_t total = 0;
    int laps = 0;
    for (int s = first + (a - first) % normal; s + span < r->gate_times.count; s += normal) {
        bool clean = true;
        for (int k = s; k <= s + span && clean; k++)
            clean = gate_time(r, k) != -1;
        if (!clean)
            continue;
        total += gate_time(r, s + span) - gate_time(r, s);
        laps++;
    }
    if (laps == 0)
        return false;
    *out = (int)(total / laps);
    return true;
}

// A rider that can no longer change the results does not hold them open.
bool still_counts(const world* w, int slot)
{
    const race_slot& s = w->race.slots[slot];
    if (s.driver == slot_driver_local)
        return !race_warm_up(w);
    if (s.driver == slot_driver_robot || s.driver == slot_driver_test)
        return true;
    if (!w->race.net.connected) {
        // A demo rider whose recording has ended.
        return history_has_state(w, slot, w->race.tick - 10 * k_second + 1, INT_MAX);
    }
    if (slot == w->race.net.race_slot)
        return true;
    const int t = w->race.net.update_tick[slot];
    return t >= 0 && w->race.tick - t < k_second;
}

// Timed races: half distance, and the lap total once the time is up.
void apply_race_length(world* w)
{
    if (w->race.race_minutes_ticks <= 0) {
        w->race.race_laps = w->race.extra_laps;
        return;
    }
    if (w->race.ranking_count == 0)
        return;
    const track_timing* t = timing(w);
    const int leader_laps = lap_count(t, w->race.ranking[0].progress);
    const int64_t start = w->race.start_tick;
    if (w->race.tick >= start + w->race.race_minutes_ticks / 2 && w->race.half_laps == RACE_LAPS_UNDECIDED)
        w->race.half_laps = leader_laps + 1;
    const int64_t end = start + w->race.race_minutes_ticks;
    if (w->race.tick < end)
        return;
    // Find the lap in which the time ran out: the first lap end after it.
    int lap = std::max(1, std::min(leader_laps - 1, w->race.race_laps));
    for (; lap < RACE_LAPS_UNDECIDED; lap++) {
        const int gate = lap_end_gate(t, lap);
        if (gate < 0)
            return;
        int earliest = INT_MAX;
        for (int i = 0; i < w->race.ranking_count; i++) {
            const int when = gate_time(slot_bike(w, w->race.ranking[i].slot), gate);
            if (when != -1 && when < earliest)
                earliest = when;
        }
        if (earliest == INT_MAX)
            return;
        const int64_t laps = (int64_t)lap + w->race.extra_laps;
        if (earliest >= end) {
            w->race.race_laps = (int)std::min<int64_t>(w->race.race_laps, laps);
            return;
        }
        w->race.race_laps = (int)std::max<int64_t>(w->race.race_laps, std::min<int64_t>(laps + 1, INT_MAX));
    }
}

// The results ranking: cutting penalties, lost laps, the same order rule.
void build_results(world* w)
{
    const track_timing* t = timing(w);
    const int first = t->first_count, normal = t->normal_count;
    w->race.results_count = w->race.ranking_count;
    for (int i = 0; i < w->race.ranking_count; i++) {
        ranking_entry e = w->race.ranking[i];
        const bike* b = slot_bike(w, e.slot);
        const int penalty = cutting_penalty(w, b);
        int rest = penalty;
        const int laps = lap_count(t, e.progress);
        const int last_lap = lap_ticks(w, b, laps);
        if (laps >= 2 && last_lap > 0 && rest > last_lap) {
            // A penalty longer than a lap costs the lap itself.
            while (rest > last_lap && e.progress - normal >= first) {
                e.progress -= normal;
                rest -= last_lap;
            }
        }
        e.last_tick = (int)std::min<int64_t>((int64_t)e.last_tick + rest, INT_MAX);
        e.penalty = penalty;
        w->race.results_ranking[i] = e;
    }
    std::sort(w->race.results_ranking, w->race.results_ranking + w->race.results_count, ranked_before);
}

void write_results_file(world* w)
{
    // A replay rides the race again with slightly different times: it must
    // never overwrite the results the real race left. Racing against a demo
    // is a race of the player's own.
    if (!w->settings.results_file[0] || (demo_playing(w) && w->race.player_slot < 0))
        return;
    const track_timing* t = timing(w);
    result_race race;
    race.time_limit_ticks = w->race.race_minutes_ticks;
    race.extra_laps = w->race.extra_laps;
    race.track_dir = w->track.dir;
    race.date = w->settings.results_date ? w->settings.results_date : (long)time(nullptr);
    race.start_tick = w->race.start_tick;
    race.first_lap_gates = t->first_count;
    race.normal_lap_gates = t->normal_count;
    std::vector<result_rider> riders((size_t)w->race.results_count);
    for (int i = 0; i < w->race.results_count; i++) {
        const ranking_entry& e = w->race.results_ranking[i];
        const bike* b = slot_bike(w, e.slot);
        result_rider& r = riders[(size_t)i];
        r = result_rider();
        r.number = b->number_text;
        r.model = bike_model_name(b);
        r.finished = b->finished != 0;
        r.lap_count = lap_count(t, e.progress);
        r.total_ticks = (int)std::max<int64_t>(0, (int64_t)e.last_tick - w->race.start_tick);
        r.best_lap = best_lap(t, b, w->race.start_tick);
        r.best_lap_ticks = lap_ticks(w, b, r.best_lap);
        r.gate_times = b->gate_times.items;
        r.gate_count = b->gate_times.count;
    }
    w->race.results_written = write_results(w->settings.results_file, &race, riders.data(), w->race.results_count);
}

// Off course at one of the bike's last three gates.
bool recently_off_course(const world* w, const bike* b)
{
    for (int j = b->gate_progress - 3; j < b->gate_progress; j++)
        if (j >= 0 && off_course_at(w, b, j))
            return true;
    return false;
}

// The off-course rule applies once the race has run a while with company.
bool off_course_rule_active(const world* w)
{
    const float since_start = (float)(w->race.tick - w->race.start_tick) * race_tick_length;
    return w->race.net.connected && since_start >= w->race.net.off_course_bias && w->race.ranking_count > 1;
}

}  // namespace

// ---- the ranking ----------------------------------------------------------------------

void update_ranking(world* w)
{
    if (w->race.results_final)
        return;
    w->race.ranking_stale = false;
    int n = 0;
    for (int slot = 0; slot < RACE_SLOTS; slot++) {
        const bike* b = w->race.slots[slot].b;
        if (!b)
            continue;
        ranking_entry& e = w->race.ranking[n++];
        e = ranking_entry();
        e.slot = slot;
        e.progress = b->gate_progress;
        e.last_tick = last_gate_tick(b);
    }
    w->race.ranking_count = n;
    std::sort(w->race.ranking, w->race.ranking + n, ranked_before);

    apply_race_length(w);

    // Final once nobody who counts is still riding (a ride without riders
    // has no results to make final).
    if (n == 0)
        return;
    const track_timing* t = timing(w);
    const gate_race race = race_gate_state(w);
    bool open = false;
    for (int i = 0; i < n; i++) {
        const int slot = w->race.ranking[i].slot;
        if (!is_finished(t, slot_bike(w, slot), race) && still_counts(w, slot))
            open = true;
    }
    if (open)
        return;

    build_results(w);
    const bike* winner = slot_bike(w, w->race.results_ranking[0].slot);
    if (winner && winner->finished)
        write_results_file(w);
    w->race.results_final = true;
    race_score_series(w);
}

int section_average(const world* w, int a, int b)
{
    const bool warm_up = race_warm_up(w);
    int64_t total = 0;
    int riders = 0;
    for (int i = 0; i < w->race.ranking_count; i++) {
        const int slot = w->race.ranking[i].slot;
        const bike* r = slot_bike(w, slot);
        if (!r || (warm_up && slot == w->race.player_slot))
            continue;
        int time = 0;
        if (clean_section_time(w, r, a, b, &time)) {
            total += time;
            riders++;
        }
    }
    return riders > 0 ? (int)(total / riders) : SECTION_AVERAGE_DEFAULT;
}

int cutting_penalty(const world* w, const bike* b)
{
    if (!b)
        return 0;
    int64_t penalty = 0;
    int skipped = 0;
    for (int u = 0; u < b->gate_times.count; u++) {
        const int at = gate_time(b, u);
        if (at == -1) {
            skipped++;
            continue;
        }
        if (skipped > 0) {
            const int a = u - skipped - 1;
            const int from = a < 0 ? 0 : gate_time(b, a);
            const int64_t rider = (int64_t)at - from;
            const int64_t allowed = (int64_t)section_average(w, a, u) + k_second;
            if (rider < allowed)
                penalty += allowed - rider;
        }
        skipped = 0;
    }
    return (int)std::min<int64_t>(penalty, INT_MAX);
}

bool race_finish_fallen_rider(void* context, bike* b)
{
    world* w = static_cast<world*>(context);
    race_state* r = w ? &w->race : nullptr;
    if (!r || !b || b->gate_progress <= 0 || b->finished || r->ranking_count == 0)
        return false;
    const track_timing* t = timing(w);
    const bike* leader = slot_bike(w, r->ranking[0].slot);
    const int final_gate = lap_end_gate(t, r->race_laps);
    if (!leader || final_gate < 0)
        return false;
    const int leader_time = gate_time(leader, final_gate);
    const int laps = lap_count(t, b->gate_progress);
    if (leader_time == -1 || laps < 1)
        return false;
    const int own = gate_time(b, lap_end_gate(t, laps));
    if (own == -1 || own < leader_time)
        return false;
    b->finished = 1;
    // Nothing else would rank the ride again if he was the last one out.
    r->ranking_stale = true;
    return true;
}

void race_score_series(world* w)
{
    if (!w->series || w->series->racing_series < 0)
        return;
    const bool final = w->race.results_final;
    const ranking_entry* list = final ? w->race.results_ranking : w->race.ranking;
    const int count = final ? w->race.results_count : w->race.ranking_count;
    static series_ranked_rider riders[RACE_SLOTS];
    int n = 0;
    for (int i = 0; i < count; i++) {
        const race_slot& s = w->race.slots[list[i].slot];
        if (!s.b)
            continue;
        series_ranked_rider& r = riders[n++];
        r.number = s.b->number_text;
        r.local_player = s.driver == slot_driver_local;
        r.finished = s.b->finished != 0;
        r.cut_penalty = final ? list[i].penalty > 0 : (r.local_player && cutting_penalty(w, s.b) > 0);
    }
    score_series_event(w->series, riders, n, final);
}

// ---- who is shown ---------------------------------------------------------------------

bool off_course_at(const world* w, const bike* b, int j)
{
    if (!b || j < 0)
        return false;
    // The rider's time from the last gate before j (at most three back) to
    // the first recorded one from j on, or up to now.
    int from = w->race.start_tick;
    for (int k = j - 1; k >= j - 3 && k >= 0; k--) {
        if (gate_time(b, k) != -1) {
            from = gate_time(b, k);
            break;
        }
    }
    int to = w->race.tick;
    for (int k = j; k < b->gate_times.count; k++) {
        if (gate_time(b, k) != -1) {
            to = gate_time(b, k);
            break;
        }
    }
    // The section as the best placed rider through it rode it.
    for (int i = 0; i < w->race.ranking_count; i++) {
        const bike* r = slot_bike(w, w->race.ranking[i].slot);
        if (!r || r->gate_progress <= j)
            continue;
        const int at = gate_time(r, j);
        const int before = j == 0 ? w->race.start_tick : gate_time(r, j - 1);
        if (at == -1 || before == -1)
            continue;
        const float reference = (float)(at - before) * race_tick_length;
        const float own = (float)((int64_t)to - from) * race_tick_length;
        return own > reference * w->race.net.off_course_scale + w->race.net.off_course_bias;
    }
    return false;
}

bool race_own_bike_ghosted(const world* w)
{
    const bike* own = race_player_bike(w);
    return own && off_course_rule_active(w) && !own->finished && recently_off_course(w, own);
}

bool is_visible(const world* w, int slot)
{
    const bike* b = slot_bike(w, slot);
    if (!b)
        return false;
    const race_slot& s = w->race.slots[slot];
    if (s.driver == slot_driver_local)
        return !race_warm_up(w) || slot == w->race.watched_slot;
    if (s.driver == slot_driver_robot || s.driver == slot_driver_test)
        return true;
    if (!history_has_state(w, slot, w->race.tick - k_second, w->race.tick + k_second))
        return false;
    if (!w->race.net.connected)
        return true;
    if (slot != w->race.net.race_slot) {
        const int t = w->race.net.update_tick[slot];
        if (t < 0 || w->race.tick - t >= k_second)
            return false;
    }
    if (off_course_rule_active(w)) {
        const bike* own = race_player_bike(w);
        if (own && !own->finished && recently_off_course(w, own))
            return true;
        if (b->finished || b->gate_progress == 0 || recently_off_course(w, b))
            return false;
    }
    return true;
}
