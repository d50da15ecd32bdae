// Cost of the wheel and shape contacts with the terrain.
//
//   bike_contact_bench
//
// Prints ns per call of the torus query (a wheel riding on the ground, a
// wheel sunk past its section, a wheel in the air, wheels scattered over
// the terrain), the sphere query, a shape of eight spheres against the
// terrain (geometry only), and a whole wheel contact with its joint and
// rolling resistance, on a 2049 x 2049 rolling, rippled terrain.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

#include "bike/contact.h"
#include "bike/physics.h"
#include "bike/shape.h"
#include "track/heightfield.h"

namespace {

using clock_type = std::chrono::steady_clock;

constexpr float ring_radius = 0.8333333f;
constexpr float section_radius = 0.3333333f;

double seconds_since(clock_type::time_point start)
{
    return std::chrono::duration<double>(clock_type::now() - start).count();
}

void build_terrain(heightfield* hf)
{
    const int grid_log2 = 10;
    const int n = (2 << grid_log2) + 1;
    std::vector<float> h((size_t)n * n);
    for (int row = 0; row < n; row++)
        for (int col = 0; col < n; col++)
            h[(size_t)col + (size_t)row * n] =
                40.0f + 12.0f * sinf(0.013f * (float)col) * cosf(0.021f * (float)row) +
                0.3f * sinf(0.9f * (float)col + 0.4f * (float)row);
    heightfield_create(hf, grid_log2, 2.0f, h.data());
}

struct wheel_pose {
    vec3 centre;
    vec3 axle;
};

// A wheel riding a long loop at 60 mph, one pose per tick, heading along
// the loop and leaning into it by up to 30 degrees, with its centre placed
// for a tyre sunk by `sink` (negative: in the air). Successive queries
// touch neighbouring samples, as a wheel's do from tick to tick.
std::vector<wheel_pose> poses(const heightfield* hf, float sink, std::mt19937* rng)
{
    std::uniform_real_distribution<float> wobble(-0.52f, 0.52f);
    const float cx = 0.5f * hf->extent, cz = 0.5f * hf->extent, radius = 0.35f * hf->extent;
    const float step = (88.0f / 128.0f) / radius;
    std::vector<wheel_pose> out(1 << 14);
    float s = 0.0f;
    for (wheel_pose& p : out) {
        const float x = cx + radius * cosf(s), z = cz + radius * sinf(s);
        const float l = wobble(*rng);
        // Heading along the loop: the axle points at the loop's centre.
        const float yaw = s;
        p.axle = {cosf(yaw) * cosf(l), sinf(l), sinf(yaw) * cosf(l)};
        p.centre = {x, heightfield_height_at(hf, x, z) + ring_radius * cosf(l) + section_radius - sink, z};
        s += step;
    }
    return out;
}

// The same poses scattered over the whole terrain: every query misses the
// cache (40 bikes spread over a track come closer to this).
std::vector<wheel_pose> scattered(const heightfield* hf, std::mt19937* rng)
{
    std::uniform_real_distribution<float> pos(16.0f, hf->extent - 16.0f);
    std::uniform_real_distribution<float> angle(-3.14159f, 3.14159f);
    std::uniform_real_distribution<float> lean(-0.52f, 0.52f);
    std::vector<wheel_pose> out(1 << 14);
    for (wheel_pose& p : out) {
        const float x = pos(*rng), z = pos(*rng);
        const float yaw = angle(*rng), l = lean(*rng);
        p.axle = {cosf(yaw) * cosf(l), sinf(l), sinf(yaw) * cosf(l)};
        p.centre = {x, heightfield_height_at(hf, x, z) + ring_radius * cosf(l) + section_radius - 0.1f, z};
    }
    return out;
}

template <typename F>
double ns_per_call(const std::vector<wheel_pose>& ps, int rounds, F f, double* sink)
{
    double sum = 0.0;
    const auto start = clock_type::now();
    for (int r = 0; r < rounds; r++)
        for (const wheel_pose& p : ps)
            sum += f(p);
    const double elapsed = seconds_since(start);
    *sink += sum;
    return elapsed * 1e9 / ((double)rounds * (double)ps.size());
}

}  // namespace

int main()
{
    heightfield hf;
    build_terrain(&hf);
    std::mt19937 rng(12345);
    const std::vector<wheel_pose> riding = poses(&hf, 0.1f, &rng);
    const std::vector<wheel_pose> deep = poses(&hf, 0.5f, &rng);
    const std::vector<wheel_pose> air = poses(&hf, -0.5f, &rng);
    const std::vector<wheel_pose> cold = scattered(&hf, &rng);
    double sink = 0.0;
    const int rounds = 32;

    auto torus = [&](const wheel_pose& p) {
        terrain_hit hit;
        return torus_heightfield_query(&hf, p.centre, p.axle, ring_radius, section_radius, &hit) ? hit.depth : 0.0f;
    };
    ns_per_call(riding, 1, torus, &sink);  // warm up
    const double riding_ns = ns_per_call(riding, rounds, torus, &sink);
    const double deep_ns = ns_per_call(deep, rounds, torus, &sink);
    const double air_ns = ns_per_call(air, rounds, torus, &sink);
    const double cold_ns = ns_per_call(cold, rounds, torus, &sink);

    auto sphere = [&](const wheel_pose& p) {
        terrain_hit hit;
        const vec3 c = {p.centre.x, p.centre.y - 0.6f, p.centre.z};
        return sphere_heightfield_query(&hf, c, 0.5f, &hit) ? hit.depth : 0.0f;
    };
    const double sphere_ns = ns_per_call(riding, rounds, sphere, &sink);

    // A frame-like shape: eight spheres along the body, the lowest one
    // touching the ground.
    shape_sphere spheres[8];
    for (int k = 0; k < 8; k++)
        spheres[k] = {0.0f, 0.4f * (float)(k % 3), -1.4f + 0.4f * (float)k, 0.35f, 0.5f, 3000.0f, 300.0f};
    const shape frame = {"bench", 8, spheres, nullptr, 2.0f};
    const dReal identity[12] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0};
    auto shape_query = [&](const wheel_pose& p) {
        const dReal pos[3] = {p.centre.x, p.centre.y - 0.8f, p.centre.z};
        return (float)shape_terrain_contact(&frame, nullptr, pos, identity, &hf);
    };
    const double shape_ns = ns_per_call(riding, rounds, shape_query, &sink);

    // The whole wheel contact: query, surface curves, the joint and
    // rolling resistance (contacts emptied as a step would).
    physics_space space;
    physics_create(&space);
    dBodyID body = dBodyCreate(space.world);
    dBodySetLinearVel(body, 20.0, 0.0, -3.0);
    wheel_contact w;
    w.body = body;
    w.ring_radius = ring_radius;
    w.section_radius = section_radius;
    int made = 0;
    auto wheel = [&](const wheel_pose& p) {
        dBodySetPosition(body, p.centre.x, p.centre.y, p.centre.z);
        const float d = (float)wheel_ground_contact(&hf, &w, 1.0f);
        if (++made == 64) {
            physics_clear_contacts(&space);
            made = 0;
        }
        return d;
    };
    const double wheel_ns = ns_per_call(riding, rounds / 4, wheel, &sink);
    physics_clear_contacts(&space);
    dBodyDestroy(body);
    physics_destroy(&space);
    heightfield_free(&hf);

    printf("torus_query_riding_ns=%.1f\n", riding_ns);
    printf("torus_query_deep_ns=%.1f\n", deep_ns);
    printf("torus_query_air_ns=%.1f\n", air_ns);
    printf("torus_query_scattered_ns=%.1f\n", cold_ns);
    printf("sphere_query_ns=%.1f\n", sphere_ns);
    printf("shape8_terrain_ns=%.1f\n", shape_ns);
    printf("wheel_ground_contact_ns=%.1f\n", wheel_ns);
    fprintf(stderr, "checksum %g\n", sink);
    return 0;
}
