// What keys, typed characters and the pointer do to the open screen, and
// what the screens' buttons start. Nothing here draws.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "bike/bike.h"
#include "bike/catalogue.h"
#include "core/bindings.h"
#include "core/bindings.h"
#include "core/config.h"
#include "core/settings.h"
#include "core/game.h"
#include "core/messages.h"
#include "platform/input.h"
#include "platform/log.h"
#include "race/demo.h"
#include "race/race.h"
#include "race/series.h"
#include "race/world.h"
#include "track/track.h"
#include "ui/menu.h"

menu_state g_menu;

namespace {

// A binding capture that sees nothing usable for this long gives up.
const double capture_seconds = 5.0;
// How far an axis must move from where it stood to be taken (of 32767).
const int capture_axis_travel = 12000;

struct menu_keys {
    int up, down, left, right, enter, keypad_enter, page_up, page_down, del, home, end;
};

const menu_keys& keys()
{
    static const menu_keys k = {key_code_by_name("up"),       key_code_by_name("down"),
                                key_code_by_name("left"),     key_code_by_name("right"),
                                key_code_by_name("enter"),    key_code_by_name("keypad enter"),
                                key_code_by_name("page up"),  key_code_by_name("page down"),
                                key_code_by_name("delete"),   key_code_by_name("home"),
                                key_code_by_name("end")};
    return k;
}

bool is_key(int code, int key)
{
    return key != no_key_code && code == key;
}

// The lists whose choices are long open their pages on activation.
int list_of_setting(const setting* s)
{
    for (int kind = list_bike; kind <= list_wheels; kind++)
        if (menu_list_setting(kind) == s)
            return kind;
    return -1;
}

bool is_bike_screen(int screen)
{
    return screen == menu_bike_setup || screen == menu_suspension || screen == menu_stability;
}

// The player's own bike takes the setup as after "readsetup".
void give_setup_to_player(menu_state* m)
{
    world* w = m->host.w;
    if (!w || !g_game.track_loaded)
        return;
    const int slot = g_game.watched_slot;
    if (slot < 0 || slot >= RACE_SLOTS)
        return;
    const race_slot& rs = w->race.slots[slot];
    const bool no_arcade = m->host.no_arcade && m->host.no_arcade(m->host.context);
    if (rs.b && rs.driver == slot_driver_local)
        apply_bike_setup(rs.b, &g_bike_setup, no_arcade);
}

// The settings the race server shows the other riders: a change has to be
// sent again.
bool describes_rider(const setting* s)
{
    static const char* const keys[] = {"bike",         "name",         "number",       "rider_texture",
                                       "head_texture", "bike_texture", "wheel_texture"};
    if (!s || !s->key)
        return false;
    for (const char* k : keys)
        if (strcmp(s->key, k) == 0)
            return true;
    return false;
}

// Every change the menus make to a setting goes through here.
void changed(menu_state* m, const setting* s)
{
    setting_changed(s);
    if (describes_rider(s) && m->host.rider_changed)
        m->host.rider_changed(m->host.context);
}

// A ride started from the menus is an offline ride: a server connection
// ends first.
void leave_server(menu_state* m)
{
    if (m->host.leave_now)
        m->host.leave_now(m->host.context);
}

void clamp_focus(menu_state* m, const menu_screen& s)
{
    m->focus = menu_focus_move(m->focus, 0, 0, s.count > 0 ? s.count - 1 : 0);
}

// The options of a choice as an array for the type-ahead.
std::vector<const char*> options_of(const setting* s)
{
    std::vector<const char*> names;
    const int count = setting_choice_count(s);
    names.reserve((size_t)count);
    for (int i = 0; i < count; i++) {
        const char* name = setting_choice_name(s, i);
        names.push_back(name ? name : "");
    }
    return names;
}

void set_choice(menu_state* m, const setting* s, int index)
{
    *(int*)s->value = index;
    changed(m, s);
}

void set_slider(menu_state* m, const setting* s, double v)
{
    *(double*)s->value = slider_clamp(v, s->minimum, s->maximum);
    changed(m, s);
}

// ---- starting rides ----

void ride_started(menu_state* m, bool ok)
{
    if (m->host.ride_started)
        m->host.ride_started(m->host.context, ok);
}

// The menu's track is the one the next ride loads.
void use_selected_track(world* w)
{
    snprintf(w->race.settings.track, sizeof w->race.settings.track, "%s", g_settings.track);
}

int minutes_ticks()
{
    return (int)g_settings.minutes * 60 * RACE_TICKS_PER_SECOND;
}

void start_race(menu_state* m)
{
    world* w = m->host.w;
    menu_open(m, menu_none);
    if (!w)
        return;
    leave_server(m);
    int local[RACE_SLOTS];
    int* lineup = m->host.lineup ? m->host.lineup : local;
    for (int k = 0; k < RACE_SLOTS; k++)
        lineup[k] = k < LINEUP_SETTINGS ? g_settings.slots[k] : lineup_empty;
    use_selected_track(w);
    const bool ok = world_reset(w, lineup, nullptr, g_settings.record != 0, minutes_ticks(), (int)g_settings.laps,
                                g_settings.skill);
    // The next start lines everybody up n places further back.
    const int n = ((m->host.rotate_lineup % RACE_SLOTS) + RACE_SLOTS) % RACE_SLOTS;
    if (n) {
        int rotated[RACE_SLOTS];
        for (int k = 0; k < RACE_SLOTS; k++)
            rotated[(k + n) % RACE_SLOTS] = lineup[k];
        memcpy(lineup, rotated, sizeof rotated);
        for (int k = 0; k < LINEUP_SETTINGS; k++)
            g_settings.slots[k] = lineup[k] >= 0 && lineup[k] <= lineup_robot_250 ? lineup[k] : lineup_empty;
    }
    ride_started(m, ok);
}

void start_time_trial(menu_state* m)
{
    world* w = m->host.w;
    menu_open(m, menu_none);
    if (!w)
        return;
    leave_server(m);
    use_selected_track(w);
    ride_started(m, world_reset(w, nullptr, nullptr, false, 0, 1000, g_settings.skill));
}

void play_demo(menu_state* m, int index)
{
    world* w = m->host.w;
    if (!w || index < 0 || index >= m->host.demo_count)
        return;
    menu_open(m, menu_none);
    leave_server(m);
    const bool ok = play_demo_race(w, m->host.demo_files[index], g_settings.playback_mode,
                                   g_settings.record != 0, g_settings.skill, g_settings.slots);
    ride_started(m, ok);
}

// Practice or enter the selected series' next event.
void series_event(menu_state* m, bool scored)
{
    world* w = m->host.w;
    series_set* set = w ? w->series : nullptr;
    if (!set || set->selected < 0 || set->selected >= set->count)
        return;
    // The event being raced is not started again over itself.
    if (scored && set->racing_series == set->selected)
        return;
    series_start st;
    if (!start_series_event(&set->items[set->selected], &st)) {
        add_message("Every event of this series has been run");
        return;
    }
    menu_open(m, menu_none);
    leave_server(m);
    if (st.track >= 0 && st.track < g_track_list.count)
        snprintf(g_settings.track, sizeof g_settings.track, "%s", g_track_list.dirs[st.track]);
    use_selected_track(w);
    if (m->host.lineup)
        memcpy(m->host.lineup, st.lineup, sizeof st.lineup);
    const bool ok = world_reset(w, st.lineup, nullptr, g_settings.record != 0, st.minutes_ticks, st.laps, st.skill);
    if (ok && scored)
        series_begin_racing(set, set->selected);
    ride_started(m, ok);
}

void choose_list_entry(menu_state* m, int index)
{
    if (m->list_kind == list_track) {
        if (index >= 0 && index < g_track_list.count)
            snprintf(g_settings.track, sizeof g_settings.track, "%s", g_track_list.dirs[index]);
    } else if (const setting* s = menu_list_setting(m->list_kind)) {
        if (index >= 0 && index < setting_choice_count(s))
            set_choice(m, s, index);
    }
    menu_open(m, m->list_return);
}

void open_list(menu_state* m, int kind)
{
    const int back = g_game.menu;
    int current = 0;
    if (kind == list_track) {
        for (int i = 0; i < g_track_list.count; i++)
            if (strcasecmp(g_track_list.dirs[i], g_settings.track) == 0)
                current = i;
    } else if (const setting* s = menu_list_setting(kind)) {
        current = *(const int*)s->value;
    }
    m->list_kind = kind;
    m->list_page = current > 0 ? current / MENU_PAGE_SIZE : 0;
    menu_open(m, menu_choice_list);
    m->list_return = back;
    m->focus = current > 0 ? current % MENU_PAGE_SIZE : 0;
}

// Prev / Next Page on the screen's own list.
void turn_page(menu_state* m, int delta)
{
    int* page = nullptr;
    int count = 0;
    switch (g_game.menu) {
    case menu_choice_list:
        page = &m->list_page;
        count = menu_list_count(m->list_kind);
        break;
    case menu_playback:
        page = &m->demo_page;
        count = m->host.demo_count;
        break;
    case menu_series_list:
        page = &m->series_page;
        count = m->host.w && m->host.w->series ? m->host.w->series->count : 0;
        break;
    default: return;
    }
    const int pages = menu_page_count(count);
    *page = menu_focus_move(*page, delta, 0, pages > 0 ? pages - 1 : 0);
}

// ---- binding capture ----

void end_capture(menu_state* m)
{
    for (int h : m->capture_axes)
        close_axis(h);
    m->capture_axes.clear();
    m->capture_baseline.clear();
    m->capture_axis_names.clear();
    m->capture = -1;
}

menu_binding* captured_binding(menu_state* m)
{
    int count = 0;
    const setting* table = settings_table(&count);
    if (m->capture < 0 || m->capture >= count || table[m->capture].kind != setting_binding)
        return nullptr;
    return (menu_binding*)table[m->capture].value;
}

void capture_failed(menu_state* m)
{
    add_message("Failed");
    end_capture(m);
}

void capture_done(menu_state* m)
{
    end_capture(m);
    // Names become codes and axes only through the resolver.
    bindings_resolve(&g_bindings);
}

void begin_capture(menu_state* m, const setting* s)
{
    end_capture(m);
    int count = 0;
    const setting* table = settings_table(&count);
    m->capture = (int)(s - table);
    m->capture_started = sim_clock;
    log_printf("Watching pots\n");
    for (const char* name : axis_names()) {
        const int h = open_axis(name);
        if (h < 0)
            continue;
        m->capture_axes.push_back(h);
        m->capture_baseline.push_back(read_axis(h));
        m->capture_axis_names.push_back(name);
    }
}

// A key, button or device button pressed during a capture.
void capture_key(menu_state* m, int code)
{
    menu_binding* b = captured_binding(m);
    const char* name = key_name_by_code(code);
    if (!b || !name) {
        capture_failed(m);
        return;
    }
    binding_set_key(b, name);
    capture_done(m);
}

// ---- items ----

void activate_choice(menu_state* m, const menu_item& it)
{
    const int kind = list_of_setting(it.s);
    if (kind >= 0) {
        open_list(m, kind);
        return;
    }
    typeahead_clear(&m->typeahead);
    set_choice(m, it.s, choice_step(*(const int*)it.s->value, setting_choice_count(it.s), +1));
}

void run_action(menu_state* m, const menu_item& it)
{
    switch (it.action) {
    case action_goto: menu_open(m, it.arg); break;
    case action_start_race: start_race(m); break;
    case action_start_time_trial: start_time_trial(m); break;
    case action_open_list: open_list(m, it.arg); break;
    case action_list_entry: choose_list_entry(m, it.arg); break;
    case action_prev_page: turn_page(m, -1); break;
    case action_next_page: turn_page(m, +1); break;
    case action_cancel_list: menu_open(m, m->list_return); break;
    case action_play_demo: play_demo(m, it.arg); break;
    case action_open_series:
        if (m->host.w && m->host.w->series) {
            m->host.w->series->selected = it.arg;
            menu_open(m, menu_series);
        }
        break;
    case action_series_reset:
        if (m->host.w && m->host.w->series)
            series_reset_points(m->host.w->series, m->host.w->series->selected);
        break;
    case action_series_practice: series_event(m, false); break;
    case action_series_enter: series_event(m, true); break;
    case action_connect:
        // The button reads "Disconnect" while a connection exists.
        if (m->host.connected && m->host.connected(m->host.context)) {
            if (m->host.leave)
                m->host.leave(m->host.context);
        } else if (m->host.connect) {
            m->host.connect(m->host.context, g_settings.server_name);
        }
        break;
    case action_request_restart:
        if (m->host.request_restart)
            m->host.request_restart(m->host.context);
        break;
    case action_switch_mode:
        if (m->host.switch_video_mode)
            m->host.switch_video_mode(m->host.context);
        break;
    case action_preset: apply_graphics_preset(it.arg); break;
    default: break;
    }
}

void chat_key(menu_state* m, int code)
{
    const menu_keys& k = keys();
    text_edit e{m->chat, MENU_CHAT_MAX, &m->chat_cursor};
    if (is_key(code, k.enter) || is_key(code, k.keypad_enter)) {
        // A line the console does not take stays for editing.
        if (m->host.console_line && m->host.console_line(m->host.context, m->chat)) {
            m->chat[0] = 0;
            m->chat_cursor = 0;
            menu_open(m, menu_none);
        }
    } else if (code == 8) {
        text_backspace(e);
    } else if (is_key(code, k.del)) {
        text_delete(e);
    } else if (is_key(code, k.left)) {
        text_cursor_move(e, -1);
    } else if (is_key(code, k.right)) {
        text_cursor_move(e, +1);
    } else if (is_key(code, k.home)) {
        text_cursor_move(e, -MENU_CHAT_MAX);
    } else if (is_key(code, k.end)) {
        text_cursor_move(e, MENU_CHAT_MAX);
    } else if (code >= 32 && code < 127) {
        text_insert(e, (char)code);
    }
}

// Keys for the focused item; false when the item did not take the key.
bool item_key(menu_state* m, const menu_item& it, int code)
{
    const menu_keys& k = keys();
    const int dir = is_key(code, k.right) ? +1 : is_key(code, k.left) ? -1 : 0;
    switch (it.kind) {
    case item_choice: {
        if (dir) {
            typeahead_clear(&m->typeahead);
            set_choice(m, it.s, choice_step(*(const int*)it.s->value, setting_choice_count(it.s), dir));
            return true;
        }
        int current = *(const int*)it.s->value;
        if (code == 8) {
            typeahead_clear(&m->typeahead);
            return true;
        }
        if (code == 9 || (code > 32 && code < 127)) {
            std::vector<const char*> names = options_of(it.s);
            const bool moved = code == 9
                ? choice_tab(&m->typeahead, it.s, names.data(), (int)names.size(), &current)
                : choice_type_char(&m->typeahead, it.s, names.data(), (int)names.size(), &current, (char)code);
            if (moved)
                set_choice(m, it.s, current);
            return true;
        }
        return false;
    }
    case item_slider:
        if (!dir)
            return false;
        set_slider(m, it.s, slider_key(*(const double*)it.s->value, it.s->step, it.s->minimum, it.s->maximum, dir));
        return true;
    case item_text: {
        text_edit e{(char*)it.s->value, it.s->text_max, &m->chat_cursor};
        // The field's cursor lives with the chat's while a field is
        // focused; it starts at the end of the text.
        if (dir) {
            text_cursor_move(e, dir);
            return true;
        }
        if (code == 8) {
            text_backspace(e);
            changed(m, it.s);
            return true;
        }
        if (is_key(code, k.del)) {
            text_delete(e);
            changed(m, it.s);
            return true;
        }
        if (code >= 32 && code < 127) {
            text_insert(e, (char)code);
            changed(m, it.s);
            return true;
        }
        return false;
    }
    default: return false;
    }
}

}  // namespace

bool menu_rect_hit(const menu_rect& r, float x, float y)
{
    return x > r.left && x < r.right && y > r.top && y < r.bottom;
}

void menu_open(menu_state* m, int screen)
{
    const int old = g_game.menu;
    if (old != screen) {
        end_capture(m);
        // Leaving a settings screen keeps its changes even if the game
        // never gets to its orderly shutdown.
        if (menu_screen_saves(old) && !write_config())
            log_printf("Can't write the configuration\n");
        if (is_bike_screen(old) && !is_bike_screen(screen))
            give_setup_to_player(m);
    }
    m->previous = old;
    g_game.menu = screen;
    typeahead_clear(&m->typeahead);
    m->rect_screen = menu_none;
    m->focus = screen == menu_new_race ? 1 : 0;
    m->chat_cursor = 0;
}

void menu_open_chat(menu_state* m)
{
    menu_open(m, menu_chat);
    m->chat[0] = 0;
    m->chat_cursor = 0;
}

void menu_activate(menu_state* m, int index)
{
    menu_screen s;
    menu_build(m, g_game.menu, &s);
    if (index < 0 || index >= s.count)
        return;
    m->focus = index;
    const menu_item& it = s.items[index];
    switch (it.kind) {
    case item_button: run_action(m, it); break;
    case item_choice: activate_choice(m, it); break;
    case item_binding: begin_capture(m, it.s); break;
    default: break;
    }
}

void menu_key(menu_state* m, int code, int pressed)
{
    const int screen = g_game.menu;
    if (screen < 0 || !pressed)
        return;
    // The pointer's button arrives through menu_pointer_button.
    const bool pointer = code == mouse_left_code;
    if (m->capture >= 0) {
        // Typed characters come with the key that typed them.
        if (code >= 256)
            capture_key(m, code);
        return;
    }
    if (pointer)
        return;
    if (screen == menu_quit) {
        // Any key ends the game; the characters a key types follow its
        // press and the one that opened this screen must not count.
        if (code >= 256)
            g_game.quit_requested = true;
        return;
    }
    if (screen == menu_chat) {
        chat_key(m, code);
        return;
    }
    menu_screen s;
    menu_build(m, screen, &s);
    clamp_focus(m, s);
    const menu_keys& k = keys();
    if (is_key(code, k.up) || is_key(code, k.down)) {
        const int before = m->focus;
        m->focus = menu_focus_move(m->focus, is_key(code, k.up) ? -1 : +1, 0, s.count - 1);
        if (m->focus != before) {
            typeahead_clear(&m->typeahead);
            m->chat_cursor = s.items[m->focus].kind == item_text
                ? (int)strlen((const char*)s.items[m->focus].s->value) : 0;
        }
        return;
    }
    if (is_key(code, k.page_up) || is_key(code, k.page_down)) {
        turn_page(m, is_key(code, k.page_up) ? -1 : +1);
        return;
    }
    if (s.count == 0)
        return;
    const menu_item& it = s.items[m->focus];
    if (item_key(m, it, code))
        return;
    if (is_key(code, k.enter) || is_key(code, k.keypad_enter) || code == ' ')
        menu_activate(m, m->focus);
}

void menu_pointer_moved(menu_state* m, int x, int y)
{
    m->pointer_x = x;
    m->pointer_y = y;
}

void menu_pointer_button(menu_state* m, int pressed)
{
    const int screen = g_game.menu;
    if (!pressed || screen < 0 || m->capture >= 0)
        return;
    if (screen == menu_quit) {
        g_game.quit_requested = true;
        return;
    }
    if (m->rect_screen != screen)
        return;
    menu_screen s;
    menu_build(m, screen, &s);
    const float x = (float)m->pointer_x, y = (float)m->pointer_y;
    for (int i = 0; i < s.count; i++) {
        if (!menu_rect_hit(m->rects[i], x, y))
            continue;
        const menu_item& it = s.items[i];
        if (m->focus != i)
            typeahead_clear(&m->typeahead);
        m->focus = i;
        if (it.kind == item_slider) {
            if (slider_pointer_in_reach(x, m->bar_left[i], m->bar_right[i]))
                set_slider(m, it.s, slider_pointer_value(*(const double*)it.s->value, it.s->step, it.s->minimum,
                                                      it.s->maximum, x, m->bar_left[i], m->bar_right[i]));
        } else if (it.kind == item_text) {
            m->chat_cursor = (int)strlen((const char*)it.s->value);
        } else {
            menu_activate(m, i);
        }
        return;
    }
}

bool menu_escape(menu_state* m)
{
    if (m->capture >= 0) {
        end_capture(m);
        return false;
    }
    if (g_game.menu == menu_quit) {
        menu_open(m, menu_main);
        return false;
    }
    menu_open(m, menu_none);
    return true;
}

void menu_capture_poll(menu_state* m)
{
    if (m->capture < 0)
        return;
    for (size_t i = 0; i < m->capture_axes.size(); i++) {
        const int moved = read_axis(m->capture_axes[i]) - m->capture_baseline[i];
        if (moved > capture_axis_travel || moved < -capture_axis_travel) {
            menu_binding* b = captured_binding(m);
            if (!b) {
                capture_failed(m);
                return;
            }
            // The direction it moved is the direction that counts.
            binding_set_axis(b, m->capture_axis_names[i], 0, moved > 0 ? 1.0f : -1.0f);
            capture_done(m);
            return;
        }
    }
    if (sim_clock - m->capture_started > capture_seconds)
        capture_failed(m);
}
