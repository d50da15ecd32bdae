// The compiled-in bike catalogue, the player's bike setup and the step that
// turns the setup into a bike's runtime values.
//
// Units everywhere in the bike code: feet, slugs, pounds-force, seconds,
// radians. In a bike's rest frame y is up, forward is -z and +x is the
// rider's right.
#pragma once

#include <cstddef>

#include "core/vec3.h"

struct bike;

enum {
    BIKE_CATALOGUE_SIZE = 80,
    TORQUE_POINTS = 50,   // torque table points, every 500 rpm from 0
    GEAR_COUNT = 6,
};

// One model of the catalogue. Every simulation reads a bike's private copy
// (bike::params), never the catalogue itself.
struct bike_params {
    const char* name;
    const char* class_name;   // "450f", "250f", "250", "125" or "50"

    vec3 front_wheel_pos;
    float front_tyre_ring_radius;     // torus major radius
    float front_tyre_section_radius;  // torus minor radius
    float front_rim_mass;
    float front_hub_radius;
    float front_hub_mass;
    vec3 rear_wheel_pos;
    float rear_tyre_ring_radius;
    float rear_tyre_section_radius;
    float rear_rim_mass;
    float rear_hub_radius;
    float rear_hub_mass;

    vec3 frame_pos;
    float frame_mass;          // without the rider
    vec3 frame_size;           // inertia box
    vec3 fork_upper_pos;       // also the steering pivot
    vec3 swingarm_pos;
    vec3 swingarm_pivot;
    vec3 fork_lower_pos;       // steering axis runs from here to fork_upper_pos
    float fork_leg_spacing;
    float fork_leg_length;
    float fork_mass;           // each fork body

    float fork_spring_min, fork_spring_max;    // lbf/ft, both legs
    float fork_preload_min, fork_preload_max;  // ft
    float fork_oil_min, fork_oil_max;          // air gap, ft (setting 0 -> min)
    float fork_hsc_base;
    float fork_lsc_base;
    float fork_hsr_base;
    float fork_lsr_base;
    float fork_travel;                         // ft

    float swingarm_side_mass;                  // each of the two side boxes
    float shock_spring_min, shock_spring_max;  // lbf/ft of shock stroke
    float shock_preload_min, shock_preload_max;
    float shock_hsc_base;
    float shock_lsc_base;
    float shock_hsr_base;
    float shock_lsr_base;
    float linkage_knee_pos;    // shock compression at the knee, ft
    float shock_stroke;        // shock compression at full travel, ft
    float swingarm_travel;     // radians
    float linkage_knee;        // knee as a fraction of swingarm travel
    float linkage_slope_0, linkage_slope_knee, linkage_slope_1;

    float primary_ratio;
    int front_teeth;
    int rear_teeth;
    float gear_ratio[GEAR_COUNT];   // <= 0: no such gear
    float engine_inertia;           // slug ft^2 at the crank
    float clutch_stiffness;         // lbf ft per radian
    float clutch_damping;           // per rad/s
    float closed_torque[TORQUE_POINTS];   // lbf ft at 0, 500 ... 24500 rpm
    float open_torque[TORQUE_POINTS];
    float downshift_rpm;
    float upshift_rpm;
    float redline_rpm;

    vec3 rider_move_dir;
    vec3 rider_pos;
    float rider_move_min, rider_move_max;
    float rider_mass;

    const char* frame_model;
    const char* frame_shape;
    const char* bike_texture;
    const char* fork_upper_model;
    const char* fork_upper_shape;
    const char* fork_lower_model;
    const char* fork_lower_shape;
    const char* swingarm_model;
    const char* swingarm_shape;
    const char* front_wheel_model;
    const char* front_wheel_shape;
    const char* rear_wheel_model;
    const char* rear_wheel_shape;
    const char* wheel_texture;
    const char* head_model;
    const char* head_texture;
    const char* rider_model;
    const char* rider_model_first_person;
    const char* rider_shape;
    const char* rider_texture;
    const char* side_plates_model;
    const char* front_plate_model;
    const char* rider_plate_model;

    // Rider figure (drawing, dab and crash rules). [0] left, [1] right.
    vec3 head_point;
    vec3 shoulder[2];   // rider body frame
    vec3 hip[2];        // rider body frame
    vec3 grip[2];       // fork-upper body frame
    vec3 peg[2];        // frame body frame
    float arm_upper, arm_lower, leg_upper, leg_lower;
};

// The catalogue in catalogue order (BIKE_CATALOGUE_SIZE entries).
const bike_params* bike_catalogue();
// The same names in the order of the model-selection menu.
const char* const* bike_menu_order();

// Maps the four old names ("crf250" ...) to their "(2008)" models; any other
// name is returned unchanged.
const char* bike_alias(const char* name);
// Exact, case-sensitive lookup after the alias. Unknown names fall back to
// the first model whose name contains "125" (when the name does) or "250f",
// and the player is told so. Never null.
const bike_params* find_bike_params(const char* name);

// ---- the player's setup ----

// Menu and setup-file values (doubles, as the menus hold them); choices are
// indexes into their choice lists.
struct bike_setup {
    double stability = 100;
    double leveling = 20;
    double roll_damping = 60;
    double roll_limit_angle = 45;         // degrees
    double roll_limit_factor = 10;
    double steering_damping = 45;
    double steering_strength = 75;
    double max_steering_force = 400;
    double direct_steering = 1;
    double slow_damping_speed = 40;
    double slow_damping_factor = 2;
    double land_damping_falloff = 0.25;
    double land_damping_factor = 2;
    double full_lock_speed = 10;
    double restricted_lock_speed = 50;
    double restricted_lock = 7.5;         // degrees
    int arcade = 1;             // "No", "Yes"
    int front_brake = 1;        // "Normal", "Antilock"
    int rear_brake = 0;         // "Normal", "Antilock"
    int stop_wheelies = 1;      // "No", "Yes", "Front Only"
    int auto_shift = 1;         // "No", "Yes"
    int auto_dab = 1;
    int auto_align = 1;
    int sticky_dab = 0;
    int reverse_steering = 1;
    int lean_indicator = 1;
    double auto_clutch_rpms = 5000;
    double brake_torque = 500;
    double rear_brake_torque = 250;
    double max_dab_speed = 60;            // mph
    double front_sprocket_adjustment = 0;
    double rear_sprocket_adjustment = 0;
    double fork_compression_adjustment = 50;
    double fork_slow_compression_adjustment = 50;
    double fork_rebound_adjustment = 50;
    double fork_slow_rebound_adjustment = 50;
    double fork_spring_rate_adjustment = 50;
    double fork_preload_adjustment = 50;
    double fork_oil_level_adjustment = 50;
    double shock_compression_adjustment = 75;
    double shock_slow_compression_adjustment = 50;
    double shock_rebound_adjustment = 75;
    double shock_slow_rebound_adjustment = 50;
    double shock_spring_rate_adjustment = 50;
    double shock_preload_adjustment = 50;
    double rider_yspring = 50;
    double rider_ydamping = 50;
    double rider_zspring = 50;
    double rider_zdamping = 50;
    double rider_mass_distribution = 0.33;
};

// The run's setup values (loaded and saved by the configuration files,
// edited by the menus).
extern bike_setup g_bike_setup;

// One numeric setup value: label, file key, range, step and default.
struct setup_slider_info {
    const char* label;
    const char* key;
    double minimum, maximum, step, default_value;
    double bike_setup::*field;
};
// One choice setup value.
struct setup_choice_info {
    const char* label;
    const char* key;
    const char* const* choices;
    int choice_count;
    int default_index;
    int bike_setup::*field;
};
// Tables in setup-file order (the numeric and the choice values are written
// interleaved by the configuration code; these list each kind in that order).
const setup_slider_info* setup_sliders(int* count);
const setup_choice_info* setup_choices(int* count);
const setup_slider_info* find_setup_slider(const char* key);
const setup_choice_info* find_setup_choice(const char* key);

// Recomputes the fifteen stability-derived values from the presets.
void apply_stability(bike_setup* setup, double stability);

// Turns the setup into the bike's runtime values. Refused (returns false,
// nothing changes) while the frame moves faster than 0.125 ft/s; a second
// refusal within 10 s of simulated time tells the player. no_arcade forces
// arcade physics off (a server rule).
bool apply_bike_setup(bike* b, const bike_setup* setup, bool no_arcade);
// Forgets the last refusal (as at start-up). For tests and restarts.
void reset_setup_refusal();

// ---- setters: clamp and store one runtime value ----
void bike_set_roll_damping(bike* b, float v);
void bike_set_leveling(bike* b, float v);
void bike_set_roll_limit_factor(bike* b, float v);
void bike_set_roll_limit_angle(bike* b, float radians);
void bike_set_steering_damping(bike* b, float v);
void bike_set_steering_strength(bike* b, float v);
void bike_set_max_steering_force(bike* b, float v);
void bike_set_direct_steering(bike* b, float v);
void bike_set_slow_damping_speed(bike* b, float v);
void bike_set_slow_damping_factor(bike* b, float v);
void bike_set_landing_damping_falloff(bike* b, float v);
void bike_set_landing_damping_factor(bike* b, float v);
void bike_set_full_lock_speed(bike* b, float v);
void bike_set_restricted_lock_speed(bike* b, float v);
void bike_set_restricted_lock_angle(bike* b, float radians);
void bike_set_auto_clutch_rpm(bike* b, float v);
void bike_set_front_brake_torque(bike* b, float v);
void bike_set_rear_brake_torque(bike* b, float v);
void bike_set_max_dab_speed(bike* b, float feet_per_second);
// Flag setters store bit 0 of their argument.
void bike_set_arcade_physics(bike* b, int on);
void bike_set_front_antilock(bike* b, int on);
void bike_set_rear_antilock(bike* b, int on);
void bike_set_auto_shift(bike* b, int on);
void bike_set_dab_when_stopped(bike* b, int on);
void bike_set_realign_after_fall(bike* b, int on);
// Two-bit code: 0 No, 3 Yes (limiter and release), 2 Front Only (release).
void bike_set_stop_wheelies(bike* b, int code);
// Multipliers 0.25..4, offsets -1..1, fractions 0..1.
void bike_set_fork(bike* b, float hsc_multiplier, float lsc_offset, float hsr_multiplier,
                   float lsr_offset, float spring_fraction, float preload_fraction,
                   float oil_fraction);
void bike_set_shock(bike* b, float hsc_multiplier, float lsc_offset, float hsr_multiplier,
                    float lsr_offset, float spring_fraction, float preload_fraction);
void bike_set_rider_springs(bike* b, float vertical, float forward);   // 0..1
void bike_set_rider_dampers(bike* b, float vertical, float forward);   // 0..1
// Sprocket adjustments in teeth (-2..2); sets the final drive ratio.
void bike_set_gearing(bike* b, float front_adjustment, float rear_adjustment);
// 0.33..0.5 of the rider's mass carried by the rider body; replaces the
// frame's and the rider body's mass at once.
void bike_set_rider_mass_distribution(bike* b, float d);

// ---- display texts for the setup menu ----
// v: the setting divided by 100, clamped to 0..1. Each writes into text
// (size bytes, always terminated) and returns text.
char* display_fork_spring(const bike_params* p, double v, char* text, size_t size);
char* display_fork_preload(const bike_params* p, double v, char* text, size_t size);
char* display_fork_oil_level(const bike_params* p, double v, char* text, size_t size);
char* display_shock_spring(const bike_params* p, double v, char* text, size_t size);
char* display_shock_preload(const bike_params* p, double v, char* text, size_t size);
// adjustment in teeth: stock teeth + adjustment.
char* display_front_sprocket(const bike_params* p, double adjustment, char* text, size_t size);
char* display_rear_sprocket(const bike_params* p, double adjustment, char* text, size_t size);
