// "timing_gates" over arbitrary bytes, then the crossing rule driven by
// wheel positions taken from the same bytes. What was read must be within
// its limits and normalised, and no lap-end gate behind a bike may ever be
// left without a time.
#include <cmath>
#include <cstdint>
#include <cstring>

#include "fuzz_accept.h"
#include "bike/bike.h"
#include "files/memory.h"
#include "picture_fuzz_input.h"
#include "race/gates.h"

namespace {

track_timing g_timing;

void check_read(const track_timing& t)
{
    if (t.piece_count < 0 || t.piece_count > START_GATE_MAX)
        __builtin_trap();
    for (int i = 0; i < t.piece_count; i++) {
        const start_gate_piece& p = t.pieces[i];
        if (!std::isfinite(p.position.x) || !std::isfinite(p.position.z) || !(std::fabs(p.angle) <= 3.1416f))
            __builtin_trap();
    }
    if (!timing_active(&t)) {
        if (t.checkpoint_count != 0 || lap_count(&t, 100) != 0)
            __builtin_trap();
        return;
    }
    if (t.checkpoint_count > CHECKPOINT_MAX || t.first_count > LAP_SEQUENCE_MAX || t.normal_count > LAP_SEQUENCE_MAX)
        __builtin_trap();
    for (int i = 0; i < t.checkpoint_count; i++) {
        const timing_gate& g = t.checkpoints[i];
        if (!std::isfinite(g.radius) || !std::isfinite(g.position.x) || !std::isfinite(g.direction.z))
            __builtin_trap();
    }
    for (int k = 0; k < t.first_count + 2 * t.normal_count; k++) {
        const int c = race_gate_checkpoint(&t, k);
        if (c < 0 || c >= t.checkpoint_count)
            __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    {
        memory_input in(data, size);
        if (!in.open)
            return 0;
        read_timing_gates(&g_timing, &in.stream, nullptr, 0);
    }
    const track_timing& t = g_timing;
    check_read(t);
    if (timing_active(&t) || t.piece_count > 0)
        fuzz_accept();

    if (timing_active(&t)) {
        // Each pair of bytes puts the wheel near a checkpoint (first byte)
        // with an offset (second byte).
        bike b;
        gate_race race;
        race.race_laps = 1 + (int)(size % 4);
        for (size_t i = 0; i + 1 < size && i < 4096; i += 2) {
            const timing_gate& g = t.checkpoints[data[i] % t.checkpoint_count];
            const float offset = ((float)data[i + 1] - 128.0f) * 0.125f;
            race.tick = (int)i;
            check_gates_at(&t, &b, g.position.x + offset, g.position.z - offset * 0.5f, race);
            if (b.gate_progress > b.gate_times.count)
                __builtin_trap();
            for (int k = 0; k < b.gate_progress; k++)
                if (is_lap_end_gate(&t, k) && gate_time(&b, k) == -1)
                    __builtin_trap();
            is_finished(&t, &b, race);
            best_lap(&t, &b, 0);
        }
        mem_free(b.gate_times.items);
    }
    timing_gates_clear(&g_timing);
    return 0;
}
