#pragma once

#include "math/Vector3.h"

namespace Raytracer {

// Axis-aligned box as its lowest corner and its non-negative extent; the highest corner is min + size.
struct Box {
    Vector3 min;
    Vector3 size;
};

} // namespace Raytracer
