// Fuzz input as a data stream over memory (fmemopen), so the picture
// readers are driven exactly as they are by files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "files/stream.h"

struct memory_input {
    data_stream stream;
    bool open = false;

    memory_input(const uint8_t* data, size_t size)
    {
        if (size == 0)
            return;
        FILE* f = fmemopen(const_cast<uint8_t*>(data), size, "rb");
        if (!f)
            return;
        if (!start_stream(&stream, f, 0, 0x7fffffff, false, false)) {
            fclose(f);
            return;
        }
        open = true;
    }
    ~memory_input()
    {
        if (open)
            end_stream(&stream);
    }
    memory_input(const memory_input&) = delete;
    memory_input& operator=(const memory_input&) = delete;
};
