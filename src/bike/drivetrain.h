// Engine, clutch, gearbox and brakes.
//
// The engine is one rotating mass outside the physics world: the bike step
// integrates its speed from two torque tables (closed and full throttle,
// blended by the throttle) and couples it to the rear wheel through a clutch
// modelled as a stiff, damped torsion spring whose strength scales with the
// square of the engagement. The transmitted torque turns the rear wheel and,
// as reaction, the frame. There is no neutral and no stalling: with the
// clutch open the engine free-revs against the closed-throttle table, and
// the automatic clutch keeps it from being pulled below its rpm.
//
// Brakes are the axle hinges' motors (target velocity 0, maximum torque the
// braking torque), released while antilock sees a sliding wheel.
//
// Units: radians, rad/s (engine speed at the crank), lbf·ft, slug·ft².
#pragma once

#include "bike/catalogue.h"  // TORQUE_POINTS, GEAR_COUNT

struct bike;

// Automatic shifting looks at the rear wheel every this many ticks.
enum { AUTO_SHIFT_INTERVAL = 32 };

// rad/s at the crank to rpm (60 / 2 pi).
const double ENGINE_RPM_PER_RAD_S = 9.549296585513721;

// ---- the laws, as pure functions ------------------------------------------

// Crank torque for engine speed (rad/s) and throttle (0..1) from the two
// tables, linear between the 500 rpm points; below 0 rpm the first point,
// above 24500 the last.
float torque_from_tables(const float closed[TORQUE_POINTS], const float open[TORQUE_POINTS], float engine_speed,
                         float throttle);

// Engagement the clutch gives: the command, but held open below
// auto_clutch_rpm and closing linearly over the 2000 rpm above it.
float auto_clutch_engagement(float rpm, float auto_clutch_rpm, float command);

// Angle wrapped into -pi..pi by one turn at most (inputs stay within a turn
// or two of the range; anything further is wrapped by fmod).
float wrap_angle(float a);

// Gear after asking for gear + d (d -1, 0 or +1): clamped to 0..5, then
// lowered while above first and the ratio is not positive (an absent gear).
int select_gear(const float ratios[GEAR_COUNT], int gear, int d);

// The automatic shift decision from the engine speed the rear wheel implies:
// -1 below downshift_rpm, +1 above upshift_rpm, else 0.
int auto_shift_direction(float wheel_rpm, float downshift_rpm, float upshift_rpm);

// Brake torque after the antilock release: 0 when antilock is on, the wheel
// touches and its contact point slides faster than 2 ft/s.
float antilock_torque(float torque, bool antilock, bool touching, float point_speed_squared);

// ---- the bike ---------------------------------------------------------------

// Overall ratio crank to rear wheel in the current gear.
float overall_ratio(const bike* b);

// Crank torque for the bike's speed and throttle, with the wheelie limiter.
float engine_torque(const bike* b);

// Automatic shifting, clutch coupling, engine integration and brakes, in
// that order; once per tick in the bike step. tick is the world tick (the
// automatic shifting acts only on multiples of AUTO_SHIFT_INTERVAL).
void drivetrain_step(bike* b, int tick);

// The rider's shift command (-1, 0, +1). A held command shifts once;
// returning to 0 re-arms it. Ignored during a crash and outside -1..1.
void shift(bike* b, int d);

float engine_rpm(const bike* b);
