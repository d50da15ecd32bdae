// The runner's world tick, its scripted controls and the upright aid.
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
#include "bike/drivetrain.h"
#include "bike/physics.h"
#include "bike/suspension.h"
#include "core/messages.h"
#include "files/datafs.h"
#include "track/surface.h"

namespace {

using clock_type = std::chrono::steady_clock;

const float PI = 3.14159265358979f;
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

// ---- the upright aid ----

// The rider mount lets the torso swing freely up and down (about a point
// far ahead); the rider's own springs come with the rider step. Until then
// two stiff soft contacts between rider and frame, along the frame's up and
// fore-aft axes, pull the torso back to its seat (one constraint row each,
// as the rider's springs will cost).
void seat_rider(const sim_upright_aid& aid, bike* b)
{
    dBodyID rider = b->bodies[body_rider], frame = b->bodies[body_frame];
    if (!rider || !dJointGetBody(b->joints[joint_rider_mount], 0))
        return;
    const vec3 rp = b->params.rider_pos, fp = b->params.frame_pos;
    dVector3 seat;
    dBodyGetRelPointPos(frame, rp.x - fp.x, rp.y - fp.y, rp.z - fp.z, seat);
    const dReal* at = dBodyGetPosition(rider);
    const dReal d[3] = {seat[0] - at[0], seat[1] - at[1], seat[2] - at[2]};
    float erp, cfm;
    contact_soft_params(aid.seat_spring, aid.seat_damping, &erp, &cfm);
    for (int axis = 1; axis <= 2; axis++) {
        dVector3 a;
        dBodyVectorToWorld(frame, 0.0, axis == 1 ? 1.0 : 0.0, axis == 2 ? 1.0 : 0.0, a);
        const dReal e = d[0] * a[0] + d[1] * a[1] + d[2] * a[2];
        if (std::fabs(e) < 1e-6)
            continue;
        const dReal sign = e > 0 ? 1.0 : -1.0;
        dContact c = {};
        c.surface.mode = dContactSoftERP | dContactSoftCFM;
        c.surface.soft_erp = erp;
        c.surface.soft_cfm = cfm;
        c.geom.pos[0] = at[0];
        c.geom.pos[1] = at[1];
        c.geom.pos[2] = at[2];
        c.geom.normal[0] = sign * a[0];
        c.geom.normal[1] = sign * a[1];
        c.geom.normal[2] = sign * a[2];
        c.geom.depth = std::fabs(e);
        dJointID j = dJointCreateContact(physics_world(), physics_contact_group(), &c);
        dJointAttach(j, rider, frame);
    }
}

void aid_apply(const sim_upright_aid& aid, bike* b)
{
    if (!aid.on)
        return;
    // Lean: a spring and damper about the frame's own fore-aft (z) axis;
    // turning about +z leans the bike to the left (positive roll).
    dBodyID frame = b->bodies[body_frame];
    const dReal* w = dBodyGetAngularVel(frame);
    dVector3 z;
    dBodyVectorToWorld(frame, 0.0, 0.0, 1.0, z);
    const float roll_rate = (float)(w[0] * z[0] + w[1] * z[1] + w[2] * z[2]);
    const float lean = clampf(-aid.roll_spring * sim_frame_roll(b) - aid.roll_damping * roll_rate,
                              -aid.max_roll_torque, aid.max_roll_torque);
    dBodyAddRelTorque(frame, 0.0, 0.0, lean);
    seat_rider(aid, b);
    // Steering toward steer x pi/8 (a positive angle turns left, as steer).
    dJointID head = b->joints[joint_steering_head];
    const float target = b->steer * PI / 8.0f;
    const float angle = (float)dJointGetHingeAngle(head);
    const float rate = (float)dJointGetHingeAngleRate(head);
    dJointAddHingeTorque(head, clampf(aid.steer_spring * (target - angle) - aid.steer_damping * rate,
                                      -aid.max_steer_torque, aid.max_steer_torque));
}

void apply_controls(bike* b, const sim_controls& c)
{
    b->throttle = clampf(c.throttle, 0.0f, 1.0f);
    b->clutch = clampf(c.clutch, 0.0f, 1.0f);
    b->front_brake = clampf(c.front_brake, 0.0f, 1.0f);
    b->rear_brake = clampf(c.rear_brake, 0.0f, 1.0f);
    b->steer = clampf(c.steer, -1.0f, 1.0f);
    b->lean = clampf(c.lean, -1.0f, 1.0f);
    b->sit_dab = clampf(c.sit_dab, 0.0f, 1.0f);
    b->back_up = clampf(c.back_up, 0.0f, 1.0f);
    shift(b, c.shift);
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
    g_world_rng.seed(0);
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
    std::vector<sim_spot> spots;
    char word[81] = {};
    if (stream_scan(in, "%80s", word) != 1 || strcmp(word, "startinggate:") != 0)
        return spots;
    char line[1100];
    while (spots.size() < 160 && stream_gets(in, line, sizeof line)) {
        float x, y, z, a;
        if (sscanf(line, " [ %f %f %f ] %f", &x, &y, &z, &a) != 4) {
            // The rest of the header line is skipped; any other line that
            // is not a piece ends the section.
            if (strspn(line, " \t\r\n") == strlen(line) && spots.empty())
                continue;
            break;
        }
        if (!std::isfinite(x) || !std::isfinite(z) || !std::isfinite(a))
            continue;
        // Angles outside -pi..pi are brought into it.
        const double pi = 3.14159265358979323846;
        const double u = ((double)a + pi) / (2 * pi);
        a = (float)((u - std::floor(u)) * 2 * pi - pi);
        spots.push_back({x, z, a});
    }
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

int sim_world_add_bike(sim_world* w, const char* model, float x, float z, float angle, bool with_aid)
{
    bike* b = create_bike(model, (int)w->riders.size(), "1", nullptr, nullptr, nullptr, nullptr);
    apply_bike_setup(b, &g_bike_setup, false);
    bike_set_auto_shift(b, 1);
    sim_rider r;
    r.b = b;
    w->riders.push_back(r);
    const int index = (int)w->riders.size() - 1;
    place_bike_at_start(b, &w->ground, x, z, angle, heightfield_height_at(&w->ground, x, z));
    if (with_aid)
        sim_world_set_aid(w, index, true);
    return index;
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
}

void sim_world_set_aid(sim_world* w, int rider, bool on)
{
    sim_rider& r = w->riders[(size_t)rider];
    r.aid.on = on;
}

void sim_world_tick(sim_world* w)
{
    sim_tick_profile* profile = w->profile;
    clock_type::time_point t0, t1, t2;
    if (profile)
        t0 = clock_type::now();
    for (sim_rider& r : w->riders)
        apply_controls(r.b, r.script ? sim_script_at(*r.script, w->tick) : sim_controls());
    for (sim_rider& r : w->riders)
        bike_touches_ground(r.b, &w->ground);
    if (w->roost)
        for (sim_rider& r : w->riders)
            bike_emit_roost(r.b, &w->ground, w->roost.get(), w->roost_density, w->tick, false, &g_world_rng);
    if (profile)
        t1 = clock_type::now();
    for (sim_rider& r : w->riders) {
        apply_suspension(r.b);
        drivetrain_step(r.b, w->tick);
        aid_apply(r.aid, r.b);
    }
    if (profile)
        t2 = clock_type::now();
    physics_step();
    if (w->roost)
        roost_move(w->roost.get(), &w->ground);
    w->tick++;
    if (profile) {
        const clock_type::time_point t3 = clock_type::now();
        profile->contacts += std::chrono::duration<double>(t1 - t0).count();
        profile->forces += std::chrono::duration<double>(t2 - t1).count();
        profile->step += std::chrono::duration<double>(t3 - t2).count();
        profile->ticks++;
    }
}

void sim_world_free(sim_world* w)
{
    for (sim_rider& r : w->riders)
        destroy_bike(r.b);
    w->riders.clear();
    heightfield_free(&w->ground);
    w->tick = 0;
}

// ---- reading the state ------------------------------------------------------------

float sim_frame_roll(const bike* b)
{
    const dReal* r = dBodyGetRotation(b->bodies[body_frame]);
    // Forward is the frame's -z axis, up its y axis (columns of R).
    const float fx = (float)-r[2], fz = (float)-r[10];
    const float ux = (float)r[1], uy = (float)r[5], uz = (float)r[9];
    float sx = -fz, sz = fx;
    const float len = std::sqrt(sx * sx + sz * sz);
    if (!(len > 0.0f))
        return 0.0f;
    sx /= len;
    sz /= len;
    (void)uy;
    return std::acos(clampf(ux * sx + uz * sz, -1.0f, 1.0f)) - PI / 2.0f;
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
