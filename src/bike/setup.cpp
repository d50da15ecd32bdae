// The player's bike setup: its table of values, the stability presets, the
// setters that clamp and store runtime values, the apply step and the texts
// the setup menu shows.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "bike/bike_internal.h"
#include "bike/catalogue.h"
#include "core/messages.h"

bike_setup g_bike_setup;

namespace {

constexpr double k_pi = 3.14159265358979323846;
constexpr float k_mph = 1.4666666666666666f;

const char* const k_no_yes[] = {"No", "Yes"};
const char* const k_brakes[] = {"Normal", "Antilock"};
const char* const k_stop_wheelies[] = {"No", "Yes", "Front Only"};

const setup_slider_info k_sliders[] = {
    {"Stability", "stability", 0, 100, 1, 100, &bike_setup::stability},
    {"Leveling", "leveling", 0, 100, 1, 20, &bike_setup::leveling},
    {"Roll Damping", "roll_damping", 0, 100, 1, 60, &bike_setup::roll_damping},
    {"Roll Limit Angle", "roll_limit_angle", 0, 180, 1, 45, &bike_setup::roll_limit_angle},
    {"Roll Limit Factor", "roll_limit_factor", 0, 64, 1, 10, &bike_setup::roll_limit_factor},
    {"Steering Damping", "steering_damping", 0, 100, 1, 45, &bike_setup::steering_damping},
    {"Steering Strength", "steering_strength", 0, 100, 1, 75, &bike_setup::steering_strength},
    {"Max Steering Force", "max_steering_force", 0, 1000, 5, 400, &bike_setup::max_steering_force},
    {"Direct Steering", "direct_steering", 0, 1, 0.125, 1, &bike_setup::direct_steering},
    {"Slow Damping Speed", "slow_damping_speed", 0, 100, 1, 40, &bike_setup::slow_damping_speed},
    {"Slow Damping Factor", "slow_damping_factor", 1, 10, 0.25, 2, &bike_setup::slow_damping_factor},
    {"Landing Damping Falloff", "land_damping_falloff", 0, 0.5, 0.0625, 0.25, &bike_setup::land_damping_falloff},
    {"Landing Damping Factor", "land_damping_factor", 1, 3, 0.25, 2, &bike_setup::land_damping_factor},
    {"Full Lock Speed", "full_lock_speed", 1, 100, 1, 10, &bike_setup::full_lock_speed},
    {"Restricted Lock Speed", "restricted_lock_speed", 1, 100, 1, 50, &bike_setup::restricted_lock_speed},
    {"Restricted Lock Angle", "restricted_lock", 0, 45, 0.125, 7.5, &bike_setup::restricted_lock},
    {"Auto Clutch RPMs", "auto_clutch_rpms", 0, 5000, 100, 5000, &bike_setup::auto_clutch_rpms},
    {"Braking Torque (Front)", "brake_torque", 0, 500, 10, 500, &bike_setup::brake_torque},
    {"Braking Torque (Rear)", "rear_brake_torque", 0, 500, 10, 250, &bike_setup::rear_brake_torque},
    {"Max Dab Speed (MPH)", "max_dab_speed", 5, 60, 1, 60, &bike_setup::max_dab_speed},
    {"Countershaft Sprocket", "front_sprocket_adjustment", -2, 2, 1, 0, &bike_setup::front_sprocket_adjustment},
    {"Rear Sprocket", "rear_sprocket_adjustment", -2, 2, 1, 0, &bike_setup::rear_sprocket_adjustment},
    {"Fork High Speed Compression Damping", "fork_compression_adjustment", 0, 100, 1, 50,
     &bike_setup::fork_compression_adjustment},
    {"Fork Low Speed Compression Damping", "fork_slow_compression_adjustment", 0, 100, 1, 50,
     &bike_setup::fork_slow_compression_adjustment},
    {"Fork High Speed Rebound Damping", "fork_rebound_adjustment", 0, 100, 1, 50,
     &bike_setup::fork_rebound_adjustment},
    {"Fork Low Speed Rebound Damping", "fork_slow_rebound_adjustment", 0, 100, 1, 50,
     &bike_setup::fork_slow_rebound_adjustment},
    {"Fork Spring Rate", "fork_spring_rate_adjustment", 0, 100, 1, 50, &bike_setup::fork_spring_rate_adjustment},
    {"Fork Preload", "fork_preload_adjustment", 0, 100, 1, 50, &bike_setup::fork_preload_adjustment},
    {"Fork Oil Level", "fork_oil_level_adjustment", 0, 100, 1, 50, &bike_setup::fork_oil_level_adjustment},
    {"Shock High Speed Compression Damping", "shock_compression_adjustment", 0, 100, 1, 75,
     &bike_setup::shock_compression_adjustment},
    {"Shock Low Speed Compression Damping", "shock_slow_compression_adjustment", 0, 100, 1, 50,
     &bike_setup::shock_slow_compression_adjustment},
    {"Shock High Speed Rebound Damping", "shock_rebound_adjustment", 0, 100, 1, 75,
     &bike_setup::shock_rebound_adjustment},
    {"Shock Low Speed Rebound Damping", "shock_slow_rebound_adjustment", 0, 100, 1, 50,
     &bike_setup::shock_slow_rebound_adjustment},
    {"Shock Spring Rate", "shock_spring_rate_adjustment", 0, 100, 1, 50, &bike_setup::shock_spring_rate_adjustment},
    {"Shock Preload", "shock_preload_adjustment", 0, 100, 1, 50, &bike_setup::shock_preload_adjustment},
    {"Rider Vertical Spring", "rider_yspring", 0, 100, 1, 50, &bike_setup::rider_yspring},
    {"Rider Vertical Damping", "rider_ydamping", 0, 100, 1, 50, &bike_setup::rider_ydamping},
    {"Rider Forward Spring", "rider_zspring", 0, 100, 1, 50, &bike_setup::rider_zspring},
    {"Rider Forward Damping", "rider_zdamping", 0, 100, 1, 50, &bike_setup::rider_zdamping},
    {"Rider Mass Distribution", "rider_mass_distribution", 0.33, 0.5, 0.01, 0.33,
     &bike_setup::rider_mass_distribution},
};

const setup_choice_info k_choices[] = {
    {"Arcade Physics", "arcade", k_no_yes, 2, 1, &bike_setup::arcade},
    {"Front Brake", "front_brake", k_brakes, 2, 1, &bike_setup::front_brake},
    {"Rear Brake", "rear_brake", k_brakes, 2, 0, &bike_setup::rear_brake},
    {"Stop Wheelies", "stop_wheelies", k_stop_wheelies, 3, 1, &bike_setup::stop_wheelies},
    {"Automatic Shifting", "auto_shift", k_no_yes, 2, 1, &bike_setup::auto_shift},
    {"Dab When Stopped", "auto_dab", k_no_yes, 2, 1, &bike_setup::auto_dab},
    {"Realign After Fall", "auto_align", k_no_yes, 2, 1, &bike_setup::auto_align},
    {"Sticky Sit/Dab", "sticky_dab", k_no_yes, 2, 0, &bike_setup::sticky_dab},
    {"Reversed Steering", "reverse_steering", k_no_yes, 2, 1, &bike_setup::reverse_steering},
    {"Lean Indicator", "lean_indicator", k_no_yes, 2, 1, &bike_setup::lean_indicator},
};

// Stability presets: one row per derived value, columns for stability 0,
// 20, 40, 60, 80 and 100.
struct stability_row {
    double bike_setup::*field;
    double column[6];
};
const stability_row k_stability[15] = {
    {&bike_setup::leveling, {20, 20, 20, 20, 20, 20}},
    {&bike_setup::roll_damping, {40, 50, 60, 70, 75, 80}},
    {&bike_setup::roll_limit_angle, {90, 45, 45, 45, 45, 45}},
    {&bike_setup::roll_limit_factor, {0, 5, 10, 32, 32, 32}},
    {&bike_setup::steering_damping, {45, 45, 45, 45, 50, 60}},
    {&bike_setup::steering_strength, {75, 75, 75, 75, 75, 75}},
    {&bike_setup::direct_steering, {1, 1, 1, 1, 1, 0.125}},
    {&bike_setup::max_steering_force, {400, 400, 400, 400, 400, 400}},
    {&bike_setup::slow_damping_speed, {40, 40, 40, 40, 40, 40}},
    {&bike_setup::slow_damping_factor, {1, 1, 1.5, 2, 2, 2}},
    {&bike_setup::land_damping_falloff, {0, 0.125, 0.25, 0.25, 0.25, 0.25}},
    {&bike_setup::land_damping_factor, {1, 1.5, 2, 2, 2, 2}},
    {&bike_setup::full_lock_speed, {10, 10, 10, 10, 10, 10}},
    {&bike_setup::restricted_lock_speed, {50, 50, 50, 50, 50, 50}},
    {&bike_setup::restricted_lock, {45, 15, 10, 5, 2.5, 1}},
};

// Simulated time of the last refused apply; far enough back that the first
// refusal is silent.
double g_last_refusal = -20.0;

float clampf(float v, float lo, float hi)
{
    return clamp_value(v, lo, hi);
}

// 2^(setting x 0.04 - 2): 0.25 at 0, 1 at 50, 4 at 100.
float damping_multiplier(double setting)
{
    return (float)std::pow(2.0, setting * 0.04 - 2.0);
}
float damping_offset(double setting)
{
    return (float)(setting * 0.02 - 1.0);
}

void set_flag(bike* b, uint8_t bit, int on)
{
    if (on & 1)
        b->assist_flags = (uint8_t)(b->assist_flags | bit);
    else
        b->assist_flags = (uint8_t)(b->assist_flags & ~bit);
}

char* format_value(char* text, size_t size, const char* format, double value)
{
    if (size > 0)
        snprintf(text, size, format, value);
    return text;
}

double lerp(float lo, float hi, double v)
{
    return lo + (hi - lo) * clamp_value(v, 0.0, 1.0);
}

}  // namespace

const setup_slider_info* setup_sliders(int* count)
{
    if (count)
        *count = (int)(sizeof k_sliders / sizeof k_sliders[0]);
    return k_sliders;
}

const setup_choice_info* setup_choices(int* count)
{
    if (count)
        *count = (int)(sizeof k_choices / sizeof k_choices[0]);
    return k_choices;
}

const setup_slider_info* find_setup_slider(const char* key)
{
    for (const setup_slider_info& s : k_sliders)
        if (key && strcmp(s.key, key) == 0)
            return &s;
    return nullptr;
}

const setup_choice_info* find_setup_choice(const char* key)
{
    for (const setup_choice_info& c : k_choices)
        if (key && strcmp(c.key, key) == 0)
            return &c;
    return nullptr;
}

void apply_stability(bike_setup* setup, double stability)
{
    // Non-finite input (a broken file) counts as 0.
    const double k = std::isfinite(stability) ? std::trunc(clamp_value(stability, -1e6, 1e6)) : 0.0;
    const double s = clamp_value(k * 5 * 0.01, 0.0, 5.0);
    int i = (int)std::floor(s);
    if (i > 4)
        i = 4;
    const double f = s - i;
    for (const stability_row& row : k_stability)
        setup->*row.field = row.column[i] + (row.column[i + 1] - row.column[i]) * f;
}

// ---- setters ----

void bike_set_roll_damping(bike* b, float v) { b->roll_damping = clampf(v, 0, 100); }
void bike_set_leveling(bike* b, float v) { b->leveling = clampf(v, 0, 100); }
void bike_set_roll_limit_factor(bike* b, float v) { b->roll_limit_factor = clampf(v, 0, 64); }
void bike_set_roll_limit_angle(bike* b, float radians) { b->roll_limit_angle = clampf(radians, 0, (float)k_pi); }
void bike_set_steering_damping(bike* b, float v) { b->steering_damping = clampf(v, 0, 100); }
void bike_set_steering_strength(bike* b, float v) { b->steering_strength = clampf(v, 0, 100); }
void bike_set_max_steering_force(bike* b, float v) { b->max_steering_force = clampf(v, 0, 1000); }
void bike_set_direct_steering(bike* b, float v) { b->direct_steering = clampf(v, 0, 1); }
void bike_set_slow_damping_speed(bike* b, float v) { b->slow_damping_speed = clampf(v, 0, 100); }
void bike_set_slow_damping_factor(bike* b, float v) { b->slow_damping_factor = clampf(v, 1, 10); }
void bike_set_landing_damping_falloff(bike* b, float v) { b->landing_damping_falloff = clampf(v, 0, 0.5f); }
void bike_set_landing_damping_factor(bike* b, float v) { b->landing_damping_factor = clampf(v, 1, 3); }
void bike_set_full_lock_speed(bike* b, float v) { b->full_lock_speed = clampf(v, 1, 100); }
void bike_set_restricted_lock_speed(bike* b, float v) { b->restricted_lock_speed = clampf(v, 1, 100); }
void bike_set_restricted_lock_angle(bike* b, float radians)
{
    b->restricted_lock_angle = clampf(radians, 0, (float)(k_pi / 4));
}
void bike_set_auto_clutch_rpm(bike* b, float v) { b->auto_clutch_rpm = clampf(v, 0, 5000); }
void bike_set_front_brake_torque(bike* b, float v) { b->front_brake_torque = clampf(v, 0, 500); }
void bike_set_rear_brake_torque(bike* b, float v) { b->rear_brake_torque = clampf(v, 0, 500); }
void bike_set_max_dab_speed(bike* b, float feet_per_second) { b->max_dab_speed = clampf(feet_per_second, 7, 100); }

void bike_set_arcade_physics(bike* b, int on)
{
    b->arcade_flags = (uint8_t)((b->arcade_flags & ~arcade_physics_on) | (on & 1));
}
void bike_set_front_antilock(bike* b, int on) { set_flag(b, assist_front_antilock, on); }
void bike_set_rear_antilock(bike* b, int on) { set_flag(b, assist_rear_antilock, on); }
void bike_set_auto_shift(bike* b, int on) { set_flag(b, assist_auto_shift, on); }
void bike_set_dab_when_stopped(bike* b, int on) { set_flag(b, assist_dab_when_stopped, on); }
void bike_set_realign_after_fall(bike* b, int on) { set_flag(b, assist_realign_after_fall, on); }
void bike_set_stop_wheelies(bike* b, int code)
{
    set_flag(b, assist_wheelie_limiter, code & 1);
    set_flag(b, assist_stoppie_release, (code >> 1) & 1);
}

void bike_set_fork(bike* b, float hsc_multiplier, float lsc_offset, float hsr_multiplier, float lsr_offset,
                   float spring_fraction, float preload_fraction, float oil_fraction)
{
    const bike_params& p = b->params;
    b->fork_hsc = clampf(hsc_multiplier, 0.25f, 4) * p.fork_hsc_base;
    b->fork_lsc = clampf(lsc_offset, -1, 1) * p.fork_lsc_base;
    b->fork_hsr = clampf(hsr_multiplier, 0.25f, 4) * p.fork_hsr_base;
    b->fork_lsr = clampf(lsr_offset, -1, 1) * p.fork_lsr_base;
    b->fork_spring = p.fork_spring_min + clampf(spring_fraction, 0, 1) * (p.fork_spring_max - p.fork_spring_min);
    b->fork_preload = p.fork_preload_min + clampf(preload_fraction, 0, 1) * (p.fork_preload_max - p.fork_preload_min);
    b->fork_air_gap = p.fork_oil_min + clampf(oil_fraction, 0, 1) * (p.fork_oil_max - p.fork_oil_min);
}

void bike_set_shock(bike* b, float hsc_multiplier, float lsc_offset, float hsr_multiplier, float lsr_offset,
                    float spring_fraction, float preload_fraction)
{
    const bike_params& p = b->params;
    b->shock_hsc = clampf(hsc_multiplier, 0.25f, 4) * p.shock_hsc_base;
    b->shock_lsc = clampf(lsc_offset, -1, 1) * p.shock_lsc_base;
    b->shock_hsr = clampf(hsr_multiplier, 0.25f, 4) * p.shock_hsr_base;
    b->shock_lsr = clampf(lsr_offset, -1, 1) * p.shock_lsr_base;
    b->shock_spring = p.shock_spring_min + clampf(spring_fraction, 0, 1) * (p.shock_spring_max - p.shock_spring_min);
    b->shock_preload =
        p.shock_preload_min + clampf(preload_fraction, 0, 1) * (p.shock_preload_max - p.shock_preload_min);
}

void bike_set_rider_springs(bike* b, float vertical, float forward)
{
    b->rider_yspring = clampf(vertical, 0, 1);
    b->rider_zspring = clampf(forward, 0, 1);
}

void bike_set_rider_dampers(bike* b, float vertical, float forward)
{
    b->rider_ydamping = clampf(vertical, 0, 1);
    b->rider_zdamping = clampf(forward, 0, 1);
}

void bike_set_gearing(bike* b, float front_adjustment, float rear_adjustment)
{
    const int front_adj = (int)std::floor(clampf(front_adjustment, -2, 2));
    const int rear_adj = (int)std::floor(clampf(rear_adjustment, -2, 2));
    int front = b->params.front_teeth + front_adj;
    int rear = b->params.rear_teeth + rear_adj;
    if (front < 3)
        front = 3;
    if (rear < 3)
        rear = 3;
    b->final_ratio = (float)rear / (float)front;
}

void bike_set_rider_mass_distribution(bike* b, float d)
{
    bike_set_body_masses(b, clampf(d, 0.33f, 0.5f));
}

void bike_setup_defaults(bike* b)
{
    b->assist_flags = ASSIST_FLAGS_NEW_BIKE;
    b->arcade_flags = 0;
    b->roll_damping = 60;
    b->leveling = 20;
    b->roll_limit_factor = 10;
    b->roll_limit_angle = (float)(k_pi / 4);
    b->steering_damping = 45;
    b->steering_strength = 75;
    b->max_steering_force = 400;
    b->direct_steering = 1;
    b->slow_damping_speed = 0;
    b->slow_damping_factor = 1;
    b->landing_damping_falloff = 0.25f;
    b->landing_damping_factor = 2;
    b->auto_clutch_rpm = 5000;
    b->front_brake_torque = 250;
    b->rear_brake_torque = 250;
    b->max_dab_speed = 30;
    b->full_lock_speed = 10;
    b->restricted_lock_speed = 50;
    b->restricted_lock_angle = 0.08726646f;
    bike_set_fork(b, 1, 0, 1, 0, 0.5f, 0.5f, 0);
    bike_set_shock(b, 2, 0, 2, 1, 0.5f, 0.5f);
    bike_set_rider_springs(b, 0.5f, 0.5f);
    bike_set_rider_dampers(b, 0.75f, 0.75f);
    bike_set_gearing(b, 0, 0);
}

// ---- apply ----

void reset_setup_refusal()
{
    g_last_refusal = -20.0;
}

bool apply_bike_setup(bike* b, const bike_setup* s, bool no_arcade)
{
    const dReal* v = dBodyGetLinearVel(b->bodies[body_frame]);
    const double speed = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    if (speed > 0.125) {
        if (sim_clock - g_last_refusal < 10.0)
            add_message("Settings not applied.  Mechanic can't keep up error.");
        g_last_refusal = sim_clock;
        return false;
    }
    const float deg = (float)(k_pi / 180.0);
    bike_set_leveling(b, (float)s->leveling);
    bike_set_roll_damping(b, (float)s->roll_damping);
    bike_set_roll_limit_angle(b, (float)s->roll_limit_angle * deg);
    bike_set_roll_limit_factor(b, (float)s->roll_limit_factor);
    bike_set_steering_damping(b, (float)s->steering_damping);
    bike_set_steering_strength(b, (float)s->steering_strength);
    bike_set_max_steering_force(b, (float)s->max_steering_force);
    bike_set_arcade_physics(b, no_arcade ? 0 : s->arcade);
    bike_set_front_antilock(b, s->front_brake);
    bike_set_rear_antilock(b, s->rear_brake);
    static const int k_wheelie_codes[3] = {0, 3, 2};
    bike_set_stop_wheelies(b, k_wheelie_codes[clamp_value(s->stop_wheelies, 0, 2)]);
    bike_set_auto_shift(b, s->auto_shift);
    bike_set_dab_when_stopped(b, s->auto_dab);
    bike_set_realign_after_fall(b, s->auto_align);
    bike_set_direct_steering(b, (float)s->direct_steering);
    bike_set_slow_damping_speed(b, (float)s->slow_damping_speed);
    bike_set_slow_damping_factor(b, (float)s->slow_damping_factor);
    bike_set_landing_damping_falloff(b, (float)s->land_damping_falloff);
    bike_set_landing_damping_factor(b, (float)s->land_damping_factor);
    bike_set_full_lock_speed(b, (float)s->full_lock_speed);
    bike_set_restricted_lock_speed(b, (float)s->restricted_lock_speed);
    bike_set_restricted_lock_angle(b, (float)s->restricted_lock * deg);
    bike_set_auto_clutch_rpm(b, (float)s->auto_clutch_rpms);
    bike_set_front_brake_torque(b, (float)s->brake_torque);
    bike_set_rear_brake_torque(b, (float)s->rear_brake_torque);
    bike_set_max_dab_speed(b, (float)s->max_dab_speed * k_mph);
    bike_set_gearing(b, (float)s->front_sprocket_adjustment, (float)s->rear_sprocket_adjustment);
    bike_set_fork(b, damping_multiplier(s->fork_compression_adjustment),
                  damping_offset(s->fork_slow_compression_adjustment),
                  damping_multiplier(s->fork_rebound_adjustment), damping_offset(s->fork_slow_rebound_adjustment),
                  (float)(s->fork_spring_rate_adjustment * 0.01), (float)(s->fork_preload_adjustment * 0.01),
                  (float)(s->fork_oil_level_adjustment * 0.01));
    bike_set_shock(b, damping_multiplier(s->shock_compression_adjustment),
                   damping_offset(s->shock_slow_compression_adjustment),
                   damping_multiplier(s->shock_rebound_adjustment), damping_offset(s->shock_slow_rebound_adjustment),
                   (float)(s->shock_spring_rate_adjustment * 0.01), (float)(s->shock_preload_adjustment * 0.01));
    bike_set_rider_springs(b, (float)(s->rider_yspring * 0.01), (float)(s->rider_zspring * 0.01));
    bike_set_rider_dampers(b, (float)(s->rider_ydamping * 0.01), (float)(s->rider_zdamping * 0.01));
    bike_set_rider_mass_distribution(b, (float)s->rider_mass_distribution);
    return true;
}

// ---- display ----

char* display_fork_spring(const bike_params* p, double v, char* text, size_t size)
{
    return format_value(text, size, "%.3f kg/mm",
                        lerp(p->fork_spring_min, p->fork_spring_max, v) * 0.0007440819724087572);
}

char* display_fork_preload(const bike_params* p, double v, char* text, size_t size)
{
    return format_value(text, size, "%.2f mm", lerp(p->fork_preload_min, p->fork_preload_max, v) * 304.8);
}

char* display_fork_oil_level(const bike_params* p, double v, char* text, size_t size)
{
    return format_value(text, size, "%.2f mm", lerp(p->fork_oil_min, p->fork_oil_max, v) * 304.8);
}

char* display_shock_spring(const bike_params* p, double v, char* text, size_t size)
{
    return format_value(text, size, "%.2f kg/mm",
                        lerp(p->shock_spring_min, p->shock_spring_max, v) * 0.0014881639448175144);
}

char* display_shock_preload(const bike_params* p, double v, char* text, size_t size)
{
    return format_value(text, size, "%.2f mm", lerp(p->shock_preload_min, p->shock_preload_max, v) * 304.8);
}

char* display_front_sprocket(const bike_params* p, double adjustment, char* text, size_t size)
{
    return format_value(text, size, "%.2f teeth", p->front_teeth + adjustment);
}

char* display_rear_sprocket(const bike_params* p, double adjustment, char* text, size_t size)
{
    return format_value(text, size, "%.2f teeth", p->rear_teeth + adjustment);
}
