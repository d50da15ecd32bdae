// Demo playback: the header, the blocks (version 6) or records (versions 4
// and 5) read ahead of the world's tick into the state histories, and
// seeking back and forth.
//
// The file is hostile input: every length is checked against what the
// reader holds on the stack, nothing is allocated for it, and a block cut
// short or a chain pointing outside the data ends the reading instead of
// guessing.
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bike/bike.h"
#include "core/messages.h"
#include "files/datafs.h"
#include "files/stream.h"
#include "platform/log.h"
#include "race/demo.h"
#include "race/demo_internal.h"
#include "race/gates.h"
#include "track/erosion.h"
#include "track/track.h"

demo_player::demo_player()
{
    for (int& s : slot_of)
        s = -1;
}

namespace {

const int k_default_start_tick = 14 * RACE_TICKS_PER_SECOND;

void reset_player(demo_player& p)
{
    p.file = nullptr;
    p.name[0] = 0;
    p.version = 0;
    p.riders = 0;
    p.data_start = 0;
    p.next_offset = 0;
    p.last_length = 0;
    p.next_block_tick = LLONG_MIN;
    p.first_block_tick = -1;
    p.tick_offset = 0;
    p.terrain_done = 0;
    p.next_unread_tick = -1;
    p.at_end = false;
    for (int i = 0; i < RACE_SLOTS; i++) {
        p.strings[i] = rider_strings();
        p.slot_of[i] = -1;
        p.silent[i] = false;
    }
}

int record_size(int version)
{
    return version == 4 ? BIKE_SNAPSHOT_V4_SIZE : BIKE_SNAPSHOT_SIZE;
}

// ---- the stream ----------------------------------------------------------------------

bool read_exact(data_stream* s, void* out, size_t n)
{
    return stream_read(s, out, n) == n;
}

bool skip_forward(data_stream* s, long long n)
{
    uint8_t scratch[4096];
    while (n > 0) {
        const size_t part = n < (long long)sizeof scratch ? (size_t)n : sizeof scratch;
        if (stream_read(s, scratch, part) != part)
            return false;
        n -= (long long)part;
    }
    return true;
}

// Puts the stream at a position: a seek where the stream allows one;
// otherwise (compressed files) by reading on, or by opening the file again
// to go back.
bool reposition(demo_player& p, long long target)
{
    data_stream* s = p.file;
    if (!s || target < 0)
        return false;
    if (s->position == target && s->pushback < 0)
        return true;
    if (target < STREAM_WHOLE_FILE && stream_seek(s, (long)target))
        return true;
    if (target < s->position) {
        if (!p.name[0])
            return false;
        data_stream* again = open_data_file(p.name, "rb");
        if (!again)
            return false;
        close_data_file(s);
        p.file = s = again;
    }
    return skip_forward(s, target - s->position);
}

// ---- the header ------------------------------------------------------------------------

// One line without its "\n" (and a "\r" before it), cut to size - 1
// characters. False when the input ends before the "\n".
bool read_line(data_stream* s, char* out, int size)
{
    int n = 0;
    for (;;) {
        const int c = stream_getc(s);
        if (c < 0)
            return false;
        if (c == '\n')
            break;
        if (n < size - 1)
            out[n++] = (char)c;
    }
    if (n > 0 && out[n - 1] == '\r')
        n--;
    out[n] = 0;
    return true;
}

void copy_field(char* out, size_t size, const char* from, size_t length)
{
    const size_t n = length < size - 1 ? length : size - 1;
    memcpy(out, from, n);
    out[n] = 0;
}

// "model|rider|bike|wheel|helmet"; the helmet ends at a further '|'.
void split_rider_line(const char* line, rider_strings* r)
{
    struct field {
        char* text;
        size_t size;
    };
    const field fields[5] = {{r->model, sizeof r->model},
                             {r->rider_texture, sizeof r->rider_texture},
                             {r->bike_texture, sizeof r->bike_texture},
                             {r->wheel_texture, sizeof r->wheel_texture},
                             {r->head_texture, sizeof r->head_texture}};
    const char* p = line;
    for (const field& f : fields) {
        const char* bar = strchr(p, '|');
        copy_field(f.text, f.size, p, bar ? (size_t)(bar - p) : strlen(p));
        if (!bar)
            break;
        p = bar + 1;
    }
}

// Integers after "KZ" as "%d %d ..." would read them, each held to the int
// range; returns how many were read.
int read_first_line(const char* line, long long* values, int max)
{
    if (strncmp(line, "KZ", 2) != 0)
        return 0;
    const char* p = line + 2;
    int n = 0;
    while (n < max) {
        char* end = nullptr;
        long long v = strtoll(p, &end, 10);
        if (end == p)
            break;
        v = v < INT_MIN ? INT_MIN : (v > INT_MAX ? INT_MAX : v);
        values[n++] = v;
        p = end;
    }
    return n;
}

bool read_header(world* w, demo_player& p, char* track, int track_size)
{
    data_stream* s = p.file;
    // Room for a rider line of the longest strings a rider has.
    char line[2048];
    if (!read_line(s, line, sizeof line))
        return false;
    long long v[5] = {0, 0, 0, 0, k_default_start_tick};
    const int numbers = read_first_line(line, v, 5);
    // Riders beyond the slots are read past and left out, but a count that
    // does not fit an int is no demo's.
    if (numbers < 3 || v[0] < 4 || v[0] > 6 || v[1] < 0 || v[1] > INT_MAX)
        return false;
    p.version = (int)v[0];
    p.riders = (int)v[1];

    if (!read_line(s, line, sizeof line))
        return false;
    // A track is one directory of the data: nothing that climbs out of it.
    if (strlen(line) >= (size_t)track_size || strstr(line, ".."))
        return false;
    snprintf(track, (size_t)track_size, "%s", line);

    for (int i = 0; i < p.riders; i++) {
        rider_strings r;
        if (!read_line(s, line, sizeof line))
            return false;
        split_rider_line(line, &r);
        if (!read_line(s, line, sizeof line))
            return false;
        copy_field(r.number, sizeof r.number, line, strlen(line));
        if (p.version == 6) {
            if (!read_line(s, line, sizeof line))
                return false;
            copy_field(r.name, sizeof r.name, line, strlen(line));
            do {
                if (!read_line(s, line, sizeof line))
                    return false;
            } while (line[0]);
        }
        if (i < RACE_SLOTS)
            p.strings[i] = r;
    }

    w->race.race_minutes_ticks = v[2] > 0 ? (int)v[2] : 0;
    if (numbers >= 4)
        w->race.extra_laps = v[3] > 0 ? (int)v[3] : 0;
    w->race.start_tick = (int)v[4];
    p.data_start = s->position;
    p.next_offset = p.data_start;
    return true;
}

// ---- version 6 -----------------------------------------------------------------------

void store_state(world* w, int slot, long long tick, const bike_snapshot& s)
{
    if (slot < 0 || tick < INT_MIN || tick > INT_MAX)
        return;
    add_state_to_history(w, slot, s, (int)tick);
}

// The payload of a block whose head was read. False when the file ends
// inside what had to be read.
bool read_payload(world* w, demo_player& p, int type, uint32_t length, long long start)
{
    data_stream* s = p.file;
    switch (type) {
    case demo_block_states: {
        if (length % DEMO_STATE_ENTRY != 0)
            return true;  // not used
        const uint32_t count = length / DEMO_STATE_ENTRY;
        for (uint32_t k = 0; k < count; k++) {
            uint8_t entry[DEMO_STATE_ENTRY];
            if (!read_exact(s, entry, sizeof entry))
                return false;
            const int index = entry[0];
            const int slot = index < p.riders && index < RACE_SLOTS ? p.slot_of[index] : -1;
            if (slot < 0)
                continue;
            bike_snapshot snapshot;
            memcpy(snapshot.bytes, entry + 5, BIKE_SNAPSHOT_SIZE);
            store_state(w, slot, (long long)(int32_t)get_u32(entry + 1) + p.tick_offset, snapshot);
        }
        return true;
    }
    case demo_block_message: {
        char text[DEMO_MESSAGE_SHOWN + 1];
        const uint32_t n = length < (uint32_t)DEMO_MESSAGE_SHOWN ? length : (uint32_t)DEMO_MESSAGE_SHOWN;
        if (!read_exact(s, text, n))
            return false;
        text[n] = 0;
        add_message("%s", text);
        return true;
    }
    case demo_block_command: {
        if (length > DEMO_MESSAGE_SHOWN)
            return true;
        char text[DEMO_MESSAGE_SHOWN + 1];
        if (!read_exact(s, text, length))
            return false;
        text[length] = 0;
        int amount = 0;
        if (sscanf(text, "erode %d", &amount) == 1)
            w->race.erosion_amount = amount;
        return true;
    }
    case demo_block_terrain: {
        if (length > DEMO_TERRAIN_MAX)
            return true;
        uint8_t message[DEMO_TERRAIN_MAX];
        if (!read_exact(s, message, length))
            return false;
        // Ground once dug stays dug: a rewind does not dig it twice.
        if (start >= p.terrain_done && w->track.loaded)
            erode_message_enqueue(w->erosion, message, (int)length, w->track.heightfield.extent);
        const long long end = start + DEMO_BLOCK_HEAD + (long long)length;
        if (end > p.terrain_done)
            p.terrain_done = end;
        return true;
    }
    default:
        return true;
    }
}

void read_blocks(world* w, demo_player& p)
{
    for (int blocks = 0; blocks < DEMO_BLOCKS_PER_READ && !p.at_end; blocks++) {
        if (p.next_block_tick != LLONG_MIN && (long long)w->race.tick < p.next_block_tick - DEMO_READ_AHEAD)
            break;
        const long long start = p.next_offset;
        uint8_t head[DEMO_BLOCK_HEAD];
        if (!reposition(p, start) || !read_exact(p.file, head, sizeof head)) {
            p.at_end = true;
            break;
        }
        const uint32_t length = get_u32(head) ^ p.last_length;
        const long long block_tick = (int32_t)get_u32(head + 4);
        const int type = head[8];
        if (type == demo_block_states && p.first_block_tick < 0) {
            p.first_block_tick = block_tick;
            if (w->race.time_trial) {
                // The ghost runs relative to the lap being ridden.
                p.tick_offset = (long long)w->race.tick - block_tick;
            } else {
                w->race.tick = block_tick < 0 ? 0 : (int)block_tick;
                p.tick_offset = (long long)w->race.tick - block_tick;
            }
        }
        if (!read_payload(w, p, type, length, start)) {
            p.at_end = true;
            break;
        }
        p.next_offset = start + DEMO_BLOCK_HEAD + (long long)length;
        p.last_length = length;
        p.next_block_tick = block_tick + p.tick_offset;
    }
}

// Walks back through the chain of block lengths to the last block at or
// before tick c - 64 (or the first block).
void walk_back(demo_player& p, long long c)
{
    long long offset = p.next_offset;
    uint32_t before_length = p.last_length;
    long long tick = LLONG_MIN;
    bool broken = false;
    while (offset > p.data_start) {
        const long long previous = offset - DEMO_BLOCK_HEAD - (long long)before_length;
        uint8_t head[DEMO_BLOCK_HEAD];
        if (previous < p.data_start || !reposition(p, previous) || !read_exact(p.file, head, sizeof head)) {
            broken = true;
            break;
        }
        offset = previous;
        before_length = get_u32(head) ^ before_length;
        tick = (int32_t)get_u32(head + 4) + p.tick_offset;
        if (tick <= c - DEMO_READ_AHEAD)
            break;
    }
    if (broken || offset <= p.data_start) {
        // From the start (also when the chain leads out of the data).
        offset = p.data_start;
        before_length = 0;
        tick = LLONG_MIN;
    }
    p.next_offset = offset;
    p.last_length = before_length;
    p.next_block_tick = tick;
    p.at_end = false;
}

// ---- versions 4 and 5 -----------------------------------------------------------------

void read_records(world* w, demo_player& p)
{
    const int size = record_size(p.version);
    if (p.next_unread_tick < 0)
        p.next_unread_tick = w->race.tick < 0 ? 0 : w->race.tick;  // the first record is the current tick's
    const long long until = (long long)w->race.tick + 7;
    if (p.riders == 0) {
        if (p.next_unread_tick <= until)
            p.next_unread_tick = until + 1;
        return;
    }
    while (!p.at_end && p.next_unread_tick <= until) {
        for (int i = 0; i < p.riders; i++) {
            const int slot = i < RACE_SLOTS ? p.slot_of[i] : -1;
            bike_snapshot record;
            if (!read_exact(p.file, record.bytes, (size_t)size)) {
                // Every rider from here on goes without: its engine falls silent.
                for (int k = i; k < p.riders && k < RACE_SLOTS; k++)
                    if (p.slot_of[k] >= 0)
                        p.silent[p.slot_of[k]] = true;
                p.at_end = true;
                break;
            }
            store_state(w, slot, p.next_unread_tick, record);
        }
        if (!p.at_end)
            p.next_unread_tick++;
    }
}

// A bike's gates passed after tick c are taken back.
void rewind_gates(world* w, long long c)
{
    for (race_slot& s : w->race.slots) {
        bike* b = s.b;
        if (!b)
            continue;
        while (b->gate_progress > 0) {
            const int t = gate_time(b, b->gate_progress - 1);
            if (t != -1 && t <= c)
                break;
            set_gate_progress(b, b->gate_progress - 1);
        }
    }
}

}  // namespace

// ---- the interface -------------------------------------------------------------------------

bool open_demo_stream(world* w, data_stream* s, const char* name, char* track, int track_size)
{
    close_demo(w);
    if (!s)
        return false;
    demo_player& p = (*w->player);
    p.file = s;
    snprintf(p.name, sizeof p.name, "%s", name ? name : "");
    char scratch[RACE_TRACK_NAME_MAX + 1];
    if (!track || track_size <= 0) {
        track = scratch;
        track_size = (int)sizeof scratch;
    }
    if (!read_header(w, p, track, track_size)) {
        log_printf("Can't play demo '%s'\n", p.name);
        close_demo(w);
        return false;
    }
    return true;
}

bool open_demo(world* w, const char* file, char* track, int track_size)
{
    close_demo(w);
    if (!file || !file[0])
        return false;
    data_stream* s = open_data_file(file, "rb");
    if (!s) {
        log_printf("Can't open demo '%s'\n", file);
        return false;
    }
    return open_demo_stream(w, s, file, track, track_size);
}

void close_demo(world* w)
{
    demo_player& p = (*w->player);
    if (p.file)
        close_data_file(p.file);
    reset_player(p);
}

bool demo_playing(const world* w)
{
    return (*w->player).file != nullptr;
}

int demo_version(const world* w)
{
    return (*w->player).file ? (*w->player).version : 0;
}

int demo_snapshot_format(const world* w)
{
    return (*w->player).file && (*w->player).version == 4 ? 4 : 5;
}

int demo_rider_count(const world* w)
{
    return (*w->player).file ? (*w->player).riders : 0;
}

bool demo_rider(const world* w, int index, rider_strings* out)
{
    const demo_player& p = (*w->player);
    if (!p.file || index < 0 || index >= p.riders || index >= RACE_SLOTS)
        return false;
    *out = p.strings[index];
    return true;
}

void demo_assign(world* w, int index, int slot)
{
    demo_player& p = (*w->player);
    if (index < 0 || index >= RACE_SLOTS || slot < -1 || slot >= RACE_SLOTS)
        return;
    p.slot_of[index] = slot;
    if (slot >= 0)
        p.silent[slot] = false;
}

bool demo_at_end(const world* w)
{
    return !(*w->player).file || (*w->player).at_end;
}

bool demo_slot_silent(const world* w, int slot)
{
    return slot >= 0 && slot < RACE_SLOTS && (*w->player).file && (*w->player).silent[slot];
}

void read_demo_ahead(world* w)
{
    demo_player& p = (*w->player);
    if (!p.file)
        return;
    if (p.version == 6)
        read_blocks(w, p);
    else
        read_records(w, p);
}

bool seek_demo(world* w, int seconds)
{
    demo_player& p = (*w->player);
    if (!p.file || demo_recording(w) || !w->track.loaded)
        return false;
    for (const race_slot& s : w->race.slots)
        if (s.b && s.driver != slot_driver_recorded)
            return false;
    const long long ticks = (long long)seconds * RACE_TICKS_PER_SECOND;
    if (seconds > 0 && (p.version == 6 || w->settings.accurate_skip)) {
        // Ride the second through; nothing needs the roost meanwhile.
        const long long target = (long long)w->race.tick + ticks;
        const int roost = w->race.settings.roost_frequency;
        w->race.settings.roost_frequency = 0;
        while ((long long)w->race.tick < target && w->track.loaded)
            world_tick(w);
        w->race.settings.roost_frequency = roost;
        return true;
    }
    long long c = (long long)w->race.tick + ticks - 1;
    c = c < 0 ? 0 : (c > INT_MAX ? INT_MAX : c);
    if (p.version == 6) {
        walk_back(p, c);
    } else {
        const long long per_tick = (long long)p.riders * record_size(p.version);
        const long long position = per_tick > 0 && c > (LLONG_MAX - p.data_start) / per_tick
                                       ? LLONG_MAX
                                       : p.data_start + c * per_tick;
        p.at_end = !reposition(p, position);
        p.next_unread_tick = c;
    }
    if (c < w->race.tick) {
        rewind_gates(w, c);
        w->race.results_final = false;
        update_ranking(w);
    }
    w->race.tick = (int)c;
    clear_state_histories(w);
    read_demo_ahead(w);
    world_tick(w);
    return true;
}
