// Terrain erosion: wheels that push hard on soft ground dig ruts and throw
// the dirt behind them. Three stages, which may run on different machines:
//
//   1. Sampling (every tick, per wheel in contact): the horizontal tyre force
//      becomes erosion samples, averaged into erode_point records and
//      gathered per wheel in its erode_trail (bike/contact_types.h).
//   2. Transport: a finished batch is packed into an erosion message (the
//      byte format below). Offline it is unpacked at once into the erosion
//      queue; online the bytes go to the race server instead, and every
//      erosion record the server sends back (the own ones included) is
//      unpacked into the queue. Demo playback feeds recorded messages the
//      same way.
//   3. Application (once per tick): points taken from the queue dig the
//      terrain at the wheel and pile the removed volume a little behind it.
//
// Every machine applies the same queue contents in the same order to the
// same starting terrain, so the ruts agree everywhere without sending
// heights. Everything here is single precision and allocation free.
//
// Erosion message (little-endian):
//   0      1  format marker 1
//   1..8   2  x4 step range: q16(min x - 1/16), q16(min z - 1/16),
//             q16(max x + 1/16), q16(max z + 1/16)
//   9, 12  3  x2 q24 of point 0's x and z (over the terrain's extent)
//   15, 16 1  x2 direction bytes of point 0 (x then z); their low two bits
//             carry the weight's bits 0-1 and 2-3
//   17 + 4(k - 1): point k = 1..count - 1: q8 step x, q8 step z from the
//             decoded previous point, then its two direction bytes
// A point of 16 samples arrives with weight 0 (four bits).
#pragma once

#include <climits>
#include <cstdint>

#include "bike/contact_types.h"
#include "core/vec3.h"

struct bike;
struct heightfield;
struct erode_params;

enum {
    ERODE_QUEUE_SIZE = 0x20000,                 // points
    ERODE_MESSAGE_HEADER = 17,                  // bytes up to and with point 0
    ERODE_MESSAGE_MAX = ERODE_MESSAGE_HEADER + 4 * (ERODE_TRAIL_POINTS - 1),
    ERODE_DEFER_TICKS = 256,                    // longest wait near the rider
};

// Where finished batches go. With no send function (offline, and headless
// tools) they are unpacked into the queue at once; the network client sets
// it while connected so its batches travel by way of the server, and a demo
// recording to copy them into the file. context goes back to send.
struct erosion_outlet {
    void (*send)(void* context, const uint8_t* message, int length) = nullptr;
    void* context = nullptr;
};

// A world's ring of points waiting to be applied, with the outlet its
// bikes' batches go to.
struct erode_queue {
    erode_point points[ERODE_QUEUE_SIZE];
    int queue_count = 0;
    int queue_head = 0;                  // index of the oldest point
    int defer_deadline = INT_MAX;        // tick by which a held point goes
    bool full_reported = false;          // "Erode queue full!" said for this queue
    erosion_outlet outlet;
};

// The terrain renderer's refresh marking: samples col0..col1 x row0..row1
// (inclusive, inside the grid) changed. Left empty headless.
struct erosion_hooks {
    void (*mark_dirty)(void* context, heightfield* hf, int col0, int row0, int col1, int row1) = nullptr;
    void* context = nullptr;
};
extern erosion_hooks g_erosion_hooks;

// ---- the world tick --------------------------------------------------------

// The erosion step of one world tick, after the physics step: the wheels of
// the given bikes (the caller leaves out bikes driven by recorded data, and
// every bike during a multiplayer warm-up) are sampled front then rear in
// the order given, their batches delivered through q, then q is applied to hf with the rate
// (1024 nominal). Nothing at all happens with a rate of 0 or less. The
// terrain's frozen flag is lifted for the application and restored.
// local_rider: the frame position of the rider this program controls, or
// null (no deferral).
void erosion_world_step(erode_queue* q, heightfield* hf, bike* const* bikes, int bike_count, int now, int erosion_rate,
                        const vec3* local_rider);

// ---- sampling ------------------------------------------------------------------

// One tick of one wheel: turns the wheel's contact (depth > 0), its body's
// speed and the contact joint's force from the last physics step into a
// sample on trail t (erosion_trail_add), or, without one, lets the trail
// idle (erosion_trail_idle).
void erosion_sample_wheel(erode_queue* q, erode_trail* t, const wheel_contact* w, const heightfield* hf, int now);
// Both wheels of a bike, front then rear.
void erosion_sample_bike(erode_queue* q, bike* b, const heightfield* hf, int now);

// The sample of a touching wheel whose body moves with body_velocity over
// ground p: position (contact x, z) and the horizontal contact force scaled
// to a direction of length 0.125..1 by its strength; weight 1. False when
// the wheel is off the ground, too slow or pushes too softly.
bool erosion_wheel_sample(const wheel_contact* w, vec3 body_velocity, const erode_params* p, erode_point* out);
// Adds a sample to the trail's pending point. A point is emitted once the
// samples span half a foot of travel or sixteen samples are pending; a
// batch is delivered when it holds 64 points or its steps span more than
// 64 ft (the last point then starts the next batch).
void erosion_trail_add(erode_queue* q, erode_trail* t, const erode_point& sample, const heightfield* hf, int now);
// A tick without a sample: when the trail holds points and the last was
// emitted more than 64 ticks ago, the pending point is emitted, the batch
// delivered and the trail cleared.
void erosion_trail_idle(erode_queue* q, erode_trail* t, const heightfield* hf, int now);

// Delivers points 0..count - 1 of a trail with its step ranges: through
// the queue's outlet, or straight into the queue. count 0 does nothing.
void erosion_deliver(erode_queue* q, const erode_trail* t, int count, const heightfield* hf);

// ---- messages -------------------------------------------------------------------

// Packs count (1..64) points with the step range (the smallest and largest
// x and z step between consecutive points) into out (at least
// ERODE_MESSAGE_MAX bytes); extent is the terrain's. Returns the length,
// 17 + 4 (count - 1), or 0 for a count out of range. Values out of the
// encodable ranges saturate.
int erode_message_pack(const erode_point* points, int count, float delta_min_x, float delta_min_z,
                       float delta_max_x, float delta_max_z, float extent, uint8_t* out);
// The points a message of that length holds: 0 when shorter than 17 bytes
// or not marked 1, else ((length - 17) >> 2) + 1 (trailing odd bytes are
// ignored).
int erode_message_point_count(const uint8_t* message, int length);
// Unpacks up to max points (positions over extent) into out; returns how
// many were written. Weights come back 0..15.
int erode_message_unpack(const uint8_t* message, int length, float extent, erode_point* out, int max);
// Unpacks a message into the queue in order. Returns the points queued
// (points that find the queue full are dropped, see erode_queue_push).
int erode_message_enqueue(erode_queue* q, const uint8_t* message, int length, float extent);

// The quantisations, exposed for the tests and the demo code.
uint16_t erode_q16(float v);          // v in -1024..1024
float erode_q16_value(uint16_t q);
uint32_t erode_q24(float v, float extent);  // v in 0..extent
float erode_q24_value(uint32_t q, float extent);
uint8_t erode_dirbyte(float c);       // c in -1..1; low two bits zero
float erode_dirbyte_value(uint8_t b);

// ---- the queue ----------------------------------------------------------------------

// Appends one point. A full queue drops it and reports "Erode queue full!"
// (once per queue); false then.
bool erode_queue_push(erode_queue* q, const erode_point& p);
// Empties the queue (count and head 0, no deadline); the once-only report
// stays spent. For track unloads and loads.
void erode_queue_clear(erode_queue* q);

// ---- application ---------------------------------------------------------------------

// One tick of the application stage: at most queue_count / 64 + 32 points
// from the head, each digging at its position and piling behind it, with
// the rate (1024 nominal; 0 or less applies nothing). Points within 10 ft
// (horizontally) of local_rider wait, the rest of the queue behind them
// too, until the rider moves away or 256 ticks have passed. Writes heights
// through heightfield_set_height, so a frozen terrain is left alone; the
// world step lifts the flag around this call. Returns the points applied.
int erosion_apply(erode_queue* q, heightfield* hf, int now, int erosion_rate, const vec3* local_rider);

// The dig and rut-limit scales for a rut of this depth (feet below the
// loaded ground) by the surface's limit rows.
void erosion_limit_scales(const erode_params* p, float depth, float* dig_scale, float* inner_scale);

// Lowers (amount < 0) or raises the samples within radius of (x, z) by
// amount times the smooth weight 1 - 3t^2 + 2t^3 (t = distance / radius);
// returns the sum of the changes, counting samples off the grid too.
// Nothing (0) for an amount of 0.
float erosion_dig(heightfield* hf, float x, float z, float radius, float amount);
// Spreads volume over the same weights around (x, z), so that a dig's
// removed volume reappears there (exactly, unless the square leaves the
// grid).
void erosion_pile(heightfield* hf, float x, float z, float radius, float volume);
