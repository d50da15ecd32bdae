// The ground of a generated track: terrain heights synthesised from a
// circuit description, the surfaces of the tile map, the tile pictures with
// their "tileinfo", and the lighting maps baked from the track's "lighting".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "mkdata.h"
#include "sky.h"
#include "track/heightfield.h"
#include "track_design.h"

namespace mkdata {

struct track_ground {
    int grid_log2 = 0;
    int sample_count = 0;  // 2^(grid_log2 + 1) + 1 samples per side
    int cells = 0;         // 2^grid_log2 tile-map cells per side
    double spacing = 0;    // ft between samples
    // Heights in ft, row-major: sample (col, row) at col + row * sample_count.
    std::vector<float> heights;
    // How much of each sample is graded ribbon (1 on the ribbon, falling to
    // 0 across the shoulder): the preview tints by it.
    std::vector<uint8_t> ribbon;
    // Ground kind at every tile-map cell corner: (cells + 1)^2, row-major;
    // corner (i, j) stands on sample (2i, 2j).
    std::vector<uint8_t> corners;
    float height_min = 0, height_max = 0;
    // The whole feet that bracket the terrain: the header range of
    // "terrain.hf". The heights above are already the values that the
    // file's 16-bit samples decode to, so everything baked from them
    // matches what the game loads.
    double file_h0 = 0, file_h1 = 0;
};

// Synthesises the terrain of a design: the land with natural noise (quieter
// near the track), the ribbon graded to its design heights and blended into
// the land over the shoulder, the chute levelled; and the ground kind of
// every tile-map corner. Deterministic.
void synthesize_ground(const track_design& d, track_ground* g);

// A height field record over the ground's heights and file range (no
// surfaces): what "terrain.hf" loads as. Free with heightfield_free.
bool ground_heightfield(const track_ground& g, heightfield* hf);

// Writes "terrain.hf" and "terrain.png" (16-bit grey) into dir.
bool write_terrain(output& out, const std::string& dir, const track_ground& g);

// --- Tiles ------------------------------------------------------------------

// The surfaces of a track, in "tileinfo" order: the four plain grounds
// first (so the editor's tile slider covers them), their alternative
// pictures, then the transition tiles.
struct tile_surface {
    std::string picture;  // file name inside the track directory
    int primary = 0;      // ground kind
    int secondary = -1;   // ground kind of the set corners, -1 for a plain tile
    int mask = 0;         // corner bits: 8 top left, 4 top right, 2 bottom left, 1 bottom right
    bool alternative = false;
};

struct tile_set {
    std::vector<tile_surface> surfaces;
    // Index of the surface with these corners, or -1 when the set has none.
    int find(int primary, int secondary, int mask) const;
};

// The tile set every generated track uses.
const tile_set& standard_tiles();

// Writes the tile pictures and "tileinfo" into dir ("rabbithill/").
bool write_tiles(output& out, const std::string& dir, const tile_set& tiles);

// The "tilemap" bytes (cells^2): each cell the tile whose corners match
// the ground at its four corners (a plain tile, an alternative picture in
// patches, or a transition tile).
std::vector<uint8_t> build_tilemap(const track_ground& g, const tile_set& tiles, unsigned seed);

// --- Lighting ---------------------------------------------------------------

struct track_light {
    double sun[3];      // toward the sun (normalised when written)
    double sun_color[3];
    double ambient[3];
    // Per-pixel terrain lighting allowed: the renderer then lights the
    // ground from the terrain normal map it builds from the heights and
    // "shadows.pgm" at load, and the decals' "_tnorm"/"_tspec" pictures.
    // Drawing only; the simulation never reads it.
    bool dynamic = false;
    // The sky drawn round the track (its haze is also the fog colour).
    // Without own_sky the track shows the shared default sky, which is
    // drawn for the default track's sun; a track whose sun stands
    // elsewhere needs its own, or the flare would point at empty sky.
    sky_look sky = daylight_sky();
    bool own_sky = false;
};

// The unit vector toward the light's sun.
void light_sun(const track_light& light, double sun[3]);

// The "lighting" file of a track in directory dir ("stadium/"): the sun,
// the light, fog the colour of the sky's haze, the track's own sky faces
// when it has them, and the sun's lens flare.
std::string lighting_text(const track_light& light, const std::string& dir);

// The light as the game holds it after reading lighting_text (the printed
// values, the sun vector normalised).
terrain_light loaded_light(const track_light& light);

// Bakes the shadows (cast toward the sun) and the shading with the terrain
// lighting rule into hf's maps.
void bake_lighting(heightfield* hf, const track_light& light);

// Writes "lighting", "shadingx2.ppm" and "shadows.pgm" for the ground, and
// the track's own sky pictures when it has them.
bool write_lighting(output& out, const std::string& dir, const track_ground& g, const track_light& light);

// --- Preview ------------------------------------------------------------------

// Writes a top view of a ground as an RGB PNG of one pixel per sample: the
// baked shading (half intensity, as "shadingx2.ppm" stores it), each cell
// tinted by the ground its tile shows (tilemap indexes tiles.surfaces), and
// the design's checkpoints, finish line, start gate and features marked.
bool write_ground_preview(const std::string& png_path, const track_design& d, const uint8_t* shading,
                          int sample_count, const uint8_t* tilemap, const tile_set& tiles);

// --- Tracks -----------------------------------------------------------------

// The generated tracks: a design and its light.
struct generated_track {
    const track_design* design;
    track_light light;
};
// Every generated track; the first is the default one.
const std::vector<generated_track>& generated_tracks();

// Writes a track's ground into out: "desc", "terrain.hf", "terrain.png",
// "lighting", "shadingx2.ppm", "shadows.pgm", the tile pictures,
// "tileinfo" and "tilemap".
bool write_track_ground(output& out, const generated_track& t);

}  // namespace mkdata
