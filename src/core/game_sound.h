// The engine sounds of the game's participant slots: set up when a bike
// appears in a slot, released with it, and updated once per drawn frame
// with the frame's volumes and the listener at the camera.
#pragma once

#include "render/camera.h"

struct audio_device;
struct engine_sound;
struct world;

// What one frame's sound depends on besides the world.
struct sound_frame {
    double volume = 10;          // the "volume" setting, 0..10
    double comp_volume = 8;      // the "comp_volume" setting, 0..10
    bool paused = false;
    bool editor_view = false;
    bool menu_open = false;
    int watched_slot = -1;
    bool have_camera = false;    // the frame was drawn from a 3-D camera
    view_camera camera;          // ... this one
    double now = 0;              // sim_clock of the frame (listener velocity)
};

// The engine volume of the watched bike before the slot's own rules: 0
// while paused or editing; with a menu open 0 over the player's own bike
// and a quarter when watching others; times volume / 10.
float frame_engine_volume(const sound_frame& f, bool watched_is_own);

// One frame: bikes new to a slot get their engine sound (with a voice on
// device; none without a device), bikes gone lose it, and every slot with
// a voice is updated in slot order.
void engine_sounds_frame(world* w, audio_device* device, const sound_frame& f);
// Lets the world's bike creation and removal reach the slots' sounds.
void engine_sounds_attach(world* w);
// The slot's engine sound while it has a voice, else null.
engine_sound* slot_engine_sound(int slot);
// Destroys every voice (before the device closes) and frees the tables.
void engine_sounds_free();
