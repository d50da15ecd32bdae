// Keyboard, mouse and joystick input from SDL. Key codes stay 4096 + PC
// set-1 scan code, so configuration files keep their meaning on every
// keyboard layout; joysticks become input devices named after the product.
#include "platform/sdl_input.h"

#include <SDL.h>

#include <cstdio>
#include <cstring>

#include "platform/input.h"

namespace {

enum : int { e0 = 256 };

struct joystick_impl {
    SDL_Joystick* joystick = nullptr;
    SDL_JoystickID id = -1;
    int buttons = 0;  // real buttons; each hat adds up, right, down, left after them
    int hats = 0;
};

struct sdl_input_state {
    bool joysticks = false;   // the joystick subsystem is ours and running
    input_device* mouse = nullptr;
    input_device* cursor = nullptr;
    int cursor_x = 0;
    int cursor_y = 0;
};
sdl_input_state g_sdl;

int cursor_read_axis(input_device*, int axis)
{
    return axis == 0 ? g_sdl.cursor_x : g_sdl.cursor_y;
}

void move_cursor(int x, int y)
{
    g_sdl.cursor_x = x;
    g_sdl.cursor_y = y;
}

void cursor_release(input_device*)
{
    g_sdl.cursor = nullptr;
}

const input_device_ops cursor_ops = {nullptr, nullptr, nullptr, cursor_read_axis, cursor_release};

void mouse_release(input_device*)
{
    g_sdl.mouse = nullptr;
}

const input_device_ops mouse_ops = {nullptr, nullptr, nullptr, nullptr, mouse_release};

joystick_impl* impl_of(input_device* d)
{
    return (joystick_impl*)d->impl;
}

// Axes rest anywhere: take their position when the device is opened.
void joystick_open(input_device* d)
{
    joystick_impl* j = impl_of(d);
    if (!j->joystick)
        return;
    for (int a = 0; a < d->axis_count; a++)
        device_axis(d, a, SDL_JoystickGetAxis(j->joystick, a));
}

void joystick_release(input_device* d)
{
    joystick_impl* j = impl_of(d);
    if (j->joystick)
        SDL_JoystickClose(j->joystick);
    delete j;
    d->impl = nullptr;
}

const input_device_ops joystick_ops = {joystick_open, nullptr, nullptr, nullptr, joystick_release};

input_device* joystick_device(SDL_JoystickID id)
{
    for (int i = 0; i < input_device_count(); i++) {
        input_device* d = input_device_at(i);
        if (d->ops == &joystick_ops && !d->lost && impl_of(d)->id == id)
            return d;
    }
    return nullptr;
}

// An unplugged device of the same kind takes the pad back, so its name,
// code base and open axes stay what the bindings know.
input_device* lost_twin(const char* product, int axes, int keys)
{
    char base[64];
    device_base_name(product, base, sizeof base);
    for (int i = 0; i < input_device_count(); i++) {
        input_device* d = input_device_at(i);
        if (d->ops == &joystick_ops && d->lost && strcmp(d->product, base) == 0 &&
            d->axis_count == axes && d->button_count == keys)
            return d;
    }
    return nullptr;
}

void log_axes(input_device* d)
{
    for (int a = 0; a < d->axis_count; a++)
        log_printf("axis %d is %s\n", a, d->axis_relative[a] ? "relative" : "absolute");
    for (int a = 0; a < d->axis_count; a++)
        log_printf("Adding axis \"%s axis %d\"\n", d->name, a);
}

void add_joystick(int index)
{
    const char* product = SDL_JoystickNameForIndex(index);
    if (!product || !*product)
        product = "Joystick";
    SDL_Joystick* js = SDL_JoystickOpen(index);
    if (!js) {
        log_printf("Can't create \"%s\"\n", product);
        return;
    }
    char guid[64];
    SDL_JoystickGetGUIDString(SDL_JoystickGetGUID(js), guid, sizeof guid);
    log_printf("%s (%s)\n", product, guid);

    int axes = SDL_JoystickNumAxes(js);
    int buttons = SDL_JoystickNumButtons(js);
    int hats = SDL_JoystickNumHats(js);
    if (axes < 0 || buttons < 0 || hats < 0) {
        log_printf("Can't get device caps\n");
        SDL_JoystickClose(js);
        return;
    }
    int keys = buttons + 4 * hats;
    log_printf("%d axes, %d keys\n", axes, keys);
    if (axes == 0 && keys == 0) {
        log_printf("Ignoring Dunsel device\n");
        SDL_JoystickClose(js);
        return;
    }
    if (axes > max_device_axes) {
        log_printf("Wow! This thing has a lot of axes!\nThe first ignored axis is called \"%s\"\n",
                   "axis 100");
        axes = max_device_axes;
    }
    if (keys > max_device_buttons) {
        log_printf("Wow! This thing has a lot of buttons!\nThe first ignored button is called \"%s\"\n",
                   "button 500");
        keys = max_device_buttons;
    }

    joystick_impl* j = new joystick_impl;
    j->joystick = js;
    j->id = SDL_JoystickInstanceID(js);
    j->buttons = buttons < keys ? buttons : keys;
    j->hats = hats;

    input_device* d = lost_twin(product, axes, keys);
    if (d) {
        delete impl_of(d);
        d->impl = j;
        d->lost = false;
        log_printf("%s is back\n", d->name);
    } else {
        d = add_input_device(product, axes, keys, false, &joystick_ops, j);
        log_axes(d);
    }
    joystick_open(d);
}

void add_mouse()
{
    // Horizontal and vertical motion and the wheel; left, right, middle and
    // the two side buttons.
    log_printf("%s (%s)\n", "Mouse", "Mouse");
    log_printf("%d axes, %d keys\n", 3, 5);
    g_sdl.mouse = add_input_device("Mouse", 3, 5, true, &mouse_ops, nullptr);
    log_axes(g_sdl.mouse);
}

void add_layer_aliases(bool devices)
{
    add_alias("cursor-left", "Mouse Left");
    add_alias("cursor-middle", "Mouse Middle");
    add_alias("cursor-right", "Mouse Right");
    add_alias("cursor-x", "cursor.axis[0]");
    add_alias("cursor-y", "cursor.axis[1]");
    if (!devices)
        return;
    add_alias("mouse-x", "Mouse.axis[0]");
    add_alias("mouse-y", "Mouse.axis[1]");
    add_alias("mouse-left", "Mouse.key[0]");
    add_alias("mouse-right", "Mouse.key[1]");
    add_alias("mouse-middle", "Mouse.key[2]");
    add_alias("joystick-a-x", "Joystick1.axis[0]");
    add_alias("joystick-a-y", "Joystick1.axis[1]");
    add_alias("joystick-a-1", "Joystick1.key[0]");
    add_alias("joystick-a-2", "Joystick1.key[1]");
    add_alias("joystick-b-x", "Joystick2.axis[0]");
    add_alias("joystick-b-y", "Joystick2.axis[1]");
    add_alias("joystick-b-1", "Joystick2.key[0]");
    add_alias("joystick-b-2", "Joystick2.key[1]");
}

void joystick_added(int index)
{
    if (!g_sdl.joysticks)
        return;
    // Pads present at the roll call announce themselves again.
    if (joystick_device(SDL_JoystickGetDeviceInstanceID(index)))
        return;
    add_joystick(index);
}

void joystick_removed(SDL_JoystickID id)
{
    input_device* d = joystick_device(id);
    if (!d)
        return;
    log_printf("%s unplugged\n", d->name);
    device_lost(d);
    joystick_impl* j = impl_of(d);
    SDL_JoystickClose(j->joystick);
    j->joystick = nullptr;
    j->id = -1;
}

void joystick_hat(input_device* d, int hat, int value, clock_time time)
{
    joystick_impl* j = impl_of(d);
    int first = j->buttons + hat * 4;
    device_button(d, first + 0, (value & SDL_HAT_UP) != 0, time);
    device_button(d, first + 1, (value & SDL_HAT_RIGHT) != 0, time);
    device_button(d, first + 2, (value & SDL_HAT_DOWN) != 0, time);
    device_button(d, first + 3, (value & SDL_HAT_LEFT) != 0, time);
}

// The window's buttons, and the mouse device's order: left, right, middle.
int window_button_code(int button)
{
    switch (button) {
    case SDL_BUTTON_LEFT: return mouse_left_code;
    case SDL_BUTTON_MIDDLE: return mouse_middle_code;
    case SDL_BUTTON_RIGHT: return mouse_right_code;
    default: return 0;
    }
}

int mouse_device_button(int button)
{
    switch (button) {
    case SDL_BUTTON_LEFT: return 0;
    case SDL_BUTTON_RIGHT: return 1;
    case SDL_BUTTON_MIDDLE: return 2;
    case SDL_BUTTON_X1: return 3;
    case SDL_BUTTON_X2: return 4;
    default: return -1;
    }
}

}  // namespace

int set1_code_from_sdl_scancode(int sc)
{
    if (sc >= SDL_SCANCODE_A && sc <= SDL_SCANCODE_Z) {
        static const unsigned char letters[26] = {
            0x1e, 0x30, 0x2e, 0x20, 0x12, 0x21, 0x22, 0x23, 0x17, 0x24, 0x25, 0x26, 0x32,
            0x31, 0x18, 0x19, 0x10, 0x13, 0x1f, 0x14, 0x16, 0x2f, 0x11, 0x2d, 0x15, 0x2c};
        return letters[sc - SDL_SCANCODE_A];
    }
    if (sc >= SDL_SCANCODE_1 && sc <= SDL_SCANCODE_0)
        return 0x02 + (sc - SDL_SCANCODE_1);
    if (sc >= SDL_SCANCODE_F1 && sc <= SDL_SCANCODE_F10)
        return 0x3b + (sc - SDL_SCANCODE_F1);
    if (sc >= SDL_SCANCODE_F13 && sc <= SDL_SCANCODE_F23)
        return 0x64 + (sc - SDL_SCANCODE_F13);
    switch (sc) {
    case SDL_SCANCODE_RETURN: return 0x1c;
    case SDL_SCANCODE_ESCAPE: return 0x01;
    case SDL_SCANCODE_BACKSPACE: return 0x0e;
    case SDL_SCANCODE_TAB: return 0x0f;
    case SDL_SCANCODE_SPACE: return 0x39;
    case SDL_SCANCODE_MINUS: return 0x0c;
    case SDL_SCANCODE_EQUALS: return 0x0d;
    case SDL_SCANCODE_LEFTBRACKET: return 0x1a;
    case SDL_SCANCODE_RIGHTBRACKET: return 0x1b;
    case SDL_SCANCODE_BACKSLASH: return 0x2b;
    case SDL_SCANCODE_NONUSHASH: return 0x2b;
    case SDL_SCANCODE_SEMICOLON: return 0x27;
    case SDL_SCANCODE_APOSTROPHE: return 0x28;
    case SDL_SCANCODE_GRAVE: return 0x29;
    case SDL_SCANCODE_COMMA: return 0x33;
    case SDL_SCANCODE_PERIOD: return 0x34;
    case SDL_SCANCODE_SLASH: return 0x35;
    case SDL_SCANCODE_CAPSLOCK: return 0x3a;
    case SDL_SCANCODE_F11: return 0x57;
    case SDL_SCANCODE_F12: return 0x58;
    case SDL_SCANCODE_F24: return 0x76;
    case SDL_SCANCODE_PRINTSCREEN: return e0 + 0x37;
    case SDL_SCANCODE_SCROLLLOCK: return 0x46;
    case SDL_SCANCODE_PAUSE: return 0x45;
    case SDL_SCANCODE_INSERT: return e0 + 0x52;
    case SDL_SCANCODE_HOME: return e0 + 0x47;
    case SDL_SCANCODE_PAGEUP: return e0 + 0x49;
    case SDL_SCANCODE_DELETE: return e0 + 0x53;
    case SDL_SCANCODE_END: return e0 + 0x4f;
    case SDL_SCANCODE_PAGEDOWN: return e0 + 0x51;
    case SDL_SCANCODE_RIGHT: return e0 + 0x4d;
    case SDL_SCANCODE_LEFT: return e0 + 0x4b;
    case SDL_SCANCODE_DOWN: return e0 + 0x50;
    case SDL_SCANCODE_UP: return e0 + 0x48;
    // The PC keyboard sends Num Lock with the extended bit and Pause without.
    case SDL_SCANCODE_NUMLOCKCLEAR: return e0 + 0x45;
    case SDL_SCANCODE_KP_DIVIDE: return e0 + 0x35;
    case SDL_SCANCODE_KP_MULTIPLY: return 0x37;
    case SDL_SCANCODE_KP_MINUS: return 0x4a;
    case SDL_SCANCODE_KP_PLUS: return 0x4e;
    case SDL_SCANCODE_KP_ENTER: return e0 + 0x1c;
    case SDL_SCANCODE_KP_1: return 0x4f;
    case SDL_SCANCODE_KP_2: return 0x50;
    case SDL_SCANCODE_KP_3: return 0x51;
    case SDL_SCANCODE_KP_4: return 0x4b;
    case SDL_SCANCODE_KP_5: return 0x4c;
    case SDL_SCANCODE_KP_6: return 0x4d;
    case SDL_SCANCODE_KP_7: return 0x47;
    case SDL_SCANCODE_KP_8: return 0x48;
    case SDL_SCANCODE_KP_9: return 0x49;
    case SDL_SCANCODE_KP_0: return 0x52;
    case SDL_SCANCODE_KP_PERIOD: return 0x53;
    case SDL_SCANCODE_KP_EQUALS: return 0x59;
    case SDL_SCANCODE_NONUSBACKSLASH: return 0x56;
    case SDL_SCANCODE_APPLICATION: return e0 + 0x5d;
    case SDL_SCANCODE_POWER: return e0 + 0x5e;
    case SDL_SCANCODE_INTERNATIONAL1: return 0x73;
    case SDL_SCANCODE_INTERNATIONAL2: return 0x70;
    case SDL_SCANCODE_INTERNATIONAL3: return 0x7d;
    case SDL_SCANCODE_INTERNATIONAL4: return 0x79;
    case SDL_SCANCODE_INTERNATIONAL5: return 0x7b;
    case SDL_SCANCODE_LCTRL: return 0x1d;
    case SDL_SCANCODE_LSHIFT: return 0x2a;
    case SDL_SCANCODE_LALT: return 0x38;
    case SDL_SCANCODE_LGUI: return e0 + 0x5b;
    case SDL_SCANCODE_RCTRL: return e0 + 0x1d;
    case SDL_SCANCODE_RSHIFT: return 0x36;
    case SDL_SCANCODE_RALT: return e0 + 0x38;
    case SDL_SCANCODE_RGUI: return e0 + 0x5c;
    case SDL_SCANCODE_MUTE: return e0 + 0x20;
    case SDL_SCANCODE_VOLUMEUP: return e0 + 0x30;
    case SDL_SCANCODE_VOLUMEDOWN: return e0 + 0x2e;
    case SDL_SCANCODE_AUDIONEXT: return e0 + 0x19;
    case SDL_SCANCODE_AUDIOPREV: return e0 + 0x10;
    case SDL_SCANCODE_AUDIOSTOP: return e0 + 0x24;
    case SDL_SCANCODE_AUDIOPLAY: return e0 + 0x22;
    default: return -1;
    }
}

int control_character_for_scancode(int sc)
{
    switch (sc) {
    case SDL_SCANCODE_BACKSPACE: return 8;
    case SDL_SCANCODE_TAB: return 9;
    case SDL_SCANCODE_RETURN:
    case SDL_SCANCODE_KP_ENTER: return 13;
    case SDL_SCANCODE_ESCAPE: return 27;
    default: return 0;
    }
}

int typed_characters(const char* utf8, int* out, int max)
{
    int n = 0;
    const unsigned char* p = (const unsigned char*)utf8;
    while (*p && n < max) {
        unsigned c = *p;
        int extra = c < 0x80 ? 0 : (c & 0xe0) == 0xc0 ? 1 : (c & 0xf0) == 0xe0 ? 2 : (c & 0xf8) == 0xf0 ? 3 : -1;
        if (extra < 0) {  // a stray continuation or invalid byte
            p++;
            continue;
        }
        unsigned code = extra == 0 ? c : c & (0x3f >> extra);
        int i = 1;
        for (; i <= extra && (p[i] & 0xc0) == 0x80; i++)
            code = (code << 6) | (p[i] & 0x3f);
        p += i;
        if (i <= extra)  // cut short
            continue;
        if (code >= 1 && code <= 255)
            out[n++] = (int)code;
    }
    return n;
}

clock_time map_event_time(uint32_t event_ms, uint32_t sdl_now_ms, clock_time now)
{
    // The difference survives the 49-day wrap of SDL's 32-bit counter.
    int32_t age = (int32_t)(sdl_now_ms - event_ms);
    if (age <= 0)
        return now;
    long long ms = (long long)now.sec * 1000 + now.usec / 1000 - age;
    if (ms < 0)
        ms = 0;
    clock_time t;
    t.sec = (long)(ms / 1000);
    t.usec = (long)(ms % 1000) * 1000;
    return t;
}

void open_sdl_input_devices()
{
    bool library = false;
    if (!option_flag("dinput", 1)) {
        log_printf("DirectInput disabled\n");
    } else {
        log_printf("Creating DirectInput object\n");
        if (SDL_InitSubSystem(SDL_INIT_JOYSTICK) != 0) {
            log_printf("Can't open direct input library\n");
            log_printf("%s\n", SDL_GetError());
        } else {
            library = true;
            g_sdl.joysticks = true;
            log_printf("DirectInput roll call...\n");
            if (!option_flag("dinputsticksonly", 1))
                add_mouse();
            int count = SDL_NumJoysticks();
            for (int i = 0; i < count; i++)
                add_joystick(i);
            log_printf("End of DirectInput roll call\n");
        }
    }
    g_sdl.cursor = add_input_device("cursor", 2, 0, false, &cursor_ops, nullptr);
    g_sdl.cursor->pointer = true;
    SDL_GetMouseState(&g_sdl.cursor_x, &g_sdl.cursor_y);
    g_input_hooks.move_pointer = move_cursor;
    add_layer_aliases(library);
}

void close_sdl_input_devices()
{
    release_input_devices();
    if (g_sdl.joysticks) {
        SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
        g_sdl.joysticks = false;
    }
}

void handle_sdl_input_event(const SDL_Event& e, clock_time time)
{
    switch (e.type) {
    case SDL_KEYDOWN:
    case SDL_KEYUP: {
        int pressed = e.type == SDL_KEYDOWN;
        int code = set1_code_from_sdl_scancode(e.key.keysym.scancode);
        if (code >= 0)
            post_event(key_code_base + code, pressed, time);
        // Held keys repeat their character, as typing does.
        int c = pressed ? control_character_for_scancode(e.key.keysym.scancode) : 0;
        if (c)
            post_event(c, 1, time);
        break;
    }
    case SDL_TEXTINPUT: {
        int chars[SDL_TEXTINPUTEVENT_TEXT_SIZE];
        int n = typed_characters(e.text.text, chars, SDL_TEXTINPUTEVENT_TEXT_SIZE);
        for (int i = 0; i < n; i++)
            post_event(chars[i], 1, time);
        break;
    }
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP: {
        bool pressed = e.type == SDL_MOUSEBUTTONDOWN;
        if (int code = window_button_code(e.button.button))
            post_event(code, pressed, time);
        int b = mouse_device_button(e.button.button);
        if (g_sdl.mouse && b >= 0)
            device_button(g_sdl.mouse, b, pressed, time);
        break;
    }
    case SDL_MOUSEMOTION:
        g_sdl.cursor_x = e.motion.x;
        g_sdl.cursor_y = e.motion.y;
        if (g_sdl.mouse) {
            device_axis(g_sdl.mouse, 0, e.motion.xrel);
            device_axis(g_sdl.mouse, 1, e.motion.yrel);
        }
        break;
    case SDL_MOUSEWHEEL:
        // One notch is 120, as wheel mice report it elsewhere.
        if (g_sdl.mouse)
            device_axis(g_sdl.mouse, 2,
                        (e.wheel.direction == SDL_MOUSEWHEEL_FLIPPED ? -e.wheel.y : e.wheel.y) * 120);
        break;
    case SDL_JOYAXISMOTION:
        if (input_device* d = joystick_device(e.jaxis.which))
            device_axis(d, e.jaxis.axis, e.jaxis.value);
        break;
    case SDL_JOYBUTTONDOWN:
    case SDL_JOYBUTTONUP:
        if (input_device* d = joystick_device(e.jbutton.which))
            if (e.jbutton.button < impl_of(d)->buttons)
                device_button(d, e.jbutton.button, e.type == SDL_JOYBUTTONDOWN, time);
        break;
    case SDL_JOYHATMOTION:
        if (input_device* d = joystick_device(e.jhat.which))
            if (e.jhat.hat < impl_of(d)->hats)
                joystick_hat(d, e.jhat.hat, e.jhat.value, time);
        break;
    case SDL_JOYDEVICEADDED:
        joystick_added(e.jdevice.which);
        break;
    case SDL_JOYDEVICEREMOVED:
        joystick_removed(e.jdevice.which);
        break;
    default:
        break;
    }
}
