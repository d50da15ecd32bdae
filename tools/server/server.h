// The race server: one UDP socket, any number of races one after another,
// up to 40 players. It gathers players, picks the next track of its
// rotation, hands every player the lineup one rider at a time, runs the
// countdown on its own clock (128 ticks per second), relays the riders'
// states, gate times, erosion and chat, classifies the race from the gate
// times it accepts, takes file uploads into a folder of its own, and starts
// the next race when every rider has finished.
//
// Everything runs on the caller's thread: server_step drains the socket and
// does what is due at the time it is given, so tests drive the server with
// a clock of their own and the program with the real one. Nothing a peer
// sends is trusted: sizes, slots, tokens, sequence numbers, names and rates
// are checked, and a peer that floods or misbehaves is dropped alone.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "net/net.h"
#include "net/protocol.h"

enum {
    SERVER_PLAYERS_MAX = 40,          // players at once (the starting gate)
    SERVER_DEFAULT_PORT = NET_DEFAULT_PORT,
    SERVER_FLOOD_DATAGRAMS = 500,     // datagrams a peer may send in one second
};

struct server_options {
    int port = SERVER_DEFAULT_PORT;   // 0: the system picks one (tests)
    std::string password;             // empty: none
    std::vector<std::string> tracks;  // rotation (directories or names); empty: every track
    int laps = 3;                     // laps, or laps after the time limit
    int minutes = 0;                  // time limit (0: laps only)
    double countdown = 10;            // seconds from a race's first tick to the gate drop
    int max_players = SERVER_PLAYERS_MAX;
    int state_rate = 32;              // states datagrams per second to each player
    std::string upload_dir;           // empty: uploads are refused
    long upload_limit = 1L << 20;     // bytes of one upload
    int erode = 1024;                 // erosion rate sent every race; -1: none
    bool no_arcade = false;
    float off_course_bias = 10.0f;    // seconds
    float off_course_scale = 1.5f;
    std::string knockout;             // values for "knockout" (space separated); empty: none sent
    double timeout = 10;              // seconds of silence before a peer is dropped
    double finish_wait = 60;          // seconds the race waits for the others after the winner
    double result_pause = 5;          // seconds between a result and the next race
    int races = 0;                    // stop after this many races (0: never)
    std::string data_dir;             // the game data directory; empty: the default
    bool quiet = false;               // no log lines (the fuzz target)
    double stats = 0;                 // seconds between "stats" log lines; 0: none
};

// Parses the command line (argv[0] is the program). Returns 0 to run, 1
// after printing a message on standard error, 2 after printing the help on
// standard output.
int server_parse_options(int argc, char** argv, server_options* out);
// The default upload folder: "kessrig-server/uploads" under the XDG data
// home ($XDG_DATA_HOME, else $HOME/.local/share); empty when neither is set.
std::string server_default_upload_dir();

// Sends a datagram for the server; the default uses its socket. Tests and
// the fuzz target may replace it.
struct server_sender {
    void* context = nullptr;
    void (*send)(void* context, const uint8_t* bytes, int length, const net_address& to) = nullptr;
};

struct server;

// Opens the socket, reads the game data's track list and resolves the
// rotation. Null with the reason in *why when the socket cannot be bound or
// no track of the rotation exists. The data file index must be built (the
// caller points KZ_HOME at the data first when it is not the default).
// with_socket false makes a server without a socket (fed through
// server_handle_datagram, answering through the sender).
server* server_create(const server_options& options, std::string* why, bool with_socket = true);
void server_destroy(server* s);

// The port the socket is bound to (host order), and the socket (to poll).
int server_port(const server* s);
net_socket server_socket(const server* s);
void server_set_sender(server* s, const server_sender& sender);

// Receives every waiting datagram and does what is due at now (seconds on
// any steady clock that only moves forward).
void server_step(server* s, double now);
// One datagram as if it had arrived at now (the step's own receive path).
void server_handle_datagram(server* s, const uint8_t* data, int length, const net_address& from, double now);
// Ends the race after the --races count, once the last result is out and
// the reliable queues have had time to drain; the caller then stops.
bool server_done(const server* s);
// Tells every peer the server is going away (datagram 15).
void server_shutdown(server* s);
// Forgets every peer and the race (the track stays loaded) and seeds the
// session tokens, so that the fuzz target starts every input alike.
void server_reset(server* s, uint32_t token_seed);

// Traffic since the server started (the "stats" line and tests).
struct server_counters {
    long datagrams_in = 0, bytes_in = 0;
    long datagrams_out = 0, bytes_out = 0;
    long ignored_in = 0;             // datagrams that were not for us or came out of turn
};
server_counters server_get_counters(const server* s);

// What tests read: the peers and the race as they stand.
struct server_peer_view {
    bool used = false;
    int slot = -1;
    int race_slot = NET_SLOTS;       // gate spot in the current race; NET_SLOTS: none
    int stage = 0;
    uint32_t race_id = 0;            // the race id this peer was told
    int progress = 0;                // gate progress accepted by the server
    char name[64] = {};
};
struct server_view {
    int peers = 0;
    bool racing = false;             // a race exists
    int race_tick = 0;               // the server tick of the race
    int start_tick = 0;
    int races_finished = 0;
    char track[256] = {};            // display name
    server_peer_view slots[NET_SLOTS];
};
void server_get_view(const server* s, double now, server_view* out);
