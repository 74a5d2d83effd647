#pragma once

#include "geometry/AccelerationStructure.h"
#include "geometry/Box.h"
#include "geometry/KdNode.h"
#include "geometry/TraversalEntry.h"
#include "geometry/TrianglePacket.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace Raytracer {

class KdPool;

// Kd-tree built by the surface area heuristic over split planes at triangle corner coordinates,
// counted with the exact triangle/box overlap test. Nodes and leaf lists come from the pool.
class KdTree final : public AccelerationStructure {
  public:
    static constexpr std::int32_t defaultMaxDepth = 60;
    // Below the root a walk pushes at most one entry per level; maxDepth may be lowered, not raised.
    static_assert(defaultMaxDepth + 4 <= traversalStackSize, "traversal stacks too small for the tree depth");

    explicit KdTree(KdPool& pool);

    // The root must be a fresh empty leaf: new trees are, and a rebuild calls makeRootEmpty() first.
    void build(Scene& scene) override;
    void makeRootEmpty() { root->link = KdNode::freshLeaf; }

    int intersectNearest(const Ray& ray, HitRecord& record, TraversalScratch& scratch) const override;
    int intersectNearestInInstance(const Ray& ray, float& distance, const Primitive*& primitive,
                                   const Scene& instance, float& u, float& v,
                                   TraversalScratch& scratch) const override;
    int occludedInInstance(const Ray& ray, float distance, const Scene& instance,
                           TraversalScratch& scratch) const override;
    int occluded(const Ray& ray, float distance, TraversalScratch& scratch) const override;

    KdPool& pool() const { return m_pool; }
    const Scene* scene() const { return m_scene; }

    std::unique_ptr<KdNode> root; // not from the pool
    // Scratch of the node being split, kept for every node and build: its primitives with their corners
    // and extents on the split axis, the candidate positions, the deep primitives by window start and by
    // window end, and the active primitives with each one's place among them (-1 when not active).
    std::vector<const Primitive*> scratchPrimitives;
    std::vector<Vector3> corners; // three per primitive
    std::vector<float> extentMin;
    std::vector<float> extentMax;
    std::vector<float> candidates;
    std::vector<std::int32_t> byWindowStart;
    std::vector<std::int32_t> byWindowEnd;
    std::vector<std::int32_t> active;
    std::vector<std::int32_t> activeSlot;
    std::int32_t maxDepth = defaultMaxDepth;

    // The last build in the form the queries walk; node 0 is the root. The packets copy the triangles'
    // planes, so triangles that move need a new build before the next query (the renderer rebuilds the
    // top level after every animation step; object-level triangles never move after their build).
    std::vector<KdFlatNode> flatNodes;
    std::vector<TrianglePacket> packets;

  private:
    void subdivide(KdNode* node, const Box& box, int depth, int count);
    void flatten();
    void flattenNode(const KdNode& node, std::size_t slot);

    KdPool& m_pool;
    const Scene* m_scene = nullptr; // the scene of the last build; its bounds clip every query
};

} // namespace Raytracer
