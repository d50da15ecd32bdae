// Helpers shared by the tests: scratch folders, whole-file reads and writes,
// environment overrides and a private pair of data directories.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace test {

// A fresh empty folder under the system's temporary folder, removed with
// everything in it when the object goes away.
struct temp_dir {
    temp_dir();
    ~temp_dir();
    temp_dir(const temp_dir&) = delete;
    temp_dir& operator=(const temp_dir&) = delete;
    std::string path;  // without a trailing "/"
    std::string operator/(const std::string& rel) const { return path + "/" + rel; }
};

// Writes bytes to path, creating parent folders.
void write_file(const std::string& path, const std::string& bytes);
std::string read_file(const std::string& path);
bool file_exists(const std::string& path);

// Sets (or with null, unsets) an environment variable for the object's life.
struct scoped_env {
    scoped_env(const char* name, const char* value);
    ~scoped_env();
    std::string name;
    bool had = false;
    std::string old;
};

// A full disk, as root sees it too: while it lives no file grows past
// bytes, and a write past that fails as it does on a disk without room.
struct full_disk {
    explicit full_disk(long bytes);
    ~full_disk();
    full_disk(const full_disk&) = delete;
    full_disk& operator=(const full_disk&) = delete;
    long old_limit[2];
    void (*old_handler)(int);
};

// The names in a folder (not recursive), sorted; empty when it is missing.
std::vector<std::string> folder_names(const std::string& dir);

// A home directory and a game data directory of the test's own: points
// XDG_DATA_HOME and KZ_HOME at them and restarts the data file system.
// home is XDG_DATA_HOME + "/Kessrig".
struct data_dirs_fixture {
    data_dirs_fixture();
    ~data_dirs_fixture();
    temp_dir root;
    std::string xdg;   // XDG_DATA_HOME
    std::string home;  // home data directory (ends without "/")
    std::string game;  // game data directory (ends without "/")
    scoped_env env_xdg;
    scoped_env env_kz;
};

// The default game data written by kessrig-mkdata in this build.
std::string build_data_dir();
// The build tree's folder for the pictures the tests keep for people to
// look at (made when missing).
std::string pictures_dir();

// For tests that run the game as a child process: waits up to seconds for
// the child and returns its exit code (128 + signal when a signal ended
// it), or kills it and returns -1; waits until a file holds the text.
int wait_exit(int pid, double seconds);
bool wait_for_text(const std::string& path, const std::string& text, double seconds);

// The next picture of a "--record-video" stream ("P6", width and height,
// 255, then the pixels), skipping any text lines the game printed before
// it. False at the end of the stream or on a header that does not read.
bool read_video_frame(std::FILE* in, int* width, int* height, std::vector<unsigned char>* rgb);

}  // namespace test

struct physics_space;
struct world;

// The world the race and demo tests run (each test creates its own).
inline world* tw = nullptr;

namespace test {

// A physics space of the test program's own for the tests that build bikes
// without a world; created on first use, emptied by physics_reset.
physics_space* physics();
// Destroys the test space (every bike in it must be gone); the next
// physics() creates a fresh one.
void physics_reset();

}  // namespace test
