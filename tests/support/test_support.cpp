#include <sys/wait.h>
#include <csignal>
#include <unistd.h>
#include "test_support.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "bike/physics.h"
#include "files/datafs.h"

namespace test {

temp_dir::temp_dir()
{
    const char* base = getenv("TMPDIR");
    std::string templ = std::string(base && *base ? base : "/tmp") + "/kessrig-test-XXXXXX";
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back(0);
    if (!mkdtemp(buf.data()))
        abort();
    path = buf.data();
}

temp_dir::~temp_dir()
{
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
}

void write_file(const std::string& path, const std::string& bytes)
{
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), (std::streamsize)bytes.size());
}

std::string read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

full_disk::full_disk(long bytes)
{
    rlimit old;
    getrlimit(RLIMIT_FSIZE, &old);
    old_limit[0] = (long)old.rlim_cur;
    old_limit[1] = (long)old.rlim_max;
    old_handler = signal(SIGXFSZ, SIG_IGN);
    rlimit full = old;
    full.rlim_cur = (rlim_t)bytes;
    setrlimit(RLIMIT_FSIZE, &full);
}

full_disk::~full_disk()
{
    rlimit old;
    old.rlim_cur = (rlim_t)old_limit[0];
    old.rlim_max = (rlim_t)old_limit[1];
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, old_handler);
}

std::vector<std::string> folder_names(const std::string& dir)
{
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& e : std::filesystem::directory_iterator(dir, error))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

bool file_exists(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

scoped_env::scoped_env(const char* n, const char* value) : name(n)
{
    const char* v = getenv(n);
    had = v != nullptr;
    if (had)
        old = v;
    if (value)
        setenv(n, value, 1);
    else
        unsetenv(n);
}

scoped_env::~scoped_env()
{
    if (had)
        setenv(name.c_str(), old.c_str(), 1);
    else
        unsetenv(name.c_str());
}

data_dirs_fixture::data_dirs_fixture()
    : xdg(root / "xdg"), home(root / "xdg/Kessrig"), game(root / "game"),
      env_xdg("XDG_DATA_HOME", xdg.c_str()), env_kz("KZ_HOME", game.c_str())
{
    std::filesystem::create_directories(home);
    std::filesystem::create_directories(game);
    free_file_index();
}

data_dirs_fixture::~data_dirs_fixture()
{
    free_file_index();
}

std::string build_data_dir()
{
    const char* env = getenv("KESSRIG_DATA_DIR");
    return env && *env ? env : KESSRIG_BUILD_DATA_DIR;
}

}  // namespace test

namespace test {

namespace {

physics_space g_test_physics;

}  // namespace

physics_space* physics()
{
    physics_create(&g_test_physics);
    return &g_test_physics;
}

void physics_reset()
{
    physics_destroy(&g_test_physics);
    g_test_physics = physics_space();
}

int wait_exit(int pid, double seconds)
{
    for (int i = 0; i < seconds * 20; i++) {
        int status;
        if (waitpid(pid, &status, WNOHANG) == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        usleep(50000);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return -1;
}

bool wait_for_text(const std::string& path, const std::string& text, double seconds)
{
    for (int i = 0; i < seconds * 20; i++) {
        if (file_exists(path) && read_file(path).find(text) != std::string::npos)
            return true;
        usleep(50000);
    }
    return false;
}

bool read_video_frame(std::FILE* in, int* width, int* height, std::vector<unsigned char>* rgb)
{
    char line[1024];
    do {
        if (!fgets(line, sizeof line, in))
            return false;
    } while (strcmp(line, "P6\n") != 0);
    int max = 0;
    if (!fgets(line, sizeof line, in) || sscanf(line, "%d %d", width, height) != 2 || *width <= 0 ||
        *height <= 0 || *width > 8192 || *height > 8192)
        return false;
    if (!fgets(line, sizeof line, in) || sscanf(line, "%d", &max) != 1 || max != 255)
        return false;
    rgb->resize((size_t)*width * (size_t)*height * 3);
    return fread(rgb->data(), 1, rgb->size(), in) == rgb->size();
}

std::string pictures_dir()
{
    const std::string dir = build_data_dir() + "/../pictures";
    mkdir(dir.c_str(), 0755);
    return dir;
}

}  // namespace test
