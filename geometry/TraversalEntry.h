#pragma once

#include "math/Vector3.h"

#include <cstdint>

namespace Raytracer {

struct KdNode;

// One entry of a kd-tree traversal stack: a point where the ray enters or leaves a cell.
struct TraversalEntry {
    const KdNode* node = nullptr; // far child still to visit; null for the final exit entry
    float t = 0.0f;               // ray parameter of point
    Vector3 point;
    std::int32_t previous = 0; // index of the exit entry that was current when this one was pushed
};

// Entries per traversal stack; a tree of at most 61 levels keeps every walk far below this.
constexpr int traversalStackSize = 1024;

} // namespace Raytracer
