// The time-ordered input event queue shared by the message handling, the
// device polling and the tick loop.
#include <mutex>

#include "platform/input.h"

input_hooks g_input_hooks;

namespace {

struct event_queue {
    std::mutex lock;  // the input lock
    input_event ring[input_queue_size];
    int head = 0;
    int count = 0;
};

event_queue& the_queue()
{
    static event_queue* queue = new event_queue;
    return *queue;
}

bool later(const clock_time& a, const clock_time& b)
{
    return a.sec != b.sec ? a.sec > b.sec : a.usec > b.usec;
}

// Takes the head event when `limit` is null or the head is not later.
bool take(const clock_time* limit, input_event* out)
{
    event_queue& q = the_queue();
    std::lock_guard<std::mutex> guard(q.lock);
    if (q.count == 0)
        return false;
    const input_event& head = q.ring[q.head];
    if (limit && later(head.time, *limit))
        return false;
    if (out)
        *out = head;
    q.head = (q.head + 1) % input_queue_size;
    q.count--;
    return true;
}

bool queue_empty()
{
    event_queue& q = the_queue();
    std::lock_guard<std::mutex> guard(q.lock);
    return q.count == 0;
}

// With nothing waiting, fetch what the window and the devices have.
void refill()
{
    if (!queue_empty())
        return;
    if (g_input_hooks.pump_messages)
        g_input_hooks.pump_messages();
    poll_input_devices();
}

}  // namespace

void post_event(int code, int pressed, clock_time time)
{
    event_queue& q = the_queue();
    std::lock_guard<std::mutex> guard(q.lock);
    if (q.count >= input_queue_size)
        return;
    int at = (q.head + q.count) % input_queue_size;
    q.ring[at].code = code;
    q.ring[at].pressed = pressed;
    q.ring[at].time = time;
    q.count++;
    // Move it toward the head past every event stamped later than it.
    for (int i = q.count - 1; i > 0; i--) {
        int cur = (q.head + i) % input_queue_size;
        int prev = (q.head + i - 1) % input_queue_size;
        if (!later(q.ring[prev].time, q.ring[cur].time))
            break;
        input_event t = q.ring[prev];
        q.ring[prev] = q.ring[cur];
        q.ring[cur] = t;
    }
}

void post_event_now(int code, int pressed)
{
    post_event(code, pressed, clock_now());
}

bool next_event(input_event* out)
{
    refill();
    return take(nullptr, out);
}

bool next_event_before(clock_time time, input_event* out)
{
    refill();
    return take(&time, out);
}

int pending_event_count()
{
    event_queue& q = the_queue();
    std::lock_guard<std::mutex> guard(q.lock);
    return q.count;
}

void input_queue_reset_for_tests()
{
    event_queue& q = the_queue();
    std::lock_guard<std::mutex> guard(q.lock);
    q.head = 0;
    q.count = 0;
}
