// The world tick: one 1/128 s step of the ride, with the start procedure and
// the starting gate.
#include <chrono>
#include <cmath>

#include "bike/bike.h"
#include "bike/bike_step.h"
#include "bike/contact.h"
#include "bike/controls.h"
#include "bike/physics.h"
#include "bike/world_step.h"
#include "race/demo.h"
#include "core/messages.h"
#include "race/race.h"
#include "race/race_internal.h"
#include "track/erosion.h"
#include "track/track.h"

namespace {

const int k_second = RACE_TICKS_PER_SECOND;
// Remote riders and the gate are shown this late while warming up beside
// a race, so that the states received have arrived.
const int k_warm_up_delay = 127;
// The angle of a raised gate piece about its hinge (0.1875 pi).
const float k_gate_raise_angle = 0.58904862f;
const float k_gate_gravity = 32.0f;
const float k_gate_max_speed = 8.0f;

world_driver world_driver_of(uint8_t driver)
{
    switch (driver) {
    case slot_driver_local:
        return world_driver_local;
    case slot_driver_robot:
    case slot_driver_test:
        return world_driver_robot;
    default:
        return world_driver_recorded;
    }
}

// The tick the gate drops as this client shows it.
int shown_start_tick(const world* w)
{
    return w->race.start_tick + (race_warm_up(w) ? k_warm_up_delay : 0);
}

bool update_is_stale(const world* w, int slot)
{
    const int t = w->race.net.update_tick[slot];
    return t < 0 || w->race.tick - t >= k_second;
}

// Bikes driven by recorded data take their state at this tick.
void pose_recorded(world* w)
{
    const int at = race_warm_up(w) ? w->race.tick - k_warm_up_delay : w->race.tick;
    for (int slot = 0; slot < RACE_SLOTS; slot++)
        if (race_slot_recorded(w, slot))
            history_pose(w, slot, at);
}

// Recorded bikes pass through everything, but a gate piece they rest on
// must not drop through them: it notes the touch.
void recorded_gate_touches(world* w)
{
    const int s = shown_start_tick(w);
    if (w->race.tick < s || w->race.tick > s + 10 * k_second)
        return;
    track_timing& t = w->track.timing_gates;
    statue_list& statues = w->track.objects.statues;
    for (int slot = 0; slot < RACE_SLOTS; slot++) {
        if (!race_slot_recorded(w, slot))
            continue;
        bike* b = w->race.slots[slot].b;
        // The probe must not leave object contacts in the wheels' records.
        const float front = b->front_contact.depth, rear = b->rear_contact.depth;
        for (int i = 0; i < t.piece_count; i++) {
            const int k = t.pieces[i].object;
            if (k < 0 || k >= statues.count || !statues.items[k].shape)
                continue;
            statue& st = statues.items[k];
            const dReal pos[3] = {st.x, st.y, st.z};
            dReal rot[12];
            statue_physics_rotation(&st, rot);
            if (bike_object_contact(b, nullptr, st.shape, pos, rot, contact_mode_test, false))
                st.touch_tick = w->race.tick;
        }
        b->front_contact.depth = front;
        b->rear_contact.depth = rear;
    }
}

// The start rules of a multiplayer race for the local player: seated until
// the gate drops, and held on the brakes for moving off early.
void start_rules(world* w, bike* b)
{
    if (w->race.false_start_penalty == 0 && w->race.tick <= w->race.start_tick) {
        bike_set_sit_dab(b, 1.0f);
        const vec3 p = bike_frame_position(b);
        const float dx = p.x - w->race.start_position.x;
        const float dy = p.y - w->race.start_position.y;
        const float dz = p.z - w->race.start_position.z;
        if (dx * dx + dy * dy + dz * dz >= 9.0f) {
            w->race.false_start_penalty = w->race.start_tick + FALSE_START_TICKS - w->race.tick;
            add_message("15 second false start penalty");
        }
    }
    if (w->race.false_start_penalty > 0) {
        w->race.false_start_penalty--;
        bike_set_front_brake(b, 1.0f);
        bike_set_rear_brake(b, 1.0f);
        bike_set_back_up(b, 0.0f);
        bike_set_clutch(b, 0.0f);
        bike_set_throttle(b, 0.0f);
        bike_set_sit_dab(b, 1.0f);
    }
}

// The gate piece's statue turned about its hinge by the drop amount.
void orient_piece(world* w, int index)
{
    const start_gate_piece& p = w->track.timing_gates.pieces[index];
    statue_list& statues = w->track.objects.statues;
    if (p.object < 0 || p.object >= statues.count)
        return;
    statue& st = statues.items[p.object];
    const float (*base)[3] = w->race.piece_base[index];
    const float a = p.drop * k_gate_raise_angle;
    const float c = cosf(a), s = sinf(a);
    for (int k = 0; k < 3; k++) {
        st.rotation[0][k] = base[0][k];
        st.rotation[1][k] = c * base[1][k] + s * base[2][k];
        st.rotation[2][k] = -s * base[1][k] + c * base[2][k];
    }
}

}  // namespace

// ---- the starting gate ----------------------------------------------------------------

void raise_start_gate(world* w)
{
    track_timing& t = w->track.timing_gates;
    statue_list& statues = w->track.objects.statues;
    // A start more than 10 s past (the time trial) leaves the gate down:
    // nothing would lower it any more.
    const bool long_past = w->race.tick > shown_start_tick(w) + 10 * k_second;
    for (int i = 0; i < t.piece_count; i++) {
        start_gate_piece& p = t.pieces[i];
        p.drop = long_past ? 0.0f : 1.0f;
        p.drop_speed = 0.0f;
        if (p.object < 0 || p.object >= statues.count)
            continue;
        const statue& st = statues.items[p.object];
        float facing = 0;
        statue_orientation(&w->track.heightfield, st.x, st.z, st.angle, w->race.piece_base[i], &facing);
        orient_piece(w, i);
    }
}

void start_gate_drop(world* w)
{
    const int s = shown_start_tick(w);
    const int tick = w->race.tick;
    if (tick > s + 10 * k_second)
        return;
    track_timing& t = w->track.timing_gates;
    statue_list& statues = w->track.objects.statues;
    for (int i = 0; i < t.piece_count; i++) {
        start_gate_piece& p = t.pieces[i];
        if (tick < s) {
            p.drop = 1.0f;
            p.drop_speed = 0.0f;
        } else if (tick > s && p.object >= 0 && p.object < statues.count && p.drop > 0.0f) {
            if (statues.items[p.object].touch_tick == tick) {
                // Resting on a bike: it waits until the bike moves away.
                p.drop_speed = 0.0f;
            } else {
                p.drop_speed += k_gate_gravity * race_tick_length;
                p.drop -= race_tick_length * p.drop_speed;
                p.drop = fmaxf(p.drop, 0.0f);
                p.drop_speed = fminf(p.drop_speed, k_gate_max_speed);
            }
        }
        orient_piece(w, i);
    }
}

// ---- the tick -------------------------------------------------------------------------

gate_race race_gate_state(const world* w)
{
    gate_race r;
    r.tick = w->race.tick;
    r.start_tick = w->race.start_tick;
    r.race_laps = w->race.race_laps;
    if (w->race.ranking_count > 0) {
        r.leader = w->race.slots[w->race.ranking[0].slot].b;
        r.leader_progress = w->race.ranking[0].progress;
    }
    return r;
}

namespace {

// The robots' layer answers where a fallen bike turns to; without it
// there is no target.
bool realign_target_of(void* context, const bike* b, vec3* target)
{
    const world* w = static_cast<const world*>(context);
    return w->robots.realign_target && w->robots.realign_target(w->robots.context, w, b, target);
}

}  // namespace

bike* race_player_bike(const world* w)
{
    const int slot = w->race.player_slot;
    if (slot < 0 || slot >= RACE_SLOTS)
        return nullptr;
    const race_slot& s = w->race.slots[slot];
    return s.driver == slot_driver_local ? s.b : nullptr;
}

namespace {

using profile_clock = std::chrono::steady_clock;

// Adds the time since the last mark to one part of the profile.
struct profile_marks {
    world_profile* p;
    profile_clock::time_point last;
    explicit profile_marks(world_profile* profile) : p(profile)
    {
        if (p)
            last = profile_clock::now();
    }
    void add(double world_profile::*part)
    {
        if (!p)
            return;
        const profile_clock::time_point now = profile_clock::now();
        p->*part += std::chrono::duration<double>(now - last).count();
        last = now;
    }
};

}  // namespace

void world_tick(world* w)
{
    if (!w->track.loaded)
        return;
    profile_marks marks(w->profile);
    const bool online = w->race.net.connected;
    const bool warm_up = race_warm_up(w);
    heightfield* ground = &w->track.heightfield;
    const track_timing* timing = &w->track.timing_gates;

    // Recorded riders where their histories put them.
    pose_recorded(w);

    // The time trial's lap counts before the tick.
    int player_laps = -1, ghost_laps = -1;
    if (w->race.time_trial) {
        if (w->race.slots[0].b)
            player_laps = lap_count(timing, w->race.slots[0].b->gate_progress);
        if (w->race.slots[1].b)
            ghost_laps = lap_count(timing, w->race.slots[1].b->gate_progress);
    }
    marks.add(&world_profile::other);

    // Contacts: with the ground, the track objects and each other.
    world_rider riders[RACE_SLOTS];
    int slots[RACE_SLOTS];
    int count = 0;
    int own = -1;
    bike* player = race_player_bike(w);
    const bool own_ghost = online && player && race_own_bike_ghosted(w);
    for (int slot = 0; slot < RACE_SLOTS; slot++) {
        race_slot& rs = w->race.slots[slot];
        if (!rs.b)
            continue;
        world_rider& r = riders[count];
        r.b = rs.b;
        r.driver = world_driver_of(rs.driver);
        r.may_collide = true;
        if (online && rs.driver == slot_driver_recorded)
            r.may_collide = !own_ghost && !update_is_stale(w, slot) && is_visible(w, slot);
        if (rs.b == player)
            own = count;
        slots[count] = slot;
        count++;
    }
    world_tick_state state;
    state.world.ground = ground;
    state.world.tick = w->race.tick;
    state.world.start_tick = w->race.start_tick;
    state.world.finish_fallen_rider = race_finish_fallen_rider;
    state.world.realign_target = realign_target_of;
    state.world.race = w;
    state.objects = &w->track.objects;
    state.roost = w->track.particle_pool;
    state.roost_density = w->race.settings.roost_frequency;
    state.rng = &w->physics.rng;
    state.online = online;
    state.warm_up = warm_up;
    state.own_rider = own;
    state.workers = w->workers;
    state.contact_buffers = w->contact_buffers;
    world_collide(&state, riders, count);
    if (!online || warm_up)
        recorded_gate_touches(w);
    marks.add(&world_profile::contacts);

    // Roost, then the physics step.
    world_throw_roost(&state, riders, count);
    marks.add(&world_profile::roost);
    physics_step(&w->physics);
    marks.add(&world_profile::step);

    // Ruts.
    if (w->race.erosion_amount > 0) {
        bike* diggers[RACE_SLOTS];
        int n = 0;
        if (!warm_up)
            for (int i = 0; i < count; i++)
                if (riders[i].driver != world_driver_recorded)
                    diggers[n++] = riders[i].b;
        vec3 at = {0, 0, 0};
        if (player)
            at = bike_frame_position(player);
        erosion_world_step(w->erosion, ground, diggers, n, w->race.tick, w->race.erosion_amount,
                           player ? &at : nullptr);
        marks.add(&world_profile::erosion);
    }

    // Commands and each bike's own step, then its gate test.
    for (int i = 0; i < count; i++) {
        const int slot = slots[i];
        race_slot& rs = w->race.slots[slot];
        bike* b = rs.b;
        if ((rs.driver == slot_driver_robot || rs.driver == slot_driver_test) && w->robots.tick)
            w->robots.tick(w->robots.context, w, slot, b);
        if (online) {
            if (rs.driver == slot_driver_recorded)
                fade_remote_bike(b);
            else if (b == player)
                start_rules(w, b);
        }
        bike_step(b, &state.world);
        marks.add(&world_profile::bikes);
        if (!online || b == player) {
            const bool passed = check_gates(timing, b, race_gate_state(w));
            if (passed)
                update_ranking(w);
            if (w->robots.gate_check && rs.driver != slot_driver_recorded)
                w->robots.gate_check(w->robots.context, w, slot, b, passed);
        }
        if (w->race.ranking_stale)
            update_ranking(w);
        marks.add(&world_profile::gates);
    }

    // Roost particles fly; the gate drops.
    if (w->track.particle_pool)
        roost_move(w->track.particle_pool, ground);
    marks.add(&world_profile::roost);
    start_gate_drop(w);

    // The clock.
    const int old = w->race.tick;
    w->race.tick++;
    if (online && old % 512 == 510)
        update_ranking(w);
    marks.add(&world_profile::gates);

    // The demo; the time trial's lap end.
    record_tick(w, false);
    read_demo_ahead(w);
    if (w->race.time_trial)
        time_trial_lap_end(w, player_laps, ghost_laps);
    marks.add(&world_profile::other);
    if (w->profile)
        w->profile->ticks++;
}
