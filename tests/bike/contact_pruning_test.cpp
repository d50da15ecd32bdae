// The contact code skips work by bounding balls, boxes and the highest
// ground under a body. Those skips must never change an answer: here every
// query is asked again the slow way (every triangle, every sphere, every
// pair) over random poses, some far from the origin where positions round
// coarsely, some outside the terrain, some sunk into it.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "bike/bike.h"
#include "bike/contact.h"
#include "bike/contact_internal.h"
#include "bike/physics.h"
#include "bike/shape.h"
#include "contact_test_util.h"
#include "test_support.h"

using namespace contact_test;

namespace {

constexpr float R = 0.8333333f;
constexpr float r = 0.3333333f;

// Rolling ground with ripples and a few steep steps.
void make_rough(terrain* t, int grid_log2, float spacing)
{
    make_terrain(t, grid_log2, spacing, [](float x, float z) {
        float h = 3.0f * sinf(0.31f * x) * cosf(0.23f * z) + 0.4f * sinf(3.1f * x + 2.3f * z);
        if (fmodf(x + 0.5f * z, 13.0f) < 1.0f)
            h += 1.5f;
        return h;
    });
}

vec3 random_unit(std::mt19937* rng)
{
    std::normal_distribution<float> g(0.0f, 1.0f);
    for (;;) {
        const vec3 v = {g(*rng), g(*rng), g(*rng)};
        const float l = sqrtf(v.x * v.x + v.y * v.y + v.z * v.z);
        if (l > 1e-3f)
            return {v.x / l, v.y / l, v.z / l};
    }
}

// A wheel's axle: mostly level and leaning a little, sometimes anything.
vec3 random_axle(std::mt19937* rng)
{
    std::uniform_real_distribution<float> u(0.0f, 1.0f);
    if (u(*rng) < 0.2f)
        return random_unit(rng);
    const float yaw = 6.2831853f * u(*rng), lean = 1.2f * (u(*rng) - 0.5f);
    return {cosf(yaw) * cosf(lean), sinf(lean), sinf(yaw) * cosf(lean)};
}

// A point over the terrain (or, now and then, outside it) at a height
// around the ground's, from well under it to clear above.
vec3 random_spot(const heightfield& hf, std::mt19937* rng, float below, float above)
{
    std::uniform_real_distribution<float> u(0.0f, 1.0f);
    const float margin = u(*rng) < 0.1f ? -6.0f : 3.0f;
    const float x = margin + (hf.extent - 2.0f * margin) * u(*rng);
    const float z = margin + (hf.extent - 2.0f * margin) * u(*rng);
    const float ground = heightfield_height_at(&hf, x, z);
    return {x, ground - below + (below + above) * u(*rng), z};
}

// The slow torus query: every triangle of every cell in reach and more,
// the deepest (the first of equals) wins; also how deep the runner-up goes.
struct brute_hit {
    float depth = 0.0f;
    terrain_hit hit = {};
    float second = 0.0f;
};

brute_hit brute_torus(const heightfield& hf, vec3 c, vec3 axle)
{
    brute_hit out;
    const float reach = R + r, s = hf.spacing;
    for (int j = (int)floorf((c.z - reach) / s) - 1; j <= (int)ceilf((c.z + reach) / s) + 1; j++) {
        for (int i = (int)floorf((c.x - reach) / s) - 1; i <= (int)ceilf((c.x + reach) / s) + 1; i++) {
            vec3 v[6];
            heightfield_cell_triangles(&hf, i, j, v);
            for (int t = 0; t < 6; t += 3) {
                terrain_hit hit;
                const float d = torus_triangle_test(c, axle, R, r, &v[t], &hit);
                if (d > out.depth) {
                    out = {d, hit, out.depth};
                } else if (d > out.second) {
                    out.second = d;
                }
            }
        }
    }
    return out;
}

TEST(ContactPruning, TorusQueryFindsTheDeepestOfEveryTriangle)
{
    for (float spacing : {2.0f, 0.5f}) {
        terrain t;
        make_rough(&t, 4, spacing);
        std::mt19937 rng(11);
        int touching = 0;
        for (int k = 0; k < 3000; k++) {
            // From sunk past the axle to clear of the ground.
            const vec3 c = random_spot(t.hf, &rng, 1.5f, 2.2f);
            const vec3 axle = random_axle(&rng);
            const brute_hit want = brute_torus(t.hf, c, axle);
            terrain_hit got;
            const bool found = torus_heightfield_query(&t.hf, c, axle, R, r, &got);
            // The query sorts out the triangles' edges after the cheap cases,
            // so a grazing touch, or the choice between two edge contacts a
            // hair apart, may round differently; anything else must agree.
            if (want.depth > 1e-4f) {
                ASSERT_TRUE(found) << "pose " << k << " spacing " << spacing;
                touching++;
                ASSERT_NEAR(got.depth, want.depth, 1e-5f) << "pose " << k << " spacing " << spacing;
                if (want.depth - want.second > 1e-4f && want.hit.normal.y >= 0.0f) {
                    EXPECT_NEAR(got.point.x, want.hit.point.x, 1e-4f) << "pose " << k;
                    EXPECT_NEAR(got.point.y, want.hit.point.y, 1e-4f) << "pose " << k;
                    EXPECT_NEAR(got.point.z, want.hit.point.z, 1e-4f) << "pose " << k;
                    EXPECT_NEAR(got.normal.y, want.hit.normal.y, 1e-4f) << "pose " << k;
                }
            } else if (want.depth == 0.0f) {
                ASSERT_FALSE(found) << "pose " << k << " spacing " << spacing;
            }
        }
        // The poses cover both outcomes.
        EXPECT_GT(touching, 600);
        EXPECT_LT(touching, 2700);
    }
}

// A shape of n spheres within `spread` of its origin, radius computed as a
// loaded shape's is.
struct test_shape {
    std::vector<shape_sphere> spheres;
    shape s = {};
    test_shape(std::mt19937* rng, int n, float spread)
    {
        std::uniform_real_distribution<float> u(-1.0f, 1.0f), size(0.1f, 0.5f);
        for (int i = 0; i < n; i++)
            spheres.push_back({spread * u(*rng), spread * u(*rng), spread * u(*rng), size(*rng), 0.7f, 10000, 500});
        s.name = "test";
        s.sphere_count = n;
        s.spheres = spheres.data();
        for (const shape_sphere& p : spheres)
            s.radius = fmaxf(s.radius, sqrtf(p.x * p.x + p.y * p.y + p.z * p.z) + p.radius);
    }
};

void random_rotation(std::mt19937* rng, dMatrix3 rot)
{
    std::uniform_real_distribution<float> angle(-3.14159f, 3.14159f);
    const vec3 a = random_unit(rng);
    dRFromAxisAndAngle(rot, a.x, a.y, a.z, angle(*rng));
}

struct PruningWorld : ::testing::Test {
    void SetUp() override { test::physics(); }
    void TearDown() override
    {
        physics_clear_contacts(test::physics());
        test::physics_reset();
    }
    static dBodyID body(vec3 p, const dMatrix3 rot)
    {
        dBodyID x = dBodyCreate(test::physics()->world);
        dBodySetPosition(x, p.x, p.y, p.z);
        dBodySetRotation(x, rot);
        return x;
    }
};

TEST_F(PruningWorld, ShapeTouchesTheGroundWhereEverySphereSaysSo)
{
    terrain t;
    make_rough(&t, 4, 1.0f);
    std::mt19937 rng(5);
    test_shape shape(&rng, 14, 1.6f);
    int touching = 0;
    for (int k = 0; k < 2000; k++) {
        dMatrix3 rot;
        random_rotation(&rng, rot);
        dBodyID b = body(random_spot(t.hf, &rng, 1.0f, 3.5f), rot);
        const dReal* pos = dBodyGetPosition(b);
        int want = 0;
        for (const shape_sphere& p : shape.spheres) {
            terrain_hit hit;
            const vec3 c = contact_math::transform(dBodyGetRotation(b), pos, {p.x, p.y, p.z});
            want += sphere_heightfield_query(&t.hf, c, p.radius, &hit) ? 1 : 0;
        }
        EXPECT_EQ(want > 0 ? 1 : 0, shape_terrain_contact(&shape.s, b, pos, dBodyGetRotation(b), &t.hf)) << k;
        // One joint per touching sphere.
        EXPECT_EQ(want, dBodyGetNumJoints(b)) << k;
        touching += want > 0;
        physics_clear_contacts(test::physics());
        dBodyDestroy(b);
    }
    EXPECT_GT(touching, 400);
    EXPECT_LT(touching, 1800);
}

// The parts of a bike against an object, every pair tried: the tyre as the
// sphere on the ring nearest each object sphere, every shape sphere against
// every object sphere.
int brute_object_bits(const bike* b, const shape& object, const dReal* pos, const dReal* rot)
{
    std::vector<contact_sphere> obj;
    for (int j = 0; j < object.sphere_count; j++) {
        const shape_sphere& p = object.spheres[j];
        obj.push_back({contact_math::transform(rot, pos, {p.x, p.y, p.z}), p.radius, p.friction, p.spring, p.damping});
    }
    int bits = 0;
    const int wheel_bits[2] = {part_front_wheel, part_rear_wheel};
    const wheel_contact* wheels[2] = {&b->front_contact, &b->rear_contact};
    for (int w = 0; w < 2; w++) {
        dBodyID body = b->bodies[w == 0 ? body_front_wheel : body_rear_wheel];
        const vec3 centre = contact_math::from_ode(dBodyGetPosition(body));
        vec3 axle = contact_math::rotate(dBodyGetRotation(body), wheels[w]->axle);
        axle = contact_math::scale(axle, 1.0f / contact_math::length(axle));
        for (const contact_sphere& o : obj) {
            const vec3 q = contact_math::sub(o.centre, centre);
            const vec3 radial = contact_math::add_scaled(q, axle, -contact_math::dot(q, axle));
            const float rl = contact_math::length(radial);
            if (!(rl > 1e-6f))
                continue;  // not met by these poses
            const vec3 dir = contact_math::scale(radial, 1.0f / rl);
            const contact_sphere tyre = {contact_math::add_scaled(centre, dir, R), r, 1, 25000, 2500};
            if (sphere_sphere_contact(&tyre, nullptr, &o, nullptr, contact_mode_test, nullptr))
                bits |= wheel_bits[w];
        }
    }
    const int parts[5][2] = {{body_frame, part_frame},
                             {body_fork_upper, part_fork_upper},
                             {body_fork_lower, part_fork_lower},
                             {body_swingarm, part_swingarm},
                             {body_rider, part_rider}};
    for (const auto& p : parts) {
        const shape* s = b->shapes[p[0]];
        dBodyID body = b->bodies[p[0]];
        for (int i = 0; i < s->sphere_count; i++) {
            const shape_sphere& sp = s->spheres[i];
            const contact_sphere mine = {
                contact_math::transform(dBodyGetRotation(body), dBodyGetPosition(body), {sp.x, sp.y, sp.z}),
                sp.radius, sp.friction, sp.spring, sp.damping};
            for (const contact_sphere& o : obj)
                if (sphere_sphere_contact(&mine, nullptr, &o, nullptr, contact_mode_test, nullptr))
                    bits |= p[1];
        }
    }
    return bits;
}

TEST_F(PruningWorld, BikePartsTouchAnObjectWhereEveryPairSaysSo)
{
    std::mt19937 rng(3);
    std::vector<test_shape> part_shapes;
    part_shapes.reserve(5);
    for (int i = 0; i < 5; i++)
        part_shapes.emplace_back(&rng, 8 + 3 * i, 0.6f + 0.3f * (float)i);
    test_shape object(&rng, 17, 1.2f);
    // Far from the origin too, where a float position is good to a few
    // thousandths of a foot.
    for (vec3 base : {vec3{0, 0, 0}, vec3{3000.0f, 400.0f, -2500.0f}}) {
        int touched = 0;
        for (int k = 0; k < 400; k++) {
            bike* b = new bike();
            std::uniform_real_distribution<float> u(-1.5f, 1.5f);
            auto near_base = [&](float spread) {
                return vec3{base.x + spread * u(rng), base.y + spread * u(rng), base.z + spread * u(rng)};
            };
            dMatrix3 rot;
            const int shaped[5] = {body_frame, body_fork_upper, body_fork_lower, body_swingarm, body_rider};
            for (int i = 0; i < 5; i++) {
                random_rotation(&rng, rot);
                b->bodies[shaped[i]] = body(near_base(1.0f), rot);
                b->shapes[shaped[i]] = &part_shapes[(size_t)i].s;
            }
            for (int w = 0; w < 2; w++) {
                random_rotation(&rng, rot);
                wheel_contact& c = w == 0 ? b->front_contact : b->rear_contact;
                b->bodies[w == 0 ? body_front_wheel : body_rear_wheel] = body(near_base(1.5f), rot);
                c.body = b->bodies[w == 0 ? body_front_wheel : body_rear_wheel];
                c.ring_radius = R;
                c.section_radius = r;
                c.depth = 1.0f;  // on the ground: the record keeps its own contact
            }
            random_rotation(&rng, rot);
            const vec3 at = near_base(3.0f);
            const dReal pos[3] = {at.x, at.y, at.z};
            const int want = brute_object_bits(b, object.s, pos, rot);
            EXPECT_EQ(want, bike_object_contact(b, nullptr, &object.s, pos, rot, contact_mode_test, false))
                << "pose " << k << " at " << base.x;
            touched += want != 0;
            for (dBodyID x : b->bodies)
                if (x)
                    dBodyDestroy(x);
            delete b;
        }
        EXPECT_GT(touched, 100);
        EXPECT_LT(touched, 390);
    }
}

}  // namespace
