// The form of a tree the queries walk: nodes in one array, each leaf's triangles copied into packets
// grouped by the box they lie in, remade after every build.
#include "geometry/KdPool.h"
#include "geometry/KdTree.h"
#include "geometry/SceneGeometry.h"
#include "geometry/Triangle.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <exception>
#include <limits>
#include <thread>
#include <utility>
#include <vector>

namespace Raytracer {

namespace {

const Triangle& asTriangle(const Primitive* primitive) {
    return *static_cast<const Triangle*>(primitive);
}

} // namespace

void KdTree::flatten() {
    flatNodes.assign(1, KdFlatNode{});
    packets.clear();
    packetLanes.clear();
    collectProxyBoxes();
    FlatPart whole{flatNodes, packets, packetLanes, m_leafLanes, m_leafGroups};
    // A large tree is flattened on two threads: the root's right subtree into arrays of its own,
    // appended to the left one's after. The arrays are those one walk gives, where a right subtree's
    // nodes and packets follow all of the left one's. Every proxy has its group by now, so looking
    // groups up changes nothing while both run.
    if (root->isLeaf() || m_scene->primitiveCount() < parallelPrimitives) {
        flattenNode(*root, 0, whole);
        return;
    }
    flatNodes.resize(3);
    flatNodes[0].link = (1u << KdNode::referenceShift) | static_cast<std::uint32_t>(root->axis());
    flatNodes[0].split = root->split;
    const KdNode* const children = m_nodes->node(root->reference());
    std::vector<KdFlatNode> nodes(1);
    std::vector<TrianglePacket> rightPackets;
    std::vector<PacketLanes> rightLanes;
    std::vector<LeafLane> leafLanes;
    std::vector<std::int32_t> leafGroups;
    FlatPart right{nodes, rightPackets, rightLanes, leafLanes, leafGroups};
    std::exception_ptr failure;
    {
        const std::jthread helper([&] {
            try {
                flattenNode(children[1], 0, right);
            } catch (...) {
                failure = std::current_exception();
            }
        });
        flattenNode(children[0], 1, whole);
    }
    if (failure)
        std::rethrow_exception(failure);
    // The right part's node k > 0 lands at nodeBase + k, its node 0 in the root's right slot.
    const std::uint32_t nodeBase = static_cast<std::uint32_t>(flatNodes.size()) - 1;
    const auto packetBase = static_cast<std::uint32_t>(packets.size());
    const auto moved = [&](KdFlatNode node) {
        node.link += (node.isLeaf() ? packetBase : nodeBase) << KdNode::referenceShift;
        return node;
    };
    flatNodes[2] = moved(nodes[0]);
    flatNodes.reserve(flatNodes.size() + nodes.size() - 1);
    for (std::size_t k = 1; k < nodes.size(); ++k)
        flatNodes.push_back(moved(nodes[k]));
    // Grown once to the exact size, and each right array freed as soon as it is copied: a doubling
    // here would hold three copies of a large model's packets at once.
    packets.reserve(packets.size() + rightPackets.size());
    packets.insert(packets.end(), rightPackets.begin(), rightPackets.end());
    std::vector<TrianglePacket>().swap(rightPackets);
    packetLanes.reserve(packetLanes.size() + rightLanes.size());
    packetLanes.insert(packetLanes.end(), rightLanes.begin(), rightLanes.end());
}

// A proxy's triangles all share its owner; each owner gets a group and the box of its corners. In the
// top-level tree the other triangles are then cut into clusters of neighbours, each a group with its
// box, so that a ray also skips the packets of static geometry it passes wide of (a floor under a ray
// that never comes down to it). Object-level trees are walked without boxes and keep one group.
void KdTree::collectProxyBoxes() {
    constexpr float infinity = std::numeric_limits<float>::infinity();
    const auto addBox = [&](float low, float high) {
        for (int axis = 0; axis < 3; ++axis) {
            proxyBoxes.low[axis].push_back(low);
            proxyBoxes.high[axis].push_back(high);
        }
    };
    const auto extend = [&](std::size_t group, const Primitive* p) {
        for (int axis = 0; axis < 3; ++axis) {
            float lo = 0.0f;
            float hi = 0.0f;
            p->extent(lo, hi, axis);
            proxyBoxes.low[axis][group] = std::min(proxyBoxes.low[axis][group], lo);
            proxyBoxes.high[axis][group] = std::max(proxyBoxes.high[axis][group], hi);
            proxyBoxes.magnitude = std::max({proxyBoxes.magnitude, std::fabs(lo), std::fabs(hi)});
        }
    };
    for (int axis = 0; axis < 3; ++axis) {
        proxyBoxes.low[axis].clear();
        proxyBoxes.high[axis].clear();
    }
    m_groupOwners.assign(1, nullptr);
    m_clusters.clear();
    addBox(-infinity, infinity);
    proxyBoxes.magnitude = 0.0f;
    for (const Primitive* p : m_scene->primitives) {
        if (p->type != Primitive::proxy) {
            continue;
        }
        const auto group = static_cast<std::size_t>(groupOf(p));
        if (group == TrianglePacket::everywhere) {
            continue;
        }
        if (group == proxyBoxes.low[0].size()) {
            addBox(infinity, -infinity);
        }
        extend(group, p);
    }
    if (m_scene->proxy == nullptr) {
        clusterOthers();
        for (const auto& [p, group] : m_clusters) {
            if (static_cast<std::size_t>(group) == proxyBoxes.low[0].size()) {
                addBox(infinity, -infinity);
            }
            extend(static_cast<std::size_t>(group), p);
        }
        // Looked up by primitive while the leaves are flattened.
        std::sort(m_clusters.begin(), m_clusters.end());
    }
    proxyBoxes.count = static_cast<int>(proxyBoxes.low[0].size());
    // Empty boxes fill the last packet of lanes.
    while (proxyBoxes.low[0].size() % TrianglePacket::lanes != 0) {
        addBox(infinity, -infinity);
    }
}

// The triangles that are not proxies, in order along a Morton curve through their centres, cut into
// runs of equal length, no more than the groups the proxies leave; each run's group follows the last.
void KdTree::clusterOthers() {
    const std::size_t firstGroup = m_groupOwners.size();
    const auto& primitives = m_scene->primitives;
    for (const Primitive* p : primitives) {
        if (p->type == Primitive::proxy) {
            continue;
        }
        // Ten bits a coordinate of the centre's place in the scene's box, interleaved.
        std::uint32_t code = 0;
        for (int axis = 0; axis < 3; ++axis) {
            float lo = 0.0f;
            float hi = 0.0f;
            p->extent(lo, hi, axis);
            const float size = m_scene->boundsSize[axis];
            const float place = size > 0.0f ? ((lo + hi) * 0.5f - m_scene->boundsMin[axis]) / size : 0.0f;
            const auto cell = static_cast<std::uint32_t>(std::clamp(place, 0.0f, 1.0f) * 1023.0f);
            for (int bit = 0; bit < 10; ++bit) {
                code |= ((cell >> bit) & 1u) << (3 * bit + axis);
            }
        }
        m_clusters.push_back({p, static_cast<std::int32_t>(code)});
    }
    const std::size_t free = static_cast<std::size_t>(maxGroups) - firstGroup;
    if (m_clusters.empty() || free == 0) {
        m_clusters.clear();
        return;
    }
    std::stable_sort(m_clusters.begin(), m_clusters.end(),
                     [](const auto& a, const auto& b) { return a.second < b.second; });
    // At least a packet's worth each: smaller clusters leave lanes empty and boxes to test, and skip no
    // more, since neighbours' boxes overlap anyway.
    const std::size_t run = std::max<std::size_t>(TrianglePacket::lanes, (m_clusters.size() + free - 1) / free);
    for (std::size_t i = 0; i < m_clusters.size(); ++i) {
        m_clusters[i].second = static_cast<std::int32_t>(firstGroup + i / run);
    }
}

// The group of a triangle: a proxy's, created on first sight, or its cluster's. A triangle in no
// cluster, and a proxy past the last group, belongs to the box that spans everything.
std::int32_t KdTree::groupOf(const Primitive* p) {
    if (p->type != Primitive::proxy) {
        const auto found = std::lower_bound(m_clusters.begin(), m_clusters.end(), std::pair{p, std::int32_t{0}},
                                            [](const auto& a, const auto& b) { return a.first < b.first; });
        return found != m_clusters.end() && found->first == p ? found->second : TrianglePacket::everywhere;
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
void KdTree::flattenNode(const KdNode& node, std::size_t slot, FlatPart& part) {
    if (node.isLeaf()) {
        part.leafLanes.clear();
        part.leafGroups.assign(1, TrianglePacket::everywhere);
        std::int32_t place = 0;
        for (const KdListElement* e = m_nodes->element(node.reference()); e != nullptr; e = e->next, ++place) {
            const std::int32_t group = groupOf(e->primitive);
            if (std::find(part.leafGroups.begin(), part.leafGroups.end(), group) == part.leafGroups.end()) {
                part.leafGroups.push_back(group);
            }
            part.leafLanes.push_back({&asTriangle(e->primitive), place, group});
        }
        const auto first = static_cast<std::uint32_t>(part.packets.size());
        for (const std::int32_t group : part.leafGroups) {
            for (std::int32_t axis = 0; axis < 3; ++axis) {
                int lane = TrianglePacket::lanes;
                for (const LeafLane& entry : part.leafLanes) {
                    if (entry.group != group || entry.triangle->projAxis != axis) {
                        continue;
                    }
                    if (lane == TrianglePacket::lanes) {
                        part.packets.emplace_back(axis, group);
                        part.lanes.emplace_back();
                        lane = 0;
                    }
                    TrianglePacket& packet = part.packets.back();
                    setLane(packet, part.lanes.back(), lane, *entry.triangle, entry.place);
                    ++packet.count;
                    ++lane;
                }
            }
        }
        KdFlatNode& leaf = part.nodes[slot];
        leaf.link = (first << KdNode::referenceShift) | KdNode::leafFlag;
        leaf.packetCount = static_cast<std::uint32_t>(part.packets.size()) - first;
        return;
    }
    const std::size_t children = part.nodes.size();
    part.nodes.resize(children + 2);
    part.nodes[slot].link = (static_cast<std::uint32_t>(children) << KdNode::referenceShift) |
                            static_cast<std::uint32_t>(node.axis());
    part.nodes[slot].split = node.split;
    const KdNode* left = m_nodes->node(node.reference());
    flattenNode(left[0], children, part);
    flattenNode(left[1], children + 1, part);
}

} // namespace Raytracer
