// Shared by the object and tile tool sources only: the panel values they
// read, the pick and brush radii, the editor's generator and the handlers
// of each mode.
#pragma once

#include <cmath>
#include <cstdint>

#include "editor/editor.h"
#include "track/track.h"

namespace edtools {

// Panel widgets these tools read.
enum {
    widget_zoom = 18,
    widget_radius = 21,
    widget_billboard_spacing = 22,
    widget_height = 23,
    widget_set_switch = 30,
    widget_clear_switch = 31,
    widget_tile = 32,
    widget_show_collidable = 33,
    widget_snap_to_gradient = 34,
    widget_decal_spacing = 35,
    widget_orientation = 36,
    widget_hide_different = 37,
    widget_level = 38,
};

enum { orientation_copy, orientation_random, orientation_flow, orientation_flow2, orientation_uphill };
enum { level_top, level_under_current, level_over_current, level_bottom };

constexpr float pi = 3.14159265358979f;

inline heightfield* ground_of(const editor_state* e)
{
    if (e->hf)
        return e->hf;
    return e->t ? &e->t->heightfield : nullptr;
}

inline bool frozen(const editor_state* e)
{
    const heightfield* hf = ground_of(e);
    return !hf || hf->frozen != 0;
}

inline void mark_changed(editor_state* e)
{
    if (heightfield* hf = ground_of(e))
        hf->changed_marker = 7;
}

// A choice's index from its widget value.
inline int choice_of(const editor_state* e, int widget)
{
    return (int)lroundf(e->widget_value[widget]);
}

// Feet the window's height shows.
inline float view_feet(const editor_state* e)
{
    return e->extent / exp2f(e->widget_value[widget_zoom]);
}

// An object is under the pointer within half of this.
inline float pick_radius(const editor_state* e)
{
    return fmaxf(1.0f, view_feet(e) * 0.01f);
}

// The brush radius in feet: the "Radius" slider in pixels.
inline float brush_radius(const editor_state* e)
{
    const int h = e->pointer.height > 0 ? e->pointer.height : 1;
    return e->widget_value[widget_radius] * view_feet(e) / (float)h;
}

inline float distance_sq(float ax, float az, float bx, float bz)
{
    const float dx = ax - bx, dz = az - bz;
    return dx * dx + dz * dz;
}

// Within radius r of the pointer (the border counts).
inline bool near_point(float x, float z, float px, float pz, float r)
{
    return distance_sq(x, z, px, pz) <= r * r;
}

inline float wrap_angle(float a)
{
    if (!std::isfinite(a))
        return 0.0f;
    while (a > pi)
        a -= 2.0f * pi;
    while (a < -pi)
        a += 2.0f * pi;
    return a;
}

// The turning handle of a statue or decal of angle a at (x, z).
inline void handle_of(float x, float z, float a, float r, float* hx, float* hz)
{
    *hx = x - 4.0f * r * sinf(a);
    *hz = z - 4.0f * r * cosf(a);
}

// The editor's generator (splitmix64): uniform in [0, 1), and an index
// below n.
inline uint64_t next_random(editor_state* e)
{
    uint64_t z = (e->tool_random += 0x9e3779b97f4a7c15ull);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
}
inline float random_unit(editor_state* e)
{
    return (float)((double)(next_random(e) >> 40) * (1.0 / 16777216.0));
}
inline int random_below(editor_state* e, int n)
{
    return n > 0 ? (int)(next_random(e) % (uint64_t)n) : 0;
}

// ---- per mode ----------------------------------------------------------------

void gates_press(editor_state* e, float x, float z);
void gates_drag(editor_state* e, float x, float z);
void gates_widget(editor_state* e, int widget);
void gates_readout(const editor_state* e, char* out, int size);

void billboards_press(editor_state* e, float x, float z);
void billboards_drag(editor_state* e, float x, float z);
bool billboards_key(editor_state* e, int code, float x, float z);
void billboards_height(editor_state* e);
void billboards_readout(const editor_state* e, char* out, int size);

void statues_press(editor_state* e, float x, float z);
void statues_drag(editor_state* e, float x, float z);
bool statues_key(editor_state* e, int code, float x, float z);
void statues_snap_to_gradient(editor_state* e);

void decals_press(editor_state* e, float x, float z);
void decals_drag(editor_state* e, float x, float z);
bool decals_key(editor_state* e, int code, float x, float z);
// True when decal i may be picked ("Hide different": only the current
// decal's texture).
bool decal_pickable(const editor_state* e, int i);

// The "Tile" slider's maximum for the loaded surface table.
int tiles_slider_max(const heightfield* hf);
// One application of the tile brush at the pointer (every 32 ticks held).
void tiles_paint(editor_state* e, float x, float z);

}  // namespace edtools
