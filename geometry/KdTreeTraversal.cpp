// Front-to-back walks of a kd-tree with an explicit stack of entry and exit points. The top-level tree
// holds environment triangles and the proxies of moving parts; a ray that hits a proxy is carried
// into the part's frame and searched against the part's own tree on the second stack.
#include "geometry/KdTree.h"
#include "geometry/RayQuery.h"
#include "geometry/SceneGeometry.h"
#include "geometry/TraversalScratch.h"
#include "geometry/TrianglePacket.h"

#include <cstdint>

namespace Raytracer {

// Clips the segment [0, limit] of the ray to the box of scene and sets up entry 0 and exit 1 of the
// stack. False when the ray misses the box.
bool beginSegment(const Ray& ray, const SceneGeometry& scene, float limit, TraversalEntry* stack) {
    const Vector3& o = ray.origin;
    const Vector3& d = ray.direction;
    const Vector3& lo = scene.boundsMin;
    const Vector3 hi = scene.boundsMin + scene.boundsSize;
    // A ray that starts outside the box and moves away from it misses without clipping.
    for (int i = 0; i < 3; ++i) {
        if ((d[i] < 0.0f && o[i] < lo[i]) || (d[i] >= 0.0f && o[i] > hi[i])) {
            return false;
        }
    }
    // Each axis clips the segment [tnear, tfar] as it stands, measured from its start point s. While
    // tnear is 0 the start is the origin itself; once an earlier axis has moved tnear, measuring from
    // the origin would misplace the cut and lose hits (instance rays always enter their box that way).
    float tnear = 0.0f;
    float tfar = limit;
    for (int i = 0; i < 3; ++i) {
        const float pos = o[i] + d[i] * tfar;
        const float s = o[i] + d[i] * tnear;
        if (d[i] >= 0.0f) {
            if (pos > hi[i]) {
                tfar = (hi[i] - s) / (pos - s) * (tfar - tnear) + tnear;
            }
            if (s < lo[i]) {
                if (tfar <= tnear) {
                    return false; // a single point, outside the box on this axis
                }
                tnear += (lo[i] - s) / (d[i] * (tfar - tnear)) * (tfar - tnear);
            }
        } else {
            if (pos < lo[i]) {
                tfar = (s - lo[i]) / (s - pos) * (tfar - tnear) + tnear;
            }
            if (s > hi[i]) {
                if (tfar <= tnear) {
                    return false;
                }
                tnear += (hi[i] - s) / (d[i] * (tfar - tnear)) * (tfar - tnear);
            }
        }
        if (tnear > tfar) {
            return false;
        }
    }
    stack[0].t = tnear;
    if (tnear > 0.0f) {
        setPointAt(stack[0], ray, tnear);
    } else {
        setPoint(stack[0], o);
    }
    stack[1].t = tfar;
    setPointAt(stack[1], ray, tfar);
    stack[1].node = nullptr;
    return true;
}

namespace {

// The stack walk shared by every query. Descends from the root to the next leaf along the ray, pushing
// far children; onLeaf(node, exitIndex) returns true to end the walk. Returns when the walk ends.
template <class OnLeaf>
void walk(const KdFlatNode* nodes, const RayArrays& ray, TraversalEntry* stack, const std::int32_t* mod3Table,
          OnLeaf&& onLeaf) {
    const float* o = ray.origin;
    const float* d = ray.direction;
    const KdFlatNode* node = nodes;
    int entry = 0;
    int exit = 1;
    // The points where the ray enters and leaves the current cell.
    const float* entryPoint = stack[entry].point;
    const float* exitPoint = stack[exit].point;
    for (;;) {
        for (std::uint32_t link = node->link; (link & KdNode::leafFlag) == 0; link = node->link) {
            const auto a = static_cast<int>(link & KdNode::axisMask);
            const float s = node->split;
            const KdFlatNode* left = nodes + (link >> KdNode::referenceShift);
            const KdFlatNode* near;
            const KdFlatNode* far;
            // A point exactly on the split plane belongs to the left side.
            if (entryPoint[a] <= s) {
                if (exitPoint[a] <= s) {
                    node = left;
                    continue;
                }
                near = left;
                far = left + 1;
            } else {
                if (exitPoint[a] > s) {
                    node = left + 1;
                    continue;
                }
                near = left + 1;
                far = left;
            }
            const float t = (s - o[a]) / d[a];
            const int previous = exit;
            ++exit;
            if (exit == entry) {
                ++exit;
            }
            TraversalEntry& pushed = stack[exit];
            pushed.previous = previous;
            pushed.t = t;
            pushed.node = far;
            pushed.point[a] = s;
            const int a1 = mod3Table[a + 1];
            const int a2 = mod3Table[a + 2];
            pushed.point[a1] = o[a1] + t * d[a1];
            pushed.point[a2] = o[a2] + t * d[a2];
            exitPoint = pushed.point;
            node = near;
        }
        if (onLeaf(node, exit)) {
            return;
        }
        entry = exit;
        node = stack[exit].node;
        exit = stack[entry].previous;
        if (node == nullptr) {
            return;
        }
        entryPoint = stack[entry].point;
        exitPoint = stack[exit].point;
    }
}

const KdTree* treeOf(const SceneGeometry& scene) {
    return static_cast<const KdTree*>(scene.accelerator);
}

} // namespace

int KdTree::intersectNearest(const Ray& ray, HitRecord& record, TraversalScratch& scratch) const {
    TraversalEntry* stack = scratch.topLevelStack.data();
    if (m_scene == nullptr || !beginSegment(ray, *m_scene, record.distance, stack)) {
        return 0;
    }
    NearestQuery query(*this, ray, record, stack[1].t, scratch);
    walk(flatNodes.data(), query.arrays(), stack, scratch.mod3Table.data(),
         [&](const KdFlatNode* leaf, int exit) { return query.leaf(*leaf, stack[exit].t); });
    return query.result();
}

int KdTree::intersectNearestInInstance(const Ray& ray, float& distance, const Primitive*& primitive,
                                       const SceneGeometry& instance, float& u, float& v,
                                       TraversalScratch& scratch) const {
    const KdTree* tree = treeOf(instance);
    TraversalEntry* stack = scratch.instanceStack.data();
    if (tree == nullptr || !beginSegment(ray, instance, distance, stack)) {
        return 0;
    }
    const QueryRay query = queryOf(ray);
    const RayArrays& arrays = query.arrays;
    int result = 0;
    const auto every = [](const TrianglePacket&) { return true; };
    walk(tree->flatNodes.data(), arrays, stack, scratch.mod3Table.data(), [&](const KdFlatNode* leaf, int exit) {
        // One limit per leaf, shrinking with every hit, so the leaf's nearest hit wins (the first of
        // equals, in list order).
        float tmax = stack[exit].t;
        forEachHitInListOrder(packetsOf(*tree, *leaf), query, tmax, scratch.intersections, every,
                              [&](const LeafHit& hit) {
            if (!(hit.t >= tmax)) {
                tmax = hit.t;
                result = hit.lanes->facing(query, hit.lane);
                primitive = hit.lanes->triangle[hit.lane];
                distance = tmax;
                u = hit.beta;
                v = hit.gamma;
            }
        });
        return result != 0;
    });
    return result;
}

int KdTree::occludedInInstance(const Ray& ray, float distance, const SceneGeometry& instance,
                               TraversalScratch& scratch) const {
    const KdTree* tree = treeOf(instance);
    if (tree == nullptr) {
        return 0;
    }
    // No clipping: the walk covers the whole shadow segment, starting just off the surface.
    TraversalEntry* stack = scratch.instanceStack.data();
    stack[0].t = traversalMargin;
    setPoint(stack[0], ray.origin);
    stack[1].t = distance;
    setPointAt(stack[1], ray, distance);
    stack[1].node = nullptr;
    const QueryRay query = queryOf(ray);
    const RayArrays& arrays = query.arrays;
    int result = 0;
    walk(tree->flatNodes.data(), arrays, stack, scratch.mod3Table.data(), [&](const KdFlatNode* leaf, int) {
        const LeafPackets run = packetsOf(*tree, *leaf);
        for (const TrianglePacket* packet = run.begin; packet != run.end; ++packet) {
            TrianglePacket::Hits hits;
            scratch.intersections += static_cast<std::uint32_t>(packet->count);
            if (packet->test(query, distance, hits) != 0) {
                result = 1;
                return true;
            }
        }
        return false;
    });
    return result;
}

int KdTree::occluded(const Ray& ray, float distance, TraversalScratch& scratch) const {
    TraversalEntry* stack = scratch.topLevelStack.data();
    if (m_scene == nullptr || !beginSegment(ray, *m_scene, distance, stack)) {
        return 0;
    }
    OcclusionQuery query(*this, ray, distance, scratch);
    walk(flatNodes.data(), query.arrays(), stack, scratch.mod3Table.data(),
         [&](const KdFlatNode* leaf, int) { return query.leaf(*leaf); });
    return query.result();
}

} // namespace Raytracer
