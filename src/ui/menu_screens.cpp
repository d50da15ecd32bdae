// The screens: which items each shows, in focus order, and where. Labels,
// ranges and choices come from the setting table; only the buttons that
// lead somewhere carry texts of their own.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "bike/catalogue.h"
#include "core/bindings.h"
#include "core/config.h"
#include "core/settings.h"
#include "core/game.h"
#include "core/messages.h"
#include "race/series.h"
#include "race/world.h"
#include "render/gl_caps.h"
#include "track/track.h"
#include "ui/menu.h"

namespace {

// The 4:3 area is 48 x 36 line units.
const float area_width = 48;

menu_item& add(menu_screen* s, int kind)
{
    // The largest screen (New Race) has 47 items; more is a mistake here.
    if (s->count >= MENU_MAX_ITEMS)
        s->count = MENU_MAX_ITEMS - 1;
    menu_item& it = s->items[s->count++];
    it = menu_item();
    it.kind = kind;
    return it;
}

menu_item& button(menu_screen* s, const char* label, int action, int arg, float x, float y, float width)
{
    menu_item& it = add(s, item_button);
    snprintf(it.label, sizeof it.label, "%s", label);
    it.action = action;
    it.arg = arg;
    it.x = x;
    it.y = y;
    it.width = width;
    return it;
}

// An item over a setting; a key the table does not hold is left out (the
// screen still works with what exists).
menu_item* setting_item(menu_screen* s, const char* key, float x, float y, float width, int unit = unit_plain)
{
    const setting* st = find_setting(key);
    if (!st)
        return nullptr;
    int kind = item_button;
    switch (st->kind) {
    case setting_choice: kind = item_choice; break;
    case setting_slider: kind = item_slider; break;
    case setting_text: kind = item_text; break;
    case setting_binding: kind = item_binding; break;
    default: return nullptr;
    }
    menu_item& it = add(s, kind);
    it.s = st;
    snprintf(it.label, sizeof it.label, "%s", st->label);
    it.x = x;
    it.y = y;
    it.width = width;
    it.unit = unit;
    return &it;
}

menu_line& line(menu_screen* s, float x, float y, const char* text, bool centred = false)
{
    if (s->line_count >= MENU_MAX_LINES)
        s->line_count = MENU_MAX_LINES - 1;
    menu_line& l = s->lines[s->line_count++];
    l = menu_line();
    snprintf(l.text, sizeof l.text, "%s", text);
    l.x = x;
    l.y = y;
    l.centred = centred;
    return l;
}

void title(menu_screen* s, const char* text)
{
    snprintf(s->title, sizeof s->title, "%s", text);
}

// A column of setting items from y on with the pitch given.
void setting_column(menu_screen* s, const char* const* keys, int count, float x, float y, float width,
                    float pitch)
{
    for (int i = 0; i < count; i++)
        setting_item(s, keys[i], x, y + pitch * i, width);
}

void back_button(menu_screen* s, const char* label, int screen)
{
    button(s, label, action_goto, screen, 14, 33, 20);
}

// ---- the screens ----

void build_main(menu_screen* s)
{
    title(s, "Kessrig");
    static const struct {
        const char* label;
        int screen;
    } entries[] = {{"New Race", menu_new_race},         {"Playback Race", menu_playback},
                   {"Points Series", menu_series_list}, {"Time Trial", menu_time_trial},
                   {"Multiplayer", menu_multiplayer},   {"Bike Setup", menu_bike_setup},
                   {"Graphics/Sound Setup", menu_graphics}, {"Customize Controls", menu_controls},
                   {"Quit", menu_quit}};
    for (int i = 0; i < 9; i++)
        button(s, entries[i].label, action_goto, entries[i].screen, 14, 5 + 2.25f * i, 20);
    menu_line& a = line(s, area_width / 2, 30.5f, "Although this software depicts real objects and places, it is not", true);
    menu_line& b = line(s, area_width / 2, 31.5f, "endorsed by or affiliated with any of the subjects depicted.", true);
    a.scale = b.scale = 0.75f;
}

void track_button(menu_screen* s, float x, float y, float width)
{
    char label[128];
    snprintf(label, sizeof label, "Track: %.100s", track_display_name(g_settings.track));
    button(s, label, action_open_list, list_track, x, y, width);
}

void build_new_race(menu_screen* s)
{
    title(s, "New Race");
    back_button(s, "Back to Main Menu", menu_main);
    button(s, "Start", action_start_race, 0, 1, 3, 17);
    track_button(s, 1, 4.5f, 17);
    static const char* const keys[] = {"record", "skill", "minutes", "laps"};
    setting_column(s, keys, 4, 1, 6, 17, 1.5f);
    for (int i = 0; i < LINEUP_SETTINGS; i++) {
        char key[16];
        snprintf(key, sizeof key, "slot%02d", i);
        setting_item(s, key, i < 20 ? 19.5f : 34, 2.5f + 1.4f * (i % 20), 13.5f);
    }
}

void build_time_trial(menu_screen* s)
{
    title(s, "Time Trial");
    button(s, "Start", action_start_time_trial, 0, 10, 5, 28);
    track_button(s, 10, 7, 28);
    static const char* const keys[] = {"ghost_fade_distance", "time_trial_abort"};
    setting_column(s, keys, 2, 10, 9, 28, 2);
    back_button(s, "Back to Main Menu", menu_main);
}

// The entries of a page as buttons in one column, then the page buttons.
void page_buttons(menu_screen* s, int back_action, int back_arg, const char* back_label)
{
    button(s, "Prev Page", action_prev_page, 0, 4, 33, 12);
    button(s, "Next Page", action_next_page, 0, 17, 33, 12);
    button(s, back_label, back_action, back_arg, 30, 33, 14);
}

const setting* list_setting(int kind)
{
    static const char* const keys[] = {"bike", "rider_texture", "head_texture", "bike_texture", "wheel_texture"};
    return kind >= list_bike && kind <= list_wheels ? find_setting(keys[kind]) : nullptr;
}

void build_choice_list(const menu_state* m, menu_screen* s)
{
    static const char* const titles[] = {"Choose Bike",          "Choose Riding Gear",    "Choose Helmet",
                                         "Choose Bike Graphics", "Choose Wheel Graphics", "Choose Track"};
    title(s, titles[m->list_kind >= 0 && m->list_kind <= list_track ? m->list_kind : list_track]);
    const int count = menu_list_count(m->list_kind);
    const int first = m->list_page * MENU_PAGE_SIZE;
    for (int i = first; i < count && i < first + MENU_PAGE_SIZE; i++)
        button(s, menu_list_name(m->list_kind, i), action_list_entry, i, 8, 3 + 1.45f * (i - first), 32);
    page_buttons(s, action_cancel_list, 0, "Cancel");
}

void build_playback(const menu_state* m, menu_screen* s)
{
    title(s, "Playback Race");
    setting_item(s, "playback_mode", 8, 2.5f, 32);
    const int first = m->demo_page * MENU_PAGE_SIZE;
    for (int i = first; i < m->host.demo_count && i < first + MENU_PAGE_SIZE; i++)
        button(s, m->host.demo_names[i], action_play_demo, i, 8, 4.5f + 1.4f * (i - first), 32);
    if (m->host.demo_count == 0)
        line(s, area_width / 2, 6, "No demos recorded yet", true);
    page_buttons(s, action_goto, menu_main, "Back to Main Menu");
}

void build_series_list(const menu_state* m, menu_screen* s)
{
    title(s, "Points Series");
    const series_set* set = m->host.w ? m->host.w->series : nullptr;
    const int count = set ? set->count : 0;
    const int first = m->series_page * MENU_PAGE_SIZE;
    for (int i = first; i < count && i < first + MENU_PAGE_SIZE; i++)
        button(s, set->items[i].name, action_open_series, i, 8, 3 + 1.45f * (i - first), 32);
    if (count == 0)
        line(s, area_width / 2, 6, "No points series found", true);
    page_buttons(s, action_goto, menu_main, "Back to Main Menu");
}

void build_series(const menu_state* m, menu_screen* s)
{
    const series_set* set = m->host.w ? m->host.w->series : nullptr;
    if (!set || set->selected < 0 || set->selected >= set->count) {
        title(s, "Points Series");
        button(s, "Back to Points Series List", action_goto, menu_series_list, 14, 33, 20);
        return;
    }
    const points_series& ps = set->items[set->selected];
    title(s, ps.name);
    char text[1024];
    series_heading_text(&ps, text, sizeof text);
    line(s, area_width / 2, 2.5f, text, true);
    // The table: "No.", a column per round of this page, "Total".
    const int rounds = series_round_count(&ps);
    const int shown = rounds < SERIES_ROUNDS_PAGE ? rounds : SERIES_ROUNDS_PAGE;
    const float column = 4.6f, first_x = 4.5f, total_x = first_x + column * shown + 0.5f;
    float y = 4;
    line(s, 1, y, "No.").scale = 0.75f;
    for (int r = 0; r < shown; r++) {
        snprintf(text, sizeof text, "Rd %d", r + 1);
        line(s, first_x + column * r, y, text).scale = 0.75f;
    }
    line(s, total_x, y, "Total").scale = 0.75f;
    standing_row rows[SERIES_MAX_RIDERS];
    const int count = series_standings(&ps, rows);
    for (int i = 0; i < count && s->line_count + shown + 2 < MENU_MAX_LINES; i++) {
        y += 0.9f;
        if (y > 31)
            break;
        series_number_text(&ps, rows[i].rider, g_player_rider.number, text, sizeof text);
        menu_line& no = line(s, 1, y, text);
        no.scale = 0.75f;
        if (rows[i].rider == ps.robot_count)
            no.r = no.g = no.b = 0.6f;
        for (int r = 0; r < shown; r++) {
            series_cell_text(&ps, rows[i].rider, r, text, sizeof text);
            line(s, first_x + column * r, y, text).scale = 0.75f;
        }
        snprintf(text, sizeof text, "%d", rows[i].points);
        line(s, total_x, y, text).scale = 0.75f;
    }
    button(s, "Reset Points", action_series_reset, 0, 1, 31.5f, 14);
    button(s, "Practice Next Event", action_series_practice, 0, 16.5f, 31.5f, 15);
    button(s, "Enter Next Event", action_series_enter, 0, 33, 31.5f, 14);
    button(s, "Back to Points Series List", action_goto, menu_series_list, 12, 33.5f, 24);
}

// The rider table: one row per slot the server told us about.
void rider_table(const menu_state* m, menu_screen* s)
{
    static const float columns[5] = {4, 7, 10.5f, 14, 27};
    static const char* const titles[5] = {"No.", "Slot", "Ping", "Bike", "Name"};
    const float top = 9, pitch = 1.05f, scale = 0.75f;
    for (int c = 0; c < 5; c++) {
        menu_line& l = line(s, columns[c], top, titles[c]);
        l.scale = scale;
        l.r = l.g = l.b = 0.75f;
    }
    if (!m->host.rider_rows)
        return;
    menu_rider_row rows[MENU_RIDER_ROWS];
    const int total = m->host.rider_rows(m->host.context, rows, MENU_RIDER_ROWS);
    const int shown = total < MENU_RIDER_ROWS ? total : MENU_RIDER_ROWS;
    for (int i = 0; i < shown; i++) {
        const float y = top + pitch * (i + 1);
        char slot[16], ping[16];
        snprintf(slot, sizeof slot, "%d", rows[i].slot);
        snprintf(ping, sizeof ping, "%d", rows[i].ping_ms);
        const char* const cells[5] = {rows[i].number, slot, ping, rows[i].bike, rows[i].name};
        for (int c = 0; c < 5; c++)
            line(s, columns[c], y, cells[c]).scale = scale;
    }
    if (total > shown) {
        char more[64];
        snprintf(more, sizeof more, "%d more", total - shown);
        menu_line& l = line(s, columns[0], top + pitch * (shown + 1), more);
        l.scale = scale;
        l.r = l.g = l.b = 0.75f;
    }
}

void build_multiplayer(const menu_state* m, menu_screen* s)
{
    title(s, "Multiplayer");
    setting_item(s, "server_name", 4, 4, 40);
    const bool connected = m->host.connected && m->host.connected(m->host.context);
    button(s, connected ? "Disconnect" : "Connect", action_connect, 0, 4, 6, 19);
    button(s, "Request Restart", action_request_restart, 0, 25, 6, 19);
    rider_table(m, s);
    back_button(s, "Back to Main Menu", menu_main);
}

void build_bike_setup(menu_screen* s)
{
    title(s, "Bike Setup");
    static const char* const left[] = {"bike",          "name",          "number",           "rider_texture",
                                       "head_texture",  "bike_texture",  "wheel_texture",    "stability",
                                       "auto_clutch_rpms", "brake_torque", "rear_brake_torque", "max_dab_speed",
                                       "arcade"};
    static const char* const right[] = {"lean_indicator", "reverse_steering", "sticky_dab", "auto_align",
                                        "auto_dab",       "auto_shift",       "stop_wheelies", "front_brake",
                                        "rear_brake"};
    setting_column(s, left, 13, 0.5f, 2.5f, 23, 1.55f);
    setting_column(s, right, 9, 24.5f, 2.5f, 23, 1.55f);
    button(s, "Suspension and Gearing", action_goto, menu_suspension, 24.5f, 18.5f, 23);
    button(s, "Advanced Stability Setup", action_goto, menu_stability, 24.5f, 20.5f, 23);
    back_button(s, "Back to Main Menu", menu_main);
}

void build_suspension(menu_screen* s)
{
    title(s, "Suspension and Gearing");
    static const struct {
        const char* key;
        int unit;
    } rows[] = {{"rider_mass_distribution", unit_plain},
                {"rider_zdamping", unit_plain},
                {"rider_zspring", unit_plain},
                {"rider_ydamping", unit_plain},
                {"rider_yspring", unit_plain},
                {"rear_sprocket_adjustment", unit_rear_sprocket},
                {"front_sprocket_adjustment", unit_front_sprocket},
                {"shock_preload_adjustment", unit_shock_preload},
                {"shock_spring_rate_adjustment", unit_shock_spring},
                {"shock_slow_rebound_adjustment", unit_plain},
                {"shock_rebound_adjustment", unit_plain},
                {"shock_slow_compression_adjustment", unit_plain},
                {"shock_compression_adjustment", unit_plain},
                {"fork_oil_level_adjustment", unit_fork_oil},
                {"fork_preload_adjustment", unit_fork_preload},
                {"fork_spring_rate_adjustment", unit_fork_spring},
                {"fork_slow_rebound_adjustment", unit_plain},
                {"fork_rebound_adjustment", unit_plain},
                {"fork_slow_compression_adjustment", unit_plain},
                {"fork_compression_adjustment", unit_plain}};
    for (int i = 0; i < 20; i++)
        setting_item(s, rows[i].key, 1, 2.3f + 1.5f * i, 46, rows[i].unit);
    back_button(s, "Back to Bike Setup Menu", menu_bike_setup);
}

void build_stability(menu_screen* s)
{
    title(s, "Advanced Stability Setup");
    static const char* const keys[] = {"restricted_lock",    "restricted_lock_speed", "full_lock_speed",
                                       "land_damping_factor", "land_damping_falloff", "slow_damping_factor",
                                       "slow_damping_speed", "direct_steering",       "max_steering_force",
                                       "steering_strength",  "steering_damping",      "roll_limit_factor",
                                       "roll_limit_angle",   "roll_damping",          "leveling"};
    setting_column(s, keys, 15, 4, 3, 40, 1.8f);
    back_button(s, "Back to Bike Setup Menu", menu_bike_setup);
}

void build_controls(menu_screen* s)
{
    title(s, "Customize Controls");
    // The menu's order, not the file's.
    static const char* const keys[] = {"throttle_key", "front_brake_key", "rear_brake_key", "left_key",
                                       "right_key",    "clutch_key",      "upshift_key",    "downshift_key",
                                       "dab_key",      "back_up_key",     "lean_forward_key", "lean_backward_key",
                                       "pause_key",    "step_key",        "rewind_key",     "skip_key",
                                       "prev_key",     "next_key",        "console_key",    "screenshot_key"};
    for (int i = 0; i < 20; i++)
        setting_item(s, keys[i], i < 10 ? 1.5f : 25, 3 + 2.5f * (i % 10), 21.5f);
    back_button(s, "Back to Main Menu", menu_main);
}

void build_graphics(menu_screen* s)
{
    title(s, "Graphics/Sound Setup");
    if (menu_item* vm = setting_item(s, "video_mode", 0.5f, 3, 23))
        (void)vm;
    button(s, "Switch To Selected Mode Now", action_switch_mode, 0, 0.5f, 4.6f, 23);
    for (int p = 0; p < GRAPHICS_PRESETS; p++)
        button(s, graphics_preset_button(p), action_preset, p, 0.5f, 7 + 1.6f * p, 23);
    static const char* const keys[] = {"hide_rider",          "rigid_camera",          "fov",
                                       "first_person_height", "first_person_angle",    "third_person_height",
                                       "third_person_distance", "volume",              "comp_volume"};
    setting_column(s, keys, 9, 24.5f, 3, 23, 1.6f);
    button(s, "Advanced Graphics Setup", action_goto, menu_advanced_graphics, 24.5f, 18.5f, 23);
    back_button(s, "Back to Main Menu", menu_main);
    char text[320];
    const int preset = current_graphics_preset();
    snprintf(text, sizeof text, "Current Settings: %s", preset >= 0 ? graphics_preset_name(preset) : "Custom");
    line(s, 0.5f, 14.5f, text);
    line(s, 0.5f, 22, "Some settings will not take effect until next restart").scale = 0.8f;
    line(s, 0.5f, 24, "Driver info:").scale = 0.8f;
    const char* strings[] = {g_gl_caps.vendor, g_gl_caps.renderer, g_gl_caps.version};
    for (int i = 0; i < 3; i++) {
        menu_line& l = line(s, 0.5f, 25 + 0.9f * i, strings[i]);
        l.scale = 0.75f;
        l.r = l.g = l.b = 0.8f;
    }
}

void build_advanced_graphics(menu_screen* s)
{
    title(s, "Advanced Graphics Setup");
    static const char* const keys[] = {"ground_detail", "ground_texture_detail", "ground_texture_dim",
                                       "ground_mipmaps", "texture_compress",     "render_texture",
                                       "use_shader",    "model_detail",          "model_texture_detail",
                                       "roost_density", "lens_flare",            "reflections"};
    for (int i = 0; i < 12; i++) {
        menu_item* it = setting_item(s, keys[i], 3, 3 + 2 * i, 34);
        if (!it)
            continue;
        if (i == 5)
            it->note = menu_terrain_method_available(g_settings.render_texture) ? "Available" : "Not Available";
        if (i == 6)
            it->note = menu_shaders_available() ? "Available" : "Not Available";
    }
    back_button(s, "Back to Graphics/Sound Menu", menu_graphics);
}

void build_quit(const menu_state* m, menu_screen* s)
{
    menu_line& t = line(s, area_width / 2, 12, "Kessrig", true);
    t.scale = 2;
    line(s, area_width / 2, 17, "Press any key to exit or ESC to keep playing", true);
    const world* w = m->host.w;
    if (m->host.editor && w && (w->track.heightfield.changed_marker & 2)) {
        // Blinks: shown in the second half of every half second.
        if (fmod(sim_clock, 0.5) >= 0.25) {
            menu_line& warn = line(s, area_width / 2, 20, "Track has been modified since last save!  Think about it!!!", true);
            warn.g = warn.b = 0;
        }
    }
}

void build_chat(const menu_state*, menu_screen* s)
{
    // The line itself is drawn by draw_screen; it is not an item.
    (void)s;
}

}  // namespace

bool menu_terrain_method_available(int method)
{
    const gl_caps& c = g_gl_caps;
    const bool shaders = c.has_vertex_shader && c.has_fragment_shader && c.multitexture_ok;
    switch (method) {
    case 0: return true;                                   // Software
    case 1: return c.multitexture_ok;                      // Hardware/Copy
    case 2: return c.multitexture_ok && c.has_fbo;         // Hardware/Direct
    case 3: return shaders;                                // Shaders/Copy
    case 4: return shaders && c.has_fbo;                   // Shaders/Direct
    default: return false;
    }
}

bool menu_shaders_available()
{
    const gl_caps& c = g_gl_caps;
    return c.has_vertex_shader && c.has_fragment_shader && c.multitexture_ok;
}

int menu_list_count(int kind)
{
    if (kind == list_track)
        return g_track_list.count;
    const setting* s = list_setting(kind);
    return s ? setting_choice_count(s) : 0;
}

const char* menu_list_name(int kind, int index)
{
    if (kind == list_track)
        return index >= 0 && index < g_track_list.count ? g_track_list.names[index] : "";
    const setting* s = list_setting(kind);
    const char* name = s ? setting_choice_name(s, index) : nullptr;
    return name ? name : "";
}

const setting* menu_list_setting(int kind)
{
    return list_setting(kind);
}

bool menu_screen_saves(int screen)
{
    switch (screen) {
    case menu_new_race:
    case menu_time_trial:
    case menu_bike_setup:
    case menu_suspension:
    case menu_stability:
    case menu_controls:
    case menu_graphics:
    case menu_advanced_graphics:
    case menu_playback:
    case menu_multiplayer:
        return true;
    default:
        return false;
    }
}

void menu_build(const menu_state* m, int screen, menu_screen* out)
{
    out->id = screen;
    out->title[0] = 0;
    out->count = 0;
    out->line_count = 0;
    switch (screen) {
    case menu_main: build_main(out); break;
    case menu_new_race: build_new_race(out); break;
    case menu_choice_list: build_choice_list(m, out); break;
    case menu_playback: build_playback(m, out); break;
    case menu_series_list: build_series_list(m, out); break;
    case menu_series: build_series(m, out); break;
    case menu_time_trial: build_time_trial(out); break;
    case menu_bike_setup: build_bike_setup(out); break;
    case menu_suspension: build_suspension(out); break;
    case menu_stability: build_stability(out); break;
    case menu_controls: build_controls(out); break;
    case menu_graphics: build_graphics(out); break;
    case menu_advanced_graphics: build_advanced_graphics(out); break;
    case menu_multiplayer: build_multiplayer(m, out); break;
    case menu_quit: build_quit(m, out); break;
    case menu_chat: build_chat(m, out); break;
    default: break;
    }
}

void menu_item_value_text(const menu_item& item, char* out, size_t size)
{
    out[0] = 0;
    const setting* s = item.s;
    if (!s)
        return;
    switch (item.kind) {
    case item_choice: {
        const char* name = setting_choice_name(s, *(const int*)s->value);
        // A texture named by the setup that no list entry matches yet.
        if (!name && (s->flags & setting_pending_text) && s->pending_text)
            name = s->pending_text;
        snprintf(out, size, "%s", name ? name : "");
        break;
    }
    case item_slider: {
        const double v = *(const double*)s->value;
        const setting* bike = find_setting("bike");
        const char* model = bike ? setting_choice_name(bike, g_settings.bike_model) : nullptr;
        const bike_params* p = find_bike_params(model ? model : "");
        const double f = slider_fill(v, 0, 100);
        switch (item.unit) {
        case unit_fork_spring: display_fork_spring(p, f, out, size); break;
        case unit_fork_preload: display_fork_preload(p, f, out, size); break;
        case unit_fork_oil: display_fork_oil_level(p, f, out, size); break;
        case unit_shock_spring: display_shock_spring(p, f, out, size); break;
        case unit_shock_preload: display_shock_preload(p, f, out, size); break;
        case unit_front_sprocket: display_front_sprocket(p, v, out, size); break;
        case unit_rear_sprocket: display_rear_sprocket(p, v, out, size); break;
        default: snprintf(out, size, "%.2f", v); break;
        }
        break;
    }
    case item_text:
        snprintf(out, size, "%s", (const char*)s->value);
        break;
    case item_binding: {
        const menu_binding* b = (const menu_binding*)s->value;
        snprintf(out, size, "%s", b->axis_name[0] ? b->axis_name : b->key_name);
        break;
    }
    default: break;
    }
}
