// Shared by the robot tests: a world on the default track with the robots
// installed and test riders over them, a home of the test's own (where the
// lines files go), races set up through the game's world reset, and the
// log read back.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bike/bike.h"
#include "bike/physics.h"
#include "core/messages.h"
#include "files/datafs.h"
#include "platform/log.h"
#include "race/gates.h"
#include "race/race.h"
#include "race/world.h"
#include "robot/robot_race.h"
#include "robot/robots.h"
#include "robot/test_riders.h"
#include "test_support.h"
#include "track/track.h"

namespace robot_test {

// The first real gate of the second lap on the default track (32 real
// gates a lap): a rider past it has finished a line for every first-lap
// row.
const int k_second_lap_gate = 32;

struct track_world {
    test::data_dirs_fixture dirs;
    std::string log_path = dirs.root / "log.txt";
    test::scoped_env log_env{"VORN_LOGFILE", log_path.c_str()};
    world* w = nullptr;
    robot_state* rs = nullptr;
    std::unique_ptr<test_riders> riders;

    // centre_line false leaves the track's centre line out too: robots
    // without lines then have nothing to ride.
    explicit track_world(bool learn = true, bool centre_line = true)
    {
        log_reset_for_tests();
        const std::string data = test::build_data_dir();
        if (symlink((data + "/zzzz.saf").c_str(), (dirs.game + "/zzzz.saf").c_str()) != 0)
            ADD_FAILURE() << "can't link zzzz.saf";
        // The track's files but its lines files: these tests learn lines of
        // their own from nothing.
        const std::string track = dirs.game + "/rabbithill";
        std::filesystem::create_directory(track);
        for (const auto& entry : std::filesystem::directory_iterator(data + "/rabbithill")) {
            const std::string name = entry.path().filename().string();
            if (!centre_line && name == "centreline")
                continue;
            if (name.rfind("lines_", 0) != 0 && symlink(entry.path().c_str(), (track + "/" + name).c_str()) != 0)
                ADD_FAILURE() << "can't link " << name;
        }
        free_file_index();
        clear_messages();
        track_list_build(0);
        w = world_create();
        robot_options o;
        o.learn = learn;
        rs = robots_install(w, o);
        riders.reset(new test_riders());
        test_riders_install(riders.get(), w);
        snprintf(w->race.settings.track, sizeof w->race.settings.track, "rabbithill");
    }

    ~track_world()
    {
        world_destroy(w);
        track_list_free();
        free_file_index();
        clear_messages();
        log_reset_for_tests();
    }

    // A race of test riders then robots from slot `first`.
    bool start(int scripted, int robots, int laps, int seed, int first = 18, float cruise = 30.0f)
    {
        robot_race_options o;
        o.scripted = scripted;
        o.robots = robots;
        o.laps = laps;
        o.seed = seed;
        o.first_slot = first;
        o.cruise_mph = cruise;
        std::string why;
        const bool ok = robot_race_start(w, riders.get(), o, &why);
        EXPECT_TRUE(ok) << why;
        return ok;
    }

    bike* at(int slot) const { return w->race.slots[slot].b; }

    // Ticks until done() holds or `seconds` pass; false when time ran out.
    bool run_until(const std::function<bool()>& done, double seconds)
    {
        const long limit = (long)(seconds * RACE_TICKS_PER_SECOND);
        for (long t = 0; t < limit; t++) {
            if (done())
                return true;
            world_tick(w);
        }
        return done();
    }

    void run(double seconds)
    {
        run_until([] { return false; }, seconds);
    }

    // Every bike of the slots has passed race gate `gate`.
    bool passed(int first, int count, int gate) const
    {
        for (int s = first; s < first + count; s++)
            if (!at(s) || at(s)->gate_progress <= gate)
                return false;
        return true;
    }

    // Test riders from the gate until each has passed the second gate of
    // lap 2, so every first-lap row and the lap's first row hold one line
    // per rider (a robot finishing a lap has a line past the line); the
    // next reset (learn mode) writes them to the lines file.
    void record_first_lap(int scripted, int seed = 3, float cruise = 30.0f)
    {
        ASSERT_TRUE(start(scripted, 0, 2, seed, 18, cruise));
        ASSERT_TRUE(run_until([&] { return passed(18, scripted, k_second_lap_gate + 1); }, 400.0));
    }

    std::string log_text()
    {
        log_close();
        const std::string text = test::read_file(log_path);
        log_reset_for_tests();
        return text;
    }

    std::string lines_file() const { return dirs.home + "/rabbithill/lines_novice"; }
};

inline int count_of(const std::string& text, const std::string& what)
{
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        n++;
    return n;
}

}  // namespace robot_test
