// Drawing the 3-D scene's moving parts: the bikes with their riders, and the
// texture and program selection every lit model goes through. The scene
// reads the world's records and never changes them.
#pragma once

#include "core/vec3.h"

struct bike;
struct heightfield;
struct model;

// Counters of one frame (reset at its start): every texture bind of the
// scene counts a texture change; the models and programs count their own.
struct scene_statistics {
    long texture_changes = 0;
    long billboards = 0;
};
extern scene_statistics g_scene_statistics;

// What the scene reads besides the world.
struct scene_settings {
    bool reflections = true;   // environment-mapped parts get their second pass
    float draw_alpha = 1.0f;   // material alpha of bikes and statues (fading ghosts)
};
extern scene_settings g_scene_settings;

// How a bike is drawn: an ordinary bike, the rider-view bike with the
// rider hidden, or the rider-view bike with the first-person body.
enum bike_view_flag { bike_view_normal = 0, bike_view_hide_rider = 1, bike_view_first_person = 2 };

// Whether a model gets the environment pass (reflections on and some part
// environment-mapped).
bool model_needs_env_pass(const model* m);

// Colour on unit 0; with shaders, the normal map on unit 1 and the
// specular map on unit 2 (only with a normal map), choosing the lit program
// that samples what is there.
void bind_texture_set(unsigned colour, unsigned normal, unsigned specular);
// The environment programs with or without a normal map on unit 1.
void bind_env_set(unsigned normal);

// Draws a bike and its rider under the camera transform already loaded
// (model-view = camera, translated by -eye). The rider-view bike leaves out
// the parts its rider cannot see (swingarm and rear wheel, and in the
// environment pass also the fork lower and the front wheel) unless the
// rider is down. hf is the ground the feet reach for (may be null); sky_env
// the environment map of the shiny parts.
void draw_bike(const bike* b, int view_flag, vec3 eye, const heightfield* hf, unsigned sky_env);

struct world;
struct view_camera;

// The bikes' fade of this frame: 1 opaque; a recorded ghost fades out as it
// nears the live bike (invisible within half the fade distance, solid
// beyond it); bikes the race rules hide get 0.
float bike_fade(const world* w, int slot, float ghost_fade_distance);

// Draws one frame of the world's 3-D scene for the camera into the whole
// window: sky, terrain, then the bikes (solid ones first, fading ones
// last). Leaves model-view at identity and the depth test passing always.
// The terrain's own upkeep (terrain_update) is the frame loop's, after the
// ticks.
void render_scene(world* w, const view_camera& camera, int width, int height, float ghost_fade_distance);
