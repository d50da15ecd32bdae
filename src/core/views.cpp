#include "core/views.h"

#include <cmath>
#include <cstdio>

#include "bike/bike.h"
#include "core/command_line.h"
#include "core/frame_timing.h"
#include "core/settings.h"
#include "race/gates.h"
#include "race/race.h"
#include "race/world.h"
#include "render/scene.h"
#include "track/heightfield.h"

using namespace vecmath;

namespace {

constexpr float pi = 3.14159265358979f;
constexpr float dt = (float)TICK_SECONDS;

float clampf(float v, float lo, float hi)
{
    return v < lo ? lo : (v > hi ? hi : v);
}

float wrap(float a)
{
    if (!std::isfinite(a))
        return 0.0f;
    a = fmodf(a + pi, 2.0f * pi);
    if (a < 0)
        a += 2.0f * pi;
    return a - pi;
}

// Moves v toward target by at most step.
float approach(float v, float target, float step)
{
    if (target > v + step)
        return v + step;
    if (target < v - step)
        return v - step;
    return target;
}

const bike* slot_bike(const world* w, int slot)
{
    return w && slot >= 0 && slot < RACE_SLOTS ? w->race.slots[slot].b : nullptr;
}

// The rotation of a body as the camera stores it (3 x 3, row by row).
void body_rotation(dBodyID body, float out[9])
{
    const dReal* r = dBodyGetRotation(body);
    for (int row = 0; row < 3; row++)
        for (int col = 0; col < 3; col++)
            out[row * 3 + col] = (float)r[row * 4 + col];
}

vec3 body_point(dBodyID body, vec3 local)
{
    dVector3 p;
    dBodyGetRelPointPos(body, local.x, local.y, local.z, p);
    return v3((float)p[0], (float)p[1], (float)p[2]);
}

// The ground around a point, averaged over 10 ft either way, so that a
// camera does not bob over every bump it passes above.
float ground_around(const heightfield* hf, float x, float z)
{
    if (!hf || !hf->heights)
        return -1e30f;
    float sum = 0;
    int n = 0;
    for (int i = -2; i <= 2; i++)
        for (int j = -2; j <= 2; j++) {
            sum += heightfield_height_at(hf, x + 5.0f * (float)i, z + 5.0f * (float)j);
            n++;
        }
    return sum / (float)n;
}

bool player_rides(const world* w)
{
    const int p = w->race.player_slot;
    return p >= 0 && p < RACE_SLOTS && w->race.slots[p].b && w->race.slots[p].driver == slot_driver_local;
}

// A free camera that has never been used starts above and behind the
// rider it is to watch (above the middle of the ground without one).
void place_free_camera(view_state* v, const world* w, const bike* b)
{
    track_camera& c = v->free_camera;
    if (b) {
        const vec3 at = bike_frame_position(b);
        c.position = v3(at.x + 25.0f, at.y + 12.0f, at.z + 25.0f);
    } else {
        const heightfield& hf = w->track.heightfield;
        const float middle = 0.5f * hf.spacing * (float)(hf.sample_count > 0 ? hf.sample_count - 1 : 0);
        c.position = v3(middle, hf.height_max + 50.0f, middle);
    }
    c.yaw = c.pitch = c.yaw_rate = c.pitch_rate = 0;
    v->free_camera_placed = true;
    v->cut = true;
}

track_camera* selected_track_camera(view_state* v, world* w)
{
    const camera_set& cams = w->track.cameras;
    if (v->selected_camera >= 0 && v->selected_camera < cams.count)
        return &cams.items[v->selected_camera];
    return nullptr;
}

}  // namespace

view_settings current_view_settings()
{
    view_settings s;
    s.fov = (float)g_settings.fov;
    s.first_person_height = (float)g_settings.first_person_height;
    s.first_person_angle = (float)g_settings.first_person_angle;
    s.third_person_height = (float)g_settings.third_person_height;
    s.third_person_distance = (float)g_settings.third_person_distance;
    s.rigid_camera = g_settings.rigid_camera != 0;
    s.chase_center = g_options.chase_center;
    s.editor_enabled = g_options.editor;
    return s;
}

void views_new_ride(view_state* v, const world* w)
{
    v->follow_leader = true;
    v->cut = true;
    v->aimed_slot = -1;
    v->zoom_speed = 0;
    const int count = w ? w->track.cameras.count : 0;
    if (v->selected_camera >= count)
        v->selected_camera = count > 0 ? 0 : -1;
    if (v->selected_camera < 0 && count > 0 && !v->free_camera_placed)
        v->selected_camera = 0;
}

const bike* watched_bike(const game_state* g, const world* w)
{
    return slot_bike(w, g->watched_slot);
}

bool riding_own_bike(const game_state* g, const world* w)
{
    return watched_bike(g, w) && w->race.slots[g->watched_slot].driver == slot_driver_local;
}

void update_view_mode(game_state* g, view_state* v, const world* w)
{
    const bool track = g->track_loaded && w && w->track.loaded;
    if (track && g->view_mode == view_no_track)
        g->view_mode = view_rider;
    if (track && v->follow_leader && !player_rides(w) && w->race.ranking_count > 0) {
        const int leader = w->race.ranking[0].slot;
        if (slot_bike(w, leader))
            g->watched_slot = leader;
    }
    if (riding_own_bike(g, w) && g->view_mode == view_track_camera)
        g->view_mode = view_rider;
    if (!watched_bike(g, w))
        g->view_mode = view_track_camera;
    if (!track)
        g->view_mode = view_no_track;
}

int next_view_mode(int mode, bool editor_enabled)
{
    switch (mode) {
    case view_rider:
        return editor_enabled ? view_editor : view_orbit;
    case view_editor:
        return view_orbit;
    case view_orbit:
        return view_track_camera;
    case view_track_camera:
        return view_rider;
    default:
        return mode;
    }
}

// ---- cameras ------------------------------------------------------------------

view_camera rider_view_camera(const bike* b, const view_settings& s)
{
    view_camera c;
    c.fov = s.fov;
    c.rider_view_slot = b->slot;
    const dBodyID rider = b->bodies[body_rider];
    const float k = clampf(s.first_person_height, 0.0f, 1.0f);
    const vec3 low = v3(0.0f, 0.5f, -0.4f), high = v3(0.0f, 1.058383f, -1.193370f);
    c.eye = body_point(rider, add_scaled(low, sub(high, low), k));
    float r[9];
    body_rotation(rider, r);
    // Looking down by the angle turns the up and backward axes about the
    // body's right axis.
    const float a = s.first_person_angle * pi / 180.0f;
    const float ca = cosf(a), sa = sinf(a);
    for (int row = 0; row < 3; row++) {
        const float up = r[row * 3 + 1], back = r[row * 3 + 2];
        c.rotation[row * 3 + 0] = r[row * 3 + 0];
        c.rotation[row * 3 + 1] = ca * up - sa * back;
        c.rotation[row * 3 + 2] = sa * up + ca * back;
    }
    return c;
}

view_camera orbit_view_camera(const bike* b, const heightfield* hf, const orbit_camera& orbit, bool riding,
                              const view_settings& s)
{
    view_camera c;
    c.fov = s.fov;
    const dBodyID frame = b->bodies[body_frame];
    const vec3 centre = body_point(frame, s.chase_center);
    vec3 dir;
    float distance, height;
    if (riding) {
        distance = s.third_person_distance;
        height = s.third_person_height;
        const dReal* r = dBodyGetRotation(frame);
        // The eye goes behind the bike: along the frame's backward axis,
        // or against the direction of travel once the bike goes fast.
        vec3 back = v3((float)r[2], 0.0f, (float)r[10]);
        const float back_len = length(back);
        back = back_len > 1e-4f ? scale(back, 1.0f / back_len) : v3(0, 0, 1);
        dir = back;
        if (!s.rigid_camera) {
            const vec3 vel = bike_frame_velocity(b);
            const float speed = length(vel);
            vec3 against = v3(-vel.x, 0.0f, -vel.z);
            const float h = length(against);
            const float k = clampf((speed - 10.0f) * 0.05f, 0.0f, 1.0f);
            if (k > 0 && h > 1e-4f) {
                const vec3 blend = add(scale(back, 1.0f - k), scale(against, k / h));
                const float n = length(blend);
                if (n > 1e-4f)
                    dir = scale(blend, 1.0f / n);
            }
        }
    } else {
        distance = orbit.distance;
        height = orbit.height;
        dir = v3(sinf(orbit.angle), 0.0f, cosf(orbit.angle));
    }
    c.eye = add_scaled(centre, dir, distance);
    const float over_ground = ground_around(hf, c.eye.x, c.eye.z) + 5.0f;
    c.eye.y = std::fmax(centre.y + height, over_ground);
    camera_look_at(c.eye, centre, c.rotation);
    return c;
}

bool key_frame_camera(const key_frame_list& keys, int tick, view_camera* out)
{
    camera_key k;
    if (!key_frame_pose(keys, tick, &k))
        return false;
    out->eye = k.position;
    out->fov = k.fov;
    out->rider_view_slot = -1;
    camera_from_quaternion(k.rotation[3], k.rotation[0], k.rotation[1], k.rotation[2], out->rotation);
    // Half a turn about the vertical: the renderer's yaw 0 looks along +z.
    for (int col = 0; col < 3; col++) {
        out->rotation[col] = -out->rotation[col];
        out->rotation[6 + col] = -out->rotation[6 + col];
    }
    return true;
}

view_camera track_view_camera(const view_state* v, const world* w, const view_settings& s)
{
    view_camera c;
    if (v->key_frames.keycam && key_frame_camera(v->key_frames, w->race.tick, &c))
        return c;
    const camera_set& cams = w->track.cameras;
    const bool track_cam = v->selected_camera >= 0 && v->selected_camera < cams.count;
    const track_camera& cam = track_cam ? cams.items[v->selected_camera] : v->free_camera;
    c.eye = cam.position;
    c.fov = track_cam ? cam.fov : s.fov;
    camera_from_yaw_pitch(cam.yaw, cam.pitch, c.rotation);
    return c;
}

bool view_camera_for(const view_state* v, const game_state* g, const world* w, const view_settings& s,
                     view_camera* out)
{
    if (!g->track_loaded || !w->track.loaded)
        return false;
    const bike* b = watched_bike(g, w);
    switch (g->view_mode) {
    case view_rider:
        if (!b)
            return false;
        *out = rider_view_camera(b, s);
        return true;
    case view_orbit:
        if (!b)
            return false;
        *out = orbit_view_camera(b, &w->track.heightfield, v->orbit, riding_own_bike(g, w), s);
        return true;
    case view_track_camera:
        *out = track_view_camera(v, w, s);
        return true;
    default:
        return false;
    }
}

void format_orientation(const bike* b, double seconds, const view_camera& c, char* out, int size)
{
    const dReal* r = dBodyGetRotation(b->bodies[body_rider]);
    snprintf(out, (size_t)size, "t=%f p0=%f p1=%f p2=%f x0=%f x1=%f x2=%f z0=%f z1=%f z2=%f\n", seconds, c.eye.x,
             c.eye.y, c.eye.z, r[0], r[4], r[8], r[2], r[6], r[10]);
}

// ---- camera aiming ---------------------------------------------------------------

void aim_camera(track_camera* cam, vec3 bike, vec3 velocity, bool tracking, bool cut, float steer_control,
                float shift_control)
{
    float target_yaw_rate, target_pitch_rate;
    if (tracking) {
        const vec3 ahead = add_scaled(bike, velocity, dt);
        const vec3 d = sub(bike, cam->position), d1 = sub(ahead, cam->position);
        const float h0 = sqrtf(d.x * d.x + d.z * d.z), h1 = sqrtf(d1.x * d1.x + d1.z * d1.z);
        const float yaw0 = atan2f(d.x, d.z);
        const float r = clampf(wrap(atan2f(d1.x, d1.z) - yaw0) / dt, -2 * pi, 2 * pi);
        const float e0 = atan2f(d.y, h0);
        const float re = clampf((atan2f(d1.y, h1) - e0) / dt, -2 * pi, 2 * pi);
        if (cut) {
            cam->yaw = yaw0;
            cam->pitch = e0;
        }
        const float ey = clampf(wrap(yaw0 - cam->yaw), -pi / 2, pi / 2);
        // The bearing's own rate is added only while it turns the way the
        // error does, so that the camera leads a passing rider without
        // overshooting one that turns back.
        target_yaw_rate = ey + (r * ey > 0 ? r : 0.0f);
        const float ep = e0 - cam->pitch;
        target_pitch_rate = (re * ep > 0 ? re : 0.0f) + ep * (pi / 4);
        if (cut) {
            cam->yaw_rate = target_yaw_rate;
            cam->pitch_rate = target_pitch_rate;
        }
    } else {
        target_yaw_rate = steer_control * (3 * pi / 8);
        target_pitch_rate = shift_control * (pi / 4);
    }
    cam->yaw_rate = approach(cam->yaw_rate, target_yaw_rate, pi * dt);
    cam->pitch_rate = approach(cam->pitch_rate, target_pitch_rate, pi * dt);
    cam->yaw = wrap(cam->yaw + cam->yaw_rate * dt);
    cam->pitch = clampf(cam->pitch + cam->pitch_rate * dt, -pi / 2, pi / 2);

    if (tracking && cam->autofovsize > 0) {
        const float distance = length(sub(bike, cam->position));
        if (distance > 1e-3f) {
            const float target = 2.0f * atanf(cam->autofovsize / distance) * (180.0f / pi);
            if (cut) {
                cam->fov = target;
            } else {
                const float diff = target - cam->fov;
                cam->fov = approach(cam->fov, target, (2.0f * fabsf(diff) + 1.0f) * dt);
            }
        }
    }
}

void orbit_controls(orbit_camera* orbit, const float controls[])
{
    orbit->angle = wrap(orbit->angle + controls[0] * (pi / 512));
    if (controls[1] > 0.5f)
        orbit->distance = std::fmax(orbit->distance - 1.0f / 64, 0.25f);
    if (controls[2] > 0.5f)
        orbit->distance += 1.0f / 64;
    orbit->height += controls[4] * dt;
}

void track_camera_controls(view_state* v, world* w, int watched_slot, bool paused, const float controls[],
                           bool sit_dab_rising, float fov)
{
    if (sit_dab_rising)
        v->auto_switch = !v->auto_switch;
    const bike* b = slot_bike(w, watched_slot);
    const camera_set& cams = w->track.cameras;
    if (v->auto_switch && b && selected_track_camera(v, w)) {
        const int checkpoint = race_gate_checkpoint(&w->track.timing_gates, b->gate_progress);
        const int covering = checkpoint >= 0 ? gate_camera(&cams, checkpoint) : -1;
        if (covering >= 0 && covering < cams.count && covering != v->selected_camera) {
            v->selected_camera = covering;
            v->cut = true;
        }
    }
    // Another rider to follow: the director cuts to him rather than
    // panning across the field with a zoom set for the last one.
    if (b && watched_slot != v->aimed_slot)
        v->cut = true;
    track_camera* cam = selected_track_camera(v, w);
    if (!cam) {
        if (!v->free_camera_placed)
            place_free_camera(v, w, b);
        cam = &v->free_camera;
    }
    const bool tracking = v->auto_switch && b;
    const vec3 at = b ? bike_frame_position(b) : cam->position;
    const vec3 velocity = b && !paused ? bike_frame_velocity(b) : v3(0, 0, 0);
    aim_camera(cam, at, velocity, tracking, v->cut && tracking, controls[0], controls[4]);
    if (tracking)
        v->cut = false;
    v->aimed_slot = b ? watched_slot : -1;

    if (controls[1] > 0.5f)
        v->zoom_speed = std::fmin(v->zoom_speed + 80.0f * dt, 100.0f);
    if (controls[2] > 0.5f)
        v->zoom_speed = std::fmax(v->zoom_speed - 80.0f * dt, -100.0f);
    v->zoom_speed = approach(v->zoom_speed, 0.0f, 60.0f * dt);
    track_camera& f = v->free_camera;
    if (fabsf(v->zoom_speed) > 0.0001f) {
        const float d = v->zoom_speed * dt;
        f.position.x += sinf(f.yaw) * cosf(f.pitch) * d;
        f.position.y += sinf(f.pitch) * d;
        f.position.z += cosf(f.yaw) * cosf(f.pitch) * d;
        if (w->track.heightfield.heights)
            f.position.y = std::fmax(f.position.y,
                                     heightfield_height_at(&w->track.heightfield, f.position.x, f.position.z) + 2.0f);
    }
    f.fov = fov;
}

// ---- drawing ---------------------------------------------------------------------

bool place_camera(const view_state* v, const game_state* g, world* w, const view_settings& s, const view_hooks& h,
                  int width, int height, float ghost_fade_distance, FILE* orientation, bool hud_shown)
{
    if (g->view_mode == view_editor) {
        if (h.editor)
            h.editor(h.context, w);
        return false;
    }
    view_camera camera;
    if (!view_camera_for(v, g, w, s, &camera))
        return false;
    if (orientation && g->view_mode == view_rider) {
        char line[256];
        format_orientation(watched_bike(g, w), w->race.tick * TICK_SECONDS, camera, line, (int)sizeof line);
        fputs(line, orientation);
    }
    render_scene(w, camera, width, height, ghost_fade_distance);
    if (g->view_mode == view_track_camera && !(v->key_frames.keycam && !v->key_frames.keys.empty())) {
        const int camera_index = v->selected_camera < w->track.cameras.count ? v->selected_camera : -1;
        if (camera_index >= 0 && h.tv_overlay)
            h.tv_overlay(h.context, w, camera_index);
        if (v->auto_switch && hud_shown && race_slot_recorded(w, g->watched_slot) && h.rider_name)
            h.rider_name(h.context, w->race.slots[g->watched_slot].rider.name);
    }
    return true;
}
