// The game's main routine: start-up in a fixed order, the frame loop with
// its fixed 1/128 s ticks, and shutdown in a fixed order.
#include <GL/gl.h>

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "audio/audio_device.h"
#include "bike/bike.h"
#include "bike/catalogue.h"
#include "bike/physics.h"
#include "core/bindings.h"
#include "core/command_line.h"
#include "core/config.h"
#include "core/console.h"
#include "core/game_sound.h"
#include "core/frame_capture.h"
#include "core/frame_timing.h"
#include "core/game.h"
#include "core/input_script.h"
#include "core/messages.h"
#include "core/player_input.h"
#include "core/services.h"
#include "core/settings.h"
#include "editor/editor_game.h"
#include "files/datafs.h"
#include "files/memory.h"
#include "net/client.h"
#include "net/net.h"
#include "platform/input.h"
#include "platform/log.h"
#include "platform/sdl_audio.h"
#include "platform/window.h"
#include "race/demo.h"
#include "race/race.h"
#include "race/series.h"
#include "race/world.h"
#include "render/camera.h"
#include "render/gl_caps.h"
#include "render/scene.h"
#include "render/model.h"
#include "render/render_services.h"
#include "render/shaders.h"
#include "render/terrain_render.h"
#include "render/texture.h"
#include "robot/robots.h"
#include "track/track.h"
#include "ui/menu.h"
#include "ui/font.h"
#include "ui/hud.h"

namespace {

// Keys the menus and the frame loop use whatever the bindings say.
struct fixed_keys {
    int up, down, left, right, enter, keypad_enter, esc, pause, cursor_left, cursor_right, page_up, page_down,
        close;
};

struct main_state {
    game_window* window = nullptr;
    fixed_keys keys = {};
    std::vector<std::string> video_modes;  // names of the video_mode choices
    frame_timer timer;
    double now = 0.0;  // clock at the end of the frame's timing step
    int lineup[RACE_SLOTS] = {};  // what the next world reset lines up
    world* w = nullptr;           // the one world the game runs
    player_input input;           // events, controls and the views
    view_hooks view_drawers;      // overlays of the views (none yet)
    frame_capture capture;        // "--record-video" and screenshots
    input_script script;          // KZ_INPUT_SCRIPT, for tests of the game
    int cursor_axes[2] = {-1, -1};
    hud_state hud;                // the heads-up display's frame-to-frame state
    int width = 0, height = 0;    // the drawable size of the frame being drawn
    FILE* audio_record = nullptr; // "--record-audio": one tick of sound per world tick
    net_session* net = nullptr;   // the race client; idle until a server is joined
};
main_state g_main;

// --- Status screen ------------------------------------------------------------

// Input that arrives while the game cannot take it (loading, the window
// settling) is dropped, all but a close request: the window's close or
// SIGINT/SIGTERM must still end the game once it runs again.
void drain_input()
{
    input_event e;
    while (next_event(&e)) {
        if (e.code == close_code && e.pressed)
            g_game.quit_requested = true;
    }
    bindings_release_all(&g_bindings);
}

void draw_status(const char* text)
{
    int w, h;
    if (!g_main.window || !begin_frame(g_main.window, &w, &h))
        return;
    draw_title_screen(w, h, text);
    end_frame(g_main.window);
}

void close_game_audio();

void close_for_fatal()
{
    close_game_audio();
    if (g_main.window) {
        close_window(g_main.window);
        g_main.window = nullptr;
    }
}

void status(const char* text)
{
    show_status(text);
    log_printf("%s\n", text);
}

// --- Clock seam for the frame timing -------------------------------------------

double real_now(void*)
{
    return clock_seconds();
}

void real_sleep(void*, double seconds)
{
    if (seconds <= 0)
        return;
    long usec = (long)(seconds * 1e6);
    sleep_for(usec / 1000000, usec % 1000000);
}

const frame_clock_source g_real_clock = {real_now, real_sleep, nullptr};

// --- Start-up ---------------------------------------------------------------

bool cpu_has_mmx()
{
#if defined(__x86_64__) || defined(_M_X64)
    return true;
#elif defined(__i386__)
    return __builtin_cpu_supports("mmx");
#else
    return false;
#endif
}

void build_video_mode_names()
{
    g_main.video_modes = {"Default Fullscreen", "Windowed"};
    const display_mode* modes = display_modes();
    if (!modes[0].width)
        return;
    for (const display_mode* m = modes; m->width; m++) {
        if (m->depth != modes[0].depth)
            continue;
        char name[32];
        snprintf(name, sizeof name, "%dx%d", m->width, m->height);
        g_main.video_modes.push_back(name);
    }
}

// The video_mode setting chooses among these names.
void install_video_mode_names()
{
    std::vector<const char*> names;
    for (const std::string& m : g_main.video_modes)
        names.push_back(m.c_str());
    set_video_mode_names(names.data(), (int)names.size());
}

// The size of a full-screen video mode choice: "Default Fullscreen" (0 x 0)
// takes the desktop size; later entries are the display modes of the first
// mode's depth, in list order.
void full_screen_size(int video_mode, int* width, int* height)
{
    *width = *height = 0;
    int index = video_mode - 2;
    const display_mode* modes = display_modes();
    for (const display_mode* m = modes; m->width && index >= 0; m++) {
        if (m->depth != modes[0].depth)
            continue;
        if (index-- == 0) {
            *width = m->width;
            *height = m->height;
        }
    }
}

bool create_window()
{
    int width, height, flags;
    if (g_settings.video_mode == 1) {
        width = g_settings.xres;
        height = g_settings.yres;
        flags = g_options.depth_bits & window_depth_mask;
    } else {
        full_screen_size(g_settings.video_mode, &width, &height);
        flags = (g_options.depth_bits & window_depth_mask) | window_fullscreen;
    }
    g_main.window = create_gl_window("Kessrig", width, height, flags, 0, g_options.zdepth_bits, 0, 0);
    return g_main.window != nullptr;
}

void set_view(int width, int height)
{
    glViewport(0, 0, width, height);
}

// Drains input and fits the viewport to the window while it settles.
void settle_window()
{
    drain_input();
    int w, h;
    if (begin_frame(g_main.window, &w, &h)) {
        set_view(w, h);
        glClear(GL_COLOR_BUFFER_BIT);
        end_frame(g_main.window);
    }
}

// Returns false when the window never became drawable.
bool wait_for_window()
{
    for (int polls = 0; polls < 162; polls++) {
        int w, h;
        if (begin_frame(g_main.window, &w, &h)) {
            end_frame(g_main.window);
            return true;
        }
        sleep_for(0, 62500);
    }
    return false;
}

// Reads what the driver offers and logs it.
void query_gl()
{
    gl_init_caps();
    log_printf("GL_VENDOR: %s\n", g_gl_caps.vendor);
    log_printf("GL_RENDERER: %s\n", g_gl_caps.renderer);
    log_printf("GL_VERSION: %s\n", g_gl_caps.version);
    log_printf("GL_EXTENSIONS: %s\n", g_gl_caps.extensions);
    // Shader programs only where the player allows them and the card has the
    // texture units they sample; a program that fails leaves them all off.
    if (g_settings.use_shader && g_gl_caps.multitexture_ok)
        g_gl_caps.shaders_on = shaders_init();
    g_gl_caps.terrain_shader_on = g_gl_caps.shaders_on && g_settings.render_texture >= 3;
}

// Loads the fonts and the pictures the heads-up display and the title
// screen use.
void load_images()
{
    fonts_load();
    const char* const images[] = {"!@tach.png", "!@shifter.png", "!@pitboard.png", "!@title.png"};
    for (const char* name : images)
        texture_get(name);
    hud_load_images();
}

// --- Heads-up display -----------------------------------------------------------

void hud_tv_overlay(void*, const world* w, int)
{
    draw_tv_overlay(w, g_main.width, g_main.height, sim_clock);
}

void hud_rider_name(void*, const char* name)
{
    draw_rider_name(name, g_main.width, g_main.height);
}

void hud_paused_text(void*)
{
    draw_paused_text(g_main.width, g_main.height);
}

void install_view_drawers()
{
    view_hooks& h = g_main.view_drawers;
    h.tv_overlay = hud_tv_overlay;
    h.rider_name = hud_rider_name;
    h.paused_text = hud_paused_text;
}

// The switches the display reads: the configuration's, overridden by the
// command line where it gave a value.
bool readout_switch(int option, int setting)
{
    return (option >= 0 ? option : setting) != 0;
}

void draw_race_hud(int width, int height)
{
    const world* w = g_main.w;
    hud_frame f;
    f.width = width;
    f.height = height;
    f.watched_slot = g_game.watched_slot;
    f.sim_clock = sim_clock;
    f.dabbing = g_main.input.sticky_dab && riding_own_bike(&g_game, w);
    f.lean_indicator = g_bike_setup.lean_indicator != 0;
    f.draw_fps = readout_switch(g_options.draw_fps, g_settings.draw_fps);
    f.draw_time = readout_switch(g_options.draw_time, g_settings.draw_time);
    f.draw_speed = readout_switch(g_options.draw_speed, g_settings.draw_speed);
    // The ping needs a connection with a slot of our own.
    f.draw_ping = readout_switch(g_options.draw_ping, g_settings.draw_ping) &&
                  net_ping(g_main.net, w->race.tick, &f.ping_ms, &f.offset_ms);
    f.render_stats = readout_switch(g_options.draw_render_stats, g_settings.render_stats ? 1 : 0);
    f.suspension_graph = g_settings.suspension_graph;
    f.map_scale = g_settings.map_scale;
    if (w->series && w->series->racing_series >= 0 && w->series->racing_event >= 0) {
        const points_series& ps = w->series->items[w->series->racing_series];
        if (w->series->racing_event < ps.event_count)
            f.event_name = ps.events[w->series->racing_event].name;
    }
    draw_hud(&g_main.hud, w, f);
}

// Track loads from now on set up the terrain's drawing with the configured
// method, and erosion and decal edits mark its textures dirty.
void set_up_terrain_drawing()
{
    g_terrain_settings = terrain_settings_from_params(derive_render_params(g_settings, g_options), g_settings.render_texture,
                                                      g_settings.ground_mipmaps, g_options.no_vertex_arrays, g_options.debug);
    terrain_render_install_hooks();
}

void set_gl_state()
{
    glClear(GL_COLOR_BUFFER_BIT);
    glClearColor(0.196078f, 0.6f, 0.8f, 0.0f);
    glEnable(GL_CULL_FACE);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    if (g_options.fugly)
        glShadeModel(GL_FLAT);
}

// --- Menus and the chat line ------------------------------------------------------

// The demo list (the data files "demos/*.kzdemo", shown by the part of the
// name after the last '/' and before the last '.') and the points series.
struct menu_lists {
    std::vector<std::string> demo_names, demo_files;
    std::vector<const char*> demo_name_ptrs, demo_file_ptrs;
    series_set series;
};
menu_lists g_menu_lists;

void build_menu_lists()
{
    menu_lists& l = g_menu_lists;
    const char* const* files = build_file_index();
    for (const char* const* f = files; f && *f; f++) {
        const size_t n = strlen(*f);
        if (strncmp(*f, "demos/", 6) != 0 || n < 13 || strcmp(*f + n - 7, ".kzdemo") != 0)
            continue;
        const char* slash = strrchr(*f, '/');
        std::string name(slash + 1);
        name = name.substr(0, name.rfind('.'));
        if (g_options.debug)
            log_printf("%s -> %s\n", *f, name.c_str());
        l.demo_names.push_back(name);
        l.demo_files.push_back(std::string("@") + *f);
    }
    for (size_t i = 0; i < l.demo_names.size(); i++) {
        l.demo_name_ptrs.push_back(l.demo_names[i].c_str());
        l.demo_file_ptrs.push_back(l.demo_files[i].c_str());
    }
    load_series(&l.series, files, g_track_list.dirs, g_track_list.count, g_options.debug);
}

void menu_ride_started(void*, bool ok)
{
    g_game.track_loaded = ok;
    g_game.watched_slot = g_main.w->race.watched_slot;
    views_new_ride(&g_main.input.views, g_main.w);
    update_view_mode(&g_game, &g_main.input.views, g_main.w);
}

bool menu_console_line(void*, const char* line)
{
    console_context c;
    c.w = g_main.w;
    const int slot = g_game.watched_slot;
    if (g_game.track_loaded && slot >= 0 && slot < RACE_SLOTS) {
        c.watched_bike = g_main.w->race.slots[slot].b;
        c.watched_is_own = c.watched_bike && g_main.w->race.slots[slot].driver == slot_driver_local;
        c.watched_sound = c.watched_bike ? slot_engine_sound(slot) : nullptr;  // engine sounds: "pipe"
    }
    c.free_camera = &g_main.input.views.free_camera;
    c.key_frames = &g_main.input.views.key_frames;
    c.timer = &g_main.timer;
    c.suspension_graph = &g_settings.suspension_graph;
    c.render_stats = &g_settings.render_stats;
    c.reset_render_stats = [](void*) { hud_reset_render_stats(&g_main.hud); };
    c.net = g_main.net;
    c.no_arcade = g_main.net->no_arcade;
    // A setup read from a file may carry another bike or graphics.
    c.setup_changed = &g_main.net->info_changed;
    return run_console_line(line, c);
}

void menu_switch_video_mode(void*)
{
    const int mode = g_settings.video_mode;
    if (mode == 1) {
        request_mode(g_main.window, g_settings.xres, g_settings.yres, false);
        return;
    }
    int width, height;
    full_screen_size(mode, &width, &height);
    request_mode(g_main.window, width, height, true);
}

// The riders the server told us about, in slot order: the bike and name
// on the track where the slot has one, else what the server sent.
int menu_rider_rows(void*, menu_rider_row* rows, int max)
{
    const net_session* net = g_main.net;
    const world* w = g_main.w;
    int total = 0;
    for (int slot = 0; slot < NET_SLOTS && slot < RACE_SLOTS; slot++) {
        const net_slot_info& info = net->slots[slot];
        if (!info.known)
            continue;
        if (total < max) {
            const rider_strings& r = w->race.slots[slot].b ? w->race.slots[slot].rider : info.rider;
            menu_rider_row& row = rows[total];
            row = menu_rider_row();
            row.slot = slot;
            row.ping_ms = (int)((int64_t)info.ping_ticks * 1000 / RACE_TICKS_PER_SECOND);
            snprintf(row.number, sizeof row.number, "%s", r.number);
            snprintf(row.bike, sizeof row.bike, "%s", r.model);
            snprintf(row.name, sizeof row.name, "%s", r.name);
        }
        total++;
    }
    return total;
}

void install_server_menu(menu_host& host)
{
    host.connected = [](void*) { return net_connected(g_main.net); };
    host.connect = [](void*, const char* name) { net_connect(g_main.net, name); };
    host.leave = [](void*) { net_leave(g_main.net, g_main.w); };
    host.leave_now = [](void*) {
        if (net_connected(g_main.net))
            net_disconnect_now(g_main.net, g_main.w);
    };
    host.request_restart = [](void*) { net_request_restart(g_main.net); };
    host.rider_rows = menu_rider_rows;
    host.rider_changed = [](void*) { g_main.net->info_changed = true; };
    host.no_arcade = [](void*) { return g_main.net->no_arcade; };
}

// The menus take Esc, the keys while one is open, the pointer and the chat
// key; they start rides through the game's world and lineup.
void install_menus()
{
    build_menu_lists();
    g_main.w->series = &g_menu_lists.series;
    menu_host& host = g_menu.host;
    host.w = g_main.w;
    host.lineup = g_main.lineup;
    host.ride_started = menu_ride_started;
    host.console_line = menu_console_line;
    host.switch_video_mode = menu_switch_video_mode;
    host.rotate_lineup = g_options.rotate_lineup;
    host.editor = g_options.editor;
    host.demo_names = g_menu_lists.demo_name_ptrs.data();
    host.demo_files = g_menu_lists.demo_file_ptrs.data();
    host.demo_count = (int)g_menu_lists.demo_names.size();
    install_server_menu(host);
    player_hooks& h = g_main.input.hooks;
    h.context = &g_menu;
    h.open_main_menu = [](void* m) { menu_open((menu_state*)m, menu_main); };
    h.close_menu = [](void* m) { return menu_escape((menu_state*)m); };
    h.menu_key = [](void* m, int code, int pressed) { menu_key((menu_state*)m, code, pressed); };
    h.pointer_button = [](void* m, int pressed) { menu_pointer_button((menu_state*)m, pressed); };
    h.pointer_moved = [](void* m, int x, int y) { menu_pointer_moved((menu_state*)m, x, y); };
    h.open_chat = [](void* m) { menu_open_chat((menu_state*)m); };
}

void free_menu_lists()
{
    if (g_main.w)
        g_main.w->series = nullptr;
    series_set_free(&g_menu_lists.series);
    g_menu_lists = menu_lists();
}

// --- Sound ------------------------------------------------------------------------

// The game's sound is recorded at this rate, one tick of samples at a time,
// so that it stays in step with the recorded video frames.
constexpr int RECORD_AUDIO_RATE = 88320;
constexpr int RECORD_AUDIO_TICK = 690;  // samples per tick: 1380 bytes

// A recording asks for the readback device even with "--nosound": the
// recording is the point of the run. Otherwise the sound card, unless the
// player wants silence. A missing device leaves the game silent.
void open_game_audio()
{
    if (g_options.record_audio[0]) {
        g_main.audio_record = fopen(g_options.record_audio, "wb");
        if (!g_main.audio_record)
            log_printf("Can't open %s for the audio recording (%s)\n", g_options.record_audio, strerror(errno));
    }
    if (g_main.audio_record) {
        g_audio = open_readback_audio(RECORD_AUDIO_RATE, RECORD_AUDIO_TICK);
        if (!g_audio) {
            fclose(g_main.audio_record);
            g_main.audio_record = nullptr;
        }
    } else if (!g_options.no_sound) {
        g_audio = open_audio();
    }
    if (!g_audio)
        log_printf("No sound\n");
}

// Appends one tick of the recorded sound. A failed write ends the
// recording with a message; the game goes on.
void record_audio_tick()
{
    if (!g_main.audio_record)
        return;
    const int16_t* block = render_block(g_audio);
    if (!block)
        return;
    const size_t bytes = sizeof(int16_t) * RECORD_AUDIO_TICK;
    if (fwrite(block, 1, bytes, g_main.audio_record) != bytes) {
        add_message("Audio recording stopped (%s)", strerror(errno));
        fclose(g_main.audio_record);
        g_main.audio_record = nullptr;
    }
}

// The sound of one frame. The engine sound of every bike is updated here
// for the frame (volumes from the view, the menus and the settings) before
// the device takes it.
void feed_sound()
{
    if (!g_audio)
        return;
    // --- Engine sounds: one frame for every bike, heard from the camera the
    // frame was drawn with.
    sound_frame f;
    f.volume = g_settings.volume;
    f.comp_volume = g_settings.comp_volume;
    f.paused = g_game.paused;
    f.editor_view = g_game.view_mode == view_editor;
    f.menu_open = g_game.menu >= 0;
    f.watched_slot = g_game.watched_slot;
    f.have_camera = g_game.track_loaded && view_camera_for(&g_main.input.views, &g_game, g_main.w,
                                                           current_view_settings(), &f.camera);
    f.now = sim_clock;
    if (g_game.track_loaded)
        engine_sounds_frame(g_main.w, g_audio, f);
    // --- end of engine sounds
    audio_commit(g_audio);
}

// Every voice must be gone before the device closes.
void close_game_audio()
{
    engine_sounds_free();  // engine sounds: their voices go before the device
    if (g_audio) {
        close_audio(g_audio);
        g_audio = nullptr;
    }
    if (g_main.audio_record) {
        if (fclose(g_main.audio_record) != 0)
            log_printf("Can't finish the audio recording (%s)\n", strerror(errno));
        g_main.audio_record = nullptr;
    }
}

// --- Frame loop ---------------------------------------------------------------

void resolve_fixed_keys()
{
    fixed_keys& k = g_main.keys;
    k.up = key_code_by_name("up");
    k.down = key_code_by_name("down");
    k.left = key_code_by_name("left");
    k.right = key_code_by_name("right");
    k.enter = key_code_by_name("enter");
    k.keypad_enter = key_code_by_name("keypad enter");
    k.esc = key_code_by_name("esc");
    k.pause = key_code_by_name("pause");
    k.cursor_left = key_code_by_name("cursor-left");
    k.cursor_right = key_code_by_name("cursor-right");
    k.page_up = key_code_by_name("page up");
    k.page_down = key_code_by_name("page down");
    k.close = key_code_by_name("close");
}

// The pointer's axes for the menus and every binding, all released.
void open_input()
{
    g_main.cursor_axes[0] = open_axis("cursor-x");
    g_main.cursor_axes[1] = open_axis("cursor-y");
    bindings_resolve(&g_bindings);
    g_main.capture.video = g_options.record_video;
    if (const char* script = getenv("KZ_INPUT_SCRIPT")) {
        if (script[0] && !input_script_load(&g_main.script, script))
            log_printf("Can't open input script %s\n", script);
    }
}

void handle_event(void*, const input_event& e)
{
    handle_input_event(&g_main.input, g_main.w, e.code, e.pressed);
}

// What the race client needs of the game on every tick.
net_environment network_environment(double instant)
{
    net_environment env;
    env.w = g_main.w;
    env.now = instant;
    env.player = player_rider_strings();
    env.password = g_options.password;
    env.record_demo = g_settings.record != 0;
    // The rider's information waits while the player is still choosing.
    env.info_menu_open = g_game.menu == menu_bike_setup || g_game.menu == menu_choice_list;
    env.arcade_setup = g_bike_setup.arcade != 0;
    return env;
}

// The server's start datagram resets the world inside the client's tick:
// it is the only way out of the acknowledging states that leads on to the
// race (or, with a track that does not match, straight to disconnecting).
bool server_started_ride(net_state before, net_state after)
{
    const bool acknowledging = before == net_acknowledging_track || before == net_acknowledging_riders;
    return acknowledging && (after == net_waiting_start || after == net_running || after == net_disconnecting);
}

void run_tick(void*, double instant)
{
    take_tick_events(instant, g_main.now, handle_event, nullptr);
    const bool advance = apply_controls(&g_main.input, g_main.w);
    // The client runs even while a menu holds an offline ride still: a
    // server joined from the Multiplayer screen is contacted at once.
    const net_state before = g_main.net->state;
    net_tick(g_main.net, network_environment(instant));
    if (server_started_ride(before, g_main.net->state))
        menu_ride_started(nullptr, g_main.w->track.loaded);
    // Nobody pauses a race that runs on the server's clock.
    if (net_connected(g_main.net))
        g_game.paused = false;
    if (!advance)
        return;
    // Connected, the world follows the server's clock: it waits until the
    // server has told us the time.
    const bool clock_known = !net_connected(g_main.net) || g_main.net->server_tick >= 1;
    if (!g_game.paused && g_game.track_loaded && clock_known) {
        // The rules' visibility in a warm-up follows what the camera shows.
        g_main.w->race.watched_slot = g_game.watched_slot;
        world_tick(g_main.w);
        record_audio_tick();
        if (g_settings.suspension_graph)
            hud_sample_suspension(&g_main.hud, g_main.w, g_game.watched_slot);
    }
}

// The race settings of this run: the selected track and the options that
// change a ride.
void choose_race_settings(race_settings* r)
{
    const char* track = g_options.track[0] ? g_options.track : g_settings.track;
    snprintf(r->track, sizeof r->track, "%s", track);
    r->erode_amount = g_options.erode_amount;
    r->roost_frequency = derive_render_params(g_settings, g_options).roost_frequency;
    r->robots_tester = g_options.practice || g_options.debug >= 2;
}

// The settings of the game's world from the configuration and the command
// line.
world_settings game_world_settings()
{
    world_settings s;
    s.load.verbose = g_options.debug;
    s.load.editor = g_options.editor;
    s.ghost_fade_distance = g_settings.ghost_fade_distance;
    s.demo_backups = g_settings.demo_backups;
    s.accurate_skip = g_options.accurate_skip;
    s.player_setup = &g_bike_setup;
    // The tick's results are the same for every count: use the cores.
    const unsigned cores = std::thread::hardware_concurrency();
    s.threads = g_options.threads > 0 ? g_options.threads : (cores == 0 ? 1 : (cores > 4 ? 4 : (int)cores));
    return s;
}

// A file named on the command line is a demo to play, and its track
// becomes the track to load. A file that is not a readable demo
// leaves the configured track and lineup.
bool open_command_line_demo()
{
    if (!g_options.file[0])
        return false;
    char track[RACE_TRACK_NAME_MAX + 1];
    const bool ok = open_demo(g_main.w, g_options.file, track, (int)sizeof track);
    close_demo(g_main.w);
    if (ok)
        snprintf(g_main.w->race.settings.track, sizeof g_main.w->race.settings.track, "%s", track);
    return ok;
}

// The first ride: the lineup of a fresh start (one robot unless a demo is
// played), no recording, no time limit, 1000 laps, novice robots.
void first_world_reset(bool play_file)
{
    const char* demo = play_file ? g_options.file : nullptr;
    race_default_lineup(g_main.lineup, demo != nullptr);
    race_state& race = g_main.w->race;
    race.player = player_rider_strings();
    if (race.settings.track[0]) {
        g_game.track_loaded = world_reset(g_main.w, g_main.lineup, demo, false, 0, 1000, 0);
        g_game.watched_slot = race.watched_slot;
    }
    views_new_ride(&g_main.input.views, g_main.w);
    update_view_mode(&g_game, &g_main.input.views, g_main.w);
}

// On a server without a place in its race the player rides alone among
// the others: nobody collides with him.
bool riding_in_warmup()
{
    const race_state& race = g_main.w->race;
    return net_connected(g_main.net) && race.net.race_slot >= RACE_SLOTS && race.player_slot >= 0 &&
           race.player_slot < RACE_SLOTS && race.slots[race.player_slot].b;
}

// Draws one frame; false when the window has gone.
bool draw_frame()
{
    update_view_mode(&g_game, &g_main.input.views, g_main.w);
    int w, h;
    if (!begin_frame(g_main.window, &w, &h))
        return true;
    set_view(w, h);
    g_main.width = w;
    g_main.height = h;
    // Building terrain tiles clears with colours of its own.
    glClearColor(0.196078f, 0.6f, 0.8f, 0.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    if (g_game.view_mode == view_no_track) {
        draw_title_screen(w, h, "");
    } else {
        const bool scene = place_camera(&g_main.input.views, &g_game, g_main.w, current_view_settings(),
                                        g_main.view_drawers, w, h, (float)g_settings.ghost_fade_distance,
                                        g_options.print_orientation ? stdout : nullptr, g_options.show_hud);
        if (scene && g_options.show_hud && g_game.track_loaded)
            draw_race_hud(w, h);
    }
    // The notice belongs to the picture of the ride, in recordings too.
    if (g_game.track_loaded && riding_in_warmup())
        draw_warmup_text(w, h);
    capture_frame(&g_main.capture, w, h, !g_game.paused && g_game.track_loaded, &g_main.input.screenshot_requested,
                  &g_main.input.screenshots);
    if (g_game.paused && g_options.show_pause && g_main.view_drawers.paused_text)
        g_main.view_drawers.paused_text(g_main.view_drawers.context);
    // The menus come over the scene and the heads-up display, and after the
    // video frame was read: a recording shows the ride, not the menus.
    menu_capture_poll(&g_menu);
    draw_screen(&g_menu, g_game.menu, w, h);
    if (g_options.glfinish)
        glFinish();
    return end_frame(g_main.window);
}

// The pointer's position goes to an open menu when it moved.
void pass_pointer_to_menu()
{
    static int last_x = -1, last_y = -1;
    const int x = read_axis(g_main.cursor_axes[0]), y = read_axis(g_main.cursor_axes[1]);
    const player_hooks& h = g_main.input.hooks;
    if ((x != last_x || y != last_y) && g_game.menu >= 0 && h.pointer_moved)
        h.pointer_moved(h.context, x, y);
    last_x = x;
    last_y = y;
}

void frame_loop()
{
    long frames = 0, ticks = 0;
    frame_timer_start(&g_main.timer, g_real_clock);
    while (!g_game.quit_requested) {
        input_script_post(&g_main.script, frames);
        if (!draw_frame())
            break;
        frames++;
        feed_sound();

        frame_timing_input timing;
        timing.lock_fps = g_options.lock_fps;
        timing.warp = g_options.warp;
        timing.connected = net_connected(g_main.net);
        timing.race_started = net_race_started(g_main.net);
        timing.server_tick = g_main.net->server_tick_estimate;
        timing.tick = g_main.w->race.tick;
        double advance = frame_advance(&g_main.timer, timing, g_real_clock, &g_main.now);
        sim_clock += advance;

        pass_pointer_to_menu();
        ticks += run_ticks(&g_main.timer, g_main.now, run_tick, nullptr);
        // Ground the ticks dug or piled gets its lighting and error terms
        // brought up to date, a little every frame.
        if (g_game.track_loaded)
            terrain_update(&g_main.w->track.heightfield, TERRAIN_UPDATE_BUDGET);
        expire_messages();
    }
    log_printf("Ran %ld frames and %ld ticks\n", frames, ticks);
}

// --- Shutdown -----------------------------------------------------------------

void close_input()
{
    for (int& axis : g_main.cursor_axes) {
        close_axis(axis);
        axis = -1;
    }
    bindings_close(&g_bindings);
}

// Leaves the server before anything goes away.
void leave_server_at_exit()
{
    if (!g_main.net)
        return;
    if (net_connected(g_main.net) && g_main.w)
        net_disconnect_now(g_main.net, g_main.w);
    net_session_destroy(g_main.net);
    g_main.net = nullptr;
}

void shutdown()
{
    leave_server_at_exit();
    world_destroy(g_main.w);
    g_main.w = nullptr;
    editor_game_remove();
    g_game.track_loaded = false;
    physics_library_shutdown();
    status("Freeing memory (1)");
    status("Closing input devices");
    close_input();
    status("Closing audio");
    close_game_audio();
    status("Writing config files");
    if (!write_config())
        log_printf("Can't write the configuration file\n");
    net_shutdown();
    status("Freeing memory (2)");
    free_menu_lists();
    track_list_free();
    status("Freeing memory (3)");
    g_main.video_modes.clear();
    build_texture_lists(nullptr);
    status("Freeing file list");
    free_file_index();
    status("Freeing memory (4)");
    status("Deleting textures");
    textures_release(true);
    shaders_free();
    status("Deleting models");
    model_purge(true);
    fonts_free();
    close_window(g_main.window);
    g_main.window = nullptr;
    log_close();
    sleep_for(1, 0);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && strcmp(argv[1], "--open-home") == 0) {
        open_home_folder();
        return 0;
    }
    clear_messages();
    // A video reader that goes away must end the recording, not the game.
    signal(SIGPIPE, SIG_IGN);
    platform_install_hooks();
    g_status_service.draw_status = draw_status;
    g_status_service.drain_input = drain_input;
    g_status_service.close_for_fatal = close_for_fatal;
    g_status_service.pump = pump_window_events;
    install_view_drawers();

    if (!check_game_data())
        return 0;
    log_printf("Kessrig version %s\n", KESSRIG_BUILD);

    build_video_mode_names();
    install_video_mode_names();
    if (!cpu_has_mmx())
        log_printf("This CPU does not have MMX!\n");
    // The compatibility graphics, the default bike with the stability
    // presets for 100 and the default bindings, then the player's file,
    // then the command line over both.
    config_set_defaults();
    read_config();

    if (!parse_command_line(argc, argv, &g_options))
        return 1;
    if (g_options.help)
        return 0;
    if (g_options.open_home) {
        open_home_folder();
        return 0;
    }
    g_messages.max_visible = g_settings.message_lines;

    if (!create_window())
        return 1;
    settle_window();

    build_texture_lists(build_file_index());
    const render_params params = derive_render_params(g_settings, g_options);
    render_install_services(params, g_options.no_vertex_arrays, g_options.debug);
    if (track_list_build(g_options.debug) == 0) {
        fprintf(stderr, "No tracks found\n");
        close_window(g_main.window);
        g_main.window = nullptr;
        return 1;
    }
    // The shape files every player must share to race together.
    char digest[41] = {};
    g_net_fixed_files_ok = net_check_fixed_files(digest);
    if (g_options.debug)
        log_printf("Fixed files %s (%s)\n", digest, g_net_fixed_files_ok ? "accepted" : "not accepted");
    g_main.net = net_session_create();
    g_main.net->fake_lag = g_options.fake_lag;
    g_main.net->fake_loss = g_options.fake_loss;
    g_main.w = world_create(game_world_settings());
    engine_sounds_attach(g_main.w);  // engine sounds follow the world's bikes
    choose_race_settings(&g_main.w->race.settings);
    // The robots ride the racing lines; "--learn" keeps what a ride taught them.
    robot_options robots;
    robots.learn = g_options.learn == 1;
    robots.debug = g_options.debug;
    robots_install(g_main.w, robots);
    open_game_audio();

    if (wait_for_window()) {
        query_gl();
        set_gl_state();
        load_images();
        set_up_terrain_drawing();
        resolve_fixed_keys();
        open_input();
        install_menus();
        // "--editor": the track editor comes with every track load.
        if (g_options.editor)
            editor_game_install(g_main.w, g_main.cursor_axes[0], g_main.cursor_axes[1], &g_main.input.hooks,
                                &g_main.view_drawers);
        first_world_reset(open_command_line_demo());
        // The main menu greets the player, unless he came to join a race
        // (the server is contacted on the first tick).
        if (g_options.connect[0])
            net_connect(g_main.net, g_options.connect);
        else if (g_main.input.hooks.open_main_menu)
            g_main.input.hooks.open_main_menu(g_main.input.hooks.context);
        frame_loop();
    }
    shutdown();
    mem_report();
    return 0;
}
