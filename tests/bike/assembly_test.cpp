// Bike assembly: bodies, masses and joints of a created bike, the rest pose
// after a reset, moving it, presence changes, the physics world, and the
// model and texture loading through the service seams.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "bike/bike.h"
#include "bike/physics.h"
#include "bike/shape.h"
#include "bike_test_messages.h"
#include "core/services.h"
#include "files/datafs.h"
#include "test_support.h"

namespace {

using bike_test::messages;

const double PI = 3.14159265358979323846;

vec3 position(const bike* b, int body)
{
    const dReal* p = dBodyGetPosition(b->bodies[body]);
    return {(float)p[0], (float)p[1], (float)p[2]};
}

struct BikeAssembly : ::testing::Test {
    static void SetUpTestSuite() { test::physics(); }
    static void TearDownTestSuite() { test::physics_reset(); }
    test::temp_dir home;
    test::scoped_env xdg{"XDG_DATA_HOME", home.path.c_str()};
    test::scoped_env kz{"KZ_HOME", test::build_data_dir().c_str()};
    bike* b = nullptr;
    void SetUp() override
    {
        free_file_index();
        build_file_index();
        clear_messages();
        b = create_bike(test::physics(), "crf250(2018)", 7, "123456789", nullptr, nullptr, nullptr, nullptr);
    }
    void TearDown() override
    {
        destroy_bike(b);
        physics_clear_contacts(test::physics());
        free_file_index();
    }
};

TEST_F(BikeAssembly, CreatedBikeIsAtRestInItsRestPose)
{
    EXPECT_TRUE(messages().empty());
    EXPECT_EQ(b->slot, 7);
    EXPECT_STREQ(b->number_text, "1234567");
    EXPECT_STREQ(bike_model_name(b), "crf250(2018)");
    EXPECT_STREQ(bike_class(b), "250f");
    EXPECT_FLOAT_EQ(b->engine_inertia, b->params.engine_inertia);
    EXPECT_FLOAT_EQ(b->presence, 1);
    const vec3 rest[7] = {b->params.frame_pos, b->params.front_wheel_pos, b->params.rear_wheel_pos,
                          b->params.fork_upper_pos, b->params.fork_lower_pos, b->params.swingarm_pos,
                          b->params.rider_pos};
    for (int i = 0; i < bike_body_count; i++) {
        const vec3 p = position(b, i);
        EXPECT_FLOAT_EQ(p.x, rest[i].x) << i;
        EXPECT_FLOAT_EQ(p.y, rest[i].y) << i;
        EXPECT_FLOAT_EQ(p.z, rest[i].z) << i;
        const dReal* v = dBodyGetLinearVel(b->bodies[i]);
        const dReal* w = dBodyGetAngularVel(b->bodies[i]);
        EXPECT_EQ(v[0] * v[0] + v[1] * v[1] + v[2] * v[2] + w[0] * w[0] + w[1] * w[1] + w[2] * w[2], 0) << i;
        EXPECT_TRUE(dBodyIsEnabled(b->bodies[i]));
        EXPECT_NE(b->shapes[i], nullptr) << i;
        EXPECT_EQ(dBodyGetData(b->bodies[i]), b);
    }
    // Joint conventions at rest: fork and swingarm fully extended.
    EXPECT_NEAR(dJointGetSliderPosition(b->joints[joint_fork_slider]), 0, 1e-9);
    EXPECT_NEAR(dJointGetHingeAngle(b->joints[joint_swingarm_pivot]), 0, 1e-9);
    EXPECT_DOUBLE_EQ(dJointGetSliderParam(b->joints[joint_fork_slider], dParamLoStop), -b->params.fork_travel);
    EXPECT_DOUBLE_EQ(dJointGetSliderParam(b->joints[joint_fork_slider], dParamHiStop), 0);
    EXPECT_NEAR(dJointGetHingeParam(b->joints[joint_swingarm_pivot], dParamLoStop), -b->params.swingarm_travel,
                1e-7);
    EXPECT_NEAR(dJointGetHingeParam(b->joints[joint_steering_head], dParamHiStop), PI / 4, 1e-12);
    EXPECT_EQ(dJointGetType(b->joints[joint_rider_mount]), dJointTypeHinge2);
    EXPECT_EQ(dJointGetBody(b->joints[joint_rider_mount], 0), b->bodies[body_rider]);
    EXPECT_EQ(dJointGetBody(b->joints[joint_front_axle], 1), b->bodies[body_front_wheel]);
    for (int j = 0; j < bike_joint_count; j++)
        EXPECT_EQ(dJointGetFeedback(b->joints[j]), &b->joint_feedback[j]);
    EXPECT_EQ(b->front_contact.body, b->bodies[body_front_wheel]);
    EXPECT_FLOAT_EQ(b->rear_contact.ring_radius, 0.75f);
    EXPECT_EQ(b->gate_times.capacity, 16);
    EXPECT_EQ(b->recording[1].capacity, 16);
}

TEST_F(BikeAssembly, MassModels)
{
    const bike_params& p = b->params;
    dMass m;
    dBodyGetMass(b->bodies[body_frame], &m);
    EXPECT_NEAR(m.mass, p.frame_mass + p.rider_mass * 2 / 3, 1e-5);
    dBodyGetMass(b->bodies[body_rider], &m);
    EXPECT_NEAR(m.mass, p.rider_mass / 3, 1e-6);
    EXPECT_NEAR(m.I[0], 0.4 * m.mass, 1e-6);   // solid sphere, radius 1 ft
    // Wheel: hub sphere plus the ring; spin inertia (about x) is the larger.
    dBodyGetMass(b->bodies[body_front_wheel], &m);
    EXPECT_NEAR(m.mass, p.front_hub_mass + p.front_rim_mass, 1e-6);
    const double r = p.front_tyre_ring_radius, s = p.front_tyre_section_radius;
    const double spin = 0.4 * p.front_hub_mass * p.front_hub_radius * p.front_hub_radius +
                        p.front_rim_mass * (0.4 * s * s + r * r);
    EXPECT_NEAR(m.I[0], spin, 1e-5);
    EXPECT_NEAR(m.I[5], m.I[10], 1e-9);   // round about the axle
    EXPECT_GT(m.I[0], m.I[5]);
    EXPECT_EQ(m.c[0], 0);
    // Fork bodies tilted back with the steering axis: the principal axis of
    // the legs lies along it, so the inertia has a y-z product term.
    dBodyGetMass(b->bodies[body_fork_upper], &m);
    EXPECT_NEAR(m.mass, p.fork_mass, 1e-6);
    EXPECT_GT(std::fabs(m.I[6]), 1e-4);
    dBodyGetMass(b->bodies[body_swingarm], &m);
    EXPECT_NEAR(m.mass, 2 * p.swingarm_side_mass, 1e-6);
    // Total: every body, as stored.
    const double total = p.frame_mass + p.rider_mass + 2 * p.fork_mass + 2 * p.swingarm_side_mass +
                         p.front_hub_mass + p.front_rim_mass + p.rear_hub_mass + p.rear_rim_mass;
    EXPECT_NEAR(b->total_mass, total, 1e-4);
    EXPECT_EQ(dBodyGetFiniteRotationMode(b->bodies[body_front_wheel]), 1);
    EXPECT_EQ(dBodyGetFiniteRotationMode(b->bodies[body_frame]), 0);
}

TEST_F(BikeAssembly, ResetPutsTheRiderBackOnTheFrame)
{
    // Dirty everything a ride changes.
    rotate_bike(b, 0, 0, 1, 0.7f);
    translate_bike(b, 40, 3, -20);
    for (dBodyID body : b->bodies) {
        dBodySetLinearVel(body, 3, 4, 5);
        dBodySetAngularVel(body, 1, 2, 3);
        dBodyAddForce(body, 10, 0, 0);
    }
    dBodySetPosition(b->bodies[body_rider], 50, 50, 50);
    dJointAttach(b->joints[joint_rider_mount], nullptr, nullptr);
    b->gear = 3;
    b->throttle = 1;
    b->crash_timer = 200;
    b->presence = 0.5f;
    b->last_bike_contact_tick = 99;
    b->landing_level = 2;
    b->grip_limit_tick = 5;
    b->gate_times.count = 3;
    b->joint_feedback[2].f1[0] = 7;
    b->rear_trail.point_count = 9;
    b->rider_velocity_history[2] = {1, 1, 1};

    reset_bike_pose(b);
    const vec3 frame = position(b, body_frame);
    const vec3 rider = position(b, body_rider);
    EXPECT_FLOAT_EQ(rider.x - frame.x, b->params.rider_pos.x - b->params.frame_pos.x);
    EXPECT_FLOAT_EQ(rider.y - frame.y, b->params.rider_pos.y - b->params.frame_pos.y);
    EXPECT_FLOAT_EQ(rider.z - frame.z, b->params.rider_pos.z - b->params.frame_pos.z);
    for (dBodyID body : b->bodies) {
        const dReal* v = dBodyGetLinearVel(body);
        const dReal* f = dBodyGetForce(body);
        EXPECT_EQ(v[0], 0);
        EXPECT_EQ(f[0], 0);
        const dReal* q = dBodyGetQuaternion(body);
        EXPECT_EQ(q[0], 1);
    }
    EXPECT_EQ(dJointGetBody(b->joints[joint_rider_mount], 0), b->bodies[body_rider]);
    EXPECT_EQ(dJointGetBody(b->joints[joint_rider_mount], 1), b->bodies[body_frame]);
    EXPECT_EQ(b->gear, 0);
    EXPECT_EQ(b->throttle, 0);
    EXPECT_EQ(b->crash_timer, 0);
    EXPECT_EQ(b->presence, 1);
    EXPECT_EQ(b->last_bike_contact_tick, -1);
    EXPECT_EQ(b->first_bike_contact_tick, -1);
    EXPECT_EQ(b->landing_level, 1);
    EXPECT_EQ(b->grip_limit_tick, -1000000);
    EXPECT_EQ(b->gate_times.count, 0);
    EXPECT_EQ(b->joint_feedback[2].f1[0], 0);
    EXPECT_EQ(b->rear_trail.point_count, 0);
    EXPECT_EQ(b->rider_velocity_history[2].y, 0);
    // Setup values survive a reset.
    EXPECT_EQ(b->assist_flags, 0x8d);
}

TEST_F(BikeAssembly, RotateAndTranslate)
{
    rotate_bike(b, 0, 1, 0, (float)(PI / 2));
    const vec3 front = position(b, body_front_wheel);
    EXPECT_NEAR(front.x, 1.11, 1e-6);
    EXPECT_NEAR(front.y, 1.09, 1e-6);
    EXPECT_NEAR(front.z, 0, 1e-6);
    // The bike now points along -x; its forward speed reads along that.
    for (dBodyID body : b->bodies)
        dBodySetLinearVel(body, -22, 0, 0);
    EXPECT_NEAR(bike_forward_speed_mph(b), 15.0, 1e-4);
    translate_bike(b, 10, 2, -3);
    const vec3 rear = position(b, body_rear_wheel);
    EXPECT_NEAR(rear.x, 6.0 + 10, 1e-5);
    EXPECT_NEAR(rear.y, 1.04 + 2, 1e-6);
    EXPECT_NEAR(rear.z, -3, 1e-6);
    const vec3 f = bike_frame_position(b);
    EXPECT_NEAR(f.x, b->params.frame_pos.z + 10, 1e-5);
    // The joints follow their bodies: stepping the world keeps the rider
    // on the frame and the fork in its slider.
    for (dBodyID body : b->bodies)
        dBodySetLinearVel(body, 0, 0, 0);
    physics_step(test::physics());
    EXPECT_NEAR(dJointGetSliderPosition(b->joints[joint_fork_slider]), 0, 1e-3);
    const vec3 rider = bike_rider_position(b);
    EXPECT_NEAR(rider.x - bike_frame_position(b).x, b->params.rider_pos.z - b->params.frame_pos.z, 1e-2);
}

TEST_F(BikeAssembly, PresenceChanges)
{
    set_bike_ghost(b);
    EXPECT_EQ(b->presence, 0);
    EXPECT_FALSE(dBodyIsEnabled(b->bodies[body_frame]));
    dBodyAddForce(b->bodies[body_rider], 5, 5, 5);
    set_bike_solid(b);
    EXPECT_EQ(b->presence, 1);
    EXPECT_TRUE(dBodyIsEnabled(b->bodies[body_rider]));
    EXPECT_EQ(dBodyGetForce(b->bodies[body_rider])[0], 0);

    // Waking: a ghost at exactly 0 becomes solid; a fading bike at or
    // below 0.25 is held at 0.25 (still ghost); above that nothing happens.
    set_bike_ghost(b);
    wake_remote_bike(b);
    EXPECT_EQ(b->presence, 1);
    EXPECT_TRUE(dBodyIsEnabled(b->bodies[body_frame]));
    b->presence = 0.5f;
    wake_remote_bike(b);
    EXPECT_EQ(b->presence, 0.5f);
    EXPECT_TRUE(dBodyIsEnabled(b->bodies[body_frame]));
    b->presence = 0.1f;
    wake_remote_bike(b);
    EXPECT_EQ(b->presence, 0.25f);
    EXPECT_FALSE(dBodyIsEnabled(b->bodies[body_frame]));

    // Fading: one tick at a time; solid above 0.25, ghost from there down,
    // never below 0; a ghost at 0 stays.
    b->presence = 0.26f;
    fade_remote_bike(b);
    EXPECT_FLOAT_EQ(b->presence, 0.26f - 0.0078125f);
    EXPECT_TRUE(dBodyIsEnabled(b->bodies[body_swingarm]));
    fade_remote_bike(b);
    EXPECT_FLOAT_EQ(b->presence, 0.26f - 2 * 0.0078125f);
    EXPECT_FALSE(dBodyIsEnabled(b->bodies[body_swingarm]));
    b->presence = 0.5f;
    fade_remote_bike(b);
    EXPECT_TRUE(dBodyIsEnabled(b->bodies[body_swingarm]));
    b->presence = 0.005f;
    fade_remote_bike(b);
    EXPECT_EQ(b->presence, 0);
    fade_remote_bike(b);
    EXPECT_EQ(b->presence, 0);
    b->presence = 3;
    fade_remote_bike(b);
    EXPECT_EQ(b->presence, 1);
}

TEST_F(BikeAssembly, FallsUnderGravityInTheWorld)
{
    // Free fall with no ground: after 64 ticks (0.5 s) every body moves at
    // 16 ft/s down, and the bike holds together.
    for (int i = 0; i < 64; i++)
        physics_step(test::physics());
    for (int i = 0; i < bike_body_count; i++)
        EXPECT_NEAR(dBodyGetLinearVel(b->bodies[i])[1], -16.0, 1e-4) << i;
    const vec3 frame = bike_frame_position(b);
    EXPECT_NEAR(frame.y, b->params.frame_pos.y - 0.5 * 32 * 0.25 - 16 * 0.0078125 / 2, 0.02);
    EXPECT_EQ(dWorldGetAutoDisableFlag(test::physics()->world), 0);
}

TEST(BikeHelpers, VariantModelNames)
{
    char out[256];
    EXPECT_TRUE(model_variant_name("@rider_body.qm", "@rider_body-fox-blue.png", out, sizeof out));
    EXPECT_STREQ(out, "@rider_body-fox.qm");
    // The model is cut at its first '-' after the last '/'.
    EXPECT_TRUE(model_variant_name("@bikes/crf-old.qm", "gear/skins/crf-red-2.png", out, sizeof out));
    EXPECT_STREQ(out, "@bikes/crf-red.qm");
    // Dots in folder names do not count as the extension.
    EXPECT_TRUE(model_variant_name("@v1.2/frame.qm", "@a.b/x-y-z.png", out, sizeof out));
    EXPECT_STREQ(out, "@v1.2/frame-y.qm");
    // Without two '-' in the texture's file name, or without '-' or '.' in
    // the model's, there is no variant.
    EXPECT_FALSE(model_variant_name("@rider_body.qm", "@rider_body-blue.png", out, sizeof out));
    EXPECT_FALSE(model_variant_name("@rider_body.qm", "@a-b-c/plain.png", out, sizeof out));
    EXPECT_FALSE(model_variant_name("@frame", "@x-y-z.png", out, sizeof out));
    EXPECT_FALSE(model_variant_name("@v1.2/frame", "@x-y-z.png", out, sizeof out));
    // Too small an output is no variant rather than a cut name.
    char tiny[8];
    EXPECT_FALSE(model_variant_name("@rider_body.qm", "@r-fox-blue.png", tiny, sizeof tiny));
}

TEST(BikeHelpers, NumberPlateColours)
{
    uint8_t bg[3] = {255, 255, 255}, fg[3] = {0, 0, 0};
    number_plate_colours("[compress][numberbackground:1,0,0]", bg, fg);
    EXPECT_EQ(bg[0], 255);
    EXPECT_EQ(bg[1], 0);
    EXPECT_EQ(bg[2], 0);
    EXPECT_EQ(fg[0], 0);
    number_plate_colours("[numberforeground:2,-1,0.5]", bg, fg);
    EXPECT_EQ(fg[0], 255);
    EXPECT_EQ(fg[1], 0);
    EXPECT_EQ(fg[2], 127);
    // Incomplete or non-finite numbers keep the colour.
    uint8_t keep[3] = {1, 2, 3};
    number_plate_colours("[numberbackground:0.5,0.5]", keep, fg);
    number_plate_colours("[numberbackground:nan,0,0]", keep, fg);
    number_plate_colours(nullptr, keep, fg);
    EXPECT_EQ(keep[0], 1);
    EXPECT_EQ(keep[2], 3);
}

// ---- models and textures through the service seams ----

struct fake_art {
    std::set<std::string> textures;                 // loadable texture names
    std::set<std::string> models;                   // loadable model names
    std::map<unsigned, std::string> texture_text;   // attached text
    std::vector<std::pair<std::string, std::string>> model_calls;  // (model, texture)
    std::vector<unsigned> deleted;
    std::string plate;
    unsigned char plate_bg[3] = {}, plate_fg[3] = {};
    std::map<std::string, unsigned> ids;
};
fake_art* g_art = nullptr;

unsigned id_of(const std::string& name)
{
    auto it = g_art->ids.find(name);
    if (it != g_art->ids.end())
        return it->second;
    const unsigned id = (unsigned)g_art->ids.size() + 1;
    g_art->ids[name] = id;
    return id;
}
std::string name_of(unsigned id)
{
    for (const auto& e : g_art->ids)
        if (e.second == id)
            return e.first;
    return "";
}

struct ArtServices : BikeAssembly {
    fake_art art;
    texture_service saved_textures = g_texture_service;
    model_service saved_models = g_model_service;
    void SetUp() override
    {
        g_art = &art;
        g_texture_service.load = [](const char* name, int) -> unsigned {
            return g_art->textures.count(name) ? id_of(name) : 0;
        };
        g_texture_service.text = [](unsigned id) -> const char* {
            auto it = g_art->texture_text.find(id);
            return it == g_art->texture_text.end() ? nullptr : it->second.c_str();
        };
        g_texture_service.number_plate = [](const char* number, const unsigned char* bg, const unsigned char* fg,
                                            int size) -> unsigned {
            g_art->plate = number;
            memcpy(g_art->plate_bg, bg, 3);
            memcpy(g_art->plate_fg, fg, 3);
            return size == 128 ? 900u : 0u;
        };
        g_texture_service.delete_unregistered = [](unsigned id) { g_art->deleted.push_back(id); };
        g_texture_service.normal_map = [](unsigned id) { return id + 1000; };
        g_model_service.load = [](const char* name, unsigned texture) -> unsigned {
            g_art->model_calls.push_back({name, name_of(texture)});
            return g_art->models.count(name) ? id_of(name) : 0;
        };
        free_file_index();
        build_file_index();
        clear_messages();
    }
    void TearDown() override
    {
        destroy_bike(b);
        b = nullptr;
        g_texture_service = saved_textures;
        g_model_service = saved_models;
        g_art = nullptr;
        free_file_index();
    }
    void allow_default_models(const bike_params* p)
    {
        for (const char* m : {p->frame_model, p->side_plates_model, p->fork_upper_model, p->front_plate_model,
                              p->fork_lower_model, p->swingarm_model, p->front_wheel_model, p->rear_wheel_model,
                              p->rider_plate_model, p->rider_model, p->rider_model_first_person, p->head_model})
            art.models.insert(m);
        for (const char* t : {p->bike_texture, p->wheel_texture, p->rider_texture, p->head_texture})
            art.textures.insert(t);
    }
};

TEST_F(ArtServices, ModelsLoadWithTheirGroupsTexture)
{
    const bike_params* p = find_bike_params("yz125");
    allow_default_models(p);
    art.textures.insert("@rider_body-fox-blue.png");
    art.models.insert("@rider_body-fox.qm");
    art.models.insert("@rider_plate-fox.qm");
    art.models.insert("@rider_body_fp-fox.qm");
    art.texture_text[id_of(p->bike_texture)] = "[numberbackground:0,0,1][numberforeground:1,1,0]";
    b = create_bike(test::physics(), "yz125", 1, "42", "@rider_body-fox-blue.png", nullptr, nullptr, nullptr);
    EXPECT_TRUE(messages().empty()) << messages()[0];
    EXPECT_EQ(b->textures[texture_rider].colour, id_of("@rider_body-fox-blue.png"));
    EXPECT_EQ(b->textures[texture_rider].normal, id_of("@rider_body-fox-blue.png") + 1000);
    EXPECT_EQ(b->textures[texture_rider].specular, 0u);
    EXPECT_EQ(b->models[model_rider_body], id_of("@rider_body-fox.qm"));
    EXPECT_EQ(b->models[model_frame], id_of("@yz125_frame.qm"));
    EXPECT_EQ(b->models[model_head], id_of("@rider_head.qm"));
    EXPECT_EQ(b->textures[texture_bike].colour, id_of("@yz125.png"));
    EXPECT_EQ(art.plate, "42");
    EXPECT_EQ(art.plate_bg[2], 255);
    EXPECT_EQ(art.plate_bg[0], 0);
    EXPECT_EQ(art.plate_fg[1], 255);
    EXPECT_EQ(b->number_plate_texture, 900u);
    destroy_bike(b);
    b = nullptr;
    ASSERT_EQ(art.deleted.size(), 1u);
    EXPECT_EQ(art.deleted[0], 900u);
}

TEST_F(ArtServices, AGroupFallsBackToItsDefaultTextureWhole)
{
    const bike_params* p = find_bike_params("yz125");
    allow_default_models(p);
    // The texture loads and its variant exists for the body, but not for
    // the plate: the whole rider group goes back to the default texture.
    art.textures.insert("@skins/rider_body-fox-blue.png");
    art.models.insert("@rider_body-fox.qm");
    // A bike texture that cannot be loaded at all.
    b = create_bike(test::physics(), "yz125", 1, "7", "@skins/rider_body-fox-blue.png", nullptr, "@nowhere.png", nullptr);
    const auto lines = messages();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "Warning: Can't load @rider_plate-fox.qm or @skins/rider_plate-fox.qm");
    EXPECT_EQ(lines[1], "Warning: Can't load @rider_body_fp-fox.qm or @skins/rider_body_fp-fox.qm");
    EXPECT_EQ(b->textures[texture_rider].colour, id_of(p->rider_texture));
    EXPECT_EQ(b->models[model_rider_body], id_of("@rider_body.qm"));
    EXPECT_EQ(b->models[model_rider_plate], id_of("@rider_plate.qm"));
    EXPECT_EQ(b->textures[texture_bike].colour, id_of("@yz125.png"));
    EXPECT_EQ(b->models[model_swingarm], id_of("@yz125_swingarm.qm"));
    // Every model of the bike group was loaded only with the default
    // texture.
    for (const auto& call : art.model_calls)
        if (call.first == "@yz125_frame.qm") {
            EXPECT_EQ(call.second, "@yz125.png");
        }
}

TEST_F(ArtServices, AModelMissingEverywhereIsReportedAndLeftEmpty)
{
    const bike_params* p = find_bike_params("yz125");
    allow_default_models(p);
    art.models.erase(p->head_model);
    b = create_bike(test::physics(), "yz125", 1, "7", nullptr, nullptr, nullptr, nullptr);
    const auto lines = messages();
    // No helmet texture was given, so the head is tried once, with the
    // default texture.
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "Warning: Can't load @rider_head.qm");
    EXPECT_EQ(b->models[model_head], 0u);
    EXPECT_NE(b->models[model_frame], 0u);
}

TEST(BikeHeadless, NoServicesNoMessagesAndNoShapesStillBuilds)
{
    // An empty data directory: the shapes are missing, and without a model
    // service nothing is loaded or reported; the bike still rides.
    test::data_dirs_fixture dirs;
    shape_cache_clear();
    test::physics();
    clear_messages();
    bike* b = create_bike(test::physics(), "kx125", 0, "", nullptr, nullptr, nullptr, nullptr);
    EXPECT_TRUE(messages().empty());
    EXPECT_EQ(b->shapes[body_frame], nullptr);
    EXPECT_EQ(b->models[model_frame], 0u);
    EXPECT_STREQ(b->number_text, "");
    physics_step(test::physics());
    destroy_bike(b);
    test::physics_reset();
    // A space can be made again after it was destroyed.
    physics_space space;
    physics_create(&space);
    EXPECT_NE(space.world, nullptr);
    EXPECT_NE(space.contacts, nullptr);
    EXPECT_EQ(physics_space_of(dBodyCreate(space.world)), &space);
    physics_destroy(&space);
    EXPECT_EQ(space.world, nullptr);
}

}  // namespace
