// Writing data archives (".saf") and gzip files, for the data generator and
// the tests. The game itself only reads them (datafs.h, stream.h).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

struct archive_member {
    std::string name;   // data name without "@"; may hold "/"; end it in
                        // ".gz", ".scram" or ".gz.scram" for stored forms
    std::string bytes;  // the member's stored bytes
};

// The bytes of an archive holding the members in the given order. Fails
// (false, out untouched) when a name is empty, holds a newline or a zero
// byte, or makes its header line longer than the reader accepts.
bool archive_bytes(const std::vector<archive_member>& members, std::string* out);

// gzip-compresses data with a real gzip header (no file name, time 0, so
// the same input always gives the same bytes). False only when zlib fails.
bool gzip_bytes(const void* data, size_t size, std::string* out, int level = 9);
