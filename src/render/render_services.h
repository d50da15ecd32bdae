// Fills the seams through which the simulation asks for pictures and
// models (core/services.h) with the renderer's loaders.
#pragma once

// software_tiles: the terrain is textured in memory, so the surface table
// keeps its tile pictures instead of uploading them.
void render_install_texture_service(bool software_tiles);
