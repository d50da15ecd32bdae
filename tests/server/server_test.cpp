// The race server in-process, driven by a clock of the test's own, against
// raw clients on real loopback sockets that speak the protocol datagram by
// datagram: admission, the lineup and its restarts, the clock, the states
// relay, gate times, uploads, floods and silence. And the program's
// command line.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "files/datafs.h"
#include "net/net.h"
#include "net/protocol.h"
#include "race/race.h"
#include "server.h"
#include "server_internal.h"
#include "test_support.h"
#include "track/track.h"

namespace {

struct datagram {
    std::vector<uint8_t> bytes;
    uint8_t type() const { return bytes.empty() ? 255 : bytes[0]; }
    const uint8_t* data() const { return bytes.data(); }
    int size() const { return (int)bytes.size(); }
};

// One player as the server sees it: a socket, its session and both
// directions of the reliable channel.
struct raw_client {
    net_socket sock = -1;
    net_address server;
    uint32_t nonce = 0;
    uint32_t slot = NET_SLOTS, token = 0, race_id = 0;
    uint32_t next_out = 0;
    std::vector<datagram> inbox;
    // Reliable commands received (acknowledged as they arrive).
    std::vector<net_reliable> commands;

    raw_client(int port, uint32_t n) : nonce(n)
    {
        sock = net_open_socket();
        const std::string name = "127.0.0.1:" + std::to_string(port);
        net_resolve(&server, name.c_str(), NET_DEFAULT_PORT);
    }
    ~raw_client() { net_close(sock); }
    raw_client(const raw_client&) = delete;
    raw_client& operator=(const raw_client&) = delete;

    void send(const uint8_t* bytes, int n) { ASSERT_EQ(net_send(sock, bytes, n, server), n); }
    net_client_head head(uint8_t type) const
    {
        net_client_head h;
        h.type = type;
        h.slot = slot;
        h.token = token;
        return h;
    }
    void contact()
    {
        net_contact c;
        c.nonce = nonce;
        uint8_t b[NET_DATAGRAM_MAX];
        send(b, net_write_contact(b, c));
    }
    void info(const char* name, const char* password = "")
    {
        net_client_info ci;
        ci.head = head(net_c_client_info);
        ci.nonce = nonce;
        net_password_proof(password, token, ci.proof);
        snprintf(ci.text, sizeof ci.text, "rm250||||\n7\n%s", name);
        uint8_t b[NET_DATAGRAM_MAX];
        send(b, net_write_client_info(b, ci));
    }
    void simple(uint8_t type, uint32_t value, uint32_t last = 0)
    {
        net_client_simple c;
        c.head = head(type);
        c.value = value;
        c.last_rider = last;
        uint8_t b[NET_DATAGRAM_MAX];
        send(b, net_write_client_simple(b, c));
    }
    void own_state(int32_t server_tick, int32_t tick)
    {
        net_own_state st;
        st.head = head(net_c_own_state);
        st.race_id = race_id;
        st.server_tick = server_tick;
        st.tick = tick;
        uint8_t b[NET_DATAGRAM_MAX];
        send(b, net_write_own_state(b, st));
    }
    void reliable(uint8_t type, const void* body, int length)
    {
        static net_reliable r;
        r.head = head(net_c_reliable);
        r.sequence = next_out++;
        r.type = type;
        memcpy(r.body, body, (size_t)length);
        r.body_length = length;
        uint8_t b[NET_DATAGRAM_MAX];
        send(b, net_write_client_reliable(b, r));
    }
    void text(const std::string& t) { reliable(net_r_text, t.data(), (int)t.size()); }
    void gate(int32_t gate, int32_t tick)
    {
        uint8_t body[16];
        reliable(net_r_gate_times, body, net_write_gate_time(body, race_id, gate, tick));
    }

    // Everything waiting; reliable commands are acknowledged and kept.
    void receive()
    {
        uint8_t b[2048];
        for (;;) {
            net_address from;
            const int n = net_receive(sock, b, sizeof b, &from);
            if (n < 0)
                break;
            datagram d;
            d.bytes.assign(b, b + n);
            if (d.type() == net_s_reliable) {
                static net_reliable r;
                if (net_read_server_reliable(b, n, &r)) {
                    uint8_t ack[16];
                    send(ack, net_write_client_ack(ack, head(net_c_ack), r.sequence));
                    bool seen = false;
                    for (const net_reliable& c : commands)
                        seen = seen || c.sequence == r.sequence;
                    if (!seen)
                        commands.push_back(r);
                }
            }
            inbox.push_back(std::move(d));
        }
    }
    std::vector<datagram> take()
    {
        receive();
        std::vector<datagram> out;
        out.swap(inbox);
        return out;
    }
    std::vector<std::string> texts(uint8_t type)
    {
        std::vector<std::string> out;
        for (const net_reliable& c : commands)
            if (c.type == type)
                out.emplace_back((const char*)c.body, (size_t)c.body_length);
        return out;
    }
};

// The last datagram of a type (a copy: the list is often a temporary).
std::shared_ptr<datagram> last_of(const std::vector<datagram>& v, uint8_t type)
{
    std::shared_ptr<datagram> found;
    for (const datagram& d : v)
        if (d.type() == type)
            found = std::make_shared<datagram>(d);
    return found;
}

bool has_text(const std::vector<std::string>& v, const std::string& part)
{
    for (const std::string& t : v)
        if (t.find(part) != std::string::npos)
            return true;
    return false;
}

class RaceServer : public ::testing::Test {
protected:
    test::data_dirs_fixture dirs;
    server_options o;
    server* s = nullptr;
    double now = 1000.0;
    int port = 0;
    std::vector<std::unique_ptr<raw_client>> clients;
    uint8_t digest[TRACK_DIGEST_SIZE] = {};

    void SetUp() override
    {
        const std::string data = test::build_data_dir();
        ASSERT_EQ(symlink((data + "/zzzz.saf").c_str(), (dirs.game + "/zzzz.saf").c_str()), 0);
        ASSERT_EQ(symlink((data + "/stadium").c_str(), (dirs.game + "/stadium").c_str()), 0);
        free_file_index();
        o.port = 0;
        o.upload_dir = dirs.root / "uploads";
        o.timeout = 1000;  // only the silence test waits for silence
        o.countdown = 10;
    }
    void start()
    {
        std::string why;
        s = server_create(o, &why);
        ASSERT_NE(s, nullptr) << why;
        port = server_port(s);
        ASSERT_GT(port, 0);
    }
    void TearDown() override
    {
        clients.clear();
        server_destroy(s);
        track_list_free();
        free_file_index();
    }

    raw_client& add_client()
    {
        clients.emplace_back(new raw_client(port, 0x1000u + (uint32_t)clients.size() * 7919u));
        return *clients.back();
    }
    // Lets datagrams cross loopback, then runs the server.
    void step(double seconds = 1.0 / 128)
    {
        usleep(200);
        now += seconds;
        server_step(s, now);
        usleep(200);
        for (auto& c : clients)
            c->receive();
    }
    server_view view()
    {
        server_view v;
        server_get_view(s, now, &v);
        return v;
    }

    // Contact and client information: up to the track information.
    void admit(raw_client& c, const char* name)
    {
        c.contact();
        step();
        const std::vector<datagram> got = c.take();
        auto accept = last_of(got, net_s_accept);
        ASSERT_NE(accept, nullptr);
        net_accept a;
        ASSERT_TRUE(net_read_accept(accept->data(), accept->size(), &a));
        EXPECT_EQ(a.version, (uint32_t)NET_PROTOCOL_VERSION);
        c.slot = a.slot;
        c.token = a.token;
        c.info(name);
        step();
        const std::vector<datagram> track = c.take();
        auto t = last_of(track, net_s_track_info);
        ASSERT_NE(t, nullptr);
        net_track_info ti;
        ASSERT_TRUE(net_read_track_info(t->data(), t->size(), &ti));
        c.race_id = ti.race_id;
        memcpy(digest, ti.hash, sizeof digest);
    }
    // Track acknowledgment, then every rider acknowledged in turn; returns
    // the rider slots in the order they came and the race slot of the start.
    std::vector<int> lineup(raw_client& c, int* race_slot)
    {
        std::vector<int> riders;
        c.simple(net_c_track_ack, c.race_id);
        for (int round = 0; round < 200; round++) {
            step();
            const std::vector<datagram> got = c.take();
            net_rider_info info;
            if (auto d = last_of(got, net_s_start)) {
                EXPECT_TRUE(net_read_rider_info(d->data(), d->size(), net_s_start, &info));
                EXPECT_EQ(info.race_id, c.race_id);
                *race_slot = info.slot;
                c.simple(net_c_ready, c.race_id);
                step();
                return riders;
            }
            auto d = last_of(got, net_s_rider_info);
            if (!d) {
                ADD_FAILURE() << "no rider information nor start";
                return riders;
            }
            EXPECT_TRUE(net_read_rider_info(d->data(), d->size(), net_s_rider_info, &info));
            riders.push_back(info.slot);
            c.simple(net_c_rider_ack, c.race_id, (uint32_t)info.slot);
        }
        return riders;
    }
    // Answers a restart the way a client does, up to its new start.
    int rejoin(raw_client& c)
    {
        auto r = last_of(c.take(), net_s_restart);
        uint32_t id = 0;
        if (!r || !net_read_server_value(r->data(), r->size(), net_s_restart, &id))
            return -1;
        EXPECT_GT(id, c.race_id);
        c.race_id = id;
        c.simple(net_c_restart_ack, id);
        step();
        auto t = last_of(c.take(), net_s_track_info);
        if (!t)
            return -1;
        int spot = -1;
        lineup(c, &spot);
        return spot;
    }
    raw_client& racer(const char* name, int* spot)
    {
        raw_client& c = add_client();
        admit(c, name);
        lineup(c, spot);
        return c;
    }
};

TEST_F(RaceServer, AdmitsPlayersHandsOutTheLineupInSlotOrderAndRestartsWhoMissedARider)
{
    start();
    raw_client& a = add_client();
    admit(a, "Alpha");
    // The digest is the track's own: the one a client computes on loading it.
    {
        track t;
        ASSERT_TRUE(track_load(&t, "stadium", track_load_flags()));
        EXPECT_EQ(memcmp(digest, t.digest, sizeof digest), 0);
        track_unload(&t);
    }
    // Our accept was lost: the same contact gets the same answer, not a slot.
    a.contact();
    step();
    auto again = last_of(a.take(), net_s_accept);
    ASSERT_NE(again, nullptr);
    net_accept acc;
    ASSERT_TRUE(net_read_accept(again->data(), again->size(), &acc));
    EXPECT_EQ(acc.slot, a.slot);
    EXPECT_EQ(acc.token, a.token);
    EXPECT_EQ(view().peers, 1);

    int spot_a = -1;
    EXPECT_TRUE(lineup(a, &spot_a).empty());
    ASSERT_GE(spot_a, 0);
    ASSERT_LT(spot_a, 40);
    // Waiting for the start: clocks on a race clock that began near 1.
    step(0.1);
    auto clock = last_of(a.take(), net_s_clock);
    ASSERT_NE(clock, nullptr);
    net_clock c;
    ASSERT_TRUE(net_read_clock(clock->data(), clock->size(), net_s_clock, &c));
    EXPECT_EQ(c.race_id, a.race_id);
    EXPECT_GE(c.server_tick, 1);
    EXPECT_LT(c.server_tick, 64);

    // Two more players: each is handed the riders before it in slot order,
    // one at a time, each only after the previous one is acknowledged.
    raw_client& b = add_client();
    raw_client& d = add_client();
    admit(b, "Bravo");
    admit(d, "Delta");
    EXPECT_NE(a.slot, b.slot);
    EXPECT_NE(b.slot, d.slot);
    // Until the first rider is taken, asking again brings it again.
    for (int ask = 0; ask < 2; ask++) {
        d.simple(net_c_track_ack, d.race_id);
        step();
        net_rider_info info;
        auto first = last_of(d.take(), net_s_rider_info);
        ASSERT_NE(first, nullptr);
        ASSERT_TRUE(net_read_rider_info(first->data(), first->size(), net_s_rider_info, &info));
        EXPECT_EQ((uint32_t)info.slot, std::min(a.slot, b.slot));
        EXPECT_NE(std::string(info.text).find(a.slot < b.slot ? "Alpha" : "Bravo"), std::string::npos);
    }
    int spot_d = -1;
    int spot_b = -1;
    const std::vector<int> b_riders = lineup(b, &spot_b);
    const std::vector<int> d_riders = lineup(d, &spot_d);
    EXPECT_EQ(b_riders, (std::vector<int>{(int)a.slot, (int)d.slot}));
    EXPECT_EQ(d_riders, (std::vector<int>{(int)a.slot, (int)b.slot}));
    EXPECT_NE(spot_b, spot_d);
    EXPECT_NE(spot_a, spot_b);
    EXPECT_NE(spot_a, spot_d);
    EXPECT_LT(spot_b, 40);
    EXPECT_LT(spot_d, 40);

    // Alpha's world was set up without them: its race restarts on the same
    // clock with a new id, and it keeps its spot.
    step();
    EXPECT_EQ(rejoin(a), spot_a);
    step();
    EXPECT_EQ(last_of(a.take(), net_s_restart), nullptr);
    // Bravo took its start before Delta's lineup grew? No: Delta came
    // first in Bravo's list, so nobody else restarts.
    EXPECT_EQ(last_of(b.take(), net_s_restart), nullptr);

    // A player arriving after entry closes rides beside the race.
    now += 9;
    raw_client& late = add_client();
    admit(late, "Late");
    int spot_late = -1;
    EXPECT_EQ(lineup(late, &spot_late).size(), 3u);
    EXPECT_EQ(spot_late, NET_SLOTS);
    step();
    EXPECT_EQ(last_of(a.take(), net_s_restart), nullptr);
}

TEST_F(RaceServer, RelaysStatesWithinOneDatagramSizeAndClassifiesFromGateTimes)
{
    o.countdown = 4;
    start();
    // 23 riders: the states of 22 others do not fit in one datagram.
    const int n = 23;
    for (int i = 0; i < n; i++) {
        raw_client& c = add_client();
        admit(c, ("R" + std::to_string(i)).c_str());
    }
    for (auto& c : clients) {
        int spot = -1;
        lineup(*c, &spot);
        EXPECT_LT(spot, 40);
    }
    // Players who started before the lineup grew are set up again.
    for (int round = 0; round < 3; round++) {
        step();
        for (auto& c : clients)
            if (last_of(c->inbox, net_s_restart))
                rejoin(*c);
    }
    std::vector<int> spots;
    for (int i = 0; i < NET_SLOTS; i++)
        if (view().slots[i].used)
            spots.push_back(view().slots[i].race_slot);
    std::sort(spots.begin(), spots.end());
    ASSERT_EQ((int)spots.size(), n);
    EXPECT_EQ(std::unique(spots.begin(), spots.end()), spots.end());
    EXPECT_LT(spots.back(), 40);

    // Past the start: everybody rides and reports its state.
    now += 5;
    step();
    const int32_t tick = view().race_tick;
    const int32_t start_tick = view().start_tick;
    ASSERT_GT(tick, start_tick);
    for (auto& c : clients)
        c->take();
    for (auto& c : clients)
        c->own_state(tick - 2, tick - 1);
    step(1.0 / 32);
    raw_client& a = *clients[0];
    const std::vector<datagram> got = a.take();
    std::vector<int> relayed;
    int states = 0;
    for (const datagram& d : got) {
        if (d.type() != net_s_states)
            continue;
        states++;
        EXPECT_LE(d.size(), NET_DATAGRAM_MAX);
        net_clock c;
        ASSERT_TRUE(net_read_clock(d.data(), d.size(), net_s_states, &c));
        EXPECT_FALSE(c.short_records);
        EXPECT_EQ(c.echo, tick - 1);  // our own tick comes back for the ping
        for (int i = 0; i < c.records_read; i++) {
            relayed.push_back(c.records[i].slot);
            EXPECT_EQ(c.records[i].tick, tick - 1);
        }
    }
    EXPECT_EQ(states, 2);
    std::sort(relayed.begin(), relayed.end());
    ASSERT_EQ((int)relayed.size(), n - 1);
    EXPECT_EQ(std::count(relayed.begin(), relayed.end(), (int)a.slot), 0);

    // Gate 0 twenty seconds after the start: accepted and relayed.
    now += 20;
    step();
    raw_client& b = *clients[1];
    a.take();
    b.take();
    a.gate(0, start_tick + 20 * 128);
    step();
    step();
    bool relayed_gate = false;
    for (const net_reliable& r : b.commands) {
        if (r.type != net_r_gate_times)
            continue;
        uint32_t race_id = 0;
        net_gate_entry e[8];
        int count = 0;
        ASSERT_TRUE(net_read_gate_table(r.body, r.body_length, &race_id, e, 8, &count));
        EXPECT_EQ(race_id, b.race_id);
        for (int i = 0; i < count; i++)
            if ((uint32_t)e[i].slot == a.slot) {
                EXPECT_EQ(e[i].gate, 0);
                EXPECT_EQ(e[i].tick, start_tick + 20 * 128);
                relayed_gate = true;
            }
    }
    EXPECT_TRUE(relayed_gate);
    EXPECT_EQ(view().slots[a.slot].progress, 1);

    // Gate 1 a tick later: no bike rides from gate 0 to gate 1 that fast.
    // Nor is gate 5 next, nor a tick ahead of the server's clock.
    const size_t before = b.commands.size();
    a.gate(1, start_tick + 20 * 128 + 1);
    step();
    a.gate(5, start_tick + 20 * 128 + 2000);
    step();
    a.gate(1, view().race_tick + 1000);
    step();
    step();
    const std::vector<std::string> told = a.texts(net_r_chat);
    EXPECT_TRUE(has_text(told, "faster than a bike"));
    EXPECT_TRUE(has_text(told, "not the next gate"));
    EXPECT_TRUE(has_text(told, "in the future"));
    for (size_t i = before; i < b.commands.size(); i++)
        EXPECT_NE(b.commands[i].type, net_r_gate_times);
    EXPECT_EQ(view().slots[a.slot].progress, 1);
}

TEST_F(RaceServer, StoresUploadsUnderGoodNewNamesOnlyAndEnforcesTheLimit)
{
    o.upload_limit = 600;
    start();
    int spot = -1;
    raw_client& a = racer("Uploader", &spot);
    const std::string part(250, 'x');

    auto send_file = [&](const std::string& name, int parts) {
        a.text("sendfile");
        step();
        step();
        for (int i = 0; i < parts; i++) {
            a.text("sendpart -" + part);
            step();
        }
        a.text("namefile " + name);
        step();
        step();
    };
    send_file("../escape.dmo", 1);
    EXPECT_TRUE(has_text(a.texts(net_r_text), "sendready"));
    EXPECT_TRUE(has_text(a.texts(net_r_chat), "bad file name"));
    EXPECT_FALSE(test::file_exists(dirs.root.path + "/escape.dmo"));
    send_file(".hidden", 1);
    send_file("bell\x07.dmo", 1);
    send_file("sub\\name.dmo", 1);
    send_file(std::string(201, 'n'), 1);
    EXPECT_TRUE(has_text(a.texts(net_r_chat), "(the name holds a control character)"));
    EXPECT_TRUE(has_text(a.texts(net_r_chat), "(the name is too long)"));
    EXPECT_TRUE(has_text(a.texts(net_r_chat), "(the name is hidden)"));
    send_file("good.dmo", 2);
    EXPECT_TRUE(has_text(a.texts(net_r_chat), "'good.dmo' received (500 bytes)"));
    EXPECT_EQ(test::read_file(o.upload_dir + "/good.dmo"), part + part);
    // The same name again does not replace what is there.
    send_file("good.dmo", 1);
    EXPECT_TRUE(has_text(a.texts(net_r_chat), "'good.dmo' already exists"));
    EXPECT_EQ(test::read_file(o.upload_dir + "/good.dmo").size(), 500u);
    // Past the limit the transfer is refused as the parts arrive.
    send_file("big.dmo", 3);
    EXPECT_TRUE(has_text(a.texts(net_r_text), "senddenied"));
    EXPECT_FALSE(test::file_exists(o.upload_dir + "/big.dmo"));
    // Nothing is left behind but the one good file.
    std::string listing;
    FILE* ls = popen(("ls -A '" + o.upload_dir + "'").c_str(), "r");
    ASSERT_NE(ls, nullptr);
    char line[256];
    while (fgets(line, sizeof line, ls))
        listing += line;
    pclose(ls);
    EXPECT_EQ(listing, "good.dmo\n");
}

TEST_F(RaceServer, DropsAFloodingPeerAndASilentOneWhileTheOthersKeepTheirClock)
{
    o.timeout = 5;
    start();
    int spot = -1;
    raw_client& a = racer("Flooder", &spot);
    raw_client& b = racer("Steady", &spot);
    raw_client& c = racer("Quiet", &spot);
    for (int i = 0; i < 3; i++) {
        step();
        for (auto& x : clients)
            if (last_of(x->inbox, net_s_restart))
                rejoin(*x);
    }
    ASSERT_EQ(view().peers, 3);
    // 600 in a few milliseconds (in bursts the socket's buffer holds).
    for (int burst = 0; burst < 6; burst++) {
        for (int i = 0; i < 100; i++)
            a.simple(net_c_ready, a.race_id);
        step(0.001);
    }
    EXPECT_NE(last_of(a.take(), net_s_farewell), nullptr);
    EXPECT_FALSE(view().slots[a.slot].used);
    // Its later datagrams do not bring it back or disturb the others.
    a.contact();
    step();
    EXPECT_EQ(last_of(a.take(), net_s_accept), nullptr);

    // Steady keeps talking; Quiet says nothing for longer than the timeout.
    int32_t last_tick = 0;
    for (int second = 0; second < 7; second++) {
        b.own_state(0, view().race_tick);
        for (int i = 0; i < 8; i++)
            step(1.0 / 8);
        std::shared_ptr<datagram> clock;
        for (const datagram& d : b.take())
            if (d.type() == net_s_clock || d.type() == net_s_states)
                clock = std::make_shared<datagram>(d);
        ASSERT_NE(clock, nullptr) << "second " << second;
        net_clock k;
        ASSERT_TRUE(net_read_clock(clock->data(), clock->size(), clock->type(), &k));
        EXPECT_GT(k.server_tick, last_tick);
        last_tick = k.server_tick;
    }
    EXPECT_TRUE(view().slots[b.slot].used);
    EXPECT_FALSE(view().slots[c.slot].used);
    EXPECT_NE(last_of(c.take(), net_s_farewell), nullptr);
}

TEST_F(RaceServer, PasswordFullServerAndDisconnects)
{
    o.password = "secret";
    o.max_players = 1;
    start();
    raw_client& a = add_client();
    a.contact();
    step();
    net_accept acc;
    auto d = last_of(a.take(), net_s_accept);
    ASSERT_NE(d, nullptr);
    ASSERT_TRUE(net_read_accept(d->data(), d->size(), &acc));
    a.slot = acc.slot;
    a.token = acc.token;
    a.info("Guess", "wrong");
    step();
    std::vector<datagram> got = a.take();
    ASSERT_NE(last_of(got, net_s_farewell), nullptr);
    EXPECT_EQ(last_of(got, net_s_track_info), nullptr);
    EXPECT_EQ(view().peers, 0);

    raw_client& b = add_client();
    b.contact();
    step();
    d = last_of(b.take(), net_s_accept);
    ASSERT_NE(d, nullptr);
    ASSERT_TRUE(net_read_accept(d->data(), d->size(), &acc));
    b.slot = acc.slot;
    b.token = acc.token;
    b.info("Knows", "secret");
    step();
    EXPECT_NE(last_of(b.take(), net_s_track_info), nullptr);

    // One player is all this server takes.
    raw_client& c = add_client();
    c.contact();
    step();
    EXPECT_NE(last_of(c.take(), net_s_full), nullptr);
    // A disconnect from nobody the server knows is answered all the same.
    c.simple(net_c_disconnect, 0);
    step();
    EXPECT_NE(last_of(c.take(), net_s_disconnected), nullptr);
    // The player's own disconnect frees its slot.
    b.simple(net_c_disconnect, 0);
    step();
    EXPECT_NE(last_of(b.take(), net_s_disconnected), nullptr);
    EXPECT_EQ(view().peers, 0);
    c.contact();
    step();
    EXPECT_NE(last_of(c.take(), net_s_accept), nullptr);
}

// A player who came after the gate drop watches from the warm-up, saying
// nothing; when the next race asks it back it must get the time to answer.
TEST_F(RaceServer, AWarmUpWatcherSilentForLongIsAskedIntoTheNextRaceNotDropped)
{
    o.timeout = 5;
    o.countdown = 2;
    o.result_pause = 1;
    start();
    int spot = -1;
    raw_client& rider = racer("Rider", &spot);
    ASSERT_LT(spot, 40);
    for (int i = 0; i < 4 * 128; i++)
        step();
    ASSERT_GT(view().race_tick, view().start_tick);
    raw_client& late = racer("Late", &spot);
    EXPECT_EQ(spot, (int)NET_SLOTS) << "a joiner after the drop rides the warm-up";
    // The rider rides on (and talks); the watcher says nothing for longer
    // than the timeout.
    for (int second = 0; second < 8; second++) {
        rider.own_state(view().race_tick, view().race_tick);
        step(1.0);
    }
    ASSERT_TRUE(view().slots[late.slot].used);
    late.take();
    // The rider leaves: the race ends, and after the pause the next one
    // asks the watcher in.
    rider.simple(net_c_disconnect, 0);
    bool asked = false;
    for (int i = 0; i < 40 && !asked; i++) {
        step(0.1);
        asked = last_of(late.inbox, net_s_restart) != nullptr;
        ASSERT_TRUE(view().slots[late.slot].used) << "dropped after " << i << " steps";
    }
    ASSERT_TRUE(asked);
    EXPECT_LT(rejoin(late), 40);
    EXPECT_TRUE(view().slots[late.slot].used);
}

// Everything a hostile peer can throw at the server, as a stranger and then
// as an admitted player that never plays by the rules, while a good player
// joins, rides the countdown and the race, and keeps its clock throughout.
TEST_F(RaceServer, AHostilePeerNeitherCrashesTheServerNorGrowsItNorStarvesTheGoodPlayer)
{
    o.countdown = 6;
    start();
    int spot = -1;
    raw_client& good = racer("Good", &spot);
    ASSERT_LT(spot, 40);
    raw_client& bad = add_client();
    net_address bad_address;
    ASSERT_TRUE(net_resolve(&bad_address, ("127.0.0.1:" + std::to_string(net_local_port(bad.sock))).c_str(),
                            NET_DEFAULT_PORT));

    int32_t good_tick = 0;   // the newest server tick the good player was told
    int good_clocks = 0;     // clocks and states it got since the last look
    int sent = 0, steps = 0;
    // The good player answers what it gets as a client does, and sends its
    // state now and then; the server runs at its own pace (under the
    // per-peer flood limit for the hostile one).
    auto serve = [&]() {
        if (++steps % 4 == 0)
            good.own_state(good_tick, good_tick);
        step(0.05);
        std::vector<datagram> got = good.take();
        if (last_of(got, net_s_restart)) {
            good.inbox = got;
            ASSERT_GE(rejoin(good), 0);
            good_tick = 0;  // a race set up again may run a clock of its own
            got = good.take();
        }
        for (const datagram& d : got) {
            net_clock k;
            if ((d.type() == net_s_clock || d.type() == net_s_states) &&
                net_read_clock(d.data(), d.size(), d.type(), &k) && k.race_id == good.race_id) {
                EXPECT_GE(k.server_tick, good_tick);
                good_tick = k.server_tick;
                good_clocks++;
            }
        }
        bad.take();
        // Nothing a peer sends may make the server hold more than its bounds.
        EXPECT_LE(view().peers, 2);
        for (const peer& p : s->peers)
            if (p.used) {
                EXPECT_LE((int)p.out.size(), (int)SERVER_OUT_QUEUE_MAX);
                EXPECT_LE((int)p.held.size(), (int)SERVER_HELD_MAX);
                for (const reliable_held& h : p.held)
                    EXPECT_LE((int)h.body.size(), NET_DATAGRAM_MAX);
            }
        ASSERT_TRUE(view().slots[good.slot].used) << "the good player was dropped";
    };
    auto send = [&](const uint8_t* bytes, int length) {
        if (length == 0)
            server_handle_datagram(s, bytes, 0, bad_address, now);  // a socket carries none
        else
            ASSERT_EQ(net_send(bad.sock, bytes, length, bad.server), length);
        if (++sent % 15 == 0)
            serve();
    };
    auto every_prefix = [&](const uint8_t* bytes, int length) {
        for (int n = 0; n <= length; n++)
            send(bytes, n);
    };
    // Every client datagram in full, headed as given.
    // (A contact from an admitted address starts its session over, so
    // only the stranger sends contacts.)
    auto sweep = [&](const net_client_head& h, uint32_t race_id) {
        uint8_t b[NET_DATAGRAM_MAX + 1];
        if (bad.slot == NET_SLOTS) {
            net_contact c;
            c.nonce = 77;
            every_prefix(b, net_write_contact(b, c));
        }
        net_client_info ci;
        ci.head = h;
        ci.head.type = net_c_client_info;
        snprintf(ci.text, sizeof ci.text, "rm250|a|b|c|d\n66\nBad");
        every_prefix(b, net_write_client_info(b, ci));
        for (uint8_t type : {net_c_track_ack, net_c_rider_ack, net_c_ready, net_c_restart_request,
                             net_c_restart_ack, net_c_disconnect}) {
            if (type == net_c_disconnect && h.slot == bad.slot && h.token == bad.token)
                continue;  // its own disconnect is honoured; sent last
            net_client_simple cs;
            cs.head = h;
            cs.head.type = type;
            cs.value = type == net_c_restart_request ? 1 : race_id;
            cs.last_rider = NET_SLOTS - 1;
            every_prefix(b, net_write_client_simple(b, cs));
        }
        net_own_state st;
        st.head = h;
        st.head.type = net_c_own_state;
        st.race_id = race_id;
        st.server_tick = good_tick;
        st.tick = good_tick;
        every_prefix(b, net_write_own_state(b, st));
        static net_reliable r;
        r.head = h;
        r.head.type = net_c_reliable;
        r.sequence = 0;
        r.type = net_r_gate_times;
        r.body_length = net_write_gate_time(r.body, race_id, 3, good_tick);
        every_prefix(b, net_write_client_reliable(b, r));
        every_prefix(b, net_write_client_ack(b, h, 12345));
    };

    // A stranger: datagrams of every type under the good player's slot with
    // a wrong token, under no slot at all, junk types, and oversized ones.
    net_client_head forged;
    forged.slot = good.slot;
    forged.token = good.token ^ 0x5a5a5a5au;
    sweep(forged, good.race_id);
    net_client_head nobody;
    nobody.slot = 0xffffffffu;
    nobody.token = 0;
    sweep(nobody, 0);
    std::mt19937 random(17);
    for (int type : {1, 2, 4, 6, 8, 10, 12, 16, 19, 20, 25, 99, 128, 255}) {
        uint8_t junk[64];
        junk[0] = (uint8_t)type;
        for (int i = 1; i < 64; i++)
            junk[i] = (uint8_t)random();
        every_prefix(junk, 64);
    }
    for (int length : {NET_DATAGRAM_MAX + 1, 1500, 1501, 9000, 65000}) {
        std::vector<uint8_t> big((size_t)length);
        for (uint8_t& x : big)
            x = (uint8_t)random();
        for (uint8_t type : {0, 3, 11, 17}) {
            big[0] = type;
            send(big.data(), length);
        }
    }
    EXPECT_GT(good_clocks, 0);

    // Admitted, it sends everything out of turn: the handshake's answers
    // before its information, then a game of its own.
    bad.contact();
    for (int i = 0; i < 4 && bad.slot == NET_SLOTS; i++) {
        step(0.05);
        if (auto a = last_of(bad.inbox, net_s_accept)) {
            net_accept acc;
            ASSERT_TRUE(net_read_accept(a->data(), a->size(), &acc));
            bad.slot = acc.slot;
            bad.token = acc.token;
        }
    }
    ASSERT_LT(bad.slot, (uint32_t)NET_SLOTS);
    good_clocks = 0;
    sweep(bad.head(0), good.race_id);
    bad.info("Bad");
    serve();
    sweep(bad.head(0), good.race_id);
    sweep(bad.head(0), 0xfffffff0u);
    // Reliable messages from far ahead, one at the end of the sequence
    // space, repeats, and every type with a body of junk.
    for (uint32_t sequence : {0xffffffffu, 0x80000000u, 1000000u})
        for (int repeat = 0; repeat < 3; repeat++) {
            bad.next_out = sequence;
            bad.text("far ahead");
            if (++sent % 15 == 0)
                serve();
        }
    for (uint32_t k = 1; k <= 3 * SERVER_HELD_MAX; k++) {
        static net_reliable r;
        r.head = bad.head(net_c_reliable);
        r.sequence = k;
        r.type = (uint8_t)(k % 2 ? net_r_erosion : net_r_gate_times);
        r.body_length = NET_RELIABLE_BODY_MAX;
        for (int i = 0; i < r.body_length; i++)
            r.body[i] = (uint8_t)random();
        uint8_t b[NET_DATAGRAM_MAX];
        send(b, net_write_client_reliable(b, r));
    }
    for (uint8_t type = 0; type < 40; type++) {
        static net_reliable r;
        r.head = bad.head(net_c_reliable);
        r.sequence = 0;
        r.type = type;
        r.body_length = (int)(random() % NET_RELIABLE_BODY_MAX);
        for (int i = 0; i < r.body_length; i++)
            r.body[i] = (uint8_t)random();
        uint8_t b[NET_DATAGRAM_MAX];
        send(b, net_write_client_reliable(b, r));
    }
    for (int i = 0; i < 200; i++) {
        uint8_t b[16];
        send(b, net_write_client_ack(b, bad.head(net_c_ack), (uint32_t)random()));
    }
    EXPECT_GT(good_clocks, 0);

    // The good player rides on past the gate drop with its clock running.
    const int32_t tick_before = good_tick;
    good_clocks = 0;
    for (int i = 0; i < 60; i++)
        serve();
    EXPECT_TRUE(view().racing);
    EXPECT_GT(good_tick, view().start_tick) << "the good player never reached the race";
    EXPECT_GT(good_tick, tick_before + 2 * 128) << "the good player's clock stopped";
    EXPECT_GT(good_clocks, 40);
    EXPECT_EQ(view().slots[good.slot].stage, (int)stage_ready);
    // The hostile datagrams did reach the server (all but the oversized
    // ones, which the receive drops, and the empty ones fed directly).
    EXPECT_GE(server_get_counters(s).datagrams_in, (long)sent * 9 / 10);
    // The hostile one leaves; its slot is free again and the good one stays.
    bad.simple(net_c_disconnect, 0);
    serve();
    EXPECT_FALSE(view().slots[bad.slot].used);
    EXPECT_TRUE(view().slots[good.slot].used);
}

int run(const std::string& command)
{
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(RaceServerProgram, HelpAndBadOptions)
{
    test::temp_dir dir;
    const std::string bin = test::build_data_dir() + "/kessrig-server";
    EXPECT_EQ(run(bin + " --help > " + (dir / "out") + " 2> " + (dir / "err")), 0);
    EXPECT_NE(test::read_file(dir / "out").find("--state-rate"), std::string::npos);
    EXPECT_EQ(run(bin + " --max-players 41 > " + (dir / "out") + " 2> " + (dir / "err")), 1);
    EXPECT_NE(test::read_file(dir / "err").find("--max-players: expected 1 to 40"), std::string::npos);
    EXPECT_EQ(run(bin + " --frobnicate 1 > " + (dir / "out") + " 2> " + (dir / "err")), 1);
    EXPECT_NE(test::read_file(dir / "err").find("unknown option '--frobnicate'"), std::string::npos);
    EXPECT_EQ(run(bin + " --tracks nowhere --port 0 > " + (dir / "out") + " 2> " + (dir / "err")), 1);
    EXPECT_NE(test::read_file(dir / "err").find("unknown track 'nowhere'"), std::string::npos);
}

}  // namespace
