// The results file, byte for byte.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "files/datafs.h"
#include "race/results.h"
#include "test_support.h"

namespace {

class Results : public ::testing::Test {
protected:
    test::data_dirs_fixture dirs;
    void SetUp() override { free_file_index(); }
    void TearDown() override { free_file_index(); }
};

TEST_F(Results, FileLinesWithCrLfAndSkippedGate)
{
    // Three gates in the first lap, four in every later one; gate 7 skipped.
    const int start = 1792;
    std::vector<int> gates;
    for (int k = 0; k < 11; k++)
        gates.push_back(k == 7 ? -1 : start + 128 * 3 * (k + 1) + 32);

    result_race race;
    race.time_limit_ticks = 600 * 128;
    race.extra_laps = 2;
    race.track_dir = "rabbithill";
    race.date = 1700000000;
    race.start_tick = start;
    race.first_lap_gates = 3;
    race.normal_lap_gates = 4;

    result_rider riders[3];
    riders[0].number = "7";
    riders[0].model = "crf250(2018)";
    riders[0].finished = true;
    riders[0].lap_count = 3;
    riders[0].total_ticks = 128 * 75 + 64;
    riders[0].best_lap = 2;
    riders[0].best_lap_ticks = 128 * 40 + 1;  // 40.0078 s: milliseconds truncated
    riders[0].gate_times = gates.data();
    riders[0].gate_count = (int)gates.size();
    riders[1].number = "55";  // not finished: left out
    riders[1].model = "kx125";
    riders[2].number = "123";
    riders[2].model = "yz125";
    riders[2].finished = true;
    riders[2].lap_count = 1;

    ASSERT_TRUE(write_results("@results.txt", &race, riders, 3));
    EXPECT_EQ(test::read_file(dirs.home + "/results.txt"),
              "Time=600.00|Laps=2|Track=rabbithill|Date=1700000000\r\n"
              " No. |         Bike | Laps | Total Time | BLap |  Best Time\r\n"
              "   7 | crf250(2018) |    3 |   1:15.500 |    2 |   0:40.007\r\n"
              " 123 |        yz125 |    1 |   0:00.000 |    0 |   0:00.000\r\n"
              "\r\n"
              "11\r\n"
              "   3.250    6.250    9.250\r\n"
              "  12.250   15.250   18.250   21.250\r\n"
              "      -1   27.250   30.250   33.250\r\n"
              "\r\n"
              "0\r\n");
}

// Results are written whole or not at all: a full disk is reported, and the
// results written before stay as they were.
TEST_F(Results, AFailedWriteIsReportedAndKeepsTheOldResults)
{
    result_race race;
    race.track_dir = "rabbithill";
    std::vector<int> gates(4000, 5000);
    result_rider rider;
    rider.number = "7";
    rider.model = "kx125";
    rider.finished = true;
    rider.gate_times = gates.data();
    rider.gate_count = (int)gates.size();
    test::write_file(dirs.home + "/results.txt", "the last race\r\n");
    {
        test::full_disk full(4096);
        EXPECT_FALSE(write_results("@results.txt", &race, &rider, 1));
    }
    EXPECT_EQ(test::read_file(dirs.home + "/results.txt"), "the last race\r\n");
    EXPECT_EQ(test::folder_names(dirs.home), (std::vector<std::string>{"results.txt"}));
    // With room the same results go through.
    EXPECT_TRUE(write_results("@results.txt", &race, &rider, 1));
    EXPECT_GT(test::read_file(dirs.home + "/results.txt").size(), 4000u * 8);
}

TEST_F(Results, TimesAndFailures)
{
    char text[32];
    results_time_text(128 * 3600, text, sizeof text);
    EXPECT_STREQ(text, " 60:00.000");
    results_time_text(-50, text, sizeof text);
    EXPECT_STREQ(text, "  0:00.000");
    results_time_text(127, text, sizeof text);
    EXPECT_STREQ(text, "  0:00.992");

    // Without lap sequences every gate stays on one line.
    const int gates[3] = {128, 256, 384};
    result_race race;
    result_rider r;
    r.finished = true;
    r.gate_times = gates;
    r.gate_count = 3;
    ASSERT_TRUE(write_results("@results.txt", &race, &r, 1));
    const std::string text_file = test::read_file(dirs.home + "/results.txt");
    EXPECT_NE(text_file.find("\r\n3\r\n   1.000    2.000    3.000\r\n"), std::string::npos);

    // A results file that cannot be created is skipped.
    std::filesystem::remove(dirs.home + "/results.txt");
    std::filesystem::create_directories(dirs.home + "/results.txt");
    free_file_index();
    EXPECT_FALSE(write_results("@results.txt", &race, &r, 1));
}

}  // namespace
