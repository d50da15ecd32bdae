// Television cameras for a generated track: one beside every second
// stretch between checkpoints, so that every checkpoint (whose approach the
// game shows from the camera that covers it) has a camera, none further
// than a couple of hundred feet from the riders it follows.
#include <cmath>
#include <cstdio>

#include "track_content.h"

namespace mkdata {

namespace {

// Distance from (x, z) to the nearest ribbon edge of any part of the track
// (the chute included); negative on a ribbon.
double ribbon_clearance(const track_design& d, double x, double z)
{
    design_place p = design_nearest(d, x, z);
    if (p.station < 0)
        return p.distance - design_chute_width(d, p.s) / 2;
    return p.distance - d.stations[p.station].width / 2;
}

const double camera_height = 18;   // above the ground, ft
const double camera_fov = 60;      // degrees
const double camera_autofov = 14;  // ft kept in view by the zoom
const double min_clearance = 18;   // from any ribbon edge, ft

}  // namespace

std::vector<camera_spot> design_cameras(const track_design& d, const gate_layout& t)
{
    std::vector<camera_spot> cams;
    const int m = (int)t.checkpoints.size();
    if (m == 0)
        return cams;
    double extent = d.spacing * (double)(2 << d.grid_log2);
    for (int first = 0; first < m; first += 2) {
        // A camera for checkpoints first and first + 1 (three for the last
        // when the count is odd), beside the middle of their approaches.
        int last = first + 1;
        if (last >= m)
            last = m - 1;
        if (m - last == 2)
            last = m - 1;
        double s_from = first == 0 ? 0 : t.checkpoints[first - 1].s;
        double s_to = t.checkpoints[last].s;
        if (s_to <= s_from)
            s_to += d.length;  // the last stretch ends at the finish line
        double s_mid = (s_from + s_to) / 2;
        track_station st = design_station_at(d, s_mid);
        bool found = false;
        camera_spot spot{};
        for (double beyond : {26.0, 34.0, 46.0, 62.0, 84.0, 110.0}) {
            double best = -1e9;
            for (int side = -1; side <= 1; side += 2) {
                double lateral = side * (st.width / 2 + beyond);
                double x = st.x - st.tz * lateral, z = st.z + st.tx * lateral;
                if (x < 10 || z < 10 || x > extent - 10 || z > extent - 10)
                    continue;
                double c = ribbon_clearance(d, x, z);
                if (c >= min_clearance && c > best) {
                    best = c;
                    spot.x = x;
                    spot.z = z;
                    found = true;
                }
            }
            if (found)
                break;
        }
        if (!found)
            continue;  // reported by the check in write_track_content
        spot.height = camera_height;
        spot.fov = camera_fov;
        spot.autofovsize = camera_autofov;
        for (int g = first; g <= last; g++)
            spot.gates.push_back(g);
        cams.push_back(spot);
        if (last == m - 1)
            break;
    }
    return cams;
}

std::string cameras_text(const std::vector<camera_spot>& cams)
{
    std::string text;
    char line[160];
    for (const camera_spot& c : cams) {
        // The gates first: they name the camera the next "addcamera" makes.
        text += "gate";
        for (int g : c.gates)
            text += " " + std::to_string(g);
        text += "\n";
        snprintf(line, sizeof line, "fov %f\nautofovsize %f\naddcamera %f %f %f\n", c.fov, c.autofovsize, c.x,
                 c.height, c.z);
        text += line;
    }
    return text;
}

}  // namespace mkdata
