// Synthesised engine recordings. Every cycle of a recording starts with a
// firing pulse: the exhaust's pressure step rings the pipe and the air box
// (two damped resonances) with a burst of combustion noise, louder and
// harsher with the throttle open. A four-stroke fires every other
// revolution with a low, heavy body; a two-stroke fires every revolution
// with a short, bright pulse and the expansion chamber's high ring. The
// cycles of one recording differ a little, as a real engine's do, so the
// synthesis can vary them through the remap lists.
#include "engine_sounds.h"

#include <cmath>
#include <cstdio>

namespace mkdata {

namespace {

constexpr double PI = 3.14159265358979323846;
constexpr double RATE = 44100;
constexpr int PERIODS = 4;

// A small deterministic generator: the same noise on every build.
struct noise_source {
    uint32_t state;
    double next()  // -1..1
    {
        state = state * 1664525u + 1013904223u;
        return (double)(state >> 8) / (double)(1u << 23) - 1.0;
    }
};

// The character of one engine.
struct engine_voice {
    double cycles_per_rev;
    double body_hz;        // air box and engine body resonance
    double body_decay;     // seconds
    double pipe_hz;        // pipe resonance at 6000 rpm (rises with the speed)
    double pipe_decay;
    double pipe_share;     // pipe resonance against body
    double noise_decay;
    double mechanical;     // steady valve train and piston noise
};

constexpr engine_voice FOUR_STROKE = {0.5, 85, 0.018, 260, 0.010, 0.45, 0.006, 0.015};
constexpr engine_voice TWO_STROKE = {1.0, 170, 0.006, 420, 0.007, 0.75, 0.004, 0.02};

// One engine cycle of n samples into out.
void synthesise_cycle(const engine_voice& v, double rpm, double load, int cycle, noise_source& noise, double* out,
                      int n)
{
    // Cycles differ in strength and a little in timbre.
    const double strength = 1.0 + 0.12 * noise.next();
    const double detune = 1.0 + 0.04 * noise.next();
    const double amplitude = (load > 0.5 ? 0.55 : 0.16) * strength;
    const double pipe_hz = v.pipe_hz * std::pow(rpm / 6000.0, 0.35) * detune;
    const double body_hz = v.body_hz * detune;
    // An open throttle burns longer and louder.
    const double stretch = load > 0.5 ? 1.6 : 1.0;
    // A closed throttle on a four-stroke pops now and then on the overrun.
    const bool pop = load < 0.5 && (cycle % 3) == 1;
    double lowpass = 0;
    for (int i = 0; i < n; i++) {
        const double t = i / RATE;
        const double body = std::exp(-t / (v.body_decay * stretch)) * std::sin(2 * PI * body_hz * t);
        const double pipe = std::exp(-t / (v.pipe_decay * stretch)) *
                            (std::sin(2 * PI * pipe_hz * t) + 0.35 * std::sin(2 * PI * 2.7 * pipe_hz * t));
        lowpass += (noise.next() - lowpass) * (load > 0.5 ? 0.55 : 0.25);
        const double burst = std::exp(-t / (v.noise_decay * stretch)) * lowpass;
        double x = amplitude * ((1 - v.pipe_share) * body + v.pipe_share * pipe + 0.5 * burst);
        if (pop)
            x += 0.08 * std::exp(-std::fabs(t - 0.45 * n / RATE) / 0.002) * noise.next();
        x += v.mechanical * noise.next();
        // The bark: an open engine drives the pipe into saturation.
        if (load > 0.5)
            x = std::tanh(1.8 * x) / 1.8 * 1.25;
        out[i] = x;
    }
}

bytes recording_bytes(const engine_voice& v, double rpm, double load, uint32_t seed)
{
    // Samples per cycle at this speed; the recording holds whole cycles.
    const int n = (int)std::lround(RATE * 60 / (rpm * v.cycles_per_rev));
    noise_source noise{seed};
    std::vector<double> cycle((size_t)n);
    bytes b;
    b.reserve((size_t)n * PERIODS * 2);
    for (int c = 0; c < PERIODS; c++) {
        synthesise_cycle(v, rpm, load, c, noise, cycle.data(), n);
        for (int i = 0; i < n; i++) {
            long s = std::lround(cycle[(size_t)i] * 32767);
            s = s < -32768 ? -32768 : (s > 32767 ? 32767 : s);
            const uint16_t u = (uint16_t)(int16_t)s;
            b.push_back((uint8_t)(u & 0xff));
            b.push_back((uint8_t)(u >> 8));
        }
    }
    return b;
}

engine_table_design make_design(bool four_stroke)
{
    engine_table_design t;
    t.four_stroke = four_stroke;
    const char* stem = four_stroke ? "four_stroke" : "two_stroke";
    t.name = std::string("@engine/") + stem + ".table";
    t.rpms = four_stroke ? std::vector<float>{1500, 3500, 6000, 9000, 12000}
                         : std::vector<float>{2000, 5000, 8000, 11000, 14000};
    const engine_voice& v = four_stroke ? FOUR_STROKE : TWO_STROKE;
    uint32_t seed = four_stroke ? 0x4f54u : 0x3254u;
    for (float rpm : t.rpms) {
        for (int load = 0; load < 2; load++) {
            engine_recording r;
            char name[96];
            snprintf(name, sizeof name, "@engine/%s_%d_%s.raw", stem, (int)rpm, load ? "open" : "closed");
            r.name = name;
            r.rpm = rpm;
            r.load = (float)load;
            r.periods = PERIODS;
            // Low speeds, where single cycles are heard apart, play the
            // cycles out of order so the pattern does not repeat every
            // four cycles.
            if (rpm < 6000)
                r.remap = {0, 2, 1, 3, 2, 0, 3, 1, 1, 3};
            r.samples = recording_bytes(v, rpm, load, seed++);
            t.cells.push_back(std::move(r));
        }
    }
    return t;
}

}  // namespace

std::vector<engine_table_design> engine_table_designs()
{
    return {make_design(true), make_design(false)};
}

std::string engine_table_text(const engine_table_design& t)
{
    std::string s;
    char line[160];
    snprintf(line, sizeof line, "SOUNDTABLE %d %d\n", (int)t.rpms.size(), 2);
    s += line;
    for (float rpm : t.rpms) {
        snprintf(line, sizeof line, "%f\n", rpm);
        s += line;
    }
    s += "0.000000\n1.000000\n";
    for (const engine_recording& r : t.cells) {
        for (int p : r.remap) {
            snprintf(line, sizeof line, "%d ", p);
            s += line;
        }
        snprintf(line, sizeof line, "-1 %f %s\n", (double)r.periods, r.name.c_str());
        s += line;
    }
    return s;
}

std::string class_braap_text(const std::string& class_name)
{
    // Torque spans follow each class's closed-throttle drag and a good
    // share of its peak; the pipes are the classes' own lengths.
    struct braap {
        const char* cls;
        const char* table;
        const char* pipe;
        float low, high, min_rpm;
        const char* bias;
        const char* scale;
    };
    static const braap list[] = {
        {"50", "two_stroke", "1.2 0.25 -0.55 0 15", -1.0f, 3.0f, 1800, "0 60 -40 20 -30", "1 1.01 0.995 1.005"},
        {"125", "two_stroke", "1.75 0.3 -0.6 0 15", -2.5f, 10.0f, 1600, "0 50 -30 15 -25", "1 1.008 0.996"},
        {"250", "two_stroke", "2.1 0.35 -0.6 0 15", -3.0f, 18.0f, 1400, "0 40 -35 10", "1 1.01 0.99 1.004"},
        {"250f", "four_stroke", "4.2 0.8 -0.55 0 15", -3.0f, 14.0f, 1300, "0 35 -25 15 -20", "1 1.012 0.992"},
        {"450f", "four_stroke", "5.0 0.9182072 -0.6 0 15", -4.0f, 22.0f, 1200, "0 30 -30 20 -15 5",
         "1 1.015 0.99 1.005"},
    };
    for (const braap& b : list) {
        if (class_name != b.cls)
            continue;
        char text[512];
        snprintf(text, sizeof text,
                 "# Engine sound of the %s class\n"
                 "soundtable @engine/%s.table\n"
                 "pipe %s\n"
                 "minrpm %f\n"
                 "lowtorque %f\n"
                 "hightorque %f\n"
                 "bias %s\n"
                 "scale %s\n",
                 b.cls, b.table, b.pipe, (double)b.min_rpm, (double)b.low, (double)b.high, b.bias, b.scale);
        return text;
    }
    return "";
}

void add_engine_sounds(output& out)
{
    // Archive members are named without the data names' "@".
    for (const engine_table_design& t : engine_table_designs()) {
        for (const engine_recording& r : t.cells)
            add_member(out, r.name.substr(1), r.samples);
        add_text_member(out, t.name.substr(1), engine_table_text(t));
    }
    for (const char* cls : {"50", "125", "250", "250f", "450f"})
        add_text_member(out, std::string("default") + cls + ".braap", class_braap_text(cls));
}

}  // namespace mkdata
