// Drawing the sky: a colour for every direction (a gradient from the zenith
// to the haze at the horizon, clouds on a dome, the land below the horizon,
// the sun and its glow), sampled onto the sky box faces and the angular
// environment map; and the lens flare of the sun.
#include "sky.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "track_pictures.h"

namespace mkdata {

namespace {

const double pi = 3.14159265358979323846;

// The sky box's corners per face, as the scene draws them, in the order of
// the texture coordinates (1/128, 1/128), (1/128, 127/128), (127/128,
// 127/128), (127/128, 1/128): top left, bottom left, bottom right, top
// right of the picture.
const double box_corners[SKY_FACE_COUNT][4][3] = {
    {{-1, 1, -1}, {-1, -1, -1}, {1, -1, -1}, {1, 1, -1}},
    {{1, 1, -1}, {1, -1, -1}, {1, -1, 1}, {1, 1, 1}},
    {{1, 1, 1}, {1, -1, 1}, {-1, -1, 1}, {-1, 1, 1}},
    {{-1, 1, 1}, {-1, -1, 1}, {-1, -1, -1}, {-1, 1, -1}},
    {{-1, 1, 1}, {-1, 1, -1}, {1, 1, -1}, {1, 1, 1}},
};
const double box_uv0 = 1.0 / 128, box_uv1 = 127.0 / 128;

double smoothstep(double e0, double e1, double x)
{
    double t = std::clamp((x - e0) / (e1 - e0), 0.0, 1.0);
    return t * t * (3 - 2 * t);
}

void mix(double* c, const double* to, double t)
{
    for (int k = 0; k < 3; k++)
        c[k] += (to[k] - c[k]) * t;
}

// Fractal value noise, about -1..1.
double fbm(uint32_t seed, double x, double y, int octaves)
{
    double sum = 0, amplitude = 1, total = 0, f = 1;
    for (int o = 0; o < octaves; o++) {
        // Each octave turned a little, so the lattices do not line up.
        double a = 0.7 * o, ca = std::cos(a), sa = std::sin(a);
        sum += amplitude * value_noise(seed + (uint32_t)o * 977u, (x * ca - y * sa) * f, (x * sa + y * ca) * f);
        total += amplitude;
        amplitude *= 0.5;
        f *= 2.03;
    }
    return sum / total;
}

// Cloud density 0..1 at a point of the cloud dome's plane coordinates.
double cloud_density(const sky_look& look, double x, double z)
{
    double n = fbm(look.seed, x * 1.4 + 17.3, z * 1.4 - 5.1, 5);
    // Broad patches decide where clouds gather.
    n += 0.35 * value_noise(look.seed + 31u, x * 0.35, z * 0.35);
    double threshold = 0.55 - 0.9 * look.cloud_cover;
    return smoothstep(threshold, threshold + 0.32, n);
}

}  // namespace

const char* const sky_face_names[SKY_FACE_COUNT] = {"sky-n.ppm", "sky-e.ppm", "sky-s.ppm", "sky-w.ppm",
                                                    "sky-u.ppm"};
const char* const sky_env_name = "sky-env.ppm";

sky_look daylight_sky()
{
    sky_look l = {
        {62, 112, 196},   // zenith
        {178, 194, 214},  // horizon haze
        {104, 110, 96},   // land
        {250, 250, 252},  // cloud, sunlit
        {164, 172, 188},  // cloud, shaded
        {255, 236, 196},  // sun glow
        0.42,
        0x5C1Du,
    };
    return l;
}

sky_look evening_sky()
{
    sky_look l = {
        {44, 70, 150},    // zenith
        {226, 190, 156},  // horizon haze, warm
        {92, 84, 78},     // land
        {255, 226, 196},  // cloud, sunlit
        {150, 128, 138},  // cloud, shaded
        {255, 204, 140},  // sun glow
        0.5,
        0xE7E1u,
    };
    return l;
}

void sky_colour(const sky_look& look, const double sun[3], const double dir[3], double rgb[3])
{
    double len = std::sqrt(dir[0] * dir[0] + dir[1] * dir[1] + dir[2] * dir[2]);
    const double d[3] = {dir[0] / len, dir[1] / len, dir[2] / len};
    const double h = d[1];
    for (int k = 0; k < 3; k++)
        rgb[k] = look.zenith[k];
    if (h >= 0) {
        // Most of the change is low in the sky.
        const double e1 = std::exp(-1 / 0.3);
        mix(rgb, look.horizon, (std::exp(-h / 0.3) - e1) / (1 - e1));
        // Clouds on a dome: plane coordinates that stay finite at the
        // horizon, where the clouds crowd together and fade into the haze.
        double k = 1 / (h + 0.2);
        double x = d[0] * k, z = d[2] * k;
        double density = cloud_density(look, x, z);
        if (density > 0) {
            // The side of a cloud away from the sun lies in its own shade:
            // there the cloud grows thicker toward the sun.
            double sx = sun[0], sz = sun[2], sl = std::hypot(sx, sz);
            double toward = sl > 1e-6 ? cloud_density(look, x + sx / sl * 0.06, z + sz / sl * 0.06) : density;
            double lit = std::clamp(0.75 - 2.5 * (toward - density) - 0.25 * density, 0.0, 1.0);
            double cloud[3];
            for (int c = 0; c < 3; c++)
                cloud[c] = look.cloud_shade[c] + (look.cloud_lit[c] - look.cloud_shade[c]) * lit;
            mix(rgb, cloud, 0.94 * density);
        }
        mix(rgb, look.horizon, std::exp(-h / 0.06));
    } else {
        for (int k = 0; k < 3; k++)
            rgb[k] = look.horizon[k];
        mix(rgb, look.ground, smoothstep(0, 0.2, -h));
    }
    // The sun: a glow that brightens the haze round it, and its disc.
    double cosine = std::clamp(d[0] * sun[0] + d[1] * sun[1] + d[2] * sun[2], -1.0, 1.0);
    double angle = std::acos(cosine);
    double glow = 0.6 * std::exp(-angle / 0.05) + 0.25 * std::exp(-angle / 0.3);
    if (h < 0)
        glow *= 1 - 0.6 * smoothstep(0, 0.2, -h);
    for (int k = 0; k < 3; k++)
        rgb[k] += glow * look.glow[k];
    const double disc[3] = {255, 254, 246};
    mix(rgb, disc, smoothstep(sun_disc_radius + 0.006, sun_disc_radius - 0.006, angle));
    for (int k = 0; k < 3; k++)
        rgb[k] = std::clamp(rgb[k], 0.0, 255.0);
}

namespace {

canvas sky_face_picture(const sky_look& look, const double sun[3], int face, int size)
{
    canvas c(size, size, rgba(0, 0, 0));
    const double(*q)[3] = box_corners[face];
    // 2 x 2 samples per texel.
    for (int j = 0; j < size; j++)
        for (int i = 0; i < size; i++) {
            double sum[3] = {0, 0, 0};
            for (int sy = 0; sy < 2; sy++)
                for (int sx = 0; sx < 2; sx++) {
                    double u = (i + (sx + 0.5) / 2) / size, v = (j + (sy + 0.5) / 2) / size;
                    double a = (u - box_uv0) / (box_uv1 - box_uv0), b = (v - box_uv0) / (box_uv1 - box_uv0);
                    double p[3], rgb[3];
                    for (int k = 0; k < 3; k++)
                        p[k] = q[0][k] + (q[3][k] - q[0][k]) * a + (q[1][k] - q[0][k]) * b;
                    sky_colour(look, sun, p, rgb);
                    for (int k = 0; k < 3; k++)
                        sum[k] += rgb[k] / 4;
                }
            uint8_t* px = &c.rgba[((size_t)j * size + i) * 4];
            for (int k = 0; k < 3; k++)
                px[k] = (uint8_t)std::lround(sum[k]);
        }
    return c;
}

canvas sky_env_picture(const sky_look& look, const double sun[3], int size)
{
    canvas c(size, size, rgba(0, 0, 0));
    for (int j = 0; j < size; j++)
        for (int i = 0; i < size; i++) {
            double sum[3] = {0, 0, 0};
            for (int sy = 0; sy < 2; sy++)
                for (int sx = 0; sx < 2; sx++) {
                    double s = (i + (sx + 0.5) / 2) / size - 0.5, t = (j + (sy + 0.5) / 2) / size - 0.5;
                    double r = std::hypot(s, t), theta = 2 * pi * r;
                    double d[3] = {0, -1, 0};
                    if (theta < pi) {
                        d[0] = s / r * std::sin(theta);
                        d[1] = std::cos(theta);
                        d[2] = t / r * std::sin(theta);
                    }
                    double rgb[3];
                    sky_colour(look, sun, d, rgb);
                    for (int k = 0; k < 3; k++)
                        sum[k] += rgb[k] / 4;
                }
            uint8_t* px = &c.rgba[((size_t)j * size + i) * 4];
            for (int k = 0; k < 3; k++)
                px[k] = (uint8_t)std::lround(sum[k]);
        }
    return c;
}

}  // namespace

// --- Lens flare ------------------------------------------------------------------

std::string sun_flare_lines(const double sun[3], const double sun_color[3])
{
    struct element {
        double along, r, g, b, size;
        const char* texture;
    };
    // The glow on the sun, then ghosts on the line through the view
    // centre, faint and tinted as a camera's lens shows them.
    const element elements[] = {
        {1.0, 1.00, 0.95, 0.85, 0.30, "@flare-sun.png"}, {0.62, 0.22, 0.20, 0.12, 0.045, "@flare-hex.png"},
        {0.35, 0.10, 0.16, 0.22, 0.025, "@flare-disc.png"}, {0.12, 0.12, 0.10, 0.07, 0.06, "@flare-ring.png"},
        {-0.18, 0.20, 0.14, 0.08, 0.07, "@flare-hex.png"}, {-0.42, 0.08, 0.18, 0.10, 0.04, "@flare-disc.png"},
        {-0.70, 0.16, 0.10, 0.06, 0.16, "@flare-ring.png"}, {-1.05, 0.08, 0.12, 0.22, 0.11, "@flare-hex.png"},
    };
    std::string text;
    char line[256];
    for (const element& e : elements) {
        snprintf(line, sizeof line, "flare_element [ %f %f ] [ %f %f %f ] %f %s\n", 0.0, e.along, e.r * sun_color[0],
                 e.g * sun_color[1], e.b * sun_color[2], e.size, e.texture);
        text += line;
    }
    snprintf(line, sizeof line, "flare_vector [ %f %f %f ]\n", sun[0], sun[1], sun[2]);
    return text + line;
}

namespace {

enum class flare_kind { sun, disc, ring, hexagon };

canvas flare_picture(flare_kind kind, int size)
{
    canvas c(size, size, rgba(0, 0, 0, 0));
    for (int j = 0; j < size; j++)
        for (int i = 0; i < size; i++) {
            double sum = 0;
            for (int sy = 0; sy < 4; sy++)
                for (int sx = 0; sx < 4; sx++) {
                    // -1..1 across the picture.
                    double x = (i + (sx + 0.5) / 4) / size * 2 - 1, y = (j + (sy + 0.5) / 4) / size * 2 - 1;
                    double r = std::hypot(x, y), v = 0;
                    switch (kind) {
                    case flare_kind::sun: {
                        double a = std::atan2(y, x);
                        double rays = std::pow(std::fabs(std::cos(6 * a)), 60) +
                                      0.5 * std::pow(std::fabs(std::cos(6 * a + pi / 2)), 90);
                        v = 0.85 * std::exp(-r / 0.12) + 0.4 * std::exp(-r / 0.35) + 0.35 * rays * std::exp(-r / 0.5);
                        break;
                    }
                    case flare_kind::disc:
                        v = 0.5 * smoothstep(0.95, 0.82, r) + 0.25 * std::exp(-std::pow((r - 0.86) / 0.06, 2));
                        break;
                    case flare_kind::ring:
                        v = 0.9 * std::exp(-std::pow((r - 0.8) / 0.06, 2)) + 0.06 * smoothstep(0.85, 0.4, r);
                        break;
                    case flare_kind::hexagon: {
                        // Distance to the sides of a hexagon with corners on
                        // the x axis: 1 on its edge.
                        double e = 0;
                        for (int k = 0; k < 3; k++) {
                            double a = pi / 6 + k * pi / 3;
                            e = std::max(e, std::fabs(x * std::cos(a) + y * std::sin(a)) / (0.92 * std::cos(pi / 6)));
                        }
                        v = 0.45 * smoothstep(1.0, 0.94, e) + 0.4 * std::exp(-std::pow((e - 0.93) / 0.05, 2));
                        break;
                    }
                    }
                    // Nothing left at the picture's edge.
                    sum += std::min(1.0, v) * smoothstep(1.0, 0.9, std::max(std::fabs(x), std::fabs(y))) / 16;
                }
            uint8_t b = (uint8_t)std::lround(std::clamp(sum, 0.0, 1.0) * 255);
            uint8_t* px = &c.rgba[((size_t)j * size + i) * 4];
            px[0] = px[1] = px[2] = px[3] = b;
        }
    return c;
}

// --- Files -------------------------------------------------------------------------

const int face_size = 256, env_size = 256;

}  // namespace

void add_sky_content(output& out, const sky_look& look, const double sun[3])
{
    for (int f = 0; f < SKY_FACE_COUNT; f++)
        add_member(out, sky_face_names[f], canvas_ppm(sky_face_picture(look, sun, f, face_size)));
    add_member(out, sky_env_name, canvas_ppm(sky_env_picture(look, sun, env_size)));
    add_member(out, "flare-sun.png", canvas_png(flare_picture(flare_kind::sun, 128), true));
    add_member(out, "flare-disc.png", canvas_png(flare_picture(flare_kind::disc, 64), true));
    add_member(out, "flare-ring.png", canvas_png(flare_picture(flare_kind::ring, 64), true));
    add_member(out, "flare-hex.png", canvas_png(flare_picture(flare_kind::hexagon, 64), true));
}

bool write_sky(output& out, const std::string& dir, const sky_look& look, const double sun[3])
{
    for (int f = 0; f < SKY_FACE_COUNT; f++)
        if (!write_file(out, dir + sky_face_names[f], canvas_ppm(sky_face_picture(look, sun, f, face_size))))
            return false;
    return write_file(out, dir + sky_env_name, canvas_ppm(sky_env_picture(look, sun, env_size)));
}

}  // namespace mkdata
