// The reductions before upload and for pictures in memory over arbitrary
// pictures: sizes and depth from the first bytes, pixels from the rest.
// Results are power-of-two chains inside what was given or made.
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_accept.h"
#include "files/memory.h"
#include "render/picture.h"
#include "render/texture.h"
#include "render/texture_files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 4)
        return 0;
    const int width = 1 + data[0] % 300, height = 1 + data[1] % 300;
    const int channels = data[2] & 1 ? 4 : 3;
    const int drop = data[3] % 12;
    const size_t bytes = mip_chain_bytes(width, height, channels);
    std::vector<unsigned char> chain(bytes, 0);
    if (size > 4)
        for (size_t i = 0; i < size_t(width) * height * channels; i++)
            chain[i] = data[4 + i % (size - 4)];
    build_mip_levels(chain.data(), width, height, channels, data[2] & 2);

    texture_reduction r;
    if (!texture_reduce(chain.data(), width, height, channels, drop, nullptr, &r))
        __builtin_trap();
    if (!is_power_of_two(r.width) || !is_power_of_two(r.height) || r.width > width || r.height > height)
        __builtin_trap();
    const unsigned char* begin = r.owned ? r.owned : chain.data();
    const size_t available =
        r.owned ? mip_chain_bytes(power_of_two_below(width), power_of_two_below(height), channels) : bytes;
    if (r.chain < begin || r.chain + mip_chain_bytes(r.width, r.height, channels) > begin + available)
        __builtin_trap();
    texture_reduction_free(&r);

    unsigned char* copy = static_cast<unsigned char*>(mem_alloc(bytes));
    memcpy(copy, chain.data(), bytes);
    int w = width, h = height;
    image_fit(&copy, &w, &h, channels, data[3] * 1000L, drop);
    if (!is_power_of_two(w) || !is_power_of_two(h) || w > width || h > height)
        __builtin_trap();
    volatile unsigned char last = copy[mip_chain_bytes(w, h, channels) - 1];
    (void)last;
    mem_free(copy);
    fuzz_accept();  // every picture reduces: the checks above are the test
    return 0;
}
