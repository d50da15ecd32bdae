// The race protocol's datagrams, both directions, as records with a writer
// and a reader each. The client and the race server share these, so the
// two sides cannot disagree on a layout. Every integer is little-endian;
// a datagram's first byte is its type; text fields are not terminated on
// the wire (the datagram's length ends them).
//
// Writers return the datagram's length (never above NET_DATAGRAM_MAX; texts
// too long for the room left are cut). Readers take the received bytes and
// return false when the datagram is shorter than its fixed part or is of
// another type; they never read past length, and texts come back
// zero-terminated and cut to their field's size. Readers check layout only:
// whether a slot, sequence number or race id is acceptable is the caller's
// decision.
#pragma once

#include <cstdint>

#include "bike/snapshot.h"

enum {
    NET_DATAGRAM_MAX = 1023,        // largest datagram either side reads
    NET_PROTOCOL_VERSION = 6,       // the server's, in the accept
    NET_CLIENT_VERSION = 30,        // the client's, in the contact
    NET_SLOTS = 160,                // participant slots; NET_SLOTS itself: none
    NET_RELIABLE_BODY_MAX = 466,    // so that a reliable datagram stays within 480 bytes
    NET_CLIENT_INFO_ROOM = 982,     // room for the client information text in datagram 3
    NET_RELIABLE_INFO_ROOM = 478,   // the same inside a reliable message (less its length so far)
    NET_STATE_RECORD_SIZE = 47,     // one rider in a states datagram
    NET_STATES_MAX_RECORDS = 21,    // (1023 - 17) / 47
    NET_SERVER_NAME_MAX = 127,      // a redirect's new server name
    NET_TRACK_HASH_SIZE = 20,
    NET_GATE_ENTRY_SIZE = 12,       // slot, gate index, tick
    NET_TEXT_MAX = NET_DATAGRAM_MAX,  // largest text a reader returns (plus its terminator)
};

// Datagram types sent by the client.
enum net_client_type : uint8_t {
    net_c_contact = 0,
    net_c_client_info = 3,
    net_c_track_ack = 5,
    net_c_rider_ack = 7,
    net_c_ready = 9,
    net_c_own_state = 11,
    net_c_restart_request = 13,
    net_c_restart_ack = 14,
    net_c_disconnect = 15,
    net_c_reliable = 17,
    net_c_ack = 18,
};

// Datagram types sent by the server.
enum net_server_type : uint8_t {
    net_s_full = 1,
    net_s_accept = 2,
    net_s_track_info = 4,
    net_s_rider_info = 6,
    net_s_start = 8,
    net_s_clock = 10,
    net_s_states = 11,
    net_s_restart_votes = 13,
    net_s_restart = 14,
    net_s_disconnected = 15,
    net_s_farewell = 16,
    net_s_reliable = 17,
    net_s_ack = 18,
    net_s_redirect = 25,
};

// Reliable message types (client to server) and command types (server to
// client) share one numbering.
enum net_reliable_type : uint8_t {
    net_r_client_info = 3,   // client to server: the client information text
    net_r_chat = 19,         // client: chat text; server: a message to show
    net_r_gate_times = 21,   // client: one gate time; server: a table of them
    net_r_text = 24,         // file transfer texts and server text commands
    net_r_erosion = 27,      // erosion data, both ways
};

// ---- little-endian fields ------------------------------------------------------------

void net_put_u16(uint8_t* p, uint16_t v);
void net_put_u32(uint8_t* p, uint32_t v);
uint16_t net_get_u16(const uint8_t* p);
uint32_t net_get_u32(const uint8_t* p);
inline void net_put_i32(uint8_t* p, int32_t v) { net_put_u32(p, static_cast<uint32_t>(v)); }
inline int32_t net_get_i32(const uint8_t* p) { return static_cast<int32_t>(net_get_u32(p)); }

// ---- client to server ------------------------------------------------------------

// The head of every client datagram but the contact: type, slot, token.
struct net_client_head {
    uint8_t type = 0;
    uint32_t slot = NET_SLOTS;
    uint32_t token = 0;
};
// Reads only the 9-byte head (any client type but the contact).
bool net_read_client_head(const uint8_t* data, int length, net_client_head* out);

struct net_contact {          // 0, 21 bytes
    bool password = false;    // the client has a server password set
    uint32_t version = NET_CLIENT_VERSION;
    uint32_t nonce = 0;
};
int net_write_contact(uint8_t* out, const net_contact& c);
bool net_read_contact(const uint8_t* data, int length, net_contact* out);

struct net_client_info {      // 3, 41 bytes + text
    net_client_head head;
    uint8_t proof[4] = {};    // the password proof; zeros without a password
    uint32_t nonce = 0;
    char text[NET_TEXT_MAX + 1] = {};
};
int net_write_client_info(uint8_t* out, const net_client_info& c);
bool net_read_client_info(const uint8_t* data, int length, net_client_info* out);

// 5 track acknowledgment, 9 ready, 14 restart acknowledgment (race id);
// 13 restart request (the value 1); 7 rider acknowledgment (race id and
// the last rider slot taken); 15 disconnect (head alone).
struct net_client_simple {
    net_client_head head;
    uint32_t value = 0;       // race id (5, 7, 9, 14) or 1 (13)
    uint32_t last_rider = 0;  // 7 only
};
int net_write_client_simple(uint8_t* out, const net_client_simple& c);
bool net_read_client_simple(const uint8_t* data, int length, net_client_simple* out);

struct net_own_state {        // 11, 60 bytes
    net_client_head head;
    uint32_t race_id = 0;
    int32_t server_tick = 0;
    int32_t tick = 0;         // the client's own tick
    bike_snapshot state;
};
int net_write_own_state(uint8_t* out, const net_own_state& s);
bool net_read_own_state(const uint8_t* data, int length, net_own_state* out);

// A reliable message (17) from the client, or the server's reliable
// command (17): sequence number, type, body of at most
// NET_RELIABLE_BODY_MAX bytes (longer bodies are cut when written; a
// received one may be longer and is kept whole up to the datagram).
struct net_reliable {
    net_client_head head;     // client to server only
    uint32_t sequence = 0;
    uint8_t type = 0;
    uint8_t body[NET_DATAGRAM_MAX] = {};
    int body_length = 0;
};
int net_write_client_reliable(uint8_t* out, const net_reliable& r);
bool net_read_client_reliable(const uint8_t* data, int length, net_reliable* out);
int net_write_server_reliable(uint8_t* out, const net_reliable& r);
bool net_read_server_reliable(const uint8_t* data, int length, net_reliable* out);

// 18 both ways: the acknowledged sequence number.
int net_write_client_ack(uint8_t* out, const net_client_head& head, uint32_t sequence);
bool net_read_client_ack(const uint8_t* data, int length, net_client_head* head, uint32_t* sequence);
int net_write_server_ack(uint8_t* out, uint32_t sequence);
bool net_read_server_ack(const uint8_t* data, int length, uint32_t* sequence);

// ---- server to client ------------------------------------------------------------

// 1 server full and 15 disconnected: the type byte alone.
int net_write_server_type(uint8_t* out, uint8_t type);

struct net_accept {           // 2
    uint32_t slot = 0;
    uint32_t token = 0;
    uint32_t version = NET_PROTOCOL_VERSION;
};
int net_write_accept(uint8_t* out, const net_accept& a);
bool net_read_accept(const uint8_t* data, int length, net_accept* out);

struct net_track_info {       // 4
    uint32_t race_id = 0;
    int32_t race_ticks = 0;   // 0: a race of laps only
    int32_t laps = 0;
    int32_t start_tick = 0;
    uint8_t hash[NET_TRACK_HASH_SIZE] = {};
    char track[NET_TEXT_MAX + 1] = {};
};
int net_write_track_info(uint8_t* out, const net_track_info& t);
bool net_read_track_info(const uint8_t* data, int length, net_track_info* out);

struct net_rider_info {       // 6 (a rider) and 8 (the start, with the own text)
    uint32_t race_id = 0;
    int32_t slot = 0;         // 6: the rider's slot; 8: the race slot (160: none)
    char text[NET_TEXT_MAX + 1] = {};
};
int net_write_rider_info(uint8_t* out, uint8_t type, const net_rider_info& r);
bool net_read_rider_info(const uint8_t* data, int length, uint8_t type, net_rider_info* out);

struct net_state_record {
    uint16_t slot = 0;
    uint16_t ping = 0;        // that rider's ping in ticks
    int32_t tick = 0;
    bike_snapshot state;
};
// 10 (clock, no records) and 11 (states).
struct net_clock {
    uint32_t race_id = 0;
    int32_t server_tick = 0;
    int32_t echo = 0;         // a tick this client sent, 0 for none
    uint32_t count = 0;       // 11: the record count claimed
    net_state_record records[NET_STATES_MAX_RECORDS];
    int records_read = 0;     // records that fit in the datagram (at most 21)
    bool short_records = false;  // the count claims more than the datagram holds
};
// Writes a clock (count 0) or a states datagram with count records (at
// most NET_STATES_MAX_RECORDS).
int net_write_clock(uint8_t* out, uint8_t type, const net_clock& c);
bool net_read_clock(const uint8_t* data, int length, uint8_t type, net_clock* out);

// 13 restart votes (a count) and 14 restart (the new race id).
int net_write_server_value(uint8_t* out, uint8_t type, uint32_t value);
bool net_read_server_value(const uint8_t* data, int length, uint8_t type, uint32_t* value);

// 16 farewell (a text) and 25 redirect (the client's nonce and a server
// name of at most NET_SERVER_NAME_MAX characters).
int net_write_farewell(uint8_t* out, const char* text);
bool net_read_farewell(const uint8_t* data, int length, char* text, int size);
int net_write_redirect(uint8_t* out, uint32_t nonce, const char* name);
bool net_read_redirect(const uint8_t* data, int length, uint32_t* nonce, char* name, int size);

// ---- message bodies ------------------------------------------------------------

// The client information text: "%s|%s|%s|%s|%s\n%s\n%s" (model, rider,
// bike, wheel and helmet graphics, number, name), or the short form
// "%s\n%s\n%s" (model, number, name) when the full one does not fit in
// room. Returns its length (without the terminator).
struct rider_strings;
int net_format_client_info(const rider_strings& r, char* out, int room);
// Parses a client information text into r (missing fields empty, fields
// cut to their sizes, the number to 3 characters).
void net_parse_client_info(const char* text, int length, rider_strings* r);

// The password proof: the first four bytes of the RIPEMD-160 digest of
// the password's bytes followed by the token as 4 little-endian bytes, in
// reverse order; zeros for an empty password.
void net_password_proof(const char* password, uint32_t token, uint8_t out[4]);

// Gate times: the client's message 21 (race id, gate index, tick) and the
// server's command 21 (race id, count, entries of slot, gate index, tick).
struct net_gate_entry {
    int32_t slot = 0;
    int32_t gate = 0;   // gate progress - 1
    int32_t tick = 0;
};
int net_write_gate_time(uint8_t* body, uint32_t race_id, int32_t gate, int32_t tick);
bool net_read_gate_time(const uint8_t* body, int length, uint32_t* race_id, int32_t* gate, int32_t* tick);
// Writes at most max entries that fit in NET_RELIABLE_BODY_MAX.
int net_write_gate_table(uint8_t* body, uint32_t race_id, const net_gate_entry* entries, int count);
// Reads the entries that fit in the body (the claimed count is not
// trusted); *count receives how many, at most max.
bool net_read_gate_table(const uint8_t* body, int length, uint32_t* race_id, net_gate_entry* entries, int max,
                         int* count);
