// Byte, line and block access over plain, gzip-compressed and scrambled
// files, each optionally limited to a window of a larger file. The formatted
// scanner lives in stream_scan.cpp.
#include "files/stream.h"

#include <cstring>

#include <zlib.h>

#include "files/memory.h"
#include "files/scramble.h"

struct gzip_state {
    z_stream z;
    bool ready;             // inflateInit2 succeeded, so inflateEnd is owed
    bool ended;             // stream end, corrupt data or input exhausted
    long in_limit;          // compressed bytes the stream may read
    long in_consumed;       // compressed bytes read so far
    unsigned char* out_next;  // next decoded byte to hand out
    unsigned char* out_end;   // end of the decoded bytes in out
    unsigned char in[STREAM_GZIP_IN];
    unsigned char out[STREAM_GZIP_OUT];
};

namespace {

enum {
    GZIP_FLAG_HCRC = 2,
    GZIP_FLAG_EXTRA = 4,
    GZIP_FLAG_NAME = 8,
    GZIP_FLAG_COMMENT = 16,
    GZIP_FLAG_RESERVED = 32,  // this bit and above
};

void* gzip_alloc(void*, uInt items, uInt size)
{
    return mem_calloc(items, size);
}

void gzip_free(void*, void* pointer)
{
    mem_free(pointer);
}

// Raw bytes under the decoder: through the descrambling filter when the
// file is scrambled (the filter keeps to the window itself), else from file.
size_t read_raw(data_stream* s, unsigned char* buffer, size_t n)
{
    if (s->scramble)
        return scramble_read(s->scramble, buffer, n);
    size_t got = 0;
    while (got < n) {
        size_t r = fread(buffer + got, 1, n - got, s->file);
        if (r == 0)
            break;
        got += r;
    }
    return got;
}

// Reads and checks the gzip header from the first buffered bytes and starts
// raw inflate on the rest.
bool gzip_start(data_stream* s, gzip_state* g)
{
    g->in_limit = s->limit;
    long want = s->limit < (long)STREAM_GZIP_IN ? s->limit : (long)STREAM_GZIP_IN;
    size_t got = want > 0 ? read_raw(s, g->in, (size_t)want) : 0;
    g->in_consumed = (long)got;

    const unsigned char* b = g->in;
    // Fixed part: magic, method, flags, mtime (4), extra flags, OS.
    if (got < 10 || b[0] != 0x1f || b[1] != 0x8b || b[2] != 8)
        return false;
    int flags = b[3];
    if (flags >= GZIP_FLAG_RESERVED)
        return false;
    size_t at = 10;
    if (flags & GZIP_FLAG_EXTRA) {
        if (got - at < 2)
            return false;
        size_t extra = (size_t)b[at] | ((size_t)b[at + 1] << 8);
        at += 2;
        if (got - at < extra)
            return false;
        at += extra;
    }
    for (int flag : {GZIP_FLAG_NAME, GZIP_FLAG_COMMENT}) {
        if (!(flags & flag))
            continue;
        const void* zero = memchr(b + at, 0, got - at);
        if (!zero)
            return false;
        at = (size_t)(static_cast<const unsigned char*>(zero) - b) + 1;
    }
    if (flags & GZIP_FLAG_HCRC) {
        if (got - at < 2)
            return false;
        at += 2;
    }

    memset(&g->z, 0, sizeof g->z);
    g->z.zalloc = gzip_alloc;
    g->z.zfree = gzip_free;
    g->z.opaque = nullptr;
    g->z.next_in = g->in + at;
    g->z.avail_in = (uInt)(got - at);
    if (inflateInit2(&g->z, -15) != Z_OK)
        return false;
    g->ready = true;
    return true;
}

// Refills the decoded output. Returns false at the end of the data: the
// deflate stream ended, the data are corrupt, or the compressed input ran
// out before the stream's end (the bytes decoded so far have been handed out).
bool gzip_fill(data_stream* s)
{
    gzip_state* g = s->gz;
    g->out_next = g->out;
    g->out_end = g->out;
    while (!g->ended) {
        bool exhausted = false;
        if (g->z.avail_in == 0) {
            long room = g->in_limit - g->in_consumed;
            size_t want = room < (long)STREAM_GZIP_IN ? (size_t)(room > 0 ? room : 0) : (size_t)STREAM_GZIP_IN;
            size_t got = want > 0 ? read_raw(s, g->in, want) : 0;
            g->in_consumed += (long)got;
            g->z.next_in = g->in;
            g->z.avail_in = (uInt)got;
            exhausted = got == 0;
        }
        uInt avail_before = g->z.avail_in;
        g->z.next_out = g->out;
        g->z.avail_out = STREAM_GZIP_OUT;
        // With no new input inflate may still flush output held back when
        // the previous call filled the buffer, so call it even then.
        int r = inflate(&g->z, Z_NO_FLUSH);
        size_t produced = STREAM_GZIP_OUT - g->z.avail_out;
        if (r == Z_STREAM_END)
            g->ended = true;
        else if (r != Z_OK && r != Z_BUF_ERROR)
            g->ended = true;  // corrupt data or no memory: end here
        else if (produced == 0 && (exhausted || g->z.avail_in == avail_before))
            g->ended = true;  // truncated, or no progress possible
        if (produced > 0) {
            g->out_end = g->out + produced;
            return true;
        }
    }
    return false;
}

// The next byte from below the pushback, not yet counted in position.
inline int source_byte(data_stream* s)
{
    if (s->gz) {
        gzip_state* g = s->gz;
        if (g->out_next == g->out_end && !gzip_fill(s))
            return -1;
        return *g->out_next++;
    }
    if (s->scramble) {
        unsigned char c;
        return scramble_read(s->scramble, &c, 1) == 1 ? c : -1;
    }
    if (s->position >= s->limit || !s->file)
        return -1;
    int c = getc_unlocked(s->file);
    return c == EOF ? -1 : c;
}

bool is_plain(const data_stream* s)
{
    return !s->gzip && !s->scrambled;
}

}  // namespace

bool start_stream(data_stream* s, FILE* file, long base_offset, long limit, bool gzip, bool scrambled)
{
    s->file = file;
    s->base_offset = base_offset;
    s->limit = limit < 0 ? 0 : limit;
    s->position = 0;
    s->pushback = -1;
    s->gzip = gzip;
    s->scrambled = scrambled;
    s->gz = nullptr;
    s->scramble = nullptr;
    if (scrambled) {
        s->scramble = scramble_start(file, s->limit);
        if (!s->scramble) {
            s->file = nullptr;
            return false;
        }
    }
    if (gzip) {
        gzip_state* g = static_cast<gzip_state*>(mem_alloc(sizeof(gzip_state)));
        if (g) {
            g->ready = false;
            g->ended = false;
            g->out_next = g->out;
            g->out_end = g->out;
            s->gz = g;
        }
        if (!g || !gzip_start(s, g)) {
            if (g)
                mem_free(g);
            s->gz = nullptr;
            if (s->scramble)
                scramble_end(s->scramble);
            s->scramble = nullptr;
            s->file = nullptr;
            return false;
        }
    }
    return true;
}

void end_stream(data_stream* s)
{
    if (s->gz) {
        if (s->gz->ready)
            inflateEnd(&s->gz->z);
        mem_free(s->gz);
        s->gz = nullptr;
    }
    if (s->scramble) {
        scramble_end(s->scramble);
        s->scramble = nullptr;
    }
    if (s->file) {
        fclose(s->file);
        s->file = nullptr;
    }
    s->pushback = -1;
}

int stream_getc(data_stream* s)
{
    if (s->pushback >= 0) {
        int c = s->pushback;
        s->pushback = -1;
        s->position++;
        return c;
    }
    int c = source_byte(s);
    if (c >= 0)
        s->position++;
    return c;
}

int stream_peekc(data_stream* s)
{
    if (s->pushback < 0)
        s->pushback = source_byte(s);
    return s->pushback;
}

char* stream_gets(data_stream* s, char* buffer, int size)
{
    if (!buffer || size < 1)
        return nullptr;
    int n = 0;
    while (n < size - 1) {
        int c = stream_getc(s);
        if (c < 0)
            break;
        buffer[n++] = (char)c;
        if (c == '\n')
            break;
    }
    if (n == 0 && size > 1)
        return nullptr;
    buffer[n] = 0;
    return buffer;
}

size_t stream_read(data_stream* s, void* buffer, size_t n)
{
    unsigned char* out = static_cast<unsigned char*>(buffer);
    if (is_plain(s)) {
        long room = s->limit - s->position;
        if (room <= 0)
            return 0;
        if (n > (size_t)room)
            n = (size_t)room;
    }
    size_t done = 0;
    if (n > 0 && s->pushback >= 0) {
        out[done++] = (unsigned char)s->pushback;
        s->pushback = -1;
    }
    if (s->gz) {
        gzip_state* g = s->gz;
        while (done < n) {
            if (g->out_next == g->out_end && !gzip_fill(s))
                break;
            size_t take = (size_t)(g->out_end - g->out_next);
            if (take > n - done)
                take = n - done;
            memcpy(out + done, g->out_next, take);
            g->out_next += take;
            done += take;
        }
    } else if (s->scramble) {
        done += scramble_read(s->scramble, out + done, n - done);
    } else if (s->file) {
        while (done < n) {
            size_t r = fread(out + done, 1, n - done, s->file);
            if (r == 0)
                break;
            done += r;
        }
    }
    s->position += (long)done;
    return done;
}

bool stream_seek(data_stream* s, long position)
{
    if (!is_plain(s) || !s->file || position < 0 || position >= s->limit)
        return false;
    if (fseek(s->file, s->base_offset + position, SEEK_SET) != 0)
        return false;
    s->pushback = -1;
    s->position = position;
    return true;
}

// Writing acts on the file directly; compressed and scrambled streams are
// read-only.
int stream_putc(data_stream* s, int c)
{
    if (!is_plain(s) || !s->file)
        return EOF;
    return fputc(c, s->file);
}

int stream_puts(data_stream* s, const char* text)
{
    if (!is_plain(s) || !s->file)
        return EOF;
    return fputs(text, s->file);
}

size_t stream_write(data_stream* s, const void* buffer, size_t n)
{
    if (!is_plain(s) || !s->file)
        return 0;
    return fwrite(buffer, 1, n, s->file);
}

int stream_printf(data_stream* s, const char* format, ...)
{
    if (!is_plain(s) || !s->file)
        return -1;
    va_list args;
    va_start(args, format);
    int r = vfprintf(s->file, format, args);
    va_end(args);
    return r;
}

int stream_flush(data_stream* s)
{
    if (!s->file)
        return EOF;
    return fflush(s->file);
}
