// The server's side of the reliable channel: numbered commands to each
// peer, a few in flight at once and each sent again every half second
// until acknowledged; the peer's numbered messages applied in order, early
// ones held for their turn. And what those messages carry that is not the
// race's: chat, updated client information and file uploads.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "files/datafs.h"
#include "server_internal.h"

namespace {

const double k_resend_seconds = 0.5;

void send_reliable(server* s, peer* p, reliable_out& m)
{
    static net_reliable r;
    r.sequence = m.sequence;
    r.type = m.type;
    memcpy(r.body, m.body, (size_t)m.length);
    r.body_length = m.length;
    uint8_t out[NET_DATAGRAM_MAX];
    server_send_to(s, p, out, net_write_server_reliable(out, r));
    if (m.first_sent < 0)
        m.first_sent = s->now;
    m.next_send = s->now + k_resend_seconds;
}

void send_ack(server* s, peer* p, uint32_t sequence)
{
    uint8_t out[16];
    server_send_to(s, p, out, net_write_server_ack(out, sequence));
}

// ---- chat -----------------------------------------------------------------------

void chat(server* s, peer* from, const uint8_t* body, int length)
{
    // One line every half second is more than anyone types.
    if (from->last_chat >= 0 && s->now - from->last_chat < 0.5)
        return;
    from->last_chat = s->now;
    char line[NET_RELIABLE_BODY_MAX + 1];
    int n = snprintf(line, sizeof line, "%s: ", from->rider.name);
    if (n < 0 || n >= (int)sizeof line)
        return;
    for (int i = 0; i < length && i < SERVER_CHAT_MAX && n < NET_RELIABLE_BODY_MAX; i++) {
        const uint8_t c = body[i];
        if (c == 0)
            break;
        line[n++] = (c < 32 || c == 127) ? ' ' : (char)c;
    }
    line[n] = 0;
    server_log("chat slot=%d %s", from->slot, line);
    for (peer& p : s->peers)
        if (p.used && p.have_info)
            reliable_queue_text(s, &p, net_r_chat, line);
}

// ---- uploads ----------------------------------------------------------------------

bool make_dirs(const std::string& dir)
{
    std::string path;
    size_t at = 0;
    while (at != std::string::npos) {
        at = dir.find('/', at + 1);
        path = dir.substr(0, at);
        if (path.empty())
            continue;
        if (mkdir(path.c_str(), 0755) != 0 && errno != EEXIST)
            return false;
    }
    struct stat st;
    return stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void tell(server* s, peer* p, const char* text)
{
    reliable_queue_text(s, p, net_r_chat, text);
}

void deny(server* s, peer* p)
{
    reliable_queue_text(s, p, net_r_text, "senddenied");
}

// A stored file name: one plain name inside the upload folder, never a
// hidden one (the parts in progress are hidden files), printable.
bool good_upload_name(const char* name)
{
    return safe_file_name(name) && name[0] != '.';
}

void upload_start(server* s, peer* p)
{
    upload_abort(s, p);
    if (s->o.upload_dir.empty() || s->o.upload_limit <= 0 || !make_dirs(s->o.upload_dir)) {
        deny(s, p);
        return;
    }
    char name[64];
    snprintf(name, sizeof name, "/.upload-%d-%u.part", p->slot, (unsigned)s->next_upload_id++);
    p->up.temp_path = s->o.upload_dir + name;
    p->up.fd = open(p->up.temp_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    p->up.bytes = 0;
    if (p->up.fd < 0) {
        p->up.temp_path.clear();
        deny(s, p);
        return;
    }
    reliable_queue_text(s, p, net_r_text, "sendready");
}

void upload_part(server* s, peer* p, const uint8_t* bytes, int length)
{
    if (p->up.fd < 0)
        return;
    if (p->up.bytes + length > s->o.upload_limit) {
        upload_abort(s, p);
        char text[96];
        snprintf(text, sizeof text, "Upload refused: larger than %ld bytes", s->o.upload_limit);
        tell(s, p, text);
        deny(s, p);
        return;
    }
    if (length > 0 && write(p->up.fd, bytes, (size_t)length) != length) {
        upload_abort(s, p);
        tell(s, p, "Upload failed: the server could not write the file");
        deny(s, p);
        return;
    }
    p->up.bytes += length;
}

void upload_finish(server* s, peer* p, const char* name)
{
    if (p->up.fd < 0)
        return;
    const bool written = close(p->up.fd) == 0;
    p->up.fd = -1;
    char text[320];
    if (!written || !good_upload_name(name)) {
        unlink(p->up.temp_path.c_str());
        p->up.temp_path.clear();
        // A full disk is the server's failure, not a bad name.
        if (!written)
            snprintf(text, sizeof text, "Upload failed: the server could not write the file");
        else
            snprintf(text, sizeof text, "Upload refused: bad file name '%.200s' (the name %s)", name,
                     name[0] == '.' && safe_file_name(name) ? "is hidden" : file_name_problem(name));
        tell(s, p, text);
        return;
    }
    const std::string target = s->o.upload_dir + "/" + name;
    // link() refuses an existing name, so two uploads cannot overwrite
    // each other or anything already there.
    const bool stored = link(p->up.temp_path.c_str(), target.c_str()) == 0;
    const int err = errno;
    unlink(p->up.temp_path.c_str());
    p->up.temp_path.clear();
    if (!stored) {
        snprintf(text, sizeof text, "Upload refused: '%.200s' %s", name,
                 err == EEXIST ? "already exists" : "could not be stored");
        tell(s, p, text);
        return;
    }
    server_log("upload slot=%d name=\"%s\" file=\"%s\" bytes=%ld", p->slot, p->rider.name, name, p->up.bytes);
    snprintf(text, sizeof text, "File '%.200s' received (%ld bytes)", name, p->up.bytes);
    tell(s, p, text);
}

void transfer_text(server* s, peer* p, const uint8_t* body, int length)
{
    static const char k_part[] = "sendpart -";
    static const char k_name[] = "namefile ";
    const int part_len = (int)sizeof k_part - 1, name_len = (int)sizeof k_name - 1;
    if (length == 8 && memcmp(body, "sendfile", 8) == 0) {
        upload_start(s, p);
    } else if (length >= part_len && memcmp(body, k_part, (size_t)part_len) == 0) {
        upload_part(s, p, body + part_len, length - part_len);
    } else if (length >= name_len && memcmp(body, k_name, (size_t)name_len) == 0) {
        char name[NET_RELIABLE_BODY_MAX + 1];
        const int n = length - name_len;
        memcpy(name, body + name_len, (size_t)n);
        name[n] = 0;
        // A name with a zero byte inside is not the name it looks like.
        if ((int)strlen(name) != n)
            name[0] = '/';
        upload_finish(s, p, name);
    }
}

void apply(server* s, peer* p, uint8_t type, const uint8_t* body, int length)
{
    switch (type) {
    case net_r_client_info: {
        // Kept for the next race; this one's lineup is already out.
        char text[NET_RELIABLE_BODY_MAX + 1];
        memcpy(text, body, (size_t)length);
        text[length] = 0;
        rider_strings r;
        net_parse_client_info(text, length, &r);
        for (char* c = r.name; *c; c++)
            if ((unsigned char)*c < 32)
                *c = ' ';
        if (!r.name[0])
            break;
        p->rider = r;
        net_format_client_info(p->rider, p->info_text, NET_CLIENT_INFO_ROOM);
        break;
    }
    case net_r_chat:
        chat(s, p, body, length);
        break;
    case net_r_gate_times:
        race_on_gate_time(s, p, body, length);
        break;
    case net_r_text:
        transfer_text(s, p, body, length);
        break;
    case net_r_erosion:
        race_on_erosion(s, p, body, length);
        break;
    default:
        break;
    }
}

}  // namespace

bool reliable_queue(server* s, peer* p, uint8_t type, const void* body, int length)
{
    if (!p->used)
        return false;
    if ((int)p->out.size() >= SERVER_OUT_QUEUE_MAX) {
        server_drop_peer(s, p, "too far behind", true);
        return false;
    }
    if (length > NET_RELIABLE_BODY_MAX)
        length = NET_RELIABLE_BODY_MAX;
    reliable_out m;
    m.sequence = p->next_out++;
    m.type = type;
    if (length > 0)
        memcpy(m.body, body, (size_t)length);
    m.length = length < 0 ? 0 : length;
    p->out.push_back(m);
    return true;
}

bool reliable_queue_text(server* s, peer* p, uint8_t type, const char* text)
{
    return reliable_queue(s, p, type, text, (int)strnlen(text, NET_RELIABLE_BODY_MAX));
}

void reliable_receive(server* s, peer* p, const net_reliable& r)
{
    const uint32_t ahead = r.sequence - p->in_expected;  // wraps: "behind" reads as huge
    if (r.sequence != p->in_expected && ahead < (uint32_t)SERVER_HELD_MAX) {
        bool have = false;
        for (const reliable_held& h : p->held)
            have = have || h.sequence == r.sequence;
        if (!have) {
            if ((int)p->held.size() >= SERVER_HELD_MAX)
                return;  // not acknowledged: it comes again
            reliable_held h;
            h.sequence = r.sequence;
            h.type = r.type;
            const int n = r.body_length > NET_RELIABLE_BODY_MAX ? NET_RELIABLE_BODY_MAX : r.body_length;
            h.body.assign(r.body, r.body + n);
            p->held.push_back(std::move(h));
        }
        send_ack(s, p, r.sequence);
        return;
    }
    if (r.sequence != p->in_expected) {
        // Far ahead: not acknowledged, so it comes again. Behind: already
        // applied; acknowledged again in case our first answer was lost.
        if (ahead >= 0x80000000u)
            send_ack(s, p, r.sequence);
        return;
    }
    send_ack(s, p, r.sequence);
    p->in_expected++;
    const int slot = p->slot;
    const uint32_t token = p->token;
    apply(s, p, r.type, r.body, r.body_length > NET_RELIABLE_BODY_MAX ? NET_RELIABLE_BODY_MAX : r.body_length);
    // The held ones whose turn has come, in order.
    for (;;) {
        if (!s->peers[slot].used || s->peers[slot].token != token)
            return;  // applying dropped the peer
        size_t i = 0;
        while (i < p->held.size() && p->held[i].sequence != p->in_expected)
            i++;
        if (i == p->held.size())
            return;
        reliable_held h = std::move(p->held[i]);
        p->held.erase(p->held.begin() + (long)i);
        p->in_expected++;
        apply(s, p, h.type, h.body.data(), (int)h.body.size());
    }
}

void reliable_acked(peer* p, uint32_t sequence)
{
    for (auto it = p->out.begin(); it != p->out.end(); ++it)
        if (it->sequence == sequence && it->first_sent >= 0) {
            p->out.erase(it);
            return;
        }
}

void reliable_pump(server* s, peer* p)
{
    int in_flight = 0;
    for (reliable_out& m : p->out) {
        if (in_flight >= SERVER_OUT_WINDOW)
            break;
        in_flight++;
        if (m.first_sent >= 0 && s->now - m.first_sent > s->o.timeout) {
            server_drop_peer(s, p, "timed out", true);
            return;
        }
        if (m.first_sent < 0 || s->now >= m.next_send)
            send_reliable(s, p, m);
    }
}

void upload_abort(server* s, peer* p)
{
    (void)s;
    if (p->up.fd >= 0)
        close(p->up.fd);
    p->up.fd = -1;
    if (!p->up.temp_path.empty())
        unlink(p->up.temp_path.c_str());
    p->up.temp_path.clear();
    p->up.bytes = 0;
}
