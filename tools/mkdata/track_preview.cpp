// A top view of a generated track, for a person checking the circuit.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "render/picture.h"
#include "track_ground.h"

namespace mkdata {

namespace {

struct canvas {
    int n;
    std::vector<uint8_t> rgb;
    double spacing;

    void dot(double x, double z, int radius, const uint8_t colour[3])
    {
        int c = (int)std::lround(x / spacing), r = (int)std::lround(z / spacing);
        for (int dr = -radius; dr <= radius; dr++)
            for (int dc = -radius; dc <= radius; dc++) {
                int cc = c + dc, rr = r + dr;
                if (cc < 0 || rr < 0 || cc >= n || rr >= n)
                    continue;
                std::copy(colour, colour + 3, &rgb[((size_t)rr * n + cc) * 3]);
            }
    }

    // A line across the ribbon at arc length s.
    void across(const track_design& d, double s, const uint8_t colour[3])
    {
        track_station st = design_station_at(d, s);
        double half = st.width / 2;
        for (double l = -half; l <= half; l += spacing * 0.5)
            dot(st.x - st.tz * l, st.z + st.tx * l, 0, colour);
    }
};

}  // namespace

bool write_ground_preview(const std::string& png_path, const track_design& d, const uint8_t* shading,
                          int sample_count, const uint8_t* tilemap, const tile_set& tiles)
{
    // Tints of the grounds, by kind.
    static const double tint[ground_kinds][3] = {
        {0.55, 0.78, 0.40}, {1.00, 0.72, 0.48}, {0.70, 0.50, 0.36}, {1.15, 1.05, 0.78}};
    canvas cv;
    cv.n = sample_count;
    cv.spacing = d.spacing;
    cv.rgb.resize((size_t)sample_count * sample_count * 3);
    int cells = (sample_count - 1) / 2;
    for (int row = 0; row < sample_count; row++) {
        for (int col = 0; col < sample_count; col++) {
            int cx = std::min(col / 2, cells - 1), cz = std::min(row / 2, cells - 1);
            int surface = tilemap[(size_t)cz * cells + cx];
            int kind = ground_grass;
            if (surface < (int)tiles.surfaces.size()) {
                const tile_surface& t = tiles.surfaces[surface];
                kind = t.primary;
                if (t.secondary >= 0) {
                    // The corner of the cell this sample is nearest to.
                    int corner = ((row & 1) == 0 && row / 2 > cz ? 2 : 0) + ((col & 1) == 0 && col / 2 > cx ? 1 : 0);
                    if (t.mask & (8 >> corner))
                        kind = t.secondary;
                }
            }
            size_t i = ((size_t)row * sample_count + col) * 3;
            for (int c = 0; c < 3; c++)
                cv.rgb[i + c] = (uint8_t)std::min(255.0, shading[i + c] * 1.5 * tint[kind][c]);
        }
    }
    static const uint8_t white[3] = {255, 255, 255}, black[3] = {0, 0, 0}, red[3] = {230, 30, 30},
                         orange[3] = {255, 150, 0}, yellow[3] = {255, 240, 60}, blue[3] = {40, 90, 255};
    for (const track_feature& f : d.features) {
        switch (f.kind) {
        case feature_kind::tabletop:
        case feature_kind::double_jump:
            cv.across(d, f.s_lip, red);
            cv.across(d, f.s_landing, orange);
            break;
        case feature_kind::whoops:
            for (int b = 0; b < f.bump_count; b++)
                cv.across(d, f.s_begin + (b + 0.5) * f.bump_spacing, yellow);
            break;
        case feature_kind::first_turn: {
            track_station st = design_station_at(d, (f.s_begin + f.s_end) / 2);
            cv.dot(st.x, st.z, 3, blue);
            break;
        }
        default:
            break;
        }
    }
    // Where a lap's checkpoints would stand, then the finish line, checked,
    // and the start gate pieces.
    static const uint8_t cyan[3] = {40, 220, 230};
    for (double s : design_checkpoint_stations(d, 250))
        cv.across(d, s, cyan);
    {
        track_station st = design_station_at(d, 0);
        double half = st.width / 2;
        for (double l = -half; l <= half; l += d.spacing * 0.5)
            cv.dot(st.x - st.tz * l, st.z + st.tx * l, 0, ((int)std::floor(l / 2) & 1) ? white : black);
    }
    for (int i = 0; i < d.chute.gate_pieces; i++) {
        gate_piece p = design_gate_piece(d, i);
        cv.dot(p.x, p.z, 1, white);
    }
    if (!write_png_picture(png_path.c_str(), cv.rgb.data(), sample_count, sample_count, 3, nullptr)) {
        fprintf(stderr, "kessrig-mkdata: can't write %s\n", png_path.c_str());
        return false;
    }
    return true;
}

}  // namespace mkdata
