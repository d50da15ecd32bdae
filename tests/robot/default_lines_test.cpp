// The racing lines the build rides for the default tracks: every file of
// every skill loads onto its track with a row per section and at least
// three lines in each, rated by robots, and the game's start-up robot rides
// off the gate on them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <set>
#include <string>
#include <utility>

#include "bike/bike.h"
#include "core/messages.h"
#include "files/datafs.h"
#include "race/race.h"
#include "race/world.h"
#include "robot/lines.h"
#include "robot/robots.h"
#include "test_support.h"
#include "track/track.h"

namespace {

// A world on the build's own game data (no home lines: the fixture's home
// is empty), with the robots installed.
struct default_data_world {
    test::data_dirs_fixture dirs;
    world* w = nullptr;
    robot_state* rs = nullptr;

    default_data_world()
    {
        const std::string data = test::build_data_dir();
        for (const char* name : {"zzzz.saf", "rabbithill", "stadium"})
            if (symlink((data + "/" + name).c_str(), (dirs.game + "/" + name).c_str()) != 0)
                ADD_FAILURE() << "can't link " << name;
        free_file_index();
        clear_messages();
        track_list_build(0);
        w = world_create();
        rs = robots_install(w);
    }

    ~default_data_world()
    {
        world_destroy(w);
        track_list_free();
        free_file_index();
        clear_messages();
    }

    bool reset(const char* track, const int* lineup, int skill)
    {
        snprintf(w->race.settings.track, sizeof w->race.settings.track, "%s", track);
        return world_reset(w, lineup, nullptr, false, 0, 1000, skill);
    }
};

TEST(DefaultLines, EveryTrackAndSkillLoadsAtLeastThreeRatedLinesPerSection)
{
    if (!KESSRIG_LINES_LEARNT)
        GTEST_SKIP() << "this build (a sanitizer build) does not ride the default tracks' lines";
    default_data_world dw;
    int lineup[RACE_SLOTS];
    race_default_lineup(lineup, false);
    for (const char* track : {"rabbithill", "stadium"}) {
        for (int skill = 0; skill < 3; skill++) {
            SCOPED_TRACE(std::string(track) + " skill " + std::to_string(skill));
            ASSERT_TRUE(dw.reset(track, lineup, skill));
            const line_table& t = dw.rs->lines;
            // One row per real gate of the first lap and of the lap; a file
            // of another row count would have loaded nothing.
            ASSERT_GT(t.first_sections, 0);
            ASSERT_GT(t.lap_sections, 0);
            ASSERT_EQ(t.row_count, t.first_sections + t.lap_sections);
            for (int row = 0; row < t.row_count; row++) {
                // Distinct: no two lines of a row start and end at the
                // same points.
                std::set<std::pair<std::pair<float, float>, std::pair<float, float>>> ends;
                bool rated = false;
                for (const racing_line& l : t.rows[row].lines) {
                    if (!l.points)
                        continue;
                    const line_point& a = l.points[0];
                    const line_point& b = l.points[l.point_count - 1];
                    ends.insert({{a.x, a.z}, {b.x, b.z}});
                    rated = rated || l.runs > 0;
                }
                EXPECT_GE(lines_in_row(&t, row), 3) << "row " << row;
                EXPECT_GE(ends.size(), 3u) << "row " << row;
                // Untried lines cost the plans a million: robots must have
                // ridden something in every section.
                EXPECT_TRUE(rated) << "row " << row;
                for (int type = 0; type < LINE_PLAN_TYPES; type++)
                    EXPECT_GE(line_by_serial(&t, row, lap_plan(&t, type, row)), 0)
                        << "row " << row << " plan " << type;
            }
        }
    }
}

TEST(DefaultLines, TheStartUpRobotRidesOffTheGate)
{
    if (!KESSRIG_LINES_LEARNT)
        GTEST_SKIP() << "this build (a sanitizer build) does not ride the default tracks' lines";
    default_data_world dw;
    int lineup[RACE_SLOTS];
    race_default_lineup(lineup, false);
    ASSERT_EQ(lineup[0], lineup_robot);
    // As the game starts: the default lineup, 1000 laps, novice robots.
    ASSERT_TRUE(dw.reset("rabbithill", lineup, 0));
    bike* b = dw.w->race.slots[0].b;
    ASSERT_NE(b, nullptr);
    const vec3 start = bike_frame_position(b);
    for (int i = 0; i < 30 * RACE_TICKS_PER_SECOND; i++)
        world_tick(dw.w);
    const vec3 at = bike_frame_position(b);
    const float moved = std::sqrt((at.x - start.x) * (at.x - start.x) + (at.z - start.z) * (at.z - start.z));
    EXPECT_GT(moved, 200.0f);
    EXPECT_GE(b->gate_progress, 1);
    EXPECT_EQ(b->crash_count, 0);
}

}  // namespace
