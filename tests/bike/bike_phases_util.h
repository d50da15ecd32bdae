// The bikes' phases of a tick in order, for tests of bikes on a ground of
// their own with no track, race or world around them: contacts, roost, the
// physics step of the test space, the bikes' own steps, roost flying.
#pragma once

#include "bike/physics.h"
#include "bike/world_step.h"
#include "test_support.h"
#include "track/roost.h"

inline void step_bike_phases(world_tick_state* s, world_rider* riders, int count,
                             physics_space* space = test::physics())
{
    world_collide(s, riders, count);
    world_throw_roost(s, riders, count);
    physics_step(space);
    world_bike_steps(s, riders, count);
    if (s->roost && s->world.ground)
        roost_move(s->roost, s->world.ground);
}
