#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

namespace Raytracer {

// What one mesh vertex takes from its object's lists: object-local indices, -1 for an absent normal or
// texture coordinate.
struct CornerKey {
    std::int32_t position = -1;
    std::int32_t normal = -1;
    std::int32_t texCoord = -1;

    auto operator<=>(const CornerKey&) const = default;
};

// Gives each distinct (position, normal, texture coordinate) combination of an object's face corners a
// vertex of its own, as OBJ means it: faces that share a position but not its normal or texture
// coordinates (a box's edges, a texture seam) must not overwrite each other's. A position's first
// combination takes the position's own slot, so a mesh whose positions have one combination each keeps
// vertex i = position i, and with it its kd-trees and pictures; further combinations follow in the
// order of first use. Slots of positions no face uses stay, as they count in the object's bounds.
class CornerVertices {
  public:
    explicit CornerVertices(std::size_t positionCount);

    // The vertex of the combination; corner.position must lie within the positions.
    std::int32_t vertexOf(const CornerKey& corner);

    // Each vertex's combination; an unused position's slot holds the position alone.
    const std::vector<CornerKey>& vertices() const { return m_vertices; }

  private:
    std::vector<CornerKey> m_vertices;
    std::vector<bool> m_claimed; // per position: its slot has its combination
    std::map<CornerKey, std::int32_t> m_further;
};

} // namespace Raytracer
