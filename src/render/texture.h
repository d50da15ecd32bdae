// Textures and pictures kept in memory: every texture the game draws with
// comes through here. Users ask by data name and get a GL texture name back
// (the same name twice gives the same texture); ".seq" animations and
// one-line "LINK" files are textures too. Oversized or blurry pictures are
// cut at load time (the texture level drops whole levels; levels that carry
// no more detail than the next are found by a prediction test).
//
// Registered textures belong to the registry: users hold plain GL names and
// never delete them; textures_release deletes what the current track no
// longer uses. Number-plate textures are not registered: their owner
// deletes them.
#pragma once

#include <cstddef>
#include <cstdint>

// The settings the loaders read (the configuration and the command line
// fill them at start-up).
enum texture_compress_mode { texture_compress_no = 0, texture_compress_yes = 1, texture_compress_always = 2 };
struct texture_settings {
    int level = 0;        // levels to drop, 0..10
    int compress = texture_compress_yes;
    int debug = 0;        // "debug" messages appear from 1 on
};
extern texture_settings g_texture_settings;

// texture_create flags.
enum texture_flag_bits {
    texture_repeat_h = 1,
    texture_repeat_v = 2,
    texture_compress = 4,
    texture_single_level = 8,
};

// Bytes of texture levels uploaded since the last reset (a new track sets
// it to 0), and the generation, advanced at the start of a race on a new
// track (0: loaded before the first track, kept for good).
extern unsigned long texture_memory;
extern int texture_generation;

// ---- loading --------------------------------------------------------------------

// The texture of a data name, or 0 when it cannot be loaded. A leading "!"
// loads it at full resolution; "-hrepeat.", "-vrepeat." and "-repeat." in
// the name repeat it horizontally, vertically or both (else clamped).
unsigned texture_get(const char* name);
// The registered name of a texture, or null; its attached PNG text, or null.
const char* texture_name(unsigned id);
const char* texture_text(unsigned id);

// The upload itself: chain is a mip chain (render/picture.h layout) of
// width x height pixels of channels (3 or 4) bytes; flags as above.
unsigned texture_create(const unsigned char* chain, int width, int height, int channels, int flags);
// Power-of-two rounding, the texture level's drop and the redundant-level
// test, then texture_create. The chain is not taken over. name (may be
// null) is only for the reduction's log line.
unsigned texture_reduce_and_create(const unsigned char* chain, int width, int height, int channels, int drop,
                                   int flags, const char* name);

// ---- pictures in memory (software terrain texturing) ------------------------

// An RGBA mip chain of the named picture, registered (the registry owns
// it); false when it cannot be loaded.
bool image_get(const char* name, const unsigned char** chain, int* width, int* height);
// The registered name of a picture in memory, or null.
const char* image_name(const unsigned char* chain);
// Power-of-two rounding (each side down to a power of two not above it)
// and dropping of top levels (at least `drop` of them, and while a level has
// more than `limit` pixels, but never below 16384 pixels). *chain is
// replaced by a new mem_alloc'd chain (the old one freed) and the sizes
// updated. limit 0: no limit.
void image_fit(unsigned char** chain, int* width, int* height, int channels, long limit, int drop);

// ---- number plates -------------------------------------------------------------

// A w x h plate with the text painted in the digit font: white becomes the
// background colour, black the figure colour; mipmapped and clamped, the
// outermost ring of every level transparent. Not registered. Until the
// digit fonts exist the plate is blank.
unsigned number_plate_texture(const char* text, int width, int height, const uint8_t background[3],
                              const uint8_t figure[3]);

// The digit fonts number plates are painted with (the text module sets
// them once the fonts are loaded): an RGBA picture and its glyph table.
struct plate_font {
    const unsigned char* pixels = nullptr;  // RGBA, width x height
    int width = 0, height = 0;
    // Per byte: texture coordinates of the glyph (0..1); a glyph with
    // right <= left is absent.
    float left[256] = {}, top[256] = {}, right[256] = {}, bottom[256] = {};
};
void set_plate_fonts(const plate_font* digits, const plate_font* condensed);

// ---- animations -------------------------------------------------------------------

// Once per drawn frame with the world tick: puts each running animation's
// picture of that tick into its texture (only when it changes).
void anim_update(int tick);
// Restarts an animation at tick (clears stopped); stops one. Textures that
// are not animated are ignored.
void anim_start(unsigned texture, int tick);
void anim_stop(unsigned texture);

// ---- release ------------------------------------------------------------------------

// all false: deletes the textures, pictures and animations the current
// generation no longer uses; all true (shutdown): deletes everything and
// frees the registries.
void textures_release(bool all);
