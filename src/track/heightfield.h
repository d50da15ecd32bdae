// The terrain height field: a square grid of height samples with a fixed
// spacing, the per-sample lighting maps that ride on the same grid, and the
// queries the rest of the program asks of the ground (height, triangle
// normal, sample normal) plus the writing of one sample.
//
// Coordinates are world units (feet): x and z horizontal, y up. Sample
// (col, row) stands at x = col * spacing, z = row * spacing. Arrays over the
// grid are flat and row-major: sample (col, row) is element
// col + row * sample_count.
//
// Every query reads samples through clamped access (col and row clamped to
// the grid), so outside the square the terrain continues its edge samples.
// Queries are single precision, allocate nothing and give the same bits for
// the same inputs: the wheel contact, erosion and the robots all rely on the
// same triangles.
//
// Cell (i, j) is the square between samples i, i + 1 (x) and rows j, j + 1
// (z). When i + j is even its diagonal joins (i, j) and (i + 1, j + 1),
// otherwise (i + 1, j) and (i, j + 1).
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/vec3.h"

struct surface_type;           // track/surface.h
struct terrain_render_state;   // owned by the terrain renderer
struct decal_set;              // owned by the track objects
struct picture_bytes;          // render/picture.h

// Accepted grid sizes. Loading needs at least 6 (the terrain texture tiles
// are 128 samples wide); 11 (4097 samples a side, about 200 MB of maps) is
// the largest grid any file may ask for.
enum {
    HEIGHTFIELD_MIN_LOAD_LOG2 = 6,
    HEIGHTFIELD_MAX_LOG2 = 11,
    SURFACE_MAX = 256,
};

struct heightfield {
    // ---- grid ("terrain.hf") ----
    int grid_log2 = 0;        // n of the file header
    int sample_count = 0;     // 2^(n+1) + 1 samples per side
    float spacing = 0.0f;     // feet between neighbouring samples
    float tile_size = 0.0f;   // 2 * spacing: one tile-map cell
    float extent = 0.0f;      // spacing * (sample_count - 1)
    float inv_spacing = 0.0f; // 1 / spacing, as the queries scale positions
    float cell_scale = 0.0f;  // 0.5 / spacing, as the tile-map lookup scales
    float height_min = 0.0f;  // widened by every heightfield_set_height
    float height_max = 0.0f;
    float* heights = nullptr;         // sample_count^2, current heights
    float* loaded_heights = nullptr;  // copy taken right after loading
    uint8_t sample_digest[20] = {};   // SHA-1 of the 16-bit samples as loaded

    // ---- lighting maps ----
    // RGB per sample at half intensity (0..127 means 0..254).
    uint8_t* shading_map = nullptr;
    // Inverted "shadows.pgm": 0 fully lit, 255 fully shadowed.
    uint8_t* shadow_map = nullptr;
    // Only with the terrain shader: (128 + t(nx), 255 - shadow, 128 + t(nz)).
    uint8_t* terrain_normal_map = nullptr;
    // Bit k of byte k / 8 for sample index k: lighting to recompute.
    uint8_t* shading_dirty = nullptr;
    uint8_t* normal_dirty = nullptr;  // exists only with terrain_normal_map

    int modify_count = 0;    // one per erosion dig or pile
    int changed_marker = 0;  // set to 7 by every heightfield_set_height
    int frozen = 0;          // non-zero: heightfield_set_height does nothing

    // ---- surface table and tile map (track/surface.h) ----
    int surface_count = 0;              // 0..256
    surface_type* surfaces = nullptr;   // surface_count entries
    uint8_t* tilemap = nullptr;         // 2^n x 2^n cells, row = z cell

    // ---- owned by other modules, released through g_heightfield_hooks ----
    decal_set* decals = nullptr;
    terrain_render_state* render = nullptr;
};

// heightfield_free calls this (when set) before it releases its own arrays,
// so the renderer can delete its GL textures. Left empty by tools and tests.
struct heightfield_hooks {
    void (*free_render)(void* context, heightfield* hf) = nullptr;
    void* context = nullptr;
};
extern heightfield_hooks g_heightfield_hooks;

// ---- lifetime ---------------------------------------------------------------

// Builds a height field in memory: grid_log2 in 1..HEIGHTFIELD_MAX_LOG2,
// spacing finite and positive. heights (sample_count^2 values, row-major)
// may be null for a flat terrain at 0. Allocates the height arrays, zeroed
// lighting maps and dirty sets; no surfaces, no tile map. The range is
// taken from the heights. Returns false (record left empty) on a bad size.
// Whatever the record held before is freed first. Used by the data
// generator, the editor and the tests.
bool heightfield_create(heightfield* hf, int grid_log2, float spacing, const float* heights);

// Reads dir + "/terrain.hf" (with its "terrain.png" or raw samples), then
// the shading and shadow maps, where dir is the track directory as a data
// name ("@rabbithill") or a plain path. verbose 2 logs the samples' SHA-1.
// Reports the loader's messages; on failure the record is freed and false
// returned. Whatever the record held before is freed first.
bool heightfield_load(heightfield* hf, const char* dir, int verbose);

// Releases everything (through the hooks for render state and decals) and
// resets the record to its empty state. Safe on an empty record.
void heightfield_free(heightfield* hf);

// ---- queries ------------------------------------------------------------------

// Clamped sample access.
inline float heightfield_sample(const heightfield* hf, int col, int row)
{
    const int last = hf->sample_count - 1;
    col = col < 0 ? 0 : (col > last ? last : col);
    row = row < 0 ? 0 : (row > last ? last : row);
    return hf->heights[col + row * hf->sample_count];
}

// Height of the terrain triangle under (x, z).
float heightfield_height_at(const heightfield* hf, float x, float z);
// The same over loaded_heights (the ground before any erosion).
float heightfield_loaded_height_at(const heightfield* hf, float x, float z);
// The same triangles over another array of sample_count^2 heights (the
// editor's heights as of its last snapshot).
float heightfield_height_over(const heightfield* hf, const float* samples, float x, float z);
// Normal of the triangle under (x, z): not normalised (its length is twice
// the triangle's area in the x-z plane scale), y >= 0.
vec3 heightfield_face_normal_at(const heightfield* hf, float x, float z);
// Unit normal at a grid sample: the sum of the eight surrounding unit face
// normals, normalised. (0, 1, 0) on flat ground.
vec3 heightfield_vertex_normal(const heightfield* hf, int col, int row);

// The two triangles of cell (i, j) by the diagonal rule, three vertices each
// (x, clamped height, z; positions from the unclamped indices), ordered so
// that (v1 - v0) x (v2 - v0) points up.
void heightfield_cell_triangles(const heightfield* hf, int i, int j, vec3 out[6]);

// ---- writing ------------------------------------------------------------------

// Writes one sample: nothing when (col, row) is off the grid or while frozen.
// Otherwise sets changed_marker to 7, widens the height range, stores h and
// marks the samples of the 3 x 3 block around it in shading_dirty (and
// normal_dirty when present).
void heightfield_set_height(heightfield* hf, int col, int row, float h);

// Dirty set helpers (bit k of byte k / 8).
inline bool heightfield_dirty_bit(const uint8_t* set, int index)
{
    return (set[index >> 3] >> (index & 7)) & 1;
}
// Bytes of one dirty set for the record's grid.
size_t heightfield_dirty_bytes(const heightfield* hf);

// ---- lighting -------------------------------------------------------------------
// The rule that bakes "shadingx2.ppm" and that the editor's relighting uses,
// so rebuilt samples match the baked ones.

struct terrain_light {
    float sun_vector[3] = {0.57735026f, 0.57735026f, 0.57735026f};  // unit, towards the sun
    float sun_color[3] = {1.0f, 1.0f, 1.0f};
    float ambient[3] = {0.5f, 0.5f, 0.5f};
};

// Stored shading of one sample (half intensity): with n the vertex normal and
// s the stored shadow byte, light = clamp(dot(sun_vector, n), 0, 1) *
// (1 - s / 255) and channel c = clamp(trunc(255 * (sun_color[c] * light +
// ambient[c]) * 0.5), 0, 255). shadow_map may be null (no shadow).
void heightfield_light_sample(const heightfield* hf, int col, int row, const terrain_light* light,
                              uint8_t rgb[3]);
// Rewrites every shading_map entry with the rule.
void heightfield_relight_all(heightfield* hf, const terrain_light* light);
// Rewrites the shading_map entries whose shading_dirty bit is set, clearing
// the bits; returns how many were rewritten. When the normal map exists its
// dirty entries are rebuilt too.
int heightfield_relight_dirty(heightfield* hf, const terrain_light* light);

// Casts shadows toward the sun over the terrain: writes sample_count^2
// stored shadow bytes (0 lit, 255 shadowed; the inverse of "shadows.pgm").
// A sample is shadowed when the terrain between it and the sun rises above
// the line towards the sun; the edge fades over penumbra (the tangent of
// the angle, e.g. 0.05) so the baked map has no stair steps. A sun at or
// below the horizon shadows everything. out may be hf->shadow_map.
void heightfield_cast_shadows(const heightfield* hf, const float sun_vector[3], float penumbra,
                              uint8_t* out);

// The terrain shader's normal map: allocates terrain_normal_map and
// normal_dirty when missing and fills every sample with
// (128 + t(nx), 255 - shadow, 128 + t(nz)), t(c) = 127 c truncated and
// clamped to -127..127. Out of memory ends the program.
void heightfield_build_normal_map(heightfield* hf);
void heightfield_normal_map_sample(const heightfield* hf, int col, int row, uint8_t rgb[3]);

// ---- files written by the data generator and the editor ------------------
// dir is a track directory as a data name ("@mytrack", written into the home
// directory) or a plain path ("/some/data/mytrack"); folders are created.
// Each returns false when a file cannot be written.

// 16-bit value of height h against the range [h0, h1]:
// (h - h0) / (h1 - h0) * 65535 + 0.5 truncated, clamped to 0..65535
// (0 when the range is empty).
uint16_t terrain_quantise(float h, float h0, float h1);

// "terrain.hf": the header "%d %f %f %f\n" (grid_log2, spacing, the current
// height_min and height_max), then either ":" and the raw little-endian
// samples (raw_samples true), or nothing, with the samples in "terrain.png"
// as a 16-bit grey PNG. Samples are quantised against the header values as
// printed, so a reload gives back heights within one step of the original.
bool terrain_write(const heightfield* hf, const char* dir, bool raw_samples);
// The same into memory: hf_file receives "terrain.hf"; png_file receives
// "terrain.png" (left empty with raw_samples). Free with picture_bytes_free.
bool terrain_encode(const heightfield* hf, bool raw_samples, picture_bytes* hf_file,
                    picture_bytes* png_file);

// "shadingx2.ppm" (shading_map as stored) and "shadows.pgm" (255 - shadow_map).
bool terrain_write_lighting(const heightfield* hf, const char* dir);
bool terrain_encode_lighting(const heightfield* hf, picture_bytes* shading_file,
                             picture_bytes* shadows_file);
