// Terrain erosion: the message format and its quantisations, the queue,
// sampling and batching per wheel, and the application to the terrain
// (slope and rut limits, dig and pile, deferral near the local rider), and
// a real bike digging a rut.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "bike/bike.h"
#include "bike/contact.h"
#include "bike/drivetrain.h"
#include "bike/physics.h"
#include "bike/suspension.h"
#include "core/messages.h"
#include "files/datafs.h"
#include "files/memory.h"
#include "test_support.h"
#include "track/erosion.h"
#include "track/heightfield.h"
#include "track/surface.h"
#include "track_test_util.h"

namespace {

// ---- helpers ----------------------------------------------------------------

struct ground {
    heightfield hf;
    ground() = default;
    ground(const ground&) = delete;
    ground& operator=(const ground&) = delete;
    ~ground() { heightfield_free(&hf); }
};

// 257 samples a side, 0.5 ft apart (128 ft square), heights from f.
template <typename F>
void make_ground(ground* g, F f, int grid_log2 = 7, float spacing = 0.5f)
{
    const int n = (2 << grid_log2) + 1;
    std::vector<float> h((size_t)n * n);
    for (int row = 0; row < n; row++)
        for (int col = 0; col < n; col++)
            h[(size_t)col + (size_t)row * n] = f((float)col * spacing, (float)row * spacing);
    ASSERT_TRUE(heightfield_create(&g->hf, grid_log2, spacing, h.data()));
}

// One surface over the whole ground; the test shapes its erode block.
erode_params* one_surface(heightfield* hf)
{
    surface_type* s = (surface_type*)mem_alloc_or_die(sizeof(surface_type));
    new (s) surface_type();
    hf->surfaces = s;
    hf->surface_count = 1;
    const size_t side = (size_t)1 << hf->grid_log2;
    hf->tilemap = (uint8_t*)mem_calloc_or_die(side * side, 1);
    return &s->erode;
}

// A surface whose dig and pile do not overlap: the dig centre changes by
// exactly the two dig amounts.
erode_params* apart_surface(heightfield* hf)
{
    erode_params* p = one_surface(hf);
    p->erode_radius = 1.0f;
    p->erode_inner_radius = 0.5f;
    p->erode_displacement = 3.0f;
    return p;
}

double height_sum(const heightfield* hf)
{
    double sum = 0;
    const size_t n = (size_t)hf->sample_count * (size_t)hf->sample_count;
    for (size_t i = 0; i < n; i++)
        sum += hf->heights[i];
    return sum;
}

float at(const heightfield* hf, float x, float z)
{
    return hf->heights[(int)(x / hf->spacing) + (int)(z / hf->spacing) * hf->sample_count];
}

erode_point point(float x, float z, float dx, float dz, int w)
{
    erode_point p;
    p.x = x;
    p.z = z;
    p.dir_x = dx;
    p.dir_z = dz;
    p.weight = w;
    return p;
}

std::unique_ptr<erode_queue> new_queue()
{
    return std::unique_ptr<erode_queue>(new erode_queue());
}

// The queue the wheels of these tests deliver to, as a world's would.
erode_queue* test_queue()
{
    static std::unique_ptr<erode_queue> q = new_queue();
    return q.get();
}

// Messages delivered while a test runs, instead of into the queue.
std::vector<std::vector<uint8_t>> g_sent;
void capture(void*, const uint8_t* m, int length)
{
    g_sent.emplace_back(m, m + length);
}
struct capture_outlet {
    capture_outlet()
    {
        g_sent.clear();
        test_queue()->outlet.send = capture;
    }
    ~capture_outlet() { test_queue()->outlet = erosion_outlet(); }
};

std::vector<erode_point> unpack(const std::vector<uint8_t>& m, float extent)
{
    std::vector<erode_point> out(ERODE_TRAIL_POINTS * 4);
    out.resize((size_t)erode_message_unpack(m.data(), (int)m.size(), extent, out.data(), (int)out.size()));
    return out;
}

// A deterministic sequence in [0, 1).
struct lcg {
    uint32_t s = 12345;
    float next()
    {
        s = s * 1664525u + 1013904223u;
        return (float)(s >> 8) / 16777216.0f;
    }
};

// ---- messages ------------------------------------------------------------------

TEST(ErodeMessage, QuantisationsSaturateAndCentre)
{
    EXPECT_EQ(erode_q16(0.0f), 32768);
    EXPECT_EQ(erode_q16(-5000.0f), 0);
    EXPECT_EQ(erode_q16(5000.0f), 65535);
    EXPECT_EQ(erode_q16(NAN), 0);
    EXPECT_FLOAT_EQ(erode_q16_value(65535), 1024.0f);
    EXPECT_EQ(erode_q24(128.0f, 128.0f), 16777215u);
    EXPECT_EQ(erode_q24(500.0f, 128.0f), 16777215u);
    EXPECT_EQ(erode_q24(-3.0f, 128.0f), 0u);
    EXPECT_EQ(erode_q24(64.0f, 128.0f), 8388608u);
    EXPECT_EQ(erode_q24(5.0f, 0.0f), 0u);
    // Direction bytes keep six bits; the low two carry the weight.
    EXPECT_EQ(erode_dirbyte(1.0f), 252);
    EXPECT_EQ(erode_dirbyte(-1.0f), 0);
    EXPECT_EQ(erode_dirbyte(0.0f), 128);
    EXPECT_FLOAT_EQ(erode_dirbyte_value(252 | 3), 0.96875f);
    EXPECT_FLOAT_EQ(erode_dirbyte_value(128), 0.0f);
    EXPECT_FLOAT_EQ(erode_dirbyte_value(0), -1.0f);
}

TEST(ErodeMessage, RoundTripStaysWithinTheSteps)
{
    const float extent = 1536.0f;
    lcg r;
    std::vector<erode_point> pts(ERODE_TRAIL_POINTS);
    float x = 700.123f, z = 20.5f;
    float min_x = 1e9f, min_z = 1e9f, max_x = -1e9f, max_z = -1e9f;
    for (int k = 0; k < ERODE_TRAIL_POINTS; k++) {
        if (k > 0) {
            const float sx = 0.1f + 0.6f * r.next(), sz = -0.3f + 0.5f * r.next();
            x += sx;
            z += sz;
            min_x = std::fmin(min_x, sx), max_x = std::fmax(max_x, sx);
            min_z = std::fmin(min_z, sz), max_z = std::fmax(max_z, sz);
        }
        pts[(size_t)k] = point(x, z, 2 * r.next() - 1, 2 * r.next() - 1, 1 + k % 16);
    }
    uint8_t m[ERODE_MESSAGE_MAX];
    const int length = erode_message_pack(pts.data(), ERODE_TRAIL_POINTS, min_x, min_z, max_x, max_z, extent, m);
    ASSERT_EQ(length, 17 + 4 * 63);
    EXPECT_EQ(m[0], 1);
    const std::vector<erode_point> back = unpack(std::vector<uint8_t>(m, m + length), extent);
    ASSERT_EQ(back.size(), pts.size());

    // Each step byte spans the padded range; the error of every point stays
    // within half a step of it (no drift along the batch).
    const float step_x = (max_x - min_x + 0.125f + 0.07f) / 255.0f;
    const float step_z = (max_z - min_z + 0.125f + 0.07f) / 255.0f;
    EXPECT_NEAR(back[0].x, pts[0].x, extent / 16777215.0f);
    EXPECT_NEAR(back[0].z, pts[0].z, extent / 16777215.0f);
    for (size_t k = 1; k < pts.size(); k++) {
        EXPECT_NEAR(back[k].x, pts[k].x, 0.5f * step_x + 1e-3f) << k;
        EXPECT_NEAR(back[k].z, pts[k].z, 0.5f * step_z + 1e-3f) << k;
    }
    for (size_t k = 0; k < pts.size(); k++) {
        EXPECT_NEAR(back[k].dir_x, pts[k].dir_x, 0.04f) << k;
        EXPECT_NEAR(back[k].dir_z, pts[k].dir_z, 0.04f) << k;
        // Sixteen samples travel as weight 0.
        EXPECT_EQ(back[k].weight, pts[k].weight & 15) << k;
    }
}

TEST(ErodeMessage, MalformedMessagesHoldNoPoints)
{
    uint8_t m[32] = {1};
    EXPECT_EQ(erode_message_point_count(m, 16), 0);
    EXPECT_EQ(erode_message_point_count(m, 17), 1);
    EXPECT_EQ(erode_message_point_count(m, 20), 1);
    EXPECT_EQ(erode_message_point_count(m, 21), 2);
    EXPECT_EQ(erode_message_point_count(m, -5), 0);
    m[0] = 2;
    EXPECT_EQ(erode_message_point_count(m, 21), 0);
    std::unique_ptr<erode_queue> q = new_queue();
    EXPECT_EQ(erode_message_enqueue(q.get(), m, 21, 128.0f), 0);
    m[0] = 1;
    EXPECT_EQ(erode_message_enqueue(q.get(), m, 21, 128.0f), 2);
    EXPECT_EQ(q->queue_count, 2);
    // Only as many points as asked for are written.
    erode_point out[1];
    EXPECT_EQ(erode_message_unpack(m, 21, 128.0f, out, 1), 1);
    EXPECT_EQ(erode_message_pack(out, 0, 0, 0, 0, 0, 128.0f, m), 0);
}

TEST(ErodeQueue, FullQueueDropsPointsAndSaysSoOnce)
{
    clear_messages();
    std::unique_ptr<erode_queue> q = new_queue();
    for (int i = 0; i < ERODE_QUEUE_SIZE; i++)
        ASSERT_TRUE(erode_queue_push(q.get(), point(1, 1, 0, 0, 1)));
    EXPECT_FALSE(erode_queue_push(q.get(), point(2, 2, 0, 0, 1)));
    EXPECT_FALSE(erode_queue_push(q.get(), point(3, 3, 0, 0, 1)));
    EXPECT_EQ(q->queue_count, ERODE_QUEUE_SIZE);
    EXPECT_EQ(track_test::messages(), std::vector<std::string>{"Erode queue full!"});

    // Room again once points are applied; a later overflow stays quiet.
    ground g;
    make_ground(&g, [](float, float) { return 0.0f; });
    EXPECT_EQ(erosion_apply(q.get(), &g.hf, 1, 1024, nullptr), ERODE_QUEUE_SIZE / 64 + 32);
    EXPECT_TRUE(erode_queue_push(q.get(), point(4, 4, 0, 0, 1)));
    for (int i = 0; i < ERODE_QUEUE_SIZE; i++)
        erode_queue_push(q.get(), point(1, 1, 0, 0, 1));
    EXPECT_EQ(track_test::messages().size(), 1u);
    // Emptied for a new track.
    erode_queue_clear(q.get());
    EXPECT_EQ(q->queue_count, 0);
    EXPECT_EQ(q->queue_head, 0);
    EXPECT_TRUE(erode_queue_push(q.get(), point(4, 4, 0, 0, 1)));
}

// ---- sampling ----------------------------------------------------------------------

TEST(ErodeSampling, WheelForceBecomesADirectionOfItsStrength)
{
    const erode_params p;  // lower 50, upper 150, speeds 10..15, slip 0..5
    wheel_contact w;
    w.depth = 0.05f;
    w.point = {10, 0, 20};
    w.feedback.f1[0] = 100;  // pushing the ground backward along +x
    erode_point s;
    ASSERT_TRUE(erosion_wheel_sample(&w, {0, 0, -20}, &p, &s));
    EXPECT_FLOAT_EQ(s.x, 10.0f);
    EXPECT_FLOAT_EQ(s.z, 20.0f);
    EXPECT_NEAR(s.dir_x, 0.5f * 0.875f + 0.125f, 1e-6f);
    EXPECT_FLOAT_EQ(s.dir_z, 0.0f);
    EXPECT_EQ(s.weight, 1);

    // Slipping makes the same force count half again as much: full strength.
    w.point_velocity = {0, 0, 5};
    ASSERT_TRUE(erosion_wheel_sample(&w, {0, 0, -20}, &p, &s));
    EXPECT_NEAR(s.dir_x, 1.0f, 1e-6f);
    // Between the off and on speeds the force fades.
    w.point_velocity = {0, 0, 0};
    ASSERT_TRUE(erosion_wheel_sample(&w, {0, 0, -13.75f}, &p, &s));
    EXPECT_NEAR(s.dir_x, 0.125f + 0.875f * (75.0f - 50.0f) / 100.0f, 1e-5f);

    // A wheel standing still, off the ground, or pushing softly: nothing.
    EXPECT_FALSE(erosion_wheel_sample(&w, {0, 0, -9}, &p, &s));
    w.feedback.f1[0] = 40;
    EXPECT_FALSE(erosion_wheel_sample(&w, {0, 0, -20}, &p, &s));
    w.feedback.f1[0] = 100;
    w.depth = 0;
    EXPECT_FALSE(erosion_wheel_sample(&w, {0, 0, -20}, &p, &s));
    // A broken surface with equal speed thresholds switches instead of
    // dividing by zero.
    erode_params flat = p;
    flat.erode_on_speed = flat.erode_off_speed = 10;
    w.depth = 0.05f;
    ASSERT_TRUE(erosion_wheel_sample(&w, {0, 0, -10}, &flat, &s));
    EXPECT_TRUE(std::isfinite(s.dir_x));
    EXPECT_FALSE(erosion_wheel_sample(&w, {0, 0, -9.9f}, &flat, &s));
}

TEST(ErodeSampling, SamplesBecomePointsEveryHalfFoot)
{
    ground g;
    make_ground(&g, [](float, float) { return 0.0f; });
    capture_outlet out;
    erode_trail t;
    // 0.2 ft apart: the fourth sample makes 0.6 ft, so the first three
    // become one point and the 0.1 ft beyond counts toward the next.
    for (int i = 0; i < 4; i++)
        erosion_trail_add(test_queue(), &t, point(10 + 0.2f * (float)i, 10, 0.5f, 0, 1), &g.hf, 100 + i);
    ASSERT_EQ(t.point_count, 1);
    EXPECT_EQ(t.points[0].weight, 3);
    EXPECT_NEAR(t.points[0].x, 10.2f, 1e-5f);
    EXPECT_NEAR(t.travelled, 0.1f, 1e-5f);
    EXPECT_EQ(t.pending_samples, 1);
    EXPECT_EQ(t.last_emit_tick, 103);
    EXPECT_TRUE(g_sent.empty());
}

TEST(ErodeSampling, SixteenSamplesMakeOnePointThatTravelsAsWeightZero)
{
    ground g;
    make_ground(&g, [](float, float) { return 0.0f; });
    erode_params* p = apart_surface(&g.hf);
    capture_outlet out;
    erode_trail t;
    for (int i = 0; i < 16; i++)
        erosion_trail_add(test_queue(), &t, point(30, 30, 1, 0, 1), &g.hf, 10);
    EXPECT_EQ(t.point_count, 0);
    EXPECT_EQ(t.pending_samples, 16);
    erosion_trail_add(test_queue(), &t, point(30, 30, 1, 0, 1), &g.hf, 11);
    ASSERT_EQ(t.point_count, 1);
    EXPECT_EQ(t.points[0].weight, 16);
    EXPECT_EQ(t.travelled, 0.0f);

    // 64 quiet ticks after the last point are not enough; 65 are.
    erosion_trail_idle(test_queue(), &t, &g.hf, 11 + 64);
    EXPECT_TRUE(g_sent.empty());
    erosion_trail_idle(test_queue(), &t, &g.hf, 11 + 65);
    ASSERT_EQ(g_sent.size(), 1u);
    EXPECT_EQ(t.point_count, 0);
    EXPECT_EQ(t.pending_samples, 0);
    const std::vector<erode_point> got = unpack(g_sent[0], g.hf.extent);
    ASSERT_EQ(got.size(), 2u);  // the sixteen, then the pending one
    EXPECT_EQ(got[0].weight, 0);
    EXPECT_EQ(got[1].weight, 1);

    // Weight 0: the main dig does nothing, only the inner one digs.
    const float r = 1.0f / 2048.0f;
    for (int weight : {0, 1}) {
        ground fresh;
        make_ground(&fresh, [](float, float) { return 0.0f; });
        *apart_surface(&fresh.hf) = *p;
        std::unique_ptr<erode_queue> q = new_queue();
        erode_point one = got[0];
        one.weight = weight;
        erode_queue_push(q.get(), one);
        ASSERT_EQ(erosion_apply(q.get(), &fresh.hf, 1, 1024, nullptr), 1);
        const float expect = -(float)weight * r * p->erode_depth - r * p->erode_inner_depth;
        EXPECT_NEAR(at(&fresh.hf, 30, 30), expect, 1e-8f) << weight;
        EXPECT_EQ(fresh.hf.modify_count, weight == 0 ? 2 : 3);
    }
}

TEST(ErodeSampling, ABatchSpanningMoreThan64FeetIsCut)
{
    ground g;
    make_ground(&g, [](float, float) { return 0.0f; }, 9, 1.0f);  // 1024 ft
    capture_outlet out;
    erode_trail t;
    // Samples a foot apart each make a point (one sample late); then a jump
    // of 70 ft widens the steps beyond 64 ft.
    const float xs[] = {10, 11, 12, 13, 83, 84};
    int now = 0;
    for (float x : xs)
        erosion_trail_add(test_queue(), &t, point(x, 50, 0.5f, 0, 1), &g.hf, ++now);
    // Points 10 to 13 went out; the point at 83 starts the next batch and
    // the sample at 84 is pending.
    ASSERT_EQ(g_sent.size(), 1u);
    const std::vector<erode_point> first = unpack(g_sent[0], g.hf.extent);
    ASSERT_EQ(first.size(), 4u);
    for (int k = 0; k < 4; k++)
        EXPECT_NEAR(first[(size_t)k].x, 10.0f + (float)k, 0.01f);
    ASSERT_EQ(t.point_count, 1);
    EXPECT_FLOAT_EQ(t.points[0].x, 83.0f);
    EXPECT_EQ(t.pending_samples, 1);
    EXPECT_EQ(t.last_emit_tick, now);
    // The next sample a foot on measures from the last sample, not from the
    // origin: it adds to the pending point.
    erosion_trail_add(test_queue(), &t, point(84.3f, 50, 0.5f, 0, 1), &g.hf, ++now);
    EXPECT_EQ(t.pending_samples, 2);

    // A full batch of 64 points goes out when the 65th arrives.
    erode_trail full;
    g_sent.clear();
    for (int i = 0; i <= 65; i++)
        erosion_trail_add(test_queue(), &full, point(100 + (float)i, 60, 0.5f, 0, 1), &g.hf, i);
    ASSERT_EQ(g_sent.size(), 1u);
    EXPECT_EQ(erode_message_point_count(g_sent[0].data(), (int)g_sent[0].size()), 64);
    EXPECT_EQ(full.point_count, 1);
}

TEST(ErodeSampling, OfflineBatchesGoStraightToTheQueue)
{
    ground g;
    make_ground(&g, [](float, float) { return 0.0f; });
    erode_queue_clear(test_queue());
    erode_trail t;
    for (int i = 0; i < 3; i++)
        erosion_trail_add(test_queue(), &t, point(20 + (float)i, 20, 0.5f, 0, 1), &g.hf, i);
    erosion_trail_idle(test_queue(), &t, &g.hf, 200);
    EXPECT_EQ(test_queue()->queue_count, 3);
    erode_queue_clear(test_queue());
}

// ---- application -------------------------------------------------------------------

TEST(ErodeApply, DigAndPileKeepTheHeightSum)
{
    ground g;
    make_ground(&g, [](float x, float z) { return 0.01f * x + 0.02f * z; });
    const double before = height_sum(&g.hf);
    const float removed = erosion_dig(&g.hf, 40.3f, 50.1f, 4.0f, -0.05f);
    EXPECT_LT(removed, -1.0f);
    erosion_pile(&g.hf, 38.0f, 49.0f, 4.0f, -removed);
    EXPECT_NEAR(height_sum(&g.hf), before, 1e-3);
    EXPECT_EQ(g.hf.modify_count, 2);
    EXPECT_LT(at(&g.hf, 40.5f, 50.0f), 0.01f * 40.5f + 0.02f * 50.0f);

    // A square reaching off the grid loses what falls outside it.
    const float edge = erosion_dig(&g.hf, 0.5f, 60.0f, 4.0f, -0.05f);
    erosion_pile(&g.hf, 0.2f, 60.0f, 4.0f, -edge);
    EXPECT_GT(std::fabs(height_sum(&g.hf) - before), 0.1);
    // Nothing to dig: nothing changes, nothing is counted.
    const int count = g.hf.modify_count;
    EXPECT_EQ(erosion_dig(&g.hf, 40, 40, 4.0f, 0.0f), 0.0f);
    EXPECT_EQ(g.hf.modify_count, count);
}

TEST(ErodeApply, TheRefreshMarkingCoversEveryChangedSample)
{
    ground g;
    make_ground(&g, [](float, float) { return 0.0f; });
    struct rect {
        int c0, r0, c1, r1;
    };
    static std::vector<rect> marked;
    marked.clear();
    g_erosion_hooks.mark_dirty = [](void*, heightfield*, int c0, int r0, int c1, int r1) { marked.push_back({c0, r0, c1, r1}); };
    erosion_dig(&g.hf, 20.3f, 30.7f, 4.0f, -0.1f);
    erosion_dig(&g.hf, 1.0f, 127.0f, 4.0f, -0.1f);  // at a corner
    g_erosion_hooks.mark_dirty = nullptr;
    ASSERT_EQ(marked.size(), 2u);
    const int n = g.hf.sample_count;
    for (int row = 0; row < n; row++) {
        for (int col = 0; col < n; col++) {
            if (g.hf.heights[col + row * n] == 0.0f)
                continue;
            bool inside = false;
            for (const rect& r : marked)
                inside = inside || (col >= r.c0 && col <= r.c1 && row >= r.r0 && row <= r.r1);
            EXPECT_TRUE(inside) << col << "," << row;
        }
    }
    for (const rect& r : marked) {
        EXPECT_GE(r.c0, 0);
        EXPECT_GE(r.r0, 0);
        EXPECT_LE(r.c1, n - 1);
        EXPECT_LE(r.r1, n - 1);
    }
}

TEST(ErodeApply, SteepBanksAndDropsAreLeftAlone)
{
    // Direction (-1, 0) throws the dirt 3 ft toward +x, uphill on these
    // slopes; (+1, 0) throws it downhill.
    struct {
        float slope, dir;
        bool changes;
    } cases[] = {
        {0.6f, -1, false},  // the pile point 1.8 ft higher than 0.5 x 3 allows
        {0.4f, -1, true},
        {0.6f, 1, false},   // 1.8 ft lower
        {0.4f, 1, true},
    };
    for (const auto& c : cases) {
        ground g;
        const float k = c.slope;
        make_ground(&g, [k](float x, float) { return k * x; });
        apart_surface(&g.hf);
        std::unique_ptr<erode_queue> q = new_queue();
        erode_queue_push(q.get(), point(30, 30, c.dir, 0, 1));
        const double before = height_sum(&g.hf);
        const float centre = at(&g.hf, 30, 30);
        EXPECT_EQ(erosion_apply(q.get(), &g.hf, 1, 1024, nullptr), 1);
        if (c.changes) {
            EXPECT_LT(at(&g.hf, 30, 30), centre) << c.slope << " " << c.dir;
            EXPECT_NEAR(height_sum(&g.hf), before, 1e-3);
        } else {
            EXPECT_EQ(at(&g.hf, 30, 30), centre) << c.slope << " " << c.dir;
            EXPECT_EQ(g.hf.modify_count, 0);
        }
    }
}

TEST(ErodeApply, ThrowingDownhillDigsHarder)
{
    float dug[2];
    for (int i = 0; i < 2; i++) {
        ground g;
        make_ground(&g, [](float x, float) { return 0.25f * x; });
        apart_surface(&g.hf)->erode_downhill_scale = (float)i;
        std::unique_ptr<erode_queue> q = new_queue();
        erode_queue_push(q.get(), point(30, 30, 1, 0, 1));
        erosion_apply(q.get(), &g.hf, 1, 1024, nullptr);
        dug[i] = 0.25f * 30 - at(&g.hf, 30, 30);
    }
    // 0.75 ft down over 3 ft of throw: a quarter more.
    EXPECT_NEAR(dug[1] / dug[0], 1.25f, 1e-3f);
    EXPECT_NEAR(dug[0], 1.125f / 2048.0f, 1e-7f);
}

TEST(ErodeApply, RutLimitRowsFadeTheDigging)
{
    const erode_params defaults;
    float dig, inner;
    const float depths[] = {-1.0f, 0.0f, 0.25f, 0.5f, 1.0f, 2.0f};
    const float scales[] = {1.0f, 1.0f, 0.75f, 0.5f, 0.0f, 0.0f};
    for (int i = 0; i < 6; i++) {
        erosion_limit_scales(&defaults, depths[i], &dig, &inner);
        EXPECT_FLOAT_EQ(dig, scales[i]) << depths[i];
        EXPECT_FLOAT_EQ(inner, scales[i]) << depths[i];
    }
    erode_params three;
    three.limit_count = 3;
    three.limit_depth[1] = 0.6f, three.limit_dig[1] = 0.35f, three.limit_inner_dig[1] = 0.5f;
    three.limit_depth[2] = 1.0f, three.limit_dig[2] = 0.0f, three.limit_inner_dig[2] = 0.0f;
    erosion_limit_scales(&three, 0.3f, &dig, &inner);
    EXPECT_NEAR(dig, 0.675f, 1e-6f);
    EXPECT_NEAR(inner, 0.75f, 1e-6f);
    erosion_limit_scales(&three, 0.8f, &dig, &inner);
    EXPECT_NEAR(dig, 0.175f, 1e-6f);
    erode_params none;
    none.limit_count = 0;
    erosion_limit_scales(&none, 5.0f, &dig, &inner);
    EXPECT_EQ(dig, 1.0f);
    none.limit_count = 1;
    none.limit_dig[0] = 0.5f;
    erosion_limit_scales(&none, 5.0f, &dig, &inner);
    EXPECT_EQ(dig, 0.5f);

    // A rut a foot below the loaded ground is not dug deeper.
    ground g;
    make_ground(&g, [](float, float) { return 5.0f; });
    apart_surface(&g.hf);
    for (int i = 0; i < g.hf.sample_count * g.hf.sample_count; i++)
        g.hf.heights[i] = 4.0f;
    std::unique_ptr<erode_queue> q = new_queue();
    erode_queue_push(q.get(), point(30, 30, 1, 0, 1));
    erosion_apply(q.get(), &g.hf, 1, 1024, nullptr);
    EXPECT_EQ(at(&g.hf, 30, 30), 4.0f);
    EXPECT_EQ(height_sum(&g.hf), 4.0 * g.hf.sample_count * g.hf.sample_count);
}

TEST(ErodeApply, PointsNearTheLocalRiderWait)
{
    ground g;
    make_ground(&g, [](float, float) { return 0.0f; });
    std::unique_ptr<erode_queue> q = new_queue();
    const vec3 rider = {30, 0, 30};
    erode_queue_push(q.get(), point(35, 0 + 30, 1, 0, 1));  // 5 ft away
    erode_queue_push(q.get(), point(90, 90, 1, 0, 1));      // behind it in the queue
    EXPECT_EQ(erosion_apply(q.get(), &g.hf, 1000, 1024, &rider), 0);
    EXPECT_EQ(q->defer_deadline, 1256);
    for (int now = 1001; now <= 1256; now++)
        ASSERT_EQ(erosion_apply(q.get(), &g.hf, now, 1024, &rider), 0) << now;
    EXPECT_EQ(erosion_apply(q.get(), &g.hf, 1257, 1024, &rider), 2);
    EXPECT_EQ(q->defer_deadline, INT_MAX);
    EXPECT_LT(at(&g.hf, 35, 30), 0.0f);

    // The rider riding on lets it go at once.
    erode_queue_push(q.get(), point(35, 30, 1, 0, 1));
    EXPECT_EQ(erosion_apply(q.get(), &g.hf, 2000, 1024, &rider), 0);
    const vec3 moved = {50, 0, 30};
    EXPECT_EQ(erosion_apply(q.get(), &g.hf, 2001, 1024, &moved), 1);
    // Without a local rider nothing waits.
    erode_queue_push(q.get(), point(35, 30, 1, 0, 1));
    EXPECT_EQ(erosion_apply(q.get(), &g.hf, 2002, 1024, nullptr), 1);
}

TEST(ErodeApply, BudgetRateAndFrozenGround)
{
    ground g;
    make_ground(&g, [](float, float) { return 0.0f; });
    std::unique_ptr<erode_queue> q = new_queue();
    for (int i = 0; i < 6400; i++)
        erode_queue_push(q.get(), point(10 + (float)(i % 100), 10 + (float)(i / 100) * 0.1f, 1, 0, 1));
    // A long queue drains faster: count / 64 + 32 per tick.
    EXPECT_EQ(erosion_apply(q.get(), &g.hf, 1, 1024, nullptr), 132);
    EXPECT_EQ(q->queue_count, 6400 - 132);
    // Erosion off: the points wait.
    EXPECT_EQ(erosion_apply(q.get(), &g.hf, 2, 0, nullptr), 0);
    EXPECT_EQ(erosion_apply(q.get(), &g.hf, 2, -1, nullptr), 0);
    EXPECT_EQ(q->queue_count, 6400 - 132);

    // The world step lifts the frozen flag for the application only.
    erode_queue_clear(test_queue());
    erode_queue_push(test_queue(), point(60, 60, 1, 0, 1));
    g.hf.frozen = 1;
    erosion_world_step(test_queue(), &g.hf, nullptr, 0, 5, 0, nullptr);
    EXPECT_EQ(test_queue()->queue_count, 1);
    erosion_world_step(test_queue(), &g.hf, nullptr, 0, 5, 1024, nullptr);
    EXPECT_EQ(test_queue()->queue_count, 0);
    EXPECT_LT(at(&g.hf, 60, 60), 0.0f);
    EXPECT_EQ(g.hf.frozen, 1);
    // Frozen ground outside the step keeps its heights.
    const float kept = at(&g.hf, 60, 60);
    erode_queue_push(test_queue(), point(60, 60, 1, 0, 1));
    erosion_apply(test_queue(), &g.hf, 6, 1024, nullptr);
    EXPECT_EQ(at(&g.hf, 60, 60), kept);
    erode_queue_clear(test_queue());
}

TEST(ErodeApply, APointWithoutDirectionDigsAndPilesInPlace)
{
    ground g;
    make_ground(&g, [](float, float) { return 0.0f; });
    std::unique_ptr<erode_queue> q = new_queue();
    erode_queue_push(q.get(), point(40, 40, 0, 0, 5));
    erode_queue_push(q.get(), point(41, 40, erode_dirbyte_value(128), erode_dirbyte_value(128), 5));
    EXPECT_EQ(erosion_apply(q.get(), &g.hf, 1, 1024, nullptr), 2);
    for (int i = 0; i < g.hf.sample_count * g.hf.sample_count; i++)
        ASSERT_TRUE(std::isfinite(g.hf.heights[i])) << i;
    EXPECT_NEAR(height_sum(&g.hf), 0.0, 1e-4);
}

TEST(ErodeApply, TheSameMessagesGiveTheSameGround)
{
    lcg r;
    std::vector<std::vector<uint8_t>> messages;
    for (int m = 0; m < 40; m++) {
        erode_point pts[8];
        float x = 20 + 80 * r.next(), z = 20 + 80 * r.next();
        for (erode_point& p : pts) {
            p = point(x, z, 2 * r.next() - 1, 2 * r.next() - 1, 1 + (int)(16 * r.next()));
            x += 0.5f * r.next();
            z += 0.5f * r.next() - 0.25f;
        }
        uint8_t bytes[ERODE_MESSAGE_MAX];
        const int length = erode_message_pack(pts, 8, 0, -0.25f, 0.5f, 0.25f, 128.0f, bytes);
        messages.emplace_back(bytes, bytes + length);
    }
    std::vector<float> result[2];
    for (int run = 0; run < 2; run++) {
        ground g;
        make_ground(&g, [](float x, float z) { return 0.05f * x + 0.01f * std::sin(z); });
        one_surface(&g.hf)->erode_downhill_scale = 0.5f;
        std::unique_ptr<erode_queue> q = new_queue();
        int now = 0;
        for (const std::vector<uint8_t>& m : messages) {
            erode_message_enqueue(q.get(), m.data(), (int)m.size(), g.hf.extent);
            erosion_apply(q.get(), &g.hf, ++now, 1536, nullptr);
        }
        while (q->queue_count > 0)
            erosion_apply(q.get(), &g.hf, ++now, 1536, nullptr);
        result[run].assign(g.hf.heights, g.hf.heights + g.hf.sample_count * g.hf.sample_count);
    }
    EXPECT_EQ(0, memcmp(result[0].data(), result[1].data(), result[0].size() * sizeof(float)));
}

// ---- a real bike ---------------------------------------------------------------------

struct ErodeRide : ::testing::Test {
    static void SetUpTestSuite() { test::physics(); }
    static void TearDownTestSuite() { test::physics_reset(); }
    test::temp_dir home;
    test::scoped_env xdg{"XDG_DATA_HOME", home.path.c_str()};
    test::scoped_env kz{"KZ_HOME", test::build_data_dir().c_str()};
    void SetUp() override
    {
        free_file_index();
        build_file_index();
        erode_queue_clear(test_queue());
    }
    void TearDown() override
    {
        erode_queue_clear(test_queue());
        physics_clear_contacts(test::physics());
        free_file_index();
    }
};

TEST_F(ErodeRide, ASpinningRearWheelDigsARutBehindTheBike)
{
    ground g;
    make_ground(&g, [](float, float) { return 0.0f; }, 8, 1.0f);  // 512 ft
    one_surface(&g.hf);
    bike* b = create_bike(test::physics(), "crf250(2018)", 0, "1", nullptr, nullptr, nullptr, nullptr);
    place_bike_at_start(b, &g.hf, 256.0f, 400.0f, 0.0f, 0.0f);
    const float speed = 20.0f;
    for (int i = 0; i < bike_body_count; i++)
        dBodySetLinearVel(b->bodies[i], 0, 0, -speed);
    const float rear_r = b->params.rear_tyre_ring_radius + b->params.rear_tyre_section_radius;
    // The rear wheel spins well beyond the ground speed: wheelspin.
    dBodySetAngularVel(b->bodies[body_rear_wheel], -2.0f * speed / rear_r, 0, 0);
    b->gear = 0;
    b->clutch = 1;
    b->engine_speed = overall_ratio(b) * 2.0f * speed / rear_r;
    const vec3 start = bike_frame_position(b);
    for (int t = 0; t < 256; t++) {
        b->throttle = 1.0f;
        bike_touches_ground(b, &g.hf);
        apply_suspension(b);
        drivetrain_step(b, t);
        physics_step(test::physics());
        erosion_world_step(test_queue(), &g.hf, &b, 1, t, 1024, nullptr);
    }
    const vec3 end = bike_frame_position(b);
    ASSERT_LT(end.z, start.z - 20.0f);  // it rode off toward -z

    // Ruts: samples along the path were dug below the loaded ground and
    // the dirt piled up; nothing changed far to the side.
    float deepest = 0, highest = 0;
    int changed_far = 0;
    const int n = g.hf.sample_count;
    for (int row = 0; row < n; row++) {
        for (int col = 0; col < n; col++) {
            const float h = g.hf.heights[col + row * n];
            if (std::fabs((float)col - start.x) > 15.0f && h != 0.0f)
                changed_far++;
            deepest = std::fmin(deepest, h);
            highest = std::fmax(highest, h);
        }
    }
    EXPECT_LT(deepest, -1e-4f);
    EXPECT_GT(highest, 1e-5f);
    EXPECT_EQ(changed_far, 0);
    EXPECT_GT(g.hf.modify_count, 10);
    destroy_bike(b);
}

}  // namespace
