// Front-to-back walks of a kd-tree with an explicit stack of entry and exit points. The top-level tree
// holds environment triangles and the proxies of moving parts; a ray that hits a proxy is carried
// into the part's frame and searched against the part's own tree on the second stack.
#include "geometry/KdTree.h"
#include "geometry/TraversalScratch.h"
#include "geometry/Triangle.h"
#include "geometry/TrianglePacket.h"
#include "geometry/InstancePlacement.h"
#include "geometry/SceneGeometry.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <cstdint>
#include <vector>

namespace Raytracer {

namespace {

// Lets a nearest hit lie just beyond the cell it is found in, and an instance hit just beyond the
// recorded one; also where an occlusion walk inside an instance starts.
constexpr float traversalMargin = 0.0001f;
// Widens a segment's end against the rounding of the cell exits computed along it.
constexpr float reachSlack = 1.001f;

QueryRay queryOf(const Ray& ray) {
    return QueryRay(RayArrays{{ray.origin.x, ray.origin.y, ray.origin.z},
                              {ray.direction.x, ray.direction.y, ray.direction.z}});
}

// The packets of a leaf of the flat tree, and their lanes.
struct LeafPackets {
    const TrianglePacket* begin;
    const TrianglePacket* end;
    const PacketLanes* lanes; // those of begin, and on in step

    const PacketLanes& lanesOf(const TrianglePacket* packet) const { return lanes[packet - begin]; }
};

LeafPackets packetsOf(const KdTree& tree, const KdFlatNode& leaf) {
    const TrianglePacket* first = tree.packets.data() + leaf.reference();
    return {first, first + leaf.packetCount, tree.packetLanes.data() + leaf.reference()};
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

// Which proxy boxes a query's ray passes wide of. A proxy triangle can report a hit only where the
// ray meets its box, give or take the rounding of the ray test, a few units in the last place of the
// coordinates and distances involved; the margin here is some thousand times that, so a packet of a
// box the ray passes wide of holds no hit and is skipped. Boxes are tested four at a time without a
// branch, each four the first time a packet of theirs is met.
class ProxyFilter {
  public:
    // reach: no hit the query takes lies farther along the ray.
    ProxyFilter(const KdTree::ProxyBoxes& boxes, const RayArrays& ray, float reach)
        : m_boxes(boxes), m_ray(ray), m_reach(reach) {}

    // Whether the packet's triangles can be left untested.
    bool skips(const TrianglePacket& packet) {
        const int block = packet.group / TrianglePacket::lanes;
        if ((m_known & (std::uint64_t{1} << block)) == 0) {
            testBlock(block);
        }
        return m_wide[packet.group] != 0;
    }

    // Leaves a box's packets untested from now on: no hit is wanted from it any more.
    void skip(std::int32_t group) { m_wide[group] = 1; }

  private:
    // Relative size of the margin: 2^-14 against rounding of about 2^-22 of the magnitudes.
    static constexpr float relativeMargin = 1.0f / 16384.0f;
    static_assert(KdTree::maxGroups <= 64 * TrianglePacket::lanes, "one bit per block of boxes");

    static Float4 broadcast(float x) { return Float4{x, x, x, x}; }

    // Four lane bits as four bytes of 0 or 1, lane 0 first in memory (x86 stores little-endian).
    static constexpr auto spread = [] {
        std::array<std::uint32_t, 16> bytes{};
        for (std::uint32_t bits = 0; bits < 16; ++bits) {
            for (int lane = 0; lane < 4; ++lane) {
                bytes[bits] |= ((bits >> lane) & 1u) << (8 * lane);
            }
        }
        return bytes;
    }();

    void testBlock(int block) {
        if (m_known == 0) {
            float scale = 1.0f + m_boxes.magnitude;
            float longest = 0.0f;
            for (int axis = 0; axis < 3; ++axis) {
                scale += std::fabs(m_ray.origin[axis]);
                longest = std::max(longest, std::fabs(m_ray.direction[axis]));
                m_origin[axis] = broadcast(m_ray.origin[axis]);
                m_inverse[axis] = broadcast(1.0f / m_ray.direction[axis]);
            }
            m_margin = broadcast((scale + m_reach * longest) * relativeMargin);
        }
        m_known |= std::uint64_t{1} << block;
        // Slabs of the widened boxes; a NaN (a ray in a slab's plane) leaves the interval as it is.
        const int first = block * TrianglePacket::lanes;
        Float4 enter = broadcast(0.0f);
        Float4 exit = broadcast(m_reach);
        for (int axis = 0; axis < 3; ++axis) {
            Float4 low;
            Float4 high;
            std::memcpy(&low, m_boxes.low[axis].data() + first, sizeof low);
            std::memcpy(&high, m_boxes.high[axis].data() + first, sizeof high);
            const Float4 a = (low - m_margin - m_origin[axis]) * m_inverse[axis];
            const Float4 b = (high + m_margin - m_origin[axis]) * m_inverse[axis];
            const Mask4 ordered = a < b;
            const Float4 near = ordered ? a : b;
            const Float4 far = ordered ? b : a;
            enter = near > enter ? near : enter;
            exit = far < exit ? far : exit;
        }
        // One store of four flags: storing lane by lane costs more than the box tests.
        const std::uint32_t flags = spread[laneBits(enter > exit)];
        std::memcpy(m_wide + first, &flags, sizeof flags);
    }

    const KdTree::ProxyBoxes& m_boxes;
    const RayArrays& m_ray;
    float m_reach;
    std::uint64_t m_known = 0; // blocks of four boxes tested
    Float4 m_origin[3];
    Float4 m_inverse[3];
    Float4 m_margin;
    std::uint8_t m_wide[KdTree::maxGroups]; // by group; read only once the group's block is tested
};

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
    const QueryRay query = queryOf(ray);
    const RayArrays& arrays = query.arrays;
    int result = 0;
    InstanceMemo memo;
    const SceneGeometry* turnedFor = nullptr; // the instance whose frame turned is the ray in
    Ray turned;
    // A hit is taken only short of a cell's exit plus the margin, and no cell ends beyond the segment.
    ProxyFilter filter(proxyBoxes, arrays, stack[1].t * reachSlack + traversalMargin);
    const auto near = [&](const TrianglePacket& packet) { return !filter.skips(packet); };
    walk(flatNodes.data(), arrays, stack, scratch.mod3Table.data(), [&](const KdFlatNode* leaf, int exit) {
        const float cellLimit = stack[exit].t + traversalMargin;
        forEachHitInListOrder(packetsOf(*this, *leaf), query, cellLimit, scratch.intersections, near,
                              [&](const LeafHit& hit) {
            const Primitive* p = hit.lanes->triangle[hit.lane];
            if (p->type == Primitive::proxy) {
                SceneGeometry* instance = p->owner->instance;
                // A search depends on the ray, the instance and the limit alone; the memo holds the
                // answer of one already run with this limit.
                InstanceMemo::Entry found;
                if (const InstanceMemo::Entry* known = memo.find(instance, record.distance + traversalMargin)) {
                    found = *known;
                } else {
                    found.instance = instance;
                    found.limit = record.distance + traversalMargin;
                    found.distance = found.limit;
                    // A box searched again, with the limit its first search found, reuses the turned ray.
                    if (instance != turnedFor) {
                        turned = localRay(ray, *instance);
                        turnedFor = instance;
                    }
                    found.facing = intersectNearestInInstance(turned, found.distance,
                                                              found.primitive, *instance, found.u, found.v, scratch);
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
            } else if (hit.t < record.distance) {
                result = hit.lanes->facing(query, hit.lane);
                record.distance = hit.t;
                record.primitive = p;
                record.u = hit.beta;
                record.v = hit.gamma;
                record.instance = nullptr;
            }
        });
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
    const QueryRay query = queryOf(ray);
    const RayArrays& arrays = query.arrays;
    int result = 0;
    ProxyFilter filter(proxyBoxes, arrays, distance);
    walk(flatNodes.data(), arrays, stack, scratch.mod3Table.data(), [&](const KdFlatNode* leaf, int) {
        const LeafPackets run = packetsOf(*this, *leaf);
        for (const TrianglePacket* packet = run.begin; packet != run.end; ++packet) {
            if (filter.skips(*packet)) {
                continue;
            }
            TrianglePacket::Hits hits;
            scratch.intersections += static_cast<std::uint32_t>(packet->count);
            for (unsigned mask = packet->test(query, distance, hits); mask != 0; mask &= mask - 1) {
                const Primitive* p = run.lanesOf(packet).triangle[std::countr_zero(mask)];
                if (p->type != Primitive::proxy) {
                    result = 1;
                    return true;
                }
                const SceneGeometry& instance = *p->owner->instance;
                if (occludedInInstance(localRay(ray, instance), distance, instance, scratch) != 0) {
                    result = 1;
                    return true;
                }
                // The limit is the same for every search of this query, so a box found clear stays
                // clear: none of its packets, this one included, is tested again. (Proxies past the
                // last group, which the loaders never make, are searched again on each hit.)
                if (packet->group != TrianglePacket::everywhere) {
                    filter.skip(packet->group);
                    break;
                }
            }
        }
        return false;
    });
    return result;
}

} // namespace Raytracer
