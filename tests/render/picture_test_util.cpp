#include "picture_test_util.h"

#include <zlib.h>

#include <csetjmp>
#include <cstring>

#include <gtest/gtest.h>

#include "files/datafs.h"

namespace picture_test {

namespace {

struct write_state {
    std::string* out;
};

void append(png_structp png, png_bytep data, size_t n)
{
    static_cast<write_state*>(png_get_io_ptr(png))->out->append(reinterpret_cast<char*>(data), n);
}

void no_flush(png_structp) {}

// Everything the setjmp function touches lives in the caller's frame.
struct job {
    const png_layout* entry;
    write_state state;
    png_structp png;
    png_infop info;
    std::vector<png_text>* before;
    std::vector<png_text>* after;
};

bool run(job* j)
{
    if (setjmp(png_jmpbuf(j->png)))
        return false;
    const png_layout& s = *j->entry;
    png_set_write_fn(j->png, &j->state, append, no_flush);
    png_set_IHDR(j->png, j->info, s.width, s.height, s.bit_depth, s.color_type,
                 s.interlace ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (!s.palette.empty())
        png_set_PLTE(j->png, j->info, s.palette.data(), int(s.palette.size()));
    if (!s.palette_alpha.empty())
        png_set_tRNS(j->png, j->info, s.palette_alpha.data(), int(s.palette_alpha.size()), nullptr);
    if (s.grey_transparent) {
        png_color_16 colour{};
        colour.gray = png_uint_16(s.grey_transparent_value);
        png_set_tRNS(j->png, j->info, nullptr, 0, &colour);
    }
    if (!j->before->empty())
        png_set_text(j->png, j->info, j->before->data(), int(j->before->size()));
    png_write_info(j->png, j->info);
    size_t row_bytes = png_get_rowbytes(j->png, j->info);
    int passes = png_set_interlace_handling(j->png);
    for (int p = 0; p < passes; p++)
        for (int y = 0; y < s.height; y++)
            png_write_row(j->png, const_cast<png_bytep>(s.rows.data() + size_t(y) * row_bytes));
    // Text set after the header is written goes out with the end chunks.
    if (!j->after->empty())
        png_set_text(j->png, j->info, j->after->data(), int(j->after->size()));
    png_write_end(j->png, j->info);
    return true;
}

std::vector<png_text> texts(const std::vector<std::string>& list)
{
    std::vector<png_text> out;
    for (const std::string& t : list) {
        png_text chunk{};
        chunk.compression = PNG_TEXT_COMPRESSION_NONE;
        chunk.key = const_cast<char*>("Comment");
        chunk.text = const_cast<char*>(t.c_str());
        chunk.text_length = t.size();
        out.push_back(chunk);
    }
    return out;
}

}  // namespace

std::string make_png(const png_layout& entry)
{
    std::string out;
    std::vector<png_text> before = texts(entry.text_before), after = texts(entry.text_after);
    job j{&entry, {&out}, nullptr, nullptr, &before, &after};
    j.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    j.info = png_create_info_struct(j.png);
    bool ok = run(&j);
    png_destroy_write_struct(&j.png, &j.info);
    EXPECT_TRUE(ok) << "libpng refused the test picture";
    return out;
}

std::string gzip(const std::string& bytes)
{
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, 9, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY), Z_OK);
    std::string out(deflateBound(&z, bytes.size()) + 64, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    z.avail_in = uInt(bytes.size());
    z.next_out = reinterpret_cast<Bytef*>(&out[0]);
    z.avail_out = uInt(out.size());
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

std::string bytes_of(const picture_bytes& b)
{
    return std::string(reinterpret_cast<const char*>(b.data), b.size);
}

bool read_rgb_file(const std::string& path, picture* out)
{
    data_stream* s = open_data_file(path.c_str(), "rb");
    if (!s) {
        *out = picture{};
        return false;
    }
    bool ok = read_rgb_picture(s, out);
    close_data_file(s);
    return ok;
}

}  // namespace picture_test
