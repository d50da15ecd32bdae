// The data file system: data names beginning with "@" are looked up in the
// home directory, the game data directory and the data archives (".saf"),
// through one case-insensitive index. Every write goes to the home directory.
#pragma once

#include <cstddef>
#include <string>

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
// Moves a file over another in one step (rename), so the name never stands
// without a file. Data names of the home directory or plain paths.
bool rename_data_file(const char* from, const char* to);

// ---- names from outside ----

// The longest plain file name accepted from a player, a server, a demo or a
// command.
enum { SAFE_FILE_NAME_MAX = 200 };
// Why name cannot be one file inside its folder, as a short phrase for a
// message ("is empty", "holds '..'", ...); null when it can: not empty, at
// most SAFE_FILE_NAME_MAX bytes, no '/' or '\\', no "..", no control
// characters.
const char* file_name_problem(const char* name);
bool safe_file_name(const char* name);
// Why a data name ("@" and a relative path) would be written outside the
// home directory or is otherwise unusable: an empty, too long or absolute
// path, a ".." component, a '\\' or a control character. Null when it is
// fine, and for plain paths (the player's own on this machine). Every write
// and rename of a data name goes through this check.
const char* data_name_problem(const char* name);

// ---- replacing files whole ----

// A file being written under a temporary name beside the one it replaces.
struct replacing_file {
    data_stream* stream = nullptr;
    std::string temp_path;    // the new file while it is written
    std::string target_path;  // the name it takes at the end
};
// Opens a new file beside name (a data name, which lands in the home
// directory, or a plain path) for writing. False, with nothing created,
// when the name is refused or the folder cannot take a file.
bool begin_replacing(const char* name, replacing_file* r);
// Ends the replacement: when ok and every write went through, the new file
// (on the disk first when durable) takes the name in one step; otherwise it
// is removed and the old file stays as it was. Returns whether the name now
// holds the new file. Temporary files of the name that killed writers left
// are cleared after a success.
bool finish_replacing(replacing_file* r, bool ok, bool durable);
// Writes a whole file through begin_replacing/finish_replacing: write
// returns false on a failed write, and then nothing replaces the old file.
// Durable replacements wait for the disk (settings, standings, lines).
bool replace_data_file(const char* name, bool (*write)(data_stream* s, void* context), void* context,
                       bool durable = true);
// Writes bytes as a whole file the same way.
bool replace_data_file_bytes(const char* name, const void* data, size_t size, bool durable);

// Creates the home directory and asks the desktop to open it.
void open_home_folder();
// Frees the directories, the index and the file list. The next call of
// data_dir or build_file_index starts afresh (tests rely on this).
void free_file_index();

// Start-up game data check: creates the home directory, points the log at
// its "lastlog.txt" and looks for "zzzz.saf" in each data directory.
// Returns false (after showing "Can't find game data") when none holds it.
bool check_game_data();
