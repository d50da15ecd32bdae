// The tracks the program can offer, the loaded track with everything read
// from its directory, the order of a track load with its loading screen,
// the digest that identifies a track between players, and the unloading.
//
// A track is a directory of data files: file F of track D is the data name
// "@D/F". Each world holds one loaded track; it lives until the next
// track_unload.
#pragma once

#include <cstddef>
#include <cstdint>

#include "track/timing_gates.h"
#include "track/heightfield.h"
#include "track/lighting.h"
#include "track/objects.h"
#include "track/roost.h"

enum {
    TRACK_DIR_MAX = 255,     // longest track directory name
    TRACK_NAME_MAX = 255,    // longest display name kept from "desc"
    TRACK_DIGEST_SIZE = 20,  // SHA-1
    LOADING_TEXT_MAX = 78,   // characters of a status text kept
};

// ---- the track list ---------------------------------------------------------------

// Every track directory in the data (one holding "terrain.hf", or its
// ".gz", ".scram" or ".gz.scram" form) with its display name (the first
// line of its "desc", else the directory), sorted by display name without
// regard to case. Parallel arrays of owned strings.
struct track_list {
    char** dirs = nullptr;
    char** names = nullptr;
    int count = 0;
};
extern track_list g_track_list;

// Builds g_track_list from the data file list (built first when needed);
// verbose logs "%s -> %s\n" for each. Replaces any list built before.
// Returns the count.
int track_list_build(int verbose);
void track_list_free();
// The entry whose display name is exactly name, or -1.
int track_list_find(const char* name);
// The display name of a track directory: its list entry's (compared
// without regard to case), else dir itself.
const char* track_display_name(const char* dir);

// The data name of a track directory: "@DIR" for a directory of the game
// data, DIR itself for one given as a path (holding "/"). False when it does
// not fit into size bytes.
bool track_data_dir(const char* dir, char* out, size_t size);

// ---- the loaded track ---------------------------------------------------------------

struct track {
    char dir[TRACK_DIR_MAX + 1] = {};  // data name without "@"; empty: none loaded
    bool loaded = false;
    struct heightfield heightfield;    // with surfaces, tile map and decals
    struct lighting lighting;
    camera_set cameras;
    track_timing timing_gates;
    track_objects objects;             // sprites, billboards, statues, flaggers
    // Roost particles; particle i owns sprite particle_sprites + i.
    roost_pool* particle_pool = nullptr;
    int particle_sprites = -1;
    unsigned map_texture = 0;          // "map.png", 0 when missing
    // SHA-1 of the files that define the track for a race: "terrain.hf",
    // "terrain.png", "texturelist", "tilemap", "tileinfo", "timing_gates",
    // "statues", then each distinct texture file the statues and start gate
    // pieces name, each as the data file layer delivers it (decompressed),
    // when it exists. Billboards, flaggers, decals, lighting and cameras do
    // not count.
    uint8_t digest[TRACK_DIGEST_SIZE] = {};
    // Objects made before the track's "billboards" and "statues" were read
    // (start gate pieces, particles, flaggers): the editor keeps them fixed.
    int fixed_sprites = 0;
    int fixed_statues = 0;
    bool editor_active = false;  // editor_begin ran for this track
};

// What the layers above add to a track load (left empty headless).
struct track_hooks {
    // Sets up the terrain's textures for the configured rendering method,
    // after the ground, surfaces and tile map are read, with the track's
    // lighting (read before the ground); false fails the load.
    bool (*terrain_setup)(void* context, heightfield* hf, const lighting* light) = nullptr;
    // Bytes of texture memory in use (for the verbose log lines).
    unsigned long (*texture_memory)(void* context) = nullptr;
    // A new track is about to load (the previous one is gone): pictures and
    // models asked for from now on belong to the new generation.
    void (*new_generation)(void* context) = nullptr;
    // The new track and its bikes are loaded: what only earlier tracks used
    // can be released.
    void (*release_unused)(void* context) = nullptr;
    // The editor's own set-up and teardown (only with "--editor").
    void (*editor_begin)(void* context) = nullptr;
    void (*editor_end)(void* context) = nullptr;
    // What the renderer offers the statues and decals.
    object_options objects;
    void* context = nullptr;  // given back to every call
};
extern track_hooks g_track_hooks;

// How a load runs: the log level (0, 1 "--debug", 2) and whether the
// editor is enabled (the game passes its command-line options).
struct track_load_flags {
    int verbose = 0;
    bool editor = false;
};

// Loads the track whose display name (in g_track_list) or directory is
// name into t, unloading the track loaded before. Missing optional
// files are skipped; a ground that cannot be loaded reports the terrain
// loader's messages, leaves no track loaded and returns false.
bool track_load(track* t, const char* name, const track_load_flags& flags);
// Makes t a track of the ground hf alone (hf is taken over and left empty):
// no objects, gates, lighting or directory, but the roost particles.
void track_take_ground(track* t, heightfield* hf);
// Frees everything of the loaded track; logs "Deallocating track\n" and
// "Finished deallocating track\n". Safe when none is loaded.
void track_unload(track* t);

// ---- the loading screen -----------------------------------------------------------
// Every loader reports its progress through these; the screen is drawn by
// show_status (the status service), nothing headless.

// Shows text now (kept cut to LOADING_TEXT_MAX characters).
void loading_status(const char* text);
// Shows text, logs "%s\n" and restarts the spinner.
void loading_begin(const char* text);
// At most every 0.125 s: shows "%.64s" text followed by 0 to 3 dots, one
// more each time, cycling.
void loading_tick(const char* text);
// Shows "%.64s...done".
void loading_done(const char* text);
// The status text kept last.
const char* loading_text();
// Test support: forget the spinner and the last update time.
void loading_reset_for_tests();
