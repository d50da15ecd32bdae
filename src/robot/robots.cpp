// The robots' record of a world and the hooks through which the world
// reaches it.
#include "robot/robots.h"

#include <new>

#include "files/memory.h"
#include "robot/auto_pilot.h"
#include "track/timing_gates.h"

namespace {

robot_state* state_of(void* context)
{
    return static_cast<robot_state*>(context);
}

void tick_hook(void* context, world* w, int slot, bike* b)
{
    auto_pilot_tick(state_of(context), w, slot, b);
}

void personality_hook(void*, bike* b, const char* name)
{
    set_personality(b, name);
}

void save_hook(void* context)
{
    robot_state* rs = state_of(context);
    lines_reset(&rs->lines, rs->options.learn);
}

void load_hook(void* context, int skill)
{
    robot_state* rs = state_of(context);
    lines_load(&rs->lines, rs->w, skill);
    // The track may have changed: its centre line is read again when a
    // robot needs it.
    rs->centre_line = rider_path();
    rs->centre_line_state = 0;
}

// A new ride: the picks of the last one are forgotten (its ticks meant
// another clock), and so is what was kept per slot.
void reset_hook(void* context)
{
    robot_state* rs = state_of(context);
    for (int r = 0; r < rs->lines.row_count; r++)
        for (racing_line& l : rs->lines.rows[r].lines)
            l.last_picked = 0;
    for (robot_slot& s : rs->slots)
        s = robot_slot();
}

void gate_hook(void* context, world* w, int slot, bike* b, bool passed)
{
    robot_state* rs = state_of(context);
    robot_slot* s = robots_slot(rs, slot, b);
    // Where a robot is on its path matters only at a gate.
    const float u = passed && b->personality != 0 ? auto_pilot_path_position(b) : 0.0f;
    lines_record_tick(&rs->lines, &s->lines, w, b, passed, u);
}

bool realign_hook(void* context, const world* w, const bike* b, vec3* target)
{
    return robots_realign_target(state_of(context), w, b, target);
}

void release_hook(void* context)
{
    robot_state* rs = state_of(context);
    lines_free(&rs->lines);
    rs->~robot_state();
    mem_free(rs);
}

}  // namespace

robot_state* robots_install(world* w, const robot_options& options)
{
    robot_state* rs = new (mem_alloc_or_die(sizeof(robot_state))) robot_state();
    rs->w = w;
    rs->options = options;
    rs->lines.debug = options.debug;
    robot_hooks& h = w->robots;
    h.context = rs;
    h.tick = tick_hook;
    h.personality = personality_hook;
    h.lines_save = save_hook;
    h.lines_load = load_hook;
    h.lines_reset_bests = reset_hook;
    h.gate_check = gate_hook;
    h.realign_target = realign_hook;
    h.release = release_hook;
    return rs;
}

robot_slot* robots_slot(robot_state* rs, int slot, const bike* b)
{
    robot_slot& s = rs->slots[slot];
    if (s.owner != b) {
        s = robot_slot();
        s.owner = b;
    }
    return &s;
}

bool robots_realign_target(const robot_state* rs, const world* w, const bike* b, vec3* target)
{
    for (const robot_slot& s : rs->slots)
        if (s.owner == b && s.on_centre_line && s.centre_rider.path && s.centre_rider.index >= 0) {
            *target = rider_path_point_ahead(*s.centre_rider.path, s.centre_rider.index, 30.0f,
                                             s.centre_rider.settings.lane_offset);
            return true;
        }
    const line_table* t = &rs->lines;
    if (!t->loaded)
        return false;
    const int row = line_row_of_section(t, line_section_at(&w->track.timing_gates, b->gate_progress));
    if (row < 0)
        return false;
    const vec3 at = bike_frame_position(b);
    const racing_line* nearest = nullptr;
    int index = 0;
    float best = 0.0f;
    for (const racing_line& l : t->rows[row].lines)
        for (int i = 0; i < l.point_count; i++) {
            const float dx = l.points[i].x - at.x, dz = l.points[i].z - at.z;
            const float d2 = dx * dx + dz * dz;
            if (!nearest || d2 < best) {
                nearest = &l;
                index = i;
                best = d2;
            }
        }
    if (!nearest)
        return false;
    const line_point& p = nearest->points[index + 4 < nearest->point_count ? index + 4 : nearest->point_count - 1];
    *target = vec3{p.x, p.y, p.z};
    return true;
}
