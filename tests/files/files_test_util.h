// Helpers for the file module tests: gzip files with hand-made headers and
// streams over bytes written to a scratch file.
#pragma once

#include <cstdio>
#include <string>

#include <zlib.h>

#include "files/stream.h"
#include "test_support.h"

namespace files_test {

enum { GZ_HCRC = 2, GZ_EXTRA = 4, GZ_NAME = 8, GZ_COMMENT = 16 };

inline std::string raw_deflate(const std::string& data)
{
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, data.size()) + 16, '\0');
    z.next_in = (Bytef*)data.data();
    z.avail_in = (uInt)data.size();
    z.next_out = (Bytef*)&out[0];
    z.avail_out = (uInt)out.size();
    deflate(&z, Z_FINISH);
    out.resize(out.size() - z.avail_out);
    deflateEnd(&z);
    return out;
}

// A gzip file with the given flags; the optional fields get fixed contents.
inline std::string gzip_with_header(const std::string& data, int flags)
{
    std::string g = {'\x1f', '\x8b', 8, (char)flags, 0, 0, 0, 0, 0, 3};
    if (flags & GZ_EXTRA) {
        std::string extra = "AB\x05\x00hello";
        g += (char)extra.size();
        g += '\0';
        g += extra;
    }
    if (flags & GZ_NAME)
        g += std::string("terrain.hf") + '\0';
    if (flags & GZ_COMMENT)
        g += std::string("made by a test") + '\0';
    if (flags & GZ_HCRC)
        g += "\x12\x34";
    g += raw_deflate(data);
    uLong crc = crc32(0, (const Bytef*)data.data(), (uInt)data.size());
    for (int i = 0; i < 4; i++)
        g += (char)(crc >> (8 * i));
    for (int i = 0; i < 4; i++)
        g += (char)(data.size() >> (8 * i));
    return g;
}

// Text that compresses to many kilobytes (a simple generator, not random).
inline std::string noisy_text(size_t size)
{
    std::string s;
    unsigned x = 12345;
    while (s.size() < size) {
        x = x * 1103515245u + 12345u;
        s += (char)('!' + (x >> 16) % 90);
        if ((x >> 8) % 17 == 0)
            s += '\n';
    }
    s.resize(size);
    return s;
}

// A stream set up directly over a file holding `bytes`, optionally as a
// window [offset, offset + limit).
struct byte_stream {
    test::temp_dir dir;
    data_stream s;
    bool ok = false;
    byte_stream(const std::string& bytes, bool gzip, bool scrambled, long offset = 0, long limit = STREAM_WHOLE_FILE)
    {
        std::string path = dir / "data";
        test::write_file(path, bytes);
        FILE* f = fopen(path.c_str(), "rb");
        fseek(f, offset, SEEK_SET);
        ok = start_stream(&s, f, offset, limit, gzip, scrambled);
        if (!ok)
            fclose(f);
    }
    ~byte_stream()
    {
        if (ok)
            end_stream(&s);
    }
    data_stream* operator->() { return &s; }
    data_stream* get() { return &s; }
};

// Everything left in the stream, byte by byte.
inline std::string read_all_getc(data_stream* s)
{
    std::string out;
    for (int c; (c = stream_getc(s)) >= 0;)
        out += (char)c;
    return out;
}

// Everything left, in blocks of `chunk` bytes.
inline std::string read_all_blocks(data_stream* s, size_t chunk)
{
    std::string out;
    std::string buf(chunk, '\0');
    for (size_t n; (n = stream_read(s, &buf[0], chunk)) > 0;)
        out.append(buf, 0, n);
    return out;
}

}  // namespace files_test
