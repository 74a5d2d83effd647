#pragma once

#include <cstdint>

namespace Raytracer {

struct KdFlatNode;

// One entry of a kd-tree traversal stack: a point where the ray enters or leaves a cell.
struct TraversalEntry {
    const KdFlatNode* node = nullptr; // far child still to visit; null for the final exit entry
    float t = 0.0f;               // ray parameter of point
    float point[3] = {};          // indexed by split axis, so an array rather than a Vector3
    std::int32_t previous = 0; // index of the exit entry that was current when this one was pushed
};

// Entries per traversal stack. A walk holds at most one pushed entry per level of the path it is on,
// besides the first entry, the final exit and one skipped slot, so a tree of at most 61 levels needs
// 64; a renderer holds two stacks per bucket, so they are kept small.
constexpr int traversalStackSize = 128;

} // namespace Raytracer
