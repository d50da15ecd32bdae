// A hidden-enough window with a GL context for the render tests (run under
// xvfb-run; skipped when no display can be opened). The log goes to a file
// of the test's own, which log_text() reads back.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "render/gl_caps.h"
#include "test_support.h"

struct game_window;

struct gl_test : ::testing::Test {
    test::temp_dir dir;
    std::string log_path = dir / "log.txt";
    test::scoped_env log_env{"VORN_LOGFILE", log_path.c_str()};
    game_window* window = nullptr;
    int width = 320, height = 240;

    void SetUp() override;
    void TearDown() override;
    // Closes the log and returns what was written to it.
    std::string log_text();
    // Reads the back buffer (RGB, bottom row first).
    std::vector<unsigned char> read_pixels(int x, int y, int w, int h);
    // Reads the top level of a texture (RGBA).
    std::vector<unsigned char> read_texture(unsigned id, int level, int* w, int* h);
};
