// Engine recordings of the default data: a single-cylinder four-stroke and
// a single-cylinder two-stroke dirt bike, recorded at several engine speeds
// with the throttle closed and open, as raw signed 16-bit little-endian
// sample files, the sound tables over them and the class ".braap" files.
#pragma once

#include <string>
#include <vector>

#include "mkdata.h"

namespace mkdata {

// One cell of a generated table: a recording of `periods` engine cycles.
struct engine_recording {
    std::string name;         // data name of the sample file
    float rpm = 0;            // the row's engine speed
    float load = 0;           // 0 closed, 1 open throttle
    int periods = 0;
    std::vector<int> remap;   // playing order of the cycles; empty: in order
    bytes samples;            // signed 16-bit little-endian
};

struct engine_table_design {
    std::string name;         // data name of the table file
    bool four_stroke = false;
    std::vector<float> rpms;  // rows
    std::vector<engine_recording> cells;  // row-major, two columns (closed, open)
};

// The two generated tables, with their recordings.
std::vector<engine_table_design> engine_table_designs();
// The text of a table file.
std::string engine_table_text(const engine_table_design& t);
// The ".braap" text for an engine class ("50", "125", "250", "250f", "450f").
std::string class_braap_text(const std::string& class_name);

// Adds the sample files, tables and class ".braap" files to the archive.
void add_engine_sounds(output& out);

}  // namespace mkdata
