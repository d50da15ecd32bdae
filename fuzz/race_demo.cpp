// A demo file of any version: the header, then blocks or records read
// ahead as the world's tick advances, every rider seated in a slot. The
// reader must stop at the end or at a broken block, keep every history in
// tick order and hand out only finite states.
#include <unistd.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>

#include "fuzz_accept.h"
#include "race/demo.h"
#include "race/race.h"
#include "race/world.h"

namespace {

// The newest `count` entries of the ring, walked back from the newest,
// must have strictly falling ticks.
bool in_tick_order(const state_history& h)
{
    if (h.count < 0 || h.count > STATE_HISTORY_SIZE || h.newest < 0 || h.newest >= STATE_HISTORY_SIZE)
        return false;
    long long later = LLONG_MAX;
    for (int k = 0; k < h.count; k++) {
        const history_entry& e = h.entries[(h.newest - k + STATE_HISTORY_SIZE) % STATE_HISTORY_SIZE];
        if (e.tick < 0 || e.tick >= later)
            return false;
        later = e.tick;
    }
    return true;
}

// The world the demos are read into, made once for the run.
world* tw = world_create();

std::string scratch_path()
{
    return "/tmp/kessrig-fuzz-demo-" + std::to_string((long)getpid()) + ".kzdemo";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::string path = scratch_path();
    FILE* f = fopen(path.c_str(), "wb");
    if (!f)
        return 0;
    fwrite(data, 1, size, f);
    fclose(f);

    clear_state_histories(tw);
    tw->race.tick = 0;
    tw->race.time_trial = size > 0 && (data[size - 1] & 1);
    char track[RACE_TRACK_NAME_MAX + 1];
    if (!open_demo(tw, path.c_str(), track, sizeof track))
        return 0;
    fuzz_accept();
    const int riders = demo_rider_count(tw);
    // A demo may name more riders than there are slots: the reader reads
    // past the extra ones.
    if (riders < 0)
        __builtin_trap();
    for (int i = 0; i < riders; i++)
        demo_assign(tw, i, i < RACE_SLOTS ? i : -1);

    // Ten simulated seconds in steps of a sixteenth, or until the end.
    for (int step = 0; step < 160 && !demo_at_end(tw); step++) {
        read_demo_ahead(tw);
        if (tw->race.tick < 0)
            __builtin_trap();
        for (int slot = 0; slot < riders && slot < 8; slot++) {
            state_choice c;
            // Version 4 records hold the short snapshots; 5 and 6 the full ones.
            const bool found = state_at_tick(tw, slot, tw->race.tick, demo_version(tw) == 4 ? 4 : 5, &c);
            const state_history* h = state_history_of(tw, slot);
            if (h && !in_tick_order(*h))
                __builtin_trap();
            if (found && (!h || h->count == 0 || c.distance < 1))
                __builtin_trap();
        }
        if (tw->race.tick > INT_MAX - 16)
            break;
        tw->race.tick += 8;
    }
    close_demo(tw);
    return 0;
}
