// A track's light and its television cameras: the "lighting" file (sun,
// ambient light, fog, clipping distances, sky box, environment map and lens
// flares) and the "cameras" file (camera positions, fields of view and the
// gates each camera covers). The renderer draws the sky and the flares from
// these records; the view code aims the cameras.
#pragma once

#include "core/vec3.h"
#include "track/heightfield.h"
#include "track/objects.h"

struct data_stream;

enum {
    FLARE_ELEMENTS_MAX = 8,
    GATE_CAMERA_COUNT = 256,
    SKY_FACES = 5,  // north, east, south, west, up
};

// Clipping-distance limits applied after reading.
constexpr float lighting_near_min = 1.0f / 1024.0f;
constexpr float lighting_near_max = 0.875f;
constexpr float lighting_far_max = 1048576.0f;

struct flare_element {
    float offset_across = 0;
    float offset_along = 0;  // 1 the light itself, 0 the view centre
    float color[3] = {1, 1, 1};
    float size = 0;          // half-width on the view plane at distance 1
    unsigned texture = 0;
};

struct flare {
    vec3 source = {0, 0, 0};  // a world point, or a direction when is_vector
    int is_vector = 0;
    flare_element elements[FLARE_ELEMENTS_MAX];
    int element_count = 0;
    // Per frame (the renderer's): position on the view plane and 0..1.
    float screen_x = 0, screen_y = 0;
    float intensity = 0;
};

struct lighting {
    vec3 sun_vector = {0.57735026f, 0.57735026f, 0.57735026f};  // unit, towards the sun
    float sun_color[3] = {1, 1, 1};
    float ambient[3] = {0.5f, 0.5f, 0.5f};
    float global_ambient[3] = {0.2f, 0.2f, 0.2f};
    float near_plane = 0.25f;
    float far_plane = 5000.0f;
    int dynamic_lighting = 0;
    float fog_color[3] = {0, 0, 0};
    float fog_density = 0;  // 0: no fog (exponential fog otherwise)
    unsigned sky[SKY_FACES] = {};
    unsigned sky_env = 0;
    flare* flares = nullptr;
    int flare_count = 0;
    int flare_capacity = 0;
};

// Frees the flares and puts every value back to its default.
void lighting_reset(lighting* l);

// Refills l from dir + "/lighting" (dir as for the other track files). A
// missing file leaves the defaults and loads no sky pictures and returns
// false. Otherwise the file is read line by line ("keyword value"); an
// unknown keyword reports "Error reading lighting: Unknown identifier
// '%.950s'\n" and ends the reading with the values so far kept. Then the
// clipping distances are clamped (near 1/1024..0.875, far near..1048576),
// the sun vector normalised (a zero or non-finite one becomes the default
// direction) and every sky face or environment map not given is loaded
// from "@sky-n.ppm" .. "@sky-u.ppm", "@sky-env.ppm". tick (may be null) is
// called with "Loading lighting" for every line.
bool lighting_load(lighting* l, const char* dir, load_progress tick);
// The reading and the finishing steps of lighting_load, apart.
void lighting_read(lighting* l, data_stream* s, load_progress tick);
void lighting_finish(lighting* l);

// The light the terrain's baked shading is computed with.
terrain_light lighting_terrain_light(const lighting* l);

// ---- track cameras ---------------------------------------------------------------

struct track_camera {
    vec3 position = {0, 0, 0};  // y = ground height at load + the given height
    float yaw = 0, pitch = 0;            // radians, set while aiming
    float yaw_rate = 0, pitch_rate = 0;  // radians per second
    float fov = 90;          // degrees
    float autofovsize = 0;   // feet kept in view by the automatic zoom; 0 off
};

struct camera_set {
    track_camera* items = nullptr;
    int count = 0;
    int capacity = 0;
    // For each checkpoint number, the camera that covers it, -1 none.
    int gate_camera[GATE_CAMERA_COUNT];
    camera_set();
};

// Refills cams from dir + "/cameras"; false (no cameras) when the file is
// missing. Lines: "addcamera X HEIGHT Z" appends a camera with the pending
// fov and autofovsize and resets them; "fov F" and "autofovsize S" set them
// (absolute values); "gate N N ..." maps gates 0..255 to the camera the
// next "addcamera" creates (reading stops at the first non-number or value
// out of range); other lines are ignored. A gate left naming a camera that
// was never created maps to none. verbose logs "%d cameras found\n".
bool cameras_load(camera_set* cams, const heightfield* hf, const char* dir, int verbose);
void cameras_read(camera_set* cams, const heightfield* hf, data_stream* s);
void cameras_free(camera_set* cams);

// The camera covering checkpoint gate, or -1.
int gate_camera(const camera_set* cams, int gate);
