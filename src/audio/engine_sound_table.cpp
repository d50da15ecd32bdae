// Sound tables: the built-in ones, the table file reader and the caches of
// loaded tables and sample files.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "audio/engine_sound.h"
#include "core/messages.h"
#include "files/datafs.h"
#include "files/memory.h"
#include "files/stream.h"

namespace {

constexpr double PI = 3.14159265358979323846;
constexpr int BUILTIN_SAMPLES = 1024;

struct cached_samples {
    char* name = nullptr;
    float* samples = nullptr;
    int count = 0;
    cached_samples* next = nullptr;
};

struct table_caches {
    sound_table* tables = nullptr;       // loaded from files
    cached_samples* samples = nullptr;
    bool builtin_ready = false;
    float waves[2][2][BUILTIN_SAMPLES];  // [four stroke][column]
    sound_cell builtin_cells[2][2];
    sound_table builtin[2];              // two stroke, four stroke
};
table_caches g_tables;

float four_stroke_wave(double x)
{
    double w = (std::fabs(std::sin(3 * PI * x + 0.5246)) - 0.5) * 0.5;
    if (x < 0.25)
        w += std::sin(16 * PI * x) * (1 - 4 * x);
    return (float)w;
}

float two_stroke_wave(double x)
{
    return x < 0.25 ? (float)(std::sin(8 * PI * x) * (1 - 4 * x)) : 0.0f;
}

void build_builtin_tables()
{
    if (g_tables.builtin_ready)
        return;
    for (int four = 0; four < 2; four++) {
        for (int i = 0; i < BUILTIN_SAMPLES; i++) {
            const double x = i * (1.0 / 1023);
            const float w = four ? four_stroke_wave(x) : two_stroke_wave(x);
            g_tables.waves[four][0][i] = w * 0.25f;
            g_tables.waves[four][1][i] = w;
        }
        sound_table& t = g_tables.builtin[four];
        snprintf(t.name, sizeof t.name, "%s", four ? "default_four_stroke" : "default_two_stroke");
        t.rows = 1;
        t.cols = 2;
        t.cells = g_tables.builtin_cells[four];
        for (int c = 0; c < 2; c++) {
            sound_cell& cell = t.cells[c];
            cell.samples = g_tables.waves[four][c];
            cell.sample_count = BUILTIN_SAMPLES;
            cell.periods = 1;
            cell.row_value = 0;
            cell.col_value = (float)c;
        }
    }
    g_tables.builtin_ready = true;
}

// Reads a whole sample file: signed 16-bit little-endian mono. Null when
// it cannot be opened, is empty, too long or memory runs out.
const cached_samples* load_samples(const char* name)
{
    for (cached_samples* c = g_tables.samples; c; c = c->next) {
        if (strcmp(c->name, name) == 0)
            return c;
    }
    data_stream* s = open_data_file(name, "rb");
    if (!s)
        return nullptr;
    // Grown in steps, so a file's length need not be known in advance.
    int capacity = 0, count = 0;
    float* samples = nullptr;
    bool ok = true;
    uint8_t buffer[4096];
    size_t got;
    int held = -1;  // a low byte waiting for its high byte
    while (ok && (got = stream_read(s, buffer, sizeof buffer)) > 0) {
        for (size_t i = 0; i < got && ok; i++) {
            if (held < 0) {
                held = buffer[i];
                continue;
            }
            if (count == capacity) {
                if (capacity >= SOUND_SAMPLE_MAX) {
                    ok = false;
                    break;
                }
                const int grown = capacity ? capacity * 2 : 65536;
                float* p = (float*)mem_realloc(samples, (size_t)grown * sizeof(float));
                if (!p) {
                    ok = false;
                    break;
                }
                samples = p;
                capacity = grown;
            }
            const int16_t v = (int16_t)(uint16_t)(held | (buffer[i] << 8));
            samples[count++] = v / 32768.0f;
            held = -1;
        }
    }
    close_data_file(s);
    cached_samples* c = ok && count > 0 ? (cached_samples*)mem_calloc(1, sizeof(cached_samples)) : nullptr;
    char* copy = c ? mem_strdup(name) : nullptr;
    if (!copy) {
        mem_free(c);
        mem_free(samples);
        return nullptr;
    }
    c->name = copy;
    c->samples = samples;
    c->count = count;
    c->next = g_tables.samples;
    g_tables.samples = c;
    return c;
}

void free_cells(sound_table* t)
{
    if (t->cells) {
        for (int i = 0; i < t->rows * t->cols; i++)
            mem_free(t->cells[i].remap);
        mem_free(t->cells);
    }
    t->cells = nullptr;
    t->rows = t->cols = 0;
}

bool read_axis_values(data_stream* stream, float* values, int n)
{
    for (int i = 0; i < n; i++) {
        if (stream_scan(stream, "%f", &values[i]) != 1 || !std::isfinite(values[i]))
            return false;
    }
    return true;
}

// The remap list of one cell, ended by -1. False on a bad entry or one
// too many.
bool read_remap(data_stream* stream, int* list, int* count)
{
    *count = 0;
    for (;;) {
        int v;
        if (stream_scan(stream, "%d", &v) != 1)
            return false;
        if (v == -1)
            return true;
        if (*count >= SOUND_REMAP_MAX)
            return false;
        list[(*count)++] = v;
    }
}

// Period count and samples of one cell, and its remap list reduced to the
// periods. False when the line or the sample file cannot be read. name
// holds 1024 bytes.
bool read_cell_samples(data_stream* stream, sound_cell* cell, const int* remap, int remap_count, char* name)
{
    float periods;
    name[0] = 0;
    if (stream_scan(stream, "%f %1023s", &periods, name) != 2 || !std::isfinite(periods))
        return false;
    const cached_samples* c = load_samples(name);
    if (!c)
        return false;
    cell->samples = c->samples;
    cell->sample_count = c->count;
    // At least one period, and no period shorter than a sample: every
    // grain position then lies inside the sample.
    const double p = std::nearbyint(std::fmin(std::fmax((double)periods, 1.0), (double)c->count));
    cell->periods = p < 1 ? 1 : (int)p;
    if (remap_count > 0) {
        cell->remap = (int*)mem_alloc((size_t)remap_count * sizeof(int));
        if (!cell->remap)
            fatal_out_of_memory();
        for (int i = 0; i < remap_count; i++)
            cell->remap[i] = ((remap[i] % cell->periods) + cell->periods) % cell->periods;
        cell->remap_count = remap_count;
    }
    return true;
}

}  // namespace

const sound_table* builtin_sound_table(bool four_stroke)
{
    build_builtin_tables();
    return &g_tables.builtin[four_stroke ? 1 : 0];
}

bool read_sound_table(sound_table* t, data_stream* stream)
{
    int rows = 0, cols = 0;
    if (stream_scan(stream, " SOUNDTABLE %d %d", &rows, &cols) != 2 || rows < 1 || cols < 1 ||
        rows > SOUND_TABLE_MAX_DIM || cols > SOUND_TABLE_MAX_DIM)
        return false;
    float row_values[SOUND_TABLE_MAX_DIM], col_values[SOUND_TABLE_MAX_DIM];
    if (!read_axis_values(stream, row_values, rows) || !read_axis_values(stream, col_values, cols))
        return false;
    t->cells = (sound_cell*)mem_calloc((size_t)rows * cols, sizeof(sound_cell));
    if (!t->cells)
        fatal_out_of_memory();
    t->rows = rows;
    t->cols = cols;
    for (int j = 0; j < rows; j++) {
        for (int k = 0; k < cols; k++) {
            sound_cell& cell = t->cells[j * cols + k];
            cell.row_value = row_values[j];
            cell.col_value = col_values[k];
            cell.periods = 1;
        }
    }
    static int remap[SOUND_REMAP_MAX];
    char sample_name[1024];
    for (int j = 0; j < rows; j++) {
        for (int k = 0; k < cols; k++) {
            int remap_count;
            if (!read_remap(stream, remap, &remap_count)) {
                add_message("(%d, %d) Bad remap entry", j, k);
                free_cells(t);
                return false;
            }
            if (!read_cell_samples(stream, &t->cells[j * cols + k], remap, remap_count, sample_name)) {
                add_message("(%d, %d) Error reading '%.512s'", j, k, sample_name);
                free_cells(t);
                return false;
            }
        }
    }
    return true;
}

const sound_table* find_sound_table(const char* name)
{
    for (sound_table* t = g_tables.tables; t; t = t->next) {
        if (strcmp(t->name, name) == 0)
            return t;
    }
    sound_table* t = (sound_table*)mem_calloc(1, sizeof(sound_table));
    if (!t)
        fatal_out_of_memory();
    snprintf(t->name, sizeof t->name, "%s", name);
    data_stream* s = open_data_file(name, "rb");
    const bool ok = s && read_sound_table(t, s);
    if (s)
        close_data_file(s);
    if (!ok) {
        add_message("Error reading '%.512s'", name);
        free_cells(t);
        mem_free(t);
        return nullptr;
    }
    t->next = g_tables.tables;
    g_tables.tables = t;
    return t;
}

void engine_sound_free_tables()
{
    while (sound_table* t = g_tables.tables) {
        g_tables.tables = t->next;
        free_cells(t);
        mem_free(t);
    }
    while (cached_samples* c = g_tables.samples) {
        g_tables.samples = c->next;
        mem_free(c->name);
        mem_free(c->samples);
        mem_free(c);
    }
}
