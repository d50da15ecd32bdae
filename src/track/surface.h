// The surface table and the tile map: up to 256 kinds of ground (a texture,
// tyre friction and rolling-resistance curves, up to four kinds of roost,
// and how wheels dig ruts into it), read from a track's "tileinfo" (or the
// older "texturelist"), and the "tilemap" that paints one surface on every
// cell of 2 x 2 grid quads. The table and the map live in the heightfield.
//
// Text formats, as read here and written by tileinfo_write:
//
//   "tileinfo": one "keyword value" per line; keys fill a pending surface
//   and "addtile" appends it. Keys: texture NAME, friction COEF SLIP,
//   roll_resist SHALLOW DEEP SPEED, roost PARAM..., every scalar erode key
//   ("erode_depth 1.5"), erode_limit DEPTH DIG INNER. Roost parameters are
//   name=value tokens ("count=10", "fade_a=-256", "\"texture=@my roost.png\"").
//
//   "texturelist": one surface per line, "COEF SHALLOW DEEP NAME" or NAME.
//
//   "tilemap": 2^n x 2^n bytes, row-major (row = z cell), one surface index
//   per cell, no header.
#pragma once

#include <cstdint>

#include "files/stream.h"
#include "track/heightfield.h"

enum {
    SURFACE_POINTS = 8,   // friction and rolling-resistance points
    ROOST_TYPES = 4,
    ERODE_LIMITS = 8,
    ERODE_SCALARS = 16,   // erode_params indices 0..15
};

struct friction_point {
    float coefficient;  // >= 0
    float slip_speed;   // feet per second; 0 ends the list
};

struct roll_resist_point {
    float shallow;  // >= 0, a wheel barely touching
    float deep;     // >= 0, a wheel sunk in
    float speed;    // feet per second; 0 ends the list
};

// One kind of spray thrown by a wheel on this ground.
struct roost_type {
    int mode = 0;                 // 0 unused (ends the list), 1 roost, 2 splash
    unsigned texture = 0;         // particle sprite ("@roost.png" unless given)
    float count = 10.0f;          // particles per wheel per tick (fraction = chance)
    float dig = 1.0f;
    float slip_threshold = 4.0f;  // feet per second
    float slow_angle = 1.5707964f;   // pi / 2
    float fast_angle = 0.19634955f;  // pi / 16
    float slow_speed = 0.0f;
    float fast_speed = 64.0f;
    float size = 0.25f;           // feet
    float grow = 4.0f;            // feet per second
    float drag = 0.5f;            // per second
    float vscale = 1.0f;
    float randomize = 15.0f;      // feet per second
    uint8_t colour[4] = {255, 255, 255, 255};
    int8_t fade[4] = {0, 0, 0, -2};  // change per simulation tick
};

// How wheels dig into the ground. Indices 0..15 are the scalar file keys;
// the limit rows map rut depth (below the loaded ground) to dig scales.
struct erode_params {
    float erode_depth = 1.0f;
    float erode_lower = 50.0f;
    float erode_upper = 150.0f;
    float erode_displacement = 2.0f;
    float erode_radius = 4.0f;
    float erode_inner_depth = 0.125f;
    float erode_inner_radius = 2.0f;
    float erode_min_slope = -0.5f;
    float erode_max_slope = 0.5f;
    float erode_off_speed = 10.0f;
    float erode_on_speed = 15.0f;
    float erode_slip_lower = 0.0f;
    float erode_slip_upper = 5.0f;
    float erode_slip_base_scale = 1.0f;
    float erode_slip_scale = 1.5f;
    float erode_downhill_scale = 0.0f;
    float limit_depth[ERODE_LIMITS] = {0.0f, 1.0f};
    float limit_dig[ERODE_LIMITS] = {1.0f, 0.0f};
    float limit_inner_dig[ERODE_LIMITS] = {1.0f, 0.0f};
    int limit_count = 2;
};

// The file key of scalar erode value i (0..15) and its member.
extern const char* const erode_scalar_names[ERODE_SCALARS];
extern float erode_params::* const erode_scalar_members[ERODE_SCALARS];

struct surface_type {
    unsigned texture = 0;  // ground tile texture, 0 when none
    // Software terrain texturing keeps the tile picture instead (RGB, owned).
    uint8_t* texture_pixels = nullptr;
    int texture_width = 0;
    int texture_height = 0;
    friction_point friction[SURFACE_POINTS] = {{1.0f, 1.0f}, {1.0f, 0.0f}, {1.0f, 0.0f}, {1.0f, 0.0f},
                                               {1.0f, 0.0f}, {1.0f, 0.0f}, {1.0f, 0.0f}, {1.0f, 0.0f}};
    roll_resist_point roll_resist[SURFACE_POINTS] = {
        {5.0f, 15.0f, 1.0f}, {5.0f, 15.0f, 0.0f}, {5.0f, 15.0f, 0.0f}, {5.0f, 15.0f, 0.0f},
        {5.0f, 15.0f, 0.0f}, {5.0f, 15.0f, 0.0f}, {5.0f, 15.0f, 0.0f}, {5.0f, 15.0f, 0.0f}};
    roost_type roost[ROOST_TYPES];
    erode_params erode;
    int tile_code = 0;
    char* name_key = nullptr;  // only while the table loads (owned)
};

// ---- loading (track load order: terrain, surfaces, tile map) -------------

// Reads dir + "/tileinfo", or when it does not exist dir + "/texturelist".
// Fails only when neither opens ("Can't open '%.950s'" naming the
// texturelist) or "tileinfo" cannot be read ("Error reading tileinfo");
// warnings about single lines are reported and loading goes on. Replaces
// any table the record held. A file that defines no surface leaves one
// surface of defaults, so every tile-map index names a surface.
bool load_surface_table(heightfield* hf, const char* dir);
// Reads dir + "/tilemap" (after the surface table): "Can't open '%.950s'"
// and false when missing. Indexes above surface_count - 1 are clamped; a
// short file leaves the remaining cells at surface 0.
bool load_tilemap(heightfield* hf, const char* dir);
// heightfield_load, load_surface_table and load_tilemap in order; on any
// failure the whole record is freed.
bool heightfield_load_ground(heightfield* hf, const char* dir, int verbose);

// Stream forms of the parsers (the loaders above and the fuzz targets).
// They need only grid_log2 of the record for the tile map.
void surface_table_read_tileinfo(heightfield* hf, data_stream* s);
void surface_table_read_texturelist(heightfield* hf, data_stream* s);
void tilemap_read(heightfield* hf, data_stream* s);

// Frees the surfaces (their kept pictures and keys) and the tile map.
void surface_table_free(heightfield* hf);

// ---- queries ------------------------------------------------------------------

// Index of the surface under (x, z): the tile-map cell
// (x * 0.5 / spacing, z * 0.5 / spacing), each clamped to the map.
int heightfield_surface_at(const heightfield* hf, float x, float z);

// ---- tile codes -------------------------------------------------------------
// code = (primary << 16) | (secondary << 8) | corner mask. Corner bit 8 is
// the top-left corner (smaller x and z), 4 top right, 2 bottom left,
// 1 bottom right; a set bit names the secondary surface.

inline int tile_code_primary(int code) { return (code >> 16) & 0xff; }
inline int tile_code_secondary(int code) { return (code >> 8) & 0xff; }
inline int tile_code_mask(int code) { return code & 0xff; }

// Name key of a texture name: the part from the last "/" (kept) of the name
// without its leading "@", or that whole name. Returns a pointer into name.
const char* surface_name_key(const char* name);
// Tile code of the surface at index own whose key is key, against the keys
// of every surface (null entries for surfaces without a texture).
int surface_tile_code(const char* key, int own, const char* const* keys, int count);

// ---- writing (data generator, editor) -----------------------------------

struct roost_entry {
    roost_type params;                  // mode 2 writes "splash=1"; texture ignored
    const char* texture_name = nullptr; // null: the default sprite
};

// One surface as "tileinfo" describes it.
struct tileinfo_entry {
    const char* texture_name = nullptr;  // null: no texture line
    int friction_count = 0;
    friction_point friction[SURFACE_POINTS] = {};
    int roll_resist_count = 0;
    roll_resist_point roll_resist[SURFACE_POINTS] = {};
    int roost_count = 0;
    roost_entry roost[ROOST_TYPES];
    erode_params erode;  // scalars that differ from the defaults are written;
                         // limit rows unless they are the default table
};

// Formats the entries as "tileinfo" text (numbers with "%.9g" so they read
// back exactly); false when an entry cannot be written (a count out of
// range, a name holding a line break or a double quote).
bool tileinfo_encode(const tileinfo_entry* entries, int count, picture_bytes* out);
bool tileinfo_write(const char* dir, const tileinfo_entry* entries, int count);
// Writes the 2^n x 2^n cells as dir + "/tilemap".
bool tilemap_write(const char* dir, const uint8_t* cells, int grid_log2);
