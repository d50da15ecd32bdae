#include "core/frame_timing.h"

#include <algorithm>

int frame_histogram_bin(double elapsed)
{
    for (int k = 0; k < 7; k++)
        if (elapsed < TICK_SECONDS * (double)(1 << k))
            return k;
    return 7;
}

void frame_timer_start(frame_timer* t, const frame_clock_source& clock)
{
    t->last_frame = clock.now(clock.context);
}

double frame_advance(frame_timer* t, const frame_timing_input& in, const frame_clock_source& clock, double* now_out)
{
    bool counted = false;
    double now, advance;
    for (;;) {
        now = clock.now(clock.context);
        double elapsed = now - t->last_frame;
        if (!counted) {
            t->histogram[frame_histogram_bin(elapsed)]++;
            counted = true;
        }
        if (!in.connected && in.lock_fps > 0.0) {
            double frame = 1.0 / in.lock_fps;
            if (elapsed < frame) {
                clock.sleep(clock.context, frame - elapsed);
                now = clock.now(clock.context);
            }
            advance = frame;
            break;
        }
        if (!in.connected && in.warp) {
            advance = 100.0 * TICK_SECONDS;
            break;
        }
        if (elapsed < TICK_SECONDS) {
            // Never spin: sleep out the rest of the tick and look again.
            clock.sleep(clock.context, TICK_SECONDS - elapsed);
            continue;
        }
        advance = std::min(elapsed, MAX_FRAME_ADVANCE);
        break;
    }

    if (in.connected) {
        // Follow the server's clock: catch up when behind, ease off when ahead.
        double behind = (double)(in.server_tick - in.tick - 1) * TICK_SECONDS;
        if (behind >= 0.0) {
            if (!in.race_started)
                advance *= 1.0 + 3.0 * std::min(behind, 1.0);
            else
                advance *= 1.0 + 0.125 * std::min(8.0 * behind, 1.0);
        } else {
            advance *= 0.5 + 0.5 * std::clamp(behind + 1.0, 0.0, 1.0);
        }
    }

    t->fastest = std::min(t->fastest, advance);
    t->slowest = std::max(t->slowest, advance);
    t->last_frame = now;
    t->target += advance;
    if (now_out)
        *now_out = now;
    return advance;
}

int run_ticks(frame_timer* t, double now, void (*tick)(void* context, double instant), void* context)
{
    int count = 0;
    while (t->done < t->target) {
        t->done += TICK_SECONDS;
        double instant = now - (t->target - t->done);
        tick(context, instant);
        count++;
    }
    return count;
}
