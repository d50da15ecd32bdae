// The statues' textures with their normal and specular maps, and the
// models of the banner frame and the podium. Normal maps come from a
// height picture drawn in the texture's own layout, so that the bumps sit
// where the colour shows them.
#include "statue_models.h"

#include <algorithm>
#include <cmath>

namespace mkdata {

namespace {

uint8_t to_byte(double v)
{
    return (uint8_t)std::lround(std::clamp(v, 0.0, 255.0));
}

// Heights in texels over a w x h picture, row by row, top row first.
struct height_map {
    int w, h;
    std::vector<double> v;
    height_map(int width, int height) : w(width), h(height), v((size_t)width * height, 0.0) {}
    double& at(int x, int y) { return v[(size_t)y * w + x]; }
    double get(int x, int y) const
    {
        return v[(size_t)std::clamp(y, 0, h - 1) * w + std::clamp(x, 0, w - 1)];
    }
};

// The normal map of a height map: slopes by central differences, scaled by
// strength; red along the width, green up the picture (the rows run down),
// blue out of the surface.
canvas normal_map(const height_map& m, double strength)
{
    canvas c(m.w, m.h, rgba(128, 128, 255));
    for (int y = 0; y < m.h; y++)
        for (int x = 0; x < m.w; x++) {
            double dx = (m.get(x + 1, y) - m.get(x - 1, y)) / 2 * strength;
            double dy_down = (m.get(x, y + 1) - m.get(x, y - 1)) / 2 * strength;
            // Rising to the right tilts the normal left; rising down the
            // picture tilts it up the picture.
            double nx = -dx, ny = dy_down, nz = 1;
            double len = std::sqrt(nx * nx + ny * ny + nz * nz);
            uint8_t* p = &c.rgba[((size_t)y * m.w + x) * 4];
            p[0] = to_byte((nx / len * 0.5 + 0.5) * 255);
            p[1] = to_byte((ny / len * 0.5 + 0.5) * 255);
            p[2] = to_byte((nz / len * 0.5 + 0.5) * 255);
        }
    return c;
}

// A specular map: colour grey level `shine` (0..1) and exponent
// `exponent` (of 128) where mask is 0, `dull_shine` and `dull_exponent`
// where it is 1.
canvas specular_map(int w, int h, double shine, double exponent, double dull_shine, double dull_exponent,
                    const std::vector<double>& mask)
{
    canvas c(w, h, 0);
    for (size_t i = 0; i < (size_t)w * h; i++) {
        double m = mask.empty() ? 0 : std::clamp(mask[i], 0.0, 1.0);
        double s = shine + (dull_shine - shine) * m, e = exponent + (dull_exponent - exponent) * m;
        uint8_t* p = &c.rgba[i * 4];
        p[0] = p[1] = p[2] = to_byte(s * 255);
        p[3] = to_byte(e / 128 * 255);
    }
    return c;
}

// --- Tuff blocks and bales -----------------------------------------------------------

// How much dirt the lower part of a tuff block's side wears (0..1).
double tuffblock_dirt(int x, int y)
{
    return std::max(0.0, (y - 44) / 20.0) * (0.5 + 0.5 * value_noise(0xD1u, x / 5.0, y / 5.0));
}

// The straw strokes of a bale's side, each with its place, length, slant
// and tone.
template <class F>
void each_straw(F draw)
{
    for (int k = 0; k < 420; k++) {
        double x = hash01((uint32_t)k, 1, 0x4A7u) * 64, y = hash01((uint32_t)k, 2, 0x4A7u) * 64;
        double len = 3 + 5 * hash01((uint32_t)k, 3, 0x4A7u);
        double tone = 0.75 + 0.45 * hash01((uint32_t)k, 4, 0x4A7u);
        draw(x, y, x + len, y + (hash01((uint32_t)k, 5, 0x4A7u) - 0.5) * 2, tone);
    }
}

const double twine[2][2] = {{18, 20}, {44, 46}};  // columns of the twine bands

}  // namespace

canvas tuffblock_texture(uint32_t colour)
{
    // Foam block in a plastic cover: the colour with a white band and a
    // seam, worn with dirt toward the bottom (v = 0 is the picture's
    // bottom row).
    canvas c(64, 64, colour);
    c.rect(0, 26, 64, 38, rgba(245, 245, 245));
    c.rect(0, 31, 64, 33, shade(colour, 0.8));
    for (int y = 0; y < 64; y++)
        for (int x = 0; x < 64; x++)
            c.blend(x, y, rgba(110, 82, 56), tuffblock_dirt(x, y));
    c.grain(0x70FFu, 0.05, 4);
    return c;
}

canvas tuffblock_normal_map()
{
    // The seam a groove, the cover rounding over the block's edges at the
    // top and bottom of every side, and the wrinkles of the plastic.
    height_map m(64, 64);
    for (int y = 0; y < 64; y++)
        for (int x = 0; x < 64; x++) {
            double h = 0.5 * value_noise(0x7E1Eu, x / 6.0, y / 3.0);
            double seam = std::fabs(y + 0.5 - 32) / 2.5;
            if (seam < 1)
                h -= 1.6 * (1 - seam * seam);
            double edge = std::min(y + 0.5, 64 - (y + 0.5));
            if (edge < 6)
                h -= 4 * (1 - edge / 6) * (1 - edge / 6);
            m.at(x, y) = h;
        }
    return normal_map(m, 1.0);
}

canvas tuffblock_specular_map()
{
    // A plastic shine, dulled where the dirt sticks.
    std::vector<double> dirt(64 * 64);
    for (int y = 0; y < 64; y++)
        for (int x = 0; x < 64; x++)
            dirt[(size_t)y * 64 + x] = tuffblock_dirt(x, y) * 1.6;
    return specular_map(64, 64, 0.35, 28, 0.05, 4, dirt);
}

canvas haybale_texture()
{
    canvas c(64, 64, rgba(206, 178, 98));
    // Straw: short strokes along the bale, two twine bands across it.
    each_straw([&](double x0, double y0, double x1, double y1, double tone) {
        c.line(x0, y0, x1, y1, 0.8, shade(rgba(206, 178, 98), tone));
    });
    for (const auto& t : twine)
        c.rect(t[0], 0, t[1], 64, rgba(150, 120, 70));
    return c;
}

canvas haybale_normal_map()
{
    // Every stroke a ridge of straw; the twine cuts into the bale.
    canvas ridges(64, 64, rgba(0, 0, 0));
    each_straw([&](double x0, double y0, double x1, double y1, double tone) {
        ridges.line(x0, y0, x1, y1, 1.2, rgba(255, 255, 255, to_byte(120 + 100 * (tone - 0.75))));
    });
    height_map m(64, 64);
    for (int y = 0; y < 64; y++)
        for (int x = 0; x < 64; x++) {
            double h = ridges.rgba[((size_t)y * 64 + x) * 4] / 255.0 * 1.4;
            for (const auto& t : twine) {
                double d = std::max(t[0] - (x + 0.5), (x + 0.5) - t[1]);
                if (d < 1.5)
                    h -= 1.2 * std::min(1.0, 1.5 - d);
            }
            m.at(x, y) = h;
        }
    return normal_map(m, 1.2);
}

canvas haybale_specular_map()
{
    return specular_map(64, 64, 0.1, 6, 0.1, 6, {});
}

// --- Banner frame ------------------------------------------------------------------

qm_model banner_frame_model()
{
    qm_model m;
    qm_part part;
    part.shininess = 12;
    // The posts stand 0.3 ft into the ground, so they meet it on a slope.
    const qm_uv_rect steel{0.02f, 0.05f, 0.98f, 0.45f};
    for (double x : {-4.15, 4.15}) {
        const float centre[3] = {(float)x, 2.85f, 0};
        qm_add_cylinder(&part, 1, centre, 0.13f, 6.3f, 8, steel, steel);
    }
    const float a[3] = {4.0f, 3.2f, 0}, b[3] = {-4.0f, 3.2f, 0}, c[3] = {-4.0f, 5.2f, 0}, d[3] = {4.0f, 5.2f, 0};
    qm_add_quad(&part, a, b, c, d, qm_uv_rect{0, 0.5f, 1, 1}, true);
    m.parts.push_back(part);
    return m;
}

canvas banner_frame_texture(const canvas& banner)
{
    canvas c(128, 64, rgba(150, 156, 162));
    for (int y = 0; y < 32; y++)
        for (int x = 0; x < 128; x++) {
            // The banner's transparent corners (its grommets) over the
            // cloth's own colour at the edge.
            const uint8_t* s = &banner.rgba[((size_t)(y * banner.height / 32) * banner.width + x * banner.width / 128) * 4];
            c.rgba[((size_t)y * 128 + x) * 4 + 0] = s[0];
            c.rgba[((size_t)y * 128 + x) * 4 + 1] = s[1];
            c.rgba[((size_t)y * 128 + x) * 4 + 2] = s[2];
        }
    // Galvanised steel below.
    for (int y = 32; y < 64; y += 5)
        c.rect(0, y, 128, y + 1, rgba(132, 138, 146));
    c.grain(0xBA11u, 0.05, 3);
    return c;
}

// --- Podium ---------------------------------------------------------------------------

namespace {

// The three steps: the place they stand for, x range, height.
struct podium_step {
    int place;
    float x0, x1, height;
};
const podium_step podium_steps[3] = {{3, -6, -2, 1.4f}, {1, -2, 2, 3.0f}, {2, 2, 6, 2.1f}};

// Texture layout: the number panels side by side in the upper half (place
// k's panel in the k-th third), the carpet of the tops in the lower left
// quarter.
qm_uv_rect panel_rect(int place)
{
    float u0 = (float)(place - 1) / 3;
    return {u0 + 0.01f, 0.51f, u0 + 1.0f / 3 - 0.01f, 0.99f};
}
const qm_uv_rect carpet_rect{0.02f, 0.02f, 0.48f, 0.48f};

const uint32_t panel_blue = rgba(24, 44, 120);

}  // namespace

qm_model podium_model()
{
    qm_model m;
    qm_part part;
    part.shininess = 20;
    for (const podium_step& s : podium_steps) {
        const float lo[3] = {s.x0, -0.3f, (float)-podium_depth / 2}, hi[3] = {s.x1, s.height, (float)podium_depth / 2};
        qm_add_box(&part, lo, hi, panel_rect(s.place), carpet_rect);
    }
    m.parts.push_back(part);
    return m;
}

canvas podium_texture()
{
    canvas c(128, 128, rgba(0, 0, 0));
    static const uint32_t medals[3] = {rgba(236, 190, 40), rgba(200, 204, 212), rgba(196, 120, 60)};
    for (int place = 1; place <= 3; place++) {
        double x0 = (place - 1) * 128.0 / 3, x1 = place * 128.0 / 3;
        c.rect(x0, 0, x1, 64, rgba(250, 250, 250));
        c.rect(x0 + 3, 3, x1 - 3, 61, panel_blue);
        std::string digit(1, (char)('0' + place));
        double scale = 5, w = canvas::text_width(digit, scale);
        c.text((x0 + x1 - w) / 2, 32 - 3.5 * scale, scale, digit, medals[place - 1]);
    }
    // Red carpet on the tops, with the weave.
    c.rect(0, 64, 64, 128, rgba(170, 30, 36));
    for (int y = 64; y < 128; y += 2)
        c.rect(0, y, 64, y + 1, rgba(150, 24, 30));
    c.rect(64, 64, 128, 128, panel_blue);
    c.grain(0x9D1Au, 0.04, 3);
    return c;
}

canvas podium_normal_map()
{
    // The white frame of every panel a raised rim; the carpet's weave.
    height_map m(128, 128);
    for (int y = 0; y < 128; y++)
        for (int x = 0; x < 128; x++) {
            double h = 0;
            if (y < 64) {
                double x0 = std::floor(x / (128.0 / 3)) * 128.0 / 3, x1 = x0 + 128.0 / 3;
                double inside = std::min({x + 0.5 - x0, x1 - (x + 0.5), y + 0.5, 64 - (y + 0.5)});
                h = inside < 3 ? 1.5 : 0;
            } else if (x < 64) {
                h = 0.5 * (y % 2) + 0.2 * value_noise(0xCA7u, x / 2.0, y / 2.0);
            }
            m.at(x, y) = h;
        }
    return normal_map(m, 1.0);
}

canvas podium_specular_map()
{
    // Gloss paint on the panels, the carpet dull.
    std::vector<double> carpet(128 * 128, 0.0);
    for (int y = 64; y < 128; y++)
        for (int x = 0; x < 64; x++)
            carpet[(size_t)y * 128 + x] = 1;
    return specular_map(128, 128, 0.5, 40, 0.03, 2, carpet);
}

}  // namespace mkdata
