// The sky around a track: the five faces of the sky box and the angular
// environment map, all drawn from one function of direction so that the
// faces meet without seams and shiny parts reflect the same sky; the sun in
// it; and the sun's lens flare (its "lighting" lines and the pictures of
// its elements). Deterministic.
#pragma once

#include <cstdint>
#include <string>

#include "mkdata.h"

namespace mkdata {

// Colours are 0..255 per channel.
struct sky_look {
    double zenith[3];
    double horizon[3];  // the haze at the horizon, also the track's fog colour
    double ground[3];   // the land below the horizon, straight down
    double cloud_lit[3], cloud_shade[3];
    double glow[3];      // the light round the sun
    double cloud_cover;  // 0 clear .. 1 overcast
    uint32_t seed;
};

// A clear afternoon with fair-weather clouds, and a warm evening over an
// arena.
sky_look daylight_sky();
sky_look evening_sky();

// Angular radius of the sun's disc (radians): wide enough that the disc
// still covers whole texels when the texture level halves the faces,
// which the lens flare's brightness test needs.
constexpr double sun_disc_radius = 0.04;

// The colour seen along dir (any non-zero length) with the sun toward sun
// (a unit vector), channels 0..255.
void sky_colour(const sky_look& look, const double sun[3], const double dir[3], double rgb[3]);

// The faces in the order the "lighting" file and the sky box take them.
enum { SKY_FACE_COUNT = 5 };
extern const char* const sky_face_names[SKY_FACE_COUNT];  // "sky-n.ppm" .. "sky-u.ppm"
extern const char* const sky_env_name;                     // "sky-env.ppm"

// The sun's lens flare as "lighting" lines: "flare_element" lines along the
// line from the sun through the view centre, tinted by the sun's colour,
// then "flare_vector" toward the sun.
std::string sun_flare_lines(const double sun[3], const double sun_color[3]);

// The faces are drawn as the sky box shows them: square, the picture's
// top row first. The box spans texture coordinates 1/128 to 127/128 over
// each face, so texel centres are spread over slightly more than the face,
// and the two texels either side of a shared edge average to the colour
// at the edge on both faces. The angular environment map looks at
// texture coordinate (s, t) along normalise(x, z) = (s, t) - 1/2, at
// acos(y) = 2 pi |(s, t) - 1/2|: the centre straight up, the horizon a
// quarter of the side from it, the rim and the corners straight down.
//
// The flare element pictures are grey with alpha equal to the brightness,
// so that they add light whether they are blended by alpha or not.
//
// Shared: the default sky faces, "sky-env.ppm" and the flare pictures
// ("flare-sun.png", "flare-disc.png", "flare-ring.png", "flare-hex.png")
// into the archive.
void add_sky_content(output& out, const sky_look& look, const double sun[3]);

// A track's own sky: the five faces and "sky-env.ppm" into dir
// ("stadium/").
bool write_sky(output& out, const std::string& dir, const sky_look& look, const double sun[3]);

}  // namespace mkdata
