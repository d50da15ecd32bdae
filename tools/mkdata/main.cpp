// kessrig-mkdata: writes the default game data into a data directory.
//   kessrig-mkdata DIR
//   kessrig-mkdata --preview FILE.png [DIR [TRACK]]   picture of a track
// The same source always gives the same bytes.
#include <cstdio>
#include <cstring>
#include <string>

#include "files/archive.h"
#include "mkdata.h"

namespace {

int usage()
{
    fprintf(stderr,
            "usage: kessrig-mkdata DATA_DIR\n"
            "       kessrig-mkdata --preview FILE.png [DATA_DIR [TRACK]]\n");
    return 1;
}

bool write_archive(mkdata::output& out)
{
    std::vector<archive_member> members;
    for (const auto& m : out.archive)
        members.push_back({m.first, std::string(m.second.begin(), m.second.end())});
    std::string bytes;
    if (!archive_bytes(members, &bytes)) {
        fprintf(stderr, "kessrig-mkdata: can't build zzzz.saf\n");
        return false;
    }
    // Written last: the build treats the archive as the sign that the whole
    // data set is complete.
    return mkdata::write_file(out, "zzzz.saf", mkdata::bytes(bytes.begin(), bytes.end()));
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc >= 3 && argc <= 5 && strcmp(argv[1], "--preview") == 0)
        return mkdata::write_preview(argv[2], argc >= 4 ? argv[3] : "", argc == 5 ? argv[4] : "") ? 0 : 1;
    if (argc != 2 || argv[1][0] == '-')
        return usage();
    mkdata::output out;
    out.dir = argv[1];
    if (out.dir.empty())
        return usage();
    if (out.dir.back() != '/')
        out.dir += '/';

    if (!mkdata::generate_shared(out) || !mkdata::generate_tracks(out) || !write_archive(out))
        return 1;
    printf("kessrig-mkdata: wrote %d files and %zu archive members into %s\n", out.files_written,
           out.archive.size(), out.dir.c_str());
    return 0;
}
