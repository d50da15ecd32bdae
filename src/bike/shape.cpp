// Shape files and the shape cache.
#include "bike/shape.h"

#include <cmath>
#include <cstring>
#include <mutex>
#include <vector>

#include "core/messages.h"
#include "files/datafs.h"
#include "files/memory.h"
#include "files/stream.h"

namespace {

// Loaded shapes, in load order; they stay for the whole run.
struct shape_cache {
    shape** items = nullptr;
    int count = 0;
    int capacity = 0;
};
shape_cache g_shapes;

float reach_of(const shape_sphere& p)
{
    return std::sqrt(p.x * p.x + p.y * p.y + p.z * p.z) + p.radius;
}

size_t block_size(int sphere_count, size_t name_length)
{
    return sizeof(shape) + sizeof(shape_sphere) * (size_t)sphere_count + name_length + 1;
}

// Lays out a block holding the record, the spheres and the name.
shape* make_shape(const shape_sphere* spheres, int count, const char* name)
{
    const size_t length = strlen(name);
    void* block = mem_alloc(block_size(count, length));
    if (!block)
        fatal_out_of_memory();
    shape* s = static_cast<shape*>(block);
    s->sphere_count = count;
    s->spheres = reinterpret_cast<shape_sphere*>(s + 1);
    if (count > 0)
        memcpy(s->spheres, spheres, sizeof(shape_sphere) * (size_t)count);
    char* text = reinterpret_cast<char*>(s->spheres + count);
    memcpy(text, name, length + 1);
    s->name = text;
    s->source_shape = nullptr;
    float radius = 0.0f;
    for (int i = 0; i < count; i++) {
        const float reach = reach_of(spheres[i]);
        if (reach > radius)
            radius = reach;
    }
    s->radius = radius;
    return s;
}

// Infinities and NaNs (and centres so far out that the distance overflows)
// would poison every contact the sphere takes part in.
bool usable(const shape_sphere& p)
{
    return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z) && std::isfinite(p.radius) &&
           std::isfinite(p.friction) && std::isfinite(p.spring) && std::isfinite(p.damping) &&
           std::isfinite(reach_of(p));
}

void cache_append(shape* s)
{
    if (g_shapes.count == g_shapes.capacity) {
        const int grown = g_shapes.capacity ? g_shapes.capacity * 2 : 16;
        void* p = mem_realloc(g_shapes.items, sizeof(shape*) * (size_t)grown);
        if (!p)
            fatal_out_of_memory();
        g_shapes.items = static_cast<shape**>(p);
        g_shapes.capacity = grown;
    }
    g_shapes.items[g_shapes.count++] = s;
}

}  // namespace

shape* shape_parse(data_stream* s, const char* name)
{
    int count = 0;
    if (stream_scan(s, "%d", &count) != 1 || count < 0 || count > SHAPE_MAX_SPHERES)
        return nullptr;
    // Grown as spheres actually arrive, so a huge declared count in a short
    // file costs nothing.
    std::vector<shape_sphere> spheres;
    for (int i = 0; i < count; i++) {
        shape_sphere p{};
        if (stream_scan(s, "%f", &p.x) != 1 || stream_scan(s, "%f", &p.y) != 1 ||
            stream_scan(s, "%f", &p.z) != 1)
            return nullptr;
        if (stream_scan(s, "%f %f %f %f", &p.radius, &p.friction, &p.spring, &p.damping) != 4)
            return nullptr;
        if (!usable(p))
            return nullptr;
        spheres.push_back(p);
    }
    return make_shape(spheres.data(), count, name ? name : "");
}

const shape* shape_load(const char* name)
{
    if (!name)
        return nullptr;
    // Worlds on several threads load their bikes' shapes into one cache.
    static std::mutex lock;
    std::lock_guard<std::mutex> guard(lock);
    for (int i = 0; i < g_shapes.count; i++)
        if (strcmp(g_shapes.items[i]->name, name) == 0)
            return g_shapes.items[i];
    data_stream* stream = open_data_file(name, "rb");
    if (!stream)
        return nullptr;
    shape* s = shape_parse(stream, name);
    close_data_file(stream);
    if (!s)
        return nullptr;
    cache_append(s);
    return s;
}

shape* shape_get(const char* name)
{
    const shape* cached = shape_load(name);
    if (!cached)
        return nullptr;
    shape* copy = make_shape(cached->spheres, cached->sphere_count, cached->name);
    copy->source_shape = cached;
    return copy;
}

void shape_free(shape* s)
{
    mem_free(s);
}

void shape_cache_clear()
{
    for (int i = 0; i < g_shapes.count; i++)
        mem_free(g_shapes.items[i]);
    mem_free(g_shapes.items);
    g_shapes = shape_cache{};
}
