// The ground tiles of the generated tracks: the pictures (tileable noise
// and colour), the surfaces' physics in "tileinfo", and the tile map that
// paints them with matching transition tiles.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "render/picture.h"
#include "track/surface.h"
#include "track_ground.h"

namespace mkdata {

namespace {

const int tile_pixels = 64;

// The pairs that get transition tiles, (primary, secondary): everything
// the ribbon meets at its edges and where its ground changes.
const int transition_pairs[][2] = {
    {ground_dirt, ground_grass}, {ground_loam, ground_grass}, {ground_sand, ground_grass},
    {ground_loam, ground_dirt},  {ground_sand, ground_dirt},
};

const char* const ground_names[ground_kinds] = {"grass", "dirt", "loam", "sand"};

double clamp01(double v) { return v < 0 ? 0 : v > 1 ? 1 : v; }
double smoothstep(double e0, double e1, double v)
{
    double t = clamp01((v - e0) / (e1 - e0));
    return t * t * (3 - 2 * t);
}

uint32_t hash_pixel(uint32_t x, uint32_t y, uint32_t seed)
{
    uint32_t h = x * 0x8DA6B343u ^ y * 0xD8163841u ^ seed * 0xCB1AB31Fu;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    h *= 0x297A2D39u;
    h ^= h >> 15;
    return h;
}
double hash01(uint32_t x, uint32_t y, uint32_t seed) { return (hash_pixel(x, y, seed) >> 8) * (1.0 / 16777216.0); }

// Value noise on a lattice of `period` cells across the tile, wrapping, so
// a picture joins its neighbours without a seam. u, v in 0..1.
double tile_noise(uint32_t seed, double u, double v, int period)
{
    double x = u * period, y = v * period;
    int ix = (int)std::floor(x), iy = (int)std::floor(y);
    double fx = x - ix, fy = y - iy;
    auto at = [&](int a, int b) {
        a = ((a % period) + period) % period;
        b = ((b % period) + period) % period;
        return hash01((uint32_t)a, (uint32_t)b, seed) * 2 - 1;
    };
    double sx = fx * fx * (3 - 2 * fx), sy = fy * fy * (3 - 2 * fy);
    double a = at(ix, iy) + (at(ix + 1, iy) - at(ix, iy)) * sx;
    double b = at(ix, iy + 1) + (at(ix + 1, iy + 1) - at(ix, iy + 1)) * sx;
    return a + (b - a) * sy;
}

double tile_fbm(uint32_t seed, double u, double v, int period, int octaves)
{
    double sum = 0, amp = 1, norm = 0;
    for (int o = 0; o < octaves; o++) {
        sum += amp * tile_noise(seed + 977u * o, u, v, period << o);
        norm += amp;
        amp *= 0.5;
    }
    return sum / norm;
}

uint8_t to_byte(double v) { return (uint8_t)std::lround(std::clamp(v, 0.0, 255.0)); }

// One plain ground picture, tile_pixels square, RGB.
std::vector<uint8_t> ground_picture(int kind, int variant)
{
    std::vector<uint8_t> rgb((size_t)tile_pixels * tile_pixels * 3);
    uint32_t seed = 0x7113u + 101u * (uint32_t)kind + 7919u * (uint32_t)variant;
    for (int py = 0; py < tile_pixels; py++) {
        for (int px = 0; px < tile_pixels; px++) {
            double u = (px + 0.5) / tile_pixels, v = (py + 0.5) / tile_pixels;
            double speck = hash01((uint32_t)px, (uint32_t)py, seed + 3);
            double c[3];
            switch (kind) {
            case ground_grass: {
                double patch = tile_fbm(seed, u, v, 3, 3);
                double blades = tile_noise(seed + 1, u, v, 32) * 0.6 + (speck - 0.5) * 0.8;
                double dry = smoothstep(0.2, 0.8, tile_fbm(seed + 2, u, v, 2, 2));
                double shade = 1 + 0.12 * patch + 0.16 * blades;
                c[0] = (64 + 18 * dry) * shade;
                c[1] = (106 + 6 * dry) * shade;
                c[2] = (40 + 2 * dry) * shade;
                break;
            }
            case ground_dirt: {
                double patch = tile_fbm(seed, u, v, 4, 3);
                double grain = tile_noise(seed + 1, u, v, 32);
                double shade = 1 + 0.10 * patch + 0.06 * grain + (speck - 0.5) * 0.08;
                c[0] = 140 * shade;
                c[1] = 103 * shade;
                c[2] = 68 * shade;
                double pebble = hash01((uint32_t)px, (uint32_t)py, seed + 9);
                if (pebble < 0.01) {
                    c[0] = 168 + 20 * pebble / 0.01;
                    c[1] = 146 + 16 * pebble / 0.01;
                    c[2] = 116;
                } else if (pebble < 0.03) {
                    c[0] *= 0.72;
                    c[1] *= 0.7;
                    c[2] *= 0.68;
                }
                break;
            }
            case ground_loam: {
                double patch = tile_fbm(seed, u, v, 8, 3);
                double crumbs = speck < 0.12 ? -0.25 : speck > 0.94 ? 0.2 : 0;
                double shade = 1 + 0.14 * patch + crumbs + 0.06 * tile_noise(seed + 1, u, v, 32);
                c[0] = 88 * shade;
                c[1] = 63 * shade;
                c[2] = 44 * shade;
                break;
            }
            default: {  // sand
                double wave = u * 3 + v * 1 + 0.35 * tile_fbm(seed, u, v, 4, 2);
                double tri = std::fabs(wave - std::floor(wave) - 0.5) * 2;  // 0..1 ripples
                double ripple = smoothstep(0.2, 0.9, tri) - 0.5;
                double shade = 1 + 0.05 * ripple + 0.05 * tile_fbm(seed + 1, u, v, 4, 2) + (speck - 0.5) * 0.07;
                c[0] = 208 * shade;
                c[1] = 188 * shade;
                c[2] = 140 * shade;
                break;
            }
            }
            uint8_t* p = &rgb[((size_t)py * tile_pixels + px) * 3];
            for (int ch = 0; ch < 3; ch++)
                p[ch] = to_byte(c[ch]);
        }
    }
    return rgb;
}

// A transition picture: the secondary ground at the set corners, the
// primary elsewhere, meeting along a ragged line.
std::vector<uint8_t> transition_picture(const std::vector<uint8_t>& primary, const std::vector<uint8_t>& secondary,
                                        int mask, uint32_t seed)
{
    std::vector<uint8_t> rgb(primary.size());
    double tl = (mask & 8) ? 1 : 0, tr = (mask & 4) ? 1 : 0, bl = (mask & 2) ? 1 : 0, br = (mask & 1) ? 1 : 0;
    for (int py = 0; py < tile_pixels; py++) {
        for (int px = 0; px < tile_pixels; px++) {
            double u = (px + 0.5) / tile_pixels, v = (py + 0.5) / tile_pixels;
            double top = tl + (tr - tl) * u, bottom = bl + (br - bl) * u;
            double b = top + (bottom - top) * v;
            double t = b + 0.28 * tile_fbm(seed, u, v, 4, 3);
            double s = smoothstep(0.42, 0.58, t);
            size_t i = ((size_t)py * tile_pixels + px) * 3;
            for (int ch = 0; ch < 3; ch++)
                rgb[i + ch] = to_byte(primary[i + ch] + (secondary[i + ch] - primary[i + ch]) * s);
        }
    }
    return rgb;
}

// --- Physics of each ground ------------------------------------------------

struct ground_physics {
    friction_point friction[3];      // grip falls as the wheel slides faster
    roll_resist_point roll[2];
    float roost_count, roost_threshold, roost_size, roost_grow, roost_drag, roost_randomize;
    uint8_t roost_colour[3];
    erode_params erode;
};

ground_physics physics_of(int kind)
{
    ground_physics g{};
    erode_params e;
    switch (kind) {
    case ground_dirt:  // hard pack: best grip at low slip, throws a good roost
        g = {{{1.15f, 2}, {1.05f, 10}, {0.9f, 30}}, {{4.5f, 13, 10}, {5, 15, 60}}, 10, 4, 0.25f, 3, 0.5f, 12,
             {128, 96, 64}, e};
        g.erode.limit_count = 3;
        g.erode.limit_depth[1] = 0.6f, g.erode.limit_dig[1] = 0.35f, g.erode.limit_inner_dig[1] = 0.5f;
        g.erode.limit_depth[2] = 1.0f, g.erode.limit_dig[2] = 0, g.erode.limit_inner_dig[2] = 0;
        break;
    case ground_loam:  // soft and dark: grips best, ruts up
        g = {{{1.25f, 2}, {1.1f, 12}, {0.95f, 30}}, {{6, 18, 10}, {7, 20, 60}}, 12, 3.5f, 0.25f, 3.5f, 0.6f, 12,
             {84, 62, 44}, e};
        g.erode.erode_depth = 1.4f;
        g.erode.erode_lower = 40;
        g.erode.limit_count = 3;
        g.erode.limit_depth[1] = 1.0f, g.erode.limit_dig[1] = 0.4f, g.erode.limit_inner_dig[1] = 0.6f;
        g.erode.limit_depth[2] = 1.6f, g.erode.limit_dig[2] = 0, g.erode.limit_inner_dig[2] = 0;
        break;
    case ground_sand:  // rolls heavy, slides, digs deep
        g = {{{0.95f, 2}, {0.85f, 10}, {0.75f, 30}}, {{11, 36, 10}, {13, 42, 60}}, 14, 3, 0.2f, 5, 0.8f, 14,
             {214, 194, 148}, e};
        g.erode.erode_depth = 2.2f;
        g.erode.erode_lower = 28;
        g.erode.erode_upper = 110;
        g.erode.erode_displacement = 2.5f;
        g.erode.erode_radius = 4.5f;
        g.erode.erode_inner_depth = 0.2f;
        g.erode.erode_downhill_scale = 0.5f;
        g.erode.limit_count = 3;
        g.erode.limit_depth[1] = 1.5f, g.erode.limit_dig[1] = 0.5f, g.erode.limit_inner_dig[1] = 0.7f;
        g.erode.limit_depth[2] = 2.5f, g.erode.limit_dig[2] = 0, g.erode.limit_inner_dig[2] = 0;
        break;
    default:  // grass: less grip, hardly any roost, barely scarred
        g = {{{0.85f, 2}, {0.7f, 10}, {0.55f, 30}}, {{4, 10, 10}, {5, 12, 60}}, 2, 10, 0.2f, 2, 0.5f, 8,
             {96, 116, 62}, e};
        g.erode.erode_depth = 0.3f;
        g.erode.erode_lower = 90;
        g.erode.erode_upper = 220;
        g.erode.limit_count = 2;
        g.erode.limit_depth[1] = 0.35f;
        break;
    }
    return g;
}

// A transition surface grips and digs as a mix of its two grounds, by how
// many of its corners each covers.
ground_physics blend_physics(const ground_physics& a, const ground_physics& b, double wb)
{
    auto mix = [&](float x, float y) { return (float)(x + (y - x) * wb); };
    ground_physics g = wb < 0.5 ? a : b;
    for (int i = 0; i < 3; i++) {
        g.friction[i].coefficient = mix(a.friction[i].coefficient, b.friction[i].coefficient);
        g.friction[i].slip_speed = a.friction[i].slip_speed;
    }
    for (int i = 0; i < 2; i++) {
        g.roll[i].shallow = mix(a.roll[i].shallow, b.roll[i].shallow);
        g.roll[i].deep = mix(a.roll[i].deep, b.roll[i].deep);
        g.roll[i].speed = a.roll[i].speed;
    }
    g.roost_count = mix(a.roost_count, b.roost_count);
    for (int i = 0; i < ERODE_SCALARS; i++) {
        float erode_params::*m = erode_scalar_members[i];
        g.erode.*m = mix(a.erode.*m, b.erode.*m);
    }
    return g;
}

tileinfo_entry entry_for(const ground_physics& g, const char* texture)
{
    tileinfo_entry e;
    e.texture_name = texture;
    e.friction_count = 3;
    std::copy(g.friction, g.friction + 3, e.friction);
    e.roll_resist_count = 2;
    std::copy(g.roll, g.roll + 2, e.roll_resist);
    e.roost_count = 1;
    roost_type& r = e.roost[0].params;
    r.mode = 1;
    r.count = g.roost_count;
    r.slip_threshold = g.roost_threshold;
    r.size = g.roost_size;
    r.grow = g.roost_grow;
    r.drag = g.roost_drag;
    r.randomize = g.roost_randomize;
    r.colour[0] = g.roost_colour[0];
    r.colour[1] = g.roost_colour[1];
    r.colour[2] = g.roost_colour[2];
    r.colour[3] = 255;
    r.fade[3] = -2;  // about a second and a half to vanish
    e.erode = g.erode;
    return e;
}

std::string mask_digits(int mask)
{
    char s[5];
    for (int b = 0; b < 4; b++)
        s[b] = (mask & (8 >> b)) ? '1' : '0';
    s[4] = 0;
    return s;
}

bool put_bytes(output& out, const std::string& rel, picture_bytes* b, bool ok)
{
    if (!ok) {
        fprintf(stderr, "kessrig-mkdata: can't encode %s\n", rel.c_str());
        picture_bytes_free(b);
        return false;
    }
    bool written = write_file(out, rel, bytes(b->data, b->data + b->size));
    picture_bytes_free(b);
    return written;
}

}  // namespace

int tile_set::find(int primary, int secondary, int mask) const
{
    if (secondary < 0 || mask == 0 || secondary == primary)
        secondary = -1, mask = 0;
    if (mask == 15)
        primary = secondary, secondary = -1, mask = 0;
    for (size_t i = 0; i < surfaces.size(); i++) {
        const tile_surface& t = surfaces[i];
        if (t.alternative)
            continue;
        if (secondary < 0) {
            if (t.secondary < 0 && t.primary == primary)
                return (int)i;
        } else if (t.primary == primary && t.secondary == secondary && t.mask == mask) {
            return (int)i;
        } else if (t.primary == secondary && t.secondary == primary && t.mask == (~mask & 15)) {
            return (int)i;
        }
    }
    return -1;
}

const tile_set& standard_tiles()
{
    static tile_set set;
    if (set.surfaces.empty()) {
        for (int k = 0; k < ground_kinds; k++)
            set.surfaces.push_back({std::string(ground_names[k]) + ".png", k, -1, 0, false});
        // One alternative in the plain PPM format, one in the predictive
        // format, so the track exercises both loaders.
        set.surfaces.push_back({"grass-alt1.ppm", ground_grass, -1, 0, true});
        set.surfaces.push_back({"dirt-alt1.ppm", ground_dirt, -1, 0, true});
        for (const auto& pair : transition_pairs)
            for (int mask = 1; mask < 15; mask++)
                set.surfaces.push_back({std::string(ground_names[pair[0]]) + "-" + ground_names[pair[1]] + "-" +
                                            mask_digits(mask) + ".png",
                                        pair[0], pair[1], mask, false});
    }
    return set;
}

bool write_tiles(output& out, const std::string& dir, const tile_set& tiles)
{
    std::vector<uint8_t> plain[ground_kinds];
    for (int k = 0; k < ground_kinds; k++)
        plain[k] = ground_picture(k, 0);
    std::vector<tileinfo_entry> entries;
    std::vector<std::string> names;  // texture names, kept alive for the entries
    names.reserve(tiles.surfaces.size());
    for (size_t i = 0; i < tiles.surfaces.size(); i++) {
        const tile_surface& t = tiles.surfaces[i];
        std::vector<uint8_t> rgb;
        picture_bytes b;
        bool ok;
        if (t.alternative) {
            rgb = ground_picture(t.primary, 1);
            ok = t.primary == ground_dirt ? encode_predictive(rgb.data(), tile_pixels, tile_pixels, 3, &b)
                                          : encode_ppm(rgb.data(), tile_pixels, tile_pixels, false, &b);
        } else {
            rgb = t.secondary < 0 ? plain[t.primary]
                                  : transition_picture(plain[t.primary], plain[t.secondary], t.mask,
                                                       0x51u + (uint32_t)i);
            ok = encode_png(rgb.data(), tile_pixels, tile_pixels, 3, false, nullptr, &b);
        }
        if (!put_bytes(out, dir + t.picture, &b, ok))
            return false;
        names.push_back("@" + dir + t.picture);
        ground_physics g = physics_of(t.primary);
        if (t.secondary >= 0) {
            int set_corners = ((t.mask >> 3) & 1) + ((t.mask >> 2) & 1) + ((t.mask >> 1) & 1) + (t.mask & 1);
            g = blend_physics(g, physics_of(t.secondary), set_corners / 4.0);
        }
        entries.push_back(entry_for(g, nullptr));
    }
    for (size_t i = 0; i < entries.size(); i++)
        entries[i].texture_name = names[i].c_str();
    picture_bytes info;
    bool ok = tileinfo_encode(entries.data(), (int)entries.size(), &info);
    return put_bytes(out, dir + "tileinfo", &info, ok);
}

std::vector<uint8_t> build_tilemap(const track_ground& g, const tile_set& tiles, unsigned seed)
{
    int n = g.cells, cn = n + 1;
    std::vector<uint8_t> map((size_t)n * n, 0);
    int alt[ground_kinds];
    for (int k = 0; k < ground_kinds; k++) {
        alt[k] = -1;
        for (size_t i = 0; i < tiles.surfaces.size(); i++)
            if (tiles.surfaces[i].alternative && tiles.surfaces[i].primary == k)
                alt[k] = (int)i;
    }
    for (int cz = 0; cz < n; cz++) {
        for (int cx = 0; cx < n; cx++) {
            int c[4] = {g.corners[(size_t)cz * cn + cx], g.corners[(size_t)cz * cn + cx + 1],
                        g.corners[(size_t)(cz + 1) * cn + cx], g.corners[(size_t)(cz + 1) * cn + cx + 1]};
            // The two grounds covering most corners (ties to the lower
            // kind); a third one, rare where three meet, yields to the first.
            int votes[ground_kinds] = {0, 0, 0, 0};
            for (int k : c)
                votes[k]++;
            int first = 0;
            for (int k = 1; k < ground_kinds; k++)
                if (votes[k] > votes[first])
                    first = k;
            int second = -1;
            for (int k = 0; k < ground_kinds; k++)
                if (k != first && votes[k] > 0 && (second < 0 || votes[k] > votes[second]))
                    second = k;
            int mask = 0;
            if (second >= 0) {
                for (int i = 0; i < 4; i++)
                    if (c[i] == second)
                        mask |= 8 >> i;
            }
            int t = tiles.find(first, second, mask);
            if (t < 0)
                t = tiles.find(first, -1, 0);
            if (second < 0 && alt[first] >= 0) {
                // Alternative pictures in loose patches break up the repeat.
                double x = (cx + 0.5) / 7.0, z = (cz + 0.5) / 7.0;
                if (smooth_noise(seed + 17u * (unsigned)first, x, z) > 0.3)
                    t = alt[first];
            }
            map[(size_t)cz * n + cx] = (uint8_t)t;
        }
    }
    return map;
}

}  // namespace mkdata
