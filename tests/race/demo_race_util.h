// Rides for the demo tests: scripted riders following the default track's
// centre line through the game's world reset and world tick, the race
// recorded into a demo with where every rider was at every recorded tick.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bike/bike.h"
#include "bike/catalogue.h"
#include "demo_test_util.h"
#include "race/gates.h"
#include "scripted_rider.h"
#include "track_path.h"

namespace demo_test {

// The scripted riders of the slots that have one; the robot hook drives
// them once the gate is down (a rider's reaction later).
struct scripted_field {
    rider_path path;
    scripted_rider riders[RACE_SLOTS];
    bool on[RACE_SLOTS] = {};
};
inline scripted_field*& field_in_use()
{
    static scripted_field* f = nullptr;
    return f;
}

inline void drive_field(void* context, world* w, int slot, bike* b);
inline void drive_scripted(void*, world* w, int slot, bike* b)
{
    if (field_in_use())
        drive_field(field_in_use(), w, slot, b);
}

// Puts a scripted rider on the bike of a slot, along the loaded track's
// centre line (or only its loop). False when the track has none.
inline bool script_slot_in(world* w, scripted_field* f, int slot, float cruise_mph, bool from_gate)
{
    if (f->path.points.empty()) {
        track_path_options o;
        o.from_gate = from_gate;
        std::string why;
        if (!track_centre_path(w->track.dir, &w->track.heightfield, o, &f->path, &why))
            return false;
    }
    bike* b = w->race.slots[slot].b;
    const bike_setup setup;
    apply_bike_setup(b, &setup, false);
    bike_set_auto_shift(b, 1);
    scripted_rider_settings s;
    s.cruise_speed = cruise_mph * 1.4666666666666666f;
    if (!scripted_rider_start(&f->riders[slot], &f->path, s, b))
        return false;
    const vec3 at = bike_frame_position(b);
    f->riders[slot].settings.lane_offset = rider_path_lateral(f->path, f->riders[slot].index, at.x, at.z);
    f->on[slot] = true;
    return true;
}

inline bool script_slot(scripted_field* f, int slot, float cruise_mph, bool from_gate)
{
    return script_slot_in(tw, f, slot, cruise_mph, from_gate);
}

// The robot hook of a world whose context is its scripted field: the
// riders wait a reaction's time after the gate drops.
inline void drive_field(void* context, world* w, int slot, bike* b)
{
    scripted_field* f = static_cast<scripted_field*>(context);
    if (!f->on[slot])
        return;
    if (w->race.tick < w->race.start_tick + 40) {
        ride_command hold;
        hold.front_brake = 1;
        hold.rear_brake = 1;
        ride_command_apply(hold, b);
        return;
    }
    ride_command_apply(scripted_rider_drive(&f->riders[slot], b), b);
}

// A recorded race and what it looked like.
struct recorded_race {
    std::string file;
    int riders = 0;
    int start_tick = 0;
    int end_tick = 0;
    // Frame positions of the riders (header order) at every recorded tick.
    std::map<int, std::vector<vec3>> positions;
    std::vector<std::string> numbers;       // of the results, first to last
    std::vector<std::string> models;        // header order
    std::vector<std::vector<int>> gate_ticks;  // header order
};

inline void capture(recorded_race* r, const std::vector<int>& slots)
{
    std::vector<vec3>& at = r->positions[tw->race.tick];
    at.clear();
    for (int slot : slots)
        at.push_back(bike_frame_position(tw->race.slots[slot].b));
}

// A race of `riders` scripted riders, one lap of the default track,
// recorded into file. False (with a failure added) when it goes wrong.
inline bool record_race(const std::string& file, int riders, recorded_race* out)
{
    std::unique_ptr<scripted_field> field(new scripted_field());
    field_in_use() = field.get();
    tw->robots.tick = drive_scripted;
    snprintf(tw->race.settings.track, sizeof tw->race.settings.track, "rabbithill");
    std::vector<int> lineup(RACE_SLOTS, lineup_empty);
    std::vector<int> slots;
    for (int i = 0; i < riders; i++) {
        lineup[(size_t)(18 + i)] = lineup_robot;
        slots.push_back(18 + i);
    }
    demo_record_to(tw, file.c_str());
    tw->race.tick = 5;
    bool ok = world_reset(tw, lineup.data(), nullptr, true, 0, 1, 0) && demo_recording(tw);
    for (int slot : slots)
        ok = ok && script_slot(field.get(), slot, 30.0f, true);
    if (!ok) {
        ADD_FAILURE() << "the race could not be set up";
        field_in_use() = nullptr;
        return false;
    }
    out->file = file;
    out->riders = riders;
    out->start_tick = tw->race.start_tick;
    capture(out, slots);
    const int limit = tw->race.start_tick + 600 * RACE_TICKS_PER_SECOND;
    while (!tw->race.results_final && tw->race.tick < limit) {
        world_tick(tw);
        if (tw->race.tick % 4 == 0)
            capture(out, slots);
    }
    // The recording ends with where everyone stands now.
    capture(out, slots);
    out->end_tick = tw->race.tick;
    finish_recording(tw);
    demo_record_to(tw, nullptr);
    for (int i = 0; i < tw->race.results_count; i++)
        out->numbers.push_back(tw->race.slots[tw->race.results_ranking[i].slot].b->number_text);
    for (int slot : slots) {
        const bike* b = tw->race.slots[slot].b;
        out->models.push_back(tw->race.slots[slot].rider.model);
        std::vector<int> ticks;
        for (int k = 0; k < b->gate_progress; k++)
            ticks.push_back(gate_time(b, k));
        out->gate_ticks.push_back(ticks);
    }
    field_in_use() = nullptr;
    tw->robots.tick = nullptr;
    if (!tw->race.results_final)
        ADD_FAILURE() << "the race did not finish";
    return tw->race.results_final;
}

}  // namespace demo_test
