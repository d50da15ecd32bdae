// The race client's session: connecting, the periodic datagram of each
// state, the server's datagrams, the reliable channel both ways, the clock,
// the other riders' states and the server's commands.
#include "net/client.h"

#include <sys/time.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bike/bike.h"
#include "bike/physics.h"
#include "bike/snapshot.h"
#include "core/messages.h"
#include "net/client_internal.h"
#include "race/demo.h"
#include "race/demo_internal.h"
#include "race/gates.h"
#include "race/world.h"
#include "track/erosion.h"
#include "track/track.h"

bool g_net_fixed_files_ok = false;

namespace {

const double k_resend_seconds = 0.5;

void copy_text(char* out, int size, const char* text)
{
    snprintf(out, size, "%s", text ? text : "");
}

void send_bytes(net_session* s, const uint8_t* bytes, int length)
{
    if (s->socket < 0 || length <= 0)
        return;
    if (net_send(s->socket, bytes, length, s->server) < 0) {
        const char* e = net_last_error();
        add_message("sendto error (%.100s)", e ? e : "unknown");
    }
}

net_client_head head_of(const net_session* s, uint8_t type)
{
    net_client_head h;
    h.type = type;
    h.slot = s->player_slot;
    h.token = s->session_token;
    return h;
}

void send_simple(net_session* s, uint8_t type, uint32_t value, uint32_t last_rider = 0)
{
    net_client_simple c;
    c.head = head_of(s, type);
    c.value = value;
    c.last_rider = last_rider;
    uint8_t buf[NET_DATAGRAM_MAX];
    send_bytes(s, buf, net_write_client_simple(buf, c));
}

void clear_slots(net_session* s)
{
    for (net_slot_info& i : s->slots)
        i = net_slot_info();
    for (int& l : s->internal->lineup)
        l = lineup_empty;
}

// The world's erosion goes to the server while a race runs there.
void erosion_to_server(void* context, const uint8_t* message, int length);

void install_outlet(net_session* s, world* w)
{
    if (!w || !w->erosion || s->internal->outlet_world == w)
        return;
    s->internal->outlet_world = w;
    s->internal->saved_outlet = w->erosion->outlet;
    w->erosion->outlet.send = erosion_to_server;
    w->erosion->outlet.context = s;
}

void restore_world(net_session* s, world* w)
{
    net_session_internal& in = *s->internal;
    if (in.outlet_world && in.outlet_world->erosion && in.outlet_world->erosion->outlet.send == erosion_to_server)
        in.outlet_world->erosion->outlet = in.saved_outlet;
    in.outlet_world = nullptr;
    in.saved_outlet = erosion_outlet();
    if (w) {
        race_network& n = w->race.net;
        n.connected = false;
        n.race_slot = RACE_SLOTS;
        n.off_course_bias = 10.0f;
        n.off_course_scale = 1.5f;
    }
}

// Everything back to "not connecting".
void full_reset(net_session* s, world* w)
{
    net_close(s->socket);
    s->socket = -1;
    s->server_name[0] = 0;
    s->state = net_contacting;
    s->player_slot = NET_SLOTS;
    s->race_slot = NET_SLOTS;
    s->session_token = 0;
    s->race_id = 0;
    s->race_ticks = s->laps = s->start_tick = 0;
    s->next_out_sequence = 0;
    s->incoming_expected = 0;
    s->server_tick = s->server_tick_estimate = 0;
    s->reported_progress = 0;
    s->info_changed = false;
    s->last_send_time = 0;
    s->last_rider_info = NET_SLOTS;
    s->no_arcade = false;
    s->off_course_bias = 10.0f;
    s->off_course_scale = 1.5f;
    s->erosion_rate = -1;
    s->internal->outgoing.clear();
    s->internal->held.clear();
    s->internal->delayed.clear();
    net_upload_stop(s);
    restore_world(s, w);
}

bool has_bike(const world* w, int slot)
{
    return w && slot >= 0 && slot < RACE_SLOTS && w->race.slots[slot].b;
}

// Whole word after leading white space: the rest after it, or null.
const char* word_args(const char* text, const char* word)
{
    while (isspace(static_cast<unsigned char>(*text)))
        text++;
    const size_t n = strlen(word);
    if (strncmp(text, word, n) != 0)
        return nullptr;
    const char c = text[n];
    if (c != 0 && !isspace(static_cast<unsigned char>(c)))
        return nullptr;
    return text + n;
}

void force_arcade_off(world* w)
{
    if (!w)
        return;
    for (race_slot& slot : w->race.slots)
        if (slot.b && slot.driver != slot_driver_recorded)
            slot.b->arcade_flags &= static_cast<uint8_t>(~arcade_physics_on);
}

void text_command(net_session* s, const net_environment& env, const char* text)
{
    world* w = env.w;
    const char* args;
    float f = 0;
    if (strcmp(text, "no_arcade") == 0) {
        s->no_arcade = true;
        force_arcade_off(w);
        if (env.arcade_setup)
            add_message("Arcade physics disabled");
    } else if (sscanf(text, "off_course_bias %f", &f) == 1 && std::isfinite(f)) {
        // A NaN or infinity from the server would switch the off-course
        // rule off or make every rider off course.
        s->off_course_bias = f;
        if (w)
            w->race.net.off_course_bias = f;
    } else if (sscanf(text, "off_course_scale %f", &f) == 1 && std::isfinite(f)) {
        s->off_course_scale = f;
        if (w)
            w->race.net.off_course_scale = f;
    } else if ((args = word_args(text, "knockout"))) {
        // A value that does not parse repeats the one before it.
        long previous = 0;
        const char* p = args;
        bool parsing = true;
        for (int i = 0; i < 16; i++) {
            long v = previous;
            if (parsing) {
                char* end = nullptr;
                const long read = strtol(p, &end, 10);
                if (end == p)
                    parsing = false;
                else {
                    v = read;
                    p = end;
                }
            }
            v = v < 0 ? 0 : (v > long(CRASH_DELAY_MAX) ? long(CRASH_DELAY_MAX) : v);
            previous = v;
            s->knockout[i] = static_cast<int32_t>(v);
            if (w)
                set_crash_delay(&w->physics, i, static_cast<int>(v));
        }
    } else if ((args = word_args(text, "erode"))) {
        int id = 0, rate = 0;
        if (sscanf(args, "%d %d", &id, &rate) < 2) {
            add_message("Malformed erode command received");
        } else if (static_cast<uint32_t>(id) == s->race_id) {
            const int before = s->erosion_rate;
            s->erosion_rate = rate;
            if (w)
                w->race.erosion_amount = rate;
            if (w && !(before == -1 && rate == 0)) {
                char command[32];
                const int n = snprintf(command, sizeof command, "erode %d", rate);
                write_demo_block(w, demo_block_command, command, static_cast<uint32_t>(n));
            }
        }
    } else if (strcmp(text, "sendready") == 0) {
        net_upload_ready(s);
    } else if (word_args(text, "senddenied")) {
        net_upload_denied(s);
    }
}

void apply_gate_table(net_session* s, world* w, const uint8_t* body, int length)
{
    net_gate_entry entries[NET_RELIABLE_BODY_MAX / NET_GATE_ENTRY_SIZE + 1];
    int count = 0;
    uint32_t race_id = 0;
    const int max = static_cast<int>(sizeof entries / sizeof entries[0]);
    if (!net_read_gate_table(body, length, &race_id, entries, max, &count) || race_id != s->race_id || !w)
        return;
    for (int i = 0; i < count; i++) {
        const net_gate_entry& e = entries[i];
        if (e.slot < 0 || e.slot >= NET_SLOTS || static_cast<uint32_t>(e.slot) == s->player_slot)
            continue;
        bike* b = w->race.slots[e.slot].b;
        // set_gate_time refuses an index outside the times' range, so a
        // hostile entry can never grow the table.
        if (!b || !set_gate_time(b, e.gate, e.tick))
            continue;
        set_gate_progress(b, e.gate + 1);
    }
    update_ranking(w);
}

void apply_command(net_session* s, const net_environment& env, uint8_t type, const uint8_t* body, int length)
{
    world* w = env.w;
    char text[NET_TEXT_MAX + 1];
    const int n = length < NET_TEXT_MAX ? length : NET_TEXT_MAX;
    int t = 0;
    for (; t < n && body[t]; t++)
        text[t] = static_cast<char>(body[t]);
    text[t] = 0;
    switch (type) {
    case net_r_chat:
        add_message("%s", text);
        if (w)
            write_demo_block(w, demo_block_message, text, static_cast<uint32_t>(t));
        break;
    case net_r_gate_times:
        apply_gate_table(s, w, body, length);
        break;
    case net_r_text:
        text_command(s, env, text);
        break;
    case net_r_erosion:
        if (length > 4 && net_get_u32(body) == s->race_id && w && w->erosion && w->track.loaded) {
            erode_message_enqueue(w->erosion, body + 4, length - 4, w->track.heightfield.extent);
            write_demo_block(w, demo_block_terrain, body + 4, static_cast<uint32_t>(length - 4));
        }
        break;
    default:
        break;
    }
}

void handle_reliable(net_session* s, const net_environment& env, const uint8_t* data, int length)
{
    net_reliable r;  // large; the session runs on one thread
    if (!net_read_server_reliable(data, length, &r))
        return;
    const int32_t ahead = static_cast<int32_t>(r.sequence - s->incoming_expected);
    net_session_internal& in = *s->internal;
    // Commands too far ahead are neither held nor acknowledged: the server
    // sends them again once the ones before have arrived.
    if (ahead >= NET_HELD_MAX)
        return;
    uint8_t ack[16];
    send_bytes(s, ack, net_write_client_ack(ack, head_of(s, net_c_ack), r.sequence));
    if (ahead < 0)
        return;
    if (ahead > 0) {
        if (!in.held.count(r.sequence)) {
            net_held& h = in.held[r.sequence];
            h.type = r.type;
            h.body.assign(r.body, r.body + r.body_length);
        }
        return;
    }
    s->incoming_expected++;
    apply_command(s, env, r.type, r.body, r.body_length);
    // A command may reset the session (nothing does today, but keep the
    // walk safe): stop when the held ones are gone.
    while (!in.held.empty() && in.held.begin()->first == s->incoming_expected) {
        net_held h = in.held.begin()->second;
        in.held.erase(in.held.begin());
        s->incoming_expected++;
        apply_command(s, env, h.type, h.body.data(), static_cast<int>(h.body.size()));
    }
}

bool find_track(const char* name, char* dir, int size)
{
    if (g_track_list.count == 0)
        track_list_build(0);
    int i = track_list_find(name);
    for (int k = 0; i < 0 && k < g_track_list.count; k++)
        if (strcmp(g_track_list.dirs[k], name) == 0)
            i = k;
    if (i < 0)
        return false;
    copy_text(dir, size, g_track_list.dirs[i]);
    return true;
}

void handle_track_info(net_session* s, const net_environment& env, const uint8_t* data, int length)
{
    net_track_info t;
    if (!net_read_track_info(data, length, &t))
        return;
    if (s->race_id != 0 && t.race_id != s->race_id)
        return;
    s->race_id = t.race_id;
    s->race_ticks = t.race_ticks;
    s->laps = t.laps;
    s->start_tick = t.start_tick;
    memcpy(s->server_hash, t.hash, NET_TRACK_HASH_SIZE);
    char dir[RACE_TRACK_NAME_MAX + 1];
    if (!find_track(t.track, dir, sizeof dir)) {
        add_message("Can't find track '%.150s'\n", t.track);
        s->state = net_disconnecting;
        return;
    }
    copy_text(s->track, sizeof s->track, dir);
    s->state = net_acknowledging_track;
    s->last_send_time = 0;
    clear_slots(s);
    if (env.w) {
        clear_state_histories(env.w);
        for (int& u : env.w->race.net.update_tick)
            u = -1;
    }
    s->race_slot = NET_SLOTS;
    s->last_rider_info = NET_SLOTS;
    s->server_tick = s->server_tick_estimate = 0;
    s->reported_progress = 0;
}

void handle_rider_info(net_session* s, const uint8_t* data, int length)
{
    net_rider_info r;
    if (!net_read_rider_info(data, length, net_s_rider_info, &r) || r.race_id != s->race_id)
        return;
    if (r.slot < 0 || r.slot >= NET_SLOTS)
        return;
    const uint32_t slot = static_cast<uint32_t>(r.slot);
    if (s->last_rider_info != NET_SLOTS && s->last_rider_info >= slot)
        return;
    net_parse_client_info(r.text, static_cast<int>(strlen(r.text)), &s->slots[slot].rider);
    s->slots[slot].known = true;
    s->last_rider_info = slot;
    s->internal->lineup[slot] = lineup_remote;
    s->state = net_acknowledging_riders;
    s->last_send_time = 0;
}

void handle_start(net_session* s, const net_environment& env, const uint8_t* data, int length)
{
    net_rider_info r;
    if (!net_read_rider_info(data, length, net_s_start, &r) || r.race_id != s->race_id)
        return;
    net_session_internal& in = *s->internal;
    const bool own = s->player_slot < NET_SLOTS;
    if (own) {
        in.lineup[s->player_slot] = lineup_player;
        net_parse_client_info(r.text, static_cast<int>(strlen(r.text)), &s->slots[s->player_slot].rider);
        s->slots[s->player_slot].known = true;
    }
    s->race_slot = r.slot >= 0 && r.slot < NET_SLOTS ? r.slot : NET_SLOTS;
    // Ruts dug in the previous race go with a fresh copy of the track: a
    // player who joins now loads it untouched, and every terrain must agree.
    const bool dug = s->erosion_rate > 0;
    s->erosion_rate = -1;
    s->state = net_waiting_start;
    s->last_send_time = 0;
    world* w = env.w;
    if (!w)
        return;
    race_network& n = w->race.net;
    n.connected = true;
    n.race_slot = s->race_slot;
    n.start_tick = s->start_tick;
    copy_text(n.track, sizeof n.track, s->track);
    n.off_course_bias = s->off_course_bias;
    n.off_course_scale = s->off_course_scale;
    n.reload_track = n.reload_track || dug;
    for (int& u : n.update_tick)
        u = -1;
    for (int slot = 0; slot < NET_SLOTS; slot++) {
        s->slots[slot].newest_tick = -1;
        if (in.lineup[slot] == lineup_remote)
            w->race.slots[slot].rider = s->slots[slot].rider;
    }
    const bool loaded = world_reset(w, in.lineup, nullptr, env.record_demo, s->race_ticks, s->laps, 0);
    w->race.erosion_amount = -1;
    install_outlet(s, w);
    if (s->no_arcade)
        force_arcade_off(w);
    if (!loaded || memcmp(s->server_hash, w->track.digest, NET_TRACK_HASH_SIZE) != 0) {
        add_message("Client track modified - does not match server's track (%.100s)\n", s->track);
        s->state = net_disconnecting;
    }
}

// The round trip of an echoed tick. A hostile or garbled echo must not
// overflow the subtraction; the wrapped difference is as wrong as the echo.
int32_t ping_from_echo(int tick, int32_t echo)
{
    return static_cast<int32_t>(static_cast<uint32_t>(tick) - static_cast<uint32_t>(echo));
}

void handle_clock(net_session* s, const net_environment& env, const uint8_t* data, int length, uint8_t type)
{
    net_clock c;
    if (!net_read_clock(data, length, type, &c) || c.race_id != s->race_id)
        return;
    world* w = env.w;
    const int tick = w ? w->race.tick : 0;
    for (int i = 0; i < c.records_read; i++) {
        const net_state_record& rec = c.records[i];
        if (c.echo != 0 && s->player_slot < NET_SLOTS)
            s->slots[s->player_slot].ping_ticks = ping_from_echo(tick, c.echo);
        const int slot = rec.slot;
        if (slot >= NET_SLOTS || !w || !race_slot_recorded(w, slot) || !has_bike(w, slot))
            continue;
        net_slot_info& info = s->slots[slot];
        if (rec.tick <= info.newest_tick)
            continue;
        info.newest_tick = rec.tick;
        info.ping_ticks = rec.ping;
        add_state_to_history(w, slot, rec.state, rec.tick);
        w->race.net.update_tick[slot] = w->race.tick;
    }
    if (c.short_records) {
        add_message("State packet too small");
        return;
    }
    if (type == net_s_clock && c.echo != 0 && s->player_slot < NET_SLOTS)
        s->slots[s->player_slot].ping_ticks = ping_from_echo(tick, c.echo);
    if (s->server_tick == 0 && w)
        w->race.tick = c.server_tick;
    if (c.server_tick > s->server_tick) {
        s->server_tick = c.server_tick;
        s->server_tick_estimate = c.server_tick;
    }
    if (s->state != net_running) {
        const int minutes = (s->race_ticks / RACE_TICKS_PER_SECOND + 30) / 60;
        if (s->race_ticks == 0)
            add_message("%d laps", s->laps);
        else if (s->laps)
            add_message("%d minutes + %d laps", minutes, s->laps);
        else
            add_message("%d minutes", minutes);
        s->state = net_running;
    }
}

void erosion_to_server(void* context, const uint8_t* message, int length)
{
    net_session* s = static_cast<net_session*>(context);
    if (length <= 0 || length > NET_RELIABLE_BODY_MAX - 4)
        return;
    uint8_t body[NET_RELIABLE_BODY_MAX];
    net_put_u32(body, s->race_id);
    memcpy(body + 4, message, length);
    net_send_reliable(s, net_r_erosion, body, length + 4);
}

void queue_client_info(net_session* s, const rider_strings& player)
{
    char text[NET_RELIABLE_INFO_ROOM];
    const int n = net_format_client_info(player, text, NET_RELIABLE_INFO_ROOM);
    net_send_reliable(s, net_r_client_info, text, n);
}

void periodic_send(net_session* s, const net_environment& env)
{
    world* w = env.w;
    uint8_t buf[NET_DATAGRAM_MAX];
    switch (s->state) {
    case net_contacting: {
        add_message("Contacting server\n");
        net_contact c;
        c.password = env.password && env.password[0];
        c.nonce = s->client_nonce;
        send_bytes(s, buf, net_write_contact(buf, c));
        break;
    }
    case net_sending_client_info: {
        add_message("Sending client info\n");
        net_client_info ci;
        ci.head = head_of(s, net_c_client_info);
        net_password_proof(env.password, s->session_token, ci.proof);
        ci.nonce = s->client_nonce;
        net_format_client_info(env.player, ci.text, NET_CLIENT_INFO_ROOM);
        send_bytes(s, buf, net_write_client_info(buf, ci));
        break;
    }
    case net_acknowledging_track:
        add_message("Sending track acknowledgment\n");
        send_simple(s, net_c_track_ack, s->race_id);
        break;
    case net_acknowledging_riders:
        add_message("Sending bike acknowledgment %d\n", static_cast<int>(s->last_rider_info));
        send_simple(s, net_c_rider_ack, s->race_id, s->last_rider_info);
        break;
    case net_waiting_start:
        send_simple(s, net_c_ready, s->race_id);
        break;
    case net_running: {
        const bike* b = w && s->player_slot < NET_SLOTS ? w->race.slots[s->player_slot].b : nullptr;
        if (b && b->gate_progress != s->reported_progress) {
            s->reported_progress = b->gate_progress;
            uint8_t body[16];
            const int gate = b->gate_progress - 1;
            const int n = net_write_gate_time(body, s->race_id, gate, gate_time(b, gate));
            net_send_reliable(s, net_r_gate_times, body, n);
        }
        if (b && s->race_slot < NET_SLOTS && w->race.tick % 4 == 0) {
            net_own_state os;
            os.head = head_of(s, net_c_own_state);
            os.race_id = s->race_id;
            os.server_tick = s->server_tick;
            os.tick = w->race.tick;
            encode_bike_snapshot(b, demo_terrain(w), &os.state);
            send_bytes(s, buf, net_write_own_state(buf, os));
        }
        if (s->info_changed && !env.info_menu_open) {
            queue_client_info(s, env.player);
            s->info_changed = false;
        }
        break;
    }
    case net_restarting:
        add_message("Sending restart\n");
        send_simple(s, net_c_restart_ack, s->race_id);
        break;
    case net_disconnecting: {
        add_message("Disconnecting\n");
        net_client_simple c;
        c.head = head_of(s, net_c_disconnect);
        send_bytes(s, buf, net_write_client_simple(buf, c));
        break;
    }
    }
}

void start_connection(net_session* s, const net_environment& env)
{
    if (!g_net_fixed_files_ok) {
        add_message("Fixed file mismatch\n");
        s->server_name[0] = 0;
        return;
    }
    if (!net_resolve(&s->server, s->server_name, NET_DEFAULT_PORT)) {
        add_message("Can't resolve address\n");
        s->server_name[0] = 0;
        return;
    }
    s->socket = net_open_socket();
    if (s->socket < 0) {
        add_message("Can't create socket\n");
        s->server_name[0] = 0;
        return;
    }
    s->state = net_contacting;
    timeval tv;
    gettimeofday(&tv, nullptr);
    s->client_nonce = static_cast<uint32_t>(tv.tv_usec) * 1103515245u + 12345u;
    s->last_send_time = env.now;
    periodic_send(s, env);
}

// A datagram that survived "--fake-loss", or every one without it.
void take_datagram(net_session* s, const net_environment& env, const uint8_t* data, int length,
                   const net_address& from)
{
    if (!net_same_address(from, s->server))
        return;
    net_handle_datagram(s, env, data, length);
}

void receive_all(net_session* s, const net_environment& env)
{
    net_session_internal& in = *s->internal;
    const bool faking = s->fake_lag > 0 || s->fake_loss > 0;
    uint8_t buf[NET_DATAGRAM_MAX];
    for (;;) {
        if (s->socket < 0)
            return;
        net_address from;
        const int n = net_receive(s->socket, buf, sizeof buf, &from);
        if (n < 0)
            break;
        if (!faking) {
            take_datagram(s, env, buf, n, from);
            continue;
        }
        if (static_cast<int>(in.loss_generator() & 0x7fff) < s->fake_loss * 327 ||
            static_cast<int>(in.delayed.size()) >= NET_FAKE_QUEUE)
            continue;
        in.delayed.emplace_back();
        net_delayed& d = in.delayed.back();
        d.arrival = env.now;
        d.length = n;
        d.from = from;
        memcpy(d.bytes, buf, n);
    }
    const char* e = net_last_error();
    if (e)
        add_message("%s", e);
    while (s->socket >= 0 && !in.delayed.empty() && in.delayed.front().arrival + s->fake_lag <= env.now) {
        net_delayed d = in.delayed.front();
        in.delayed.pop_front();
        take_datagram(s, env, d.bytes, d.length, d.from);
    }
}

}  // namespace

net_session* net_session_create()
{
    net_session* s = new net_session;
    s->internal = new net_session_internal;
    return s;
}

void net_session_destroy(net_session* s)
{
    if (!s)
        return;
    net_upload_stop(s);
    restore_world(s, nullptr);
    net_close(s->socket);
    delete s->internal;
    delete s;
}

void net_connect(net_session* s, const char* name)
{
    copy_text(s->server_name, sizeof s->server_name, name);
}

void net_handle_datagram(net_session* s, const net_environment& env, const uint8_t* data, int length)
{
    if (!data || length < 1)
        return;
    if (length > NET_DATAGRAM_MAX)
        length = NET_DATAGRAM_MAX;
    const uint8_t type = data[0];
    const bool slotless = s->player_slot >= NET_SLOTS;
    switch (type) {
    case net_s_full:
        add_message("Server is full\n");
        break;
    case net_s_accept: {
        net_accept a;
        if (s->state != net_contacting || !net_read_accept(data, length, &a))
            break;
        s->player_slot = a.slot < uint32_t(NET_SLOTS) ? a.slot : uint32_t(NET_SLOTS);
        s->session_token = a.token;
        s->last_send_time = 0;
        if (a.version != NET_PROTOCOL_VERSION) {
            add_message("Server version does not match client version\n");
            s->state = net_disconnecting;
        } else {
            s->state = net_sending_client_info;
        }
        break;
    }
    case net_s_track_info:
        if (!slotless && (s->state == net_sending_client_info || s->state == net_restarting))
            handle_track_info(s, env, data, length);
        break;
    case net_s_rider_info:
        if (!slotless && (s->state == net_acknowledging_track || s->state == net_acknowledging_riders))
            handle_rider_info(s, data, length);
        break;
    case net_s_start:
        if (!slotless && (s->state == net_acknowledging_track || s->state == net_acknowledging_riders))
            handle_start(s, env, data, length);
        break;
    case net_s_clock:
    case net_s_states:
        if (!slotless && (s->state == net_waiting_start || s->state == net_running))
            handle_clock(s, env, data, length, type);
        break;
    case net_s_restart: {
        uint32_t id = 0;
        if (!slotless && (s->state == net_waiting_start || s->state == net_running) &&
            net_read_server_value(data, length, type, &id) && id > s->race_id) {
            s->race_id = id;
            s->state = net_restarting;
            s->last_send_time = 0;
        }
        break;
    }
    case net_s_disconnected:
        add_message("Disconnected\n");
        full_reset(s, env.w);
        break;
    case net_s_farewell: {
        char text[NET_TEXT_MAX + 1];
        if (net_read_farewell(data, length, text, sizeof text)) {
            add_message("%s", text);
            s->state = net_disconnecting;
        }
        break;
    }
    case net_s_reliable:
        handle_reliable(s, env, data, length);
        break;
    case net_s_ack: {
        uint32_t sequence = 0;
        if (net_read_server_ack(data, length, &sequence) && !s->internal->outgoing.empty() &&
            s->internal->outgoing.front().sequence == sequence)
            s->internal->outgoing.pop_front();
        break;
    }
    case net_s_redirect: {
        uint32_t nonce = 0;
        char name[NET_SERVER_NAME_MAX + 1];
        if (s->state == net_contacting && net_read_redirect(data, length, &nonce, name, sizeof name) &&
            nonce == s->client_nonce) {
            full_reset(s, env.w);
            copy_text(s->server_name, sizeof s->server_name, name);
        }
        break;
    }
    default:
        break;
    }
}

void net_tick(net_session* s, const net_environment& env)
{
    if (!s->server_name[0])
        return;
    if (s->socket < 0) {
        start_connection(s, env);
        return;
    }
    if (s->server_tick_estimate > 0)
        s->server_tick_estimate++;
    receive_all(s, env);
    if (s->socket < 0)
        return;
    net_upload_tick(s, env.now);
    net_session_internal& in = *s->internal;
    if (!in.outgoing.empty() && env.now >= in.outgoing.front().resend_time) {
        net_outgoing& o = in.outgoing.front();
        net_reliable r;
        r.head = head_of(s, net_c_reliable);
        r.sequence = o.sequence;
        r.type = o.type;
        r.body_length = o.body_length;
        memcpy(r.body, o.body, o.body_length);
        uint8_t buf[NET_DATAGRAM_MAX];
        send_bytes(s, buf, net_write_client_reliable(buf, r));
        o.resend_time = env.now + k_resend_seconds;
    }
    if (s->state == net_running || env.now - s->last_send_time >= 1.0) {
        s->last_send_time = env.now;
        periodic_send(s, env);
    }
}

void net_disconnect_now(net_session* s, world* w)
{
    if (s->socket >= 0) {
        net_client_simple c;
        c.head = head_of(s, net_c_disconnect);
        uint8_t buf[16];
        const int n = net_write_client_simple(buf, c);
        if (net_send(s->socket, buf, n, s->server) < 0) {
            const char* e = net_last_error();
            add_message("sendto error (%.100s)", e ? e : "unknown");
        } else {
            add_message("Disconnecting\n");
        }
    }
    full_reset(s, w);
}

void net_leave(net_session* s, world* w)
{
    if (s->state != net_contacting) {
        s->state = net_disconnecting;
        s->last_send_time = 0;
        return;
    }
    add_message("Disconnected\n");
    full_reset(s, w);
}

void net_request_restart(net_session* s)
{
    if (s->state != net_running)
        return;
    send_simple(s, net_c_restart_request, 1);
    add_message("Requesting restart\n");
}

bool net_send_reliable(net_session* s, uint8_t type, const void* body, int length)
{
    if (s->socket < 0) {
        add_message("Not connected to server");
        return false;
    }
    net_session_internal& in = *s->internal;
    // A server that stops acknowledging must not make the queue grow
    // without end: later messages are refused.
    if (static_cast<int>(in.outgoing.size()) >= NET_OUTGOING_MAX)
        return false;
    in.outgoing.emplace_back();
    net_outgoing& o = in.outgoing.back();
    o.sequence = s->next_out_sequence++;
    o.type = type;
    o.body_length = length < 0 ? 0 : (length > NET_RELIABLE_BODY_MAX ? NET_RELIABLE_BODY_MAX : length);
    if (o.body_length > 0)
        memcpy(o.body, body, o.body_length);
    o.resend_time = 0;
    return true;
}

void net_chat(net_session* s, const char* text)
{
    net_send_reliable(s, net_r_chat, text, static_cast<int>(strnlen(text, NET_RELIABLE_BODY_MAX)));
}

bool net_connected(const net_session* s)
{
    return s->socket >= 0;
}

bool net_ping(const net_session* s, int tick, int* ping_ms, int* offset_ms)
{
    if (s->player_slot >= NET_SLOTS)
        return false;
    *ping_ms = static_cast<int>(static_cast<long long>(s->slots[s->player_slot].ping_ticks) * 1000 /
                                RACE_TICKS_PER_SECOND);
    *offset_ms = static_cast<int>((static_cast<long long>(s->server_tick_estimate) - tick) * 1000 /
                                  RACE_TICKS_PER_SECOND);
    return true;
}

bool net_race_started(const net_session* s)
{
    return s->state == net_running && s->server_tick_estimate >= s->start_tick;
}

int net_outgoing_count(const net_session* s)
{
    return static_cast<int>(s->internal->outgoing.size());
}

int net_held_count(const net_session* s)
{
    return static_cast<int>(s->internal->held.size());
}
