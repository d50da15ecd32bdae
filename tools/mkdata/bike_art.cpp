// Bike, wheel, rider and helmet textures with their variants and maps.
//
// Makers are invented; each has a colour scheme and a word on its
// bodywork. The catalogue's stems decide the maker (by the letters they
// begin with), its classes the number plate.
#include "bike_art.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "bike/catalogue.h"
#include "stroke_font.h"

namespace mkdata {

namespace {

const double pi = 3.14159265358979323846;

// A rectangle of a picture (pixels, top row first) as texture coordinates,
// drawn in by a pixel so that filtering does not reach the neighbours.
qm_uv_rect px(int size, int x0, int y0, int x1, int y1)
{
    const float s = (float)size;
    return {(x0 + 1.5f) / s, 1 - (y1 - 1.5f) / s, (x1 - 1.5f) / s, 1 - (y0 + 1.5f) / s};
}

struct maker_scheme {
    const char* word;
    uint32_t main, second, accent;
    uint32_t frame, fork, spring, seat, rim;
    int style;  // graphics: 0 slanted bands, 1 sweep, 2 blocks
};

const maker_scheme k_makers[] = {
    {"KALDRO", 0x009AA0FFu, 0xF2F2F0FFu, 0x1E2A38FFu, 0xB8BCC2FFu, 0xC89A3CFFu, 0xF2F2F0FFu, 0x202226FFu, 0x2A2C30FFu, 0},
    {"ORVIK", 0x6A34A8FFu, 0x18181CFFu, 0xE8E8ECFFu, 0x2A2A2EFFu, 0x3A3A40FFu, 0x9A64D8FFu, 0x18181CFFu, 0x18181CFFu, 1},
    {"BRANNOX", 0xB81C2CFFu, 0xC8CCD2FFu, 0x141418FFu, 0x9EA2A8FFu, 0x2C2C30FFu, 0xB81C2CFFu, 0x303236FFu, 0xB8BCC2FFu, 2},
    {"SILVETT", 0x33383FFFu, 0x1CC8E0FFu, 0xF4F4F4FFu, 0x1CA0B8FFu, 0x1C5C9CFFu, 0x1CC8E0FFu, 0x1C1E22FFu, 0x1C1E22FFu, 0},
    {"QUARNE", 0x142850FFu, 0x9CD21EFFu, 0xF0F0F0FFu, 0x9CD21EFFu, 0xC89A3CFFu, 0x9CD21EFFu, 0x141820FFu, 0x1C1E22FFu, 1},
    {"DELVIK", 0xF0F0EEFFu, 0x7C1430FFu, 0x1A2E6AFFu, 0x1A2E6AFFu, 0xC8A040FFu, 0x1A2E6AFFu, 0x24262AFFu, 0x2A2C30FFu, 2},
};
const int k_maker_count = (int)(sizeof k_makers / sizeof k_makers[0]);

// The special edition: gold and black.
const maker_scheme k_special = {"SE", 0x1A1A1CFFu, 0xD8A830FFu, 0xF4F4F4FFu, 0xD8A830FFu, 0xD8A830FFu,
                                0xD8A830FFu, 0x1A1A1CFFu, 0xD8A830FFu, 1};

int maker_of(const std::string& stem)
{
    auto starts = [&](const char* p) { return stem.compare(0, strlen(p), p) == 0; };
    if (starts("cr"))
        return 0;
    if (starts("kx"))
        return 1;
    if (starts("rm"))
        return 2;
    if (starts("yz"))
        return 3;
    if (starts("fc"))
        return 5;
    return 4;  // the "sx" family
}

std::string stem_of(const char* model_name)
{
    // "@" + stem + "_frame.qm"
    std::string s = model_name + 1;
    return s.substr(0, s.size() - strlen("_frame.qm"));
}

// The scheme a texture is painted in: the maker's, or for scheme 1 (the
// team variant) its colours turned around.
maker_scheme scheme_for(const bike_livery& l, int scheme)
{
    maker_scheme m = l.special ? k_special : k_makers[l.maker];
    if (scheme == 1) {
        std::swap(m.main, m.second);
        m.style = (m.style + 1) % 3;
    }
    return m;
}

uint32_t lerp_colour(uint32_t a, uint32_t b, double t)
{
    auto ch = [&](int s) {
        const double v = (a >> s & 255) + ((double)(b >> s & 255) - (a >> s & 255)) * t;
        return (uint32_t)std::lround(std::clamp(v, 0.0, 255.0)) << s;
    };
    return ch(24) | ch(16) | ch(8) | ch(0);
}

// Fills a rectangle with a colour and a light brushed or grainy texture.
void fill(canvas* c, int x0, int y0, int x1, int y1, uint32_t colour, double noise, uint32_t seed, double cell_x = 3,
          double cell_y = 3)
{
    for (int y = y0; y < y1; y++)
        for (int x = x0; x < x1; x++) {
            const double n = noise * value_noise(seed, x / cell_x, y / cell_y);
            c->blend(x, y, shade(colour, 1 + n), 1);
        }
}

// A shroud graphic in the box (x0, y0)-(x0 + 256, y0 + 128). The picture's
// right edge is the front of the bike on the right side; on the left side,
// whose copy reads its half of the texture the other way round (so that
// the word reads left to right there too), the front is the picture's left
// edge, so the bands are drawn mirrored.
void shroud_graphic(canvas* c, int x0, int y0, const maker_scheme& m, bool left)
{
    fill(c, x0, y0, x0 + 256, y0 + 128, m.main, 0.04, 0x51u);
    auto poly = [&](std::vector<double> pts, uint32_t col) {
        for (size_t i = 0; i < pts.size(); i += 2) {
            if (left)
                pts[i] = 256 - pts[i];
            pts[i] += x0;
            pts[i + 1] += y0;
        }
        c->polygon(pts, col);
    };
    switch (m.style) {
    case 0:  // bands slanting back from the front edge
        poly({256, 70, 256, 100, 0, 128, 0, 104}, m.second);
        poly({256, 62, 256, 68, 0, 100, 0, 96}, m.accent);
        poly({256, 0, 256, 10, 0, 34, 0, 22}, m.accent);
        break;
    case 1:  // a sweep from the lower front to the upper back
        poly({256, 128, 256, 88, 150, 70, 60, 40, 0, 30, 0, 52, 70, 66, 170, 100}, m.second);
        poly({256, 84, 256, 78, 150, 62, 60, 32, 0, 22, 0, 26, 60, 36, 150, 66}, m.accent);
        break;
    default:  // blocks
        poly({0, 84, 256, 84, 256, 128, 0, 128}, m.second);
        poly({190, 0, 256, 0, 256, 84, 210, 84}, m.accent);
        poly({0, 78, 256, 78, 256, 84, 0, 84}, m.accent);
        break;
    }
    stroke_style st;
    st.unit = 1;
    st.weight = 1.6;
    st.slant = 0.2;
    st.spacing = 0.9;
    st.unit = std::min(5.2, 200 / stroke_text_width(m.word, st));
    const uint32_t ink = m.second, edge = m.accent;
    const double cx = x0 + 128, base = y0 + 66;
    stroke_style bold = st;
    bold.weight = 2.4;
    stroke_draw_centred(c, cx, base, m.word, bold, edge);
    stroke_draw_centred(c, cx, base, m.word, st, ink);
}

}  // namespace

// --- Layouts -----------------------------------------------------------------------

namespace bike_uv {
const qm_uv_rect shroud_right = px(512, 0, 0, 256, 128), shroud_left = px(512, 256, 0, 512, 128),
                 side_panel = px(512, 0, 128, 192, 224), plate = px(512, 192, 128, 256, 192),
                 plastic = px(512, 256, 128, 320, 192), plastic_second = px(512, 320, 128, 384, 192),
                 seat = px(512, 384, 128, 512, 224), frame = px(512, 0, 224, 128, 288),
                 engine = px(512, 128, 224, 256, 288), radiator = px(512, 256, 224, 320, 288),
                 fork_outer = px(512, 320, 224, 384, 288), fork_inner = px(512, 384, 224, 448, 288),
                 swingarm = px(512, 448, 224, 512, 288), chain = px(512, 0, 288, 128, 320),
                 spring = px(512, 128, 288, 256, 320), silencer = px(512, 256, 288, 448, 352),
                 rubber = px(512, 448, 288, 512, 320), chrome = px(512, 448, 320, 512, 352),
                 bar_pad = px(512, 128, 320, 256, 352);
}
namespace wheel_uv {
const qm_uv_rect spokes = px(256, 0, 0, 128, 128), brake_disc = px(256, 128, 0, 192, 64),
                 sprocket = px(256, 192, 0, 256, 64), tread = px(256, 128, 64, 256, 128),
                 sidewall = px(256, 0, 128, 256, 160), rim = px(256, 0, 160, 128, 192), hub = px(256, 128, 160, 192, 192),
                 knob = px(256, 192, 160, 256, 192), metal = px(256, 0, 192, 64, 224);
}
namespace rider_uv {
const qm_uv_rect torso = px(512, 0, 0, 256, 256), sleeve = px(512, 256, 0, 512, 128),
                 glove = px(512, 256, 128, 384, 192), pants = px(512, 0, 256, 256, 384),
                 boot = px(512, 256, 256, 512, 384), collar = px(512, 256, 192, 384, 256);
}
namespace head_uv {
const qm_uv_rect shell = px(256, 0, 0, 256, 128), peak = px(256, 0, 128, 128, 192), chin = px(256, 128, 128, 256, 192),
                 strap = px(256, 0, 192, 128, 224), lens = px(256, 128, 192, 192, 256),
                 goggle_frame = px(256, 192, 192, 256, 224), inside = px(256, 0, 224, 128, 256);
}

// --- Catalogue --------------------------------------------------------------------

const std::vector<bike_stem>& bike_stems()
{
    static std::vector<bike_stem> stems;
    if (stems.empty()) {
        const bike_params* cat = bike_catalogue();
        for (int i = 0; i < BIKE_CATALOGUE_SIZE; i++) {
            const std::string stem = stem_of(cat[i].frame_model);
            bool known = false;
            for (const bike_stem& s : stems)
                known = known || s.stem == stem;
            if (known)
                continue;
            const std::string cls = cat[i].class_name;
            const engine_kind e = cls == "450f" || cls == "250f" ? engine_kind::four_stroke : engine_kind::two_stroke;
            stems.push_back({stem, cls, e, maker_of(stem)});
        }
    }
    return stems;
}

const std::vector<bike_livery>& bike_liveries()
{
    static std::vector<bike_livery> liveries;
    if (liveries.empty()) {
        const bike_params* cat = bike_catalogue();
        for (int i = 0; i < BIKE_CATALOGUE_SIZE; i++) {
            const std::string tex = cat[i].bike_texture + 1;
            bool known = false;
            for (const bike_livery& l : liveries)
                known = known || l.texture == tex;
            if (known)
                continue;
            const std::string stem = stem_of(cat[i].frame_model);
            liveries.push_back({tex, cat[i].class_name, maker_of(stem), tex != stem + ".png"});
        }
    }
    return liveries;
}

plate_colours class_plate_colours(const std::string& cls)
{
    // Open four-strokes white with black figures, the small four-strokes
    // black with white, the open two-strokes yellow, the small two-strokes
    // blue, the minis green.
    if (cls == "450f")
        return {{255, 255, 255}, {0, 0, 0}};
    if (cls == "250f")
        return {{16, 16, 16}, {255, 255, 255}};
    if (cls == "250")
        return {{250, 210, 20}, {0, 0, 0}};
    if (cls == "125")
        return {{24, 60, 180}, {255, 255, 255}};
    return {{30, 140, 60}, {255, 255, 255}};
}

std::string bike_texture_text(const bike_livery& l)
{
    // Each value is written as (byte + 0.5) / 255 so that the loader's
    // scaling by 255 and truncation gives the byte back exactly.
    const plate_colours p = class_plate_colours(l.class_name);
    char text[200];
    snprintf(text, sizeof text, "[numberbackground:%.6f,%.6f,%.6f][numberforeground:%.6f,%.6f,%.6f]",
             (p.background[0] + 0.5) / 255, (p.background[1] + 0.5) / 255, (p.background[2] + 0.5) / 255,
             (p.figures[0] + 0.5) / 255, (p.figures[1] + 0.5) / 255, (p.figures[2] + 0.5) / 255);
    return text;
}

// --- Bike texture -----------------------------------------------------------------

canvas bike_texture(const bike_livery& l, int scheme)
{
    const maker_scheme m = scheme_for(l, scheme);
    const plate_colours plate = class_plate_colours(l.class_name);
    canvas c(512, 512, rgba(90, 92, 96));
    shroud_graphic(&c, 0, 0, m, false);
    shroud_graphic(&c, 256, 0, m, true);
    // Side panel: the second colour, an accent line under the seat.
    fill(&c, 0, 128, 192, 224, m.second, 0.03, 0x52u);
    c.rect(0, 128, 192, 138, m.main);
    c.rect(0, 138, 192, 142, m.accent);
    // Number plate ground, with a darker rim.
    const uint32_t ground = rgba(plate.background[0], plate.background[1], plate.background[2]);
    c.rect(192, 128, 256, 192, shade(ground, 0.7));
    c.rect(196, 132, 252, 188, ground);
    fill(&c, 256, 128, 320, 192, m.main, 0.03, 0x53u);
    fill(&c, 320, 128, 384, 192, m.second, 0.03, 0x54u);
    // Seat: gripper ribs across, a band of the main colour along the top.
    fill(&c, 384, 128, 512, 224, m.seat, 0.05, 0x55u, 2, 2);
    for (int y = 130; y < 224; y += 6)
        c.rect(384, y, 512, y + 2, shade(m.seat, 0.7));
    c.rect(408, 128, 424, 224, shade(m.main, 0.85));
    fill(&c, 0, 224, 128, 288, m.frame, 0.06, 0x56u, 12, 1);
    // Engine: dark alloy with cooling fins across.
    fill(&c, 128, 224, 256, 288, rgba(70, 72, 76), 0.05, 0x57u);
    for (int y = 226; y < 288; y += 5)
        c.rect(128, y, 256, y + 2, rgba(40, 42, 46));
    // Radiator core: a fine black mesh.
    c.rect(256, 224, 320, 288, rgba(26, 26, 28));
    for (int x = 256; x < 320; x += 3)
        c.rect(x, 224, x + 1, 288, rgba(60, 60, 64));
    fill(&c, 320, 224, 384, 288, m.fork, 0.04, 0x58u, 1, 10);
    fill(&c, 384, 224, 448, 288, rgba(222, 206, 160), 0.05, 0x59u, 1, 12);
    fill(&c, 448, 224, 512, 288, rgba(176, 180, 186), 0.07, 0x5Au, 14, 1);
    // Chain: links along u.
    c.rect(0, 288, 128, 320, rgba(30, 30, 32));
    for (int x = 0; x < 128; x += 8) {
        c.rect(x + 1, 294, x + 6, 314, rgba(96, 96, 100));
        c.ellipse(x + 7, 304, 2, 2, rgba(150, 150, 150));
    }
    // Spring: coils across.
    c.rect(128, 288, 256, 320, shade(m.spring, 0.6));
    for (int x = 128; x < 256; x += 8)
        c.rect(x, 288, x + 5, 320, m.spring);
    // Silencer: brushed aluminium with dark end bands.
    fill(&c, 256, 288, 448, 352, rgba(190, 192, 196), 0.06, 0x5Bu, 16, 1);
    c.rect(256, 288, 448, 296, rgba(40, 40, 44));
    c.rect(256, 344, 448, 352, rgba(40, 40, 44));
    fill(&c, 448, 288, 512, 320, rgba(28, 28, 30), 0.08, 0x5Cu, 2, 2);
    c.rect(448, 320, 512, 352, rgba(205, 208, 214));
    // Bar pad with the word.
    fill(&c, 128, 320, 256, 352, m.main, 0.03, 0x5Du);
    stroke_style st;
    st.unit = 2.4;
    st.weight = 1.3;
    stroke_draw_centred(&c, 192, 343, m.word, st, m.second == m.main ? m.accent : m.second);
    return c;
}

namespace {

// Normal map of the bike layout: flat, with the seat's ribs, the fins of
// engine and radiator and the chain's links raised. Half the colour map's
// size; tangent-space (128, 128, 255) is flat.
canvas bike_normal_map()
{
    canvas c(256, 256, rgba(128, 128, 255));
    auto bumps = [&](int x0, int y0, int x1, int y1, double period, bool across_v) {
        for (int y = y0; y < y1; y++)
            for (int x = x0; x < x1; x++) {
                const double t = std::sin(2 * pi * ((across_v ? y : x) - (across_v ? y0 : x0)) / period);
                const int d = (int)std::lround(70 * t);
                c.rgba[((size_t)y * 256 + x) * 4 + (across_v ? 1 : 0)] = (uint8_t)(128 + d);
                const double z = std::sqrt(std::max(0.0, 1 - (d / 127.0) * (d / 127.0)));
                c.rgba[((size_t)y * 256 + x) * 4 + 2] = (uint8_t)std::lround(128 + 127 * z);
            }
    };
    bumps(192, 64, 256, 112, 3, true);   // seat ribs
    bumps(64, 112, 128, 144, 2.5, true); // engine fins
    bumps(128, 112, 160, 144, 1.5, false);  // radiator core
    bumps(0, 144, 64, 160, 4, false);    // chain
    bumps(64, 144, 128, 160, 4, false);  // spring coils
    return c;
}

// Specular map: colour of the shine, alpha the exponent / 128 (255: the
// model's own). Paint shines, seat and rubber stay dull, metal is bright.
canvas bike_specular_map()
{
    canvas c(128, 128, rgba(150, 150, 150, 255));
    auto region = [&](int x0, int y0, int x1, int y1, uint32_t colour) { c.rect(x0 / 4.0, y0 / 4.0, x1 / 4.0, y1 / 4.0, colour); };
    region(384, 128, 512, 224, rgba(20, 20, 20, 20));     // seat
    region(256, 224, 320, 288, rgba(30, 30, 30, 40));     // radiator
    region(128, 224, 256, 288, rgba(90, 90, 90, 80));     // engine
    region(448, 288, 512, 320, rgba(10, 10, 10, 16));     // rubber
    region(0, 224, 128, 288, rgba(210, 210, 210, 255));   // frame
    region(320, 224, 512, 288, rgba(230, 230, 230, 255)); // fork and swingarm
    region(256, 288, 448, 352, rgba(200, 200, 200, 255)); // silencer
    region(448, 320, 512, 352, rgba(255, 255, 255, 255)); // chrome
    return c;
}

}  // namespace

// --- Wheels -----------------------------------------------------------------------

canvas wheel_texture(int scheme)
{
    static const uint32_t rims[] = {0x2A2C30FFu, 0xC8A040FFu, 0xB8BCC2FFu};
    const uint32_t rim = rims[scheme % 3];
    canvas c(256, 256, rgba(30, 30, 32, 255));
    // Spoke disc: transparent but for hub, spokes and nipples.
    c.rect(0, 0, 128, 128, 0x00000000u);
    const double cx = 64, cy = 64;
    for (int k = 0; k < 32; k++) {
        const double a = 2 * pi * k / 32;
        const double off = (k % 2 ? 1 : -1) * 0.42;  // crossed lacing
        c.line(cx + 11 * std::cos(a + off), cy + 11 * std::sin(a + off), cx + 61 * std::cos(a), cy + 61 * std::sin(a),
               1.7, rgba(176, 178, 182));
        c.ellipse(cx + 61 * std::cos(a), cy + 61 * std::sin(a), 1.6, 1.6, rgba(120, 120, 124));
    }
    c.ellipse(cx, cy, 14, 14, rgba(150, 152, 156));
    c.ellipse(cx, cy, 5, 5, rgba(60, 60, 64));
    // Brake disc with its holes, on a black carrier.
    c.rect(128, 0, 192, 64, 0x00000000u);
    c.ellipse(160, 32, 31, 31, rgba(168, 170, 174));
    for (int k = 0; k < 24; k++) {
        const double a = 2 * pi * k / 24, r = 25 + 3 * (k % 2);
        c.ellipse(160 + r * std::cos(a), 32 + r * std::sin(a), 1.4, 1.4, 0x00000000u);
    }
    for (int y = 0; y < 64; y++)
        for (int x = 128; x < 192; x++)
            for (int k = 0; k < 24; k++) {
                const double a = 2 * pi * k / 24, r = 25 + 3 * (k % 2);
                if (std::hypot(x + 0.5 - (160 + r * std::cos(a)), y + 0.5 - (32 + r * std::sin(a))) < 1.6)
                    c.rgba[((size_t)y * 256 + x) * 4 + 3] = 0;
            }
    c.ellipse(160, 32, 19, 19, rgba(30, 30, 32));
    c.ellipse(160, 32, 7, 7, rgba(150, 152, 156));
    // Sprocket: teeth around, lightening holes through it.
    c.rect(192, 0, 256, 64, 0x00000000u);
    const uint32_t sprocket_colour = scheme == 1 ? rgba(30, 30, 32) : rgba(214, 170, 60);
    std::vector<double> teeth;
    for (int k = 0; k < 96; k++) {
        const double a = 2 * pi * k / 96, r = (k % 2) ? 31 : 28.5;
        teeth.insert(teeth.end(), {224 + r * std::cos(a), 32 + r * std::sin(a)});
    }
    c.polygon(teeth, sprocket_colour);
    for (int y = 0; y < 64; y++)
        for (int x = 192; x < 256; x++)
            for (int k = 0; k < 6; k++) {
                const double a = 2 * pi * k / 6;
                if (std::hypot(x + 0.5 - (224 + 17 * std::cos(a)), y + 0.5 - (32 + 17 * std::sin(a))) < 5.5)
                    c.rgba[((size_t)y * 256 + x) * 4 + 3] = 0;
            }
    // Tread: knob blocks on dark rubber, staggered.
    c.rect(128, 64, 256, 128, rgba(24, 24, 26));
    for (int row = 0; row < 4; row++)
        for (int k = 0; k < 8; k++) {
            const double x = 128 + k * 16 + (row % 2) * 8, y = 66 + row * 16;
            c.rect(x + 2, y + 2, x + 12, y + 12, rgba(44, 44, 46));
        }
    // Sidewall lettering.
    c.rect(0, 128, 256, 160, rgba(28, 28, 30));
    stroke_style st;
    st.unit = 2.4;
    st.weight = 1.2;
    stroke_draw_centred(&c, 128, 152, "TERRAGRIP  MX-3", st, rgba(120, 120, 124));
    fill(&c, 0, 160, 128, 192, rim, 0.06, 0x61u, 8, 1);
    fill(&c, 128, 160, 192, 192, rgba(160, 162, 166), 0.05, 0x62u);
    fill(&c, 192, 160, 256, 192, rgba(40, 40, 42), 0.08, 0x63u, 2, 2);
    fill(&c, 0, 192, 64, 224, rgba(150, 152, 156), 0.05, 0x64u);
    return c;
}

namespace {

canvas wheel_normal_map()
{
    canvas c(128, 128, rgba(128, 128, 255));
    // Knob edges on the tread, at half size.
    for (int row = 0; row < 4; row++)
        for (int k = 0; k < 8; k++) {
            const int x = 64 + k * 8 + (row % 2) * 4, y = 33 + row * 8;
            c.rect(x + 1, y + 1, x + 2, y + 6, rgba(40, 128, 220));
            c.rect(x + 5, y + 1, x + 6, y + 6, rgba(216, 128, 220));
            c.rect(x + 1, y + 1, x + 6, y + 2, rgba(128, 216, 220));
            c.rect(x + 1, y + 5, x + 6, y + 6, rgba(128, 40, 220));
        }
    return c;
}

canvas wheel_specular_map()
{
    canvas c(64, 64, rgba(12, 12, 12, 16));   // rubber
    c.rect(0, 0, 64, 16, rgba(210, 210, 210, 255));   // spokes, disc, sprocket
    c.rect(0, 40, 48, 56, rgba(230, 230, 230, 255));  // rim, hub
    c.rect(0, 48, 16, 56, rgba(200, 200, 200, 255));  // metal
    return c;
}

}  // namespace

// --- Rider and helmet ------------------------------------------------------------

namespace {

struct kit_scheme {
    uint32_t main, second, accent, pants, boots, gloves;
    const char* word;
};
const kit_scheme k_kits[] = {
    {0x1C3C8CFFu, 0xF0F0F0FFu, 0xE8C020FFu, 0x1C2C5CFFu, 0xF0F0F0FFu, 0x1C3C8CFFu, "HALVARD"},
    {0xC81E1EFFu, 0x202024FFu, 0xF0F0F0FFu, 0x202024FFu, 0x202024FFu, 0xC81E1EFFu, "BRAKKEN"},
    {0x20A040FFu, 0x101418FFu, 0xF0F0F0FFu, 0x101418FFu, 0xF0F0F0FFu, 0x20A040FFu, "TUNDRA"},
    {0xF08C10FFu, 0xF4F4F4FFu, 0x202024FFu, 0x303034FFu, 0x303034FFu, 0xF08C10FFu, "SOLVEN"},
};

}  // namespace

canvas rider_texture(int scheme)
{
    const kit_scheme& k = k_kits[scheme % 4];
    canvas c(512, 512, rgba(60, 60, 64));
    // Jersey: the main colour, the second over the shoulders, a chest
    // band with the word; the back (u 0.75) plain for the number.
    fill(&c, 0, 0, 256, 256, k.main, 0.04, 0x71u, 4, 4);
    c.rect(0, 0, 256, 40, k.second);
    c.rect(0, 40, 256, 46, k.accent);
    c.polygon({20, 256, 108, 256, 80, 170, 40, 170}, k.second);
    c.polygon({148, 256, 236, 256, 216, 170, 176, 170}, k.second);
    stroke_style st;
    st.unit = 3.4;
    st.weight = 1.5;
    stroke_draw_centred(&c, 64, 110, k.word, st, k.accent);
    // Sleeves: the second colour toward the cuffs (v = 1 at the cuff).
    fill(&c, 256, 0, 512, 128, k.main, 0.04, 0x72u, 4, 4);
    c.rect(256, 0, 512, 30, k.second);
    c.rect(256, 30, 512, 36, k.accent);
    fill(&c, 256, 128, 384, 192, k.gloves, 0.05, 0x73u, 2, 2);
    c.rect(256, 170, 384, 192, rgba(30, 30, 32));
    fill(&c, 256, 192, 384, 256, k.second, 0.04, 0x74u);
    // Pants: knee panels of leather, the accent down the sides.
    fill(&c, 0, 256, 256, 384, k.pants, 0.05, 0x75u, 4, 4);
    c.rect(40, 256, 88, 384, k.second);
    c.rect(168, 256, 216, 384, k.second);
    c.rect(0, 300, 256, 306, k.accent);
    // Boots: shell with buckles, a dark sole at the foot (v = 0).
    fill(&c, 256, 256, 512, 384, k.boots, 0.04, 0x76u, 3, 3);
    for (int y = 276; y < 360; y += 22)
        c.rect(256, y, 512, y + 6, rgba(150, 152, 156));
    c.rect(256, 366, 512, 384, rgba(26, 26, 28));
    return c;
}

canvas head_texture(int scheme)
{
    const kit_scheme& k = k_kits[scheme % 4];
    canvas c(256, 256, rgba(40, 40, 44));
    // Shell: u from the back over the right side, the face (0.5) and the
    // left side; v from the rim (0) to the crown (1, the top row).
    fill(&c, 0, 0, 256, 128, k.main, 0.03, 0x81u, 4, 4);
    c.rect(0, 0, 256, 8, k.second);
    for (double cx : {0.0, 128.0, 256.0})
        c.polygon({cx - 14, 0, cx + 14, 0, cx + 6, 128, cx - 6, 128}, k.second);
    c.polygon({60, 128, 196, 128, 180, 96, 76, 96}, k.accent);
    stroke_style st;
    st.unit = 1.9;
    st.weight = 1.2;
    stroke_draw_centred(&c, 64, 70, k.word, st, k.second);
    stroke_draw_centred(&c, 192, 70, k.word, st, k.second);
    fill(&c, 0, 128, 128, 192, k.main, 0.03, 0x82u);
    c.rect(0, 152, 128, 166, k.second);
    fill(&c, 128, 128, 256, 192, k.second, 0.03, 0x83u);
    c.rect(128, 176, 256, 192, k.accent);
    c.rect(0, 192, 128, 224, rgba(20, 20, 22));
    stroke_style strap;
    strap.unit = 2;
    strap.weight = 1.3;
    stroke_draw_centred(&c, 64, 215, k.word, strap, k.accent);
    // Lens: a dark mirror tint; the environment pass adds the reflection.
    for (int y = 192; y < 256; y++)
        for (int x = 128; x < 192; x++)
            c.blend(x, y, lerp_colour(rgba(40, 60, 110), rgba(150, 70, 40), (y - 192) / 64.0), 1);
    fill(&c, 192, 192, 256, 224, rgba(236, 236, 236), 0.04, 0x84u);
    c.rect(0, 224, 128, 256, rgba(18, 18, 20));
    return c;
}

namespace {

canvas head_normal_map()
{
    return canvas(16, 16, rgba(128, 128, 255));
}

canvas head_specular_map()
{
    // Glossy paint on the shell, peak and chin bar; the strap dull.
    canvas c(32, 32, rgba(220, 220, 220, 255));
    c.rect(0, 24, 16, 28, rgba(10, 10, 10, 16));
    c.rect(0, 28, 16, 32, rgba(10, 10, 10, 16));
    return c;
}

}  // namespace

void add_bike_textures(output& out)
{
    // The default textures get their normal and specular maps ("_norm",
    // "_spec" before the extension). The variants do not: the menus list
    // every file that starts with a texture prefix ("rider_body-" ...), so
    // a map named after a variant would show up there as a choice of its
    // own; a variant is drawn without maps instead.
    const bytes bike_norm = canvas_png(bike_normal_map(), false);
    const bytes bike_spec = canvas_png(bike_specular_map(), true);
    for (const bike_livery& l : bike_liveries()) {
        const std::string base = l.texture.substr(0, l.texture.size() - 4);
        add_member(out, l.texture, canvas_png(bike_texture(l, 0), false, bike_texture_text(l)));
        add_member(out, base + "_norm.png", bike_norm);
        add_member(out, base + "_spec.png", bike_spec);
    }
    // A team variant for the newest model of each maker.
    std::vector<int> makers_done;
    for (const bike_livery& l : bike_liveries()) {
        if (l.special || std::find(makers_done.begin(), makers_done.end(), l.maker) != makers_done.end())
            continue;
        makers_done.push_back(l.maker);
        const std::string base = l.texture.substr(0, l.texture.size() - 4);
        add_member(out, base + "-team.png", canvas_png(bike_texture(l, 1), false, bike_texture_text(l)));
    }
    add_member(out, "wheels.png", canvas_png(wheel_texture(0), true));
    add_member(out, "wheels_norm.png", canvas_png(wheel_normal_map(), false));
    add_member(out, "wheels_spec.png", canvas_png(wheel_specular_map(), true));
    add_member(out, "wheels-gold.png", canvas_png(wheel_texture(1), true));
    add_member(out, "wheels-silver.png", canvas_png(wheel_texture(2), true));
    add_member(out, "rider_body.png", canvas_png(rider_texture(0), false));
    add_member(out, "rider_body-red.png", canvas_png(rider_texture(1), false));
    add_member(out, "rider_body-green.png", canvas_png(rider_texture(2), false));
    add_member(out, "rider_body-orange.png", canvas_png(rider_texture(3), false));
    add_member(out, "rider_head.png", canvas_png(head_texture(0), false));
    add_member(out, "rider_head_norm.png", canvas_png(head_normal_map(), false));
    add_member(out, "rider_head_spec.png", canvas_png(head_specular_map(), true));
    add_member(out, "rider_head-red.png", canvas_png(head_texture(1), false));
    add_member(out, "rider_head-green.png", canvas_png(head_texture(2), false));
    add_member(out, "rider_head-orange.png", canvas_png(head_texture(3), false));
}

}  // namespace mkdata
