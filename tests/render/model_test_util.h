// Helpers for the model tests: ".qm" text made from a few numbers, and a
// log of the test's own to find the reader's messages in.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/messages.h"
#include "platform/log.h"
#include "test_support.h"

namespace qmtest {

struct vertex {
    float x, y, z;
    float nx = 0, ny = 0, nz = 1;
    float u = 0, v = 0;
    std::vector<float> weights = {};
};

struct part {
    float shininess = 24, reflectivity = 1;
    float specular[3] = {0.5f, 0.5f, 0.5f};
    std::vector<vertex> vertices;
    std::vector<int> triangles;
};

inline std::string number(double v)
{
    char text[64];
    snprintf(text, sizeof text, "%g", v);
    return text;
}

// The vertex and triangle lines of a part (without its header).
inline std::string body(const part& p)
{
    std::string out;
    for (const vertex& v : p.vertices) {
        for (float f : {v.x, v.y, v.z, v.nx, v.ny, v.nz, v.u, v.v})
            out += number(f) + " ";
        for (float w : v.weights)
            out += number(w) + " ";
        out += "\n";
    }
    for (size_t i = 0; i < p.triangles.size(); i += 3)
        out += std::to_string(p.triangles[i]) + " " + std::to_string(p.triangles[i + 1]) + " " +
               std::to_string(p.triangles[i + 2]) + "\n";
    return out;
}

inline std::string header(const part& p)
{
    return number(p.shininess) + " " + number(p.reflectivity) + " " + number(p.specular[0]) + " " +
           number(p.specular[1]) + " " + number(p.specular[2]) + " " + std::to_string(p.vertices.size()) + " " +
           std::to_string(p.triangles.size() / 3) + "\n";
}

// "QM1", or "QM2 bones skeleton" when bones > 0, then every part.
inline std::string file(const std::vector<part>& parts, int bones = 0)
{
    std::string out = bones > 0 ? "QM2 " + std::to_string(bones) + " skeleton\n" : "QM1\n";
    for (const part& p : parts)
        out += header(p) + body(p);
    return out;
}

// A square of side 2 x size in the xy plane centred on (cx, cy), facing +z,
// texture u along +x and v along +y.
inline part square(float cx, float cy, float size, float shininess = 24)
{
    part p;
    p.shininess = shininess;
    p.vertices = {{cx - size, cy - size, 0, 0, 0, 1, 0, 0},
                  {cx + size, cy - size, 0, 0, 0, 1, 1, 0},
                  {cx + size, cy + size, 0, 0, 0, 1, 1, 1},
                  {cx - size, cy + size, 0, 0, 0, 1, 0, 1}};
    p.triangles = {0, 1, 2, 0, 2, 3};
    return p;
}

// Points the log at a file of the test's own; text() reads what was
// written since the last call.
struct log_capture {
    test::temp_dir dir;
    std::string path = dir / "log.txt";
    test::scoped_env env{"VORN_LOGFILE", path.c_str()};
    log_capture()
    {
        log_reset_for_tests();
        clear_messages();
    }
    ~log_capture() { log_reset_for_tests(); }
    std::string text()
    {
        log_close();
        std::string out = test::file_exists(path) ? test::read_file(path) : std::string();
        // The next message opens the file afresh.
        log_reset_for_tests();
        test::write_file(path, "");
        return out;
    }
};

inline int count_of(const std::string& text, const std::string& what)
{
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        n++;
    return n;
}

}  // namespace qmtest
