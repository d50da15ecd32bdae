// Building a circuit description from a designer's plan, and the queries
// that everything derived from a track uses.
#include "track_design.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>

namespace mkdata {

namespace {

const double pi = 3.14159265358979323846;

double clamp01(double v) { return v < 0 ? 0 : v > 1 ? 1 : v; }
double smoothstep(double e0, double e1, double v)
{
    double t = clamp01((v - e0) / (e1 - e0));
    return t * t * (3 - 2 * t);
}

// --- Noise -------------------------------------------------------------------

uint32_t hash3(uint32_t a, uint32_t b, uint32_t seed)
{
    uint32_t h = seed * 0x9E3779B9u ^ a * 0x85EBCA6Bu ^ b * 0xC2B2AE35u;
    h ^= h >> 16;
    h *= 0x7FEB352Du;
    h ^= h >> 15;
    h *= 0x846CA68Bu;
    h ^= h >> 16;
    return h;
}

// Sixteen unit gradient directions, fixed so no library trigonometry
// decides the terrain.
const double gradients[16][2] = {
    {1.0, 0.0},        {0.92387953, 0.38268343},   {0.70710678, 0.70710678},  {0.38268343, 0.92387953},
    {0.0, 1.0},        {-0.38268343, 0.92387953},  {-0.70710678, 0.70710678}, {-0.92387953, 0.38268343},
    {-1.0, 0.0},       {-0.92387953, -0.38268343}, {-0.70710678, -0.70710678}, {-0.38268343, -0.92387953},
    {0.0, -1.0},       {0.38268343, -0.92387953},  {0.70710678, -0.70710678}, {0.92387953, -0.38268343},
};

double corner(unsigned seed, int64_t ix, int64_t iy, double fx, double fy)
{
    const double* g = gradients[hash3((uint32_t)ix, (uint32_t)iy, seed) & 15];
    return g[0] * fx + g[1] * fy;
}

double fade(double t) { return t * t * t * (t * (t * 6 - 15) + 10); }

// --- Periodic cubic spline -----------------------------------------------

// Solves a small dense system in place (Gaussian elimination with partial
// pivoting); n is at most a few dozen control points.
void solve(std::vector<double>& a, std::vector<double>& b, int n)
{
    for (int c = 0; c < n; c++) {
        int p = c;
        for (int r = c + 1; r < n; r++)
            if (std::fabs(a[r * n + c]) > std::fabs(a[p * n + c]))
                p = r;
        if (p != c) {
            for (int k = 0; k < n; k++)
                std::swap(a[c * n + k], a[p * n + k]);
            std::swap(b[c], b[p]);
        }
        for (int r = c + 1; r < n; r++) {
            double f = a[r * n + c] / a[c * n + c];
            if (f == 0)
                continue;
            for (int k = c; k < n; k++)
                a[r * n + k] -= f * a[c * n + k];
            b[r] -= f * b[c];
        }
    }
    for (int r = n - 1; r >= 0; r--) {
        double v = b[r];
        for (int k = r + 1; k < n; k++)
            v -= a[r * n + k] * b[k];
        b[r] = v / a[r * n + r];
    }
}

// A closed C2 cubic spline through the control points, parameterised by
// chord length, so the curvature (and with it the berms' bank) is
// continuous along the whole lap.
struct closed_spline {
    int n = 0;
    std::vector<double> px, pz, h, mx, mz;

    void build(const std::vector<double>& pts)
    {
        n = (int)pts.size() / 2;
        px.resize(n);
        pz.resize(n);
        h.resize(n);
        for (int i = 0; i < n; i++) {
            px[i] = pts[2 * i];
            pz[i] = pts[2 * i + 1];
        }
        for (int i = 0; i < n; i++) {
            int j = (i + 1) % n;
            h[i] = std::hypot(px[j] - px[i], pz[j] - pz[i]);
        }
        mx = second_derivatives(px);
        mz = second_derivatives(pz);
    }

    std::vector<double> second_derivatives(const std::vector<double>& p) const
    {
        std::vector<double> a((size_t)n * n, 0.0), b(n, 0.0);
        for (int i = 0; i < n; i++) {
            int im = (i + n - 1) % n, ip = (i + 1) % n;
            a[i * n + im] += h[im];
            a[i * n + i] += 2 * (h[im] + h[i]);
            a[i * n + ip] += h[i];
            b[i] = 6 * ((p[ip] - p[i]) / h[i] - (p[i] - p[im]) / h[im]);
        }
        solve(a, b, n);
        return b;
    }

    // Segment i at parameter t in 0..h[i]: value, first and second derivative.
    void eval(int i, double t, double out[6]) const
    {
        int j = (i + 1) % n;
        double hi = h[i], u = hi - t;
        const double* P[2] = {px.data(), pz.data()};
        const double* M[2] = {mx.data(), mz.data()};
        for (int c = 0; c < 2; c++) {
            double m0 = M[c][i], m1 = M[c][j], p0 = P[c][i], p1 = P[c][j];
            double v = m0 * u * u * u / (6 * hi) + m1 * t * t * t / (6 * hi) + (p0 / hi - m0 * hi / 6) * u +
                       (p1 / hi - m1 * hi / 6) * t;
            double d1 = -m0 * u * u / (2 * hi) + m1 * t * t / (2 * hi) - (p0 / hi - m0 * hi / 6) +
                        (p1 / hi - m1 * hi / 6);
            double d2 = m0 * u / hi + m1 * t / hi;
            out[c] = v;
            out[2 + c] = d1;
            out[4 + c] = d2;
        }
    }
};

// --- Profiles along the line ----------------------------------------------

// Moving average over +-half (in stations), periodic.
void box_smooth(std::vector<double>& v, int half)
{
    int n = (int)v.size();
    if (half <= 0 || n == 0)
        return;
    std::vector<double> out(n);
    double sum = 0;
    for (int k = -half; k <= half; k++)
        sum += v[((k % n) + n) % n];
    for (int i = 0; i < n; i++) {
        out[i] = sum / (2 * half + 1);
        sum += v[(i + half + 1) % n] - v[((i - half) % n + n) % n];
    }
    v.swap(out);
}

// Three box passes make a smooth bell close to a Gaussian of this sigma.
void gauss_smooth(std::vector<double>& v, double sigma_stations)
{
    int half = (int)std::lround(sigma_stations);
    for (int pass = 0; pass < 3; pass++)
        box_smooth(v, half);
}

double takeoff_profile(double u, double length, double height)
{
    // The slope builds over the first 40% of the face and then holds at
    // the lip angle: a straight face with a rounded foot.
    const double a = 0.4;
    double x = clamp01(u / length);
    double k = height / (1 - a / 2);  // face slope times length
    return x <= a ? k * x * x / (2 * a) : k * (x - a / 2);
}

double landing_profile(double u, double length, double height)
{
    // Convex then concave, steepest in the middle.
    double x = clamp01(u / length);
    return height * 0.5 * (1 + std::cos(pi * x));
}

const double jump_back_deg = 35;  // back of a double's take-off, front of its landing

}  // namespace

// --- Noise (public) -----------------------------------------------------

double smooth_noise(unsigned seed, double x, double y)
{
    double fx0 = std::floor(x), fy0 = std::floor(y);
    int64_t ix = (int64_t)fx0, iy = (int64_t)fy0;
    double fx = x - fx0, fy = y - fy0;
    double n00 = corner(seed, ix, iy, fx, fy);
    double n10 = corner(seed, ix + 1, iy, fx - 1, fy);
    double n01 = corner(seed, ix, iy + 1, fx, fy - 1);
    double n11 = corner(seed, ix + 1, iy + 1, fx - 1, fy - 1);
    double u = fade(fx), v = fade(fy);
    double a = n00 + (n10 - n00) * u, b = n01 + (n11 - n01) * u;
    return (a + (b - a) * v) * 1.4142135623730951;
}

double fractal_noise(unsigned seed, double x, double z, double wavelength, int octaves, double gain)
{
    double sum = 0, amp = 1, f = 1 / wavelength;
    for (int o = 0; o < octaves; o++) {
        // Each octave is shifted so their lattices do not line up.
        sum += amp * smooth_noise(seed + 1013u * (unsigned)o, x * f + 0.37 * o, z * f + 0.71 * o);
        amp *= gain;
        f *= 2;
    }
    return sum;
}

// --- Building -------------------------------------------------------------

const char* feature_kind_name(feature_kind k)
{
    switch (k) {
    case feature_kind::start_straight: return "start_straight";
    case feature_kind::first_turn: return "first_turn";
    case feature_kind::berm: return "berm";
    case feature_kind::flat_turn: return "flat_turn";
    case feature_kind::tabletop: return "tabletop";
    case feature_kind::double_jump: return "double";
    case feature_kind::whoops: return "whoops";
    }
    return "?";
}

double design_arena_depth(const track_design& d, double x, double z)
{
    const landform& l = d.land;
    if (!(l.arena_x1 > l.arena_x0) || !(l.arena_z1 > l.arena_z0))
        return -1e9;
    // Signed distance to a rounded rectangle, positive inside.
    double r = std::min({l.arena_corner, (l.arena_x1 - l.arena_x0) / 2, (l.arena_z1 - l.arena_z0) / 2});
    double cx = (l.arena_x0 + l.arena_x1) / 2, cz = (l.arena_z0 + l.arena_z1) / 2;
    double qx = std::fabs(x - cx) - ((l.arena_x1 - l.arena_x0) / 2 - r);
    double qz = std::fabs(z - cz) - ((l.arena_z1 - l.arena_z0) / 2 - r);
    double outside = std::hypot(std::max(qx, 0.0), std::max(qz, 0.0)) + std::min(std::max(qx, qz), 0.0) - r;
    return -outside;
}

double design_land_height(const track_design& d, double x, double z)
{
    const landform& l = d.land;
    double h = 0;
    for (const land_hill& hill : l.hills) {
        double r2 = ((x - hill.x) * (x - hill.x) + (z - hill.z) * (z - hill.z)) / (hill.radius * hill.radius);
        if (r2 < 1)
            h += hill.height * (1 - r2) * (1 - r2);
    }
    if (l.swell_height != 0)
        h += l.swell_height * fractal_noise(l.seed, x, z, l.swell_length, 2, 0.35);
    if (l.flat_radius > 0) {
        double dist = std::hypot(x - l.flat_x, z - l.flat_z);
        h *= smoothstep(l.flat_radius, l.flat_radius * 1.8, dist);
    }
    double arena = design_arena_depth(d, x, z);
    if (arena > -1e8) {
        double out = -arena;  // ft beyond the edge
        h *= smoothstep(0, l.arena_rise_width * 2, out);
        h += l.arena_rise * smoothstep(0, l.arena_rise_width, out);
    }
    return l.base + h;
}

bool build_design(const circuit_plan& plan, track_design* out, std::string* why)
{
    track_design d;
    d.dir = plan.dir;
    d.display_name = plan.display_name;
    d.chute = plan.chute;
    d.land = plan.land;
    d.grid_log2 = plan.grid_log2;
    d.spacing = plan.spacing;
    d.shoulder = plan.shoulder;
    d.seed = plan.seed;

    int np = (int)plan.points.size() / 2;
    if (np < 4) {
        *why = "a circuit needs at least four control points";
        return false;
    }
    closed_spline sp;
    sp.build(plan.points);

    // Dense table of arc length over the spline parameter.
    const int sub = 400;
    std::vector<double> table_s((size_t)np * sub + 1);
    double total = 0;
    double prev[6];
    sp.eval(0, 0, prev);
    table_s[0] = 0;
    for (int i = 0; i < np; i++) {
        for (int k = 1; k <= sub; k++) {
            double cur[6];
            sp.eval(i, sp.h[i] * k / sub, cur);
            total += std::hypot(cur[0] - prev[0], cur[1] - prev[1]);
            table_s[(size_t)i * sub + k] = total;
            std::copy(cur, cur + 6, prev);
        }
    }
    std::vector<double> point_s(np);
    for (int i = 0; i < np; i++)
        point_s[i] = table_s[(size_t)i * sub];

    int count = (int)std::lround(total / 0.5);
    d.length = total;
    d.station_step = total / count;
    d.stations.resize(count);
    size_t cursor = 0;
    for (int k = 0; k < count; k++) {
        double s = k * d.station_step;
        while (cursor + 1 < table_s.size() && table_s[cursor + 1] < s)
            cursor++;
        double s0 = table_s[cursor], s1 = table_s[cursor + 1];
        double f = s1 > s0 ? (s - s0) / (s1 - s0) : 0;
        int seg = (int)(cursor / sub);
        double t = sp.h[seg] * ((double)(cursor % sub) + f) / sub;
        double e[6];
        sp.eval(seg, t, e);
        track_station& st = d.stations[k];
        st.s = s;
        st.x = e[0];
        st.z = e[1];
        double speed = std::hypot(e[2], e[3]);
        st.tx = e[2] / speed;
        st.tz = e[3] / speed;
        st.curvature = (e[5] * e[2] - e[4] * e[3]) / (speed * speed * speed);
    }

    auto place = [&](const plan_place& p) {
        double s = point_s[((p.point % np) + np) % np] + p.offset;
        return design_wrap(d, s);
    };
    auto index_of = [&](double s) { return ((int)std::lround(s / d.station_step) % count + count) % count; };

    // Widths: each key holds from its place to the next key, smoothed.
    {
        std::vector<std::pair<double, double>> keys;
        for (const plan_width& w : plan.widths)
            keys.emplace_back(place(w.at), w.width > 0 ? w.width : plan.width);
        std::sort(keys.begin(), keys.end());
        std::vector<double> width(count, plan.width);
        if (!keys.empty()) {
            for (int k = 0; k < count; k++) {
                double s = k * d.station_step, w = keys.back().second;
                for (const auto& key : keys)
                    if (key.first <= s)
                        w = key.second;
                width[k] = w;
            }
            gauss_smooth(width, 20 / d.station_step);
        }
        for (int k = 0; k < count; k++)
            d.stations[k].width = width[k];
    }

    // Grounds of the ribbon.
    for (const plan_ground& g : plan.grounds) {
        double a = place(g.from), b = place(g.to);
        if (b < a)
            b += d.length;
        for (double s = a; s < b; s += d.station_step)
            d.stations[index_of(s)].ground = g.ground;
    }

    // Grade: the land under the line, smoothed so the ribbon neither
    // follows every swell nor tilts the jumps.
    {
        std::vector<double> grade(count);
        for (int k = 0; k < count; k++)
            grade[k] = design_land_height(d, d.stations[k].x, d.stations[k].z);
        gauss_smooth(grade, 40 / d.station_step);
        for (int k = 0; k < count; k++)
            d.stations[k].grade = grade[k];
    }

    // Jumps and whoops.
    std::vector<double> offset(count, 0.0);
    std::vector<std::pair<double, double>> occupied;  // s ranges of jumps and whoops
    for (const plan_jump& j : plan.jumps) {
        track_feature f;
        f.kind = j.kind;
        f.height = j.height;
        f.face_deg = j.face_deg;
        f.landing_deg = j.landing_deg;
        f.top_length = j.top_length;
        f.takeoff_length = j.height / (0.8 * std::tan(j.face_deg * pi / 180));
        f.landing_length = pi * j.height / (2 * std::tan(j.landing_deg * pi / 180));
        f.s_begin = place(j.at);
        f.s_lip = f.s_begin + f.takeoff_length;
        f.s_landing = f.s_lip + f.top_length;
        f.s_end = f.s_landing + f.landing_length;
        double back = j.height / std::tan(jump_back_deg * pi / 180);
        if (j.kind == feature_kind::double_jump && f.top_length < 2 * back + 4) {
            *why = "a double's gap is too short for its height";
            return false;
        }
        if (f.s_end >= d.length) {
            *why = "a jump runs over the start/finish point";
            return false;
        }
        for (double s = f.s_begin; s < f.s_end; s += d.station_step * 0.5) {
            double u = s - f.s_begin, h;
            if (s < f.s_lip) {
                h = takeoff_profile(u, f.takeoff_length, f.height);
            } else if (s < f.s_landing) {
                if (j.kind == feature_kind::tabletop) {
                    h = f.height;
                } else {
                    double from_lip = s - f.s_lip, to_crest = f.s_landing - s;
                    h = std::max(0.0, f.height - std::min(from_lip, to_crest) * std::tan(jump_back_deg * pi / 180));
                }
            } else {
                h = landing_profile(s - f.s_landing, f.landing_length, f.height);
            }
            double& o = offset[index_of(s)];
            o = std::max(o, h);
        }
        occupied.emplace_back(f.s_begin, f.s_end);
        d.features.push_back(f);
    }
    for (const plan_whoops& w : plan.whoops) {
        track_feature f;
        f.kind = feature_kind::whoops;
        f.height = w.height;
        f.bump_count = w.count;
        f.bump_spacing = w.spacing;
        f.s_begin = place(w.at);
        f.s_end = f.s_begin + w.count * w.spacing;
        if (f.s_end >= d.length) {
            *why = "whoops run over the start/finish point";
            return false;
        }
        for (double s = f.s_begin; s < f.s_end; s += d.station_step * 0.5) {
            double u = (s - f.s_begin) / w.spacing;
            offset[index_of(s)] = w.height * 0.5 * (1 - std::cos(2 * pi * u));
        }
        occupied.emplace_back(f.s_begin, f.s_end);
        d.features.push_back(f);
    }
    std::sort(occupied.begin(), occupied.end());
    for (size_t i = 1; i < occupied.size(); i++)
        if (occupied[i].first < occupied[i - 1].second + 20) {
            *why = "jumps or whoops overlap or follow each other too closely";
            return false;
        }
    // Take the corners off over a foot and a half: enough that no wheel
    // meets a kink, little enough that a lip still kicks at its angle.
    box_smooth(offset, (int)std::lround(0.75 / d.station_step));
    for (int k = 0; k < count; k++)
        d.stations[k].offset = offset[k];

    // Turns and berms. A turn is a run of stations tighter than a 250 ft
    // radius; its bank follows the curvature (30 degrees at the outside
    // edge for hairpins, less for sweepers) and ramps in and out smoothly.
    const double turn_radius = 250;
    std::vector<double> bank(count, 0.0);
    {
        std::vector<char> flat(count, 0);
        int k = 0;
        // Start the scan outside a turn so no run is split at s = 0.
        int start = 0;
        while (start < count && std::fabs(d.stations[start].curvature) * turn_radius > 1)
            start++;
        if (start == count) {
            *why = "the centre line is all turn";
            return false;
        }
        for (int n = 0; n < count; n++) {
            k = (start + n) % count;
            if (std::fabs(d.stations[k].curvature) * turn_radius <= 1)
                continue;
            int run_begin = k, len = 0;
            double kmax = 0;
            int dir = d.stations[k].curvature > 0 ? 1 : -1;
            while (n < count) {
                int i = (start + n) % count;
                double c = d.stations[i].curvature;
                if (std::fabs(c) * turn_radius <= 1 || (c > 0 ? 1 : -1) != dir)
                    break;
                kmax = std::max(kmax, std::fabs(c));
                len++;
                n++;
            }
            n--;
            track_feature f;
            f.s_begin = run_begin * d.station_step;
            f.s_end = f.s_begin + len * d.station_step;
            f.direction = dir;
            f.radius = 1 / kmax;
            bool is_flat = false;
            for (const plan_place& p : plan.flat_turns) {
                double s = place(p);
                if ((s >= f.s_begin && s < f.s_end) || (s + d.length >= f.s_begin && s + d.length < f.s_end))
                    is_flat = true;
            }
            bool first = false;
            double fs = place(plan_place{plan.first_turn_point, 0});
            if ((fs >= f.s_begin && fs < f.s_end) || (fs + d.length >= f.s_begin && fs + d.length < f.s_end))
                first = true;
            f.kind = first ? feature_kind::first_turn : is_flat ? feature_kind::flat_turn : feature_kind::berm;
            for (int m = 0; m < len; m++) {
                int i = (run_begin + m) % count;
                flat[i] = is_flat;
            }
            d.features.push_back(f);
        }
        for (int i = 0; i < count; i++) {
            const track_station& st = d.stations[i];
            double r = 1 / std::max(std::fabs(st.curvature), 1e-9);
            if (flat[i] || r > turn_radius)
                continue;
            double deg = r <= 60 ? 30 : 30 - 18 * (r - 60) / (turn_radius - 60);
            // Height of the outside edge: the wall rises over the outer two
            // thirds of the ribbon and reaches `deg` at the edge.
            double half = st.width / 2;
            double height = std::tan(deg * pi / 180) * (half + half / 3) / 2;
            bank[i] = (st.curvature > 0 ? -1 : 1) * height;
        }
        gauss_smooth(bank, 10 / d.station_step);
        for (int i = 0; i < count; i++) {
            d.stations[i].bank = std::fabs(bank[i]);
            d.stations[i].bank_side = bank[i] > 0 ? 1 : bank[i] < 0 ? -1 : 0;
        }
    }
    // The turns' recorded bank and height, and no turn under a jump.
    for (track_feature& f : d.features) {
        if (f.kind != feature_kind::berm && f.kind != feature_kind::first_turn && f.kind != feature_kind::flat_turn)
            continue;
        double hmax = 0, deg = 0;
        for (double s = f.s_begin; s < f.s_end; s += d.station_step) {
            const track_station& st = d.stations[index_of(s)];
            if (st.bank > hmax) {
                hmax = st.bank;
                deg = std::atan(2 * st.bank / (st.width / 2 + st.width / 6)) * 180 / pi;
            }
        }
        f.height = hmax;
        f.face_deg = deg;
        // A banked or turning approach would tilt a take-off face, so
        // jumps and whoops keep clear of the turns.
        for (const auto& o : occupied)
            if (o.first - 25 < f.s_end && f.s_begin < o.second + 15) {
                char text[160];
                snprintf(text, sizeof text, "the jump or whoops at s = %.0f lies in or too near the turn at s = %.0f",
                         o.first, f.s_begin);
                *why = text;
                return false;
            }
    }
    // The start straight: from s = 0 to the first turn.
    {
        double first = d.length;
        for (const track_feature& f : d.features)
            if (f.kind == feature_kind::first_turn)
                first = f.s_begin;
        if (first == d.length) {
            *why = "no first turn";
            return false;
        }
        track_feature f;
        f.kind = feature_kind::start_straight;
        f.s_begin = 0;
        f.s_end = first;
        d.features.push_back(f);
    }
    std::stable_sort(d.features.begin(), d.features.end(),
                     [](const track_feature& a, const track_feature& b) { return a.s_begin < b.s_begin; });
    *out = std::move(d);
    return true;
}

// --- Queries --------------------------------------------------------------

double design_wrap(const track_design& d, double s)
{
    double w = std::fmod(s, d.length);
    if (w < 0)
        w += d.length;
    if (w >= d.length)
        w = 0;
    return w;
}

track_station design_station_at(const track_design& d, double s)
{
    s = design_wrap(d, s);
    int count = (int)d.stations.size();
    double f = s / d.station_step;
    int i = (int)std::floor(f);
    double t = f - i;
    i %= count;
    const track_station& a = d.stations[i];
    const track_station& b = d.stations[(i + 1) % count];
    track_station r = t < 0.5 ? a : b;
    r.s = s;
    r.x = a.x + (b.x - a.x) * t;
    r.z = a.z + (b.z - a.z) * t;
    double tx = a.tx + (b.tx - a.tx) * t, tz = a.tz + (b.tz - a.tz) * t;
    double len = std::hypot(tx, tz);
    r.tx = tx / len;
    r.tz = tz / len;
    r.curvature = a.curvature + (b.curvature - a.curvature) * t;
    r.width = a.width + (b.width - a.width) * t;
    r.grade = a.grade + (b.grade - a.grade) * t;
    r.offset = a.offset + (b.offset - a.offset) * t;
    double ba = a.bank * a.bank_side, bb = b.bank * b.bank_side, bank = ba + (bb - ba) * t;
    r.bank = std::fabs(bank);
    r.bank_side = bank > 0 ? 1 : bank < 0 ? -1 : 0;
    return r;
}

double station_height(const track_station& st, double lateral)
{
    double h = st.grade + st.offset;
    if (st.bank > 0) {
        double half = st.width / 2, inner = -half / 3;
        double u = lateral * st.bank_side;  // toward the outside of the turn
        double t = clamp01((u - inner) / (half - inner));
        h += st.bank * t * t;
    }
    return h;
}

double design_height(const track_design& d, double s, double lateral)
{
    if (s < 0)
        return d.stations[0].grade;  // the chute is level with the start/finish point
    return station_height(design_station_at(d, s), lateral);
}

void design_chute_point(const track_design& d, double s, double* x, double* z)
{
    const track_station& st = d.stations[0];
    *x = st.x + st.tx * s;
    *z = st.z + st.tz * s;
}

double design_chute_width(const track_design& d, double s)
{
    double w0 = d.stations[0].width;
    double full_until = -d.chute.gate_distance + 10;
    if (s <= full_until)
        return d.chute.rear_width;
    return d.chute.rear_width + (w0 - d.chute.rear_width) * smoothstep(full_until, 0, s);
}

design_place design_nearest(const track_design& d, double x, double z)
{
    design_place best;
    double best_d2 = 1e300;
    int count = (int)d.stations.size();
    for (int k = 0; k < count; k++) {
        const track_station& st = d.stations[k];
        double dx = x - st.x, dz = z - st.z, d2 = dx * dx + dz * dz;
        if (d2 < best_d2) {
            best_d2 = d2;
            best.station = k;
        }
    }
    const track_station& st = d.stations[best.station];
    double dx = x - st.x, dz = z - st.z;
    double along = std::clamp(dx * st.tx + dz * st.tz, -d.station_step, d.station_step);
    best.s = design_wrap(d, st.s + along);
    best.lateral = -dx * st.tz + dz * st.tx;
    best.distance = std::sqrt(best_d2);
    // The chute: a straight line back from s = 0. It is wide, so it wins
    // when the point lies deeper inside (or less far outside) its ribbon
    // than inside the loop's.
    const track_station& s0 = d.stations[0];
    double cx = x - s0.x, cz = z - s0.z;
    double along0 = cx * s0.tx + cz * s0.tz;
    if (along0 < 0 && along0 >= -d.chute.length) {
        double lat = -cx * s0.tz + cz * s0.tx;
        double chute_beyond = std::fabs(lat) - design_chute_width(d, along0) / 2;
        double loop_beyond = best.distance - st.width / 2;
        if (chute_beyond < loop_beyond) {
            best.station = -1;
            best.s = along0;
            best.lateral = lat;
            best.distance = std::fabs(lat);
        }
    }
    return best;
}

design_checkpoint design_checkpoint_at(const track_design& d, double s, double margin)
{
    track_station st = design_station_at(d, s);
    return {st.s, st.x, st.z, st.tx, st.tz, st.width / 2 + margin};
}

std::vector<double> design_checkpoint_stations(const track_design& d, double gap)
{
    // Where no checkpoint may stand, with a little room either side.
    std::vector<std::pair<double, double>> avoid;
    for (const track_feature& f : d.features)
        if (f.kind == feature_kind::tabletop || f.kind == feature_kind::double_jump || f.kind == feature_kind::whoops)
            avoid.emplace_back(f.s_begin - 5, f.s_end + 5);
    int count = std::max(1, (int)std::lround(d.length / gap));
    double step = d.length / count, last = 0;
    std::vector<double> out;
    for (;;) {
        double s = last + step;
        if (s >= d.length - step / 2)
            break;
        // On a feature: just before it when that keeps the gates apart,
        // else just after it.
        for (const auto& a : avoid)
            if (s > a.first && s < a.second)
                s = a.first >= last + step / 2 ? a.first : a.second;
        out.push_back(s);
        last = s;
    }
    out.push_back(0);
    return out;
}

gate_piece design_gate_piece(const track_design& d, int i)
{
    const track_station& st = d.stations[0];
    double cx, cz;
    design_chute_point(d, -d.chute.gate_distance, &cx, &cz);
    double lateral = (i - (d.chute.gate_pieces - 1) * 0.5) * d.chute.piece_spacing;
    gate_piece p;
    p.x = cx - st.tz * lateral;
    p.z = cz + st.tx * lateral;
    p.angle = std::atan2(-st.tx, -st.tz);
    return p;
}

}  // namespace mkdata
