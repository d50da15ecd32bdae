// The model cache: one loaded model per data name, its levels of detail,
// purging by generation, and the handles the simulation holds.
#include <strings.h>

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "core/messages.h"
#include "core/services.h"
#include "files/datafs.h"
#include "files/memory.h"
#include "platform/log.h"
#include "render/model.h"
#include "render/model_file.h"
#include "render/model_internal.h"

model_settings g_model_settings;
model_statistics g_model_statistics;
int model_generation = 0;

namespace {

struct model_cache {
    model** items = nullptr;
    int count = 0;
    int capacity = 0;
};
model_cache g_cache;

// A handle is (serial << handle_index_bits) | (slot + 1). A freed slot
// gets the next serial, so its old number answers null; a slot whose
// serial would wrap is retired, so no number ever comes back.
const int handle_index_bits = 20;
const unsigned handle_index_mask = (1u << handle_index_bits) - 1;
const unsigned handle_serial_limit = 1u << (32 - handle_index_bits);

struct handle_slot {
    model* m;
    unsigned texture;
    unsigned serial;
};
struct handle_table {
    handle_slot* slots = nullptr;
    unsigned count = 0, capacity = 0;
    unsigned* free_slots = nullptr;  // capacity entries
    unsigned free_count = 0;
};
handle_table g_handles;

unsigned handle_number(unsigned slot)
{
    return (g_handles.slots[slot].serial << handle_index_bits) | (slot + 1);
}

void forget_handles(const model* m)
{
    handle_table& h = g_handles;
    for (unsigned i = 0; i < h.count; i++) {
        handle_slot& s = h.slots[i];
        if (s.m != m)
            continue;
        s.m = nullptr;
        s.texture = 0;
        s.serial++;
        if (s.serial < handle_serial_limit)
            h.free_slots[h.free_count++] = i;
    }
}

void free_handles()
{
    mem_free(g_handles.slots);
    mem_free(g_handles.free_slots);
    g_handles = handle_table();
}

void delete_model(model* m)
{
    if (g_model_settings.verbose)
        log_printf("deleting model %.900s\n", m->name);
    forget_handles(m);
    model_delete_lists(m);
    model_free(m);
}

void cache_append(model* m)
{
    model_cache& c = g_cache;
    if (c.count == c.capacity) {
        const int capacity = c.capacity ? c.capacity * 2 : 16;
        model** items = static_cast<model**>(mem_realloc(c.items, (size_t)capacity * sizeof(model*)));
        if (!items)
            fatal_out_of_memory();
        c.items = items;
        c.capacity = capacity;
    }
    c.items[c.count++] = m;
}

// Whether a level of this name is already in the chain (a file and its
// ".gz" twin name the same level).
bool chain_has(const model* m, const char* name)
{
    for (; m; m = m->next_lod)
        if (strcasecmp(m->name, name) == 0)
            return true;
    return false;
}

void insert_level(model* base, model* level)
{
    model* at = base;
    while (at->next_lod && at->next_lod->lod_distance <= level->lod_distance)
        at = at->next_lod;
    level->next_lod = at->next_lod;
    at->next_lod = level;
}

// The levels of detail of "@" + stem + extension: every listed data file
// named stem + "_lod" + a number k + at least one more character, loaded
// as "@" + its name (a final ".gz" removed) at distance 2^k.
void load_levels(model* base)
{
    const char* stem = base->name + 1;
    const char* slash = strrchr(stem, '/');
    const char* dot = strrchr(slash ? slash + 1 : stem, '.');
    const size_t stem_length = dot ? (size_t)(dot - stem) : strlen(stem);
    const char* const* files = build_file_index();
    for (const char* const* f = files; f && *f; f++) {
        const char* file = *f;
        if (strncasecmp(file, stem, stem_length) != 0 || strncasecmp(file + stem_length, "_lod", 4) != 0)
            continue;
        const char* digits = file + stem_length + 4;
        const char* rest = digits;
        int k = 0;
        while (isdigit((unsigned char)*rest)) {
            // Distances past 2^127 are no longer finite floats anyway.
            if (k < 1000)
                k = k * 10 + (*rest - '0');
            rest++;
        }
        if (rest == digits || *rest == 0)
            continue;
        char name[1024];
        size_t length = strlen(file);
        if (length >= 3 && strcasecmp(file + length - 3, ".gz") == 0)
            length -= 3;
        if (length + 2 > sizeof name)
            continue;
        name[0] = '@';
        memcpy(name + 1, file, length);
        name[length + 1] = 0;
        if (chain_has(base, name))
            continue;
        model* level = model_read(name);
        if (!level)
            continue;
        level->lod_distance = std::ldexp(1.0f, k);
        insert_level(base, level);
    }
}

unsigned service_load(const char* name, unsigned texture)
{
    model* m = model_get(name);
    return m ? model_handle(m, texture) : 0;
}

}  // namespace

model* model_get(const char* name)
{
    if (!name || !*name)
        return nullptr;
    model_cache& c = g_cache;
    for (int i = 0; i < c.count; i++)
        if (strcmp(c.items[i]->name, name) == 0) {
            c.items[i]->last_used = model_generation;
            return c.items[i];
        }
    for (int i = 0; i < c.count; i++)
        if (strcasecmp(c.items[i]->name, name) == 0) {
            add_message("Warning: case mismatch on '%.900s'", name);
            // Marked as used, so the purge after a track load does not
            // delete a model the new track draws.
            c.items[i]->last_used = model_generation;
            return c.items[i];
        }
    model* m = model_read(name);
    if (!m)
        return nullptr;
    m->last_used = model_generation;
    if (name[0] == '@')
        load_levels(m);
    model_build_lists(m);
    cache_append(m);
    return m;
}

void model_purge(bool all)
{
    model_cache& c = g_cache;
    int kept = 0;
    for (int i = 0; i < c.count; i++) {
        model* m = c.items[i];
        if (all || (m->last_used != 0 && m->last_used != model_generation))
            delete_model(m);
        else
            c.items[kept++] = m;
    }
    c.count = kept;
    if (all) {
        mem_free(c.items);
        c = model_cache();
        free_handles();
    }
}

int model_cache_count()
{
    return g_cache.count;
}

unsigned model_handle(const model* m, unsigned texture)
{
    if (!m)
        return 0;
    handle_table& h = g_handles;
    for (unsigned i = 0; i < h.count; i++)
        if (h.slots[i].m == m && h.slots[i].texture == texture)
            return handle_number(i);
    unsigned slot;
    if (h.free_count > 0) {
        slot = h.free_slots[--h.free_count];
    } else {
        if (h.count == handle_index_mask)
            return 0;
        if (h.count == h.capacity) {
            const unsigned capacity = h.capacity ? h.capacity * 2 : 64;
            handle_slot* slots = static_cast<handle_slot*>(mem_realloc(h.slots, capacity * sizeof(handle_slot)));
            if (!slots)
                fatal_out_of_memory();
            h.slots = slots;
            unsigned* free_slots = static_cast<unsigned*>(mem_realloc(h.free_slots, capacity * sizeof(unsigned)));
            if (!free_slots)
                fatal_out_of_memory();
            h.free_slots = free_slots;
            h.capacity = capacity;
        }
        slot = h.count++;
        h.slots[slot].serial = 0;
    }
    h.slots[slot].m = const_cast<model*>(m);
    h.slots[slot].texture = texture;
    return handle_number(slot);
}

model* model_from_handle(unsigned handle)
{
    const unsigned slot = (handle & handle_index_mask) - 1;
    if ((handle & handle_index_mask) == 0 || slot >= g_handles.count)
        return nullptr;
    const handle_slot& s = g_handles.slots[slot];
    return s.serial == handle >> handle_index_bits ? s.m : nullptr;
}

unsigned model_handle_texture(unsigned handle)
{
    return model_from_handle(handle) ? g_handles.slots[(handle & handle_index_mask) - 1].texture : 0;
}

void model_install_service()
{
    g_model_service.load = service_load;
}
