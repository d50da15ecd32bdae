// Shared between the height field's own source files; no other module
// includes this.
#pragma once

#include <cstddef>

#include "track/heightfield.h"

// True when the grid size and spacing give a usable record.
bool heightfield_valid_grid(int grid_log2, float spacing, int min_log2);
// Sets the derived grid values and allocates the height arrays, the lighting
// maps and the shading dirty set, all zeroed (out of memory ends the program).
void heightfield_init_grid(heightfield* hf, int grid_log2, float spacing);
// Composes dir + "/" + file into buffer; false when it does not fit.
bool track_file_name(char* buffer, size_t size, const char* dir, const char* file);
// Writes bytes as dir + "/" + file through the data file layer.
bool track_write_file(const char* dir, const char* file, const void* data, size_t size);
// Frees the surfaces only (their kept pictures and keys), not the tile map.
void surface_table_free_surfaces(heightfield* hf);
