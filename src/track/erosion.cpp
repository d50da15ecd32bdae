// Erosion sampling per wheel, the batching of points into trails, their
// delivery, the program's queue and the world tick's erosion step.
#include "track/erosion.h"

#include <cmath>

#include "bike/bike.h"
#include "core/messages.h"
#include "track/erosion_internal.h"
#include "track/heightfield.h"
#include "track/surface.h"

erosion_hooks g_erosion_hooks;

namespace {

using namespace erosion_detail;

constexpr int k_pending_max = 16;        // samples averaged into one point
constexpr float k_point_spacing = 0.5f;  // feet of travel per point
constexpr float k_batch_span = 64.0f;    // feet a batch's steps may span
constexpr int k_idle_ticks = 64;         // ticks without a point before a batch goes

void set_ranges_to_step(erode_trail* t, const erode_point& from, const erode_point& to)
{
    const float sx = to.x - from.x, sz = to.z - from.z;
    t->delta_min_x = t->delta_max_x = sx;
    t->delta_min_z = t->delta_max_z = sz;
}

void widen_ranges(erode_trail* t, const erode_point& from, const erode_point& to)
{
    const float sx = to.x - from.x, sz = to.z - from.z;
    if (sx < t->delta_min_x)
        t->delta_min_x = sx;
    if (sx > t->delta_max_x)
        t->delta_max_x = sx;
    if (sz < t->delta_min_z)
        t->delta_min_z = sz;
    if (sz > t->delta_max_z)
        t->delta_max_z = sz;
}

void clear_pending(erode_trail* t)
{
    t->sum_x = t->sum_z = t->sum_dir_x = t->sum_dir_z = 0;
    t->pending_samples = 0;
}

// Turns the pending samples into the trail's next point.
void emit_pending(erode_queue* q, erode_trail* t, const heightfield* hf, int now)
{
    const int n = t->pending_samples;
    if (n <= 0)
        return;
    if (t->point_count >= ERODE_TRAIL_POINTS) {
        erosion_deliver(q, t, ERODE_TRAIL_POINTS, hf);
        t->point_count = 0;
    }
    const int b = t->point_count;
    const float samples = (float)n;
    erode_point& p = t->points[b];
    p.x = t->sum_x / samples;
    p.z = t->sum_z / samples;
    p.dir_x = t->sum_dir_x / samples;
    p.dir_z = t->sum_dir_z / samples;
    p.weight = n;
    clear_pending(t);

    if (b == 1) {
        set_ranges_to_step(t, t->points[0], t->points[1]);
    } else if (b >= 2) {
        const float min_x = t->delta_min_x, min_z = t->delta_min_z;
        const float max_x = t->delta_max_x, max_z = t->delta_max_z;
        widen_ranges(t, t->points[b - 1], t->points[b]);
        const float span_x = t->delta_max_x - t->delta_min_x;
        const float span_z = t->delta_max_z - t->delta_min_z;
        const float span = span_x > span_z ? span_x : span_z;
        if (span > k_batch_span) {
            // The batch goes out with the ranges of its own steps (the new
            // step would only coarsen their quantisation); the new point
            // starts the next batch.
            t->delta_min_x = min_x;
            t->delta_min_z = min_z;
            t->delta_max_x = max_x;
            t->delta_max_z = max_z;
            erosion_deliver(q, t, b, hf);
            t->delta_min_x = t->delta_min_z = t->delta_max_x = t->delta_max_z = 0;
            t->points[0] = t->points[b];
            t->point_count = 1;
            t->last_emit_tick = now;
            return;
        }
    }
    t->point_count = b + 1;
    t->last_emit_tick = now;
}

const erode_params k_default_params;

}  // namespace

const erode_params* erosion_detail::params_at(const heightfield* hf, float x, float z)
{
    if (!hf || !hf->surfaces || hf->surface_count <= 0)
        return &k_default_params;
    int index = heightfield_surface_at(hf, x, z);
    if (index < 0 || index >= hf->surface_count)
        index = 0;
    return &hf->surfaces[index].erode;
}

// ---- sampling ------------------------------------------------------------------

bool erosion_wheel_sample(const wheel_contact* w, vec3 body_velocity, const erode_params* p, erode_point* out)
{
    if (!(w->depth > 0))
        return false;
    const float speed = sqrtf(body_velocity.x * body_velocity.x + body_velocity.y * body_velocity.y +
                              body_velocity.z * body_velocity.z);
    const float speed_f = ramp(speed, p->erode_off_speed, p->erode_on_speed);
    const vec3 slip = w->point_velocity;
    const float slip_speed = sqrtf(slip.x * slip.x + slip.y * slip.y + slip.z * slip.z);
    const float slip_f = ramp(slip_speed, p->erode_slip_lower, p->erode_slip_upper);
    const float scale = p->erode_slip_base_scale + (p->erode_slip_scale - p->erode_slip_base_scale) * slip_f;
    const float fx = (float)w->feedback.f1[0] * speed_f * scale;
    const float fz = (float)w->feedback.f1[2] * speed_f * scale;
    const float m2 = fx * fx + fz * fz;
    // Written as comparisons that fail for a non-number.
    if (!(m2 > p->erode_lower * p->erode_lower && m2 > 1.0f / 1024.0f) || !std::isfinite(m2))
        return false;
    const float m = sqrtf(m2);
    const float strength = ramp(m, p->erode_lower, p->erode_upper);
    const float k = (strength * 0.875f + 0.125f) / m;
    out->x = w->point.x;
    out->z = w->point.z;
    out->dir_x = fx * k;
    out->dir_z = fz * k;
    out->weight = 1;
    return true;
}

void erosion_trail_add(erode_queue* q, erode_trail* t, const erode_point& sample, const heightfield* hf, int now)
{
    float d = 0;
    if (t->pending_samples > 0) {
        const float dx = sample.x - t->last_x, dz = sample.z - t->last_z;
        d = sqrtf(dx * dx + dz * dz);
    }
    t->last_x = sample.x;
    t->last_z = sample.z;
    if (t->pending_samples < k_pending_max && t->travelled + d < k_point_spacing) {
        t->sum_x += sample.x;
        t->sum_z += sample.z;
        t->sum_dir_x += sample.dir_x;
        t->sum_dir_z += sample.dir_z;
        t->travelled += d;
        t->pending_samples++;
        return;
    }
    const bool full = t->pending_samples >= k_pending_max;
    const float carried = t->travelled + d - k_point_spacing;
    emit_pending(q, t, hf, now);
    t->sum_x = sample.x;
    t->sum_z = sample.z;
    t->sum_dir_x = sample.dir_x;
    t->sum_dir_z = sample.dir_z;
    t->pending_samples = 1;
    // Travel beyond the half foot counts toward the next point, unless the
    // point was cut short by the sample count or a whole point's worth was
    // skipped.
    t->travelled = (full || !(carried < k_point_spacing)) ? 0.0f : carried;
}

void erosion_trail_idle(erode_queue* q, erode_trail* t, const heightfield* hf, int now)
{
    if (t->point_count < 1 || !((long long)now > (long long)t->last_emit_tick + k_idle_ticks))
        return;
    emit_pending(q, t, hf, now);
    if (t->point_count >= 1)
        erosion_deliver(q, t, t->point_count, hf);
    *t = erode_trail{};
}

void erosion_sample_wheel(erode_queue* q, erode_trail* t, const wheel_contact* w, const heightfield* hf, int now)
{
    erode_point sample;
    bool have = false;
    if (w->depth > 0 && w->body) {
        const dReal* v = dBodyGetLinearVel(w->body);
        const vec3 velocity = {(float)v[0], (float)v[1], (float)v[2]};
        have = erosion_wheel_sample(w, velocity, params_at(hf, w->point.x, w->point.z), &sample);
    }
    if (have)
        erosion_trail_add(q, t, sample, hf, now);
    else
        erosion_trail_idle(q, t, hf, now);
}

void erosion_sample_bike(erode_queue* q, bike* b, const heightfield* hf, int now)
{
    erosion_sample_wheel(q, &b->front_trail, &b->front_contact, hf, now);
    erosion_sample_wheel(q, &b->rear_trail, &b->rear_contact, hf, now);
}

void erosion_deliver(erode_queue* q, const erode_trail* t, int count, const heightfield* hf)
{
    if (count <= 0 || !hf)
        return;
    if (count > ERODE_TRAIL_POINTS)
        count = ERODE_TRAIL_POINTS;
    uint8_t message[ERODE_MESSAGE_MAX];
    const int length = erode_message_pack(t->points, count, t->delta_min_x, t->delta_min_z, t->delta_max_x,
                                          t->delta_max_z, hf->extent, message);
    if (length <= 0)
        return;
    if (q->outlet.send)
        q->outlet.send(q->outlet.context, message, length);
    else
        erode_message_enqueue(q, message, length, hf->extent);
}

// ---- the queue -------------------------------------------------------------------

bool erode_queue_push(erode_queue* q, const erode_point& p)
{
    if (q->queue_count >= ERODE_QUEUE_SIZE) {
        if (!q->full_reported) {
            q->full_reported = true;
            add_message("Erode queue full!");
        }
        return false;
    }
    q->points[(q->queue_head + q->queue_count) & (ERODE_QUEUE_SIZE - 1)] = p;
    q->queue_count++;
    return true;
}

void erode_queue_clear(erode_queue* q)
{
    q->queue_count = 0;
    q->queue_head = 0;
    q->defer_deadline = INT_MAX;
}

// ---- the world tick ----------------------------------------------------------------

void erosion_world_step(erode_queue* q, heightfield* hf, bike* const* bikes, int bike_count, int now, int erosion_rate,
                        const vec3* local_rider)
{
    if (!hf || !hf->heights || erosion_rate <= 0)
        return;
    for (int i = 0; i < bike_count; i++)
        if (bikes[i])
            erosion_sample_bike(q, bikes[i], hf, now);
    const int frozen = hf->frozen;
    hf->frozen = 0;
    erosion_apply(q, hf, now, erosion_rate, local_rider);
    hf->frozen = frozen;
}
