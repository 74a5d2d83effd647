#pragma once

#include "tools/import/ImportedMaterials.h"

#include <assimp/scene.h>

#include <string>

namespace Raytracer::Import {

// Decodes the image a material names (a file beside the model, or one embedded in it) with stb_image
// and keeps it in material as the uncompressed 24-bit TGA file the viewer reads, stored top row
// first. Returns why not when it cannot, leaving material as it was.
std::string keepDecodedTexture(ImportedMaterial& material, const aiScene& scene, const std::string& reference,
                               const std::string& modelPath);

} // namespace Raytracer::Import
