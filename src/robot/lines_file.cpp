// The lines file: the table as text, read with the formatted scan and
// written through a new file renamed over the old one; what a world reset
// does with it.
//
//   "ct03 ROWS\n"
//   per row: "COUNT\n", then per line
//     "POINTS TIME_FIRST TIME_TOTAL RUNS BEST_FIRST BEST_TOTAL SUM_FIRST SUM_TOTAL FAILURES\n"
//     and per point "[X Y Z] SPEED HEIGHT\n"
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>

#include "files/datafs.h"
#include "files/memory.h"
#include "files/stream.h"
#include "platform/log.h"
#include "race/world.h"
#include "robot/lines.h"
#include "track/track.h"

namespace {

const int64_t k_sum_max = 100000000;
const int k_count_max = 65535;
const char* const k_skill_files[3] = {"lines_novice", "lines_amateur", "lines_expert"};

// A row may list more lines than it keeps, but not absurdly many.
const int k_row_lines_max = 1000000;

enum line_field {
    f_points,
    f_time_first,
    f_time_total,
    f_runs,
    f_best_first,
    f_best_total,
    f_sum_first,
    f_sum_total,
    f_failures,
    f_count
};

int clamp_time(long long v)
{
    return v > LINE_NO_TIME ? LINE_NO_TIME : (int)v;
}

// One line's numbers; false when they do not parse or make no sense (a
// negative count or time, more points than a line may hold).
bool read_line_header(data_stream* s, long long v[f_count])
{
    if (stream_scan(s, " %lld %lld %lld %lld %lld %lld %lld %lld %lld ", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5],
                    &v[6], &v[7], &v[8]) != f_count)
        return false;
    for (int i = 0; i < f_count; i++)
        if (v[i] < 0)
            return false;
    return v[f_points] <= LINE_MAX_POINTS;
}

bool read_point(data_stream* s, line_point* p)
{
    if (stream_scan(s, " [ %f %f %f ] %f %f ", &p->x, &p->y, &p->z, &p->speed, &p->height) != 5)
        return false;
    return std::isfinite(p->x) && std::isfinite(p->y) && std::isfinite(p->z) && std::isfinite(p->speed) &&
           std::isfinite(p->height);
}

// The numbers of a line as they are written: every value fits an int.
struct line_numbers {
    long long v[f_count];
};

line_numbers numbers_of(const racing_line& l)
{
    racing_line folded = l;
    lines_fold_statistics(&folded);
    line_numbers n;
    n.v[f_points] = folded.point_count;
    n.v[f_time_first] = folded.time_first;
    n.v[f_time_total] = folded.time_total;
    n.v[f_runs] = folded.runs;
    n.v[f_best_first] = folded.best_first;
    n.v[f_best_total] = folded.best_total;
    n.v[f_sum_first] = folded.sum_first;
    n.v[f_sum_total] = folded.sum_total;
    n.v[f_failures] = folded.failures;
    return n;
}

}  // namespace

void lines_fold_statistics(racing_line* l)
{
    for (int round = 0; round < 16; round++) {
        if (!(l->sum_total > k_sum_max || l->runs > k_count_max || l->failures > k_count_max))
            break;
        const int half = l->runs / 2;
        if (half != 0) {
            l->sum_total = half * (l->sum_total / l->runs);
            l->sum_first = half * (l->sum_first / l->runs);
            l->runs = half;
        }
        l->failures /= 2;
    }
    l->sum_first = l->sum_first > k_sum_max ? k_sum_max : l->sum_first;
    l->sum_total = l->sum_total > k_sum_max ? k_sum_max : l->sum_total;
    l->runs = l->runs > k_count_max ? k_count_max : l->runs;
    l->failures = l->failures > k_count_max ? k_count_max : l->failures;
}

bool lines_file_name(const char* track_dir, int skill, char* out, size_t size)
{
    char dir[512];
    if (!track_dir || !*track_dir || !track_data_dir(track_dir, dir, sizeof dir))
        return false;
    skill = skill < 0 ? 0 : (skill > 2 ? 2 : skill);
    const int n = snprintf(out, size, "%s/%s", dir, k_skill_files[skill]);
    return n >= 0 && (size_t)n < size;
}

int lines_read(line_table* t, data_stream* s, const char* name)
{
    int rows = 0;
    if (stream_scan(s, "ct03 %d ", &rows) != 1) {
        log_printf("Lines file '%s' has no \"ct03\" header: not used\n", name);
        return -1;
    }
    if (rows != t->row_count) {
        log_printf("Lines file '%s' is for %d sections, the track has %d: not used\n", name, rows, t->row_count);
        return -1;
    }
    int read = 0;
    // One buffer for the points of a line, grown to the largest line read
    // (never beyond LINE_MAX_POINTS).
    line_point* points = nullptr;
    int capacity = 0;
    bool broken = false;
    int row = 0;
    for (; row < rows && !broken; row++) {
        int count = 0;
        if (stream_scan(s, " %d ", &count) != 1 || count < 0 || count > k_row_lines_max) {
            broken = true;
            break;
        }
        for (int i = 0; i < count && !broken; i++) {
            long long v[f_count];
            if (!read_line_header(s, v)) {
                broken = true;
                break;
            }
            const int n = (int)v[f_points];
            if (n > capacity) {
                mem_free(points);
                points = static_cast<line_point*>(mem_alloc_or_die(sizeof(line_point) * (size_t)n));
                capacity = n;
            }
            for (int p = 0; p < n && !broken; p++)
                broken = !read_point(s, &points[p]);
            if (broken || n == 0 || i >= LINES_PER_ROW)
                continue;
            racing_line* l = lines_store(t, row, i, points, n, clamp_time(v[f_time_first]), clamp_time(v[f_time_total]));
            l->runs = v[f_runs] > 0x7fffffff ? 0x7fffffff : (int)v[f_runs];
            l->failures = v[f_failures] > 0x7fffffff ? 0x7fffffff : (int)v[f_failures];
            l->best_first = clamp_time(v[f_best_first]);
            l->best_total = clamp_time(v[f_best_total]);
            l->sum_first = v[f_sum_first];
            l->sum_total = v[f_sum_total];
            lines_fold_statistics(l);
            read++;
        }
    }
    mem_free(points);
    if (broken)
        log_printf("Lines file '%s' is broken in section %d: %d lines read before it are kept\n", name, row, read);
    return read;
}

bool lines_write(const line_table* t, data_stream* s)
{
    bool ok = stream_printf(s, "ct03 %d\n", t->row_count) >= 0;
    for (int r = 0; r < t->row_count && ok; r++) {
        ok = stream_printf(s, "%d\n", lines_in_row(t, r)) >= 0;
        for (const racing_line& l : t->rows[r].lines) {
            if (!l.points || !ok)
                continue;
            const line_numbers n = numbers_of(l);
            ok = stream_printf(s, "%lld %lld %lld %lld %lld %lld %lld %lld %lld\n", n.v[0], n.v[1], n.v[2], n.v[3],
                               n.v[4], n.v[5], n.v[6], n.v[7], n.v[8]) >= 0;
            for (int p = 0; p < l.point_count && ok; p++) {
                const line_point& q = l.points[p];
                ok = stream_printf(s, "[%f %f %f] %f %f\n", q.x, q.y, q.z, q.speed, q.height) >= 0;
            }
        }
    }
    return ok && stream_flush(s) == 0;
}

bool lines_save(const line_table* t)
{
    if (!t->file[0])
        return false;
    // Learnt lines are hours of riding: on the disk before they replace the
    // old file.
    replacing_file out;
    if (!begin_replacing(t->file, &out)) {
        log_printf("Can't write lines file '%s'\n", t->file);
        return false;
    }
    const bool ok = lines_write(t, out.stream);
    if (!finish_replacing(&out, ok, true)) {
        log_printf("Can't write lines file '%s'\n", t->file);
        return false;
    }
    if (t->debug)
        log_printf("Saved lines file '%s'\n", t->file);
    return true;
}

void lines_reset(line_table* t, bool learn)
{
    if (learn && t->loaded && t->row_count > 0)
        lines_save(t);
    lines_clear(t);
}

void lines_load(line_table* t, const world* w, int skill)
{
    lines_rebuild(t, &w->track.timing_gates);
    t->file[0] = 0;
    if (t->row_count <= 0 || !w->track.loaded)
        return;
    if (!lines_file_name(w->track.dir, skill, t->file, sizeof t->file))
        t->file[0] = 0;
    if (t->file[0]) {
        if (data_stream* s = open_data_file(t->file, "rb")) {
            const int n = lines_read(t, s, t->file);
            close_data_file(s);
            if (n < 0)
                lines_clear(t);
            else if (t->debug)
                log_printf("Read %d lines from '%s'\n", n, t->file);
        }
    }
    lines_thin(t);
    lines_compute_plans(t);
    t->loaded = true;
}
