// Test riders driving a world's robot slots.
#include "robot/test_riders.h"

#include "bike/bike.h"
#include "bike/catalogue.h"
#include "robot/centre_line.h"

namespace {

const float k_mph = 1.4666666666666666f;  // ft/s

void drive(void* context, world* w, int slot, bike* b)
{
    test_riders* t = static_cast<test_riders*>(context);
    if (!t->on[slot]) {
        if (t->others.tick)
            t->others.tick(t->others.context, w, slot, b);
        return;
    }
    if (w->race.tick < w->race.start_tick + t->reaction_ticks) {
        control_input hold;
        hold.clutch = 0;
        hold.front_brake = 1;
        hold.rear_brake = 1;
        ride_command_apply(hold, b);
        return;
    }
    ride_command_apply(scripted_rider_drive(&t->riders[slot], b), b);
}

void personality(void* context, bike* b, const char* name)
{
    test_riders* t = static_cast<test_riders*>(context);
    if (t->others.personality)
        t->others.personality(t->others.context, b, name);
}

// The racing lines stay the other hooks' business.
void lines_save(void* context)
{
    test_riders* t = static_cast<test_riders*>(context);
    if (t->others.lines_save)
        t->others.lines_save(t->others.context);
}

void lines_load(void* context, int skill)
{
    test_riders* t = static_cast<test_riders*>(context);
    if (t->others.lines_load)
        t->others.lines_load(t->others.context, skill);
}

// A new ride: the riders of the last one are gone with their bikes.
void lines_reset_bests(void* context)
{
    test_riders* t = static_cast<test_riders*>(context);
    for (bool& on : t->on)
        on = false;
    if (t->others.lines_reset_bests)
        t->others.lines_reset_bests(t->others.context);
}

void gate_check(void* context, world* w, int slot, bike* b, bool passed)
{
    test_riders* t = static_cast<test_riders*>(context);
    if (t->others.gate_check)
        t->others.gate_check(t->others.context, w, slot, b, passed);
}

bool realign_target(void* context, const world* w, const bike* b, vec3* target)
{
    test_riders* t = static_cast<test_riders*>(context);
    return t->others.realign_target && t->others.realign_target(t->others.context, w, b, target);
}

void release(void* context)
{
    test_riders* t = static_cast<test_riders*>(context);
    if (t->others.release)
        t->others.release(t->others.context);
    t->others = robot_hooks();
}

}  // namespace

bool test_riders_load_line(test_riders* t, const world* w, bool lead_in, std::string* why)
{
    centre_line_options o;
    o.lead_in = lead_in;
    o.ground = &w->track.heightfield;
    return centre_line_load(w->track.dir, o, &t->path, why);
}

bool test_riders_add(test_riders* t, world* w, int slot, float cruise_mph, std::string* why)
{
    bike* b = slot >= 0 && slot < RACE_SLOTS ? w->race.slots[slot].b : nullptr;
    if (!b) {
        *why = "no bike in slot " + std::to_string(slot);
        return false;
    }
    if (t->path.points.empty() && !test_riders_load_line(t, w, true, why))
        return false;
    // The scripted rider is tuned for the player's default setup.
    const bike_setup setup;
    apply_bike_setup(b, &setup, false);
    bike_set_auto_shift(b, 1);
    scripted_rider_settings s;
    s.cruise_speed = cruise_mph * k_mph;
    scripted_rider& r = t->riders[slot];
    if (!scripted_rider_start(&r, &t->path, s, b)) {
        *why = "the track's centre line is too short to follow";
        return false;
    }
    const vec3 at = bike_frame_position(b);
    r.settings.lane_offset = rider_path_lateral(t->path, r.index, at.x, at.z);
    t->on[slot] = true;
    // A robot's slot becomes a test rider's: no personality, so the racing
    // lines record it as they record a human. The player's stays his.
    if (w->race.slots[slot].driver == slot_driver_robot) {
        w->race.slots[slot].driver = slot_driver_test;
        b->personality = 0;
    }
    return true;
}

void test_riders_install(test_riders* t, world* w)
{
    if (w->robots.tick == drive && w->robots.context == t)
        return;
    t->others = w->robots;
    w->robots.context = t;
    w->robots.tick = drive;
    w->robots.personality = personality;
    w->robots.lines_save = lines_save;
    w->robots.lines_load = lines_load;
    w->robots.lines_reset_bests = lines_reset_bests;
    w->robots.gate_check = gate_check;
    w->robots.realign_target = realign_target;
    w->robots.release = release;
}

void test_riders_remove(test_riders* t, world* w)
{
    if (w->robots.context == t)
        w->robots = t->others;
}
