// The SDL-facing translations and the display-mode rules; none of these
// needs a display.
#include <gtest/gtest.h>

#include <SDL.h>

#include <string>

#include "platform/input.h"
#include "platform/sdl_input.h"
#include "platform/window.h"
#include "test_support.h"

namespace {

TEST(sdl_keys, scancodes_become_pc_set1_codes)
{
    EXPECT_EQ(set1_code_from_sdl_scancode(SDL_SCANCODE_ESCAPE), 1);
    EXPECT_EQ(set1_code_from_sdl_scancode(SDL_SCANCODE_A), 30);
    EXPECT_EQ(set1_code_from_sdl_scancode(SDL_SCANCODE_X), 45);
    EXPECT_EQ(set1_code_from_sdl_scancode(SDL_SCANCODE_0), 11);
    EXPECT_EQ(set1_code_from_sdl_scancode(SDL_SCANCODE_1), 2);
    EXPECT_EQ(set1_code_from_sdl_scancode(SDL_SCANCODE_F10), 68);
    EXPECT_EQ(set1_code_from_sdl_scancode(SDL_SCANCODE_F11), 87);
    EXPECT_EQ(set1_code_from_sdl_scancode(SDL_SCANCODE_LCTRL), 29);
    EXPECT_EQ(set1_code_from_sdl_scancode(SDL_SCANCODE_PAUSE), 69);
    EXPECT_EQ(set1_code_from_sdl_scancode(SDL_SCANCODE_KP_MULTIPLY), 55);
    // Keys sent with the E0 prefix carry 256.
    EXPECT_EQ(set1_code_from_sdl_scancode(SDL_SCANCODE_RCTRL), 285);
    EXPECT_EQ(set1_code_from_sdl_scancode(SDL_SCANCODE_RALT), 312);
    EXPECT_EQ(set1_code_from_sdl_scancode(SDL_SCANCODE_UP), 328);
    EXPECT_EQ(set1_code_from_sdl_scancode(SDL_SCANCODE_LEFT), 331);
    EXPECT_EQ(set1_code_from_sdl_scancode(SDL_SCANCODE_RIGHT), 333);
    EXPECT_EQ(set1_code_from_sdl_scancode(SDL_SCANCODE_DOWN), 336);
    EXPECT_EQ(set1_code_from_sdl_scancode(SDL_SCANCODE_INSERT), 338);
    EXPECT_EQ(set1_code_from_sdl_scancode(SDL_SCANCODE_DELETE), 339);
    EXPECT_EQ(set1_code_from_sdl_scancode(SDL_SCANCODE_HOME), 327);
    EXPECT_EQ(set1_code_from_sdl_scancode(SDL_SCANCODE_END), 335);
    EXPECT_EQ(set1_code_from_sdl_scancode(SDL_SCANCODE_PAGEUP), 329);
    EXPECT_EQ(set1_code_from_sdl_scancode(SDL_SCANCODE_PAGEDOWN), 337);
    EXPECT_EQ(set1_code_from_sdl_scancode(SDL_SCANCODE_KP_ENTER), 284);
    EXPECT_EQ(set1_code_from_sdl_scancode(SDL_SCANCODE_KP_DIVIDE), 309);
    EXPECT_EQ(set1_code_from_sdl_scancode(SDL_SCANCODE_NUMLOCKCLEAR), 325);
    EXPECT_EQ(set1_code_from_sdl_scancode(SDL_SCANCODE_UNKNOWN), -1);
    EXPECT_EQ(set1_code_from_sdl_scancode(SDL_SCANCODE_AC_BACK), -1);

    // No two keys share a code, except the two keys a PC keyboard sends
    // alike (backslash and the key beside Enter on other layouts).
    int owner[512];
    for (int& o : owner)
        o = -1;
    for (int sc = 0; sc < SDL_NUM_SCANCODES; sc++) {
        int code = set1_code_from_sdl_scancode(sc);
        if (code < 0)
            continue;
        ASSERT_LT(code, 512);
        if (owner[code] >= 0) {
            EXPECT_TRUE(code == 0x2b) << sc << " and " << owner[code];
        }
        owner[code] = sc;
    }
    // Every key the standard name table knows can be pressed.
    const char* names[] = {"Esc", "Backspace", "Tab", "Enter", "Left Shift", "Right Shift", "Space",
                           "Caps Lock", "F12", "Num Lock", "Keypad /", "Keypad 0", "Keypad ."};
    for (const char* name : names) {
        int code = key_code_by_name(name) - key_code_base;
        ASSERT_GE(code, 0) << name;
        EXPECT_GE(owner[code], 0) << name;
    }
}

TEST(sdl_keys, control_keys_type_their_characters)
{
    EXPECT_EQ(control_character_for_scancode(SDL_SCANCODE_TAB), 9);
    EXPECT_EQ(control_character_for_scancode(SDL_SCANCODE_RETURN), 13);
    EXPECT_EQ(control_character_for_scancode(SDL_SCANCODE_KP_ENTER), 13);
    EXPECT_EQ(control_character_for_scancode(SDL_SCANCODE_BACKSPACE), 8);
    EXPECT_EQ(control_character_for_scancode(SDL_SCANCODE_ESCAPE), 27);
    EXPECT_EQ(control_character_for_scancode(SDL_SCANCODE_A), 0);
}

TEST(sdl_keys, typed_text_gives_latin1_characters)
{
    int out[32];
    ASSERT_EQ(typed_characters("aZ9", out, 32), 3);
    EXPECT_EQ(out[0], 'a');
    EXPECT_EQ(out[2], '9');
    // e-acute (U+00E9) is one character; the euro sign (U+20AC) and an emoji
    // have no code below 256; broken sequences are skipped.
    ASSERT_EQ(typed_characters("\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80x\xc3", out, 32), 2);
    EXPECT_EQ(out[0], 0xe9);
    EXPECT_EQ(out[1], 'x');
    ASSERT_EQ(typed_characters("\x80\xbfq", out, 32), 1);
    EXPECT_EQ(out[0], 'q');
    EXPECT_EQ(typed_characters("abcdef", out, 4), 4);
}

TEST(sdl_keys, event_times_land_on_the_platform_clock)
{
    clock_time now{100, 500000};
    clock_time t = map_event_time(9970, 10000, now);  // 30 ms old
    EXPECT_EQ(t.sec, 100);
    EXPECT_EQ(t.usec, 470000);
    t = map_event_time(9400, 10000, now);
    EXPECT_EQ(t.sec, 99);
    EXPECT_EQ(t.usec, 900000);
    // Stamped after the clocks were read: never later than now.
    t = map_event_time(10005, 10000, now);
    EXPECT_EQ(t.sec, 100);
    EXPECT_EQ(t.usec, 500000);
    // SDL's millisecond counter wraps after 49 days.
    t = map_event_time(0xfffffff0u, 0x10u, now);
    EXPECT_EQ(t.sec, 100);
    EXPECT_EQ(t.usec, 468000);
}

struct mode_fixture : ::testing::Test {
    test::temp_dir dir;
    std::string log_path = dir / "log.txt";
    test::scoped_env log_env{"VORN_LOGFILE", log_path.c_str()};
    void SetUp() override { log_reset_for_tests(); }
    void TearDown() override { log_reset_for_tests(); }
    std::string log_text()
    {
        log_close();
        return test::read_file(log_path);
    }
};

TEST_F(mode_fixture, mode_list_drops_repeats_and_odd_depths)
{
    reported_mode desktop{1920, 1080, 24, 60};
    reported_mode modes[] = {
        {1920, 1080, 24, 60}, {1920, 1080, 24, 144}, {1280, 720, 24, 60}, {1280, 720, 24, 50},
        {1280, 720, 16, 60},  {800, 600, 12, 60},    {640, 480, 32, 75},
    };
    display_mode out[9];
    int n = build_mode_list(&desktop, modes, 7, out);
    ASSERT_EQ(n, 4);
    EXPECT_EQ(out[0].width, 1920);
    EXPECT_EQ(out[1].width, 1280);
    EXPECT_EQ(out[1].depth, 24);
    EXPECT_EQ(out[2].depth, 16);
    EXPECT_EQ(out[3].width, 640);
    EXPECT_EQ(out[4].width | out[4].height | out[4].depth, 0);
    std::string log = log_text();
    EXPECT_NE(log.find("] Registry mode is 1920x1080x24@60hz\n"), std::string::npos);
    EXPECT_NE(log.find("] Found mode 1280x720x24@60hz\n"), std::string::npos);
    EXPECT_EQ(log.find("1280x720x24@50hz"), std::string::npos);
    EXPECT_NE(log.find("] Found mode 800x600x12@60hz (ignored)\n"), std::string::npos);
}

TEST_F(mode_fixture, odd_desktop_depth_is_ignored)
{
    reported_mode desktop{1024, 768, 30, 60};
    reported_mode modes[] = {{1024, 768, 30, 60}, {1024, 768, 24, 60}};
    display_mode out[4];
    ASSERT_EQ(build_mode_list(&desktop, modes, 2, out), 1);
    EXPECT_EQ(out[0].depth, 24);
    EXPECT_NE(log_text().find("] Registry mode is 1024x768x30@60hz (ignored)\n"), std::string::npos);
}

TEST(display_modes, full_screen_choice_takes_the_nearest_larger_mode)
{
    display_mode modes[] = {{1280, 720, 32}, {1024, 768, 32}, {800, 600, 32}, {}};
    display_mode m = choose_fullscreen_mode(modes, 1000, 700, 1920, 1080);
    EXPECT_EQ(m.width, 1024);
    EXPECT_EQ(m.height, 768);
    m = choose_fullscreen_mode(modes, 800, 600, 1920, 1080);
    EXPECT_EQ(m.width, 800);
    // Equal cost: the first listed wins (1280x720 and 1024x976 both cost 280).
    display_mode ties[] = {{1280, 720, 32}, {1024, 976, 32}, {}};
    EXPECT_EQ(choose_fullscreen_mode(ties, 1000, 700, 1920, 1080).width, 1280);
    // Nothing large enough: the desktop.
    m = choose_fullscreen_mode(modes, 2560, 1440, 1920, 1080);
    EXPECT_EQ(m.width, 1920);
    EXPECT_EQ(m.height, 1080);
    display_mode none[] = {{}};
    EXPECT_EQ(choose_fullscreen_mode(none, 640, 480, 800, 600).width, 800);
}

}  // namespace
