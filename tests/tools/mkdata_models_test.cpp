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
#include "qm_read.h"
#include "qm_writer.h"
#include "render/picture.h"
#include "test_support.h"

namespace {

using namespace qm_read;
using mkdata::qm_model;
using mkdata::qm_part;
using mkdata::qm_uv_rect;

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

TEST(generated_models, EveryModelReadsWhole)
{
    data_env env;
    int checked = 0;
    for (const char* const* f = build_file_index(); *f; f++) {
        std::string name = *f;
        // Models stored compressed are opened by their plain name.
        if (name.size() > 6 && name.compare(name.size() - 6, 6, ".qm.gz") == 0)
            name.resize(name.size() - 3);
        else if (name.size() < 3 || name.compare(name.size() - 3, 3, ".qm") != 0)
            continue;
        read_model m;
        std::string why;
        ASSERT_TRUE(read_data_model(("@" + name).c_str(), &m, &why)) << name << ": " << why;
        expect_sound(m, name);
        checked++;
    }
    // The gate, a tuff block and a bale per track, and the bikes' and
    // riders' models with their levels.
    EXPECT_GE(checked, 500);
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
