// The race server's command line.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "server.h"
#include "sim_script.h"

namespace {

const char* const k_usage =
    "usage: kessrig-server [options]\n"
    "\n"
    "Runs races for the game's players over UDP, one after another, until stopped.\n"
    "\n"
    "  --port N             UDP port to listen on (default 19800)\n"
    "  --password TEXT      players need this password to join (default: none)\n"
    "  --tracks A,B,...     the track rotation, by directory or name (default: every\n"
    "                       track in the game data)\n"
    "  --laps L             laps of a race, or laps after the time limit (default 3)\n"
    "  --minutes M          time limit of a race in minutes (default 0: laps only)\n"
    "  --countdown S        seconds from a race's set-up to the gate drop (default 10)\n"
    "  --max-players N      players at once, 1 to 40 (default 40)\n"
    "  --state-rate HZ      riders' states sent to each player per second, 1 to 128\n"
    "                       (default 32)\n"
    "  --upload-dir DIR     where uploaded files go (default: kessrig-server/uploads under\n"
    "                       the XDG data home); \"\" refuses uploads\n"
    "  --upload-limit B     largest upload in bytes (default 1048576; 0 refuses uploads)\n"
    "  --erode RATE         erosion rate sent with every race, -1 (off) to 1000000\n"
    "                       (default 1024)\n"
    "  --no-arcade          players may not use arcade physics\n"
    "  --off-course-bias F  seconds of the off-course rule (default 10)\n"
    "  --off-course-scale F factor of the off-course rule (default 1.5)\n"
    "  --knockout V1,...    up to 16 crash knockout times in ticks (default: none sent)\n"
    "  --timeout S          seconds of silence before a player is dropped (default 10)\n"
    "  --finish-wait S      seconds the race waits for the others after the winner\n"
    "                       (default 60)\n"
    "  --result-pause S     seconds between a result and the next race (default 5)\n"
    "  --races N            stop after N races (default 0: never)\n"
    "  --stats S            log a \"stats\" line (players, datagrams and bytes per second)\n"
    "                       every S seconds (default 0: none)\n"
    "  --data DIR           the game data directory (default: KZ_HOME, else beside the\n"
    "                       program)\n"
    "  --help               this text\n"
    "\n"
    "One line per join, leave, race, start and result goes to standard output.\n";

int fail(const std::string& text)
{
    fprintf(stderr, "kessrig-server: %s\n", text.c_str());
    return 1;
}

}  // namespace

std::string server_default_upload_dir()
{
    const char* xdg = getenv("XDG_DATA_HOME");
    if (xdg && *xdg)
        return std::string(xdg) + "/kessrig-server/uploads";
    const char* home = getenv("HOME");
    if (home && *home)
        return std::string(home) + "/.local/share/kessrig-server/uploads";
    return std::string();
}

int server_parse_options(int argc, char** argv, server_options* o)
{
    bool upload_dir_given = false;
    for (int i = 1; i < argc; i++) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            fputs(k_usage, stdout);
            return 2;
        }
        if (arg == "--no-arcade") {
            o->no_arcade = true;
            continue;
        }
        if (arg.compare(0, 2, "--") != 0)
            return fail("unexpected argument '" + arg + "' (see --help)");
        if (i + 1 >= argc) {
            static const char* const known[] = {"--port", "--password", "--tracks", "--laps", "--minutes",
                                                "--countdown", "--max-players", "--state-rate", "--upload-dir",
                                                "--upload-limit", "--erode", "--off-course-bias",
                                                "--off-course-scale", "--knockout", "--timeout", "--finish-wait",
                                                "--result-pause", "--races", "--data", "--stats"};
            for (const char* k : known)
                if (arg == k)
                    return fail("option " + arg + " needs a value");
            return fail("unknown option '" + arg + "' (see --help)");
        }
        const char* value = argv[++i];
        const std::string bad = arg + ": bad value '" + value + "'";
        long n = 0;
        double x = 0;
        if (arg == "--port") {
            if (!sim_parse_long(value, 0, 65535, &n))
                return fail(arg + ": expected a port 0 to 65535, got '" + value + "'");
            o->port = (int)n;
        } else if (arg == "--password") {
            o->password = value;
        } else if (arg == "--tracks") {
            o->tracks.clear();
            std::string list = value;
            size_t at = 0;
            while (at <= list.size()) {
                const size_t comma = list.find(',', at);
                const std::string name = list.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
                if (name.empty())
                    return fail("--tracks: empty track name in '" + list + "'");
                o->tracks.push_back(name);
                if (comma == std::string::npos)
                    break;
                at = comma + 1;
            }
        } else if (arg == "--laps") {
            if (!sim_parse_long(value, 1, 1000, &n))
                return fail("--laps: expected 1 to 1000, got '" + std::string(value) + "'");
            o->laps = (int)n;
        } else if (arg == "--minutes") {
            if (!sim_parse_long(value, 0, 600, &n))
                return fail("--minutes: expected 0 to 600, got '" + std::string(value) + "'");
            o->minutes = (int)n;
        } else if (arg == "--countdown") {
            if (!sim_parse_number(value, 1, 600, &o->countdown))
                return fail("--countdown: expected 1 to 600 seconds, got '" + std::string(value) + "'");
        } else if (arg == "--max-players") {
            if (!sim_parse_long(value, 1, SERVER_PLAYERS_MAX, &n))
                return fail("--max-players: expected 1 to 40, got '" + std::string(value) + "'");
            o->max_players = (int)n;
        } else if (arg == "--state-rate") {
            if (!sim_parse_long(value, 1, 128, &n))
                return fail("--state-rate: expected 1 to 128, got '" + std::string(value) + "'");
            o->state_rate = (int)n;
        } else if (arg == "--upload-dir") {
            o->upload_dir = value;
            upload_dir_given = true;
        } else if (arg == "--upload-limit") {
            if (!sim_parse_long(value, 0, 1L << 30, &n))
                return fail("--upload-limit: expected 0 to 1073741824 bytes, got '" + std::string(value) + "'");
            o->upload_limit = n;
        } else if (arg == "--erode") {
            if (!sim_parse_long(value, -1, 1000000, &n))
                return fail("--erode: expected -1 to 1000000, got '" + std::string(value) + "'");
            o->erode = (int)n;
        } else if (arg == "--off-course-bias") {
            if (!sim_parse_number(value, 0, 3600, &x))
                return fail(bad);
            o->off_course_bias = (float)x;
        } else if (arg == "--off-course-scale") {
            if (!sim_parse_number(value, 0, 1000, &x))
                return fail(bad);
            o->off_course_scale = (float)x;
        } else if (arg == "--knockout") {
            std::string list = value, out;
            int count = 0;
            size_t at = 0;
            while (at <= list.size()) {
                const size_t comma = list.find(',', at);
                const std::string v = list.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
                if (!sim_parse_long(v.c_str(), 0, 460800, &n) || ++count > 16)
                    return fail("--knockout: expected up to 16 tick counts 0 to 460800, got '" + list + "'");
                out += (out.empty() ? "" : " ") + std::to_string(n);
                if (comma == std::string::npos)
                    break;
                at = comma + 1;
            }
            o->knockout = out;
        } else if (arg == "--timeout") {
            if (!sim_parse_number(value, 1, 3600, &o->timeout))
                return fail("--timeout: expected 1 to 3600 seconds, got '" + std::string(value) + "'");
        } else if (arg == "--finish-wait") {
            if (!sim_parse_number(value, 0, 3600, &o->finish_wait))
                return fail("--finish-wait: expected 0 to 3600 seconds, got '" + std::string(value) + "'");
        } else if (arg == "--result-pause") {
            if (!sim_parse_number(value, 0, 600, &o->result_pause))
                return fail("--result-pause: expected 0 to 600 seconds, got '" + std::string(value) + "'");
        } else if (arg == "--races") {
            if (!sim_parse_long(value, 0, 1000000, &n))
                return fail("--races: expected 0 to 1000000, got '" + std::string(value) + "'");
            o->races = (int)n;
        } else if (arg == "--stats") {
            if (!sim_parse_number(value, 0, 3600, &o->stats))
                return fail("--stats: expected 0 to 3600 seconds, got '" + std::string(value) + "'");
        } else if (arg == "--data") {
            if (!*value)
                return fail("--data needs a directory");
            o->data_dir = value;
        } else {
            return fail("unknown option '" + arg + "' (see --help)");
        }
    }
    if (!upload_dir_given)
        o->upload_dir = server_default_upload_dir();
    return 0;
}
