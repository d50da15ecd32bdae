// Helpers for the track tests: writing track files into a test data
// directory and reading back the message lines a loader reported.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "core/messages.h"
#include "render/picture.h"
#include "test_support.h"

namespace track_test {

// Message lines added since the last clear_messages(), oldest first, each
// without its trailing newline.
inline std::vector<std::string> messages()
{
    std::vector<std::string> out;
    for (int i = 0; i < g_messages.next; i++) {
        std::string line = g_messages.ring[i];
        if (!line.empty() && line.back() == '\n')
            line.pop_back();
        out.push_back(line);
    }
    return out;
}

inline bool has_message(const std::string& text)
{
    for (const std::string& line : messages())
        if (line == text)
            return true;
    return false;
}

inline std::string bytes_of(const picture_bytes& b)
{
    return std::string((const char*)b.data, b.size);
}

// "terrain.hf" with a header and raw ":" samples.
inline std::string raw_terrain(int grid_log2, float spacing, float h0, float h1, const std::vector<uint16_t>& v)
{
    char header[128];
    snprintf(header, sizeof header, "%d %f %f %f\n:", grid_log2, (double)spacing, (double)h0, (double)h1);
    std::string out = header;
    for (uint16_t s : v) {
        out += (char)(s & 0xff);
        out += (char)(s >> 8);
    }
    return out;
}

inline int samples_per_side(int grid_log2)
{
    return (2 << grid_log2) + 1;
}

// A "P6" picture of n x n pixels, every pixel (r, g, b).
inline std::string ppm(int w, int h, uint8_t r, uint8_t g, uint8_t b)
{
    std::string out = "P6\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
    for (int k = 0; k < w * h; k++) {
        out += (char)r;
        out += (char)g;
        out += (char)b;
    }
    return out;
}

inline std::string pgm(int w, int h, uint8_t v)
{
    std::string out = "P5\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
    out.append((size_t)w * (size_t)h, (char)v);
    return out;
}

// Writes a loadable track ground (raw samples, shadingx2.ppm) of the given
// size into dir; every sample holds value.
inline void write_flat_ground(const std::string& dir, int grid_log2, uint16_t value)
{
    const int n = samples_per_side(grid_log2);
    test::write_file(dir + "/terrain.hf",
                     raw_terrain(grid_log2, 2.0f, 0.0f, 64.0f, std::vector<uint16_t>((size_t)n * n, value)));
    test::write_file(dir + "/shadingx2.ppm", ppm(n, n, 100, 110, 120));
}

}  // namespace track_test
