// Allocation wrappers. With KZ_CHECK_ALLOC set to a positive integer they
// track every live allocation, poison freed blocks and report leaks and
// double frees. A caller that cannot go on without the memory ends the
// program with fatal_out_of_memory when a wrapper returns null.
#pragma once

#include <cstddef>

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
