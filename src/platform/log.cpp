// Log file, platform options, the clock and the message box fallback.
// Nothing here needs a display: the window layer plugs the real message box
// in through g_platform_hooks.
#include "platform/log.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sched.h>
#include <string>
#include <time.h>

platform_hooks g_platform_hooks;

namespace {

constexpr const char* logfile_command = "VORN_LOGFILE=";

struct log_state {
    std::mutex lock;
    FILE* file = nullptr;
    bool initialised = false;
    char last_error[1024] = "Unknown";
};

log_state& the_log()
{
    // Never destroyed: threads and static destructors may still log at exit.
    static log_state* state = new log_state;
    return *state;
}

struct option_state {
    std::mutex lock;
    bool loaded = false;
    std::string text;
};

option_state& the_options()
{
    static option_state* state = new option_state;
    return *state;
}

// Formats into a string of any length (the message is written in one call).
std::string format_text(const char* format, va_list args)
{
    char small[1024];
    va_list copy;
    va_copy(copy, args);
    int n = vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (n < 0)
        return std::string();
    if ((size_t)n < sizeof small)
        return std::string(small, (size_t)n);
    std::string big((size_t)n + 1, '\0');
    vsnprintf(&big[0], big.size(), format, args);
    big.resize((size_t)n);
    return big;
}

// Writes one line with its time stamp; the caller holds the log lock.
void write_line(log_state& log, const std::string& text)
{
    if (!log.file || text.empty() || (unsigned char)text[0] == 19)
        return;
    clock_time now = clock_now();
    long sec = now.sec < 0 ? 0 : now.sec;
    char prefix[64];
    int n = snprintf(prefix, sizeof prefix, "[%ld:%02ld:%02ld.%02ld] ", sec / 3600, sec / 60 % 60,
                     sec % 60, now.usec / 10000);
    std::string line(prefix, n > 0 ? (size_t)n : 0);
    line += text;
    fwrite(line.data(), 1, line.size(), log.file);
    fflush(log.file);
}

void write_formatted(log_state& log, const char* format, ...) __attribute__((format(printf, 2, 3)));
void write_formatted(log_state& log, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::string text = format_text(format, args);
    va_end(args);
    write_line(log, text);
}

// The first message decides where the log goes. Returns true when that
// message was the "VORN_LOGFILE=" command, which is never written itself.
bool open_log(log_state& log, const std::string& first)
{
    log.initialised = true;
    bool command = first.compare(0, strlen(logfile_command), logfile_command) == 0;
    std::string name;
    const char* env = getenv("VORN_LOGFILE");
    if (env) {
        name = env;
    } else if (command) {
        name = first.substr(strlen(logfile_command));
        // A trailing line end is never part of a file name.
        while (!name.empty() && (name.back() == '\n' || name.back() == '\r'))
            name.pop_back();
    } else {
        return command;
    }

    std::string mode = "w";
    if (name.compare(0, 2, ">>") == 0) {
        name.erase(0, 2);
        mode = "a";
    } else if (name.compare(0, 1, ">") == 0) {
        name.erase(0, 1);
    }
    const char* flags = getenv("VORN_LOGFILE_FLAGS");
    if (flags)
        mode = flags;

    log.file = name.empty() ? nullptr : fopen(name.c_str(), mode.c_str());
    if (log.file) {
        // Programs started by the game (the file browser) must not keep the log open.
        int fd = fileno(log.file);
        fcntl(fd, F_SETFD, fcntl(fd, F_GETFD) | FD_CLOEXEC);
    }
    write_formatted(log, "Logfile \"%s\" opened\n", name.c_str());
    write_formatted(log, "VORN 0.31\n");
    return command;
}

const std::string& option_text()
{
    option_state& o = the_options();
    std::lock_guard<std::mutex> guard(o.lock);
    if (!o.loaded) {
        const char* env = getenv("VORN_OPTIONS");
        o.text = env ? env : "";
        o.loaded = true;
    }
    return o.text;
}

// The text after "[name:" or null when the option is not given.
const char* option_value(const char* name)
{
    std::string key = "[";
    key.append(name, strnlen(name, 60));
    key += ":";
    const std::string& text = option_text();
    size_t at = text.find(key);
    if (at == std::string::npos)
        return nullptr;
    return text.c_str() + at + key.size();
}

long long clock_ms()
{
    clock_time t = clock_now();
    return (long long)t.sec * 1000 + t.usec / 1000;
}

}  // namespace

void log_vprintf(const char* format, va_list args)
{
    if (!format) {
        log_close();
        return;
    }
    std::string text = format_text(format, args);
    log_state& log = the_log();
    std::lock_guard<std::mutex> guard(log.lock);
    if (!log.initialised && open_log(log, text))
        return;
    write_line(log, text);
}

void log_printf(const char* format, ...)
{
    if (!format) {
        log_close();
        return;
    }
    va_list args;
    va_start(args, format);
    log_vprintf(format, args);
    va_end(args);
}

void log_close()
{
    log_state& log = the_log();
    std::lock_guard<std::mutex> guard(log.lock);
    // The log stays initialised: a message after the close must not reopen
    // (and with mode "w" truncate) the file.
    log.initialised = true;
    if (log.file) {
        fclose(log.file);
        log.file = nullptr;
    }
}

void log_error(const char* text)
{
    if (!text)
        text = "";
    log_printf("Error: %s\n", text);
    log_state& log = the_log();
    std::lock_guard<std::mutex> guard(log.lock);
    snprintf(log.last_error, sizeof log.last_error, "%s", text);
}

const char* last_error()
{
    return the_log().last_error;
}

int option_flag(const char* name, int default_value)
{
    const char* value = option_value(name);
    if (!value)
        return default_value;
    if (strncmp(value, "yes]", 4) == 0 || strncmp(value, "on]", 3) == 0)
        return 1;
    if (strncmp(value, "no]", 3) == 0 || strncmp(value, "off]", 4) == 0)
        return 0;
    log_printf("unrecognized setting for %s\n", name);
    return default_value;
}

int option_int(const char* name, int default_value)
{
    const char* value = option_value(name);
    if (!value)
        return default_value;
    const char* p = value;
    while (*p == ' ' || *p == '\t')
        p++;
    const char* digits = (*p == '-' || *p == '+') ? p + 1 : p;
    if (*digits < '0' || *digits > '9') {
        log_printf("unrecognized setting for %s\n", name);
        return default_value;
    }
    errno = 0;
    long v = strtol(p, nullptr, 10);
    if (v > INT_MAX)
        v = INT_MAX;
    if (v < INT_MIN)
        v = INT_MIN;
    return (int)v;
}

clock_time clock_now()
{
    if (g_platform_hooks.clock_source)
        return g_platform_hooks.clock_source();
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    // The game's clock ticks in whole milliseconds.
    clock_time t;
    t.sec = (long)ts.tv_sec;
    t.usec = ts.tv_nsec / 1000000 * 1000;
    return t;
}

double clock_seconds()
{
    clock_time t = clock_now();
    return (double)t.sec + (double)t.usec * 1e-6;
}

clock_time sleep_for(long sec, long usec)
{
    long long wait_ms = (long long)sec * 1000 + usec / 1000;
    long long wake = clock_ms() + wait_ms;
    if (wait_ms > 1) {
        // The system sleep may overshoot; the last millisecond is spent
        // yielding so the wake-up lands on time.
        long long ms = wait_ms - 1;
        timespec req{(time_t)(ms / 1000), (long)(ms % 1000) * 1000000L};
        timespec rem{};
        while (nanosleep(&req, &rem) != 0 && errno == EINTR)
            req = rem;
    }
    long long now = clock_ms();
    while (now < wake) {
        sched_yield();
        now = clock_ms();
    }
    long long late = now - wake;
    clock_time t;
    t.sec = (long)(late / 1000);
    t.usec = (long)(late % 1000) * 1000;
    return t;
}

void message_box(const char* title, const char* format, ...)
{
    char text[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (!title)
        title = "";
    if (g_platform_hooks.show_message_box && g_platform_hooks.show_message_box(title, text))
        return;
    fprintf(stderr, "%s: %s\n", title, text);
    fflush(stderr);
}

void log_reset_for_tests()
{
    log_state& log = the_log();
    std::lock_guard<std::mutex> guard(log.lock);
    if (log.file)
        fclose(log.file);
    log.file = nullptr;
    log.initialised = false;
    snprintf(log.last_error, sizeof log.last_error, "%s", "Unknown");
}

void options_reset_for_tests()
{
    option_state& o = the_options();
    std::lock_guard<std::mutex> guard(o.lock);
    o.loaded = false;
    o.text.clear();
}
