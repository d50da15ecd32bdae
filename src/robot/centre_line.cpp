// Reading and writing a track's centre line.
#include "robot/centre_line.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "files/datafs.h"
#include "files/stream.h"
#include "track/heightfield.h"
#include "track/track.h"

namespace {

// Longest coordinate, width or speed a sane track has (ft, ft/s).
const double k_max_value = 1e6;

bool read_line(data_stream* in, char* buffer, int size)
{
    if (!stream_gets(in, buffer, size))
        return false;
    const size_t n = strlen(buffer);
    // A line that did not fit is broken, not two lines.
    return !(n == (size_t)size - 1 && buffer[n - 1] != '\n');
}

// Reads count numbers; false unless the line holds exactly those, each
// finite and within range.
bool read_numbers(const char* line, double* out, int count)
{
    const char* p = line;
    for (int i = 0; i < count; i++) {
        char* end = nullptr;
        errno = 0;
        const double v = strtod(p, &end);
        if (end == p || errno != 0 || !std::isfinite(v) || std::fabs(v) > k_max_value)
            return false;
        out[i] = v;
        p = end;
    }
    while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n')
        p++;
    return *p == 0;
}

}  // namespace

std::string centre_line_text(const rider_path& path)
{
    std::string out = "centreline 1\n";
    char line[256];
    snprintf(line, sizeof line, "step %.9g loop_start %d closed %d count %d\n", (double)path.step, path.loop_start,
             path.closed ? 1 : 0, (int)path.points.size());
    out += line;
    for (const rider_path_point& q : path.points) {
        snprintf(line, sizeof line, "%.9g %.9g %.9g %.9g %.9g\n", (double)q.x, (double)q.y, (double)q.z,
                 (double)q.width, (double)q.speed_limit);
        out += line;
    }
    return out;
}

bool centre_line_read(data_stream* in, const char* name, const centre_line_options& o, rider_path* out,
                      std::string* why)
{
    char line[512];
    auto broken = [&](const std::string& what) {
        *why = std::string(name) + ": " + what;
        return false;
    };
    if (!read_line(in, line, sizeof line) || strcmp(line, "centreline 1\n") != 0)
        return broken("not a centre line file");
    double step = 0;
    int loop_start = 0, closed = 0, count = 0;
    char tail = 0;
    if (!read_line(in, line, sizeof line) ||
        sscanf(line, "step %lf loop_start %d closed %d count %d%c", &step, &loop_start, &closed, &count, &tail) !=
            5 ||
        tail != '\n')
        return broken("bad second line");
    if (!std::isfinite(step) || step < 0.25 || step > 50)
        return broken("step must be 0.25 to 50 ft");
    if (count < 3 || count > CENTRE_LINE_MAX_POINTS)
        return broken("3 to 100000 points needed");
    if (loop_start < 0 || loop_start > count - 3)
        return broken("the loop must hold at least three points");
    if (closed != 0 && closed != 1)
        return broken("closed must be 0 or 1");
    rider_path path;
    path.step = (float)step;
    path.closed = closed == 1;
    path.points.reserve((size_t)count);
    for (int i = 0; i < count; i++) {
        double v[5];
        if (!read_line(in, line, sizeof line) || !read_numbers(line, v, 5) || v[3] < 0)
            return broken("bad point " + std::to_string(i + 1));
        rider_path_point q;
        q.x = (float)v[0];
        q.y = (float)v[1];
        q.z = (float)v[2];
        q.width = (float)v[3];
        q.speed_limit = (float)v[4];
        if (o.ground)
            q.y = heightfield_height_at(o.ground, q.x, q.z);
        path.points.push_back(q);
    }
    path.loop_start = loop_start;
    if (!o.lead_in) {
        path.points.erase(path.points.begin(), path.points.begin() + loop_start);
        path.loop_start = 0;
    }
    *out = std::move(path);
    return true;
}

bool centre_line_load(const char* track_dir, const centre_line_options& o, rider_path* out, std::string* why)
{
    char dir[TRACK_DIR_MAX + 2];
    if (!track_data_dir(track_dir, dir, sizeof dir)) {
        *why = "track name too long";
        return false;
    }
    const std::string name = std::string(dir) + "/centreline";
    data_stream* in = open_data_file(name.c_str(), "rb");
    if (!in) {
        *why = std::string("track '") + track_dir + "' has no centre line";
        return false;
    }
    const bool ok = centre_line_read(in, name.c_str(), o, out, why);
    close_data_file(in);
    return ok;
}
