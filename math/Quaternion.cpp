#include "math/Quaternion.h"

#include <cmath>

namespace Raytracer {

Quaternion multiply(const Quaternion& a, const Quaternion& b) {
    return {a.w * b.w - a.x * b.x - a.y * b.y - a.z * b.z, a.w * b.x + a.x * b.w + a.y * b.z - a.z * b.y,
            a.w * b.y - a.x * b.z + a.y * b.w + a.z * b.x, a.w * b.z + a.x * b.y - a.y * b.x + a.z * b.w};
}

Quaternion Quaternion::normalized() const {
    const float inv = 1.0f / std::sqrt(w * w + x * x + y * y + z * z);
    return {w * inv, x * inv, y * inv, z * inv};
}

Vector3 Quaternion::axis() {
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

Vector3 Quaternion::rotate(const Vector3& v) const {
    const Quaternion conjugate(w, -x, -y, -z);
    Quaternion p = multiply(multiply(*this, Quaternion(0.0f, v.x, v.y, v.z)), conjugate);
    return p.axis();
}

Vector3 Quaternion::inverseRotate(const Vector3& v) const {
    const Quaternion conjugate(w, -x, -y, -z);
    Quaternion p = multiply(multiply(conjugate, Quaternion(0.0f, v.x, v.y, v.z)), *this);
    return p.axis();
}

Quaternion nlerp(const Quaternion& a, const Quaternion& b, float t) {
    const float s = 1.0f - t;
    const Quaternion r(s * a.w + t * b.w, s * a.x + t * b.x, s * a.y + t * b.y, s * a.z + t * b.z);
    return r.normalized();
}

Quaternion slerp(const Quaternion& a, const Quaternion& b, float t) {
    float d = a.w * b.w + a.x * b.x + a.y * b.y + a.z * b.z;
    Quaternion other = b;
    if (d < 0.0f) {
        other = Quaternion(-b.w, -b.x, -b.y, -b.z);
        d = -d;
    }
    if (d >= 0.95f) {
        return nlerp(a, other, t);
    }
    const float theta = std::acos(d);
    const float wa = std::sin((1.0f - t) * theta);
    const float wb = std::sin(t * theta);
    const float inv = 1.0f / std::sin(theta);
    return {(a.w * wa + other.w * wb) * inv, (a.x * wa + other.x * wb) * inv, (a.y * wa + other.y * wb) * inv,
            (a.z * wa + other.z * wb) * inv};
}

} // namespace Raytracer
