// kessrig-sim: the headless runner. Loads the game data (KZ_HOME, or the
// directory of this program) and a track's ground, puts bikes on it and runs
// world ticks at full speed with scripted controls.
//
//   kessrig-sim ride  [options]   ride and print the bikes' state as it goes
//   kessrig-sim bench --bikes N [--ticks T] [--track NAME]
//                                 time the world tick; the last line is
//                                 "ticks_per_second=F bikes=N ticks=T"
//   kessrig-sim race  [options]   one race to its final results through the
//                                 game's world reset and world tick
//   kessrig-sim demo  FILE        plays a demo to its end; the last line is
//                                 "ticks=T riders=N"
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
#include "demo_mode.h"
#include "files/datafs.h"
#include "race/demo.h"
#include "race_mode.h"
#include "scripted_rider.h"
#include "sim_world.h"
#include "track_path.h"

namespace {

const char* const kUsage =
    "usage: kessrig-sim ride  [--track NAME] [--bikes N] [--model NAME] [--spot X,Z,ANGLE]\n"
    "                         [--ticks T] [--script FILE] [--do \"SECONDS KEY=VALUE...\"]...\n"
    "                         [--print-every TICKS] [--spacing FT] [--speed MPH] [--roost-density N]\n"
    "                         [--stability N] [--arcade yes|no] [--drop FT]\n"
    "                         [--follow-track] [--cruise MPH] [--laps L]\n"
    "       kessrig-sim bench --bikes N [--ticks T] [--track NAME] [--model NAME] [--spot X,Z,ANGLE]\n"
    "                         [--script FILE] [--do ...] [--no-follow] [--cruise MPH]\n"
    "                         [--stability N] [--arcade yes|no] [--hash]\n"
    "\n"
    "  --track NAME      track directory in the game data (default rabbithill), or a path\n"
    "  --bikes N         bikes side by side on the spot (1..160; default 1)\n"
    "  --model NAME      bike model (default 450sxf(2018))\n"
    "  --spot X,Z,ANGLE  where the row stands (ft) and its facing angle (radians; facing\n"
    "                    (-sin a, -cos a)); default: the track's starting gate, or without\n"
    "                    one the middle of the terrain facing -z\n"
    "  --ticks T         world ticks to run (128 per simulated second; default 1280)\n"
    "  --script FILE     controls over time, one change per line: SECONDS KEY=VALUE...\n"
    "                    keys throttle clutch front rear steer lean sit backup shift\n"
    "  --do LINE         one script line (may repeat; added to the script)\n"
    "                    default script: \"0 throttle=1\" (clutch engaged)\n"
    "  --print-every T   ride: print the state every T ticks (default 128; 0 = only the end)\n"
    "  --spacing FT      distance between neighbouring bikes in a row (default 3.5)\n"
    "  --speed MPH       start rolling at this speed in a gear that suits it (default 0)\n"
    "  --roost-density N particles thrown per wheel per tick x 100 (0..1000; default 1000)\n"
    "  --stability N     the setup's \"Stability\" preset (0..100) instead of the default setup\n"
    "  --arcade yes|no   arcade physics (default: the setup's, yes)\n"
    "  --drop FT         start this many feet above the ground\n"
    "  --follow-track    a scripted rider rides each bike along the track's centre line\n"
    "                    (from the starting gate; generated tracks only); its throttle,\n"
    "                    brakes, steering and lean replace the script's. Default in bench\n"
    "                    mode when the track has a centre line; --no-follow turns it off\n"
    "  --cruise MPH      the scripted rider's speed on the straights (default 30)\n"
    "  --laps L          ride: stop when every scripted rider has completed L laps\n"
    "                    (--ticks stays the limit)\n"
    "  --hash            bench: print state_hash=H (16 hex digits), a hash of every\n"
    "                    bike's bodies at the end, before the last line; the same\n"
    "                    inputs must give the same hash on every run and build\n";

struct options {
    std::string mode;
    std::string track = "rabbithill";
    std::string model = "450sxf(2018)";
    int bikes = 1;
    long ticks = 1280;
    bool have_spot = false;
    float spot_x = 0, spot_z = 0, spot_angle = 0;
    float spacing = 3.5f;
    int roost_density = 1000;
    float speed_mph = 0;
    long print_every = 128;
    bool have_stability = false;
    float stability = 100;
    int arcade = -1;  // -1: the setup's
    float drop = 0;
    int follow = -1;   // -1: the mode's default, 0 off, 1 on
    float cruise_mph = 30;
    long laps = 0;
    bool hash = false;
    sim_script script;
    bool have_script = false;
};

int fail(const std::string& message)
{
    fprintf(stderr, "kessrig-sim: %s\n", message.c_str());
    return 1;
}

bool parse_long(const char* text, long lo, long hi, long* out)
{
    char* end = nullptr;
    const long v = strtol(text, &end, 10);
    if (end == text || *end || v < lo || v > hi)
        return false;
    *out = v;
    return true;
}

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
    return parse_float(s.substr(0, a).c_str(), &o->spot_x) &&
           parse_float(s.substr(a + 1, b - a - 1).c_str(), &o->spot_z) &&
           parse_float(s.substr(b + 1).c_str(), &o->spot_angle);
}

// Returns 0 to go on, 1 on bad input (after the message), 2 for --help.
int parse_options(int argc, char** argv, options* o)
{
    if (argc < 2)
        return fail(std::string("no mode given\n") + kUsage);
    o->mode = argv[1];
    if (o->mode == "--help" || o->mode == "-h") {
        fputs(kUsage, stdout);
        fputs(race_usage, stdout);
        fputs(demo_usage, stdout);
        return 2;
    }
    if (o->mode != "ride" && o->mode != "bench")
        return fail("unknown mode '" + o->mode + "' (ride, bench, race or demo)\n" + kUsage + race_usage + demo_usage);
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
            return fail("option " + arg + " needs a value");
        const char* value = argv[++i];
        long n = 0;
        std::string why;
        if (arg == "--track") {
            if (!*value)
                return fail("--track needs a name");
            o->track = value;
        } else if (arg == "--model") {
            o->model = value;
        } else if (arg == "--bikes") {
            if (!parse_long(value, 1, 160, &n))
                return fail(std::string("--bikes: expected 1 to 160, got '") + value + "'");
            o->bikes = (int)n;
        } else if (arg == "--ticks") {
            if (!parse_long(value, 1, 100000000, &n))
                return fail(std::string("--ticks: expected 1 to 100000000, got '") + value + "'");
            o->ticks = n;
        } else if (arg == "--print-every") {
            if (!parse_long(value, 0, 100000000, &n))
                return fail(std::string("--print-every: expected a tick count, got '") + value + "'");
            o->print_every = n;
        } else if (arg == "--spacing") {
            if (!parse_float(value, &o->spacing) || o->spacing < 0 || o->spacing > 100)
                return fail(std::string("--spacing: expected 0 to 100 ft, got '") + value + "'");
        } else if (arg == "--speed") {
            if (!parse_float(value, &o->speed_mph) || o->speed_mph < 0 || o->speed_mph > 200)
                return fail(std::string("--speed: expected 0 to 200 mph, got '") + value + "'");
        } else if (arg == "--cruise") {
            if (!parse_float(value, &o->cruise_mph) || o->cruise_mph < 1 || o->cruise_mph > 120)
                return fail(std::string("--cruise: expected 1 to 120 mph, got '") + value + "'");
        } else if (arg == "--laps") {
            if (!parse_long(value, 1, 1000, &n))
                return fail(std::string("--laps: expected 1 to 1000, got '") + value + "'");
            o->laps = n;
        } else if (arg == "--roost-density") {
            if (!parse_long(value, 0, 1000, &n))
                return fail(std::string("--roost-density: expected 0 to 1000, got '") + value + "'");
            o->roost_density = (int)n;
        } else if (arg == "--stability") {
            if (!parse_float(value, &o->stability) || o->stability < 0 || o->stability > 100)
                return fail(std::string("--stability: expected 0 to 100, got '") + value + "'");
            o->have_stability = true;
        } else if (arg == "--arcade") {
            if (strcmp(value, "yes") == 0)
                o->arcade = 1;
            else if (strcmp(value, "no") == 0)
                o->arcade = 0;
            else
                return fail(std::string("--arcade: expected yes or no, got '") + value + "'");
        } else if (arg == "--drop") {
            if (!parse_float(value, &o->drop) || o->drop < 0 || o->drop > 1000)
                return fail(std::string("--drop: expected 0 to 1000 ft, got '") + value + "'");
        } else if (arg == "--spot") {
            if (!parse_spot(value, o))
                return fail(std::string("--spot: expected X,Z,ANGLE, got '") + value + "'");
            o->have_spot = true;
        } else if (arg == "--script") {
            if (!sim_script_load(&o->script, value, &why))
                return fail(why);
            o->have_script = true;
        } else if (arg == "--do") {
            if (!sim_script_add_line(&o->script, value, &why))
                return fail("--do '" + std::string(value) + "': " + why);
            o->have_script = true;
        } else {
            return fail("unknown option '" + arg + "'\n" + kUsage);
        }
    }
    if (o->laps > 0 && o->follow != 1)
        return fail("--laps needs --follow-track");
    if (!o->have_script) {
        std::string why;
        sim_script_add_line(&o->script, "0 throttle=1", &why);
    }
    return 0;
}

void print_state(const sim_world& w, int index)
{
    const sim_rider& r = w.riders[(size_t)index];
    const sim_bike_state s = sim_bike_state_of(r.b);
    printf("tick=%d t=%.3f bike=%d x=%.2f y=%.2f z=%.2f mph=%.1f rpm=%.0f gear=%d fork=%.3f shock=%.3f "
           "front=%.3f rear=%.3f roll=%.3f pitch=%.3f steer=%.3f crash=%d crashes=%d dab=%.2f",
           w.tick, w.tick / 128.0, index, s.position.x, s.position.y, s.position.z, s.speed_mph, s.rpm, s.gear,
           s.fork_travel, s.shock_travel, s.front_depth, s.rear_depth, s.roll, s.pitch, s.steer_angle, s.crash_timer,
           s.crash_count, s.dab);
    if (r.follow)
        printf(" laps=%d along=%.1f off=%.1f", r.follow->laps, scripted_rider_progress(r.follow),
               r.follow->distance);
    printf("\n");
}

bool all_laps_done(const sim_world& w, long laps)
{
    if (laps <= 0)
        return false;
    for (const sim_rider& r : w.riders)
        if (!r.follow || r.follow->laps < laps)
            return false;
    return true;
}

int first_broken(const sim_world& w)
{
    for (size_t i = 0; i < w.riders.size(); i++)
        if (!sim_bike_finite(w.riders[i].b))
            return (int)i;
    return -1;
}

int run(const options& o)
{
    // The game falls back to another model for an unknown name; a runner
    // asked for a model it does not have should say so instead.
    const bike_params* model = find_bike_params(o.model.c_str());
    if (strcmp(model->name, bike_alias(o.model.c_str())) != 0)
        return fail("unknown bike model '" + o.model + "'");
    sim_world w;
    std::string why;
    if (!sim_world_load_track(&w, o.track.c_str(), &why))
        return fail(why);
    w.roost_density = o.roost_density;
    if (o.have_stability)
        apply_stability(&w.setup, o.stability);
    if (o.arcade >= 0)
        w.setup.arcade = o.arcade;
    // Without a spot the bikes stand at the starting gate; a track without
    // one gets a row in the middle of its terrain, facing -z.
    std::vector<sim_spot> gate;
    sim_spot centre = {0.5f * w.ground.extent, 0.5f * w.ground.extent, 0.0f};
    if (o.have_spot)
        centre = {o.spot_x, o.spot_z, o.spot_angle};
    else
        gate = sim_track_gate_spots(o.track.c_str());
    for (const sim_spot& s : sim_row_spots(gate, o.bikes, centre, o.spacing))
        sim_world_add_bike(&w, o.model.c_str(), s.x, s.z, s.angle);
    for (sim_rider& r : w.riders) {
        r.script = &o.script;
        if (o.drop > 0)
            translate_bike(r.b, 0.0f, o.drop, 0.0f);
        if (o.speed_mph > 0)
            sim_bike_launch(r.b, o.speed_mph * 1.4666666666666666f);
    }

    const bool bench = o.mode == "bench";
    // Bench mode rides the track when it can; asked for, it must.
    rider_path path;
    std::vector<scripted_rider> followers;
    const int follow = o.follow >= 0 ? o.follow : (bench ? 1 : 0);
    scripted_rider_settings settings;
    settings.cruise_speed = o.cruise_mph * 1.4666666666666666f;
    if (follow && !sim_follow_track(&w, o.track.c_str(), settings, &path, &followers, &why) && o.follow == 1) {
        sim_world_free(&w);
        return fail(why);
    }
    sim_tick_profile profile;
    if (bench)
        w.profile = &profile;
    if (!bench)
        for (int i = 0; i < o.bikes; i++)
            print_state(w, i);
    const auto start = std::chrono::steady_clock::now();
    int broken = -1;
    for (long t = 0; t < o.ticks; t++) {
        sim_world_tick(&w);
        if (!bench && o.print_every > 0 && w.tick % o.print_every == 0)
            for (int i = 0; i < o.bikes; i++)
                print_state(w, i);
        // A state that left the numbers behind is a failed run, not a figure.
        if ((w.tick & 127) == 0 && (broken = first_broken(w)) >= 0)
            break;
        if (!bench && all_laps_done(w, o.laps))
            break;
    }
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (broken < 0)
        broken = first_broken(w);
    int status = 0;
    if (broken >= 0) {
        status = fail("bike " + std::to_string(broken) + " has a non-finite state at tick " + std::to_string(w.tick));
    } else if (bench) {
        const double parts = profile.contacts + profile.forces + profile.step;
        if (parts > 0 && profile.ticks > 0)
            printf("contacts=%.1f%% forces=%.1f%% step=%.1f%% step_only_ticks_per_second=%.1f "
                   "(of contacts: controls=%.1f%% collide=%.1f%% roost=%.1f%%)\n",
                   100 * profile.contacts / parts, 100 * profile.forces / parts, 100 * profile.step / parts,
                   profile.step > 0 ? profile.ticks / profile.step : 0.0, 100 * profile.controls / parts,
                   100 * profile.collide / parts, 100 * profile.roost / parts);
        if (o.hash)
            printf("state_hash=%016llx\n", (unsigned long long)sim_world_state_hash(w));
        printf("ticks_per_second=%.1f bikes=%d ticks=%ld\n", wall > 0 ? (double)o.ticks / wall : 0.0, o.bikes,
               o.ticks);
    } else {
        if (o.print_every == 0 || w.tick % o.print_every != 0)
            for (int i = 0; i < o.bikes; i++)
                print_state(w, i);
        if (o.laps > 0 && !all_laps_done(w, o.laps))
            status = fail("not every rider completed " + std::to_string(o.laps) + " laps in " +
                          std::to_string(w.tick) + " ticks");
        printf("ticks=%d bikes=%d roost_particles=%d sim_seconds=%.3f wall_seconds=%.3f\n", w.tick, o.bikes,
               w.roost ? w.roost->live : 0, w.tick / 128.0, wall);
    }
    sim_world_free(&w);
    return status;
}

}  // namespace

int main(int argc, char** argv)
{
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
