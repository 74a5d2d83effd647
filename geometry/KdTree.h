#pragma once

#include "geometry/AccelerationStructure.h"
#include "geometry/Box.h"
#include "geometry/KdNode.h"
#include "geometry/TraversalEntry.h"
#include "geometry/TrianglePacket.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

namespace Raytracer {

class KdPool;
class InstancePlacement;
class Triangle;

// What a build reads of a primitive at every node it reaches, taken from the triangle once per build:
// its corners, its extent on each axis and what its sure ranges need but the node's box.
struct BuildPrimitive {
    Vector3 corners[3];
    float extentMin[3];
    float extentMax[3];
    float magnitude; // of the largest corner coordinate, infinity when one is not a number
    float longest;   // edge coordinate
    float shortest;  // edge coordinate other than zero, infinity when there is none
    float normalSum; // |x| + |y| + |z| of the float normal
    bool planar[3];  // every corner alike on that axis
};

// What the build keeps of a primitive of the node being split. When sure, its left box test is certainly
// true at candidates from leftSure up, its right box test at candidates from rightSure down.
struct SplitPrimitive {
    const BuildPrimitive* data;
    float extentMin; // on the split axis
    float extentMax;
    bool sure;
    float leftSure;
    float rightSure;
    std::int32_t at[4]; // the candidate indices where its left and right windows open and close
    std::int32_t queued; // where its tests begin in the queue; -1 when it is resolved alone
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

    // The same two queries for rays[0, count), walked together packetWidth at a time where their
    // directions agree in sign: each answer, record and facing or result, is the one the single-ray
    // query gives, bit for bit. Records come in with their limits, as for a single ray.
    static constexpr int packetWidth = 4;
    void intersectNearest(const Ray* rays, HitRecord* records, int* facings, int count,
                          TraversalScratch& scratch) const;
    void occluded(const Ray* rays, const float* distances, int* results, int count,
                  TraversalScratch& scratch) const;

    KdPool& pool() const { return m_pool; }
    const SceneGeometry* scene() const { return m_scene; }

    // Not from the pool. A tree of more than keptScratchLimit primitives keeps only its flat form: its
    // root is an empty leaf after the build.
    std::unique_ptr<KdNode> root;
    // The build's primitives, by index in the scene, read by every thread of the build.
    std::vector<BuildPrimitive> buildPrimitives;
    std::int32_t maxDepth = defaultMaxDepth;
    // A run of more candidates than this in a primitive's window, as those without a sure range in a
    // large node have, is bounded before it is tested at every candidate, and halved where the bounds
    // leave its answer open; the trees are the same for any value. Below it the vector-wide tests are
    // cheaper than the bounds.
    std::int32_t longWindows = 1024;
    // Off, sure ranges come from the points inside the node alone, and the candidates the corners would
    // have spared are tested: the build against which the suite checks the corners' ranges.
    bool cornerRanges = true;
    // A node of this many primitives or more shares their counting among the processor's threads, and
    // children both this large are built side by side; the trees are the same for any value.
    std::int32_t parallelPrimitives = 1024;
    // A build of more primitives frees its scratch afterwards; smaller ones, the per-frame top-level
    // tree's among them, keep it, so that a rebuild allocates nothing.
    static constexpr int keptScratchLimit = 16384;

    // The last build in the form the queries walk; node 0 is the root. The packets copy the triangles'
    // planes, so triangles that move need a new build before the next query (the renderer rebuilds the
    // top level after every animation step; object-level triangles never move after their build).
    std::vector<KdFlatNode> flatNodes;
    std::vector<TrianglePacket> packets;
    std::vector<PacketLanes> packetLanes; // one per packet

    // The world boxes of the packet groups, field by field (axis 0, 1, 2): one per proxy among the tree's
    // triangles, and in a top-level tree one per cluster of its other triangles; and the largest
    // coordinate magnitude among them, which scales the margin the box test keeps. Group 0 spans
    // everything: it holds what is in no other group, such as proxies past maxGroups.
    static constexpr int maxGroups = 256;
    struct ProxyBoxes {
        int count = 0; // groups; the arrays run on to whole packets of lanes
        std::array<std::vector<float>, 3> low;
        std::array<std::vector<float>, 3> high;
        float magnitude = 0.0f;
    };
    ProxyBoxes proxyBoxes;

  private:
    // Scratch of the nodes a thread splits, kept for every node and build: the node's primitives, the
    // candidate positions, the changes of the left and right counts at each candidate index of each
    // thread sharing the node, and the index lists of the nodes on the path being split: each node's
    // children are appended above its own, and only leaves get pool lists.
    // Overlap tests queued to run together, of candidate boxes on one side of one node: each test's
    // triangle corners coordinate by coordinate (index 3 * corner + axis) and candidate position, and
    // the answers.
    struct TestQueue {
        using Batch = void (*)(const float* const*, const float*, int, const Vector3&, const Vector3&, float,
                               float, std::int32_t*);
        static constexpr int length = 2048; // tests, besides the padding to whole vectors
        std::array<std::vector<float>, 9> corners;
        std::vector<float> positions;
        std::vector<std::int32_t> answers;
        int size = 0;
        void reserve();
        void push(const BuildPrimitive& primitive, const float* candidates, int first, int end);
        void run(Batch batch, const Vector3& centre, const Vector3& half, float lo, float hi);
    };

    struct BuildScratch {
        std::vector<SplitPrimitive> splitPrimitives;
        std::vector<std::int32_t> nodeIndices;
        std::vector<float> candidates;
        std::vector<std::uint32_t> sortKeys; // the candidates' and a copy while they are sorted
        std::vector<std::vector<std::int32_t>> changes; // left, right, for each thread
        std::vector<TestQueue> queues;                   // for each thread
        void reserve(std::size_t primitives);
    };

    // One triangle of a leaf being flattened: its place in the leaf's list and its packet group.
    struct LeafLane {
        const Triangle* triangle;
        std::int32_t place;
        std::int32_t group;
    };

    void subdivide(BuildScratch& scratch, KdNode* node, const Box& box, int depth, int first, int count);
    void makeLeafList(const BuildScratch& scratch, KdNode* leaf, int first, int count);
    // Claims up to `wanted` of the build's spare threads, returning how many it got; giveThreads puts
    // them back.
    int claimThreads(int wanted);
    void giveThreads(int threads) { m_spareThreads += threads; }
    void flatten();
    void collectProxyBoxes();
    void clusterOthers();
    std::int32_t groupOf(const Primitive* primitive);
    // What flattening a subtree writes to: its nodes, packets and lanes, and its leaves' scratch.
    struct FlatPart {
        std::vector<KdFlatNode>& nodes;
        std::vector<TrianglePacket>& packets;
        std::vector<PacketLanes>& lanes;
        std::vector<LeafLane>& leafLanes;
        std::vector<std::int32_t>& leafGroups;
    };
    void flattenNode(const KdNode& node, std::size_t slot, FlatPart& part);

    std::vector<const InstancePlacement*> m_groupOwners; // the proxy of each group (none for group 0)
    std::vector<std::pair<const Primitive*, std::int32_t>> m_clusters; // other triangles' groups, by primitive
    std::vector<LeafLane> m_leafLanes;
    std::vector<std::int32_t> m_leafGroups;

    BuildScratch m_scratch;
    std::atomic<int> m_spareThreads{0}; // threads of the processor no part of the build is using

    KdPool& m_pool;
    KdPool* m_nodes; // the pool the linked tree lies in: m_pool, or a large tree's own while it is built
    const SceneGeometry* m_scene = nullptr; // the scene of the last build; its bounds clip every query
};

} // namespace Raytracer
