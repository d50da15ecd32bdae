// Shared by the race rules' own files only.
#pragma once

#include "race/gates.h"
#include "race/race.h"
#include "race/world.h"

// What the gate rules read about the race now: tick, start, lap total and
// the leader as last ranked.
gate_race race_gate_state(const world* w);

// The local player's bike while it rides in the race (null otherwise).
bike* race_player_bike(const world* w);

// Online: the own bike is still racing but was off course at one of its
// last three gates, so it rides as a ghost among the others.
bool race_own_bike_ghosted(const world* w);

// Frees one slot's bike and engine sound.
void race_free_slot_bike(world* w, int slot);

// One tick is this many seconds; 1/128 exactly.
constexpr float race_tick_length = 0.0078125f;
