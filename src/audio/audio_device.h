// The audio devices the game plays its voices through. Every kind here
// mixes in software with a mixer (mixer.h); what differs is who asks for
// the fragments: the real-time output's mixing thread (the platform layer,
// platform/sdl_audio.h), or the game itself through render_block when it
// records its sound ("readback"). Only one device is open at a time.
#pragma once

#include <cstdint>

#include "audio/mixer.h"

enum audio_device_kind {
    audio_realtime,  // a sound card fed from its own thread
    audio_readback,  // mixed on the main thread on demand
};

struct audio_device {
    audio_device_kind kind = audio_readback;
    mixer mix;  // its lock is the audio lock
    // The kind's own state and how to release it (the real-time output's
    // thread and sound card); null for the readback device.
    void* platform = nullptr;
    void (*close_platform)(audio_device* device) = nullptr;
};

// The device the game plays through, or null when it runs silent. Set by
// start-up, cleared by shutdown; engine sounds create their voices on it.
extern audio_device* g_audio;

// Opens the readback device: mono, signed 16-bit, `block_length` samples
// per render_block at `rate`, the voice budget from "sound-channels".
// Logs "Opening readback audio...\n" and "Audio opened!\n", or "Malloc
// failed\n" and returns null.
audio_device* open_readback_audio(int rate, int block_length);

// Closes any kind of device ("Closing audio\n"; "Can't close audio, not
// open\n" for null). Voices must have been destroyed before.
void close_audio(audio_device* device);

// Once per frame after the voices were updated; nothing to do for the
// software-mixed kinds.
void audio_commit(audio_device* device);

// Readback only: mixes one block and returns its block_length signed
// 16-bit samples (valid until the next call); null for another kind.
const int16_t* render_block(audio_device* device);

// A voice on the device (see mixer_voice_create); null for a null device,
// so a silent game simply has no voices. The other voice operations take
// the voice alone (mixer.h): a voice knows its device's mixer and lock.
audio_voice* voice_create(audio_device* device, int length, const uint8_t* bytes, int source_rate);
