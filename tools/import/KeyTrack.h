#pragma once

#include "animation/MsModel.h"

#include <array>
#include <vector>

namespace Raytracer::Import {

// A joint's value at time t (frames) from keys in increasing time: Euler rotations blended along the
// shorter arc, translations linearly, as MilkShape plays them; the first key before the first time,
// the last after the last, zero without keys.
std::array<float, 3> rotationAt(const std::vector<MsKeyframe>& keys, float t);
std::array<float, 3> positionAt(const std::vector<MsKeyframe>& keys, float t);

// What fitKeys did to one joint.
struct KeyFit {
    bool resampled = false; // the channels' times differed and were merged
    std::size_t before = 0; // key times before thinning
    std::size_t after = 0;  // key times written
};

// Puts a joint's rotation and position keys on one set of increasing times, as the viewer pairs them
// by index, and thins them evenly (first and last kept) to at most maxKeys (at least 2). Keys on matching
// times stay as they are; only times a channel lacks are computed. A joint without keys keeps none.
KeyFit fitKeys(std::vector<MsKeyframe>& rotationKeys, std::vector<MsKeyframe>& positionKeys,
               std::size_t maxKeys);

} // namespace Raytracer::Import
