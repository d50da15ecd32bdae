// "terrain.hf" loading over arbitrary bytes: the header, raw samples, the
// fall back to "terrain.png", and the lighting maps beside it. The input is
// written as the file in a scratch track directory that also holds a small
// "terrain.png" and a lighting map for the smallest grid. Headers that
// declare a larger grid are turned away before the file is written: every
// input would otherwise fill and hash up to 4097 x 4097 samples only to
// fail at the lighting map, and the larger sizes run the same code as the
// smallest.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_accept.h"
#include "render/picture.h"
#include "track/heightfield.h"

namespace {

std::string scratch_dir()
{
    static std::string dir;
    if (dir.empty()) {
        char templ[] = "/tmp/kessrig-fuzz-terrain-XXXXXX";
        if (!mkdtemp(templ))
            abort();
        dir = templ;
        const uint8_t grey[6] = {0, 40, 80, 120, 160, 255};
        write_png_picture((dir + "/terrain.png").c_str(), grey, 3, 2, 1, nullptr);
        const int n = 129;
        std::string rgb((size_t)n * n * 3, (char)90);
        write_ppm((dir + "/shadingx2.ppm").c_str(), (const unsigned char*)rgb.data(), n, n, false);
    }
    return dir;
}

// The grid size the header declares, as the reader's "%d" takes it; -1
// when it does not start with a number.
long declared_grid(const uint8_t* data, size_t size)
{
    char head[32];
    const size_t n = size < sizeof head - 1 ? size : sizeof head - 1;
    memcpy(head, data, n);
    head[n] = 0;
    char* end = nullptr;
    const long v = strtol(head, &end, 10);
    return end == head ? -1 : v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (declared_grid(data, size) > HEIGHTFIELD_MIN_LOAD_LOG2)
        return 0;
    const std::string dir = scratch_dir();
    FILE* f = fopen((dir + "/terrain.hf").c_str(), "wb");
    if (!f)
        return 0;
    fwrite(data, 1, size, f);
    fclose(f);

    heightfield hf;
    if (heightfield_load(&hf, dir.c_str(), 2)) {
        fuzz_accept();
        if (hf.grid_log2 != HEIGHTFIELD_MIN_LOAD_LOG2 || !hf.heights)
            __builtin_trap();
        for (int i = 0; i < hf.sample_count * hf.sample_count; i++)
            if (!std::isfinite(hf.heights[i]))
                __builtin_trap();
        // Whatever loaded must answer queries anywhere.
        for (float x : {-5.0f, 0.0f, 13.7f, 1e9f})
            for (float z : {-1.0f, 7.25f, 255.9f}) {
                (void)heightfield_height_at(&hf, x, z);
                (void)heightfield_face_normal_at(&hf, x, z);
            }
        (void)heightfield_vertex_normal(&hf, hf.sample_count - 1, 0);
        heightfield_set_height(&hf, hf.sample_count - 1, hf.sample_count - 1, 1.0f);
    }
    heightfield_free(&hf);
    return 0;
}
