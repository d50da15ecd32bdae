// The billboard and statue tools: picking, copying (single copies and rows
// of evenly spaced billboards), moving and turning statues with their
// orientation rules, deleting everything but the objects the track itself
// made (start gate pieces, flaggers), interpolating a run of statues and
// snapping a statue to the current gradient.
#include <cstdio>
#include <cstring>

#include "editor/editor_tools_internal.h"
#include "files/memory.h"

namespace edtools {

namespace {

// ---- billboards ------------------------------------------------------------------

bool valid_billboard(const track_objects& o, int i)
{
    return i >= 0 && i < o.billboards.count && o.billboards.items[i].sprite_index >= 0 &&
           o.billboards.items[i].sprite_index < o.sprites.count;
}

const sprite& sprite_of(const track_objects& o, int billboard)
{
    return o.sprites.items[o.billboards.items[billboard].sprite_index];
}

// Cycling once through the billboards from the one after the selection:
// the first whose foot lies within radius of (x, z), or -1.
int billboard_at(const editor_state* e, float x, float z, float radius)
{
    const track_objects& o = e->t->objects;
    const int n = o.billboards.count;
    const int from = e->selected_billboard >= 0 && e->selected_billboard < n ? e->selected_billboard + 1 : 0;
    for (int k = 0; k < n; k++) {
        const int i = (from + k) % n;
        if (valid_billboard(o, i) && near_point(sprite_of(o, i).x, sprite_of(o, i).z, x, z, radius))
            return i;
    }
    return -1;
}

// A copy of the selected billboard standing at (x, z): its offset, size,
// aspect, picture and colour. Returns the copy's index.
int copy_billboard(editor_state* e, float x, float z)
{
    track_objects& o = e->t->objects;
    const int from = e->selected_billboard;
    const sprite original = sprite_of(o, from);
    const char* name = o.billboards.items[from].texture_name;
    // The name is copied before the list may move.
    char* kept = name ? mem_strdup(name) : nullptr;
    const int index =
        billboard_add(&o, ground_of(e), x, original.y_offset, z, original.size, original.aspect, kept ? kept : "");
    mem_free(kept);
    sprite& s = o.sprites.items[o.billboards.items[index].sprite_index];
    memcpy(s.colour, original.colour, sizeof s.colour);
    s.texture = original.texture;
    mark_changed(e);
    return index;
}

// ---- statues -------------------------------------------------------------------------

bool valid_statue(const track_objects& o, int i)
{
    return i >= 0 && i < o.statues.count;
}

// The heading a statue takes when turned to a: a camera-facing statue
// keeps its angle, an upright-only one stays upright.
float turned_angle(const statue& s, float a)
{
    a = wrap_angle(a);
    if (s.angle >= statue_facing_angle)
        return s.angle;
    if (s.angle <= statue_heading_only)
        return a - 4.0f * pi;
    return a;
}

bool same_name(const char* a, const char* b)
{
    if (!a || !b)
        return a == b;
    return strcmp(a, b) == 0;
}

void rebuild_bins(editor_state* e)
{
    statue_bins_build(&e->t->objects, ground_of(e));
}

}  // namespace

// ---- billboards ------------------------------------------------------------------

void billboards_press(editor_state* e, float x, float z)
{
    track_objects& o = e->t->objects;
    e->drag = 0;
    if (o.billboards.count == 0)
        return;
    const int hit = billboard_at(e, x, z, pick_radius(e) * 0.5f);
    if (hit >= 0) {
        e->selected_billboard = hit;
        e->widget_value[widget_height] = sprite_of(o, hit).y_offset;
        e->last_copy = -1;
        return;
    }
    if (valid_billboard(o, e->selected_billboard))
        e->last_copy = copy_billboard(e, x, z);
}

void billboards_drag(editor_state* e, float x, float z)
{
    const track_objects& o = e->t->objects;
    if (!valid_billboard(o, e->selected_billboard) || !valid_billboard(o, e->last_copy))
        return;
    const sprite& last = sprite_of(o, e->last_copy);
    const float s = e->widget_value[widget_billboard_spacing] * last.aspect * last.size;
    if (distance_sq(x, z, last.x, last.z) < s * s)
        return;
    for (int i = 0; i < o.billboards.count; i++)
        if (valid_billboard(o, i) && distance_sq(x, z, sprite_of(o, i).x, sprite_of(o, i).z) < s * s)
            return;
    e->last_copy = copy_billboard(e, x, z);
}

bool billboards_key(editor_state* e, int code, float x, float z)
{
    if (code != 127 && code != 'x')
        return false;
    track_objects& o = e->t->objects;
    const int hit = o.billboards.count > 0 ? billboard_at(e, x, z, pick_radius(e) * 0.5f) : -1;
    if (hit < 0 || o.billboards.items[hit].sprite_index < e->t->fixed_sprites)
        return true;
    billboard_remove(&o, hit, &e->t->particle_sprites);
    auto follow = [hit](int& k) {
        if (k == hit)
            k = -1;
        else if (k > hit)
            k--;
    };
    follow(e->selected_billboard);
    follow(e->last_copy);
    mark_changed(e);
    return true;
}

void billboards_height(editor_state* e)
{
    track_objects& o = e->t->objects;
    if (!valid_billboard(o, e->selected_billboard))
        return;
    sprite& s = o.sprites.items[o.billboards.items[e->selected_billboard].sprite_index];
    const float offset = e->widget_value[widget_height];
    s.y_offset = offset;
    s.y = heightfield_height_at(ground_of(e), s.x, s.z) + offset;
    mark_changed(e);
}

void billboards_readout(const editor_state* e, char* out, int size)
{
    const track_objects& o = e->t->objects;
    const char* name = valid_billboard(o, e->selected_billboard) ? o.billboards.items[e->selected_billboard].texture_name
                                                                 : nullptr;
    snprintf(out, (size_t)size, "%s", name && *name ? name : "[none]");
}

// ---- statues -------------------------------------------------------------------------

void statues_press(editor_state* e, float x, float z)
{
    const track_objects& o = e->t->objects;
    const float r = pick_radius(e), half = r * 0.5f;
    for (int i = 0; i < o.statues.count; i++)
        if (near_point(o.statues.items[i].x, o.statues.items[i].z, x, z, half)) {
            e->selected_statue = i;
            e->drag = 1;
            return;
        }
    for (int i = 0; i < o.statues.count; i++) {
        const statue& s = o.statues.items[i];
        float hx, hz;
        handle_of(s.x, s.z, s.angle, r, &hx, &hz);
        if (near_point(hx, hz, x, z, half)) {
            e->selected_statue = i;
            e->drag = 2;
            return;
        }
    }
    e->selected_statue = -1;
    e->drag = 0;
}

void statues_drag(editor_state* e, float x, float z)
{
    track_objects& o = e->t->objects;
    if (frozen(e) || !valid_statue(o, e->selected_statue))
        return;
    statue& s = o.statues.items[e->selected_statue];
    if (e->drag == 1) {
        if (s.x == x && s.z == z)
            return;
        s.x = x;
        s.z = z;
        statue_place(&s, ground_of(e));
        rebuild_bins(e);
        mark_changed(e);
    } else if (e->drag == 2) {
        if (s.x == x && s.z == z)
            return;
        const float a = turned_angle(s, atan2f(s.x - x, s.z - z));
        if (a == s.angle)
            return;
        s.angle = a;
        statue_place(&s, ground_of(e));
        mark_changed(e);
    }
}

namespace {

void delete_statue(editor_state* e, float x, float z)
{
    track_objects& o = e->t->objects;
    const float half = pick_radius(e) * 0.5f;
    for (int i = e->t->fixed_statues; i < o.statues.count; i++) {
        if (!near_point(o.statues.items[i].x, o.statues.items[i].z, x, z, half))
            continue;
        statue_remove(&o, i);
        if (e->selected_statue == i)
            e->selected_statue = -1;
        else if (e->selected_statue > i)
            e->selected_statue--;
        rebuild_bins(e);
        mark_changed(e);
        return;
    }
}

void copy_statue(editor_state* e, float x, float z)
{
    track_objects& o = e->t->objects;
    if (!valid_statue(o, e->selected_statue))
        return;
    const statue& s = o.statues.items[e->selected_statue];
    // statue_add may move the list: the names are copied first.
    char* names[3] = {s.model_name ? mem_strdup(s.model_name) : nullptr,
                      s.texture_name ? mem_strdup(s.texture_name) : nullptr,
                      s.shape_name ? mem_strdup(s.shape_name) : nullptr};
    statue_add(&o, ground_of(e), x, s.y_offset, z, s.angle, names[0], names[1], names[2], &g_track_hooks.objects);
    for (char* name : names)
        mem_free(name);
    rebuild_bins(e);
    mark_changed(e);
}

void interpolate_statues(editor_state* e)
{
    track_objects& o = e->t->objects;
    const int s = e->selected_statue, c = o.statues.count;
    if (!valid_statue(o, s) || c - 1 - s < 2)
        return;
    const statue& first = o.statues.items[s];
    for (int k = s + 1; k < c; k++)
        if (!same_name(o.statues.items[k].model_name, first.model_name) ||
            !same_name(o.statues.items[k].texture_name, first.texture_name)) {
            e->status = "Bad match for interpolate!";
            return;
        }
    const statue& last = o.statues.items[c - 1];
    const float span = (float)(c - 1 - s);
    for (int k = s + 1; k < c - 1; k++) {
        statue& m = o.statues.items[k];
        const float f = (float)(k - s) / span;
        m.x = first.x + (last.x - first.x) * f;
        m.z = first.z + (last.z - first.z) * f;
        statue_place(&m, ground_of(e));
    }
    rebuild_bins(e);
    mark_changed(e);
}

}  // namespace

bool statues_key(editor_state* e, int code, float x, float z)
{
    switch (code) {
    case 127:
    case 'x':
        if (!frozen(e))
            delete_statue(e, x, z);
        return true;
    case 'd':
        if (!frozen(e))
            copy_statue(e, x, z);
        return true;
    case 'i':
        if (!frozen(e))
            interpolate_statues(e);
        return true;
    default:
        return false;
    }
}

void statues_snap_to_gradient(editor_state* e)
{
    track_objects& o = e->t->objects;
    if (frozen(e) || !valid_statue(o, e->selected_statue) || e->current_gradient < 0 ||
        e->current_gradient >= (int)e->gradients.size())
        return;
    const gradient& g = e->gradients[(size_t)e->current_gradient];
    statue& s = o.statues.items[e->selected_statue];
    const float px = s.x - g.x0, pz = s.z - g.z0;
    const float d = sqrtf(px * px + pz * pz);
    float target = 0.0f;
    bool any = false;
    for (const profile_point& q : g.points)
        if (!any || fabsf(q.distance - d) < fabsf(target - d)) {
            target = q.distance;
            any = true;
        }
    const float ax = g.x1 - g.x0, az = g.z1 - g.z0;
    const float axis_sq = ax * ax + az * az;
    const float along = axis_sq > 0.0f ? (px * ax + pz * az) / axis_sq : 0.0f;
    const float fx = ax * along, fz = az * along;
    const float off = sqrtf((px - fx) * (px - fx) + (pz - fz) * (pz - fz));
    // A statue standing on the start (or a gradient of no length) has no
    // direction of its own: the gradient's axis stands in for it.
    const float axis_len = sqrtf(axis_sq);
    const float ux = axis_len > 0.0f ? ax / axis_len : 0.0f, uz = axis_len > 0.0f ? az / axis_len : 1.0f;
    float heading;
    if (off < fabsf(target - d)) {
        s.x = g.x0 + fx;
        s.z = g.z0 + fz;
        const bool at_start = fx == 0.0f && fz == 0.0f;
        heading = at_start ? atan2f(-ux, -uz) : atan2f(-fx, -fz);
    } else {
        const float dx = d > 0.0f ? px / d : ux, dz = d > 0.0f ? pz / d : uz;
        s.x = g.x0 + dx * target;
        s.z = g.z0 + dz * target;
        heading = atan2f(-dz, dx);
    }
    s.angle = turned_angle(s, heading);
    statue_place(&s, ground_of(e));
    rebuild_bins(e);
    mark_changed(e);
}

}  // namespace edtools
