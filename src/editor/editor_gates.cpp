// The timing-gate tool: picking a checkpoint by its centre, its arrow tip
// or the back half of its circle, moving, turning and resizing it, and
// marking whether it cuts the robots' racing lines into sections.
#include <cstdio>

#include "editor/editor_tools_internal.h"

namespace edtools {

namespace {

track_timing* timing_of(editor_state* e)
{
    return e->t ? &e->t->timing_gates : nullptr;
}

bool valid_gate(const track_timing* t, int i)
{
    return t && i >= 0 && i < t->checkpoint_count;
}

// The tip of a checkpoint's arrow: its direction at the length of its radius.
void arrow_tip(const timing_gate& g, float* x, float* z)
{
    const float len = sqrtf(g.direction.x * g.direction.x + g.direction.z * g.direction.z);
    *x = g.position.x;
    *z = g.position.z;
    if (len > 0.0f) {
        *x += g.direction.x / len * g.radius;
        *z += g.direction.z / len * g.radius;
    }
}

int count_real(const int* entries, int count)
{
    int n = 0;
    for (int k = 0; k < count; k++)
        n += entries[k] < GATE_NO_SECTION;
    return n;
}

// Rewrites every entry equal to from as to; returns how many.
int rewrite(int* entries, int count, int from, int to)
{
    int n = 0;
    for (int k = 0; k < count; k++)
        if (entries[k] == from) {
            entries[k] = to;
            n++;
        }
    return n;
}

}  // namespace

void gates_press(editor_state* e, float x, float z)
{
    const track_timing* t = timing_of(e);
    e->selected_gate = -1;
    e->drag = 0;
    if (!t)
        return;
    const float half = pick_radius(e) * 0.5f;
    for (int i = 0; i < t->checkpoint_count; i++) {
        const timing_gate& g = t->checkpoints[i];
        float tx, tz;
        arrow_tip(g, &tx, &tz);
        if (near_point(g.position.x, g.position.z, x, z, half) || near_point(tx, tz, x, z, half)) {
            e->selected_gate = i;
            e->drag = near_point(g.position.x, g.position.z, x, z, half) ? 1 : 2;
            return;
        }
    }
    for (int i = 0; i < t->checkpoint_count; i++) {
        const timing_gate& g = t->checkpoints[i];
        const float dx = x - g.position.x, dz = z - g.position.z;
        if (dx * dx + dz * dz <= g.radius * g.radius && dx * g.direction.x + dz * g.direction.z < 0.0f) {
            e->selected_gate = i;
            return;
        }
    }
}

void gates_drag(editor_state* e, float x, float z)
{
    track_timing* t = timing_of(e);
    if (frozen(e) || !valid_gate(t, e->selected_gate))
        return;
    timing_gate& g = t->checkpoints[e->selected_gate];
    if (e->drag == 1) {
        if (g.position.x == x && g.position.z == z && g.position.y == 0.0f)
            return;
        g.position = vec3{x, 0.0f, z};
        mark_changed(e);
    } else if (e->drag == 2) {
        const float dx = x - g.position.x, dz = z - g.position.z;
        const float len = sqrtf(dx * dx + dz * dz);
        // A pointer on the centre gives no direction: a gate of radius 0
        // facing nowhere could never be passed.
        if (!(len > 0.0f) || (g.direction.x == dx && g.direction.z == dz && g.radius == len))
            return;
        g.direction = vec3{dx, 0.0f, dz};
        g.radius = len;
        mark_changed(e);
    }
}

void gates_widget(editor_state* e, int widget)
{
    track_timing* t = timing_of(e);
    if (!valid_gate(t, e->selected_gate))
        return;
    const int plain = e->selected_gate, marked = e->selected_gate + GATE_NO_SECTION;
    if (widget == widget_set_switch) {
        if (rewrite(t->first_lap, t->first_count, marked, plain) + rewrite(t->normal_lap, t->normal_count, marked, plain))
            mark_changed(e);
    } else if (widget == widget_clear_switch) {
        // Each lap keeps at least one section boundary: a track whose lap
        // has none loads without timing, and the robots would lose every
        // line of it.
        int first = 0, normal = 0;
        for (int k = 0; k < t->first_count; k++)
            first += t->first_lap[k] == plain;
        for (int k = 0; k < t->normal_count; k++)
            normal += t->normal_lap[k] == plain;
        if (first + normal == 0)
            return;
        if ((first > 0 && first == t->first_real) || (normal > 0 && normal == t->normal_real)) {
            e->status = "A lap needs a switch point!";
            return;
        }
        rewrite(t->first_lap, t->first_count, plain, marked);
        rewrite(t->normal_lap, t->normal_count, plain, marked);
        mark_changed(e);
    } else {
        return;
    }
    t->first_real = count_real(t->first_lap, t->first_count);
    t->normal_real = count_real(t->normal_lap, t->normal_count);
}

void gates_readout(const editor_state* e, char* out, int size)
{
    const track_timing* t = e->t ? &e->t->timing_gates : nullptr;
    if (!valid_gate(t, e->selected_gate)) {
        snprintf(out, (size_t)size, "%s", "");
        return;
    }
    const int plain = e->selected_gate, marked = e->selected_gate + GATE_NO_SECTION;
    int p = 0, m = 0;
    for (int k = 0; k < t->first_count; k++) {
        p += t->first_lap[k] == plain;
        m += t->first_lap[k] == marked;
    }
    for (int k = 0; k < t->normal_count; k++) {
        p += t->normal_lap[k] == plain;
        m += t->normal_lap[k] == marked;
    }
    const char* text = p > 0 && m > 0 ? "Switch Point: Mixed"
                       : m > 0        ? "Switch Point: No"
                       : p > 0        ? "Switch Point: Yes"
                                      : "Gate not referenced";
    snprintf(out, (size_t)size, "%s", text);
}

}  // namespace edtools
