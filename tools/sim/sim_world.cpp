// The runner's world tick and its scripted controls.
#include "sim_world.h"

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bike/bike.h"
#include "bike/catalogue.h"
#include "bike/contact.h"
#include "bike/controls.h"
#include "bike/drivetrain.h"
#include "bike/physics.h"
#include "bike/rider.h"
#include "bike/suspension.h"
#include "bike/world_step.h"
#include "core/messages.h"
#include "files/datafs.h"
#include "race/gates.h"
#include "scripted_rider.h"
#include "track/surface.h"
#include "track/track.h"

namespace {

using clock_type = std::chrono::steady_clock;

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
    float sim_controls::*field;
};

const control_key kControlKeys[] = {
    {"throttle", control_throttle, &sim_controls::throttle},
    {"clutch", control_clutch, &sim_controls::clutch},
    {"front", control_front_brake, &sim_controls::front_brake},
    {"rear", control_rear_brake, &sim_controls::rear_brake},
    {"steer", control_steer, &sim_controls::steer},
    {"lean", control_lean, &sim_controls::lean},
    {"sit", control_sit_dab, &sim_controls::sit_dab},
    {"backup", control_back_up, &sim_controls::back_up},
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

void apply_controls(bike* b, const sim_controls& c)
{
    control_input in;
    in.throttle = c.throttle;
    in.clutch = c.clutch;
    in.front_brake = c.front_brake;
    in.rear_brake = c.rear_brake;
    in.steer = c.steer;
    in.lean = c.lean;
    in.sit_dab = c.sit_dab;
    in.back_up = c.back_up;
    in.shift = c.shift;
    apply_control_input(b, &in);
}

bool finite3(const dReal* v)
{
    return std::isfinite(v[0]) && std::isfinite(v[1]) && std::isfinite(v[2]);
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

sim_controls sim_script_at(const sim_script& s, int tick)
{
    sim_controls c;
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

// ---- the world --------------------------------------------------------------------

namespace {

void start_world(sim_world* w)
{
    physics_create(&w->physics);
    w->physics.rng.seed(0);
    if (!w->roost)
        w->roost.reset(new roost_pool());
    roost_pool_reset(w->roost.get());
}

}  // namespace

bool sim_world_load_track(sim_world* w, const char* track, std::string* why)
{
    heightfield_free(&w->ground);
    start_world(w);
    const std::string dir = strchr(track, '/') ? std::string(track) : "@" + std::string(track);
    if (!heightfield_load_ground(&w->ground, dir.c_str(), 0)) {
        *why = "can't load the ground of track '" + std::string(track) + "'";
        const char* last = visible_message(0);
        if (last)
            *why += std::string(": ") + last;
        return false;
    }
    return true;
}

std::vector<sim_spot> sim_gate_spots_read(data_stream* in)
{
    // The track loader's own reader; the runner makes no gate objects.
    std::unique_ptr<track_timing> timing(new track_timing());
    read_timing_gates(timing.get(), in, nullptr, 0);
    std::vector<sim_spot> spots;
    for (int i = 0; i < timing->piece_count; i++) {
        const start_gate_piece& p = timing->pieces[i];
        spots.push_back({p.position.x, p.position.z, p.angle});
    }
    timing_gates_clear(timing.get());
    return spots;
}

std::vector<sim_spot> sim_track_gate_spots(const char* track)
{
    const std::string name =
        (strchr(track, '/') ? std::string(track) : "@" + std::string(track)) + "/timing_gates";
    data_stream* in = open_data_file(name.c_str(), "rb");
    if (!in)
        return std::vector<sim_spot>();
    std::vector<sim_spot> spots = sim_gate_spots_read(in);
    close_data_file(in);
    return spots;
}

std::vector<sim_spot> sim_row_spots(const std::vector<sim_spot>& gate, int count, sim_spot fallback, float spacing)
{
    std::vector<sim_spot> row;
    if (count <= 0)
        return row;
    if ((int)gate.size() >= count) {
        const int first = ((int)gate.size() - count) / 2;
        row.assign(gate.begin() + first, gate.begin() + first + count);
        return row;
    }
    // Facing (-sin a, -cos a); the rider's right is (cos a, -sin a).
    const float rx = std::cos(fallback.angle), rz = -std::sin(fallback.angle);
    for (int i = 0; i < count; i++) {
        const float offset = ((float)i - 0.5f * (float)(count - 1)) * spacing;
        row.push_back({fallback.x + rx * offset, fallback.z + rz * offset, fallback.angle});
    }
    return row;
}

void sim_world_take_ground(sim_world* w, heightfield* hf)
{
    heightfield_free(&w->ground);
    w->ground = *hf;
    *hf = heightfield();
    start_world(w);
}

int sim_world_add_bike(sim_world* w, const char* model, float x, float z, float angle)
{
    bike* b = create_bike(&w->physics, model, (int)w->riders.size(), "1", nullptr, nullptr, nullptr, nullptr);
    apply_bike_setup(b, &w->setup, false);
    bike_set_auto_shift(b, 1);
    sim_rider r;
    r.b = b;
    w->riders.push_back(r);
    place_bike_at_start(b, &w->ground, x, z, angle, heightfield_height_at(&w->ground, x, z));
    return (int)w->riders.size() - 1;
}

void sim_bike_launch(bike* b, float speed)
{
    dVector3 forward;
    dBodyVectorToWorld(b->bodies[body_frame], 0.0, 0.0, -1.0, forward);
    for (int i = 0; i < bike_body_count; i++)
        if (b->bodies[i])
            dBodySetLinearVel(b->bodies[i], forward[0] * speed, forward[1] * speed, forward[2] * speed);
    // Rolling forward turns a wheel backwards about its own x axis.
    const struct {
        int body;
        float radius;
    } wheels[2] = {{body_front_wheel, b->params.front_tyre_ring_radius + b->params.front_tyre_section_radius},
                   {body_rear_wheel, b->params.rear_tyre_ring_radius + b->params.rear_tyre_section_radius}};
    for (const auto& w : wheels) {
        dVector3 axle;
        dBodyVectorToWorld(b->bodies[w.body], 1.0, 0.0, 0.0, axle);
        const float spin = -speed / w.radius;
        dBodySetAngularVel(b->bodies[w.body], axle[0] * spin, axle[1] * spin, axle[2] * spin);
    }
    // The lowest gear that keeps the engine below its upshift speed.
    const float wheel_rate = speed / wheels[1].radius;
    for (b->gear = 0; b->gear < GEAR_COUNT - 1; b->gear++) {
        const int next = select_gear(b->params.gear_ratio, b->gear, 1);
        if (next == b->gear || overall_ratio(b) * wheel_rate * ENGINE_RPM_PER_RAD_S <= b->params.upshift_rpm)
            break;
    }
    b->engine_speed = overall_ratio(b) * wheel_rate;
    b->engine_angle = (float)dJointGetHingeAngle(b->joints[joint_rear_axle]);
    // The rider has been riding along: his recent velocity is this one.
    for (vec3& v : b->rider_velocity_history)
        v = {(float)forward[0] * speed, (float)forward[1] * speed, (float)forward[2] * speed};
}

void sim_world_tick(sim_world* w)
{
    sim_tick_profile* profile = w->profile;
    clock_type::time_point t0, t1, t2, t3, tc0, tc1;
    if (profile)
        t0 = clock_type::now();
    const int count = (int)std::min(w->riders.size(), (size_t)WORLD_MAX_RIDERS);
    world_rider riders[WORLD_MAX_RIDERS];
    for (int i = 0; i < count; i++) {
        sim_rider& r = w->riders[(size_t)i];
        sim_controls c = r.script ? sim_script_at(*r.script, w->tick) : sim_controls();
        if (r.follow) {
            const ride_command rc = scripted_rider_drive(r.follow, r.b);
            c.throttle = rc.throttle;
            c.clutch = rc.clutch;
            c.front_brake = rc.front_brake;
            c.rear_brake = rc.rear_brake;
            c.steer = rc.steer;
            c.lean = rc.lean;
        }
        apply_controls(r.b, c);
        riders[i].b = r.b;
    }
    world_tick_state s;
    s.world.ground = &w->ground;
    s.world.tick = w->tick;
    s.world.start_tick = w->start_tick;
    s.roost = w->roost.get();
    s.roost_density = w->roost_density;
    s.rng = &w->physics.rng;
    if (profile)
        tc0 = clock_type::now();
    world_collide(&s, riders, count);
    if (profile)
        tc1 = clock_type::now();
    world_throw_roost(&s, riders, count);
    if (profile)
        t1 = clock_type::now();
    physics_step(&w->physics);
    if (profile)
        t2 = clock_type::now();
    world_bike_steps(&s, riders, count);
    if (profile)
        t3 = clock_type::now();
    if (w->roost)
        roost_move(w->roost.get(), &w->ground);
    w->tick++;
    if (profile) {
        const clock_type::time_point t4 = clock_type::now();
        profile->contacts += std::chrono::duration<double>((t1 - t0) + (t4 - t3)).count();
        profile->step += std::chrono::duration<double>(t2 - t1).count();
        profile->forces += std::chrono::duration<double>(t3 - t2).count();
        profile->controls += std::chrono::duration<double>(tc0 - t0).count();
        profile->collide += std::chrono::duration<double>(tc1 - tc0).count();
        profile->roost += std::chrono::duration<double>((t1 - tc1) + (t4 - t3)).count();
        profile->ticks++;
    }
}

void sim_world_free(sim_world* w)
{
    for (sim_rider& r : w->riders)
        destroy_bike(r.b);
    w->riders.clear();
    heightfield_free(&w->ground);
    physics_destroy(&w->physics);
    w->tick = 0;
}

// ---- reading the state ------------------------------------------------------------

float sim_frame_roll(const bike* b)
{
    return bike_roll(b);
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
    s.roll = sim_frame_roll(b);
    const dReal* r = dBodyGetRotation(b->bodies[body_frame]);
    s.pitch = std::asin(clampf((float)-r[6], -1.0f, 1.0f));
    s.steer_angle = (float)dJointGetHingeAngle(b->joints[joint_steering_head]);
    s.crash_timer = b->crash_timer;
    s.crash_count = b->crash_count;
    s.dab = b->dab_amount;
    return s;
}

bool sim_bike_finite(const bike* b)
{
    for (int i = 0; i < bike_body_count; i++) {
        dBodyID body = b->bodies[i];
        if (!body)
            continue;
        if (!finite3(dBodyGetPosition(body)) || !finite3(dBodyGetLinearVel(body)) ||
            !finite3(dBodyGetAngularVel(body)))
            return false;
    }
    return std::isfinite(b->engine_speed) && std::isfinite(b->engine_angle);
}

namespace {

void hash_bytes(uint64_t* h, const void* data, size_t size)
{
    const unsigned char* p = (const unsigned char*)data;
    for (size_t i = 0; i < size; i++) {
        *h ^= p[i];
        *h *= 1099511628211ull;
    }
}

void hash_reals(uint64_t* h, const dReal* v, int n)
{
    for (int i = 0; i < n; i++) {
        // +0 and -0 differ in their bits, as they should for "bit-identical".
        const double d = (double)v[i];
        hash_bytes(h, &d, sizeof d);
    }
}

}  // namespace

uint64_t sim_world_state_hash(const sim_world& w)
{
    uint64_t h = 14695981039346656037ull;
    for (const sim_rider& r : w.riders) {
        const bike* b = r.b;
        for (int i = 0; i < bike_body_count; i++) {
            dBodyID body = b->bodies[i];
            if (!body)
                continue;
            hash_reals(&h, dBodyGetPosition(body), 3);
            hash_reals(&h, dBodyGetQuaternion(body), 4);
            hash_reals(&h, dBodyGetLinearVel(body), 3);
            hash_reals(&h, dBodyGetAngularVel(body), 3);
        }
        hash_bytes(&h, &b->engine_speed, sizeof b->engine_speed);
        hash_bytes(&h, &b->engine_angle, sizeof b->engine_angle);
        hash_bytes(&h, &b->crash_count, sizeof b->crash_count);
    }
    return h;
}
