// The ranking of a ride: order, race length, final results with the
// penalty for cutting the track, the results file and the points series;
// and who is shown in a multiplayer race.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <ctime>

#include "bike/bike.h"
#include "core/game.h"
#include "race/race.h"
#include "race/race_internal.h"
#include "race/results.h"
#include "race/series.h"
#include "track/track.h"

namespace {

const int k_second = RACE_TICKS_PER_SECOND;

const track_timing* timing()
{
    return &g_track.timing_gates;
}

bike* slot_bike(int slot)
{
    return slot >= 0 && slot < RACE_SLOTS ? g_race.slots[slot].b : nullptr;
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
int lap_ticks(const bike* b, int lap)
{
    const track_timing* t = timing();
    if (lap < 1)
        return 0;
    const int end = gate_time(b, lap_end_gate(t, lap));
    const int begin = lap == 1 ? g_race.start_tick : gate_time(b, lap_end_gate(t, lap - 1));
    if (end == -1 || begin == -1)
        return 0;
    return end - begin;
}

// The bike's time over race gates a..b when it rode them cleanly.
bool clean_section_time(const bike* r, int a, int b, int* out)
{
    const track_timing* t = timing();
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
bool still_counts(int slot)
{
    const race_slot& s = g_race.slots[slot];
    if (s.driver == slot_driver_local)
        return !race_warm_up();
    if (s.driver == slot_driver_robot)
        return true;
    if (!g_race.net.connected) {
        // A demo rider whose recording has ended.
        return g_race_hooks.history_has_state &&
               g_race_hooks.history_has_state(slot, g_race.tick - 10 * k_second + 1, INT_MAX);
    }
    if (slot == g_race.net.race_slot)
        return true;
    const int t = g_race.net.update_tick[slot];
    return t >= 0 && g_race.tick - t < k_second;
}

// Timed races: half distance, and the lap total once the time is up.
void apply_race_length()
{
    if (g_race.race_minutes_ticks <= 0) {
        g_race.race_laps = g_race.extra_laps;
        return;
    }
    if (g_race.ranking_count == 0)
        return;
    const track_timing* t = timing();
    const int leader_laps = lap_count(t, g_race.ranking[0].progress);
    const int64_t start = g_race.start_tick;
    if (g_race.tick >= start + g_race.race_minutes_ticks / 2 && g_race.half_laps == RACE_LAPS_UNDECIDED)
        g_race.half_laps = leader_laps + 1;
    const int64_t end = start + g_race.race_minutes_ticks;
    if (g_race.tick < end)
        return;
    // Find the lap in which the time ran out: the first lap end after it.
    int lap = std::max(1, std::min(leader_laps - 1, g_race.race_laps));
    for (; lap < RACE_LAPS_UNDECIDED; lap++) {
        const int gate = lap_end_gate(t, lap);
        if (gate < 0)
            return;
        int earliest = INT_MAX;
        for (int i = 0; i < g_race.ranking_count; i++) {
            const int when = gate_time(slot_bike(g_race.ranking[i].slot), gate);
            if (when != -1 && when < earliest)
                earliest = when;
        }
        if (earliest == INT_MAX)
            return;
        const int64_t laps = (int64_t)lap + g_race.extra_laps;
        if (earliest >= end) {
            g_race.race_laps = (int)std::min<int64_t>(g_race.race_laps, laps);
            return;
        }
        g_race.race_laps = (int)std::max<int64_t>(g_race.race_laps, std::min<int64_t>(laps + 1, INT_MAX));
    }
}

// The results ranking: cutting penalties, lost laps, the same order rule.
void build_results()
{
    const track_timing* t = timing();
    const int first = t->first_count, normal = t->normal_count;
    g_race.results_count = g_race.ranking_count;
    for (int i = 0; i < g_race.ranking_count; i++) {
        ranking_entry e = g_race.ranking[i];
        const bike* b = slot_bike(e.slot);
        const int penalty = cutting_penalty(b);
        int rest = penalty;
        const int laps = lap_count(t, e.progress);
        const int last_lap = lap_ticks(b, laps);
        if (laps >= 2 && last_lap > 0 && rest > last_lap) {
            // A penalty longer than a lap costs the lap itself.
            while (rest > last_lap && e.progress - normal >= first) {
                e.progress -= normal;
                rest -= last_lap;
            }
        }
        e.last_tick = (int)std::min<int64_t>((int64_t)e.last_tick + rest, INT_MAX);
        e.penalty = penalty;
        g_race.results_ranking[i] = e;
    }
    std::sort(g_race.results_ranking, g_race.results_ranking + g_race.results_count, ranked_before);
}

void write_results_file()
{
    const track_timing* t = timing();
    result_race race;
    race.time_limit_ticks = g_race.race_minutes_ticks;
    race.extra_laps = g_race.extra_laps;
    race.track_dir = g_track.dir;
    race.date = g_race_hooks.results_date ? g_race_hooks.results_date() : (long)time(nullptr);
    race.start_tick = g_race.start_tick;
    race.first_lap_gates = t->first_count;
    race.normal_lap_gates = t->normal_count;
    static result_rider riders[RACE_SLOTS];
    for (int i = 0; i < g_race.results_count; i++) {
        const ranking_entry& e = g_race.results_ranking[i];
        const bike* b = slot_bike(e.slot);
        result_rider& r = riders[i];
        r = result_rider();
        r.number = b->number_text;
        r.model = bike_model_name(b);
        r.finished = b->finished != 0;
        r.lap_count = lap_count(t, e.progress);
        r.total_ticks = (int)std::max<int64_t>(0, (int64_t)e.last_tick - g_race.start_tick);
        r.best_lap = best_lap(t, b, g_race.start_tick);
        r.best_lap_ticks = lap_ticks(b, r.best_lap);
        r.gate_times = b->gate_times.items;
        r.gate_count = b->gate_times.count;
    }
    g_race.results_written = write_results(&race, riders, g_race.results_count);
}

// Off course at one of the bike's last three gates.
bool recently_off_course(const bike* b)
{
    for (int j = b->gate_progress - 3; j < b->gate_progress; j++)
        if (j >= 0 && off_course_at(b, j))
            return true;
    return false;
}

// The off-course rule applies once the race has run a while with company.
bool off_course_rule_active()
{
    const float since_start = (float)(g_race.tick - g_race.start_tick) * race_tick_length;
    return g_race.net.connected && since_start >= g_race.net.off_course_bias && g_race.ranking_count > 1;
}

}  // namespace

// ---- the ranking ----------------------------------------------------------------------

void update_ranking()
{
    if (g_race.results_final)
        return;
    g_race.ranking_stale = false;
    int n = 0;
    for (int slot = 0; slot < RACE_SLOTS; slot++) {
        const bike* b = g_race.slots[slot].b;
        if (!b)
            continue;
        ranking_entry& e = g_race.ranking[n++];
        e = ranking_entry();
        e.slot = slot;
        e.progress = b->gate_progress;
        e.last_tick = last_gate_tick(b);
    }
    g_race.ranking_count = n;
    std::sort(g_race.ranking, g_race.ranking + n, ranked_before);

    apply_race_length();

    // Final once nobody who counts is still riding (a ride without riders
    // has no results to make final).
    if (n == 0)
        return;
    const track_timing* t = timing();
    const gate_race race = race_gate_state();
    bool open = false;
    for (int i = 0; i < n; i++) {
        const int slot = g_race.ranking[i].slot;
        if (!is_finished(t, slot_bike(slot), race) && still_counts(slot))
            open = true;
    }
    if (open)
        return;

    build_results();
    const bike* winner = slot_bike(g_race.results_ranking[0].slot);
    if (winner && winner->finished)
        write_results_file();
    g_race.results_final = true;
    race_score_series();
}

int section_average(int a, int b)
{
    const bool warm_up = race_warm_up();
    int64_t total = 0;
    int riders = 0;
    for (int i = 0; i < g_race.ranking_count; i++) {
        const int slot = g_race.ranking[i].slot;
        const bike* r = slot_bike(slot);
        if (!r || (warm_up && slot == g_race.player_slot))
            continue;
        int time = 0;
        if (clean_section_time(r, a, b, &time)) {
            total += time;
            riders++;
        }
    }
    return riders > 0 ? (int)(total / riders) : SECTION_AVERAGE_DEFAULT;
}

int cutting_penalty(const bike* b)
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
            const int64_t allowed = (int64_t)section_average(a, u) + k_second;
            if (rider < allowed)
                penalty += allowed - rider;
        }
        skipped = 0;
    }
    return (int)std::min<int64_t>(penalty, INT_MAX);
}

bool race_finish_fallen_rider(void* race, bike* b)
{
    race_state* r = static_cast<race_state*>(race);
    if (!r || !b || b->gate_progress <= 0 || b->finished || r->ranking_count == 0)
        return false;
    const track_timing* t = timing();
    const bike* leader = slot_bike(r->ranking[0].slot);
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

void race_score_series()
{
    if (g_series.racing_series < 0)
        return;
    const bool final = g_race.results_final;
    const ranking_entry* list = final ? g_race.results_ranking : g_race.ranking;
    const int count = final ? g_race.results_count : g_race.ranking_count;
    static series_ranked_rider riders[RACE_SLOTS];
    int n = 0;
    for (int i = 0; i < count; i++) {
        const race_slot& s = g_race.slots[list[i].slot];
        if (!s.b)
            continue;
        series_ranked_rider& r = riders[n++];
        r.number = s.b->number_text;
        r.local_player = s.driver == slot_driver_local;
        r.finished = s.b->finished != 0;
        r.cut_penalty = final ? list[i].penalty > 0 : (r.local_player && cutting_penalty(s.b) > 0);
    }
    score_series_event(&g_series, riders, n, final);
}

// ---- who is shown ---------------------------------------------------------------------

bool off_course_at(const bike* b, int j)
{
    if (!b || j < 0)
        return false;
    // The rider's time from the last gate before j (at most three back) to
    // the first recorded one from j on, or up to now.
    int from = g_race.start_tick;
    for (int k = j - 1; k >= j - 3 && k >= 0; k--) {
        if (gate_time(b, k) != -1) {
            from = gate_time(b, k);
            break;
        }
    }
    int to = g_race.tick;
    for (int k = j; k < b->gate_times.count; k++) {
        if (gate_time(b, k) != -1) {
            to = gate_time(b, k);
            break;
        }
    }
    // The section as the best placed rider through it rode it.
    for (int i = 0; i < g_race.ranking_count; i++) {
        const bike* r = slot_bike(g_race.ranking[i].slot);
        if (!r || r->gate_progress <= j)
            continue;
        const int at = gate_time(r, j);
        const int before = j == 0 ? g_race.start_tick : gate_time(r, j - 1);
        if (at == -1 || before == -1)
            continue;
        const float reference = (float)(at - before) * race_tick_length;
        const float own = (float)((int64_t)to - from) * race_tick_length;
        return own > reference * g_race.net.off_course_scale + g_race.net.off_course_bias;
    }
    return false;
}

bool race_own_bike_ghosted()
{
    const bike* own = race_player_bike();
    return own && off_course_rule_active() && !own->finished && recently_off_course(own);
}

bool is_visible(int slot)
{
    const bike* b = slot_bike(slot);
    if (!b)
        return false;
    const race_slot& s = g_race.slots[slot];
    if (s.driver == slot_driver_local)
        return !race_warm_up() || slot == g_game.watched_slot;
    if (s.driver == slot_driver_robot)
        return true;
    if (!g_race_hooks.history_has_state ||
        !g_race_hooks.history_has_state(slot, g_race.tick - k_second, g_race.tick + k_second))
        return false;
    if (!g_race.net.connected)
        return true;
    if (slot != g_race.net.race_slot) {
        const int t = g_race.net.update_tick[slot];
        if (t < 0 || g_race.tick - t >= k_second)
            return false;
    }
    if (off_course_rule_active()) {
        const bike* own = race_player_bike();
        if (own && !own->finished && recently_off_course(own))
            return true;
        if (b->finished || b->gate_progress == 0 || recently_off_course(b))
            return false;
    }
    return true;
}
