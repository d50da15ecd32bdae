// The shared vector of the simulation: three single-precision floats in
// world units (feet), y up, and the small helpers every module uses on it
// (in namespace vecmath; a file says `using namespace vecmath;`). They are
// plain float expressions, the same on every build.
#pragma once

#include <cmath>

struct vec3 {
    float x, y, z;
};

namespace vecmath {

inline vec3 v3(float x, float y, float z)
{
    return {x, y, z};
}
inline vec3 add(vec3 a, vec3 b)
{
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
inline vec3 sub(vec3 a, vec3 b)
{
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
inline vec3 scale(vec3 a, float k)
{
    return {a.x * k, a.y * k, a.z * k};
}
inline vec3 neg(vec3 a)
{
    return {-a.x, -a.y, -a.z};
}
inline float dot(vec3 a, vec3 b)
{
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
inline vec3 cross(vec3 a, vec3 b)
{
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
inline float length_sq(vec3 a)
{
    return dot(a, a);
}
inline float length(vec3 a)
{
    return sqrtf(dot(a, a));
}
// a + b * k
inline vec3 add_scaled(vec3 a, vec3 b, float k)
{
    return {a.x + b.x * k, a.y + b.y * k, a.z + b.z * k};
}
inline bool finite(vec3 a)
{
    return std::isfinite(a.x) && std::isfinite(a.y) && std::isfinite(a.z);
}

}  // namespace vecmath
