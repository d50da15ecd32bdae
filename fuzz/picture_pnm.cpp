// PPM, PGM and the predictive raw format through the readers that choose by
// the first token, and the predictive decoder asked for four channels.
#include <cstring>

#include "fuzz_accept.h"
#include "picture_fuzz_input.h"
#include "render/picture.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    {
        memory_input in(data, size);
        picture pic;
        if (in.open && read_rgb_picture(&in.stream, &pic)) {
            fuzz_accept();
            picture_free(&pic);
        }
    }
    {
        memory_input in(data, size);
        picture pic;
        if (in.open && read_grey_picture(&in.stream, &pic)) {
            fuzz_accept();
            picture_free(&pic);
        }
    }
    {
        memory_input in(data, size);
        char magic[16];
        picture pic;
        if (in.open && read_picture_magic(&in.stream, magic, sizeof magic) &&
            predictive_decode(&in.stream, magic, 4, &pic)) {
            fuzz_accept();
            picture_free(&pic);
        }
    }
    return 0;
}
