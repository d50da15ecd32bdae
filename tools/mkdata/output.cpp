#include "mkdata.h"

#include <cstdio>
#include <filesystem>

namespace mkdata {

bool write_file(output& out, const std::string& rel, const bytes& data)
{
    std::string path = out.dir + rel;
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    // Write beside the target and rename, so an interrupted run never
    // leaves a half-written data file that the game would then read.
    std::string tmp = path + ".tmp";
    FILE* f = fopen(tmp.c_str(), "wb");
    if (!f) {
        fprintf(stderr, "kessrig-mkdata: can't write %s\n", path.c_str());
        return false;
    }
    bool ok = data.empty() || fwrite(data.data(), 1, data.size(), f) == data.size();
    ok = fclose(f) == 0 && ok;
    if (!ok || rename(tmp.c_str(), path.c_str()) != 0) {
        fprintf(stderr, "kessrig-mkdata: can't write %s\n", path.c_str());
        remove(tmp.c_str());
        return false;
    }
    out.files_written++;
    return true;
}

bool write_text(output& out, const std::string& rel, const std::string& text)
{
    return write_file(out, rel, bytes(text.begin(), text.end()));
}

void add_member(output& out, const std::string& name, const bytes& data)
{
    out.archive.emplace_back(name, data);
}

void add_text_member(output& out, const std::string& name, const std::string& text)
{
    add_member(out, name, bytes(text.begin(), text.end()));
}

}  // namespace mkdata
