// The player's input through the game's own path - input events handed to
// handle_input_event, apply_controls before every world tick - to the bike
// of a human rider in a world on the default track.
#include <gtest/gtest.h>

#include <cmath>

#include "bike/bike.h"
#include "game_world_util.h"
#include "race/demo.h"

using namespace vecmath;

namespace {

const int SECOND = RACE_TICKS_PER_SECOND;

class PlayerInput : public game_world_test {
protected:
    bike* player() { return w->race.slots[0].b; }
    void ride_and_turn(bool reversed, float* forward, float* turned_left);
};

// Where a bike stands and which way it faces, flat on the ground.
struct heading {
    vec3 at;
    vec3 ahead;  // horizontal, unit
    vec3 left;   // horizontal, unit
};

heading heading_of(const bike* b)
{
    const dReal* r = bike_frame_rotation(b);
    // The bike points along its -z axis; +x is the rider's right.
    vec3 ahead = v3((float)-r[2], 0, (float)-r[10]);
    ahead = scale(ahead, 1.0f / length(ahead));
    return {bike_frame_position(b), ahead, v3(ahead.z, 0, -ahead.x)};
}

TEST(Bindings, AxisTravelMapsOntoZeroToOneAndAZeroTravelSwitches)
{
    // A joystick axis bound over 0.2..0.8 of its travel.
    EXPECT_EQ(axis_binding_value(-32767, 0.2f, 0.8f), 0.0f);
    EXPECT_EQ(axis_binding_value((int)(0.19f * 32768), 0.2f, 0.8f), 0.0f);
    EXPECT_NEAR(axis_binding_value(16384, 0.2f, 0.8f), 0.5f, 1e-6f);
    EXPECT_NEAR(axis_binding_value((int)(0.35f * 32768), 0.2f, 0.8f), 0.25f, 1e-4f);
    EXPECT_EQ(axis_binding_value((int)(0.81f * 32768), 0.2f, 0.8f), 1.0f);
    EXPECT_EQ(axis_binding_value(32767, 0.2f, 0.8f), 1.0f);
    // Reversed travel: pushing the stick the other way.
    EXPECT_EQ(axis_binding_value(-20000, 0.0f, -0.5f), 1.0f);
    EXPECT_NEAR(axis_binding_value(-8192, 0.0f, -0.5f), 0.5f, 1e-6f);
    // No travel at all would be 0/0: it acts as a switch at its point.
    EXPECT_EQ(axis_binding_value(16000, 0.5f, 0.5f), 0.0f);
    EXPECT_EQ(axis_binding_value(16384, 0.5f, 0.5f), 1.0f);
    EXPECT_EQ(axis_binding_value(-32767, 0.5f, 0.5f), 0.0f);
    EXPECT_EQ(axis_binding_value(0, NAN, 1.0f), 0.0f);
}

TEST(Bindings, AxesAreReadOnceATickAndSummedWithTheKeys)
{
    input_reset_for_tests();
    binding_table t;
    bindings_set_defaults(&t);
    // Throttle on a stick over 0.2..0.8; a relative (mouse) axis on the lean.
    input_device* pad = add_input_device("Pad", 2, 4, false, nullptr, nullptr);
    input_device* mouse = add_input_device("Mouse", 2, 3, true, nullptr, nullptr);
    binding_set_axis(&t.entries[0], "Pad.axis[1]", 0.2f, 0.8f);
    binding_set_axis(&t.entries[11], "Mouse.axis[0]", 0.0f, 1.0f);
    bindings_resolve(&t);
    ASSERT_GE(t.entries[0].axis, 0);
    ASSERT_GE(t.entries[11].axis, 0);

    float c[CONTROL_COUNT];
    device_axis(pad, 1, 16384);   // half of the bound travel
    device_axis(mouse, 0, 8192);  // a quarter of a full lean backward
    EXPECT_TRUE(bindings_key_event(&t, key_code_by_name("n"), 1));  // and the key leaning forward
    sum_control_values(&t, c);
    EXPECT_NEAR(c[control_throttle], 0.5f, 1e-6f);
    EXPECT_NEAR(c[control_lean], 0.25f - 1.0f, 1e-6f);
    // The next tick: the stick stays, the mouse moved no more.
    sum_control_values(&t, c);
    EXPECT_NEAR(c[control_throttle], 0.5f, 1e-6f);
    EXPECT_NEAR(c[control_lean], -1.0f, 1e-6f);
    // A key event never touches an axis binding.
    EXPECT_FALSE(bindings_key_event(&t, key_code_by_name("x"), 1));
    bindings_close(&t);
    input_reset_for_tests();
}

TEST_F(PlayerInput, LeftAndRightTogetherSteerStraightAndEitherAloneSteersItsWay)
{
    start({lineup_player});
    ASSERT_NE(player(), nullptr);
    ASSERT_EQ(game.view_mode, view_rider);
    g_bike_setup.reverse_steering = 0;
    key("left", 1);
    tick();
    EXPECT_EQ(player()->steer, 1.0f);
    key("right", 1);
    tick();
    EXPECT_EQ(player()->steer, 0.0f);
    key("left", 0);
    tick();
    EXPECT_EQ(player()->steer, -1.0f);
    // Reversed steering (the default) turns the command around.
    g_bike_setup.reverse_steering = 1;
    tick();
    EXPECT_EQ(player()->steer, 1.0f);
}

TEST_F(PlayerInput, ClutchLeverOpensAtOnceAndEngagesOverThirtyTwoTicks)
{
    start({lineup_player});
    // A new bike starts with the clutch out; it engages like a lever let go.
    for (int i = 0; i < 32; i++)
        tick();
    ASSERT_EQ(player()->clutch, 1.0f);
    key("z", 1);
    tick();
    EXPECT_EQ(player()->clutch, 0.0f);
    tick();
    EXPECT_EQ(player()->clutch, 0.0f);
    key("z", 0);
    for (int i = 1; i <= 32; i++) {
        tick();
        EXPECT_NEAR(player()->clutch, i / 32.0f, 1e-5f) << i;
    }
    tick();
    EXPECT_EQ(player()->clutch, 1.0f);
}

TEST_F(PlayerInput, StickyDabFlipsOncePerPress)
{
    start({lineup_player});
    g_bike_setup.sticky_dab = 1;
    g_bike_setup.auto_dab = 0;
    const int dab = key_code_by_name("right ctrl");
    ASSERT_NE(dab, no_key_code);
    key("right ctrl", 1);
    for (int i = 0; i < 10; i++) {
        tick();
        EXPECT_EQ(player()->sit_dab, 1.0f) << "held, tick " << i;
    }
    key("right ctrl", 0);
    tick();
    EXPECT_EQ(player()->sit_dab, 1.0f);
    key("right ctrl", 1);
    tick();
    EXPECT_EQ(player()->sit_dab, 0.0f);
    key("right ctrl", 0);
    tick();
    EXPECT_EQ(player()->sit_dab, 0.0f);
    // Without sticky dab the key is simply held.
    g_bike_setup.sticky_dab = 0;
    key("right ctrl", 1);
    tick();
    EXPECT_EQ(player()->sit_dab, 1.0f);
    key("right ctrl", 0);
    tick();
    EXPECT_EQ(player()->sit_dab, 0.0f);
}

TEST_F(PlayerInput, AMenuOverTheOwnBikeStopsTheWorldButNotOverAnotherRider)
{
    start({lineup_player, lineup_robot});
    game.menu = 0;
    key("x", 1);
    const int before = w->race.tick;
    tick();
    EXPECT_EQ(w->race.tick, before);
    EXPECT_EQ(player()->throttle, 0.0f);  // the commands wait too
    // Watching the robot, the world goes on under the menu.
    g_settings.spy = 1;
    game.menu = -1;
    key("]", 1);
    EXPECT_EQ(game.watched_slot, 1);
    game.menu = 0;
    tick();
    EXPECT_EQ(w->race.tick, before + 1);
}

// The player rides off the gate when it drops and turns the way the keys
// say: the input reaches the bike only as its commands before each tick.
void PlayerInput::ride_and_turn(bool reversed, float* forward, float* turned_left)
{
    PlayerInput* t = this;
    g_bike_setup.reverse_steering = reversed ? 1 : 0;
    bike* b = t->w->race.slots[0].b;
    const heading at_gate = heading_of(b);
    const int start = t->w->race.start_tick;
    ASSERT_GE(start, 13 * SECOND);
    ASSERT_LE(start, 15 * SECOND);
    // Waiting on the brakes until the gate drops.
    t->key("c", 1);
    t->key("v", 1);
    while (t->w->race.tick < start)
        t->tick();
    EXPECT_LT(length(sub(bike_frame_position(b), at_gate.at)), 1.0f);
    t->key("c", 0);
    t->key("v", 0);
    t->key("x", 1);
    for (int i = 0; i < 2 * SECOND; i++)
        t->tick();
    const heading rolling = heading_of(b);
    *forward = dot(sub(rolling.at, at_gate.at), at_gate.ahead);
    t->key("left", 1);
    for (int i = 0; i < 2 * SECOND; i++)
        t->tick();
    t->key("left", 0);
    // How far the bike went to the left of the line it rode along, and
    // how its heading turned (positive: to the left).
    const heading after = heading_of(b);
    *turned_left = dot(sub(after.at, rolling.at), rolling.left);
    const float turn = atan2f(dot(after.ahead, rolling.left), dot(after.ahead, rolling.ahead));
    EXPECT_GT(turn * (*turned_left), 0.0f) << "heading and path turn the same way";
}

TEST_F(PlayerInput, ThePlayerRidesOffTheGateAndTurnsTheWayHeSteers)
{
    start({lineup_player});
    ASSERT_TRUE(riding_own_bike(&game, w));
    float forward = 0, left = 0;
    ride_and_turn(true, &forward, &left);
    EXPECT_GT(forward, 15.0f);
    EXPECT_GT(left, 4.0f) << "reversed steering: Left turns left";
}

// Left is a command to the bars; at speed the bike leans away from the
// bars and turns the other way, which reversed steering makes up for.
TEST_F(PlayerInput, WithoutReversedSteeringTheLeftKeyCountersteersToTheRight)
{
    start({lineup_player});
    float forward = 0, left = 0;
    ride_and_turn(false, &forward, &left);
    EXPECT_GT(forward, 15.0f);
    EXPECT_LT(left, -4.0f);
}

TEST_F(PlayerInput, BackingUpRestartsATimeTrialOncePerPress)
{
    ASSERT_TRUE(world_reset(w, nullptr, nullptr, false, 0, 1, 0));
    game.track_loaded = true;
    game.watched_slot = 0;
    views_new_ride(&input.views, w);
    ASSERT_TRUE(w->race.time_trial);
    g_settings.time_trial_abort = 1;
    bike* b = w->race.slots[0].b;
    const vec3 restart = bike_frame_position(b);
    key("x", 1);
    for (int i = 0; i < 3 * SECOND; i++)
        tick();
    key("x", 0);
    ASSERT_GT(length(sub(bike_frame_position(b), restart)), 10.0f);
    key("b", 1);
    tick();
    EXPECT_LT(length(sub(bike_frame_position(b), restart)), 2.0f);
    // Held, the bike is not put back again and again: it is walked back.
    for (int i = 0; i < 2 * SECOND; i++)
        tick();
    EXPECT_GT(b->back_up, 0.5f);
    EXPECT_GT(length(sub(bike_frame_position(b), restart)), 1.0f);
}

}  // namespace
