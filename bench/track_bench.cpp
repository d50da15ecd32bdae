// Terrain query and ground loading costs.
//
//   track_bench [TRACK]
//
// Prints the cost per call of heightfield_height_at and
// heightfield_surface_at over random points of a 2049 x 2049 terrain, and
// the time to load a whole track ground (heights, lighting maps, surfaces,
// tile map) of TRACK (default "rabbithill") from the game data: the
// directory of this program, or KZ_HOME when set.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "files/datafs.h"
#include "files/memory.h"
#include "track/heightfield.h"
#include "track/surface.h"

namespace {

using clock_type = std::chrono::steady_clock;

double seconds_since(clock_type::time_point start)
{
    return std::chrono::duration<double>(clock_type::now() - start).count();
}

// Rolling ground with a tile map of 12 surfaces.
void build_terrain(heightfield* hf)
{
    const int grid_log2 = 10;
    const int n = (2 << grid_log2) + 1;
    std::vector<float> h((size_t)n * n);
    for (int row = 0; row < n; row++)
        for (int col = 0; col < n; col++)
            h[(size_t)col + (size_t)row * n] =
                40.0f + 12.0f * sinf(0.013f * (float)col) * cosf(0.021f * (float)row) + 0.002f * (float)(col + row);
    heightfield_create(hf, grid_log2, 2.0f, h.data());
    const size_t cells = (size_t)1 << (2 * grid_log2);
    hf->tilemap = (uint8_t*)mem_alloc_or_die(cells);
    std::mt19937 rng(7);
    for (size_t k = 0; k < cells; k++)
        hf->tilemap[k] = (uint8_t)(rng() % 12);
}

template <typename F>
double ns_per_call(const std::vector<float>& xs, const std::vector<float>& zs, int rounds, F f, double* sink)
{
    double sum = 0.0;
    const auto start = clock_type::now();
    for (int r = 0; r < rounds; r++)
        for (size_t k = 0; k < xs.size(); k++)
            sum += f(xs[k], zs[k]);
    const double elapsed = seconds_since(start);
    *sink += sum;
    return elapsed * 1e9 / ((double)rounds * (double)xs.size());
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string track = argc > 1 ? argv[1] : "rabbithill";

    heightfield hf;
    build_terrain(&hf);
    std::mt19937 rng(12345);
    std::uniform_real_distribution<float> pos(-8.0f, hf.extent + 8.0f);
    std::vector<float> xs(1 << 16), zs(1 << 16);
    for (size_t k = 0; k < xs.size(); k++) {
        xs[k] = pos(rng);
        zs[k] = pos(rng);
    }
    double sink = 0.0;
    const int rounds = 64;
    // Warm the caches and the branch predictors once.
    ns_per_call(xs, zs, 1, [&](float x, float z) { return heightfield_height_at(&hf, x, z); }, &sink);
    const double height_ns =
        ns_per_call(xs, zs, rounds, [&](float x, float z) { return heightfield_height_at(&hf, x, z); }, &sink);
    const double surface_ns = ns_per_call(
        xs, zs, rounds, [&](float x, float z) { return (float)heightfield_surface_at(&hf, x, z); }, &sink);
    const double normal_ns = ns_per_call(
        xs, zs, rounds, [&](float x, float z) { return heightfield_face_normal_at(&hf, x, z).y; }, &sink);
    // Wheels and erosion ask about a few square feet at a time: points
    // inside one 64 ft square stay in the cache.
    std::uniform_real_distribution<float> local(1000.0f, 1064.0f);
    for (size_t k = 0; k < xs.size(); k++) {
        xs[k] = local(rng);
        zs[k] = local(rng);
    }
    const double local_ns =
        ns_per_call(xs, zs, rounds, [&](float x, float z) { return heightfield_height_at(&hf, x, z); }, &sink);
    heightfield_free(&hf);

    printf("height_at_ns=%.2f\n", height_ns);
    printf("height_at_local_ns=%.2f\n", local_ns);
    printf("surface_at_ns=%.2f\n", surface_ns);
    printf("face_normal_at_ns=%.2f\n", normal_ns);

    const std::string dir = "@" + track;
    data_stream* probe = open_data_file((dir + "/terrain.hf").c_str(), "rb");
    if (!probe) {
        printf("load_ground: skipped, no track '%s' in the game data\n", track.c_str());
    } else {
        close_data_file(probe);
        const auto start = clock_type::now();
        const bool ok = heightfield_load_ground(&hf, dir.c_str(), 0);
        const double ms = seconds_since(start) * 1e3;
        if (ok)
            printf("load_ground_ms=%.1f track=%s samples=%d surfaces=%d\n", ms, track.c_str(), hf.sample_count,
                   hf.surface_count);
        else
            printf("load_ground: track '%s' failed to load (see the log)\n", track.c_str());
        heightfield_free(&hf);
    }
    fprintf(stderr, "checksum %g\n", sink);
    return 0;
}
