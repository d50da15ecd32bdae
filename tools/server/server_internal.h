// The race server's records, shared by its source files and nothing else.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bike/snapshot.h"
#include "net/protocol.h"
#include "race/race.h"
#include "server.h"

struct track;

enum {
    SERVER_TICKS_PER_SECOND = 128,
    SERVER_OUT_QUEUE_MAX = 256,       // reliable commands waiting for one peer; more drops it
    SERVER_OUT_WINDOW = 8,            // reliable commands in flight at once
    SERVER_HELD_MAX = 32,             // early reliable messages held for their turn
    SERVER_BANS = 64,                 // addresses refused for a while after flooding
    SERVER_UNKNOWN_PER_SECOND = 2000, // datagrams from strangers handled per second
    SERVER_GATE_SLACK_TICKS = 64,     // how far a client's clock may run ahead of ours
    SERVER_CHAT_MAX = 200,            // characters of one chat line relayed
};

// Where a peer stands in the joining of a race; every answer the server
// gives depends on it.
enum peer_stage : int {
    stage_info = 0,        // accepted, waiting for its client information
    stage_track = 1,       // track information sent, waiting for the track acknowledgment
    stage_riders = 2,      // rider information going out one rider at a time
    stage_started = 3,     // start sent, waiting for ready
    stage_ready = 4,       // in the race: clocks and states go out to it
    stage_restarting = 5,  // restart sent, waiting for its acknowledgment
};

// One reliable command to a peer.
struct reliable_out {
    uint32_t sequence = 0;
    uint8_t type = 0;
    uint8_t body[NET_RELIABLE_BODY_MAX] = {};
    int length = 0;
    double first_sent = -1;  // -1: not sent yet
    double next_send = 0;
};

// A reliable message from a peer that arrived before its turn.
struct reliable_held {
    uint32_t sequence = 0;
    uint8_t type = 0;
    std::vector<uint8_t> body;
};

struct upload {
    int fd = -1;
    std::string temp_path;
    long bytes = 0;
};

struct peer {
    bool used = false;
    net_address address;
    uint32_t nonce = 0, token = 0;
    int slot = -1;
    int stage = stage_info;
    uint32_t race_id = 0;          // the race id this peer was told last
    int race_serial = -1;          // the race its handshake belongs to
    bool have_info = false;
    char info_text[NET_TEXT_MAX + 1] = {};
    rider_strings rider;
    double joined = 0;
    double last_heard = 0;
    double last_restart_send = -1;
    // Flood accounting: datagrams in the current one-second window.
    double flood_window = 0;
    int flood_count = 0;
    // Riders this peer has taken (acknowledged) in the current handshake.
    bool announced[NET_SLOTS] = {};
    int32_t client_tick = 0;       // its latest own-state tick (the echo); 0 none
    bool vote = false;
    double last_chat = -1;
    // Reliable channel.
    std::deque<reliable_out> out;
    uint32_t next_out = 0;
    uint32_t in_expected = 0;
    std::vector<reliable_held> held;
    upload up;
};

// One rider of the current race (indexed by its player slot).
struct racer {
    bool used = false;
    bool left = false;
    int race_slot = NET_SLOTS;
    char name[RIDER_NAME_MAX + 1] = {};
    std::vector<int32_t> times;    // tick at each race gate; -1 skipped
    int progress = 0;
    bool finished = false;
    int32_t last_lap_end_tick = -1;  // its latest lap end
    // Its newest state, relayed to the others.
    bool have_state = false;
    bool fresh = false;            // arrived since the last relay round
    int32_t state_tick = 0;
    uint16_t ping = 0;
    bike_snapshot state;
};

struct race_record {
    bool active = false;
    int serial = 0;                // counts races (and restarts) of this run
    int track_index = -1;          // into the rotation
    double origin = 0;             // real time of server tick 1
    int32_t start_tick = 0;
    int32_t entry_close_tick = 0;  // later joiners ride the warm-up
    int race_laps = 0;             // 0: not decided yet (a timed race)
    int32_t final_tick = -1;       // the first rider's final lap end; -1 none
    double winner_time = -1;       // real time the winner's gate arrived
    bool start_logged = false;
    bool ended = false;
    double ended_at = 0;
    racer racers[NET_SLOTS];
};

// What the server knows of the loaded track's gates.
struct gate_layout {
    int first = 0, normal = 0;     // F and N
    std::vector<float> x, z, radius;  // per checkpoint
    std::vector<int> checkpoint_of_first, checkpoint_of_normal;
    float start_x = 0, start_z = 0;   // centre of the starting gate pieces
    bool has_start = false;
    int pieces = 0;
};

struct ban_entry {
    net_address address;
    double until = 0;
};

struct server {
    server_options o;
    net_socket socket = -1;
    server_sender sender;
    std::mt19937 rng;
    std::vector<int> rotation;     // indexes into g_track_list
    int rotation_next = 0;
    track* loaded = nullptr;       // the track of the current race (owned)
    int loaded_list_index = -1;
    gate_layout gates;
    std::string track_name;        // display name (what clients look up)
    peer peers[NET_SLOTS];
    race_record race;
    uint32_t next_race_id = 1;
    int races_ended = 0;
    bool stopping = false;
    double stop_at = 0;
    double next_state_time = 0;
    uint32_t next_upload_id = 0;
    ban_entry bans[SERVER_BANS];
    double unknown_window = 0;
    int unknown_count = 0;
    double now = 0;
    server_counters counters;
    double next_stats = 0;         // when the next "stats" line is due
    server_counters stats_last;    // the counters at the previous line
    double stats_last_time = 0;
};

// ---- server.cpp: peers and datagrams --------------------------------------------

void server_send(server* s, const net_address& to, const uint8_t* bytes, int length);
void server_send_to(server* s, peer* p, const uint8_t* bytes, int length);
// Drops a peer: logs the leave with reason, frees its slot, ends its upload.
void server_drop_peer(server* s, peer* p, const char* reason, bool farewell);
int server_peer_count(const server* s);
void server_log(const char* format, ...) __attribute__((format(printf, 1, 2)));
extern bool g_server_quiet;

// ---- server_reliable.cpp: the reliable channel and its messages -----------------

// Queues a reliable command; false (and the peer dropped) when its queue
// is full.
bool reliable_queue(server* s, peer* p, uint8_t type, const void* body, int length);
bool reliable_queue_text(server* s, peer* p, uint8_t type, const char* text);
void reliable_receive(server* s, peer* p, const net_reliable& r);
void reliable_acked(peer* p, uint32_t sequence);
// Sends what is due; drops peers whose commands go unanswered too long.
void reliable_pump(server* s, peer* p);
void upload_abort(server* s, peer* p);

// ---- server_race.cpp: races --------------------------------------------------------

bool race_setup_rotation(server* s, std::string* why);
int32_t race_tick(const server* s);
// A peer's client information arrived (first time or again).
void race_peer_joined(server* s, peer* p);
void race_peer_left(server* s, peer* p);
void race_on_track_ack(server* s, peer* p, uint32_t race_id);
void race_on_rider_ack(server* s, peer* p, uint32_t race_id, uint32_t last);
void race_on_ready(server* s, peer* p, uint32_t race_id);
void race_on_own_state(server* s, peer* p, const net_own_state& st);
void race_on_restart_request(server* s, peer* p);
void race_on_restart_ack(server* s, peer* p, uint32_t race_id);
void race_on_stale(server* s, peer* p);
void race_on_gate_time(server* s, peer* p, const uint8_t* body, int length);
void race_on_erosion(server* s, peer* p, const uint8_t* body, int length);
// Timers: relays, restarts, the end of a race and the next one.
void race_step(server* s);
void race_unload(server* s);
