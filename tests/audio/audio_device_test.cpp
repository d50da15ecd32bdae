#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "audio/audio_device.h"
#include "platform/log.h"
#include "test_support.h"

namespace {

// The game records at 88320 Hz in blocks of 690 samples: one tick each.
constexpr int RECORD_RATE = 88320;
constexpr int TICK_SAMPLES = 690;

TEST(readback_audio, renders_one_tick_of_a_tone_per_block)
{
    test::scoped_env no_options{"VORN_OPTIONS", nullptr};
    options_reset_for_tests();
    audio_device* d = open_readback_audio(RECORD_RATE, TICK_SAMPLES);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->mix.output_bytes, 1380);

    // One period of 441 Hz at 22050 Hz, resampled to 200 bytes at the
    // recording rate: 88320 / 200 = 441.6 Hz.
    std::vector<uint8_t> period(50);
    for (int k = 0; k < 50; k++)
        period[(size_t)k] = (uint8_t)std::lround(128 + 120 * std::sin(2 * M_PI * (k + 0.5) / 50));
    audio_voice* v = voice_create(d, 50, period.data(), 22050);
    ASSERT_NE(v, nullptr);
    ASSERT_EQ(v->data->length, 200);
    voice_set_loop(v, true);
    voice_start(v);

    std::vector<int16_t> second;
    for (int tick = 0; tick < 128; tick++) {
        const int16_t* block = render_block(d);
        ASSERT_NE(block, nullptr);
        second.insert(second.end(), block, block + TICK_SAMPLES);
    }
    ASSERT_EQ(second.size(), (size_t)RECORD_RATE);

    // The frequency from the rising zero crossings, to a fraction of a hertz.
    int first = -1, last = -1, rises = 0, peak = 0;
    for (size_t i = 1; i < second.size(); i++) {
        peak = std::max(peak, std::abs((int)second[i]));
        if (second[i - 1] < 0 && second[i] >= 0) {
            if (first < 0)
                first = (int)i;
            else
                rises++;
            last = (int)i;
        }
    }
    const double hertz = rises * (double)RECORD_RATE / (last - first);
    EXPECT_NEAR(hertz, 441.6, 0.05);
    // A lone voice at full volume comes out near full scale.
    EXPECT_GT(peak, 100 * 256);
    EXPECT_LE(peak, 127 * 256);

    voice_destroy(v);
    close_audio(d);
    // Without a device there is nothing to render and no voice to make.
    EXPECT_EQ(render_block(nullptr), nullptr);
    EXPECT_EQ(voice_create(nullptr, 10, period.data(), 0), nullptr);
}

TEST(readback_audio, voice_budget_comes_from_the_options)
{
    test::scoped_env options{"VORN_OPTIONS", "[sound-channels:3]"};
    options_reset_for_tests();
    audio_device* d = open_readback_audio(RECORD_RATE, TICK_SAMPLES);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->mix.budget, 3);
    close_audio(d);
    options_reset_for_tests();
}

}  // namespace
