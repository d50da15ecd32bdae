// Engine torque, clutch coupling, gearbox and brakes.
#include "bike/drivetrain.h"

#include <cmath>

#include "bike/bike.h"
#include "bike/physics.h"

namespace {

const float PI = 3.14159265358979f;
const float TWO_PI = 6.28318530717959f;
// Clutch coupling limits: the damping part and the whole torque.
const float CLUTCH_DAMPING_LIMIT = 500.0f;
const float CLUTCH_TORQUE_LIMIT = 1000000.0f;
// Contact point speed above which a braked wheel counts as sliding (ft/s, squared).
const float ANTILOCK_SLIP_SQUARED = 4.0f;

float clampf(float v, float lo, float hi)
{
    return v < lo ? lo : (v > hi ? hi : v);
}

}  // namespace

float torque_from_tables(const float closed[TORQUE_POINTS], const float open[TORQUE_POINTS], float engine_speed,
                         float throttle)
{
    // 0.002 = one table point per 500 rpm. A speed that is not a number
    // reads the first point rather than an index from nowhere.
    float x = engine_speed * 9.549296f * 0.002f;
    x = x > 0.0f ? (x < (float)(TORQUE_POINTS - 1) ? x : (float)(TORQUE_POINTS - 1)) : 0.0f;
    const int i0 = (int)std::floor(x);
    const float f = x - (float)i0;
    const int i1 = i0 + 1 > TORQUE_POINTS - 1 ? TORQUE_POINTS - 1 : i0 + 1;
    const float c = closed[i0] + (closed[i1] - closed[i0]) * f;
    const float o = open[i0] + (open[i1] - open[i0]) * f;
    return c + (o - c) * throttle;
}

float auto_clutch_engagement(float rpm, float auto_clutch_rpm, float command)
{
    if (rpm <= auto_clutch_rpm + 2000.0f) {
        const float a = clampf((rpm - auto_clutch_rpm) / 2000.0f, 0.0f, 1.0f);
        return command < a ? command : a;
    }
    return command;
}

float wrap_angle(float a)
{
    if (!std::isfinite(a))
        return 0.0f;
    if (a > PI)
        a -= TWO_PI;
    else if (a < -PI)
        a += TWO_PI;
    if (a > PI || a < -PI)
        a = std::remainder(a, TWO_PI);
    return a;
}

int select_gear(const float ratios[GEAR_COUNT], int gear, int d)
{
    int g = gear + d;
    g = g < 0 ? 0 : (g > GEAR_COUNT - 1 ? GEAR_COUNT - 1 : g);
    while (g > 0 && !(ratios[g] > 0.0f))
        g--;
    return g;
}

int auto_shift_direction(float wheel_rpm, float downshift_rpm, float upshift_rpm)
{
    if (wheel_rpm < downshift_rpm)
        return -1;
    if (wheel_rpm > upshift_rpm)
        return 1;
    return 0;
}

float antilock_torque(float torque, bool antilock, bool touching, float point_speed_squared)
{
    if (antilock && touching && point_speed_squared > ANTILOCK_SLIP_SQUARED)
        return 0.0f;
    return torque;
}

// ---- the bike ---------------------------------------------------------------

namespace {

float squared_length(vec3 v)
{
    return v.x * v.x + v.y * v.y + v.z * v.z;
}

bool wheel_touches(const wheel_contact& w)
{
    return w.depth > 0.0f;
}

// Nose-up pitch rate of the frame: its angular velocity about its own x axis.
float frame_pitch_rate(const bike* b)
{
    const dReal* w = dBodyGetAngularVel(b->bodies[body_frame]);
    dVector3 local;
    dBodyVectorFromWorld(b->bodies[body_frame], w[0], w[1], w[2], local);
    return (float)local[0];
}

void set_brake(dJointID axle, float torque)
{
    dJointSetHingeParam(axle, dParamVel, 0.0);
    dJointSetHingeParam(axle, dParamFMax, torque > 0.0f ? (dReal)torque : 0.0);
}

}  // namespace

float overall_ratio(const bike* b)
{
    // The gear comes from snapshots and the network too; never index past
    // the box.
    const int gear = b->gear < 0 ? 0 : (b->gear > GEAR_COUNT - 1 ? GEAR_COUNT - 1 : b->gear);
    return b->params.gear_ratio[gear] * b->params.primary_ratio * b->final_ratio;
}

float engine_rpm(const bike* b)
{
    return (float)(b->engine_speed * ENGINE_RPM_PER_RAD_S);
}

float engine_torque(const bike* b)
{
    float torque = torque_from_tables(b->params.closed_torque, b->params.open_torque, b->engine_speed, b->throttle);
    // The wheelie limiter cuts drive while the front is up and the nose is
    // not already dropping.
    if ((b->assist_flags & assist_wheelie_limiter) && !wheel_touches(b->front_contact) &&
        wheel_touches(b->rear_contact) && frame_pitch_rate(b) > -0.03125f && torque > 0.0f)
        torque = 0.0f;
    return torque;
}

void shift(bike* b, int d)
{
    if (b->crash_timer > 0 || d == b->last_shift || d < -1 || d > 1)
        return;
    b->last_shift = d;
    b->gear = select_gear(b->params.gear_ratio, b->gear, d);
}

void drivetrain_step(bike* b, int tick)
{
    const float h = physics_tick;
    const float quarter_turn = PI / 4.0f;
    dJointID rear_axle = b->joints[joint_rear_axle];
    const float axle_angle = (float)dJointGetHingeAngle(rear_axle);
    const float axle_rate = (float)dJointGetHingeAngleRate(rear_axle);

    // Automatic shifting, four times a second, only while the rear
    // suspension carries load and the rear wheel grips (or is in the air).
    if ((b->assist_flags & assist_auto_shift) && tick % AUTO_SHIFT_INTERVAL == 0 &&
        (float)dJointGetHingeAngle(b->joints[joint_swingarm_pivot]) < -0.01f &&
        (!wheel_touches(b->rear_contact) || squared_length(b->rear_contact.point_velocity) <= 4.0f)) {
        const float wheel_rpm = overall_ratio(b) * axle_rate * 9.549296f;
        const int d = auto_shift_direction(wheel_rpm, b->params.downshift_rpm, b->params.upshift_rpm);
        b->gear = select_gear(b->params.gear_ratio, b->gear, d);
    }
    const float g = overall_ratio(b);

    // Engine torque and the clutch coupling.
    const float engine = engine_torque(b);
    const float twist = wrap_angle(b->engine_angle - axle_angle);
    const float clutch_command = b->clutch;
    float c = auto_clutch_engagement(engine_rpm(b), b->auto_clutch_rpm, clutch_command);
    const float damping = b->params.clutch_damping * (b->engine_speed - g * axle_rate);
    float coupling = clampf(damping, -CLUTCH_DAMPING_LIMIT, CLUTCH_DAMPING_LIMIT) + b->params.clutch_stiffness * twist;
    // Engine braking is not taken away by the automatic clutch.
    if (coupling < 0.0f)
        c = clutch_command;
    // A gearbox without a usable ratio (no final drive set) couples nothing
    // rather than divide by 0 below.
    if (!(g > 0.0f))
        c = 0.0f;
    coupling = clampf(coupling, -CLUTCH_TORQUE_LIMIT, CLUTCH_TORQUE_LIMIT);

    // The clutch slips rather than wind up beyond c quarter turns.
    if (twist > c * quarter_turn)
        b->engine_angle = axle_angle + c * quarter_turn;
    else if (twist < -c * quarter_turn)
        b->engine_angle = axle_angle - c * quarter_turn;

    // Transmitted torque on the rear wheel, reaction on the frame.
    const float transmitted = c * c * coupling;
    dBodyAddRelTorque(b->bodies[body_rear_wheel], -transmitted, 0.0, 0.0);
    dBodyAddRelTorque(b->bodies[body_frame], transmitted, 0.0, 0.0);

    // The engine's own motion.
    const float load = g > 0.0f ? transmitted / g : 0.0f;
    b->engine_speed += h * (engine - load) / b->engine_inertia;
    if (!std::isfinite(b->engine_speed))
        b->engine_speed = 0.0f;
    if (g > 0.0f)
        b->engine_angle += h * b->engine_speed / g;
    b->engine_angle = wrap_angle(b->engine_angle);

    // Brakes, released while antilock sees the wheel sliding; the
    // front also while only the front wheel is down (no stoppies).
    float front = b->front_brake_torque * b->front_brake;
    front = antilock_torque(front, (b->assist_flags & assist_front_antilock) != 0, wheel_touches(b->front_contact),
                            squared_length(b->front_contact.point_velocity));
    if ((b->assist_flags & assist_stoppie_release) && wheel_touches(b->front_contact) &&
        !wheel_touches(b->rear_contact))
        front = 0.0f;
    set_brake(b->joints[joint_front_axle], front);
    const float rear =
        antilock_torque(b->rear_brake_torque * b->rear_brake, (b->assist_flags & assist_rear_antilock) != 0,
                        wheel_touches(b->rear_contact), squared_length(b->rear_contact.point_velocity));
    set_brake(rear_axle, rear);
}
