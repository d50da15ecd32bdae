// The rider's commands: one tick of them as a record, the setters that
// store them in the bike with their rules, and the mapping from the
// player's actions (keys, buttons, axes) to the commands.
//
// The bike keeps the commands as its own fields (throttle ... lean, the
// gear and the last shift). Everything that commands a bike - the player's
// input, the robots, the start rules, the network - goes through the
// setters, so the rules hold whoever writes: values are clamped into their
// ranges, a value that is not a number counts as 0, and while a crash runs
// throttle, sit/dab, back up and lean read 0 and shifting is ignored.
#pragma once

struct bike;

// One tick of rider commands.
struct control_input {
    float throttle = 0;     // 0..1, twist grip
    float clutch = 0;       // 0..1, 1 = engaged
    float front_brake = 0;  // 0..1
    float rear_brake = 0;   // 0..1
    float steer = 0;        // -1..1, positive = left
    float sit_dab = 0;      // 0..1, sit down / put a foot down
    float back_up = 0;      // 0..1, walk the bike backwards
    float lean = 0;         // -1 forward .. +1 backward
    int shift = 0;          // -1, 0, +1 (edge-triggered: a held value shifts once)
};

// ---- setters: clamp and store one command ---------------------------------
void bike_set_throttle(bike* b, float v);     // 0 while a crash runs
void bike_set_clutch(bike* b, float v);
void bike_set_front_brake(bike* b, float v);
void bike_set_rear_brake(bike* b, float v);
void bike_set_steer(bike* b, float v);
void bike_set_sit_dab(bike* b, float v);      // 0 while a crash runs
void bike_set_back_up(bike* b, float v);      // 0 while a crash runs
void bike_set_lean(bike* b, float v);         // 0 while a crash runs
// The shift command of the drivetrain (ignored while a crash runs).
void bike_set_shift(bike* b, int d);

// Every field through its setter.
void apply_control_input(bike* b, const control_input* c);
// The commands the bike holds now (shift = the last shift command).
control_input bike_control_input(const bike* b);

// ---- the player's actions -------------------------------------------------

// The values of the player's actions for one tick (0..1 each, as the
// bindings give them; a lever or axis may stop anywhere between).
struct control_actions {
    float left = 0, right = 0;
    float throttle = 0;
    float front_brake = 0, rear_brake = 0;
    float upshift = 0, downshift = 0;
    float clutch_lever = 0;   // 1 = lever pulled in fully
    float sit_dab = 0;
    float back_up = 0;
    float lean_forward = 0, lean_backward = 0;
};

// What the mapping remembers from tick to tick.
struct player_control_state {
    float clutch = 1;            // the engagement given last tick
    float sticky_sit_dab = 0;    // the toggled sit/dab with "Sticky Sit/Dab"
    bool sit_dab_pressed = false;
};

// Engagement of a clutch lever pulled in by lever (0..1): fully open from
// 7/8 of the lever's travel. Engaging is limited to 4 per second (a quarter
// of a second from open to engaged), opening is immediate.
float clutch_from_lever(float lever, float previous);

// One tick of the player's commands: "Left" minus "Right" steers (negated
// with "Reversed Steering"), upshift minus downshift beyond +-0.5 shifts,
// the clutch lever as above, "Sit/Dab" held or, with "Sticky Sit/Dab",
// toggled on each press. The results still pass the bike's setters.
control_input player_control_input(const control_actions* a, player_control_state* state, bool reversed_steering,
                                   bool sticky_sit_dab);
