#pragma once

#include "math/Vector3.h"

namespace Raytracer {

// Distances along a ray are in units of its direction; traced rays carry unit directions.
struct Ray {
    Vector3 origin;
    Vector3 direction;
};

} // namespace Raytracer
