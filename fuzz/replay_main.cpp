// Replays files through a fuzz harness without libFuzzer, so the corpora
// run as ordinary tests in every build (the sanitizer build included).
//
//   replay_TARGET [--accept] PATH... [--any PATH...]
//
// Every file named, or found directly in a folder named, is handed to the
// harness once. Files after --accept (the default) must be accepted by the
// reader; files after --any must only come through without a crash (inputs
// that once crashed a reader and are now refused). An empty folder after
// --accept is an error: a missing corpus must not pass as a clean run.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

bool g_fuzz_accepted = false;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

bool read_whole(const std::string& path, std::vector<uint8_t>* out)
{
    FILE* f = fopen(path.c_str(), "rb");
    if (!f)
        return false;
    out->clear();
    uint8_t buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0)
        out->insert(out->end(), buffer, buffer + n);
    const bool ok = !ferror(f);
    fclose(f);
    return ok;
}

// The regular files of a folder in name order, or the path itself.
bool files_of(const std::string& path, std::vector<std::string>* out)
{
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        return false;
    if (!S_ISDIR(st.st_mode)) {
        out->push_back(path);
        return true;
    }
    DIR* d = opendir(path.c_str());
    if (!d)
        return false;
    std::vector<std::string> names;
    while (dirent* e = readdir(d)) {
        const std::string full = path + "/" + e->d_name;
        if (e->d_name[0] != '.' && stat(full.c_str(), &st) == 0 && S_ISREG(st.st_mode))
            names.push_back(full);
    }
    closedir(d);
    std::sort(names.begin(), names.end());
    out->insert(out->end(), names.begin(), names.end());
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    bool must_accept = true;
    int files = 0, accepted = 0, failures = 0;
    std::vector<uint8_t> data;
    for (int i = 1; i < argc; i++) {
        if (!strcmp(argv[i], "--accept") || !strcmp(argv[i], "--any")) {
            must_accept = !strcmp(argv[i], "--accept");
            continue;
        }
        std::vector<std::string> list;
        if (!files_of(argv[i], &list)) {
            fprintf(stderr, "%s: cannot read\n", argv[i]);
            failures++;
            continue;
        }
        if (list.empty() && must_accept) {
            fprintf(stderr, "%s: no seeds\n", argv[i]);
            failures++;
        }
        for (const std::string& path : list) {
            if (!read_whole(path, &data)) {
                fprintf(stderr, "%s: cannot read\n", path.c_str());
                failures++;
                continue;
            }
            g_fuzz_accepted = false;
            // A copy of exactly the file's size, so reading past it is
            // caught by the address sanitizer as it would be under libFuzzer.
            std::vector<uint8_t> copy(data);
            LLVMFuzzerTestOneInput(copy.empty() ? nullptr : copy.data(), copy.size());
            files++;
            if (g_fuzz_accepted) {
                accepted++;
            } else if (must_accept) {
                fprintf(stderr, "%s: not accepted by the reader\n", path.c_str());
                failures++;
            }
        }
    }
    printf("%d files, %d accepted, %d failures\n", files, accepted, failures);
    return failures ? 1 : 0;
}
