// Shared internals of the picture readers and writers. Only src/render's
// picture_*.cpp files include this.
#pragma once

#include <cstddef>

#include "render/picture.h"

namespace picture_internal {

// Bytes of a top level of the given size, or 0 when the size is not
// accepted (not positive, a side above PICTURE_MAX_DIMENSION, or more than
// PICTURE_MAX_BYTES).
size_t top_level_bytes(int width, int height, int channels);

// A byte buffer that grows with what is actually read, up to a known final
// size, so a header promising a huge picture costs nothing until the data
// arrive. Plain C data: safe to keep across a longjmp.
struct growing_buffer {
    unsigned char* data;
    size_t capacity;
};
// Makes room for at least `needed` bytes (never beyond `final_size`);
// false when memory runs out (the buffer is kept).
bool grow_to(growing_buffer* b, size_t needed, size_t final_size);

// Bytes written in memory by the encoders.
struct byte_sink {
    unsigned char* data;
    size_t size;
    size_t capacity;
    bool failed;  // an allocation failed; later appends do nothing
};
void sink_append(byte_sink* sink, const void* bytes, size_t n);
void sink_printf(byte_sink* sink, const char* format, ...) __attribute__((format(printf, 2, 3)));
// Moves the sink's bytes into out; false (and freed) when it failed.
bool sink_finish(byte_sink* sink, picture_bytes* out);

// Writes bytes to a data name through the data file layer.
bool write_bytes_to_name(const char* name, const picture_bytes* bytes);
// Writes what an encoder produced (when it succeeded) and frees it.
bool write_encoded(const char* name, bool encoded, picture_bytes* bytes);

// Takes a top level of p->width x p->height (p->pixels holding at least
// the top level) and turns p into a complete chain, filling the smaller
// levels with the box filter. False when memory runs out (p is freed).
bool finish_chain(picture* p, bool max_alpha);

}  // namespace picture_internal
