// A client session in a running race fed arbitrary datagrams from its
// server: every input is a sequence of datagrams, each a 16-bit
// little-endian length and its bytes. Whatever arrives, the queues stay
// within their bounds and every slot the session keeps stays in range.
#include <cstdint>
#include <cstring>

#include "fuzz_accept.h"
#include "net/client.h"
#include "net/protocol.h"
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

// Whether a datagram from the server reads by the protocol reader of its
// type (the handler itself says nothing about what it ignored).
bool readable(const uint8_t* data, int n)
{
    if (n < 1)
        return false;
    static net_track_info t;
    static net_rider_info ri;
    static net_clock clk;
    static net_reliable r;
    net_accept a;
    uint32_t v = 0;
    char text[NET_TEXT_MAX + 1];
    char name[NET_SERVER_NAME_MAX + 1];
    switch (data[0]) {
    case net_s_full: return true;
    case net_s_accept: return net_read_accept(data, n, &a);
    case net_s_track_info: return net_read_track_info(data, n, &t);
    case net_s_rider_info:
    case net_s_start: return net_read_rider_info(data, n, data[0], &ri);
    case net_s_clock:
    case net_s_states: return net_read_clock(data, n, data[0], &clk);
    case net_s_restart_votes:
    case net_s_restart: return net_read_server_value(data, n, data[0], &v);
    default:
        return net_read_server_reliable(data, n, &r) || net_read_server_ack(data, n, &v) ||
               net_read_farewell(data, n, text, sizeof text) || net_read_redirect(data, n, &v, name, sizeof name);
    }
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
        if (readable(data + at, static_cast<int>(n)))
            fuzz_accept();
        net_handle_datagram(s, env, data + at, static_cast<int>(n));
        check(s, st.w);
        at += n;
    }
    return 0;
}
