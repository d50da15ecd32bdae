// The software picture of a terrain texture tile: the surface tiles of its
// cells (each drawn with a 1/16 margin cut off on every side), the decals
// that touch it (each texel taking its share of the decal), then the baked
// lighting multiplied in at twice its stored value. Pictures are sampled
// as GL samples a texture made by texture_create (bilinear within the
// nearest mip level, edges clamped or repeated), and each stage is rounded
// to bytes as a frame buffer would, so the result matches a tile drawn by
// GL. No GL here.
#include <algorithm>
#include <cmath>

#include "render/picture.h"
#include "render/terrain_internal.h"
#include "track/objects.h"

namespace terrain_detail {

namespace {

const float MARGIN = 0.0625f;        // of a surface texture, each side
const float SPAN = 1.0f - 2 * MARGIN;

inline int wrap(int i, int n, bool repeat)
{
    if (repeat)
        return ((i % n) + n) % n;
    return i < 0 ? 0 : (i >= n ? n - 1 : i);
}

inline uint8_t to_byte(float v)
{
    return (uint8_t)std::min(std::max(v + 0.5f, 0.0f), 255.0f);
}

// The mip level GL takes for a scale factor rho with GL_LINEAR magnification
// and GL_LINEAR_MIPMAP_NEAREST minification.
int mip_level_for(const picture_source& p, float rho)
{
    if (p.levels <= 1 || !(rho > 0.0f))
        return 0;
    const float lambda = log2f(rho);
    if (lambda <= 0.5f)
        return 0;
    const int d = (int)ceilf(lambda + 0.5f) - 1;
    return std::min(d, p.levels - 1);
}

// Bilinear lighting value at a sample position (clamped access).
float lighting_at(const heightfield* hf, const uint8_t* map, float col, float row, int channel)
{
    const int last = hf->sample_count - 1;
    const int c = (int)floorf(col), r = (int)floorf(row);
    const float a = col - (float)c, b = row - (float)r;
    auto at = [&](int cc, int rr) {
        cc = cc < 0 ? 0 : (cc > last ? last : cc);
        rr = rr < 0 ? 0 : (rr > last ? last : rr);
        return (float)map[3 * ((size_t)cc + (size_t)rr * hf->sample_count) + channel];
    };
    const float top = at(c, r) + (at(c + 1, r) - at(c, r)) * a;
    const float bottom = at(c, r + 1) + (at(c + 1, r + 1) - at(c, r + 1)) * a;
    return top + (bottom - top) * b;
}

}  // namespace

void sample_picture(const picture_source& p, float s, float t, float rho, float rgba[4])
{
    if (p.chain.empty() || p.width <= 0 || p.height <= 0) {
        rgba[0] = rgba[1] = rgba[2] = rgba[3] = 255.0f;
        return;
    }
    const int level = mip_level_for(p, rho);
    int w, h;
    mip_level_size(p.width, p.height, level, &w, &h);
    const unsigned char* px = p.chain.data() + mip_level_offset(p.width, p.height, p.channels, level);
    const float x = s * (float)w - 0.5f, y = t * (float)h - 0.5f;
    const int i0 = (int)floorf(x), j0 = (int)floorf(y);
    const float a = x - (float)i0, b = y - (float)j0;
    const int xa = wrap(i0, w, p.repeat_s), xb = wrap(i0 + 1, w, p.repeat_s);
    const int ya = wrap(j0, h, p.repeat_t), yb = wrap(j0 + 1, h, p.repeat_t);
    const int ch = p.channels;
    for (int c = 0; c < 4; c++) {
        if (c >= ch) {
            rgba[c] = 255.0f;
            continue;
        }
        const float p00 = px[((size_t)ya * w + xa) * ch + c], p10 = px[((size_t)ya * w + xb) * ch + c];
        const float p01 = px[((size_t)yb * w + xa) * ch + c], p11 = px[((size_t)yb * w + xb) * ch + c];
        const float top = p00 + (p10 - p00) * a;
        const float bottom = p01 + (p11 - p01) * a;
        rgba[c] = top + (bottom - top) * b;
    }
}

void decal_corners(const heightfield* hf, const decal* d, float corners[4][2])
{
    const float inv = 1.0f / hf->spacing;
    const float cx = d->x * inv, cz = d->z * inv;
    const float sx = d->size * d->aspect * d->cos_angle * inv, sz = -d->size * d->aspect * d->sin_angle * inv;
    const float tx = d->size * d->sin_angle * inv, tz = d->size * d->cos_angle * inv;
    static const float st[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    for (int k = 0; k < 4; k++) {
        const float a = st[k][0] - 0.5f, b = st[k][1] - 0.5f;
        corners[k][0] = cx + a * sx + b * tx;
        corners[k][1] = cz + a * sz + b * tz;
    }
}

decal_spread decal_spread_in_tile(const float corners[4][2], float samples_per_texel)
{
    decal_spread spread;
    const float sx = corners[1][0] - corners[0][0], sz = corners[1][1] - corners[0][1];
    const float tx = corners[3][0] - corners[0][0], tz = corners[3][1] - corners[0][1];
    const float s_len2 = sx * sx + sz * sz, t_len2 = tx * tx + tz * tz;
    // A square texel seen along a unit direction (ux, uz) is
    // samples_per_texel * (|ux| + |uz|) wide; over the axis length, in
    // texture coordinates.
    if (s_len2 > 0.0f)
        spread.ramp_s = samples_per_texel * (fabsf(sx) + fabsf(sz)) / s_len2;
    if (t_len2 > 0.0f)
        spread.ramp_t = samples_per_texel * (fabsf(tx) + fabsf(tz)) / t_len2;
    return spread;
}

float decal_axis_share(float v, float ramp)
{
    if (!(ramp > 0.0f))
        return v >= 0.0f && v < 1.0f ? 1.0f : 0.0f;
    const float lo = std::max(v - 0.5f * ramp, 0.0f), hi = std::min(v + 0.5f * ramp, 1.0f);
    return hi > lo ? (hi - lo) / ramp : 0.0f;
}

void decals_touching(const heightfield* hf, int col0, int row0, int samples, std::vector<int>* out)
{
    out->clear();
    const decal_set* set = hf->decals;
    if (!set || set->count == 0 || !(hf->extent > 0.0f))
        return;
    const float x0 = (float)col0 * hf->spacing, x1 = (float)(col0 + samples) * hf->spacing;
    const float z0 = (float)row0 * hf->spacing, z1 = (float)(row0 + samples) * hf->spacing;
    auto bin = [&](float v) {
        const float f = floorf(v / hf->extent * (float)OBJECT_BINS);
        return f < 0 ? 0 : (f > OBJECT_BINS - 1 ? OBJECT_BINS - 1 : (int)f);
    };
    for (int i = bin(x0); i <= bin(x1); i++)
        for (int j = bin(z0); j <= bin(z1); j++) {
            const index_list& cell = set->bins.cells[i][j];
            out->insert(out->end(), cell.items, cell.items + cell.count);
        }
    std::sort(out->begin(), out->end());
    out->erase(std::unique(out->begin(), out->end()), out->end());
    size_t kept = 0;
    for (int idx : *out) {
        if (idx < 0 || idx >= set->count)
            continue;
        const decal* d = &set->items[idx];
        float hx, hz;
        decal_half_extents(d, &hx, &hz);
        if (d->x + hx < x0 || d->x - hx > x1 || d->z + hz < z0 || d->z - hz > z1)
            continue;
        (*out)[kept++] = idx;
    }
    out->resize(kept);
}

void compose_tile(const compose_inputs& in, int col0, int row0, int samples, int texels, uint8_t* rgb)
{
    const heightfield* hf = in.hf;
    const int cells = 1 << hf->grid_log2;
    const float per_texel = (float)samples / (float)texels;  // samples per texel

    // Surfaces: each cell shows the middle 7/8 of its surface picture.
    for (int v = 0; v < texels; v++) {
        const float row = (float)row0 + ((float)v + 0.5f) * per_texel;
        const float cz_f = row * 0.5f;
        const int cz = std::min(std::max((int)floorf(cz_f), 0), cells - 1);
        const float ft = cz_f - (float)cz;
        for (int u = 0; u < texels; u++) {
            const float col = (float)col0 + ((float)u + 0.5f) * per_texel;
            const float cx_f = col * 0.5f;
            const int cx = std::min(std::max((int)floorf(cx_f), 0), cells - 1);
            const float fs = cx_f - (float)cx;
            uint8_t* out = rgb + 3 * ((size_t)v * texels + u);
            int surface = hf->tilemap ? hf->tilemap[(size_t)cz * cells + cx] : 0;
            if (surface >= hf->surface_count)
                surface = hf->surface_count - 1;
            float c[4] = {255, 255, 255, 255};
            if (surface >= 0 && in.surfaces) {
                const picture_source& p = in.surfaces[surface];
                const float rho = SPAN * 0.5f * per_texel * (float)std::max(p.width, p.height);
                sample_picture(p, MARGIN + SPAN * fs, MARGIN + SPAN * ft, rho, c);
            }
            for (int k = 0; k < 3; k++)
                out[k] = to_byte(c[k]);
        }
    }

    // Decals in list order, alpha-blended.
    std::vector<int> touching;
    if (in.decals)
        decals_touching(hf, col0, row0, samples, &touching);
    for (int idx : touching) {
        const decal* d = &hf->decals->items[idx];
        if (!in.decals[idx] || in.decals[idx]->chain.empty())
            continue;
        const picture_source& p = *in.decals[idx];
        float corner[4][2];
        decal_corners(hf, d, corner);
        const float ox = corner[0][0], oz = corner[0][1];
        const float sx = corner[1][0] - ox, sz = corner[1][1] - oz;  // s axis, samples
        const float tx = corner[3][0] - ox, tz = corner[3][1] - oz;  // t axis
        const float s_len2 = sx * sx + sz * sz, t_len2 = tx * tx + tz * tz;
        if (!(s_len2 > 0.0f) || !(t_len2 > 0.0f))
            continue;
        // Texture coordinate change per texel along the tile's two axes.
        const float dsdx = per_texel * sx / s_len2, dtdx = per_texel * tx / t_len2;
        const float dsdy = per_texel * sz / s_len2, dtdy = per_texel * tz / t_len2;
        const float pw = (float)p.width, ph = (float)p.height;
        const float rho = std::max(sqrtf(dsdx * pw * dsdx * pw + dtdx * ph * dtdx * ph),
                                   sqrtf(dsdy * pw * dsdy * pw + dtdy * ph * dtdy * ph));
        const decal_spread spread = decal_spread_in_tile(corner, per_texel);
        float lo_c = corner[0][0], hi_c = lo_c, lo_r = corner[0][1], hi_r = lo_r;
        for (int k = 1; k < 4; k++) {
            lo_c = std::min(lo_c, corner[k][0]);
            hi_c = std::max(hi_c, corner[k][0]);
            lo_r = std::min(lo_r, corner[k][1]);
            hi_r = std::max(hi_r, corner[k][1]);
        }
        // A texel takes a share while its centre is within half its width
        // (seen along a decal axis, at most 0.71 texels) of the decal.
        const int u0 = std::max((int)floorf((lo_c - (float)col0) / per_texel - 1.5f), 0);
        const int u1 = std::min((int)ceilf((hi_c - (float)col0) / per_texel + 0.5f), texels - 1);
        const int v0 = std::max((int)floorf((lo_r - (float)row0) / per_texel - 1.5f), 0);
        const int v1 = std::min((int)ceilf((hi_r - (float)row0) / per_texel + 0.5f), texels - 1);
        for (int v = v0; v <= v1; v++) {
            const float row = (float)row0 + ((float)v + 0.5f) * per_texel;
            for (int u = u0; u <= u1; u++) {
                const float col = (float)col0 + ((float)u + 0.5f) * per_texel;
                const float s = ((col - ox) * sx + (row - oz) * sz) / s_len2;
                const float t = ((col - ox) * tx + (row - oz) * tz) / t_len2;
                const float share = decal_axis_share(s, spread.ramp_s) * decal_axis_share(t, spread.ramp_t);
                if (!(share > 0.0f))
                    continue;
                float c[4];
                sample_picture(p, s, t, rho, c);
                const float a = c[3] / 255.0f * share;
                uint8_t* out = rgb + 3 * ((size_t)v * texels + u);
                for (int k = 0; k < 3; k++)
                    out[k] = to_byte(c[k] * a + (float)out[k] * (1.0f - a));
            }
        }
    }

    // Lighting, stored at half intensity: twice the destination times it.
    if (in.lighting) {
        for (int v = 0; v < texels; v++) {
            const float row = (float)row0 + ((float)v + 0.5f) * per_texel;
            for (int u = 0; u < texels; u++) {
                const float col = (float)col0 + ((float)u + 0.5f) * per_texel;
                uint8_t* out = rgb + 3 * ((size_t)v * texels + u);
                for (int k = 0; k < 3; k++) {
                    const float l = lighting_at(hf, in.lighting, col, row, k);
                    out[k] = to_byte(2.0f * (float)out[k] * l / 255.0f);
                }
            }
        }
    }
}

}  // namespace terrain_detail
