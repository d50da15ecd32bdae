// The rules of a race and the life of a ride: the world reset that sets a
// ride up (riders, track, bikes at the starting gate, start tick), the world
// tick that advances it by 1/128 s, the start procedure with its false-start
// penalty, the starting gate drop, the race length in laps or minutes plus
// laps, the ranking with its final results and the penalty for cutting the
// track, and which riders are shown (and collide) in a multiplayer race.
//
// A ride lives in its world's race_state from a successful world_reset until
// the next one or race_shutdown. Nothing here reads a clock inside a tick or
// draws randomness but from the world's generator, so a replay of the same
// inputs gives the same race.
//
// The robots' auto pilot and the engine sound live in layers above and
// reach the ride through the world's hooks (world.h). The network client
// drives a multiplayer ride through race_state::net and the lineup it
// passes to world_reset.
#pragma once

#include <cstdint>

#include "core/vec3.h"
#include "race/gates.h"

struct bike;
struct world;

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
    slot_driver_robot = 2,     // the auto pilot (the world's robot hooks), idle without one
    // A test rider: commands from the robot hooks like a robot, but no
    // personality, so the racing lines record it as they record a human;
    // it counts in the race as a robot does and is never the local player.
    slot_driver_test = 3,
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
    // Every robot rides this bike model (the headless runner's "--model");
    // empty: each robot's own from the roster.
    char robot_model[RIDER_MODEL_MAX + 1] = {};
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
    int tick = 0;                    // world ticks since the reset; the next reset seeds the generator with it
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
    bool force_reload = false;       // the next reset loads the track afresh ("forcereload")

    // ---- ranking and results ----
    ranking_entry ranking[RACE_SLOTS];
    int ranking_count = 0;
    ranking_entry results_ranking[RACE_SLOTS];   // filled once results_final
    int results_count = 0;
    bool results_final = false;
    bool results_written = false;    // "@results.txt" was written for this ride

    // ---- the local player ----
    int player_slot = -1;            // the slot holding the local player, -1 none
    // The slot whose rider is shown: a reset proposes the player, else the
    // first rider, else the leader; the game may watch another and writes
    // it here (a warm-up shows the own bike only while it is watched).
    int watched_slot = 0;
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

// world_reset and world_tick are in world.h.

// Recomputes the ranking, the race length, the results and the points
// series (skipped once the results are final). Run after a reset, whenever
// a bike passes a gate, and by the demo and network code after they change
// gate progress.
void update_ranking(world* w);

// Whether the slot's bike is drawn and heard: no bike, a ghost, or a rider
// hidden by the multiplayer off-course rule is not.
bool is_visible(const world* w, int slot);

// True when the slot exists and its bike is driven by recorded data.
bool race_slot_recorded(const world* w, int slot);
// True while connected without a race slot of our own.
bool race_warm_up(const world* w);

// Where slot-number n stands at the start: on the gate pieces (piece
// n mod pieces, row n div pieces behind it) or, without pieces, side by side
// across the middle of the terrain. x, z in feet; angle the facing.
void race_start_spot(const world* w, int n, float* x, float* z, float* angle);

// Puts a bike on a start spot: the nearest terrain sample's height, raised
// in steps of 0.25 ft until the bike touches neither the ground nor a track
// object. Returns the height used.
float race_place_bike(world* w, bike* b, float x, float z, float angle);

// The starting gate of one tick (the world tick's own step, exposed so the
// rule can be tested alone): pieces are up before the start, drop after it
// unless a bike touched them this tick, and stop changing 10 s after it.
void start_gate_drop(world* w);
// Every piece up (drop 1), or down when the start is more than 10 s past
// (a time trial), with the statues turned to match.
void raise_start_gate(world* w);

// ---- rules exposed for the heads-up display, the network and the tests ----

// Mean time (ticks) of the ranked riders over race gates a..b, each rider
// counted when it rode the section cleanly; 60 s when none did.
int section_average(const world* w, int a, int b);
// The cutting penalty (ticks) a bike has earned so far: for every gate
// reached after skipped ones, how much faster than the field's average plus
// one second it was over that stretch.
int cutting_penalty(const world* w, const bike* b);
// Whether the bike was off course between race gate j - 1 and j (the
// multiplayer ghost rule).
bool off_course_at(const world* w, const bike* b, int j);

// The rule the rider step asks about a rider lying beside his bike at the
// end of a race: marks him finished when the leader is through the final
// gate and he has completed a lap since. context is the world.
bool race_finish_fallen_rider(void* context, bike* b);

// The series event being raced is scored with the current ranking (at a
// reset before the results are final, and at shutdown).
void race_score_series(world* w);

// Frees every slot's bike (and engine sound).
void race_free_bikes(world* w);
// End of the run: scores a series event in progress, saves the racing
// lines, frees the bikes, closes the demos and unloads the track. The
// physics world is the caller's.
void race_shutdown(world* w);
