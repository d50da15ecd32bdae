// Uploading one file from the "outgoing" folder to the race server, and
// the check of the fixed collision shape files that joining needs.
#include <nettle/ripemd160.h>

#include <cctype>
#include <cstdio>
#include <cstring>

#include "core/messages.h"
#include "files/datafs.h"
#include "files/stream.h"
#include "net/client.h"
#include "net/client_internal.h"

namespace {

const double k_part_seconds = 0.25;
const int k_part_bytes = 256;

const char* const k_shape_files[] = {
    "@generic_frame.shp", "@generic_fork_upper.shp", "@generic_fork_lower.shp", "@generic_swingarm.shp",
    "@front_wheel.shp",   "@rear_wheel.shp",         "@generic_rider.shp",
};

void close_upload(net_session_internal& in)
{
    if (in.send_stream)
        close_data_file(in.send_stream);
    in.send_stream = nullptr;
    in.send_allowed = false;
}

}  // namespace

// The shape files as kessrig-mkdata generates them (a test keeps this in
// step); a release that ships other shape files adds its digest here.
const char* const net_fixed_file_digests[] = {
    "7f5d3999c6472b209b9c23489dc19f9a3a72b4c0",
    nullptr,
};

bool net_check_fixed_files(char* digest_out)
{
    ripemd160_ctx ctx;
    ripemd160_init(&ctx);
    uint8_t buf[4096];
    for (const char* name : k_shape_files) {
        data_stream* f = open_data_file(name, "rb");
        if (!f)
            continue;
        size_t n;
        while ((n = stream_read(f, buf, sizeof buf)) > 0)
            ripemd160_update(&ctx, n, buf);
        close_data_file(f);
    }
    uint8_t digest[RIPEMD160_DIGEST_SIZE];
    ripemd160_digest(&ctx, sizeof digest, digest);
    char text[2 * RIPEMD160_DIGEST_SIZE + 1];
    for (int i = 0; i < RIPEMD160_DIGEST_SIZE; i++)
        snprintf(text + 2 * i, 3, "%02x", digest[i]);
    if (digest_out)
        memcpy(digest_out, text, sizeof text);
    for (int i = 0; net_fixed_file_digests[i]; i++)
        if (strcmp(net_fixed_file_digests[i], text) == 0)
            return true;
    return false;
}

void net_sendfile_command(net_session* s, const char* args)
{
    net_session_internal& in = *s->internal;
    while (isspace(static_cast<unsigned char>(*args)))
        args++;
    char name[1024];
    int n = 0;
    while (args[n] && n < static_cast<int>(sizeof name) - 1) {
        name[n] = args[n];
        n++;
    }
    name[n] = 0;
    while (n > 0 && isspace(static_cast<unsigned char>(name[n - 1])))
        name[--n] = 0;
    for (int i = 0; i < n; i++) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        if (!isalnum(c) && c != '_' && c != '.') {
            add_message("Filename may only contain alphanumeric characters, '_' or '.'");
            return;
        }
    }
    char path[1024];
    if (strlen(args) >= sizeof name || snprintf(path, sizeof path, "@outgoing/%s", name) >= 1024 ||
        strlen("namefile ") + n >= 1024) {
        add_message("Filename too long");
        return;
    }
    if (in.send_stream) {
        close_upload(in);
        add_message("Stopping previous transfer");
    }
    in.send_allowed = false;
    in.send_stream = open_data_file(path, "rb");
    if (!in.send_stream) {
        add_message("Can't open file");
        return;
    }
    // The length was checked above: "namefile " and the name fit.
    memcpy(in.send_final_text, "namefile ", 9);
    memcpy(in.send_final_text + 9, name, static_cast<size_t>(n) + 1);
    if (!net_send_reliable(s, net_r_text, "sendfile", 8)) {
        close_upload(in);
        return;
    }
    in.next_part_time = 0;
    add_message("Sending file");
}

void net_upload_tick(net_session* s, double now)
{
    net_session_internal& in = *s->internal;
    if (!in.send_allowed || !in.send_stream || now < in.next_part_time)
        return;
    in.next_part_time = now + k_part_seconds;
    uint8_t part[10 + k_part_bytes];
    memcpy(part, "sendpart -", 10);
    const size_t n = stream_read(in.send_stream, part + 10, k_part_bytes);
    if (n > 0)
        net_send_reliable(s, net_r_text, part, static_cast<int>(10 + n));
    if (n < static_cast<size_t>(k_part_bytes)) {
        close_upload(in);
        net_send_reliable(s, net_r_text, in.send_final_text, static_cast<int>(strlen(in.send_final_text)));
    }
}

void net_upload_stop(net_session* s)
{
    close_upload(*s->internal);
}

void net_upload_ready(net_session* s)
{
    s->internal->send_allowed = true;
}

void net_upload_denied(net_session* s)
{
    add_message("Send file denied");
    close_upload(*s->internal);
}
