// The auto pilot: a robot rider's commands, every world tick. It keeps a
// path of racing-line points ahead of the bike, extends it a section at a
// time by picking a line (the plan its personality prefers, how well the
// line continues the path, and not the line another robot has just taken),
// moves a target point along it and sets throttle, clutch, brakes, steering
// and dab to follow it: a start sequence at the gate, a path-following
// controller (traffic, the lean and roll rate a curve needs, the grip the
// ground gives, jumps) and a recovery controller for a robot that lost its
// path. It never sets lean, back up or shift.
//
// Units: feet, seconds, radians; path points lie a quarter second apart.
#pragma once

struct bike;
struct world;
struct robot_state;

enum { PERSONALITY_COUNT = 5 };

struct robot_personality {
    const char* name;
    int plan_leading;      // lap plan type when leading by more than lead_seconds
    int plan;              // lap plan type otherwise
    float lead_seconds;
    float reaction_min;    // seconds after the gate drop the launch starts
    float reaction_max;
};

// Index 0 is "empty" (not a robot); 1 kestrel, 2 osprey, 3 merlin, 4 tester.
const robot_personality* robot_personality_of(int index);

// Gives a bike the personality of a name (entries 1 to 4); an unknown name
// logs "auto pilot personality '%s' not found\n" and takes kestrel.
void set_personality(bike* b, const char* name);

// One tick of a robot's commands (bikes without a personality are left
// alone). Runs after the physics step, before the bike's own step.
void auto_pilot_tick(robot_state* rs, world* w, int slot, bike* b);

// Where the bike is along its path: the integer part is the first point
// ahead of it, the fraction how far it is past the point before (0 when no
// point lies behind it).
float auto_pilot_path_position(const bike* b);
