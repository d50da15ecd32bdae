// A track's "desc" over arbitrary bytes, read as the track list reads it:
// a scratch game folder holds two tracks, "fz" with the input as its desc
// and "zz" with a plain one. The list must hold both, each display name
// non-empty, at most TRACK_NAME_MAX bytes, free of line ends and zero
// bytes, and found again by its name.
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "files/datafs.h"
#include "fuzz_accept.h"
#include "track/track.h"

namespace {

std::string g_game;

void write(const std::string& path, const void* data, size_t size)
{
    FILE* f = fopen(path.c_str(), "wb");
    if (!f)
        abort();
    fwrite(data, 1, size, f);
    fclose(f);
}

void set_up()
{
    if (!g_game.empty())
        return;
    char templ[] = "/tmp/kessrig-fuzz-desc-XXXXXX";
    const char* root = mkdtemp(templ);
    if (!root)
        abort();
    g_game = std::string(root) + "/game";
    const std::string home = std::string(root) + "/xdg";
    mkdir(g_game.c_str(), 0700);
    mkdir(home.c_str(), 0700);
    mkdir((g_game + "/fz").c_str(), 0700);
    mkdir((g_game + "/zz").c_str(), 0700);
    write(g_game + "/fz/terrain.hf", "", 0);
    write(g_game + "/zz/terrain.hf", "", 0);
    write(g_game + "/zz/desc", "Zed Track\n", 10);
    setenv("KZ_HOME", g_game.c_str(), 1);
    setenv("XDG_DATA_HOME", home.c_str(), 1);
    free_file_index();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    set_up();
    write(g_game + "/fz/desc", data, size);
    if (track_list_build(0) != 2)
        __builtin_trap();
    bool from_desc = false;
    for (int i = 0; i < g_track_list.count; i++) {
        const char* name = g_track_list.names[i];
        const size_t n = strlen(name);
        if (n == 0 || n > TRACK_NAME_MAX || strpbrk(name, "\r\n"))
            __builtin_trap();
        if (track_list_find(name) < 0 || strcmp(track_display_name(g_track_list.dirs[i]), name) != 0)
            __builtin_trap();
        if (!strcmp(g_track_list.dirs[i], "fz") && strcmp(name, "fz") != 0)
            from_desc = true;
    }
    if (from_desc)
        fuzz_accept();
    track_list_free();
    return 0;
}
