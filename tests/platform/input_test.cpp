#include <gtest/gtest.h>

#include <string>

#include "platform/input.h"
#include "test_support.h"

namespace {

clock_time at_ms(long ms)
{
    clock_time t;
    t.sec = ms / 1000;
    t.usec = ms % 1000 * 1000;
    return t;
}

long ms_of(const clock_time& t)
{
    return t.sec * 1000 + t.usec / 1000;
}

struct input_fixture : ::testing::Test {
    test::temp_dir dir;
    std::string log_path = dir / "log.txt";
    test::scoped_env log_env{"VORN_LOGFILE", log_path.c_str()};
    void SetUp() override
    {
        log_reset_for_tests();
        input_reset_for_tests();
        g_input_hooks = input_hooks{};
    }
    void TearDown() override
    {
        input_reset_for_tests();
        g_input_hooks = input_hooks{};
        log_reset_for_tests();
    }
    std::string log_text()
    {
        log_close();
        return test::read_file(log_path);
    }
};

TEST_F(input_fixture, queue_holds_256_and_drops_the_next)
{
    for (int i = 0; i < 257; i++)
        post_event(key_code_base + 1, i & 1, at_ms(1000 + i));
    EXPECT_EQ(pending_event_count(), 256);
    input_event e;
    for (int i = 0; i < 256; i++) {
        ASSERT_TRUE(next_event(&e));
        EXPECT_EQ(ms_of(e.time), 1000 + i);
    }
    EXPECT_FALSE(next_event(&e));
    // Room again after draining, also across the ring's end.
    post_event(7, 1, at_ms(1));
    ASSERT_TRUE(next_event(&e));
    EXPECT_EQ(e.code, 7);
}

TEST_F(input_fixture, events_come_out_in_time_order)
{
    post_event(1, 1, at_ms(300));
    post_event(2, 1, at_ms(100));
    post_event(3, 1, at_ms(200));
    post_event(4, 1, at_ms(100));  // equal times keep their posting order
    post_event(5, 0, at_ms(400));
    int order[5];
    input_event e;
    for (int& code : order) {
        ASSERT_TRUE(next_event(&e));
        code = e.code;
    }
    EXPECT_EQ(std::vector<int>(order, order + 5), (std::vector<int>{2, 4, 3, 1, 5}));
    EXPECT_EQ(e.pressed, 0);
}

TEST_F(input_fixture, next_event_before_waits_for_the_head)
{
    post_event(10, 1, at_ms(2000));
    post_event(11, 1, at_ms(2500));
    input_event e;
    EXPECT_FALSE(next_event_before(at_ms(1999), &e));
    ASSERT_TRUE(next_event_before(at_ms(2000), &e));
    EXPECT_EQ(e.code, 10);
    EXPECT_FALSE(next_event_before(at_ms(2400), &e));
    EXPECT_EQ(pending_event_count(), 1);
    ASSERT_TRUE(next_event_before(at_ms(9000), &e));
    EXPECT_EQ(e.code, 11);
}

int g_pumps = 0;
void fake_pump()
{
    g_pumps++;
    post_event(close_code, 1, at_ms(5));
}

TEST_F(input_fixture, empty_queue_pumps_messages_first)
{
    g_pumps = 0;
    g_input_hooks.pump_messages = fake_pump;
    post_event(3, 1, at_ms(1));
    input_event e;
    ASSERT_TRUE(next_event(&e));
    EXPECT_EQ(g_pumps, 0);  // something was waiting: no pump
    ASSERT_TRUE(next_event(&e));
    EXPECT_EQ(g_pumps, 1);
    EXPECT_EQ(e.code, close_code);
}

TEST_F(input_fixture, key_names_resolve_exactly_then_loosely)
{
    EXPECT_EQ(key_code_by_name("Left Ctrl"), 4096 + 29);
    EXPECT_EQ(key_code_by_name("left ctrl"), 4096 + 29);
    EXPECT_EQ(key_code_by_name("LEFT_CTRL"), 4096 + 29);
    EXPECT_EQ(key_code_by_name("left\tctrl"), 4096 + 29);
    EXPECT_EQ(key_code_by_name("leftctrl"), no_key_code);
    EXPECT_EQ(key_code_by_name("right ctrl"), 4096 + 285);
    EXPECT_EQ(key_code_by_name("x"), 4096 + 45);
    EXPECT_EQ(key_code_by_name("pause"), 4096 + 69);
    EXPECT_EQ(key_code_by_name("keypad enter"), 4096 + 284);
    EXPECT_EQ(key_code_by_name("\\"), 4096 + 43);
    EXPECT_EQ(key_code_by_name("`"), 4096 + 41);
    EXPECT_EQ(key_code_by_name(" "), 4096 + 57);
    EXPECT_EQ(key_code_by_name("_"), 4096 + 57);  // loosely a space
    EXPECT_EQ(key_code_by_name("Close"), close_code);
    EXPECT_EQ(key_code_by_name("close"), close_code);
    EXPECT_EQ(key_code_by_name("Mouse Right"), mouse_right_code);
    EXPECT_EQ(key_code_by_name(""), no_key_code);
    EXPECT_EQ(key_code_by_name(nullptr), no_key_code);
    EXPECT_EQ(key_code_by_name("Hyper"), no_key_code);
}

TEST_F(input_fixture, hexadecimal_scan_codes_up_to_511)
{
    EXPECT_EQ(key_code_by_name("0x1d"), 4125);
    EXPECT_EQ(key_code_by_name("0x1ff"), 4096 + 511);
    EXPECT_EQ(key_code_by_name("0x200"), no_key_code);
    EXPECT_EQ(key_code_by_name("0xffffffffffffffffff"), no_key_code);
    EXPECT_EQ(key_code_by_name("0x"), no_key_code);
    EXPECT_EQ(key_code_by_name("0x1dz"), no_key_code);
}

TEST_F(input_fixture, codes_name_back)
{
    EXPECT_STREQ(key_name_by_code(4096 + 29), "Left Ctrl");
    EXPECT_STREQ(key_name_by_code(4096 + 57), "Space");
    EXPECT_STREQ(key_name_by_code(4096 + 312), "Right Alt");
    EXPECT_STREQ(key_name_by_code(4096 + 0x7f), "0x7f");
    EXPECT_STREQ(key_name_by_code(close_code), "Close");
    EXPECT_EQ(key_name_by_code(4096 + 512), nullptr);
    EXPECT_EQ(key_name_by_code(65), nullptr);
    EXPECT_EQ(key_name_by_code(-5), nullptr);
    // Every name a key gets leads back to that key, so a binding written
    // out by name reads back the same.
    for (int code = 4096; code < 4096 + 512; code++)
        EXPECT_EQ(key_code_by_name(key_name_by_code(code)), code) << code;
    // Interned: one copy per text.
    EXPECT_EQ(key_name_by_code(4096 + 0x7f), key_name_by_code(4096 + 0x7f));
    EXPECT_EQ(intern_name("Left Ctrl"), key_name_by_code(4096 + 29));
}

TEST_F(input_fixture, twin_joysticks_get_their_own_names_and_bases)
{
    input_device* a = add_input_device("Game Pad v1.0", 2, 12, false, nullptr, nullptr);
    input_device* b = add_input_device("Game Pad v1.0", 2, 12, false, nullptr, nullptr);
    input_device* c = add_input_device("Game Pad v1.0", 2, 12, false, nullptr, nullptr);
    EXPECT_STREQ(a->name, "GamePadv10");
    EXPECT_STREQ(b->name, "GamePadv10#2");
    EXPECT_STREQ(c->name, "GamePadv10#3");
    EXPECT_EQ(a->code_base, device_code_base("GamePadv10"));
    EXPECT_EQ(a->code_base % 65536, 0u);
    EXPECT_NE(a->code_base, b->code_base);
    EXPECT_NE(b->code_base, c->code_base);
    EXPECT_NE(a->code_base, c->code_base);

    EXPECT_EQ(key_code_by_name("GamePadv10#2.key[3]"), (int)b->code_base + 3);
    EXPECT_EQ(key_code_by_name("GamePadv10#2 button 3"), (int)b->code_base + 3);
    EXPECT_EQ(key_code_by_name("GamePadv10.key[12]"), no_key_code);  // past the buttons
    EXPECT_EQ(key_code_by_name("Nobody.key[0]"), no_key_code);
    EXPECT_STREQ(key_name_by_code((int)c->code_base + 11), "GamePadv10#3 button 11");
    EXPECT_EQ(key_name_by_code((int)c->code_base + 12), nullptr);
}

TEST_F(input_fixture, code_base_rule)
{
    // "AB": s1 = 'A' = 65, s2 = 'B' = 66: (65 + 66 * 256) mod 32768 = 16961.
    EXPECT_EQ(device_code_base("AB"), 16961u << 16);
    // s2 wraps at 8 bits, the sum at 15.
    std::string name(600, 'z');
    uint16_t s1 = (uint16_t)(300 * 'z');
    uint8_t s2 = (uint8_t)(300 * 'z');
    EXPECT_EQ(device_code_base(name.c_str()), (uint32_t)((s1 + s2 * 256) % 32768) << 16);
    // A taken base moves on by 65536; base 0 is never handed out.
    input_device* first = add_input_device("AB", 0, 1, false, nullptr, nullptr);
    EXPECT_EQ(first->code_base, 16961u << 16);
    char base_name[64];
    device_base_name(" a.b c ", base_name, sizeof base_name);
    EXPECT_STREQ(base_name, "abc");
    device_base_name(" . ", base_name, sizeof base_name);
    EXPECT_STREQ(base_name, "Device");
    device_base_name(std::string(100, 'q').c_str(), base_name, sizeof base_name);
    EXPECT_EQ(std::string(base_name).size(), 59u);
}

TEST_F(input_fixture, device_buttons_post_changes_only)
{
    input_device* d = add_input_device("Pad", 0, 4, false, nullptr, nullptr);
    device_button(d, 2, true, at_ms(10));
    device_button(d, 2, true, at_ms(11));
    device_button(d, 2, false, at_ms(12));
    device_button(d, 9, true, at_ms(13));  // no such button
    input_event e;
    ASSERT_TRUE(next_event(&e));
    EXPECT_EQ(e.code, (int)d->code_base + 2);
    EXPECT_EQ(e.pressed, 1);
    ASSERT_TRUE(next_event(&e));
    EXPECT_EQ(e.pressed, 0);
    EXPECT_FALSE(next_event(&e));

    // Unplugged while held: the button is let go.
    device_button(d, 1, true, at_ms(20));
    device_lost(d);
    ASSERT_TRUE(next_event(&e));
    ASSERT_TRUE(next_event(&e));
    EXPECT_EQ(e.code, (int)d->code_base + 1);
    EXPECT_EQ(e.pressed, 0);
}

TEST_F(input_fixture, relative_axis_hands_out_movement_once)
{
    input_device* mouse = add_input_device("Mouse", 3, 5, true, nullptr, nullptr);
    device_axis(mouse, 0, 40);  // before the open: not the player's movement
    int x = open_axis("Mouse.axis[0]");
    ASSERT_GE(x, 0);
    EXPECT_EQ(mouse->open_count, 1);
    device_axis(mouse, 0, 5);
    device_axis(mouse, 0, -12);
    EXPECT_EQ(read_axis(x), -7);
    EXPECT_EQ(read_axis(x), 0);
    close_axis(x);
    EXPECT_EQ(mouse->open_count, 0);
    EXPECT_EQ(read_axis(x), 0);
    EXPECT_EQ(open_axis("Mouse.axis[3]"), -1);
    EXPECT_EQ(open_axis("Mouse axis 2") >= 0, true);
}

int g_opens = 0, g_closes = 0;
void count_open(input_device*)
{
    g_opens++;
}
void count_close(input_device*)
{
    g_closes++;
}

TEST_F(input_fixture, absolute_axes_and_device_open_counts)
{
    static const input_device_ops ops = {count_open, count_close, nullptr, nullptr, nullptr};
    g_opens = g_closes = 0;
    input_device* stick = add_input_device("Stick", 2, 2, false, &ops, nullptr);
    int a = open_axis("Stick.axis[0]");
    int b = open_axis("Stick axis 1");
    ASSERT_GE(a, 0);
    ASSERT_GE(b, 0);
    EXPECT_NE(a, b);
    EXPECT_EQ(g_opens, 1);
    device_axis(stick, 0, -40000);  // clamped to the range
    device_axis(stick, 1, 1234);
    EXPECT_EQ(read_axis(a), -32767);
    EXPECT_EQ(read_axis(a), -32767);  // absolute: the value stays
    EXPECT_EQ(read_axis(b), 1234);
    close_axis(a);
    EXPECT_EQ(g_closes, 0);
    close_axis(b);
    close_axis(b);  // twice is harmless
    EXPECT_EQ(g_closes, 1);

    // After the release an old handle reads 0 instead of a freed device.
    int c = open_axis("Stick.axis[1]");
    release_input_devices();
    EXPECT_EQ(read_axis(c), 0);
    close_axis(c);
    std::string log = log_text();
    EXPECT_NE(log.find("] Closing input devices\n"), std::string::npos);
    EXPECT_NE(log.find("] Killing Stick\n"), std::string::npos);
}

TEST_F(input_fixture, axis_names_list_absolute_axes)
{
    add_input_device("Mouse", 3, 5, true, nullptr, nullptr);
    add_input_device("Wheel", 2, 0, false, nullptr, nullptr);
    input_device* cursor = add_input_device("cursor", 2, 0, false, nullptr, nullptr);
    cursor->pointer = true;
    std::vector<const char*> names = axis_names();
    ASSERT_EQ(names.size(), 2u);
    EXPECT_STREQ(names[0], "Wheel axis 0");
    EXPECT_STREQ(names[1], "Wheel axis 1");
    EXPECT_GE(open_axis(names[1]), 0);
}

TEST_F(input_fixture, aliases_first_one_wins)
{
    add_input_device("Joystick1", 2, 2, false, nullptr, nullptr);
    add_alias("joystick-a-x", "Joystick1.axis[0]");
    add_alias("joystick-a-1", "Joystick1.key[0]");
    add_alias("joystick-a-x", "Joystick1.axis[1]");
    add_alias("fire", "joystick-a-1");  // one level only
    EXPECT_STREQ(resolve_alias("joystick-a-x"), "Joystick1.axis[0]");
    EXPECT_GE(open_axis("joystick-a-x"), 0);
    EXPECT_EQ(key_code_by_name("joystick-a-1"), (int)find_input_device("Joystick1")->code_base);
    EXPECT_EQ(key_code_by_name("fire"), no_key_code);
    EXPECT_EQ(log_text().find("] Second alias for 'joystick-a-x' ('Joystick1.axis[1]') ignored\n") !=
                  std::string::npos,
              true);
}

}  // namespace
