// "LINK" files over arbitrary bytes: an accepted target is a non-empty
// name of at most 1023 bytes with no white space at either end.
#include <cctype>
#include <cstdint>
#include <cstring>

#include "fuzz_accept.h"
#include "picture_fuzz_input.h"
#include "render/picture.h"
#include "render/texture_files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    memory_input in(data, size);
    if (!in.open)
        return 0;
    char magic[16];
    if (!read_picture_magic(&in.stream, magic, sizeof magic) || strcmp(magic, "LINK") != 0)
        return 0;
    char target[LINK_TARGET_MAX + 1];
    if (!link_read_target(&in.stream, target, sizeof target))
        return 0;
    fuzz_accept();
    const size_t n = strlen(target);
    if (n == 0 || n > LINK_TARGET_MAX || isspace(static_cast<unsigned char>(target[0])) ||
        isspace(static_cast<unsigned char>(target[n - 1])))
        __builtin_trap();
    return 0;
}
