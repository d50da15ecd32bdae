// Data names ("@...") resolved over the home directory, the game data
// directory and the data archives, with gzip and scrambled variants.
#include "files/datafs.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include "core/services.h"
#include "files/memory.h"
#include "platform/log.h"

namespace {

enum {
    MAX_DATA_DIRS = 2,
    COMPOSED_PATH_MAX = 511,   // data directory + name
    CONCRETE_PATH_MAX = 1024,  // a path with its suffix must stay below this
    ARCHIVE_LINE = 1024,       // header line buffer, newline included
    LIST_DEPTH_MAX = 64,       // folder nesting listed at most
    ARCHIVE_MEMBERS_MAX = 1 << 20,  // more makes the archive malformed
};

// Suffix variants in the order they are tried.
struct suffix_variant {
    const char* suffix;
    bool gzip;
    bool scrambled;
};
const suffix_variant suffix_variants[] = {
    {".gz", true, false},
    {".scram", false, true},
    {".gz.scram", true, true},
};

struct datafs_state {
    bool dirs_built = false;
    int dir_count = 0;
    char* dirs[MAX_DATA_DIRS] = {};

    bool index_built = false;
    file_index_entry* index = nullptr;
    int count = 0;
    int capacity = 0;
    const char** list = nullptr;  // null-terminated; strings owned by index
};
datafs_state g_fs;

void pump_loading_screen()
{
    if (g_status_service.pump)
        g_status_service.pump();
}

// Backslashes become "/", runs of "/" collapse to one.
std::string normalise_dir(const std::string& path)
{
    std::string out;
    for (char c : path) {
        if (c == '\\')
            c = '/';
        if (c == '/' && !out.empty() && out.back() == '/')
            continue;
        out += c;
    }
    if (out.empty() || out.back() != '/')
        out += '/';
    return out;
}

void add_dir(const std::string& path)
{
    if (g_fs.dir_count >= MAX_DATA_DIRS)
        return;
    char* copy = mem_strdup(normalise_dir(path).c_str());
    if (copy)
        g_fs.dirs[g_fs.dir_count++] = copy;
}

void build_dirs()
{
    // Worlds on several threads open their files through the same list.
    static std::mutex lock;
    std::lock_guard<std::mutex> guard(lock);
    if (g_fs.dirs_built)
        return;
    g_fs.dirs_built = true;

    const char* xdg = getenv("XDG_DATA_HOME");
    const char* home = getenv("HOME");
    if (xdg && *xdg)
        add_dir(std::string(xdg) + "/Kessrig/");
    else if (home && *home)
        add_dir(std::string(home) + "/.local/share/Kessrig/");

    // An empty KZ_HOME would mean the root folder; treat it as unset.
    const char* kz = getenv("KZ_HOME");
    if (kz && *kz) {
        add_dir(std::string(kz) + "/");
    } else {
        char exe[4096];
        ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
        if (n > 0) {
            exe[n] = 0;
            char* slash = strrchr(exe, '/');
            if (slash) {
                slash[1] = 0;
                add_dir(exe);
            }
        }
    }
}

// data directory i + rest, or false when the result would be cut.
bool compose(int i, const char* rest, std::string* out)
{
    const char* dir = data_dir(i);
    if (!dir)
        return false;
    *out = std::string(dir) + rest;
    return out->size() <= COMPOSED_PATH_MAX;
}

// Creates every directory on the way to path (the prefix before each "/").
void make_parent_dirs(const std::string& path)
{
    if (path.size() >= CONCRETE_PATH_MAX)
        return;
    for (size_t i = 1; i < path.size(); i++) {
        if (path[i] != '/' || path[i - 1] == '/')
            continue;
        mkdir(path.substr(0, i).c_str(), 0777);
    }
}

bool is_read_mode(const char* mode)
{
    return strchr(mode, 'r') && !strchr(mode, '+');
}

// fopen that refuses directories for reading (which fopen would accept and
// then deliver nothing from).
FILE* open_file(const char* path, const char* mode, bool read)
{
    FILE* f = fopen(path, mode);
    if (f && read) {
        struct stat st;
        if (fstat(fileno(f), &st) != 0 || S_ISDIR(st.st_mode)) {
            fclose(f);
            return nullptr;
        }
    }
    return f;
}

data_stream* new_stream()
{
    void* memory = mem_alloc(sizeof(data_stream));
    return memory ? new (memory) data_stream() : nullptr;
}

void free_stream(data_stream* s)
{
    s->~data_stream();
    mem_free(s);
}

// Sets up a stream over an open file, taking ownership of it; on failure
// the file is closed.
data_stream* stream_over(FILE* f, long offset, long length, bool gzip, bool scrambled)
{
    data_stream* s = new_stream();
    if (!s) {
        fclose(f);
        return nullptr;
    }
    if (!start_stream(s, f, offset, length, gzip, scrambled)) {
        fclose(f);
        free_stream(s);
        return nullptr;
    }
    return s;
}

// Opens a concrete path, with the suffix fallbacks for reading.
data_stream* open_path(const std::string& path, const char* mode)
{
    bool read = is_read_mode(mode);
    if (!read)
        make_parent_dirs(path);
    FILE* f = open_file(path.c_str(), mode, read);
    if (f)
        return stream_over(f, 0, STREAM_WHOLE_FILE, false, false);
    if (!read)
        return nullptr;
    for (const suffix_variant& v : suffix_variants) {
        std::string variant = path + v.suffix;
        if (variant.size() >= CONCRETE_PATH_MAX)
            continue;
        f = open_file(variant.c_str(), mode, true);
        if (f)
            return stream_over(f, 0, STREAM_WHOLE_FILE, v.gzip, v.scrambled);
    }
    return nullptr;
}

// Case-insensitive byte comparison, each byte folded with tolower.
int compare_names(const char* a, const char* b)
{
    for (;; a++, b++) {
        int ca = tolower((unsigned char)*a);
        int cb = tolower((unsigned char)*b);
        if (ca != cb || ca == 0)
            return ca - cb;
    }
}

// Index order: name case-insensitively, then priority. The exact spelling,
// the offset and the path only make the order total, so that listing order
// of the file system never shows through.
bool entry_before(const file_index_entry& a, const file_index_entry& b)
{
    int c = compare_names(a.name, b.name);
    if (c != 0)
        return c < 0;
    if (a.priority != b.priority)
        return a.priority < b.priority;
    c = strcmp(a.name, b.name);
    if (c != 0)
        return c < 0;
    if (a.offset != b.offset)
        return a.offset < b.offset;
    return strcmp(a.path, b.path) < 0;
}

void sort_index()
{
    std::sort(g_fs.index, g_fs.index + g_fs.count, entry_before);
}

void free_entry(file_index_entry& e)
{
    mem_free(e.path);
    mem_free(e.name);
    e.path = e.name = nullptr;
}

// Appends an entry, taking ownership of its strings. Out of memory drops
// the entry.
void add_entry(char* path, char* name, long offset, long length, int priority)
{
    if (!path || !name) {
        mem_free(path);
        mem_free(name);
        return;
    }
    if (g_fs.count == g_fs.capacity) {
        int grown = g_fs.capacity ? g_fs.capacity * 2 : 16;
        void* p = grown > 0 ? mem_realloc(g_fs.index, sizeof(file_index_entry) * (size_t)grown) : nullptr;
        if (!p) {
            mem_free(path);
            mem_free(name);
            return;
        }
        g_fs.index = static_cast<file_index_entry*>(p);
        g_fs.capacity = grown;
    }
    g_fs.index[g_fs.count++] = {path, name, offset, length, priority};
}

// A directory on the way down, to notice symbolic links that lead back up.
struct dir_identity {
    dev_t device;
    ino_t inode;
};

// Lists directory `dir` (without trailing "/") below data directory prefix.
// `above` holds the directories being listed further up.
void list_dir(const std::string& dir, size_t prefix_length, int priority, std::vector<dir_identity>& above)
{
    if ((int)above.size() > LIST_DEPTH_MAX)
        return;
    pump_loading_screen();
    struct stat self;
    if (stat(dir.c_str(), &self) != 0)
        return;
    for (const dir_identity& a : above)
        if (a.device == self.st_dev && a.inode == self.st_ino)
            return;  // a link back up would list the same files forever
    DIR* d = opendir(dir.c_str());
    if (!d)
        return;
    above.push_back({self.st_dev, self.st_ino});
    while (struct dirent* e = readdir(d)) {
        if (!strcmp(e->d_name, ".") || !strcmp(e->d_name, ".."))
            continue;
        std::string full = dir + "/" + e->d_name;
        struct stat st;
        if (stat(full.c_str(), &st) != 0)
            continue;
        if (S_ISDIR(st.st_mode)) {
            list_dir(full, prefix_length, priority, above);
            continue;
        }
        add_entry(mem_strdup(full.c_str()), mem_strdup(full.c_str() + prefix_length), 0, (long)st.st_size, priority);
    }
    above.pop_back();
    closedir(d);
}

// Reads one header line (newline included) of at most ARCHIVE_LINE - 1
// bytes. Returns the length, or -1 when the line is too long or input ended
// before a newline.
int read_header_line(FILE* f, char* line)
{
    int n = 0;
    while (n < ARCHIVE_LINE - 1) {
        int c = getc(f);
        if (c == EOF)
            return -1;
        line[n++] = (char)c;
        if (c == '\n') {
            line[n] = 0;
            return n;
        }
    }
    return -1;
}

char* collapse_slashes(const char* text)
{
    std::string out;
    for (const char* p = text; *p; p++)
        if (!(*p == '/' && !out.empty() && out.back() == '/'))
            out += *p;
    return mem_strdup(out.c_str());
}

// Adds the members of one archive at the given priority; a malformed
// archive adds nothing. Returns false when the archive could not be opened.
bool read_archive(const char* path, int priority)
{
    FILE* f = fopen(path, "rb");
    if (!f)
        return false;
    int first = g_fs.count;
    long header_size = 0;
    long data_offset = 0;  // of the next member, from the end of the header
    bool complete = false;
    char line[ARCHIVE_LINE];
    for (;;) {
        int n = read_header_line(f, line);
        if (n < 0)
            break;
        header_size += n;
        line[n - 1] = 0;
        if (!strcmp(line, "-")) {
            complete = true;
            break;
        }
        // A name cannot hold a zero byte.
        if ((int)strlen(line) != n - 1)
            break;
        char* end;
        errno = 0;
        long length = strtol(line, &end, 10);
        // Negative or absurd lengths would make offsets meaningless.
        if (end == line || errno == ERANGE || length < 0 || length > STREAM_WHOLE_FILE)
            break;
        if (data_offset > LONG_MAX / 2 || g_fs.count - first >= ARCHIVE_MEMBERS_MAX)
            break;
        if (*end)
            end++;  // exactly one separator
        // A member without a name cannot be looked up, but its bytes still
        // take their place in the data.
        if (*end)
            add_entry(mem_strdup(path), collapse_slashes(end), data_offset, length, priority);
        data_offset += length;
    }
    fclose(f);
    if (!complete) {
        for (int i = first; i < g_fs.count; i++)
            free_entry(g_fs.index[i]);
        g_fs.count = first;
        return true;
    }
    for (int i = first; i < g_fs.count; i++)
        g_fs.index[i].offset += header_size;
    return true;
}

bool ends_with_saf(const char* name)
{
    size_t n = strlen(name);
    return n >= 5 && compare_names(name + n - 4, ".saf") == 0;
}

// Lowest position whose name equals key case-insensitively, or -1.
int find_entry(const char* key)
{
    int lo = 0, hi = g_fs.count;
    while (lo < hi) {
        int mid = lo + (hi - lo) / 2;
        if (compare_names(g_fs.index[mid].name, key) < 0)
            lo = mid + 1;
        else
            hi = mid;
    }
    if (lo < g_fs.count && compare_names(g_fs.index[lo].name, key) == 0)
        return lo;
    return -1;
}

data_stream* open_from_index(const char* rest)
{
    int best = -1;
    const suffix_variant* best_variant = nullptr;
    static const suffix_variant plain = {"", false, false};
    const suffix_variant* variants[] = {&plain, &suffix_variants[0], &suffix_variants[1], &suffix_variants[2]};
    for (const suffix_variant* v : variants) {
        std::string key = std::string(rest) + v->suffix;
        int i = find_entry(key.c_str());
        if (i < 0)
            continue;
        if (best < 0 || g_fs.index[i].priority < g_fs.index[best].priority) {
            best = i;
            best_variant = v;
        }
    }
    if (best < 0)
        return nullptr;
    const file_index_entry& e = g_fs.index[best];
    FILE* f = open_file(e.path, "rb", true);
    if (!f)
        return nullptr;
    if (fseek(f, e.offset, SEEK_SET) != 0) {
        fclose(f);
        return nullptr;
    }
    return stream_over(f, e.offset, e.length, best_variant->gzip, best_variant->scrambled);
}

// A data name in the home directory, any other name as it is.
bool rename_path(const char* name, std::string* out)
{
    if (name[0] == '@')
        return compose(0, name + 1, out);
    *out = name;
    return true;
}

// Makes a file that was renamed into its folder survive a power cut.
void sync_folder_of(const std::string& path)
{
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
}

// Temporary names are unique across the threads and processes writing
// beside each other (worlds on several threads save racing lines), and end
// in ".tmp" so that no folder listing by suffix takes them for data.
std::string temporary_beside(const std::string& path)
{
    static std::atomic<unsigned> counter{0};
    char tail[48];
    snprintf(tail, sizeof tail, ".%ld.%u.tmp", (long)getpid(), counter.fetch_add(1));
    return path + tail;
}

// Removes what writers killed part way left beside path: temporary files
// of its name whose process is gone (never our own, which another thread
// may be writing).
void remove_stale_temporaries(const std::string& path)
{
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash);
    const std::string base = (slash == std::string::npos ? path : path.substr(slash + 1)) + ".";
    DIR* d = opendir(folder.c_str());
    if (!d)
        return;
    while (struct dirent* e = readdir(d)) {
        const char* name = e->d_name;
        if (strncmp(name, base.c_str(), base.size()) != 0)
            continue;
        long pid = 0;
        unsigned n = 0;
        int end = 0;
        if (sscanf(name + base.size(), "%ld.%u.tmp%n", &pid, &n, &end) != 2 || name[base.size() + end] != 0)
            continue;
        if (pid <= 0 || pid == (long)getpid() || kill((pid_t)pid, 0) == 0 || errno != ESRCH)
            continue;
        unlink((folder + "/" + name).c_str());
    }
    closedir(d);
}

bool write_bytes(data_stream* s, void* context)
{
    const std::pair<const void*, size_t>* bytes = static_cast<const std::pair<const void*, size_t>*>(context);
    return bytes->second == 0 || stream_write(s, bytes->first, bytes->second) == bytes->second;
}

// Creates every component of a directory path ("/"-terminated).
void make_dirs(const char* dir)
{
    std::string path(dir);
    make_parent_dirs(path);
    mkdir(path.c_str(), 0777);
}

}  // namespace

const char* data_dir(int i)
{
    build_dirs();
    if (i < 0 || i >= g_fs.dir_count)
        return nullptr;
    return g_fs.dirs[i];
}

data_stream* open_data_file(const char* name, const char* mode)
{
    if (!name || !*name || !mode)
        return nullptr;
    if (name[0] != '@')
        return open_path(name, mode);
    const char* rest = name + 1;
    bool read = is_read_mode(mode);
    if (!read) {
        if (const char* problem = data_name_problem(name)) {
            log_printf("Refusing to write '%.300s': the name %s\n", name, problem);
            return nullptr;
        }
    }
    // Writes always go to the first data directory (home when there is one).
    for (int i = 0; data_dir(i) && (read || i == 0); i++) {
        std::string path;
        if (!compose(i, rest, &path))
            continue;
        if (data_stream* s = open_path(path, mode))
            return s;
    }
    if (read && g_fs.index_built)
        return open_from_index(rest);
    return nullptr;
}

void close_data_file(data_stream* s)
{
    if (!s)
        return;
    end_stream(s);
    free_stream(s);
}

const char* const* build_file_index()
{
    if (g_fs.index_built)
        return g_fs.list;
    g_fs.index_built = true;

    log_printf("Listing directories\n");
    for (int i = 0; data_dir(i); i++) {
        std::string dir = data_dir(i);
        size_t prefix = dir.size();
        dir.pop_back();  // the trailing "/"
        std::vector<dir_identity> above;
        list_dir(dir, prefix, i, above);
    }
    sort_index();

    log_printf("Listing archives\n");
    int counter = g_fs.dir_count;
    int loose = g_fs.count;
    for (int i = 0; i < loose; i++) {
        if (!ends_with_saf(g_fs.index[i].name))
            continue;
        pump_loading_screen();
        // The path string is owned by the entry, so it survives the index
        // growing while the archive's members are added.
        read_archive(g_fs.index[i].path, counter);
        counter++;
    }
    sort_index();

    log_printf("Creating file list\n");
    g_fs.list = static_cast<const char**>(mem_alloc_or_die(sizeof(char*) * ((size_t)g_fs.count + 1)));
    int n = 0;
    for (int i = 0; i < g_fs.count; i++) {
        const char* name = g_fs.index[i].name;
        if (n > 0 && compare_names(g_fs.list[n - 1], name) == 0)
            continue;
        g_fs.list[n++] = name;
    }
    g_fs.list[n] = nullptr;
    log_printf("File index complete\n");
    return g_fs.list;
}

bool describe_index_entry(int i, char* buffer, size_t size)
{
    if (i < 0 || i >= g_fs.count)
        return false;
    if (size > 0)
        snprintf(buffer, size, "%s -> %s", g_fs.index[i].name, g_fs.index[i].path);
    return true;
}

bool rename_data_file(const char* from, const char* to)
{
    std::string from_path, to_path;
    // A path that would have to be cut names some other file: refuse.
    if (!from || !to || !rename_path(from, &from_path) || !rename_path(to, &to_path))
        return false;
    if (data_name_problem(from) || data_name_problem(to))
        return false;
    if (from_path.size() > COMPOSED_PATH_MAX || to_path.size() > COMPOSED_PATH_MAX)
        return false;
    // rename replaces an existing file in one step, so a crash never leaves
    // the name without a file.
    return rename(from_path.c_str(), to_path.c_str()) == 0;
}

const char* file_name_problem(const char* name)
{
    if (!name || !name[0])
        return "is empty";
    if (strlen(name) > SAFE_FILE_NAME_MAX)
        return "is too long";
    if (strstr(name, ".."))
        return "holds '..'";
    for (const char* p = name; *p; p++) {
        if (*p == '/' || *p == '\\')
            return "holds a '/' or '\\'";
        if ((unsigned char)*p < 32 || *p == 127)
            return "holds a control character";
    }
    return nullptr;
}

bool safe_file_name(const char* name)
{
    return file_name_problem(name) == nullptr;
}

const char* data_name_problem(const char* name)
{
    if (!name || name[0] != '@')
        return nullptr;  // a plain path given by the player on this machine
    const char* rest = name + 1;
    if (!rest[0])
        return "is empty";
    if (strlen(rest) > COMPOSED_PATH_MAX)
        return "is too long";
    if (rest[0] == '/')
        return "is absolute";
    const char* part = rest;
    for (const char* p = rest;; p++) {
        if (*p == '/' || *p == 0) {
            const size_t length = (size_t)(p - part);
            if (length == 2 && part[0] == '.' && part[1] == '.')
                return "holds '..'";
            if (*p == 0)
                break;
            part = p + 1;
            continue;
        }
        if (*p == '\\')
            return "holds a '\\'";
        if ((unsigned char)*p < 32 || *p == 127)
            return "holds a control character";
    }
    return nullptr;
}

bool begin_replacing(const char* name, replacing_file* r)
{
    *r = replacing_file();
    if (!name || !name[0])
        return false;
    if (const char* problem = data_name_problem(name)) {
        log_printf("Refusing to write '%.300s': the name %s\n", name, problem);
        return false;
    }
    std::string target;
    if (!rename_path(name, &target) || target.size() > COMPOSED_PATH_MAX)
        return false;
    make_parent_dirs(target);
    std::string temp = temporary_beside(target);
    // A fresh name: never follow or reuse something already there.
    const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        log_printf("Can't write '%.300s': %s\n", target.c_str(), strerror(errno));
        return false;
    }
    // The new file keeps the permissions the player gave the old one.
    struct stat old;
    if (stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode))
        fchmod(fd, old.st_mode & 07777);
    FILE* f = fdopen(fd, "wb");
    if (!f) {
        close(fd);
        unlink(temp.c_str());
        return false;
    }
    data_stream* s = stream_over(f, 0, STREAM_WHOLE_FILE, false, false);
    if (!s) {
        unlink(temp.c_str());
        return false;
    }
    r->stream = s;
    r->temp_path = temp;
    r->target_path = target;
    return true;
}

bool finish_replacing(replacing_file* r, bool ok, bool durable)
{
    data_stream* s = r->stream;
    if (!s)
        return false;
    errno = 0;
    FILE* f = s->file;
    ok = f && fflush(f) == 0 && !ferror(f) && ok;
    if (durable)
        ok = ok && fsync(fileno(f)) == 0;
    // The close can be the first to hear of a full disk.
    s->file = nullptr;
    close_data_file(s);
    ok = (!f || fclose(f) == 0) && ok;
    r->stream = nullptr;
    if (ok && rename(r->temp_path.c_str(), r->target_path.c_str()) != 0)
        ok = false;
    if (!ok) {
        log_printf("Can't write '%.300s': %s\n", r->target_path.c_str(), errno ? strerror(errno) : "write failed");
        unlink(r->temp_path.c_str());
    } else {
        if (durable)
            sync_folder_of(r->target_path);
        remove_stale_temporaries(r->target_path);
    }
    *r = replacing_file();
    return ok;
}

bool replace_data_file(const char* name, bool (*write)(data_stream* s, void* context), void* context, bool durable)
{
    replacing_file r;
    if (!begin_replacing(name, &r))
        return false;
    const bool ok = write(r.stream, context);
    return finish_replacing(&r, ok, durable);
}

bool replace_data_file_bytes(const char* name, const void* data, size_t size, bool durable)
{
    std::pair<const void*, size_t> bytes(data, size);
    return replace_data_file(name, write_bytes, &bytes, durable);
}

void open_home_folder()
{
    const char* home = data_dir(0);
    if (!home)
        return;
    make_dirs(home);
    std::string folder(home);
    if (folder.size() > 1)
        folder.pop_back();
    // Double fork: the browser is started without waiting for it, and the
    // short-lived middle process is reaped here, so no zombie is left.
    pid_t child = fork();
    if (child < 0) {
        log_printf("Can't start xdg-open\n");
        return;
    }
    if (child == 0) {
        pid_t grandchild = fork();
        if (grandchild == 0) {
            execlp("xdg-open", "xdg-open", folder.c_str(), (char*)nullptr);
            _exit(127);
        }
        _exit(grandchild < 0 ? 1 : 0);
    }
    int status;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
}

void free_file_index()
{
    for (int i = 0; i < g_fs.count; i++)
        free_entry(g_fs.index[i]);
    mem_free(g_fs.index);
    mem_free(g_fs.list);
    for (int i = 0; i < g_fs.dir_count; i++)
        mem_free(g_fs.dirs[i]);
    g_fs = datafs_state();
}

bool check_game_data()
{
    if (const char* home = data_dir(0)) {
        make_dirs(home);
        log_printf("VORN_LOGFILE=%slastlog.txt", home);
    }
    for (int i = 0; data_dir(i); i++) {
        std::string path = std::string(data_dir(i)) + "zzzz.saf";
        struct stat st;
        if (stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode))
            return true;
    }
    message_box("Problem starting Kessrig", "Can't find game data\n");
    return false;
}
