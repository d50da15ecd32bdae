// The flaggers' pictures: figures 64 x 128 (aspect 0.5, feet on the bottom
// row) in the poses the flagger rules switch between, and the movements
// between them as animated sequences (".seq"). A one-off movement (the
// starter turning and lowering the board) is played once and holds its
// last picture, because the scene restarts the animation when it switches
// to it; a continuing one (walking, waving a flag) loops.
#pragma once

#include <string>
#include <vector>

#include "mkdata.h"
#include "track_pictures.h"

namespace mkdata {

// One picture file of a flagger, named inside the track directory.
struct flagger_file {
    std::string name;
    bytes data;
};

// The textures the "flaggers" file names, in its order:
// start t0 (board held up), t1 (turning it sideways), t2 (lowering it),
// t3 (walking off), t4 (standing aside); finish t0 (no flag), t1 (the
// crossed flags at half the race), t2 (the white flag of the last lap),
// t3 (the chequered flag); the course flagger standing and waving the
// yellow flag.
extern const char* const start_flagger_names[5];
extern const char* const finish_flagger_names[4];
extern const char* const course_flagger_name;
extern const char* const course_flagger_alert_name;

// Every file the names above need. Empty data marks a picture that could
// not be encoded.
std::vector<flagger_file> flagger_files();

// An animated sequence: "ANIM1", the header, the entries, then every
// picture inline as a predictive RGBA picture. Empty when a picture could
// not be encoded or the pictures differ in size.
bytes seq_bytes(const std::vector<canvas>& pictures, const std::vector<int>& sequence, int ticks_per_frame,
                bool loop);

}  // namespace mkdata
