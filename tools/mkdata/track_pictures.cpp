// Drawing the object pictures: a small RGBA canvas with smoothed shapes, a
// block font and value noise, and the pictures made with it.
#include "track_pictures.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "render/picture.h"

namespace mkdata {

namespace {

const double pi = 3.14159265358979323846;

uint8_t to_byte(double v) { return (uint8_t)std::lround(std::clamp(v, 0.0, 255.0)); }

uint32_t hash2(uint32_t x, uint32_t y, uint32_t seed)
{
    uint32_t h = x * 0x8DA6B343u ^ y * 0xD8163841u ^ seed * 0xCB1AB31Fu;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    h *= 0x297A2D39u;
    h ^= h >> 15;
    return h;
}

}  // namespace

double hash01(uint32_t x, uint32_t y, uint32_t seed) { return (hash2(x, y, seed) >> 8) * (1.0 / 16777216.0); }

double value_noise(uint32_t seed, double x, double y)
{
    double fx0 = std::floor(x), fy0 = std::floor(y);
    int ix = (int)fx0, iy = (int)fy0;
    double fx = x - fx0, fy = y - fy0;
    auto at = [&](int a, int b) { return hash01((uint32_t)a, (uint32_t)b, seed) * 2 - 1; };
    double sx = fx * fx * (3 - 2 * fx), sy = fy * fy * (3 - 2 * fy);
    double a = at(ix, iy) + (at(ix + 1, iy) - at(ix, iy)) * sx;
    double b = at(ix, iy + 1) + (at(ix + 1, iy + 1) - at(ix, iy + 1)) * sx;
    return a + (b - a) * sy;
}

uint32_t rgba(int r, int g, int b, int a)
{
    return (uint32_t)r << 24 | (uint32_t)g << 16 | (uint32_t)b << 8 | (uint32_t)a;
}

uint32_t shade(uint32_t c, double factor)
{
    return rgba(to_byte((c >> 24 & 255) * factor), to_byte((c >> 16 & 255) * factor), to_byte((c >> 8 & 255) * factor),
                (int)(c & 255));
}

namespace {

// The 5 x 7 block font: seven rows of five bits, the leftmost pixel the
// highest bit.
struct glyph {
    char c;
    uint8_t rows[7];
};
const glyph font[] = {
    {'A', {14, 17, 17, 31, 17, 17, 17}}, {'B', {30, 17, 17, 30, 17, 17, 30}}, {'C', {14, 17, 16, 16, 16, 17, 14}},
    {'D', {28, 18, 17, 17, 17, 18, 28}}, {'E', {31, 16, 16, 30, 16, 16, 31}}, {'F', {31, 16, 16, 30, 16, 16, 16}},
    {'G', {14, 17, 16, 23, 17, 17, 15}}, {'H', {17, 17, 17, 31, 17, 17, 17}}, {'I', {14, 4, 4, 4, 4, 4, 14}},
    {'J', {7, 2, 2, 2, 2, 18, 12}},      {'K', {17, 18, 20, 24, 20, 18, 17}}, {'L', {16, 16, 16, 16, 16, 16, 31}},
    {'M', {17, 27, 21, 21, 17, 17, 17}}, {'N', {17, 17, 25, 21, 19, 17, 17}}, {'O', {14, 17, 17, 17, 17, 17, 14}},
    {'P', {30, 17, 17, 30, 16, 16, 16}}, {'Q', {14, 17, 17, 17, 21, 18, 13}}, {'R', {30, 17, 17, 30, 20, 18, 17}},
    {'S', {15, 16, 16, 14, 1, 1, 30}},   {'T', {31, 4, 4, 4, 4, 4, 4}},       {'U', {17, 17, 17, 17, 17, 17, 14}},
    {'V', {17, 17, 17, 17, 17, 10, 4}},  {'W', {17, 17, 17, 21, 21, 21, 10}}, {'X', {17, 17, 10, 4, 10, 17, 17}},
    {'Y', {17, 17, 10, 4, 4, 4, 4}},     {'Z', {31, 1, 2, 4, 8, 16, 31}},     {'0', {14, 17, 19, 21, 25, 17, 14}},
    {'1', {4, 12, 4, 4, 4, 4, 14}},      {'2', {14, 17, 1, 2, 4, 8, 31}},     {'3', {31, 2, 4, 2, 1, 17, 14}},
    {'4', {2, 6, 10, 18, 31, 2, 2}},     {'5', {31, 16, 30, 1, 1, 17, 14}},   {'6', {6, 8, 16, 30, 17, 17, 14}},
    {'7', {31, 1, 2, 4, 8, 8, 8}},       {'8', {14, 17, 17, 14, 17, 17, 14}}, {'9', {14, 17, 17, 15, 1, 2, 12}},
    {'-', {0, 0, 0, 31, 0, 0, 0}},       {'.', {0, 0, 0, 0, 0, 12, 12}},      {'!', {4, 4, 4, 4, 4, 0, 4}},
};

const glyph* find_glyph(char c)
{
    for (const glyph& g : font)
        if (g.c == c)
            return &g;
    return nullptr;
}

}  // namespace

// --- Canvas ----------------------------------------------------------------------

canvas::canvas(int w, int h, uint32_t fill) : width(w), height(h), rgba((size_t)w * h * 4)
{
    for (size_t i = 0; i < rgba.size(); i += 4) {
        rgba[i] = (uint8_t)(fill >> 24);
        rgba[i + 1] = (uint8_t)(fill >> 16);
        rgba[i + 2] = (uint8_t)(fill >> 8);
        rgba[i + 3] = (uint8_t)fill;
    }
}

void canvas::blend(int x, int y, uint32_t colour, double coverage)
{
    if (x < 0 || y < 0 || x >= width || y >= height || coverage <= 0)
        return;
    double a = (colour & 255) / 255.0 * std::min(coverage, 1.0);
    uint8_t* p = &rgba[((size_t)y * width + x) * 4];
    double src[3] = {(double)(colour >> 24 & 255), (double)(colour >> 16 & 255), (double)(colour >> 8 & 255)};
    double dst_a = p[3] / 255.0;
    double out_a = a + dst_a * (1 - a);
    for (int c = 0; c < 3; c++) {
        double v = out_a > 0 ? (src[c] * a + p[c] * dst_a * (1 - a)) / out_a : src[c];
        p[c] = to_byte(v);
    }
    p[3] = to_byte(out_a * 255);
}

namespace {

// Calls inside(sx, sy) for 4 x 4 samples of every pixel of the box and
// blends by the covered share.
template <class F>
void fill_shape(canvas* cv, double x0, double y0, double x1, double y1, uint32_t colour, F inside)
{
    int px0 = std::max(0, (int)std::floor(x0)), py0 = std::max(0, (int)std::floor(y0));
    int px1 = std::min(cv->width - 1, (int)std::ceil(x1)), py1 = std::min(cv->height - 1, (int)std::ceil(y1));
    for (int y = py0; y <= py1; y++)
        for (int x = px0; x <= px1; x++) {
            int hits = 0;
            for (int sy = 0; sy < 4; sy++)
                for (int sx = 0; sx < 4; sx++)
                    if (inside(x + (sx + 0.5) / 4, y + (sy + 0.5) / 4))
                        hits++;
            if (hits)
                cv->blend(x, y, colour, hits / 16.0);
        }
}

}  // namespace

void canvas::rect(double x0, double y0, double x1, double y1, uint32_t colour)
{
    fill_shape(this, x0, y0, x1, y1, colour,
               [&](double x, double y) { return x >= x0 && x < x1 && y >= y0 && y < y1; });
}

void canvas::ellipse(double cx, double cy, double rx, double ry, uint32_t colour)
{
    fill_shape(this, cx - rx, cy - ry, cx + rx, cy + ry, colour, [&](double x, double y) {
        double u = (x - cx) / rx, v = (y - cy) / ry;
        return u * u + v * v <= 1;
    });
}

void canvas::polygon(const std::vector<double>& xy, uint32_t colour)
{
    size_t n = xy.size() / 2;
    if (n < 3)
        return;
    double x0 = xy[0], x1 = xy[0], y0 = xy[1], y1 = xy[1];
    for (size_t i = 0; i < n; i++) {
        x0 = std::min(x0, xy[2 * i]);
        x1 = std::max(x1, xy[2 * i]);
        y0 = std::min(y0, xy[2 * i + 1]);
        y1 = std::max(y1, xy[2 * i + 1]);
    }
    fill_shape(this, x0, y0, x1, y1, colour, [&](double x, double y) {
        bool in = false;
        for (size_t i = 0, j = n - 1; i < n; j = i++) {
            double xi = xy[2 * i], yi = xy[2 * i + 1], xj = xy[2 * j], yj = xy[2 * j + 1];
            if ((yi > y) != (yj > y) && x < (xj - xi) * (y - yi) / (yj - yi) + xi)
                in = !in;
        }
        return in;
    });
}

void canvas::line(double x0, double y0, double x1, double y1, double w, uint32_t colour)
{
    double r = w / 2;
    double dx = x1 - x0, dy = y1 - y0, len2 = dx * dx + dy * dy;
    fill_shape(this, std::min(x0, x1) - r, std::min(y0, y1) - r, std::max(x0, x1) + r, std::max(y0, y1) + r, colour,
               [&](double x, double y) {
                   double t = len2 > 0 ? std::clamp(((x - x0) * dx + (y - y0) * dy) / len2, 0.0, 1.0) : 0;
                   double ex = x0 + dx * t - x, ey = y0 + dy * t - y;
                   return ex * ex + ey * ey <= r * r;
               });
}

double canvas::text_width(const std::string& s, double scale)
{
    return s.empty() ? 0 : (6.0 * (double)s.size() - 1) * scale;
}

double canvas::text(double x, double y, double scale, const std::string& s, uint32_t colour)
{
    double cx = x;
    for (char ch : s) {
        const glyph* g = find_glyph(ch);
        if (g)
            for (int row = 0; row < 7; row++)
                for (int col = 0; col < 5; col++)
                    if (g->rows[row] & (16 >> col))
                        rect(cx + col * scale, y + row * scale, cx + (col + 1) * scale, y + (row + 1) * scale, colour);
        cx += 6 * scale;
    }
    return text_width(s, scale);
}

void canvas::grain(uint32_t seed, double amount, double cell)
{
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++) {
            double n = 0.6 * value_noise(seed, x / cell, y / cell) + 0.4 * (hash01((uint32_t)x, (uint32_t)y, seed + 1) * 2 - 1);
            uint8_t* p = &rgba[((size_t)y * width + x) * 4];
            for (int c = 0; c < 3; c++)
                p[c] = to_byte(p[c] * (1 + amount * n));
        }
}

std::vector<uint8_t> canvas::rgb() const
{
    std::vector<uint8_t> out((size_t)width * height * 3);
    for (size_t i = 0, j = 0; i < rgba.size(); i += 4, j += 3) {
        out[j] = rgba[i];
        out[j + 1] = rgba[i + 1];
        out[j + 2] = rgba[i + 2];
    }
    return out;
}

bytes canvas_png(const canvas& c, bool alpha)
{
    picture_bytes b;
    bool ok;
    if (alpha) {
        ok = encode_png(c.rgba.data(), c.width, c.height, 4, false, nullptr, &b);
    } else {
        std::vector<uint8_t> rgb = c.rgb();
        ok = encode_png(rgb.data(), c.width, c.height, 3, false, nullptr, &b);
    }
    bytes out;
    if (ok)
        out.assign(b.data, b.data + b.size);
    picture_bytes_free(&b);
    return out;
}

bytes canvas_png(const canvas& c, bool alpha, const std::string& text)
{
    picture_bytes b;
    bool ok;
    if (alpha) {
        ok = encode_png(c.rgba.data(), c.width, c.height, 4, false, text.c_str(), &b);
    } else {
        std::vector<uint8_t> rgb = c.rgb();
        ok = encode_png(rgb.data(), c.width, c.height, 3, false, text.c_str(), &b);
    }
    bytes out;
    if (ok)
        out.assign(b.data, b.data + b.size);
    picture_bytes_free(&b);
    return out;
}

bytes canvas_ppm(const canvas& c)
{
    std::vector<uint8_t> rgb = c.rgb();
    picture_bytes b;
    bytes out;
    if (encode_ppm(rgb.data(), c.width, c.height, false, &b))
        out.assign(b.data, b.data + b.size);
    picture_bytes_free(&b);
    return out;
}

// --- Billboards --------------------------------------------------------------------

canvas tree_picture(tree_kind kind, uint32_t seed)
{
    canvas c(64, 128, 0);
    const double w = 64, h = 128;
    switch (kind) {
    case tree_kind::pine: {
        c.rect(w / 2 - 3, h - 22, w / 2 + 3, h, rgba(92, 64, 40));
        // Tiers of branches, each a drooping triangle, widest at the foot.
        for (int tier = 0; tier < 6; tier++) {
            double top = 4 + tier * 17, bottom = top + 34;
            double half = 7 + tier * 4.6;
            double jag = 2 * (hash01((uint32_t)tier, 0, seed) - 0.5);
            uint32_t green = shade(rgba(38, 84, 46), 0.85 + 0.25 * tier / 5.0);
            c.polygon({w / 2 + jag, top, w / 2 + half, bottom, w / 2 + half * 0.3, bottom - 3, w / 2 - half * 0.3,
                       bottom - 3, w / 2 - half, bottom},
                      green);
        }
        break;
    }
    case tree_kind::leafy: {
        c.polygon({w / 2 - 4, h, w / 2 - 2.5, h - 50, w / 2 + 2.5, h - 50, w / 2 + 4, h}, rgba(86, 62, 42));
        c.line(w / 2, h - 45, w / 2 - 12, h - 70, 3, rgba(86, 62, 42));
        c.line(w / 2, h - 50, w / 2 + 13, h - 74, 3, rgba(86, 62, 42));
        for (int k = 0; k < 14; k++) {
            double a = hash01((uint32_t)k, 1, seed), b = hash01((uint32_t)k, 2, seed);
            double cx = w / 2 + (a - 0.5) * 34, cy = 24 + b * 52;
            double r = 11 + 6 * hash01((uint32_t)k, 3, seed);
            c.ellipse(cx, cy, r, r * 0.85, shade(rgba(62, 112, 48), 0.75 + 0.45 * (1 - b)));
        }
        break;
    }
    case tree_kind::birch: {
        c.rect(w / 2 - 2.5, 30, w / 2 + 2.5, h, rgba(226, 222, 210));
        for (int k = 0; k < 9; k++) {
            double y = 36 + k * 10 + 4 * hash01((uint32_t)k, 4, seed);
            c.rect(w / 2 - 2.5, y, w / 2 + 0.5 + 2 * hash01((uint32_t)k, 5, seed), y + 1.5, rgba(40, 36, 32));
        }
        for (int k = 0; k < 12; k++) {
            double a = hash01((uint32_t)k, 6, seed), b = hash01((uint32_t)k, 7, seed);
            c.ellipse(w / 2 + (a - 0.5) * 26, 14 + b * 56, 8 + 4 * a, 10 + 3 * b, shade(rgba(120, 160, 70), 0.8 + 0.3 * a));
        }
        break;
    }
    }
    c.grain(seed + 11, 0.12, 3);
    return c;
}

canvas banner_picture(const std::string& word, uint32_t ground, uint32_t letters, uint32_t stripe)
{
    canvas c(128, 32, ground);
    c.rect(0, 0, 128, 3, stripe);
    c.rect(0, 29, 128, 32, stripe);
    double scale = std::min(3.0, std::floor(118.0 / std::max(1.0, 6.0 * (double)word.size())));
    double tw = canvas::text_width(word, scale);
    c.text((128 - tw) / 2, (32 - 7 * scale) / 2, scale, word, letters);
    // Grommets in the corners, where the banner is tied to its posts.
    for (double x : {3.0, 124.0})
        for (double y : {6.0, 26.0})
            c.ellipse(x + 0.5, y, 1.4, 1.4, rgba(200, 200, 200));
    c.grain(0xBA77u, 0.05, 6);
    return c;
}

canvas grandstand_picture(uint32_t seed)
{
    canvas c(160, 64, 0);
    // Roof on posts, then stepped rows of seats full of spectators.
    c.polygon({0, 10, 160, 10, 156, 4, 4, 4}, rgba(150, 154, 160));
    for (double x = 6; x < 160; x += 37)
        c.rect(x, 10, x + 2, 64, rgba(110, 112, 118));
    for (int row = 0; row < 8; row++) {
        double y = 14 + row * 6.2;
        c.rect(0, y, 160, 64, shade(rgba(170, 168, 160), 0.75 + 0.03 * row));
        for (int k = 0; k < 40; k++) {
            double x = 2 + k * 4 + 1.5 * hash01((uint32_t)k, (uint32_t)row, seed);
            if (hash01((uint32_t)k, (uint32_t)row + 50, seed) < 0.12)
                continue;  // an empty seat
            static const uint32_t shirts[] = {rgba(200, 40, 40), rgba(40, 80, 200), rgba(230, 200, 40),
                                              rgba(240, 240, 240), rgba(30, 30, 30), rgba(60, 160, 70)};
            uint32_t shirt = shirts[hash2((uint32_t)k, (uint32_t)row, seed + 3) % 6];
            c.rect(x - 1.2, y + 2.2, x + 1.2, y + 5.5, shirt);
            c.ellipse(x, y + 1.2, 1.1, 1.1, rgba(224, 180, 150));
        }
    }
    c.rect(0, 60, 160, 64, rgba(90, 92, 96));
    c.grain(seed + 5, 0.06, 4);
    return c;
}

canvas fans_picture(uint32_t seed)
{
    canvas c(128, 64, 0);
    static const uint32_t shirts[] = {rgba(200, 40, 40),  rgba(40, 80, 200),   rgba(230, 200, 40), rgba(240, 240, 240),
                                      rgba(30, 30, 30),   rgba(60, 160, 70),   rgba(240, 130, 30), rgba(120, 60, 150)};
    static const uint32_t skins[] = {rgba(234, 192, 160), rgba(200, 150, 110), rgba(150, 100, 70), rgba(110, 74, 50)};
    // Two loose rows: the back row first (smaller, higher), each person
    // with a shirt, legs, a head, and now and then a cap or arms raised.
    for (int row = 0; row < 2; row++) {
        double scale = row == 0 ? 0.8 : 1.0, foot = row == 0 ? 50 : 62;
        int count = row == 0 ? 11 : 9;
        for (int k = 0; k < count; k++) {
            uint32_t h = (uint32_t)(k * 2 + row);
            double x = (k + 0.5) * 128.0 / count + 4 * (hash01(h, 1, seed) - 0.5);
            double tall = scale * (40 + 8 * hash01(h, 2, seed));
            double top = foot - tall;
            uint32_t shirt = shirts[(uint32_t)(hash01(h, 3, seed) * 8) % 8];
            uint32_t skin = skins[(uint32_t)(hash01(h, 4, seed) * 4) % 4];
            double half = scale * (4.2 + 1.2 * hash01(h, 5, seed));
            c.rect(x - half * 0.8, top + tall * 0.55, x - 0.6, foot, rgba(50, 56, 80));
            c.rect(x + 0.6, top + tall * 0.55, x + half * 0.8, foot, rgba(50, 56, 80));
            c.polygon({x - half, top + tall * 0.2, x + half, top + tall * 0.2, x + half * 0.85, top + tall * 0.6,
                       x - half * 0.85, top + tall * 0.6},
                      shirt);
            double r = tall * 0.1;
            c.ellipse(x, top + tall * 0.1, r, r * 1.1, skin);
            double arms = hash01(h, 6, seed);
            if (arms < 0.3) {  // cheering, both arms up
                c.line(x - half, top + tall * 0.24, x - half - 3 * scale, top - 2, 2.2 * scale, shirt);
                c.line(x + half, top + tall * 0.24, x + half + 3 * scale, top - 2, 2.2 * scale, shirt);
            } else {
                c.line(x - half, top + tall * 0.24, x - half - 1, top + tall * 0.55, 2.2 * scale, shirt);
                c.line(x + half, top + tall * 0.24, x + half + 1, top + tall * 0.55, 2.2 * scale, shirt);
            }
            if (hash01(h, 7, seed) < 0.4)
                c.rect(x - r, top - r * 0.1, x + r, top + r * 0.5, shirts[(uint32_t)(hash01(h, 8, seed) * 8) % 8]);
        }
    }
    // The rope they stand behind, on stakes.
    for (double x = 6; x < 128; x += 29)
        c.rect(x - 0.8, 44, x + 0.8, 64, rgba(200, 190, 170));
    c.line(0, 47, 128, 47, 1.2, rgba(240, 200, 30));
    c.grain(seed + 9, 0.05, 3);
    return c;
}

// --- Decals --------------------------------------------------------------------

canvas finish_decal_picture(int columns)
{
    canvas c(columns * 8, 16, rgba(250, 250, 250));
    for (int i = 0; i < columns; i++)
        for (int j = 0; j < 2; j++)
            if ((i + j) % 2 == 0)
                c.rect(i * 8, j * 8, i * 8 + 8, j * 8 + 8, rgba(16, 16, 16));
    // Worn into the dirt: a little transparency at random.
    for (int y = 0; y < c.height; y++)
        for (int x = 0; x < c.width; x++)
            c.rgba[((size_t)y * c.width + x) * 4 + 3] = (uint8_t)(200 + 55 * hash01((uint32_t)x, (uint32_t)y, 0xF1u));
    return c;
}

canvas line_decal_picture()
{
    canvas c(256, 4, rgba(245, 245, 240));
    for (int y = 0; y < 4; y++)
        for (int x = 0; x < 256; x++) {
            double edge = (y == 0 || y == 3) ? 0.55 : 1;
            double chalk = 0.7 + 0.3 * hash01((uint32_t)x, (uint32_t)y, 0xC4u);
            c.rgba[((size_t)y * 256 + x) * 4 + 3] = to_byte(255 * edge * chalk);
        }
    return c;
}

canvas logo_decal_picture(const std::string& word)
{
    canvas c(64, 64, 0);
    c.ellipse(32, 32, 31, 31, rgba(250, 250, 250, 230));
    c.ellipse(32, 32, 27, 27, rgba(200, 30, 30, 230));
    double scale = std::min(4.0, std::floor(50.0 / std::max(1.0, 6.0 * (double)word.size())));
    double tw = canvas::text_width(word, scale);
    c.text(32 - tw / 2, 32 - 3.5 * scale, scale, word, rgba(250, 250, 250));
    return c;
}

canvas wordmark_decal_picture(const std::string& word)
{
    canvas c(256, 64, 0);
    double scale = std::min(7.0, std::floor(236.0 / std::max(1.0, 6.0 * (double)word.size())));
    double tw = canvas::text_width(word, scale), x = (256 - tw) / 2, y = 28 - 3.5 * scale;
    // Dark edging first, so the letters read on dirt and on grass.
    for (int dy = -1; dy <= 1; dy++)
        for (int dx = -1; dx <= 1; dx++)
            c.text(x + dx * 1.5, y + dy * 1.5, scale, word, rgba(20, 24, 40, 220));
    c.text(x, y, scale, word, rgba(250, 250, 250, 235));
    c.rect(x, 54, x + tw, 59, rgba(210, 30, 30, 225));
    return c;
}

namespace {

// A decal normal in the "_tnorm" encoding: n_s along the picture's width,
// n_t down its rows, n_up upward (normalised here).
void put_decal_normal(uint8_t* p, double n_s, double n_t, double n_up)
{
    double len = std::sqrt(n_s * n_s + n_t * n_t + n_up * n_up);
    p[0] = to_byte((0.5 - 0.5 * n_s / len) * 255);
    p[1] = to_byte((0.5 + 0.5 * n_t / len) * 255);
    p[2] = to_byte((0.5 + 0.5 * n_up / len) * 255);
}

void put_decal_shine(uint8_t* p, double shine, double exponent)
{
    p[0] = to_byte(shine * 255);
    p[1] = to_byte(exponent / 128 * 255);
    p[2] = 255;
}

}  // namespace

decal_pictures painted_decal(const canvas& colour, double shine, double exponent)
{
    decal_pictures d{colour, canvas(colour.width, colour.height, 0), canvas(colour.width, colour.height, 0)};
    for (size_t i = 0; i < colour.rgba.size(); i += 4) {
        put_decal_normal(&d.normal.rgba[i], 0, 0, 1);
        put_decal_shine(&d.specular.rgba[i], shine, exponent);
        d.normal.rgba[i + 3] = d.specular.rgba[i + 3] = colour.rgba[i + 3];
    }
    return d;
}

decal_pictures ruts_decal(int ruts, double width, double length)
{
    const int w = 1024, h = 64;
    const double ft_s = width / w, ft_t = length / h;  // feet per texel
    decal_pictures d{canvas(w, h, 0), canvas(w, h, 0), canvas(w, h, 0)};
    // Depth of the ground below its level (ft) and how wet it is.
    std::vector<double> depth((size_t)w * h, 0.0), wet((size_t)w * h, 0.0);
    const double half = 0.5;  // a rut's half width, ft
    for (int y = 0; y < h; y++) {
        double t = (y + 0.5) * ft_t;
        // Shallow from the gate line back, a hole where the wheel spins.
        double along = (0.35 + 0.65 * std::exp(-std::pow((t - 5.0) / 0.9, 2))) * std::min(1.0, t / 0.6) *
                       std::clamp((length - 0.3 - t) / 1.2, 0.0, 1.0);
        for (int x = 0; x < w; x++) {
            double s = (x + 0.5) * ft_s;
            int i = std::clamp((int)(s / width * ruts), 0, ruts - 1);
            double centre = (i + 0.5) * width / ruts + 0.12 * value_noise(0x2075u + (uint32_t)i, t / 1.5, 0);
            double dx = std::fabs(s - centre) / half;
            double groove = dx < 1 ? 1 - dx * dx : 0;
            double spoil = std::exp(-std::pow((dx - 1.35) / 0.3, 2));
            double rough = 0.04 * value_noise(0x5011u, s * 6, t * 6);
            size_t k = (size_t)y * w + x;
            depth[k] = along * (0.28 * groove - 0.08 * spoil) + rough * (groove + spoil) * along;
            wet[k] = along * groove;
        }
    }
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            size_t k = (size_t)y * w + x;
            auto at = [&](int xx, int yy) {
                return depth[(size_t)std::clamp(yy, 0, h - 1) * w + std::clamp(xx, 0, w - 1)];
            };
            // The ground's height is minus the depth.
            double dh_ds = -(at(x + 1, y) - at(x - 1, y)) / (2 * ft_s);
            double dh_dt = -(at(x, y + 1) - at(x, y - 1)) / (2 * ft_t);
            double a = std::clamp(std::fabs(depth[k]) / 0.12, 0.0, 1.0);
            uint8_t alpha = to_byte(a * 235);
            d.colour.rgba[k * 4 + 3] = d.normal.rgba[k * 4 + 3] = d.specular.rgba[k * 4 + 3] = alpha;
            // Dug dirt is darker and damp; the spoil beside it lighter.
            double dark = depth[k] > 0 ? 1 : 0;
            uint8_t* p = &d.colour.rgba[k * 4];
            double n = 0.9 + 0.2 * hash01((uint32_t)x, (uint32_t)y, 0x2B7u);
            p[0] = to_byte((dark ? 78 : 128) * n);
            p[1] = to_byte((dark ? 58 : 100) * n);
            p[2] = to_byte((dark ? 40 : 72) * n);
            put_decal_normal(&d.normal.rgba[k * 4], -dh_ds, -dh_dt, 1);
            put_decal_shine(&d.specular.rgba[k * 4], 0.05 + 0.3 * wet[k], 10);
        }
    return d;
}

// --- Gate texture ------------------------------------------------------

canvas startgate_texture()
{
    // Galvanised steel plate with a yellow and black top edge (v = 1 is
    // the picture's top row, the edge that meets the front wheel).
    canvas c(64, 64, rgba(168, 172, 176));
    for (int y = 0; y < 64; y += 8)
        c.rect(0, y, 64, y + 1, rgba(140, 144, 150));
    for (int k = 0; k < 8; k++) {
        double x = k * 8;
        c.polygon({x, 0, x + 4, 0, x + 8, 10, x + 4, 10}, rgba(20, 20, 20));
        c.polygon({x + 4, 0, x + 8, 0, x + 12, 10, x + 8, 10}, rgba(240, 200, 20));
    }
    c.grain(0x6A7Eu, 0.06, 3);
    return c;
}

}  // namespace mkdata
