// A client session in a running race fed arbitrary datagrams from its
// server: every input is a sequence of datagrams, each a 16-bit
// little-endian length and its bytes. Whatever arrives, the queues stay
// within their bounds and every slot the session keeps stays in range.
#include <cstdint>
#include <cstring>

#include "net/client.h"
#include "race/world.h"

namespace {

struct state {
    world* w = world_create();
    net_session* s = net_session_create();
};

void check(const net_session* s, const world* w)
{
    if (net_held_count(s) > NET_HELD_MAX || net_outgoing_count(s) > NET_OUTGOING_MAX)
        __builtin_trap();
    if (s->player_slot > NET_SLOTS || s->last_rider_info > NET_SLOTS)
        __builtin_trap();
    if (s->race_slot < 0 || s->race_slot > NET_SLOTS || w->race.net.race_slot < 0 ||
        w->race.net.race_slot > RACE_SLOTS)
        __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static state st;
    net_session* s = st.s;
    // A session as it stands in a running race (no socket: nothing is sent).
    net_disconnect_now(s, st.w);
    s->state = net_running;
    s->player_slot = 3;
    s->session_token = 77;
    s->race_id = 1;
    s->race_slot = 3;
    net_environment env;
    env.w = st.w;
    env.now = 10.0;
    size_t at = 0;
    while (at + 2 <= size) {
        size_t n = data[at] | (data[at + 1] << 8);
        at += 2;
        if (n > size - at)
            n = size - at;
        net_handle_datagram(s, env, data + at, static_cast<int>(n));
        check(s, st.w);
        at += n;
    }
    return 0;
}
