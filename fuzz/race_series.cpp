// A ".series" file and, after the first zero byte, its standings file; then
// the round classification, standings, cells and the next event's lineup.
// Positions must stay inside the field and the lineup must seat every rider
// once.
#include <cstdint>
#include <cstring>

#include "fuzz_accept.h"
#include "picture_fuzz_input.h"
#include "race/series.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const uint8_t* split = (const uint8_t*)memchr(data, 0, size);
    const size_t series_size = split ? (size_t)(split - data) : size;
    memory_input in(data, series_size);
    if (!in.open)
        return 0;
    static const char* const tracks[] = {"rabbithill", "stadium"};
    points_series s;
    if (!series_parse(&in.stream, "fuzz.series", tracks, 2, 0, &s))
        return 0;
    fuzz_accept();
    if (split && size > series_size + 1) {
        memory_input standings(split + 1, size - series_size - 1);
        if (standings.open)
            series_read_standings(&s, &standings.stream);
    }
    const int k = s.robot_count;
    if (s.completed < 0 || s.completed > s.event_count || k < 0 || k > SERIES_MAX_ROBOTS)
        __builtin_trap();
    for (int e = 0; e < s.completed; e++)
        for (int r = 0; r <= k; r++)
            if (s.events[e].finish[r] < 0 || s.events[e].finish[r] > k || s.events[e].round_position[r] < 0 ||
                s.events[e].round_position[r] > k)
                __builtin_trap();
    standing_row rows[SERIES_MAX_RIDERS];
    series_standings(&s, rows);
    char text[256];
    for (int round = 0; round < series_round_count(&s) && round < 8; round++)
        for (int r = 0; r <= k; r++)
            series_cell_text(&s, r, round, text, sizeof text);
    series_heading_text(&s, text, sizeof text);
    series_start start;
    if (start_series_event(&s, &start)) {
        int seated = 0;
        for (int code : start.lineup)
            seated += code != 0;
        if (seated != k + 1)
            __builtin_trap();
    }
    series_free(&s);
    return 0;
}
