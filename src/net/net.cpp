// POSIX datagram sockets under the race protocol.
#include "net/net.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

thread_local const char* t_last_error = nullptr;
thread_local char t_error_number[16];

// The symbolic name of an errno value; the number itself for one without.
const char* error_text(int e)
{
    switch (e) {
#define KZ_ERRNO(name) \
    case name:         \
        return #name;
        KZ_ERRNO(EACCES)
        KZ_ERRNO(EADDRINUSE)
        KZ_ERRNO(EADDRNOTAVAIL)
        KZ_ERRNO(EAGAIN)
        KZ_ERRNO(EINTR)
        KZ_ERRNO(EAFNOSUPPORT)
        KZ_ERRNO(EBADF)
        KZ_ERRNO(ECONNREFUSED)
        KZ_ERRNO(ECONNRESET)
        KZ_ERRNO(EDESTADDRREQ)
        KZ_ERRNO(EFAULT)
        KZ_ERRNO(EHOSTDOWN)
        KZ_ERRNO(EHOSTUNREACH)
        KZ_ERRNO(EINVAL)
        KZ_ERRNO(EISCONN)
        KZ_ERRNO(EMFILE)
        KZ_ERRNO(EMSGSIZE)
        KZ_ERRNO(ENETDOWN)
        KZ_ERRNO(ENETRESET)
        KZ_ERRNO(ENETUNREACH)
        KZ_ERRNO(ENFILE)
        KZ_ERRNO(ENOBUFS)
        KZ_ERRNO(ENOMEM)
        KZ_ERRNO(ENOTCONN)
        KZ_ERRNO(ENOTSOCK)
        KZ_ERRNO(EOPNOTSUPP)
        KZ_ERRNO(EPERM)
        KZ_ERRNO(EPIPE)
        KZ_ERRNO(EPROTONOSUPPORT)
        KZ_ERRNO(EPROTOTYPE)
        KZ_ERRNO(ETIMEDOUT)
#undef KZ_ERRNO
    default:
        snprintf(t_error_number, sizeof t_error_number, "%d", e);
        return t_error_number;
    }
}

// Records errno unless it only says "try again".
void record_errno()
{
    int e = errno;
    if (e == EAGAIN || e == EWOULDBLOCK || e == EINTR) return;
    t_last_error = error_text(e);
}

bool make_non_blocking(int fd)
{
    int flags = fcntl(fd, F_GETFL, 0);
    return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

}  // namespace

const char* net_last_error()
{
    return t_last_error;
}

bool net_resolve(net_address* out, const char* name, int default_port)
{
    t_last_error = nullptr;
    *out = net_address();
    if (!name) return false;
    char host[256];
    int port = default_port;
    const char* colon = strrchr(name, ':');
    int parsed = 0;
    size_t host_length = strlen(name);
    if (colon && sscanf(colon + 1, "%d", &parsed) == 1) {
        port = parsed;
        host_length = static_cast<size_t>(colon - name);
    }
    if (host_length >= sizeof host || port < 0 || port > 65535) return false;
    memcpy(host, name, host_length);
    host[host_length] = 0;

    addrinfo hints;
    memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host, nullptr, &hints, &found) != 0 || !found) return false;
    const sockaddr_in* sin = reinterpret_cast<const sockaddr_in*>(found->ai_addr);
    out->family = AF_INET;
    out->port = htons(static_cast<uint16_t>(port));
    out->ip = sin->sin_addr.s_addr;
    freeaddrinfo(found);
    return true;
}

net_socket net_open_socket()
{
    t_last_error = nullptr;
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) {
        record_errno();
        return -1;
    }
    if (!make_non_blocking(fd)) {
        record_errno();
        close(fd);
        return -1;
    }
    return fd;
}

net_socket net_open_bound_socket(int port)
{
    net_socket s = net_open_socket();
    if (s < 0) return -1;
    sockaddr_in sin;
    memset(&sin, 0, sizeof sin);
    sin.sin_family = AF_INET;
    sin.sin_port = htons(static_cast<uint16_t>(port));
    sin.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(s, reinterpret_cast<const sockaddr*>(&sin), sizeof sin) != 0) {
        record_errno();
        close(s);
        return -1;
    }
    return s;
}

int net_local_port(net_socket s)
{
    sockaddr_in sin;
    socklen_t length = sizeof sin;
    if (s < 0 || getsockname(s, reinterpret_cast<sockaddr*>(&sin), &length) != 0) return 0;
    return ntohs(sin.sin_port);
}

int net_send(net_socket s, const void* bytes, int length, const net_address& to)
{
    t_last_error = nullptr;
    sockaddr_in sin;
    memset(&sin, 0, sizeof sin);
    sin.sin_family = AF_INET;
    sin.sin_port = to.port;
    sin.sin_addr.s_addr = to.ip;
    ssize_t n = sendto(s, bytes, length > 0 ? static_cast<size_t>(length) : 0, MSG_NOSIGNAL,
                       reinterpret_cast<const sockaddr*>(&sin), sizeof sin);
    if (n < 0) {
        // A would-block send is still a datagram not sent.
        int e = errno;
        t_last_error = error_text(e);
        return -1;
    }
    return static_cast<int>(n);
}

int net_receive(net_socket s, void* buffer, int size, net_address* from)
{
    t_last_error = nullptr;
    sockaddr_in sin;
    memset(&sin, 0, sizeof sin);
    socklen_t length = sizeof sin;
    ssize_t n = recvfrom(s, buffer, size > 0 ? static_cast<size_t>(size) : 0, 0, reinterpret_cast<sockaddr*>(&sin),
                         &length);
    if (n < 0) {
        record_errno();
        return -1;
    }
    if (from) {
        from->family = AF_INET;
        from->port = sin.sin_port;
        from->ip = sin.sin_addr.s_addr;
    }
    return static_cast<int>(n);
}

void net_close(net_socket s)
{
    if (s >= 0) close(s);
}

void net_shutdown() {}

bool net_same_address(const net_address& a, const net_address& b)
{
    return a.port == b.port && a.ip == b.ip;
}

void net_format_address(const net_address& a, char* out, int size)
{
    if (size <= 0) return;
    const uint8_t* ip = reinterpret_cast<const uint8_t*>(&a.ip);
    snprintf(out, size, "%u.%u.%u.%u:%u", ip[0], ip[1], ip[2], ip[3], ntohs(a.port));
}
