// Shared by the demo files only: the player's and the recorder's state and
// the little-endian helpers.
#pragma once

#include <climits>
#include <cstdint>

#include "bike/snapshot.h"
#include "files/datafs.h"
#include "race/demo.h"
#include "race/world.h"

struct data_stream;

enum { DEMO_FILE_NAME_MAX = 1023 };

// The demo being played.
struct demo_player {
    data_stream* file = nullptr;
    char name[DEMO_FILE_NAME_MAX + 1] = {};  // to reopen a stream that cannot seek
    int version = 0;
    int riders = 0;                 // riders in the file
    long long data_start = 0;       // stream position of the first block / record
    long long next_offset = 0;      // stream position of the next block (version 6)
    uint32_t last_length = 0;       // payload length of the last block read
    long long next_block_tick = LLONG_MIN;  // world tick of the next block, as estimated
    long long first_block_tick = -1;        // file tick of the first states block; -1 before it
    long long tick_offset = 0;      // world tick - file tick
    long long terrain_done = 0;     // terrain blocks before this offset were applied
    long long next_unread_tick = -1;  // versions 4 and 5: the tick of the next record; -1 before the first
    bool at_end = false;
    rider_strings strings[RACE_SLOTS];  // the first 160 riders' strings
    int slot_of[RACE_SLOTS];            // slot each file rider rides in, -1 none
    bool silent[RACE_SLOTS] = {};
    demo_player();
};

// The recording in progress.
struct demo_recorder {
    data_stream* file = nullptr;        // out.stream while recording
    replacing_file out;                 // takes the demo's name once it ends
    uint32_t last_length = 0;
    int slots[RACE_SLOTS] = {};         // the recorded riders' slots, in order
    int count = 0;
    bool time_trial = false;            // writing the track's "lastlap.kzdemo"
    bool own_outlet = false;            // the erosion outlet records our ruts
    char new_name[DEMO_FILE_NAME_MAX + 1] = {};  // from "namedemo"
    char target[DEMO_FILE_NAME_MAX + 1] = {};    // demo_record_to; empty: the default
};

// The per-slot state histories of a world, with the terrain measure their
// snapshots are taken over (computed once per load; clearing forgets it).
struct history_set {
    state_history slots[RACE_SLOTS];
    snapshot_terrain terrain;
    const heightfield* terrain_hf = nullptr;
    const float* terrain_heights = nullptr;
    bool terrain_valid = false;
};

// The terrain snapshots of the loaded track are measured over.
const snapshot_terrain& demo_terrain(world* w);
void demo_forget_terrain(world* w);

// The snapshot format of the demo played (4 for version 4, else 5).
int demo_snapshot_format(const world* w);

inline void put_u32(uint8_t* p, uint32_t v)
{
    p[0] = (uint8_t)v;
    p[1] = (uint8_t)(v >> 8);
    p[2] = (uint8_t)(v >> 16);
    p[3] = (uint8_t)(v >> 24);
}

inline uint32_t get_u32(const uint8_t* p)
{
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

// The slot's entries count as written.
void demo_clear_pending(world* w, int slot);

// Frees one slot's bike and engine sound; the slot keeps no rider.
void demo_free_slot(world* w, int slot);
