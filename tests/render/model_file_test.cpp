// The ".qm" reader without GL: the header forms, part materials, bone
// influences, tangents, the triangles it drops, where the part list ends,
// counts the file cannot hold, and the scene export.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>

#include "files/stream.h"
#include "model_test_util.h"
#include "render/model_file.h"

using namespace qmtest;

namespace {

struct qm_reader : ::testing::Test {
    test::temp_dir dir;
    log_capture log;

    // Reads text from a file of its own (the reader knows the file's size).
    model* load(const std::string& text, const std::string& file = "m.qm")
    {
        const std::string path = dir / file;
        test::write_file(path, text);
        return model_read(path.c_str());
    }
    // Reads text from memory, where the size cannot be asked.
    model* load_unsized(const std::string& text, const char* name = "mem.qm")
    {
        FILE* f = fmemopen(const_cast<char*>(text.data()), text.size(), "rb");
        if (!f)
            return nullptr;
        data_stream s;
        if (!start_stream(&s, f, 0, STREAM_WHOLE_FILE, false, false)) {
            fclose(f);
            return nullptr;
        }
        model* m = model_parse(&s, name);
        end_stream(&s);
        return m;
    }
};

int part_count(const model* m)
{
    int n = 0;
    for (const model_part* p = m->parts; p; p = p->next)
        n++;
    return n;
}

void expect_vec(const vec3& v, float x, float y, float z)
{
    EXPECT_NEAR(v.x, x, 1e-5) << v.x << " " << v.y << " " << v.z;
    EXPECT_NEAR(v.y, y, 1e-5) << v.x << " " << v.y << " " << v.z;
    EXPECT_NEAR(v.z, z, 1e-5) << v.x << " " << v.y << " " << v.z;
}

}  // namespace

TEST_F(qm_reader, two_parts_keep_their_materials_and_the_file_v_is_flipped)
{
    part lit = square(0, 0, 1, 24);
    lit.reflectivity = 0.3f;  // only shiny parts keep it
    lit.specular[0] = 0.25f;
    lit.vertices[2].u = 0.25f;
    lit.vertices[2].v = 0.75f;
    part shiny = square(3, 0, 1, -1);
    shiny.reflectivity = 0.5f;
    model* m = load(file({lit, shiny}));
    ASSERT_NE(m, nullptr);
    ASSERT_EQ(part_count(m), 2);
    EXPECT_TRUE(m->has_env);
    EXPECT_EQ(m->bone_count, 0);
    EXPECT_EQ(m->lod_distance, 0.0f);
    const model_part* a = m->parts;
    const model_part* b = a->next;
    EXPECT_EQ(a->shininess, 24.0f);
    EXPECT_EQ(a->reflectivity, 1.0f);
    EXPECT_FLOAT_EQ(a->specular[0], 0.25f);
    EXPECT_EQ(a->vertex_count, 4);
    EXPECT_EQ(a->triangle_count, 2);
    EXPECT_FLOAT_EQ(a->texcoords[4], 0.25f);
    EXPECT_FLOAT_EQ(a->texcoords[5], 0.25f);  // 1 - 0.75
    EXPECT_EQ(a->rest_positions, nullptr);
    EXPECT_EQ(a->weights, nullptr);
    EXPECT_EQ(b->shininess, -1.0f);
    EXPECT_FLOAT_EQ(b->reflectivity, 0.5f);
    expect_vec(b->positions[1], 4, -1, 0);
    EXPECT_EQ(b->triangles[3], 0u);
    EXPECT_EQ(b->triangles[5], 3u);
    EXPECT_STREQ(m->name, (dir / "m.qm").c_str());
    model_free(m);

    m = load(file({square(0, 0, 1, 8)}));
    ASSERT_NE(m, nullptr);
    EXPECT_FALSE(m->has_env);
    model_free(m);
}

TEST_F(qm_reader, a_file_without_header_is_one_part_read_from_its_first_number)
{
    const part p = square(0, 0, 1);
    const std::string text = "\n  4 2\n" + body(p);
    for (model* m : {load(text), load_unsized(text)}) {
        ASSERT_NE(m, nullptr);
        ASSERT_EQ(part_count(m), 1);
        const model_part* q = m->parts;
        EXPECT_EQ(q->shininess, 32.0f);
        EXPECT_EQ(q->reflectivity, 1.0f);
        EXPECT_EQ(q->specular[0], 1.0f);
        EXPECT_EQ(q->specular[2], 1.0f);
        EXPECT_EQ(q->bone_count, 0);
        EXPECT_EQ(q->vertex_count, 4);
        EXPECT_EQ(q->triangle_count, 2);
        expect_vec(q->positions[0], -1, -1, 0);
        model_free(m);
    }
    // A second "part" after it is not read: the form has one part.
    model* m = load(text + "4 2\n" + body(p));
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(part_count(m), 1);
    model_free(m);
}

TEST_F(qm_reader, header_forms_that_fail)
{
    const std::string parts = header(square(0, 0, 1)) + body(square(0, 0, 1));
    EXPECT_EQ(load(""), nullptr);
    EXPECT_EQ(load("QM3\n" + parts), nullptr);
    EXPECT_EQ(load("QMx\n" + parts), nullptr);
    EXPECT_EQ(load("QM2 2\n"), nullptr);          // no skeleton name
    EXPECT_EQ(load("QM2 -1 skel\n" + parts), nullptr);
    EXPECT_EQ(load("QM2 11 skel\n" + parts), nullptr);  // more bones than a program takes
    EXPECT_NE(log.text().find("11 bones (at most 10)"), std::string::npos);
    // "QM2" with no bones is a rigid model.
    model* m = load("QM2 0 skel\n" + parts);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->parts->weights, nullptr);
    model_free(m);
}

TEST_F(qm_reader, the_part_list_ends_at_the_first_part_that_fails)
{
    const part a = square(0, 0, 1), b = square(2, 0, 1), c = square(4, 0, 1);
    // The second part's third vertex has a word where a number belongs.
    std::string broken = header(b) + body(b);
    broken.replace(broken.find("3 1 0"), 1, "x");
    model* m = load("QM1\n" + header(a) + body(a) + broken + header(c) + body(c));
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(part_count(m), 1);
    expect_vec(m->parts->positions[0], -1, -1, 0);
    model_free(m);

    // A part cut short at the end of the file.
    const std::string whole = file({a, b});
    m = load(whole.substr(0, whole.size() - 8));
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(part_count(m), 1);
    model_free(m);

    // The first part failing fails the file.
    EXPECT_EQ(load("QM1\n" + broken), nullptr);
    EXPECT_EQ(load("QM1\n0 1 1 1 1 -4 2\n"), nullptr);
}

TEST_F(qm_reader, degenerate_triangles_are_dropped_and_counted_once_per_file)
{
    part a = square(0, 0, 1);
    a.triangles.insert(a.triangles.end(), {0, 0, 1});  // two corners the same
    part b = square(0, 0, 1);
    b.triangles = {0, 1, 2, 0, 1, 7, -1, 2, 3, 0, 2, 3};  // indices out of range
    model* m = load(file({a, b}), "gate.qm");
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->parts->triangle_count, 2);
    const model_part* q = m->parts->next;
    ASSERT_EQ(q->triangle_count, 2);
    const unsigned expected[6] = {0, 1, 2, 0, 2, 3};
    for (int i = 0; i < 6; i++)
        EXPECT_EQ(q->triangles[i], expected[i]);
    const std::string text = log.text();
    EXPECT_EQ(count_of(text, "degenerate triangles deleted"), 1) << text;
    EXPECT_NE(text.find("3 degenerate triangles deleted in " + (dir / "gate.qm")), std::string::npos) << text;
    model_free(m);

    // The message names the count of this file alone and comes only when
    // something was dropped.
    a.triangles = {0, 1, 2, 0, 0, 1};
    m = load(file({a}), "one.qm");
    ASSERT_NE(m, nullptr);
    model_free(m);
    m = load(file({square(0, 0, 1)}), "clean.qm");
    ASSERT_NE(m, nullptr);
    model_free(m);
    const std::string second = log.text();
    EXPECT_NE(second.find("1 degenerate triangles deleted in " + (dir / "one.qm")), std::string::npos) << second;
    EXPECT_EQ(count_of(second, "degenerate triangles deleted"), 1) << second;
}

TEST_F(qm_reader, tangents_follow_the_texture_and_the_winding)
{
    // u along +x: with the stored t = 1 - v running down the face, the
    // tangent is turned so that tangent x (t direction) points out of the
    // face, which gives -x; mirrored u gives the same.
    part straight = square(0, 0, 1);
    part mirrored = square(0, 0, 1);
    for (vertex& v : mirrored.vertices)
        v.u = 1 - v.u;
    // No usable texture directions: the longer edge; a vertex used by no
    // triangle keeps (1, 0, 0).
    part flat;
    flat.vertices = {{0, 0, 0}, {0, 3, 0}, {1, 0, 0}, {5, 5, 5}};
    flat.triangles = {0, 1, 2};
    model* m = load(file({straight, mirrored, flat}));
    ASSERT_NE(m, nullptr);
    const model_part* p = m->parts;
    for (int i = 0; i < 4; i++)
        expect_vec(p->tangents[i], -1, 0, 0);
    p = p->next;
    for (int i = 0; i < 4; i++)
        expect_vec(p->tangents[i], -1, 0, 0);
    p = p->next;
    for (int i = 0; i < 3; i++)
        expect_vec(p->tangents[i], 0, 1, 0);
    expect_vec(p->tangents[3], 1, 0, 0);
    model_free(m);

    // A tilted face: the tangent lies along the face's u direction.
    part tilted = square(0, 0, 1);
    for (vertex& v : tilted.vertices) {
        v.z = v.x;
        v.nx = -std::sqrt(0.5f);
        v.nz = std::sqrt(0.5f);
    }
    m = load(file({tilted}));
    ASSERT_NE(m, nullptr);
    expect_vec(m->parts->tangents[0], -std::sqrt(0.5f), 0, -std::sqrt(0.5f));
    model_free(m);
}

TEST_F(qm_reader, bone_weights_keep_four_influences_that_sum_to_one)
{
    part a = square(0, 0, 1);
    a.vertices[0].weights = {0.5f, 0.5f, 0, 0};
    a.vertices[1].weights = {0, 0, 2, 2};
    a.vertices[2].weights = {0, 0, 0, 0};
    a.vertices[3].weights = {0, 1, 0, 0};
    model* m = load(file({a}, 4));
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->bone_count, 4);
    const model_part* p = m->parts;
    EXPECT_EQ(p->bone_count, 4);
    const float* w = p->weights;
    const int* b = p->bones;
    // 0.5, 0.5 over bones 0 and 1; two slots stay empty.
    EXPECT_EQ(w[0], 0.5f);
    EXPECT_EQ(w[1], 0.5f);
    EXPECT_EQ(w[2], 0.0f);
    EXPECT_EQ(w[3], 0.0f);
    EXPECT_EQ(b[0], 0);
    EXPECT_EQ(b[1], 1);
    // 2, 2 on bones 2 and 3 are divided by their sum.
    EXPECT_EQ(w[4], 0.5f);
    EXPECT_EQ(w[5], 0.5f);
    EXPECT_EQ(b[4], 2);
    EXPECT_EQ(b[5], 3);
    // No weight at all: a quarter each.
    for (int k = 8; k < 12; k++)
        EXPECT_EQ(w[k], 0.25f);
    EXPECT_EQ(w[12], 1.0f);
    EXPECT_EQ(b[12], 1);
    // The rest pose is kept beside the arrays the processor skins into.
    ASSERT_NE(p->rest_positions, nullptr);
    ASSERT_NE(p->rest_normals, nullptr);
    ASSERT_NE(p->rest_tangents, nullptr);
    expect_vec(p->rest_positions[2], 1, 1, 0);
    expect_vec(p->rest_tangents[2], p->tangents[2].x, p->tangents[2].y, p->tangents[2].z);
    EXPECT_EQ(log.text().find("bone influences"), std::string::npos);
    model_free(m);
}

TEST_F(qm_reader, more_than_four_influences_warn_once_per_part)
{
    part a = square(0, 0, 1);
    for (vertex& v : a.vertices)
        v.weights = {0.1f, 0.2f, 0.3f, 0.4f, 0.5f};
    part b = a;
    model* m = load(file({a, b}, 5), "rider.qm");
    ASSERT_NE(m, nullptr);
    // The fifth weight takes the slot of the smallest (bone 0's 0.1).
    const float* w = m->parts->weights;
    const int* bones = m->parts->bones;
    EXPECT_EQ(bones[0], 4);
    EXPECT_NEAR(w[0], 0.5f / 1.4f, 1e-6);
    EXPECT_NEAR(w[3], 0.4f / 1.4f, 1e-6);
    const std::string text = log.text();
    EXPECT_EQ(count_of(text, "Warning: vertex with more than 4 bone influences in '" + (dir / "rider.qm") + "'"), 2)
        << text;
    model_free(m);
}

TEST_F(qm_reader, counts_the_file_cannot_hold_are_refused_before_any_allocation)
{
    const std::string vertex_line = "0 0 0 0 0 1 0 0\n";
    const std::string huge = "QM1\n0 1 1 1 1 2000000000 2000000000\n" + vertex_line + "0 1 2\n";
    EXPECT_EQ(load(huge), nullptr);
    EXPECT_NE(log.text().find("does not fit"), std::string::npos);
    // Where the size cannot be asked, only what is really read is stored.
    EXPECT_EQ(load_unsized(huge), nullptr);
    EXPECT_EQ(load_unsized("4000000 4000000\n" + vertex_line), nullptr);
    EXPECT_EQ(load_unsized("QM2 10 s\n0 1 1 1 1 100000000 1\n" + vertex_line), nullptr);

    // The tightest text that holds the counts is still read: numbers that
    // start with their sign need no blank in between.
    std::string tight = "QM1\n0 1 1 1 1 3 1\n";
    tight += "0-1-1-1-1-1-1-1";
    tight += "-1-0-0-1-1-1-1-1";
    tight += "-1-1-0-1-1-1-1-1";
    tight += "-0+1+2";
    model* m = load(tight);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->parts->vertex_count, 3);
    EXPECT_EQ(m->parts->triangle_count, 1);
    expect_vec(m->parts->positions[2], -1, -1, 0);
    model_free(m);
    EXPECT_EQ(load(tight.substr(0, tight.size() - 1)), nullptr);
}

TEST_F(qm_reader, export_writes_a_mesh_per_part_and_a_union_for_several)
{
    part one;
    one.vertices = {{0, 0, 0, 0, 0, 1, 0, 1}, {1, 0, 0, 0, 0, 1, 1, 1}, {0, 2, 0, 0, 0, 1, 0, 0.25f}};
    one.triangles = {0, 1, 2};
    model* m = load(file({one}));
    ASSERT_NE(m, nullptr);
    std::string out;
    model_export_mesh2(m, &out);
    const std::string mesh =
        "mesh2 {\n"
        "\tvertex_vectors {\n\t\t3,\n\t\t<0.000000,0.000000,0.000000>,\n\t\t<1.000000,0.000000,0.000000>,\n"
        "\t\t<0.000000,2.000000,0.000000>\n\t}\n"
        "\tnormal_vectors {\n\t\t3,\n\t\t<0.000000,0.000000,1.000000>,\n\t\t<0.000000,0.000000,1.000000>,\n"
        "\t\t<0.000000,0.000000,1.000000>\n\t}\n"
        "\tuv_vectors {\n\t\t3,\n\t\t<0.000000,0.000000>,\n\t\t<1.000000,0.000000>,\n\t\t<0.000000,0.750000>\n\t}\n"
        "\tface_indices {\n\t\t1,\n\t\t<0,1,2>\n\t}\n"
        "}\n";
    EXPECT_EQ(out, mesh);
    model_free(m);

    // Two parts (and an empty one, which the ray tracer would refuse).
    part empty;
    m = load(file({one, empty, one}));
    ASSERT_NE(m, nullptr);
    out.clear();
    model_export_mesh2(m, &out);
    EXPECT_EQ(out, "union {\n" + mesh + mesh + "}\n");
    const std::string path = dir / "out.pov";
    FILE* f = fopen(path.c_str(), "w");
    ASSERT_NE(f, nullptr);
    EXPECT_TRUE(model_export_mesh2(m, f));
    fclose(f);
    EXPECT_EQ(test::read_file(path), out);
    model_free(m);
}

TEST_F(qm_reader, every_model_of_the_default_data_loads_whole)
{
    // What the data generator writes is read back without a triangle lost.
    int models = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(test::build_data_dir())) {
        std::string path = entry.path().string();
        if (path.size() > 3 && path.compare(path.size() - 3, 3, ".gz") == 0)
            path.resize(path.size() - 3);  // opened through the gzip variant
        if (path.size() < 3 || path.compare(path.size() - 3, 3, ".qm") != 0)
            continue;
        model* m = model_read(path.c_str());
        ASSERT_NE(m, nullptr) << path;
        for (const model_part* p = m->parts; p; p = p->next)
            EXPECT_GT(p->triangle_count, 0) << path;
        model_free(m);
        models++;
    }
    EXPECT_GT(models, 0);
    const std::string text = log.text();
    EXPECT_EQ(text.find("degenerate"), std::string::npos) << text;
    EXPECT_EQ(text.find("Warning"), std::string::npos) << text;
}
