// kessrig-sim race: the game's world reset and world tick run a race to its
// final results, with scripted riders following the track's centre line and
// robots riding the track's racing lines in the slots they were given.
#include "race_mode.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "bike/bike.h"
#include "files/datafs.h"
#include "race/demo.h"
#include "race/race.h"
#include "race/world.h"
#include "bike/rider.h"
#include "robot/auto_pilot.h"
#include "robot/robot_race.h"
#include "robot/robots.h"
#include "robot/test_riders.h"
#include "sim_script.h"
#include "track/track.h"

const char* const race_usage =
    "       kessrig-sim race  [--scripted N] [--robots N] [--laps L] [--minutes M] [--seed S]\n"
    "                         [--track NAME] [--slot K] [--cruise MPH] [--max-seconds T]\n"
    "                         [--date UNIX] [--erode N] [--record FILE] [--threads N]\n"
    "                         [--skill novice|amateur|expert] [--learn] [--events]\n";

namespace {

const char* const k_help =
    "\n"
    "race: one race run by the game's own rules to its final results.\n"
    "  --scripted N      riders driven by the scripted rider along the track's centre line\n"
    "                    (generated tracks only; default 4 when no robots are asked for)\n"
    "  --robots N        robot riders on the track's racing lines (after the scripted ones)\n"
    "  --skill S         novice, amateur or expert: the robots' lines file (default novice)\n"
    "  --learn           save the racing lines the ride gathered into the lines file\n"
    "  --events          print a line for every robot's crash, lost path, push and restart,\n"
    "                    with where and how fast it was\n"
    "  --laps L          laps of the race, or the laps after the time limit (default 1)\n"
    "  --minutes M       time limit in minutes (default 0: laps only)\n"
    "  --seed S          the tick the world reset starts from, which seeds the robots' order\n"
    "                    and the start tick (0..2147483647; default 0)\n"
    "  --track NAME      track directory or display name (default rabbithill)\n"
    "  --slot K          the first participant slot of the riders (default: centred on the\n"
    "                    starting gate)\n"
    "  --cruise MPH      the scripted riders' speed on the straights (default 30)\n"
    "  --max-seconds T   give up after T simulated seconds (default: 15 s + 10 min a lap +\n"
    "                    the time limit)\n"
    "  --date UNIX       the date written into the results file (default: now)\n"
    "  --erode N         the wheels dig ruts at N percent of the full rate (0..100; default none)\n"
    "  --record FILE     record the race as a demo into FILE (a path or a data name)\n"
    "  --threads N       threads the world tick uses (1..16; default 1); the race is bit for\n"
    "                    bit the same for every count\n";

// The scripted riders wait this long after the gate drops, as a rider
// reacts, so the gate is down before their front wheels reach it.

struct race_options {
    int robots = -1;
    int scripted = -1;
    long laps = 1;
    long minutes = 0;
    long seed = 0;
    std::string track = "rabbithill";
    std::string record;
    long erode = -1;
    long first_slot = -1;
    float cruise_mph = 30.0f;
    double max_seconds = 0;
    bool have_date = false;
    long date = 0;
    long threads = 1;
    int skill = 0;
    bool learn = false;
    bool events = false;
    long trace = -1;
};

// 0 to go on, 1 after a message, 2 for --help.
int parse(int argc, char** argv, race_options* o)
{
    for (int i = 2; i < argc; i++) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h")
            return 2;
        if (arg == "--learn") {
            o->learn = true;
            continue;
        }
        if (arg == "--events") {
            o->events = true;
            continue;
        }
        if (i + 1 >= argc)
            return sim_fail("option " + arg + " needs a value");
        const char* value = argv[++i];
        long n = 0;
        double x = 0;
        const std::string bad = std::string(": bad value '") + value + "'";
        if (arg == "--robots" || arg == "--scripted") {
            if (!sim_parse_long(value, 0, RACE_SLOTS, &n))
                return sim_fail(arg + ": expected 0 to 160, got '" + value + "'");
            (arg == "--robots" ? o->robots : o->scripted) = (int)n;
        } else if (arg == "--laps") {
            if (!sim_parse_long(value, 1, 1000, &o->laps))
                return sim_fail("--laps: expected 1 to 1000, got '" + std::string(value) + "'");
        } else if (arg == "--minutes") {
            if (!sim_parse_long(value, 0, 600, &o->minutes))
                return sim_fail("--minutes: expected 0 to 600, got '" + std::string(value) + "'");
        } else if (arg == "--seed") {
            if (!sim_parse_long(value, 0, 2147483647L, &o->seed))
                return sim_fail("--seed: expected 0 to 2147483647, got '" + std::string(value) + "'");
        } else if (arg == "--track") {
            if (!*value)
                return sim_fail("--track needs a name");
            o->track = value;
        } else if (arg == "--slot") {
            if (!sim_parse_long(value, 0, RACE_SLOTS - 1, &o->first_slot))
                return sim_fail("--slot: expected 0 to 159, got '" + std::string(value) + "'");
        } else if (arg == "--cruise") {
            if (!sim_parse_number(value, 1, 120, &x))
                return sim_fail("--cruise: expected 1 to 120 mph, got '" + std::string(value) + "'");
            o->cruise_mph = (float)x;
        } else if (arg == "--max-seconds") {
            if (!sim_parse_number(value, 1, 1e6, &o->max_seconds))
                return sim_fail("--max-seconds" + bad);
        } else if (arg == "--date") {
            if (!sim_parse_long(value, 0, 4102444800L, &o->date))
                return sim_fail("--date" + bad);
            o->have_date = true;
        } else if (arg == "--threads") {
            if (!sim_parse_long(value, 1, 16, &o->threads))
                return sim_fail("--threads: expected 1 to 16, got '" + std::string(value) + "'");
        } else if (arg == "--erode") {
            if (!sim_parse_long(value, 0, 100, &o->erode))
                return sim_fail("--erode: expected 0 to 100, got '" + std::string(value) + "'");
        } else if (arg == "--skill") {
            const std::string v = value;
            if (v == "novice")
                o->skill = 0;
            else if (v == "amateur")
                o->skill = 1;
            else if (v == "expert")
                o->skill = 2;
            else
                return sim_fail("--skill: expected novice, amateur or expert, got '" + v + "'");
        } else if (arg == "--trace") {
            if (!sim_parse_long(value, 0, RACE_SLOTS, &o->trace))
                return sim_fail("--trace: expected 0 to 160, got '" + std::string(value) + "'");
            o->events = true;
        } else if (arg == "--record") {
            if (!*value)
                return sim_fail("--record needs a file name");
            o->record = value;
        } else {
            return sim_fail("unknown option '" + arg + "' for race\n" + race_usage);
        }
    }
    if (o->robots < 0 && o->scripted < 0)
        o->scripted = 4;
    if (o->robots < 0)
        o->robots = 0;
    if (o->scripted < 0)
        o->scripted = 0;
    const int riders = o->robots + o->scripted;
    if (riders < 1 || riders > RACE_SLOTS)
        return sim_fail("race: 1 to 160 riders in all, got " + std::to_string(riders));
    if (o->first_slot >= 0 && o->first_slot + riders > RACE_SLOTS)
        return sim_fail("--slot: " + std::to_string(riders) + " riders from slot " + std::to_string(o->first_slot) +
                    " do not fit into 160 slots");
    return 0;
}

// What each robot had counted after the last tick, to print what changed.
struct event_watch {
    const robot_state* robots = nullptr;
    int trace = -1;
    struct counts {
        int crashes = 0, recoveries = 0, pushes = 0, restarts = 0, lifts = 0;
    } seen[RACE_SLOTS];
};

void print_events(void* context, const world* w)
{
    event_watch* e = static_cast<event_watch*>(context);
    for (int slot = 0; slot < RACE_SLOTS; slot++) {
        const bike* b = w->race.slots[slot].b;
        if (!b || b->personality == 0 || e->robots->slots[slot].owner != b)
            continue;
        const robot_slot& r = e->robots->slots[slot];
        event_watch::counts& c = e->seen[slot];
        const char* kind = nullptr;
        if (b->crash_count != c.crashes)
            kind = "crash";
        else if (r.restarts != c.restarts)
            kind = "restart";
        else if (r.lifts != c.lifts)
            kind = "lift";
        else if (r.pushes != c.pushes)
            kind = "push";
        else if (r.recoveries != c.recoveries)
            kind = "lost";
        c = {b->crash_count, r.recoveries, r.pushes, r.restarts, r.lifts};
        if ((slot == e->trace || e->trace == RACE_SLOTS) && (w->race.tick & 15) == 0 && !kind && b->path.count > 0)
            kind = "trace";
        if (!kind)
            continue;
        const vec3 p = bike_frame_position(b);
        const vec3 v = bike_frame_velocity(b);
        const float speed = sqrtf(v.x * v.x + v.y * v.y + v.z * v.z);
        if (b->path.count > 1) {
            // Off the path: the signed distance from the segment through
            // the point ahead (positive to the right), and its speed.
            const float u = auto_pilot_path_position(b);
            int i = (int)u;
            i = i < 1 ? 1 : (i > b->path.count - 1 ? b->path.count - 1 : i);
            const line_point& a = b->path.items[i - 1];
            const line_point& n = b->path.items[i];
            const float sx = n.x - a.x, sz = n.z - a.z;
            const float len = sqrtf(sx * sx + sz * sz);
            const float off = len > 0.001f ? ((p.x - a.x) * sz - (p.z - a.z) * sx) / len : 0.0f;
            printf("event t=%.2f slot=%d %s u=%.2f off=%.1f path_speed=%.1f roll=%.2f recovery=%d crash_timer=%d "
                   "gear=%d rpm=%.0f throttle=%.2f clutch=%.2f brake=%.2f steer=%.2f dab=%.2f\n",
                   w->race.tick / (double)RACE_TICKS_PER_SECOND, slot, "where", u, -off, fabsf(n.speed),
                   bike_roll(b), b->recovery, b->crash_timer, b->gear, b->engine_speed * 9.5493f, b->throttle, b->clutch,
                   b->rear_brake, b->steer, b->sit_dab);
        }
        float tx = 0, tz = 0, ts = 0;
        if (b->target < b->path.count) {
            tx = b->path.items[b->target].x;
            tz = b->path.items[b->target].z;
            ts = b->path.items[b->target].speed;
        }
        printf("event t=%.2f slot=%d %s x=%.1f y=%.1f z=%.1f speed=%.1f gates=%d path=%d target=%d "
               "target_x=%.1f target_z=%.1f target_speed=%.1f\n",
               w->race.tick / (double)RACE_TICKS_PER_SECOND, slot, kind, p.x, p.y, p.z, speed, b->gate_progress,
               b->path.count, b->target, tx, tz, ts);
    }
}

int run_race(world* w, const robot_state* robots, test_riders& riders_of, const race_options& o)
{
    if (track_list_build(0) == 0)
        return sim_fail("no tracks found in the game data");
    std::string why;
    if (!sim_load_track(&w->track, o.track.c_str(), &why))
        return sim_fail(why);
    const std::string track_dir = w->track.dir;

    if (o.scripted > 0 && !test_riders_load_line(&riders_of, w, true, &why))
        return sim_fail(why);

    snprintf(w->race.settings.track, sizeof w->race.settings.track, "%s", track_dir.c_str());
    if (o.erode >= 0)
        w->race.settings.erode_amount = (int)o.erode * 1024;
    if (!o.record.empty())
        demo_record_to(w, o.record.c_str());
    robot_race_options ro;
    ro.robots = o.robots;
    ro.scripted = o.scripted;
    ro.cruise_mph = o.cruise_mph;
    ro.laps = (int)o.laps;
    ro.minutes_ticks = (int)o.minutes * 60 * RACE_TICKS_PER_SECOND;
    ro.skill = o.skill;
    ro.seed = (int)o.seed;
    ro.first_slot = (int)o.first_slot;
    ro.record_demo = !o.record.empty();
    if (!robot_race_start(w, &riders_of, ro, &why))
        return sim_fail(why);
    const int riders = o.scripted + o.robots;
    printf("track=%s laps=%ld minutes=%ld seed=%ld start_tick=%d riders=%d\n", track_dir.c_str(), o.laps, o.minutes,
           o.seed, w->race.start_tick, riders);

    const double limit_seconds =
        o.max_seconds > 0 ? o.max_seconds : 15.0 + 600.0 * (double)o.laps + 60.0 * (double)o.minutes;
    const long limit = (long)(limit_seconds * RACE_TICKS_PER_SECOND);
    const auto started = std::chrono::steady_clock::now();
    robot_race_result result;
    std::unique_ptr<event_watch> watch(new event_watch());
    watch->robots = robots;
    watch->trace = (int)o.trace;
    robot_race_ride(w, limit, &result, o.events ? print_events : nullptr, watch.get());
    const long ticks = result.ticks;
    const int broken = result.broken_slot;
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    // The recording ends here, while the bikes still stand where the race
    // left them.
    if (!o.record.empty()) {
        const bool recorded = demo_recording(w);
        finish_recording(w);
        demo_record_to(w, nullptr);
        if (!recorded)
            return sim_fail("can't record the demo into '" + o.record + "'");
        printf("demo=%s\n", o.record.c_str());
    }

    sim_print_ranking(w, [&riders_of](int slot) { return riders_of.on[slot] ? "scripted" : "robot"; });
    robot_race_report(w, robots, &result);
    for (const robot_race_rider& r : result.riders)
        if (r.robot)
            printf("robot slot=%d laps=%d best_lap=%.3f mean_lap=%.3f crashes=%d recoveries=%d pushes=%d lifts=%d "
                   "restarts=%d finished=%s\n",
                   r.slot, r.laps, r.best_lap, r.mean_lap, r.crashes, r.recoveries, r.pushes, r.lifts, r.restarts,
                   r.finished ? "yes" : "no");
    printf("terrain_changes=%d terrain_hash=%016llx\n", w->track.heightfield.modify_count,
           (unsigned long long)world_terrain_hash(w));
    if (w->race.results_written)
        printf("results=%sresults.txt\n", data_dir(0) ? data_dir(0) : "");
    else
        printf("results=none\n");
    int finished = 0;
    for (int i = 0; i < w->race.ranking_count; i++)
        if (w->race.slots[w->race.ranking[i].slot].b->finished)
            finished++;
    printf("finished=%d riders=%d sim_seconds=%.3f wall_seconds=%.3f\n", finished, w->race.ranking_count,
           ticks / (double)RACE_TICKS_PER_SECOND, wall);
    if (broken >= 0)
        return sim_fail("the bike in slot " + std::to_string(broken) + " has a non-finite state");
    if (!w->race.results_final)
        return sim_fail("no final results after " + std::to_string((long)limit_seconds) + " simulated seconds");
    return 0;
}

}  // namespace

int run_race_command(int argc, char** argv)
{
    race_options o;
    const int parsed = parse(argc, argv, &o);
    if (parsed == 2) {
        fputs(race_usage, stdout);
        fputs(k_help, stdout);
        return 0;
    }
    if (parsed != 0)
        return parsed;
    world_settings settings;
    if (o.have_date)
        settings.results_date = o.date;
    settings.threads = (int)o.threads;
    world* w = world_create(settings);
    robot_options robots;
    robots.learn = o.learn;
    const robot_state* state = robots_install(w, robots);
    std::unique_ptr<test_riders> riders(new test_riders());
    test_riders_install(riders.get(), w);
    const int status = run_race(w, state, *riders, o);
    world_destroy(w);
    track_list_free();
    free_file_index();
    return status;
}
