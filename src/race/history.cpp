// The per-slot state histories: rings of the newest 128 states of every
// slot, kept in tick order, and the choice of the state a recorded bike
// shows at a tick.
#include <climits>

#include "core/messages.h"
#include "race/demo.h"
#include "race/demo_internal.h"
#include "track/track.h"

namespace {

int ring(int i)
{
    return ((i % STATE_HISTORY_SIZE) + STATE_HISTORY_SIZE) % STATE_HISTORY_SIZE;
}

// The k-th entry counted back from the newest (0 = newest).
const history_entry& back(const state_history& h, int k)
{
    return h.entries[ring(h.newest - k)];
}

// Ticks from a to b (b later), within the int range.
int tick_distance(int a, int b)
{
    const long long d = (long long)b - a;
    return d > INT_MAX ? INT_MAX : (int)d;
}


}  // namespace

const snapshot_terrain& demo_terrain(world* w)
{
    const heightfield* hf = &w->track.heightfield;
    const float* heights = hf->loaded_heights ? hf->loaded_heights : hf->heights;
    history_set& h = *w->histories;
    if (!h.terrain_valid || h.terrain_hf != hf || h.terrain_heights != heights) {
        h.terrain = snapshot_terrain_of(hf);
        h.terrain_hf = hf;
        h.terrain_heights = heights;
        h.terrain_valid = true;
    }
    return h.terrain;
}

void demo_forget_terrain(world* w)
{
    w->histories->terrain_valid = false;
}

void add_state_to_history(world* w, int slot, const bike_snapshot& s, int tick)
{
    if (slot < 0 || slot >= RACE_SLOTS) {
        add_message("add_state_to_history: slot out of range");
        return;
    }
    // No tick of a ride is negative, and -1 marks an empty entry: a state
    // stamped before the start (a broken demo, a stray datagram) is dropped.
    if (tick < 0)
        return;
    state_history& h = w->histories->slots[slot];
    // Entries newer than the new state, counted back from the newest.
    int later = 0;
    while (later < h.count && back(h, later).tick > tick)
        later++;
    if (later < h.count && back(h, later).tick == tick)
        return;
    if (later == h.count && h.count == STATE_HISTORY_SIZE)
        return;  // older than everything a full ring holds
    // Move the later entries one place toward the newest end (over the
    // oldest when the ring is full) and put the new state in the gap.
    for (int k = 0; k < later; k++)
        h.entries[ring(h.newest - k + 1)] = h.entries[ring(h.newest - k)];
    h.newest = ring(h.newest + 1);
    history_entry& e = h.entries[ring(h.newest - later)];
    e.tick = tick;
    e.snapshot = s;
    if (h.count < STATE_HISTORY_SIZE)
        h.count++;
    if (h.pending < STATE_HISTORY_SIZE)
        h.pending++;
}

void clear_state_histories(world* w)
{
    for (state_history& h : w->histories->slots)
        h = state_history();
    demo_forget_terrain(w);
}

void demo_clear_pending(world* w, int slot)
{
    if (slot >= 0 && slot < RACE_SLOTS)
        w->histories->slots[slot].pending = 0;
}

const state_history* state_history_of(const world* w, int slot)
{
    return slot >= 0 && slot < RACE_SLOTS ? &w->histories->slots[slot] : nullptr;
}

bool state_at_tick(const world* w, int slot, int t, int format, state_choice* out)
{
    if (slot < 0 || slot >= RACE_SLOTS)
        return false;
    const state_history& h = w->histories->slots[slot];
    if (h.count == 0)
        return false;
    if (t < 0)
        t = 0;
    // k1: the oldest entry at t or later; k0 = k1 + 1 the newest before t.
    int k1 = -1;
    for (int k = 0; k < h.count && back(h, k).tick >= t; k++)
        k1 = k;
    const int k0 = k1 + 1;
    const bool has_before = k0 < h.count;
    if (k1 >= 0 && has_before) {
        const history_entry& e0 = back(h, k0);
        const history_entry& e1 = back(h, k1);
        out->earlier = e0.snapshot;
        out->later = e1.snapshot;
        out->distance = tick_distance(e0.tick, e1.tick);
        if (e1.tick == t) {
            out->current = e1.snapshot;
        } else {
            const float f = (float)(((double)t - e0.tick) / ((double)e1.tick - e0.tick));
            interpolate_bike_snapshot(&out->current, e0.snapshot, e1.snapshot, f, format);
        }
        return true;
    }
    if (k1 < 0 && h.count >= 2) {
        // Past the newest: carry the last motion on for at most 64 ticks.
        const history_entry& e0 = back(h, 1);
        const history_entry& e1 = back(h, 0);
        const long long until = (long long)e1.tick + DEMO_EXTRAPOLATE;
        const long long to = t < until ? t : until;
        const float f = (float)(((double)to - e0.tick) / ((double)e1.tick - e0.tick));
        out->earlier = e0.snapshot;
        out->later = e1.snapshot;
        out->distance = tick_distance(e0.tick, e1.tick);
        interpolate_bike_snapshot(&out->current, e0.snapshot, e1.snapshot, f, format);
        return true;
    }
    // One entry alone: the oldest at t or later, or the only one.
    const history_entry& e = k1 >= 0 ? back(h, k1) : back(h, 0);
    out->current = out->earlier = out->later = e.snapshot;
    out->distance = 1;
    return true;
}

bool history_has_state(const world* w, int slot, int from, int to)
{
    if (slot < 0 || slot >= RACE_SLOTS)
        return false;
    const state_history& h = w->histories->slots[slot];
    for (int k = 0; k < h.count; k++) {
        const int t = back(h, k).tick;
        if (t >= from && t <= to)
            return true;
        if (t < from)
            break;  // older entries are older still
    }
    return false;
}

int history_newest_tick(const world* w, int slot)
{
    if (slot < 0 || slot >= RACE_SLOTS || w->histories->slots[slot].count == 0)
        return INT_MIN;
    return back(w->histories->slots[slot], 0).tick;
}

void history_pose(world* w, int slot, int t)
{
    if (slot < 0 || slot >= RACE_SLOTS || !w->race.slots[slot].b)
        return;
    state_choice c;
    const int format = demo_snapshot_format(w);
    if (!state_at_tick(w, slot, t, format, &c))
        return;
    apply_bike_snapshot(w->race.slots[slot].b, c.current, c.earlier, c.later, c.distance < 1 ? 1 : c.distance,
                        format, demo_terrain(w));
}
