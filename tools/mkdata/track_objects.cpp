// The objects of a generated track, placed from its design: statues (hay
// bales lining the turns of an open-air circuit, tuff blocks lining every
// lane of an arena and its chute; banners on posts and the podium, which
// only dress the track and stand where no rider goes), billboards (trees
// off the track, banners along the start straight, fans at the jumps and
// turns, stands round an arena), the flaggers, and decals (the finish line,
// the ruts behind the starting gate, the gate line, two logos). The object files are
// written with the game's own writers where it has them; the pictures,
// models and shapes they name go into the track's directory.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "files/memory.h"
#include "flagger_pictures.h"
#include "qm_writer.h"
#include "statue_models.h"
#include "track/objects.h"
#include "track_content.h"
#include "track_pictures.h"

namespace mkdata {

namespace {

const double pi = 3.14159265358979323846;

uint32_t hash_index(uint32_t a, uint32_t b, uint32_t seed)
{
    uint32_t h = a * 0x9E3779B1u ^ b * 0x85EBCA77u ^ seed * 0xC2B2AE3Du;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    h *= 0x297A2D39u;
    h ^= h >> 15;
    return h;
}
double hash01(uint32_t a, uint32_t b, uint32_t seed) { return (hash_index(a, b, seed) >> 8) * (1.0 / 16777216.0); }

bool is_jump_or_whoops(const track_feature& f)
{
    return f.kind == feature_kind::tabletop || f.kind == feature_kind::double_jump || f.kind == feature_kind::whoops;
}
bool is_turn(const track_feature& f)
{
    return f.kind == feature_kind::berm || f.kind == feature_kind::first_turn || f.kind == feature_kind::flat_turn;
}

bool arena_track(const track_design& d)
{
    return d.land.arena_x1 > d.land.arena_x0;
}

// How far a point stands outside every part of the track but the one near
// arc length own_s (ft beyond the nearest ribbon edge; negative on a
// ribbon). Passes of the loop within `ignore` ft of own_s along the line do
// not count; with own_s < 0 every pass counts. The chute always counts.
double clearance(const track_design& d, double x, double z, double own_s, double ignore)
{
    double best = 1e9;
    const int count = (int)d.stations.size();
    for (int k = 0; k < count; k += 2) {
        const track_station& st = d.stations[k];
        if (own_s >= 0) {
            double ds = std::fabs(st.s - own_s);
            ds = std::min(ds, d.length - ds);
            if (ds < ignore)
                continue;
        }
        double dist = std::hypot(x - st.x, z - st.z) - st.width / 2;
        best = std::min(best, dist);
    }
    // The chute: a rectangle back from s = 0, as wide as at each place.
    const track_station& s0 = d.stations[0];
    double along = (x - s0.x) * s0.tx + (z - s0.z) * s0.tz;
    double lateral = -(x - s0.x) * s0.tz + (z - s0.z) * s0.tx;
    double a = std::clamp(along, -d.chute.length, 0.0);
    double side = std::fabs(lateral) - design_chute_width(d, a) / 2;
    double back = std::fabs(along - a);
    double chute = side > 0 ? std::hypot(side, back) : (back > 0 ? back : side);
    return std::min(best, chute);
}

// A statue heading whose local x runs along (tx, tz).
double heading_along(double tx, double tz)
{
    return std::atan2(-tz, tx);
}

// --- Statue models and shapes ----------------------------------------------------

struct statue_kind {
    const char* model;    // file names inside the track directory
    const char* shape;
    float length, height, depth;  // box, ft (x, y, z)
    float sink;                   // below the ground at the origin
    int spheres;                  // along its length
    float friction, spring, damping;
};

// Foam blocks in a plastic cover, and big square straw bales: both soft,
// so that a rider who hits one bounces off rather than stops dead.
const statue_kind tuffblock = {"tuffblock.qm", "tuffblock.shp", 6.0f, 2.6f, 2.6f, 0.3f, 4, 0.7f, 3000, 400};
const statue_kind haybale = {"haybale.qm", "haybale.shp", 4.0f, 1.7f, 1.8f, 0.2f, 3, 0.9f, 2000, 300};

qm_model box_model(const statue_kind& k)
{
    qm_model m;
    qm_part part;
    part.shininess = 8;
    const float lo[3] = {-k.length / 2, -k.sink, -k.depth / 2};
    const float hi[3] = {k.length / 2, k.height - k.sink, k.depth / 2};
    qm_add_box(&part, lo, hi, qm_uv_rect{0, 0, 1, 1}, qm_uv_rect{0.1f, 0.45f, 0.9f, 0.55f});
    m.parts.push_back(part);
    return m;
}

std::string box_shape(const statue_kind& k)
{
    // Spheres as thick as the block, along its length, their bottoms at
    // the ground.
    const float r = std::min(k.depth, k.height) / 2;
    std::string text = std::to_string(k.spheres) + "\n";
    char line[160];
    for (int i = 0; i < k.spheres; i++) {
        double x = -k.length / 2 + r + (k.length - 2 * r) * i / std::max(1, k.spheres - 1);
        snprintf(line, sizeof line, "%f %f %f %f %f %f %f\n", x, (double)(r - k.sink), 0.0, (double)r,
                 (double)k.friction, (double)k.spring, (double)k.damping);
        text += line;
    }
    return text;
}

// --- The files the objects name ------------------------------------------------------

struct asset_writer {
    output& out;
    std::string dir;  // "rabbithill/"
    bool ok = true;

    void file(const std::string& name, const bytes& data)
    {
        if (data.empty()) {
            fprintf(stderr, "kessrig-mkdata: can't encode %s%s\n", dir.c_str(), name.c_str());
            ok = false;
            return;
        }
        ok = ok && write_file(out, dir + name, data);
    }
    void text(const std::string& name, const std::string& t) { file(name, bytes(t.begin(), t.end())); }
    void model(const std::string& name, const qm_model& m)
    {
        std::string why;
        if (!qm_check(m, &why)) {
            fprintf(stderr, "kessrig-mkdata: model %s%s: %s\n", dir.c_str(), name.c_str(), why.c_str());
            ok = false;
            return;
        }
        text(name, qm_text(m));
    }
    // A decal picture with its "_tnorm" and "_tspec" companions.
    void decal(const std::string& stem, const decal_pictures& d)
    {
        file(stem + ".png", canvas_png(d.colour, true));
        file(stem + "_tnorm.png", canvas_png(d.normal, true));
        file(stem + "_tspec.png", canvas_png(d.specular, true));
    }
};

uint32_t rgb_colour(int r, int g, int b)
{
    return (uint32_t)r << 24 | (uint32_t)g << 16 | (uint32_t)b << 8 | 255u;
}

std::string upper(const std::string& s)
{
    std::string u = s;
    for (char& c : u)
        if (c >= 'a' && c <= 'z')
            c = (char)(c - 'a' + 'A');
    return u;
}

// --- Placing --------------------------------------------------------------------------

struct placed {
    track_objects objects;
    std::string data_dir;  // "@rabbithill/"
    // Ground taken by the objects that dress the track (x, z, radius), kept
    // clear of trees and of each other.
    struct spot {
        double x, z, r;
    };
    std::vector<spot> taken;
    bool free(double x, double z, double r) const
    {
        for (const spot& t : taken)
            if (std::hypot(x - t.x, z - t.z) < r + t.r)
                return false;
        return true;
    }
    ~placed() { track_objects_free(&objects); }
};

void add_statue(placed* p, const heightfield* hf, double x, double z, double angle, const statue_kind& k,
                const std::string& texture)
{
    std::string model = p->data_dir + k.model, shape = p->data_dir + k.shape, tex = p->data_dir + texture;
    // The shape is named afterwards: the generator has no data files to
    // look it up in, and the file only needs its name.
    int i = statue_add(&p->objects, hf, (float)x, 0.0f, (float)z, (float)angle, model.c_str(), tex.c_str(), nullptr,
                       nullptr);
    statue& st = p->objects.statues.items[i];
    st.shape_name = mem_strdup(shape.c_str());
    if (!st.shape_name)
        abort();
}

// A row of statues beside the ribbon from s0 to s1 at `side` (+1 right,
// -1 left), every `spacing` ft, where nothing else of the track is near.
void statue_row(placed* p, const track_design& d, const heightfield* hf, double s0, double s1, int side,
                double beyond, double spacing, const statue_kind& k, const std::string& texture_a,
                const std::string& texture_b)
{
    // Spaced along the row itself, which on the inside of a hairpin is
    // much shorter than the centre line.
    int n = 0;
    double last_x = 1e9, last_z = 1e9;
    for (double s = s0; s <= s1; s += 0.5) {
        track_station st = design_station_at(d, s);
        double lateral = side * (st.width / 2 + beyond);
        double x = st.x - st.tz * lateral, z = st.z + st.tx * lateral;
        if (std::hypot(x - last_x, z - last_z) < spacing)
            continue;
        if (clearance(d, x, z, st.s, 60) < beyond + k.depth)
            continue;
        add_statue(p, hf, x, z, heading_along(st.tx, st.tz), k, (n++ & 1) ? texture_b : texture_a);
        last_x = x;
        last_z = z;
    }
}

void place_statues(placed* p, const track_design& d, const heightfield* hf)
{
    if (arena_track(d)) {
        // Every lane lined on both sides, apart from the jumps and whoops
        // (a block beside a face would stand tilted on its slope) and the
        // start straight where the field funnels in from the chute.
        std::vector<std::pair<double, double>> gaps;
        for (const track_feature& f : d.features) {
            if (is_jump_or_whoops(f))
                gaps.emplace_back(f.s_begin - 6, f.s_end + 6);
            if (f.kind == feature_kind::start_straight)
                gaps.emplace_back(-60, f.s_end * 0.6);
        }
        gaps.emplace_back(d.length - 60, d.length + 1);
        std::sort(gaps.begin(), gaps.end());
        double s = 0;
        for (const auto& g : gaps) {
            if (g.first > s + 8) {
                statue_row(p, d, hf, s, g.first, 1, 3, 8, tuffblock, "tuffblock-red.png", "tuffblock-white.png");
                statue_row(p, d, hf, s, g.first, -1, 3, 8, tuffblock, "tuffblock-red.png", "tuffblock-white.png");
            }
            s = std::max(s, g.second);
        }
        // The arena wall: blue blocks round the floor's edge.
        const landform& l = d.land;
        double inset = 6;
        double x0 = l.arena_x0 + inset, x1 = l.arena_x1 - inset, z0 = l.arena_z0 + inset, z1 = l.arena_z1 - inset;
        const double edges[4][4] = {{x0, z0, x1, z0}, {x1, z0, x1, z1}, {x1, z1, x0, z1}, {x0, z1, x0, z0}};
        for (const auto& e : edges) {
            double len = std::hypot(e[2] - e[0], e[3] - e[1]);
            double tx = (e[2] - e[0]) / len, tz = (e[3] - e[1]) / len;
            for (double u = l.arena_corner; u <= len - l.arena_corner; u += 7) {
                double x = e[0] + tx * u, z = e[1] + tz * u;
                if (clearance(d, x, z, -1, 0) < 8)
                    continue;
                add_statue(p, hf, x, z, heading_along(tx, tz), tuffblock, "tuffblock-blue.png");
            }
        }
    } else {
        // Hay bales round the outside of every turn.
        for (const track_feature& f : d.features) {
            if (!is_turn(f))
                continue;
            statue_row(p, d, hf, f.s_begin - 10, f.s_end + 10, -f.direction, 5, 6, haybale, "haybale.png",
                       "haybale.png");
        }
        // Tuff blocks along both sides of the chute, behind the gate.
        const track_station& s0 = d.stations[0];
        for (int side = -1; side <= 1; side += 2)
            for (double a = -d.chute.length + 4; a <= -d.chute.gate_distance + 20; a += 8) {
                double lateral = side * (design_chute_width(d, a) / 2 + 4);
                double cx, cz;
                design_chute_point(d, a, &cx, &cz);
                double x = cx - s0.tz * lateral, z = cz + s0.tx * lateral;
                add_statue(p, hf, x, z, heading_along(s0.tx, s0.tz), tuffblock, "tuffblock-red.png");
            }
    }
}

void place_billboards(placed* p, const track_design& d, const heightfield* hf, unsigned seed)
{
    const std::string& dd = p->data_dir;
    double extent = hf->extent;
    // Trees in loose woods off the track (outside an arena and its banks).
    const double cell = 34;
    const char* const trees[3] = {"tree-pine.png", "tree-leafy.png", "tree-birch.png"};
    int gx = (int)(extent / cell);
    for (int j = 0; j < gx; j++)
        for (int i = 0; i < gx; i++) {
            double x = (i + 0.15 + 0.7 * hash01(i, j, seed)) * cell;
            double z = (j + 0.15 + 0.7 * hash01(i, j, seed + 1)) * cell;
            if (x < 12 || z < 12 || x > extent - 12 || z > extent - 12)
                continue;
            double wood = fractal_noise(seed + 3, x, z, 260, 3, 0.5);
            if (wood < 0.1 + 0.3 * hash01(i, j, seed + 2))
                continue;
            if (arena_track(d) && design_arena_depth(d, x, z) > -d.land.arena_rise_width - 70)
                continue;
            if (clearance(d, x, z, -1, 0) < d.shoulder + 14 || !p->free(x, z, 6))
                continue;
            int kind = (int)(hash_index(i, j, seed + 4) % 3);
            double size = 22 + 16 * hash01(i, j, seed + 5);
            int r = 215 + (int)(40 * hash01(i, j, seed + 6)), g = 225 + (int)(30 * hash01(i, j, seed + 7));
            char name[300];
            snprintf(name, sizeof name, "#%02x%02x%02x#%s%s", r, g, r, dd.c_str(), trees[kind]);
            billboard_add(&p->objects, hf, (float)x, -0.5f, (float)z, (float)size, 0.5f, name);
        }
    // Banners along both sides of the start straight.
    double straight_end = 0;
    for (const track_feature& f : d.features)
        if (f.kind == feature_kind::start_straight)
            straight_end = f.s_end;
    int n = 0;
    for (double s = 30; s < straight_end - 30; s += 42, n++)
        for (int side = -1; side <= 1; side += 2) {
            track_station st = design_station_at(d, s);
            double lateral = side * (st.width / 2 + 5);
            double x = st.x - st.tz * lateral, z = st.z + st.tx * lateral;
            if (clearance(d, x, z, s, 60) < 8)
                continue;
            std::string name = dd + "banner-" + std::to_string(1 + (n + (side > 0)) % 3) + ".png";
            billboard_add(&p->objects, hf, (float)x, 0.4f, (float)z, 2.6f, 4.0f, name.c_str());
        }
    if (arena_track(d)) {
        // Stands on the banks round the arena, banners on its wall.
        const landform& l = d.land;
        double out = l.arena_rise_width * 0.9;
        const double edges[4][4] = {{l.arena_x0 - out, l.arena_z0 - out, l.arena_x1 + out, l.arena_z0 - out},
                                    {l.arena_x1 + out, l.arena_z0 - out, l.arena_x1 + out, l.arena_z1 + out},
                                    {l.arena_x1 + out, l.arena_z1 + out, l.arena_x0 - out, l.arena_z1 + out},
                                    {l.arena_x0 - out, l.arena_z1 + out, l.arena_x0 - out, l.arena_z0 - out}};
        for (const auto& e : edges) {
            double len = std::hypot(e[2] - e[0], e[3] - e[1]);
            for (double u = 50; u <= len - 50; u += 66) {
                double x = e[0] + (e[2] - e[0]) * u / len, z = e[1] + (e[3] - e[1]) * u / len;
                if (x < 40 || z < 40 || x > extent - 40 || z > extent - 40)
                    continue;
                billboard_add(&p->objects, hf, (float)x, -1.0f, (float)z, 26.0f, 2.5f, (dd + "grandstand.png").c_str());
            }
        }
        double in = 14;
        int k = 0;
        const double wall[4][4] = {{l.arena_x0 + in, l.arena_z0 + in, l.arena_x1 - in, l.arena_z0 + in},
                                   {l.arena_x1 - in, l.arena_z0 + in, l.arena_x1 - in, l.arena_z1 - in},
                                   {l.arena_x1 - in, l.arena_z1 - in, l.arena_x0 + in, l.arena_z1 - in},
                                   {l.arena_x0 + in, l.arena_z1 - in, l.arena_x0 + in, l.arena_z0 + in}};
        for (const auto& e : wall) {
            double len = std::hypot(e[2] - e[0], e[3] - e[1]);
            for (double u = l.arena_corner; u <= len - l.arena_corner; u += 48, k++) {
                double x = e[0] + (e[2] - e[0]) * u / len, z = e[1] + (e[3] - e[1]) * u / len;
                if (clearance(d, x, z, -1, 0) < 10)
                    continue;
                std::string name = dd + "banner-" + std::to_string(1 + k % 3) + ".png";
                billboard_add(&p->objects, hf, (float)x, 0.4f, (float)z, 3.0f, 4.0f, name.c_str());
            }
        }
    }
}

// A point beside the ribbon at arc length s (side +1 right, -1 left).
void beside(const track_design& d, double s, int side, double beyond, double* x, double* z)
{
    track_station st = design_station_at(d, s);
    double lateral = side * (st.width / 2 + beyond);
    *x = st.x - st.tz * lateral;
    *z = st.z + st.tx * lateral;
}

// --- Dressing -------------------------------------------------------------------------

// What dresses the track stands this far (ft) from every ribbon and the
// chute at least: beyond where riders go, even wide on a turn's exit. The
// banners on posts and the podium have no collision shape, so that they
// cannot change a race.
const double dressing_clearance = 14;

// The first spot beside the ribbon between arc lengths s0 and s1 (either
// side, from `near` to `far` ft beyond its edge) where an object of radius
// r stands clear of the track, of what is already placed, of the
// terrain's edge and, in an arena, on the floor. False when there is none.
bool open_spot(const placed& p, const track_design& d, const heightfield* hf, double s0, double s1, double near,
               double far, double r, double* x, double* z, double* s_at, int* side)
{
    for (double beyond = near; beyond <= far; beyond += 5)
        for (double s = s0; s <= s1; s += 4)
            for (int sd = -1; sd <= 1; sd += 2) {
                double px, pz;
                beside(d, s, sd, beyond, &px, &pz);
                if (px < 40 || pz < 40 || px > hf->extent - 40 || pz > hf->extent - 40)
                    continue;
                if (arena_track(d) && design_arena_depth(d, px, pz) < r + 6)
                    continue;
                if (clearance(d, px, pz, -1, 0) < dressing_clearance + r || !p.free(px, pz, r + 2))
                    continue;
                *x = px;
                *z = pz;
                *s_at = s;
                *side = sd;
                return true;
            }
    return false;
}

// A statue with no collision shape, its front (-z) toward the ribbon on
// whose side (+1 right) it stands at arc length s.
void add_dressing(placed* p, const track_design& d, const heightfield* hf, double x, double z, double s, int side,
                  const std::string& model, const std::string& texture, double r)
{
    track_station st = design_station_at(d, s);
    double angle = side > 0 ? heading_along(st.tx, st.tz) : heading_along(-st.tx, -st.tz);
    std::string m = p->data_dir + model, t = p->data_dir + texture;
    statue_add(&p->objects, hf, (float)x, 0.0f, (float)z, (float)angle, m.c_str(), t.c_str(), nullptr, nullptr);
    p->taken.push_back({x, z, r});
}

// An arc length brought into 0..length.
double wrap_s(const track_design& d, double around)
{
    return std::fmod(std::fmod(around, d.length) + d.length, d.length);
}

void place_dressing(placed* p, const track_design& d, const heightfield* hf)
{
    double straight_end = 0;
    for (const track_feature& f : d.features)
        if (f.kind == feature_kind::start_straight)
            straight_end = f.s_end;
    // The podium beside the start straight, near the finish line.
    double x, z, at;
    int side;
    const double podium_r = std::hypot(podium_width, podium_depth) / 2;
    for (double s = 30; s < std::max(straight_end, 400.0); s += 40)
        if (open_spot(*p, d, hf, s, s + 40, 20, 60, podium_r, &x, &z, &at, &side)) {
            add_dressing(p, d, hf, x, z, at, side, "podium.qm", "podium.png", podium_r);
            break;
        }
    // A banner on posts outside every turn, facing the riders coming in.
    int n = 0;
    for (const track_feature& f : d.features) {
        if (!is_turn(f))
            continue;
        double mid = wrap_s(d, (f.s_begin + f.s_end) / 2);
        const double r = banner_frame_width / 2;
        if (!open_spot(*p, d, hf, mid - 20, mid + 20, 8, 30, r, &x, &z, &at, &side))
            continue;
        std::string texture = "bannerframe-" + std::to_string(1 + n++ % 3) + ".png";
        add_dressing(p, d, hf, x, z, at, side, "bannerframe.qm", texture, r);
    }
}

// Fans at the rope beside every jump and the apex of every turn: on both
// sides where there is room, far enough back to be safe.
void place_fans(placed* p, const track_design& d, const heightfield* hf)
{
    const std::string& dd = p->data_dir;
    const double size = 5.5, aspect = 2, r = size * aspect / 2;
    int n = 0;
    for (const track_feature& f : d.features) {
        double at;
        if (f.kind == feature_kind::tabletop || f.kind == feature_kind::double_jump)
            at = f.s_lip;
        else if (is_turn(f))
            at = (f.s_begin + f.s_end) / 2;
        else
            continue;
        at = wrap_s(d, at);
        for (int side = -1; side <= 1; side += 2) {
            for (double beyond = 16; beyond <= 30; beyond += 7) {
                double x, z;
                beside(d, at, side, beyond, &x, &z);
                if (x < 20 || z < 20 || x > hf->extent - 20 || z > hf->extent - 20)
                    continue;
                if (arena_track(d) && design_arena_depth(d, x, z) < 4)
                    continue;
                if (clearance(d, x, z, -1, 0) < dressing_clearance || !p->free(x, z, r + 1))
                    continue;
                std::string name = dd + "fans-" + std::to_string(1 + n++ % 3) + ".png";
                billboard_add(&p->objects, hf, (float)x, -0.3f, (float)z, (float)size, (float)aspect, name.c_str());
                p->taken.push_back({x, z, r});
                break;
            }
        }
    }
}

std::string flaggers_text(const track_design& d, const gate_layout& timing, const std::string& dd)
{
    std::string text;
    char line[512];
    // The starter stands beside the chute at the gate line (on the
    // riders' left) and walks away from it after the drop.
    const track_station& s0 = d.stations[0];
    double cx, cz;
    design_chute_point(d, -d.chute.gate_distance + 4, &cx, &cz);
    double half = design_chute_width(d, -d.chute.gate_distance + 4) / 2;
    double ax = cx + s0.tz * (half + 5), az = cz - s0.tx * (half + 5);
    double bx = cx + s0.tz * (half + 17), bz = cz - s0.tx * (half + 17);
    snprintf(line, sizeof line, "[%f %f %f] [%f %f %f] %f %f %f\n", ax, 0.0, az, bx, 0.0, bz, 6.0, 0.5, 3.0);
    text += line;
    for (int k = 0; k < 5; k++)
        text += dd + start_flagger_names[k] + (k < 4 ? " " : "\n");
    // The finish flagger beside the finish line.
    double fx, fz;
    beside(d, 3, -1, 6, &fx, &fz);
    snprintf(line, sizeof line, "[%f %f %f] %f %f\n", fx, 0.0, fz, 6.0, 0.5);
    text += line;
    for (int k = 0; k < 4; k++)
        text += dd + finish_flagger_names[k] + (k < 3 ? " " : "\n");
    // A course flagger beside every jump, watching the checkpoint before
    // it: a rider down on the jump has passed that one last.
    int n = 0;
    for (const track_feature& f : d.features) {
        if (f.kind != feature_kind::tabletop && f.kind != feature_kind::double_jump)
            continue;
        int gate = -1;
        double best = -1;
        for (size_t k = 0; k < timing.checkpoints.size(); k++) {
            double s = timing.checkpoints[k].s;
            if (s < f.s_begin && s > best) {
                best = s;
                gate = (int)k;
            }
        }
        if (gate < 0)
            gate = (int)timing.checkpoints.size() - 1;  // before the first: the finish line
        int side = (n++ & 1) ? 1 : -1;
        double x, z;
        beside(d, f.s_lip, side, 7, &x, &z);
        if (clearance(d, x, z, f.s_lip, 60) < 6)
            beside(d, f.s_lip, -side, 7, &x, &z);
        snprintf(line, sizeof line, "[%f %f %f] %f %f %d %d %d %d %s%s %s%s\n", x, 0.0, z, 6.0, 0.5, gate, -1, -1, -1,
                 dd.c_str(), course_flagger_name, dd.c_str(), course_flagger_alert_name);
        text += line;
    }
    return text;
}

// The decal record for a picture across the ribbon (its s axis to the
// rider's right) at a place facing along (tx, tz).
decal across(double x, double z, double tx, double tz, double size, double aspect, const std::string& name)
{
    decal dc;
    dc.x = (float)x;
    dc.z = (float)z;
    dc.angle = (float)std::atan2(-tx, -tz);
    dc.size = (float)size;
    dc.aspect = (float)aspect;
    dc.texture_name = mem_strdup(name.c_str());
    if (!dc.texture_name)
        abort();
    return dc;
}

// The ruts span the gate's pieces, from the gate line back this far (ft).
const double ruts_length = 8;

double gate_span(const track_design& d)
{
    return d.chute.gate_pieces * d.chute.piece_spacing;
}

void place_decals(heightfield* hf, const track_design& d, placed* p)
{
    const std::string& dd = p->data_dir;
    int n = 0;
    auto insert = [&](decal dc) { decal_insert(hf, n++, &dc); };
    // The finish line: 32 squares across the ribbon, two deep.
    const track_station& s0 = d.stations[0];
    insert(across(s0.x, s0.z, s0.tx, s0.tz, s0.width / 16, 16, dd + "decal-finish.png"));
    // The ruts the rear wheels dig behind the gate, one behind each piece,
    // under the gate line painted across the chute.
    double cx, cz;
    design_chute_point(d, -d.chute.gate_distance - ruts_length / 2, &cx, &cz);
    insert(across(cx, cz, s0.tx, s0.tz, ruts_length, gate_span(d) / ruts_length, dd + "decal-ruts.png"));
    design_chute_point(d, -d.chute.gate_distance, &cx, &cz);
    insert(across(cx, cz, s0.tx, s0.tz, 1.0, design_chute_width(d, -d.chute.gate_distance) - 4,
                  dd + "decal-line.png"));
    // A logo on open ground: the arena floor's widest free spot, or the
    // grass beside the start straight.
    double lx, lz, size;
    if (arena_track(d)) {
        lx = d.land.arena_x0 + 70;
        lz = (d.land.arena_z0 + d.land.arena_z1) / 2 - 120;
        size = 48;
    } else {
        beside(d, 140, -1, 34, &lx, &lz);
        size = 24;
    }
    insert(across(lx, lz, s0.tx, s0.tz, size, 1, dd + "decal-logo.png"));
    p->taken.push_back({lx, lz, size * 0.75});
    // The track's name, read by the riders coming down the start
    // straight, on open ground beside it.
    double wx, wz, at;
    int side;
    const double height = 9, aspect = 4;
    if (open_spot(*p, d, hf, 160, 600, 10, 40, height * aspect / 2, &wx, &wz, &at, &side)) {
        track_station st = design_station_at(d, at);
        insert(across(wx, wz, st.tx, st.tz, height, aspect, dd + "decal-wordmark.png"));
    }
}

void write_assets(asset_writer& w, const track_design& d)
{
    w.model(tuffblock.model, box_model(tuffblock));
    w.text(tuffblock.shape, box_shape(tuffblock));
    w.model(haybale.model, box_model(haybale));
    w.text(haybale.shape, box_shape(haybale));
    w.file("tuffblock-red.png", canvas_png(tuffblock_texture(rgb_colour(200, 36, 32)), false));
    w.file("tuffblock-white.png", canvas_png(tuffblock_texture(rgb_colour(236, 236, 232)), false));
    w.file("tuffblock-blue.png", canvas_png(tuffblock_texture(rgb_colour(30, 70, 180)), false));
    w.file("haybale.png", canvas_png(haybale_texture(), false));
    w.file("tree-pine.png", canvas_png(tree_picture(tree_kind::pine, 0x9111u), true));
    w.file("tree-leafy.png", canvas_png(tree_picture(tree_kind::leafy, 0x1eafu), true));
    w.file("tree-birch.png", canvas_png(tree_picture(tree_kind::birch, 0xb1cu), true));
    const canvas banners[3] = {
        banner_picture("KESSRIG", rgb_colour(200, 30, 30), rgb_colour(255, 255, 255), rgb_colour(255, 255, 255)),
        banner_picture(upper(d.display_name), rgb_colour(20, 50, 150), rgb_colour(255, 220, 40),
                       rgb_colour(255, 220, 40)),
        banner_picture("MOTOCROSS", rgb_colour(250, 250, 250), rgb_colour(20, 20, 20), rgb_colour(230, 120, 20)),
    };
    for (int k = 0; k < 3; k++)
        w.file("banner-" + std::to_string(k + 1) + ".png", canvas_png(banners[k], true));
    w.file("grandstand.png", canvas_png(grandstand_picture(0x57a9u), true));
    for (const flagger_file& f : flagger_files())
        w.file(f.name, f.data);
    w.file("fans-1.png", canvas_png(fans_picture(0xFA41u), true));
    w.file("fans-2.png", canvas_png(fans_picture(0xFA42u), true));
    w.file("fans-3.png", canvas_png(fans_picture(0xFA43u), true));

    w.model("bannerframe.qm", banner_frame_model());
    w.file("bannerframe-1.png", canvas_png(banner_frame_texture(banners[0]), false));
    w.file("bannerframe-2.png", canvas_png(banner_frame_texture(banners[1]), false));
    w.file("bannerframe-3.png", canvas_png(banner_frame_texture(banners[2]), false));
    w.model("podium.qm", podium_model());
    w.file("podium.png", canvas_png(podium_texture(), false));
    w.file("podium_norm.png", canvas_png(podium_normal_map(), false));
    w.file("podium_spec.png", canvas_png(podium_specular_map(), true));
    // One pair of maps for the blocks of every colour and one for the
    // bales, found through the models' names.
    w.file("tuffblock_norm.png", canvas_png(tuffblock_normal_map(), false));
    w.file("tuffblock_spec.png", canvas_png(tuffblock_specular_map(), true));
    w.file("haybale_norm.png", canvas_png(haybale_normal_map(), false));
    w.file("haybale_spec.png", canvas_png(haybale_specular_map(), true));

    w.decal("decal-finish", painted_decal(finish_decal_picture(32), 0.15, 12));
    w.decal("decal-ruts", ruts_decal(d.chute.gate_pieces, gate_span(d), ruts_length));
    w.decal("decal-line", painted_decal(line_decal_picture(), 0.15, 12));
    w.decal("decal-logo", painted_decal(logo_decal_picture("K"), 0.4, 40));
    w.decal("decal-wordmark", painted_decal(wordmark_decal_picture(upper(d.display_name)), 0.4, 40));
}

}  // namespace

bool write_track_objects(output& out, const track_design& d, const gate_layout& timing, heightfield* hf)
{
    const std::string dir = d.dir + "/";
    asset_writer w{out, dir};
    write_assets(w, d);
    if (!w.ok)
        return false;

    placed p;
    p.data_dir = "@" + dir;
    place_statues(&p, d, hf);
    place_dressing(&p, d, hf);
    place_fans(&p, d, hf);
    place_billboards(&p, d, hf, d.seed + 0x0b1u);
    place_decals(hf, d, &p);
    // The game's writers, straight into the track's directory.
    const std::string path = out.dir + d.dir;
    bool ok = statues_write(&p.objects, path.c_str(), 0) && billboards_write(&p.objects, path.c_str(), 0) &&
              decals_write(hf, path.c_str());
    decals_free(hf);
    if (!ok) {
        fprintf(stderr, "kessrig-mkdata: can't write the objects of %s\n", path.c_str());
        return false;
    }
    out.files_written += 3;
    return write_text(out, dir + "flaggers", flaggers_text(d, timing, p.data_dir));
}

}  // namespace mkdata
