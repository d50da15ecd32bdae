// The object and tile tools' entry points: what the editor's core hands
// to modes 11 to 15, passed on to the tool of the active mode.
#include <cstdio>

#include "editor/editor_tools_internal.h"

using namespace edtools;

namespace {

bool has_track(const editor_state* e)
{
    return e && e->t && ground_of(e);
}

}  // namespace

void editor_tools_begin(editor_state* e)
{
    if (!has_track(e))
        return;
    const track_objects& o = e->t->objects;
    e->selected_gate = -1;
    e->selected_billboard = o.billboards.count > 0 ? 0 : -1;
    e->last_copy = -1;
    e->selected_statue = o.statues.count > 0 ? 0 : -1;
    const heightfield* hf = ground_of(e);
    e->current_decal = hf->decals && hf->decals->count > 0 ? 0 : -1;
    e->decal_group.clear();
    e->tool_random = 0x6b657373726967ull;  // the same edits give the same tiles and angles
    e->tile_max = (float)tiles_slider_max(hf);
    if (e->widget_value[widget_tile] > e->tile_max)
        e->widget_value[widget_tile] = e->tile_max;
}

void editor_tools_press(editor_state* e, float x, float z)
{
    if (!has_track(e))
        return;
    switch (e->mode) {
    case editor_timing_gate:
        gates_press(e, x, z);
        break;
    case editor_billboards:
        billboards_press(e, x, z);
        break;
    case editor_statues:
        statues_press(e, x, z);
        break;
    case editor_decals:
        decals_press(e, x, z);
        break;
    default:
        break;
    }
}

void editor_tools_drag(editor_state* e, float x, float z)
{
    if (!has_track(e))
        return;
    switch (e->mode) {
    case editor_timing_gate:
        gates_drag(e, x, z);
        break;
    case editor_billboards:
        billboards_drag(e, x, z);
        break;
    case editor_statues:
        statues_drag(e, x, z);
        break;
    case editor_decals:
        decals_drag(e, x, z);
        break;
    default:
        break;
    }
}

void editor_tools_release(editor_state* e)
{
    if (!e)
        return;
    e->drag = 0;
    e->last_copy = -1;
    if (e->mode == editor_tilemap)
        e->anchor_x = e->anchor_z = -1.0f;
}

bool editor_tools_key(editor_state* e, int code, float x, float z)
{
    if (!has_track(e))
        return false;
    switch (e->mode) {
    case editor_billboards:
        return billboards_key(e, code, x, z);
    case editor_statues:
        return statues_key(e, code, x, z);
    case editor_decals:
        return decals_key(e, code, x, z);
    default:
        return false;
    }
}

void editor_tools_widget(editor_state* e, int widget)
{
    if (!has_track(e))
        return;
    switch (widget) {
    case widget_set_switch:
    case widget_clear_switch:
        gates_widget(e, widget);
        break;
    case widget_height:
        billboards_height(e);
        break;
    case widget_snap_to_gradient:
        statues_snap_to_gradient(e);
        break;
    case widget_tile:
        if (e->widget_value[widget_tile] > e->tile_max)
            e->widget_value[widget_tile] = e->tile_max;
        break;
    default:
        // Spacing, "Show Collidable" and the decal choices are read where
        // they are used.
        break;
    }
}

void editor_tools_tick(editor_state* e, float x, float z, bool held)
{
    if (!has_track(e) || e->mode != editor_tilemap || !held || e->press != editor_press_map)
        return;
    // The core counts hold_ticks after the tick.
    if (e->hold_ticks % 32 == 0)
        tiles_paint(e, x, z);
}

void editor_tools_readout(const editor_state* e, char* out, int size)
{
    if (!out || size <= 0)
        return;
    out[0] = 0;
    if (!has_track(e))
        return;
    if (e->mode == editor_timing_gate)
        gates_readout(e, out, size);
    else if (e->mode == editor_billboards)
        billboards_readout(e, out, size);
}
