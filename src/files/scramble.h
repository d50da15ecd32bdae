// The descrambling filter for scrambled data files (".scram"). A scrambled
// file is a 12-byte header (the magic "KZS1" and an 8-byte nonce) followed by
// the plain content XORed with a ChaCha20 key stream under a key compiled
// into the program. It keeps casual readers out of the data; it is not a
// secret from anyone holding the program.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

enum { SCRAMBLE_MAGIC_SIZE = 4, SCRAMBLE_NONCE_SIZE = 8, SCRAMBLE_HEADER_SIZE = 12 };

struct scramble_state;

// Reader side. Starts the filter over the next `limit` bytes of file (header
// included; a member window of an archive, or a whole file). Returns an owned
// state, or null when the header is short or its magic is wrong (or out of
// memory); the file is left to the caller either way.
scramble_state* scramble_start(FILE* file, long limit);
// Delivers up to n plain bytes; returns the count, 0 at the end.
size_t scramble_read(scramble_state* s, void* buffer, size_t n);
// Releases the filter (not the file).
void scramble_end(scramble_state* s);

// Writer side, for the data generator and tests: the bytes of a scrambled
// file holding `plain`. The nonce makes the key stream of each file its own;
// pass a fixed value for reproducible output.
std::string scramble_bytes(const void* plain, size_t size, uint64_t nonce);
