// Input events are taken by the tick whose real-time instant follows their
// time stamp, so presses within one frame still land in the right ticks.
#include <gtest/gtest.h>

#include <vector>

#include "core/frame_timing.h"
#include "core/game.h"
#include "platform/input.h"

namespace {

struct recorder {
    int tick = 0;
    double now = 0.0;
    std::vector<std::pair<int, int>> taken;  // (code, tick index)
};

void on_event(void* c, const input_event& e)
{
    auto* r = static_cast<recorder*>(c);
    r->taken.push_back({e.code, r->tick});
}

void on_tick(void* c, double instant)
{
    auto* r = static_cast<recorder*>(c);
    take_tick_events(instant, r->now, on_event, r);
    r->tick++;
}

struct tick_events : testing::Test {
    void SetUp() override { input_reset_for_tests(); }
    void TearDown() override { input_reset_for_tests(); }
};

}  // namespace

TEST_F(tick_events, PressesTwentyMillisecondsApartLandAboutTwoAndAHalfTicksApart)
{
    frame_timer timer;
    timer.last_frame = 10.0;
    // One 0.1 s frame (12.8 ticks); two keys pressed 20 ms apart inside it.
    post_event(key_code_base + 45, 1, clock_from_seconds(10.030));
    post_event(key_code_base + 46, 1, clock_from_seconds(10.050));
    timer.target += 0.1;
    recorder r;
    r.now = 10.1;
    run_ticks(&timer, r.now, on_tick, &r);
    ASSERT_EQ(r.taken.size(), 2u);
    int apart = r.taken[1].second - r.taken[0].second;
    EXPECT_GE(apart, 2);
    EXPECT_LE(apart, 3);
    // Each lands in the first tick whose instant is not before its stamp.
    double first_instant = r.now - (timer.target - (r.taken[0].second + 1) * TICK_SECONDS);
    EXPECT_GE(first_instant, 10.030 - 1e-9);
    EXPECT_LT(first_instant - TICK_SECONDS, 10.030);
}

TEST_F(tick_events, LastTickTakesEverythingPending)
{
    // An event stamped after the frame's clock reading is still taken by
    // the frame's last tick, whose instant is the present.
    post_event(key_code_base + 30, 1, clock_from_seconds(20.5));
    recorder r;
    r.now = 20.0;
    EXPECT_EQ(take_tick_events(19.99, r.now, on_event, &r), 0);
    EXPECT_EQ(take_tick_events(20.0, r.now, on_event, &r), 1);
}

TEST(ClockConversion, RoundTripsMilliseconds)
{
    clock_time t = clock_from_seconds(3725.125);
    EXPECT_EQ(t.sec, 3725);
    EXPECT_EQ(t.usec, 125000);
    EXPECT_DOUBLE_EQ(clock_to_seconds(t), 3725.125);
}
