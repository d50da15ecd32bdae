// Seams through which the simulation reaches the layers above it. Each
// service is one small table of function pointers, filled at start-up by the
// game and left at the headless defaults (no-ops returning "none") by the
// tools and tests.
#pragma once

struct status_service {
    // Draws the title screen with the text and presents it (show_status).
    void (*draw_status)(const char* text) = nullptr;
    // Drains pending input and resets binding values (show_status).
    void (*drain_input)() = nullptr;
    // Gives a loading screen the chance to redraw during long work.
    void (*pump)() = nullptr;
    // Closes the audio device and the window before a fatal message box.
    void (*close_for_fatal)() = nullptr;
};
extern status_service g_status_service;
