// Arbitrary bytes opened as a gzip stream (the first byte chooses whether
// they are also scrambled, and how big the read blocks are) and read to
// the end.
#include <cstdint>
#include <cstdio>

#include "fuzz_accept.h"
#include "files/stream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    bool scrambled = data[0] & 1;
    size_t block = 1 + (data[0] >> 1) * 17;
    // A window shorter than the data, as for an archive member, now and then.
    long limit = (data[0] & 0x80) ? (long)(size - 1) / 2 : STREAM_WHOLE_FILE;
    FILE* f = fmemopen(const_cast<uint8_t*>(data + 1), size - 1, "rb");
    if (!f)
        return 0;
    data_stream s;
    if (!start_stream(&s, f, 0, limit, true, scrambled)) {
        fclose(f);
        return 0;
    }
    unsigned char buffer[4096];
    if (block > sizeof buffer)
        block = sizeof buffer;
    // Alternate byte and block reads; a zip bomb is cut off at 64 MiB.
    long total = 0;
    while (total < (64L << 20)) {
        int c = stream_getc(&s);
        if (c < 0)
            break;
        fuzz_accept();  // something came out of the stream
        size_t n = stream_read(&s, buffer, block);
        total += 1 + (long)n;
        if (n < block && stream_peekc(&s) < 0)
            break;
    }
    end_stream(&s);
    return 0;
}
