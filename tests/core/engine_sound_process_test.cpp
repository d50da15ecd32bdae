// The engine sound as the game plays it, read back from what it wrote.
//
// A demo of one scripted rider (so the watched bike is beyond doubt) is
// played by the real game with "--record-audio" beside "--record-video
// --print-orientation". The same demo is played here, headless, for the
// watched engine's speed at every world tick; the recording's pitch over
// short windows must follow that speed: the firing rate is the engine
// speed times the firings per revolution (a four-stroke fires every other
// revolution). The rider view carries the listener with the bike, so the
// pitch is not shifted by the motion.
//
// The second test plays the same demo through the real-time device on
// SDL's disk driver, which stands in for a sound card: the file it writes
// holds an engine note, not silence.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "bike/bike.h"
#include "bike/drivetrain.h"
#include "game_world_util.h"
#include "test_support.h"
#include "race/demo.h"

namespace {

const int TICKS_PER_SECOND = 128;
const int RECORD_RATE = 88320;          // the recording's samples per second
const int TICK_SAMPLES = RECORD_RATE / TICKS_PER_SECOND;  // 690: 1380 bytes
// The synthesis runs this far ahead of what is heard (4410 samples of the
// engine's 44100 a second): the sound of a tick was made from the engine
// speed a tenth of a second earlier.
const double SOUND_LEAD_SECONDS = 0.1;

std::vector<double> read_samples(const std::string& raw)
{
    std::vector<double> out(raw.size() / 2);
    for (size_t i = 0; i < out.size(); i++) {
        int16_t s;
        memcpy(&s, raw.data() + 2 * i, 2);
        out[i] = s;
    }
    return out;
}

// The printed world time before every frame of a "--record-video
// --print-orientation" stream, in ticks; empty when the stream is not
// whole lines and whole pictures.
std::vector<long> frame_ticks(const std::string& video)
{
    std::vector<long> ticks;
    long pending = -1;
    size_t at = 0;
    while (at < video.size()) {
        if (video.compare(at, 2, "t=") == 0) {
            const size_t end = video.find('\n', at);
            if (end == std::string::npos)
                return {};
            pending = std::lround(atof(video.c_str() + at + 2) * TICKS_PER_SECOND);
            at = end + 1;
            continue;
        }
        int w = 0, h = 0, max = 0, used = 0;
        if (sscanf(video.c_str() + at, "P6\n%d %d\n%d\n%n", &w, &h, &max, &used) != 3 || used == 0 || max != 255)
            return {};
        at += (size_t)used + (size_t)w * h * 3;
        if (at > video.size() || pending < 0)
            return {};
        ticks.push_back(pending);
        pending = -1;
    }
    return ticks;
}

// The dominant period of x (a window of n samples at rate, with max_lag
// more samples after it) by normalised autocorrelation over every lag
// from rate / hi_hz to rate / lo_hz. The strongest peak can be a multiple
// of the period (cycles alike two by two); a peak at a whole fraction of
// it that is nearly as strong is the period. Returns the frequency, 0 when
// nothing repeats.
double dominant_frequency(const double* x, int n, double rate, double lo_hz, double hi_hz, double* strength)
{
    const int min_lag = (int)std::floor(rate / hi_hz), max_lag = (int)std::ceil(rate / lo_hz);
    std::vector<double> r((size_t)max_lag + 2, 0.0);
    double e0 = 0;
    for (int i = 0; i < n; i++)
        e0 += x[i] * x[i];
    for (int lag = min_lag - 1; lag <= max_lag + 1; lag++) {
        double xy = 0, e1 = 0;
        for (int i = 0; i < n; i++) {
            xy += x[i] * x[i + lag];
            e1 += x[i + lag] * x[i + lag];
        }
        r[(size_t)lag] = e0 > 0 && e1 > 0 ? xy / std::sqrt(e0 * e1) : 0;
    }
    auto is_peak = [&](int lag) { return r[(size_t)lag] >= r[(size_t)lag - 1] && r[(size_t)lag] >= r[(size_t)lag + 1]; };
    int best = -1;
    for (int lag = min_lag; lag <= max_lag; lag++)
        if (is_peak(lag) && (best < 0 || r[(size_t)lag] > r[(size_t)best]))
            best = lag;
    if (best < 0 || r[(size_t)best] <= 0.2) {
        *strength = best < 0 ? 0 : r[(size_t)best];
        return 0;
    }
    // The shortest whole fraction of the best lag that peaks nearly as high.
    int chosen = best;
    for (int k = 2; best / k >= min_lag; k++) {
        const int centre = (int)std::lround((double)best / k);
        const int span = std::max(1, centre / 40);
        int peak = -1;
        for (int lag = std::max(min_lag, centre - span); lag <= std::min(max_lag, centre + span); lag++)
            if (is_peak(lag) && (peak < 0 || r[(size_t)lag] > r[(size_t)peak]))
                peak = lag;
        if (peak >= 0 && r[(size_t)peak] >= 0.85 * r[(size_t)best])
            chosen = peak;
    }
    *strength = r[(size_t)chosen];
    // Between samples: the vertex of the parabola through the peak.
    const double a = r[(size_t)chosen - 1], b = r[(size_t)chosen], c = r[(size_t)chosen + 1];
    const double den = a - 2 * b + c;
    const double shift = den < 0 ? 0.5 * (a - c) / den : 0;
    return rate / (chosen + shift);
}

class EngineSoundProcess : public game_world_test {
protected:
    // A demo of one scripted rider, recorded by kessrig-sim.
    std::string record_demo()
    {
        const std::string data = test::build_data_dir();
        const std::string demo = dirs.root / "scripted1.kzdemo";
        const std::string cmd = "XDG_DATA_HOME='" + dirs.root.path + "' KZ_HOME='" + data + "' '" + data +
                                "/kessrig-sim' race --scripted 1 --laps 1 --record '" + demo + "' >'" +
                                (dirs.root / "sim.txt") + "' 2>&1";
        EXPECT_EQ(system(cmd.c_str()), 0) << test::read_file(dirs.root / "sim.txt");
        return demo;
    }

    // Plays the demo here as the game would, without pictures or sound:
    // the engine speed of its only rider after every tick, by world tick.
    void engine_speeds(const std::string& demo, int seconds, std::map<long, double>* rpm, std::string* cls)
    {
        int lineup[RACE_SLOTS];
        race_default_lineup(lineup, true);
        ASSERT_TRUE(world_reset(w, lineup, demo.c_str(), false, 0, 1000, 0));
        ASSERT_TRUE(demo_playing(w));
        int slot = -1;
        for (int i = 0; i < RACE_SLOTS; i++) {
            if (w->race.slots[i].b) {
                ASSERT_EQ(slot, -1) << "more than one rider";
                slot = i;
            }
        }
        ASSERT_GE(slot, 0);
        *cls = bike_class(w->race.slots[slot].b);
        const long end = w->race.tick + (long)seconds * TICKS_PER_SECOND;
        while (w->race.tick < end) {
            world_tick(w);
            (*rpm)[w->race.tick] = engine_rpm(w->race.slots[slot].b);
        }
    }
};

// Esc puts the greeting menu away (it would quieten the ride); skips pass
// the wait at the starting gate, and later a stretch of steady cruising
// for the turns and jumps, where the engine speed rises and falls.
const int FIRST_SKIP_FRAME = 2, FIRST_SKIP = 12;     // to the gate, before it drops
const int SECOND_SKIP_FRAME = 240, SECOND_SKIP = 8;  // past the first straight
const int CLOSE_FRAME = 660;

std::string ride_script()
{
    std::string s = "1 esc 1\n1 esc 0\n";
    auto skips = [&s](int from, int seconds) {
        for (int f = from; f < from + seconds; f++)
            s += std::to_string(f) + " / 1\n" + std::to_string(f) + " / 0\n";
    };
    skips(FIRST_SKIP_FRAME, FIRST_SKIP);
    skips(SECOND_SKIP_FRAME, SECOND_SKIP);
    s += std::to_string(CLOSE_FRAME) + " Close 1\n";
    return s;
}

TEST_F(EngineSoundProcess, RecordedPitchFollowsTheWatchedEngine)
{
    if (!getenv("DISPLAY"))
        GTEST_SKIP() << "needs a display (run under xvfb-run)";
    if (system("command -v xvfb-run >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "needs xvfb-run for a small screen of its own";
    const std::string demo = record_demo();
    ASSERT_FALSE(HasFailure());
    const std::string home = dirs.root / "game";
    const std::string audio = dirs.root / "sound.raw", video = dirs.root / "video.ppm";
    test::write_file(dirs.root / "script.txt", ride_script());

    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        const int out = open(video.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open((dirs.root / "stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(out, 1);
        dup2(err, 2);
        setenv("XDG_DATA_HOME", home.c_str(), 1);
        setenv("KZ_INPUT_SCRIPT", (dirs.root / "script.txt").c_str(), 1);
        unsetenv("KZ_HOME");
        unsetenv("VORN_LOGFILE");
        unsetenv("VORN_OPTIONS");
        const std::string exe = test::build_data_dir() + "/kessrig";
        execlp("xvfb-run", "xvfb-run", "-a", "-s", "-screen 0 160x120x24", exe.c_str(), "--nosound", "--lock-fps",
               "30", "--record-video", "--print-orientation", "--record-audio", audio.c_str(), "--width", "160",
               "--height", "120", demo.c_str(), (char*)nullptr);
        _exit(127);
    }
    const std::string log = home + "/Kessrig/lastlog.txt";
    ASSERT_EQ(test::wait_exit(pid, 120), 0) << test::read_file(log) << test::read_file(dirs.root / "stderr.txt");

    std::map<long, double> rpm;
    std::string cls;
    engine_speeds(demo, 50, &rpm, &cls);
    ASSERT_FALSE(HasFailure());
    const double firings_per_rev = !cls.empty() && cls.back() == 'f' ? 0.5 : 1.0;

    const std::vector<long> ticks = frame_ticks(test::read_file(video));
    ASSERT_GE((long)ticks.size(), CLOSE_FRAME) << "the video is not whole frames";
    const std::string raw = test::read_file(audio);
    ASSERT_EQ(raw.size() % (2 * TICK_SAMPLES), 0u);
    const long blocks = (long)raw.size() / (2 * TICK_SAMPLES);
    // One block per world tick: at 30 frames a second, 128/30 ticks a frame.
    EXPECT_NEAR((double)blocks, ticks.size() * 128.0 / 30.0, 5.0) << ticks.size() << " frames";

    // The world tick each block of sound followed: a frame's ticks follow
    // the time printed before it; a skip jumps a second ahead unrecorded.
    std::vector<long> block_tick;
    for (size_t f = 0; f + 1 < ticks.size(); f++) {
        const long step = ticks[f + 1] - ticks[f];
        ASSERT_GE(step, 0);
        const long recorded = step % TICKS_PER_SECOND;
        ASSERT_LE(recorded, 5) << "frame " << f;
        for (long k = 1; k <= recorded; k++)
            block_tick.push_back(ticks[f + 1] - recorded + k);
    }
    // After the last frame at most one frame's ticks ran before the close.
    ASSERT_LE((long)block_tick.size(), blocks);
    ASSERT_GE((long)block_tick.size(), blocks - 5);

    const std::vector<double> samples = read_samples(raw);
    // A tenth of the recording's rate is plenty for firing rates below
    // 400 Hz: average 8 samples into one.
    const int decimate = 8;
    const double rate = (double)RECORD_RATE / decimate;
    std::vector<double> low(samples.size() / decimate);
    for (size_t i = 0; i < low.size(); i++) {
        double sum = 0;
        for (int k = 0; k < decimate; k++)
            sum += samples[i * decimate + (size_t)k];
        low[i] = sum / decimate;
    }
    const double lo_hz = 8, hi_hz = 400;
    const int window_ticks = 32;  // a quarter of a second
    const int window = window_ticks * TICK_SAMPLES / decimate;
    const int max_lag = (int)std::ceil(rate / lo_hz) + 2;
    const long lead = std::lround(SOUND_LEAD_SECONDS * TICKS_PER_SECOND);
    // A window counts when the ticks it was synthesised from ran without a
    // skip (a frame's sound is made at once, so one frame more) and the
    // menu was already away.
    const long settle = lead + 6;
    auto unbroken = [&](long from, long to) {
        for (long b = from + 1; b < to; b++)
            if (block_tick[(size_t)b] != block_tick[(size_t)b - 1] + 1)
                return false;
        return true;
    };

    int counted = 0, within = 0;
    std::vector<double> measured, expected;
    std::string report;
    for (long b0 = settle + 2 * 5; b0 + window_ticks <= (long)block_tick.size() &&
                                   (size_t)((b0 + window_ticks) * TICK_SAMPLES / decimate + max_lag) <= low.size();
         b0 += window_ticks) {
        if (!unbroken(b0 - settle, b0 + window_ticks))
            continue;
        // The engine speed the window was synthesised from.
        double sum = 0, lo = 1e9, hi = 0;
        for (long b = b0; b < b0 + window_ticks; b++) {
            const auto it = rpm.find(block_tick[(size_t)b] - lead);
            ASSERT_NE(it, rpm.end()) << "block " << b;
            sum += it->second;
            lo = std::min(lo, it->second);
            hi = std::max(hi, it->second);
        }
        const double want = sum / window_ticks * firings_per_rev / 60;
        double strength = 0;
        const double got = dominant_frequency(&low[(size_t)(b0 * TICK_SAMPLES / decimate)], window, rate, lo_hz,
                                              hi_hz, &strength);
        counted++;
        within += std::fabs(got / want - 1) <= 0.03;
        measured.push_back(got);
        expected.push_back(want);
        char line[160];
        snprintf(line, sizeof line, "tick %ld: rpm %.0f..%.0f, want %.2f Hz, got %.2f Hz (r %.2f)%s\n",
                 block_tick[(size_t)b0], lo, hi, want, got, strength,
                 std::fabs(got / want - 1) <= 0.03 ? "" : "  <- off");
        report += line;
    }
    // Most windows carry the engine's firing rate within a few percent; the
    // others fall where the speed sweeps within the window (the gate drop,
    // a shift, a landing), where no single pitch is heard.
    ASSERT_GE(counted, 60) << report;
    EXPECT_GE(within, 0.8 * counted) << within << " of " << counted << " windows within 3 %\n" << report;
    // While riding, the pitch rises and falls with the engine speed.
    double n = 0, sx = 0, sy = 0, sxx = 0, syy = 0, sxy = 0;
    for (size_t i = 0; i < measured.size(); i++) {
        if (expected[i] < 3000 * firings_per_rev / 60)
            continue;
        n++;
        sx += expected[i];
        sy += measured[i];
        sxx += expected[i] * expected[i];
        syy += measured[i] * measured[i];
        sxy += expected[i] * measured[i];
    }
    ASSERT_GE(n, 40) << report;
    const double correlation = (sxy - sx * sy / n) / std::sqrt((sxx - sx * sx / n) * (syy - sy * sy / n));
    EXPECT_GT(correlation, 0.8) << report;
    printf("%d of %d windows within 3 %%; correlation while riding %.3f over %.0f windows\n", within, counted,
           correlation, n);
}

}  // namespace

// Through the sound card: SDL's disk driver takes the real-time device's
// fragments (unsigned 8-bit stereo) into a file at the card's pace. The
// watched engine idles at the starting gate; the file holds its note at
// the firing rate of that idle speed, not silence.
TEST_F(EngineSoundProcess, RealTimeDevicePlaysTheEngineToTheCard)
{
    if (!getenv("DISPLAY"))
        GTEST_SKIP() << "needs a display (run under xvfb-run)";
    if (system("command -v xvfb-run >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "needs xvfb-run for a small screen of its own";
    const std::string demo = record_demo();
    ASSERT_FALSE(HasFailure());
    // The engine idles steadily from the skip to past the close.
    std::map<long, double> rpm;
    std::string cls;
    engine_speeds(demo, 16, &rpm, &cls);
    ASSERT_FALSE(HasFailure());
    const double idle = rpm.at(12 * TICKS_PER_SECOND);
    for (long t = 12 * TICKS_PER_SECOND; t <= 14 * TICKS_PER_SECOND; t++)
        ASSERT_NEAR(rpm.at(t), idle, 1.0) << "tick " << t;
    const double firing = idle * (!cls.empty() && cls.back() == 'f' ? 0.5 : 1.0) / 60;

    const std::string home = dirs.root / "game";
    const std::string card = dirs.root / "card.raw";
    // Esc, a skip to the gate, two seconds of listening.
    std::string script = "1 esc 1\n1 esc 0\n";
    for (int f = 2; f < 14; f++)
        script += std::to_string(f) + " / 1\n" + std::to_string(f) + " / 0\n";
    script += "75 Close 1\n";
    test::write_file(dirs.root / "script.txt", script);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        const int out = open((dirs.root / "stdout.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(out, 1);
        dup2(out, 2);
        setenv("XDG_DATA_HOME", home.c_str(), 1);
        setenv("KZ_INPUT_SCRIPT", (dirs.root / "script.txt").c_str(), 1);
        setenv("SDL_AUDIODRIVER", "disk", 1);
        setenv("SDL_DISKAUDIOFILE", card.c_str(), 1);
        unsetenv("KZ_HOME");
        unsetenv("VORN_LOGFILE");
        unsetenv("VORN_OPTIONS");
        const std::string exe = test::build_data_dir() + "/kessrig";
        execlp("xvfb-run", "xvfb-run", "-a", "-s", "-screen 0 320x240x24", exe.c_str(), "--lock-fps", "30", "--width",
               "320", "--height", "240", demo.c_str(), (char*)nullptr);
        _exit(127);
    }
    const std::string log = home + "/Kessrig/lastlog.txt";
    ASSERT_EQ(test::wait_exit(pid, 60), 0) << test::read_file(log) << test::read_file(dirs.root / "stdout.txt");

    const std::string text = test::read_file(log);
    const size_t opening = text.find("Opening waveOut audio...\n");
    if (opening == std::string::npos || text.find("No audio device\n") != std::string::npos)
        GTEST_SKIP() << "SDL has no disk audio driver here\n" << text;
    const size_t opened = text.find("Audio opened!\n", opening);
    ASSERT_NE(opened, std::string::npos) << text;
    int card_rate = 0;
    const size_t rate_line = text.find("Waveout rate: ", opening);
    ASSERT_NE(rate_line, std::string::npos) << text;
    ASSERT_EQ(sscanf(text.c_str() + rate_line, "Waveout rate: %d", &card_rate), 1);
    EXPECT_EQ(card_rate, 22050);
    EXPECT_EQ(text.find("Opening readback audio"), std::string::npos);
    EXPECT_NE(text.find("Audio thread begin\n", opened), std::string::npos) << text;
    const size_t closing = text.find("Closing audio\n", opened);
    ASSERT_NE(closing, std::string::npos) << text;
    EXPECT_NE(text.find("Audio thread end\n", closing), std::string::npos) << text;

    // The left channel, centred on silence.
    const std::string raw = test::read_file(card);
    std::vector<double> left(raw.size() / 2);
    for (size_t i = 0; i < left.size(); i++)
        left[i] = (double)(unsigned char)raw[2 * i] - 128;
    const double rate = card_rate;
    ASSERT_GT(left.size(), (size_t)(2 * rate)) << "less than two seconds written";

    // Quarter-second windows: the loud ones hold the engine.
    const int window = (int)(rate / 4), max_lag = (int)std::ceil(rate / 8) + 2;
    std::string report;
    int loud = 0;
    double loudest = 0;
    std::vector<double> pitches;
    for (size_t at = 0; at + (size_t)(window + max_lag) <= left.size(); at += (size_t)window) {
        double sum = 0;
        for (int i = 0; i < window; i++)
            sum += left[at + (size_t)i] * left[at + (size_t)i];
        const double rms = std::sqrt(sum / window);
        loudest = std::max(loudest, rms);
        if (rms < 2)
            continue;
        double strength = 0;
        const double got = dominant_frequency(&left[at], window, rate, 8, 400, &strength);
        loud++;
        pitches.push_back(got);
        char line[120];
        snprintf(line, sizeof line, "%.2f s: rms %.1f, %.2f Hz (r %.2f)\n", at / rate, rms, got, strength);
        report += line;
    }
    // Heard, not silence: most of the ride's quarter seconds are loud, and
    // carry the idle's firing rate (stale or torn sound would not). The
    // first loud window holds the skips to the gate, the last the close.
    ASSERT_GE(loud, 6) << "loudest rms " << loudest << "\n" << report;
    int on_pitch = 0;
    for (size_t i = 1; i + 1 < pitches.size(); i++)
        on_pitch += std::fabs(pitches[i] / firing - 1) <= 0.03;
    EXPECT_GE(on_pitch, 0.8 * (loud - 2)) << "idle firing " << firing << " Hz\n" << report;
    printf("idle firing %.2f Hz; %d loud windows, %d on pitch, loudest rms %.1f\n", firing, loud, on_pitch, loudest);
}
