// A headless race of robots and test riders.
#include "robot/robot_race.h"

#include <cstdio>

#include "bike/bike.h"
#include "race/gates.h"
#include "race/race.h"
#include "race/world.h"
#include "robot/robots.h"
#include "robot/test_riders.h"

bool robot_race_start(world* w, test_riders* scripted, const robot_race_options& o, std::string* why)
{
    const int riders = o.robots + o.scripted;
    if (riders < 1 || riders > RACE_SLOTS) {
        *why = "1 to 160 riders in all, got " + std::to_string(riders);
        return false;
    }
    if (o.scripted > 0 && !scripted) {
        *why = "test riders need the test riders' hooks";
        return false;
    }
    const int pieces = w->track.loaded ? w->track.timing_gates.piece_count : 0;
    const int first = o.first_slot >= 0 ? o.first_slot : (pieces > riders ? (pieces - riders) / 2 : 0);
    if (first + riders > RACE_SLOTS) {
        *why = std::to_string(riders) + " riders from slot " + std::to_string(first) + " do not fit into 160 slots";
        return false;
    }
    int lineup[RACE_SLOTS];
    for (int& l : lineup)
        l = lineup_empty;
    for (int i = 0; i < riders; i++)
        lineup[first + i] = lineup_robot;
    w->race.tick = o.seed;
    if (!world_reset(w, lineup, nullptr, o.record_demo, o.minutes_ticks, o.laps, o.skill)) {
        *why = std::string("can't load track '") + w->race.settings.track + "'";
        return false;
    }
    for (int i = 0; i < o.scripted; i++)
        if (!test_riders_add(scripted, w, first + i, o.cruise_mph, why))
            return false;
    return true;
}

void robot_race_ride(world* w, long max_ticks, robot_race_result* out, void (*observe)(void* context, const world* w),
                     void* context)
{
    out->ticks = 0;
    out->broken_slot = -1;
    while (!w->race.results_final && out->ticks < max_ticks) {
        world_tick(w);
        out->ticks++;
        if (observe)
            observe(context, w);
        if ((out->ticks & 127) != 0)
            continue;
        for (int slot = 0; slot < RACE_SLOTS && out->broken_slot < 0; slot++)
            if (w->race.slots[slot].b && !bike_state_finite(w->race.slots[slot].b))
                out->broken_slot = slot;
        if (out->broken_slot >= 0)
            break;
    }
    out->final = w->race.results_final;
}

void robot_race_report(const world* w, const robot_state* rs, robot_race_result* out)
{
    const track_timing* t = &w->track.timing_gates;
    out->riders.clear();
    for (int slot = 0; slot < RACE_SLOTS; slot++) {
        const race_slot& s = w->race.slots[slot];
        if (!s.b || (s.driver != slot_driver_robot && s.driver != slot_driver_test))
            continue;
        robot_race_rider r;
        r.slot = slot;
        r.robot = s.driver == slot_driver_robot && s.b->personality != 0;
        r.laps = lap_count(t, s.b->gate_progress);
        const int best = best_lap(t, s.b, w->race.start_tick);
        r.best_lap = best > 0 ? lap_time(t, s.b, best, w->race.start_tick) : 0.0;
        double sum = 0;
        int counted = 0;
        for (int lap = 2; lap <= r.laps; lap++) {
            const double time = lap_time(t, s.b, lap, w->race.start_tick);
            if (time > 0) {
                sum += time;
                counted++;
            }
        }
        r.mean_lap = counted > 0 ? sum / counted : 0.0;
        r.finished = s.b->finished != 0;
        r.crashes = s.b->crash_count;
        if (rs && rs->slots[slot].owner == s.b) {
            r.recoveries = rs->slots[slot].recoveries;
            r.pushes = rs->slots[slot].pushes;
            r.restarts = rs->slots[slot].restarts;
            r.lifts = rs->slots[slot].lifts;
        }
        out->riders.push_back(r);
    }
}

bool robot_race_run(world* w, robot_state* rs, test_riders* scripted, const robot_race_options& o,
                    double max_seconds, robot_race_result* out, std::string* why)
{
    if (!robot_race_start(w, scripted, o, why))
        return false;
    const double seconds =
        max_seconds > 0 ? max_seconds : 15.0 + 600.0 * o.laps + (double)o.minutes_ticks / RACE_TICKS_PER_SECOND;
    robot_race_ride(w, (long)(seconds * RACE_TICKS_PER_SECOND), out);
    robot_race_report(w, rs, out);
    return true;
}
