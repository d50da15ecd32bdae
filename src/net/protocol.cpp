// The race protocol's datagram layouts. Every reader checks the length
// before each field it takes and copies texts into their fixed fields, so
// a hostile or truncated datagram can only fail to read.
#include "net/protocol.h"

#include <nettle/ripemd160.h>

#include <cstdio>
#include <cstring>

#include "race/race.h"

namespace {

// Copies the datagram's text from offset to its end into out (size bytes,
// always terminated); the text stops early at an embedded zero byte.
void read_text(const uint8_t* data, int length, int offset, char* out, int size)
{
    int n = length - offset;
    if (n < 0) n = 0;
    if (n > size - 1) n = size - 1;
    int i = 0;
    for (; i < n && data[offset + i] != 0; i++) out[i] = static_cast<char>(data[offset + i]);
    out[i] = 0;
}

// Writes text (cut to the room left before NET_DATAGRAM_MAX, and to limit
// characters) at offset; returns the datagram's new length.
int write_text(uint8_t* out, int offset, const char* text, int limit = NET_DATAGRAM_MAX)
{
    int n = text ? static_cast<int>(strnlen(text, NET_DATAGRAM_MAX)) : 0;
    if (n > limit) n = limit;
    if (n > NET_DATAGRAM_MAX - offset) n = NET_DATAGRAM_MAX - offset;
    if (n > 0) memcpy(out + offset, text, n);
    return offset + n;
}

void write_head(uint8_t* out, const net_client_head& h)
{
    out[0] = h.type;
    net_put_u32(out + 1, h.slot);
    net_put_u32(out + 5, h.token);
}

void read_head(const uint8_t* data, net_client_head* h)
{
    h->type = data[0];
    h->slot = net_get_u32(data + 1);
    h->token = net_get_u32(data + 5);
}

bool has_type(const uint8_t* data, int length, int minimum, uint8_t type)
{
    return data && length >= minimum && length >= 1 && data[0] == type;
}

}  // namespace

// ---- little-endian fields ------------------------------------------------------------

void net_put_u16(uint8_t* p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void net_put_u32(uint8_t* p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

uint16_t net_get_u16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t net_get_u32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

// ---- client to server ------------------------------------------------------------

bool net_read_client_head(const uint8_t* data, int length, net_client_head* out)
{
    if (!data || length < 9 || data[0] == net_c_contact) return false;
    read_head(data, out);
    return true;
}

int net_write_contact(uint8_t* out, const net_contact& c)
{
    memset(out, 0, 21);
    out[0] = net_c_contact;
    out[1] = c.password ? 1 : 0;
    net_put_u32(out + 9, c.version);
    net_put_u32(out + 13, c.nonce);
    return 21;
}

bool net_read_contact(const uint8_t* data, int length, net_contact* out)
{
    if (!has_type(data, length, 21, net_c_contact)) return false;
    out->password = data[1] != 0;
    out->version = net_get_u32(data + 9);
    out->nonce = net_get_u32(data + 13);
    return true;
}

int net_write_client_info(uint8_t* out, const net_client_info& c)
{
    memset(out, 0, 41);
    net_client_head h = c.head;
    h.type = net_c_client_info;
    write_head(out, h);
    memcpy(out + 9, c.proof, 4);
    net_put_u32(out + 17, c.nonce);
    return write_text(out, 41, c.text);
}

bool net_read_client_info(const uint8_t* data, int length, net_client_info* out)
{
    if (!has_type(data, length, 41, net_c_client_info)) return false;
    read_head(data, &out->head);
    memcpy(out->proof, data + 9, 4);
    out->nonce = net_get_u32(data + 17);
    read_text(data, length, 41, out->text, sizeof out->text);
    return true;
}

namespace {

// The length of a simple client datagram of this type; 0 for another type.
int simple_length(uint8_t type)
{
    switch (type) {
    case net_c_track_ack:
    case net_c_ready:
    case net_c_restart_request:
    case net_c_restart_ack:
        return 13;
    case net_c_rider_ack:
        return 17;
    case net_c_disconnect:
        return 9;
    default:
        return 0;
    }
}

}  // namespace

int net_write_client_simple(uint8_t* out, const net_client_simple& c)
{
    int n = simple_length(c.head.type);
    if (n == 0) return 0;
    write_head(out, c.head);
    if (n >= 13) net_put_u32(out + 9, c.head.type == net_c_restart_request ? 1 : c.value);
    if (n >= 17) net_put_u32(out + 13, c.last_rider);
    return n;
}

bool net_read_client_simple(const uint8_t* data, int length, net_client_simple* out)
{
    if (!data || length < 1) return false;
    int n = simple_length(data[0]);
    if (n == 0 || length < n) return false;
    read_head(data, &out->head);
    out->value = n >= 13 ? net_get_u32(data + 9) : 0;
    out->last_rider = n >= 17 ? net_get_u32(data + 13) : 0;
    return true;
}

int net_write_own_state(uint8_t* out, const net_own_state& s)
{
    net_client_head h = s.head;
    h.type = net_c_own_state;
    write_head(out, h);
    net_put_u32(out + 9, s.race_id);
    net_put_i32(out + 13, s.server_tick);
    net_put_i32(out + 17, s.tick);
    memcpy(out + 21, s.state.bytes, BIKE_SNAPSHOT_SIZE);
    return 21 + BIKE_SNAPSHOT_SIZE;
}

bool net_read_own_state(const uint8_t* data, int length, net_own_state* out)
{
    if (!has_type(data, length, 21 + BIKE_SNAPSHOT_SIZE, net_c_own_state)) return false;
    read_head(data, &out->head);
    out->race_id = net_get_u32(data + 9);
    out->server_tick = net_get_i32(data + 13);
    out->tick = net_get_i32(data + 17);
    memcpy(out->state.bytes, data + 21, BIKE_SNAPSHOT_SIZE);
    return true;
}

namespace {

int body_length_cut(const net_reliable& r)
{
    int n = r.body_length;
    if (n < 0) n = 0;
    if (n > NET_RELIABLE_BODY_MAX) n = NET_RELIABLE_BODY_MAX;
    return n;
}

}  // namespace

int net_write_client_reliable(uint8_t* out, const net_reliable& r)
{
    net_client_head h = r.head;
    h.type = net_c_reliable;
    write_head(out, h);
    net_put_u32(out + 9, r.sequence);
    out[13] = r.type;
    int n = body_length_cut(r);
    if (n > 0) memcpy(out + 14, r.body, n);
    return 14 + n;
}

bool net_read_client_reliable(const uint8_t* data, int length, net_reliable* out)
{
    if (!has_type(data, length, 14, net_c_reliable)) return false;
    if (length > NET_DATAGRAM_MAX) length = NET_DATAGRAM_MAX;
    read_head(data, &out->head);
    out->sequence = net_get_u32(data + 9);
    out->type = data[13];
    out->body_length = length - 14;
    if (out->body_length > 0) memcpy(out->body, data + 14, out->body_length);
    return true;
}

int net_write_server_reliable(uint8_t* out, const net_reliable& r)
{
    out[0] = net_s_reliable;
    net_put_u32(out + 1, r.sequence);
    out[5] = r.type;
    int n = body_length_cut(r);
    if (n > 0) memcpy(out + 6, r.body, n);
    return 6 + n;
}

bool net_read_server_reliable(const uint8_t* data, int length, net_reliable* out)
{
    if (!has_type(data, length, 6, net_s_reliable)) return false;
    if (length > NET_DATAGRAM_MAX) length = NET_DATAGRAM_MAX;
    out->head = net_client_head();
    out->sequence = net_get_u32(data + 1);
    out->type = data[5];
    out->body_length = length - 6;
    if (out->body_length > 0) memcpy(out->body, data + 6, out->body_length);
    return true;
}

int net_write_client_ack(uint8_t* out, const net_client_head& head, uint32_t sequence)
{
    net_client_head h = head;
    h.type = net_c_ack;
    write_head(out, h);
    net_put_u32(out + 9, sequence);
    return 13;
}

bool net_read_client_ack(const uint8_t* data, int length, net_client_head* head, uint32_t* sequence)
{
    if (!has_type(data, length, 13, net_c_ack)) return false;
    read_head(data, head);
    *sequence = net_get_u32(data + 9);
    return true;
}

int net_write_server_ack(uint8_t* out, uint32_t sequence)
{
    out[0] = net_s_ack;
    net_put_u32(out + 1, sequence);
    return 5;
}

bool net_read_server_ack(const uint8_t* data, int length, uint32_t* sequence)
{
    if (!has_type(data, length, 5, net_s_ack)) return false;
    *sequence = net_get_u32(data + 1);
    return true;
}

// ---- server to client ------------------------------------------------------------

int net_write_server_type(uint8_t* out, uint8_t type)
{
    out[0] = type;
    return 1;
}

int net_write_accept(uint8_t* out, const net_accept& a)
{
    out[0] = net_s_accept;
    net_put_u32(out + 1, a.slot);
    net_put_u32(out + 5, a.token);
    net_put_u32(out + 9, a.version);
    return 13;
}

bool net_read_accept(const uint8_t* data, int length, net_accept* out)
{
    if (!has_type(data, length, 13, net_s_accept)) return false;
    out->slot = net_get_u32(data + 1);
    out->token = net_get_u32(data + 5);
    out->version = net_get_u32(data + 9);
    return true;
}

int net_write_track_info(uint8_t* out, const net_track_info& t)
{
    out[0] = net_s_track_info;
    net_put_u32(out + 1, t.race_id);
    net_put_i32(out + 5, t.race_ticks);
    net_put_i32(out + 9, t.laps);
    net_put_i32(out + 13, t.start_tick);
    memcpy(out + 17, t.hash, NET_TRACK_HASH_SIZE);
    return write_text(out, 37, t.track);
}

bool net_read_track_info(const uint8_t* data, int length, net_track_info* out)
{
    if (!has_type(data, length, 37, net_s_track_info)) return false;
    out->race_id = net_get_u32(data + 1);
    out->race_ticks = net_get_i32(data + 5);
    out->laps = net_get_i32(data + 9);
    out->start_tick = net_get_i32(data + 13);
    memcpy(out->hash, data + 17, NET_TRACK_HASH_SIZE);
    read_text(data, length, 37, out->track, sizeof out->track);
    return true;
}

int net_write_rider_info(uint8_t* out, uint8_t type, const net_rider_info& r)
{
    out[0] = type;
    net_put_u32(out + 1, r.race_id);
    net_put_i32(out + 5, r.slot);
    return write_text(out, 9, r.text);
}

bool net_read_rider_info(const uint8_t* data, int length, uint8_t type, net_rider_info* out)
{
    if (type != net_s_rider_info && type != net_s_start) return false;
    if (!has_type(data, length, 9, type)) return false;
    out->race_id = net_get_u32(data + 1);
    out->slot = net_get_i32(data + 5);
    read_text(data, length, 9, out->text, sizeof out->text);
    return true;
}

int net_write_clock(uint8_t* out, uint8_t type, const net_clock& c)
{
    out[0] = type;
    net_put_u32(out + 1, c.race_id);
    net_put_i32(out + 5, c.server_tick);
    net_put_i32(out + 9, c.echo);
    if (type != net_s_states) return 13;
    int n = c.count > uint32_t(NET_STATES_MAX_RECORDS) ? int(NET_STATES_MAX_RECORDS) : static_cast<int>(c.count);
    net_put_u32(out + 13, static_cast<uint32_t>(n));
    uint8_t* p = out + 17;
    for (int i = 0; i < n; i++, p += NET_STATE_RECORD_SIZE) {
        net_put_u16(p, c.records[i].slot);
        net_put_u16(p + 2, c.records[i].ping);
        net_put_i32(p + 4, c.records[i].tick);
        memcpy(p + 8, c.records[i].state.bytes, BIKE_SNAPSHOT_SIZE);
    }
    return 17 + n * NET_STATE_RECORD_SIZE;
}

bool net_read_clock(const uint8_t* data, int length, uint8_t type, net_clock* out)
{
    if (type != net_s_clock && type != net_s_states) return false;
    if (!has_type(data, length, type == net_s_states ? 17 : 13, type)) return false;
    out->race_id = net_get_u32(data + 1);
    out->server_tick = net_get_i32(data + 5);
    out->echo = net_get_i32(data + 9);
    out->count = 0;
    out->records_read = 0;
    out->short_records = false;
    if (type != net_s_states) return true;
    out->count = net_get_u32(data + 13);
    int room = (length - 17) / NET_STATE_RECORD_SIZE;
    if (room > NET_STATES_MAX_RECORDS) room = NET_STATES_MAX_RECORDS;
    int n = out->count > static_cast<uint32_t>(room) ? room : static_cast<int>(out->count);
    out->short_records = out->count > static_cast<uint32_t>(n);
    const uint8_t* p = data + 17;
    for (int i = 0; i < n; i++, p += NET_STATE_RECORD_SIZE) {
        out->records[i].slot = net_get_u16(p);
        out->records[i].ping = net_get_u16(p + 2);
        out->records[i].tick = net_get_i32(p + 4);
        memcpy(out->records[i].state.bytes, p + 8, BIKE_SNAPSHOT_SIZE);
    }
    out->records_read = n;
    return true;
}

int net_write_server_value(uint8_t* out, uint8_t type, uint32_t value)
{
    out[0] = type;
    net_put_u32(out + 1, value);
    return 5;
}

bool net_read_server_value(const uint8_t* data, int length, uint8_t type, uint32_t* value)
{
    if (type != net_s_restart_votes && type != net_s_restart) return false;
    if (!has_type(data, length, 5, type)) return false;
    *value = net_get_u32(data + 1);
    return true;
}

int net_write_farewell(uint8_t* out, const char* text)
{
    out[0] = net_s_farewell;
    return write_text(out, 1, text);
}

bool net_read_farewell(const uint8_t* data, int length, char* text, int size)
{
    if (!has_type(data, length, 1, net_s_farewell) || size < 1) return false;
    read_text(data, length, 1, text, size);
    return true;
}

int net_write_redirect(uint8_t* out, uint32_t nonce, const char* name)
{
    out[0] = net_s_redirect;
    net_put_u32(out + 1, nonce);
    return write_text(out, 5, name, NET_SERVER_NAME_MAX);
}

bool net_read_redirect(const uint8_t* data, int length, uint32_t* nonce, char* name, int size)
{
    if (!has_type(data, length, 5, net_s_redirect) || size < 1) return false;
    *nonce = net_get_u32(data + 1);
    if (size > NET_SERVER_NAME_MAX + 1) size = NET_SERVER_NAME_MAX + 1;
    read_text(data, length, 5, name, size);
    return true;
}

// ---- message bodies ------------------------------------------------------------

int net_format_client_info(const rider_strings& r, char* out, int room)
{
    if (room <= 0) return 0;
    size_t parts = strlen(r.model) + strlen(r.rider_texture) + strlen(r.bike_texture) + strlen(r.wheel_texture) +
                   strlen(r.head_texture) + strlen(r.number) + strlen(r.name);
    int n;
    if (parts + 6 < static_cast<size_t>(room))
        n = snprintf(out, room, "%s|%s|%s|%s|%s\n%s\n%s", r.model, r.rider_texture, r.bike_texture, r.wheel_texture,
                     r.head_texture, r.number, r.name);
    else
        n = snprintf(out, room, "%s\n%s\n%s", r.model, r.number, r.name);
    if (n < 0) n = 0;
    return n > room - 1 ? room - 1 : n;
}

namespace {

// Copies text[from, to) into out (size bytes), cut and terminated.
void copy_field(const char* text, int from, int to, char* out, int size)
{
    int n = to - from;
    if (n < 0) n = 0;
    if (n > size - 1) n = size - 1;
    memcpy(out, text + from, n);
    out[n] = 0;
}

// The end of the line starting at from (the next '\n' or length).
int line_end(const char* text, int length, int from)
{
    int i = from;
    while (i < length && text[i] != '\n' && text[i] != 0) i++;
    return i;
}

}  // namespace

void net_parse_client_info(const char* text, int length, rider_strings* r)
{
    *r = rider_strings();
    if (!text || length <= 0) return;
    int n = static_cast<int>(strnlen(text, length));
    int first = line_end(text, n, 0);
    // The first line: model, then the graphics names between '|'s.
    char* fields[5] = {r->model, r->rider_texture, r->bike_texture, r->wheel_texture, r->head_texture};
    int sizes[5] = {sizeof r->model, sizeof r->rider_texture, sizeof r->bike_texture, sizeof r->wheel_texture,
                    sizeof r->head_texture};
    int start = 0;
    for (int f = 0; f < 5 && start <= first; f++) {
        int end = start;
        while (end < first && text[end] != '|') end++;
        copy_field(text, start, end, fields[f], sizes[f]);
        start = end + 1;
        if (end >= first) break;
    }
    if (first >= n) return;
    int second = line_end(text, n, first + 1);
    copy_field(text, first + 1, second, r->number, sizeof r->number);
    if (second >= n) return;
    copy_field(text, second + 1, line_end(text, n, second + 1), r->name, sizeof r->name);
}

void net_password_proof(const char* password, uint32_t token, uint8_t out[4])
{
    memset(out, 0, 4);
    if (!password || !password[0]) return;
    ripemd160_ctx ctx;
    ripemd160_init(&ctx);
    ripemd160_update(&ctx, strlen(password), reinterpret_cast<const uint8_t*>(password));
    uint8_t t[4];
    net_put_u32(t, token);
    ripemd160_update(&ctx, 4, t);
    uint8_t digest[RIPEMD160_DIGEST_SIZE];
    ripemd160_digest(&ctx, sizeof digest, digest);
    for (int i = 0; i < 4; i++) out[i] = digest[3 - i];
}

int net_write_gate_time(uint8_t* body, uint32_t race_id, int32_t gate, int32_t tick)
{
    net_put_u32(body, race_id);
    net_put_i32(body + 4, gate);
    net_put_i32(body + 8, tick);
    return 12;
}

bool net_read_gate_time(const uint8_t* body, int length, uint32_t* race_id, int32_t* gate, int32_t* tick)
{
    if (!body || length < 12) return false;
    *race_id = net_get_u32(body);
    *gate = net_get_i32(body + 4);
    *tick = net_get_i32(body + 8);
    return true;
}

int net_write_gate_table(uint8_t* body, uint32_t race_id, const net_gate_entry* entries, int count)
{
    int room = (NET_RELIABLE_BODY_MAX - 8) / NET_GATE_ENTRY_SIZE;
    if (count < 0) count = 0;
    if (count > room) count = room;
    net_put_u32(body, race_id);
    net_put_u32(body + 4, static_cast<uint32_t>(count));
    uint8_t* p = body + 8;
    for (int i = 0; i < count; i++, p += NET_GATE_ENTRY_SIZE) {
        net_put_i32(p, entries[i].slot);
        net_put_i32(p + 4, entries[i].gate);
        net_put_i32(p + 8, entries[i].tick);
    }
    return 8 + count * NET_GATE_ENTRY_SIZE;
}

bool net_read_gate_table(const uint8_t* body, int length, uint32_t* race_id, net_gate_entry* entries, int max,
                         int* count)
{
    *count = 0;
    if (!body || length < 8) return false;
    *race_id = net_get_u32(body);
    uint32_t claimed = net_get_u32(body + 4);
    int fit = (length - 8) / NET_GATE_ENTRY_SIZE;
    int n = claimed < static_cast<uint32_t>(fit) ? static_cast<int>(claimed) : fit;
    if (n > max) n = max;
    if (n < 0) n = 0;
    const uint8_t* p = body + 8;
    for (int i = 0; i < n; i++, p += NET_GATE_ENTRY_SIZE) {
        entries[i].slot = net_get_i32(p);
        entries[i].gate = net_get_i32(p + 4);
        entries[i].tick = net_get_i32(p + 8);
    }
    *count = n;
    return true;
}
