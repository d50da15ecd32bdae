// The world reset: from a lineup to bikes standing at the starting gate, in
// the order the game shows its loading screens.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <strings.h>

#include "bike/bike.h"
#include "bike/catalogue.h"
#include "bike/contact.h"
#include "bike/physics.h"
#include "bike/snapshot.h"
#include "core/messages.h"
#include "files/datafs.h"
#include "files/memory.h"
#include "platform/log.h"
#include "race/demo.h"
#include "race/race.h"
#include "race/race_internal.h"
#include "race/series.h"
#include "track/erosion.h"
#include "track/track.h"

race_network::race_network()
{
    for (int& t : update_tick)
        t = -1;
}

rider_strings default_player_strings()
{
    rider_strings r;
    snprintf(r.model, sizeof r.model, "yz250f(2017)");
    snprintf(r.number, sizeof r.number, "999");
    snprintf(r.name, sizeof r.name, "Rider");
    return r;
}

namespace {

// ---- the robot roster ----------------------------------------------------------------

struct roster_table {
    robot_roster_entry entries[ROBOT_ROSTER_SIZE];
    roster_table();
};

// Numbers 20-39 ride 125 two-strokes, 40-99 250 four-strokes; 20 and 40
// ride the 125 every unknown lineup code gets.
roster_table::roster_table()
{
    static const char* const two_strokes[4] = {"kx125", "yz125", "cr125", "rm125"};
    static const char* const four_strokes[4] = {"crf250", "kx250f", "rmz250", "yz250f"};
    for (int i = 0; i < ROBOT_ROSTER_SIZE; i++) {
        const int number = 20 + i;
        const int group = i / 20;  // 20-39, 40-59, 60-79, 80-99
        const int within = i % 20;
        robot_roster_entry& e = entries[i];
        e.number = number;
        static const char* const personalities[4] = {"osprey", "kestrel", "osprey", "merlin"};
        e.personality = personalities[group];
        if (group == 0) {
            e.model = within == 0 ? "rm125" : two_strokes[(within - 1) / 5];
        } else if (within == 0) {
            e.model = group == 1 ? "rm125" : "yz250f_se(2006)";
        } else {
            e.model = four_strokes[(within - 1) / 5];
        }
    }
}

const roster_table k_roster;

const char* const k_fallback_model = "rm125";
const char* const k_robot_name = "Roborider";

void copy_text(char* out, size_t size, const char* text)
{
    snprintf(out, size, "%s", text ? text : "");
}

const char* text_or_null(const char* text)
{
    return text && *text ? text : nullptr;
}

// ---- choosing robots ----------------------------------------------------------------

// Roster entries already given a slot in this reset.
struct robot_picker {
    const int* order;  // the race's shuffled roster
    bool used[ROBOT_ROSTER_SIZE] = {};
    explicit robot_picker(const int* robot_order) : order(robot_order) {}

    // The next roster entry in shuffled order whose model contains
    // pattern (null: any); entries already taken are passed over until
    // none is left, then the roster is used again.
    int next(const char* pattern)
    {
        for (int pass = 0; pass < 2; pass++) {
            for (int k = 0; k < ROBOT_ROSTER_SIZE; k++) {
                const int i = order[k];
                if (pass == 0 && used[i])
                    continue;
                if (pattern && !strstr(k_roster.entries[i].model, pattern))
                    continue;
                used[i] = true;
                return i;
            }
        }
        return -1;
    }

    int by_number(int number)
    {
        for (int i = 0; i < ROBOT_ROSTER_SIZE; i++)
            if (k_roster.entries[i].number == number) {
                used[i] = true;
                return i;
            }
        return -1;
    }
};

// Fills a robot's strings for its lineup code; returns the personality.
const char* robot_rider(int code, robot_picker* picker, rider_strings* out)
{
    *out = rider_strings();
    int entry = -1;
    int number = 0;
    bool known_code = true;
    if (code == lineup_robot)
        entry = picker->next(nullptr);
    else if (code == lineup_robot_125)
        entry = picker->next("125");
    else if (code == lineup_robot_250)
        entry = picker->next("250");
    else if (code >= lineup_robot_number) {
        number = code - lineup_robot_number;
        entry = picker->by_number(number);
    } else {
        known_code = false;
    }
    copy_text(out->name, sizeof out->name, k_robot_name);
    if (entry >= 0) {
        const robot_roster_entry& e = k_roster.entries[entry];
        copy_text(out->model, sizeof out->model, e.model);
        snprintf(out->number, sizeof out->number, "%d", e.number);
        return e.personality;
    }
    // A race number outside the roster keeps its number on the fallback
    // bike; any other code is a plain fallback robot.
    copy_text(out->model, sizeof out->model, k_fallback_model);
    snprintf(out->number, sizeof out->number, "%d", known_code ? number % 1000 : 0);
    return "kestrel";
}

// ---- the track ------------------------------------------------------------------------

// The track directory a name (directory or display name) stands for.
const char* resolve_track(const char* name)
{
    for (int i = 0; i < g_track_list.count; i++)
        if (strcasecmp(g_track_list.dirs[i], name) == 0)
            return g_track_list.dirs[i];
    const int listed = track_list_find(name);
    return listed >= 0 ? g_track_list.dirs[listed] : name;
}

bool bring_track(world* w, const char* wanted, bool multiplayer, bool* loaded_new)
{
    *loaded_new = false;
    const char* dir = resolve_track(wanted);
    const int erosion = w->race.erosion_amount;
    const bool same = w->track.loaded && strcmp(w->track.dir, dir) == 0;
    const bool reload = (multiplayer && w->race.net.reload_track) || w->race.force_reload;
    if (same && !reload && erosion == w->race.track_erosion)
        return true;
    w->race.net.reload_track = false;
    w->race.force_reload = false;
    if (w->track.loaded)
        track_unload(&w->track);
    erode_queue_clear(w->erosion);
    // What the previous track drew may go once the new one and its bikes
    // have asked for theirs.
    if (g_track_hooks.new_generation)
        g_track_hooks.new_generation(g_track_hooks.context);
    *loaded_new = true;
    if (!track_load(&w->track, dir, w->settings.load))
        return false;
    w->race.track_erosion = erosion;
    // Online only the erosion stream may change the ground, so every
    // client keeps the same terrain.
    if (multiplayer)
        w->track.heightfield.frozen = 1;
    return true;
}

// ---- the bikes ------------------------------------------------------------------------

bool object_touches(world* w, bike* b, float reach)
{
    track_objects* objects = &w->track.objects;
    const heightfield* hf = &w->track.heightfield;
    const vec3 at = bike_frame_position(b);
    const int count = statues_near(objects, hf, at.x, at.z, reach);
    for (int k = 0; k < count; k++) {
        const statue& s = objects->statues.items[objects->near.items[k]];
        if (!s.shape)
            continue;
        const dReal pos[3] = {s.x, s.y, s.z};
        dReal rot[12];
        statue_physics_rotation(&s, rot);
        if (bike_object_contact(b, nullptr, s.shape, pos, rot, contact_mode_test, false))
            return true;
    }
    return false;
}

// The start spot of the rider in slot `slot` of a multiplayer lineup.
void multiplayer_spot(world* w, int slot, int* remote_placed, float* x, float* z, float* angle)
{
    const int pieces = w->track.timing_gates.piece_count;
    const int own = w->race.net.race_slot;
    const race_slot& s = w->race.slots[slot];
    if (s.driver == slot_driver_local) {
        if (own >= RACE_SLOTS) {
            // Riding beside the race: at the first piece, or the centre.
            if (pieces > 0) {
                race_start_spot(w, 0, x, z, angle);
            } else {
                *x = *z = 0.5f * w->track.heightfield.extent;
                *angle = 0.0f;
            }
            return;
        }
        race_start_spot(w, own, x, z, angle);
        return;
    }
    if (s.lineup == lineup_remote) {
        // Remote riders line up behind the gate, around our own place.
        int n = *remote_placed + pieces;
        if (own < RACE_SLOTS && n >= own)
            n++;
        (*remote_placed)++;
        race_start_spot(w, n, x, z, angle);
        return;
    }
    race_start_spot(w, slot, x, z, angle);
}

// Creates, dresses and places the bike of one slot.
void create_slot_bike(world* w, int slot, const char* personality, float x, float z, float angle)
{
    race_slot& s = w->race.slots[slot];
    rider_strings& r = s.rider;
    char model[sizeof r.model];
    copy_text(model, sizeof model, bike_alias(r.model));
    memcpy(r.model, model, sizeof model);
    bike* b = create_bike(&w->physics, r.model, slot, r.number, text_or_null(r.rider_texture), text_or_null(r.head_texture),
                          text_or_null(r.bike_texture), text_or_null(r.wheel_texture));
    if (!b) {
        s.driver = slot_driver_recorded;
        return;
    }
    s.b = b;
    if (w->sound.create)
        w->sound.create(w->sound.context, slot, b);
    race_place_bike(w, b, x, z, angle);
    switch (s.driver) {
    case slot_driver_local:
        w->race.start_position = bike_frame_position(b);
        w->race.false_start_penalty = 0;
        set_bike_solid(b);
        break;
    case slot_driver_recorded:
        apply_playback_tuning(b);
        break;
    default:
        set_bike_solid(b);
        if (w->robots.personality)
            w->robots.personality(w->robots.context, b, w->race.settings.robots_tester ? "tester" : personality);
        break;
    }
}

// A bike for every slot with a rider.
void load_bikes(world* w, bool multiplayer, bool playing)
{
    loading_begin("Loading bikes");
    robot_picker picker(w->race.robot_order);
    int next_demo_rider = 0;
    const int demo_riders = playing ? demo_rider_count(w) : 0;
    int remote_placed = 0;
    for (int slot = 0; slot < RACE_SLOTS; slot++) {
        loading_tick("Loading bikes");
        race_slot& s = w->race.slots[slot];
        const int code = s.lineup;
        const char* personality = nullptr;
        if (code == lineup_empty) {
            // While a demo plays, empty slots take its riders in file order.
            if (next_demo_rider >= demo_riders)
                continue;
            rider_strings strings;
            const int index = next_demo_rider++;
            if (!demo_rider(w, index, &strings))
                continue;
            s.rider = strings;
            s.driver = slot_driver_recorded;
            demo_assign(w, index, slot);
        } else if (code == lineup_player) {
            s.rider = w->race.player;
            s.driver = slot_driver_local;
        } else if (code == lineup_remote) {
            // The network client gave the strings before the reset.
            s.driver = slot_driver_recorded;
        } else {
            personality = robot_rider(code, &picker, &s.rider);
            if (w->race.settings.robot_model[0])
                copy_text(s.rider.model, sizeof s.rider.model, w->race.settings.robot_model);
            s.driver = slot_driver_robot;
        }
        float x, z, angle;
        if (multiplayer)
            multiplayer_spot(w, slot, &remote_placed, &x, &z, &angle);
        else
            race_start_spot(w, slot, &x, &z, &angle);
        create_slot_bike(w, slot, personality, x, z, angle);
    }
    loading_done("Loading bikes");
}

// The watched slot, one robot when nobody rides, one player.
void settle_lineup(world* w, bool playing)
{
    int watched = -1;
    for (int slot = 0; slot < RACE_SLOTS && watched < 0; slot++)
        if (w->race.slots[slot].lineup != lineup_empty)
            watched = slot;
    if (watched < 0) {
        watched = 0;
        if (!playing)
            w->race.slots[0].lineup = lineup_robot;
    }
    w->race.player_slot = -1;
    for (int slot = 0; slot < RACE_SLOTS; slot++) {
        race_slot& s = w->race.slots[slot];
        if (s.lineup != lineup_player)
            continue;
        if (w->race.player_slot < 0) {
            w->race.player_slot = slot;
            watched = slot;
        } else {
            s.lineup = lineup_empty;
        }
    }
    w->race.watched_slot = watched;
}

void shuffle_robots(world* w)
{
    for (int i = 0; i < ROBOT_ROSTER_SIZE; i++)
        w->race.robot_order[i] = i;
    for (int j = ROBOT_ROSTER_SIZE - 1; j >= 1; j--) {
        const uint32_t r = w->physics.rng();
        const int k = (int)((r / 65536u) % (uint32_t)j);
        const int t = w->race.robot_order[j];
        w->race.robot_order[j] = w->race.robot_order[k];
        w->race.robot_order[k] = t;
    }
}

void empty_contacts(world* w)
{
    physics_clear_contacts(&w->physics);
}

}  // namespace

// ---- public helpers -------------------------------------------------------------------

const robot_roster_entry* robot_roster()
{
    return k_roster.entries;
}

void race_default_lineup(int* out, bool playing_demo)
{
    for (int i = 0; i < RACE_SLOTS; i++)
        out[i] = lineup_empty;
    if (!playing_demo)
        out[0] = lineup_robot;
}

bool race_warm_up(const world* w)
{
    return w->race.net.connected && w->race.net.race_slot >= RACE_SLOTS;
}

bool race_slot_recorded(const world* w, int slot)
{
    return slot >= 0 && slot < RACE_SLOTS && w->race.slots[slot].b &&
           w->race.slots[slot].driver == slot_driver_recorded;
}

void race_start_spot(const world* w, int n, float* x, float* z, float* angle)
{
    const track_timing& t = w->track.timing_gates;
    if (n < 0)
        n = 0;
    if (t.piece_count > 0) {
        const start_gate_piece& p = t.pieces[n % t.piece_count];
        const float row = (float)(n / t.piece_count) + 0.0625f;
        const float s = sinf(p.angle), c = cosf(p.angle);
        *x = p.position.x + s * row * 10.0f;
        *z = p.position.z + c * row * 10.0f;
        *angle = p.angle;
        return;
    }
    const float size = w->track.heightfield.extent;
    *x = 0.5f * size + (float)n * 5.0f;
    *z = 0.5f * size;
    *angle = 0.0f;
}

float race_place_bike(world* w, bike* b, float x, float z, float angle)
{
    const heightfield* hf = &w->track.heightfield;
    float height = 0.0f;
    if (hf->heights && std::isfinite(x) && std::isfinite(z)) {
        // The nearest sample, clamped to the field.
        const float last = (float)(hf->sample_count - 1);
        float col = std::floor(x * hf->inv_spacing + 0.5f), row = std::floor(z * hf->inv_spacing + 0.5f);
        col = col < 0.0f ? 0.0f : (col > last ? last : col);
        row = row < 0.0f ? 0.0f : (row > last ? last : row);
        height = heightfield_sample(hf, (int)col, (int)row);
    }
    // The ground first, then the objects; a bike lifted off an object is
    // checked against the ground again at the new height (always clear, as
    // it only went up).
    height = place_bike_at_start(b, hf, x, z, angle, height);
    // 256 ft above the ground clears anything a track stands there.
    for (int i = 0; i < 1024 && object_touches(w, b, 12.0f); i++)
        height = place_bike_at_start(b, hf, x, z, angle, height + 0.25f);
    // The probing may have left a wheel's object contact behind.
    b->front_contact.depth = 0.0f;
    b->rear_contact.depth = 0.0f;
    physics_clear_contacts(&w->physics);
    return height;
}

void race_free_slot_bike(world* w, int slot)
{
    race_slot& s = w->race.slots[slot];
    if (w->sound.destroy)
        w->sound.destroy(w->sound.context, slot);
    if (s.b) {
        destroy_bike(s.b);
        s.b = nullptr;
    }
}

void race_free_bikes(world* w)
{
    log_printf("Deallocating bikes\n");
    for (int slot = 0; slot < RACE_SLOTS; slot++)
        race_free_slot_bike(w, slot);
    log_printf("Finished deallocating bikes\n");
}

// ---- rides without a track's rules ---------------------------------------------------

void world_take_ground(world* w, heightfield* hf)
{
    race_free_bikes(w);
    close_demo(w);
    finish_recording(w);
    clear_state_histories(w);
    erode_queue_clear(w->erosion);
    track_take_ground(&w->track, hf);
    const race_settings settings = w->race.settings;
    w->race = race_state();
    w->race.settings = settings;
    w->race.erosion_amount = settings.erode_amount;
    w->physics.rng.seed(0);
}

bike* world_add_bike(world* w, int slot, const char* model, uint8_t driver, float x, float z, float angle,
                     const bike_setup* setup)
{
    if (slot < 0 || slot >= RACE_SLOTS || w->race.slots[slot].b || !w->track.loaded)
        return nullptr;
    race_slot& s = w->race.slots[slot];
    s.rider = rider_strings();
    copy_text(s.rider.model, sizeof s.rider.model, model);
    snprintf(s.rider.number, sizeof s.rider.number, "%d", (slot + 1) % 1000);
    s.lineup = driver == slot_driver_local ? lineup_player : lineup_robot;
    s.driver = driver;
    create_slot_bike(w, slot, "kestrel", x, z, angle);
    if (s.b && setup) {
        // The setup changes the bike's rest pose: placed again with it.
        apply_bike_setup(s.b, setup, false);
        race_place_bike(w, s.b, x, z, angle);
    }
    empty_contacts(w);
    return s.b;
}

// ---- the reset ------------------------------------------------------------------------

bool world_reset(world* w, const int* lineup, const char* play_demo, bool record_demo, int minutes_ticks, int laps,
                 int skill)
{
    const bool multiplayer = w->race.net.connected;

    // The event being raced counts as it stands.
    race_score_series(w);
    loading_status("Resetting...");
    log_printf("Resetting\n");
    take_loading_delay(nullptr, nullptr, 0);

    // The robots' order, from the generator seeded with the tick.
    w->physics.rng.seed((uint32_t)w->race.tick);
    shuffle_robots(w);

    // Racing lines learnt on the old track; the demo being watched.
    loading_begin("Remembering lines");
    if (w->track.loaded && w->robots.lines_save)
        w->robots.lines_save(w->robots.context);
    close_demo(w);
    loading_done("Remembering lines");

    // The old riders.
    finish_recording(w);
    loading_status("Cleaning up");
    race_free_bikes(w);
    loading_done("Cleaning up");

    // The clock and the start.
    w->race.tick = 0;
    w->race.false_start_penalty = 0;
    w->race.race_minutes_ticks = minutes_ticks > 0 ? minutes_ticks : 0;
    w->race.extra_laps = laps;
    w->race.skill = skill;
    if (multiplayer) {
        w->race.erosion_amount = -1;
        w->race.start_tick = w->race.net.start_tick;
    } else {
        w->race.erosion_amount = w->race.settings.erode_amount;
        const double u = (double)(w->physics.rng() & 0x7fffffffu) * (1.0 / 2147483648.0);
        w->race.start_tick = (int)((13.0 + 2.0 * u) * RACE_TICKS_PER_SECOND);
    }

    // What the last ride left in the slots.
    w->race.time_trial = lineup == nullptr;
    if (!multiplayer) {
        for (race_slot& s : w->race.slots)
            s.rider = rider_strings();
        for (int& t : w->race.net.update_tick)
            t = -1;
        w->race.net.race_slot = RACE_SLOTS;
    }
    clear_state_histories(w);

    // The track.
    bool playing = false;
    char demo_track[RACE_TRACK_NAME_MAX + 1] = {};
    if (play_demo)
        playing = open_demo(w, play_demo, demo_track, (int)sizeof demo_track);
    // A demo may come from anywhere: its track is one of the listed tracks
    // or a plain name, never a path, which would lead the track's files
    // (racing lines, time trial laps) to be written where it points.
    if (playing && resolve_track(demo_track) == demo_track) {
        if (const char* problem = file_name_problem(demo_track)) {
            add_message("Demo refused: its track name %s", problem);
            close_demo(w);
            playing = false;
        }
    }
    const char* wanted = playing ? demo_track : (multiplayer ? w->race.net.track : w->race.settings.track);
    bool new_track = false;
    if (!bring_track(w, wanted, multiplayer, &new_track)) {
        w->race.ranking_count = 0;
        w->race.results_count = 0;
        return false;
    }

    // The lineup.
    if (w->race.time_trial) {
        w->race.last_lap_time = 0;
        w->race.best_lap_time = 0;
        for (int slot = 0; slot < RACE_SLOTS; slot++)
            w->race.slots[slot].lineup = slot == 0 ? lineup_player : lineup_empty;
        w->race.tick = TIME_TRIAL_START_TICK;
    } else {
        for (int slot = 0; slot < RACE_SLOTS; slot++)
            w->race.slots[slot].lineup = lineup[slot];
    }
    for (race_slot& s : w->race.slots)
        s.driver = slot_driver_recorded;

    // Who is watched.
    settle_lineup(w, playing);

    // The lines the robots choose from.
    loading_status("Analyzing lines");
    if (w->robots.lines_load)
        w->robots.lines_load(w->robots.context, skill);

    // The bikes.
    load_bikes(w, multiplayer, playing);
    if (new_track && g_track_hooks.release_unused)
        g_track_hooks.release_unused(g_track_hooks.context);

    // Fresh histories; a new recording.
    clear_state_histories(w);
    if (record_demo)
        start_recording(w);

    // Roost, line bests, texture memory.
    if (w->track.particle_pool)
        roost_pool_reset(w->track.particle_pool);
    if (w->robots.lines_reset_bests)
        w->robots.lines_reset_bests(w->robots.context);
    const unsigned long texture_bytes = g_track_hooks.texture_memory ? g_track_hooks.texture_memory(g_track_hooks.context) : 0;
    add_message("%d MB texture memory used\n", (int)(texture_bytes / (1024ul * 1024ul)));

    // The race length.
    if (w->race.race_minutes_ticks > 0) {
        w->race.race_laps = RACE_LAPS_UNDECIDED;
        w->race.half_laps = RACE_LAPS_UNDECIDED;
    } else {
        w->race.race_laps = w->race.extra_laps;
        w->race.half_laps = (w->race.extra_laps + 1) / 2;
    }

    // The gate; the time trial's restart place.
    raise_start_gate(w);
    if (w->race.time_trial)
        time_trial_restart(w);

    // The first ranking, the watched bike, the player's setup.
    double delay = 0;
    char delay_text[80];
    take_loading_delay(&delay, delay_text, (int)sizeof delay_text);
    log_printf("Max loading delay was %f (%s)\n", delay, delay_text);
    record_tick(w, true);
    read_demo_ahead(w);
    w->race.results_final = false;
    w->race.results_written = false;
    w->race.results_count = 0;
    w->race.ranking_stale = false;
    update_ranking(w);
    const int watched = w->race.watched_slot;
    if ((watched < 0 || watched >= RACE_SLOTS || !w->race.slots[watched].b) && w->race.ranking_count > 0)
        w->race.watched_slot = w->race.ranking[0].slot;
    empty_contacts(w);
    const int shown = w->race.watched_slot;
    if (shown >= 0 && shown < RACE_SLOTS && w->race.slots[shown].b &&
        w->race.slots[shown].driver == slot_driver_local) {
        const bike_setup defaults;
        apply_bike_setup(w->race.slots[shown].b, w->settings.player_setup ? w->settings.player_setup : &defaults,
                         false);
    }
    set_working_set();
    return true;
}

void race_shutdown(world* w)
{
    race_score_series(w);
    if (w->track.loaded && w->robots.lines_save)
        w->robots.lines_save(w->robots.context);
    race_free_bikes(w);
    close_demo(w);
    finish_recording(w);
    track_unload(&w->track);
    w->race.ranking_count = 0;
    w->race.results_count = 0;
}
