// The game's one window with its OpenGL context, the display modes, and
// switching between windowed and full screen. Built on SDL2; everything
// here runs on the main thread.
#pragma once

enum : int {
    window_depth_mask = 0xff,     // create_gl_window flags: colour depth in the low byte
    window_fullscreen = 0x200,    // and the full-screen bit
};

struct display_mode {
    int width = 0;
    int height = 0;
    int depth = 0;  // bits per pixel
};

// What the display reports about one mode (before filtering).
struct reported_mode {
    int width = 0;
    int height = 0;
    int depth = 0;
    int refresh = 0;  // Hz
};

// The full-screen modes: the desktop mode first, then the display's list,
// depths other than 8, 15, 16, 24 and 32 and repeated (w, h, depth) left
// out, ended by an all-zero entry. Built on the first call.
const display_mode* display_modes();

// The pure part of display_modes (logs each mode kept or ignored). `out`
// must hold count + 2 entries; returns the number of modes before the
// all-zero entry.
int build_mode_list(const reported_mode* desktop, const reported_mode* modes, int count,
                    display_mode* out);

// The full-screen mode for a requested size: among the modes at least that
// large the one with the smallest (w - W) + (h - H), the first of equals;
// with none, the desktop size (depth 0).
display_mode choose_fullscreen_mode(const display_mode* modes, int width, int height,
                                    int desktop_width, int desktop_height);

// The desktop's current size; 640 x 480 when it cannot be read.
void desktop_size(int* width, int* height);

struct game_window;

// Creates the window (flags: depth in the low byte, window_fullscreen) with a
// double-buffered RGBA OpenGL compatibility context made current, opens the
// input devices. Null on failure (logged).
game_window* create_gl_window(const char* title, int width, int height, int flags, int alpha_bits,
                              int depth_bits, int stencil_bits, int accum_bits);
// False while the window cannot be drawn (minimised, hidden, switching);
// otherwise holds the window lock until end_frame and gives the drawable size.
bool begin_frame(game_window* window, int* width, int* height);
// Presents the frame; false when the window is gone.
bool end_frame(game_window* window);
// Switches between windowed and full screen at the next message pump
// (0 x 0 windowed means the desktop size).
void request_mode(game_window* window, int width, int height, bool fullscreen);
void close_window(game_window* window);

// Processes pending window messages into input events (next_event calls it
// through g_input_hooks when the queue is empty).
void pump_window_events();
// The SDL window behind the game window (for the audio layer and tests).
struct SDL_Window* window_sdl_handle(game_window* window);
// Installs the display's message box into g_platform_hooks; the game calls
// it at start-up, create_gl_window does it too.
void platform_install_hooks();
