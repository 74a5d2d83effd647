#pragma once

#include <assimp/Importer.hpp>
#include <assimp/scene.h>

#include <string>

namespace Raytracer::Import {

// A model file of any format Assimp reads, its polygons cut into triangles, points and lines dropped,
// and smooth normals made by angle where the file has none. Still objects have every node's transform
// applied to their vertices; skinned models keep their node tree, bones and animations.
class AssimpFile {
  public:
    enum class Use { stillObjects, skinnedModel };

    // The crease angle of made normals: faces meeting at a sharper angle keep a hard edge.
    static constexpr float creaseDegrees = 60.0f;

    // Throws FatalError with one line naming path when the file cannot be read or holds no triangles.
    AssimpFile(const std::string& path, Use use);

    const aiScene& scene() const { return *m_scene; }

  private:
    Assimp::Importer m_importer;
    const aiScene* m_scene = nullptr;
};

// The triangles of the scene's meshes.
std::size_t triangleCount(const aiScene& scene);

} // namespace Raytracer::Import
