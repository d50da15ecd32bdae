// The editor's place in the game: one editor for the loaded track (set up
// and torn down by the track load and unload), its view's drawing, and the
// input of the editor view.
#pragma once

struct world;
struct player_hooks;
struct view_hooks;

// Hooks the editor into the track loads of w, the editor view's input
// (hooks) and drawing (views). The pointer is read from the two axis
// handles (window pixels).
void editor_game_install(world* w, int pointer_x_axis, int pointer_y_axis, player_hooks* hooks, view_hooks* views);
// Undoes the install (before the world goes).
void editor_game_remove();
