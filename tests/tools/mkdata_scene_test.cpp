// What the scene shows of the generated data, read back from the build's
// data directory as the game finds it: the sky box faces meet without a
// seam where the scene puts them together, the environment map shows the
// same sky (zenith in the centre, the ground on the rim), the sun sits in
// the sky where the lighting's sun and its flare point, the fog matches the
// haze; every animated sequence parses and fits the flagger rule that shows
// it; pictures keep the shape of the sprites that show them; the decals'
// normal and specular maps cover only what the picture covers, and the ruts
// lie under the rear wheels at the gate.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/services.h"
#include "files/datafs.h"
#include "files/stream.h"
#include "race/race.h"
#include "render/picture.h"
#include "render/texture_files.h"
#include "sky.h"
#include "test_support.h"
#include "track/heightfield.h"
#include "track/lighting.h"
#include "track/objects.h"
#include "track/surface.h"
#include "track_ground.h"

namespace {

const double pi = 3.14159265358979323846;

// --- The data directory, textures answered by name --------------------------------

std::map<std::string, unsigned> g_handles;
std::vector<std::string> g_names;  // by handle - 1
std::vector<std::string> g_missing;

bool data_exists(const char* name)
{
    data_stream* s = open_data_file(name, "rb");
    if (!s)
        return false;
    close_data_file(s);
    return true;
}

unsigned named_texture(const char* name, int)
{
    if (!data_exists(name)) {
        g_missing.push_back(name);
        return 0;
    }
    auto found = g_handles.find(name);
    if (found != g_handles.end())
        return found->second;
    g_names.push_back(name);
    return g_handles[name] = (unsigned)g_names.size();
}

unsigned named_model(const char* name, unsigned)
{
    return named_texture(name, 0);
}

std::string name_of(unsigned texture)
{
    return texture >= 1 && texture <= g_names.size() ? g_names[texture - 1] : "";
}

struct data_env {
    test::temp_dir home;
    test::scoped_env xdg{"XDG_DATA_HOME", home.path.c_str()};
    test::scoped_env kz{"KZ_HOME", test::build_data_dir().c_str()};
    texture_service saved_textures = g_texture_service;
    model_service saved_models = g_model_service;
    data_env()
    {
        free_file_index();
        build_file_index();
        g_texture_service = texture_service();
        g_texture_service.load = named_texture;
        g_model_service.load = named_model;
    }
    ~data_env()
    {
        g_texture_service = saved_textures;
        g_model_service = saved_models;
        free_file_index();
    }
};

// --- Pictures --------------------------------------------------------------------------

struct image {
    int w = 0, h = 0, ch = 0;
    std::vector<uint8_t> px;  // top level, top row first

    double at(int x, int y, int c) const
    {
        x = std::clamp(x, 0, w - 1);
        y = std::clamp(y, 0, h - 1);
        return px[((size_t)y * w + x) * ch + c];
    }
    // Bilinear at texture coordinate (u, v) with the edge texels
    // repeated, as a clamped texture is filtered.
    void sample(double u, double v, double out[3]) const
    {
        double x = u * w - 0.5, y = v * h - 0.5;
        int x0 = (int)std::floor(x), y0 = (int)std::floor(y);
        double fx = x - x0, fy = y - y0;
        for (int c = 0; c < 3; c++)
            out[c] = (at(x0, y0, c) * (1 - fx) + at(x0 + 1, y0, c) * fx) * (1 - fy) +
                     (at(x0, y0 + 1, c) * (1 - fx) + at(x0 + 1, y0 + 1, c) * fx) * fy;
    }
};

image load_image(const std::string& name)
{
    image img;
    picture p;
    if (!read_any_picture(name.c_str(), &p)) {
        ADD_FAILURE() << "can't read " << name;
        return img;
    }
    img.w = p.width;
    img.h = p.height;
    img.ch = p.channels;
    img.px.assign(p.pixels, p.pixels + (size_t)p.width * p.height * p.channels);
    picture_free(&p);
    return img;
}

double colour_distance(const double a[3], const double b[3])
{
    return std::max({std::fabs(a[0] - b[0]), std::fabs(a[1] - b[1]), std::fabs(a[2] - b[2])});
}

// --- The sky as the scene draws it ---------------------------------------------------------

// The sky box: each face's corners in the order of the texture
// coordinates (1/128, 1/128), (1/128, 127/128), (127/128, 127/128),
// (127/128, 1/128).
const double box[5][4][3] = {
    {{-1, 1, -1}, {-1, -1, -1}, {1, -1, -1}, {1, 1, -1}},  // north
    {{1, 1, -1}, {1, -1, -1}, {1, -1, 1}, {1, 1, 1}},      // east
    {{1, 1, 1}, {1, -1, 1}, {-1, -1, 1}, {-1, 1, 1}},      // south
    {{-1, 1, 1}, {-1, -1, 1}, {-1, -1, -1}, {-1, 1, -1}},  // west
    {{-1, 1, 1}, {-1, 1, -1}, {1, 1, -1}, {1, 1, 1}},      // up
};

double dot3(const double* a, const double* b)
{
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

// The texture coordinate the box draws at point p of face f's plane.
void face_uv(int f, const double p[3], double* u, double* v)
{
    const double* c0 = box[f][0];
    double rel[3] = {p[0] - c0[0], p[1] - c0[1], p[2] - c0[2]};
    double across[3], down[3];
    for (int k = 0; k < 3; k++) {
        across[k] = box[f][3][k] - c0[k];
        down[k] = box[f][1][k] - c0[k];
    }
    *u = 1.0 / 128 + dot3(rel, across) / 4 * (126.0 / 128);
    *v = 1.0 / 128 + dot3(rel, down) / 4 * (126.0 / 128);
}

struct sky_set {
    std::string names[SKY_FACES], env_name;
    image faces[SKY_FACES], env;
    vec3 sun = {0, 0, 0};
    float fog[3] = {0, 0, 0};
    lighting light;
    std::vector<std::string> missing;

    // The colour the box shows along dir; false where no face is.
    bool cube(const double dir[3], double out[3]) const
    {
        int best = -1;
        double best_dot = 0;
        for (int f = 0; f < SKY_FACES; f++) {
            double n[3];
            for (int k = 0; k < 3; k++)
                n[k] = (box[f][0][k] + box[f][2][k]) / 2;
            double d = dot3(dir, n);
            if (d > best_dot) {
                best_dot = d;
                best = f;
            }
        }
        if (best < 0)
            return false;
        double p[3] = {dir[0] / best_dot, dir[1] / best_dot, dir[2] / best_dot}, u, v;
        face_uv(best, p, &u, &v);
        if (v > 127.0 / 128)
            return false;  // below the side faces
        faces[best].sample(u, v, out);
        return true;
    }
    // The colour the angular map gives a reflection along dir.
    void environment(const double dir[3], double out[3]) const
    {
        double len = std::sqrt(dot3(dir, dir));
        double h = std::hypot(dir[0], dir[2]), r = std::acos(std::clamp(dir[1] / len, -1.0, 1.0)) / (2 * pi);
        double s = h > 0 ? dir[0] / h * r : 0, t = h > 0 ? dir[2] / h * r : 0;
        env.sample(s + 0.5, t + 0.5, out);
    }
    ~sky_set() { lighting_reset(&light); }
};

const sky_set& sky_of(const std::string& dir)
{
    static std::map<std::string, std::unique_ptr<sky_set>> cache;
    auto found = cache.find(dir);
    if (found != cache.end())
        return *found->second;
    sky_set* s = new sky_set;
    cache[dir].reset(s);
    data_env env;
    g_missing.clear();
    EXPECT_TRUE(lighting_load(&s->light, ("@" + dir).c_str(), nullptr)) << dir;
    s->missing = g_missing;
    for (int f = 0; f < SKY_FACES; f++) {
        s->names[f] = name_of(s->light.sky[f]);
        if (!s->names[f].empty())
            s->faces[f] = load_image(s->names[f]);
    }
    s->env_name = name_of(s->light.sky_env);
    if (!s->env_name.empty())
        s->env = load_image(s->env_name);
    s->sun = s->light.sun_vector;
    for (int k = 0; k < 3; k++)
        s->fog[k] = s->light.fog_color[k];
    return *s;
}

class track_sky_test : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override
    {
        for (int f = 0; f < SKY_FACES; f++)
            ASSERT_GT(sky.faces[f].w, 0) << "face " << f << " of " << GetParam();
        ASSERT_GT(sky.env.w, 0);
    }
    const sky_set& sky = sky_of(GetParam());
};

TEST_P(track_sky_test, LightingNamesOnlyFilesThatExistAndASunFlare)
{
    EXPECT_TRUE(sky.missing.empty()) << sky.missing.size() << " missing, the first " << sky.missing[0];
    for (int f = 0; f < SKY_FACES; f++)
        EXPECT_EQ(sky.faces[f].w, sky.faces[f].h) << sky.names[f];
    // One flare, at infinity toward the sun, its first element on the sun.
    ASSERT_EQ(sky.light.flare_count, 1);
    const flare& fl = sky.light.flares[0];
    EXPECT_TRUE(fl.is_vector);
    double len = std::sqrt(fl.source.x * fl.source.x + fl.source.y * fl.source.y + fl.source.z * fl.source.z);
    EXPECT_NEAR(fl.source.x / len, sky.sun.x, 1e-4);
    EXPECT_NEAR(fl.source.y / len, sky.sun.y, 1e-4);
    EXPECT_NEAR(fl.source.z / len, sky.sun.z, 1e-4);
    ASSERT_GE(fl.element_count, 3);
    EXPECT_EQ(fl.elements[0].offset_along, 1.0f);
    for (int e = 0; e < fl.element_count; e++) {
        EXPECT_NE(fl.elements[e].texture, 0u) << "element " << e;
        EXPECT_GT(fl.elements[e].size, 0.0f);
        EXPECT_LE(std::max({fl.elements[e].color[0], fl.elements[e].color[1], fl.elements[e].color[2]}), 1.0f);
    }
}

// Along every edge two faces share, the colours the box draws on either
// side agree.
TEST_P(track_sky_test, FacesMeetWithoutASeam)
{
    int edges = 0;
    for (int f = 0; f < SKY_FACES; f++)
        for (int g = f + 1; g < SKY_FACES; g++) {
            std::vector<const double*> shared;
            for (const auto& a : box[f])
                for (const auto& b : box[g])
                    if (a[0] == b[0] && a[1] == b[1] && a[2] == b[2])
                        shared.push_back(a);
            if (shared.size() != 2)
                continue;
            edges++;
            double worst = 0, sum = 0;
            const int n = 200;
            for (int i = 0; i < n; i++) {
                double tau = (i + 0.5) / n, p[3], uf, vf, ug, vg, cf[3], cg[3];
                for (int k = 0; k < 3; k++)
                    p[k] = shared[0][k] + (shared[1][k] - shared[0][k]) * tau;
                face_uv(f, p, &uf, &vf);
                face_uv(g, p, &ug, &vg);
                sky.faces[f].sample(uf, vf, cf);
                sky.faces[g].sample(ug, vg, cg);
                double d = colour_distance(cf, cg);
                worst = std::max(worst, d);
                sum += d;
            }
            EXPECT_LE(worst, 4.0) << "faces " << f << " and " << g;
            EXPECT_LE(sum / n, 0.5) << "faces " << f << " and " << g;
        }
    EXPECT_EQ(edges, 8);
}

// The sun's disc is where the lighting's sun is, bright enough for the
// flare's test of the drawn colour (above 223 in every channel) over its
// whole disc, in the sky box and in the reflections.
TEST_P(track_sky_test, SunShinesWhereTheLightComesFrom)
{
    const double sun[3] = {sky.sun.x, sky.sun.y, sky.sun.z};
    double c[3];
    ASSERT_TRUE(sky.cube(sun, c));
    for (int k = 0; k < 3; k++)
        EXPECT_GT(c[k], 223) << "channel " << k;
    sky.environment(sun, c);
    EXPECT_GT(std::min({c[0], c[1], c[2]}), 223);
    // Half a disc's width beside its centre, all round.
    double side[3] = {sun[2], 0, -sun[0]}, up[3];
    double len = std::sqrt(dot3(side, side));
    for (double& v : side)
        v /= len;
    up[0] = sun[1] * side[2] - sun[2] * side[1];
    up[1] = sun[2] * side[0] - sun[0] * side[2];
    up[2] = sun[0] * side[1] - sun[1] * side[0];
    const double away = 0.5 * mkdata::sun_disc_radius;
    for (int i = 0; i < 8; i++) {
        double a = 2 * pi * i / 8, d[3];
        for (int k = 0; k < 3; k++)
            d[k] = sun[k] * std::cos(away) + (side[k] * std::cos(a) + up[k] * std::sin(a)) * std::sin(away);
        ASSERT_TRUE(sky.cube(d, c));
        EXPECT_GT(std::min({c[0], c[1], c[2]}), 223) << "beside the sun, " << i;
    }
}

// The environment map shows the sky box's sky: along every direction the
// two agree, the zenith in the map's centre and the ground on its rim.
TEST_P(track_sky_test, EnvironmentMapShowsTheSameSky)
{
    // The zenith, averaged over a small cap: the map is coarser than the
    // box, so single samples differ at the edge of a cloud.
    double zenith[3] = {0, 0, 0}, centre[3] = {0, 0, 0};
    const int cap = 64;
    for (int i = 0; i < cap; i++) {
        double a = 2 * pi * i / cap, e = (i % 4) * 0.015;
        double d[3] = {std::sin(e) * std::cos(a), std::cos(e), std::sin(e) * std::sin(a)}, c[3], r[3];
        ASSERT_TRUE(sky.cube(d, c));
        sky.environment(d, r);
        for (int k = 0; k < 3; k++) {
            zenith[k] += c[k] / cap;
            centre[k] += r[k] / cap;
        }
    }
    EXPECT_LE(colour_distance(zenith, centre), 4);
    // The rim and the corners: straight down, the land below the
    // horizon, as the bottom rows of the side faces show it.
    double ground[3] = {0, 0, 0}, rim[3] = {0, 0, 0};
    for (int f = 0; f < 4; f++)
        for (int x = 0; x < sky.faces[f].w; x++)
            for (int k = 0; k < 3; k++)
                ground[k] += sky.faces[f].at(x, sky.faces[f].h - 1, k) / (4.0 * sky.faces[f].w);
    for (int i = 0; i < 64; i++) {
        double a = 2 * pi * i / 64, c[3];
        sky.env.sample(0.5 + 0.499 * std::cos(a), 0.5 + 0.499 * std::sin(a), c);
        for (int k = 0; k < 3; k++)
            rim[k] += c[k] / 64;
        sky.env.sample(i & 1 ? 0.0 : 1.0, i & 2 ? 0.0 : 1.0, c);
        EXPECT_LE(colour_distance(c, ground), 8) << "corner " << (i & 3);
    }
    EXPECT_LE(colour_distance(rim, ground), 8);
    EXPECT_GT(colour_distance(zenith, ground), 40) << "sky and ground alike";
    // Everywhere above the horizon, away from the sun's steep glow.
    double sum = 0, mirrored = 0;
    int n = 0;
    for (double elevation = 3; elevation <= 85; elevation += 6)
        for (double azimuth = 0; azimuth < 360; azimuth += 7) {
            double e = elevation * pi / 180, a = azimuth * pi / 180;
            double d[3] = {std::cos(e) * std::sin(a), std::sin(e), std::cos(e) * std::cos(a)};
            double m[3] = {-d[0], d[1], d[2]};
            if (d[0] * sky.sun.x + d[1] * sky.sun.y + d[2] * sky.sun.z > std::cos(0.3))
                continue;
            double c[3], r[3], rm[3];
            ASSERT_TRUE(sky.cube(d, c));
            sky.environment(d, r);
            sky.environment(m, rm);
            sum += colour_distance(c, r);
            mirrored += colour_distance(c, rm);
            n++;
        }
    EXPECT_LT(sum / n, 4.0);
    // The comparison tells a turned map from the right one.
    EXPECT_GT(mirrored / n, 3 * (sum / n));
}

// The fog fades the far ground into the sky's haze at the horizon.
TEST_P(track_sky_test, FogIsTheHazeAtTheHorizon)
{
    double mean[3] = {0, 0, 0};
    int n = 0;
    for (double azimuth = 0; azimuth < 360; azimuth += 5) {
        double a = azimuth * pi / 180, d[3] = {std::sin(a), 0, std::cos(a)}, c[3];
        if (d[0] * sky.sun.x + d[2] * sky.sun.z > 0)
            continue;  // the sun's side is brighter
        ASSERT_TRUE(sky.cube(d, c));
        for (int k = 0; k < 3; k++)
            mean[k] += c[k];
        n++;
    }
    for (int k = 0; k < 3; k++)
        EXPECT_NEAR(mean[k] / n, sky.fog[k] * 255, 10) << "channel " << k;
}

INSTANTIATE_TEST_SUITE_P(default_tracks, track_sky_test, ::testing::Values("rabbithill", "stadium"));

// The track's own sky, written again, is the one the build wrote.
TEST(generated_sky, TrackSkyIsTheSameEveryTime)
{
    const mkdata::generated_track& t = mkdata::generated_tracks()[1];
    ASSERT_TRUE(t.light.own_sky);
    double sun[3];
    mkdata::light_sun(t.light, sun);
    test::temp_dir a, b;
    mkdata::output out_a, out_b;
    out_a.dir = a.path + "/";
    out_b.dir = b.path + "/";
    ASSERT_TRUE(mkdata::write_sky(out_a, "s/", t.light.sky, sun));
    ASSERT_TRUE(mkdata::write_sky(out_b, "s/", t.light.sky, sun));
    for (const char* name : {"sky-n.ppm", "sky-u.ppm", "sky-env.ppm"}) {
        std::string first = test::read_file(a.path + "/s/" + name);
        EXPECT_GT(first.size(), 1000u) << name;
        EXPECT_EQ(first, test::read_file(b.path + "/s/" + name)) << name;
        EXPECT_EQ(first, test::read_file(test::build_data_dir() + "/" + t.design->dir + "/" + name)) << name;
    }
}

// --- Flaggers, billboards and decals as the scene shows them ------------------------------

struct loaded_objects {
    bool ok = false;
    heightfield hf;
    track_objects objects;
    ~loaded_objects()
    {
        track_objects_free(&objects);
        decals_free(&hf);
        heightfield_free(&hf);
    }
};

loaded_objects& objects_of(const std::string& dir)
{
    static std::map<std::string, std::unique_ptr<loaded_objects>> cache;
    auto found = cache.find(dir);
    if (found != cache.end())
        return *found->second;
    loaded_objects* t = new loaded_objects;
    cache[dir].reset(t);
    data_env env;
    const std::string at = "@" + dir;
    object_options options;
    options.shaders = true;
    options.terrain_shader = true;
    t->ok = heightfield_load_ground(&t->hf, at.c_str(), 0) && flaggers_load(&t->objects, &t->hf, at.c_str(), 64) &&
            billboards_load(&t->objects, &t->hf, at.c_str(), nullptr) &&
            statues_load(&t->objects, &t->hf, at.c_str(), &options, nullptr) &&
            decals_load(&t->hf, at.c_str(), &options);
    return *t;
}

// A sequence read as the texture loader reads it.
struct read_seq {
    bool ok = false;
    seq_file seq;
    read_seq(const std::string& name)
    {
        data_env env;
        data_stream* s = open_data_file(name.c_str(), "rb");
        char magic[16];
        ok = s && read_picture_magic(s, magic, sizeof magic) && strcmp(magic, "ANIM1") == 0 && seq_read(s, &seq);
        if (s)
            close_data_file(s);
    }
    ~read_seq() { seq_free(&seq); }
    // Ticks until the last entry shows.
    int ticks_to_last() const { return (seq.sequence_length - 1) * seq.ticks_per_frame; }
};

// Width over height of a texture's picture (the first of a sequence).
double picture_aspect(const std::string& name)
{
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".seq") == 0) {
        read_seq r(name);
        EXPECT_TRUE(r.ok) << name;
        return r.ok ? (double)r.seq.pictures[0].width / r.seq.pictures[0].height : 0;
    }
    data_env env;
    image img = load_image(name);
    return img.h ? (double)img.w / img.h : 0;
}

class track_objects_test : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override { ASSERT_TRUE(t.ok) << GetParam(); }
    loaded_objects& t = objects_of(GetParam());
};

// Every sequence reads; the starter's one-off movements end within the time
// the flagger rule shows them, the rest keep moving for as long as they
// are shown.
TEST_P(track_objects_test, FlaggerSequencesFitTheirStages)
{
    const flagger_set& f = t.objects.flaggers;
    ASSERT_TRUE(f.has_start && f.has_finish);
    ASSERT_GT(f.course_count, 0);
    // How long the rule shows each stage, stepping the race clock tick by
    // tick from a start at 10 s.
    int stage_ticks[5] = {};
    for (int tick = 0; tick < 20 * RACE_TICKS_PER_SECOND; tick++)
        stage_ticks[start_flagger_stage(8.0 + (double)tick / RACE_TICKS_PER_SECOND, 10.0, f.start.walk)]++;
    int sequences = 0;
    for (int k = 0; k < 5; k++) {
        std::string name = name_of(f.start.textures[k]);
        ASSERT_FALSE(name.empty()) << "start t" << k;
        if (name.find(".seq") == std::string::npos) {
            EXPECT_TRUE(k == 0 || k == 4) << "start t" << k << " " << name << " does not move";
            continue;
        }
        read_seq r(name);
        ASSERT_TRUE(r.ok) << name;
        sequences++;
        if (k == 1 || k == 2) {
            EXPECT_EQ(r.seq.loop, 0) << name;
            EXPECT_LT(r.ticks_to_last(), stage_ticks[k]) << name;
            EXPECT_GE(r.seq.sequence_length, 4) << name;
        } else {
            EXPECT_NE(r.seq.loop, 0) << name;
        }
    }
    std::vector<unsigned> looping(f.finish.textures + 1, f.finish.textures + 4);
    looping.push_back(f.course[0].alert_texture);
    for (unsigned tex : looping) {
        std::string name = name_of(tex);
        read_seq r(name);
        ASSERT_TRUE(r.ok) << name;
        sequences++;
        EXPECT_NE(r.seq.loop, 0) << name;
        EXPECT_GE(r.seq.picture_count, 4) << name;
        // A wave takes between a third of a second and two seconds.
        int cycle = r.seq.sequence_length * r.seq.ticks_per_frame;
        EXPECT_GE(cycle, RACE_TICKS_PER_SECOND / 3) << name;
        EXPECT_LE(cycle, 2 * RACE_TICKS_PER_SECOND) << name;
    }
    EXPECT_GE(sequences, 7);
    // Every course flagger waves the same flag.
    for (int i = 1; i < f.course_count; i++)
        EXPECT_EQ(f.course[i].alert_texture, f.course[0].alert_texture);
}

TEST_P(track_objects_test, EveryPictureHasTheShapeOfItsSprite)
{
    const flagger_set& f = t.objects.flaggers;
    std::vector<std::pair<unsigned, int>> shown;  // texture, sprite
    for (unsigned tex : f.start.textures)
        shown.emplace_back(tex, f.start.sprite_index);
    for (unsigned tex : f.finish.textures)
        shown.emplace_back(tex, f.finish.sprite_index);
    for (int i = 0; i < f.course_count; i++) {
        shown.emplace_back(f.course[i].normal_texture, f.course[i].sprite_index);
        shown.emplace_back(f.course[i].alert_texture, f.course[i].sprite_index);
    }
    for (int i = 0; i < t.objects.billboards.count; i++) {
        int sp = t.objects.billboards.items[i].sprite_index;
        shown.emplace_back(t.objects.sprites.items[sp].texture, sp);
    }
    std::map<std::string, double> aspects;
    for (const auto& s : shown) {
        std::string name = name_of(s.first);
        ASSERT_FALSE(name.empty());
        if (!aspects.count(name))
            aspects[name] = picture_aspect(name);
        EXPECT_NEAR(aspects[name], t.objects.sprites.items[s.second].aspect, 0.01) << name;
    }
    EXPECT_GE(aspects.size(), 15u);
}

// The shader programs read "_norm" maps as unit normals pointing out of the
// surface; a statue that has maps finds both.
TEST_P(track_objects_test, StatueMapsHoldOutwardUnitNormals)
{
    std::map<std::string, int> checked;
    for (int i = 0; i < t.objects.statues.count; i++) {
        const statue& s = t.objects.statues.items[i];
        std::string model = s.model_name ? s.model_name : "";
        bool wants = model.find("tuffblock") != std::string::npos || model.find("haybale") != std::string::npos ||
                     model.find("podium") != std::string::npos;
        if (!wants)
            continue;
        ASSERT_NE(s.normal_texture, 0u) << model;
        ASSERT_NE(s.spec_texture, 0u) << model;
        checked[name_of(s.normal_texture)]++;
    }
    EXPECT_GE(checked.size(), 2u);
    data_env env;
    for (const auto& c : checked) {
        image n = load_image(c.first);
        ASSERT_GT(n.w, 0);
        int bent = 0;
        for (int y = 0; y < n.h; y++)
            for (int x = 0; x < n.w; x++) {
                double v[3];
                for (int k = 0; k < 3; k++)
                    v[k] = n.at(x, y, k) / 255 * 2 - 1;
                ASSERT_NEAR(std::sqrt(dot3(v, v)), 1.0, 0.03) << c.first << " at " << x << "," << y;
                ASSERT_GT(v[2], 0.2) << c.first << " at " << x << "," << y;
                bent += v[2] < 0.98;
            }
        EXPECT_GT(bent, n.w * n.h / 20) << c.first << " is flat";
    }
}

// A decal's "_tnorm" and "_tspec" pictures cover exactly what the picture
// covers: the terrain's own normals and shine stay everywhere else.
TEST_P(track_objects_test, DecalMapsCoverOnlyThePicture)
{
    ASSERT_NE(t.hf.decals, nullptr);
    ASSERT_EQ(t.hf.decals->count, 5);
    data_env env;
    for (int i = 0; i < t.hf.decals->count; i++) {
        const decal& dc = t.hf.decals->items[i];
        image colour = load_image(dc.texture_name), normal = load_image(name_of(dc.normal_texture)),
              specular = load_image(name_of(dc.spec_texture));
        ASSERT_EQ(colour.ch, 4) << dc.texture_name;
        ASSERT_EQ(normal.ch, 4) << dc.texture_name;
        ASSERT_EQ(specular.ch, 4) << dc.texture_name;
        ASSERT_EQ(normal.w, colour.w);
        ASSERT_EQ(normal.h, colour.h);
        ASSERT_EQ(specular.w, colour.w);
        ASSERT_EQ(specular.h, colour.h);
        int clear = 0;
        for (int y = 0; y < colour.h; y++)
            for (int x = 0; x < colour.w; x++) {
                ASSERT_EQ(normal.at(x, y, 3), colour.at(x, y, 3)) << dc.texture_name << " at " << x << "," << y;
                ASSERT_EQ(specular.at(x, y, 3), colour.at(x, y, 3)) << dc.texture_name << " at " << x << "," << y;
                clear += colour.at(x, y, 3) == 0;
            }
        if (std::string(dc.texture_name).find("ruts") != std::string::npos ||
            std::string(dc.texture_name).find("logo") != std::string::npos) {
            EXPECT_GT(clear, colour.w * colour.h / 10) << dc.texture_name;
        }
    }
}

// The ruts lie where the rear wheels of the front row spin, one behind
// every gate piece, the wettest part of each under the wheel.
TEST_P(track_objects_test, RutsLieUnderTheRearWheelsAtTheGate)
{
    const decal* ruts = nullptr;
    for (int i = 0; i < t.hf.decals->count; i++)
        if (std::string(t.hf.decals->items[i].texture_name).find("ruts") != std::string::npos)
            ruts = &t.hf.decals->items[i];
    ASSERT_NE(ruts, nullptr);
    data_env env;
    image colour = load_image(ruts->texture_name), specular = load_image(name_of(ruts->spec_texture));
    // World (x, z) to the decal's texture coordinates.
    auto st = [&](double x, double z, double* s, double* tt) {
        double dx = x - ruts->x, dz = z - ruts->z, c = std::cos(ruts->angle), sn = std::sin(ruts->angle);
        *s = (dx * c - dz * sn) / (ruts->size * ruts->aspect) + 0.5;
        *tt = (dx * sn + dz * c) / ruts->size + 0.5;
    };
    const mkdata::track_design& d = *[&] {
        for (const mkdata::generated_track& g : mkdata::generated_tracks())
            if (g.design->dir == GetParam())
                return g.design;
        return mkdata::generated_tracks()[0].design;
    }();
    const int pieces = d.chute.gate_pieces;
    for (int i = 0; i < pieces; i++) {
        mkdata::gate_piece p = mkdata::design_gate_piece(d, i);
        // Behind the piece (where the bike stands) the wheel 5 ft back;
        // half a piece aside, undisturbed ground.
        double bx = std::sin(p.angle), bz = std::cos(p.angle), ax = bz, az = -bx;
        double s, tt, c[3];
        st(p.x + bx * 5, p.z + bz * 5, &s, &tt);
        ASSERT_TRUE(s > 0 && s < 1 && tt > 0 && tt < 1) << "piece " << i;
        colour.sample(s, tt, c);
        EXPECT_GT(colour.at((int)(s * colour.w), (int)(tt * colour.h), 3), 180) << "piece " << i;
        double half = d.chute.piece_spacing / 2;
        st(p.x + bx * 5 + ax * half, p.z + bz * 5 + az * half, &s, &tt);
        EXPECT_LT(colour.at((int)(s * colour.w), (int)(tt * colour.h), 3), 40) << "beside piece " << i;
        // Along the rut from the gate line back, the shine peaks under the
        // wheel.
        double best = -1, best_at = 0;
        for (double back = 0.5; back < 8; back += 0.25) {
            st(p.x + bx * back, p.z + bz * back, &s, &tt);
            double shine = specular.at((int)(s * specular.w), (int)(tt * specular.h), 0);
            if (shine > best) {
                best = shine;
                best_at = back;
            }
        }
        EXPECT_NEAR(best_at, 5.0, 1.0) << "piece " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(default_tracks, track_objects_test, ::testing::Values("rabbithill", "stadium"));

}  // namespace
