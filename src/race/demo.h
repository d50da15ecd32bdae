// Demos: the per-slot state histories that demo playback and the network
// feed and the world tick reads; recording a ride into a demo file;
// playing one back with rewind and skip; racing against one; and the time
// trial, whose current lap and fastest lap are demos, the fastest replayed
// as a ghost.
//
// A demo file (".kzdemo") is a text header followed by binary data. The
// header:
//   "KZ06 R LIMIT LAPS START\n"   riders, time limit (ticks), laps, start tick
//   "TRACK\n"                      the track directory
//   per rider, in slot order:
//   "MODEL|RIDER|BIKE|WHEEL|HELMET\nNUMBER\nNAME\n\n"
// Version 6 data is a sequence of blocks (little-endian):
//   4 bytes  payload length L XOR the previous block's L (0 before the first)
//   4 bytes  tick (signed)
//   1 byte   type: 1 states, 2 message text, 3 command text, 5 terrain
//            deformation (an erosion message); others are skipped
//   L bytes  payload; a states block holds L / 44 entries of rider index
//            (1 byte), tick (4 bytes) and a 39-byte snapshot
// The XOR chain lets a reader standing at a block walk backwards. Versions 4
// and 5 (read only) hold one record per rider per tick, 26 or 39 bytes.
//
// Everything here keeps its state in the world it runs on (its histories,
// player and recorder); the reader never allocates on behalf of the file it
// reads.
#pragma once

#include <cstdint>

#include "bike/snapshot.h"
#include "race/race.h"

struct data_stream;
struct world;

enum {
    STATE_HISTORY_SIZE = 128,       // entries per slot
    DEMO_VERSION = 6,               // the version written
    DEMO_BLOCK_HEAD = 9,            // length word, tick, type
    DEMO_STATE_ENTRY = 1 + 4 + BIKE_SNAPSHOT_SIZE,  // 44
    DEMO_BACKUPS_MAX = 100,
    DEMO_READ_AHEAD = 64,           // ticks a block is read before it is due
    DEMO_BLOCKS_PER_READ = 128,
    DEMO_EXTRAPOLATE = 64,          // ticks a state is carried beyond the newest
    DEMO_MESSAGE_SHOWN = 1023,      // bytes of a message block shown
    DEMO_TERRAIN_MAX = 4096,        // longest terrain block applied (longer: skipped)
    DEMO_NAME_MAX = 1016,           // longest name "namedemo" accepts
};

enum demo_block_type {
    demo_block_states = 1,
    demo_block_message = 2,
    demo_block_command = 3,
    demo_block_terrain = 5,
};

// ---- state histories ----------------------------------------------------------------

struct history_entry {
    int tick = -1;          // -1: empty
    bike_snapshot snapshot;
};

// A ring of the newest states of one slot, in tick order.
struct state_history {
    history_entry entries[STATE_HISTORY_SIZE];
    int newest = STATE_HISTORY_SIZE - 1;  // ring index of the newest entry
    int count = 0;                        // entries filled (the newest `count`)
    int pending = 0;                      // added since the last states block was written
};

// Inserts a state in tick order. A slot outside 0..159 adds the message
// "add_state_to_history: slot out of range" and stores nothing; a tick
// already held is not stored again; a state older than every entry of a
// full ring is dropped, and so is one with a negative tick. The newest
// entry moves on when the state is newer than everything held (the oldest
// is overwritten when the ring is full).
void add_state_to_history(world* w, int slot, const bike_snapshot& s, int tick);
// Empties every slot's history (pending counts included).
void clear_state_histories(world* w);
// The history of a slot (read-only), null outside 0..159.
const state_history* state_history_of(const world* w, int slot);

// What drives a recorded bike at one tick: the snapshot for the tick, the
// two it was made from and their distance in ticks (1 when one entry was
// used alone).
struct state_choice {
    bike_snapshot current;
    bike_snapshot earlier;
    bike_snapshot later;
    int distance = 1;
};
// Chooses the slot's state at tick t (t below 0 counts as 0): the entry at
// t itself, a blend of the entries either side, an extrapolation of the
// two newest at most 64 ticks past the newest, or the oldest entry at or
// after t when only that is usable. False for an empty history. format is
// the snapshot format (4 or 5) the blend works in.
bool state_at_tick(const world* w, int slot, int t, int format, state_choice* out);
// True when the slot's history holds a state with a tick in [from, to].
bool history_has_state(const world* w, int slot, int from, int to);
// The newest tick held, or INT_MIN for an empty history.
int history_newest_tick(const world* w, int slot);
// Poses the slot's bike from its history at tick t in the format of the
// demo being played (5 without one); nothing without a bike or a state.
void history_pose(world* w, int slot, int t);

// ---- recording ------------------------------------------------------------------------

// Starts a recording of the present ride. Outside the time trial the
// backups of "@demos/default.kzdemo" are rotated (demo_backups of them)
// and that file is written; in the time trial the track's "lastlap.kzdemo"
// in the home directory. A recording in progress is finished first. False
// (nothing recorded) when the file cannot be created.
bool start_recording(world* w);
// Writes the states not yet written, closes the file and applies a name
// given with "namedemo". Nothing when not recording.
void finish_recording(world* w);
// After every world tick (force after a reset and at a lap start): every
// 4th tick the recorded riders' snapshots go into their histories, every
// 16th tick the new history entries are written as one states block.
void record_tick(world* w, bool force);
// Writes a block of type 2, 3 or 5 at the current tick while recording
// (the network client's messages, commands and erosion). False when not
// recording or when the write fails.
bool write_demo_block(world* w, int type, const void* payload, uint32_t length);
bool demo_recording(const world* w);
// The next recording goes to this data name or path instead of
// "@demos/default.kzdemo", without backups (tools); null or "" restores the
// default.
void demo_record_to(world* w, const char* name);
// The console command "namedemo NAME" (args: the text after the command):
// the name the recording gets when it is finished, with ".kzdemo" added
// unless present. Adds "Demo name updated", "Name too long" or "Not
// currently recording a demo".
void namedemo_command(world* w, const char* args);

// ---- playback -------------------------------------------------------------------------

// Opens a demo to play (a data name or a path) and reads its header: the
// track directory goes to track (track_size bytes with the terminator); the
// world's time limit, extra laps and start tick are taken from the header.
// A demo played before is closed. False (nothing open) for a file that
// cannot be read, a first line that is not "KZ" with a version of 4 to 6,
// or a header cut short.
bool open_demo(world* w, const char* file, char* track, int track_size);
// The same over an open stream, which the demo takes over (closed on
// failure too). name is used to reopen the file when the stream cannot
// seek; may be null.
bool open_demo_stream(world* w, data_stream* s, const char* name, char* track, int track_size);
void close_demo(world* w);
bool demo_playing(const world* w);
// Version of the demo played (4, 5 or 6), 0 when none.
int demo_version(const world* w);
// Riders in the demo's header; 0 when none is played.
int demo_rider_count(const world* w);
// The strings of rider index (in header order); false when there is none.
bool demo_rider(const world* w, int index, rider_strings* out);
// The demo's rider index rides in slot (-1: nobody; its states are read
// and dropped).
void demo_assign(world* w, int index, int slot);
// After every world tick and after a seek: version 6 reads blocks (at most
// 128 a call) up to 64 ticks ahead of the world's tick into the state
// histories; versions 4 and 5 read records up to 7 ticks ahead.
void read_demo_ahead(world* w);
// True once the reader has met the end of the file (or a broken block).
bool demo_at_end(const world* w);
// A rider whose record could not be read (versions 4 and 5): its engine is
// silent.
bool demo_slot_silent(const world* w, int slot);
// Rewind (seconds < 0) or skip (> 0) while a demo is played, nothing is
// recorded and every bike is driven by recorded data. A skip in a
// version-6 demo (or any with "--accurate-skip") runs the world ticks of
// the second without roost; otherwise the reader goes back to the tick,
// gate progress later than it is taken back, and one world tick runs.
// False when a seek is not possible now.
bool seek_demo(world* w, int seconds);

// ---- the "Playback Race" menu ----------------------------------------------------------

enum playback_mode { playback_only = 0, playback_race_against = 1 };

// The lineup for playing a demo: every entry 0 (the demo's riders), and
// for "Race Against" the local player at the first gate whose choice is the
// player (gate_choices: 40 lineup codes, may be null), else slot 0.
void demo_playback_lineup(int mode, const int* gate_choices, int* out);
// Plays a demo as the menu does: the lineup above, 10 laps and no time
// limit (the header overrides them), recording when record is set in
// "Race Against" - except when the file played is "@demos/default.kzdemo"
// itself ("Can't record and play from same file - recording disabled").
// Returns what the world reset returned.
bool play_demo_race(world* w, const char* file, int mode, bool record, int skill, const int* gate_choices);

// ---- the time trial --------------------------------------------------------------------

// Puts the player of a time trial at the restart place: playback and
// recording stop, every other slot is emptied, the bike stands at the
// checkpoint of race gate max(F - 3, 0) facing along it with its progress
// there, the last lap time becomes 0.
void time_trial_restart(world* w);
// The lap end test after every world tick of a time trial, with the lap
// counts of the player and the ghost from before the tick: when the
// player's lap count changed, the lap is timed, the recording becomes the
// track's "fastlap.kzdemo" when it beat the ghost (or none exists), the
// ghost is loaded into slots 1.., and the next lap is recorded.
void time_trial_lap_end(world* w, int player_laps, int ghost_laps);

// The fade of a ghost d feet from the live bike with the
// ghost_fade_distance setting D: 0 within D / 2, 1 beyond D, linear
// between. With D at or below 0: 1 at any distance above 0.
float ghost_fade(float distance, float fade_distance);
// How solid the scene draws a slot's bike (0 hidden .. 1 solid): offline,
// a bike driven by recorded data fades by its distance from the first
// live bike (ghost_fade with the ghost_fade_distance setting); a bike the
// visibility rule hides, or no bike, is 0.
float bike_fade(const world* w, int slot);
