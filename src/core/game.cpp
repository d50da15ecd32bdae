#include "core/game.h"

#include <cmath>

game_state g_game;
const char* const KESSRIG_BUILD = "2018-01-26-1387 snapshot";

clock_time clock_from_seconds(double seconds)
{
    clock_time t;
    double whole = std::floor(seconds);
    t.sec = (long)whole;
    t.usec = (long)std::floor((seconds - whole) * 1e6 + 0.5);
    if (t.usec >= 1000000) {
        t.sec++;
        t.usec -= 1000000;
    }
    return t;
}

double clock_to_seconds(clock_time t)
{
    return (double)t.sec + (double)t.usec * 1e-6;
}

int take_tick_events(double instant, double now, void (*handle)(void* context, const input_event& event),
                     void* context)
{
    int count = 0;
    input_event e;
    if (instant >= now) {
        while (next_event(&e)) {
            handle(context, e);
            count++;
        }
    } else {
        clock_time limit = clock_from_seconds(instant);
        while (next_event_before(limit, &e)) {
            handle(context, e);
            count++;
        }
    }
    return count;
}
