// kessrig-sim: the headless runner. Loads the game data (KZ_HOME, or the
// directory of this program) and a track, puts bikes on it and runs the
// game's world tick at full speed with scripted controls.
//
//   kessrig-sim ride  [options]   ride and print the bikes' state as it goes
//   kessrig-sim bench --bikes N [--ticks T] [--track NAME]
//                                 time the world tick; the last line is
//                                 "ticks_per_second=F bikes=N ticks=T"
//   kessrig-sim race  [options]   one race to its final results through the
//                                 game's world reset and world tick
//   kessrig-sim learn --track NAME --skill S
//                                 teaches the track's racing lines for a
//                                 skill and writes its lines file
//   kessrig-sim demo  FILE        plays a demo to its end; the last line is
//                                 "ticks=T riders=N"
//   kessrig-sim series [options] a points series raced by robots, event after
//                                 event, for a simulated time; the last line
//                                 is "series_done ..."
//   kessrig-sim client --connect HOST[:PORT]
//                                 joins a race server; the auto pilot rides;
//                                 the last line is "finished=yes|no laps=L"
//
// With --follow-track (the default of bench mode on a generated track) a
// scripted rider rides each bike along the track's centre line.
//
// Exit status 0 on success, 1 on bad input or a failed check (a message on
// standard error).
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bike/bike.h"
#include "bike/catalogue.h"
#include "bike/physics.h"
#include "client_mode.h"
#include "demo_mode.h"
#include "files/datafs.h"
#include "race/demo.h"
#include "learn_mode.h"
#include "race_mode.h"
#include "robot/scripted_rider.h"
#include "race/world.h"
#include "series_mode.h"
#include "sim_ride.h"
#include "track/roost.h"

namespace {

const char* const kUsage =
    "usage: kessrig-sim ride  [--track NAME] [--bikes N] [--model NAME] [--spot X,Z,ANGLE]\n"
    "                         [--ticks T] [--script FILE] [--do \"SECONDS KEY=VALUE...\"]...\n"
    "                         [--print-every TICKS] [--spacing FT] [--speed MPH] [--roost-density N]\n"
    "                         [--stability N] [--arcade yes|no] [--drop FT]\n"
    "                         [--follow-track] [--cruise MPH] [--laps L]\n"
    "       kessrig-sim bench --bikes N [--ticks T] [--track NAME] [--model NAME] [--spot X,Z,ANGLE]\n"
    "                         [--script FILE] [--do ...] [--no-follow] [--cruise MPH]\n"
    "                         [--stability N] [--arcade yes|no] [--hash] [--threads N]\n"
    "\n"
    "  --track NAME      track directory in the game data (default rabbithill), or a path\n"
    "  --bikes N         bikes side by side (1..160; default 1)\n"
    "  --model NAME      bike model (default 450sxf(2018))\n"
    "  --spot X,Z,ANGLE  where the row stands (ft) and its facing angle (radians; facing\n"
    "                    (-sin a, -cos a)); default: the middle pieces of the track's\n"
    "                    starting gate, as a race lines up (the gate is down)\n"
    "  --ticks T         world ticks to run (128 per simulated second; default 1280)\n"
    "  --script FILE     controls over time, one change per line: SECONDS KEY=VALUE...\n"
    "                    keys throttle clutch front rear steer lean sit backup shift\n"
    "  --do LINE         one script line (may repeat; added to the script)\n"
    "                    default script: \"0 throttle=1\" (clutch engaged)\n"
    "  --print-every T   ride: print the state every T ticks (default 128; 0 = only the end)\n"
    "  --spacing FT      distance between neighbouring bikes in a row at --spot (default 3.5)\n"
    "  --speed MPH       start rolling at this speed in a gear that suits it (default 0)\n"
    "  --roost-density N particles thrown per wheel per tick x 100 (0..1000; default 1000)\n"
    "  --stability N     the setup's \"Stability\" preset (0..100) instead of the default setup\n"
    "  --arcade yes|no   arcade physics (default: the setup's, yes)\n"
    "  --drop FT         start this many feet above the ground\n"
    "  --follow-track    a scripted rider rides each bike along the track's centre line\n"
    "                    (from the starting gate; tracks with a centre line); its throttle,\n"
    "                    brakes, steering and lean replace the script's. Default in bench\n"
    "                    mode when the track has a centre line; --no-follow turns it off\n"
    "  --cruise MPH      the scripted rider's speed on the straights (default 30)\n"
    "  --laps L          ride: stop when every scripted rider has completed L laps\n"
    "                    (--ticks stays the limit)\n"
    "  --threads N       threads the world tick uses (1..16; default 1); the results are\n"
    "                    bit for bit the same for every count\n"
    "  --hash            bench: print state_hash=H (16 hex digits), a hash of every\n"
    "                    bike's bodies at the end, before the last line; the same\n"
    "                    inputs must give the same hash on every run and build\n";

struct options {
    std::string mode;
    sim_ride_options ride;
    long ticks = 1280;
    long print_every = 128;
    int follow = -1;   // -1: the mode's default, 0 off, 1 on
    long laps = 0;
    bool hash = false;
    sim_script script;
    bool have_script = false;
};

bool parse_float(const char* text, float* out)
{
    char* end = nullptr;
    const double v = strtod(text, &end);
    if (end == text || *end || !std::isfinite(v) || std::fabs(v) > 1e7)
        return false;
    *out = (float)v;
    return true;
}

bool parse_spot(const char* text, options* o)
{
    std::string s(text);
    const size_t a = s.find(','), b = a == std::string::npos ? a : s.find(',', a + 1);
    if (b == std::string::npos)
        return false;
    return parse_float(s.substr(0, a).c_str(), &o->ride.spot_x) &&
           parse_float(s.substr(a + 1, b - a - 1).c_str(), &o->ride.spot_z) &&
           parse_float(s.substr(b + 1).c_str(), &o->ride.spot_angle);
}

// Returns 0 to go on, 1 on bad input (after the message), 2 for --help.
int parse_options(int argc, char** argv, options* o)
{
    if (argc < 2)
        return sim_fail(std::string("no mode given\n") + kUsage);
    o->mode = argv[1];
    if (o->mode == "--help" || o->mode == "-h") {
        fputs(kUsage, stdout);
        fputs(race_usage, stdout);
        fputs(learn_usage, stdout);
        fputs(demo_usage, stdout);
        fputs(series_usage, stdout);
        fputs(client_usage, stdout);
        return 2;
    }
    if (o->mode != "ride" && o->mode != "bench")
        return sim_fail("unknown mode '" + o->mode + "' (ride, bench, race, learn, demo, series or client)\n" + kUsage + race_usage + learn_usage + demo_usage + series_usage);
    for (int i = 2; i < argc; i++) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            fputs(kUsage, stdout);
            return 2;
        }
        if (arg == "--follow-track" || arg == "--no-follow") {
            o->follow = arg == "--follow-track" ? 1 : 0;
            continue;
        }
        if (arg == "--hash") {
            o->hash = true;
            continue;
        }
        if (i + 1 >= argc)
            return sim_fail("option " + arg + " needs a value");
        const char* value = argv[++i];
        long n = 0;
        std::string why;
        if (arg == "--track") {
            if (!*value)
                return sim_fail("--track needs a name");
            o->ride.track = value;
        } else if (arg == "--model") {
            o->ride.model = value;
        } else if (arg == "--bikes") {
            if (!sim_parse_long(value, 1, 160, &n))
                return sim_fail(std::string("--bikes: expected 1 to 160, got '") + value + "'");
            o->ride.bikes = (int)n;
        } else if (arg == "--ticks") {
            if (!sim_parse_long(value, 1, 100000000, &n))
                return sim_fail(std::string("--ticks: expected 1 to 100000000, got '") + value + "'");
            o->ticks = n;
        } else if (arg == "--threads") {
            if (!sim_parse_long(value, 1, 16, &n))
                return sim_fail(std::string("--threads: expected 1 to 16, got '") + value + "'");
            o->ride.threads = (int)n;
        } else if (arg == "--print-every") {
            if (!sim_parse_long(value, 0, 100000000, &n))
                return sim_fail(std::string("--print-every: expected a tick count, got '") + value + "'");
            o->print_every = n;
        } else if (arg == "--spacing") {
            if (!parse_float(value, &o->ride.spacing) || o->ride.spacing < 0 || o->ride.spacing > 100)
                return sim_fail(std::string("--spacing: expected 0 to 100 ft, got '") + value + "'");
        } else if (arg == "--speed") {
            if (!parse_float(value, &o->ride.speed_mph) || o->ride.speed_mph < 0 || o->ride.speed_mph > 200)
                return sim_fail(std::string("--speed: expected 0 to 200 mph, got '") + value + "'");
        } else if (arg == "--cruise") {
            if (!parse_float(value, &o->ride.cruise_mph) || o->ride.cruise_mph < 1 || o->ride.cruise_mph > 120)
                return sim_fail(std::string("--cruise: expected 1 to 120 mph, got '") + value + "'");
        } else if (arg == "--laps") {
            if (!sim_parse_long(value, 1, 1000, &n))
                return sim_fail(std::string("--laps: expected 1 to 1000, got '") + value + "'");
            o->laps = n;
        } else if (arg == "--roost-density") {
            if (!sim_parse_long(value, 0, 1000, &n))
                return sim_fail(std::string("--roost-density: expected 0 to 1000, got '") + value + "'");
            o->ride.roost_density = (int)n;
        } else if (arg == "--stability") {
            if (!parse_float(value, &o->ride.stability) || o->ride.stability < 0 || o->ride.stability > 100)
                return sim_fail(std::string("--stability: expected 0 to 100, got '") + value + "'");
            o->ride.have_stability = true;
        } else if (arg == "--arcade") {
            if (strcmp(value, "yes") == 0)
                o->ride.arcade = 1;
            else if (strcmp(value, "no") == 0)
                o->ride.arcade = 0;
            else
                return sim_fail(std::string("--arcade: expected yes or no, got '") + value + "'");
        } else if (arg == "--drop") {
            if (!parse_float(value, &o->ride.drop) || o->ride.drop < 0 || o->ride.drop > 1000)
                return sim_fail(std::string("--drop: expected 0 to 1000 ft, got '") + value + "'");
        } else if (arg == "--spot") {
            if (!parse_spot(value, o))
                return sim_fail(std::string("--spot: expected X,Z,ANGLE, got '") + value + "'");
            o->ride.have_spot = true;
        } else if (arg == "--script") {
            if (!sim_script_load(&o->script, value, &why))
                return sim_fail(why);
            o->have_script = true;
        } else if (arg == "--do") {
            if (!sim_script_add_line(&o->script, value, &why))
                return sim_fail("--do '" + std::string(value) + "': " + why);
            o->have_script = true;
        } else {
            return sim_fail("unknown option '" + arg + "'\n" + kUsage);
        }
    }
    if (o->laps > 0 && o->follow != 1)
        return sim_fail("--laps needs --follow-track");
    if (!o->have_script) {
        std::string why;
        sim_script_add_line(&o->script, "0 throttle=1", &why);
    }
    return 0;
}

void print_state(const sim_ride& r, int index)
{
    const sim_bike_state s = sim_bike_state_of(r.bike_at(index));
    const int tick = r.tick();
    printf("tick=%d t=%.3f bike=%d x=%.2f y=%.2f z=%.2f mph=%.1f rpm=%.0f gear=%d fork=%.3f shock=%.3f "
           "front=%.3f rear=%.3f roll=%.3f pitch=%.3f steer=%.3f crash=%d crashes=%d dab=%.2f",
           tick, tick / 128.0, index, s.position.x, s.position.y, s.position.z, s.speed_mph, s.rpm, s.gear,
           s.fork_travel, s.shock_travel, s.front_depth, s.rear_depth, s.roll, s.pitch, s.steer_angle, s.crash_timer,
           s.crash_count, s.dab);
    if (r.following) {
        const scripted_rider& f = r.followers[(size_t)index];
        printf(" laps=%d along=%.1f off=%.1f", f.laps, scripted_rider_progress(&f), f.distance);
    }
    printf("\n");
}

bool all_laps_done(const sim_ride& r, long laps)
{
    if (laps <= 0 || !r.following)
        return false;
    for (const scripted_rider& f : r.followers)
        if (f.laps < laps)
            return false;
    return true;
}

int run(const options& o)
{
    const bool bench = o.mode == "bench";
    sim_ride_options ro = o.ride;
    ro.script = &o.script;
    // Bench mode rides the track when it can; asked for, it must.
    ro.follow = o.follow == 1 ? 2 : (o.follow < 0 && bench ? 1 : 0);
    sim_ride r;
    std::string why;
    if (!sim_ride_start(&r, ro, &why))
        return sim_fail(why);
    world* w = r.w;
    world_profile profile;
    if (bench)
        w->profile = &profile;
    if (!bench)
        for (int i = 0; i < r.count; i++)
            print_state(r, i);
    const auto start = std::chrono::steady_clock::now();
    int broken = -1;
    for (long t = 0; t < o.ticks; t++) {
        world_tick(w);
        if (!bench && o.print_every > 0 && r.tick() % o.print_every == 0)
            for (int i = 0; i < r.count; i++)
                print_state(r, i);
        // A state that left the numbers behind is a failed run, not a figure.
        if ((r.tick() & 127) == 0 && !sim_ride_finite(r, &broken))
            break;
        if (!bench && all_laps_done(r, o.laps))
            break;
    }
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (broken < 0)
        sim_ride_finite(r, &broken);
    if (broken >= 0)
        return sim_fail("bike " + std::to_string(broken) + " has a non-finite state at tick " + std::to_string(r.tick()));
    if (bench) {
        const world_profile& p = profile;
        const double parts = p.contacts + p.roost + p.step + p.bikes + p.gates + p.erosion + p.other;
        if (parts > 0 && p.ticks > 0)
            printf("contacts=%.1f%% roost=%.1f%% step=%.1f%% bikes=%.1f%% gates=%.1f%% erosion=%.1f%% other=%.1f%% "
                   "step_only_ticks_per_second=%.1f\n",
                   100 * p.contacts / parts, 100 * p.roost / parts, 100 * p.step / parts, 100 * p.bikes / parts,
                   100 * p.gates / parts, 100 * p.erosion / parts, 100 * p.other / parts,
                   p.step > 0 ? p.ticks / p.step : 0.0);
        if (o.hash)
            printf("state_hash=%016llx\n", (unsigned long long)world_state_hash(w));
        printf("ticks_per_second=%.1f bikes=%d ticks=%ld\n", wall > 0 ? (double)o.ticks / wall : 0.0, r.count,
               o.ticks);
        return 0;
    }
    if (o.print_every == 0 || r.tick() % o.print_every != 0)
        for (int i = 0; i < r.count; i++)
            print_state(r, i);
    int status = 0;
    if (o.laps > 0 && !all_laps_done(r, o.laps))
        status = sim_fail("not every rider completed " + std::to_string(o.laps) + " laps in " + std::to_string(r.tick()) +
                      " ticks");
    const roost_pool* roost = w->track.particle_pool;
    printf("ticks=%d bikes=%d roost_particles=%d sim_seconds=%.3f wall_seconds=%.3f\n", r.tick(), r.count,
           roost ? roost->live : 0, r.tick() / 128.0, wall);
    return status;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc >= 2 && strcmp(argv[1], "learn") == 0) {
        const int status = run_learn_command(argc, argv);
        physics_library_shutdown();
        return status;
    }
    if (argc >= 2 && strcmp(argv[1], "series") == 0) {
        const int status = run_series_command(argc, argv);
        physics_library_shutdown();
        return status;
    }
    if (argc >= 2 && strcmp(argv[1], "client") == 0) {
        const int status = run_client_command(argc, argv);
        physics_library_shutdown();
        return status;
    }
    if (argc >= 2 && (strcmp(argv[1], "race") == 0 || strcmp(argv[1], "demo") == 0)) {
        const int status = strcmp(argv[1], "race") == 0 ? run_race_command(argc, argv) : run_demo_command(argc, argv);
        physics_library_shutdown();
        return status;
    }
    options o;
    const int parsed = parse_options(argc, argv, &o);
    if (parsed != 0)
        return parsed == 2 ? 0 : 1;
    // The index reaches the archives, where the bikes' collision shapes are.
    build_file_index();
    const int status = run(o);
    physics_library_shutdown();
    return status;
}
