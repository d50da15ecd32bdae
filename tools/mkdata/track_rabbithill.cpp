// "Rabbit Hill", the default track: a long start straight into a left
// hairpin, a climb over the rabbit hill in the north-east and a serpentine
// back through the middle, with tabletops, doubles, two rows of whoops
// (one of them in sand) and bermed turns.
#include <cstdio>
#include <cstdlib>

#include "track_design.h"

namespace mkdata {

namespace {

circuit_plan rabbithill_plan()
{
    circuit_plan p;
    p.dir = "rabbithill";
    p.display_name = "Rabbit Hill";
    p.grid_log2 = 9;  // 1025 samples a side
    p.spacing = 1.5;  // 1536 ft square
    p.shoulder = 24;
    p.seed = 0x52414242u;
    p.width = 26;
    // Control points in the direction of travel, x then z (ft).
    p.points = {
        590,  1270,  // 0 start/finish, heading east
        710,  1270,  // 1
        890,  1270,  // 2 end of the start straight
        1028, 1242,  // 3 first turn: a wide left hairpin
        1050, 1193,  // 4
        1028, 1144,  // 5
        925,  1118,  // 6 heading west
        810,  1118,  // 7
        720,  1115,  // 8
        655,  1085,  // 9 right turn to the north
        645,  1020,  // 10
        685,  965,    // 11 right turn to the east
        810,  955,    // 12
        970,  955,    // 13
        1110, 962,    // 14
        1198, 928,    // 15 left turn up the hill
        1232, 848,    // 16
        1242, 720,    // 17
        1250, 590,    // 18
        1258, 470,    // 19
        1235, 380,    // 20 hairpin at the top of the hill
        1158, 342,    // 21 heading west, downhill
        990,  342,    // 22
        830,  348,    // 23
        670,  342,    // 24
        515,  325,    // 25
        415,  365,    // 26 left turn to the south
        392,  450,    // 27
        415,  538,    // 28 left turn to the east
        485,  598,    // 29
        630,  608,    // 30
        810,  602,    // 31
        930,  620,    // 32 right hairpin
        982,  680,    // 33
        942,  740,    // 34 heading west
        810,  762,    // 35
        670,  770,    // 36
        555,  785,    // 37 left turn to the south
        490,  842,    // 38
        478,  940,    // 39
        478,  1080,  // 40
        478,  1170,  // 41 last turn, flat, onto the start straight
        495,  1238,  // 42
        535,  1267,  // 43
    };
    p.first_turn_point = 4;
    // The start straight opens wide where the chute joins it.
    p.widths = {
        {{0, 0}, 52},
        {{1, 40}, 30},
        {{3, 0}, 30},   // a wide first turn
        {{6, 0}, 0},
        {{16, 0}, 24},  // the whoops climb is narrower
        {{19, 0}, 0},
        {{41, -40}, 30},
    };
    p.jumps = {
        // at, kind, height, face angle, deck or gap, landing angle
        {{6, 10}, feature_kind::tabletop, 5.0, 25, 34, 14},
        {{12, 30}, feature_kind::double_jump, 7.0, 28, 55, 16},
        {{21, 40}, feature_kind::tabletop, 8.0, 30, 60, 15},
        {{23, 30}, feature_kind::double_jump, 6.0, 28, 46, 15},
        {{29, 100}, feature_kind::tabletop, 6.0, 27, 40, 15},
        {{30, 120}, feature_kind::double_jump, 5.0, 26, 40, 15},
        {{35, 10}, feature_kind::double_jump, 5.5, 27, 42, 15},
        {{39, -10}, feature_kind::tabletop, 4.5, 24, 36, 13},
    };
    p.whoops = {
        {{16, 20}, 14, 1.5, 15},
        {{40, 0}, 6, 1.2, 13},
    };
    p.grounds = {
        {{2, 60}, {6, 0}, ground_loam},     // the first turn
        {{16, 0}, {18, 60}, ground_sand},   // sand whoops up the hill
        {{20, -40}, {21, 20}, ground_loam}, // the hilltop hairpin
        {{32, 0}, {34, 30}, ground_loam},
    };
    p.flat_turns = {{42, 0}};
    p.chute.gate_pieces = 40;
    p.chute.piece_spacing = 3.5;
    p.chute.gate_distance = 150;
    p.chute.length = 190;
    p.chute.rear_width = 40 * 3.5 + 16;
    p.land.base = 20;
    p.land.hills = {
        {1270, 350, 420, 38},  // the rabbit hill
        {180, 180, 300, 18},
        {1400, 1350, 300, 12},
        {700, 1500, 260, -6},
    };
    p.land.swell_height = 5;
    p.land.swell_length = 700;
    p.land.seed = 0x48494c4cu;
    p.land.flat_x = 480;
    p.land.flat_z = 1270;
    p.land.flat_radius = 150;
    return p;
}

}  // namespace

const track_design& rabbithill_design()
{
    static track_design design;
    static bool built = false;
    if (!built) {
        std::string why;
        if (!build_design(rabbithill_plan(), &design, &why)) {
            fprintf(stderr, "kessrig-mkdata: rabbithill: %s\n", why.c_str());
            abort();
        }
        built = true;
    }
    return design;
}

}  // namespace mkdata
