#include "editor/editor_game.h"

#include <GL/gl.h>

#include "bike/bike.h"
#include "bike/contact.h"
#include "core/player_input.h"
#include "core/views.h"
#include "editor/editor.h"
#include "platform/input.h"
#include "race/race.h"
#include "race/world.h"
#include "render/terrain_render.h"
#include "track/track.h"

namespace {

struct editor_game {
    world* w = nullptr;
    editor_state* editor = nullptr;
    int axes[2] = {-1, -1};
    int width = 1, height = 1;  // the window as last drawn
    bool left = false, right = false;
};
editor_game g_editor_game;

editor_pointer pointer()
{
    const editor_game& g = g_editor_game;
    editor_pointer p;
    p.x = read_axis(g.axes[0]);
    p.y = read_axis(g.axes[1]);
    p.width = g.width;
    p.height = g.height;
    p.left = g.left;
    p.right = g.right;
    return p;
}

void begin(void*)
{
    editor_game& g = g_editor_game;
    editor_end(g.editor);
    g.editor = editor_begin(&g.w->track);
}

void end(void*)
{
    editor_game& g = g_editor_game;
    editor_end(g.editor);
    g.editor = nullptr;
}

bool key(void*, int code, int pressed)
{
    editor_game& g = g_editor_game;
    if (!g.editor)
        return false;
    if (code == mouse_left_code)
        g.left = pressed != 0;
    if (code == mouse_right_code)
        g.right = pressed != 0;
    return editor_key(g.editor, code, pressed != 0, pointer());
}

void tick(void*)
{
    if (g_editor_game.editor)
        editor_tick(g_editor_game.editor, pointer());
}

// Leaving the editor: the ground's detail catches up with the edits at
// once, and every bike standing in a raised ground is lifted clear of it.
void leave(void*)
{
    editor_game& g = g_editor_game;
    if (!g.editor || !g.w)
        return;
    heightfield* hf = &g.w->track.heightfield;
    terrain_update(hf, -1);
    for (int slot = 0; slot < RACE_SLOTS; slot++) {
        bike* b = g.w->race.slots[slot].b;
        if (!b)
            continue;
        translate_bike(b, 0, 0.125f, 0);
        for (int k = 0; k < 4096 && bike_touches_ground(b, hf); k++)
            translate_bike(b, 0, 0.25f, 0);
        translate_bike(b, 0, -0.125f, 0);
    }
}

void draw(void*, world*)
{
    editor_game& g = g_editor_game;
    if (!g.editor)
        return;
    GLint viewport[4] = {0, 0, 1, 1};
    glGetIntegerv(GL_VIEWPORT, viewport);
    g.width = viewport[2] > 0 ? viewport[2] : 1;
    g.height = viewport[3] > 0 ? viewport[3] : 1;
    editor_draw(g.editor, pointer());
}

void mark_dirty(heightfield* hf, int col0, int row0, int col1, int row1)
{
    terrain_mark_dirty(hf, col0, row0, col1, row1);
}

}  // namespace

void editor_game_install(world* w, int pointer_x_axis, int pointer_y_axis, player_hooks* hooks, view_hooks* views)
{
    editor_game& g = g_editor_game;
    g.w = w;
    g.axes[0] = pointer_x_axis;
    g.axes[1] = pointer_y_axis;
    g_track_hooks.editor_begin = begin;
    g_track_hooks.editor_end = end;
    g_editor_hooks.mark_dirty = mark_dirty;
    hooks->editor_key = key;
    hooks->editor_tick = tick;
    hooks->editor_leave = leave;
    views->editor = draw;
}

void editor_game_remove()
{
    g_track_hooks.editor_begin = nullptr;
    g_track_hooks.editor_end = nullptr;
    g_editor_hooks.mark_dirty = nullptr;
    end(nullptr);
    g_editor_game = editor_game();
}
