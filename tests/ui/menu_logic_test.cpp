// The menu's input arithmetic without a window: focus clamping, choice
// wrap-around and type-ahead, slider keys, pointer and typed values, pages
// of long lists and text editing.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include <string>

#include "core/config.h"
#include "core/game.h"
#include "core/settings.h"
#include "platform/input.h"
#include "ui/menu.h"

TEST(menu_logic, focus_stays_on_the_first_and_last_item)
{
    EXPECT_EQ(menu_focus_move(24, +1, 0, 24), 24);
    EXPECT_EQ(menu_focus_move(0, -1, 0, 24), 0);
    EXPECT_EQ(menu_focus_move(5, +1, 0, 24), 6);
    // A screen that lost items since the focus was set comes back in range.
    EXPECT_EQ(menu_focus_move(46, 0, 0, 8), 8);
}

TEST(menu_logic, choices_wrap_both_ways)
{
    EXPECT_EQ(choice_step(4, 5, +1), 0);
    EXPECT_EQ(choice_step(0, 5, -1), 4);
    EXPECT_EQ(choice_step(2, 5, +1), 3);
    EXPECT_EQ(choice_step(0, 0, +1), 0);
}

TEST(menu_logic, type_ahead_finds_options_and_takes_back_what_matches_nothing)
{
    const char* bikes[] = {"crf250(2008)", "KX250F(2008)", "rm125", "kx450f(2017)", "yz250f(2017)"};
    choice_typeahead t;
    int bike = 4;
    const int list = 0, other_list = 0;
    // "k" from the current option forward, wrapping: the first "k".
    EXPECT_TRUE(choice_type_char(&t, &list, bikes, 5, &bike, 'k'));
    EXPECT_EQ(bike, 1);
    // "kx" any case, any position: the current one still holds it.
    EXPECT_TRUE(choice_type_char(&t, &list, bikes, 5, &bike, 'x'));
    EXPECT_EQ(bike, 1);
    EXPECT_STREQ(typeahead_text(&t, &list), "kx");
    // Nothing holds "kxq": the character goes, the option stays.
    EXPECT_FALSE(choice_type_char(&t, &list, bikes, 5, &bike, 'q'));
    EXPECT_EQ(bike, 1);
    EXPECT_STREQ(typeahead_text(&t, &list), "kx");
    // TAB: the next option holding "kx", wrapping.
    EXPECT_TRUE(choice_tab(&t, &list, bikes, 5, &bike));
    EXPECT_EQ(bike, 3);
    EXPECT_TRUE(choice_tab(&t, &list, bikes, 5, &bike));
    EXPECT_EQ(bike, 1);
    // Another list starts with no text; the first list's text is not its.
    EXPECT_STREQ(typeahead_text(&t, &other_list), "");
    int gear = 0;
    EXPECT_TRUE(choice_type_char(&t, &other_list, bikes, 5, &gear, '4'));
    EXPECT_EQ(gear, 3);
    EXPECT_STREQ(typeahead_text(&t, &other_list), "4");
    EXPECT_STREQ(typeahead_text(&t, &list), "");
    int at = -1;
    EXPECT_TRUE(contains_nocase("yz250F(2017)", "0f(", &at));
    EXPECT_EQ(at, 4);
    EXPECT_FALSE(contains_nocase("yz", "yz250"));
}

TEST(menu_logic, sliders_stay_in_range_by_keys_pointer_and_typed_values)
{
    // Laps 0..50 step 1 at the top: "right" keeps 50.
    EXPECT_EQ(slider_key(50, 1, 0, 50, +1), 50);
    EXPECT_EQ(slider_key(0, 1, 0, 50, -1), 0);
    EXPECT_DOUBLE_EQ(slider_key(0.33, 0.01, 0.33, 0.5, +1), 0.34);
    // A bar from x 100 to 300 for 0..1000 step 10: x 150 is a quarter.
    EXPECT_EQ(slider_pointer_value(0, 10, 0, 1000, 150, 100, 300), 250);
    // Halves round up: 0.5 of a step past 40 steps gives 41 (step 1, 0..80
    // over 160 pixels: x 81 is 40.5).
    EXPECT_EQ(slider_pointer_value(0, 1, 0, 80, 100 + 81, 100, 260), 41);
    // Within 15 pixels beyond the ends the pointer still reaches; the value
    // is clamped.
    EXPECT_TRUE(slider_pointer_in_reach(85, 100, 300));
    EXPECT_TRUE(slider_pointer_in_reach(315, 100, 300));
    EXPECT_FALSE(slider_pointer_in_reach(84, 100, 300));
    EXPECT_FALSE(slider_pointer_in_reach(316, 100, 300));
    EXPECT_EQ(slider_pointer_value(500, 10, 0, 1000, 85, 100, 300), 0);
    EXPECT_EQ(slider_pointer_value(500, 10, 0, 1000, 315, 100, 300), 1000);
    // Negative ranges: sprockets -2..2.
    EXPECT_EQ(slider_pointer_value(0, 1, -2, 2, 100, 100, 300), -2);
    EXPECT_EQ(slider_pointer_value(0, 1, -2, 2, 251, 100, 300), 1);
    // A bar never drawn leaves the value.
    EXPECT_EQ(slider_pointer_value(7, 1, 0, 10, 5, 0, 0), 7);
    // Typed values: clamped; rubbish and NaN do not leave the range.
    EXPECT_EQ(slider_typed_value(110, "500", 10, 170), 170);
    EXPECT_EQ(slider_typed_value(110, "5", 10, 170), 10);
    EXPECT_EQ(slider_typed_value(110, "fast", 10, 170), 110);
    EXPECT_EQ(slider_typed_value(110, "nan", 10, 170), 10);
    EXPECT_EQ(slider_typed_value(110, "-inf", 10, 170), 10);
    EXPECT_EQ(slider_fill(250, 0, 1000), 0.25);
    EXPECT_EQ(slider_fill(2000, 0, 1000), 1);
    EXPECT_EQ(slider_fill(5, 5, 5), 0);
}

TEST(menu_logic, long_lists_have_pages_of_twenty)
{
    EXPECT_EQ(menu_page_count(41), 3);
    EXPECT_EQ(menu_page_count(40), 2);
    EXPECT_EQ(menu_page_count(1), 1);
    EXPECT_EQ(menu_page_count(0), 0);
}

TEST(menu_logic, text_fields_keep_their_length_and_cursor)
{
    char number[4] = "99";
    int cursor = 2;
    text_edit e{number, 3, &cursor};
    EXPECT_TRUE(text_insert(e, '7'));
    EXPECT_FALSE(text_insert(e, '8'));  // 3 characters at most
    EXPECT_STREQ(number, "997");
    text_cursor_move(e, -5);
    EXPECT_EQ(cursor, 0);
    EXPECT_FALSE(text_backspace(e));
    EXPECT_TRUE(text_delete(e));
    EXPECT_STREQ(number, "97");
    EXPECT_TRUE(text_insert(e, '1'));
    EXPECT_STREQ(number, "197");
    EXPECT_EQ(cursor, 1);
    EXPECT_FALSE(text_insert(e, '\n'));
    text_cursor_move(e, 10);
    EXPECT_EQ(cursor, 3);
    EXPECT_TRUE(text_backspace(e));
    EXPECT_STREQ(number, "19");
}

// The graphics screen names the preset all twelve settings match; one
// change through the menu's keys makes it "Custom".
TEST(menu_screens, preset_line_follows_the_settings)
{
    config_set_defaults();
    g_game = game_state();
    menu_state m;
    auto current = [&]() {
        menu_screen s;
        menu_build(&m, menu_graphics, &s);
        for (int i = 0; i < s.line_count; i++)
            if (strncmp(s.lines[i].text, "Current Settings: ", 18) == 0)
                return std::string(s.lines[i].text);
        return std::string();
    };
    EXPECT_EQ(current(), "Current Settings: Compatibility");
    menu_screen s;
    menu_build(&m, menu_graphics, &s);
    int high_fps = -1;
    for (int i = 0; i < s.count; i++)
        if (strcmp(s.items[i].label, "Use High FPS Settings") == 0)
            high_fps = i;
    ASSERT_GE(high_fps, 0);
    g_game.menu = menu_graphics;
    menu_activate(&m, high_fps);
    EXPECT_EQ(current(), "Current Settings: High FPS");
    // Roost Density one step up on the advanced screen.
    g_game.menu = menu_advanced_graphics;
    menu_build(&m, menu_advanced_graphics, &s);
    for (int i = 0; i < s.count; i++)
        if (s.items[i].s && strcmp(s.items[i].s->key, "roost_density") == 0)
            m.focus = i;
    menu_key(&m, key_code_by_name("right"), 1);
    EXPECT_EQ(current(), "Current Settings: Custom");
    g_game = game_state();
}

// The Multiplayer screen follows the connection: Connect joins the server
// typed into the Server field and reads "Disconnect" while connected, when
// it leaves; the rider table shows one row per rider the server named. A
// rider's name typed on the Bike Setup screen is news for the server, a
// field of view is not.
TEST(menu_screens, multiplayer_screen_follows_the_server)
{
    config_set_defaults();
    g_game = game_state();
    struct fake_server {
        bool connected = false;
        std::string joined;
        int leaves = 0, leaves_now = 0, restarts = 0, changes = 0, riders = 0;
    } server;
    menu_state m;
    menu_host& h = m.host;
    h.context = &server;
    h.connected = [](void* c) { return ((fake_server*)c)->connected; };
    h.connect = [](void* c, const char* name) { ((fake_server*)c)->joined = name; };
    h.leave = [](void* c) { ((fake_server*)c)->leaves++; };
    h.leave_now = [](void* c) { ((fake_server*)c)->leaves_now++; };
    h.request_restart = [](void* c) { ((fake_server*)c)->restarts++; };
    h.rider_changed = [](void* c) { ((fake_server*)c)->changes++; };
    h.rider_rows = [](void* c, menu_rider_row* rows, int max) {
        const int total = ((fake_server*)c)->riders;
        for (int i = 0; i < total && i < max; i++) {
            rows[i].slot = 3 + i;
            rows[i].ping_ms = 40 + i;
            snprintf(rows[i].number, sizeof rows[i].number, "%d", (10 + i) % 100);
            snprintf(rows[i].bike, sizeof rows[i].bike, "cr250");
            snprintf(rows[i].name, sizeof rows[i].name, "Rider %d", i);
        }
        return total;
    };
    auto find = [](const menu_screen& s, const char* label) {
        for (int i = 0; i < s.count; i++)
            if (strcmp(s.items[i].label, label) == 0)
                return i;
        return -1;
    };
    auto has_line = [](const menu_screen& s, const char* text) {
        for (int i = 0; i < s.line_count; i++)
            if (strcmp(s.lines[i].text, text) == 0)
                return true;
        return false;
    };

    menu_open(&m, menu_multiplayer);
    snprintf(g_settings.server_name, sizeof g_settings.server_name, "race.example:19801");
    menu_screen s;
    menu_build(&m, menu_multiplayer, &s);
    ASSERT_GE(find(s, "Connect"), 0);
    EXPECT_LT(find(s, "Disconnect"), 0);
    for (const char* title : {"No.", "Slot", "Ping", "Bike", "Name"})
        EXPECT_TRUE(has_line(s, title)) << title;
    EXPECT_FALSE(has_line(s, "Rider 0"));
    menu_activate(&m, find(s, "Connect"));
    EXPECT_EQ(server.joined, "race.example:19801");
    EXPECT_EQ(server.leaves, 0);

    server.connected = true;
    server.riders = 23;
    menu_build(&m, menu_multiplayer, &s);
    ASSERT_GE(find(s, "Disconnect"), 0);
    EXPECT_TRUE(has_line(s, "Rider 0"));
    EXPECT_TRUE(has_line(s, "Rider 19"));
    EXPECT_FALSE(has_line(s, "Rider 20"));
    EXPECT_TRUE(has_line(s, "3 more"));
    EXPECT_TRUE(has_line(s, "22"));  // slot 3 + 19
    EXPECT_TRUE(has_line(s, "59"));  // its ping
    menu_activate(&m, find(s, "Request Restart"));
    EXPECT_EQ(server.restarts, 1);
    menu_activate(&m, find(s, "Disconnect"));
    EXPECT_EQ(server.leaves, 1);
    EXPECT_EQ(server.leaves_now, 0);

    // The rider's name is sent again; the field of view is the player's own.
    menu_open(&m, menu_bike_setup);
    menu_build(&m, menu_bike_setup, &s);
    for (int i = 0; i < s.count; i++)
        if (s.items[i].s && strcmp(s.items[i].s->key, "name") == 0)
            m.focus = i;
    menu_key(&m, 'x', 1);
    EXPECT_EQ(server.changes, 1);
    menu_open(&m, menu_graphics);
    menu_build(&m, menu_graphics, &s);
    for (int i = 0; i < s.count; i++)
        if (s.items[i].s && strcmp(s.items[i].s->key, "fov") == 0)
            m.focus = i;
    menu_key(&m, key_code_by_name("right"), 1);
    EXPECT_EQ(server.changes, 1);

    menu_open(&m, menu_none);
    g_game = game_state();
}
