// A world for the tests of riding bikes: a ground (the default track's, or
// one the test builds) taken as the whole track, with no objects, gates or
// race rules, and bikes of the test's own in slots 0, 1, ... whose commands
// the test gives before every world tick, as the game gives the player's.
#pragma once

#include <functional>
#include <string>

#include "bike/bike.h"
#include "bike/catalogue.h"
#include "bike/controls.h"
#include "core/messages.h"
#include "race/world.h"
#include "track/heightfield.h"
#include "track/roost.h"
#include "track/surface.h"

struct ride_world {
    world* w = world_create();
    bike_setup setup;  // what every bike added gets
    int bikes = 0;

    ride_world() = default;
    ride_world(const ride_world&) = delete;
    ride_world& operator=(const ride_world&) = delete;
    ~ride_world() { world_destroy(w); }

    heightfield& ground() const { return w->track.heightfield; }
    roost_pool* roost() const { return w->track.particle_pool; }
    int tick() const { return w->race.tick; }
    bike* bike_at(int i) const { return w->race.slots[i].b; }

    // The ground of a track of the game data ("rabbithill").
    bool load_ground(const char* track, std::string* why)
    {
        heightfield hf;
        if (!heightfield_load_ground(&hf, ("@" + std::string(track)).c_str(), 0)) {
            *why = std::string("can't load the ground of '") + track + "'";
            if (const char* last = visible_message(0))
                *why += std::string(": ") + last;
            return false;
        }
        take_ground(&hf);
        return true;
    }
    void take_ground(heightfield* hf)
    {
        world_take_ground(w, hf);
        bikes = 0;
    }
    // Every bike gone, the ground kept, the ride back at tick 0.
    void clear()
    {
        heightfield hf = w->track.heightfield;
        w->track.heightfield = heightfield();
        take_ground(&hf);
    }

    // A bike of the model with the setup and automatic shifting, placed at
    // (x, z) facing angle (radians; facing (-sin a, -cos a)).
    bike* add_bike(const char* model, float x, float z, float angle)
    {
        bike* b = world_add_bike(w, bikes++, model, slot_driver_local, x, z, angle, &setup);
        if (b)
            bike_set_auto_shift(b, 1);
        return b;
    }
    // A bike as the model comes, without a setup or automatic shifting.
    bike* add_bare_bike(const char* model, float x, float z, float angle)
    {
        return world_add_bike(w, bikes++, model, slot_driver_local, x, z, angle);
    }


    // One world tick with the commands `command` gives each bike.
    void tick(const std::function<control_input(int, const bike*)>& command)
    {
        for (int i = 0; i < bikes; i++) {
            bike* b = bike_at(i);
            const control_input c = command(i, b);
            apply_control_input(b, &c);
        }
        world_tick(w);
    }
};
