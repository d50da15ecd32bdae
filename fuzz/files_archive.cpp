// An arbitrary data archive indexed and every member read.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

#include "fuzz_accept.h"
#include "files/datafs.h"

namespace {

std::string g_game;

void set_up()
{
    if (!g_game.empty())
        return;
    char templ[] = "/tmp/kessrig-fuzz-archive-XXXXXX";
    const char* root = mkdtemp(templ);
    if (!root)
        abort();
    g_game = std::string(root) + "/game";
    std::string home = std::string(root) + "/xdg";
    mkdir(g_game.c_str(), 0700);
    mkdir(home.c_str(), 0700);
    setenv("KZ_HOME", g_game.c_str(), 1);
    setenv("XDG_DATA_HOME", home.c_str(), 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    set_up();
    std::string path = g_game + "/zzzz.saf";
    FILE* f = fopen(path.c_str(), "wb");
    if (!f)
        return 0;
    fwrite(data, 1, size, f);
    fclose(f);

    free_file_index();
    const char* const* list = build_file_index();
    int members = 0;  // index entries that came from the archive
    char buffer[1024];
    for (int i = 0; list[i]; i++) {
        std::string name = std::string("@") + list[i];
        data_stream* s = open_data_file(name.c_str(), "rb");
        if (!s)
            continue;
        long total = 0;
        size_t n;
        while ((n = stream_read(s, buffer, sizeof buffer)) > 0 && total < (16L << 20))
            total += (long)n;
        close_data_file(s);
    }
    for (int i = 0; describe_index_entry(i, buffer, sizeof buffer); i++)
        if (strstr(buffer, "zzzz.saf") && strncmp(buffer, "zzzz.saf ", 9) != 0)
            members++;
    if (members > 0)
        fuzz_accept();
    free_file_index();
    return 0;
}
