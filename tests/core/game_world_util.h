// A world on the generated "rabbithill" with a chosen lineup, and a player's
// input record wired to a game state of the test's own, for the tests of
// the views and the player's input.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>

#include <string>
#include <vector>

#include "bike/catalogue.h"
#include "core/bindings.h"
#include "core/messages.h"
#include "core/player_input.h"
#include "core/settings.h"
#include "files/datafs.h"
#include "race/race.h"
#include "race/world.h"
#include "test_support.h"
#include "track/track.h"

class game_world_test : public ::testing::Test {
protected:
    test::data_dirs_fixture dirs;
    world* w = nullptr;
    game_state game;
    binding_table bindings;
    player_input input;
    bike_setup saved_setup = g_bike_setup;
    game_settings saved_settings = g_settings;

    void SetUp() override
    {
        const std::string data = test::build_data_dir();
        ASSERT_EQ(symlink((data + "/zzzz.saf").c_str(), (dirs.game + "/zzzz.saf").c_str()), 0);
        ASSERT_EQ(symlink((data + "/rabbithill").c_str(), (dirs.game + "/rabbithill").c_str()), 0);
        free_file_index();
        clear_messages();
        ASSERT_GE(track_list_build(0), 1);
        w = world_create();
        snprintf(w->race.settings.track, sizeof w->race.settings.track, "rabbithill");
        input_reset_for_tests();
        bindings_set_defaults(&bindings);
        bindings_resolve(&bindings);
        input.game = &game;
        input.bindings = &bindings;
    }

    void TearDown() override
    {
        bindings_close(&bindings);
        world_destroy(w);
        track_list_free();
        free_file_index();
        clear_messages();
        input_reset_for_tests();
        g_bike_setup = saved_setup;
        g_settings = saved_settings;
    }

    // A ride with these lineup codes in slots 0, 1, ...; the game watches
    // what the reset proposes.
    void start(const std::vector<int>& codes)
    {
        std::vector<int> lineup(RACE_SLOTS, lineup_empty);
        for (size_t i = 0; i < codes.size(); i++)
            lineup[i] = codes[i];
        ASSERT_TRUE(world_reset(w, lineup.data(), nullptr, false, 0, 1, 0));
        game.track_loaded = true;
        game.watched_slot = w->race.watched_slot;
        views_new_ride(&input.views, w);
        update_view_mode(&game, &input.views, w);
    }

    // A key of the bindings by its name, pressed or released.
    void key(const char* name, int pressed)
    {
        const int code = key_code_by_name(name);
        ASSERT_NE(code, no_key_code) << name;
        handle_input_event(&input, w, code, pressed);
    }
    void character(int c) { handle_input_event(&input, w, c, 1); }

    // One tick of the frame loop: the controls, then the world.
    void tick()
    {
        if (apply_controls(&input, w) && !game.paused) {
            w->race.watched_slot = game.watched_slot;
            world_tick(w);
        }
    }
};
