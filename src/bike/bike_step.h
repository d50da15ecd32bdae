// One bike's own simulation step and the contacts between two bikes.
//
// The world tick (race/world.h, its bike phases in world_step.h) first lets every bike find its contacts,
// then steps the physics world once, then runs each bike's step, which
// turns the rider's commands and the bike's state into the joint-motor
// commands, forces and one-step joints of the next world step.
#pragma once

#include "bike/rider.h"

struct bike;

// The bike's step for the tick w->tick, in this order: the rider's start of
// step checks and ejection, the crash sequence, the automatic dab and
// walking backwards (its changes to sit/dab and the brakes last for this
// step only), the rider's springs, the suspension, the steering law (or
// arcade mode's servos), the drivetrain, the steering damping, the joint
// force correction, the dab and realignment, the feet, and the rider's
// velocity history. A ghost (presence <= 0.25) only moves its feet.
void bike_step(bike* b, const bike_world* w);

// Contacts between bikes a and b this tick: every part of a that has a
// shape (front wheel, rear wheel, frame, fork upper, fork lower, swingarm,
// rider; the wheels as their wheel shapes) against b. Contact joints when
// neither bike had a bike contact yet this tick, otherwise penalty forces
// (so chains of bikes do not build large coupled systems). online: a is the
// own bike and b a remote one; b's front wheel and fork only detect a's
// rear wheel, frame, swingarm and rider (what b's rider did to a is his
// side's business), while a's front parts push b normally. On a touch the
// bump rules run, both bikes' contact ticks are set and the robots' four
// followed-line entries are cleared. Returns whether anything touched.
bool bike_bike_contact(bike* a, bike* b, bool online, int tick);
