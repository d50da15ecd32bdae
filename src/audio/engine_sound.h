// Engine sound synthesis. Each bike's engine is synthesised sample by
// sample at 44100 Hz: every engine cycle starts up to four grains cut from
// recorded engine samples, picked from a table over engine speed x load and
// blended bilinearly, and the sum runs through up to 16 delayed feedback
// taps that stand for the exhaust pipe's resonance. The output streams
// through one looping voice whose rate, volume and pan follow the bike and
// the listener.
//
// Tables and samples are loaded once per data name and kept until
// engine_sound_free_tables. The per-frame synthesis allocates nothing.
#pragma once

#include <cstdint>

#include "core/vec3.h"

struct audio_device;
struct audio_voice;
struct bike;
struct data_stream;

enum {
    ENGINE_SOUND_SLOTS = 160,     // one per participant slot
    SOUND_RATE = 44100,           // samples per second synthesised
    SOUND_RING = 32768,           // history ring and voice length, samples
    SOUND_LEAD = 4410,            // samples the writing runs ahead of playback
    SOUND_MAX_FRAME = 8820,       // most samples produced in one frame
    PIPE_TAPS = 16,
    SOUND_LIST_MAX = 100,         // bias and scale entries
    SOUND_GRAINS = 4,
    // Bounds on what a table file may ask for, checked before allocating.
    SOUND_TABLE_MAX_DIM = 64,     // rows, and columns
    SOUND_REMAP_MAX = 4096,       // entries of one remap list
    SOUND_SAMPLE_MAX = 1 << 22,   // samples of one sample file
};

// The speed of sound in world units (feet) per second.
constexpr float SPEED_OF_SOUND = 1140.63f;

struct sound_cell {
    const float* samples = nullptr;  // shared through the sample cache
    int sample_count = 0;
    int periods = 1;                 // engine cycles recorded in samples, >= 1
    int* remap = nullptr;            // period order, each entry in 0..periods-1; null: none
    int remap_count = 0;
    float row_value = 0;             // engine speed, rpm
    float col_value = 0;             // load, 0..1
};

struct sound_table {
    char name[1024] = {};
    int rows = 0, cols = 0;
    sound_cell* cells = nullptr;     // rows x cols, row-major
    sound_table* next = nullptr;     // the list of loaded tables
};

struct sound_grain {
    const float* samples = nullptr;
    int sample_count = 0;
    float weight = 0;
    int64_t pos = 0;    // sample index, 1024 = one sample
    int64_t step = 0;   // per output sample, same scale
};

struct engine_sound {
    audio_voice* voice = nullptr;    // none without an audio device
    const sound_table* table = nullptr;
    float cycles_per_rev = 0.5f;
    float low_torque = -2.5f, high_torque = 2.5f;
    float min_rpm = 1000;
    int tap_delay[PIPE_TAPS] = {};   // samples
    float tap_gain[PIPE_TAPS] = {};
    float bias[SOUND_LIST_MAX] = {};
    int bias_count = 1;
    float scale[SOUND_LIST_MAX] = {};
    int scale_count = 1;
    float history[SOUND_RING] = {};  // synthesised output, indexed by write_pos
    float cycle_freq = 10;           // engine cycles per second
    float prev_rpm = 1000;
    int write_pos = 0;               // next ring index written
    uint32_t phase = 0;              // 24-bit fraction of the current cycle
    uint32_t cycle_count = 0;
    sound_grain grains[SOUND_GRAINS];
    uint8_t bytes[SOUND_MAX_FRAME] = {};  // the last frame's output as voice bytes
};

// Where the sound is heard from (the camera).
struct sound_listener {
    vec3 position = {0, 0, 0};
    vec3 right = {1, 0, 0};          // unit axis pointing to the listener's right
    vec3 velocity = {0, 0, 0};
};

// A voice's playback settings for one frame.
struct sound_spatial {
    int rate = SOUND_RATE;   // samples per second
    int volume = 0;          // 0..32767
    int pan = 0;             // -32767..32767, positive to the right
};

// ---- set-up ---------------------------------------------------------------

// Fills the record for bike b (null: the four-stroke defaults) without a
// voice: class defaults, then the ".braap" file found from graphics_name
// (null: the bike's own graphics texture name).
void engine_sound_init(engine_sound* s, const bike* b, const char* graphics_name);
// engine_sound_init, then a looping silent voice on device, started at
// volume 0. With no device (or no memory for the voice) the slot keeps no
// voice and is never updated.
void engine_sound_setup(engine_sound* s, const bike* b, const char* graphics_name, audio_device* device);
// Destroys the voice (the record may then be set up again).
void engine_sound_release(engine_sound* s);

// Recomputes the pipe taps from the pipe's length, its shortest length,
// the total gain and the first and last tap. Non-finite values change
// nothing and return false.
bool pipe_setup(engine_sound* s, float length, float shortest, float gain, int first, int last);
// Pipe values a "pipe" line or command leaves out, by engine class
// ("250f" and "450f" get the four-stroke pipe). Five values each.
void default_pipe(const char* class_name, float* length, float* shortest, float* gain, int* first, int* last);

// The ".braap" name tried for a graphics name, or the next shorter one:
// with from_graphics the last "." of the final path part becomes ".braap";
// otherwise the last "-" of the current name's final part. False when
// there is no such character.
bool braap_name(const char* name, bool from_graphics, char* out, int size);
// The class default ".braap" file, or null for an unknown class.
const char* class_braap_name(const char* class_name);
// Applies the lines of a ".braap" stream to s.
void read_braap(engine_sound* s, data_stream* stream);

// The loaded table of that data name, loading it when needed; null after
// an error (reported with add_message).
const sound_table* find_sound_table(const char* name);
// Reads a table file into t (cells, row and column values, samples).
// False after an error, with the messages added and t left empty.
bool read_sound_table(sound_table* t, data_stream* stream);
// The built-in tables ("default_four_stroke", "default_two_stroke").
const sound_table* builtin_sound_table(bool four_stroke);
// Frees every loaded table and sample (shutdown, tests).
void engine_sound_free_tables();

// ---- per frame --------------------------------------------------------------

// Synthesises count samples (at most SOUND_MAX_FRAME) for an engine
// going from prev_rpm to rpm at this torque, into the history ring and
// s->bytes (oldest first); the ring's write position advances by count.
void engine_sound_render(engine_sound* s, float rpm, float torque, int count);
// Samples to produce this frame for a voice playing at play_position.
int engine_sound_due(const engine_sound* s, int play_position);
// Rate, volume and pan of a bike at position/velocity for the listener,
// at the frame's volume (1 = full).
sound_spatial engine_sound_spatial(vec3 position, vec3 velocity, const sound_listener& listener, float volume);
// One frame of the bike's engine sound into its voice. Nothing without a
// voice.
void engine_sound_update(engine_sound* s, const bike* b, float volume, const sound_listener& listener);
