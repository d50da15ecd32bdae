// Fills the seams through which the simulation asks for pictures and
// models (core/services.h) with the renderer's loaders.
#pragma once

#include "core/settings.h"

// Everything below, plus the settings of the texture loader, the models and
// the scene from the derived rendering parameters, and the track load's
// generation hooks (a new track's pictures and models replace the old).
void render_install_services(const render_params& params, bool no_vertex_arrays, int debug);

// The texture seam alone. Tile pictures are kept in memory when the
// terrain is textured in memory (decided at each track load).
void render_install_texture_service();
