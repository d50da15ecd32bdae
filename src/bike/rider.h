// The rider: a sprung torso on the frame and the aids that balance the bike.
//
// A real rider balances a motorcycle by steering and by moving his body.
// Here the torso (the rider body) rides on soft springs, and most of the
// balancing is done by a steering law that turns the frame's lean, lean
// rate and front-wheel slip into a torque about the steering axis (roll
// damping, leveling, roll limit, slow and landing damping, lock limits,
// direct and indirect steering), or in arcade mode by servos. A foot put
// down (dab) pushes a slow bike upright; a stopped bike holds itself on
// both brakes; a fallen one is turned back toward the track. The rider is
// thrown off by hard landings and hits, and the crash sequence tethers him
// to the bike until he is back on it. Bikes that touch each other set the
// bump timers that change these rules for a while.
//
// Every function runs inside the bike step (bike_step.h) once per tick, in
// the order that step gives. Forces, torques, motor commands and contact
// joints made here act in the next world step. Units: feet, slugs,
// pounds-force, seconds, radians; durations in ticks of 1/128 s.
#pragma once

#include <ode/ode.h>

#include "core/vec3.h"

struct bike;
struct heightfield;

// What the rider step needs of the world around the bike.
struct bike_world {
    const heightfield* ground = nullptr;  // the terrain; null: no ground (heights read as far below)
    int tick = 0;                         // the world tick being run
    int start_tick = 0;                   // the tick the start gate drops
    // The race's rule for a rider lying beside his bike at a standstill
    // near the end of a race (the leader is through the final gate and this
    // rider has completed his last lap since): returns true when it marked
    // the bike finished; the bike is then not turned back toward the
    // track. Null outside a race.
    bool (*finish_fallen_rider)(void* race, bike* b) = nullptr;
    // Where a fallen bike should turn to: a point ahead on the racing line
    // nearest it. False (or null) when there is none; the foot then pushes
    // the bike upright where it lies.
    bool (*realign_target)(void* race, const bike* b, vec3* target) = nullptr;
    void* race = nullptr;
};

// ---- what the aids measure ------------------------------------------------

// The frame's lean angle: 0 upright, positive leaning left.
float bike_roll(const bike* b);
// The frame's angular velocity about its own fore-aft (z) axis: positive
// while the lean to the left grows.
float bike_roll_rate(const bike* b);
// Slip angle of the front wheel: the direction of its motion against the
// direction the wheel points, seen in the fork's frame (0 below 1 ft/s).
float front_slip_angle(const bike* b);

// ---- the laws, as pure functions ------------------------------------------

// Ejection tolerance after a landing: 1.5 normally, down to 1.0 for the
// first eighth of a second after air time of 0.685 s or more, rising back
// to 1.5 a quarter of a second after touching down.
float ejection_tolerance(int air_ticks, int ticks_since_landing);

// Steering torque limits from the front slip angle psi and the lock
// angle: +-max_force, but beyond the lock the steering may only be pushed
// back (the limit on the side of the slip rises to +0.25 max_force once psi
// passes 1.125 lock + 0.015).
void steering_slip_limits(float psi, float lock, float max_force, float* lower, float* upper);

// The roll-rate controller of indirect steering: the target lean for the
// command is -steer x roll_limit_angle; returns -1..1 (times the steering
// strength it is the torque).
float indirect_steering(float steer, float roll, float roll_rate, float roll_limit_angle);

// Largest stabilising torque while bumped (bump_timer > 0): none until the
// timer falls to 128, then growing to 200 at 0.
float bump_stability_limit(float bump_timer);

// Horizontal hold: pushes a body horizontally toward velocity target with
// at most max_force, fading in from 0.25 ft/s of difference.
void horizontal_hold(dBodyID body, vec3 target, float max_force);

// ---- the rider step, in the order the bike step calls them ---------------

// Marks the bike slow_or_down, moves the bump timer toward 0, and tracks
// when the bike left the ground and landed again.
void start_of_step_checks(bike* b, const bike_world* w);
// Throws the rider off when his torso moves too differently from the frame
// or is shaken too hard (not in arcade mode, nor during a crash or after
// bumping another bike).
void eject_check(bike* b, const bike_world* w);
// While the rider is down: tethers him to the bike, counts down once he
// lies (nearly) still, draws him back over the last three seconds, brings
// the foot to the peg and seats him again at the end.
void crash_sequence(bike* b, const bike_world* w);
// Walking the bike backwards, putting a foot down and braking when
// stopped. May change sit_dab, front_brake and rear_brake for this step
// only (the bike step restores them).
void auto_dab_and_back_up(bike* b, const bike_world* w);
// The springs that hold the torso on its seat, lowered by sit/dab and moved
// fore and aft by lean, and the damper of the rider mount.
void rider_springs(bike* b);
// The steering law with every stability aid (not in arcade mode, nothing
// during a crash).
void steer_and_stabilise(bike* b, const bike_world* w);
// Arcade mode's servos: lean, steering and yaw (no crash running).
void arcade_steer(bike* b, const bike_world* w);
// Damps every rotation of the front wheel except its spin.
void steering_damping(bike* b);
// The foot put down: how far it is out, the push that rights a slow bike,
// and turning a fallen bike back toward the track.
void dab_and_realign(bike* b, const bike_world* w);
// The feet drawn with the rider: on the pegs or reaching for the ground,
// flying free during a crash.
void feet_update(bike* b, const bike_world* w);

// The bump rules after a contact between bikes a and b: a_front is whether
// a's front wheel or fork lower touched b; b_parts the part bits of b
// that touched a (contact.h).
void apply_bump_rules(bike* a, bike* b, bool a_front, int b_parts);
