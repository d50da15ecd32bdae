// The bike step, the joint force correction and bike-to-bike contacts.
#include "bike/bike_step.h"

#include <cmath>

#include "bike/bike.h"
#include "bike/bike_internal.h"
#include "bike/contact.h"
#include "bike/contact_internal.h"
#include "bike/drivetrain.h"
#include "bike/rider_internal.h"
#include "bike/shape.h"
#include "bike/suspension.h"

using namespace contact_math;
using namespace rider_detail;

void bike_step(bike* b, const bike_world* w)
{
    // A ghost is posed from recorded states; only its feet move.
    if (b->presence <= 0.25f) {
        feet_update(b, w);
        return;
    }
    // The checks at the start of the step, the rider thrown off, a crash
    // running its course.
    start_of_step_checks(b, w);
    eject_check(b, w);
    crash_sequence(b, w);
    // The automatic dab and brakes act for this step only.
    const float sit_dab = b->sit_dab, front_brake = b->front_brake, rear_brake = b->rear_brake;
    auto_dab_and_back_up(b, w);
    // The rider's springs, the suspension, steering, the drivetrain and the
    // joints' net force taken back.
    rider_springs(b);
    apply_suspension(b);
    if (!arcade(b))
        steer_and_stabilise(b, w);
    else if (!crash_running(b))
        arcade_steer(b, w);
    drivetrain_step(b, w->tick);
    steering_damping(b);
    joint_force_correction(b, w->tick);
    // The dab and the realignment of a fallen bike; the commands the
    // automatic dab changed for this step come back.
    dab_and_realign(b, w);
    b->sit_dab = sit_dab;
    b->front_brake = front_brake;
    b->rear_brake = rear_brake;
    // The feet, and the rider's velocity kept for the next ticks.
    feet_update(b, w);
    b->rider_velocity_history[w->tick & 3] = body_velocity(b->bodies[body_rider]);
}

bool joint_force_correction(bike* b, int tick)
{
    if (tick < 2 || crash_running(b))
        return false;
    for (dJointID j : b->joints)
        if (!j || !dJointGetBody(j, 0) || !dJointGetBody(j, 1))
            return false;
    dBodyID frame = b->bodies[body_frame];
    const dReal* pf = dBodyGetPosition(frame);
    // In double precision: the sum is a small difference of large forces.
    dReal force[3] = {0, 0, 0}, moment[3] = {0, 0, 0};
    for (int i = 0; i < bike_joint_count; i++) {
        const dJointFeedback& fb = b->joint_feedback[i];
        const dReal* p1 = dBodyGetPosition(dJointGetBody(b->joints[i], 0));
        const dReal* p2 = dBodyGetPosition(dJointGetBody(b->joints[i], 1));
        const dReal r1[3] = {p1[0] - pf[0], p1[1] - pf[1], p1[2] - pf[2]};
        const dReal r2[3] = {p2[0] - pf[0], p2[1] - pf[1], p2[2] - pf[2]};
        for (int k = 0; k < 3; k++) {
            force[k] += fb.f1[k] + fb.f2[k];
            moment[k] += fb.t1[k] + fb.t2[k];
        }
        moment[0] += r1[1] * fb.f1[2] - r1[2] * fb.f1[1] + r2[1] * fb.f2[2] - r2[2] * fb.f2[1];
        moment[1] += r1[2] * fb.f1[0] - r1[0] * fb.f1[2] + r2[2] * fb.f2[0] - r2[0] * fb.f2[2];
        moment[2] += r1[0] * fb.f1[1] - r1[1] * fb.f1[0] + r2[0] * fb.f2[1] - r2[1] * fb.f2[0];
    }
    for (int k = 0; k < 3; k++)
        if (!std::isfinite(force[k]) || !std::isfinite(moment[k]))
            return false;
    dBodyAddForce(frame, -force[0], -force[1], -force[2]);
    dBodyAddTorque(frame, -moment[0], -moment[1], -moment[2]);
    return true;
}

bike_bounds bike_bounds_of(const bike* b)
{
    const vec3 centre = body_position(b->bodies[body_frame]);
    float reach = 0.0f;
    for (int i = 0; i < bike_body_count; i++) {
        const shape* s = b->shapes[i];
        if (!s || !b->bodies[i])
            continue;
        const float r = length(sub(body_position(b->bodies[i]), centre)) + s->radius;
        reach = r > reach ? r : reach;
    }
    const wheel_contact* wheels[2] = {&b->front_contact, &b->rear_contact};
    for (int i = 0; i < 2; i++) {
        dBodyID body = b->bodies[i == 0 ? body_front_wheel : body_rear_wheel];
        if (!body)
            continue;
        const float r = length(sub(body_position(body), centre)) + wheels[i]->ring_radius + wheels[i]->section_radius;
        reach = r > reach ? r : reach;
    }
    return {centre, reach};
}

bool bike_bounds_overlap(const bike_bounds& a, const bike_bounds& b)
{
    const float reach = a.reach + b.reach;
    return length_sq(sub(a.centre, b.centre)) <= reach * reach;
}

bool bike_bike_contact(bike* a, bike* b, bool online, int tick)
{
    // Ghosts take no part; online a remote bike resting as a ghost (presence
    // exactly 0) is still touched, and the world tick wakes it.
    if (a == b || a->presence <= 0.25f || (b->presence <= 0.25f && !(online && b->presence == 0.0f)))
        return false;
    // Bikes far apart cannot touch: spare the part-by-part tests.
    const bike_bounds bounds_b = bike_bounds_of(b);
    if (!bike_bounds_overlap(bike_bounds_of(a), bounds_b))
        return false;
    const float slack = rejection_slack(bounds_b.centre);
    const contact_mode mode = (a->last_bike_contact_tick == tick || b->last_bike_contact_tick == tick)
                                  ? contact_mode_force
                                  : contact_mode_joint;
    struct part {
        int body;
        bool tested_online;  // b's front only detects it online
    };
    static const part parts[] = {{body_front_wheel, false}, {body_rear_wheel, true}, {body_frame, true},
                                 {body_fork_upper, false},  {body_fork_lower, false}, {body_swingarm, true},
                                 {body_rider, true}};
    int b_parts = 0;
    bool a_front = false;
    for (const part& p : parts) {
        dBodyID body = a->bodies[p.body];
        const shape* s = a->shapes[p.body];
        if (!body || !s)
            continue;
        // A part out of reach of b's ball touches none of b's parts.
        if (length_sq(sub(body_position(body), bounds_b.centre)) > square(s->radius + bounds_b.reach + slack))
            continue;
        const int bits = bike_object_contact(b, body, s, dBodyGetPosition(body), dBodyGetRotation(body), mode,
                                             online && p.tested_online);
        b_parts |= bits;
        if (bits && (p.body == body_front_wheel || p.body == body_fork_lower))
            a_front = true;
    }
    if (!b_parts)
        return false;
    apply_bump_rules(a, b, a_front, b_parts);
    for (bike* x : {a, b}) {
        x->last_bike_contact_tick = tick;
        if (x->first_bike_contact_tick == -1)
            x->first_bike_contact_tick = tick;
        for (int& serial : x->followed_serial)
            serial = 0;
    }
    return true;
}
