#include "core/screenshot.h"

#include <cctype>
#include <cstdio>
#include <strings.h>

#include "core/messages.h"
#include "files/datafs.h"
#include "render/picture.h"

namespace {

const char prefix[] = "screenshot";
const int prefix_length = (int)sizeof prefix - 1;
const int most_digits = 9;

}  // namespace

int first_screenshot_number(const char* const* names)
{
    int highest = 0;
    for (const char* const* n = names; n && *n; n++) {
        const char* name = *n;
        if (strncasecmp(name, prefix, (size_t)prefix_length) != 0)
            continue;
        const char* d = name + prefix_length;
        int digits = 0;
        long value = 0;
        while (isdigit((unsigned char)d[digits]) && digits <= most_digits) {
            value = value * 10 + (d[digits] - '0');
            digits++;
        }
        if (digits == 0 || digits > most_digits)
            continue;
        if (value > highest)
            highest = (int)value;
    }
    return highest + 1;
}

void screenshot_name(int n, char out[SCREENSHOT_NAME_MAX])
{
    snprintf(out, SCREENSHOT_NAME_MAX, "screenshot%03d.png", n);
}

bool save_screenshot(screenshot_counter* counter, const unsigned char* rgb, int width, int height)
{
    if (counter->next <= 0)
        counter->next = first_screenshot_number(build_file_index());
    char name[SCREENSHOT_NAME_MAX];
    screenshot_name(counter->next, name);
    counter->next++;
    char path[SCREENSHOT_NAME_MAX + 1];
    snprintf(path, sizeof path, "@%s", name);
    if (!write_png_rgb(path, rgb, width, height)) {
        add_message("Can't save \"%s\"", name);
        return false;
    }
    add_message("Saved \"%s\"", name);
    return true;
}
