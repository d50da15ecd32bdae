// A track's centre line: the path a test rider follows round a track that
// has no racing lines of its own, kept as the file "centreline" in the
// track directory. The data generator writes it for every track it makes;
// any track that carries one can be ridden by scripted riders.
//
// The file is text, numbers in the C locale:
//   "centreline 1\n"
//   "step S loop_start L closed C count N\n"
//   then N lines "X Y Z WIDTH SPEED_LIMIT"
// Points [0, L) are the lead-in from the starting gate; the loop follows.
#pragma once

#include <string>

#include "robot/scripted_rider.h"

struct data_stream;
struct heightfield;

enum { CENTRE_LINE_MAX_POINTS = 100000 };

// What a rider of the line wants of it.
struct centre_line_options {
    bool lead_in = true;                // keep the lead-in from the gate
    const heightfield* ground = nullptr;  // heights from this ground instead of the file's
};

// The text of the file for a path.
std::string centre_line_text(const rider_path& path);

// Reads the file of a track directory ("rabbithill": "@rabbithill/centreline";
// a name holding "/" is a path). False with the reason for a track without
// one or a broken file.
bool centre_line_load(const char* track_dir, const centre_line_options& o, rider_path* out, std::string* why);
// The same over an open stream; name goes into the reason.
bool centre_line_read(data_stream* in, const char* name, const centre_line_options& o, rider_path* out,
                      std::string* why);
