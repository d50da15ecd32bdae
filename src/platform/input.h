// Input events, key and axis names, aliases and the input device list.
// This part needs no display: the window layer feeds it (post_event, device
// records) and installs the message pump in g_input_hooks, while the
// configuration and the bindings resolve names through it headless.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/log.h"

// Event codes.
enum : int {
    key_code_base = 4096,      // keyboard: 4096 + PC set-1 scan code (+256 for E0 keys)
    key_code_count = 512,      // scan codes 0..511
    mouse_left_code = 0x2000,  // buttons of the window
    mouse_middle_code = 0x2001,
    mouse_right_code = 0x2002,
    close_code = 0xDEAD,       // the window's close request (and SIGINT/SIGTERM)
    no_key_code = -1,          // key_code_by_name failure
};

enum : int {
    input_queue_size = 256,
    max_device_axes = 100,
    max_device_buttons = 500,
    max_named_device_button = 256,  // device buttons with a name and a code
};

struct input_event {
    int code = 0;
    int pressed = 0;  // 1 pressed, 0 released
    clock_time time;  // platform clock
};

// --- Event queue (guarded by the input lock; any thread may post) ---------

// Drops the event when 256 are waiting; keeps the queue in time order.
void post_event(int code, int pressed, clock_time time);
void post_event_now(int code, int pressed);
// The oldest event. With none waiting it pumps the window's messages and
// polls the devices first. False when still none.
bool next_event(input_event* out);
// The oldest event only when its time is not later than `time`.
bool next_event_before(clock_time time, input_event* out);
int pending_event_count();

// --- Devices ----------------------------------------------------------------

struct input_device;

// Operations of one kind of device; any of them may be null.
struct input_device_ops {
    void (*open)(input_device* device);   // first axis opened
    void (*close)(input_device* device);  // last axis closed
    void (*poll)(input_device* device);   // reads state, posts button events
    // Null: the stored value (relative axes hand out and clear their sum).
    int (*read_axis)(input_device* device, int axis);
    void (*release)(input_device* device);  // device removed from the list
};

struct input_device {
    const char* name = nullptr;     // interned, unique in the list
    const char* product = nullptr;  // interned name before the "#n" suffix
    uint32_t code_base = 0;         // multiple of 65536, unique in the list
    int axis_count = 0;
    int button_count = 0;
    int axis_value[max_device_axes] = {};
    bool axis_relative[max_device_axes] = {};
    unsigned char button_state[max_device_buttons] = {};
    int open_count = 0;
    bool lost = false;              // unplugged; reads as released and centred
    bool pointer = false;           // the "cursor": never offered by axis_names
    int serial = 0;                 // tells devices apart across releases
    const input_device_ops* ops = nullptr;
    void* impl = nullptr;           // the backend's own data
};

// The device name for a product name: spaces and "." removed, at most 59
// characters (so "#n" still fits the 63 of a binding), "Device" when empty.
void device_base_name(const char* product, char* out, int size);
// The code base rule over a device name (without looking at other devices).
uint32_t device_code_base(const char* name);

// Adds a device: unique name ("#2", "#3", ... appended) and a code base no
// other device holds. Counts are clamped to the maxima (the caller logs).
input_device* add_input_device(const char* product, int axes, int buttons, bool relative,
                               const input_device_ops* ops, void* impl);
// Backend calls: a button event is posted only when its state changes.
void device_button(input_device* device, int button, bool pressed, clock_time time);
void device_axis(input_device* device, int axis, int value);  // absolute: set; relative: add
// Unplugged: buttons held are released (events posted), axes centred.
void device_lost(input_device* device);
int input_device_count();
input_device* input_device_at(int index);
input_device* find_input_device(const char* name);
// Polls every device present (not lost).
void poll_input_devices();
// Logs "Closing input devices\n", closes and releases every device
// ("Killing %s\n"). Open axis handles then read 0.
void release_input_devices();

// --- Names ------------------------------------------------------------------

// Code for a key, button or "Close" name; no_key_code when unknown.
int key_code_by_name(const char* name);
// Interned name of a code, or null.
const char* key_name_by_code(int code);
// The single stored copy of a text (lives for the whole program).
const char* intern_name(const char* text);

// First alias of a name wins; "Second alias ..." is logged otherwise.
void add_alias(const char* name, const char* target);
// The target of a name's alias, or the name itself.
const char* resolve_alias(const char* name);

// --- Axes -------------------------------------------------------------------

// Handle >= 0, or -1 when the name does not name an axis of a device.
int open_axis(const char* name);
// Absolute axes: -32767..32767; relative: movement since the last read;
// the cursor: its position in the window. 0 for a closed handle.
int read_axis(int handle);
void close_axis(int handle);
// "%.200s axis %d" for every absolute axis of every device.
std::vector<const char*> axis_names();

// --- Seams ------------------------------------------------------------------

struct input_hooks {
    // Processes pending window messages (the window layer installs it).
    void (*pump_messages)() = nullptr;
    // Puts the pointer at a window pixel (scripted input; the window layer
    // installs it).
    void (*move_pointer)(int x, int y) = nullptr;
};
extern input_hooks g_input_hooks;

// Test support: empties the queue, the device list, the aliases and the
// axis handles (interned names stay).
void input_reset_for_tests();
