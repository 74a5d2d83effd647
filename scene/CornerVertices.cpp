#include "scene/CornerVertices.h"

namespace Raytracer {

CornerVertices::CornerVertices(std::size_t positionCount) : m_claimed(positionCount, false) {
    m_vertices.reserve(positionCount);
    for (std::size_t i = 0; i < positionCount; ++i) {
        m_vertices.push_back(CornerKey{static_cast<std::int32_t>(i), -1, -1});
    }
}

std::int32_t CornerVertices::vertexOf(const CornerKey& corner) {
    const auto slot = static_cast<std::size_t>(corner.position);
    if (!m_claimed[slot]) {
        m_claimed[slot] = true;
        m_vertices[slot] = corner;
    }
    if (m_vertices[slot] == corner) {
        return corner.position;
    }
    const auto [found, added] = m_further.try_emplace(corner, static_cast<std::int32_t>(m_vertices.size()));
    if (added) {
        m_vertices.push_back(corner);
    }
    return found->second;
}

} // namespace Raytracer
