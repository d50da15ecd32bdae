// The terrain renderer's state and the pieces its files share: the texture
// level blocks with their tiles, the lighting textures, the incremental
// error pyramid, the mesh choice with its fans, and the software
// composition of a tile. Only the files of the terrain renderer and its
// tests include this.
//
// Everything declared here except the functions marked "GL" works without a
// GL context, so the tests can check the mesh, the level blocks and the
// composition headless.
#pragma once

#include <cstdint>
#include <deque>
#include <utility>
#include <vector>

#include "render/terrain_render.h"
#include "track/heightfield.h"

struct decal;

namespace terrain_detail {

enum {
    BLOCK_SIDE = 4,           // tiles per side of a camera level block
    BLOCK_TILES = 16,
    CAMERA_LEVELS = 6,        // levels 0..5 follow the camera
    GRID_LEVEL = 6,           // the fixed level over the whole terrain
    GRID_TILE_SAMPLES = 128,  // samples per side of a level-6 tile
    LIGHT_STEP = 384,         // samples between lighting textures
    LIGHT_MARGIN = 64,        // samples a lighting texture reaches before its step
    LIGHT_MAX = 512,          // largest lighting texture side
};

// One texture tile: colour, and with the terrain shader its normal and
// specular textures. dirty: 0 clean, else the frame it became dirty; a
// level-6 tile not yet built holds -1.
struct tile {
    unsigned colour = 0;
    unsigned normal = 0;
    unsigned specular = 0;
    int tx = 0, tz = 0;  // the tile held (in tiles of its level)
    bool valid = false;
    bool failed = false;  // its build failed; not retried until it holds another tile
    int dirty = 0;
};

// A camera level: a 4 x 4 block of tiles starting at tile (bx, bz). Tile
// (tx, tz) of the block lives in slot (tx - bx) + 4 (tz - bz).
struct level_block {
    bool exists = false;
    int bx = 0, bz = 0;
    int tiles_per_side = 0;  // of the whole level: 2^(n - i)
    tile slots[BLOCK_TILES];
};

// A lighting texture: one texel per sample for samples col0.. and row0..
// (clamped to the grid), with the rectangle of samples changed since it was
// last built.
struct light_tile {
    unsigned texture = 0;
    int col0 = 0, row0 = 0;
    int width = 0, height = 0;
    bool dirty = false;
    int dirty_col0 = 0, dirty_row0 = 0, dirty_col1 = 0, dirty_row1 = 0;
};

// Where the incremental error computation stands.
struct pyramid_pass {
    bool active = false;
    int level = 0;
    int node = 0;         // index inside the level, z * 2^level + x
    int row = 0;          // next row of samples inside the node
    float err = 0;        // largest deviation found so far in the node
    int modify_count = 0; // of the heights the pass started on
};

// A vertex of the emitted mesh: world position and tile texture coordinate.
struct mesh_vertex {
    float x, y, z, s, t;
};

// Which texture tile a fan uses: level 0..5 with a block slot, or level 6
// with the grid index tz * side + tx.
struct tile_ref {
    int level = GRID_LEVEL;
    int index = 0;
    int col0 = 0, row0 = 0;  // first sample of the tile
    int samples = GRID_TILE_SAMPLES;
};

// One triangle fan: vertices [first, first + count) of the mesh, the first
// the node's centre, the last repeating the first rim vertex.
struct mesh_fan {
    tile_ref texture;
    int first = 0;
    int count = 0;
    int node_level = 0, node_x = 0, node_z = 0;
};

// A picture to compose from: a mip chain (render/picture.h layout) of
// 3 or 4 channels, sampled the way GL samples a texture made by
// texture_create (bilinear, nearest mip level, edge clamped or repeated).
struct picture_source {
    std::vector<unsigned char> chain;
    int width = 0, height = 0, channels = 0;
    int levels = 0;  // 1 for a single-level texture
    bool repeat_s = false, repeat_t = false;
    bool loaded = false;  // tried (an empty chain: nothing to draw)
};

}  // namespace terrain_detail

struct terrain_render_state {
    terrain_settings settings;
    int texturing = terrain_tex_sub_image;
    bool shader = false;  // lit per pixel with normal and specular tiles
    terrain_light light;

    int n = 0;             // grid_log2
    int samples = 0;       // sample_count
    int tile_texels = 0;
    int min_level = 0;     // finest camera level in use
    int max_level = -1;    // coarsest camera level in use (-1: none)

    terrain_detail::level_block levels[terrain_detail::CAMERA_LEVELS];
    int grid_side = 0;                       // level-6 tiles per side
    std::vector<terrain_detail::tile> grid;  // level 6, tz * grid_side + tx

    int light_side = 0;
    std::vector<terrain_detail::light_tile> light_tiles;  // j * light_side + i
    int light_next = 0;                                   // examined next

    int frame = 1;  // terrain_frame

    // Error pyramids: the one the mesh uses and the one being computed.
    std::vector<float> draw_errors, work_errors;
    bool have_draw_errors = false;
    int draw_modify_count = 0;
    terrain_detail::pyramid_pass pass;

    // Mesh choice of the current frame.
    std::vector<uint8_t> split;
    std::vector<int> split_list;  // nodes whose bit is set
    std::vector<terrain_detail::mesh_vertex> vertices;
    std::vector<terrain_detail::mesh_fan> fans;

    // GL objects and caches.
    unsigned framebuffer = 0;
    // Software composition reads pictures: the surfaces' (by index) and the
    // decals' (by texture name or picture address).
    std::vector<terrain_detail::picture_source> surface_pictures;
    // (A deque: the composition holds pointers while more are added.)
    std::deque<std::pair<uintptr_t, terrain_detail::picture_source>> decal_pictures;
    // GL methods draw with textures: those of the records, or uploaded here
    // from the pictures kept in memory (by picture address).
    std::vector<std::pair<uintptr_t, unsigned>> own_textures;

    // Counters for tests.
    int tiles_built = 0;
    int light_rebuilds = 0;
    int framebuffer_errors = 0;
    int cracks = 0;  // found by the last emit_mesh
};

namespace terrain_detail {

// ---- geometry of the grid -------------------------------------------------------

// Nodes of quadtree levels 0..L-1 come before level L.
inline int node_base(int level)
{
    return (int)((((int64_t)1 << (2 * level)) - 1) / 3);
}
inline int node_index(int level, int x, int z)
{
    return node_base(level) + (z << level) + x;
}
inline int node_count(int n)
{
    return node_base(n + 1);
}
// floor(a / b) for b > 0.
inline int floor_div(int a, int b)
{
    return a >= 0 ? a / b : -((-a + b - 1) / b);
}
// floor(v / spacing) as an int that stays far from overflow.
int sample_floor(float v, float spacing);

// Samples per side of a tile of level i (0..6).
inline int tile_samples(int level)
{
    return level >= GRID_LEVEL ? GRID_TILE_SAMPLES : 2 << level;
}

// The block origin of camera level i for the camera sample cam (one axis):
// clamp(((cam - 2^i) >> (i + 1)) - 1, 0, 2^(n - i) - 4).
int block_origin(int cam, int level, int n);

// Places the state's grid constants and empty levels for settings and the
// height field (no GL).
void levels_init(terrain_render_state* st, const heightfield* hf);
// Moves the blocks to the camera sample (cam_col, cam_row). Slot contents
// move with their tiles; slots whose tile left the block get a tile of
// the new block and lose their validity. Returns how many levels moved.
int levels_follow(terrain_render_state* st, int cam_col, int cam_row);
// The tile showing node samples [col0, col0 + size] x [row0, row0 + size]
// (a node never wider than a level-6 tile): the finest camera level from
// max(min_level, log2(size) - 1) up whose block holds it and whose tile is
// valid, else level 6.
tile_ref texture_for_node(const terrain_render_state* st, int col0, int row0, int size);
// The tile a reference names.
tile* tile_of(terrain_render_state* st, const tile_ref& ref);
// The reference of slot s of level i, or of level-6 tile index k.
tile_ref slot_ref(const terrain_render_state* st, int level, int slot);
tile_ref grid_ref(const terrain_render_state* st, int index);

// Lighting texture layout: per side ((2^(n+1)) / 128 + 2) / 3 textures;
// texture i starts at sample 384 i - 64 and is the smallest power of two at
// least 2^(n+1) - 384 i + 128 wide, at most 512.
int light_tiles_per_side(int n);
int light_tile_width(int n, int i);
// The lighting texture a tile starting at sample col0 (one axis) reads.
int light_tile_for(int col0, int side);

// Stamps (with the current frame, keeping an older stamp) the camera-level
// and level-6 tiles touching samples col0..col1 x row0..row1.
void stamp_tiles(terrain_render_state* st, int col0, int row0, int col1, int row1);
// The marking rule: with TexSubImage the tiles directly; otherwise the
// lighting textures holding the samples (which stamp the tiles once rebuilt).
void mark_dirty(terrain_render_state* st, int col0, int row0, int col1, int row1);

// What terrain_prepare_textures builds next: a level-6 tile never built,
// then the first tile not valid (levels 5 down to min_level, slots in
// order), then the tile with the smallest positive dirty stamp. False when
// nothing needs building.
bool next_tile_to_build(const terrain_render_state* st, tile_ref* out);

// ---- error pyramid ---------------------------------------------------------------

// Advances the working pass by budget units (negative: to the end). A pass
// starts when the drawing pyramid is missing or was computed for another
// modify_count; a finished pass becomes the drawing pyramid.
void pyramid_advance(terrain_render_state* st, const heightfield* hf, int budget);
// The own error term of a node and the value stored for it (tests).
float node_deviation(const heightfield* hf, int level, int x, int z);

// ---- mesh ---------------------------------------------------------------------------

// Clears and sets the split bits for a camera at (x, z).
void choose_mesh(terrain_render_state* st, const heightfield* hf, float eye_x, float eye_z);
inline bool node_split(const terrain_render_state* st, int level, int x, int z)
{
    return st->split[node_index(level, x, z)] != 0;
}
// Emits the fans back to front into st->fans and st->vertices, skipping
// nodes entirely behind the camera plane. Counts in st->cracks the unsplit
// nodes that border a node split two levels finer (logging "Found a crack!"
// once per run).
void emit_mesh(terrain_render_state* st, const heightfield* hf, vec3 eye, vec3 view_dir);
// Whether a crack was ever found (tests).
bool crack_found();

// ---- software composition ---------------------------------------------------------

// Samples a picture at texture coordinate (s, t) with GL's rules for a
// texture whose coordinates change by rho texels per output texel (the
// mip level) into rgba (0..255, alpha 255 for RGB).
void sample_picture(const picture_source& p, float s, float t, float rho, float rgba[4]);

// The inputs of one tile's picture.
struct compose_inputs {
    const heightfield* hf = nullptr;
    const picture_source* surfaces = nullptr;        // hf->surface_count entries
    const picture_source* const* decals = nullptr;   // per decal index (null: none), or null
    const uint8_t* lighting = nullptr;         // shading_map to multiply in (2x), or null
};
// Composes the colour of the tile whose first sample is (col0, row0) and
// which spans `samples` samples into texels x texels RGB bytes (row 0 at
// the tile's low z): the surface tiles with their 1/16 margins, the decals
// touching it in list order (alpha-blended, each spread as decal_spread
// says), then the lighting. The same picture the GL methods draw.
void compose_tile(const compose_inputs& in, int col0, int row0, int samples, int texels, uint8_t* rgb);
// The decals touching samples [col0, col0 + samples] on both axes, ascending.
void decals_touching(const heightfield* hf, int col0, int row0, int samples, std::vector<int>* out);
// The corners of a decal in samples: (s, t) = (0, 0), (1, 0), (1, 1), (0, 1).
void decal_corners(const heightfield* hf, const decal* d, float corners[4][2]);

// How a decal spreads over the texels of a tile. A texel takes the decal in
// proportion to how much of the texel it covers: along each decal axis the
// share ramps linearly across the width of one texel seen along that axis,
// and the two shares multiply. Were a texel to take the decal whole or not
// at all by its centre, an edge would move in steps of whole texels, and in
// steps of different sizes in different levels, and a decal narrower than a
// coarse texel would fall between the centres and vanish from that level.
struct decal_spread {
    float ramp_s = 0, ramp_t = 0;  // a texel's width along s and t (texture coordinates)
};
// The spread of a decal with these corners (samples) in a tile whose texels
// are samples_per_texel wide.
decal_spread decal_spread_in_tile(const float corners[4][2], float samples_per_texel);
// The share of the decal a texel centred at texture coordinate v (one axis)
// takes: the part of [v - ramp / 2, v + ramp / 2] inside [0, 1], over ramp.
float decal_axis_share(float v, float ramp);

// Recomputes the lighting (shading_map, and the normal map when present)
// of the samples in the rectangle whose dirty bits are set, clearing them.
void relight_region(heightfield* hf, const terrain_light& light, int col0, int row0, int col1, int row1);

// ---- GL -----------------------------------------------------------------------------

// GL: creates the tile textures, the lighting textures and the framebuffer;
// false when a lighting texture cannot be made.
bool gl_create_tiles(terrain_render_state* st);
bool gl_create_lighting(terrain_render_state* st, const heightfield* hf);
// GL: deletes everything the state made.
void gl_delete_all(terrain_render_state* st);
// GL: builds one tile with the state's method.
void gl_build_tile(terrain_render_state* st, heightfield* hf, const tile_ref& ref);
// GL: rebuilds the dirty rectangle of one lighting texture.
void gl_rebuild_light_tile(terrain_render_state* st, heightfield* hf, int index);
// GL: the pictures the software composition reads (from the pictures kept
// in memory, else read back from the GL textures).
void gl_prepare_pictures(terrain_render_state* st, const heightfield* hf);
// GL: the software picture of a tile's colour (TexSubImage uploads it; for
// the other methods it is what their drawing must come close to).
void gl_software_tile(terrain_render_state* st, const heightfield* hf, const tile_ref& ref, std::vector<uint8_t>* rgb);
// GL: draws st->fans.
void gl_draw_fans(terrain_render_state* st);
// GL: whether a framebuffer object can be generated (asked once).
bool gl_framebuffer_available();

}  // namespace terrain_detail
