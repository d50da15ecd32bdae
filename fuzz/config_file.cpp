// A configuration file (the setup lines included) read over the defaults;
// afterwards every setting must be inside its range, every choice must
// name an entry of its list, and every value must format.
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_accept.h"
#include "core/config.h"
#include "fuzz_settings.h"
#include "picture_fuzz_input.h"

namespace {

// Whether some line's first word is the key of a setting: the reader
// ignores unknown keys, so a file without one is a file it did not take.
bool names_a_setting(const uint8_t* data, size_t size)
{
    std::string text(reinterpret_cast<const char*>(data), size);
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = text.substr(at, end - at);
        const size_t begin = line.find_first_not_of(" \t");
        if (begin != std::string::npos) {
            const size_t stop = line.find_first_of(" \t=\r", begin);
            const std::string key = line.substr(begin, stop == std::string::npos ? std::string::npos : stop - begin);
            if (find_setting(key.c_str()))
                return true;
        }
        at = end + 1;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    config_set_defaults();
    memory_input in(data, size);
    if (!in.open)
        return 0;
    read_config_stream(&in.stream);
    if (names_a_setting(data, size))
        fuzz_accept();
    fuzz_check_settings();
    return 0;
}
