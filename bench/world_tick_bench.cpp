// The world tick with 1, 10 and 40 bikes riding, and what it costs beside
// the physics step alone.
//
//   world_tick_bench [--track NAME] [--spot X,Z,ANGLE] [--ticks T]
//
// Each count rides a row of bikes at full throttle (the runner's world tick:
// controls, ground contacts, roost, suspension, drivetrain, step, particles)
// from the track's starting gate, or from the spot given, for T ticks after
// one second of warming up. Printed per count: whole ticks per second, the
// share of each part, and the physics step's own rate. A last line gives the
// step rate of 40 bike islands hanging in the air (joints only, no ground
// contacts), the floor under everything else. Reads the game data from the
// directory of this program, or KZ_HOME when set. Figures, not checks.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bike/bike.h"
#include "bike/physics.h"
#include "sim_world.h"

namespace {

using clock_type = std::chrono::steady_clock;

struct bench_options {
    std::string track = "rabbithill";
    bool have_spot = false;
    sim_spot spot = {0, 0, 0};
    int ticks = 1152;
};

bool ride(const bench_options& o, int count, sim_tick_profile* profile)
{
    sim_world w;
    std::string why;
    if (!sim_world_load_track(&w, o.track.c_str(), &why)) {
        fprintf(stderr, "world_tick_bench: %s\n", why.c_str());
        return false;
    }
    sim_script script;
    sim_script_add_line(&script, "0 throttle=1", &why);
    const std::vector<sim_spot> gate = o.have_spot ? std::vector<sim_spot>() : sim_track_gate_spots(o.track.c_str());
    const sim_spot centre = o.have_spot ? o.spot : sim_spot{0.5f * w.ground.extent, 0.5f * w.ground.extent, 0.0f};
    for (const sim_spot& s : sim_row_spots(gate, count, centre, 3.5f))
        sim_world_add_bike(&w, "450sxf(2018)", s.x, s.z, s.angle);
    for (sim_rider& r : w.riders)
        r.script = &script;
    for (int t = 0; t < 128; t++)
        sim_world_tick(&w);
    w.profile = profile;
    for (int t = 0; t < o.ticks; t++)
        sim_world_tick(&w);
    bool finite = true;
    for (const sim_rider& r : w.riders)
        finite = finite && sim_bike_finite(r.b);
    sim_world_free(&w);
    if (!finite)
        fprintf(stderr, "world_tick_bench: a bike's state went non-finite with %d bikes\n", count);
    return finite;
}

// 40 bikes in the air, far apart: one island each, joints and no contacts.
double islands_only(int count, int ticks)
{
    std::vector<bike*> bikes;
    for (int i = 0; i < count; i++) {
        bike* b = create_bike("450sxf(2018)", i, "1", nullptr, nullptr, nullptr, nullptr);
        translate_bike(b, 20.0f * (float)i, 5000.0f, 0.0f);
        bikes.push_back(b);
    }
    const auto start = clock_type::now();
    for (int t = 0; t < ticks; t++)
        physics_step();
    const double seconds = std::chrono::duration<double>(clock_type::now() - start).count();
    for (bike* b : bikes)
        destroy_bike(b);
    return seconds > 0 ? ticks / seconds : 0.0;
}

}  // namespace

int main(int argc, char** argv)
{
    bench_options o;
    for (int i = 1; i < argc; i++) {
        const bool more = i + 1 < argc;
        if (!strcmp(argv[i], "--track") && more) {
            o.track = argv[++i];
        } else if (!strcmp(argv[i], "--ticks") && more) {
            o.ticks = atoi(argv[++i]);
        } else if (!strcmp(argv[i], "--spot") && more &&
                   sscanf(argv[i + 1], "%f,%f,%f", &o.spot.x, &o.spot.z, &o.spot.angle) == 3) {
            o.have_spot = true;
            i++;
        } else {
            fprintf(stderr, "usage: world_tick_bench [--track NAME] [--spot X,Z,ANGLE] [--ticks T]\n");
            return 1;
        }
    }
    if (o.ticks < 1 || o.ticks > 10000000) {
        fprintf(stderr, "world_tick_bench: --ticks must be 1 to 10000000\n");
        return 1;
    }
    physics_init();
    int status = 0;
    for (int count : {1, 10, 40}) {
        sim_tick_profile p;
        if (!ride(o, count, &p)) {
            status = 1;
            break;
        }
        const double total = p.contacts + p.forces + p.step;
        printf("bikes=%d ticks_per_second=%.1f step_only_ticks_per_second=%.1f contacts=%.1f%% forces=%.1f%% "
               "step=%.1f%% us_per_bike_tick=%.2f\n",
               count, p.ticks / total, p.ticks / p.step, 100 * p.contacts / total, 100 * p.forces / total,
               100 * p.step / total, 1e6 * total / ((double)p.ticks * count));
    }
    if (status == 0)
        printf("islands_only bikes=40 steps_per_second=%.1f\n", islands_only(40, 256));
    physics_shutdown();
    return status;
}
