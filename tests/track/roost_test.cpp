// Roost: how many particles a wheel throws, where they start and fly, and
// that the same seed throws the same particles.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "track/heightfield.h"
#include "track/roost.h"
#include "track/surface.h"

namespace {

// A rear wheel of ring radius 1 at (0, 1, 0), axle x, spinning forward
// (the bike points along -z) while standing still: the tyre slips backward
// (+z) over the ground at 50 ft/s.
roost_wheel spinning_wheel()
{
    roost_wheel w;
    w.centre = {0, 1, 0};
    w.point = {0, 0, 0};
    w.normal = {0, 1, 0};
    w.axle = {1, 0, 0};
    w.velocity = {0, 0, 0};
    w.angular_velocity = {-50, 0, 0};
    w.slip_velocity = {0, 0, 50};
    return w;
}

struct RoostTest : ::testing::Test {
    std::unique_ptr<roost_pool> pool{new roost_pool()};
    roost_type types[ROOST_TYPES];
};

TEST_F(RoostTest, CountFractionAndBudget)
{
    types[0].mode = 1;
    types[0].count = 10.0f;
    std::mt19937 rng(1);
    EXPECT_EQ(10, roost_emit(pool.get(), types, spinning_wheel(), 10, 0, &rng));
    EXPECT_EQ(10, pool->live);
    // The budget caps the count.
    EXPECT_EQ(4, roost_emit(pool.get(), types, spinning_wheel(), 4, 0, &rng));

    // A fractional count throws the extra particle that often.
    types[0].count = 2.25f;
    int total = 0;
    for (int k = 0; k < 4000; k++)
        total += roost_emit(pool.get(), types, spinning_wheel(), 100, k, &rng);
    EXPECT_NEAR(total / 4000.0, 2.25, 0.03);

    // The budget of a tick: density / 100, one more a remainder in 100 of
    // the time; shared by all of a wheel's roost types.
    EXPECT_EQ(10, roost_budget(1000, &rng));
    EXPECT_EQ(0, roost_budget(0, &rng));
    EXPECT_EQ(0, roost_budget(-50, &rng));
    int extra = 0;
    for (int k = 0; k < 4000; k++)
        extra += roost_budget(530, &rng) - 5;
    EXPECT_NEAR(extra / 4000.0, 0.3, 0.03);
    types[0].count = 6.0f;
    types[1].mode = 2;
    types[1].count = 6.0f;
    EXPECT_EQ(10, roost_emit(pool.get(), types, spinning_wheel(), 10, 0, &rng));
}

TEST_F(RoostTest, NothingWithoutRoostTypesOrBelowTheSlipThreshold)
{
    std::mt19937 rng(1);
    EXPECT_EQ(0, roost_emit(pool.get(), types, spinning_wheel(), 10, 0, &rng));
    // A type after the end of the list (mode 0) is never reached.
    types[1].mode = 1;
    EXPECT_EQ(0, roost_emit(pool.get(), types, spinning_wheel(), 10, 0, &rng));
    types[0].mode = 1;
    types[0].slip_threshold = 60.0f;  // above the 50 ft/s of the wheel
    types[1].mode = 0;
    EXPECT_EQ(0, roost_emit(pool.get(), types, spinning_wheel(), 10, 0, &rng));
    EXPECT_EQ(0, pool->live);
    // A broken body state throws nothing rather than particles that never
    // come down.
    types[0].slip_threshold = 4.0f;
    roost_wheel bad = spinning_wheel();
    bad.velocity.x = NAN;
    EXPECT_EQ(0, roost_emit(pool.get(), types, bad, 10, 0, &rng));
}

TEST_F(RoostTest, RoostLeavesTheTyreBehindTheWheel)
{
    types[0].mode = 1;
    types[0].randomize = 0.0f;
    types[0].vscale = 1.0f;
    std::mt19937 rng(9);
    const roost_wheel w = spinning_wheel();
    ASSERT_EQ(10, roost_emit(pool.get(), types, w, 10, 0, &rng));
    for (int k = 0; k < 10; k++) {
        const roost_particle& p = pool->particles[k];
        ASSERT_TRUE(p.live);
        // The contact point turned about the axle the way the wheel spins
        // (back and up) by theta below pi/64 (the wheel stands still, so the
        // slip does not oppose its motion): the tyre's velocity there is
        // omega x arm = 50 (0, sin theta, cos theta), scaled by a draw.
        EXPECT_EQ(0.0f, p.velocity.x);
        ASSERT_GT(p.velocity.z, 0.0f);
        const float theta = atan2f(p.velocity.y, p.velocity.z);
        EXPECT_GE(theta, 0.0f);
        EXPECT_LT(theta, 0.049087387f);
        // It starts there, moved on by the unscaled velocity for k / 10 of
        // a tick.
        const float t = (float)k * 0.0078125f / 10.0f;
        EXPECT_NEAR(p.position.y, 1.0f - cosf(theta) + 50.0f * sinf(theta) * t, 1e-4f);
        EXPECT_NEAR(p.position.z, sinf(theta) + 50.0f * cosf(theta) * t, 1e-4f);
        EXPECT_EQ(p.size, types[0].size);
        EXPECT_EQ(0, memcmp(p.colour, types[0].colour, 4));
    }
}

// Against the bike's motion the spray's spread narrows with speed, from
// slow_angle (pi/2) toward fast_angle (pi/16) at 64 ft/s, never wider than
// pi/8.
TEST_F(RoostTest, SpreadNarrowsWithSpeed)
{
    types[0].mode = 1;
    types[0].count = 1.0f;
    std::mt19937 rng(11);
    auto widest = [&](float speed) {
        roost_wheel w = spinning_wheel();
        w.velocity = {0, 0, -speed};
        float most = 0.0f;
        for (int k = 0; k < 200; k++) {
            roost_pool_reset(pool.get());
            EXPECT_EQ(1, roost_emit(pool.get(), types, w, 10, k, &rng));
            // The first particle starts on the tyre: (0, 1 - cos a, sin a).
            const vec3 p = pool->particles[0].position;
            most = fmaxf(most, atan2f(p.z, 1.0f - p.y));
        }
        return most;
    };
    const float fast = widest(64.0f);
    EXPECT_LT(fast, 0.19634955f);
    EXPECT_GT(fast, 0.17f);
    const float slow = widest(32.0f);  // pi/2 - (7/16 pi) / 4, capped
    EXPECT_LT(slow, 0.39269909f);
    EXPECT_GT(slow, 0.36f);
}

TEST_F(RoostTest, SplashAlternatesItsTwoDirectionsByTick)
{
    types[0].mode = 2;
    types[0].count = 2.0f;
    types[0].randomize = 0.0f;
    std::mt19937 rng(5);
    roost_wheel w = spinning_wheel();
    w.velocity = {0, -2, -20};  // riding through water along -z
    w.slip_velocity = {0, 0, 0};  // a splash needs no slip
    ASSERT_EQ(2, roost_emit(pool.get(), types, w, 10, 6, &rng));
    // vt = (0, 0, -20), t = -z, s = m x t = (-1, 0, 0); speed = 20 / sqrt 2.
    // Tick 6: particle 0 takes (s + m), particle 1 (m - s), each then scaled
    // by vscale times a uniform draw (both on the same line).
    const roost_particle& a = pool->particles[0];
    const roost_particle& b = pool->particles[1];
    EXPECT_LT(a.velocity.x, 0.0f);
    EXPECT_NEAR(a.velocity.x, -a.velocity.y, 1e-4f);
    EXPECT_GT(b.velocity.x, 0.0f);
    EXPECT_NEAR(b.velocity.x, b.velocity.y, 1e-4f);
    // Odd ticks swap them.
    ASSERT_EQ(2, roost_emit(pool.get(), types, w, 10, 7, &rng));
    EXPECT_GT(pool->particles[2].velocity.x, 0.0f);
    EXPECT_LT(pool->particles[3].velocity.x, 0.0f);
    // The first starts at the contact point, the next half a tick's flight on.
    EXPECT_FLOAT_EQ(a.position.x, 0.0f);
    EXPECT_FLOAT_EQ(a.position.y, 0.0f);
}

TEST_F(RoostTest, SameSeedSameParticles)
{
    types[0].mode = 1;
    types[1].mode = 2;
    types[1].count = 3.5f;
    std::unique_ptr<roost_pool> other(new roost_pool());
    std::mt19937 rng_a(1234), rng_b(1234), rng_c(4321);
    std::unique_ptr<roost_pool> third(new roost_pool());
    for (int tick = 0; tick < 300; tick++) {
        roost_wheel w = spinning_wheel();
        w.velocity = {0.0f, 0.0f, -0.1f * (float)tick};
        const int n = roost_emit(pool.get(), types, w, roost_budget(750, &rng_a), tick, &rng_a);
        EXPECT_EQ(n, roost_emit(other.get(), types, w, roost_budget(750, &rng_b), tick, &rng_b));
        roost_emit(third.get(), types, w, roost_budget(750, &rng_c), tick, &rng_c);
        roost_move(pool.get(), nullptr);
        roost_move(other.get(), nullptr);
        roost_move(third.get(), nullptr);
    }
    EXPECT_EQ(0, memcmp(pool.get(), other.get(), sizeof(roost_pool)));
    EXPECT_NE(0, memcmp(pool.get(), third.get(), sizeof(roost_pool)));
}

TEST_F(RoostTest, FlightDragGravityGrowthFadeAndLanding)
{
    heightfield hf;
    ASSERT_TRUE(heightfield_create(&hf, 3, 2.0f, nullptr));  // flat at 0
    roost_particle& p = pool->particles[0];
    p.live = true;
    pool->live = 1;
    p.position = {5, 0.1f, 5};
    p.velocity = {8, 16, 0};
    p.size = 0.25f;
    p.grow = 4.0f;
    p.drag = 0.5f;
    p.colour[3] = 1;
    p.fade[3] = -2;
    p.colour[0] = 254;
    p.fade[0] = 3;
    roost_move(pool.get(), &hf);
    const float dt = 1.0f / 128.0f;
    EXPECT_FLOAT_EQ(p.position.x, 5 + 8 * dt);
    EXPECT_FLOAT_EQ(p.position.y, 0.1f + 16 * dt);
    EXPECT_FLOAT_EQ(p.velocity.x, 8 - 8 * dt * 0.5f);
    EXPECT_FLOAT_EQ(p.velocity.y, 16 - 16 * dt * 0.5f - 32 * dt);
    EXPECT_FLOAT_EQ(p.size, 0.25f + 4 * dt);
    EXPECT_EQ(0, p.colour[3]);    // faded out, not wrapped
    EXPECT_EQ(255, p.colour[0]);  // brightened to the top, not wrapped
    // Rising below the ground it stays; once it falls it is gone.
    p.position.y = -1.0f;
    p.velocity.y = 5.0f;
    roost_move(pool.get(), &hf);
    EXPECT_TRUE(p.live);
    int ticks = 0;
    while (p.live && ticks < 10000) {
        roost_move(pool.get(), &hf);
        ticks++;
    }
    EXPECT_FALSE(p.live);
    EXPECT_EQ(0, pool->live);
    EXPECT_LT(ticks, 128);
    heightfield_free(&hf);
}

TEST_F(RoostTest, FullPoolReplacesTheOldest)
{
    types[0].mode = 1;
    types[0].count = 10.0f;
    std::mt19937 rng(2);
    for (int k = 0; k < 250; k++)
        roost_emit(pool.get(), types, spinning_wheel(), 10, k, &rng);
    EXPECT_EQ(ROOST_POOL_SIZE, pool->live);
    EXPECT_EQ(500, pool->next);
    roost_pool_reset(pool.get());
    EXPECT_EQ(0, pool->live);
    EXPECT_FALSE(pool->particles[0].live);
    // Absurd counts from a track file stay within the budget.
    types[0].count = 1e30f;
    EXPECT_EQ(10, roost_emit(pool.get(), types, spinning_wheel(), 10, 0, &rng));
}

}  // namespace
