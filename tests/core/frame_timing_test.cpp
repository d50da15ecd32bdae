#include "core/frame_timing.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// A clock the test moves by hand; sleeping moves it too.
struct fake_clock {
    double t = 100.0;
    double slept = 0.0;
    int sleeps = 0;
    frame_clock_source source()
    {
        return {[](void* c) { return static_cast<fake_clock*>(c)->t; },
                [](void* c, double s) {
                    auto* f = static_cast<fake_clock*>(c);
                    f->t += s;
                    f->slept += s;
                    f->sleeps++;
                },
                this};
    }
};

int ticks_of(frame_timer& timer, double now)
{
    return run_ticks(&timer, now, [](void*, double) {}, nullptr);
}

}  // namespace

TEST(FrameTiming, LongFrameAdvancesAtMostSixteenTicks)
{
    fake_clock clock;
    frame_timer timer;
    frame_timer_start(&timer, clock.source());
    clock.t += 0.5;
    double now;
    double advance = frame_advance(&timer, {}, clock.source(), &now);
    EXPECT_DOUBLE_EQ(advance, 0.125);
    EXPECT_EQ(ticks_of(timer, now), 16);
    EXPECT_EQ(timer.histogram[7], 1u);  // 64 ticks or more
}

TEST(FrameTiming, ShortFrameSleepsInsteadOfSpinning)
{
    fake_clock clock;
    frame_timer timer;
    frame_timer_start(&timer, clock.source());
    clock.t += 0.002;
    double now;
    double advance = frame_advance(&timer, {}, clock.source(), &now);
    EXPECT_EQ(clock.sleeps, 1);
    EXPECT_NEAR(clock.slept, TICK_SECONDS - 0.002, 1e-12);
    EXPECT_NEAR(advance, TICK_SECONDS, 1e-12);
    EXPECT_EQ(ticks_of(timer, now), 1);
    EXPECT_EQ(timer.histogram[0], 1u);  // counted once, before the sleep
}

TEST(FrameTiming, LockedFrameRateAdvancesExactlyOneFrame)
{
    fake_clock clock;
    frame_timer timer;
    frame_timer_start(&timer, clock.source());
    frame_timing_input in;
    in.lock_fps = 30.0;
    double total = 0.0;
    // Fast and slow real frames alike advance 1/30 s each.
    for (double real : {0.001, 0.2, 0.05, 0.0}) {
        clock.t += real;
        double advance = frame_advance(&timer, in, clock.source(), nullptr);
        EXPECT_DOUBLE_EQ(advance, 1.0 / 30.0);
        total += advance;
    }
    EXPECT_DOUBLE_EQ(timer.target, total);
    // A locked rate is ignored while connected to a server.
    in.connected = true;
    in.server_tick = 1;
    in.tick = 0;
    clock.t += 0.05;
    EXPECT_NEAR(frame_advance(&timer, in, clock.source(), nullptr), 0.05, 1e-9);
}

TEST(FrameTiming, WarpAdvancesHundredTicksWithoutWaiting)
{
    fake_clock clock;
    frame_timer timer;
    frame_timer_start(&timer, clock.source());
    frame_timing_input in;
    in.warp = true;
    double now;
    frame_advance(&timer, in, clock.source(), &now);
    EXPECT_EQ(clock.sleeps, 0);
    EXPECT_EQ(ticks_of(timer, now), 100);
}

TEST(FrameTiming, HistogramBins)
{
    EXPECT_EQ(frame_histogram_bin(0.0), 0);
    EXPECT_EQ(frame_histogram_bin(TICK_SECONDS * 0.99), 0);
    EXPECT_EQ(frame_histogram_bin(TICK_SECONDS), 1);
    EXPECT_EQ(frame_histogram_bin(TICK_SECONDS * 63.9), 7 - 1);
    EXPECT_EQ(frame_histogram_bin(TICK_SECONDS * 64), 7);
}

TEST(FrameTiming, ServerClockScalesTheAdvance)
{
    fake_clock clock;
    frame_timer timer;
    frame_timer_start(&timer, clock.source());
    frame_timing_input in;
    in.connected = true;
    // Half a second behind before the start: 1 + 3 * 0.5.
    in.tick = 100;
    in.server_tick = 100 + 64 + 1;
    clock.t += 0.02;
    EXPECT_NEAR(frame_advance(&timer, in, clock.source(), nullptr), 0.02 * 2.5, 1e-12);
    // After the start the catch-up is gentle: 1 + 0.125 * min(8 * 0.5, 1).
    in.race_started = true;
    clock.t += 0.02;
    EXPECT_NEAR(frame_advance(&timer, in, clock.source(), nullptr), 0.02 * 1.125, 1e-12);
    // A quarter second ahead: 0.5 + 0.5 * 0.75.
    in.server_tick = 100 - 32 + 1;
    clock.t += 0.02;
    EXPECT_NEAR(frame_advance(&timer, in, clock.source(), nullptr), 0.02 * 0.875, 1e-12);
}

TEST(FrameTiming, TickInstantsTrailNowByTheTimeStillToDo)
{
    fake_clock clock;
    frame_timer timer;
    frame_timer_start(&timer, clock.source());
    clock.t += 4 * TICK_SECONDS;
    double now;
    frame_advance(&timer, {}, clock.source(), &now);
    std::vector<double> instants;
    run_ticks(&timer, now, [](void* c, double i) { static_cast<std::vector<double>*>(c)->push_back(i); },
              &instants);
    ASSERT_EQ(instants.size(), 4u);
    EXPECT_NEAR(instants[0], now - 3 * TICK_SECONDS, 1e-9);
    EXPECT_NEAR(instants[3], now, 1e-9);
}
