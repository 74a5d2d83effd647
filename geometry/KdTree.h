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

// What the build keeps of a primitive of the node being split. When sure, its left box test is certainly
// true at candidates from leftSure up, its right box test at candidates from rightSure down.
struct SplitPrimitive {
    const Primitive* primitive;
    Vector3 corners[3];
    float extentMin; // on the split axis
    float extentMax;
    bool sure;
    bool stillRight; // has not missed a right box
    float leftSure;
    float rightSure;
    std::int32_t at[4];     // the candidate indices where its left and right windows open and close
    std::int32_t leftSlot;  // index in leftActive, -1 when not there
    std::int32_t rightSlot; // index in rightActive, -1 when not there
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
    // Scratch of the node being split, kept for every node and build: its primitives, the candidate
    // positions, the primitives each candidate index opens or closes a window of (events, bucketed by
    // index from eventStart), and those tested at the current candidate for the left and the right box.
    std::vector<SplitPrimitive> splitPrimitives;
    std::vector<float> candidates;
    std::vector<std::int32_t> events;
    std::vector<std::int32_t> eventStart;
    std::vector<std::int32_t> leftActive;
    std::vector<std::int32_t> rightActive;
    // The overlap tests of the current candidate, run together: the corners coordinate by coordinate
    // (index 3 * corner + axis), whether for the right box, the primitive and the answers.
    std::array<std::vector<float>, 9> testCorners;
    std::vector<std::int32_t> testRight;
    std::vector<std::int32_t> testPrimitive;
    std::vector<std::int32_t> testAnswer;
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
