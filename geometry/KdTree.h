#pragma once

#include "geometry/AccelerationStructure.h"
#include "geometry/Box.h"
#include "geometry/KdNode.h"
#include "geometry/TraversalEntry.h"
#include "geometry/TrianglePacket.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace Raytracer {

class KdPool;
class InstancePlacement;
class Triangle;

// A split plane candidate of the node being split.
struct SplitCandidate {
    float position = 0.0f;
    std::int32_t leftCount = 0;
    std::int32_t rightCount = 0;
    SplitCandidate* next = nullptr;
};

// Kd-tree built by the surface area heuristic over split planes at triangle corner coordinates,
// counted with the exact triangle/box overlap test. Nodes and leaf lists come from the pool.
class KdTree final : public AccelerationStructure {
  public:
    static constexpr std::int32_t defaultMaxDepth = 60;
    // Below the root a walk pushes at most one entry per level; maxDepth may be lowered, not raised.
    static_assert(defaultMaxDepth + 4 <= traversalStackSize, "traversal stacks too small for the tree depth");

    explicit KdTree(KdPool& pool);

    // The root must be a fresh empty leaf: new trees are, and a rebuild calls makeRootEmpty() first.
    void build(SceneGeometry& scene) override;
    void makeRootEmpty() { root->link = KdNode::freshLeaf; }

    int intersectNearest(const Ray& ray, HitRecord& record, TraversalScratch& scratch) const override;
    int intersectNearestInInstance(const Ray& ray, float& distance, const Primitive*& primitive,
                                   const SceneGeometry& instance, float& u, float& v,
                                   TraversalScratch& scratch) const override;
    int occludedInInstance(const Ray& ray, float distance, const SceneGeometry& instance,
                           TraversalScratch& scratch) const override;
    int occluded(const Ray& ray, float distance, TraversalScratch& scratch) const override;

    KdPool& pool() const { return m_pool; }
    const SceneGeometry* scene() const { return m_scene; }

    std::unique_ptr<KdNode> root;         // not from the pool
    SplitCandidate* candidates = nullptr; // the current node's candidates, ascending, no duplicates
    SplitCandidate* freeCandidates = nullptr;
    std::vector<SplitCandidate> candidateStore;
    std::vector<std::uint8_t> stillRight; // per primitive of the node being split
    std::vector<float> extentMin;
    std::vector<float> extentMax;
    std::vector<const Primitive*> scratchPrimitives;
    // The node's primitives by lowest and by highest extent on the split axis, their corners in those
    // orders (one array per corner and axis, index 3 * corner + axis) for the vectorised overlap test,
    // and its answers for a candidate's left and right box.
    std::vector<std::int32_t> byMin;
    std::vector<std::int32_t> byMax;
    std::array<std::vector<float>, 9> cornersByMin;
    std::array<std::vector<float>, 9> cornersByMax;
    std::vector<std::uint8_t> overlapsLeft;
    std::vector<std::uint8_t> overlapsRight;
    std::int32_t maxDepth = defaultMaxDepth;

    // The last build in the form the queries walk; node 0 is the root. The packets copy the triangles'
    // planes, so triangles that move need a new build before the next query (the renderer rebuilds the
    // top level after every animation step; object-level triangles never move after their build).
    std::vector<KdFlatNode> flatNodes;
    std::vector<TrianglePacket> packets;

    // The world boxes of the proxies among the tree's triangles, one per packet group, field by field
    // (axis 0, 1, 2), and the largest coordinate magnitude among them, which scales the margin the box
    // test keeps. Group 0 spans everything: it holds the other triangles, and proxies past maxGroups.
    static constexpr int maxGroups = 256;
    struct ProxyBoxes {
        int count = 0; // groups; the arrays run on to whole packets of lanes
        std::array<std::vector<float>, 3> low;
        std::array<std::vector<float>, 3> high;
        float magnitude = 0.0f;
    };
    ProxyBoxes proxyBoxes;

  private:
    // One triangle of a leaf being flattened: its place in the leaf's list and its packet group.
    struct LeafLane {
        const Triangle* triangle;
        std::int32_t place;
        std::int32_t group;
    };

    void subdivide(KdNode* node, const Box& box, int depth, int count);
    void flatten();
    void collectProxyBoxes();
    std::int32_t groupOf(const Primitive* primitive);
    void flattenNode(const KdNode& node, std::size_t slot);

    std::vector<const InstancePlacement*> m_groupOwners; // the proxy of each group (none for group 0)
    std::vector<LeafLane> m_leafLanes;
    std::vector<std::int32_t> m_leafGroups;

    KdPool& m_pool;
    const SceneGeometry* m_scene = nullptr; // the scene of the last build; its bounds clip every query
};

} // namespace Raytracer
