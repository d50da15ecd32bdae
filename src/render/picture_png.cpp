// PNG through libpng: the picture decoder with its attached text and custom
// smaller levels, the 16-bit grey reader for terrain heights, and the
// writers.
//
// libpng reports errors by longjmp. Everything a decode or an encode owns
// therefore lives in a plain C record in the calling function's frame (not
// in locals of the function that calls setjmp, and never in C++ objects
// with destructors), so after an error the caller frees exactly what was
// allocated.
#include <png.h>

#include <csetjmp>
#include <cstring>
#include <string>

#include "files/datafs.h"
#include "files/memory.h"
#include "platform/log.h"
#include "render/picture.h"
#include "render/picture_internal.h"

using namespace picture_internal;

namespace {

// A text chunk larger than this fails the picture (libpng's own default);
// further text chunks after this many are skipped.
constexpr png_alloc_size_t PNG_CHUNK_LIMIT = 8000000;
constexpr png_uint_32 PNG_CHUNK_CACHE = 64;
// The ".info" file is attached whole up to this size.
constexpr size_t INFO_LIMIT = size_t(16) << 20;

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
constexpr bool LITTLE_ENDIAN_HOST = true;
#else
constexpr bool LITTLE_ENDIAN_HOST = false;
#endif

[[noreturn]] void quiet_error(png_structp png, png_const_charp)
{
    png_longjmp(png, 1);
}

void quiet_warning(png_structp, png_const_charp) {}

// libpng sizes some buffers from chunk lengths in the file before reading
// them (a text chunk claiming 2 GiB is allocated whole), whatever its chunk
// limits say. Its own needs are rows, zlib state and chunk data, all far
// below this; a refusal makes it skip the chunk or fail the picture.
constexpr png_alloc_size_t LIBPNG_ALLOC_LIMIT = png_alloc_size_t(16) << 20;

png_voidp libpng_alloc(png_structp, png_alloc_size_t size)
{
    return size <= LIBPNG_ALLOC_LIMIT ? mem_alloc(size) : nullptr;
}

void libpng_free(png_structp, png_voidp pointer)
{
    mem_free(pointer);
}

void read_from_stream(png_structp png, png_bytep data, size_t length)
{
    data_stream* s = static_cast<data_stream*>(png_get_io_ptr(png));
    if (stream_read(s, data, length) != length)
        png_error(png, "unexpected end of file");
}

enum class read_target { picture, grey16 };

// Everything one decode owns. Plain data, kept by the caller.
struct read_job {
    data_stream* stream;
    read_target target;
    png_structp png;
    png_infop info;
    png_infop end_info;
    int width;
    int height;
    int channels;   // bytes per pixel as libpng delivers (picture)
    int depth;      // 8 or 16 bits per sample as delivered (grey16)
    size_t stride;  // bytes per row in pixels
    growing_buffer pixels;
    byte_sink text;
    bool has_text;
};

void collect_text(read_job* j, png_infop info)
{
    png_textp texts = nullptr;
    int count = 0;
    png_get_text(j->png, info, &texts, &count);
    for (int i = 0; i < count; i++) {
        j->has_text = true;
        if (texts[i].text)
            sink_append(&j->text, texts[i].text, strlen(texts[i].text));
    }
}

void set_picture_transforms(png_structp png, png_infop info, int depth, int color)
{
    if (color == PNG_COLOR_TYPE_PALETTE)
        png_set_palette_to_rgb(png);
    if (!(color & PNG_COLOR_MASK_COLOR) && depth < 8)
        png_set_expand_gray_1_2_4_to_8(png);
    if (png_get_valid(png, info, PNG_INFO_tRNS))
        png_set_tRNS_to_alpha(png);
    if (depth == 16)
        png_set_strip_16(png);
    if (!(color & PNG_COLOR_MASK_COLOR))
        png_set_gray_to_rgb(png);
}

void set_grey16_transforms(png_structp png, int depth, int color)
{
    if (color == PNG_COLOR_TYPE_PALETTE)
        png_set_palette_to_rgb(png);
    if (!(color & PNG_COLOR_MASK_COLOR) && depth < 8)
        png_set_expand_gray_1_2_4_to_8(png);
    // Palette expansion may add alpha from a transparency chunk; strip
    // whatever alpha there is after it.
    png_set_strip_alpha(png);
    if (color & PNG_COLOR_MASK_COLOR)
        png_set_rgb_to_gray_fixed(png, PNG_ERROR_ACTION_NONE, -1, -1);
    if (depth == 16 && LITTLE_ENDIAN_HOST)
        png_set_swap(png);
}

// The part of a decode that libpng may leave by longjmp. Its locals are
// not used after an error; all state is in *j.
bool run_png_read(read_job* j)
{
    png_structp png = j->png;
    png_infop info = j->info;
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_read_fn(png, j->stream, read_from_stream);
    png_set_sig_bytes(png, 8);
    png_set_user_limits(png, PICTURE_MAX_DIMENSION, PICTURE_MAX_DIMENSION);
    png_set_chunk_malloc_max(png, PNG_CHUNK_LIMIT);
    png_set_chunk_cache_max(png, PNG_CHUNK_CACHE);
    png_read_info(png, info);
    collect_text(j, info);

    png_uint_32 width, height;
    int depth, color, interlace;
    png_get_IHDR(png, info, &width, &height, &depth, &color, &interlace, nullptr, nullptr);
    if (j->target == read_target::picture)
        set_picture_transforms(png, info, depth, color);
    else
        set_grey16_transforms(png, depth, color);
    int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);

    j->width = int(width);
    j->height = int(height);
    j->channels = png_get_channels(png, info);
    j->depth = png_get_bit_depth(png, info);
    size_t row_bytes = png_get_rowbytes(png, info);
    size_t total;
    if (j->target == read_target::picture) {
        if (j->depth != 8 || (j->channels != 3 && j->channels != 4) ||
            row_bytes != size_t(width) * size_t(j->channels))
            png_error(png, "unexpected pixel layout");
        j->stride = row_bytes;
        total = top_level_bytes(j->width, j->height, j->channels);
    } else {
        if (j->channels != 1 || (j->depth != 8 && j->depth != 16) ||
            row_bytes != size_t(width) * size_t(j->depth / 8))
            png_error(png, "unexpected sample layout");
        // Rows are laid out for 16-bit samples either way; 8-bit rows are
        // widened in place afterwards.
        j->stride = size_t(width) * 2;
        total = top_level_bytes(j->width, j->height, 2);
    }
    if (!total)
        png_error(png, "picture too large");

    // Row by row, pass by pass (as png_read_image does), growing the buffer
    // to the row being read, so a short file fails before a large buffer
    // exists. Rows an interlace pass skips are not touched by libpng.
    for (int pass = 0; pass < passes; pass++)
        for (png_uint_32 y = 0; y < height; y++) {
            if (!grow_to(&j->pixels, size_t(y + 1) * j->stride, total))
                png_error(png, "out of memory");
            png_read_row(png, j->pixels.data + size_t(y) * j->stride, nullptr);
        }
    png_read_end(png, j->end_info);
    collect_text(j, j->end_info);
    return true;
}

// Runs a decode of the stream; on success the job holds the pixels and the
// text, on failure everything is freed.
bool decode_job(read_job* j)
{
    png_byte signature[8];
    if (stream_read(j->stream, signature, 8) != 8 || png_sig_cmp(signature, 0, 8) != 0)
        return false;
    j->png = png_create_read_struct_2(PNG_LIBPNG_VER_STRING, nullptr, quiet_error, quiet_warning,
                                      nullptr, libpng_alloc, libpng_free);
    if (j->png) {
        j->info = png_create_info_struct(j->png);
        j->end_info = png_create_info_struct(j->png);
    }
    bool ok = j->png && j->info && j->end_info && run_png_read(j) && !j->text.failed;
    png_destroy_read_struct(j->png ? &j->png : nullptr, j->info ? &j->info : nullptr,
                            j->end_info ? &j->end_info : nullptr);
    if (!ok) {
        mem_free(j->pixels.data);
        mem_free(j->text.data);
        j->pixels = growing_buffer{};
        j->text = byte_sink{};
    }
    return ok;
}

// Appends the whole ".info" file of the picture, when there is one.
void append_info_file(const char* name, read_job* j)
{
    std::string info_name = std::string(name) + ".info";
    data_stream* s = open_data_file(info_name.c_str(), "rb");
    if (!s)
        return;
    j->has_text = true;
    char chunk[4096];
    size_t got, total = 0;
    while (total < INFO_LIMIT && (got = stream_read(s, chunk, sizeof chunk)) > 0) {
        if (got > INFO_LIMIT - total)
            got = INFO_LIMIT - total;
        sink_append(&j->text, chunk, got);
        total += got;
    }
    close_data_file(s);
}

// Builds the chain from a picture that holds its own smaller levels: the
// top level in the upper two thirds, the rest placed by a cursor that runs
// down the lower third and then to the right. A level that would reach
// outside the picture (possible only for odd shapes) and every level after
// it come from the box filter instead.
bool custom_chain(picture* p, int height, bool max_alpha)
{
    int width = p->width, top_height = 2 * height / 3;
    size_t ch = size_t(p->channels);
    size_t bytes = mip_chain_bytes(width, top_height, p->channels);
    unsigned char* chain = bytes ? static_cast<unsigned char*>(mem_alloc(bytes)) : nullptr;
    if (!chain)
        return false;
    int levels = mip_level_count(width, top_height);
    int column = 0, row = 0, w = width, h = top_height;
    size_t offset = 0;
    for (int level = 0; level < levels; level++) {
        if (column + w > width || row + h > height) {
            size_t previous = mip_level_offset(width, top_height, p->channels, level - 1);
            int pw, ph;
            mip_level_size(width, top_height, level - 1, &pw, &ph);
            build_mip_levels(chain + previous, pw, ph, p->channels, max_alpha);
            break;
        }
        for (int y = 0; y < h; y++)
            memcpy(chain + offset + size_t(y) * size_t(w) * ch,
                   p->pixels + (size_t(row + y) * size_t(width) + size_t(column)) * ch, size_t(w) * ch);
        offset += size_t(w) * size_t(h) * ch;
        if (row + h < height)
            row += h;
        else
            column += w;
        w = w > 1 ? w / 2 : 1;
        h = h > 1 ? h / 2 : 1;
    }
    mem_free(p->pixels);
    p->pixels = chain;
    p->height = top_height;
    p->is_chain = true;
    return true;
}

}  // namespace

bool png_decode_stream(data_stream* s, const char* info_name, picture* out)
{
    *out = picture{};
    read_job job{};
    job.stream = s;
    job.target = read_target::picture;
    if (!decode_job(&job))
        return false;
    if (info_name)
        append_info_file(info_name, &job);
    if (job.has_text) {
        sink_append(&job.text, "", 1);
        if (job.text.failed) {
            mem_free(job.pixels.data);
            mem_free(job.text.data);
            return false;
        }
        out->text = reinterpret_cast<char*>(job.text.data);
    }
    out->pixels = job.pixels.data;
    out->width = job.width;
    out->height = job.height;
    out->channels = job.channels;

    const char* text = out->text ? out->text : "";
    bool max_alpha = strstr(text, "[mip_max_alpha]") != nullptr;
    if (strstr(text, "[mip_custom]")) {
        if ((2 * out->height) % 3 == 0) {
            if (!custom_chain(out, out->height, max_alpha)) {
                picture_free(out);
                return false;
            }
            return true;
        }
        // The picture is then used whole as the top level, with filtered
        // smaller levels.
        log_printf("Warning: Invalid height for custom MIP map in '%.950s'\n", info_name ? info_name : "");
    }
    return finish_chain(out, max_alpha);
}

bool png_decode(const char* name, picture* out)
{
    *out = picture{};
    data_stream* s = open_data_file(name, "rb");
    if (!s)
        return false;
    bool ok = png_decode_stream(s, name, out);
    close_data_file(s);
    return ok;
}

bool read_grey16_png(const char* name, grey16_picture* out)
{
    *out = grey16_picture{};
    data_stream* s = open_data_file(name, "rb");
    if (!s)
        return false;
    bool ok = read_grey16_png_stream(s, out);
    close_data_file(s);
    return ok;
}

bool read_grey16_png_stream(data_stream* s, grey16_picture* out)
{
    *out = grey16_picture{};
    read_job job{};
    job.stream = s;
    job.target = read_target::grey16;
    bool ok = decode_job(&job);
    mem_free(job.text.data);
    if (!ok)
        return false;
    uint16_t* samples = reinterpret_cast<uint16_t*>(job.pixels.data);
    if (job.depth == 8) {
        // Each row's bytes sit at its start; widen from the end so no byte
        // is overwritten before it is read.
        for (int y = 0; y < job.height; y++) {
            unsigned char* bytes = job.pixels.data + size_t(y) * job.stride;
            uint16_t* row = samples + size_t(y) * size_t(job.width);
            for (int x = job.width - 1; x >= 0; x--)
                row[x] = uint16_t(bytes[x] * 257);
        }
    }
    out->samples = samples;
    out->width = job.width;
    out->height = job.height;
    return true;
}

// ---- writers -------------------------------------------------------------------

namespace {

void write_to_sink(png_structp png, png_bytep data, size_t length)
{
    byte_sink* sink = static_cast<byte_sink*>(png_get_io_ptr(png));
    sink_append(sink, data, length);
    if (sink->failed)
        png_error(png, "out of memory");
}

void flush_nothing(png_structp) {}

struct write_job {
    png_structp png;
    png_infop info;
    byte_sink sink;
    const unsigned char* pixels;
    int width;
    int height;
    int color;
    int depth;
    size_t row_bytes;
    bool bottom_up;
    const char* text;
};

bool run_png_write(write_job* j)
{
    png_structp png = j->png;
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_write_fn(png, &j->sink, write_to_sink, flush_nothing);
    png_set_IHDR(png, j->info, png_uint_32(j->width), png_uint_32(j->height), j->depth, j->color,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (j->text) {
        png_text chunk{};
        chunk.compression = PNG_TEXT_COMPRESSION_NONE;
        chunk.key = const_cast<png_charp>("Comment");
        chunk.text = const_cast<png_charp>(j->text);
        chunk.text_length = strlen(j->text);
        png_set_text(png, j->info, &chunk, 1);
    }
    png_write_info(png, j->info);
    if (j->depth == 16 && LITTLE_ENDIAN_HOST)
        png_set_swap(png);
    for (int y = 0; y < j->height; y++) {
        int row = j->bottom_up ? j->height - 1 - y : y;
        png_write_row(png, const_cast<png_bytep>(j->pixels + size_t(row) * j->row_bytes));
    }
    png_write_end(png, j->info);
    return true;
}

bool encode_job(write_job* j, picture_bytes* out)
{
    j->png = png_create_write_struct_2(PNG_LIBPNG_VER_STRING, nullptr, quiet_error, quiet_warning,
                                       nullptr, libpng_alloc, libpng_free);
    if (j->png)
        j->info = png_create_info_struct(j->png);
    bool ok = j->png && j->info && run_png_write(j);
    png_destroy_write_struct(j->png ? &j->png : nullptr, j->info ? &j->info : nullptr);
    if (!ok)
        j->sink.failed = true;
    return sink_finish(&j->sink, out);
}

}  // namespace

bool encode_png(const unsigned char* pixels, int width, int height, int channels,
                bool bottom_up, const char* text, picture_bytes* out)
{
    *out = picture_bytes{};
    static const int colors[] = {PNG_COLOR_TYPE_GRAY, PNG_COLOR_TYPE_GRAY_ALPHA, PNG_COLOR_TYPE_RGB,
                                 PNG_COLOR_TYPE_RGB_ALPHA};
    if (!pixels || !top_level_bytes(width, height, channels))
        return false;
    write_job job{};
    job.pixels = pixels;
    job.width = width;
    job.height = height;
    job.color = colors[channels - 1];
    job.depth = 8;
    job.row_bytes = size_t(width) * size_t(channels);
    job.bottom_up = bottom_up;
    job.text = text;
    return encode_job(&job, out);
}

bool encode_png_grey16(const uint16_t* samples, int width, int height, picture_bytes* out)
{
    *out = picture_bytes{};
    if (!samples || !top_level_bytes(width, height, 2))
        return false;
    write_job job{};
    job.pixels = reinterpret_cast<const unsigned char*>(samples);
    job.width = width;
    job.height = height;
    job.color = PNG_COLOR_TYPE_GRAY;
    job.depth = 16;
    job.row_bytes = size_t(width) * 2;
    return encode_job(&job, out);
}


bool write_png_picture(const char* name, const unsigned char* pixels, int width, int height,
                       int channels, const char* text)
{
    picture_bytes bytes;
    return write_encoded(name, encode_png(pixels, width, height, channels, false, text, &bytes), &bytes);
}

bool write_png_rgb(const char* name, const unsigned char* pixels, int width, int height)
{
    picture_bytes bytes;
    return write_encoded(name, encode_png(pixels, width, height, 3, true, nullptr, &bytes), &bytes);
}

bool write_png_grey16(const char* name, const uint16_t* samples, int width, int height)
{
    picture_bytes bytes;
    return write_encoded(name, encode_png_grey16(samples, width, height, &bytes), &bytes);
}
