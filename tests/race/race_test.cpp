// Race rules: the world reset (lineup, robots, start tick, start spots,
// placement, time trial), the starting gate, the false start online, the
// race length of a timed race, the results with the cutting penalty, the
// points series and who is shown in a multiplayer race.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "bike/bike.h"
#include "bike/controls.h"
#include "bike/physics.h"
#include "core/game.h"
#include "core/messages.h"
#include "files/datafs.h"
#include "race/demo.h"
#include "race/race.h"
#include "race/world.h"
#include "race/series.h"
#include "test_support.h"
#include "track/track.h"

namespace {

// Four pieces at 0.5 rad and a lap of F = 3, N = 4 (lap 1 ends at race gate
// 2, lap 2 at race gate 6).
const char* const pad_timing =
    "startinggate:\n"
    "[100 0 200] 0.5\n[103.510330 0 198.082229] 0.5\n[107.020660 0 196.164459] 0.5\n[110.530990 0 194.246688] 0.5\n"
    "checkpoints:\n10 [60 0 120] [0 0 -1]\n10 [120 0 40] [1 0 0]\n10 [200 0 120] [0 0 1]\n10 [120 0 240] [-1 0 0]\n"
    "firstlap:\n0 1 2\nnormallap:\n3 0 1 2\n";

std::string samples(int grid_log2, uint16_t value)
{
    const int n = (2 << grid_log2) + 1;
    char header[128];
    snprintf(header, sizeof header, "%d %f %f %f\n:", grid_log2, 2.0, 0.0, 64.0);
    std::string out = header;
    for (int k = 0; k < n * n; k++) {
        out += (char)(value & 0xff);
        out += (char)(value >> 8);
    }
    return out;
}

std::string picture(int n)
{
    return "P6\n" + std::to_string(n) + " " + std::to_string(n) + "\n255\n" + std::string((size_t)(3 * n * n), 'x');
}

class RaceTest : public ::testing::Test {
protected:
    test::data_dirs_fixture dirs;
    series_set series;  // the points series the game would hand the world

    void SetUp() override
    {
        // The bikes and the gate pieces take their shapes from the game's
        // own archive.
        ASSERT_EQ(symlink((test::build_data_dir() + "/zzzz.saf").c_str(), (dirs.game + "/zzzz.saf").c_str()), 0);
        write_track("pad", pad_timing, "");
        write_track("open", nullptr, "[128 0 128] 0 null null @block.shp\n");
        test::write_file(dirs.game + "/block.shp", "1\n0 1.5 0 2.0 0.6 10000 500\n");
        free_file_index();
        clear_messages();
        ASSERT_EQ(track_list_build(0), 2);
        fresh_state();
    }

    void TearDown() override
    {
        world_destroy(tw);
        tw = nullptr;
        series_set_free(&series);
        track_list_free();
        free_file_index();
        clear_messages();
    }

    void fresh_state()
    {
        world_destroy(tw);
        tw = world_create();
        tw->series = &series;
        snprintf(tw->race.settings.track, sizeof tw->race.settings.track, "pad");
    }

    void write_track(const std::string& name, const char* timing, const std::string& statues)
    {
        const std::string dir = dirs.game + "/" + name;
        test::write_file(dir + "/terrain.hf", samples(6, 1000));
        test::write_file(dir + "/shadingx2.ppm", picture(129));
        test::write_file(dir + "/desc", name + "\n");
        test::write_file(dir + "/tileinfo", "texture @dirt.png\nfriction 1.1 2\naddtile\n");
        test::write_file(dir + "/tilemap", std::string(64 * 64, '\0'));
        if (timing)
            test::write_file(dir + "/timing_gates", timing);
        if (!statues.empty())
            test::write_file(dir + "/statues", statues);
    }

    static std::vector<int> lineup(std::initializer_list<std::pair<int, int>> entries)
    {
        std::vector<int> out(RACE_SLOTS, lineup_empty);
        for (const auto& e : entries)
            out[(size_t)e.first] = e.second;
        return out;
    }

    static bike* at(int slot) { return tw->race.slots[slot].b; }

    // Gate times of a rider: race gate k at ticks[k] (-1 skipped), the
    // progress following them.
    static void set_gates(bike* b, const std::vector<int>& ticks)
    {
        set_gate_progress(b, 0);
        for (size_t k = 0; k < ticks.size(); k++)
            set_gate_time(b, (int)k, ticks[k]);
        set_gate_progress(b, (int)ticks.size());
    }

    static std::vector<std::string> message_lines()
    {
        std::vector<std::string> out;
        for (int i = 0; i < g_messages.next; i++)
            out.push_back(g_messages.ring[i]);
        return out;
    }
};

// ---- the lineup ---------------------------------------------------------------------

TEST_F(RaceTest, AnEmptyLineupPutsOneWatchedRobotInSlotZero)
{
    const std::vector<int> empty(RACE_SLOTS, lineup_empty);
    ASSERT_TRUE(world_reset(tw, empty.data(), nullptr, false, 0, 3, 0));
    EXPECT_TRUE(tw->track.loaded);
    EXPECT_EQ(tw->race.slots[0].lineup, lineup_robot);
    EXPECT_EQ(tw->race.slots[0].driver, slot_driver_robot);
    ASSERT_NE(at(0), nullptr);
    EXPECT_STREQ(tw->race.slots[0].rider.name, "Roborider");
    for (int slot = 1; slot < RACE_SLOTS; slot++)
        EXPECT_EQ(at(slot), nullptr) << slot;
    EXPECT_EQ(tw->race.watched_slot, 0);
    EXPECT_EQ(tw->race.ranking_count, 1);
    EXPECT_EQ(tw->race.player_slot, -1);
    EXPECT_EQ(tw->race.race_laps, 3);
    EXPECT_EQ(tw->race.half_laps, 2);
}

TEST_F(RaceTest, OnlyTheFirstPlayerEntryCountsAndOldModelNamesAreReplaced)
{
    snprintf(tw->race.player.model, sizeof tw->race.player.model, "kx250f");
    snprintf(tw->race.player.number, sizeof tw->race.player.number, "7");
    const std::vector<int> l = lineup({{3, lineup_player}, {7, lineup_player}, {9, lineup_robot}});
    ASSERT_TRUE(world_reset(tw, l.data(), nullptr, false, 0, 1, 0));
    EXPECT_EQ(tw->race.player_slot, 3);
    EXPECT_EQ(tw->race.watched_slot, 3);
    EXPECT_EQ(tw->race.slots[3].driver, slot_driver_local);
    ASSERT_NE(at(3), nullptr);
    EXPECT_STREQ(bike_model_name(at(3)), "kx250f(2008)");
    EXPECT_STREQ(tw->race.slots[3].rider.model, "kx250f(2008)");
    EXPECT_STREQ(at(3)->number_text, "7");
    EXPECT_EQ(tw->race.slots[7].lineup, lineup_empty);
    EXPECT_EQ(at(7), nullptr);
    EXPECT_NE(at(9), nullptr);
    const vec3 p = bike_frame_position(at(3));
    EXPECT_EQ(tw->race.start_position.x, p.x);
    EXPECT_EQ(tw->race.start_position.z, p.z);
}

// The reset seeds the world's generator with the tick it starts from; the
// robots' order and the start tick follow from it.
TEST_F(RaceTest, TheTickSeedsTheRobotOrderAndAStartBetween13And15Seconds)
{
    const robot_roster_entry* roster = robot_roster();
    std::vector<int> starts;
    for (uint32_t seed : {0u, 1u, 4242u, 2147483647u}) {
        std::mt19937 rng(seed);
        std::vector<int> order(ROBOT_ROSTER_SIZE);
        std::iota(order.begin(), order.end(), 0);
        for (int j = ROBOT_ROSTER_SIZE - 1; j >= 1; j--)
            std::swap(order[(size_t)j], order[(size_t)((rng() / 65536u) % (uint32_t)j)]);
        const double u = (double)(rng() & 0x7fffffffu) / 2147483648.0;
        const int expected_start = (int)((13.0 + 2.0 * u) * 128.0);

        tw->race.tick = (int)seed;
        const std::vector<int> l = lineup({{0, lineup_robot}, {1, lineup_robot}, {2, lineup_robot_125},
                                           {3, lineup_robot_number + 42}, {4, lineup_robot_number + 7},
                                           {5, 77}});
        ASSERT_TRUE(world_reset(tw, l.data(), nullptr, false, 0, 1, 0));
        EXPECT_EQ(tw->race.tick, 0);
        EXPECT_EQ(tw->race.start_tick, expected_start) << seed;
        EXPECT_GE(tw->race.start_tick, 13 * 128);
        EXPECT_LT(tw->race.start_tick, 15 * 128);
        starts.push_back(tw->race.start_tick);
        EXPECT_EQ(std::vector<int>(tw->race.robot_order, tw->race.robot_order + ROBOT_ROSTER_SIZE), order);

        // Random robots in shuffled order, a 125 from the rest, the numbers asked for.
        EXPECT_EQ(std::string(at(0)->number_text), std::to_string(roster[order[0]].number));
        EXPECT_EQ(std::string(at(1)->number_text), std::to_string(roster[order[1]].number));
        size_t k = 2;
        while (std::string(roster[order[k]].model).find("125") == std::string::npos)
            k++;
        EXPECT_EQ(std::string(at(2)->number_text), std::to_string(roster[order[k]].number));
        EXPECT_NE(std::string(bike_model_name(at(2))).find("125"), std::string::npos);
        EXPECT_STREQ(at(3)->number_text, "42");
        // A number outside the roster and an unknown code ride the fallback 125.
        EXPECT_STREQ(at(4)->number_text, "7");
        EXPECT_STREQ(bike_model_name(at(4)), "rm125");
        EXPECT_STREQ(bike_model_name(at(5)), "rm125");
        for (int slot = 0; slot < 6; slot++)
            EXPECT_EQ(tw->race.slots[slot].driver, slot_driver_robot);
    }
    EXPECT_GT(std::set<int>(starts.begin(), starts.end()).size(), 1u);
}

TEST_F(RaceTest, TheRosterHoldsNumbers20To99OnTwoAndFourStrokes)
{
    const robot_roster_entry* roster = robot_roster();
    int two_strokes = 0;
    for (int i = 0; i < ROBOT_ROSTER_SIZE; i++) {
        EXPECT_EQ(roster[i].number, 20 + i);
        const std::string model = roster[i].model;
        if (model.find("125") != std::string::npos)
            two_strokes++;
        else
            EXPECT_NE(model.find("250"), std::string::npos) << model;
    }
    EXPECT_EQ(two_strokes, 21);  // 20-39, and 40 rides one
    EXPECT_STREQ(roster[40].model, "yz250f_se(2006)");
    EXPECT_STREQ(roster[79].personality, "merlin");
}

// ---- start spots and placement --------------------------------------------------------

TEST_F(RaceTest, RidersStandOnTheGatePiecesInRowsOfTenFeet)
{
    const std::vector<int> l = lineup({{0, lineup_robot}, {1, lineup_robot}, {3, lineup_robot}, {4, lineup_robot},
                                       {9, lineup_robot}});
    ASSERT_TRUE(world_reset(tw, l.data(), nullptr, false, 0, 1, 0));
    const track_timing& t = tw->track.timing_gates;
    ASSERT_EQ(t.piece_count, 4);
    const float a = t.pieces[0].angle;
    EXPECT_FLOAT_EQ(a, 0.5f);

    // Slot 4 is piece 0 one row back, slot 9 piece 1 two rows back.
    const vec3 p0 = bike_frame_position(at(0));
    const vec3 p4 = bike_frame_position(at(4));
    EXPECT_NEAR(p4.x - p0.x, 10.0f * sinf(a), 1e-3f);
    EXPECT_NEAR(p4.z - p0.z, 10.0f * cosf(a), 1e-3f);
    const vec3 p1 = bike_frame_position(at(1));
    const vec3 p9 = bike_frame_position(at(9));
    EXPECT_NEAR(p9.x - p1.x, 20.0f * sinf(a), 1e-3f);
    EXPECT_NEAR(p9.z - p1.z, 20.0f * cosf(a), 1e-3f);
    const vec3 p3 = bike_frame_position(at(3));
    EXPECT_NEAR(p3.x - p0.x, t.pieces[3].position.x - t.pieces[0].position.x, 1e-3f);
    EXPECT_NEAR(p3.z - p0.z, t.pieces[3].position.z - t.pieces[0].position.z, 1e-3f);

    // Row 0 stands 0.625 ft behind the piece, facing the piece's way.
    float x, z, angle;
    race_start_spot(tw, 0, &x, &z, &angle);
    EXPECT_NEAR(x, 100.0f + 0.625f * sinf(a), 1e-4f);
    EXPECT_NEAR(z, 200.0f + 0.625f * cosf(a), 1e-4f);
    EXPECT_EQ(angle, a);
    bike* probe = create_bike(&tw->physics, bike_model_name(at(0)), 0, "1", nullptr, nullptr, nullptr, nullptr);
    place_bike_at_start(probe, &tw->track.heightfield, x, z, a, 0.0f);
    const vec3 expected = bike_frame_position(probe);
    destroy_bike(probe);
    EXPECT_NEAR(p0.x, expected.x, 1e-3f);
    EXPECT_NEAR(p0.z, expected.z, 1e-3f);
    // Standing still, not in the ground.
    EXPECT_GT(p0.y, 1.0f);
}

TEST_F(RaceTest, WithoutGatePiecesRidersStandSideBySideAndRiseOverObjects)
{
    snprintf(tw->race.settings.track, sizeof tw->race.settings.track, "open");
    const std::vector<int> l = lineup({{0, lineup_robot}, {4, lineup_robot}});
    ASSERT_TRUE(world_reset(tw, l.data(), nullptr, false, 0, 1, 0));
    EXPECT_EQ(tw->track.timing_gates.piece_count, 0);
    float x, z, angle;
    race_start_spot(tw, 3, &x, &z, &angle);
    EXPECT_EQ(x, 128.0f + 15.0f);
    EXPECT_EQ(z, 128.0f);
    EXPECT_EQ(angle, 0.0f);

    // Slot 0 stands where a 2 ft boulder lies: it is lifted clear of it;
    // slot 4, 20 ft away, stands on the ground.
    const vec3 p0 = bike_frame_position(at(0));
    const vec3 p4 = bike_frame_position(at(4));
    EXPECT_NEAR(p4.x - p0.x, 20.0f, 1e-3f);
    EXPECT_GT(p0.y, p4.y + 1.0f);
}

TEST_F(RaceTest, AMissingTrackFailsTheResetWithNoBikesLeft)
{
    const std::vector<int> l = lineup({{0, lineup_robot}});
    ASSERT_TRUE(world_reset(tw, l.data(), nullptr, false, 0, 1, 0));
    ASSERT_NE(at(0), nullptr);
    snprintf(tw->race.settings.track, sizeof tw->race.settings.track, "nowhere");
    EXPECT_FALSE(world_reset(tw, l.data(), nullptr, false, 0, 1, 0));
    EXPECT_FALSE(tw->track.loaded);
    EXPECT_EQ(at(0), nullptr);
    world_tick(tw);  // nothing to do, nothing to break
    EXPECT_EQ(tw->race.tick, 0);
}

// ---- the time trial and the gate ------------------------------------------------------

TEST_F(RaceTest, TheTimeTrialStartsAt300SecondsWithTheGateDown)
{
    ASSERT_TRUE(world_reset(tw, nullptr, nullptr, false, 0, 1000, 0));
    EXPECT_TRUE(tw->race.time_trial);
    EXPECT_EQ(tw->race.tick, 38400);
    EXPECT_EQ(tw->race.player_slot, 0);
    EXPECT_EQ(tw->race.slots[0].driver, slot_driver_local);
    int bikes = 0;
    for (int slot = 0; slot < RACE_SLOTS; slot++)
        bikes += at(slot) != nullptr;
    EXPECT_EQ(bikes, 1);
    world_tick(tw);
    const track_timing& t = tw->track.timing_gates;
    for (int i = 0; i < t.piece_count; i++) {
        EXPECT_EQ(t.pieces[i].drop, 0.0f) << i;
        // Down means the piece lies as modelled.
        const statue& st = tw->track.objects.statues.items[t.pieces[i].object];
        for (int r = 0; r < 3; r++)
            for (int c = 0; c < 3; c++)
                EXPECT_FLOAT_EQ(st.rotation[r][c], tw->race.piece_base[i][r][c]);
    }
}

TEST_F(RaceTest, TheGateDropsAfterTheStartUnlessABikeRestsOnIt)
{
    const std::vector<int> l = lineup({{0, lineup_robot}});
    ASSERT_TRUE(world_reset(tw, l.data(), nullptr, false, 0, 1, 0));
    track_timing& t = tw->track.timing_gates;
    statue_list& statues = tw->track.objects.statues;
    auto raised = [&](int i) {
        // The piece's up axis leans toward its forward axis by drop x 0.589.
        const statue& st = statues.items[t.pieces[i].object];
        float dot = 0;
        for (int k = 0; k < 3; k++)
            dot += st.rotation[1][k] * tw->race.piece_base[i][2][k];
        return asinf(std::max(-1.0f, std::min(1.0f, dot)));
    };
    for (int i = 0; i < t.piece_count; i++) {
        EXPECT_EQ(t.pieces[i].drop, 1.0f);
        EXPECT_NEAR(raised(i), 0.58904862f, 1e-5f);
    }

    const int start = tw->race.start_tick;
    tw->race.tick = start - 1;
    t.pieces[2].drop = 0.5f;  // whatever happened before the start, it stands up
    start_gate_drop(tw);
    tw->race.tick = start;
    start_gate_drop(tw);
    for (int i = 0; i < t.piece_count; i++)
        EXPECT_EQ(t.pieces[i].drop, 1.0f) << i;

    // Piece 1 has a front wheel on it for the first 20 ticks after the start.
    float last = 1.0f;
    for (int k = 1; k <= 40; k++) {
        tw->race.tick = start + k;
        if (k <= 20)
            statues.items[t.pieces[1].object].touch_tick = tw->race.tick;
        start_gate_drop(tw);
        EXPECT_LE(t.pieces[0].drop, last);
        last = t.pieces[0].drop;
        if (k <= 20) {
            EXPECT_EQ(t.pieces[1].drop, 1.0f);
        }
    }
    // Falling at 32 ft/s^2 in drop units, at most 8 per second: down within
    // a quarter of a second (32 ticks), held pieces later.
    EXPECT_EQ(t.pieces[0].drop, 0.0f);
    EXPECT_EQ(t.pieces[3].drop, 0.0f);
    EXPECT_GT(t.pieces[1].drop, 0.0f);
    EXPECT_NEAR(raised(0), 0.0f, 1e-6f);
    for (int k = 41; k <= 80; k++) {
        tw->race.tick = start + k;
        start_gate_drop(tw);
    }
    EXPECT_EQ(t.pieces[1].drop, 0.0f);
    // More than 10 s after the start nothing changes any more.
    t.pieces[1].drop = 0.25f;
    tw->race.tick = start + 1281;
    start_gate_drop(tw);
    EXPECT_EQ(t.pieces[1].drop, 0.25f);
}

// Offline there is no false-start rule: only the gate piece, a solid object
// while it is up, stands in a rider's way.
TEST_F(RaceTest, OfflineMovingOffEarlyIsNoOffenceButTheRaisedGateIsInTheWay)
{
    const std::vector<int> l = lineup({{1, lineup_player}, {2, lineup_robot}});
    ASSERT_TRUE(world_reset(tw, l.data(), nullptr, false, 0, 1, 0));
    bike* b = at(1);
    const statue& piece = tw->track.objects.statues.items[tw->track.timing_gates.pieces[1].object];
    control_input go;
    go.throttle = 1;
    go.clutch = 1;
    int first_touch = -1;
    while (tw->race.tick < 256) {
        apply_control_input(b, &go);
        world_tick(tw);
        if (first_touch < 0 && piece.touch_tick >= 0)
            first_touch = piece.touch_tick;
        EXPECT_EQ(b->throttle, 1.0f);
    }
    EXPECT_GE(first_touch, 0);
    EXPECT_EQ(tw->race.false_start_penalty, 0);
    const std::vector<std::string> lines = message_lines();
    EXPECT_EQ(std::find(lines.begin(), lines.end(), "15 second false start penalty"), lines.end());
}

TEST_F(RaceTest, MovingOffEarlyOnlineCostsFifteenSecondsOnTheBrakes)
{
    tw->race.net.connected = true;
    tw->race.net.race_slot = 0;
    tw->race.net.start_tick = 2000;
    snprintf(tw->race.net.track, sizeof tw->race.net.track, "pad");
    tw->race.settings.erode_amount = 512;
    const std::vector<int> l = lineup({{0, lineup_player}});
    ASSERT_TRUE(world_reset(tw, l.data(), nullptr, false, 0, 2, 0));
    EXPECT_EQ(tw->race.start_tick, 2000);
    EXPECT_EQ(tw->race.erosion_amount, -1);  // until the server says
    EXPECT_EQ(tw->track.heightfield.frozen, 1);
    bike* b = at(0);
    control_input go;
    go.throttle = 1;
    go.clutch = 1;
    for (int k = 0; k < 10; k++) {
        bike_set_throttle(b, 0);
        world_tick(tw);
        EXPECT_EQ(b->sit_dab, 1.0f);  // seated until the gate drops
    }
    EXPECT_EQ(tw->race.false_start_penalty, 0);

    // Three feet from where it stood: the penalty runs to 15 s after the start.
    translate_bike(b, -3.1f * sinf(0.5f), 0.0f, -3.1f * cosf(0.5f));
    const int moved_at = tw->race.tick;
    apply_control_input(b, &go);
    world_tick(tw);
    const std::vector<std::string> lines = message_lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "15 second false start penalty"), lines.end());
    EXPECT_EQ(tw->race.false_start_penalty, 2000 + 1920 - moved_at - 1);
    for (int k = 0; k < 5; k++) {
        apply_control_input(b, &go);
        world_tick(tw);
        EXPECT_EQ(b->throttle, 0.0f);
        EXPECT_EQ(b->clutch, 0.0f);
        EXPECT_EQ(b->front_brake, 1.0f);
        EXPECT_EQ(b->rear_brake, 1.0f);
    }
    EXPECT_EQ(tw->race.false_start_penalty, 2000 + 1920 - moved_at - 6);
    // Only one message, and the rider is free 15 s after the drop.
    tw->race.tick = 2000 + 1920 - 2;
    tw->race.false_start_penalty = 2;
    for (int k = 0; k < 3; k++) {
        apply_control_input(b, &go);
        world_tick(tw);
    }
    EXPECT_EQ(tw->race.false_start_penalty, 0);
    EXPECT_EQ(b->throttle, 1.0f);
    const std::vector<std::string> after = message_lines();
    EXPECT_EQ(std::count(after.begin(), after.end(), "15 second false start penalty"), 1);
}

// ---- race length ----------------------------------------------------------------------

// Gate times that end lap k at lap_ends[k - 1], the gates of a lap spread
// evenly over it.
std::vector<int> laps_ending(int start, const std::vector<int>& lap_ends)
{
    std::vector<int> ticks;
    int from = start;
    for (size_t lap = 0; lap < lap_ends.size(); lap++) {
        const int gates = lap == 0 ? 3 : 4;
        for (int g = 1; g <= gates; g++)
            ticks.push_back(from + (lap_ends[lap] - from) * g / gates);
        from = lap_ends[lap];
    }
    return ticks;
}

TEST_F(RaceTest, TenMinutesPlusTwoLapsEndsTwoLapsAfterTheLapInWhichTimeRanOut)
{
    const std::vector<int> l = lineup({{0, lineup_robot}, {1, lineup_robot}});
    ASSERT_TRUE(world_reset(tw, l.data(), nullptr, false, 10 * 60 * 128, 2, 0));
    EXPECT_EQ(tw->race.race_laps, RACE_LAPS_UNDECIDED);
    EXPECT_EQ(tw->race.half_laps, RACE_LAPS_UNDECIDED);
    const int s = tw->race.start_tick;
    auto at_seconds = [s](int seconds) { return s + seconds * 128; };
    std::vector<int> ends;
    for (int k = 1; k <= 6; k++)
        ends.push_back(at_seconds(84 * k));
    ends.push_back(at_seconds(590));  // lap 7 at 9:50

    // Half distance: the leader's lap when the first ranking after 5:00 runs.
    set_gates(at(0), laps_ending(s, std::vector<int>(ends.begin(), ends.begin() + 3)));
    tw->race.tick = at_seconds(301);
    update_ranking(tw);
    EXPECT_EQ(tw->race.half_laps, 4);
    EXPECT_EQ(tw->race.race_laps, RACE_LAPS_UNDECIDED);

    // 10:10: time is up, but the lap it ran out in is not over.
    set_gates(at(0), laps_ending(s, ends));
    set_gates(at(1), laps_ending(s, std::vector<int>(ends.begin(), ends.begin() + 5)));
    tw->race.tick = at_seconds(610);
    update_ranking(tw);
    EXPECT_EQ(tw->race.race_laps, RACE_LAPS_UNDECIDED);
    EXPECT_EQ(tw->race.half_laps, 4);  // set once

    // Lap 8 ends at 10:40: 8 + 2 laps.
    ends.push_back(at_seconds(640));
    set_gates(at(0), laps_ending(s, ends));
    tw->race.tick = at_seconds(641);
    update_ranking(tw);
    EXPECT_EQ(tw->race.race_laps, 10);
    EXPECT_EQ(tw->race.ranking[0].slot, 0);
    EXPECT_FALSE(tw->race.results_final);

    // Later laps change nothing.
    ends.push_back(at_seconds(700));
    set_gates(at(0), laps_ending(s, ends));
    tw->race.tick = at_seconds(701);
    update_ranking(tw);
    EXPECT_EQ(tw->race.race_laps, 10);
}

// ---- results --------------------------------------------------------------------------

TEST_F(RaceTest, CuttingTheTrackCostsTheTimeGainedOrALapWhenThatIsLonger)
{
    const std::vector<int> l = lineup({{0, lineup_robot}, {1, lineup_robot}, {2, lineup_robot}});
    ASSERT_TRUE(world_reset(tw, l.data(), nullptr, false, 0, 2, 0));
    const int s = tw->race.start_tick;
    // A and B ride both laps cleanly; the first lap's gates 0 to 2 take them
    // 400 ticks.
    set_gates(at(0), {s + 100, s + 300, s + 500, s + 700, s + 900, s + 1100, s + 1300});
    set_gates(at(1), {s + 110, s + 310, s + 510, s + 710, s + 910, s + 1110, s + 1310});
    // C skips gate 1 and is 4 s faster than the average plus a second from
    // gate 0 to 2; its second lap takes 300 ticks.
    set_gates(at(2), {s + 105, -1, s + 121});
    tw->race.tick = s + 200;
    update_ranking(tw);
    EXPECT_EQ(section_average(tw, 0, 2), 400);
    EXPECT_EQ(section_average(tw, 3, 6), 600);  // the same stretch of every normal lap
    EXPECT_EQ(section_average(tw, 1, 1), SECTION_AVERAGE_DEFAULT);
    EXPECT_EQ(cutting_penalty(tw, at(2)), 512);
    EXPECT_EQ(cutting_penalty(tw, at(0)), 0);
    EXPECT_FALSE(tw->race.results_final);

    set_gates(at(2), {s + 105, -1, s + 121, s + 200, s + 275, s + 350, s + 421});
    tw->race.tick = s + 1400;
    update_ranking(tw);
    ASSERT_TRUE(tw->race.results_final);
    // On the road C won; with the penalty it lost its second lap.
    EXPECT_EQ(tw->race.ranking[0].slot, 2);
    ASSERT_EQ(tw->race.results_count, 3);
    EXPECT_EQ(tw->race.results_ranking[0].slot, 0);
    EXPECT_EQ(tw->race.results_ranking[1].slot, 1);
    const ranking_entry& c = tw->race.results_ranking[2];
    EXPECT_EQ(c.slot, 2);
    EXPECT_EQ(c.penalty, 512);
    EXPECT_EQ(c.progress, 3);
    EXPECT_EQ(c.last_tick, s + 421 + 512 - 300);

    // The results file lists the penalised order, C with one lap and its
    // skipped gate.
    ASSERT_TRUE(tw->race.results_written);
    const std::string text = test::read_file(dirs.home + "/results.txt");
    const std::string a_number = at(0)->number_text, c_number = at(2)->number_text;
    const size_t row_a = text.find("\r\n" + std::string(4 - a_number.size(), ' ') + a_number + " | ");
    const size_t row_c = text.find("\r\n" + std::string(4 - c_number.size(), ' ') + c_number + " | ");
    ASSERT_NE(row_a, std::string::npos) << text;
    ASSERT_NE(row_c, std::string::npos) << text;
    EXPECT_LT(row_a, row_c);
    EXPECT_NE(text.find(" |    1 | ", row_c), std::string::npos) << text;
    EXPECT_NE(text.find("      -1 "), std::string::npos) << text;
    EXPECT_EQ(text.compare(0, 20, "Time=0.00|Laps=2|Tra"), 0) << text;

    // Final results stay as they are.
    set_gate_progress(at(1), 0);
    update_ranking(tw);
    EXPECT_EQ(tw->race.results_ranking[1].slot, 1);
}

TEST_F(RaceTest, APenaltyShorterThanTheLastLapIsAddedToTheTime)
{
    const std::vector<int> l = lineup({{0, lineup_robot}, {1, lineup_robot}, {2, lineup_robot}});
    ASSERT_TRUE(world_reset(tw, l.data(), nullptr, false, 0, 2, 0));
    const int s = tw->race.start_tick;
    set_gates(at(0), {s + 100, s + 300, s + 500, s + 700, s + 900, s + 1100, s + 1300});
    set_gates(at(1), {s + 110, s + 310, s + 510, s + 710, s + 910, s + 1110, s + 1310});
    set_gates(at(2), {s + 105, -1, s + 121, s + 300, s + 450, s + 600, s + 721});  // lap 2: 600 ticks
    tw->race.tick = s + 1400;
    update_ranking(tw);
    ASSERT_TRUE(tw->race.results_final);
    const ranking_entry& c = tw->race.results_ranking[0];
    EXPECT_EQ(c.slot, 2);
    EXPECT_EQ(c.progress, 7);
    EXPECT_EQ(c.last_tick, s + 721 + 512);
}

TEST_F(RaceTest, AnUnfinishedRobotKeepsTheResultsOpenAndARiderDownAtTheEndFinishes)
{
    const std::vector<int> l = lineup({{0, lineup_robot}, {1, lineup_robot}});
    ASSERT_TRUE(world_reset(tw, l.data(), nullptr, false, 0, 1, 0));
    const int s = tw->race.start_tick;
    set_gates(at(0), {s + 100, s + 200, s + 300});
    set_gates(at(1), {s + 110, s + 210});
    tw->race.tick = s + 400;
    update_ranking(tw);
    EXPECT_FALSE(tw->race.results_final);
    EXPECT_TRUE(at(0)->finished);
    // Lying beside his bike after completing no lap since: not finished.
    EXPECT_FALSE(race_finish_fallen_rider(tw, at(1)));
    set_gates(at(1), {s + 110, s + 210, s + 350});
    at(1)->finished = 0;
    EXPECT_TRUE(race_finish_fallen_rider(tw, at(1)));
    EXPECT_TRUE(tw->race.ranking_stale);
    update_ranking(tw);
    EXPECT_TRUE(tw->race.results_final);
}

TEST_F(RaceTest, TheSeriesEventIsScoredWhenFinalAndWhenQuit)
{
    test::write_file(dirs.game + "/cup.series",
                     "Cup\n2 Novice\n11 22\n2\n"
                     "One pad 0 1\n"
                     "25 22 20 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0\n"
                         "0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0\n"
                         "Two pad 0 1\n"
                         "25 22 20 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0\n"
                         "25 22 20 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0\n");
    free_file_index();
    track_list_build(0);
    const char* files[] = {"cup.series", nullptr};
    const char* tracks[] = {"pad", "open"};
    ASSERT_EQ(load_series(&series, files, tracks, 2, 0), 1);

    // As the series menu does: the reset first, then the event is raced.
    const std::vector<int> l =
        lineup({{0, lineup_robot_number + 11}, {1, lineup_robot_number + 22}, {2, lineup_player}});
    ASSERT_TRUE(world_reset(tw, l.data(), nullptr, false, 0, 1, 0));
    series_begin_racing(&series, 0);
    EXPECT_STREQ(at(0)->number_text, "11");
    const int s = tw->race.start_tick;
    set_gates(at(1), {s + 100, s + 200, s + 300});  // 22 wins
    set_gates(at(2), {s + 110, s + 210, s + 310});  // the player second
    set_gates(at(0), {s + 120, s + 220, s + 320});
    tw->race.tick = s + 400;
    update_ranking(tw);
    ASSERT_TRUE(tw->race.results_final);
    EXPECT_EQ(series.items[0].completed, 1);
    EXPECT_EQ(series.racing_series, -1);
    EXPECT_EQ(test::read_file(dirs.home + "/cup.series_standings"), "3 1 2 \n");

    // Quitting the next event scores it as it stands: the unfinished player
    // gets no place.
    ASSERT_TRUE(world_reset(tw, l.data(), nullptr, false, 0, 1, 0));
    series_begin_racing(&series, 0);
    set_gates(at(0), {s + 100});
    tw->race.tick = s + 200;
    update_ranking(tw);
    ASSERT_TRUE(world_reset(tw, l.data(), nullptr, false, 0, 1, 0));
    EXPECT_EQ(series.items[0].completed, 2);
    EXPECT_EQ(test::read_file(dirs.home + "/cup.series_standings"), "3 1 2 \n1 2 3 \n");
}

// ---- who is shown ---------------------------------------------------------------------

TEST_F(RaceTest, OfflineRecordedRidersShowOnlyWithStatesNearby)
{
    const std::vector<int> l = lineup({{0, lineup_player}, {1, lineup_remote}, {2, lineup_robot}});
    ASSERT_TRUE(world_reset(tw, l.data(), nullptr, false, 0, 1, 0));
    EXPECT_EQ(tw->race.slots[1].driver, slot_driver_recorded);
    EXPECT_LE(at(1)->presence, 0.25f);
    EXPECT_TRUE(is_visible(tw, 0));
    EXPECT_TRUE(is_visible(tw, 2));
    EXPECT_FALSE(is_visible(tw, 1));  // nothing feeds it
    EXPECT_FALSE(is_visible(tw, 3));  // nobody there
    const bike_snapshot state = {};
    add_state_to_history(tw, 1, state, tw->race.tick + 100);
    EXPECT_TRUE(is_visible(tw, 1));
    clear_state_histories(tw);
    add_state_to_history(tw, 1, state, tw->race.tick + 200);
    EXPECT_FALSE(is_visible(tw, 1));
}

class OnlineRace : public RaceTest {
protected:
    // Every remote rider has a state at the present tick.
    static void states_now()
    {
        const bike_snapshot state = {};
        for (int slot = 1; slot < 4; slot++)
            add_state_to_history(tw, slot, state, tw->race.tick);
    }

    void SetUp() override
    {
        RaceTest::SetUp();
        tw->race.net.connected = true;
        tw->race.net.race_slot = 0;
        tw->race.net.start_tick = 0;
        snprintf(tw->race.net.track, sizeof tw->race.net.track, "pad");
        const std::vector<int> l =
            lineup({{0, lineup_player}, {1, lineup_remote}, {2, lineup_remote}, {3, lineup_remote}});
        ASSERT_TRUE(world_reset(tw, l.data(), nullptr, false, 0, 5, 0));
        // Race gates 0, 1, 2 at 5, 10 and 15 s for the field.
        tw->race.tick = 20 * 128;
        for (int slot : {0, 2})
            set_gates(at(slot), {5 * 128, 10 * 128, 15 * 128});
        for (int slot = 1; slot < 4; slot++)
            tw->race.net.update_tick[slot] = tw->race.tick - 10;
        states_now();
    }
};

TEST_F(OnlineRace, RidersOffCourseAtOneOfTheirLastThreeGatesBecomeGhosts)
{
    // Slot 1 took 35 s for the 5 s from gate 0 to gate 1: more than 1.5 x
    // 5 s + 10 s.
    set_gates(at(1), {5 * 128, 40 * 128});
    tw->race.tick = 45 * 128;
    for (int slot = 1; slot < 4; slot++)
        tw->race.net.update_tick[slot] = tw->race.tick - 10;
    states_now();
    update_ranking(tw);
    EXPECT_TRUE(off_course_at(tw, at(1), 1));
    EXPECT_FALSE(off_course_at(tw, at(1), 0));
    EXPECT_FALSE(off_course_at(tw, at(2), 1));
    EXPECT_TRUE(is_visible(tw, 0));
    EXPECT_FALSE(is_visible(tw, 1));
    EXPECT_TRUE(is_visible(tw, 2));
    EXPECT_FALSE(is_visible(tw, 3));  // no gate yet

    // A rider not heard from for a second is not shown either.
    tw->race.net.update_tick[2] = tw->race.tick - 128;
    EXPECT_FALSE(is_visible(tw, 2));
    tw->race.net.update_tick[2] = tw->race.tick - 127;
    EXPECT_TRUE(is_visible(tw, 2));

    // Once our own bike cut, it sees everyone (and touches nobody).
    set_gates(at(0), {5 * 128, 44 * 128});
    update_ranking(tw);
    EXPECT_TRUE(is_visible(tw, 1));
    EXPECT_TRUE(is_visible(tw, 3));

    // The bias is also the grace time: early in the race nobody is a ghost.
    tw->race.net.off_course_bias = 60.0f;
    set_gates(at(0), {5 * 128, 10 * 128, 15 * 128});
    EXPECT_TRUE(is_visible(tw, 1));
    EXPECT_TRUE(is_visible(tw, 3));
}

TEST_F(OnlineRace, AWarmingUpRiderIsHiddenUnlessWatchedAndDoesNotHoldTheResults)
{
    tw->race.net.race_slot = RACE_SLOTS;
    EXPECT_TRUE(race_warm_up(tw));
    tw->race.watched_slot = 1;
    EXPECT_FALSE(is_visible(tw, 0));
    tw->race.watched_slot = 0;
    EXPECT_TRUE(is_visible(tw, 0));
    // Remote riders that fell silent and a warming-up rider do not count.
    set_gates(at(2), {5 * 128, 10 * 128, 15 * 128, 16 * 128, 17 * 128, 18 * 128, 19 * 128, 20 * 128, 21 * 128,
                      22 * 128, 23 * 128, 24 * 128, 25 * 128, 26 * 128, 27 * 128, 28 * 128, 29 * 128, 30 * 128,
                      31 * 128});
    tw->race.tick = 40 * 128;
    for (int slot = 1; slot < 4; slot++)
        tw->race.net.update_tick[slot] = tw->race.tick - 200;
    update_ranking(tw);
    EXPECT_TRUE(tw->race.results_final);
}

}  // namespace
