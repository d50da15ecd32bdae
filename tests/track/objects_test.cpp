// Track objects: the billboard, statue, flagger and decal files, placement
// on the ground, statue orientation and camera facing, the bins, the
// flagger rules and the statue contacts of a bike.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "bike/bike.h"
#include "bike/contact.h"
#include "bike/physics.h"
#include "bike/shape.h"
#include "core/services.h"
#include "files/datafs.h"
#include "track/heightfield.h"
#include "track/objects.h"
#include "track_test_util.h"
#include "test_support.h"

using namespace track_test;

namespace {

std::vector<std::string> g_loaded;  // texture names asked for, in order
bool g_keep_pictures = false;

// Every name gets a texture of its own (its position in g_loaded + 1),
// except names holding "missing".
unsigned record_texture(const char* name, int)
{
    g_loaded.push_back(name);
    if (std::string(name).find("missing") != std::string::npos)
        return 0;
    return (unsigned)g_loaded.size();
}

bool keep_pictures()
{
    return g_keep_pictures;
}

unsigned texture_of(const std::string& name)
{
    for (size_t k = 0; k < g_loaded.size(); k++)
        if (g_loaded[k] == name)
            return (unsigned)k + 1;
    return 0;
}

// Ground rising 0.5 ft per ft along x and 0.25 along z: 65 x 65 samples,
// 2 ft apart (extent 128 ft).
float slope_height(float x, float z)
{
    return 0.5f * x + 0.25f * z;
}

class Objects : public ::testing::Test {
protected:
    test::data_dirs_fixture dirs;
    heightfield hf;
    track_objects objects;
    texture_service saved_textures = g_texture_service;
    object_options options;

    void SetUp() override
    {
        free_file_index();
        shape_cache_clear();
        clear_messages();
        g_loaded.clear();
        g_keep_pictures = false;
        g_texture_service.load = record_texture;
        g_texture_service.keep_tile_pictures = keep_pictures;
        make_ground(slope_height);
    }
    void TearDown() override
    {
        track_objects_free(&objects);
        heightfield_free(&hf);
        shape_cache_clear();
        g_texture_service = saved_textures;
        g_decal_hooks = decal_hooks();
        free_file_index();
    }
    void make_ground(float (*f)(float, float))
    {
        const int n = samples_per_side(5);
        std::vector<float> h((size_t)n * n);
        for (int row = 0; row < n; row++)
            for (int col = 0; col < n; col++)
                h[(size_t)col + (size_t)row * n] = f(col * 2.0f, row * 2.0f);
        ASSERT_TRUE(heightfield_create(&hf, 5, 2.0f, h.data()));
    }
    void put(const std::string& rel, const std::string& text)
    {
        test::write_file(dirs.game + "/" + rel, text);
        free_file_index();
    }
    const sprite& sprite_of(const billboard& b) const { return objects.sprites.items[b.sprite_index]; }
};

// ---- billboards ---------------------------------------------------------------------

TEST_F(Objects, BillboardColourPrefixNeedsSixHexDigits)
{
    uint8_t c[4];
    EXPECT_STREQ(billboard_split_name("#ff8000#tree.png", c), "tree.png");
    EXPECT_EQ(c[0], 0xff);
    EXPECT_EQ(c[1], 0x80);
    EXPECT_EQ(c[2], 0x00);
    EXPECT_EQ(c[3], 255);
    for (const char* whole : {"#12ab#fan.png", "#ff80g0#x.png", "#ff8000x.png", "ff8000#x", "#ff800#0x"}) {
        EXPECT_STREQ(billboard_split_name(whole, c), whole) << whole;
        EXPECT_EQ(c[0] + c[1] + c[2] + c[3], 4 * 255) << whole;
    }
}

TEST_F(Objects, BillboardsReadUntilAnEntryFails)
{
    put("trk/billboards",
        "[ 10 2 20 ] 8 0.5 #ff8000#@tree.png\n"
        "[ 30 -1 40 ] 4 2 #12ab#@fan.png\n"
        "[12 0 12] 1 1 @banner.png\n"
        "[ 1 2 ] 3 4 @broken.png\n"
        "[ 50 0 50 ] 1 1 @never.png\n");
    ASSERT_TRUE(billboards_load(&objects, &hf, "@trk", nullptr));
    ASSERT_EQ(objects.billboards.count, 3);
    ASSERT_EQ(objects.sprites.count, 3);

    const sprite& tree = sprite_of(objects.billboards.items[0]);
    EXPECT_STREQ(objects.billboards.items[0].texture_name, "@tree.png");
    EXPECT_EQ(tree.texture, texture_of("@tree.png"));
    EXPECT_FLOAT_EQ(tree.y, slope_height(10, 20) + 2);
    EXPECT_FLOAT_EQ(tree.y_offset, 2);
    EXPECT_FLOAT_EQ(tree.size, 8);
    EXPECT_FLOAT_EQ(tree.aspect, 0.5f);
    EXPECT_EQ(tree.colour[0], 0xff);
    EXPECT_EQ(tree.colour[1], 0x80);
    EXPECT_EQ(tree.colour[2], 0x00);

    // Four digits: the whole text is the texture name, the colour white.
    const sprite& fan = sprite_of(objects.billboards.items[1]);
    EXPECT_STREQ(objects.billboards.items[1].texture_name, "#12ab#@fan.png");
    EXPECT_EQ(fan.colour[0] & fan.colour[1] & fan.colour[2], 255);
    EXPECT_EQ(texture_of("@never.png"), 0u);

    // No file: no billboards, nothing reported.
    track_objects none;
    EXPECT_FALSE(billboards_load(&none, &hf, "@elsewhere", nullptr));
    EXPECT_EQ(none.billboards.count, 0);
    EXPECT_TRUE(messages().empty());
}

TEST_F(Objects, BillboardNumberBeyondFloatRangeEndsTheFile)
{
    put("trk/billboards", "[ 1 0 1 ] 1 1 @a.png\n[ 1e999 0 1 ] 1 1 @b.png\n[ 2 0 2 ] 1 1 @c.png\n");
    ASSERT_TRUE(billboards_load(&objects, &hf, "@trk", nullptr));
    EXPECT_EQ(objects.billboards.count, 1);
}

TEST_F(Objects, EditorWritesBillboardsAndStatuesFromTheFirstOwnObject)
{
    billboard_add(&objects, &hf, 10, 2, 20, 8, 0.5f, "#ff8000#@tree.png");
    billboard_add(&objects, &hf, 1, 0, 2, 3, 1, "@plain.png");
    statue_add(&objects, &hf, 5, 0, 5, 0, "@startgate.qm", "@startgate.ppm", nullptr, &options);  // fixed
    statue_add(&objects, &hf, 7, 0.5f, 9, -7, "@block.qm", "null", "null", &options);
    ASSERT_TRUE(billboards_write(&objects, "@trk", 0));
    ASSERT_TRUE(statues_write(&objects, "@trk", 1));
    EXPECT_EQ(test::read_file(dirs.home + "/trk/billboards"),
              "[10.000000 2.000000 20.000000] 8.000000 0.500000 #ff8000#@tree.png\n"
              "[1.000000 0.000000 2.000000] 3.000000 1.000000 @plain.png\n");
    EXPECT_EQ(test::read_file(dirs.home + "/trk/statues"),
              "[7.000000 0.500000 9.000000] -7.000000 @block.qm null null\n");

    // What was written reads back the same.
    track_objects again;
    free_file_index();
    ASSERT_TRUE(billboards_load(&again, &hf, "@trk", nullptr));
    ASSERT_EQ(again.billboards.count, 2);
    EXPECT_EQ(again.sprites.items[0].colour[1], 0x80);
    EXPECT_STREQ(again.billboards.items[1].texture_name, "@plain.png");
    track_objects_free(&again);

    // A directory that cannot be created: the message, false.
    test::write_file(dirs.home + "/blocked", "a file where the folder should be");
    EXPECT_FALSE(billboards_write(&objects, "@blocked", 0));
    EXPECT_TRUE(has_message("Can't open 'billboards'"));
}

// ---- statues ------------------------------------------------------------------------

void expect_orthonormal(const float m[3][3])
{
    for (int i = 0; i < 3; i++)
        for (int j = 0; j < 3; j++) {
            const float d = m[i][0] * m[j][0] + m[i][1] * m[j][1] + m[i][2] * m[j][2];
            EXPECT_NEAR(d, i == j ? 1.0f : 0.0f, 1e-5f) << i << "," << j;
        }
    // Right-handed: side x up = forward.
    EXPECT_NEAR(m[0][1] * m[1][2] - m[0][2] * m[1][1], m[2][0], 1e-5f);
    EXPECT_NEAR(m[0][2] * m[1][0] - m[0][0] * m[1][2], m[2][1], 1e-5f);
    EXPECT_NEAR(m[0][0] * m[1][1] - m[0][1] * m[1][0], m[2][2], 1e-5f);
}

TEST_F(Objects, StatueAngleTenFacesTheCameraFromAfar)
{
    const int k = statue_add(&objects, &hf, 40, 1, 60, 10, "@tower.qm", "@tower.png", nullptr, &options);
    statue& s = objects.statues.items[k];
    EXPECT_FLOAT_EQ(s.facing_distance, 1024.0f);
    EXPECT_FLOAT_EQ(s.y, slope_height(40, 60) + 1);
    const float identity[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    for (int i = 0; i < 3; i++)
        for (int j = 0; j < 3; j++)
            EXPECT_EQ(s.rotation[i][j], identity[i][j]);

    // Far (2000 ft along +x): its forward axis turns toward the eye.
    statue_face_camera(&s, {s.x + 2000, s.y, s.z}, 1.0f, 0.0f);
    EXPECT_NEAR(s.rotation[2][0], 1.0f, 1e-6f);
    EXPECT_NEAR(s.rotation[2][2], 0.0f, 1e-6f);
    EXPECT_NEAR(s.rotation[0][2], -1.0f, 1e-6f);  // side = (dz, 0, -dx) / h
    expect_orthonormal(s.rotation);

    // Nearer than 1024 ft (500 ft along +z): it keeps its last heading.
    statue_face_camera(&s, {s.x, s.y, s.z + 500}, 1.0f, 0.0f);
    EXPECT_NEAR(s.rotation[2][0], 1.0f, 1e-6f);
    // A bias of 600 brings the turning distance down to 424 ft.
    statue_face_camera(&s, {s.x, s.y, s.z + 500}, 1.0f, 600.0f);
    EXPECT_NEAR(s.rotation[2][2], 1.0f, 1e-6f);
    // Straight above: no horizontal direction, the heading stays.
    statue_face_camera(&s, {s.x, s.y + 5000, s.z}, 1.0f, 0.0f);
    EXPECT_NEAR(s.rotation[2][2], 1.0f, 1e-6f);

    // Collisions use it upright whatever the drawing turned it to.
    double r[12];
    statue_physics_rotation(&s, r);
    EXPECT_EQ(r[0], 1.0);
    EXPECT_EQ(r[5], 1.0);
    EXPECT_EQ(r[10], 1.0);
    EXPECT_EQ(r[2], 0.0);
}

TEST_F(Objects, StatueAngleMinusSevenKeepsHeadingWithoutTilt)
{
    const int k = statue_add(&objects, &hf, 40, 0, 60, -7, nullptr, nullptr, nullptr, &options);
    const statue& s = objects.statues.items[k];
    const float c = cosf(-7.0f), sn = sinf(-7.0f);
    EXPECT_FLOAT_EQ(s.facing_distance, 0.0f);
    EXPECT_FLOAT_EQ(s.rotation[0][0], c);
    EXPECT_FLOAT_EQ(s.rotation[0][1], 0);
    EXPECT_FLOAT_EQ(s.rotation[0][2], -sn);
    EXPECT_FLOAT_EQ(s.rotation[1][1], 1);
    EXPECT_FLOAT_EQ(s.rotation[1][0], 0);
    EXPECT_FLOAT_EQ(s.rotation[1][2], 0);
    EXPECT_FLOAT_EQ(s.rotation[2][0], sn);
    EXPECT_FLOAT_EQ(s.rotation[2][2], c);

    // The physics engine's matrix has the axes as columns.
    double r[12];
    statue_physics_rotation(&s, r);
    EXPECT_FLOAT_EQ((float)r[0 * 4 + 2], sn);
    EXPECT_FLOAT_EQ((float)r[2 * 4 + 0], -sn);
    EXPECT_EQ(r[3], 0.0);
}

TEST_F(Objects, StatueOnSlopeTiltsWithTheGround)
{
    const float angle = 0.7f;
    const int k = statue_add(&objects, &hf, 40, 0, 60, angle, nullptr, nullptr, nullptr, &options);
    const statue& s = objects.statues.items[k];
    // Up is (-0.5, 1, -0.25) normalised: the slopes along x and z.
    const float len = sqrtf(0.25f + 1 + 0.0625f);
    EXPECT_NEAR(s.rotation[1][0], -0.5f / len, 1e-5f);
    EXPECT_NEAR(s.rotation[1][1], 1 / len, 1e-5f);
    EXPECT_NEAR(s.rotation[1][2], -0.25f / len, 1e-5f);
    expect_orthonormal(s.rotation);
    // The heading's side axis only leans into the ground's up: it stays in
    // the plane of the old side axis and the new up.
    const float side[3] = {cosf(angle), 0, -sinf(angle)};
    const float* up = s.rotation[1];
    const float normal[3] = {side[1] * up[2] - side[2] * up[1], side[2] * up[0] - side[0] * up[2],
                             side[0] * up[1] - side[1] * up[0]};
    EXPECT_NEAR(s.rotation[0][0] * normal[0] + s.rotation[0][1] * normal[1] + s.rotation[0][2] * normal[2], 0,
                1e-5f);
    EXPECT_GT(s.rotation[0][0] * side[0] + s.rotation[0][2] * side[2], 0.9f);

    // On flat ground the tilt is the plain heading.
    heightfield_free(&hf);
    make_ground([](float, float) { return 3.0f; });
    float m[3][3], facing;
    statue_orientation(&hf, 40, 60, angle, m, &facing);
    EXPECT_NEAR(m[0][0], cosf(angle), 1e-6f);
    EXPECT_NEAR(m[2][0], sinf(angle), 1e-6f);
    EXPECT_NEAR(m[1][1], 1.0f, 1e-6f);
}

TEST_F(Objects, StatueFileNamesShapesAndMaps)
{
    put("box.shp", "2\n0 0 0 1 0.5 10000 100\n0 2 0 1 0.5 10000 100\n");
    put("wall_norm-repeat.png", "x");
    put("crate_spec.ppm", "x");
    put("trk/statues",
        "[ 10 0.5 20 ] 0 @crate.qm @wall-repeat.png @box.shp\n"
        "[ 20 0 20 ] 1 null null @nowhere.shp\n"
        "[ 30 0 30 ] 2 @crate.qm\n");
    options.shaders = true;
    ASSERT_TRUE(statues_load(&objects, &hf, "@trk", &options, nullptr));
    ASSERT_EQ(objects.statues.count, 2);

    const statue& a = objects.statues.items[0];
    EXPECT_STREQ(a.model_name, "@crate.qm");
    EXPECT_STREQ(a.texture_name, "@wall-repeat.png");
    ASSERT_NE(a.shape, nullptr);
    EXPECT_EQ(a.shape->sphere_count, 2);
    EXPECT_FLOAT_EQ(a.shape->radius, 3.0f);
    EXPECT_EQ(a.texture, texture_of("@wall-repeat.png"));
    // The normal map from the texture name, the specular map from the model.
    EXPECT_EQ(a.normal_texture, texture_of("@wall_norm-repeat.png"));
    EXPECT_EQ(a.spec_texture, texture_of("@crate_spec.ppm"));
    EXPECT_EQ(texture_of("@wall_norm-repeat.seq"), 0u);  // looked for, never loaded

    const statue& b = objects.statues.items[1];
    EXPECT_EQ(b.model_name, nullptr);
    EXPECT_EQ(b.texture_name, nullptr);
    EXPECT_EQ(b.shape, nullptr);
    EXPECT_EQ(b.texture, 0u);
    EXPECT_TRUE(has_message("Warning: missing shape file @nowhere.shp"));

    char names[6][64];
    ASSERT_EQ(statue_map_candidates("@a/wall.png", "@m/crate.qm", "_spec", &names[0][0], 64), 6);
    EXPECT_STREQ(names[0], "@a/wall_spec.seq");
    EXPECT_STREQ(names[2], "@a/wall_spec.ppm");
    EXPECT_STREQ(names[3], "@m/crate_spec.seq");
    EXPECT_STREQ(names[5], "@m/crate_spec.ppm");
    ASSERT_EQ(statue_map_candidates("@x-y-repeat.png", nullptr, "_norm", &names[0][0], 64), 3);
    EXPECT_STREQ(names[1], "@x-y_norm-repeat.png");
}

TEST_F(Objects, StatueBinsAndStatuesNear)
{
    // The terrain is 128 ft: bins split 16..112 into eight strips of 12 ft.
    EXPECT_EQ(statue_bin(0, 128), 0);
    EXPECT_EQ(statue_bin(27.9f, 128), 0);
    EXPECT_EQ(statue_bin(28.1f, 128), 1);
    EXPECT_EQ(statue_bin(100.1f, 128), 7);
    EXPECT_EQ(statue_bin(1e30f, 128), 7);
    EXPECT_EQ(statue_bin(-1e30f, 128), 0);
    EXPECT_EQ(statue_bin(NAN, 128), 0);

    put("ball.shp", "1\n0 0 0 2 1 10000 100\n");
    statue_add(&objects, &hf, 60, 0, 60, 0, nullptr, nullptr, "@ball.shp", &options);  // bins 3..3
    statue_add(&objects, &hf, 64, 0, 63, 0, nullptr, nullptr, "@ball.shp", &options);  // 3..4 x 3..3
    statue_add(&objects, &hf, 60, 0, 60, 0, nullptr, nullptr, nullptr, &options);      // no shape
    statue_add(&objects, &hf, 5, 0, 5, 0, nullptr, nullptr, "@ball.shp", &options);    // corner
    statue_bins_build(&objects, &hf);
    const object_bins& bins = objects.statue_bins;
    ASSERT_EQ(bins.cells[3][3].count, 2);
    EXPECT_EQ(bins.cells[3][3].items[0], 0);
    EXPECT_EQ(bins.cells[3][3].items[1], 1);
    ASSERT_EQ(bins.cells[4][3].count, 1);
    EXPECT_EQ(bins.cells[4][3].items[0], 1);
    ASSERT_EQ(bins.cells[0][0].count, 1);
    EXPECT_EQ(bins.cells[0][0].items[0], 3);

    // Across the bins 3 and 4 statue 1 is listed once.
    ASSERT_EQ(statues_near(&objects, &hf, 63, 60, 6), 2);
    EXPECT_EQ(objects.near.items[0], 0);
    EXPECT_EQ(objects.near.items[1], 1);
    ASSERT_EQ(statues_near(&objects, &hf, 2, 2, 6), 1);
    EXPECT_EQ(objects.near.items[0], 3);

    // Rebuilding gives the same bins.
    statue_bins_build(&objects, &hf);
    EXPECT_EQ(objects.statue_bins.cells[3][3].count, 2);
}

// ---- statue contacts --------------------------------------------------------------------

class StatueContacts : public Objects {
protected:
    bike* b = nullptr;
    dJointID mount = nullptr;
    shape_sphere rider_sphere = {0, 0, 0, 1.0f, 0.5f, 10000, 1000};
    shape rider_shape = {"rider", 1, &rider_sphere, nullptr, 1.0f};

    void SetUp() override
    {
        Objects::SetUp();
        heightfield_free(&hf);
        make_ground([](float, float) { return 0.0f; });
        test::physics();
        b = new bike();
        b->space = test::physics();
        b->bodies[body_frame] = body({60, 2.5f, 60});
        b->bodies[body_rider] = body({60, 4.5f, 60});
        b->shapes[body_rider] = &rider_shape;
        mount = dJointCreateHinge2(test::physics()->world, nullptr);
        dJointAttach(mount, b->bodies[body_rider], b->bodies[body_frame]);
        b->joints[joint_rider_mount] = mount;
        put("post.shp", "1\n0 0 0 1 0.5 10000 100\n");
    }
    void TearDown() override
    {
        dJointDestroy(mount);
        for (dBodyID x : b->bodies)
            if (x)
                dBodyDestroy(x);
        delete b;
        test::physics_reset();
        Objects::TearDown();
    }
    static dBodyID body(vec3 p)
    {
        dBodyID x = dBodyCreate(test::physics()->world);
        dMass m;
        dMassSetSphereTotal(&m, 1.0, 0.5);
        dBodySetMass(x, &m);
        dBodySetPosition(x, p.x, p.y, p.z);
        return x;
    }
    void add_post(float x, float y_offset, float z)
    {
        statue_add(&objects, &hf, x, y_offset, z, 0, nullptr, nullptr, "@post.shp", &options);
        statue_bins_build(&objects, &hf);
    }
};

TEST_F(StatueContacts, RiderHitsAStatueAndFallsOnlyWhenFast)
{
    add_post(60, 4.5f, 61.8f);  // 0.2 ft into the rider's sphere
    add_post(90, 4.5f, 90);     // far away
    dBodySetLinearVel(b->bodies[body_rider], 0, 0, 19);
    EXPECT_EQ(bike_statue_contacts(b, &objects, &hf, 77), part_rider);
    EXPECT_EQ(objects.statues.items[0].touch_tick, 77);
    EXPECT_EQ(objects.statues.items[1].touch_tick, -1);
    EXPECT_EQ(b->crash_timer, 0);
    physics_clear_contacts(test::physics());

    // Faster than 20 ft/s: the crash starts, once.
    dBodySetLinearVel(b->bodies[body_rider], 0, 0, 21);
    EXPECT_EQ(bike_statue_contacts(b, &objects, &hf, 78), part_rider);
    EXPECT_EQ(b->crash_timer, 512);
    EXPECT_EQ(b->crash_count, 1);
    bike_statue_contacts(b, &objects, &hf, 79);
    EXPECT_EQ(b->crash_count, 1);
    physics_clear_contacts(test::physics());
}

TEST_F(StatueContacts, BumpTimerBelowZeroKeepsTheRiderOn)
{
    add_post(60, 4.5f, 61.8f);
    b->bump_timer = -1;
    dBodySetLinearVel(b->bodies[body_rider], 0, 0, 40);
    EXPECT_EQ(bike_statue_contacts(b, &objects, &hf, 5), part_rider);
    EXPECT_EQ(b->crash_timer, 0);
    physics_clear_contacts(test::physics());
}

// ---- flaggers ---------------------------------------------------------------------------

const char* const flagger_file =
    " [ 10 0 20 ] [ 30 1 20 ] 6 0.5 2.0\n"
    " @s0.png @s1.png @s2.png @s3.png @s4.png\n"
    " [ 50 0.5 50 ] 5 0.6 @f0.png @f1.png @f2.png @f3.png\n"
    " [ 70 0 70 ] 5 0.5 3 300 -5 0 @c.png @c_alert.png\n"
    " [ 80 0 80 ] 5 0.5 1 -1 -1 -1 @d.png @d_alert.png\n";

TEST_F(Objects, FlaggersFileInItsThreeParts)
{
    put("trk/flaggers", flagger_file);
    ASSERT_TRUE(flaggers_load(&objects, &hf, "@trk", 8));
    const flagger_set& f = objects.flaggers;
    ASSERT_TRUE(f.has_start);
    ASSERT_TRUE(f.has_finish);
    ASSERT_EQ(f.course_count, 2);
    EXPECT_EQ(objects.sprites.count, 4);
    EXPECT_FLOAT_EQ(f.start.walk, 2.0f);
    EXPECT_EQ(f.start.textures[4], texture_of("@s4.png"));
    const sprite& start = objects.sprites.items[f.start.sprite_index];
    EXPECT_EQ(start.texture, texture_of("@s0.png"));
    EXPECT_FLOAT_EQ(start.y, slope_height(10, 20));
    const sprite& finish = objects.sprites.items[f.finish.sprite_index];
    EXPECT_FLOAT_EQ(finish.y, slope_height(50, 50) + 0.5f);
    EXPECT_EQ(finish.texture, texture_of("@f0.png"));
    // Gates clamped to -1..7.
    EXPECT_EQ(f.course[0].gates[0], 3);
    EXPECT_EQ(f.course[0].gates[1], 7);
    EXPECT_EQ(f.course[0].gates[2], -1);
    EXPECT_EQ(f.course[0].alert_texture, texture_of("@c_alert.png"));
    EXPECT_EQ(objects.sprites.items[f.course[1].sprite_index].texture, texture_of("@d.png"));

    // Without checkpoints every gate is none.
    track_objects other;
    free_file_index();
    ASSERT_TRUE(flaggers_load(&other, &hf, "@trk", 0));
    EXPECT_EQ(other.flaggers.course[0].gates[0], -1);
    track_objects_free(&other);
}

TEST_F(Objects, FlaggersEachPartNeedsTheOneBefore)
{
    put("a/flaggers", " [ 10 0 20 ] [ 30 1 20 ] 6 0.5 2.0 @s0 @s1 @s2 @s3 @s4 [ 50 0.5 50 ] 5 0.6 @f0 @f1\n");
    ASSERT_TRUE(flaggers_load(&objects, &hf, "@a", 4));
    EXPECT_TRUE(objects.flaggers.has_start);
    EXPECT_FALSE(objects.flaggers.has_finish);
    track_objects_free(&objects);

    put("b/flaggers", " [ 10 0 20 ] [ 30 1 20 ] 6 0.5 @s0 @s1\n [ 50 0.5 50 ] 5 0.6 @f0 @f1 @f2 @f3\n");
    ASSERT_TRUE(flaggers_load(&objects, &hf, "@b", 4));
    EXPECT_FALSE(objects.flaggers.has_start);
    EXPECT_FALSE(objects.flaggers.has_finish);
    EXPECT_EQ(objects.sprites.count, 0);
    track_objects_free(&objects);

    // A sixth start name is passed over; the finish flagger still reads.
    g_loaded.clear();
    put("c/flaggers", " [ 10 0 20 ] [ 30 1 20 ] 6 0.5 2 @s0 @s1 @s2 @s3 @s4 @s5 [ 50 0 50 ] 5 1 @f0 @f1 @f2 @f3\n");
    ASSERT_TRUE(flaggers_load(&objects, &hf, "@c", 4));
    EXPECT_TRUE(objects.flaggers.has_finish);
    EXPECT_EQ(objects.flaggers.start.textures[4], texture_of("@s4"));
}

TEST_F(Objects, StartFlaggerWalksAndWavesAsTheGateDrops)
{
    // Start at 14.7 s: s = 14, the walk runs 15..17 s.
    const double s = 14.7;
    EXPECT_EQ(start_flagger_stage(14.05, s, 2), 0);
    EXPECT_EQ(start_flagger_stage(14.1, s, 2), 1);
    EXPECT_EQ(start_flagger_stage(14.39, s, 2), 1);
    EXPECT_EQ(start_flagger_stage(14.5, s, 2), 2);
    EXPECT_EQ(start_flagger_stage(15.0, s, 2), 3);
    EXPECT_EQ(start_flagger_stage(16.99, s, 2), 3);
    EXPECT_EQ(start_flagger_stage(17.0, s, 2), 4);
    EXPECT_FLOAT_EQ(start_flagger_fraction(14.9, s, 2), 0.0f);
    EXPECT_FLOAT_EQ(start_flagger_fraction(16.0, s, 2), 0.5f);
    EXPECT_FLOAT_EQ(start_flagger_fraction(30.0, s, 2), 1.0f);
    // No walk time: it stands at B from s + 1 on.
    EXPECT_FLOAT_EQ(start_flagger_fraction(14.99, s, 0), 0.0f);
    EXPECT_FLOAT_EQ(start_flagger_fraction(15.0, s, 0), 1.0f);

    put("trk/flaggers", flagger_file);
    ASSERT_TRUE(flaggers_load(&objects, &hf, "@trk", 8));
    EXPECT_FALSE(start_flagger_update(&objects, &hf, 1.0, s));  // t0 already
    EXPECT_TRUE(start_flagger_update(&objects, &hf, 16.0, s));
    const sprite& sp = objects.sprites.items[objects.flaggers.start.sprite_index];
    EXPECT_EQ(sp.texture, texture_of("@s3.png"));
    EXPECT_FLOAT_EQ(sp.x, 20.0f);
    EXPECT_FLOAT_EQ(sp.y, slope_height(20, 20) + 0.5f);
    EXPECT_FALSE(start_flagger_update(&objects, &hf, 16.5, s));
}

TEST_F(Objects, FinishAndCourseFlaggersFollowTheRace)
{
    EXPECT_EQ(finish_flagger_stage(0, 5, 3), 0);
    EXPECT_EQ(finish_flagger_stage(3, 5, 3), 1);
    EXPECT_EQ(finish_flagger_stage(4, 5, 3), 2);
    EXPECT_EQ(finish_flagger_stage(5, 5, 3), 3);
    EXPECT_EQ(finish_flagger_stage(7, 5, 3), 3);
    EXPECT_EQ(finish_flagger_stage(1, 2, 1), 2);  // the last lap wins over half distance

    flagger_rider riders[4];
    riders[0].last_gate = 3;
    riders[0].slow_or_down = true;
    riders[1].last_gate = 1;
    riders[1].slow_or_down = true;
    riders[1].finished = true;
    riders[2].last_gate = 1;
    riders[2].slow_or_down = true;
    riders[2].stale = true;
    riders[3].last_gate = 5;  // riding normally
    uint8_t marked[FLAGGER_GATE_COUNT];
    flagger_gate_marks(riders, 4, marked);
    int count = 0;
    for (uint8_t m : marked)
        count += m;
    EXPECT_EQ(count, 1);
    EXPECT_EQ(marked[3], 1);

    put("trk/flaggers", flagger_file);
    ASSERT_TRUE(flaggers_load(&objects, &hf, "@trk", 8));
    EXPECT_TRUE(course_flaggers_update(&objects, marked));
    const flagger_set& f = objects.flaggers;
    EXPECT_EQ(objects.sprites.items[f.course[0].sprite_index].texture, texture_of("@c_alert.png"));
    EXPECT_EQ(objects.sprites.items[f.course[1].sprite_index].texture, texture_of("@d.png"));
    EXPECT_FALSE(course_flaggers_update(&objects, marked));
    marked[3] = 0;
    EXPECT_TRUE(course_flaggers_update(&objects, marked));
    EXPECT_EQ(objects.sprites.items[f.course[0].sprite_index].texture, texture_of("@c.png"));

    EXPECT_TRUE(finish_flagger_update(&objects, 4, 5, 3));
    EXPECT_EQ(objects.sprites.items[f.finish.sprite_index].texture, texture_of("@f2.png"));
}

TEST_F(Objects, PlacementFollowsAnEditedGround)
{
    put("trk/flaggers", flagger_file);
    ASSERT_TRUE(flaggers_load(&objects, &hf, "@trk", 8));
    billboard_add(&objects, &hf, 10, 2, 20, 8, 0.5f, "@tree.png");
    statue_add(&objects, &hf, 40, 1, 60, 0, nullptr, nullptr, nullptr, &options);
    for (int k = 0; k < hf.sample_count * hf.sample_count; k++)
        hf.heights[k] += 10.0f;
    objects_place_on_ground(&objects, &hf);
    EXPECT_FLOAT_EQ(objects.sprites.items[objects.billboards.items[0].sprite_index].y, slope_height(10, 20) + 12);
    EXPECT_FLOAT_EQ(objects.sprites.items[objects.flaggers.finish.sprite_index].y, slope_height(50, 50) + 10.5f);
    EXPECT_FLOAT_EQ(objects.statues.items[0].y, slope_height(40, 60) + 11);
}

// ---- decals -------------------------------------------------------------------------------

struct dirty_area {
    float x0, z0, x1, z1;
};
std::vector<dirty_area> g_dirty;
void record_dirty(void*, heightfield*, float x0, float z0, float x1, float z1)
{
    g_dirty.push_back({x0, z0, x1, z1});
}

TEST_F(Objects, DecalNearTheCornerEntersBinZeroOnly)
{
    put("trk/decals",
        "[ 3 4 ] 0.3 2 1.5 @mud.png\n"
        "[ 64 64 ] 0 40 2 @big.png\n"
        "[ 20 20 ] 0 1 1 @missing.png\n"
        "[ 127 1 ] 0 2 1 @edge.png\n");
    g_dirty.clear();
    g_decal_hooks.mark_dirty = record_dirty;
    ASSERT_TRUE(decals_load(&hf, "@trk", &options));
    ASSERT_NE(hf.decals, nullptr);
    const decal_set& set = *hf.decals;
    ASSERT_EQ(set.count, 3);  // the decal without a texture is dropped
    EXPECT_EQ(g_dirty.size(), 3u);

    const decal& mud = set.items[0];
    EXPECT_STREQ(mud.texture_name, "@mud.png");
    EXPECT_FLOAT_EQ(mud.sin_angle, sinf(0.3f));
    float hx, hz;
    decal_half_extents(&mud, &hx, &hz);
    EXPECT_FLOAT_EQ(hx, fabsf(2 * 1.5f * cosf(0.3f) / 2) + fabsf(2 * sinf(0.3f) / 2));
    EXPECT_FLOAT_EQ(hz, fabsf(2 * 1.5f * sinf(0.3f) / 2) + fabsf(2 * cosf(0.3f) / 2));

    int cells = 0;
    for (int i = 0; i < OBJECT_BINS; i++)
        for (int j = 0; j < OBJECT_BINS; j++)
            for (int k = 0; k < set.bins.cells[i][j].count; k++)
                if (set.bins.cells[i][j].items[k] == 0) {
                    cells++;
                    EXPECT_EQ(i, 0);
                    EXPECT_EQ(j, 0);
                }
    EXPECT_EQ(cells, 1);
    // The big one (80 x 40 ft about the centre) covers bins 1..6 x 2..5.
    int i0, i1, j0, j1;
    decal_bin_range(&hf, &set.items[1], &i0, &i1, &j0, &j1);
    EXPECT_EQ(i0, 1);
    EXPECT_EQ(i1, 6);
    EXPECT_EQ(j0, 2);
    EXPECT_EQ(j1, 5);
    // At the far edge the last bin.
    decal_bin_range(&hf, &set.items[2], &i0, &i1, &j0, &j1);
    EXPECT_EQ(i0, 7);
    EXPECT_EQ(i1, 7);
    heightfield_free(&hf);  // frees the decals through the hook
    EXPECT_EQ(hf.decals, nullptr);
}

TEST_F(Objects, DecalInsertAndRemoveShiftTheBins)
{
    decal d;
    d.x = 3;
    d.z = 3;
    d.texture = 1;
    decal_insert(&hf, 0, &d);      // index 0, bin (0, 0)
    d.x = 125;
    decal_insert(&hf, 5, &d);      // clamped to the end: index 1, bin (7, 0)
    d.x = 4;
    decal_insert(&hf, 0, &d);      // at the front: the others move up
    const object_bins& bins = hf.decals->bins;
    ASSERT_EQ(bins.cells[0][0].count, 2);
    EXPECT_EQ(bins.cells[0][0].items[0], 0);
    EXPECT_EQ(bins.cells[0][0].items[1], 1);
    ASSERT_EQ(bins.cells[7][0].count, 1);
    EXPECT_EQ(bins.cells[7][0].items[0], 2);

    decal_remove(&hf, 0);
    ASSERT_EQ(hf.decals->count, 2);
    ASSERT_EQ(bins.cells[0][0].count, 1);
    EXPECT_EQ(bins.cells[0][0].items[0], 0);
    EXPECT_EQ(bins.cells[7][0].items[0], 1);
    EXPECT_FLOAT_EQ(hf.decals->items[0].x, 3);

    decal_move(&hf, 1, 64, 125, 0.5f);
    EXPECT_EQ(bins.cells[7][0].count, 0);
    ASSERT_EQ(bins.cells[4][7].count, 1);
    EXPECT_EQ(bins.cells[4][7].items[0], 1);
    EXPECT_FLOAT_EQ(hf.decals->items[1].cos_angle, cosf(0.5f));

    ASSERT_TRUE(decals_write(&hf, "@trk"));
    EXPECT_EQ(test::read_file(dirs.home + "/trk/decals"),
              "[3.000000 3.000000] 0.000000 1.000000 1.000000 \n"
              "[64.000000 125.000000] 0.500000 1.000000 1.000000 \n");
    decals_free(&hf);
}

TEST_F(Objects, DecalMapsAndPicturesInMemory)
{
    put("trk/decals", "[ 10 10 ] 0 2 1 @tyre.png\n[ 20 20 ] 0 2 1 @oil.ppm\n");
    put("tyre_tnorm.ppm", "x");
    put("tyre_tspec.png", "x");
    put("tyre_tspec.ppm", "x");
    options.terrain_shader = true;
    ASSERT_TRUE(decals_load(&hf, "@trk", &options));
    ASSERT_EQ(hf.decals->count, 2);
    EXPECT_EQ(hf.decals->items[0].normal_texture, texture_of("@tyre_tnorm.ppm"));
    EXPECT_EQ(hf.decals->items[0].spec_texture, texture_of("@tyre_tspec.png"));
    EXPECT_EQ(texture_of("@tyre_tspec.ppm"), 0u);
    EXPECT_EQ(hf.decals->items[1].normal_texture, 0u);
    decals_free(&hf);

    // Software texturing keeps the picture (RGBA) instead of a texture; a
    // decal whose picture does not decode is dropped.
    g_keep_pictures = true;
    g_loaded.clear();
    put("oil.ppm", ppm(2, 3, 10, 20, 30));
    ASSERT_TRUE(decals_load(&hf, "@trk", &options));
    ASSERT_EQ(hf.decals->count, 1);
    const decal& oil = hf.decals->items[0];
    EXPECT_EQ(oil.texture, 0u);
    ASSERT_NE(oil.pixels, nullptr);
    EXPECT_EQ(oil.picture_width, 2);
    EXPECT_EQ(oil.picture_height, 3);
    EXPECT_EQ(oil.pixels[4 * 5 + 2], 30);
    EXPECT_EQ(oil.pixels[4 * 5 + 3], 255);
}

}  // namespace
