#pragma once

#include "geometry/TraversalEntry.h"

#include <array>
#include <cstdint>

namespace Raytracer {

// A render thread's scratch for kd-tree queries: one stack for the top-level walk and one for an
// object-level walk that runs while the top-level walk waits in a leaf.
struct TraversalScratch {
    alignas(32) std::array<TraversalEntry, traversalStackSize> topLevelStack;
    alignas(32) std::array<TraversalEntry, traversalStackSize> instanceStack;
    // k + 1 and k + 2 index the two axes after axis k, without a modulo in the walk.
    alignas(32) std::array<std::int32_t, 8> mod3Table{0, 1, 2, 0, 1, 0, 0, 0};
    // Ray-triangle tests the queries ran; the owner zeroes it when it likes (a worker, per bucket).
    std::uint32_t intersections = 0;
};

} // namespace Raytracer
