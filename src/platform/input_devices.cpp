// The input device list (cursor, mouse, joysticks), its names and code
// bases, and the axis handles the bindings hold.
#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/input.h"
#include "platform/input_internal.h"

namespace {

struct axis_slot {
    bool used = false;
    int serial = 0;  // the device's serial; a released device reads 0
    int axis = 0;
};

struct device_list {
    std::vector<std::unique_ptr<input_device>> devices;
    std::vector<axis_slot> axes;
    int next_serial = 1;
};

device_list& the_devices()
{
    static device_list* list = new device_list;
    return *list;
}

bool name_taken(const char* name)
{
    return find_input_device(name) != nullptr;
}

bool base_taken(uint32_t base)
{
    for (auto& d : the_devices().devices)
        if (d->code_base == base)
            return true;
    return false;
}

input_device* device_by_serial(int serial)
{
    for (auto& d : the_devices().devices)
        if (d->serial == serial)
            return d.get();
    return nullptr;
}

void open_device(input_device* d)
{
    if (d->open_count++ > 0)
        return;
    // Movement from before the open is not the player's.
    for (int i = 0; i < d->axis_count; i++)
        if (d->axis_relative[i])
            d->axis_value[i] = 0;
    if (d->ops && d->ops->open)
        d->ops->open(d);
}

void close_device(input_device* d)
{
    if (d->open_count <= 0)
        return;
    if (--d->open_count == 0 && d->ops && d->ops->close)
        d->ops->close(d);
}

// "dev.axis[n]" or "dev axis n"
bool parse_axis_name(const char* name, char* device, int* index)
{
    if (sscanf(name, "%63[^.].axis[%d]", device, index) == 2)
        return true;
    return sscanf(name, "%63s axis %d", device, index) == 2;
}

}  // namespace

void device_base_name(const char* product, char* out, int size)
{
    int limit = size - 1 < 59 ? size - 1 : 59;
    int n = 0;
    for (const char* p = product ? product : ""; *p && n < limit; p++) {
        if (*p == '.' || isspace((unsigned char)*p))
            continue;
        out[n++] = *p;
    }
    if (n == 0)
        snprintf(out, (size_t)size, "%s", "Device");
    else
        out[n] = 0;
}

uint32_t device_code_base(const char* name)
{
    uint16_t s1 = 0;
    uint8_t s2 = 0;
    for (int i = 0; name[i]; i++) {
        if (i % 2 == 0)
            s1 = (uint16_t)(s1 + (unsigned char)name[i]);
        else
            s2 = (uint8_t)(s2 + (unsigned char)name[i]);
    }
    return (uint32_t)((s1 + s2 * 256) % 32768) << 16;
}

input_device* add_input_device(const char* product, int axes, int buttons, bool relative,
                               const input_device_ops* ops, void* impl)
{
    device_list& list = the_devices();
    char base_name[64];
    device_base_name(product, base_name, sizeof base_name);
    char name[80];
    snprintf(name, sizeof name, "%s", base_name);
    for (int n = 2; name_taken(name); n++)
        snprintf(name, sizeof name, "%.59s#%d", base_name, n);

    uint32_t base = device_code_base(name);
    // Base 0 would put device buttons on the typed characters' codes.
    for (int tries = 0; (base == 0 || base_taken(base)) && tries < 32768; tries++)
        base = (((base >> 16) + 1) & 0x7fff) << 16;

    auto d = std::make_unique<input_device>();
    d->name = intern_name(name);
    d->product = intern_name(base_name);
    d->code_base = base;
    d->axis_count = axes < 0 ? 0 : axes > max_device_axes ? max_device_axes : axes;
    d->button_count = buttons < 0 ? 0 : buttons > max_device_buttons ? max_device_buttons : buttons;
    for (int i = 0; i < d->axis_count; i++)
        d->axis_relative[i] = relative;
    d->ops = ops;
    d->impl = impl;
    d->serial = list.next_serial++;
    list.devices.push_back(std::move(d));
    return list.devices.back().get();
}

void device_button(input_device* d, int button, bool pressed, clock_time time)
{
    if (!d || button < 0 || button >= d->button_count)
        return;
    unsigned char state = pressed ? 1 : 0;
    if (d->button_state[button] == state)
        return;
    d->button_state[button] = state;
    post_event((int)(d->code_base + (uint32_t)button), state, time);
}

void device_axis(input_device* d, int axis, int value)
{
    if (!d || axis < 0 || axis >= d->axis_count)
        return;
    if (d->axis_relative[axis]) {
        long long sum = (long long)d->axis_value[axis] + value;
        d->axis_value[axis] = sum > 0x7fffffff ? 0x7fffffff : sum < -0x7fffffff ? -0x7fffffff : (int)sum;
    } else {
        d->axis_value[axis] = value > 32767 ? 32767 : value < -32767 ? -32767 : value;
    }
}

void device_lost(input_device* d)
{
    if (!d)
        return;
    // A pad pulled out with the throttle held must not keep the throttle open.
    clock_time now = clock_now();
    for (int b = 0; b < d->button_count; b++)
        device_button(d, b, false, now);
    for (int a = 0; a < d->axis_count; a++)
        d->axis_value[a] = 0;
    d->lost = true;
}

int input_device_count()
{
    return (int)the_devices().devices.size();
}

input_device* input_device_at(int index)
{
    device_list& list = the_devices();
    if (index < 0 || index >= (int)list.devices.size())
        return nullptr;
    return list.devices[(size_t)index].get();
}

input_device* find_input_device(const char* name)
{
    if (!name)
        return nullptr;
    for (auto& d : the_devices().devices)
        if (strcmp(d->name, name) == 0)
            return d.get();
    return nullptr;
}

void poll_input_devices()
{
    device_list& list = the_devices();
    for (size_t i = 0; i < list.devices.size(); i++) {
        input_device* d = list.devices[i].get();
        if (!d->lost && d->ops && d->ops->poll)
            d->ops->poll(d);
    }
}

void release_input_devices()
{
    log_printf("Closing input devices\n");
    device_list& list = the_devices();
    for (auto& d : list.devices) {
        if (d->open_count > 0) {
            d->open_count = 0;
            if (d->ops && d->ops->close)
                d->ops->close(d.get());
        }
        log_printf("Killing %s\n", d->name);
        if (d->ops && d->ops->release)
            d->ops->release(d.get());
    }
    list.devices.clear();
}

int open_axis(const char* name)
{
    if (!name)
        return -1;
    name = resolve_alias(name);
    char device_name[64];
    int index = 0;
    if (!parse_axis_name(name, device_name, &index))
        return -1;
    input_device* d = find_input_device(device_name);
    if (!d || index < 0 || index >= d->axis_count)
        return -1;

    device_list& list = the_devices();
    size_t slot = 0;
    while (slot < list.axes.size() && list.axes[slot].used)
        slot++;
    if (slot == list.axes.size())
        list.axes.emplace_back();
    list.axes[slot].used = true;
    list.axes[slot].serial = d->serial;
    list.axes[slot].axis = index;
    open_device(d);
    return (int)slot;
}

int read_axis(int handle)
{
    device_list& list = the_devices();
    if (handle < 0 || handle >= (int)list.axes.size() || !list.axes[(size_t)handle].used)
        return 0;
    const axis_slot& s = list.axes[(size_t)handle];
    input_device* d = device_by_serial(s.serial);
    if (!d || d->lost)
        return 0;
    if (d->ops && d->ops->read_axis)
        return d->ops->read_axis(d, s.axis);
    int v = d->axis_value[s.axis];
    if (d->axis_relative[s.axis])
        d->axis_value[s.axis] = 0;
    return v;
}

void close_axis(int handle)
{
    device_list& list = the_devices();
    if (handle < 0 || handle >= (int)list.axes.size() || !list.axes[(size_t)handle].used)
        return;
    axis_slot& s = list.axes[(size_t)handle];
    if (input_device* d = device_by_serial(s.serial))
        close_device(d);
    s.used = false;
}

std::vector<const char*> axis_names()
{
    std::vector<const char*> names;
    for (auto& d : the_devices().devices) {
        if (d->pointer)
            continue;
        for (int i = 0; i < d->axis_count; i++) {
            if (d->axis_relative[i])
                continue;
            char text[256];
            snprintf(text, sizeof text, "%.200s axis %d", d->name, i);
            names.push_back(intern_name(text));
        }
    }
    return names;
}

void input_reset_for_tests()
{
    input_queue_reset_for_tests();
    aliases_reset_for_tests();
    device_list& list = the_devices();
    list.devices.clear();
    list.axes.clear();
}
