// The plain pictures: PPM ("P6", "P3"), PGM ("P5", "P2") and the
// predictive raw format ("Q7", "Q6"), read and written.
//
// Headers are decimal integers, each optionally preceded by comment lines
// (white space, "#" and the rest of the line). Pixel buffers grow as rows
// arrive, so a header promising a large picture over a short file fails
// having allocated little.
#include <cctype>
#include <cstring>
#include <vector>

#include "files/memory.h"
#include "render/picture.h"
#include "render/picture_internal.h"

using namespace picture_internal;

namespace {

void skip_space_and_comments(data_stream* s)
{
    for (;;) {
        int c = stream_peekc(s);
        if (c == '#') {
            while ((c = stream_getc(s)) != -1 && c != '\n') {
            }
        } else if (c != -1 && isspace(c)) {
            stream_getc(s);
        } else {
            return;
        }
    }
}

// A decimal integer after optional white space and comment lines. False for
// anything that is not a number or does not fit an int.
bool read_decimal(data_stream* s, long* value)
{
    skip_space_and_comments(s);
    bool negative = false;
    int c = stream_peekc(s);
    if (c == '-' || c == '+') {
        negative = c == '-';
        stream_getc(s);
        c = stream_peekc(s);
    }
    if (c == -1 || !isdigit(c))
        return false;
    long v = 0;
    while ((c = stream_peekc(s)) != -1 && isdigit(c)) {
        stream_getc(s);
        v = v * 10 + (c - '0');
        if (v > 0x7fffffffL)
            return false;
    }
    *value = negative ? -v : v;
    return true;
}

// Width and height (and the maximum value for PPM/PGM), all positive.
bool read_size(data_stream* s, int* width, int* height)
{
    long w, h;
    if (!read_decimal(s, &w) || !read_decimal(s, &h))
        return false;
    if (w < 1 || h < 1 || w > PICTURE_MAX_DIMENSION || h > PICTURE_MAX_DIMENSION)
        return false;
    *width = int(w);
    *height = int(h);
    return true;
}

// The single white-space byte between a binary header and its data.
bool read_separator(data_stream* s)
{
    int c = stream_getc(s);
    return c != -1 && isspace(c);
}

// Shared body of PPM and PGM: channels is 3 or 1.
bool pnm_read(data_stream* s, bool binary, int channels, picture* out)
{
    *out = picture{};
    int width, height;
    long maximum;
    if (!read_size(s, &width, &height) || !read_decimal(s, &maximum))
        return false;
    // A maximum of 0 would divide by zero; values beyond 16 bits are not
    // pictures of these formats.
    if (maximum < 1 || maximum > 65535)
        return false;
    size_t total = top_level_bytes(width, height, channels);
    if (!total)
        return false;
    if (binary && !read_separator(s))
        return false;

    growing_buffer buffer{};
    size_t row_bytes = size_t(width) * size_t(channels);
    bool ok = true;
    for (int y = 0; ok && y < height; y++) {
        size_t start = size_t(y) * row_bytes;
        if (!grow_to(&buffer, start + row_bytes, total)) {
            ok = false;
            break;
        }
        unsigned char* row = buffer.data + start;
        if (binary) {
            if (stream_read(s, row, row_bytes) != row_bytes) {
                ok = false;
                break;
            }
            if (maximum != 255)
                for (size_t i = 0; i < row_bytes; i++)
                    row[i] = static_cast<unsigned char>(row[i] > maximum ? 255 : row[i] * 255 / maximum);
        } else {
            for (size_t i = 0; i < row_bytes; i++) {
                long v;
                if (!read_decimal(s, &v) || v < 0) {
                    ok = false;
                    break;
                }
                // A sample above the maximum is stored as full brightness
                // rather than wrapping round to a dark value.
                long scaled = v > maximum ? 255 : v * 255 / maximum;
                row[i] = static_cast<unsigned char>(scaled);
            }
        }
    }
    if (!ok) {
        mem_free(buffer.data);
        return false;
    }
    out->pixels = buffer.data;
    out->width = width;
    out->height = height;
    out->channels = channels;
    out->is_chain = false;
    return true;
}

}  // namespace

bool ppm_read(data_stream* s, const char* magic, picture* out)
{
    *out = picture{};
    bool binary;
    if (!strcmp(magic, "P6"))
        binary = true;
    else if (!strcmp(magic, "P3"))
        binary = false;
    else
        return false;
    if (!pnm_read(s, binary, 3, out))
        return false;
    return finish_chain(out, false);
}

bool pgm_read(data_stream* s, const char* magic, picture* out)
{
    *out = picture{};
    bool binary;
    if (!strcmp(magic, "P5"))
        binary = true;
    else if (!strcmp(magic, "P2"))
        binary = false;
    else
        return false;
    return pnm_read(s, binary, 1, out);
}

// ---- predictive raw format ---------------------------------------------------

namespace {

// The prediction of a channel from its decoded neighbours: nothing for the
// first pixel, the left one along the top row, the one above down the left
// column, and the clamped plane left + above - above-left elsewhere.
inline int predict(const unsigned char* cur, const unsigned char* prev, int x, int y, int c, int stored)
{
    if (y == 0)
        return x == 0 ? 0 : cur[(x - 1) * stored + c];
    if (x == 0)
        return prev[c];
    int v = cur[(x - 1) * stored + c] + prev[x * stored + c] - prev[(x - 1) * stored + c];
    return v < 0 ? 0 : v > 255 ? 255 : v;
}

}  // namespace

bool predictive_decode(data_stream* s, const char* magic, int channels_wanted, picture* out)
{
    *out = picture{};
    int stored;
    if (!strcmp(magic, "Q7"))
        stored = 4;
    else if (!strcmp(magic, "Q6"))
        stored = 3;
    else
        return false;
    if (channels_wanted != 3 && channels_wanted != 4)
        return false;
    int width, height;
    if (!read_size(s, &width, &height) || !read_separator(s))
        return false;
    size_t total = top_level_bytes(width, height, channels_wanted);
    if (!total || !top_level_bytes(width, height, stored))
        return false;

    size_t stored_row = size_t(width) * size_t(stored);
    std::vector<unsigned char> prev(stored_row), cur(stored_row);
    growing_buffer buffer{};
    size_t out_row = size_t(width) * size_t(channels_wanted);
    for (int y = 0; y < height; y++) {
        if (stream_read(s, cur.data(), stored_row) != stored_row ||
            !grow_to(&buffer, size_t(y + 1) * out_row, total)) {
            mem_free(buffer.data);
            return false;
        }
        for (int x = 0; x < width; x++)
            for (int c = 0; c < stored; c++) {
                int p = predict(cur.data(), prev.data(), x, y, c, stored);
                cur[size_t(x) * stored + c] = static_cast<unsigned char>(cur[size_t(x) * stored + c] + p);
            }
        unsigned char* row = buffer.data + size_t(y) * out_row;
        for (int x = 0; x < width; x++) {
            memcpy(row + size_t(x) * channels_wanted, &cur[size_t(x) * stored], 3);
            if (channels_wanted == 4)
                row[size_t(x) * 4 + 3] = stored == 4 ? cur[size_t(x) * 4 + 3] : 255;
        }
        prev.swap(cur);
    }
    out->pixels = buffer.data;
    out->width = width;
    out->height = height;
    out->channels = channels_wanted;
    return finish_chain(out, false);
}

// ---- writers -------------------------------------------------------------------

namespace {

bool encode_pnm(const unsigned char* pixels, int width, int height, int channels, bool text,
                picture_bytes* out)
{
    *out = picture_bytes{};
    if (!pixels || !top_level_bytes(width, height, channels))
        return false;
    const char* magic = channels == 3 ? (text ? "P3" : "P6") : (text ? "P2" : "P5");
    byte_sink sink{};
    sink_printf(&sink, "%s\n%d %d\n255\n", magic, width, height);
    size_t count = size_t(width) * size_t(height) * size_t(channels);
    if (!text) {
        sink_append(&sink, pixels, count);
    } else {
        // Short lines keep the text form readable in an editor.
        for (size_t i = 0; i < count; i++)
            sink_printf(&sink, "%d%c", pixels[i], (i % 12 == 11 || i + 1 == count) ? '\n' : ' ');
    }
    return sink_finish(&sink, out);
}

}  // namespace

bool encode_ppm(const unsigned char* rgb, int width, int height, bool text, picture_bytes* out)
{
    return encode_pnm(rgb, width, height, 3, text, out);
}

bool encode_pgm(const unsigned char* grey, int width, int height, bool text, picture_bytes* out)
{
    return encode_pnm(grey, width, height, 1, text, out);
}

bool encode_predictive(const unsigned char* pixels, int width, int height, int channels,
                       picture_bytes* out)
{
    *out = picture_bytes{};
    if (!pixels || (channels != 3 && channels != 4) || !top_level_bytes(width, height, channels))
        return false;
    byte_sink sink{};
    sink_printf(&sink, "%s\n%d %d\n", channels == 4 ? "Q7" : "Q6", width, height);
    size_t row_bytes = size_t(width) * size_t(channels);
    std::vector<unsigned char> residual(row_bytes);
    for (int y = 0; y < height; y++) {
        const unsigned char* cur = pixels + size_t(y) * row_bytes;
        const unsigned char* prev = y > 0 ? cur - row_bytes : nullptr;
        for (int x = 0; x < width; x++)
            for (int c = 0; c < channels; c++) {
                int p = predict(cur, prev, x, y, c, channels);
                residual[size_t(x) * channels + c] = static_cast<unsigned char>(cur[size_t(x) * channels + c] - p);
            }
        sink_append(&sink, residual.data(), row_bytes);
    }
    return sink_finish(&sink, out);
}


bool write_ppm(const char* name, const unsigned char* rgb, int width, int height, bool text)
{
    picture_bytes bytes;
    return write_encoded(name, encode_ppm(rgb, width, height, text, &bytes), &bytes);
}

bool write_pgm(const char* name, const unsigned char* grey, int width, int height, bool text)
{
    picture_bytes bytes;
    return write_encoded(name, encode_pgm(grey, width, height, text, &bytes), &bytes);
}

bool write_predictive(const char* name, const unsigned char* pixels, int width, int height,
                      int channels)
{
    picture_bytes bytes;
    return write_encoded(name, encode_predictive(pixels, width, height, channels, &bytes), &bytes);
}
