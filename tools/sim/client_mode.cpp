// kessrig-sim client: a headless player of a race server. The game's own
// client session joins the server and sets the races up; the auto pilot
// rides the local player's bike; the world ticks 128 times a second of
// real time and follows the server's clock, as the game's frame loop does.
#include "client_mode.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "bike/bike.h"
#include "files/datafs.h"
#include "net/client.h"
#include "race/gates.h"
#include "race/race.h"
#include "race/world.h"
#include "robot/auto_pilot.h"
#include "robot/robots.h"
#include "sim_script.h"
#include "track/track.h"

const char* const client_usage =
    "       kessrig-sim client --connect HOST[:PORT] [--laps L] [--timeout S] [--name NAME]\n"
    "                         [--password TEXT] [--max-seconds T] [--fake-loss P] [--fake-lag MS]\n"
    "                         [--lite] [--verbose]\n";

namespace {

const char* const k_help =
    "\n"
    "client: joins a race server; the auto pilot rides the player's bike in real time.\n"
    "  --connect HOST[:PORT]  the server (default port 19800)\n"
    "  --laps L          leave once L laps are ridden (default: the server's race)\n"
    "  --timeout S       give up when the server says nothing for S seconds (default 15)\n"
    "  --name NAME       the rider's name (default \"Pilot\" and the process id)\n"
    "  --password TEXT   the server's password\n"
    "  --max-seconds T   give up after T seconds in all (default 1800)\n"
    "  --fake-loss P     drop P percent of the datagrams received (network tests)\n"
    "  --fake-lag MS     hold every datagram received MS milliseconds (network tests)\n"
    "  --lite            no physics: the bike stands at its gate while the session runs\n"
    "                    in full (clock, states both ways, the reliable channel), for\n"
    "                    many clients on one machine; leaves after --max-seconds\n"
    "  --verbose         a line on where the session and the bike stand every 5 seconds\n"
    "A line \"race id=I slot=P race_slot=S riders=A,B,..\" as each race starts (the\n"
    "slots whose riders this client was told of, its own included), then the ranking,\n"
    "\"terrain_hash=H settled=yes|no dug_samples=D\" once the ruts have stopped coming\n"
    "after the result, \"realtime stalls=N worst_lag_ms=L\" and \"heard=N of=M\n"
    "lasted=yes|no\" (the most other riders whose states came at once). The last line\n"
    "is \"finished=yes|no laps=L\"; the exit status is 0 when the bike finished its\n"
    "race (with --lite: when the session lasted and heard every rider).\n";

struct client_options {
    std::string server;
    long laps = 0;
    double timeout = 15;
    double max_seconds = 1800;
    std::string name;
    std::string password;
    bool verbose = false;
    long fake_loss = 0;     // percent
    double fake_lag = 0;    // milliseconds
    bool lite = false;
};

int parse(int argc, char** argv, client_options* o)
{
    for (int i = 2; i < argc; i++) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h")
            return 2;
        if (arg == "--verbose") {
            o->verbose = true;
            continue;
        }
        if (arg == "--lite") {
            o->lite = true;
            continue;
        }
        if (i + 1 >= argc)
            return sim_fail("option " + arg + " needs a value");
        const char* value = argv[++i];
        if (arg == "--connect") {
            if (!*value || strlen(value) > NET_SERVER_NAME_MAX)
                return sim_fail("--connect: expected HOST[:PORT], got '" + std::string(value) + "'");
            o->server = value;
        } else if (arg == "--laps") {
            if (!sim_parse_long(value, 1, 1000, &o->laps))
                return sim_fail("--laps: expected 1 to 1000, got '" + std::string(value) + "'");
        } else if (arg == "--timeout") {
            if (!sim_parse_number(value, 1, 3600, &o->timeout))
                return sim_fail("--timeout: expected 1 to 3600 seconds, got '" + std::string(value) + "'");
        } else if (arg == "--max-seconds") {
            if (!sim_parse_number(value, 1, 1e6, &o->max_seconds))
                return sim_fail("--max-seconds: expected a number of seconds, got '" + std::string(value) + "'");
        } else if (arg == "--fake-loss") {
            if (!sim_parse_long(value, 0, 100, &o->fake_loss))
                return sim_fail("--fake-loss: expected 0 to 100 percent, got '" + std::string(value) + "'");
        } else if (arg == "--fake-lag") {
            if (!sim_parse_number(value, 0, 10000, &o->fake_lag))
                return sim_fail("--fake-lag: expected 0 to 10000 milliseconds, got '" + std::string(value) + "'");
        } else if (arg == "--name") {
            o->name = value;
        } else if (arg == "--password") {
            o->password = value;
        } else {
            return sim_fail("unknown option '" + arg + "' for client\n" + client_usage);
        }
    }
    if (o->server.empty())
        return sim_fail("client needs --connect HOST[:PORT]");
    return 0;
}

double seconds_now()
{
    static const auto origin = std::chrono::steady_clock::now();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - origin).count();
}

// The ranking of the race as this client last saw it, before anything
// resets it.
struct ranking_snapshot {
    std::vector<int> slots;
    std::vector<int> progress;
    std::vector<bool> finished;
    bool final = false;
    int own_laps = 0;
    bool own_finished = false;
};

void take_snapshot(const world* w, int own, ranking_snapshot* r)
{
    const race_state& race = w->race;
    const track_timing* t = &w->track.timing_gates;
    r->slots.clear();
    r->progress.clear();
    r->finished.clear();
    for (int i = 0; i < race.ranking_count; i++) {
        const int slot = race.ranking[i].slot;
        const bike* b = race.slots[slot].b;
        r->slots.push_back(slot);
        r->progress.push_back(race.ranking[i].progress);
        r->finished.push_back(b && b->finished);
    }
    r->final = race.results_final;
    const bike* mine = race.slots[own].b;
    r->own_laps = mine ? lap_count(t, mine->gate_progress) : 0;
    r->own_finished = mine && mine->finished;
}

void print_snapshot(const world* w, const ranking_snapshot& r)
{
    const track_timing* t = &w->track.timing_gates;
    std::string order;
    for (size_t i = 0; i < r.slots.size(); i++) {
        printf("pos=%d slot=%d laps=%d gates=%d finished=%s\n", (int)i + 1, r.slots[i], lap_count(t, r.progress[i]),
               r.progress[i], r.finished[i] ? "yes" : "no");
        order += (i ? "," : "") + std::to_string(r.slots[i]);
    }
    printf("ranking=%s results=%s\n", order.empty() ? "-" : order.c_str(), r.final ? "final" : "unofficial");
}

// The riders this client was told of for the race (its own included).
std::string lineup_text(const net_session* s)
{
    std::string out;
    for (int i = 0; i < NET_SLOTS; i++)
        if (s->slots[i].known)
            out += (out.empty() ? "" : ",") + std::to_string(i);
    return out.empty() ? "-" : out;
}

// Other riders whose states reached this client in the current race.
int riders_heard(const net_session* s)
{
    int n = 0;
    for (int i = 0; i < NET_SLOTS; i++)
        n += i != (int)s->player_slot && s->slots[i].known && s->slots[i].newest_tick >= 0 ? 1 : 0;
    return n;
}

int riders_known(const net_session* s)
{
    int n = 0;
    for (int i = 0; i < NET_SLOTS; i++)
        n += i != (int)s->player_slot && s->slots[i].known ? 1 : 0;
    return n;
}

// Terrain samples the ruts moved from where the track's load put them.
int dug_samples(const world* w)
{
    const heightfield& hf = w->track.heightfield;
    if (!w->track.loaded || !hf.heights || !hf.loaded_heights)
        return 0;
    int n = 0;
    for (long i = 0; i < (long)hf.sample_count * hf.sample_count; i++)
        n += hf.heights[i] != hf.loaded_heights[i] ? 1 : 0;
    return n;
}

// After the result the ruts still on their way (the server's last erosion
// records, and points the queue holds back near a rider) are let in until
// the terrain has stayed the same, with nothing queued, for this long.
const double k_terrain_quiet = 4.0;
const double k_terrain_wait_max = 40.0;

int run_client(const client_options& o)
{
    build_file_index();
    g_net_fixed_files_ok = net_check_fixed_files();
    if (track_list_build(0) == 0)
        return sim_fail("no tracks found in the game data");
    world* w = world_create();
    robot_state* robots = robots_install(w);
    net_session* s = net_session_create();
    s->fake_loss = (int)o.fake_loss;
    s->fake_lag = o.fake_lag / 1000.0;
    net_environment env;
    env.w = w;
    env.player = default_player_strings();
    snprintf(env.player.name, sizeof env.player.name, "%s",
             o.name.empty() ? ("Pilot" + std::to_string((int)getpid() % 1000)).c_str() : o.name.c_str());
    env.password = o.password.c_str();
    net_connect(s, o.server.c_str());

    const double tick_seconds = 1.0 / RACE_TICKS_PER_SECOND;
    const double began = seconds_now();
    double next = began;
    double heard = began;       // the last time the session moved on
    int32_t seen_server_tick = -1;
    int seen_state = -1;
    uint32_t seen_race = 0;
    uint32_t announced_race = 0;  // the race whose "race" line is out
    const bike* dressed = nullptr;  // the bike the auto pilot was given last
    double done_riding = -1;    // when our bike finished (or rode its laps)
    ranking_snapshot snap;
    bool have_snap = false;
    std::string why;
    double next_report = began + 5;
    // Falling behind real time: stalls over a quarter second, the worst lag.
    int stalls = 0;
    double worst_lag = 0;
    // Letting the last ruts in after the result.
    double settle_from = -1, next_hash_time = 0, hash_stable_since = 0;
    uint64_t terrain_hash = 0;
    bool terrain_settled = false, have_hash = false;
    // The most riders heard at once, and whether the session lasted to
    // --max-seconds (what a --lite client is for).
    int most_heard = 0, known_then = 0;
    bool lasted = false;
    for (;;) {
        const double now = seconds_now();
        if (now < next) {
            std::this_thread::sleep_for(std::chrono::duration<double>(next - now));
            continue;
        }
        next += tick_seconds;
        if (now - next > worst_lag)
            worst_lag = now - next;
        if (now - next > 0.25) {
            next = now;  // a stall (a track load): do not race to catch up in real time
            stalls++;
        }
        if (now - began > o.max_seconds) {
            lasted = true;
            why = "gave up after " + std::to_string((int)o.max_seconds) + " s";
            break;
        }
        if (!s->server_name[0] && s->socket < 0) {
            why = "the session ended";
            break;
        }
        if (s->server_tick != seen_server_tick || (int)s->state != seen_state || s->race_id != seen_race) {
            seen_server_tick = s->server_tick;
            seen_state = (int)s->state;
            seen_race = s->race_id;
            heard = now;
        }
        if (now - heard > o.timeout) {
            fprintf(stderr, "kessrig-sim: the server went silent (nothing for %.0f s)\n", o.timeout);
            why = "server silent";
            break;
        }
        if (s->state == net_running && s->race_id != announced_race) {
            announced_race = s->race_id;
            printf("race id=%u slot=%u race_slot=%d riders=%s\n", s->race_id, s->player_slot, s->race_slot,
                   lineup_text(s).c_str());
            fflush(stdout);
        }
        if (s->state == net_running) {
            const int n = riders_heard(s);
            if (n >= most_heard) {
                most_heard = n;
                known_then = riders_known(s);
            }
        }

        if (o.verbose && now >= next_report) {
            next_report = now + 5;
            const bike* b = s->player_slot < NET_SLOTS ? w->race.slots[s->player_slot].b : nullptr;
            const vec3 at = b ? bike_frame_position(b) : vec3{0, 0, 0};
            fprintf(stderr, "state=%d race=%u slot=%u race_slot=%d tick=%d server_tick=%d start=%d gates=%d x=%.1f z=%.1f lines=%d path=%d heard=%d lag=%.3f\n",
                    (int)s->state, s->race_id, s->player_slot, s->race_slot, w->race.tick, s->server_tick,
                    w->race.start_tick, b ? b->gate_progress : -1, at.x, at.z, robots->lines.row_count,
                    b ? b->path.count : -1, riders_heard(s), worst_lag);
        }
        // One world tick, and more while our clock trails the server's.
        for (int extra = 0; extra < 16; extra++) {
            env.now = seconds_now();
            net_tick(s, env);
            const bool riding = s->state == net_running && w->track.loaded && s->player_slot < NET_SLOTS;
            if (!riding)
                break;
            if (o.lite) {
                // The clock moves on as the world's tick would; nothing is
                // simulated, so our bike stays where the gate put it.
                w->race.tick++;
                if (w->race.tick >= s->server_tick - 2)
                    break;
                continue;
            }
            const int own = (int)s->player_slot;
            bike* b = w->race.slots[own].b;
            if (b && b != dressed) {
                // A new world: our rider gets the auto pilot.
                set_personality(b, "kestrel");
                dressed = b;
            }
            // The warm-up of a late joiner is ridden too.
            if (b)
                auto_pilot_tick(robots, w, own, b);
            world_tick(w);
            if (b && s->race_slot < NET_SLOTS && s->race_id == seen_race && settle_from < 0) {
                take_snapshot(w, own, &snap);
                have_snap = true;
                if (done_riding < 0 && (snap.own_finished || (o.laps > 0 && snap.own_laps >= o.laps)))
                    done_riding = now;
            }
            if (w->race.tick >= s->server_tick - 2)
                break;
        }
        if (settle_from >= 0) {
            // The ruts of the race stop coming once its result is out; a
            // new race (a reload of the track) ends the wait at once.
            if (s->state != net_running || now - settle_from > k_terrain_wait_max)
                break;
            if (now >= next_hash_time) {
                next_hash_time = now + 0.25;
                const uint64_t h = world_terrain_hash(w);
                const bool queued = w->erosion && w->erosion->queue_count > 0;
                if (!have_hash || h != terrain_hash || queued || net_held_count(s) > 0) {
                    terrain_hash = h;
                    have_hash = true;
                    hash_stable_since = now;
                } else if (now - hash_stable_since >= k_terrain_quiet) {
                    terrain_settled = true;
                    break;
                }
            }
            continue;
        }
        if (done_riding >= 0) {
            // Stay until the others are in too (their gates make the
            // ranking final), the race moves on, or two minutes pass.
            if (snap.final || s->state != net_running || now - done_riding > 120 ||
                (o.laps > 0 && snap.own_laps >= o.laps && !snap.own_finished)) {
                why = snap.final ? "results final" : "race over";
                if (s->state != net_running)
                    break;
                settle_from = now;
            }
        }
    }
    if (have_snap)
        print_snapshot(w, snap);
    if (have_hash)
        printf("terrain_hash=%016llx settled=%s dug_samples=%d\n", (unsigned long long)terrain_hash,
               terrain_settled ? "yes" : "no", dug_samples(w));
    printf("realtime stalls=%d worst_lag_ms=%.0f\n", stalls, worst_lag * 1000);
    if (s->socket >= 0)
        net_disconnect_now(s, w);
    bool ok;
    printf("heard=%d of=%d lasted=%s\n", most_heard, known_then, lasted ? "yes" : "no");
    if (o.lite) {
        ok = lasted && most_heard > 0 && most_heard == known_then;
        if (!ok)
            fprintf(stderr, "kessrig-sim: lite client %s (%s)\n", lasted ? "missed riders" : "did not last", why.c_str());
    } else {
        ok = have_snap && (snap.own_finished || (o.laps > 0 && snap.own_laps >= o.laps));
        printf("finished=%s laps=%d\n", ok ? "yes" : "no", have_snap ? snap.own_laps : 0);
        if (!ok)
            fprintf(stderr, "kessrig-sim: client did not finish (%s)\n", why.c_str());
    }
    fflush(stdout);
    net_session_destroy(s);
    world_destroy(w);
    track_list_free();
    free_file_index();
    return ok ? 0 : 1;
}

}  // namespace

int run_client_command(int argc, char** argv)
{
    client_options o;
    const int parsed = parse(argc, argv, &o);
    if (parsed == 2) {
        fputs(client_usage, stdout);
        fputs(k_help, stdout);
        return 0;
    }
    if (parsed != 0)
        return parsed;
    return run_client(o);
}
