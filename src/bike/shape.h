// Collision shapes: sets of spheres in a body's own frame, each with its own
// friction and contact spring and damper. Shapes are read from ".shp" data
// files once and cached for the whole run; every user works on a private
// copy.
#pragma once

struct data_stream;

// One sphere: centre in the owner body's frame (feet), radius, friction
// coefficient, contact stiffness and contact damping.
struct shape_sphere {
    float x, y, z;
    float radius;
    float friction;
    float spring;
    float damping;
};

// One block of memory: the record, then the spheres, then the name.
struct shape {
    const char* name;          // data name the shape was loaded from
    int sphere_count;
    shape_sphere* spheres;
    const shape* source_shape; // for a private copy: the cached shape; else null
    float radius;              // max over spheres of |centre| + radius; 0 if none
};

// Largest sphere count a shape file may declare.
enum { SHAPE_MAX_SPHERES = 65536 };

// The cached shape of that data name (exact, case-sensitive cache lookup),
// loading it on first use. Null when the file cannot be opened or does not
// parse; such a name is not cached, so a later call tries again. The cache
// owns the result.
const shape* shape_load(const char* name);
// A private copy of the cached shape, or null as for shape_load. The caller
// owns it and releases it with shape_free.
shape* shape_get(const char* name);
void shape_free(shape* s);

// Parses a shape from a stream: the sphere count, then per sphere centre
// x y z, radius, friction, spring and damping. Any number that fails to
// scan fails the whole shape (null). The result is a single allocation
// (release with shape_free); source_shape is null.
shape* shape_parse(data_stream* s, const char* name);

// Frees every cached shape (shutdown; tests).
void shape_cache_clear();
