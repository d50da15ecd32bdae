// The results file of a finished race.
#include "race/results.h"

#include <cstdint>
#include <cstdio>

#include "files/datafs.h"
#include "files/stream.h"

namespace {

// Laps completed before race gate `progress` is reached: none in the first
// lap, then one more every normal lap.
int laps_at(int progress, int first, int normal)
{
    if (normal <= 0 || progress < first)
        return 0;
    return (progress - first) / normal + 1;
}

void time_parts(int ticks, int* minutes, int* seconds, int* millis)
{
    const int64_t ms = ticks > 0 ? (int64_t)ticks * 1000 / 128 : 0;
    *minutes = (int)(ms / 60000);
    *seconds = (int)(ms / 1000 % 60);
    *millis = (int)(ms % 1000);
}

}  // namespace

void results_time_text(int ticks, char* out, int size)
{
    int m, s, ms;
    time_parts(ticks, &m, &s, &ms);
    snprintf(out, (size_t)size, "%3d:%02d.%03d", m, s, ms);
}

bool write_results(const char* file, const result_race* race, const result_rider* ranking, int count)
{
    replacing_file out;
    if (!begin_replacing(file, &out))
        return false;
    data_stream* s = out.stream;
    stream_printf(s, "Time=%.2f|Laps=%d|Track=%s|Date=%ld\r\n", (double)race->time_limit_ticks / 128.0,
                  race->extra_laps, race->track_dir ? race->track_dir : "", race->date);
    stream_printf(s, "%4s | %12s | %4s | %10s | %4s | %10s\r\n", "No.", "Bike", "Laps", "Total Time", "BLap",
                  "Best Time");
    for (int k = 0; k < count; k++) {
        const result_rider& r = ranking[k];
        if (!r.finished)
            continue;
        int m, sec, ms;
        time_parts(r.total_ticks, &m, &sec, &ms);
        stream_printf(s, "%4s | %12s | %4d | %3d:%02d.%03d | ", r.number ? r.number : "", r.model ? r.model : "",
                      r.lap_count, m, sec, ms);
        time_parts(r.best_lap_ticks, &m, &sec, &ms);
        stream_printf(s, "%4d | %3d:%02d.%03d\r\n", r.best_lap, m, sec, ms);
    }
    for (int k = 0; k < count; k++) {
        const result_rider& r = ranking[k];
        if (!r.finished)
            continue;
        const int n = r.gate_times ? r.gate_count : 0;
        stream_printf(s, "\r\n%d\r\n", n < 0 ? 0 : n);
        for (int g = 0; g < n; g++) {
            const int t = r.gate_times[g];
            if (t == -1)
                stream_printf(s, "%8d", -1);
            else
                stream_printf(s, "%8.3f", (double)((int64_t)t - race->start_tick) / 128.0);
            const bool same_lap =
                g + 1 < n && laps_at(g + 1, race->first_lap_gates, race->normal_lap_gates) ==
                                 laps_at(g, race->first_lap_gates, race->normal_lap_gates);
            stream_puts(s, same_lap ? " " : "\r\n");
        }
    }
    return finish_replacing(&out, true, false);
}
