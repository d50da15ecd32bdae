// The robot riders of one world: the record the robots' layer keeps for it
// (the line table with its serials and last picks, what the recording and
// the auto pilot remember per slot) and its installation into the world's
// robot hooks. The world owns the record through its hooks: it is made by
// robots_install and freed when the world is destroyed.
//
// Learn mode saves the lines gathered in a ride to the track's lines file
// at the next world reset and when the world goes away.
#pragma once

#include "race/race.h"
#include "race/world.h"
#include "robot/lines.h"
#include "robot/scripted_rider.h"

struct robot_options {
    bool learn = false;  // "--learn": save the lines at each reset and at the end
    int debug = 0;       // the racing lines' and the auto pilot's log lines
};

// What the auto pilot remembers about one slot beyond the bike's own
// fields: counters for reports, and the rider that takes a robot along the
// track's centre line when it has no racing line to ride.
struct robot_slot {
    line_rider lines;            // recording and rating at the gates
    const bike* owner = nullptr; // the bike these belong to
    bool finish_seen = false;    // the coast-down has been set up
    int recoveries = 0;          // times the robot lost its path for 3 s
    int pushes = 0;              // times it needed the assisted push (19 s, or stuck)
    int lifts = 0;               // times a push got nowhere and it was lifted onto its line
    int restarts = 0;            // times it restarted from another path point (40 s)
    // Riding the centre line (no racing line for its section): it stays on
    // it until the next reset.
    bool on_centre_line = false;
    scripted_rider centre_rider;
    bool centre_started = false;  // centre_best holds its progress
    float centre_best = 0.0f;     // furthest along the centre line since the last advance (ft)
};

struct robot_state {
    world* w = nullptr;
    robot_options options;
    line_table lines;
    robot_slot slots[RACE_SLOTS];
    // The loaded track's centre line, read when a robot first needs it
    // after a reset: 0 not yet tried, 1 loaded, -1 the track has none.
    rider_path centre_line;
    int centre_line_state = 0;
};

// Makes the robots' record of w and installs the robot hooks (the auto
// pilot for robot slots, personalities, the racing lines at resets and
// gates, the realignment target). Install before anything that wraps the
// hooks (test_riders_install). The record lives until world_destroy.
robot_state* robots_install(world* w, const robot_options& options = robot_options());

// The slot record of a bike (reset when the slot holds another bike).
robot_slot* robots_slot(robot_state* rs, int slot, const bike* b);

// Where a fallen bike should turn to: four points ahead of the point
// nearest to it among the racing lines of the section it rides in
// (horizontal distance); for a robot riding the centre line, a point 30 ft
// along it in its lane. False when there is neither.
bool robots_realign_target(const robot_state* rs, const world* w, const bike* b, vec3* target);
