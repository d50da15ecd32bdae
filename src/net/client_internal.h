// What the client's source files share beyond client.h: the session's
// queues, the upload in progress and the helpers the upload needs.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <random>
#include <vector>

#include "net/client.h"
#include "track/erosion.h"

struct data_stream;

// A datagram held back by "--fake-lag".
struct net_delayed {
    double arrival = 0;
    int length = 0;
    net_address from;
    uint8_t bytes[NET_DATAGRAM_MAX] = {};
};

// A command that arrived before its turn.
struct net_held {
    uint8_t type = 0;
    std::vector<uint8_t> body;
};

struct net_session_internal {
    std::deque<net_outgoing> outgoing;        // oldest first; only the head is in flight
    std::map<uint32_t, net_held> held;        // by sequence number, within NET_HELD_MAX of the expected one
    int lineup[NET_SLOTS] = {};               // what each slot holds in the next reset
    std::deque<net_delayed> delayed;          // "--fake-lag" / "--fake-loss"
    std::mt19937 loss_generator{20240601u};   // the session's own, so tests repeat
    // The world whose erosion goes to the server, and its outlet before.
    world* outlet_world = nullptr;
    erosion_outlet saved_outlet;
    // The upload.
    data_stream* send_stream = nullptr;
    char send_final_text[1024] = {};
    bool send_allowed = false;
    double next_part_time = 0;
};

// File transfer (client_upload.cpp).
void net_upload_tick(net_session* s, double now);
void net_upload_stop(net_session* s);
// The server's "sendready" and senddenied.
void net_upload_ready(net_session* s);
void net_upload_denied(net_session* s);
