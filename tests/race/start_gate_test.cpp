// The starting gate of the default data against real bikes on the generated
// "rabbithill", through the world reset and the world tick: raised, its bar
// holds bikes at full throttle (from the first row and from the second, at
// the edges of the gate and in its middle); dropped, they ride over it
// without touching it and leave the gate behind.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <string>
#include <vector>

#include "bike/bike.h"
#include "bike/contact.h"
#include "bike/controls.h"
#include "bike/physics.h"
#include "bike/shape.h"
#include "core/game.h"
#include "core/messages.h"
#include "files/datafs.h"
#include "race/race.h"
#include "race/world.h"
#include "test_support.h"
#include "track/track.h"

namespace {

const int SECOND = RACE_TICKS_PER_SECOND;

// Slots 0 and 39 stand behind the two outer pieces of the 40, slot 20 in the
// middle, slot 50 one row (10 ft) behind piece 10: it hits the bar faster.
const int riders[] = {0, 20, 39, 50};

float dot(vec3 a, vec3 b)
{
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
vec3 minus(vec3 a, vec3 b)
{
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
vec3 body_position(const bike* b, int body)
{
    const dReal* p = dBodyGetPosition(b->bodies[body]);
    return {(float)p[0], (float)p[1], (float)p[2]};
}

// A piece seen from the bike behind it: how far ahead along the way the
// bike faces, and how high above the ground the piece stands on.
struct piece_view {
    vec3 origin{0, 0, 0};
    vec3 ahead{0, 0, 0};  // the way the bike faces
    vec3 up{0, 1, 0};
    float along(vec3 p) const { return dot(minus(p, origin), ahead); }
    float height(vec3 p) const { return dot(minus(p, origin), up); }
};

piece_view view_of(int piece)
{
    const statue& st = tw->track.objects.statues.items[tw->track.timing_gates.pieces[piece].object];
    const float (*base)[3] = tw->race.piece_base[piece];
    piece_view v;
    v.origin = {st.x, st.y, st.z};
    v.ahead = {-base[2][0], -base[2][1], -base[2][2]};
    v.up = {base[1][0], base[1][1], base[1][2]};
    return v;
}

// Each sphere of a piece's shape as the piece stands now: how far ahead of
// its origin, how high, and its radius.
struct sphere_place {
    float along = 0, height = 0, radius = 0;
};

std::vector<sphere_place> spheres_of(int piece)
{
    const statue& st = tw->track.objects.statues.items[tw->track.timing_gates.pieces[piece].object];
    const piece_view v = view_of(piece);
    std::vector<sphere_place> out;
    for (int i = 0; i < st.shape->sphere_count; i++) {
        const shape_sphere& sp = st.shape->spheres[i];
        float w[3] = {st.x, st.y, st.z};
        for (int k = 0; k < 3; k++)
            w[k] += sp.x * st.rotation[0][k] + sp.y * st.rotation[1][k] + sp.z * st.rotation[2][k];
        const vec3 c = {w[0], w[1], w[2]};
        out.push_back({v.along(c), v.height(c), sp.radius});
    }
    return out;
}

// Raised, the sphere farthest ahead is the bar the wheel meets.
sphere_place foremost_sphere(int piece)
{
    sphere_place bar;
    bar.along = -1e9f;
    for (const sphere_place& s : spheres_of(piece))
        if (s.along > bar.along)
            bar = s;
    return bar;
}

int piece_of(int slot)
{
    return slot % tw->track.timing_gates.piece_count;
}

class StartGate : public ::testing::Test {
protected:
    test::data_dirs_fixture dirs;

    void SetUp() override
    {
        const std::string data = test::build_data_dir();
        ASSERT_EQ(symlink((data + "/zzzz.saf").c_str(), (dirs.game + "/zzzz.saf").c_str()), 0);
        ASSERT_EQ(symlink((data + "/rabbithill").c_str(), (dirs.game + "/rabbithill").c_str()), 0);
        free_file_index();
        clear_messages();
        ASSERT_GE(track_list_build(0), 1);
        tw = world_create();
        snprintf(tw->race.settings.track, sizeof tw->race.settings.track, "rabbithill");

        std::vector<int> lineup(RACE_SLOTS, lineup_empty);
        for (int slot : riders)
            lineup[(size_t)slot] = lineup_robot;  // no auto pilot here: they ride the commands given
        ASSERT_TRUE(world_reset(tw, lineup.data(), nullptr, false, 0, 1, 0));
        ASSERT_EQ(tw->track.timing_gates.piece_count, 40);
        for (int slot : riders) {
            ASSERT_NE(tw->race.slots[slot].b, nullptr) << slot;
            ASSERT_NE(tw->track.objects.statues.items[tw->track.timing_gates.pieces[piece_of(slot)].object].shape,
                      nullptr);
        }
    }

    void TearDown() override
    {
        world_destroy(tw);
        tw = nullptr;
        track_list_free();
        free_file_index();
        clear_messages();
    }

    static void tick_with(const control_input& c)
    {
        for (int slot : riders)
            apply_control_input(tw->race.slots[slot].b, &c);
        world_tick(tw);
    }
};

TEST_F(StartGate, TheRaisedBarHoldsABikeAtFullThrottle)
{
    ASSERT_GT(tw->race.start_tick, 4 * SECOND);  // up for the whole run
    struct watch {
        float start_along = 0, most_along = -1e9f, highest_axle = -1e9f;
        sphere_place bar;
    };
    watch w[4];
    for (int i = 0; i < 4; i++) {
        const bike* b = tw->race.slots[riders[i]].b;
        const int piece = piece_of(riders[i]);
        w[i].bar = foremost_sphere(piece);
        w[i].start_along = view_of(piece).along(body_position(b, body_front_wheel));
        // Raised, the bar stands above the front axle, ahead of the bike
        // waiting behind it: it does not touch the bike on its spot.
        EXPECT_GT(w[i].bar.height, view_of(piece).height(body_position(b, body_front_wheel)) + 0.2f);
        const statue& st = tw->track.objects.statues.items[tw->track.timing_gates.pieces[piece].object];
        const dReal pos[3] = {st.x, st.y, st.z};
        dReal rot[12];
        statue_physics_rotation(&st, rot);
        EXPECT_EQ(bike_object_contact(tw->race.slots[riders[i]].b, nullptr, st.shape, pos, rot, contact_mode_test, false),
                  0)
            << riders[i];
    }
    physics_clear_contacts(&tw->physics);

    control_input go;
    go.throttle = 1;
    go.clutch = 1;
    for (int t = 0; t < 3 * SECOND; t++) {
        tick_with(go);
        for (int i = 0; i < 4; i++) {
            const bike* b = tw->race.slots[riders[i]].b;
            const piece_view v = view_of(piece_of(riders[i]));
            const vec3 axle = body_position(b, body_front_wheel);
            w[i].most_along = std::max(w[i].most_along, v.along(axle));
            w[i].highest_axle = std::max(w[i].highest_axle, v.height(axle));
        }
    }
    for (int i = 0; i < 4; i++) {
        const bike* b = tw->race.slots[riders[i]].b;
        const int piece = piece_of(riders[i]);
        const float tyre = b->front_contact.ring_radius + b->front_contact.section_radius;
        SCOPED_TRACE("slot " + std::to_string(riders[i]));
        // It rode up to the bar...
        EXPECT_GT(w[i].most_along - w[i].start_along, 3.0f);
        // ...and no farther: the tyre's front never reached the far side of
        // the bar, the axle never climbed to the bar's height, and at the end
        // it still leans on the bar, standing.
        EXPECT_LT(w[i].most_along + tyre, w[i].bar.along + w[i].bar.radius);
        EXPECT_LT(w[i].highest_axle, w[i].bar.height);
        EXPECT_GE(tw->track.objects.statues.items[tw->track.timing_gates.pieces[piece].object].touch_tick,
                  tw->race.tick - SECOND / 4);
        EXPECT_LT(std::fabs(bike_forward_speed_mph(b)), 2.0f);
        EXPECT_EQ(b->crash_count, 0);
        EXPECT_EQ(tw->track.timing_gates.pieces[piece].drop, 1.0f);
    }
}

TEST_F(StartGate, DroppedTheBikesRideOverItUntouched)
{
    // The drop comes a second into the ride; the riders wait on the brakes
    // with the clutch out, then go.
    tw->race.start_tick = SECOND;
    sphere_place raised[4];
    for (int i = 0; i < 4; i++)
        raised[i] = foremost_sphere(piece_of(riders[i]));
    control_input wait;
    wait.front_brake = 1;
    wait.rear_brake = 1;
    while (tw->race.tick <= tw->race.start_tick)
        tick_with(wait);
    control_input go;
    go.throttle = 1;
    go.clutch = 1;
    for (int t = 0; t < 4 * SECOND; t++)
        tick_with(go);

    const track_timing& gates = tw->track.timing_gates;
    for (int p = 0; p < gates.piece_count; p++) {
        EXPECT_EQ(gates.pieces[p].drop, 0.0f) << p;
        // No part of any bike touched any piece.
        EXPECT_EQ(tw->track.objects.statues.items[gates.pieces[p].object].touch_tick, -1) << p;
    }
    for (int i = 0; i < 4; i++) {
        const bike* b = tw->race.slots[riders[i]].b;
        SCOPED_TRACE("slot " + std::to_string(riders[i]));
        const piece_view v = view_of(piece_of(riders[i]));
        // Well past where the raised bar stood, riding on, not crashed.
        EXPECT_GT(v.along(body_position(b, body_rear_wheel)), raised[i].along + 30.0f);
        EXPECT_GT(bike_forward_speed_mph(b), 10.0f);
        EXPECT_EQ(b->crash_count, 0);
        // Dropped, the whole shape lies below the ground.
        for (const sphere_place& s : spheres_of(piece_of(riders[i])))
            EXPECT_LT(s.height + s.radius, 0.0f);
    }
}

}  // namespace
