// Message lines on screen and in the log, the loading status screen, and the
// out-of-memory exit. These live in the simulation library; drawing reaches
// the layers above through the status service.
#pragma once

enum { MESSAGE_RING = 1000, MESSAGE_LINE_MAX = 127 };

struct message_lines {
    char ring[MESSAGE_RING][MESSAGE_LINE_MAX + 1] = {};
    int next = 0;          // ring index of the next line written
    int visible = 0;       // lines shown, at most the message_lines setting
    int max_visible = 5;   // the message_lines setting
    double expiry = 0.0;   // sim_clock when the next visible line goes
};
extern message_lines g_messages;

// Seconds of simulated time since start-up; grows by the frame advance.
extern double sim_clock;

void add_message(const char* format, ...) __attribute__((format(printf, 1, 2)));
void clear_messages();
// Once per frame: lets one visible line go when the expiry time has passed.
void expire_messages();
// The i-th newest visible line (0 = newest), or null.
const char* visible_message(int i);

// Loading / shutdown status screen, drawn through the status service.
void show_status(const char* text);
// Longest gap between two status screens and the text shown during it.
void take_loading_delay(double* seconds, char* text, int size);

[[noreturn]] void fatal_out_of_memory();
