// Walks of the top-level tree by packets of four rays, one per vector lane: a node is loaded once and
// its split compared against every lane's entry and exit points in one instruction. Each lane makes
// the decisions its own walk makes (the same point comparisons, the same split points and cell exits),
// visits its cells in the same order, and takes each leaf through the same query as a ray walked
// alone, so its answer is the single-ray answer bit for bit. A lane whose query ends is masked.
#include "geometry/KdTree.h"
#include "geometry/RayQuery.h"
#include "geometry/SceneGeometry.h"
#include "geometry/TraversalScratch.h"
#include "geometry/TrianglePacket.h"

#include <bit>
#include <cstdint>
#include <algorithm>
#include <optional>

namespace Raytracer {

namespace {

constexpr int width = KdTree::packetWidth;
static_assert(width == TrianglePacket::lanes, "packet walks use the four-float vectors of the ray tests");

// A cell some lanes of the packet still have to walk: each lane's points of entry and exit (by axis,
// lane by lane) and the ray parameter of its exit.
struct PacketCell {
    const KdFlatNode* node;
    unsigned lanes;
    Float4 entry[3];
    Float4 exit[3];
    Float4 exitT;
};

// The packet's rays, coordinate by coordinate.
struct PacketRays {
    Float4 origin[3];
    Float4 direction[3];
    unsigned negative[3]; // lanes whose direction is below zero on each axis
};

// Walks cell from the root, calling onLeaf(leaf, lane, exitT) for each lane in each leaf it reaches;
// onLeaf returns true to end that lane's walk. A lane that would cross a split in the other order
// than a lane beside it leaves the packet (rounding can make the points of one ray disagree with its
// direction's sign); the lanes that left are returned, to be walked alone from the start.
// A walk holds at most one cell per level of the path it is on. The stack lies on the worker's thread
// stack, above every call made from a leaf, so its size is resident on every worker thread: no more
// than the deepest tree needs.
constexpr int packetStackSize = 64;
static_assert(KdTree::defaultMaxDepth + 2 <= packetStackSize, "packet stack too small for the tree depth");

template <class OnLeaf>
unsigned walkPacket(const KdFlatNode* nodes, const PacketRays& rays, PacketCell cell, OnLeaf&& onLeaf) {
    PacketCell stack[packetStackSize];
    int top = 0;
    unsigned finished = 0;
    unsigned left = 0; // lanes that left the packet
    for (;;) {
        const KdFlatNode* node = cell.node;
        unsigned lanes = cell.lanes;
        for (std::uint32_t link = node->link; (link & KdNode::leafFlag) == 0; link = node->link) {
            const auto a = static_cast<int>(link & KdNode::axisMask);
            const float s = node->split;
            const KdFlatNode* leftChild = nodes + (link >> KdNode::referenceShift);
            const Float4 split{s, s, s, s};
            // A point exactly on the split plane belongs to the left side.
            const Mask4 enterLeft = cell.entry[a] <= split;
            const Mask4 exitLeft = cell.exit[a] <= split;
            const unsigned enterBits = laneBits(enterLeft);
            const unsigned exitBits = laneBits(exitLeft);
            const unsigned leftOnly = lanes & enterBits & exitBits;
            const unsigned rightOnly = lanes & ~enterBits & ~exitBits;
            const unsigned leftFirst = lanes & enterBits & ~exitBits;
            unsigned rightFirst = lanes & ~enterBits & exitBits;
            if ((leftFirst | rightFirst) == 0) {
                if (rightOnly == 0) {
                    node = leftChild;
                    continue;
                }
                if (leftOnly == 0) {
                    node = leftChild + 1;
                    continue;
                }
            }
            if (leftFirst != 0 && rightFirst != 0) {
                left |= rightFirst;
                lanes &= ~rightFirst;
                rightFirst = 0;
            }
            // Lanes that stay on one side see the same cells in either order; the packet then goes
            // the way its first lane's direction points.
            const bool nearIsLeft =
                leftFirst != 0 || (rightFirst == 0 && (rays.negative[a] & lanes & -lanes) == 0);
            const unsigned crossing = leftFirst | rightFirst;
            const unsigned nearLanes = nearIsLeft ? (leftOnly | leftFirst) : (rightOnly | rightFirst);
            const unsigned farLanes = nearIsLeft ? (rightOnly | leftFirst) : (leftOnly | rightFirst);
            const KdFlatNode* near = nearIsLeft ? leftChild : leftChild + 1;
            const KdFlatNode* far = nearIsLeft ? leftChild + 1 : leftChild;
            if (crossing == 0) {
                if (farLanes != 0) {
                    PacketCell& pushed = stack[top++];
                    pushed = cell;
                    pushed.node = far;
                    pushed.lanes = farLanes;
                }
            } else {
                // The point where each crossing lane meets the plane: the near cell's exit and the far
                // cell's entry, computed as the single-ray walk computes it.
                const Mask4 crosses = enterLeft ^ exitLeft;
                const Float4 t = (split - rays.origin[a]) / rays.direction[a];
                Float4 point[3];
                for (int axis = 0; axis < 3; ++axis) {
                    point[axis] = axis == a ? split : rays.origin[axis] + t * rays.direction[axis];
                }
                if (farLanes != 0) {
                    PacketCell& pushed = stack[top++];
                    pushed.node = far;
                    pushed.lanes = farLanes;
                    for (int axis = 0; axis < 3; ++axis) {
                        pushed.entry[axis] = crosses ? point[axis] : cell.entry[axis];
                        pushed.exit[axis] = cell.exit[axis];
                    }
                    pushed.exitT = cell.exitT;
                }
                for (int axis = 0; axis < 3; ++axis) {
                    cell.exit[axis] = crosses ? point[axis] : cell.exit[axis];
                }
                cell.exitT = crosses ? t : cell.exitT;
            }
            lanes = nearLanes;
            node = near;
        }
        for (unsigned each = lanes; each != 0; each &= each - 1) {
            const int lane = std::countr_zero(each);
            if (onLeaf(*node, lane, cell.exitT[lane])) {
                finished |= 1u << lane;
            }
        }
        do {
            if (top == 0) {
                return left;
            }
            cell = stack[--top];
            cell.lanes &= ~(finished | left);
        } while (cell.lanes == 0);
    }
}

// The signs of a direction on the three axes as bits.
unsigned signsOf(const Ray& ray) {
    return (ray.direction.x < 0.0f ? 1u : 0u) | (ray.direction.y < 0.0f ? 2u : 0u) |
           (ray.direction.z < 0.0f ? 4u : 0u);
}

// Starts the packet of rays[0, count): each lane whose ray meets the scene's box and points the way
// of the first such ray on every axis joins; solo collects the others, which are better walked alone.
PacketCell startPacket(const Ray* rays, const float* limits, int count, const SceneGeometry& scene,
                       const KdFlatNode* root, PacketRays& packet, float* segmentEnds, unsigned& solo) {
    PacketCell cell{};
    cell.node = root;
    solo = 0;
    unsigned signs = 8; // none yet
    for (int lane = 0; lane < count; ++lane) {
        const Ray& ray = rays[lane];
        TraversalEntry segment[2];
        if (!beginSegment(ray, scene, limits[lane], segment)) {
            continue;
        }
        const unsigned own = signsOf(ray);
        if (signs == 8) {
            signs = own;
        } else if (own != signs) {
            solo |= 1u << lane;
            continue;
        }
        cell.lanes |= 1u << lane;
        segmentEnds[lane] = segment[1].t;
        cell.exitT[lane] = segment[1].t;
        for (int axis = 0; axis < 3; ++axis) {
            packet.origin[axis][lane] = ray.origin[axis];
            packet.direction[axis][lane] = ray.direction[axis];
            cell.entry[axis][lane] = segment[0].point[axis];
            cell.exit[axis][lane] = segment[1].point[axis];
        }
    }
    for (int axis = 0; axis < 3; ++axis) {
        packet.negative[axis] = laneBits(packet.direction[axis] < 0.0f) & cell.lanes;
    }
    return cell;
}

} // namespace

void KdTree::intersectNearest(const Ray* rays, HitRecord* records, int* facings, int count,
                              TraversalScratch& scratch) const {
    for (int first = 0; first < count; first += width) {
        const int lanes = std::min(width, count - first);
        const Ray* group = rays + first;
        HitRecord* groupRecords = records + first;
        int* groupFacings = facings + first;
        float limits[width];
        for (int lane = 0; lane < lanes; ++lane) {
            limits[lane] = groupRecords[lane].distance;
            groupFacings[lane] = 0;
        }
        if (m_scene == nullptr) {
            continue;
        }
        PacketRays packet{};
        float segmentEnds[width];
        unsigned solo = 0;
        const PacketCell start = startPacket(group, limits, lanes, *m_scene, flatNodes.data(), packet, segmentEnds, solo);
        if (start.lanes != 0) {
            std::optional<NearestQuery> queries[width];
            for (unsigned each = start.lanes; each != 0; each &= each - 1) {
                const int lane = std::countr_zero(each);
                queries[lane].emplace(*this, group[lane], groupRecords[lane], segmentEnds[lane], scratch);
            }
            const unsigned left = walkPacket(flatNodes.data(), packet, start, [&](const KdFlatNode& leaf, int lane,
                                                                                 float exitT) {
                return queries[lane]->leaf(leaf, exitT);
            });
            for (unsigned each = start.lanes & ~left; each != 0; each &= each - 1) {
                const int lane = std::countr_zero(each);
                groupFacings[lane] = queries[lane]->result();
            }
            // Lanes that left start again alone, from the record they came with.
            for (unsigned each = left; each != 0; each &= each - 1) {
                const int lane = std::countr_zero(each);
                groupRecords[lane] = HitRecord{};
                groupRecords[lane].distance = limits[lane];
            }
            solo |= left;
        }
        for (unsigned each = solo; each != 0; each &= each - 1) {
            const int lane = std::countr_zero(each);
            groupFacings[lane] = intersectNearest(group[lane], groupRecords[lane], scratch);
        }
    }
}

void KdTree::occluded(const Ray* rays, const float* distances, int* results, int count,
                      TraversalScratch& scratch) const {
    for (int first = 0; first < count; first += width) {
        const int lanes = std::min(width, count - first);
        const Ray* group = rays + first;
        int* groupResults = results + first;
        for (int lane = 0; lane < lanes; ++lane) {
            groupResults[lane] = 0;
        }
        if (m_scene == nullptr) {
            continue;
        }
        PacketRays packet{};
        float segmentEnds[width];
        unsigned solo = 0;
        const PacketCell start =
            startPacket(group, distances + first, lanes, *m_scene, flatNodes.data(), packet, segmentEnds, solo);
        if (start.lanes != 0) {
            std::optional<OcclusionQuery> queries[width];
            for (unsigned each = start.lanes; each != 0; each &= each - 1) {
                const int lane = std::countr_zero(each);
                queries[lane].emplace(*this, group[lane], distances[first + lane], scratch);
            }
            const unsigned left = walkPacket(flatNodes.data(), packet, start,
                                             [&](const KdFlatNode& leaf, int lane, float) {
                return queries[lane]->leaf(leaf);
            });
            for (unsigned each = start.lanes & ~left; each != 0; each &= each - 1) {
                const int lane = std::countr_zero(each);
                groupResults[lane] = queries[lane]->result();
            }
            solo |= left;
        }
        for (unsigned each = solo; each != 0; each &= each - 1) {
            const int lane = std::countr_zero(each);
            groupResults[lane] = occluded(group[lane], distances[first + lane], scratch);
        }
    }
}

} // namespace Raytracer
