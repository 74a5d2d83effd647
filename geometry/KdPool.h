#pragma once

#include "geometry/KdNode.h"
#include "math/FatalError.h"

#include <cstdint>
#include <mutex>
#include <vector>

namespace Raytracer {

// Thrown when a tree would take more nodes or list elements than the pool's references reach; the
// loaders name the file whose tree it was.
class KdPoolExhausted : public FatalError {
  public:
    using FatalError::FatalError;
};

// The nodes and leaf-list elements of every kd-tree of a renderer. Nodes are handed out in pairs,
// list elements from a free list and then from the never-used rest of the storage. The storage is
// blocks of chunkSize entries, each reserved whole when first needed, so pointers into it stay valid as
// it grows, and only what has been handed out is ever written and so made resident. References stored
// in a node's 29-bit field are indices into the pool's storage, so index 0 is never handed out and keeps
// meaning "empty list".
class KdPool {
  public:
    static constexpr int defaultCapacity = 1 << 20;
    static constexpr std::int64_t referenceLimit = std::int64_t{1} << 29;

    // capacity: nodes, and list elements, a block holds, rounded up to a power of two; limit: the
    // references it may hand out, below referenceLimit only to test running out.
    explicit KdPool(int capacity = defaultCapacity, std::int64_t limit = referenceLimit);
    KdPool(const KdPool&) = delete;
    KdPool& operator=(const KdPool&) = delete;

    // Pops a list element; throws KdPoolExhausted when the references would run out.
    KdListElement* takeElement();
    // Puts a whole list back at the front of the free list.
    void giveBack(KdListElement* first);
    // Two adjacent fresh leaves; throws KdPoolExhausted when the references would run out.
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

    KdNode* node(std::uint32_t reference) { return &m_nodes[reference >> m_shift][reference & m_mask]; }
    const KdNode* node(std::uint32_t reference) const {
        return &m_nodes[reference >> m_shift][reference & m_mask];
    }
    std::uint32_t reference(const KdNode* node) const { return find(m_nodes, node); }
    const KdListElement* element(std::uint32_t reference) const {
        return reference == 0 ? nullptr : &m_elements[reference >> m_shift][reference & m_mask];
    }
    KdListElement* element(std::uint32_t reference) {
        return reference == 0 ? nullptr : &m_elements[reference >> m_shift][reference & m_mask];
    }
    std::uint32_t reference(const KdListElement* element) const {
        return element == nullptr ? 0u : find(m_elements, element);
    }

    std::int32_t taken = 0; // elements taken since the last reset
    std::int32_t mark = 0;  // elements the object-level trees took

    // Held by a build around every use it makes of the pool, so that its subtrees can be built on
    // several threads at once; the queries never touch the pool.
    std::mutex& buildLock() { return m_buildLock; }

    int nodesInUse() const { return m_nextPair; }
    int elementHighWater() const { return m_elementsUsed; }

  private:
    // Storage index of the first pair and the first element: 32 bytes in, and never 0.
    static constexpr int firstNode = 4;
    static constexpr int firstElement = 2;

    // The entry of storage index i, its block made and grown to reach it.
    template <class T> T* reach(std::vector<std::vector<T>>& blocks, std::int64_t i);
    // The storage index of an entry; the block it lies in is searched from the newest.
    template <class T> std::uint32_t find(const std::vector<std::vector<T>>& blocks, const T* entry) const {
        for (std::size_t b = blocks.size(); b-- > 0;) {
            const T* first = blocks[b].data();
            if (entry >= first && entry < first + blocks[b].size())
                return static_cast<std::uint32_t>((b << m_shift) + static_cast<std::size_t>(entry - first));
        }
        return 0;
    }

    // Each block's size() is how far it has been handed out; its capacity() is the block size, never
    // exceeded, so the storage never moves.
    std::vector<std::vector<KdNode>> m_nodes;
    std::vector<std::vector<KdListElement>> m_elements;
    int m_shift;
    std::uint32_t m_mask;
    std::int64_t m_limit;
    int m_elementsUsed = firstElement;       // how far elements have ever been handed out
    KdListElement* m_freeElements = nullptr; // given back, taken before the never-used rest
    int m_nextElement = firstElement;        // next never-used element, or since setBase() the next of the run
    int m_baseElement = firstElement;        // where reset() rewinds m_nextElement
    int m_nextPair = firstNode;              // next pair to hand out
    int m_basePair = firstNode;              // where reset() rewinds m_nextPair
    std::mutex m_buildLock;
};

} // namespace Raytracer
