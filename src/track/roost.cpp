// Roost emission per wheel and particle flight.
#include "track/roost.h"

#include <cmath>

#include "track/heightfield.h"
#include "track/surface.h"

using namespace vecmath;

namespace {

constexpr float tick_length = 0.0078125f;   // 1/128 s
constexpr float gravity = 32.0f;            // feet per second squared
constexpr float along_slip_angle = 0.049087387f;  // pi / 64
constexpr float max_spread = 0.39269909f;         // pi / 8

// v turned by angle about the unit axis a.
vec3 rotate_about(vec3 v, vec3 a, float angle)
{
    const float c = cosf(angle), s = sinf(angle);
    return add(add(scale(v, c), scale(cross(a, v), s)), scale(a, dot(a, v) * (1.0f - c)));
}

void spawn(roost_pool* pool, const roost_type& type, vec3 position, vec3 velocity)
{
    roost_particle& p = pool->particles[pool->next];
    if (!p.live)
        pool->live++;
    p.live = true;
    p.position = position;
    p.velocity = velocity;
    p.size = type.size;
    p.grow = type.grow;
    p.drag = type.drag;
    p.texture = type.texture;
    for (int c = 0; c < 4; c++) {
        p.colour[c] = type.colour[c];
        p.fade[c] = type.fade[c];
    }
    pool->next = pool->next + 1 == ROOST_POOL_SIZE ? 0 : pool->next + 1;
}

// The random spread and scale every particle gets before it flies.
vec3 scatter(const roost_type& type, vec3 v, std::mt19937* rng)
{
    v.x += type.randomize * (roost_uniform(rng) - 0.5f);
    v.y += type.randomize * (roost_uniform(rng) - 0.5f);
    v.z += type.randomize * (roost_uniform(rng) - 0.5f);
    return scale(v, type.vscale * roost_uniform(rng));
}

// Spread angle of a roost: narrow when the tyre slips the way the wheel
// moves (braking), otherwise from slow_angle at slow_speed to fast_angle at
// fast_speed, never wider than pi/8.
float spread_angle(const roost_type& type, const roost_wheel& wheel)
{
    if (dot(wheel.slip_velocity, wheel.velocity) >= 0.0f)
        return along_slip_angle;
    const float v2 = dot(wheel.velocity, wheel.velocity);
    const float lo = type.slow_speed * type.slow_speed;
    const float hi = type.fast_speed * type.fast_speed;
    float f;
    if (hi - lo > 0.0f)
        f = fminf(fmaxf((v2 - lo) / (hi - lo), 0.0f), 1.0f);
    else
        f = v2 >= hi ? 1.0f : 0.0f;  // equal speeds: a step, not 0 / 0
    if (!(f == f))
        f = 0.0f;
    const float angle = type.slow_angle + (type.fast_angle - type.slow_angle) * f;
    return fminf(angle, max_spread);
}

int emit_splash(roost_pool* pool, const roost_type& type, const roost_wheel& wheel, int n, int tick,
                std::mt19937* rng)
{
    const vec3 m = wheel.normal;
    const vec3 vn = scale(m, dot(wheel.velocity, m));
    const vec3 vt = sub(wheel.velocity, vn);
    const float vt_len = sqrtf(dot(vt, vt));
    // A wheel moving straight along the normal has no sideways direction;
    // its splash has no speed either.
    const vec3 t = vt_len > 0.0f ? scale(vt, 1.0f / vt_len) : vec3{0, 0, 0};
    const vec3 s = cross(m, t);
    const float speed = vt_len * 0.7071067811865476f;
    const vec3 first = scale(add(s, m), speed);
    const vec3 second = scale(sub(m, s), speed);
    const float step = tick_length / (float)n;
    for (int k = 0; k < n; k++) {
        const vec3 v = ((tick ^ k) & 1) == 0 ? first : second;
        const vec3 start = add(wheel.point, scale(v, (float)k * step));
        spawn(pool, type, start, scatter(type, v, rng));
    }
    return n;
}

int emit_roost(roost_pool* pool, const roost_type& type, const roost_wheel& wheel, int n, std::mt19937* rng)
{
    const float angle = spread_angle(type, wheel);
    // The dirt leaves the tyre the way the wheel turns.
    const float turn = dot(wheel.angular_velocity, wheel.axle) < 0.0f ? -1.0f : 1.0f;
    const vec3 arm = sub(wheel.point, wheel.centre);
    const float step = tick_length / (float)n;
    for (int k = 0; k < n; k++) {
        const vec3 r = rotate_about(arm, wheel.axle, turn * angle * roost_uniform(rng));
        const vec3 v = add(wheel.velocity, cross(wheel.angular_velocity, r));
        const vec3 start = add(add(wheel.centre, r), scale(v, (float)k * step));
        spawn(pool, type, start, scatter(type, v, rng));
    }
    return n;
}

}  // namespace

void roost_pool_reset(roost_pool* pool)
{
    for (roost_particle& p : pool->particles)
        p = roost_particle{};
    pool->next = 0;
    pool->live = 0;
}

float roost_uniform(std::mt19937* rng)
{
    return (float)((*rng)() >> 8) * (1.0f / 16777216.0f);
}

int roost_budget(int roost_frequency, std::mt19937* rng)
{
    if (roost_frequency < 0)
        roost_frequency = 0;
    int budget = roost_frequency / 100;
    if ((int)((*rng)() % 100u) < roost_frequency % 100)
        budget++;
    return budget;
}

int roost_emit(roost_pool* pool, const roost_type* types, const roost_wheel& wheel, int budget, int tick,
               std::mt19937* rng)
{
    // A broken body state would leave particles that never land.
    const vec3 check[] = {wheel.point, wheel.normal, wheel.slip_velocity, wheel.centre, wheel.axle, wheel.velocity,
                          wheel.angular_velocity};
    for (const vec3& v : check)
        if (!std::isfinite(v.x) || !std::isfinite(v.y) || !std::isfinite(v.z))
            return 0;
    int thrown = 0;
    for (int i = 0; i < ROOST_TYPES && types[i].mode != 0; i++) {
        const roost_type& type = types[i];
        if (type.mode == 1) {
            const float slip2 = dot(wheel.slip_velocity, wheel.slip_velocity);
            if (!(slip2 >= type.slip_threshold * type.slip_threshold))
                continue;
        } else if (type.mode != 2) {
            continue;
        }
        // count particles, the fraction being the chance of one more. The
        // clamp keeps absurd counts from a track file within the budget.
        const float count = fminf(fmaxf(type.count, 0.0f), (float)ROOST_POOL_SIZE);
        const float whole = floorf(count);
        int n = (int)whole;
        if (roost_uniform(rng) < count - whole)
            n++;
        if (n > budget - thrown)
            n = budget - thrown;
        if (n <= 0)
            continue;
        if (type.mode == 2)
            thrown += emit_splash(pool, type, wheel, n, tick, rng);
        else
            thrown += emit_roost(pool, type, wheel, n, rng);
    }
    return thrown;
}

void roost_move(roost_pool* pool, const heightfield* hf)
{
    const float dt = tick_length;
    for (roost_particle& p : pool->particles) {
        if (!p.live)
            continue;
        p.position = add(p.position, scale(p.velocity, dt));
        p.velocity = sub(p.velocity, scale(p.velocity, dt * p.drag));
        p.velocity.y -= dt * gravity;
        p.size += dt * p.grow;
        for (int c = 0; c < 4; c++) {
            const int v = (int)p.colour[c] + (int)p.fade[c];
            p.colour[c] = (uint8_t)(v < 0 ? 0 : (v > 255 ? 255 : v));
        }
        // A particle thrown with numbers a track file made non-finite
        // would never come down; it goes at once.
        const bool lost = !std::isfinite(p.position.x) || !std::isfinite(p.position.y) ||
                          !std::isfinite(p.position.z) || !std::isfinite(p.velocity.y);
        if (lost || (hf && hf->heights && p.velocity.y < 0.0f &&
                     p.position.y < heightfield_height_at(hf, p.position.x, p.position.z))) {
            p.live = false;
            pool->live--;
        }
    }
}
