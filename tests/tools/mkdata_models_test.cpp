// The generator's model writer and the models it makes: the files read
// back with the model file rules (header, parts, vertices, triangles, the
// loader's degenerate-triangle rule) over the game's stream scanner; the
// writer's refusals; the starting gate as the race drops it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "bike/shape.h"
#include "files/datafs.h"
#include "files/stream.h"
#include "qm_writer.h"
#include "render/picture.h"
#include "test_support.h"

namespace {

using mkdata::qm_model;
using mkdata::qm_part;
using mkdata::qm_uv_rect;

struct read_part {
    float shininess = 0, reflectivity = 0, specular[3] = {};
    std::vector<float> position, normal, uv, weights;  // 3, 3, 2, bones per vertex
    std::vector<int> triangles;
};
struct read_model {
    int version = 0, bones = 0;
    std::vector<read_part> parts;
};

// Reads a model file as the loader does, but strictly: every part must
// read whole and nothing may follow the last one. Fails with the reason.
bool read_qm(data_stream* s, read_model* m, std::string* why)
{
    if (stream_scan(s, "QM%d", &m->version) != 1) {
        *why = "no QM header";
        return false;
    }
    if (m->version == 2) {
        char name[1024];
        if (stream_scan(s, "%d %1023s", &m->bones, name) != 2 || m->bones <= 0) {
            *why = "bad bone line";
            return false;
        }
    } else if (m->version != 1) {
        *why = "unknown version";
        return false;
    }
    for (;;) {
        read_part p;
        int v = 0, t = 0;
        if (stream_scan(s, "%f %f %f %f %f %d %d", &p.shininess, &p.reflectivity, &p.specular[0], &p.specular[1],
                        &p.specular[2], &v, &t) != 7)
            break;
        if (v <= 0 || t <= 0) {
            *why = "empty part";
            return false;
        }
        for (int i = 0; i < v; i++) {
            float f[8];
            if (stream_scan(s, "%f %f %f %f %f %f %f %f", &f[0], &f[1], &f[2], &f[3], &f[4], &f[5], &f[6], &f[7]) != 8) {
                *why = "short vertex";
                return false;
            }
            p.position.insert(p.position.end(), f, f + 3);
            p.normal.insert(p.normal.end(), f + 3, f + 6);
            p.uv.insert(p.uv.end(), f + 6, f + 8);
            for (int b = 0; b < m->bones; b++) {
                float w;
                if (stream_scan(s, "%f", &w) != 1) {
                    *why = "short weights";
                    return false;
                }
                p.weights.push_back(w);
            }
        }
        for (int i = 0; i < 3 * t; i++) {
            int k;
            if (stream_scan(s, "%d", &k) != 1) {
                *why = "short triangle";
                return false;
            }
            p.triangles.push_back(k);
        }
        m->parts.push_back(p);
    }
    for (int c; (c = stream_getc(s)) >= 0;)
        if (c != ' ' && c != '\n' && c != '\t' && c != '\r') {
            *why = "text after the last part";
            return false;
        }
    if (m->parts.empty()) {
        *why = "no parts";
        return false;
    }
    return true;
}

// What the renderer needs of every part: indices in range, no triangle the
// loader would drop, unit normals on the side the triangle faces, texture
// coordinates on the picture.
void expect_sound(const read_model& m, const std::string& name)
{
    for (const read_part& p : m.parts) {
        const size_t n = p.position.size() / 3;
        for (size_t i = 0; i < n; i++) {
            const float* nv = &p.normal[3 * i];
            EXPECT_NEAR(std::sqrt(nv[0] * nv[0] + nv[1] * nv[1] + nv[2] * nv[2]), 1.0, 1e-3) << name;
            EXPECT_GE(p.uv[2 * i], 0.0f) << name;
            EXPECT_LE(p.uv[2 * i], 1.0f) << name;
            EXPECT_GE(p.uv[2 * i + 1], 0.0f) << name;
            EXPECT_LE(p.uv[2 * i + 1], 1.0f) << name;
        }
        for (size_t t = 0; t < p.triangles.size(); t += 3) {
            int k[3] = {p.triangles[t], p.triangles[t + 1], p.triangles[t + 2]};
            for (int j : k)
                ASSERT_TRUE(j >= 0 && (size_t)j < n) << name;
            const float* a = &p.position[3 * k[0]];
            const float* b = &p.position[3 * k[1]];
            const float* c = &p.position[3 * k[2]];
            double e1[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]}, e2[3] = {c[0] - a[0], c[1] - a[1], c[2] - a[2]};
            double x = e1[1] * e2[2] - e1[2] * e2[1], y = e1[2] * e2[0] - e1[0] * e2[2], z = e1[0] * e2[1] - e1[1] * e2[0];
            double len = std::sqrt(x * x + y * y + z * z);
            ASSERT_GE(len * len, std::ldexp(1.0, -80)) << name << ": degenerate triangle " << t / 3;
            for (int j : k) {
                const float* nv = &p.normal[3 * j];
                EXPECT_GT((x * nv[0] + y * nv[1] + z * nv[2]) / len, 0.5) << name << ": triangle " << t / 3
                                                                         << " faces away from its normals";
            }
        }
    }
}

bool read_text_model(const std::string& text, read_model* m, std::string* why)
{
    test::temp_dir dir;
    test::write_file(dir / "m.qm", text);
    data_stream* s = open_data_file((dir / "m.qm").c_str(), "rb");
    if (!s) {
        *why = "can't open";
        return false;
    }
    bool ok = read_qm(s, m, why);
    close_data_file(s);
    return ok;
}

TEST(qm_writer, BoxesAndCylindersReadBackWhole)
{
    qm_model model;
    qm_part part;
    part.shininess = 16;
    const float lo[3] = {-1, 0, -2}, hi[3] = {1, 0.5f, 2};
    mkdata::qm_add_box(&part, lo, hi, qm_uv_rect{}, qm_uv_rect{0, 0, 0.5f, 0.5f});
    const float centre[3] = {0, 1, 0};
    mkdata::qm_add_cylinder(&part, 0, centre, 0.25f, 3, 12, qm_uv_rect{}, qm_uv_rect{});
    model.parts.push_back(part);
    qm_part plate;
    plate.shininess = -1;  // an environment-mapped part comes last
    plate.reflectivity = 0.4f;
    const float a[3] = {0, 0, 0}, b[3] = {1, 0, 0}, c[3] = {1, 1, 0}, d[3] = {0, 1, 0};
    mkdata::qm_add_quad(&plate, a, b, c, d, qm_uv_rect{}, true);
    model.parts.push_back(plate);
    std::string why;
    ASSERT_TRUE(mkdata::qm_check(model, &why)) << why;
    read_model m;
    ASSERT_TRUE(read_text_model(mkdata::qm_text(model), &m, &why)) << why;
    EXPECT_EQ(m.version, 1);
    ASSERT_EQ(m.parts.size(), 2u);
    // A box is 6 quads; a cylinder of 12 sides is 12 quads and 2 fans.
    EXPECT_EQ(m.parts[0].position.size() / 3, 24u + 26u + 2 * 13u);
    EXPECT_EQ(m.parts[0].triangles.size() / 3, 12u + 24u + 24u);
    EXPECT_EQ(m.parts[1].triangles.size() / 3, 4u);
    EXPECT_FLOAT_EQ(m.parts[1].shininess, -1);
    EXPECT_FLOAT_EQ(m.parts[1].reflectivity, 0.4f);
    expect_sound(m, "box and cylinder");
    // Every mantle normal points away from the axis.
    for (size_t i = 24; i < 24 + 26; i++) {
        const float* p = &m.parts[0].position[3 * i];
        const float* n = &m.parts[0].normal[3 * i];
        EXPECT_GT((p[1] - 1) * n[1] + p[2] * n[2], 0.2);
    }
}

TEST(qm_writer, SkinnedModelsCarryAWeightPerBone)
{
    qm_model model;
    model.bone_count = 2;
    model.skeleton = "rider";
    qm_part part;
    const float lo[3] = {0, 0, 0}, hi[3] = {1, 1, 1};
    mkdata::qm_add_box(&part, lo, hi, qm_uv_rect{}, qm_uv_rect{});
    std::string why;
    EXPECT_FALSE(mkdata::qm_check(model, &why));  // no parts yet
    model.parts.push_back(part);
    EXPECT_FALSE(mkdata::qm_check(model, &why)) << "weights missing";
    for (size_t i = 0; i < part.vertices.size(); i++) {
        model.parts[0].weights.push_back(part.vertices[i].position[1]);
        model.parts[0].weights.push_back(1 - part.vertices[i].position[1]);
    }
    ASSERT_TRUE(mkdata::qm_check(model, &why)) << why;
    read_model m;
    ASSERT_TRUE(read_text_model(mkdata::qm_text(model), &m, &why)) << why;
    EXPECT_EQ(m.version, 2);
    EXPECT_EQ(m.bones, 2);
    ASSERT_EQ(m.parts[0].weights.size(), 2 * part.vertices.size());
    EXPECT_FLOAT_EQ(m.parts[0].weights[0] + m.parts[0].weights[1], 1.0f);
}

TEST(qm_writer, RefusesWhatTheLoaderWouldDropOrMisdraw)
{
    qm_model good;
    qm_part part;
    const float a[3] = {0, 0, 0}, b[3] = {1, 0, 0}, c[3] = {1, 1, 0}, d[3] = {0, 1, 0};
    mkdata::qm_add_quad(&part, a, b, c, d, qm_uv_rect{}, false);
    good.parts.push_back(part);
    std::string why;
    ASSERT_TRUE(mkdata::qm_check(good, &why)) << why;

    qm_model bad = good;
    bad.parts[0].triangles[2] = 4;  // past the last vertex
    EXPECT_FALSE(mkdata::qm_check(bad, &why));
    bad = good;
    bad.parts[0].triangles[2] = bad.parts[0].triangles[1];  // a line, no area
    EXPECT_FALSE(mkdata::qm_check(bad, &why));
    EXPECT_NE(why.find("degenerate"), std::string::npos) << why;
    bad = good;
    bad.parts[0].vertices[1].uv[0] = 1.5f;
    EXPECT_FALSE(mkdata::qm_check(bad, &why));
    bad = good;
    bad.parts[0].vertices[0].normal[2] = 0.5f;
    EXPECT_FALSE(mkdata::qm_check(bad, &why));
    bad = good;
    bad.parts[0].vertices[0].position[0] = NAN;
    EXPECT_FALSE(mkdata::qm_check(bad, &why));
    bad = good;
    bad.parts[0].triangles.pop_back();
    EXPECT_FALSE(mkdata::qm_check(bad, &why));
}

// --- The generated models ---------------------------------------------------------

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

bool read_data_model(const char* name, read_model* m, std::string* why)
{
    data_stream* s = open_data_file(name, "rb");
    if (!s) {
        *why = std::string("missing ") + name;
        return false;
    }
    bool ok = read_qm(s, m, why);
    close_data_file(s);
    return ok;
}

TEST(generated_models, EveryTrackModelReadsWhole)
{
    data_env env;
    int checked = 0;
    for (const char* const* f = build_file_index(); *f; f++) {
        std::string name = *f;
        if (name.size() < 3 || name.compare(name.size() - 3, 3, ".qm") != 0)
            continue;
        read_model m;
        std::string why;
        ASSERT_TRUE(read_data_model(("@" + name).c_str(), &m, &why)) << name << ": " << why;
        expect_sound(m, name);
        checked++;
    }
    EXPECT_GE(checked, 5);  // the gate, and a tuff block and a bale per track
}

TEST(generated_models, TheStartingGateRaisesABarAboveTheWheelAndDropsItUnderground)
{
    data_env env;
    read_model m;
    std::string why;
    ASSERT_TRUE(read_data_model("@startgate.qm", &m, &why)) << why;
    expect_sound(m, "startgate.qm");
    // The race turns a piece about its x axis by 0.589 rad when up, not at
    // all when down; it stands 3 ft ahead of its start spot (the front tyre
    // of the bike there about 3.5 ft behind its origin), pieces 3.5 ft apart.
    const double up = 0.58904862, c = std::cos(up), s = std::sin(up);
    auto raised_y = [&](double y, double z) { return y * c - z * s; };
    auto raised_z = [&](double y, double z) { return y * s + z * c; };

    // The shape: raised, a row of spheres across the whole width stands
    // above the front axle (about 1.1 ft up) a few feet ahead; dropped,
    // every sphere lies deeper than the tyres sink.
    const shape* sh = shape_load("@startgate.shp");
    ASSERT_NE(sh, nullptr);
    ASSERT_GE(sh->sphere_count, 8);
    double bar_z = 1e9;
    for (int i = 0; i < sh->sphere_count; i++) {
        const shape_sphere& sp = sh->spheres[i];
        EXPECT_LT(sp.y + sp.radius, -0.15) << i;
        EXPECT_LE(std::fabs(sp.x) + sp.radius, 1.75) << i;
        bar_z = std::min(bar_z, raised_z(sp.y, sp.z));
    }
    EXPECT_LT(bar_z, -2.5);  // clear of the bike waiting behind it
    EXPECT_GT(bar_z, -4.5);
    std::vector<const shape_sphere*> bar;
    for (int i = 0; i < sh->sphere_count; i++) {
        const shape_sphere& sp = sh->spheres[i];
        if (raised_z(sp.y, sp.z) < bar_z + 0.1) {
            EXPECT_GT(raised_y(sp.y, sp.z), 1.4) << i;
            EXPECT_GE(sp.radius, 0.2f) << i;
            bar.push_back(&sp);
        }
    }
    std::sort(bar.begin(), bar.end(), [](const shape_sphere* a, const shape_sphere* b) { return a->x < b->x; });
    ASSERT_GE(bar.size(), 2u);
    // Edge to edge, with neighbouring pieces' end spheres meeting, and no
    // gap a tyre could press into.
    EXPECT_LT(bar.front()->x - bar.front()->radius, -1.7);
    EXPECT_GT(bar.back()->x + bar.back()->radius, 1.7);
    for (size_t i = 1; i < bar.size(); i++)
        EXPECT_LE(bar[i]->x - bar[i - 1]->x, std::min(bar[i]->radius, bar[i - 1]->radius) + 1e-4) << i;

    // The model follows the shape: flat on the ground when down, its top
    // and front at the bar when up, as wide as the spacing allows.
    double top_down = -1e9, top_up = -1e9, front_up = 1e9, half_width = 0;
    for (const read_part& p : m.parts)
        for (size_t i = 0; i < p.position.size(); i += 3) {
            const double x = p.position[i], y = p.position[i + 1], z = p.position[i + 2];
            top_down = std::max(top_down, y);
            top_up = std::max(top_up, raised_y(y, z));
            front_up = std::min(front_up, raised_z(y, z));
            half_width = std::max(half_width, std::fabs(x));
        }
    EXPECT_LT(top_down, 0.15);
    const shape_sphere& mid = *bar[bar.size() / 2];
    EXPECT_NEAR(top_up, raised_y(mid.y, mid.z), mid.radius);
    EXPECT_NEAR(front_up, bar_z, mid.radius);
    EXPECT_LT(half_width, 1.75);
    EXPECT_GT(half_width, 1.65);
    shape_cache_clear();
    data_stream* ppm = open_data_file("@startgate.ppm", "rb");
    ASSERT_NE(ppm, nullptr);
    picture pic;
    EXPECT_TRUE(read_rgb_picture(ppm, &pic));
    close_data_file(ppm);
    EXPECT_EQ(pic.width, 64);
    picture_free(&pic);
}

}  // namespace
