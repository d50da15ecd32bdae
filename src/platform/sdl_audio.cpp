// The real-time output on SDL audio. The callback runs on SDL's audio
// thread and mixes fragments of rate / 64 samples under the audio lock;
// the fragments are handed out through a small carry-over so that any
// buffer size SDL asks for is served whole fragments at a time.
//
// The mix-ahead: SDL reports no finished fragments, so instead of waiting
// for them the device's buffer is sized to the mix-ahead (mixahead
// fragments of rate / 64 samples), but never more than two fragments: a
// callback mixes its whole buffer at once, and voices that are streamed
// (the engine sounds write a tenth of a second ahead of the play
// position) must not be read past what the game has written by then. A
// 125 ms burst read stale ring data for a good part of every buffer.
#include "platform/sdl_audio.h"

#include <SDL.h>

#include <atomic>
#include <cstring>
#include <new>

#include "platform/log.h"

namespace {

struct realtime_output {
    SDL_AudioDeviceID id = 0;
    const uint8_t* carry = nullptr;  // rest of the last fragment mixed
    int carry_bytes = 0;
    bool began = false;
    std::atomic<long> fragments{0};  // fragments mixed so far
};

bool g_open = false;  // only one real-time output at a time

// Most fragments one callback mixes at once (see above).
const int MAX_BURST_FRAGMENTS = 2;

void mix_callback(void* user, Uint8* stream, int len)
{
    audio_device* d = (audio_device*)user;
    realtime_output* out = (realtime_output*)d->platform;
    if (!out->began) {
        out->began = true;
        log_printf("Audio thread begin\n");
    }
    while (len > 0) {
        if (out->carry_bytes == 0) {
            out->carry = mix_fragment(&d->mix);
            out->carry_bytes = d->mix.output_bytes;
            out->fragments++;
        }
        const int n = len < out->carry_bytes ? len : out->carry_bytes;
        memcpy(stream, out->carry, (size_t)n);
        out->carry += n;
        out->carry_bytes -= n;
        stream += n;
        len -= n;
    }
}

void close_realtime(audio_device* d)
{
    realtime_output* out = (realtime_output*)d->platform;
    // Closing waits for a callback in progress, so the mixer is ours after.
    SDL_CloseAudioDevice(out->id);
    if (out->began)
        log_printf("Audio thread end\n");
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    delete out;
    d->platform = nullptr;
    g_open = false;
}

// The sound card's first output device by name, or null when there is none
// (the dummy driver plays nothing, so it counts as none).
const char* first_device_name()
{
    const char* driver = SDL_GetCurrentAudioDriver();
    if (!driver || strcmp(driver, "dummy") == 0)
        return nullptr;
    const int count = SDL_GetNumAudioDevices(0);
    if (count == 0)
        return nullptr;
    const char* name = count > 0 ? SDL_GetAudioDeviceName(0, 0) : nullptr;
    return name ? name : driver;
}

int clamp_int(long long x, int low, int high)
{
    return (int)(x < low ? low : (x > high ? high : x));
}

// Opens the card for unsigned 8-bit samples, stereo when it has two
// channels and mono when it has one; SDL converts anything else.
SDL_AudioDeviceID open_card(int rate, int samples, audio_device* d, SDL_AudioSpec* got)
{
    SDL_AudioSpec want;
    SDL_zero(want);
    want.freq = rate;
    want.format = AUDIO_U8;
    want.channels = 2;
    want.samples = (Uint16)samples;
    want.callback = mix_callback;
    want.userdata = d;
    SDL_AudioDeviceID id = SDL_OpenAudioDevice(nullptr, 0, &want, got, SDL_AUDIO_ALLOW_CHANNELS_CHANGE);
    if (id != 0 && got->channels != 1 && got->channels != 2) {
        SDL_CloseAudioDevice(id);
        id = SDL_OpenAudioDevice(nullptr, 0, &want, got, 0);
    }
    return id;
}

audio_device* open_waveout()
{
    log_printf("Opening waveOut audio...\n");
    if (g_open) {
        log_printf("Audio already open\n");
        return nullptr;
    }
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        log_printf("No audio device\n");
        return nullptr;
    }
    const char* name = first_device_name();
    if (!name) {
        log_printf("No audio device\n");
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return nullptr;
    }
    log_printf("Found a %s\n", name);

    const int rate = clamp_int(option_int("sound-rate", 22050), 4000, 192000);
    const int budget = clamp_int(option_int("sound-channels", 16), 0, 1 << 20);
    const int mixahead = mixahead_fragments(option_int("sound-mixahead", 125));
    const int fragment = rate / 64;
    log_printf("Waveout rate: %d\n", rate);
    log_printf("Waveout channels: %d\n", budget);
    log_printf("Waveout mixahead: %d\n", mixahead * 1000 / 64);

    audio_device* d = new (std::nothrow) audio_device;
    realtime_output* out = d ? new (std::nothrow) realtime_output : nullptr;
    if (!out) {
        log_printf("malloc() failed\n");
        delete d;
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return nullptr;
    }
    d->kind = audio_realtime;
    d->platform = out;
    SDL_AudioSpec got;
    const int burst = mixahead < MAX_BURST_FRAGMENTS ? mixahead : MAX_BURST_FRAGMENTS;
    out->id = open_card(rate, clamp_int((long long)fragment * burst, 1, 65535), d, &got);
    if (out->id == 0) {
        log_printf("Can't open waveOut\n");
        log_printf("%s\n", SDL_GetError());
        delete out;
        delete d;
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return nullptr;
    }
    // The callback stays paused until the mixer is ready.
    if (!mixer_init(&d->mix, rate, got.channels == 2, sample_u8, fragment, budget)) {
        log_printf("malloc() failed\n");
        SDL_CloseAudioDevice(out->id);
        delete out;
        delete d;
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return nullptr;
    }
    d->close_platform = close_realtime;
    g_open = true;
    SDL_PauseAudioDevice(out->id, 0);
    log_printf("Audio opened!\n");
    return d;
}

}  // namespace

int mixahead_fragments(int milliseconds)
{
    return clamp_int((long long)milliseconds * 64 / 1000, 1, 32);
}

audio_device* open_audio()
{
    if (option_flag("dsnd", 1))
        log_printf("No hardware-mixing sound library here; trying waveOut\n");
    if (option_flag("waveout", 1))
        return open_waveout();
    return nullptr;
}
