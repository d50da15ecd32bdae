// Whole track loads, headless.
//
//   track_load_bench [ROUNDS]
//
// Builds the track list from the game data (the directory of this program,
// or KZ_HOME when set) and loads every listed track ROUNDS times (default
// 5) as the game does at a world reset, without a window: ground, surfaces,
// timing gates, objects, particles, cameras and the digest. Prints the best
// and the mean time per track, then a summary line.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "files/datafs.h"
#include "track/track.h"

namespace {

using clock_type = std::chrono::steady_clock;

double seconds_since(clock_type::time_point start)
{
    return std::chrono::duration<double>(clock_type::now() - start).count();
}

}  // namespace

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 5;
    const int count = track_list_build(0);
    if (count == 0) {
        fprintf(stderr, "track_load_bench: no tracks in the game data\n");
        return 1;
    }
    double total = 0.0;
    int failed = 0;
    track loaded;
    for (int i = 0; i < count; i++) {
        const std::string dir = g_track_list.dirs[i];
        double best = 1e30, sum = 0.0;
        bool ok = true;
        for (int r = 0; r < rounds && ok; r++) {
            const auto start = clock_type::now();
            ok = track_load(&loaded, dir.c_str(), track_load_flags());
            const double elapsed = seconds_since(start);
            best = std::min(best, elapsed);
            sum += elapsed;
            track_unload(&loaded);
        }
        if (!ok) {
            fprintf(stderr, "track_load_bench: can't load '%s'\n", dir.c_str());
            failed++;
            continue;
        }
        total += best;
        printf("track=%s load_best_ms=%.1f load_mean_ms=%.1f rounds=%d\n", dir.c_str(), best * 1e3,
               sum / rounds * 1e3, rounds);
    }
    track_list_free();
    free_file_index();
    printf("tracks=%d failed=%d total_best_ms=%.1f\n", count, failed, total * 1e3);
    return failed ? 1 : 0;
}
