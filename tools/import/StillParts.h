#pragma once

#include "tools/import/ImportedMaterials.h"
#include "tools/scenegen/Mesh.h"

#include <assimp/scene.h>

#include <vector>

namespace Raytracer::Import {

// The triangles of one material, in the viewer's space and the file's units.
struct StillPart {
    Scenegen::Mesh mesh;
    std::size_t material = 0; // index into the imported materials
};

struct StillParts {
    std::vector<StillPart> parts;  // one per material that has triangles, in material order
    std::size_t flatTriangles = 0; // triangles without area, left out
};

// Gathers the triangles of a scene read for still objects (its nodes' transforms applied) by
// material: mirrored in x, as the file's space is right-handed and the viewer's left-handed, with each
// triangle's corners reversed so that it keeps its front; normals as the file or Assimp gives them,
// texture coordinates where the material keeps a texture.
StillParts gatherStillParts(const aiScene& scene, const std::vector<ImportedMaterial>& materials);

} // namespace Raytracer::Import
