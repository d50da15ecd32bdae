// Demo recording: the header, the states blocks every 16 ticks with the
// XOR chain of block lengths, the blocks the network client adds, the
// backups of the default recording and the name "namedemo" gives it.
#include <cctype>
#include <cstdio>
#include <cstring>
#include <strings.h>

#include "bike/bike.h"
#include "core/messages.h"
#include "core/settings.h"
#include "files/datafs.h"
#include "files/stream.h"
#include "platform/log.h"
#include "race/demo.h"
#include "race/demo_internal.h"
#include "track/erosion.h"
#include "track/track.h"

demo_recorder g_demo_recorder;

namespace {

const char* const k_default_demo = "@demos/default.kzdemo";

// Which riders a recording holds: offline the player and the robots; in a
// multiplayer race every bike; beside one (warm-up) the others and robots.
bool is_recorded(int slot)
{
    const race_slot& s = g_race.slots[slot];
    if (!s.b)
        return false;
    if (!g_race.net.connected)
        return s.driver == slot_driver_local || s.driver == slot_driver_robot;
    if (race_warm_up())
        return s.driver != slot_driver_local;
    return true;
}

// Bikes whose state the recorder takes itself (the network feeds the
// histories of the others).
bool is_live(int slot)
{
    const race_slot& s = g_race.slots[slot];
    return s.b && (s.driver == slot_driver_local || s.driver == slot_driver_robot);
}

void stop_after_failure()
{
    demo_recorder& r = g_demo_recorder;
    log_printf("Demo write failed, recording stopped\n");
    close_data_file(r.file);
    r.file = nullptr;
    if (r.own_outlet) {
        g_erosion_outlet.send = nullptr;
        r.own_outlet = false;
    }
}

bool write_bytes(const void* data, size_t n)
{
    demo_recorder& r = g_demo_recorder;
    if (!r.file)
        return false;
    if (n > 0 && stream_write(r.file, data, n) != n) {
        stop_after_failure();
        return false;
    }
    return true;
}

bool write_head(uint32_t length, int tick, int type)
{
    uint8_t head[DEMO_BLOCK_HEAD];
    put_u32(head, length ^ g_demo_recorder.last_length);
    put_u32(head + 4, (uint32_t)tick);
    head[8] = (uint8_t)type;
    if (!write_bytes(head, sizeof head))
        return false;
    g_demo_recorder.last_length = length;
    return true;
}

// One states block of every recorded rider's entries not written yet,
// oldest first, riders in header order.
void write_states()
{
    demo_recorder& r = g_demo_recorder;
    long long entries = 0;
    for (int i = 0; i < r.count; i++)
        entries += state_history_of(r.slots[i])->pending;
    if (entries == 0 || !r.file)
        return;
    if (!write_head((uint32_t)(entries * DEMO_STATE_ENTRY), g_race.tick, demo_block_states))
        return;
    for (int i = 0; i < r.count; i++) {
        const state_history* h = state_history_of(r.slots[i]);
        const int pending = h->pending < h->count ? h->pending : h->count;
        for (int k = pending - 1; k >= 0; k--) {
            const history_entry& e = h->entries[(h->newest - k + STATE_HISTORY_SIZE) % STATE_HISTORY_SIZE];
            uint8_t entry[DEMO_STATE_ENTRY];
            entry[0] = (uint8_t)i;
            put_u32(entry + 1, (uint32_t)e.tick);
            memcpy(entry + 5, e.snapshot.bytes, BIKE_SNAPSHOT_SIZE);
            if (!write_bytes(entry, sizeof entry))
                return;
        }
    }
    for (int i = 0; i < r.count; i++)
        demo_clear_pending(r.slots[i]);
    if (r.file && stream_flush(r.file) != 0)
        stop_after_failure();
}

// The riders' snapshots at the present tick.
void take_states(bool unless_held)
{
    demo_recorder& r = g_demo_recorder;
    const snapshot_terrain& terrain = demo_terrain();
    for (int i = 0; i < r.count; i++) {
        const int slot = r.slots[i];
        if (!is_live(slot))
            continue;
        if (unless_held && history_newest_tick(slot) == g_race.tick)
            continue;
        bike_snapshot s;
        encode_bike_snapshot(g_race.slots[slot].b, terrain, &s);
        add_state_to_history(slot, s, g_race.tick);
    }
}

// Offline the ruts our own wheels dig go into the recording too, so that a
// replay rides over the same ground; they still reach the queue at once.
void record_erosion(const uint8_t* message, int length)
{
    if (length > 0)
        write_demo_block(demo_block_terrain, message, (uint32_t)length);
    erode_message_enqueue(&g_erode_queue, message, length, g_track.heightfield.extent);
}

void rotate_backups()
{
    int n = g_settings.demo_backups;
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
void put_string(const char* text, bool piped)
{
    for (const char* p = text; *p; p++) {
        char c = *p;
        if (c == '\n' || c == '\r')
            c = ' ';
        else if (piped && c == '|')
            c = '_';
        stream_putc(g_demo_recorder.file, (unsigned char)c);
    }
}

bool write_header()
{
    demo_recorder& r = g_demo_recorder;
    stream_printf(r.file, "KZ%02d %d %d %d %d\n", DEMO_VERSION, r.count, g_race.race_minutes_ticks, g_race.extra_laps,
                  g_race.start_tick);
    put_string(g_track.dir, false);
    stream_putc(r.file, '\n');
    for (int i = 0; i < r.count; i++) {
        const rider_strings& s = g_race.slots[r.slots[i]].rider;
        const char* piped[5] = {s.model, s.rider_texture, s.bike_texture, s.wheel_texture, s.head_texture};
        for (int k = 0; k < 5; k++) {
            if (k > 0)
                stream_putc(r.file, '|');
            put_string(piped[k], true);
        }
        stream_putc(r.file, '\n');
        put_string(s.number, false);
        stream_putc(r.file, '\n');
        put_string(s.name, false);
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

bool demo_recording()
{
    return g_demo_recorder.file != nullptr;
}

void demo_record_to(const char* name)
{
    snprintf(g_demo_recorder.target, sizeof g_demo_recorder.target, "%s", name ? name : "");
}

bool start_recording()
{
    demo_recorder& r = g_demo_recorder;
    if (r.file)
        finish_recording();
    r.time_trial = g_race.time_trial;
    char name[DEMO_FILE_NAME_MAX + 1];
    if (r.time_trial) {
        snprintf(name, sizeof name, "@%s/lastlap.kzdemo", g_track.dir);
    } else if (r.target[0]) {
        snprintf(name, sizeof name, "%.1000s", r.target);
    } else {
        rotate_backups();
        snprintf(name, sizeof name, "%s", k_default_demo);
    }
    r.file = open_data_file(name, "wb");
    if (!r.file) {
        log_printf("Can't open '%s' to record a demo\n", name);
        return false;
    }
    r.count = 0;
    for (int slot = 0; slot < RACE_SLOTS; slot++)
        if (is_recorded(slot))
            r.slots[r.count++] = slot;
    // What the histories held before counts as written.
    for (int i = 0; i < r.count; i++)
        demo_clear_pending(r.slots[i]);
    r.last_length = 0;
    if (!write_header()) {
        stop_after_failure();
        return false;
    }
    // The network client records the server's erosion itself; a time
    // trial's ghost must not dig its ruts a second time.
    if (!r.time_trial && !g_race.net.connected && !g_erosion_outlet.send) {
        g_erosion_outlet.send = record_erosion;
        r.own_outlet = true;
        if (g_race.erosion_amount > 0) {
            char command[32];
            const int n = snprintf(command, sizeof command, "erode %d", g_race.erosion_amount);
            write_demo_block(demo_block_command, command, (uint32_t)n);
        }
    }
    return true;
}

void finish_recording()
{
    demo_recorder& r = g_demo_recorder;
    if (!r.file)
        return;
    // The states since the last block: a ride's end is not lost to the
    // 16-tick rhythm (bikes already freed are simply not asked).
    take_states(true);
    write_states();
    if (r.file) {
        close_data_file(r.file);
        r.file = nullptr;
    }
    if (r.own_outlet) {
        if (g_erosion_outlet.send == record_erosion)
            g_erosion_outlet.send = nullptr;
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

void record_tick(bool force)
{
    if (!g_demo_recorder.file)
        return;
    const int tick = g_race.tick;
    if (force || tick % 4 == 0)
        take_states(false);
    if (force || tick % 16 == 0)
        write_states();
}

bool write_demo_block(int type, const void* payload, uint32_t length)
{
    if (!g_demo_recorder.file || type == demo_block_states || type < 0 || type > 255)
        return false;
    if (length > 0 && !payload)
        return false;
    return write_head(length, g_race.tick, type) && write_bytes(payload, length);
}

void namedemo_command(const char* args)
{
    demo_recorder& r = g_demo_recorder;
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
    if (strstr(name, "..")) {
        add_message("Bad demo name");
        return;
    }
    snprintf(r.new_name, sizeof r.new_name, "%s%s", name, n == 0 || ends_with(name, ".kzdemo") ? "" : ".kzdemo");
    add_message("Demo name updated");
}
