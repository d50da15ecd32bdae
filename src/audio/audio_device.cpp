// The device record shared by every kind, and the readback device that
// mixes on the main thread so a recording stays in step with the ticks.
#include "audio/audio_device.h"

#include <new>

#include "platform/log.h"

audio_device* g_audio = nullptr;

audio_device* open_readback_audio(int rate, int block_length)
{
    log_printf("Opening readback audio...\n");
    audio_device* d = new (std::nothrow) audio_device;
    if (!d || !mixer_init(&d->mix, rate, false, sample_s16, block_length, option_int("sound-channels", 16))) {
        log_printf("Malloc failed\n");
        delete d;
        return nullptr;
    }
    d->kind = audio_readback;
    log_printf("Audio opened!\n");
    return d;
}

void close_audio(audio_device* device)
{
    if (!device) {
        log_printf("Can't close audio, not open\n");
        return;
    }
    log_printf("Closing audio\n");
    // The mixing thread stops before the mixer it reads goes away.
    if (device->close_platform)
        device->close_platform(device);
    mixer_free(&device->mix);
    delete device;
}

void audio_commit(audio_device*)
{
}

const int16_t* render_block(audio_device* device)
{
    if (!device || device->kind != audio_readback)
        return nullptr;
    return (const int16_t*)(const void*)mix_fragment(&device->mix);
}

audio_voice* voice_create(audio_device* device, int length, const uint8_t* bytes, int source_rate)
{
    return device ? mixer_voice_create(&device->mix, length, bytes, source_rate) : nullptr;
}
