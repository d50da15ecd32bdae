// Empty object and tile tools, so that the editor links until the tools'
// own files replace this one.
#include "editor/editor.h"

void editor_tools_press(editor_state*, float, float) {}
void editor_tools_drag(editor_state*, float, float) {}
void editor_tools_release(editor_state*) {}
bool editor_tools_key(editor_state*, int, float, float) { return false; }
void editor_tools_widget(editor_state*, int) {}
void editor_tools_tick(editor_state*, float, float, bool) {}
void editor_tools_draw(const editor_state*, float) {}
void editor_tools_readout(const editor_state*, char* out, int size)
{
    if (out && size > 0)
        out[0] = 0;
}
void editor_tools_begin(editor_state*) {}
