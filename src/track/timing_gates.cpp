// The "timing_gates" file, race gate numbering and the trackinfo summary.
#include "track/timing_gates.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "core/messages.h"
#include "files/datafs.h"
#include "files/memory.h"
#include "platform/log.h"
#include "track/objects.h"

const char* const start_gate_model = "@startgate.qm";
const char* const start_gate_texture = "@startgate.ppm";
const char* const start_gate_shape = "@startgate.shp";

namespace {

enum { WORD_MAX = 80, PIECE_NAME_MAX = 1023, PIECE_LINE_MAX = 4 * (PIECE_NAME_MAX + 1) };

const double pi = 3.14159265358979323846;

bool finite_all(const float* v, int n)
{
    for (int i = 0; i < n; i++)
        if (!std::isfinite(v[i]))
            return false;
    return true;
}

// Brings an angle into -pi..pi by the fractional part of (a + pi) / 2pi.
float wrap_angle(float a)
{
    const double u = ((double)a + pi) / (2.0 * pi);
    return (float)((u - std::floor(u)) * 2.0 * pi - pi);
}

// An owned copy of a piece name; null for none ("null" in the file).
char* piece_name(const char* name)
{
    if (!name || strcmp(name, "null") == 0)
        return nullptr;
    char* copy = mem_strdup(name);
    if (!copy)
        fatal_out_of_memory();
    return copy;
}

bool same_name(const char* name, const char* expected)
{
    return name && strcmp(name, expected) == 0;
}

// Reads one line into buffer (without its line feed); the rest of an
// overlong line is read and dropped. False at the end of the input when
// nothing was read.
bool read_line(data_stream* s, char* buffer, int size)
{
    int n = 0;
    int c = stream_getc(s);
    if (c < 0)
        return false;
    while (c >= 0 && c != '\n') {
        if (n < size - 1)
            buffer[n++] = (char)c;
        c = stream_getc(s);
    }
    buffer[n] = 0;
    return true;
}

bool blank(const char* line)
{
    return line[strspn(line, " \t\r\v\f")] == 0;
}

bool starts_with_word(const char* line, const char* word)
{
    line += strspn(line, " \t\r\v\f");
    return strncmp(line, word, strlen(word)) == 0;
}

void add_piece(track_timing* t, const float v[4], const char* model, const char* texture, const char* shape,
               const gate_object_target* target)
{
    start_gate_piece& p = t->pieces[t->piece_count++];
    p = start_gate_piece();
    p.position = {v[0], v[1], v[2]};
    p.angle = wrap_angle(v[3]);
    p.model = piece_name(model);
    p.texture = piece_name(texture);
    p.shape = piece_name(shape);
    if (target && target->objects) {
        // The gate stands 3 feet in front of the bike behind it.
        const float s = sinf(p.angle), c = cosf(p.angle);
        p.object = statue_add(target->objects, target->hf, p.position.x - 3.0f * s, p.position.y,
                              p.position.z - 3.0f * c, p.angle, p.model, p.texture, p.shape, target->options);
    }
}

// The "startinggate:" section, one piece per line. Returns true when the
// line that ended it starts with "checkpoints:".
bool read_pieces(track_timing* t, data_stream* s, const gate_object_target* target)
{
    // The rest of the header line holds nothing.
    char line[PIECE_LINE_MAX];
    read_line(s, line, sizeof line);
    char names[3][PIECE_NAME_MAX + 1];
    while (read_line(s, line, sizeof line)) {
        if (starts_with_word(line, "checkpoints:"))
            return true;
        float v[4];
        names[0][0] = names[1][0] = names[2][0] = 0;
        const int n = sscanf(line, " [ %f %f %f ] %f %1023s %1023s %1023s", &v[0], &v[1], &v[2], &v[3], names[0],
                             names[1], names[2]);
        if (n < 4 || !finite_all(v, 4)) {
            // Blank lines between the pieces are tolerated.
            if (blank(line))
                continue;
            return false;
        }
        // Pieces beyond the last place are dropped, but the section still
        // runs to its end so the checkpoints after it are found.
        if (t->piece_count >= START_GATE_MAX)
            continue;
        add_piece(t, v, n > 4 ? names[0] : start_gate_model, n > 5 ? names[1] : start_gate_texture,
                  n > 6 ? names[2] : start_gate_shape, target);
    }
    return false;
}

// Checkpoint records until one does not start with a number. False when a
// record is broken after its radius or holds a number beyond the float
// range.
bool read_checkpoints(track_timing* t, data_stream* s)
{
    while (t->checkpoint_count < CHECKPOINT_MAX) {
        float v[7];
        if (stream_scan(s, "%f", &v[0]) != 1)
            return true;
        if (stream_scan(s, " [ %f %f %f ] [ %f %f %f ]", &v[1], &v[2], &v[3], &v[4], &v[5], &v[6]) != 6)
            return false;
        if (!finite_all(v, 7))
            return false;
        timing_gate& g = t->checkpoints[t->checkpoint_count++];
        g.radius = v[0];
        g.position = {v[1], v[2], v[3]};
        g.direction = {v[4], v[5], v[6]};
    }
    return true;
}

int read_sequence(data_stream* s, int* out)
{
    int n = 0;
    while (n < LAP_SEQUENCE_MAX && stream_scan(s, "%d", &out[n]) == 1)
        n++;
    return n;
}

// A negative entry becomes 0; otherwise the marker stays and the
// checkpoint part is clamped to the checkpoints that exist.
int normalise_entry(int e, int count)
{
    if (e < 0)
        return 0;
    const int marker = e >= GATE_NO_SECTION ? GATE_NO_SECTION : 0;
    int checkpoint = e % GATE_NO_SECTION;
    if (checkpoint > count - 1)
        checkpoint = count - 1;
    if (checkpoint < 0)
        checkpoint = 0;
    return marker + checkpoint;
}

int count_real(const int* entries, int n)
{
    int real = 0;
    for (int i = 0; i < n; i++)
        if (entries[i] < GATE_NO_SECTION)
            real++;
    return real;
}

void drop_timing(track_timing* t)
{
    t->checkpoint_count = 0;
    t->first_count = t->normal_count = 0;
    t->first_real = t->normal_real = 0;
}


bool lap_end(int k, int first, int normal)
{
    const long long n = (long long)k - first + 1;
    return n >= 0 && normal > 0 && n % normal == 0;
}

}  // namespace

bool timing_active(const track_timing* t)
{
    return t && t->checkpoint_count > 0 && t->first_count > 0 && t->normal_count > 0 && t->first_real > 0 &&
           t->normal_real > 0;
}

void timing_gates_clear(track_timing* t)
{
    for (int i = 0; i < t->piece_count; i++) {
        mem_free(t->pieces[i].model);
        mem_free(t->pieces[i].texture);
        mem_free(t->pieces[i].shape);
        t->pieces[i] = start_gate_piece();
    }
    t->piece_count = 0;
    drop_timing(t);
}

// ---- the file ------------------------------------------------------------------

void read_timing_gates(track_timing* t, data_stream* s, const gate_object_target* target, int debug)
{
    timing_gates_clear(t);
    char word[WORD_MAX + 1] = {};
    if (stream_scan(s, "%80s", word) != 1)
        return;
    bool at_checkpoints = strcmp(word, "checkpoints:") == 0;
    if (strcmp(word, "startinggate:") == 0)
        at_checkpoints = read_pieces(t, s, target);

    bool sound = at_checkpoints && read_checkpoints(t, s);
    if (sound && stream_scan(s, "%80s", word) == 1) {
        if (strcmp(word, "firstlap:") == 0) {
            t->first_count = read_sequence(s, t->first_lap);
            if (stream_scan(s, "%80s", word) != 1)
                word[0] = 0;
        }
        if (strcmp(word, "normallap:") == 0)
            t->normal_count = read_sequence(s, t->normal_lap);
    }
    for (int i = 0; i < t->first_count; i++)
        t->first_lap[i] = normalise_entry(t->first_lap[i], t->checkpoint_count);
    for (int i = 0; i < t->normal_count; i++)
        t->normal_lap[i] = normalise_entry(t->normal_lap[i], t->checkpoint_count);
    t->first_real = count_real(t->first_lap, t->first_count);
    t->normal_real = count_real(t->normal_lap, t->normal_count);
    if (!sound || !timing_active(t))
        drop_timing(t);
    if (debug)
        log_printf("Found %d timing gates, first lap has %d gates, normal lap has %d\n", t->checkpoint_count,
                   t->first_count, t->normal_count);
}

bool load_timing_gates(track_timing* t, const char* dir, const gate_object_target* target, int debug)
{
    timing_gates_clear(t);
    char name[1100];
    const int n = snprintf(name, sizeof name, "%s/timing_gates", dir ? dir : "");
    if (n < 0 || (size_t)n >= sizeof name)
        return false;
    data_stream* s = open_data_file(name, "rb");
    if (!s)
        return false;
    read_timing_gates(t, s, target, debug);
    close_data_file(s);
    return true;
}

bool save_timing_gates(const track_timing* t, const char* dir)
{
    char name[1100];
    const int n = snprintf(name, sizeof name, "%s/timing_gates", dir ? dir : "");
    replacing_file out;
    data_stream* s = (n >= 0 && (size_t)n < sizeof name && begin_replacing(name, &out)) ? out.stream : nullptr;
    if (!s) {
        add_message("Can't open 'timing_gates'\n");
        return false;
    }
    if (t->piece_count > 0) {
        stream_printf(s, "startinggate:\n");
        for (int i = 0; i < t->piece_count; i++) {
            const start_gate_piece& p = t->pieces[i];
            stream_printf(s, "[%f %f %f]", (double)p.position.x, (double)p.position.y, (double)p.position.z);
            stream_printf(s, " %f", (double)p.angle);
            if (same_name(p.model, start_gate_model) && same_name(p.texture, start_gate_texture) &&
                same_name(p.shape, start_gate_shape))
                stream_printf(s, "\n");
            else
                stream_printf(s, " %s %s %s\n", p.model ? p.model : "null", p.texture ? p.texture : "null",
                              p.shape ? p.shape : "null");
        }
    }
    if (t->checkpoint_count > 0) {
        stream_printf(s, "checkpoints:\n");
        for (int i = 0; i < t->checkpoint_count; i++) {
            const timing_gate& g = t->checkpoints[i];
            stream_printf(s, "%f ", (double)g.radius);
            stream_printf(s, "[%f %f %f]", (double)g.position.x, (double)g.position.y, (double)g.position.z);
            stream_printf(s, " ");
            stream_printf(s, "[%f %f %f]", (double)g.direction.x, (double)g.direction.y, (double)g.direction.z);
            stream_printf(s, "\n");
        }
    }
    if (t->first_count > 0) {
        stream_printf(s, "firstlap:\n");
        for (int i = 0; i < t->first_count; i++)
            stream_printf(s, "%d ", t->first_lap[i]);
        stream_printf(s, "\n");
    }
    if (t->normal_count > 0) {
        stream_printf(s, "normallap:\n");
        for (int i = 0; i < t->normal_count; i++)
            stream_printf(s, "%d ", t->normal_lap[i]);
        stream_printf(s, "\n");
    }
    return finish_replacing(&out, true, false);
}

// ---- race gate numbering ----------------------------------------------------

int race_gate_entry(const track_timing* t, int k)
{
    if (!timing_active(t) || k < 0)
        return -1;
    if (k < t->first_count)
        return t->first_lap[k];
    return t->normal_lap[(k - t->first_count) % t->normal_count];
}

int race_gate_checkpoint(const track_timing* t, int k)
{
    const int e = race_gate_entry(t, k);
    return e < 0 ? -1 : e % GATE_NO_SECTION;
}

bool is_lap_end_gate(const track_timing* t, int k)
{
    return timing_active(t) && lap_end(k, t->first_count, t->normal_count);
}

int timing_section_count(const track_timing* t)
{
    return timing_active(t) ? t->first_real + t->normal_real : 0;
}

// ---- trackinfo -----------------------------------------------------------------

bool save_trackinfo(const char* dir, const char* long_name, const track_timing* t, const uint8_t digest[20])
{
    char name[1100];
    const int n = snprintf(name, sizeof name, "@%s.trackinfo", dir);
    replacing_file out;
    data_stream* s = (n >= 0 && (size_t)n < sizeof name && begin_replacing(name, &out)) ? out.stream : nullptr;
    if (!s) {
        add_message("Can't open '%.900s.trackinfo'\n", dir);
        return false;
    }
    stream_printf(s, "dir=%s\n", dir);
    stream_printf(s, "longname=%s\n", long_name && *long_name ? long_name : dir);
    stream_printf(s, "firstlap=%d\n", t->first_count);
    stream_printf(s, "normallap=%d\n", t->normal_count);
    stream_printf(s, "gatecount=%d\n", t->piece_count);
    stream_printf(s, "hash=");
    for (int i = 0; i < 20; i++)
        stream_printf(s, "%02x", digest[i]);
    stream_printf(s, "\n");
    if (!finish_replacing(&out, true, false)) {
        add_message("Can't write '%.900s.trackinfo'\n", dir);
        return false;
    }
    add_message("Track info saved to %.900s.trackinfo", dir);
    return true;
}
