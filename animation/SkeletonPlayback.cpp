#include "animation/SkeletonPlayback.h"

#include "animation/Skeleton.h"
#include "scene/SceneObject.h"

#include <cstddef>

namespace Raytracer {

namespace {

// Index of the first key interval [k, k+1] that holds t, both ends included so that at a shared key
// time the earlier interval wins; count when there is none.
template <class Key> std::size_t findInterval(const std::vector<Key>& keys, float t) {
    const std::size_t count = keys.size();
    if (count < 2) {
        return count;
    }
    for (std::size_t k = 0; k + 1 < count; ++k) {
        if (keys[k].time <= t && t <= keys[k + 1].time) {
            return k;
        }
    }
    return count;
}

// Fraction of the way from time a to time b; 0 when they coincide, which only duplicated keys produce.
float intervalFraction(float t, float a, float b) {
    const float length = b - a;
    if (length == 0.0f) {
        return 0.0f;
    }
    return (t - a) / length;
}

Vector3 translationAt(const std::vector<TranslationKey>& keys, float t) {
    const std::size_t n = keys.size();
    const std::size_t k = findInterval(keys, t);
    if (k < n) {
        const TranslationKey& from = keys[k];
        const TranslationKey& to = keys[k + 1];
        const float s = intervalFraction(t, from.time, to.time);
        const float s2 = s * s;
        const float s3 = s2 * s;
        const float h00 = 2.0f * s3 - 3.0f * s2 + 1.0f;
        const float h01 = 3.0f * s2 - 2.0f * s3;
        const float h10 = s3 - 2.0f * s2 + s;
        const float h11 = s3 - s2;
        return from.value * h00 + to.value * h01 + from.tangentOut * h10 + to.tangentIn * h11;
    }
    if (t < keys[0].time) {
        return keys[0].value;
    }
    if (t >= keys[n - 1].time) {
        return keys[n - 1].value;
    }
    // Only keys out of time order leave t between the ends without an interval.
    return {};
}

// lastPair is the index of the last key pair, taken from the translation keys; the rotation keys are
// normally as many.
Quaternion rotationAt(const std::vector<RotationKey>& keys, std::size_t lastPair, float t) {
    const std::size_t m = keys.size();
    const std::size_t k = findInterval(keys, t);
    if (k < m) {
        const float s = intervalFraction(t, keys[k].time, keys[k + 1].time);
        return slerp(keys[k].value, keys[k + 1].value, s);
    }
    if (t < keys[0].time) {
        return keys[0].value;
    }
    if (t >= keys[lastPair].time) {
        return keys[lastPair].value;
    }
    return {};
}

} // namespace

void animateSkeleton(Joint& joint, float t) {
    const std::size_t n = joint.translationKeys.size();
    const std::size_t m = joint.rotationKeys.size();
    if (n > 0) {
        joint.position = translationAt(joint.translationKeys, t);
    }
    if (m > 0) {
        // The last pair's rotation key; with fewer rotation than translation keys (or none of the
        // latter) the last rotation key stands in, so nothing is read past the keys.
        const std::size_t lastPair = (n > 0 && n <= m) ? n - 1 : m - 1;
        joint.rotation = rotationAt(joint.rotationKeys, lastPair, t).normalized();
    }
    for (Joint* child : joint.children) {
        animateSkeleton(*child, t);
    }
}

void poseSkeleton(Joint& joint, const Vector3& parentPosition, const Quaternion& parentRotation) {
    const Vector3 worldPosition = parentRotation.rotate(joint.position) + parentPosition;
    const Quaternion worldRotation = multiply(parentRotation, joint.rotation).normalized();
    if (joint.proxy != nullptr) {
        SceneObject& proxy = *joint.proxy;
        proxy.position = worldPosition;
        proxy.rotation = worldRotation;
        proxy.applyTransform(proxy.position, proxy.rotation);
    }
    for (Joint* child : joint.children) {
        poseSkeleton(*child, worldPosition, worldRotation);
    }
}

} // namespace Raytracer
