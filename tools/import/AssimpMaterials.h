#pragma once

#include "tools/import/ImportedMaterials.h"

#include <assimp/scene.h>

#include <string>
#include <vector>

namespace Raytracer::Import {

// One material per material of the scene, in its order, in the viewer's meaning (README, "Bring your
// own model"): base or diffuse colour to Kd; metallic and roughness, or specular and shininess, to
// the reflectivity Ns, the specular weight Ks and the blur Ka; opacity to d, the refractive index to
// Ni. The base or diffuse texture is decoded and kept; one that cannot be is left out with one line
// on notes. Names are m<N>_<letters and digits of the file's name>; texture files are not yet named.
std::vector<ImportedMaterial> importAssimpMaterials(const aiScene& scene, const std::string& path,
                                                    std::vector<std::string>& notes);

} // namespace Raytracer::Import
