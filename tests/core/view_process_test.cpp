// The game as a player sees it: a demo of eight scripted riders recorded by
// kessrig-sim is played by the real game in an X server of its own
// (640 x 480, so the full-screen window is that size), with "--lock-fps 30
// --record-video --print-orientation", while a script of key events
// (KZ_INPUT_SCRIPT) skips past the starting gate, takes a screenshot,
// rewinds, and switches the views with Tab. The frames are read from the
// pipe as they come and checked as pictures: the horizon of the rider view
// lies where the printed camera puts it, the orbit view has the bike in its
// middle, the pictures change as the riders move, the screenshot is the
// frame drawn after the key, and when the reader closes the pipe the game
// ends the recording, not itself. A few frames are kept as PNG pictures in
// the build tree to look at.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "files/datafs.h"
#include "render/picture.h"
#include "test_support.h"

namespace {

const int W = 640, H = 480;
// The frames of each view in the script below.
const int skip_frames_end = 20;   // '/' pressed on frames 2..19
const int screenshot_frame = 50;
const int rewind_frame = 70;
const int orbit_from = 90, track_from = 170, last_frame = 259;
const int quit_frame = 330;

std::string script_text()
{
    // The main menu greets every start; Esc puts it away before anything else.
    std::string s = "1 esc 1\n1 esc 0\n# skip 18 s: past the starting gate, riding\n";
    for (int f = 2; f < skip_frames_end; f++)
        s += std::to_string(f) + " / 1\n" + std::to_string(f) + " / 0\n";
    s += std::to_string(screenshot_frame) + " s 1\n" + std::to_string(screenshot_frame) + " s 0\n";
    s += std::to_string(rewind_frame) + " \\ 1\n" + std::to_string(rewind_frame) + " \\ 0\n";
    s += std::to_string(orbit_from - 1) + " #9 1\n";  // Tab: rider -> orbit
    s += std::to_string(track_from - 1) + " #9 1\n";  // Tab: orbit -> track camera
    s += std::to_string(quit_frame) + " Close 1\n";
    return s;
}

struct orientation {
    double t = -1;
    float p[3] = {}, x[3] = {}, z[3] = {};
};

struct frame_summary {
    orientation o;                 // printed before the frame (rider view)
    // Per row, the share of ground pixels in a stripe 64 pixels wide around
    // x = W/4, W/2, 3W/4; and the first row where it reaches one half.
    std::vector<float> ground_share[3];
    int horizon[3] = {-1, -1, -1};
    float centre[3] = {};          // mean colour of the middle 9 x 9 pixels
    float ground[3] = {};          // mean colour of a patch of ground near the eye
    std::vector<unsigned char> thumb;  // every 8th pixel of every 8th row
    std::vector<std::array<float, 3>> sky_rows;  // mean colour of each row
};

// Ground is green or brown; the sky (and any white cloud) is not.
bool is_ground(const unsigned char* p)
{
    return std::max(p[0], p[1]) > p[2] + 8;
}

void mean_colour(const std::vector<unsigned char>& rgb, int x0, int y0, int n, float out[3])
{
    double sum[3] = {};
    for (int y = y0; y < y0 + n; y++)
        for (int x = x0; x < x0 + n; x++)
            for (int c = 0; c < 3; c++)
                sum[c] += rgb[((size_t)y * W + x) * 3 + c];
    for (int c = 0; c < 3; c++)
        out[c] = (float)(sum[c] / (n * n));
}

frame_summary summarise(const std::vector<unsigned char>& rgb, const orientation& o)
{
    frame_summary f;
    f.o = o;
    // A stripe, not a column: a tree or a flagger standing on the horizon
    // covers only part of it.
    const int columns[3] = {W / 4, W / 2, 3 * W / 4};
    for (int i = 0; i < 3; i++) {
        f.ground_share[i].resize(H);
        for (int y = 0; y < H; y++) {
            int ground = 0;
            for (int x = columns[i] - 32; x < columns[i] + 32; x++)
                ground += is_ground(&rgb[((size_t)y * W + x) * 3]);
            f.ground_share[i][y] = ground / 64.0f;
            if (f.horizon[i] < 0 && f.ground_share[i][y] >= 0.5f)
                f.horizon[i] = y;
        }
    }
    f.sky_rows.resize(H);
    for (int y = 0; y < H; y++) {
        double sum[3] = {};
        for (int x = 0; x < W; x++)
            for (int c = 0; c < 3; c++)
                sum[c] += rgb[((size_t)y * W + x) * 3 + c];
        for (int c = 0; c < 3; c++)
            f.sky_rows[y][c] = (float)(sum[c] / W);
    }
    mean_colour(rgb, W / 2 - 4, H / 2 - 4, 9, f.centre);
    mean_colour(rgb, W / 2 - 100, H - 20, 9, f.ground);
    for (int y = 0; y < H; y += 8)
        for (int x = 0; x < W; x += 8)
            for (int c = 0; c < 3; c++)
                f.thumb.push_back(rgb[((size_t)y * W + x) * 3 + c]);
    return f;
}

// The mean colour of the default sky's side faces above their horizon (the
// upper half of each face), as the data holds them.
bool sky_pictures_mean(float out[3])
{
    test::scoped_env kz("KZ_HOME", test::build_data_dir().c_str());
    free_file_index();
    build_file_index();
    double sum[3] = {};
    long count = 0;
    for (const char* name : {"@sky-n.ppm", "@sky-e.ppm", "@sky-s.ppm", "@sky-w.ppm"}) {
        data_stream* s = open_data_file(name, "rb");
        if (!s)
            return false;
        picture p;
        const bool ok = read_rgb_picture(s, &p);
        close_data_file(s);
        if (!ok)
            return false;
        for (int y = 0; y < p.height / 2; y++)
            for (int x = 0; x < p.width; x++, count++)
                for (int c = 0; c < 3; c++)
                    sum[c] += p.pixels[((size_t)y * p.width + x) * 3 + c];
        picture_free(&p);
    }
    free_file_index();
    for (int c = 0; c < 3; c++)
        out[c] = (float)(sum[c] / count);
    return count > 0;
}

float colour_distance(const float a[3], const float b[3])
{
    return std::sqrt((a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) + (a[2] - b[2]) * (a[2] - b[2]));
}

float thumb_difference(const frame_summary& a, const frame_summary& b)
{
    double sum = 0;
    for (size_t i = 0; i < a.thumb.size(); i++)
        sum += std::abs((int)a.thumb[i] - (int)b.thumb[i]);
    return (float)(sum / (double)a.thumb.size());
}

// The row where the horizon crosses column x for the printed camera: the
// rider view looks along minus the body's z axis with its y axis up, a 4:3
// view of 110 degrees.
float predicted_horizon_row(const orientation& o, int x)
{
    const float half_x = std::tan(110.0f * 3.14159265f / 360.0f), half_y = half_x * 0.75f;
    // Up is z x x.
    const float up_y = o.z[2] * o.x[0] - o.z[0] * o.x[2];
    const float sx = (2.0f * x / W - 1.0f) * half_x;
    // A view ray sx * right + sy * up - back is level where its y is 0.
    const float sy = (o.z[1] - sx * o.x[1]) / up_y;
    return H / 2.0f - sy / half_y * (H / 2.0f);
}

// Reads "t=..." lines and PPM pictures from the game's standard output.
struct stream_reader {
    int fd;
    std::vector<char> buffer;
    size_t at = 0, end = 0;
    explicit stream_reader(int f) : fd(f), buffer(1 << 20) {}
    bool fill()
    {
        if (at == end)
            at = end = 0;
        if (end == buffer.size()) {
            memmove(buffer.data(), buffer.data() + at, end - at);
            end -= at;
            at = 0;
        }
        const ssize_t n = read(fd, buffer.data() + end, buffer.size() - end);
        if (n <= 0)
            return false;
        end += (size_t)n;
        return true;
    }
    bool line(std::string* out)
    {
        out->clear();
        for (;;) {
            while (at < end) {
                const char c = buffer[at++];
                if (c == '\n')
                    return true;
                out->push_back(c);
                if (out->size() > 1000)
                    return false;
            }
            if (!fill())
                return false;
        }
    }
    bool bytes(unsigned char* out, size_t n)
    {
        while (n > 0) {
            if (at == end && !fill())
                return false;
            const size_t k = std::min(n, end - at);
            memcpy(out, buffer.data() + at, k);
            at += k;
            out += k;
            n -= k;
        }
        return true;
    }
};

TEST(ViewProcess, ADemoPlaysInEveryViewAsThePlayerWouldSeeIt)
{
    if (!getenv("DISPLAY"))
        GTEST_SKIP() << "needs a display (run under xvfb-run)";
    if (system("command -v xvfb-run >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "needs xvfb-run for a screen of the video's size";
    test::temp_dir home;
    const std::string data = test::build_data_dir();
    const std::string demo = home / "scripted8.kzdemo";
    const std::string record = "XDG_DATA_HOME='" + home.path + "' KZ_HOME='" + data + "' '" + data +
                               "/kessrig-sim' race --scripted 8 --laps 1 --record '" + demo + "' >'" +
                               (home / "sim.txt") + "' 2>&1";
    ASSERT_EQ(system(record.c_str()), 0) << test::read_file(home / "sim.txt");
    test::write_file(home / "script.txt", script_text());

    int out[2];
    ASSERT_EQ(pipe(out), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        dup2(out[1], 1);
        close(out[0]);
        close(out[1]);
        const int err = open((home / "stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(err, 2);
        setenv("XDG_DATA_HOME", home.path.c_str(), 1);
        setenv("KZ_INPUT_SCRIPT", (home / "script.txt").c_str(), 1);
        unsetenv("KZ_HOME");
        unsetenv("VORN_LOGFILE");
        const std::string exe = data + "/kessrig";
        execlp("xvfb-run", "xvfb-run", "-a", "-s", "-screen 0 640x480x24", exe.c_str(), "--nosound", "--lock-fps",
               "30", "--record-video", "--print-orientation", "--width", "640", "--height", "480", demo.c_str(),
               (char*)nullptr);
        _exit(127);
    }
    close(out[1]);

    // Read the frames as they come; keep summaries, and whole pictures of a
    // few.
    stream_reader in(out[0]);
    std::vector<frame_summary> frames;
    std::map<int, std::vector<unsigned char>> kept;
    const int keep[] = {40, screenshot_frame + 1, 130, 230};
    orientation pending;
    std::string line;
    bool format_ok = true;
    while ((int)frames.size() <= last_frame && in.line(&line)) {
        if (line.compare(0, 2, "t=") == 0) {
            orientation o;
            format_ok &= sscanf(line.c_str(), "t=%lf p0=%f p1=%f p2=%f x0=%f x1=%f x2=%f z0=%f z1=%f z2=%f", &o.t,
                                &o.p[0], &o.p[1], &o.p[2], &o.x[0], &o.x[1], &o.x[2], &o.z[0], &o.z[1],
                                &o.z[2]) == 10;
            pending = o;
            continue;
        }
        int w = 0, h = 0, max = 0;
        std::string size, depth;
        if (line != "P6" || !in.line(&size) || sscanf(size.c_str(), "%d %d", &w, &h) != 2 || !in.line(&depth) ||
            sscanf(depth.c_str(), "%d", &max) != 1) {
            format_ok = false;
            break;
        }
        ASSERT_EQ(w, W);
        ASSERT_EQ(h, H);
        ASSERT_EQ(max, 255);
        std::vector<unsigned char> rgb((size_t)W * H * 3);
        ASSERT_TRUE(in.bytes(rgb.data(), rgb.size()));
        const int index = (int)frames.size();
        frames.push_back(summarise(rgb, pending));
        pending = orientation();
        if (std::find(std::begin(keep), std::end(keep), index) != std::end(keep))
            kept[index] = rgb;
    }
    // The reader goes away in the middle of the ride.
    close(out[0]);
    const std::string log = home / "Kessrig/lastlog.txt";
    EXPECT_TRUE(test::wait_for_text(log, "Video recording stopped", 30)) << test::read_file(log);
    int status = 0;
    for (int i = 0; i < 600 && waitpid(pid, &status, WNOHANG) == 0; i++)
        usleep(100000);
    if (waitpid(pid, &status, WNOHANG) == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        ADD_FAILURE() << "the game did not end at the script's close";
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << test::read_file(home / "stderr.txt");
    ASSERT_TRUE(format_ok);
    ASSERT_EQ((int)frames.size(), last_frame + 1) << test::read_file(home / "stderr.txt");
    // It went on drawing after the recording stopped, up to the close.
    const std::string text = test::read_file(log);
    long drawn = 0, ticks = 0;
    const size_t ran = text.find("Ran ");
    ASSERT_NE(ran, std::string::npos);
    ASSERT_EQ(sscanf(text.c_str() + ran, "Ran %ld frames and %ld ticks", &drawn, &ticks), 2);
    EXPECT_GE(drawn, quit_frame);

    // The rider view prints its camera; the other views do not.
    for (int i = 0; i < orbit_from; i++)
        EXPECT_GE(frames[i].o.t, 0.0) << i;
    for (int i = orbit_from; i <= last_frame; i++)
        EXPECT_LT(frames[i].o.t, 0.0) << i;
    // Eighteen skips of a second, then a thirtieth of a second a frame, and
    // the rewind a second back.
    EXPECT_NEAR(frames[skip_frames_end + 1].o.t - frames[1].o.t, 18.0 + skip_frames_end / 30.0, 0.02);
    EXPECT_NEAR(frames[skip_frames_end + 11].o.t - frames[skip_frames_end + 1].o.t, 10 / 30.0, 0.01);
    EXPECT_NEAR(frames[rewind_frame + 2].o.t - frames[rewind_frame].o.t, 2 / 30.0 - 1.0, 0.02);

    // The horizon of the rider view lies where the printed camera puts it:
    // well above the predicted row the picture is mostly sky, well below it
    // mostly ground (hills, trees and flaggers on the horizon take a part of
    // the band above; the bike's front end is further down than the band).
    int near = 0, counted = 0, banded = 0, band_counted = 0;
    float worst = 0, lowest = 1e9f, highest = -1e9f;
    double sp = 0, so = 0, spp = 0, soo = 0, spo = 0;
    for (int i = skip_frames_end + 1; i < orbit_from; i++) {
        for (int c = 0; c < 3; c++) {
            const float predicted = predicted_horizon_row(frames[i].o, W / 4 * (c + 1));
            if (predicted >= 60 && predicted <= H / 2 + 40) {
                const std::vector<float>& share = frames[i].ground_share[c];
                float above = 0, below = 0;
                for (int y = (int)predicted - 50; y < (int)predicted - 16; y++)
                    above += share[y];
                for (int y = (int)predicted + 16; y < (int)predicted + 50; y++)
                    below += share[y];
                band_counted++;
                banded += above / 34 <= 0.35f && below / 34 >= 0.8f;
            }
            if (predicted < 60 || predicted > H / 2 + 40)
                continue;
            // The measured horizon: the row that best splits the stripe into
            // sky above and ground below, searched near the prediction.
            const std::vector<float>& share = frames[i].ground_share[c];
            int measured = -1;
            float best = 1e9f;
            for (int split = (int)predicted - 60; split <= (int)predicted + 60; split++) {
                float cost = 0;
                for (int y = (int)predicted - 80; y < (int)predicted + 80; y++)
                    cost += y < split ? share[y] : 1.0f - share[y];
                if (cost < best) {
                    best = cost;
                    measured = split;
                }
            }
            frames[i].horizon[c] = measured;
            const float error = frames[i].horizon[c] - predicted;
            lowest = std::min(lowest, predicted);
            highest = std::max(highest, predicted);
            worst = std::max(worst, std::fabs(error));
            counted++;
            // Hills and trees on the horizon rise above the level line; the
            // ground never shows much below it.
            near += error >= -32 && error <= 12;
            const double o = frames[i].horizon[c];
            sp += predicted;
            so += o;
            spp += (double)predicted * predicted;
            soo += o * o;
            spo += predicted * o;
        }
    }
    // And it moves with the camera as the bike pitches and rolls: a camera
    // turned the wrong way would move it the other way.
    const double n = counted > 0 ? counted : 1;
    const double correlation =
        (spo - sp * so / n) / std::sqrt(std::max(1e-9, (spp - sp * sp / n) * (soo - so * so / n)));
    printf("horizon: %d of %d bands sky above and ground below, %d of %d from 32 rows above to 12 below, worst %.1f, predicted rows "
           "%.0f..%.0f, correlation %.3f\n",
           banded, band_counted, near, counted, worst, lowest, highest, correlation);
    EXPECT_GE(band_counted, 150);
    EXPECT_GE(banded, band_counted * 9 / 10);
    EXPECT_GE(counted, 150);
    EXPECT_GE(near, counted * 9 / 10);
    EXPECT_GT(highest - lowest, 10.0f);
    // The camera's pitch moves the predicted row over only some 20 rows
    // here, and the trees along the track move the measured one by as
    // much, so the two are compared by the bands above rather than by
    // their correlation, which is printed.

    // What shows above the horizon in the rider view is the track's sky:
    // the mean colour of the sky rows matches the sky pictures' above their
    // horizon (clouds and the haze move it a little).
    float sky[3];
    ASSERT_TRUE(sky_pictures_mean(sky));
    double seen[3] = {};
    long seen_count = 0;
    for (int i = skip_frames_end + 1; i < orbit_from; i++) {
        const int top = (int)predicted_horizon_row(frames[i].o, W / 2) - 60;
        for (int y = 0; y < top && y < (int)frames[i].sky_rows.size(); y++)
            for (int c = 0; c < 3; c++)
                seen[c] += frames[i].sky_rows[y][c];
        seen_count += std::max(0, std::min(top, (int)frames[i].sky_rows.size()));
    }
    ASSERT_GT(seen_count, 0);
    float seen_mean[3];
    for (int c = 0; c < 3; c++)
        seen_mean[c] = (float)(seen[c] / seen_count);
    printf("sky: pictures (%.0f %.0f %.0f), seen (%.0f %.0f %.0f)\n", sky[0], sky[1], sky[2], seen_mean[0],
           seen_mean[1], seen_mean[2]);
    EXPECT_LT(colour_distance(sky, seen_mean), 40.0f);

    // The orbit view has the bike in its middle: not the colour of the
    // ground around it.
    int bike_in_middle = 0;
    for (int i = orbit_from + 2; i < track_from; i++)
        bike_in_middle += colour_distance(frames[i].centre, frames[i].ground) > 40;
    printf("orbit: bike in the middle of %d of %d frames\n", bike_in_middle, track_from - orbit_from - 2);
    EXPECT_GE(bike_in_middle, (track_from - orbit_from - 2) * 8 / 10);

    // The pictures change as the riders move, in every view.
    for (int from : {skip_frames_end + 5, orbit_from + 5, track_from + 5}) {
        int changed = 0;
        for (int i = from; i < from + 60; i += 10)
            changed += thumb_difference(frames[i], frames[i + 10]) > 2.0f;
        EXPECT_GE(changed, 5) << "from frame " << from;
    }

    // The screenshot is the frame drawn after the key's tick, saved whole.
    picture shot;
    ASSERT_TRUE(png_decode((home / "Kessrig/screenshot001.png").c_str(), &shot));
    ASSERT_EQ(shot.width, W);
    ASSERT_EQ(shot.height, H);
    ASSERT_EQ(shot.channels, 3);
    EXPECT_EQ(memcmp(shot.pixels, kept[screenshot_frame + 1].data(), (size_t)W * H * 3), 0);
    picture_free(&shot);
    EXPECT_NE(text.find("Saved \"screenshot001.png\""), std::string::npos);

    const std::string dir = test::pictures_dir();
    write_png_picture((dir + "/view-rider.png").c_str(), kept[40].data(), W, H, 3, nullptr);
    write_png_picture((dir + "/view-orbit.png").c_str(), kept[130].data(), W, H, 3, nullptr);
    write_png_picture((dir + "/view-track-camera.png").c_str(), kept[230].data(), W, H, 3, nullptr);
}

}  // namespace
