// Picture files: PNG (with its attached text), the predictive raw format
// ("Q7" four channels, "Q6" three), PPM ("P6", "P3") and PGM ("P5", "P2");
// the mip chain every decoded picture is handed around in, the box filter
// that builds its smaller levels, and the writers for every format read.
//
// Ownership: every buffer a function here returns (pixels, samples, text,
// encoded bytes) is allocated with mem_alloc and belongs to the caller, who
// frees it with mem_free or with picture_free / picture_bytes_free.
//
// Failure: every reader fails quietly (returns false and leaves its output
// record empty, nothing logged), except for the warning about an invalid
// custom mip height. Pictures larger than PICTURE_MAX_DIMENSION on a side or
// PICTURE_MAX_BYTES for the top level are refused before any pixel buffer
// is allocated, and pixel buffers of the streamed formats grow with the data
// actually read, so a hostile header cannot make a reader allocate much.
//
// No GL here: the simulation library, the tools and the tests use these.
#pragma once

#include <cstddef>
#include <cstdint>

#include "files/stream.h"

// Largest accepted width or height, and largest top level in bytes.
enum { PICTURE_MAX_DIMENSION = 16384 };
constexpr size_t PICTURE_MAX_BYTES = size_t(256) << 20;

// A decoded picture.
//
// With is_chain, pixels hold a mip chain: the levels one after another, top
// level first; level k + 1 is max(1, w_k / 2) x max(1, h_k / 2); the chain
// ends with the 1 x 1 level. Each level is width x height pixels of
// `channels` bytes, rows top row first, no padding between rows.
// Without is_chain, pixels hold the top level only.
struct picture {
    unsigned char* pixels = nullptr;  // owned (mem_alloc)
    int width = 0;                    // top level, pixels
    int height = 0;
    int channels = 0;                 // bytes per pixel: 1 grey, 3 RGB, 4 RGBA
    bool is_chain = false;
    char* text = nullptr;             // owned attached text (PNG only) or null
};

// Frees pixels and text and empties the record (safe on an empty record).
void picture_free(picture* p);

// 16-bit grey samples, row by row from the top, machine byte order.
struct grey16_picture {
    uint16_t* samples = nullptr;  // owned (mem_alloc)
    int width = 0;
    int height = 0;
};
void grey16_picture_free(grey16_picture* p);

// Encoded file bytes in memory (for archives built in memory).
struct picture_bytes {
    unsigned char* data = nullptr;  // owned (mem_alloc)
    size_t size = 0;
};
void picture_bytes_free(picture_bytes* b);

// ---- mip chain layout ----------------------------------------------------

// Number of levels down to and including 1 x 1 (1 for a 1 x 1 picture).
int mip_level_count(int width, int height);
// Byte offset of a level inside the chain, and the level's size.
size_t mip_level_offset(int width, int height, int channels, int level);
void mip_level_size(int width, int height, int level, int* level_width, int* level_height);
// Bytes of the whole chain; 0 when the sizes are out of range (not positive,
// or beyond the limits above).
size_t mip_chain_bytes(int width, int height, int channels);

// Fills every level after the top one with the box filter. The chain must
// hold mip_chain_bytes(width, height, channels) bytes with the top level set.
// max_alpha: alpha of a smaller level is the maximum of the pixels it covers
// instead of their average (RGBA only).
void build_mip_levels(unsigned char* chain, int width, int height, int channels, bool max_alpha);

// ---- readers ---------------------------------------------------------------

// Reads the first white-space-separated token (at most size - 1 bytes,
// the rest of a longer token is left in the stream). False when the stream
// holds only white space. The stream is left directly after the token.
bool read_picture_magic(data_stream* s, char* buffer, int size);

// PNG by data name (through open_data_file, so archive members and gzip
// variants work). Result: a complete chain of 3 channels, or 4 when the
// picture carries alpha or a transparency chunk. out->text receives the
// attached text: the text chunks before the image data, then those after it,
// then the whole data file name + ".info" when it exists; null when there is
// none of these. "[mip_max_alpha]" in the text selects maximum alpha for the
// smaller levels; "[mip_custom]" takes the smaller levels from the picture
// itself (the top level being the upper two thirds of it).
bool png_decode(const char* name, picture* out);
// The same from an open stream (positioned at the PNG signature). info_name,
// when not null, is the data name whose ".info" file is attached and which
// the custom-level warning names.
bool png_decode_stream(data_stream* s, const char* info_name, picture* out);

// Predictive raw picture, the stream positioned directly after the magic
// ("Q7" or "Q6"). channels_wanted is 3 or 4: a "Q7" picture read as 3 drops
// its fourth byte, a "Q6" picture read as 4 gets alpha 255. Result: a
// complete chain (plain alpha averaging). Reads exactly the picture's bytes,
// so pictures stored inline in a larger file can be followed by more data.
bool predictive_decode(data_stream* s, const char* magic, int channels_wanted, picture* out);

// PPM, the stream positioned directly after the magic ("P6" or "P3");
// samples scaled by 255 / maximum. Result: a complete RGB chain. A maximum
// value outside 1..65535, a negative or zero size or a sample that is not a
// number fails; a text sample above the maximum is stored as 255.
bool ppm_read(data_stream* s, const char* magic, picture* out);

// PGM, the stream positioned directly after the magic ("P5" or "P2"): the
// same rules, one grey byte per pixel, top level only (channels 1).
bool pgm_read(data_stream* s, const char* magic, picture* out);

// Reads the magic itself, then a PPM ("P6", "P3") or predictive ("Q6",
// "Q7") picture as an RGB chain; any other magic fails.
bool read_rgb_picture(data_stream* s, picture* out);
// Reads the magic itself, then a PGM ("P5", "P2"); any other magic fails.
bool read_grey_picture(data_stream* s, picture* out);
// RGBA top level only (is_chain false, channels 4) for the font loader:
// the name as PNG first (3-channel pictures get alpha 255), else as a
// predictive picture read as 4 channels. The PNG's attached text is kept
// in out->text.
bool read_rgba_picture(const char* name, picture* out);
// Any picture by data name: PPM or predictive when the file starts with 'P'
// or 'Q' (RGB), PNG otherwise (RGB or RGBA). False unless a non-empty
// picture of 3 or 4 channels came out.
bool read_any_picture(const char* name, picture* out);

// 16-bit grey PNG reading for terrain heights: palette expanded, small bit
// depths widened, alpha dropped, colour turned to grey with the library's
// default weights, 8-bit values v widened to v * 257.
bool read_grey16_png(const char* name, grey16_picture* out);
// The same from an open stream positioned at the PNG signature.
bool read_grey16_png_stream(data_stream* s, grey16_picture* out);

// ---- writers ---------------------------------------------------------------
// The name forms write through open_data_file(name, "wb") ("@" names go to
// the home directory) and return false when the file cannot be written.
// The encode forms fill out (freed with picture_bytes_free) instead.
// Pixel rows are tightly packed (width * channels bytes each).

// 8-bit PNG of 1 (grey), 2 (grey + alpha), 3 (RGB) or 4 (RGBA) channels,
// no interlace, rows given top row first unless bottom_up. text, when not
// null, is stored in one tEXt chunk before the image data.
bool encode_png(const unsigned char* pixels, int width, int height, int channels,
                bool bottom_up, const char* text, picture_bytes* out);
bool write_png_picture(const char* name, const unsigned char* pixels, int width, int height,
                       int channels, const char* text);
// Screenshots: 8-bit RGB, rows given bottom row first (a frame-buffer
// read-back), written top row first.
bool write_png_rgb(const char* name, const unsigned char* pixels, int width, int height);
// Terrain heights: 16-bit grey, samples in machine byte order, top row
// first (stored big-endian as the format requires).
bool encode_png_grey16(const uint16_t* samples, int width, int height, picture_bytes* out);
bool write_png_grey16(const char* name, const uint16_t* samples, int width, int height);

// PPM "P6" (binary) or, with text, "P3"; maximum value 255.
bool encode_ppm(const unsigned char* rgb, int width, int height, bool text, picture_bytes* out);
bool write_ppm(const char* name, const unsigned char* rgb, int width, int height, bool text);
// PGM "P5" (binary) or, with text, "P2"; maximum value 255.
bool encode_pgm(const unsigned char* grey, int width, int height, bool text, picture_bytes* out);
bool write_pgm(const char* name, const unsigned char* grey, int width, int height, bool text);
// Predictive raw: "Q6" from 3 channels, "Q7" from 4. The bytes begin with
// the magic, so they can also be placed inline after a "Q7" token.
bool encode_predictive(const unsigned char* pixels, int width, int height, int channels,
                       picture_bytes* out);
bool write_predictive(const char* name, const unsigned char* pixels, int width, int height,
                      int channels);
