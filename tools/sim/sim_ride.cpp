// Setting up a ride of the headless runner.
#include "sim_ride.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "bike/bike.h"
#include "bike/catalogue.h"
#include "race/race.h"
#include "race/world.h"
#include "robot/centre_line.h"
#include "track/track.h"

namespace {

const float k_mph = 1.4666666666666666f;  // ft/s

// The robot hook: the script's controls, the scripted rider's in place of
// the throttle, clutch, brakes, steering and lean when it follows the line.
void drive(void* context, world* w, int slot, bike* b)
{
    sim_ride* r = static_cast<sim_ride*>(context);
    const int i = slot - r->first_slot;
    if (i < 0 || i >= r->count)
        return;
    control_input c;
    c.clutch = 1;
    if (r->script)
        c = sim_script_at(*r->script, w->race.tick);
    if (r->following) {
        const control_input rc = scripted_rider_drive(&r->followers[(size_t)i], b);
        c.throttle = rc.throttle;
        c.clutch = rc.clutch;
        c.front_brake = rc.front_brake;
        c.rear_brake = rc.rear_brake;
        c.steer = rc.steer;
        c.lean = rc.lean;
    }
    apply_control_input(b, &c);
}

bool fail(std::string* why, const std::string& text)
{
    *why = text;
    return false;
}

}  // namespace

sim_ride::~sim_ride()
{
    world_destroy(w);
}

bike* sim_ride::bike_at(int i) const
{
    return w->race.slots[first_slot + i].b;
}

int sim_ride::tick() const
{
    return w->race.tick;
}

bool sim_ride_start(sim_ride* r, const sim_ride_options& o, std::string* why)
{
    // The game falls back to another model for an unknown name; a runner
    // asked for a model it does not have should say so instead.
    const bike_params* model = find_bike_params(o.model.c_str());
    if (strcmp(model->name, bike_alias(o.model.c_str())) != 0)
        return fail(why, "unknown bike model '" + o.model + "'");
    if (o.bikes < 1 || o.bikes > RACE_SLOTS)
        return fail(why, "1 to 160 bikes");
    if (track_list_build(0) == 0)
        return fail(why, "no tracks found in the game data");

    world_settings settings;
    settings.results_file[0] = 0;  // a ride has no results to keep
    settings.threads = o.threads;
    r->w = world_create(settings);
    world* w = r->w;
    if (!sim_load_track(&w->track, o.track.c_str(), why))
        return false;

    // A row in the middle of the gate.
    r->count = o.bikes;
    const int pieces = w->track.timing_gates.piece_count;
    r->first_slot = pieces > r->count ? (pieces - r->count) / 2 : 0;
    int lineup[RACE_SLOTS];
    for (int& l : lineup)
        l = lineup_empty;
    for (int i = 0; i < r->count; i++)
        lineup[r->first_slot + i] = lineup_robot;
    snprintf(w->race.settings.track, sizeof w->race.settings.track, "%s", w->track.dir);
    snprintf(w->race.settings.robot_model, sizeof w->race.settings.robot_model, "%s", o.model.c_str());
    w->race.settings.roost_frequency = o.roost_density;
    if (!world_reset(w, lineup, nullptr, false, 0, 1000, 0))
        return fail(why, "can't load track '" + o.track + "'");
    // The gate went down long ago: nothing holds the bikes.
    w->race.start_tick = w->race.tick - 10 * RACE_TICKS_PER_SECOND - 1;
    raise_start_gate(w);

    bike_setup setup;
    if (o.have_stability)
        apply_stability(&setup, o.stability);
    if (o.arcade >= 0)
        setup.arcade = o.arcade;
    // Facing (-sin a, -cos a); the row runs along the rider's right,
    // (cos a, -sin a).
    const float rx = std::cos(o.spot_angle), rz = -std::sin(o.spot_angle);
    for (int i = 0; i < r->count; i++) {
        bike* b = r->bike_at(i);
        // The setup changes the bike's rest pose: placed again with it.
        apply_bike_setup(b, &setup, false);
        bike_set_auto_shift(b, 1);
        float x, z, angle;
        race_start_spot(w, r->first_slot + i, &x, &z, &angle);
        if (o.have_spot) {
            const float offset = ((float)i - 0.5f * (float)(r->count - 1)) * o.spacing;
            x = o.spot_x + rx * offset;
            z = o.spot_z + rz * offset;
            angle = o.spot_angle;
        }
        race_place_bike(w, b, x, z, angle);
        if (o.drop > 0)
            translate_bike(b, 0.0f, o.drop, 0.0f);
        if (o.speed_mph > 0)
            bike_launch(b, o.speed_mph * k_mph);
    }

    centre_line_options line;
    line.ground = &w->track.heightfield;
    std::string missing;
    if (o.follow == 2 && !centre_line_load(w->track.dir, line, &r->path, why))
        return false;
    if (o.follow == 1 && !centre_line_load(w->track.dir, line, &r->path, &missing))
        r->path = rider_path();
    if (!r->path.points.empty()) {
        scripted_rider_settings s;
        s.cruise_speed = o.cruise_mph * k_mph;
        r->followers.assign((size_t)r->count, scripted_rider());
        for (int i = 0; i < r->count; i++) {
            scripted_rider& f = r->followers[(size_t)i];
            const bike* b = r->bike_at(i);
            if (!scripted_rider_start(&f, &r->path, s, b))
                return fail(why, "the track's centre line is too short to follow");
            const vec3 at = bike_frame_position(b);
            f.settings.lane_offset = rider_path_lateral(r->path, f.index, at.x, at.z);
        }
        r->following = true;
    }
    r->script = o.script;
    w->robots.context = r;
    w->robots.tick = drive;
    return true;
}

bool sim_ride_finite(const sim_ride& r, int* broken)
{
    for (int i = 0; i < r.count; i++)
        if (!bike_state_finite(r.bike_at(i))) {
            *broken = i;
            return false;
        }
    return true;
}
