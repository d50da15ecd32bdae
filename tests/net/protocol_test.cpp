// The datagram layouts: what a writer produces its reader takes back, the
// fixed offsets the server relies on, and short or foreign datagrams
// refused without reading past their end.
#include "net/protocol.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "race/race.h"

namespace {

// Every reader of the protocol on bytes, as the fuzz target runs them.
bool any_reader_accepts(const uint8_t* d, int n)
{
    net_client_head h;
    net_contact c;
    net_client_info ci;
    net_client_simple cs;
    net_own_state os;
    net_reliable r;
    uint32_t v = 0;
    net_accept a;
    net_track_info t;
    net_rider_info ri;
    net_clock clk;
    char text[64];
    bool any = false;
    any |= net_read_client_head(d, n, &h);
    any |= net_read_contact(d, n, &c);
    any |= net_read_client_info(d, n, &ci);
    any |= net_read_client_simple(d, n, &cs);
    any |= net_read_own_state(d, n, &os);
    any |= net_read_client_reliable(d, n, &r);
    any |= net_read_server_reliable(d, n, &r);
    any |= net_read_client_ack(d, n, &h, &v);
    any |= net_read_server_ack(d, n, &v);
    any |= net_read_accept(d, n, &a);
    any |= net_read_track_info(d, n, &t);
    any |= net_read_rider_info(d, n, net_s_rider_info, &ri);
    any |= net_read_rider_info(d, n, net_s_start, &ri);
    any |= net_read_clock(d, n, net_s_clock, &clk);
    any |= net_read_clock(d, n, net_s_states, &clk);
    any |= net_read_server_value(d, n, net_s_restart, &v);
    any |= net_read_farewell(d, n, text, sizeof text);
    any |= net_read_redirect(d, n, &v, text, sizeof text);
    return any;
}

}  // namespace

TEST(NetProtocol, DatagramsRoundTripAtTheirOffsets)
{
    uint8_t buf[NET_DATAGRAM_MAX];

    net_contact c;
    c.password = true;
    c.nonce = 0x01020304;
    ASSERT_EQ(net_write_contact(buf, c), 21);
    EXPECT_EQ(buf[0], 0);
    EXPECT_EQ(buf[1], 1);
    EXPECT_EQ(net_get_u32(buf + 9), 30u);
    EXPECT_EQ(buf[13], 0x04);  // little-endian nonce
    net_contact c2;
    ASSERT_TRUE(net_read_contact(buf, 21, &c2));
    EXPECT_TRUE(c2.password);
    EXPECT_EQ(c2.nonce, c.nonce);

    net_client_info ci;
    ci.head = {net_c_client_info, 7, 0xdeadbeef};
    memcpy(ci.proof, "\x01\x02\x03\x04", 4);
    ci.nonce = 99;
    strcpy(ci.text, "rm250|||||\n12\nAnna");
    int n = net_write_client_info(buf, ci);
    EXPECT_EQ(n, 41 + static_cast<int>(strlen(ci.text)));
    EXPECT_EQ(net_get_u32(buf + 1), 7u);
    EXPECT_EQ(net_get_u32(buf + 5), 0xdeadbeefu);
    EXPECT_EQ(net_get_u32(buf + 17), 99u);
    net_client_info ci2;
    ASSERT_TRUE(net_read_client_info(buf, n, &ci2));
    EXPECT_STREQ(ci2.text, ci.text);
    EXPECT_EQ(memcmp(ci2.proof, ci.proof, 4), 0);

    net_client_simple s;
    s.head = {net_c_rider_ack, 3, 4};
    s.value = 11;
    s.last_rider = 42;
    ASSERT_EQ(net_write_client_simple(buf, s), 17);
    net_client_simple s2;
    ASSERT_TRUE(net_read_client_simple(buf, 17, &s2));
    EXPECT_EQ(s2.value, 11u);
    EXPECT_EQ(s2.last_rider, 42u);
    EXPECT_FALSE(net_read_client_simple(buf, 16, &s2));
    s.head.type = net_c_restart_request;
    ASSERT_EQ(net_write_client_simple(buf, s), 13);
    EXPECT_EQ(net_get_u32(buf + 9), 1u);
    s.head.type = net_c_disconnect;
    EXPECT_EQ(net_write_client_simple(buf, s), 9);

    net_own_state os;
    os.head = {0, 5, 6};
    os.race_id = 8;
    os.server_tick = -3;
    os.tick = 1000;
    for (int i = 0; i < BIKE_SNAPSHOT_SIZE; i++) os.state.bytes[i] = static_cast<uint8_t>(i * 7);
    ASSERT_EQ(net_write_own_state(buf, os), 60);
    EXPECT_EQ(buf[0], net_c_own_state);
    EXPECT_EQ(buf[21], 0);
    EXPECT_EQ(buf[59], static_cast<uint8_t>(38 * 7));
    net_own_state os2;
    ASSERT_TRUE(net_read_own_state(buf, 60, &os2));
    EXPECT_EQ(os2.server_tick, -3);
    EXPECT_EQ(memcmp(os2.state.bytes, os.state.bytes, BIKE_SNAPSHOT_SIZE), 0);

    // A reliable body is cut to 466 bytes so the datagram stays within 480.
    net_reliable r;
    r.head = {0, 1, 2};
    r.sequence = 77;
    r.type = net_r_chat;
    r.body_length = 600;
    memset(r.body, 'x', 600);
    EXPECT_EQ(net_write_client_reliable(buf, r), 480);
    net_reliable r2;
    ASSERT_TRUE(net_read_client_reliable(buf, 480, &r2));
    EXPECT_EQ(r2.sequence, 77u);
    EXPECT_EQ(r2.type, net_r_chat);
    EXPECT_EQ(r2.body_length, 466);
    r.body_length = 3;
    ASSERT_EQ(net_write_server_reliable(buf, r), 9);
    EXPECT_EQ(buf[5], net_r_chat);
    ASSERT_TRUE(net_read_server_reliable(buf, 9, &r2));
    EXPECT_EQ(r2.body_length, 3);

    net_track_info t;
    t.race_id = 5;
    t.race_ticks = 128 * 300;
    t.laps = 2;
    t.start_tick = 1280;
    t.hash[19] = 0xaa;
    strcpy(t.track, "rabbithill");
    n = net_write_track_info(buf, t);
    EXPECT_EQ(n, 37 + 10);
    EXPECT_EQ(buf[36], 0xaa);
    net_track_info t2;
    ASSERT_TRUE(net_read_track_info(buf, n, &t2));
    EXPECT_STREQ(t2.track, "rabbithill");
    EXPECT_EQ(t2.start_tick, 1280);
    // The name ends at the datagram's end, not at a terminator.
    ASSERT_TRUE(net_read_track_info(buf, n - 4, &t2));
    EXPECT_STREQ(t2.track, "rabbit");

    net_clock clk;
    clk.race_id = 1;
    clk.server_tick = 500;
    clk.echo = 400;
    clk.count = 2;
    clk.records[1].slot = 159;
    clk.records[1].ping = 12;
    clk.records[1].tick = 496;
    clk.records[1].state.bytes[38] = 9;
    n = net_write_clock(buf, net_s_states, clk);
    EXPECT_EQ(n, 17 + 2 * 47);
    net_clock clk2;
    ASSERT_TRUE(net_read_clock(buf, n, net_s_states, &clk2));
    EXPECT_EQ(clk2.records_read, 2);
    EXPECT_FALSE(clk2.short_records);
    EXPECT_EQ(clk2.records[1].slot, 159);
    EXPECT_EQ(clk2.records[1].tick, 496);
    EXPECT_EQ(clk2.records[1].state.bytes[38], 9);
    // A count claiming more than the datagram holds: the records that fit.
    net_put_u32(buf + 13, 1000000);
    ASSERT_TRUE(net_read_clock(buf, n, net_s_states, &clk2));
    EXPECT_EQ(clk2.records_read, 2);
    EXPECT_TRUE(clk2.short_records);
    EXPECT_EQ(net_write_clock(buf, net_s_clock, clk), 13);

    uint32_t nonce = 0;
    char name[NET_SERVER_NAME_MAX + 1];
    std::string longname(300, 'h');
    n = net_write_redirect(buf, 1234, longname.c_str());
    EXPECT_EQ(n, 5 + NET_SERVER_NAME_MAX);
    ASSERT_TRUE(net_read_redirect(buf, n, &nonce, name, sizeof name));
    EXPECT_EQ(nonce, 1234u);
    EXPECT_EQ(strlen(name), static_cast<size_t>(NET_SERVER_NAME_MAX));

    net_gate_entry entries[60];
    for (int i = 0; i < 60; i++) entries[i] = {i, i * 2, i * 100};
    uint8_t body[NET_RELIABLE_BODY_MAX];
    n = net_write_gate_table(body, 9, entries, 60);
    EXPECT_LE(n, NET_RELIABLE_BODY_MAX);
    net_gate_entry back[60];
    int count = 0;
    uint32_t race = 0;
    ASSERT_TRUE(net_read_gate_table(body, n, &race, back, 60, &count));
    EXPECT_EQ(count, (NET_RELIABLE_BODY_MAX - 8) / 12);
    EXPECT_EQ(back[count - 1].tick, (count - 1) * 100);
    ASSERT_TRUE(net_read_gate_table(body, n, &race, back, 5, &count));
    EXPECT_EQ(count, 5);
}

// Every prefix of a valid datagram shorter than its fixed part is refused,
// and a byte string of another type reads as nothing.
TEST(NetProtocol, ShortAndForeignDatagramsAreRefused)
{
    uint8_t buf[NET_DATAGRAM_MAX];
    std::vector<std::vector<uint8_t>> valid;
    auto keep = [&](int n) { valid.emplace_back(buf, buf + n); };
    keep(net_write_accept(buf, net_accept()));
    keep(net_write_track_info(buf, net_track_info()));
    net_rider_info ri;
    keep(net_write_rider_info(buf, net_s_rider_info, ri));
    keep(net_write_rider_info(buf, net_s_start, ri));
    keep(net_write_clock(buf, net_s_clock, net_clock()));
    keep(net_write_clock(buf, net_s_states, net_clock()));
    keep(net_write_server_value(buf, net_s_restart, 3));
    keep(net_write_server_ack(buf, 3));
    keep(net_write_redirect(buf, 1, ""));
    keep(net_write_contact(buf, net_contact()));
    keep(net_write_own_state(buf, net_own_state()));
    keep(net_write_client_info(buf, net_client_info()));
    for (const auto& v : valid) {
        int n = static_cast<int>(v.size());
        EXPECT_TRUE(any_reader_accepts(v.data(), n)) << "type " << int(v[0]);
        // Copies on the heap so the sanitizer catches a read past the end.
        for (int k = 0; k < n; k++) {
            std::vector<uint8_t> cut(v.begin(), v.begin() + k);
            uint8_t* p = cut.empty() ? nullptr : cut.data();
            net_accept a;
            net_track_info t;
            net_clock clk;
            net_own_state os;
            net_contact c;
            net_client_info ci;
            uint32_t x;
            char text[8];
            EXPECT_FALSE(net_read_accept(p, k, &a));
            EXPECT_FALSE(net_read_track_info(p, k, &t));
            if (v[0] == net_s_states && n == 17) {  // not the own state, also type 11
                EXPECT_FALSE(net_read_clock(p, k, net_s_states, &clk));
            }
            if (v[0] == net_s_clock) {
                EXPECT_FALSE(net_read_clock(p, k, net_s_clock, &clk));
            }
            EXPECT_FALSE(net_read_server_value(p, k, net_s_restart, &x));
            EXPECT_FALSE(net_read_server_ack(p, k, &x));
            EXPECT_FALSE(net_read_redirect(p, k, &x, text, sizeof text));
            if (v[0] == 0) {
                EXPECT_FALSE(net_read_contact(p, k, &c));
            }
            EXPECT_FALSE(net_read_own_state(p, k, &os));
            EXPECT_FALSE(net_read_client_info(p, k, &ci));
        }
    }
    // A datagram of another type is not read as this one.
    uint8_t accept[13] = {net_s_track_info};
    net_accept a;
    EXPECT_FALSE(net_read_accept(accept, 13, &a));
    net_rider_info r;
    uint8_t start[9] = {net_s_start};
    EXPECT_FALSE(net_read_rider_info(start, 9, net_s_rider_info, &r));
    EXPECT_TRUE(net_read_rider_info(start, 9, net_s_start, &r));
}

TEST(NetProtocol, ClientInformationTextFullShortAndParsed)
{
    rider_strings r;
    strcpy(r.model, "rm250");
    strcpy(r.rider_texture, "body.png");
    strcpy(r.bike_texture, "bike.png");
    strcpy(r.wheel_texture, "");
    strcpy(r.head_texture, "helmet.png");
    strcpy(r.number, "77");
    strcpy(r.name, "Brenna");
    char out[NET_CLIENT_INFO_ROOM];
    int n = net_format_client_info(r, out, NET_CLIENT_INFO_ROOM);
    EXPECT_STREQ(out, "rm250|body.png|bike.png||helmet.png\n77\nBrenna");
    EXPECT_EQ(n, static_cast<int>(strlen(out)));
    rider_strings back;
    net_parse_client_info(out, n, &back);
    EXPECT_STREQ(back.model, "rm250");
    EXPECT_STREQ(back.rider_texture, "body.png");
    EXPECT_STREQ(back.bike_texture, "bike.png");
    EXPECT_STREQ(back.wheel_texture, "");
    EXPECT_STREQ(back.head_texture, "helmet.png");
    EXPECT_STREQ(back.number, "77");
    EXPECT_STREQ(back.name, "Brenna");

    // Parts 5+8+8+0+10+2+6 = 39, plus 6 separators = 45: not below 45.
    n = net_format_client_info(r, out, 45);
    EXPECT_STREQ(out, "rm250\n77\nBrenna");
    net_parse_client_info(out, n, &back);
    EXPECT_STREQ(back.model, "rm250");
    EXPECT_STREQ(back.rider_texture, "");
    EXPECT_STREQ(back.name, "Brenna");
    n = net_format_client_info(r, out, 46);
    EXPECT_EQ(n, 45);

    // A long number is cut to 3 characters, the name ends at a line break,
    // missing parts stay empty.
    const char* odd = "kx|a\n12345\nName\nmore";
    net_parse_client_info(odd, static_cast<int>(strlen(odd)), &back);
    EXPECT_STREQ(back.model, "kx");
    EXPECT_STREQ(back.rider_texture, "a");
    EXPECT_STREQ(back.bike_texture, "");
    EXPECT_STREQ(back.number, "123");
    EXPECT_STREQ(back.name, "Name");
    net_parse_client_info("solo", 4, &back);
    EXPECT_STREQ(back.model, "solo");
    EXPECT_STREQ(back.number, "");
}

TEST(NetProtocol, PasswordProofIsReversedRipemdPrefix)
{
    // RIPEMD-160("message digest") = 5d0689ef...; the token supplies the
    // last four bytes "gest" in little-endian order.
    uint8_t proof[4];
    net_password_proof("message di", 0x74736567u, proof);
    EXPECT_EQ(proof[0], 0xef);
    EXPECT_EQ(proof[1], 0x89);
    EXPECT_EQ(proof[2], 0x06);
    EXPECT_EQ(proof[3], 0x5d);
    net_password_proof("", 0x74736567u, proof);
    EXPECT_EQ(proof[0] | proof[1] | proof[2] | proof[3], 0);
}
