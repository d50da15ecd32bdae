#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "platform/log.h"
#include "platform/sdl_audio.h"
#include "test_support.h"

namespace {

TEST(sdl_audio, mixahead_is_one_to_thirty_two_fragments)
{
    EXPECT_EQ(mixahead_fragments(0), 1);
    EXPECT_EQ(mixahead_fragments(125), 8);
    EXPECT_EQ(mixahead_fragments(1000), 32);
    EXPECT_EQ(mixahead_fragments(-5), 1);
    EXPECT_EQ(mixahead_fragments(2000000000), 32);
}

// No sound card (or every output switched off) is a silent game, not an
// error.
TEST(sdl_audio, no_sound_card_runs_silent)
{
    test::scoped_env options{"VORN_OPTIONS", nullptr};
    options_reset_for_tests();
    {
        test::scoped_env driver{"SDL_AUDIODRIVER", "dummy"};
        EXPECT_EQ(open_audio(), nullptr);
    }
    {
        test::scoped_env driver{"SDL_AUDIODRIVER", "no-such-driver"};
        EXPECT_EQ(open_audio(), nullptr);
    }
    test::scoped_env off{"VORN_OPTIONS", "[waveout:off]"};
    options_reset_for_tests();
    EXPECT_EQ(open_audio(), nullptr);
    options_reset_for_tests();
}

// SDL's disk driver stands in for a sound card: it plays the callback's
// fragments in real time into a file, where the tone is measured.
TEST(sdl_audio, plays_a_voice_through_the_mixing_thread)
{
    test::temp_dir dir;
    const std::string file = dir / "out.raw";
    test::scoped_env driver{"SDL_AUDIODRIVER", "disk"};
    test::scoped_env disk{"SDL_DISKAUDIOFILE", file.c_str()};
    test::scoped_env options{"VORN_OPTIONS", "[sound-rate:22050][sound-mixahead:30]"};
    options_reset_for_tests();
    audio_device* d = open_audio();
    if (!d)
        GTEST_SKIP() << "SDL has no disk audio driver here";
    ASSERT_EQ(d->kind, audio_realtime);
    EXPECT_EQ(d->mix.fragment_length, 344);
    ASSERT_TRUE(d->mix.stereo);

    // 441 Hz at the output rate, panned hard left.
    std::vector<uint8_t> period(50);
    for (int k = 0; k < 50; k++)
        period[(size_t)k] = (uint8_t)std::lround(128 + 120 * std::sin(2 * M_PI * (k + 0.5) / 50));
    audio_voice* v = voice_create(d, 50, period.data(), 0);
    ASSERT_NE(v, nullptr);
    voice_set_loop(v, true);
    voice_set_pan(v, -32768);
    voice_start(v);
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    voice_destroy(v);
    close_audio(d);
    options_reset_for_tests();

    const std::string raw = test::read_file(file);
    ASSERT_GT(raw.size(), 2u * 2000);
    // Left carries the tone (from where it started), right stays silent.
    int first = -1, last = -1, rises = 0;
    for (size_t i = 1; 2 * i + 1 < raw.size(); i++) {
        const uint8_t left0 = (uint8_t)raw[2 * (i - 1)], left1 = (uint8_t)raw[2 * i];
        ASSERT_EQ((uint8_t)raw[2 * i + 1], 128) << "sample " << i;
        if (left0 < 128 && left1 >= 128) {
            if (first < 0)
                first = (int)i;
            else
                rises++;
            last = (int)i;
        }
    }
    ASSERT_GT(rises, 20);
    EXPECT_NEAR(rises * 22050.0 / (last - first), 441.0, 0.5);
}

}  // namespace
