// Reading a track's terrain ("terrain.hf" with raw samples or "terrain.png",
// the shading and shadow maps) and writing it back for the data generator
// and the editor.
#include <nettle/sha1.h>

#include <cmath>
#include <cstdio>
#include <cstring>

#include "core/messages.h"
#include "files/datafs.h"
#include "files/memory.h"
#include "platform/log.h"
#include "render/picture.h"
#include "track/heightfield.h"
#include "track/heightfield_internal.h"

namespace {

enum { NAME_MAX = 1024 };

// Height of 16-bit value v: h0 + v (h1 - h0) / 65535, in extended precision
// so that 65535 gives h1 exactly.
inline float height_of_value(unsigned v, float h0, float h1)
{
    const long double d = (long double)h1 - (long double)h0;
    return (float)((long double)h0 + (long double)v * d / 65535.0L);
}

struct sample_sink {
    heightfield* hf;
    float h0, h1;
    sha1_ctx digest;
};

inline void put_sample(sample_sink* sink, size_t index, unsigned v)
{
    const uint8_t bytes[2] = {(uint8_t)(v & 0xff), (uint8_t)(v >> 8)};
    sha1_update(&sink->digest, 2, bytes);
    sink->hf->heights[index] = height_of_value(v, sink->h0, sink->h1);
}

// Raw little-endian samples straight after the ":". A file cut short fails
// the load: the missing samples would otherwise all read as the top height.
bool read_raw_samples(sample_sink* sink, data_stream* s)
{
    const size_t total = (size_t)sink->hf->sample_count * (size_t)sink->hf->sample_count;
    uint8_t buffer[16384];
    size_t index = 0;
    while (index < total) {
        size_t want = (total - index) * 2;
        if (want > sizeof buffer)
            want = sizeof buffer;
        const size_t got = stream_read(s, buffer, want);
        if (got != want)
            return false;
        for (size_t k = 0; k < got; k += 2)
            put_sample(sink, index++, (unsigned)buffer[k] | ((unsigned)buffer[k + 1] << 8));
    }
    return true;
}

// Samples from "terrain.png"; a picture that cannot be read leaves every
// height at h0 (the track still loads, flat) with a warning naming it. Grid sample (col, row) takes the pixel
// (min(col, width - 1), min(row, height - 1)).
void read_png_samples(sample_sink* sink, const char* dir)
{
    heightfield* hf = sink->hf;
    const int n = hf->sample_count;
    char name[NAME_MAX];
    grey16_picture png;
    const bool ok = track_file_name(name, sizeof name, dir, "terrain.png") && read_grey16_png(name, &png) &&
                    png.width > 0 && png.height > 0 && png.samples;
    if (!ok)
        add_message("Warning: can't read heights from '%.900s'; the terrain is flat", name);
    for (int row = 0; row < n; row++) {
        for (int col = 0; col < n; col++) {
            unsigned v = 0;
            if (ok) {
                const int px = col < png.width - 1 ? col : png.width - 1;
                const int py = row < png.height - 1 ? row : png.height - 1;
                v = png.samples[(size_t)px + (size_t)py * (size_t)png.width];
            }
            put_sample(sink, (size_t)col + (size_t)row * (size_t)n, v);
        }
    }
    grey16_picture_free(&png);
}

bool read_heights(heightfield* hf, const char* dir, int verbose)
{
    char name[NAME_MAX];
    data_stream* s = track_file_name(name, sizeof name, dir, "terrain.hf") ? open_data_file(name, "rb") : nullptr;
    if (!s) {
        add_message("Can't open '%.950s'", name);
        return false;
    }
    int grid_log2 = 0;
    float spacing = 0.0f, h0 = 0.0f, h1 = 0.0f;
    const int fields = stream_scan(s, "%d %f %f %f ", &grid_log2, &spacing, &h0, &h1);
    if (fields != 4) {
        add_message("Bad height field parameters");
        add_message("Error reading heights");
        close_data_file(s);
        return false;
    }
    // Sizes the arrays could not hold (or the renderer could not tile), and
    // spacings or heights that would turn every query into NaN.
    if (!heightfield_valid_grid(grid_log2, spacing, HEIGHTFIELD_MIN_LOAD_LOG2) || !std::isfinite(h0) ||
        !std::isfinite(h1)) {
        add_message("Bad height field parameters");
        add_message("Height field size %d (must be %d to %d) or spacing %g out of range", grid_log2,
                    (int)HEIGHTFIELD_MIN_LOAD_LOG2, (int)HEIGHTFIELD_MAX_LOG2, (double)spacing);
        close_data_file(s);
        return false;
    }

    heightfield_init_grid(hf, grid_log2, spacing);
    // An inverted header (h0 above h1) is valid; the range still has to
    // hold every height.
    hf->height_min = fminf(h0, h1);
    hf->height_max = fmaxf(h0, h1);

    sample_sink sink;
    sink.hf = hf;
    sink.h0 = h0;
    sink.h1 = h1;
    sha1_init(&sink.digest);

    bool ok = true;
    if (stream_getc(s) == ':') {
        ok = read_raw_samples(&sink, s);
        close_data_file(s);
    } else {
        close_data_file(s);
        read_png_samples(&sink, dir);
    }
    if (!ok) {
        add_message("Error reading heights");
        return false;
    }
    sha1_digest(&sink.digest, SHA1_DIGEST_SIZE, hf->sample_digest);
    if (verbose >= 2) {
        char hex[2 * SHA1_DIGEST_SIZE + 1];
        for (int k = 0; k < SHA1_DIGEST_SIZE; k++)
            snprintf(hex + 2 * k, 3, "%02x", hf->sample_digest[k]);
        log_printf("%s\n", hex);
    }
    const size_t count = (size_t)hf->sample_count * (size_t)hf->sample_count;
    memcpy(hf->loaded_heights, hf->heights, count * sizeof(float));
    return true;
}

bool read_shading(heightfield* hf, const char* dir)
{
    char name[NAME_MAX];
    bool halve = false;
    data_stream* s = track_file_name(name, sizeof name, dir, "shadingx2.ppm") ? open_data_file(name, "rb") : nullptr;
    if (!s) {
        halve = true;
        s = track_file_name(name, sizeof name, dir, "shading.ppm") ? open_data_file(name, "rb") : nullptr;
        if (!s) {
            add_message("Can't open '%.950s'", name);
            return false;
        }
    }
    picture pic;
    const bool ok = read_rgb_picture(s, &pic);
    close_data_file(s);
    if (!ok) {
        add_message("Error reading shading");
        picture_free(&pic);
        return false;
    }
    const int n = hf->sample_count;
    if (pic.width != n || pic.height != n || pic.channels != 3) {
        add_message("Bad shading dimensions (%dx%d)", pic.width, pic.height);
        picture_free(&pic);
        return false;
    }
    const size_t bytes = (size_t)n * (size_t)n * 3;
    for (size_t k = 0; k < bytes; k++)
        hf->shading_map[k] = halve ? (uint8_t)(pic.pixels[k] >> 1) : pic.pixels[k];
    picture_free(&pic);
    return true;
}

bool read_shadows(heightfield* hf, const char* dir)
{
    char name[NAME_MAX];
    data_stream* s = track_file_name(name, sizeof name, dir, "shadows.pgm") ? open_data_file(name, "rb") : nullptr;
    if (!s)
        return true;  // no shadows: the map stays all lit
    picture pic;
    const bool ok = read_grey_picture(s, &pic);
    close_data_file(s);
    if (!ok) {
        add_message("Error reading shadows");
        picture_free(&pic);
        return false;
    }
    const int n = hf->sample_count;
    if (pic.width != n || pic.height != n || pic.channels != 1) {
        log_printf("Bad shadow dimensions (%dx%d)\n", pic.width, pic.height);
        picture_free(&pic);
        return false;
    }
    const size_t count = (size_t)n * (size_t)n;
    for (size_t k = 0; k < count; k++)
        hf->shadow_map[k] = (uint8_t)(255 - pic.pixels[k]);
    picture_free(&pic);
    return true;
}

bool set_bytes(picture_bytes* out, const void* data, size_t size)
{
    out->data = (unsigned char*)mem_alloc_or_die(size ? size : 1);
    if (size)
        memcpy(out->data, data, size);
    out->size = size;
    return true;
}

}  // namespace

bool track_file_name(char* buffer, size_t size, const char* dir, const char* file)
{
    const int n = snprintf(buffer, size, "%s/%s", dir, file);
    return n >= 0 && (size_t)n < size;
}

bool track_write_file(const char* dir, const char* file, const void* data, size_t size)
{
    char name[NAME_MAX];
    if (!track_file_name(name, sizeof name, dir, file))
        return false;
    return replace_data_file_bytes(name, data, size, false);
}

bool heightfield_load(heightfield* hf, const char* dir, int verbose)
{
    heightfield_free(hf);
    if (read_heights(hf, dir, verbose) && read_shading(hf, dir) && read_shadows(hf, dir))
        return true;
    heightfield_free(hf);
    return false;
}

// ---- writing ------------------------------------------------------------------

uint16_t terrain_quantise(float h, float h0, float h1)
{
    if (!(h1 > h0))
        return 0;
    const double v = ((double)h - (double)h0) / ((double)h1 - (double)h0) * 65535.0 + 0.5;
    if (!(v >= 0.0))
        return 0;
    if (v >= 65535.0)
        return 65535;
    return (uint16_t)v;
}

bool terrain_encode(const heightfield* hf, bool raw_samples, picture_bytes* hf_file, picture_bytes* png_file)
{
    *hf_file = picture_bytes{};
    *png_file = picture_bytes{};
    if (!hf->heights || hf->sample_count <= 0)
        return false;
    char header[256];
    const int len = snprintf(header, sizeof header, "%d %f %f %f\n", hf->grid_log2, (double)hf->spacing,
                             (double)hf->height_min, (double)hf->height_max);
    if (len <= 0 || (size_t)len >= sizeof header)
        return false;
    // Quantise against the range as the loader will read it back.
    int n_back = 0;
    float spacing_back = 0.0f, h0 = 0.0f, h1 = 0.0f;
    if (sscanf(header, "%d %f %f %f", &n_back, &spacing_back, &h0, &h1) != 4)
        return false;

    const int n = hf->sample_count;
    const size_t count = (size_t)n * (size_t)n;
    uint16_t* samples = (uint16_t*)mem_alloc_or_die(count * sizeof(uint16_t));
    for (size_t k = 0; k < count; k++)
        samples[k] = terrain_quantise(hf->heights[k], h0, h1);

    bool ok = true;
    if (raw_samples) {
        const size_t size = (size_t)len + 1 + count * 2;
        hf_file->data = (unsigned char*)mem_alloc_or_die(size);
        hf_file->size = size;
        memcpy(hf_file->data, header, (size_t)len);
        unsigned char* p = hf_file->data + len;
        *p++ = ':';
        for (size_t k = 0; k < count; k++) {
            *p++ = (unsigned char)(samples[k] & 0xff);
            *p++ = (unsigned char)(samples[k] >> 8);
        }
    } else {
        set_bytes(hf_file, header, (size_t)len);
        ok = encode_png_grey16(samples, n, n, png_file);
    }
    mem_free(samples);
    if (!ok) {
        picture_bytes_free(hf_file);
        picture_bytes_free(png_file);
    }
    return ok;
}

bool terrain_write(const heightfield* hf, const char* dir, bool raw_samples)
{
    picture_bytes hf_file, png_file;
    if (!terrain_encode(hf, raw_samples, &hf_file, &png_file))
        return false;
    bool ok = track_write_file(dir, "terrain.hf", hf_file.data, hf_file.size);
    if (ok && !raw_samples)
        ok = track_write_file(dir, "terrain.png", png_file.data, png_file.size);
    picture_bytes_free(&hf_file);
    picture_bytes_free(&png_file);
    return ok;
}

bool terrain_encode_lighting(const heightfield* hf, picture_bytes* shading_file, picture_bytes* shadows_file)
{
    *shading_file = picture_bytes{};
    *shadows_file = picture_bytes{};
    if (!hf->shading_map || !hf->shadow_map)
        return false;
    const int n = hf->sample_count;
    const size_t count = (size_t)n * (size_t)n;
    uint8_t* grey = (uint8_t*)mem_alloc_or_die(count);
    for (size_t k = 0; k < count; k++)
        grey[k] = (uint8_t)(255 - hf->shadow_map[k]);
    const bool ok = encode_ppm(hf->shading_map, n, n, false, shading_file) &&
                    encode_pgm(grey, n, n, false, shadows_file);
    mem_free(grey);
    if (!ok) {
        picture_bytes_free(shading_file);
        picture_bytes_free(shadows_file);
    }
    return ok;
}

bool terrain_write_lighting(const heightfield* hf, const char* dir)
{
    picture_bytes shading, shadows;
    if (!terrain_encode_lighting(hf, &shading, &shadows))
        return false;
    const bool ok = track_write_file(dir, "shadingx2.ppm", shading.data, shading.size) &&
                    track_write_file(dir, "shadows.pgm", shadows.data, shadows.size);
    picture_bytes_free(&shading);
    picture_bytes_free(&shadows);
    return ok;
}
