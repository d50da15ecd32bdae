// The views' cameras and the command keys that change what is watched:
// the key-frame path, camera aiming and zoom, the track camera keys, the
// rider to watch, the view cycle, the orbit and rider cameras on real
// bikes, and the screenshot numbers.
#include <gtest/gtest.h>

#include <cmath>

#include "bike/bike.h"
#include "core/input_script.h"
#include "core/key_frames.h"
#include "core/screenshot.h"
#include "core/views.h"
#include "game_world_util.h"

using namespace vecmath;

namespace {

const float pi = 3.14159265f;

vec3 forward_of(const float r[9])
{
    return neg(camera_backward(r));
}

camera_key key_at(int tick, vec3 p, float yaw, float fov)
{
    camera_key k;
    k.tick = tick;
    k.position = p;
    key_rotation_from_yaw_pitch(yaw, 0.0f, k.rotation);
    k.fov = fov;
    return k;
}

TEST(KeyFrames, PathHoldsAtItsEndsPassesThroughItsKeysAndRunsSmoothlyBetween)
{
    key_frame_list list;
    // Inserted out of order; evenly spaced along x, 100 ticks apart.
    for (int i : {2, 0, 3, 1})
        key_frames_insert(&list, key_at(100 + 100 * i, v3(10.0f * i, 5, 0), 0.0f, 60.0f + 10.0f * i));
    for (size_t i = 0; i < list.keys.size(); i++)
        ASSERT_EQ(list.keys[i].tick, 100 + 100 * (int)i);

    camera_key k;
    ASSERT_TRUE(key_frame_pose(list, 0, &k));
    EXPECT_EQ(k.position.x, 0.0f);
    ASSERT_TRUE(key_frame_pose(list, 1000, &k));
    EXPECT_EQ(k.position.x, 30.0f);
    EXPECT_EQ(k.fov, 90.0f);
    for (int i = 0; i < 4; i++) {
        ASSERT_TRUE(key_frame_pose(list, 100 + 100 * i, &k));
        EXPECT_FLOAT_EQ(k.position.x, 10.0f * i) << i;
        EXPECT_FLOAT_EQ(k.fov, 60.0f + 10.0f * i) << i;
    }
    // An inner segment of evenly spaced keys runs straight through.
    ASSERT_TRUE(key_frame_pose(list, 250, &k));
    EXPECT_FLOAT_EQ(k.position.x, 15.0f);
    ASSERT_TRUE(key_frame_pose(list, 225, &k));
    EXPECT_FLOAT_EQ(k.position.x, 12.5f);
    EXPECT_FLOAT_EQ(k.fov, 72.5f);
    // The first segment has no tangent at its start: it eases out of the
    // first key (a + 3/8 of the way at the middle, not half).
    ASSERT_TRUE(key_frame_pose(list, 150, &k));
    EXPECT_FLOAT_EQ(k.position.x, 3.75f);
    EXPECT_FLOAT_EQ(k.position.y, 5.0f);
    // Keys at one tick: the later segment of no length holds its start.
    key_frame_list same;
    key_frames_insert(&same, key_at(50, v3(1, 0, 0), 0, 90));
    key_frames_insert(&same, key_at(50, v3(2, 0, 0), 0, 90));
    ASSERT_TRUE(key_frame_pose(same, 50, &k));
    EXPECT_EQ(k.position.x, 2.0f);
    EXPECT_FALSE(key_frame_pose(key_frame_list(), 5, &k));
}

TEST(KeyFrames, OppositeQuaternionSignsStillTurnTheShortWay)
{
    // Two keys a quarter turn apart, the second stored with its sign
    // flipped, and a third equal to the first, also flipped.
    key_frame_list list;
    key_frames_insert(&list, key_at(0, v3(0, 0, 0), 0.0f, 90));
    camera_key b = key_at(100, v3(0, 0, 0), pi / 2, 90);
    for (float& c : b.rotation)
        c = -c;
    key_frames_insert(&list, b);
    camera_key c = key_at(200, v3(0, 0, 0), pi / 2, 90);
    key_frames_insert(&list, c);
    float previous_yaw = 0;
    for (int t = 0; t <= 100; t += 5) {
        view_camera cam;
        ASSERT_TRUE(key_frame_camera(list, t, &cam));
        const vec3 f = forward_of(cam.rotation);
        const float yaw = atan2f(f.x, f.z);
        // Level, turning steadily from 0 to a quarter turn, never back,
        // never through a degenerate (zero) quaternion.
        EXPECT_NEAR(f.y, 0.0f, 1e-5f) << t;
        EXPECT_NEAR(length(f), 1.0f, 1e-5f) << t;
        EXPECT_GE(yaw, previous_yaw - 1e-4f) << t;
        EXPECT_LE(yaw, pi / 2 + 1e-4f) << t;
        previous_yaw = yaw;
    }
    EXPECT_NEAR(previous_yaw, pi / 2, 1e-4f);
    // The last segment joins two equal turns stored with opposite signs:
    // it swings on past them a little and comes back, never round the back.
    for (int t = 100; t <= 200; t += 5) {
        view_camera cam;
        ASSERT_TRUE(key_frame_camera(list, t, &cam));
        const vec3 f = forward_of(cam.rotation);
        EXPECT_NEAR(atan2f(f.x, f.z), pi / 2, 0.15f) << t;
    }
}

TEST(KeyFrames, AKeyFrameOfTheFreeCameraLooksWhereTheFreeCameraLooked)
{
    for (float yaw : {0.0f, 0.7f, -2.5f, 3.0f})
        for (float pitch : {0.0f, 0.4f, -1.1f}) {
            key_frame_list list;
            camera_key k;
            key_rotation_from_yaw_pitch(yaw, pitch, k.rotation);
            key_frames_insert(&list, k);
            view_camera cam;
            ASSERT_TRUE(key_frame_camera(list, 0, &cam));
            float expected[9];
            camera_from_yaw_pitch(yaw, pitch, expected);
            for (int i = 0; i < 9; i++)
                EXPECT_NEAR(cam.rotation[i], expected[i], 1e-5f) << yaw << " " << pitch << " " << i;
        }
}

// The bearing from a camera to a point, and how far off its view it is.
float aim_error(const track_camera& cam, vec3 target)
{
    float r[9];
    camera_from_yaw_pitch(cam.yaw, cam.pitch, r);
    const vec3 to = sub(target, cam.position);
    return acosf(std::fmin(1.0f, dot(forward_of(r), to) / length(to)));
}

TEST(CameraAiming, ACutLooksAtTheRiderAndTheCameraKeepsUpAsHePasses)
{
    track_camera cam;
    cam.position = v3(0, 20, 0);
    cam.autofovsize = 14;
    cam.fov = 90;
    // A rider passing 60 ft in front at 40 ft/s, from far left to far right.
    vec3 bike = v3(-100, 0, 60);
    const vec3 velocity = v3(40, 0, 0);
    aim_camera(&cam, bike, velocity, true, true, 0, 0);
    EXPECT_LT(aim_error(cam, bike), 0.01f);
    EXPECT_NEAR(cam.fov, 2 * atanf(14.0f / length(sub(bike, cam.position))) * 180 / pi, 1e-3f);
    float worst = 0, fastest_change = 0, previous_rate = cam.yaw_rate;
    for (int t = 0; t < 5 * 128; t++) {
        bike = add_scaled(bike, velocity, 1.0f / 128);
        aim_camera(&cam, bike, velocity, true, false, 0, 0);
        worst = std::fmax(worst, aim_error(cam, bike));
        fastest_change = std::fmax(fastest_change, fabsf(cam.yaw_rate - previous_rate));
        previous_rate = cam.yaw_rate;
    }
    // Leading the rider by his bearing's rate, the camera never loses him
    // (a 20 degree view keeps 10 degrees either side).
    EXPECT_LT(worst, 8.0f * pi / 180);
    // It turns with an angular acceleration of pi rad/s^2 at most.
    EXPECT_LE(fastest_change, pi / 128 + 1e-5f);
    // The zoom follows, a little behind; once he stops it settles on 14 ft
    // across the view.
    const float wanted = 2 * atanf(14.0f / length(sub(bike, cam.position))) * 180 / pi;
    EXPECT_NEAR(cam.fov, wanted, 2.5f);
    for (int t = 0; t < 3 * 128; t++)
        aim_camera(&cam, bike, v3(0, 0, 0), true, false, 0, 0);
    EXPECT_NEAR(cam.fov, wanted, 0.05f);
    EXPECT_LT(aim_error(cam, bike), 0.01f);
}

TEST(CameraAiming, ByHandTheCameraTurnsUpToItsRatesAndPitchStopsAtStraightUp)
{
    track_camera cam;
    for (int t = 0; t < 128; t++)
        aim_camera(&cam, v3(0, 0, 0), v3(0, 0, 0), false, false, 1.0f, 1.0f);
    EXPECT_NEAR(cam.yaw_rate, 3 * pi / 8, 1e-5f);
    EXPECT_NEAR(cam.pitch_rate, pi / 4, 1e-5f);
    for (int t = 0; t < 10 * 128; t++)
        aim_camera(&cam, v3(0, 0, 0), v3(0, 0, 0), false, false, 1.0f, 1.0f);
    EXPECT_EQ(cam.pitch, pi / 2);
    EXPECT_GE(cam.yaw, -pi);
    EXPECT_LE(cam.yaw, pi);
}

class Views : public game_world_test {};

TEST_F(Views, DigitsSelectTrackCamerasUpToTheirCountAndZeroTheFreeCamera)
{
    start({lineup_robot, lineup_robot});
    ASSERT_GE(w->track.cameras.count, 3);
    const int real_count = w->track.cameras.count;
    w->track.cameras.count = 3;
    character('5');
    EXPECT_EQ(input.views.selected_camera, 2);
    character('2');
    EXPECT_EQ(input.views.selected_camera, 1);
    character('0');
    EXPECT_EQ(input.views.selected_camera, -1);
    w->track.cameras.count = real_count;
}

TEST_F(Views, NextAndPreviousBikeStopAtTheEndsOfTheRanking)
{
    start({lineup_robot, lineup_robot, lineup_robot});
    ASSERT_EQ(w->race.ranking_count, 3);
    const int first = w->race.ranking[0].slot, last = w->race.ranking[2].slot;
    game.watched_slot = first;
    for (int i = 0; i < 5; i++)
        key("]", 1);
    EXPECT_EQ(game.watched_slot, last);
    EXPECT_FALSE(input.views.follow_leader);
    key("[", 1);
    EXPECT_EQ(game.watched_slot, w->race.ranking[1].slot);
    for (int i = 0; i < 5; i++)
        key("[", 1);
    EXPECT_EQ(game.watched_slot, first);
    // Picked by hand, the watched rider stays when the frame comes.
    key("]", 1);
    update_view_mode(&game, &input.views, w);
    EXPECT_EQ(game.watched_slot, w->race.ranking[1].slot);
}

TEST_F(Views, RidingHisOwnBikeThePlayerWatchesOthersOnlyInSpyMode)
{
    start({lineup_player, lineup_robot});
    ASSERT_EQ(game.watched_slot, 0);
    g_settings.spy = 0;
    key("]", 1);
    EXPECT_EQ(game.watched_slot, 0);
    g_settings.spy = 1;
    key("]", 1);
    EXPECT_EQ(game.watched_slot, 1);
}

TEST_F(Views, TabCyclesTheViewsAndTheOwnBikeIsNeverSeenFromATrackCamera)
{
    start({lineup_player, lineup_robot});
    EXPECT_EQ(game.view_mode, view_rider);
    character('\t');
    EXPECT_EQ(game.view_mode, view_orbit);
    character('\t');
    EXPECT_EQ(game.view_mode, view_track_camera);
    update_view_mode(&game, &input.views, w);
    EXPECT_EQ(game.view_mode, view_rider);
    // Watching the robot the track cameras stay; an empty slot shows them.
    game.watched_slot = 1;
    game.view_mode = view_track_camera;
    update_view_mode(&game, &input.views, w);
    EXPECT_EQ(game.view_mode, view_track_camera);
    game.view_mode = view_orbit;
    game.watched_slot = 5;
    update_view_mode(&game, &input.views, w);
    EXPECT_EQ(game.view_mode, view_track_camera);
    EXPECT_EQ(next_view_mode(view_rider, true), view_editor);
    EXPECT_EQ(next_view_mode(view_editor, true), view_orbit);
    EXPECT_EQ(next_view_mode(view_no_track, false), view_no_track);
    // The pause key stops the world; the step key runs one tick.
    const int before = w->race.tick;
    key("pause", 1);
    ASSERT_TRUE(game.paused);
    tick();
    EXPECT_EQ(w->race.tick, before);
    key(".", 1);
    EXPECT_EQ(w->race.tick, before + 1);
    game.track_loaded = false;
    update_view_mode(&game, &input.views, w);
    EXPECT_EQ(game.view_mode, view_no_track);
}

TEST_F(Views, ADemosTrackCamerasFollowTheLeaderWithNoKeyPressed)
{
    // Three riders; the one in slot 2 is made the leader.
    start({lineup_robot, lineup_robot, lineup_robot});
    bike* leader = w->race.slots[2].b;
    ASSERT_NE(leader, nullptr);
    ASSERT_GT(w->track.cameras.count, 1);
    game.view_mode = view_track_camera;
    set_gate_progress(leader, 3);
    update_ranking(w);
    ASSERT_EQ(w->race.ranking[0].slot, 2);
    update_view_mode(&game, &input.views, w);
    EXPECT_EQ(game.watched_slot, 2);
    tick();
    // The camera that covers his next gate, aimed at him.
    const int checkpoint = race_gate_checkpoint(&w->track.timing_gates, leader->gate_progress);
    const int covering = gate_camera(&w->track.cameras, checkpoint);
    ASSERT_GE(covering, 0);
    EXPECT_EQ(input.views.selected_camera, covering);
    view_camera cam;
    ASSERT_TRUE(view_camera_for(&input.views, &game, w, current_view_settings(), &cam));
    const vec3 to = sub(bike_frame_position(leader), cam.eye);
    EXPECT_GT(dot(forward_of(cam.rotation), to) / length(to), cosf(2 * pi / 180));
    // Another rider picked: the camera cuts to him.
    key("]", 1);
    ASSERT_NE(game.watched_slot, 2);
    tick();
    ASSERT_TRUE(view_camera_for(&input.views, &game, w, current_view_settings(), &cam));
    const vec3 to_next = sub(bike_frame_position(w->race.slots[game.watched_slot].b), cam.eye);
    EXPECT_GT(dot(forward_of(cam.rotation), to_next) / length(to_next), cosf(2 * pi / 180));
    // The sit/dab key turns the switching off: the camera stays put while
    // the rider rides on to gates other cameras cover.
    key("right ctrl", 1);
    tick();
    key("right ctrl", 0);
    EXPECT_FALSE(input.views.auto_switch);
    const int kept = input.views.selected_camera;
    bike* watched = w->race.slots[game.watched_slot].b;
    set_gate_progress(watched, 12);
    ASSERT_NE(gate_camera(&w->track.cameras, race_gate_checkpoint(&w->track.timing_gates, 12)), kept);
    tick();
    EXPECT_EQ(input.views.selected_camera, kept);
}

TEST_F(Views, TheOrbitViewCirclesTheBikeAndKeepsAboveTheGround)
{
    start({lineup_player, lineup_robot});
    const view_settings s = current_view_settings();
    const bike* b = w->race.slots[1].b;
    const dBodyID frame = b->bodies[body_frame];
    dVector3 c;
    dBodyGetRelPointPos(frame, s.chase_center.x, s.chase_center.y, s.chase_center.z, c);
    const vec3 centre = v3((float)c[0], (float)c[1], (float)c[2]);
    orbit_camera orbit;
    orbit.angle = 1.0f;
    orbit.distance = 12;
    orbit.height = 30;
    view_camera cam = orbit_view_camera(b, &w->track.heightfield, orbit, false, s);
    // The centre lies on the middle of the view, the eye on the orbit.
    const vec3 to = sub(centre, cam.eye);
    EXPECT_GT(dot(forward_of(cam.rotation), to) / length(to), 0.99999f);
    EXPECT_NEAR(cam.eye.x - centre.x, 12 * sinf(1.0f), 1e-3f);
    EXPECT_NEAR(cam.eye.z - centre.z, 12 * cosf(1.0f), 1e-3f);
    EXPECT_NEAR(cam.eye.y, centre.y + 30, 1e-3f);
    // Low down the eye keeps 5 ft above the ground around it.
    orbit.height = -50;
    cam = orbit_view_camera(b, &w->track.heightfield, orbit, false, s);
    EXPECT_GE(cam.eye.y, heightfield_height_at(&w->track.heightfield, cam.eye.x, cam.eye.z) + 4.0f);
    // Riding at the gate, the eye is behind the bike, along its heading.
    const bike* own = w->race.slots[0].b;
    cam = orbit_view_camera(own, &w->track.heightfield, orbit, true, s);
    const dReal* r = bike_frame_rotation(own);
    const vec3 ahead = v3((float)-r[2], 0, (float)-r[10]);
    const vec3 from_bike = sub(cam.eye, bike_frame_position(own));
    EXPECT_LT(dot(from_bike, ahead), -0.9f * s.third_person_distance);
    // The watching controls turn, bring in and raise the orbit.
    orbit_camera o;
    float controls[CONTROL_COUNT] = {1, 1, 0, 0, 1, 0, 0, 0, 0};
    for (int t = 0; t < 128; t++)
        orbit_controls(&o, controls);
    EXPECT_NEAR(o.angle, pi / 4, 1e-4f);
    EXPECT_NEAR(o.distance, 8.0f, 1e-4f);
    EXPECT_NEAR(o.height, 6.0f, 1e-4f);
}

TEST_F(Views, TheRiderViewSitsInTheRidersHeadLookingAheadAndPrintsItself)
{
    start({lineup_player});
    view_settings s = current_view_settings();
    const bike* b = w->race.slots[0].b;
    view_camera cam = rider_view_camera(b, s);
    dVector3 p;
    dBodyGetRelPointPos(b->bodies[body_rider], 0, 0.5, -0.4, p);
    EXPECT_NEAR(cam.eye.x, p[0], 1e-4);
    EXPECT_NEAR(cam.eye.y, p[1], 1e-4);
    EXPECT_EQ(cam.rider_view_slot, 0);
    const dReal* r = dBodyGetRotation(b->bodies[body_rider]);
    const vec3 body_forward = v3((float)-r[2], (float)-r[6], (float)-r[10]);
    EXPECT_GT(dot(forward_of(cam.rotation), body_forward), 0.99999f);
    // Looking down by the setting's angle.
    s.first_person_angle = 30;
    cam = rider_view_camera(b, s);
    EXPECT_NEAR(asinf(forward_of(cam.rotation).y) - asinf(body_forward.y), -30 * pi / 180, 1e-4f);
    char line[256];
    format_orientation(b, 1.5, cam, line, (int)sizeof line);
    float t, p0, p1, p2, x0, x1, x2, z0, z1, z2;
    ASSERT_EQ(sscanf(line, "t=%f p0=%f p1=%f p2=%f x0=%f x1=%f x2=%f z0=%f z1=%f z2=%f\n", &t, &p0, &p1, &p2, &x0,
                     &x1, &x2, &z0, &z1, &z2),
              10);
    EXPECT_EQ(t, 1.5f);
    EXPECT_NEAR(p1, cam.eye.y, 1e-5f);
    EXPECT_NEAR(z2, r[10], 1e-5f);
}

TEST(Screenshots, NumbersGoOnFromTheHighestAmongTheDataFiles)
{
    const char* none[] = {"rabbithill/terrain.hf", nullptr};
    EXPECT_EQ(first_screenshot_number(none), 1);
    const char* some[] = {"screenshot007.png",     "screenshot12.ppm",  "Screenshot3.PNG", "demos/screenshot99.png",
                          "screenshots.txt",      "screenshot-40.png", "screenshotx1.png",
                          "screenshot1234567890.png", nullptr};
    EXPECT_EQ(first_screenshot_number(some), 13);
    char name[SCREENSHOT_NAME_MAX];
    screenshot_name(13, name);
    EXPECT_STREQ(name, "screenshot013.png");
    screenshot_name(1000, name);
    EXPECT_STREQ(name, "screenshot1000.png");
    const char* big[] = {"screenshot999999999.png", nullptr};
    EXPECT_EQ(first_screenshot_number(big), 1000000000);
}

TEST(InputScript, ReadsKeysAndCodesInFrameOrderAndSkipsWhatItCannotRead)
{
    input_script s;
    input_script_parse(&s, "# Tab, then the screenshot key\n20 #9 1\n5 s 1\n\n6 S 0\n7 Right_Ctrl 1\n"
                           "8 nosuchkey 1\n9 s 2\n-1 s 1\n10 #x 1\n11 s 1 extra\n");
    ASSERT_EQ(s.events.size(), 4u);
    EXPECT_EQ(s.events[0].frame, 5);
    EXPECT_EQ(s.events[0].code, key_code_by_name("s"));
    EXPECT_EQ(s.events[1].pressed, 0);
    EXPECT_EQ(s.events[2].code, key_code_by_name("right ctrl"));
    EXPECT_EQ(s.events[3].frame, 20);
    EXPECT_EQ(s.events[3].code, 9);
}

}  // namespace
