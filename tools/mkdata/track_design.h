// The description of a motocross circuit from which the data generator
// builds a track: a closed centre line with the ribbon's width, its design
// heights, its surfaces and the features placed along it, plus the start
// chute with the starting gate and the lie of the land around it.
//
// Everything later derived from a track (terrain, tile map, timing gates,
// starting gate, objects, cameras, racing lines) reads this one record.
//
// Units and directions:
// - Feet everywhere. x and z are the terrain's horizontal grid axes (grid
//   sample (col, row) stands at x = col * spacing, z = row * spacing), y is up.
// - The centre line is a closed curve sampled at `station_step` (about half a
//   foot). Arc length s runs from 0 to `length` in the direction of travel
//   and wraps; s = 0 is the start/finish point, where the start chute joins
//   the loop.
// - "Lateral" offsets are measured toward the rider's right: with the unit
//   tangent (tx, tz) the right-hand direction is (-tz, tx). (A bike at rest
//   faces -z with +x to its right; facing angle a turns it to face
//   (-sin a, -cos a).)
// - Curvature is signed: positive while the line turns to the rider's right.
// - Heights: `grade` is the centre line's base height without features;
//   `offset` is what the features add along the line (jumps, whoops), the
//   same across the ribbon; the bank of a berm adds a cross profile rising
//   toward the outside of the turn (design_height).
#pragma once

#include <string>
#include <vector>

namespace mkdata {

// Ground kinds of the ribbon and its surroundings. The tile set of a track
// starts with one plain surface per kind, in this order.
enum ground_kind { ground_grass = 0, ground_dirt = 1, ground_loam = 2, ground_sand = 3, ground_kinds = 4 };

enum class feature_kind {
    start_straight,  // from the start/finish point to the first turn
    first_turn,      // the first corner after the start (also a berm)
    berm,            // a banked turn; the outside of the turn is raised
    flat_turn,       // a turn left without bank
    tabletop,        // take-off face, flat deck, landing
    double_jump,     // take-off, a gap down to the ground, landing
    whoops,          // a row of small rounded bumps
};

// One feature of the circuit. s_begin..s_end is where it lies along the
// centre line (s_end may exceed the lap length for a feature that spans the
// start/finish point; it never does for jumps and whoops).
struct track_feature {
    feature_kind kind;
    double s_begin = 0, s_end = 0;
    // Jumps: crest height above the grade (ft); whoops: bump height; berms:
    // height of the outside edge above the inside.
    double height = 0;
    // Jumps: angle of the take-off face at the lip, degrees; berms: bank at
    // the outside edge, degrees.
    double face_deg = 0;
    // Jumps, measured along the line: take-off face, then the deck
    // (tabletop) or the gap from lip to landing crest (double), then the
    // landing slope down to the grade, whose steepest angle is landing_deg.
    double takeoff_length = 0, top_length = 0, landing_length = 0;
    double landing_deg = 0;
    double s_lip = 0;      // jumps: the take-off lip
    double s_landing = 0;  // jumps: the landing crest (start of the down slope)
    // Whoops: number of bumps and their spacing (ft).
    int bump_count = 0;
    double bump_spacing = 0;
    // Turns: +1 turning right, -1 turning left; the smallest radius (ft).
    int direction = 0;
    double radius = 0;
};

// The centre line sampled at one station.
struct track_station {
    double s = 0;          // arc length, ft
    double x = 0, z = 0;   // position, ft
    double tx = 0, tz = 0; // unit tangent, direction of travel
    double curvature = 0;  // 1/ft, positive turning right
    double width = 0;      // ribbon width, ft
    double grade = 0;      // base height of the centre line, ft
    double offset = 0;     // feature height along the line, ft
    double bank = 0;       // berm: height of the outside edge above the inside, ft
    int bank_side = 0;     // +1 when the outside of the turn is the rider's right
    int ground = ground_dirt;
};

// A broad hill or hollow of the landscape (a smooth bump of the given
// height, negative for a hollow, falling to 0 at the radius).
struct land_hill {
    double x, z, radius, height;
};

// The land the circuit is laid on. The terrain synthesis adds finer natural
// noise to it; the grade of the centre line follows it, smoothed.
struct landform {
    double base = 0;            // ft
    std::vector<land_hill> hills;
    double swell_height = 0;    // amplitude of the low rolling swell, ft
    double swell_length = 600;  // its wavelength, ft
    unsigned seed = 1;
    // Near this point (the start area) the land is levelled to `base`.
    double flat_x = 0, flat_z = 0, flat_radius = 0;
    // An arena (a stadium floor): inside the rectangle arena_x0..arena_x1,
    // arena_z0..arena_z1 with corners rounded to arena_corner the land is
    // level at `base` without natural noise and its ground off the ribbon
    // is arena_ground; beyond the edge it rises by arena_rise over
    // arena_rise_width (the banks of the stands). No arena while
    // arena_x1 <= arena_x0.
    double arena_x0 = 0, arena_z0 = 0, arena_x1 = 0, arena_z1 = 0, arena_corner = 0;
    double arena_rise = 0, arena_rise_width = 40;
    int arena_ground = ground_loam;
};

// The start chute runs straight back from s = 0 against the direction of
// travel; the starting gate stands across it.
struct start_chute {
    double length = 0;        // from s = 0 back to the chute's rear edge, ft
    double gate_distance = 0; // from s = 0 back to the gate line, ft
    int gate_pieces = 0;      // pieces side by side across the chute
    double piece_spacing = 0; // ft between neighbouring pieces
    double rear_width = 0;    // chute width from its rear edge to beyond the gate, ft
};

// The stand position of one starting gate piece and the facing angle of
// the bike behind it (radians, as the timing gate file stores it).
struct gate_piece {
    double x, z, angle;
};

struct track_design {
    std::string dir;           // track directory name, e.g. "rabbithill"
    std::string display_name;  // first line of "desc"
    double length = 0;         // lap length along the centre line, ft
    double station_step = 0;   // length / stations.size()
    std::vector<track_station> stations;  // station k at s = k * station_step
    std::vector<track_feature> features;  // sorted by s_begin
    start_chute chute;
    landform land;
    // Terrain grid: 2^(grid_log2 + 1) + 1 samples per side at `spacing`.
    int grid_log2 = 9;
    double spacing = 1.5;
    double shoulder = 24;      // blend from the ribbon edge into the land, ft
    unsigned seed = 1;         // natural noise of the terrain
};

// --- Building a design ----------------------------------------------------

// What a designer writes down: control points of the closed centre line in
// the direction of travel (point 0 is the start/finish point), and the
// features, widths and surfaces placed at arc lengths measured from a
// control point (so moving a point keeps them where they belong).
struct plan_place {
    int point;      // control point index
    double offset;  // ft along the line from that point
};

struct plan_jump {
    plan_place at;          // start of the take-off face
    feature_kind kind;      // tabletop or double_jump
    double height, face_deg, top_length, landing_deg;
};

struct plan_whoops {
    plan_place at;
    int count;
    double height, spacing;
};

struct plan_width {
    plan_place at;
    double width;  // the width reached here; interpolated smoothly between keys
};

struct plan_ground {
    plan_place from, to;
    ground_kind ground;
};

struct circuit_plan {
    std::string dir, display_name;
    std::vector<double> points;  // x0, z0, x1, z1, ... (ft)
    double width = 26;           // default ribbon width (ft)
    std::vector<plan_width> widths;
    std::vector<plan_jump> jumps;
    std::vector<plan_whoops> whoops;
    std::vector<plan_ground> grounds;
    std::vector<plan_place> flat_turns;  // turns at these places get no bank
    int first_turn_point = 0;            // a control point inside the first turn
    start_chute chute;
    landform land;
    int grid_log2 = 9;
    double spacing = 1.5;
    double shoulder = 24;
    unsigned seed = 1;
};

// Builds the design from a plan: samples the centre line, places the
// features, derives berms from the curvature, the grade from the land.
// Returns false (with the reason in *why) when the plan is unusable (fewer
// than four points, a feature off the lap, overlapping jumps).
bool build_design(const circuit_plan& plan, track_design* design, std::string* why);

// The default track.
const track_design& rabbithill_design();
// The second default track, a tight circuit inside an arena.
const track_design& stadium_design();

// --- Queries --------------------------------------------------------------

// s wrapped into 0..length.
double design_wrap(const track_design& d, double s);

// The centre line at arc length s (wrapped), interpolated between stations:
// position, tangent (normalised), curvature, width, grade, offset, bank,
// ground of the nearer station.
track_station design_station_at(const track_design& d, double s);

// Design height of the ribbon at arc length s and lateral offset (to the
// right): grade + offset + the berm's cross profile. Beyond the ribbon edge
// the edge height continues (the terrain blends it into the land).
double design_height(const track_design& d, double s, double lateral);
// The same for a station already looked up.
double station_height(const track_station& st, double lateral);

// Where a point lies relative to the centre line.
struct design_place {
    int station = -1;    // nearest loop station, or -1 when the chute is nearer
    double s = 0;        // arc length of the foot point (negative in the chute)
    double lateral = 0;  // signed offset to the right, ft
    double distance = 0; // horizontal distance to the foot point, ft
};

// The part of the track a point belongs to: the nearest point of the
// loop's centre line, or of the chute's when the point lies deeper inside
// the chute's ribbon than inside the loop's (or less far outside it).
// Brute force over the stations: fine for placing objects, not for every
// terrain sample.
design_place design_nearest(const track_design& d, double x, double z);

// Chute: the centre line extended straight back from s = 0 (s < 0), its
// width at s, and whether (s, lateral) lies on its dirt.
void design_chute_point(const track_design& d, double s, double* x, double* z);
double design_chute_width(const track_design& d, double s);

// Starting gate piece i (0 .. gate_pieces - 1, from the rider's left to
// right); the bike behind it faces down the chute.
gate_piece design_gate_piece(const track_design& d, int i);

// A timing checkpoint across the ribbon at arc length s: centred on the
// line, crossed in the direction of travel (dx, dz is the unit tangent),
// radius half the ribbon width plus margin so a rider at the edge counts.
struct design_checkpoint {
    double s, x, z, dx, dz, radius;
};
design_checkpoint design_checkpoint_at(const track_design& d, double s, double margin);

// Arc lengths for one lap's checkpoints, in the order a lap passes them:
// about every `gap` ft (at most 1.5 gap apart), moved off the jumps and
// whoops so none stands on a face or a landing, and last the finish line
// at s = 0 (the lap-end gate).
std::vector<double> design_checkpoint_stations(const track_design& d, double gap);

// Height of the land (hills, swell, levelled start area, arena) without
// noise.
double design_land_height(const track_design& d, double x, double z);

// How far inside the arena's edge a point lies (ft; negative outside); a
// large negative number when the land has no arena.
double design_arena_depth(const track_design& d, double x, double z);

const char* feature_kind_name(feature_kind k);

// Smooth gradient noise: about -1..1, features about 1 unit across, the
// same for the same seed on every run (integer hashing, no library random).
double smooth_noise(unsigned seed, double x, double y);
// Sum of octaves of smooth_noise: the first of wavelength `wavelength` (ft)
// and amplitude 1, each next one of half the wavelength and `gain` times the
// amplitude.
double fractal_noise(unsigned seed, double x, double z, double wavelength, int octaves, double gain);

}  // namespace mkdata
