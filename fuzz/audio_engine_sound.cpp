// A ".braap" file (first byte even) or a sound table (odd) over arbitrary
// bytes, then a second of synthesis with what was read. Every value the
// synthesis produces must stay inside the ring and the clamp, whatever the
// file said. Sample files are looked up in an empty data directory, so a
// table's cells fail there; the built-in tables carry the synthesis.
#include <cmath>
#include <cstdint>
#include <memory>

#include "audio/engine_sound.h"
#include "picture_fuzz_input.h"

namespace {

void check_sound(engine_sound* s)
{
    for (int f = 0; f < 6; f++)
        engine_sound_render(s, 2000.0f + 3000.0f * f, f % 2 ? 10.0f : -10.0f, SOUND_MAX_FRAME);
    for (float v : s->history)
        if (!(v >= -16 && v <= 16))
            __builtin_trap();
    if (s->write_pos < 0 || s->write_pos >= SOUND_RING || s->bias_count < 1 || s->scale_count < 1)
        __builtin_trap();
    for (int t = 0; t < PIPE_TAPS; t++)
        if (s->tap_delay[t] < 0 || s->tap_delay[t] >= SOUND_RING)
            __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const bool table = data[0] & 1;
    memory_input in(data + 1, size - 1);
    if (!in.open)
        return 0;
    static auto s = std::make_unique<engine_sound>();
    engine_sound_init(s.get(), nullptr, nullptr);
    if (table) {
        sound_table t;
        if (read_sound_table(&t, &in.stream)) {
            if (t.rows < 1 || t.rows > SOUND_TABLE_MAX_DIM || t.cols < 1 || t.cols > SOUND_TABLE_MAX_DIM)
                __builtin_trap();
            s->table = &t;
            check_sound(s.get());
        }
        engine_sound_free_tables();
        return 0;
    }
    read_braap(s.get(), &in.stream);
    // The last two lines of init: empty lists become neutral.
    if (s->bias_count == 0) {
        s->bias[0] = 0;
        s->bias_count = 1;
    }
    if (s->scale_count == 0) {
        s->scale[0] = 1;
        s->scale_count = 1;
    }
    check_sound(s.get());
    engine_sound_free_tables();
    return 0;
}
