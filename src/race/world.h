// One running world: everything a ride decides, tick by tick, in one record.
// The physics bodies and contacts, the random generator, the loaded track,
// the race, the erosion queue, the state histories, the demo being recorded
// or played and the crash delays all belong to the world that owns them, so
// two worlds in one process never touch each other and may run on two
// threads at once. Read-only caches (bike catalogue, collision shapes, the
// data file index) and the log stay process-wide.
//
// A world is created and destroyed explicitly. world_reset sets a ride up on
// it; world_tick advances it by 1/128 s. The game, every mode of the headless
// runner, the benchmarks and the tests run the same tick.
#pragma once

#include <cstdint>
#include <vector>

#include "bike/physics.h"
#include "race/race.h"
#include "track/erosion.h"
#include "track/track.h"

struct bike;
struct bike_setup;
struct world;
struct series_set;
struct demo_player;
struct demo_recorder;
struct history_set;
struct worker_pool;

// What the robots' layer does for a world (left empty: robots stand idle).
// context goes back to every call.
struct robot_hooks {
    void* context = nullptr;
    // The auto pilot's commands for a robot's bike, once per world tick
    // after the physics step and before the bike's own step.
    void (*tick)(void* context, world* w, int slot, bike* b) = nullptr;
    // A robot's personality by name ("kestrel", "osprey", "merlin", "tester").
    void (*personality)(void* context, bike* b, const char* name) = nullptr;
    // Racing lines: saved (learn mode) and emptied at a reset, read for the
    // skill, every section's best marked unknown.
    void (*lines_save)(void* context) = nullptr;
    void (*lines_load)(void* context, int skill) = nullptr;
    void (*lines_reset_bests)(void* context) = nullptr;
    // After each bike's gate test of a tick, for every bike the simulation
    // drives (not recorded ones); passed tells whether it passed a gate.
    // The racing lines record riders and rate the robots' lines here.
    void (*gate_check)(void* context, world* w, int slot, bike* b, bool passed) = nullptr;
    // Where a fallen bike should turn to (a point on the racing line ahead
    // of it); false when there is none.
    bool (*realign_target)(void* context, const world* w, const bike* b, vec3* target) = nullptr;
    // The world is going away (after its last lines_save): frees what the
    // robots' layer keeps for it.
    void (*release)(void* context) = nullptr;
};

// The engine sound of each bike (left empty headless).
struct sound_hooks {
    void* context = nullptr;
    void (*create)(void* context, int slot, bike* b) = nullptr;
    void (*destroy)(void* context, int slot) = nullptr;
};

// Settings a world is created with; each reaches the loads, resets and
// files of the world as it stands here (the game fills them from its
// configuration and command line, tools and tests directly).
struct world_settings {
    track_load_flags load;             // log level and editor of track loads
    // The results file each final ranking is written to (a data name or a
    // path); empty: none is written. Two worlds must not share one.
    char results_file[256] = "@results.txt";
    // The date written into the results file (Unix time); 0: the clock.
    long results_date = 0;
    double ghost_fade_distance = 10.0; // feet; 0 or less: ghosts show solid beyond any distance
    int demo_backups = 0;              // older recordings kept beside a new one
    bool accurate_skip = false;        // skipping in a demo runs every tick
    // The setup the local player's bike gets at a reset; null: the defaults.
    const bike_setup* player_setup = nullptr;
    // Threads a tick may use (the caller's counted; 1: the caller alone).
    // Results are bit for bit the same for every count.
    int threads = 1;
};

// Wall-clock seconds spent in the parts of the world tick (profiling only;
// nothing in the simulation reads it). Filled while world::profile is set.
struct world_profile {
    double contacts = 0;  // ground, statue and bike-to-bike contacts
    double roost = 0;     // roost thrown and flying
    double step = 0;      // the physics step alone (dWorldStep)
    double bikes = 0;     // commands and the bikes' own steps: rider, suspension, drivetrain
    double gates = 0;     // gate tests and ranking, the starting gate
    double erosion = 0;   // sampling the wheels and digging
    double other = 0;     // recorded poses, demos, the rest
    long ticks = 0;
};

struct world {
    physics_space physics;             // bodies, joints, contacts, the random generator
    struct track track;                // the loaded track (terrain, surfaces, objects, gates)
    race_state race;
    erode_queue* erosion = nullptr;    // the ruts waiting to be dug (owned)
    history_set* histories = nullptr;  // per-slot state histories (owned)
    demo_player* player = nullptr;     // the demo being played (owned)
    demo_recorder* recorder = nullptr; // the recording in progress (owned)
    series_set* series = nullptr;      // the caller's points series; null: none
    world_settings settings;
    robot_hooks robots;
    sound_hooks sound;
    world_profile* profile = nullptr;  // filled by world_tick when set
    // The tick's threads and each bike's buffered contacts (owned; made
    // when settings.threads asks for more than one).
    worker_pool* workers = nullptr;
    std::vector<pending_contact>* contact_buffers = nullptr;
};

// A new world with no track and no ride. Running out of memory ends the
// program.
world* world_create(const world_settings& settings = world_settings());
// Ends the ride (scoring a series event in progress, closing demos), frees
// the bikes, the track and the physics. Null is ignored.
void world_destroy(world* w);

// Sets up a ride: frees the previous riders, loads the track when it
// changed, creates a bike for every occupied slot of lineup (RACE_SLOTS
// entries; null: a time trial with the player alone) at the starting gate
// and chooses the start tick. play_demo names a demo to play (null: none);
// record_demo starts a recording. minutes_ticks is the time limit (0: laps
// only), laps the laps (or the laps after the time limit), skill the robots'.
// Returns false, with no bikes and no track, when the track cannot be loaded.
bool world_reset(world* w, const int* lineup, const char* play_demo, bool record_demo, int minutes_ticks,
                 int laps, int skill);

// One tick of the ride; does nothing while no track is loaded.
void world_tick(world* w);

// A ground built or loaded by the caller, for rides without a track's
// objects, gates and rules (tests of the bikes themselves): the world frees
// its riders and takes the ground over as its whole track, loaded, with the
// roost particles; the ride starts again at tick 0 with the generator
// seeded with 0. The race settings stay (erosion digs when erode_amount
// is above 0).
void world_take_ground(world* w, heightfield* hf);
// A bike of the model (unknown names fall back, with a message) for an
// empty slot, driven by driver (a slot_driver), with the setup (null: the
// model's own), placed at (x, z) facing angle by the race's placement rule.
// Null when the slot is out of range or taken, or no track is loaded.
bike* world_add_bike(world* w, int slot, const char* model, uint8_t driver, float x, float z, float angle,
                     const bike_setup* setup = nullptr);

// A 64-bit hash (FNV-1a) of every bike's bodies in slot order (position,
// orientation, linear and angular velocity, bit for bit, then the engine's
// speed and angle and the crash count), the tick, and the terrain's
// heights. Two runs of the same inputs give the same hash; a change that
// alters any contact, force or the order they reach the physics step almost
// surely changes it.
uint64_t world_state_hash(const world* w);
// The same over the terrain alone: two rides that dug the same ruts end
// with the same hash.
uint64_t world_terrain_hash(const world* w);
