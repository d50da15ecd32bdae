// "Stadium", the second default track: a tight circuit on the level dirt
// floor of an arena ringed by stands. From the chute in the south-west a
// short start straight runs east into a left-hand first turn; then six
// lanes run north and south, joined by hairpins, each with its own rhythm:
// small tabletops and doubles close together, sand whoops, a big double, a
// step of tables; the last lane swings back onto the start straight.
#include <cstdio>
#include <cstdlib>

#include "track_design.h"

namespace mkdata {

namespace {

circuit_plan stadium_plan()
{
    circuit_plan p;
    p.dir = "stadium";
    p.display_name = "Stadium";
    p.grid_log2 = 9;  // 1025 samples a side
    p.spacing = 1.0;  // 1024 ft square: fine grid for the small jumps
    p.shoulder = 16;
    p.seed = 0x53544144u;
    p.width = 24;
    // Control points in the direction of travel, x then z (ft). The
    // hairpins are half circles of 40 ft radius, five points each.
    p.points = {
        360, 820,  // 0 start/finish, heading east
        480, 820,  // 1
        620, 820,  // 2
        700, 820,  // 3 first turn: left, to the north
        742, 802,  // 4
        760, 760,  // 5 lane A, north: rhythm
        760, 620,  // 6
        760, 480,  // 7
        760, 340,  // 8
        760, 250,  // 9 hairpin, left
        748, 222,  // 10
        720, 210,  // 11
        692, 222,  // 12
        680, 250,  // 13 lane B, south: sand whoops and a table
        680, 380,  // 14
        680, 510,  // 15
        680, 640,  // 16 hairpin, right
        668, 668,  // 17
        640, 680,  // 18
        612, 668,  // 19
        600, 640,  // 20 lane C, north: big double, table
        600, 510,  // 21
        600, 380,  // 22
        600, 250,  // 23 hairpin, left
        588, 222,  // 24
        560, 210,  // 25
        532, 222,  // 26
        520, 250,  // 27 lane D, south: rhythm of doubles
        520, 380,  // 28
        520, 510,  // 29
        520, 640,  // 30 hairpin, right
        508, 668,  // 31
        480, 680,  // 32
        452, 668,  // 33
        440, 640,  // 34 lane E, north: whoops, table
        440, 510,  // 35
        440, 380,  // 36
        440, 250,  // 37 sweeper, left, over to the west lane
        418, 197,  // 38
        365, 175,  // 39
        312, 197,  // 40
        290, 250,  // 41 lane F, south: double, table, a roller
        290, 380,  // 42
        290, 520,  // 43
        290, 650,  // 44
        290, 750,  // 45 last turn, left, onto the start straight
        310, 800,  // 46
    };
    p.first_turn_point = 4;
    p.widths = {
        {{0, 0}, 46},
        {{1, 30}, 28},
        {{5, 40}, 0},
        {{44, 40}, 28},
    };
    p.jumps = {
        // at, kind, height, face angle, deck or gap, landing angle
        // Lane A: a rhythm of tables and doubles.
        {{5, 60}, feature_kind::tabletop, 3.0, 22, 8, 14},
        {{5, 120}, feature_kind::double_jump, 3.5, 24, 16, 15},
        {{5, 190}, feature_kind::tabletop, 3.0, 22, 8, 14},
        {{5, 250}, feature_kind::double_jump, 3.5, 24, 16, 15},
        {{5, 320}, feature_kind::tabletop, 3.0, 22, 10, 14},
        // Lane B.
        {{13, 210}, feature_kind::tabletop, 5.0, 26, 28, 15},
        // Lane C: the big double, then a table.
        {{20, 60}, feature_kind::double_jump, 6.0, 28, 48, 16},
        {{20, 185}, feature_kind::tabletop, 4.0, 25, 24, 14},
        // Lane D: four doubles in a row.
        {{27, 60}, feature_kind::double_jump, 3.0, 24, 14, 15},
        {{27, 122}, feature_kind::double_jump, 3.0, 24, 14, 15},
        {{27, 184}, feature_kind::double_jump, 3.0, 24, 14, 15},
        {{27, 246}, feature_kind::double_jump, 3.0, 24, 14, 15},
        // Lane E: after the whoops, a long table.
        {{34, 175}, feature_kind::tabletop, 5.0, 26, 34, 15},
        // Lane F: a double, the finish table, a roller.
        {{41, 70}, feature_kind::double_jump, 5.0, 27, 40, 15},
        {{41, 185}, feature_kind::tabletop, 4.0, 25, 28, 14},
        {{41, 290}, feature_kind::tabletop, 2.5, 20, 6, 13},
    };
    p.whoops = {
        {{13, 60}, 10, 1.3, 12},
        {{34, 60}, 8, 1.2, 11},
    };
    p.grounds = {
        {{13, 50}, {13, 190}, ground_sand},  // the sand whoops
    };
    p.flat_turns = {};
    p.chute.gate_pieces = 40;
    p.chute.piece_spacing = 3.5;
    p.chute.gate_distance = 150;
    p.chute.length = 190;
    p.chute.rear_width = 40 * 3.5 + 16;
    p.land.base = 10;
    p.land.hills = {
        {60, 60, 180, 14},
        {980, 120, 200, 10},
    };
    p.land.swell_height = 3;
    p.land.swell_length = 500;
    p.land.seed = 0x41524e41u;
    p.land.arena_x0 = 120;
    p.land.arena_x1 = 850;
    p.land.arena_z0 = 130;
    p.land.arena_z1 = 936;
    p.land.arena_corner = 60;
    p.land.arena_rise = 10;
    p.land.arena_rise_width = 40;
    p.land.arena_ground = ground_loam;
    return p;
}

}  // namespace

const track_design& stadium_design()
{
    static track_design design;
    static bool built = false;
    if (!built) {
        std::string why;
        if (!build_design(stadium_plan(), &design, &why)) {
            fprintf(stderr, "kessrig-mkdata: stadium: %s\n", why.c_str());
            abort();
        }
        built = true;
    }
    return design;
}

}  // namespace mkdata
