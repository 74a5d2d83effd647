#include "tools/import/MeshVertices.h"

#include <bit>

namespace Raytracer::Import {

namespace {

// Bits of the value as the file will hold it, with -0 taken as 0, so that the two compare alike.
std::uint32_t keyBits(double value) {
    return std::bit_cast<std::uint32_t>(static_cast<float>(value) + 0.0f);
}

} // namespace

int MeshVertices::index(const Scenegen::Mesh::Point& p, const Scenegen::Mesh::Point& n,
                        const Scenegen::Mesh::TexCoord& uv) {
    const Key key = {keyBits(p.x), keyBits(p.y), keyBits(p.z),  keyBits(n.x),
                     keyBits(n.y), keyBits(n.z), keyBits(uv.s), keyBits(uv.t)};
    const auto [found, added] = m_seen.try_emplace(key, static_cast<int>(m_mesh.positions.size()));
    if (added) {
        m_mesh.addVertex(p, n, uv);
    }
    return found->second;
}

} // namespace Raytracer::Import
