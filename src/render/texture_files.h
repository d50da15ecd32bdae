// The GL-free half of the texture loader: the ".seq" animation reader, the
// "LINK" target reader, and the reduction of a mip chain before it is
// uploaded (power-of-two rounding, the texture level's dropped levels and
// the redundant-level prediction). The simulation library, the fuzz
// targets and the tests use these without a GL context; texture.cpp puts
// the results into GL textures.
#pragma once

#include <cstddef>

#include "files/stream.h"

// ---- animated sequences (".seq", magic "ANIM1") ---------------------------

// One picture of a sequence: a complete mip chain (render/picture.h layout)
// of power-of-two sides and at most SEQ_MAX_PICTURE_PIXELS pixels.
struct seq_picture {
    int width = 0;
    int height = 0;
    int channels = 0;               // 3 or 4
    unsigned char* data = nullptr;  // owned (mem_alloc)
};

// Largest top level of an animated picture, and the most pictures one file
// may hold: each picture can name a large PNG file, so a short file could
// otherwise make the reader decode without end.
constexpr long SEQ_MAX_PICTURE_PIXELS = 65536;
enum { SEQ_MAX_PICTURES = 256 };

struct seq_file {
    int sequence_length = 0;  // entries in sequence, at least 1
    int picture_count = 0;    // entries in pictures, at least 1
    int ticks_per_frame = 0;  // world ticks per entry, at least 1
    int loop = 0;             // non-zero repeats, zero holds the last entry
    seq_picture* pictures = nullptr;  // owned
    int* sequence = nullptr;          // owned; every entry in 0..picture_count - 1
};

// Reads a sequence from a stream positioned directly after the "ANIM1"
// magic. The header "%d %d %d %d" (sequence length, picture count, ticks
// per frame, loop), the sequence entries, then each picture: "Q7" and a
// predictive picture inline, or "PNG" and the rest of the line naming a PNG
// data file. Every picture must have the size and channel count of the
// first. False (everything freed, out empty) on any fault; picture faults
// and refused counts are logged. Arrays grow with the entries actually read,
// so counts the file cannot hold cost little.
bool seq_read(data_stream* s, seq_file* out);
void seq_free(seq_file* seq);

// ---- links ("LINK") -----------------------------------------------------------

// Longest target name a link file may hold.
enum { LINK_TARGET_MAX = 1023 };

// Reads the rest of a stream positioned after the "LINK" magic (at most
// LINK_TARGET_MAX bytes) and trims white space on both ends into target
// (size bytes, at least LINK_TARGET_MAX + 1). False when no name is left.
bool link_read_target(data_stream* s, char* target, size_t size);

// ---- reduction before upload ----------------------------------------------------

bool is_power_of_two(int d);
// The largest power of two strictly below d (1 when d <= 2): the texture
// loader's rounding, so 256 x 100 becomes 128 x 64.
int power_of_two_below(int d);
// The largest power of two not above d (d >= 1): the rounding of pictures
// kept in memory, so 256 x 100 becomes 256 x 64.
int power_of_two_not_above(int d);

// A new mip chain of new_width x new_height (mem_alloc'd) whose top level
// takes for (x, y) the source pixel (x * width / new_width, y * height /
// new_height) of the given top level, the smaller levels built with the box
// filter (plain alpha averaging). Null when the sizes are out of range.
unsigned char* resample_top_level(const unsigned char* top, int width, int height, int channels, int new_width,
                                  int new_height);

// Whether a top level of width x height carries no more detail than the
// next level (next_width x next_height, directly after it in a chain):
// every channel of every pixel lies within 4 of its prediction by bilinear
// weights (3:1) from the next level.
bool level_is_redundant(const unsigned char* top, int width, int height, const unsigned char* next, int next_width,
                        int next_height, int channels);

// What is left of a chain to upload.
struct texture_reduction {
    unsigned char* owned = nullptr;        // chain made by rounding (mem_alloc), or null
    const unsigned char* chain = nullptr;  // the chain to upload (inside owned or the caller's)
    int width = 0;
    int height = 0;
    int redundant_levels = 0;  // discarded by the prediction test
};

// Rounds a non-power-of-two chain down (power_of_two_below), discards up to
// `drop` top levels while both sides exceed 128, then discards top levels
// while a side exceeds 16 and the level is redundant. When the prediction
// discarded a level and name is given, logs "%.64s reduced to %dx%d
// (originally %dx%d)". False for sizes or channels out of range.
bool texture_reduce(const unsigned char* chain, int width, int height, int channels, int drop, const char* name,
                    texture_reduction* out);
void texture_reduction_free(texture_reduction* r);
