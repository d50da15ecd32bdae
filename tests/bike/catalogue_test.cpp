// The bike catalogue: lookup with aliases and fallbacks, the reference
// models' values, and the sanity of all 80 records.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <set>
#include <string>

#include "bike/catalogue.h"
#include "bike_test_messages.h"

namespace {

using bike_test::messages;

const bike_params& model(const char* name)
{
    clear_messages();
    const bike_params* p = find_bike_params(name);
    EXPECT_TRUE(messages().empty()) << name;
    return *p;
}

int zero_point(const float* table)
{
    for (int k = 5; k < TORQUE_POINTS; k++)
        if (table[k] <= 0)
            return k;
    return -1;
}

float peak(const float* table)
{
    float m = table[0];
    for (int k = 0; k < TORQUE_POINTS; k++)
        m = std::fmax(m, table[k]);
    return m;
}

TEST(BikeCatalogue, ExactNamesAndAliasesNeedNoMessage)
{
    EXPECT_STREQ(model("yz250f").name, "yz250f(2008)");
    EXPECT_STREQ(model("crf250").name, "crf250(2008)");
    EXPECT_STREQ(model("rmz250").name, "rmz250(2008)");
    EXPECT_STREQ(model("kx250f").name, "kx250f(2008)");
    EXPECT_STREQ(model("rs50yz").name, "rs50yz");
    EXPECT_STREQ(model("350sxf(2011)").class_name, "450f");
    EXPECT_STREQ(model("350sxf(2013)").class_name, "250f");
}

TEST(BikeCatalogue, UnknownNamesFallBackWithAMessage)
{
    clear_messages();
    EXPECT_STREQ(find_bike_params("crf450")->name, "kx250f(2018)");
    EXPECT_STREQ(find_bike_params("xr125")->name, "cr125");
    // The alias table is exact and case-sensitive.
    EXPECT_STREQ(find_bike_params("YZ250F")->name, "kx250f(2018)");
    EXPECT_STREQ(find_bike_params("")->name, "kx250f(2018)");
    const auto lines = messages();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "bike info for 'crf450' not found using 'kx250f(2018)' instead");
    EXPECT_EQ(lines[1], "bike info for 'xr125' not found using 'cr125' instead");
    // Names are cut to 20 characters in the message.
    clear_messages();
    find_bike_params("a-very-long-model-name-indeed");
    ASSERT_EQ(messages().size(), 1u);
    EXPECT_EQ(messages()[0], "bike info for 'a-very-long-model-na' not found using 'kx250f(2018)' instead");
}

TEST(BikeCatalogue, OrderClassesAndMenu)
{
    const bike_params* c = bike_catalogue();
    EXPECT_STREQ(c[0].name, "450sxf(2018)");
    EXPECT_STREQ(c[12].name, "350sxf(2017)");
    EXPECT_STREQ(c[35].name, "crf250(2018)");
    EXPECT_STREQ(c[66].name, "cr125");
    EXPECT_STREQ(c[75].name, "yz250f_se(2006)");
    EXPECT_STREQ(c[79].name, "rs50yz");
    EXPECT_EQ(c[BIKE_CATALOGUE_SIZE].name, nullptr);  // end marker
    const std::set<std::string> classes = {"450f", "250f", "250", "125", "50"};
    std::set<std::string> names;
    for (int i = 0; i < BIKE_CATALOGUE_SIZE; i++) {
        EXPECT_TRUE(classes.count(c[i].class_name)) << c[i].name;
        names.insert(c[i].name);
    }
    EXPECT_EQ(names.size(), 80u);
    EXPECT_STREQ(c[30].class_name, "250");
    EXPECT_STREQ(c[70].class_name, "125");
    EXPECT_STREQ(c[76].class_name, "50");
    // The menu lists the same 80 names in its own order.
    std::set<std::string> menu;
    for (int i = 0; i < BIKE_CATALOGUE_SIZE; i++)
        menu.insert(bike_menu_order()[i]);
    EXPECT_EQ(menu, names);
    EXPECT_STREQ(bike_menu_order()[27], "350sxf(2017)");
    EXPECT_STREQ(bike_menu_order()[71], "125sx");
}

TEST(BikeCatalogue, ReferenceModelsCarryTheirValues)
{
    const bike_params& a = model("450sxf(2018)");
    EXPECT_FLOAT_EQ(a.frame_mass, 4.735f);
    EXPECT_FLOAT_EQ(a.fork_spring_min, 376.30261f);
    EXPECT_FLOAT_EQ(a.fork_spring_max, 913.87781f);
    EXPECT_FLOAT_EQ(a.shock_spring_max, 5174.1611f);
    EXPECT_EQ(a.front_teeth, 13);
    EXPECT_EQ(a.rear_teeth, 48);
    EXPECT_FLOAT_EQ(a.open_torque[12], 32.8082f);
    EXPECT_FLOAT_EQ(a.open_torque[23], 12.1658f);
    EXPECT_FLOAT_EQ(a.open_torque[24], 0.0f);
    EXPECT_FLOAT_EQ(a.open_torque[25], -10.0f);
    EXPECT_FLOAT_EQ(a.open_torque[49], -34.0f);
    EXPECT_FLOAT_EQ(a.closed_torque[12], -5.0f);
    EXPECT_FLOAT_EQ(a.closed_torque[49], -23.0f);
    EXPECT_STREQ(a.frame_model, "@450sxfv2016_frame.qm");
    EXPECT_STREQ(a.side_plates_model, "@450sxfv2016_side_plates.qm");
    EXPECT_STREQ(a.bike_texture, "@450sxfv2016.png");
    EXPECT_STREQ(a.frame_shape, "@generic_frame.shp");

    const bike_params& f = model("crf250(2018)");
    EXPECT_FLOAT_EQ(f.frame_mass, 4.24f);
    EXPECT_FLOAT_EQ(f.rider_mass, 4.6875f);
    EXPECT_FLOAT_EQ(f.fork_spring_min, 335.9845f);
    EXPECT_FLOAT_EQ(f.shock_spring_min, 2217.4976f);
    EXPECT_FLOAT_EQ(f.fork_hsr_base, 30);
    EXPECT_FLOAT_EQ(f.shock_hsr_base, 600);
    EXPECT_FLOAT_EQ(f.open_torque[20], 18.4402f);
    EXPECT_FLOAT_EQ(f.open_torque[29], 0.0f);
    EXPECT_FLOAT_EQ(f.open_torque[49], -23.5f);
    EXPECT_STREQ(f.fork_lower_model, "@crf250v2018_fork_lower.qm");

    const bike_params& y = model("yz125");
    const float gentle[18] = {2, 2, 1, 0, -1, -1.2f, -1.4f, -1.6f, -1.8f, -2, -2.25f, -2.5f, -2.75f, -3, -3.33f, -3.67f, -4, -5};
    for (int k = 0; k < 18; k++)
        EXPECT_FLOAT_EQ(y.closed_torque[k], gentle[k]) << k;
    EXPECT_FLOAT_EQ(y.closed_torque[22], -10);
    EXPECT_FLOAT_EQ(y.closed_torque[23], -10);
    EXPECT_FLOAT_EQ(y.closed_torque[24], -11);
    EXPECT_FLOAT_EQ(y.closed_torque[49], -23);
    EXPECT_FLOAT_EQ(peak(y.open_torque), 15.8614f);
    EXPECT_FLOAT_EQ(y.gear_ratio[5], 1.0952381f);

    const bike_params& s = model("rs50yz");
    EXPECT_FLOAT_EQ(s.closed_torque[3], 0);
    EXPECT_FLOAT_EQ(s.closed_torque[4], -0.5f);
    EXPECT_FLOAT_EQ(s.closed_torque[49], -11.5f);
    EXPECT_FLOAT_EQ(s.open_torque[0], 1.0f);
    EXPECT_FLOAT_EQ(s.clutch_stiffness, 1200);
    EXPECT_FLOAT_EQ(s.clutch_damping, 1.0f);
    EXPECT_STREQ(s.frame_model, "@yz125_frame.qm");

    const bike_params& se = model("yz250f_se(2006)");
    EXPECT_STREQ(se.frame_model, "@yz250f_frame.qm");
    EXPECT_STREQ(se.bike_texture, "@yz250f_se.png");

    const bike_params& t = model("yz250(2012)");
    EXPECT_FLOAT_EQ(t.frame_mass, 4.365625f);
    EXPECT_FLOAT_EQ(t.fork_mass, 0.75375f);
    EXPECT_FLOAT_EQ(peak(t.open_torque), 29.902f);
    EXPECT_FLOAT_EQ(t.engine_inertia, 0.0068359f);
}

// Every record is physically sound and follows the shared patterns.
TEST(BikeCatalogue, AllRecordsAreSound)
{
    const bike_params* c = bike_catalogue();
    const bike_params& ref = c[0];
    for (int i = 0; i < BIKE_CATALOGUE_SIZE; i++) {
        const bike_params& p = c[i];
        SCOPED_TRACE(p.name);
        const bool is50 = strcmp(p.class_name, "50") == 0;
        for (float m : {p.frame_mass, p.fork_mass, p.swingarm_side_mass, p.rider_mass, p.engine_inertia,
                        p.front_rim_mass, p.rear_hub_mass})
            EXPECT_TRUE(std::isfinite(m) && m > 0);
        EXPECT_LT(p.fork_spring_min, p.fork_spring_max);
        EXPECT_LT(p.shock_spring_min, p.shock_spring_max);
        EXPECT_GT(p.fork_spring_min, 0);
        EXPECT_GT(p.primary_ratio, 1);
        EXPECT_GE(p.front_teeth, 10);
        EXPECT_GT(p.rear_teeth, p.front_teeth);
        EXPECT_LT(p.downshift_rpm, p.upshift_rpm);
        EXPECT_LT(p.upshift_rpm, p.redline_rpm);
        EXPECT_FLOAT_EQ(p.clutch_stiffness, is50 ? 1200.0f : 7500.0f);
        if (strcmp(p.class_name, "450f") == 0) {
            EXPECT_FLOAT_EQ(p.rider_mass, 5.46875f);
        }
        // Gears: the first five present and falling; the sixth either
        // absent (negative) or lower still.
        for (int g = 0; g < 5; g++) {
            EXPECT_GT(p.gear_ratio[g], 0);
            if (g > 0) {
                EXPECT_LT(p.gear_ratio[g], p.gear_ratio[g - 1]);
            }
        }
        EXPECT_TRUE(p.gear_ratio[5] < 0 || p.gear_ratio[5] < p.gear_ratio[4]);
        const bool two_stroke_small = strcmp(p.class_name, "125") == 0 || is50;
        EXPECT_EQ(p.gear_ratio[5] > 0, two_stroke_small);
        // Torque tables: five flat points, positive up to one zero point
        // near the redline, engine braking beyond; closed throttle never
        // rises.
        const float start = is50 ? 1.0f : 5.0f;
        for (int k = 0; k < 5; k++)
            EXPECT_FLOAT_EQ(p.open_torque[k], start);
        const int zero = zero_point(p.open_torque);
        ASSERT_GT(zero, 5);
        EXPECT_FLOAT_EQ(p.open_torque[zero], 0.0f);
        EXPECT_LE(std::fabs(zero * 500.0f - p.redline_rpm), 1500.0f);
        for (int k = 5; k < zero; k++)
            EXPECT_GT(p.open_torque[k], 0) << k;
        for (int k = zero + 1; k < TORQUE_POINTS; k++) {
            EXPECT_LT(p.open_torque[k], 0) << k;
            if (k > zero + 1) {
                EXPECT_LE(p.open_torque[k], p.open_torque[k - 1]) << k;
            }
        }
        for (int k = 1; k < TORQUE_POINTS; k++)
            EXPECT_LE(p.closed_torque[k], p.closed_torque[k - 1]) << k;
        for (int k = 0; k < TORQUE_POINTS; k++)
            EXPECT_TRUE(std::isfinite(p.open_torque[k]) && std::isfinite(p.closed_torque[k]));
        // Shared geometry, shapes and rider files.
        EXPECT_EQ(memcmp(&p.front_wheel_pos, &ref.front_wheel_pos, sizeof(vec3)), 0);
        EXPECT_EQ(memcmp(&p.rider_pos, &ref.rider_pos, sizeof(vec3)), 0);
        EXPECT_FLOAT_EQ(p.swingarm_travel, ref.swingarm_travel);
        EXPECT_STREQ(p.rider_shape, "@generic_rider.shp");
        EXPECT_STREQ(p.wheel_texture, "@wheels.png");
        EXPECT_EQ(strncmp(p.frame_model, "@", 1), 0);
        EXPECT_NE(strstr(p.frame_model, "_frame.qm"), nullptr);
    }
}

// A 450 pulls harder than a 350, which pulls harder than a 250
// four-stroke; a 125 has less again and a 50 least; the 125s rev higher
// than the 450s and the 250 two-strokes.
TEST(BikeCatalogue, EnginesRankByDisplacement)
{
    const bike_params* c = bike_catalogue();
    auto peak_range = [&](auto select, float* lo, float* hi) {
        *lo = 1e9f;
        *hi = -1e9f;
        for (int i = 0; i < BIKE_CATALOGUE_SIZE; i++) {
            if (!select(c[i]))
                continue;
            *lo = std::fmin(*lo, peak(c[i].open_torque));
            *hi = std::fmax(*hi, peak(c[i].open_torque));
        }
    };
    float lo450, hi450, lo350, hi350, lo250f, hi250f, lo125, hi125, lo50, hi50;
    peak_range([](const bike_params& p) { return strstr(p.name, "450") != nullptr; }, &lo450, &hi450);
    peak_range([](const bike_params& p) { return strstr(p.name, "350") != nullptr; }, &lo350, &hi350);
    peak_range([](const bike_params& p) { return strcmp(p.class_name, "250f") == 0 && !strstr(p.name, "350"); },
               &lo250f, &hi250f);
    peak_range([](const bike_params& p) { return strcmp(p.class_name, "125") == 0; }, &lo125, &hi125);
    peak_range([](const bike_params& p) { return strcmp(p.class_name, "50") == 0; }, &lo50, &hi50);
    EXPECT_GT(lo450, hi350);
    EXPECT_GT(lo350, hi250f);
    EXPECT_GT(lo250f, hi125);
    EXPECT_GT(lo125, hi50);
    EXPECT_GT(model("yz125").redline_rpm, model("yz450f(2018)").redline_rpm);
    EXPECT_GT(model("yz125").redline_rpm, model("yz250(2012)").redline_rpm);
    EXPECT_LT(model("rs50yz").frame_mass, model("yz125").frame_mass);
    EXPECT_LT(model("rs50yz").engine_inertia, model("yz125").engine_inertia);
}

}  // namespace
