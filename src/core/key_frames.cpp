#include "core/key_frames.h"

#include <cmath>

namespace {

// One component along the segment a -> b with the neighbours p before a and
// q after b; s, sp, sn the lengths in ticks of the segment, the one before
// and the one after.
double hermite(double a, double b, double p, double q, double s, double sp, double sn, double u)
{
    if (s <= 0)
        return a;
    const double ta = sp > 0 ? ((b - a) + (a - p) * s / sp) * 0.5 : 0.0;
    const double tb = sn > 0 ? ((b - a) + (q - b) * s / sn) * 0.5 : 0.0;
    return a + ta * u + (3 * (b - a) - 2 * ta - tb) * u * u + (ta + tb + 2 * (a - b)) * u * u * u;
}

// q, or -q when it points away from to: the same turn, on to's side.
void align(const float q[4], const float to[4], double out[4])
{
    const double d = (double)q[0] * to[0] + (double)q[1] * to[1] + (double)q[2] * to[2] + (double)q[3] * to[3];
    const double s = d < 0 ? -1.0 : 1.0;
    for (int i = 0; i < 4; i++)
        out[i] = s * q[i];
}

}  // namespace

void key_frames_insert(key_frame_list* list, const camera_key& k)
{
    auto at = list->keys.begin();
    while (at != list->keys.end() && at->tick <= k.tick)
        ++at;
    list->keys.insert(at, k);
}

void key_rotation_from_yaw_pitch(float yaw, float pitch, float out[4])
{
    const double cy = cos(yaw * 0.5), sy = sin(yaw * 0.5), cp = cos(pitch * 0.5), sp = sin(pitch * 0.5);
    out[0] = (float)(cy * sp);
    out[1] = (float)(sy * cp);
    out[2] = (float)(-sy * sp);
    out[3] = (float)(cy * cp);
}

bool key_frame_pose(const key_frame_list& list, int tick, camera_key* out)
{
    const std::vector<camera_key>& k = list.keys;
    const int count = (int)k.size();
    if (count == 0)
        return false;
    int i = 0;
    while (i < count && k[(size_t)i].tick <= tick)
        i++;
    if (i == 0 || i == count) {
        *out = k[(size_t)(i == 0 ? 0 : count - 1)];
        out->tick = tick;
        return true;
    }
    const camera_key& a = k[(size_t)(i - 1)];
    const camera_key& b = k[(size_t)i];
    const camera_key& p = k[(size_t)(i >= 2 ? i - 2 : 0)];
    const camera_key& q = k[(size_t)(i + 1 < count ? i + 1 : count - 1)];
    // Tick differences in double: key files may hold any 32-bit ticks.
    const double s = (double)b.tick - a.tick;
    const double sp = (double)a.tick - p.tick;
    const double sn = (double)q.tick - b.tick;
    double u = s > 0 ? ((double)tick - a.tick) / s : 0.0;
    u = u < 0 ? 0 : (u > 1 ? 1 : u);

    const float av[3] = {a.position.x, a.position.y, a.position.z};
    const float bv[3] = {b.position.x, b.position.y, b.position.z};
    const float pv[3] = {p.position.x, p.position.y, p.position.z};
    const float qv[3] = {q.position.x, q.position.y, q.position.z};
    float pos[3];
    for (int c = 0; c < 3; c++)
        pos[c] = (float)hermite(av[c], bv[c], pv[c], qv[c], s, sp, sn, u);

    // q and -q are the same turn; interpolating between opposite signs
    // would pass through zero and spin the camera the long way round.
    double ra[4], rp[4], rq[4];
    align(a.rotation, b.rotation, ra);
    align(p.rotation, b.rotation, rp);
    align(q.rotation, b.rotation, rq);
    double r[4], norm = 0;
    for (int c = 0; c < 4; c++) {
        r[c] = hermite(ra[c], b.rotation[c], rp[c], rq[c], s, sp, sn, u);
        norm += r[c] * r[c];
    }
    norm = sqrt(norm);
    camera_key result;
    result.position = {pos[0], pos[1], pos[2]};
    for (int c = 0; c < 4; c++)
        result.rotation[c] = norm > 0 ? (float)(r[c] / norm) : (c == 3 ? 1.0f : 0.0f);
    result.fov = (float)(a.fov + u * ((double)b.fov - a.fov));
    result.tick = tick;
    *out = result;
    return true;
}
