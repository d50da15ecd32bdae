// The texture loader: data names to GL textures through the picture
// decoders, the ".seq" and "LINK" files, the reduction before upload, the
// registries that share textures and pictures kept in memory, and their
// release when a new track no longer needs them.
#include <strings.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "files/datafs.h"
#include "files/memory.h"
#include "platform/log.h"
#include "render/gl_caps.h"
#include "render/picture.h"
#include "render/texture.h"
#include "render/texture_internal.h"

texture_settings g_texture_settings;

using namespace texture_internal;

namespace {

struct texture_record {
    unsigned id;
    int generation;        // 0: loaded before the first track, kept for good
    unsigned long memory;  // texture_memory counted while creating it
    char* text;            // attached PNG text (owned) or null
    char* name;            // owned
};

struct image_record {
    int width;
    int height;
    int channels;         // always 4
    unsigned char* data;  // RGBA mip chain, owned
    int generation;
    size_t bytes;         // width * height * 4
    char* name;           // owned
};

struct texture_link {
    char* name;    // the name of a "LINK" file
    char* target;  // where it leads ("@colors/white.png" until resolved)
};

record_table<texture_record> g_textures;
record_table<image_record> g_images;
record_table<texture_link> g_links;

// Links are followed by recursion; every link file adds itself to the link
// table before following its target, so a loop ends at the white texture,
// and this bound only guards against very long chains of distinct files.
int g_link_depth = 0;
enum { LINK_DEPTH_MAX = 32 };

const char* const white_texture = "@colors/white.png";

// The first record whose name equals name, exactly or ignoring letter case
// (which is logged, since the data file system finds both); -1 for none.
template <typename R>
int find_record(const record_table<R>& table, const char* name)
{
    for (int i = 0; i < table.count; i++) {
        if (strcasecmp(table.items[i].name, name) != 0)
            continue;
        if (strcmp(table.items[i].name, name) != 0)
            log_printf("Warning: case mismatch on '%.900s'\n", name);
        return i;
    }
    return -1;
}

// A record used again by a later track joins its generation; for textures
// its memory counts for that track again.
bool take_current_generation(int* generation)
{
    if (*generation == 0 || *generation == texture_generation)
        return false;
    *generation = texture_generation;
    return true;
}

int find_link(const char* name)
{
    for (int i = 0; i < g_links.count; i++)
        if (!strcmp(g_links.items[i].name, name))
            return i;
    return -1;
}

int wrap_flags(const char* name)
{
    int flags = 0;
    if (strstr(name, "-hrepeat."))
        flags |= texture_repeat_h;
    if (strstr(name, "-vrepeat."))
        flags |= texture_repeat_v;
    if (strstr(name, "-repeat."))
        flags |= texture_repeat_h | texture_repeat_v;
    return flags;
}

// Takes text over; a registry that cannot grow leaves the texture working
// but unregistered.
void register_texture(unsigned id, unsigned long memory, char* text, const char* name)
{
    texture_record r{id, texture_generation, memory, text, mem_strdup(name)};
    if (!r.name || !table_add(&g_textures, r)) {
        mem_free(r.text);
        mem_free(r.name);
    }
}

// A "LINK" file: the link is noted (leading to the white texture until its
// target loads), then the target is loaded. Nothing is registered under
// the link's own name.
unsigned load_link(data_stream* s, const char* name)
{
    texture_link link{mem_strdup(name), mem_strdup(white_texture)};
    int index = -1;
    if (link.name && link.target && table_add(&g_links, link)) {
        index = g_links.count - 1;
    } else {
        mem_free(link.name);
        mem_free(link.target);
    }
    char target[LINK_TARGET_MAX + 1];
    const bool named = link_read_target(s, target, sizeof target);
    close_data_file(s);
    if (!named || g_link_depth >= LINK_DEPTH_MAX)
        return 0;
    g_link_depth++;
    const unsigned id = texture_get(target);
    g_link_depth--;
    const char* registered = id ? texture_name(id) : nullptr;
    if (registered && index >= 0) {
        char* copy = mem_strdup(registered);
        if (copy) {
            mem_free(g_links.items[index].target);
            g_links.items[index].target = copy;
        }
    }
    return id;
}

// Decodes the picture formats chosen by the first token (the stream is
// positioned after it): "Q7" as RGBA, "Q6", "P3" and "P6" as RGB; false
// for any other token or a failed decode.
bool decode_by_token(data_stream* s, const char* token, picture* pic)
{
    if (!strcmp(token, "Q7"))
        return predictive_decode(s, token, 4, pic);
    if (!strcmp(token, "Q6"))
        return predictive_decode(s, token, 3, pic);
    if (!strcmp(token, "P3") || !strcmp(token, "P6"))
        return ppm_read(s, token, pic);
    return false;
}

void warn_non_power_of_two(int width, int height, const char* name)
{
    if ((width & (width - 1)) != 0 || (height & (height - 1)) != 0)
        log_printf("Warning: Non power of 2 texture '%.950s'\n", name);
}

}  // namespace

namespace texture_internal {

bool texture_registered(unsigned id)
{
    for (int i = 0; i < g_textures.count; i++)
        if (g_textures.items[i].id == id)
            return true;
    return false;
}

void debug_log(const char* format, ...)
{
    if (g_texture_settings.debug < 1)
        return;
    char line[1100];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof line, format, args);
    va_end(args);
    log_printf("%s\n", line);
}

}  // namespace texture_internal

unsigned texture_get(const char* request)
{
    if (!request)
        return 0;
    int drop = g_texture_settings.level;
    if (request[0] == '!') {
        request++;
        drop = 0;
    }
    std::string name = request;
    const int link = find_link(name.c_str());
    if (link >= 0)
        name = g_links.items[link].target;

    const int found = find_record(g_textures, name.c_str());
    if (found >= 0) {
        texture_record& r = g_textures.items[found];
        if (take_current_generation(&r.generation))
            texture_memory += r.memory;
        return r.id;
    }

    data_stream* s = open_data_file(name.c_str(), "rb");
    if (!s) {
        debug_log("Can't open texture \"%.900s\"", name.c_str());
        return 0;
    }
    char token[16];
    if (!read_picture_magic(s, token, sizeof token)) {
        close_data_file(s);
        return 0;
    }
    int flags = wrap_flags(name.c_str());
    const unsigned long before = texture_memory;

    if (!strcmp(token, "LINK"))
        return load_link(s, name.c_str());
    if (!strcmp(token, "ANIM1")) {
        seq_file seq;
        if (seq_read(s, &seq)) {
            close_data_file(s);
            const unsigned id = anim_create(&seq, flags);
            if (id)
                register_texture(id, texture_memory - before, nullptr, name.c_str());
            return id;
        }
        // A broken sequence is tried as PNG below, which fails.
    }

    picture pic;
    const bool decoded = decode_by_token(s, token, &pic);
    close_data_file(s);
    if (!decoded) {
        if (!png_decode(name.c_str(), &pic))
            return 0;
        if (pic.text && strstr(pic.text, "[compress]"))
            flags |= texture_compress;
        if (g_texture_settings.compress == texture_compress_no)
            flags &= ~texture_compress;
        else if (g_texture_settings.compress == texture_compress_always)
            flags |= texture_compress;
    }
    warn_non_power_of_two(pic.width, pic.height, name.c_str());
    const unsigned id =
        texture_reduce_and_create(pic.pixels, pic.width, pic.height, pic.channels, drop, flags, name.c_str());
    char* text = pic.text;
    pic.text = nullptr;
    picture_free(&pic);
    if (!id) {
        mem_free(text);
        return 0;
    }
    register_texture(id, texture_memory - before, text, name.c_str());
    return id;
}

const char* texture_name(unsigned id)
{
    for (int i = 0; i < g_textures.count; i++)
        if (g_textures.items[i].id == id)
            return g_textures.items[i].name;
    return nullptr;
}

const char* texture_text(unsigned id)
{
    for (int i = 0; i < g_textures.count; i++)
        if (g_textures.items[i].id == id)
            return g_textures.items[i].text;
    return nullptr;
}

unsigned texture_reduce_and_create(const unsigned char* chain, int width, int height, int channels, int drop,
                                   int flags, const char* name)
{
    texture_reduction r;
    if (!texture_reduce(chain, width, height, channels, drop, name, &r))
        return 0;
    const unsigned id = texture_create(r.chain, r.width, r.height, channels, flags);
    texture_reduction_free(&r);
    return id;
}

// ---- pictures in memory ------------------------------------------------------------

bool image_get(const char* request, const unsigned char** chain, int* width, int* height)
{
    if (!request)
        return false;
    int drop = g_texture_settings.level;
    if (request[0] == '!') {
        request++;
        drop = 0;
    }
    const int found = find_record(g_images, request);
    if (found >= 0) {
        image_record& r = g_images.items[found];
        take_current_generation(&r.generation);
        *chain = r.data;
        *width = r.width;
        *height = r.height;
        return true;
    }

    data_stream* s = open_data_file(request, "rb");
    if (!s) {
        debug_log("Can't open texture \"%.900s\"", request);
        return false;
    }
    char token[16];
    picture pic;
    bool decoded = false;
    if (read_picture_magic(s, token, sizeof token))
        decoded = decode_by_token(s, token, &pic);
    close_data_file(s);
    if (!decoded && !png_decode(request, &pic))
        return false;
    mem_free(pic.text);
    pic.text = nullptr;

    unsigned char* data = pic.pixels;
    int w = pic.width, h = pic.height;
    image_fit(&data, &w, &h, pic.channels, 0, drop);
    if (pic.channels == 3) {
        // Software texturing works on RGBA only.
        const size_t pixels = mip_chain_bytes(w, h, 3) / 3;
        unsigned char* rgba = static_cast<unsigned char*>(mem_alloc_or_die(pixels * 4));
        for (size_t i = 0; i < pixels; i++) {
            memcpy(rgba + i * 4, data + i * 3, 3);
            rgba[i * 4 + 3] = 255;
        }
        mem_free(data);
        data = rgba;
    }
    image_record r{w, h, 4, data, texture_generation, size_t(w) * size_t(h) * 4, mem_strdup(request)};
    if (!r.name || !table_add(&g_images, r)) {
        mem_free(r.name);
        mem_free(data);
        return false;
    }
    *chain = data;
    *width = w;
    *height = h;
    return true;
}

const char* image_name(const unsigned char* chain)
{
    for (int i = 0; i < g_images.count; i++)
        if (g_images.items[i].data == chain)
            return g_images.items[i].name;
    return nullptr;
}

// ---- release ----------------------------------------------------------------------------

void textures_release(bool all)
{
    for (int i = g_textures.count - 1; i >= 0; i--) {
        texture_record& r = g_textures.items[i];
        if (!all && (r.generation == 0 || r.generation == texture_generation))
            continue;
        GLuint id = r.id;
        glDeleteTextures(1, &id);
        debug_log("deleting tid %d (%.900s)", int(r.id), r.name);
        mem_free(r.text);
        mem_free(r.name);
        table_remove(&g_textures, i);
    }
    for (int i = g_images.count - 1; i >= 0; i--) {
        image_record& r = g_images.items[i];
        if (!all && (r.generation == 0 || r.generation == texture_generation))
            continue;
        debug_log("deleting image %.900s", r.name);
        mem_free(r.data);
        mem_free(r.name);
        table_remove(&g_images, i);
    }
    anims_release(all);
    if (all) {
        for (int i = 0; i < g_links.count; i++) {
            mem_free(g_links.items[i].name);
            mem_free(g_links.items[i].target);
        }
        table_free(&g_links);
        table_free(&g_textures);
        table_free(&g_images);
    }
}
