// Track objects: billboards (camera-facing pictures), statues (models with
// optional collision spheres), flaggers (billboards that react to the race)
// and decals (pictures painted onto the ground), each read from its own text
// file in the track directory; their placement on the ground, the 8 x 8 bins
// that find statues and decals near a point and the flagger rules (a
// bike's contacts with the statues are the bike's, bike/contact.h).
// Drawing belongs to the renderer, which reads these records.
//
// Coordinates are world feet; an object's y is the terrain height under it
// plus its own offset. Every list is a growable array (initial capacity 16,
// doubled when full) allocated through the mem_* wrappers; running out of
// memory ends the program. Lists keep file order; bins keep each cell's
// indices ascending, so every walk over them is deterministic.
//
// Textures and models are handles of the renderer's caches (0 = none; every
// load answers 0 headless) and are never released here. Shapes are private
// copies owned by their statue.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/vec3.h"

struct heightfield;
struct shape;
struct bike;
struct data_stream;

enum {
    OBJECT_BINS = 8,          // bins per side over the terrain
    OBJECT_NAME_MAX = 1023,   // longest name a track object file may give
    FLAGGER_GATE_COUNT = 256, // checkpoint numbers a course flagger may watch
};

// Called between the entries of a long load so the loading screen can move
// (the track loader passes its loading_tick); may be null.
typedef void (*load_progress)(const char* text);

// What the renderer offers, decided by the caller at load time.
struct object_options {
    bool shaders = false;         // statues look up normal and specular maps
    bool terrain_shader = false;  // decals look up "_tnorm" / "_tspec" maps
};

// ---- sprites ------------------------------------------------------------------

// One camera-facing picture, shared by billboards, flaggers and the roost
// particles. y is absolute: the bottom edge of the picture.
struct sprite {
    float x = 0, y = 0, z = 0;
    float size = 1;        // height in feet
    float y_offset = 0;    // above the ground
    float aspect = 1;      // width / height
    uint32_t sort_key = 0; // the renderer's per-frame depth key
    unsigned texture = 0;
    uint8_t colour[4] = {255, 255, 255, 255};
};

struct sprite_list {
    sprite* items = nullptr;
    int count = 0;
    int capacity = 0;
};

// Appends a sprite with the given values and the default colour; returns its
// index.
int sprite_add(sprite_list* list, float x, float y, float z, float size, float aspect, unsigned texture);

// ---- index lists and bins --------------------------------------------------------

struct index_list {
    int* items = nullptr;
    int count = 0;
    int capacity = 0;
};

// 8 x 8 lists of object indices; cells[i][j] covers the i-th strip along x
// and the j-th along z.
struct object_bins {
    index_list cells[OBJECT_BINS][OBJECT_BINS];
};

void object_bins_clear(object_bins* bins);  // empties every cell, keeps memory
void object_bins_free(object_bins* bins);

// ---- billboards -------------------------------------------------------------------

struct billboard {
    int sprite_index = -1;        // into the sprite list
    char* texture_name = nullptr; // owned; the name without the colour prefix
};

struct billboard_list {
    billboard* items = nullptr;
    int count = 0;
    int capacity = 0;
};

// Splits a billboard texture name: "#RRGGBB#name" (exactly six hexadecimal
// digits between the two "#") gives the colour (alpha 255) and returns a
// pointer to "name"; anything else returns the whole text and leaves colour
// white. rgba receives 4 bytes.
const char* billboard_split_name(const char* text, uint8_t rgba[4]);

// ---- statues ----------------------------------------------------------------------

// Angles at or above this turn the statue toward the camera; at or below
// statue_heading_only it keeps its heading without tilting to the ground.
constexpr float statue_facing_angle = 3.25f;
constexpr float statue_heading_only = -6.2831855f;

struct statue {
    unsigned model = 0;
    struct shape* shape = nullptr;  // private copy, or null
    unsigned texture = 0;
    unsigned normal_texture = 0;  // looked up only with shaders
    unsigned spec_texture = 0;
    float x = 0, y = 0, z = 0;
    float y_offset = 0;
    float angle = 0;
    // Rows are the statue's own axes in world coordinates: rotation[0] its
    // side (x), rotation[1] its up (y), rotation[2] its forward (z).
    float rotation[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    // 2^angle for a camera-facing statue, else 0.
    float facing_distance = 0;
    // Tick of the last touch by a bike (the start gate drop reads it); -1 none.
    int touch_tick = -1;
    // Owned names as given; null for "null" (none).
    char* model_name = nullptr;
    char* texture_name = nullptr;
    char* shape_name = nullptr;
};

struct statue_list {
    statue* items = nullptr;
    int count = 0;
    int capacity = 0;
};

// The rotation for an angle at a place (heading, heading without tilt, or
// identity for a camera-facing angle) and the matching facing distance.
void statue_orientation(const heightfield* hf, float x, float z, float angle, float rotation[3][3],
                        float* facing_distance);

// The normal-map (suffix "_norm") or specular-map (suffix "_spec") texture
// names tried for a statue, in order: from the texture name ("x-repeat.png"
// gives "x_norm-repeat.seq", ".png", ".ppm"; "x.png" gives "x_norm.seq",
// ".png", ".ppm"), then from the model name with its extension replaced.
// Either name may be null. Writes up to 6 names of size bytes each into out
// (rows of `size` bytes); returns how many.
int statue_map_candidates(const char* texture_name, const char* model_name, const char* suffix, char* out,
                          size_t size);

// Turns a camera-facing statue toward the eye while the eye is far:
// (facing_distance - lod_bias)^2 < (distance * lod_scale)^2. Nearer, or with
// the eye straight above, it keeps the heading it had last. Other statues
// are left alone.
void statue_face_camera(statue* s, vec3 eye, float lod_scale, float lod_bias);

// The statue's rotation in the physics engine's 3 x 4 row-major layout
// (world = R * local), the identity for a camera-facing statue, as the
// contacts use it.
void statue_physics_rotation(const statue* s, double out[12]);

// ---- flaggers ----------------------------------------------------------------------

struct start_flagger {
    int sprite_index = -1;
    unsigned textures[5] = {};  // t0..t4
    float a[3] = {};            // x, y offset, z
    float b[3] = {};
    float walk = 1.0f;          // seconds from A to B
};

struct finish_flagger {
    int sprite_index = -1;
    unsigned textures[4] = {};  // t0..t3
};

struct course_flagger {
    int sprite_index = -1;
    unsigned normal_texture = 0;
    unsigned alert_texture = 0;
    int gates[4] = {-1, -1, -1, -1};  // checkpoint numbers, -1 none
};

struct flagger_set {
    bool has_start = false;
    bool has_finish = false;
    start_flagger start;
    finish_flagger finish;
    course_flagger* course = nullptr;
    int course_count = 0;
    int course_capacity = 0;
};

// Which of t0..t4 the start flagger shows at race clock t (seconds), with s
// the start time rounded down to whole seconds and D the walk duration.
int start_flagger_stage(double t, double start_seconds, float walk);
// How far along A..B the start flagger is (0..1).
float start_flagger_fraction(double t, double start_seconds, float walk);
// Which of t0..t3 the finish flagger shows: 3 when the leader's lap
// leader_lap >= race_laps, 2 on the last lap, 1 on half_laps, else 0.
int finish_flagger_stage(int leader_lap, int race_laps, int half_laps);

// One rider as the course flaggers see it.
struct flagger_rider {
    int last_gate = -1;         // checkpoint number of the gate passed last, -1 none
    bool slow_or_down = false;
    bool finished = false;
    bool stale = false;         // a remote rider not heard from for 1 s or more
};
// Marks (1) the checkpoints last passed by riders that are slow or down,
// have not finished and are not stale; clears the rest.
void flagger_gate_marks(const flagger_rider* riders, int count, uint8_t marked[FLAGGER_GATE_COUNT]);

// ---- decals ----------------------------------------------------------------------

struct decal {
    unsigned texture = 0;
    unsigned normal_texture = 0;
    unsigned spec_texture = 0;
    // Software terrain texturing: the picture in memory (RGBA, owned).
    uint8_t* pixels = nullptr;
    int picture_width = 0;
    int picture_height = 0;
    float x = 0, z = 0;
    float angle = 0;  // radians
    float size = 1;   // feet along t
    float aspect = 1; // s / t
    float sin_angle = 0, cos_angle = 1;
    char* texture_name = nullptr;  // owned
};

// Lives in heightfield::decals.
struct decal_set {
    decal* items = nullptr;
    int count = 0;
    int capacity = 0;
    object_bins bins;
};

// Bounding half-extents of a decal along x and z.
void decal_half_extents(const decal* d, float* hx, float* hz);
// The bins a decal enters: i0..i1 along x, j0..j1 along z.
void decal_bin_range(const heightfield* hf, const decal* d, int* i0, int* i1, int* j0, int* j1);

// Told about every area of the ground whose decals change, so the terrain
// renderer can recompose its textures there. Empty headless.
struct decal_hooks {
    void (*mark_dirty)(void* context, heightfield* hf, float x0, float z0, float x1, float z1) = nullptr;
    void* context = nullptr;
};
extern decal_hooks g_decal_hooks;

// Inserts d (the set takes its names and picture) at index (clamped to
// 0..count), fills its sine and cosine, moves the bin indices at or above
// index up by one and enters it into the bins. Creates the set when the
// height field has none. Returns the index.
int decal_insert(heightfield* hf, int index, const decal* d);
// Moves and turns a decal (leaving and re-entering the bins).
void decal_move(heightfield* hf, int index, float x, float z, float angle);
// Removes a decal; the indices above it move down by one in every bin.
void decal_remove(heightfield* hf, int index);
// Frees the set (names, pictures, bins) and clears hf->decals.
void decals_free(heightfield* hf);

// ---- the objects of a loaded track ---------------------------------------------------

struct track_objects {
    sprite_list sprites;
    billboard_list billboards;
    statue_list statues;
    object_bins statue_bins;
    flagger_set flaggers;
    index_list near;  // scratch for statues_near
};

// Frees every list (statue shape copies included) and empties the record.
void track_objects_free(track_objects* objects);

// ---- loading (the order of a track load is the loader's) --------------------------
// dir is the track directory as a data name ("@rabbithill") or a plain path;
// each file is dir + "/" + its name. Each returns false when the file does
// not exist (no objects of that kind; nothing reported). An entry that fails
// to scan, or holds a number beyond the float range, ends the file; the
// entries before it stay.

// "billboards": "[ x yoff z ] size aspect name" per entry.
bool billboards_load(track_objects* objects, const heightfield* hf, const char* dir, load_progress tick);
int billboards_read(track_objects* objects, const heightfield* hf, data_stream* s, load_progress tick);
// One billboard as the file and the editor make it; returns its index.
int billboard_add(track_objects* objects, const heightfield* hf, float x, float y_offset, float z, float size,
                  float aspect, const char* name);
// Removes billboard index and its sprite (the track editor): the sprite
// list closes up, and every billboard, flagger and the particle range
// (particle_first, may be null) that pointed above the sprite moves down by
// one. Out of range is ignored.
void billboard_remove(track_objects* objects, int index, int* particle_first);

// "statues": "[ x yoff z ] angle model texture shape" per entry ("null" for
// none). A shape named but not found: "Warning: missing shape file %.900s".
bool statues_load(track_objects* objects, const heightfield* hf, const char* dir, const object_options* options,
                  load_progress tick);
int statues_read(track_objects* objects, const heightfield* hf, data_stream* s, const object_options* options,
                 load_progress tick);
// One statue (also the start gate pieces); names may be null or "null".
// Returns its index.
int statue_add(track_objects* objects, const heightfield* hf, float x, float y_offset, float z, float angle,
               const char* model_name, const char* texture_name, const char* shape_name,
               const object_options* options);
// Removes statue index (its shape copy and names freed); the statues
// above it move down by one. The bins are the caller's to rebuild.
void statue_remove(track_objects* objects, int index);
// Places a statue again at its x and z: y from the ground and its offset,
// the rotation and facing distance from its angle there.
void statue_place(statue* s, const heightfield* hf);

// "flaggers": the start flagger, then the finish flagger, then course
// flaggers, each part needed for the next. gate_count is the number of
// checkpoints; course flagger gates are clamped to -1..gate_count - 1.
bool flaggers_load(track_objects* objects, const heightfield* hf, const char* dir, int gate_count);
void flaggers_read(track_objects* objects, const heightfield* hf, data_stream* s, int gate_count);

// "decals" (read with the terrain): "[ x z ] angle size aspect name" per
// entry into hf->decals (created when missing). A decal with neither texture
// nor picture is dropped. Installs the height field's decal hook so
// heightfield_free releases them.
bool decals_load(heightfield* hf, const char* dir, const object_options* options);
int decals_read(heightfield* hf, data_stream* s, const object_options* options);

// Recomputes every object's y from the ground (after the terrain changed).
void objects_place_on_ground(track_objects* objects, const heightfield* hf);

// ---- bins and contacts ----------------------------------------------------------------

// The bin a coordinate falls in for statues: the bins split the central
// three quarters of the terrain, the outer bins reaching to the edges.
int statue_bin(float v, float extent);
// Rebuilds the statue bins: every statue with a shape enters the bins its
// bounding square (shape radius) overlaps.
void statue_bins_build(track_objects* objects, const heightfield* hf);
// The statues listed in the bins that the square of +-reach around (x, z)
// overlaps, each once, ascending, into objects->near; returns the count.
int statues_near(track_objects* objects, const heightfield* hf, float x, float z, float reach);
// The same into a list of the caller's, leaving the objects untouched (the
// contact search of several bikes at once).
void statues_near_into(const track_objects* objects, const heightfield* hf, float x, float z, float reach,
                       std::vector<int>* out);

// ---- flaggers each frame ----------------------------------------------------------------
// Each returns true when the flagger's texture changed (the renderer then
// restarts the animation of the start and finish flaggers).

// t: race clock in seconds; start_seconds: the start tick in seconds.
bool start_flagger_update(track_objects* objects, const heightfield* hf, double t, double start_seconds);
bool finish_flagger_update(track_objects* objects, int leader_lap, int race_laps, int half_laps);
bool course_flaggers_update(track_objects* objects, const uint8_t marked[FLAGGER_GATE_COUNT]);

// ---- writing (the track editor) ------------------------------------------------------------
// Each writes dir + "/" + its file from the given first entry on (objects
// made before the files were read, such as the start gate pieces, are
// skipped by passing their count). A file that cannot be written gives
// "Can't open 'billboards'\n" (or 'statues', 'decals') and false.

bool billboards_write(const track_objects* objects, const char* dir, int first);
bool statues_write(const track_objects* objects, const char* dir, int first);
bool decals_write(const heightfield* hf, const char* dir);
