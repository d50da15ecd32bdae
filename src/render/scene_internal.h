// Shared by the files that draw the scene.
#pragma once

#include "render/gl_caps.h"

// Binds a texture on the active unit, counting the change in the frame's
// statistics.
void scene_bind_texture(unsigned texture);
// A unit enabled with the texture (counted), or switched off for 0; leaves
// that unit active.
void scene_set_unit(GLenum unit, unsigned texture);
// The material and blending of a lit pass: white in the draw alpha (a
// fading ghost's), alpha blended, textures modulated.
void scene_begin_lit_pass();
