// Shared between the track object source files (objects*.cpp, lighting.cpp);
// no other module includes this.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstring>

#include "core/messages.h"
#include "files/memory.h"
#include "track/objects.h"

namespace objects_detail {

enum { LIST_FIRST_CAPACITY = 16, LIST_MAX_CAPACITY = 1 << 28 };

// Makes room for one more item of a growable list: capacity 16 at first,
// doubled when full. Out of memory (or a list beyond 2^28 items) ends the
// program.
template <class T>
void reserve_one(T*& items, int count, int& capacity)
{
    if (count < capacity)
        return;
    int wanted = capacity < LIST_FIRST_CAPACITY ? LIST_FIRST_CAPACITY : capacity * 2;
    if (capacity >= LIST_MAX_CAPACITY)
        fatal_out_of_memory();
    void* grown = mem_realloc(items, sizeof(T) * (size_t)wanted);
    if (!grown)
        fatal_out_of_memory();
    items = (T*)grown;
    capacity = wanted;
}

inline void index_push(index_list* list, int value)
{
    reserve_one(list->items, list->count, list->capacity);
    list->items[list->count++] = value;
}

// Keeps the list ascending: inserts value at its sorted place.
inline void index_insert_sorted(index_list* list, int value)
{
    reserve_one(list->items, list->count, list->capacity);
    int k = list->count;
    while (k > 0 && list->items[k - 1] > value) {
        list->items[k] = list->items[k - 1];
        k--;
    }
    list->items[k] = value;
    list->count++;
}

inline void index_list_free(index_list* list)
{
    mem_free(list->items);
    *list = index_list();
}

// floor(v) clamped to lo..hi, defined for every float (NaN gives lo).
inline int clamp_floor(float v, int lo, int hi)
{
    if (!(v >= (float)lo))
        return lo;
    if (v >= (float)hi)
        return hi;
    const int f = (int)floorf(v);
    return f < lo ? lo : (f > hi ? hi : f);
}

inline bool all_finite(const float* v, int n)
{
    for (int k = 0; k < n; k++)
        if (!std::isfinite(v[k]))
            return false;
    return true;
}

// dir + "/" + file into buffer; false when it does not fit.
bool compose_track_file(char* buffer, size_t size, const char* dir, const char* file);
// True when a data file of that name can be opened for reading.
bool data_file_exists(const char* name);
// A copy of name (null for null), out of memory ends the program.
char* copy_name(const char* name);
// Replaces the extension of name (the part from the last "." after the
// last "/"; nothing when there is none) with suffix; false when it does not
// fit.
bool replace_extension(const char* name, const char* suffix, char* out, size_t size);
// Terrain height under (x, z), 0 without a terrain.
float ground_height(const heightfield* hf, float x, float z);
// The terrain's size in feet, 0 without a terrain.
float terrain_extent(const heightfield* hf);

}  // namespace objects_detail
