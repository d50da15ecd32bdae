// What the data generator puts on and around its tracks, read back from the
// build's data directory with the game's own readers: the timing gates
// (a lap ridden along the centre line passes every gate in order, the 160
// start spots stand on flat dirt), the objects with every file they name,
// the cameras over every gate, the HUD map, the points series; and the
// second track's arena.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "bike/bike.h"
#include "bike/shape.h"
#include "core/messages.h"
#include "core/services.h"
#include "files/datafs.h"
#include "files/memory.h"
#include "race/gates.h"
#include "race/series.h"
#include "render/picture.h"
#include "test_support.h"
#include "track/heightfield.h"
#include "track/lighting.h"
#include "track/objects.h"
#include "track/surface.h"
#include "track_content.h"
#include "track_design.h"
#include "track_ground.h"

namespace {

const double pi = 3.14159265358979323846;

// --- The data directory, with services that answer only for files that exist

std::vector<std::string> g_missing;  // textures and models asked for that are not there
unsigned g_handles = 0;

bool data_exists(const char* name)
{
    data_stream* s = open_data_file(name, "rb");
    if (!s)
        return false;
    close_data_file(s);
    return true;
}
unsigned existing_texture(const char* name, int)
{
    if (!data_exists(name)) {
        g_missing.push_back(name);
        return 0;
    }
    return ++g_handles;
}
unsigned existing_model(const char* name, unsigned)
{
    return existing_texture(name, 0);
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
        g_texture_service.load = existing_texture;
        g_model_service.load = existing_model;
        g_missing.clear();
    }
    ~data_env()
    {
        g_texture_service = saved_textures;
        g_model_service = saved_models;
        free_file_index();
    }
};

// Every message line added since clear_messages.
std::vector<std::string> message_lines()
{
    std::vector<std::string> out;
    for (const auto& line : g_messages.ring)
        if (line[0])
            out.push_back(line);
    return out;
}

// --- One generated track as the game reads it ---------------------------------------

struct loaded_track {
    const mkdata::track_design* d = nullptr;
    bool ground_ok = false, gates_ok = false, cameras_ok = false;
    heightfield hf;
    track_timing timing;
    track_objects objects;
    camera_set cameras;
    int gate_statues = 0;         // statues the timing gates made
    bool statues_ok = false, billboards_ok = false, flaggers_ok = false, decals_ok = false;
    std::vector<std::string> tiles;  // tile picture names in tileinfo order
    std::vector<std::string> missing, messages;
    ~loaded_track()
    {
        track_objects_free(&objects);
        timing_gates_clear(&timing);
        cameras_free(&cameras);
        decals_free(&hf);
        heightfield_free(&hf);
    }
};

const mkdata::track_design& design_of(const std::string& dir)
{
    for (const mkdata::generated_track& t : mkdata::generated_tracks())
        if (t.design->dir == dir)
            return *t.design;
    ADD_FAILURE() << "no generated track " << dir;
    return *mkdata::generated_tracks()[0].design;
}

loaded_track& track_named(const std::string& dir)
{
    // Loaded once for all the tests, freed at exit.
    static std::map<std::string, std::unique_ptr<loaded_track>> cache;
    auto found = cache.find(dir);
    if (found != cache.end())
        return *found->second;
    loaded_track* t = new loaded_track;
    cache[dir].reset(t);
    t->d = &design_of(dir);
    data_env env;
    clear_messages();
    const std::string at = "@" + dir;
    t->ground_ok = heightfield_load_ground(&t->hf, at.c_str(), 0);
    // Only what the track's own files name counts here (the ground's
    // shared pictures are the shared content's).
    g_missing.clear();
    clear_messages();
    object_options options;
    options.shaders = true;
    options.terrain_shader = true;
    gate_object_target target;
    target.objects = &t->objects;
    target.hf = &t->hf;
    target.options = &options;
    t->gates_ok = load_timing_gates(&t->timing, at.c_str(), &target, 0);
    t->gate_statues = t->objects.statues.count;
    t->flaggers_ok = flaggers_load(&t->objects, &t->hf, at.c_str(), t->timing.checkpoint_count);
    t->billboards_ok = billboards_load(&t->objects, &t->hf, at.c_str(), nullptr);
    t->statues_ok = statues_load(&t->objects, &t->hf, at.c_str(), &options, nullptr);
    t->decals_ok = decals_load(&t->hf, at.c_str(), &options);
    t->cameras_ok = cameras_load(&t->cameras, &t->hf, at.c_str(), 0);
    std::string info = test::read_file(test::build_data_dir() + "/" + dir + "/tileinfo");
    std::istringstream lines(info);
    std::string line;
    while (std::getline(lines, line))
        if (line.rfind("texture ", 0) == 0)
            t->tiles.push_back(line.substr(line.rfind('/') + 1));
    t->missing = g_missing;
    t->messages = message_lines();
    return *t;
}

// The ground a tile shows over its whole cell ("dirt", "grass-alt1" is
// "grass"), "" for a transition tile.
std::string plain_ground(const loaded_track& t, float x, float z)
{
    int s = heightfield_surface_at(&t.hf, x, z);
    if (s < 0 || s >= (int)t.tiles.size())
        return "";
    std::string pic = t.tiles[s].substr(0, t.tiles[s].find('.'));
    size_t dash = pic.find('-');
    if (dash == std::string::npos)
        return pic;
    return pic.compare(dash + 1, 3, "alt") == 0 ? pic.substr(0, dash) : "";
}

// Distance from (x, z) to the nearest ribbon edge of the loop or the chute
// (negative on a ribbon).
double ribbon_clearance(const mkdata::track_design& d, double x, double z)
{
    mkdata::design_place p = mkdata::design_nearest(d, x, z);
    double loop = p.station < 0 ? p.distance - mkdata::design_chute_width(d, p.s) / 2
                                : p.distance - d.stations[p.station].width / 2;
    // The chute as the rectangle it is, its rear edge included.
    const mkdata::track_station& s0 = d.stations[0];
    double along = (x - s0.x) * s0.tx + (z - s0.z) * s0.tz;
    double across = std::fabs(-(x - s0.x) * s0.tz + (z - s0.z) * s0.tx);
    double a = std::clamp(along, -d.chute.length, 0.0);
    double side = across - mkdata::design_chute_width(d, a) / 2, back = std::fabs(along - a);
    double chute = side > 0 ? std::hypot(side, back) : (back > 0 ? back : side);
    return std::min(loop, chute);
}

class generated_track_test : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(t.ground_ok) << "the default data is missing in " << test::build_data_dir()
                                 << " (build the kessrig_data target)";
    }
    loaded_track& t = track_named(GetParam());
    const mkdata::track_design& d = *t.d;
};

// --- Timing gates --------------------------------------------------------------------

TEST_P(generated_track_test, TimingGatesHoldAGateOfFortyAndALapOfCheckpoints)
{
    ASSERT_TRUE(t.gates_ok);
    ASSERT_TRUE(timing_active(&t.timing));
    EXPECT_EQ(t.timing.piece_count, 40);
    EXPECT_EQ(t.gate_statues, 40);
    for (int i = 0; i < t.gate_statues; i++)
        EXPECT_NE(t.objects.statues.items[i].shape, nullptr) << "gate piece " << i;
    const int m = t.timing.checkpoint_count;
    EXPECT_GE(m, (int)(d.length / mkdata::checkpoint_gap_max));
    EXPECT_LE(m, (int)(d.length / mkdata::checkpoint_gap_min) + 1);
    ASSERT_EQ(t.timing.first_count, m);
    ASSERT_EQ(t.timing.normal_count, m);
    EXPECT_EQ(t.timing.first_real, m);
    EXPECT_EQ(t.timing.normal_real, m);
    for (int k = 0; k < m; k++) {
        EXPECT_EQ(t.timing.first_lap[k], k);
        EXPECT_EQ(t.timing.normal_lap[k], k);
    }
    // Lap order along the line, 100 to 200 ft apart, the finish line last,
    // each circle as wide as the ribbon and no checkpoint on a jump.
    std::vector<double> s(m);
    for (int k = 0; k < m; k++) {
        const timing_gate& g = t.timing.checkpoints[k];
        mkdata::design_place p = mkdata::design_nearest(d, g.position.x, g.position.z);
        ASSERT_GE(p.station, 0) << "checkpoint " << k;
        ASSERT_LT(p.distance, 0.5) << "checkpoint " << k << " off the centre line";
        s[k] = p.s;
        mkdata::track_station st = mkdata::design_station_at(d, p.s);
        EXPECT_GE(g.radius, st.width / 2 + 2) << "checkpoint " << k;
        EXPECT_NEAR(g.direction.x * st.tx + g.direction.z * st.tz, 1.0, 1e-3) << "checkpoint " << k;
        for (const mkdata::track_feature& f : d.features) {
            if (f.kind == mkdata::feature_kind::tabletop || f.kind == mkdata::feature_kind::double_jump) {
                EXPECT_FALSE(p.s > f.s_begin && p.s < f.s_end) << "checkpoint " << k << " on a jump";
            }
        }
    }
    EXPECT_LT(std::min(s[m - 1], d.length - s[m - 1]), 0.5) << "the last checkpoint is the finish line";
    double prev = 0;
    for (int k = 0; k < m; k++) {
        double at = k == m - 1 ? d.length : s[k];
        EXPECT_GE(at - prev, mkdata::checkpoint_gap_min - 1) << "before checkpoint " << k;
        EXPECT_LE(at - prev, mkdata::checkpoint_gap_max + 1) << "before checkpoint " << k;
        prev = at;
    }
}

TEST_P(generated_track_test, TheCentreLineRidesThroughEveryGateInOrder)
{
    ASSERT_TRUE(timing_active(&t.timing));
    // From the start spot behind the middle piece, down the chute to the
    // start/finish point, then two laps along the centre line, with the
    // game's own crossing rule.
    bike* b = new bike();
    gate_race race;
    race.race_laps = 2;
    const start_gate_piece& piece = t.timing.pieces[20];
    double x = piece.position.x + std::sin(piece.angle) * 0.625, z = piece.position.z + std::cos(piece.angle) * 0.625;
    const mkdata::track_station& s0 = d.stations[0];
    double along = (x - s0.x) * s0.tx + (z - s0.z) * s0.tz;
    for (double a = along; a < 0; a += 0.5, race.tick++) {
        double cx, cz;
        mkdata::design_chute_point(d, a, &cx, &cz);
        check_gates_at(&t.timing, b, (float)cx, (float)cz, race);
    }
    EXPECT_EQ(b->gate_progress, 0) << "a gate caught the rider in the chute";
    for (double s = 0; s <= 2 * d.length + 5; s += 0.5, race.tick++) {
        mkdata::track_station st = mkdata::design_station_at(d, s);
        int before = b->gate_progress;
        check_gates_at(&t.timing, b, (float)st.x, (float)st.z, race);
        if (b->gate_progress != before && b->gate_progress > 1 && b->gate_progress <= t.timing.checkpoint_count) {
            // Each gate is taken near its own place on the line.
            const timing_gate& g = t.timing.checkpoints[race_gate_checkpoint(&t.timing, b->gate_progress - 1)];
            EXPECT_LT(std::hypot(st.x - g.position.x, st.z - g.position.z), 2.0) << "at s = " << s;
        }
    }
    EXPECT_EQ(b->gate_progress, 2 * t.timing.checkpoint_count);
    EXPECT_TRUE(b->finished);
    EXPECT_EQ(lap_count(&t.timing, b->gate_progress), 2);
    for (int k = 0; k < b->gate_times.count; k++)
        EXPECT_GE(b->gate_times.items[k], 0) << "race gate " << k << " skipped";
    mem_free(b->gate_times.items);
    b->gate_times = tick_list();
    delete b;
}

TEST_P(generated_track_test, EveryStartSpotStandsOnFlatDirt)
{
    ASSERT_EQ(t.timing.piece_count, 40);
    // 160 riders: rows of 40 behind the pieces, 10 ft apart.
    for (int n = 0; n < 160; n++) {
        const start_gate_piece& p = t.timing.pieces[n % 40];
        double r = n / 40 + 0.0625;
        double x = p.position.x + std::sin(p.angle) * r * 10, z = p.position.z + std::cos(p.angle) * r * 10;
        float h = heightfield_height_at(&t.hf, (float)x, (float)z);
        for (double dx : {-4.0, 0.0, 4.0})
            for (double dz : {-4.0, 0.0, 4.0}) {
                ASSERT_EQ(plain_ground(t, (float)(x + dx), (float)(z + dz)), "dirt") << "spot " << n;
                ASSERT_NEAR(heightfield_height_at(&t.hf, (float)(x + dx), (float)(z + dz)), h, 0.08) << "spot " << n;
            }
    }
    // The gate objects stand on the same flat dirt, 3 ft ahead.
    for (int i = 0; i < 40; i++) {
        const statue& s = t.objects.statues.items[i];
        EXPECT_EQ(plain_ground(t, s.x, s.z), "dirt");
        EXPECT_NEAR(s.y, heightfield_height_at(&t.hf, t.timing.pieces[i].position.x, t.timing.pieces[i].position.z),
                    0.08);
    }
}

// --- Objects ------------------------------------------------------------------------

TEST_P(generated_track_test, ObjectsLoadWithEveryFileTheyName)
{
    EXPECT_TRUE(t.statues_ok && t.billboards_ok && t.flaggers_ok && t.decals_ok);
    EXPECT_TRUE(t.missing.empty()) << t.missing.size() << " missing, the first " << t.missing[0];
    EXPECT_TRUE(t.messages.empty()) << t.messages[0];
    const statue_list& statues = t.objects.statues;
    EXPECT_GE(statues.count - t.gate_statues, 100);
    int dressing = 0, podiums = 0;
    for (int i = 0; i < statues.count; i++) {
        const statue& s = statues.items[i];
        EXPECT_NE(s.model, 0u) << s.model_name;
        EXPECT_NE(s.texture, 0u) << s.texture_name;
        EXPECT_EQ(s.facing_distance, 0.0f);
        if (!s.shape_name) {
            // Without a collision shape a statue only dresses the track,
            // and stands where no rider goes.
            dressing++;
            podiums += strstr(s.model_name, "podium") != nullptr;
            EXPECT_GT(ribbon_clearance(d, s.x, s.z), 10.0) << s.model_name << " at " << s.x << ", " << s.z;
            continue;
        }
        ASSERT_NE(s.shape, nullptr) << s.shape_name;
        EXPECT_GT(s.shape->radius, 0.5f);
    }
    EXPECT_EQ(podiums, 1);
    EXPECT_GE(dressing, 5);
    EXPECT_GE(t.objects.billboards.count, 40);
    for (int i = 0; i < t.objects.sprites.count; i++)
        EXPECT_NE(t.objects.sprites.items[i].texture, 0u) << "sprite " << i;
    const flagger_set& f = t.objects.flaggers;
    EXPECT_TRUE(f.has_start && f.has_finish);
    for (unsigned tex : f.start.textures)
        EXPECT_NE(tex, 0u);
    for (unsigned tex : f.finish.textures)
        EXPECT_NE(tex, 0u);
    EXPECT_GT(f.start.walk, 0.0f);
    ASSERT_NE(t.hf.decals, nullptr);
    EXPECT_EQ(t.hf.decals->count, 5);
    for (int i = 0; i < t.hf.decals->count; i++) {
        const decal& dc = t.hf.decals->items[i];
        EXPECT_NE(dc.texture, 0u) << dc.texture_name;
        EXPECT_NE(dc.normal_texture, 0u) << dc.texture_name;
        EXPECT_NE(dc.spec_texture, 0u) << dc.texture_name;
    }
}

TEST_P(generated_track_test, ObjectsStandOffTheRibbonAndFlaggersWatchTheirJumps)
{
    for (int i = t.gate_statues; i < t.objects.statues.count; i++) {
        const statue& s = t.objects.statues.items[i];
        ASSERT_GT(ribbon_clearance(d, s.x, s.z), 1.0) << "statue " << i << " at (" << s.x << ", " << s.z << ")";
        // Rows of blocks and bales, not heaps: none sits in another.
        for (int j = t.gate_statues; j < i; j++) {
            const statue& o = t.objects.statues.items[j];
            ASSERT_GT(std::hypot(s.x - o.x, s.z - o.z), 3.5) << "statues " << j << " and " << i;
        }
    }
    for (int i = 0; i < t.objects.billboards.count; i++) {
        const sprite& sp = t.objects.sprites.items[t.objects.billboards.items[i].sprite_index];
        ASSERT_GT(ribbon_clearance(d, sp.x, sp.z), 2.0) << "billboard " << i << " at (" << sp.x << ", " << sp.z << ")";
        ASSERT_GE(sp.x, 0.0f);
        ASSERT_LE(sp.x, t.hf.extent);
        ASSERT_GE(sp.z, 0.0f);
        ASSERT_LE(sp.z, t.hf.extent);
    }
    // A course flagger beside each jump, watching the checkpoint that
    // comes last before the jump.
    const flagger_set& f = t.objects.flaggers;
    std::vector<const mkdata::track_feature*> jumps;
    for (const mkdata::track_feature& ft : d.features)
        if (ft.kind == mkdata::feature_kind::tabletop || ft.kind == mkdata::feature_kind::double_jump)
            jumps.push_back(&ft);
    ASSERT_EQ(f.course_count, (int)jumps.size());
    for (int i = 0; i < f.course_count; i++) {
        const course_flagger& c = f.course[i];
        const sprite& sp = t.objects.sprites.items[c.sprite_index];
        mkdata::track_station lip = mkdata::design_station_at(d, jumps[i]->s_lip);
        EXPECT_LT(std::hypot(sp.x - lip.x, sp.z - lip.z), lip.width / 2 + 10) << "flagger " << i;
        EXPECT_GT(ribbon_clearance(d, sp.x, sp.z), 3.0) << "flagger " << i;
        ASSERT_GE(c.gates[0], 0);
        const timing_gate& g = t.timing.checkpoints[c.gates[0]];
        mkdata::design_place p = mkdata::design_nearest(d, g.position.x, g.position.z);
        double gap = jumps[i]->s_begin - (c.gates[0] == t.timing.checkpoint_count - 1 ? 0 : p.s);
        EXPECT_GT(gap, 0) << "flagger " << i;
        EXPECT_LT(gap, mkdata::checkpoint_gap_max + 1) << "flagger " << i;
        EXPECT_EQ(c.gates[1], -1);
    }
}

TEST_P(generated_track_test, CamerasCoverEveryCheckpointFromBesideTheTrack)
{
    ASSERT_TRUE(t.cameras_ok);
    ASSERT_GT(t.cameras.count, 0);
    for (int k = 0; k < t.timing.checkpoint_count; k++) {
        int c = gate_camera(&t.cameras, k);
        ASSERT_GE(c, 0) << "checkpoint " << k << " has no camera";
        const track_camera& cam = t.cameras.items[c];
        const timing_gate& g = t.timing.checkpoints[k];
        EXPECT_LT(std::hypot(cam.position.x - g.position.x, cam.position.z - g.position.z), 320.0) << "checkpoint " << k;
        // The stretch leading to the checkpoint is what the camera shows.
        const timing_gate& before = t.timing.checkpoints[(k + t.timing.checkpoint_count - 1) % t.timing.checkpoint_count];
        EXPECT_LT(std::hypot(cam.position.x - before.position.x, cam.position.z - before.position.z), 320.0);
    }
    for (int c = 0; c < t.cameras.count; c++) {
        const track_camera& cam = t.cameras.items[c];
        EXPECT_GT(ribbon_clearance(d, cam.position.x, cam.position.z), 15.0) << "camera " << c;
        EXPECT_GT(cam.position.y - heightfield_height_at(&t.hf, cam.position.x, cam.position.z), 10.0f);
        EXPECT_GT(cam.autofovsize, 0.0f);
    }
}

TEST_P(generated_track_test, MapShowsTheRibbonOverTheWholeTerrain)
{
    data_env env;
    picture map;
    ASSERT_TRUE(png_decode(("@" + d.dir + "/map.png").c_str(), &map));
    ASSERT_EQ(map.channels, 4);
    ASSERT_EQ(map.width, map.height);
    const double px = t.hf.extent / map.width;
    auto pixel = [&](double x, double z) {
        int c = std::clamp((int)(x / px), 0, map.width - 1), r = std::clamp((int)(z / px), 0, map.height - 1);
        return &map.pixels[((size_t)r * map.width + c) * 4];
    };
    for (size_t k = 0; k < d.stations.size(); k += 10) {
        const unsigned char* p = pixel(d.stations[k].x, d.stations[k].z);
        ASSERT_GE(p[3], 250) << "s = " << d.stations[k].s;
        ASSERT_GE(p[0], 160) << "s = " << d.stations[k].s;
    }
    int open = 0;
    for (double z = px / 2; z < t.hf.extent; z += 37 * px)
        for (double x = px / 2; x < t.hf.extent; x += 37 * px)
            if (ribbon_clearance(d, x, z) > 6 * px) {
                ASSERT_EQ(pixel(x, z)[3], 0) << "(" << x << ", " << z << ")";
                open++;
            }
    EXPECT_GT(open, 20);
    picture_free(&map);
}

INSTANTIATE_TEST_SUITE_P(default_tracks, generated_track_test, ::testing::Values("rabbithill", "stadium"));

// --- Shared content and the second track --------------------------------------------

TEST(generated_data, SeriesRunsOverBothTracks)
{
    data_env env;
    std::vector<const char*> dirs;
    for (const mkdata::generated_track& g : mkdata::generated_tracks())
        dirs.push_back(g.design->dir.c_str());
    series_set set;
    ASSERT_EQ(load_series(&set, build_file_index(), dirs.data(), (int)dirs.size(), 0), 1);
    const points_series& s = set.items[0];
    EXPECT_STREQ(s.name, "Kessrig Cup");
    EXPECT_EQ(s.robot_count, 14);
    EXPECT_EQ(s.skill, series_skill_amateur);
    ASSERT_EQ(s.event_count, 5);
    EXPECT_EQ(series_round_count(&s), 3);
    EXPECT_EQ(s.completed, 0);
    bool used[2] = {false, false};
    for (int e = 0; e < s.event_count; e++) {
        ASSERT_GE(s.events[e].track, 0);
        ASSERT_LT(s.events[e].track, 2);
        used[s.events[e].track] = true;
        EXPECT_EQ(s.events[e].moto_points[0], 25);
        EXPECT_EQ(s.events[e].moto_points[19], 1);
        EXPECT_EQ(s.events[e].moto_points[20], 0);
        EXPECT_TRUE(s.events[e].minutes > 0 || s.events[e].laps > 0);
    }
    EXPECT_TRUE(used[0] && used[1]);
    series_start start;
    ASSERT_TRUE(start_series_event(&s, &start));
    EXPECT_EQ(start.lineup[0], 1000 + s.robot_numbers[0]);
    EXPECT_EQ(start.lineup[14], 1);
    series_set_free(&set);
}

TEST(generated_data, StadiumIsATighterTrackInsideItsArena)
{
    const mkdata::track_design& rh = design_of("rabbithill");
    loaded_track& t = track_named("stadium");
    ASSERT_TRUE(t.ground_ok);
    const mkdata::track_design& d = *t.d;
    EXPECT_GE(d.length, 3300);
    EXPECT_LT(d.length, rh.length * 0.85);
    auto min_radius = [](const mkdata::track_design& x) {
        double k = 0;
        for (const mkdata::track_station& st : x.stations)
            k = std::max(k, std::fabs(st.curvature));
        return 1 / k;
    };
    EXPECT_GE(min_radius(d), 30);
    EXPECT_LT(min_radius(d), min_radius(rh));
    auto jumps = [](const mkdata::track_design& x) {
        int n = 0;
        for (const mkdata::track_feature& f : x.features)
            n += f.kind == mkdata::feature_kind::tabletop || f.kind == mkdata::feature_kind::double_jump;
        return n;
    };
    EXPECT_GT(jumps(d), jumps(rh) + 4);
    // The whole circuit and its chute lie on the arena floor.
    for (const mkdata::track_station& st : d.stations)
        ASSERT_GT(mkdata::design_arena_depth(d, st.x, st.z), st.width / 2 + d.shoulder) << "s = " << st.s;
    // Off the ribbon the floor is loam and level; beyond the banks, grass.
    int floor = 0, grass = 0;
    for (float z = 4; z < t.hf.extent; z += 23)
        for (float x = 4; x < t.hf.extent; x += 23) {
            double depth = mkdata::design_arena_depth(d, x, z), clear = ribbon_clearance(d, x, z);
            if (depth > 8 && clear > d.shoulder + 4) {
                ASSERT_EQ(plain_ground(t, x, z), "loam") << "(" << x << ", " << z << ")";
                ASSERT_NEAR(heightfield_height_at(&t.hf, x, z), d.land.base, 0.05) << "(" << x << ", " << z << ")";
                floor++;
            } else if (depth < -d.land.arena_rise_width - 30 && clear > 60) {
                std::string g = plain_ground(t, x, z);
                EXPECT_TRUE(g == "grass" || g == "sand" || g.empty()) << g;
                grass += g == "grass";
            }
        }
    EXPECT_GT(floor, 300);
    EXPECT_GT(grass, 100);
}

// The content is a function of the design and the ground alone: written
// twice it is the same, byte for byte, and the same as the build's data.
TEST(generated_data, ContentIsDeterministic)
{
    loaded_track& t = track_named("stadium");
    ASSERT_TRUE(t.ground_ok);
    heightfield hf;
    ASSERT_TRUE(heightfield_create(&hf, t.hf.grid_log2, t.hf.spacing, t.hf.heights));
    test::temp_dir a, b;
    mkdata::output out_a, out_b;
    out_a.dir = a.path + "/";
    out_b.dir = b.path + "/";
    ASSERT_TRUE(mkdata::write_track_content(out_a, *t.d, &hf));
    ASSERT_TRUE(mkdata::write_track_content(out_b, *t.d, &hf));
    heightfield_free(&hf);
    EXPECT_EQ(out_a.files_written, out_b.files_written);
    EXPECT_GT(out_a.files_written, 40);
    for (const char* name : {"timing_gates", "statues", "billboards", "flaggers", "decals", "cameras", "map.png",
                             "tuffblock.qm", "tuffblock.shp", "tree-pine.png", "decal-finish_tnorm.png",
                             "decal-ruts_tnorm.png", "flagger-start-walk.seq", "podium.qm", "tuffblock_norm.png"}) {
        std::string rel = std::string("/stadium/") + name;
        std::string first = test::read_file(a.path + rel);
        EXPECT_FALSE(first.empty()) << name;
        EXPECT_EQ(first, test::read_file(b.path + rel)) << name;
        EXPECT_EQ(first, test::read_file(test::build_data_dir() + rel)) << name;
    }
}

}  // namespace
