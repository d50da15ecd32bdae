// The race client: joining a race server, the connection's state machine
// driven once per world tick, the reliable channel (in-order application,
// held early commands, one message in flight), following the server's
// clock, handing the other riders' states to their slots' histories,
// relaying gate times and erosion, the server's text commands, and
// uploading a file from the "outgoing" folder.
//
// A session is a record so that tests and the headless runner may hold
// several; the game holds one. Everything runs on the calling thread; the
// socket is non-blocking and drained on every tick.
#pragma once

#include <cstdint>

#include "net/net.h"
#include "net/protocol.h"
#include "race/race.h"

struct world;
struct data_stream;

// Connection states, numbered as the datagram each one sends.
enum net_state : int {
    net_contacting = 0,
    net_sending_client_info = 3,
    net_acknowledging_track = 5,
    net_acknowledging_riders = 7,
    net_waiting_start = 9,
    net_running = 11,
    net_restarting = 14,
    net_disconnecting = 15,
};

enum {
    NET_OUTGOING_MAX = 256,   // reliable messages waiting for the server; more are refused
    NET_HELD_MAX = 256,       // early reliable commands held for their turn
    NET_FAKE_QUEUE = 1024,    // datagrams held back by "--fake-lag"
};

// What the rest of the program gives a session on every tick.
struct net_environment {
    world* w = nullptr;              // the world the race runs in (resets, bikes, histories, erosion)
    double now = 0;                  // real time, seconds
    rider_strings player;            // the player's rider (client information)
    const char* password = "";       // server password; empty: none
    bool record_demo = false;        // record a demo of each race
    bool info_menu_open = false;     // a menu that edits the rider is open: hold information updates
    bool arcade_setup = false;       // the player's setup asks for arcade physics
};

struct net_slot_info {
    rider_strings rider;             // from the rider information
    bool known = false;              // rider information arrived this race
    int32_t ping_ticks = 0;
    int32_t newest_tick = -1;        // the tick of the newest state stored; -1 none
};

struct net_outgoing {
    uint32_t sequence = 0;
    uint8_t type = 0;
    uint8_t body[NET_RELIABLE_BODY_MAX] = {};
    int body_length = 0;
    double resend_time = 0;          // 0: send at the next tick
};

struct net_session_internal;         // the queues and the upload (client.cpp)

struct net_session {
    char server_name[NET_SERVER_NAME_MAX + 1] = {};  // empty: not connecting
    net_socket socket = -1;
    net_address server;
    net_state state = net_contacting;
    uint32_t player_slot = NET_SLOTS;
    uint32_t session_token = 0;
    uint32_t client_nonce = 0;
    uint32_t race_id = 0;
    int32_t race_ticks = 0, laps = 0, start_tick = 0;
    uint8_t server_hash[NET_TRACK_HASH_SIZE] = {};
    char track[RACE_TRACK_NAME_MAX + 1] = {};
    int32_t race_slot = NET_SLOTS;
    uint32_t last_rider_info = NET_SLOTS;
    int32_t server_tick = 0, server_tick_estimate = 0;
    double last_send_time = 0;
    int reported_progress = 0;
    bool info_changed = false;
    uint32_t next_out_sequence = 0;
    uint32_t incoming_expected = 0;
    net_slot_info slots[NET_SLOTS];
    // Server-set race options.
    bool no_arcade = false;
    float off_course_bias = 10.0f, off_course_scale = 1.5f;
    int32_t knockout[16] = {};
    int erosion_rate = -1;
    // "--fake-lag" seconds and "--fake-loss" percent.
    double fake_lag = 0;
    int fake_loss = 0;
    net_session_internal* internal = nullptr;  // owned
};

net_session* net_session_create();
void net_session_destroy(net_session* s);

// Whether the fixed collision shape files match the released ones:
// computed once at start-up over the seven shape files; connecting needs a
// match. The digest (40 hexadecimal digits) goes to digest_out when given.
bool net_check_fixed_files(char* digest_out = nullptr);
// The accepted digests of the shape files, null-terminated.
extern const char* const net_fixed_file_digests[];
// The result of the start-up check that net_tick consults (set by the game
// and the headless client after net_check_fixed_files).
extern bool g_net_fixed_files_ok;

// Joins name ("host" or "host:port") on the next tick.
void net_connect(net_session* s, const char* name);
// Once per world tick, before it; does nothing while not connecting.
void net_tick(net_session* s, const net_environment& env);
// Sends one disconnect datagram now and resets the session (the menus
// starting something else, and program exit).
void net_disconnect_now(net_session* s, world* w);
// The menu's disconnect: polite (the server answers) unless still contacting.
void net_leave(net_session* s, world* w);
// Asks the server for a restart (only while running).
void net_request_restart(net_session* s);
// Queues a reliable message; "Not connected to server" and false without a
// socket. Bodies longer than NET_RELIABLE_BODY_MAX are cut.
bool net_send_reliable(net_session* s, uint8_t type, const void* body, int length);
// A chat line (cut to fit a reliable message).
void net_chat(net_session* s, const char* text);
// The console's "sendfile" (args: what follows the command word).
void net_sendfile_command(net_session* s, const char* args);

// A socket exists (the game treats the race as a multiplayer race).
bool net_connected(const net_session* s);
// Ping of the own slot and how far the server's clock is ahead of tick, in
// milliseconds; false when there is no own slot.
bool net_ping(const net_session* s, int tick, int* ping_ms, int* offset_ms);
// Whether the race has started on the server's clock (for frame timing).
bool net_race_started(const net_session* s);

// One datagram as if it came from the joined server (the socket's receive
// pass calls it for every datagram from that address; tests and the fuzz
// target feed it directly).
void net_handle_datagram(net_session* s, const net_environment& env, const uint8_t* data, int length);
// Reliable messages waiting for the server's acknowledgment, and early
// commands held for their turn.
int net_outgoing_count(const net_session* s);
int net_held_count(const net_session* s);
