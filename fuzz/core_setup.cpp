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
#include "fuzz_dirs.h"
#include "fuzz_settings.h"

namespace {

std::string g_file;

void set_up()
{
    if (g_file.empty())
        g_file = fuzz_data_dirs("setup", "setups") + "/fuzz";
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
    fuzz_check_settings();
    return 0;
}
