#pragma once

#include "math/Vector3.h"

namespace Raytracer {

// One mesh corner; triangles point at the vertices of the object they were built from.
struct Vertex {
    Vector3 position;
    Vector3 normal;
    float u = 0.0f; // texture coordinates
    float v = 0.0f;
};

} // namespace Raytracer
