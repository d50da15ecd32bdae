// The collision shapes every bike model shares.
#pragma once

#include <string>

#include "mkdata.h"

namespace mkdata {

enum bike_shape_kind {
    shape_frame,
    shape_fork_upper,
    shape_fork_lower,
    shape_swingarm,
    shape_rider,
    shape_front_wheel,
    shape_rear_wheel,
    bike_shape_kinds,
};

// The data name of a shape ("@generic_frame.shp" ...) and its ".shp" text.
const char* bike_shape_name(bike_shape_kind kind);
std::string bike_shape_text(bike_shape_kind kind);

// Adds the seven shapes to the main archive.
void add_bike_shapes(output& out);

}  // namespace mkdata
