// Models: bikes, riders, start gates and track statues are drawn from text
// model files (".qm"). A model is a list of parts, each with its material,
// vertices and triangles; skinned parts carry four bone influences per
// vertex. Models are cached by data name for the whole run and purged by
// generation after a track load; a model loaded from "@stem.ext" carries
// its coarser levels of detail ("stem_lodK...") in a chain.
//
// Drawing is two passes: the lit pass draws every part up to the first
// environment-mapped one, the environment pass only the environment-mapped
// parts. Units are feet in the model's own frame. What a model wears
// (textures, programs) and where it stands is decided by its users.
//
// The records and the reader (render/model_file.h) need no GL; the cache,
// the handles and the drawing live in the renderer and are used from the
// thread that owns the GL context.
#pragma once

#include <cstdio>
#include <string>

#include "core/vec3.h"

// One part. Arrays hold vertex_count entries (texcoords 2 floats, weights
// 4 floats and bones 4 ints per vertex), triangles 3 indices each; all
// owned by the part.
struct model_part {
    model_part* next = nullptr;
    // -1 marks an environment-mapped part, -2 a self-lit part.
    float shininess = 0;
    // Only environment-mapped parts use it; 1 for every other part.
    float reflectivity = 1;
    float specular[3] = {0, 0, 0};
    int vertex_count = 0;
    int triangle_count = 0;
    // From the file header; 0 for a rigid part.
    int bone_count = 0;
    // For a skinned part these hold the processor's skinned result; the
    // rest pose stays in the rest_ copies (null for rigid parts).
    vec3* positions = nullptr;
    vec3* normals = nullptr;
    vec3* tangents = nullptr;
    vec3* rest_positions = nullptr;
    vec3* rest_normals = nullptr;
    vec3* rest_tangents = nullptr;
    float* texcoords = nullptr;   // u, 1 - v as read from the file
    float* weights = nullptr;     // skinned parts only; each vertex sums to 1
    int* bones = nullptr;         // skinned parts only; 0..bone_count-1
    unsigned* triangles = nullptr;
    unsigned display_list = 0;    // GL display list, or 0
};

struct model {
    char* name = nullptr;         // the data name it was loaded from (owned)
    model_part* parts = nullptr;  // at least one
    int bone_count = 0;           // from the file header
    // The generation of the last lookup; 0 (loaded before any track) keeps
    // it for good.
    int last_used = 0;
    bool has_env = false;         // some part is environment-mapped
    // 0 for the base model, 2^k for the level read from "..._lodK...".
    float lod_distance = 0;
    model* next_lod = nullptr;    // next coarser level, owned
};

// ---- settings and statistics -------------------------------------------------------

struct model_settings {
    float lod_scale = 1.0f;        // "--lod-scale" and the model detail
    float lod_bias = 0.0f;         // "--lod-bias"
    bool no_vertex_arrays = false; // "--novertexarrays": immediate-mode triangles
    bool verbose = false;          // logs every deletion
};
extern model_settings g_model_settings;

// What the parts drawn since the last reset held; the scene resets it at
// the start of each frame and shows it.
struct model_statistics {
    long vertices = 0;
    long triangles = 0;
};
extern model_statistics g_model_statistics;
inline void model_statistics_reset()
{
    g_model_statistics = model_statistics();
}

// ---- the cache ------------------------------------------------------------------------

// Advanced by each track load: models not looked up since are purged.
extern int model_generation;

// The cached model of a data name, loading it on first use (null when the
// file cannot be opened or parsed; such a name is not cached, so a later
// call tries again). A name that differs from a cached one only in letter
// case returns that model with "Warning: case mismatch on '...'". The
// cache owns the result until it is purged.
model* model_get(const char* name);
// all false: deletes every model last looked up in an earlier generation
// (those of generation 0 stay); all true (shutdown): deletes every model,
// its display lists and the cache itself, and forgets every handle.
void model_purge(bool all);
// The number of cached models (levels of detail not counted).
int model_cache_count();

// ---- handles ------------------------------------------------------------------------

// The simulation holds models as handles (0 = none). A handle names a model
// together with the texture it was requested with, so that the same model
// asked for with two textures gives two handles. A handle stays valid while
// its model is cached; once the model is purged it answers null, and its
// number is not given to another model.
unsigned model_handle(const model* m, unsigned texture = 0);
model* model_from_handle(unsigned handle);
// The texture a handle was requested with (0 when none or stale).
unsigned model_handle_texture(unsigned handle);
// Points g_model_service.load at the cache: load(name, texture) gives the
// handle of model_get(name) with that texture, or 0.
void model_install_service();

// ---- drawing ------------------------------------------------------------------------

// Bones for a skinned draw: count bones, each with a pivot (3 floats), a
// translation (3 floats) and a rotation (9 floats, column by column).
struct model_bones {
    int count = 0;
    const float* centres = nullptr;
    const float* translations = nullptr;
    const float* rotations = nullptr;
};

// The level of the chain to draw at distance d from the camera: the last
// level, walking from the base, whose lod_distance - lod_bias is at most
// d x lod_scale (the base when none is).
const model* model_lod(const model* m, float distance);

// The caller has set the model-view transform of the model (for a model
// skinned in world space, the camera's alone). eye is the camera position,
// position and rotation (3 x 3, row by row; world = rotation x p +
// position; null for identity) place the model in the same frame: they
// choose the level of detail and aim the environment map. bones may be
// null.
//
// Lit pass: every part up to the first environment-mapped one, with its
// material (self-lit parts light themselves with their specular colour).
void model_draw_lit(const model* m, vec3 eye, vec3 position, const float* rotation, const model_bones* bones);
// Environment pass: only the environment-mapped parts, coloured
// reflectivity x specular. Without shaders the angular-map coordinates of
// the bound environment texture are computed per vertex.
void model_draw_env(const model* m, vec3 eye, vec3 position, const float* rotation, const model_bones* bones);

// ---- scene export -----------------------------------------------------------------

// The base level as a POV-Ray "mesh2 {" block (vertex_vectors,
// normal_vectors, uv_vectors, face_indices), inside "union {" when the
// model has several parts; skinned parts in their rest pose. Appends to
// *out; the FILE form returns false when the write fails.
void model_export_mesh2(const model* m, std::string* out);
bool model_export_mesh2(const model* m, FILE* file);
