// An input script (KZ_INPUT_SCRIPT) over arbitrary bytes, loaded from a
// file as the game loads it: the events must come out in frame order, with
// frames and pointer positions that are not negative, key codes that are
// not negative and presses of 0 or 1.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "core/input_script.h"
#include "fuzz_accept.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::string path = "/tmp/kessrig-fuzz-input-" + std::to_string((long)getpid()) + ".txt";
    FILE* f = fopen(path.c_str(), "wb");
    if (!f)
        return 0;
    fwrite(data, 1, size, f);
    fclose(f);
    input_script s;
    if (!input_script_load(&s, path.c_str()))
        __builtin_trap();
    if (s.events.empty())
        return 0;
    fuzz_accept();
    long last = 0;
    for (const scripted_event& e : s.events) {
        if (e.frame < last)
            __builtin_trap();
        last = e.frame;
        if (e.pointer ? (e.x < 0 || e.y < 0) : (e.code < 0 || (e.pressed != 0 && e.pressed != 1)))
            __builtin_trap();
    }
    return 0;
}
