// The HUD map of a generated track and the writing of everything a track
// holds beyond its ground.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "track_content.h"
#include "track_pictures.h"

namespace mkdata {

namespace {

uint8_t to_byte(double v) { return (uint8_t)std::lround(std::clamp(v, 0.0, 255.0)); }

double clamp01(double v) { return v < 0 ? 0 : v > 1 ? 1 : v; }

}  // namespace

std::vector<uint8_t> map_pixels(const track_design& d, double extent, int size)
{
    const double px = extent / size;  // ft per pixel
    const double outline = 2.2 * px;
    // Distance (ft) from each pixel centre to the nearest ribbon edge,
    // negative inside; found by stamping the line's samples.
    std::vector<float> edge((size_t)size * size, 1e9f);
    std::vector<uint8_t> sand((size_t)size * size, 0);
    auto stamp = [&](double x, double z, double half, bool is_sand) {
        double reach = half + outline + px;
        int c0 = std::max(0, (int)std::floor((x - reach) / px)), c1 = std::min(size - 1, (int)std::ceil((x + reach) / px));
        int r0 = std::max(0, (int)std::floor((z - reach) / px)), r1 = std::min(size - 1, (int)std::ceil((z + reach) / px));
        for (int r = r0; r <= r1; r++)
            for (int c = c0; c <= c1; c++) {
                double e = std::hypot((c + 0.5) * px - x, (r + 0.5) * px - z) - half;
                size_t i = (size_t)r * size + c;
                if (e < edge[i]) {
                    edge[i] = (float)e;
                    sand[i] = is_sand;
                }
            }
    };
    const int every = std::max(1, (int)std::lround(px / 2 / d.station_step));
    for (size_t k = 0; k < d.stations.size(); k += every) {
        const track_station& st = d.stations[k];
        stamp(st.x, st.z, st.width / 2, st.ground == ground_sand);
    }
    for (double a = -d.chute.length; a <= 0; a += px / 2) {
        double x, z;
        design_chute_point(d, a, &x, &z);
        // The chute as a band: stamp it across its width.
        double half = design_chute_width(d, a) / 2;
        const track_station& s0 = d.stations[0];
        for (double l = -half + px; l <= half - px; l += px)
            stamp(x - s0.tz * l, z + s0.tx * l, px, false);
    }
    std::vector<uint8_t> rgba((size_t)size * size * 4, 0);
    for (size_t i = 0; i < edge.size(); i++) {
        double e = edge[i];
        // Light inside, a dark border, transparent beyond; a pixel wide
        // blend at each change.
        double inside = clamp01(0.5 - e / px);
        double border = clamp01(0.5 - (e - outline) / px);
        double light = sand[i] ? 215 : 240, light_b = sand[i] ? 170 : 240;
        double r = 25 + (light - 25) * inside, g = 25 + (light - 25) * inside, b = 30 + (light_b - 30) * inside;
        rgba[i * 4] = to_byte(r);
        rgba[i * 4 + 1] = to_byte(g);
        rgba[i * 4 + 2] = to_byte(b);
        rgba[i * 4 + 3] = to_byte(255 * std::max(inside, 0.8 * border));
    }
    // The finish line in red across the ribbon.
    const track_station& s0 = d.stations[0];
    for (double l = -s0.width / 2; l <= s0.width / 2; l += px / 3)
        for (double a = -px; a <= px; a += px / 3) {
            double x = s0.x - s0.tz * l + s0.tx * a, z = s0.z + s0.tx * l + s0.tz * a;
            int c = (int)std::floor(x / px), r = (int)std::floor(z / px);
            if (c < 0 || r < 0 || c >= size || r >= size)
                continue;
            uint8_t* p = &rgba[((size_t)r * size + c) * 4];
            p[0] = 220;
            p[1] = 30;
            p[2] = 30;
            p[3] = 255;
        }
    return rgba;
}

bool write_track_content(output& out, const track_design& d, heightfield* hf)
{
    const std::string dir = d.dir + "/";
    gate_layout timing = design_gate_layout(d);
    if (timing.checkpoints.size() < 2 || timing.checkpoints.size() > 256 || timing.pieces.size() > 160) {
        fprintf(stderr, "kessrig-mkdata: %s: no usable checkpoints for this lap\n", d.dir.c_str());
        return false;
    }
    std::vector<camera_spot> cams = design_cameras(d, timing);
    std::vector<int> covered(timing.checkpoints.size(), 0);
    for (const camera_spot& c : cams)
        for (int g : c.gates)
            covered[g] = 1;
    for (size_t g = 0; g < covered.size(); g++)
        if (!covered[g]) {
            fprintf(stderr, "kessrig-mkdata: %s: no place for a camera at checkpoint %zu\n", d.dir.c_str(), g);
            return false;
        }
    canvas map(512, 512, 0);
    map.rgba = map_pixels(d, hf->extent, 512);
    bytes map_png = canvas_png(map, true);
    if (map_png.empty()) {
        fprintf(stderr, "kessrig-mkdata: can't encode the map of %s\n", d.dir.c_str());
        return false;
    }
    return write_text(out, dir + "timing_gates", timing_gates_text(timing, hf)) &&
           write_track_objects(out, d, timing, hf) && write_text(out, dir + "cameras", cameras_text(cams)) &&
           write_file(out, dir + "map.png", map_png);
}

}  // namespace mkdata
