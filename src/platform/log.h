// Log file, platform options and the clock. Free of any display library,
// so the simulation, the tools and the tests link them alone.
#pragma once

#include <cstdarg>

// Clock value: whole seconds and microseconds since an arbitrary start.
struct clock_time {
    long sec = 0;
    long usec = 0;  // always a multiple of 1000 from the real clock
};

// printf-style log message; the first message may be "VORN_LOGFILE=path".
void log_printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
void log_vprintf(const char* format, va_list args);
void log_close();
void log_error(const char* text);  // logs "Error: %s\n" and keeps the text
const char* last_error();

int option_flag(const char* name, int default_value);
int option_int(const char* name, int default_value);

clock_time clock_now();
double clock_seconds();  // clock_now as seconds
clock_time sleep_for(long sec, long usec);  // returns how late the wake-up was

// Modal message box with one OK button. Without a display it writes the
// title and text to standard error.
void message_box(const char* title, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Seams for the layers above and for tests.
struct platform_hooks {
    // Shows a message box; returns false when no display could show it.
    bool (*show_message_box)(const char* title, const char* text) = nullptr;
    // Replaces the system clock (tests); null for the real clock.
    clock_time (*clock_source)() = nullptr;
};
extern platform_hooks g_platform_hooks;

// Test support: forget the log and options state so they initialise again.
void log_reset_for_tests();
void options_reset_for_tests();
