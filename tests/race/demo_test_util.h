// Shared by the demo tests: clean ride state, the build's game data under a
// home of the test's own, and demo files written byte by byte.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "bike/physics.h"
#include "core/game.h"
#include "core/messages.h"
#include "core/settings.h"
#include "files/datafs.h"
#include "race/demo.h"
#include "race/race.h"
#include "race/world.h"
#include "test_support.h"
#include "track/erosion.h"
#include "track/track.h"

namespace demo_test {

// Every record a ride touches back to its start-up values.
// A fresh world for the test: every record a ride touches at its start-up
// values.
inline void fresh_state()
{
    world_destroy(tw);
    tw = world_create();
}

// A home of the test's own over the build's game data (its tracks and
// archive linked in), the physics world and the demo hooks.
struct game_data {
    test::data_dirs_fixture dirs;

    game_data()
    {
        const std::string data = test::build_data_dir();
        for (const char* name : {"zzzz.saf", "rabbithill", "stadium"})
            if (symlink((data + "/" + name).c_str(), (dirs.game + "/" + name).c_str()) != 0)
                ADD_FAILURE() << "can't link " << name;
        free_file_index();
        clear_messages();
        track_list_build(0);
        fresh_state();
    }

    ~game_data()
    {
        world_destroy(tw);
        tw = nullptr;
        track_list_free();
        free_file_index();
        clear_messages();
    }

    std::string home_file(const std::string& rel) const { return dirs.home + "/" + rel; }
};

// ---- demo bytes ---------------------------------------------------------------------

inline void put32(std::string* out, uint32_t v)
{
    for (int i = 0; i < 4; i++)
        out->push_back((char)(uint8_t)(v >> (8 * i)));
}

inline uint32_t get32(const std::string& s, size_t at)
{
    uint32_t v = 0;
    for (int i = 0; i < 4; i++)
        v |= (uint32_t)(uint8_t)s[at + (size_t)i] << (8 * i);
    return v;
}

// A snapshot whose first bytes tell where it came from.
inline bike_snapshot marked(int a, int b)
{
    bike_snapshot s;
    s.bytes[0] = (uint8_t)a;
    s.bytes[1] = (uint8_t)b;
    s.bytes[2] = 0x5a;
    return s;
}

// Version 6 blocks with the length chain.
struct block_writer {
    std::string bytes;
    uint32_t last = 0;

    void block(int type, int tick, const std::string& payload)
    {
        put32(&bytes, (uint32_t)payload.size() ^ last);
        put32(&bytes, (uint32_t)tick);
        bytes.push_back((char)type);
        bytes += payload;
        last = (uint32_t)payload.size();
    }

    // A states block: (rider, tick, snapshot) entries.
    struct entry {
        int rider, tick;
        bike_snapshot s;
    };
    void states(int tick, const std::vector<entry>& entries)
    {
        std::string payload;
        for (const entry& e : entries) {
            payload.push_back((char)e.rider);
            put32(&payload, (uint32_t)e.tick);
            payload.append((const char*)e.s.bytes, BIKE_SNAPSHOT_SIZE);
        }
        block(demo_block_states, tick, payload);
    }
};

// A header: first line, track, then riders (version 6 adds the name and the
// empty line).
inline std::string header(const std::string& first, const std::string& track, int version, int riders)
{
    std::string h = first + "\n" + track + "\n";
    for (int i = 0; i < riders; i++) {
        h += "rm125|rider" + std::to_string(i) + "||wheels-" + std::to_string(i) + "|helmet\n";
        h += std::to_string(10 + i) + "\n";
        if (version == 6)
            h += "Rider " + std::to_string(i) + "\n\n";
    }
    return h;
}

// Blocks of a version-6 file after its header, walked along the chain:
// (type, tick, payload length). Stops at a block cut short.
struct block_info {
    int type, tick;
    uint32_t length;
    size_t offset;
};
inline std::vector<block_info> walk_blocks(const std::string& file, size_t start)
{
    std::vector<block_info> out;
    uint32_t last = 0;
    size_t at = start;
    while (at + 9 <= file.size()) {
        block_info b;
        b.length = get32(file, at) ^ last;
        b.tick = (int)get32(file, at + 4);
        b.type = (uint8_t)file[at + 8];
        b.offset = at;
        if (at + 9 + b.length > file.size())
            break;
        out.push_back(b);
        last = b.length;
        at += 9 + b.length;
    }
    return out;
}

// Where the blocks of a version-6 file start: after the header's lines.
inline size_t data_start(const std::string& file, int riders)
{
    size_t at = 0;
    auto line = [&]() {
        const size_t n = file.find('\n', at);
        const std::string text = file.substr(at, n - at);
        at = n + 1;
        return text;
    };
    line();
    line();
    for (int i = 0; i < riders; i++) {
        line();
        line();
        line();
        while (!line().empty()) {
        }
    }
    return at;
}

inline std::vector<std::string> messages()
{
    std::vector<std::string> out;
    for (int i = 0; i < g_messages.next; i++)
        out.push_back(g_messages.ring[i]);
    return out;
}

inline bool said(const std::string& text)
{
    for (const std::string& m : messages())
        if (m.find(text) != std::string::npos)
            return true;
    return false;
}

}  // namespace demo_test
