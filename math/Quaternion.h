#pragma once

#include "math/Vector3.h"

namespace Raytracer {

// Rotation quaternion with the scalar part first. Expected to be unit length; only axis() and the
// interpolations renormalise.
struct Quaternion {
    float w = 1.0f;
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;

    constexpr Quaternion() = default;
    constexpr Quaternion(float w_, float x_, float y_, float z_) : w(w_), x(x_), y(y_), z(z_) {}
    constexpr bool operator==(const Quaternion&) const = default;

    // Vector part scaled to a unit axis. A w above 1 first renormalises this quaternion in place;
    // when sqrt(1 - w^2) is below 0.001 (or NaN) the vector part comes back unscaled.
    Vector3 axis();

    // v rotated by this quaternion: q (0, v) conj(q), read back through axis().
    Vector3 rotate(const Vector3& v) const;
    // v rotated by the conjugate: conj(q) (0, v) q.
    Vector3 inverseRotate(const Vector3& v) const;

    // All four components times 1/length.
    Quaternion normalized() const;
};

// Hamilton product a*b (b applied first when rotating).
Quaternion multiply(const Quaternion& a, const Quaternion& b);

// (1 - t) a + t b, renormalised; no sign correction.
Quaternion nlerp(const Quaternion& a, const Quaternion& b, float t);

// Spherical blend along the shorter arc; falls back to nlerp when the quaternions are within a dot
// product of 0.95, where the acos form loses precision.
Quaternion slerp(const Quaternion& a, const Quaternion& b, float t);

} // namespace Raytracer
