// Formatted scanning over arbitrary bytes with the formats the parsers use.
// The first byte picks the format; the rest is the stream.
#include <cstdint>
#include <cstdio>
#include <vector>

#include "fuzz_accept.h"
#include "files/stream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    int choice = data[0] % 7;
    FILE* f = fmemopen(const_cast<uint8_t*>(data + 1), size - 1, "rb");
    if (!f)
        return 0;
    data_stream s;
    if (!start_stream(&s, f, 0, STREAM_WHOLE_FILE, false, false)) {
        fclose(f);
        return 0;
    }
    // Large enough for an unbounded word of the whole input.
    std::vector<char> word(size + 1);
    char small[64], set[16], chars[4];
    int i1, i2, n;
    unsigned u1, u2;
    float f1, f2, f3, f4, f5;
    double d1;
    long long ll;
    for (int rounds = 0; rounds < 10000; rounds++) {
        long before = s.position;
        int r = 0;
        switch (choice) {
        case 0: r = stream_scan(&s, "SOUNDTABLE %d %d", &i1, &i2); break;
        case 1: r = stream_scan(&s, "%f %1023s", &f1, word.data()); break;
        case 2: r = stream_scan(&s, "[ %f %f %f ] %f %f %63s ", &f1, &f2, &f3, &f4, &f5, small); break;
        case 3: r = stream_scan(&s, "%i %x %o%n", &i1, &u1, &u2, &n); break;
        case 4: r = stream_scan(&s, "%15[a-z_0-9] %3c %*d %lld", set, chars, &ll); break;
        case 5: r = stream_scan(&s, "%s %lf %%", word.data(), &d1); break;
        default: r = stream_scan(&s, " %63[^\n]%n", small, &n); break;
        }
        if (r > 0)
            fuzz_accept();
        if (r <= 0 && s.position == before)
            break;
    }
    end_stream(&s);
    return 0;
}
