// Cutting pictures down before they become textures or pictures in memory:
// power-of-two rounding, whole levels dropped for the texture level or a
// pixel limit, and the prediction test that finds top levels which carry no
// more detail than the level below them (blurry pictures stored too large).
#include <cstring>

#include "files/memory.h"
#include "platform/log.h"
#include "render/picture.h"
#include "render/texture.h"
#include "render/texture_files.h"

bool is_power_of_two(int d)
{
    return d > 0 && (d & (d - 1)) == 0;
}

int power_of_two_below(int d)
{
    int p = 1;
    while (p * 2 < d && p < (1 << 30))
        p *= 2;
    return p;
}

int power_of_two_not_above(int d)
{
    int p = 1;
    while (p <= d / 2)
        p *= 2;
    return p;
}

unsigned char* resample_top_level(const unsigned char* top, int width, int height, int channels, int new_width,
                                  int new_height)
{
    if (!top || width < 1 || height < 1)
        return nullptr;
    const size_t bytes = mip_chain_bytes(new_width, new_height, channels);
    if (!bytes)
        return nullptr;
    unsigned char* chain = static_cast<unsigned char*>(mem_alloc_or_die(bytes));
    const size_t ch = size_t(channels);
    for (int y = 0; y < new_height; y++) {
        const size_t sy = size_t(y) * size_t(height) / size_t(new_height);
        for (int x = 0; x < new_width; x++) {
            const size_t sx = size_t(x) * size_t(width) / size_t(new_width);
            memcpy(chain + (size_t(y) * size_t(new_width) + size_t(x)) * ch, top + (sy * size_t(width) + sx) * ch,
                   ch);
        }
    }
    build_mip_levels(chain, new_width, new_height, channels, false);
    return chain;
}

bool level_is_redundant(const unsigned char* top, int width, int height, const unsigned char* next, int next_width,
                        int next_height, int channels)
{
    const size_t ch = size_t(channels);
    for (int y = 0; y < height; y++) {
        const int b = (y + 1) / 2;
        const int r0 = b - 1 > 0 ? b - 1 : 0;
        const int r1 = b < next_height - 1 ? b : next_height - 1;
        const unsigned char* row0 = next + size_t(r0) * size_t(next_width) * ch;
        const unsigned char* row1 = next + size_t(r1) * size_t(next_width) * ch;
        const bool odd_y = y & 1;
        for (int x = 0; x < width; x++) {
            const int a = (x + 1) / 2;
            const size_t c0 = size_t(a - 1 > 0 ? a - 1 : 0) * ch;
            const size_t c1 = size_t(a < next_width - 1 ? a : next_width - 1) * ch;
            const bool odd_x = x & 1;
            const unsigned char* pixel = top + (size_t(y) * size_t(width) + size_t(x)) * ch;
            for (size_t c = 0; c < ch; c++) {
                // The nearer of the two next-level pixels weighs three times.
                const int upper = odd_x ? (3 * row0[c0 + c] + row0[c1 + c]) >> 2 : (row0[c0 + c] + 3 * row0[c1 + c]) >> 2;
                const int lower = odd_x ? (3 * row1[c0 + c] + row1[c1 + c]) >> 2 : (row1[c0 + c] + 3 * row1[c1 + c]) >> 2;
                const int predicted = odd_y ? (3 * upper + lower) >> 2 : (upper + 3 * lower) >> 2;
                const int diff = pixel[c] - predicted;
                if (diff > 4 || diff < -4)
                    return false;
            }
        }
    }
    return true;
}

void texture_reduction_free(texture_reduction* r)
{
    if (!r)
        return;
    mem_free(r->owned);
    *r = texture_reduction{};
}

namespace {

// The level after the top one: the chain moves on by the top level's bytes.
const unsigned char* next_level(const unsigned char* chain, int* width, int* height, int channels)
{
    const unsigned char* next = chain + size_t(*width) * size_t(*height) * size_t(channels);
    *width = *width > 1 ? *width / 2 : 1;
    *height = *height > 1 ? *height / 2 : 1;
    return next;
}

}  // namespace

bool texture_reduce(const unsigned char* chain, int width, int height, int channels, int drop, const char* name,
                    texture_reduction* out)
{
    *out = texture_reduction{};
    if (!chain || (channels != 3 && channels != 4) || !mip_chain_bytes(width, height, channels))
        return false;
    const int original_width = width, original_height = height;
    if (!is_power_of_two(width) || !is_power_of_two(height)) {
        const int w = power_of_two_below(width), h = power_of_two_below(height);
        out->owned = resample_top_level(chain, width, height, channels, w, h);
        if (!out->owned)
            return false;
        chain = out->owned;
        width = w;
        height = h;
    }
    while (drop > 0 && width > 128 && height > 128) {
        chain = next_level(chain, &width, &height, channels);
        drop--;
    }
    while (width > 16 || height > 16) {
        int next_width = width, next_height = height;
        const unsigned char* next = next_level(chain, &next_width, &next_height, channels);
        if (!level_is_redundant(chain, width, height, next, next_width, next_height, channels))
            break;
        chain = next;
        width = next_width;
        height = next_height;
        out->redundant_levels++;
    }
    if (out->redundant_levels > 0 && name)
        log_printf("%.64s reduced to %dx%d (originally %dx%d)\n", name, width, height, original_width,
                   original_height);
    out->chain = chain;
    out->width = width;
    out->height = height;
    return true;
}

void image_fit(unsigned char** chain, int* width, int* height, int channels, long limit, int drop)
{
    if (!chain || !*chain || !mip_chain_bytes(*width, *height, channels))
        return;
    int w = *width, h = *height;
    unsigned char* rounded = nullptr;
    const unsigned char* top = *chain;
    if (!is_power_of_two(w) || !is_power_of_two(h)) {
        const int nw = w >= 2 ? power_of_two_not_above(w) : w;
        const int nh = h >= 2 ? power_of_two_not_above(h) : h;
        rounded = resample_top_level(top, w, h, channels, nw, nh);
        if (!rounded)
            return;
        top = rounded;
        w = nw;
        h = nh;
    }
    int discarded = 0;
    for (;;) {
        const long pixels = long(w) * long(h);
        const bool over_limit = limit > 0 && pixels > limit;
        if (!((discarded < drop || over_limit) && pixels > 16384))
            break;
        top = next_level(top, &w, &h, channels);
        discarded++;
    }
    const size_t bytes = mip_chain_bytes(w, h, channels);
    unsigned char* fitted = static_cast<unsigned char*>(mem_alloc_or_die(bytes));
    memcpy(fitted, top, bytes);
    mem_free(rounded);
    mem_free(*chain);
    *chain = fitted;
    *width = w;
    *height = h;
}
