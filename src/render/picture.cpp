// The mip chain layout, the box filter, the shared buffer helpers and the
// readers that choose a decoder by the file's first token.
#include "render/picture.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "files/datafs.h"
#include "files/memory.h"
#include "render/picture_internal.h"

namespace picture_internal {

size_t top_level_bytes(int width, int height, int channels)
{
    if (width < 1 || height < 1 || channels < 1 || channels > 4)
        return 0;
    if (width > PICTURE_MAX_DIMENSION || height > PICTURE_MAX_DIMENSION)
        return 0;
    size_t bytes = size_t(width) * size_t(height) * size_t(channels);
    return bytes <= PICTURE_MAX_BYTES ? bytes : 0;
}

bool grow_to(growing_buffer* b, size_t needed, size_t final_size)
{
    if (needed <= b->capacity)
        return true;
    if (needed > final_size)
        return false;
    // Doubling keeps the copies linear; the first step is large enough
    // that small pictures are read in one allocation.
    size_t capacity = b->capacity ? b->capacity * 2 : size_t(1) << 16;
    if (capacity < needed)
        capacity = needed;
    if (capacity > final_size)
        capacity = final_size;
    void* grown = mem_realloc(b->data, capacity);
    if (!grown)
        return false;
    b->data = static_cast<unsigned char*>(grown);
    b->capacity = capacity;
    return true;
}

void sink_append(byte_sink* sink, const void* bytes, size_t n)
{
    if (sink->failed || n == 0)
        return;
    if (sink->size + n > sink->capacity) {
        size_t capacity = sink->capacity ? sink->capacity : 4096;
        while (capacity < sink->size + n)
            capacity *= 2;
        void* grown = mem_realloc(sink->data, capacity);
        if (!grown) {
            sink->failed = true;
            return;
        }
        sink->data = static_cast<unsigned char*>(grown);
        sink->capacity = capacity;
    }
    memcpy(sink->data + sink->size, bytes, n);
    sink->size += n;
}

void sink_printf(byte_sink* sink, const char* format, ...)
{
    char text[256];
    va_list args;
    va_start(args, format);
    int n = vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (n < 0 || n >= int(sizeof text)) {
        sink->failed = true;
        return;
    }
    sink_append(sink, text, size_t(n));
}

bool sink_finish(byte_sink* sink, picture_bytes* out)
{
    if (sink->failed) {
        mem_free(sink->data);
        *sink = byte_sink{};
        return false;
    }
    out->data = sink->data;
    out->size = sink->size;
    *sink = byte_sink{};
    return true;
}

bool write_bytes_to_name(const char* name, const picture_bytes* bytes)
{
    return replace_data_file_bytes(name, bytes->data, bytes->size, false);
}

bool write_encoded(const char* name, bool encoded, picture_bytes* bytes)
{
    if (!encoded)
        return false;
    bool ok = write_bytes_to_name(name, bytes);
    picture_bytes_free(bytes);
    return ok;
}

bool finish_chain(picture* p, bool max_alpha)
{
    size_t bytes = mip_chain_bytes(p->width, p->height, p->channels);
    void* chain = bytes ? mem_realloc(p->pixels, bytes) : nullptr;
    if (!chain) {
        picture_free(p);
        return false;
    }
    p->pixels = static_cast<unsigned char*>(chain);
    p->is_chain = true;
    build_mip_levels(p->pixels, p->width, p->height, p->channels, max_alpha);
    return true;
}

}  // namespace picture_internal

using namespace picture_internal;

void picture_free(picture* p)
{
    if (!p)
        return;
    mem_free(p->pixels);
    mem_free(p->text);
    *p = picture{};
}

void grey16_picture_free(grey16_picture* p)
{
    if (!p)
        return;
    mem_free(p->samples);
    *p = grey16_picture{};
}

void picture_bytes_free(picture_bytes* b)
{
    if (!b)
        return;
    mem_free(b->data);
    *b = picture_bytes{};
}

// ---- mip chain layout ----------------------------------------------------

int mip_level_count(int width, int height)
{
    int levels = 1;
    while (width > 1 || height > 1) {
        width = width > 1 ? width / 2 : 1;
        height = height > 1 ? height / 2 : 1;
        levels++;
    }
    return levels;
}

void mip_level_size(int width, int height, int level, int* level_width, int* level_height)
{
    for (int i = 0; i < level; i++) {
        width = width > 1 ? width / 2 : 1;
        height = height > 1 ? height / 2 : 1;
    }
    *level_width = width;
    *level_height = height;
}

size_t mip_level_offset(int width, int height, int channels, int level)
{
    size_t offset = 0;
    for (int i = 0; i < level; i++) {
        offset += size_t(width) * size_t(height) * size_t(channels);
        width = width > 1 ? width / 2 : 1;
        height = height > 1 ? height / 2 : 1;
    }
    return offset;
}

size_t mip_chain_bytes(int width, int height, int channels)
{
    if (!top_level_bytes(width, height, channels))
        return 0;
    int levels = mip_level_count(width, height);
    return mip_level_offset(width, height, channels, levels);
}

// ---- box filter ------------------------------------------------------------

namespace {

// RGBA block of four source pixels into one: alpha-weighted colours where
// the alphas differ, so transparent texels do not darken their neighbours.
void filter_rgba(const unsigned char* const px[], int count, unsigned char* out, bool max_alpha)
{
    int sum_alpha = 0, top_alpha = 0;
    for (int i = 0; i < count; i++) {
        sum_alpha += px[i][3];
        if (px[i][3] > top_alpha)
            top_alpha = px[i][3];
    }
    int shift = count == 4 ? 2 : 1;
    bool weighted = sum_alpha != 0 && sum_alpha != 255 * count;
    for (int c = 0; c < 3; c++) {
        int sum = 0;
        if (weighted) {
            for (int i = 0; i < count; i++)
                sum += px[i][c] * px[i][3];
            out[c] = static_cast<unsigned char>(sum / sum_alpha);
        } else {
            for (int i = 0; i < count; i++)
                sum += px[i][c];
            out[c] = static_cast<unsigned char>(sum >> shift);
        }
    }
    out[3] = static_cast<unsigned char>(max_alpha ? top_alpha : sum_alpha >> shift);
}

void filter_plain(const unsigned char* const px[], int count, int channels, unsigned char* out)
{
    int shift = count == 4 ? 2 : 1;
    for (int c = 0; c < channels; c++) {
        int sum = 0;
        for (int i = 0; i < count; i++)
            sum += px[i][c];
        out[c] = static_cast<unsigned char>(sum >> shift);
    }
}

}  // namespace

void build_mip_levels(unsigned char* chain, int width, int height, int channels, bool max_alpha)
{
    unsigned char* src = chain;
    int w = width, h = height;
    size_t ch = size_t(channels);
    while (w > 1 || h > 1) {
        int nw = w > 1 ? w / 2 : 1;
        int nh = h > 1 ? h / 2 : 1;
        unsigned char* dst = src + size_t(w) * size_t(h) * ch;
        for (int y = 0; y < nh; y++) {
            for (int x = 0; x < nw; x++) {
                const unsigned char* px[4];
                int count;
                if (w > 1 && h > 1) {
                    const unsigned char* row0 = src + (size_t(2 * y) * size_t(w) + size_t(2 * x)) * ch;
                    const unsigned char* row1 = row0 + size_t(w) * ch;
                    px[0] = row0;
                    px[1] = row0 + ch;
                    px[2] = row1;
                    px[3] = row1 + ch;
                    count = 4;
                } else {
                    // One side is 1: the level is a single line of pixels,
                    // paired along its length.
                    size_t i = size_t(w > 1 ? x : y);
                    px[0] = src + 2 * i * ch;
                    px[1] = px[0] + ch;
                    count = 2;
                }
                unsigned char* out = dst + (size_t(y) * size_t(nw) + size_t(x)) * ch;
                if (channels == 4)
                    filter_rgba(px, count, out, max_alpha);
                else
                    filter_plain(px, count, channels, out);
            }
        }
        src = dst;
        w = nw;
        h = nh;
    }
}

// ---- readers by first token --------------------------------------------------

bool read_picture_magic(data_stream* s, char* buffer, int size)
{
    if (size < 2)
        return false;
    int c;
    while ((c = stream_peekc(s)) != -1 && isspace(c))
        stream_getc(s);
    int n = 0;
    while (n < size - 1 && (c = stream_peekc(s)) != -1 && !isspace(c))
        buffer[n++] = static_cast<char>(stream_getc(s));
    buffer[n] = 0;
    return n > 0;
}

bool read_rgb_picture(data_stream* s, picture* out)
{
    *out = picture{};
    char magic[16];
    if (!read_picture_magic(s, magic, sizeof magic))
        return false;
    if (!strcmp(magic, "P6") || !strcmp(magic, "P3"))
        return ppm_read(s, magic, out);
    if (!strcmp(magic, "Q6") || !strcmp(magic, "Q7"))
        return predictive_decode(s, magic, 3, out);
    return false;
}

bool read_grey_picture(data_stream* s, picture* out)
{
    *out = picture{};
    char magic[16];
    if (!read_picture_magic(s, magic, sizeof magic))
        return false;
    return pgm_read(s, magic, out);
}

namespace {

// Cuts a chain down to its top level, widening 3 channels to RGBA.
bool top_level_rgba(picture* p)
{
    size_t pixels = size_t(p->width) * size_t(p->height);
    if (p->channels == 4) {
        void* shrunk = mem_realloc(p->pixels, pixels * 4);
        if (shrunk)
            p->pixels = static_cast<unsigned char*>(shrunk);
    } else {
        unsigned char* rgba = static_cast<unsigned char*>(mem_alloc(pixels * 4));
        if (!rgba) {
            picture_free(p);
            return false;
        }
        for (size_t i = 0; i < pixels; i++) {
            memcpy(rgba + i * 4, p->pixels + i * 3, 3);
            rgba[i * 4 + 3] = 255;
        }
        mem_free(p->pixels);
        p->pixels = rgba;
        p->channels = 4;
    }
    p->is_chain = false;
    return true;
}

}  // namespace

bool read_any_picture(const char* name, picture* out)
{
    *out = picture{};
    data_stream* stream = open_data_file(name, "rb");
    if (!stream)
        return false;
    bool ok;
    const int first = stream_peekc(stream);
    if (first == 'P' || first == 'Q') {
        ok = read_rgb_picture(stream, out);
        close_data_file(stream);
    } else {
        close_data_file(stream);
        ok = png_decode(name, out);
    }
    if (!ok || out->width <= 0 || out->height <= 0 || (out->channels != 3 && out->channels != 4)) {
        picture_free(out);
        return false;
    }
    return true;
}

bool read_rgba_picture(const char* name, picture* out)
{
    *out = picture{};
    if (png_decode(name, out))
        return top_level_rgba(out);
    data_stream* s = open_data_file(name, "rb");
    if (!s)
        return false;
    char magic[16];
    bool ok = read_picture_magic(s, magic, sizeof magic) &&
              (!strcmp(magic, "Q7") || !strcmp(magic, "Q6")) &&
              predictive_decode(s, magic, 4, out);
    close_data_file(s);
    return ok && top_level_rgba(out);
}
