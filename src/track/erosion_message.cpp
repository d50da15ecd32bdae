// Packing and unpacking of erosion messages (layout in track/erosion.h).
// The packer measures each step from the position the unpacker will decode
// for the previous point, so the rounding of one step never carries into
// the next; both sides share the decoding below.
#include <cmath>
#include <cstring>

#include "track/erosion.h"
#include "track/erosion_internal.h"

namespace {

using erosion_detail::clamp_or_low;

constexpr float k_range_pad = 1.0f / 16.0f;

void put16(uint8_t* p, uint32_t v)
{
    p[0] = (uint8_t)(v & 0xff);
    p[1] = (uint8_t)((v >> 8) & 0xff);
}
void put24(uint8_t* p, uint32_t v)
{
    p[0] = (uint8_t)(v & 0xff);
    p[1] = (uint8_t)((v >> 8) & 0xff);
    p[2] = (uint8_t)((v >> 16) & 0xff);
}
uint32_t get16(const uint8_t* p)
{
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8);
}
uint32_t get24(const uint8_t* p)
{
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16);
}

// The step byte of one axis and the position it decodes to.
uint8_t step_byte(float target, float previous, float lo, float hi)
{
    const float span = hi - lo;
    if (!(span > 0))
        return 0;
    const float step = clamp_or_low(target - previous, lo, hi);
    const float q = (step - lo) / span * 255.0f + 0.5f;
    return (uint8_t)(q >= 255.0f ? 255 : (q > 0 ? (int)q : 0));
}
float step_value(float previous, uint8_t q, float lo, float hi)
{
    return previous + lo + (float)q / 255.0f * (hi - lo);
}

int weight_bits(int weight)
{
    return weight & 15;  // sixteen samples travel as 0
}

}  // namespace

uint16_t erode_q16(float v)
{
    const float q = (clamp_or_low(v, -1024.0f, 1024.0f) + 1024.0f) * (1.0f / 2048.0f) * 65535.0f + 0.5f;
    return (uint16_t)(q >= 65535.0f ? 65535 : (int)q);
}

float erode_q16_value(uint16_t q)
{
    return (float)q / 65535.0f * 2048.0f - 1024.0f;
}

uint32_t erode_q24(float v, float extent)
{
    if (!(extent > 0))
        return 0;
    // 24 bits do not fit a float's mantissa with the half added.
    const double q = (double)(clamp_or_low(v, 0.0f, extent) / extent) * 16777215.0 + 0.5;
    return q >= 16777215.0 ? 16777215u : (uint32_t)q;
}

float erode_q24_value(uint32_t q, float extent)
{
    return (float)q / 16777215.0f * extent;
}

uint8_t erode_dirbyte(float c)
{
    const float q = (clamp_or_low(c, -1.0f, 1.0f) + 1.0f) * 0.5f * 255.0f + 0.5f;
    const int b = q >= 255.0f ? 255 : (int)q;
    return (uint8_t)(b & ~3);
}

float erode_dirbyte_value(uint8_t b)
{
    return clamp_or_low((float)(b >> 2) / 64.0f, 0.0f, 1.0f) * 2.0f - 1.0f;
}

int erode_message_pack(const erode_point* points, int count, float delta_min_x, float delta_min_z,
                       float delta_max_x, float delta_max_z, float extent, uint8_t* out)
{
    if (count < 1 || count > ERODE_TRAIL_POINTS)
        return 0;
    const uint16_t q_min_x = erode_q16(delta_min_x - k_range_pad);
    const uint16_t q_min_z = erode_q16(delta_min_z - k_range_pad);
    const uint16_t q_max_x = erode_q16(delta_max_x + k_range_pad);
    const uint16_t q_max_z = erode_q16(delta_max_z + k_range_pad);
    const float min_x = erode_q16_value(q_min_x), min_z = erode_q16_value(q_min_z);
    const float max_x = erode_q16_value(q_max_x), max_z = erode_q16_value(q_max_z);
    out[0] = 1;
    put16(out + 1, q_min_x);
    put16(out + 3, q_min_z);
    put16(out + 5, q_max_x);
    put16(out + 7, q_max_z);

    const uint32_t qx = erode_q24(points[0].x, extent), qz = erode_q24(points[0].z, extent);
    put24(out + 9, qx);
    put24(out + 12, qz);
    int w = weight_bits(points[0].weight);
    out[15] = (uint8_t)(erode_dirbyte(points[0].dir_x) | (w & 3));
    out[16] = (uint8_t)(erode_dirbyte(points[0].dir_z) | (w >> 2));

    float x = erode_q24_value(qx, extent), z = erode_q24_value(qz, extent);
    uint8_t* p = out + ERODE_MESSAGE_HEADER;
    for (int k = 1; k < count; k++, p += 4) {
        const uint8_t sx = step_byte(points[k].x, x, min_x, max_x);
        const uint8_t sz = step_byte(points[k].z, z, min_z, max_z);
        x = step_value(x, sx, min_x, max_x);
        z = step_value(z, sz, min_z, max_z);
        w = weight_bits(points[k].weight);
        p[0] = sx;
        p[1] = sz;
        p[2] = (uint8_t)(erode_dirbyte(points[k].dir_x) | (w & 3));
        p[3] = (uint8_t)(erode_dirbyte(points[k].dir_z) | (w >> 2));
    }
    return ERODE_MESSAGE_HEADER + 4 * (count - 1);
}

int erode_message_point_count(const uint8_t* message, int length)
{
    if (!message || length < ERODE_MESSAGE_HEADER || message[0] != 1)
        return 0;
    return ((length - ERODE_MESSAGE_HEADER) >> 2) + 1;
}

namespace {

// Decodes the points of a message in order, handing each to f until f
// returns false; returns how many were handed over.
template <typename F>
int walk_points(const uint8_t* message, int length, float extent, F f)
{
    const int count = erode_message_point_count(message, length);
    if (count == 0)
        return 0;
    const float min_x = erode_q16_value((uint16_t)get16(message + 1));
    const float min_z = erode_q16_value((uint16_t)get16(message + 3));
    const float max_x = erode_q16_value((uint16_t)get16(message + 5));
    const float max_z = erode_q16_value((uint16_t)get16(message + 7));
    float x = erode_q24_value(get24(message + 9), extent);
    float z = erode_q24_value(get24(message + 12), extent);
    uint8_t bx = message[15], bz = message[16];
    for (int k = 0;;) {
        erode_point pt;
        pt.x = x;
        pt.z = z;
        pt.dir_x = erode_dirbyte_value(bx);
        pt.dir_z = erode_dirbyte_value(bz);
        pt.weight = (bx & 3) | ((bz & 3) << 2);
        k++;
        if (!f(pt) || k == count)
            return k;
        const uint8_t* p = message + ERODE_MESSAGE_HEADER + 4 * (k - 1);
        x = step_value(x, p[0], min_x, max_x);
        z = step_value(z, p[1], min_z, max_z);
        bx = p[2];
        bz = p[3];
    }
}

}  // namespace

int erode_message_unpack(const uint8_t* message, int length, float extent, erode_point* out, int max)
{
    if (max <= 0)
        return 0;
    int written = 0;
    walk_points(message, length, extent, [&](const erode_point& p) {
        out[written++] = p;
        return written < max;
    });
    return written;
}

int erode_message_enqueue(erode_queue* q, const uint8_t* message, int length, float extent)
{
    int queued = 0;
    walk_points(message, length, extent, [&](const erode_point& p) {
        if (erode_queue_push(q, p))
            queued++;
        return true;
    });
    return queued;
}
