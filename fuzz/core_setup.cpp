// A bike setup file ("@setups/NAME") over arbitrary bytes, read by the
// console's "readsetup" path over the default configuration. Whatever it
// held, every setting must end inside its range, every choice must name an
// entry of its list, and every value must format.
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/config.h"
#include "fuzz_accept.h"

namespace {

std::string g_file;

void set_up()
{
    if (!g_file.empty())
        return;
    char templ[] = "/tmp/kessrig-fuzz-setup-XXXXXX";
    const char* root = mkdtemp(templ);
    if (!root)
        abort();
    const std::string game = std::string(root) + "/game", home = std::string(root) + "/xdg";
    mkdir(game.c_str(), 0700);
    mkdir(home.c_str(), 0700);
    mkdir((game + "/setups").c_str(), 0700);
    setenv("KZ_HOME", game.c_str(), 1);
    setenv("XDG_DATA_HOME", home.c_str(), 1);
    g_file = game + "/setups/fuzz";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    set_up();
    FILE* f = fopen(g_file.c_str(), "wb");
    if (!f)
        return 0;
    fwrite(data, 1, size, f);
    fclose(f);
    config_set_defaults();
    if (read_setup_file("fuzz"))
        fuzz_accept();
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
