// Rides for the demo tests: test riders following the default track's
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
#include "robot/scripted_rider.h"
#include "robot/test_riders.h"

namespace demo_test {

// Puts a test rider on the bike of a slot of the test world, along the
// loaded track's centre line (or only its loop). False when the track has
// none.
inline bool script_slot(test_riders* f, int slot, float cruise_mph, bool from_gate)
{
    std::string why;
    if (f->path.points.empty() && !test_riders_load_line(f, tw, from_gate, &why))
        return false;
    return test_riders_add(f, tw, slot, cruise_mph, &why);
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
    std::unique_ptr<test_riders> field(new test_riders());
    test_riders_install(field.get(), tw);
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
        test_riders_remove(field.get(), tw);
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
    test_riders_remove(field.get(), tw);
    if (!tw->race.results_final)
        ADD_FAILURE() << "the race did not finish";
    return tw->race.results_final;
}

}  // namespace demo_test
