// Front-to-back walks of a kd-tree with an explicit stack of entry and exit points. The top-level tree
// holds environment triangles and the proxies of moving parts; a ray that hits a proxy is carried
// into the part's frame and searched against the part's own tree on the second stack.
#include "geometry/KdTree.h"
#include "geometry/TraversalScratch.h"
#include "geometry/Triangle.h"
#include "geometry/TrianglePacket.h"
#include "geometry/InstancePlacement.h"
#include "geometry/SceneGeometry.h"

#include <bit>
#include <cstdint>
#include <vector>

namespace Raytracer {

namespace {

// Lets a nearest hit lie just beyond the cell it is found in, and an instance hit just beyond the
// recorded one; also where an occlusion walk inside an instance starts.
constexpr float traversalMargin = 0.0001f;

RayArrays arraysOf(const Ray& ray) {
    return {{ray.origin.x, ray.origin.y, ray.origin.z}, {ray.direction.x, ray.direction.y, ray.direction.z}};
}

// The packets of a leaf of the flat tree.
struct LeafPackets {
    const TrianglePacket* begin;
    const TrianglePacket* end;
};

LeafPackets packetsOf(const std::vector<TrianglePacket>& packets, const KdFlatNode& leaf) {
    const TrianglePacket* first = packets.data() + leaf.reference();
    return {first, first + leaf.packetCount};
}

void setPoint(TraversalEntry& entry, const Vector3& point) {
    entry.point[0] = point.x;
    entry.point[1] = point.y;
    entry.point[2] = point.z;
}

void setPointAt(TraversalEntry& entry, const Ray& ray, float t) {
    setPoint(entry, {ray.origin.x + ray.direction.x * t, ray.origin.y + ray.direction.y * t,
                     ray.origin.z + ray.direction.z * t});
}

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

// The ray in the frame of the moving part that proxy stands for; the direction stays unit length so
// that local distances are world distances.
Ray localRay(const Ray& ray, const SceneGeometry& instance) {
    const InstancePlacement& proxy = *instance.proxy;
    return Ray{proxy.rotation.inverseRotate(ray.origin - proxy.position),
               normalize(proxy.rotation.inverseRotate(ray.direction))};
}

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
    for (;;) {
        while (!node->isLeaf()) {
            const int a = node->axis();
            const float s = node->split;
            const KdFlatNode* left = nodes + node->reference();
            const KdFlatNode* near;
            const KdFlatNode* far;
            // A point exactly on the split plane belongs to the left side.
            if (stack[entry].point[a] <= s) {
                if (stack[exit].point[a] <= s) {
                    node = left;
                    continue;
                }
                near = left;
                far = left + 1;
            } else {
                if (stack[exit].point[a] > s) {
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
    }
}

const KdTree* treeOf(const SceneGeometry& scene) {
    return static_cast<const KdTree*>(scene.accelerator);
}

// Instance searches already run by one top-level query. A proxy's triangles sit in every leaf their
// box crosses and a ray meets several of them, but a search is a function of the ray, the instance
// and the limit alone: a second search with the same limit can only repeat the first one's answer,
// so it is looked up here instead. A full memo forgets its oldest entry, which costs a search again
// and never changes an answer.
class InstanceMemo {
  public:
    struct Entry {
        const SceneGeometry* instance = nullptr;
        float limit = 0.0f; // compared bit for bit: only the very same limit gives the same answer
        int facing = 0;     // 0: nothing in the instance closer than limit
        float distance = 0.0f;
        const Primitive* primitive = nullptr;
        float u = 0.0f;
        float v = 0.0f;
    };

    const Entry* find(const SceneGeometry* instance, float limit) const {
        for (int i = 0; i < m_count; ++i) {
            const Entry& entry = m_slots[i].entry;
            if (entry.instance == instance &&
                std::bit_cast<std::uint32_t>(entry.limit) == std::bit_cast<std::uint32_t>(limit)) {
                return &entry;
            }
        }
        return nullptr;
    }

    void add(const Entry& entry) {
        m_slots[m_next].entry = entry;
        m_next = (m_next + 1) % capacity;
        if (m_count < capacity) {
            ++m_count;
        }
    }

  private:
    // More boxes than a ray of the shipped scene passes through.
    static constexpr int capacity = 8;
    // Every query makes a memo; slots are written before they are read, so none is cleared first.
    union Slot {
        Slot() {}
        Entry entry;
    };
    Slot m_slots[capacity];
    int m_count = 0;
    int m_next = 0;
};

} // namespace

int KdTree::intersectNearest(const Ray& ray, HitRecord& record, TraversalScratch& scratch) const {
    TraversalEntry* stack = scratch.topLevelStack.data();
    if (m_scene == nullptr || !beginSegment(ray, *m_scene, record.distance, stack)) {
        return 0;
    }
    const RayArrays arrays = arraysOf(ray);
    int result = 0;
    InstanceMemo memo;
    walk(flatNodes.data(), arrays, stack, scratch.mod3Table.data(), [&](const KdFlatNode* leaf, int exit) {
        const float cellLimit = stack[exit].t + traversalMargin;
        const LeafPackets run = packetsOf(packets, *leaf);
        for (const TrianglePacket* packet = run.begin; packet != run.end; ++packet) {
            TrianglePacket::Hits hits;
            scratch.intersections += static_cast<std::uint32_t>(packet->count);
            for (unsigned mask = packet->test(arrays, cellLimit, hits); mask != 0; mask &= mask - 1) {
                const int lane = std::countr_zero(mask);
                const Primitive* p = packet->triangle[lane];
                const float t = hits.t[lane];
                if (p->type == Primitive::proxy) {
                    SceneGeometry* instance = p->owner->instance;
                    // A search depends on the ray, the instance and the limit alone; the memo holds
                    // the answer of one already run with this limit.
                    InstanceMemo::Entry found;
                    if (const InstanceMemo::Entry* known = memo.find(instance, record.distance + traversalMargin)) {
                        found = *known;
                    } else {
                        found.instance = instance;
                        found.limit = record.distance + traversalMargin;
                        found.distance = found.limit;
                        found.facing = intersectNearestInInstance(localRay(ray, *instance), found.distance,
                                                                  found.primitive, *instance, found.u, found.v,
                                                                  scratch);
                        memo.add(found);
                    }
                    if (found.facing != 0) {
                        result = found.facing;
                        record.distance = found.distance;
                        record.primitive = found.primitive;
                        record.u = found.u;
                        record.v = found.v;
                        record.instance = instance;
                    }
                } else if (t < record.distance) {
                    result = packet->facing(arrays, lane);
                    record.distance = t;
                    record.primitive = p;
                    record.u = hits.beta[lane];
                    record.v = hits.gamma[lane];
                    record.instance = nullptr;
                }
            }
        }
        // Cells further on lie beyond the recorded hit.
        return result != 0 && stack[exit].t > record.distance;
    });
    return result;
}

int KdTree::intersectNearestInInstance(const Ray& ray, float& distance, const Primitive*& primitive,
                                       const SceneGeometry& instance, float& u, float& v,
                                       TraversalScratch& scratch) const {
    const KdTree* tree = treeOf(instance);
    TraversalEntry* stack = scratch.instanceStack.data();
    if (tree == nullptr || !beginSegment(ray, instance, distance, stack)) {
        return 0;
    }
    const RayArrays arrays = arraysOf(ray);
    int result = 0;
    walk(tree->flatNodes.data(), arrays, stack, scratch.mod3Table.data(), [&](const KdFlatNode* leaf, int exit) {
        // One limit per leaf, shrinking with every hit, so the leaf's nearest hit wins (the first of
        // equals, in list order).
        float tmax = stack[exit].t;
        const LeafPackets run = packetsOf(tree->packets, *leaf);
        for (const TrianglePacket* packet = run.begin; packet != run.end; ++packet) {
            TrianglePacket::Hits hits;
            scratch.intersections += static_cast<std::uint32_t>(packet->count);
            for (unsigned mask = packet->test(arrays, tmax, hits); mask != 0; mask &= mask - 1) {
                const int lane = std::countr_zero(mask);
                // The mask took the leaf's limit; earlier lanes may have lowered it since.
                if (!(hits.t[lane] >= tmax)) {
                    tmax = hits.t[lane];
                    result = packet->facing(arrays, lane);
                    primitive = packet->triangle[lane];
                    distance = tmax;
                    u = hits.beta[lane];
                    v = hits.gamma[lane];
                }
            }
        }
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
    const RayArrays arrays = arraysOf(ray);
    int result = 0;
    walk(tree->flatNodes.data(), arrays, stack, scratch.mod3Table.data(), [&](const KdFlatNode* leaf, int) {
        const LeafPackets run = packetsOf(tree->packets, *leaf);
        for (const TrianglePacket* packet = run.begin; packet != run.end; ++packet) {
            TrianglePacket::Hits hits;
            scratch.intersections += static_cast<std::uint32_t>(packet->count);
            if (packet->test(arrays, distance, hits) != 0) {
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
    const RayArrays arrays = arraysOf(ray);
    int result = 0;
    // The limit is the same for every search of this query, and one that finds a blocker ends it: an
    // instance in the memo was searched and found clear.
    InstanceMemo clear;
    walk(flatNodes.data(), arrays, stack, scratch.mod3Table.data(), [&](const KdFlatNode* leaf, int) {
        const LeafPackets run = packetsOf(packets, *leaf);
        for (const TrianglePacket* packet = run.begin; packet != run.end; ++packet) {
            TrianglePacket::Hits hits;
            scratch.intersections += static_cast<std::uint32_t>(packet->count);
            for (unsigned mask = packet->test(arrays, distance, hits); mask != 0; mask &= mask - 1) {
                const Primitive* p = packet->triangle[std::countr_zero(mask)];
                if (p->type != Primitive::proxy) {
                    result = 1;
                    return true;
                }
                const SceneGeometry& instance = *p->owner->instance;
                if (clear.find(&instance, distance) != nullptr) {
                    continue;
                }
                if (occludedInInstance(localRay(ray, instance), distance, instance, scratch) != 0) {
                    result = 1;
                    return true;
                }
                InstanceMemo::Entry searched;
                searched.instance = &instance;
                searched.limit = distance;
                clear.add(searched);
            }
        }
        return false;
    });
    return result;
}

} // namespace Raytracer
