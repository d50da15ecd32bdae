// The game records its sound beside its video: one tick of 16-bit mono
// samples at 88320 Hz (1380 bytes) after every world tick, so the audio
// file stays in step with the frames on standard output.
#include <cmath>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "test_support.h"

namespace {

// Counts the binary PPM frames of a "--record-video" stream; -1 when the
// stream is not a whole number of frames.
long count_frames(const std::string& video)
{
    long frames = 0;
    size_t at = 0;
    while (at < video.size()) {
        int w = 0, h = 0, max = 0, used = 0;
        if (sscanf(video.c_str() + at, "P6\n%d %d\n%d\n%n", &w, &h, &max, &used) != 3 || used == 0 || max != 255)
            return -1;
        at += (size_t)used + (size_t)w * h * 3;
        if (at > video.size())
            return -1;
        frames++;
    }
    return frames;
}

}  // namespace

TEST(RecordAudioProcess, SoundFileHoldsOneTickOfSamplesPerWorldTick)
{
    if (!getenv("DISPLAY"))
        GTEST_SKIP() << "needs a display (run under xvfb-run)";
    test::temp_dir home;
    const std::string audio = home / "sound.raw", video = home / "video.ppm", log = home / "Kessrig/lastlog.txt";
    const std::string script = home / "script.txt";
    test::write_file(script, "1 esc 1\n1 esc 0\n");
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        const int out = open(video.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open((home / "stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(out, 1);
        dup2(err, 2);
        setenv("XDG_DATA_HOME", home.path.c_str(), 1);
        unsetenv("KZ_HOME");
        unsetenv("VORN_LOGFILE");
        unsetenv("VORN_OPTIONS");
        // Esc puts the greeting menu away, so the watched robot is heard at
        // full volume rather than a quarter of it.
        setenv("KZ_INPUT_SCRIPT", script.c_str(), 1);
        const std::string exe = test::build_data_dir() + "/kessrig";
        execl(exe.c_str(), exe.c_str(), "--nosound", "--lock-fps", "32", "--record-video", "--record-audio",
              audio.c_str(), "--width", "160", "--height", "120", (char*)nullptr);
        _exit(127);
    }
    ASSERT_TRUE(test::wait_for_text(log, "Max loading delay was", 60)) << test::read_file(log);
    // Three seconds of ride (as many frames as a loaded machine needs):
    // the engine note is judged on the last of them.
    for (int i = 0; i < 1200 && (long)test::read_file(audio).size() < 3L * 128 * 1380; i++)
        usleep(50000);
    kill(pid, SIGTERM);
    ASSERT_EQ(test::wait_exit(pid, 30), 0) << test::read_file(log);

    const std::string text = test::read_file(log);
    // "--nosound" keeps the sound card closed, the recording still mixes.
    const size_t readback = text.find("Opening readback audio...\n");
    ASSERT_NE(readback, std::string::npos) << text;
    EXPECT_NE(text.find("Audio opened!\n", readback), std::string::npos);
    EXPECT_EQ(text.find("Opening waveOut audio"), std::string::npos);
    const size_t closing = text.find("Closing audio\n");
    ASSERT_NE(closing, std::string::npos);
    EXPECT_LT(text.find("Deallocating bikes"), closing);

    // Every frame of the ride is followed by its four ticks of 1/128 s at
    // 32 frames a second, and every tick by 1380 bytes of sound.
    const long frames = count_frames(test::read_file(video));
    ASSERT_GT(frames, 3);
    const std::string sound = test::read_file(audio);
    EXPECT_EQ((long)sound.size(), frames * 4 * 1380) << frames << " frames";
    // Signed 16-bit samples come from 8-bit sums scaled by 256: any other
    // value would mean a wrong format or torn blocks.
    for (size_t i = 0; i + 1 < sound.size(); i += 2) {
        int16_t s;
        memcpy(&s, sound.data() + i, 2);
        ASSERT_EQ(s % 256, 0) << "byte " << i;
        ASSERT_LE(std::abs((int)s), 127 * 256) << "byte " << i;
    }
    // The robot idling at the gate is heard: the last second holds an
    // engine, not silence - a loud enough signal that crosses zero at an
    // engine's firing rates.
    const size_t rate = 88320, n = sound.size() / 2;
    ASSERT_GT(n, rate);
    double sum = 0;
    long crossings = 0;
    int16_t last = 0;
    for (size_t i = n - rate; i < n; i++) {
        int16_t s;
        memcpy(&s, sound.data() + 2 * i, 2);
        sum += (double)s * s;
        if (i > n - rate && (s < 0) != (last < 0))
            crossings++;
        last = s;
    }
    const double rms = std::sqrt(sum / rate);
    EXPECT_GT(rms, 256.0) << "the engine is not heard";
    EXPECT_GT(crossings / 2, 20) << "no engine note";
    EXPECT_LT(crossings / 2, 5000) << "noise, not an engine note";
}
