// The starting gate piece every track's "timing_gates" places once per
// start position: its model, texture and collision shape.
//
// The game stands each piece 3 ft in front of its start position, facing
// down the chute (-z of the piece), and turns it about its local x axis by
// the drop amount times 0.589 rad: fully up at 1, as modelled at 0. The
// front tyre of a bike on the first row stands about 3.5 ft behind the
// piece's origin. A turn of a third of a right angle cannot stand a plate up
// into a wall (the old flat plate rose into a ramp the bikes rode over), so
// the piece is a drop bar: two arms hinged at the origin at the piece's
// edges carry a striped board across the whole width. Raised, the arms
// climb forward and the board hangs above the front axle a little more than
// 3 ft ahead of the origin: a wheel meets it above its centre and cannot
// climb it. Dropped, the arms point slightly into the ground and the board
// lies buried deeper than its collision spheres reach, so the bikes ride
// over a flat chute.
//
// The geometry is laid out in the raised pose, as the riders see it before
// the start, and turned back by the raise angle into the model's own
// (dropped) frame.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "qm_writer.h"
#include "track_content.h"
#include "track_pictures.h"

namespace mkdata {

namespace {

const double pi = 3.14159265358979323846;

// The race's turn of a raised piece about its hinge.
const double raise_angle = 0.58904862;
// How far below the ground the arms point when the gate is down; raised
// they climb at raise_angle minus this.
const double drop_angle = 8.75 * pi / 180.0;
// Hinge to the board's centre line.
const double arm_length = 3.75;
const double arm_climb = raise_angle - drop_angle;

// Across the piece: the pieces stand 3.5 ft apart, so neighbouring boards
// meet in one bar across the chute, and the end spheres of neighbouring
// pieces touch.
const float piece_half_width = 1.75f;
const float half_width = 1.73f;   // the board's half length
const float arm_x = 1.63f;        // the arms' centre lines
const float arm_thickness = 0.1f; // across the piece
const float arm_depth = 0.14f;    // across the arm's own length
// The board: upright when raised, its collision spheres as wide as it is
// tall.
const float board_height = 0.46f;
const float board_thickness = 0.12f;
const float bar_radius = 0.25f;
const float bar_spacing = 0.25f;  // sphere to sphere at most, no wider than the radius
const float arm_radius = 0.1f;
// Steel: painted, a little slippery for a tyre.
const float steel_friction = 0.4f;
const float steel_spring = 10000.0f;
const float steel_damping = 500.0f;

// The board's centre line in the raised pose (y up, z forward negative).
double board_y()
{
    return arm_length * std::sin(arm_climb);
}
double board_z()
{
    return -arm_length * std::cos(arm_climb);
}

// A point of the raised pose in the model's (dropped) frame.
void dropped(double y, double z, float* out_y, float* out_z)
{
    const double c = std::cos(-raise_angle), s = std::sin(-raise_angle);
    *out_y = (float)(y * c - z * s);
    *out_z = (float)(y * s + z * c);
}

// The picture's regions: the warning stripes along its top rows, plain
// grooved steel below.
const qm_uv_rect stripes{0.0f, 0.85f, 1.0f, 0.995f};
const qm_uv_rect steel{0.0f, 0.2f, 1.0f, 0.55f};
const qm_uv_rect steel_end{0.0f, 0.2f, 0.15f, 0.55f};

qm_model startgate_model()
{
    qm_model m;
    qm_part gate;
    gate.shininess = 40;
    gate.specular[0] = gate.specular[1] = gate.specular[2] = 0.5f;

    // The board: striped on its faces toward and away from the riders,
    // plain steel on its edges.
    const float by = (float)board_y(), bz = (float)board_z();
    const float blo[3] = {-half_width, by - board_height / 2, bz - board_thickness / 2};
    const float bhi[3] = {half_width, by + board_height / 2, bz + board_thickness / 2};
    qm_add_box(&gate, blo, bhi, stripes, steel);

    // The arms, from the hinge to the board's centre, and the hinge
    // knuckles around the axis (round about it, so the same up or down).
    for (float x : {-arm_x, arm_x}) {
        const size_t first = gate.vertices.size();
        const float lo[3] = {x - arm_thickness / 2, -arm_depth / 2, -(float)arm_length};
        const float hi[3] = {x + arm_thickness / 2, arm_depth / 2, 0.05f};
        qm_add_box(&gate, lo, hi, steel, steel_end);
        qm_rotate_x(&gate, first, arm_climb);
        const float hinge[3] = {x, 0.0f, 0.0f};
        qm_add_cylinder(&gate, 0, hinge, 0.08f, 0.2f, 10, steel, steel_end);
    }

    // Everything into the dropped frame the model is kept in.
    qm_rotate_x(&gate, 0, -raise_angle);
    m.parts.push_back(gate);
    return m;
}

std::string startgate_shape()
{
    // A row of spheres along the board, from edge to edge, and a few along
    // the outer part of each arm (the inner part stays near the ground when
    // the gate is down, where a bike passing beside it must not catch).
    struct ball {
        float x;
        double y, z;  // raised pose
        float radius;
    };
    std::vector<ball> balls;
    const float bar_end = piece_half_width - bar_radius;
    const int gaps = (int)std::ceil(2 * bar_end / bar_spacing - 1e-4f);
    for (int i = 0; i <= gaps; i++)
        balls.push_back({-bar_end + 2 * bar_end * (float)i / (float)gaps, board_y(), board_z(), bar_radius});
    for (double t : {0.7, 0.8, 0.9})
        for (float x : {-arm_x, arm_x})
            balls.push_back({x, t * board_y(), t * board_z(), arm_radius});

    std::string text = std::to_string(balls.size()) + "\n";
    char line[200];
    for (const ball& b : balls) {
        float y, z;
        dropped(b.y, b.z, &y, &z);
        snprintf(line, sizeof line, "%f %f %f %f %f %f %f\n", (double)b.x, (double)y, (double)z, (double)b.radius,
                 (double)steel_friction, (double)steel_spring, (double)steel_damping);
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
