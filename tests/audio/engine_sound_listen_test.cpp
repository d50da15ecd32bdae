// What a listener hears of a 450 four-stroke: its engine sound set up on
// an audio device the way the game sets it up for a real bike, updated
// every 1/30 s frame and mixed tick by tick, then measured on the mixed
// output: the firing frequency, the loudness under load, the Doppler shift
// of an approaching bike and the pan of a bike to one side.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

#include "../bike/ride_world_util.h"
#include "audio/audio_device.h"
#include "audio/engine_sound.h"
#include "bike/drivetrain.h"
#include "files/datafs.h"
#include "race/race.h"
#include "test_support.h"

namespace {

// The rate and tick the game records its sound at: 690 samples a tick,
// 128 ticks a second.
constexpr int OUT_RATE = 88320;
constexpr int OUT_TICK = 690;
constexpr int FRAMES_PER_SECOND = 30;
// The first frames fill the voice's lead and overwrite the silence it
// was created with; listening starts after them.
constexpr double SETTLE_SECONDS = 0.5;
constexpr double LISTEN_SECONDS = 2.0;

struct data_env {
    test::scoped_env env_kz{"KZ_HOME", test::build_data_dir().c_str()};
    data_env()
    {
        engine_sound_free_tables();
        free_file_index();
        build_file_index();
    }
    ~data_env()
    {
        engine_sound_free_tables();
        free_file_index();
    }
};

// A readback device of the game's kind, mono or stereo.
struct device {
    audio_device d;
    explicit device(bool stereo)
    {
        d.kind = audio_readback;
        EXPECT_TRUE(mixer_init(&d.mix, OUT_RATE, stereo, sample_s16, OUT_TICK, 16));
    }
    ~device() { mixer_free(&d.mix); }
};

// The engine held at a speed and throttle: the bike is not ticked, so the
// engine speed and the torque the update reads stay as set.
void hold_engine(bike* b, float rpm, float throttle)
{
    b->engine_speed = (float)(rpm / ENGINE_RPM_PER_RAD_S);
    b->throttle = throttle;
}

// The mixed output per channel, from SETTLE_SECONDS on for LISTEN_SECONDS.
struct heard {
    std::vector<float> channel[2];
};

// The bike's engine sound as the game plays it: set up on the device, then
// every frame its update, followed by the device's ticks of that frame.
heard listen(device& dev, bike* b, const sound_listener& listener)
{
    auto s = std::make_unique<engine_sound>();
    engine_sound_setup(s.get(), b, nullptr, &dev.d);
    EXPECT_NE(s->voice, nullptr);
    heard out;
    const int channels = dev.d.mix.stereo ? 2 : 1;
    const long settle = std::lround(SETTLE_SECONDS * OUT_RATE);
    const long wanted = settle + std::lround(LISTEN_SECONDS * OUT_RATE);
    long ticks = 0, samples = 0;
    for (int f = 0; samples < wanted; f++) {
        engine_sound_update(s.get(), b, 1.0f, listener);
        const long due = (long)(f + 1) * RACE_TICKS_PER_SECOND / FRAMES_PER_SECOND;
        for (; ticks < due; ticks++) {
            const int16_t* block = render_block(&dev.d);
            for (int i = 0; i < OUT_TICK; i++, samples++) {
                if (samples < settle || samples >= wanted)
                    continue;
                for (int c = 0; c < channels; c++)
                    out.channel[c].push_back(block[i * channels + c] / 32768.0f);
            }
        }
    }
    engine_sound_release(s.get());
    return out;
}

double rms(const std::vector<float>& x)
{
    double sum = 0;
    for (float v : x)
        sum += (double)v * v;
    return x.empty() ? 0 : std::sqrt(sum / (double)x.size());
}

// The dominant repetition frequency of x (at OUT_RATE) anywhere from 15 to
// 1000 Hz, by normalised autocorrelation of the signal averaged down to a
// quarter of the rate. Multiples of the period correlate about as well as
// the period itself, so of the correlation peaks the shortest lag within
// 10% of the best is the period; a ringing resonance inside each cycle
// makes short-lag peaks of its own, and wins when it rings on long enough
// to correlate as well as the firing does.
double dominant_frequency(const std::vector<float>& x)
{
    constexpr int DECIMATE = 4;
    constexpr double RATE = (double)OUT_RATE / DECIMATE;
    std::vector<double> y(x.size() / DECIMATE);
    double mean = 0;
    for (size_t i = 0; i < y.size(); i++) {
        double s = 0;
        for (int k = 0; k < DECIMATE; k++)
            s += x[i * DECIMATE + (size_t)k];
        y[i] = s / DECIMATE;
        mean += y[i];
    }
    mean /= (double)y.size();
    for (double& v : y)
        v -= mean;
    const int min_lag = (int)(RATE / 1000), max_lag = (int)(RATE / 15);
    const int n = (int)y.size() - max_lag - 1;
    std::vector<double> r((size_t)max_lag + 2, 0.0);
    for (int lag = min_lag - 1; lag <= max_lag + 1; lag++) {
        double xy = 0, xx = 0, yy = 0;
        for (int i = 0; i < n; i++) {
            xy += y[(size_t)i] * y[(size_t)(i + lag)];
            xx += y[(size_t)i] * y[(size_t)i];
            yy += y[(size_t)(i + lag)] * y[(size_t)(i + lag)];
        }
        r[(size_t)lag] = xx > 0 && yy > 0 ? xy / std::sqrt(xx * yy) : 0;
    }
    auto is_peak = [&](int lag) {
        return r[(size_t)lag] > 0 && r[(size_t)lag] >= r[(size_t)lag - 1] && r[(size_t)lag] >= r[(size_t)lag + 1];
    };
    double best = 0;
    for (int lag = min_lag; lag <= max_lag; lag++) {
        if (is_peak(lag))
            best = std::fmax(best, r[(size_t)lag]);
    }
    for (int lag = min_lag; lag <= max_lag; lag++) {
        if (!is_peak(lag) || r[(size_t)lag] < 0.9 * best)
            continue;
        // The peak between samples, from the parabola through its neighbours.
        const double a = r[(size_t)lag - 1], m = r[(size_t)lag], c = r[(size_t)lag + 1];
        const double d = a - 2 * m + c;
        const double offset = d < 0 ? 0.5 * (a - c) / d : 0;
        return RATE / (lag + offset);
    }
    return 0;
}

struct bike_env {
    data_env data;
    ride_world rw;
    bike* b = nullptr;
    bike_env()
    {
        rw.take_ground(&rw.ground());
        b = rw.add_bare_bike("450sxf(2018)", 128.0f, 128.0f, 0.0f);
    }
    // A listener on the bike itself: no shift, no pan, full volume.
    sound_listener on_bike() const
    {
        sound_listener l;
        l.position = bike_frame_position(b);
        return l;
    }
    void set_velocity(vec3 v) { dBodySetLinearVel(b->bodies[body_frame], v.x, v.y, v.z); }
};

TEST(EngineSoundListen, FourStrokeFiresAtHalfTheEngineSpeedAndOpenThrottleIsLouder)
{
    bike_env env;
    ASSERT_NE(env.b, nullptr);
    ASSERT_STREQ(bike_class(env.b), "450f");
    device mono(false);
    {
        // The default data's sound for the class, not the built-in one.
        auto probe = std::make_unique<engine_sound>();
        engine_sound_init(probe.get(), env.b, nullptr);
        ASSERT_STREQ(probe->table->name, "@engine/four_stroke.table");
        ASSERT_EQ(probe->cycles_per_rev, 0.5f);
        ASSERT_EQ(probe->min_rpm, 1200.0f);
    }
    for (float rpm : {3000.0f, 9000.0f}) {
        const double firing = rpm * 0.5 / 60;
        double level[2] = {};
        for (int open = 0; open < 2; open++) {
            hold_engine(env.b, rpm, open ? 1.0f : 0.0f);
            const heard h = listen(mono, env.b, env.on_bike());
            const double f = dominant_frequency(h.channel[0]);
            level[open] = rms(h.channel[0]);
            printf("%4.0f rpm, throttle %s (torque %.2f): %.2f Hz (firing %.2f Hz), rms %.4f\n", rpm,
                   open ? "open  " : "closed", engine_torque(env.b), f, firing, level[open]);
            EXPECT_NEAR(f, firing, firing * 0.02) << rpm << " rpm, throttle " << open;
        }
        EXPECT_GT(level[1], 1.5 * level[0]) << rpm << " rpm";
        EXPECT_GT(level[0], 0.005) << rpm << " rpm";
    }
}

TEST(EngineSoundListen, ApproachingBikeSoundsHigherByTheDopplerRatio)
{
    bike_env env;
    ASSERT_NE(env.b, nullptr);
    device mono(false);
    hold_engine(env.b, 9000, 1.0f);
    // The listener 30 ft ahead of the bike, which either stands or comes on
    // at 90 ft/s (about 60 mph).
    sound_listener l;
    const vec3 at = bike_frame_position(env.b);
    l.position = {at.x, at.y, at.z - 30};
    const float speed = 90;
    env.set_velocity({0, 0, 0});
    const double standing = dominant_frequency(listen(mono, env.b, l).channel[0]);
    env.set_velocity({0, 0, -speed});
    const double approaching = dominant_frequency(listen(mono, env.b, l).channel[0]);
    const sound_spatial sp = engine_sound_spatial(at, {0, 0, -speed}, l, 1.0f);
    const double predicted = (double)sp.rate / SOUND_RATE;
    printf("standing %.2f Hz, approaching %.2f Hz: ratio %.4f, predicted %.4f\n", standing, approaching,
           approaching / standing, predicted);
    EXPECT_NEAR(predicted, 1 / (1 - speed / SPEED_OF_SOUND), 1e-4);
    EXPECT_NEAR(standing, 75.0, 75.0 * 0.02);
    EXPECT_NEAR(approaching / standing, predicted, 0.01);
}

TEST(EngineSoundListen, BikeToOneSideIsLouderOnThatSide)
{
    bike_env env;
    ASSERT_NE(env.b, nullptr);
    device stereo(true);
    hold_engine(env.b, 6000, 1.0f);
    const vec3 at = bike_frame_position(env.b);
    // The listener faces -z with +x on the right, 20 ft behind the bike and
    // 20 ft to one side of it.
    for (int side : {1, -1}) {
        sound_listener l;
        l.right = {1, 0, 0};
        l.position = {at.x - side * 20.0f, at.y, at.z + 20};
        const heard h = listen(stereo, env.b, l);
        const double left = rms(h.channel[0]), right = rms(h.channel[1]);
        printf("bike on the %s: left rms %.4f, right rms %.4f\n", side > 0 ? "right" : "left", left, right);
        const double near_side = side > 0 ? right : left, far_side = side > 0 ? left : right;
        EXPECT_GT(far_side, 0.002) << side;
        EXPECT_GT(near_side, 2 * far_side) << side;
    }
}

}  // namespace
