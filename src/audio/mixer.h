// The software mixer: voices of unsigned 8-bit mono samples (128 is
// silence) played at their own rate, volume and pan, once or looping, and
// summed into fixed-size fragments of output. A voice's samples may be
// overwritten while it plays (the engine sound streams through a looping
// voice that way).
//
// Every voice operation takes the mixer's audio lock, and mix_fragment
// takes it while it mixes, so the real-time output's mixing thread and the
// main thread never see a voice half-changed. Mixing allocates nothing.
// The mixer knows nothing of sound cards: the devices in audio_device.h
// own a mixer and hand its fragments on.
#pragma once

#include <cstdint>
#include <mutex>

enum audio_sample_format {
    sample_u8,   // unsigned 8-bit, 128 silence
    sample_s16,  // signed 16-bit, native byte order
};

// Shared by a voice and its copies; freed with the last reference.
struct sample_data {
    int refs = 0;
    int length = 0;  // bytes, at least 1
    uint8_t* bytes = nullptr;
};

enum voice_flags : unsigned {
    voice_loop = 1u << 0,      // wrap at the end instead of finishing
    voice_playing = 1u << 1,   // listed in the mixer's level lists
    voice_stereo = 1u << 2,    // the device is stereo, so pan applies
    voice_restart = 1u << 3,   // rewind to the start at the next mix
    voice_finished = 1u << 4,  // reached the end or stopped; leaves the lists at the end of the mix
    voice_stopped = 1u << 5,   // stopped by voice_stop: not heard in the mix that drops it
};

struct audio_voice;

// One channel's view of a voice: the level list it sits in and the read
// position (byte index plus a 32-bit fraction).
struct mix_node {
    audio_voice* voice = nullptr;
    mix_node* prev = nullptr;
    mix_node* next = nullptr;
    int level = 0;           // the level list it is listed under
    int previous_level = 0;  // the level heard in the previous fragment (0: silent)
    uint32_t position = 0;
    uint32_t fraction = 0;
};

struct mixer;

struct audio_voice {
    mixer* owner = nullptr;
    sample_data* data = nullptr;  // holds one reference
    unsigned flags = 0;
    int rate = 0;      // playback rate, samples per second
    int out_rate = 0;  // the device's output rate
    int volume = 32767;  // 0..32767
    int pan = 0;         // -32768..32767; -32768 on a mono device
    int left_level = 0, right_level = 0;  // 0..31
    mix_node node[2];  // left, right (the right one only on a stereo device)
};

constexpr int MIX_LEVELS = 32;  // 0 (silent) .. 31

struct mixer {
    int rate = 0;  // output samples per second
    bool stereo = false;
    audio_sample_format format = sample_u8;
    int fragment_length = 0;  // samples per channel in one fragment
    int budget = 16;          // audible nodes per fragment ("sound-channels")
    int voices = 0;           // voices created and not yet destroyed
    mix_node* lists[2][MIX_LEVELS] = {};  // per channel and level, newest first
    int32_t* accumulators[2] = {};        // fragment_length each
    uint8_t* output = nullptr;            // one fragment, channels interleaved
    int output_bytes = 0;
    std::mutex lock;  // the audio lock
};

// Prepares a mixer; false when out of memory (nothing is kept then).
// fragment_length is clamped to at least 1 and budget to at least 0.
bool mixer_init(mixer* m, int rate, bool stereo, audio_sample_format format, int fragment_length, int budget);
// Frees the buffers. Voices still alive are the caller's fault: they are
// counted in the log and left alone (their owner must not be used again).
void mixer_free(mixer* m);

// Mixes one fragment of fragment_length samples per channel into
// m->output (output_bytes bytes) and returns it. Takes the audio lock.
const uint8_t* mix_fragment(mixer* m);

// A new voice with a copy of `length` bytes (null bytes: silence). With a
// source rate above 0 the bytes are resampled to the output rate by the
// nearest earlier sample. Rate = output rate, volume 32767, pan 0, not
// looping, not playing. Null when out of memory or length < 1.
audio_voice* mixer_voice_create(mixer* m, int length, const uint8_t* bytes, int source_rate);

// A new voice sharing v's samples and settings, not playing, at the start.
audio_voice* voice_copy(audio_voice* v);
void voice_destroy(audio_voice* v);  // null is fine
void voice_start(audio_voice* v);    // from the start, also when playing
void voice_stop(audio_voice* v);     // silent from the next fragment on
void voice_set_rate(audio_voice* v, int rate);      // samples per second, >= 0
void voice_set_volume(audio_voice* v, int volume);  // clamped to 0..32767
void voice_set_pan(audio_voice* v, int pan);        // clamped; ignored on mono
void voice_set_loop(audio_voice* v, bool loop);
// The byte under the read position while playing (0 when not playing or
// waiting to restart).
int voice_position(audio_voice* v);
// Writes `count` bytes as a ring starting at `offset` (taken modulo the
// length, negative offsets too); of a longer write only the last `length`
// bytes land, where they would have landed.
void voice_write(audio_voice* v, int count, const uint8_t* bytes, int offset);

// The mixing level of sample byte u at level 1..31 (level 0 is silent).
int mix_level_value(int level, uint8_t u);
