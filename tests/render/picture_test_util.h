// Helpers for the picture tests: PNG files made with libpng directly (so
// the tests do not depend on the writers under test), gzip in memory, and
// reading a whole picture through a plain path.
#pragma once

#include <png.h>

#include <string>
#include <vector>

#include "render/picture.h"

namespace picture_test {

struct png_layout {
    int width = 1;
    int height = 1;
    int bit_depth = 8;
    int color_type = PNG_COLOR_TYPE_RGB;
    bool interlace = false;
    std::vector<png_color> palette;
    std::vector<unsigned char> palette_alpha;  // tRNS for palette pictures
    bool grey_transparent = false;             // tRNS for grey pictures
    int grey_transparent_value = 0;
    std::vector<std::string> text_before;      // tEXt chunks before the image data
    std::vector<std::string> text_after;       // tEXt chunks after it
    std::vector<unsigned char> rows;           // rows as stored (big-endian 16-bit)
};

// The PNG file bytes; fails the current test when libpng refuses.
std::string make_png(const png_layout& entry);

// The same bytes as a gzip file.
std::string gzip(const std::string& bytes);

// Bytes of an encoded picture as a string.
std::string bytes_of(const picture_bytes& b);

// Reads a picture file by first token through read_rgb_picture.
bool read_rgb_file(const std::string& path, picture* out);

}  // namespace picture_test
