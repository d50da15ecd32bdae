// Message lines seen by the bike tests.
#pragma once

#include <string>
#include <vector>

#include "core/messages.h"

namespace bike_test {

// Lines added since the last clear_messages(), oldest first, without the
// trailing newline.
inline std::vector<std::string> messages()
{
    std::vector<std::string> out;
    for (int i = 0; i < g_messages.next && i < MESSAGE_RING; i++) {
        std::string line = g_messages.ring[i];
        if (!line.empty() && line.back() == '\n')
            line.pop_back();
        out.push_back(line);
    }
    return out;
}

}  // namespace bike_test
