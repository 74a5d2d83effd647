#include "geometry/KdPool.h"

#include "math/FatalError.h"

#include <algorithm>

#include <string>

namespace Raytracer {

KdPool::KdPool(int capacity) : m_capacity(capacity > 0 ? capacity : 0) {
    m_nodes.reserve(static_cast<std::size_t>(m_capacity));
    m_elements.reserve(static_cast<std::size_t>(m_capacity));
    // The unused heads keep references 0 meaning "none".
    m_nodes.resize(static_cast<std::size_t>(std::min(firstNode, m_capacity)));
    m_elements.resize(static_cast<std::size_t>(std::min(firstElement, m_capacity)));
}

KdListElement* KdPool::takeElement() {
    KdListElement* element = m_freeElements;
    if (element != nullptr) {
        m_freeElements = element->next;
    } else {
        if (m_nextElement >= m_capacity)
            throw FatalError("The kd-tree pool has run out of list elements (" + std::to_string(m_capacity) +
                             "): the scene is too large");
        // Within the reserved capacity: growing never moves the storage.
        if (m_nextElement >= static_cast<int>(m_elements.size()))
            m_elements.emplace_back();
        element = &m_elements[m_nextElement];
        ++m_nextElement;
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
    if (m_nextPair + 2 > m_capacity)
        throw FatalError("The kd-tree pool has run out of nodes (" + std::to_string(m_capacity) +
                         "): the scene is too large");
    if (m_nextPair + 2 > static_cast<int>(m_nodes.size()))
        m_nodes.resize(static_cast<std::size_t>(m_nextPair + 2));
    KdNode* pair = &m_nodes[m_nextPair];
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
