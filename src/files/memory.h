// Allocation wrappers. With KZ_CHECK_ALLOC set to a positive integer they
// track every live allocation, poison freed blocks and report leaks and
// double frees. A caller that cannot go on without the memory ends the
// program with fatal_out_of_memory when a wrapper returns null.
#pragma once

#include <cstddef>
#include <cstdint>

// A request of 0 bytes is served as 1 byte, so null always means "out of
// memory" (also for mem_realloc, which never frees on size 0).
void* mem_alloc(size_t size);
void* mem_calloc(size_t count, size_t size);
void* mem_realloc(void* pointer, size_t size);
void mem_free(void* pointer);
char* mem_strdup(const char* text);  // null when out of memory

// Allocations that must succeed: fatal_out_of_memory on failure.
void* mem_alloc_or_die(size_t size);
void* mem_calloc_or_die(size_t count, size_t size);

// Writes "%p:%d\n" for every tracked allocation still live to stderr.
void mem_report();
// Called at the end of every successful world reset.
void set_working_set();

// The working-set range asked for on a machine with `total` bytes of
// physical memory: false below 64 MiB (left alone), else minimum and
// maximum in bytes.
bool working_set_range(uint64_t total, uint64_t* minimum, uint64_t* maximum);

// Test support: forget the checking decision and the tracked allocations
// and restart the serials, so the next wrapper call reads KZ_CHECK_ALLOC
// again. Pointers tracked
// before the reset are unknown afterwards.
void mem_reset_for_tests();
