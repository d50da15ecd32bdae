// PNG decoding: the picture decoder (with and without custom smaller
// levels and maximum alpha, which an ".info" file switches on) and the
// 16-bit grey reader.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz_accept.h"
#include "picture_fuzz_input.h"
#include "render/picture.h"

namespace {

// A picture name whose ".info" file asks for both level options, so the
// custom level copying is fuzzed without needing valid chunk checksums.
const std::string& custom_info_name()
{
    static std::string name = [] {
        char dir[] = "/tmp/kessrig-fuzz-png-XXXXXX";
        if (!mkdtemp(dir))
            abort();
        std::string base = std::string(dir) + "/picture.png";
        FILE* f = fopen((base + ".info").c_str(), "wb");
        if (!f)
            abort();
        fputs("[mip_custom][mip_max_alpha]", f);
        fclose(f);
        return base;
    }();
    return name;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    {
        memory_input in(data, size);
        if (in.open) {
            picture pic;
            // Odd sizes go through the custom levels.
            const char* info = size % 2 ? custom_info_name().c_str() : nullptr;
            if (png_decode_stream(&in.stream, info, &pic)) {
                fuzz_accept();
                picture_free(&pic);
            }
        }
    }
    {
        memory_input in(data, size);
        if (in.open) {
            grey16_picture grey;
            if (read_grey16_png_stream(&in.stream, &grey)) {
                fuzz_accept();
                grey16_picture_free(&grey);
            }
        }
    }
    return 0;
}
