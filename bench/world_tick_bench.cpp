// The world tick with 1, 10 and 40 bikes riding the track, and what it
// costs beside the physics step alone.
//
//   world_tick_bench [--track NAME] [--spot X,Z,ANGLE] [--ticks T] [--cruise MPH]
//
// Each count starts a row of bikes at the track's starting gate (or at the
// spot given) and lets a scripted rider ride each one along the track's
// centre line in the lane it starts in (at full throttle instead when the
// track has no centre line): the game's world tick with the rider step,
// ground, object and bike-to-bike contacts, roost, suspension, drivetrain,
// the physics step, gates and demos. T ticks are timed after one second of
// riding. Printed per
// count: whole ticks per second, the share of each part (dWorldStep alone
// as "step"), the physics step's own rate, and how far the riders got and
// how often they fell. A last line gives the step rate of 40 bike islands
// hanging in the air (joints only, no contacts), the floor under
// everything else; another compares two 40-bike worlds ridden one after the
// other with the same two side by side on two threads. Reads the game data from the directory of this
// program, or KZ_HOME when set. Figures, not checks.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bike/bike.h"
#include "bike/physics.h"
#include "files/datafs.h"
#include "robot/scripted_rider.h"
#include "race/world.h"
#include "sim_ride.h"

namespace {

using clock_type = std::chrono::steady_clock;

struct bench_options {
    std::string track = "rabbithill";
    bool have_spot = false;
    float spot_x = 0, spot_z = 0, spot_angle = 0;
    int ticks = 2560;
    float cruise_mph = 30;
};

struct ride_figures {
    world_profile profile;
    bool followed = false;   // scripted riders on the centre line
    float mean_progress = 0; // ft along the line at the end
    int crashes = 0;
};

// A row of count bikes ridden along the centre line (full throttle where
// there is none); script is filled with that throttle.
sim_ride_options ride_options(const bench_options& o, int count, sim_script* script)
{
    std::string why;
    sim_script_add_line(script, "0 throttle=1", &why);
    sim_ride_options ro;
    ro.track = o.track;
    ro.bikes = count;
    ro.have_spot = o.have_spot;
    ro.spot_x = o.spot_x;
    ro.spot_z = o.spot_z;
    ro.spot_angle = o.spot_angle;
    ro.cruise_mph = o.cruise_mph;
    ro.follow = 1;
    ro.script = script;
    return ro;
}

bool ride(const bench_options& o, int count, ride_figures* out)
{
    sim_script script;
    std::string why;
    const sim_ride_options ro = ride_options(o, count, &script);
    sim_ride r;
    if (!sim_ride_start(&r, ro, &why)) {
        fprintf(stderr, "world_tick_bench: %s\n", why.c_str());
        return false;
    }
    out->followed = r.following;
    for (int t = 0; t < 128; t++)
        world_tick(r.w);
    r.w->profile = &out->profile;
    for (int t = 0; t < o.ticks; t++)
        world_tick(r.w);
    int broken = -1;
    const bool finite = sim_ride_finite(r, &broken);
    for (int i = 0; i < r.count; i++) {
        out->crashes += r.bike_at(i)->crash_count;
        if (out->followed)
            out->mean_progress += scripted_rider_progress(&r.followers[(size_t)i]) / (float)count;
    }
    if (!finite)
        fprintf(stderr, "world_tick_bench: a bike's state went non-finite with %d bikes\n", count);
    return finite;
}

// Two rides of `count` bikes, one after the other and then side by side on
// two threads: the seconds each way and whether both ways end in the same
// states.
bool two_worlds(const bench_options& o, int count, double* one_after_other, double* side_by_side)
{
    sim_script script;
    std::string why;
    const sim_ride_options ro = ride_options(o, count, &script);
    auto ride_for = [&](sim_ride* r, uint64_t* hash) {
        physics_thread_init();
        for (int t = 0; t < o.ticks; t++)
            world_tick(r->w);
        *hash = world_state_hash(r->w);
    };
    uint64_t alone[2], together[2];
    {
        sim_ride a, b;
        if (!sim_ride_start(&a, ro, &why) || !sim_ride_start(&b, ro, &why))
            return false;
        const auto start = clock_type::now();
        ride_for(&a, &alone[0]);
        ride_for(&b, &alone[1]);
        *one_after_other = std::chrono::duration<double>(clock_type::now() - start).count();
    }
    {
        sim_ride a, b;
        if (!sim_ride_start(&a, ro, &why) || !sim_ride_start(&b, ro, &why))
            return false;
        const auto start = clock_type::now();
        std::thread ta(ride_for, &a, &together[0]), tb(ride_for, &b, &together[1]);
        ta.join();
        tb.join();
        *side_by_side = std::chrono::duration<double>(clock_type::now() - start).count();
    }
    return alone[0] == together[0] && alone[1] == together[1] && alone[0] == alone[1];
}

// 40 bikes in the air, far apart: one island each, joints and no contacts.
double islands_only(int count, int ticks)
{
    physics_space space;
    std::vector<bike*> bikes;
    for (int i = 0; i < count; i++) {
        bike* b = create_bike(&space, "450sxf(2018)", i, "1", nullptr, nullptr, nullptr, nullptr);
        translate_bike(b, 20.0f * (float)i, 5000.0f, 0.0f);
        bikes.push_back(b);
    }
    const auto start = clock_type::now();
    for (int t = 0; t < ticks; t++)
        physics_step(&space);
    const double seconds = std::chrono::duration<double>(clock_type::now() - start).count();
    for (bike* b : bikes)
        destroy_bike(b);
    physics_destroy(&space);
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
        } else if (!strcmp(argv[i], "--cruise") && more) {
            o.cruise_mph = (float)atof(argv[++i]);
        } else if (!strcmp(argv[i], "--spot") && more &&
                   sscanf(argv[i + 1], "%f,%f,%f", &o.spot_x, &o.spot_z, &o.spot_angle) == 3) {
            o.have_spot = true;
            i++;
        } else {
            fprintf(stderr, "usage: world_tick_bench [--track NAME] [--spot X,Z,ANGLE] [--ticks T] [--cruise MPH]\n");
            return 1;
        }
    }
    if (o.ticks < 1 || o.ticks > 10000000) {
        fprintf(stderr, "world_tick_bench: --ticks must be 1 to 10000000\n");
        return 1;
    }
    if (!(o.cruise_mph >= 1 && o.cruise_mph <= 120)) {
        fprintf(stderr, "world_tick_bench: --cruise must be 1 to 120 mph\n");
        return 1;
    }
    // The index reaches the archives, where the bikes' collision shapes are.
    build_file_index();
    int status = 0;
    for (int count : {1, 10, 40}) {
        ride_figures f;
        if (!ride(o, count, &f)) {
            status = 1;
            break;
        }
        const world_profile& p = f.profile;
        const double total = p.contacts + p.roost + p.step + p.bikes + p.gates + p.erosion + p.other;
        printf("bikes=%d ticks_per_second=%.1f step_only_ticks_per_second=%.1f contacts=%.1f%% roost=%.1f%% "
               "step=%.1f%% bikes_own=%.1f%% gates=%.1f%% other=%.1f%% us_per_bike_tick=%.2f rider=%s "
               "mean_progress_ft=%.0f crashes=%d\n",
               count, p.ticks / total, p.ticks / p.step, 100 * p.contacts / total, 100 * p.roost / total,
               100 * p.step / total, 100 * p.bikes / total, 100 * p.gates / total,
               100 * (p.other + p.erosion) / total, 1e6 * total / ((double)p.ticks * count),
               f.followed ? "scripted" : "throttle", f.mean_progress, f.crashes);
    }
    double serial = 0, parallel = 0;
    if (status == 0) {
        const bool same = two_worlds(o, 40, &serial, &parallel);
        printf("two_worlds bikes=40 ticks=%d one_after_other_s=%.2f side_by_side_s=%.2f ratio=%.2f same_states=%s\n",
               o.ticks, serial, parallel, serial > 0 ? parallel / serial : 0.0, same ? "yes" : "no");
        if (!same)
            status = 1;
    }
    if (status == 0)
        printf("islands_only bikes=40 steps_per_second=%.1f\n", islands_only(40, 256));
    physics_library_shutdown();
    return status;
}
