// Bike snapshots as they arrive from a demo file or the network: three
// snapshots (current, earlier, later) and a few control bytes (format,
// tick distance, blend fraction, presence). Reading, blending and driving a
// bike by them, as a ghost and as a solid remote bike, must leave every
// body with a finite pose and velocity and the bike's state in its ranges.
#include <cmath>
#include <cstdint>
#include <cstring>

#include <ode/ode.h>

#include "fuzz_accept.h"
#include "bike/bike.h"
#include "bike/physics.h"
#include "bike/snapshot.h"
#include "track/heightfield.h"

namespace {

struct state {
    physics_space space;
    heightfield hf;
    snapshot_terrain terrain;
    bike* b = nullptr;
    state()
    {
        if (!heightfield_create(&hf, 6, 2.0f, nullptr))
            __builtin_trap();
        terrain = snapshot_terrain_of(&hf);
        b = create_bike(&space, "crf250(2018)", 0, "1", nullptr, nullptr, nullptr, nullptr);
    }
};

bool finite3(const dReal* v)
{
    return std::isfinite(v[0]) && std::isfinite(v[1]) && std::isfinite(v[2]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static state s;
    const size_t need = 3 * BIKE_SNAPSHOT_SIZE + 4;
    if (size < need)
        return 0;
    bike_snapshot snaps[3];
    for (int i = 0; i < 3; i++)
        memcpy(snaps[i].bytes, data + i * BIKE_SNAPSHOT_SIZE, BIKE_SNAPSHOT_SIZE);
    const uint8_t* control = data + 3 * BIKE_SNAPSHOT_SIZE;
    const int format = (control[0] & 1) ? 4 : 5;
    const int n = 1 + control[1];
    const float f = (float)control[2] / 64.0f;  // 0 to about 4: blending and extrapolating
    const float presence = (float)control[3] / 255.0f;

    bike* b = s.b;
    reset_bike_pose(b);
    const snapshot_values v = read_bike_snapshot(snaps[0], format, b->params, s.terrain);
    if (!std::isfinite(v.frame_position.x) || !std::isfinite(v.engine_speed) || v.crash_timer < 0 ||
        v.crash_timer > 128 || v.gear < 0 || v.gear > 7)
        __builtin_trap();

    bike_snapshot blended;
    interpolate_bike_snapshot(&blended, snaps[1], snaps[2], f, format);
    if (presence > 0.25f) {
        b->presence = presence;
    } else {
        set_bike_ghost(b);
    }
    apply_bike_snapshot(b, blended, snaps[1], snaps[2], n, format, s.terrain);
    apply_bike_snapshot(b, snaps[0], snaps[1], snaps[2], n, format, s.terrain);
    decode_bike_snapshot(b, snaps[2], format, s.terrain);

    for (int i = 0; i < bike_body_count; i++) {
        dBodyID body = b->bodies[i];
        if (!finite3(dBodyGetPosition(body)) || !finite3(dBodyGetLinearVel(body)) ||
            !finite3(dBodyGetAngularVel(body)) || !finite3(dBodyGetForce(body)) || !finite3(dBodyGetTorque(body)))
            __builtin_trap();
        const dReal* q = dBodyGetQuaternion(body);
        if (!std::isfinite(q[0]) || !std::isfinite(q[1]) || !std::isfinite(q[2]) || !std::isfinite(q[3]))
            __builtin_trap();
    }
    if (b->gear < 0 || b->gear > 5 || !(b->throttle >= 0 && b->throttle <= 1) || !(b->steer >= -1 && b->steer <= 1) ||
        !(b->lean >= -1 && b->lean <= 1) || !(b->dab_amount >= 0 && b->dab_amount <= 1))
        __builtin_trap();
    set_bike_solid(b);
    fuzz_accept();  // every snapshot reads: the checks above are the test
    return 0;
}
