// The heads-up display's texts and figures of a race.
#include "race/race_display.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "bike/bike.h"
#include "bike/suspension.h"
#include "race/gates.h"
#include "race/world.h"

namespace {

const double tick_seconds = 1.0 / RACE_TICKS_PER_SECOND;

const bike* slot_bike_of(const world* w, int slot)
{
    return slot >= 0 && slot < RACE_SLOTS ? w->race.slots[slot].b : nullptr;
}

// A tick of a shown rider at gate k; -1 when missing.
int shown_gate_tick(const shown_rider& r, int k)
{
    if (k < 0 || k >= r.gate_count || !r.gate_times)
        return -1;
    return r.gate_times[k];
}

// Appends a formatted piece to out, never past size.
void append(char* out, int size, const char* piece)
{
    const size_t used = strlen(out);
    if ((int)used < size - 1)
        snprintf(out + used, (size_t)size - used, "%s", piece);
}

// The ranking the results table and the ticker show.
void shown_ranking(const world* w, const ranking_entry** list, int* count)
{
    const race_state& r = w->race;
    if (r.results_final) {
        *list = r.results_ranking;
        *count = r.results_count;
    } else {
        *list = r.ranking;
        *count = r.ranking_count;
    }
}

// The tick of the live ranking's last gate for a slot (the unpenalised one).
int own_last_tick(const world* w, int slot)
{
    for (int i = 0; i < w->race.ranking_count; i++)
        if (w->race.ranking[i].slot == slot)
            return w->race.ranking[i].last_tick;
    return 0;
}

}  // namespace

void short_time_text(double seconds, char* out, int size)
{
    long ms = seconds > 0 ? (long)(seconds * 1000.0) : 0;
    snprintf(out, (size_t)size, "%ld:%02ld.%ld", ms / 60000, ms / 1000 % 60, ms % 1000 / 100);
}

void long_time_text(int ticks, char* out, int size)
{
    const long ms = ticks > 0 ? (long)((long long)ticks * 1000 / RACE_TICKS_PER_SECOND) : 0;
    snprintf(out, (size_t)size, "%ld:%02ld.%03ld", ms / 60000, ms / 1000 % 60, ms % 1000);
}

shown_rider shown_rider_of(const world* w, const ranking_entry& e)
{
    shown_rider s;
    s.progress = e.progress;
    s.last_tick = e.last_tick;
    if (const bike* b = slot_bike_of(w, e.slot)) {
        s.gate_times = b->gate_times.items;
        s.gate_count = b->gate_times.count;
    }
    return s;
}

double rider_gap(const shown_rider& me, const shown_rider& other)
{
    int mine, theirs;
    if (me.progress == other.progress) {
        mine = me.last_tick;
        theirs = other.last_tick;
    } else {
        const int k = (me.progress < other.progress ? me.progress : other.progress) - 1;
        mine = shown_gate_tick(me, k);
        theirs = shown_gate_tick(other, k);
    }
    if (mine <= 0 || theirs <= 0)
        return 0;
    return ((double)theirs - mine) * tick_seconds;
}

double ranking_gap(const world* w, const ranking_entry* list, int count, int index)
{
    if (count < 2 || index < 0 || index >= count)
        return 0;
    const int other = index == 0 ? 1 : index - 1;
    return rider_gap(shown_rider_of(w, list[index]), shown_rider_of(w, list[other]));
}

bool pit_board_of(const world* w, int slot, pit_board* out)
{
    *out = pit_board();
    const bike* b = slot_bike_of(w, slot);
    if (!b)
        return false;
    const race_state& r = w->race;
    const track_timing* t = &w->track.timing_gates;
    snprintf(out->number, sizeof out->number, "%s", b->number_text);
    int index = 0;
    for (int i = 0; i < r.ranking_count; i++)
        if (r.ranking[i].slot == slot)
            index = i;
    const int laps = lap_count(t, b->gate_progress);
    if (r.time_trial)
        snprintf(out->position, sizeof out->position, "%d", index + 1);
    else
        snprintf(out->position, sizeof out->position, "L%d P%d", laps + 1, index + 1);

    char piece[64], time[32];

    snprintf(out->gap, sizeof out->gap, "%+.1f ", ranking_gap(w, r.ranking, r.ranking_count, index));
    const double last = r.time_trial ? r.last_lap_time : (laps >= 2 ? lap_time(t, b, laps, r.start_tick) : 0.0);
    if (last > 0) {
        short_time_text(last, time, sizeof time);
        snprintf(out->last, sizeof out->last, "Last - %s ", time);
    }
    double best = r.time_trial ? r.best_lap_time : 0.0;
    if (!r.time_trial) {
        const int lap = best_lap(t, b, r.start_tick);
        best = lap ? lap_time(t, b, lap, r.start_tick) : 0.0;
    }
    if (best > 0) {
        short_time_text(best, time, sizeof time);
        snprintf(out->best, sizeof out->best, "Best - %s", time);
    }

    // Riders a lap or more ahead that are about to lap (or have just
    // lapped) this one: each one's tick at the same point of its lap as our
    // last gate, from 3 s behind us to 15 s ahead of us on the course.
    const int n = t->normal_count;
    const int mine = gate_time(b, b->gate_progress - 1);
    if (n > 0 && mine > 0 && !r.time_trial) {
        for (int i = 0; i < index; i++) {
            const bike* a = slot_bike_of(w, r.ranking[i].slot);
            if (!a)
                continue;
            const int ahead = lap_count(t, a->gate_progress) - laps;
            if (ahead < 1)
                continue;
            const long gate = (long)(b->gate_progress - 1) + (long)ahead * n;
            const int theirs = gate < 0x7fffffff ? gate_time(a, (int)gate) : -1;
            if (theirs <= 0)
                continue;
            const int behind = theirs - mine;  // ticks the rider ahead passed after us
            if (behind > 3 * RACE_TICKS_PER_SECOND || -behind > 15 * RACE_TICKS_PER_SECOND)
                continue;
            snprintf(piece, sizeof piece, " %.5s (%.1f) ", a->number_text, behind * tick_seconds);
            append(out->lapping, sizeof out->lapping, piece);
        }
    }
    return true;
}

float banner_alpha(double seconds)
{
    const double a = 3.0 - seconds;
    return (float)(a < 0 ? 0 : a > 1 ? 1 : a);
}

void race_length_text(int minutes_ticks, int extra_laps, char* out, int size)
{
    if (minutes_ticks <= 0) {
        snprintf(out, (size_t)size, "%d laps", extra_laps);
        return;
    }
    const int minutes = (int)std::lround(minutes_ticks * tick_seconds / 60.0);
    if (extra_laps > 0)
        snprintf(out, (size_t)size, "%d minutes + %d laps", minutes, extra_laps);
    else
        snprintf(out, (size_t)size, "%d minutes", minutes);
}

void penalty_line(const char* number, int laps_lost, double seconds, char* out, int size)
{
    snprintf(out, (size_t)size, "%3s penalized ", number);
    if (laps_lost > 0) {
        char laps[32];
        snprintf(laps, sizeof laps, "%d %s ", laps_lost, laps_lost == 1 ? "lap" : "laps");
        append(out, size, laps);
    }
    char cut[64];
    snprintf(cut, sizeof cut, "%.2f seconds for cutting track", seconds);
    append(out, size, cut);
}

void results_table_of(const world* w, int watched_slot, results_table* out)
{
    out->shown = false;
    out->count = 0;
    out->penalty_count = 0;
    out->total[0] = 0;
    const race_state& r = w->race;
    const track_timing* t = &w->track.timing_gates;
    const ranking_entry* list;
    int count;
    shown_ranking(w, &list, &count);
    out->final = r.results_final;
    if (count < 1)
        return;
    const bike* first = slot_bike_of(w, list[0].slot);
    if (!first || !first->finished)
        return;
    out->shown = true;
    for (int i = 0; i < count && out->count < RACE_SLOTS; i++) {
        const bike* b = slot_bike_of(w, list[i].slot);
        if (!b || (!b->finished && !r.results_final))
            continue;
        results_row& row = out->rows[out->count++];
        row = results_row();
        row.position = i + 1;
        snprintf(row.number, sizeof row.number, "%s", b->number_text);
        row.laps = lap_count(t, list[i].progress);
        row.gap = std::fabs(ranking_gap(w, list, count, i));
        row.best_lap = best_lap(t, b, r.start_tick);
        row.best_ticks = row.best_lap ? (int)std::lround(lap_time(t, b, row.best_lap, r.start_tick) *
                                                         RACE_TICKS_PER_SECOND)
                                      : 0;
        row.watched = list[i].slot == watched_slot;
    }
    if (!r.results_final)
        return;
    char time[32];
    long_time_text(list[0].last_tick - r.start_tick, time, sizeof time);
    snprintf(out->total, sizeof out->total, "Total Race Time: %s", time);
    for (int i = 0; i < count; i++) {
        const bike* b = slot_bike_of(w, list[i].slot);
        const int own = own_last_tick(w, list[i].slot);
        if (!b || list[i].last_tick <= own)
            continue;
        const int lost = lap_count(t, b->gate_progress) - lap_count(t, list[i].progress);
        penalty_line(b->number_text, lost, (list[i].last_tick - own) * tick_seconds,
                     out->penalties[out->penalty_count++], DISPLAY_TEXT_MAX);
    }
}

void results_row_texts(const results_row& r, char columns[6][32])
{
    snprintf(columns[0], 32, "%d", r.position);
    snprintf(columns[1], 32, "%3s", r.number);
    snprintf(columns[2], 32, "L%d", r.laps);
    snprintf(columns[3], 32, "%7.3f", r.gap);
    long_time_text(r.best_ticks, columns[4], 32);
    snprintf(columns[5], 32, "(%d)", r.best_lap);
}

int ticker_entries_of(const world* w, ticker_entry* out, int max)
{
    const ranking_entry* list;
    int count;
    shown_ranking(w, &list, &count);
    const bool warm_up = race_warm_up(w);
    int n = 0;
    const shown_rider leader = count > 0 ? shown_rider_of(w, list[0]) : shown_rider();
    for (int i = 0; i < count && n < max; i++) {
        const int slot = list[i].slot;
        const bike* b = slot_bike_of(w, slot);
        if (!b || (warm_up && slot == w->race.player_slot))
            continue;
        ticker_entry& e = out[n];
        snprintf(e.text, sizeof e.text, "%d %3s %.40s", i + 1, b->number_text, w->race.slots[slot].rider.name);
        if (n > 0) {
            const double behind = rider_gap(leader, shown_rider_of(w, list[i]));
            if (behind > 0) {
                char gap[32];
                snprintf(gap, sizeof gap, " %7.3f", behind);
                append(e.text, sizeof e.text, gap);
            }
        }
        n++;
    }
    return n;
}

double ticker_scroll(double sim_clock, int count)
{
    if (count <= 0 || !(sim_clock >= 0))
        return 0;
    const double ring = count + 1;
    return std::fmod(sim_clock / 2.0, ring);
}

lap_board_kind lap_board_of(const world* w, char* text, int size)
{
    text[0] = 0;
    const race_state& r = w->race;
    int leader_laps = 0;
    if (r.ranking_count > 0)
        leader_laps = lap_count(&w->track.timing_gates, r.ranking[0].progress);
    if (leader_laps >= r.race_laps)
        return lap_board_chequered;
    snprintf(text, (size_t)size, "Lap %d", leader_laps + 1);
    return leader_laps + 1 == r.race_laps ? lap_board_last_lap : lap_board_plain;
}

int readout_lines(const world* w, const readout_input& in, char lines[][DISPLAY_TEXT_MAX], int max)
{
    int n = 0;
    auto line = [&](const char* format, auto... args) {
        if (n < max)
            snprintf(lines[n++], DISPLAY_TEXT_MAX, format, args...);
    };
    if (in.fps_on)
        line("FPS - %d", in.fps);
    if (in.time_on) {
        const int ticks = w->race.tick > w->race.start_tick ? w->race.tick - w->race.start_tick : 0;
        char time[32];
        short_time_text(ticks * tick_seconds, time, sizeof time);
        line("Time - %s ", time);
    }
    if (in.ping_on)
        line("Ping - %dms (%dms offset)", in.ping_ms, in.offset_ms);
    if (in.speed_on)
        line("Speed - %.2f", in.speed * 0.6818182);
    if (in.render_stats) {
        static const char* const names[6] = {"Ground polygons", "Model polygons", "Billboards",
                                             "Decals", "Texture Changes", "Shader Changes"};
        for (int k = 0; k < 6; k++)
            line("%s - %d max=%d", names[k], (int)in.stats[k][0], (int)in.stats[k][1]);
    }
    if (in.dabbing)
        line("%s", "Dabbing!");
    return n;
}

void suspension_graph_push(suspension_graph* g, const float values[SUSPENSION_GRAPH_TRACES])
{
    if (g->index < 0 || g->index >= SUSPENSION_GRAPH_SAMPLES)
        g->index = 0;
    if (g->index == 0 && g->reset) {
        memset(g->samples, 0, sizeof g->samples);
        g->reset = false;
    }
    for (int k = 0; k < SUSPENSION_GRAPH_TRACES; k++)
        g->samples[k][g->index] = values[k];
    g->index = (g->index + 1) % SUSPENSION_GRAPH_SAMPLES;
}

void suspension_graph_sample(const bike* b, float values[SUSPENSION_GRAPH_TRACES])
{
    const suspension_graph_values fork = fork_graph_values(b), shock = shock_graph_values(b);
    values[0] = fork.travel;
    values[1] = fork.rate * (1.0f - fork.damping_share);
    values[2] = fork.rate * fork.damping_share;
    values[3] = shock.travel;
    values[4] = shock.rate * (1.0f - shock.damping_share);
    values[5] = shock.rate * shock.damping_share;
}
