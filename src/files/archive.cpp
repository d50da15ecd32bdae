#include "files/archive.h"

#include <cstring>

#include <zlib.h>

namespace {

// Longest header line the reader takes, newline included.
enum { ARCHIVE_LINE_MAX = 1023 };

}  // namespace

bool archive_bytes(const std::vector<archive_member>& members, std::string* out)
{
    std::string header;
    size_t data_size = 0;
    for (const archive_member& m : members) {
        if (m.name.empty() || m.name.find('\n') != std::string::npos || m.name.find('\0') != std::string::npos)
            return false;
        std::string line = std::to_string(m.bytes.size()) + " " + m.name + "\n";
        if (line.size() > ARCHIVE_LINE_MAX || line == "-\n")
            return false;
        header += line;
        data_size += m.bytes.size();
    }
    header += "-\n";
    std::string result;
    result.reserve(header.size() + data_size);
    result += header;
    for (const archive_member& m : members)
        result += m.bytes;
    *out = std::move(result);
    return true;
}

bool gzip_bytes(const void* data, size_t size, std::string* out, int level)
{
    if (size > 0xffffffffu)
        return false;  // one deflate call takes at most 4 GiB
    z_stream z;
    memset(&z, 0, sizeof z);
    // Window bits 15 + 16: zlib writes the gzip header and trailer itself.
    if (deflateInit2(&z, level, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return false;
    std::string result(deflateBound(&z, (uLong)size) + 32, '\0');
    z.next_in = static_cast<Bytef*>(const_cast<void*>(data));
    z.avail_in = (uInt)size;
    z.next_out = reinterpret_cast<Bytef*>(&result[0]);
    z.avail_out = (uInt)result.size();
    int r = deflate(&z, Z_FINISH);
    size_t produced = result.size() - z.avail_out;
    deflateEnd(&z);
    if (r != Z_STREAM_END)
        return false;
    result.resize(produced);
    *out = std::move(result);
    return true;
}
