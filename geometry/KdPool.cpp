#include "geometry/KdPool.h"

#include "math/FatalError.h"

#include <string>

namespace Raytracer {

namespace {

// Links elements [first, end) in address order; the last one continues with the element at end, which
// is the untouched tail of the storage (null past the end).
void linkInOrder(std::vector<KdListElement>& elements, int first, int end) {
    const int size = static_cast<int>(elements.size());
    for (int i = first; i < end; ++i)
        elements[i].next = i + 1 < size ? &elements[i + 1] : nullptr;
}

} // namespace

KdPool::KdPool(int capacity) : m_nodes(capacity > 0 ? capacity : 0), m_elements(capacity > 0 ? capacity : 0) {
    const int size = static_cast<int>(m_elements.size());
    if (size > firstElement) {
        linkInOrder(m_elements, firstElement, size);
        freeElements = &m_elements[firstElement];
    }
    base = freeElements;
}

KdListElement* KdPool::takeElement() {
    KdListElement* element = freeElements;
    if (element == nullptr)
        throw FatalError("The kd-tree pool has run out of list elements (" +
                         std::to_string(m_elements.size()) + "): the scene is too large");
    freeElements = element->next;
    ++taken;
    const int index = static_cast<int>(element - m_elements.data());
    if (index >= m_highWater)
        m_highWater = index + 1;
    return element;
}

void KdPool::giveBack(KdListElement* first) {
    if (first == nullptr)
        return;
    KdListElement* last = first;
    while (last->next != nullptr)
        last = last->next;
    last->next = freeElements;
    freeElements = first;
}

KdNode* KdPool::takePair() {
    if (m_nextPair + 2 > static_cast<int>(m_nodes.size()))
        throw FatalError("The kd-tree pool has run out of nodes (" + std::to_string(m_nodes.size()) +
                         "): the scene is too large");
    KdNode* pair = &m_nodes[m_nextPair];
    m_nextPair += 2;
    // A rewound pair still holds the previous tree's links.
    pair[0] = KdNode{};
    pair[1] = KdNode{};
    return pair;
}

void KdPool::setBase() {
    // Elements given back below the high-water mark are scattered over the free list; they are left
    // out, so that everything the top-level tree takes from now on is one run starting at base.
    base = m_highWater < static_cast<int>(m_elements.size()) ? &m_elements[m_highWater] : nullptr;
    freeElements = base;
    m_basePair = m_nextPair;
}

void KdPool::reset() {
    if (base != nullptr) {
        const int first = static_cast<int>(base - m_elements.data());
        linkInOrder(m_elements, first, m_highWater);
    }
    freeElements = base;
    taken = 0;
    m_nextPair = m_basePair;
}

} // namespace Raytracer
