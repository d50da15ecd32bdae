// Engine sound set-up, the ".braap" file, the pipe and the per-frame
// synthesis into the bike's voice.
#include "audio/engine_sound.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "audio/audio_device.h"
#include "audio/mixer.h"
#include "bike/bike.h"
#include "bike/drivetrain.h"
#include "files/datafs.h"
#include "files/stream.h"

namespace {

constexpr int RING_MASK = SOUND_RING - 1;
constexpr uint32_t PHASE_ONE = 0x1000000;

// The pipe a ".braap" "pipe" line leaves out.
constexpr float PIPE_DEFAULT[3] = {5.0f, 0.9182072f, -0.85f};

struct class_defaults {
    bool four_stroke_table;
    float cycles_per_rev, low_torque, high_torque, min_rpm;
    float pipe_length, pipe_shortest, pipe_gain;
};
constexpr class_defaults FOUR_STROKE = {true, 0.5f, -2.5f, 2.5f, 1000, 5.0f, 0.9182072f, -0.85f};
constexpr class_defaults TWO_STROKE = {false, 1.0f, -3.5f, 3.5f, 1000, 1.75f, 0.3f, -0.75f};
constexpr class_defaults CLASS_50 = {false, 1.0f, -3.5f, 1.5f, 1000, 1.75f, 0.3f, -0.75f};

const class_defaults& defaults_for(const char* class_name)
{
    if (!class_name)
        return FOUR_STROKE;
    if (strcmp(class_name, "50") == 0)
        return CLASS_50;
    const size_t n = strlen(class_name);
    return n > 0 && class_name[n - 1] == 'f' ? FOUR_STROKE : TWO_STROKE;
}

float clampf(float v, float lo, float hi)
{
    return v < lo ? lo : (v > hi ? hi : v);
}

// Phase step per sample for a cycle frequency (at most one cycle a sample).
uint32_t phase_increment(float cycle_freq)
{
    return (uint32_t)std::lround((double)cycle_freq / SOUND_RATE * PHASE_ONE);
}

// Leading white space skipped; true when the line starts with word as a
// whole word, *rest then pointing after it.
bool keyword(const char* line, const char* word, const char** rest)
{
    while (isspace((unsigned char)*line))
        line++;
    const size_t n = strlen(word);
    if (strncmp(line, word, n) != 0 || (line[n] && !isspace((unsigned char)line[n])))
        return false;
    *rest = line + n;
    return true;
}

// Up to SOUND_LIST_MAX finite numbers; returns how many were read.
int read_numbers(const char* text, float* out)
{
    int n = 0;
    while (n < SOUND_LIST_MAX) {
        char* end;
        const double v = strtod(text, &end);
        if (end == text || !std::isfinite(v) || !std::isfinite((float)v))
            break;
        out[n++] = (float)v;
        text = end;
    }
    return n;
}

bool finite_value(const char* line, const char* format, float* out)
{
    float v;
    if (sscanf(line, format, &v) != 1)
        return false;
    if (std::isfinite(v))
        *out = v;
    return true;
}

void apply_braap_line(engine_sound* s, char* line)
{
    if (char* hash = strchr(line, '#'))
        *hash = 0;
    float a = PIPE_DEFAULT[0], b = PIPE_DEFAULT[1], c = PIPE_DEFAULT[2];
    int first = 0, last = PIPE_TAPS - 1;
    if (sscanf(line, "pipe %f %f %f %d %d", &a, &b, &c, &first, &last) >= 1) {
        pipe_setup(s, a, b, c, first, last);
        return;
    }
    if (finite_value(line, "minrpm %f", &s->min_rpm) || finite_value(line, "lowtorque %f", &s->low_torque) ||
        finite_value(line, "hightorque %f", &s->high_torque))
        return;
    const char* rest;
    if (keyword(line, "bias", &rest)) {
        s->bias_count = read_numbers(rest, s->bias);
    } else if (keyword(line, "scale", &rest)) {
        s->scale_count = read_numbers(rest, s->scale);
    } else if (keyword(line, "soundtable", &rest)) {
        while (isspace((unsigned char)*rest))
            rest++;
        char name[1024];
        snprintf(name, sizeof name, "%s", rest);
        size_t n = strlen(name);
        while (n > 0 && isspace((unsigned char)name[n - 1]))
            name[--n] = 0;
        if (const sound_table* t = find_sound_table(name))
            s->table = t;
    }
}

// Opens the ".braap" file for a graphics name, or the class default.
data_stream* open_braap(const char* graphics_name, const char* class_name)
{
    char name[1024];
    if (graphics_name && braap_name(graphics_name, true, name, (int)sizeof name)) {
        for (;;) {
            if (data_stream* s = open_data_file(name, "rb"))
                return s;
            char shorter[1024];
            if (!braap_name(name, false, shorter, (int)sizeof shorter))
                break;
            memcpy(name, shorter, sizeof name);
        }
    }
    const char* fallback = class_braap_name(class_name);
    return fallback ? open_data_file(fallback, "rb") : nullptr;
}

// Picks the cells around speed and load for a new engine cycle and starts
// the four grains on them.
void start_grains(engine_sound* s, float speed, float load)
{
    const sound_table* t = s->table;
    int i = 0;
    while (i < t->rows && t->cells[i * t->cols].row_value <= speed)
        i++;
    const int r0 = i - 1 < 0 ? 0 : (i - 1 > t->rows - 1 ? t->rows - 1 : i - 1);
    const int r1 = i > t->rows - 1 ? t->rows - 1 : i;
    int k = 0;
    while (k < t->cols && t->cells[k].col_value <= load)
        k++;
    const int c0 = k - 1 < 0 ? 0 : (k - 1 > t->cols - 1 ? t->cols - 1 : k - 1);
    const int c1 = k > t->cols - 1 ? t->cols - 1 : k;

    float u = 1, w = 1;
    if (r0 != r1) {
        const float lo = t->cells[r0 * t->cols].row_value, hi = t->cells[r1 * t->cols].row_value;
        u = hi > lo ? clampf((speed - lo) / (hi - lo), 0, 1) : 0;
    }
    if (c0 != c1) {
        const float lo = t->cells[c0].col_value, hi = t->cells[c1].col_value;
        w = hi > lo ? clampf((load - lo) / (hi - lo), 0, 1) : 0;
    }
    const int rows[SOUND_GRAINS] = {r0, r1, r0, r1};
    const int cols[SOUND_GRAINS] = {c0, c0, c1, c1};
    const float weights[SOUND_GRAINS] = {(1 - u) * (1 - w), u * (1 - w), (1 - u) * w, u * w};
    for (int g = 0; g < SOUND_GRAINS; g++) {
        const sound_cell& cell = t->cells[rows[g] * t->cols + cols[g]];
        uint32_t p = s->cycle_count;
        if (cell.remap_count > 0)
            p = (uint32_t)cell.remap[p % (uint32_t)cell.remap_count];
        const double spp = (double)cell.sample_count / cell.periods;
        sound_grain& grain = s->grains[g];
        grain.samples = cell.samples;
        grain.sample_count = cell.sample_count;
        grain.weight = weights[g];
        grain.pos = (int64_t)std::llround((double)(p % (uint32_t)cell.periods) * spp) * 1024;
        grain.step = (int64_t)std::llround((double)s->cycle_freq / SOUND_RATE * spp * 1024);
    }
}

void new_cycle(engine_sound* s, float rpm, int k, int count, float load)
{
    const uint32_t c = s->cycle_count;
    float speed = (s->prev_rpm + (rpm - s->prev_rpm) * (float)k / (float)count + s->bias[c % (uint32_t)s->bias_count]) *
                  s->scale[c % (uint32_t)s->scale_count];
    if (!(speed >= s->min_rpm))
        speed = s->min_rpm;
    s->phase -= PHASE_ONE;
    s->cycle_count++;
    // Never below 5 Hz, and never more than one cycle a sample, however the
    // speed was scaled.
    s->cycle_freq = clampf(speed * s->cycles_per_rev / 60, 5.0f, (float)SOUND_RATE);
    start_grains(s, speed, load);
}

}  // namespace

bool pipe_setup(engine_sound* s, float length, float shortest, float gain, int first, int last)
{
    if (!std::isfinite(length) || !std::isfinite(shortest) || !std::isfinite(gain))
        return false;
    const int f = first < 0 ? 0 : (first > PIPE_TAPS - 1 ? PIPE_TAPS - 1 : first);
    const int e = last < f ? f : (last > PIPE_TAPS - 1 ? PIPE_TAPS - 1 : last);
    const float m = length < shortest ? length : shortest;
    const int n = e - f + 1;
    const int r = n - 1;
    for (int i = f; i <= e; i++) {
        const int j = i - f;
        double len = length;
        if (n > 1) {
            const double q = (double)j / r;
            len = length - (j + q * q) / n * m;
        }
        // Delays beyond the ring (or negative) would read outside it.
        const double delay = std::trunc(2 * len * SOUND_RATE / SPEED_OF_SOUND);
        s->tap_delay[i] = delay < 0 ? 0 : (delay > RING_MASK ? RING_MASK : (int)delay);
        s->tap_gain[i] = gain / n;
    }
    return true;
}

void default_pipe(const char* class_name, float* length, float* shortest, float* gain, int* first, int* last)
{
    const bool four = class_name && (strcmp(class_name, "250f") == 0 || strcmp(class_name, "450f") == 0);
    const class_defaults& d = four ? FOUR_STROKE : TWO_STROKE;
    *length = d.pipe_length;
    *shortest = d.pipe_shortest;
    *gain = d.pipe_gain;
    *first = 0;
    *last = PIPE_TAPS - 1;
}

bool braap_name(const char* name, bool from_graphics, char* out, int size)
{
    const char* slash = strrchr(name, '/');
    const char* tail = slash ? slash + 1 : name;
    const char* cut = strrchr(tail, from_graphics ? '.' : '-');
    if (!cut)
        return false;
    const int keep = (int)(cut - name);
    return snprintf(out, (size_t)size, "%.*s.braap", keep, name) < size;
}

const char* class_braap_name(const char* class_name)
{
    static const char* const names[][2] = {
        {"50", "@default50.braap"},   {"125", "@default125.braap"},   {"250f", "@default250f.braap"},
        {"250", "@default250.braap"}, {"450f", "@default450f.braap"},
    };
    if (class_name) {
        for (const auto& n : names) {
            if (strcmp(class_name, n[0]) == 0)
                return n[1];
        }
    }
    return nullptr;
}

void read_braap(engine_sound* s, data_stream* stream)
{
    char line[1024];
    while (stream_gets(stream, line, (int)sizeof line))
        apply_braap_line(s, line);
}

void engine_sound_init(engine_sound* s, const bike* b, const char* graphics_name)
{
    audio_voice* voice = s->voice;
    *s = engine_sound();
    s->voice = voice;
    s->write_pos = 11025;
    s->bias[0] = 0;
    s->bias_count = 1;
    s->scale[0] = 1;
    s->scale_count = 1;

    const char* class_name = b ? bike_class(b) : nullptr;
    const class_defaults& d = defaults_for(class_name);
    s->table = builtin_sound_table(d.four_stroke_table);
    s->cycles_per_rev = d.cycles_per_rev;
    s->low_torque = d.low_torque;
    s->high_torque = d.high_torque;
    s->min_rpm = d.min_rpm;
    pipe_setup(s, d.pipe_length, d.pipe_shortest, d.pipe_gain, 0, PIPE_TAPS - 1);

    if (!graphics_name && b)
        graphics_name = b->params.bike_texture;
    if (b || graphics_name) {
        if (data_stream* stream = open_braap(graphics_name, class_name)) {
            pipe_setup(s, 1, 1, 0, 0, PIPE_TAPS - 1);
            read_braap(s, stream);
            close_data_file(stream);
        }
    }
    if (s->scale_count == 0) {
        s->scale[0] = 1;
        s->scale_count = 1;
    }
    if (s->bias_count == 0) {
        s->bias[0] = 0;
        s->bias_count = 1;
    }
    for (sound_grain& g : s->grains) {
        g = sound_grain();
        g.samples = s->table->cells[0].samples;
        g.sample_count = s->table->cells[0].sample_count;
    }
}

void engine_sound_setup(engine_sound* s, const bike* b, const char* graphics_name, audio_device* device)
{
    engine_sound_release(s);
    engine_sound_init(s, b, graphics_name);
    if (!device)
        return;
    static uint8_t silence[SOUND_RING];
    memset(silence, 128, sizeof silence);
    s->voice = voice_create(device, SOUND_RING, silence, 0);
    if (!s->voice)
        return;
    voice_set_loop(s->voice, true);
    voice_set_volume(s->voice, 0);
    voice_start(s->voice);
}

void engine_sound_release(engine_sound* s)
{
    if (s->voice)
        voice_destroy(s->voice);
    s->voice = nullptr;
}

int engine_sound_due(const engine_sound* s, int play_position)
{
    const int count = (play_position + SOUND_LEAD - s->write_pos) & RING_MASK;
    return count > SOUND_MAX_FRAME ? SOUND_MAX_FRAME : count;
}

void engine_sound_render(engine_sound* s, float rpm, float torque, int count)
{
    if (count > SOUND_MAX_FRAME)
        count = SOUND_MAX_FRAME;
    if (!std::isfinite(rpm))
        rpm = s->min_rpm;
    if (!std::isfinite(torque))
        torque = 0;
    const float span = s->high_torque - s->low_torque;
    const float load = span != 0 && std::isfinite(span) ? clampf((torque - s->low_torque) / span, 0, 1)
                                                        : (torque >= s->low_torque ? 1.0f : 0.0f);
    uint32_t increment = phase_increment(s->cycle_freq);
    for (int k = 0; k < count; k++) {
        const int pos = s->write_pos;
        float out = 0;
        for (int t = 0; t < PIPE_TAPS; t++)
            out += s->tap_gain[t] * s->history[(pos - s->tap_delay[t]) & RING_MASK];
        for (sound_grain& g : s->grains) {
            // A grain that ran off its sample's end has finished.
            const int64_t i = g.pos >> 10;
            if (i < g.sample_count) {
                out += g.weight * g.samples[i];
                g.pos += g.step;
            }
        }
        out = std::fmax(std::fmin(out, 16.0f), -16.0f);
        s->history[pos] = out;
        s->phase += increment;
        if (s->phase > 0xFFFFFF) {
            new_cycle(s, rpm, k, count, load);
            increment = phase_increment(s->cycle_freq);
        }
        const long byte = std::lround(127 + 127 * (double)out);
        s->bytes[k] = (uint8_t)(byte < 0 ? 0 : (byte > 255 ? 255 : byte));
        s->write_pos = (pos + 1) & RING_MASK;
    }
    s->prev_rpm = rpm;
}

sound_spatial engine_sound_spatial(vec3 position, vec3 velocity, const sound_listener& listener, float volume)
{
    sound_spatial out;
    const double dx = listener.position.x - position.x, dy = listener.position.y - position.y,
                 dz = listener.position.z - position.z;
    const double dist2 = dx * dx + dy * dy + dz * dz;
    const double dist = std::sqrt(dist2);
    double ratio = 1;
    double pan = 0;
    if (dist2 >= 1.0 / 1024) {
        const double nx = dx / dist, ny = dy / dist, nz = dz / dist;
        const double num =
            1 - (listener.velocity.x * nx + listener.velocity.y * ny + listener.velocity.z * nz) / SPEED_OF_SOUND;
        const double den = 1 - (velocity.x * nx + velocity.y * ny + velocity.z * nz) / SPEED_OF_SOUND;
        ratio = num <= 8 * den ? num / den : 0.125;
        pan = -(nx * listener.right.x + ny * listener.right.y + nz * listener.right.z) * 32767;
    }
    // A listener moving away faster than sound gives no sensible ratio.
    if (!std::isfinite(ratio))
        ratio = 0.125;
    const double rate = ratio * SOUND_RATE;
    out.rate = (int)std::lround(rate < 100 ? 100 : (rate > 1000000 ? 1000000 : rate));
    const double att = std::fmax(1, 1 + (dist - 1) / 48);
    double v = volume / att * 32767;
    if (!(v >= 0))
        v = 0;
    out.volume = (int)std::lround(v > 32767 ? 32767 : v);
    out.pan = std::isfinite(pan) ? (int)std::lround(pan) : 0;
    return out;
}

void engine_sound_update(engine_sound* s, const bike* b, float volume, const sound_listener& listener)
{
    if (!s->voice)
        return;
    const int count = engine_sound_due(s, voice_position(s->voice));
    if (count > 0) {
        engine_sound_render(s, engine_rpm(b), engine_torque(b), count);
        voice_write(s->voice, count, s->bytes, (s->write_pos - count) & RING_MASK);
    }
    const sound_spatial sp = engine_sound_spatial(bike_frame_position(b), bike_frame_velocity(b), listener, volume);
    voice_set_rate(s->voice, sp.rate);
    voice_set_volume(s->voice, sp.volume);
    voice_set_pan(s->voice, sp.pan);
}
