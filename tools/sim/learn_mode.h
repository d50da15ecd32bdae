// kessrig-sim learn: rides a track in learn mode with test riders and then
// robots, and writes the racing lines of one skill.
#pragma once

// argv[1] is "learn". Prints a line per race ridden and last
// "lines=FILE rows=R lines=N fewest_per_row=K ...". Returns the exit
// status: 0 when the file was written with at least 3 lines in every
// section, 1 on bad input, a track that cannot be ridden or too few lines
// (with a message on standard error). Needs the physics world.
int run_learn_command(int argc, char** argv);

// The usage line of the learn mode.
extern const char* const learn_usage;
