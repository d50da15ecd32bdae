// Drawing the 3-D scene of one frame: sky, terrain, the bikes with their
// riders, the statues, the camera-facing sprites (billboards, flaggers and
// roost), fading ghosts, debugging lines and the lens flares. The scene
// reads the world's simulation records and never changes them; what it
// writes is drawing state kept in the track's objects (a camera-facing
// statue's heading, the sprites' depth keys and the flaggers' pictures) and
// in the flares' per-frame fields.
#pragma once

#include <vector>

#include "core/vec3.h"

struct bike;
struct heightfield;
struct model;
struct statue;
struct sprite_list;
struct track;
struct track_objects;
struct lighting;
struct world;
struct view_camera;
struct view_extent;

// The counters of the last frame drawn, reset at its start; the heads-up
// display reads them after the frame and keeps its own maxima. The ground
// polygons and decals are the terrain renderer's.
struct scene_statistics {
    long model_vertices = 0;   // of every model part drawn
    long model_triangles = 0;  // "Model polygons"
    long billboards = 0;       // sprites drawn
    long texture_changes = 0;  // every texture bind of the scene
    long shader_changes = 0;   // program switches
};
extern scene_statistics g_scene_statistics;

// What the scene reads besides the world. The game fills it from its
// settings and command line and keeps it in step with the menus.
struct scene_settings {
    bool reflections = true;     // environment-mapped parts get their second pass
    float draw_alpha = 1.0f;     // material alpha of bikes and statues (fading ghosts)
    bool flat_shading = false;   // "--fugly": no sky, the colour cleared instead
    int debug_level = 0;         // 2: the robots' paths and targets are drawn
    bool hide_rider = false;     // "Hide 1st Person Rider"
    int model_detail = 50;       // 0..100; at 10 or less far statues are left out
    int billboard_lookahead = 8; // sprites searched ahead for the texture just bound
    bool lens_flares = true;     // "Enable Lens Flares"
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
// rider is down. A rider whose shoulders come within 1.25 ft of the bars is
// drawn leaning back (the bodies themselves are left alone). hf is the
// ground the feet reach for (may be null); sky_env the environment map of
// the shiny parts. With debug level 2 the robot's path points are marked.
void draw_bike(const bike* b, int view_flag, vec3 eye, const heightfield* hf, unsigned sky_env);

// The rider body as draw_bike places it (the lean described there), in the
// physics engine's layout: rotation 3 x 4 row-major, then the position.
// Returns false (and the body's own placement) when no lean applies.
bool rider_drawn_placement(const bike* b, double rotation[12], double position[3]);

// The bikes' fade of this frame: 1 opaque; offline, a bike driven by
// recorded data (a demo or ghost) fades out as it nears the first live bike
// (invisible within half the fade distance, solid beyond it; a distance of
// 0 or less draws it solid); bikes the race rules hide get 0.
float bike_fade(const world* w, int slot, float ghost_fade_distance);

// ---- statues ---------------------------------------------------------------------

enum statue_pass { statue_pass_lit = 0, statue_pass_env = 1 };

// Whether a statue is near enough to draw: with model detail 10 or less,
// nothing beyond 20 x detail^2 feet.
bool statue_within_detail(const statue* s, vec3 eye, int model_detail);
// Both passes over the statues that have a model and a texture: lit (with
// their normal and specular maps when the programs are on; textures bound
// only when they change), then the sky reflected in the environment-mapped
// ones. Model-view is the camera translated by -eye.
void draw_statues(track_objects* objects, vec3 eye, unsigned sky_env);
// One statue in one pass, its textures already bound; a camera-facing
// statue first turns toward a far eye. False when it was left out.
bool draw_statue(statue* s, vec3 eye, int pass);

// ---- sprites ---------------------------------------------------------------------

// The sprites of this frame in drawing order: every sprite with a texture
// and some alpha is keyed by its depth along the camera's backward axis
// (the roost sprites [roost_first, roost_first + roost_count) as if a
// little nearer); those in front of the eye are kept, sorted far to near
// (equal keys in list order) and, with lookahead N > 1, a sprite up to N - 1
// places on that wears the texture just drawn is pulled forward when no
// sprite in between overlaps it as seen from the eye. False, with order
// empty, when the camera looks straight up or down.
bool sprite_draw_order(sprite_list* sprites, int roost_first, int roost_count, vec3 eye, const float rotation[9],
                       int lookahead, std::vector<int>* order);
// Draws them as camera-facing quads in their colours (blended, no depth
// writes), binding a texture only when it changes. Model-view is the camera
// translated by -eye. Returns the number drawn.
int draw_sprites(sprite_list* sprites, int roost_first, int roost_count, vec3 eye, const float rotation[9],
                 int lookahead);
// Copies the roost particles in flight into their sprites (centred on the
// particle); the others get no texture and are not drawn.
void roost_sprites_update(track* t);

// ---- flaggers ---------------------------------------------------------------------

// The flaggers' pictures for this moment of the race: the start flagger
// walks off and waves the start, the finish flagger shows the leader's
// progress, the course flaggers warn where a rider is down. A start or
// finish flagger whose picture changes starts its animation at the world
// tick; course flaggers switch without restarting.
void update_flaggers(world* w);

// ---- lens flares ---------------------------------------------------------------------

// After the scene is drawn (model-view identity, depth test passing
// always): every flare in view whose light shows at its pixel (bright there,
// nothing drawn nearer) is drawn additively on the view plane, fading out
// near the view's edges. Writes each flare's screen position and intensity
// (0 when not drawn). Returns the number of flares drawn.
int draw_lens_flares(lighting* light, const view_camera& camera, const view_extent& extent, int width, int height);

// ---- the frame ---------------------------------------------------------------------

// Draws one frame of the world's 3-D scene for the camera into the whole
// window, in this order: flaggers and animations brought up to the tick,
// the terrain's texture upkeep, projection and camera, the sky (or a plain
// clear with flat shading), fog, the sun, the terrain back to front, the
// solid bikes, the statues, the sprites, the fading bikes, the debugging
// lines, then the lens flares. Leaves model-view at identity and the depth
// test passing always. The terrain's own upkeep (terrain_update) is the
// frame loop's, after the ticks.
void render_scene(world* w, const view_camera& camera, int width, int height, float ghost_fade_distance);
