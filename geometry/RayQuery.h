#pragma once

// What one ray's top-level query does in the leaves its walk reaches, apart from the walk itself, so
// that a ray walked alone and a ray walked as a lane of a packet take every leaf the same way.
#include "geometry/HitRecord.h"
#include "geometry/InstanceMemo.h"
#include "geometry/InstancePlacement.h"
#include "geometry/KdTree.h"
#include "geometry/ProxyFilter.h"
#include "geometry/Ray.h"
#include "geometry/SceneGeometry.h"
#include "geometry/TraversalScratch.h"
#include "geometry/Triangle.h"
#include "geometry/TrianglePacket.h"

#include <bit>
#include <cstdint>

namespace Raytracer {

// Lets a nearest hit lie just beyond the cell it is found in, and an instance hit just beyond the
// recorded one; also where an occlusion walk inside an instance starts.
inline constexpr float traversalMargin = 0.0001f;
// Widens a segment's end against the rounding of the cell exits computed along it.
inline constexpr float reachSlack = 1.001f;

inline QueryRay queryOf(const Ray& ray) {
    return QueryRay(RayArrays{{ray.origin.x, ray.origin.y, ray.origin.z},
                              {ray.direction.x, ray.direction.y, ray.direction.z}});
}

// The ray in the frame of the moving part that proxy stands for; the direction stays unit length so
// that local distances are world distances.
inline Ray localRay(const Ray& ray, const SceneGeometry& instance) {
    const InstancePlacement& proxy = *instance.proxy;
    return Ray{proxy.rotation.inverseRotate(ray.origin - proxy.position),
               normalize(proxy.rotation.inverseRotate(ray.direction))};
}

inline void setPoint(TraversalEntry& entry, const Vector3& point) {
    entry.point[0] = point.x;
    entry.point[1] = point.y;
    entry.point[2] = point.z;
}

inline void setPointAt(TraversalEntry& entry, const Ray& ray, float t) {
    setPoint(entry, {ray.origin.x + ray.direction.x * t, ray.origin.y + ray.direction.y * t,
                     ray.origin.z + ray.direction.z * t});
}

// Clips the segment [0, limit] of the ray to the box of scene and sets up entry 0 and exit 1 of the
// stack. False when the ray misses the box.
bool beginSegment(const Ray& ray, const SceneGeometry& scene, float limit, TraversalEntry* stack);

// The packets of a leaf of the flat tree, and their lanes.
struct LeafPackets {
    const TrianglePacket* begin;
    const TrianglePacket* end;
    const PacketLanes* lanes; // those of begin, and on in step

    const PacketLanes& lanesOf(const TrianglePacket* packet) const { return lanes[packet - begin]; }
};

inline LeafPackets packetsOf(const KdTree& tree, const KdFlatNode& leaf) {
    const TrianglePacket* first = tree.packets.data() + leaf.reference();
    return {first, first + leaf.packetCount, tree.packetLanes.data() + leaf.reference()};
}

// One hit of a leaf's lane, as the nearest-hit queries take it.
struct LeafHit {
    std::int32_t place; // in the leaf's list
    const PacketLanes* lanes;
    int lane;
    float t;
    float beta;
    float gamma;
};

// Calls onHit(hit) for every lane of the leaf that hits closer than limit, in list order, skipping the
// packets test(packet) refuses. Packets grouped by proxy box yield their hits out of list order, so the
// hits are sorted here; a leaf with more hits than fit is taken in passes, each after the last place
// taken, which only repeats ray tests.
template <class Test, class OnHit>
void forEachHitInListOrder(const LeafPackets& run, const QueryRay& ray, float limit, std::uint32_t& intersections,
                           Test&& test, OnHit&& onHit) {
    constexpr int capacity = 16;
    std::int32_t after = -1;
    for (;;) {
        LeafHit found[capacity];
        int count = 0;
        bool more = false;
        for (const TrianglePacket* packet = run.begin; packet != run.end; ++packet) {
            if (!test(*packet)) {
                continue;
            }
            TrianglePacket::Hits hits;
            intersections += static_cast<std::uint32_t>(packet->count);
            for (unsigned mask = packet->test(ray, limit, hits); mask != 0; mask &= mask - 1) {
                const int lane = std::countr_zero(mask);
                const PacketLanes& lanes = run.lanesOf(packet);
                const std::int32_t place = lanes.order[lane];
                if (place <= after) {
                    continue;
                }
                if (count == capacity) {
                    more = true;
                    if (place > found[capacity - 1].place) {
                        continue;
                    }
                    --count;
                }
                int i = count++;
                for (; i > 0 && found[i - 1].place > place; --i) {
                    found[i] = found[i - 1];
                }
                found[i] = {place, &lanes, lane, hits.t[lane], hits.beta[lane], hits.gamma[lane]};
            }
        }
        for (int i = 0; i < count; ++i) {
            onHit(found[i]);
        }
        if (!more) {
            return;
        }
        after = found[count - 1].place;
    }
}

// A nearest-hit query of the top-level tree: the hits of each leaf in list order, proxies searched in
// their instances. The record is the caller's; distance is the limit on entry.
class NearestQuery {
  public:
    // segmentEnd: where the ray leaves the scene's box, or its limit if sooner.
    NearestQuery(const KdTree& tree, const Ray& ray, HitRecord& record, float segmentEnd, TraversalScratch& scratch)
        : m_tree(tree), m_ray(ray), m_query(queryOf(ray)), m_record(record), m_scratch(scratch),
          // A hit is taken only short of a cell's exit plus the margin, and no cell ends beyond the segment.
          m_filter(tree.proxyBoxes, m_query.arrays, segmentEnd * reachSlack + traversalMargin) {}
    NearestQuery(const NearestQuery&) = delete;
    NearestQuery& operator=(const NearestQuery&) = delete;

    const RayArrays& arrays() const { return m_query.arrays; }
    // 0 for no hit yet, else the facing of the nearest.
    int result() const { return m_result; }

    // Takes the hits of a leaf whose cell the ray leaves at exitT; true when cells further on lie
    // beyond the recorded hit, which ends the walk.
    bool leaf(const KdFlatNode& leaf, float exitT) {
        const float cellLimit = exitT + traversalMargin;
        const auto near = [this](const TrianglePacket& packet) { return !m_filter.skips(packet); };
        forEachHitInListOrder(packetsOf(m_tree, leaf), m_query, cellLimit, m_scratch.intersections, near,
                              [this](const LeafHit& hit) { take(hit); });
        return m_result != 0 && exitT > m_record.distance;
    }

  private:
    void take(const LeafHit& hit) {
        const Primitive* p = hit.lanes->triangle[hit.lane];
        if (p->type == Primitive::proxy) {
            SceneGeometry* instance = p->owner->instance;
            // A search depends on the ray, the instance and the limit alone; the memo holds the answer of
            // one already run with this limit.
            const float limit = m_record.distance + traversalMargin;
            InstanceMemo::Entry found;
            if (const InstanceMemo::Entry* known = m_memo.find(instance, limit)) {
                found = *known;
            } else {
                found.instance = instance;
                found.limit = limit;
                found.distance = limit;
                // A box searched again, with the limit its first search found, reuses the turned ray.
                if (instance != m_turnedFor) {
                    m_turned = localRay(m_ray, *instance);
                    m_turnedFor = instance;
                }
                found.facing = m_tree.intersectNearestInInstance(m_turned, found.distance, found.primitive, *instance,
                                                                 found.u, found.v, m_scratch);
                m_memo.add(found);
            }
            if (found.facing != 0) {
                m_result = found.facing;
                m_record.distance = found.distance;
                m_record.primitive = found.primitive;
                m_record.u = found.u;
                m_record.v = found.v;
                m_record.instance = instance;
            }
        } else if (hit.t < m_record.distance) {
            m_result = hit.lanes->facing(m_query, hit.lane);
            m_record.distance = hit.t;
            m_record.primitive = p;
            m_record.u = hit.beta;
            m_record.v = hit.gamma;
            m_record.instance = nullptr;
        }
    }

    const KdTree& m_tree;
    const Ray& m_ray;
    const QueryRay m_query;
    HitRecord& m_record;
    TraversalScratch& m_scratch;
    ProxyFilter m_filter;
    InstanceMemo m_memo;
    int m_result = 0;
    const SceneGeometry* m_turnedFor = nullptr; // the instance whose frame m_turned is the ray in
    Ray m_turned;
};

// An occlusion query of the top-level tree: whether anything, proxies searched in their instances,
// lies closer than distance.
class OcclusionQuery {
  public:
    OcclusionQuery(const KdTree& tree, const Ray& ray, float distance, TraversalScratch& scratch)
        : m_tree(tree), m_ray(ray), m_query(queryOf(ray)), m_distance(distance), m_scratch(scratch),
          m_filter(tree.proxyBoxes, m_query.arrays, distance) {}
    OcclusionQuery(const OcclusionQuery&) = delete;
    OcclusionQuery& operator=(const OcclusionQuery&) = delete;

    const RayArrays& arrays() const { return m_query.arrays; }
    int result() const { return m_result; }

    // Tests a leaf; true once something blocks the ray, which ends the walk.
    bool leaf(const KdFlatNode& leaf) {
        const LeafPackets run = packetsOf(m_tree, leaf);
        for (const TrianglePacket* packet = run.begin; packet != run.end; ++packet) {
            if (m_filter.skips(*packet)) {
                continue;
            }
            TrianglePacket::Hits hits;
            m_scratch.intersections += static_cast<std::uint32_t>(packet->count);
            for (unsigned mask = packet->test(m_query, m_distance, hits); mask != 0; mask &= mask - 1) {
                const Primitive* p = run.lanesOf(packet).triangle[std::countr_zero(mask)];
                if (p->type != Primitive::proxy) {
                    m_result = 1;
                    return true;
                }
                const SceneGeometry& instance = *p->owner->instance;
                if (m_tree.occludedInInstance(localRay(m_ray, instance), m_distance, instance, m_scratch) != 0) {
                    m_result = 1;
                    return true;
                }
                // The limit is the same for every search of this query, so a box found clear stays
                // clear: none of its packets, this one included, is tested again. (Proxies past the
                // last group, which the loaders never make, are searched again on each hit.)
                if (packet->group != TrianglePacket::everywhere) {
                    m_filter.skip(packet->group);
                    break;
                }
            }
        }
        return false;
    }

  private:
    const KdTree& m_tree;
    const Ray& m_ray;
    const QueryRay m_query;
    float m_distance;
    TraversalScratch& m_scratch;
    ProxyFilter m_filter;
    int m_result = 0;
};

} // namespace Raytracer
