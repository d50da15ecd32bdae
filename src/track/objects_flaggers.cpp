// Flaggers: the start flagger who walks off the line as the gate drops, the
// finish flagger who shows the race's progress, and course flaggers who wave
// a warning where a rider is down. Read from the track's "flaggers" file;
// each frame the rules below pick their pictures from the race state.
#include <cmath>
#include <cstring>

#include "core/services.h"
#include "files/datafs.h"
#include "track/heightfield.h"
#include "track/objects.h"
#include "track/objects_internal.h"

using namespace objects_detail;

namespace {

unsigned load_named(const char* name)
{
    return *name ? texture_load(name, 0) : 0;
}

bool scan_name(data_stream* s, char* name)
{
    return stream_scan(s, " %1023s ", name) == 1;
}

int clamp_gate(int gate, int gate_count)
{
    if (gate < -1)
        return -1;
    if (gate > gate_count - 1)
        return gate_count - 1 < -1 ? -1 : gate_count - 1;
    return gate;
}

}  // namespace

void flaggers_read(track_objects* objects, const heightfield* hf, data_stream* s, int gate_count)
{
    flagger_set& f = objects->flaggers;
    char names[5][OBJECT_NAME_MAX + 1];

    // The start flagger: positions A and B, size, aspect, walk duration,
    //    then its pictures t0 (also the sprite's) .. t4.
    float v[9];
    if (stream_scan(s, " [ %f %f %f ] [ %f %f %f ] %f %f %f ", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6],
                    &v[7], &v[8]) != 9 ||
        !all_finite(v, 9))
        return;
    for (char* name : names)
        if (!scan_name(s, name))
            return;
    // A sixth name before the finish flagger is read and not used, so that
    // files carrying one keep their finish and course flaggers.
    const int next = stream_peekc(s);
    if (next >= 0 && next != '[') {
        char extra[OBJECT_NAME_MAX + 1];
        if (!scan_name(s, extra))
            return;
    }
    start_flagger& st = f.start;
    st = start_flagger();
    memcpy(st.a, v, sizeof st.a);
    memcpy(st.b, v + 3, sizeof st.b);
    st.walk = v[8];
    for (int k = 0; k < 5; k++)
        st.textures[k] = load_named(names[k]);
    st.sprite_index = sprite_add(&objects->sprites, st.a[0], ground_height(hf, st.a[0], st.a[2]) + st.a[1], st.a[2],
                                 v[6], v[7], st.textures[0]);
    objects->sprites.items[st.sprite_index].y_offset = st.a[1];
    f.has_start = true;

    // The finish flagger: position, size, aspect, pictures t0..t3.
    if (stream_scan(s, " [ %f %f %f ] %f %f ", &v[0], &v[1], &v[2], &v[3], &v[4]) != 5 || !all_finite(v, 5))
        return;
    for (int k = 0; k < 4; k++)
        if (!scan_name(s, names[k]))
            return;
    finish_flagger& fin = f.finish;
    fin = finish_flagger();
    for (int k = 0; k < 4; k++)
        fin.textures[k] = load_named(names[k]);
    fin.sprite_index =
        sprite_add(&objects->sprites, v[0], ground_height(hf, v[0], v[2]) + v[1], v[2], v[3], v[4], fin.textures[0]);
    objects->sprites.items[fin.sprite_index].y_offset = v[1];
    f.has_finish = true;

    // Course flaggers until an entry fails.
    for (;;) {
        int gates[4];
        if (stream_scan(s, " [ %f %f %f ] %f %f %d %d %d %d", &v[0], &v[1], &v[2], &v[3], &v[4], &gates[0], &gates[1],
                        &gates[2], &gates[3]) != 9 ||
            !all_finite(v, 5))
            return;
        if (!scan_name(s, names[0]) || !scan_name(s, names[1]))
            return;
        reserve_one(f.course, f.course_count, f.course_capacity);
        course_flagger& c = f.course[f.course_count];
        c = course_flagger();
        c.normal_texture = load_named(names[0]);
        c.alert_texture = load_named(names[1]);
        for (int k = 0; k < 4; k++)
            c.gates[k] = clamp_gate(gates[k], gate_count);
        c.sprite_index = sprite_add(&objects->sprites, v[0], ground_height(hf, v[0], v[2]) + v[1], v[2], v[3], v[4],
                                    c.normal_texture);
        objects->sprites.items[c.sprite_index].y_offset = v[1];
        f.course_count++;
    }
}

bool flaggers_load(track_objects* objects, const heightfield* hf, const char* dir, int gate_count)
{
    char path[1100];
    if (!compose_track_file(path, sizeof path, dir, "flaggers"))
        return false;
    data_stream* s = open_data_file(path, "rb");
    if (!s)
        return false;
    flaggers_read(objects, hf, s, gate_count);
    close_data_file(s);
    return true;
}

// ---- rules ---------------------------------------------------------------------------

int start_flagger_stage(double t, double start_seconds, float walk)
{
    const double s = floor(start_seconds);
    if (t < s + 0.1)
        return 0;
    if (t < s + 0.4)
        return 1;
    if (t < s + 1.0)
        return 2;
    if (t < s + 1.0 + (double)walk)
        return 3;
    return 4;
}

float start_flagger_fraction(double t, double start_seconds, float walk)
{
    const double begin = floor(start_seconds) + 1.0;
    if (!(walk > 0.0f))
        return t >= begin ? 1.0f : 0.0f;
    const double f = (t - begin) / (double)walk;
    if (!(f > 0.0))
        return 0.0f;
    return f < 1.0 ? (float)f : 1.0f;
}

int finish_flagger_stage(int leader_lap, int race_laps, int half_laps)
{
    if (leader_lap >= race_laps)
        return 3;
    if (leader_lap == race_laps - 1)
        return 2;
    if (leader_lap == half_laps)
        return 1;
    return 0;
}

void flagger_gate_marks(const flagger_rider* riders, int count, uint8_t marked[FLAGGER_GATE_COUNT])
{
    memset(marked, 0, FLAGGER_GATE_COUNT);
    for (int k = 0; k < count; k++) {
        const flagger_rider& r = riders[k];
        if (r.slow_or_down && !r.finished && !r.stale && r.last_gate >= 0 && r.last_gate < FLAGGER_GATE_COUNT)
            marked[r.last_gate] = 1;
    }
}

namespace {

bool set_texture(sprite_list* sprites, int index, unsigned texture)
{
    if (index < 0 || index >= sprites->count)
        return false;
    sprite& s = sprites->items[index];
    if (s.texture == texture)
        return false;
    s.texture = texture;
    return true;
}

}  // namespace

bool start_flagger_update(track_objects* objects, const heightfield* hf, double t, double start_seconds)
{
    flagger_set& f = objects->flaggers;
    if (!f.has_start)
        return false;
    const start_flagger& st = f.start;
    const float k = start_flagger_fraction(t, start_seconds, st.walk);
    float p[3];
    for (int c = 0; c < 3; c++)
        p[c] = st.a[c] + (st.b[c] - st.a[c]) * k;
    if (st.sprite_index >= 0 && st.sprite_index < objects->sprites.count) {
        sprite& s = objects->sprites.items[st.sprite_index];
        s.x = p[0];
        s.z = p[2];
        s.y_offset = p[1];
        s.y = ground_height(hf, p[0], p[2]) + p[1];
    }
    const int stage = start_flagger_stage(t, start_seconds, st.walk);
    return set_texture(&objects->sprites, st.sprite_index, st.textures[stage]);
}

bool finish_flagger_update(track_objects* objects, int leader_lap, int race_laps, int half_laps)
{
    flagger_set& f = objects->flaggers;
    if (!f.has_finish)
        return false;
    const int stage = finish_flagger_stage(leader_lap, race_laps, half_laps);
    return set_texture(&objects->sprites, f.finish.sprite_index, f.finish.textures[stage]);
}

bool course_flaggers_update(track_objects* objects, const uint8_t marked[FLAGGER_GATE_COUNT])
{
    flagger_set& f = objects->flaggers;
    bool changed = false;
    for (int k = 0; k < f.course_count; k++) {
        const course_flagger& c = f.course[k];
        bool alert = false;
        for (int gate : c.gates)
            if (gate >= 0 && gate < FLAGGER_GATE_COUNT && marked[gate])
                alert = true;
        changed |= set_texture(&objects->sprites, c.sprite_index, alert ? c.alert_texture : c.normal_texture);
    }
    return changed;
}
