// kessrig-sim race: the game's world reset and world tick run a race to its
// final results, with scripted riders following the track's centre line in
// the slots they were given.
#include "race_mode.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bike/bike.h"
#include "bike/catalogue.h"
#include "bike/physics.h"
#include "files/datafs.h"
#include "race/demo.h"
#include "race/gates.h"
#include "race/race.h"
#include "race/world.h"
#include "race/results.h"
#include "scripted_rider.h"
#include "sim_world.h"
#include "track/track.h"
#include "track_path.h"

const char* const race_usage =
    "       kessrig-sim race  [--scripted N] [--robots N] [--laps L] [--minutes M] [--seed S]\n"
    "                         [--track NAME] [--slot K] [--cruise MPH] [--max-seconds T]\n"
    "                         [--date UNIX] [--erode N] [--record FILE]\n";

namespace {

const char* const k_help =
    "\n"
    "race: one race run by the game's own rules to its final results.\n"
    "  --scripted N      riders driven by the scripted rider along the track's centre line\n"
    "                    (generated tracks only; default 4 when no robots are asked for)\n"
    "  --robots N        robot riders (need the auto pilot)\n"
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
    "  --record FILE     record the race as a demo into FILE (a path or a data name)\n";

// The scripted riders wait this long after the gate drops, as a rider
// reacts, so the gate is down before their front wheels reach it.
const int k_reaction_ticks = 40;

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
};

struct scripted_slot {
    bool on = false;
    scripted_rider rider;
};

// What the robot hook of this tool needs.
struct tool_state {
    rider_path path;
    scripted_slot slots[RACE_SLOTS];
    robot_hooks autopilot;  // the auto pilot, when there is one
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

bool parse_number(const char* text, double lo, double hi, double* out)
{
    char* end = nullptr;
    const double v = strtod(text, &end);
    if (end == text || *end || !std::isfinite(v) || v < lo || v > hi)
        return false;
    *out = v;
    return true;
}

// 0 to go on, 1 after a message, 2 for --help.
int parse(int argc, char** argv, race_options* o)
{
    for (int i = 2; i < argc; i++) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h")
            return 2;
        if (i + 1 >= argc)
            return fail("option " + arg + " needs a value");
        const char* value = argv[++i];
        long n = 0;
        double x = 0;
        const std::string bad = std::string(": bad value '") + value + "'";
        if (arg == "--robots" || arg == "--scripted") {
            if (!parse_long(value, 0, RACE_SLOTS, &n))
                return fail(arg + ": expected 0 to 160, got '" + value + "'");
            (arg == "--robots" ? o->robots : o->scripted) = (int)n;
        } else if (arg == "--laps") {
            if (!parse_long(value, 1, 1000, &o->laps))
                return fail("--laps: expected 1 to 1000, got '" + std::string(value) + "'");
        } else if (arg == "--minutes") {
            if (!parse_long(value, 0, 600, &o->minutes))
                return fail("--minutes: expected 0 to 600, got '" + std::string(value) + "'");
        } else if (arg == "--seed") {
            if (!parse_long(value, 0, 2147483647L, &o->seed))
                return fail("--seed: expected 0 to 2147483647, got '" + std::string(value) + "'");
        } else if (arg == "--track") {
            if (!*value)
                return fail("--track needs a name");
            o->track = value;
        } else if (arg == "--slot") {
            if (!parse_long(value, 0, RACE_SLOTS - 1, &o->first_slot))
                return fail("--slot: expected 0 to 159, got '" + std::string(value) + "'");
        } else if (arg == "--cruise") {
            if (!parse_number(value, 1, 120, &x))
                return fail("--cruise: expected 1 to 120 mph, got '" + std::string(value) + "'");
            o->cruise_mph = (float)x;
        } else if (arg == "--max-seconds") {
            if (!parse_number(value, 1, 1e6, &o->max_seconds))
                return fail("--max-seconds" + bad);
        } else if (arg == "--date") {
            if (!parse_long(value, 0, 4102444800L, &o->date))
                return fail("--date" + bad);
            o->have_date = true;
        } else if (arg == "--erode") {
            if (!parse_long(value, 0, 100, &o->erode))
                return fail("--erode: expected 0 to 100, got '" + std::string(value) + "'");
        } else if (arg == "--record") {
            if (!*value)
                return fail("--record needs a file name");
            o->record = value;
        } else {
            return fail("unknown option '" + arg + "' for race\n" + race_usage);
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
        return fail("race: 1 to 160 riders in all, got " + std::to_string(riders));
    if (o->first_slot >= 0 && o->first_slot + riders > RACE_SLOTS)
        return fail("--slot: " + std::to_string(riders) + " riders from slot " + std::to_string(o->first_slot) +
                    " do not fit into 160 slots");
    // Nothing may be promised that this build cannot do.
    if (o->robots > 0)
        return fail("--robots: robot riders need the auto pilot, which this build does not have; use --scripted");
    return 0;
}

// The robot hook: scripted slots ride the centre line once the gate is
// down; the others are left to the auto pilot (idle without one).
void drive(void* context, world* w, int slot, bike* b)
{
    tool_state* tool = static_cast<tool_state*>(context);
    scripted_slot& s = tool->slots[slot];
    if (!s.on) {
        if (tool->autopilot.tick)
            tool->autopilot.tick(tool->autopilot.context, w, slot, b);
        return;
    }
    if (w->race.tick < w->race.start_tick + k_reaction_ticks) {
        ride_command hold;
        hold.clutch = 0;
        hold.front_brake = 1;
        hold.rear_brake = 1;
        ride_command_apply(hold, b);
        return;
    }
    ride_command_apply(scripted_rider_drive(&s.rider, b), b);
}

std::string time_text(int ticks)
{
    char text[32];
    results_time_text(ticks, text, (int)sizeof text);
    const char* t = text;
    while (*t == ' ')
        t++;
    return t;
}

void print_ranking(const world* w, const tool_state& tool)
{
    const track_timing* t = &w->track.timing_gates;
    const bool final = w->race.results_final;
    const ranking_entry* list = final ? w->race.results_ranking : w->race.ranking;
    const int count = final ? w->race.results_count : w->race.ranking_count;
    printf("%s\n", final ? "Final Results" : "Unofficial Results");
    for (int i = 0; i < count; i++) {
        const ranking_entry& e = list[i];
        const bike* b = w->race.slots[e.slot].b;
        const int laps = lap_count(t, e.progress);
        const int best = best_lap(t, b, w->race.start_tick);
        printf("pos=%d slot=%d number=%s model=%s driver=%s laps=%d total=%s best_lap=%d best=%s penalty=%.3f "
               "finished=%s\n",
               i + 1, e.slot, b->number_text, bike_model_name(b), tool.slots[e.slot].on ? "scripted" : "robot",
               laps, time_text(e.last_tick - w->race.start_tick).c_str(), best,
               time_text((int)lround(lap_time(t, b, best, w->race.start_tick) * RACE_TICKS_PER_SECOND)).c_str(),
               e.penalty / (double)RACE_TICKS_PER_SECOND, b->finished ? "yes" : "no");
    }
    for (int i = 0; i < count; i++) {
        const bike* b = w->race.slots[list[i].slot].b;
        printf("lap_times slot=%d:", list[i].slot);
        const int laps = lap_count(t, b->gate_progress);
        for (int lap = 1; lap <= laps; lap++)
            printf(" %s",
                   time_text((int)lround(lap_time(t, b, lap, w->race.start_tick) * RACE_TICKS_PER_SECOND)).c_str());
        printf("\n");
    }
}

int run_race(world* w, tool_state& tool, const race_options& o)
{
    if (track_list_build(0) == 0)
        return fail("no tracks found in the game data");
    if (!track_load(&w->track, o.track.c_str(), w->settings.load))
        return fail("can't load track '" + o.track + "'");
    const std::string track_dir = w->track.dir;

    std::string why;
    if (o.scripted > 0 && !track_centre_path(track_dir.c_str(), &w->track.heightfield, track_path_options(),
                                             &tool.path, &why))
        return fail(why);

    // The riders stand side by side in the middle of the gate.
    const int riders = o.scripted + o.robots;
    const int pieces = w->track.timing_gates.piece_count;
    const int first = o.first_slot >= 0 ? (int)o.first_slot : (pieces > riders ? (pieces - riders) / 2 : 0);
    int lineup[RACE_SLOTS];
    for (int& l : lineup)
        l = lineup_empty;
    for (int i = 0; i < riders; i++) {
        lineup[first + i] = lineup_robot;
        tool.slots[first + i].on = i < o.scripted;
    }

    snprintf(w->race.settings.track, sizeof w->race.settings.track, "%s", track_dir.c_str());
    if (o.erode >= 0)
        w->race.settings.erode_amount = (int)o.erode * 1024;
    if (!o.record.empty())
        demo_record_to(w, o.record.c_str());
    w->race.tick = (int)o.seed;
    const int minutes_ticks = (int)o.minutes * 60 * RACE_TICKS_PER_SECOND;
    if (!world_reset(w, lineup, nullptr, !o.record.empty(), minutes_ticks, (int)o.laps, 0))
        return fail("can't load track '" + o.track + "'");

    scripted_rider_settings settings;
    settings.cruise_speed = o.cruise_mph * 1.4666666666666666f;
    const bike_setup setup;
    for (int slot = 0; slot < RACE_SLOTS; slot++) {
        scripted_slot& s = tool.slots[slot];
        bike* b = w->race.slots[slot].b;
        if (!s.on || !b)
            continue;
        // The scripted rider is tuned for the player's default setup.
        apply_bike_setup(b, &setup, false);
        bike_set_auto_shift(b, 1);
        if (!scripted_rider_start(&s.rider, &tool.path, settings, b))
            return fail("the track's centre line is too short to follow");
        const vec3 at = bike_frame_position(b);
        s.rider.settings.lane_offset = rider_path_lateral(tool.path, s.rider.index, at.x, at.z);
    }
    printf("track=%s laps=%ld minutes=%ld seed=%ld start_tick=%d riders=%d\n", track_dir.c_str(), o.laps, o.minutes,
           o.seed, w->race.start_tick, riders);

    const double limit_seconds =
        o.max_seconds > 0 ? o.max_seconds : 15.0 + 600.0 * (double)o.laps + 60.0 * (double)o.minutes;
    const long limit = (long)(limit_seconds * RACE_TICKS_PER_SECOND);
    const auto started = std::chrono::steady_clock::now();
    long ticks = 0;
    int broken = -1;
    while (!w->race.results_final && ticks < limit) {
        world_tick(w);
        ticks++;
        if ((ticks & 127) == 0) {
            for (int slot = 0; slot < RACE_SLOTS && broken < 0; slot++)
                if (w->race.slots[slot].b && !sim_bike_finite(w->race.slots[slot].b))
                    broken = slot;
            if (broken >= 0)
                break;
        }
    }
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    // The recording ends here, while the bikes still stand where the race
    // left them.
    if (!o.record.empty()) {
        const bool recorded = demo_recording(w);
        finish_recording(w);
        demo_record_to(w, nullptr);
        if (!recorded)
            return fail("can't record the demo into '" + o.record + "'");
        printf("demo=%s\n", o.record.c_str());
    }

    print_ranking(w, tool);
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
        return fail("the bike in slot " + std::to_string(broken) + " has a non-finite state");
    if (!w->race.results_final)
        return fail("no final results after " + std::to_string((long)limit_seconds) + " simulated seconds");
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
    world* w = world_create(settings);
    tool_state* tool = new tool_state();
    tool->autopilot = w->robots;
    w->robots.context = tool;
    w->robots.tick = drive;
    const int status = run_race(w, *tool, o);
    world_destroy(w);
    delete tool;
    track_list_free();
    free_file_index();
    return status;
}
