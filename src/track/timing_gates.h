// A track's timing gates: the "timing_gates" file (the starting gate
// pieces, the checkpoints and the two lap sequences), the race gate
// numbering over them, and the ".trackinfo" summary. The rules that count a
// bike's gates and laps are the race's (race/gates.h).
//
// Race gate k of a bike's race is entry k of the first-lap sequence while
// k < F, else entry (k - F) mod N of the normal-lap sequence.
#pragma once

#include <cstdint>

#include "core/vec3.h"

struct data_stream;
struct heightfield;
struct track_objects;
struct object_options;

enum {
    CHECKPOINT_MAX = 256,        // checkpoints of one track
    LAP_SEQUENCE_MAX = 256,      // entries of each lap sequence
    START_GATE_MAX = 160,        // starting gate pieces
    GATE_NO_SECTION = 100000,    // added to a sequence entry: no racing-line section boundary
    GATE_TIMES_MAX = 1 << 22,    // race gates a bike's gate times may reach (guards network input)
};

// One checkpoint: a circle on the ground crossed in one direction.
struct timing_gate {
    vec3 position = {0, 0, 0};   // feet
    vec3 direction = {0, 0, 0};  // only x and z count: inside when (bike - position) . (dx, 0, dz) >= 0
    float radius = 0;            // feet, horizontal
};

// One piece of the starting gate: where the bike behind it stands and the
// way it faces (the bike faces (-sin a, -cos a)).
struct start_gate_piece {
    vec3 position = {0, 0, 0};  // x, z stand position; y the gate object's height above the ground
    float angle = 0;            // radians, -pi..pi
    int object = -1;            // statue index of its gate object, -1 none
    float drop = 1;             // 1 up, 0 down (the race's gate drop)
    float drop_speed = 0;
    // Owned names of the gate object (mem_* allocations); null for none.
    char* model = nullptr;
    char* texture = nullptr;
    char* shape = nullptr;
};

// The timing data of the loaded track (reset at every track load).
struct track_timing {
    timing_gate checkpoints[CHECKPOINT_MAX];
    int checkpoint_count = 0;          // 0: the track has no timing data
    int first_lap[LAP_SEQUENCE_MAX] = {};
    int normal_lap[LAP_SEQUENCE_MAX] = {};
    int first_count = 0;               // F
    int normal_count = 0;              // N
    int first_real = 0;                // F_real: entries without the no-section marker
    int normal_real = 0;               // N_real
    start_gate_piece pieces[START_GATE_MAX];
    int piece_count = 0;
};

// Default names of a piece's gate object.
extern const char* const start_gate_model;    // "@startgate.qm"
extern const char* const start_gate_texture;  // "@startgate.ppm"
extern const char* const start_gate_shape;    // "@startgate.shp"

// True when the track times laps: at least one checkpoint, F, N, F_real and
// N_real all above 0. The reader guarantees this or leaves no checkpoints.
bool timing_active(const track_timing* t);

// Frees the piece names and empties the record.
void timing_gates_clear(track_timing* t);

// ---- the file ------------------------------------------------------------------

// Where the start gate objects go while reading: statues added to objects,
// placed on hf, loaded with options. objects may be null (no gate objects).
struct gate_object_target {
    track_objects* objects = nullptr;
    const heightfield* hf = nullptr;
    const object_options* options = nullptr;
};

// Clears t and reads dir + "/timing_gates" (dir as for the other track
// files: "@rabbithill" or a plain path). A missing file leaves no start gate
// and no timing and returns false. debug logs "Found %d timing gates, first
// lap has %d gates, normal lap has %d\n". A malformed checkpoint or lap
// section, or sequences that name no real gate, leave the start gate pieces
// and no timing data; numbers out of range are clamped.
bool load_timing_gates(track_timing* t, const char* dir, const gate_object_target* target, int debug);
// The reading alone, over an open stream (the loader and the fuzz target).
void read_timing_gates(track_timing* t, data_stream* s, const gate_object_target* target, int debug);

// Writes dir + "/timing_gates" ("@name" writes into the home directory).
// A file that cannot be created gives "Can't open 'timing_gates'\n" and
// false.
bool save_timing_gates(const track_timing* t, const char* dir);

// ---- race gate numbering ----------------------------------------------------

// The sequence entry of race gate k (marker included), or -1 without timing
// data or for k < 0.
int race_gate_entry(const track_timing* t, int k);
// The checkpoint index of race gate k, or -1.
int race_gate_checkpoint(const track_timing* t, int k);
// True when race gate k ends a lap: k - F + 1 >= 0 and (k - F + 1) mod N = 0.
bool is_lap_end_gate(const track_timing* t, int k);
// Sections of the robots' racing-line table: F_real + N_real with timing
// data, else 0.
int timing_section_count(const track_timing* t);

// ---- trackinfo -----------------------------------------------------------------

// Writes dir + ".trackinfo" into the home directory (dir is the track
// directory name; long_name its display name) and adds "Track info saved to
// %s.trackinfo". A file that cannot be created gives "Can't open
// '%s.trackinfo'\n" and false.
bool save_trackinfo(const char* dir, const char* long_name, const track_timing* t, const uint8_t digest[20]);
