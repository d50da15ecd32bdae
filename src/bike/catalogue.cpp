// The compiled-in catalogue of 80 bike models and the name lookup.
//
// Every model shares one geometry (wheels, body positions, linkage curve,
// rider figure), so the catalogue is built from one shared record, a few
// per-class values and one row per model with what varies between models:
// masses, gearing, engine and rpm thresholds, file stem. Each class has one
// reference engine whose full-throttle table is given point by point; the
// other engines of the class take its shape, stretched to their own zero
// crossing near the redline and scaled to their own peak torque.
#include "bike/catalogue.h"

#include <cstdio>
#include <cstring>
#include <mutex>

#include "core/messages.h"

namespace {

enum engine_class { class_450f, class_250f, class_250, class_125, class_50, class_count };

// Gear sets (ratios of gears 1-6, <= 0: no such gear).
enum gearbox_id { g450a, g450b, g450c, g450d, g450e, g350, g250f_a, g250f_b, g250t, g125a, g125b, g50, gearbox_count };
const float k_gearboxes[gearbox_count][GEAR_COUNT] = {
    {2.0f, 1.6666666f, 1.4f, 1.1818182f, 1.0f, -1.0f},                // g450a
    {2.1428571f, 1.75f, 1.4210526f, 1.1904762f, 1.0f, -1.0f},         // g450b
    {2.0714286f, 1.6875f, 1.4f, 1.1904762f, 1.0416667f, -1.0f},       // g450c
    {2.0f, 1.6470588f, 1.3684211f, 1.1666667f, 1.0f, -1.0f},          // g450d
    {1.9333333f, 1.5294118f, 1.2631579f, 1.047619f, 0.9090909f, -1.0f}, // g450e
    {2.1666667f, 1.7647059f, 1.45f, 1.2272727f, 1.0434783f, -1.0f},   // g350
    {2.2307692f, 1.8f, 1.4705882f, 1.2272727f, 1.0434783f, -1.0f},    // g250f_a
    {2.1428571f, 1.7647059f, 1.4736842f, 1.2380952f, 1.0833333f, -1.0f}, // g250f_b
    {1.9285714f, 1.5333333f, 1.2777778f, 1.0909091f, 0.952381f, -1.0f},  // g250t
    {2.3846154f, 1.9333333f, 1.5882353f, 1.3529412f, 1.2f, 1.0952381f},  // g125a
    {2.3076923f, 1.875f, 1.5625f, 1.3333333f, 1.1666667f, 1.0454545f},   // g125b
    {3.0909091f, 2.0f, 1.5f, 1.2f, 1.0454545f, 0.9565217f},              // g50
};

// Reference full-throttle tables, lbf ft every 500 rpm.
const float k_open_450[TORQUE_POINTS] = {
    5, 5, 5, 5, 5, 8.701f, 12.402f, 16.103f, 19.804f, 23.505f,
    27.2795f, 30.1758f, 32.8082f, 34.4135f, 35.5568f, 35.7494f, 35.3008f, 34.7196f, 32.4522f, 30.5175f,
    28.6975f, 26.3656f, 24.3316f, 12.1658f, 0, -10, -11, -12, -13, -14,
    -15, -16, -17, -18, -19, -20, -21, -22, -23, -24,
    -25, -26, -27, -28, -29, -30, -31, -32, -33, -34,
};
const float k_open_250f[TORQUE_POINTS] = {
    5, 5, 5, 5, 5, 6.3148f, 7.6296f, 8.9443f, 10.2591f, 11.5739f,
    12.8887f, 13.0921f, 13.7255f, 14.5282f, 15.1561f, 15.7283f, 16.3472f, 17.159f, 17.7813f, 18.1723f,
    18.4402f, 18.3324f, 18.0052f, 17.3685f, 16.2816f, 15.3446f, 14.4958f, 13.6827f, 12.0011f, 0,
    -14, -14.5f, -15, -15.5f, -16, -16.5f, -17, -17.5f, -18, -18.5f,
    -19, -19.5f, -20, -20.5f, -21, -21.5f, -22, -22.5f, -23, -23.5f,
};
// A 250 two-stroke: little below 4000 rpm, a sharp peak near 8000.
const float k_open_250[TORQUE_POINTS] = {
    5, 5, 5, 5, 5, 7.5f, 10.2f, 12.9f, 15.6f, 18.2f,
    20.6f, 22.9f, 25.0f, 26.8f, 28.3f, 29.4f, 29.902f, 29.5f, 28.1f, 25.6f,
    21.4f, 12.5f, 0, -8, -8.75f, -9.5f, -10.25f, -11, -11.75f, -12.5f,
    -13.25f, -14, -14.75f, -15.5f, -16.25f, -17, -17.75f, -18.5f, -19.25f, -20,
    -20.75f, -21.5f, -22.25f, -23, -23.75f, -24.5f, -25.25f, -26, -26.75f, -27.5f,
};
// A 125 two-stroke: a long climb to a peak just below the redline.
const float k_open_125[TORQUE_POINTS] = {
    5, 5, 5, 5, 5, 5.6f, 6.2f, 6.9f, 7.6f, 8.3f,
    9.0f, 9.7f, 10.4f, 11.1f, 11.8f, 12.5f, 13.2f, 13.9f, 14.6f, 15.2f,
    15.6f, 15.8614f, 15.7f, 15.0f, 13.4f, 8.5f, 0, -6, -6.5f, -7,
    -7.5f, -8, -8.5f, -9, -9.5f, -10, -10.5f, -11, -11.5f, -12,
    -12.5f, -13, -13.5f, -14, -14.5f, -15, -15.5f, -16, -16.5f, -17,
};
const float k_open_50[TORQUE_POINTS] = {
    1, 1, 1, 1, 1, 1.2f, 1.4f, 1.6f, 1.85f, 2.1f,
    2.35f, 2.6f, 2.85f, 3.1f, 3.35f, 3.6f, 3.8f, 3.98f, 4.12f, 4.23f,
    4.29f, 4.3123f, 4.25f, 4.05f, 3.6f, 2.2f, 0, -1.5f, -1.625f, -1.75f,
    -1.875f, -2, -2.125f, -2.25f, -2.375f, -2.5f, -2.625f, -2.75f, -2.875f, -3,
    -3.125f, -3.25f, -3.375f, -3.5f, -3.625f, -3.75f, -3.875f, -4, -4.125f, -4.25f,
};

// What the models of one class share.
struct class_info {
    const char* name;
    float rider_mass;
    float fork_mass;
    float swingarm_side_mass;
    float fork_hsr_base;
    float shock_hsr_base;
    float clutch_stiffness;
    float clutch_damping;
    // Spring ranges of the reference model; other models scale the lower
    // end with their bike-plus-rider mass (the range width is shared).
    float reference_mass;       // frame_mass + rider_mass of the reference
    float fork_spring_min;
    float shock_spring_min;
    const float* open_table;    // reference engine
    float overrev_rpm;          // zero crossing above the redline
    bool gentle_closed;         // two-stroke 125/50 engine braking
    float closed_scale;         // applied from the fifth point on
};

const class_info k_classes[class_count] = {
    {"450f", 5.46875f, 0.703125f, 0.5025f, 32, 650, 7500, 0.75f, 4.735f + 5.46875f, 376.30261f, 2486.2852f,
     k_open_450, 0, false, 1},
    {"250f", 4.6875f, 0.703125f, 0.504375f, 30, 600, 7500, 0.75f, 4.24f + 4.6875f, 335.9845f, 2217.4976f,
     k_open_250f, 1250, false, 1},
    {"250", 5.46875f, 0.75375f, 0.51f, 31, 625, 7500, 0.75f, 4.365625f + 5.46875f, 366.0f, 2400.0f,
     k_open_250, 500, false, 1},
    {"125", 4.6875f, 0.739688f, 0.49f, 28, 560, 7500, 0.75f, 3.65375f + 4.6875f, 310.0f, 2050.0f,
     k_open_125, 250, true, 1},
    {"50", 4.6875f, 0.739688f, 0.47f, 24, 480, 1200, 1.0f, 3.34125f + 4.6875f, 298.0f, 1975.0f,
     k_open_50, 250, true, 0.5f},
};
const float k_fork_spring_range = 537.5752f;
const float k_shock_spring_range = 2687.8759f;

// One model: what varies between models.
struct model_row {
    const char* name;
    engine_class cls;
    const char* stem;      // model file stem
    float frame_mass;
    float peak_torque;     // full-throttle peak, lbf ft
    float downshift, upshift, redline;
    float primary;
    int front_teeth, rear_teeth;
    gearbox_id gearbox;
    float inertia;
};

// Catalogue order.
const model_row k_models[BIKE_CATALOGUE_SIZE] = {
    // name            class       stem            frame   peak     down   up     red    primary     teeth   gears    inertia
    {"450sxf(2018)", class_450f, "450sxfv2016", 4.735f, 35.7494f, 6000, 10500, 12000, 2.4516129f, 13, 48, g450a, 0.0088501f},
    {"crf450(2018)", class_450f, "crf450v2017", 4.80f, 35.30f, 6000, 10300, 11800, 2.5714286f, 13, 49, g450b, 0.0090f},
    {"fc450(2018)", class_450f, "fc450v2016", 4.76f, 35.50f, 6000, 10500, 12000, 2.4516129f, 13, 48, g450a, 0.0087f},
    {"kx450f(2018)", class_450f, "kx450fv2016", 4.86f, 34.90f, 6000, 10200, 11700, 2.5238095f, 13, 50, g450c, 0.0091f},
    {"rmz450(2018)", class_450f, "rmz450", 4.90f, 34.00f, 5800, 10000, 11500, 2.4782609f, 13, 49, g450d, 0.0092f},
    {"yz450f(2018)", class_450f, "yz450fv2014", 4.92f, 35.60f, 6000, 10300, 11800, 2.6190476f, 13, 49, g450e, 0.0094f},
    {"450sxf(2017)", class_450f, "450sxfv2016", 4.74f, 35.40f, 6000, 10500, 12000, 2.4516129f, 13, 48, g450a, 0.0088501f},
    {"crf450(2017)", class_450f, "crf450v2017", 4.80f, 35.00f, 6000, 10300, 11800, 2.5714286f, 13, 49, g450b, 0.0090f},
    {"fc450(2017)", class_450f, "fc450v2016", 4.77f, 35.20f, 6000, 10500, 12000, 2.4516129f, 13, 48, g450a, 0.0087f},
    {"kx450f(2017)", class_450f, "kx450fv2016", 4.86f, 34.70f, 6000, 10200, 11700, 2.5238095f, 13, 50, g450c, 0.0091f},
    {"rmz450(2017)", class_450f, "rmz450", 4.90f, 33.90f, 5800, 10000, 11500, 2.4782609f, 13, 49, g450d, 0.0092f},
    {"yz450f(2017)", class_450f, "yz450fv2014", 4.93f, 35.30f, 6000, 10300, 11800, 2.6190476f, 13, 49, g450e, 0.0094f},
    {"350sxf(2017)", class_250f, "350sxfv2016", 4.56f, 25.60f, 7000, 12000, 13400, 3.0526316f, 13, 48, g350, 0.0064f},
    {"450sxf(2016)", class_450f, "450sxfv2016", 4.74f, 35.10f, 6000, 10500, 12000, 2.4516129f, 13, 48, g450a, 0.0088501f},
    {"crf450(2016)", class_450f, "crf450v2013", 4.88f, 34.60f, 6000, 10200, 11600, 2.5714286f, 13, 48, g450b, 0.0091f},
    {"kx450f(2016)", class_450f, "kx450fv2016", 4.86f, 34.50f, 6000, 10200, 11700, 2.5238095f, 13, 50, g450c, 0.0091f},
    {"rmz450(2016)", class_450f, "rmz450", 4.91f, 33.80f, 5800, 10000, 11500, 2.4782609f, 13, 49, g450d, 0.0092f},
    {"yz450f(2016)", class_450f, "yz450fv2014", 4.93f, 35.00f, 6000, 10300, 11800, 2.6190476f, 13, 49, g450e, 0.0094f},
    {"crf450(2013)", class_450f, "crf450v2013", 4.88f, 34.20f, 6000, 10200, 11600, 2.5714286f, 13, 48, g450b, 0.0091f},
    {"kx450f(2013)", class_450f, "kx450f", 4.90f, 34.20f, 5800, 10000, 11500, 2.5238095f, 13, 50, g450c, 0.0092f},
    {"rmz450(2013)", class_450f, "rmz450", 4.92f, 33.60f, 5800, 10000, 11500, 2.4782609f, 13, 49, g450d, 0.0093f},
    {"yz450f(2013)", class_450f, "yz450f", 4.96f, 34.60f, 6000, 10200, 11600, 2.6190476f, 13, 49, g450e, 0.0095f},
    {"450sxf(2013)", class_450f, "450sxfv2013", 4.80f, 34.40f, 6000, 10400, 11800, 2.4516129f, 13, 48, g450a, 0.0089f},
    {"350sxf(2013)", class_250f, "350sxfv2013", 4.60f, 25.00f, 7000, 12000, 13400, 3.0526316f, 13, 48, g350, 0.0065f},
    {"crf450(2011)", class_450f, "crf450", 4.90f, 33.80f, 5800, 10000, 11500, 2.5714286f, 13, 48, g450b, 0.0092f},
    {"kx450f(2011)", class_450f, "kx450f", 4.92f, 33.90f, 5800, 10000, 11500, 2.5238095f, 13, 50, g450c, 0.0093f},
    {"rmz450(2011)", class_450f, "rmz450", 4.94f, 33.30f, 5800, 9900, 11400, 2.4782609f, 13, 49, g450d, 0.0093f},
    {"yz450f(2011)", class_450f, "yz450f", 4.97f, 34.20f, 6000, 10200, 11600, 2.6190476f, 13, 49, g450e, 0.0096f},
    {"450sxf(2011)", class_450f, "450sxf", 4.82f, 34.00f, 6000, 10400, 11800, 2.4516129f, 13, 48, g450a, 0.0090f},
    {"350sxf(2011)", class_450f, "350sxf", 4.62f, 24.60f, 7000, 12000, 13400, 3.0526316f, 13, 48, g350, 0.0066f},
    {"250sx(2012)", class_250, "250sx", 4.30f, 30.20f, 6000, 9000, 10500, 2.9473684f, 14, 50, g250t, 0.0067f},
    {"cr250(2007)", class_250, "cr250", 4.38f, 29.50f, 6000, 9000, 10500, 3.0f, 13, 48, g250t, 0.0070f},
    {"kx250(2006)", class_250, "kx250", 4.40f, 29.60f, 5800, 8800, 10300, 3.0f, 13, 49, g250t, 0.0069f},
    {"rm250(2008)", class_250, "rm250", 4.36f, 29.30f, 6000, 9000, 10500, 3.0f, 14, 50, g250t, 0.0068f},
    {"yz250(2012)", class_250, "yz250", 4.365625f, 29.902f, 6000, 9000, 10500, 3.0f, 14, 50, g250t, 0.0068359f},
    {"crf250(2018)", class_250f, "crf250v2018", 4.24f, 18.4402f, 8000, 12500, 13250, 3.4736842f, 13, 49, g250f_a, 0.0048828f},
    {"fc250(2018)", class_250f, "fc250v2016", 4.22f, 18.70f, 8200, 12800, 13500, 3.3157895f, 13, 50, g250f_b, 0.0047f},
    {"kx250f(2018)", class_250f, "kx250fv2017", 4.30f, 18.50f, 8000, 12500, 13300, 3.3529412f, 13, 50, g250f_a, 0.0049f},
    {"rmz250(2018)", class_250f, "rmz250v2010", 4.32f, 18.00f, 7800, 12200, 13000, 3.4166667f, 13, 49, g250f_a, 0.0050f},
    {"yz250f(2018)", class_250f, "yz250fv2014", 4.34f, 18.60f, 8000, 12500, 13300, 3.3529412f, 13, 49, g250f_b, 0.0049f},
    {"250sxf(2018)", class_250f, "250sxfv2016", 4.20f, 18.80f, 8200, 12800, 13500, 3.3157895f, 13, 50, g250f_b, 0.0046f},
    {"crf250(2017)", class_250f, "crf250v2014", 4.26f, 18.20f, 8000, 12500, 13250, 3.4736842f, 13, 49, g250f_a, 0.0048828f},
    {"fc250(2017)", class_250f, "fc250v2016", 4.23f, 18.50f, 8200, 12800, 13500, 3.3157895f, 13, 50, g250f_b, 0.0047f},
    {"kx250f(2017)", class_250f, "kx250fv2017", 4.30f, 18.30f, 8000, 12500, 13300, 3.3529412f, 13, 50, g250f_a, 0.0049f},
    {"rmz250(2017)", class_250f, "rmz250v2010", 4.32f, 17.90f, 7800, 12200, 13000, 3.4166667f, 13, 49, g250f_a, 0.0050f},
    {"yz250f(2017)", class_250f, "yz250fv2014", 4.34f, 18.40f, 8000, 12500, 13300, 3.3529412f, 13, 49, g250f_b, 0.0049f},
    {"250sxf(2017)", class_250f, "250sxfv2016", 4.21f, 18.60f, 8200, 12800, 13500, 3.3157895f, 13, 50, g250f_b, 0.0046f},
    {"crf250(2016)", class_250f, "crf250v2014", 4.26f, 18.00f, 8000, 12500, 13250, 3.4736842f, 13, 49, g250f_a, 0.0048828f},
    {"kx250f(2016)", class_250f, "kx250fv2013", 4.31f, 18.00f, 8000, 12400, 13200, 3.3529412f, 13, 50, g250f_a, 0.0049f},
    {"rmz250(2016)", class_250f, "rmz250v2010", 4.32f, 17.80f, 7800, 12200, 13000, 3.4166667f, 13, 49, g250f_a, 0.0050f},
    {"yz250f(2016)", class_250f, "yz250fv2014", 4.35f, 18.20f, 8000, 12500, 13300, 3.3529412f, 13, 49, g250f_b, 0.0049f},
    {"250sxf(2016)", class_250f, "250sxfv2016", 4.22f, 18.40f, 8200, 12800, 13500, 3.3157895f, 13, 50, g250f_b, 0.0046f},
    {"crf250(2013)", class_250f, "crf250v2010", 4.28f, 17.40f, 7800, 12200, 13000, 3.4736842f, 13, 49, g250f_a, 0.0049f},
    {"kx250f(2013)", class_250f, "kx250fv2013", 4.33f, 17.50f, 7800, 12200, 13000, 3.3529412f, 13, 50, g250f_a, 0.0050f},
    {"rmz250(2013)", class_250f, "rmz250v2010", 4.34f, 17.30f, 7800, 12200, 13000, 3.4166667f, 13, 49, g250f_a, 0.0050f},
    {"yz250f(2013)", class_250f, "yz250fv2010", 4.37f, 17.60f, 7800, 12200, 13000, 3.3529412f, 13, 49, g250f_b, 0.0050f},
    {"250sxf(2013)", class_250f, "250sxfv2013", 4.25f, 17.80f, 8000, 12500, 13300, 3.3157895f, 13, 50, g250f_b, 0.0047f},
    {"crf250(2009)", class_250f, "crf250", 4.30f, 16.90f, 7800, 12000, 12800, 3.4736842f, 13, 49, g250f_a, 0.0049f},
    {"kx250f(2009)", class_250f, "kx250f", 4.34f, 17.00f, 7800, 12000, 12800, 3.3529412f, 13, 50, g250f_a, 0.0050f},
    {"rmz250(2009)", class_250f, "rmz250", 4.35f, 16.90f, 7800, 12000, 12800, 3.4166667f, 13, 49, g250f_a, 0.0050f},
    {"yz250f(2009)", class_250f, "yz250f", 4.38f, 17.00f, 7800, 12000, 12800, 3.3529412f, 13, 49, g250f_b, 0.0051f},
    {"250sxf(2009)", class_250f, "250sxf", 4.27f, 17.20f, 8000, 12300, 13000, 3.3157895f, 13, 50, g250f_b, 0.0048f},
    {"crf250(2008)", class_250f, "crf250", 4.31f, 16.70f, 7800, 12000, 12800, 3.4736842f, 13, 49, g250f_a, 0.0049f},
    {"kx250f(2008)", class_250f, "kx250f", 4.35f, 16.80f, 7800, 12000, 12800, 3.3529412f, 13, 50, g250f_a, 0.0050f},
    {"rmz250(2008)", class_250f, "rmz250", 4.36f, 16.70f, 7800, 12000, 12800, 3.4166667f, 13, 49, g250f_a, 0.0050f},
    {"yz250f(2008)", class_250f, "yz250f", 4.39f, 16.80f, 7800, 12000, 12800, 3.3529412f, 13, 49, g250f_b, 0.0051f},
    {"cr125", class_125, "cr125", 3.66f, 15.60f, 9300, 11900, 12600, 3.3684211f, 13, 49, g125a, 0.0049f},
    {"kx125", class_125, "kx125", 3.68f, 15.70f, 9400, 12000, 12750, 3.25f, 13, 50, g125b, 0.0050f},
    {"rm125", class_125, "rm125", 3.64f, 15.50f, 9300, 11900, 12600, 3.3684211f, 13, 49, g125b, 0.0048f},
    {"yz125", class_125, "yz125", 3.65375f, 15.8614f, 9400, 12000, 12750, 3.3684211f, 13, 48, g125a, 0.0048828f},
    {"125sx", class_125, "125sx", 3.60f, 16.00f, 9600, 12300, 13000, 3.25f, 13, 50, g125b, 0.0047f},
    {"crf250(2007)", class_250f, "crf250", 4.32f, 16.40f, 7600, 11800, 12600, 3.4736842f, 13, 49, g250f_a, 0.0050f},
    {"kx250f(2007)", class_250f, "kx250f", 4.36f, 16.50f, 7600, 11800, 12600, 3.3529412f, 13, 50, g250f_a, 0.0051f},
    {"rmz250(2007)", class_250f, "rmz250", 4.37f, 16.40f, 7600, 11800, 12600, 3.4166667f, 13, 49, g250f_a, 0.0051f},
    {"yz250f(2007)", class_250f, "yz250f", 4.40f, 16.50f, 7600, 11800, 12600, 3.3529412f, 13, 49, g250f_b, 0.0052f},
    {"yz250f_se(2006)", class_250f, "yz250f", 4.40f, 16.60f, 7600, 11800, 12600, 3.3529412f, 13, 49, g250f_b, 0.0051f},
    {"rs50cr", class_50, "cr125", 3.345f, 4.28f, 9400, 12000, 12750, 3.7142857f, 12, 54, g50, 0.0012f},
    {"rs50kx", class_50, "kx125", 3.36f, 4.25f, 9400, 12000, 12750, 3.7142857f, 12, 55, g50, 0.00121f},
    {"rs50rm", class_50, "rm125", 3.33f, 4.22f, 9300, 11900, 12600, 3.7142857f, 12, 56, g50, 0.00118f},
    {"rs50yz", class_50, "yz125", 3.34125f, 4.3123f, 9400, 12000, 12750, 3.7142857f, 12, 55, g50, 0.0011936f},
};

const char* const k_menu_order[BIKE_CATALOGUE_SIZE] = {
    "450sxf(2018)", "crf450(2018)", "fc450(2018)", "kx450f(2018)", "rmz450(2018)", "yz450f(2018)",
    "450sxf(2017)", "crf450(2017)", "fc450(2017)", "kx450f(2017)", "rmz450(2017)", "yz450f(2017)",
    "450sxf(2016)", "crf450(2016)", "kx450f(2016)", "rmz450(2016)", "yz450f(2016)",
    "450sxf(2013)", "crf450(2013)", "kx450f(2013)", "rmz450(2013)", "yz450f(2013)",
    "450sxf(2011)", "crf450(2011)", "kx450f(2011)", "rmz450(2011)", "yz450f(2011)",
    "350sxf(2017)", "350sxf(2013)", "350sxf(2011)",
    "250sx(2012)", "cr250(2007)", "kx250(2006)", "rm250(2008)", "yz250(2012)",
    "250sxf(2018)", "crf250(2018)", "fc250(2018)", "kx250f(2018)", "rmz250(2018)", "yz250f(2018)",
    "250sxf(2017)", "crf250(2017)", "fc250(2017)", "kx250f(2017)", "rmz250(2017)", "yz250f(2017)",
    "250sxf(2016)", "crf250(2016)", "kx250f(2016)", "rmz250(2016)", "yz250f(2016)",
    "250sxf(2013)", "crf250(2013)", "kx250f(2013)", "rmz250(2013)", "yz250f(2013)",
    "250sxf(2009)", "crf250(2009)", "kx250f(2009)", "rmz250(2009)", "yz250f(2009)",
    "crf250(2008)", "kx250f(2008)", "rmz250(2008)", "yz250f(2008)",
    "crf250(2007)", "kx250f(2007)", "rmz250(2007)", "yz250f(2007)", "yz250f_se(2006)",
    "125sx", "cr125", "kx125", "rm125", "yz125",
    "rs50cr", "rs50kx", "rs50rm", "rs50yz",
};

struct alias_entry {
    const char* old_name;
    const char* name;
};
const alias_entry k_aliases[] = {
    {"crf250", "crf250(2008)"},
    {"kx250f", "kx250f(2008)"},
    {"rmz250", "rmz250(2008)"},
    {"yz250f", "yz250f(2008)"},
};

// The values every model shares.
bike_params shared_params()
{
    bike_params p{};
    p.front_wheel_pos = {0, 1.09f, 1.11f};
    p.front_tyre_ring_radius = 0.8333333f;
    p.front_tyre_section_radius = 0.3333333f;
    p.front_rim_mass = 0.40625f;
    p.front_hub_radius = 0.5f;
    p.front_hub_mass = 0.15625f;
    p.rear_wheel_pos = {0, 1.04f, 6.0f};
    p.rear_tyre_ring_radius = 0.75f;
    p.rear_tyre_section_radius = 0.3333333f;
    p.rear_rim_mass = 0.46875f;
    p.rear_hub_radius = 0.5f;
    p.rear_hub_mass = 0.3125f;
    p.frame_pos = {0, 1.98f, 3.6f};
    p.frame_size = {0.8333333f, 1.6666666f, 1.6666666f};
    p.fork_upper_pos = {0, 2.9f, 2.16f};
    p.swingarm_pos = {0, 1.34f, 4.99f};
    p.swingarm_pivot = {0, 1.6f, 4.08f};
    p.fork_lower_pos = {0, 1.77f, 1.59f};
    p.fork_leg_spacing = 0.8333333f;
    p.fork_leg_length = 3.0f;
    p.fork_preload_min = 0;
    p.fork_preload_max = 0.0833333f;
    p.fork_oil_min = 0.4166667f;
    p.fork_oil_max = 0.25f;
    p.fork_hsc_base = 60;
    p.fork_lsc_base = 60;
    p.fork_lsr_base = 30;
    p.fork_travel = 1.0f;
    p.shock_preload_min = 0;
    p.shock_preload_max = 0.3333333f;
    p.shock_hsc_base = 800;
    p.shock_lsc_base = 200;
    p.shock_lsr_base = 150;
    p.linkage_knee_pos = 0.2836518f;
    p.shock_stroke = 0.4133858f;
    p.swingarm_travel = 0.5303040f;
    p.linkage_knee = 0.75f;
    p.linkage_slope_0 = 0.3150394f;
    p.linkage_slope_knee = 0.4604795f;
    p.linkage_slope_1 = 0.6070487f;
    p.rider_move_dir = {0, 0.0833333f, 0.0833333f};
    p.rider_pos = {0, 4.5f, 4.12f};
    p.rider_move_min = -0.6666667f;
    p.rider_move_max = 0.5f;
    p.frame_shape = "@generic_frame.shp";
    p.fork_upper_shape = "@generic_fork_upper.shp";
    p.fork_lower_shape = "@generic_fork_lower.shp";
    p.swingarm_shape = "@generic_swingarm.shp";
    p.front_wheel_model = "@front_wheel.qm";
    p.front_wheel_shape = "@front_wheel.shp";
    p.rear_wheel_model = "@rear_wheel.qm";
    p.rear_wheel_shape = "@rear_wheel.shp";
    p.wheel_texture = "@wheels.png";
    p.head_model = "@rider_head.qm";
    p.head_texture = "@rider_head.png";
    p.rider_model = "@rider_body.qm";
    p.rider_model_first_person = "@rider_body_fp.qm";
    p.rider_shape = "@generic_rider.shp";
    p.rider_texture = "@rider_body.png";
    p.rider_plate_model = "@rider_plate.qm";
    p.head_point = {0, 0.808383f, -0.943369f};
    p.shoulder[0] = {-0.556f, 0.580375f, -0.654514f};
    p.shoulder[1] = {0.556f, 0.580375f, -0.654514f};
    p.hip[0] = {-0.269f, -0.570887f, 0.670607f};
    p.hip[1] = {0.269f, -0.570887f, 0.670607f};
    p.grip[0] = {-1.097f, 1.145f, 0.753f};
    p.grip[1] = {1.097f, 1.145f, 0.753f};
    p.peg[0] = {-0.6f, -0.557f, 0.584f};
    p.peg[1] = {0.6f, -0.557f, 0.584f};
    p.arm_upper = 0.9f;
    p.arm_lower = 1.15f;
    p.leg_upper = 1.328f;
    p.leg_lower = 1.701f;
    return p;
}

// Engine braking at closed throttle. The four-stroke and big two-stroke
// table loses 1 lbf ft every second point; the small two-strokes fall more
// gently at low rpm.
void closed_table(const class_info& c, float* out)
{
    if (!c.gentle_closed) {
        out[0] = 2;
        out[1] = 2;
        out[2] = 1;
        for (int k = 3; k < TORQUE_POINTS; k++)
            out[k] = -(float)((k - 2) / 2);
        return;
    }
    static const float head[18] = {2, 2, 1, 0, -1, -1.2f, -1.4f, -1.6f, -1.8f, -2,
                                   -2.25f, -2.5f, -2.75f, -3, -3.33f, -3.67f, -4, -5};
    for (int k = 0; k < TORQUE_POINTS; k++) {
        float v;
        if (k < 18)
            v = head[k];
        else if (k < 22)
            v = -(float)(k - 12);                 // -6 .. -9
        else
            v = -(float)(10 + (k - 22) / 2);      // -10, -10, -11, -11 ... -23, -23
        out[k] = k >= 4 ? v * c.closed_scale : v;
    }
}

int zero_index(const float* table)
{
    for (int k = 5; k < TORQUE_POINTS; k++)
        if (table[k] <= 0)
            return k;
    return TORQUE_POINTS - 1;
}

float table_max(const float* table)
{
    float m = table[0];
    for (int k = 1; k < TORQUE_POINTS; k++)
        if (table[k] > m)
            m = table[k];
    return m;
}

// Reference value at a fractional position; past the end the last step
// continues.
float table_at(const float* table, float t)
{
    if (t >= TORQUE_POINTS - 1) {
        const float step = table[TORQUE_POINTS - 1] - table[TORQUE_POINTS - 2];
        return table[TORQUE_POINTS - 1] + step * (t - (TORQUE_POINTS - 1));
    }
    const int i = (int)t;
    const float f = t - (float)i;
    return table[i] + (table[i + 1] - table[i]) * f;
}

// Full-throttle table of a model: the class reference stretched so that its
// zero crossing lands at the model's (the first point at or above redline +
// overrev) and scaled to the model's peak. The five flat points stay.
void open_table(const class_info& c, const model_row& m, float* out)
{
    const float* ref = c.open_table;
    const int ref_zero = zero_index(ref);
    int zero = (int)((m.redline + c.overrev_rpm) / 500.0f + 0.5f);
    if (zero < 8)
        zero = 8;
    if (zero > TORQUE_POINTS - 2)
        zero = TORQUE_POINTS - 2;
    const float scale = m.peak_torque / table_max(ref);
    const float stretch = (float)(ref_zero - 5) / (float)(zero - 5);
    for (int k = 0; k < TORQUE_POINTS; k++) {
        if (k < 5)
            out[k] = ref[k];
        else if (k < zero)
            out[k] = table_at(ref, 5.0f + (float)(k - 5) * stretch) * scale;
        else if (k == zero)
            out[k] = 0;
        else
            out[k] = table_at(ref, (float)(ref_zero + (k - zero))) * scale;
    }
}

void join_name(char* out, size_t size, const char* a, const char* b, const char* c)
{
    snprintf(out, size, "%s%s%s", a, b, c);
}

enum { NAME_LENGTH = 48, NAMES_PER_MODEL = 7 };

struct catalogue_storage {
    bool built = false;
    bike_params records[BIKE_CATALOGUE_SIZE + 1];   // + end marker (name null)
    char names[BIKE_CATALOGUE_SIZE][NAMES_PER_MODEL][NAME_LENGTH];
};
catalogue_storage g_catalogue;

void build_catalogue()
{
    const bike_params shared = shared_params();
    for (int i = 0; i < BIKE_CATALOGUE_SIZE; i++) {
        const model_row& m = k_models[i];
        const class_info& c = k_classes[m.cls];
        bike_params p = shared;
        p.name = m.name;
        p.class_name = c.name;
        p.frame_mass = m.frame_mass;
        p.fork_mass = c.fork_mass;
        p.rider_mass = c.rider_mass;
        // Heavier bike and rider, stiffer springs; the adjustable range
        // keeps its width.
        const float mass_ratio = (m.frame_mass + c.rider_mass) / c.reference_mass;
        p.fork_spring_min = c.fork_spring_min * mass_ratio;
        p.fork_spring_max = p.fork_spring_min + k_fork_spring_range;
        p.shock_spring_min = c.shock_spring_min * mass_ratio;
        p.shock_spring_max = p.shock_spring_min + k_shock_spring_range;
        p.fork_hsr_base = c.fork_hsr_base;
        p.shock_hsr_base = c.shock_hsr_base;
        p.swingarm_side_mass = c.swingarm_side_mass;
        p.primary_ratio = m.primary;
        p.front_teeth = m.front_teeth;
        p.rear_teeth = m.rear_teeth;
        memcpy(p.gear_ratio, k_gearboxes[m.gearbox], sizeof p.gear_ratio);
        p.engine_inertia = m.inertia;
        p.clutch_stiffness = c.clutch_stiffness;
        p.clutch_damping = c.clutch_damping;
        closed_table(c, p.closed_torque);
        open_table(c, m, p.open_torque);
        p.downshift_rpm = m.downshift;
        p.upshift_rpm = m.upshift;
        p.redline_rpm = m.redline;

        char(*n)[NAME_LENGTH] = g_catalogue.names[i];
        join_name(n[0], NAME_LENGTH, "@", m.stem, "_frame.qm");
        join_name(n[1], NAME_LENGTH, "@", m.stem, "_fork_upper.qm");
        join_name(n[2], NAME_LENGTH, "@", m.stem, "_fork_lower.qm");
        join_name(n[3], NAME_LENGTH, "@", m.stem, "_swingarm.qm");
        join_name(n[4], NAME_LENGTH, "@", m.stem, "_side_plates.qm");
        join_name(n[5], NAME_LENGTH, "@", m.stem, "_front_plate.qm");
        // The special edition shares its models and has its own graphics.
        if (strcmp(m.name, "yz250f_se(2006)") == 0)
            join_name(n[6], NAME_LENGTH, "@", "yz250f_se", ".png");
        else
            join_name(n[6], NAME_LENGTH, "@", m.stem, ".png");
        p.frame_model = n[0];
        p.fork_upper_model = n[1];
        p.fork_lower_model = n[2];
        p.swingarm_model = n[3];
        p.side_plates_model = n[4];
        p.front_plate_model = n[5];
        p.bike_texture = n[6];
        g_catalogue.records[i] = p;
    }
    g_catalogue.records[BIKE_CATALOGUE_SIZE] = bike_params{};
    g_catalogue.built = true;
}

}  // namespace

const bike_params* bike_catalogue()
{
    // Built once, whichever world's thread asks first.
    static std::once_flag once;
    std::call_once(once, [] {
        if (!g_catalogue.built)
            build_catalogue();
    });
    return g_catalogue.records;
}

const char* const* bike_menu_order()
{
    return k_menu_order;
}

const char* bike_alias(const char* name)
{
    if (!name)
        return name;
    for (const alias_entry& a : k_aliases)
        if (strcmp(a.old_name, name) == 0)
            return a.name;
    return name;
}

const bike_params* find_bike_params(const char* requested)
{
    const bike_params* catalogue = bike_catalogue();
    const char* name = bike_alias(requested ? requested : "");
    for (int i = 0; i < BIKE_CATALOGUE_SIZE; i++)
        if (strcmp(catalogue[i].name, name) == 0)
            return &catalogue[i];
    const char* pattern = strstr(name, "125") ? "125" : "250f";
    const bike_params* chosen = &catalogue[0];
    for (int i = 0; i < BIKE_CATALOGUE_SIZE; i++) {
        if (strstr(catalogue[i].name, pattern)) {
            chosen = &catalogue[i];
            break;
        }
    }
    add_message("bike info for '%.20s' not found using '%.20s' instead", name, chosen->name);
    return chosen;
}
