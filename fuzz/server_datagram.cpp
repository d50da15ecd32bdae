// The race server's datagram handling: the input is a run of datagrams,
// each from one of four addresses after some time has passed, handed to a
// server without a socket (its answers go nowhere). Tokens come from a
// fixed seed, so inputs can name a session the server handed out. Nothing
// a peer sends may crash the server, grow it without bound or break the
// datagrams it writes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz_accept.h"
#include "files/datafs.h"
#include "net/protocol.h"
#include "server.h"

namespace {

int g_answers = 0;

void check_answer(void*, const uint8_t* bytes, int length, const net_address&)
{
    if (length < 1 || length > NET_DATAGRAM_MAX || !bytes)
        __builtin_trap();
    g_answers++;
}

server* make_server()
{
    // The game data of the build (tracks for the races).
    if (!getenv("KZ_HOME"))
        setenv("KZ_HOME", KESSRIG_BUILD_DATA_DIR, 1);
    build_file_index();
    server_options o;
    o.quiet = true;
    o.upload_dir = "";  // uploads are refused: the fuzzer writes no files
    o.countdown = 2;
    o.timeout = 5;
    o.tracks = {"rabbithill"};
    std::string why;
    server* s = server_create(o, &why, false);
    if (!s) {
        // Without a track there is no race to reach: every input would be
        // refused at once and the run would prove nothing.
        fprintf(stderr, "server_datagram: no server (%s); point KZ_HOME at built game data\n", why.c_str());
        abort();
    }
    server_sender sender;
    sender.send = check_answer;
    server_set_sender(s, sender);
    return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static server* s = make_server();
    static double now = 1000.0;
    server_reset(s, 12345);
    g_answers = 0;
    size_t at = 0;
    while (at + 3 <= size) {
        const uint8_t who = data[at];
        const int length = data[at + 1] | ((data[at + 2] & 0x03) << 8);
        at += 3;
        const int n = (int)(size - at < (size_t)length ? size - at : (size_t)length);
        net_address from;
        from.family = 2;
        from.ip = 0x0100000au + ((uint32_t)(who & 3) << 24);  // 10.0.0.1 .. 10.0.0.4
        from.port = 0x5000;
        now += (who >> 2) * (1.0 / 128);
        server_handle_datagram(s, data + at, n, from, now);
        server_step(s, now);
        at += (size_t)n;
    }
    // The server answers what it understood.
    if (g_answers > 0)
        fuzz_accept();
    return 0;
}
