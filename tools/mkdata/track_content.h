// Everything of a generated track beyond its ground, derived from the
// circuit description and from the ground as the game loads it: the timing
// gates, the track objects (statues, billboards, flaggers, decals) with
// their pictures, shapes and models, the television cameras, the HUD map
// picture; and the shared content the tracks use (the starting gate, the
// points series over the default tracks).
#pragma once

#include <string>
#include <vector>

#include "mkdata.h"
#include "track/heightfield.h"
#include "track_design.h"
#include "track_ground.h"

namespace mkdata {

// --- Timing gates ---------------------------------------------------------------

// A lap's timing as the "timing_gates" file holds it. Checkpoints are in
// lap order: checkpoint 0 is the first after the start/finish point, the
// last one is the finish line at s = 0 (the lap-end gate). Both lap
// sequences name every checkpoint once in that order; the first lap is its
// own sequence so that the start (from the gate in the chute) gets racing
// line sections of its own.
struct gate_layout {
    std::vector<gate_piece> pieces;
    std::vector<design_checkpoint> checkpoints;
    std::vector<int> first_lap, normal_lap;
};

// Gaps between neighbouring checkpoints along the line (ft).
constexpr double checkpoint_gap_min = 100, checkpoint_gap_max = 200, checkpoint_gap_aim = 150;
// Added to half the ribbon width for a checkpoint's radius (ft).
constexpr double checkpoint_margin = 4;

// Arc lengths of a lap's checkpoints in lap order, the finish line (s = 0)
// last: every gap checkpoint_gap_min..checkpoint_gap_max, as near
// checkpoint_gap_aim as the features allow, none on a jump (nor within
// 5 ft of one) and none in whoops unless a row is longer than the gaps.
std::vector<double> timing_checkpoint_stations(const track_design& d);

gate_layout design_gate_layout(const track_design& d);

// The "timing_gates" text. Piece heights are written as 0: the game places
// the gate objects on the ground. Checkpoint heights are the ground's.
std::string timing_gates_text(const gate_layout& t, const heightfield* hf);

// --- Cameras ----------------------------------------------------------------------

struct camera_spot {
    double x, z, height;  // height above the ground, ft
    double fov, autofovsize;
    std::vector<int> gates;  // checkpoints it covers
};

// Cameras beside the track, each covering a run of consecutive checkpoints
// (the approach to each of them), together covering every checkpoint; none
// stands on a ribbon or in the chute.
std::vector<camera_spot> design_cameras(const track_design& d, const gate_layout& t);
std::string cameras_text(const std::vector<camera_spot>& cams);

// --- Map ----------------------------------------------------------------------------

// The HUD map: an RGBA picture of `size` pixels square over the whole
// terrain (column = x, row = z, as the terrain's samples), the ribbon and
// the chute drawn light on a dark outline, the rest transparent, the
// finish line marked.
std::vector<uint8_t> map_pixels(const track_design& d, double extent, int size);

// --- Writing a track ---------------------------------------------------------------

// Writes "timing_gates", "statues", "billboards", "flaggers", "decals",
// "cameras", "map.png" and the pictures, shapes and models the object files
// name into the track's directory. hf is the track's ground (heights only).
bool write_track_content(output& out, const track_design& d, heightfield* hf);

// The objects' files alone (used by write_track_content), given the timing.
bool write_track_objects(output& out, const track_design& d, const gate_layout& timing, heightfield* hf);

// --- Shared content ------------------------------------------------------------------

// "@startgate.qm", "@startgate.ppm" and "@startgate.shp" into the archive.
void add_startgate(output& out);

// The points series over the generated tracks, into the archive as
// series_file_name.
extern const char* const series_file_name;
std::string series_text();
void add_series(output& out);

}  // namespace mkdata
