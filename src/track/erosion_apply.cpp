// The application stage: points from the queue dig the terrain and pile the
// removed dirt behind the wheel.
#include <cmath>

#include "track/erosion.h"
#include "track/erosion_internal.h"
#include "track/heightfield.h"
#include "track/surface.h"

namespace {

using erosion_detail::clamp_or_low;
using erosion_detail::params_at;

constexpr float k_defer_radius_sq = 100.0f;  // 10 ft around the local rider
// A brush wider than this many samples can only come from a broken surface
// table; it is narrowed so one point cannot stall the tick.
constexpr float k_max_brush_samples = 128.0f;
// Positions this many samples off the grid change nothing on it.
constexpr float k_far_samples = 1.0e8f;

// The square of samples a brush of radius around (x, z) covers: rows
// cz - n/2 + 1 .. cz + n/2 and the same columns.
struct brush {
    float fx = 0, fz = 0;  // the centre in samples
    float r = 0;           // radius in samples
    int n = 0;             // side of the square (even)
    int cx = 0, cz = 0;
    bool valid = false;
};

brush brush_at(const heightfield* hf, float x, float z, float radius)
{
    brush b;
    if (!(hf->spacing > 0))
        return b;
    b.fx = x / hf->spacing;
    b.fz = z / hf->spacing;
    if (!(fabsf(b.fx) < k_far_samples && fabsf(b.fz) < k_far_samples))
        return b;
    b.r = radius / hf->spacing;
    if (!(b.r > 0))
        return b;
    if (b.r > k_max_brush_samples)
        b.r = k_max_brush_samples;
    b.n = 2 * (int)ceilf(b.r);
    b.cx = (int)floorf(b.fx);
    b.cz = (int)floorf(b.fz);
    b.valid = true;
    return b;
}

// 1 - 3t^2 + 2t^3 at t = distance / radius: 1 at the centre, 0 at the rim,
// flat at both ends.
float brush_weight(const brush& b, int col, int row)
{
    const float dx = b.fx - (float)col, dz = b.fz - (float)row;
    const float d = sqrtf(dx * dx + dz * dz);
    if (d > b.r)
        return 0.0f;
    const float t = d / b.r;
    return 1.0f - 3.0f * t * t + 2.0f * t * t * t;
}

// Tells the renderer which samples changed (the square, clipped to the
// grid) and counts the modification.
void mark_changed(heightfield* hf, const brush& b)
{
    if (b.valid && g_erosion_hooks.mark_dirty) {
        const int last = hf->sample_count - 1;
        int c0 = b.cx - b.n / 2 + 1, c1 = b.cx + b.n / 2;
        int r0 = b.cz - b.n / 2 + 1, r1 = b.cz + b.n / 2;
        c0 = c0 < 0 ? 0 : c0;
        r0 = r0 < 0 ? 0 : r0;
        c1 = c1 > last ? last : c1;
        r1 = r1 > last ? last : r1;
        if (c0 <= c1 && r0 <= r1)
            g_erosion_hooks.mark_dirty(g_erosion_hooks.context, hf, c0, r0, c1, r1);
    }
    hf->modify_count++;
}

void apply_point(heightfield* hf, const erode_point& pt, int erosion_rate)
{
    const erode_params* p = params_at(hf, pt.x, pt.z);
    float r = (float)erosion_rate / 1024.0f / 2048.0f;

    const float m = sqrtf(pt.dir_x * pt.dir_x + pt.dir_z * pt.dir_z);
    const float e = clamp_or_low((m - 0.125f) * 1.1428572f, 0.0f, 1.0f);
    const float disp = e * p->erode_displacement;
    // A point without a direction piles where it digs.
    float x2 = pt.x, z2 = pt.z;
    if (m > 0) {
        x2 = pt.x - disp * pt.dir_x / m;
        z2 = pt.z - disp * pt.dir_z / m;
    }

    const float h = heightfield_height_at(hf, pt.x, pt.z);
    const float l = heightfield_height_at(hf, x2, z2);
    const float diff = l - h;
    const float depth = hf->loaded_heights ? heightfield_loaded_height_at(hf, pt.x, pt.z) - h : 0.0f;
    // Dirt is not thrown up a steep bank, nor down a cliff.
    if (!(disp * p->erode_min_slope <= diff && diff <= disp * p->erode_max_slope))
        return;
    if (diff < 0 && disp != 0)
        r *= 1.0f + (h - l) / disp * p->erode_downhill_scale;

    float dig_scale, inner_scale;
    erosion_limit_scales(p, depth, &dig_scale, &inner_scale);
    const float removed1 =
        erosion_dig(hf, pt.x, pt.z, p->erode_radius, -((float)pt.weight * dig_scale * r * p->erode_depth));
    const float removed2 =
        erosion_dig(hf, pt.x, pt.z, p->erode_inner_radius, -(inner_scale * r * p->erode_inner_depth));
    erosion_pile(hf, x2, z2, p->erode_radius, -(removed1 + removed2));
}

}  // namespace

void erosion_limit_scales(const erode_params* p, float depth, float* dig_scale, float* inner_scale)
{
    int c = p->limit_count;
    c = c > ERODE_LIMITS ? ERODE_LIMITS : c;
    if (c <= 0) {
        // No rows: nothing limits the digging.
        *dig_scale = 1.0f;
        *inner_scale = 1.0f;
        return;
    }
    const float* d = p->limit_depth;
    float f = 0.0f;
    if (c >= 2 && !(depth < d[0])) {
        int i = 1;
        while (i < c && !(depth < d[i]))
            i++;
        if (i == c)
            f = (float)(c - 1);
        else
            f = (float)(i - 1) + (depth - d[i - 1]) / (d[i] - d[i - 1]);
    }
    const float whole = floorf(f);
    int k = (int)whole;
    k = k < 0 ? 0 : (k > c - 1 ? c - 1 : k);
    const int k1 = k + 1 > c - 1 ? c - 1 : k + 1;
    const float t = f - whole;
    *dig_scale = p->limit_dig[k] + (p->limit_dig[k1] - p->limit_dig[k]) * t;
    *inner_scale = p->limit_inner_dig[k] + (p->limit_inner_dig[k1] - p->limit_inner_dig[k]) * t;
}

float erosion_dig(heightfield* hf, float x, float z, float radius, float amount)
{
    if (amount == 0 || !std::isfinite(amount) || !hf->heights)
        return 0.0f;
    const brush b = brush_at(hf, x, z, radius);
    float sum = 0.0f;
    if (b.valid) {
        for (int row = b.cz - b.n / 2 + 1; row <= b.cz + b.n / 2; row++) {
            for (int col = b.cx - b.n / 2 + 1; col <= b.cx + b.n / 2; col++) {
                const float w = brush_weight(b, col, row);
                if (w == 0.0f)
                    continue;
                heightfield_set_height(hf, col, row, heightfield_sample(hf, col, row) + amount * w);
                sum += amount * w;
            }
        }
    }
    mark_changed(hf, b);
    return sum;
}

void erosion_pile(heightfield* hf, float x, float z, float radius, float volume)
{
    if (!std::isfinite(volume) || !hf->heights)
        return;
    const brush b = brush_at(hf, x, z, radius);
    if (b.valid) {
        float total = 0.0f;
        for (int row = b.cz - b.n / 2 + 1; row <= b.cz + b.n / 2; row++)
            for (int col = b.cx - b.n / 2 + 1; col <= b.cx + b.n / 2; col++)
                total += brush_weight(b, col, row);
        if (total < 1.0f)
            total = 1.0f;
        for (int row = b.cz - b.n / 2 + 1; row <= b.cz + b.n / 2; row++) {
            for (int col = b.cx - b.n / 2 + 1; col <= b.cx + b.n / 2; col++) {
                const float w = brush_weight(b, col, row);
                if (w == 0.0f)
                    continue;
                heightfield_set_height(hf, col, row, heightfield_sample(hf, col, row) + volume * w / total);
            }
        }
    }
    mark_changed(hf, b);
}

int erosion_apply(erode_queue* q, heightfield* hf, int now, int erosion_rate, const vec3* local_rider)
{
    if (erosion_rate <= 0 || !hf || !hf->heights)
        return 0;
    if (q->defer_deadline < now) {
        // Held back long enough: this tick the rider's position does not count.
        q->defer_deadline = INT_MAX;
        local_rider = nullptr;
    }
    int budget = q->queue_count / 64 + 32;
    int applied = 0;
    while (budget > 0 && q->queue_count > 0) {
        const erode_point pt = q->points[q->queue_head];
        if (local_rider) {
            const float dx = pt.x - local_rider->x, dz = pt.z - local_rider->z;
            // Digging under the own wheels would shake the bike the player
            // rides; such points wait until the rider has moved on.
            if (dx * dx + dz * dz < k_defer_radius_sq)
                break;
        }
        q->queue_head = (q->queue_head + 1) & (ERODE_QUEUE_SIZE - 1);
        q->queue_count--;
        budget--;
        apply_point(hf, pt, erosion_rate);
        applied++;
        q->defer_deadline = INT_MAX;
    }
    if (q->queue_count > 0) {
        const long long later = (long long)now + ERODE_DEFER_TICKS;
        const int deadline = later > INT_MAX ? INT_MAX : (int)later;
        if (deadline < q->defer_deadline)
            q->defer_deadline = deadline;
    }
    return applied;
}
