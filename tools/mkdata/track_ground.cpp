// Terrain synthesis of a generated track: land, natural noise, the graded
// ribbon with its features, and the ground kind of the tile-map corners.
#include "track_ground.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "render/picture.h"

namespace mkdata {

namespace {

double clamp01(double v) { return v < 0 ? 0 : v > 1 ? 1 : v; }
double smoothstep(double e0, double e1, double v)
{
    double t = clamp01((v - e0) / (e1 - e0));
    return t * t * (3 - 2 * t);
}

// How far (ft) beyond the shoulder the natural noise is still damped.
const double quiet_reach = 80;
// Coarse stations for the search, every this many fine stations.
const int coarse = 4;

// Finds, for a point, the nearby passes of the centre line.
struct locator {
    const track_design* d = nullptr;
    double bucket = 16;
    int dim = 0;
    std::vector<std::vector<int>> buckets;  // coarse station numbers

    void build(const track_design& design, double extent)
    {
        d = &design;
        dim = (int)std::ceil(extent / bucket) + 1;
        buckets.assign((size_t)dim * dim, {});
        int count = (int)design.stations.size();
        for (int k = 0; k < count; k += coarse) {
            const track_station& st = design.stations[k];
            double reach = st.width / 2 + design.shoulder + quiet_reach + 4;
            int x0 = std::max(0, (int)std::floor((st.x - reach) / bucket));
            int x1 = std::min(dim - 1, (int)std::floor((st.x + reach) / bucket));
            int z0 = std::max(0, (int)std::floor((st.z - reach) / bucket));
            int z1 = std::min(dim - 1, (int)std::floor((st.z + reach) / bucket));
            for (int bz = z0; bz <= z1; bz++)
                for (int bx = x0; bx <= x1; bx++)
                    buckets[(size_t)bz * dim + bx].push_back(k);
        }
    }

    const std::vector<int>* at(double x, double z) const
    {
        int bx = (int)std::floor(x / bucket), bz = (int)std::floor(z / bucket);
        if (bx < 0 || bz < 0 || bx >= dim || bz >= dim)
            return nullptr;
        return &buckets[(size_t)bz * dim + bx];
    }
};

struct candidate {
    double weight = 0;     // how much of the design height applies
    double height = 0;     // design height
    double beyond = 1e9;   // ft beyond the ribbon edge (negative inside)
    int ground = -1;       // ground kind when on the ribbon
};

double shoulder_weight(double beyond, double shoulder)
{
    // Full design height to a foot and a half past the edge, so the edge
    // cells are graded too; then a smooth fall into the land.
    return 1 - smoothstep(1.5, shoulder, beyond);
}

// The loop pass whose nearest coarse station is k, refined to the foot point.
candidate loop_candidate(const track_design& d, int k, double x, double z)
{
    int count = (int)d.stations.size();
    int best = k;
    double best_d2 = 1e300;
    for (int i = k - coarse; i <= k + coarse; i++) {
        const track_station& st = d.stations[((i % count) + count) % count];
        double d2 = (x - st.x) * (x - st.x) + (z - st.z) * (z - st.z);
        if (d2 < best_d2) {
            best_d2 = d2;
            best = ((i % count) + count) % count;
        }
    }
    const track_station& near = d.stations[best];
    double along = (x - near.x) * near.tx + (z - near.z) * near.tz;
    along = std::clamp(along, -d.station_step, d.station_step);
    track_station st = design_station_at(d, near.s + along);
    double lateral = -(x - st.x) * st.tz + (z - st.z) * st.tx;
    candidate c;
    c.beyond = std::fabs(lateral) - st.width / 2;
    c.weight = shoulder_weight(c.beyond, d.shoulder);
    c.height = station_height(st, lateral);
    c.ground = c.beyond <= 0 ? st.ground : -1;
    return c;
}

candidate chute_candidate(const track_design& d, double x, double z)
{
    const track_station& s0 = d.stations[0];
    double along = (x - s0.x) * s0.tx + (z - s0.z) * s0.tz;
    double lateral = -(x - s0.x) * s0.tz + (z - s0.z) * s0.tx;
    candidate c;
    double len = d.chute.length;
    if (along < -len - d.shoulder - quiet_reach || along > 20)
        return c;
    double w = design_chute_width(d, std::clamp(along, -len, 0.0));
    double side = std::fabs(lateral) - w / 2;
    double back = -len - along;  // ft behind the rear edge
    c.beyond = std::max(side, back);
    c.weight = shoulder_weight(side, d.shoulder) * shoulder_weight(back, d.shoulder);
    if (along > 0)
        c.weight *= smoothstep(20, 0, along);
    c.height = s0.grade;
    c.ground = c.beyond <= 0 && along <= 0 ? ground_dirt : -1;
    return c;
}

struct probe_result {
    double weight = 0, height = 0, beyond = 1e9;
    int ground = -1;
};

probe_result probe(const locator& loc, double x, double z)
{
    const track_design& d = *loc.d;
    int count = (int)d.stations.size();
    auto dist2 = [&](int k) {
        const track_station& st = d.stations[((k % count) + count) % count];
        return (x - st.x) * (x - st.x) + (z - st.z) * (z - st.z);
    };
    probe_result r;
    double wsum = 0, hsum = 0;
    auto add = [&](const candidate& c) {
        r.beyond = std::min(r.beyond, c.beyond);
        if (c.ground >= 0 && (r.ground < 0 || c.beyond < 0))
            r.ground = c.ground;
        if (c.weight > 0) {
            r.weight = std::max(r.weight, c.weight);
            wsum += c.weight;
            hsum += c.weight * c.height;
        }
    };
    // Every pass of the line near the point shows as a local minimum of
    // the distance along the line; each one grades the ground around it.
    if (const std::vector<int>* list = loc.at(x, z)) {
        for (int k : *list) {
            double dk = dist2(k);
            if (dk < dist2(k - coarse) && dk <= dist2(k + coarse))
                add(loop_candidate(d, k, x, z));
        }
    }
    add(chute_candidate(d, x, z));
    if (wsum > 0)
        r.height = hsum / wsum;
    return r;
}

// Off the track: grass, with a few sandy patches far enough from the
// ribbon not to be mistaken for it.
int off_track_ground(const track_design& d, double x, double z, double beyond)
{
    if (design_arena_depth(d, x, z) >= 0)
        return d.land.arena_ground;
    if (beyond > 20 && fractal_noise(d.seed + 57, x, z, 160, 3, 0.5) > 0.75)
        return ground_sand;
    return ground_grass;
}

}  // namespace

void synthesize_ground(const track_design& d, track_ground* g)
{
    g->grid_log2 = d.grid_log2;
    g->cells = 1 << d.grid_log2;
    g->sample_count = 2 * g->cells + 1;
    g->spacing = d.spacing;
    int n = g->sample_count;
    double extent = d.spacing * (n - 1);
    locator loc;
    loc.build(d, extent);

    g->heights.assign((size_t)n * n, 0.0f);
    g->ribbon.assign((size_t)n * n, 0);
    int cn = g->cells + 1;
    g->corners.assign((size_t)cn * cn, ground_grass);
    for (int row = 0; row < n; row++) {
        for (int col = 0; col < n; col++) {
            double x = col * d.spacing, z = row * d.spacing;
            probe_result p = probe(loc, x, z);
            // Natural ground: the land plus rolling detail, damped near
            // the track so the ribbon runs through quiet ground.
            double quiet = 0.25 + 0.75 * smoothstep(0, d.shoulder + quiet_reach, p.beyond);
            // An arena floor is graded level.
            quiet *= smoothstep(0, 30, -design_arena_depth(d, x, z));
            double detail = 2.2 * fractal_noise(d.seed, x, z, 160, 4, 0.45) +
                            0.25 * fractal_noise(d.seed + 7, x, z, 18, 2, 0.5);
            double natural = design_land_height(d, x, z) + quiet * detail;
            double h = natural + p.weight * (p.height - natural);
            size_t i = (size_t)row * n + col;
            g->heights[i] = (float)h;
            g->ribbon[i] = (uint8_t)std::lround(p.weight * 255);
            if ((row & 1) == 0 && (col & 1) == 0) {
                int ground = p.ground >= 0 ? p.ground : off_track_ground(d, x, z, p.beyond);
                g->corners[(size_t)(row / 2) * cn + col / 2] = (uint8_t)ground;
            }
        }
    }
    // Quantise as "terrain.hf" will store the heights: 16-bit samples over
    // whole feet bracketing the terrain, decoded the way the loader does.
    auto mm = std::minmax_element(g->heights.begin(), g->heights.end());
    double lo = std::floor(*mm.first) - 1, hi = std::ceil(*mm.second) + 1;
    g->file_h0 = lo;
    g->file_h1 = hi;
    for (float& h : g->heights) {
        long v = std::lround((h - lo) / (hi - lo) * 65535);
        long double q = (long double)std::clamp(v, 0L, 65535L);
        h = (float)((long double)lo + q * ((long double)hi - (long double)lo) / 65535.0L);
    }
    mm = std::minmax_element(g->heights.begin(), g->heights.end());
    g->height_min = *mm.first;
    g->height_max = *mm.second;
}

bool ground_heightfield(const track_ground& g, heightfield* hf)
{
    if (!heightfield_create(hf, g.grid_log2, (float)g.spacing, g.heights.data()))
        return false;
    // The file's range, not the terrain's own: the samples were quantised
    // against it, so writing them again gives the same 16-bit values.
    hf->height_min = (float)g.file_h0;
    hf->height_max = (float)g.file_h1;
    return true;
}

bool write_terrain(output& out, const std::string& dir, const track_ground& g)
{
    heightfield hf;
    if (!ground_heightfield(g, &hf)) {
        fprintf(stderr, "kessrig-mkdata: bad terrain grid for %s\n", dir.c_str());
        return false;
    }
    picture_bytes hf_file, png_file;
    bool ok = terrain_encode(&hf, false, &hf_file, &png_file);
    heightfield_free(&hf);
    if (ok)
        ok = write_file(out, dir + "terrain.hf", bytes(hf_file.data, hf_file.data + hf_file.size)) &&
             write_file(out, dir + "terrain.png", bytes(png_file.data, png_file.data + png_file.size));
    else
        fprintf(stderr, "kessrig-mkdata: can't encode the terrain of %s\n", dir.c_str());
    picture_bytes_free(&hf_file);
    picture_bytes_free(&png_file);
    return ok;
}

// --- Lighting ---------------------------------------------------------------

void light_sun(const track_light& light, double sun[3])
{
    double len = std::sqrt(light.sun[0] * light.sun[0] + light.sun[1] * light.sun[1] + light.sun[2] * light.sun[2]);
    for (int k = 0; k < 3; k++)
        sun[k] = light.sun[k] / len;
}

std::string lighting_text(const track_light& light, const std::string& dir)
{
    double sun[3];
    light_sun(light, sun);
    // Fog fades the far ground into the haze the sky shows at the horizon.
    const double* fog = light.sky.horizon;
    char text[640];
    snprintf(text, sizeof text,
             "sun_vector [ %f %f %f ]\n"
             "sun_color [ %f %f %f ]\n"
             "ambient [ %f %f %f ]\n"
             "global_ambient [ 0.200000 0.200000 0.220000 ]\n"
             "fog [ %f %f %f ] 0.000250\n"
             "near_plane 0.250000\n"
             "far_plane 6000.000000\n",
             sun[0], sun[1], sun[2], light.sun_color[0], light.sun_color[1], light.sun_color[2], light.ambient[0],
             light.ambient[1], light.ambient[2], fog[0] / 255, fog[1] / 255, fog[2] / 255);
    std::string out = text;
    if (light.dynamic)
        out += "dynamic_lighting 1\n";
    if (light.own_sky) {
        static const char* const keys[SKY_FACE_COUNT] = {"sky_n", "sky_e", "sky_s", "sky_w", "sky_u"};
        for (int f = 0; f < SKY_FACE_COUNT; f++)
            out += std::string(keys[f]) + " @" + dir + sky_face_names[f] + "\n";
        out += std::string("sky_env @") + dir + sky_env_name + "\n";
    }
    return out + sun_flare_lines(sun, light.sun_color);
}

terrain_light loaded_light(const track_light& light)
{
    // Read back what lighting_text printed, so the baked maps match the
    // values the game relights with.
    std::string text = lighting_text(light, "");
    terrain_light t;
    float* dest[3] = {t.sun_vector, t.sun_color, t.ambient};
    const char* p = text.c_str();
    for (int line = 0; line < 3; line++) {
        p = strchr(p, '[') + 1;
        for (int c = 0; c < 3; c++) {
            char* end;
            dest[line][c] = strtof(p, &end);
            p = end;
        }
    }
    float len = std::sqrt(t.sun_vector[0] * t.sun_vector[0] + t.sun_vector[1] * t.sun_vector[1] +
                          t.sun_vector[2] * t.sun_vector[2]);
    for (float& c : t.sun_vector)
        c /= len;
    return t;
}

void bake_lighting(heightfield* hf, const track_light& light)
{
    terrain_light t = loaded_light(light);
    heightfield_cast_shadows(hf, t.sun_vector, 0.05f, hf->shadow_map);
    heightfield_relight_all(hf, &t);
}

bool write_lighting(output& out, const std::string& dir, const track_ground& g, const track_light& light)
{
    if (!write_text(out, dir + "lighting", lighting_text(light, dir)))
        return false;
    if (light.own_sky) {
        double sun[3];
        light_sun(light, sun);
        if (!write_sky(out, dir, light.sky, sun))
            return false;
    }
    heightfield hf;
    if (!ground_heightfield(g, &hf))
        return false;
    bake_lighting(&hf, light);
    picture_bytes shading, shadows;
    bool ok = terrain_encode_lighting(&hf, &shading, &shadows);
    heightfield_free(&hf);
    if (ok)
        ok = write_file(out, dir + "shadingx2.ppm", bytes(shading.data, shading.data + shading.size)) &&
             write_file(out, dir + "shadows.pgm", bytes(shadows.data, shadows.data + shadows.size));
    else
        fprintf(stderr, "kessrig-mkdata: can't encode the lighting of %s\n", dir.c_str());
    picture_bytes_free(&shading);
    picture_bytes_free(&shadows);
    return ok;
}

}  // namespace mkdata
