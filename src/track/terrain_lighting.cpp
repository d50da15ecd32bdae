// The terrain lighting rule, shadow casting toward the sun and the terrain
// shader's normal map: what the data generator bakes into "shadingx2.ppm"
// and "shadows.pgm" and what the editor recomputes after an edit.
#include <cmath>
#include <cstring>

#include "files/memory.h"
#include "track/heightfield.h"

namespace {

inline int sample_index(const heightfield* hf, int col, int row)
{
    const int last = hf->sample_count - 1;
    col = col < 0 ? 0 : (col > last ? last : col);
    row = row < 0 ? 0 : (row > last ? last : row);
    return col + row * hf->sample_count;
}

// 127 c truncated toward zero, clamped to -127..127.
inline int normal_byte_offset(float c)
{
    const float v = fminf(fmaxf(127.0f * c, -127.0f), 127.0f);
    return v == v ? (int)v : 0;
}

}  // namespace

void heightfield_light_sample(const heightfield* hf, int col, int row, const terrain_light* light, uint8_t rgb[3])
{
    const vec3 n = heightfield_vertex_normal(hf, col, row);
    const float* sun = light->sun_vector;
    const float facing = fminf(fmaxf(sun[0] * n.x + sun[1] * n.y + sun[2] * n.z, 0.0f), 1.0f);
    const float shadow = hf->shadow_map ? (float)hf->shadow_map[sample_index(hf, col, row)] : 0.0f;
    const float lit = facing * (1.0f - shadow / 255.0f);
    for (int c = 0; c < 3; c++) {
        const float v = 255.0f * (light->sun_color[c] * lit + light->ambient[c]) * 0.5f;
        // fmaxf maps NaN to 0, so the conversion is always defined.
        rgb[c] = (uint8_t)fminf(fmaxf(v, 0.0f), 255.0f);
    }
}

void heightfield_relight_all(heightfield* hf, const terrain_light* light)
{
    const int n = hf->sample_count;
    for (int row = 0; row < n; row++)
        for (int col = 0; col < n; col++)
            heightfield_light_sample(hf, col, row, light, hf->shading_map + 3 * ((size_t)col + (size_t)row * n));
}

int heightfield_relight_dirty(heightfield* hf, const terrain_light* light)
{
    const int n = hf->sample_count;
    const size_t total = (size_t)n * (size_t)n;
    int rewritten = 0;
    for (size_t byte = 0; byte * 8 < total; byte++) {
        const uint8_t shading = hf->shading_dirty ? hf->shading_dirty[byte] : 0;
        const uint8_t normal = hf->normal_dirty ? hf->normal_dirty[byte] : 0;
        if (!(shading | normal))
            continue;
        for (int bit = 0; bit < 8; bit++) {
            const size_t k = byte * 8 + (size_t)bit;
            if (k >= total)
                break;
            const int col = (int)(k % (size_t)n), row = (int)(k / (size_t)n);
            if ((shading >> bit) & 1) {
                heightfield_light_sample(hf, col, row, light, hf->shading_map + 3 * k);
                rewritten++;
            }
            if (((normal >> bit) & 1) && hf->terrain_normal_map)
                heightfield_normal_map_sample(hf, col, row, hf->terrain_normal_map + 3 * k);
        }
        if (hf->shading_dirty)
            hf->shading_dirty[byte] = 0;
        if (hf->normal_dirty)
            hf->normal_dirty[byte] = 0;
    }
    return rewritten;
}

void heightfield_cast_shadows(const heightfield* hf, const float sun_vector[3], float penumbra, uint8_t* out)
{
    const int n = hf->sample_count;
    const size_t total = (size_t)n * (size_t)n;
    const float sx = sun_vector[0], sy = sun_vector[1], sz = sun_vector[2];
    const float across = sqrtf(sx * sx + sz * sz);
    if (!(sy > 0.0f)) {
        memset(out, 255, total);  // the sun is down
        return;
    }
    if (!(across > sy * 1e-6f)) {
        memset(out, 0, total);  // straight overhead: nothing casts a shadow
        return;
    }
    const float rise = sy / across;  // height gained per foot toward the sun
    const float dx = sx / across, dz = sz / across;
    const float step = hf->spacing * 0.5f;
    const float soft = penumbra > 1e-4f ? penumbra : 1e-4f;
    // A ray leaves the grid within two diagonals; past that the terrain
    // continues its edge and the rising ray clears it soon after.
    const int max_steps = 6 * n;

    for (int row = 0; row < n; row++) {
        for (int col = 0; col < n; col++) {
            const size_t k = (size_t)col + (size_t)row * (size_t)n;
            const float x0 = (float)col * hf->spacing, z0 = (float)row * hf->spacing;
            const float h0 = hf->heights[k];
            // The largest tangent by which the terrain toward the sun rises
            // above the sun's line from this sample.
            float excess = 0.0f;
            for (int s = 1; s <= max_steps; s++) {
                const float t = (float)s * step;
                if (h0 + t * rise >= hf->height_max)
                    break;
                const float h = heightfield_height_at(hf, x0 + dx * t, z0 + dz * t);
                const float e = (h - h0) / t - rise;
                if (e > excess) {
                    excess = e;
                    if (excess >= soft)
                        break;
                }
            }
            const float f = fminf(excess / soft, 1.0f);
            out[k] = (uint8_t)(f * 255.0f + 0.5f);
        }
    }
}

void heightfield_normal_map_sample(const heightfield* hf, int col, int row, uint8_t rgb[3])
{
    const vec3 n = heightfield_vertex_normal(hf, col, row);
    const uint8_t shadow = hf->shadow_map ? hf->shadow_map[sample_index(hf, col, row)] : 0;
    rgb[0] = (uint8_t)(128 + normal_byte_offset(n.x));
    rgb[1] = (uint8_t)(255 - shadow);
    rgb[2] = (uint8_t)(128 + normal_byte_offset(n.z));
}

void heightfield_build_normal_map(heightfield* hf)
{
    const int n = hf->sample_count;
    const size_t total = (size_t)n * (size_t)n;
    if (!hf->terrain_normal_map)
        hf->terrain_normal_map = (uint8_t*)mem_alloc_or_die(total * 3);
    if (!hf->normal_dirty)
        hf->normal_dirty = (uint8_t*)mem_calloc_or_die(heightfield_dirty_bytes(hf), 1);
    for (int row = 0; row < n; row++)
        for (int col = 0; col < n; col++)
            heightfield_normal_map_sample(hf, col, row, hf->terrain_normal_map + 3 * ((size_t)col + (size_t)row * n));
}
