#pragma once

#include "tools/scenegen/Mesh.h"

#include <array>
#include <cstdint>
#include <map>

namespace Raytracer::Import {

// The vertices of one mesh being built: one per distinct position, normal and texture coordinate, as
// the viewer keeps one normal and texture coordinate per position.
class MeshVertices {
  public:
    explicit MeshVertices(Scenegen::Mesh& mesh) : m_mesh(mesh) {}

    // The index of the vertex, added to the mesh when it is new.
    int index(const Scenegen::Mesh::Point& position, const Scenegen::Mesh::Point& normal,
              const Scenegen::Mesh::TexCoord& texCoord);

  private:
    using Key = std::array<std::uint32_t, 8>;
    Scenegen::Mesh& m_mesh;
    std::map<Key, int> m_seen;
};

} // namespace Raytracer::Import
