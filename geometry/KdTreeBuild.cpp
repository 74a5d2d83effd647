#include "geometry/BoxOverlap.h"
#include "geometry/KdPool.h"
#include "geometry/KdTree.h"
#include "geometry/Triangle.h"
#include "geometry/Vertex.h"
#include "scene/Scene.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>

namespace Raytracer {

namespace {

// Every primitive of this system is a Triangle; calling it through the final class lets the compiler
// skip the virtual dispatch in the quadratic counting loop.
const Triangle& asTriangle(const Primitive* primitive) {
    return *static_cast<const Triangle*>(primitive);
}

// Half the surface area of a box of size s, summed in the order every cost uses.
float halfArea(const Vector3& s) {
    return (s.y + s.z) * s.x + s.y * s.z;
}

// A deep primitive's overlap tests are certain outside its extent widened by this share of the node's
// largest bound: a candidate box's centre and half size are rounded by a few units in the last place of
// that bound (2^-22 of it), so the margin is wide. The floor covers boxes of subnormal size.
constexpr float marginShare = 0x1p-16f;
constexpr float marginFloor = std::numeric_limits<float>::min();
// Beyond this magnitude the overlap test's products could overflow; such nodes and triangles take no
// shortcut.
constexpr float shortcutLimit = 0x1p32f;

void pushFront(KdPool& pool, KdNode* leaf, KdListElement* element) {
    element->next = pool.element(leaf->reference());
    leaf->link = (pool.reference(element) << KdNode::referenceShift) |
                 (leaf->link & (KdNode::axisMask | KdNode::leafFlag));
}

} // namespace

KdTree::KdTree(KdPool& pool) : root(std::make_unique<KdNode>()), m_pool(pool) {}

void KdTree::build(Scene& scene) {
    m_scene = &scene;
    const int count = scene.primitiveCount();
    for (int i = 0; i < count; ++i) {
        KdListElement* element = m_pool.takeElement();
        element->primitive = scene.primitives[i];
        pushFront(m_pool, root.get(), element);
    }

    const auto n = static_cast<std::size_t>(count);
    if (n > scratchPrimitives.size()) {
        scratchPrimitives.resize(n);
        corners.resize(3 * n);
        extentMin.resize(n);
        extentMax.resize(n);
        candidates.resize(3 * n);
        byWindowStart.resize(n);
        byWindowEnd.resize(n);
        active.resize(n);
        activeSlot.resize(n);
    }
    subdivide(root.get(), Box{scene.boundsMin, scene.boundsSize}, 0, count);
    flatten();
}

void KdTree::flatten() {
    flatNodes.assign(1, KdFlatNode{});
    packets.clear();
    flattenNode(*root, 0);
}

// Depth first, so a subtree's nodes lie after its root; each inner node's children are taken as a
// pair before either is filled in.
void KdTree::flattenNode(const KdNode& node, std::size_t slot) {
    if (node.isLeaf()) {
        const auto first = static_cast<std::uint32_t>(packets.size());
        int lane = TrianglePacket::lanes;
        for (const KdListElement* e = m_pool.element(node.reference()); e != nullptr; e = e->next) {
            if (lane == TrianglePacket::lanes) {
                packets.emplace_back();
                packets.back().count = 0;
                lane = 0;
            }
            TrianglePacket& packet = packets.back();
            packet.set(lane, &asTriangle(e->primitive));
            ++packet.count;
            ++lane;
        }
        for (; lane < TrianglePacket::lanes; ++lane) {
            packets.back().set(lane, nullptr);
        }
        KdFlatNode& leaf = flatNodes[slot];
        leaf.link = (first << KdNode::referenceShift) | KdNode::leafFlag | (node.link & KdNode::axisMask);
        leaf.packetCount = static_cast<std::uint32_t>(packets.size()) - first;
        return;
    }
    const std::size_t children = flatNodes.size();
    flatNodes.resize(children + 2);
    flatNodes[slot].link = (static_cast<std::uint32_t>(children) << KdNode::referenceShift) |
                           static_cast<std::uint32_t>(node.axis());
    flatNodes[slot].split = node.split;
    const KdNode* left = m_pool.node(node.reference());
    flattenNode(left[0], children);
    flattenNode(left[1], children + 1);
}

void KdTree::subdivide(KdNode* node, const Box& box, int depth, int count) {
    const Vector3& s = box.size;
    int axis = 2;
    if (s.x >= s.y && s.x >= s.z)
        axis = 0;
    else if (s.y >= s.x && s.y >= s.z)
        axis = 1;
    node->link = (node->link & ~KdNode::axisMask) | static_cast<std::uint32_t>(axis);

    const float lo = box.min[axis];
    const float hi = lo + box.size[axis];

    // A primitive is deep when its corners a and b lie inside the node by the margin. The overlap test
    // separates only on an axis where the projections it reads all lie beyond the box's; the face axes
    // and the plane test read a, each edge axis reads a or b, and rounding, being monotonic, keeps an
    // inside corner's projection within the box's. So for a deep primitive every left box that ends above
    // its extent and every right box that begins below it certainly overlaps it.
    Vector3 innerMin;
    Vector3 innerMax;
    float largest = 0.0f;
    for (int i = 0; i < 3; ++i)
        largest = std::max({largest, std::fabs(box.min[i]), std::fabs(box.min[i] + box.size[i])});
    const float margin = largest * marginShare + marginFloor;
    for (int i = 0; i < 3; ++i) {
        innerMin[i] = box.min[i] + margin;
        innerMax[i] = box.min[i] + box.size[i] - margin;
    }
    const auto inside = [&](const Vector3& p) {
        return innerMin.x <= p.x && p.x <= innerMax.x && innerMin.y <= p.y && p.y <= innerMax.y &&
               innerMin.z <= p.z && p.z <= innerMax.z;
    };
    const auto bounded = [](const Vector3& p) {
        return std::fabs(p.x) <= shortcutLimit && std::fabs(p.y) <= shortcutLimit &&
               std::fabs(p.z) <= shortcutLimit;
    };
    const bool shortcuts = largest <= shortcutLimit;

    // Candidate planes at the corner coordinates inside the node, ascending and free of duplicates. Of
    // equal positions the first corner in list order gives the value, which decides the sign of a zero.
    int candidateCount = 0;
    float firstZero = std::numeric_limits<float>::quiet_NaN();
    int deepCount = 0;
    int activeCount = 0;
    int i = 0;
    for (const KdListElement* e = m_pool.element(node->reference()); e != nullptr; e = e->next, ++i) {
        const Triangle& triangle = asTriangle(e->primitive);
        scratchPrimitives[i] = e->primitive;
        triangle.extent(extentMin[i], extentMax[i], axis);
        Vector3* const corner = &corners[3 * static_cast<std::size_t>(i)];
        corner[0] = triangle.a->position;
        corner[1] = triangle.b->position;
        corner[2] = triangle.c->position;
        for (int k = 0; k < 3; ++k) {
            const float x = corner[k][axis];
            if (!(lo <= x && x <= hi))
                continue;
            candidates[static_cast<std::size_t>(candidateCount++)] = x;
            if (x == 0.0f && std::isnan(firstZero))
                firstZero = x;
        }
        // A shallow primitive is active at every candidate.
        if (shortcuts && inside(corner[0]) && inside(corner[1]) && bounded(corner[2])) {
            byWindowStart[deepCount] = i;
            byWindowEnd[deepCount++] = i;
        } else {
            activeSlot[i] = activeCount;
            active[activeCount++] = i;
        }
    }
    float* const positions = candidates.data();
    std::sort(positions, positions + candidateCount);
    candidateCount = static_cast<int>(std::unique(positions, positions + candidateCount) - positions);
    if (!std::isnan(firstZero))
        *std::lower_bound(positions, positions + candidateCount, 0.0f) = firstZero;

    // Surface area heuristic: a split costs 0.3 plus the primitives of each side weighted by the chance
    // that a ray through the node also passes that side, the ratio of surface areas.
    const float q = 0.5f / halfArea(s);
    float best = 10000.0f;
    float bestPosition = 0.0f;
    Box bestLeft{};
    Box bestRight{};
    //
    // A primitive counts left at a candidate when its extent begins at or below it, it reaches the node
    // and it overlaps the left box, or when it has missed an earlier candidate's right box: from then on
    // it is left of every higher candidate untested. It counts right when its extent ends at or above the
    // candidate, it reaches the node and it overlaps the right box. A deep primitive's window is its
    // extent widened by the margin: below it the primitive counts right only, above it left only, and
    // only inside it are its tests run. The active primitives are those tested at the current candidate.
    std::sort(byWindowStart.begin(), byWindowStart.begin() + deepCount,
              [&](std::int32_t x, std::int32_t y) { return extentMin[x] < extentMin[y]; });
    std::sort(byWindowEnd.begin(), byWindowEnd.begin() + deepCount,
              [&](std::int32_t x, std::int32_t y) { return extentMax[x] < extentMax[y]; });
    const auto retire = [&](std::int32_t k) {
        const std::int32_t last = active[--activeCount];
        active[activeSlot[k]] = last;
        activeSlot[last] = activeSlot[k];
        activeSlot[k] = -1;
    };
    int opened = 0;
    int closed = 0;
    int leftForGood = 0;
    for (int j = 0; j < candidateCount; ++j) {
        const float position = positions[j];
        for (; opened < deepCount && extentMin[byWindowStart[opened]] - margin <= position; ++opened) {
            const std::int32_t k = byWindowStart[opened];
            activeSlot[k] = activeCount;
            active[activeCount++] = k;
        }
        for (; closed < deepCount && extentMax[byWindowEnd[closed]] + margin < position; ++closed) {
            const std::int32_t k = byWindowEnd[closed];
            if (activeSlot[k] >= 0) {
                retire(k);
                ++leftForGood;
            }
        }
        Box left = box;
        left.size[axis] = position - lo;
        Box right = box;
        right.min[axis] = position;
        right.size[axis] = hi - position;
        const Vector3 leftHalf = left.size * 0.5f;
        const Vector3 leftCentre = left.min + leftHalf;
        const Vector3 rightHalf = right.size * 0.5f;
        const Vector3 rightCentre = right.min + rightHalf;
        // The left count reads whether a primitive had missed a right box before this candidate's tests.
        int leftCount = leftForGood;
        int rightCount = deepCount - opened;
        for (int w = 0; w < activeCount;) {
            const std::int32_t k = active[w];
            const Vector3* const corner = &corners[3 * static_cast<std::size_t>(k)];
            if (extentMin[k] <= position && lo <= extentMax[k] &&
                triangleOverlapsBox(corner[0], corner[1], corner[2], leftCentre, leftHalf))
                ++leftCount;
            if (position <= extentMax[k] && hi >= extentMin[k]) {
                if (!triangleOverlapsBox(corner[0], corner[1], corner[2], rightCentre, rightHalf)) {
                    retire(k); // its slot now holds a primitive not yet tested at this candidate
                    ++leftForGood;
                    continue;
                }
                ++rightCount;
            }
            ++w;
        }
        const float cost = (halfArea(right.size) * 2.0f * q * static_cast<float>(rightCount) +
                            halfArea(left.size) * 2.0f * q * static_cast<float>(leftCount)) +
                           0.3f;
        // Strictly below: on a tie the lower candidate stays.
        if (cost < best) {
            best = cost;
            bestPosition = position;
            bestLeft = left;
            bestRight = right;
        }
    }

    // A leaf costs one unit per primitive.
    if (candidateCount == 0 || best > static_cast<float>(count))
        return;

    node->split = bestPosition;
    KdNode* const leftChild = m_pool.takePair();
    KdNode* const rightChild = leftChild + 1;

    // A primitive that straddles the plane, or lies in it, goes to both children.
    int leftCount = 0;
    int rightCount = 0;
    for (int k = 0; k < count; ++k) {
        const Primitive* p = scratchPrimitives[k];
        const Triangle& triangle = asTriangle(p);
        if (bestPosition >= extentMin[k] && lo <= extentMax[k] && triangle.overlapsBox(bestLeft)) {
            KdListElement* element = m_pool.takeElement();
            element->primitive = p;
            pushFront(m_pool, leftChild, element);
            ++leftCount;
        }
        if (hi >= extentMin[k] && bestPosition <= extentMax[k] && triangle.overlapsBox(bestRight)) {
            KdListElement* element = m_pool.takeElement();
            element->primitive = p;
            pushFront(m_pool, rightChild, element);
            ++rightCount;
        }
    }

    m_pool.giveBack(m_pool.element(node->reference()));
    node->link = (m_pool.reference(leftChild) << KdNode::referenceShift) | static_cast<std::uint32_t>(axis);

    if (depth >= maxDepth)
        return;
    // The left subtree reuses the scratch arrays and the candidate store; from here on this node needs
    // only its children, the two boxes and the two counts, all held outside them.
    if (leftCount > 2)
        subdivide(leftChild, bestLeft, depth + 1, leftCount);
    if (rightCount > 2)
        subdivide(rightChild, bestRight, depth + 1, rightCount);
}

} // namespace Raytracer
