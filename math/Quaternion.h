#pragma once

#include "math/Vector3.h"

#include <cmath>

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


// The rotations are inline: a ray entering a moving part is turned by two of them, whose independent
// chains of operations then overlap.

// Hamilton product a*b (b applied first when rotating).
inline Quaternion multiply(const Quaternion& a, const Quaternion& b) {
    return {a.w * b.w - a.x * b.x - a.y * b.y - a.z * b.z, a.w * b.x + a.x * b.w + a.y * b.z - a.z * b.y,
            a.w * b.y - a.x * b.z + a.y * b.w + a.z * b.x, a.w * b.z + a.x * b.y - a.y * b.x + a.z * b.w};
}

inline Quaternion Quaternion::normalized() const {
    const float inv = 1.0f / std::sqrt(w * w + x * x + y * y + z * z);
    return {w * inv, x * inv, y * inv, z * inv};
}

inline Vector3 Quaternion::axis() {
    if (w > 1.0f) {
        *this = normalized();
    }
    const float s = std::sqrt(1.0f - w * w);
    // The threshold is compared in double; a NaN s fails the test and keeps the vector part as is.
    if (static_cast<double>(s) >= 0.001) {
        const float inv = 1.0f / s;
        return {x * inv, y * inv, z * inv};
    }
    return {x, y, z};
}

inline Vector3 Quaternion::rotate(const Vector3& v) const {
    const Quaternion conjugate(w, -x, -y, -z);
    Quaternion p = multiply(multiply(*this, Quaternion(0.0f, v.x, v.y, v.z)), conjugate);
    return p.axis();
}

inline Vector3 Quaternion::inverseRotate(const Vector3& v) const {
    const Quaternion conjugate(w, -x, -y, -z);
    Quaternion p = multiply(multiply(conjugate, Quaternion(0.0f, v.x, v.y, v.z)), *this);
    return p.axis();
}

// (1 - t) a + t b, renormalised; no sign correction.
Quaternion nlerp(const Quaternion& a, const Quaternion& b, float t);

// Spherical blend along the shorter arc; falls back to nlerp when the quaternions are within a dot
// product of 0.95, where the acos form loses precision.
Quaternion slerp(const Quaternion& a, const Quaternion& b, float t);

} // namespace Raytracer
