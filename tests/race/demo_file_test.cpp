// Demo files and state histories without a ride: the ordered ring of
// states, the choice of a state for a tick, the header and the block chain
// as written, backups and "namedemo", and the reader over versions 4, 5 and
// 6 with files broken in every way that must not hurt.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "demo_test_util.h"

using namespace demo_test;

namespace {

class DemoFile : public ::testing::Test {
protected:
    test::data_dirs_fixture dirs;

    void SetUp() override
    {
        free_file_index();
        clear_messages();
        fresh_state();
    }
    void TearDown() override
    {
        finish_recording(tw);
        close_demo(tw);
        fresh_state();
        free_file_index();
        clear_messages();
    }

    std::string home(const std::string& rel) const { return dirs.home + "/" + rel; }

    // Opens bytes written to a file of the home directory as the demo played.
    bool open_bytes(const std::string& bytes, char* track = nullptr, int size = 0)
    {
        test::write_file(home("demos/test.kzdemo"), bytes);
        return open_demo(tw, "@demos/test.kzdemo", track, size);
    }
};

std::vector<int> ticks_of(int slot)
{
    const state_history* h = state_history_of(tw, slot);
    std::vector<int> out;
    for (int k = h->count - 1; k >= 0; k--)
        out.push_back(h->entries[(h->newest - k + STATE_HISTORY_SIZE) % STATE_HISTORY_SIZE].tick);
    return out;
}

const bike_snapshot& entry_at(int slot, int tick)
{
    const state_history* h = state_history_of(tw, slot);
    for (const history_entry& e : h->entries)
        if (e.tick == tick)
            return e.snapshot;
    static bike_snapshot none;
    ADD_FAILURE() << "no entry at tick " << tick;
    return none;
}

bool same(const bike_snapshot& a, const bike_snapshot& b)
{
    return memcmp(a.bytes, b.bytes, BIKE_SNAPSHOT_SIZE) == 0;
}

// ---- state histories -------------------------------------------------------------

TEST_F(DemoFile, HistoriesKeepTickOrderWhateverOrderStatesArriveIn)
{
    for (int t : {0, 8, 4, 12, 6})
        add_state_to_history(tw, 5, marked(t, 0), t);
    EXPECT_EQ(ticks_of(5), (std::vector<int>{0, 4, 6, 8, 12}));
    EXPECT_EQ(state_history_of(tw, 5)->pending, 5);
    // A tick already held keeps its first state.
    add_state_to_history(tw, 5, marked(99, 0), 6);
    EXPECT_EQ(state_history_of(tw, 5)->count, 5);
    EXPECT_EQ(entry_at(5, 6).bytes[0], 6);
    EXPECT_EQ(state_history_of(tw, 6)->count, 0);

    add_state_to_history(tw, 160, marked(1, 1), 1);
    add_state_to_history(tw, -1, marked(1, 1), 1);
    EXPECT_TRUE(said("add_state_to_history: slot out of range"));

    // A full ring of even ticks 0..254: an odd tick in the middle pushes the
    // oldest out, one older than everything is dropped.
    clear_state_histories(tw);
    for (int t = 0; t < 2 * STATE_HISTORY_SIZE; t += 2)
        add_state_to_history(tw, 0, marked(t, 1), t);
    EXPECT_EQ(state_history_of(tw, 0)->pending, STATE_HISTORY_SIZE);
    add_state_to_history(tw, 0, marked(3, 1), 3);
    std::vector<int> expected = {2, 3};
    for (int t = 4; t < 2 * STATE_HISTORY_SIZE; t += 2)
        expected.push_back(t);
    EXPECT_EQ(ticks_of(0), expected);
    add_state_to_history(tw, 0, marked(1, 1), 1);
    EXPECT_EQ(ticks_of(0), expected);
    // New states go on past the newest, each time over the oldest.
    add_state_to_history(tw, 0, marked(1, 1), 300);
    EXPECT_EQ(ticks_of(0).front(), 3);
    EXPECT_EQ(ticks_of(0).back(), 300);
    EXPECT_EQ(state_history_of(tw, 0)->pending, STATE_HISTORY_SIZE);
}

TEST_F(DemoFile, TheStateAtATickIsExactBlendedExtrapolatedOrTheOnlyOne)
{
    state_choice c;
    EXPECT_FALSE(state_at_tick(tw, 2, 10, 5, &c));

    // Two real states with positions far apart.
    bike_snapshot a, b;
    for (int i = 0; i < BIKE_SNAPSHOT_SIZE; i++) {
        a.bytes[i] = (uint8_t)(10 + i);
        b.bytes[i] = (uint8_t)(60 + i);
    }
    add_state_to_history(tw, 2, a, 100);
    // One entry: used alone before, at and after it.
    for (int t : {-5, 100, 400}) {
        ASSERT_TRUE(state_at_tick(tw, 2, t, 5, &c));
        EXPECT_TRUE(same(c.current, a));
        EXPECT_TRUE(same(c.earlier, a));
        EXPECT_EQ(c.distance, 1);
    }
    add_state_to_history(tw, 2, b, 108);

    ASSERT_TRUE(state_at_tick(tw, 2, 108, 5, &c));
    EXPECT_TRUE(same(c.current, b));
    EXPECT_TRUE(same(c.earlier, a));
    EXPECT_TRUE(same(c.later, b));
    EXPECT_EQ(c.distance, 8);

    bike_snapshot expected;
    ASSERT_TRUE(state_at_tick(tw, 2, 102, 5, &c));
    interpolate_bike_snapshot(&expected, a, b, 0.25f, 5);
    EXPECT_TRUE(same(c.current, expected));
    EXPECT_EQ(c.distance, 8);

    // Past the newest the motion goes on, but only 64 ticks.
    ASSERT_TRUE(state_at_tick(tw, 2, 120, 5, &c));
    interpolate_bike_snapshot(&expected, a, b, 20.0f / 8.0f, 5);
    EXPECT_TRUE(same(c.current, expected));
    ASSERT_TRUE(state_at_tick(tw, 2, 1000, 5, &c));
    interpolate_bike_snapshot(&expected, a, b, 72.0f / 8.0f, 5);
    EXPECT_TRUE(same(c.current, expected));

    // Before every entry: the oldest as it is; a negative tick counts as 0.
    ASSERT_TRUE(state_at_tick(tw, 2, 50, 5, &c));
    EXPECT_TRUE(same(c.current, a));
    EXPECT_EQ(c.distance, 1);
    ASSERT_TRUE(state_at_tick(tw, 2, -50, 5, &c));
    EXPECT_TRUE(same(c.current, a));

    EXPECT_TRUE(history_has_state(tw, 2, 108, 108));
    EXPECT_TRUE(history_has_state(tw, 2, 0, 100));
    EXPECT_FALSE(history_has_state(tw, 2, 101, 107));
    EXPECT_FALSE(history_has_state(tw, 2, 109, INT_MAX));
    EXPECT_EQ(history_newest_tick(tw, 2), 108);
    EXPECT_EQ(history_newest_tick(tw, 3), INT_MIN);
}

// ---- writing -----------------------------------------------------------------------------

TEST_F(DemoFile, BlocksChainTheirLengthsAndTheHeaderCarriesTheRace)
{
    tw->race.race_minutes_ticks = 7680;
    tw->race.extra_laps = 3;
    tw->race.start_tick = 1800;
    tw->race.tick = 40;
    ASSERT_TRUE(start_recording(tw));
    EXPECT_TRUE(demo_recording(tw));
    EXPECT_TRUE(write_demo_block(tw, demo_block_message, std::string(88, 'a').data(), 88));
    tw->race.tick = 41;
    EXPECT_TRUE(write_demo_block(tw, demo_block_message, std::string(132, 'b').data(), 132));
    EXPECT_TRUE(write_demo_block(tw, demo_block_command, "erode 2048", 10));
    EXPECT_FALSE(write_demo_block(tw, demo_block_states, "x", 1));
    finish_recording(tw);
    EXPECT_FALSE(demo_recording(tw));
    EXPECT_FALSE(write_demo_block(tw, demo_block_message, "late", 4));

    const std::string file = test::read_file(home("demos/default.kzdemo"));
    const std::string first = "KZ06 0 7680 3 1800\n\n";
    ASSERT_EQ(file.compare(0, first.size(), first), 0) << file;
    const size_t at = first.size();
    ASSERT_EQ(file.size(), at + 3 * 9 + 88 + 132 + 10);
    EXPECT_EQ(get32(file, at), 88u);
    EXPECT_EQ(get32(file, at + 4), 40u);
    EXPECT_EQ(file[at + 8], 2);
    const size_t second = at + 9 + 88;
    EXPECT_EQ(get32(file, second), 88u ^ 132u);
    EXPECT_EQ(get32(file, second), 220u);
    EXPECT_EQ(get32(file, second + 4), 41u);
    EXPECT_EQ(get32(file, second + 9 + 132), 132u ^ 10u);

    // Read back: the message shows, the command sets the erosion rate.
    clear_messages();
    char track[64];
    ASSERT_TRUE(open_demo(tw, "@demos/default.kzdemo", track, (int)sizeof track));
    EXPECT_STREQ(track, "");
    EXPECT_EQ(tw->race.race_minutes_ticks, 7680);
    read_demo_ahead(tw);
    EXPECT_TRUE(said(std::string(88, 'a')));
    EXPECT_EQ(tw->race.erosion_amount, 2048);
    EXPECT_TRUE(demo_at_end(tw));
}

TEST_F(DemoFile, BackupsShiftFromTheOldestAndNoneAreKeptWithZero)
{
    const char* names[4] = {"default", "default00", "default01", "default02"};
    auto fill = [&]() {
        for (const char* n : names)
            test::write_file(home(std::string("demos/") + n + ".kzdemo"), n);
    };
    fill();
    tw->settings.demo_backups = 3;
    ASSERT_TRUE(start_recording(tw));
    finish_recording(tw);
    EXPECT_EQ(test::read_file(home("demos/default00.kzdemo")), "default");
    EXPECT_EQ(test::read_file(home("demos/default01.kzdemo")), "default00");
    EXPECT_EQ(test::read_file(home("demos/default02.kzdemo")), "default01");
    EXPECT_FALSE(test::file_exists(home("demos/default03.kzdemo")));
    EXPECT_EQ(test::read_file(home("demos/default.kzdemo")).compare(0, 4, "KZ06"), 0);

    fill();
    tw->settings.demo_backups = 0;
    ASSERT_TRUE(start_recording(tw));
    finish_recording(tw);
    EXPECT_EQ(test::read_file(home("demos/default00.kzdemo")), "default00");
    EXPECT_EQ(test::read_file(home("demos/default01.kzdemo")), "default01");
    EXPECT_EQ(test::read_file(home("demos/default.kzdemo")).compare(0, 4, "KZ06"), 0);

    // Out of range counts are held to 0..100.
    fill();
    tw->settings.demo_backups = -4;
    ASSERT_TRUE(start_recording(tw));
    finish_recording(tw);
    EXPECT_EQ(test::read_file(home("demos/default00.kzdemo")), "default00");
}

TEST_F(DemoFile, NamedemoNamesTheFinishedRecording)
{
    namedemo_command(tw, "race1");
    EXPECT_TRUE(said("Not currently recording a demo"));

    ASSERT_TRUE(start_recording(tw));
    namedemo_command(tw, "   race1  ignored");
    EXPECT_TRUE(said("Demo name updated"));
    finish_recording(tw);
    EXPECT_TRUE(test::file_exists(home("demos/race1.kzdemo")));
    EXPECT_FALSE(test::file_exists(home("demos/default.kzdemo")));

    ASSERT_TRUE(start_recording(tw));
    namedemo_command(tw, "race2.kzdemo");
    finish_recording(tw);
    EXPECT_TRUE(test::file_exists(home("demos/race2.kzdemo")));
    EXPECT_FALSE(test::file_exists(home("demos/race2.kzdemo.kzdemo")));

    // The name is forgotten after use; a long name or one that leaves the
    // folder is refused.
    ASSERT_TRUE(start_recording(tw));
    clear_messages();
    namedemo_command(tw, std::string(DEMO_NAME_MAX + 1, 'n').c_str());
    EXPECT_TRUE(said("Name too long"));
    namedemo_command(tw, "../escape");
    EXPECT_TRUE(said("Bad demo name"));
    finish_recording(tw);
    EXPECT_TRUE(test::file_exists(home("demos/default.kzdemo")));
    EXPECT_FALSE(test::file_exists(dirs.xdg + "/escape.kzdemo"));
}

// A demo is written under a temporary name and takes its own at the end: a
// recording cut short by a full disk leaves the old demo of that name whole.
TEST_F(DemoFile, ARecordingThatRunsOutOfRoomKeepsTheOldDemoOfItsName)
{
    test::write_file(home("demos/keep.kzdemo"), "the old demo");
    demo_record_to(tw, "@demos/keep.kzdemo");
    const std::string block(1000, 'm');
    {
        test::full_disk full(4096);
        ASSERT_TRUE(start_recording(tw));
        for (int i = 0; i < 12 && demo_recording(tw); i++)
            write_demo_block(tw, demo_block_message, block.data(), (uint32_t)block.size());
        finish_recording(tw);
    }
    EXPECT_FALSE(demo_recording(tw));
    EXPECT_EQ(test::read_file(home("demos/keep.kzdemo")), "the old demo");
    EXPECT_EQ(test::folder_names(home("demos")), (std::vector<std::string>{"keep.kzdemo"}));

    // With room the new recording replaces it whole.
    ASSERT_TRUE(start_recording(tw));
    EXPECT_EQ(test::read_file(home("demos/keep.kzdemo")), "the old demo");
    EXPECT_TRUE(write_demo_block(tw, demo_block_message, block.data(), (uint32_t)block.size()));
    finish_recording(tw);
    const std::string now = test::read_file(home("demos/keep.kzdemo"));
    EXPECT_EQ(now.compare(0, 4, "KZ06"), 0);
    EXPECT_GT(now.size(), block.size());
    EXPECT_EQ(test::folder_names(home("demos")), (std::vector<std::string>{"keep.kzdemo"}));
    demo_record_to(tw, nullptr);

    // A name given while recording is one plain name inside the demos folder.
    ASSERT_TRUE(start_recording(tw));
    clear_messages();
    namedemo_command(tw, "bad\x01name");
    EXPECT_TRUE(said("Bad demo name: the name holds a control character"));
    namedemo_command(tw, std::string(SAFE_FILE_NAME_MAX + 1, 'n').c_str());
    EXPECT_TRUE(said("Bad demo name: the name is too long"));
    finish_recording(tw);
    EXPECT_EQ(test::folder_names(home("demos")), (std::vector<std::string>{"default.kzdemo", "keep.kzdemo"}));
}

// A demo's track is a listed track or a plain name: one naming a path is
// not played, so the track's files are never written where it points.
TEST_F(DemoFile, ADemoWhoseTrackIsAPathIsNotPlayed)
{
    int lineup[RACE_SLOTS];
    race_default_lineup(lineup, true);
    const struct {
        const char* track;
        const char* refusal;
    } hostile[] = {
        {"../../escape", nullptr},  // not even a readable demo
        {"/tmp/elsewhere", "Demo refused: its track name holds a '/' or '\\'"},
        {"bad\x01track", "Demo refused: its track name holds a control character"},
    };
    for (const auto& h : hostile) {
        test::write_file(home("demos/hostile.kzdemo"), header("KZ06 1 0 1 1000", h.track, 6, 1));
        clear_messages();
        world_reset(tw, lineup, "@demos/hostile.kzdemo", false, 0, 1, 0);
        EXPECT_FALSE(demo_playing(tw)) << h.track;
        if (h.refusal) {
            EXPECT_TRUE(said(h.refusal)) << h.track;
        }
    }
}

TEST_F(DemoFile, ARecordingThatCannotBeCreatedRecordsNothing)
{
    test::write_file(home("demos"), "a file where the folder should be");
    EXPECT_FALSE(start_recording(tw));
    EXPECT_FALSE(demo_recording(tw));
    record_tick(tw, true);
    finish_recording(tw);
}

// ---- reading versions 4 and 5 -------------------------------------------------------

TEST_F(DemoFile, AVersion5DemoFeedsRecordKToTickK)
{
    std::string bytes = header("KZ05 2 0 5", "pad", 5, 2);
    for (int k = 0; k < 40; k++)
        for (int r = 0; r < 2; r++)
            bytes.append((const char*)marked(k, r).bytes, BIKE_SNAPSHOT_SIZE);
    char track[64];
    tw->race.start_tick = 1;
    ASSERT_TRUE(open_bytes(bytes, track, (int)sizeof track));
    EXPECT_STREQ(track, "pad");
    EXPECT_EQ(demo_version(tw), 5);
    EXPECT_EQ(tw->race.extra_laps, 5);
    EXPECT_EQ(tw->race.start_tick, 1792);  // missing: 14 s
    ASSERT_EQ(demo_rider_count(tw), 2);
    rider_strings r;
    ASSERT_TRUE(demo_rider(tw, 1, &r));
    EXPECT_STREQ(r.model, "rm125");
    EXPECT_STREQ(r.rider_texture, "rider1");
    EXPECT_STREQ(r.bike_texture, "");
    EXPECT_STREQ(r.wheel_texture, "wheels-1");
    EXPECT_STREQ(r.head_texture, "helmet");
    EXPECT_STREQ(r.number, "11");
    EXPECT_FALSE(demo_rider(tw, 2, &r));

    demo_assign(tw, 0, 3);
    demo_assign(tw, 1, 7);
    tw->race.tick = 0;
    read_demo_ahead(tw);
    EXPECT_EQ(ticks_of(3), (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7}));
    for (int k = 0; k <= 7; k++) {
        EXPECT_EQ(entry_at(3, k).bytes[0], k);
        EXPECT_EQ(entry_at(3, k).bytes[1], 0);
        EXPECT_EQ(entry_at(7, k).bytes[0], k);
        EXPECT_EQ(entry_at(7, k).bytes[1], 1);
    }
    tw->race.tick = 30;
    read_demo_ahead(tw);
    EXPECT_EQ(history_newest_tick(tw, 3), 37);
    EXPECT_EQ(entry_at(3, 37).bytes[0], 37);
    EXPECT_FALSE(demo_at_end(tw));
    EXPECT_FALSE(demo_slot_silent(tw, 3));
    // Past the end the riders fall silent.
    tw->race.tick = 60;
    read_demo_ahead(tw);
    EXPECT_TRUE(demo_at_end(tw));
    EXPECT_EQ(history_newest_tick(tw, 7), 39);
    EXPECT_TRUE(demo_slot_silent(tw, 3));
    EXPECT_TRUE(demo_slot_silent(tw, 7));
}

TEST_F(DemoFile, AVersion4DemoReadsShortRecordsAndDropsRidersWithoutASlot)
{
    std::string bytes = header("KZ04 3 0 2 900", "pad", 4, 3);
    for (int k = 0; k < 20; k++)
        for (int r = 0; r < 3; r++) {
            bike_snapshot s = marked(k, r);
            bytes.append((const char*)s.bytes, BIKE_SNAPSHOT_V4_SIZE);
        }
    ASSERT_TRUE(open_bytes(bytes));
    EXPECT_EQ(tw->race.start_tick, 900);
    // Only the last rider rides; the others' records are read past.
    demo_assign(tw, 2, 0);
    tw->race.tick = 5;
    read_demo_ahead(tw);
    EXPECT_EQ(ticks_of(0).front(), 5);
    EXPECT_EQ(ticks_of(0).back(), 12);
    // The first record read belongs to the tick reading started at.
    EXPECT_EQ(entry_at(0, 5).bytes[0], 0);
    EXPECT_EQ(entry_at(0, 5).bytes[1], 2);
    EXPECT_EQ(entry_at(0, 12).bytes[0], 7);
}

// ---- reading version 6 ----------------------------------------------------------------

TEST_F(DemoFile, Version6JumpsToTheFirstStatesBlockAndReadsAheadAnEighthOfASecond)
{
    block_writer w;
    w.block(demo_block_command, 0, "erode 512");
    for (int t = 160; t <= 480; t += 16)
        w.states(t, {{0, t - 12, marked(t - 12, 0)}, {0, t - 4, marked(t - 4, 0)}, {1, t, marked(t, 1)}});
    ASSERT_TRUE(open_bytes(header("KZ06 2 0 1 1000", "pad", 6, 2) + w.bytes));
    rider_strings r;
    ASSERT_TRUE(demo_rider(tw, 0, &r));
    EXPECT_STREQ(r.name, "Rider 0");
    demo_assign(tw, 0, 4);
    demo_assign(tw, 1, 9);
    tw->race.tick = 0;
    read_demo_ahead(tw);
    EXPECT_EQ(tw->race.erosion_amount, 512);
    EXPECT_EQ(tw->race.tick, 160);
    // Blocks are read while the last one read is due within 64 ticks.
    EXPECT_EQ(history_newest_tick(tw, 9), 240);
    EXPECT_EQ(history_newest_tick(tw, 4), 236);
    EXPECT_EQ(entry_at(4, 148).bytes[0], 148);
    tw->race.tick = 300;
    read_demo_ahead(tw);
    EXPECT_EQ(history_newest_tick(tw, 9), 368);
    EXPECT_FALSE(demo_at_end(tw));

    // In the time trial the ghost runs from the lap being ridden.
    close_demo(tw);
    clear_state_histories(tw);
    ASSERT_TRUE(open_bytes(header("KZ06 2 0 1 1000", "pad", 6, 2) + w.bytes));
    demo_assign(tw, 1, 1);
    tw->race.time_trial = true;
    tw->race.tick = 40000;
    read_demo_ahead(tw);
    EXPECT_EQ(tw->race.tick, 40000);
    EXPECT_EQ(ticks_of(1).front(), 40000);
    EXPECT_EQ(entry_at(1, 40016).bytes[0], (uint8_t)176);
}

TEST_F(DemoFile, BrokenBlocksAreSkippedOrEndTheReadingWithoutHarm)
{
    block_writer w;
    w.states(0, {{0, 0, marked(0, 0)}});
    w.block(demo_block_states, 4, std::string(45, 'x'));  // not a whole number of entries: not used
    w.block(77, 8, "an unknown block");
    w.block(demo_block_terrain, 10, std::string(DEMO_TERRAIN_MAX + 1, '\1'));  // too long to be erosion
    w.block(demo_block_command, 11, std::string(2000, 'c'));                 // too long for a command
    w.states(12, {{0, 12, marked(12, 0)}, {5, 12, marked(12, 5)}, {200, 12, marked(12, 9)}});
    const std::string good = header("KZ06 1 0 1 1000", "pad", 6, 1) + w.bytes;
    ASSERT_TRUE(open_bytes(good));
    demo_assign(tw, 0, 2);
    read_demo_ahead(tw);
    EXPECT_EQ(ticks_of(2), (std::vector<int>{0, 12}));
    EXPECT_TRUE(demo_at_end(tw));

    // Cut inside the last block: the entries before the cut still count.
    w.states(16, {{0, 16, marked(16, 0)}, {0, 20, marked(20, 0)}});
    const std::string cut = header("KZ06 1 0 1 1000", "pad", 6, 1) + w.bytes.substr(0, w.bytes.size() - 10);
    clear_state_histories(tw);
    ASSERT_TRUE(open_bytes(cut));
    demo_assign(tw, 0, 2);
    read_demo_ahead(tw);
    EXPECT_EQ(ticks_of(2), (std::vector<int>{0, 12, 16}));
    EXPECT_TRUE(demo_at_end(tw));
    read_demo_ahead(tw);

    // A length far beyond the file ends the reading.
    block_writer huge;
    huge.states(0, {{0, 0, marked(0, 0)}});
    huge.bytes += std::string("\xff\xff\xff\x7f\x04\x00\x00\x00\x01", 9) + std::string(100, 'z');
    clear_state_histories(tw);
    ASSERT_TRUE(open_bytes(header("KZ06 1 0 1 1000", "pad", 6, 1) + huge.bytes));
    demo_assign(tw, 0, 2);
    read_demo_ahead(tw);
    EXPECT_EQ(ticks_of(2), (std::vector<int>{0}));
    EXPECT_TRUE(demo_at_end(tw));
}

TEST_F(DemoFile, HeadersThatDoNotMatchAreNotPlayedAndChangeNothing)
{
    const std::string riders = "rm125||||\n12\nName\n\n";
    const std::vector<std::string> bad = {
        "",
        "KZ06 1 0 1 1000",                            // no line end
        "KZ07 0 0 1 1000\npad\n",                     // version
        "KZ03 0 0 1 1000\npad\n",
        "XZ06 0 0 1 1000\npad\n",
        "KZ06 1\npad\n" + riders,                     // too few numbers
        "KZ06 -1 0 1 1000\npad\n",                    // riders
        "KZ06 4294967297 0 1 1000\npad\n" + riders,   // a count past an int, read as 1
        "KZ06 0 0 1 1000\npad",                       // track line cut
        "KZ06 0 0 1 1000\n../../etc\n",               // a track outside the data
        "KZ06 2 0 1 1000\npad\n" + riders,            // a rider missing
        "KZ06 1 0 1 1000\npad\nrm125||||\n12\nName\n",  // no empty line after it
        "KZ05 1 0 1 1000\npad\nrm125||||\n",          // no number line
        "KZ06 1 0 1 1000\n" + std::string(300, 't') + "\n" + riders,  // track name too long
    };
    for (const std::string& b : bad) {
        tw->race.race_minutes_ticks = 11;
        tw->race.extra_laps = 12;
        tw->race.start_tick = 13;
        char track[RACE_TRACK_NAME_MAX + 1] = "unchanged";
        EXPECT_FALSE(open_bytes(b, track, (int)sizeof track)) << b;
        EXPECT_FALSE(demo_playing(tw));
        EXPECT_EQ(demo_rider_count(tw), 0);
        EXPECT_EQ(tw->race.race_minutes_ticks, 11) << b;
        EXPECT_EQ(tw->race.extra_laps, 12);
        EXPECT_EQ(tw->race.start_tick, 13);
        read_demo_ahead(tw);
    }
    EXPECT_FALSE(open_demo(tw, "@demos/missing.kzdemo", nullptr, 0));

    // Long lines are cut, not overrun; a fifth '|' ends the helmet; a
    // "\r\n" line end is one.
    const std::string odd = "KZ06 1 -5 -2 77\r\npad\r\n" + std::string(300, 'm') + "|a|b|c|helmet|extra\n1234\n" +
                            std::string(3000, 'n') + "\n\n";
    char track[64];
    ASSERT_TRUE(open_bytes(odd, track, (int)sizeof track));
    EXPECT_STREQ(track, "pad");
    EXPECT_EQ(tw->race.race_minutes_ticks, 0);
    EXPECT_EQ(tw->race.extra_laps, 0);
    EXPECT_EQ(tw->race.start_tick, 77);
    rider_strings r;
    ASSERT_TRUE(demo_rider(tw, 0, &r));
    EXPECT_EQ(strlen(r.model), (size_t)RIDER_MODEL_MAX);
    EXPECT_STREQ(r.head_texture, "helmet");
    EXPECT_STREQ(r.number, "123");
    EXPECT_EQ(strlen(r.name), (size_t)RIDER_NAME_MAX);
}

// ---- how ghosts are drawn ----------------------------------------------------------------

TEST(GhostFade, InvisibleWithinHalfTheDistanceSolidBeyondIt)
{
    EXPECT_EQ(ghost_fade(4.0f, 10.0f), 0.0f);
    EXPECT_EQ(ghost_fade(5.0f, 10.0f), 0.0f);
    EXPECT_FLOAT_EQ(ghost_fade(7.5f, 10.0f), 0.5f);
    EXPECT_EQ(ghost_fade(10.0f, 10.0f), 1.0f);
    EXPECT_EQ(ghost_fade(12.0f, 10.0f), 1.0f);
    EXPECT_FLOAT_EQ(ghost_fade(30.0f, 40.0f), 0.5f);
    EXPECT_EQ(ghost_fade(0.01f, 0.0f), 1.0f);
    EXPECT_EQ(ghost_fade(500.0f, 0.0f), 1.0f);
}

}  // namespace
