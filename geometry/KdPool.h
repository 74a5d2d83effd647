#pragma once

#include "geometry/KdNode.h"

#include <cstdint>
#include <vector>

namespace Raytracer {

// The nodes and leaf-list elements of every kd-tree of a renderer. Nodes are handed out in pairs,
// list elements from a free list and then from the never-used rest of the storage; nothing is
// allocated while a tree is built. The storage is reserved whole at construction, so pointers into it
// stay valid, but only what has been handed out is ever written and so made resident. References
// stored in a node's 29-bit field are indices into the pool's storage, so index 0 is never handed out
// and keeps meaning "empty list".
class KdPool {
  public:
    static constexpr int defaultCapacity = 4000000;

    // capacity: nodes, and list elements, the pool holds.
    explicit KdPool(int capacity = defaultCapacity);
    KdPool(const KdPool&) = delete;
    KdPool& operator=(const KdPool&) = delete;

    // Pops a list element; throws FatalError when none is left.
    KdListElement* takeElement();
    // Puts a whole list back at the front of the free list.
    void giveBack(KdListElement* first);
    // Two adjacent fresh leaves; throws FatalError when the storage is used up.
    KdNode* takePair();

    // Called just before the top-level tree is first built: records how many elements the
    // object-level trees took.
    void setMark() { mark = taken; }
    // Called on the first frame: everything taken from now on belongs to the per-frame top-level tree
    // and is given back by reset().
    void setBase();
    // Frees every element and node pair taken since setBase(), before the top-level tree is rebuilt,
    // so that an animation runs in constant memory.
    void reset();

    KdNode* node(std::uint32_t reference) { return &m_nodes[reference]; }
    const KdNode* node(std::uint32_t reference) const { return &m_nodes[reference]; }
    std::uint32_t reference(const KdNode* node) const {
        return static_cast<std::uint32_t>(node - m_nodes.data());
    }
    const KdListElement* element(std::uint32_t reference) const {
        return reference == 0 ? nullptr : &m_elements[reference];
    }
    KdListElement* element(std::uint32_t reference) {
        return reference == 0 ? nullptr : &m_elements[reference];
    }
    std::uint32_t reference(const KdListElement* element) const {
        return element == nullptr ? 0u : static_cast<std::uint32_t>(element - m_elements.data());
    }

    std::int32_t taken = 0; // elements taken since the last reset
    std::int32_t mark = 0;  // elements the object-level trees took

    int nodesInUse() const { return m_nextPair; }
    int elementHighWater() const { return static_cast<int>(m_elements.size()); }

  private:
    // Storage index of the first pair and the first element: 32 bytes in, and never 0.
    static constexpr int firstNode = 4;
    static constexpr int firstElement = 2;

    // size() is how far each has ever been handed out; capacity() is the pool's capacity, never
    // exceeded, so the storage never moves.
    std::vector<KdNode> m_nodes;
    std::vector<KdListElement> m_elements;
    int m_capacity;
    KdListElement* m_freeElements = nullptr; // given back, taken before the never-used rest
    int m_nextElement = firstElement;        // next never-used element, or since setBase() the next of the run
    int m_baseElement = firstElement;        // where reset() rewinds m_nextElement
    int m_nextPair = firstNode;              // next pair to hand out
    int m_basePair = firstNode;              // where reset() rewinds m_nextPair
};

} // namespace Raytracer
