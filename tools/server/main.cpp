// kessrig-server: the race server. Reads the game data for its tracks,
// listens on one UDP port and runs races until stopped (SIGINT or SIGTERM)
// or, with --races, until that many races have ended. One thread; the
// socket is polled with a short timeout so the 128 ticks a second of the
// race clock are kept without spinning.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <poll.h>

#include "bike/physics.h"
#include "files/datafs.h"
#include "server.h"
#include "track/track.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;

void on_signal(int)
{
    g_stop = 1;
}

double seconds_now()
{
    static const auto origin = std::chrono::steady_clock::now();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - origin).count();
}

}  // namespace

int main(int argc, char** argv)
{
    server_options options;
    const int parsed = server_parse_options(argc, argv, &options);
    if (parsed != 0)
        return parsed == 2 ? 0 : 1;
    if (!options.data_dir.empty())
        setenv("KZ_HOME", options.data_dir.c_str(), 1);
    build_file_index();
    std::string why;
    server* s = server_create(options, &why);
    if (!s) {
        fprintf(stderr, "kessrig-server: %s\n", why.c_str());
        free_file_index();
        return 1;
    }
    std::signal(SIGINT, on_signal);
    std::signal(SIGTERM, on_signal);
    std::signal(SIGPIPE, SIG_IGN);
    printf("listening port=%d tracks=%d laps=%d minutes=%d\n", server_port(s), g_track_list.count, options.laps,
           options.minutes);
    fflush(stdout);
    pollfd fd;
    fd.fd = server_socket(s);
    fd.events = POLLIN;
    while (!g_stop && !server_done(s)) {
        fd.revents = 0;
        // Half a tick: the race clock and the state rate stay on time.
        poll(&fd, 1, 4);
        server_step(s, seconds_now());
    }
    server_shutdown(s);
    server_destroy(s);
    track_list_free();
    free_file_index();
    physics_library_shutdown();
    return 0;
}
