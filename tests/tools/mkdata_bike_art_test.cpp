// What the bikes, riders and the HUD wear, read back from the build's data
// as the game finds it: every file a catalogue model loads, the models
// assembled at their bodies against the catalogue's geometry, the rider's
// skinning, the number plates, the font cells, the HUD pictures, and that
// the generator writes the same bytes every time.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "bike/catalogue.h"
#include "bike_art.h"
#include "files/datafs.h"
#include "files/stream.h"
#include "hud_pictures.h"
#include "mkdata.h"
#include "qm_read.h"
#include "render/picture.h"
#include "test_support.h"

namespace {

using namespace qm_read;
using mkdata::qm_uv_rect;

struct data_env {
    test::temp_dir home;
    test::scoped_env xdg{"XDG_DATA_HOME", home.path.c_str()};
    test::scoped_env kz{"KZ_HOME", test::build_data_dir().c_str()};
    data_env()
    {
        free_file_index();
        build_file_index();
    }
    ~data_env() { free_file_index(); }
};

// Models by data name, read once.
const read_model& model(const std::string& name)
{
    static std::map<std::string, read_model> cache;
    auto it = cache.find(name);
    if (it != cache.end())
        return it->second;
    read_model m;
    std::string why = "missing";
    data_stream* s = open_data_file(name.c_str(), "rb");
    const bool ok = s && read_qm(s, &m, &why);
    if (s)
        close_data_file(s);
    EXPECT_TRUE(ok) << name << ": " << why;
    return cache[name] = m;
}

size_t triangles(const read_model& m)
{
    size_t n = 0;
    for (const read_part& p : m.parts)
        n += p.triangles.size() / 3;
    return n;
}

bool in_file_list(const std::string& name)
{
    for (const char* const* f = build_file_index(); *f; f++)
        if (strcmp(*f, name.c_str()) == 0)
            return true;
    return false;
}

// A decoded picture's top level as RGBA.
struct rgba_picture {
    int width = 0, height = 0;
    std::vector<uint8_t> px;
    std::string text;
    const uint8_t* at(int x, int y) const { return &px[((size_t)y * width + x) * 4]; }
};
bool load_picture(const std::string& name, rgba_picture* out)
{
    picture p;
    if (!png_decode(name.c_str(), &p))
        return false;
    out->width = p.width;
    out->height = p.height;
    out->px.resize((size_t)p.width * p.height * 4);
    for (size_t i = 0; i < (size_t)p.width * p.height; i++)
        for (int c = 0; c < 4; c++)
            out->px[i * 4 + c] = c < p.channels ? p.pixels[i * p.channels + c] : 255;
    out->text = p.text ? p.text : "";
    picture_free(&p);
    return true;
}
bool power_of_two(int n)
{
    return n > 0 && (n & (n - 1)) == 0;
}

std::string lod_name(const char* data_name, int k)
{
    std::string s = data_name + 1;
    return s.substr(0, s.size() - 3) + "_lod" + std::to_string(k) + ".qm";
}

// --- Every file a bike loads --------------------------------------------------------

TEST(bike_art, EveryCatalogueModelFindsEveryModelAndTextureItLoads)
{
    data_env env;
    const bike_params* cat = bike_catalogue();
    std::set<std::string> checked;
    for (int i = 0; i < BIKE_CATALOGUE_SIZE; i++) {
        const bike_params& p = cat[i];
        const char* models[] = {p.frame_model, p.fork_upper_model, p.fork_lower_model, p.swingarm_model,
                                p.side_plates_model, p.front_plate_model, p.front_wheel_model, p.rear_wheel_model,
                                p.rider_model, p.rider_model_first_person, p.head_model, p.rider_plate_model};
        for (const char* name : models) {
            if (!checked.insert(name).second)
                continue;
            const read_model& m = model(name);
            expect_sound(m, name);
            // Environment-mapped parts come last: the lit pass stops at the
            // first one.
            bool env = false;
            for (const read_part& part : m.parts) {
                EXPECT_TRUE(!env || part.shininess == -1) << name << ": a lit part after a reflecting one";
                env = env || part.shininess == -1;
            }
            // The level-of-detail chain: each level lighter than the one
            // before. The number plates are single quads and have none.
            if (strstr(name, "plate"))
                continue;
            size_t before = triangles(m);
            for (int k : {5, 7}) {
                const std::string lod = lod_name(name, k);
                ASSERT_TRUE(in_file_list(lod) || in_file_list(lod + ".gz")) << lod;
                const read_model& l = model("@" + lod);
                EXPECT_LT(triangles(l), before) << lod;
                EXPECT_EQ(l.bones, m.bones) << lod;
                before = triangles(l);
            }
        }
        // The frame shines: its exhaust is drawn again by the reflection pass.
        const read_model& frame = model(p.frame_model);
        EXPECT_EQ(frame.parts.back().shininess, -1) << p.name;
        const char* textures[] = {p.bike_texture, p.wheel_texture, p.rider_texture, p.head_texture};
        for (const char* t : textures) {
            if (!checked.insert(t).second)
                continue;
            rgba_picture pic;
            ASSERT_TRUE(load_picture(t, &pic)) << t;
            EXPECT_TRUE(power_of_two(pic.width) && power_of_two(pic.height)) << t;
        }
        // Normal and specular maps beside the bike texture.
        const std::string base = std::string(p.bike_texture).substr(0, strlen(p.bike_texture) - 4);
        for (const char* suffix : {"_norm.png", "_spec.png"}) {
            rgba_picture pic;
            EXPECT_TRUE(load_picture(base + suffix, &pic)) << base + suffix;
        }
    }
    EXPECT_GE(checked.size(), 200u);
}

// Everything the menus offer by a texture prefix decodes, is sized for the
// texture loader, and is a colour texture (no map shows up as a choice).
TEST(bike_art, EveryListedVariantIsALoadablePicture)
{
    data_env env;
    std::vector<std::string> prefixes = {"rider_body-", "rider_head-", "wheels-"};
    for (const mkdata::bike_livery& l : mkdata::bike_liveries())
        prefixes.push_back(l.texture.substr(0, l.texture.size() - 4) + "-");
    std::map<std::string, int> found;
    for (const char* const* f = build_file_index(); *f; f++)
        for (const std::string& prefix : prefixes)
            if (strncmp(*f, prefix.c_str(), prefix.size()) == 0) {
                const std::string name = *f;
                EXPECT_EQ(name.find("_norm"), std::string::npos) << name;
                EXPECT_EQ(name.find("_spec"), std::string::npos) << name;
                // One dash only: a second would make the bike loader look
                // for a variant model that does not exist.
                EXPECT_EQ(std::count(name.begin(), name.end(), '-'), 1) << name;
                rgba_picture pic;
                ASSERT_TRUE(load_picture("@" + name, &pic)) << name;
                EXPECT_TRUE(power_of_two(pic.width) && power_of_two(pic.height)) << name;
                const bool bike = &prefix - &prefixes[0] >= 3;
                found[bike ? "bike" : prefix]++;
            }
    EXPECT_GE(found["rider_body-"], 2);
    EXPECT_GE(found["rider_head-"], 2);
    EXPECT_GE(found["wheels-"], 2);
    EXPECT_GE(found["bike"], 5);
}

// --- The bike assembled ------------------------------------------------------------

struct bounds {
    float lo[3] = {1e9f, 1e9f, 1e9f}, hi[3] = {-1e9f, -1e9f, -1e9f};
};
// Bounds of a model placed at `at`, over the vertices that `keep` accepts
// (world rest-frame positions).
template <class F>
bounds placed(const read_model& m, vec3 at, F keep)
{
    bounds b;
    for (const read_part& part : m.parts)
        for (size_t i = 0; i < part.position.size(); i += 3) {
            const float w[3] = {part.position[i] + at.x, part.position[i + 1] + at.y, part.position[i + 2] + at.z};
            if (!keep(w))
                continue;
            for (int k = 0; k < 3; k++) {
                b.lo[k] = std::min(b.lo[k], w[k]);
                b.hi[k] = std::max(b.hi[k], w[k]);
            }
        }
    return b;
}
bounds placed(const read_model& m, vec3 at)
{
    return placed(m, at, [](const float*) { return true; });
}

TEST(bike_art, AssembledAtTheirBodiesModelsFitTheCatalogueGeometry)
{
    data_env env;
    const bike_params* cat = bike_catalogue();
    std::set<std::string> stems;
    for (int i = 0; i < BIKE_CATALOGUE_SIZE; i++) {
        const bike_params& p = cat[i];
        if (!stems.insert(p.frame_model).second)
            continue;
        SCOPED_TRACE(p.name);
        // The wheels stand on the ground where the tyre tori touch it, a
        // wheelbase apart.
        const float front_r = p.front_tyre_ring_radius + p.front_tyre_section_radius;
        const float rear_r = p.rear_tyre_ring_radius + p.rear_tyre_section_radius;
        const bounds fw = placed(model(p.front_wheel_model), p.front_wheel_pos);
        const bounds rw = placed(model(p.rear_wheel_model), p.rear_wheel_pos);
        EXPECT_NEAR(fw.lo[1], p.front_wheel_pos.y - front_r, 0.03);
        EXPECT_NEAR(rw.lo[1], p.rear_wheel_pos.y - rear_r, 0.03);
        EXPECT_NEAR((rw.lo[2] + rw.hi[2]) / 2 - (fw.lo[2] + fw.hi[2]) / 2, p.rear_wheel_pos.z - p.front_wheel_pos.z, 0.02);
        const float ground = std::min(fw.lo[1], rw.lo[1]);

        // Seat: its top under the rider's hips, at a motocross bike's seat
        // height; the frame clears the ground like one.
        const float hip_z = p.rider_pos.z + p.hip[0].z, hip_y = p.rider_pos.y + p.hip[0].y;
        const bounds seat = placed(model(p.frame_model), p.frame_pos, [&](const float* w) {
            return std::fabs(w[0]) < 0.25f && std::fabs(w[2] - hip_z) < 0.5f;
        });
        const float seat_height = seat.hi[1] - ground;
        EXPECT_GT(seat_height * 12, 37.0f);
        EXPECT_LT(seat_height * 12, 41.5f);
        EXPECT_GT(hip_y - seat.hi[1], 0.3f);
        EXPECT_LT(hip_y - seat.hi[1], 1.0f);
        const bounds frame = placed(model(p.frame_model), p.frame_pos);
        EXPECT_GT(frame.lo[1] - ground, 0.75f);
        EXPECT_LT(frame.lo[1] - ground, 1.3f);

        // Overall: longer than the wheelbase by about a wheel, narrow but
        // for the bars, which reach the catalogue's grips.
        bounds all;
        const struct {
            const char* model;
            vec3 at;
        } parts[] = {{p.frame_model, p.frame_pos},       {p.fork_upper_model, p.fork_upper_pos},
                     {p.fork_lower_model, p.fork_lower_pos}, {p.swingarm_model, p.swingarm_pos},
                     {p.front_wheel_model, p.front_wheel_pos}, {p.rear_wheel_model, p.rear_wheel_pos}};
        for (const auto& part : parts) {
            const bounds b = placed(model(part.model), part.at);
            for (int k = 0; k < 3; k++) {
                all.lo[k] = std::min(all.lo[k], b.lo[k]);
                all.hi[k] = std::max(all.hi[k], b.hi[k]);
            }
        }
        const float wheelbase = p.rear_wheel_pos.z - p.front_wheel_pos.z;
        EXPECT_GT(all.hi[2] - all.lo[2], wheelbase + 1.8f);
        EXPECT_LT(all.hi[2] - all.lo[2], wheelbase + 3.2f);
        const bounds bars = placed(model(p.fork_upper_model), p.fork_upper_pos);
        EXPECT_GT(bars.hi[0], p.fork_upper_pos.x + p.grip[1].x);
        EXPECT_LT(bars.hi[0], p.fork_upper_pos.x + p.grip[1].x + 0.3f);
        EXPECT_NEAR(bars.lo[0], -bars.hi[0], 0.02);
        const bounds body = placed(model(p.frame_model), p.frame_pos);
        EXPECT_LT(body.hi[0] - body.lo[0], 1.5f);

        // The fork telescopes: the stanchions reach into the outer tubes
        // when extended and stay inside them at full travel. Measured along
        // the steering axis over what lies on the legs' centre lines.
        const float ay = p.fork_upper_pos.y - p.fork_lower_pos.y, az = p.fork_upper_pos.z - p.fork_lower_pos.z;
        const float len = std::sqrt(ay * ay + az * az);
        auto along = [&](const read_model& m, vec3 at, float* lo, float* hi) {
            *lo = 1e9f;
            *hi = -1e9f;
            for (const read_part& part : m.parts)
                for (size_t i = 0; i < part.position.size(); i += 3) {
                    const float w[3] = {part.position[i] + at.x, part.position[i + 1] + at.y, part.position[i + 2] + at.z};
                    const float d[3] = {std::fabs(w[0]) - p.fork_leg_spacing / 2, w[1] - p.front_wheel_pos.y,
                                        w[2] - p.front_wheel_pos.z};
                    const float t = (d[1] * ay + d[2] * az) / len;
                    const float off_y = d[1] - t * ay / len, off_z = d[2] - t * az / len;
                    if (d[0] * d[0] + off_y * off_y + off_z * off_z > 0.105f * 0.105f)
                        continue;
                    *lo = std::min(*lo, t);
                    *hi = std::max(*hi, t);
                }
        };
        float outer_lo, outer_hi, inner_lo, inner_hi;
        along(model(p.fork_upper_model), p.fork_upper_pos, &outer_lo, &outer_hi);
        along(model(p.fork_lower_model), p.fork_lower_pos, &inner_lo, &inner_hi);
        EXPECT_LT(inner_hi + p.fork_travel, outer_hi);
        EXPECT_GT(inner_hi, outer_lo + 0.2f);
        EXPECT_LT(inner_lo, 0.1f);  // down to the axle
    }
}

// The plates' numbers sit just off their grounds, facing out.
TEST(bike_art, NumberPlatesFaceOutFromTheirGrounds)
{
    data_env env;
    const bike_params& p = bike_catalogue()[0];
    const read_model& front = model(p.front_plate_model);
    ASSERT_EQ(front.parts.size(), 1u);
    const float* n = &front.parts[0].normal[0];
    EXPECT_LT(n[2], -0.8f);  // toward the front, tilted with the fork
    const read_model& sides = model(p.side_plates_model);
    int right = 0, left = 0;
    for (size_t i = 0; i < sides.parts[0].normal.size(); i += 3) {
        const float x = sides.parts[0].position[i], nx = sides.parts[0].normal[i];
        EXPECT_GT(x * nx, 0) << "a side number facing into the bike";
        (x > 0 ? right : left)++;
    }
    EXPECT_EQ(right, left);
    // Each number covers its ground: the ground of the plate texture lies
    // within a few hundredths of a foot behind it.
    const bounds num = placed(sides, p.frame_pos, [](const float* w) { return w[0] > 0; });
    const bounds frame = placed(model(p.frame_model), p.frame_pos, [&](const float* w) {
        return w[0] > 0.3f && w[2] > num.lo[2] && w[2] < num.hi[2] && w[1] > num.lo[1] && w[1] < num.hi[1];
    });
    EXPECT_GT(num.lo[0], frame.hi[0] - 0.001f);
    EXPECT_LT(num.lo[0] - frame.hi[0], 0.03f);
}

// --- The rider ------------------------------------------------------------------------

TEST(bike_art, RiderModelsCarryNineBonesThatFollowTheirJoints)
{
    data_env env;
    for (const char* name : {"@rider_body.qm", "@rider_body_fp.qm", "@rider_plate.qm", "@rider_body_lod7.qm"}) {
        SCOPED_TRACE(name);
        const read_model& m = model(name);
        ASSERT_EQ(m.version, 2);
        ASSERT_EQ(m.bones, 9);
        for (const read_part& part : m.parts)
            for (size_t v = 0; v < part.position.size() / 3; v++) {
                const float* w = &part.weights[v * 9];
                const float* pos = &part.position[v * 3];
                double sum = 0;
                for (int b = 0; b < 9; b++) {
                    EXPECT_GE(w[b], 0.0f);
                    sum += w[b];
                }
                ASSERT_NEAR(sum, 1.0, 1e-4) << "vertex " << v;
                const bool right = pos[0] > 0;
                // Beyond the elbows: the forearm of that side; below the
                // knees: the shin; the chest: the torso.
                if (std::fabs(pos[0]) > 1.7f) {
                    EXPECT_GT(w[right ? 1 : 0], 0.99f) << pos[0];
                }
                if (pos[1] < -2.5f) {
                    EXPECT_GT(w[right ? 5 : 4], 0.99f) << pos[1];
                }
                if (std::fabs(pos[0]) < 0.3f && pos[1] > -0.4f && pos[1] < 0.5f) {
                    EXPECT_GT(w[8], 0.99f);
                }
                // Between shoulder and elbow, the upper arm leads.
                if (std::fabs(pos[0]) > 0.8f && std::fabs(pos[0]) < 1.25f) {
                    EXPECT_GT(w[right ? 3 : 2], 0.99f) << pos[0];
                }
            }
    }
    // Arms out to the hands at the grips' reach, boots down to the pegs.
    const bounds body = placed(model("@rider_body.qm"), vec3{0, 0, 0});
    const bike_params& p = bike_catalogue()[0];
    const float reach = 0.556f + p.arm_upper + p.arm_lower;
    EXPECT_NEAR(body.hi[0], reach + 0.12f, 0.1f);
    EXPECT_NEAR(body.lo[0], -body.hi[0], 0.01f);
    EXPECT_NEAR(body.lo[1], -0.88f - p.leg_upper - p.leg_lower, 0.1f);
    EXPECT_LT(body.lo[2], -0.5f);  // toes forward
    // The rider's own view leaves out what would fill the camera.
    const bounds fp = placed(model("@rider_body_fp.qm"), vec3{0, 0, 0},
                             [](const float* w) { return std::fabs(w[0]) < 0.3f; });
    EXPECT_LT(fp.hi[1], body.hi[1] - 0.3f);
    // The number on the back, outside the jersey.
    const bounds plate = placed(model("@rider_plate.qm"), vec3{0, 0, 0});
    const bounds back = placed(model("@rider_body.qm"), vec3{0, 0, 0}, [&](const float* w) {
        return std::fabs(w[0]) < 0.1f && w[1] >= plate.lo[1] && w[1] <= plate.hi[1];
    });
    EXPECT_GT(plate.hi[2], back.hi[2] + 0.01f);
    EXPECT_LT(plate.hi[2], back.hi[2] + 0.1f);
}

TEST(bike_art, HelmetFacesForwardWithAReflectingLensLast)
{
    data_env env;
    const read_model& m = model("@rider_head.qm");
    EXPECT_EQ(m.version, 1);
    ASSERT_GE(m.parts.size(), 2u);
    EXPECT_EQ(m.parts.back().shininess, -1);
    const bounds b = placed(m, vec3{0, 0, 0});
    EXPECT_NEAR(b.hi[0], -b.lo[0], 0.02f);
    EXPECT_GT(b.hi[0], 0.35f);
    EXPECT_LT(b.hi[0], 0.5f);
    // Peak and chin bar ahead (-z), a round back.
    EXPECT_LT(b.lo[2], -0.6f);
    EXPECT_LT(b.hi[2], 0.55f);
    // The reflecting lens sits on the face.
    read_model lens;
    lens.parts.push_back(m.parts.back());
    const bounds l = placed(lens, vec3{0, 0, 0});
    EXPECT_LT(l.hi[2], -0.45f);
    EXPECT_LT(l.hi[0] - l.lo[0], 0.7f);
}

// --- Textures -------------------------------------------------------------------------

// The bike loader's reading of a plate colour from a texture's text.
bool plate_colour(const std::string& text, const char* key, uint8_t out[3])
{
    const size_t at = text.find(key);
    float v[3];
    if (at == std::string::npos || sscanf(text.c_str() + at + strlen(key), "%f,%f,%f", &v[0], &v[1], &v[2]) != 3)
        return false;
    for (int k = 0; k < 3; k++)
        out[k] = (uint8_t)(std::clamp(v[k], 0.0f, 1.0f) * 255);
    return true;
}

TEST(bike_art, PlatesArePaintedInTheColoursTheirTextsGive)
{
    data_env env;
    std::map<std::string, std::set<std::vector<int>>> by_class;
    for (const mkdata::bike_livery& l : mkdata::bike_liveries()) {
        SCOPED_TRACE(l.texture);
        rgba_picture pic;
        ASSERT_TRUE(load_picture("@" + l.texture, &pic));
        uint8_t bg[3], fg[3];
        ASSERT_TRUE(plate_colour(pic.text, "[numberbackground:", bg)) << pic.text;
        ASSERT_TRUE(plate_colour(pic.text, "[numberforeground:", fg)) << pic.text;
        // The plate grounds map into this rectangle; its middle is the
        // background exactly.
        const qm_uv_rect& r = mkdata::bike_uv::plate;
        const int x = (int)((r.u0 + r.u1) / 2 * pic.width), y = (int)((1 - (r.v0 + r.v1) / 2) * pic.height);
        for (int dy = -8; dy <= 8; dy += 8)
            for (int dx = -8; dx <= 8; dx += 8)
                for (int k = 0; k < 3; k++)
                    EXPECT_EQ(pic.at(x + dx, y + dy)[k], bg[k]) << dx << "," << dy;
        // Figures that read on their ground.
        auto luma = [](const uint8_t* c) { return 0.3 * c[0] + 0.59 * c[1] + 0.11 * c[2]; };
        EXPECT_GT(std::fabs(luma(bg) - luma(fg)), 100);
        by_class[l.class_name].insert({bg[0], bg[1], bg[2]});
    }
    // One ground per class, and the classes told apart.
    std::set<std::vector<int>> grounds;
    for (const auto& c : by_class) {
        EXPECT_EQ(c.second.size(), 1u) << c.first;
        grounds.insert(*c.second.begin());
    }
    EXPECT_EQ(grounds.size(), by_class.size());
}

// --- Fonts and HUD pictures -------------------------------------------------------------

struct glyph_cell {
    int left, top, right, bottom;
};

// The font loader's walk over the marker lines.
std::vector<glyph_cell> walk_font(const rgba_picture& f, size_t count)
{
    auto marker = [&](int x, int y) { return memcmp(f.at(x, y), f.at(0, 0), 4) == 0; };
    auto scan_right = [&](int from, int y) {
        int x = from;
        while (x < f.width && !marker(x, y))
            x++;
        return x;
    };
    auto scan_down = [&](int from) {
        int y = from;
        while (y < f.height && !marker(0, y))
            y++;
        return y;
    };
    std::vector<glyph_cell> cells;
    int top = 0, bottom = scan_down(1), left = 0;
    while (cells.size() < count) {
        const int right = scan_right(left + 1, top);
        cells.push_back({left, top, right, bottom});
        left = right;
        if (left >= f.width) {
            top = bottom == f.height ? 0 : bottom;
            bottom = scan_down(top + 1);
            left = 0;
        }
    }
    return cells;
}

// Ink of a cell: the pixels that are neither marker nor transparent.
std::vector<uint8_t> ink(const rgba_picture& f, const glyph_cell& c)
{
    std::vector<uint8_t> out;
    for (int y = c.top + 1; y < c.bottom; y++)
        for (int x = c.left + 1; x < c.right; x++)
            out.push_back(memcmp(f.at(x, y), f.at(0, 0), 4) == 0 ? 0 : f.at(x, y)[3]);
    return out;
}

TEST(bike_art, FontCellsHoldEveryCharacterLegibly)
{
    data_env env;
    rgba_picture font;
    ASSERT_TRUE(load_picture("@font.png", &font));
    const std::string chars = mkdata::font_character_set();
    ASSERT_EQ(chars.size(), 94u);
    const std::vector<glyph_cell> cells = walk_font(font, chars.size());
    std::set<std::vector<uint8_t>> seen;
    for (size_t i = 0; i < chars.size(); i++) {
        const glyph_cell& c = cells[i];
        SCOPED_TRACE(std::string(1, chars[i]));
        ASSERT_GT(c.right - c.left, 3);
        ASSERT_EQ(c.bottom - c.top, 32);
        const std::vector<uint8_t> px = ink(font, c);
        EXPECT_GT(std::count_if(px.begin(), px.end(), [](uint8_t a) { return a > 128; }), 4);
        EXPECT_TRUE(seen.insert(px).second) << "drawn like another character";
        // Advances between a fifth and one line height.
        const double advance = (double)(c.right - c.left) / (c.bottom - c.top);
        EXPECT_GT(advance, 0.15);
        EXPECT_LT(advance, 1.0);
    }
    // The text is white: the renderer colours it.
    for (int y = 0; y < font.height; y++)
        for (int x = 0; x < font.width; x++)
            if (font.at(x, y)[3] > 200 && memcmp(font.at(x, y), font.at(0, 0), 4) != 0) {
                ASSERT_GT(font.at(x, y)[0], 200) << x << "," << y;
            }
}

TEST(bike_art, RaceNumbersFitTheNumberPlate)
{
    data_env env;
    int width[2][10] = {};
    for (int condensed = 0; condensed < 2; condensed++) {
        rgba_picture f;
        ASSERT_TRUE(load_picture(condensed ? "@numbers-condensed.png" : "@numbers.png", &f));
        const std::vector<glyph_cell> cells = walk_font(f, 10);
        std::set<std::vector<uint8_t>> seen;
        for (int d = 0; d < 10; d++) {
            width[condensed][d] = cells[d].right - cells[d].left;
            EXPECT_LE(cells[d].bottom - cells[d].top, 120);
            const std::vector<uint8_t> px = ink(f, cells[d]);
            EXPECT_TRUE(seen.insert(px).second) << d;
            // Black figures: the plate painter turns black into the
            // figure colour.
            for (int y = cells[d].top + 1; y < cells[d].bottom; y++)
                for (int x = cells[d].left + 1; x < cells[d].right; x++)
                    if (f.at(x, y)[3] > 200) {
                        ASSERT_LT(f.at(x, y)[0] + f.at(x, y)[1] + f.at(x, y)[2], 60) << d;
                    }
        }
    }
    // Two figures fit the 128-pixel plate as they are; three go over the
    // painter's limit (9/8 of the plate), so it condenses them, and then
    // they fit.
    const int two = width[0][8] + width[0][8], three = two + width[0][8];
    EXPECT_LE(two, 128);
    EXPECT_GT(three, 144);
    EXPECT_LE(width[1][8] * 3, 128);
}

TEST(bike_art, HudPicturesAreSizedForTheirUse)
{
    data_env env;
    for (const char* name : {"!@tach.png", "!@shifter.png", "!@pitboard.png", "!@title.png"}) {
        rgba_picture pic;
        ASSERT_TRUE(load_picture(name + 1, &pic)) << name;
        EXPECT_TRUE(power_of_two(pic.width) && power_of_two(pic.height)) << name;
        if (strcmp(name, "!@title.png") == 0) {
            EXPECT_EQ(pic.width, 2 * pic.height);
        }
    }
    // Nine distinct gear cells, three by three.
    rgba_picture shifter;
    ASSERT_TRUE(load_picture("@shifter.png", &shifter));
    std::set<std::vector<uint8_t>> cells;
    const int cw = shifter.width / 3, ch = shifter.height / 3;
    for (int row = 0; row < 3; row++)
        for (int col = 0; col < 3; col++) {
            std::vector<uint8_t> px;
            for (int y = row * ch + 8; y < row * ch + ch - 8; y++)
                for (int x = col * cw + 8; x < col * cw + cw - 8; x++)
                    px.push_back(shifter.at(x, y)[0] > 200);
            EXPECT_GT(std::count(px.begin(), px.end(), 1), 50) << row << "," << col;
            cells.insert(px);
        }
    EXPECT_EQ(cells.size(), 9u);
}

// --- Determinism ------------------------------------------------------------------------

// The shared content written again is the archive the build wrote, member
// by member, byte for byte.
TEST(bike_art, SharedContentIsTheSameEveryTime)
{
    const std::string saf = test::read_file(test::build_data_dir() + "/zzzz.saf");
    const size_t end = saf.find("-\n");
    ASSERT_NE(end, std::string::npos);
    std::map<std::string, std::string> built;
    size_t header = 0, offset = end + 2;
    while (header < end) {
        const size_t nl = saf.find('\n', header);
        const std::string line = saf.substr(header, nl - header);
        const size_t space = line.find(' ');
        const size_t size = std::stoul(line.substr(0, space));
        built[line.substr(space + 1)] = saf.substr(offset, size);
        offset += size;
        header = nl + 1;
    }
    mkdata::output out;
    ASSERT_TRUE(mkdata::generate_shared(out));
    EXPECT_GT(out.archive.size(), 700u);
    for (const auto& m : out.archive) {
        auto it = built.find(m.first);
        ASSERT_NE(it, built.end()) << m.first;
        EXPECT_TRUE(it->second == std::string(m.second.begin(), m.second.end())) << m.first;
    }
}

}  // namespace
