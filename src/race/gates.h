// Lap counting: the crossing test run for every bike each tick, and
// everything derived from a bike's gate times: laps, lap times, the best
// lap and the finish, over the track's timing gates (track/timing_gates.h).
//
// A bike's gate_progress is the race gate it must pass next; gate_times[k]
// is the tick it passed race gate k, -1 when it skipped it.
//
// Everything here that decides the race is single precision and reads no
// clock, so a replay counts the same laps.
#pragma once

#include "track/timing_gates.h"

struct bike;

// ---- a bike's gates ------------------------------------------------------------

// What the gate rules read about the race around a bike.
struct gate_race {
    int tick = 0;                 // the current world tick
    int start_tick = 0;           // the tick the gate drops
    int race_laps = 0;            // the lap total of the finish rule
    const bike* leader = nullptr; // the ranking's first rider, null before any ranking
    int leader_progress = 0;      // its gate progress as last ranked (0 before any ranking)
};

// The crossing test of one tick for a bike that is not driven by recorded
// data, with its front wheel centre as the point: stamps the tick of the
// gate it entered, advances gate_progress and sets finished at the final
// lap end. Returns true when a gate was passed: the caller then runs the
// ranking update. Does nothing without timing data or once finished.
bool check_gates(const track_timing* t, bike* b, const gate_race& race);
// The same with the point given (x, z feet), for callers that know it.
bool check_gates_at(const track_timing* t, bike* b, float wheel_x, float wheel_z, const gate_race& race);

// Truncates the gate times to k entries and sets gate_progress to k (k < 0
// counts as 0); clears finished when k is below the previous progress.
void set_gate_progress(bike* b, int k);
// Grows the gate times with -1 entries up to k and stores tick at k. False
// (nothing changed) for k < 0 or k >= GATE_TIMES_MAX.
bool set_gate_time(bike* b, int k, int tick);
// The tick at race gate k, or -1 when k is outside the times or skipped.
int gate_time(const bike* b, int k);

// Completed laps at a gate progress: 0 below F, else (progress - F) div N + 1.
// 0 without timing data.
int lap_count(const track_timing* t, int progress);
// The race gate that ends lap (lap >= 1): F + N (lap - 1) - 1, saturated at
// the int range; -1 for lap < 1 or without timing data.
int lap_end_gate(const track_timing* t, int lap);
// Seconds the bike took for lap (lap < 0: its current lap count); 0 when a
// needed time is missing or without timing data. Lap 1 runs from
// start_tick.
double lap_time(const track_timing* t, const bike* b, int lap, int start_tick);
// The bike's best lap number (lap 1, which holds the start, never counts);
// 0 with fewer than two laps completed. Its time is lap_time of it.
int best_lap(const track_timing* t, const bike* b, int start_tick);
// The finish rule: sets and reports finished when the bike has passed a lap
// end at or after the tick the leader passed the final one.
bool is_finished(const track_timing* t, bike* b, const gate_race& race);
