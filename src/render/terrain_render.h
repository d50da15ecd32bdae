// Drawing the terrain: a view-dependent triangle mesh chosen from a quadtree
// over the height grid, textured from ground textures composed at run time
// from the surface tiles, the decals and the baked lighting, and kept in a
// camera-centred pyramid of detail levels.
//
// Units: world feet for positions; "samples" are grid positions (col, row);
// "cells" are tile-map cells of 2 x 2 grid quads. A texture tile of level i
// (0..5) covers 2^i x 2^i cells; level 6 is a fixed grid of 64 x 64-cell
// tiles over the whole terrain.
//
// Per frame the scene calls, in this order: terrain_update (error pyramid
// work, one lighting texture), terrain_prepare_textures (texture levels
// follow the camera, at most one tile rebuilt), then terrain_draw with the
// depth comparison set to always-pass: the mesh is emitted back to front,
// so the painter's order decides what hides what, and it writes depth for
// what is drawn after it.
//
// Everything here needs a current GL context except the settings helpers.
// The state lives in heightfield::render and is released with the height
// field (terrain_free through the height field's hook).
#pragma once

#include "core/vec3.h"

struct heightfield;
struct lighting;
struct render_params;

// The ways ground textures are built and lit ("render_texture").
enum terrain_method {
    terrain_method_software = 0,         // "Software": composed in memory, glTexSubImage2D
    terrain_method_hardware_copy = 1,    // "Hardware/Copy": back buffer, glCopyTexSubImage2D
    terrain_method_hardware_direct = 2,  // "Hardware/Direct": framebuffer objects
    terrain_method_shaders_copy = 3,     // "Shaders/Copy": as 1, lit per pixel
    terrain_method_shaders_direct = 4,   // "Shaders/Direct": as 2, lit per pixel
    terrain_method_count = 5,
};

// How tiles are actually built once the driver has been asked.
enum terrain_texturing {
    terrain_tex_sub_image = 0,
    terrain_copy_sub_image = 1,
    terrain_framebuffer = 2,
};

struct terrain_settings {
    int method = terrain_method_software;
    // Texels per tile side: 32 << index of "Ground Texture Resolution".
    // Capped at 256 with TexSubImage and CopyTexSubImage (and, for the copy,
    // at the window: tiles are drawn in the back buffer).
    int tile_texels = 64;
    // Finest camera texture level: clamp(10 - "Ground Texture Levels", 0, 10);
    // above 5 only the level-6 grid is used.
    int min_level = 1;
    // Geometric error per foot of distance that is tolerated:
    // 0.125 / "Ground Geometric Detail" (at least 1), or "--detail". Values
    // that are not finite and positive fall back to the default.
    double error_scale = 0.125 / 70.0;
    bool mipmaps = true;            // framebuffer-built tiles get mipmaps
    bool no_vertex_arrays = false;  // "--novertexarrays": immediate mode
    int verbose = 0;                // texture memory lines from 1 on
};

// The setting names, index = terrain_method; null out of range.
const char* terrain_method_name(int method);
// The method of a setting name, or -1.
int terrain_method_from_name(const char* name);
// The settings from the game's derived rendering parameters (terrain error
// scale, ground texture level and size) and the remaining choices.
terrain_settings terrain_settings_from_params(const render_params& params, int method, bool mipmaps,
                                              bool no_vertex_arrays, int verbose);

// The settings the track-load hook uses (the game fills them at start-up).
extern terrain_settings g_terrain_settings;

// How tiles will be built with these settings on the current driver:
// framebuffer methods fall back to TexSubImage without framebuffer objects
// (or when none can be generated). Surfaces and decals must then be kept
// as pictures in memory (the texture service's keep_tile_pictures should
// answer terrain_keeps_tile_pictures()).
int terrain_texturing_for(const terrain_settings& settings);
bool terrain_keeps_tile_pictures();

// ---- per track ------------------------------------------------------------------

// Part of the track load, after the ground, surfaces and tile map: chooses
// the method (logs "Terrain texture rendering with ..."), builds the
// lighting textures ("Creating low detail textures"; "Error creating low
// LOD textures" fails), the terrain normal map when the terrain shader is
// used (light->dynamic_lighting with a shader method and shaders on), the
// tile textures and the whole error pyramid. light may be null (default
// light, no shader). Replaces any state the height field had. False only
// when the lighting textures cannot be made.
bool terrain_render_setup(heightfield* hf, const terrain_settings& settings, const lighting* light);

// Deletes every texture and frees the state; safe without one.
void terrain_free(heightfield* hf);

// Per frame before drawing: advances the error pyramid by budget work
// units (TERRAIN_UPDATE_BUDGET a frame; a negative budget is unlimited) and
// rebuilds at most one dirty lighting texture.
enum { TERRAIN_UPDATE_BUDGET = 8000 };
void terrain_update(heightfield* hf, int budget);

// Per frame before drawing: builds the level-6 tiles not yet built, moves
// the level blocks to the camera and builds the first tile not valid, or,
// when all are valid, rebuilds the oldest dirty one. Leaves the GL state it
// found (viewport, matrices, bound framebuffer).
void terrain_prepare_textures(heightfield* hf, vec3 eye, vec3 view_dir);

// Draws the mesh for the camera at eye looking along view_dir (needs not be
// unit), with the model-view and projection the caller set. Uses the depth
// function the caller set (always-pass) and writes depth. Nothing is drawn
// without a state.
void terrain_draw(heightfield* hf, vec3 eye, vec3 view_dir);

// Marks the samples col0..col1 x row0..row1 (inclusive, clipped to the grid)
// as changed: their lighting and every texture tile showing them are
// rebuilt over the next frames.
void terrain_mark_dirty(heightfield* hf, int col0, int row0, int col1, int row1);

// ---- statistics -----------------------------------------------------------------

struct terrain_stats {
    int vertices = 0;       // fan vertices sent (centre, rim and the closing one)
    int fans = 0;           // quadtree nodes drawn
    int tiles_built = 0;    // texture tiles built (colour with its maps)
    int texture_binds = 0;
};
// Added to by every draw and build; the scene resets it each frame.
extern terrain_stats g_terrain_stats;
void terrain_stats_reset();

// ---- hooks ----------------------------------------------------------------------

// Makes every track load set up terrain drawing with g_terrain_settings and
// the track's lighting, the height field release free it, and erosion and
// decal changes mark the terrain textures dirty. Also tells the decal
// loader whether the terrain shader wants decal normal and specular maps.
void terrain_render_install_hooks();
void terrain_render_remove_hooks();
