#include "geometry/KdPool.h"

#include <algorithm>
#include <bit>
#include <string>

namespace Raytracer {

KdPool::KdPool(int capacity, std::int64_t limit)
    : m_shift(std::countr_zero(std::bit_ceil(static_cast<unsigned>(capacity > firstNode + 2 ? capacity : firstNode + 2)))),
      m_mask((1u << m_shift) - 1u), m_limit(std::min(limit, referenceLimit)) {
    // The unused heads keep references 0 meaning "none".
    reach(m_nodes, firstNode - 1);
    reach(m_elements, firstElement - 1);
}

template <class T> T* KdPool::reach(std::vector<std::vector<T>>& blocks, std::int64_t i) {
    if (i >= m_limit)
        throw KdPoolExhausted("the kd-trees need more than the pool's " + std::to_string(m_limit) +
                              " references: the scene is too large");
    const auto b = static_cast<std::size_t>(i >> m_shift);
    const auto at = static_cast<std::size_t>(i & m_mask);
    while (blocks.size() <= b) {
        blocks.emplace_back();
        blocks.back().reserve(std::size_t{1} << m_shift);
    }
    // Within the block's reserved capacity: growing never moves it.
    if (blocks[b].size() <= at)
        blocks[b].resize(at + 1);
    return &blocks[b][at];
}

KdListElement* KdPool::takeElement() {
    KdListElement* element = m_freeElements;
    if (element != nullptr) {
        m_freeElements = element->next;
    } else {
        element = reach(m_elements, m_nextElement);
        ++m_nextElement;
        m_elementsUsed = std::max(m_elementsUsed, m_nextElement);
    }
    ++taken;
    return element;
}

void KdPool::giveBack(KdListElement* first) {
    if (first == nullptr)
        return;
    KdListElement* last = first;
    while (last->next != nullptr)
        last = last->next;
    last->next = m_freeElements;
    m_freeElements = first;
}

KdNode* KdPool::takePair() {
    // Block sizes are even, so a pair never straddles two blocks.
    reach(m_nodes, m_nextPair + 1);
    KdNode* pair = node(static_cast<std::uint32_t>(m_nextPair));
    m_nextPair += 2;
    // A rewound pair still holds the previous tree's links.
    pair[0] = KdNode{};
    pair[1] = KdNode{};
    return pair;
}

void KdPool::setBase() {
    // Elements given back so far stay out of use, so that everything the top-level tree takes from
    // now on is one run of fresh elements starting at the base.
    m_freeElements = nullptr;
    m_baseElement = m_nextElement;
    m_basePair = m_nextPair;
}

void KdPool::reset() {
    m_freeElements = nullptr;
    m_nextElement = m_baseElement;
    taken = 0;
    m_nextPair = m_basePair;
}

} // namespace Raytracer
