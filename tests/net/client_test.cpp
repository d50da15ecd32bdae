// The race client against a scripted server on a real loopback socket and
// a real world on the generated "rabbithill": joining, the race start with
// the world reset, the clock and the other riders' states, the reliable
// channel in both directions, the server's commands, leaving, redirects
// and the file upload.
#include <gtest/gtest.h>

#include <cmath>

#include <arpa/inet.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "bike/bike.h"
#include "bike/physics.h"
#include "core/messages.h"
#include "files/datafs.h"
#include "net/client.h"
#include "net/net.h"
#include "net/protocol.h"
#include "race/demo.h"
#include "race/gates.h"
#include "race/race.h"
#include "race/world.h"
#include "test_support.h"
#include "track/erosion.h"
#include "track/track.h"

namespace {

std::vector<std::string> messages()
{
    std::vector<std::string> out;
    for (int i = 0; i < MESSAGE_RING; i++) {
        const char* line = g_messages.ring[(g_messages.next + i) % MESSAGE_RING];
        if (line[0])
            out.push_back(line);
    }
    return out;
}

int said_count(const std::string& text)
{
    int n = 0;
    for (const std::string& m : messages())
        n += m.find(text) != std::string::npos;
    return n;
}

bool said(const std::string& text)
{
    return said_count(text) > 0;
}

// A datagram the scripted server received.
struct received {
    std::vector<uint8_t> bytes;
    uint8_t type() const { return bytes.empty() ? 255 : bytes[0]; }
};

// The server side: a bound loopback socket and the client's address.
struct fake_server {
    net_socket sock = -1;
    int port = 0;
    net_address client;
    bool have_client = false;

    fake_server()
    {
        sock = net_open_bound_socket(0);
        port = net_local_port(sock);
    }
    ~fake_server() { net_close(sock); }
    std::string name() const { return "127.0.0.1:" + std::to_string(port); }

    std::vector<received> drain()
    {
        std::vector<received> out;
        uint8_t buf[2048];
        for (int tries = 0; tries < 50; tries++) {
            net_address from;
            const int n = net_receive(sock, buf, sizeof buf, &from);
            if (n < 0) {
                if (!out.empty())
                    break;
                usleep(1000);
                continue;
            }
            client = from;
            have_client = true;
            out.push_back({std::vector<uint8_t>(buf, buf + n)});
        }
        return out;
    }
    void send(const uint8_t* bytes, int n) { ASSERT_EQ(net_send(sock, bytes, n, client), n); }
    void reliable(uint32_t sequence, uint8_t type, const void* body, int length)
    {
        net_reliable r;
        r.sequence = sequence;
        r.type = type;
        r.body_length = length;
        memcpy(r.body, body, length);
        uint8_t buf[NET_DATAGRAM_MAX];
        send(buf, net_write_server_reliable(buf, r));
    }
    void text(uint32_t sequence, const char* t) { reliable(sequence, net_r_text, t, (int)strlen(t)); }
};

const received* find_type(const std::vector<received>& v, uint8_t type)
{
    for (const received& r : v)
        if (r.type() == type)
            return &r;
    return nullptr;
}

std::vector<uint32_t> acks_in(const std::vector<received>& v)
{
    std::vector<uint32_t> out;
    for (const received& r : v) {
        net_client_head h;
        uint32_t sequence = 0;
        if (net_read_client_ack(r.bytes.data(), (int)r.bytes.size(), &h, &sequence))
            out.push_back(sequence);
    }
    return out;
}

class NetClient : public ::testing::Test {
protected:
    test::data_dirs_fixture dirs;
    net_session* s = nullptr;
    net_environment env;
    fake_server server;
    uint8_t digest[TRACK_DIGEST_SIZE] = {};
    const uint32_t race = 5;

    void SetUp() override
    {
        const std::string data = test::build_data_dir();
        ASSERT_EQ(symlink((data + "/zzzz.saf").c_str(), (dirs.game + "/zzzz.saf").c_str()), 0);
        ASSERT_EQ(symlink((data + "/rabbithill").c_str(), (dirs.game + "/rabbithill").c_str()), 0);
        free_file_index();
        clear_messages();
        ASSERT_GE(track_list_build(0), 1);
        tw = world_create();
        // An offline ride first: the track's digest is what the server sends.
        std::vector<int> lineup(RACE_SLOTS, lineup_empty);
        lineup[0] = lineup_player;
        ASSERT_TRUE(world_reset(tw, lineup.data(), nullptr, false, 0, 1, 0));
        memcpy(digest, tw->track.digest, sizeof digest);
        g_net_fixed_files_ok = true;
        s = net_session_create();
        env.w = tw;
        env.now = 100.0;
        strcpy(env.player.model, "rm250");
        strcpy(env.player.number, "42");
        strcpy(env.player.name, "Tester");
        ASSERT_GE(server.sock, 0);
    }

    void TearDown() override
    {
        net_session_destroy(s);
        world_destroy(tw);
        tw = nullptr;
        free_file_index();
    }

    std::vector<received> tick(double seconds = 1.0 / 128)
    {
        env.now += seconds;
        net_tick(s, env);
        return server.drain();
    }

    // Contact, accept and client information: slot 3, token 77.
    void join()
    {
        net_connect(s, server.name().c_str());
        std::vector<received> got = tick();
        const received* contact = find_type(got, net_c_contact);
        ASSERT_NE(contact, nullptr);
        net_contact c;
        ASSERT_TRUE(net_read_contact(contact->bytes.data(), (int)contact->bytes.size(), &c));
        EXPECT_EQ(c.nonce, s->client_nonce);
        EXPECT_TRUE(said("Contacting server"));
        uint8_t buf[NET_DATAGRAM_MAX];
        net_accept a;
        a.slot = 3;
        a.token = 77;
        server.send(buf, net_write_accept(buf, a));
        got = tick();
        EXPECT_EQ(s->state, net_sending_client_info);
        const received* info = find_type(got, net_c_client_info);
        ASSERT_NE(info, nullptr);
        net_client_info ci;
        ASSERT_TRUE(net_read_client_info(info->bytes.data(), (int)info->bytes.size(), &ci));
        EXPECT_EQ(ci.head.slot, 3u);
        EXPECT_EQ(ci.head.token, 77u);
        EXPECT_EQ(ci.nonce, s->client_nonce);
        EXPECT_STREQ(ci.text, "rm250||||\n42\nTester");
    }

    // Track information, rider 7 and the start with race slot 3.
    void start_race()
    {
        uint8_t buf[NET_DATAGRAM_MAX];
        net_track_info t;
        t.race_id = race;
        t.laps = 2;
        t.start_tick = 1280;
        memcpy(t.hash, digest, sizeof digest);
        strcpy(t.track, "Rabbit Hill");
        server.send(buf, net_write_track_info(buf, t));
        std::vector<received> got = tick();
        ASSERT_EQ(s->state, net_acknowledging_track);
        ASSERT_NE(find_type(got, net_c_track_ack), nullptr);

        net_rider_info r;
        r.race_id = race;
        r.slot = 7;
        strcpy(r.text, "kx125|||||\n7\nRemy");
        server.send(buf, net_write_rider_info(buf, net_s_rider_info, r));
        // A slot at or below the last one, or out of range, is ignored.
        r.slot = 5;
        server.send(buf, net_write_rider_info(buf, net_s_rider_info, r));
        r.slot = -4;
        server.send(buf, net_write_rider_info(buf, net_s_rider_info, r));
        got = tick();
        EXPECT_EQ(s->last_rider_info, 7u);
        EXPECT_FALSE(s->slots[5].known);
        const received* ack = find_type(got, net_c_rider_ack);
        ASSERT_NE(ack, nullptr);
        net_client_simple cs;
        ASSERT_TRUE(net_read_client_simple(ack->bytes.data(), (int)ack->bytes.size(), &cs));
        EXPECT_EQ(cs.value, race);
        EXPECT_EQ(cs.last_rider, 7u);

        net_rider_info start;
        start.race_id = race;
        start.slot = 3;
        strcpy(start.text, "rm250|||||\n42\nTester");
        server.send(buf, net_write_rider_info(buf, net_s_start, start));
        got = tick();
        ASSERT_EQ(s->state, net_waiting_start);
        ASSERT_NE(find_type(got, net_c_ready), nullptr);
    }

    void clock(int server_tick, int echo = 0)
    {
        net_clock c;
        c.race_id = race;
        c.server_tick = server_tick;
        c.echo = echo;
        uint8_t buf[NET_DATAGRAM_MAX];
        server.send(buf, net_write_clock(buf, net_s_clock, c));
    }
};

}  // namespace

TEST_F(NetClient, JoinsStartsFollowsTheClockAndTakesStates)
{
    ASSERT_NO_FATAL_FAILURE(join());
    ASSERT_NO_FATAL_FAILURE(start_race());

    // The world reset of the start: the remote rider has a recorded bike,
    // the own slot is driven locally, the race is a multiplayer race.
    EXPECT_TRUE(tw->race.net.connected);
    EXPECT_EQ(tw->race.net.race_slot, 3);
    EXPECT_EQ(tw->race.start_tick, 1280);
    ASSERT_NE(tw->race.slots[7].b, nullptr);
    EXPECT_EQ(tw->race.slots[7].driver, slot_driver_recorded);
    EXPECT_STREQ(tw->race.slots[7].rider.name, "Remy");
    ASSERT_NE(tw->race.slots[3].b, nullptr);
    EXPECT_EQ(tw->race.slots[3].driver, slot_driver_local);
    EXPECT_EQ(tw->race.erosion_amount, -1);
    EXPECT_FALSE(said("Client track modified"));

    // The first clock sets the world's tick; later ones only raise the estimate.
    clock(2000);
    tick();
    EXPECT_EQ(s->state, net_running);
    EXPECT_EQ(tw->race.tick, 2000);
    EXPECT_TRUE(said("2 laps"));
    tw->race.tick = 2001;
    clock(2100, 1990);
    tick();
    EXPECT_EQ(tw->race.tick, 2001);
    EXPECT_EQ(s->server_tick, 2100);
    EXPECT_EQ(s->slots[3].ping_ticks, 11);

    // In running the own state goes out on ticks that are multiples of 4.
    int own_states = 0;
    for (int i = 0; i < 8; i++) {
        tw->race.tick = 2004 + i;
        for (const received& r : tick())
            if (r.type() == net_c_own_state) {
                net_own_state os;
                ASSERT_TRUE(net_read_own_state(r.bytes.data(), (int)r.bytes.size(), &os));
                EXPECT_EQ(os.tick % 4, 0);
                EXPECT_EQ(os.race_id, race);
                own_states++;
            }
    }
    EXPECT_EQ(own_states, 2);

    // States: the newer one is stored, an older one, an own-slot one and
    // out-of-range slots are dropped.
    uint8_t buf[NET_DATAGRAM_MAX];
    net_clock c;
    c.race_id = race;
    c.server_tick = 2200;
    c.count = 4;
    c.records[0].slot = 7;
    c.records[0].tick = 2196;
    c.records[0].ping = 9;
    c.records[1].slot = 7;
    c.records[1].tick = 2192;
    c.records[2].slot = 3;
    c.records[2].tick = 2196;
    c.records[3].slot = 65535;
    c.records[3].tick = 2196;
    server.send(buf, net_write_clock(buf, net_s_states, c));
    tick();
    EXPECT_EQ(history_newest_tick(tw, 7), 2196);
    EXPECT_EQ(s->slots[7].newest_tick, 2196);
    EXPECT_EQ(s->slots[7].ping_ticks, 9);
    EXPECT_TRUE(history_has_state(tw, 7, 2196, 2196));
    EXPECT_FALSE(history_has_state(tw, 7, 2192, 2192));
    EXPECT_EQ(tw->race.net.update_tick[7], tw->race.tick);
    EXPECT_EQ(history_newest_tick(tw, 3), INT_MIN);
    EXPECT_EQ(s->server_tick, 2200);

    // A count claiming more records than fit: the ones there are used, the
    // clock of that datagram is not.
    c.server_tick = 5000;
    c.count = 1;
    c.records[0].tick = 2300;
    int n = net_write_clock(buf, net_s_states, c);
    net_put_u32(buf + 13, 3);
    server.send(buf, n);
    tick();
    EXPECT_TRUE(said("State packet too small"));
    EXPECT_EQ(history_newest_tick(tw, 7), 2300);
    EXPECT_EQ(s->server_tick, 2200);

    // Datagrams from any other sender are ignored.
    net_socket stranger = net_open_socket();
    uint8_t full = net_s_full;
    ASSERT_EQ(net_send(stranger, &full, 1, server.client), 1);
    tick();
    EXPECT_FALSE(said("Server is full"));
    net_close(stranger);
}

TEST_F(NetClient, ReliableChannelGateTablesErosionCommandsAndLeaving)
{
    ASSERT_NO_FATAL_FAILURE(join());
    ASSERT_NO_FATAL_FAILURE(start_race());
    clock(2000);
    tick();
    ASSERT_EQ(s->state, net_running);

    // Commands 0, 2, 1: acknowledged at once, applied in order; a
    // duplicate acknowledged again but applied once; one far ahead neither.
    server.reliable(0, net_r_chat, "hello there", 11);
    server.text(2, "off_course_bias 7.5");
    std::vector<received> got = tick();
    EXPECT_EQ(said_count("hello there"), 1);
    EXPECT_EQ(net_held_count(s), 1);
    EXPECT_FLOAT_EQ(tw->race.net.off_course_bias, 10.0f);
    server.text(1, "knockout 100 -5 999999 x");
    server.reliable(0, net_r_chat, "hello there", 11);
    server.text(1000000, "no_arcade");
    std::vector<received> more = tick();
    got.insert(got.end(), more.begin(), more.end());
    EXPECT_EQ(acks_in(got), (std::vector<uint32_t>{0, 2, 1, 0}));
    EXPECT_EQ(said_count("hello there"), 1);
    EXPECT_EQ(net_held_count(s), 0);
    EXPECT_EQ(s->incoming_expected, 3u);
    EXPECT_FLOAT_EQ(tw->race.net.off_course_bias, 7.5f);
    EXPECT_EQ(crash_delay(&tw->physics, 0), 100);
    EXPECT_EQ(crash_delay(&tw->physics, 1), 0);
    EXPECT_EQ(crash_delay(&tw->physics, 2), CRASH_DELAY_MAX);
    EXPECT_EQ(crash_delay(&tw->physics, 15), CRASH_DELAY_MAX);
    EXPECT_FALSE(s->no_arcade);

    // A gate table: the remote rider's gate is set; the own slot, slots
    // out of range and a huge gate index change nothing.
    net_gate_entry entries[4] = {{7, 0, 2100}, {3, 0, 1}, {-1, 0, 1}, {7, 1 << 30, 5}};
    uint8_t body[NET_RELIABLE_BODY_MAX];
    int n = net_write_gate_table(body, race, entries, 4);
    server.reliable(3, net_r_gate_times, body, n);
    tick();
    EXPECT_EQ(gate_time(tw->race.slots[7].b, 0), 2100);
    EXPECT_EQ(tw->race.slots[7].b->gate_progress, 1);
    EXPECT_EQ(tw->race.slots[3].b->gate_progress, 0);

    // Erosion from the local simulation goes to the server with the race
    // id; the server's is queued on the terrain.
    ASSERT_NE(tw->erosion->outlet.send, nullptr);
    const uint8_t local[5] = {1, 2, 3, 4, 5};
    tw->erosion->outlet.send(tw->erosion->outlet.context, local, 5);
    bool relayed = false;
    for (int i = 0; i < 3 && !relayed; i++)
        for (const received& r : tick()) {
            net_reliable m;
            if (net_read_client_reliable(r.bytes.data(), (int)r.bytes.size(), &m) && m.type == net_r_erosion) {
                EXPECT_EQ(net_get_u32(m.body), race);
                EXPECT_EQ(m.body_length, 9);
                EXPECT_EQ(m.body[8], 5);
                uint8_t ack[8];
                server.send(ack, net_write_server_ack(ack, m.sequence));
                relayed = true;
            }
        }
    EXPECT_TRUE(relayed);
    tick();
    EXPECT_EQ(net_outgoing_count(s), 0);
    uint8_t erosion[4 + 17] = {};
    net_put_u32(erosion, race);
    erosion[4] = 1;
    const int before = tw->erosion->queue_count;
    server.reliable(4, net_r_erosion, erosion, sizeof erosion);
    net_put_u32(erosion, race + 1);  // another race's: dropped
    server.reliable(5, net_r_erosion, erosion, sizeof erosion);
    tick();
    EXPECT_EQ(tw->erosion->queue_count, before + 1);

    // Text commands.
    server.text(6, "erode 5 3");
    server.text(7, "erode 5");
    server.text(8, "no_arcade");
    server.text(9, "  senddenied");
    // Numbers that are not finite never reach the race.
    const float scale = tw->race.net.off_course_scale;
    server.text(10, "off_course_bias nan");
    server.text(11, "off_course_scale inf");
    server.text(12, "off_course_bias -inf");
    env.arcade_setup = true;
    tick();
    EXPECT_FLOAT_EQ(tw->race.net.off_course_bias, 7.5f);
    EXPECT_FLOAT_EQ(s->off_course_bias, 7.5f);
    EXPECT_EQ(tw->race.net.off_course_scale, scale);
    EXPECT_TRUE(std::isfinite(s->off_course_scale));
    EXPECT_EQ(tw->race.erosion_amount, 3);
    EXPECT_TRUE(said("Malformed erode command received"));
    EXPECT_TRUE(s->no_arcade);
    EXPECT_TRUE(said("Arcade physics disabled"));
    EXPECT_EQ(tw->race.slots[3].b->arcade_flags & arcade_physics_on, 0);
    EXPECT_TRUE(said("Send file denied"));

    // The own gate progress is reported with message 21.
    set_gate_time(tw->race.slots[3].b, 0, 2050);
    set_gate_progress(tw->race.slots[3].b, 1);
    bool reported = false;
    for (int i = 0; i < 3 && !reported; i++)
        for (const received& r : tick()) {
            net_reliable m;
            uint32_t id = 0;
            int32_t gate = 0, t = 0;
            if (net_read_client_reliable(r.bytes.data(), (int)r.bytes.size(), &m) &&
                m.type == net_r_gate_times && net_read_gate_time(m.body, m.body_length, &id, &gate, &t)) {
                EXPECT_EQ(id, race);
                EXPECT_EQ(gate, 0);
                EXPECT_EQ(t, 2050);
                reported = true;
            }
        }
    EXPECT_TRUE(reported);

    // Restart: a new race id, the acknowledgment, then its track.
    uint8_t buf[NET_DATAGRAM_MAX];
    server.send(buf, net_write_server_value(buf, net_s_restart, race));  // not above: ignored
    tick();
    EXPECT_EQ(s->state, net_running);
    server.send(buf, net_write_server_value(buf, net_s_restart, race + 1));
    got = tick();
    EXPECT_EQ(s->state, net_restarting);
    EXPECT_EQ(s->race_id, race + 1);
    ASSERT_NE(find_type(got, net_c_restart_ack), nullptr);

    // Farewell, the disconnect datagram once a second, and the answer.
    server.send(buf, net_write_farewell(buf, "Server closing"));
    tick();
    EXPECT_TRUE(said("Server closing"));
    EXPECT_EQ(s->state, net_disconnecting);
    got = tick(1.1);
    ASSERT_NE(find_type(got, net_c_disconnect), nullptr);
    server.send(buf, net_write_server_type(buf, net_s_disconnected));
    tick();
    EXPECT_TRUE(said("Disconnected"));
    EXPECT_FALSE(net_connected(s));
    EXPECT_EQ(s->server_name[0], 0);
    EXPECT_FALSE(tw->race.net.connected);
    EXPECT_FLOAT_EQ(tw->race.net.off_course_bias, 10.0f);
    EXPECT_EQ(tw->erosion->outlet.send, nullptr);
}

// The ruts of one race must not outlive it: a player who joins later loads
// the track untouched, so everybody's next race starts from that ground,
// however many races were dug before.
TEST_F(NetClient, EveryRaceAfterADugOneStartsOnAFreshTrack)
{
    ASSERT_NO_FATAL_FAILURE(join());
    ASSERT_NO_FATAL_FAILURE(start_race());
    const uint64_t fresh = world_terrain_hash(tw);
    uint32_t id = race;
    uint32_t sequence = 0;
    uint8_t buf[NET_DATAGRAM_MAX];
    for (int round = 0; round < 3; round++) {
        net_clock c;
        c.race_id = id;
        c.server_tick = 2000;
        server.send(buf, net_write_clock(buf, net_s_clock, c));
        tick();
        ASSERT_EQ(s->state, net_running);
        server.text(sequence++, ("erode " + std::to_string(id) + " 1024").c_str());
        tick();
        ASSERT_EQ(tw->race.erosion_amount, 1024);
        // What the race's erosion did to the ground.
        heightfield& hf = tw->track.heightfield;
        hf.heights[hf.sample_count * (hf.sample_count / 2) + hf.sample_count / 2] -= 0.25f;
        ASSERT_NE(world_terrain_hash(tw), fresh);

        server.send(buf, net_write_server_value(buf, net_s_restart, ++id));
        tick();
        ASSERT_EQ(s->state, net_restarting);
        net_track_info ti;
        ti.race_id = id;
        ti.laps = 2;
        ti.start_tick = 1280;
        memcpy(ti.hash, digest, sizeof digest);
        strcpy(ti.track, "Rabbit Hill");
        server.send(buf, net_write_track_info(buf, ti));
        tick();
        ASSERT_EQ(s->state, net_acknowledging_track);
        net_rider_info start;
        start.race_id = id;
        start.slot = 3;
        strcpy(start.text, "rm250|||||\n42\nTester");
        server.send(buf, net_write_rider_info(buf, net_s_start, start));
        tick();
        ASSERT_EQ(s->state, net_waiting_start);
        EXPECT_EQ(world_terrain_hash(tw), fresh) << "race " << round + 2 << " starts on the ruts of the one before";
    }
}

TEST_F(NetClient, UnknownTrackRedirectAndOutgoingQueueBound)
{
    ASSERT_NO_FATAL_FAILURE(join());
    uint8_t buf[NET_DATAGRAM_MAX];
    net_track_info t;
    t.race_id = race;
    strcpy(t.track, "Nowhere Valley");
    server.send(buf, net_write_track_info(buf, t));
    tick();
    EXPECT_TRUE(said("Can't find track 'Nowhere Valley'"));
    EXPECT_EQ(s->state, net_disconnecting);

    // The outgoing queue stops at its bound while nothing is acknowledged.
    for (int i = 0; i < NET_OUTGOING_MAX + 10; i++)
        net_chat(s, "spam");
    EXPECT_EQ(net_outgoing_count(s), NET_OUTGOING_MAX);
    net_disconnect_now(s, tw);
    EXPECT_EQ(net_outgoing_count(s), 0);

    // A redirect while contacting, with the right nonce, joins the other server.
    fake_server second;
    net_connect(s, server.name().c_str());
    tick();
    server.send(buf, net_write_redirect(buf, s->client_nonce + 1, second.name().c_str()));
    tick();
    EXPECT_TRUE(net_connected(s));  // wrong nonce: ignored
    server.send(buf, net_write_redirect(buf, s->client_nonce, second.name().c_str()));
    tick();
    EXPECT_STREQ(s->server_name, second.name().c_str());
    tick();
    std::vector<received> got = second.drain();
    EXPECT_NE(find_type(got, net_c_contact), nullptr);
}

TEST_F(NetClient, UploadSendsPartsOnlyAfterTheServerAgrees)
{
    std::string bytes(600, '\0');
    for (size_t i = 0; i < bytes.size(); i++)
        bytes[i] = (char)(i * 31);
    test::write_file(dirs.home + "/outgoing/run.kzdemo", bytes);
    ASSERT_NO_FATAL_FAILURE(join());

    net_sendfile_command(s, "bad name");
    EXPECT_TRUE(said("Filename may only contain alphanumeric characters, '_' or '.'"));
    net_sendfile_command(s, "../secret");
    EXPECT_EQ(said_count("Filename may only contain"), 2);
    net_sendfile_command(s, "missing.bin");
    EXPECT_TRUE(said("Can't open file"));
    net_sendfile_command(s, "  run.kzdemo ");
    EXPECT_TRUE(said("Sending file"));

    // Every reliable message the server gets, acknowledged at once.
    std::vector<std::string> texts;
    auto pump = [&](double seconds) {
        for (const received& r : tick(seconds)) {
            net_reliable m;
            if (!net_read_client_reliable(r.bytes.data(), (int)r.bytes.size(), &m))
                continue;
            if (m.type == net_r_text)
                texts.emplace_back((const char*)m.body, (size_t)m.body_length);
            uint8_t ack[8];
            server.send(ack, net_write_server_ack(ack, m.sequence));
        }
    };
    for (int i = 0; i < 8; i++)
        pump(0.3);
    ASSERT_EQ(texts, (std::vector<std::string>{"sendfile"}));

    server.text(0, "sendready");
    for (int i = 0; i < 20; i++)
        pump(0.3);
    ASSERT_EQ(texts.size(), 5u);
    EXPECT_EQ(texts[1], "sendpart -" + bytes.substr(0, 256));
    EXPECT_EQ(texts[2], "sendpart -" + bytes.substr(256, 256));
    EXPECT_EQ(texts[3], "sendpart -" + bytes.substr(512, 88));
    EXPECT_EQ(texts[4], "namefile run.kzdemo");
}

// The accepted digests include the shape files this build generates.
TEST_F(NetClient, FixedShapeFilesMatchTheAcceptedDigests)
{
    char digest[41] = {};
    EXPECT_TRUE(net_check_fixed_files(digest)) << digest;
    EXPECT_EQ(strlen(digest), 40u);
}

TEST(NetTransport, ResolvesPortsAndReportsNothingOnAnEmptySocket)
{
    net_address a;
    ASSERT_TRUE(net_resolve(&a, "127.0.0.1", NET_DEFAULT_PORT));
    char text[32];
    net_format_address(a, text, sizeof text);
    EXPECT_STREQ(text, "127.0.0.1:19800");
    ASSERT_TRUE(net_resolve(&a, "127.0.0.1:19801", NET_DEFAULT_PORT));
    net_format_address(a, text, sizeof text);
    EXPECT_STREQ(text, "127.0.0.1:19801");
    ASSERT_TRUE(net_resolve(&a, "localhost", 5));
    EXPECT_EQ(ntohs(a.port), 5);
    EXPECT_FALSE(net_resolve(&a, "127.0.0.1:port", NET_DEFAULT_PORT));

    net_socket sock = net_open_socket();
    ASSERT_GE(sock, 0);
    uint8_t buf[16];
    EXPECT_EQ(net_receive(sock, buf, sizeof buf, &a), -1);
    EXPECT_EQ(net_last_error(), nullptr);
    net_close(sock);
    // A send on a closed socket leaves its error's name.
    EXPECT_EQ(net_send(sock, buf, 4, a), -1);
    ASSERT_NE(net_last_error(), nullptr);
    EXPECT_STREQ(net_last_error(), "EBADF");
}
