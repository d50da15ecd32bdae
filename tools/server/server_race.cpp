// The server's races: the rotation of tracks, the lineup and its gate
// spots, the hand-over of a race to each player (track, riders one at a
// time, start), the clock and the riders' states at the state rate, the
// gate times that classify the race, erosion, restarts, and the end of a
// race with its result.
//
// Every player learns the lineup before its world is reset, so a rider who
// enters after a player took its start makes the server restart that
// player's race (a new race id on the same clock): every world then holds
// every rider.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <strings.h>

#include "race/gates.h"
#include "server_internal.h"
#include "track/erosion.h"
#include "track/track.h"

namespace {

// A rider is never faster than this between two gates (about 136 mph);
// times that say otherwise are forged or broken.
const float k_max_speed = 200.0f;

int racer_count(const server* s)
{
    int n = 0;
    for (const racer& r : s->race.racers)
        n += r.used && !r.left ? 1 : 0;
    return n;
}

bool member(const server* s, const peer& p)
{
    return p.used && p.stage == stage_ready && s->race.active && p.race_serial == s->race.serial;
}

// ---- tracks --------------------------------------------------------------------------

bool load_track(server* s, int rotation_index)
{
    const int list_index = s->rotation[(size_t)rotation_index];
    if (s->loaded && s->loaded_list_index == list_index)
        return true;
    race_unload(s);
    s->loaded = new track();
    if (!track_load(s->loaded, g_track_list.dirs[list_index], track_load_flags())) {
        server_log("track \"%s\" can't be loaded", g_track_list.names[list_index]);
        race_unload(s);
        return false;
    }
    s->loaded_list_index = list_index;
    s->track_name = g_track_list.names[list_index];
    const track_timing& t = s->loaded->timing_gates;
    gate_layout& g = s->gates;
    g = gate_layout();
    g.pieces = t.piece_count;
    if (t.piece_count > 0) {
        for (int i = 0; i < t.piece_count; i++) {
            g.start_x += t.pieces[i].position.x;
            g.start_z += t.pieces[i].position.z;
        }
        g.start_x /= (float)t.piece_count;
        g.start_z /= (float)t.piece_count;
        g.has_start = true;
    }
    return true;
}

// Loads the next track of the rotation that loads; false when none does.
bool next_track(server* s)
{
    const int n = (int)s->rotation.size();
    for (int tries = 0; tries < n; tries++) {
        const int index = s->rotation_next;
        s->rotation_next = (s->rotation_next + 1) % n;
        if (load_track(s, index))
            return true;
    }
    return false;
}

// ---- gate spots ---------------------------------------------------------------------

// The spot preference: the middle of the gate first, then outwards; past
// the gate's pieces the next row.
void spot_order(const server* s, int* order)
{
    const int pieces = std::min(s->gates.pieces, (int)SERVER_PLAYERS_MAX);
    int n = 0;
    if (pieces > 0) {
        for (int i = 0; i < pieces; i++)
            order[n++] = i;
        const float mid = 0.5f * (float)(pieces - 1);
        std::stable_sort(order, order + pieces,
                         [mid](int a, int b) { return std::fabs((float)a - mid) < std::fabs((float)b - mid); });
    }
    for (int i = n; i < SERVER_PLAYERS_MAX; i++)
        order[n++] = i;
}

int free_spot(const server* s)
{
    int order[SERVER_PLAYERS_MAX];
    spot_order(s, order);
    for (int spot : order) {
        bool taken = false;
        for (const racer& r : s->race.racers)
            taken = taken || (r.used && r.race_slot == spot);
        if (!taken)
            return spot;
    }
    return NET_SLOTS;
}

void add_racer(server* s, peer* p)
{
    racer& r = s->race.racers[p->slot];
    if (r.used)
        return;
    const int spot = free_spot(s);
    if (spot >= NET_SLOTS)
        return;
    r = racer();
    r.used = true;
    r.race_slot = spot;
    snprintf(r.name, sizeof r.name, "%s", p->rider.name);
}

// ---- datagrams to one peer ------------------------------------------------------------

void send_track_info(server* s, peer* p, bool new_id)
{
    if (new_id)
        p->race_id = s->next_race_id++;
    p->race_serial = s->race.serial;
    p->stage = stage_track;
    p->client_tick = 0;
    p->vote = false;
    memset(p->announced, 0, sizeof p->announced);
    static net_track_info t;
    t = net_track_info();
    t.race_id = p->race_id;
    t.race_ticks = s->o.minutes * 60 * SERVER_TICKS_PER_SECOND;
    t.laps = s->o.laps;
    t.start_tick = s->race.start_tick;
    memcpy(t.hash, s->loaded->digest, NET_TRACK_HASH_SIZE);
    snprintf(t.track, sizeof t.track, "%s", s->track_name.c_str());
    uint8_t out[NET_DATAGRAM_MAX];
    server_send_to(s, p, out, net_write_track_info(out, t));
}

void send_restart(server* s, peer* p)
{
    p->race_id = s->next_race_id++;
    p->stage = stage_restarting;
    p->last_restart_send = s->now;
    // A player that watched the last race from the warm-up said nothing
    // all along, rightly: its silence counts from this question on, not
    // from before, or it would be dropped the moment it is asked back.
    if (p->last_heard < s->now)
        p->last_heard = s->now;
    uint8_t out[16];
    server_send_to(s, p, out, net_write_server_value(out, net_s_restart, p->race_id));
}

void send_start(server* s, peer* p)
{
    const racer& r = s->race.racers[p->slot];
    // A handshake that began before this race rides beside it and is
    // restarted into it once its world is set up.
    const bool rides = p->race_serial == s->race.serial && r.used && !r.left;
    static net_rider_info info;
    info = net_rider_info();
    info.race_id = p->race_id;
    info.slot = rides ? r.race_slot : NET_SLOTS;
    snprintf(info.text, sizeof info.text, "%s", p->info_text);
    uint8_t out[NET_DATAGRAM_MAX];
    server_send_to(s, p, out, net_write_rider_info(out, net_s_start, info));
    p->stage = stage_started;
}

// The rider after slot `last` (NET_SLOTS: the first), or the start when
// every rider is out.
void send_next_rider(server* s, peer* p, uint32_t last)
{
    if (p->race_serial == s->race.serial) {
        const int from = last >= NET_SLOTS ? 0 : (int)last + 1;
        for (int slot = from; slot < NET_SLOTS; slot++) {
            const racer& r = s->race.racers[slot];
            const peer& q = s->peers[slot];
            if (slot == p->slot || !r.used || r.left || !q.used)
                continue;
            static net_rider_info info;
            info = net_rider_info();
            info.race_id = p->race_id;
            info.slot = slot;
            snprintf(info.text, sizeof info.text, "%s", q.info_text);
            uint8_t out[NET_DATAGRAM_MAX];
            server_send_to(s, p, out, net_write_rider_info(out, net_s_rider_info, info));
            p->stage = stage_riders;
            return;
        }
    }
    send_start(s, p);
}

void queue_gate_table(server* s, peer* p, const net_gate_entry* entries, int count)
{
    while (count > 0) {
        uint8_t body[NET_RELIABLE_BODY_MAX];
        const int chunk = std::min(count, (NET_RELIABLE_BODY_MAX - 8) / NET_GATE_ENTRY_SIZE);
        const int length = net_write_gate_table(body, p->race_id, entries, chunk);
        if (!reliable_queue(s, p, net_r_gate_times, body, length))
            return;
        entries += chunk;
        count -= chunk;
    }
}

// What a player needs once its world is set up: the race options, the
// erosion rate, and where every rider stands so far.
void welcome(server* s, peer* p)
{
    const int slot = p->slot;
    const uint32_t token = p->token;
    char text[256];
    if (s->o.no_arcade)
        reliable_queue_text(s, p, net_r_text, "no_arcade");
    snprintf(text, sizeof text, "off_course_bias %f", (double)s->o.off_course_bias);
    reliable_queue_text(s, p, net_r_text, text);
    snprintf(text, sizeof text, "off_course_scale %f", (double)s->o.off_course_scale);
    reliable_queue_text(s, p, net_r_text, text);
    if (!s->o.knockout.empty()) {
        snprintf(text, sizeof text, "knockout %s", s->o.knockout.c_str());
        reliable_queue_text(s, p, net_r_text, text);
    }
    snprintf(text, sizeof text, "erode %d %d", (int)p->race_id, s->o.erode);
    reliable_queue_text(s, p, net_r_text, text);
    if (!s->peers[slot].used || s->peers[slot].token != token)
        return;
    std::vector<net_gate_entry> entries;
    for (int i = 0; i < NET_SLOTS; i++) {
        const racer& r = s->race.racers[i];
        if (!r.used || r.progress <= 0 || i == slot)
            continue;
        net_gate_entry e;
        e.slot = i;
        e.gate = r.progress - 1;
        e.tick = r.times[(size_t)(r.progress - 1)];
        entries.push_back(e);
    }
    queue_gate_table(s, p, entries.data(), (int)entries.size());
}

// ---- a race's life ----------------------------------------------------------------------

void start_race(server* s, bool same_track)
{
    if (!(same_track && s->loaded) && !next_track(s)) {
        s->race.active = false;
        for (peer& p : s->peers)
            if (p.used && p.have_info)
                server_drop_peer(s, &p, "no track can be loaded", true);
        return;
    }
    race_record& r = s->race;
    const int serial = r.serial + 1;
    r = race_record();
    r.serial = serial;
    r.active = true;
    r.origin = s->now;
    const int countdown = (int)std::lround(s->o.countdown * SERVER_TICKS_PER_SECOND);
    r.start_tick = 1 + countdown;
    // Late entries restart everybody's race; keep the last seconds calm.
    r.entry_close_tick = r.start_tick - std::min(3 * SERVER_TICKS_PER_SECOND, countdown / 2);
    r.race_laps = s->o.minutes > 0 ? 0 : s->o.laps;
    for (peer& p : s->peers)
        if (p.used && p.have_info)
            add_racer(s, &p);
    s->next_state_time = s->now;
    server_log("race %d track=\"%s\" laps=%d minutes=%d start_tick=%d riders=%d", r.serial, s->track_name.c_str(),
               s->o.laps, s->o.minutes, r.start_tick, racer_count(s));
}

struct ranked {
    int slot;
    int progress;
    int32_t last_tick;
};

void rank(const server* s, std::vector<ranked>* out)
{
    out->clear();
    for (int i = 0; i < NET_SLOTS; i++) {
        const racer& r = s->race.racers[i];
        if (!r.used)
            continue;
        ranked e;
        e.slot = i;
        e.progress = r.progress;
        e.last_tick = r.progress > 0 ? r.times[(size_t)(r.progress - 1)] : 0;
        out->push_back(e);
    }
    // The order the players' own rankings use: more gates, then the earlier
    // last gate, then the lower slot.
    std::sort(out->begin(), out->end(), [](const ranked& a, const ranked& b) {
        if (a.progress != b.progress)
            return a.progress > b.progress;
        if (a.last_tick != b.last_tick)
            return a.last_tick < b.last_tick;
        return a.slot < b.slot;
    });
}

void end_race(server* s, const char* why)
{
    race_record& r = s->race;
    const track_timing& t = s->loaded->timing_gates;
    std::vector<ranked> order;
    rank(s, &order);
    std::string line;
    char part[256];
    std::string slots;
    for (size_t i = 0; i < order.size(); i++) {
        const racer& x = r.racers[order[i].slot];
        const double seconds = order[i].progress > 0 ? (order[i].last_tick - r.start_tick) / 128.0 : 0.0;
        snprintf(part, sizeof part, " | %d. %s (slot %d) laps=%d gates=%d time=%.2f %s", (int)i + 1, x.name,
                 order[i].slot, lap_count(&t, x.progress), x.progress, seconds,
                 x.finished ? "finished" : x.left ? "left" : "not finished");
        line += part;
        slots += (i ? "," : "") + std::to_string(order[i].slot);
    }
    server_log("result race=%d track=\"%s\" end=%s order=%s%s", r.serial, s->track_name.c_str(), why,
               slots.empty() ? "-" : slots.c_str(), line.c_str());
    r.ended = true;
    r.ended_at = s->now;
    s->races_ended++;
    if (s->o.races > 0 && s->races_ended >= s->o.races && !s->stopping) {
        s->stopping = true;
        s->stop_at = s->now + 3.0;
    }
}

// Whom the race waits for: every rider who has passed a lap end at or
// after the first rider's final one has finished.
void update_finished(server* s)
{
    race_record& r = s->race;
    const track_timing& t = s->loaded->timing_gates;
    if (r.race_laps <= 0)
        return;
    const int final_gate = lap_end_gate(&t, r.race_laps);
    for (const racer& x : r.racers)
        if (x.used && final_gate >= 0 && x.progress > final_gate && (int)x.times.size() > final_gate) {
            const int32_t tick = x.times[(size_t)final_gate];
            if (tick >= 0 && (r.final_tick < 0 || tick < r.final_tick))
                r.final_tick = tick;
        }
    if (r.final_tick < 0)
        return;
    if (r.winner_time < 0)
        r.winner_time = s->now;
    for (racer& x : r.racers)
        if (x.used && !x.finished && x.last_lap_end_tick >= r.final_tick)
            x.finished = true;
}

// A timed race runs on until the leader completes the lap in which the
// time ran out, plus the extra laps.
void decide_laps(server* s)
{
    race_record& r = s->race;
    if (r.race_laps > 0 || s->o.minutes <= 0)
        return;
    const int32_t end = r.start_tick + s->o.minutes * 60 * SERVER_TICKS_PER_SECOND;
    // A second more, so the gate times of that moment have arrived.
    if (race_tick(s) < end + SERVER_TICKS_PER_SECOND)
        return;
    const track_timing& t = s->loaded->timing_gates;
    int laps = 0;
    for (const racer& x : r.racers) {
        if (!x.used)
            continue;
        for (int lap = lap_count(&t, x.progress); lap > laps; lap--) {
            const int gate = lap_end_gate(&t, lap);
            if (gate >= 0 && gate < (int)x.times.size() && x.times[(size_t)gate] >= 0 && x.times[(size_t)gate] < end) {
                laps = lap;
                break;
            }
        }
    }
    r.race_laps = laps + 1 + s->o.laps;
    update_finished(s);
}

// The least ticks a rider needs from race gate a (-1: the starting gate)
// to race gate b.
int32_t min_section_ticks(const server* s, int a, int b)
{
    const track_timing& t = s->loaded->timing_gates;
    const int cb = race_gate_checkpoint(&t, b);
    if (cb < 0)
        return 0;
    float ax = s->gates.start_x, az = s->gates.start_z, ar = 0;
    if (a >= 0) {
        const int ca = race_gate_checkpoint(&t, a);
        if (ca < 0)
            return 0;
        ax = t.checkpoints[ca].position.x;
        az = t.checkpoints[ca].position.z;
        ar = t.checkpoints[ca].radius;
    } else if (!s->gates.has_start) {
        return 0;
    }
    const float dx = t.checkpoints[cb].position.x - ax, dz = t.checkpoints[cb].position.z - az;
    const float d = std::sqrt(dx * dx + dz * dz) - ar - t.checkpoints[cb].radius;
    if (!(d > 0))
        return 0;
    return (int32_t)(d / k_max_speed * (float)SERVER_TICKS_PER_SECOND);
}

void reject(server* s, peer* p, int gate, int32_t tick, const char* why)
{
    char text[160];
    snprintf(text, sizeof text, "Server rejected gate %d at tick %d: %s", gate, (int)tick, why);
    reliable_queue_text(s, p, net_r_chat, text);
}

// Which gate indexes the rider may report next: the ones the game's own
// gate test can reach from its progress (two ahead, or a skipped gate up to
// three behind).
bool reachable_gate(const racer& r, int gate)
{
    static const int offsets[5] = {-3, -2, 0, 1, 2};
    bool missing = false;
    for (int i : offsets) {
        const long long k = (long long)r.progress + i;
        if (k < 0)
            continue;
        missing = missing || k >= (long long)r.times.size() || r.times[(size_t)k] == -1;
        if (k == gate)
            return missing || i >= 0;
    }
    return false;
}

void relay_states(server* s)
{
    const int32_t tick = race_tick(s);
    static net_clock c;
    for (peer& p : s->peers) {
        if (!member(s, p))
            continue;
        c.race_id = p.race_id;
        c.server_tick = tick;
        c.echo = p.client_tick;
        int count = 0;
        bool sent = false;
        for (int slot = 0; slot <= NET_SLOTS; slot++) {
            if (slot < NET_SLOTS) {
                const racer& r = s->race.racers[slot];
                if (slot == p.slot || !r.used || r.left || !r.have_state || !r.fresh)
                    continue;
                net_state_record& rec = c.records[count++];
                rec.slot = (uint16_t)slot;
                rec.ping = r.ping;
                rec.tick = r.state_tick;
                rec.state = r.state;
            }
            // A full datagram, or the last one (a clock when nobody moved).
            if (count == NET_STATES_MAX_RECORDS || (slot == NET_SLOTS && (count > 0 || !sent))) {
                c.count = (uint32_t)count;
                uint8_t out[NET_DATAGRAM_MAX];
                server_send_to(s, &p, out, net_write_clock(out, count > 0 ? net_s_states : net_s_clock, c));
                sent = true;
                count = 0;
            }
        }
    }
    for (racer& r : s->race.racers)
        r.fresh = false;
}

void restart_vote_done(server* s)
{
    server_log("restart race=%d by vote", s->race.serial);
    start_race(s, true);
}

}  // namespace

// ---- the race's interface to the peers ------------------------------------------------

bool race_setup_rotation(server* s, std::string* why)
{
    if (track_list_build(0) == 0) {
        *why = "no tracks found in the game data";
        return false;
    }
    s->rotation.clear();
    for (const std::string& want : s->o.tracks) {
        int found = track_list_find(want.c_str());
        for (int i = 0; found < 0 && i < g_track_list.count; i++)
            if (strcasecmp(g_track_list.dirs[i], want.c_str()) == 0)
                found = i;
        if (found < 0) {
            *why = "unknown track '" + want + "'";
            return false;
        }
        s->rotation.push_back(found);
    }
    if (s->rotation.empty())
        for (int i = 0; i < g_track_list.count; i++)
            s->rotation.push_back(i);
    return true;
}

void race_unload(server* s)
{
    if (s->loaded) {
        track_unload(s->loaded);
        delete s->loaded;
    }
    s->loaded = nullptr;
    s->loaded_list_index = -1;
}

int32_t race_tick(const server* s)
{
    const double t = (s->now - s->race.origin) * SERVER_TICKS_PER_SECOND;
    return 1 + (int32_t)std::min(std::max(t, 0.0), 2.0e9);
}

void race_peer_joined(server* s, peer* p)
{
    if (!s->race.active) {
        start_race(s, false);
        if (!s->race.active)
            return;
    } else if (!s->race.ended && race_tick(s) < s->race.entry_close_tick) {
        add_racer(s, p);
    }
    send_track_info(s, p, true);
}

void race_peer_left(server* s, peer* p)
{
    if (!s->race.active)
        return;
    racer& r = s->race.racers[p->slot];
    if (r.used) {
        // Before the gate drops its spot goes back to the gate; later it
        // stays in the classification.
        if (race_tick(s) < s->race.start_tick && !s->race.ended)
            r = racer();
        else
            r.left = true;
    }
}

void race_on_stale(server* s, peer* p)
{
    if (p->stage == stage_track) {
        send_track_info(s, p, false);
    } else if (p->stage == stage_restarting && s->now - p->last_restart_send >= 0.25) {
        p->last_restart_send = s->now;
        uint8_t out[16];
        server_send_to(s, p, out, net_write_server_value(out, net_s_restart, p->race_id));
    }
}

void race_on_track_ack(server* s, peer* p, uint32_t race_id)
{
    if (race_id != p->race_id || !s->race.active)
        return;
    // Again in a later stage: what we sent after it was lost.
    if (p->stage == stage_track || p->stage == stage_riders)
        send_next_rider(s, p, NET_SLOTS);
    else if (p->stage == stage_started)
        send_start(s, p);
}

void race_on_rider_ack(server* s, peer* p, uint32_t race_id, uint32_t last)
{
    if (race_id != p->race_id || !s->race.active)
        return;
    if (p->stage == stage_riders) {
        if (last < NET_SLOTS)
            p->announced[last] = true;
        send_next_rider(s, p, last);
    } else if (p->stage == stage_started) {
        send_start(s, p);
    }
}

void race_on_ready(server* s, peer* p, uint32_t race_id)
{
    if (race_id != p->race_id || p->stage != stage_started || !s->race.active)
        return;
    p->stage = stage_ready;
    welcome(s, p);
}

void race_on_own_state(server* s, peer* p, const net_own_state& st)
{
    if (st.race_id != p->race_id) {
        race_on_stale(s, p);
        return;
    }
    if (p->stage == stage_started)
        race_on_ready(s, p, st.race_id);
    if (!member(s, *p))
        return;
    racer& r = s->race.racers[p->slot];
    if (!r.used || r.left)
        return;
    const int32_t now_tick = race_tick(s);
    // Ticks far from our clock would only make the other players drop
    // this rider's later states.
    if (st.tick < now_tick - 10 * SERVER_TICKS_PER_SECOND || st.tick > now_tick + 2 * SERVER_TICKS_PER_SECOND)
        return;
    if (r.have_state && st.tick <= r.state_tick)
        return;
    r.have_state = true;
    r.fresh = true;
    r.state_tick = st.tick;
    r.state = st.state;
    p->client_tick = st.tick;
    const int32_t ping = st.server_tick > 0 && st.server_tick <= now_tick ? now_tick - st.server_tick : 0;
    r.ping = (uint16_t)std::min(ping, 65535);
}

void race_on_restart_request(server* s, peer* p)
{
    if (!member(s, *p) || s->race.ended)
        return;
    p->vote = true;
    int voters = 0, members = 0;
    for (const peer& q : s->peers)
        if (member(s, q)) {
            members++;
            voters += q.vote ? 1 : 0;
        }
    for (peer& q : s->peers)
        if (member(s, q)) {
            uint8_t out[16];
            server_send_to(s, &q, out, net_write_server_value(out, net_s_restart_votes, (uint32_t)voters));
        }
    if (2 * voters > members)
        restart_vote_done(s);
}

void race_on_restart_ack(server* s, peer* p, uint32_t race_id)
{
    if (p->stage != stage_restarting || race_id != p->race_id || !s->race.active)
        return;
    send_track_info(s, p, false);
}

void race_on_gate_time(server* s, peer* p, const uint8_t* body, int length)
{
    uint32_t race_id = 0;
    int32_t gate = 0, tick = 0;
    if (!net_read_gate_time(body, length, &race_id, &gate, &tick))
        return;
    race_record& r = s->race;
    if (race_id != p->race_id || !r.active || p->race_serial != r.serial)
        return;
    racer& x = r.racers[p->slot];
    if (!x.used || x.left || x.finished || r.ended)
        return;
    const track_timing& t = s->loaded->timing_gates;
    if (!timing_active(&t)) {
        reject(s, p, gate, tick, "this track has no timing gates");
        return;
    }
    const long long gate_limit = (long long)t.first_count + 1000LL * t.normal_count;
    if (gate < 0 || gate >= gate_limit || gate >= GATE_TIMES_MAX || !reachable_gate(x, gate)) {
        reject(s, p, gate, tick, "not the next gate");
        return;
    }
    if (tick <= r.start_tick) {
        reject(s, p, gate, tick, "before the start");
        return;
    }
    if (tick > race_tick(s) + SERVER_GATE_SLACK_TICKS) {
        reject(s, p, gate, tick, "in the future");
        return;
    }
    int before = std::min(gate, (int)x.times.size()) - 1;
    while (before >= 0 && x.times[(size_t)before] < 0)
        before--;
    const int32_t since = before >= 0 ? x.times[(size_t)before] : r.start_tick;
    if (tick < since || (int64_t)tick - since < min_section_ticks(s, before, gate)) {
        reject(s, p, gate, tick, "faster than a bike can ride there");
        return;
    }
    // The relay truncates every other player's copy at this gate; ours too.
    x.times.resize((size_t)gate + 1, -1);
    x.times[(size_t)gate] = tick;
    x.progress = gate + 1;
    if (is_lap_end_gate(&t, gate))
        x.last_lap_end_tick = tick;
    update_finished(s);
    net_gate_entry e;
    e.slot = p->slot;
    e.gate = gate;
    e.tick = tick;
    for (peer& q : s->peers)
        if (&q != p && member(s, q))
            queue_gate_table(s, &q, &e, 1);
}

void race_on_erosion(server* s, peer* p, const uint8_t* body, int length)
{
    if (length < 4 || !member(s, *p))
        return;
    // Once the result is out nothing more is dug: every player stops
    // receiving ruts at the same point of the stream, so their terrains end
    // alike however long each one stays after the finish.
    if (net_get_u32(body) != p->race_id || !s->race.racers[p->slot].used || s->race.ended)
        return;
    const uint8_t* data = body + 4;
    const int data_length = length - 4;
    if (erode_message_point_count(data, data_length) <= 0)
        return;
    // Back to everybody, the digger too, in the one order the server saw:
    // every terrain digs the same ruts in the same order.
    for (peer& q : s->peers)
        if (member(s, q)) {
            uint8_t out[NET_RELIABLE_BODY_MAX];
            net_put_u32(out, q.race_id);
            memcpy(out + 4, data, (size_t)data_length);
            reliable_queue(s, &q, net_r_erosion, out, length);
        }
}

void race_step(server* s)
{
    race_record& r = s->race;
    if (!r.active)
        return;
    const int32_t tick = race_tick(s);
    // Players whose world misses a rider, or belongs to an earlier race,
    // set up this race again.
    for (peer& p : s->peers) {
        if (!p.used || !p.have_info)
            continue;
        if (p.stage == stage_started || p.stage == stage_ready) {
            bool again = p.race_serial != r.serial;
            for (int i = 0; i < NET_SLOTS && !again; i++)
                again = i != p.slot && r.racers[i].used && !r.racers[i].left && s->peers[i].used && !p.announced[i];
            if (again && !r.ended)
                send_restart(s, &p);
        } else if (p.stage == stage_restarting && s->now - p.last_restart_send >= 1.0) {
            race_on_stale(s, &p);
        }
    }
    if (s->now >= s->next_state_time) {
        const double period = 1.0 / std::max(1, s->o.state_rate);
        s->next_state_time += period;
        if (s->next_state_time < s->now)
            s->next_state_time = s->now + period;
        relay_states(s);
    }
    if (r.ended) {
        if (s->stopping || s->now < r.ended_at + s->o.result_pause)
            return;
        bool anyone = false;
        for (const peer& p : s->peers)
            anyone = anyone || (p.used && p.have_info);
        if (anyone)
            start_race(s, false);
        else
            r.active = false;
        return;
    }
    if (tick < r.start_tick) {
        if (server_peer_count(s) == 0)
            r.active = false;  // everybody left before the start: wait for the next player
        return;
    }
    if (!r.start_logged) {
        r.start_logged = true;
        server_log("start race=%d track=\"%s\" riders=%d", r.serial, s->track_name.c_str(), racer_count(s));
    }
    decide_laps(s);
    bool all_finished = true;
    for (const racer& x : r.racers)
        all_finished = all_finished && (!x.used || x.left || x.finished);
    const int64_t hard_limit =
        (int64_t)r.start_tick + ((int64_t)s->o.minutes * 60 + (int64_t)s->o.laps * 900 + 60) * SERVER_TICKS_PER_SECOND;
    if (racer_count(s) == 0)
        end_race(s, "no riders");
    else if (all_finished)
        end_race(s, "finished");
    else if (r.winner_time >= 0 && s->now - r.winner_time >= s->o.finish_wait)
        end_race(s, "finish-wait");
    else if (tick >= hard_limit)
        end_race(s, "time-limit");
}
