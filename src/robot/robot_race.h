// A whole race headless: robots (and test riders, recorded like humans) in
// a row of the starting gate, through the game's world reset and world
// tick, to final results or a time limit, and what each rider did. The
// headless runner's race mode, the lines learning and the tests ride it.
//
// The world must have the robots installed (robots_install) and, for test
// riders, the test riders' hooks over them (test_riders_install).
#pragma once

#include <string>
#include <vector>

struct world;
struct robot_state;
struct test_riders;

struct robot_race_options {
    int robots = 0;            // auto-pilot riders
    int scripted = 0;          // test riders along the centre line (before the robots)
    float cruise_mph = 30.0f;  // the test riders' speed on the straights
    int laps = 1;
    int minutes_ticks = 0;     // time limit (0: laps only)
    int skill = 0;             // 0 novice, 1 amateur, 2 expert: which lines file
    int seed = 0;              // the tick the reset starts from (robot order, start tick)
    int first_slot = -1;       // the first rider's slot; -1: centred on the gate
    bool record_demo = false;  // record into the world's demo file
};

struct robot_race_rider {
    int slot = 0;
    bool robot = false;       // auto pilot, else a test rider
    int laps = 0;             // completed
    double best_lap = 0;      // seconds, 0 with fewer than two laps
    double mean_lap = 0;      // seconds over the completed laps after the first
    bool finished = false;
    int crashes = 0;
    int recoveries = 0;       // lost the path for 3 s
    int pushes = 0;           // needed the assisted push
    int lifts = 0;            // pushed in vain and lifted onto its line
    int restarts = 0;         // restarted from another path point
};

struct robot_race_result {
    long ticks = 0;           // ticks run after the reset
    bool final = false;       // the results became final
    int broken_slot = -1;     // a bike whose state stopped being finite
    std::vector<robot_race_rider> riders;  // slot order
};

// The lineup, the reset and the test riders. False with the reason for a
// track that cannot be loaded or ridden, or riders that do not fit.
bool robot_race_start(world* w, test_riders* scripted, const robot_race_options& o, std::string* why);
// Ticks until the results are final or max_ticks have run, checking every
// second that every bike's state is finite. observe (when given) looks at
// the world after every tick.
void robot_race_ride(world* w, long max_ticks, robot_race_result* out,
                     void (*observe)(void* context, const world* w) = nullptr, void* context = nullptr);
// What every rider did (rs null: no robot counters).
void robot_race_report(const world* w, const robot_state* rs, robot_race_result* out);
// Start, ride (max_seconds 0: 15 s plus 10 minutes a lap plus the time
// limit) and report.
bool robot_race_run(world* w, robot_state* rs, test_riders* scripted, const robot_race_options& o,
                    double max_seconds, robot_race_result* out, std::string* why);
