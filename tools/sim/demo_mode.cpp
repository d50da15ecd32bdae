// kessrig-sim demo: a demo played to its end by the game's own playback,
// with the ranking the playback arrives at.
#include "demo_mode.h"

#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bike/bike.h"
#include "files/datafs.h"
#include "race/demo.h"
#include "race/gates.h"
#include "race/race.h"
#include "race/world.h"
#include "race/results.h"
#include "sim_script.h"
#include "track/track.h"

const char* const demo_usage = "       kessrig-sim demo  FILE [--max-seconds T]\n";

namespace {

const char* const k_help =
    "\n"
    "demo: plays a demo (a path, or a data name such as @demos/default.kzdemo) to its end\n"
    "  --max-seconds T   stop after T simulated seconds (default 3600)\n";

// Riders disappear a second after their last state; the results wait ten
// seconds for a rider that stopped short of the line.
const int k_gone_ticks = 10 * RACE_TICKS_PER_SECOND;
const int k_hidden_ticks = RACE_TICKS_PER_SECOND;

// True while some rider of the demo has a state newer than `ticks` before
// the present tick (or still to come).
bool riders_remain(const world* w, int ticks)
{
    for (int slot = 0; slot < RACE_SLOTS; slot++)
        if (race_slot_recorded(w, slot) && history_has_state(w, slot, w->race.tick - ticks, INT_MAX))
            return true;
    return false;
}

// The end of a demo: the file is read and every rider has disappeared, or
// with the results still open, no rider can change them any more.
bool played_out(const world* w)
{
    if (!demo_at_end(w))
        return false;
    return !riders_remain(w, w->race.results_final ? k_hidden_ticks : k_gone_ticks);
}

int play(world* w, const char* file, double max_seconds)
{
    if (track_list_build(0) == 0)
        return sim_fail("no tracks found in the game data");
    char track[RACE_TRACK_NAME_MAX + 1];
    if (!open_demo(w, file, track, (int)sizeof track))
        return sim_fail(std::string("can't play '") + file + "': not a readable demo");
    const int version = demo_version(w);
    close_demo(w);

    // The demo's track, loaded here so its warnings are printed.
    std::string why;
    if (!sim_load_track(&w->track, track, &why))
        return sim_fail(why);
    int lineup[RACE_SLOTS];
    demo_playback_lineup(playback_only, nullptr, lineup);
    if (!world_reset(w, lineup, file, false, 0, 10, 0))
        return sim_fail("can't load the demo's track '" + std::string(track) + "'");
    if (!demo_playing(w))
        return sim_fail(std::string("can't play '") + file + "'");
    int riders = 0;
    for (int slot = 0; slot < RACE_SLOTS; slot++)
        if (race_slot_recorded(w, slot))
            riders++;
    printf("demo=%s version=%d track=%s riders=%d start_tick=%d laps=%d minutes_ticks=%d\n", file, version,
           w->track.dir, riders, w->race.start_tick, w->race.extra_laps, w->race.race_minutes_ticks);
    for (int slot = 0; slot < RACE_SLOTS; slot++)
        if (race_slot_recorded(w, slot)) {
            const race_slot& s = w->race.slots[slot];
            printf("rider slot=%d number=%s model=%s name=%s\n", slot, s.b->number_text, bike_model_name(s.b),
                   s.rider.name);
        }

    const long limit = (long)(max_seconds * RACE_TICKS_PER_SECOND);
    const auto started = std::chrono::steady_clock::now();
    long ticks = 0;
    while (ticks < limit && !played_out(w)) {
        world_tick(w);
        ticks++;
    }
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    // Riders that stopped short of the line no longer hold the results open.
    update_ranking(w);
    sim_print_ranking(w, [](int) { return "recorded"; });
    printf("terrain_changes=%d terrain_hash=%016llx\n", w->track.heightfield.modify_count,
           (unsigned long long)world_terrain_hash(w));
    printf("wall_seconds=%.3f\n", wall);
    printf("ticks=%ld riders=%d\n", ticks, riders);
    if (ticks >= limit)
        return sim_fail("the demo did not end within " + std::to_string((long)max_seconds) + " simulated seconds");
    return 0;
}

}  // namespace

int run_demo_command(int argc, char** argv)
{
    const char* file = nullptr;
    double max_seconds = 3600;
    for (int i = 2; i < argc; i++) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            fputs(demo_usage, stdout);
            fputs(k_help, stdout);
            return 0;
        }
        if (arg == "--max-seconds") {
            char* end = nullptr;
            const double v = i + 1 < argc ? strtod(argv[i + 1], &end) : 0;
            if (i + 1 >= argc || end == argv[i + 1] || *end || !std::isfinite(v) || v < 1 || v > 1e6)
                return sim_fail("--max-seconds: expected 1 to 1000000");
            max_seconds = v;
            i++;
        } else if (arg.size() > 1 && arg[0] == '-' && arg[1] == '-') {
            return sim_fail("unknown option '" + arg + "' for demo\n" + demo_usage);
        } else if (file) {
            return sim_fail("demo: one file only\n" + std::string(demo_usage));
        } else {
            file = argv[i];
        }
    }
    if (!file)
        return sim_fail("demo: no file given\n" + std::string(demo_usage));
    world* w = world_create();
    const int status = play(w, file, max_seconds);
    world_destroy(w);
    track_list_free();
    free_file_index();
    return status;
}
