#pragma once

#include "math/Vector3.h"

#include <cmath>

namespace Raytracer {

// Akenine-Moller's triangle/box overlap test with corners a, b, c and a box of the given centre and
// half-size. No epsilons: touching overlaps. Written without early exits, all thirteen axes always
// evaluated, so that a loop over many triangles vectorises; the answer is the same as stopping at the
// first separating axis, and it is the one test both Triangle::overlapsBox and the tree build use.
[[gnu::always_inline]] inline bool triangleOverlapsBox(const Vector3& a, const Vector3& b, const Vector3& c, const Vector3& centre,
                                const Vector3& h) {
    const auto separates = [](float p, float q, float rad) {
        const float lo = p < q ? p : q;
        const float hi = p < q ? q : p;
        return static_cast<int>(lo > rad) | static_cast<int>(hi < -rad);
    };
    const auto separatesOnAxis = [](float p, float q, float r, float half) {
        float lo = p;
        float hi = p;
        lo = q < lo ? q : lo;
        hi = q > hi ? q : hi;
        lo = r < lo ? r : lo;
        hi = r > hi ? r : hi;
        return static_cast<int>(lo > half) | static_cast<int>(hi < -half);
    };
    const Vector3 ta = a - centre;
    const Vector3 tb = b - centre;
    const Vector3 tc = c - centre;
    const Vector3 f0 = tb - ta;
    const Vector3 f1 = tc - tb;
    const Vector3 f2 = ta - tc;

    // Axes x, y, z crossed with each edge. An edge's two ends project to the same value on its own axes,
    // so each test needs only two of the three corners.
    const float f0x = std::fabs(f0.x), f0y = std::fabs(f0.y), f0z = std::fabs(f0.z);
    int apart = separates(f0.z * ta.y - f0.y * ta.z, f0.z * tc.y - f0.y * tc.z, f0z * h.y + f0y * h.z);
    apart |= separates(-f0.z * ta.x + f0.x * ta.z, -f0.z * tc.x + f0.x * tc.z, f0z * h.x + f0x * h.z);
    apart |= separates(f0.y * tb.x - f0.x * tb.y, f0.y * tc.x - f0.x * tc.y, f0y * h.x + f0x * h.y);

    const float f1x = std::fabs(f1.x), f1y = std::fabs(f1.y), f1z = std::fabs(f1.z);
    apart |= separates(f1.z * ta.y - f1.y * ta.z, f1.z * tc.y - f1.y * tc.z, f1z * h.y + f1y * h.z);
    apart |= separates(-f1.z * ta.x + f1.x * ta.z, -f1.z * tc.x + f1.x * tc.z, f1z * h.x + f1x * h.z);
    apart |= separates(f1.y * ta.x - f1.x * ta.y, f1.y * tb.x - f1.x * tb.y, f1y * h.x + f1x * h.y);

    const float f2x = std::fabs(f2.x), f2y = std::fabs(f2.y), f2z = std::fabs(f2.z);
    apart |= separates(f2.z * ta.y - f2.y * ta.z, f2.z * tb.y - f2.y * tb.z, f2z * h.y + f2y * h.z);
    apart |= separates(-f2.z * ta.x + f2.x * ta.z, -f2.z * tb.x + f2.x * tb.z, f2z * h.x + f2x * h.z);
    apart |= separates(f2.y * tb.x - f2.x * tb.y, f2.y * tc.x - f2.x * tc.y, f2y * h.x + f2x * h.y);

    apart |= separatesOnAxis(ta.x, tb.x, tc.x, h.x);
    apart |= separatesOnAxis(ta.y, tb.y, tc.y, h.y);
    apart |= separatesOnAxis(ta.z, tb.z, tc.z, h.z);

    // The triangle's plane against the box corners nearest to and farthest from it along n.
    const Vector3 n = cross(f0, f1);
    // Both candidates of each coordinate are computed before the choice, so the choice is a select.
    const float lowX = -h.x - ta.x, highX = h.x - ta.x;
    const float lowY = -h.y - ta.y, highY = h.y - ta.y;
    const float lowZ = -h.z - ta.z, highZ = h.z - ta.z;
    const float minX = n.x > 0.0f ? lowX : highX;
    const float maxX = n.x > 0.0f ? highX : lowX;
    const float minY = n.y > 0.0f ? lowY : highY;
    const float maxY = n.y > 0.0f ? highY : lowY;
    const float minZ = n.z > 0.0f ? lowZ : highZ;
    const float maxZ = n.z > 0.0f ? highZ : lowZ;
    const int nearSide = static_cast<int>(n.x * minX + n.y * minY + n.z * minZ > 0.0f);
    const int farSide = static_cast<int>(n.x * maxX + n.y * maxY + n.z * maxZ >= 0.0f);
    return (apart | nearSide | (farSide ^ 1)) == 0;
}

} // namespace Raytracer
