#include "core/input_script.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/input.h"
#include "platform/log.h"

namespace {

// A script is a test's handful of key presses; a file far beyond that is
// not one.
const size_t most_events = 100000;
const long most_bytes = 16L << 20;

bool parse_line(const char* line, scripted_event* e)
{
    char key[128];
    long frame;
    int pressed;
    char extra;
    int x, y;
    if (sscanf(line, " %ld pointer %d %d %c", &frame, &x, &y, &extra) == 3) {
        if (frame < 0 || x < 0 || y < 0)
            return false;
        e->frame = frame;
        e->pointer = true;
        e->x = x;
        e->y = y;
        return true;
    }
    if (sscanf(line, " %ld %127s %d %c", &frame, key, &pressed, &extra) != 3 || frame < 0 ||
        (pressed != 0 && pressed != 1))
        return false;
    int code;
    if (key[0] == '#') {
        char* end = nullptr;
        const long n = strtol(key + 1, &end, 10);
        if (end == key + 1 || *end || n < 0 || n > 0x7fffffffL)
            return false;
        code = (int)n;
    } else {
        code = key_code_by_name(key);
        if (code == no_key_code)
            return false;
    }
    e->frame = frame;
    e->code = code;
    e->pressed = pressed;
    return true;
}

}  // namespace

void input_script_parse(input_script* s, const char* text)
{
    int number = 0;
    const char* p = text;
    while (*p && s->events.size() < most_events) {
        const char* end = strchr(p, '\n');
        const size_t n = end ? (size_t)(end - p) : strlen(p);
        std::string line(p, n);
        number++;
        p += n + (end ? 1 : 0);
        const size_t first = line.find_first_not_of(" \t\r");
        if (first == std::string::npos || line[first] == '#')
            continue;
        scripted_event e;
        if (parse_line(line.c_str(), &e))
            s->events.push_back(e);
        else
            log_printf("Input script line %d not understood: %.80s\n", number, line.c_str());
    }
    std::stable_sort(s->events.begin(), s->events.end(),
                     [](const scripted_event& a, const scripted_event& b) { return a.frame < b.frame; });
    s->next = 0;
}

bool input_script_load(input_script* s, const char* path)
{
    FILE* f = fopen(path, "rb");
    if (!f)
        return false;
    std::string text;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0 && (long)text.size() < most_bytes)
        text.append(buffer, n);
    fclose(f);
    input_script_parse(s, text.c_str());
    log_printf("Input script %s: %d events\n", path, (int)s->events.size());
    return true;
}

void input_script_post(input_script* s, long frame)
{
    while (s->next < s->events.size() && s->events[s->next].frame <= frame) {
        const scripted_event& e = s->events[s->next++];
        if (!e.pointer)
            post_event_now(e.code, e.pressed);
        else if (g_input_hooks.move_pointer)
            g_input_hooks.move_pointer(e.x, e.y);
    }
}
