// The art every bike of the catalogue wears: which model stems and bike
// textures exist, the makers' colour schemes and number plates, the layout
// of the bike, wheel, rider and helmet textures (shared by the models that
// map into them), and the textures themselves.
//
// Texture layouts are rectangles of the picture in model texture
// coordinates (v = 1 is the picture's top row). Every bike texture of the
// catalogue shares one layout, so one set of models serves every maker.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "mkdata.h"
#include "qm_writer.h"
#include "track_pictures.h"

namespace mkdata {

// The kinds of engine a stem's models show; the catalogue's classes map
// onto them (the two-stroke classes "250", "125" and "50" share one).
enum class engine_kind { four_stroke, two_stroke };

// One model stem of the catalogue: its files are "@" + stem + "_frame.qm"
// and so on. class_name is the class of the first catalogue model using it.
struct bike_stem {
    std::string stem;
    std::string class_name;
    engine_kind engine;
    int maker;  // index into the makers
};
// Every distinct stem, in catalogue order.
const std::vector<bike_stem>& bike_stems();

// One bike texture the catalogue names ("@450sxfv2016.png" ...), without
// the "@": its maker, its class (for the number plate) and whether it is a
// special edition.
struct bike_livery {
    std::string texture;  // archive member name
    std::string class_name;
    int maker;
    bool special;
};
const std::vector<bike_livery>& bike_liveries();

// Number plates: background and figure colours (bytes) for a class; the
// bike texture paints its plates with the background and carries both in
// its attached text, as the bike loader reads them.
struct plate_colours {
    uint8_t background[3];
    uint8_t figures[3];
};
plate_colours class_plate_colours(const std::string& class_name);

// --- Bike texture layout (512 x 512) --------------------------------------
namespace bike_uv {
extern const qm_uv_rect shroud_right, shroud_left, side_panel, plate, plastic, plastic_second, seat, frame, engine,
    radiator, fork_outer, fork_inner, swingarm, chain, spring, silencer, rubber, chrome, bar_pad;
}
constexpr int bike_texture_size = 512;

// --- Wheel texture layout (256 x 256, with alpha) -------------------------
namespace wheel_uv {
// The spoke disc is a circle inscribed in its rectangle: hub in the middle,
// spokes out to the rim; transparent between the spokes.
extern const qm_uv_rect spokes, brake_disc, sprocket, tread, sidewall, rim, hub, knob, metal;
}

// --- Rider texture layout (512 x 512) ---------------------------------------
namespace rider_uv {
// torso: u around the body from the right side over the chest (0.25), the
// left side (0.5) and the back (0.75); v from the seat up to the collar.
extern const qm_uv_rect torso, sleeve, glove, pants, boot, collar;
}

// --- Helmet texture layout (256 x 256) ----------------------------------------
namespace head_uv {
// shell: u around from the back over the right side (0.25), the face (0.5)
// and the left side; v from the rim up to the crown.
extern const qm_uv_rect shell, peak, chin, strap, lens, goggle_frame, inside;
}

// Adds every bike texture with its normal and specular maps, the wheel,
// rider and helmet textures and their variants to the main archive.
void add_bike_textures(output& out);

// The pictures themselves (for the tests and the previews).
canvas bike_texture(const bike_livery& livery, int scheme);
canvas wheel_texture(int scheme);
canvas rider_texture(int scheme);
canvas head_texture(int scheme);
std::string bike_texture_text(const bike_livery& livery);

}  // namespace mkdata
