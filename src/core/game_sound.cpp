#include "core/game_sound.h"

#include <cmath>
#include <memory>

#include "audio/engine_sound.h"
#include "race/race.h"
#include "race/world.h"

namespace {

struct slot_sound {
    const bike* b = nullptr;            // the bike the sound was set up for
    bool stale = false;                 // a new bike came: set up again
    std::unique_ptr<engine_sound> sound;
};

struct game_sounds {
    slot_sound slots[ENGINE_SOUND_SLOTS];
    bool have_listener = false;
    vec3 last_eye = {0, 0, 0};
    double last_time = 0;
    vec3 velocity = {0, 0, 0};
};
game_sounds g_sounds;

// The listener at the camera, moving as the camera moved since the last
// frame. A jump faster than sound is a cut, not a flight: no velocity.
sound_listener frame_listener(const sound_frame& f)
{
    sound_listener l;
    if (!f.have_camera) {
        g_sounds.have_listener = false;
        return l;
    }
    const float* r = f.camera.rotation;
    l.position = f.camera.eye;
    l.right = {r[0], r[3], r[6]};
    const double dt = f.now - g_sounds.last_time;
    if (g_sounds.have_listener && dt > 0) {
        const double vx = (f.camera.eye.x - g_sounds.last_eye.x) / dt, vy = (f.camera.eye.y - g_sounds.last_eye.y) / dt,
                     vz = (f.camera.eye.z - g_sounds.last_eye.z) / dt;
        const double speed = std::sqrt(vx * vx + vy * vy + vz * vz);
        g_sounds.velocity = speed < SPEED_OF_SOUND * 0.5 ? vec3{(float)vx, (float)vy, (float)vz} : vec3{0, 0, 0};
    } else if (!g_sounds.have_listener) {
        g_sounds.velocity = {0, 0, 0};
    }
    if (dt > 0 || !g_sounds.have_listener) {
        g_sounds.last_eye = f.camera.eye;
        g_sounds.last_time = f.now;
    }
    g_sounds.have_listener = true;
    l.velocity = g_sounds.velocity;
    return l;
}

void release_slot(slot_sound& s)
{
    if (s.sound)
        engine_sound_release(s.sound.get());
    s.sound.reset();
    s.b = nullptr;
}

}  // namespace

float frame_engine_volume(const sound_frame& f, bool watched_is_own)
{
    float v = 1;
    if (f.paused || f.editor_view)
        v = 0;
    else if (f.menu_open)
        v = watched_is_own ? 0.0f : 0.25f;
    return v * (float)f.volume * 0.1f;
}

void engine_sounds_frame(world* w, audio_device* device, const sound_frame& f)
{
    if (!w || !device)
        return;
    const race_state& race = w->race;
    const bool own = f.watched_slot >= 0 && f.watched_slot < RACE_SLOTS && f.watched_slot == race.player_slot;
    const float watched = frame_engine_volume(f, own);
    const float others = watched * (float)f.comp_volume * 0.1f;
    const sound_listener listener = frame_listener(f);
    for (int i = 0; i < ENGINE_SOUND_SLOTS && i < RACE_SLOTS; i++) {
        slot_sound& s = g_sounds.slots[i];
        const bike* b = race.slots[i].b;
        if (b != s.b || s.stale) {
            s.stale = false;
            release_slot(s);
            if (b) {
                s.b = b;
                s.sound = std::make_unique<engine_sound>();
                const char* graphics = race.slots[i].rider.bike_texture[0] ? race.slots[i].rider.bike_texture : nullptr;
                engine_sound_setup(s.sound.get(), b, graphics, device);
                if (!s.sound->voice)
                    s.sound.reset();
            }
        }
        if (!b || !s.sound)
            continue;
        const float v = !is_visible(w, i) ? 0.0f : (i == f.watched_slot ? watched : others);
        engine_sound_update(s.sound.get(), b, v, listener);
    }
}

void engine_sounds_attach(world* w)
{
    // A new bike may reuse the address of the one it replaces: the world
    // says when it created one.
    w->sound.context = nullptr;
    w->sound.create = [](void*, int slot, bike*) {
        if (slot >= 0 && slot < ENGINE_SOUND_SLOTS)
            g_sounds.slots[slot].stale = true;
    };
    w->sound.destroy = [](void*, int slot) {
        if (slot >= 0 && slot < ENGINE_SOUND_SLOTS)
            release_slot(g_sounds.slots[slot]);
    };
}

engine_sound* slot_engine_sound(int slot)
{
    if (slot < 0 || slot >= ENGINE_SOUND_SLOTS)
        return nullptr;
    return g_sounds.slots[slot].sound.get();
}

void engine_sounds_free()
{
    for (slot_sound& s : g_sounds.slots)
        release_slot(s);
    g_sounds.have_listener = false;
    engine_sound_free_tables();
}
