// Building a bike from its catalogue record: seven bodies, six joints, the
// shapes, models and textures; resetting, moving and destroying it; its
// presence in the world (solid, ghost, fading remote bike).
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

#include "bike/bike_internal.h"
#include "bike/physics.h"
#include "bike/shape.h"
#include "core/messages.h"
#include "core/services.h"
#include "files/memory.h"

model_service g_model_service;

using namespace vecmath;

namespace {

constexpr double k_pi = 3.14159265358979323846;
// Rider mount anchor: 50 ft ahead of the bike, so turning about its second
// axis moves the rider almost straight up and down.
constexpr float k_rider_mount_ahead = -50.0f;

vec3 param_position(const bike_params& p, int body)
{
    switch (body) {
    case body_frame: return p.frame_pos;
    case body_front_wheel: return p.front_wheel_pos;
    case body_rear_wheel: return p.rear_wheel_pos;
    case body_fork_upper: return p.fork_upper_pos;
    case body_fork_lower: return p.fork_lower_pos;
    case body_swingarm: return p.swingarm_pos;
    default: return p.rider_pos;
    }
}

// The mass model keeps its centre on the body origin; tiny rounding
// offsets from summing symmetric parts are dropped (the engine insists on
// an exactly centred mass).
void centre_mass(dMass* m)
{
    m->c[0] = m->c[1] = m->c[2] = 0;
}

// Hub sphere plus a ring of 16 tyre-section spheres in the wheel plane (y-z).
void wheel_mass(dMass* out, float hub_mass, float hub_radius, float rim_mass, float section_radius,
                float ring_radius)
{
    dMassSetSphereTotal(out, hub_mass, hub_radius);
    for (int k = 0; k < 16; k++) {
        dMass part;
        dMassSetSphereTotal(&part, rim_mass / 16.0f, section_radius);
        const double a = k * k_pi / 8.0;
        dMassTranslate(&part, 0, ring_radius * std::cos(a), ring_radius * std::sin(a));
        dMassAdd(out, &part);
    }
    centre_mass(out);
}

// Two fork legs side by side, tilted back along the steering axis.
void fork_mass(dMass* out, const bike_params& p)
{
    dMassSetZero(out);
    for (int side = -1; side <= 1; side += 2) {
        dMass leg;
        dMassSetCylinderTotal(&leg, p.fork_mass / 2.0f, 2, p.fork_leg_spacing / 8.0f,
                              p.fork_leg_length * 2.0f / 3.0f);
        dMassTranslate(&leg, side * p.fork_leg_spacing / 2.0f, 0, 0);
        dMassAdd(out, &leg);
    }
    const double tilt = std::atan((double)(p.fork_lower_pos.z - p.fork_upper_pos.z) /
                                  (double)(p.fork_lower_pos.y - p.fork_upper_pos.y));
    dMatrix3 r;
    dRFromAxisAndAngle(r, 1, 0, 0, tilt);
    dMassRotate(out, r);
    centre_mass(out);
}

// Two side boxes along the line from the pivot to the rear axle.
void swingarm_mass(dMass* out, const bike_params& p)
{
    const vec3 d = sub(p.rear_wheel_pos, p.swingarm_pivot);
    const float length = std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z);
    const float w = p.frame_size.x / 4.0f;
    dMassSetZero(out);
    for (int side = -1; side <= 1; side += 2) {
        dMass box;
        dMassSetBoxTotal(&box, p.swingarm_side_mass, w, w, length);
        dMassTranslate(&box, side * p.frame_size.x / 2.0f, 0, 0);
        dMassAdd(out, &box);
    }
    const double tilt = -std::atan((double)(p.rear_wheel_pos.y - p.swingarm_pivot.y) /
                                   (double)(p.rear_wheel_pos.z - p.swingarm_pivot.z));
    dMatrix3 r;
    dRFromAxisAndAngle(r, 1, 0, 0, tilt);
    dMassRotate(out, r);
    centre_mass(out);
}

void zero_accumulators(bike* b)
{
    for (dBodyID body : b->bodies) {
        dBodySetForce(body, 0, 0, 0);
        dBodySetTorque(body, 0, 0, 0);
    }
}

void enable_bodies(bike* b, bool on)
{
    for (dBodyID body : b->bodies) {
        if (on)
            dBodyEnable(body);
        else
            dBodyDisable(body);
    }
}

// A point given in the rest frame, turned into world coordinates by the
// frame body's current pose.
void frame_rest_point_to_world(const bike* b, vec3 rest, dVector3 out)
{
    const vec3 local = sub(rest, b->params.frame_pos);
    dBodyGetRelPointPos(b->bodies[body_frame], local.x, local.y, local.z, out);
}

void frame_vector_to_world(const bike* b, float x, float y, float z, dVector3 out)
{
    dBodyVectorToWorld(b->bodies[body_frame], x, y, z, out);
}

void make_joints(bike* b)
{
    const bike_params& p = b->params;
    dWorldID world = b->space->world;
    dBodyID* body = b->bodies;
    const vec3 steer = sub(p.fork_upper_pos, p.fork_lower_pos);

    dJointID j = dJointCreateHinge(world, nullptr);
    dJointAttach(j, body[body_fork_lower], body[body_front_wheel]);
    dJointSetHingeAnchor(j, p.front_wheel_pos.x, p.front_wheel_pos.y, p.front_wheel_pos.z);
    dJointSetHingeAxis(j, 1, 0, 0);
    b->joints[joint_front_axle] = j;

    j = dJointCreateHinge(world, nullptr);
    dJointAttach(j, body[body_swingarm], body[body_rear_wheel]);
    dJointSetHingeAnchor(j, p.rear_wheel_pos.x, p.rear_wheel_pos.y, p.rear_wheel_pos.z);
    dJointSetHingeAxis(j, 1, 0, 0);
    b->joints[joint_rear_axle] = j;

    j = dJointCreateHinge(world, nullptr);
    dJointAttach(j, body[body_fork_upper], body[body_frame]);
    dJointSetHingeAnchor(j, p.fork_upper_pos.x, p.fork_upper_pos.y, p.fork_upper_pos.z);
    dJointSetHingeAxis(j, steer.x, steer.y, steer.z);
    dJointSetHingeParam(j, dParamLoStop, -k_pi / 4);
    dJointSetHingeParam(j, dParamHiStop, k_pi / 4);
    b->joints[joint_steering_head] = j;

    // Position 0 = fully extended, negative = compressed.
    j = dJointCreateSlider(world, nullptr);
    dJointAttach(j, body[body_fork_upper], body[body_fork_lower]);
    dJointSetSliderAxis(j, steer.x, steer.y, steer.z);
    dJointSetSliderParam(j, dParamBounce, 0);
    dJointSetSliderParam(j, dParamLoStop, -p.fork_travel);
    dJointSetSliderParam(j, dParamHiStop, 0);
    b->joints[joint_fork_slider] = j;

    j = dJointCreateHinge(world, nullptr);
    dJointAttach(j, body[body_swingarm], body[body_frame]);
    dJointSetHingeAnchor(j, p.swingarm_pivot.x, p.swingarm_pivot.y, p.swingarm_pivot.z);
    dJointSetHingeParam(j, dParamBounce, 0);
    dJointSetHingeAxis(j, 1, 0, 0);
    dJointSetHingeParam(j, dParamLoStop, -p.swingarm_travel);
    dJointSetHingeParam(j, dParamHiStop, 0);
    b->joints[joint_swingarm_pivot] = j;

    b->joints[joint_rider_mount] = dJointCreateHinge2(world, nullptr);
    attach_rider_mount(b);

    for (int i = 0; i < bike_joint_count; i++)
        dJointSetFeedback(b->joints[i], &b->joint_feedback[i]);
}

// Growable lists start with room for 16 entries.
template <typename T>
void list_create(T** items, int* count, int* capacity)
{
    *items = static_cast<T*>(mem_alloc_or_die(sizeof(T) * 16));
    *count = 0;
    *capacity = 16;
}

// ---- models and textures ----

const char* last_slash(const char* s)
{
    const char* p = strrchr(s, '/');
    return p ? p + 1 : s;
}

unsigned load_texture_or_zero(const char* name)
{
    return name && *name ? texture_load(name, 0) : 0;
}

// Loads one model to be drawn with texture T (name t_name, handle t).
// Returns 0 after reporting when it cannot be loaded.
unsigned load_model_with(const char* model, const char* t_name, unsigned t)
{
    char variant[1024];
    if (!model_variant_name(model, t_name, variant, sizeof variant)) {
        const unsigned h = model_load(model, t);
        if (!h)
            add_message("Warning: Can't load %.900s", model);
        return h;
    }
    unsigned h = model_load(variant, t);
    if (h)
        return h;
    const char* slash = strrchr(t_name, '/');
    if (!slash) {
        add_message("Warning: Can't load %.900s", variant);
        return 0;
    }
    // The variant's file name in the texture's folder.
    const char* file = last_slash(variant);
    if (file == variant && *file == '@')
        file++;
    char beside[2048];
    snprintf(beside, sizeof beside, "%.*s%s", (int)(slash + 1 - t_name), t_name, file);
    h = model_load(beside, t);
    if (!h)
        add_message("Warning: Can't load %.450s or %.450s", variant, beside);
    return h;
}

// Loads a group of models with one texture; when the texture cannot be had
// or any model fails with it, the whole group goes over to the default
// texture.
void load_group(bike* b, int group, const char* wanted, const char* fallback, const int* models,
                const char* const* names, int count)
{
    bike_texture_set& set = b->textures[group];
    const char* t_name = wanted && *wanted ? wanted : nullptr;
    unsigned t = load_texture_or_zero(t_name);
    bool ok = t != 0;
    if (ok) {
        for (int i = 0; i < count; i++) {
            b->models[models[i]] = model_service_present() ? load_model_with(names[i], t_name, t) : 0;
            if (model_service_present() && !b->models[models[i]])
                ok = false;
        }
    }
    if (!ok) {
        t_name = fallback;
        t = load_texture_or_zero(fallback);
        for (int i = 0; i < count; i++)
            b->models[models[i]] = model_service_present() ? load_model_with(names[i], t_name, t) : 0;
    }
    set.colour = t;
}

void load_art(bike* b, const char* rider_texture, const char* head_texture, const char* bike_texture,
              const char* wheel_texture)
{
    const bike_params& p = b->params;
    const int bike_models[] = {model_frame, model_side_plates, model_fork_upper,
                               model_front_plate, model_fork_lower, model_swingarm};
    const char* const bike_names[] = {p.frame_model, p.side_plates_model, p.fork_upper_model,
                                      p.front_plate_model, p.fork_lower_model, p.swingarm_model};
    load_group(b, texture_bike, bike_texture, p.bike_texture, bike_models, bike_names, 6);
    const int wheel_models[] = {model_front_wheel, model_rear_wheel};
    const char* const wheel_names[] = {p.front_wheel_model, p.rear_wheel_model};
    load_group(b, texture_wheels, wheel_texture, p.wheel_texture, wheel_models, wheel_names, 2);
    const int rider_models[] = {model_rider_plate, model_rider_body, model_rider_first_person};
    const char* const rider_names[] = {p.rider_plate_model, p.rider_model, p.rider_model_first_person};
    load_group(b, texture_rider, rider_texture, p.rider_texture, rider_models, rider_names, 3);
    const int head_models[] = {model_head};
    const char* const head_names[] = {p.head_model};
    load_group(b, texture_head, head_texture, p.head_texture, head_models, head_names, 1);

    uint8_t background[3] = {255, 255, 255};
    uint8_t figures[3] = {0, 0, 0};
    const unsigned bike_tex = b->textures[texture_bike].colour;
    if (bike_tex && g_texture_service.text)
        number_plate_colours(g_texture_service.text(bike_tex), background, figures);
    if (g_texture_service.number_plate)
        b->number_plate_texture = g_texture_service.number_plate(b->number_text, background, figures, 128);
    for (bike_texture_set& set : b->textures) {
        if (!set.colour)
            continue;
        if (g_texture_service.normal_map)
            set.normal = g_texture_service.normal_map(set.colour);
        if (g_texture_service.specular_map)
            set.specular = g_texture_service.specular_map(set.colour);
    }
}

void load_shapes(bike* b)
{
    const bike_params& p = b->params;
    b->shapes[body_frame] = shape_get(p.frame_shape);
    b->shapes[body_fork_upper] = shape_get(p.fork_upper_shape);
    b->shapes[body_fork_lower] = shape_get(p.fork_lower_shape);
    b->shapes[body_swingarm] = shape_get(p.swingarm_shape);
    b->shapes[body_rider] = shape_get(p.rider_shape);
    b->shapes[body_front_wheel] = shape_get(p.front_wheel_shape);
    b->shapes[body_rear_wheel] = shape_get(p.rear_wheel_shape);
}

}  // namespace

// ---- pure helpers ----

bool model_variant_name(const char* model, const char* texture, char* out, size_t size)
{
    if (!model || !texture || !out || size == 0)
        return false;
    const char* model_file = last_slash(model);
    const char* cut = strchr(model_file, '-');
    if (!cut)
        cut = strrchr(model_file, '.');
    if (!cut)
        return false;
    const char* t_file = last_slash(texture);
    const char* first = strchr(t_file, '-');
    const char* second = first ? strchr(first + 1, '-') : nullptr;
    if (!second)
        return false;
    const int written = snprintf(out, size, "%.*s%.*s.qm", (int)(cut - model), model, (int)(second - first), first);
    return written >= 0 && (size_t)written < size;
}

void number_plate_colours(const char* text, uint8_t background[3], uint8_t foreground[3])
{
    if (!text)
        return;
    struct tag {
        const char* name;
        uint8_t* colour;
    };
    const tag tags[2] = {{"[numberbackground:", background}, {"[numberforeground:", foreground}};
    for (const tag& t : tags) {
        const char* at = strstr(text, t.name);
        if (!at)
            continue;
        float c[3];
        if (sscanf(at + strlen(t.name), "%f,%f,%f", &c[0], &c[1], &c[2]) != 3)
            continue;
        if (!std::isfinite(c[0]) || !std::isfinite(c[1]) || !std::isfinite(c[2]))
            continue;
        for (int i = 0; i < 3; i++)
            t.colour[i] = (uint8_t)(int)(clamp_value(c[i], 0.0f, 1.0f) * 255.0f);
    }
}

// ---- masses ----

void bike_set_body_masses(bike* b, float d)
{
    const bike_params& p = b->params;
    b->rider_mass_distribution = d;
    dMass m;
    dMassSetBoxTotal(&m, (1.0f - d) * p.rider_mass + p.frame_mass, p.frame_size.x, p.frame_size.y,
                     p.frame_size.z);
    dBodySetMass(b->bodies[body_frame], &m);
    dMassSetSphereTotal(&m, d * p.rider_mass, 1.0);
    dBodySetMass(b->bodies[body_rider], &m);
    b->total_mass = bike_body_mass_sum(b);
}

float bike_body_mass_sum(const bike* b)
{
    double sum = 0;
    for (dBodyID body : b->bodies) {
        dMass m;
        dBodyGetMass(body, &m);
        sum += m.mass;
    }
    return (float)sum;
}

// ---- life cycle ----

bike* create_bike(physics_space* space, const char* model_name, int slot, const char* number_text,
                  const char* rider_texture, const char* head_texture, const char* bike_texture,
                  const char* wheel_texture)
{
    const bike_params* params = find_bike_params(model_name);
    physics_create(space);

    bike* b = new (mem_alloc_or_die(sizeof(bike))) bike();
    b->space = space;
    b->params = *params;
    snprintf(b->number_text, sizeof b->number_text, "%.7s", number_text ? number_text : "");
    load_shapes(b);
    load_art(b, rider_texture, head_texture, bike_texture, wheel_texture);
    b->engine_inertia = b->params.engine_inertia;

    const bike_params& p = b->params;
    dWorldID world = space->world;
    for (int i = 0; i < bike_body_count; i++) {
        b->bodies[i] = dBodyCreate(world);
        dBodySetData(b->bodies[i], b);
    }
    // Fast-spinning wheels stay stable with finite rotation.
    dBodySetFiniteRotationMode(b->bodies[body_front_wheel], 1);
    dBodySetFiniteRotationMode(b->bodies[body_rear_wheel], 1);
    for (int i = 0; i < bike_body_count; i++) {
        const vec3 pos = param_position(p, i);
        dBodySetPosition(b->bodies[i], pos.x, pos.y, pos.z);
    }
    dMass m;
    wheel_mass(&m, p.front_hub_mass, p.front_hub_radius, p.front_rim_mass, p.front_tyre_section_radius,
               p.front_tyre_ring_radius);
    dBodySetMass(b->bodies[body_front_wheel], &m);
    wheel_mass(&m, p.rear_hub_mass, p.rear_hub_radius, p.rear_rim_mass, p.rear_tyre_section_radius,
               p.rear_tyre_ring_radius);
    dBodySetMass(b->bodies[body_rear_wheel], &m);
    fork_mass(&m, p);
    dBodySetMass(b->bodies[body_fork_upper], &m);
    dBodySetMass(b->bodies[body_fork_lower], &m);
    swingarm_mass(&m, p);
    dBodySetMass(b->bodies[body_swingarm], &m);
    // Two thirds of the rider ride in the frame at creation.
    bike_set_body_masses(b, 1.0f / 3.0f);

    make_joints(b);

    b->front_contact.body = b->bodies[body_front_wheel];
    b->front_contact.ring_radius = p.front_tyre_ring_radius;
    b->front_contact.section_radius = p.front_tyre_section_radius;
    b->rear_contact.body = b->bodies[body_rear_wheel];
    b->rear_contact.ring_radius = p.rear_tyre_ring_radius;
    b->rear_contact.section_radius = p.rear_tyre_section_radius;

    list_create(&b->gate_times.items, &b->gate_times.count, &b->gate_times.capacity);
    list_create(&b->path.items, &b->path.count, &b->path.capacity);
    for (line_point_list& list : b->recording)
        list_create(&list.items, &list.count, &list.capacity);
    bike_setup_defaults(b);
    b->total_mass = bike_body_mass_sum(b);
    reset_bike_pose(b);
    b->slot = slot;
    return b;
}

void destroy_bike(bike* b)
{
    if (!b)
        return;
    for (dJointID& j : b->joints) {
        if (j)
            dJointDestroy(j);
        j = nullptr;
    }
    for (dBodyID& body : b->bodies) {
        if (body)
            dBodyDestroy(body);
        body = nullptr;
    }
    mem_free(b->gate_times.items);
    mem_free(b->path.items);
    for (line_point_list& list : b->recording)
        mem_free(list.items);
    if (b->number_plate_texture && g_texture_service.delete_unregistered)
        g_texture_service.delete_unregistered(b->number_plate_texture);
    for (shape*& s : b->shapes) {
        shape_free(s);
        s = nullptr;
    }
    b->~bike();
    mem_free(b);
}

void attach_rider_mount(bike* b)
{
    dJointID j = b->joints[joint_rider_mount];
    dJointAttach(j, b->bodies[body_rider], b->bodies[body_frame]);
    dVector3 anchor;
    frame_rest_point_to_world(b, {0, b->params.rider_pos.y, k_rider_mount_ahead}, anchor);
    dJointSetHinge2Anchor(j, anchor[0], anchor[1], anchor[2]);
    dVector3 axis1, axis2;
    frame_vector_to_world(b, 0, 1, 1, axis1);
    frame_vector_to_world(b, 1, 0, 0, axis2);
    dSafeNormalize3(axis1);
    dJointSetHinge2Axes(j, axis1, axis2);
    dJointSetHinge2Param(j, dParamLoStop, 0);
    dJointSetHinge2Param(j, dParamHiStop, 0);
}

namespace {

// Every body at its rest place at the origin, still; the rider at his rest
// point on the frame.
void rest_bodies(bike* b)
{
    const bike_params& p = b->params;
    static const int k_order[bike_body_count] = {body_fork_upper, body_fork_lower, body_swingarm, body_frame,
                                                 body_front_wheel, body_rear_wheel, body_rider};
    for (int i : k_order) {
        dBodyID body = b->bodies[i];
        const vec3 pos = param_position(p, i);
        dBodySetPosition(body, pos.x, pos.y, pos.z);
        dMatrix3 identity;
        dRSetIdentity(identity);
        dBodySetRotation(body, identity);
        dBodySetLinearVel(body, 0, 0, 0);
        dBodySetAngularVel(body, 0, 0, 0);
        dBodySetForce(body, 0, 0, 0);
        dBodySetTorque(body, 0, 0, 0);
    }
    dVector3 rest;
    frame_rest_point_to_world(b, p.rider_pos, rest);
    dBodySetPosition(b->bodies[body_rider], rest[0], rest[1], rest[2]);
    dBodySetRotation(b->bodies[body_rider], dBodyGetRotation(b->bodies[body_frame]));
    attach_rider_mount(b);
    for (dJointFeedback& f : b->joint_feedback)
        f = dJointFeedback{};
    b->front_contact.feedback = dJointFeedback{};
    b->rear_contact.feedback = dJointFeedback{};
}

}  // namespace

void rest_bike_bodies(bike* b)
{
    rest_bodies(b);
    b->engine_speed = 0;
    b->crash_timer = 0;
    b->bump_timer = 0;
    b->slide_amount = 0;
    for (bike_foot& foot : b->feet)
        foot = bike_foot{};
    for (vec3& v : b->rider_velocity_history)
        v = {0, 0, 0};
    b->front_contact.depth = 0;
    b->rear_contact.depth = 0;
}

void reset_bike_pose(bike* b)
{
    rest_bodies(b);

    b->gear = 0;
    b->last_shift = 0;
    b->gate_progress = 0;
    b->gate_times.count = 0;
    b->path.count = 0;
    for (line_point_list& list : b->recording)
        list.count = 0;
    b->throttle = b->clutch = b->front_brake = b->rear_brake = 0;
    b->steer = b->sit_dab = b->dab_amount = b->back_up = b->lean = 0;
    b->engine_angle = 0;
    b->engine_speed = 0;
    b->target = 0;
    b->last_advance = 0;
    b->next_section = 0;
    b->recovery = 0;
    b->launch_time = 0;
    b->throttle_memory = 0;
    b->grip_limit_tick = -1000000;
    b->stuck_tick = -1;
    for (int& serial : b->followed_serial)
        serial = 0;
    for (bike_foot& foot : b->feet)
        foot = bike_foot{};
    b->last_bike_contact_tick = -1;
    b->first_bike_contact_tick = -1;
    b->slow_or_down = 0;
    b->finished = 0;
    b->airborne_tick = 0;
    b->landing_level = 1;
    b->landing_tick = 0;
    b->crash_timer = 0;
    b->crash_count = 0;
    b->bump_timer = 0;
    b->slide_amount = 0;
    b->presence = 1;
    for (vec3& v : b->rider_velocity_history)
        v = {0, 0, 0};
    b->front_contact.depth = 0;
    b->rear_contact.depth = 0;
    b->front_trail = erode_trail{};
    b->rear_trail = erode_trail{};
}

void rotate_bike(bike* b, float axis_x, float axis_y, float axis_z, float angle)
{
    dQuaternion turn;
    dQFromAxisAndAngle(turn, axis_x, axis_y, axis_z, angle);
    dMatrix3 r;
    dRfromQ(r, turn);
    for (dBodyID body : b->bodies) {
        dQuaternion q;
        dQMultiply0(q, turn, dBodyGetQuaternion(body));
        dNormalize4(q);
        dBodySetQuaternion(body, q);
        const dReal* p = dBodyGetPosition(body);
        dVector3 rotated;
        dMultiply0_331(rotated, r, p);
        dBodySetPosition(body, rotated[0], rotated[1], rotated[2]);
        dVector3 v;
        dMultiply0_331(v, r, dBodyGetLinearVel(body));
        dBodySetLinearVel(body, v[0], v[1], v[2]);
        dMultiply0_331(v, r, dBodyGetAngularVel(body));
        dBodySetAngularVel(body, v[0], v[1], v[2]);
    }
}

void translate_bike(bike* b, float dx, float dy, float dz)
{
    for (dBodyID body : b->bodies) {
        const dReal* p = dBodyGetPosition(body);
        dBodySetPosition(body, p[0] + dx, p[1] + dy, p[2] + dz);
    }
}

// ---- presence ----

void set_bike_solid(bike* b)
{
    if (b->presence <= 0.25f)
        zero_accumulators(b);
    b->presence = 1;
    enable_bodies(b, true);
}

void set_bike_ghost(bike* b)
{
    if (b->presence <= 0.25f)
        zero_accumulators(b);
    b->presence = 0;
    enable_bodies(b, false);
}

void wake_remote_bike(bike* b)
{
    if (b->presence == 0) {
        zero_accumulators(b);
        b->presence = 1;
        enable_bodies(b, true);
    } else if (b->presence > 0 && b->presence <= 0.25f) {
        b->presence = 0.25f;
        enable_bodies(b, false);
    }
}

void fade_remote_bike(bike* b)
{
    if (!(b->presence > 0))
        return;
    if (b->presence <= 0.25f)
        zero_accumulators(b);
    b->presence = clamp_value(b->presence - physics_tick, 0.0f, 1.0f);
    enable_bodies(b, b->presence > 0.25f);
}

// ---- accessors ----

vec3 bike_frame_position(const bike* b)
{
    const dReal* p = dBodyGetPosition(b->bodies[body_frame]);
    return {(float)p[0], (float)p[1], (float)p[2]};
}

vec3 bike_frame_velocity(const bike* b)
{
    const dReal* v = dBodyGetLinearVel(b->bodies[body_frame]);
    return {(float)v[0], (float)v[1], (float)v[2]};
}

const dReal* bike_frame_rotation(const bike* b)
{
    return dBodyGetRotation(b->bodies[body_frame]);
}

vec3 bike_rider_position(const bike* b)
{
    const dReal* p = dBodyGetPosition(b->bodies[body_rider]);
    return {(float)p[0], (float)p[1], (float)p[2]};
}

float bike_forward_speed_mph(const bike* b)
{
    const dReal* r = dBodyGetRotation(b->bodies[body_frame]);
    const dReal* v = dBodyGetLinearVel(b->bodies[body_frame]);
    return (float)(-(r[2] * v[0] + r[6] * v[1] + r[10] * v[2]) * 0.6818181818181819);
}

const char* bike_model_name(const bike* b)
{
    return b->params.name;
}

const char* bike_class(const bike* b)
{
    return b->params.class_name;
}
