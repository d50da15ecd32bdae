#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <thread>
#include <vector>

#include "audio/mixer.h"

namespace {

constexpr int RATE = 22050;
constexpr int FRAGMENT = RATE / 64;  // 344

// A mixer of the real-time kind (unsigned 8-bit) torn down after the test.
struct mixer_fixture : ::testing::Test {
    mixer m;
    std::vector<audio_voice*> voices;
    void open(bool stereo, int budget = 16, audio_sample_format format = sample_u8)
    {
        ASSERT_TRUE(mixer_init(&m, RATE, stereo, format, FRAGMENT, budget));
    }
    audio_voice* add(const std::vector<uint8_t>& bytes, bool loop = true)
    {
        audio_voice* v = mixer_voice_create(&m, (int)bytes.size(), bytes.data(), 0);
        EXPECT_NE(v, nullptr);
        voice_set_loop(v, loop);
        voices.push_back(v);
        return v;
    }
    std::vector<uint8_t> mix() { return std::vector<uint8_t>(mix_fragment(&m), mix_fragment_end()); }
    const uint8_t* mix_fragment_end() { return m.output + m.output_bytes; }
    void TearDown() override
    {
        for (audio_voice* v : voices)
            voice_destroy(v);
        mixer_free(&m);
    }
};

std::vector<uint8_t> constant(int length, uint8_t value)
{
    return std::vector<uint8_t>((size_t)length, value);
}

// A sine of `period` bytes around 128 with the given amplitude.
std::vector<uint8_t> sine(int length, double period, double amplitude)
{
    std::vector<uint8_t> bytes((size_t)length);
    for (int k = 0; k < length; k++)
        bytes[(size_t)k] = (uint8_t)std::lround(128 + amplitude * std::sin(2 * M_PI * k / period));
    return bytes;
}

// Every byte distinct from its neighbours, so a wrong read position shows.
std::vector<uint8_t> ramp(int length)
{
    std::vector<uint8_t> bytes((size_t)length);
    for (int k = 0; k < length; k++)
        bytes[(size_t)k] = (uint8_t)(k * 7 % 251);
    return bytes;
}

TEST(level_table, rows_follow_the_sample_and_the_level)
{
    // Sample bytes 128 +- k give +-(k - 1) * L / 32, 0 is the one extra step.
    EXPECT_EQ(mix_level_value(31, 128), 0);
    EXPECT_EQ(mix_level_value(31, 255), 126 * 31 / 32);
    EXPECT_EQ(mix_level_value(31, 1), -(126 * 31 / 32));
    EXPECT_EQ(mix_level_value(31, 0), -(127 * 31 / 32));
    EXPECT_EQ(mix_level_value(16, 129), 0);
    EXPECT_EQ(mix_level_value(16, 200), 71 * 16 / 32);
    EXPECT_EQ(mix_level_value(0, 255), 0);
}

// A voice nobody hears keeps its place to the fraction, so it comes back
// in step with an identical voice that was heard all along; at a rate
// that is not a whole multiple of the output rate the read position
// follows samples * rate / out_rate over many fragments.
TEST_F(mixer_fixture, silent_voices_advance_in_step_with_heard_ones)
{
    open(false);
    const std::vector<uint8_t> bytes = ramp(5000);
    audio_voice* heard = add(bytes);
    audio_voice* muted = add(bytes);
    const int rate = 30000;  // 200/147 of the output rate
    for (audio_voice* v : {heard, muted}) {
        voice_set_rate(v, rate);
        voice_start(v);
    }
    voice_set_volume(muted, 0);
    for (int f = 1; f <= 200; f++) {
        const std::vector<uint8_t> out = mix();
        if (f == 1)
            continue;
        const long long samples = (long long)f * FRAGMENT;
        const long long exact = samples * rate / RATE;
        const int pos = voice_position(heard);
        // The fraction step is truncated, so it may trail the exact
        // position by a hair, never by a whole byte over 68800 samples.
        EXPECT_TRUE(pos == exact % 5000 || pos == (exact - 1) % 5000) << "fragment " << f << " at " << pos;
        EXPECT_EQ(heard->node[0].position, muted->node[0].position) << "fragment " << f;
        EXPECT_EQ(heard->node[0].fraction, muted->node[0].fraction) << "fragment " << f;
        // Every output sample is the byte under the exact position (or the
        // one before it at the exact byte boundaries).
        for (int i = 0; i < FRAGMENT; i++) {
            const long long at = (samples - FRAGMENT + i) * rate / RATE;
            const int got = out[(size_t)i] - 128;
            const int want = mix_level_value(31, bytes[(size_t)(at % 5000)]);
            const int before = mix_level_value(31, bytes[(size_t)((at + 4999) % 5000)]);
            ASSERT_TRUE(got == want || got == before) << "fragment " << f << " sample " << i;
        }
    }
    // Turned up, it sounds exactly like its twin (doubling the sum).
    voice_set_volume(muted, 32767);
    const std::vector<uint8_t> both = mix();
    voice_set_volume(muted, 0);
    const std::vector<uint8_t> one = mix();
    EXPECT_EQ(heard->node[0].position, muted->node[0].position);
    voice_stop(muted);
    mix();
    int twice = 0;
    for (int i = 0; i < FRAGMENT; i++)
        twice += both[(size_t)i] != 128;
    EXPECT_GT(twice, FRAGMENT / 2);
}

// The budget goes to the loudest first; within a level the newest voices
// win, and each audible node spends one unit.
TEST_F(mixer_fixture, budget_drops_the_oldest_of_the_quietest_level)
{
    open(false, 16);
    const int level20 = 20481;  // (65535 * 20481) >> 26 == 20 on a mono device
    for (int i = 0; i < 20; i++) {
        // The four oldest are loud so that hearing any of them shows.
        audio_voice* v = add(constant(1000, i < 4 ? 255 : 136));
        voice_set_volume(v, level20);
        ASSERT_EQ(v->left_level, 20);
        voice_start(v);
    }
    std::vector<uint8_t> out = mix();
    for (uint8_t s : out)
        ASSERT_EQ(s, 128 + 16 * mix_level_value(20, 136));

    // One voice at level 31 takes a unit ahead of them: fifteen of level 20
    // are left.
    audio_voice* loud = add(constant(1000, 136));
    voice_start(loud);
    out = mix();
    for (uint8_t s : out)
        ASSERT_EQ(s, 128 + mix_level_value(31, 136) + 15 * mix_level_value(20, 136));
    // The voices over budget still advanced with the rest.
    EXPECT_EQ(voice_position(voices[0]), 2 * FRAGMENT);
}

// A volume change of a playing wave waits for the next zero crossing, so
// the wave never jumps in the middle of a half period.
TEST_F(mixer_fixture, volume_change_waits_for_the_zero_crossing)
{
    open(false);
    const std::vector<uint8_t> bytes = sine(1000, 100, 120);
    audio_voice* v = add(bytes);
    voice_start(v);
    mix();
    ASSERT_EQ(voice_position(v), FRAGMENT);
    voice_set_volume(v, 10000);  // level (65535 * 10000) >> 26 == 9
    ASSERT_EQ(v->left_level, 9);
    const std::vector<uint8_t> out = mix();
    // 344 lies 44 bytes into a period: the positive half runs to byte 350.
    int crossing = -1;
    for (int i = 0; i < FRAGMENT; i++) {
        const uint8_t u = bytes[(size_t)(FRAGMENT + i)];
        const int old_level = 128 + mix_level_value(31, u), new_level = 128 + mix_level_value(9, u);
        if (crossing < 0 && (u & 0x80) == 0)
            crossing = i;
        ASSERT_EQ(out[(size_t)i], crossing < 0 ? old_level : new_level) << "sample " << i;
    }
    EXPECT_GE(crossing, 5);
    EXPECT_LE(crossing, 7);
    // The two levels are told apart where the old one was heard.
    EXPECT_GT(mix_level_value(31, bytes[FRAGMENT]) - mix_level_value(9, bytes[FRAGMENT]), 25);
    // The next fragment is at the new level from its first sample.
    const std::vector<uint8_t> next = mix();
    for (int i = 0; i < FRAGMENT; i++)
        ASSERT_EQ(next[(size_t)i], 128 + mix_level_value(9, bytes[(size_t)((2 * FRAGMENT + i) % 1000)]));
}

TEST_F(mixer_fixture, long_write_keeps_only_the_last_length_bytes_in_place)
{
    open(false);
    audio_voice* v = add(constant(32768, 0));
    std::vector<uint8_t> source(40000);
    for (size_t i = 0; i < source.size(); i++)
        source[i] = (uint8_t)(i * 13 % 256);
    voice_write(v, 40000, source.data(), 100);
    const uint8_t* data = v->data->bytes;
    for (int i = 40000 - 32768; i < 40000; i++)
        ASSERT_EQ(data[(100 + i) % 32768], source[(size_t)i]) << "source byte " << i;

    // A short write wraps at the end; a negative offset counts from it.
    const uint8_t four[4] = {1, 2, 3, 4};
    voice_write(v, 4, four, 32766);
    EXPECT_EQ(data[32766], 1);
    EXPECT_EQ(data[32767], 2);
    EXPECT_EQ(data[0], 3);
    EXPECT_EQ(data[1], 4);
    voice_write(v, 1, four + 3, -1);
    EXPECT_EQ(data[32767], 4);
    // A copy shares the written data.
    audio_voice* copy = voice_copy(v);
    voices.push_back(copy);
    EXPECT_EQ(copy->data, v->data);
    EXPECT_EQ(v->data->refs, 2);
}

TEST_F(mixer_fixture, finished_and_stopped_voices_leave_the_mix)
{
    open(false);
    audio_voice* once = add(constant(500, 200), false);
    voice_start(once);
    EXPECT_EQ(voice_position(once), 0);  // waiting to restart
    std::vector<uint8_t> out = mix();
    EXPECT_EQ(voice_position(once), FRAGMENT);
    EXPECT_TRUE(once->flags & voice_playing);
    out = mix();
    // 156 bytes were left, then silence.
    const int loud = 128 + mix_level_value(31, 200);
    for (int i = 0; i < FRAGMENT; i++)
        ASSERT_EQ(out[(size_t)i], i < 500 - FRAGMENT ? loud : 128) << "sample " << i;
    EXPECT_FALSE(once->flags & voice_playing);
    EXPECT_EQ(voice_position(once), 0);
    for (uint8_t s : mix())
        ASSERT_EQ(s, 128);

    // Started again it plays from the start; stopped, it is silent at once.
    voice_start(once);
    out = mix();
    EXPECT_EQ(out[0], loud);
    voice_stop(once);
    for (uint8_t s : mix())
        ASSERT_EQ(s, 128);
    EXPECT_EQ(voice_position(once), 0);
    EXPECT_FALSE(once->flags & voice_playing);
}

TEST_F(mixer_fixture, pan_places_a_stereo_voice_and_is_ignored_on_mono)
{
    open(true);
    audio_voice* v = add(constant(1000, 200));
    EXPECT_EQ(v->left_level, 15);
    EXPECT_EQ(v->right_level, 15);
    voice_set_pan(v, 32767);
    EXPECT_EQ(v->left_level, 0);
    EXPECT_EQ(v->right_level, 31);
    voice_start(v);
    std::vector<uint8_t> out = mix();
    ASSERT_EQ(out.size(), 2u * FRAGMENT);
    for (int i = 0; i < FRAGMENT; i++) {
        ASSERT_EQ(out[(size_t)(2 * i)], 128);
        ASSERT_EQ(out[(size_t)(2 * i + 1)], 128 + mix_level_value(31, 200));
    }
    // Panned back while playing it moves to the left at the next fragment;
    // the right side, now at level 0, falls silent but keeps its place.
    voice_set_pan(v, -32768);
    EXPECT_EQ(v->left_level, 31);
    EXPECT_EQ(v->right_level, 0);
    out = mix();
    EXPECT_EQ(out[0], 128 + mix_level_value(31, 200));
    EXPECT_EQ(out[1], 128);
    EXPECT_EQ(v->node[1].position, v->node[0].position);

    voices.clear();
    voice_destroy(v);
    mixer_free(&m);
    open(false);
    audio_voice* mono = add(constant(1000, 200));
    EXPECT_EQ(mono->pan, -32768);
    voice_set_pan(mono, 32767);
    EXPECT_EQ(mono->pan, -32768);
    EXPECT_EQ(mono->left_level, 31);
    voice_start(mono);
    for (uint8_t s : mix())
        ASSERT_EQ(s, 128 + mix_level_value(31, 200));
}

TEST_F(mixer_fixture, signed_output_clamps_and_scales)
{
    open(false, 16, sample_s16);
    for (int i = 0; i < 3; i++)
        voice_start(add(constant(1000, 255)));  // 3 * 122 is past the clamp
    mix();
    const int16_t* s = (const int16_t*)(const void*)m.output;
    ASSERT_EQ(m.output_bytes, 2 * FRAGMENT);
    for (int i = 0; i < FRAGMENT; i++)
        ASSERT_EQ(s[i], 127 * 256);
}

TEST_F(mixer_fixture, resampling_picks_the_nearest_earlier_sample)
{
    open(false);
    const std::vector<uint8_t> bytes = ramp(100);
    audio_voice* v = mixer_voice_create(&m, 100, bytes.data(), 11025);  // doubled
    voices.push_back(v);
    ASSERT_EQ(v->data->length, 200);
    for (int k = 0; k < 200; k++)
        ASSERT_EQ(v->data->bytes[k], bytes[(size_t)(k / 2)]);
    audio_voice* down = mixer_voice_create(&m, 100, bytes.data(), 44100);
    voices.push_back(down);
    ASSERT_EQ(down->data->length, 50);
    EXPECT_EQ(down->data->bytes[49], bytes[98]);
    EXPECT_EQ(v->rate, RATE);
    EXPECT_EQ(v->volume, 32767);
    EXPECT_EQ(mixer_voice_create(&m, 0, bytes.data(), 0), nullptr);
}

// The real-time output mixes on its own thread while the game changes the
// voices: the audio lock keeps every voice whole (run under ThreadSanitizer
// to see it).
TEST_F(mixer_fixture, voice_operations_race_safely_with_the_mixing_thread)
{
    open(true);
    std::atomic<bool> stop{false};
    std::thread mixing([&] {
        while (!stop)
            mix_fragment(&m);
    });
    const std::vector<uint8_t> bytes = sine(2000, 50, 100);
    for (int round = 0; round < 300; round++) {
        audio_voice* v = mixer_voice_create(&m, 2000, bytes.data(), 0);
        ASSERT_NE(v, nullptr);
        voice_set_loop(v, round % 2 == 0);
        voice_start(v);
        voice_set_volume(v, round * 97 % 32768);
        voice_set_pan(v, round * 211 % 65536 - 32768);
        voice_set_rate(v, 11025 + round * 50);
        voice_write(v, 500, bytes.data(), round);
        audio_voice* copy = voice_copy(v);
        voice_start(copy);
        (void)voice_position(v);
        voice_stop(copy);
        voice_destroy(copy);
        voice_destroy(v);
    }
    stop = true;
    mixing.join();
    EXPECT_EQ(m.voices, 0);
    for (const auto& channel : m.lists)
        for (mix_node* head : channel)
            EXPECT_EQ(head, nullptr);
}

}  // namespace
