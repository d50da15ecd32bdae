// ChaCha20 descrambling over a window of an open file.
#include "files/scramble.h"

#include <cstring>

#include <nettle/chacha.h>

#include "files/memory.h"

namespace {

const unsigned char scramble_magic[SCRAMBLE_MAGIC_SIZE] = {'K', 'Z', 'S', '1'};

// Fixed key material. Changing it makes every scrambled file unreadable.
const uint8_t scramble_key[CHACHA_KEY_SIZE] = {
    0x6b, 0x65, 0x73, 0x73, 0x72, 0x69, 0x67, 0x2d, 0x9e, 0x37, 0x79, 0xb9, 0x7f, 0x4a, 0x7c, 0x15,
    0xf3, 0x9c, 0xc0, 0x60, 0x5c, 0xed, 0xc8, 0x34, 0x10, 0x82, 0x27, 0x6b, 0xf3, 0xa2, 0x72, 0x51,
};

// Bytes decrypted per refill; a multiple of the ChaCha block so that the
// key stream stays continuous across refills.
enum { SCRAMBLE_CHUNK = 64 * CHACHA_BLOCK_SIZE };

void set_up_cipher(chacha_ctx* ctx, const uint8_t* nonce)
{
    chacha_set_key(ctx, scramble_key);
    chacha_set_nonce(ctx, nonce);
}

// fread until n bytes or the end; a short count means the end.
size_t read_fully(FILE* file, unsigned char* buffer, size_t n)
{
    size_t got = 0;
    while (got < n) {
        size_t r = fread(buffer + got, 1, n - got, file);
        if (r == 0)
            break;
        got += r;
    }
    return got;
}

}  // namespace

struct scramble_state {
    FILE* file;
    long remaining;     // raw bytes of the window not yet read
    bool at_end;        // the last (possibly partial) chunk has been read
    chacha_ctx cipher;
    size_t next;        // next plain byte in buffer
    size_t filled;      // plain bytes in buffer
    unsigned char buffer[SCRAMBLE_CHUNK];
};

scramble_state* scramble_start(FILE* file, long limit)
{
    if (!file || limit < SCRAMBLE_HEADER_SIZE)
        return nullptr;
    unsigned char header[SCRAMBLE_HEADER_SIZE];
    if (read_fully(file, header, sizeof header) != sizeof header)
        return nullptr;
    if (memcmp(header, scramble_magic, SCRAMBLE_MAGIC_SIZE) != 0)
        return nullptr;
    scramble_state* s = static_cast<scramble_state*>(mem_alloc(sizeof(scramble_state)));
    if (!s)
        return nullptr;
    s->file = file;
    s->remaining = limit - SCRAMBLE_HEADER_SIZE;
    s->at_end = false;
    set_up_cipher(&s->cipher, header + SCRAMBLE_MAGIC_SIZE);
    s->next = 0;
    s->filled = 0;
    return s;
}

size_t scramble_read(scramble_state* s, void* buffer, size_t n)
{
    unsigned char* out = static_cast<unsigned char*>(buffer);
    size_t done = 0;
    while (done < n) {
        if (s->next == s->filled) {
            if (s->at_end || s->remaining <= 0)
                break;
            size_t want = SCRAMBLE_CHUNK;
            if ((long)want > s->remaining)
                want = (size_t)s->remaining;
            size_t got = read_fully(s->file, s->buffer, want);
            s->remaining -= (long)got;
            // Only the last call may be shorter than a whole chunk.
            if (got < SCRAMBLE_CHUNK)
                s->at_end = true;
            if (got == 0)
                break;
            chacha_crypt(&s->cipher, got, s->buffer, s->buffer);
            s->next = 0;
            s->filled = got;
        }
        size_t take = s->filled - s->next;
        if (take > n - done)
            take = n - done;
        memcpy(out + done, s->buffer + s->next, take);
        s->next += take;
        done += take;
    }
    return done;
}

void scramble_end(scramble_state* s)
{
    mem_free(s);
}

std::string scramble_bytes(const void* plain, size_t size, uint64_t nonce)
{
    uint8_t nonce_bytes[SCRAMBLE_NONCE_SIZE];
    for (int i = 0; i < SCRAMBLE_NONCE_SIZE; i++)
        nonce_bytes[i] = (uint8_t)(nonce >> (8 * i));
    std::string out(SCRAMBLE_HEADER_SIZE + size, '\0');
    unsigned char* bytes = reinterpret_cast<unsigned char*>(&out[0]);
    memcpy(bytes, scramble_magic, SCRAMBLE_MAGIC_SIZE);
    memcpy(bytes + SCRAMBLE_MAGIC_SIZE, nonce_bytes, SCRAMBLE_NONCE_SIZE);
    if (size > 0) {
        chacha_ctx cipher;
        set_up_cipher(&cipher, nonce_bytes);
        chacha_crypt(&cipher, size, bytes + SCRAMBLE_HEADER_SIZE, static_cast<const uint8_t*>(plain));
    }
    return out;
}
