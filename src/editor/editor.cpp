// The editor's life with a track, its panel (widgets, layout, values), the
// map's mapping, the input events and ticks with their dispatch to the
// tools, and the undo ring.
#include "editor/editor.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

#include "files/memory.h"
#include "platform/input.h"
#include "track/track.h"

editor_hooks g_editor_hooks;

namespace {

const char* const k_submodes[] = {"Assign", "Raise Only", "Lower Only"};
const char* const k_segment_types[] = {"Line", "Curve"};
const char* const k_no_yes[] = {"No", "Yes"};
const char* const k_orientations[] = {"Copy", "Random", "Flow", "Flow2", "Uphill"};
const char* const k_levels[] = {"Top", "Under Current", "Over Current", "Bottom"};

constexpr int always = EDITOR_WIDGET_SHOWN_ALWAYS;

#define BUTTON(label, shown) {editor_widget_button, label, 0, 0, 0, 0, nullptr, 0, shown}
#define CHOICE(label, initial, options, shown) \
    {editor_widget_choice, label, initial, 0, 0, 0, options, (int)(sizeof options / sizeof options[0]), shown}
#define SLIDER(label, initial, step, lo, hi, shown) {editor_widget_slider, label, initial, step, lo, hi, nullptr, 0, shown}

const editor_widget k_widgets[EDITOR_WIDGETS] = {
    BUTTON("Raise", always),
    BUTTON("Lower", always),
    BUTTON("Smooth", always),
    BUTTON("Smudge", always),
    BUTTON("Snap", always),
    BUTTON("Gradient Linear Paint", always),
    BUTTON("Gradient Linear Add", always),
    BUTTON("Gradient Radial Paint", always),
    BUTTON("Gradient Radial Add", always),
    BUTTON("Gradient Placement", always),
    BUTTON("Gradient Edit", always),
    BUTTON("Timing Gate", always),
    BUTTON("Billboards", always),
    BUTTON("Statues", always),
    BUTTON("Tilemap Edit", always),
    BUTTON("Decals", always),
    CHOICE("SubMode", 0, k_submodes, always),
    BUTTON("Save", always),
    SLIDER("Zoom", 1, 0.125f, -3, 8, always),
    SLIDER("Strength", 3, 0.25f, -5, 5, always),
    SLIDER("Focus", 0.5f, 0.03125f, 0, 1, always),
    SLIDER("Radius", 64, 1, 1, 128, always),
    SLIDER("Spacing", 1, 0.25f, 0.25f, 1000, editor_billboards),
    SLIDER("Height", 0, 0.25f, -50, 50, editor_billboards),
    BUTTON("New Gradient", editor_gradient_placement),
    BUTTON("Copy Gradient", editor_gradient_placement),
    CHOICE("Segment Type", 0, k_segment_types, editor_gradient_edit),
    SLIDER("Granularity", 0, 0.0625f, 0, 1, editor_gradient_edit),
    BUTTON("Set From Terrain", editor_gradient_edit),
    BUTTON("Flatten", editor_gradient_edit),
    BUTTON("Set AI Switch Point", editor_timing_gate),
    BUTTON("Clear AI Switch Point", editor_timing_gate),
    SLIDER("Tile", 0, 1, 0, 255, editor_tilemap),
    CHOICE("Show Collidable", 0, k_no_yes, editor_statues),
    BUTTON("Snap to Gradient", editor_statues),
    SLIDER("Spacing", 0.75f, 0.0625f, 0.25f, 4, editor_decals),
    CHOICE("Orientation", 2, k_orientations, editor_decals),
    CHOICE("Hide different", 0, k_no_yes, editor_decals),
    CHOICE("Level", 2, k_levels, editor_decals),
    BUTTON("dummy", EDITOR_WIDGET_NEVER_DRAWN),
};

#undef BUTTON
#undef CHOICE
#undef SLIDER

// The input codes the editor answers to besides typed characters, looked
// up once by name.
struct editor_codes {
    int mouse_left, mouse_right, left, right, up, down, enter, keypad_enter, space;
};

const editor_codes& codes()
{
    static const editor_codes c = {
        key_code_by_name("Mouse Left"), key_code_by_name("Mouse Right"), key_code_by_name("Left"),
        key_code_by_name("Right"),      key_code_by_name("Up"),          key_code_by_name("Down"),
        key_code_by_name("Enter"),      key_code_by_name("Keypad Enter"), key_code_by_name("Space"),
    };
    return c;
}

enum { tab_character = 9, backspace_character = 8, space_character = 32 };

bool brush_mode(int mode)
{
    return mode == editor_raise || mode == editor_lower || mode == editor_smooth || mode == editor_smudge ||
           (mode >= editor_gradient_linear_paint && mode <= editor_gradient_radial_add);
}

bool tools_mode(int mode)
{
    return mode >= editor_timing_gate && mode <= editor_decals;
}

// The modes whose strokes join at an anchor ("l", and cleared at release).
bool anchor_mode(int mode)
{
    return (mode >= editor_raise && mode <= editor_smudge) ||
           (mode >= editor_gradient_linear_paint && mode <= editor_gradient_edit) || mode == editor_tilemap;
}

bool tools_widget(int index)
{
    return index == EDITOR_BILLBOARD_SPACING || index == EDITOR_HEIGHT || (index >= 30 && index <= 38);
}

float clampf(float v, float lo, float hi)
{
    return v < lo ? lo : (v > hi ? hi : v);
}

void set_status(editor_state* e, const char* text)
{
    e->status = text;
}

void take_pending_snapshot(editor_state* e)
{
    if (e->snapshot_pending)
        editor_snapshot(e);
}

void select_mode(editor_state* e, int mode)
{
    if (mode == e->mode)
        return;
    take_pending_snapshot(e);
    set_status(e, "OK");
    e->mode = mode;
}

void ground_under(const editor_state* e, const editor_pointer& p, float* x, float* z)
{
    editor_ground_point(e, p.x, p.y, p.width, p.height, x, z);
}

// ---- widgets -----------------------------------------------------------------------

// A button pressed, or a slider or choice changed.
void widget_activated(editor_state* e, int index)
{
    if (index >= 0 && index < EDITOR_MODES) {
        select_mode(e, index);
        return;
    }
    switch (index) {
    case EDITOR_SAVE: editor_save(e); break;
    case EDITOR_NEW_GRADIENT: editor_new_gradient(e, e->pointer.width, e->pointer.height); break;
    case EDITOR_COPY_GRADIENT: editor_copy_gradient(e); break;
    case EDITOR_SET_FROM_TERRAIN: editor_gradient_from_terrain(e); break;
    case EDITOR_FLATTEN: editor_flatten_gradient(e); break;
    case EDITOR_SEGMENT_TYPE:
        if (e->current_gradient >= 0 && e->selected_point >= 0) {
            gradient& g = e->gradients[(size_t)e->current_gradient];
            if (e->selected_point < (int)g.segment_types.size())
                g.segment_types[(size_t)e->selected_point] = (uint8_t)e->widget_value[EDITOR_SEGMENT_TYPE];
        }
        break;
    default:
        if (tools_widget(index))
            editor_tools_widget(e, index);
        break;
    }
}

void step_widget(editor_state* e, int index, int direction)
{
    const editor_widget& w = k_widgets[index];
    float& v = e->widget_value[index];
    if (w.kind == editor_widget_slider) {
        v = clampf(v + w.step * (float)direction, w.minimum, editor_widget_maximum(e, index));
    } else if (w.kind == editor_widget_choice) {
        int c = (int)v + direction;
        c = ((c % w.option_count) + w.option_count) % w.option_count;
        v = (float)c;
    } else {
        return;
    }
    widget_activated(e, index);
}

// A slider's value for the pointer over its bar (the step nearest, halves
// up); false when the pointer is out of the bar's reach.
bool slider_follow(editor_state* e, int index, const editor_pointer& p)
{
    editor_layout l;
    editor_layout_panel(e, p.width, p.height, &l);
    const editor_rect& bar = l.bars[index];
    const editor_widget& w = k_widgets[index];
    const float x = (float)p.x;
    if (!(bar.right > bar.left) || x < bar.left - 15 || x > bar.right + 15)
        return false;
    const float maximum = editor_widget_maximum(e, index);
    const float steps = (x - bar.left) / (bar.right - bar.left) * (maximum - w.minimum) / w.step;
    const float v = clampf(w.minimum + w.step * floorf(steps + 0.5f), w.minimum, maximum);
    if (v == e->widget_value[index])
        return true;
    e->widget_value[index] = v;
    widget_activated(e, index);
    return true;
}

void widget_click(editor_state* e, int index, const editor_pointer& p)
{
    const editor_widget& w = k_widgets[index];
    if (index == EDITOR_DUMMY)
        return;
    if (w.kind == editor_widget_button)
        widget_activated(e, index);
    else if (w.kind == editor_widget_choice)
        step_widget(e, index, 1);
    else
        slider_follow(e, index, p);
}

void widget_key(editor_state* e, int index, int code)
{
    const editor_codes& c = codes();
    const editor_widget& w = k_widgets[index];
    if (index == EDITOR_DUMMY)
        return;
    if (code == c.left || code == c.right) {
        step_widget(e, index, code == c.left ? -1 : 1);
    } else if (w.kind == editor_widget_button &&
               (code == c.enter || code == c.keypad_enter || code == c.space || code == space_character)) {
        widget_activated(e, index);
    }
}

// ---- the map ------------------------------------------------------------------------

void map_press(editor_state* e, float x, float z)
{
    if (e->mode <= editor_snap) {
        take_pending_snapshot(e);
        set_status(e, "OK");
        if (e->mode == editor_smudge) {
            e->smudge_x = x;
            e->smudge_z = z;
        }
    } else if (e->mode == editor_gradient_placement || e->mode == editor_gradient_edit) {
        editor_gradient_press(e, x, z);
    } else if (tools_mode(e->mode)) {
        editor_tools_press(e, x, z);
    }
}

void map_release(editor_state* e)
{
    if (anchor_mode(e->mode))
        e->anchor_x = e->anchor_z = -1;
    if (e->mode <= editor_snap) {
        take_pending_snapshot(e);
        set_status(e, "OK");
    } else if (e->mode == editor_gradient_placement || e->mode == editor_gradient_edit) {
        editor_gradient_release(e);
    } else if (tools_mode(e->mode)) {
        editor_tools_release(e);
    }
}

// The keys of the map (no widget under the pointer), on a press.
bool map_key(editor_state* e, int code, const editor_pointer& p)
{
    const editor_codes& c = codes();
    const float V = editor_view_width(e);
    float* zoom = &e->widget_value[EDITOR_ZOOM];
    float* strength = &e->widget_value[EDITOR_STRENGTH];
    if (code == c.left || code == c.right) {
        e->view_centre_x += code == c.left ? -V / 4 : V / 4;
        return true;
    }
    if (code == c.up || code == c.down) {
        e->view_centre_z += code == c.up ? -V / 4 : V / 4;
        return true;
    }
    if (code >= 256 || code < 0)
        return false;
    float x, z;
    ground_under(e, p, &x, &z);
    switch (code) {
    case '=': *zoom += 0.5f; return true;
    case '-': *zoom = fmaxf(*zoom - 0.5f, -3.0f); return true;
    case ']': *strength = fminf(*strength + 0.25f, 5.0f); return true;
    case '[': *strength = fmaxf(*strength - 0.25f, -5.0f); return true;
    case 'l':
        if (!anchor_mode(e->mode))
            break;
        if (e->anchor_x == -1 && e->anchor_z == -1) {
            e->anchor_x = x;
            e->anchor_z = z;
        } else {
            e->anchor_x = e->anchor_z = -1;
        }
        return true;
    case 's': editor_save(e); return true;
    case 'p': export_scene(e); return true;
    case 'u':
        set_status(e, "OK");
        take_pending_snapshot(e);
        return true;
    case backspace_character: editor_undo(e); return true;
    case 'f': editor_flatten_gradient(e); return true;
    default: break;
    }
    if (code >= '1' && code <= '9') {
        static const int digit_modes[9] = {editor_smooth,
                                           editor_snap,
                                           editor_gradient_linear_paint,
                                           editor_gradient_linear_add,
                                           editor_gradient_radial_paint,
                                           editor_gradient_radial_add,
                                           editor_gradient_placement,
                                           editor_gradient_edit,
                                           editor_timing_gate};
        select_mode(e, digit_modes[code - '1']);
        return true;
    }
    if (e->mode == editor_billboards || e->mode == editor_statues || e->mode == editor_decals)
        return editor_tools_key(e, code, x, z);
    return false;
}

// The widget under the pointer is found again at every event and tick: a
// mode change moves the panel's rows under a pointer that stood still.
void track_pointer(editor_state* e, const editor_pointer& p)
{
    e->hover_widget = editor_widget_at(e, p.x, p.y, p.width, p.height);
    e->pointer = p;
}

void relight(editor_state* e)
{
    const terrain_light light = lighting_terrain_light(&e->t->lighting);
    heightfield_relight_dirty(e->hf, &light);
}

}  // namespace

// ---- the panel ------------------------------------------------------------------------

const editor_widget& editor_widget_info(int index)
{
    return k_widgets[index < 0 || index >= EDITOR_WIDGETS ? EDITOR_DUMMY : index];
}

float editor_widget_maximum(const editor_state* e, int index)
{
    if (index == EDITOR_TILE)
        return e->tile_max;
    return editor_widget_info(index).maximum;
}

bool editor_widget_shown(const editor_state* e, int index)
{
    const int shown = editor_widget_info(index).shown;
    return shown == always || shown == e->mode;
}

void editor_layout_panel(const editor_state* e, int width, int height, editor_layout* out)
{
    *out = editor_layout();
    const float H = (float)(height > 1 ? height : 1);
    const float u = fmaxf(10.0f, floorf(H / 40.0f));
    const float panel = fminf((float)(width > 1 ? width : 1), 16.0f * u);
    out->panel_width = panel;
    out->line = u;
    const float pad = 0.25f * u;
    int row = 0;
    auto place = [&](int index) {
        const float top = pad + (float)row * u;
        editor_rect& r = out->widgets[index];
        r = {pad, top, panel - pad, top + 0.9f * u};
        if (k_widgets[index].kind == editor_widget_slider) {
            const float w = r.right - r.left;
            out->bars[index] = {r.left + 0.6f * w, top + 0.3f * u, r.right - 0.2f * u, r.bottom - 0.3f * u};
        }
        row++;
    };
    for (int i = 0; i <= EDITOR_RADIUS; i++)
        place(i);
    out->radius_line = pad + (float)row * u;
    row += 2;
    for (int i = EDITOR_RADIUS + 1; i < EDITOR_DUMMY; i++)
        if (editor_widget_shown(e, i))
            place(i);
    out->readout_line = pad + (float)row * u;
    out->widgets[EDITOR_DUMMY] = {0, 0, panel, H};
}

int editor_widget_at(const editor_state* e, int x, int y, int width, int height)
{
    editor_layout l;
    editor_layout_panel(e, width, height, &l);
    const float px = (float)x, py = (float)y;
    for (int i = 0; i < EDITOR_WIDGETS; i++) {
        const editor_rect& r = l.widgets[i];
        if (px > r.left && px < r.right && py > r.top && py < r.bottom)
            return i;
    }
    return -1;
}

void editor_widget_value_text(const editor_state* e, int index, char* out, int size)
{
    if (size <= 0)
        return;
    out[0] = 0;
    const editor_widget& w = editor_widget_info(index);
    const float v = e->widget_value[index];
    if (w.kind == editor_widget_slider) {
        snprintf(out, (size_t)size, "%.2f", (double)v);
    } else if (w.kind == editor_widget_choice) {
        const int c = (int)v;
        snprintf(out, (size_t)size, "%s", c >= 0 && c < w.option_count ? w.options[c] : "");
    }
}

// ---- the view ---------------------------------------------------------------------------

float editor_view_width(const editor_state* e)
{
    return e->extent / exp2f(e->widget_value[EDITOR_ZOOM]);
}

float editor_pixel_size(const editor_state* e, int height)
{
    return e->extent / (exp2f(e->widget_value[EDITOR_ZOOM]) * (float)(height > 1 ? height : 1));
}

float editor_pick_radius(const editor_state* e)
{
    return fmaxf(1.0f, editor_view_width(e) * 0.01f);
}

float editor_brush_radius(const editor_state* e, int height)
{
    return e->widget_value[EDITOR_RADIUS] * editor_pixel_size(e, height);
}

float editor_brush_inner_radius(const editor_state* e, int height)
{
    return e->widget_value[EDITOR_RADIUS] * e->widget_value[EDITOR_FOCUS] * editor_pixel_size(e, height);
}

float editor_brush_amount(const editor_state* e)
{
    return exp2f(e->widget_value[EDITOR_STRENGTH]);
}

void editor_ground_point(const editor_state* e, int px, int py, int width, int height, float* x, float* z)
{
    const float W = (float)(width > 1 ? width : 1), H = (float)(height > 1 ? height : 1);
    const float V = editor_view_width(e);
    *x = ((float)px - W / 2) / H * V + e->view_centre_x;
    *z = ((float)py - H / 2) / H * V + e->view_centre_z;
}

void editor_mode_readout(const editor_state* e, char* out, int size)
{
    if (size <= 0)
        return;
    out[0] = 0;
    const gradient* g = e->current_gradient >= 0 && e->current_gradient < (int)e->gradients.size()
                            ? &e->gradients[(size_t)e->current_gradient]
                            : nullptr;
    if (e->mode == editor_gradient_placement) {
        snprintf(out, (size_t)size, "Length: %.2f", g ? (double)gradient_length(*g) : 0.0);
    } else if (e->mode == editor_gradient_edit) {
        if (g && e->selected_point >= 0 && e->selected_point < (int)g->points.size())
            snprintf(out, (size_t)size, "Slope: %.3f\nHeight: %.2f", (double)gradient_point_slope(*g, e->selected_point),
                     (double)g->points[(size_t)e->selected_point].height);
    } else if (e->mode == editor_timing_gate || e->mode == editor_billboards) {
        editor_tools_readout(e, out, size);
    }
}

bool editor_sections_changed(const editor_state* e)
{
    const track_timing& t = e->t->timing_gates;
    if (t.checkpoint_count != e->lines_checkpoints || t.first_count != (int)e->lines_first_lap.size() ||
        t.normal_count != (int)e->lines_normal_lap.size())
        return true;
    for (int i = 0; i < t.first_count; i++)
        if (t.first_lap[i] != e->lines_first_lap[(size_t)i])
            return true;
    for (int i = 0; i < t.normal_count; i++)
        if (t.normal_lap[i] != e->lines_normal_lap[(size_t)i])
            return true;
    return false;
}

bool editor_gates_moved(const editor_state* e)
{
    const track_timing& t = e->t->timing_gates;
    if ((size_t)t.checkpoint_count * 3 != e->lines_gates.size())
        return true;
    for (int i = 0; i < t.checkpoint_count; i++) {
        const timing_gate& g = t.checkpoints[i];
        const float* was = &e->lines_gates[(size_t)i * 3];
        if (g.position.x != was[0] || g.position.z != was[1] || g.radius != was[2])
            return true;
    }
    return false;
}

// ---- life ----------------------------------------------------------------------------------

editor_state* editor_begin(track* t)
{
    if (!t || !t->heightfield.heights || t->heightfield.sample_count <= 0)
        return nullptr;
    void* memory = mem_alloc(sizeof(editor_state));
    if (!memory)
        return nullptr;
    editor_state* e = new (memory) editor_state();
    heightfield* hf = &t->heightfield;
    e->t = t;
    e->hf = hf;
    e->n = hf->sample_count;
    e->spacing = hf->spacing;
    e->extent = hf->extent;
    e->view_centre_x = e->view_centre_z = hf->extent / 2;
    for (int i = 0; i < EDITOR_WIDGETS; i++)
        e->widget_value[i] = k_widgets[i].initial;
    e->gradients.reserve(16);
    e->decal_group.reserve(16);
    e->working_heights.assign(hf->heights, hf->heights + (size_t)e->n * (size_t)e->n);
    editor_snapshot(e);
    editor_tools_begin(e);
    editor_read_info(e);
    e->status = "OK";
    hf->changed_marker = 0;

    const track_timing& timing = t->timing_gates;
    e->lines_checkpoints = timing.checkpoint_count;
    e->lines_first_lap.assign(timing.first_lap, timing.first_lap + timing.first_count);
    e->lines_normal_lap.assign(timing.normal_lap, timing.normal_lap + timing.normal_count);
    for (int i = 0; i < timing.checkpoint_count; i++) {
        const timing_gate& g = timing.checkpoints[i];
        e->lines_gates.insert(e->lines_gates.end(), {g.position.x, g.position.z, g.radius});
    }
    return e;
}

void editor_end(editor_state* e)
{
    if (!e)
        return;
    e->~editor_state();
    mem_free(e);
}

// ---- undo ----------------------------------------------------------------------------------

void editor_snapshot(editor_state* e)
{
    heightfield* hf = e->hf;
    const size_t count = (size_t)e->n * (size_t)e->n;
    e->snapshot_pending = false;
    e->working_heights.assign(hf->heights, hf->heights + count);
    hf->changed_marker &= ~4;
    editor_undo_slot& slot = e->undo_ring[e->undo_pos];
    slot.heights = e->working_heights;
    relight(e);
    if (hf->shading_map)
        slot.shading.assign(hf->shading_map, hf->shading_map + count * 3);
    else
        slot.shading.clear();
    if (hf->terrain_normal_map)
        slot.normals.assign(hf->terrain_normal_map, hf->terrain_normal_map + count * 3);
    else
        slot.normals.clear();
    e->undo_pos = (e->undo_pos + 1) % EDITOR_UNDO_SLOTS;
    e->undo_count = e->undo_count + 1 < EDITOR_UNDO_SLOTS ? e->undo_count + 1 : EDITOR_UNDO_SLOTS;
}

void editor_undo(editor_state* e)
{
    heightfield* hf = e->hf;
    set_status(e, "OK");
    take_pending_snapshot(e);
    // A race's terrain must not change under the riders.
    if (hf->frozen) {
        set_status(e, "Terrain is frozen!");
        return;
    }
    if (e->undo_count < 2) {
        set_status(e, "No more undo levels!");
        return;
    }
    e->undo_count -= 1;
    e->undo_pos = (e->undo_pos + EDITOR_UNDO_SLOTS - 1) % EDITOR_UNDO_SLOTS;
    const editor_undo_slot& slot = e->undo_ring[(e->undo_pos + EDITOR_UNDO_SLOTS - 1) % EDITOR_UNDO_SLOTS];
    const size_t count = (size_t)e->n * (size_t)e->n;
    if (slot.heights.size() != count)
        return;
    e->working_heights = slot.heights;
    memcpy(hf->heights, slot.heights.data(), count * sizeof(float));
    const size_t dirty_bytes = heightfield_dirty_bytes(hf);
    if (hf->shading_map && slot.shading.size() == count * 3)
        memcpy(hf->shading_map, slot.shading.data(), count * 3);
    if (hf->shading_dirty)
        memset(hf->shading_dirty, 0, dirty_bytes);
    if (hf->terrain_normal_map && slot.normals.size() == count * 3) {
        memcpy(hf->terrain_normal_map, slot.normals.data(), count * 3);
        if (hf->normal_dirty)
            memset(hf->normal_dirty, 0, dirty_bytes);
    }
    hf->modify_count += 1;
    // The terrain differs from what was saved, but is the snapshot itself:
    // no new snapshot is due.
    hf->changed_marker |= 2;
    if (g_editor_hooks.mark_dirty)
        g_editor_hooks.mark_dirty(hf, 0, 0, e->n, e->n);
    set_status(e, "Undo!");
}

// ---- input ----------------------------------------------------------------------------------

bool editor_key(editor_state* e, int code, bool pressed, const editor_pointer& p)
{
    if (!e)
        return false;
    const editor_codes& c = codes();
    if (pressed && code >= 0 && code < 256) {
        if (code >= 32 && code < 127)
            snprintf(e->status_buffer, sizeof e->status_buffer, "Pressed 0x%02x ('%c')", code, code);
        else
            snprintf(e->status_buffer, sizeof e->status_buffer, "Pressed 0x%02x", code);
        e->status = e->status_buffer;
    }
    track_pointer(e, p);

    if (code == c.mouse_left) {
        if (pressed) {
            e->hold_ticks = 0;
            if (e->hover_widget >= 0) {
                e->press = e->hover_widget;
                widget_click(e, e->hover_widget, p);
            } else {
                e->press = editor_press_map;
                float x, z;
                ground_under(e, p, &x, &z);
                map_press(e, x, z);
            }
        } else {
            if (e->press == editor_press_map)
                map_release(e);
            e->press = editor_press_none;
        }
        return true;
    }
    if (code == c.mouse_right) {
        e->pan_active = pressed;
        e->pan_x = p.x;
        e->pan_y = p.y;
        return true;
    }
    // Tab always goes on to the view cycle, so the editor can be left from
    // anywhere in its window.
    if (e->hover_widget >= 0 && code != tab_character) {
        if (pressed)
            widget_key(e, e->hover_widget, code);
        return true;
    }
    if (!pressed)
        return false;
    return map_key(e, code, p);
}

void editor_tick(editor_state* e, const editor_pointer& p)
{
    if (!e)
        return;
    if ((e->hf->changed_marker & 4) && !e->snapshot_pending) {
        e->snapshot_pending = true;
        set_status(e, "Update needed!");
    }
    track_pointer(e, p);
    if (e->pan_active) {
        const float S = editor_pixel_size(e, p.height);
        e->view_centre_x += (float)(e->pan_x - p.x) * S;
        e->view_centre_z += (float)(e->pan_y - p.y) * S;
        e->pan_x = p.x;
        e->pan_y = p.y;
    }
    if (e->press >= 0 && e->press < EDITOR_WIDGETS && editor_widget_info(e->press).kind == editor_widget_slider &&
        editor_widget_shown(e, e->press))
        slider_follow(e, e->press, p);

    float x, z;
    ground_under(e, p, &x, &z);
    const bool held = e->press == editor_press_map;
    if (tools_mode(e->mode)) {
        if (held)
            editor_tools_drag(e, x, z);
        editor_tools_tick(e, x, z, held);
    } else if (held) {
        if (brush_mode(e->mode) && e->hold_ticks % 32 == 0)
            editor_brush(e, x, z, p.height);
        else if (e->mode == editor_snap && e->hold_ticks % 16 == 0)
            editor_snap_block(e, x, z);
        else if (e->mode == editor_gradient_placement || e->mode == editor_gradient_edit)
            editor_gradient_drag(e, x, z);
    }
    if (held)
        e->hold_ticks++;
}
