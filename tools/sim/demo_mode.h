// kessrig-sim demo: plays a demo file headless at full speed through the
// game's world reset and world tick.
#pragma once

// argv[1] is "demo". Prints the demo's riders, the ranking at the end with
// every rider's laps, and last "ticks=T riders=N". Returns the exit
// status: 0 when the demo played to its end, 1 on bad input or a file that
// is not a demo (with a message on standard error). Needs the physics
// world and the demo hooks.
int run_demo_command(int argc, char** argv);

extern const char* const demo_usage;
