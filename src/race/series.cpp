// Points series: the ".series" files, their standings files, the round
// classification, the standings and the start and scoring of an event.
#include "race/series.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <strings.h>

#include "core/messages.h"
#include "files/datafs.h"
#include "files/memory.h"
#include "files/stream.h"
#include "platform/log.h"


namespace {

constexpr int64_t ticks_per_minute = 60 * 128;
// Race numbers become lineup codes 1000 + n.
constexpr int max_race_number = INT_MAX - 1000;

template <class T>
void reserve_one(T*& items, int count, int& capacity)
{
    if (count < capacity)
        return;
    if (capacity >= (1 << 24))
        fatal_out_of_memory();
    const int wanted = capacity < 16 ? 16 : capacity * 2;
    void* grown = mem_realloc(items, sizeof(T) * (size_t)wanted);
    if (!grown)
        fatal_out_of_memory();
    items = (T*)grown;
    capacity = wanted;
}

char* copy_text(const char* text)
{
    char* copy = mem_strdup(text);
    if (!copy)
        fatal_out_of_memory();
    return copy;
}

bool is_space(int c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

// One text item: a double-quoted string (up to 1023 characters kept) or a
// single word (up to 1023, the rest left for the next item as "%1023s"
// does). False at the end of the stream or for an unclosed quote.
bool read_text_item(data_stream* s, char* out)
{
    int c;
    do
        c = stream_getc(s);
    while (c >= 0 && is_space(c));
    if (c < 0)
        return false;
    int n = 0;
    if (c == '"') {
        for (;;) {
            c = stream_getc(s);
            if (c < 0)
                return false;
            if (c == '"')
                break;
            if (n < SERIES_TEXT_MAX)
                out[n++] = (char)c;
        }
        out[n] = 0;
        return true;
    }
    out[n++] = (char)c;
    while (n < SERIES_TEXT_MAX) {
        c = stream_peekc(s);
        if (c < 0 || is_space(c))
            break;
        out[n++] = (char)stream_getc(s);
    }
    out[n] = 0;
    return true;
}

bool read_int(data_stream* s, int* out)
{
    return stream_scan(s, "%d", out) == 1;
}

int find_track(const char* dir, const char* const* track_dirs, int track_count)
{
    for (int k = 0; k < track_count; k++)
        if (track_dirs[k] && strcasecmp(track_dirs[k], dir) == 0)
            return k;
    return -1;
}

int skill_of(const char* word)
{
    if (strcmp(word, "Novice") == 0)
        return series_skill_novice;
    if (strcmp(word, "Amateur") == 0)
        return series_skill_amateur;
    return series_skill_expert;
}

bool ends_with_series(const char* name)
{
    const size_t n = strlen(name);
    return n > 7 && strcasecmp(name + n - 7, ".series") == 0;
}

// "@" + name unless it is already a data name.
char* data_name(const char* name, const char* suffix)
{
    const char* at = name[0] == '@' ? "" : "@";
    const size_t size = strlen(at) + strlen(name) + strlen(suffix) + 1;
    char* out = (char*)mem_alloc_or_die(size);
    snprintf(out, size, "%s%s%s", at, name, suffix);
    return out;
}

int riders(const points_series* s)
{
    return s->robot_count + 1;
}

int points_at(const int* table, int position)
{
    return position >= 0 && position < SERIES_POINTS ? table[position] : 0;
}

bool ends_round(const series_event& e)
{
    return e.round_points[0] != 0;
}

}  // namespace

// ---- loading --------------------------------------------------------------------------

void series_free(points_series* series)
{
    for (int k = 0; k < series->event_count; k++)
        mem_free(series->events[k].name);
    mem_free(series->events);
    mem_free(series->name);
    mem_free(series->file);
    mem_free(series->standings_path);
    *series = points_series();
}

bool series_parse(data_stream* s, const char* file, const char* const* track_dirs, int track_count, int debug,
                  points_series* out)
{
    *out = points_series();
    char text[SERIES_TEXT_MAX + 1];
    char word[SERIES_TEXT_MAX + 1];
    int k_count;
    if (!read_text_item(s, text))
        return false;
    if (stream_scan(s, "%d %1023s", &k_count, word) != 2 || k_count < 0 || k_count > SERIES_MAX_ROBOTS)
        return false;
    out->name = copy_text(text);
    out->file = copy_text(file ? file : "");
    out->standings_path = data_name(out->file, "_standings");
    out->skill = skill_of(word);
    out->robot_count = k_count;
    if (debug)
        log_printf("series %s (%s)\n", out->file, out->name);
    for (int i = 0; i < k_count; i++) {
        int n;
        if (!read_int(s, &n) || n < 0 || n > max_race_number) {
            series_free(out);
            return false;
        }
        out->robot_numbers[i] = n;
    }
    int event_count;
    if (!read_int(s, &event_count) || event_count < 0) {
        series_free(out);
        return false;
    }
    for (int e = 0; e < event_count; e++) {
        series_event ev;
        char track[SERIES_TEXT_MAX + 1];
        bool ok = read_text_item(s, text) && read_text_item(s, track);
        if (ok)
            ev.track = find_track(track, track_dirs, track_count);
        ok = ok && ev.track >= 0 && stream_scan(s, "%d %d", &ev.minutes, &ev.laps) == 2;
        for (int p = 0; ok && p < SERIES_POINTS; p++)
            ok = read_int(s, &ev.moto_points[p]);
        for (int p = 0; ok && p < SERIES_POINTS; p++)
            ok = read_int(s, &ev.round_points[p]);
        if (!ok) {
            series_free(out);
            return false;
        }
        if (debug)
            log_printf("  event %s (%s)\n", track, text);
        for (int r = 0; r < SERIES_MAX_RIDERS; r++)
            ev.finish[r] = ev.round_position[r] = k_count;
        ev.name = copy_text(text);
        reserve_one(out->events, out->event_count, out->event_capacity);
        out->events[out->event_count++] = ev;
    }
    return true;
}

void series_read_standings(points_series* series, data_stream* s)
{
    enum { LINE = 8192 };
    const int n = riders(series);
    const int k = series->robot_count;
    char* line = (char*)mem_alloc_or_die(LINE);
    series->completed = 0;
    while (series->completed < series->event_count) {
        // One line, at most LINE - 1 bytes of it kept.
        int len = 0, c = -1;
        bool any = false;
        while ((c = stream_getc(s)) >= 0 && c != '\n') {
            any = true;
            if (len < LINE - 1)
                line[len++] = (char)c;
        }
        line[len] = 0;
        if (!any && c < 0)
            break;
        int positions[SERIES_MAX_RIDERS];
        const char* p = line;
        int got = 0;
        while (got < n) {
            char* end;
            errno = 0;
            const long v = strtol(p, &end, 10);
            if (end == p)
                break;
            p = end;
            // Positions outside the field count as no result.
            positions[got++] = (errno == ERANGE || v < 1 || v > k + 1) ? k : (int)(v - 1);
        }
        if (got < n)
            break;
        series_event& ev = series->events[series->completed];
        for (int r = 0; r < n; r++)
            ev.finish[r] = positions[r];
        series->completed++;
        if (c < 0)
            break;
    }
    mem_free(line);
    series_classify_rounds(series);
}

void series_load_standings(points_series* series)
{
    series->completed = 0;
    data_stream* s = series->standings_path ? open_data_file(series->standings_path, "rb") : nullptr;
    if (s) {
        series_read_standings(series, s);
        close_data_file(s);
    }
    series_classify_rounds(series);
}

int load_series(series_set* set, const char* const* files, const char* const* track_dirs, int track_count,
                int debug)
{
    series_set_free(set);
    for (int k = 0; files && files[k]; k++) {
        if (!ends_with_series(files[k]))
            continue;
        char* name = data_name(files[k], "");
        data_stream* s = open_data_file(name, "rb");
        mem_free(name);
        if (!s)
            continue;
        points_series series;
        const bool ok = series_parse(s, files[k], track_dirs, track_count, debug, &series);
        close_data_file(s);
        if (!ok)
            continue;
        series_load_standings(&series);
        reserve_one(set->items, set->count, set->capacity);
        new (&set->items[set->count++]) points_series(series);
    }
    return set->count;
}

void series_set_free(series_set* set)
{
    for (int k = 0; k < set->count; k++)
        series_free(&set->items[k]);
    mem_free(set->items);
    *set = series_set();
}

// ---- rounds --------------------------------------------------------------------------

void series_classify_rounds(points_series* series)
{
    const int n = riders(series);
    int64_t totals[SERIES_MAX_RIDERS] = {};
    for (int e = 0; e < series->completed && e < series->event_count; e++) {
        series_event& ev = series->events[e];
        for (int r = 0; r < n; r++)
            totals[r] += points_at(ev.moto_points, ev.finish[r]);
        if (!ends_round(ev))
            continue;
        bool picked[SERIES_MAX_RIDERS] = {};
        for (int place = 0; place < n; place++) {
            int best = -1;
            for (int r = 0; r < n; r++) {
                if (picked[r])
                    continue;
                if (best < 0 || totals[r] > totals[best] ||
                    (totals[r] == totals[best] && ev.finish[r] < ev.finish[best]))
                    best = r;
            }
            picked[best] = true;
            ev.round_position[best] = place;
        }
        // Every rider starts the next round from the same footing.
        for (int r = 0; r < n; r++)
            totals[r] = -1000000;
    }
}

int series_round_count(const points_series* series)
{
    int rounds = 0;
    for (int e = 0; e < series->event_count; e++)
        if (ends_round(series->events[e]) || e == series->event_count - 1)
            rounds++;
    return rounds;
}

bool series_round_events(const points_series* series, int round, int* first, int* last)
{
    int start = 0, r = 0;
    for (int e = 0; e < series->event_count; e++) {
        if (ends_round(series->events[e]) || e == series->event_count - 1) {
            if (r == round) {
                *first = start;
                *last = e;
                return true;
            }
            r++;
            start = e + 1;
        }
    }
    return false;
}

int series_rider_points(const points_series* series, int rider)
{
    if (rider < 0 || rider >= riders(series))
        return 0;
    int64_t sum = 0;
    for (int e = 0; e < series->completed && e < series->event_count; e++) {
        const series_event& ev = series->events[e];
        if (ends_round(ev))
            sum += points_at(ev.round_points, ev.round_position[rider]);
    }
    if (sum > INT_MAX)
        return INT_MAX;
    return sum < INT_MIN ? INT_MIN : (int)sum;
}

int series_standings(const points_series* series, standing_row* rows)
{
    const int n = riders(series);
    int latest = -1;
    for (int e = 0; e < series->completed && e < series->event_count; e++)
        if (ends_round(series->events[e]))
            latest = e;
    for (int r = 0; r < n; r++) {
        rows[r].rider = r;
        rows[r].points = series_rider_points(series, r);
    }
    auto before = [&](const standing_row& a, const standing_row& b) {
        if (a.points != b.points)
            return a.points > b.points;
        if (latest >= 0) {
            const int pa = series->events[latest].round_position[a.rider];
            const int pb = series->events[latest].round_position[b.rider];
            if (pa != pb)
                return pa < pb;
        }
        return a.rider < b.rider;
    };
    // Insertion sort: at most 160 rows, and a stable, total order.
    for (int i = 1; i < n; i++) {
        const standing_row row = rows[i];
        int j = i;
        while (j > 0 && before(row, rows[j - 1])) {
            rows[j] = rows[j - 1];
            j--;
        }
        rows[j] = row;
    }
    return n;
}

void series_cell_text(const points_series* series, int rider, int round, char* out, size_t size)
{
    if (size == 0)
        return;
    out[0] = 0;
    int first, last;
    if (rider < 0 || rider >= riders(series) || !series_round_events(series, round, &first, &last))
        return;
    const int motos = last - first + 1;
    int done = series->completed - first;
    done = done < 0 ? 0 : (done > motos ? motos : done);
    if (done == 0)
        return;
    size_t used = 0;
    auto append = [&](const char* format, int value) {
        if (used >= size)
            return;
        const int n = snprintf(out + used, size - used, format, value);
        if (n > 0)
            used += (size_t)n;
    };
    const series_event& end = series->events[last];
    if (done == motos && ends_round(end)) {
        const int place = end.round_position[rider];
        append("%d (", points_at(end.round_points, place));
        if (motos == 1) {
            append("%d)", place + 1);
            return;
        }
        for (int e = first; e <= last; e++)
            append(e < last ? "%d-" : "%d)", series->events[e].finish[rider] + 1);
        return;
    }
    // Part of the round done: the positions so far, each followed by "-".
    snprintf(out, size, "- (");
    used = strlen(out);
    for (int e = first; e < first + done; e++)
        append("%d-", series->events[e].finish[rider] + 1);
    if (used + 1 < size) {
        out[used++] = ')';
        out[used] = 0;
    }
}

void series_heading_text(const points_series* series, char* out, size_t size)
{
    if (series->completed < series->event_count)
        snprintf(out, size, "Next Event: %.900s", series->events[series->completed].name);
    else
        snprintf(out, size, "%.900s Final Standings", series->name ? series->name : "");
}

void series_number_text(const points_series* series, int rider, const char* player_number, char* out,
                        size_t size)
{
    if (rider >= 0 && rider < series->robot_count)
        snprintf(out, size, "%d", series->robot_numbers[rider]);
    else
        snprintf(out, size, "%s", player_number ? player_number : "");
}

// ---- events --------------------------------------------------------------------------

void series_grid_order(int robots, int* order, int count)
{
    if (count > SERIES_LINEUP_SLOTS)
        count = SERIES_LINEUP_SLOTS;
    int table[SERIES_LINEUP_SLOTS];
    int n = 0;
    if (robots <= 14) {
        for (int slot = 6; slot <= 34; slot += 2)
            table[n++] = slot;
    } else {
        // Centre-out over the first twenty slots, then the next twenty.
        table[n++] = 10;
        for (int d = 1; d <= 9; d++) {
            table[n++] = 10 - d;
            table[n++] = 10 + d;
        }
        table[n++] = 0;
        for (int slot = 20; slot < 40; slot++)
            table[n++] = slot;
    }
    // A field larger than the table takes the remaining slots in order.
    bool used[SERIES_LINEUP_SLOTS] = {};
    for (int k = 0; k < n; k++)
        used[table[k]] = true;
    for (int slot = 0; slot < SERIES_LINEUP_SLOTS; slot++)
        if (!used[slot])
            table[n++] = slot;
    for (int k = 0; k < count; k++)
        order[k] = table[k];
}

bool start_series_event(const points_series* series, series_start* out)
{
    *out = series_start();
    if (series->completed >= series->event_count)
        return false;
    const series_event& ev = series->events[series->completed];
    const int k = series->robot_count;
    out->event = series->completed;
    out->track = ev.track;
    const int64_t ticks = (int64_t)(ev.minutes < 0 ? 0 : ev.minutes) * ticks_per_minute;
    out->minutes_ticks = ticks > INT_MAX ? INT_MAX : (int)ticks;
    out->laps = ev.laps;
    out->skill = series->skill;
    if (series->completed == 0) {
        for (int i = 0; i < k; i++)
            out->lineup[i] = 1000 + series->robot_numbers[i];
        out->lineup[k] = 1;
        return true;
    }
    int order[SERIES_LINEUP_SLOTS];
    series_grid_order(k, order, SERIES_LINEUP_SLOTS);
    const series_event& prev = series->events[series->completed - 1];
    auto position = [&](int rider) { return prev.finish[rider] > k ? k : prev.finish[rider]; };
    int next = 0;
    for (int p = k; p >= 0; p--) {
        for (int i = 0; i < k; i++)
            if (position(i) == p)
                out->lineup[order[next++]] = 1000 + series->robot_numbers[i];
        if (position(k) == p)
            out->lineup[order[next++]] = 1;
    }
    return true;
}

void series_begin_racing(series_set* set, int series)
{
    if (series < 0 || series >= set->count)
        return;
    set->racing_series = series;
    set->racing_event = set->items[series].completed;
}

void series_reset_points(series_set* set, int series)
{
    if (series < 0 || series >= set->count)
        return;
    set->items[series].completed = 0;
    series_classify_rounds(&set->items[series]);
}

bool series_write_standings(const points_series* series)
{
    // The standings are a season's worth of racing: they are on the disk
    // before they replace the old ones.
    replacing_file out;
    if (!series->standings_path || !begin_replacing(series->standings_path, &out))
        return false;
    data_stream* s = out.stream;
    for (int e = 0; e < series->completed && e < series->event_count; e++) {
        for (int r = 0; r < riders(series); r++)
            stream_printf(s, "%d ", series->events[e].finish[r] + 1);
        stream_puts(s, "\n");
    }
    return finish_replacing(&out, true, true);
}

bool score_series_event(series_set* set, const series_ranked_rider* ranking, int count, bool results_final)
{
    if (set->racing_series < 0 || set->racing_series >= set->count)
        return false;
    points_series& series = set->items[set->racing_series];
    if (set->racing_event != series.completed || series.completed >= series.event_count)
        return false;
    const int k = series.robot_count;
    series_event& ev = series.events[series.completed];
    bool placed[SERIES_MAX_RIDERS] = {};
    for (int r = 0; r <= k; r++)
        ev.finish[r] = k;
    char number[16];
    int position = 0;
    for (int j = 0; j < count; j++) {
        const series_ranked_rider& rider = ranking[j];
        if (rider.local_player) {
            if (!placed[k] && (results_final || (rider.finished && !rider.cut_penalty))) {
                ev.finish[k] = position++;
                placed[k] = true;
            }
            continue;
        }
        for (int i = 0; i < k; i++) {
            snprintf(number, sizeof number, "%d", series.robot_numbers[i]);
            if (!placed[i] && strcmp(number, rider.number ? rider.number : "") == 0) {
                ev.finish[i] = position++;
                placed[i] = true;
            }
        }
    }
    series.completed++;
    series_classify_rounds(&series);
    set->racing_series = -1;
    set->racing_event = -1;
    series_write_standings(&series);
    return true;
}
