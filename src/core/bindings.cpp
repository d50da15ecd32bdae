#include "core/bindings.h"

#include <cmath>
#include <cstdio>

binding_table g_bindings;

namespace {

// The configuration's order; the scale is what a full press adds into the
// control (Right steers and Downshift shifts the other way, Lean Forward
// leans forward).
const binding_info infos[BINDING_COUNT] = {
    {"throttle_key", "Throttle", "x", control_throttle, 1, -1},
    {"front_brake_key", "Front Brake", "c", control_front_brake, 1, -1},
    {"rear_brake_key", "Rear Brake", "v", control_rear_brake, 1, -1},
    {"left_key", "Left", "left", control_steer, 1, -1},
    {"right_key", "Right", "right", control_steer, -1, -1},
    {"clutch_key", "Clutch", "z", control_clutch, 1, -1},
    {"upshift_key", "Upshift", "up", control_shift, 1, -1},
    {"downshift_key", "Downshift", "down", control_shift, -1, -1},
    {"dab_key", "Sit/Dab", "right ctrl", control_sit_dab, 1, -1},
    {"back_up_key", "Back up", "b", control_back_up, 1, -1},
    {"lean_forward_key", "Lean Forward", "n", control_lean, -1, -1},
    {"lean_backward_key", "Lean Backward", "m", control_lean, 1, -1},
    {"pause_key", "Pause", "pause", -1, 0, command_pause},
    {"step_key", "Step", ".", -1, 0, command_step},
    {"rewind_key", "Rewind", "\\", -1, 0, command_rewind},
    {"skip_key", "Skip", "/", -1, 0, command_skip},
    {"prev_key", "Previous Bike", "[", -1, 0, command_previous_bike},
    {"next_key", "Next Bike", "]", -1, 0, command_next_bike},
    {"console_key", "Chat", "t", -1, 0, command_chat},
    {"screenshot_key", "Screenshot", "s", -1, 0, command_screenshot},
};

void copy_name(char* out, const char* name)
{
    snprintf(out, BINDING_NAME_MAX + 1, "%s", name ? name : "");
}

bool is_axis(const menu_binding& b)
{
    return b.axis_name[0] != 0;
}

}  // namespace

const binding_info* binding_infos()
{
    return infos;
}

void bindings_set_defaults(binding_table* t)
{
    for (int i = 0; i < BINDING_COUNT; i++) {
        menu_binding& b = t->entries[i];
        b = menu_binding();
        b.label = infos[i].label;
        binding_set_key(&b, infos[i].default_key);
    }
}

void binding_set_key(menu_binding* b, const char* name)
{
    copy_name(b->key_name, name);
    b->axis_name[0] = 0;
    b->key_code = no_key_code;
    b->low = 0;
    b->high = 1;
}

void binding_set_axis(menu_binding* b, const char* name, float low, float high)
{
    copy_name(b->axis_name, name);
    b->key_name[0] = 0;
    b->key_code = no_key_code;
    b->low = low;
    b->high = high;
}

void bindings_resolve(binding_table* t)
{
    for (menu_binding& b : t->entries) {
        if (b.axis >= 0)
            close_axis(b.axis);
        b.axis = -1;
        b.key_code = no_key_code;
        if (is_axis(b))
            b.axis = open_axis(b.axis_name);
        else if (b.key_name[0])
            b.key_code = key_code_by_name(b.key_name);
        b.value = 0;
    }
}

void bindings_close(binding_table* t)
{
    for (menu_binding& b : t->entries) {
        if (b.axis >= 0)
            close_axis(b.axis);
        b.axis = -1;
        b.value = 0;
    }
}

void bindings_release_all(binding_table* t)
{
    for (menu_binding& b : t->entries)
        b.value = 0;
}

bool bindings_key_event(binding_table* t, int code, int pressed)
{
    bool matched = false;
    for (menu_binding& b : t->entries) {
        if (b.key_code == no_key_code || b.key_code != code || is_axis(b))
            continue;
        b.value = pressed ? 1.0f : 0.0f;
        matched = true;
    }
    return matched;
}

bool command_pressed(const binding_table* t, int command, int code, int pressed)
{
    if (!pressed || command < 0 || command >= COMMAND_COUNT)
        return false;
    const menu_binding& b = t->entries[CONTROL_BINDING_COUNT + command];
    return !is_axis(b) && b.key_code != no_key_code && b.key_code == code;
}

float axis_binding_value(int raw, float low, float high)
{
    const float x = (float)raw / 32768.0f;
    // A travel of no length would divide 0 by 0: it switches instead.
    if (high == low)
        return x >= low ? 1.0f : 0.0f;
    const float v = (x - low) / (high - low);
    if (!(v > 0.0f))
        return 0.0f;
    return v < 1.0f ? v : 1.0f;
}

void sum_control_values(binding_table* t, float values[CONTROL_COUNT])
{
    for (int c = 0; c < CONTROL_COUNT; c++)
        values[c] = 0.0f;
    for (int i = 0; i < CONTROL_BINDING_COUNT; i++) {
        menu_binding& b = t->entries[i];
        if (is_axis(b))
            b.value = b.axis >= 0 ? axis_binding_value(read_axis(b.axis), b.low, b.high) : 0.0f;
        values[infos[i].control] += infos[i].scale * b.value;
    }
}
