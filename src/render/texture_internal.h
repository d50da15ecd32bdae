// Shared between the texture loader's GL files (texture.cpp,
// texture_anim.cpp); no other module includes this.
#pragma once

#include <cstddef>

#include "files/memory.h"
#include "render/texture_files.h"

namespace texture_internal {

// Whether a GL texture name is in the texture registry.
bool texture_registered(unsigned id);

// Makes the texture of a loaded sequence (its first entry's picture,
// mipmapped, never compressed) and adds the animation; the sequence's
// arrays are taken over (seq is left empty). 0 when the upload fails
// (the sequence is then freed).
unsigned anim_create(seq_file* seq, int flags);

// Frees the animations whose texture left the registry (all: every one,
// and the list itself).
void anims_release(bool all);

// Logs a "debug" message (only with the debug level at least 1).
void debug_log(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace texture_internal

namespace texture_internal {

// A growable array of plain records: room for 16 on first use, doubled
// when full; the order of the records is kept on removal.
template <typename T>
struct record_table {
    T* items = nullptr;
    int count = 0;
    int room = 0;
};

// False when the table cannot grow (the record is then not added).
template <typename T>
bool table_add(record_table<T>* t, const T& item)
{
    if (t->count == t->room) {
        if (t->room > (1 << 28))
            return false;
        const int grown = t->room ? t->room * 2 : 16;
        void* p = mem_realloc(t->items, sizeof(T) * size_t(grown));
        if (!p)
            return false;
        t->items = static_cast<T*>(p);
        t->room = grown;
    }
    t->items[t->count++] = item;
    return true;
}

template <typename T>
void table_remove(record_table<T>* t, int i)
{
    for (int k = i + 1; k < t->count; k++)
        t->items[k - 1] = t->items[k];
    t->count--;
}

template <typename T>
void table_free(record_table<T>* t)
{
    mem_free(t->items);
    *t = record_table<T>{};
}

}  // namespace texture_internal
