// The time trial: the player rides alone from a restart place short of the
// lap line; each lap is recorded into the track's "lastlap.kzdemo", the
// fastest becomes its "fastlap.kzdemo", and that one rides along as a ghost
// in the next lap. Also how solid a ghost is drawn.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "bike/bike.h"
#include "bike/catalogue.h"
#include "files/datafs.h"
#include "files/stream.h"
#include "platform/log.h"
#include "race/demo.h"
#include "race/demo_internal.h"
#include "race/gates.h"
#include "race/race_internal.h"
#include "track/track.h"

namespace {

void track_file(const world* w, char* out, size_t size, const char* file)
{
    char dir[TRACK_DIR_MAX + 2];
    track_data_dir(w->track.dir, dir, sizeof dir);
    snprintf(out, size, "%s/%s", dir, file);
}

bool file_exists(const char* name)
{
    data_stream* s = open_data_file(name, "rb");
    if (!s)
        return false;
    close_data_file(s);
    return true;
}

// Copies a data file over another, 1024 bytes at a time.
bool copy_file(const char* from, const char* to)
{
    data_stream* in = open_data_file(from, "rb");
    if (!in)
        return false;
    replacing_file replacing;
    if (!begin_replacing(to, &replacing)) {
        close_data_file(in);
        return false;
    }
    data_stream* out = replacing.stream;
    bool ok = true;
    uint8_t buffer[1024];
    for (;;) {
        const size_t n = stream_read(in, buffer, sizeof buffer);
        if (n == 0)
            break;
        if (stream_write(out, buffer, n) != n) {
            ok = false;
            break;
        }
    }
    close_data_file(in);
    ok = finish_replacing(&replacing, ok, false);
    if (!ok)
        log_printf("Can't copy '%s' to '%s'\n", from, to);
    return ok;
}

void empty_other_slots(world* w)
{
    for (int slot = 1; slot < RACE_SLOTS; slot++)
        demo_free_slot(w, slot);
}

// The lap just completed in seconds: from race gate F - 1 to F + N - 1,
// every gate between passed; 0 otherwise.
double completed_lap_time(const track_timing* t, const bike* b)
{
    const int first = t->first_count - 1;
    const int last = t->first_count + t->normal_count - 1;
    for (int k = first; k <= last; k++)
        if (gate_time(b, k) == -1)
            return 0.0;
    return (double)(gate_time(b, last) - gate_time(b, first)) / RACE_TICKS_PER_SECOND;
}

// The ghost's riders as recorded bikes in slots 1, 2, ...
void load_ghost(world* w, const char* fastlap)
{
    char track[RACE_TRACK_NAME_MAX + 1];
    if (!open_demo(w, fastlap, track, (int)sizeof track))
        return;
    const track_timing* t = &w->track.timing_gates;
    const int progress = t->first_count > 1 ? t->first_count - 1 : 0;
    const int riders = demo_rider_count(w);
    for (int i = 0; i < riders && i + 1 < RACE_SLOTS; i++) {
        const int slot = i + 1;
        race_slot& s = w->race.slots[slot];
        if (!demo_rider(w, i, &s.rider))
            continue;
        char model[sizeof s.rider.model];
        snprintf(model, sizeof model, "%s", bike_alias(s.rider.model));
        memcpy(s.rider.model, model, sizeof model);
        const rider_strings& r = s.rider;
        bike* b = create_bike(&w->physics, r.model, slot, r.number, r.rider_texture[0] ? r.rider_texture : nullptr,
                              r.head_texture[0] ? r.head_texture : nullptr,
                              r.bike_texture[0] ? r.bike_texture : nullptr,
                              r.wheel_texture[0] ? r.wheel_texture : nullptr);
        s.driver = slot_driver_recorded;
        if (!b)
            continue;
        s.b = b;
        if (w->sound.create)
            w->sound.create(w->sound.context, slot, b);
        apply_playback_tuning(b);
        set_gate_progress(b, progress);
        demo_assign(w, i, slot);
    }
}

}  // namespace

void demo_free_slot(world* w, int slot)
{
    if (slot < 0 || slot >= RACE_SLOTS)
        return;
    race_free_slot_bike(w, slot);
    race_slot& s = w->race.slots[slot];
    s.driver = slot_driver_recorded;
    s.rider = rider_strings();
}

void time_trial_restart(world* w)
{
    close_demo(w);
    finish_recording(w);
    empty_other_slots(w);
    clear_state_histories(w);
    bike* b = w->race.slots[0].b;
    const track_timing* t = &w->track.timing_gates;
    if (b && timing_active(t)) {
        const int k = t->first_count > 3 ? t->first_count - 3 : 0;
        const timing_gate& g = t->checkpoints[race_gate_checkpoint(t, k)];
        race_place_bike(w, b, g.position.x, g.position.z, atan2f(-g.direction.x, -g.direction.z));
        set_gate_progress(b, k);
    }
    w->race.last_lap_time = 0;
    update_ranking(w);
}

void time_trial_lap_end(world* w, int player_laps, int ghost_laps)
{
    (void)ghost_laps;  // the ghost's gates, not its laps, decide
    bike* player = w->race.slots[0].b;
    const track_timing* t = &w->track.timing_gates;
    if (!w->race.time_trial || !player || player_laps < 0 || lap_count(t, player->gate_progress) == player_laps)
        return;

    // Where the player and the ghost stand; the lap's files close.
    const int player_gates = player->gate_progress;
    const int ghost_gates = w->race.slots[1].b ? w->race.slots[1].b->gate_progress : -1;
    close_demo(w);
    finish_recording(w);
    empty_other_slots(w);
    clear_state_histories(w);

    // The lap's time; the best.
    double lap = 0.0;
    if (timing_active(t)) {
        lap = completed_lap_time(t, player);
        w->race.last_lap_time = lap;
        if (lap > 0.0 && (w->race.best_lap_time <= 0.0 || lap < w->race.best_lap_time))
            w->race.best_lap_time = lap;
    }

    // A lap that beat the ghost (or the first one) becomes the ghost.
    char lastlap[RACE_TRACK_NAME_MAX + 32], fastlap[RACE_TRACK_NAME_MAX + 32];
    track_file(w, lastlap, sizeof lastlap, "lastlap.kzdemo");
    track_file(w, fastlap, sizeof fastlap, "fastlap.kzdemo");
    if (!file_exists(fastlap) || (ghost_gates < player_gates && lap > 0.0))
        copy_file(lastlap, fastlap);

    // The ghost rides the next lap.
    load_ghost(w, fastlap);

    // The player's lap starts at the lap line.
    const int progress = t->first_count > 1 ? t->first_count - 1 : 0;
    set_gate_progress(player, progress);
    check_gates(t, player, race_gate_state(w));

    // The next lap is recorded from here.
    start_recording(w);
    record_tick(w, true);
    update_ranking(w);
    // The ghost's first states, so it stands where it starts from the
    // next tick on.
    read_demo_ahead(w);
    for (int slot = 1; slot < RACE_SLOTS; slot++)
        if (race_slot_recorded(w, slot))
            history_pose(w, slot, w->race.tick);
}

float ghost_fade(float distance, float fade_distance)
{
    if (!(fade_distance > 0.0f))
        return distance > 0.0f ? 1.0f : 0.0f;
    const float half = 0.5f * fade_distance;
    const float f = (distance - half) / (fade_distance - half);
    return f < 0.0f ? 0.0f : (f > 1.0f ? 1.0f : (f == f ? f : 0.0f));
}

float bike_fade(const world* w, int slot)
{
    if (slot < 0 || slot >= RACE_SLOTS || !w->race.slots[slot].b || !is_visible(w, slot))
        return 0.0f;
    const race_slot& s = w->race.slots[slot];
    if (w->race.net.connected || s.driver != slot_driver_recorded)
        return 1.0f;
    for (int live = 0; live < RACE_SLOTS; live++) {
        const race_slot& l = w->race.slots[live];
        if (!l.b || l.driver == slot_driver_recorded)
            continue;
        const vec3 a = bike_frame_position(s.b), b = bike_frame_position(l.b);
        const float dx = a.x - b.x, dy = a.y - b.y, dz = a.z - b.z;
        return ghost_fade(sqrtf(dx * dx + dy * dy + dz * dz), (float)w->settings.ghost_fade_distance);
    }
    return 1.0f;
}
