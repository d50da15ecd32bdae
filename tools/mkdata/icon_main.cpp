// kessrig-icon: draws the application icon the desktop shows for the game.
//   kessrig-icon FILE.png [SIZE]
// A rider in the air over a dirt jump against the evening sky of the title
// screen, on a rounded square with a dark edge so that it reads on light and
// dark panels alike. SIZE (16..1024, default 256) is the width and height in
// pixels; the picture is drawn at that size, not scaled from another.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "track_pictures.h"

namespace {

using mkdata::canvas;
using mkdata::rgba;

const uint32_t ink = rgba(16, 16, 20);

uint32_t mix(uint32_t a, uint32_t b, double t)
{
    auto ch = [&](int s) {
        const double v = (a >> s & 255) + ((double)(b >> s & 255) - (a >> s & 255)) * t;
        return (uint32_t)std::lround(std::clamp(v, 0.0, 255.0)) << s;
    };
    return ch(24) | ch(16) | ch(8) | ch(0);
}

// The sky at row y of a picture h high, as on the title screen.
uint32_t sky(double y, double h)
{
    return mix(rgba(36, 62, 120), rgba(236, 150, 70), std::pow(std::clamp(y / h, 0.0, 1.0), 1.6));
}

// How much of pixel (x, y) lies inside a square of side n with corners of
// radius r, inset by `inset` pixels on every side (4 x 4 samples).
double rounded_coverage(int x, int y, double n, double r, double inset)
{
    const double lo = inset, hi = n - inset, rr = r - inset;
    int inside = 0;
    for (int sy = 0; sy < 4; sy++)
        for (int sx = 0; sx < 4; sx++) {
            const double px = x + (sx + 0.5) / 4, py = y + (sy + 0.5) / 4;
            const double cx = std::clamp(px, lo + rr, hi - rr), cy = std::clamp(py, lo + rr, hi - rr);
            if (px >= lo && px <= hi && py >= lo && py <= hi && std::hypot(px - cx, py - cy) <= rr)
                inside++;
        }
    return inside / 16.0;
}

// The scene, drawn on a 256-unit square scaled by k.
canvas scene(int n)
{
    const double k = n / 256.0;
    canvas c(n, n, rgba(0, 0, 0));
    for (int y = 0; y < n; y++)
        for (int x = 0; x < n; x++)
            c.blend(x, y, sky(y, n));
    // The sun low over the hills, half behind them.
    c.ellipse(196 * k, 168 * k, 30 * k, 30 * k, rgba(252, 222, 140));
    std::vector<double> hills = {0, (double)n};
    for (int x = 0; x <= 256; x += 8)
        hills.insert(hills.end(), {x * k, (176 + 10 * std::sin(x * 0.03) + 6 * mkdata::value_noise(0x7171u, x / 30.0, 0)) * k});
    hills.insert(hills.end(), {(double)n, (double)n});
    c.polygon(hills, rgba(52, 58, 48));
    // The jump's face on the left, the landing running off to the right.
    c.polygon({0, 256 * k, 0, 214 * k, 40 * k, 206 * k, 92 * k, 186 * k, 104 * k, 190 * k, 150 * k, 222 * k,
               256 * k, 230 * k, 256 * k, 256 * k},
              rgba(118, 82, 52));
    c.polygon({92 * k, 186 * k, 104 * k, 190 * k, 96 * k, 200 * k, 60 * k, 204 * k}, rgba(140, 100, 64));

    // Rider and bike in silhouette, the front wheel up: the title screen's
    // figure, moved and scaled into the square.
    const double s = 0.9 * k;
    auto X = [&](double x) { return (x - 736) * s + 128 * k; };
    auto Y = [&](double y) { return (y - 155) * s + 104 * k; };
    const double wheels[2][3] = {{670, 210, 34}, {800, 180, 36}};
    for (const auto& w : wheels)
        c.ellipse(X(w[0]), Y(w[1]), w[2] * s, w[2] * s, ink);
    // The sky through the spokes, between the tyre and the hub.
    for (int y = 0; y < n; y++)
        for (int x = 0; x < n; x++)
            for (const auto& w : wheels) {
                const double d = std::hypot(x + 0.5 - X(w[0]), y + 0.5 - Y(w[1]));
                const double outer = (w[2] - 9) * s, hub = 6 * s;
                const double coverage = std::clamp(outer - d, 0.0, 1.0) * std::clamp(d - hub, 0.0, 1.0);
                if (coverage > 0)
                    c.blend(x, y, sky(y, n), coverage);
            }
    c.line(X(670), Y(210), X(725), Y(175), 10 * s, ink);
    c.line(X(725), Y(175), X(800), Y(180), 10 * s, ink);
    c.polygon({X(685), Y(160), X(780), Y(140), X(792), Y(158), X(740), Y(178), X(692), Y(180)}, ink);
    c.line(X(715), Y(150), X(710), Y(95), 22 * s, ink);
    c.ellipse(X(720), Y(82), 20 * s, 18 * s, ink);
    c.line(X(710), Y(110), X(770), Y(130), 9 * s, ink);
    c.line(X(715), Y(150), X(745), Y(178), 12 * s, ink);
    // Dirt thrown from the rear tyre as it left the lip.
    for (int i = 0; i < 14; i++) {
        const double a = mkdata::hash01(i, 1, 0x5eedu), b = mkdata::hash01(i, 2, 0x5eedu);
        const double r = (2 + 3 * mkdata::hash01(i, 3, 0x5eedu)) * k;
        c.ellipse((40 + 36 * a) * k, (176 + 22 * b) * k, r, r, rgba(96, 64, 40));
    }
    return c;
}

// The scene inside a rounded square with a dark edge, transparent outside.
canvas icon(int n)
{
    const canvas inner = scene(n);
    canvas c(n, n, rgba(0, 0, 0, 0));
    const double radius = n * 0.18, edge = std::max(1.0, n / 64.0);
    const uint32_t edge_colour = rgba(28, 22, 18);
    for (int y = 0; y < n; y++)
        for (int x = 0; x < n; x++) {
            const double outer = rounded_coverage(x, y, n, radius, 0);
            if (outer <= 0)
                continue;
            const double in = rounded_coverage(x, y, n, radius, edge);
            const uint8_t* p = &inner.rgba[((size_t)y * n + x) * 4];
            const uint32_t colour = mix(edge_colour, rgba(p[0], p[1], p[2]), in);
            uint8_t* q = &c.rgba[((size_t)y * n + x) * 4];
            q[0] = (uint8_t)(colour >> 24);
            q[1] = (uint8_t)(colour >> 16);
            q[2] = (uint8_t)(colour >> 8);
            q[3] = (uint8_t)std::lround(outer * 255);
        }
    return c;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || argc > 3 || argv[1][0] == '-' || !argv[1][0]) {
        fprintf(stderr, "usage: kessrig-icon FILE.png [SIZE]\n");
        return 1;
    }
    int size = 256;
    if (argc == 3) {
        char* end = nullptr;
        const long n = strtol(argv[2], &end, 10);
        if (end == argv[2] || *end || n < 16 || n > 1024) {
            fprintf(stderr, "kessrig-icon: the size must be a number from 16 to 1024, not '%s'\n", argv[2]);
            return 1;
        }
        size = (int)n;
    }
    const mkdata::bytes png = mkdata::canvas_png(icon(size), true);
    // Written under a temporary name and renamed, so that an interrupted
    // build never leaves a cut picture that looks up to date.
    const std::string temp = std::string(argv[1]) + ".tmp";
    FILE* f = fopen(temp.c_str(), "wb");
    bool ok = f && fwrite(png.data(), 1, png.size(), f) == png.size();
    if (f && fclose(f) != 0)
        ok = false;
    if (!ok || rename(temp.c_str(), argv[1]) != 0) {
        perror(("kessrig-icon: can't write " + std::string(argv[1])).c_str());
        remove(temp.c_str());
        return 1;
    }
    return 0;
}
