// The rider's commands and the player's actions that make them.
#include "bike/controls.h"

#include <cmath>

#include "bike/bike.h"
#include "bike/bike_internal.h"
#include "bike/drivetrain.h"
#include "bike/physics.h"

namespace {

// Clamped into lo..hi; anything that is not a number is 0 (a broken
// datagram or a robot's division by zero must not reach the physics).
float command(float v, float lo, float hi)
{
    if (!std::isfinite(v))
        return 0.0f;
    return clamp_value(v, lo, hi);
}

bool crashed(const bike* b)
{
    return b->crash_timer > 0;
}

}  // namespace

void bike_set_throttle(bike* b, float v)
{
    b->throttle = crashed(b) ? 0.0f : command(v, 0.0f, 1.0f);
}

void bike_set_clutch(bike* b, float v)
{
    b->clutch = command(v, 0.0f, 1.0f);
}

void bike_set_front_brake(bike* b, float v)
{
    b->front_brake = command(v, 0.0f, 1.0f);
}

void bike_set_rear_brake(bike* b, float v)
{
    b->rear_brake = command(v, 0.0f, 1.0f);
}

void bike_set_steer(bike* b, float v)
{
    b->steer = command(v, -1.0f, 1.0f);
}

void bike_set_sit_dab(bike* b, float v)
{
    b->sit_dab = crashed(b) ? 0.0f : command(v, 0.0f, 1.0f);
}

void bike_set_back_up(bike* b, float v)
{
    b->back_up = crashed(b) ? 0.0f : command(v, 0.0f, 1.0f);
}

void bike_set_lean(bike* b, float v)
{
    b->lean = crashed(b) ? 0.0f : command(v, -1.0f, 1.0f);
}

void bike_set_shift(bike* b, int d)
{
    shift(b, d);
}

void apply_control_input(bike* b, const control_input* c)
{
    bike_set_throttle(b, c->throttle);
    bike_set_clutch(b, c->clutch);
    bike_set_front_brake(b, c->front_brake);
    bike_set_rear_brake(b, c->rear_brake);
    bike_set_steer(b, c->steer);
    bike_set_sit_dab(b, c->sit_dab);
    bike_set_back_up(b, c->back_up);
    bike_set_lean(b, c->lean);
    bike_set_shift(b, c->shift);
}

control_input bike_control_input(const bike* b)
{
    control_input c;
    c.throttle = b->throttle;
    c.clutch = b->clutch;
    c.front_brake = b->front_brake;
    c.rear_brake = b->rear_brake;
    c.steer = b->steer;
    c.sit_dab = b->sit_dab;
    c.back_up = b->back_up;
    c.lean = b->lean;
    c.shift = b->last_shift;
    return c;
}

float clutch_from_lever(float lever, float previous)
{
    const float wanted = command(1.0f - command(lever, 0.0f, 1.0f) * (8.0f / 7.0f), 0.0f, 1.0f);
    // Letting the lever out engages over a quarter of a second at least.
    const float most = command(previous, 0.0f, 1.0f) + 4.0f * physics_tick;
    return wanted > most ? most : wanted;
}

control_input player_control_input(const control_actions* a, player_control_state* state, bool reversed_steering,
                                   bool sticky_sit_dab)
{
    control_input c;
    const float steer = command(a->left, 0.0f, 1.0f) - command(a->right, 0.0f, 1.0f);
    c.steer = reversed_steering ? -steer : steer;
    c.throttle = command(a->throttle, 0.0f, 1.0f);
    c.front_brake = command(a->front_brake, 0.0f, 1.0f);
    c.rear_brake = command(a->rear_brake, 0.0f, 1.0f);
    const float shift = command(a->upshift, 0.0f, 1.0f) - command(a->downshift, 0.0f, 1.0f);
    c.shift = shift > 0.5f ? 1 : (shift < -0.5f ? -1 : 0);
    state->clutch = clutch_from_lever(a->clutch_lever, state->clutch);
    c.clutch = state->clutch;
    const float sit = command(a->sit_dab, 0.0f, 1.0f);
    if (sticky_sit_dab) {
        const bool pressed = sit > 0.5f;
        if (pressed && !state->sit_dab_pressed)
            state->sticky_sit_dab = state->sticky_sit_dab > 0.5f ? 0.0f : 1.0f;
        state->sit_dab_pressed = pressed;
        c.sit_dab = state->sticky_sit_dab;
    } else {
        state->sit_dab_pressed = sit > 0.5f;
        c.sit_dab = sit;
    }
    c.back_up = command(a->back_up, 0.0f, 1.0f);
    c.lean = command(a->lean_backward, 0.0f, 1.0f) - command(a->lean_forward, 0.0f, 1.0f);
    return c;
}
