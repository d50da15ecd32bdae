// A lines file over arbitrary bytes, for a track of four sections: every
// line kept has 1 to LINE_MAX_POINTS finite points and its statistics in
// range, serials are unique, and writing the table and reading it back
// gives the same lines with the same numbers.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "fuzz_accept.h"
#include "picture_fuzz_input.h"
#include "robot/lines.h"
#include "track/timing_gates.h"

namespace {

void four_sections(line_table* t)
{
    static track_timing timing;
    timing.checkpoint_count = 1;
    timing.first_count = timing.normal_count = 2;
    timing.first_real = timing.normal_real = 2;
    lines_rebuild(t, &timing);
}

void check(const line_table& t)
{
    for (int r = 0; r < t.row_count; r++)
        for (int i = 0; i < LINES_PER_ROW; i++) {
            const racing_line& l = t.rows[r].lines[i];
            if (!l.points)
                continue;
            if (l.point_count < 1 || l.point_count > LINE_MAX_POINTS || l.serial <= 0)
                __builtin_trap();
            if (l.runs < 0 || l.runs > 65535 || l.failures < 0 || l.failures > 65535)
                __builtin_trap();
            if (l.sum_first < 0 || l.sum_first > 100000000 || l.sum_total < 0 || l.sum_total > 100000000)
                __builtin_trap();
            if (l.time_first < 0 || l.time_first > LINE_NO_TIME || l.time_total < 0 || l.time_total > LINE_NO_TIME)
                __builtin_trap();
            for (int p = 0; p < l.point_count; p++) {
                const line_point& q = l.points[p];
                if (!std::isfinite(q.x) || !std::isfinite(q.y) || !std::isfinite(q.z) || !std::isfinite(q.speed) ||
                    !std::isfinite(q.height))
                    __builtin_trap();
            }
            for (int r2 = 0; r2 < t.row_count; r2++)
                for (int j = 0; j < LINES_PER_ROW; j++)
                    if ((r2 != r || j != i) && t.rows[r2].lines[j].points && t.rows[r2].lines[j].serial == l.serial)
                        __builtin_trap();
        }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    memory_input in(data, size);
    if (!in.open)
        return 0;
    line_table t;
    four_sections(&t);
    if (lines_read(&t, &in.stream, "fuzz") < 0) {
        lines_free(&t);
        return 0;
    }
    check(t);
    int kept = 0;
    for (int r = 0; r < t.row_count; r++)
        kept += lines_in_row(&t, r);
    if (kept > 0)
        fuzz_accept();

    // Written out and read back: the same lines, numbers for numbers.
    char* text = nullptr;
    size_t length = 0;
    FILE* out = open_memstream(&text, &length);
    data_stream s;
    if (!out || !start_stream(&s, out, 0, 0x7fffffff, false, false))
        __builtin_trap();
    if (!lines_write(&t, &s))
        __builtin_trap();
    end_stream(&s);
    memory_input again((const uint8_t*)text, length);
    line_table u;
    four_sections(&u);
    if (!again.open || lines_read(&u, &again.stream, "again") < 0)
        __builtin_trap();
    for (int r = 0; r < t.row_count; r++)
        if (lines_in_row(&t, r) != lines_in_row(&u, r))
            __builtin_trap();
    lines_free(&u);
    lines_free(&t);
    free(text);
    return 0;
}
