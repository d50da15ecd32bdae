// Points series: the series and standings files, the round classification
// and standings, the grid orders of start_series_event and scoring, a quit
// event included.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "files/datafs.h"
#include "race/series.h"
#include "test_support.h"

namespace {

const char* const tracks[] = {"other", "RabbitHill"};

std::string points_line(const std::vector<int>& first)
{
    std::string out;
    for (int k = 0; k < SERIES_POINTS; k++)
        out += std::to_string(k < (int)first.size() ? first[k] : 0) + " ";
    return out + "\n";
}

// A series of `robots` robots numbered 11, 22, ... over two-moto rounds.
std::string series_text(int robots, int rounds, const std::string& skill = "Amateur")
{
    std::string text = "\"Three Robots Cup\"\n" + std::to_string(robots) + " " + skill + "\n";
    for (int i = 0; i < robots; i++)
        text += std::to_string(11 * (i + 1)) + " ";
    text += "\n" + std::to_string(2 * rounds) + "\n";
    for (int r = 0; r < rounds; r++) {
        text += "\"Moto " + std::to_string(2 * r + 1) + "\" rabbithill 0 3\n" + points_line({25, 22, 20, 18}) +
                points_line({});
        text += "Moto_" + std::to_string(2 * r + 2) + " rabbithill 0 3\n" + points_line({25, 22, 20, 18}) +
                points_line({25, 22, 20, 18});
    }
    return text;
}

class Series : public ::testing::Test {
protected:
    test::data_dirs_fixture dirs;
    series_set set;

    void SetUp() override { free_file_index(); }
    void TearDown() override
    {
        series_set_free(&set);
        free_file_index();
    }
    void put(const std::string& rel, const std::string& text)
    {
        test::write_file(dirs.game + "/" + rel, text);
        free_file_index();
    }
    int load(const std::vector<const char*>& files)
    {
        std::vector<const char*> list = files;
        list.push_back(nullptr);
        return load_series(&set, list.data(), tracks, 2, 0);
    }
    bool parse(const std::string& text, points_series* out)
    {
        put("p.series", text);
        data_stream* s = open_data_file("@p.series", "rb");
        EXPECT_NE(s, nullptr);
        const bool ok = series_parse(s, "p.series", tracks, 2, 0, out);
        close_data_file(s);
        return ok;
    }
    // Ranks a moto: "P" the player, otherwise a race number.
    bool score(const std::vector<std::string>& order, bool final_results = true)
    {
        std::vector<series_ranked_rider> ranking(order.size());
        for (size_t k = 0; k < order.size(); k++) {
            ranking[k].number = order[k].c_str();
            ranking[k].local_player = order[k] == "P";
            ranking[k].finished = true;
        }
        series_begin_racing(&set, 0);
        return score_series_event(&set, ranking.data(), (int)ranking.size(), final_results);
    }
    std::string cell(int rider, int round)
    {
        char text[64];
        series_cell_text(&set.items[0], rider, round, text, sizeof text);
        return text;
    }
};

TEST_F(Series, ParseFieldsAndRejections)
{
    points_series s;
    ASSERT_TRUE(parse(series_text(3, 1), &s));
    EXPECT_STREQ(s.name, "Three Robots Cup");
    EXPECT_STREQ(s.standings_path, "@p.series_standings");
    EXPECT_EQ(s.skill, series_skill_amateur);
    EXPECT_EQ(s.robot_count, 3);
    EXPECT_EQ(s.robot_numbers[2], 33);
    ASSERT_EQ(s.event_count, 2);
    EXPECT_STREQ(s.events[0].name, "Moto 1");
    EXPECT_STREQ(s.events[1].name, "Moto_2");
    EXPECT_EQ(s.events[1].track, 1);  // track names compare without case
    EXPECT_EQ(s.events[1].laps, 3);
    EXPECT_EQ(s.events[1].round_points[1], 22);
    EXPECT_EQ(s.events[0].finish[3], 3);  // no result yet
    series_free(&s);

    ASSERT_TRUE(parse(series_text(0, 1, "Novice"), &s));
    EXPECT_EQ(s.skill, series_skill_novice);
    series_free(&s);
    ASSERT_TRUE(parse(series_text(2, 1, "expert"), &s));
    EXPECT_EQ(s.skill, series_skill_expert);
    series_free(&s);

    // 160 robots, a missing number, an unknown track, a negative race
    // number, an unclosed name: rejected.
    EXPECT_FALSE(parse(series_text(160, 1), &s));
    std::string text = series_text(3, 1);
    EXPECT_FALSE(parse(text.substr(0, text.size() - 4), &s));
    std::string other = series_text(3, 1);
    other.replace(other.find("rabbithill"), 10, "moonbase");
    EXPECT_FALSE(parse(other, &s));
    EXPECT_FALSE(parse("\"X\"\n2 Expert\n5 -3\n0\n", &s));
    EXPECT_FALSE(parse("\"Unclosed name\n1 Expert\n5\n0\n", &s));
    EXPECT_EQ(s.name, nullptr);
}

TEST_F(Series, ThreeRobotsRoundGoesToTheBetterSecondMoto)
{
    put("cup.series", series_text(3, 1));
    put("readme.txt", "not a series");
    ASSERT_EQ(load({"readme.txt", "cup.series"}), 1);
    points_series& s = set.items[0];
    EXPECT_EQ(s.completed, 0);
    char heading[128];
    series_heading_text(&s, heading, sizeof heading);
    EXPECT_STREQ(heading, "Next Event: Moto 1");

    // Moto 1: the player first, the robots second to fourth.
    ASSERT_TRUE(score({"P", "11", "22", "33"}));
    EXPECT_EQ(s.completed, 1);
    EXPECT_EQ(set.racing_series, -1);
    EXPECT_EQ(test::read_file(dirs.home + "/cup.series_standings"), "2 3 4 1 \n");
    EXPECT_EQ(cell(3, 0), "- (1-)");
    EXPECT_EQ(series_rider_points(&s, 3), 0);

    // Moto 2: robot 0 first, the player second. Both have 47 points; robot
    // 0 was better in moto 2 and wins the round.
    ASSERT_TRUE(score({"11", "P", "22", "33"}));
    EXPECT_EQ(test::read_file(dirs.home + "/cup.series_standings"), "2 3 4 1 \n1 3 4 2 \n");
    EXPECT_EQ(s.events[1].round_position[0], 0);
    EXPECT_EQ(s.events[1].round_position[3], 1);
    EXPECT_EQ(series_rider_points(&s, 0), 25);
    EXPECT_EQ(series_rider_points(&s, 3), 22);
    EXPECT_EQ(cell(3, 0), "22 (1-2)");
    EXPECT_EQ(cell(0, 0), "25 (2-1)");
    EXPECT_EQ(cell(2, 0), "18 (4-4)");

    standing_row rows[4];
    ASSERT_EQ(series_standings(&s, rows), 4);
    EXPECT_EQ(rows[0].rider, 0);
    EXPECT_EQ(rows[1].rider, 3);
    EXPECT_EQ(rows[1].points, 22);
    EXPECT_EQ(rows[3].rider, 2);
    series_heading_text(&s, heading, sizeof heading);
    EXPECT_STREQ(heading, "Three Robots Cup Final Standings");
    char number[16];
    series_number_text(&s, 1, "77", number, sizeof number);
    EXPECT_STREQ(number, "22");
    series_number_text(&s, 3, "77", number, sizeof number);
    EXPECT_STREQ(number, "77");

    // All done: nothing more to start or score.
    series_start start;
    EXPECT_FALSE(start_series_event(&s, &start));
    EXPECT_FALSE(score({"P"}));

    // A later run reads the standings back to the same classification.
    series_set_free(&set);
    test::write_file(dirs.game + "/cup.series_standings", "stale copy that the home one hides\n");
    free_file_index();
    ASSERT_EQ(load({"cup.series"}), 1);
    EXPECT_EQ(set.items[0].completed, 2);
    EXPECT_EQ(set.items[0].events[1].round_position[3], 1);
    EXPECT_EQ(series_rider_points(&set.items[0], 0), 25);
}

TEST_F(Series, ShortStandingsLineCountsOneEventFewer)
{
    put("cup.series", series_text(3, 2));
    put("cup.series_standings", "2 3 4 1 \n1 3 4 2 \n1 2 3\n4 3 2 1 \n");
    ASSERT_EQ(load({"cup.series"}), 1);
    points_series& s = set.items[0];
    EXPECT_EQ(s.completed, 2);
    EXPECT_EQ(series_round_count(&s), 2);
    EXPECT_EQ(cell(3, 1), "");

    // Positions outside the field read as no result; lines beyond the
    // events are not counted.
    put("cup.series_standings", "9 0 2 1\n1 2 3 4\n1 2 3 4\n1 2 3 4\n1 2 3 4\n1 2 3 4\n");
    ASSERT_EQ(load({"cup.series"}), 1);
    EXPECT_EQ(set.items[0].completed, 4);
    EXPECT_EQ(set.items[0].events[0].finish[0], 3);
    EXPECT_EQ(set.items[0].events[0].finish[1], 3);
    EXPECT_EQ(set.items[0].events[0].finish[3], 0);

    // Reset Points: no completed events, no points.
    series_reset_points(&set, 0);
    EXPECT_EQ(set.items[0].completed, 0);
    EXPECT_EQ(series_rider_points(&set.items[0], 0), 0);
}

// The standings are a season's worth of racing: a write that fails is
// reported and leaves the last standings whole, and a series whose name
// leads out of the home directory writes nothing there.
TEST_F(Series, StandingsAreReplacedWholeAndStayInsideHome)
{
    points_series s;
    ASSERT_TRUE(parse(series_text(3, 2), &s));
    s.completed = 1;
    test::write_file(dirs.home + "/p.series_standings", "1 2 3 4 \n");
    {
        test::full_disk full(0);
        EXPECT_FALSE(series_write_standings(&s));
    }
    EXPECT_EQ(test::read_file(dirs.home + "/p.series_standings"), "1 2 3 4 \n");
    EXPECT_EQ(test::folder_names(dirs.home), (std::vector<std::string>{"p.series_standings"}));
    EXPECT_TRUE(series_write_standings(&s));
    EXPECT_EQ(test::read_file(dirs.home + "/p.series_standings"), "4 4 4 4 \n");
    series_free(&s);

    put("p.series", series_text(3, 2));
    data_stream* in = open_data_file("@p.series", "rb");
    ASSERT_NE(in, nullptr);
    ASSERT_TRUE(series_parse(in, "../../p.series", tracks, 2, 0, &s));
    close_data_file(in);
    s.completed = 1;
    EXPECT_FALSE(series_write_standings(&s));
    EXPECT_FALSE(test::file_exists(dirs.root.path + "/p.series_standings"));
    EXPECT_FALSE(test::file_exists(dirs.xdg + "/p.series_standings"));
    series_free(&s);
}

TEST_F(Series, GridOrders)
{
    int order[SERIES_LINEUP_SLOTS];
    series_grid_order(14, order, 15);
    for (int k = 0; k < 15; k++)
        EXPECT_EQ(order[k], 6 + 2 * k);
    series_grid_order(15, order, SERIES_LINEUP_SLOTS);
    const int centre_out[20] = {10, 9, 11, 8, 12, 7, 13, 6, 14, 5, 15, 4, 16, 3, 17, 2, 18, 1, 19, 0};
    for (int k = 0; k < 20; k++)
        EXPECT_EQ(order[k], centre_out[k]) << k;
    EXPECT_EQ(order[20], 20);
    EXPECT_EQ(order[39], 39);
    EXPECT_EQ(order[40], 40);
    EXPECT_EQ(order[159], 159);
}

TEST_F(Series, StartFirstEventInFileOrderThenWorstFirst)
{
    put("cup.series", series_text(3, 1));
    ASSERT_EQ(load({"cup.series"}), 1);
    series_start start;
    ASSERT_TRUE(start_series_event(&set.items[0], &start));
    EXPECT_EQ(start.event, 0);
    EXPECT_EQ(start.track, 1);
    EXPECT_EQ(start.laps, 3);
    EXPECT_EQ(start.minutes_ticks, 0);
    EXPECT_EQ(start.skill, series_skill_amateur);
    EXPECT_EQ(start.lineup[0], 1011);
    EXPECT_EQ(start.lineup[1], 1022);
    EXPECT_EQ(start.lineup[2], 1033);
    EXPECT_EQ(start.lineup[3], 1);
    EXPECT_EQ(start.lineup[4], 0);

    ASSERT_TRUE(score({"P", "11", "22", "33"}));
    ASSERT_TRUE(start_series_event(&set.items[0], &start));
    EXPECT_EQ(start.event, 1);
    int filled = 0;
    for (int code : start.lineup)
        filled += code != 0;
    EXPECT_EQ(filled, 4);
    EXPECT_EQ(start.lineup[6], 1033);
    EXPECT_EQ(start.lineup[8], 1022);
    EXPECT_EQ(start.lineup[10], 1011);
    EXPECT_EQ(start.lineup[12], 1);
}

TEST_F(Series, FifteenRobotsLineUpCentreOut)
{
    put("big.series", series_text(15, 1));
    ASSERT_EQ(load({"big.series"}), 1);
    std::vector<std::string> order;
    for (int i = 0; i < 15; i++)
        order.push_back(std::to_string(11 * (i + 1)));  // robots in file order; the player has no result
    ASSERT_TRUE(score(order, false));
    series_start start;
    ASSERT_TRUE(start_series_event(&set.items[0], &start));
    EXPECT_EQ(start.lineup[10], 1);                    // the player, position 15 (none), first slot
    EXPECT_EQ(start.lineup[9], 1000 + 11 * 15);        // then robot 14
    EXPECT_EQ(start.lineup[11], 1000 + 11 * 14);
    EXPECT_EQ(start.lineup[2], 1000 + 11);             // the winner last, in slot 2
}

TEST_F(Series, QuitEventScoresRobotsByOrderAndThePlayerOnlyWhenClean)
{
    put("cup.series", series_text(3, 1));
    ASSERT_EQ(load({"cup.series"}), 1);
    points_series& s = set.items[0];

    // Not raced: nothing scored.
    series_ranked_rider none;
    EXPECT_FALSE(score_series_event(&set, &none, 1, false));

    // A world reset before the results are final: the player leads but has
    // not finished, so only the robots take positions.
    series_ranked_rider ranking[5];
    ranking[0].number = "5";
    ranking[0].local_player = true;
    ranking[1].number = "22";
    ranking[2].number = "99";   // not in the series
    ranking[3].number = "011";  // "%d" text differs from 11
    ranking[4].number = "11";
    series_begin_racing(&set, 0);
    ASSERT_TRUE(score_series_event(&set, ranking, 5, false));
    EXPECT_EQ(s.events[0].finish[1], 0);
    EXPECT_EQ(s.events[0].finish[0], 1);
    EXPECT_EQ(s.events[0].finish[2], 3);  // no result
    EXPECT_EQ(s.events[0].finish[3], 3);
    EXPECT_EQ(test::read_file(dirs.home + "/cup.series_standings"), "2 1 4 4 \n");

    // Finished but with a cutting penalty: still no position; finished
    // cleanly: a position.
    ranking[0].finished = true;
    ranking[0].cut_penalty = true;
    series_begin_racing(&set, 0);
    ASSERT_TRUE(score_series_event(&set, ranking, 5, false));
    EXPECT_EQ(s.events[1].finish[3], 3);
    series_reset_points(&set, 0);
    ranking[0].cut_penalty = false;
    series_begin_racing(&set, 0);
    ASSERT_TRUE(score_series_event(&set, ranking, 5, false));
    EXPECT_EQ(s.events[0].finish[3], 0);
    EXPECT_EQ(s.events[0].finish[1], 1);

    // An event remembered before Reset Points is no longer the next one.
    series_begin_racing(&set, 0);
    series_reset_points(&set, 0);
    EXPECT_FALSE(score_series_event(&set, ranking, 5, true));
}

TEST_F(Series, PositionsBeyondTheTablesScoreNothing)
{
    // 44 robots: the player, last in a round-ending moto, is 45th.
    std::string text = "Big\n44 Expert\n";
    for (int i = 0; i < 44; i++)
        text += std::to_string(i + 1) + " ";
    text += "\n1\nOnly rabbithill 5 0\n";
    for (int k = 0; k < 2; k++)
        for (int p = 0; p < SERIES_POINTS; p++)
            text += std::to_string(SERIES_POINTS - p) + " ";
    put("big.series", text);
    ASSERT_EQ(load({"big.series"}), 1);
    series_start start;
    ASSERT_TRUE(start_series_event(&set.items[0], &start));
    EXPECT_EQ(start.minutes_ticks, 5 * 60 * 128);
    std::vector<std::string> order;
    for (int i = 0; i < 44; i++)
        order.push_back(std::to_string(i + 1));
    order.push_back("P");
    ASSERT_TRUE(score(order));
    EXPECT_EQ(set.items[0].events[0].round_position[44], 44);
    EXPECT_EQ(series_rider_points(&set.items[0], 44), 0);
    EXPECT_EQ(series_rider_points(&set.items[0], 0), 40);
    EXPECT_EQ(cell(44, 0), "0 (45)");
    EXPECT_EQ(cell(0, 0), "40 (1)");
}

}  // namespace
