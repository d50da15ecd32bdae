// The bike: seven rigid bodies in the physics world joined by six joints,
// plus everything the race, demo, network, robot, sound and drawing code
// read about one participant. One record per occupied participant slot,
// created and destroyed only by create_bike / destroy_bike.
#pragma once

#include <ode/ode.h>

#include <cstddef>
#include <cstdint>

#include "bike/catalogue.h"
#include "bike/contact_types.h"
#include "core/vec3.h"

struct shape;
struct heightfield;
struct physics_space;

// Body indexes; loops over all bodies use this order.
enum bike_body_index {
    body_frame = 0,
    body_front_wheel = 1,
    body_rear_wheel = 2,
    body_fork_upper = 3,
    body_fork_lower = 4,
    body_swingarm = 5,
    body_rider = 6,
    bike_body_count = 7,
};

enum bike_joint_index {
    joint_front_axle = 0,     // hinge: fork lower - front wheel; motor = front brake
    joint_rear_axle = 1,      // hinge: swingarm - rear wheel; motor = rear brake
    joint_steering_head = 2,  // hinge: fork upper - frame
    joint_fork_slider = 3,    // slider: fork upper - fork lower; 0 extended, < 0 compressed
    joint_swingarm_pivot = 4, // hinge: swingarm - frame; 0 extended, < 0 compressed
    joint_rider_mount = 5,    // hinge-2: rider - frame; detached during a crash
    bike_joint_count = 6,
};

// Models a bike draws with (handles of the model service, 0 = none).
enum bike_model_index {
    model_frame = 0,
    model_side_plates,
    model_fork_upper,
    model_front_plate,
    model_fork_lower,
    model_swingarm,
    model_front_wheel,
    model_rear_wheel,
    model_rider_plate,
    model_rider_body,
    model_rider_first_person,
    model_head,
    bike_model_count,
};

// Texture groups; each has its colour texture and its normal-map and
// specular-map variants (texture service handles, 0 = none).
enum bike_texture_group {
    texture_bike = 0,
    texture_wheels,
    texture_rider,
    texture_head,
    bike_texture_count,
};

struct bike_texture_set {
    unsigned colour = 0;
    unsigned normal = 0;
    unsigned specular = 0;
};

// assist_flags bits.
enum assist_flag_bits : uint8_t {
    assist_steering = 0x01,           // steering_assist, always set
    assist_wheelie_limiter = 0x02,
    assist_stoppie_release = 0x04,
    assist_front_antilock = 0x08,
    assist_rear_antilock = 0x10,
    assist_auto_shift = 0x20,
    assist_dab_when_stopped = 0x40,
    assist_realign_after_fall = 0x80,
};
// arcade_flags bits.
enum arcade_flag_bits : uint8_t {
    arcade_physics_on = 0x01,
};
enum : uint8_t { ASSIST_FLAGS_NEW_BIKE = 0x8d };

// One point of a racing line or a robot's path (20 bytes): position of the
// frame body, its speed (negative while both wheels are off the ground) and
// its height above the ground.
struct line_point {
    float x, y, z;
    float speed;
    float height;
};

// Growable lists owned by the bike (mem_* allocations, capacity starts at 16).
struct tick_list {
    int* items = nullptr;
    int count = 0;
    int capacity = 0;
};
struct line_point_list {
    line_point* items = nullptr;
    int count = 0;
    int capacity = 0;
};

struct bike_foot {
    vec3 position = {0, 0, 0};   // world
    vec3 velocity = {0, 0, 0};
};

struct bike {
    // Private copy of the model's parameters.
    bike_params params;

    // Bodies, joints and their feedback records.
    physics_space* space = nullptr;  // the world's physics the bodies live in
    dBodyID bodies[bike_body_count] = {};
    dJointID joints[bike_joint_count] = {};
    dJointFeedback joint_feedback[bike_joint_count] = {};

    // Ground contact per wheel.
    wheel_contact front_contact;
    wheel_contact rear_contact;

    // Commands (written by the controls, robots and start rules).
    float throttle = 0;      // 0..1
    float clutch = 0;        // 0..1, 1 = engaged
    float front_brake = 0;   // 0..1
    float rear_brake = 0;    // 0..1
    float steer = 0;         // -1..1, positive = left
    float sit_dab = 0;       // 0..1
    float dab_amount = 0;    // 0..1, how far the foot is out
    float back_up = 0;       // 0..1
    float lean = 0;          // -1 forward .. +1 backward
    int gear = 0;            // 0..5, 0 = first gear
    int last_shift = 0;      // -1, 0, +1

    // Engine.
    float engine_angle = 0;    // radians, referred to the rear wheel, -pi..pi
    float engine_speed = 0;    // rad/s at the crank
    float engine_inertia = 0;  // copy of params.engine_inertia
    float final_ratio = 0;     // rear teeth / front teeth

    // Suspension values (from the setup).
    float fork_hsc = 0, fork_lsc = 0, fork_hsr = 0, fork_lsr = 0;
    float fork_spring = 0;     // lbf/ft, both legs
    float fork_preload = 0;    // ft
    float fork_air_gap = 0;    // ft
    float shock_hsc = 0, shock_lsc = 0, shock_hsr = 0, shock_lsr = 0;
    float shock_spring = 0;    // lbf/ft of shock stroke
    float shock_preload = 0;   // ft of stroke
    float rider_yspring = 0, rider_ydamping = 0;   // 0..1
    float rider_zspring = 0, rider_zdamping = 0;   // 0..1

    // Race progress and robot state.
    int gate_progress = 0;            // race gates passed or skipped
    tick_list gate_times;             // tick per race gate, -1 skipped
    line_point_list path;             // robot path
    line_point_list recording[2];     // racing-line recording buffers
    int personality = 0;              // robot personality index (0 = none)
    int target = 0;                   // path index steered at
    int last_advance = 0;             // tick of the last target advance
    int next_section = 0;
    int followed_serial[4] = {};
    int recovery = 0;
    float launch_time = 0;
    float throttle_memory = 0;
    int grip_limit_tick = -1000000;
    int stuck_tick = -1;              // a stuck robot's push began (-1 none)

    // Setup values.
    float roll_damping = 0;
    float leveling = 0;
    float roll_limit_factor = 0;
    float roll_limit_angle = 0;        // radians
    float steering_damping = 0;
    float steering_strength = 0;
    float max_steering_force = 0;
    float direct_steering = 0;
    float slow_damping_speed = 0;
    float slow_damping_factor = 0;
    float landing_damping_falloff = 0;
    float landing_damping_factor = 0;
    float auto_clutch_rpm = 0;
    float front_brake_torque = 0;      // lbf ft
    float rear_brake_torque = 0;
    float max_dab_speed = 0;           // ft/s
    float full_lock_speed = 0;
    float restricted_lock_speed = 0;
    float restricted_lock_angle = 0;   // radians
    float rider_mass_distribution = 0; // share of rider_mass in the rider body
    float total_mass = 0;              // sum of the seven body masses

    // Resources.
    shape* shapes[bike_body_count] = {};     // by body index; private copies
    unsigned models[bike_model_count] = {};
    bike_texture_set textures[bike_texture_count];
    unsigned number_plate_texture = 0;

    // Race number and participant slot.
    char number_text[8] = {};
    int slot = 0;

    // Bike-to-bike contact ticks (-1 after reset).
    int last_bike_contact_tick = -1;
    int first_bike_contact_tick = -1;

    // Set once a part touched the ground or the bike went slow after the start.
    int slow_or_down = 0;

    // Landing damping.
    float landing_level = 1;
    int airborne_tick = 0;
    int landing_tick = 0;

    // Crash.
    int crash_timer = 0;     // ticks, > 0 while the rider is down
    int crash_count = 0;

    // Feet: [0] left, [1] right.
    bike_foot feet[2];

    // Rider body linear velocity of the last four ticks (tick mod 4).
    vec3 rider_velocity_history[4] = {};

    // Race end, bumps and slides.
    int finished = 0;
    float bump_timer = 0;    // ticks
    float slide_amount = 0;  // 0..1

    // 1 solid; <= 0.25 ghost; between: a remote bike fading out.
    float presence = 1;

    // Erosion trails, one per wheel.
    erode_trail front_trail;
    erode_trail rear_trail;

    // Rider aids and arcade physics.
    uint8_t assist_flags = ASSIST_FLAGS_NEW_BIKE;
    uint8_t arcade_flags = 0;
};

// Builds a bike of the named model (unknown names fall back, with a message)
// in space (created when it is not yet) in its rest pose at the origin.
// Texture names may be null. The bike
// is solid (presence 1). Never null; running out of memory ends the program.
bike* create_bike(physics_space* space, const char* model_name, int slot, const char* number_text,
                  const char* rider_texture, const char* head_texture,
                  const char* bike_texture, const char* wheel_texture);
void destroy_bike(bike* b);

// Rest pose at the origin, zero velocities and cleared runtime state.
void reset_bike_pose(bike* b);
// Only the bodies to the rest pose at the origin, still (the engine, a
// running crash and the feet too); what the race and the robot know of the
// bike (gates, laps, path, recovery) stays.
void rest_bike_bodies(bike* b);
// Every body gets the rotation R(axis, angle) and its position p becomes R p
// (about the world origin; meant for a bike in its rest pose).
void rotate_bike(bike* b, float axis_x, float axis_y, float axis_z, float angle);
void translate_bike(bike* b, float dx, float dy, float dz);
// Puts the bike on a start spot: rest pose turned by angle about y, moved to
// (x, height, z) and raised in steps of 0.25 ft until it no longer touches
// the ground of hf. The probing contacts are discarded. Returns the height
// used.
float place_bike_at_start(bike* b, const heightfield* hf, float x, float z, float angle, float height);
// The same for a bike in the middle of a ride (a robot carried back onto
// the track): only the bodies are set down; its race goes on.
float set_bike_down(bike* b, const heightfield* hf, float x, float z, float angle, float height);

// Sends a bike (at rest, upright) off at speed ft/s along its facing: every
// body moves with it, both wheels roll, the engine turns with the rear
// wheel in the lowest gear that keeps it below its upshift rpm, and the
// rider has been moving so for a while (no jolt to throw him off). For
// tests and rides that start at speed.
void bike_launch(bike* b, float speed);
// True when every body of the bike has a finite position and velocity and
// the engine a finite speed and angle.
bool bike_state_finite(const bike* b);

// Presence changes.
void set_bike_solid(bike* b);
void set_bike_ghost(bike* b);
void wake_remote_bike(bike* b);
void fade_remote_bike(bike* b);
// Re-creates the rider mount between rider and frame (after a crash).
void attach_rider_mount(bike* b);

// Accessors.
vec3 bike_frame_position(const bike* b);
vec3 bike_frame_velocity(const bike* b);
// The frame's rotation, 3 x 4 row-major (the physics engine's layout).
const dReal* bike_frame_rotation(const bike* b);
vec3 bike_rider_position(const bike* b);
// Velocity along the frame's -z axis in mph.
float bike_forward_speed_mph(const bike* b);
const char* bike_model_name(const bike* b);
const char* bike_class(const bike* b);

// Sum of the masses of the seven bodies.
float bike_body_mass_sum(const bike* b);

// Pure helpers (exposed for tests and other loaders).
// Variant model name for a model loaded "with" texture T: false when there is
// no variant (then the model itself is meant).
bool model_variant_name(const char* model, const char* texture, char* out, size_t size);
// Reads "[numberbackground:" / "[numberforeground:" from a texture's text.
// Colours keep their defaults when a tag is absent or does not parse.
void number_plate_colours(const char* text, uint8_t background[3], uint8_t foreground[3]);
