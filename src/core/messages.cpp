#include "core/messages.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "core/services.h"
#include "platform/log.h"

message_lines g_messages;
double sim_clock = 0.0;
status_service g_status_service;
texture_service g_texture_service;

namespace {

struct loading_delay {
    double last = -1.0;      // clock of the previous status screen
    double longest = 0.0;
    char text[80] = {};      // text shown during the longest gap
    char showing[80] = {};   // text of the current status screen
};
loading_delay g_delay;

// Worlds on other threads add messages and show their loading too.
std::mutex g_message_lock;
std::mutex g_delay_lock;

}  // namespace

void add_message(const char* format, ...)
{
    char text[4096];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);

    size_t len = strlen(text);
    // ESC in the text means terminal colours: reset them after the line.
    const char* reset = strchr(text, '\033') ? "\033[0m" : "";
    if (len > 0 && text[len - 1] == '\n')
        log_printf("%s%s", text, reset);
    else
        log_printf("%s%s\n", text, reset);

    std::lock_guard<std::mutex> guard(g_message_lock);
    message_lines& m = g_messages;
    // The screen copy is cut; the log above has the whole text.
    size_t keep = len < (size_t)MESSAGE_LINE_MAX ? len : (size_t)MESSAGE_LINE_MAX;
    memcpy(m.ring[m.next], text, keep);
    m.ring[m.next][keep] = 0;
    m.next = (m.next + 1) % MESSAGE_RING;
    if (m.visible < m.max_visible)
        m.visible++;
    m.expiry = sim_clock + 2.0;
}

void clear_messages()
{
    std::lock_guard<std::mutex> guard(g_message_lock);
    int max_visible = g_messages.max_visible;
    memset(g_messages.ring, 0, sizeof g_messages.ring);
    g_messages.next = 0;
    g_messages.visible = 0;
    g_messages.expiry = 0.0;
    g_messages.max_visible = max_visible;
}

void expire_messages()
{
    std::lock_guard<std::mutex> guard(g_message_lock);
    message_lines& m = g_messages;
    if (m.visible > m.max_visible)
        m.visible = m.max_visible < 0 ? 0 : m.max_visible;
    if (sim_clock > m.expiry && m.visible > 0) {
        m.visible--;
        m.expiry = sim_clock + 5.0;
    }
}

const char* visible_message(int i)
{
    if (i < 0 || i >= g_messages.visible)
        return nullptr;
    int index = ((g_messages.next - 1 - i) % MESSAGE_RING + MESSAGE_RING) % MESSAGE_RING;
    return g_messages.ring[index];
}

void show_status(const char* text)
{
    std::lock_guard<std::mutex> guard(g_delay_lock);
    double now = clock_seconds();
    if (g_delay.last >= 0.0 && now - g_delay.last > g_delay.longest) {
        g_delay.longest = now - g_delay.last;
        memcpy(g_delay.text, g_delay.showing, sizeof g_delay.text);
    }
    g_delay.last = now;
    snprintf(g_delay.showing, sizeof g_delay.showing, "%.*s", (int)sizeof g_delay.showing - 1, text ? text : "");

    if (g_status_service.drain_input)
        g_status_service.drain_input();
    if (g_status_service.draw_status)
        g_status_service.draw_status(text ? text : "");
}

void take_loading_delay(double* seconds, char* text, int size)
{
    std::lock_guard<std::mutex> guard(g_delay_lock);
    if (seconds)
        *seconds = g_delay.longest;
    if (text && size > 0)
        snprintf(text, size, "%s", g_delay.text);
    g_delay.longest = 0.0;
    g_delay.text[0] = 0;
}

void fatal_out_of_memory()
{
    if (g_status_service.close_for_fatal)
        g_status_service.close_for_fatal();
    message_box("Error", "Out of virtual memory");
    exit(1);
}
