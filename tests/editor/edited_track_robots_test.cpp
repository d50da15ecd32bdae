// Robots on a track whose sections the editor changed: the default track's
// racing lines no longer fit it, and the robots ride its centre line to the
// finish instead of standing at the gate.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <string>

#include "core/messages.h"
#include "editor/editor.h"
#include "files/datafs.h"
#include "race/world.h"
#include "robot/lines.h"
#include "robot/robot_race.h"
#include "robot/robots.h"
#include "test_support.h"
#include "track/track.h"

namespace {

int lines_in_table(const line_table* t)
{
    int n = 0;
    for (int r = 0; r < t->row_count; r++)
        n += lines_in_row(t, r);
    return n;
}

TEST(EditedTrackRobots, AfterASwitchPointIsClearedAndSavedTwoRobotsRideTheCentreLineToTheFinish)
{
    test::data_dirs_fixture dirs;
    const std::string data = test::build_data_dir();
    for (const char* name : {"zzzz.saf", "rabbithill"})
        ASSERT_EQ(symlink((data + "/" + name).c_str(), (dirs.game + "/" + name).c_str()), 0) << name;
    free_file_index();
    clear_messages();
    track_list_build(0);
    world* w = world_create();
    robot_state* rs = robots_install(w);
    snprintf(w->race.settings.track, sizeof w->race.settings.track, "rabbithill");

    robot_race_options o;
    o.robots = 2;
    o.laps = 1;
    o.seed = 3;
    std::string why;
    ASSERT_TRUE(robot_race_start(w, nullptr, o, &why)) << why;
    const int sections = timing_section_count(&w->track.timing_gates);
    // A lines file of the track as it was: a line in every row.
    line_table* t = &rs->lines;
    ASSERT_EQ(t->row_count, sections);
    lines_clear(t);  // only this file's lines, not the ridden ones the data ships
    for (int row = 0; row < t->row_count; row++) {
        const line_point points[2] = {{0, 0, 0, 30, 1.5f}, {0, 0, 7.5f, 30, 1.5f}};
        lines_store(t, row, 0, points, 2, 400, 800);
    }
    ASSERT_TRUE(lines_save(t));
    ASSERT_TRUE(robot_race_start(w, nullptr, o, &why)) << why;
    ASSERT_EQ(lines_in_table(t), sections);  // it fits the track it was made for

    // The editor takes checkpoint 5 out of the robots' sections; the gates
    // are saved into the home directory.
    editor_state* e = editor_begin(&w->track);
    ASSERT_NE(e, nullptr);
    e->widget_value[18] = std::log2(e->extent / 24.0f);
    e->pointer.height = 768;
    e->mode = editor_timing_gate;
    const timing_gate& gate = w->track.timing_gates.checkpoints[5];
    editor_tools_press(e, gate.position.x, gate.position.z);
    editor_tools_release(e);
    editor_tools_widget(e, 31);
    char readout[64];
    editor_tools_readout(e, readout, sizeof readout);
    editor_end(e);
    EXPECT_STREQ(readout, "Switch Point: No");
    ASSERT_TRUE(save_timing_gates(&w->track.timing_gates, "@rabbithill"));
    ASSERT_TRUE(test::file_exists(dirs.home + "/rabbithill/timing_gates"));

    // The track as the next ride loads it: the lines file does not fit.
    w->race.force_reload = true;
    robot_race_result result;
    ASSERT_TRUE(robot_race_run(w, rs, nullptr, o, 400.0, &result, &why)) << why;
    EXPECT_EQ(timing_section_count(&w->track.timing_gates), sections - 2);
    EXPECT_EQ(rs->lines.row_count, sections - 2);
    EXPECT_EQ(lines_in_table(&rs->lines), 0);
    EXPECT_TRUE(result.final);
    EXPECT_EQ(result.broken_slot, -1);
    ASSERT_EQ(result.riders.size(), 2u);
    for (const robot_race_rider& r : result.riders) {
        EXPECT_TRUE(r.robot);
        EXPECT_TRUE(r.finished) << r.slot;
        EXPECT_EQ(r.laps, 1) << r.slot;
        EXPECT_TRUE(rs->slots[r.slot].on_centre_line) << r.slot;
    }

    world_destroy(w);
    track_list_free();
    free_file_index();
    clear_messages();
}

}  // namespace
