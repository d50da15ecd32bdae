// kessrig-sim series: a points series raced by robots, event after event,
// the way the game's series menu runs it: start_series_event lines the
// riders up, the world reset starts the event, the world tick rides it and
// the race rules score it into the standings file in the home directory.
// The player's place is ridden by the auto pilot. When the last event is
// scored the points are reset, as the menu's "Reset Points" does, and the
// series starts again.
#include "series_mode.h"

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <strings.h>

#include "bike/bike.h"
#include "files/datafs.h"
#include "files/memory.h"
#include "race/race.h"
#include "race/series.h"
#include "race/world.h"
#include "robot/auto_pilot.h"
#include "robot/robots.h"
#include "sim_script.h"
#include "track/track.h"

const char* const series_usage =
    "       kessrig-sim series [--series NAME|FILE] [--robots N] [--hours H | --events E]\n"
    "                          [--seed S] [--threads N] [--check-every E]\n";

namespace {

const char* const k_help =
    "\n"
    "series: a points series raced by robots through the game's own series start,\n"
    "world reset, world tick and scoring; the standings go to the home directory as\n"
    "the game keeps them, and a series that has been run to its end is started again\n"
    "with its points reset. The player's place is ridden by the auto pilot. Standings\n"
    "already in the home directory are carried on.\n"
    "  --series NAME     a series of the game data by file name (with or without\n"
    "                    \".series\") or display name, or a path (with a '/') to a\n"
    "                    \".series\" file; default: the first series of the game data\n"
    "  --robots N        the robots of the field (1..159; default the series' own). Another\n"
    "                    count keeps the series' race numbers first and takes further ones\n"
    "                    from the robot roster; its standings go to\n"
    "                    \"<series>-<N>robots.series_standings\"\n"
    "  --hours H         stop after the event that reaches H simulated hours\n"
    "  --events E        stop after E events (default: one pass through the series)\n"
    "  --seed S          the tick the first world reset starts from (0..2147483647;\n"
    "                    default 0); the same seed gives the same standings\n"
    "  --threads N       threads the world tick uses (1..16; default 1); the standings are\n"
    "                    the same for every count\n"
    "  --check-every E   print the process's resident memory every E events (default 1)\n"
    "Every simulated second every bike's state is checked to be finite; one that is not\n"
    "ends the run with exit status 1. Per event it prints \"event=...\" (the track, laps,\n"
    "simulated seconds, winner and points leader and the standings hash so far); at the\n"
    "end the final standings, \"standings_hash=H\" (of every scored event's finishing\n"
    "order, in order) and last \"series_done ...\" with the simulated hours, wall\n"
    "seconds and the resident memory (kB) at the start, after the first event, at the\n"
    "end and at its peak.\n";

const char* const k_player_personality = "kestrel";

struct series_options {
    std::string series;
    int robots = -1;
    double hours = 0;
    long events = 0;
    long seed = 0;
    long threads = 1;
    long check_every = 1;
};

// 0 to go on, 1 after a message, 2 for --help.
int parse(int argc, char** argv, series_options* o)
{
    for (int i = 2; i < argc; i++) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h")
            return 2;
        if (i + 1 >= argc)
            return sim_fail("option " + arg + " needs a value");
        const char* value = argv[++i];
        long n = 0;
        if (arg == "--series") {
            if (!*value)
                return sim_fail("--series needs a name or a file");
            o->series = value;
        } else if (arg == "--robots") {
            if (!sim_parse_long(value, 1, SERIES_MAX_ROBOTS, &n))
                return sim_fail("--robots: expected 1 to 159, got '" + std::string(value) + "'");
            o->robots = (int)n;
        } else if (arg == "--hours") {
            if (!sim_parse_number(value, 0.0001, 100000, &o->hours))
                return sim_fail("--hours: expected 0.0001 to 100000, got '" + std::string(value) + "'");
        } else if (arg == "--events") {
            if (!sim_parse_long(value, 1, 100000000, &o->events))
                return sim_fail("--events: expected 1 to 100000000, got '" + std::string(value) + "'");
        } else if (arg == "--seed") {
            if (!sim_parse_long(value, 0, 2147483647L, &o->seed))
                return sim_fail("--seed: expected 0 to 2147483647, got '" + std::string(value) + "'");
        } else if (arg == "--threads") {
            if (!sim_parse_long(value, 1, 16, &o->threads))
                return sim_fail("--threads: expected 1 to 16, got '" + std::string(value) + "'");
        } else if (arg == "--check-every") {
            if (!sim_parse_long(value, 1, 100000000, &o->check_every))
                return sim_fail("--check-every: expected 1 to 100000000 events, got '" + std::string(value) + "'");
        } else {
            return sim_fail("unknown option '" + arg + "' for series\n" + series_usage);
        }
    }
    if (o->hours > 0 && o->events > 0)
        return sim_fail("--hours and --events: give one of them");
    return 0;
}

// A "Vm...:" figure of /proc/self/status in kB; 0 when it cannot be read.
long status_kb(const char* key)
{
    FILE* f = fopen("/proc/self/status", "r");
    if (!f)
        return 0;
    char line[256];
    const size_t len = strlen(key);
    long kb = 0;
    while (fgets(line, sizeof line, f))
        if (strncmp(line, key, len) == 0 && line[len] == ':') {
            kb = strtol(line + len + 1, nullptr, 10);
            break;
        }
    fclose(f);
    return kb;
}

// FNV-1a, 64 bits.
uint64_t hash_text(uint64_t h, const std::string& text)
{
    for (unsigned char c : text) {
        h ^= c;
        h *= 0x100000001b3ull;
    }
    return h;
}
const uint64_t k_hash_start = 0xcbf29ce484222325ull;

bool names_series(const points_series& s, const std::string& name)
{
    const std::string file = s.file ? s.file : "";
    return strcasecmp(file.c_str(), name.c_str()) == 0 || strcasecmp(file.c_str(), (name + ".series").c_str()) == 0 ||
           (s.name && strcasecmp(s.name, name.c_str()) == 0);
}

// A series file given as a path: parsed by the game's parser, named by its
// file name so that its standings are kept in the home directory.
bool load_series_file(series_set* set, const std::string& path, std::string* why)
{
    data_stream* s = open_data_file(path.c_str(), "rb");
    if (!s) {
        *why = "can't open the series file '" + path + "'";
        return false;
    }
    const size_t slash = path.find_last_of('/');
    const std::string file = path.substr(slash + 1);
    points_series series;
    const bool ok = !file.empty() && series_parse(s, file.c_str(), (const char* const*)g_track_list.dirs,
                                                  g_track_list.count, 0, &series);
    close_data_file(s);
    if (!ok) {
        *why = "'" + path + "' is not a series file (or names a track that is not in the game data)";
        return false;
    }
    series_load_standings(&series);
    series_set_free(set);
    set->items = (points_series*)mem_alloc_or_die(sizeof(points_series));
    new (&set->items[0]) points_series(series);
    set->count = set->capacity = 1;
    return true;
}

// Gives a series a field of `robots` robots: its own race numbers first,
// then the roster's that it does not use, then numbers past the roster.
// The standings of such a field are not the series' own, so they get a
// file of their own.
void set_field(points_series* s, int robots)
{
    if (robots == s->robot_count)
        return;
    int numbers[SERIES_MAX_ROBOTS];
    int count = 0;
    for (int i = 0; i < s->robot_count && count < robots; i++)
        numbers[count++] = s->robot_numbers[i];
    auto used = [&](int number) {
        for (int i = 0; i < count; i++)
            if (numbers[i] == number)
                return true;
        return false;
    };
    const robot_roster_entry* roster = robot_roster();
    for (int i = 0; i < ROBOT_ROSTER_SIZE && count < robots; i++)
        if (!used(roster[i].number))
            numbers[count++] = roster[i].number;
    for (int number = 100; count < robots; number++)
        if (!used(number))
            numbers[count++] = number;
    s->robot_count = robots;
    for (int i = 0; i < robots; i++)
        s->robot_numbers[i] = numbers[i];
    for (int e = 0; e < s->event_count; e++)
        for (int r = 0; r < SERIES_MAX_RIDERS; r++)
            s->events[e].finish[r] = s->events[e].round_position[r] = robots;

    std::string stem = s->file ? s->file : "series";
    if (stem.size() > 7 && strcasecmp(stem.c_str() + stem.size() - 7, ".series") == 0)
        stem.resize(stem.size() - 7);
    const std::string file = stem + "-" + std::to_string(robots) + "robots.series";
    const std::string standings = "@" + file + "_standings";
    mem_free(s->file);
    mem_free(s->standings_path);
    s->file = (char*)mem_alloc_or_die(file.size() + 1);
    memcpy(s->file, file.c_str(), file.size() + 1);
    s->standings_path = (char*)mem_alloc_or_die(standings.size() + 1);
    memcpy(s->standings_path, standings.c_str(), standings.size() + 1);
    series_load_standings(s);
}

std::string rider_label(const points_series& s, int rider)
{
    return rider < s.robot_count ? std::to_string(s.robot_numbers[rider]) : "player";
}

// The finishing positions of an event as its standings line holds them.
std::string finish_line(const points_series& s, const series_event& e)
{
    std::string line;
    for (int r = 0; r <= s.robot_count; r++)
        line += std::to_string(e.finish[r] + 1) + " ";
    return line + "\n";
}

struct series_run {
    world* w = nullptr;
    robot_state* robots = nullptr;
    series_set* set = nullptr;
    int index = 0;             // the series raced
    long events = 0;           // events scored
    int cycles = 1;            // passes through the series begun
    long ticks = 0;            // simulated in all
    uint64_t hash = k_hash_start;
};

// Rides one event through the menu's start and the game's scoring. False
// (after the message) when a track cannot be loaded or a bike's state
// stops being finite.
bool ride_event(series_run* run)
{
    world* w = run->w;
    points_series& s = run->set->items[run->index];
    series_start st;
    if (!start_series_event(&s, &st)) {
        series_reset_points(run->set, run->index);
        run->cycles++;
        if (!start_series_event(&s, &st)) {
            sim_fail(std::string("the series '") + s.name + "' has no events");
            return false;
        }
    }
    if (st.track < 0 || st.track >= g_track_list.count) {
        sim_fail("the event's track is not in the track list");
        return false;
    }
    const series_event& ev = s.events[st.event];
    snprintf(w->race.settings.track, sizeof w->race.settings.track, "%s", g_track_list.dirs[st.track]);
    if (!world_reset(w, st.lineup, nullptr, false, st.minutes_ticks, st.laps, st.skill)) {
        sim_fail(std::string("can't load track '") + w->race.settings.track + "'");
        return false;
    }
    series_begin_racing(run->set, run->index);

    const int own = w->race.player_slot;
    bike* player = own >= 0 ? w->race.slots[own].b : nullptr;
    if (player)
        set_personality(player, k_player_personality);
    // As long as a robot race of its laps may take, plus the time limit.
    const long limit = (15L + 600L * (ev.laps > 0 ? ev.laps : 1)) * RACE_TICKS_PER_SECOND + st.minutes_ticks;
    long ticks = 0;
    int broken = -1;
    while (!w->race.results_final && ticks < limit && broken < 0) {
        if (player)
            auto_pilot_tick(run->robots, w, own, player);
        world_tick(w);
        ticks++;
        if ((ticks & 127) == 0 || w->race.results_final || ticks == limit)
            for (int slot = 0; slot < RACE_SLOTS && broken < 0; slot++)
                if (w->race.slots[slot].b && !bike_state_finite(w->race.slots[slot].b))
                    broken = slot;
    }
    run->ticks += ticks;
    if (broken >= 0) {
        sim_fail("event " + std::to_string(run->events + 1) + " (" + ev.name + "): the bike in slot " +
                 std::to_string(broken) + " has a non-finite state at tick " + std::to_string(w->race.tick));
        return false;
    }
    const bool final = w->race.results_final;
    // An event that ran out of time is scored as it stands, as quitting it
    // would.
    if (run->set->racing_series >= 0)
        race_score_series(w);
    run->events++;

    const series_event& done = s.events[st.event];
    run->hash = hash_text(run->hash, finish_line(s, done));
    std::string winner = "none";
    for (int r = 0; r <= s.robot_count; r++)
        if (done.finish[r] == 0)
            winner = rider_label(s, r);
    standing_row rows[SERIES_MAX_RIDERS];
    series_standings(&s, rows);
    printf("event=%ld cycle=%d series_event=%d name=\"%s\" track=%s laps=%d minutes=%d sim_seconds=%.1f final=%s "
           "winner=%s leader=%s leader_points=%d standings_hash=%016" PRIx64 "\n",
           run->events, run->cycles, st.event + 1, done.name, g_track_list.dirs[st.track], done.laps, done.minutes,
           ticks / (double)RACE_TICKS_PER_SECOND, final ? "yes" : "no", winner.c_str(),
           rider_label(s, rows[0].rider).c_str(), rows[0].points, run->hash);
    fflush(stdout);
    return true;
}

int run_series(const series_options& o)
{
    if (track_list_build(0) == 0)
        return sim_fail("no tracks found in the game data");
    series_set set;
    std::string why;
    int index = 0;
    if (o.series.find('/') != std::string::npos) {
        if (!load_series_file(&set, o.series, &why))
            return sim_fail(why);
    } else {
        if (load_series(&set, build_file_index(), (const char* const*)g_track_list.dirs, g_track_list.count, 0) ==
            0)
            return sim_fail("no points series found in the game data");
        index = -1;
        for (int i = 0; i < set.count && index < 0; i++)
            if (o.series.empty() || names_series(set.items[i], o.series))
                index = i;
        if (index < 0) {
            std::string names;
            for (int i = 0; i < set.count; i++)
                names += std::string(" ") + set.items[i].file;
            series_set_free(&set);
            return sim_fail("no series '" + o.series + "' in the game data (there are:" + names + ")");
        }
    }
    points_series& s = set.items[index];
    if (s.event_count == 0) {
        series_set_free(&set);
        return sim_fail(std::string("the series '") + s.name + "' has no events");
    }
    if (o.robots > 0)
        set_field(&s, o.robots);

    world_settings settings;
    settings.threads = (int)o.threads;
    world* w = world_create(settings);
    series_run run;
    run.w = w;
    run.robots = robots_install(w);
    run.set = &set;
    run.index = index;
    w->series = &set;
    // The robots' order and the start of the first event come from the
    // tick the reset starts from; every later reset starts from where the
    // event before it ended.
    w->race.tick = (int)o.seed;

    const long target_ticks = (long)(o.hours * 3600.0 * RACE_TICKS_PER_SECOND);
    const long target_events = o.hours > 0 ? 0 : (o.events > 0 ? o.events : s.event_count);
    const char* home = data_dir(0) ? data_dir(0) : "";
    printf("series=\"%s\" file=%s robots=%d events=%d completed=%d seed=%ld threads=%ld standings=%s%s\n", s.name,
           s.file, s.robot_count, s.event_count, s.completed, o.seed, o.threads, home, s.standings_path + 1);
    const long rss_start = status_kb("VmRSS");
    long rss_first = 0;
    printf("rss event=0 sim_hours=0.000 rss_kb=%ld peak_kb=%ld\n", rss_start, status_kb("VmHWM"));
    const auto started = std::chrono::steady_clock::now();
    bool ok = true;
    while (target_events > 0 ? run.events < target_events : run.ticks < target_ticks) {
        if (!ride_event(&run)) {
            ok = false;
            break;
        }
        if (run.events == 1)
            rss_first = status_kb("VmRSS");
        if (run.events % o.check_every == 0) {
            printf("rss event=%ld sim_hours=%.3f rss_kb=%ld peak_kb=%ld\n", run.events,
                   run.ticks / (3600.0 * RACE_TICKS_PER_SECOND), status_kb("VmRSS"), status_kb("VmHWM"));
            fflush(stdout);
        }
    }
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const double hours = run.ticks / (3600.0 * RACE_TICKS_PER_SECOND);
    const long rss_end = status_kb("VmRSS");
    const long rss_peak = status_kb("VmHWM");
    if (ok) {
        standing_row rows[SERIES_MAX_RIDERS];
        const int n = series_standings(&s, rows);
        printf("Standings after %d of %d events\n", s.completed, s.event_count);
        for (int i = 0; i < n; i++)
            printf("standing pos=%d rider=%s points=%d\n", i + 1, rider_label(s, rows[i].rider).c_str(),
                   rows[i].points);
        printf("standings_hash=%016" PRIx64 "\n", run.hash);
        printf("series_done events=%ld cycles=%d sim_hours=%.4f wall_seconds=%.1f sim_per_wall=%.2f "
               "rss_kb_start=%ld rss_kb_first_event=%ld rss_kb_end=%ld peak_kb=%ld nan=none standings_hash=%016" PRIx64
               "\n",
               run.events, run.cycles, hours, wall, wall > 0 ? run.ticks / (double)RACE_TICKS_PER_SECOND / wall : 0.0,
               rss_start, rss_first, rss_end, rss_peak, run.hash);
    }
    w->series = nullptr;
    world_destroy(w);
    series_set_free(&set);
    return ok ? 0 : 1;
}

}  // namespace

int run_series_command(int argc, char** argv)
{
    series_options o;
    const int parsed = parse(argc, argv, &o);
    if (parsed == 2) {
        fputs(series_usage, stdout);
        fputs(k_help, stdout);
        return 0;
    }
    if (parsed != 0)
        return parsed;
    const int status = run_series(o);
    track_list_free();
    free_file_index();
    return status;
}
