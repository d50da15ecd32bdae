// The fork and the rear shock. Neither is a spring inside the physics
// engine: every tick one force for the fork slider and one torque for the
// swingarm pivot are computed from the joint's position and rate and handed
// to the joint's motor (target velocity 100 pushes with a constant force,
// target velocity 0 brakes; see physics.h).
//
// Units: feet, pound-force, seconds, radians. Joint conventions: the fork
// slider is 0 at full extension and negative when compressed (down to
// -fork_travel); the swingarm pivot is 0 at full extension and negative when
// compressed (down to -swingarm_travel); both rates are positive while the
// unit extends. Everything is single precision.
#pragma once

struct bike;

// ---- the laws, as pure functions (also used by the suspension graph) ----

// The four coefficients of one damper: high-speed compression and rebound
// (per ft/s), low-speed compression and rebound (forces; may be negative).
struct damper_values {
    float hsc, lsc, hsr, lsr;
};

// Damper force for speed v (positive = extending). The low-speed offset
// shifts the speed-proportional part h but the result stays within 1/8..8
// times h, so the damper never pushes in the direction it moves and gives 0
// at rest.
float damper_force(float v, const damper_values& d);

// Air spring of the fork: compression x (ft, clamped to 0..travel) over an
// air column of travel + air_gap. Pounds-force, 0 at full extension.
float fork_air_force(float compression, float travel, float air_gap);

// Fade of the force over the last 1/32 of travel before full extension:
// 0 at position 0, 1 once compressed by travel/32 or more. position is the
// joint's (negative when compressed), travel positive.
float top_out_fade(float position, float travel);

// Everything the fork law reads.
struct fork_values {
    damper_values damper;
    float spring;   // lbf/ft, both legs
    float preload;  // ft
    float air_gap;  // ft
    float travel;   // ft
};

// Total fork force (positive = pushing toward extension) for slider
// position p and rate v.
float fork_force(const fork_values& f, float p, float v);

// The rising-rate linkage: shock compression (ft) as a function of the
// swingarm's travel fraction x (0..1), two cubic Hermite segments meeting at
// the knee.
struct linkage_curve {
    float knee;        // fraction of travel
    float knee_pos;    // shock compression at the knee, ft
    float stroke;      // shock compression at full travel, ft
    float slope_0;     // ds/dx at x = 0, at the knee and at x = 1
    float slope_knee;
    float slope_1;
};

struct linkage_point {
    float s;      // shock compression, ft
    float slope;  // ds/dx, ft per unit travel fraction
};

// x is clamped to 0..1 first.
linkage_point linkage_at(const linkage_curve& c, float x);

struct shock_values {
    damper_values damper;
    float spring;          // lbf/ft of shock stroke
    float preload;         // ft of stroke
    float swingarm_travel; // radians
    linkage_curve linkage;
};

// Total swingarm torque (positive = extending) for pivot angle theta and
// rate omega. Also gives the linkage point and speed when asked.
float shock_torque(const shock_values& s, float theta, float omega, linkage_point* at = nullptr,
                   float* linkage_speed = nullptr);

// A joint-motor command: target velocity and maximum force (or torque).
struct motor_command {
    float velocity;
    float max_force;
};

// A non-negative f pushes with f (target velocity 100); a negative f, which
// only a damper can produce, brakes with |f| (target velocity 0).
motor_command push_command(float f);

// ---- the bike ---------------------------------------------------------------

fork_values bike_fork_values(const bike* b);
shock_values bike_shock_values(const bike* b);

// Computes both commands from the current joint states and sets the fork
// slider and swingarm pivot motors. Once per tick in the bike step.
void apply_suspension(bike* b);

// For the suspension graph.
struct suspension_graph_values {
    float travel;         // fraction of travel, 0 = extended
    float rate;           // slider rate (fork) or linkage speed (shock)
    float damping_share;  // low-speed share of the damping, from the catalogue bases
};
// travel = -position / fork_travel (not clamped).
suspension_graph_values fork_graph_values(const bike* b);
// travel clamped to 0..1.
suspension_graph_values shock_graph_values(const bike* b);
