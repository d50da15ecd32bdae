// Engine sound synthesis through the real readers and the default data:
// the pitch follows a simulated engine, load makes it louder, the frame
// cap, the spatial settings, the table and ".braap" readers and their
// failures.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "../bike/ride_world_util.h"
#include "audio/engine_sound.h"
#include "bike/drivetrain.h"
#include "core/console.h"
#include "core/messages.h"
#include "files/datafs.h"
#include "test_support.h"

namespace {

// The build's default data, with a private home directory in front of it
// for the files a test writes.
struct data_env {
    test::temp_dir xdg;
    test::scoped_env env_xdg{"XDG_DATA_HOME", xdg.path.c_str()};
    test::scoped_env env_kz{"KZ_HOME", test::build_data_dir().c_str()};
    std::string home = xdg.path + "/Kessrig";
    data_env() { refresh(); }
    ~data_env()
    {
        engine_sound_free_tables();
        free_file_index();
    }
    void refresh()
    {
        engine_sound_free_tables();
        free_file_index();
        build_file_index();
        clear_messages();
        g_messages.max_visible = 10;
    }
    void write(const std::string& name, const std::string& bytes) { test::write_file(home + "/" + name, bytes); }
};

std::vector<std::string> messages()
{
    std::vector<std::string> out;
    for (int i = 0; visible_message(i); i++)
        out.insert(out.begin(), visible_message(i));
    return out;
}

// The period (in samples) of x by normalised autocorrelation: past the
// lobe around lag 0, the shortest lag whose correlation peaks within 10%
// of the best (multiples of the period correlate as well).
double pitch_period(const std::vector<float>& x, int max_lag)
{
    std::vector<double> r((size_t)max_lag + 1, 0.0);
    const int n = (int)x.size() - max_lag;
    double best = 0;
    int first = max_lag;  // the first lag past the lobe around 0
    for (int lag = 1; lag <= max_lag; lag++) {
        double xy = 0, xx = 0, yy = 0;
        for (int i = 0; i < n; i++) {
            xy += (double)x[i] * x[i + lag];
            xx += (double)x[i] * x[i];
            yy += (double)x[i + lag] * x[i + lag];
        }
        r[(size_t)lag] = xx > 0 && yy > 0 ? xy / std::sqrt(xx * yy) : 0;
        if (r[(size_t)lag] < 0 && first == max_lag)
            first = lag;
        if (lag > first)
            best = std::fmax(best, r[(size_t)lag]);
    }
    for (int lag = first + 1; lag < max_lag; lag++) {
        if (r[(size_t)lag] >= 0.9 * best && r[(size_t)lag] >= r[(size_t)lag - 1] && r[(size_t)lag] >= r[(size_t)lag + 1])
            return lag;
    }
    return 0;
}

double rms(const std::vector<float>& x)
{
    double s = 0;
    for (float v : x)
        s += (double)v * v;
    return x.empty() ? 0 : std::sqrt(s / x.size());
}

// count samples rendered in frames of about a tick, appended to out.
void render_into(engine_sound* s, float rpm, float torque, int count, std::vector<float>* out)
{
    while (count > 0) {
        const int n = count < 345 ? count : 345;
        engine_sound_render(s, rpm, torque, n);
        for (int k = 0; k < n; k++)
            out->push_back(s->bytes[k] / 127.0f - 1.0f);
        count -= n;
    }
}

TEST(EngineSound, RevvingBikeSoundsAtItsFiringFrequencyAndOpenThrottleIsLouder)
{
    data_env env;
    ride_world rw;
    rw.take_ground(&rw.ground());
    bike* b = rw.add_bare_bike("450sxf(2018)", 128.0f, 128.0f, 0.0f);
    ASSERT_NE(b, nullptr);
    auto s = std::make_unique<engine_sound>();
    engine_sound_init(s.get(), b, nullptr);
    EXPECT_TRUE(messages().empty());
    ASSERT_STREQ(s->table->name, "@engine/four_stroke.table");
    EXPECT_EQ(s->cycles_per_rev, 0.5f);

    // Clutch pulled, the throttle opened and then eased: two engine speeds
    // a good way apart. (At low speeds the pipe's own resonance,
    // not the firing, dominates the correlation, so the steps are high.) A frame of sound follows every tick.
    const float throttles[] = {0.45f, 0.27f};
    std::vector<double> periods, expected;
    for (float throttle : throttles) {
        std::vector<float> tail;
        double rpm_sum = 0;
        int rpm_count = 0;
        for (int t = 0; t < 256; t++) {
            rw.tick([&](int, const bike*) {
                control_input c;
                c.throttle = throttle;
                c.clutch = 0;
                c.front_brake = 1;
                c.rear_brake = 1;
                return c;
            });
            const int n = t % 2 ? 344 : 345;
            std::vector<float> frame;
            render_into(s.get(), engine_rpm(b), engine_torque(b), n, &frame);
            if (t >= 160) {
                tail.insert(tail.end(), frame.begin(), frame.end());
                rpm_sum += engine_rpm(b);
                rpm_count++;
            }
        }
        const double rpm = std::fmax(rpm_sum / rpm_count, s->min_rpm);
        const double cycle = SOUND_RATE * 60.0 / (s->cycles_per_rev * rpm);
        periods.push_back(pitch_period(tail, 3000));
        expected.push_back(cycle);
        EXPECT_NEAR(periods.back(), cycle, cycle * 0.1) << "throttle " << throttle << " rpm " << rpm;
    }
    for (size_t i = 1; i < periods.size(); i++) {
        // The engine speeds differ, and the pitch moves with them.
        EXPECT_GT(std::fabs(expected[i - 1] / expected[i] - 1), 0.1);
        EXPECT_EQ(periods[i - 1] < periods[i], expected[i - 1] < expected[i]);
    }

    // The same engine speed under drive and on the overrun.
    engine_sound open = *s, closed = *s;
    std::vector<float> loud, quiet;
    render_into(&open, 6000, open.high_torque, SOUND_RATE, &loud);
    render_into(&closed, 6000, closed.low_torque, SOUND_RATE, &quiet);
    EXPECT_GT(rms(loud), 2.0 * rms(quiet));
    EXPECT_GT(rms(quiet), 0.005);
}

TEST(EngineSound, FramesAreCappedAndCatchUpAndSpatialSettingsFollowTheListener)
{
    auto s = std::make_unique<engine_sound>();
    engine_sound_init(s.get(), nullptr, nullptr);
    EXPECT_EQ(s->write_pos, 11025);
    // Playback 0.43 s ahead of the writing (a long frame): 8820 at a time.
    const int play = 30000;
    int total = 0;
    for (int frame = 0; frame < 4; frame++) {
        const int n = engine_sound_due(s.get(), play);
        total += n;
        EXPECT_LE(n, SOUND_MAX_FRAME);
        engine_sound_render(s.get(), 3000, 0, n);
    }
    EXPECT_EQ(total, (play + SOUND_LEAD - 11025) % SOUND_RING);
    EXPECT_EQ(s->write_pos, (play + SOUND_LEAD) % SOUND_RING);
    EXPECT_EQ(engine_sound_due(s.get(), play), 0);

    sound_listener l;
    l.right = {1, 0, 0};
    // At the listener: no shift, no pan, full volume.
    sound_spatial sp = engine_sound_spatial({0, 0, 0}, {50, 0, 0}, l, 1.0f);
    EXPECT_EQ(sp.rate, 44100);
    EXPECT_EQ(sp.pan, 0);
    EXPECT_EQ(sp.volume, 32767);
    // On the listener's right, 49 ft away: panned right, half volume.
    sp = engine_sound_spatial({49, 0, 0}, {0, 0, 0}, l, 1.0f);
    EXPECT_EQ(sp.pan, 32767);
    EXPECT_EQ(sp.volume, 16384);
    sp = engine_sound_spatial({-10, 0, 0}, {0, 0, 0}, l, 0.5f);
    EXPECT_EQ(sp.pan, -32767);
    // Approaching at a tenth of the speed of sound: 1 / 0.9 higher.
    sp = engine_sound_spatial({0, 0, -100}, {0, 0, SPEED_OF_SOUND * 0.1f}, l, 1.0f);
    EXPECT_NEAR(sp.rate, 44100 / 0.9, 2);
    // Faster than sound, and the numerator past eight times the denominator.
    EXPECT_EQ(engine_sound_spatial({0, 0, -100}, {0, 0, SPEED_OF_SOUND * 1.5f}, l, 1.0f).rate, 5513);
    EXPECT_EQ(engine_sound_spatial({0, 0, -100}, {0, 0, SPEED_OF_SOUND * 0.9f}, l, 1.0f).rate, 5513);
}

// A raw sample file of n samples of a ramp, and the values it reads back as.
std::string ramp_samples(int n, std::vector<float>* values)
{
    std::string bytes;
    for (int i = 0; i < n; i++) {
        const int16_t v = (int16_t)((i * 37) % 20000 - 10000);
        bytes += (char)(v & 0xff);
        bytes += (char)((uint16_t)v >> 8);
        values->push_back(v / 32768.0f);
    }
    return bytes;
}

TEST(EngineSound, OneCellTablePlaysItsSampleAtFullWeight)
{
    data_env env;
    std::vector<float> ramp;
    env.write("ramp.raw", ramp_samples(4410, &ramp) + "x");  // the odd byte is ignored
    env.write("one.table", "SOUNDTABLE 1 1\n3000\n0.5\n-1 1.0 @ramp.raw\n");
    env.write("one.braap", "soundtable  @one.table  \n");
    // A period count that rounds to 0 and remap entries far outside it.
    env.write("odd.table", "SOUNDTABLE 1 1\n3000\n0.5\n-7 9 -1 0.2 @ramp.raw\n");
    env.write("odd.braap", "soundtable @odd.table\nminrpm 20000\n");
    env.refresh();

    auto s = std::make_unique<engine_sound>();
    engine_sound_init(s.get(), nullptr, "@one.png");
    ASSERT_STREQ(s->table->name, "@one.table");
    EXPECT_TRUE(messages().empty());
    // 1200 rpm four-stroke: 10 cycles a second, 4410 samples each, so a
    // grain steps one sample per sample and the ring holds the ramp.
    engine_sound_render(s.get(), 1200, 0, 5000);
    engine_sound_render(s.get(), 1200, 0, 4000);
    EXPECT_EQ(s->grains[0].weight, 0.0f);
    EXPECT_EQ(s->grains[3].weight, 1.0f);
    EXPECT_EQ(s->grains[3].step, 1024);
    const int start = (int)s->grains[3].pos / 1024;
    engine_sound_render(s.get(), 1200, 0, 100);
    for (int k = 0; k < 100; k++)
        ASSERT_FLOAT_EQ(s->history[(s->write_pos - 100 + k) & (SOUND_RING - 1)], ramp[(size_t)(start + k)]) << k;

    engine_sound_init(s.get(), nullptr, "@odd.png");
    ASSERT_STREQ(s->table->name, "@odd.table");
    EXPECT_EQ(s->table->cells[0].periods, 1);
    EXPECT_EQ(s->table->cells[0].remap[0], 0);
    // Fast cycles over a long sample: every read stays inside it.
    for (int f = 0; f < 20; f++)
        engine_sound_render(s.get(), 20000, 0, SOUND_MAX_FRAME);
    for (const sound_grain& g : s->grains)
        EXPECT_LE(g.pos / 1024, (int64_t)g.sample_count + g.step / 1024);
}

TEST(EngineSound, BraapFileIsFoundFromTheGraphicsNameThenTheClass)
{
    char out[64];
    ASSERT_TRUE(braap_name("@a.b/model-red-x.png", true, out, sizeof out));
    EXPECT_STREQ(out, "@a.b/model-red-x.braap");
    char shorter[64];
    ASSERT_TRUE(braap_name(out, false, shorter, sizeof shorter));
    EXPECT_STREQ(shorter, "@a.b/model-red.braap");
    EXPECT_FALSE(braap_name("@a-b/model", true, out, sizeof out));
    EXPECT_FALSE(braap_name("@a-b/model.braap", false, out, sizeof out));

    data_env env;
    ride_world rw;
    rw.take_ground(&rw.ground());
    bike* b = rw.add_bare_bike("450sxf(2018)", 128.0f, 128.0f, 0.0f);
    ASSERT_NE(b, nullptr);
    auto s = std::make_unique<engine_sound>();
    env.write("model-colour.braap", "minrpm 111\n");
    env.write("model.braap", "minrpm 222\n");
    env.refresh();
    engine_sound_init(s.get(), b, "@model-colour.png");
    EXPECT_EQ(s->min_rpm, 111);
    // The file resets the pipe to silence before its lines.
    EXPECT_EQ(s->tap_gain[0], 0.0f);
    std::remove((env.home + "/model-colour.braap").c_str());
    env.refresh();
    engine_sound_init(s.get(), b, "@model-colour.png");
    EXPECT_EQ(s->min_rpm, 222);
    std::remove((env.home + "/model.braap").c_str());
    env.refresh();
    engine_sound_init(s.get(), b, "@model-colour.png");
    EXPECT_EQ(s->min_rpm, 1200);  // "@default450f.braap"
    EXPECT_STREQ(s->table->name, "@engine/four_stroke.table");

    // "pipe" with no values on a 450f restores the four-stroke pipe.
    engine_sound four;
    engine_sound_init(&four, nullptr, nullptr);
    console_context c;
    c.watched_bike = b;
    c.watched_sound = s.get();
    EXPECT_TRUE(run_console_line("/pipe", c));
    EXPECT_STREQ(visible_message(0), "Pipe updated");
    for (int t = 0; t < PIPE_TAPS; t++) {
        EXPECT_EQ(s->tap_delay[t], four.tap_delay[t]) << t;
        EXPECT_EQ(s->tap_gain[t], four.tap_gain[t]) << t;
    }
    EXPECT_EQ(four.tap_delay[0], 386);
}

TEST(EngineSound, BrokenTablesAreReportedAndLeaveTheTableAsItWas)
{
    data_env env;
    std::vector<float> ramp;
    env.write("ok.raw", ramp_samples(100, &ramp));
    env.write("empty.raw", "");
    env.write("remap.table", "SOUNDTABLE 1 2\n1000\n0 1\n-1 1 @ok.raw\n3 x -1 1 @ok.raw\n");
    env.write("missing.table", "SOUNDTABLE 1 1\n1000\n0\n-1 1 @nowhere.raw\n");
    env.write("empty.table", "SOUNDTABLE 1 1\n1000\n0\n-1 1 @empty.raw\n");
    env.write("huge.table", "SOUNDTABLE 100000 100000\n");
    env.write("nan.table", "SOUNDTABLE 1 1\nnan\n0\n-1 1 @ok.raw\n");
    env.write("short.table", "SOUNDTABLE 2 1\n1000 2000\n0\n-1 1 @ok.raw\n-1 1\n");
    env.refresh();
    struct broken {
        const char* table;
        std::vector<std::string> said;
    };
    const broken cases[] = {
        {"@remap.table", {"(0, 1) Bad remap entry", "Error reading '@remap.table'"}},
        {"@missing.table", {"(0, 0) Error reading '@nowhere.raw'", "Error reading '@missing.table'"}},
        {"@empty.table", {"(0, 0) Error reading '@empty.raw'", "Error reading '@empty.table'"}},
        {"@huge.table", {"Error reading '@huge.table'"}},
        {"@nan.table", {"Error reading '@nan.table'"}},
        {"@short.table", {"(1, 0) Error reading ''", "Error reading '@short.table'"}},
        {"@absent.table", {"Error reading '@absent.table'"}},
    };
    for (const broken& c : cases) {
        auto s = std::make_unique<engine_sound>();
        engine_sound_init(s.get(), nullptr, nullptr);
        const sound_table* before = s->table;
        clear_messages();
        std::string line = std::string("soundtable ") + c.table + "\n";
        env.write("try.braap", line + "minrpm 1500\n");
        env.refresh();
        engine_sound_init(s.get(), nullptr, "@try.png");
        EXPECT_EQ(s->table, before) << c.table;
        EXPECT_EQ(s->min_rpm, 1500) << c.table;
        EXPECT_EQ(messages(), c.said) << c.table;
        engine_sound_render(s.get(), 5000, 0, 1000);
    }
    // Hostile ".braap" values change nothing.
    env.write("hostile.braap", "minrpm nan\npipe inf\nhightorque 1e999\nbias 1 2 nan 3\nscale\n");
    env.refresh();
    auto s = std::make_unique<engine_sound>();
    engine_sound_init(s.get(), nullptr, "@hostile.png");
    EXPECT_EQ(s->min_rpm, 1000);
    EXPECT_EQ(s->high_torque, 2.5f);
    EXPECT_EQ(s->bias_count, 2);
    EXPECT_EQ(s->scale_count, 1);
    EXPECT_EQ(s->scale[0], 1.0f);
}

TEST(EngineSoundData, EveryClassLoadsItsOwnTableWithoutMessages)
{
    data_env env;
    for (const char* cls : {"50", "125", "250", "250f", "450f"}) {
        const char* name = class_braap_name(cls);
        ASSERT_NE(name, nullptr) << cls;
        data_stream* stream = open_data_file(name, "rb");
        ASSERT_NE(stream, nullptr) << name;
        auto s = std::make_unique<engine_sound>();
        engine_sound_init(s.get(), nullptr, nullptr);
        read_braap(s.get(), stream);
        close_data_file(stream);
        EXPECT_TRUE(messages().empty()) << name << ": " << (visible_message(0) ? visible_message(0) : "");
        ASSERT_NE(s->table, builtin_sound_table(true)) << name;
        ASSERT_NE(s->table, builtin_sound_table(false)) << name;
        EXPECT_GE(s->table->rows, 3) << name;
        EXPECT_EQ(s->table->cols, 2) << name;
        for (int i = 0; i < s->table->rows * s->table->cols; i++)
            EXPECT_GT(s->table->cells[i].sample_count, 500) << name << " cell " << i;
        EXPECT_LT(s->low_torque, s->high_torque) << name;
        EXPECT_NE(s->tap_gain[0], 0.0f) << name;
    }
}

}  // namespace
