// SDL events to input events: keyboard scan codes, typed characters, mouse
// and joystick devices. Internal to the platform module.
#pragma once

#include <cstdint>

#include "platform/log.h"

union SDL_Event;

// PC set-1 scan code (E0 keys + 256) of an SDL scancode; -1 for keys the PC
// keyboard does not have.
int set1_code_from_sdl_scancode(int scancode);
// The character a key types that SDL leaves out of its text events
// (Backspace 8, Tab 9, Enter 13, Esc 27); 0 for other keys.
int control_character_for_scancode(int scancode);
// Decodes UTF-8 text into the character codes 1..255 it holds (others are
// skipped); returns how many were written to out (at most max).
int typed_characters(const char* utf8, int* out, int max);
// An SDL event time (ms) on the platform clock: `now` stands for sdl_now_ms;
// never later than `now`.
clock_time map_event_time(uint32_t event_ms, uint32_t sdl_now_ms, clock_time now);

// Roll call at window creation: joysticks (and the mouse when the options
// ask for it), the cursor device and the aliases.
void open_sdl_input_devices();
// Releases every device and the joystick subsystem.
void close_sdl_input_devices();
// Handles one keyboard, mouse or joystick event stamped `time`.
void handle_sdl_input_event(const SDL_Event& event, clock_time time);
