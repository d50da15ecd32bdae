// Frame timing: how much simulated time one frame advances, and the fixed
// 1/128 s ticks that consume it. The clock and the sleep are passed in, so
// the rules run the same on the real clock and on a clock a test controls.
#pragma once

#include <cstdint>

constexpr double TICK_SECONDS = 0.0078125;   // 1/128 s
constexpr double MAX_FRAME_ADVANCE = 0.125;  // 16 ticks

struct frame_clock_source {
    double (*now)(void* context);                  // seconds
    void (*sleep)(void* context, double seconds);
    void* context;
};

struct frame_timing_input {
    double lock_fps = 0.0;    // "--lock-fps"; 0 when off
    bool warp = false;        // "--warp"
    bool connected = false;   // joined to a race server
    bool race_started = false;
    int32_t server_tick = 0;  // the server's clock, in ticks
    int32_t tick = 0;         // the world's tick
};

struct frame_timer {
    double last_frame = 0.0;  // clock of the previous frame
    double target = 0.0;      // simulated time the ticks must reach
    double done = 0.0;        // simulated time the ticks have reached
    uint32_t histogram[8] = {};
    double fastest = 1e30;    // smallest and largest frame advance
    double slowest = 0.0;
};

// Starts the timer at the current time (the last frame becomes now).
void frame_timer_start(frame_timer* t, const frame_clock_source& clock);

// Counts the frame in the histogram, sleeps where the
// rules say, and returns the frame's advance in seconds, which the target
// and sim_clock grow by. *now_out receives the clock at the end.
double frame_advance(frame_timer* t, const frame_timing_input& in, const frame_clock_source& clock,
                     double* now_out);

// Histogram bin of a frame that took elapsed seconds.
int frame_histogram_bin(double elapsed);

// The tick loop: while done is below target, advances done by one tick and
// calls tick(context, instant) with the tick's real-time instant (now minus
// the simulated time still to do). Returns the number of ticks run.
int run_ticks(frame_timer* t, double now, void (*tick)(void* context, double instant), void* context);
