// The bike models: for every model stem of the catalogue the frame, fork
// upper, fork lower, swingarm, side plates and front plate; the two wheels;
// each with coarser levels of detail beside it ("_lod5" at 32 ft, "_lod7"
// at 128 ft).
//
// A part is laid out in the bike's rest frame from the catalogue's
// geometry (wheels, body positions, steering axis, rider figure) and stored
// relative to its body's position, as the bike assembly places the bodies
// (identity rotation at rest). So a model sits where its body is drawn and
// the catalogue decides the wheelbase, the seat and where the rider's hands
// and feet go.
#pragma once

#include <string>

#include "bike/catalogue.h"
#include "bike_art.h"
#include "qm_writer.h"

namespace mkdata {

enum class bike_part { frame, fork_upper, fork_lower, swingarm, side_plates, front_plate };

// Levels of detail: 0 the full model, 1 and 2 coarser (fewer sides on the
// tubes, small parts left out).
constexpr int bike_lod_levels = 3;
// The "_lod" number of each coarser level (the chain's distance is 2^k ft).
extern const int bike_lod_numbers[bike_lod_levels];

// The height of the seat's top above the rider body's hips at rest: the
// rider stands on the pegs over it.
constexpr float seat_below_hips = 0.62f;

// A model of one part for the stem's engine and the catalogue geometry p.
// Frame, fork upper, fork lower and swingarm map into the bike texture
// layout; the plates carry the number-plate texture (the whole picture on
// each number: the front one read from ahead, the side ones from each side).
qm_model bike_part_model(bike_part part, engine_kind engine, const bike_params& p, int lod);
// The wheels, about their axles, in the wheel texture layout.
qm_model wheel_model(bool front, const bike_params& p, int lod);

// File name of a part ("crf250_frame.qm"), with "_lodK" for a coarser level.
std::string bike_part_file(const std::string& stem, bike_part part, int lod);

// Writes every stem's parts and the wheels, with their levels, into the
// archive.
void add_bike_models(output& out);

// Adds a model file to the archive, gzip-compressed (member name + ".gz").
void add_model_member(output& out, const std::string& name, const std::string& text);

// Exits the generator (a programming error) when a model fails qm_check.
void require_model(const qm_model& m, const std::string& name);

}  // namespace mkdata
