// A private pair of data directories for a harness whose reader opens its
// file by data name: a game data directory and a home under a fresh
// temporary folder, KZ_HOME and XDG_DATA_HOME pointed at them.
#pragma once

#include <sys/stat.h>

#include <cstdlib>
#include <string>

// Makes the directories (once per call; harnesses call it once) with
// `folder` inside the game data directory, and returns that folder's path.
// tag names the temporary folder. Aborts when no folder can be made.
inline std::string fuzz_data_dirs(const char* tag, const char* folder)
{
    std::string templ = std::string("/tmp/kessrig-fuzz-") + tag + "-XXXXXX";
    const char* root = mkdtemp(&templ[0]);
    if (!root)
        abort();
    const std::string game = std::string(root) + "/game", home = std::string(root) + "/xdg";
    mkdir(game.c_str(), 0700);
    mkdir(home.c_str(), 0700);
    mkdir((game + "/" + folder).c_str(), 0700);
    setenv("KZ_HOME", game.c_str(), 1);
    setenv("XDG_DATA_HOME", home.c_str(), 1);
    return game + "/" + folder;
}
