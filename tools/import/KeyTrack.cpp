#include "tools/import/KeyTrack.h"

#include "math/ModelMath.h"
#include "math/Quaternion.h"

#include <algorithm>
#include <cmath>

namespace Raytracer::Import {

namespace {

Quaternion fromEuler(const std::array<float, 3>& angles) {
    float q[4];
    eulerToQuaternion(angles.data(), q);
    return {q[3], q[0], q[1], q[2]};
}

std::array<float, 3> toEuler(const Quaternion& q) {
    const float xyzw[4] = {q.x, q.y, q.z, q.w};
    std::array<float, 3> angles{};
    quaternionToEuler(xyzw, angles.data());
    return angles;
}

// Blends the two keys around t; a key on t is taken as it is.
template <class Blend>
std::array<float, 3> valueAt(const std::vector<MsKeyframe>& keys, float t, Blend blend) {
    if (keys.empty()) {
        return {};
    }
    if (t <= keys.front().time) {
        return keys.front().value;
    }
    for (std::size_t k = 0; k + 1 < keys.size(); ++k) {
        if (t == keys[k].time) {
            return keys[k].value;
        }
        if (t < keys[k + 1].time) {
            return blend(keys[k].value, keys[k + 1].value,
                         (t - keys[k].time) / (keys[k + 1].time - keys[k].time));
        }
    }
    return keys.back().value;
}

bool sameTimes(const std::vector<MsKeyframe>& a, const std::vector<MsKeyframe>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](const MsKeyframe& x, const MsKeyframe& y) { return x.time == y.time; });
}

// The keys at the given times, each existing key kept exactly.
std::vector<MsKeyframe> keysAt(const std::vector<MsKeyframe>& keys, const std::vector<float>& times,
                               std::array<float, 3> (*at)(const std::vector<MsKeyframe>&, float)) {
    std::vector<MsKeyframe> result;
    for (float t : times) {
        result.push_back({t, at(keys, t)});
    }
    return result;
}

} // namespace

std::array<float, 3> rotationAt(const std::vector<MsKeyframe>& keys, float t) {
    return valueAt(keys, t, [](const std::array<float, 3>& a, const std::array<float, 3>& b, float s) {
        return toEuler(slerp(fromEuler(a), fromEuler(b), s).normalized());
    });
}

std::array<float, 3> positionAt(const std::vector<MsKeyframe>& keys, float t) {
    return valueAt(keys, t, [](const std::array<float, 3>& a, const std::array<float, 3>& b, float s) {
        return std::array<float, 3>{a[0] + (b[0] - a[0]) * s, a[1] + (b[1] - a[1]) * s,
                                    a[2] + (b[2] - a[2]) * s};
    });
}

KeyFit fitKeys(std::vector<MsKeyframe>& rotationKeys, std::vector<MsKeyframe>& positionKeys,
               std::size_t maxKeys) {
    const auto byTime = [](const MsKeyframe& a, const MsKeyframe& b) { return a.time < b.time; };
    std::stable_sort(rotationKeys.begin(), rotationKeys.end(), byTime);
    std::stable_sort(positionKeys.begin(), positionKeys.end(), byTime);

    std::vector<float> times;
    for (const auto* keys : {&rotationKeys, &positionKeys}) {
        for (const MsKeyframe& key : *keys) {
            times.push_back(key.time);
        }
    }
    std::sort(times.begin(), times.end());
    times.erase(std::unique(times.begin(), times.end()), times.end());

    KeyFit fit;
    fit.before = times.size();
    fit.resampled = !(sameTimes(rotationKeys, positionKeys) && rotationKeys.size() == times.size());
    if (times.size() > maxKeys) {
        std::vector<float> kept;
        for (std::size_t i = 0; i < maxKeys; ++i) {
            kept.push_back(times[(i * (times.size() - 1) + (maxKeys - 1) / 2) / (maxKeys - 1)]);
        }
        times = std::move(kept);
    }
    fit.after = times.size();
    if (fit.resampled || fit.after != fit.before) {
        rotationKeys = keysAt(rotationKeys, times, rotationAt);
        positionKeys = keysAt(positionKeys, times, positionAt);
    }
    return fit;
}

} // namespace Raytracer::Import
