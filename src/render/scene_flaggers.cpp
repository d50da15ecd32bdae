// The flaggers' pictures follow the race as it is drawn: the track objects
// decide which picture each shows; here the race state is gathered for them
// and the start and finish flaggers' animations are restarted when their
// picture changes, so a wave begins at its first frame.
#include <cstdint>

#include "bike/bike.h"
#include "race/gates.h"
#include "race/race.h"
#include "race/world.h"
#include "render/scene.h"
#include "render/texture.h"
#include "track/objects.h"

namespace {

unsigned sprite_texture(const track_objects& objects, int index)
{
    return index >= 0 && index < objects.sprites.count ? objects.sprites.items[index].texture : 0;
}

// Stops the picture a flagger showed and starts the one it shows now.
void restart(const track_objects& objects, int index, unsigned before, int tick)
{
    anim_stop(before);
    anim_start(sprite_texture(objects, index), tick);
}

}  // namespace

void update_flaggers(world* w)
{
    track& t = w->track;
    track_objects& objects = t.objects;
    flagger_set& f = objects.flaggers;
    const race_state& race = w->race;
    const int tick = race.tick;

    if (f.has_start) {
        const unsigned before = sprite_texture(objects, f.start.sprite_index);
        const double now = tick / (double)RACE_TICKS_PER_SECOND;
        const double start = race.start_tick / (double)RACE_TICKS_PER_SECOND;
        if (start_flagger_update(&objects, &t.heightfield, now, start))
            restart(objects, f.start.sprite_index, before, tick);
    }

    if (f.has_finish) {
        int leader_lap = 0;
        if (race.ranking_count > 0)
            leader_lap = lap_count(&t.timing_gates, race.ranking[0].progress);
        const unsigned before = sprite_texture(objects, f.finish.sprite_index);
        if (finish_flagger_update(&objects, leader_lap, race.race_laps, race.half_laps))
            restart(objects, f.finish.sprite_index, before, tick);
    }

    if (f.course_count > 0) {
        flagger_rider riders[RACE_SLOTS];
        int count = 0;
        for (int slot = 0; slot < RACE_SLOTS; slot++) {
            const bike* b = race.slots[slot].b;
            if (!b)
                continue;
            flagger_rider& r = riders[count++];
            r.last_gate = race_gate_checkpoint(&t.timing_gates, b->gate_progress - 1);
            r.slow_or_down = b->slow_or_down != 0;
            r.finished = b->finished != 0;
            if (race.net.connected && slot != race.net.race_slot && race.slots[slot].driver == slot_driver_recorded) {
                const int heard = race.net.update_tick[slot];
                r.stale = heard < 0 || tick - heard >= RACE_TICKS_PER_SECOND;
            }
        }
        uint8_t marked[FLAGGER_GATE_COUNT];
        flagger_gate_marks(riders, count, marked);
        course_flaggers_update(&objects, marked);
    }
}
