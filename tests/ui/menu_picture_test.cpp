// The menus drawn into a real GL context: the main menu and the Bike Setup
// screen are kept as pictures in the build tree (pictures/menu_*.png) and
// checked by their pixels; then one setting of each kind is changed through
// the menu's own event functions and the configuration written on leaving
// must differ from the one before in exactly those lines.
#include <GL/gl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "core/config.h"
#include "core/game.h"
#include "core/settings.h"
#include "files/datafs.h"
#include "gl_test_context.h"
#include "platform/input.h"
#include "render/picture.h"
#include "ui/font.h"
#include "ui/menu.h"

namespace {

const unsigned char CLEAR[3] = {50, 153, 204};

struct menu_pictures : gl_test {
    test::temp_dir home;
    test::scoped_env xdg{"XDG_DATA_HOME", home.path.c_str()};
    test::scoped_env kz{"KZ_HOME", test::build_data_dir().c_str()};
    menu_state m;

    void SetUp() override
    {
        width = 640;
        height = 480;
        gl_test::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        config_set_defaults();
        build_texture_lists(build_file_index());
        fonts_load();
        g_game = game_state();
    }
    void TearDown() override
    {
        if (window)
            fonts_free();
        build_texture_lists(nullptr);
        free_file_index();
        g_game = game_state();
        gl_test::TearDown();
    }

    // Draws the screen over a plain clear colour; RGB, bottom row first.
    std::vector<unsigned char> draw(int screen)
    {
        glViewport(0, 0, width, height);
        glClearColor(CLEAR[0] / 255.0f, CLEAR[1] / 255.0f, CLEAR[2] / 255.0f, 1);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        draw_screen(&m, screen, width, height);
        return read_pixels(0, 0, width, height);
    }
    void keep(const std::vector<unsigned char>& rgb, const char* name)
    {
        const std::string dir = KESSRIG_PICTURES_DIR;
        mkdir(dir.c_str(), 0755);
        write_png_rgb((dir + "/" + name).c_str(), rgb.data(), width, height);
    }
    const unsigned char* at(const std::vector<unsigned char>& rgb, int x, int y_down)
    {
        return &rgb[((size_t)(height - 1 - y_down) * width + x) * 3];
    }
    // Pixels of light text inside a rectangle (the boxes are dark blue or
    // orange: little blue).
    int text_pixels(const std::vector<unsigned char>& rgb, const menu_rect& r)
    {
        int n = 0;
        for (int y = (int)r.top + 1; y < (int)r.bottom - 1; y++)
            for (int x = (int)r.left + 1; x < (int)r.right - 1; x++) {
                const unsigned char* p = at(rgb, x, y);
                n += p[0] > 150 && p[1] > 150 && p[2] > 120;
            }
        return n;
    }
    int item_index(int screen, const char* key)
    {
        menu_screen s;
        menu_build(&m, screen, &s);
        for (int i = 0; i < s.count; i++)
            if (s.items[i].s && strcmp(s.items[i].s->key, key) == 0)
                return i;
        return -1;
    }
    void key(int code)
    {
        menu_key(&m, code, 1);
        menu_key(&m, code, 0);
    }
};

std::vector<std::string> lines_of(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);)
        lines.push_back(l);
    return lines;
}

}  // namespace

TEST_F(menu_pictures, main_menu_and_bike_setup_show_every_item_over_the_backdrop)
{
    menu_screen main;
    menu_build(&m, menu_main, &main);
    ASSERT_EQ(main.count, 9);
    const std::vector<unsigned char> rgb = draw(menu_main);
    keep(rgb, "menu_main.png");
    // The backdrop: grey 0.2 at half alpha over the clear colour.
    const unsigned char* corner = at(rgb, width - 2, 1);
    for (int c = 0; c < 3; c++)
        EXPECT_NEAR(corner[c], (CLEAR[c] + 51) / 2.0, 2) << c;
    // Every item has a box inside the 4:3 area with its label in it.
    ASSERT_EQ(m.rect_screen, menu_main);
    for (int i = 0; i < main.count; i++) {
        const menu_rect& r = m.rects[i];
        EXPECT_GT(r.right - r.left, 100) << i;
        EXPECT_GE(r.left, 0);
        EXPECT_LE(r.bottom, height);
        EXPECT_GT(text_pixels(rgb, r), 10) << main.items[i].label;
    }
    // The build string at the bottom left is light grey text.
    int grey = 0;
    for (int y = height - 30; y < height; y++)
        for (int x = 0; x < 200; x++) {
            const unsigned char* p = at(rgb, x, y);
            grey += p[0] > 150 && abs(p[0] - p[1]) < 8 && abs(p[1] - p[2]) < 8;
        }
    EXPECT_GT(grey, 100);

    // Bike Setup: 25 items, none overlapping another.
    menu_screen setup;
    menu_build(&m, menu_bike_setup, &setup);
    ASSERT_EQ(setup.count, 25);
    m.focus = 0;
    const std::vector<unsigned char> b = draw(menu_bike_setup);
    keep(b, "menu_bike_setup.png");
    for (int i = 0; i < setup.count; i++) {
        EXPECT_GT(text_pixels(b, m.rects[i]), 10) << setup.items[i].label;
        for (int j = 0; j < i; j++) {
            const menu_rect &p = m.rects[i], &q = m.rects[j];
            EXPECT_FALSE(p.left < q.right && q.left < p.right && p.top < q.bottom && q.top < p.bottom)
                << setup.items[i].label << " / " << setup.items[j].label;
        }
    }
    // Stability 100 fills its bar: green across the bar's middle row.
    const int stability = item_index(menu_bike_setup, "stability");
    ASSERT_GE(stability, 0);
    const menu_rect& sr = m.rects[stability];
    const int mid = (int)((sr.top + sr.bottom) / 2);
    int green = 0, span = 0;
    for (int x = (int)m.bar_left[stability] + 2; x < (int)m.bar_right[stability] - 2; x++, span++) {
        const unsigned char* p = at(b, x, mid);
        green += p[1] > 150 && p[0] < 120;
    }
    EXPECT_GT(span, 30);
    EXPECT_GE(green, span - 2);
    // The focused item (Bike) is drawn in the highlight colour.
    const menu_rect& fr = m.rects[0];
    const unsigned char* hl = at(b, (int)fr.left + 3, (int)fr.top + 3);
    EXPECT_GT(hl[0], hl[2] + 60);
}

TEST_F(menu_pictures, a_change_of_each_kind_writes_exactly_its_line)
{
    ASSERT_TRUE(write_config());
    const std::vector<std::string> before = lines_of(test::read_file(home / "Kessrig/config"));
    ASSERT_GT(before.size(), 100u);
    const int enter = key_code_by_name("enter");

    // A slider by the pointer: half way along the Field Of View bar.
    menu_open(&m, menu_graphics);
    draw(menu_graphics);
    const int fov = item_index(menu_graphics, "fov");
    ASSERT_GE(fov, 0);
    const menu_rect& r = m.rects[fov];
    menu_pointer_moved(&m, (int)((m.bar_left[fov] + m.bar_right[fov]) / 2 + 0.5f), (int)((r.top + r.bottom) / 2));
    menu_pointer_button(&m, 1);
    menu_pointer_button(&m, 0);
    // The pointer lands on whole pixels: within a step of the middle, on a
    // whole step.
    const double fov_now = g_settings.fov;
    EXPECT_NEAR(fov_now, 90, 1);
    EXPECT_EQ(fov_now, (int)fov_now);

    // A choice by type-ahead: "dir" finds Hardware/Direct.
    menu_open(&m, menu_advanced_graphics);
    m.focus = item_index(menu_advanced_graphics, "render_texture");
    for (char c : {'d', 'i', 'r', 'q'})
        key(c);

    // A captured key.
    menu_open(&m, menu_controls);
    m.focus = item_index(menu_controls, "throttle_key");
    key(enter);
    EXPECT_GE(m.capture, 0);
    const int q = key_code_by_name("q");
    key(q);
    EXPECT_EQ(m.capture, -1);

    // A text field: the number, rewritten.
    menu_open(&m, menu_bike_setup);
    const int number = item_index(menu_bike_setup, "number");
    for (int i = 0; i < number; i++)
        key(key_code_by_name("down"));
    for (int i = 0; i < 3; i++)
        key(8);
    key('4');
    key('2');
    // Leaving the screen writes the file.
    menu_open(&m, menu_none);

    const std::vector<std::string> after = lines_of(test::read_file(home / "Kessrig/config"));
    ASSERT_EQ(after.size(), before.size());
    std::vector<std::string> changed;
    for (size_t i = 0; i < after.size(); i++)
        if (after[i] != before[i])
            changed.push_back(after[i]);
    const std::string q_name = key_name_by_code(q);
    char fov_line[64];
    snprintf(fov_line, sizeof fov_line, "fov=%f", fov_now);
    const std::vector<std::string> expected = {"number=42", "render_texture=Hardware/Direct", fov_line,
                                               "throttle_key=(k)" + q_name};
    std::vector<std::string> sorted_changed = changed, sorted_expected = expected;
    std::sort(sorted_changed.begin(), sorted_changed.end());
    std::sort(sorted_expected.begin(), sorted_expected.end());
    EXPECT_EQ(sorted_changed, sorted_expected);
}
