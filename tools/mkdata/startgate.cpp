// The starting gate piece every track's "timing_gates" places once per
// start position: its model, texture and collision shape.
//
// The game stands each piece 3 ft in front of its start position, facing
// down the chute (-z of the piece), and turns it about its local x axis by
// the drop amount times 0.589 rad: fully up at 1, as modelled at 0. So the
// piece is modelled dropped: a steel plate hinged across the origin, lying
// forward on the ground; raising it by 0.589 rad (right-handed about +x,
// which lifts the forward end) tilts it up in front of the front wheel.
// Its spheres sink into the ground so that a dropped gate is only a low
// bump to ride over.
#include <cstdio>
#include <cstdlib>

#include "qm_writer.h"
#include "track_content.h"
#include "track_pictures.h"

namespace mkdata {

namespace {

const float plate_width = 3.3f;    // a little under the 3.5 ft between pieces
const float plate_length = 1.75f;  // from the hinge to the front edge
const float plate_thickness = 0.1f;

qm_model startgate_model()
{
    qm_model m;
    qm_part plate;
    plate.shininess = 40;
    plate.specular[0] = plate.specular[1] = plate.specular[2] = 0.5f;
    // The plate: texture v runs from the hinge (0) to the front edge (1),
    // where the picture's warning stripes are.
    const float lo[3] = {-plate_width / 2, 0.0f, -plate_length};
    const float hi[3] = {plate_width / 2, plate_thickness, 0.0f};
    qm_uv_rect sides{0, 0, 1, 0.15f};
    qm_uv_rect top{0, 0, 1, 1};
    qm_add_box(&plate, lo, hi, sides, top);
    // The hinge bar and two feet that hold it.
    const float hinge[3] = {0, 0.08f, 0.05f};
    qm_add_cylinder(&plate, 0, hinge, 0.08f, plate_width + 0.1f, 10, qm_uv_rect{0, 0.2f, 1, 0.3f},
                    qm_uv_rect{0, 0.2f, 0.1f, 0.3f});
    for (float x : {-1.45f, 1.45f}) {
        const float flo[3] = {x - 0.08f, 0.0f, -0.05f}, fhi[3] = {x + 0.08f, 0.16f, 0.25f};
        qm_add_box(&plate, flo, fhi, qm_uv_rect{0, 0.2f, 0.2f, 0.3f}, qm_uv_rect{0, 0.2f, 0.2f, 0.3f});
    }
    m.parts.push_back(plate);
    return m;
}

std::string startgate_shape()
{
    // Three rows of four spheres under the plate, steel on steel.
    std::string text = "12\n";
    char line[160];
    for (float z : {-0.35f, -0.95f, -1.55f})
        for (float x : {-1.2f, -0.4f, 0.4f, 1.2f}) {
            snprintf(line, sizeof line, "%f %f %f %f %f %f %f\n", (double)x, -0.18, (double)z, 0.3, 0.6, 10000.0,
                     500.0);
            text += line;
        }
    return text;
}

}  // namespace

void add_startgate(output& out)
{
    qm_model m = startgate_model();
    std::string why;
    if (!qm_check(m, &why)) {
        // A programming error in the model above; the data set would be
        // unusable, so stop here.
        fprintf(stderr, "kessrig-mkdata: bad starting gate model: %s\n", why.c_str());
        abort();
    }
    add_text_member(out, "startgate.qm", qm_text(m));
    add_member(out, "startgate.ppm", canvas_ppm(startgate_texture()));
    add_text_member(out, "startgate.shp", startgate_shape());
}

}  // namespace mkdata
