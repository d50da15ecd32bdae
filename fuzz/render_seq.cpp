// Animated ".seq" files over arbitrary bytes: an accepted sequence has a
// usable tick count, entries that index its pictures, and pictures of one
// size and depth, each a power-of-two chain of at most 65536 pixels; the
// animation's picture choice stays in range for any tick.
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_accept.h"
#include "picture_fuzz_input.h"
#include "render/picture.h"
#include "render/texture_files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // "PNG" lines name files by path; keep the reader away from devices
    // that would block.
    const std::string text(reinterpret_cast<const char*>(data), size);
    for (const char* where : {"dev/", "proc/", "sys/"})
        if (text.find(where) != std::string::npos)
            return 0;
    memory_input in(data, size);
    if (!in.open)
        return 0;
    char magic[16];
    if (!read_picture_magic(&in.stream, magic, sizeof magic) || strcmp(magic, "ANIM1") != 0)
        return 0;
    seq_file seq;
    if (!seq_read(&in.stream, &seq)) {
        if (seq.pictures || seq.sequence)
            __builtin_trap();
        return 0;
    }
    fuzz_accept();
    if (seq.ticks_per_frame < 1 || seq.sequence_length < 1 || seq.picture_count < 1 ||
        seq.picture_count > SEQ_MAX_PICTURES)
        __builtin_trap();
    for (int i = 0; i < seq.sequence_length; i++)
        if (seq.sequence[i] < 0 || seq.sequence[i] >= seq.picture_count)
            __builtin_trap();
    const seq_picture& first = seq.pictures[0];
    for (int i = 0; i < seq.picture_count; i++) {
        const seq_picture& p = seq.pictures[i];
        if (p.width != first.width || p.height != first.height || p.channels != first.channels || !p.data)
            __builtin_trap();
        if (!is_power_of_two(p.width) || !is_power_of_two(p.height) ||
            long(p.width) * p.height > SEQ_MAX_PICTURE_PIXELS)
            __builtin_trap();
        // Touch the last byte of the chain.
        volatile unsigned char last = p.data[mip_chain_bytes(p.width, p.height, p.channels) - 1];
        (void)last;
    }
    for (int tick : {0, 1, 7, 1000, 0x7fffffff}) {
        long long entry = tick / seq.ticks_per_frame;
        entry = seq.loop ? entry % seq.sequence_length
                         : (entry < seq.sequence_length - 1 ? entry : seq.sequence_length - 1);
        if (entry < 0 || entry >= seq.sequence_length)
            __builtin_trap();
    }
    seq_free(&seq);
    return 0;
}
