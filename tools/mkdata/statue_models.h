// Statues that only dress the track: a banner stretched between two posts
// and the podium by the finish, with their textures; and the normal and
// specular maps that the shader programs light the statues with (the tuff
// blocks' plastic cover, the straw of the bales, the podium's paint).
//
// Model normal maps are in the models' texture space: red along the
// picture's width, green up the picture, blue out of the surface. Specular
// maps hold the shine's colour and, in alpha, its exponent / 128.
#pragma once

#include "qm_writer.h"
#include "track_pictures.h"

namespace mkdata {

// The banner frame: a banner 8 ft wide and 2 ft high, its foot 3.2 ft up,
// between two posts 6 ft tall; the banner faces -z and reads from the
// front. Its texture holds the banner above and the posts' steel below.
constexpr double banner_frame_width = 8.6;
qm_model banner_frame_model();
canvas banner_frame_texture(const canvas& banner);

// The podium: three steps side by side, 12 ft wide and 4 ft deep, the
// winner's 3 ft high in the middle, the second's on the right and the
// third's on the left as seen from the front (-z), numbered on their
// faces.
constexpr double podium_width = 12, podium_depth = 4;
qm_model podium_model();
canvas podium_texture();

// The tuff blocks' cover in a colour (a white band and a seam, dirt toward
// the bottom) and the bales' straw with two twine bands (64 x 64, RGB).
canvas tuffblock_texture(uint32_t colour);
canvas haybale_texture();

// Normal and specular maps: the tuff blocks' (one pair for every colour,
// found through the model's name), the bales' and the podium's.
canvas tuffblock_normal_map();
canvas tuffblock_specular_map();
canvas haybale_normal_map();
canvas haybale_specular_map();
canvas podium_normal_map();
canvas podium_specular_map();

}  // namespace mkdata
