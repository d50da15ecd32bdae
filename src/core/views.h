// The view modes and their cameras: the rider's eyes on the watched bike,
// the orbit camera around it, the track's television cameras (aimed and
// zoomed automatically, switched by the gate the rider rides to), the free
// camera and the key-frame path. Which rider is watched and which view is
// shown is the game's to decide; the race only publishes its state.
//
// The camera sums here read the world and never change what it simulates:
// the track cameras' aim (yaw, pitch and their rates, the field of view)
// is view state that lives in the track's camera records.
#pragma once

#include <cstdio>

#include "core/game.h"
#include "core/key_frames.h"
#include "core/vec3.h"
#include "render/camera.h"
#include "track/lighting.h"

struct bike;
struct heightfield;
struct world;

struct orbit_camera {
    float angle = 0;      // radians, -pi..pi; 0 puts the eye on the +z side
    float distance = 10;  // feet
    float height = 5;     // feet above the centre
};

// What the views keep from frame to frame; it outlives world resets.
struct view_state {
    orbit_camera orbit;              // the orbit view while watching
    track_camera free_camera;        // position, aim and its rates, field of view
    bool free_camera_placed = false; // set near the watched rider on first use
    float zoom_speed = 0;            // ft/s the free camera flies along its view
    // -1 the free camera, else a track camera (an index past the track's
    // cameras shows the free camera too).
    int selected_camera = 0;
    bool auto_switch = true;         // cameras follow the watched rider by gate
    bool cut = true;                 // the next aim jumps instead of turning
    int aimed_slot = -1;             // the rider the cameras were aimed at last
    key_frame_list key_frames;
    // Watching a ride the player does not ride, the camera stays with the
    // leader until the player picks a rider with the next and previous keys.
    bool follow_leader = true;
};

// The settings the cameras read (the configuration's, in the game).
struct view_settings {
    float fov = 110;                    // degrees, the rider view and the free camera
    float first_person_height = 0;      // 0..1 between the low and the high eye
    float first_person_angle = 0;       // degrees the rider view looks down
    float third_person_height = 5;      // feet, the orbit view while riding
    float third_person_distance = 10;   // feet
    bool rigid_camera = false;          // the orbit view keeps to the frame's heading
    vec3 chase_center = {0.0f, 2.52f, 0.52f};  // frame-body point the orbit view circles
    bool editor_enabled = false;        // "--editor": the view cycle holds the editor view
};
// From g_settings and g_options.
view_settings current_view_settings();

// A new ride: the cameras cut to their first aim, the leader is watched
// again, and the selected camera is kept within the track's cameras.
void views_new_ride(view_state* v, const world* w);

// Once per frame before drawing: a loaded track leaves the no-track view;
// the player's own bike is never seen from the track cameras; an empty
// watched slot shows the track cameras; no track, the no-track view. While
// the player rides nothing and has picked no rider, the leader is watched.
void update_view_mode(game_state* g, view_state* v, const world* w);

// Tab: rider -> orbit (-> editor with "--editor") -> ... -> track camera ->
// rider; editor -> orbit. Nothing in the no-track view.
int next_view_mode(int mode, bool editor_enabled);

// The bike in the watched slot, or null.
const bike* watched_bike(const game_state* g, const world* w);
// True when the watched bike exists and the local player rides it.
bool riding_own_bike(const game_state* g, const world* w);

// ---- cameras ------------------------------------------------------------------

// The rider's eyes: between (0, 0.5, -0.4) and (0, 1.058383, -1.19337) of
// the rider body by first_person_height, looking along the body pitched down
// by first_person_angle.
view_camera rider_view_camera(const bike* b, const view_settings& s);
// The orbit camera around the chase centre: riding, behind the bike at the
// third-person distance (along the frame's heading, or turned toward the
// direction of travel as the bike speeds up from 10 to 30 ft/s unless
// rigid); watching, where the orbit state puts it. The eye is kept at the
// higher of the centre plus the height and 5 ft above the ground around it.
view_camera orbit_view_camera(const bike* b, const heightfield* hf, const orbit_camera& orbit, bool riding,
                              const view_settings& s);
// The track camera view: the key-frame path in keycam mode, else the
// selected track camera or the free camera.
view_camera track_view_camera(const view_state* v, const world* w, const view_settings& s);
// The camera of the key-frame path at tick, in the renderer's axes (the
// key frames' quaternions look along -z with yaw 0 toward -z; the
// renderer's yaw 0 looks along +z). False without key frames.
bool key_frame_camera(const key_frame_list& keys, int tick, view_camera* out);

// The camera for the view mode; false for the views without a 3-D scene
// (no track, the editor).
bool view_camera_for(const view_state* v, const game_state* g, const world* w, const view_settings& s,
                     view_camera* out);
// "--print-orientation": the rider view's camera as "t=%f p0=%f ... z2=%f\n"
// (the world's time, the eye, the first and third columns of the rider
// body's rotation).
void format_orientation(const bike* b, double seconds, const view_camera& c, char* out, int size);

// ---- camera aiming, once per tick -----------------------------------------------

// Turns a camera toward the bike at `bike` moving with `velocity`
// (tracking), or by the player's steer and shift controls (manual), with an
// angular acceleration of at most pi rad/s^2. A cut turns it onto the bike
// at once. With an auto field-of-view size the zoom keeps that many feet in
// view while tracking.
void aim_camera(track_camera* cam, vec3 bike, vec3 velocity, bool tracking, bool cut, float steer_control,
                float shift_control);

// The watching controls of one tick. Orbit view: steer turns the camera
// around the bike, throttle and front brake bring it nearer and farther,
// shift raises and lowers it. Track camera view: sit/dab rising toggles
// the automatic switching; the camera covering the rider's next gate is
// switched to; the selected camera is aimed; throttle and front brake fly
// the free camera along its view.
void orbit_controls(orbit_camera* orbit, const float controls[]);
void track_camera_controls(view_state* v, world* w, int watched_slot, bool paused, const float controls[],
                           bool sit_dab_rising, float fov);

// ---- drawing, once per frame ---------------------------------------------------

// What the heads-up display, the menus and the editor draw over or instead
// of the scene. Every entry may be null (that part does not exist yet).
struct view_hooks {
    void* context = nullptr;
    // A track camera is shown: the television overlay.
    void (*tv_overlay)(void* context, const world* w, int camera) = nullptr;
    // The name of the recorded rider the cameras follow, at the top.
    void (*rider_name)(void* context, const char* name) = nullptr;
    // The editor's map and panel.
    void (*editor)(void* context, world* w) = nullptr;
    // "Paused" at the top of the screen.
    void (*paused_text)(void* context) = nullptr;
};

// Draws the view for the mode into the whole window: the scene from the
// view's camera, with the overlays of the track camera view; nothing for
// the no-track view or the editor until they have drawers. orientation,
// when not null, receives the rider view's camera line. Returns whether a
// scene was drawn.
bool place_camera(const view_state* v, const game_state* g, world* w, const view_settings& s, const view_hooks& h,
                  int width, int height, float ghost_fade_distance, FILE* orientation, bool hud_shown);
