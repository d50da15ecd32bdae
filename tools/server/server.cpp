// The race server's peers: the socket, who is who (address, slot, token),
// the contact and the client information, disconnects, silent and flooding
// peers, and the dispatch of every datagram to the race or the reliable
// channel.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <random>

#include "server_internal.h"
#include "track/track.h"

namespace {

void socket_send(void* context, const uint8_t* bytes, int length, const net_address& to)
{
    server* s = static_cast<server*>(context);
    if (s->socket >= 0)
        net_send(s->socket, bytes, length, to);
}

bool banned(server* s, const net_address& a)
{
    for (ban_entry& b : s->bans)
        if (b.until > s->now && net_same_address(b.address, a))
            return true;
    return false;
}

void ban(server* s, const net_address& a, double seconds)
{
    ban_entry* slot = &s->bans[0];
    for (ban_entry& b : s->bans)
        if (b.until < slot->until)
            slot = &b;
    slot->address = a;
    slot->until = s->now + seconds;
}

peer* peer_of_address(server* s, const net_address& a)
{
    for (peer& p : s->peers)
        if (p.used && net_same_address(p.address, a))
            return &p;
    return nullptr;
}

// The peer a datagram's head names, when its token and address agree.
peer* peer_of_head(server* s, const net_client_head& h, const net_address& from)
{
    if (h.slot >= NET_SLOTS)
        return nullptr;
    peer* p = &s->peers[h.slot];
    if (!p->used || p->token != h.token || !net_same_address(p->address, from))
        return nullptr;
    return p;
}

// A free player slot. Slots that rode in the current race stay reserved
// for its classification until the race ends.
int free_slot(const server* s)
{
    for (int i = 0; i < NET_SLOTS; i++)
        if (!s->peers[i].used && !(s->race.active && s->race.racers[i].used))
            return i;
    return -1;
}

void send_accept(server* s, peer* p)
{
    uint8_t out[NET_DATAGRAM_MAX];
    net_accept a;
    a.slot = (uint32_t)p->slot;
    a.token = p->token;
    server_send_to(s, p, out, net_write_accept(out, a));
}

void send_farewell(server* s, const net_address& to, const char* text)
{
    uint8_t out[NET_DATAGRAM_MAX];
    server_send(s, to, out, net_write_farewell(out, text));
}

void handle_contact(server* s, const uint8_t* data, int length, const net_address& from)
{
    net_contact c;
    if (!net_read_contact(data, length, &c))
        return;
    if (peer* p = peer_of_address(s, from)) {
        // The same contact again (our accept was lost): the same answer.
        if (p->nonce == c.nonce) {
            p->last_heard = s->now;
            send_accept(s, p);
            return;
        }
        // The same address with a new nonce: that player started afresh.
        server_drop_peer(s, p, "reconnected", false);
    }
    if (c.version != NET_CLIENT_VERSION) {
        char text[96];
        snprintf(text, sizeof text, "Client version %u does not match the server's (%d)", c.version,
                 NET_CLIENT_VERSION);
        send_farewell(s, from, text);
        return;
    }
    const int slot = server_peer_count(s) < s->o.max_players ? free_slot(s) : -1;
    if (slot < 0) {
        uint8_t out[1];
        server_send(s, from, out, net_write_server_type(out, net_s_full));
        return;
    }
    peer& p = s->peers[slot];
    p = peer();
    p.used = true;
    p.slot = slot;
    p.address = from;
    p.nonce = c.nonce;
    do
        p.token = s->rng();
    while (p.token == 0);
    p.joined = p.last_heard = p.flood_window = s->now;
    send_accept(s, &p);
}

// Keeps printable characters only: names and chat end up in every
// player's messages and in the log.
void clean_text(char* text)
{
    for (char* c = text; *c; c++)
        if ((unsigned char)*c < 32 || *c == 127)
            *c = ' ';
}

void handle_client_info(server* s, peer* p, const uint8_t* data, int length)
{
    net_client_info ci;
    if (!net_read_client_info(data, length, &ci))
        return;
    if (p->stage != stage_info) {
        // Our track information was lost: the race answers again.
        if (p->stage == stage_track)
            race_on_stale(s, p);
        return;
    }
    if (ci.nonce != p->nonce)
        return;
    uint8_t proof[4];
    net_password_proof(s->o.password.c_str(), p->token, proof);
    if (memcmp(proof, ci.proof, 4) != 0) {
        const net_address a = p->address;
        server_drop_peer(s, p, s->o.password.empty() ? "unexpected password" : "wrong password", false);
        send_farewell(s, a,
                      s->o.password.empty() ? "This server has no password" : "Wrong server password");
        return;
    }
    const int length_text = (int)strnlen(ci.text, sizeof ci.text);
    net_parse_client_info(ci.text, length_text, &p->rider);
    clean_text(p->rider.name);
    clean_text(p->rider.number);
    if (!p->rider.name[0])
        snprintf(p->rider.name, sizeof p->rider.name, "Rider %d", p->slot);
    net_format_client_info(p->rider, p->info_text, NET_CLIENT_INFO_ROOM);
    p->have_info = true;
    char address[32];
    net_format_address(p->address, address, sizeof address);
    server_log("join slot=%d name=\"%s\" number=\"%s\" model=\"%s\" address=%s", p->slot, p->rider.name,
               p->rider.number, p->rider.model, address);
    race_peer_joined(s, p);
}

// Counts a peer's datagram; true when it floods (it is then dropped).
bool floods(server* s, peer* p)
{
    if (s->now - p->flood_window >= 1.0) {
        p->flood_window = s->now;
        p->flood_count = 0;
    }
    if (++p->flood_count <= SERVER_FLOOD_DATAGRAMS)
        return false;
    const net_address a = p->address;
    server_drop_peer(s, p, "flooding", true);
    ban(s, a, 10.0);
    return true;
}

void check_timeouts(server* s)
{
    for (peer& p : s->peers) {
        if (!p.used)
            continue;
        // A player riding the warm-up beside a race sends nothing by
        // design; its silence is judged once the next race asks it back
        // (the asking, in this step's race timers, restarts its clock).
        const bool silent_by_design =
            p.stage == stage_ready && s->race.active &&
            (p.race_serial != s->race.serial || !s->race.racers[p.slot].used);
        if (!silent_by_design && s->now - p.last_heard > s->o.timeout)
            server_drop_peer(&*s, &p, "timed out", true);
    }
}

// A "stats" line every --stats seconds: the players, the traffic since
// the previous line per second, and the totals (datagrams in and out).
void log_stats(server* s)
{
    if (s->o.stats <= 0)
        return;
    if (s->next_stats <= 0) {
        s->next_stats = s->now + s->o.stats;
        s->stats_last_time = s->now;
        s->stats_last = s->counters;
        return;
    }
    if (s->now < s->next_stats)
        return;
    const double span = s->now - s->stats_last_time;
    const server_counters& c = s->counters;
    const server_counters& l = s->stats_last;
    server_log("stats peers=%d in_per_s=%.0f out_per_s=%.0f in_bytes_per_s=%.0f out_bytes_per_s=%.0f "
               "in=%ld out=%ld ignored=%ld",
               server_peer_count(s), (c.datagrams_in - l.datagrams_in) / span,
               (c.datagrams_out - l.datagrams_out) / span, (c.bytes_in - l.bytes_in) / span,
               (c.bytes_out - l.bytes_out) / span, c.datagrams_in, c.datagrams_out, c.ignored_in);
    s->stats_last = c;
    s->stats_last_time = s->now;
    s->next_stats = s->now + s->o.stats;
}

}  // namespace

// ---- shared ---------------------------------------------------------------------

bool g_server_quiet = false;

void server_log(const char* format, ...)
{
    if (g_server_quiet)
        return;
    char line[2048];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof line, format, args);
    va_end(args);
    fprintf(stdout, "%s\n", line);
    fflush(stdout);
}

void server_send(server* s, const net_address& to, const uint8_t* bytes, int length)
{
    if (length > 0 && length <= NET_DATAGRAM_MAX && s->sender.send) {
        s->counters.datagrams_out++;
        s->counters.bytes_out += length;
        s->sender.send(s->sender.context, bytes, length, to);
    }
}

void server_send_to(server* s, peer* p, const uint8_t* bytes, int length)
{
    server_send(s, p->address, bytes, length);
}

int server_peer_count(const server* s)
{
    int n = 0;
    for (const peer& p : s->peers)
        n += p.used ? 1 : 0;
    return n;
}

void server_drop_peer(server* s, peer* p, const char* reason, bool farewell)
{
    if (!p->used)
        return;
    if (farewell) {
        char text[96];
        snprintf(text, sizeof text, "Disconnected by the server (%s)", reason);
        send_farewell(s, p->address, text);
    }
    upload_abort(s, p);
    server_log("leave slot=%d name=\"%s\" reason=%s", p->slot, p->have_info ? p->rider.name : "", reason);
    race_peer_left(s, p);
    *p = peer();
}

// ---- the public interface ----------------------------------------------------------

server* server_create(const server_options& options, std::string* why, bool with_socket)
{
    server* s = new server();
    s->o = options;
    g_server_quiet = options.quiet;
    std::random_device device;
    s->rng.seed(((uint32_t)device() << 1) ^ (uint32_t)device());
    s->sender.context = s;
    s->sender.send = socket_send;
    if (!race_setup_rotation(s, why)) {
        delete s;
        return nullptr;
    }
    if (with_socket) {
        s->socket = net_open_bound_socket(options.port);
        if (s->socket < 0) {
            *why = "can't open UDP port " + std::to_string(options.port) + " (" +
                   (net_last_error() ? net_last_error() : "unknown error") + ")";
            delete s;
            return nullptr;
        }
    }
    return s;
}

void server_destroy(server* s)
{
    if (!s)
        return;
    for (peer& p : s->peers)
        if (p.used)
            upload_abort(s, &p);
    race_unload(s);
    if (s->socket >= 0)
        net_close(s->socket);
    delete s;
}

int server_port(const server* s)
{
    return s->socket >= 0 ? net_local_port(s->socket) : 0;
}

net_socket server_socket(const server* s)
{
    return s->socket;
}

void server_set_sender(server* s, const server_sender& sender)
{
    s->sender = sender;
}

void server_handle_datagram(server* s, const uint8_t* data, int length, const net_address& from, double now)
{
    if (now > s->now)
        s->now = now;
    s->counters.datagrams_in++;
    s->counters.bytes_in += length > 0 ? length : 0;
    if (length < 1 || length > NET_DATAGRAM_MAX || banned(s, from)) {
        s->counters.ignored_in++;
        return;
    }
    const uint8_t type = data[0];
    net_client_head head;
    peer* p = nullptr;
    if (type != net_c_contact && net_read_client_head(data, length, &head))
        p = peer_of_head(s, head, from);
    if (!p) {
        // Strangers get a fixed budget, so a storm of contacts cannot
        // starve the players.
        if (s->now - s->unknown_window >= 1.0) {
            s->unknown_window = s->now;
            s->unknown_count = 0;
        }
        if (++s->unknown_count > SERVER_UNKNOWN_PER_SECOND) {
            s->counters.ignored_in++;
            return;
        }
        if (type == net_c_contact) {
            handle_contact(s, data, length, from);
        } else if (type == net_c_disconnect) {
            // Always answered, so a client that lost its session stops asking.
            uint8_t out[1];
            server_send(s, from, out, net_write_server_type(out, net_s_disconnected));
        }
        return;
    }
    if (floods(s, p))
        return;
    p->last_heard = s->now;
    net_client_simple simple;
    switch (type) {
    case net_c_client_info:
        handle_client_info(s, p, data, length);
        break;
    case net_c_track_ack:
        if (net_read_client_simple(data, length, &simple))
            race_on_track_ack(s, p, simple.value);
        break;
    case net_c_rider_ack:
        if (net_read_client_simple(data, length, &simple))
            race_on_rider_ack(s, p, simple.value, simple.last_rider);
        break;
    case net_c_ready:
        if (net_read_client_simple(data, length, &simple))
            race_on_ready(s, p, simple.value);
        break;
    case net_c_own_state: {
        net_own_state st;
        if (net_read_own_state(data, length, &st))
            race_on_own_state(s, p, st);
        break;
    }
    case net_c_restart_request:
        if (net_read_client_simple(data, length, &simple) && simple.value == 1)
            race_on_restart_request(s, p);
        break;
    case net_c_restart_ack:
        if (net_read_client_simple(data, length, &simple))
            race_on_restart_ack(s, p, simple.value);
        break;
    case net_c_disconnect: {
        const net_address a = p->address;
        server_drop_peer(s, p, "disconnected", false);
        uint8_t out[1];
        server_send(s, a, out, net_write_server_type(out, net_s_disconnected));
        break;
    }
    case net_c_reliable: {
        static net_reliable r;  // large; the server runs on one thread
        if (net_read_client_reliable(data, length, &r))
            reliable_receive(s, p, r);
        break;
    }
    case net_c_ack: {
        net_client_head h;
        uint32_t sequence = 0;
        if (net_read_client_ack(data, length, &h, &sequence))
            reliable_acked(p, sequence);
        break;
    }
    default:
        break;
    }
}

void server_step(server* s, double now)
{
    if (now > s->now)
        s->now = now;
    if (s->socket >= 0) {
        uint8_t buffer[NET_DATAGRAM_MAX + 1];
        // Bounded, so that a storm cannot hold the timers back.
        for (int i = 0; i < 20000; i++) {
            net_address from;
            const int n = net_receive(s->socket, buffer, sizeof buffer, &from);
            if (n < 0)
                break;
            // A datagram longer than any the protocol has is not one of ours.
            if (n > NET_DATAGRAM_MAX)
                continue;
            server_handle_datagram(s, buffer, n, from, s->now);
        }
    }
    check_timeouts(s);
    race_step(s);
    for (peer& p : s->peers)
        if (p.used)
            reliable_pump(s, &p);
    log_stats(s);
}

server_counters server_get_counters(const server* s)
{
    return s->counters;
}

bool server_done(const server* s)
{
    if (!s->stopping)
        return false;
    if (s->now >= s->stop_at)
        return true;
    for (const peer& p : s->peers)
        if (p.used && !p.out.empty())
            return false;
    return true;
}

void server_shutdown(server* s)
{
    for (peer& p : s->peers)
        if (p.used) {
            uint8_t out[1];
            server_send_to(s, &p, out, net_write_server_type(out, net_s_disconnected));
            upload_abort(s, &p);
        }
}

void server_reset(server* s, uint32_t token_seed)
{
    for (peer& p : s->peers)
        if (p.used) {
            upload_abort(s, &p);
            p = peer();
        }
    const int serial = s->race.serial;
    s->race = race_record();
    s->race.serial = serial;
    for (ban_entry& b : s->bans)
        b = ban_entry();
    s->rng.seed(token_seed);
    s->unknown_count = 0;
}

void server_get_view(const server* s, double now, server_view* out)
{
    *out = server_view();
    (void)now;
    out->peers = server_peer_count(s);
    out->racing = s->race.active;
    out->race_tick = s->race.active ? race_tick(s) : 0;
    out->start_tick = s->race.start_tick;
    out->races_finished = s->races_ended;
    snprintf(out->track, sizeof out->track, "%s", s->track_name.c_str());
    for (int i = 0; i < NET_SLOTS; i++) {
        const peer& p = s->peers[i];
        server_peer_view& v = out->slots[i];
        v.used = p.used;
        if (!p.used)
            continue;
        v.slot = p.slot;
        v.stage = p.stage;
        v.race_id = p.race_id;
        const racer& r = s->race.racers[i];
        v.race_slot = s->race.active && r.used ? r.race_slot : NET_SLOTS;
        v.progress = r.used ? r.progress : 0;
        snprintf(v.name, sizeof v.name, "%s", p.rider.name);
    }
}
