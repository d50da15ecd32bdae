// Fork and shock laws and their joint-motor commands.
#include "bike/suspension.h"

#include <cmath>

#include "bike/bike.h"

namespace {

// The pressure term of the air spring (lbf) and the adiabatic exponent as the
// single-precision value of 1.4.
const float AIR_FORCE = 82.4616928100586f;
const float AIR_EXPONENT = 1.399999976158142f;
// Target velocity of a pushing motor: far beyond any speed the joint reaches,
// so the motor always delivers its maximum force.
const float PUSH_VELOCITY = 100.0f;

float clampf(float v, float lo, float hi)
{
    return v < lo ? lo : (v > hi ? hi : v);
}

}  // namespace

float damper_force(float v, const damper_values& d)
{
    float force, lo, hi;
    if (v >= 0.0f) {
        const float h = -v * d.hsr;  // <= 0
        force = h - d.lsr;
        lo = 8.0f * h;
        hi = h / 8.0f;
    } else {
        const float h = -v * d.hsc;  // > 0
        force = d.lsc + h;
        lo = h / 8.0f;
        hi = 8.0f * h;
    }
    return clampf(force, lo, hi);
}

float fork_air_force(float compression, float travel, float air_gap)
{
    const float x = clampf(compression, 0.0f, travel);
    const float column = travel + air_gap;
    return AIR_FORCE * (std::pow(column / (column - x), AIR_EXPONENT) - 1.0f);
}

float top_out_fade(float position, float travel)
{
    return clampf(position / (-travel / 32.0f), 0.0f, 1.0f);
}

float fork_force(const fork_values& f, float p, float v)
{
    const float damper = damper_force(v, f.damper);
    const float air = fork_air_force(-p, f.travel, f.air_gap);
    const float coil = (f.preload - p) * f.spring;
    return (air + coil + damper) * top_out_fade(p, f.travel);
}

linkage_point linkage_at(const linkage_curve& c, float x)
{
    x = clampf(x, 0.0f, 1.0f);
    const float k = c.knee;
    float t, len, p0, p1, m0, m1;
    if (x <= k) {
        t = x / k;
        len = k;
        p0 = 0.0f;
        p1 = c.knee_pos;
        m0 = c.slope_0 * k;
        m1 = c.slope_knee * k;
    } else {
        len = 1.0f - k;
        t = (x - k) / len;
        p0 = c.knee_pos;
        p1 = c.stroke;
        m0 = c.slope_knee * len;
        m1 = c.slope_1 * len;
    }
    const float a = 3.0f * (p1 - p0) - 2.0f * m0 - m1;
    const float b = 2.0f * (p0 - p1) + m0 + m1;
    linkage_point r;
    r.s = p0 + m0 * t + a * t * t + b * t * t * t;
    r.slope = (m0 + 2.0f * a * t + 3.0f * b * t * t) / len;
    return r;
}

float shock_torque(const shock_values& s, float theta, float omega, linkage_point* at, float* linkage_speed)
{
    const float x = clampf(-theta / s.swingarm_travel, 0.0f, 1.0f);
    const linkage_point lp = linkage_at(s.linkage, x);
    const float u = omega * lp.slope;
    const float damper = damper_force(u, s.damper);
    float torque = ((lp.s + s.preload) * s.spring + damper) * lp.slope;
    torque *= top_out_fade(theta, s.swingarm_travel);
    if (at)
        *at = lp;
    if (linkage_speed)
        *linkage_speed = u;
    return torque;
}

motor_command push_command(float f)
{
    motor_command m;
    m.velocity = f >= 0.0f ? PUSH_VELOCITY : 0.0f;
    m.max_force = std::fabs(f);
    return m;
}

// ---- the bike ---------------------------------------------------------------

fork_values bike_fork_values(const bike* b)
{
    fork_values f;
    f.damper = {b->fork_hsc, b->fork_lsc, b->fork_hsr, b->fork_lsr};
    f.spring = b->fork_spring;
    f.preload = b->fork_preload;
    f.air_gap = b->fork_air_gap;
    f.travel = b->params.fork_travel;
    return f;
}

shock_values bike_shock_values(const bike* b)
{
    const bike_params& p = b->params;
    shock_values s;
    s.damper = {b->shock_hsc, b->shock_lsc, b->shock_hsr, b->shock_lsr};
    s.spring = b->shock_spring;
    s.preload = b->shock_preload;
    s.swingarm_travel = p.swingarm_travel;
    s.linkage = {p.linkage_knee, p.linkage_knee_pos, p.shock_stroke, p.linkage_slope_0, p.linkage_slope_knee,
                 p.linkage_slope_1};
    return s;
}

void apply_suspension(bike* b)
{
    dJointID slider = b->joints[joint_fork_slider];
    const float p = (float)dJointGetSliderPosition(slider);
    const float v = (float)dJointGetSliderPositionRate(slider);
    const motor_command fork = push_command(fork_force(bike_fork_values(b), p, v));
    dJointSetSliderParam(slider, dParamVel, fork.velocity);
    dJointSetSliderParam(slider, dParamFMax, fork.max_force);

    dJointID pivot = b->joints[joint_swingarm_pivot];
    const float theta = (float)dJointGetHingeAngle(pivot);
    const float omega = (float)dJointGetHingeAngleRate(pivot);
    const motor_command shock = push_command(shock_torque(bike_shock_values(b), theta, omega));
    dJointSetHingeParam(pivot, dParamVel, shock.velocity);
    dJointSetHingeParam(pivot, dParamFMax, shock.max_force);
}

suspension_graph_values fork_graph_values(const bike* b)
{
    const bike_params& p = b->params;
    dJointID slider = b->joints[joint_fork_slider];
    const float position = (float)dJointGetSliderPosition(slider);
    const float rate = (float)dJointGetSliderPositionRate(slider);
    suspension_graph_values g;
    g.travel = -position / p.fork_travel;
    g.rate = rate;
    g.damping_share = rate < 0.0f ? p.fork_lsc_base / (-rate * p.fork_hsc_base + p.fork_lsc_base)
                                  : p.fork_lsr_base / (rate * p.fork_hsr_base + p.fork_lsr_base);
    return g;
}

suspension_graph_values shock_graph_values(const bike* b)
{
    const bike_params& p = b->params;
    dJointID pivot = b->joints[joint_swingarm_pivot];
    linkage_point at;
    float speed = 0.0f;
    shock_torque(bike_shock_values(b), (float)dJointGetHingeAngle(pivot), (float)dJointGetHingeAngleRate(pivot),
                 &at, &speed);
    suspension_graph_values g;
    g.travel = clampf(-(float)dJointGetHingeAngle(pivot) / p.swingarm_travel, 0.0f, 1.0f);
    g.rate = speed;
    g.damping_share = speed < 0.0f ? p.shock_lsc_base / (-speed * p.shock_hsc_base + p.shock_lsc_base)
                                   : p.shock_lsr_base / (speed * p.shock_hsr_base + p.shock_lsr_base);
    return g;
}
