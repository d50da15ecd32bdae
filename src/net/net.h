// The UDP transport under the race protocol: resolving a server name with
// an optional port, one non-blocking datagram socket, single datagrams in
// and out, and the socket errors as short symbolic texts the protocol can
// show to the player.
#pragma once

#include <cstdint>

enum {
    NET_DEFAULT_PORT = 19800,
};

// An IPv4 address and port, both in network byte order (as sockaddr_in).
struct net_address {
    uint16_t family = 0;
    uint16_t port = 0;  // network byte order
    uint32_t ip = 0;    // network byte order
};

// A socket handle; -1: none.
typedef int net_socket;

// The text of the last socket error of this thread, or null when the last
// operation had none. Cleared at the start of every operation below.
const char* net_last_error();

// Fills *out from "host" or "host:port" (the text after the last ':' read
// as a decimal port; otherwise the whole name is the host and default_port
// applies). A dotted IPv4 address or a name. False when it does not resolve.
bool net_resolve(net_address* out, const char* name, int default_port);

// A non-blocking IPv4 datagram socket, not bound (the system picks the
// local port at the first send); -1 on failure.
net_socket net_open_socket();
// A non-blocking IPv4 datagram socket bound to port on every interface
// (the race server; port 0 lets the system choose); -1 on failure.
net_socket net_open_bound_socket(int port);
// The local port a socket is bound to (host byte order), 0 when unknown.
int net_local_port(net_socket s);

// One datagram to `to`; the bytes sent, or -1 (the error recorded).
int net_send(net_socket s, const void* bytes, int length, const net_address& to);
// One waiting datagram into buffer (longer ones are cut to size) and its
// sender; -1 when nothing is waiting (no error recorded) or on an error.
int net_receive(net_socket s, void* buffer, int size, net_address* from);
void net_close(net_socket s);
// Releases the socket library at program exit (nothing to do on POSIX
// beyond closing sockets, kept so start-up and shutdown stay symmetric).
void net_shutdown();

bool net_same_address(const net_address& a, const net_address& b);
// "a.b.c.d:port" into out (at least 22 bytes).
void net_format_address(const net_address& a, char* out, int size);
