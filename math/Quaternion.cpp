#include "math/Quaternion.h"

#include <cmath>

namespace Raytracer {

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
