#include "geometry/BoxOverlap.h"
#include "geometry/KdPool.h"
#include "geometry/KdTree.h"
#include "geometry/Triangle.h"
#include "geometry/SceneGeometry.h"
#include "geometry/Vertex.h"

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

// out[i]: whether triangle i of corners overlaps box, for i in [first, end). Every lane computes
// exactly what the scalar test would, so the tree is the same on every processor.
[[gnu::always_inline]] inline void overlapsBoxRun(const std::array<std::vector<float>, 9>& corners, int first, int end,
                                                  const Box& box, std::uint8_t* out) {
    const Vector3 h = box.size * 0.5f;
    const Vector3 centre = box.min + h;
    const float* ax = corners[0].data();
    const float* ay = corners[1].data();
    const float* az = corners[2].data();
    const float* bx = corners[3].data();
    const float* by = corners[4].data();
    const float* bz = corners[5].data();
    const float* cx = corners[6].data();
    const float* cy = corners[7].data();
    const float* cz = corners[8].data();
    for (int i = first; i < end; ++i) {
        out[i] = triangleOverlapsBox({ax[i], ay[i], az[i]}, {bx[i], by[i], bz[i]}, {cx[i], cy[i], cz[i]}, centre, h);
    }
}

// The same loop compiled twice, eight triangles at a time with AVX2 and four with the SSE2 every
// x86-64 has, chosen once by what the processor supports. Chosen by hand rather than by an ifunc
// resolver, which runs before the sanitizers' runtimes are ready.
[[gnu::target("avx2")]] void overlapsBoxAvx2(const std::array<std::vector<float>, 9>& corners, int first, int end,
                                             const Box& box, std::uint8_t* out) {
    overlapsBoxRun(corners, first, end, box, out);
}

void overlapsBoxBaseline(const std::array<std::vector<float>, 9>& corners, int first, int end, const Box& box,
                         std::uint8_t* out) {
    overlapsBoxRun(corners, first, end, box, out);
}

void overlapsBoxAll(const std::array<std::vector<float>, 9>& corners, int first, int end, const Box& box,
                    std::uint8_t* out) {
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2) {
        overlapsBoxAvx2(corners, first, end, box, out);
    } else {
        overlapsBoxBaseline(corners, first, end, box, out);
    }
}

// Orders for std::sort that are strict weak orders also with NaN, which goes last and first.
bool lessNanLast(float a, float b) {
    return !std::isnan(a) && (std::isnan(b) || a < b);
}
bool lessNanFirst(float a, float b) {
    return !std::isnan(b) && (std::isnan(a) || a < b);
}

void pushFront(KdPool& pool, KdNode* leaf, KdListElement* element) {
    element->next = pool.element(leaf->reference());
    leaf->link = (pool.reference(element) << KdNode::referenceShift) |
                 (leaf->link & (KdNode::axisMask | KdNode::leafFlag));
}

} // namespace

KdTree::KdTree(KdPool& pool) : root(std::make_unique<KdNode>()), m_pool(pool) {}

void KdTree::build(SceneGeometry& scene) {
    m_scene = &scene;
    const int count = scene.primitiveCount();
    for (int i = 0; i < count; ++i) {
        KdListElement* element = m_pool.takeElement();
        element->primitive = scene.primitives[i];
        pushFront(m_pool, root.get(), element);
    }

    // A node of n triangles has at most 3n distinct corner coordinates on its axis, and an insertion
    // takes its entry before it finds a duplicate, so 3N + 1 entries must be free: 3N + 8 leave 3N + 7
    // usable, the last entry is never linked.
    const auto n = static_cast<std::size_t>(count);
    if (candidateStore.empty() || n > scratchPrimitives.size()) {
        candidateStore.assign(3 * n + 8, SplitCandidate{});
        stillRight.assign(n, 0);
        extentMin.assign(n, 0.0f);
        extentMax.assign(n, 0.0f);
        scratchPrimitives.assign(n, nullptr);
        byMin.assign(n, 0);
        byMax.assign(n, 0);
        for (std::vector<float>& coordinates : cornersByMin)
            coordinates.assign(n, 0.0f);
        for (std::vector<float>& coordinates : cornersByMax)
            coordinates.assign(n, 0.0f);
        overlapsLeft.assign(n, 0);
        overlapsRight.assign(n, 0);
    }
    const std::size_t usable = candidateStore.size() - 1;
    for (std::size_t i = 0; i + 1 < usable; ++i)
        candidateStore[i].next = &candidateStore[i + 1];
    candidateStore[usable - 1].next = nullptr;
    freeCandidates = &candidateStore[0];
    candidates = nullptr;

    subdivide(root.get(), Box{scene.boundsMin, scene.boundsSize}, 0, count);
    flatten();
}

void KdTree::flatten() {
    flatNodes.assign(1, KdFlatNode{});
    packets.clear();
    collectProxyBoxes();
    flattenNode(*root, 0);
}

// A proxy's triangles all share its owner; each owner gets a group and the box of its corners.
void KdTree::collectProxyBoxes() {
    constexpr float infinity = std::numeric_limits<float>::infinity();
    const auto addBox = [&](float low, float high) {
        for (int axis = 0; axis < 3; ++axis) {
            proxyBoxes.low[axis].push_back(low);
            proxyBoxes.high[axis].push_back(high);
        }
    };
    for (int axis = 0; axis < 3; ++axis) {
        proxyBoxes.low[axis].clear();
        proxyBoxes.high[axis].clear();
    }
    m_groupOwners.assign(1, nullptr);
    addBox(-infinity, infinity);
    proxyBoxes.magnitude = 0.0f;
    for (const Primitive* p : m_scene->primitives) {
        const auto group = static_cast<std::size_t>(groupOf(p));
        if (group == TrianglePacket::everywhere) {
            continue;
        }
        if (group == proxyBoxes.low[0].size()) {
            addBox(infinity, -infinity);
        }
        for (int axis = 0; axis < 3; ++axis) {
            float lo = 0.0f;
            float hi = 0.0f;
            p->extent(lo, hi, axis);
            proxyBoxes.low[axis][group] = std::min(proxyBoxes.low[axis][group], lo);
            proxyBoxes.high[axis][group] = std::max(proxyBoxes.high[axis][group], hi);
            proxyBoxes.magnitude = std::max({proxyBoxes.magnitude, std::fabs(lo), std::fabs(hi)});
        }
    }
    proxyBoxes.count = static_cast<int>(m_groupOwners.size());
    // Empty boxes fill the last packet of lanes.
    while (proxyBoxes.low[0].size() % TrianglePacket::lanes != 0) {
        addBox(infinity, -infinity);
    }
}

// The group of a proxy triangle, created on first sight; every other triangle, and a proxy past the
// last group, belongs to the box that spans everything.
std::int32_t KdTree::groupOf(const Primitive* p) {
    if (p->type != Primitive::proxy) {
        return TrianglePacket::everywhere;
    }
    // A proxy's triangles are neighbours in the scene's list, so the last owner is the likely one.
    for (std::size_t i = m_groupOwners.size(); i-- > 1;) {
        if (m_groupOwners[i] == p->owner) {
            return static_cast<std::int32_t>(i);
        }
    }
    if (m_groupOwners.size() == static_cast<std::size_t>(maxGroups)) {
        return TrianglePacket::everywhere;
    }
    m_groupOwners.push_back(p->owner);
    return static_cast<std::int32_t>(m_groupOwners.size() - 1);
}

// Depth first, so a subtree's nodes lie after its root; each inner node's children are taken as a
// pair before either is filled in. A leaf's packets hold first its other triangles, then each proxy's
// together, so that a ray passing wide of a proxy skips whole packets, and within each of those the
// triangles of one dominant axis together, so that a packet's tests share the ray's projection. Every
// lane keeps its place in the list, the order in which hits are taken.
void KdTree::flattenNode(const KdNode& node, std::size_t slot) {
    if (node.isLeaf()) {
        m_leafLanes.clear();
        m_leafGroups.assign(1, TrianglePacket::everywhere);
        std::int32_t place = 0;
        for (const KdListElement* e = m_pool.element(node.reference()); e != nullptr; e = e->next, ++place) {
            const std::int32_t group = groupOf(e->primitive);
            if (std::find(m_leafGroups.begin(), m_leafGroups.end(), group) == m_leafGroups.end()) {
                m_leafGroups.push_back(group);
            }
            m_leafLanes.push_back({&asTriangle(e->primitive), place, group});
        }
        const auto first = static_cast<std::uint32_t>(packets.size());
        for (const std::int32_t group : m_leafGroups) {
            for (std::int32_t axis = 0; axis < 3; ++axis) {
                int lane = TrianglePacket::lanes;
                for (const LeafLane& entry : m_leafLanes) {
                    if (entry.group != group || entry.triangle->projAxis != axis) {
                        continue;
                    }
                    if (lane == TrianglePacket::lanes) {
                        packets.emplace_back(axis, group);
                        lane = 0;
                    }
                    TrianglePacket& packet = packets.back();
                    packet.set(lane, *entry.triangle, entry.place);
                    ++packet.count;
                    ++lane;
                }
            }
        }
        KdFlatNode& leaf = flatNodes[slot];
        leaf.link = (first << KdNode::referenceShift) | KdNode::leafFlag;
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
    // The previous node's candidates go back whole, so the full store is free for this node.
    if (candidates != nullptr) {
        SplitCandidate* last = candidates;
        while (last->next != nullptr)
            last = last->next;
        last->next = freeCandidates;
        freeCandidates = candidates;
        candidates = nullptr;
    }

    const Vector3& s = box.size;
    int axis = 2;
    if (s.x >= s.y && s.x >= s.z)
        axis = 0;
    else if (s.y >= s.x && s.y >= s.z)
        axis = 1;
    node->link = (node->link & ~KdNode::axisMask) | static_cast<std::uint32_t>(axis);

    const float lo = box.min[axis];
    const float hi = lo + box.size[axis];

    // Candidate planes at the corner coordinates inside the node, kept sorted and free of duplicates.
    int i = 0;
    for (const KdListElement* e = m_pool.element(node->reference()); e != nullptr; e = e->next, ++i) {
        const Triangle& triangle = asTriangle(e->primitive);
        scratchPrimitives[i] = e->primitive;
        stillRight[i] = 1;
        triangle.extent(extentMin[i], extentMax[i], axis);
        const Vertex* const corners[3] = {triangle.a, triangle.b, triangle.c};
        for (const Vertex* corner : corners) {
            const float x = corner->position[axis];
            if (!(lo <= x && x <= hi))
                continue;
            SplitCandidate* entry = freeCandidates;
            freeCandidates = entry->next;
            entry->position = x;
            entry->leftCount = 0;
            entry->rightCount = 0;
            if (candidates == nullptr) {
                entry->next = nullptr;
                candidates = entry;
            } else if (x < candidates->position) {
                entry->next = candidates;
                candidates = entry;
            } else if (x == candidates->position) {
                entry->next = freeCandidates;
                freeCandidates = entry;
            } else {
                SplitCandidate* before = candidates;
                while (before->next != nullptr && before->next->position < x)
                    before = before->next;
                if (before->next != nullptr && before->next->position == x) {
                    entry->next = freeCandidates;
                    freeCandidates = entry;
                } else {
                    entry->next = before->next;
                    before->next = entry;
                }
            }
        }
    }

    // Surface area heuristic: a split costs 0.3 plus the primitives of each side weighted by the chance
    // that a ray through the node also passes that side, the ratio of surface areas.
    const float q = 0.5f / halfArea(s);
    float best = 10000.0f;
    float bestPosition = 0.0f;
    Box bestLeft{};
    Box bestRight{};
    //
    // A primitive is tested against a candidate's left box only when its extent begins at or below the
    // candidate, and against the right box only when its extent ends at or above it. Sorted by those
    // ends, both sets are runs that move up with the ascending candidates, and the overlap tests run
    // over each run at once.
    for (int k = 0; k < count; ++k) {
        byMin[k] = k;
        byMax[k] = k;
    }
    std::sort(byMin.begin(), byMin.begin() + count,
              [&](std::int32_t x, std::int32_t y) { return lessNanLast(extentMin[x], extentMin[y]); });
    std::sort(byMax.begin(), byMax.begin() + count,
              [&](std::int32_t x, std::int32_t y) { return lessNanFirst(extentMax[x], extentMax[y]); });
    for (int j = 0; j < count; ++j) {
        const Triangle& first = asTriangle(scratchPrimitives[byMin[j]]);
        const Triangle& last = asTriangle(scratchPrimitives[byMax[j]]);
        const Vertex* const firstCorners[3] = {first.a, first.b, first.c};
        const Vertex* const lastCorners[3] = {last.a, last.b, last.c};
        for (int corner = 0; corner < 3; ++corner) {
            for (int coordinate = 0; coordinate < 3; ++coordinate) {
                const auto array = static_cast<std::size_t>(3 * corner + coordinate);
                cornersByMin[array][j] = firstCorners[corner]->position[coordinate];
                cornersByMax[array][j] = lastCorners[corner]->position[coordinate];
            }
        }
    }
    int leftEnd = 0;     // byMin[0, leftEnd): extent begins at or below the candidate
    int rightBegin = 0;  // byMax[rightBegin, count): extent ends at or above it
    int leftForGood = 0; // primitives that have missed a right box: left of every later candidate
    for (SplitCandidate* c = candidates; c != nullptr; c = c->next) {
        const float position = c->position;
        Box left = box;
        left.size[axis] = position - lo;
        Box right = box;
        right.min[axis] = position;
        right.size[axis] = hi - position;
        while (leftEnd < count && extentMin[byMin[leftEnd]] <= position)
            ++leftEnd;
        while (rightBegin < count && !(position <= extentMax[byMax[rightBegin]]))
            ++rightBegin;
        overlapsBoxAll(cornersByMin, 0, leftEnd, left, overlapsLeft.data());
        overlapsBoxAll(cornersByMax, rightBegin, count, right, overlapsRight.data());
        // The left count reads stillRight as it was before this candidate's right tests.
        c->leftCount = leftForGood;
        for (int j = 0; j < leftEnd; ++j) {
            const int k = byMin[j];
            if (stillRight[k] && lo <= extentMax[k] && overlapsLeft[j])
                ++c->leftCount;
        }
        // Once a primitive misses the right box it stays left of every later, higher candidate.
        for (int j = rightBegin; j < count; ++j) {
            const int k = byMax[j];
            if (stillRight[k] && hi >= extentMin[k]) {
                if (overlapsRight[j]) {
                    ++c->rightCount;
                } else {
                    stillRight[k] = 0;
                    ++leftForGood;
                }
            }
        }
        const float cost = (halfArea(right.size) * 2.0f * q * static_cast<float>(c->rightCount) +
                            halfArea(left.size) * 2.0f * q * static_cast<float>(c->leftCount)) +
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
    if (candidates == nullptr || best > static_cast<float>(count))
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
