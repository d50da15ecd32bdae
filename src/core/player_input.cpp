#include "core/player_input.h"

#include "bike/bike.h"
#include "bike/catalogue.h"
#include "bike/controls.h"
#include "core/settings.h"
#include "race/demo.h"
#include "race/race.h"
#include "race/world.h"

namespace {

// Event codes of the typed characters the views answer to.
enum { tab_character = 9, digit_zero_character = '0', digit_nine_character = '9' };

bool connected(const world* w)
{
    return w->race.net.connected;
}

// The view cycle by Tab; leaving the editor rebuilds the ground it changed.
void cycle_view(player_input* p)
{
    game_state* g = p->game;
    const int next = next_view_mode(g->view_mode, current_view_settings().editor_enabled);
    if (g->view_mode == view_editor && next != view_editor && p->hooks.editor_leave)
        p->hooks.editor_leave(p->hooks.context);
    g->view_mode = next;
}

void select_camera(player_input* p, const world* w, int digit)
{
    const int count = w->track.cameras.count;
    const int chosen = (digit < count ? digit : count) - 1;
    if (chosen != p->views.selected_camera)
        p->views.cut = true;
    p->views.selected_camera = chosen;
}

// The command keys, with no menu open and a track shown.
void command_key(player_input* p, world* w, int code, int pressed)
{
    game_state* g = p->game;
    const binding_table* t = p->bindings;
    if (g->view_mode == view_editor && p->hooks.editor_key && p->hooks.editor_key(p->hooks.context, code, pressed))
        return;
    if (command_pressed(t, command_pause, code, pressed) && !connected(w))
        g->paused = !g->paused;
    if (command_pressed(t, command_step, code, pressed) && g->paused && g->track_loaded)
        world_tick(w);
    if (code == tab_character && pressed)
        cycle_view(p);
    // A seek moves every rider at once: the cameras cut to where he is now.
    if (command_pressed(t, command_rewind, code, pressed) && seek_demo(w, -1))
        p->views.cut = true;
    if (command_pressed(t, command_skip, code, pressed) && seek_demo(w, 1))
        p->views.cut = true;
    if (command_pressed(t, command_previous_bike, code, pressed))
        watch_next_rider(p, w, -1);
    if (command_pressed(t, command_next_bike, code, pressed))
        watch_next_rider(p, w, 1);
    if (command_pressed(t, command_screenshot, code, pressed) && g->view_mode != view_editor)
        p->screenshot_requested = true;
    if (pressed && code >= digit_zero_character && code <= digit_nine_character)
        select_camera(p, w, code - digit_zero_character);
}

// The player's bike takes the tick's commands.
void ride(player_input* p, world* w, bike* b, bool sit_dab_rising)
{
    const float* c = p->controls;
    bike_set_steer(b, g_bike_setup.reverse_steering ? -c[control_steer] : c[control_steer]);
    bike_set_throttle(b, c[control_throttle]);
    bike_set_front_brake(b, c[control_front_brake]);
    bike_set_rear_brake(b, c[control_rear_brake]);
    if (g_bike_setup.sticky_dab) {
        if (sit_dab_rising)
            p->sticky_dab = !p->sticky_dab;
        bike_set_sit_dab(b, p->sticky_dab ? 1.0f : 0.0f);
    } else {
        bike_set_sit_dab(b, c[control_sit_dab]);
    }
    bike_set_back_up(b, c[control_back_up]);
    bike_set_lean(b, c[control_lean]);
    // The limit on engaging starts from what the bike holds now, so a
    // clutch the drivetrain or a reset changed is followed from there.
    bike_set_clutch(b, clutch_from_lever(c[control_clutch], b->clutch));
    const float shift = c[control_shift];
    bike_set_shift(b, shift > 0.5f ? 1 : (shift < -0.5f ? -1 : 0));
    // Backing up restarts a time-trial attempt once per press; held, the
    // rider walks the bike back from the restart place.
    const bool backing = c[control_back_up] > 0.5f;
    if (w->race.time_trial && g_settings.time_trial_abort && backing && !p->backing_up)
        time_trial_restart(w);
    p->backing_up = backing;
}

}  // namespace

bool watch_next_rider(player_input* p, const world* w, int step)
{
    game_state* g = p->game;
    const race_state& race = w->race;
    const bool own_race_slot = connected(w) && race.net.race_slot < RACE_SLOTS;
    if (((riding_own_bike(g, w) && !connected(w)) || own_race_slot) && !g_settings.spy)
        return false;
    if (race.ranking_count <= 0)
        return false;
    int at = 0;
    for (int i = 0; i < race.ranking_count; i++)
        if (race.ranking[i].slot == g->watched_slot)
            at = i;
    int to = at + step;
    to = to < 0 ? 0 : (to >= race.ranking_count ? race.ranking_count - 1 : to);
    p->views.follow_leader = false;
    const int slot = race.ranking[to].slot;
    if (slot == g->watched_slot)
        return false;
    g->watched_slot = slot;
    return true;
}

void handle_input_event(player_input* p, world* w, int code, int pressed)
{
    game_state* g = p->game;
    player_hooks& h = p->hooks;
    if (code == close_code) {
        if (pressed)
            g->quit_requested = true;
        return;
    }
    bindings_key_event(p->bindings, code, pressed);
    if (code == mouse_left_code && h.pointer_button)
        h.pointer_button(h.context, pressed);
    if (h.calibration_open && h.calibration_open(h.context)) {
        if (h.calibration_key)
            h.calibration_key(h.context, code, pressed);
        return;
    }
    static const int esc = key_code_by_name("esc");
    if (code == esc && pressed) {
        if (g->menu < 0) {
            if (h.open_main_menu)
                h.open_main_menu(h.context);
        } else if (h.close_menu) {
            h.close_menu(h.context);
        }
        return;
    }
    if (g->menu >= 0) {
        if (h.menu_key)
            h.menu_key(h.context, code, pressed);
        return;
    }
    if (command_pressed(p->bindings, command_chat, code, pressed) && g->view_mode != view_editor) {
        if (h.open_chat)
            h.open_chat(h.context);
        return;
    }
    if (g->view_mode == view_no_track || !w)
        return;
    command_key(p, w, code, pressed);
}

bool apply_controls(player_input* p, world* w)
{
    sum_control_values(p->bindings, p->controls);
    const float* c = p->controls;
    const bool sit_dab_rising = c[control_sit_dab] >= 0.5f && p->last_sit_dab < 0.5f;
    p->last_sit_dab = c[control_sit_dab];
    game_state* g = p->game;
    if (!w)
        return false;
    const bool own = riding_own_bike(g, w);
    if (g->menu >= 0 && own && !connected(w))
        return false;
    // A race server's clock does not wait for anyone.
    if (connected(w))
        g->paused = false;
    if (g->view_mode == view_editor) {
        if (p->hooks.editor_tick)
            p->hooks.editor_tick(p->hooks.context);
        return connected(w);
    }
    if (own) {
        ride(p, w, w->race.slots[g->watched_slot].b, sit_dab_rising);
    } else if (g->view_mode == view_orbit) {
        orbit_controls(&p->views.orbit, c);
    } else if (g->view_mode == view_track_camera && g->track_loaded) {
        track_camera_controls(&p->views, w, g->watched_slot, g->paused, c, sit_dab_rising,
                              (float)g_settings.fov);
    }
    return true;
}
