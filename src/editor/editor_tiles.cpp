// The tile-map brush: paints the surface of the "Tile" slider (one of its
// alternative pictures at random) on every cell whose centre lies within
// the brush radius of the stroke, then gives the eight neighbours of each
// painted cell the transition tile whose corners match.
#include "editor/editor_tools_internal.h"
#include "track/surface.h"

namespace edtools {

namespace {

// The surfaces on the four corners of a surface's tile, in the order of
// the corner bits 8 (smaller x and z), 4, 2, 1.
void corners_of(const heightfield* hf, int surface, int out[4])
{
    const int code = hf->surfaces[surface].tile_code;
    static const int bits[4] = {8, 4, 2, 1};
    for (int k = 0; k < 4; k++)
        out[k] = (tile_code_mask(code) & bits[k]) ? tile_code_secondary(code) : tile_code_primary(code);
}

// The first surface whose corners are exactly `wanted`, or -1.
int surface_with_corners(const heightfield* hf, const int wanted[4])
{
    for (int s = 0; s < hf->surface_count; s++) {
        int c[4];
        corners_of(hf, s, c);
        if (c[0] == wanted[0] && c[1] == wanted[1] && c[2] == wanted[2] && c[3] == wanted[3])
            return s;
    }
    return -1;
}

// Distance from (x, z) to the segment a..b.
float segment_distance(float x, float z, float ax, float az, float bx, float bz)
{
    const float sx = bx - ax, sz = bz - az;
    const float len_sq = sx * sx + sz * sz;
    float u = len_sq > 0.0f ? ((x - ax) * sx + (z - az) * sz) / len_sq : 0.0f;
    u = u < 0.0f ? 0.0f : (u > 1.0f ? 1.0f : u);
    return sqrtf(distance_sq(x, z, ax + sx * u, az + sz * u));
}

// The neighbour (dx, dz) of a painted cell and the mask of its corners
// that touch the cell.
struct neighbour {
    int dx, dz, mask;
};
const neighbour k_neighbours[8] = {
    {-1, -1, 1}, {0, -1, 3}, {1, -1, 2}, {-1, 0, 5}, {1, 0, 10}, {-1, 1, 4}, {0, 1, 12}, {1, 1, 8},
};

void paint_cell(editor_state* e, heightfield* hf, int cells, int cx, int cz, int surface)
{
    // Alternative pictures of one surface share its tile code.
    const int code = hf->surfaces[surface].tile_code;
    int alternatives = 0;
    for (int s = 0; s < hf->surface_count; s++)
        alternatives += hf->surfaces[s].tile_code == code;
    int pick = random_below(e, alternatives);
    int chosen = surface;
    for (int s = 0; s < hf->surface_count; s++)
        if (hf->surfaces[s].tile_code == code && pick-- == 0) {
            chosen = s;
            break;
        }
    hf->tilemap[cz * cells + cx] = (uint8_t)chosen;

    const int painted = tile_code_primary(code);
    static const int bits[4] = {8, 4, 2, 1};
    for (const neighbour& n : k_neighbours) {
        const int x = cx + n.dx, z = cz + n.dz;
        if (x < 0 || z < 0 || x >= cells || z >= cells)
            continue;
        uint8_t& cell = hf->tilemap[z * cells + x];
        int corners[4];
        corners_of(hf, cell < hf->surface_count ? cell : 0, corners);
        bool same = true;
        for (int k = 0; k < 4; k++)
            if ((n.mask & bits[k]) && corners[k] != painted) {
                same = false;
                corners[k] = painted;
            }
        if (same)
            continue;
        const int match = surface_with_corners(hf, corners);
        if (match >= 0)
            cell = (uint8_t)match;
    }
}

}  // namespace

int tiles_slider_max(const heightfield* hf)
{
    int leading = 0;
    while (hf && leading < hf->surface_count && tile_code_primary(hf->surfaces[leading].tile_code) == leading &&
           tile_code_secondary(hf->surfaces[leading].tile_code) == leading)
        leading++;
    return leading > 1 ? leading - 1 : 0;
}

void tiles_paint(editor_state* e, float x, float z)
{
    heightfield* hf = ground_of(e);
    const bool anchored = !(e->anchor_x == -1.0f && e->anchor_z == -1.0f);
    const float ax = anchored ? e->anchor_x : x, az = anchored ? e->anchor_z : z;
    e->anchor_x = x;
    e->anchor_z = z;
    if (!hf || frozen(e) || !hf->tilemap || hf->surface_count <= 0 || !(hf->spacing > 0.0f))
        return;
    const float radius = brush_radius(e);
    const int n = hf->sample_count;
    // The renderer recomposes the ground textures of the samples around
    // the stroke.
    if (g_decal_hooks.mark_dirty) {
        auto sample = [&](float v, bool up) {
            const float s = (up ? ceilf(v / hf->spacing) : floorf(v / hf->spacing));
            return fminf(fmaxf(s, 0.0f), (float)(n - 2)) * hf->spacing;
        };
        g_decal_hooks.mark_dirty(g_decal_hooks.context, hf, sample(fminf(ax, x) - radius, false),
                                 sample(fminf(az, z) - radius, false), sample(fmaxf(ax, x) + radius, true),
                                 sample(fmaxf(az, z) + radius, true));
    }
    int surface = (int)lroundf(e->widget_value[widget_tile]);
    surface = surface < 0 ? 0 : (surface >= hf->surface_count ? hf->surface_count - 1 : surface);
    const int cells = 1 << hf->grid_log2;
    const float tile = hf->tile_size;
    auto cell_range = [&](float lo, float hi, int* c0, int* c1) {
        // Clamped as floats first: a pointer far off the map is no cell.
        *c0 = (int)fminf(fmaxf(floorf(lo / tile), 0.0f), (float)cells);
        *c1 = (int)fminf(fmaxf(ceilf(hi / tile), -1.0f), (float)(cells - 1));
    };
    int x0, x1, z0, z1;
    cell_range(fminf(ax, x) - radius, fmaxf(ax, x) + radius, &x0, &x1);
    cell_range(fminf(az, z) - radius, fmaxf(az, z) + radius, &z0, &z1);
    bool painted = false;
    for (int cz = z0; cz <= z1; cz++)
        for (int cx = x0; cx <= x1; cx++) {
            const float px = (float)(2 * cx + 1) * hf->spacing, pz = (float)(2 * cz + 1) * hf->spacing;
            if (segment_distance(px, pz, ax, az, x, z) >= radius)
                continue;
            paint_cell(e, hf, cells, cx, cz, surface);
            painted = true;
        }
    if (painted)
        mark_changed(e);
}

}  // namespace edtools
