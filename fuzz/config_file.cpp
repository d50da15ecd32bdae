// A configuration file (the setup lines included) read over the defaults;
// afterwards every setting must be inside its range, every choice must
// name an entry of its list, and every value must format.
#include <cstdint>
#include <cstring>

#include "core/config.h"
#include "picture_fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    config_set_defaults();
    memory_input in(data, size);
    if (!in.open)
        return 0;
    read_config_stream(&in.stream);
    int count = 0;
    const setting* table = settings_table(&count);
    char text[4096];
    for (int i = 0; i < count; i++) {
        const setting& s = table[i];
        if (s.kind == setting_slider || s.kind == setting_number) {
            const double v = *(const double*)s.value;
            if (!(v >= s.minimum && v <= s.maximum))
                __builtin_trap();
        } else if (s.kind == setting_choice) {
            const int v = *(const int*)s.value;
            if (!(s.flags & setting_pending_text) && !setting_choice_name(&s, v))
                __builtin_trap();
        } else if (s.kind == setting_text) {
            if (strlen((const char*)s.value) > (size_t)s.text_max)
                __builtin_trap();
        }
        setting_format(&s, text, sizeof text);
    }
    return 0;
}
