// The bike setup: stability presets, the setters' clamps, the apply step
// with its refusal, the values a bike has before any setup, and the setup
// menu's texts.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "bike/bike.h"
#include "bike/catalogue.h"
#include "bike/physics.h"
#include "bike_test_messages.h"
#include "test_support.h"

namespace {

using bike_test::messages;

const float PI = 3.14159265358979f;

struct BikeSetup : ::testing::Test {
    static void SetUpTestSuite() { test::physics(); }
    static void TearDownTestSuite() { test::physics_reset(); }
    bike* b = nullptr;
    void SetUp() override
    {
        b = create_bike(test::physics(), "450sxf(2018)", 3, "12", nullptr, nullptr, nullptr, nullptr);
        reset_setup_refusal();
        clear_messages();
    }
    void TearDown() override { destroy_bike(b); }
};

TEST(BikeSetupPresets, StabilityTable)
{
    bike_setup s;
    apply_stability(&s, 0);
    EXPECT_DOUBLE_EQ(s.roll_damping, 40);
    EXPECT_DOUBLE_EQ(s.restricted_lock, 45);
    EXPECT_DOUBLE_EQ(s.roll_limit_angle, 90);
    EXPECT_DOUBLE_EQ(s.roll_limit_factor, 0);
    EXPECT_DOUBLE_EQ(s.land_damping_falloff, 0);

    // Halfway between the 40 and 60 columns.
    apply_stability(&s, 50);
    EXPECT_DOUBLE_EQ(s.roll_damping, 65);
    EXPECT_DOUBLE_EQ(s.restricted_lock, 7.5);
    EXPECT_DOUBLE_EQ(s.roll_limit_factor, 21);
    EXPECT_DOUBLE_EQ(s.slow_damping_factor, 1.75);
    EXPECT_DOUBLE_EQ(s.land_damping_falloff, 0.25);
    EXPECT_DOUBLE_EQ(s.land_damping_factor, 2);

    // The integer part counts; 100 and above use the last column.
    bike_setup t;
    apply_stability(&t, 50.9);
    EXPECT_DOUBLE_EQ(t.roll_damping, 65);
    apply_stability(&t, 100);
    EXPECT_DOUBLE_EQ(t.roll_damping, 80);
    EXPECT_DOUBLE_EQ(t.direct_steering, 0.125);
    EXPECT_DOUBLE_EQ(t.steering_damping, 60);
    EXPECT_DOUBLE_EQ(t.restricted_lock, 1);
    apply_stability(&t, 250);
    EXPECT_DOUBLE_EQ(t.roll_damping, 80);
    apply_stability(&t, -30);
    EXPECT_DOUBLE_EQ(t.roll_damping, 40);
    apply_stability(&t, NAN);
    EXPECT_DOUBLE_EQ(t.roll_damping, 40);
    // Values outside the fifteen stay as they were.
    EXPECT_DOUBLE_EQ(t.shock_compression_adjustment, 75);
}

TEST(BikeSetupPresets, TablesListEveryKeyOnce)
{
    int sliders = 0, choices = 0;
    const setup_slider_info* s = setup_sliders(&sliders);
    setup_choices(&choices);
    EXPECT_EQ(sliders, 40);
    EXPECT_EQ(choices, 10);
    const bike_setup defaults;
    for (int i = 0; i < sliders; i++) {
        EXPECT_EQ(find_setup_slider(s[i].key), &s[i]);
        EXPECT_DOUBLE_EQ(defaults.*(s[i].field), s[i].default_value) << s[i].key;
        EXPECT_LE(s[i].minimum, s[i].default_value);
        EXPECT_GE(s[i].maximum, s[i].default_value);
    }
    EXPECT_STREQ(find_setup_slider("restricted_lock")->label, "Restricted Lock Angle");
    EXPECT_DOUBLE_EQ(find_setup_slider("restricted_lock")->step, 0.125);
    EXPECT_DOUBLE_EQ(find_setup_slider("max_dab_speed")->minimum, 5);
    EXPECT_EQ(find_setup_choice("stop_wheelies")->choice_count, 3);
    EXPECT_STREQ(find_setup_choice("stop_wheelies")->choices[2], "Front Only");
    EXPECT_EQ(find_setup_choice("rear_brake")->default_index, 0);
    EXPECT_EQ(find_setup_slider("nonsense"), nullptr);
    EXPECT_EQ(find_setup_choice(nullptr), nullptr);
}

TEST_F(BikeSetup, ValuesBeforeAnySetup)
{
    EXPECT_EQ(b->assist_flags, 0x8d);
    EXPECT_EQ(b->arcade_flags, 0);
    EXPECT_FLOAT_EQ(b->restricted_lock_angle, 0.08726646f);
    EXPECT_FLOAT_EQ(b->slow_damping_factor, 1);
    EXPECT_FLOAT_EQ(b->slow_damping_speed, 0);
    EXPECT_FLOAT_EQ(b->roll_limit_angle, PI / 4);
    EXPECT_FLOAT_EQ(b->max_dab_speed, 30);
    EXPECT_FLOAT_EQ(b->front_brake_torque, 250);
    EXPECT_FLOAT_EQ(b->rider_zdamping, 0.75f);
    EXPECT_FLOAT_EQ(b->rider_yspring, 0.5f);
    EXPECT_FLOAT_EQ(b->rider_mass_distribution, 1.0f / 3.0f);
    // Fork at its bases with no low-speed force, shock stiffer.
    const bike_params& p = b->params;
    EXPECT_FLOAT_EQ(b->fork_hsc, p.fork_hsc_base);
    EXPECT_FLOAT_EQ(b->fork_lsc, 0);
    EXPECT_FLOAT_EQ(b->fork_air_gap, p.fork_oil_min);
    EXPECT_FLOAT_EQ(b->fork_spring, (p.fork_spring_min + p.fork_spring_max) / 2);
    EXPECT_FLOAT_EQ(b->shock_hsc, 2 * p.shock_hsc_base);
    EXPECT_FLOAT_EQ(b->shock_hsr, 2 * p.shock_hsr_base);
    EXPECT_FLOAT_EQ(b->shock_lsr, p.shock_lsr_base);
    EXPECT_FLOAT_EQ(b->final_ratio, 48.0f / 13.0f);
}

TEST_F(BikeSetup, DampingMultipliersAndOffsets)
{
    bike_setup s;
    const bike_params& p = b->params;
    s.fork_compression_adjustment = 0;
    s.fork_rebound_adjustment = 100;
    s.fork_slow_compression_adjustment = 0;
    s.fork_slow_rebound_adjustment = 100;
    s.shock_compression_adjustment = 50;
    s.shock_slow_compression_adjustment = 50;
    ASSERT_TRUE(apply_bike_setup(b, &s, false));
    EXPECT_FLOAT_EQ(b->fork_hsc, 0.25f * p.fork_hsc_base);
    EXPECT_FLOAT_EQ(b->fork_hsr, 4 * p.fork_hsr_base);
    EXPECT_FLOAT_EQ(b->fork_lsc, -p.fork_lsc_base);
    EXPECT_FLOAT_EQ(b->fork_lsr, p.fork_lsr_base);
    EXPECT_EQ(b->shock_hsc, p.shock_hsc_base);  // setting 50: the base exactly
    EXPECT_EQ(b->shock_lsc, 0.0f);
    // Spring, preload and air gap interpolate the model's ranges.
    s.fork_spring_rate_adjustment = 100;
    s.fork_oil_level_adjustment = 100;
    s.shock_preload_adjustment = 0;
    ASSERT_TRUE(apply_bike_setup(b, &s, false));
    EXPECT_FLOAT_EQ(b->fork_spring, p.fork_spring_max);
    EXPECT_FLOAT_EQ(b->fork_air_gap, p.fork_oil_max);
    EXPECT_FLOAT_EQ(b->shock_preload, p.shock_preload_min);
    // Hand-edited values far out of range are clamped.
    bike_set_fork(b, 100, -7, 0, 7, 3, -1, 2);
    EXPECT_FLOAT_EQ(b->fork_hsc, 4 * p.fork_hsc_base);
    EXPECT_FLOAT_EQ(b->fork_lsc, -p.fork_lsc_base);
    EXPECT_FLOAT_EQ(b->fork_hsr, 0.25f * p.fork_hsr_base);
    EXPECT_FLOAT_EQ(b->fork_lsr, p.fork_lsr_base);
    EXPECT_FLOAT_EQ(b->fork_spring, p.fork_spring_max);
    EXPECT_FLOAT_EQ(b->fork_preload, p.fork_preload_min);
}

TEST_F(BikeSetup, SprocketsAndGearing)
{
    bike_setup s;
    s.rear_sprocket_adjustment = -2;
    s.front_sprocket_adjustment = -2;
    ASSERT_TRUE(apply_bike_setup(b, &s, false));
    EXPECT_FLOAT_EQ(b->final_ratio, 46.0f / 11.0f);
    // Fractions round down; adjustments beyond two teeth are clamped.
    bike_set_gearing(b, 0.9f, -0.5f);
    EXPECT_FLOAT_EQ(b->final_ratio, 47.0f / 13.0f);
    bike_set_gearing(b, 9, 9);
    EXPECT_FLOAT_EQ(b->final_ratio, 50.0f / 15.0f);
    // A sprocket never gets fewer than 3 teeth.
    b->params.front_teeth = 4;
    b->params.rear_teeth = 2;
    bike_set_gearing(b, -2, -2);
    EXPECT_FLOAT_EQ(b->final_ratio, 1.0f);
    char text[32];
    EXPECT_EQ(std::string(display_rear_sprocket(find_bike_params("rs50yz"), -2, text, sizeof text)), "53.00 teeth");
}

TEST_F(BikeSetup, AssistsAndScalarsArePassedOn)
{
    bike_setup s;
    s.stop_wheelies = 2;    // Front Only
    s.rear_brake = 1;
    s.auto_shift = 0;
    s.arcade = 1;
    s.max_dab_speed = 10;
    s.restricted_lock = 45;
    s.roll_limit_angle = 180;
    s.rider_mass_distribution = 0.5;
    ASSERT_TRUE(apply_bike_setup(b, &s, false));
    EXPECT_EQ(b->assist_flags, assist_steering | assist_stoppie_release | assist_front_antilock |
                                   assist_rear_antilock | assist_dab_when_stopped | assist_realign_after_fall);
    EXPECT_EQ(b->arcade_flags, arcade_physics_on);
    EXPECT_FLOAT_EQ(b->max_dab_speed, 10 * 1.4666666666666666f);
    EXPECT_FLOAT_EQ(b->restricted_lock_angle, PI / 4);
    EXPECT_FLOAT_EQ(b->roll_limit_angle, PI);
    // The server's "no arcade" rule wins over the setup.
    s.stop_wheelies = 1;
    ASSERT_TRUE(apply_bike_setup(b, &s, true));
    EXPECT_EQ(b->arcade_flags, 0);
    EXPECT_TRUE(b->assist_flags & assist_wheelie_limiter);
    EXPECT_TRUE(b->assist_flags & assist_stoppie_release);
    // The frame now carries half the rider's mass; the total is unchanged.
    dMass frame, rider;
    dBodyGetMass(b->bodies[body_frame], &frame);
    dBodyGetMass(b->bodies[body_rider], &rider);
    EXPECT_NEAR(frame.mass, b->params.frame_mass + 0.5 * b->params.rider_mass, 1e-5);
    EXPECT_NEAR(rider.mass, 0.5 * b->params.rider_mass, 1e-6);
    EXPECT_NEAR(b->total_mass, bike_body_mass_sum(b), 1e-6);

    // Setters clamp on their own.
    bike_set_max_dab_speed(b, 1);
    EXPECT_FLOAT_EQ(b->max_dab_speed, 7);
    bike_set_slow_damping_factor(b, 0);
    EXPECT_FLOAT_EQ(b->slow_damping_factor, 1);
    bike_set_rider_mass_distribution(b, 0.9f);
    EXPECT_FLOAT_EQ(b->rider_mass_distribution, 0.5f);
    bike_set_auto_shift(b, 3);   // bit 0 only
    EXPECT_TRUE(b->assist_flags & assist_auto_shift);
    bike_set_auto_shift(b, 2);
    EXPECT_FALSE(b->assist_flags & assist_auto_shift);
    bike_set_stop_wheelies(b, 0);
    EXPECT_EQ(b->assist_flags & (assist_wheelie_limiter | assist_stoppie_release), 0);
}

TEST_F(BikeSetup, RefusedWhileMovingSecondRefusalTellsThePlayer)
{
    bike_setup s;
    s.roll_damping = 10;
    dBodySetLinearVel(b->bodies[body_frame], 0, 0, -0.2);
    sim_clock = 1000.0;
    EXPECT_FALSE(apply_bike_setup(b, &s, false));
    EXPECT_TRUE(messages().empty());
    EXPECT_FLOAT_EQ(b->roll_damping, 60);  // nothing changed
    sim_clock = 1009.5;
    EXPECT_FALSE(apply_bike_setup(b, &s, false));
    ASSERT_EQ(messages().size(), 1u);
    EXPECT_EQ(messages()[0], "Settings not applied.  Mechanic can't keep up error.");
    // Each refusal restarts the 10 s; a pause longer than that is silent.
    clear_messages();
    sim_clock = 1020.0;
    EXPECT_FALSE(apply_bike_setup(b, &s, false));
    EXPECT_TRUE(messages().empty());
    // Slow enough: applied.
    dBodySetLinearVel(b->bodies[body_frame], 0.1, 0, 0);
    EXPECT_TRUE(apply_bike_setup(b, &s, false));
    EXPECT_FLOAT_EQ(b->roll_damping, 10);
    sim_clock = 0;
}

TEST(BikeSetupDisplay, MenuTexts)
{
    const bike_params* p = find_bike_params("450sxf(2018)");
    char text[64];
    EXPECT_EQ(std::string(display_fork_spring(p, 0, text, sizeof text)), "0.280 kg/mm");
    EXPECT_EQ(std::string(display_fork_spring(p, 1, text, sizeof text)), "0.680 kg/mm");
    EXPECT_EQ(std::string(display_fork_preload(p, 2, text, sizeof text)), "25.40 mm");
    EXPECT_EQ(std::string(display_fork_oil_level(p, 0, text, sizeof text)), "127.00 mm");
    EXPECT_EQ(std::string(display_shock_spring(p, 0.5, text, sizeof text)), "5.70 kg/mm");
    EXPECT_EQ(std::string(display_shock_preload(p, -1, text, sizeof text)), "0.00 mm");
    EXPECT_EQ(std::string(display_front_sprocket(p, 1, text, sizeof text)), "14.00 teeth");
    char tiny[4];
    EXPECT_EQ(std::string(display_front_sprocket(p, 1, tiny, sizeof tiny)), "14.");
}

}  // namespace
