// What every read of settings must leave: each setting inside its range,
// each choice naming an entry of its list, each text within its length,
// and every value formatting. Traps otherwise.
#pragma once

#include <cstring>

#include "core/config.h"

inline void fuzz_check_settings()
{
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
}
