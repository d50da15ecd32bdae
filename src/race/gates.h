// Timing gates and lap counting: the track's "timing_gates" file (the
// starting gate pieces, the checkpoints and the two lap sequences), the
// crossing test run for every bike each tick, and everything derived from a
// bike's gate times: laps, lap times, the best lap and the finish.
//
// Race gate k of a bike's race is entry k of the first-lap sequence while
// k < F, else entry (k - F) mod N of the normal-lap sequence. A bike's
// gate_progress is the race gate it must pass next; gate_times[k] is the
// tick it passed race gate k, -1 when it skipped it.
//
// Everything here that decides the race is single precision and reads no
// clock, so a replay counts the same laps.
#pragma once

#include <cstdint>

#include "core/vec3.h"

struct bike;
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

// ---- a bike's gates ------------------------------------------------------------

// What the gate rules read about the race around a bike.
struct gate_race {
    int tick = 0;                 // the current world tick
    int start_tick = 0;           // the tick the gate drops
    int race_laps = 0;            // the lap total of the finish rule
    const bike* leader = nullptr; // the ranking's first rider, null before any ranking
    int leader_progress = 0;      // its gate progress as last ranked (0 before any ranking)
};

// The crossing test of one tick for a bike that is not driven by recorded
// data, with its front wheel centre as the point: stamps the tick of the
// gate it entered, advances gate_progress and sets finished at the final
// lap end. Returns true when a gate was passed: the caller then runs the
// ranking update. Does nothing without timing data or once finished.
bool check_gates(const track_timing* t, bike* b, const gate_race& race);
// The same with the point given (x, z feet), for callers that know it.
bool check_gates_at(const track_timing* t, bike* b, float wheel_x, float wheel_z, const gate_race& race);

// Truncates the gate times to k entries and sets gate_progress to k (k < 0
// counts as 0); clears finished when k is below the previous progress.
void set_gate_progress(bike* b, int k);
// Grows the gate times with -1 entries up to k and stores tick at k. False
// (nothing changed) for k < 0 or k >= GATE_TIMES_MAX.
bool set_gate_time(bike* b, int k, int tick);
// The tick at race gate k, or -1 when k is outside the times or skipped.
int gate_time(const bike* b, int k);

// Completed laps at a gate progress: 0 below F, else (progress - F) div N + 1.
// 0 without timing data.
int lap_count(const track_timing* t, int progress);
// The race gate that ends lap (lap >= 1): F + N (lap - 1) - 1, saturated at
// the int range; -1 for lap < 1 or without timing data.
int lap_end_gate(const track_timing* t, int lap);
// Seconds the bike took for lap (lap < 0: its current lap count); 0 when a
// needed time is missing or without timing data. Lap 1 runs from
// start_tick.
double lap_time(const track_timing* t, const bike* b, int lap, int start_tick);
// The bike's best lap number (lap 1, which holds the start, never counts);
// 0 with fewer than two laps completed. Its time is lap_time of it.
int best_lap(const track_timing* t, const bike* b, int start_tick);
// The finish rule: sets and reports finished when the bike has passed a lap
// end at or after the tick the leader passed the final one.
bool is_finished(const track_timing* t, bike* b, const gate_race& race);

// ---- trackinfo -----------------------------------------------------------------

// Writes dir + ".trackinfo" into the home directory (dir is the track
// directory name; long_name its display name) and adds "Track info saved to
// %s.trackinfo". A file that cannot be created gives "Can't open
// '%s.trackinfo'\n" and false.
bool save_trackinfo(const char* dir, const char* long_name, const track_timing* t, const uint8_t digest[20]);
