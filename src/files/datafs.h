// The data file system: data names beginning with "@" are looked up in the
// home directory, the game data directory and the data archives (".saf"),
// through one case-insensitive index. Every write goes to the home directory.
#pragma once

#include <cstddef>

#include "files/stream.h"

struct file_index_entry {
    char* path;   // file on disk (the archive for a member)
    char* name;   // name relative to its data directory, "/" separators
    long offset;  // data offset inside path
    long length;  // data length
    int priority; // lower wins
};

// The i-th data directory ("/"-terminated), or null past the end.
const char* data_dir(int i);

// Opens a data name (or a plain path when it does not begin with "@").
// mode is as for fopen. Returns an owned stream, or null on failure.
data_stream* open_data_file(const char* name, const char* mode);
void close_data_file(data_stream* s);

// Builds the index and the file list once; later calls return the same
// null-terminated list of names.
const char* const* build_file_index();
// Writes entry i as "name -> path" into buffer; false when i is out of range.
bool describe_index_entry(int i, char* buffer, size_t size);
bool rename_data_file(const char* from, const char* to);
// Creates the home directory and asks the desktop to open it.
void open_home_folder();
// Frees the directories, the index and the file list. The next call of
// data_dir or build_file_index starts afresh (tests rely on this).
void free_file_index();

// Start-up game data check: creates the home directory, points the log at
// its "lastlog.txt" and looks for "zzzz.saf" in each data directory.
// Returns false (after showing "Can't find game data") when none holds it.
bool check_game_data();
