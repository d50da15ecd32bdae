// The rider's models.
#include "rider_models.h"

#include <algorithm>
#include <cmath>

#include "bike_art.h"
#include "bike_models.h"
#include "qm_shapes.h"

namespace mkdata {
using namespace vecmath;

const vec3 rider_bone_pivots[rider_bone_count] = {
#define KESSRIG_PIVOT(i) {RIDER_BONE_PIVOTS[i][0], RIDER_BONE_PIVOTS[i][1], RIDER_BONE_PIVOTS[i][2]}
    KESSRIG_PIVOT(0), KESSRIG_PIVOT(1), KESSRIG_PIVOT(2), KESSRIG_PIVOT(3), KESSRIG_PIVOT(4),
    KESSRIG_PIVOT(5), KESSRIG_PIVOT(6), KESSRIG_PIVOT(7), KESSRIG_PIVOT(8),
#undef KESSRIG_PIVOT
};

namespace {

const double pi = 3.14159265358979323846;

float smooth(float e0, float e1, float x)
{
    const float t = std::clamp((x - e0) / (e1 - e0), 0.0f, 1.0f);
    return t * t * (3 - 2 * t);
}

// The bone weights of a rest-pose point: arms out from the shoulders,
// legs down from the hips, the rest on the pelvis; shared across each
// joint over a short span.
void weights_at(vec3 p, float* w)
{
    for (int b = 0; b < rider_bone_count; b++)
        w[b] = 0;
    const float ax = std::fabs(p.x);
    const bool right = p.x > 0;
    const float arm = smooth(0.42f, 0.66f, ax) * smooth(0.4f, 0.62f, p.y);
    const float fore = smooth(1.36f, 1.56f, ax);
    w[right ? bone_right_upper_arm : bone_left_upper_arm] = arm * (1 - fore);
    w[right ? bone_right_forearm : bone_left_forearm] = arm * fore;
    const float leg = smooth(-0.72f, -1.02f, p.y) * (1 - arm);
    const float shin = smooth(-2.1f, -2.32f, p.y);
    const float r = std::clamp(0.5f + p.x / 0.16f, 0.0f, 1.0f);
    w[bone_right_thigh] = leg * (1 - shin) * r;
    w[bone_left_thigh] = leg * (1 - shin) * (1 - r);
    w[bone_right_shin] = leg * shin * r;
    w[bone_left_shin] = leg * shin * (1 - r);
    float sum = 0;
    for (int b = 0; b < rider_bone_count; b++)
        sum += b == bone_pelvis ? 0 : w[b];
    w[bone_pelvis] = std::max(0.0f, 1 - sum);
    sum = 0;
    for (int b = 0; b < rider_bone_count; b++)
        sum += w[b];
    for (int b = 0; b < rider_bone_count; b++)
        w[b] /= sum;
}

void add_weights(qm_part* part)
{
    part->weights.clear();
    for (const qm_vertex& v : part->vertices) {
        float w[rider_bone_count];
        weights_at(v3(v.position[0], v.position[1], v.position[2]), w);
        part->weights.insert(part->weights.end(), w, w + rider_bone_count);
    }
}

int sides(int full, int lod)
{
    return lod == 0 ? full : lod == 1 ? std::max(6, full * 5 / 8) : std::max(6, full / 2);
}

// The jersey's sections, bottom to top: height, half width, half depth.
struct jersey_row {
    float y, rx, rz;
};
const jersey_row k_jersey[] = {
    {-0.62f, 0.47f, 0.32f}, {-0.3f, 0.45f, 0.3f}, {0.0f, 0.5f, 0.32f},  {0.5f, 0.57f, 0.35f},
    {0.85f, 0.58f, 0.3f},   {0.98f, 0.38f, 0.24f}, {1.1f, 0.2f, 0.18f},
};
const float k_jersey_square = 0.35f;

}  // namespace

qm_model rider_body_model(bool first_person, int lod)
{
    qm_part cloth;
    cloth.shininess = 8;
    cloth.specular[0] = cloth.specular[1] = cloth.specular[2] = 0.12f;
    qm_part gear;  // boots and gloves
    gear.shininess = 24;
    gear.specular[0] = gear.specular[1] = gear.specular[2] = 0.35f;
    const int around = sides(16, lod);
    // Pants round the hips, under the jersey's hem.
    qm_add_loft(&cloth,
                {{v3(0, -1.06f, 0.02f), 0.3f, 0.2f, 0.4f},
                 {v3(0, -0.92f, 0.01f), 0.46f, 0.3f, 0.4f},
                 {v3(0, -0.5f, 0.0f), 0.44f, 0.29f, 0.4f}},
                v3(1, 0, 0), v3(0, 0, -1), around, rider_uv::pants, true);
    // Jersey: the whole torso, or for the rider's own view only up to the
    // lower chest.
    std::vector<qm_section> jersey;
    for (const jersey_row& r : k_jersey)
        if (!first_person || r.y <= 0.5f)
            jersey.push_back({v3(0, r.y, 0), r.rx, r.rz, k_jersey_square});
    qm_add_loft(&cloth, jersey, v3(1, 0, 0), v3(0, 0, -1), around, rider_uv::torso, true);
    // Arms along +x (the left one mirrored): sleeve to the cuff, glove.
    const size_t arm_first = cloth.vertices.size(), glove_first = gear.vertices.size();
    const float xs[6] = {0.42f, 0.6f, 1.0f, 1.456f, 1.9f, 2.4f};
    const float rs[6] = {0.2f, 0.19f, 0.16f, 0.14f, 0.13f, 0.1f};
    std::vector<qm_section> arm;
    for (int i = 0; i < 6; i++)
        if (!first_person || i > 0)
            arm.push_back({v3(xs[i], 0.875f, 0.01f), rs[i], rs[i] * 0.95f, 0.1f});
    qm_add_loft(&cloth, arm, v3(0, 1, 0), v3(0, 0, 1), sides(12, lod), rider_uv::sleeve, true);
    qm_mirror_x(&cloth, arm_first);
    qm_add_ellipsoid(&gear, v3(2.56f, 0.875f, 0.0f), v3(0.17f, 0.11f, 0.12f), sides(8, lod), sides(12, lod),
                     rider_uv::glove);
    qm_mirror_x(&gear, glove_first);
    // Legs straight down: pants to the knee guard, boots, feet forward.
    const size_t leg_first = cloth.vertices.size(), boot_first = gear.vertices.size();
    qm_add_loft(&cloth,
                {{v3(0.269f, -0.72f, 0.01f), 0.25f, 0.27f, 0.2f},
                 {v3(0.269f, -1.25f, 0.01f), 0.22f, 0.24f, 0.2f},
                 {v3(0.269f, -1.85f, 0.0f), 0.18f, 0.2f, 0.2f},
                 {v3(0.269f, -2.2f, -0.02f), 0.18f, 0.21f, 0.2f},
                 {v3(0.269f, -2.65f, 0.0f), 0.15f, 0.16f, 0.2f}},
                v3(1, 0, 0), v3(0, 0, 1), around, rider_uv::pants, true);
    qm_mirror_x(&cloth, leg_first);
    const qm_uv_rect boot_down = {rider_uv::boot.u0, rider_uv::boot.v1, rider_uv::boot.u1, rider_uv::boot.v0};
    qm_add_loft(&gear,
                {{v3(0.269f, -2.5f, 0.0f), 0.17f, 0.19f, 0.3f},
                 {v3(0.269f, -3.2f, 0.02f), 0.14f, 0.16f, 0.3f},
                 {v3(0.269f, -3.72f, 0.04f), 0.13f, 0.16f, 0.3f}},
                v3(1, 0, 0), v3(0, 0, 1), around, boot_down, true);
    qm_add_loft(&gear,
                {{v3(0.269f, -3.88f, -0.56f), 0.07f, 0.05f, 0.4f},
                 {v3(0.269f, -3.84f, -0.36f), 0.12f, 0.1f, 0.4f},
                 {v3(0.269f, -3.8f, 0.0f), 0.13f, 0.15f, 0.4f},
                 {v3(0.269f, -3.8f, 0.2f), 0.12f, 0.14f, 0.4f}},
                v3(1, 0, 0), v3(0, 1, 0), sides(12, lod), rider_uv::boot, true);
    qm_mirror_x(&gear, boot_first);
    add_weights(&cloth);
    add_weights(&gear);
    qm_model m;
    m.bone_count = rider_bone_count;
    m.skeleton = "rider";
    m.parts = {cloth, gear};
    return m;
}

qm_model rider_plate_model()
{
    // On the jersey's back between the rows at 0 and 0.5 ft, 15 mm out.
    const jersey_row lo = k_jersey[2], hi = k_jersey[3];
    const int cols = 9;
    qm_grid g(2, cols, false);
    const double e = 2.0 / (1.0 + 3.0 * k_jersey_square);
    for (int r = 0; r < 2; r++) {
        const jersey_row& row = r == 0 ? lo : hi;
        for (int c = 0; c < cols; c++) {
            // From the left (viewer's left, seen from behind) to the right.
            const double a = (242 + 56.0 * c / (cols - 1)) * pi / 180;
            const double ca = std::cos(a), sa = std::sin(a);
            const double x = row.rx * (ca < 0 ? -1 : 1) * std::pow(std::fabs(ca), e);
            const double back = row.rz * std::pow(std::fabs(sa), e);
            g.at(r, c) = v3((float)x, row.y, (float)(back + 0.05));
        }
    }
    qm_part part;
    part.shininess = 8;
    qm_add_grid(&part, g, qm_uv_rect{});
    part.weights.clear();
    for (size_t i = 0; i < part.vertices.size(); i++)
        for (int b = 0; b < rider_bone_count; b++)
            part.weights.push_back(b == bone_pelvis ? 1.0f : 0.0f);
    qm_model m;
    m.bone_count = rider_bone_count;
    m.skeleton = "rider";
    m.parts.push_back(part);
    return m;
}

qm_model rider_head_model(int lod)
{
    qm_part shell, trim, lens, lens_env;
    shell.shininess = 50;
    shell.specular[0] = shell.specular[1] = shell.specular[2] = 0.6f;
    trim.shininess = 10;
    trim.specular[0] = trim.specular[1] = trim.specular[2] = 0.15f;
    lens.shininess = 80;
    lens.specular[0] = lens.specular[1] = lens.specular[2] = 0.9f;
    const int around = sides(20, lod), rows = sides(12, lod);
    qm_add_ellipsoid(&shell, v3(0, 0.03f, 0.02f), v3(0.39f, 0.43f, 0.47f), rows, around, head_uv::shell);
    // Chin bar jutting forward and down, the peak over the eye port.
    qm_add_ellipsoid(&shell, v3(0, -0.27f, -0.3f), v3(0.27f, 0.17f, 0.23f), sides(8, lod), sides(14, lod),
                     head_uv::chin);
    {
        const int pr = lod ? 3 : 5, pc = sides(9, lod);
        qm_grid peak(pr, pc, false);
        for (int r = 0; r < pr; r++) {
            const float t = (float)r / (float)(pr - 1);
            for (int c = 0; c < pc; c++) {
                const float s = (float)c / (float)(pc - 1) * 2 - 1;
                const float w = 0.34f - 0.06f * t;
                peak.at(r, c) = v3(s * w, 0.24f + 0.12f * t - 0.07f * s * s, -0.36f - 0.36f * t + 0.1f * s * s);
            }
        }
        qm_add_grid(&shell, peak, head_uv::peak, false);
        qm_add_grid(&shell, peak, head_uv::peak, true);
    }
    // Goggles: strap round the shell, the frame at the eye port, the lens.
    qm_add_loft(&trim, {{v3(0, 0.0f, 0.02f), 0.405f, 0.485f, 0.1f}, {v3(0, 0.1f, 0.02f), 0.4f, 0.48f, 0.1f}},
                v3(1, 0, 0), v3(0, 0, -1), around, head_uv::strap, false);
    const float lo[3] = {-0.3f, -0.05f, -0.52f}, hi[3] = {0.3f, 0.16f, -0.38f};
    qm_add_box(&trim, lo, hi, head_uv::goggle_frame, head_uv::goggle_frame);
    {
        qm_grid g(2, sides(7, lod), false);
        for (int r = 0; r < 2; r++)
            for (int c = 0; c < g.cols; c++) {
                const float s = (float)c / (float)(g.cols - 1) * 2 - 1;
                g.at(r, c) = v3(-s * 0.26f, r ? 0.13f : -0.02f, -0.535f + 0.012f * s * s);
            }
        qm_add_grid(&lens, g, head_uv::lens);
    }
    lens_env = lens;
    lens_env.shininess = -1;
    lens_env.reflectivity = 0.7f;
    lens_env.specular[0] = 0.8f;
    lens_env.specular[1] = 0.85f;
    lens_env.specular[2] = 1.0f;
    qm_model m;
    m.parts = {shell, trim, lens, lens_env};
    return m;
}

void add_rider_models(output& out)
{
    for (int lod = 0; lod < bike_lod_levels; lod++) {
        const std::string suffix = bike_lod_numbers[lod] ? "_lod" + std::to_string(bike_lod_numbers[lod]) : "";
        const qm_model body = rider_body_model(false, lod), fp = rider_body_model(true, lod);
        const qm_model head = rider_head_model(lod);
        require_model(body, "rider_body" + suffix);
        require_model(fp, "rider_body_fp" + suffix);
        require_model(head, "rider_head" + suffix);
        add_model_member(out, "rider_body" + suffix + ".qm", qm_text(body));
        add_model_member(out, "rider_body_fp" + suffix + ".qm", qm_text(fp));
        add_model_member(out, "rider_head" + suffix + ".qm", qm_text(head));
    }
    const qm_model plate = rider_plate_model();
    require_model(plate, "rider_plate");
    add_model_member(out, "rider_plate.qm", qm_text(plate));
}

}  // namespace mkdata
