// kessrig-sim learn: teaches a track's racing lines for one skill from
// nothing. Test riders (recorded like humans) ride short races from every
// spot of the starting gate at several speeds and lanes, so every section
// gets lines that differ; then robot races on those lines give them runs
// and failures, without which the lap plans cannot tell a good line from an
// untried one. Everything is seeded by fixed ticks, so the same game data
// gives the same file, byte for byte.
#include "learn_mode.h"

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "files/datafs.h"
#include "bike/bike.h"
#include "race/gates.h"
#include "race/race.h"
#include "race/world.h"
#include "robot/lines.h"
#include "robot/robot_race.h"
#include "robot/robots.h"
#include "robot/test_riders.h"
#include "sim_script.h"
#include "track/track.h"

const char* const learn_usage =
    "       kessrig-sim learn --track NAME --skill novice|amateur|expert [--laps L] [--out DIR]\n";

namespace {

const char* const k_help =
    "\n"
    "learn: rides a track in learn mode and writes the skill's lines file.\n"
    "  --track NAME      track directory or display name (needs a centre line)\n"
    "  --skill S         novice, amateur or expert: the riders' speeds and the file written\n"
    "  --laps L          laps of each robot race that rates the lines (1..20; default 2)\n"
    "  --out DIR         where the lines file goes (default: the track's directory in the\n"
    "                    home data directory, XDG_DATA_HOME)\n"
    "Run it with an empty home data directory: lines found there would be learnt on.\n";

const float k_mph = 1.4666666666666666f;  // ft/s

const char* const k_skill_names[3] = {"novice", "amateur", "expert"};

// Test riders per recording race. A race records its first-lap sections
// once, so the gate's spots are spread over several races rather than
// crowded into one.
const int k_riders_per_race = 8;
// The scripted rider's pace per skill. The robots ride the recorded speeds,
// so the skill's pace is set here: the straight-line speed (mph) and the
// spread around it, and what the rider's speed plan dares in the curves
// (sideways), before them (braking) and over crests (ft/s^2). The curves
// and crests decide a lap far more than the straights: an expert planning
// for a novice's 14 ft/s^2 sideways rides 38 mph straights at a 20 mph
// average. Past the expert's figures the robots, who follow a line less
// exactly than the scripted rider, start to fall at the jumps and in the
// curves more than a fifth of their laps.
const float k_cruise_mph[3] = {22.0f, 30.0f, 44.0f};
const float k_cruise_spread_mph[3] = {0.0f, -3.0f, 3.0f};
const float k_lateral_accel[3] = {14.0f, 20.0f, 26.0f};
const float k_braking[3] = {10.0f, 16.0f, 20.0f};
const float k_crest_accel[3] = {24.0f, 28.0f, 40.0f};
// Lanes to the right of the centre line (ft); the rider keeps inside the
// track's width whatever is asked. The outer lanes stay 4 ft clear of the
// edge of a 24 ft lane: robots ride a line to a foot or two, and the tuff
// blocks lining a stadium lane stand just beyond its edge.
const float k_lanes_ft[5] = {0.0f, -4.0f, 4.0f, -8.0f, 8.0f};
// Robot races that rate the lines, and their field: a second and a third
// race, from the gate spots either side, only while some row has no line a
// robot was charged for (lines ridden in traffic are not), since untried
// lines cost the plans a million.
const int k_rating_races = 3;
const int k_rating_robots = 10;

struct learn_options {
    std::string track;
    int skill = -1;
    long laps = 2;
    std::string out;
};

int parse(int argc, char** argv, learn_options* o)
{
    for (int i = 2; i < argc; i++) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h")
            return 2;
        if (i + 1 >= argc)
            return sim_fail("option " + arg + " needs a value");
        const std::string value = argv[++i];
        if (arg == "--track") {
            if (value.empty())
                return sim_fail("--track needs a name");
            o->track = value;
        } else if (arg == "--skill") {
            o->skill = -1;
            for (int s = 0; s < 3; s++)
                if (value == k_skill_names[s])
                    o->skill = s;
            if (o->skill < 0)
                return sim_fail("--skill: expected novice, amateur or expert, got '" + value + "'");
        } else if (arg == "--laps") {
            if (!sim_parse_long(value.c_str(), 1, 20, &o->laps))
                return sim_fail("--laps: expected 1 to 20, got '" + value + "'");
        } else if (arg == "--out") {
            if (value.empty())
                return sim_fail("--out needs a directory");
            o->out = value;
        } else {
            return sim_fail("unknown option '" + arg + "' for learn\n" + learn_usage);
        }
    }
    if (o->track.empty())
        return sim_fail("learn needs --track NAME\n" + std::string(learn_usage));
    if (o->skill < 0)
        return sim_fail("learn needs --skill novice|amateur|expert\n" + std::string(learn_usage));
    return 0;
}

// The fewest lines of any row.
int fewest_lines(const line_table* t)
{
    int fewest = LINES_PER_ROW;
    for (int r = 0; r < t->row_count; r++) {
        const int n = lines_in_row(t, r);
        fewest = n < fewest ? n : fewest;
    }
    return t->row_count > 0 ? fewest : 0;
}

// The rows where no robot has yet been charged for any line.
int unrated_rows(const line_table* t)
{
    int unrated = 0;
    for (int r = 0; r < t->row_count; r++) {
        bool rated = false;
        for (const racing_line& l : t->rows[r].lines)
            rated = rated || (l.points && l.runs > 0);
        unrated += rated ? 0 : 1;
    }
    return unrated;
}

// A section's line is stored, and a robot's line rated, when the rider
// passes the section gate after it, and a finished rider passes no more
// gates, so a race's last section would never count. The riders ride a race
// one lap longer than `laps` until each has passed the first section gate
// after those laps: every row, the first lap's and the lap's, then has its
// lines stored or rated (a rider far behind is given up on). Returns the
// ticks run; -1 when a bike's state stopped being finite.
long ride_every_row(world* w, const line_table* t, int laps, int first_slot, int count, long max_ticks)
{
    const track_timing* timing = &w->track.timing_gates;
    const int wanted = t->first_sections + (laps - 1) * t->lap_sections;
    long ticks = 0;
    for (; ticks < max_ticks; ticks++) {
        int done = 0;
        for (int i = 0; i < count; i++) {
            const bike* b = w->race.slots[first_slot + i].b;
            done += !b || line_section_at(timing, b->gate_progress) > wanted ? 1 : 0;
        }
        if (done == count)
            break;
        // A rider stuck somewhere must not hold up the others for long: the
        // rest get a quarter as long again as the first one needed.
        if (done > 0 && max_ticks > ticks + ticks / 4)
            max_ticks = ticks + ticks / 4;
        world_tick(w);
        if ((ticks & 127) == 0)
            for (int i = 0; i < count; i++)
                if (const bike* b = w->race.slots[first_slot + i].b)
                    if (!bike_state_finite(b))
                        return -1;
    }
    return ticks;
}

int learn(world* w, robot_state* rs, test_riders* riders, const learn_options& o)
{
    if (track_list_build(0) == 0)
        return sim_fail("no tracks found in the game data");
    std::string why;
    if (!sim_load_track(&w->track, o.track.c_str(), &why))
        return sim_fail(why);
    if (!test_riders_load_line(riders, w, true, &why))
        return sim_fail(why);
    snprintf(w->race.settings.track, sizeof w->race.settings.track, "%s", w->track.dir);
    const int spots = w->track.timing_gates.piece_count;
    if (spots < 1)
        return sim_fail("track '" + o.track + "' has no starting gate");
    const auto started = std::chrono::steady_clock::now();
    long ticks = 0;
    int crashes = 0;

    // Every gate spot once, k_riders_per_race at a time.
    const int races = (spots + k_riders_per_race - 1) / k_riders_per_race;
    for (int race = 0; race < races; race++) {
        robot_race_options ro;
        ro.first_slot = race * k_riders_per_race;
        ro.scripted = spots - ro.first_slot < k_riders_per_race ? spots - ro.first_slot : k_riders_per_race;
        ro.laps = 3;
        ro.skill = o.skill;
        ro.seed = 1 + race;
        ro.cruise_mph = k_cruise_mph[o.skill];
        if (!robot_race_start(w, riders, ro, &why))
            return sim_fail(why);
        if (race == 0) {
            // Lines read from another data directory (the game's own files)
            // must not be learnt on: the file is made from this ride alone.
            lines_clear(&rs->lines);
            lines_compute_plans(&rs->lines);
        }
        for (int i = 0; i < ro.scripted; i++) {
            const int slot = ro.first_slot + i;
            scripted_rider& r = riders->riders[slot];
            r.settings.cruise_speed = (k_cruise_mph[o.skill] + k_cruise_spread_mph[slot % 3]) * k_mph;
            r.settings.lateral_accel = k_lateral_accel[o.skill];
            r.settings.braking = k_braking[o.skill];
            r.settings.crest_accel = k_crest_accel[o.skill];
            r.settings.lane_offset = k_lanes_ft[(slot / 3 + slot) % 5];
            rider_plan_speeds(*r.path, r.settings, &r.target_speed);
        }
        const long ridden = ride_every_row(w, &rs->lines, ro.laps - 1, ro.first_slot, ro.scripted,
                                           (long)(15 + 600 * ro.laps) * RACE_TICKS_PER_SECOND);
        if (ridden < 0)
            return sim_fail("a test rider's bike has a non-finite state");
        ticks += ridden;
        for (int i = 0; i < ro.scripted; i++)
            crashes += w->race.slots[ro.first_slot + i].b->crash_count;
        printf("recording race=%d riders=%d sim_seconds=%.1f\n", race + 1, ro.scripted,
               ridden / (double)RACE_TICKS_PER_SECOND);
    }

    // Robots ride what was recorded; their gates and crashes rate the lines.
    for (int race = 0; race < k_rating_races && (race == 0 || unrated_rows(&rs->lines) > 0); race++) {
        robot_race_options ro;
        ro.robots = spots < k_rating_robots ? spots : k_rating_robots;
        // The middle of the gate first, then the spots either side of it.
        const int middle = (spots - ro.robots) / 2;
        const int shift = race == 0 ? 0 : (race == 1 ? -ro.robots : ro.robots);
        ro.first_slot = middle + shift < 0 ? 0 : (middle + shift > spots - ro.robots ? spots - ro.robots : middle + shift);
        ro.laps = (int)o.laps + 1;
        ro.skill = o.skill;
        ro.seed = 101 + race;
        if (!robot_race_start(w, riders, ro, &why))
            return sim_fail(why);
        const long ridden = ride_every_row(w, &rs->lines, (int)o.laps, ro.first_slot, ro.robots,
                                           (long)(15 + 600 * ro.laps) * RACE_TICKS_PER_SECOND);
        if (ridden < 0)
            return sim_fail("a robot's bike has a non-finite state");
        ticks += ridden;
        robot_race_result result;
        robot_race_report(w, rs, &result);
        int robot_crashes = 0, restarts = 0;
        for (const robot_race_rider& r : result.riders) {
            robot_crashes += r.crashes;
            restarts += r.restarts;
        }
        printf("rating race=%d robots=%d crashes=%d restarts=%d unrated_rows=%d sim_seconds=%.1f\n", race + 1,
               ro.robots, robot_crashes, restarts, unrated_rows(&rs->lines), ridden / (double)RACE_TICKS_PER_SECOND);
    }

    // The table as the next race would find it: what the robots' last race
    // rated, before the reset's save.
    line_table* t = &rs->lines;
    const int fewest = fewest_lines(t);
    int lines = 0;
    for (int r = 0; r < t->row_count; r++)
        lines += lines_in_row(t, r);
    const std::string home_file = t->file;
    if (!o.out.empty()) {
        // A path (no '@'): the lines file goes exactly there.
        char file[sizeof t->file];
        const int n = snprintf(file, sizeof file, "%s/lines_%s", o.out.c_str(), k_skill_names[o.skill]);
        if (n < 0 || (size_t)n >= sizeof file)
            return sim_fail("--out: the directory name is too long");
        snprintf(t->file, sizeof t->file, "%s", file);
    }
    const bool saved = lines_save(t);
    const std::string written = t->file;
    snprintf(t->file, sizeof t->file, "%s", home_file.c_str());
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    printf("lines=%s rows=%d lines=%d fewest_per_row=%d test_rider_crashes=%d sim_seconds=%.1f wall_seconds=%.3f\n",
           written.c_str(), t->row_count, lines, fewest, crashes, ticks / (double)RACE_TICKS_PER_SECOND, wall);
    if (!saved)
        return sim_fail("can't write the lines file '" + written + "'");
    if (fewest < 3)
        return sim_fail("a section has only " + std::to_string(fewest) + " distinct lines (3 needed)");
    return 0;
}

}  // namespace

int run_learn_command(int argc, char** argv)
{
    learn_options o;
    const int parsed = parse(argc, argv, &o);
    if (parsed == 2) {
        fputs(learn_usage, stdout);
        fputs(k_help, stdout);
        return 0;
    }
    if (parsed != 0)
        return parsed;
    world_settings settings;
    // The results files of the rides stay in the home; a fixed date keeps
    // them the same run after run.
    settings.results_date = 1;
    world* w = world_create(settings);
    robot_options robots;
    robots.learn = true;
    robot_state* state = robots_install(w, robots);
    std::unique_ptr<test_riders> riders(new test_riders());
    test_riders_install(riders.get(), w);
    const int status = learn(w, state, riders.get(), o);
    world_destroy(w);
    track_list_free();
    free_file_index();
    return status;
}
