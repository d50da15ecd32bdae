// A real window with an OpenGL context (run under xvfb-run). Skipped when
// no display can be opened.
#include <gtest/gtest.h>

#include <SDL.h>
#include <SDL_opengl.h>

#include <csignal>
#include <cstdlib>
#include <string>

#include "platform/input.h"
#include "platform/window.h"
#include "test_support.h"

// System libraries behind the window (SDL's D-Bus connection, Mesa) keep
// allocations for the life of the process; the same list as lsan.supp, so
// a sanitizer run of ctest needs no extra setting.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libdbus-1.so\n"
           "leak:swrast_dri.so\n"
           "leak:libGLX_mesa.so\n"
           "leak:libLLVM\n"
           "leak:libX11.so\n";
}

namespace {

struct gl_fixture : ::testing::Test {
    test::temp_dir dir;
    std::string log_path = dir / "log.txt";
    test::scoped_env log_env{"VORN_LOGFILE", log_path.c_str()};
    game_window* window = nullptr;

    void SetUp() override
    {
        const char* display = getenv("DISPLAY");
        if (!display || !*display)
            GTEST_SKIP() << "no display (run under xvfb-run)";
        if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0)
            GTEST_SKIP() << "display cannot be opened: " << SDL_GetError();
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        log_reset_for_tests();
        options_reset_for_tests();
        input_reset_for_tests();
        window = create_gl_window("Kessrig test", 320, 240, 24, 0, 16, 0, 0);
        ASSERT_NE(window, nullptr) << test::read_file(log_path);
    }
    void TearDown() override
    {
        if (window)
            close_window(window);
        input_reset_for_tests();
        options_reset_for_tests();
        log_reset_for_tests();
    }
    std::string log_text()
    {
        log_close();
        return test::read_file(log_path);
    }
    // Drains the queue, returning the first event with the code (or -1).
    int wait_for(int code)
    {
        input_event e;
        // Up to 2 s: the X server is slow to answer on a loaded machine.
        for (int i = 0; i < 400; i++) {
            while (next_event(&e))
                if (e.code == code)
                    return e.pressed;
            SDL_Delay(5);
        }
        return -1;
    }
    void push_window_event(Uint8 what)
    {
        SDL_Event e = {};
        e.type = SDL_WINDOWEVENT;
        e.window.event = what;
        e.window.windowID = SDL_GetWindowID(window_sdl_handle(window));
        SDL_PushEvent(&e);
    }
};

TEST_F(gl_fixture, window_has_a_context_and_presents_frames)
{
    const char* version = (const char*)glGetString(GL_VERSION);
    ASSERT_NE(version, nullptr);
    EXPECT_GT(std::string(version).size(), 0u);
    GLint depth = 0;
    glGetIntegerv(GL_DEPTH_BITS, &depth);
    EXPECT_GE(depth, 16);
    GLint doublebuffer = 0;
    glGetIntegerv(GL_DOUBLEBUFFER, &doublebuffer);
    EXPECT_TRUE(doublebuffer);

    for (int frame = 0; frame < 3; frame++) {
        pump_window_events();
        int w = 0, h = 0;
        ASSERT_TRUE(begin_frame(window, &w, &h));
        EXPECT_EQ(w, 320);
        EXPECT_EQ(h, 240);
        EXPECT_FALSE(begin_frame(window, &w, &h));  // already in a frame
        glViewport(0, 0, w, h);
        glClearColor(0.0f, 0.5f, 1.0f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
        EXPECT_TRUE(end_frame(window));
    }
    close_window(window);
    window = nullptr;
    EXPECT_FALSE(end_frame(nullptr));
    std::string log = log_text();
    const char* order[] = {"Options:\n",         "Creating window\n",
                           "Choosing pixel format\n", "Creating OpenGL context\n",
                           "Deleting OpenGL context\n", "Closing input devices\n",
                           "Killing cursor\n",   "Destroying window\n",
                           "Window shutdown complete\n"};
    size_t at = 0;
    for (const char* line : order) {
        size_t found = log.find(std::string("] ") + line, at);
        ASSERT_NE(found, std::string::npos) << line << "\n" << log;
        at = found;
    }
}

TEST_F(gl_fixture, close_button_and_signals_become_close_events)
{
    push_window_event(SDL_WINDOWEVENT_CLOSE);
    EXPECT_EQ(wait_for(close_code), 1);
    // The window stays until the game closes it.
    int w, h;
    ASSERT_TRUE(begin_frame(window, &w, &h));
    EXPECT_TRUE(end_frame(window));

    raise(SIGTERM);
    EXPECT_EQ(wait_for(close_code), 1);
    raise(SIGINT);
    EXPECT_EQ(wait_for(close_code), 1);
}

TEST_F(gl_fixture, minimised_window_draws_nothing)
{
    push_window_event(SDL_WINDOWEVENT_MINIMIZED);
    pump_window_events();
    int w, h;
    EXPECT_FALSE(begin_frame(window, &w, &h));
    push_window_event(SDL_WINDOWEVENT_RESTORED);
    pump_window_events();
    ASSERT_TRUE(begin_frame(window, &w, &h));
    EXPECT_TRUE(end_frame(window));
}

TEST_F(gl_fixture, keys_buttons_and_text_become_events)
{
    SDL_Event e = {};
    e.type = SDL_KEYDOWN;
    e.key.keysym.scancode = SDL_SCANCODE_RCTRL;
    SDL_PushEvent(&e);
    e.type = SDL_KEYUP;
    SDL_PushEvent(&e);
    e = {};
    e.type = SDL_KEYDOWN;
    e.key.keysym.scancode = SDL_SCANCODE_TAB;
    SDL_PushEvent(&e);
    e = {};
    e.type = SDL_TEXTINPUT;
    SDL_strlcpy(e.text.text, "q", sizeof e.text.text);
    SDL_PushEvent(&e);
    e = {};
    e.type = SDL_MOUSEBUTTONDOWN;
    e.button.button = SDL_BUTTON_RIGHT;
    SDL_PushEvent(&e);

    clock_time before = clock_now();
    pump_window_events();
    int expected[][2] = {{4096 + 285, 1}, {4096 + 285, 0}, {4096 + 15, 1}, {9, 1},
                         {'q', 1},        {mouse_right_code, 1}};
    input_event ev;
    for (auto& x : expected) {
        ASSERT_TRUE(next_event(&ev));
        EXPECT_EQ(ev.code, x[0]);
        EXPECT_EQ(ev.pressed, x[1]);
        // Stamped on the platform clock, at most a moment before the pump.
        long age = (before.sec - ev.time.sec) * 1000 + (before.usec - ev.time.usec) / 1000;
        EXPECT_LT(age, 1000);
    }
    int x = open_axis("cursor-x");
    int y = open_axis("cursor.axis[1]");
    ASSERT_GE(x, 0);
    ASSERT_GE(y, 0);
    // The pointer's position in the window, as the X server reports it.
    SDL_WarpMouseInWindow(window_sdl_handle(window), 17, 33);
    for (int i = 0; i < 400 && read_axis(x) != 17; i++) {
        SDL_Delay(5);
        pump_window_events();
    }
    EXPECT_EQ(read_axis(x), 17);
    EXPECT_EQ(read_axis(y), 33);
    close_axis(x);
    close_axis(y);
    EXPECT_EQ(key_code_by_name("cursor-right"), mouse_right_code);
}

TEST_F(gl_fixture, mode_switch_happens_at_the_next_pump)
{
    request_mode(window, 400, 300, false);
    int w, h;
    ASSERT_TRUE(begin_frame(window, &w, &h));
    pump_window_events();  // inside a frame: the switch waits
    EXPECT_TRUE(end_frame(window));
    pump_window_events();
    // Give the X server a moment to confirm the new size.
    for (int i = 0; i < 200; i++) {
        pump_window_events();
        ASSERT_TRUE(begin_frame(window, &w, &h));
        end_frame(window);
        if (w == 400)
            break;
        SDL_Delay(10);
    }
    EXPECT_EQ(w, 400);
    EXPECT_EQ(h, 300);

    int dw = 0, dh = 0;
    desktop_size(&dw, &dh);
    EXPECT_GT(dw, 0);
    EXPECT_GT(dh, 0);
    const display_mode* modes = display_modes();
    ASSERT_NE(modes, nullptr);
}

// Game pads through SDL's virtual joysticks: names, code bases, buttons,
// hats, axes, unplugging and plugging back in.
struct pad_fixture : gl_fixture {
    // The mouse device only comes with the option that allows more than sticks.
    test::scoped_env options{"VORN_OPTIONS", "[dinputsticksonly:off]"};
    SDL_Joystick* handle[2] = {};

    int attach()
    {
        SDL_VirtualJoystickDesc desc = {};
        desc.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
        desc.type = SDL_JOYSTICK_TYPE_GAMECONTROLLER;
        desc.naxes = 2;
        desc.nbuttons = 3;
        desc.nhats = 1;
        desc.name = "Test Pad 2.0";
        return SDL_JoystickAttachVirtualEx(&desc);
    }
    void pump_a_while()
    {
        for (int i = 0; i < 25; i++) {
            pump_window_events();
            SDL_Delay(2);
        }
    }
    input_event next()
    {
        input_event e;
        e.code = -1;
        // Generous: a loaded machine (sanitizers, parallel tests) may take
        // a while to deliver the virtual device's change.
        for (int i = 0; i < 1000 && !next_event(&e); i++)
            SDL_Delay(2);
        return e;
    }
    void TearDown() override
    {
        for (SDL_Joystick* j : handle)
            if (j)
                SDL_JoystickClose(j);
        gl_fixture::TearDown();
    }
};

TEST_F(pad_fixture, twin_pads_are_told_apart_and_survive_unplugging)
{
    ASSERT_TRUE(find_input_device("Mouse"));
    EXPECT_EQ(key_code_by_name("mouse-right"), (int)find_input_device("Mouse")->code_base + 1);

    int first = attach();
    int second = attach();
    if (first < 0 || second < 0)
        GTEST_SKIP() << "no virtual joysticks: " << SDL_GetError();
    pump_a_while();
    input_device* a = find_input_device("TestPad20");
    input_device* b = find_input_device("TestPad20#2");
    ASSERT_TRUE(a && b) << log_text();
    EXPECT_NE(a->code_base, b->code_base);
    EXPECT_EQ(a->axis_count, 2);
    EXPECT_EQ(a->button_count, 3 + 4);  // the hat gives four buttons
    int devices = input_device_count();
    handle[0] = SDL_JoystickOpen(first);
    handle[1] = SDL_JoystickOpen(second);
    ASSERT_TRUE(handle[0] && handle[1]);
    while (next_event(nullptr)) {
    }

    SDL_JoystickSetVirtualButton(handle[1], 1, SDL_PRESSED);
    input_event e = next();
    EXPECT_EQ(e.code, (int)b->code_base + 1);
    EXPECT_EQ(e.pressed, 1);
    EXPECT_STREQ(key_name_by_code(e.code), "TestPad20#2 button 1");
    EXPECT_EQ(key_code_by_name("TestPad20#2.key[1]"), e.code);

    SDL_JoystickSetVirtualHat(handle[0], 0, SDL_HAT_LEFT);
    e = next();
    EXPECT_EQ(e.code, (int)a->code_base + 3 + 3);
    EXPECT_EQ(e.pressed, 1);

    int axis = open_axis("TestPad20 axis 1");
    ASSERT_GE(axis, 0);
    SDL_JoystickSetVirtualAxis(handle[0], 1, -32768);
    pump_a_while();
    EXPECT_EQ(read_axis(axis), -32767);
    SDL_JoystickSetVirtualAxis(handle[0], 1, 1000);
    pump_a_while();
    EXPECT_EQ(read_axis(axis), 1000);

    // Pulled out with the button held: the button is let go.
    SDL_JoystickClose(handle[1]);
    handle[1] = nullptr;
    ASSERT_EQ(SDL_JoystickDetachVirtual(second), 0);
    e = next();
    EXPECT_EQ(e.code, (int)b->code_base + 1);
    EXPECT_EQ(e.pressed, 0);
    EXPECT_TRUE(b->lost);

    // Plugged back in: the same device, name and code base.
    uint32_t base = b->code_base;
    ASSERT_GE(attach(), 0);
    pump_a_while();
    EXPECT_EQ(input_device_count(), devices);
    EXPECT_FALSE(b->lost);
    EXPECT_EQ(b->code_base, base);
    close_axis(axis);

    std::string log = log_text();
    EXPECT_NE(log.find("] Test Pad 2.0 ("), std::string::npos) << log;
    EXPECT_NE(log.find("] 2 axes, 7 keys\n"), std::string::npos);
    EXPECT_NE(log.find("] Adding axis \"TestPad20#2 axis 1\"\n"), std::string::npos);
    EXPECT_NE(log.find("] TestPad20#2 unplugged\n"), std::string::npos);
}

}  // namespace
