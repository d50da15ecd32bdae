// Cost of the engine sound synthesis and of the software mixer.
//
//   audio_bench [frames]
//
// Synthesis: 40 bikes of mixed classes (eight of each class), each on its
// class's ".braap" file of the default data, rendered one frame of 1/30 s
// (1470 samples) at a time for `frames` frames (default 300) with engine
// speed and torque changing from frame to frame as a ridden engine's do
// (revving through the gears, shifts, throttle on and off). Prints ns per
// synthesised sample per bike and the share of one core that 40 bikes
// take at real time.
//
// Mixing: 40 looping engine voices on a 22050 Hz unsigned 8-bit stereo
// mixer with fragments of rate/64 samples, each voice's rate, volume and
// pan changed every 1/30 s as the game does; with the default voice budget
// (16 heard) and with every voice heard. Prints ns per output sample
// (one per channel pair) and the share of one core at real time.
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "audio/engine_sound.h"
#include "audio/mixer.h"
#include "files/datafs.h"

namespace {

using clock_type = std::chrono::steady_clock;

double seconds_since(clock_type::time_point start)
{
    return std::chrono::duration<double>(clock_type::now() - start).count();
}

constexpr int BIKES = 40;
constexpr int FRAME_SAMPLES = SOUND_RATE / 30;

// A small deterministic generator, so every run rides the same engines.
struct lcg {
    uint32_t state;
    float next()  // 0..1
    {
        state = state * 1664525u + 1013904223u;
        return (float)(state >> 8) / (float)(1u << 24);
    }
};

struct engine_class {
    const char* name;
    float cycles_per_rev;  // a four-stroke fires every other revolution
    float redline;
};
const engine_class CLASSES[] = {
    {"50", 1.0f, 13000}, {"125", 1.0f, 12500}, {"250", 1.0f, 10500}, {"250f", 0.5f, 13000}, {"450f", 0.5f, 11000},
};

// A ridden engine: the speed climbs under throttle to the shift point,
// drops by a gear's ratio at a shift, and sags off the throttle.
struct ridden_engine {
    float rpm = 3000;
    float torque = 0;
    float redline = 11000;
    float throttle = 1;
    float low = -3, high = 10;  // the sound's torque span
    lcg rng{1};
    void step()
    {
        if (rng.next() < 0.04f)
            throttle = throttle > 0.5f ? 0.1f * rng.next() : 0.6f + 0.4f * rng.next();
        if (throttle > 0.5f) {
            rpm += (redline - rpm) * 0.06f + 40 * rng.next();
            if (rpm > 0.95f * redline)
                rpm *= 0.72f;  // the next gear
        } else {
            rpm -= (rpm - 2000) * 0.05f;
        }
        // Torque from the throttle, with a little roughness.
        const float drive = low + throttle * (high - low) * (1.0f + 0.1f * (rng.next() - 0.5f));
        torque = drive;
    }
};

void bench_synthesis(int frames)
{
    std::vector<std::unique_ptr<engine_sound>> sounds;
    std::vector<ridden_engine> engines;
    for (int i = 0; i < BIKES; i++) {
        const engine_class& c = CLASSES[i % 5];
        char graphics[64];
        // The class's own file, found from a graphics name of that stem.
        snprintf(graphics, sizeof graphics, "@default%s.png", c.name);
        auto s = std::make_unique<engine_sound>();
        engine_sound_init(s.get(), nullptr, graphics);
        s->cycles_per_rev = c.cycles_per_rev;
        if (s->table == builtin_sound_table(true) || s->table == builtin_sound_table(false))
            fprintf(stderr, "audio_bench: no default data sound for class %s\n", c.name);
        ridden_engine e;
        e.redline = c.redline;
        e.low = s->low_torque;
        e.high = s->high_torque;
        e.rng.state = 0x9e3779b9u * (uint32_t)(i + 1);
        e.rpm = 2500 + 500 * (float)(i % 7);
        sounds.push_back(std::move(s));
        engines.push_back(e);
    }
    // A few frames to start the grains, untimed.
    for (int f = 0; f < 10; f++) {
        for (int i = 0; i < BIKES; i++) {
            engines[(size_t)i].step();
            engine_sound_render(sounds[(size_t)i].get(), engines[(size_t)i].rpm, engines[(size_t)i].torque,
                                FRAME_SAMPLES);
        }
    }
    double seconds = 0;
    uint64_t hash = 1469598103934665603ull;
    for (int f = 0; f < frames; f++) {
        for (int i = 0; i < BIKES; i++)
            engines[(size_t)i].step();
        const auto start = clock_type::now();
        for (int i = 0; i < BIKES; i++)
            engine_sound_render(sounds[(size_t)i].get(), engines[(size_t)i].rpm, engines[(size_t)i].torque,
                                FRAME_SAMPLES);
        seconds += seconds_since(start);
        // What was made, so a faster loop can be seen to make the same.
        for (int i = 0; i < BIKES; i++) {
            for (int k = 0; k < FRAME_SAMPLES; k++)
                hash = (hash ^ sounds[(size_t)i]->bytes[k]) * 1099511628211ull;
        }
    }
    const double samples = (double)frames * FRAME_SAMPLES * BIKES;
    const double ns = seconds * 1e9 / samples;
    printf("synthesis bikes=%d frames=%d ns_per_sample_per_bike=%.1f core_at_real_time=%.2f%% bytes_hash=%016llx\n",
           BIKES, frames, ns, ns * 1e-9 * SOUND_RATE * BIKES * 100, (unsigned long long)hash);
}

void bench_mixer(int frames, int budget)
{
    constexpr int RATE = 22050;
    mixer m;
    if (!mixer_init(&m, RATE, true, sample_u8, RATE / 64, budget)) {
        fprintf(stderr, "audio_bench: no memory for the mixer\n");
        return;
    }
    // Engine-like voices: a ring of a rough periodic wave each.
    std::vector<audio_voice*> voices;
    lcg rng{7};
    std::vector<uint8_t> ring(SOUND_RING);
    for (int i = 0; i < BIKES; i++) {
        const int period = 200 + 37 * i;
        for (int k = 0; k < SOUND_RING; k++) {
            const float phase = (float)(k % period) / (float)period;
            ring[(size_t)k] = (uint8_t)(128 + 100 * std::exp(-6 * phase) * std::sin(40 * phase) +
                                        8 * (rng.next() - 0.5f));
        }
        audio_voice* v = mixer_voice_create(&m, SOUND_RING, ring.data(), 0);
        voice_set_loop(v, true);
        voice_start(v);
        voices.push_back(v);
    }
    // Fragments per 1/30 s frame, carried over as the device's clock does.
    const int fragment = m.fragment_length;
    double seconds = 0;
    long fragments = 0;
    double owed = 0;
    for (int f = 0; f < frames; f++) {
        for (int i = 0; i < BIKES; i++) {
            // Doppler within +-10%, distance and side from frame to frame.
            voice_set_rate(voices[(size_t)i], (int)(SOUND_RATE * (0.9f + 0.2f * rng.next())));
            voice_set_volume(voices[(size_t)i], (int)(32767 * (0.1f + 0.9f * rng.next())));
            voice_set_pan(voices[(size_t)i], (int)(65535 * rng.next()) - 32768);
        }
        owed += (double)RATE / 30 / fragment;
        const auto start = clock_type::now();
        while (owed >= 1) {
            mix_fragment(&m);
            owed -= 1;
            fragments++;
        }
        seconds += seconds_since(start);
    }
    const double samples = (double)fragments * fragment;
    const double ns = seconds * 1e9 / samples;
    printf("mixer voices=%d heard=%d rate=%d format=u8_stereo fragment=%d ns_per_output_sample=%.1f "
           "core_at_real_time=%.2f%%\n",
           BIKES, budget < BIKES ? budget : BIKES, RATE, fragment, ns, ns * 1e-9 * RATE * 100);
    for (audio_voice* v : voices)
        voice_destroy(v);
    mixer_free(&m);
}

}  // namespace

int main(int argc, char** argv)
{
    const int frames = argc > 1 ? atoi(argv[1]) : 300;
    if (frames < 1 || frames > 100000) {
        fprintf(stderr, "usage: audio_bench [frames 1..100000]\n");
        return 1;
    }
    // The index reaches the archives, where the engine recordings are.
    build_file_index();
    bench_synthesis(frames);
    bench_mixer(frames * 4, 16);
    bench_mixer(frames * 4, BIKES);
    engine_sound_free_tables();
    free_file_index();
    return 0;
}
