#pragma once

#include <cstdint>

namespace Raytracer {

class Primitive;

// A kd-tree node in one 32-bit word plus the split: bits 0-1 the split axis, bit 2 the leaf flag,
// bits 3-31 a pool reference. A leaf refers to the first element of its primitive list (0: empty);
// an inner node to the left node of its child pair, the right child being the next node.
struct KdNode {
    static constexpr std::uint32_t axisMask = 3;
    static constexpr std::uint32_t leafFlag = 4;
    static constexpr int referenceShift = 3;
    // Every fresh node: an empty leaf with axis z.
    static constexpr std::uint32_t freshLeaf = 6;

    std::uint32_t link = freshLeaf;
    float split = 0.0f; // split position on the axis (inner nodes)

    int axis() const { return static_cast<int>(link & axisMask); }
    bool isLeaf() const { return (link & leafFlag) != 0; }
    std::uint32_t reference() const { return link >> referenceShift; }
};
static_assert(sizeof(KdNode) == 8, "two nodes share a 16-byte pair; traversal relies on the size");

// A node of the form the walks read, built from the linked tree after every build: inner nodes with
// their children side by side in one array, leaves as runs of triangle packets. The link has KdNode's
// layout; its reference is the index of the left child or of the leaf's first packet.
struct KdFlatNode {
    std::uint32_t link = KdNode::freshLeaf;
    union {
        float split = 0.0f;        // inner nodes
        std::uint32_t packetCount; // leaves
    };

    int axis() const { return static_cast<int>(link & KdNode::axisMask); }
    bool isLeaf() const { return (link & KdNode::leafFlag) != 0; }
    std::uint32_t reference() const { return link >> KdNode::referenceShift; }
};
static_assert(sizeof(KdFlatNode) == 8, "a child pair fills 16 bytes");

// One entry of a leaf's primitive list.
struct KdListElement {
    const Primitive* primitive = nullptr;
    KdListElement* next = nullptr;
};

} // namespace Raytracer
