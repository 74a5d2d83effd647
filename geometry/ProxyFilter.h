#pragma once

#include "geometry/KdTree.h"
#include "geometry/TrianglePacket.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace Raytracer {

// Which proxy boxes a query's ray passes wide of. A proxy triangle can report a hit only where the
// ray meets its box, give or take the rounding of the ray test, a few units in the last place of the
// coordinates and distances involved; the margin here is some thousand times that, so a packet of a
// box the ray passes wide of holds no hit and is skipped. Boxes are tested four at a time without a
// branch, each four the first time a packet of theirs is met.
class ProxyFilter {
  public:
    // reach: no hit the query takes lies farther along the ray.
    ProxyFilter(const KdTree::ProxyBoxes& boxes, const RayArrays& ray, float reach)
        : m_boxes(boxes), m_ray(ray), m_reach(reach) {}

    // Whether the packet's triangles can be left untested.
    bool skips(const TrianglePacket& packet) {
        const int block = packet.group / TrianglePacket::lanes;
        if ((m_known & (std::uint64_t{1} << block)) == 0) {
            testBlock(block);
        }
        return m_wide[packet.group] != 0;
    }

    // Leaves a box's packets untested from now on: no hit is wanted from it any more.
    void skip(std::int32_t group) { m_wide[group] = 1; }

  private:
    // Relative size of the margin: 2^-14 against rounding of about 2^-22 of the magnitudes.
    static constexpr float relativeMargin = 1.0f / 16384.0f;
    static_assert(KdTree::maxGroups <= 64 * TrianglePacket::lanes, "one bit per block of boxes");

    static Float4 broadcast(float x) { return Float4{x, x, x, x}; }

    // Four lane bits as four bytes of 0 or 1, lane 0 first in memory (x86 stores little-endian).
    static constexpr auto spread = [] {
        std::array<std::uint32_t, 16> bytes{};
        for (std::uint32_t bits = 0; bits < 16; ++bits) {
            for (int lane = 0; lane < 4; ++lane) {
                bytes[bits] |= ((bits >> lane) & 1u) << (8 * lane);
            }
        }
        return bytes;
    }();

    void testBlock(int block) {
        if (m_known == 0) {
            float scale = 1.0f + m_boxes.magnitude;
            float longest = 0.0f;
            for (int axis = 0; axis < 3; ++axis) {
                scale += std::fabs(m_ray.origin[axis]);
                longest = std::max(longest, std::fabs(m_ray.direction[axis]));
                m_origin[axis] = broadcast(m_ray.origin[axis]);
                m_inverse[axis] = broadcast(1.0f / m_ray.direction[axis]);
            }
            m_margin = broadcast((scale + m_reach * longest) * relativeMargin);
        }
        m_known |= std::uint64_t{1} << block;
        // Slabs of the widened boxes; a NaN (a ray in a slab's plane) leaves the interval as it is.
        const int first = block * TrianglePacket::lanes;
        Float4 enter = broadcast(0.0f);
        Float4 exit = broadcast(m_reach);
        for (int axis = 0; axis < 3; ++axis) {
            Float4 low;
            Float4 high;
            std::memcpy(&low, m_boxes.low[axis].data() + first, sizeof low);
            std::memcpy(&high, m_boxes.high[axis].data() + first, sizeof high);
            const Float4 a = (low - m_margin - m_origin[axis]) * m_inverse[axis];
            const Float4 b = (high + m_margin - m_origin[axis]) * m_inverse[axis];
            const Mask4 ordered = a < b;
            const Float4 near = ordered ? a : b;
            const Float4 far = ordered ? b : a;
            enter = near > enter ? near : enter;
            exit = far < exit ? far : exit;
        }
        // One store of four flags: storing lane by lane costs more than the box tests.
        const std::uint32_t flags = spread[laneBits(enter > exit)];
        std::memcpy(m_wide + first, &flags, sizeof flags);
    }

    const KdTree::ProxyBoxes& m_boxes;
    const RayArrays& m_ray;
    float m_reach;
    std::uint64_t m_known = 0; // blocks of four boxes tested
    Float4 m_origin[3];
    Float4 m_inverse[3];
    Float4 m_margin;
    std::uint8_t m_wide[KdTree::maxGroups]; // by group; read only once the group's block is tested
};

} // namespace Raytracer
