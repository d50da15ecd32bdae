// kessrig-sim race: one whole race, headless, through the game's own world
// reset and world tick, with scripted riders in chosen slots.
#pragma once

// argv[1] is "race". Prints the ranking, the lap times, where the results
// file went and last "finished=K riders=N sim_seconds=F wall_seconds=F".
// Returns the exit status: 0 when the results became final, 1 on bad
// input or a race that did not finish (with a message on standard error).
// Needs the physics world.
int run_race_command(int argc, char** argv);

// The usage lines of the race mode.
extern const char* const race_usage;
