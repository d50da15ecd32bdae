#include "gl_test_context.h"

#include <SDL.h>

#include <cstdlib>

#include "platform/input.h"
#include "platform/log.h"
#include "platform/window.h"

// System libraries behind the window (SDL's D-Bus connection, Mesa) keep
// allocations for the life of the process.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libdbus-1.so\n"
           "leak:swrast_dri.so\n"
           "leak:libGLX_mesa.so\n"
           "leak:libLLVM\n"
           "leak:libX11.so\n";
}

void gl_test::SetUp()
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
    window = create_gl_window("Kessrig render test", width, height, 24, 8, 24, 0, 0);
    ASSERT_NE(window, nullptr) << test::read_file(log_path);
    gl_init_caps();
    glViewport(0, 0, width, height);
}

void gl_test::TearDown()
{
    gl_caps_reset();
    if (window)
        close_window(window);
    window = nullptr;
    input_reset_for_tests();
    options_reset_for_tests();
    log_reset_for_tests();
}

std::string gl_test::log_text()
{
    log_close();
    return test::read_file(log_path);
}

std::vector<unsigned char> gl_test::read_pixels(int x, int y, int w, int h)
{
    std::vector<unsigned char> out((size_t)w * h * 3);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(x, y, w, h, GL_RGB, GL_UNSIGNED_BYTE, out.data());
    return out;
}

std::vector<unsigned char> gl_test::read_texture(unsigned id, int level, int* w, int* h)
{
    glBindTexture(GL_TEXTURE_2D, id);
    GLint tw = 0, th = 0;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_WIDTH, &tw);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_HEIGHT, &th);
    std::vector<unsigned char> out((size_t)tw * th * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    if (tw > 0 && th > 0)
        glGetTexImage(GL_TEXTURE_2D, level, GL_RGBA, GL_UNSIGNED_BYTE, out.data());
    glBindTexture(GL_TEXTURE_2D, 0);
    *w = tw;
    *h = th;
    return out;
}
