// kessrig-sim series: a points series raced headless, event after event,
// through the series' own start and scoring and the game's world reset and
// world tick, over and over until a simulated time or event count is
// reached. A soak of the whole game loop: it watches that every bike stays
// finite and how the process's memory grows.
#pragma once

// argv[1] is "series". Prints a line per event, then the final standings,
// their hash and the memory figures. Returns the exit status: 0 when every
// event ran with finite states, 1 on bad input, a series that cannot be
// loaded or a bike whose state stopped being finite (with a message on
// standard error). Needs the physics world.
int run_series_command(int argc, char** argv);

// The usage lines of the series mode.
extern const char* const series_usage;
