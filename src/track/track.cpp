// The track list, the loading of a whole track in its fixed order with the
// loading screen, the track digest, and the unloading.
#include "track/track.h"

#include <nettle/sha1.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <set>
#include <string>
#include <strings.h>
#include <vector>

#include "core/messages.h"
#include "core/services.h"
#include "files/datafs.h"
#include "files/memory.h"
#include "platform/log.h"
#include "track/surface.h"

track_list g_track_list;
track_hooks g_track_hooks;

namespace {

// ---- the loading screen -----------------------------------------------------------

struct loading_state {
    char text[LOADING_TEXT_MAX + 1] = {};
    int phase = 0;          // dots shown by the next tick, 0..3
    double last = -1.0;     // clock of the last spinner update, -1 none
};
loading_state g_loading;
// Worlds may load their tracks on several threads; the one screen they
// report to is shared.
std::recursive_mutex g_loading_lock;

constexpr double LOADING_TICK_SECONDS = 0.125;
constexpr double BUSY_SECONDS = 1.0 / 16.0;

// ---- file names -----------------------------------------------------------------

enum { PATH_SIZE = 1100 };

bool track_file(char* out, const char* data_dir, const char* file)
{
    const int n = snprintf(out, PATH_SIZE, "%s/%s", data_dir, file);
    return n >= 0 && n < PATH_SIZE;
}

bool data_exists(const char* name)
{
    data_stream* s = open_data_file(name, "rb");
    if (!s)
        return false;
    close_data_file(s);
    return true;
}

// Feeds the whole file, as the data file layer delivers it, into the
// digest; nothing when it does not exist. spinner (may be null) is shown
// while it runs.
void digest_file(sha1_ctx* digest, const char* name, const char* spinner)
{
    data_stream* s = open_data_file(name, "rb");
    if (!s)
        return;
    uint8_t buffer[16384];
    size_t n;
    while ((n = stream_read(s, buffer, sizeof buffer)) > 0) {
        sha1_update(digest, n, buffer);
        if (spinner)
            loading_tick(spinner);
    }
    close_data_file(s);
}

void digest_track_file(sha1_ctx* digest, const char* data_dir, const char* file, const char* spinner)
{
    char name[PATH_SIZE];
    if (track_file(name, data_dir, file))
        digest_file(digest, name, spinner);
}

// ---- the track list ------------------------------------------------------------------

bool ends_with_nocase(const char* text, const char* suffix)
{
    const size_t n = strlen(text), m = strlen(suffix);
    return n >= m && strcasecmp(text + n - m, suffix) == 0;
}

// The track directory of a height file's data name, or "" for other names.
std::string height_file_dir(const char* name)
{
    static const char* const suffixes[] = {"/terrain.hf", "/terrain.hf.gz", "/terrain.hf.scram",
                                           "/terrain.hf.gz.scram"};
    for (const char* suffix : suffixes)
        if (ends_with_nocase(name, suffix)) {
            const char* slash = strrchr(name, '/');
            return std::string(name, (size_t)(slash - name));
        }
    return std::string();
}

// The first line of "@dir/desc" (up to CR, LF, NUL or the end, at most
// TRACK_NAME_MAX characters); the directory when there is none or it is
// empty (an empty name could never be chosen).
std::string display_name_of(const std::string& dir)
{
    const std::string name = "@" + dir + "/desc";
    data_stream* s = open_data_file(name.c_str(), "rb");
    if (!s)
        return dir;
    std::string line;
    for (;;) {
        const int c = stream_getc(s);
        if (c < 0 || c == '\r' || c == '\n' || c == 0)
            break;
        if (line.size() < TRACK_NAME_MAX)
            line += (char)c;
    }
    close_data_file(s);
    return line.empty() ? dir : line;
}

struct list_entry {
    std::string dir, name;
};

// Case-insensitive by display name; the rest only makes the order the same
// on every run.
bool entry_before(const list_entry& a, const list_entry& b)
{
    int c = strcasecmp(a.name.c_str(), b.name.c_str());
    if (c == 0)
        c = strcmp(a.name.c_str(), b.name.c_str());
    if (c == 0)
        c = strcmp(a.dir.c_str(), b.dir.c_str());
    return c < 0;
}

char* owned_copy(const std::string& text)
{
    char* copy = mem_strdup(text.c_str());
    if (!copy)
        fatal_out_of_memory();
    return copy;
}

// ---- load and unload ------------------------------------------------------------

void log_texture_memory(int verbose, const char* when)
{
    if (!verbose)
        return;
    const unsigned long bytes = g_track_hooks.texture_memory ? g_track_hooks.texture_memory(g_track_hooks.context) : 0;
    log_printf("%lu bytes texture memory used after %s\n", bytes, when);
}

void free_particles(track* t)
{
    if (t->particle_pool) {
        t->particle_pool->~roost_pool();
        mem_free(t->particle_pool);
    }
    t->particle_pool = nullptr;
    t->particle_sprites = -1;
}

// Releases everything of the track and leaves it empty.
void release_track(track* t)
{
    if (t->editor_active && g_track_hooks.editor_end)
        g_track_hooks.editor_end(g_track_hooks.context);
    t->editor_active = false;
    timing_gates_clear(&t->timing_gates);
    track_objects_free(&t->objects);
    heightfield_free(&t->heightfield);
    lighting_reset(&t->lighting);
    cameras_free(&t->cameras);
    free_particles(t);
    t->map_texture = 0;
    memset(t->digest, 0, sizeof t->digest);
    t->fixed_sprites = t->fixed_statues = 0;
    t->dir[0] = 0;
    t->loaded = false;
}

// The roost particles, each owning a sprite of its own at the origin, size
// 1 and no texture.
void create_particles(track* t)
{
    void* memory = mem_alloc(sizeof(roost_pool));
    if (!memory)
        fatal_out_of_memory();
    t->particle_pool = new (memory) roost_pool();
    roost_pool_reset(t->particle_pool);
    for (int i = 0; i < ROOST_POOL_SIZE; i++) {
        const int index = sprite_add(&t->objects.sprites, 0.0f, 0.0f, 0.0f, 1.0f, 1.0f, 0);
        if (i == 0)
            t->particle_sprites = index;
    }
}

// Each distinct texture file of the statues (the start gate pieces among
// them) once, in statue order.
void digest_statue_textures(const track* t, sha1_ctx* digest)
{
    std::set<std::string> seen;
    const statue_list& statues = t->objects.statues;
    for (int i = 0; i < statues.count; i++) {
        const char* name = statues.items[i].texture_name;
        if (!name)
            continue;
        std::string key = name;
        std::transform(key.begin(), key.end(), key.begin(), [](unsigned char c) { return (char)tolower(c); });
        if (seen.insert(key).second)
            digest_file(digest, name, nullptr);
    }
}

}  // namespace

// ---- the loading screen -----------------------------------------------------------

void loading_status(const char* text)
{
    // Window messages first, so the window stays responsive while loading.
    std::lock_guard<std::recursive_mutex> guard(g_loading_lock);
    if (g_status_service.pump)
        g_status_service.pump();
    snprintf(g_loading.text, sizeof g_loading.text, "%s", text ? text : "");
    show_status(g_loading.text);
}

void loading_begin(const char* text)
{
    std::lock_guard<std::recursive_mutex> guard(g_loading_lock);
    loading_status(text);
    log_printf("%s\n", text ? text : "");
    g_loading.phase = 0;
    g_loading.last = clock_seconds();
}

void loading_tick(const char* text)
{
    std::lock_guard<std::recursive_mutex> guard(g_loading_lock);
    const double now = clock_seconds();
    if (g_loading.last >= 0.0 && now - g_loading.last < LOADING_TICK_SECONDS)
        return;
    g_loading.last = now;
    static const char* const dots[4] = {"", ".", "..", "..."};
    char shown[LOADING_TEXT_MAX + 1];
    snprintf(shown, sizeof shown, "%.64s%s", text ? text : "", dots[g_loading.phase]);
    g_loading.phase = (g_loading.phase + 1) % 4;
    loading_status(shown);
}

void loading_done(const char* text)
{
    char shown[LOADING_TEXT_MAX + 1];
    snprintf(shown, sizeof shown, "%.64s...done", text ? text : "");
    loading_status(shown);
}

const char* loading_text()
{
    return g_loading.text;
}

void loading_reset_for_tests()
{
    std::lock_guard<std::recursive_mutex> guard(g_loading_lock);
    g_loading = loading_state();
}

// ---- the track list ------------------------------------------------------------------

int track_list_build(int verbose)
{
    track_list_free();
    std::vector<std::string> dirs;
    for (const char* const* f = build_file_index(); f && *f; f++) {
        std::string dir = height_file_dir(*f);
        if (!dir.empty() && dir.size() <= TRACK_DIR_MAX)
            dirs.push_back(dir);
    }
    // Data names ignore case: one entry per directory.
    std::sort(dirs.begin(), dirs.end(), [](const std::string& a, const std::string& b) {
        const int c = strcasecmp(a.c_str(), b.c_str());
        return c != 0 ? c < 0 : a < b;
    });
    dirs.erase(std::unique(dirs.begin(), dirs.end(),
                           [](const std::string& a, const std::string& b) {
                               return strcasecmp(a.c_str(), b.c_str()) == 0;
                           }),
               dirs.end());

    std::vector<list_entry> entries;
    double last_busy = clock_seconds();
    for (const std::string& dir : dirs) {
        entries.push_back({dir, display_name_of(dir)});
        const double now = clock_seconds();
        if (now - last_busy >= BUSY_SECONDS) {
            last_busy = now;
            if (g_status_service.pump)
                g_status_service.pump();
        }
    }
    std::sort(entries.begin(), entries.end(), entry_before);

    const size_t n = entries.empty() ? 1 : entries.size();
    g_track_list.dirs = (char**)mem_calloc(n, sizeof(char*));
    g_track_list.names = (char**)mem_calloc(n, sizeof(char*));
    if (!g_track_list.dirs || !g_track_list.names)
        fatal_out_of_memory();
    for (const list_entry& e : entries) {
        g_track_list.dirs[g_track_list.count] = owned_copy(e.dir);
        g_track_list.names[g_track_list.count] = owned_copy(e.name);
        g_track_list.count++;
        if (verbose)
            log_printf("%s -> %s\n", e.dir.c_str(), e.name.c_str());
    }
    return g_track_list.count;
}

void track_list_free()
{
    for (int i = 0; i < g_track_list.count; i++) {
        mem_free(g_track_list.dirs[i]);
        mem_free(g_track_list.names[i]);
    }
    mem_free(g_track_list.dirs);
    mem_free(g_track_list.names);
    g_track_list = track_list();
}

int track_list_find(const char* name)
{
    if (!name)
        return -1;
    for (int i = 0; i < g_track_list.count; i++)
        if (strcmp(g_track_list.names[i], name) == 0)
            return i;
    return -1;
}

const char* track_display_name(const char* dir)
{
    for (int i = 0; i < g_track_list.count; i++)
        if (strcasecmp(g_track_list.dirs[i], dir) == 0)
            return g_track_list.names[i];
    return dir;
}

// ---- load and unload ------------------------------------------------------------

bool track_load(track* t, const char* name, const track_load_flags& flags)
{
    // name may be the loaded track's own directory: take it before the
    // unloading clears it.
    const int listed = track_list_find(name);
    const char* dir = listed >= 0 ? g_track_list.dirs[listed] : (name ? name : "");
    const bool usable = *dir && strlen(dir) <= TRACK_DIR_MAX;
    char wanted[TRACK_DIR_MAX + 1];
    snprintf(wanted, sizeof wanted, "%s", usable ? dir : "");
    if (t->loaded)
        track_unload(t);
    release_track(t);
    if (!usable) {
        log_printf("Can't load track '%.200s': bad track name\n", name ? name : "");
        return false;
    }
    memcpy(t->dir, wanted, sizeof wanted);
    char data_dir[TRACK_DIR_MAX + 2];
    track_data_dir(t->dir, data_dir, sizeof data_dir);
    const int verbose = flags.verbose;

    sha1_ctx digest;
    sha1_init(&digest);

    loading_begin("Scanning");
    for (const char* file : {"terrain.hf", "terrain.png", "texturelist", "tilemap", "tileinfo"})
        digest_track_file(&digest, data_dir, file, "Scanning");
    loading_done("Scanning");

    if (verbose)
        log_printf("Loading '%s'\n", data_dir);

    lighting_load(&t->lighting, data_dir, loading_tick);

    heightfield* hf = &t->heightfield;
    bool ground = heightfield_load_ground(hf, data_dir, verbose);
    if (ground && g_track_hooks.terrain_setup)
        ground = g_track_hooks.terrain_setup(g_track_hooks.context, hf, &t->lighting);
    if (!ground) {
        release_track(t);
        return false;
    }
    decals_load(hf, data_dir, &g_track_hooks.objects);
    log_texture_memory(verbose, "hf creation");

    // The gate pieces are the first statues of the track.
    digest_track_file(&digest, data_dir, "timing_gates", nullptr);
    gate_object_target target;
    target.objects = &t->objects;
    target.hf = hf;
    target.options = &g_track_hooks.objects;
    load_timing_gates(&t->timing_gates, data_dir, &target, verbose);

    create_particles(t);

    loading_begin("Loading flaggers");
    flaggers_load(&t->objects, hf, data_dir, t->timing_gates.checkpoint_count);
    loading_done("Loading flaggers");
    log_texture_memory(verbose, "flagger creation");

    char name_buffer[PATH_SIZE];
    t->fixed_sprites = t->objects.sprites.count;
    if (track_file(name_buffer, data_dir, "billboards") && data_exists(name_buffer)) {
        loading_begin("Loading billboards");
        billboards_load(&t->objects, hf, data_dir, loading_tick);
        loading_done("Loading billboards");
        log_texture_memory(verbose, "billboard creation");
    }

    t->fixed_statues = t->objects.statues.count;
    digest_track_file(&digest, data_dir, "statues", nullptr);
    if (track_file(name_buffer, data_dir, "statues") && data_exists(name_buffer)) {
        loading_begin("Loading statues");
        statues_load(&t->objects, hf, data_dir, &g_track_hooks.objects, loading_tick);
        loading_done("Loading statues");
    }

    loading_begin("Loading map");
    log_texture_memory(verbose, "statue creation");
    if (track_file(name_buffer, data_dir, "map.png") && data_exists(name_buffer))
        t->map_texture = texture_load(name_buffer, 0);
    loading_done("Loading map");

    statue_bins_build(&t->objects, hf);
    if (flags.editor && g_track_hooks.editor_begin) {
        g_track_hooks.editor_begin(g_track_hooks.context);
        t->editor_active = true;
    }

    digest_statue_textures(t, &digest);
    sha1_digest(&digest, SHA1_DIGEST_SIZE, t->digest);

    cameras_load(&t->cameras, hf, data_dir, verbose);
    t->loaded = true;
    return true;
}

bool track_data_dir(const char* dir, char* out, size_t size)
{
    const int n = snprintf(out, size, "%s%s", strchr(dir, '/') ? "" : "@", dir);
    return n >= 0 && (size_t)n < size;
}

void track_take_ground(track* t, heightfield* hf)
{
    if (t->loaded)
        track_unload(t);
    release_track(t);
    t->heightfield = *hf;
    *hf = heightfield();
    create_particles(t);
    t->loaded = true;
}

void track_unload(track* t)
{
    log_printf("Deallocating track\n");
    release_track(t);
    log_printf("Finished deallocating track\n");
}
