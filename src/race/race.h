// The rules of a race and the life of a ride: the world reset that sets a
// ride up (riders, track, bikes at the starting gate, start tick), the world
// tick that advances it by 1/128 s, the start procedure with its false-start
// penalty, the starting gate drop, the race length in laps or minutes plus
// laps, the ranking with its final results and the penalty for cutting the
// track, and which riders are shown (and collide) in a multiplayer race.
//
// A ride lives in g_race from a successful world_reset until the next one or
// race_shutdown. Everything here runs on the main thread, reads no clock
// inside a tick and draws randomness only from g_world_rng, so a replay of
// the same inputs gives the same race.
//
// Modules that are not part of every build (demo recording and playback,
// the robots' auto pilot and racing lines, engine sound) reach the ride
// through g_race_hooks; a hook left empty leaves its step out. The network
// client drives a multiplayer ride through g_race.net and the lineup it
// passes to world_reset.
#pragma once

#include <cstdint>

#include "core/vec3.h"
#include "race/gates.h"

struct bike;

enum {
    RACE_SLOTS = 160,              // participant slots
    ROBOT_ROSTER_SIZE = 80,        // robot riders to choose from
    RACE_TICKS_PER_SECOND = 128,
    RIDER_MODEL_MAX = 63,
    RIDER_NUMBER_MAX = 3,
    RIDER_NAME_MAX = 63,
    RIDER_TEXTURE_MAX = 255,
    RACE_TRACK_NAME_MAX = 255,
    RACE_LAPS_UNDECIDED = 1000000,  // race_laps and half_laps of a timed race before they are known
    TIME_TRIAL_START_TICK = 300 * RACE_TICKS_PER_SECOND,
    FALSE_START_TICKS = 15 * RACE_TICKS_PER_SECOND,
    SECTION_AVERAGE_DEFAULT = 60 * RACE_TICKS_PER_SECOND,  // no rider rode the section cleanly
};

// Lineup entry codes: what rides in a participant slot.
enum lineup_code {
    lineup_empty = 0,       // nobody (while a demo is played: its next rider)
    lineup_player = 1,      // the local player; only the first 1 counts
    lineup_robot = 2,       // a robot from the shuffled roster
    lineup_robot_125 = 3,   // a robot whose bike model name contains "125"
    lineup_robot_250 = 4,   // a robot whose bike model name contains "250"
    lineup_remote = 5,      // a remote rider of a multiplayer race
    lineup_robot_number = 1000,  // 1000 + n: the robot with race number n
    // Any other value: a robot on an "rm125" with default textures.
};

// Who drives the bike of a slot.
enum slot_driver : uint8_t {
    slot_driver_local = 0,     // the player's controls (set before each world tick)
    slot_driver_recorded = 1,  // posed from the slot's state history (demo playback, network)
    slot_driver_robot = 2,     // the auto pilot (g_race_hooks.robot_tick), idle without one
};

// The strings that dress a rider; empty texture names mean the model's own.
struct rider_strings {
    char model[RIDER_MODEL_MAX + 1] = {};
    char number[RIDER_NUMBER_MAX + 1] = {};
    char name[RIDER_NAME_MAX + 1] = {};
    char rider_texture[RIDER_TEXTURE_MAX + 1] = {};
    char head_texture[RIDER_TEXTURE_MAX + 1] = {};
    char bike_texture[RIDER_TEXTURE_MAX + 1] = {};
    char wheel_texture[RIDER_TEXTURE_MAX + 1] = {};
};

// The player's rider until the bike setup says otherwise: the default bike
// and number.
rider_strings default_player_strings();

struct race_slot {
    int lineup = lineup_empty;            // the entry this ride was set up with
    uint8_t driver = slot_driver_recorded;
    bike* b = nullptr;                    // owned; null: no rider
    rider_strings rider;
};

// One rider in the ranking. In the live ranking penalty is 0 and last_tick
// the tick of the last gate passed (0 when none); in the results ranking
// progress has lost laps taken off and last_tick carries the rest of the
// cutting penalty.
struct ranking_entry {
    int slot = 0;
    int progress = 0;
    int last_tick = 0;
    int penalty = 0;   // cutting penalty in ticks before any lap was taken for it
};

// Settings a reset reads (the game fills them from the configuration and
// the command line; tools set them directly).
struct race_settings {
    char track[RACE_TRACK_NAME_MAX + 1] = "rabbithill";  // the selected track: directory or display name
    int erode_amount = -1;       // "--erode" in 1/1024 units; 0 or less: no ruts offline
    int roost_frequency = 1000;  // particles per wheel and tick x 100 (0..1000)
    bool robots_tester = false;  // "--practice" / "--super-debug": every robot rides "tester"
};

// The multiplayer client's view of the race, kept here because the rules
// read it every tick. The network client writes it; disconnecting clears
// connected and restores the off-course defaults.
struct race_network {
    bool connected = false;          // a server connection exists: the race is a multiplayer race
    int race_slot = RACE_SLOTS;      // this client's slot in the race; RACE_SLOTS: none (warm-up)
    int start_tick = 0;              // the server's start tick
    char track[RACE_TRACK_NAME_MAX + 1] = {};  // the server's track (directory)
    bool reload_track = false;       // the server asks for a fresh copy of the track
    float off_course_bias = 10.0f;   // seconds
    float off_course_scale = 1.5f;
    // The world tick at which the last update of each slot arrived; -1 none.
    int update_tick[RACE_SLOTS];
    race_network();
};

struct race_state {
    // ---- the clock of the ride ----
    int tick = 0;                    // world ticks since the reset; the next reset seeds g_world_rng with it
    int start_tick = 0;              // the tick the gate drops

    // ---- race length ----
    int race_minutes_ticks = 0;      // time limit, 0 for a race of laps only
    int extra_laps = 0;              // the laps setting
    int race_laps = 0;               // lap total of the finish rule
    int half_laps = 0;               // the lap at half distance (flaggers)
    int skill = 0;                   // robot skill of the ride (0 novice .. 2 expert)
    bool time_trial = false;
    double last_lap_time = 0;        // time trial, seconds
    double best_lap_time = 0;

    int erosion_amount = -1;         // in 1/1024 units; dig only when > 0

    // ---- ranking and results ----
    ranking_entry ranking[RACE_SLOTS];
    int ranking_count = 0;
    ranking_entry results_ranking[RACE_SLOTS];   // filled once results_final
    int results_count = 0;
    bool results_final = false;
    bool results_written = false;    // "@results.txt" was written for this ride

    // ---- the local player ----
    int player_slot = -1;            // the slot holding the local player, -1 none
    vec3 start_position = {0, 0, 0}; // frame body at the reset (false-start rule)
    int false_start_penalty = 0;     // ticks the rider is still held
    rider_strings player = default_player_strings();  // from the bike setup

    // ---- participants ----
    race_slot slots[RACE_SLOTS];
    int robot_order[ROBOT_ROSTER_SIZE] = {};  // roster indexes, shuffled at every reset

    race_settings settings;
    race_network net;

    // ---- internal bookkeeping ----
    // Each gate piece's orientation with its gate down (rows as statue::rotation).
    float piece_base[START_GATE_MAX][3][3] = {};
    int track_erosion = -1;          // erode_amount the loaded track was loaded with
    bool ranking_stale = false;      // a rider finished outside the gate test
};
extern race_state g_race;

// What other modules do for the ride. Every entry may be left empty.
struct race_hooks {
    // ---- the robots ----
    // The auto pilot's commands for a robot's bike, once per world tick
    // after the physics step and before the bike's own step.
    void (*robot_tick)(int slot, bike* b) = nullptr;
    // A robot's personality by name ("kestrel", "osprey", "merlin", "tester").
    void (*robot_personality)(bike* b, const char* name) = nullptr;
    // Racing lines: saved (learn mode) and emptied at a reset, read for the
    // skill, every section's best marked unknown.
    void (*lines_save)() = nullptr;
    void (*lines_load)(int skill) = nullptr;
    void (*lines_reset_bests)() = nullptr;

    // ---- state histories (demo playback and the network) ----
    void (*history_clear)() = nullptr;
    // Poses the slot's bike from its history at tick t (nothing when empty).
    void (*history_pose)(int slot, int t) = nullptr;
    // True when the slot's history holds a state with a tick in [from, to].
    bool (*history_has_state)(int slot, int from, int to) = nullptr;

    // ---- demos ----
    // Playback: open a demo (reading its header; it may override
    // g_race.race_minutes_ticks, extra_laps and start_tick) and name its
    // track directory; false when it cannot be played.
    bool (*demo_open)(const char* file, char* track, int track_size) = nullptr;
    void (*demo_close)() = nullptr;
    int (*demo_rider_count)() = nullptr;
    // The strings of the demo's rider index; false when there is none.
    bool (*demo_rider)(int index, rider_strings* out) = nullptr;
    // The demo's rider index rides in slot (it feeds that slot's history).
    void (*demo_assign)(int index, int slot) = nullptr;
    // Recording.
    void (*demo_start_recording)() = nullptr;
    void (*demo_finish_recording)() = nullptr;
    void (*demo_record_tick)(bool force) = nullptr;
    void (*demo_read_ahead)() = nullptr;
    // Time trial: put the player at its restart place after a reset, and
    // the lap end test after every tick with the lap counts of slot 0 (the
    // player) and slot 1 (the ghost, -1 when absent) from before the tick.
    void (*time_trial_restart)() = nullptr;
    void (*time_trial_lap_end)(int player_laps, int ghost_laps) = nullptr;

    // ---- sound ----
    void (*engine_sound_create)(int slot, bike* b) = nullptr;
    void (*engine_sound_free)(int slot) = nullptr;

    // ---- the results file ----
    // The date written into "@results.txt" (Unix time); null: the clock.
    long (*results_date)() = nullptr;
};
extern race_hooks g_race_hooks;

// ---- the robot roster --------------------------------------------------------------

struct robot_roster_entry {
    const char* model;        // bike model name as the lineup sees it
    int number;               // race number
    const char* personality;  // auto pilot personality
};
// The 80 robot riders, numbers 20 to 99 in order.
const robot_roster_entry* robot_roster();

// ---- the ride ------------------------------------------------------------------------

// The lineup of a fresh start: every slot empty, and one robot in slot 0
// unless a demo is to be played. out holds RACE_SLOTS entries.
void race_default_lineup(int* out, bool playing_demo);

// Sets up a ride: frees the previous riders, loads the track when it
// changed, creates a bike for every occupied slot of lineup (RACE_SLOTS
// entries; null: a time trial with the player alone) at the starting gate
// and chooses the start tick. play_demo names a demo to play (null: none);
// record_demo starts a recording. minutes_ticks is the time limit (0: laps
// only), laps the laps (or the laps after the time limit), skill the robots'.
// Needs the physics world. Returns false, with no bikes and no track, when
// the track cannot be loaded.
bool world_reset(const int* lineup, const char* play_demo, bool record_demo, int minutes_ticks, int laps,
                 int skill);

// One tick of the ride; does nothing while no track is loaded.
void world_tick();

// Recomputes the ranking, the race length, the results and the points
// series (skipped once the results are final). Run after a reset, whenever
// a bike passes a gate, and by the demo and network code after they change
// gate progress.
void update_ranking();

// Whether the slot's bike is drawn and heard: no bike, a ghost, or a rider
// hidden by the multiplayer off-course rule is not.
bool is_visible(int slot);

// True when the slot exists and its bike is driven by recorded data.
bool race_slot_recorded(int slot);
// True while connected without a race slot of our own.
bool race_warm_up();

// Where slot-number n stands at the start: on the gate pieces (piece
// n mod pieces, row n div pieces behind it) or, without pieces, side by side
// across the middle of the terrain. x, z in feet; angle the facing.
void race_start_spot(int n, float* x, float* z, float* angle);

// Puts a bike on a start spot: the nearest terrain sample's height, raised
// in steps of 0.25 ft until the bike touches neither the ground nor a track
// object. Returns the height used.
float race_place_bike(bike* b, float x, float z, float angle);

// The starting gate of one tick (the world tick's own step, exposed so the
// rule can be tested alone): pieces are up before the start, drop after it
// unless a bike touched them this tick, and stop changing 10 s after it.
void start_gate_drop();
// Every piece up (drop 1), or down when the start is more than 10 s past
// (a time trial), with the statues turned to match.
void raise_start_gate();

// ---- rules exposed for the heads-up display, the network and the tests ----

// Mean time (ticks) of the ranked riders over race gates a..b, each rider
// counted when it rode the section cleanly; 60 s when none did.
int section_average(int a, int b);
// The cutting penalty (ticks) a bike has earned so far: for every gate
// reached after skipped ones, how much faster than the field's average plus
// one second it was over that stretch.
int cutting_penalty(const bike* b);
// Whether the bike was off course between race gate j - 1 and j (the
// multiplayer ghost rule).
bool off_course_at(const bike* b, int j);

// The rule the rider step asks about a rider lying beside his bike at the
// end of a race: marks him finished when the leader is through the final
// gate and he has completed a lap since. race is &g_race.
bool race_finish_fallen_rider(void* race, bike* b);

// The series event being raced is scored with the current ranking (at a
// reset before the results are final, and at shutdown).
void race_score_series();

// Frees every slot's bike (and engine sound).
void race_free_bikes();
// End of the run: scores a series event in progress, saves the racing
// lines, frees the bikes, closes the demos and unloads the track. The
// physics world is the caller's.
void race_shutdown();
