// The game window on SDL2: creation with its OpenGL context, the message
// pump that turns window and input activity into events, the frame pair,
// full-screen switching and teardown.
#include "platform/window.h"

#include <SDL.h>

#include <csignal>
#include <cstdio>
#include <mutex>

#include "platform/input.h"
#include "platform/log.h"
#include "platform/sdl_input.h"

struct game_window {
    SDL_Window* sdl = nullptr;
    SDL_GLContext context = nullptr;
    int width = 0;           // requested client size
    int height = 0;
    int depth = 0;
    bool fullscreen = false;
    bool fullscreen_allowed = false;
    bool switching = false;
    bool minimised = false;
    bool hidden = false;
    bool focused = false;
    int client_width = 0;    // drawable size last reported
    int client_height = 0;
    // Held from begin_frame to end_frame; a pump inside a frame (same
    // thread) may still record a new size, hence recursive.
    std::recursive_mutex lock;
    bool in_frame = false;
    bool request_pending = false;
    int request_width = 0;
    int request_height = 0;
    bool request_fullscreen = false;
};

namespace {

game_window* g_window = nullptr;
bool g_options_read = false;
int g_option_fullscreen = 0;
int g_option_threaded = 0;

volatile sig_atomic_t g_close_signal = 0;
struct sigaction g_old_int;
struct sigaction g_old_term;
bool g_signals_installed = false;

// The game shuts down in order on Ctrl-C or a polite kill: the pump turns
// the flag into a "Close" event. A second signal before the game took the
// first means it is stuck, so the default action ends it.
void on_close_signal(int sig)
{
    if (g_close_signal) {
        signal(sig, SIG_DFL);
        raise(sig);
        return;
    }
    g_close_signal = 1;
}

void install_signal_handlers()
{
    struct sigaction sa = {};
    sa.sa_handler = on_close_signal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;  // no SA_RESTART: a sleep wakes up and the frame goes on
    g_close_signal = 0;
    sigaction(SIGINT, &sa, &g_old_int);
    sigaction(SIGTERM, &sa, &g_old_term);
    g_signals_installed = true;
}

void restore_signal_handlers()
{
    if (!g_signals_installed)
        return;
    sigaction(SIGINT, &g_old_int, nullptr);
    sigaction(SIGTERM, &g_old_term, nullptr);
    g_signals_installed = false;
}

bool sdl_message_box(const char* title, const char* text)
{
    SDL_Window* parent = g_window ? g_window->sdl : nullptr;
    return SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, title, text, parent) == 0;
}

void read_options()
{
    if (g_options_read)
        return;
    g_options_read = true;
    g_option_fullscreen = option_flag("fullscreen", 0);
    g_option_threaded = option_flag("threaded", 0);
    log_printf("Options:\n");
    log_printf("%10s [%s]\n", "threaded:", g_option_threaded ? "on" : "off");
}

void set_colour_attributes(int depth, int alpha_bits, int depth_bits, int stencil_bits,
                           int accum_bits)
{
    int colour = depth == 32 ? 24 : depth;
    int r = 0, g = 0, b = 0;
    switch (colour) {
    case 8: r = 3; g = 3; b = 2; break;
    case 15: r = 5; g = 5; b = 5; break;
    case 16: r = 5; g = 6; b = 5; break;
    case 24: r = 8; g = 8; b = 8; break;
    default: break;  // the display's own depth
    }
    SDL_GL_ResetAttributes();
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, r);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, g);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, b);
    SDL_GL_SetAttribute(SDL_GL_ALPHA_SIZE, alpha_bits);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, depth_bits);
    SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, stencil_bits);
    int accum = accum_bits > 0 ? accum_bits / 4 : 0;
    SDL_GL_SetAttribute(SDL_GL_ACCUM_RED_SIZE, accum);
    SDL_GL_SetAttribute(SDL_GL_ACCUM_GREEN_SIZE, accum);
    SDL_GL_SetAttribute(SDL_GL_ACCUM_BLUE_SIZE, accum);
    SDL_GL_SetAttribute(SDL_GL_ACCUM_ALPHA_SIZE, accum);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
}

void read_client_size(game_window* w)
{
    int cw = 0, ch = 0;
    SDL_GL_GetDrawableSize(w->sdl, &cw, &ch);
    std::lock_guard<std::recursive_mutex> guard(w->lock);
    w->client_width = cw;
    w->client_height = ch;
}

// Full screen at the mode nearest the requested size; the display is only
// switched when that mode is not the desktop's size.
void enter_fullscreen(game_window* w, int width, int height)
{
    int dw, dh;
    desktop_size(&dw, &dh);
    if (width <= 0 || height <= 0) {
        width = dw;
        height = dh;
    }
    display_mode m = choose_fullscreen_mode(display_modes(), width, height, dw, dh);
    if (m.width == dw && m.height == dh) {
        SDL_SetWindowFullscreen(w->sdl, SDL_WINDOW_FULLSCREEN_DESKTOP);
    } else {
        SDL_DisplayMode dm = {};
        dm.w = m.width;
        dm.h = m.height;
        if (SDL_SetWindowDisplayMode(w->sdl, &dm) != 0)
            log_printf("Can't set display mode %dx%d: %s\n", m.width, m.height, SDL_GetError());
        SDL_SetWindowSize(w->sdl, m.width, m.height);
        SDL_SetWindowFullscreen(w->sdl, SDL_WINDOW_FULLSCREEN);
    }
    w->fullscreen = true;
}

void leave_fullscreen(game_window* w, int width, int height)
{
    if (width <= 0 || height <= 0)
        desktop_size(&width, &height);
    SDL_HideWindow(w->sdl);
    SDL_SetWindowFullscreen(w->sdl, 0);
    SDL_SetWindowSize(w->sdl, width, height);
    SDL_SetWindowPosition(w->sdl, SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED);
    SDL_ShowWindow(w->sdl);
    w->fullscreen = false;
}

void apply_mode_request(game_window* w)
{
    int width, height;
    bool fullscreen;
    {
        std::lock_guard<std::recursive_mutex> guard(w->lock);
        // Never in the middle of a frame: the next pump does it.
        if (!w->request_pending || w->in_frame)
            return;
        w->request_pending = false;
        w->switching = true;
        width = w->request_width;
        height = w->request_height;
        fullscreen = w->request_fullscreen;
    }
    if (fullscreen)
        enter_fullscreen(w, width, height);
    else
        leave_fullscreen(w, width, height);
    read_client_size(w);
    std::lock_guard<std::recursive_mutex> guard(w->lock);
    w->switching = false;
}

void handle_window_event(game_window* w, const SDL_WindowEvent& e)
{
    switch (e.event) {
    case SDL_WINDOWEVENT_SIZE_CHANGED: {
        read_client_size(w);
        log_printf("WM_SIZE message %dx%d\n", w->client_width, w->client_height);
        break;
    }
    case SDL_WINDOWEVENT_MINIMIZED:
        w->minimised = true;
        break;
    case SDL_WINDOWEVENT_RESTORED:
    case SDL_WINDOWEVENT_MAXIMIZED:
        w->minimised = false;
        w->hidden = false;
        break;
    case SDL_WINDOWEVENT_HIDDEN:
        w->hidden = true;
        break;
    case SDL_WINDOWEVENT_SHOWN:
    case SDL_WINDOWEVENT_EXPOSED:
        w->hidden = false;
        break;
    case SDL_WINDOWEVENT_FOCUS_GAINED:
        w->focused = true;
        break;
    case SDL_WINDOWEVENT_FOCUS_LOST:
        w->focused = false;
        break;
    case SDL_WINDOWEVENT_CLOSE:
        // The game decides when to close; the window stays.
        post_event_now(close_code, 1);
        break;
    default:
        break;
    }
}

void destroy(game_window* w)
{
    if (w->context) {
        log_printf("Deleting OpenGL context\n");
        SDL_GL_DeleteContext(w->context);
        w->context = nullptr;
    }
    if (g_input_hooks.pump_messages == pump_window_events)
        g_input_hooks.pump_messages = nullptr;
    close_sdl_input_devices();
    restore_signal_handlers();
    log_printf("Destroying window\n");
    SDL_StopTextInput();
    // SDL gives the desktop its mode back with a full-screen window.
    SDL_DestroyWindow(w->sdl);
    w->sdl = nullptr;
    log_printf("Window shutdown complete\n");
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    if (g_window == w)
        g_window = nullptr;
    delete w;
}

}  // namespace

void platform_install_hooks()
{
    g_platform_hooks.show_message_box = sdl_message_box;
}

game_window* create_gl_window(const char* title, int width, int height, int flags, int alpha_bits,
                              int depth_bits, int stencil_bits, int accum_bits)
{
    platform_install_hooks();
    read_options();
    if (g_window) {
        log_printf("Window already open\n");
        return nullptr;
    }
    if (g_option_threaded)
        log_printf("No separate message thread here: messages are handled on the main thread\n");

    // Our own SIGINT/SIGTERM handling turns them into the "Close" event.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        log_printf("Can't create window!\n");
        log_printf("%s\n", SDL_GetError());
        return nullptr;
    }

    game_window* w = new game_window;
    w->depth = flags & window_depth_mask;
    w->fullscreen_allowed = (flags & window_fullscreen) || g_option_fullscreen;
    int dw, dh;
    desktop_size(&dw, &dh);
    w->width = width > 0 && height > 0 ? width : dw;
    w->height = width > 0 && height > 0 ? height : dh;

    set_colour_attributes(w->depth, alpha_bits, depth_bits, stencil_bits, accum_bits);
    log_printf("Creating window\n");
    w->sdl = SDL_CreateWindow(title ? title : "", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                              w->width, w->height,
                              SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN | SDL_WINDOW_RESIZABLE);
    if (!w->sdl) {
        log_printf("Can't create window!\n");
        log_printf("%s\n", SDL_GetError());
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        delete w;
        return nullptr;
    }
    g_window = w;
    if (w->fullscreen_allowed)
        enter_fullscreen(w, w->width, w->height);
    SDL_ShowWindow(w->sdl);
    SDL_RaiseWindow(w->sdl);
    install_signal_handlers();

    open_sdl_input_devices();

    log_printf("Choosing pixel format\n");
    log_printf("Creating OpenGL context\n");
    w->context = SDL_GL_CreateContext(w->sdl);
    if (!w->context) {
        log_printf("Couldn't create OpenGL context\n");
        log_printf("%s\n", SDL_GetError());
        destroy(w);
        return nullptr;
    }
    if (SDL_GL_MakeCurrent(w->sdl, w->context) != 0) {
        log_printf("Couldn't create OpenGL context\n");
        log_printf("%s\n", SDL_GetError());
        destroy(w);
        return nullptr;
    }
    SDL_StartTextInput();
    read_client_size(w);
    Uint32 state = SDL_GetWindowFlags(w->sdl);
    w->minimised = (state & SDL_WINDOW_MINIMIZED) != 0;
    w->focused = (state & SDL_WINDOW_INPUT_FOCUS) != 0;
    g_input_hooks.pump_messages = pump_window_events;
    return w;
}

bool begin_frame(game_window* w, int* width, int* height)
{
    if (!w || !w->sdl)
        return false;
    w->lock.lock();
    if (w->in_frame || w->minimised || w->hidden || w->switching) {
        w->lock.unlock();
        return false;
    }
    w->in_frame = true;
    if (width)
        *width = w->client_width;
    if (height)
        *height = w->client_height;
    return true;
}

bool end_frame(game_window* w)
{
    if (!w)
        return false;
    bool alive = w->sdl != nullptr;
    if (alive)
        SDL_GL_SwapWindow(w->sdl);
    if (w->in_frame) {
        w->in_frame = false;
        w->lock.unlock();
    }
    return alive;
}

void request_mode(game_window* w, int width, int height, bool fullscreen)
{
    if (!w)
        return;
    std::lock_guard<std::recursive_mutex> guard(w->lock);
    w->request_pending = true;
    w->request_width = width;
    w->request_height = height;
    w->request_fullscreen = fullscreen;
}

void close_window(game_window* w)
{
    if (!w)
        return;
    if (w->in_frame) {
        w->in_frame = false;
        w->lock.unlock();
    }
    destroy(w);
}

void pump_window_events()
{
    game_window* w = g_window;
    if (!w)
        return;
    if (g_close_signal) {
        g_close_signal = 0;
        log_printf("Close requested by signal\n");
        post_event_now(close_code, 1);
    }
    // Stamp the batch against both clocks once it is fetched, so no event
    // looks younger than the moment it was taken.
    SDL_PumpEvents();
    clock_time now = clock_now();
    Uint32 sdl_now = SDL_GetTicks();
    SDL_Event e;
    while (SDL_PeepEvents(&e, 1, SDL_GETEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT) > 0) {
        if (e.type == SDL_WINDOWEVENT) {
            if (e.window.windowID == SDL_GetWindowID(w->sdl))
                handle_window_event(w, e.window);
        } else if (e.type != SDL_QUIT) {
            // (SDL's quit only follows the close of the last window, which
            // already gave the "Close" event.)
            handle_sdl_input_event(e, map_event_time(e.common.timestamp, sdl_now, now));
        }
    }
    apply_mode_request(w);
}

SDL_Window* window_sdl_handle(game_window* w)
{
    return w ? w->sdl : nullptr;
}
