// The track editor as a track maker uses it: the real game started with
// "--editor" in an X server of its own, driven by scripted keys and mouse
// events (KZ_INPUT_SCRIPT) and watched through "--record-video". It raises
// a hill, takes it back, raises it again and saves; the saved files hold the
// hill, the game started again shows it on the editor's map, and robots
// race the edited track to the finish. Pictures of the map and its panel in
// three modes are kept in the build tree.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "core/messages.h"
#include "editor/editor.h"
#include "files/datafs.h"
#include "platform/input.h"
#include "render/picture.h"
#include "test_support.h"
#include "track/heightfield.h"
#include "track/track.h"

namespace {

const int W = 640, H = 480;
// Where the pointer stands on the map while the brush is held (the panel
// takes the window's left 192 pixels).
const int px = 440, py = 240;
const int mouse_left = 0x2000;  // the window's left button as an event code

std::string event(int frame, const std::string& key, int pressed)
{
    return std::to_string(frame) + " " + key + " " + std::to_string(pressed) + "\n";
}

std::string tap(int frame, const std::string& key)
{
    return event(frame, key, 1) + event(frame, key, 0);
}

// The menu put away, then Tab: from the rider view to the editor.
std::string to_editor()
{
    return tap(1, "esc") + tap(20, "#9") + "26 pointer " + std::to_string(px) + " " +
           std::to_string(py) + "\n";
}

std::string hold_left(int from, int frames)
{
    const std::string button = "#" + std::to_string(mouse_left);
    return event(from, button, 1) + event(from + frames, button, 0);
}

// Runs the game in its own X server with the script, reading its video;
// keeps the frames asked for. Returns the exit status.
int run_game(const test::temp_dir& home, const std::string& script, const std::vector<int>& wanted,
             std::map<int, std::vector<unsigned char>>* kept)
{
    test::write_file(home / "script.txt", script);
    int out[2];
    if (pipe(out) != 0)
        return -1;
    const pid_t pid = fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        dup2(out[1], 1);
        close(out[0]);
        close(out[1]);
        const int err = open((home / "stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(err, 2);
        setenv("XDG_DATA_HOME", home.path.c_str(), 1);
        setenv("KZ_INPUT_SCRIPT", (home / "script.txt").c_str(), 1);
        unsetenv("KZ_HOME");
        const std::string exe = test::build_data_dir() + "/kessrig";
        execlp("xvfb-run", "xvfb-run", "-a", "-s", "-screen 0 640x480x24", exe.c_str(), "--editor", "--nosound",
               "--lock-fps", "30", "--record-video", "--width", "640", "--height", "480", (char*)nullptr);
        _exit(127);
    }
    close(out[1]);
    std::FILE* in = fdopen(out[0], "rb");
    std::vector<unsigned char> rgb;
    int w = 0, h = 0;
    for (int frame = 0; in && test::read_video_frame(in, &w, &h, &rgb); frame++) {
        if (w != W || h != H) {
            ADD_FAILURE() << "a frame of " << w << " x " << h;
            break;
        }
        for (int f : wanted)
            if (f == frame)
                (*kept)[frame] = rgb;
    }
    if (in)
        fclose(in);
    return test::wait_exit(pid, 60);
}

// Mean absolute difference of two frames over a rectangle, per channel.
double difference(const std::vector<unsigned char>& a, const std::vector<unsigned char>& b, int x0, int y0,
                  int x1, int y1)
{
    if (a.size() != b.size() || a.empty())
        return 1e9;
    double sum = 0;
    for (int y = y0; y < y1; y++)
        for (int x = x0; x < x1; x++)
            for (int c = 0; c < 3; c++) {
                const size_t k = ((size_t)y * W + x) * 3 + c;
                sum += std::abs((int)a[k] - (int)b[k]);
            }
    return sum / ((double)(x1 - x0) * (y1 - y0) * 3);
}

// The square of map around the pointer, and the panel.
double around_pointer(const std::vector<unsigned char>& a, const std::vector<unsigned char>& b)
{
    return difference(a, b, px - 60, py - 60, px + 60, py + 60);
}

double panel(const std::vector<unsigned char>& a, const std::vector<unsigned char>& b)
{
    return difference(a, b, 0, 0, 192, H);
}

// The heights one stroke of the given editor ticks at the pointer makes on
// the default track, by the editor's own code in this process.
std::vector<float> one_stroke(int ticks)
{
    test::temp_dir home;
    test::scoped_env xdg("XDG_DATA_HOME", home.path.c_str());
    test::scoped_env kz("KZ_HOME", test::build_data_dir().c_str());
    free_file_index();
    clear_messages();
    track_list_build(0);
    static track t;
    std::vector<float> heights;
    if (track_load(&t, "rabbithill", track_load_flags())) {
        editor_state* e = editor_begin(&t);
        editor_pointer p;
        p.x = px;
        p.y = py;
        p.width = W;
        p.height = H;
        const int left = key_code_by_name("Mouse Left");
        editor_key(e, left, true, p);
        for (int i = 0; i < ticks; i++)
            editor_tick(e, p);
        editor_key(e, left, false, p);
        const int n = t.heightfield.sample_count;
        heights.assign(t.heightfield.heights, t.heightfield.heights + (size_t)n * n);
        editor_end(e);
    }
    track_unload(&t);
    track_list_free();
    free_file_index();
    return heights;
}

// Pixels of the map (right of the panel) drawn in white: the overlays.
int white_pixels(const std::vector<unsigned char>& rgb)
{
    int count = 0;
    for (int y = 0; y < H; y++)
        for (int x = 192; x < W; x++) {
            const unsigned char* p = &rgb[((size_t)y * W + x) * 3];
            count += p[0] > 225 && p[1] > 225 && p[2] > 225;
        }
    return count;
}

TEST(EditorProcess, RaiseUndoRaiseSaveThenTheRestartedGameShowsTheHillAndRobotsRaceIt)
{
    if (!getenv("DISPLAY"))
        GTEST_SKIP() << "needs a display (run under xvfb-run)";
    if (system("command -v xvfb-run >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "needs xvfb-run for a screen of the video's size";
    test::temp_dir home;
    const std::string data = test::build_data_dir();
    // A window of the size asked for: full screen, the first frames may
    // come at another size before the window takes the screen's.
    test::write_file(home / "Kessrig/config", "video_mode=Windowed\n");

    // A stroke, taken back, a stroke again; saved; two more modes.
    const int before = 60, again = 300, saved = 312, gates = 326, edit = 340;
    std::string script = to_editor();
    // Typed characters: Backspace (undo), "s" (save), "9" and "8" (modes).
    script += hold_left(62, 100);
    script += tap(176, "#8");
    script += hold_left(190, 100);
    script += tap(304, "#115");
    script += tap(316, "#57");  // the timing gate mode
    script += tap(330, "#56");  // gradient edit
    script += event(350, "Close", 1);
    std::map<int, std::vector<unsigned char>> f;
    ASSERT_EQ(run_game(home, script, {before, again, saved, gates, edit}, &f), 0)
        << test::read_file(home / "stderr.txt") << test::read_file(home / "Kessrig/lastlog.txt");
    ASSERT_EQ(f.size(), 5u) << "frames missing from the video" << test::read_file(home / "stderr.txt");

    // Every mode has its own panel; the timing gate mode draws the gates'
    // circles on the map.
    EXPECT_GT(panel(f[again], f[gates]), 1.0);
    EXPECT_GT(panel(f[gates], f[edit]), 1.0);
    EXPECT_GT(white_pixels(f[gates]), white_pixels(f[edit]) + 500);
    const std::string dir = test::pictures_dir();
    write_png_picture((dir + "/editor-raise.png").c_str(), f[saved].data(), W, H, 3, nullptr);
    write_png_picture((dir + "/editor-timing-gate.png").c_str(), f[gates].data(), W, H, 3, nullptr);
    write_png_picture((dir + "/editor-gradient-edit.png").c_str(), f[edit].data(), W, H, 3, nullptr);

    // The saved heights are those of one stroke: the first was taken back.
    // (The brush works every 32 editor ticks, once a frame: each stroke of
    // 100 frames works 4 times.) Nothing else of the track changed.
    const std::string track_dir = home / "Kessrig/rabbithill";
    ASSERT_TRUE(test::file_exists(track_dir + "/terrain.hf")) << test::read_file(home / "Kessrig/lastlog.txt");
    heightfield original, edited;
    ASSERT_TRUE(heightfield_load(&original, (data + "/rabbithill").c_str(), 0));
    ASSERT_TRUE(heightfield_load(&edited, track_dir.c_str(), 0));
    const std::vector<float> expected = one_stroke(100);
    const int n = original.sample_count;
    ASSERT_EQ(n, edited.sample_count);
    ASSERT_EQ(expected.size(), (size_t)n * n);
    // Heights saved as 16-bit samples come back within a step of the range.
    const float step = 2.0f * (edited.height_max - edited.height_min) / 65535.0f;
    float hill = 0, worst = 0;
    int raised_samples = 0;
    for (int k = 0; k < n * n; k++) {
        hill = std::max(hill, expected[k] - original.heights[k]);
        raised_samples += edited.heights[k] - original.heights[k] > step;
        worst = std::max(worst, std::fabs(edited.heights[k] - expected[k]));
    }
    EXPECT_GT(hill, 1.0f);
    EXPECT_GT(raised_samples, 20);
    EXPECT_LT(worst, step) << "the saved hill is not one stroke's";

    // The game started again shows the hill on the editor's map.
    std::map<int, std::vector<unsigned char>> g;
    ASSERT_EQ(run_game(home, to_editor() + event(110, "Close", 1), {100}, &g), 0)
        << test::read_file(home / "stderr.txt");
    ASSERT_EQ(g.count(100), 1u);
    write_png_picture((test::pictures_dir() + "/editor-restarted.png").c_str(), g[100].data(), W, H, 3, nullptr);
    // (Near the hill the shading drawn while editing and after the restart
    // differ slightly; elsewhere the two maps are the same.)
    EXPECT_GT(around_pointer(f[before], g[100]), 1.0);
    EXPECT_LT(difference(f[again], g[100], 192, 0, W, py - 60), 0.2);
    EXPECT_LT(difference(f[again], g[100], 192, py + 60, W, H), 0.2);

    // Robots race the edited track from the home directory to the finish.
    const std::string race = "XDG_DATA_HOME='" + home.path + "' '" + data +
                             "/kessrig-sim' race --robots 2 --laps 1 --seed 1 >'" + (home / "race.txt") + "' 2>&1";
    ASSERT_EQ(system(race.c_str()), 0) << test::read_file(home / "race.txt");
    const std::string out = test::read_file(home / "race.txt");
    EXPECT_NE(out.find("finished=2 riders=2"), std::string::npos) << out;
    // ... and it was the edited ground they rode: the default track's
    // terrain hashes otherwise.
    test::temp_dir fresh;
    const std::string plain = "XDG_DATA_HOME='" + fresh.path + "' '" + data +
                              "/kessrig-sim' race --robots 2 --laps 1 --seed 1 >'" + (fresh / "race.txt") + "' 2>&1";
    ASSERT_EQ(system(plain.c_str()), 0) << test::read_file(fresh / "race.txt");
    const auto hash = [](const std::string& text) {
        const size_t k = text.find("terrain_hash=");
        return k == std::string::npos ? std::string() : text.substr(k, 29);
    };
    EXPECT_FALSE(hash(out).empty()) << out;
    EXPECT_NE(hash(out), hash(test::read_file(fresh / "race.txt")));

    heightfield_free(&original);
    heightfield_free(&edited);
}

}  // namespace
