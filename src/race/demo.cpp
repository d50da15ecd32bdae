// Playing a demo from the "Playback Race" menu.
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <strings.h>
#include <string>

#include "core/messages.h"
#include "files/datafs.h"
#include "race/demo.h"
#include "race/demo_internal.h"

namespace {

const char* const k_default_demo = "@demos/default.kzdemo";

// Where a data name or path lies on disk, for telling whether two names
// are one file. False when it does not exist.
bool file_identity(const char* name, struct stat* out)
{
    std::string path;
    if (name[0] == '@') {
        const char* home = data_dir(0);
        if (!home)
            return false;
        path = std::string(home) + (name + 1);
    } else {
        path = name;
    }
    return stat(path.c_str(), out) == 0;
}

// True when file is the default recording: by name, or as the same file
// on disk under another name.
bool is_default_demo(const char* file)
{
    if (strcasecmp(file, k_default_demo) == 0)
        return true;
    struct stat a, b;
    return file_identity(file, &a) && file_identity(k_default_demo, &b) && a.st_dev == b.st_dev &&
           a.st_ino == b.st_ino;
}

}  // namespace

void demo_playback_lineup(int mode, const int* gate_choices, int* out)
{
    race_default_lineup(out, true);
    if (mode != playback_race_against)
        return;
    int slot = 0;
    if (gate_choices)
        for (int i = 0; i < 40; i++)
            if (gate_choices[i] == lineup_player) {
                slot = i;
                break;
            }
    out[slot] = lineup_player;
}

bool play_demo_race(world* w, const char* file, int mode, bool record, int skill, const int* gate_choices)
{
    int lineup[RACE_SLOTS];
    demo_playback_lineup(mode, gate_choices, lineup);
    bool recording = mode == playback_race_against && record;
    if (recording && is_default_demo(file)) {
        add_message("Can't record and play from same file - recording disabled");
        recording = false;
    }
    return world_reset(w, lineup, file, recording, 0, 10, skill);
}
