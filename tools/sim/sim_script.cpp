// The runner's scripts and the figures it prints of a bike.
#include "sim_script.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bike/bike.h"
#include "bike/controls.h"
#include "bike/drivetrain.h"
#include "bike/rider.h"
#include "bike/suspension.h"
#include "files/datafs.h"
#include "core/messages.h"
#include "files/stream.h"
#include "race/gates.h"
#include "race/results.h"
#include "race/world.h"
#include "track/track.h"

namespace {

const int TICKS_PER_SECOND = 128;
const double MAX_SCRIPT_SECONDS = 86400.0;

float clampf(float v, float lo, float hi)
{
    return v < lo ? lo : (v > hi ? hi : v);
}

// ---- script parsing ----

struct control_key {
    const char* name;
    unsigned bit;
    float control_input::*field;
};

const control_key kControlKeys[] = {
    {"throttle", control_throttle, &control_input::throttle},
    {"clutch", control_clutch, &control_input::clutch},
    {"front", control_front_brake, &control_input::front_brake},
    {"rear", control_rear_brake, &control_input::rear_brake},
    {"steer", control_steer, &control_input::steer},
    {"lean", control_lean, &control_input::lean},
    {"sit", control_sit_dab, &control_input::sit_dab},
    {"backup", control_back_up, &control_input::back_up},
};

bool parse_number(const std::string& text, double* out)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    const double v = strtod(text.c_str(), &end);
    if (errno != 0 || end != text.c_str() + text.size() || !std::isfinite(v))
        return false;
    *out = v;
    return true;
}

}  // namespace

// ---- scripts ----------------------------------------------------------------------

bool sim_script_add_line(sim_script* s, const char* line, std::string* why)
{
    std::string text(line);
    const size_t hash = text.find('#');
    if (hash != std::string::npos)
        text.resize(hash);
    std::vector<std::string> words;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && isspace((unsigned char)text[i]))
            i++;
        size_t j = i;
        while (j < text.size() && !isspace((unsigned char)text[j]))
            j++;
        if (j > i)
            words.push_back(text.substr(i, j - i));
        i = j;
    }
    if (words.empty())
        return true;

    double seconds = 0;
    if (!parse_number(words[0], &seconds) || seconds < 0 || seconds > MAX_SCRIPT_SECONDS) {
        *why = "bad time '" + words[0] + "' (seconds, 0 to 86400)";
        return false;
    }
    sim_script_event e;
    e.tick = (int)std::lround(seconds * TICKS_PER_SECOND);
    for (size_t k = 1; k < words.size(); k++) {
        const std::string& w = words[k];
        const size_t eq = w.find('=');
        double v = 0;
        if (eq == std::string::npos || !parse_number(w.substr(eq + 1), &v)) {
            *why = "expected KEY=NUMBER, got '" + w + "'";
            return false;
        }
        if (std::fabs(v) > 1e6) {
            *why = "value out of range in '" + w + "'";
            return false;
        }
        const std::string key = w.substr(0, eq);
        if (key == "shift") {
            if (v != -1 && v != 0 && v != 1) {
                *why = "shift must be -1, 0 or 1";
                return false;
            }
            e.set |= control_shift;
            e.values.shift = (int)v;
            continue;
        }
        bool known = false;
        for (const control_key& c : kControlKeys)
            if (key == c.name) {
                e.set |= c.bit;
                e.values.*c.field = (float)v;
                known = true;
            }
        if (!known) {
            *why = "unknown control '" + key + "'";
            return false;
        }
    }
    // Keep the events ordered by tick; equal ticks keep their text order.
    auto at = std::upper_bound(s->events.begin(), s->events.end(), e.tick,
                               [](int t, const sim_script_event& x) { return t < x.tick; });
    s->events.insert(at, e);
    return true;
}

bool sim_script_read(sim_script* s, data_stream* in, const char* name, std::string* why)
{
    char buffer[1002];
    int number = 0;
    while (stream_gets(in, buffer, sizeof buffer)) {
        number++;
        const size_t n = strlen(buffer);
        std::string reason;
        const bool too_long = n == sizeof buffer - 1 && buffer[n - 1] != '\n';
        if (too_long)
            reason = "line too long";
        if (too_long || !sim_script_add_line(s, buffer, &reason)) {
            *why = std::string(name) + ":" + std::to_string(number) + ": " + reason;
            return false;
        }
    }
    return true;
}

bool sim_script_load(sim_script* s, const char* path, std::string* why)
{
    data_stream* in = open_data_file(path, "rb");
    if (!in) {
        *why = std::string("can't open script '") + path + "'";
        return false;
    }
    const bool ok = sim_script_read(s, in, path, why);
    close_data_file(in);
    return ok;
}

control_input sim_script_at(const sim_script& s, int tick)
{
    control_input c;
    c.clutch = 1;
    for (const sim_script_event& e : s.events) {
        if (e.tick > tick)
            break;
        for (const control_key& k : kControlKeys)
            if (e.set & k.bit)
                c.*k.field = e.values.*k.field;
        if (e.set & control_shift)
            c.shift = e.values.shift;
    }
    return c;
}

sim_bike_state sim_bike_state_of(const bike* b)
{
    sim_bike_state s;
    const dReal* p = dBodyGetPosition(b->bodies[body_frame]);
    const dReal* v = dBodyGetLinearVel(b->bodies[body_frame]);
    s.position = {(float)p[0], (float)p[1], (float)p[2]};
    s.velocity = {(float)v[0], (float)v[1], (float)v[2]};
    s.speed_mph = bike_forward_speed_mph(b);
    s.rpm = engine_rpm(b);
    s.gear = b->gear + 1;
    s.fork_travel = -(float)dJointGetSliderPosition(b->joints[joint_fork_slider]) / b->params.fork_travel;
    s.shock_travel = -(float)dJointGetHingeAngle(b->joints[joint_swingarm_pivot]) / b->params.swingarm_travel;
    s.front_depth = b->front_contact.depth;
    s.rear_depth = b->rear_contact.depth;
    s.roll = bike_roll(b);
    const dReal* r = dBodyGetRotation(b->bodies[body_frame]);
    s.pitch = std::asin(clampf((float)-r[6], -1.0f, 1.0f));
    s.steer_angle = (float)dJointGetHingeAngle(b->joints[joint_steering_head]);
    s.crash_timer = b->crash_timer;
    s.crash_count = b->crash_count;
    s.dab = b->dab_amount;
    return s;
}

// ---- messages ---------------------------------------------------------------------

bool sim_load_track(track* t, const char* name, std::string* why)
{
    // Every line the load adds stays visible until printed here.
    clear_messages();
    const int shown = g_messages.max_visible;
    g_messages.max_visible = MESSAGE_RING;
    const bool ok = track_load(t, name, track_load_flags());
    for (int i = g_messages.visible - 1; i >= 0; i--)
        if (const char* line = visible_message(i))
            fprintf(stderr, "kessrig-sim: %s: %s\n", name, line);
    clear_messages();
    g_messages.max_visible = shown;
    if (!ok)
        *why = std::string("can't load track '") + name + "'";
    return ok;
}

// ---- command lines ----------------------------------------------------------------

int sim_fail(const std::string& message)
{
    fprintf(stderr, "kessrig-sim: %s\n", message.c_str());
    return 1;
}

bool sim_parse_long(const char* text, long lo, long hi, long* out)
{
    char* end = nullptr;
    errno = 0;
    const long v = strtol(text, &end, 10);
    if (end == text || *end || errno != 0 || v < lo || v > hi)
        return false;
    *out = v;
    return true;
}

bool sim_parse_number(const char* text, double lo, double hi, double* out)
{
    char* end = nullptr;
    const double v = strtod(text, &end);
    if (end == text || *end || !std::isfinite(v) || v < lo || v > hi)
        return false;
    *out = v;
    return true;
}

// ---- printing ---------------------------------------------------------------------

namespace {

std::string time_text(int ticks)
{
    char text[32];
    results_time_text(ticks, text, (int)sizeof text);
    const char* t = text;
    while (*t == ' ')
        t++;
    return t;
}

std::string lap_text(const track_timing* t, const bike* b, int lap, int start_tick)
{
    return time_text((int)lround(lap_time(t, b, lap, start_tick) * (double)TICKS_PER_SECOND));
}

}  // namespace

void sim_print_ranking(const world* w, const std::function<const char*(int slot)>& driver_of)
{
    const track_timing* t = &w->track.timing_gates;
    const race_state& race = w->race;
    const bool final = race.results_final;
    const ranking_entry* list = final ? race.results_ranking : race.ranking;
    const int count = final ? race.results_count : race.ranking_count;
    printf("%s\n", final ? "Final Results" : "Unofficial Results");
    for (int i = 0; i < count; i++) {
        const ranking_entry& e = list[i];
        const bike* b = race.slots[e.slot].b;
        const int best = best_lap(t, b, race.start_tick);
        printf("pos=%d slot=%d number=%s model=%s driver=%s laps=%d total=%s best_lap=%d best=%s penalty=%.3f "
               "finished=%s\n",
               i + 1, e.slot, b->number_text, bike_model_name(b), driver_of(e.slot), lap_count(t, e.progress),
               time_text(e.last_tick - race.start_tick).c_str(), best, lap_text(t, b, best, race.start_tick).c_str(),
               e.penalty / (double)TICKS_PER_SECOND, b->finished ? "yes" : "no");
    }
    for (int i = 0; i < count; i++) {
        const bike* b = race.slots[list[i].slot].b;
        printf("lap_times slot=%d:", list[i].slot);
        const int laps = lap_count(t, b->gate_progress);
        for (int lap = 1; lap <= laps; lap++)
            printf(" %s", lap_text(t, b, lap, race.start_tick).c_str());
        printf("\n");
    }
}
