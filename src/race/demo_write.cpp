// Demo recording: the header, the states blocks every 16 ticks with the
// XOR chain of block lengths, the blocks the network client adds, the
// backups of the default recording and the name "namedemo" gives it.
#include <cctype>
#include <cstdio>
#include <cstring>
#include <strings.h>

#include "bike/bike.h"
#include "core/messages.h"
#include "files/datafs.h"
#include "files/stream.h"
#include "platform/log.h"
#include "race/demo.h"
#include "race/demo_internal.h"
#include "track/erosion.h"
#include "track/track.h"

namespace {

const char* const k_default_demo = "@demos/default.kzdemo";

// Which riders a recording holds: offline the player and the robots; in a
// multiplayer race every bike; beside one (warm-up) the others and robots.
bool is_recorded(world* w, int slot)
{
    const race_slot& s = w->race.slots[slot];
    if (!s.b)
        return false;
    if (!w->race.net.connected)
        return s.driver == slot_driver_local || s.driver == slot_driver_robot || s.driver == slot_driver_test;
    if (race_warm_up(w))
        return s.driver != slot_driver_local;
    return true;
}

// Bikes whose state the recorder takes itself (the network feeds the
// histories of the others).
bool is_live(world* w, int slot)
{
    const race_slot& s = w->race.slots[slot];
    return s.b && (s.driver == slot_driver_local || s.driver == slot_driver_robot || s.driver == slot_driver_test);
}

void stop_after_failure(world* w)
{
    demo_recorder& r = (*w->recorder);
    log_printf("Demo write failed, recording stopped\n");
    // An older demo of the same name stays as it was.
    finish_replacing(&r.out, false, false);
    r.file = nullptr;
    if (r.own_outlet) {
        w->erosion->outlet = erosion_outlet();
        r.own_outlet = false;
    }
}

bool write_bytes(world* w, const void* data, size_t n)
{
    demo_recorder& r = (*w->recorder);
    if (!r.file)
        return false;
    if (n > 0 && stream_write(r.file, data, n) != n) {
        stop_after_failure(w);
        return false;
    }
    return true;
}

bool write_head(world* w, uint32_t length, int tick, int type)
{
    uint8_t head[DEMO_BLOCK_HEAD];
    put_u32(head, length ^ (*w->recorder).last_length);
    put_u32(head + 4, (uint32_t)tick);
    head[8] = (uint8_t)type;
    if (!write_bytes(w, head, sizeof head))
        return false;
    (*w->recorder).last_length = length;
    return true;
}

// One states block of every recorded rider's entries not written yet,
// oldest first, riders in header order.
void write_states(world* w)
{
    demo_recorder& r = (*w->recorder);
    long long entries = 0;
    for (int i = 0; i < r.count; i++)
        entries += state_history_of(w, r.slots[i])->pending;
    if (entries == 0 || !r.file)
        return;
    if (!write_head(w, (uint32_t)(entries * DEMO_STATE_ENTRY), w->race.tick, demo_block_states))
        return;
    for (int i = 0; i < r.count; i++) {
        const state_history* h = state_history_of(w, r.slots[i]);
        const int pending = h->pending < h->count ? h->pending : h->count;
        for (int k = pending - 1; k >= 0; k--) {
            const history_entry& e = h->entries[(h->newest - k + STATE_HISTORY_SIZE) % STATE_HISTORY_SIZE];
            uint8_t entry[DEMO_STATE_ENTRY];
            entry[0] = (uint8_t)i;
            put_u32(entry + 1, (uint32_t)e.tick);
            memcpy(entry + 5, e.snapshot.bytes, BIKE_SNAPSHOT_SIZE);
            if (!write_bytes(w, entry, sizeof entry))
                return;
        }
    }
    for (int i = 0; i < r.count; i++)
        demo_clear_pending(w, r.slots[i]);
    if (r.file && stream_flush(r.file) != 0)
        stop_after_failure(w);
}

// The riders' snapshots at the present tick.
void take_states(world* w, bool unless_held)
{
    demo_recorder& r = (*w->recorder);
    const snapshot_terrain& terrain = demo_terrain(w);
    for (int i = 0; i < r.count; i++) {
        const int slot = r.slots[i];
        if (!is_live(w, slot))
            continue;
        if (unless_held && history_newest_tick(w, slot) == w->race.tick)
            continue;
        bike_snapshot s;
        encode_bike_snapshot(w->race.slots[slot].b, terrain, &s);
        add_state_to_history(w, slot, s, w->race.tick);
    }
}

// Offline the ruts our own wheels dig go into the recording too, so that a
// replay rides over the same ground; they still reach the queue at once.
void record_erosion(void* context, const uint8_t* message, int length)
{
    world* w = static_cast<world*>(context);
    if (length > 0)
        write_demo_block(w, demo_block_terrain, message, (uint32_t)length);
    erode_message_enqueue(w->erosion, message, length, w->track.heightfield.extent);
}

void rotate_backups(world* w)
{
    int n = w->settings.demo_backups;
    n = n < 0 ? 0 : (n > DEMO_BACKUPS_MAX ? DEMO_BACKUPS_MAX : n);
    char from[64], to[64];
    for (int k = n - 2; k >= 0; k--) {
        snprintf(from, sizeof from, "@demos/default%02d.kzdemo", k);
        snprintf(to, sizeof to, "@demos/default%02d.kzdemo", k + 1);
        rename_data_file(from, to);
    }
    if (n > 0)
        rename_data_file(k_default_demo, "@demos/default00.kzdemo");
}

// A header string: line breaks would end its line early, and in the first
// line of a rider a '|' would start the next field.
void put_string(world* w, const char* text, bool piped)
{
    for (const char* p = text; *p; p++) {
        char c = *p;
        if (c == '\n' || c == '\r')
            c = ' ';
        else if (piped && c == '|')
            c = '_';
        stream_putc((*w->recorder).file, (unsigned char)c);
    }
}

bool write_header(world* w)
{
    demo_recorder& r = (*w->recorder);
    stream_printf(r.file, "KZ%02d %d %d %d %d\n", DEMO_VERSION, r.count, w->race.race_minutes_ticks, w->race.extra_laps,
                  w->race.start_tick);
    put_string(w, w->track.dir, false);
    stream_putc(r.file, '\n');
    for (int i = 0; i < r.count; i++) {
        const rider_strings& s = w->race.slots[r.slots[i]].rider;
        const char* piped[5] = {s.model, s.rider_texture, s.bike_texture, s.wheel_texture, s.head_texture};
        for (int k = 0; k < 5; k++) {
            if (k > 0)
                stream_putc(r.file, '|');
            put_string(w, piped[k], true);
        }
        stream_putc(r.file, '\n');
        put_string(w, s.number, false);
        stream_putc(r.file, '\n');
        put_string(w, s.name, false);
        stream_puts(r.file, "\n\n");
    }
    return stream_flush(r.file) == 0 && !ferror(r.file->file);
}

bool ends_with(const char* text, const char* tail)
{
    const size_t n = strlen(text), m = strlen(tail);
    return n >= m && strcasecmp(text + n - m, tail) == 0;
}

}  // namespace

bool demo_recording(const world* w)
{
    return (*w->recorder).file != nullptr;
}

void demo_record_to(world* w, const char* name)
{
    snprintf((*w->recorder).target, sizeof (*w->recorder).target, "%s", name ? name : "");
}

bool start_recording(world* w)
{
    demo_recorder& r = (*w->recorder);
    if (r.file)
        finish_recording(w);
    r.time_trial = w->race.time_trial;
    char name[DEMO_FILE_NAME_MAX + 1];
    if (r.time_trial) {
        char dir[TRACK_DIR_MAX + 2];
        track_data_dir(w->track.dir, dir, sizeof dir);
        snprintf(name, sizeof name, "%s/lastlap.kzdemo", dir);
    } else if (r.target[0]) {
        snprintf(name, sizeof name, "%.1000s", r.target);
    } else {
        rotate_backups(w);
        snprintf(name, sizeof name, "%s", k_default_demo);
    }
    // The demo is written under a temporary name and takes its own when the
    // recording ends, so a crash or a full disk never leaves a cut demo
    // where a whole one was.
    r.file = begin_replacing(name, &r.out) ? r.out.stream : nullptr;
    if (!r.file) {
        log_printf("Can't open '%s' to record a demo\n", name);
        return false;
    }
    r.count = 0;
    for (int slot = 0; slot < RACE_SLOTS; slot++)
        if (is_recorded(w, slot))
            r.slots[r.count++] = slot;
    // What the histories held before counts as written.
    for (int i = 0; i < r.count; i++)
        demo_clear_pending(w, r.slots[i]);
    r.last_length = 0;
    if (!write_header(w)) {
        stop_after_failure(w);
        return false;
    }
    // The network client records the server's erosion itself; a time
    // trial's ghost must not dig its ruts a second time.
    if (!r.time_trial && !w->race.net.connected && !w->erosion->outlet.send) {
        w->erosion->outlet.send = record_erosion;
        w->erosion->outlet.context = w;
        r.own_outlet = true;
        if (w->race.erosion_amount > 0) {
            char command[32];
            const int n = snprintf(command, sizeof command, "erode %d", w->race.erosion_amount);
            write_demo_block(w, demo_block_command, command, (uint32_t)n);
        }
    }
    return true;
}

void finish_recording(world* w)
{
    demo_recorder& r = (*w->recorder);
    if (!r.file)
        return;
    // The states since the last block: a ride's end is not lost to the
    // 16-tick rhythm (bikes already freed are simply not asked).
    take_states(w, true);
    write_states(w);
    if (r.file) {
        if (!finish_replacing(&r.out, true, false))
            log_printf("Demo write failed\n");
        r.file = nullptr;
    }
    if (r.own_outlet) {
        if (w->erosion->outlet.send == record_erosion)
            w->erosion->outlet = erosion_outlet();
        r.own_outlet = false;
    }
    if (r.new_name[0] && !r.time_trial && !r.target[0]) {
        char to[DEMO_FILE_NAME_MAX + 16];
        snprintf(to, sizeof to, "@demos/%.1000s", r.new_name);
        if (!rename_data_file(k_default_demo, to))
            log_printf("Can't rename the demo to '%.900s'\n", to);
    }
    r.new_name[0] = 0;
}

void record_tick(world* w, bool force)
{
    if (!(*w->recorder).file)
        return;
    const int tick = w->race.tick;
    if (force || tick % 4 == 0)
        take_states(w, false);
    if (force || tick % 16 == 0)
        write_states(w);
}

bool write_demo_block(world* w, int type, const void* payload, uint32_t length)
{
    if (!(*w->recorder).file || type == demo_block_states || type < 0 || type > 255)
        return false;
    if (length > 0 && !payload)
        return false;
    return write_head(w, length, w->race.tick, type) && write_bytes(w, payload, length);
}

void namedemo_command(world* w, const char* args)
{
    demo_recorder& r = (*w->recorder);
    if (!r.file || r.time_trial) {
        add_message("Not currently recording a demo");
        return;
    }
    const char* p = args ? args : "";
    while (*p == ' ' || *p == '\t')
        p++;
    size_t n = 0;
    while (p[n] && !isspace((unsigned char)p[n]))
        n++;
    if (n > DEMO_NAME_MAX) {
        add_message("Name too long");
        return;
    }
    char name[DEMO_NAME_MAX + 1];
    memcpy(name, p, n);
    name[n] = 0;
    // The name stays inside the demos folder.
    if (n > 0) {
        if (const char* problem = file_name_problem(name)) {
            add_message("Bad demo name: the name %s", problem);
            return;
        }
    }
    snprintf(r.new_name, sizeof r.new_name, "%s%s", name, n == 0 || ends_with(name, ".kzdemo") ? "" : ".kzdemo");
    add_message("Demo name updated");
}
