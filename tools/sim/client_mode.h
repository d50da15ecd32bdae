// kessrig-sim client: a headless player of a race server whose bike the
// auto pilot rides, in real time on the server's clock.
#pragma once

// argv[1] is "client". Prints the ranking it saw last ("pos=..." lines and
// "ranking=SLOTS results=final|unofficial") and last
// "finished=yes|no laps=L". Returns 0 when its bike finished the race (or
// rode the laps asked for), 1 otherwise (with a message on standard error).
int run_client_command(int argc, char** argv);

// The usage lines of the client mode.
extern const char* const client_usage;
