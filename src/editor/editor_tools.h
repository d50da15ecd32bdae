// The editor's object and tile tools (modes 11 to 15): timing gates and
// their robot section marks, billboards, statues, decals and the tile map.
// The editor's core hands them the pointer's ground point, the keys and
// the panel widgets of these modes; they change the loaded track's records
// in place and mark the ground changed (changed_marker 7) for the save.
//
// Every function here works headless; editor_tools_draw needs the GL
// context, with the map's projection set so that glVertex2f(x, z) lands on
// the ground point (x, z).
#pragma once

struct editor_state;

// At editor_begin: the selections and the "Tile" slider's maximum.
void editor_tools_begin(editor_state* e);
// A left-button press on the map in modes 11 to 15 at ground point (x, z).
void editor_tools_press(editor_state* e, float x, float z);
// Every tick while the button stays down after a press on the map.
void editor_tools_drag(editor_state* e, float x, float z);
void editor_tools_release(editor_state* e);
// The keys of modes 12, 13 and 15 (127 or "x", "d", "i", "m", "M", "{",
// "}", "X"); true when the key belongs to the active mode.
bool editor_tools_key(editor_state* e, int code, float x, float z);
// A widget of these modes pressed or changed (its value in widget_value).
void editor_tools_widget(editor_state* e, int widget);
// Every editor tick: the tile map's painting while held in mode 14.
void editor_tools_tick(editor_state* e, float x, float z, bool held);
// The map overlays of the active mode (GL).
void editor_tools_draw(const editor_state* e, float pick_radius);
// The mode's read-out line ("Switch Point: ...", the billboard's texture),
// empty when the mode has none.
void editor_tools_readout(const editor_state* e, char* out, int size);
