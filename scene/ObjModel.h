#pragma once

#include "scene/MtlMaterial.h"
#include "scene/ObjRecords.h"

#include <optional>
#include <string>
#include <vector>

namespace Raytracer {

// What one section of an OBJ file yields, records in file order. The caller owns it.
struct ObjModel {
    std::vector<ObjVector> vertices;            // "v"
    std::vector<ObjVector> normals;             // "vn"
    std::vector<ObjVector> texCoords;           // "vt"
    std::vector<ObjFace> faces;                 // "f"
    std::vector<ObjSpherePlane> spheres;        // "sp"
    std::vector<ObjSpherePlane> planes;         // "pl"
    std::vector<ObjPointLight> pointLights;     // "lp"
    std::vector<ObjQuadLight> quadLights;       // "lq"
    std::vector<ObjDirLight> directionalLights; // "ld"
    std::vector<MtlMaterial> materials;         // from the library of the last "mtllib"
    std::optional<ObjCamera> camera;            // the last "c"
    // The last "g" line from its third character on, line end included: the loaders only test it
    // for contained texts.
    std::optional<std::string> groupName;
    // The last "usemtl" line from its eighth character on, without its line end (see
    // findMaterialByEnding).
    std::optional<std::string> materialText;
};

} // namespace Raytracer
