// The decal tool: picking (only the current decal's picture with "Hide
// different"), moving and turning the current decal with its group,
// painting chains of copies, the copy rule (orientation and level), the
// group keys and deleting.
#include <algorithm>
#include <cstring>
#include <string>

#include "editor/editor_tools_internal.h"
#include "files/memory.h"

namespace edtools {

namespace {

decal_set* set_of(const editor_state* e)
{
    const heightfield* hf = ground_of(e);
    return hf ? hf->decals : nullptr;
}

bool valid_decal(const editor_state* e, int i)
{
    const decal_set* set = set_of(e);
    return set && i >= 0 && i < set->count;
}

const decal& decal_at(const editor_state* e, int i)
{
    return set_of(e)->items[i];
}

bool same_picture(const decal& a, const decal& b)
{
    if (a.texture_name && b.texture_name)
        return strcmp(a.texture_name, b.texture_name) == 0;
    return a.texture_name == b.texture_name && a.texture == b.texture && a.pixels == b.pixels;
}

void handle_point(const editor_state* e, const decal& d, float* hx, float* hz)
{
    handle_of(d.x, d.z, d.angle, pick_radius(e), hx, hz);
}

float spacing_of(const editor_state* e)
{
    return e->widget_value[widget_decal_spacing];
}

// The point half a spaced length behind a decal's centre.
void back_point(const editor_state* e, const decal& d, float* bx, float* bz)
{
    const float half = d.size * spacing_of(e) * 0.5f;
    *bx = d.x - d.sin_angle * half;
    *bz = d.z - d.cos_angle * half;
}

// Where the level rule puts a copy of decal i.
int insertion_index(const editor_state* e, int i)
{
    const decal_set* set = set_of(e);
    switch (choice_of(e, widget_level)) {
    case level_bottom:
        return 0;
    case level_under_current: {
        int k = i;
        while (k > 0 && same_picture(set->items[k - 1], set->items[i]))
            k--;
        return k;
    }
    case level_over_current: {
        int k = i;
        while (k + 1 < set->count && same_picture(set->items[k + 1], set->items[i]))
            k++;
        return k + 1;
    }
    default:
        return set->count;
    }
}

// A copy of decal i's record owning copies of its name and picture.
decal duplicate(const decal& d)
{
    decal out = d;
    out.texture_name = d.texture_name ? mem_strdup(d.texture_name) : nullptr;
    out.pixels = nullptr;
    if (d.pixels && d.picture_width > 0 && d.picture_height > 0) {
        const size_t bytes = (size_t)d.picture_width * (size_t)d.picture_height * 4;
        out.pixels = (uint8_t*)mem_alloc_or_die(bytes);
        memcpy(out.pixels, d.pixels, bytes);
    }
    return out;
}

// Inserts a copy of decal `from` at (x, z) and angle a by the level rule;
// every index the editor keeps (current, group, extra) follows the shift.
// Returns the copy's index.
int insert_copy(editor_state* e, int from, float x, float z, float a, std::vector<int>* extra)
{
    const int at = insertion_index(e, from);
    decal d = duplicate(decal_at(e, from));
    d.x = x;
    d.z = z;
    d.angle = wrap_angle(a);
    const int index = decal_insert(ground_of(e), at, &d);
    auto follow = [index](int& k) {
        if (k >= index)
            k++;
    };
    follow(e->current_decal);
    for (int& k : e->decal_group)
        follow(k);
    if (extra)
        for (int& k : *extra)
            follow(k);
    return index;
}

// Offset (vx, vz) turned by delta, the way a decal's angle turns.
void turn_offset(float vx, float vz, float delta, float* ox, float* oz)
{
    const float c = cosf(delta), s = sinf(delta);
    *ox = vx * c + vz * s;
    *oz = -vx * s + vz * c;
}

// The copy rule: a copy of the current decal at the pointer (or, for "d",
// a spaced step from the current one toward it), angled by the
// orientation, then the group copied around it; the copies become the
// current decal and the group.
void copy_current(editor_state* e, float px, float pz, bool step)
{
    if (!valid_decal(e, e->current_decal))
        return;
    const decal cur = decal_at(e, e->current_decal);  // shallow: only read before the list changes
    const float spacing = spacing_of(e);
    const float length = cur.size * spacing;
    float x = px, z = pz;
    if (step) {
        float dx = px - cur.x, dz = pz - cur.z;
        const float len = sqrtf(dx * dx + dz * dz);
        if (len > 0.0f) {
            dx /= len;
            dz /= len;
        } else {
            // A pointer on the centre: continue the way the decal runs.
            dx = -cur.sin_angle;
            dz = -cur.cos_angle;
        }
        x = cur.x + dx * length;
        z = cur.z + dz * length;
    }
    float a = cur.angle;
    switch (choice_of(e, widget_orientation)) {
    case orientation_random:
        a = (random_unit(e) * 2.0f - 1.0f) * pi;
        break;
    case orientation_flow:
        a = atan2f(cur.x - x, cur.z - z);
        break;
    case orientation_flow2: {
        float bx, bz;
        back_point(e, cur, &bx, &bz);
        a = atan2f(bx - x, bz - z);
        const float half = length * 0.5f;
        if (step) {
            x = bx - sinf(a) * half;
            z = bz - cosf(a) * half;
        } else {
            x += sinf(a) * half;
            z += cosf(a) * half;
        }
        break;
    }
    case orientation_uphill: {
        vec3 n = heightfield_face_normal_at(ground_of(e), x, z);
        const float len = sqrtf(n.x * n.x + n.y * n.y + n.z * n.z);
        const float nx = len > 0.0f ? n.x / len : 0.0f, nz = len > 0.0f ? n.z / len : 0.0f;
        a = nx * nx + nz * nz < 1.0f / 1024.0f ? (random_unit(e) * 2.0f - 1.0f) * pi : atan2f(nx, nz);
        break;
    }
    default:
        break;
    }
    const float delta = a - cur.angle;
    // The members, then their copies as they are made: every insertion
    // shifts them all.
    std::vector<int> tracked = e->decal_group;
    const size_t members = tracked.size();
    e->decal_group.clear();
    e->current_decal = insert_copy(e, e->current_decal, x, z, a, &tracked);
    for (size_t k = 0; k < members; k++) {
        const decal m = decal_at(e, tracked[k]);
        const decal& now = decal_at(e, e->current_decal);
        float ox, oz;
        turn_offset(m.x - cur.x, m.z - cur.z, delta, &ox, &oz);
        const float cx = now.x + ox, cz = now.z + oz;
        const int index = insert_copy(e, tracked[k], cx, cz, m.angle + delta, &tracked);
        tracked.push_back(index);
    }
    e->decal_group.assign(tracked.begin() + (long)members, tracked.end());
    mark_changed(e);
}

// Every pickable decal other than the current one whose centre or handle
// lies within radius of the pointer.
std::vector<int> decals_near(const editor_state* e, float x, float z, float radius)
{
    std::vector<int> out;
    const decal_set* set = set_of(e);
    if (!set)
        return out;
    for (int i = 0; i < set->count; i++) {
        if (i == e->current_decal || !decal_pickable(e, i))
            continue;
        const decal& d = set->items[i];
        float hx, hz;
        handle_point(e, d, &hx, &hz);
        if (near_point(d.x, d.z, x, z, radius) || near_point(hx, hz, x, z, radius))
            out.push_back(i);
    }
    return out;
}

void scale_group(editor_state* e, float factor)
{
    if (!valid_decal(e, e->current_decal) || e->decal_group.empty())
        return;
    const decal cur = decal_at(e, e->current_decal);
    for (int k : e->decal_group) {
        if (!valid_decal(e, k))
            continue;
        const decal& m = decal_at(e, k);
        decal_move(ground_of(e), k, cur.x + (m.x - cur.x) * factor, cur.z + (m.z - cur.z) * factor, m.angle);
    }
    mark_changed(e);
}

void remove_decal(editor_state* e, int index)
{
    const std::string picture = decal_at(e, index).texture_name ? decal_at(e, index).texture_name : "";
    const decal gone_shape = decal_at(e, index);
    const bool was_current = e->current_decal == index;
    decal_remove(ground_of(e), index);
    std::vector<int>& group = e->decal_group;
    group.erase(std::remove(group.begin(), group.end(), index), group.end());
    for (int& k : group)
        if (k > index)
            k--;
    if (was_current) {
        group.clear();
        e->current_decal = -1;
        const decal_set* set = set_of(e);
        for (int i = set->count - 1; i >= 0; i--) {
            const decal& d = set->items[i];
            const bool same = gone_shape.texture_name ? (d.texture_name && picture == d.texture_name)
                                                      : (!d.texture_name && d.texture == gone_shape.texture);
            if (same) {
                e->current_decal = i;
                break;
            }
        }
    } else if (e->current_decal > index) {
        e->current_decal--;
    }
    mark_changed(e);
}

void delete_within(editor_state* e, float x, float z, float radius)
{
    const decal_set* set = set_of(e);
    if (!set)
        return;
    for (int i = set->count - 1; i >= 0; i--) {
        if (i >= set_of(e)->count)
            continue;
        const decal& d = set_of(e)->items[i];
        if (decal_pickable(e, i) && near_point(d.x, d.z, x, z, radius))
            remove_decal(e, i);
    }
}

}  // namespace

bool decal_pickable(const editor_state* e, int i)
{
    if (!valid_decal(e, i))
        return false;
    if (choice_of(e, widget_hide_different) != 1 || !valid_decal(e, e->current_decal))
        return true;
    return same_picture(decal_at(e, i), decal_at(e, e->current_decal));
}

void decals_press(editor_state* e, float x, float z)
{
    const decal_set* set = set_of(e);
    e->drag = 0;
    if (!set)
        return;
    const float half = pick_radius(e) * 0.5f;
    auto pick = [&](int i, int drag) {
        if (i != e->current_decal)
            e->decal_group.clear();
        e->current_decal = i;
        e->drag = drag;
    };
    for (int i = 0; i < set->count; i++)
        if (decal_pickable(e, i) && near_point(set->items[i].x, set->items[i].z, x, z, half)) {
            pick(i, 1);
            return;
        }
    for (int i = 0; i < set->count; i++) {
        float hx, hz;
        handle_point(e, set->items[i], &hx, &hz);
        if (decal_pickable(e, i) && near_point(hx, hz, x, z, half)) {
            pick(i, 2);
            return;
        }
    }
    copy_current(e, x, z, false);
}

void decals_drag(editor_state* e, float x, float z)
{
    if (!valid_decal(e, e->current_decal))
        return;
    const decal cur = decal_at(e, e->current_decal);
    heightfield* hf = ground_of(e);
    if (e->drag == 1) {
        const float dx = x - cur.x, dz = z - cur.z;
        if (fabsf(dx) < 0.001f && fabsf(dz) < 0.001f)
            return;
        decal_move(hf, e->current_decal, x, z, cur.angle);
        for (int k : e->decal_group)
            if (valid_decal(e, k)) {
                const decal& m = decal_at(e, k);
                decal_move(hf, k, m.x + dx, m.z + dz, m.angle);
            }
        mark_changed(e);
    } else if (e->drag == 2) {
        if (cur.x == x && cur.z == z)
            return;
        const float a = atan2f(cur.x - x, cur.z - z);
        if (fabsf(a - cur.angle) < 0.001f)
            return;
        const float delta = a - cur.angle;
        decal_move(hf, e->current_decal, cur.x, cur.z, a);
        for (int k : e->decal_group)
            if (valid_decal(e, k)) {
                const decal& m = decal_at(e, k);
                float ox, oz;
                turn_offset(m.x - cur.x, m.z - cur.z, delta, &ox, &oz);
                decal_move(hf, k, cur.x + ox, cur.z + oz, wrap_angle(m.angle + delta));
            }
        mark_changed(e);
    } else {
        float d = sqrtf(distance_sq(x, z, cur.x, cur.z));
        if (choice_of(e, widget_orientation) == orientation_flow2) {
            float bx, bz;
            back_point(e, cur, &bx, &bz);
            d = fminf(d, sqrtf(distance_sq(x, z, bx, bz)));
        }
        if (d > spacing_of(e) * cur.size)
            copy_current(e, x, z, false);
    }
}

bool decals_key(editor_state* e, int code, float x, float z)
{
    const float half = pick_radius(e) * 0.5f;
    switch (code) {
    case 'd':
        copy_current(e, x, z, true);
        return true;
    case 'm':
        for (int i : decals_near(e, x, z, half)) {
            std::vector<int>& g = e->decal_group;
            auto at = std::find(g.begin(), g.end(), i);
            if (at != g.end())
                g.erase(at);
            else
                g.push_back(i);
        }
        return true;
    case 'M':
        for (int i : decals_near(e, x, z, fmaxf(half, brush_radius(e))))
            if (std::find(e->decal_group.begin(), e->decal_group.end(), i) == e->decal_group.end())
                e->decal_group.push_back(i);
        return true;
    case '{':
        scale_group(e, 0.9375f);
        return true;
    case '}':
        scale_group(e, 16.0f / 15.0f);
        return true;
    case 127:
    case 'x':
        delete_within(e, x, z, half);
        return true;
    case 'X':
        delete_within(e, x, z, brush_radius(e));
        return true;
    default:
        return false;
    }
}

}  // namespace edtools
