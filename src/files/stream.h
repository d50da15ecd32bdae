// File streams: one kind of open file over plain, gzip-compressed and
// scrambled storage, optionally limited to a window of a larger file (an
// archive member). Every data-file parser reads through these operations.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>

struct gzip_state;
struct scramble_state;

// Sizes of the gzip buffers held inside the stream, so reading allocates
// nothing after set-up.
enum { STREAM_GZIP_IN = 16384, STREAM_GZIP_OUT = 1024 };
// The limit of a stream over a whole file (the largest signed 32-bit value).
enum : long { STREAM_WHOLE_FILE = 0x7fffffff };

struct data_stream {
    FILE* file = nullptr;
    long base_offset = 0;   // first byte of the stream inside file
    long limit = 0;         // bytes a plain stream may deliver
    long position = 0;      // bytes delivered so far
    int pushback = -1;      // byte held back by a peek, -1 for none
    bool gzip = false;
    bool scrambled = false;
    struct gzip_state* gz = nullptr;        // owned; null unless gzip
    scramble_state* scramble = nullptr;     // owned; null unless scrambled
};

// Set-up and teardown (the data file system calls these).
// Returns false, leaving the caller to close file, when the descrambling
// filter cannot start or the gzip header is invalid.
bool start_stream(data_stream* s, FILE* file, long base_offset, long limit, bool gzip, bool scrambled);
void end_stream(data_stream* s);

// Reading. Each hands out the pushed-back byte first.
int stream_getc(data_stream* s);                          // 0..255, or -1 at end
int stream_peekc(data_stream* s);                         // next byte kept in pushback, or -1
char* stream_gets(data_stream* s, char* buffer, int size); // like fgets; null when end came first
size_t stream_read(data_stream* s, void* buffer, size_t n); // count delivered
// Formatted scanning, scanf-like: d i o u x X f (e g) s c [ n %, with "*",
// widths and the size letters hh h l ll L q. Returns the number of stored
// conversions; -1 when input ends before the first conversion or a literal
// in the format does not match (the mismatching byte stays unread). "%s" and
// "%[" without a width are unbounded: always give a width when storing into
// a fixed buffer ("%1023s" for 1024 bytes).
int stream_scan(data_stream* s, const char* format, ...) __attribute__((format(scanf, 2, 3)));
int stream_vscan(data_stream* s, const char* format, va_list args);
bool stream_seek(data_stream* s, long position);           // plain unscrambled streams only

// Writing (plain files only).
int stream_putc(data_stream* s, int c);
int stream_puts(data_stream* s, const char* text);
size_t stream_write(data_stream* s, const void* buffer, size_t n);
int stream_printf(data_stream* s, const char* format, ...) __attribute__((format(printf, 2, 3)));
int stream_flush(data_stream* s);
