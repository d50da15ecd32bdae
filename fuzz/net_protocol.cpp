// Every reader of the race protocol over arbitrary bytes, as a hostile
// server or client could send them. A reader that accepts must have kept
// its counts and texts inside their fields; what it read must write back
// to a datagram the same reader accepts again.
#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "fuzz_accept.h"
#include "net/protocol.h"
#include "race/race.h"

namespace {

void check_text(const char* text, int size)
{
    if (strnlen(text, size) >= static_cast<size_t>(size))
        __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const int n = size > 4096 ? 4096 : static_cast<int>(size);
    static uint8_t out[NET_DATAGRAM_MAX + 64];

    net_client_head h;
    net_read_client_head(data, n, &h);
    // Every reader below is tried; the input counts as taken when one of
    // them reads it.
    bool taken = false;
    net_contact c;
    if (net_read_contact(data, n, &c)) {
        taken = true;
        if (!net_read_contact(out, net_write_contact(out, c), &c))
            __builtin_trap();
    }
    static net_client_info ci;
    if (net_read_client_info(data, n, &ci)) {
        taken = true;
        check_text(ci.text, sizeof ci.text);
        if (!net_read_client_info(out, net_write_client_info(out, ci), &ci))
            __builtin_trap();
    }
    net_client_simple cs;
    taken |= net_read_client_simple(data, n, &cs);
    net_own_state os;
    if (net_read_own_state(data, n, &os)) {
        taken = true;
        if (net_write_own_state(out, os) != 60)
            __builtin_trap();
    }
    static net_reliable r;
    if (net_read_client_reliable(data, n, &r)) {
        taken = true;
        if (r.body_length < 0 || r.body_length > NET_DATAGRAM_MAX - 14)
            __builtin_trap();
    }
    if (net_read_server_reliable(data, n, &r)) {
        taken = true;
        if (r.body_length < 0 || r.body_length > NET_DATAGRAM_MAX - 6)
            __builtin_trap();
        if (net_write_server_reliable(out, r) > 6 + NET_RELIABLE_BODY_MAX)
            __builtin_trap();
        uint32_t race = 0;
        int32_t gate = 0, tick = 0;
        net_read_gate_time(r.body, r.body_length, &race, &gate, &tick);
        net_gate_entry entries[40];
        int count = -1;
        if (net_read_gate_table(r.body, r.body_length, &race, entries, 40, &count) &&
            (count < 0 || count > 40 || 8 + count * NET_GATE_ENTRY_SIZE > r.body_length))
            __builtin_trap();
    }
    uint32_t v = 0;
    taken |= net_read_client_ack(data, n, &h, &v);
    taken |= net_read_server_ack(data, n, &v);
    net_accept a;
    taken |= net_read_accept(data, n, &a);
    static net_track_info t;
    if (net_read_track_info(data, n, &t)) {
        taken = true;
        check_text(t.track, sizeof t.track);
    }
    static net_rider_info ri;
    if (net_read_rider_info(data, n, net_s_rider_info, &ri) || net_read_rider_info(data, n, net_s_start, &ri)) {
        taken = true;
        check_text(ri.text, sizeof ri.text);
        rider_strings rs;
        net_parse_client_info(ri.text, static_cast<int>(strlen(ri.text)), &rs);
        check_text(rs.model, sizeof rs.model);
        check_text(rs.number, sizeof rs.number);
        check_text(rs.name, sizeof rs.name);
        char text[NET_CLIENT_INFO_ROOM];
        if (net_format_client_info(rs, text, sizeof text) >= static_cast<int>(sizeof text))
            __builtin_trap();
    }
    static net_clock clk;
    for (uint8_t type : {uint8_t(net_s_clock), uint8_t(net_s_states)})
        if (net_read_clock(data, n, type, &clk)) {
            taken = true;
            if (clk.records_read < 0 || clk.records_read > NET_STATES_MAX_RECORDS ||
                17 + clk.records_read * NET_STATE_RECORD_SIZE > n + (type == net_s_clock ? 4 : 0))
                __builtin_trap();
            if (clk.short_records != (clk.count > static_cast<uint32_t>(clk.records_read)))
                __builtin_trap();
        }
    taken |= net_read_server_value(data, n, net_s_restart_votes, &v);
    taken |= net_read_server_value(data, n, net_s_restart, &v);
    char text[NET_TEXT_MAX + 1];
    if (net_read_farewell(data, n, text, sizeof text)) {
        taken = true;
        check_text(text, sizeof text);
    }
    char name[NET_SERVER_NAME_MAX + 1];
    if (net_read_redirect(data, n, &v, name, sizeof name)) {
        taken = true;
        if (strlen(name) > NET_SERVER_NAME_MAX)
            __builtin_trap();
    }
    if (taken)
        fuzz_accept();
    return 0;
}
